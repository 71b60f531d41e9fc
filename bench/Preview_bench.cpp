// SPDX-License-Identifier: GPL-3.0-or-later
// The camera program's live preview, in-process, on the built-in test camera,
// each measure beside a hand-built GStreamer pipeline that shows the same
// camera in a window of the same size, in the same run:
//  - time from constructing the control panel (which runs the whole start-up:
//    lists the devices, opens the camera, builds and runs the preview chain)
//    to the first frame painted by the video renderer's window;
//  - process CPU time per second of preview at 640x480 and at 1280x720,
//    with the frames painted per second (POMVIRA_BENCH_THREADS=1 also prints
//    each thread's share);
//  - the same with the camera shaped like a 1080p webcam, in MJPG at
//    1920x1080 and 1280x720, 30 fps: the hand-built pipeline decodes the
//    same camera's JPEG frames with jpegdec before the converter;
//  - resident memory after 30 seconds of preview at 1280x720, each viewer
//    alone in a process of its own (this program, started again).
// Needs an X server: run under xvfb-run -a -s "-screen 0 1600x1200x24".
#include <gst/gst.h>

#include <QDir>
#include <QFile>
#include <QImage>
#include <QProcess>
#include <QTemporaryDir>
#include <QWidget>
#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <map>
#include <memory>
#include <stdexcept>
#include <string>
#include <vector>

#include "app/Application.h"
#include "BenchSupport.h"
#include "HandBuiltView.h"
#include "forms/frmControl.h"
#include "media/MediaUtil.h"
#include "media/gst/GstMediaSystem.h"
#include "media/gst/VideoRendererWindow.h"

namespace {

using bench::Clock;

constexpr int kTimeoutMs = 15000;
constexpr int kWarmUpMs = 1000;
constexpr int kMeasureMs = 5000;
constexpr int kResidentAfterMs = 30000;
// Runs one viewer for the memory measure instead of the benchmarks:
// --resident-after-preview=program or =handbuilt:WIDTHxHEIGHT (its window).
constexpr char kResidentFlag[] = "--resident-after-preview=";

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

// The program's application object, watching the video renderer's window
// from outside: after the window has handled a new frame's notice, the
// frame it holds is the one it drew.
class BenchApplication : public TApplication {
  public:
    using TApplication::TApplication;
    bool notify(QObject* receiver, QEvent* event) override {
        const bool result = TApplication::notify(receiver, event);
        if (event->type() == media::gst::FrameMailbox::NoticeType()) {
            if (auto* w = qobject_cast<media::gst::VideoRendererWindow*>(receiver))
                g_watch.Painted(w->CurrentFrame(), w->size());
        }
        return result;
    }
};

// ---------------------------------------------------------------------------
// The program
// ---------------------------------------------------------------------------

// The program, shown, at width x height (YUY2, or MJPG with the webcam
// profile).
std::unique_ptr<TControlForm> StartProgram(int width, int height, bool mjpg = false) {
    auto form = bench::StartProgramInFormat(g_configDir, bench::FormatText(mjpg, width, height));
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
// With mjpg, the camera is the webcam's MJPG source (the test camera's own
// videotestsrc -> I420 -> jpegenc) and jpegdec decodes its frames.
GstElement* MinimalViewerPipeline(int width, int height, bool sync, bool mjpg = false) {
    GstElement* pipeline = gst_pipeline_new(nullptr);
    GstElement* src = bench::TestSource();
    GstElement* camCaps =
        bench::MakeCapsFilter(bench::RawCaps(mjpg ? "I420" : "YUY2", width, height).c_str());
    GstElement* convert = bench::MakeElement("videoconvert");
    GstElement* bgrx = bench::MakeCapsFilter("video/x-raw,format=BGRx");
    GstElement* sink = bench::MakeElement("appsink");
    gst_object_set_name(GST_OBJECT(sink), "preview");
    bench::SetPreviewSink(sink, sync);
    gst_bin_add_many(GST_BIN(pipeline), src, camCaps, convert, bgrx, sink, nullptr);
    bool linked;
    if (mjpg) {
        GstElement* encode = bench::MakeElement("jpegenc");
        GstElement* jpegCaps = bench::MakeCapsFilter("image/jpeg");
        GstElement* decode = bench::MakeElement("jpegdec");
        gst_bin_add_many(GST_BIN(pipeline), encode, jpegCaps, decode, nullptr);
        linked = gst_element_link_many(src, camCaps, encode, jpegCaps, decode, convert, bgrx, sink,
                                       nullptr);
    } else {
        linked = gst_element_link_many(src, camCaps, convert, bgrx, sink, nullptr);
    }
    if (!linked)
        throw std::runtime_error("linking the hand-built pipeline failed");
    return pipeline;
}

std::unique_ptr<bench::HandBuiltView> StartHandBuilt(int width, int height, bool sync = true,
                                                     bool mjpg = false) {
    auto it = g_rendererSize.find(width);
    auto view = std::make_unique<bench::HandBuiltView>(
        MinimalViewerPipeline(width, height, sync, mjpg),
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

// A viewer running: the program's control panel or the hand-built window.
using Viewer = std::shared_ptr<void>;

Viewer StartViewer(bool program, int width, int height, bool mjpg = false) {
    if (program)
        return Viewer(StartProgram(width, height, mjpg));
    return Viewer(StartHandBuilt(width, height, true, mjpg));
}

// CPU per second and new frames painted per second of a viewer, over
// kMeasureMs after a warm-up; false when no frame was painted.
bool MeasureCpu(const std::string& label, bool program, int width, int height, double* cpu,
                double* fps, bool mjpg = false) {
    g_watch.Reset();
    Viewer running = StartViewer(program, width, height, mjpg);
    if (!g_watch.firstFrame.Run(kTimeoutMs))
        return false;
    if (program)
        g_rendererSize[width] = g_watch.size;
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
        bench::PrintThreadCpu(label, threads0, bench::ThreadCpuMs(), wallMs);
    *cpu = (cpu1 - cpu0) * 1e3 / wallMs;
    *fps = (frames1 - frames0) * 1e3 / wallMs;
    running.reset();
    bench::Pump(50);
    return true;
}

int Width(benchmark::State& state) {
    return int(state.range(0));
}
int Height(benchmark::State& state) {
    return state.range(0) == 1920 ? 1080 : state.range(0) == 1280 ? 720 : 480;
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

// Of each measure ("YUY2 640", "MJPG 1920", ...): the median, the least and
// the greatest of the ratios program / hand-built of the turns.
struct PairedRatios {
    double median, least, greatest;
};
std::map<std::string, PairedRatios> g_pairedRatios;

// The program and the hand-built window at one frame size, measured in turn
// (the program first in even iterations, second in odd ones), so that the
// changing load of a shared machine falls on both alike. Each is recorded
// under its own name for the closing table; the iteration time is the
// program's.
void PairedCpuPerSecond(benchmark::State& state, bool mjpg) {
    const int w = Width(state), h = Height(state);
    const std::string kind = mjpg ? "Mjpg" : "";
    const std::string names[2] = {"BM_Program_" + kind + "CpuPerSecond/" + std::to_string(w),
                                  "BM_HandBuilt_" + kind + "CpuPerSecond/" + std::to_string(w)};
    double cpu[2] = {0, 0}, fps[2] = {0, 0};
    std::vector<double> ratios;  // program / hand-built, of each turn
    int n = 0;
    for (auto _ : state) {
        double turn[2] = {0, 0};
        for (int k = 0; k < 2; ++k) {
            const int which = (n + k) % 2;  // 0: the program
            double f = 0;
            if (!MeasureCpu(names[which], which == 0, w, h, &turn[which], &f, mjpg)) {
                state.SkipWithError("no frame was painted in time");
                return;
            }
            cpu[which] += turn[which];
            fps[which] += f;
        }
        state.SetIterationTime(turn[0] / 1e3);
        if (turn[1] > 0)
            ratios.push_back(turn[0] / turn[1]);
        ++n;
    }
    if (!ratios.empty()) {
        std::sort(ratios.begin(), ratios.end());
        const size_t mid = ratios.size() / 2;
        const double median = ratios.size() % 2 ? ratios[mid] : (ratios[mid - 1] + ratios[mid]) / 2;
        g_pairedRatios[(mjpg ? "MJPG " : "YUY2 ") + std::to_string(w) + "x" + std::to_string(h)] = {
            median, ratios.front(), ratios.back()};
        state.counters["paired_ratio_median"] = median;
    }
    const double runs = n ? double(n) : 1.0;
    for (int which = 0; which < 2; ++which) {
        const std::string who = which == 0 ? "program_" : "handbuilt_";
        state.counters[who + "cpu_ms_per_s"] = cpu[which] / runs;
        state.counters[who + "painted_fps"] = fps[which] / runs;
        bench::Keep(names[which], "cpu_ms_per_s", cpu[which] / runs, "ms");
        bench::Keep(names[which], "painted_fps", fps[which] / runs, "");
    }
}

void BM_CpuPerSecond(benchmark::State& state) {
    PairedCpuPerSecond(state, false);
}

// The camera shaped like a 1080p webcam, in MJPG at 30 fps.
void BM_MjpgCpuPerSecond(benchmark::State& state) {
    bench::WebcamProfile webcam;
    PairedCpuPerSecond(state, true);
}

// ---------------------------------------------------------------------------
// Resident memory
// ---------------------------------------------------------------------------

// A field of /proc/self/status in MiB (VmRSS: resident now, VmHWM: its peak).
double StatusMiB(const char* field) {
    QFile status(QStringLiteral("/proc/self/status"));
    if (!status.open(QIODevice::ReadOnly))
        return -1;
    const QByteArray key = QByteArray(field) + ':';
    for (const QByteArray& line : status.readAll().split('\n')) {
        if (line.startsWith(key))
            return line.mid(key.size()).trimmed().split(' ').value(0).toDouble() / 1024.0;
    }
    return -1;
}

// The child: one viewer at 1280x720 for 30 seconds, then its memory.
int RunResidentChild(const QString& which) {
    const bool program = which == QLatin1String("program");
    if (!program) {
        const QStringList size = which.section(':', 1).split('x');
        if (!which.startsWith(QLatin1String("handbuilt:")) || size.size() != 2)
            return 2;
        g_rendererSize[1280] = QSize(size[0].toInt(), size[1].toInt());
    }
    g_watch.Reset();
    Viewer running = StartViewer(program, 1280, 720);
    if (!g_watch.firstFrame.Run(kTimeoutMs))
        return 3;
    const int frames0 = g_watch.frames;
    bench::Pump(kResidentAfterMs);
    std::printf("resident_mib=%.1f peak_mib=%.1f painted_fps=%.1f\n", StatusMiB("VmRSS"),
                StatusMiB("VmHWM"), (g_watch.frames - frames0) * 1e3 / kResidentAfterMs);
    std::fflush(stdout);
    running.reset();
    bench::Pump(50);
    return 0;
}

// The parent: runs the child and records what it printed.
void ResidentMemory(benchmark::State& state, const std::string& name, const QString& which) {
    double resident = 0, peak = 0;
    for (auto _ : state) {
        QProcess child;
        child.setProcessChannelMode(QProcess::ForwardedErrorChannel);
        child.start(QCoreApplication::applicationFilePath(),
                    {QString::fromLatin1(kResidentFlag) + which});
        if (!child.waitForFinished(kResidentAfterMs + 2 * kTimeoutMs) || child.exitCode() != 0) {
            state.SkipWithError("the viewer's process failed");
            return;
        }
        QMap<QString, double> values;
        for (const QString& pair :
             QString::fromLatin1(child.readAllStandardOutput()).trimmed().split(' ')) {
            values[pair.section('=', 0, 0)] = pair.section('=', 1).toDouble();
        }
        state.SetIterationTime(kResidentAfterMs / 1e3);
        resident += values.value(QStringLiteral("resident_mib"));
        peak += values.value(QStringLiteral("peak_mib"));
    }
    bench::Record(state, name, "resident_mib", resident, "MiB");
    bench::Record(state, name, "peak_mib", peak, "MiB");
}

void BM_Program_ResidentMemory(benchmark::State& state) {
    ResidentMemory(state, "BM_Program_ResidentMemory", QStringLiteral("program"));
}

void BM_HandBuilt_ResidentMemory(benchmark::State& state) {
    // The hand-built window as large as the program's video window.
    auto it = g_rendererSize.find(1280);
    const QSize size = it != g_rendererSize.end() ? it->second : QSize(1280, 720);
    ResidentMemory(state, "BM_HandBuilt_ResidentMemory",
                   QStringLiteral("handbuilt:%1x%2").arg(size.width()).arg(size.height()));
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
BENCHMARK(BM_CpuPerSecond)
    ->Arg(640)
    ->Arg(1280)
    ->Iterations(6)
    ->UseManualTime()
    ->Unit(benchmark::kMillisecond);
BENCHMARK(BM_MjpgCpuPerSecond)
    ->Arg(1920)
    ->Arg(1280)
    ->Iterations(4)
    ->UseManualTime()
    ->Unit(benchmark::kMillisecond);
BENCHMARK(BM_Program_ResidentMemory)->Iterations(1)->UseManualTime()->Unit(benchmark::kSecond);
BENCHMARK(BM_HandBuilt_ResidentMemory)->Iterations(1)->UseManualTime()->Unit(benchmark::kSecond);

}  // namespace

int main(int argc, char** argv) {
    QTemporaryDir configDir;
    g_configDir = bench::UseTestSetup(configDir);
    if (g_configDir.isEmpty())
        return 1;

    BenchApplication app(argc, argv);
    media::SetMediaSystem(media::gst::GstMediaSystem());
    bench::ReportOnStandardError();

    if (argc == 2 && std::strncmp(argv[1], kResidentFlag, sizeof kResidentFlag - 1) == 0) {
        const int rc = RunResidentChild(QString::fromLatin1(argv[1] + sizeof kResidentFlag - 1));
        media::SetMediaSystem(nullptr);
        return rc;
    }

    if (!bench::RunBenchmarks(&argc, argv))
        return 1;
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
          "BM_HandBuilt_CpuPerSecond/1280 painted_fps"},
         {"CPU per second of preview, MJPG 1920x1080",
          "BM_Program_MjpgCpuPerSecond/1920 cpu_ms_per_s",
          "BM_HandBuilt_MjpgCpuPerSecond/1920 cpu_ms_per_s"},
         {"frames painted per second, MJPG 1920x1080",
          "BM_Program_MjpgCpuPerSecond/1920 painted_fps",
          "BM_HandBuilt_MjpgCpuPerSecond/1920 painted_fps"},
         {"CPU per second of preview, MJPG 1280x720",
          "BM_Program_MjpgCpuPerSecond/1280 cpu_ms_per_s",
          "BM_HandBuilt_MjpgCpuPerSecond/1280 cpu_ms_per_s"},
         {"frames painted per second, MJPG 1280x720",
          "BM_Program_MjpgCpuPerSecond/1280 painted_fps",
          "BM_HandBuilt_MjpgCpuPerSecond/1280 painted_fps"},
         {"resident memory after 30 s, 1280x720", "BM_Program_ResidentMemory resident_mib",
          "BM_HandBuilt_ResidentMemory resident_mib"},
         {"peak resident memory, 1280x720", "BM_Program_ResidentMemory peak_mib",
          "BM_HandBuilt_ResidentMemory peak_mib"}});
    // Each turn's two measures lie seconds apart: the ratio of a turn is
    // disturbed less by other work than the ratio of the means.
    for (const auto& [measure, r] : g_pairedRatios) {
        std::printf(
            "CPU per second of preview, %s, ratio of each turn: median %.2fx, "
            "%.2fx to %.2fx\n",
            measure.c_str(), r.median, r.least, r.greatest);
    }
    benchmark::Shutdown();
    media::SetMediaSystem(nullptr);
    return 0;
}
