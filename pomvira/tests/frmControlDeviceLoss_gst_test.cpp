// A camera that comes and goes, on the real GStreamer framework with the
// built-in test devices, unplugged and plugged back as a user would: the
// preview window says the camera is gone, the program then idles, and the
// preview comes back by itself in the format it had when the camera does;
// another camera plugged in meanwhile is taken up instead.
#include <QTest>
#include <gtest/gtest.h>
#include <sys/resource.h>

#include "ActionList.h"
#include "ControlFormTesting.h"
#include "ImageButton.h"
#include "JpegReadBack.h"
#include "frmControl.h"
#include "frmView.h"

using namespace media;

namespace {

const auto* const kEnvironment = ::testing::AddGlobalTestEnvironment(new GstTestDevices("2"));

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

// A still picture taken now: the size of the frame the camera delivers.
QSize StillSize(TControlForm& form) {
    RunHandler([&] { form.actSnapShot->Execute(); });
    if (form.StripFiles().isEmpty())
        return {};
    const TJpegReadBack back = ReadJpegFileBack(form.StripFiles().last());
    return back.ok ? QSize(back.width, back.height) : QSize();
}

class CameraComesAndGoes : public ControlFormTestBase {
  protected:
    void SetUp() override {
        ControlFormTestBase::SetUp();
        UseOwnSaveFolders();
    }
    TPlugBack plugBack;
};

}  // namespace

TEST_F(CameraComesAndGoes, UnpluggedThePreviewSaysSoIdlesAndResumesInItsFormatWhenPluggedBack) {
    Ini().WriteString("CAPTURE", "VIDEO FORMAT", QString::fromLatin1(k320));
    TControlForm form;
    ASSERT_TRUE(boxes.empty()) << FirstBox();
    ASSERT_EQ(StillSize(form), QSize(320, 240));
    EXPECT_TRUE(form.ViewForm()->VideoNotice().isEmpty());

    ASSERT_TRUE(gst::PlugTestDevice("Test Camera 1", false));
    ASSERT_TRUE(QTest::qWaitFor([&] { return form.CameraLost(); }, 5000));
    EXPECT_TRUE(form.ViewForm()->VideoNotice().contains(QStringLiteral("débranchée")))
        << form.ViewForm()->VideoNotice().toStdString();
    EXPECT_TRUE(form.ViewForm()->lblNotice->geometry().contains(
        form.ViewForm()->GetVideoRect()));
    EXPECT_EQ(form.State().VideoDevice, -1);
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
    EXPECT_EQ(form.State().VideoDevice, 0);
    EXPECT_EQ(PinFormatText(form.VideoSourceFilter), QString::fromLatin1(k320));
    EXPECT_EQ(StillSize(form), QSize(320, 240));
    EXPECT_TRUE(form.btnCapture->isEnabled());
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
    EXPECT_EQ(StillSize(form), QSize(640, 480));

    // The first camera back while the other one is in use: nothing changes.
    ASSERT_TRUE(gst::PlugTestDevice("Test Camera 1", true));
    QTest::qWait(300);
    EXPECT_FALSE(form.CameraLost());
    const int inUse = form.State().VideoDevice;
    TSysDevEnum devices(CLSID_VideoInputDeviceCategory);
    ASSERT_GT(devices.DeviceCount(), inUse);
    EXPECT_EQ(devices.DeviceEntry(inUse).FriendlyName, "Test Camera 2");
    EXPECT_TRUE(boxes.empty()) << FirstBox();
}

TEST_F(CameraComesAndGoes, ACameraGoneBeforeItsPreviewRunsIsShownAsLostToo) {
    TControlForm form;
    // Gone from the device list without a word from its stream.
    form.CaptureGraph->EmptyGraph();
    ASSERT_TRUE(gst::PlugTestDevice("Test Camera 1", false));
    ASSERT_TRUE(QTest::qWaitFor([&] { return form.CameraLost(); }, 5000));
    ASSERT_TRUE(gst::PlugTestDevice("Test Camera 1", true));
    EXPECT_TRUE(QTest::qWaitFor([&] { return !form.CameraLost(); }, 2000));
    EXPECT_EQ(StillSize(form), QSize(640, 480));
    EXPECT_TRUE(boxes.empty()) << FirstBox();
}
