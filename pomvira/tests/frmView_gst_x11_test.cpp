// SPDX-License-Identifier: GPL-3.0-or-later
// The preview window with the real media framework: the built-in test camera
// runs through the frame grabber into the preview window's video window; the
// renderer's window lies over the video area and shows the picture, a
// notice laid over the video hides it, and a still picture taken from the
// grabber is upright. Under a window manager (openbox, on a desktop of the
// test's own), a preview nobody sees (minimised, wholly covered) draws no
// frame, shows a new one the moment it is seen again, and its stills are
// the camera's current frame.
#include <gst/gst.h>
#include <gst/video/video.h>
#include <gtest/gtest.h>

#include <QApplication>
#include <QGuiApplication>
#include <QProcess>
#include <QScreen>
#include <QTest>
#include <cstdlib>
#include <deque>
#include <memory>
#include <mutex>

#include "TestDesktop.h"
#include "TestFrames.h"
#include "forms/frmView.h"
#include "media/Filter.h"
#include "media/FilterGraph.h"
#include "media/SampleGrabber.h"
#include "media/gst/BinFilter.h"
#include "media/gst/GstMediaSystem.h"
#include "media/gst/GstRef.h"
#include "media/gst/RawFrames.h"
#include "media/gst/VideoRendererWindow.h"
#include "media/tests/GstTestDevices.h"

using namespace media;

namespace {

const auto* const kEnvironment = ::testing::AddGlobalTestEnvironment(new GstTestDevices("1"));

// "Test Camera 1" through the frame grabber into a preview window placed at
// (119, 87) around a 640 x 480 video, built and run as the control panel
// does it, and shut down as it does.
struct CameraPreview {
    TFilterGraph graph;
    TFilter source;
    TSampleGrabber grabber;
    TViewForm form;

    void Start() {
        graph.setObjectName("CaptureGraph");
        graph.SetMode(gmCapture);
        source.setObjectName("VideoSourceFilter");
        TSysDevEnum devices(CLSID_VideoInputDeviceCategory);
        ASSERT_GE(devices.DeviceCount(), 1);
        ASSERT_EQ(devices.DeviceEntry(0).FriendlyName, "Test Camera 1");
        source.BaseFilter().StoreMoniker(devices.DeviceMoniker(0).Get());
        source.SetFilterGraph(&graph);
        grabber.setObjectName("SampleGrabber");
        grabber.SetFilterGraph(&graph);
        form.VideoWindow->SetFilterGraph(&graph);
        form.SetRecordState(false);
        form.move(100 + 19, 50 + 37);
        ASSERT_FALSE(form.SetVideoSize(640, 480));
        form.show();
        ASSERT_TRUE(QTest::qWaitForWindowExposed(&form));

        graph.SetActive(true);
        auto builder = graph.Get<ICaptureGraphBuilder2>();
        ASSERT_EQ(builder->RenderStream(&PIN_CATEGORY_PREVIEW, &MEDIATYPE_Video,
                                        source.Get<IBaseFilter>().Get(),
                                        grabber.Get<IBaseFilter>().Get(),
                                        form.VideoWindow->Get<IBaseFilter>().Get()),
                  S_OK);
        ASSERT_TRUE(form.VideoWindow->IsRendererConnected());
        ASSERT_TRUE(graph.RunGraph());
    }
    ~CameraPreview() {
        form.VideoWindow->hide();
        graph.StopGraph();
        form.VideoWindow->SetFilterGraph(nullptr);
        graph.SetActive(false);
    }
};

TEST(ViewFormWithCamera, ShowsTheLiveVideoAndTakesUprightStills) {
    CameraPreview preview;
    ASSERT_NO_FATAL_FAILURE(preview.Start());
    TViewForm& form = preview.form;
    TSampleGrabber& grabber = preview.grabber;

    // The renderer's window is the preview window's child over the video area.
    QWidget* rendererWindow = form.VideoWindow->VideoHandle();
    ASSERT_NE(rendererWindow, form.VideoWindow);
    EXPECT_EQ(rendererWindow->parentWidget(), &form);
    EXPECT_EQ(rendererWindow->geometry(), QRect(19, 37, 640, 480));

    TBitmap still;
    for (int i = 0; i < 100 && !grabber.CopyFrameToBitmap(&still); ++i)
        QTest::qWait(100);
    ASSERT_FALSE(still.Empty());
    EXPECT_EQ(still.Width(), 640);
    EXPECT_EQ(still.Height(), 480);
    EXPECT_EQ(still.BitCount(), 24);
    const QImage picture = still.ToImage();
    // Upright: the colour bars at the top, the darker bottom band below.
    int bottomBars = 0;
    for (int x = 20; x < 640; x += 80) {
        // The pattern scrolls: a sample may fall on the edge between two bars.
        EXPECT_TRUE(IsColourBar(picture.pixel(x, 10)) || IsColourBar(picture.pixel(x + 4, 10)))
            << x;
        bottomBars += IsColourBar(picture.pixel(x, 470)) ? 1 : 0;
    }
    EXPECT_LE(bottomBars, 3);

    // The screen shows the video inside the frame.
    QTest::qWait(300);
    const QImage screen =
        QGuiApplication::primaryScreen()->grabWindow(0, 100 + 19, 50 + 37, 640, 480).toImage();
    if (qEnvironmentVariableIsSet("VIEWFORM_SHOT")) {
        QGuiApplication::primaryScreen()
            ->grabWindow(0, 100, 50, form.width(), form.height())
            .save(qEnvironmentVariable("VIEWFORM_SHOT"));
    }
    int bars = 0;
    for (int x = 20; x < 640; x += 80)
        bars += IsColourBar(screen.pixel(x, 10)) ? 1 : 0;
    EXPECT_GE(bars, 6);

    // A notice over the video hides it on the screen, even after the
    // renderer's window was hidden and shown again (as a new graph does).
    auto barsOnScreen = [] {
        const QImage shot =
            QGuiApplication::primaryScreen()->grabWindow(0, 100 + 19, 50 + 37, 640, 480).toImage();
        int n = 0;
        for (int x = 20; x < 640; x += 80)
            n += IsColourBar(shot.pixel(x, 10)) ? 1 : 0;
        return n;
    };
    form.SetVideoNotice(QStringLiteral("La caméra ne donne plus d'image."));
    EXPECT_TRUE(QTest::qWaitFor([&] { return barsOnScreen() == 0; }, 5000));
    rendererWindow->hide();
    rendererWindow->show();
    QTest::qWait(300);
    EXPECT_EQ(barsOnScreen(), 0);
    form.SetVideoNotice(QString());
    EXPECT_TRUE(QTest::qWaitFor([&] { return barsOnScreen() >= 6; }, 5000));

    // A new size moves the renderer window with the video area.
    ASSERT_FALSE(form.SetVideoSize(320, 240));
    EXPECT_EQ(rendererWindow->geometry(), QRect(19, 37, 320, 240));

    // Shut-down as the control panel does it.
    form.VideoWindow->hide();
    EXPECT_FALSE(rendererWindow->isVisible());
}

// The camera's last four frames as they leave its preview pin (the pad's
// probe holds them while it runs).
class CameraFrames {
  public:
    explicit CameraFrames(TFilter& camera)
        : pad_(gst::BinFilter::From(camera.Get<IBaseFilter>().Get())
                   ->PinByName(u"Preview")
                   ->Pad()) {
        probe_ = gst_pad_add_probe(pad_, GST_PAD_PROBE_TYPE_BUFFER, &CameraFrames::OnBuffer,
                                   new std::shared_ptr<Kept>(kept_), [](gpointer data) {
                                       delete static_cast<std::shared_ptr<Kept>*>(data);
                                   });
    }
    ~CameraFrames() { gst_pad_remove_probe(pad_, probe_); }
    // Whether the picture (RGB32) is one of them.
    bool OneOfTheLast(const QImage& picture) {
        std::lock_guard<std::mutex> lock(kept_->mutex);
        for (const auto& f : kept_->frames) {
            GstVideoInfo info;
            GstMapInfo map;
            if (!gst_video_info_from_caps(&info, f.second.Get()) ||
                !gst_buffer_map(f.first.Get(), &map, GST_MAP_READ))
                continue;
            QImage frame(info.width, info.height, QImage::Format_RGB32);
            gst::ConvertRawFrame(info, map.data, info.stride[0], frame.bits(),
                                 size_t(frame.bytesPerLine()));
            gst_buffer_unmap(f.first.Get(), &map);
            if (frame == picture)
                return true;
        }
        return false;
    }

  private:
    struct Kept {
        std::mutex mutex;
        std::deque<std::pair<gst::GstRef<GstBuffer>, gst::CapsRef>> frames;
    };
    static GstPadProbeReturn OnBuffer(GstPad* pad, GstPadProbeInfo* info, gpointer data) {
        Kept& kept = **static_cast<std::shared_ptr<Kept>*>(data);
        std::lock_guard<std::mutex> lock(kept.mutex);
        kept.frames.emplace_front(
            gst::GstRef<GstBuffer>::Adopt(gst_buffer_copy_deep(GST_PAD_PROBE_INFO_BUFFER(info))),
            gst::CapsRef::Adopt(gst_pad_get_current_caps(pad)));
        if (kept.frames.size() > 4)
            kept.frames.pop_back();
        return GST_PAD_PROBE_OK;
    }

    GstPad* pad_;  // the camera filter's
    gulong probe_;
    std::shared_ptr<Kept> kept_ = std::make_shared<Kept>();
};

// A window manager hides and shows the preview window; other windows cover
// it, wholly or in part. Nobody sees it minimised or wholly covered: no
// frame is drawn then. Seen again, it shows a new frame at once; a still
// taken meanwhile is the camera's current frame.
TEST(ViewFormWithCamera, DrawsNoFrameNobodySees) {
    const QString missing = TTestDesktop::Missing(false);
    if (!missing.isEmpty())
        GTEST_SKIP() << missing.toStdString() << " is not installed";
    TTestDesktop desktop;
    ASSERT_TRUE(desktop.Start(QSize(1024, 768), false));
    QProcessEnvironment env = desktop.Environment();
    env.insert(QStringLiteral("POMVIRA_UNDER_WINDOW_MANAGER"), QStringLiteral("1"));
    QProcess child;
    child.setProcessEnvironment(env);
    child.setProcessChannelMode(QProcess::MergedChannels);
    child.start(QCoreApplication::applicationFilePath(),
                {QStringLiteral("--gtest_filter=ViewFormWithCamera.ChildUnderAWindowManager")});
    ASSERT_TRUE(child.waitForFinished(120000));
    const std::string output = child.readAll().toStdString();
    EXPECT_EQ(child.exitCode(), 0) << output;
    EXPECT_NE(output.find("[  PASSED  ] 1 test"), std::string::npos) << output;
}

// Run by the test above on its desktop.
TEST(ViewFormWithCamera, ChildUnderAWindowManager) {
    if (!qEnvironmentVariableIsSet("POMVIRA_UNDER_WINDOW_MANAGER"))
        GTEST_SKIP() << "run by DrawsNoFrameNobodySees";
    CameraPreview preview;
    ASSERT_NO_FATAL_FAILURE(preview.Start());
    CameraFrames camera(preview.source);
    auto* renderer = qobject_cast<gst::VideoRendererWindow*>(preview.form.VideoWindow->VideoHandle());
    ASSERT_NE(renderer, nullptr);
    const auto drawing = [&](bool expected) {
        const uint64_t shown = renderer->FramesShown();
        QTest::qWait(300);
        return (renderer->FramesShown() > shown) == expected;
    };
    ASSERT_TRUE(QTest::qWaitFor([&] { return renderer->Seen(); }, 10000));
    EXPECT_TRUE(drawing(true));

    // Covered in part (the left half of the screen is narrower than the
    // window): drawn; wholly (the whole screen): not.
    QWidget cover(nullptr, Qt::X11BypassWindowManagerHint | Qt::FramelessWindowHint);
    const QRect screen = QGuiApplication::primaryScreen()->geometry();
    ASSERT_LT(screen.width() / 2, preview.form.width());
    cover.setGeometry(screen.adjusted(0, 0, -screen.width() / 2, 0));
    cover.show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(&cover));
    EXPECT_TRUE(drawing(true)) << "half covered";
    cover.setGeometry(screen);
    ASSERT_TRUE(QTest::qWaitFor([&] { return !renderer->Seen(); }, 5000)) << "wholly covered";
    EXPECT_TRUE(drawing(false));

    // Uncovered: the newest frame is drawn as the window is seen again.
    QImage last = renderer->CurrentFrame();
    uint64_t shown = renderer->FramesShown();
    cover.hide();
    ASSERT_TRUE(QTest::qWaitFor([&] { return renderer->Seen(); }, 5000));
    EXPECT_GT(renderer->FramesShown(), shown);
    EXPECT_NE(renderer->CurrentFrame(), last);

    // Minimised: nothing drawn; a still is the camera's current frame, not
    // the one last drawn.
    preview.form.showMinimized();
    ASSERT_TRUE(QTest::qWaitFor([&] { return !renderer->Seen(); }, 5000)) << "minimised";
    last = renderer->CurrentFrame();
    EXPECT_TRUE(drawing(false));
    TBitmap still;
    ASSERT_TRUE(preview.grabber.CopyFrameToBitmap(&still));
    const QImage picture = still.ToImage().convertToFormat(QImage::Format_RGB32);
    EXPECT_NE(picture, last);
    EXPECT_TRUE(camera.OneOfTheLast(picture));

    // Restored: a new frame at once.
    shown = renderer->FramesShown();
    preview.form.showNormal();
    ASSERT_TRUE(QTest::qWaitFor([&] { return renderer->Seen(); }, 5000)) << "restored";
    EXPECT_GT(renderer->FramesShown(), shown);
    EXPECT_NE(renderer->CurrentFrame(), last);
    EXPECT_TRUE(drawing(true));
}

}  // namespace
