// SPDX-License-Identifier: GPL-3.0-or-later
#include "WindowDrag.h"

#include <QApplication>
#include <QTimer>
#include <QWidget>
#include <QWindow>

void TWindowDrag::Press(const QPoint& globalPos) {
    FState = TState::Armed;
    FPressPos = globalPos;
    FOffset = globalPos - FWindow->pos();
}

bool TWindowDrag::Move(const QPoint& globalPos, bool leftHeld) {
    if (FState == TState::Idle)
        return false;
    if (!leftHeld) {
        // The release went elsewhere (a grab, another window): no drag.
        FState = TState::Idle;
        return false;
    }
    FPointer = globalPos;
    if (FState == TState::Armed) {
        if ((globalPos - FPressPos).manhattanLength() < QApplication::startDragDistance())
            return true;
        // The drag begins once the events already received have been
        // handled: a quick click's release can reach the window after the
        // pointer's next move, and must still end it before anything moves.
        FState = TState::Starting;
        QTimer::singleShot(0, FWindow, [this] { Begin(); });
        return true;
    }
    if (FState == TState::ByHand)
        FWindow->move(globalPos - FOffset);
    return true;
}

void TWindowDrag::Begin() {
    if (FState != TState::Starting)
        return;
    // The spot pressed catches up with the pointer; from there the window
    // system keeps it under the pointer until the button is released, or,
    // where it refuses, the window follows the pointer by hand.
    FWindow->move(FPointer - FOffset);
    QWindow* window = FWindow->windowHandle();
    FState = window && window->startSystemMove() ? TState::Idle : TState::ByHand;
}

bool TWindowDrag::Release() {
    const bool dragging = FState != TState::Idle;
    FState = TState::Idle;
    return dragging;
}
