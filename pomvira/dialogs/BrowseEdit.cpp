// SPDX-License-Identifier: GPL-3.0-or-later
#include "BrowseEdit.h"

#include <QDir>
#include <QFileDialog>
#include <QKeyEvent>
#include <QLabel>
#include <QToolButton>

#include "files/TextConv.h"

namespace {

TFolderChooser g_folderChooser;

QString ChooseFolder(QWidget* parent, const QString& startFolder) {
    if (g_folderChooser)
        return g_folderChooser(parent, startFolder);
    // No caption: the dialog's own title. Only folders can be chosen.
    return QFileDialog::getExistingDirectory(parent, QString(), startFolder,
                                             QFileDialog::ShowDirsOnly);
}

}  // namespace

void SetFolderChooserHook(TFolderChooser hook) {
    g_folderChooser = std::move(hook);
}

TBrowseEdit::TBrowseEdit(QWidget* parent) : QLineEdit(parent) {
    setReadOnly(true);
    FBrowseButton = new QToolButton(this);
    FBrowseButton->setObjectName(QStringLiteral("btnBrowse"));
    FBrowseButton->setText(QStringLiteral("\u2026"));
    FBrowseButton->setCursor(Qt::ArrowCursor);
    // The field is the one that takes the focus.
    FBrowseButton->setFocusPolicy(Qt::NoFocus);
    connect(FBrowseButton, &QToolButton::clicked, this, &TBrowseEdit::Browse);
}

void TBrowseEdit::SetPath(const QString& path) {
    setText(path);
    setCursorPosition(0);
    // A path longer than the field can still be read whole.
    setToolTip(path);
}

void TBrowseEdit::Browse() {
    if (!hasFocus())
        setFocus(Qt::OtherFocusReason);
    // Wherever the field points, the chooser starts at the home folder.
    const QString folder = ChooseFolder(window(), QDir::homePath());
    if (!folder.isEmpty())
        SetPath(folder);
}

void TBrowseEdit::SetLabel(QLabel* label) {
    label->setBuddy(this);
    FBrowseButton->setAccessibleName(UiText("Dialogs", "Choisir : %1").arg(label->text()));
}

void TBrowseEdit::keyPressEvent(QKeyEvent* event) {
    const int key = event->key();
    const Qt::KeyboardModifiers modifiers = event->modifiers() & ~Qt::KeypadModifier;
    if ((modifiers == Qt::NoModifier && (key == Qt::Key_Space || key == Qt::Key_F4)) ||
        (modifiers == Qt::AltModifier && key == Qt::Key_Down)) {
        Browse();
        return;
    }
    QLineEdit::keyPressEvent(event);
}

void TBrowseEdit::resizeEvent(QResizeEvent* event) {
    QLineEdit::resizeEvent(event);
    // A square button inside the frame's right end; the text stops before it.
    const int frame = 2;
    const int side = height() - 2 * frame;
    FBrowseButton->setGeometry(width() - frame - side, frame, side, side);
    setTextMargins(0, 0, side, 0);
}
