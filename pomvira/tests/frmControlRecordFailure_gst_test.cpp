// SPDX-License-Identifier: GPL-3.0-or-later
// Recordings that do not end by the record button, on the real GStreamer
// framework with the built-in test devices: a disk that fills, a folder
// removed while it is written, a stop that cannot drain in time, and a
// camera slower than its format. Each checks the message, the running
// preview, the strip and the file, read back with ffprobe and its RIFF
// chunks.
#include <QDir>
#include <QElapsedTimer>
#include <QFileInfo>
#include <QLabel>
#include <QTest>
#include <QTimer>
#include <gtest/gtest.h>

#include <chrono>
#include <cstdlib>

#include "widgets/ActionList.h"
#include "RecordingGstTesting.h"
#include "widgets/ImageButton.h"
#include "MailerStandIn.h"
#include "SmallFilesystem.h"
#include "forms/frmControl.h"
#include "forms/frmView.h"
#include "media/gst/FilterGraph.h"
#include "SessionProbe.h"

using namespace media;

namespace {

const auto* const kEnvironment = ::testing::AddGlobalTestEnvironment(new GstTestDevices("1"));

class RecordingFailureTest : public RecordingGstTestBase {
  protected:
    void TearDown() override {
        media::gst::SetDrainTimeout(std::chrono::seconds(5));
        RecordingGstTestBase::TearDown();
    }
    // Waits (bounded) until the recording has ended by itself and its file
    // is completed.
    static bool WaitForEnd(TControlForm& form, int ms) {
        return QTest::qWaitFor([&] { return !PanelState(form).Recording; }, ms) && SettleSession(form);
    }
};

}  // namespace

// The disk fills while a capture-and-mail recording runs: it ends at once,
// one message names the file and the reason, the preview goes on, the file
// plays to the last frame written, joins the strip and only then is mailed.
TEST_F(RecordingFailureTest, AFullDiskEndsTheRecordingWithAPlayableFileAndOneMessage) {
    TSmallFilesystem small(24 << 20);
    Ini().WriteString("CAPTURE", "VIDEO FOLDER", small.Path());
    const QString file = small.Path() + QStringLiteral("/video000001.avi");
    TMailerStandIn mailer;
    {
        TControlForm form;
        ASSERT_TRUE(boxes.empty()) << FirstBox();
        form.actCapAndMail->Execute();
        ASSERT_TRUE(PanelState(form).Recording) << FirstBox();
        ASSERT_TRUE(WaitForEnd(form, 20000)) << "the recording goes on on a full disk";
        ASSERT_EQ(boxes.size(), 1u) << FirstBox();
        EXPECT_TRUE(boxes[0].startsWith("L'enregistrement s'est arrêté : ")) << FirstBox();
        EXPECT_TRUE(boxes[0].contains(small.Mounted() ? "le disque est plein"
                                                      : "la plus grande taille permise"))
            << FirstBox();
        EXPECT_TRUE(boxes[0].contains(file)) << FirstBox();
        ExpectPreviewing(form);
        EXPECT_EQ(form.StripFiles(), QStringList{file});
        EXPECT_EQ(boxes.size(), 1u) << boxes.back().toStdString();
    }
    const auto mails = mailer.Mails();
    ASSERT_EQ(mails.size(), 1u);
    EXPECT_EQ(mails[0].Attachments, QStringList{QFileInfo(file).canonicalFilePath()});
    ExpectPlayable(file, 10);
    EXPECT_EQ(ProbeAvi(file).Count("audio"), 1);
}

// The video folder is removed while it is written: the recording ends at
// once, the message says the folder is gone, nothing enters the strip, and
// the preview goes on.
TEST_F(RecordingFailureTest, AFolderRemovedWhileRecordingIsSaidToBeGone) {
    TMailerStandIn mailer;
    TControlForm form;
    ASSERT_TRUE(StartRecording(form, true));
    QTest::qWait(1000);
    ASSERT_TRUE(QDir(VideoFolder()).removeRecursively());
    ASSERT_TRUE(WaitForEnd(form, 10000)) << "the recording goes on into a removed folder";
    ASSERT_EQ(boxes.size(), 1u) << FirstBox();
    EXPECT_TRUE(
        boxes[0].contains(QStringLiteral("le dossier « %1 » n'existe plus").arg(VideoFolder())))
        << FirstBox();
    EXPECT_TRUE(boxes[0].contains(VideoFile(1))) << FirstBox();
    ExpectPreviewing(form);
    EXPECT_TRUE(form.StripFiles().isEmpty());
    EXPECT_FALSE(QFileInfo::exists(VideoFile(1)));
    EXPECT_TRUE(mailer.Mails().empty());
    EXPECT_EQ(boxes.size(), 1u) << boxes.back().toStdString();
}

// The end of the stream does not reach the file in time: the stop finishes
// the file with the repair and says so; the file plays and is in the strip.
TEST_F(RecordingFailureTest, AStopThatCannotDrainInTimeFinishesTheFileWithTheRepair) {
    TControlForm form;
    ASSERT_TRUE(StartRecording(form));
    QTest::qWait(1500);
    media::gst::SetDrainTimeout(std::chrono::milliseconds(0));
    ASSERT_TRUE(ClickRecord(form));
    ASSERT_EQ(boxes.size(), 1u) << FirstBox();
    EXPECT_TRUE(boxes[0].contains("l'arrêt a pris trop de temps")) << FirstBox();
    EXPECT_TRUE(boxes[0].contains(VideoFile(1) + " a été terminé par la réparation")) << FirstBox();
    ExpectPreviewing(form);
    EXPECT_EQ(form.StripFiles(), QStringList{VideoFile(1)});
    ExpectPlayable(VideoFile(1), 10);
}

// The program quits while recording and the stop cannot drain in time: the
// file is finished by the repair before the program ends, without a word.
TEST_F(RecordingFailureTest, QuittingWhenTheStopCannotDrainStillLeavesAPlayableFile) {
    {
        TControlForm form;
        ASSERT_TRUE(StartRecording(form));
        QTest::qWait(1500);
        media::gst::SetDrainTimeout(std::chrono::milliseconds(0));
    }
    EXPECT_TRUE(boxes.empty()) << FirstBox();
    const TAviProbe avi = ProbeAvi(VideoFile(1));
    EXPECT_TRUE(avi.Complete()) << Why(avi);
}

// A camera that delivers 15 frames a second while its format says 30: ten
// seconds recorded with sound make a file of ten seconds, its picture and
// its sound as long as each other.
TEST_F(RecordingFailureTest, ACameraAtHalfItsRateRecordsTheTimeRecorded) {
    setenv("POMVIRA_TEST_CAMERA_FPS", "15", 1);
    TControlForm form;
    ASSERT_TRUE(StartRecording(form));
    QElapsedTimer recorded;
    recorded.start();
    QTest::qWait(10000);
    const double seconds = double(recorded.elapsed()) / 1000.0;
    ASSERT_TRUE(ClickRecord(form));
    unsetenv("POMVIRA_TEST_CAMERA_FPS");
    EXPECT_TRUE(boxes.empty()) << FirstBox();
    const TAviProbe avi = ProbeAvi(VideoFile(1));
    ASSERT_TRUE(avi.Complete()) << Why(avi);
    const TAviStream* video = avi.Stream("video");
    const TAviStream* audio = avi.Stream("audio");
    ASSERT_TRUE(video && audio) << Why(avi);
    EXPECT_NEAR(avi.duration, 10.0, 0.5) << Why(avi);
    EXPECT_NEAR(avi.duration, seconds, 0.5) << Why(avi);
    EXPECT_NEAR(video->duration, audio->duration, 0.1) << Why(avi);
}
