// SPDX-License-Identifier: GPL-3.0-or-later
// The preview window on a real X server: its outline really cuts the window
// (what lies behind shows through the cut corners), and dragging the top bar
// moves the real window also without a window manager.
#include <gtest/gtest.h>

#include <QApplication>
#include <QGuiApplication>
#include <QMouseEvent>
#include <QScreen>
#include <QTest>

#include "forms/frmView.h"
#include "ScreenAndMouse.h"

namespace {

using testing_screen::At;
using testing_screen::GrabScreen;
using testing_screen::SendMouse;

constexpr QRgb kBehind = 0x00C000;  // a colour the skin does not use

class ViewFormX11Test : public ::testing::Test {
  protected:
    void SetUp() override {
        if (QGuiApplication::platformName() != "xcb")
            GTEST_SKIP() << "needs an X server";
        // A plain window in a known colour behind the preview window.
        behind.setWindowFlags(Qt::Window | Qt::FramelessWindowHint);
        behind.setAutoFillBackground(true);
        QPalette palette = behind.palette();
        palette.setColor(QPalette::Window, QColor::fromRgb(kBehind));
        behind.setPalette(palette);
        behind.setGeometry(40, 40, 600, 500);
        behind.show();
        ASSERT_TRUE(QTest::qWaitForWindowExposed(&behind));

        form.move(100 + 19, 100 + 37);
        ASSERT_FALSE(form.SetVideoSize(320, 240));
        form.show();
        ASSERT_TRUE(QTest::qWaitForWindowExposed(&form));
        form.raise();
    }
    QWidget behind;
    TViewForm form;
};

TEST_F(ViewFormX11Test, OutlineCutsTheRoundedTopCorners) {
    ASSERT_EQ(form.geometry(), QRect(100, 100, 356, 296));
    const QImage shot = GrabScreen(form.geometry());
    if (qEnvironmentVariableIsSet("VIEWFORM_SHOT")) {
        shot.save(qEnvironmentVariable("VIEWFORM_SHOT"));
    }
    // Cut: the window behind shows.
    EXPECT_EQ(At(shot, 0, 0), kBehind);
    EXPECT_EQ(At(shot, 355, 0), kBehind);
    EXPECT_EQ(At(shot, 1, 1), kBehind);
    // Inside the outline: the frame is drawn there.
    EXPECT_NE(At(shot, 178, 0), kBehind);
    EXPECT_NE(At(shot, 0, 150), kBehind);
    EXPECT_NE(At(shot, 0, 295), kBehind);
    EXPECT_NE(At(shot, 355, 295), kBehind);
    EXPECT_NE(At(shot, 178, 20), kBehind);
    // The skin is drawn as it is (the title piece, unstretched).
    const QImage title(":/view/imgTitle.bmp");
    EXPECT_EQ(At(shot, 19 + 70, 3), title.pixel(70, 3) & 0xFFFFFF);
}

TEST_F(ViewFormX11Test, OutlineOfImgLBNeverCuts) {
    QImage lb(19, 19, QImage::Format_RGB888);
    lb.fill(QColor(0xFF, 0x00, 0xFF));
    form.imgLB->SetPicture(lb);
    form.SetVideoSize(320, 240);
    form.move(100, 100);
    const QImage shot = GrabScreen(form.geometry());
    EXPECT_EQ(At(shot, 0, 295), 0xFFFFFFu);
    EXPECT_EQ(At(shot, 10, 285), 0xFFFFFFu);
}

TEST_F(ViewFormX11Test, DraggingTheTitleMovesTheRealWindow) {
    const QPoint grip(100, 20);
    SendMouse(&form, QEvent::MouseButtonPress, grip, Qt::LeftButton, Qt::LeftButton);
    SendMouse(&form, QEvent::MouseMove, grip + QPoint(50, 30), Qt::NoButton, Qt::LeftButton);
    SendMouse(&form, QEvent::MouseButtonRelease, grip + QPoint(50, 30), Qt::LeftButton,
              Qt::NoButton);
    EXPECT_EQ(form.pos(), QPoint(150, 130));
    const QImage shot = GrabScreen(QRect(100, 100, 406, 326));
    // The old top-left corner is now uncovered; the moved window's corners
    // are still cut and its frame is where it moved to.
    EXPECT_EQ(At(shot, 0, 0), kBehind);
    EXPECT_EQ(At(shot, 50, 30), kBehind);
    EXPECT_NE(At(shot, 50, 30 + 150), kBehind);
    EXPECT_NE(At(shot, 50 + 178, 30), kBehind);

    // Dragging the left edge does nothing.
    SendMouse(&form, QEvent::MouseButtonPress, QPoint(5, 150), Qt::LeftButton, Qt::LeftButton);
    SendMouse(&form, QEvent::MouseMove, QPoint(45, 190), Qt::NoButton, Qt::LeftButton);
    SendMouse(&form, QEvent::MouseButtonRelease, QPoint(45, 190), Qt::LeftButton, Qt::NoButton);
    EXPECT_EQ(form.pos(), QPoint(150, 130));
}

}  // namespace
