// SPDX-License-Identifier: GPL-3.0-or-later
// The control panel and devices that come and go, against the recording fake
// of the media framework: which graph calls a lost camera and its return
// make, and which notices the panel ignores.
#include <QTest>
#include <QTimer>
#include <gtest/gtest.h>

#include "widgets/ActionList.h"
#include "ControlFormTesting.h"
#include "capture/CameraWatch.h"
#include "widgets/ImageButton.h"
#include "MailerStandIn.h"
#include "forms/frmControl.h"
#include "forms/frmView.h"
#include "media/FilterGraph.h"
#include "media/fake/FakeMedia.h"

using namespace media;
using namespace media::fake;

namespace {

class DeviceLossTest : public ControlFormTestBase {
  protected:
    FakeDevice& AddCamera(const std::string& name) {
        return sys.AddVideoDevice(name, {VideoFormat(MEDIASUBTYPE_YUY2, 640, 480, 16),
                                         VideoFormat(MEDIASUBTYPE_YUY2, 320, 240, 16)});
    }
    // The camera unplugged: gone from the list, its stream ended with an
    // error (the graph's notice for its filter).
    void Unplug(TControlForm& form, FakeDevice& camera) {
        camera.present = false;
        const std::string id = camera.id;
        sys.RemoveDevices(CLSID_VideoInputDeviceCategory);
        unplugged = id;
        sys.Graph()->PostEvent(
            EC_DEVICE_LOST, reinterpret_cast<intptr_t>(Probe(form).VideoSource()->MemberFilter()), 0);
    }
    FakeDevice& PlugBack(const std::string& name) {
        FakeDevice& camera = AddCamera(name);
        camera.id = unplugged;
        sys.AnnounceDeviceChange(DBT_DEVICEARRIVAL);
        return camera;
    }

    FakeMediaSystem sys;
    std::string unplugged;
};

}  // namespace

TEST_F(DeviceLossTest, ALostCameraReleasesTheGraphAndComesBackInItsFormat) {
    Ini().WriteString("CAPTURE", "VIDEO FORMAT", QString::fromLatin1(k320));
    FakeDevice& camera = AddCamera("Cam");
    TControlForm form;
    ASSERT_TRUE(SettleSession(form));
    ASSERT_TRUE(boxes.empty()) << FirstBox();
    EXPECT_EQ(sys.Log().Count("System.RegisterDeviceNotification(537)"), 1);

    Unplug(form, camera);
    ASSERT_TRUE(QTest::qWaitFor([&] { return form.CameraLost(); }, 2000));
    ASSERT_TRUE(SettleSession(form));
    EXPECT_FALSE(Probe(form).Graph()->Active());
    EXPECT_EQ(sys.Graph(), nullptr);
    EXPECT_EQ(PanelState(form).VideoDevice, -1);
    EXPECT_FALSE(form.ViewForm()->VideoNotice().isEmpty());

    // Another notice while no camera is there changes nothing.
    sys.Log().Clear();
    sys.AnnounceDeviceChange(DBT_DEVICEREMOVECOMPLETE);
    QTest::qWait(50);
    EXPECT_TRUE(form.CameraLost());
    EXPECT_TRUE(sys.Log().Matching("Graph.").empty()) << sys.Log().Text();

    PlugBack("Cam");
    ASSERT_TRUE(QTest::qWaitFor([&] { return !form.CameraLost(); }, 2000));
    EXPECT_TRUE(
        sys.Log().InOrder({"Graph.AddFilter(VideoSourceFilter)",
                           std::string("Pin[Cam/Capture].SetFormat(") + k320 + ")", "Graph.Run"}))
        << sys.Log().Text();
    EXPECT_EQ(PanelState(form).VideoDevice, 0);
    EXPECT_TRUE(form.ViewForm()->VideoNotice().isEmpty());
    EXPECT_TRUE(boxes.empty()) << FirstBox();
}

TEST_F(DeviceLossTest, NoticesForOtherFiltersOrADeviceBackAreIgnored) {
    AddCamera("Cam");
    sys.AddAudioDevice("Mic", {AudioFormat(44100, 16, 2)});
    TControlForm form;
    ASSERT_TRUE(SettleSession(form));
    sys.Log().Clear();
    // Not recording: a lost microphone leaves the preview alone.
    sys.Graph()->PostEvent(EC_DEVICE_LOST,
                           reinterpret_cast<intptr_t>(Probe(form).AudioSource()->MemberFilter()), 0);
    // "Available again", and a filter that is none of the panel's.
    sys.Graph()->PostEvent(EC_DEVICE_LOST,
                           reinterpret_cast<intptr_t>(Probe(form).VideoSource()->MemberFilter()), 1);
    sys.Graph()->PostEvent(EC_DEVICE_LOST, 1234, 0);
    QTest::qWait(50);
    EXPECT_FALSE(form.CameraLost());
    EXPECT_TRUE(Probe(form).Graph()->Active());
    EXPECT_TRUE(sys.Log().Matching("Graph.Stop").empty()) << sys.Log().Text();
}

TEST_F(DeviceLossTest, ARecordingStartThatFailsOnTheCameraWhileItCameAndWentSaysNothing) {
    AddCamera("Cam");
    TControlForm form;
    ASSERT_TRUE(SettleSession(form));
    // The recording graph's run fails while the device list changes under
    // it (the camera went and is back). A failure on the camera is
    // explained by that and the preview simply runs again; a failure of
    // another kind is still told.
    const struct {
        HRESULT failure;
        bool told;
    } cases[] = {{VFW_E_NOT_FOUND, false}, {E_FAIL, true}};
    for (const auto& c : cases) {
        boxes.clear();
        sys.SetResult("Graph.Run", c.failure, 1);
        sys.Hold("Graph.Run");
        form.btnCapture->Click();
        ASSERT_TRUE(QTest::qWaitFor([&] { return sys.Held() == 1; }, 2000));
        sys.AnnounceDeviceChange(DBT_DEVICEREMOVECOMPLETE);
        sys.AnnounceDeviceChange(DBT_DEVICEARRIVAL);
        QTest::qWait(20);
        sys.Release("Graph.Run");
        ASSERT_TRUE(SettleSession(form));
        EXPECT_EQ(boxes.size(), c.told ? 1u : 0u) << c.failure << ": " << FirstBox();
        EXPECT_FALSE(PanelState(form).Recording);
        EXPECT_FALSE(form.CameraLost());
        EXPECT_EQ(sys.Graph()->State(), State_Running);
        EXPECT_FALSE(QFile::exists(VideoFile(1)));
    }
}

TEST_F(DeviceLossTest, ShutDownStopsTheDeviceNotices) {
    AddCamera("Cam");
    {
        TControlForm form;
        ASSERT_TRUE(SettleSession(form));
        EXPECT_EQ(sys.DeviceNotificationCount(), 1u);
    }
    EXPECT_EQ(sys.DeviceNotificationCount(), 0u);
}

TEST_F(DeviceLossTest, ACameraBackThatCannotBeOpenedStaysLostIsRetriedAndReportedOnceInWords) {
    Ini().WriteString("CAPTURE", "VIDEO FORMAT", QString::fromLatin1(k320));
    FakeDevice& camera = AddCamera("Cam");
    TControlForm form;
    ASSERT_TRUE(SettleSession(form));
    Unplug(form, camera);
    ASSERT_TRUE(QTest::qWaitFor([&] { return form.CameraLost(); }, 2000));
    ASSERT_TRUE(SettleSession(form));

    // Listed again, but it cannot be opened (another program holds it).
    FakeDevice& back = AddCamera("Cam");
    back.id = unplugged;
    back.present = false;
    sys.AnnounceDeviceChange(DBT_DEVICEARRIVAL);
    QTest::qWait(300);
    // One failure says nothing: tried again while it is listed.
    EXPECT_TRUE(boxes.empty()) << FirstBox();
    EXPECT_TRUE(form.CameraLost());
    EXPECT_FALSE(Probe(form).Graph()->Active());
    EXPECT_FALSE(form.ViewForm()->VideoNotice().isEmpty());
    EXPECT_FALSE(form.btnCapture->isEnabled());
    // Failing on (tried again after 2, then 4 seconds), it is said once, in
    // words (no error code).
    ASSERT_TRUE(QTest::qWaitFor([&] { return !boxes.empty(); },
                                TCameraWatch::RetryDelay(0) + TCameraWatch::RetryDelay(1) + 1500));
    EXPECT_TRUE(boxes[0].contains(QStringLiteral("ne peut pas être ouverte"))) << FirstBox();
    EXPECT_FALSE(boxes[0].contains(QStringLiteral("$"))) << FirstBox();

    // Free again: the next try (8 seconds later) opens it in the format it
    // had, and nothing more is said.
    sys.Log().Clear();
    back.present = true;
    ASSERT_TRUE(
        QTest::qWaitFor([&] { return !form.CameraLost(); }, TCameraWatch::RetryDelay(2) + 1500));
    EXPECT_TRUE(
        sys.Log().InOrder({std::string("Pin[Cam/Capture].SetFormat(") + k320 + ")", "Graph.Run"}))
        << sys.Log().Text();
    EXPECT_TRUE(form.ViewForm()->VideoNotice().isEmpty());
    EXPECT_EQ(boxes.size(), 1u);
}

TEST_F(DeviceLossTest, ACameraBackWhileItsCutRecordingIsWithTheMailProgramIsTakenUpAfter) {
    UseOwnSaveFolders();
    FakeDevice& camera = AddCamera("Cam");
    TMailerStandIn mailer(0, 1000);
    TControlForm form;
    ASSERT_TRUE(SettleSession(form));
    form.actCapAndMail->Execute();
    ASSERT_TRUE(SettleSession(form));
    ASSERT_TRUE(PanelState(form).Recording) << FirstBox();

    // Plugged back while the mail program still has the cut recording.
    QTimer::singleShot(300, [&] { PlugBack("Cam"); });
    Unplug(form, camera);
    ASSERT_TRUE(QTest::qWaitFor([&] { return mailer.Mails().size() == 1; }, 5000));
    ASSERT_TRUE(
        QTest::qWaitFor([&] { return !form.CameraLost() && Probe(form).Graph()->Active(); }, 5000));
    EXPECT_TRUE(form.ViewForm()->VideoNotice().isEmpty());
    EXPECT_TRUE(form.btnCapture->isEnabled());
    EXPECT_EQ(form.StripFiles(), QStringList{VideoFile(1)});
    EXPECT_TRUE(boxes.empty()) << FirstBox();
}
