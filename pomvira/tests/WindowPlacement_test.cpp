// SPDX-License-Identifier: GPL-3.0-or-later
// Where the two windows go, without the control panel: the positions from a
// screen and its work area (desktop bars, a second screen, a screen scaled to
// 200 %, a preview taller than the work area), and on the offscreen platform
// with a real preview window and a stand-in panel: the block centred, the
// screen-covering preview with the panel in its corner, the expanded panel's
// lift and return, and the kept placement.
#include <QGuiApplication>
#include <QScreen>
#include <QWidget>
#include <cstdlib>
#include <gtest/gtest.h>
#include <stdexcept>
#include <utility>

#include "forms/WindowPlacement.h"
#include "forms/frmView.h"

namespace {

const QSize kPanel(355, 72);
const QSize kExpanded(355, 166);
// The preview window around a 320 x 240 and a 640 x 480 video.
const QSize kView320(320 + 36, 240 + 56);
const QSize kView640(640 + 36, 480 + 56);

// Both windows inside the work area.
void ExpectInside(const QRect& work, const std::pair<QPoint, QPoint>& at, const QSize& view,
                  const QSize& panel) {
    EXPECT_TRUE(work.contains(QRect(at.first, view)))
        << "preview at " << at.first.x() << "," << at.first.y();
    EXPECT_TRUE(work.contains(QRect(at.second, panel)))
        << "panel at " << at.second.x() << "," << at.second.y();
}

}  // namespace

TEST(WindowPlacementPositions, TheBlockIsCentredWithThePanelRightBelowThePreview) {
    const QRect screen(0, 0, 1600, 1200);
    const auto [view, panel] = TWindowPlacement::Centered(screen, screen, kView320, kPanel);
    // The block of preview and panel (356 x 368) in the middle.
    EXPECT_EQ(view, QPoint((1600 - 356) / 2, (1200 - 368) / 2));
    EXPECT_EQ(panel, QPoint(view.x(), view.y() + kView320.height()));

    // A panel wider than the preview: still centred under it.
    const QSize small(200, 150);
    const auto [view2, panel2] = TWindowPlacement::Centered(screen, screen, small, kPanel);
    EXPECT_EQ(panel2.y(), view2.y() + small.height());
    EXPECT_LE(std::abs((panel2.x() + kPanel.width() / 2) - (view2.x() + small.width() / 2)), 1);

    // On a second screen to the right of the first.
    const QRect second(1600, 0, 1280, 1024);
    const auto [view3, panel3] = TWindowPlacement::Centered(second, second, kView320, kPanel);
    EXPECT_EQ(view3, QPoint(1600 + (1280 - 356) / 2, (1024 - 368) / 2));
    EXPECT_EQ(panel3, QPoint(view3.x(), view3.y() + kView320.height()));
}

TEST(WindowPlacementPositions, BothWindowsStayInsideASmallOrScaledWorkArea) {
    // A 1920 x 1080 screen at 200 %: 960 x 540 in the program's units, less
    // a 24-unit bar at the top. A 640 x 400 preview fits, but not with the
    // panel below it: the preview starts at the work area's top and the
    // panel goes up over its bottom edge.
    const QRect scaled(0, 0, 960, 540);
    const QRect belowBar(0, 24, 960, 516);
    const QSize view(640 + 36, 400 + 56);
    const auto at = TWindowPlacement::Centered(scaled, belowBar, view, kPanel);
    ExpectInside(belowBar, at, view, kPanel);
    EXPECT_EQ(at.first.y(), 24);
    EXPECT_EQ(at.second.y() + kPanel.height(), 540);
    EXPECT_EQ(at.second.x(), at.first.x() + (view.width() - kPanel.width()) / 2);

    // A work area whose left part is taken by a dock and whose bottom by a
    // task bar, the block fitting: each window is moved only as far as it
    // must be.
    const QRect screen(0, 0, 800, 600);
    const QRect work(300, 0, 500, 560);
    const auto docked = TWindowPlacement::Centered(screen, work, kView320, kPanel);
    ExpectInside(work, docked, kView320, kPanel);
    EXPECT_EQ(docked.first, QPoint(300, (600 - 368) / 2));
    EXPECT_EQ(docked.second.y(), docked.first.y() + kView320.height());

    // A preview wider than the work area starts at its left edge.
    const QRect narrow(0, 0, 600, 1000);
    const auto wide = TWindowPlacement::Centered(narrow, narrow, kView640, kPanel);
    EXPECT_EQ(wide.first.x(), 0);
    EXPECT_TRUE(narrow.contains(QRect(wide.second, kPanel)));
}

TEST(WindowPlacementPositions, CornerAndLiftAreTakenFromTheWorkArea) {
    // The corner is the work area's, clear of a task bar at the bottom and
    // of a dock at the left.
    EXPECT_EQ(TWindowPlacement::BottomRight(QRect(0, 0, 1600, 1160), kPanel),
              QPoint(1600 - 355, 1160 - 72));
    EXPECT_EQ(TWindowPlacement::BottomRight(QRect(48, 30, 1552, 1170), kPanel),
              QPoint(1600 - 355, 1200 - 72));

    const QRect work(0, 30, 1024, 738);  // bottom at 768
    // Room below: it stays.
    EXPECT_FALSE(TWindowPlacement::Lifted(work, QRect(QPoint(100, 768 - 166), kExpanded)));
    // Ending below the work area: up so that it ends at its bottom.
    EXPECT_EQ(TWindowPlacement::Lifted(work, QRect(QPoint(100, 768 - 72), kExpanded)),
              QPoint(100, 768 - 166));
    // Taller than the work area: its top at the work area's top.
    EXPECT_EQ(TWindowPlacement::Lifted(QRect(0, 30, 1024, 100), QRect(QPoint(5, 60), kExpanded)),
              QPoint(5, 30));
}

namespace {

class WindowPlacementTest : public ::testing::Test {
  protected:
    WindowPlacementTest() : placement(&panel) {
        panel.setWindowFlags(Qt::Tool | Qt::FramelessWindowHint);
        panel.resize(kPanel);
        work = QGuiApplication::primaryScreen()->availableGeometry();
    }
    // The panel expanded and folded as the control panel does it.
    void Expand() {
        panel.resize(kExpanded);
        placement.KeepExpandedOnScreen();
    }
    void Fold() {
        panel.resize(kPanel);
        placement.ReturnFromLift();
    }

    QWidget panel;
    TViewForm view;
    TWindowPlacement placement;
    QRect work;
};

}  // namespace

TEST_F(WindowPlacementTest, WithoutAPreviewWindowNothingIsSizedOrCentred) {
    panel.move(10, 20);
    EXPECT_FALSE(placement.SizeViewForm(320, 240));
    placement.FitVideo(320, 240);
    EXPECT_EQ(panel.pos(), QPoint(10, 20));
}

TEST_F(WindowPlacementTest, FittedPreviewIsCentredWithThePanelBelowIt) {
    placement.SetViewForm(&view);
    view.move(3, 4);
    panel.move(5, 6);
    placement.FitVideo(320, 240);
    ASSERT_EQ(view.size(), kView320);
    EXPECT_EQ(panel.y(), view.y() + view.height());
    EXPECT_EQ(panel.x(), view.x() + (view.width() - panel.width()) / 2);
    EXPECT_TRUE(work.contains(view.geometry().united(QRect(panel.pos(), panel.size()))));
}

TEST_F(WindowPlacementTest, APreviewCoveringTheScreenPutsThePanelInItsCorner) {
    placement.SetViewForm(&view);
    ASSERT_TRUE(placement.SizeViewForm(4000, 3000));
    EXPECT_EQ(view.geometry(), work);
    placement.PlaceWindows(true);
    EXPECT_EQ(QRect(panel.pos(), panel.size()).bottomRight(), work.bottomRight());
    // Back to a small video: centred again, the panel below the preview.
    placement.FitVideo(320, 240);
    EXPECT_EQ(view.size(), kView320);
    EXPECT_EQ(panel.pos(),
              QPoint(view.x() + (view.width() - panel.width()) / 2, view.y() + view.height()));
}

TEST_F(WindowPlacementTest, ExpandedInTheCornerThePanelGoesUpAndBackDown) {
    const QPoint corner = TWindowPlacement::BottomRight(work, kPanel);
    panel.move(corner);
    Expand();
    EXPECT_EQ(QRect(panel.pos(), panel.size()),
              QRect(corner.x(), work.bottom() + 1 - 166, 355, 166));
    Fold();
    EXPECT_EQ(panel.pos(), corner);

    // Moved while expanded, it stays where it was put.
    Expand();
    panel.move(corner - QPoint(200, 300));
    Fold();
    EXPECT_EQ(panel.pos(), corner - QPoint(200, 300));
    // With room below it grows downwards, and folds where it is, also at
    // the place an earlier lift took it to.
    Expand();
    EXPECT_EQ(panel.pos(), corner - QPoint(200, 300));
    panel.move(corner - QPoint(0, 94));
    Fold();
    EXPECT_EQ(panel.pos(), corner - QPoint(0, 94));
}

TEST_F(WindowPlacementTest, PlacementIsKeptWhileHeldAlsoWhenTheHeldWorkFails) {
    EXPECT_FALSE(placement.Kept());
    {
        const TWindowPlacement::THold kept(placement);
        EXPECT_TRUE(placement.Kept());
    }
    EXPECT_FALSE(placement.Kept());
    EXPECT_THROW(
        {
            const TWindowPlacement::THold kept(placement);
            throw std::runtime_error("the camera could not be opened");
        },
        std::runtime_error);
    EXPECT_FALSE(placement.Kept());
}
