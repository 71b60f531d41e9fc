// SPDX-License-Identifier: GPL-3.0-or-later
#include "PanelFocus.h"

#include <QApplication>
#include <QDialog>
#include <QEvent>
#include <QMenu>
#include <QTimer>

#include "PanelAccess.h"
#include "frmControl.h"
#include "widgets/ActionList.h"
#include "widgets/ImageButton.h"

namespace {
// A control used this long before a window opens is taken as its opener;
// a window that comes later came by itself.
constexpr qint64 kOpenedByUseMs = 2000;

bool IsRoundWindow(const QObject* object) {
    const auto* w = qobject_cast<const QWidget*>(object);
    return w && w->isWindow() && (qobject_cast<const QDialog*>(w) || qobject_cast<const QMenu*>(w));
}
}  // namespace

TPanelFocus::TPanelFocus(TControlForm* panel, TPanelAccess* access)
    : QObject(access), FPanel(panel), FAccess(access) {
    setObjectName(QStringLiteral("PanelFocus"));
    qApp->installEventFilter(this);
}

TPanelFocus::~TPanelFocus() {
    qApp->removeEventFilter(this);
}

bool TPanelFocus::IsPanelControl(QObject* object) const {
    auto* w = qobject_cast<QWidget*>(object);
    return w && w != FPanel && w->window() == FPanel;
}

bool TPanelFocus::eventFilter(QObject* watched, QEvent* event) {
    switch (event->type()) {
        case QEvent::KeyPress:
        case QEvent::MouseButtonPress:
            // The first receiver is the control (then its parents).
            if (IsPanelControl(watched)) {
                FUsed = static_cast<QWidget*>(watched);
                FUsedByKeyboard = event->type() == QEvent::KeyPress;
                FUsedAt.start();
            }
            break;
        case QEvent::Show:
            if (event->spontaneous())
                break;
            if (watched == FPanel && !FStarted) {
                // Once it is on the screen (Qt activates a window when it
                // is mapped).
                FStarted = true;
                QTimer::singleShot(0, this, [this] { FocusPanel(nullptr, true); });
            } else if (IsRoundWindow(watched)) {
                Opened(watched);
            }
            break;
        case QEvent::Hide:
        case QEvent::Destroy:
            if (FOpen.contains(watched))
                Closed(watched);
            break;
        default:
            break;
    }
    return false;
}

void TPanelFocus::Opened(QObject* window) {
    if (FOpen.isEmpty() && !FComing) {
        if (FUsed && FUsedAt.isValid() && FUsedAt.elapsed() < kOpenedByUseMs) {
            FOpener = FUsed;
            FOpenerByKeyboard = FUsedByKeyboard;
        } else {
            FOpener = FPanel->focusWidget();
            auto* button = qobject_cast<TImageButton*>(FOpener.data());
            FOpenerByKeyboard = !button || button->ShowsFocusMark();
        }
    }
    // One that opens as another closes (a dialog from a menu's entry)
    // carries the round on.
    FComing = false;
    FOpen.insert(window);
}

void TPanelFocus::Closed(QObject* window) {
    FOpen.remove(window);
    if (!FOpen.isEmpty())
        return;
    // After the event that closed it: a dialog that an entry of a closing
    // menu opens shows first.
    FComing = true;
    QTimer::singleShot(0, this, &TPanelFocus::ComeBack);
}

void TPanelFocus::ComeBack() {
    if (!FComing || !FOpen.isEmpty())
        return;
    FComing = false;
    FocusPanel(FOpener, FOpenerByKeyboard);
}

void TPanelFocus::FocusPanel(QWidget* control, bool byKeyboard) {
    if (!FPanel->isVisible() || FPanel->isMinimized() || QApplication::activeModalWidget() ||
        QApplication::activePopupWidget())
        return;
    const QList<QWidget*> stops = FAccess->TabStops();
    if (!control || !stops.contains(control))
        control = stops.isEmpty() ? nullptr : stops.first();
    if (!control)
        return;
    FPanel->activateWindow();
    auto* button = qobject_cast<TImageButton*>(control);
    if (button && byKeyboard)
        button->TakeKeyboardFocus();
    else
        control->setFocus(byKeyboard ? Qt::TabFocusReason : Qt::MouseFocusReason);
}
