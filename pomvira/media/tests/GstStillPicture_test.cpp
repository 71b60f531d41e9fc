// SPDX-License-Identifier: GPL-3.0-or-later
// A still picture from the program's preview chain (camera -> sample grabber
// -> video renderer, built as the control panel builds it) is the camera
// frame that last passed the grabber, as a 24-bit bottom-up bitmap of the
// connected size: byte for byte what GStreamer's converter gives for that
// frame in 24-bit BGR, stored bottom-up with rows padded to 4 bytes (the
// grabber's frames before it let the renderer's 32-bit format pass). A
// camera's JPEG frame is decoded at its full size when the still is asked
// for: within rounding of what jpegdec and the converter give.
#include <gst/app/gstappsink.h>
#include <gst/app/gstappsrc.h>
#include <gst/gst.h>
#include <gtest/gtest.h>

#include <QTest>
#include <QWidget>
#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <deque>
#include <mutex>
#include <ostream>
#include <vector>

#include "media/Bitmap.h"
#include "media/Filter.h"
#include "media/FilterGraph.h"
#include "media/MediaUtil.h"
#include "media/SampleGrabber.h"
#include "media/VideoWindow.h"
#include "media/gst/BinFilter.h"
#include "media/gst/GstMediaSystem.h"
#include "media/gst/GstRef.h"
#include "media/gst/MediaTypes.h"
#include "media/tests/GstTestDevices.h"

// AddressSanitizer's tracking of dynamic thread-local storage (through
// __tls_get_addr) records a bogus block on the thread that decodes MJPG
// (libjpeg-turbo keeps its SIMD flag thread-local), and the leak check at
// exit then crashes reading it. Leaks are still checked; only that tracking
// is off, for this program alone.
extern "C" const char* __asan_default_options() {
    return "intercept_tls_get_addr=0";
}

namespace media {
namespace {

using gst::CapsRef;
using gst::ElementRef;
using gst::GstRef;

const auto* const kEnvironment = ::testing::AddGlobalTestEnvironment(new GstTestDevices("1"));

// A frame the camera delivered: its own copy of the bytes, and the caps.
struct CameraFrame {
    GstRef<GstBuffer> buffer;
    CapsRef caps;
};

// Copies of the last frames that left the camera's preview pin.
class FrameRecorder {
  public:
    void Attach(GstPad* pad) {
        gst_pad_add_probe(pad, GST_PAD_PROBE_TYPE_BUFFER, &FrameRecorder::OnBuffer, this, nullptr);
    }
    std::deque<CameraFrame> Frames() {
        std::lock_guard<std::mutex> lock(mutex_);
        return frames_;
    }
    int Count() {
        std::lock_guard<std::mutex> lock(mutex_);
        return count_;
    }

  private:
    static GstPadProbeReturn OnBuffer(GstPad* pad, GstPadProbeInfo* info, gpointer data) {
        auto* self = static_cast<FrameRecorder*>(data);
        CameraFrame frame{
            GstRef<GstBuffer>::Adopt(gst_buffer_copy_deep(GST_PAD_PROBE_INFO_BUFFER(info))),
            CapsRef::Adopt(gst_pad_get_current_caps(pad))};
        std::lock_guard<std::mutex> lock(self->mutex_);
        ++self->count_;
        self->frames_.push_back(std::move(frame));
        if (self->frames_.size() > 10)
            self->frames_.pop_front();
        return GST_PAD_PROBE_OK;
    }

    std::mutex mutex_;
    std::deque<CameraFrame> frames_;
    int count_ = 0;
};

// The reference still of a camera frame: [jpegdec !] videoconvert to BGR,
// then the rows stored bottom-up, each padded to a multiple of 4 bytes.
std::vector<uint8_t> ReferenceStill(const CameraFrame& frame) {
    const bool jpeg =
        gst_structure_has_name(gst_caps_get_structure(frame.caps.Get(), 0), "image/jpeg");
    GError* error = nullptr;
    ElementRef pipeline = ElementRef::Sink(gst_parse_launch(
        jpeg ? "appsrc name=src format=time ! jpegdec ! videoconvert ! video/x-raw,format=BGR ! "
               "appsink name=sink sync=false"
             : "appsrc name=src format=time ! videoconvert ! video/x-raw,format=BGR ! "
               "appsink name=sink sync=false",
        &error));
    if (error) {
        ADD_FAILURE() << error->message;
        g_error_free(error);
        return {};
    }
    ElementRef src = ElementRef::Adopt(gst_bin_get_by_name(GST_BIN(pipeline.Get()), "src"));
    ElementRef sink = ElementRef::Adopt(gst_bin_get_by_name(GST_BIN(pipeline.Get()), "sink"));
    g_object_set(src.Get(), "caps", frame.caps.Get(), nullptr);
    gst_element_set_state(pipeline.Get(), GST_STATE_PLAYING);
    gst_app_src_push_buffer(GST_APP_SRC(src.Get()), gst_buffer_ref(frame.buffer.Get()));
    gst_app_src_end_of_stream(GST_APP_SRC(src.Get()));
    GstRef<GstSample> sample = GstRef<GstSample>::Adopt(
        gst_app_sink_try_pull_sample(GST_APP_SINK(sink.Get()), 10 * GST_SECOND));
    std::vector<uint8_t> still;
    GstVideoInfo info;
    GstVideoFrame converted;
    if (sample && gst_video_info_from_caps(&info, gst_sample_get_caps(sample.Get())) &&
        gst_video_frame_map(&converted, &info, gst_sample_get_buffer(sample.Get()), GST_MAP_READ)) {
        const int width = GST_VIDEO_FRAME_WIDTH(&converted);
        const int height = GST_VIDEO_FRAME_HEIGHT(&converted);
        const int stride = (width * 3 + 3) & ~3;
        still.assign(size_t(stride) * height, 0);
        const auto* data = static_cast<const uint8_t*>(GST_VIDEO_FRAME_PLANE_DATA(&converted, 0));
        for (int y = 0; y < height; ++y) {
            std::memcpy(&still[size_t(height - 1 - y) * stride],
                        data + size_t(y) * GST_VIDEO_FRAME_PLANE_STRIDE(&converted, 0),
                        size_t(width) * 3);
        }
        gst_video_frame_unmap(&converted);
    }
    gst_element_set_state(pipeline.Get(), GST_STATE_NULL);
    return still;
}

struct CameraFormat {
    GUID subtype;
    int width, height;
};

void PrintTo(const CameraFormat& format, std::ostream* out) {
    char fourcc[5];
    *out << gst::FormatName(format.subtype, fourcc) << ' ' << format.width << 'x' << format.height;
}

class StillPicture : public ::testing::TestWithParam<CameraFormat> {};

// The largest difference between two pictures' bytes (the largest possible
// when their sizes differ).
int LargestDifference(const std::vector<uint8_t>& a, const std::vector<uint8_t>& b) {
    if (a.size() != b.size())
        return 256;
    int largest = 0;
    for (size_t i = 0; i < a.size(); ++i)
        largest = std::max(largest, std::abs(int(a[i]) - int(b[i])));
    return largest;
}

TEST_P(StillPicture, IsTheLastFrameAsTwentyFourBitBottomUpRgb) {
    const CameraFormat format = GetParam();
    TFilterGraph graph;
    graph.setObjectName(QStringLiteral("CaptureGraph"));
    graph.SetMode(gmCapture);
    TFilter camera;
    camera.setObjectName(QStringLiteral("VideoSourceFilter"));
    {
        TSysDevEnum devices(CLSID_VideoInputDeviceCategory);
        ASSERT_GT(devices.DeviceCount(), 0);
        camera.BaseFilter().StoreMoniker(devices.DeviceMoniker(0).Get());
    }
    camera.SetFilterGraph(&graph);
    TSampleGrabber grabber;
    grabber.setObjectName(QStringLiteral("SampleGrabber"));
    grabber.SetFilterGraph(&graph);
    QWidget host;
    host.resize(700, 560);
    auto* video = new TVideoWindow(&host);
    video->setObjectName(QStringLiteral("VideoWindow"));
    video->setGeometry(16, 32, 665, 497);
    video->SetFilterGraph(&graph);

    graph.SetActive(true);
    auto source = camera.Get<IBaseFilter>();
    ASSERT_TRUE(SetCaptureFormat(source.Get(), format.subtype, format.width, format.height));
    FrameRecorder recorder;
    gst::BinFilter* bin = gst::BinFilter::From(source.Get());
    ASSERT_NE(bin, nullptr);
    ASSERT_NE(bin->PinByName(u"Preview"), nullptr);
    recorder.Attach(bin->PinByName(u"Preview")->Pad());
    auto builder = graph.Get<ICaptureGraphBuilder2>();
    ASSERT_EQ(
        builder->RenderStream(&PIN_CATEGORY_PREVIEW, nullptr, source.Get(),
                              grabber.Get<IBaseFilter>().Get(), video->Get<IBaseFilter>().Get()),
        S_OK);
    ASSERT_TRUE(graph.RunGraph());

    // A few frames in, so that the grabber has let earlier ones go.
    ASSERT_TRUE(QTest::qWaitFor([&] { return recorder.Count() >= 5; }, 10000));
    TBitmap still;
    ASSERT_TRUE(QTest::qWaitFor([&] { return grabber.CopyFrameToBitmap(&still); }, 10000));
    const std::deque<CameraFrame> recent = recorder.Frames();
    graph.StopGraph();

    // Size, depth and orientation of the connected RGB24 type.
    EXPECT_EQ(still.Width(), format.width);
    EXPECT_EQ(still.Height(), format.height);
    EXPECT_EQ(still.BitCount(), 24);
    EXPECT_TRUE(still.BottomUp());
    const int64_t stride = (format.width * 3 + 3) & ~3;
    ASSERT_EQ(still.BitsSize(), size_t(stride * format.height));

    // The pixels: those of one of the camera's last frames, byte for byte;
    // a JPEG frame's within the rounding of two decoders' colour conversion.
    const int tolerance = format.subtype == MEDIASUBTYPE_MJPG ? 8 : 0;
    const std::vector<uint8_t> bits(still.Bits(), still.Bits() + still.BitsSize());
    int closest = 256;
    for (auto it = recent.rbegin(); it != recent.rend() && closest > tolerance; ++it)
        closest = std::min(closest, LargestDifference(ReferenceStill(*it), bits));
    EXPECT_LE(closest, tolerance) << "the still matches none of the camera's last " << recent.size()
                                  << " frames";
}

std::string FormatName(const ::testing::TestParamInfo<CameraFormat>& info) {
    char fourcc[5];
    return gst::FormatName(info.param.subtype, fourcc);
}

INSTANTIATE_TEST_SUITE_P(CameraFormats, StillPicture,
                         ::testing::Values(CameraFormat{MEDIASUBTYPE_YUY2, 320, 240},
                                           CameraFormat{MEDIASUBTYPE_I420, 640, 480},
                                           CameraFormat{MEDIASUBTYPE_MJPG, 640, 480}),
                         &FormatName);

}  // namespace
}  // namespace media
