// SPDX-License-Identifier: GPL-3.0-or-later
// The capture session alone, against the recording fake of the media
// framework (no panel, no preview window; its renderer is a hidden widget):
// the graph's calls and their order for the preview and a recording, what a
// failed start leaves behind, the format kept across the graph's rebuilding,
// and the calls that may wait on a device: made off the user-interface
// thread, given up at their bound, with a second request during a
// transition waiting or ignored as it should.
#include <QFile>
#include <QFileInfo>
#include <QTemporaryDir>
#include <QTest>
#include <functional>
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include "JpegReadBack.h"
#include "capture/CaptureSession.h"
#include "capture/SessionWorker.h"
#include "forms/SessionMessages.h"
#include "media/FilterGraph.h"
#include "media/MediaUtil.h"
#include "media/VideoWindow.h"
#include "media/fake/FakeMedia.h"
#include "SessionProbe.h"

using namespace media;
using namespace media::fake;
using ::testing::Contains;
using ::testing::Not;
using ::testing::StartsWith;

namespace {

constexpr int kBoundMs = 600;
const std::string k640 = "Major Type: Video - Sub Type: YUY2 Format: VideoInfo YUY2 640X480, 16 bits";

class CaptureSessionTest : public ::testing::Test {
  protected:
    CaptureSessionTest() {
        sys.AddVideoDevice("Cam", {VideoFormat(MEDIASUBTYPE_YUY2, 640, 480, 16),
                                   VideoFormat(MEDIASUBTYPE_YUY2, 320, 240, 16)});
        sys.AddAudioDevice("Mic", {AudioFormat(44100, 16, 2)});
        session.SetBounds({kBoundMs, kBoundMs, kBoundMs});
        session.SetVideoWindow(video);
        auto note = [this](const QString& what) { events.push_back(what.toStdString()); };
        QObject::connect(&session, &TCaptureSession::OperationEnded, [this, note](const TOutcome& o) {
            using TKind = TOutcome::TKind;
            switch (o.Kind) {
                case TKind::PreviewStarted: note("started"); break;
                case TKind::PreviewFailed: note("failed: " + OutcomeMessage(o)); break;
                case TKind::RecordingStarted: note("recording " + o.File); break;
                case TKind::RecordingNotStarted: note("not recording: " + OutcomeMessage(o)); break;
                case TKind::RecordingStopped:
                case TKind::Closed:
                    stopped = o;
                    note(o.Kind == TKind::Closed ? "closed" : "stopped");
                    break;
                default: break;
            }
        });
        QObject::connect(&session, &TCaptureSession::StateChanged, [this, note] {
            const TCaptureSession::TActivity now = session.Activity();
            if (now == activities.back())
                return;
            if (now == TCaptureSession::TActivity::Stopping)
                note("stopping");
            activities.push_back(now);
        });
    }
    ~CaptureSessionTest() override {
        for (const char* call : {"Graph.Run", "Graph.Stop", "Graph.Halt"})
            sys.Release(call);
        session.Close();
        Wait("closed");
        EXPECT_TRUE(QTest::qWaitFor([this] { return Probe(session).StuckGraphThreads() == 0; }, 5000));
    }
    // Until `event` was told (at most 10 seconds).
    bool Wait(const std::string& event) {
        return QTest::qWaitFor(
            [&] { return std::find(events.begin(), events.end(), event) != events.end(); },
            10000);
    }
    bool Settle() {
        return QTest::qWaitFor([&] { return !session.Busy(); }, 10000);
    }
    void Open() {
        ASSERT_TRUE(session.ListDevices());
        Probe(session).Devices().SetDevices(
            session.SelectVideoDevice(0, QString::fromStdString(k640)),
            Probe(session).Devices().SelectAudioDevice(0, Probe(session).Graph()));
        session.SetPreview(true);
        ASSERT_TRUE(Wait("started")) << sys.Log().Text();
    }
    // The recording numbered n in the folder (the session takes the first
    // free number).
    QString File(int n) const {
        return dir.filePath(QStringLiteral("video%1.avi").arg(n, 6, 10, QLatin1Char('0')));
    }
    void Record(const QString& path, TRecordingOptions options = {}) {
        session.StartRecording(dir.path(), options);
        ASSERT_TRUE(Wait("recording " + path.toStdString())) << sys.Log().Text();
    }
    int Count(const std::string& prefix) const {
        return int(std::count_if(events.begin(), events.end(),
                                 [&](const std::string& e) { return e.rfind(prefix, 0) == 0; }));
    }
    // The log from entry `from` on holds these entries in this order.
    ::testing::AssertionResult LoggedAfter(size_t from, const std::vector<std::string>& entries) {
        CallLog rest;
        for (size_t i = from; i < sys.Log().Entries().size(); ++i)
            rest.Add(sys.Log().Entries()[i]);
        if (rest.InOrder(entries))
            return ::testing::AssertionSuccess();
        return ::testing::AssertionFailure() << rest.Text();
    }
    std::string Message() const { return OutcomeMessage(stopped).toStdString(); }

    FakeMediaSystem sys;
    QTemporaryDir dir;
    TCaptureSession session;
    QWidget host;
    TVideoWindow* video = new TVideoWindow(&host);
    std::vector<std::string> events;
    std::vector<TCaptureSession::TActivity> activities{TCaptureSession::TActivity::Idle};
    TOutcome stopped;
};

}  // namespace

TEST_F(CaptureSessionTest, ThePreviewRunsOffTheUserInterfaceThread) {
    sys.Hold("Graph.Run");
    ASSERT_TRUE(session.ListDevices());
    session.SelectVideoDevice(0, QString::fromStdString(k640));
    session.SetPreview(true);
    // The run waits on the camera; this thread does not.
    ASSERT_TRUE(QTest::qWaitFor([&] { return sys.Held() == 1; }, 5000));
    EXPECT_TRUE(session.Busy());
    EXPECT_TRUE(events.empty());
    sys.Release("Graph.Run");
    ASSERT_TRUE(Wait("started"));
    EXPECT_TRUE(sys.Log().InOrder({"Graph.AddFilter(VideoSourceFilter)",
                                   "Pin[Cam/Capture].SetFormat(" + k640 + ")",
                                   "Builder.RenderStream(PREVIEW, Filter[Cam], Filter[Grabber], "
                                   "Filter[Renderer])",
                                   "Graph.Run"}))
        << sys.Log().Text();
}

TEST_F(CaptureSessionTest, ACameraThatNeverStartsIsGivenUpAtTheBoundAndTriedAgainOnceFree) {
    sys.Hold("Graph.Run");
    ASSERT_TRUE(session.ListDevices());
    session.SelectVideoDevice(0, QString());
    session.SetPreview(true);
    ASSERT_TRUE(QTest::qWaitFor([&] { return !events.empty(); }, 5000));
    EXPECT_EQ(events[0].rfind("failed: ", 0), 0u) << events[0];
    // The graph is left to its stuck thread, untouched; the camera shows as
    // delivering nothing, and is not tried while that thread is stuck.
    EXPECT_FALSE(Probe(session).Graph()->Active());
    EXPECT_EQ(Probe(session).StuckGraphThreads(), 1);
    EXPECT_TRUE(session.CameraStalled());
    const size_t before = sys.Log().Entries().size();
    // Out of the run, the stuck thread lets the graph go of the camera.
    sys.Release("Graph.Run");
    ASSERT_TRUE(QTest::qWaitFor([this] { return Probe(session).StuckGraphThreads() == 0; }, 5000));
    EXPECT_TRUE(LoggedAfter(before, {"Graph.Halt"}));
    // The next try builds a new graph and the preview runs.
    ASSERT_TRUE(Wait("started")) << sys.Log().Text();
    EXPECT_TRUE(Probe(session).Graph()->Active());
}

TEST_F(CaptureSessionTest, ARecordingRunsWithSoundAndItsStopCompletesTheFileOffThisThread) {
    Open();
    size_t from = sys.Log().Entries().size();
    Record(File(1));
    EXPECT_TRUE(LoggedAfter(from, {"Pin[Cam/Capture].GetFormat", "Graph.Stop",
                                   "Builder.SetOutputFileName(Avi, " + File(1).toStdString() + ")",
                                   "Builder.RenderStream(CAPTURE, Filter[Cam], null, "
                                   "Filter[AVI Mux])",
                                   "Builder.RenderStream(null, Filter[Mic], null, "
                                   "Filter[AVI Mux])",
                                   "Graph.Run"}));
    EXPECT_TRUE(session.Recording());

    from = sys.Log().Entries().size();
    sys.Hold("Graph.Stop");
    session.StopRecording();
    ASSERT_TRUE(QTest::qWaitFor([&] { return sys.Held() == 1; }, 5000));
    // While the stop completes the file, nothing else starts a recording.
    EXPECT_TRUE(session.RecordingBusy());
    session.StartRecording(dir.path(), {});
    session.StopRecording();
    sys.Release("Graph.Stop");
    ASSERT_TRUE(Wait("stopped"));
    EXPECT_TRUE(stopped.Plays());
    EXPECT_EQ(stopped.File, File(1));
    EXPECT_EQ(Message(), "");
    // The preview comes back on a new graph, in the recording's format,
    // without the multiplexer and the writer.
    ASSERT_TRUE(Settle());
    EXPECT_TRUE(LoggedAfter(from, {"Graph.Stop", "Graph.Halt", "System.CoCreateInstance(FilterGraph)",
                                   "Pin[Cam/Capture].SetFormat(" + k640 + ")", "Graph.Run"}));
    EXPECT_FALSE(sys.Graph()->HasFilter("AVI Mux"));
    EXPECT_EQ(std::count(events.begin(), events.end(), "stopping"), 1);
    EXPECT_EQ(Count("recording "), 1);
}

TEST_F(CaptureSessionTest, AFailedStartIsTakenBackLeavesNoFileOfItsOwnAndThePreviewRunsAgain) {
    Open();
    struct TCase {
        const char* name;
        const char* call;
        HRESULT result;
        int times;
        const char* reason;
    };
    const TCase cases[] = {
        {"refused run", "Graph.Run", E_FAIL, 1, "Unspecified error"},
        // The preview's and the camera's connections fail, the microphone's
        // is made: sound alone is no recording.
        {"the camera's connection fails", "Builder.RenderStream", E_FAIL, 2, "système vidéo"},
        {"a file took the name", "Builder.SetOutputFileName", HResultFromWin32(ERROR_FILE_EXISTS),
         1, "Un autre fichier a pris le nom"},
    };
    // Another's file in the folder: never the start's to remove.
    QFile other(File(1));
    ASSERT_TRUE(other.open(QIODevice::WriteOnly) && other.write("data") == 4);
    other.close();
    for (const TCase& c : cases) {
        SCOPED_TRACE(c.name);
        events.clear();
        sys.SetResult(c.call, c.result, c.times);
        QString made;
        const auto seen = QObject::connect(&session, &TCaptureSession::OperationEnded,
                                           [&made](const TOutcome& o) {
                                               if (o.Kind == TOutcome::TKind::RecordingNotStarted)
                                                   made = o.File;
                                           });
        session.StartRecording(dir.path(), {});
        ASSERT_TRUE(QTest::qWaitFor([&] { return !events.empty(); }, 5000));
        QObject::disconnect(seen);
        EXPECT_EQ(events[0].rfind("not recording: ", 0), 0u);
        EXPECT_NE(events[0].find(c.reason), std::string::npos) << events[0];
        ASSERT_TRUE(Wait("started"));
        // The file the start made is gone once the files' worker is done.
        EXPECT_EQ(made, File(2));
        ASSERT_TRUE(Settle());
        EXPECT_FALSE(QFile::exists(made));
        EXPECT_EQ(QFileInfo(File(1)).size(), 4);
        EXPECT_FALSE(session.Recording());
        EXPECT_FALSE(sys.Graph()->HasFilter("AVI Mux"));
    }
}

TEST_F(CaptureSessionTest, AStopThatNeverEndsIsGivenUpAndThePreviewComesBackOnANewGraph) {
    Open();
    Record(File(1));
    sys.Hold("Graph.Stop");
    session.StopRecording();
    ASSERT_TRUE(Wait("stopped"));
    EXPECT_FALSE(stopped.Plays());
    EXPECT_TRUE(OutcomeMessage(stopped).contains(QStringLiteral("l'arrêt a pris trop de temps")))
        << OutcomeMessage(stopped).toStdString();
    EXPECT_EQ(Probe(session).StuckGraphThreads(), 1);
    ASSERT_TRUE(Wait("started")) << sys.Log().Text();
    sys.Release("Graph.Stop");
}

TEST_F(CaptureSessionTest, OnlyTheFirstErrorOfARecordingEndsItAndItsReasonIsTold) {
    Open();
    Record(File(1));
    sys.Graph()->PostEvent(EC_ERRORABORT, HResultFromWin32(ERROR_DISK_FULL));
    sys.Graph()->PostEvent(EC_ERRORABORT, VFW_E_RUNTIME_ERROR);
    ASSERT_TRUE(Wait("stopped"));
    EXPECT_TRUE(OutcomeMessage(stopped).startsWith(
        QStringLiteral("L'enregistrement s'est arrêté : le disque est plein.")))
        << OutcomeMessage(stopped).toStdString();
    EXPECT_TRUE(OutcomeMessage(stopped).contains(File(1)));
    ASSERT_TRUE(Settle());
    // The next recording starts afresh and ends as asked (under the same
    // name: the first one held nothing, and went).
    events.clear();
    Record(File(1));
    session.StopRecording();
    ASSERT_TRUE(Wait("stopped"));
    EXPECT_EQ(Message(), "");
    EXPECT_TRUE(stopped.Plays());
}

TEST_F(CaptureSessionTest, AStalledCameraEndsTheRecordingAndSaysWhy) {
    Open();
    Record(File(1));
    sys.Graph()->PostEvent(EC_STARVATION, intptr_t(Probe(session).VideoSource()->MemberFilter()), 1);
    ASSERT_TRUE(Wait("stopped"));
    EXPECT_TRUE(session.CameraStalled());
    EXPECT_TRUE(RecordingEndReason(stopped).contains(QStringLiteral("ne donnait plus d'image")))
        << RecordingEndReason(stopped).toStdString();
    EXPECT_TRUE(stopped.Plays());
}

TEST_F(CaptureSessionTest, QuittingCompletesARecordingAndDoesNotWaitForACameraThatNeverStarts) {
    Open();
    Record(File(1));
    const size_t from = sys.Log().Entries().size();
    session.Close();
    ASSERT_TRUE(Wait("closed"));
    EXPECT_TRUE(LoggedAfter(from, {"Graph.Stop", "Graph.Halt"}));
    EXPECT_TRUE(stopped.Plays());
    EXPECT_EQ(std::count(events.begin(), events.end(), "stopped"), 0);
    EXPECT_FALSE(Probe(session).Graph()->Active());
}

TEST_F(CaptureSessionTest, QuittingWhileTheCameraStartsGivesItUp) {
    sys.Hold("Graph.Run");
    ASSERT_TRUE(session.ListDevices());
    session.SelectVideoDevice(0, QString());
    session.SetPreview(true);
    ASSERT_TRUE(QTest::qWaitFor([&] { return sys.Held() == 1; }, 5000));
    session.Close();
    ASSERT_TRUE(Wait("closed"));
    EXPECT_EQ(sys.Held(), 1);
    EXPECT_TRUE(session.Closed());
}

TEST_F(CaptureSessionTest, AStillIsWrittenOffThisThreadAndAMissingFrameIsSaid) {
    Open();
    QString taken, failed;
    QObject::connect(&session, &TCaptureSession::OperationEnded, [&](const TOutcome& o) {
        if (o.Kind == TOutcome::TKind::StillTaken)
            taken = o.File;
        else if (o.Kind == TOutcome::TKind::StillFailed)
            failed = OutcomeMessage(o);
    });
    // No frame has come: waited for, then said.
    session.TakeStill(dir.path());
    ASSERT_TRUE(QTest::qWaitFor([&] { return !failed.isEmpty(); }, 5000));
    EXPECT_TRUE(failed.contains(QStringLiteral("Aucune image")));
    // A frame: the next free number, a JPEG of the frame's size.
    sys.SampleGrabber()->ConnectedType() = VideoFormat(MEDIASUBTYPE_RGB24, 32, 16, 24);
    sys.SampleGrabber()->Buffer() = std::vector<uint8_t>(32 * 16 * 3, 0x80);
    QFile(dir.filePath("img000001.jpg")).open(QIODevice::WriteOnly);
    session.TakeStill(dir.path());
    ASSERT_TRUE(QTest::qWaitFor([&] { return !taken.isEmpty(); }, 5000));
    EXPECT_EQ(taken, dir.filePath("img000002.jpg"));
    const TJpegReadBack picture = ReadJpegFileBack(taken);
    ASSERT_TRUE(picture.ok) << picture.error.toStdString();
    EXPECT_EQ(QSize(picture.width, picture.height), QSize(32, 16));
}

TEST_F(CaptureSessionTest, AStalledCameraWhoseRestartNeverStartsIsNotReportedAgain) {
    Open();
    sys.Graph()->PostEvent(EC_STARVATION, intptr_t(Probe(session).VideoSource()->MemberFilter()), 1);
    ASSERT_TRUE(QTest::qWaitFor([&] { return session.CameraStalled(); }, 5000));
    // The first restart (two seconds later) never starts: given up at its
    // bound, the camera still shown as stalled, nothing more said.
    sys.Hold("Graph.Run");
    ASSERT_TRUE(QTest::qWaitFor([this] { return Probe(session).StuckGraphThreads() == 1; }, 10000));
    ASSERT_TRUE(Settle());
    EXPECT_TRUE(session.CameraStalled());
    EXPECT_THAT(events, Not(Contains(StartsWith("failed: "))));
}

TEST_F(CaptureSessionTest, ACameraUnpluggedWhileItStartsIsShownLostWithoutAFailure) {
    sys.Hold("Graph.Run");
    ASSERT_TRUE(session.ListDevices());
    session.SelectVideoDevice(0, QString());
    session.SetPreview(true);
    ASSERT_TRUE(QTest::qWaitFor([&] { return sys.Held() == 1; }, 5000));
    // Gone from the list while its start waits; the start then fails.
    sys.RemoveDevices(CLSID_VideoInputDeviceCategory);
    session.DevicesChanged();
    ASSERT_TRUE(session.CameraLost());
    sys.SetResult("Graph.Run", VFW_E_NO_CAPTURE_HARDWARE, 1);
    sys.Release("Graph.Run");
    ASSERT_TRUE(Settle());
    EXPECT_TRUE(session.CameraLost());
    EXPECT_FALSE(session.CameraStalled());
    EXPECT_THAT(events, Not(Contains(StartsWith("failed: "))));
}

TEST_F(CaptureSessionTest, AStopThatCouldNotCompleteTheFileHasItFinishedAndThePreviewMayFailApart) {
    Open();
    // The drain ran out of time: the file is finished by the repair (here
    // it holds nothing, so it is not kept); the rebuilt preview failing is
    // told apart and takes nothing from the recording's end.
    Record(File(1));
    // What the writer left: an empty file, not even a header.
    ASSERT_TRUE(QFile(File(1)).open(QIODevice::WriteOnly));
    sys.SetResult("Graph.Stop", VFW_E_TIMEOUT, 1);
    sys.SetResult("Graph.Run", E_FAIL, 1);
    session.StopRecording();
    ASSERT_TRUE(Wait("stopped"));
    ASSERT_TRUE(Settle());
    EXPECT_TRUE(OutcomeMessage(stopped).startsWith(QStringLiteral("L'arrêt de l'enregistrement a échoué")))
        << OutcomeMessage(stopped).toStdString();
    EXPECT_TRUE(OutcomeMessage(stopped).contains(QStringLiteral("Rien n'a pu être enregistré")))
        << OutcomeMessage(stopped).toStdString();
    EXPECT_FALSE(stopped.Plays());
    EXPECT_FALSE(QFile::exists(File(1)));
    EXPECT_THAT(events, Contains(StartsWith("failed: ")));
    // At the quit the same: the file is finished once the graph has let go.
    session.SetPreview(true);
    ASSERT_TRUE(Settle());
    events.clear();
    // Its number is free again.
    Record(File(1));
    sys.SetResult("Graph.Stop", VFW_E_TIMEOUT, 1);
    session.Close();
    ASSERT_TRUE(Wait("closed"));
    EXPECT_EQ(stopped.File, File(1));
    EXPECT_TRUE(OutcomeMessage(stopped).startsWith(QStringLiteral("L'arrêt de l'enregistrement a échoué")))
        << OutcomeMessage(stopped).toStdString();
}

TEST_F(CaptureSessionTest, ItsActivityMovesAlongItsTransitions) {
    using A = TCaptureSession::TActivity;
    struct TRow {
        const char* name;
        std::function<void()> action;
        std::vector<A> seen;  // the activities it goes through
    };
    const std::vector<TRow> rows = {
        {"preview", [this] { Open(); }, {A::Starting, A::Previewing}},
        {"record", [this] { Record(File(1)); }, {A::StartingRecording, A::Recording}},
        {"stop", [this] { session.StopRecording(); }, {A::Stopping, A::Starting, A::Previewing}},
        {"a start that fails",
         [this] {
             sys.SetResult("Graph.Run", E_FAIL, 1);
             session.StartRecording(dir.path(), {});
         },
         {A::StartingRecording, A::Idle, A::Starting, A::Previewing}},
        {"close", [this] { session.Close(); }, {A::Closing, A::Closed}},
    };
    for (const TRow& row : rows) {
        SCOPED_TRACE(row.name);
        activities = {session.Activity()};
        row.action();
        ASSERT_TRUE(Settle());
        EXPECT_EQ(std::vector<A>(activities.begin() + 1, activities.end()), row.seen);
    }
}

TEST_F(CaptureSessionTest, AStepThatFailsEndsItsOperationAndTheNextOneStillRuns) {
    struct TReports : TSessionReports {
        void UnexpectedFailure(const std::exception_ptr&) override { ++failures; }
        int failures = 0;
    } reports;
    sys.RemoveDevices(CLSID_AudioInputDeviceCategory);
    TCaptureSession alone(&reports);
    alone.SetVideoWindow(video);
    ASSERT_TRUE(alone.ListDevices());
    alone.OpenDevices();
    alone.SetPreview(true);
    // Without a microphone the sound format's step fails ("Interface not
    // supported"); the recording asked after it starts all the same.
    alone.SetAudioFormat(AudioFormat(44100, 16, 2));
    alone.StartRecording(dir.path(), {});
    ASSERT_TRUE(QTest::qWaitFor([&] { return alone.Recording(); }, 10000)) << sys.Log().Text();
    EXPECT_EQ(reports.failures, 1);
    alone.Close();
    EXPECT_TRUE(QTest::qWaitFor([&] { return alone.Closed(); }, 10000));
}
