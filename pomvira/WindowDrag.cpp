#include "WindowDrag.h"

#include <QApplication>
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
    if (FState == TState::Armed) {
        if ((globalPos - FPressPos).manhattanLength() < QApplication::startDragDistance())
            return true;
        // The spot pressed catches up with the pointer first; from there the
        // window system keeps it under the pointer.
        FWindow->move(globalPos - FOffset);
        QWindow* window = FWindow->windowHandle();
        if (window && window->startSystemMove()) {
            // The window system moves the window until the button is up.
            FState = TState::Idle;
            return true;
        }
        FState = TState::ByHand;
    }
    FWindow->move(globalPos - FOffset);
    return true;
}

bool TWindowDrag::Release() {
    const bool dragging = FState != TState::Idle;
    FState = TState::Idle;
    return dragging;
}
