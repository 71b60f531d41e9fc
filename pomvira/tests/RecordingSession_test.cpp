// SPDX-License-Identifier: GPL-3.0-or-later
// The recording session alone, on a graph of its own against the recording
// fake of the media framework (no panel, no preview window): what a start
// and a stop give back, what a failed start leaves behind, and the capture
// format kept for the preview after the recording.
#include <QFile>
#include <QTemporaryDir>
#include <gtest/gtest.h>
#include <stdexcept>

#include "capture/RecordingSession.h"
#include "media/FilterGraph.h"
#include "media/MediaUtil.h"
#include "media/fake/FakeMedia.h"

using namespace media;
using namespace media::fake;

namespace {

class RecordingSessionTest : public ::testing::Test {
  protected:
    RecordingSessionTest() {
        sys.AddVideoDevice("Cam", {VideoFormat(MEDIASUBTYPE_YUY2, 640, 480, 16)});
        sys.AddAudioDevice("Mic", {AudioFormat(44100, 16, 2)});
        graph.setObjectName("CaptureGraph");
        graph.SetMode(gmCapture);
        TSysDevEnum devices(CLSID_VideoInputDeviceCategory);
        video.setObjectName("VideoSourceFilter");
        video.BaseFilter().StoreMoniker(devices.DeviceMoniker(0).Get());
        video.SetFilterGraph(&graph);
        devices.SelectCategory(CLSID_AudioInputDeviceCategory);
        audio.setObjectName("AudioSourceFilter");
        audio.BaseFilter().StoreMoniker(devices.DeviceMoniker(0).Get());
        audio.SetFilterGraph(&graph);
        graph.SetActive(true);
    }
    ~RecordingSessionTest() override {
        session.reset();
        graph.SetActive(false);
    }
    QString File(int n) const { return dir.filePath(QStringLiteral("video%1.avi").arg(n)); }

    FakeMediaSystem sys;
    QTemporaryDir dir;
    TFilterGraph graph;
    TFilter video, audio;
    // What the preview rebuild saw: the kept format's description, or "-".
    std::vector<QString> previews;
    bool previewFails = false;
    std::unique_ptr<TRecordingSession> session =
        std::make_unique<TRecordingSession>(&graph, &video, &audio, [this] {
            const auto format = session->TakeFormat();
            previews.push_back(format ? format->Description() : QStringLiteral("-"));
            if (previewFails)
                throw std::runtime_error("The preview cannot run.");
        });
    const TMediaType format320 = VideoFormat(MEDIASUBTYPE_YUY2, 320, 240, 16);
};

}  // namespace

TEST_F(RecordingSessionTest, ARecordingRunsWithSoundAndItsStopGivesBackTheFileInTheKeptFormat) {
    const TRecordingResult start = session->Start(File(1), TRecordingOptions{}, format320);
    ASSERT_TRUE(start.Ok()) << start.Error.toStdString();
    EXPECT_EQ(start.Path, File(1));
    EXPECT_TRUE(session->Recording());
    EXPECT_EQ(session->File(), File(1));
    EXPECT_TRUE(sys.Log().InOrder({"Graph.Stop",
                                   "Builder.SetOutputFileName(Avi, " + File(1).toStdString() + ")",
                                   "Builder.RenderStream(CAPTURE, Filter[Cam], null, "
                                   "Filter[AVI Mux])",
                                   "Builder.RenderStream(null, Filter[Mic], null, "
                                   "Filter[AVI Mux])",
                                   "Graph.Run"}))
        << sys.Log().Text();
    EXPECT_TRUE(previews.empty());
    EXPECT_TRUE(QFile::exists(File(1)));

    const TRecordingResult stop = session->Stop();
    EXPECT_TRUE(stop.Ok()) << stop.Error.toStdString();
    EXPECT_TRUE(stop.Complete);
    EXPECT_EQ(stop.Path, File(1));
    EXPECT_FALSE(session->Recording());
    // The preview is rebuilt once, in the format of the recording's start,
    // on a graph without the multiplexer and the writer.
    EXPECT_EQ(previews, std::vector<QString>{format320.Description()});
    EXPECT_FALSE(session->HasFormat());
    EXPECT_TRUE(graph.Active());
    EXPECT_FALSE(sys.Graph()->HasFilter("AVI Mux"));
    EXPECT_FALSE(sys.Graph()->HasFilter("File Writer"));
}

TEST_F(RecordingSessionTest, SoundOffOrAMissingCompressorStillRecordsThePicture) {
    TRecordingOptions options;
    options.WithAudio = false;
    options.VideoCompress = 3;  // no such compressor
    ASSERT_TRUE(session->Start(File(1), options, std::nullopt).Ok());
    EXPECT_TRUE(sys.Log().Matching("Builder.RenderStream(null, Filter[Mic]").empty());
    EXPECT_TRUE(
        sys.Log().Contains("Builder.RenderStream(CAPTURE, Filter[Cam], null, "
                           "Filter[AVI Mux])"))
        << sys.Log().Text();
    session->Stop();
    EXPECT_EQ(previews, std::vector<QString>{"-"});
}

TEST_F(RecordingSessionTest, AFailedStartIsTakenBackLeavesNoFileAndKeepsTheLastRecordingsName) {
    ASSERT_TRUE(session->Start(File(1), TRecordingOptions{}, std::nullopt).Ok());
    session->Stop();
    previews.clear();

    sys.SetResult("Graph.Run", E_FAIL, 1);
    QFile(File(2)).open(QIODevice::WriteOnly);  // what the writer began
    const TRecordingResult start = session->Start(File(2), TRecordingOptions{}, format320);
    EXPECT_FALSE(start.Ok());
    EXPECT_TRUE(start.Error.contains("Unspecified error")) << start.Error.toStdString();
    EXPECT_TRUE(start.Path.isEmpty());
    EXPECT_FALSE(start.PreviewFailure);
    EXPECT_FALSE(session->Recording());
    EXPECT_EQ(session->File(), File(1));
    EXPECT_FALSE(QFile::exists(File(2)));
    // The preview is back, in the format the start kept.
    EXPECT_EQ(previews, std::vector<QString>{format320.Description()});

    // Nothing reaching the multiplexer is a failure too; a preview that
    // cannot come back is given back apart.
    previewFails = true;
    sys.SetResult("Builder.RenderStream", E_FAIL, 2);
    TRecordingOptions options;
    options.WithAudio = false;
    const TRecordingResult empty = session->Start(File(3), options, std::nullopt);
    EXPECT_FALSE(empty.Ok());
    EXPECT_TRUE(empty.PreviewFailure);
    EXPECT_FALSE(session->Recording());
}

TEST_F(RecordingSessionTest, AStopWhosePreviewFailsStillGivesBackTheCompleteFile) {
    ASSERT_TRUE(session->Start(File(1), TRecordingOptions{}, std::nullopt).Ok());
    previewFails = true;
    const TRecordingResult stop = session->Stop();
    EXPECT_TRUE(stop.Complete);
    EXPECT_EQ(stop.Path, File(1));
    EXPECT_TRUE(stop.Error.contains("The preview cannot run.")) << stop.Error.toStdString();
    ASSERT_TRUE(stop.PreviewFailure);
    EXPECT_FALSE(session->Recording());
    // A recording whose file is gone is not complete.
    previewFails = false;
    ASSERT_TRUE(session->Start(File(2), TRecordingOptions{}, std::nullopt).Ok());
    ASSERT_TRUE(QFile::remove(File(2)));
    EXPECT_FALSE(session->Stop().Complete);
}

// The first error of a recording is what ends it: later ones (its
// consequences) and errors outside a recording are not; the stop gives back
// the reason, naming the file, and a file with nothing playable in it is not
// complete.
TEST_F(RecordingSessionTest, OnlyTheFirstErrorOfARecordingEndsItAndTheStopGivesItsReason) {
    EXPECT_FALSE(session->Fail(VFW_E_RUNTIME_ERROR));
    ASSERT_TRUE(session->Start(File(1), TRecordingOptions{}, std::nullopt).Ok());
    EXPECT_TRUE(session->Fail(HResultFromWin32(ERROR_DISK_FULL)));
    EXPECT_FALSE(session->Fail(VFW_E_RUNTIME_ERROR));
    const TRecordingResult stop = session->Stop();
    EXPECT_FALSE(stop.Complete);
    EXPECT_TRUE(
        stop.Message.startsWith(QStringLiteral("L'enregistrement s'est arrêté : le disque "
                                               "est plein.")))
        << stop.Message.toStdString();
    EXPECT_TRUE(stop.Message.contains(File(1))) << stop.Message.toStdString();

    // The next recording starts afresh.
    ASSERT_TRUE(session->Start(File(2), TRecordingOptions{}, std::nullopt).Ok());
    const TRecordingResult asked = session->Stop();
    EXPECT_TRUE(asked.Message.isEmpty()) << asked.Message.toStdString();
    EXPECT_TRUE(asked.Complete);
}

// At the quit no preview is built again; a stop that could not complete the
// file releases the graph so that the file can be finished.
TEST_F(RecordingSessionTest, AQuitEndsTheRecordingWithoutAPreviewAndLetsGoOfAnUnfinishedFile) {
    ASSERT_TRUE(session->Start(File(1), TRecordingOptions{}, std::nullopt).Ok());
    session->EndAtQuit();
    EXPECT_FALSE(session->Recording());
    EXPECT_TRUE(graph.Active());
    EXPECT_TRUE(previews.empty());

    graph.SetActive(false);
    graph.SetActive(true);
    ASSERT_TRUE(session->Start(File(2), TRecordingOptions{}, std::nullopt).Ok());
    sys.SetResult("Graph.Stop", VFW_E_TIMEOUT, 1);
    session->EndAtQuit();
    EXPECT_FALSE(session->Recording());
    EXPECT_FALSE(graph.Active());
    EXPECT_TRUE(previews.empty());
}

// A start is taken back when the picture does not reach the multiplexer
// (sound alone is no recording), and a file that took the name before the
// writer could is someone else's: it is left where it is.
TEST_F(RecordingSessionTest, AStartWithoutThePictureFailsAndAFileItDidNotMakeStays) {
    struct TCase {
        const char* what;
        const char* call;
        HRESULT result;
        const char* error;
    };
    for (const TCase& c :
         {TCase{"the camera's connection fails", "Builder.RenderStream", E_FAIL,
                "Erreur du système vidéo"},
          TCase{"a file took the name", "Builder.SetOutputFileName",
                HResultFromWin32(ERROR_FILE_EXISTS), "Un autre fichier a pris le nom"}}) {
        SCOPED_TRACE(c.what);
        previews.clear();
        const bool taken = QLatin1String(c.call) == QLatin1String("Builder.SetOutputFileName");
        if (taken) {
            QFile other(File(1));
            ASSERT_TRUE(other.open(QIODevice::WriteOnly) && other.write("someone's") == 9);
        }
        sys.SetResult(c.call, c.result, 1);
        const TRecordingResult start = session->Start(File(1), TRecordingOptions{}, format320);
        EXPECT_FALSE(start.Ok());
        EXPECT_TRUE(start.Error.startsWith(c.error)) << start.Error.toStdString();
        EXPECT_FALSE(session->Recording());
        EXPECT_EQ(previews, std::vector<QString>{format320.Description()});
        // The microphone's connection, made, is taken back.
        EXPECT_FALSE(sys.Graph()->HasFilter("AVI Mux"));
        if (taken) {
            QFile kept(File(1));
            ASSERT_TRUE(kept.open(QIODevice::ReadOnly));
            EXPECT_EQ(kept.readAll(), "someone's");
        }
    }
}
