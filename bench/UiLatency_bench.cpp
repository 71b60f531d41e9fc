// SPDX-License-Identifier: GPL-3.0-or-later
// How long the user-interface thread goes without handling its events while
// the program does slow work. A 10 ms heartbeat timer runs on the event loop
// while a scenario runs; the measure is the longest gap between two of its
// ticks (the goal: at most 50 ms), reported as the counter gap_ms (the mean
// of the iterations' longest gaps) and worst_gap_ms. Each scenario is one
// benchmark function that hands its work to LongestGap; beside them, in the
// same run:
//  - an idle event loop (the floor: the heartbeat's own interval and the
//    timer's lateness);
//  - where the scenario's work has a bare equivalent, that work done the
//    plain way, on the user-interface thread.
// Scenarios:
//  - the camera controls page's Brightness slider swept over its range, one
//    move every 8 ms as a mouse drag makes them, then Cancel, on an emulated
//    webcam whose control writes take 30 ms each; the bare equivalent: a
//    slider whose moves write the control at once;
//  - the program on the built-in test camera (1280x720 YUY2, sound on):
//    the stop of a 60 s recording, until its file is complete and the
//    preview runs again (one iteration: the file is over 3 GB);
//  - the stop of a recording written to a slow disk
//    (POMVIRA_TEST_SLOW_WRITE_MS=50: every write of the file waits 50 ms);
//  - the start of a recording on a slow disk: every file call of the
//    program on the recording's names waits 300 ms (strace injects the
//    delay into whichever thread makes it), from the click until the
//    recording runs;
//  - the camera unplugged and plugged back, until its preview runs again;
//  - a camera that stalls (POMVIRA_TEST_CAMERA_STALL), until the program has
//    noticed, restarted it and its frames are back;
//  - the program started (as a process of its own, on a private PipeWire
//    daemon with its camera and its sound server) while the daemon, or the
//    sound server, is stopped with SIGSTOP: the time from its start until
//    both its windows are shown (counter windows_ms; no heartbeat: its
//    user-interface thread is another process's).
// Run it under xvfb-run -a -s "-screen 0 1600x1200x24" (or
// QT_QPA_PLATFORM=offscreen).
#include <QSlider>
#include <QTimer>
#include <algorithm>
#include <chrono>
#include <cstdio>
#include <functional>
#include <memory>
#include <string>

#include <QDir>
#include <QFile>
#include <QProcess>
#include <QThread>

#include <sys/prctl.h>
#include <unistd.h>

#include "BenchSupport.h"
#include "capture/CaptureSession.h"
#include "forms/frmControl.h"
#include "media/SampleGrabber.h"
#include "media/gst/CameraControlsPage.h"
#include "media/gst/GstMediaSystem.h"
#include "media/testdevices/TestCameraStages.h"
#include "media/testdevices/TestDevices.h"
#include "media/tests/FakeV4l2Device.h"
#include "widgets/ActionList.h"
#include "widgets/ImageButton.h"
#include "PipeWireSession.h"
#include "SessionProbe.h"
#include "TestDesktop.h"

#include <QTemporaryDir>
#include <QTest>
#include <csignal>

namespace {

using bench::Clock;

constexpr int kHeartbeatMs = 10;
constexpr double kGoalMs = 50;
constexpr int kScenarioTimeoutMs = 30000;

// Ticks every 10 ms on the user-interface thread and keeps the longest
// time between two ticks.
class Heartbeat {
  public:
    Heartbeat() {
        timer_.setTimerType(Qt::PreciseTimer);
        timer_.setInterval(kHeartbeatMs);
        QObject::connect(&timer_, &QTimer::timeout, [this] { Tick(); });
    }
    void Start() {
        longest_ = 0;
        last_ = Clock::now();
        timer_.start();
    }
    // The longest gap, the time since the last tick included.
    double Stop() {
        Tick();
        timer_.stop();
        return longest_;
    }

  private:
    void Tick() {
        const Clock::time_point now = Clock::now();
        longest_ = std::max(longest_, bench::Milliseconds(last_, now));
        last_ = now;
    }

    QTimer timer_;
    Clock::time_point last_;
    double longest_ = 0;
};

// A scenario's work: started on the user-interface thread's event loop, it
// returns at once and calls done.Finish() when it has ended. Its timers and
// connections belong to scope, which goes when the measure ends.
using Scenario = std::function<void(QObject* scope, bench::Waiter& done)>;

// Runs the scenario under the heartbeat: its longest gap in milliseconds,
// and the scenario's wall time.
struct Gap {
    double longestMs = 0;
    double wallMs = 0;
    bool ended = false;
};
Gap LongestGap(const Scenario& scenario) {
    Heartbeat beat;
    bench::Waiter done;
    Gap gap;
    const Clock::time_point start = Clock::now();
    {
        QObject scope;
        beat.Start();
        QTimer::singleShot(0, &scope, [&] { scenario(&scope, done); });
        gap.ended = done.Run(kScenarioTimeoutMs);
        gap.longestMs = beat.Stop();
    }
    gap.wallMs = bench::Milliseconds(start, Clock::now());
    return gap;
}

// The iterations' longest gaps of one benchmark.
class Gaps {
  public:
    explicit Gaps(std::string name) : name_(std::move(name)) {}
    void Add(benchmark::State& state, const Gap& gap) {
        if (!gap.ended) {
            state.SkipWithError("the scenario did not end");
            return;
        }
        state.SetIterationTime(gap.wallMs / 1e3);
        total_ += gap.longestMs;
        worst_ = std::max(worst_, gap.longestMs);
    }
    ~Gaps() = default;
    void Report(benchmark::State& state) {
        bench::Record(state, name_, "gap_ms", total_, "ms");
        state.counters["worst_gap_ms"] = worst_;
        bench::Keep(name_, "worst_gap_ms", worst_, "ms");
    }

  private:
    std::string name_;
    double total_ = 0;
    double worst_ = 0;
};

// Registers a scenario's benchmark with the settings every one shares.
#define UI_LATENCY_BENCHMARK(function) \
    BENCHMARK(function)->Iterations(5)->UseManualTime()->Unit(benchmark::kMillisecond)

// ---------------------------------------------------------------------------
// An idle event loop, as long as the controls sweep.
// ---------------------------------------------------------------------------
constexpr int kIdleMs = 700;

void BM_Idle(benchmark::State& state) {
    Gaps gaps("BM_Idle");
    for (auto _ : state) {
        gaps.Add(state, LongestGap([](QObject* scope, bench::Waiter& done) {
                     QTimer::singleShot(kIdleMs, scope, [&done] { done.Finish(); });
                 }));
    }
    gaps.Report(state);
}
UI_LATENCY_BENCHMARK(BM_Idle);

// ---------------------------------------------------------------------------
// The camera controls page's slider swept on a camera whose writes are slow
// ---------------------------------------------------------------------------
constexpr auto kControlWrite = std::chrono::milliseconds(30);
constexpr int kMouseMoveMs = 8;
constexpr int kSweepStep = 4;

// A webcam (a Logitech C920's controls) whose control writes take 30 ms.
std::unique_ptr<fakev4l2::FakeV4l2Device> SlowWebcam() {
    auto device = std::make_unique<fakev4l2::FakeV4l2Device>(fakev4l2::LogitechC920());
    device->SetWriteTime(kControlWrite);
    return device;
}

// Moves the slider from its minimum to its maximum, one step per mouse
// move, then calls ended.
void Sweep(QObject* scope, QSlider* slider, std::function<void()> ended) {
    auto* mover = new QTimer(scope);
    mover->setTimerType(Qt::PreciseTimer);
    QObject::connect(mover, &QTimer::timeout, scope,
                     [mover, slider, ended, value = slider->minimum()]() mutable {
                         if (value <= slider->maximum()) {
                             slider->setValue(value);
                             value += kSweepStep;
                             return;
                         }
                         mover->stop();
                         ended();
                     });
    mover->start(kMouseMoveMs);
}

void BM_ControlsSweep(benchmark::State& state) {
    Gaps gaps("BM_ControlsSweep");
    for (auto _ : state) {
        std::unique_ptr<fakev4l2::FakeV4l2Device> device = SlowWebcam();
        media::gst::CameraControlsPage page(
            std::make_unique<media::gst::V4l2CameraControls>(-1, device->Ioctl()), nullptr);
        page.show();
        bench::Pump(50);  // shown and painted before the measure
        auto* slider = page.findChild<QSlider*>(QStringLiteral("Brightness-slider"));
        gaps.Add(state, LongestGap([&](QObject* scope, bench::Waiter& done) {
                     Sweep(scope, slider, [&page, &done, scope] {
                         // Cancel, then the end once the device has the
                         // original value back.
                         page.Revert();
                         QObject::connect(&page, &media::gst::PropertyPage::Settled, scope,
                                          [&done] { done.Finish(); });
                         if (!page.Busy())
                             done.Finish();
                     });
                 }));
    }
    gaps.Report(state);
}
UI_LATENCY_BENCHMARK(BM_ControlsSweep);

// The bare equivalent: a slider whose every move writes the control on the
// user-interface thread.
void BM_Bare_ControlsSweep(benchmark::State& state) {
    Gaps gaps("BM_Bare_ControlsSweep");
    for (auto _ : state) {
        std::unique_ptr<fakev4l2::FakeV4l2Device> device = SlowWebcam();
        media::gst::V4l2CameraControls controls(-1, device->Ioctl());
        QSlider slider(Qt::Horizontal);
        slider.setRange(0, 255);
        QObject::connect(&slider, &QSlider::valueChanged, &slider,
                         [&controls](int value) { controls.Set(V4L2_CID_BRIGHTNESS, value); });
        slider.show();
        bench::Pump(50);
        gaps.Add(state, LongestGap([&](QObject* scope, bench::Waiter& done) {
                     Sweep(scope, &slider, [&controls, &done] {
                         controls.Set(V4L2_CID_BRIGHTNESS, 128);
                         done.Finish();
                     });
                 }));
    }
    gaps.Report(state);
}
UI_LATENCY_BENCHMARK(BM_Bare_ControlsSweep);

// ---------------------------------------------------------------------------
// The program on the built-in test camera
// ---------------------------------------------------------------------------
QString g_configDir;
constexpr int kLongRecordingMs = 60000;
constexpr int kShortRecordingMs = 3000;

// The program previewing at 1280x720 with sound (the first frame shown).
std::unique_ptr<TControlForm> StartPreviewing() {
    auto form = bench::StartProgram(g_configDir, 1280, 720, "USE AUDIO=1\n");
    form->show();
    media::TBitmap frame;
    for (int i = 0; i < 1000 && !Probe(*form).Grabber()->CopyFrameToBitmap(&frame); ++i)
        bench::Pump(10);
    return form;
}

// Calls `then` once `condition` holds (looked at every 10 ms).
void When(QObject* scope, std::function<bool()> condition, std::function<void()> then) {
    auto* poll = new QTimer(scope);
    QObject::connect(poll, &QTimer::timeout, scope, [poll, condition, then] {
        if (!condition())
            return;
        poll->stop();
        then();
    });
    poll->start(10);
}

// The program's preview runs (the session at rest, a new frame through).
bool PreviewRuns(TControlForm& form) {
    return !form.Session()->Busy() && Probe(form).Grabber()->HasFrame() &&
           !form.Session()->CameraLost() && !form.Session()->CameraStalled();
}

// A recording of `recordMs` (not measured), then its stop under the
// heartbeat until the file is complete and the preview runs again.
Gap RecordingStop(TControlForm& form, int recordMs) {
    form.btnCapture->Click();
    bench::WaitForSession(form);
    bench::Pump(recordMs);
    const Gap gap = LongestGap([&form](QObject* scope, bench::Waiter& done) {
        form.btnCapture->Click();
        When(scope, [&form] { return !PanelState(form).Recording && PreviewRuns(form); },
             [&done] { done.Finish(); });
    });
    QFile::remove(form.SelectedFile());
    return gap;
}

void BM_RecordingStop60s(benchmark::State& state) {
    Gaps gaps("BM_RecordingStop60s");
    auto form = StartPreviewing();
    for (auto _ : state)
        gaps.Add(state, RecordingStop(*form, kLongRecordingMs));
    gaps.Report(state);
}
BENCHMARK(BM_RecordingStop60s)->Iterations(1)->UseManualTime()->Unit(benchmark::kMillisecond);

void BM_RecordingStopSlowDisk(benchmark::State& state) {
    Gaps gaps("BM_RecordingStopSlowDisk");
    setenv("POMVIRA_TEST_SLOW_WRITE_MS", "50", 1);
    {
        auto form = StartPreviewing();
        for (auto _ : state)
            gaps.Add(state, RecordingStop(*form, kShortRecordingMs));
    }
    unsetenv("POMVIRA_TEST_SLOW_WRITE_MS");
    gaps.Report(state);
}
UI_LATENCY_BENCHMARK(BM_RecordingStopSlowDisk);

// Every file call of this process on `paths` waits `delayMs` while the
// object lives, as on a disk that answers slowly: strace, attached to every
// thread, delays the calls that name those paths (or use a descriptor open
// on one of them). Without strace nothing is slowed (Attached() is false).
class SlowPaths {
  public:
    SlowPaths(const QStringList& paths, int delayMs) {
        prctl(PR_SET_PTRACER, PR_SET_PTRACER_ANY, 0, 0, 0);
        QStringList args{QStringLiteral("-f"), QStringLiteral("-qq"), QStringLiteral("-o"),
                         QStringLiteral("/dev/null"), QStringLiteral("-e"),
                         QStringLiteral("inject=all:delay_enter=%1").arg(delayMs * 1000),
                         QStringLiteral("-p"), QString::number(getpid())};
        for (const QString& path : paths)
            args << QStringLiteral("-P") << path;
        strace_.start(QStringLiteral("strace"), args);
        attached_ = strace_.waitForStarted(3000);
        // Attaching to every thread takes a moment.
        if (attached_)
            QThread::msleep(1000);
    }
    ~SlowPaths() {
        strace_.terminate();
        strace_.waitForFinished(5000);
    }
    bool Attached() const { return attached_; }

  private:
    QProcess strace_;
    bool attached_ = false;
};

void BM_RecordingStartSlowDisk(benchmark::State& state) {
    Gaps gaps("BM_RecordingStartSlowDisk");
    auto form = StartPreviewing();
    const QString folder = PanelState(*form).VideoFolder;
    QStringList names;
    for (int n = 1; n <= 10; ++n)
        names << QDir(folder).filePath(QStringLiteral("video%1.avi").arg(n, 6, 10, QLatin1Char('0')));
    for (auto _ : state) {
        Gap gap;
        {
            SlowPaths slow(names, 300);
            if (!slow.Attached()) {
                state.SkipWithError("strace is not installed");
                break;
            }
            gap = LongestGap([&form](QObject* scope, bench::Waiter& done) {
                form->btnCapture->Click();
                When(scope, [&form] { return form->Session()->Recording(); },
                     [&done] { done.Finish(); });
            });
        }
        gaps.Add(state, gap);
        form->btnCapture->Click();
        bench::WaitForSession(*form);
        QFile::remove(form->SelectedFile());
    }
    gaps.Report(state);
}
UI_LATENCY_BENCHMARK(BM_RecordingStartSlowDisk);

void BM_UnplugReplug(benchmark::State& state) {
    Gaps gaps("BM_UnplugReplug");
    auto form = StartPreviewing();
    for (auto _ : state) {
        gaps.Add(state, LongestGap([&form](QObject* scope, bench::Waiter& done) {
                     media::gst::PlugTestDevice("Test Camera 1", false);
                     When(scope, [&form] { return form->Session()->CameraLost(); },
                          [scope, &form, &done] {
                              media::gst::PlugTestDevice("Test Camera 1", true);
                              When(scope, [&form] { return PreviewRuns(*form); },
                                   [&done] { done.Finish(); });
                          });
                 }));
    }
    gaps.Report(state);
}
UI_LATENCY_BENCHMARK(BM_UnplugReplug);

void BM_StallAndRestart(benchmark::State& state) {
    Gaps gaps("BM_StallAndRestart");
    setenv("POMVIRA_TEST_CAMERA_STALL", "1", 1);
    for (auto _ : state) {
        media::gst::ResetTestCameraStall();
        auto form = StartPreviewing();
        gaps.Add(state, LongestGap([&form](QObject* scope, bench::Waiter& done) {
                     When(scope, [&form] { return form->Session()->CameraStalled(); },
                          [scope, &form, &done] {
                              When(scope,
                                   [&form] {
                                       return !form->Session()->CameraStalled() &&
                                              PreviewRuns(*form);
                                   },
                                   [&done] { done.Finish(); });
                          });
                 }));
    }
    unsetenv("POMVIRA_TEST_CAMERA_STALL");
    gaps.Report(state);
}
UI_LATENCY_BENCHMARK(BM_StallAndRestart);

// ---------------------------------------------------------------------------
// The program started while a server it lists its devices from hangs.
// ---------------------------------------------------------------------------

// The private PipeWire daemon with its camera and its sound server, made
// once; null (and why) where it cannot be.
TPipeWireSession* PipeWire(QString* why) {
    static std::unique_ptr<TPipeWireSession> session;
    static QString failure;
    static bool tried = false;
    if (!tried) {
        tried = true;
        session = std::make_unique<TPipeWireSession>();
        if (!session->Start(&failure, false) || !session->CreateCamera() ||
            !session->StartSoundServer(&failure))
            session.reset();
    }
    *why = failure;
    return session.get();
}

void StartWithHungServer(benchmark::State& state, const std::string& name, bool soundServer) {
    QString why;
    TPipeWireSession* pipeWire = PipeWire(&why);
    TTestXServer x;
    if (!pipeWire || !x.Connect(qgetenv("DISPLAY"))) {
        state.SkipWithError(pipeWire ? "needs an X server" : why.toStdString().c_str());
        return;
    }
    QTemporaryDir config;
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    pipeWire->Enter(env);
    env.remove(QStringLiteral("POMVIRA_TEST_DEVICES"));
    env.insert(QStringLiteral("XDG_CONFIG_HOME"), config.path());
    env.insert(QStringLiteral("QT_QPA_PLATFORM"), QStringLiteral("xcb"));
    const pid_t server = pid_t(soundServer ? pipeWire->SoundServerId() : pipeWire->DaemonId());
    ::kill(server, SIGSTOP);
    double total = 0;
    for (auto _ : state) {
        TTestChild program;
        const Clock::time_point start = Clock::now();
        program.Start(QStringLiteral(POMVIRA_EXECUTABLE), {}, env);
        const bool shown =
            QTest::qWaitFor([&] { return x.Shown(program.Pid()).size() >= 2; }, kScenarioTimeoutMs);
        const double ms = bench::Milliseconds(start, Clock::now());
        program.Stop(10000);
        if (!shown) {
            state.SkipWithError("the windows did not appear");
            break;
        }
        state.SetIterationTime(ms / 1e3);
        total += ms;
    }
    ::kill(server, SIGCONT);
    bench::Record(state, name, "windows_ms", total, "ms");
}

void BM_StartHungPipeWire(benchmark::State& state) {
    StartWithHungServer(state, "BM_StartHungPipeWire", false);
}
BENCHMARK(BM_StartHungPipeWire)->Iterations(3)->UseManualTime()->Unit(benchmark::kMillisecond);

void BM_StartHungSoundServer(benchmark::State& state) {
    StartWithHungServer(state, "BM_StartHungSoundServer", true);
}
BENCHMARK(BM_StartHungSoundServer)->Iterations(3)->UseManualTime()->Unit(benchmark::kMillisecond);

// The closing tables: each scenario beside the idle loop and beside its
// plain equivalent, and whether it meets the goal.
void Report() {
    bench::PrintPairs(
        "Longest heartbeat gap beside an idle event loop (same run):", "program",
        {{"controls slider swept, 30 ms writes", "BM_ControlsSweep gap_ms", "BM_Idle gap_ms"},
         {"stop after 60 s of 1280x720 with sound", "BM_RecordingStop60s gap_ms",
          "BM_Idle gap_ms"},
         {"stop with 50 ms per write", "BM_RecordingStopSlowDisk gap_ms", "BM_Idle gap_ms"},
         {"start with 300 ms per file call", "BM_RecordingStartSlowDisk gap_ms",
          "BM_Idle gap_ms"},
         {"camera unplugged and plugged back", "BM_UnplugReplug gap_ms", "BM_Idle gap_ms"},
         {"camera stalled and restarted", "BM_StallAndRestart gap_ms", "BM_Idle gap_ms"}});
    bench::PrintPairs(
        "Longest heartbeat gap beside the same work done plainly (same run):", "program",
        {{"controls slider swept, 30 ms writes", "BM_ControlsSweep gap_ms",
          "BM_Bare_ControlsSweep gap_ms"}});
    std::printf("\nTime from the program's start to its windows, with a server stopped:\n");
    for (const char* name : {"BM_StartHungPipeWire", "BM_StartHungSoundServer"}) {
        const auto found = bench::Results().find(std::string(name) + " windows_ms");
        if (found != bench::Results().end())
            std::printf("%-44s %10.2f ms\n", name, found->second.value);
    }
    std::printf("\nGoal: every scenario's worst gap at most %.0f ms\n", kGoalMs);
    const std::string suffix = " worst_gap_ms";
    for (const auto& [key, result] : bench::Results()) {
        const bool scenario = key.size() > suffix.size() &&
                              key.compare(key.size() - suffix.size(), suffix.size(), suffix) == 0 &&
                              key.rfind("BM_Bare_", 0) != 0 && key.rfind("BM_Idle ", 0) != 0;
        if (scenario)
            std::printf("%-44s %10.2f ms  %s\n", key.substr(0, key.size() - suffix.size()).c_str(),
                        result.value, result.value <= kGoalMs ? "met" : "NOT MET");
    }
    std::fflush(stdout);
}

}  // namespace

int main(int argc, char** argv) {
    return bench::RunProgramBenchmarks(argc, argv, Report,
                                       [](const QString& folder) { g_configDir = folder; });
}
