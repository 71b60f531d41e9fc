// SPDX-License-Identifier: GPL-3.0-or-later
#include "DialogFit.h"

#include <QApplication>
#include <QDialog>
#include <QGuiApplication>
#include <QPointer>
#include <QScreen>
#include <QScrollArea>
#include <QStyle>
#include <QShowEvent>
#include <QTimer>
#include <QWindow>
#include <algorithm>

namespace {

// The start of a span of `size` at `at`, moved as little as needed to lie
// inside the span of `length` from `from` (at its start when it is longer).
int Inside(int at, int size, int from, int length) {
    return std::max(from, std::min(at, from + length - size));
}

// The window manager's frame around a dialog; before it is on the screen
// (when its real one is not known yet), a title bar and thin borders, as
// most window managers draw them.
QMargins FrameOf(const QDialog* dialog) {
    const QWindow* window = dialog->windowHandle();
    const QMargins known = window ? window->frameMargins() : QMargins();
    return known.isNull() ? QMargins(4, 30, 4, 4) : known;
}

// Whether the dialog is one that adjusts the picture or the sound.
bool AdjustsThePicture(const QDialog* dialog) {
    return dialog->objectName() == QLatin1String("PropertyFrame");
}

// A settings dialog keeps its designed client size where the screen has
// room for it; else it takes what there is (the other side widened by the
// scroll bar), its client area scrolling.
void FitFixedSize(QDialog* dialog, const QSize& room) {
    auto* scroll =
        dialog->findChild<QScrollArea*>(QStringLiteral("DialogClient"), Qt::FindDirectChildrenOnly);
    if (!scroll || !scroll->widget())
        return;
    const QSize designed = scroll->widget()->size();
    const int bar = scroll->style()->pixelMetric(QStyle::PM_ScrollBarExtent, nullptr, scroll);
    QSize size = designed;
    if (designed.height() > room.height())
        size.rwidth() += bar;
    if (designed.width() > room.width())
        size.rheight() += bar;
    size = size.boundedTo(room);
    if (size != dialog->size())
        dialog->setFixedSize(size);
}

}  // namespace

TDialogFit::TDialogFit(QObject* parent, std::function<QRect()> picture)
    : QObject(parent), FPicture(std::move(picture)) {
    setObjectName(QStringLiteral("DialogFit"));
    qApp->installEventFilter(this);
}

TDialogFit::~TDialogFit() {
    qApp->removeEventFilter(this);
}

QRect TDialogFit::Place(const QRect& work, const QRect& frame, const QSize& least,
                        const QRect& picture, bool beside) {
    QRect r(frame.topLeft(), frame.size().boundedTo(work.size()).expandedTo(least));
    if (beside && picture.isValid()) {
        const int top = Inside(picture.top(), r.height(), work.top(), work.height());
        if (picture.right() + r.width() <= work.right())
            r.moveTo(picture.right() + 1, top);
        else if (picture.left() - r.width() >= work.left())
            r.moveTo(picture.left() - r.width(), top);
    }
    r.moveTo(Inside(r.left(), r.width(), work.left(), work.width()),
             Inside(r.top(), r.height(), work.top(), work.height()));
    return r;
}

void TDialogFit::Fit(QDialog* dialog, bool shown) const {
    const QScreen* screen = dialog->screen() ? dialog->screen() : QGuiApplication::primaryScreen();
    if (!screen)
        return;
    const QMargins m = FrameOf(dialog);
    FitFixedSize(dialog, screen->availableGeometry().marginsRemoved(m).size());
    const QRect frame = QRect(dialog->geometry()).marginsAdded(m);
    QSize least = dialog->minimumSizeHint().expandedTo(dialog->minimumSize());
    if (!least.isValid())
        least = QSize(0, 0);
    least += QSize(m.left() + m.right(), m.top() + m.bottom());
    const bool beside = AdjustsThePicture(dialog);
    const QRect placed = Place(screen->availableGeometry(), frame, least,
                               FPicture ? FPicture() : QRect(), beside);
    const QRect client = placed.marginsRemoved(m);
    if (client.size() != dialog->size())
        dialog->resize(client.size().expandedTo(dialog->minimumSize()));
    // As it shows, a dialog is only sized (it is then centred over its
    // owner by Qt) or put beside the picture; once shown it is moved
    // in where it sticks out.
    if (client.topLeft() != dialog->pos() && (beside || shown))
        dialog->move(client.topLeft());
}

bool TDialogFit::eventFilter(QObject* watched, QEvent* event) {
    if (event->type() != QEvent::Show || event->spontaneous())
        return false;
    auto* dialog = qobject_cast<QDialog*>(watched);
    if (!dialog || !dialog->isWindow())
        return false;
    Fit(dialog, false);
    // Once the window manager has framed it, with its real frame.
    QPointer<QDialog> later(dialog);
    QTimer::singleShot(0, this, [this, later] {
        if (later && later->isVisible())
            Fit(later, true);
    });
    return false;
}
