// SPDX-License-Identifier: GPL-3.0-or-later
// Moving a borderless window by dragging a spot of its own (the control
// panel's bare skin, the preview window's top bar).
#pragma once

#include <QPoint>

class QWidget;

// A press on a draggable spot only arms the drag. Once the pointer has moved
// past the platform's drag distance with the left button still held, the
// window system is asked to move the window (it then follows the pointer
// until the button is released); where it refuses, as an X server without a
// window manager does, the window follows the pointer by hand. A click, even
// a very quick one, therefore never starts a move.
class TWindowDrag {
  public:
    explicit TWindowDrag(QWidget* window) : FWindow(window) {}

    // A left-button press at `globalPos` on a spot that moves the window.
    void Press(const QPoint& globalPos);
    // The pointer moved; `leftHeld` tells whether the left button is down.
    // True when the move belongs to the drag.
    bool Move(const QPoint& globalPos, bool leftHeld);
    // The left button was released. True when it ended an armed or running
    // drag.
    bool Release();

  private:
    // Starting: past the drag distance, the drag not begun yet.
    enum class TState { Idle, Armed, Starting, ByHand };

    void Begin();

    QWidget* FWindow;
    TState FState = TState::Idle;
    QPoint FPressPos;  // screen position of the press
    QPoint FPointer;   // the pointer's last screen position
    QPoint FOffset;    // the press relative to the window's top-left corner
};
