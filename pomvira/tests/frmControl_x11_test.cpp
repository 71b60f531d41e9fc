// SPDX-License-Identifier: GPL-3.0-or-later
// The control panel on a real X server: its outline really cuts the window
// (a window beneath shows through the skin's magenta pixels and below the
// normal height), pressing bare skin and moving drags the real window also
// without a window manager while controls keep their presses, and the
// settings menu opens under the settings button.
#include <QCursor>
#include <QFile>
#include <QGuiApplication>
#include <QLabel>
#include <QMenu>
#include <QScreen>
#include <QTemporaryDir>
#include <QTest>
#include <QToolTip>
#include <QWindow>
#include <gtest/gtest.h>
#include <memory>
#include <xcb/xcb.h>

#include "widgets/ActionList.h"
#include "app/Application.h"
#include "widgets/ControlsKit.h"
#include "widgets/ImageButton.h"
#include "files/IniFile.h"
#include "files/PathUtils.h"
#include "PanelTesting.h"
#include "TestFrames.h"
#include "forms/frmControl.h"
#include "forms/frmView.h"
#include "media/fake/FakeMedia.h"
#include "ScreenAndMouse.h"
#include "app/WindowSystem.h"
#include "SessionProbe.h"

using namespace media;
using namespace media::fake;

namespace {

using testing_screen::At;
using testing_screen::GrabScreen;

constexpr QRgb kBehind = 0x00C000;  // a colour the skin does not use
constexpr QRgb kMagenta = 0xFF00FF;
const QPoint kOrigin(100, 120);

QRgb ScreenAt(const QPoint& p) {
    return At(GrabScreen(QRect(p, QSize(1, 1))), 0, 0);
}

class ControlFormX11Test : public PanelTestBase {
  protected:
    void SetUp() override {
        if (QGuiApplication::platformName() != "xcb")
            GTEST_SKIP() << "needs an X server";
        QFile::remove(TIniFile(QStringLiteral("Pomvira.ini")).FileName());
        SetMessageBoxHook([this](const TMessageBoxRequest& r) {
            boxes.push_back(r.text);
            return QMessageBox::Ok;
        });
        sys.AddVideoDevice("Cam", {VideoFormat(MEDIASUBTYPE_YUY2, 320, 240, 16)});
        // A click on the still button takes a picture of this frame.
        sys.GrabberDefaults().connectedType = VideoFormat(MEDIASUBTYPE_RGB24, 64, 48, 24);
        sys.GrabberDefaults().buffer = TwoColourFrame(64, 48, kBehind, kBehind);

        // A plain window in a known colour over the whole screen, beneath.
        behind.setWindowFlags(Qt::Window | Qt::FramelessWindowHint);
        behind.setAutoFillBackground(true);
        QPalette palette = behind.palette();
        palette.setColor(QPalette::Window, QColor::fromRgb(kBehind));
        behind.setPalette(palette);
        behind.setGeometry(QGuiApplication::primaryScreen()->geometry());
        behind.show();
        ASSERT_TRUE(QTest::qWaitForWindowExposed(&behind));

        form = std::make_unique<TControlForm>();
        ASSERT_TRUE(boxes.empty()) << boxes.front().toStdString();
        // Only the panel is looked at here.
        form->ViewForm()->hide();
        form->move(kOrigin);
        form->show();
        ASSERT_TRUE(QTest::qWaitForWindowExposed(form.get()));
        form->raise();
        skin = form->imgBack->Picture().convertToFormat(QImage::Format_RGB32);
        ASSERT_EQ(skin.size(), QSize(355, 166));
    }
    void TearDown() override {
        form.reset();
        SetMessageBoxHook(nullptr);
    }

    // Presses the left button at `from` (panel coordinates), moves the mouse
    // by `by` and releases it, as mouse events on the panel's window. A real
    // mouse moves on the screen: each event's position is taken relative to
    // where the window is at that moment.
    void Drag(const QPoint& from, const QPoint& by) {
        QWindow* window = form->windowHandle();
        const QPoint start = window->mapToGlobal(from);
        auto local = [window](const QPoint& global) {
            return global - window->mapToGlobal(QPoint());
        };
        // Each event is handled before the next comes, as a hand is slower
        // than the program.
        QTest::mousePress(window, Qt::LeftButton, {}, local(start));
        QApplication::processEvents();
        QTest::mouseMove(window, local(start + by / 2));
        QApplication::processEvents();
        QTest::mouseMove(window, local(start + by));
        QApplication::processEvents();
        QTest::mouseRelease(window, Qt::LeftButton, {}, local(start + by));
        QApplication::processEvents();
    }
    // Every pixel of the panel's area on the screen: the window beneath
    // where the skin is magenta or below `height`, otherwise the panel.
    void ExpectOutline(int height) {
        const QImage shot = GrabScreen(QRect(form->pos(), skin.size()));
        int wrong = 0;
        for (int y = 0; y < skin.height(); ++y)
            for (int x = 0; x < skin.width(); ++x) {
                const bool cut = y >= height || At(skin, x, y) == kMagenta;
                if ((At(shot, x, y) == kBehind) != cut && ++wrong <= 5)
                    ADD_FAILURE() << "(" << x << "," << y << ") " << (cut ? "not cut" : "cut");
            }
        EXPECT_EQ(wrong, 0);
    }

    FakeMediaSystem sys;  // before the form: outlives it
    std::vector<QString> boxes;
    QWidget behind;
    std::unique_ptr<TControlForm> form;
    QImage skin;
};

}  // namespace

TEST_F(ControlFormX11Test, OutlineIsTheSkinLessMagentaCutAtEitherHeight) {
    EXPECT_TRUE(form->windowFlags() & Qt::FramelessWindowHint);
    EXPECT_EQ(form->geometry(), QRect(kOrigin, QSize(355, 72)));
    // The rounded corners of the skin are magenta.
    ASSERT_EQ(At(skin, 0, 0), kMagenta);
    ASSERT_EQ(At(skin, 354, 0), kMagenta);
    ASSERT_EQ(At(skin, 0, 165), kMagenta);
    ASSERT_EQ(At(skin, 354, 165), kMagenta);
    ExpectOutline(72);
    // Bare skin is shown as it is.
    EXPECT_EQ(ScreenAt(kOrigin + QPoint(20, 40)), At(skin, 20, 40));
    EXPECT_EQ(ScreenAt(kOrigin + QPoint(177, 5)), At(skin, 177, 5));

    // A click on the expand arrow shows the strip below.
    QTest::mouseClick(form->windowHandle(), Qt::LeftButton, {}, QPoint(340, 60));
    EXPECT_EQ(form->geometry(), QRect(kOrigin, QSize(355, 166)));
    ExpectOutline(166);
    EXPECT_EQ(ScreenAt(kOrigin + QPoint(20, 150)), At(skin, 20, 150));
    QTest::mouseClick(form->windowHandle(), Qt::LeftButton, {}, QPoint(340, 60));
    EXPECT_EQ(form->geometry(), QRect(kOrigin, QSize(355, 72)));
    ExpectOutline(72);
}

// Without a compositing manager the shape alone cuts the preview window,
// which is then opaque (its video is drawn in its own buffer); under one it
// keeps its alpha channel, which compositors that ignore shapes draw.
TEST_F(ControlFormX11Test, ThePreviewWindowIsOpaqueUnlessACompositorRuns) {
    TViewForm* view = form->ViewForm();
    ASSERT_TRUE(ShapeAloneDrawsOutlines());
    EXPECT_FALSE(view->testAttribute(Qt::WA_TranslucentBackground));
    view->move(kOrigin + QPoint(0, 200));
    view->show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(view));
    // Its cut corner shows the window beneath, its frame the skin.
    EXPECT_TRUE(QTest::qWaitFor([&] { return ScreenAt(view->pos() + QPoint(1, 1)) == kBehind; },
                                2000));
    EXPECT_NE(ScreenAt(view->pos() + QPoint(30, 3)), kBehind);

    // Another client takes the screen's compositing manager selection.
    int screen = 0;
    xcb_connection_t* manager = xcb_connect(nullptr, &screen);
    ASSERT_FALSE(xcb_connection_has_error(manager));
    const xcb_window_t owner = xcb_generate_id(manager);
    const xcb_screen_t* root = xcb_setup_roots_iterator(xcb_get_setup(manager)).data;
    xcb_create_window(manager, XCB_COPY_FROM_PARENT, owner, root->root, 0, 0, 1, 1, 0,
                      XCB_WINDOW_CLASS_INPUT_ONLY, XCB_COPY_FROM_PARENT, 0, nullptr);
    const std::string name = "_NET_WM_CM_S" + std::to_string(screen);
    xcb_intern_atom_reply_t* atom = xcb_intern_atom_reply(
        manager, xcb_intern_atom(manager, 0, uint16_t(name.size()), name.c_str()), nullptr);
    ASSERT_NE(atom, nullptr);
    xcb_set_selection_owner(manager, owner, atom->atom, XCB_CURRENT_TIME);
    std::free(xcb_get_input_focus_reply(manager, xcb_get_input_focus(manager), nullptr));
    std::free(atom);
    EXPECT_FALSE(ShapeAloneDrawsOutlines());
    TViewForm composited;
    EXPECT_TRUE(composited.testAttribute(Qt::WA_TranslucentBackground));
    xcb_disconnect(manager);
    EXPECT_TRUE(QTest::qWaitFor([] { return ShapeAloneDrawsOutlines(); }, 2000));
}

TEST_F(ControlFormX11Test, PressingBareSkinDragsTheRealWindow) {
    Drag(QPoint(20, 40), QPoint(100, 60));
    EXPECT_EQ(form->pos(), kOrigin + QPoint(100, 60));
    // The window really moved: its old place shows what lies beneath, the
    // skin is drawn at the new place, still cut at its corners.
    EXPECT_EQ(ScreenAt(kOrigin + QPoint(20, 40)), kBehind);
    EXPECT_EQ(ScreenAt(form->pos() + QPoint(20, 40)), At(skin, 20, 40));
    EXPECT_EQ(ScreenAt(form->pos()), kBehind);
    // Dragging again, up and to the left, works the same.
    Drag(QPoint(20, 40), QPoint(-100, -60));
    EXPECT_EQ(form->pos(), kOrigin);
    EXPECT_EQ(ScreenAt(kOrigin + QPoint(20, 40)), At(skin, 20, 40));
}

TEST_F(ControlFormX11Test, ControlsKeepTheirPressesButDisabledButtonsDoNot) {
    form->SetExpanded(true);
    const QPoint by(-12, -8);  // the mouse stays over the panel
    const std::pair<QPoint, const char*> controls[] = {
        {QPoint(59, 37), "btnCapture"}, {QPoint(332, 13), "btnMinimize"},
        {QPoint(340, 60), "btnExpand"}, {QPoint(17, 100), "imgPrev"},
        {QPoint(60, 100), "BmpView1"},  {QPoint(234, 152), "btnDelete"},
    };
    for (const auto& [spot, name] : controls) {
        Drag(spot, by);
        EXPECT_EQ(form->pos(), kOrigin) << name;
        form->move(kOrigin);
    }
    EXPECT_EQ(form->height(), 166);

    // A file-name label covers the skin only while it is shown.
    const QPoint underLabel(60, 131);
    Drag(underLabel, by);
    EXPECT_EQ(form->pos(), kOrigin + by);
    form->move(kOrigin);
    form->lblBmp1->show();
    Drag(underLabel, by);
    EXPECT_EQ(form->pos(), kOrigin);

    // While recording the still button is disabled: pressing it drags.
    form->btnCapture->Tag = 1;
    form->ActionList->UpdateActions();
    ASSERT_FALSE(form->btnSnapShot->isEnabled());
    Drag(QPoint(118, 37), by);
    EXPECT_EQ(form->pos(), kOrigin + by);
    form->move(kOrigin);
    form->btnCapture->Tag = 0;
    form->ActionList->UpdateActions();
    ASSERT_TRUE(form->btnSnapShot->isEnabled());
    Drag(QPoint(118, 37), by);
    EXPECT_EQ(form->pos(), kOrigin);
}

TEST_F(ControlFormX11Test, SettingsMenuOpensUnderTheSettingsButtonsLeftEdge) {
    const QPoint corner = kOrigin + QPoint(273, 59);
    EXPECT_EQ(ScreenAt(corner + QPoint(3, 20)), kBehind);
    QTest::mouseClick(form->windowHandle(), Qt::LeftButton, {}, QPoint(295, 37));
    ASSERT_TRUE(QTest::qWaitForWindowExposed(form->menuConfig));
    EXPECT_EQ(form->pos(), kOrigin);
    EXPECT_EQ(form->menuConfig->geometry().topLeft(), corner);
    // On the screen: the menu below the panel starts at the button's left
    // edge, nothing of it lies left of that.
    EXPECT_NE(ScreenAt(corner + QPoint(3, 20)), kBehind);
    EXPECT_EQ(ScreenAt(corner + QPoint(-3, 20)), kBehind);
    form->menuConfig->hide();
}

TEST_F(ControlFormX11Test, ToolTipsShowOnHoverWhileThePreviewIsTheActiveWindow) {
    // The panel, active at start, then the preview window made the active
    // one, as a click on it does.
    ASSERT_TRUE(QTest::qWaitFor([&] { return QApplication::activeWindow() == form.get(); }));
    TViewForm* view = form->ViewForm();
    view->move(700, 500);
    view->show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(view));
    view->activateWindow();
    ASSERT_TRUE(QTest::qWaitFor([&] { return QApplication::activeWindow() == view; }));
    ASSERT_FALSE(form->isActiveWindow());

    const std::pair<TImageButton*, const char*> buttons[] = {
        {form->btnSnapShot, "Image Fixe"}, {form->btnConfig, "Configuration"}};
    for (const auto& [button, hint] : buttons) {
        const QPoint centre = button->mapToGlobal(button->rect().center());
        QCursor::setPos(centre - QPoint(3, 3));
        QTest::qWait(50);
        QCursor::setPos(centre);
        EXPECT_TRUE(QTest::qWaitFor(
            [&] { return QToolTip::isVisible() && QToolTip::text() == hint; }, 3000))
            << hint;
        EXPECT_TRUE(view->isActiveWindow());
        QToolTip::hideText();
        QCursor::setPos(kOrigin - QPoint(50, 50));
        QTest::qWait(600);
    }
}

TEST_F(ControlFormX11Test, ExpandedInTheScreensCornerThePanelGoesUpAndBackDownWhenNormal) {
    const QRect work = QGuiApplication::primaryScreen()->availableGeometry();
    const QPoint corner(work.right() + 1 - 355, work.bottom() + 1 - 72);
    form->move(corner);
    QApplication::processEvents();
    form->actExpand->Execute();
    QApplication::processEvents();
    EXPECT_EQ(form->geometry(), QRect(corner.x(), work.bottom() + 1 - 166, 355, 166));
    form->actExpand->Execute();
    QApplication::processEvents();
    EXPECT_EQ(form->geometry(), QRect(corner, QSize(355, 72)));

    // Moved by the user while expanded, it stays where it was put.
    form->actExpand->Execute();
    form->move(corner - QPoint(200, 300));
    form->actExpand->Execute();
    EXPECT_EQ(form->pos(), corner - QPoint(200, 300));
    // With room below, it grows downwards as it always did.
    form->actExpand->Execute();
    EXPECT_EQ(form->geometry(), QRect(corner - QPoint(200, 300), QSize(355, 166)));
}

// Where a window manager leaves the panel over the preview window but the X
// server stacks the preview above it (weston's, for programs on XWayland),
// the X server hands the preview window the clicks at the panel's spots.
TEST_F(ControlFormX11Test, ClicksThePreviewWindowGetsAtThePanelsSpotsGoToThePanel) {
    TViewForm* view = form->ViewForm();
    view->move(kOrigin - QPoint(60, 40));
    view->show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(view));
    QWindow* preview = view->windowHandle();
    const auto click = [&](const QPoint& onPanel) {
        const QPoint at = preview->mapFromGlobal(kOrigin + onPanel);
        QTest::mousePress(preview, Qt::LeftButton, {}, at);
        QTest::mouseRelease(preview, Qt::LeftButton, {}, at);
        QApplication::processEvents();
    };
    click(QPoint(340, 60));  // the expand arrow
    EXPECT_TRUE(PanelState(*form).Expanded);
    click(QPoint(340, 60));
    EXPECT_FALSE(PanelState(*form).Expanded);
    // A cut-out corner of the panel (magenta in the skin) is the preview's.
    click(QPoint(0, 0));
    click(QPoint(1, 1));
    EXPECT_FALSE(PanelState(*form).Expanded);
    EXPECT_EQ(form->pos(), kOrigin);
}
