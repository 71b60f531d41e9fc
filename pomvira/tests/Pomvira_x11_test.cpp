// SPDX-License-Identifier: GPL-3.0-or-later
// The camera program as a user starts it: the control panel on the real
// GStreamer framework with two built-in test cameras, on a real X server.
// The preview window shows the camera's moving picture, the two windows sit
// where they belong, and the stored capture format and device are honoured.
#include <QGuiApplication>
#include <QProcess>
#include <QLabel>
#include <QScreen>
#include <QTest>
#include <algorithm>
#include <cstdlib>
#include <gtest/gtest.h>
#include <set>
#include <xcb/xcb.h>

#include "ControlFormTesting.h"
#include "forms/frmControl.h"
#include "forms/frmView.h"
#include "media/Bitmap.h"
#include "media/Filter.h"
#include "media/MediaUtil.h"
#include "media/SampleGrabber.h"
#include "media/VideoWindow.h"
#include "ScreenAndMouse.h"
#include "TestDesktop.h"

using namespace media;

namespace {

// The number of test cameras is read once, when the framework is first
// set up: every test of this program sees the same two cameras.
const auto* const kEnvironment = ::testing::AddGlobalTestEnvironment(new GstTestDevices("2"));

QImage GrabScreen(const QRect& rect) {
    return testing_screen::GrabScreen(rect, 0);
}

// The X server's stacking order of the top-level windows, bottom first (the
// order of the root window's children), read on Qt's own connection so that
// every request Qt has made is handled before.
std::vector<xcb_window_t> Stacking() {
    QApplication::processEvents();
    auto* x11 = qGuiApp->nativeInterface<QNativeInterface::QX11Application>();
    xcb_connection_t* c = x11->connection();
    const xcb_window_t root = xcb_setup_roots_iterator(xcb_get_setup(c)).data->root;
    std::vector<xcb_window_t> order;
    xcb_query_tree_reply_t* tree = xcb_query_tree_reply(c, xcb_query_tree(c, root), nullptr);
    if (!tree)
        return order;
    const xcb_window_t* children = xcb_query_tree_children(tree);
    order.assign(children, children + xcb_query_tree_children_length(tree));
    free(tree);
    return order;
}

// True when the panel lies above the preview window on the X server now.
bool PanelAboveNow(TControlForm& form) {
    const std::vector<xcb_window_t> order = Stacking();
    auto index = [&](QWidget* w) {
        auto it = std::find(order.begin(), order.end(), xcb_window_t(w->winId()));
        return it == order.end() ? -1 : int(it - order.begin());
    };
    const int panel = index(&form), view = index(form.ViewForm());
    return panel >= 0 && view >= 0 && panel > view;
}

// True when the panel comes above the preview window (bounded wait: a raise
// after the preview window changed is queued work).
bool PanelAbove(TControlForm& form) {
    return QTest::qWaitFor([&] { return PanelAboveNow(form); }, 3000);
}

// What another client (a window manager raising a clicked window) does: puts
// the window on top of the stack.
void RaiseOnServer(QWidget* w) {
    auto* x11 = qGuiApp->nativeInterface<QNativeInterface::QX11Application>();
    xcb_connection_t* c = x11->connection();
    const uint32_t above = XCB_STACK_MODE_ABOVE;
    xcb_configure_window(c, xcb_window_t(w->winId()), XCB_CONFIG_WINDOW_STACK_MODE, &above);
    xcb_flush(c);
}

class PomviraX11Test : public ControlFormTestBase {
  protected:
    void SetUp() override {
        if (QGuiApplication::platformName() != "xcb")
            GTEST_SKIP() << "needs an X server";
        ControlFormTestBase::SetUp();
    }
    // Starts the panel as the program does and waits until both windows are
    // on the screen.
    static void Show(TControlForm& form) {
        form.show();
        ASSERT_NE(form.ViewForm(), nullptr);
        ASSERT_TRUE(QTest::qWaitForWindowExposed(&form));
        ASSERT_TRUE(QTest::qWaitForWindowExposed(form.ViewForm()));
    }
};

}  // namespace

TEST_F(PomviraX11Test, DefaultStartShowsTheMovingPictureFramedAboveThePanel) {
    {
        TControlForm form;
        ASSERT_NO_FATAL_FAILURE(Show(form));
        EXPECT_TRUE(boxes.empty()) << FirstBox();
        TViewForm* view = form.ViewForm();
        EXPECT_EQ(view->size(), QSize(640 + 36, 480 + 56));
        EXPECT_EQ(view->lblSize->text(), "640 x 480");
        EXPECT_EQ(view->lblStatus->text(), "( Preview )");
        EXPECT_TRUE(view->lblSize->isVisible());
        EXPECT_TRUE(view->lblStatus->isVisible());
        // Both texts lie on the top bar (the 37 pixels above the video).
        EXPECT_LE(view->lblSize->geometry().bottom(), 36);
        EXPECT_LE(view->lblStatus->geometry().bottom(), 36);

        // Both windows centred on the screen as one block, the panel
        // directly below the preview window.
        const QRect screen = QGuiApplication::primaryScreen()->geometry();
        EXPECT_EQ(view->x(), (screen.width() - view->width()) / 2);
        EXPECT_EQ(view->y(), (screen.height() - view->height() - form.height()) / 2);
        EXPECT_EQ(form.y(), view->y() + view->height());
        EXPECT_EQ(form.x(), view->x() + (view->width() - form.width()) / 2);

        const TBitmap frame = WaitForFrame(form);
        EXPECT_EQ(frame.Width(), 640);
        EXPECT_EQ(frame.Height(), 480);

        // The screen where the video lies shows the test picture, and it moves.
        const QRect video(view->VideoWindow->mapToGlobal(QPoint(0, 0)), view->VideoWindow->size());
        EXPECT_EQ(video.size(), QSize(640, 480));
        EXPECT_EQ(video.topLeft(), view->pos() + QPoint(19, 37));
        QTest::qWait(200);
        const QImage first = GrabScreen(video);
        QTest::qWait(300);
        const QImage second = GrabScreen(video);
        int lit = 0, changed = 0;
        std::set<QRgb> colours;
        for (int y = 0; y < first.height(); y += 4)
            for (int x = 0; x < first.width(); x += 4) {
                const QRgb p = first.pixel(x, y) & 0xFFFFFF;
                lit += qGray(p) > 40;
                changed += p != (second.pixel(x, y) & 0xFFFFFF);
                colours.insert(p);
            }
        const int samples = (640 / 4) * (480 / 4);
        EXPECT_GT(lit, samples / 2) << "the video area is mostly dark";
        EXPECT_GE(colours.size(), 8u) << "no colour bars";
        EXPECT_GT(changed, samples / 20) << "the picture does not move";
        if (qEnvironmentVariableIsSet("POMVIRA_X11_SHOT"))
            GrabScreen(view->geometry().united(form.geometry()))
                .save(qEnvironmentVariable("POMVIRA_X11_SHOT"));
    }
    EXPECT_EQ(Ini().ReadString("CAPTURE", "VIDEO FORMAT", ""), k640);
    EXPECT_EQ(Ini().ReadString("CAPTURE", "VIDEO DEVICE", ""), "0");
}

// Without a window manager nothing keeps "stay on top" windows above others:
// the program itself keeps the panel above the preview window.
TEST_F(PomviraX11Test, PanelStaysAboveThePreviewWindow) {
    TControlForm form;
    ASSERT_NO_FATAL_FAILURE(Show(form));
    TViewForm* view = form.ViewForm();
    // The panel belongs to the preview window (never the other way round).
    EXPECT_EQ(form.windowHandle()->transientParent(), view->windowHandle());
    EXPECT_EQ(view->windowHandle()->transientParent(), nullptr);
    EXPECT_TRUE(PanelAbove(form)) << "after start-up";

    // A click on the preview window's title bar, which a window manager
    // answers by raising that window.
    form.activateWindow();
    QTest::qWait(100);
    RaiseOnServer(view);
    ASSERT_FALSE(PanelAboveNow(form));
    const QPoint title = view->mapToGlobal(QPoint(view->width() / 2, 20));
    QProcess click;
    click.start(QStringLiteral("xdotool"),
                {QStringLiteral("mousemove"), QString::number(title.x()),
                 QString::number(title.y()), QStringLiteral("click"), QStringLiteral("1")});
    ASSERT_TRUE(click.waitForFinished(5000));
    ASSERT_EQ(click.exitCode(), 0);
    EXPECT_TRUE(PanelAbove(form)) << "after a click on the preview window";

    // The preview window grows to cover the whole screen.
    RaiseOnServer(view);
    ASSERT_FALSE(PanelAboveNow(form));
    const QRect screen = QGuiApplication::primaryScreen()->geometry();
    EXPECT_TRUE(view->SetVideoSize(screen.width(), screen.height()));
    EXPECT_TRUE(PanelAbove(form)) << "with the preview covering the screen";
}

TEST_F(PomviraX11Test, StoredFormatThatTheCameraOffersStartsItInThatFormat) {
    Ini().WriteString("CAPTURE", "VIDEO FORMAT", k320);
    {
        TControlForm form;
        ASSERT_NO_FATAL_FAILURE(Show(form));
        EXPECT_TRUE(boxes.empty());
        EXPECT_EQ(PinFormatText(Probe(form).VideoSource()), k320);
        const TBitmap frame = WaitForFrame(form);
        EXPECT_EQ(frame.Width(), 320);
        EXPECT_EQ(frame.Height(), 240);
        EXPECT_EQ(form.ViewForm()->size(), QSize(356, 296));
        EXPECT_EQ(form.ViewForm()->lblSize->text(), "320 x 240");
        EXPECT_EQ(form.ViewForm()->VideoWindow->size(), QSize(320, 240));
        EXPECT_EQ(PanelState(form).VideoFormat, k320);
    }
    EXPECT_EQ(Ini().ReadString("CAPTURE", "VIDEO FORMAT", ""), k320);
}

// A stored format the camera does not offer: the camera opens in its
// largest format whose framed preview fits the 1600 x 1200 screen with the
// panel below (1280 x 720 at 30 fps); the stored text stays for a camera
// that offers it.
TEST_F(PomviraX11Test, StoredFormatThatTheCameraDoesNotOfferOpensTheLargestThatFits) {
    if (!OnScreenOfItsOwn(QSize(1600, 1200)))
        return;
    const QString other = QString::fromLatin1(k640).replace("640X480", "800X600");
    Ini().WriteString("CAPTURE", "VIDEO FORMAT", other);
    {
        TControlForm form;
        ASSERT_NO_FATAL_FAILURE(Show(form));
        EXPECT_EQ(PinFormatText(Probe(form).VideoSource()),
                  QString::fromLatin1(k640).replace("640X480", "1280X720"));
        const TBitmap frame = WaitForFrame(form);
        EXPECT_EQ(frame.Width(), 1280);
        EXPECT_EQ(frame.Height(), 720);
        EXPECT_EQ(form.ViewForm()->size(), QSize(1280 + 36, 720 + 56));
        EXPECT_EQ(PanelState(form).VideoFormat, other);
    }
    EXPECT_EQ(Ini().ReadString("CAPTURE", "VIDEO FORMAT", ""), other);
}

TEST_F(PomviraX11Test, StoredSecondCameraGivesWayToTheFirst) {
    Ini().WriteInteger("CAPTURE", "VIDEO DEVICE", 1);
    {
        TControlForm form;
        ASSERT_NO_FATAL_FAILURE(Show(form));
        TSysDevEnum cameras(CLSID_VideoInputDeviceCategory);
        ASSERT_GE(cameras.DeviceCount(), 2);
        EXPECT_EQ(cameras.DeviceEntry(0).FriendlyName, "Test Camera 1");
        EXPECT_EQ(cameras.DeviceEntry(1).FriendlyName, "Test Camera 2");
        TBaseFilter first, second;
        first.StoreMoniker(cameras.DeviceMoniker(0).Get());
        second.StoreMoniker(cameras.DeviceMoniker(1).Get());
        EXPECT_TRUE(Probe(form).VideoSource()->BaseFilter().Equals(first));
        EXPECT_FALSE(Probe(form).VideoSource()->BaseFilter().Equals(second));
        EXPECT_EQ(PanelState(form).VideoDevice, 0);
        // The first camera is the one that runs.
        EXPECT_EQ(WaitForFrame(form).Width(), 640);
    }
    EXPECT_EQ(Ini().ReadString("CAPTURE", "VIDEO DEVICE", ""), "0");
}
