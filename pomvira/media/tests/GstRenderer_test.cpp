// SPDX-License-Identifier: GPL-3.0-or-later
// The video renderer's GStreamer side and its window: frame conversion,
// JPEG frames decoded at the scale the window needs, painting the newest
// frame, placement through the IVideoWindow calls, and input handed to the
// drain.
#include <gst/app/gstappsrc.h>
#include <gst/gst.h>
#include <gst/video/video.h>
#include <gtest/gtest.h>

#include <QApplication>
#include <QMouseEvent>
#include <QTest>
#include <array>
#include <memory>
#include <thread>
#include <utility>
#include <vector>

#include "media/gst/SharedFrames.h"
#include "media/gst/VideoRendererCore.h"
#include "media/tests/GstTestFeed.h"

namespace media::gst {
namespace {

class EventLog : public QWidget {
  public:
    struct Entry {
        QEvent::Type type;
        QPoint pos;
        Qt::MouseButton button;
        int key;
    };
    std::vector<Entry> entries;

  protected:
    void mousePressEvent(QMouseEvent* e) override { Add(e); }
    void mouseReleaseEvent(QMouseEvent* e) override { Add(e); }
    void keyPressEvent(QKeyEvent* e) override {
        entries.push_back({e->type(), {}, Qt::NoButton, e->key()});
    }

  private:
    void Add(QMouseEvent* e) {
        entries.push_back({e->type(), e->position().toPoint(), e->button(), 0});
    }
};

// A renderer placed at `area` in a shown owner of the given size.
class GstRenderer : public ::testing::Test {
  protected:
    VideoRendererWindow* Place(QRect area, QSize ownerSize = QSize(400, 300)) {
        owner.resize(ownerSize);
        owner.show();
        EXPECT_EQ(renderer.put_Owner(&owner), S_OK);
        EXPECT_EQ(renderer.SetWindowPosition(area.x(), area.y(), area.width(), area.height()),
                  S_OK);
        return renderer.Window();
    }
    VideoRendererCore renderer;
    QWidget owner;
};

QColor PixelAt(QWidget* w, QPoint p) {
    return w->grab().toImage().pixelColor(p);
}

TEST_F(GstRenderer, ConvertsFramesToThirtyTwoBitImagesInOnePass) {
    const uint8_t bgr[] = {10, 20, 30, 40, 50, 60, 0, 0};  // 2 pixels, stride 8
    QImage fromBgr = VideoRendererCore::ImageFromFrame(bgr, 2, 1, 8, GST_VIDEO_FORMAT_BGR);
    ASSERT_EQ(fromBgr.format(), QImage::Format_RGB32);
    EXPECT_EQ(fromBgr.pixel(0, 0), qRgb(30, 20, 10));
    EXPECT_EQ(fromBgr.pixel(1, 0), qRgb(60, 50, 40));
    QImage fromRgb = VideoRendererCore::ImageFromFrame(bgr, 2, 1, 8, GST_VIDEO_FORMAT_RGB);
    EXPECT_EQ(fromRgb.pixel(0, 0), qRgb(10, 20, 30));
    const uint8_t bgrx[] = {1, 2, 3, 0, 4, 5, 6, 0};
    QImage fromBgrx = VideoRendererCore::ImageFromFrame(bgrx, 2, 1, 8, GST_VIDEO_FORMAT_BGRx);
    EXPECT_EQ(fromBgrx.pixel(1, 0), qRgb(6, 5, 4));
    EXPECT_TRUE(VideoRendererCore::ImageFromFrame(bgrx, 2, 1, 8, GST_VIDEO_FORMAT_I420).isNull());
}

// BGRx frames are painted as they arrive: the image is the buffer's memory
// and holds the buffer while it lives. Only an unused byte other than 0xff
// (which Qt's RGB32 does not allow) costs a converted copy.
TEST_F(GstRenderer, PaintsBgrxFramesWithoutCopyingThem) {
    GstVideoInfo info;
    gst_video_info_set_format(&info, GST_VIDEO_FORMAT_BGRx, 3, 2);
    std::vector<uint8_t> bytes(GST_VIDEO_INFO_SIZE(&info), 0xff);
    bytes[0] = 1, bytes[1] = 2, bytes[2] = 3;  // top left: rgb(3, 2, 1)
    GstBuffer* buffer = gst_buffer_new_memdup(bytes.data(), bytes.size());
    GstMapInfo map;
    ASSERT_TRUE(gst_buffer_map(buffer, &map, GST_MAP_READ));
    const uint8_t* memory = map.data;
    gst_buffer_unmap(buffer, &map);
    {
        QImage image = VideoRendererCore::ImageFromBuffer(buffer, &info);
        ASSERT_EQ(image.format(), QImage::Format_RGB32);
        ASSERT_EQ(image.size(), QSize(3, 2));
        EXPECT_EQ(image.constBits(), memory);
        EXPECT_EQ(image.pixel(0, 0), qRgb(3, 2, 1));
        EXPECT_EQ(GST_MINI_OBJECT_REFCOUNT_VALUE(buffer), 2);
        QImage copy = image;  // shared, not copied
        image = QImage();
        EXPECT_EQ(GST_MINI_OBJECT_REFCOUNT_VALUE(buffer), 2);
    }
    EXPECT_EQ(GST_MINI_OBJECT_REFCOUNT_VALUE(buffer), 1);
    gst_buffer_unref(buffer);

    bytes[3] = 0;  // a source that leaves the unused byte 0
    buffer = gst_buffer_new_memdup(bytes.data(), bytes.size());
    QImage converted = VideoRendererCore::ImageFromBuffer(buffer, &info);
    EXPECT_EQ(GST_MINI_OBJECT_REFCOUNT_VALUE(buffer), 1);
    gst_buffer_unref(buffer);
    ASSERT_EQ(converted.format(), QImage::Format_RGB32);
    EXPECT_EQ(converted.pixel(0, 0), qRgb(3, 2, 1));
    EXPECT_EQ(qAlpha(converted.pixel(0, 0)), 255);

    gst_video_info_set_format(&info, GST_VIDEO_FORMAT_I420, 4, 2);
    buffer = gst_buffer_new_allocate(nullptr, GST_VIDEO_INFO_SIZE(&info), nullptr);
    EXPECT_TRUE(VideoRendererCore::ImageFromBuffer(buffer, &info).isNull());
    gst_buffer_unref(buffer);
}

TEST_F(GstRenderer, ConvertsWholeBgrRowsWithPaddedStrides) {
    // 7 pixels: one group of four converted together, then three alone;
    // rows padded to 24 bytes, every byte distinct.
    const int width = 7, height = 2, stride = 24;
    std::vector<uint8_t> bgr(size_t(stride) * height, 0xEE);
    for (int y = 0; y < height; ++y)
        for (int x = 0; x < width * 3; ++x)
            bgr[size_t(y) * stride + x] = uint8_t(y * 100 + x + 1);
    QImage image =
        VideoRendererCore::ImageFromFrame(bgr.data(), width, height, stride, GST_VIDEO_FORMAT_BGR);
    ASSERT_EQ(image.size(), QSize(width, height));
    for (int y = 0; y < height; ++y) {
        for (int x = 0; x < width; ++x) {
            const uint8_t* p = &bgr[size_t(y) * stride + size_t(x) * 3];
            EXPECT_EQ(image.pixel(x, y), qRgb(p[2], p[1], p[0])) << x << "," << y;
        }
    }
}

TEST_F(GstRenderer, WindowFollowsOwnerPositionVisibilityAndCaption) {
    VideoRendererWindow* window = Place(QRect(16, 32, 200, 150));
    ASSERT_EQ(renderer.put_Caption(u"VideoWindow"), S_OK);
    EXPECT_EQ(window->parentWidget(), &owner);
    EXPECT_FALSE(window->isWindow());
    EXPECT_EQ(window->geometry(), QRect(16, 32, 200, 150));
    EXPECT_EQ(window->windowTitle(), QStringLiteral("VideoWindow"));
    // The caption is not the object name, so the layer's own "VideoWindow"
    // control stays the only one of that name.
    EXPECT_EQ(owner.findChildren<QWidget*>(QStringLiteral("VideoWindow")).size(), 0);

    int32_t visible = 1;
    EXPECT_EQ(renderer.get_Visible(nullptr), E_POINTER);
    ASSERT_EQ(renderer.put_Visible(-1), S_OK);
    renderer.get_Visible(&visible);
    EXPECT_EQ(visible, -1);
    EXPECT_TRUE(window->isVisible());
    ASSERT_EQ(renderer.put_Visible(0), S_OK);
    renderer.get_Visible(&visible);
    EXPECT_EQ(visible, 0);
    EXPECT_FALSE(window->isVisible());
    EXPECT_EQ(renderer.put_Visible(5), E_INVALIDARG);
    EXPECT_EQ(renderer.SetWindowPosition(0, 0, -1, 10), E_INVALIDARG);

    // Without owner the window is a top-level one, placed in screen terms,
    // and keeps being shown.
    renderer.put_Visible(-1);
    renderer.put_WindowStyle(WS_CHILD | WS_CLIPSIBLINGS);
    renderer.put_Owner(nullptr);
    renderer.SetWindowPosition(0, 0, 320, 240);
    EXPECT_TRUE(window->isWindow());
    EXPECT_TRUE(window->isVisible());
    EXPECT_TRUE(window->windowFlags() & Qt::FramelessWindowHint);
    EXPECT_EQ(window->geometry().size(), QSize(320, 240));
    // And back into the owner.
    renderer.put_Owner(&owner);
    renderer.SetWindowPosition(16, 32, 200, 150);
    EXPECT_EQ(window->parentWidget(), &owner);
    EXPECT_TRUE(window->isVisible());
    EXPECT_EQ(window->geometry(), QRect(16, 32, 200, 150));
}

TEST_F(GstRenderer, PaintsTheNewestFrameScaledToItsRectangle) {
    VideoRendererWindow* window = Place(QRect(10, 10, 200, 100));
    // Hidden before the stream starts; black until a frame arrives.
    EXPECT_FALSE(window->isVisible());
    EXPECT_EQ(PixelAt(window, {100, 50}), QColor(Qt::black));

    AppSrcFeed feed(renderer.Element(),
                    CapsRef::Adopt(gst_caps_from_string(
                        "video/x-raw,format=BGR,width=8,height=4,framerate=30/1")));
    // 8 x 4 BGR frames (rows of 24 bytes): the top two rows of colour `top`,
    // the bottom two of colour `bottom`.
    auto push = [&](std::array<uint8_t, 3> top, std::array<uint8_t, 3> bottom) {
        std::vector<uint8_t> data(24 * 4);
        for (size_t i = 0; i < data.size(); ++i)
            data[i] = (i < 48 ? top : bottom)[i % 3];
        feed.Push(gst_buffer_new_memdup(data.data(), data.size()));
    };
    push({0, 0, 255}, {255, 0, 0});  // top red, bottom blue
    // The first frame of the stream shows the window.
    ASSERT_TRUE(QTest::qWaitFor([&] { return window->isVisible(); }, 5000));
    ASSERT_TRUE(QTest::qWaitFor([&] { return !window->CurrentFrame().isNull(); }, 5000));
    EXPECT_EQ(PixelAt(window, {100, 10}), QColor(Qt::red));
    EXPECT_EQ(PixelAt(window, {100, 90}), QColor(Qt::blue));
    EXPECT_EQ(PixelAt(window, {199, 99}), QColor(Qt::blue));

    // Later frames replace earlier ones; the newest is painted.
    push({0, 255, 0}, {0, 255, 0});
    push({255, 255, 255}, {255, 255, 255});
    ASSERT_TRUE(QTest::qWaitFor(
        [&] {
            return PixelAt(window, {100, 50}) == QColor(Qt::white);
        },
        5000));
}

// A camera's JPEG frames are decoded by the renderer, no larger than its
// window needs (DCT scaling by 1/2, 1/4, 1/8), following its size.
TEST_F(GstRenderer, DecodesJpegFramesAtTheScaleThatCoversItsWindow) {
    VideoRendererWindow* window = Place(QRect(0, 0, 160, 100), QSize(700, 500));
    const QByteArray jpeg = JpegBars(640, 480);
    AppSrcFeed feed(
        renderer.Element(),
        CapsRef::Adopt(gst_caps_from_string("image/jpeg,width=640,height=480,framerate=30/1")));
    auto frameOfSize = [&](QSize size) {
        return QTest::qWaitFor(
            [&] {
                feed.Push(gst_buffer_new_memdup(jpeg.constData(), size_t(jpeg.size())));
                QTest::qWait(20);
                return window->CurrentFrame().size() == size;
            },
            5000);
    };
    ASSERT_EQ(window->devicePixelRatioF(), 1.0) << "the test counts device pixels as widget pixels";
    EXPECT_TRUE(frameOfSize(QSize(160, 120))) << "1/4 covers 160 x 100";
    // The colour bars, as they are: white-ish on the left, blue on the right.
    const QImage quarter = window->CurrentFrame();
    EXPECT_GT(qGray(quarter.pixel(5, 10)), 150);
    EXPECT_GT(qBlue(quarter.pixel(150, 10)), 150);
    EXPECT_LT(qGreen(quarter.pixel(150, 10)), 60);

    renderer.SetWindowPosition(0, 0, 161, 100);
    EXPECT_TRUE(frameOfSize(QSize(320, 240))) << "1/4 no longer covers 161 x 100";
    renderer.SetWindowPosition(0, 0, 700, 500);
    EXPECT_TRUE(frameOfSize(QSize(640, 480))) << "never larger than the frame";
}

TEST_F(GstRenderer, HandsMouseAndKeysToTheDrain) {
    auto* drain = new EventLog;
    drain->setParent(&owner);
    drain->setGeometry(16, 32, 200, 150);
    VideoRendererWindow* window = Place(QRect(16, 32, 200, 150));
    renderer.put_MessageDrain(drain);
    renderer.put_Visible(-1);
    ASSERT_TRUE(QTest::qWaitForWindowExposed(&owner));

    QTest::mousePress(window, Qt::LeftButton, {}, QPoint(20, 30));
    QTest::mouseRelease(window, Qt::LeftButton, {}, QPoint(20, 30));
    ASSERT_EQ(drain->entries.size(), 2u);
    EXPECT_EQ(drain->entries[0].type, QEvent::MouseButtonPress);
    EXPECT_EQ(drain->entries[0].button, Qt::LeftButton);
    // The drain lies under the window here, so the point is the same.
    EXPECT_EQ(drain->entries[0].pos, QPoint(20, 30));
    EXPECT_EQ(drain->entries[1].type, QEvent::MouseButtonRelease);

    // A drain elsewhere gets the point in its own coordinates.
    drain->move(0, 0);
    drain->entries.clear();
    QTest::mousePress(window, Qt::RightButton, {}, QPoint(5, 6));
    ASSERT_FALSE(drain->entries.empty());
    EXPECT_EQ(drain->entries[0].pos, QPoint(21, 38));
    EXPECT_EQ(drain->entries[0].button, Qt::RightButton);
    QTest::mouseRelease(window, Qt::RightButton, {}, QPoint(5, 6));

    drain->entries.clear();
    QKeyEvent key(QEvent::KeyPress, Qt::Key_A, Qt::NoModifier, QStringLiteral("a"));
    QApplication::sendEvent(window, &key);
    ASSERT_EQ(drain->entries.size(), 1u);
    EXPECT_EQ(drain->entries[0].key, Qt::Key_A);
}

// Inside an opaque window the widget paints the frames: no window of its
// own, no second buffer. Inside a see-through one they are drawn by the
// renderer's own surface, unless a sibling stacked above overlaps the
// renderer: then the widget paints them, beneath that sibling (a window
// inside another would cover it).
TEST_F(GstRenderer, DrawsOnASurfaceOnlyInASeeThroughWindowWhileNoWidgetLiesOverTheVideo) {
    {
        QWidget opaque;
        opaque.resize(400, 300);
        opaque.show();
        ASSERT_EQ(renderer.put_Owner(&opaque), S_OK);
        EXPECT_EQ(renderer.Window()->Surface(), nullptr);
        EXPECT_FALSE(renderer.Window()->DrawsOnSurface());
        EXPECT_EQ(renderer.Window()->findChild<QWidget*>(QStringLiteral("VideoSurface")), nullptr);
        ASSERT_EQ(renderer.put_Owner(nullptr), S_OK);
    }
    owner.setAttribute(Qt::WA_TranslucentBackground);
    auto* below = new QWidget(&owner);
    below->setGeometry(0, 0, 400, 300);
    VideoRendererWindow* window = Place(QRect(16, 32, 200, 150));
    renderer.put_Visible(-1);
    auto* notice = new QWidget(&owner);
    notice->setGeometry(16, 32, 200, 150);
    notice->hide();
    auto drawsOnSurface = [&](bool expected) {
        return QTest::qWaitFor([&] { return window->DrawsOnSurface() == expected; }, 2000);
    };
    // A hidden sibling, or one stacked below: the surface draws.
    EXPECT_TRUE(drawsOnSurface(true));
    notice->show();
    EXPECT_TRUE(drawsOnSurface(true)) << "the notice lies beneath the renderer";
    notice->raise();
    EXPECT_TRUE(drawsOnSurface(false));
    EXPECT_TRUE(window->findChild<QWidget*>(QStringLiteral("VideoSurface"))->isHidden());
    notice->move(220, 32);
    EXPECT_TRUE(drawsOnSurface(true)) << "beside the video";
    notice->move(100, 100);
    EXPECT_TRUE(drawsOnSurface(false)) << "over a corner";
    notice->hide();
    EXPECT_TRUE(drawsOnSurface(true));
    EXPECT_FALSE(window->findChild<QWidget*>(QStringLiteral("VideoSurface"))->isHidden());
    // A sibling made later lies above as well; the renderer moved away from
    // it draws on its surface again.
    auto* later = new QWidget(&owner);
    later->setGeometry(0, 150, 100, 100);
    later->show();
    EXPECT_TRUE(drawsOnSurface(false));
    renderer.SetWindowPosition(200, 20, 150, 100);
    EXPECT_TRUE(drawsOnSurface(true));
}

TEST_F(GstRenderer, SurvivesItsOwnerAndMakesANewWindow) {
    {
        QWidget first;
        renderer.put_Owner(&first);
        renderer.put_Caption(u"VideoWindow");
        ASSERT_NE(renderer.Window(), nullptr);
    }
    // The window died with its owner; the next call makes a new one.
    ASSERT_EQ(renderer.put_Owner(&owner), S_OK);
    EXPECT_EQ(renderer.Window()->parentWidget(), &owner);
    EXPECT_EQ(renderer.Window()->windowTitle(), QStringLiteral("VideoWindow"));
}

// The buffers frames are decoded into for the display: at most three lent
// at a time, each lent again once every copy of its image is gone (on any
// thread), made anew at another size, and kept while an image of them lives.
TEST(SharedFramePoolTest, LendsEachBufferToOneImageAtATime) {
    auto pool = std::make_shared<SharedFramePool>();
    const QSize size(64, 48);
    QImage a = SharedFramePool::Take(pool, size);
    ASSERT_FALSE(a.isNull());
    EXPECT_EQ(a.format(), QImage::Format_RGB32);
    EXPECT_EQ(a.size(), size);
    const uchar* bits = a.constBits();
    a.fill(Qt::red);
    EXPECT_EQ(a.constBits(), bits) << "written in place, not copied";
    QImage b = SharedFramePool::Take(pool, size);
    QImage c = SharedFramePool::Take(pool, size);
    ASSERT_FALSE(c.isNull());
    EXPECT_TRUE(SharedFramePool::Take(pool, size).isNull()) << "three at most";
    QImage copy = a;
    a = QImage();
    EXPECT_TRUE(SharedFramePool::Take(pool, size).isNull()) << "a copy still holds it";
    std::thread([&copy] { copy = QImage(); }).join();
    QImage again = SharedFramePool::Take(pool, size);
    EXPECT_EQ(again.constBits(), bits);
    EXPECT_EQ(again.pixelColor(0, 0), QColor(Qt::red)) << "the same memory";

    b = c = again = QImage();
    QImage larger = SharedFramePool::Take(pool, QSize(128, 96));
    ASSERT_FALSE(larger.isNull());
    EXPECT_EQ(larger.size(), QSize(128, 96));
    EXPECT_EQ(pool->BufferCount(), SharedFramePool::kMaxBuffers);
    pool.reset();
    larger.fill(Qt::blue);
    EXPECT_EQ(larger.pixelColor(127, 95), QColor(Qt::blue));
}

// Frames on time need two buffers (the one shown, the one being made): a
// third is made only when asked for beyond those, and goes once unused.
TEST(SharedFramePoolTest, KeepsTwoBuffersAndShedsAThirdOnceUnused) {
    auto pool = std::make_shared<SharedFramePool>();
    const QSize size(64, 48);
    const size_t kept = SharedFramePool::kKeptBuffers;
    QImage shown = SharedFramePool::Take(pool, size, kept);
    QImage next = SharedFramePool::Take(pool, size, kept);
    EXPECT_TRUE(SharedFramePool::Take(pool, size, kept).isNull());
    EXPECT_FALSE(SharedFramePool::Take(pool, size).isNull()) << "a third when asked for";
    EXPECT_EQ(pool->BufferCount(), SharedFramePool::kMaxBuffers);
    next = QImage();
    for (uint64_t i = 0; i <= SharedFramePool::kIdleTakes; ++i) {
        next = SharedFramePool::Take(pool, size, kept);
        ASSERT_FALSE(next.isNull());
        shown = std::exchange(next, QImage());
    }
    EXPECT_EQ(pool->BufferCount(), kept);
}

}  // namespace
}  // namespace media::gst
