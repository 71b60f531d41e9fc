// SPDX-License-Identifier: GPL-3.0-or-later
// The renderer's window on a real X server: painted inside its owner, moved
// out to a full-screen top-level window and back, as the video window does
// when full screen is switched on and off; inside a see-through owner (the
// preview window), the frames drawn by a window without alpha channel, and
// the X server's own clicks on it reaching the drain; frames that fill it
// drawn by the X server from the buffers they were decoded or converted
// into.
#include <gst/app/gstappsrc.h>
#include <gst/gst.h>
#include <gtest/gtest.h>
#include <xcb/xcb.h>

#include <QGuiApplication>
#include <QMouseEvent>
#include <QProcess>
#include <QScreen>
#include <QTest>
#include <QWindow>
#include <vector>

#include "media/gst/VideoRendererCore.h"
#include "media/gst/VideoRendererWindow.h"
#include "media/gst/VideoSurface.h"
#include "media/tests/GstTestFeed.h"

namespace media::gst {
namespace {

// appsrc ! renderer, pushing plain BGR frames.
class ColourSource {
  public:
    explicit ColourSource(VideoRendererCore& renderer)
        : feed_(renderer.Element(), CapsRef::Adopt(gst_caps_from_string(
                                        "video/x-raw,format=BGR,width=16,height=8,framerate=30/1"))) {}

    void Push(uint8_t b, uint8_t g, uint8_t r) {
        std::vector<uint8_t> frame(16 * 3 * 8);
        for (size_t i = 0; i < frame.size(); i += 3)
            frame[i] = b, frame[i + 1] = g, frame[i + 2] = r;
        feed_.Push(gst_buffer_new_memdup(frame.data(), frame.size()));
    }

  private:
    AppSrcFeed feed_;
};

// Counts the events of one type that reach an object.
class EventCounter : public QObject {
  public:
    explicit EventCounter(QEvent::Type type) : type_(type) {}
    int count = 0;
    bool eventFilter(QObject*, QEvent* e) override {
        if (e->type() == type_)
            ++count;
        return false;
    }

  private:
    QEvent::Type type_;
};

// The renderer as the video window places it: a child of its owner over
// rect, its input handed to drain.
void PlaceInOwner(VideoRendererCore& renderer, QWidget* owner, const QRect& rect, QWidget* drain) {
    renderer.put_Owner(owner);
    renderer.put_WindowStyle(WS_CHILD | WS_CLIPSIBLINGS);
    renderer.SetWindowPosition(rect.x(), rect.y(), rect.width(), rect.height());
    renderer.put_MessageDrain(drain);
}

bool Shows(QWidget* w, QPoint p, QColor colour) {
    return w->grab().toImage().pixelColor(p) == colour;
}

// What the X server shows at a point of the screen.
QColor OnScreen(QPoint p) {
    return QGuiApplication::primaryScreen()->grabWindow(0, p.x(), p.y(), 1, 1).toImage().pixelColor(
        0, 0);
}

// The depth of an X window's pixels (32: with an alpha channel).
int Depth(WId window) {
    auto* x11 = qApp->nativeInterface<QNativeInterface::QX11Application>();
    if (!x11)
        return 0;
    xcb_connection_t* c = x11->connection();
    xcb_get_geometry_reply_t* reply =
        xcb_get_geometry_reply(c, xcb_get_geometry(c, xcb_drawable_t(window)), nullptr);
    const int depth = reply ? reply->depth : 0;
    free(reply);
    return depth;
}

// appsrc ! renderer, pushing 320 x 240 JPEG frames, 20 ms apart.
class JpegSource {
  public:
    explicit JpegSource(VideoRendererCore& renderer)
        : feed_(renderer.Element(), CapsRef::Adopt(gst_caps_from_string(
                                        "image/jpeg,width=320,height=240,framerate=30/1"))) {}

    void Push(const QByteArray& jpeg, int frames = 1) {
        for (int i = 0; i < frames; ++i) {
            feed_.Push(gst_buffer_new_memdup(jpeg.constData(), size_t(jpeg.size())));
            QTest::qWait(20);
        }
    }

  private:
    AppSrcFeed feed_;
};

// Whether the screen shows the frame's pixels at a few points, with the
// frame's top left corner at `at`.
bool ScreenShows(const QImage& frame, QPoint at) {
    for (QPoint p : {QPoint(5, 10), QPoint(150, 10), QPoint(80, 110)})
        if (OnScreen(at + p) != frame.pixelColor(p))
            return false;
    return true;
}

// Clicks with the X server's pointer at a point of the screen.
void ClickOnScreen(QPoint p, int button) {
    QProcess xdotool;
    xdotool.start(QStringLiteral("xdotool"),
                  {QStringLiteral("mousemove"), QString::number(p.x()), QString::number(p.y()),
                   QStringLiteral("click"), QString::number(button)});
    ASSERT_TRUE(xdotool.waitForFinished(10000));
    ASSERT_EQ(xdotool.exitCode(), 0) << xdotool.readAllStandardError().toStdString();
}

// The mouse presses a widget, or a window's watcher, is given.
class PressLog : public QObject {
  public:
    std::vector<std::pair<Qt::MouseButton, QPoint>> presses;
    int contextMenus = 0;
    bool eventFilter(QObject*, QEvent* e) override {
        if (e->type() == QEvent::MouseButtonPress) {
            auto* m = static_cast<QMouseEvent*>(e);
            presses.emplace_back(m->button(), m->position().toPoint());
        } else if (e->type() == QEvent::ContextMenu) {
            ++contextMenus;
        }
        return false;
    }
};

TEST(GstRendererX11, GoesFullScreenAndBackIntoItsOwner) {
    VideoRendererCore renderer;
    QWidget owner;
    owner.resize(400, 300);
    owner.show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(&owner));
    QWidget drain(&owner);
    drain.setGeometry(10, 10, 200, 100);
    drain.show();
    EventCounter keys(QEvent::KeyPress);
    drain.installEventFilter(&keys);
    PlaceInOwner(renderer, &owner, QRect(10, 10, 200, 100), &drain);
    ColourSource source(renderer);
    source.Push(0, 0, 255);
    VideoRendererWindow* w = renderer.Window();
    ASSERT_TRUE(QTest::qWaitFor([&] { return w->isVisible(); }, 5000));
    // Painted inside the owner, over the given rectangle only.
    ASSERT_TRUE(QTest::qWaitFor([&] { return Shows(&owner, {100, 50}, Qt::red); }, 5000));
    EXPECT_FALSE(Shows(&owner, {300, 200}, Qt::red));

    // Full screen: no owner, no caption, on top, the whole screen.
    const QRect screen = QGuiApplication::primaryScreen()->geometry();
    renderer.put_Owner(nullptr);
    renderer.put_WindowStyle(0);
    renderer.put_WindowStyleEx(WS_EX_TOPMOST);
    renderer.SetWindowPosition(screen.x(), screen.y(), screen.width(), screen.height());
    EXPECT_TRUE(w->isWindow());
    EXPECT_TRUE(w->isVisible());
    EXPECT_TRUE(w->windowFlags() & Qt::FramelessWindowHint);
    EXPECT_TRUE(w->windowFlags() & Qt::WindowStaysOnTopHint);
    EXPECT_TRUE(w->windowState() & Qt::WindowFullScreen);
    ASSERT_TRUE(QTest::qWaitForWindowExposed(w));
    source.Push(255, 0, 0);
    ASSERT_TRUE(QTest::qWaitFor(
        [&] {
            return Shows(w, {w->width() / 2, w->height() / 2}, Qt::blue);
        },
        5000));
    // Keys typed into the full-screen window reach the drain.
    QTest::keyClick(w, Qt::Key_Escape);
    EXPECT_EQ(keys.count, 1);

    // Back into the owner.
    renderer.put_Owner(&owner);
    renderer.put_WindowStyle(WS_CHILD | WS_CLIPSIBLINGS);
    renderer.put_WindowStyleEx(0);
    renderer.SetWindowPosition(10, 10, 200, 100);
    EXPECT_FALSE(w->isWindow());
    EXPECT_EQ(w->parentWidget(), &owner);
    EXPECT_FALSE(w->windowState() & Qt::WindowFullScreen);
    EXPECT_TRUE(w->isVisible());
    EXPECT_EQ(w->geometry(), QRect(10, 10, 200, 100));
    ASSERT_TRUE(QTest::qWaitFor([&] { return Shows(&owner, {100, 50}, Qt::blue); }, 5000));
}

// The preview window is see-through outside its outline; the frames are
// drawn by a window of their own without alpha channel (its buffer is never
// cleared to transparent first), and the pointer's clicks on that window go
// where they went when the widget drew the frames: to the drain, through
// the top-level window (whose watchers see them).
TEST(GstRendererX11, DrawsInAnOpaqueWindowOfItsOwnAndHandsOnTheServersClicks) {
    VideoRendererCore renderer;
    QWidget owner(nullptr, Qt::FramelessWindowHint);
    owner.setAttribute(Qt::WA_TranslucentBackground);
    owner.setGeometry(100, 100, 400, 300);
    QWidget drain(&owner);
    drain.setGeometry(20, 30, 200, 100);
    owner.show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(&owner));
    PressLog atDrain, atWindow;
    drain.installEventFilter(&atDrain);
    owner.windowHandle()->installEventFilter(&atWindow);
    PlaceInOwner(renderer, &owner, QRect(20, 30, 200, 100), &drain);
    ColourSource source(renderer);
    source.Push(0, 0, 255);
    VideoRendererWindow* w = renderer.Window();
    ASSERT_TRUE(QTest::qWaitFor([&] { return w->isVisible(); }, 5000));
    VideoSurface* surface = w->Surface();
    ASSERT_TRUE(QTest::qWaitFor([&] { return surface->isExposed(); }, 5000));

    EXPECT_EQ(Depth(owner.winId()), 32);
    EXPECT_EQ(Depth(surface->winId()), 24);
    EXPECT_EQ(surface->geometry(), QRect(20, 30, 200, 100));
    // On the screen: the frame over the renderer's rectangle.
    ASSERT_TRUE(QTest::qWaitFor([&] { return OnScreen({100 + 120, 100 + 80}) == Qt::red; }, 5000));
    source.Push(255, 0, 0);
    ASSERT_TRUE(QTest::qWaitFor([&] { return OnScreen({100 + 120, 100 + 80}) == Qt::blue; }, 5000));
    EXPECT_GT(surface->FramesDrawn(), 1);
    EXPECT_NE(OnScreen({100 + 300, 100 + 200}), QColor(Qt::blue));
    // A new rectangle: the surface follows.
    renderer.SetWindowPosition(40, 50, 100, 60);
    ASSERT_TRUE(QTest::qWaitFor([&] { return surface->geometry() == QRect(40, 50, 100, 60); }, 5000));
    ASSERT_TRUE(QTest::qWaitFor([&] { return OnScreen({100 + 130, 100 + 100}) == Qt::blue; }, 5000));

    // The server's clicks: left, then right (which also asks for the
    // context menu). The drain lies elsewhere: points in its own terms.
    ClickOnScreen({100 + 45, 100 + 57}, 1);
    ASSERT_TRUE(QTest::qWaitFor([&] { return atDrain.presses.size() == 1; }, 5000));
    EXPECT_EQ(atDrain.presses[0].first, Qt::LeftButton);
    EXPECT_EQ(atDrain.presses[0].second, QPoint(25, 27));
    ASSERT_FALSE(atWindow.presses.empty());
    EXPECT_EQ(atWindow.presses.back().second, QPoint(45, 57));
    ClickOnScreen({100 + 50, 100 + 60}, 3);
    ASSERT_TRUE(QTest::qWaitFor([&] { return atDrain.presses.size() == 2; }, 5000));
    EXPECT_EQ(atDrain.presses[1].first, Qt::RightButton);
    ASSERT_TRUE(QTest::qWaitFor([&] { return atDrain.contextMenus == 1; }, 5000));
}

// In an opaque window, a camera's JPEG frame that fills the renderer is
// decoded into memory the X server reads, and the server copies it into the
// window: the widget is not painted for it. A widget laid over the video,
// or a frame that does not fill the renderer, has the widget paint it.
TEST(GstRendererX11, HasTheServerDrawJpegFramesThatFillItFromTheirOwnBuffers) {
    VideoRendererCore renderer;
    QWidget owner(nullptr, Qt::FramelessWindowHint);
    owner.setGeometry(100, 100, 400, 300);
    owner.show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(&owner));
    PlaceInOwner(renderer, &owner, QRect(20, 30, 160, 120), nullptr);
    // Decoded at half their size.
    const QByteArray red = JpegBars(320, 240, "I420", "red");
    const QByteArray bars = JpegBars(320, 240);
    JpegSource source(renderer);
    VideoRendererWindow* w = renderer.Window();
    EventCounter paints(QEvent::Paint);
    w->installEventFilter(&paints);
    // Put once the server has said what the window is (the first frame is
    // painted as the widget is shown).
    ASSERT_TRUE(QTest::qWaitFor(
        [&] {
            source.Push(red);
            return w->FramesPut() > 0;
        },
        5000));
    uint64_t put = w->FramesPut();
    int painted = paints.count;
    source.Push(bars, 20);
    // Three buffers: each is lent again once the server has read it.
    EXPECT_GE(w->FramesPut() - put, 15u);
    EXPECT_EQ(paints.count, painted);
    const QImage frame = w->CurrentFrame();
    ASSERT_EQ(frame.size(), QSize(160, 120));
    EXPECT_TRUE(ScreenShows(frame, {120, 130}));
    // Uncovered, the window shows the newest frame, not the older one its
    // buffer held.
    {
        QWidget cover(nullptr, Qt::FramelessWindowHint);
        cover.setGeometry(50, 50, 500, 400);
        cover.show();
        ASSERT_TRUE(QTest::qWaitForWindowExposed(&cover));
    }
    QTest::qWait(200);
    EXPECT_TRUE(ScreenShows(frame, {120, 130}));

    // A notice over a corner of the video: painted by the widget, beneath it.
    QWidget notice(&owner);
    notice.setGeometry(150, 130, 60, 40);
    notice.show();
    notice.raise();
    auto painting = [&] {
        return QTest::qWaitFor(
            [&] {
                put = w->FramesPut();
                painted = paints.count;
                source.Push(bars, 3);
                return w->FramesPut() == put && paints.count > painted;
            },
            5000);
    };
    EXPECT_TRUE(painting());
    notice.hide();
    // A size that no scale of the frame fills: painted, scaled.
    renderer.SetWindowPosition(20, 30, 150, 100);
    EXPECT_TRUE(painting());
    EXPECT_EQ(w->CurrentFrame().size(), QSize(160, 120));
    renderer.SetWindowPosition(20, 30, 160, 120);
    EXPECT_TRUE(QTest::qWaitFor(
        [&] {
            put = w->FramesPut();
            source.Push(bars);
            return w->FramesPut() > put;
        },
        5000));
}

// A camera's raw frames that fill the renderer are converted straight into
// those buffers too.
TEST(GstRendererX11, HasTheServerDrawRawFramesThatFillItFromTheirOwnBuffers) {
    VideoRendererCore renderer;
    QWidget owner(nullptr, Qt::FramelessWindowHint);
    owner.setGeometry(100, 100, 400, 300);
    owner.show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(&owner));
    PlaceInOwner(renderer, &owner, QRect(20, 30, 160, 120), nullptr);
    AppSrcFeed feed(renderer.Element(), CapsRef::Adopt(gst_caps_from_string(
                                            "video/x-raw,format=YUY2,width=160,height=120,framerate=30/1")));
    std::vector<uint8_t> yuy2(160 * 2 * 120);
    for (size_t i = 0; i < yuy2.size(); ++i)
        yuy2[i] = uint8_t(i % 320 / 2 + i / 320);
    const auto push = [&] {
        feed.Push(gst_buffer_new_memdup(yuy2.data(), yuy2.size()));
        QTest::qWait(20);
    };
    VideoRendererWindow* w = renderer.Window();
    EventCounter paints(QEvent::Paint);
    w->installEventFilter(&paints);
    ASSERT_TRUE(QTest::qWaitFor(
        [&] {
            push();
            return w->FramesPut() > 0;
        },
        5000));
    const uint64_t put = w->FramesPut();
    const int painted = paints.count;
    for (int i = 0; i < 10; ++i)
        push();
    EXPECT_GE(w->FramesPut() - put, 8u);
    EXPECT_EQ(paints.count, painted);
    EXPECT_TRUE(ScreenShows(w->CurrentFrame(), {120, 130}));
}

// In a see-through window the frames are drawn on the renderer's surface:
// there too the server copies those that fill it from their own buffers.
TEST(GstRendererX11, HasTheServerDrawJpegFramesOnItsSurfaceInASeeThroughWindow) {
    VideoRendererCore renderer;
    QWidget owner(nullptr, Qt::FramelessWindowHint);
    owner.setAttribute(Qt::WA_TranslucentBackground);
    owner.setGeometry(100, 100, 400, 300);
    owner.show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(&owner));
    PlaceInOwner(renderer, &owner, QRect(20, 30, 160, 120), nullptr);
    const QByteArray bars = JpegBars(320, 240);
    JpegSource source(renderer);
    VideoRendererWindow* w = renderer.Window();
    ASSERT_TRUE(QTest::qWaitFor(
        [&] {
            source.Push(bars);
            return w->Surface() && w->Surface()->FramesPut() > 0;
        },
        5000));
    const int put = w->Surface()->FramesPut();
    source.Push(bars, 10);
    EXPECT_GE(w->Surface()->FramesPut() - put, 8);
    EXPECT_TRUE(ScreenShows(w->CurrentFrame(), {120, 130}));
}

}  // namespace
}  // namespace media::gst
