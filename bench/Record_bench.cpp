// SPDX-License-Identifier: GPL-3.0-or-later
// Recording, in-process, on the built-in test camera (1280x720 YUY2, 30
// frames a second) and test microphone, with sound, beside a GStreamer
// pipeline built by hand that does the same work in the same run: the camera
// through a tee to a preview window and to avimux + filesink, the
// microphone's sound to the same avimux.
//  - frames written in a long recording: ffprobe's count against 30 per
//    second of the file (none may be lost);
//  - process CPU per recorded second (steady state), and per second of
//    preview alone, so that the recording's own share shows;
//  - the stop: from the click until the file is complete and the preview
//    runs again (the program: the record button's second click, then the
//    first frame of the rebuilt preview; by hand: the recording branch is
//    unlinked and ended while the preview goes on, until the file is closed).
// The same long recording and preview with the camera shaped like a 1080p
// webcam, in MJPG at 1920x1080 and 1280x720, 30 fps, without sound or
// compressor: the file takes the camera's JPEG frames as they come; by hand,
// the JPEG branch of the tee goes to avimux, the other through jpegdec to the
// window.
// POMVIRA_BENCH_RECORD_SECONDS sets the long recording's length (60).
// Needs an X server: run under xvfb-run -a -s "-screen 0 1600x1200x24".
#include <gst/gst.h>

#include <QDir>
#include <QFile>
#include <QTemporaryDir>
#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <map>
#include <memory>
#include <stdexcept>
#include <string>

#include "widgets/ActionList.h"
#include "app/Application.h"
#include "AviProbe.h"
#include "BenchSupport.h"
#include "HandBuiltView.h"
#include "widgets/ImageButton.h"
#include "forms/frmControl.h"
#include "forms/frmView.h"
#include "media/VideoWindow.h"
#include "media/MediaUtil.h"
#include "media/SampleGrabber.h"
#include "media/gst/GstMediaSystem.h"
#include "media/testdevices/TestCameraFrames.h"
#include "SessionProbe.h"

namespace {

using bench::Clock;

constexpr int kTimeoutMs = 15000;
constexpr int kWarmUpMs = 1000;
constexpr int kPreviewMs = 10000;
constexpr int kShortRecordingMs = 2000;
constexpr double kFramesPerSecond = 30;

QString g_configDir;
// The program's video renderer window at each MJPG width, for the hand-built
// window (the same painting work).
std::map<int, QSize> g_rendererSize;

int RecordSeconds() {
    const char* text = std::getenv("POMVIRA_BENCH_RECORD_SECONDS");
    const int seconds = text ? std::atoi(text) : 0;
    return seconds > 0 ? seconds : 60;
}

QString VideoFolder() {
    return QDir(g_configDir).filePath(QStringLiteral("Video"));
}

// What a long recording gave: frames counted by ffprobe against the frames
// that its duration should hold.
// wallSeconds, when given, is the time from the start to the stop: the frames
// that time should hold are recorded too.
void RecordFrames(benchmark::State& state, const std::string& name, const QString& file,
                  bool sound = true, double wallSeconds = 0) {
    const TAviProbe probe = ProbeAvi(file, true);
    const TAviStream* video = probe.Stream(QStringLiteral("video"));
    if (!probe.Complete() || !video || (sound && !probe.Stream(QStringLiteral("audio")))) {
        state.SkipWithError("the recording is not complete or lacks a stream");
        std::fprintf(stderr, "%s: %s\n", name.c_str(), probe.Text().toLocal8Bit().constData());
        return;
    }
    const double expected = probe.duration * kFramesPerSecond;
    bench::Record(state, name, "frames", double(video->frames), "");
    bench::Record(state, name, "frames_expected", expected, "");
    bench::Record(state, name, "frames_lost",
                  std::max(0.0, std::round(expected) - double(video->frames)), "");
    if (wallSeconds > 0)
        bench::Record(state, name, "frames_per_wall_s", double(video->frames) / wallSeconds, "");
    bench::Keep(name, "codec_mjpeg", video->codec == QLatin1String("mjpeg") ? 1 : 0, "");
    std::fprintf(stderr, "%s: %s\n", name.c_str(), probe.Text().toLocal8Bit().constData());
    QFile::remove(file);
}

// Process CPU per second while the event loop runs for `ms` milliseconds
// (POMVIRA_BENCH_THREADS=1 also prints each thread's share under `label`).
double CpuPerSecond(const std::string& label, int ms) {
    const auto threads0 = bench::ThreadCpuMs();
    const double cpu0 = bench::ProcessCpuMs();
    const Clock::time_point wall0 = Clock::now();
    bench::Pump(ms);
    const double cpu1 = bench::ProcessCpuMs();
    const double wallMs = bench::Milliseconds(wall0, Clock::now());
    if (std::getenv("POMVIRA_BENCH_THREADS"))
        bench::PrintThreadCpu(label, threads0, bench::ThreadCpuMs(), wallMs);
    return (cpu1 - cpu0) * 1e3 / wallMs;
}

// CPU per second of a preview that runs, after a warm-up.
void PreviewCpu(benchmark::State& state, const std::string& name) {
    bench::Pump(kWarmUpMs);
    double total = 0;
    for (auto _ : state) {
        const double cpu = CpuPerSecond(name, kPreviewMs);
        state.SetIterationTime(cpu / 1e3);
        total += cpu;
    }
    bench::Record(state, name, "cpu_ms_per_s", total, "ms");
}

// ---------------------------------------------------------------------------
// The program
// ---------------------------------------------------------------------------

// Waits for a frame at the sample grabber (the preview runs); false on timeout.
bool WaitForPreview(TControlForm& form) {
    const Clock::time_point start = Clock::now();
    while (!Probe(form).Grabber()->HasFrame()) {
        if (bench::Milliseconds(start, Clock::now()) > kTimeoutMs)
            return false;
        QCoreApplication::processEvents(QEventLoop::AllEvents, 1);
    }
    return true;
}

// The program started, its preview running; null (the benchmark skipped)
// when no frame comes.
std::unique_ptr<TControlForm> StartPreviewing(benchmark::State& state) {
    auto form = bench::StartProgram(g_configDir, 1280, 720, "USE AUDIO=1\n");
    form->show();
    if (WaitForPreview(*form))
        return form;
    state.SkipWithError("no preview");
    return nullptr;
}

// Stops the running recording: the time until the click has returned (the
// file is complete) and until the rebuilt preview has its first frame.
struct StopTimes {
    double fileMs, previewMs;
};
StopTimes StopProgramRecording(TControlForm& form) {
    const Clock::time_point t0 = Clock::now();
    form.btnCapture->Click();
    // The stop runs in the background: the file is complete once the session
    // has finished it.
    while (form.Session()->RecordingBusy())
        QCoreApplication::processEvents(QEventLoop::AllEvents, 1);
    const double fileMs = bench::Milliseconds(t0, Clock::now());
    if (!WaitForPreview(form))
        throw std::runtime_error("no preview after the stop");
    return {fileMs, bench::Milliseconds(t0, Clock::now())};
}

void BM_Program_Record(benchmark::State& state) {
    auto form = StartPreviewing(state);
    if (!form)
        return;
    bench::Pump(kWarmUpMs);
    double cpu = 0, stop = 0;
    QString file;
    for (auto _ : state) {
        form->btnCapture->Click();
        bench::WaitForSession(*form);
        if (!PanelState(*form).Recording) {
            state.SkipWithError("the recording did not start");
            return;
        }
        bench::Pump(kWarmUpMs);
        const double perSecond = CpuPerSecond("program recording", (RecordSeconds() - 1) * 1000);
        state.SetIterationTime(perSecond / 1e3);
        cpu += perSecond;
        stop += StopProgramRecording(*form).previewMs;
        file = form->SelectedFile();
    }
    bench::Record(state, "BM_Program_Record", "cpu_ms_per_s", cpu, "ms");
    bench::Record(state, "BM_Program_Record", "stop_ms", stop, "ms");
    RecordFrames(state, "BM_Program_Record", file);
}

void BM_Program_Preview(benchmark::State& state) {
    auto form = StartPreviewing(state);
    if (!form)
        return;
    PreviewCpu(state, "BM_Program_Preview");
}

void BM_Program_Stop(benchmark::State& state) {
    auto form = StartPreviewing(state);
    if (!form)
        return;
    bench::Pump(kWarmUpMs);
    double file = 0, preview = 0, longest = 0, shortest = 1e9;
    for (auto _ : state) {
        form->btnCapture->Click();
        bench::WaitForSession(*form);
        bench::Pump(kShortRecordingMs);
        const StopTimes stop = StopProgramRecording(*form);
        state.SetIterationTime(stop.previewMs / 1e3);
        file += stop.fileMs;
        preview += stop.previewMs;
        longest = std::max(longest, stop.previewMs);
        shortest = std::min(shortest, stop.previewMs);
        QFile::remove(form->SelectedFile());
        bench::Pump(500);
    }
    bench::Record(state, "BM_Program_Stop", "file_complete_ms", file, "ms");
    bench::Record(state, "BM_Program_Stop", "preview_again_ms", preview, "ms");
    state.counters["shortest_ms"] = shortest;
    state.counters["longest_ms"] = longest;
}

// ---------------------------------------------------------------------------
// By hand: the test camera's raw source, YUY2 1280x720 -> tee -> leaky queue -> videoconvert
// -> BGRx -> appsink painted by a window; tee -> queue -> avimux -> filesink,
// audiotestsrc -> S16LE 44100 Hz stereo -> queue -> the same avimux.
// ---------------------------------------------------------------------------

// With mjpgWidth (1920 or 1280): the webcam's MJPG camera (the test camera's
// source of JPEG frames encoded once) at that size, jpegdec in the preview
// branch, no sound. The window is as large as window. The camera, raw or
// JPEG, is the test camera's own source element.
class HandBuiltRecorder {
  public:
    explicit HandBuiltRecorder(const QString& file, int mjpgWidth = 0,
                               const QSize& window = QSize(1280, 720))
        : sound_(mjpgWidth == 0) {
        // The camera is linked to the first element once the rest stands
        // (its caps choose the multiplexer's video input).
        std::string description =
            std::string(mjpgWidth ? "capsfilter name=camera caps=image/jpeg ! "
                                  : "capsfilter name=camera caps=video/x-raw ! ") +
            "tee name=t allow-not-linked=true "
            "t. ! queue max-size-buffers=2 max-size-bytes=0 max-size-time=0 leaky=downstream ! " +
            (mjpgWidth ? "jpegdec ! " : "") +
            "videoconvert ! video/x-raw,format=BGRx ! appsink name=preview";
        if (!file.isEmpty()) {
            description +=
                " t. ! queue name=vq max-size-time=3000000000 max-size-bytes=0 "
                "max-size-buffers=0 ! avimux name=mux ! filesink name=file location=\"" +
                file.toStdString() + "\"";
            if (sound_) {
                description +=
                    " audiotestsrc name=asrc is-live=true wave=sine volume=0.3 ! "
                    "audio/x-raw,format=S16LE,rate=44100,channels=2 ! queue name=aq ! mux.";
            }
        }
        GError* error = nullptr;
        GstElement* pipeline = gst_parse_launch(description.c_str(), &error);
        if (!pipeline || error) {
            const std::string message = error ? error->message : "gst_parse_launch failed";
            g_clear_error(&error);
            if (pipeline)
                gst_object_unref(pipeline);
            throw std::runtime_error(message);
        }
        {
            GstElement* camera =
                mjpgWidth ? media::gst::MakeJpegCycleSource(mjpgWidth,
                                                            mjpgWidth == 1920 ? 1080 : 720, 30, 1)
                          : bench::TestSource("YUY2", 1280, 720);
            GstElement* first = gst_bin_get_by_name(GST_BIN(pipeline), "camera");
            const bool linked =
                camera && gst_bin_add(GST_BIN(pipeline), camera) && gst_element_link(camera, first);
            gst_object_unref(first);
            if (!linked) {
                gst_object_unref(pipeline);
                throw std::runtime_error("no camera for the hand-built pipeline");
            }
        }
        GstElement* sink = gst_bin_get_by_name(GST_BIN(pipeline), "preview");
        bench::SetPreviewSink(sink, true);
        gst_object_unref(sink);
        view_ = std::make_unique<bench::HandBuiltView>(pipeline, window);
        view_->OnPainted = [this](const QImage&, const QSize&) { firstPaint_.Finish(); };
        view_->Play();
        view_->show();
        if (!firstPaint_.Run(kTimeoutMs))
            throw std::runtime_error("the hand-built pipeline shows nothing");
    }

    // Ends the recording branch while the preview goes on: the tee's pad is
    // blocked and unlinked, the end of the stream is sent into the branch and
    // the microphone; once the file writer has it, the branch is shut. The
    // milliseconds this took.
    double Stop() {
        GstElement* pipeline = view_->Pipeline();
        const Clock::time_point t0 = Clock::now();
        GstElement* file = gst_bin_get_by_name(GST_BIN(pipeline), "file");
        GstPad* fileIn = gst_element_get_static_pad(file, "sink");
        bench::Waiter written;
        gst_pad_add_probe(
            fileIn, GST_PAD_PROBE_TYPE_EVENT_DOWNSTREAM,
            [](GstPad*, GstPadProbeInfo* info, gpointer data) {
                if (GST_EVENT_TYPE(GST_PAD_PROBE_INFO_EVENT(info)) == GST_EVENT_EOS)
                    static_cast<bench::Waiter*>(data)->Finish();
                return GST_PAD_PROBE_OK;
            },
            &written, nullptr);
        GstElement* vq = gst_bin_get_by_name(GST_BIN(pipeline), "vq");
        GstPad* vqIn = gst_element_get_static_pad(vq, "sink");
        GstPad* teeOut = gst_pad_get_peer(vqIn);
        gst_pad_add_probe(
            teeOut, GST_PAD_PROBE_TYPE_BLOCK_DOWNSTREAM,
            [](GstPad* pad, GstPadProbeInfo*, gpointer) {
                GstPad* peer = gst_pad_get_peer(pad);
                gst_pad_unlink(pad, peer);
                gst_pad_send_event(peer, gst_event_new_eos());
                gst_object_unref(peer);
                return GST_PAD_PROBE_REMOVE;
            },
            nullptr, nullptr);
        GstElement* asrc = gst_bin_get_by_name(GST_BIN(pipeline), "asrc");
        if (asrc)
            gst_element_send_event(asrc, gst_event_new_eos());
        if (!written.Run(kTimeoutMs))
            throw std::runtime_error("the hand-built recording did not end");
        // The branch is shut: the file is closed.
        for (const char* name : {"asrc", "aq", "vq", "mux", "file"}) {
            GstElement* e = gst_bin_get_by_name(GST_BIN(pipeline), name);
            if (!e)
                continue;
            gst_element_set_state(e, GST_STATE_NULL);
            gst_bin_remove(GST_BIN(pipeline), e);
            gst_object_unref(e);
        }
        const double ms = bench::Milliseconds(t0, Clock::now());
        GstElement* tee = gst_bin_get_by_name(GST_BIN(pipeline), "t");
        gst_element_release_request_pad(tee, teeOut);
        gst_object_unref(tee);
        gst_object_unref(teeOut);
        gst_object_unref(vqIn);
        gst_object_unref(vq);
        if (asrc)
            gst_object_unref(asrc);
        gst_object_unref(fileIn);
        gst_object_unref(file);
        return ms;
    }

  private:
    bool sound_;
    bench::Waiter firstPaint_;
    std::unique_ptr<bench::HandBuiltView> view_;
};

QString HandBuiltFile() {
    return QDir(VideoFolder()).filePath(QStringLiteral("handbuilt.avi"));
}

void BM_HandBuilt_Record(benchmark::State& state) {
    QDir().mkpath(VideoFolder());
    double cpu = 0, stop = 0;
    for (auto _ : state) {
        auto recorder = std::make_unique<HandBuiltRecorder>(HandBuiltFile());
        bench::Pump(kWarmUpMs);
        const double perSecond = CpuPerSecond("hand-built recording", (RecordSeconds() - 1) * 1000);
        state.SetIterationTime(perSecond / 1e3);
        cpu += perSecond;
        stop += recorder->Stop();
    }
    bench::Record(state, "BM_HandBuilt_Record", "cpu_ms_per_s", cpu, "ms");
    bench::Record(state, "BM_HandBuilt_Record", "stop_ms", stop, "ms");
    RecordFrames(state, "BM_HandBuilt_Record", HandBuiltFile());
}

void BM_HandBuilt_Preview(benchmark::State& state) {
    auto viewer = std::make_unique<HandBuiltRecorder>(QString());
    PreviewCpu(state, "BM_HandBuilt_Preview");
}

void BM_HandBuilt_Stop(benchmark::State& state) {
    QDir().mkpath(VideoFolder());
    double total = 0, longest = 0, shortest = 1e9;
    for (auto _ : state) {
        auto recorder = std::make_unique<HandBuiltRecorder>(HandBuiltFile());
        bench::Pump(kShortRecordingMs);
        const double ms = recorder->Stop();
        state.SetIterationTime(ms / 1e3);
        total += ms;
        longest = std::max(longest, ms);
        shortest = std::min(shortest, ms);
        recorder.reset();
        QFile::remove(HandBuiltFile());
        bench::Pump(500);
    }
    bench::Record(state, "BM_HandBuilt_Stop", "file_complete_ms", total, "ms");
    state.counters["shortest_ms"] = shortest;
    state.counters["longest_ms"] = longest;
}

// ---------------------------------------------------------------------------
// MJPG from the webcam-shaped camera, no sound, no compressor
// ---------------------------------------------------------------------------

int MjpgWidth(benchmark::State& state) {
    return int(state.range(0));
}

void BM_Program_RecordMjpg(benchmark::State& state) {
    bench::WebcamProfile webcam;
    const int w = MjpgWidth(state);
    const std::string name = "BM_Program_RecordMjpg/" + std::to_string(w);
    auto form = bench::StartProgramInFormat(
        g_configDir, bench::FormatText(true, w, w == 1920 ? 1080 : 720), "USE AUDIO=0\n");
    form->show();
    if (!WaitForPreview(*form)) {
        state.SkipWithError("no preview");
        return;
    }
    g_rendererSize[w] = form->ViewForm()->VideoWindow->VideoHandle()->size();
    const double preview = CpuPerSecond(name + " preview", kPreviewMs);
    double cpu = 0, wall = 0;
    QString file;
    for (auto _ : state) {
        const Clock::time_point t0 = Clock::now();
        form->btnCapture->Click();
        bench::WaitForSession(*form);
        if (!PanelState(*form).Recording) {
            state.SkipWithError("the recording did not start");
            return;
        }
        bench::Pump(kWarmUpMs);
        const double perSecond = CpuPerSecond(name, (RecordSeconds() - 1) * 1000);
        state.SetIterationTime(perSecond / 1e3);
        cpu += perSecond;
        const Clock::time_point t1 = Clock::now();
        form->btnCapture->Click();
        bench::WaitForSession(*form);
        wall += bench::Milliseconds(t0, t1) / 1e3;
        file = form->SelectedFile();
    }
    bench::Record(state, name, "cpu_ms_per_s", cpu, "ms");
    bench::Keep(name, "preview_cpu_ms_per_s", preview, "ms");
    RecordFrames(state, name, file, false, wall / double(state.iterations()));
}

void BM_HandBuilt_RecordMjpg(benchmark::State& state) {
    QDir().mkpath(VideoFolder());
    const int w = MjpgWidth(state);
    const std::string name = "BM_HandBuilt_RecordMjpg/" + std::to_string(w);
    const auto measured = g_rendererSize.find(w);
    const QSize window = measured != g_rendererSize.end() ? measured->second : QSize(1280, 720);
    double preview = 0;
    {
        auto viewer = std::make_unique<HandBuiltRecorder>(QString(), w, window);
        bench::Pump(kWarmUpMs);
        preview = CpuPerSecond(name + " preview", kPreviewMs);
    }
    double cpu = 0, wall = 0;
    for (auto _ : state) {
        const Clock::time_point t0 = Clock::now();
        auto recorder = std::make_unique<HandBuiltRecorder>(HandBuiltFile(), w, window);
        bench::Pump(kWarmUpMs);
        const double perSecond = CpuPerSecond(name, (RecordSeconds() - 1) * 1000);
        state.SetIterationTime(perSecond / 1e3);
        cpu += perSecond;
        const Clock::time_point t1 = Clock::now();
        recorder->Stop();
        wall += bench::Milliseconds(t0, t1) / 1e3;
    }
    bench::Record(state, name, "cpu_ms_per_s", cpu, "ms");
    bench::Keep(name, "preview_cpu_ms_per_s", preview, "ms");
    RecordFrames(state, name, HandBuiltFile(), false, wall / double(state.iterations()));
}

BENCHMARK(BM_Program_Record)->Iterations(1)->UseManualTime()->Unit(benchmark::kMillisecond);
BENCHMARK(BM_HandBuilt_Record)->Iterations(1)->UseManualTime()->Unit(benchmark::kMillisecond);
BENCHMARK(BM_Program_Preview)->Iterations(1)->UseManualTime()->Unit(benchmark::kMillisecond);
BENCHMARK(BM_HandBuilt_Preview)->Iterations(1)->UseManualTime()->Unit(benchmark::kMillisecond);
BENCHMARK(BM_Program_Stop)->Iterations(5)->UseManualTime()->Unit(benchmark::kMillisecond);
BENCHMARK(BM_HandBuilt_Stop)->Iterations(5)->UseManualTime()->Unit(benchmark::kMillisecond);
BENCHMARK(BM_Program_RecordMjpg)
    ->Arg(1920)
    ->Arg(1280)
    ->Iterations(1)
    ->UseManualTime()
    ->Unit(benchmark::kMillisecond);
BENCHMARK(BM_HandBuilt_RecordMjpg)
    ->Arg(1920)
    ->Arg(1280)
    ->Iterations(1)
    ->UseManualTime()
    ->Unit(benchmark::kMillisecond);

}  // namespace

// The closing tables: the recording's share of the CPU worked out from the
// two measures, then each measure beside the hand-built pipeline's.
void Report() {
    auto& results = bench::Results();
    auto share = [&](const char* record, const char* preview, const char* key) {
        auto r = results.find(record), p = results.find(preview);
        if (r != results.end() && p != results.end())
            results[key] = {r->second.value - p->second.value, "ms"};
    };
    share("BM_Program_Record cpu_ms_per_s", "BM_Program_Preview cpu_ms_per_s",
          "Program recording share");
    share("BM_HandBuilt_Record cpu_ms_per_s", "BM_HandBuilt_Preview cpu_ms_per_s",
          "HandBuilt recording share");
    bench::PrintPairs(
        "Recording 1280x720 YUY2 at 30 fps with sound, beside the hand-built pipeline (same run):",
        "program",
        {{"frames written", "BM_Program_Record frames", "BM_HandBuilt_Record frames"},
         {"frames expected (30 x file duration)", "BM_Program_Record frames_expected",
          "BM_HandBuilt_Record frames_expected"},
         {"frames lost", "BM_Program_Record frames_lost", "BM_HandBuilt_Record frames_lost"},
         {"CPU per recorded second (with the preview)", "BM_Program_Record cpu_ms_per_s",
          "BM_HandBuilt_Record cpu_ms_per_s"},
         {"CPU per second of preview alone", "BM_Program_Preview cpu_ms_per_s",
          "BM_HandBuilt_Preview cpu_ms_per_s"},
         {"CPU per second, the recording's share", "Program recording share",
          "HandBuilt recording share"},
         {"stop of the long recording", "BM_Program_Record stop_ms", "BM_HandBuilt_Record stop_ms"},
         {"stop click -> file complete (short recordings)", "BM_Program_Stop file_complete_ms",
          "BM_HandBuilt_Stop file_complete_ms"},
         {"stop click -> preview runs again", "BM_Program_Stop preview_again_ms",
          "BM_HandBuilt_Stop file_complete_ms"}});
    for (const char* size : {"1920", "1280"}) {
        const std::string p = std::string("BM_Program_RecordMjpg/") + size;
        const std::string h = std::string("BM_HandBuilt_RecordMjpg/") + size;
        const std::string title = std::string("Recording MJPG ") +
                                  (std::string(size) == "1920" ? "1920x1080" : "1280x720") +
                                  " at 30 fps, no sound, no compressor, beside the hand-built "
                                  "pipeline (same run):";
        bench::PrintPairs(title.c_str(), "program",
                          {{"frames written", p + " frames", h + " frames"},
                           {"frames expected (30 x file duration)", p + " frames_expected",
                            h + " frames_expected"},
                           {"frames lost", p + " frames_lost", h + " frames_lost"},
                           {"frames per second of the recording's wall time",
                            p + " frames_per_wall_s", h + " frames_per_wall_s"},
                           {"stored as MJPG (1 = yes)", p + " codec_mjpeg", h + " codec_mjpeg"},
                           {"CPU per recorded second (with the preview)", p + " cpu_ms_per_s",
                            h + " cpu_ms_per_s"},
                           {"CPU per second of preview alone", p + " preview_cpu_ms_per_s",
                            h + " preview_cpu_ms_per_s"}});
    }
}

int main(int argc, char** argv) {
    return bench::RunProgramBenchmarks(argc, argv, Report,
                                       [](const QString& folder) { g_configDir = folder; });
}
