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
//    same camera's JPEG frames with jpegdec before the converter; and a
//    1920x1080 frame shown in a video area of half its size (960x540), the
//    hand-built window as small;
//  - the program with both of its windows minimised, beside the same
//    program shown, under a window manager (openbox, started for these
//    rows): MJPG 1920x1080 from the webcam-shaped camera and YUY2 1280x720,
//    with the frames painted while minimised, the time from the restored
//    window's exposure to the first new frame drawn, and the test camera's
//    source alone (the delivery of frames made once, as a real camera's
//    cost the program nothing to make);
//  - resident memory after 30 seconds of preview at 1280x720, each viewer
//    alone in a process of its own (this program, started again);
//  - whole processes, from exec to the first painted frame: this program
//    started again as the camera program (its main() steps) and as the
//    minimal viewer (a Qt application, GStreamer, the hand-built window),
//    in turn, at 640x480.
// Needs an X server: run under xvfb-run -a -s "-screen 0 1600x1200x24"
// (and openbox installed for the minimised rows).
#include <gst/gst.h>

#include <QApplication>
#include <QDir>
#include <QFile>
#include <QImage>
#include <QPointer>
#include <QProcess>
#include <QTemporaryDir>
#include <QWidget>
#include <QWindow>
#include <xcb/xcb.h>
#include <algorithm>
#include <cstdio>
#include <ctime>
#include <utility>
#include <cstdlib>
#include <cstring>
#include <functional>
#include <map>
#include <memory>
#include <stdexcept>
#include <string>
#include <vector>

#include "app/Application.h"
#include "app/WindowSystem.h"
#include "BenchSupport.h"
#include "HandBuiltView.h"
#include "forms/frmControl.h"
#include "forms/frmView.h"
#include "media/MediaUtil.h"
#include "media/VideoWindow.h"
#include "media/gst/GstMediaSystem.h"
#include "media/testdevices/TestCameraFrames.h"
#include "media/testdevices/TestRig.h"
#include "media/gst/VideoRendererWindow.h"
#include "media/gst/VideoSurface.h"

namespace {

using bench::Clock;

constexpr int kTimeoutMs = 15000;
constexpr int kWarmUpMs = 1000;
constexpr int kMeasureMs = 5000;
constexpr int kResidentAfterMs = 30000;
// Runs one viewer for the memory measure instead of the benchmarks:
// --resident-after-preview=program or =handbuilt:WIDTHxHEIGHT (its window).
constexpr char kResidentFlag[] = "--resident-after-preview=";
// Runs one viewer until its first painted frame, then prints the monotonic
// clock: --first-paint=program, =handbuilt or =handbuilt-nosync.
constexpr char kFirstPaintFlag[] = "--first-paint=";
constexpr int kExecTurns = 8;

QString g_configDir;

double MonotonicMs() {
    timespec ts{};
    clock_gettime(CLOCK_MONOTONIC, &ts);
    return double(ts.tv_sec) * 1e3 + double(ts.tv_nsec) / 1e6;
}

// Frames painted by a preview window: each new frame counts once, however
// often it is repainted.
struct PaintWatch {
    bench::Waiter firstFrame;
    int frames = 0;
    int framesPut = 0;  // of them, drawn by the display from shared memory
    qint64 lastKey = 0;
    Clock::time_point first;
    double firstMonotonicMs = 0;
    QSize size;

    void Reset() {
        firstFrame.Reset();
        frames = 0;
        framesPut = 0;
        lastKey = 0;
    }
    void Painted(const QImage& frame, const QSize& windowSize, bool put = false) {
        if (frame.isNull() || frame.cacheKey() == lastKey)
            return;
        lastKey = frame.cacheKey();
        framesPut += put ? 1 : 0;
        if (++frames == 1) {
            first = Clock::now();
            firstMonotonicMs = MonotonicMs();
            size = windowSize;
            firstFrame.Finish();
        }
    }
};

PaintWatch g_watch;
// The renderer window's size at each frame size, for the hand-built window.
std::map<int, QSize> g_rendererSize;

// The program's application object, watching the video renderer's window
// from outside: a frame counts once it is drawn on the screen, by the
// renderer's surface or by the display from the buffer the frame was
// decoded or converted into (as the window handles the frame's notice, is
// exposed or is seen again: looked at after every event), or by the
// renderer's widget as it paints.
class BenchApplication : public TApplication {
  public:
    using TApplication::TApplication;
    bool notify(QObject* receiver, QEvent* event) override {
        const bool result = TApplication::notify(receiver, event);
        if (event->type() == media::gst::FrameMailbox::NoticeType()) {
            auto* w = qobject_cast<media::gst::VideoRendererWindow*>(receiver);
            if (w && w != renderer_) {
                renderer_ = w;
                put_ = 0;
                surfaceDrawn_ = surfacePut_ = 0;
            }
        }
        media::gst::VideoRendererWindow* w = renderer_;
        if (!w)
            return result;
        if (w->FramesPut() != put_) {
            put_ = w->FramesPut();
            g_watch.Painted(w->CurrentFrame(), w->size(), true);
        }
        if (media::gst::VideoSurface* surface = w->Surface()) {
            if (w->DrawsOnSurface() && surface->FramesDrawn() != surfaceDrawn_)
                g_watch.Painted(w->CurrentFrame(), w->size(), surface->FramesPut() != surfacePut_);
            surfaceDrawn_ = surface->FramesDrawn();
            surfacePut_ = surface->FramesPut();
        }
        if (event->type() == QEvent::Paint && receiver == w && !w->DrawsOnSurface())
            g_watch.Painted(w->CurrentFrame(), w->size());
        return result;
    }

  private:
    QPointer<media::gst::VideoRendererWindow> renderer_;
    uint64_t put_ = 0;
    int surfaceDrawn_ = 0;
    int surfacePut_ = 0;
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

// The program's video area made `area` large (the renderer's window, which
// decodes for the size it shows).
void ResizeVideoArea(TControlForm& form, const QSize& area) {
    if (QWidget* video = form.ViewForm()->VideoWindow->VideoHandle())
        video->resize(area);
}

// ---------------------------------------------------------------------------
// The hand-built window: the test camera's raw source (YUY2) ->
// videoconvert -> BGRx -> appsink, the newest frame painted scaled by a
// widget.
// ---------------------------------------------------------------------------

// The camera's pipeline: sync: the appsink waits for each frame's time on
// the pipeline's clock (GStreamer's default; the first frame then waits for
// the live source's latency), or hands frames on as they arrive.
// With mjpg, the camera is the webcam's MJPG source (the test camera's own
// source of JPEG frames encoded once) and jpegdec decodes its frames.
GstElement* MinimalViewerPipeline(int width, int height, bool sync, bool mjpg = false) {
    GstElement* pipeline = gst_pipeline_new(nullptr);
    GstElement* convert = bench::MakeElement("videoconvert");
    GstElement* bgrx = bench::MakeCapsFilter("video/x-raw,format=BGRx");
    GstElement* sink = bench::MakeElement("appsink");
    gst_object_set_name(GST_OBJECT(sink), "preview");
    bench::SetPreviewSink(sink, sync);
    gst_bin_add_many(GST_BIN(pipeline), convert, bgrx, sink, nullptr);
    bool linked;
    if (mjpg) {
        GstElement* camera = media::gst::MakeJpegCycleSource(width, height, 30, 1);
        if (!camera)
            throw std::runtime_error("no JPEG camera source");
        GstElement* decode = bench::MakeElement("jpegdec");
        gst_bin_add_many(GST_BIN(pipeline), camera, decode, nullptr);
        linked = gst_element_link_many(camera, decode, convert, bgrx, sink, nullptr);
    } else {
        GstElement* src = bench::TestSource("YUY2", width, height);
        gst_bin_add(GST_BIN(pipeline), src);
        linked = gst_element_link_many(src, convert, bgrx, sink, nullptr);
    }
    if (!linked)
        throw std::runtime_error("linking the hand-built pipeline failed");
    return pipeline;
}

std::unique_ptr<bench::HandBuiltView> StartHandBuilt(int width, int height, bool sync = true,
                                                     bool mjpg = false, QSize area = QSize()) {
    auto it = g_rendererSize.find(width);
    if (area.isEmpty())
        area = it != g_rendererSize.end() ? it->second : QSize(width, height);
    auto view = std::make_unique<bench::HandBuiltView>(
        MinimalViewerPipeline(width, height, sync, mjpg), area);
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

// With an area, the program's video area or the hand-built window is made
// that large.
Viewer StartViewer(bool program, int width, int height, bool mjpg = false, QSize area = QSize()) {
    if (program) {
        auto form = StartProgram(width, height, mjpg);
        if (!area.isEmpty())
            ResizeVideoArea(*form, area);
        return Viewer(std::move(form));
    }
    return Viewer(StartHandBuilt(width, height, true, mjpg, area));
}

// CPU per second and new frames painted per second of a viewer, over
// kMeasureMs after a warm-up; false when no frame was painted.
bool MeasureCpu(const std::string& label, bool program, int width, int height, double* cpu,
                double* fps, bool mjpg = false, QSize area = QSize()) {
    g_watch.Reset();
    Viewer running = StartViewer(program, width, height, mjpg, area);
    if (!g_watch.firstFrame.Run(kTimeoutMs))
        return false;
    if (program && area.isEmpty())
        g_rendererSize[width] = g_watch.size;
    bench::Pump(kWarmUpMs);
    const auto threads0 = bench::ThreadCpuMs();
    const double cpu0 = bench::ProcessCpuMs();
    const int frames0 = g_watch.frames;
    const int put0 = g_watch.framesPut;
    const Clock::time_point wall0 = Clock::now();
    bench::Pump(kMeasureMs);
    const double cpu1 = bench::ProcessCpuMs();
    const int frames1 = g_watch.frames;
    const double wallMs = bench::Milliseconds(wall0, Clock::now());
    if (getenv("POMVIRA_BENCH_THREADS")) {
        bench::PrintThreadCpu(label, threads0, bench::ThreadCpuMs(), wallMs);
        if (program)
            std::printf("%s  frames drawn by the display from shared memory: %d of %d\n",
                        label.c_str(), g_watch.framesPut - put0, frames1 - frames0);
    }
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
// Exec to the first painted frame, program / minimal viewer, of each turn.
PairedRatios g_execRatio{0, 0, 0};

// The program and the hand-built window at one frame size, measured in turn
// (the program first in even iterations, second in odd ones), so that the
// changing load of a shared machine falls on both alike. Each is recorded
// under its own name for the closing table; the iteration time is the
// program's.
void PairedCpuPerSecond(benchmark::State& state, bool mjpg, QSize area = QSize()) {
    const int w = Width(state), h = Height(state);
    const std::string kind = std::string(mjpg ? "Mjpg" : "") + (area.isEmpty() ? "" : "Half");
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
            if (!MeasureCpu(names[which], which == 0, w, h, &turn[which], &f, mjpg, area)) {
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
        g_pairedRatios[(mjpg ? "MJPG " : "YUY2 ") + std::to_string(w) + "x" + std::to_string(h) +
                       (area.isEmpty() ? "" : " in a half-size area")] = {median, ratios.front(),
                                                                          ratios.back()};
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

// The same, shown in a video area of half the frame's size.
void BM_MjpgHalfCpuPerSecond(benchmark::State& state) {
    bench::WebcamProfile webcam;
    PairedCpuPerSecond(state, true, QSize(Width(state) / 2, Height(state) / 2));
}

// ---------------------------------------------------------------------------
// Both windows minimised, under a window manager
// ---------------------------------------------------------------------------

// openbox on the benchmark's X server while it lives: minimising is the
// window manager's work (it unmaps the windows and marks them hidden).
class WindowManager {
  public:
    ~WindowManager() {
        if (process_.state() == QProcess::NotRunning)
            return;
        process_.terminate();
        if (!process_.waitForFinished(5000))
            process_.kill();
        process_.waitForFinished(5000);
        bench::Pump(300);  // the windows handed back to the root window
    }
    // False when openbox is missing or does not take the screen in time.
    bool Start() {
        auto* x11 = qApp->nativeInterface<QNativeInterface::QX11Application>();
        if (!x11)
            return false;
        connection_ = x11->connection();
        root_ = xcb_setup_roots_iterator(xcb_get_setup(connection_)).data->root;
        xcb_intern_atom_reply_t* atom = xcb_intern_atom_reply(
            connection_, xcb_intern_atom(connection_, 0, 24, "_NET_SUPPORTING_WM_CHECK"),
            nullptr);
        if (!atom)
            return false;
        check_ = atom->atom;
        std::free(atom);
        // Left by an earlier window manager, it would say one runs.
        xcb_delete_property(connection_, root_, check_);
        xcb_flush(connection_);
        process_.start(QStringLiteral("openbox"), {QStringLiteral("--sm-disable")});
        if (!process_.waitForStarted(5000))
            return false;
        for (int i = 0; i < 200 && !Managing(); ++i)
            bench::Pump(50);
        bench::Pump(300);
        return Managing();
    }

  private:
    bool Managing() {
        xcb_get_property_reply_t* reply = xcb_get_property_reply(
            connection_, xcb_get_property(connection_, 0, root_, check_, XCB_ATOM_WINDOW, 0, 1),
            nullptr);
        const bool set = reply && xcb_get_property_value_length(reply) == 4;
        std::free(reply);
        return set;
    }

    QProcess process_;
    xcb_connection_t* connection_ = nullptr;
    xcb_window_t root_ = 0;
    xcb_atom_t check_ = 0;
};

// Waits, bounded, until `done` holds, looking every millisecond.
bool PumpUntil(const std::function<bool()>& done, int timeoutMs) {
    const Clock::time_point start = Clock::now();
    while (!done()) {
        if (bench::Milliseconds(start, Clock::now()) > timeoutMs)
            return false;
        bench::Pump(1);
    }
    return true;
}

// CPU per second and new frames painted per second of what runs, over
// kMeasureMs after `settleMs`.
void MeasureRunning(const std::string& label, int settleMs, double* cpu, double* fps) {
    bench::Pump(settleMs);
    const auto threads0 = bench::ThreadCpuMs();
    const double cpu0 = bench::ProcessCpuMs();
    const int frames0 = g_watch.frames;
    const Clock::time_point wall0 = Clock::now();
    bench::Pump(kMeasureMs);
    const double wallMs = bench::Milliseconds(wall0, Clock::now());
    *cpu = (bench::ProcessCpuMs() - cpu0) * 1e3 / wallMs;
    *fps = (g_watch.frames - frames0) * 1e3 / wallMs;
    if (getenv("POMVIRA_BENCH_THREADS"))
        bench::PrintThreadCpu(label, threads0, bench::ThreadCpuMs(), wallMs);
}

// CPU per second of the test camera's own source alone, feeding a fakesink
// (no program): the share of the process that a camera delivering its
// frames by itself would not cost.
double CameraSourceCpu(int width, int height, bool mjpg) {
    GstElement* pipeline = gst_pipeline_new(nullptr);
    GstElement* sink = bench::MakeElement("fakesink");
    GstElement* src = mjpg ? media::gst::MakeJpegCycleSource(width, height, 30, 1)
                           : bench::TestSource("YUY2", width, height);
    if (!src)
        throw std::runtime_error("no camera source");
    gst_bin_add_many(GST_BIN(pipeline), src, sink, nullptr);
    const bool linked = gst_element_link(src, sink);
    double cpu = 0, fps = 0;
    if (linked && gst_element_set_state(pipeline, GST_STATE_PLAYING) != GST_STATE_CHANGE_FAILURE)
        MeasureRunning("camera source alone", kWarmUpMs, &cpu, &fps);
    gst_element_set_state(pipeline, GST_STATE_NULL);
    gst_object_unref(pipeline);
    return cpu;
}

// Of each measure: the program minimised and shown, their ratio, the frames
// painted while minimised, the time from the restored window's exposure to
// the first new frame drawn, and the camera's source alone.
struct MinimisedResult {
    double minimised = 0, shown = 0, minimisedFps = 0, restoreMs = 0, source = 0;
    PairedRatios ratios{0, 0, 0};
};
std::map<std::string, MinimisedResult> g_minimised;

// The program shown, then both of its windows minimised (or the other way
// round in odd turns), in one run of the program per turn, under openbox.
void MinimisedCpuPerSecond(benchmark::State& state, bool mjpg) {
    const int w = Width(state), h = Height(state);
    const std::string measure = std::string(mjpg ? "MJPG " : "YUY2 ") + std::to_string(w) + "x" +
                                std::to_string(h);
    WindowManager wm;
    if (!wm.Start()) {
        state.SkipWithError("openbox, the window manager, did not start");
        return;
    }
    MinimisedResult total;
    std::vector<double> ratios;
    int n = 0;
    for (auto _ : state) {
        g_watch.Reset();
        auto form = StartProgram(w, h, mjpg);
        QWidget* view = form->ViewForm();
        if (!g_watch.firstFrame.Run(kTimeoutMs)) {
            state.SkipWithError("no frame was painted in time");
            return;
        }
        double cpu[2] = {0, 0}, fps[2] = {0, 0};
        for (int k = 0; k < 2; ++k) {
            const bool minimised = (n + k) % 2 == 1;
            if (minimised) {
                MinimizeApplication();
                if (!PumpUntil([&] { return !view->windowHandle()->isExposed(); }, kTimeoutMs)) {
                    state.SkipWithError("the window manager did not minimise the windows");
                    return;
                }
            }
            MeasureRunning(measure + (minimised ? " minimised" : " shown"), kWarmUpMs,
                           &cpu[minimised], &fps[minimised]);
            if (minimised) {
                const int frames = g_watch.frames;
                view->showNormal();
                // From the moment the window is on the screen again.
                if (!PumpUntil([&] { return view->windowHandle()->isExposed(); }, kTimeoutMs)) {
                    state.SkipWithError("the window manager did not restore the windows");
                    return;
                }
                const Clock::time_point restored = Clock::now();
                if (!PumpUntil([&] { return g_watch.frames > frames; }, kTimeoutMs)) {
                    state.SkipWithError("no frame was painted after the restore");
                    return;
                }
                total.restoreMs += bench::Milliseconds(restored, Clock::now());
            }
        }
        form.reset();
        bench::Pump(50);
        total.source += CameraSourceCpu(w, h, mjpg);
        state.SetIterationTime(cpu[1] / 1e3);
        total.minimised += cpu[1];
        total.shown += cpu[0];
        total.minimisedFps += fps[1];
        ratios.push_back(cpu[1] / cpu[0]);
        ++n;
    }
    if (n == 0)
        return;
    std::sort(ratios.begin(), ratios.end());
    total.minimised /= n;
    total.shown /= n;
    total.minimisedFps /= n;
    total.restoreMs /= n;
    total.source /= n;
    total.ratios = {ratios[ratios.size() / 2], ratios.front(), ratios.back()};
    g_minimised[measure] = total;
    state.counters["minimised_cpu_ms_per_s"] = total.minimised;
    state.counters["shown_cpu_ms_per_s"] = total.shown;
    state.counters["minimised_painted_fps"] = total.minimisedFps;
    state.counters["restore_to_frame_ms"] = total.restoreMs;
    state.counters["camera_source_cpu_ms_per_s"] = total.source;
}

// The webcam's MJPG 1920x1080 at 30 fps.
void BM_MjpgMinimisedCpuPerSecond(benchmark::State& state) {
    bench::WebcamProfile webcam;
    MinimisedCpuPerSecond(state, true);
}

// The test camera's YUY2 1280x720 at 30 fps.
void BM_MinimisedCpuPerSecond(benchmark::State& state) {
    MinimisedCpuPerSecond(state, false);
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

// ---------------------------------------------------------------------------
// Whole processes: exec to the first painted frame
// ---------------------------------------------------------------------------

// The child: one viewer at 640x480 until its first painted frame; prints
// the monotonic clock at its steps ("name=ms" pairs) and ends. The program
// takes main()'s steps; the minimal viewer is a Qt application with
// GStreamer and the hand-built window.
int RunFirstPaintChild(int argc, char** argv, const QString& which) {
    const auto print = [](const std::vector<std::pair<const char*, double>>& marks) {
        for (const auto& [name, ms] : marks)
            std::printf("%s=%.3f ", name, ms);
        std::printf("\n");
        std::fflush(stdout);
    };
    if (which == QLatin1String("program")) {
        const bool choseX11 = ChooseWindowSystem(argc, argv);
        BenchApplication app(argc, argv);
        if (choseX11)
            RestorePlatformChoice();
        const double qtMs = MonotonicMs();
        media::SetMediaSystem(media::gst::GstMediaSystem());
        media::gst::InstallTestRig(&app);
        bench::ReportOnStandardError();
        const double appMs = MonotonicMs();
        g_watch.Reset();
        auto form = std::make_unique<TControlForm>();
        const double formMs = MonotonicMs();
        form->show();
        if (ApplicationTerminating() || !g_watch.firstFrame.Run(kTimeoutMs))
            return 3;
        print({{"qt", qtMs}, {"app", appMs}, {"form", formMs},
               {"first_paint", g_watch.firstMonotonicMs}});
        form.reset();
        media::SetMediaSystem(nullptr);
        return 0;
    }
    QApplication app(argc, argv);
    const double qtMs = MonotonicMs();
    gst_init(&argc, &argv);
    const double appMs = MonotonicMs();
    g_watch.Reset();
    auto view = StartHandBuilt(640, 480, which != QLatin1String("handbuilt-nosync"), false,
                               QSize(640, 480));
    if (!g_watch.firstFrame.Run(kTimeoutMs))
        return 3;
    print({{"qt", qtMs}, {"app", appMs}, {"form", appMs}, {"first_paint", g_watch.firstMonotonicMs}});
    return 0;
}

// The parent: starts the child and returns the times of its steps since
// the exec (milliseconds); empty when it failed.
std::map<std::string, double> ExecToFirstPaint(const QString& which) {
    QProcess child;
    child.setProcessChannelMode(QProcess::ForwardedErrorChannel);
    const double start = MonotonicMs();
    child.start(QCoreApplication::applicationFilePath(),
                {QString::fromLatin1(kFirstPaintFlag) + which});
    if (!child.waitForFinished(2 * kTimeoutMs) || child.exitCode() != 0)
        return {};
    std::map<std::string, double> steps;
    for (const QString& pair :
         QString::fromLatin1(child.readAllStandardOutput()).trimmed().split(' ')) {
        steps[pair.section('=', 0, 0).toStdString()] = pair.section('=', 1).toDouble() - start;
    }
    return steps;
}

// The program and the two minimal viewers (its appsink synchronised, as
// GStreamer's default, or not) in turn, kExecTurns times each after one
// start of each that is not counted (the files in the page cache).
void BM_ExecToFirstPaint(benchmark::State& state) {
    bench::WriteSettings(g_configDir, bench::FormatText(false, 640, 480));
    const QString viewers[] = {QStringLiteral("program"), QStringLiteral("handbuilt"),
                               QStringLiteral("handbuilt-nosync")};
    const char* names[] = {"BM_Program_ExecToFirstPaint", "BM_HandBuilt_ExecToFirstPaint",
                           "BM_HandBuiltNoSync_ExecToFirstPaint"};
    for (const QString& viewer : viewers) {
        if (ExecToFirstPaint(viewer).empty()) {
            state.SkipWithError("a viewer's process failed");
            return;
        }
    }
    std::map<std::string, double> totals[3];
    std::vector<double> ratios;
    int n = 0;
    for (auto _ : state) {
        double first[3] = {0, 0, 0};
        for (int k = 0; k < 3; ++k) {
            const int which = (n + k) % 3;
            const std::map<std::string, double> steps = ExecToFirstPaint(viewers[which]);
            if (steps.empty() || !steps.count("first_paint")) {
                state.SkipWithError("a viewer's process failed");
                return;
            }
            for (const auto& [step, ms] : steps)
                totals[which][step] += ms;
            first[which] = steps.at("first_paint");
        }
        state.SetIterationTime(first[0] / 1e3);
        ratios.push_back(first[0] / first[1]);
        ++n;
    }
    for (int which = 0; which < 3; ++which) {
        for (const auto& [step, total] : totals[which])
            bench::Keep(names[which], step + "_ms", total / n, "ms");
        state.counters[std::string(names[which] + 3) + "_ms"] = totals[which]["first_paint"] / n;
    }
    std::sort(ratios.begin(), ratios.end());
    g_execRatio = {ratios[ratios.size() / 2], ratios.front(), ratios.back()};
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
BENCHMARK(BM_MjpgHalfCpuPerSecond)
    ->Arg(1920)
    ->Iterations(4)
    ->UseManualTime()
    ->Unit(benchmark::kMillisecond);
BENCHMARK(BM_MjpgMinimisedCpuPerSecond)
    ->Arg(1920)
    ->Iterations(4)
    ->UseManualTime()
    ->Unit(benchmark::kMillisecond);
BENCHMARK(BM_MinimisedCpuPerSecond)
    ->Arg(1280)
    ->Iterations(4)
    ->UseManualTime()
    ->Unit(benchmark::kMillisecond);
BENCHMARK(BM_ExecToFirstPaint)
    ->Iterations(kExecTurns)
    ->UseManualTime()
    ->Unit(benchmark::kMillisecond);
BENCHMARK(BM_Program_ResidentMemory)->Iterations(1)->UseManualTime()->Unit(benchmark::kSecond);
BENCHMARK(BM_HandBuilt_ResidentMemory)->Iterations(1)->UseManualTime()->Unit(benchmark::kSecond);

}  // namespace

int main(int argc, char** argv) {
    if (argc == 2 && std::strncmp(argv[1], kFirstPaintFlag, sizeof kFirstPaintFlag - 1) == 0) {
        // The parent's test set-up and settings are in the environment.
        return RunFirstPaintChild(argc, argv,
                                  QString::fromLatin1(argv[1] + sizeof kFirstPaintFlag - 1));
    }
    QTemporaryDir configDir;
    g_configDir = bench::UseTestSetup(configDir);
    if (g_configDir.isEmpty())
        return 1;

    BenchApplication app(argc, argv);
    media::SetMediaSystem(media::gst::GstMediaSystem());
    media::gst::InstallTestRig();
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
         {"CPU per second, MJPG 1920x1080 in 960x540",
          "BM_Program_MjpgHalfCpuPerSecond/1920 cpu_ms_per_s",
          "BM_HandBuilt_MjpgHalfCpuPerSecond/1920 cpu_ms_per_s"},
         {"frames painted per second, same", "BM_Program_MjpgHalfCpuPerSecond/1920 painted_fps",
          "BM_HandBuilt_MjpgHalfCpuPerSecond/1920 painted_fps"},
         {"exec to first painted frame, 640x480", "BM_Program_ExecToFirstPaint first_paint_ms",
          "BM_HandBuilt_ExecToFirstPaint first_paint_ms"},
         {"same, hand-built appsink not synchronised", "BM_Program_ExecToFirstPaint first_paint_ms",
          "BM_HandBuiltNoSync_ExecToFirstPaint first_paint_ms"},
         {"exec to the Qt application made", "BM_Program_ExecToFirstPaint qt_ms",
          "BM_HandBuilt_ExecToFirstPaint qt_ms"},
         {"exec to application and GStreamer ready", "BM_Program_ExecToFirstPaint app_ms",
          "BM_HandBuilt_ExecToFirstPaint app_ms"},
         {"exec to control panel created (program)", "BM_Program_ExecToFirstPaint form_ms",
          "BM_HandBuilt_ExecToFirstPaint form_ms"},
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
    if (!g_minimised.empty()) {
        std::printf("\nThe program with both windows minimised beside the same program shown "
                    "(under openbox, same run):\n");
        std::printf("%-44s %14s %14s %8s\n", "measure", "minimised", "shown", "ratio");
        for (const auto& [measure, r] : g_minimised) {
            std::printf("%-44s %10.2f ms %10.2f ms %7.2fx\n",
                        ("CPU per second, " + measure).c_str(), r.minimised, r.shown,
                        r.shown > 0 ? r.minimised / r.shown : 0.0);
            std::printf("  ratio of each turn: median %.2fx, %.2fx to %.2fx; frames painted while "
                        "minimised %.2f a second; exposed again to a new frame drawn in %.2f ms\n",
                        r.ratios.median, r.ratios.least, r.ratios.greatest, r.minimisedFps,
                        r.restoreMs);
            std::printf("  the test camera's own source alone (no program): %.2f ms; minimised "
                        "less that: %.2f ms, %.2fx the program shown\n",
                        r.source, r.minimised - r.source,
                        r.shown > 0 ? (r.minimised - r.source) / r.shown : 0.0);
        }
    }
    if (g_execRatio.median > 0) {
        std::printf(
            "Exec to first painted frame, ratio of each turn: median %.2fx, %.2fx to %.2fx\n",
            g_execRatio.median, g_execRatio.least, g_execRatio.greatest);
    }
    benchmark::Shutdown();
    media::SetMediaSystem(nullptr);
    return 0;
}
