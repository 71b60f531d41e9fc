// SPDX-License-Identifier: GPL-3.0-or-later
// The panel kept with the preview window, without the control panel: a
// plain window as the preview and another as the panel, on the offscreen
// platform. The panel belongs to the preview window, takes the preview's
// pointer events at its visible spots (a press's moves and release with
// it, wherever they go), not those elsewhere or while it is hidden or
// minimised, and is minimised and restored with the preview window.
#include <QMouseEvent>
#include <QTest>
#include <QWidget>
#include <QWindow>
#include <gtest/gtest.h>
#include <vector>

#include "forms/PanelKeeper.h"

namespace {

struct TSeen {
    QEvent::Type type;
    QPoint pos;
    Qt::MouseButtons buttons;
};

// A window that notes the pointer events it is given.
class TRecorder : public QWidget {
  public:
    std::vector<TSeen> seen;

  protected:
    void mousePressEvent(QMouseEvent* e) override { Note(e); }
    void mouseDoubleClickEvent(QMouseEvent* e) override { Note(e); }
    void mouseMoveEvent(QMouseEvent* e) override { Note(e); }
    void mouseReleaseEvent(QMouseEvent* e) override { Note(e); }

  private:
    void Note(QMouseEvent* e) {
        seen.push_back({e->type(), e->position().toPoint(), e->buttons()});
        e->accept();
    }
};

// Counts the pointer events that reach the preview's native window past
// the keeper (installed first, it sees what the keeper lets through).
class TPassed : public QObject {
  public:
    int count = 0;

  protected:
    bool eventFilter(QObject*, QEvent* event) override {
        if (dynamic_cast<QMouseEvent*>(event))
            ++count;
        return false;
    }
};

// The preview at (100, 100), 400 x 300; the panel over its bottom part at
// (150, 300), 200 x 100, with its left 20 pixels off the outline (the
// see-through corner of a skin).
class PanelKeeperTest : public ::testing::Test {
  protected:
    void SetUp() override {
        view.setGeometry(100, 100, 400, 300);
        panel.setGeometry(150, 300, 200, 100);
        view.winId();
        panel.winId();
        view.windowHandle()->installEventFilter(&passed);
        keeper.KeepAboveViewForm(&view);
        view.show();
        panel.show();
        ASSERT_TRUE(QTest::qWaitForWindowExposed(&view));
        ASSERT_TRUE(QTest::qWaitForWindowExposed(&panel));
    }

    // A point of the panel's, in the preview window's coordinates.
    QPoint OnView(const QPoint& panelPos) const {
        return panelPos + panel.geometry().topLeft() - view.geometry().topLeft();
    }

    // A pointer event as the window system hands it to the preview's native
    // window, at a point of the preview's; sent to that window itself, as
    // the X server does while it holds the pointer for a press there.
    void Send(QEvent::Type type, const QPoint& pos, Qt::MouseButtons buttons) {
        QWindow* w = view.windowHandle();
        QMouseEvent e(type, QPointF(pos), w->mapToGlobal(QPointF(pos)), Qt::LeftButton, buttons,
                      Qt::NoModifier);
        QCoreApplication::sendEvent(w, &e);
    }

    TRecorder view;
    TRecorder panel;
    TPassed passed;
    TPanelKeeper keeper{&panel, [](const QPoint& p) { return p.x() >= 20; }};
};

TEST_F(PanelKeeperTest, ThePanelBelongsToThePreviewWindow) {
    EXPECT_EQ(panel.windowHandle()->transientParent(), view.windowHandle());
    EXPECT_EQ(view.windowHandle()->transientParent(), nullptr);
}

TEST_F(PanelKeeperTest, APressAtAPanelSpotGoesToThePanelWithItsMoveAndRelease) {
    QWindow* w = view.windowHandle();
    Send(QEvent::MouseButtonPress, OnView(QPoint(50, 40)), Qt::LeftButton);
    // Dragged off the panel, over the preview: still the panel's.
    Send(QEvent::MouseMove, QPoint(10, 10), Qt::LeftButton);
    Send(QEvent::MouseButtonRelease, QPoint(10, 10), Qt::NoButton);
    EXPECT_EQ(passed.count, 0) << "events the preview's window went on with";
    EXPECT_TRUE(view.seen.empty()) << view.seen.size() << " events reached the preview";
    ASSERT_EQ(panel.seen.size(), 3u);
    EXPECT_EQ(panel.seen[0].type, QEvent::MouseButtonPress);
    EXPECT_EQ(panel.seen[0].pos, QPoint(50, 40));
    EXPECT_EQ(panel.seen[1].type, QEvent::MouseMove);
    EXPECT_EQ(panel.seen[1].pos,
              QPoint(10, 10) + view.geometry().topLeft() - panel.geometry().topLeft());
    EXPECT_EQ(panel.seen[1].buttons, Qt::LeftButton);
    EXPECT_EQ(panel.seen[2].type, QEvent::MouseButtonRelease);

    // Released: the next press off the panel is the preview's again.
    panel.seen.clear();
    QTest::mousePress(w, Qt::LeftButton, {}, QPoint(10, 10));
    QTest::mouseRelease(w, Qt::LeftButton, {}, QPoint(10, 10));
    EXPECT_TRUE(panel.seen.empty());
    ASSERT_EQ(view.seen.size(), 2u);
    EXPECT_EQ(view.seen[0].type, QEvent::MouseButtonPress);
    EXPECT_EQ(view.seen[0].pos, QPoint(10, 10));
}

TEST_F(PanelKeeperTest, ADoubleClickAtAPanelSpotIsThePanelsUpToItsRelease) {
    // The window system's own sequence, sent as it is, so that no earlier
    // click of the program's decides whether it is a double click; the last
    // release comes off the panel.
    const QPoint at = OnView(QPoint(100, 50));
    Send(QEvent::MouseButtonPress, at, Qt::LeftButton);
    Send(QEvent::MouseButtonRelease, at, Qt::NoButton);
    Send(QEvent::MouseButtonPress, at, Qt::LeftButton);
    Send(QEvent::MouseButtonDblClick, at, Qt::LeftButton);
    Send(QEvent::MouseButtonRelease, QPoint(10, 10), Qt::NoButton);
    std::vector<QEvent::Type> types;
    for (const TSeen& s : panel.seen)
        types.push_back(s.type);
    EXPECT_EQ(types,
              (std::vector<QEvent::Type>{QEvent::MouseButtonPress, QEvent::MouseButtonRelease,
                                         QEvent::MouseButtonPress, QEvent::MouseButtonDblClick,
                                         QEvent::MouseButtonRelease}));
    EXPECT_EQ(passed.count, 0);
    EXPECT_TRUE(view.seen.empty());
}

TEST_F(PanelKeeperTest, PressesOffThePanelsOutlineStayWithThePreview) {
    QWindow* w = view.windowHandle();
    // Outside the panel's rectangle, and inside it but off its outline.
    for (const QPoint& at : {QPoint(20, 20), OnView(QPoint(5, 40))}) {
        view.seen.clear();
        QTest::mousePress(w, Qt::LeftButton, {}, at);
        QTest::mouseRelease(w, Qt::LeftButton, {}, at);
        EXPECT_EQ(view.seen.size(), 2u) << at.x() << "," << at.y();
    }
    EXPECT_TRUE(panel.seen.empty());
}

TEST_F(PanelKeeperTest, AHiddenOrMinimisedPanelTakesNothing) {
    QWindow* w = view.windowHandle();
    const QPoint at = OnView(QPoint(50, 40));
    panel.hide();
    QTest::mousePress(w, Qt::LeftButton, {}, at);
    QTest::mouseRelease(w, Qt::LeftButton, {}, at);
    panel.showMinimized();
    QTest::mousePress(w, Qt::LeftButton, {}, at);
    QTest::mouseRelease(w, Qt::LeftButton, {}, at);
    EXPECT_TRUE(panel.seen.empty());
    EXPECT_EQ(view.seen.size(), 4u);
}

TEST_F(PanelKeeperTest, ThePanelIsMinimisedAndRestoredWithThePreview) {
    view.showMinimized();
    EXPECT_TRUE(panel.isMinimized());
    view.showNormal();
    EXPECT_FALSE(panel.isMinimized());
    EXPECT_TRUE(panel.isVisible());

    // A panel the program has hidden stays hidden.
    panel.hide();
    view.showMinimized();
    view.showNormal();
    EXPECT_FALSE(panel.isVisible());
    EXPECT_FALSE(panel.isMinimized());
}

}  // namespace
