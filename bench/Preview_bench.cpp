// The camera program's live preview, in-process, on the built-in test camera,
// each measure beside a hand-built GStreamer pipeline that shows the same
// camera in a window of the same size, in the same run:
//  - time from constructing the control panel (which runs the whole start-up:
//    lists the devices, opens the camera, builds and runs the preview chain)
//    to the first frame painted by the video renderer's window;
//  - process CPU time per second of preview at 640x480 and at 1280x720,
//    with the frames painted per second (POMVIRA_BENCH_THREADS=1 also prints
//    each thread's share).
// Needs an X server: run under xvfb-run -a -s "-screen 0 1600x1200x24".
#include <gst/gst.h>

#include <QDir>
#include <QFile>
#include <QImage>
#include <QTemporaryDir>
#include <QWidget>
#include <cstdio>
#include <cstdlib>
#include <map>
#include <memory>
#include <stdexcept>
#include <string>

#include "Application.h"
#include "BenchSupport.h"
#include "HandBuiltView.h"
#include "frmControl.h"
#include "media/MediaUtil.h"
#include "media/gst/GstMediaSystem.h"
#include "media/gst/VideoRendererWindow.h"

namespace {

using bench::Clock;

constexpr int kTimeoutMs = 15000;
constexpr int kWarmUpMs = 1000;
constexpr int kMeasureMs = 5000;

QString g_configDir;

// Frames painted by a preview window: each new frame counts once, however
// often it is repainted.
struct PaintWatch {
    bench::Waiter firstFrame;
    int frames = 0;
    qint64 lastKey = 0;
    Clock::time_point first;
    QSize size;

    void Reset() {
        firstFrame.Reset();
        frames = 0;
        lastKey = 0;
    }
    void Painted(const QImage& frame, const QSize& windowSize) {
        if (frame.isNull() || frame.cacheKey() == lastKey)
            return;
        lastKey = frame.cacheKey();
        if (++frames == 1) {
            first = Clock::now();
            size = windowSize;
            firstFrame.Finish();
        }
    }
};

PaintWatch g_watch;
// The renderer window's size at each frame size, for the hand-built window.
std::map<int, QSize> g_rendererSize;

// The program's application object, watching the paint events of the video
// renderer's window from outside: after the window has handled a paint
// event, the frame it holds is the one it painted.
class BenchApplication : public TApplication {
  public:
    using TApplication::TApplication;
    bool notify(QObject* receiver, QEvent* event) override {
        const bool result = TApplication::notify(receiver, event);
        if (event->type() == QEvent::Paint) {
            if (auto* w = qobject_cast<media::gst::VideoRendererWindow*>(receiver))
                g_watch.Painted(w->CurrentFrame(), w->size());
        }
        return result;
    }
};

// ---------------------------------------------------------------------------
// The program
// ---------------------------------------------------------------------------

// The settings the program starts with: the capture format, and folders in
// the temporary configuration folder (so nothing is made beside the bench).
void WriteSettings(int width, int height) {
    QFile ini(QDir(g_configDir).filePath(QStringLiteral("Pomvira.ini")));
    if (!ini.open(QIODevice::WriteOnly | QIODevice::Truncate))
        throw std::runtime_error("cannot write the settings file");
    const QString text =
        QStringLiteral(
            "[CAPTURE]\nVIDEO FOLDER=%1/Video\nSNAP FOLDER=%1/Image\n"
            "VIDEO FORMAT=Major Type: Video - Sub Type: YUY2 Format: VideoInfo YUY2 %2X%3, "
            "16 bits\n")
            .arg(g_configDir)
            .arg(width)
            .arg(height);
    ini.write(text.toUtf8());
}

std::unique_ptr<TControlForm> StartProgram(int width, int height) {
    WriteSettings(width, height);
    QDir(g_configDir).mkdir(QStringLiteral("Video"));
    QDir(g_configDir).mkdir(QStringLiteral("Image"));
    auto form = std::make_unique<TControlForm>();
    if (ApplicationTerminating())
        throw std::runtime_error("the program's start-up asked to end");
    form->show();
    return form;
}

// ---------------------------------------------------------------------------
// The hand-built window: videotestsrc -> camera format -> videoconvert ->
// BGRx -> appsink, the newest frame painted scaled by a widget.
// ---------------------------------------------------------------------------

// The camera's pipeline: sync: the appsink waits for each frame's time on
// the pipeline's clock (GStreamer's default; the first frame then waits for
// the live source's latency), or hands frames on as they arrive.
GstElement* MinimalViewerPipeline(int width, int height, bool sync) {
    GstElement* pipeline = gst_pipeline_new(nullptr);
    GstElement* src = bench::MakeElement("videotestsrc");
    g_object_set(src, "is-live", TRUE, "pattern", 0 /* smpte */, "horizontal-speed", 4, nullptr);
    const std::string camera = "video/x-raw,format=YUY2,width=" + std::to_string(width) +
                               ",height=" + std::to_string(height) + ",framerate=30/1";
    GstElement* camCaps = bench::MakeCapsFilter(camera.c_str());
    GstElement* convert = bench::MakeElement("videoconvert");
    GstElement* bgrx = bench::MakeCapsFilter("video/x-raw,format=BGRx");
    GstElement* sink = bench::MakeElement("appsink");
    gst_object_set_name(GST_OBJECT(sink), "preview");
    bench::SetPreviewSink(sink, sync);
    gst_bin_add_many(GST_BIN(pipeline), src, camCaps, convert, bgrx, sink, nullptr);
    if (!gst_element_link_many(src, camCaps, convert, bgrx, sink, nullptr))
        throw std::runtime_error("linking the hand-built pipeline failed");
    return pipeline;
}

std::unique_ptr<bench::HandBuiltView> StartHandBuilt(int width, int height, bool sync = true) {
    auto it = g_rendererSize.find(width);
    auto view = std::make_unique<bench::HandBuiltView>(
        MinimalViewerPipeline(width, height, sync),
        it != g_rendererSize.end() ? it->second : QSize(width, height));
    view->OnPainted = [](const QImage& frame, const QSize& size) { g_watch.Painted(frame, size); };
    view->Play();
    view->show();
    return view;
}

// ---------------------------------------------------------------------------
// Benchmarks
// ---------------------------------------------------------------------------

template <class Start>
double StartToFirstPaint(benchmark::State& state, Start start) {
    g_watch.Reset();
    const Clock::time_point t0 = Clock::now();
    auto running = start();
    if (!g_watch.firstFrame.Run(kTimeoutMs)) {
        state.SkipWithError("no frame was painted in time");
        return -1;
    }
    const double ms = bench::Milliseconds(t0, g_watch.first);
    running.reset();
    bench::Pump(50);
    return ms;
}

template <class Start>
void FirstPaint(benchmark::State& state, const char* name, Start start) {
    // The first start (plugins loaded, skin pictures decoded once) is not counted.
    if (StartToFirstPaint(state, start) < 0)
        return;
    double total = 0;
    for (auto _ : state) {
        const double ms = StartToFirstPaint(state, start);
        if (ms < 0)
            break;
        state.SetIterationTime(ms / 1e3);
        total += ms;
    }
    bench::Record(state, name, "ms_to_first_paint", total, "ms");
}

template <class Start>
void CpuPerSecond(benchmark::State& state, const std::string& name, Start start, bool program) {
    double cpu = 0, fps = 0;
    for (auto _ : state) {
        g_watch.Reset();
        auto running = start();
        if (!g_watch.firstFrame.Run(kTimeoutMs)) {
            state.SkipWithError("no frame was painted in time");
            break;
        }
        if (program)
            g_rendererSize[int(state.range(0))] = g_watch.size;
        bench::Pump(kWarmUpMs);
        const auto threads0 = bench::ThreadCpuMs();
        const double cpu0 = bench::ProcessCpuMs();
        const int frames0 = g_watch.frames;
        const Clock::time_point wall0 = Clock::now();
        bench::Pump(kMeasureMs);
        const double cpu1 = bench::ProcessCpuMs();
        const int frames1 = g_watch.frames;
        const double wallMs = bench::Milliseconds(wall0, Clock::now());
        if (getenv("POMVIRA_BENCH_THREADS"))
            bench::PrintThreadCpu(name, threads0, bench::ThreadCpuMs(), wallMs);
        const double perSecond = (cpu1 - cpu0) * 1e3 / wallMs;
        state.SetIterationTime(perSecond / 1e3);
        cpu += perSecond;
        fps += (frames1 - frames0) * 1e3 / wallMs;
        running.reset();
        bench::Pump(50);
    }
    bench::Record(state, name, "cpu_ms_per_s", cpu, "ms");
    bench::Record(state, name, "painted_fps", fps, "");
}

int Width(benchmark::State& state) {
    return int(state.range(0));
}
int Height(benchmark::State& state) {
    return state.range(0) == 1280 ? 720 : 480;
}

void BM_Program_StartToFirstPaint(benchmark::State& state) {
    FirstPaint(state, "BM_Program_StartToFirstPaint", [] {
        auto form = StartProgram(640, 480);
        return form;
    });
    g_rendererSize[640] = g_watch.size;
}

void BM_HandBuilt_StartToFirstPaint(benchmark::State& state) {
    FirstPaint(state, "BM_HandBuilt_StartToFirstPaint", [] { return StartHandBuilt(640, 480); });
}

void BM_HandBuiltNoSync_StartToFirstPaint(benchmark::State& state) {
    FirstPaint(state, "BM_HandBuiltNoSync_StartToFirstPaint",
               [] { return StartHandBuilt(640, 480, false); });
}

void BM_Program_CpuPerSecond(benchmark::State& state) {
    const int w = Width(state), h = Height(state);
    CpuPerSecond(
        state, "BM_Program_CpuPerSecond/" + std::to_string(w),
        [w, h] { return StartProgram(w, h); }, true);
}

void BM_HandBuilt_CpuPerSecond(benchmark::State& state) {
    const int w = Width(state), h = Height(state);
    CpuPerSecond(
        state, "BM_HandBuilt_CpuPerSecond/" + std::to_string(w),
        [w, h] { return StartHandBuilt(w, h); }, false);
}

BENCHMARK(BM_Program_StartToFirstPaint)
    ->Iterations(5)
    ->UseManualTime()
    ->Unit(benchmark::kMillisecond);
BENCHMARK(BM_HandBuilt_StartToFirstPaint)
    ->Iterations(5)
    ->UseManualTime()
    ->Unit(benchmark::kMillisecond);
BENCHMARK(BM_HandBuiltNoSync_StartToFirstPaint)
    ->Iterations(5)
    ->UseManualTime()
    ->Unit(benchmark::kMillisecond);
BENCHMARK(BM_Program_CpuPerSecond)
    ->Arg(640)
    ->Arg(1280)
    ->Iterations(2)
    ->UseManualTime()
    ->Unit(benchmark::kMillisecond);
BENCHMARK(BM_HandBuilt_CpuPerSecond)
    ->Arg(640)
    ->Arg(1280)
    ->Iterations(2)
    ->UseManualTime()
    ->Unit(benchmark::kMillisecond);

}  // namespace

int main(int argc, char** argv) {
    QTemporaryDir configDir;
    g_configDir = bench::UseTestSetup(configDir);
    if (g_configDir.isEmpty())
        return 1;

    BenchApplication app(argc, argv);
    media::SetMediaSystem(media::gst::GstMediaSystem());
    bench::ReportOnStandardError();

    benchmark::Initialize(&argc, argv);
    if (benchmark::ReportUnrecognizedArguments(argc, argv))
        return 1;
    benchmark::RunSpecifiedBenchmarks();
    bench::PrintPairs(
        "The program beside the hand-built window pipeline (same run):", "program",
        {{"start to first painted frame, 640x480", "BM_Program_StartToFirstPaint ms_to_first_paint",
          "BM_HandBuilt_StartToFirstPaint ms_to_first_paint"},
         {"same, hand-built appsink not synchronised",
          "BM_Program_StartToFirstPaint ms_to_first_paint",
          "BM_HandBuiltNoSync_StartToFirstPaint ms_to_first_paint"},
         {"CPU per second of preview, 640x480", "BM_Program_CpuPerSecond/640 cpu_ms_per_s",
          "BM_HandBuilt_CpuPerSecond/640 cpu_ms_per_s"},
         {"frames painted per second, 640x480", "BM_Program_CpuPerSecond/640 painted_fps",
          "BM_HandBuilt_CpuPerSecond/640 painted_fps"},
         {"CPU per second of preview, 1280x720", "BM_Program_CpuPerSecond/1280 cpu_ms_per_s",
          "BM_HandBuilt_CpuPerSecond/1280 cpu_ms_per_s"},
         {"frames painted per second, 1280x720", "BM_Program_CpuPerSecond/1280 painted_fps",
          "BM_HandBuilt_CpuPerSecond/1280 painted_fps"}});
    benchmark::Shutdown();
    media::SetMediaSystem(nullptr);
    return 0;
}
