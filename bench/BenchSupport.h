// SPDX-License-Identifier: GPL-3.0-or-later
// Helpers shared by the benchmarks that run live pipelines: clocks, waiting
// on the user-interface thread for something the streaming thread reports,
// and the closing table that sets each benchmark of the program beside its
// hand-built counterpart measured in the same run.
#pragma once

#include <benchmark/benchmark.h>

#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QEventLoop>
#include <QPointer>
#include <QTemporaryDir>
#include <QTimer>

#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <ctime>
#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <stdexcept>
#include <string>
#include <vector>

#include "media/testdevices/TestDevices.h"
#include "media/testdevices/TestRig.h"

#include <unistd.h>

#include "app/Application.h"
#include "capture/CaptureSession.h"
#include "forms/frmControl.h"
#include "media/MediaUtil.h"
#include "media/gst/GstMediaSystem.h"

namespace bench {

using Clock = std::chrono::steady_clock;

inline double Milliseconds(Clock::time_point from, Clock::time_point to) {
    return std::chrono::duration<double, std::milli>(to - from).count();
}

// CPU time used so far by all threads of the process, in milliseconds.
inline double ProcessCpuMs() {
    timespec ts{};
    clock_gettime(CLOCK_PROCESS_CPUTIME_ID, &ts);
    return double(ts.tv_sec) * 1e3 + double(ts.tv_nsec) / 1e6;
}

// CPU time used so far by each thread of the process, in milliseconds, by
// "name#id" (from /proc: the scheduler's nanoseconds where the kernel keeps
// them, else utime + stime in clock ticks).
inline std::map<std::string, double> ThreadCpuMs() {
    std::map<std::string, double> out;
    const double msPerTick = 1000.0 / double(sysconf(_SC_CLK_TCK));
    const QDir tasks(QStringLiteral("/proc/self/task"));
    for (const QString& id : tasks.entryList(QDir::Dirs | QDir::NoDotAndDotDot)) {
        QFile stat(tasks.filePath(id + QStringLiteral("/stat")));
        if (!stat.open(QIODevice::ReadOnly))
            continue;
        const QByteArray line = stat.readAll();
        const int open = line.indexOf('('), close = line.lastIndexOf(')');
        if (open < 0 || close < open)
            continue;
        // After the name: state is field 3; utime and stime are fields 14 and 15.
        const QList<QByteArray> fields = line.mid(close + 2).split(' ');
        if (fields.size() < 13)
            continue;
        const std::string key =
            line.mid(open + 1, close - open - 1).toStdString() + "#" + id.toStdString();
        out[key] = (fields[11].toDouble() + fields[12].toDouble()) * msPerTick;
        // schedstat: time on the CPU in nanoseconds, first.
        QFile schedstat(tasks.filePath(id + QStringLiteral("/schedstat")));
        if (schedstat.open(QIODevice::ReadOnly)) {
            bool ok = false;
            const double ns = schedstat.readAll().split(' ').value(0).toDouble(&ok);
            if (ok)
                out[key] = ns / 1e6;
        }
    }
    return out;
}

// Prints each thread's CPU per second of wall time between two snapshots.
inline void PrintThreadCpu(const std::string& label, const std::map<std::string, double>& before,
                           const std::map<std::string, double>& after, double wallMs) {
    for (const auto& [thread, ms] : after) {
        auto it = before.find(thread);
        const double used = ms - (it == before.end() ? 0.0 : it->second);
        if (used > 0)
            std::fprintf(stderr, "%s  %-32s %7.1f ms/s\n", label.c_str(), thread.c_str(),
                         used * 1e3 / wallMs);
    }
}

// Points the program at a fresh configuration folder (the user's real
// settings are never read or written) and at the built-in test camera, with
// no real device. Returns the folder, empty when it could not be made.
inline QString UseTestSetup(const QTemporaryDir& configDir) {
    if (!configDir.isValid())
        return QString();
    setenv("XDG_CONFIG_HOME", configDir.path().toLocal8Bit().constData(), 1);
    setenv("POMVIRA_TEST_DEVICES", "1", 1);
    setenv("POMVIRA_NO_REAL_DEVICES", "1", 1);
    return configDir.path();
}

// The stored format text of YUY2 or MJPG at width x height.
inline QString FormatText(bool mjpg, int width, int height) {
    return mjpg ? QStringLiteral(
                      "Major Type: Video - Sub Type: MJPG Format: VideoInfo MJPG "
                      "%1X%2, 24 bits")
                      .arg(width)
                      .arg(height)
                : QStringLiteral(
                      "Major Type: Video - Sub Type: YUY2 Format: VideoInfo YUY2 "
                      "%1X%2, 16 bits")
                      .arg(width)
                      .arg(height);
}

// The test cameras shaped like a 1080p webcam (MJPG up to 1920x1080 at 30
// fps) while it lives.
class WebcamProfile {
  public:
    WebcamProfile() { media::gst::SetTestCameraProfile("webcam"); }
    ~WebcamProfile() { media::gst::SetTestCameraProfile(std::string()); }
    WebcamProfile(const WebcamProfile&) = delete;
    WebcamProfile& operator=(const WebcamProfile&) = delete;
};

// Writes the program's settings: the stored format, its folders in the
// configuration folder (so nothing is made beside the benchmark) and the
// given extra "KEY=value" lines.
inline void WriteSettings(const QString& configDir, const QString& format,
                          const char* extraSettings = "") {
    QFile ini(QDir(configDir).filePath(QStringLiteral("Pomvira.ini")));
    if (!ini.open(QIODevice::WriteOnly | QIODevice::Truncate))
        throw std::runtime_error("cannot write the settings file");
    ini.write(QStringLiteral("[CAPTURE]\nVIDEO FOLDER=%1/Video\nSNAP FOLDER=%1/Image\n"
                             "VIDEO FORMAT=%2\n%3")
                  .arg(configDir)
                  .arg(format)
                  .arg(QString::fromUtf8(extraSettings))
                  .toUtf8());
    ini.close();
    QDir(configDir).mkdir(QStringLiteral("Video"));
    QDir(configDir).mkdir(QStringLiteral("Image"));
}

// Runs the event loop until the panel's capture session has done what it was
// asked (the preview started, a recording started or its file completed);
// false after the bound.
inline bool WaitForSession(TControlForm& form, int boundMs = 30000) {
    const Clock::time_point start = Clock::now();
    while (form.Session()->Busy()) {
        if (Milliseconds(start, Clock::now()) > boundMs)
            return false;
        QCoreApplication::processEvents(QEventLoop::AllEvents, 1);
    }
    return true;
}

// Starts the control panel on the test camera in the given stored format,
// with the settings of WriteSettings.
inline std::unique_ptr<TControlForm> StartProgramInFormat(const QString& configDir,
                                                          const QString& format,
                                                          const char* extraSettings = "") {
    WriteSettings(configDir, format, extraSettings);
    auto form = std::make_unique<TControlForm>();
    if (ApplicationTerminating())
        throw std::runtime_error("the program's start-up asked to end");
    // The preview starts in the background: ready once the session is.
    WaitForSession(*form);
    return form;
}

// Starts the control panel on the test camera at width x height (YUY2).
inline std::unique_ptr<TControlForm> StartProgram(const QString& configDir, int width, int height,
                                                  const char* extraSettings = "") {
    return StartProgramInFormat(configDir, FormatText(false, width, height), extraSettings);
}

// The program's message boxes and the failures while the graph's events are
// handled are written to standard error instead of waiting for a click.
inline void ReportOnStandardError() {
    media::SetExceptionReporter(
        [](const std::exception& e) { std::fprintf(stderr, "program error: %s\n", e.what()); });
    SetMessageBoxHook([](const TMessageBoxRequest& request) {
        std::fprintf(stderr, "message box: %s\n", request.text.toLocal8Bit().constData());
        return QMessageBox::Ok;
    });
}

// Runs the benchmarks the command line names (Google Benchmark's flags),
// after prepare when one is given. False, with the reason on standard error,
// when the command line holds anything else or something throws.
inline bool RunBenchmarks(int* argc, char** argv, const std::function<void()>& prepare = {}) {
    benchmark::Initialize(argc, argv);
    if (benchmark::ReportUnrecognizedArguments(*argc, argv))
        return false;
    try {
        if (prepare)
            prepare();
        benchmark::RunSpecifiedBenchmarks();
    } catch (const std::exception& e) {
        std::fprintf(stderr, "%s\n", e.what());
        return false;
    }
    return true;
}

// The whole entry of a benchmark of the program: a fresh configuration
// folder with the test camera (UseTestSetup, its path to prepare), the
// program's application object and media system, message boxes on standard
// error; then the benchmarks the command line names, after prepare, and
// report (the closing table) while the application still lives. The exit
// status: 0, or 1 when the setup or a benchmark failed.
inline int RunProgramBenchmarks(int argc, char** argv, const std::function<void()>& report,
                                const std::function<void(const QString&)>& prepare = {}) {
    QTemporaryDir configDir;
    const QString folder = UseTestSetup(configDir);
    if (folder.isEmpty())
        return 1;
    TApplication app(argc, argv);
    media::SetMediaSystem(media::gst::GstMediaSystem());
    media::gst::InstallTestRig();
    ReportOnStandardError();
    const bool ran = RunBenchmarks(&argc, argv, [&] {
        if (prepare)
            prepare(folder);
    });
    if (ran && report)
        report();
    benchmark::Shutdown();
    media::SetMediaSystem(nullptr);
    return ran ? 0 : 1;
}

// An event loop that any thread may end. Run() returns true when Finish()
// was called (before or during the run), false on timeout.
class Waiter {
  public:
    void Reset() { finished_ = false; }
    void Finish() {
        finished_ = true;
        std::lock_guard<std::mutex> lock(mutex_);
        if (loop_)
            QMetaObject::invokeMethod(loop_, "quit", Qt::QueuedConnection);
    }
    bool Finished() const { return finished_; }
    bool Run(int timeoutMs) {
        if (finished_)
            return true;
        QEventLoop loop;
        {
            std::lock_guard<std::mutex> lock(mutex_);
            loop_ = &loop;
        }
        QTimer::singleShot(timeoutMs, &loop, &QEventLoop::quit);
        if (!finished_)
            loop.exec();
        std::lock_guard<std::mutex> lock(mutex_);
        loop_ = nullptr;
        return finished_;
    }

  private:
    std::atomic<bool> finished_{false};
    std::mutex mutex_;
    QEventLoop* loop_ = nullptr;
};

// Lets the event loop run for a while (deferred deletions, window teardown).
inline void Pump(int ms) {
    QEventLoop loop;
    QTimer::singleShot(ms, &loop, &QEventLoop::quit);
    loop.exec();
    QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
}

// The numbers kept for the closing table: one value per benchmark and
// counter, averaged over its iterations.
struct Result {
    double value;
    std::string unit;
};
inline std::map<std::string, Result>& Results() {
    static std::map<std::string, Result> results;
    return results;
}
// Keeps a value for the closing table.
inline void Keep(const std::string& name, const std::string& counter, double value,
                 const std::string& unit) {
    Results()[name + " " + counter] = {value, unit};
}
inline void Record(benchmark::State& state, const std::string& name, const std::string& counter,
                   double total, const std::string& unit) {
    const double mean = state.iterations() ? total / double(state.iterations()) : 0.0;
    state.counters[counter] = mean;
    Keep(name, counter, mean, unit);
}

// One line of the closing table: the measured value, the hand-built one, their ratio.
struct Pair {
    std::string label;
    std::string layerKey;
    std::string handBuiltKey;
};
inline void PrintPairs(const char* title, const char* measured, const std::vector<Pair>& pairs) {
    std::printf("\n%s\n", title);
    std::printf("%-44s %14s %14s %8s\n", "measure", measured, "hand-built", "ratio");
    for (const Pair& p : pairs) {
        auto l = Results().find(p.layerKey);
        auto h = Results().find(p.handBuiltKey);
        if (l == Results().end() || h == Results().end())
            continue;
        std::printf("%-44s %10.2f %-3s %10.2f %-3s %7.2fx\n", p.label.c_str(), l->second.value,
                    l->second.unit.c_str(), h->second.value, h->second.unit.c_str(),
                    h->second.value > 0 ? l->second.value / h->second.value : 0.0);
    }
    std::fflush(stdout);
}

}  // namespace bench
