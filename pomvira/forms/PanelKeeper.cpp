// SPDX-License-Identifier: GPL-3.0-or-later
#include "forms/PanelKeeper.h"

#include <QCoreApplication>
#include <QMouseEvent>
#include <QTimer>
#include <QWidget>
#include <QWindow>
#include <utility>

TPanelKeeper::TPanelKeeper(QWidget* panel, TOutline onOutline)
    : FPanel(panel), FOnOutline(std::move(onOutline)) {}

bool TPanelKeeper::eventFilter(QObject* watched, QEvent* event) {
    if (FViewForm && watched == FViewForm->windowHandle())
        return ForwardPanelInput(event) || QObject::eventFilter(watched, event);
    if (FViewForm && watched == FViewForm) {
        switch (event->type()) {
            case QEvent::Show:
            case QEvent::WindowActivate:
            case QEvent::Resize:
            case QEvent::MouseButtonPress:
                RaiseAboveViewForm();
                break;
            case QEvent::WindowStateChange:
                FollowViewFormState();
                break;
            default:
                break;
        }
    }
    return QObject::eventFilter(watched, event);
}

void TPanelKeeper::KeepAboveViewForm(QWidget* view) {
    FViewForm = view;
    // The panel owns the preview window as a component, but for the window
    // system the relation runs the other way: the panel belongs to the
    // preview window. Both native windows are made before this (the panel
    // makes its own first), so the relation is in place before either is
    // mapped; the preview window must not in turn belong to the panel (Qt
    // makes a window with a parent widget belong to that parent's window).
    // The preview window made its native window when it was created;
    // winId() is not used for either, as asking a window with a parent
    // widget for its id makes every child of that parent native too.
    FViewForm->windowHandle()->setTransientParent(nullptr);
    FPanel->windowHandle()->setTransientParent(FViewForm->windowHandle());
    FViewForm->installEventFilter(this);
    FViewForm->windowHandle()->installEventFilter(this);
}

void TPanelKeeper::FollowViewFormState() {
    // Minimised and restored together, as one task bar entry; window
    // managers that treat a tool window on its own leave this to us.
    if (!FViewForm || !FPanel->isVisible())
        return;
    if (FViewForm->isMinimized()) {
        if (!FPanel->isMinimized())
            FPanel->showMinimized();
    } else if (FPanel->isMinimized()) {
        FPanel->showNormal();
        RaiseAboveViewForm();
    }
}

void TPanelKeeper::RaiseAboveViewForm() {
    // Once the window system has handled the preview window's change.
    QTimer::singleShot(0, this, [this] {
        if (FViewForm && FPanel->isVisible() && !FPanel->isMinimized())
            FPanel->raise();
    });
}

bool TPanelKeeper::ForwardPanelInput(QEvent* event) {
    // Where the window manager ignores where the program places its windows
    // (weston's, for programs on XWayland), the panel can come to lie over
    // the preview window while the X server still stacks the preview
    // above it: the compositor shows the panel, but the X server hands its
    // clicks to the preview window. The preview passes the pointer's events
    // at the panel's visible spots on to the panel, as if they had reached
    // it, a press's move and release included.
    switch (event->type()) {
        case QEvent::MouseButtonPress:
        case QEvent::MouseButtonDblClick:
        case QEvent::MouseButtonRelease:
        case QEvent::MouseMove:
            break;
        default:
            return false;
    }
    auto* mouse = static_cast<QMouseEvent*>(event);
    const QPoint global = mouse->globalPosition().toPoint();
    const QPoint local = global - FPanel->geometry().topLeft();
    const bool onPanel = FPanel->isVisible() && !FPanel->isMinimized() &&
                         FPanel->rect().contains(local) && FOnOutline(local);
    if (!FForwardingPress && !onPanel)
        return false;
    if (event->type() == QEvent::MouseButtonPress || event->type() == QEvent::MouseButtonDblClick)
        FForwardingPress = true;
    else if (event->type() == QEvent::MouseButtonRelease && mouse->buttons() == Qt::NoButton)
        FForwardingPress = false;
    QWindow* panel = FPanel->windowHandle();
    if (!panel)
        return false;
    QMouseEvent forwarded(event->type(), QPointF(local), QPointF(local), QPointF(global),
                          mouse->button(), mouse->buttons(), mouse->modifiers(),
                          mouse->pointingDevice());
    QCoreApplication::sendEvent(panel, &forwarded);
    return true;
}
