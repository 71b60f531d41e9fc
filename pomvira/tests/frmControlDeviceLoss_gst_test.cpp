// SPDX-License-Identifier: GPL-3.0-or-later
// Devices that come and go, on the real GStreamer framework with the
// built-in test devices, unplugged and plugged back as a user would: the
// preview window says the camera is gone, the program then idles, and the
// preview comes back by itself in the format it had when the camera does;
// another camera plugged in meanwhile is taken up instead. A recording cut
// by a lost camera or microphone ends complete, as the record button ends
// it; one cut by SIGKILL is repaired at the next start. Recordings are read
// back with ffprobe.
#include <QCoreApplication>
#include <QFileInfo>
#include <QProcess>
#include <QTest>
#include <csignal>
#include <functional>
#include <gtest/gtest.h>
#include <sys/resource.h>

#include "widgets/ActionList.h"
#include "AviProbe.h"
#include "ControlFormTesting.h"
#include "widgets/ImageButton.h"
#include "MailerStandIn.h"
#include "forms/frmControl.h"
#include "forms/frmView.h"
#include "media/testdevices/TestDevices.h"

using namespace media;

namespace {

const auto* const kEnvironment = ::testing::AddGlobalTestEnvironment(new GstTestDevices("2"));

// Where the crash test's child records (set only in the child).
const char* const kRecordIntoVariable = "POMVIRA_TEST_RECORD_INTO";

// Plugs every test device back when a test ends, whatever it did.
struct TPlugBack {
    ~TPlugBack() {
        for (const char* name : {"Test Camera 1", "Test Camera 2", "Test Microphone"})
            gst::PlugTestDevice(name, true);
    }
};

// Seconds of processor time this process used (all its threads).
double CpuSeconds() {
    rusage usage{};
    getrusage(RUSAGE_SELF, &usage);
    return double(usage.ru_utime.tv_sec + usage.ru_stime.tv_sec) +
           double(usage.ru_utime.tv_usec + usage.ru_stime.tv_usec) / 1e6;
}

// A complete recording with a video stream of at least `frames` frames and
// a sound stream.
void ExpectCompleteRecording(const QString& file, int64_t frames) {
    const TAviProbe p = ProbeAvi(file, true);
    EXPECT_TRUE(p.Complete()) << p.Text().toStdString();
    EXPECT_EQ(p.Count(QStringLiteral("audio")), 1) << p.Text().toStdString();
    const TAviStream* video = p.Stream(QStringLiteral("video"));
    ASSERT_NE(video, nullptr) << p.Text().toStdString();
    EXPECT_GE(video->frames, frames) << p.Text().toStdString();
    EXPECT_EQ(int64_t(p.totalFrames), video->frames) << p.Text().toStdString();
}

class CameraComesAndGoes : public ControlFormTestBase {
  protected:
    void SetUp() override {
        ControlFormTestBase::SetUp();
        UseOwnSaveFolders();
    }
    // A recording started with `action` (the record button's or the
    // capture-and-mail one) that has run for a while.
    void RecordAWhile(TControlForm& form, const std::function<void()>& action, int ms) {
        ExpectPreviewRuns(form, 640, 480);
        action();
        ASSERT_TRUE(SettleSession(form));
        ASSERT_TRUE(PanelState(form).Recording) << FirstBox();
        QTest::qWait(ms);
    }
    TPlugBack plugBack;
};

}  // namespace

TEST_F(CameraComesAndGoes, UnpluggedThePreviewSaysSoIdlesAndResumesInItsFormatWhenPluggedBack) {
    Ini().WriteString("CAPTURE", "VIDEO FORMAT", QString::fromLatin1(k320));
    TControlForm form;
    ASSERT_TRUE(boxes.empty()) << FirstBox();
    ExpectPreviewRuns(form, 320, 240);
    EXPECT_TRUE(form.ViewForm()->VideoNotice().isEmpty());

    ASSERT_TRUE(gst::PlugTestDevice("Test Camera 1", false));
    ASSERT_TRUE(QTest::qWaitFor([&] { return form.CameraLost(); }, 5000));
    ASSERT_TRUE(SettleSession(form));
    EXPECT_TRUE(form.ViewForm()->VideoNotice().contains(QStringLiteral("débranchée")))
        << form.ViewForm()->VideoNotice().toStdString();
    EXPECT_TRUE(form.ViewForm()->lblNotice->geometry().contains(
        form.ViewForm()->GetVideoRect()));
    EXPECT_EQ(PanelState(form).VideoDevice, -1);
    // Nothing that needs a camera can be started meanwhile; the rest works.
    form.ActionList->UpdateActions();
    EXPECT_FALSE(form.actSnapShot->Enabled());
    EXPECT_FALSE(form.actVideoPin->Enabled());
    EXPECT_FALSE(form.btnCapture->isEnabled());
    EXPECT_TRUE(form.actExpand->Enabled());
    EXPECT_TRUE(form.actSelectDevice->Enabled());

    // Next to no processor time while the camera is gone: under 2 % of a
    // core over three seconds (the test's own event loop included).
    QTest::qWait(500);
    const double before = CpuSeconds();
    QTest::qWait(3000);
    EXPECT_LT(CpuSeconds() - before, 0.06);
    EXPECT_TRUE(boxes.empty()) << FirstBox();

    ASSERT_TRUE(gst::PlugTestDevice("Test Camera 1", true));
    EXPECT_TRUE(QTest::qWaitFor([&] { return !form.CameraLost(); }, 2000));
    EXPECT_TRUE(form.ViewForm()->VideoNotice().isEmpty());
    EXPECT_EQ(PanelState(form).VideoDevice, 0);
    EXPECT_EQ(PinFormatText(Probe(form).VideoSource()), QString::fromLatin1(k320));
    ExpectPreviewRuns(form, 320, 240);
    EXPECT_TRUE(form.btnCapture->isEnabled());
    EXPECT_TRUE(boxes.empty()) << FirstBox();
}

TEST_F(CameraComesAndGoes, ACameraBackButBusyStaysLostAndComesBackInItsFormatAtTheNextTry) {
    Ini().WriteString("CAPTURE", "VIDEO FORMAT", QString::fromLatin1(k320));
    TControlForm form;
    ASSERT_TRUE(boxes.empty()) << FirstBox();
    ExpectPreviewRuns(form, 320, 240);

    ASSERT_TRUE(gst::PlugTestDevice("Test Camera 1", false));
    ASSERT_TRUE(QTest::qWaitFor([&] { return form.CameraLost(); }, 5000));
    // Back, but held by another program at its first start: the camera
    // stays lost, nothing is said for one failure.
    gst::RefuseTestCameraStartOnce("Test Camera 1");
    ASSERT_TRUE(gst::PlugTestDevice("Test Camera 1", true));
    QTest::qWait(700);
    EXPECT_TRUE(form.CameraLost());
    EXPECT_EQ(PanelState(form).VideoDevice, -1);
    EXPECT_TRUE(form.ViewForm()->VideoNotice().contains(QStringLiteral("débranchée")));
    EXPECT_TRUE(boxes.empty()) << FirstBox();

    // It is tried again by itself, in the format it had, not in its first
    // one.
    ASSERT_TRUE(QTest::qWaitFor([&] { return !form.CameraLost(); }, 5000)) << FirstBox();
    EXPECT_EQ(PinFormatText(Probe(form).VideoSource()), QString::fromLatin1(k320));
    ExpectPreviewRuns(form, 320, 240);
    EXPECT_TRUE(form.ViewForm()->VideoNotice().isEmpty());
    EXPECT_TRUE(boxes.empty()) << FirstBox();
}

TEST_F(CameraComesAndGoes, AnotherCameraPluggedInWhileNoneIsInUseIsTakenUp) {
    ASSERT_TRUE(gst::PlugTestDevice("Test Camera 2", false));
    TControlForm form;
    ASSERT_TRUE(boxes.empty()) << FirstBox();

    // The other camera was there when this one went: not taken up.
    ASSERT_TRUE(gst::PlugTestDevice("Test Camera 1", false));
    ASSERT_TRUE(QTest::qWaitFor([&] { return form.CameraLost(); }, 5000));
    ASSERT_TRUE(gst::PlugTestDevice("Test Camera 2", true));
    EXPECT_TRUE(QTest::qWaitFor([&] { return !form.CameraLost(); }, 2000));
    EXPECT_TRUE(form.ViewForm()->VideoNotice().isEmpty());
    ExpectPreviewRuns(form, 640, 480);

    // The first camera back while the other one is in use: nothing changes.
    ASSERT_TRUE(gst::PlugTestDevice("Test Camera 1", true));
    QTest::qWait(300);
    EXPECT_FALSE(form.CameraLost());
    const int inUse = PanelState(form).VideoDevice;
    TSysDevEnum devices(CLSID_VideoInputDeviceCategory);
    ASSERT_GT(devices.DeviceCount(), inUse);
    EXPECT_EQ(devices.DeviceEntry(inUse).FriendlyName, "Test Camera 2");
    EXPECT_TRUE(boxes.empty()) << FirstBox();
}

TEST_F(CameraComesAndGoes, ACameraGoneBeforeItsPreviewRunsIsShownAsLostToo) {
    TControlForm form;
    // Gone from the device list without a word from its stream (the graph
    // at rest, emptied once its start is done).
    ASSERT_TRUE(SettleSession(form));
    Probe(form).Graph()->EmptyGraph();
    ASSERT_TRUE(gst::PlugTestDevice("Test Camera 1", false));
    ASSERT_TRUE(QTest::qWaitFor([&] { return form.CameraLost(); }, 5000));
    ASSERT_TRUE(gst::PlugTestDevice("Test Camera 1", true));
    EXPECT_TRUE(QTest::qWaitFor([&] { return !form.CameraLost(); }, 2000));
    ExpectPreviewRuns(form, 640, 480);
    EXPECT_TRUE(boxes.empty()) << FirstBox();
}

TEST_F(CameraComesAndGoes, UnpluggedDuringARecordingTheRecordingEndsCompleteInTheStrip) {
    TControlForm form;
    RecordAWhile(form, [&] { form.btnCapture->Click(); }, 2000);

    ASSERT_TRUE(gst::PlugTestDevice("Test Camera 1", false));
    ASSERT_TRUE(QTest::qWaitFor([&] { return form.CameraLost(); }, 5000));
    ASSERT_TRUE(SettleSession(form));
    // Ended as the record button ends a recording, with no error.
    EXPECT_FALSE(PanelState(form).Recording);
    EXPECT_EQ(form.btnCapture->Hint(), "Enregistrement");
    EXPECT_EQ(form.ViewForm()->lblStatus->text(), "( Preview )");
    ASSERT_FALSE(form.StripFiles().isEmpty());
    EXPECT_EQ(form.StripFiles().last(), VideoFile(1));
    EXPECT_EQ(form.SelectedFile(), VideoFile(1));
    ExpectCompleteRecording(VideoFile(1), 20);
    EXPECT_TRUE(boxes.empty()) << FirstBox();

    ASSERT_TRUE(gst::PlugTestDevice("Test Camera 1", true));
    EXPECT_TRUE(QTest::qWaitFor([&] { return !form.CameraLost(); }, 2000));
    ExpectPreviewRuns(form, 640, 480);
}

TEST_F(CameraComesAndGoes, ACaptureAndMailRecordingCutByTheCameraIsStillMailed) {
    TMailerStandIn mailer;
    TControlForm form;
    RecordAWhile(form, [&] { form.actCapAndMail->Execute(); }, 1500);

    ASSERT_TRUE(gst::PlugTestDevice("Test Camera 1", false));
    ASSERT_TRUE(QTest::qWaitFor([&] { return form.CameraLost(); }, 5000));
    ASSERT_TRUE(SettleSession(form));
    ASSERT_EQ(mailer.Mails().size(), 1u);
    EXPECT_EQ(mailer.Mails()[0].Subject, "Video Mail");
    EXPECT_EQ(mailer.Mails()[0].Attachments, QStringList{VideoFile(1)});
    ExpectCompleteRecording(VideoFile(1), 10);
    EXPECT_TRUE(boxes.empty()) << FirstBox();
}

TEST_F(CameraComesAndGoes, AMicrophoneLostDuringARecordingEndsItAndThePreviewGoesOn) {
    TControlForm form;
    RecordAWhile(form, [&] { form.btnCapture->Click(); }, 2000);

    ASSERT_TRUE(gst::PlugTestDevice("Test Microphone", false));
    ASSERT_TRUE(QTest::qWaitFor([&] { return !PanelState(form).Recording; }, 5000));
    ASSERT_TRUE(SettleSession(form));
    EXPECT_FALSE(form.CameraLost());
    EXPECT_TRUE(form.ViewForm()->VideoNotice().isEmpty());
    ASSERT_FALSE(form.StripFiles().isEmpty());
    EXPECT_EQ(form.StripFiles().last(), VideoFile(1));
    ExpectCompleteRecording(VideoFile(1), 20);
    ExpectPreviewRuns(form, 640, 480);
    EXPECT_TRUE(boxes.empty()) << FirstBox();

    // Back again: the next recording has its sound.
    ASSERT_TRUE(gst::PlugTestDevice("Test Microphone", true));
    EXPECT_TRUE(QTest::qWaitFor([&] { return Probe(form).AudioSource()->MemberFilter(); }, 2000));
    ASSERT_TRUE(ClickRecord(form));
    ASSERT_TRUE(PanelState(form).Recording) << FirstBox();
    QTest::qWait(1000);
    ASSERT_TRUE(ClickRecord(form));
    ExpectCompleteRecording(VideoFile(2), 10);
    EXPECT_TRUE(boxes.empty()) << FirstBox();
}

// The child of the crash test below: records until it is killed.
TEST_F(CameraComesAndGoes, CrashChildRecordsUntilKilled) {
    const QString folder = qEnvironmentVariable(kRecordIntoVariable);
    if (folder.isEmpty())
        GTEST_SKIP() << "runs only as the child of the crash test";
    Ini().WriteString("CAPTURE", "VIDEO FOLDER", folder);
    TControlForm form;
    form.btnCapture->Click();
    QTest::qWait(120000);
}

TEST_F(CameraComesAndGoes, ARecordingKilledMidwayIsRepairedInPlaceAtTheNextStart) {
    // The program, recording, killed with SIGKILL after four seconds.
    QProcess child;
    QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
    environment.insert(QString::fromLatin1(kRecordIntoVariable), VideoFolder());
    child.setProcessEnvironment(environment);
    child.start(QCoreApplication::applicationFilePath(),
                {QStringLiteral("--gtest_filter=CameraComesAndGoes.CrashChildRecordsUntilKilled")});
    ASSERT_TRUE(child.waitForStarted(30000));
    const bool recording =
        QTest::qWaitFor([&] { return QFileInfo(VideoFile(1)).size() > 100'000; }, 60000);
    if (recording)
        QTest::qWait(4000);
    ::kill(pid_t(child.processId()), SIGKILL);
    child.waitForFinished(30000);
    ASSERT_TRUE(recording) << child.readAllStandardError().toStdString();
    const TAviProbe killed = ProbeAvi(VideoFile(1), true);
    ASSERT_FALSE(killed.Complete()) << killed.Text().toStdString();
    const TAviStream* video = killed.Stream(QStringLiteral("video"));
    ASSERT_NE(video, nullptr) << killed.Text().toStdString();
    ASSERT_GE(video->frames, 30) << killed.Text().toStdString();

    // The next start repairs it where it lies, and says nothing.
    {
        TControlForm form;
        EXPECT_TRUE(boxes.empty()) << FirstBox();
    }
    ExpectCompleteRecording(VideoFile(1), video->frames * 9 / 10);
}
