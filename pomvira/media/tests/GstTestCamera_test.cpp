// SPDX-License-Identifier: GPL-3.0-or-later
// The built-in test camera as a webcam: its own controls on its device page,
// acting on its picture; a camera that stalls, noticed while the graph
// runs and announced, delivering again once started afresh; and its raw
// frames, videotestsrc's scrolling bars.
#include <gst/app/gstappsink.h>
#include <gst/gst.h>
#include <gst/video/video.h>
#include <gtest/gtest.h>

#include <QCheckBox>
#include <QComboBox>
#include <QSpinBox>
#include <QTemporaryDir>
#include <QTest>
#include <QWidget>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <vector>

#include "AviProbe.h"
#include "media/Bitmap.h"
#include "media/Filter.h"
#include "media/FilterGraph.h"
#include "media/MediaUtil.h"
#include "media/SampleGrabber.h"
#include "media/VideoWindow.h"
#include "media/gst/CameraControlsPage.h"
#include "media/gst/GstMediaSystem.h"
#include "media/gst/PropertyFrame.h"
#include "media/testdevices/TestCameraFrames.h"
#include "media/testdevices/TestCameraStages.h"
#include "media/testdevices/TestDevices.h"
#include "media/tests/GstTestDevices.h"

namespace media {
namespace {

const auto* const kEnvironment = ::testing::AddGlobalTestEnvironment(new GstTestDevices("1"));

// Test Camera 1 previewed through a sample grabber, as the control panel
// builds it.
class Preview {
  public:
    Preview() {
        graph.SetMode(gmCapture);
        TSysDevEnum devices(CLSID_VideoInputDeviceCategory);
        camera.BaseFilter().StoreMoniker(devices.DeviceMoniker(0).Get());
        camera.SetFilterGraph(&graph);
        grabber.SetFilterGraph(&graph);
        host.resize(700, 560);
        video = new TVideoWindow(&host);
        video->setGeometry(0, 0, 640, 480);
        video->SetFilterGraph(&graph);
        graph.EventHandlers[EC_STARVATION] = [this](TFilterGraph*, intptr_t filter,
                                                    intptr_t stalled) {
            starvation.push_back({filter, stalled});
        };
        graph.OnGraphErrorAbort = [this](TFilterGraph*, intptr_t, intptr_t) { ++errors; };
    }
    bool Run() {
        graph.SetActive(true);
        auto source = camera.Get<IBaseFilter>();
        auto builder = graph.Get<ICaptureGraphBuilder2>();
        return builder->RenderStream(&PIN_CATEGORY_PREVIEW, nullptr, source.Get(),
                                     grabber.Get<IBaseFilter>().Get(),
                                     video->Get<IBaseFilter>().Get()) == S_OK &&
               graph.RunGraph();
    }
    // Records the camera into an AVI file (its preview running too).
    bool Record(const QString& path) {
        graph.SetActive(true);
        auto source = camera.Get<IBaseFilter>();
        auto builder = graph.Get<ICaptureGraphBuilder2>();
        ComPtr<IBaseFilter> mux;
        ComPtr<IFileSinkFilter> sink;
        if (builder->SetOutputFileName(MEDIASUBTYPE_Avi, path.toStdU16String(), mux.Put(),
                                       sink.Put()) != S_OK)
            return false;
        return builder->RenderStream(&PIN_CATEGORY_PREVIEW, nullptr, source.Get(),
                                     grabber.Get<IBaseFilter>().Get(),
                                     video->Get<IBaseFilter>().Get()) == S_OK &&
               builder->RenderStream(&PIN_CATEGORY_CAPTURE, nullptr, source.Get(), nullptr,
                                     mux.Get()) == S_OK &&
               graph.RunGraph();
    }
    // The average of the last frame's bytes, and its largest difference
    // between the colours of one pixel; false without a frame.
    bool Picture(double* mean, int* colourSpread = nullptr) {
        TBitmap still;
        if (!grabber.CopyFrameToBitmap(&still) || still.BitsSize() == 0)
            return false;
        double sum = 0;
        int spread = 0;
        const uint8_t* bits = still.Bits();
        const size_t pixels = size_t(still.Width()) * size_t(still.Height());
        for (size_t i = 0; i + 2 < pixels * 3; i += 3) {
            sum += bits[i] + bits[i + 1] + bits[i + 2];
            spread = std::max({spread, std::abs(bits[i] - bits[i + 1]),
                               std::abs(bits[i + 1] - bits[i + 2])});
        }
        *mean = sum / double(pixels * 3);
        if (colourSpread)
            *colourSpread = spread;
        return true;
    }

    TFilterGraph graph;
    TFilter camera;
    TSampleGrabber grabber;
    QWidget host;
    TVideoWindow* video = nullptr;
    std::vector<std::pair<intptr_t, intptr_t>> starvation;
    int errors = 0;
};

// The webcam profile's raw or MJPG frames (these encoded once, a short
// cycle, and again when a control changes while the stream goes on).
class GstTestCameraWebcam : public ::testing::TestWithParam<bool> {};

TEST_P(GstTestCameraWebcam, ControlsOnTheDevicePageActOnThePictureAndCancelPutsThemBack) {
    gst::SetTestCameraProfile("webcam");
    Preview preview;
    preview.graph.SetActive(true);
    auto source = preview.camera.Get<IBaseFilter>();
    if (GetParam()) {
        ASSERT_TRUE(SetCaptureFormat(source.Get(), MEDIASUBTYPE_MJPG, 640, 480));
    }
    ASSERT_TRUE(preview.Run());
    double before = 0;
    ASSERT_TRUE(QTest::qWaitFor([&] { return preview.Picture(&before); }, 10000));

    std::unique_ptr<gst::PropertyPage> page(
        gst::CreatePropertyPage(gst::CLSID_DeviceControlsPage, {source.Get()}, nullptr));
    auto* controls = dynamic_cast<gst::CameraControlsPage*>(page.get());
    ASSERT_NE(controls, nullptr) << "the webcam profile offers the camera's own controls";
    ASSERT_TRUE(QTest::qWaitFor([&] { return controls->IsFilled(); }, 10000));
    EXPECT_GT(controls->ControlCount(), 15);
    auto* exposure = page->findChild<QSpinBox*>("Exposure Time, Absolute");
    ASSERT_NE(exposure, nullptr);
    EXPECT_FALSE(exposure->parentWidget()->isEnabled());

    // Brightness up: the picture brightens.
    page->findChild<QSpinBox*>("Brightness")->setValue(255);
    double brighter = 0;
    EXPECT_TRUE(QTest::qWaitFor(
        [&] { return preview.Picture(&brighter) && brighter > before + 60; }, 10000))
        << before << " -> " << brighter;
    // No saturation: grey.
    page->findChild<QSpinBox*>("Saturation")->setValue(0);
    int spread = 255;
    double mean = 0;
    EXPECT_TRUE(QTest::qWaitFor([&] { return preview.Picture(&mean, &spread) && spread <= 8; },
                                10000))
        << spread;

    // Cancel: the colour bars as they were.
    page->Revert();
    EXPECT_TRUE(QTest::qWaitFor(
        [&] { return preview.Picture(&mean, &spread) && std::abs(mean - before) < 8 && spread > 100; },
        10000))
        << before << " -> " << mean;
    // The camera keeps its controls between pages, as a device does.
    page->findChild<QSpinBox*>("Contrast")->setValue(40);
    ASSERT_TRUE(QTest::qWaitFor([&] { return !page->Busy(); }, 10000));
    page.reset(gst::CreatePropertyPage(gst::CLSID_DeviceControlsPage, {source.Get()}, nullptr));
    ASSERT_TRUE(QTest::qWaitFor([&] { return page->findChild<QSpinBox*>("Contrast"); }, 10000));
    EXPECT_EQ(page->findChild<QSpinBox*>("Contrast")->value(), 40);
    page->findChild<QSpinBox*>("Contrast")->setValue(128);
    ASSERT_TRUE(QTest::qWaitFor([&] { return !page->Busy(); }, 10000));
    // Stopped and started again, at once (the frames being encoded again)
    // and later: the bars move again.
    preview.graph.StopGraph();
    ASSERT_TRUE(preview.graph.RunGraph());
    preview.graph.StopGraph();
    ASSERT_TRUE(preview.graph.RunGraph());
    TBitmap first, later;
    ASSERT_TRUE(QTest::qWaitFor([&] { return preview.grabber.CopyFrameToBitmap(&first); }, 10000));
    EXPECT_TRUE(QTest::qWaitFor(
        [&] {
            return preview.grabber.CopyFrameToBitmap(&later) &&
                   std::memcmp(first.Bits(), later.Bits(), first.BitsSize()) != 0;
        },
        5000));
    EXPECT_EQ(preview.errors, 0);
    preview.graph.StopGraph();
    gst::SetTestCameraProfile(std::string());
}

INSTANTIATE_TEST_SUITE_P(Formats, GstTestCameraWebcam, ::testing::Values(false, true),
                         [](const auto& info) { return info.param ? "Mjpg" : "Yuy2"; });

TEST(GstTestCamera, WithoutTheWebcamProfileTheDevicePageShowsTheSourceElement) {
    Preview preview;
    preview.graph.SetActive(true);
    auto source = preview.camera.Get<IBaseFilter>();
    std::unique_ptr<gst::PropertyPage> page(
        gst::CreatePropertyPage(gst::CLSID_DeviceControlsPage, {source.Get()}, nullptr));
    ASSERT_NE(page, nullptr);
    EXPECT_EQ(dynamic_cast<gst::CameraControlsPage*>(page.get()), nullptr);
}

TEST(GstTestCamera, AStalledCameraIsAnnouncedAndDeliversAgainOnceStartedAfresh) {
    setenv("POMVIRA_TEST_CAMERA_STALL", "1", 1);
    gst::ResetTestCameraStall();
    Preview preview;
    ASSERT_TRUE(preview.Run());
    const intptr_t camera = intptr_t(preview.camera.MemberFilter());
    // Frames for a second (the first one announced), then none: announced
    // three seconds later.
    ASSERT_TRUE(QTest::qWaitFor([&] { return preview.starvation.size() >= 2; }, 8000));
    EXPECT_EQ(preview.starvation[0], std::make_pair(camera, intptr_t(0)));
    EXPECT_EQ(preview.starvation[1], std::make_pair(camera, intptr_t(1)));
    // Restarting is left to whoever runs the graph: the source stays as it
    // is, stalled.
    QTest::qWait(3000);
    EXPECT_EQ(preview.starvation.size(), 2u);
    EXPECT_EQ(gst::TestCameraStallStarts(), 1);
    // Stopped and run again, the source starts afresh and delivers: its
    // first frame is announced, and frames flow.
    ASSERT_TRUE(preview.graph.StopGraph());
    ASSERT_TRUE(preview.graph.RunGraph());
    ASSERT_TRUE(QTest::qWaitFor([&] { return preview.starvation.size() >= 3; }, 8000));
    EXPECT_EQ(preview.starvation[2], std::make_pair(camera, intptr_t(0)));
    EXPECT_EQ(gst::TestCameraStallStarts(), 2);
    TBitmap first, later;
    ASSERT_TRUE(preview.grabber.CopyFrameToBitmap(&first));
    QTest::qWait(500);
    ASSERT_TRUE(preview.grabber.CopyFrameToBitmap(&later));
    EXPECT_NE(std::vector<uint8_t>(first.Bits(), first.Bits() + first.BitsSize()),
              std::vector<uint8_t>(later.Bits(), later.Bits() + later.BitsSize()))
        << "the scrolling bars move again";
    // Running on: no further notice, no error.
    QTest::qWait(3500);
    EXPECT_EQ(preview.starvation.size(), 3u);
    EXPECT_EQ(preview.errors, 0);
    preview.graph.StopGraph();
    unsetenv("POMVIRA_TEST_CAMERA_STALL");
}

TEST(GstTestCamera, AStalledCameraIsAnnouncedButARecordingIsNotRestartedUnderIt) {
    setenv("POMVIRA_TEST_CAMERA_STALL", "1", 1);
    gst::ResetTestCameraStall();
    QTemporaryDir folder;
    const QString path = folder.filePath(QStringLiteral("stalled.avi"));
    Preview preview;
    ASSERT_TRUE(preview.Record(path));
    ASSERT_TRUE(QTest::qWaitFor([&] { return preview.starvation.size() >= 2; }, 8000));
    EXPECT_EQ(preview.starvation[1].second, 1);
    // Still stalled (a restart would have brought frames back and broken
    // the file); whoever records ends the recording.
    QTest::qWait(3000);
    EXPECT_EQ(preview.starvation.size(), 2u);
    preview.graph.StopGraph();
    const TAviProbe probe = ProbeAvi(path, true);
    EXPECT_TRUE(probe.Complete()) << probe.Text().toStdString();
    const TAviStream* video = probe.Stream(QStringLiteral("video"));
    ASSERT_NE(video, nullptr) << probe.Text().toStdString();
    EXPECT_GE(video->frames, 10);
    unsetenv("POMVIRA_TEST_CAMERA_STALL");
}

// The first `count` frames of a pipeline whose appsink is named "out".
std::vector<gst::GstRef<GstSample>> Frames(GstElement* pipeline, int count) {
    gst::ElementRef sink = gst::ElementRef::Adopt(gst_bin_get_by_name(GST_BIN(pipeline), "out"));
    gst_element_set_state(pipeline, GST_STATE_PLAYING);
    std::vector<gst::GstRef<GstSample>> frames;
    while (int(frames.size()) < count) {
        auto sample = gst::GstRef<GstSample>::Adopt(
            gst_app_sink_try_pull_sample(GST_APP_SINK(sink.Get()), 5 * GST_SECOND));
        if (!sample)
            break;
        frames.push_back(sample);
    }
    gst_element_set_state(pipeline, GST_STATE_NULL);
    return frames;
}

// The rows of a frame's planes that differ from another's (read through the
// frames' video meta, as converters read them), above the bars' bottom
// quarter (where videotestsrc draws noise anew in each frame).
int DifferingRows(GstSample* a, GstSample* b) {
    GstVideoInfo info;
    GstVideoFrame fa, fb;
    if (!gst_video_info_from_caps(&info, gst_sample_get_caps(a)) ||
        !gst_video_frame_map(&fa, &info, gst_sample_get_buffer(a), GST_MAP_READ))
        return -1;
    if (!gst_video_frame_map(&fb, &info, gst_sample_get_buffer(b), GST_MAP_READ)) {
        gst_video_frame_unmap(&fa);
        return -1;
    }
    int differing = 0;
    for (guint p = 0; p < GST_VIDEO_FRAME_N_PLANES(&fa); ++p) {
        // Plane p holds component p in the formats here.
        for (int r = 0; r < GST_VIDEO_FRAME_COMP_HEIGHT(&fa, p) * 3 / 4; ++r) {
            const auto row = [&](GstVideoFrame& f) {
                return static_cast<const uint8_t*>(GST_VIDEO_FRAME_PLANE_DATA(&f, p)) +
                       r * GST_VIDEO_FRAME_PLANE_STRIDE(&f, p);
            };
            differing +=
                std::memcmp(row(fa), row(fb), size_t(GST_VIDEO_INFO_PLANE_STRIDE(&info, p))) != 0;
        }
    }
    gst_video_frame_unmap(&fa);
    gst_video_frame_unmap(&fb);
    return differing;
}

// A format and size, and whether its frames can scroll over one picture.
struct RawPatternCase {
    const char* caps;
    bool scrolls;
};
class GstTestCameraRawFrames : public ::testing::TestWithParam<RawPatternCase> {};

// Past a whole turn of the bars (a width of 64: 16 frames), each frame is
// videotestsrc's, but for a few rows where the bands meet; a width the
// picture cannot scroll over shows the bars standing.
TEST_P(GstTestCameraRawFrames, AreVideotestsrcsScrollingBars) {
    const std::string caps = std::string(GetParam().caps) + ",framerate=30/1";
    constexpr int kFrames = 20;
    gst::ElementRef pipeline = gst::ElementRef::Sink(gst_pipeline_new(nullptr));
    gst::CapsRef parsed = gst::CapsRef::Adopt(gst_caps_from_string(caps.c_str()));
    GstElement* source = gst::MakeRawPatternSource(parsed.Get());
    ASSERT_NE(source, nullptr);
    GstElement* sink = gst_element_factory_make("appsink", "out");
    g_object_set(sink, "sync", FALSE, nullptr);
    gst_bin_add_many(GST_BIN(pipeline.Get()), source, sink, nullptr);
    ASSERT_TRUE(gst_element_link(source, sink));
    const auto frames = Frames(pipeline.Get(), kFrames);
    gst::ElementRef reference = gst::ElementRef::Sink(gst_parse_launch(
        ("videotestsrc pattern=smpte horizontal-speed=" +
         std::to_string(GetParam().scrolls ? gst::kTestScrollPixels : 0) + " ! " + caps +
         " ! appsink name=out sync=false")
            .c_str(),
        nullptr));
    const auto expected = Frames(reference.Get(), kFrames);
    ASSERT_EQ(frames.size(), size_t(kFrames));
    ASSERT_EQ(expected.size(), size_t(kFrames));
    for (int n = 0; n < kFrames; ++n) {
        const int differing = DifferingRows(frames[n].Get(), expected[n].Get());
        EXPECT_GE(differing, 0);
        EXPECT_LE(differing, 2 * 3) << "frame " << n << ": more than where the bands meet";
    }
    EXPECT_EQ(DifferingRows(frames[0].Get(), frames[1].Get()) > 0, GetParam().scrolls);
}

INSTANTIATE_TEST_SUITE_P(
    Formats, GstTestCameraRawFrames,
    ::testing::Values(RawPatternCase{"video/x-raw,format=YUY2,width=64,height=48", true},
                      RawPatternCase{"video/x-raw,format=I420,width=64,height=48", true},
                      RawPatternCase{"video/x-raw,format=YUY2,width=62,height=48", false}),
    [](const auto& info) {
        return std::string(info.param.scrolls ? "Scrolling" : "Standing") +
               std::to_string(info.index);
    });

TEST(GstTestCamera, NoCameraControlsWithoutADeviceNode) {
    EXPECT_EQ(gst::V4l2CameraControls::Open("/nonexistent/video0"), nullptr);
    EXPECT_EQ(gst::OpenCameraControls(nullptr, nullptr), nullptr);
}

}  // namespace
}  // namespace media
