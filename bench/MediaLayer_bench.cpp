// SPDX-License-Identifier: GPL-3.0-or-later
// The media layer's preview chain on the built-in test camera (camera ->
// sample grabber -> video renderer, built by the capture graph builder of a
// capture-mode TFilterGraph), each measure beside a GStreamer pipeline built
// by hand that does the same work, in the same run:
//  - time from activating the graph to the first frame at the grabber;
//  - process CPU time per preview frame at 1280x720 (and at 640x480).
// The renderer's control lies on a widget that is never shown, so the
// renderer hands every frame to its window but nothing is painted (painting
// is measured by Preview_bench). The benchmark counts frames with the
// grabber's callback, so the grabber lays every frame out for it.
#include <gst/app/gstappsink.h>
#include <gst/gst.h>
#include <gst/video/video.h>

#include <QApplication>
#include <QImage>
#include <QWidget>
#include <cstdlib>
#include <cstring>
#include <functional>
#include <memory>
#include <stdexcept>
#include <vector>

#include "BenchSupport.h"
#include "HandBuiltView.h"
#include "media/Filter.h"
#include "media/FilterGraph.h"
#include "media/MediaBoundary.h"
#include "media/MediaTypes.h"
#include "media/MediaUtil.h"
#include "media/SampleGrabber.h"
#include "media/VideoWindow.h"
#include "media/gst/GstMediaSystem.h"
#include "media/testdevices/TestRig.h"
#include "media/gst/SampleGrabberCore.h"

namespace {

using bench::Clock;

constexpr int kTimeoutMs = 15000;
// Frames let through before the CPU clock starts, and frames measured.
constexpr int kWarmUpFrames = 30;
constexpr int kMeasuredFrames = 150;

// What a sink reports from the streaming thread: the time of the first
// frame, and the CPU clock at the start and the end of the measured frames.
struct FrameProbe {
    bench::Waiter waiter;
    std::atomic<int> frames{0};
    int warmUp = 0;  // 0: finish at the first frame
    int measured = 0;
    Clock::time_point first;
    Clock::time_point wallStart, wallEnd;
    double cpuStart = 0, cpuEnd = 0;

    void Reset(int warmUpFrames, int measuredFrames) {
        waiter.Reset();
        frames = 0;
        warmUp = warmUpFrames;
        measured = measuredFrames;
    }
    // Streaming thread, once per frame.
    void Frame() {
        const int n = ++frames;
        if (measured == 0) {
            if (n == 1) {
                first = Clock::now();
                waiter.Finish();
            }
            return;
        }
        if (n == warmUp) {
            cpuStart = bench::ProcessCpuMs();
            wallStart = Clock::now();
        } else if (n == warmUp + measured) {
            cpuEnd = bench::ProcessCpuMs();
            wallEnd = Clock::now();
            waiter.Finish();
        }
    }
};

// ---------------------------------------------------------------------------
// The media layer
// ---------------------------------------------------------------------------

media::ComPtr<media::IMoniker> TestCameraMoniker() {
    media::TSysDevEnum devices(media::CLSID_VideoInputDeviceCategory);
    for (int i = 0; i < devices.DeviceCount(); ++i) {
        if (devices.DeviceEntry(i).FriendlyName == "Test Camera 1")
            return devices.DeviceMoniker(i);
    }
    throw std::runtime_error("no \"Test Camera 1\" (is POMVIRA_TEST_DEVICES set?)");
}

// The camera's capture pin format: YUY2 at the given size.
void SetCameraFormat(media::IBaseFilter* camera, int width, int height) {
    media::TPinList pins(camera);
    auto config = media::QueryAs<media::IAMStreamConfig>(pins.FirstPin().Get());
    if (!config)
        throw std::runtime_error("the camera's pin has no IAMStreamConfig");
    int32_t count = 0, size = 0;
    config->GetNumberOfCapabilities(&count, &size);
    std::vector<uint8_t> caps(size_t(size > 0 ? size : 1));
    for (int32_t i = 0; i < count; ++i) {
        media::AM_MEDIA_TYPE* mt = nullptr;
        if (config->GetStreamCaps(i, &mt, caps.data()) != media::S_OK || !mt)
            continue;
        bool match = false;
        if (mt->subtype == media::MEDIASUBTYPE_YUY2 && mt->formattype == media::FORMAT_VideoInfo &&
            mt->cbFormat >= sizeof(media::VIDEOINFOHEADER)) {
            media::VIDEOINFOHEADER vih;
            std::memcpy(&vih, mt->pbFormat, sizeof vih);
            match = vih.bmiHeader.biWidth == width && std::abs(vih.bmiHeader.biHeight) == height;
        }
        const media::HRESULT hr = match ? config->SetFormat(mt) : media::S_OK;
        media::DisposeMediaType(mt);
        if (match) {
            if (hr != media::S_OK)
                throw std::runtime_error("SetFormat refused the camera's format");
            return;
        }
    }
    throw std::runtime_error("the camera offers no such YUY2 format");
}

// The layer's preview chain, made as the control panel makes it.
class LayerChain {
  public:
    explicit LayerChain(FrameProbe* probe) {
        graph_.setObjectName(QStringLiteral("CaptureGraph"));
        graph_.SetMode(media::gmCapture);
        camera_.setObjectName(QStringLiteral("VideoSourceFilter"));
        camera_.BaseFilter().StoreMoniker(TestCameraMoniker().Get());
        camera_.SetFilterGraph(&graph_);
        grabber_.setObjectName(QStringLiteral("SampleGrabber"));
        grabber_.SetOnBuffer(
            [probe](media::TSampleGrabber*, double, uint8_t*, int32_t) { probe->Frame(); });
        grabber_.SetFilterGraph(&graph_);
        host_.resize(700, 560);
        video_ = new media::TVideoWindow(&host_);
        video_->setObjectName(QStringLiteral("VideoWindow"));
        video_->setGeometry(16, 32, 665, 497);
        video_->SetFilterGraph(&graph_);
    }
    ~LayerChain() {
        try {
            graph_.StopGraph();
            graph_.EmptyGraph();
            graph_.SetActive(false);
        } catch (const std::exception& e) {
            std::fprintf(stderr, "stopping the graph: %s\n", e.what());
        }
    }

    // Activation, the format (0: the camera's default), the preview chain, run.
    void Start(int width, int height) {
        graph_.SetActive(true);
        auto source = camera_.Get<media::IBaseFilter>();
        if (width)
            SetCameraFormat(source.Get(), width, height);
        auto builder = graph_.Get<media::ICaptureGraphBuilder2>();
        auto grabber = grabber_.Get<media::IBaseFilter>();
        auto renderer = video_->Get<media::IBaseFilter>();
        const media::HRESULT hr = builder->RenderStream(
            &media::PIN_CATEGORY_PREVIEW, nullptr, source.Get(), grabber.Get(), renderer.Get());
        if (media::FAILED(hr))
            throw std::runtime_error("RenderStream failed");
        if (!graph_.RunGraph())
            throw std::runtime_error("RunGraph refused");
    }

  private:
    media::TFilterGraph graph_;
    media::TFilter camera_;
    media::TSampleGrabber grabber_;
    QWidget host_;  // never shown
    media::TVideoWindow* video_;
};

// ---------------------------------------------------------------------------
// Hand-built pipelines
// ---------------------------------------------------------------------------

void Link(const std::vector<GstElement*>& chain) {
    for (size_t i = 1; i < chain.size(); ++i) {
        if (!gst_element_link(chain[i - 1], chain[i]))
            throw std::runtime_error("linking the hand-built pipeline failed");
    }
}

// A pipeline that owns its elements and is stopped when it goes.
class HandBuilt {
  public:
    HandBuilt() : pipeline_(gst_pipeline_new(nullptr)) {}
    ~HandBuilt() {
        gst_element_set_state(pipeline_, GST_STATE_NULL);
        gst_object_unref(pipeline_);
    }
    GstElement* Add(GstElement* e) {
        gst_bin_add(GST_BIN(pipeline_), e);
        return e;
    }
    void Play() {
        if (gst_element_set_state(pipeline_, GST_STATE_PLAYING) == GST_STATE_CHANGE_FAILURE)
            throw std::runtime_error("the hand-built pipeline does not start");
    }
    void Stop() { gst_element_set_state(pipeline_, GST_STATE_NULL); }

  private:
    GstElement* pipeline_;
};

// An appsink as the renderer sets its own up, calling fn with each sample.
template <class Fn>
GstElement* AppSink(Fn* fn) {
    GstElement* sink = bench::MakeElement("appsink");
    g_object_set(sink, "max-buffers", 1u, "drop", TRUE, "qos", TRUE, "enable-last-sample", FALSE,
                 nullptr);
    GstAppSinkCallbacks callbacks{};
    callbacks.new_sample = [](GstAppSink* s, gpointer data) -> GstFlowReturn {
        GstSample* sample = gst_app_sink_pull_sample(s);
        (*static_cast<Fn*>(data))(sample);
        if (sample)
            gst_sample_unref(sample);
        return GST_FLOW_OK;
    };
    gst_app_sink_set_callbacks(GST_APP_SINK(sink), &callbacks, fn, nullptr);
    return sink;
}

// The test camera's raw source, YUY2 640x480 -> videoconvert -> BGR ->
// appsink. The frame
// is taken where it reaches the appsink's input, as the layer's grabber
// callback sees it right before the renderer's input (both before the sink
// waits for the frame's time on the clock).
void StartFirstFramePipeline(HandBuilt& p, FrameProbe* probe) {
    GstElement* src = p.Add(bench::TestSource("YUY2", 640, 480));
    GstElement* convert = p.Add(bench::MakeElement("videoconvert"));
    GstElement* bgr = p.Add(bench::MakeCapsFilter("video/x-raw,format=BGR"));
    static std::function<void(GstSample*)> ignore = [](GstSample*) {};
    GstElement* sink = p.Add(AppSink(&ignore));
    Link({src, convert, bgr, sink});
    GstPad* pad = gst_element_get_static_pad(sink, "sink");
    gst_pad_add_probe(
        pad, GST_PAD_PROBE_TYPE_BUFFER,
        [](GstPad*, GstPadProbeInfo*, gpointer data) {
            static_cast<FrameProbe*>(data)->Frame();
            return GST_PAD_PROBE_OK;
        },
        probe, nullptr);
    gst_object_unref(pad);
    p.Play();
}

// The work of the layer's preview chain, by hand: the camera's format, a tee
// with a leaky preview queue, conversion to 32-bit BGRx, a 24-bit bottom-up
// copy of every frame (what the grabber hands its callback) and an appsink
// that keeps the newest frame as an image over the buffer (the renderer's).
class CopyingChain {
  public:
    CopyingChain(HandBuilt& p, int width, int height, FrameProbe* probe)
        : pipeline_(p), probe_(probe) {
        onSample_ = [this](GstSample* sample) { KeepImage(sample); };
        GstElement* src = p.Add(bench::TestSource("YUY2", width, height));
        GstElement* tee = p.Add(bench::MakeElement("tee"));
        GstElement* queue = p.Add(bench::MakeElement("queue"));
        g_object_set(queue, "max-size-time", guint64(0), "max-size-bytes", 0u, "max-size-buffers",
                     2u, "leaky", 2 /* downstream */, nullptr);
        GstElement* toBgrx = p.Add(bench::MakeElement("videoconvert"));
        GstElement* bgrx = p.Add(bench::MakeCapsFilter("video/x-raw,format=BGRx"));
        GstElement* sink = p.Add(AppSink(&onSample_));
        Link({src, tee, queue, toBgrx, bgrx, sink});
        GstPad* pad = gst_element_get_static_pad(bgrx, "src");
        gst_pad_add_probe(pad, GST_PAD_PROBE_TYPE_BUFFER, &CopyingChain::OnBuffer, this, nullptr);
        gst_object_unref(pad);
        p.Play();
    }

    // The streaming threads use the chain's members: they stop first.
    ~CopyingChain() { pipeline_.Stop(); }

  private:
    static GstPadProbeReturn OnBuffer(GstPad* pad, GstPadProbeInfo* info, gpointer data) {
        auto* self = static_cast<CopyingChain*>(data);
        GstCaps* caps = gst_pad_get_current_caps(pad);
        GstVideoInfo vi;
        const bool known = caps && gst_video_info_from_caps(&vi, caps);
        if (caps)
            gst_caps_unref(caps);
        GstVideoFrame frame;
        if (known &&
            gst_video_frame_map(&frame, &vi, GST_PAD_PROBE_INFO_BUFFER(info), GST_MAP_READ)) {
            const int width = GST_VIDEO_FRAME_WIDTH(&frame);
            const int height = GST_VIDEO_FRAME_HEIGHT(&frame);
            const int srcStride = GST_VIDEO_FRAME_PLANE_STRIDE(&frame, 0);
            const int outStride = (width * 3 + 3) & ~3;
            self->copy_.resize(size_t(outStride) * size_t(height));
            const auto* src = static_cast<const uint8_t*>(GST_VIDEO_FRAME_PLANE_DATA(&frame, 0));
            for (int y = 0; y < height; ++y) {
                media::gst::BgrxRowToBgr(
                    src + size_t(y) * size_t(srcStride),
                    self->copy_.data() + size_t(height - 1 - y) * size_t(outStride), width);
            }
            gst_video_frame_unmap(&frame);
            self->probe_->Frame();
        }
        return GST_PAD_PROBE_OK;
    }

    void KeepImage(GstSample* sample) {
        GstVideoInfo vi;
        auto* frame = new GstVideoFrame;
        if (!sample || !gst_video_info_from_caps(&vi, gst_sample_get_caps(sample)) ||
            !gst_video_frame_map(frame, &vi, gst_sample_get_buffer(sample), GST_MAP_READ)) {
            delete frame;
            return;
        }
        // The image holds the mapped frame until it goes.
        latest_ = QImage(
            static_cast<const uchar*>(GST_VIDEO_FRAME_PLANE_DATA(frame, 0)),
            GST_VIDEO_FRAME_WIDTH(frame), GST_VIDEO_FRAME_HEIGHT(frame),
            GST_VIDEO_FRAME_PLANE_STRIDE(frame, 0), QImage::Format_RGB32,
            [](void* f) {
                gst_video_frame_unmap(static_cast<GstVideoFrame*>(f));
                delete static_cast<GstVideoFrame*>(f);
            },
            frame);
    }

    HandBuilt& pipeline_;
    FrameProbe* probe_;
    std::vector<uint8_t> copy_;
    QImage latest_;
    std::function<void(GstSample*)> onSample_;
};

// ---------------------------------------------------------------------------
// Benchmarks
// ---------------------------------------------------------------------------

bool WaitFor(benchmark::State& state, FrameProbe& probe) {
    if (probe.waiter.Run(kTimeoutMs))
        return true;
    state.SkipWithError("no frame arrived in time");
    return false;
}

// One activation of the layer's chain: milliseconds to the first frame, or -1.
double LayerFirstFrame(benchmark::State& state, FrameProbe& probe) {
    probe.Reset(0, 0);
    LayerChain chain(&probe);
    const Clock::time_point start = Clock::now();
    chain.Start(0, 0);
    if (!WaitFor(state, probe))
        return -1;
    return bench::Milliseconds(start, probe.first);
}

double HandBuiltFirstFrame(benchmark::State& state, FrameProbe& probe) {
    probe.Reset(0, 0);
    const Clock::time_point start = Clock::now();
    HandBuilt pipeline;
    StartFirstFramePipeline(pipeline, &probe);
    if (!WaitFor(state, probe))
        return -1;
    return bench::Milliseconds(start, probe.first);
}

// The first run (loading plugins, first windows) is not counted.
void FirstFrame(benchmark::State& state, const char* name,
                double (*once)(benchmark::State&, FrameProbe&)) {
    FrameProbe probe;
    if (once(state, probe) < 0)
        return;
    bench::Pump(20);
    double total = 0;
    for (auto _ : state) {
        const double ms = once(state, probe);
        if (ms < 0)
            break;
        state.SetIterationTime(ms / 1e3);
        total += ms;
        bench::Pump(20);
    }
    bench::Record(state, name, "ms_to_first_frame", total, "ms");
}

void BM_Layer_ActivateToFirstFrame(benchmark::State& state) {
    FirstFrame(state, "BM_Layer_ActivateToFirstFrame", &LayerFirstFrame);
}

void BM_HandBuilt_ActivateToFirstFrame(benchmark::State& state) {
    FirstFrame(state, "BM_HandBuilt_ActivateToFirstFrame", &HandBuiltFirstFrame);
}

void ReportCpu(benchmark::State& state, const std::string& name, double cpuMs, double fps) {
    bench::Record(state, name, "cpu_ms_per_frame", cpuMs, "ms");
    bench::Record(state, name, "fps", fps, "");
}

int Height(benchmark::State& state) {
    return state.range(0) == 1280 ? 720 : 480;
}

void BM_Layer_CpuPerFrame(benchmark::State& state) {
    FrameProbe probe;
    double cpu = 0, fps = 0;
    for (auto _ : state) {
        probe.Reset(kWarmUpFrames, kMeasuredFrames);
        LayerChain chain(&probe);
        chain.Start(int(state.range(0)), Height(state));
        if (!WaitFor(state, probe))
            break;
        const double perFrame = (probe.cpuEnd - probe.cpuStart) / kMeasuredFrames;
        state.SetIterationTime(perFrame / 1e3);
        cpu += perFrame;
        fps += kMeasuredFrames * 1e3 / bench::Milliseconds(probe.wallStart, probe.wallEnd);
    }
    ReportCpu(state, "BM_Layer_CpuPerFrame/" + std::to_string(state.range(0)), cpu, fps);
}

void BM_HandBuilt_CpuPerFrame(benchmark::State& state) {
    FrameProbe probe;
    double cpu = 0, fps = 0;
    for (auto _ : state) {
        probe.Reset(kWarmUpFrames, kMeasuredFrames);
        HandBuilt pipeline;
        CopyingChain chain(pipeline, int(state.range(0)), Height(state), &probe);
        if (!WaitFor(state, probe))
            break;
        const double perFrame = (probe.cpuEnd - probe.cpuStart) / kMeasuredFrames;
        state.SetIterationTime(perFrame / 1e3);
        cpu += perFrame;
        fps += kMeasuredFrames * 1e3 / bench::Milliseconds(probe.wallStart, probe.wallEnd);
    }
    ReportCpu(state, "BM_HandBuilt_CpuPerFrame/" + std::to_string(state.range(0)), cpu, fps);
}

BENCHMARK(BM_Layer_ActivateToFirstFrame)
    ->Iterations(10)
    ->UseManualTime()
    ->Unit(benchmark::kMillisecond);
BENCHMARK(BM_HandBuilt_ActivateToFirstFrame)
    ->Iterations(10)
    ->UseManualTime()
    ->Unit(benchmark::kMillisecond);
BENCHMARK(BM_Layer_CpuPerFrame)
    ->Arg(640)
    ->Arg(1280)
    ->Iterations(3)
    ->UseManualTime()
    ->Unit(benchmark::kMillisecond);
BENCHMARK(BM_HandBuilt_CpuPerFrame)
    ->Arg(640)
    ->Arg(1280)
    ->Iterations(3)
    ->UseManualTime()
    ->Unit(benchmark::kMillisecond);

}  // namespace

int main(int argc, char** argv) {
    // The built-in test camera, and no real device touched.
    setenv("POMVIRA_TEST_DEVICES", "1", 1);
    setenv("POMVIRA_NO_REAL_DEVICES", "1", 1);
    QApplication app(argc, argv);
    media::SetMediaSystem(media::gst::GstMediaSystem());
    media::gst::InstallTestRig();
    if (!bench::RunBenchmarks(&argc, argv))
        return 1;
    bench::PrintPairs(
        "Media layer beside the hand-built pipeline (same run):", "layer",
        {{"activate to first frame", "BM_Layer_ActivateToFirstFrame ms_to_first_frame",
          "BM_HandBuilt_ActivateToFirstFrame ms_to_first_frame"},
         {"CPU per frame, 640x480", "BM_Layer_CpuPerFrame/640 cpu_ms_per_frame",
          "BM_HandBuilt_CpuPerFrame/640 cpu_ms_per_frame"},
         {"frames per second measured, 640x480", "BM_Layer_CpuPerFrame/640 fps",
          "BM_HandBuilt_CpuPerFrame/640 fps"},
         {"CPU per frame, 1280x720", "BM_Layer_CpuPerFrame/1280 cpu_ms_per_frame",
          "BM_HandBuilt_CpuPerFrame/1280 cpu_ms_per_frame"},
         {"frames per second measured, 1280x720", "BM_Layer_CpuPerFrame/1280 fps",
          "BM_HandBuilt_CpuPerFrame/1280 fps"}});
    benchmark::Shutdown();
    media::SetMediaSystem(nullptr);
    return 0;
}
