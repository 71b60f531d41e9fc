// SPDX-License-Identifier: GPL-3.0-or-later
// The renderer's window on a real X server: painted inside its owner, moved
// out to a full-screen top-level window and back, as the video window does
// when full screen is switched on and off.
#include <gst/app/gstappsrc.h>
#include <gst/gst.h>
#include <gtest/gtest.h>

#include <QGuiApplication>
#include <QScreen>
#include <QTest>
#include <vector>

#include "media/gst/VideoRendererCore.h"

namespace media::gst {
namespace {

// appsrc ! renderer, pushing plain BGR frames.
class ColourSource {
  public:
    explicit ColourSource(VideoRendererCore& renderer) {
        pipeline_ = ElementRef::Sink(gst_pipeline_new(nullptr));
        src_ = gst_element_factory_make("appsrc", nullptr);
        CapsRef caps = CapsRef::Adopt(
            gst_caps_from_string("video/x-raw,format=BGR,width=16,height=8,framerate=30/1"));
        g_object_set(src_, "caps", caps.Get(), "format", GST_FORMAT_TIME, nullptr);
        g_object_set(renderer.Element(), "sync", FALSE, nullptr);
        gst_bin_add_many(GST_BIN(pipeline_.Get()), src_, renderer.Element(), nullptr);
        EXPECT_TRUE(gst_element_link(src_, renderer.Element()));
        gst_element_set_state(pipeline_.Get(), GST_STATE_PLAYING);
    }
    ~ColourSource() { gst_element_set_state(pipeline_.Get(), GST_STATE_NULL); }

    void Push(uint8_t b, uint8_t g, uint8_t r) {
        std::vector<uint8_t> frame(16 * 3 * 8);
        for (size_t i = 0; i < frame.size(); i += 3)
            frame[i] = b, frame[i + 1] = g, frame[i + 2] = r;
        GstBuffer* buffer = gst_buffer_new_memdup(frame.data(), frame.size());
        GST_BUFFER_PTS(buffer) = pts_;
        pts_ += GST_SECOND / 30;
        ASSERT_EQ(gst_app_src_push_buffer(GST_APP_SRC(src_), buffer), GST_FLOW_OK);
    }

  private:
    ElementRef pipeline_;
    GstElement* src_;  // owned by the pipeline
    GstClockTime pts_ = 0;
};

// Counts the key presses that reach a widget.
class KeyCounter : public QObject {
  public:
    int presses = 0;
    bool eventFilter(QObject*, QEvent* e) override {
        if (e->type() == QEvent::KeyPress)
            ++presses;
        return false;
    }
};

bool Shows(QWidget* w, QPoint p, QColor colour) {
    return w->grab().toImage().pixelColor(p) == colour;
}

TEST(GstRendererX11, GoesFullScreenAndBackIntoItsOwner) {
    gst_init(nullptr, nullptr);
    VideoRendererCore renderer;
    QWidget owner;
    owner.resize(400, 300);
    owner.show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(&owner));
    QWidget drain(&owner);
    drain.setGeometry(10, 10, 200, 100);
    drain.show();
    KeyCounter keys;
    drain.installEventFilter(&keys);
    renderer.put_Owner(&owner);
    renderer.put_WindowStyle(WS_CHILD | WS_CLIPSIBLINGS);
    renderer.SetWindowPosition(10, 10, 200, 100);
    renderer.put_MessageDrain(&drain);
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
    EXPECT_EQ(keys.presses, 1);

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

}  // namespace
}  // namespace media::gst
