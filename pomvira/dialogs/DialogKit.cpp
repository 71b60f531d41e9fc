// SPDX-License-Identifier: GPL-3.0-or-later
#include "DialogKit.h"

#include <QApplication>
#include <QDialog>
#include <QIcon>
#include <QItemSelectionModel>
#include <QLabel>
#include <QListWidget>
#include <QPainter>
#include <QPainterPath>
#include <QPixmap>
#include <QPushButton>
#include <QScrollArea>
#include <QVBoxLayout>

#include "files/TextConv.h"

namespace {

constexpr int kGlyphSize = 16;
const char* const kClientName = "DialogClient";

// The buttons' glyphs, drawn once: a green check mark and a red cross. The
// disabled state is derived from them by the style.
QIcon Glyph(bool check) {
    QPixmap pixmap(kGlyphSize, kGlyphSize);
    pixmap.fill(Qt::transparent);
    QPainter p(&pixmap);
    p.setRenderHint(QPainter::Antialiasing);
    QPainterPath path;
    if (check) {
        p.setPen(QPen(QColor(0, 128, 0), 2.5, Qt::SolidLine, Qt::RoundCap, Qt::RoundJoin));
        path.moveTo(3, 8.5);
        path.lineTo(6.5, 12);
        path.lineTo(13, 4);
    } else {
        p.setPen(QPen(QColor(192, 0, 0), 2.5, Qt::SolidLine, Qt::RoundCap));
        path.moveTo(4, 4);
        path.lineTo(12, 12);
        path.moveTo(12, 4);
        path.lineTo(4, 12);
    }
    p.drawPath(path);
    return QIcon(pixmap);
}

QPushButton* CreateGlyphButton(QDialog* dialog, const char* name, const QPoint& pos, bool check) {
    auto* button =
        new QPushButton(check ? UiText("Dialogs", "Confirmation") : UiText("Dialogs", "Annulation"),
                        DialogClient(dialog));
    button->setObjectName(QString::fromLatin1(name));
    button->setGeometry(QRect(pos, QSize(105, 25)));
    button->setIcon(Glyph(check));
    button->setIconSize(QSize(kGlyphSize, kGlyphSize));
    return button;
}

}  // namespace

QWidget* SetupDialogForm(QDialog* dialog, const QString& name, const QSize& clientSize) {
    dialog->setObjectName(name);
    // Only the close icon; the owner's always-on-top panel must not cover it.
    dialog->setWindowFlags(Qt::Dialog | Qt::CustomizeWindowHint | Qt::WindowTitleHint |
                           Qt::WindowSystemMenuHint | Qt::WindowCloseButtonHint |
                           Qt::WindowStaysOnTopHint);
    QFont font(QStringLiteral("Tahoma"));
    font.setPixelSize(11);
    dialog->setFont(font);
    dialog->setFixedSize(clientSize);
    dialog->setModal(true);
    // The client area fills the dialog; it scrolls only where the dialog is
    // made smaller than its client size (TDialogFit, on a small screen).
    auto* scroll = new QScrollArea(dialog);
    scroll->setObjectName(QString::fromLatin1(kClientName));
    scroll->setFrameShape(QFrame::NoFrame);
    scroll->setFocusPolicy(Qt::NoFocus);
    auto* client = new QWidget;
    client->setObjectName(QStringLiteral("ClientArea"));
    client->setFixedSize(clientSize);
    scroll->setWidget(client);
    // The control that takes the focus comes into sight.
    QObject::connect(qApp, &QApplication::focusChanged, scroll, [scroll](QWidget*, QWidget* now) {
        if (now && scroll->widget()->isAncestorOf(now))
            scroll->ensureWidgetVisible(now);
    });
    auto* layout = new QVBoxLayout(dialog);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->addWidget(scroll);
    return client;
}

QWidget* DialogClient(QDialog* dialog) {
    auto* scroll = dialog->findChild<QScrollArea*>(QString::fromLatin1(kClientName),
                                                   Qt::FindDirectChildrenOnly);
    return scroll ? scroll->widget() : dialog;
}

QPushButton* CreateOkButton(QDialog* dialog, const QPoint& pos) {
    QPushButton* button = CreateGlyphButton(dialog, "btnOK", pos, true);
    button->setDefault(true);
    return button;
}

QPushButton* CreateCancelButton(QDialog* dialog, const QPoint& pos) {
    QPushButton* button = CreateGlyphButton(dialog, "btnCancel", pos, false);
    QObject::connect(button, &QPushButton::clicked, dialog, &QDialog::reject);
    return button;
}

void SetTabOrder(std::initializer_list<QWidget*> widgets) {
    QWidget* previous = nullptr;
    for (QWidget* w : widgets) {
        if (previous)
            QWidget::setTabOrder(previous, w);
        previous = w;
    }
}

QLabel* CreateLabel(QWidget* parent, const QString& name, const QPoint& pos) {
    auto* label = new QLabel(parent);
    label->setObjectName(name);
    label->move(pos);
    return label;
}

void SetLabelText(QLabel* label, const QString& text) {
    label->setText(text);
    label->adjustSize();
}

int ListItemIndex(const QListWidget* list) {
    const QModelIndexList rows = list->selectionModel()->selectedRows();
    return rows.isEmpty() ? -1 : rows.first().row();
}

void SetListItemIndex(QListWidget* list, int index) {
    if (index >= 0 && index < list->count()) {
        list->setCurrentRow(index);
    } else {
        list->clearSelection();
        list->setCurrentRow(-1);
    }
}
