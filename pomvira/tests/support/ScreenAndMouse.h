// SPDX-License-Identifier: GPL-3.0-or-later
// Reading the screen back and sending mouse events, for the window tests.
#pragma once

#include <QApplication>
#include <QGuiApplication>
#include <QImage>
#include <QMouseEvent>
#include <QRect>
#include <QScreen>
#include <QTest>
#include <QWidget>

namespace testing_screen {

// What the screen shows in `rect`, once pending events are handled and the
// window system has had `settleMs` to draw them.
inline QImage GrabScreen(const QRect& rect, int settleMs = 150) {
    QApplication::processEvents();
    if (settleMs > 0)
        QTest::qWait(settleMs);
    return QGuiApplication::primaryScreen()
        ->grabWindow(0, rect.x(), rect.y(), rect.width(), rect.height())
        .toImage()
        .convertToFormat(QImage::Format_RGB32);
}

// A pixel's colour without its alpha.
inline QRgb At(const QImage& img, int x, int y) {
    return img.pixel(x, y) & 0xFFFFFF;
}

// Sends one mouse event at `local` and handles what it started (a drag
// begins once the events are handled).
inline void SendMouse(QWidget* w, QEvent::Type type, const QPoint& local,
                      Qt::MouseButton button, Qt::MouseButtons buttons) {
    const QPointF l(local);
    const QPointF g(w->mapToGlobal(local));
    QMouseEvent e(type, l, l, g, button, buttons, Qt::NoModifier);
    QApplication::sendEvent(w, &e);
    QApplication::processEvents();
}

}  // namespace testing_screen
