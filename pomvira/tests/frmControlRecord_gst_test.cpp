// SPDX-License-Identifier: GPL-3.0-or-later
// Recording on the real GStreamer framework with the built-in test camera and
// microphone. Every file is read back by ffprobe and by its RIFF chunks, not
// by GStreamer: its streams, their formats and codecs, its duration against
// the time recorded, the frame count in its header and its index.
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QFileInfo>
#include <QLabel>
#include <QListWidget>
#include <QTest>
#include <QTimer>
#include <csignal>
#include <gtest/gtest.h>

#include "widgets/ActionList.h"
#include "RecordingGstTesting.h"
#include "dialogs/DlgCompress.h"
#include "files/RecordingRepair.h"
#include "widgets/ImageButton.h"
#include "MailerStandIn.h"
#include "ModalDriver.h"
#include "PipeWireSession.h"
#include "forms/frmControl.h"
#include "forms/frmView.h"
#include "SessionProbe.h"

using namespace media;

namespace {

const auto* const kEnvironment = ::testing::AddGlobalTestEnvironment(new GstTestDevices("1"));

// The position of a compressor in its category's list, found by its name
// (the list depends on the installed plugins); -1 when it is not there.
int CompressorIndex(const GUID& category, const std::string& name) {
    TSysDevEnum compressors(category);
    for (int i = 0; i < compressors.DeviceCount(); ++i)
        if (compressors.DeviceEntry(i).FriendlyName == name)
            return i;
    return -1;
}

class RecordingGstTest : public RecordingGstTestBase {
  protected:
    // Records for about `ms` milliseconds with the record button; the time
    // from the start's end to the stop, in seconds.
    double Record(TControlForm& form, int ms) {
        EXPECT_TRUE(ClickRecord(form));
        QElapsedTimer recorded;
        recorded.start();
        EXPECT_TRUE(PanelState(form).Recording) << FirstBox();
        EXPECT_EQ(form.btnCapture->Hint(), "Stop");
        QTest::qWait(ms / 2);
        // The elapsed time is shown while recording.
        EXPECT_TRUE(form.ViewForm()->lblStatus->text().startsWith("(Record : 0:0:"))
            << form.ViewForm()->lblStatus->text().toStdString();
        QTest::qWait(ms - ms / 2);
        const double seconds = double(recorded.elapsed()) / 1000.0;
        EXPECT_TRUE(ClickRecord(form));
        EXPECT_FALSE(PanelState(form).Recording);
        EXPECT_EQ(form.btnCapture->Hint(), "Enregistrement");
        EXPECT_EQ(form.ViewForm()->lblStatus->text(), "( Preview )");
        return seconds;
    }
    // The file is the selected last entry of the strip, the panel expanded,
    // and the preview runs again in the format it had.
    void ExpectBackToPreview(TControlForm& form, const QString& file) {
        EXPECT_EQ(form.StripFiles().last(), file);
        EXPECT_EQ(form.SelectedFile(), file);
        EXPECT_TRUE(PanelState(form).Expanded);
        ExpectPreviewing(form);
    }
};

// The recording is complete, with one 640 x 480 video stream in the codec
// `video` and one audio stream in the codec `audio` (none when null); its
// reading.
TAviProbe ExpectRecording(const QString& file, const char* video, const char* audio) {
    const TAviProbe p = ProbeAvi(file);
    EXPECT_TRUE(p.Complete()) << Why(p);
    EXPECT_EQ(p.Count("video"), 1) << Why(p);
    EXPECT_EQ(p.Count("audio"), audio ? 1 : 0) << Why(p);
    if (const TAviStream* v = p.Stream("video")) {
        EXPECT_EQ(v->codec, video) << Why(p);
        EXPECT_EQ(QSize(v->width, v->height), QSize(640, 480)) << Why(p);
    }
    const TAviStream* a = p.Stream("audio");
    if (a && audio) {
        EXPECT_EQ(a->codec, audio) << Why(p);
    }
    return p;
}

}  // namespace

TEST_F(RecordingGstTest, RecordingWithSoundThenWithoutIsCompleteAndThePreviewRunsAgain) {
    TControlForm form;
    ASSERT_TRUE(boxes.empty()) << FirstBox();
    ExpectPreviewRuns(form, 640, 480);

    const double recorded = Record(form, 3000);
    ASSERT_TRUE(boxes.empty()) << FirstBox();
    ExpectBackToPreview(form, VideoFile(1));
    const TAviProbe withSound = ExpectRecording(VideoFile(1), "rawvideo", "pcm_s16le");
    ASSERT_EQ(withSound.Count("audio"), 1);
    EXPECT_EQ(withSound.Stream("audio")->bitsPerSample, 16) << Why(withSound);
    EXPECT_NEAR(withSound.duration, recorded, recorded * 0.1) << Why(withSound);

    // Sound off: the next file, picture only.
    form.actUseAudio->Execute();
    Record(form, 1500);
    ASSERT_TRUE(boxes.empty()) << FirstBox();
    EXPECT_EQ(form.StripFiles(), QStringList({VideoFile(1), VideoFile(2)}));
    ExpectBackToPreview(form, VideoFile(2));
    ExpectRecording(VideoFile(2), "rawvideo", nullptr);
}

TEST_F(RecordingGstTest, ADiskTooSlowDropsFramesSaysSoWhileThePictureAndTheTimeGoOn) {
    // Every write of the recording's file waits 100 ms: far fewer frames a
    // second than the camera's 30 reach the file.
    setenv("POMVIRA_TEST_SLOW_WRITE_MS", "100", 1);
    TControlForm form;
    ExpectPreviewRuns(form, 640, 480);
    ASSERT_TRUE(ClickRecord(form));
    unsetenv("POMVIRA_TEST_SLOW_WRITE_MS");
    const QLabel* status = form.ViewForm()->lblStatus;
    ASSERT_TRUE(QTest::qWaitFor(
        [&] { return status->text().contains(QStringLiteral("Disque trop lent")); }, 8000))
        << status->text().toStdString();
    const QString shown = status->text();
    ExpectPreviewRuns(form, 640, 480);
    QTest::qWait(500);
    EXPECT_NE(status->text(), shown) << "the elapsed time stands still";
    const int32_t dropped = form.Session()->DroppedFrames();
    EXPECT_GT(dropped, 0);
    ASSERT_TRUE(ClickRecord(form));
    ASSERT_TRUE(QTest::qWaitFor([&] { return form.StripFiles().contains(VideoFile(1)); }, 20000))
        << FirstBox();
    const TAviProbe file = ExpectRecording(VideoFile(1), "rawvideo", "pcm_s16le");
    ASSERT_NE(file.Stream("video"), nullptr);
    EXPECT_LT(file.Stream("video")->frames, 30 * 4) << Why(file);
}

TEST_F(RecordingGstTest, CompressorsChosenByIndexOrInTheDialogCompressTheStreams) {
    const int jpeg = CompressorIndex(CLSID_VideoCompressorCategory, "JPEG image encoder");
    const int alaw = CompressorIndex(CLSID_AudioCompressorCategory, "A Law audio encoder");
    const int h264 = CompressorIndex(CLSID_VideoCompressorCategory, "x264 H.264 Encoder");
    const int mp3 = CompressorIndex(CLSID_AudioCompressorCategory, "L.A.M.E. mp3 encoder");
    ASSERT_TRUE(jpeg >= 0 && alaw >= 0 && h264 >= 0 && mp3 >= 0)
        << "the encoders of the GStreamer plugin packages are missing";
    // Stored indexes, as the settings file holds them.
    Ini().WriteInteger("CAPTURE", "VIDEO COMPRESS", jpeg);
    Ini().WriteInteger("CAPTURE", "AUDIO COMPRESS", alaw);
    TControlForm form;
    ASSERT_TRUE(boxes.empty()) << FirstBox();
    Record(form, 2000);
    ASSERT_TRUE(boxes.empty()) << FirstBox();
    ExpectBackToPreview(form, VideoFile(1));
    ExpectRecording(VideoFile(1), "mjpeg", "pcm_alaw");

    // Chosen in the compression dialog: the next recording uses them.
    auto choose = WhenModal<TCompressDlg>([&](TCompressDlg* d) {
        d->lstVideoComp->setCurrentRow(h264);
        d->lstAudioComp->setCurrentRow(mp3);
        PressKey(d, Qt::Key_Return);
    });
    form.actCompress->Execute();
    ASSERT_TRUE(choose->Answered());
    ASSERT_EQ(PanelState(form).VideoCompress, h264);
    Record(form, 2000);
    ASSERT_TRUE(boxes.empty()) << FirstBox();
    ExpectBackToPreview(form, VideoFile(2));
    const TAviProbe second = ExpectRecording(VideoFile(2), "h264", "mp3");
    // 4:2:0, which every H.264 player decodes.
    ASSERT_EQ(second.Count("video"), 1);
    EXPECT_EQ(second.Stream("video")->pixelFormat, "yuv420p") << Why(second);
}

TEST_F(RecordingGstTest, StartThatTheFileWriterRefusesIsReportedAndThePreviewRunsOn) {
    TControlForm form;
    ASSERT_TRUE(boxes.empty()) << FirstBox();
    // The video folder goes away after start-up: the file cannot be opened.
    ASSERT_TRUE(QDir(VideoFolder()).removeRecursively());
    ASSERT_TRUE(ClickRecord(form));
    ASSERT_EQ(boxes.size(), 1u);
    EXPECT_TRUE(boxes[0].startsWith("L'enregistrement n'a pas pu commencer.")) << FirstBox();
    // In words the user understands, naming the folder.
    EXPECT_TRUE(
        boxes[0].contains(QStringLiteral("Le dossier « %1 » n'existe plus").arg(VideoFolder())))
        << FirstBox();
    EXPECT_FALSE(PanelState(form).Recording);
    EXPECT_FALSE(form.Timer->isActive());
    EXPECT_EQ(form.btnCapture->Hint(), "Enregistrement");
    EXPECT_EQ(form.ViewForm()->lblStatus->text(), "( Preview )");
    EXPECT_TRUE(form.StripFiles().isEmpty());
    EXPECT_EQ(PinFormatText(Probe(form).VideoSource()), k640);
    ExpectPreviewRuns(form, 640, 480);

    // With the folder back, recording works.
    ASSERT_TRUE(QDir().mkpath(VideoFolder()));
    boxes.clear();
    Record(form, 1000);
    EXPECT_TRUE(boxes.empty()) << FirstBox();
    ExpectRecording(VideoFile(1), "rawvideo", "pcm_s16le");
}

// The file being recorded is the program's own: the repair of cut-off
// recordings (which may find it under a name it listed before, freed by a
// file moved away) passes it over and writes nothing into it.
TEST_F(RecordingGstTest, TheRecordingBeingWrittenIsPassedOverByTheRepair) {
    TControlForm form;
    ASSERT_TRUE(StartRecording(form));
    QTest::qWait(800);
    EXPECT_EQ(RepairRecording(VideoFile(1)), TRecordingState::InUse);
    EXPECT_TRUE(RepairUnfinishedRecordings(VideoFolder()).unrepairable.isEmpty());
    QTest::qWait(300);
    ASSERT_TRUE(ClickRecord(form));
    EXPECT_TRUE(boxes.empty()) << FirstBox();
    ExpectRecording(VideoFile(1), "rawvideo", "pcm_s16le");
    // Let go of, it is a complete file like any other.
    EXPECT_EQ(RepairRecording(VideoFile(1)), TRecordingState::Complete);
}

TEST_F(RecordingGstTest, CaptureAndMailHandsTheCompleteFileToTheMailProgram) {
    TMailerStandIn mailer;
    {
        TControlForm form;
        ASSERT_TRUE(StartRecording(form, true));
        QTest::qWait(1000);
        EXPECT_TRUE(mailer.Mails().empty());
        ASSERT_TRUE(ClickRecord(form));
        EXPECT_TRUE(boxes.empty()) << FirstBox();
        ExpectBackToPreview(form, VideoFile(1));
    }
    const auto mails = mailer.Mails();
    ASSERT_EQ(mails.size(), 1u);
    EXPECT_EQ(mails[0].Subject, "Video Mail");
    EXPECT_EQ(mails[0].Attachments, QStringList{QFileInfo(VideoFile(1)).canonicalFilePath()});
    ExpectRecording(VideoFile(1), "rawvideo", "pcm_s16le");
}

TEST_F(RecordingGstTest, QuittingWhileRecordingLeavesACompleteFile) {
    {
        TControlForm form;
        ASSERT_TRUE(StartRecording(form));
        QTest::qWait(1500);
        // The program's shut-down: the panel goes while recording.
    }
    EXPECT_TRUE(boxes.empty()) << FirstBox();
    ExpectRecording(VideoFile(1), "rawvideo", "pcm_s16le");
}

// The microphone served by a private sound server (pipewire-pulse over its
// own PipeWire), beside the built-in test camera; the server hangs (SIGSTOP)
// or dies (SIGKILL) during a recording with sound.
class SoundServerLost : public RecordingGstTest, public ::testing::WithParamInterface<int> {};

TEST_P(SoundServerLost, EndsTheRecordingWithItsFileCompleteAndSaysWhy) {
    TPipeWireSession pipewire;
    QString why;
    if (!HaveProgram(QStringLiteral("pipewire-pulse")) || !pipewire.Start(&why) ||
        !pipewire.StartSoundServer(&why) || !pipewire.CreateMicrophone())
        GTEST_SKIP() << "no private sound server: " << why.toStdString();
    pipewire.Enter();
    struct Continue {
        qint64 pid;
        ~Continue() { ::kill(pid_t(pid), SIGCONT); }
    } continued{pipewire.SoundServerId()};

    TControlForm form;
    ExpectPreviewRuns(form, 640, 480);
    ASSERT_TRUE(QTest::qWaitFor(
        [&] {
            return form.Session()->PresentMicrophones().contains(
                QString::fromLatin1(TPipeWireSession::kMicrophoneName));
        },
        5000));
    form.Session()->ChooseDevices(
        PanelState(form).VideoDevice,
        int32_t(form.Session()->PresentMicrophones().indexOf(
            QString::fromLatin1(TPipeWireSession::kMicrophoneName))));
    ASSERT_TRUE(SettleSession(form));
    ASSERT_TRUE(StartRecording(form));
    QTest::qWait(2000);
    ::kill(pid_t(pipewire.SoundServerId()), GetParam());
    // Ended by the program, not by the record button: the file completed
    // and in the strip, the reason told and noted on its entry.
    ASSERT_TRUE(QTest::qWaitFor([&] { return form.StripFiles().contains(VideoFile(1)); }, 30000))
        << FirstBox();
    ASSERT_EQ(boxes.size(), 1u);
    EXPECT_TRUE(boxes[0].contains(QStringLiteral("ne donnait plus de son"))) << FirstBox();
    const TAviProbe file = ExpectRecording(VideoFile(1), "rawvideo", "pcm_s16le");
    EXPECT_GT(file.duration, 1.5) << Why(file);
    ExpectPreviewRuns(form, 640, 480);
}

INSTANTIATE_TEST_SUITE_P(HungOrKilled, SoundServerLost, ::testing::Values(SIGSTOP, SIGKILL),
                         [](const ::testing::TestParamInfo<int>& info) {
                             return info.param == SIGSTOP ? "Hung" : "Killed";
                         });
