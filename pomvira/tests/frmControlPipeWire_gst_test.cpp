// SPDX-License-Identifier: GPL-3.0-or-later
// A camera reached through PipeWire, as on current desktops and always in
// sandboxes: a private PipeWire daemon and session manager (their own
// runtime folder, nothing of the user's), PipeWire's own test source as the
// camera node. The program lists it, previews it, takes a still of it,
// records it, shows it gone when the node is destroyed and takes it up again
// when the node is made anew.
#include <QFileInfo>
#include <QTest>
#include <gst/gst.h>
#include <gtest/gtest.h>

#include "widgets/ActionList.h"
#include "AviProbe.h"
#include "ControlFormTesting.h"
#include "widgets/ImageButton.h"
#include "JpegReadBack.h"
#include "PipeWireSession.h"
#include "forms/frmView.h"
#include "media/gst/GstMediaSystem.h"

using namespace media;

namespace {

// Starts the session before anything lists devices; tests skip where
// PipeWire, WirePlumber or GStreamer's PipeWire source is not installed.
class PipeWireEnvironment : public ::testing::Environment {
  public:
    void SetUp() override {
        gst_init(nullptr, nullptr);
        GstElementFactory* source = gst_element_factory_find("pipewiresrc");
        if (!source) {
            why = QStringLiteral("GStreamer's PipeWire source is not installed");
            return;
        }
        gst_object_unref(source);
        session = std::make_unique<TPipeWireSession>();
        if (!session->Start(&why) || !session->CreateCamera()) {
            if (why.isEmpty())
                why = QStringLiteral("no PipeWire test source node");
            session.reset();
            return;
        }
        session->Enter();
        media::SetMediaSystem(media::gst::GstMediaSystem());
    }
    void TearDown() override {
        media::SetMediaSystem(nullptr);
        session.reset();
    }

    std::unique_ptr<TPipeWireSession> session;
    QString why;
};

auto* const kPipeWire =
    static_cast<PipeWireEnvironment*>(::testing::AddGlobalTestEnvironment(new PipeWireEnvironment));

class PipeWireCamera : public ControlFormTestBase {
  protected:
    void SetUp() override {
        if (!kPipeWire->session)
            GTEST_SKIP() << kPipeWire->why.toStdString();
        ControlFormTestBase::SetUp();
        UseOwnSaveFolders();
    }
};

}  // namespace

TEST_F(PipeWireCamera, IsListedPreviewedPhotographedAndRecorded) {
    TSysDevEnum devices(CLSID_VideoInputDeviceCategory);
    ASSERT_EQ(devices.DeviceCount(), 1);
    EXPECT_EQ(devices.DeviceEntry(0).FriendlyName, TPipeWireSession::kCameraName);

    TControlForm form;
    ASSERT_TRUE(boxes.empty()) << FirstBox();
    EXPECT_EQ(form.State().VideoDevice, 0);
    const TBitmap frame = WaitForFrame(form);
    ASSERT_GT(frame.Width(), 0);
    ASSERT_GT(frame.Height(), 0);

    RunHandler([&] { form.actSnapShot->Execute(); });
    ASSERT_FALSE(form.StripFiles().isEmpty());
    const TJpegReadBack still = ReadJpegFileBack(form.StripFiles().last());
    ASSERT_TRUE(still.ok) << still.error.toStdString();
    EXPECT_EQ(still.width, frame.Width());
    EXPECT_EQ(still.height, frame.Height());

    form.btnCapture->Click();
    ASSERT_TRUE(form.State().Recording) << FirstBox();
    QTest::qWait(2500);
    form.btnCapture->Click();
    ASSERT_FALSE(form.State().Recording);
    ASSERT_EQ(form.StripFiles().last(), VideoFile(1));
    const TAviProbe recording = ProbeAvi(VideoFile(1), true);
    EXPECT_TRUE(recording.Complete()) << recording.Text().toStdString();
    const TAviStream* video = recording.Stream(QStringLiteral("video"));
    ASSERT_NE(video, nullptr) << recording.Text().toStdString();
    EXPECT_GE(video->frames, 20) << recording.Text().toStdString();
    EXPECT_TRUE(boxes.empty()) << FirstBox();
}

TEST_F(PipeWireCamera, ANodeDestroyedShowsTheCameraGoneAndANewOneIsTakenUp) {
    TControlForm form;
    ASSERT_TRUE(boxes.empty()) << FirstBox();
    ASSERT_GT(WaitForFrame(form).Width(), 0);

    ASSERT_TRUE(kPipeWire->session->DestroyCamera());
    ASSERT_TRUE(QTest::qWaitFor([&] { return form.CameraLost(); }, 8000));
    EXPECT_TRUE(form.ViewForm()->VideoNotice().contains(QStringLiteral("débranchée")))
        << form.ViewForm()->VideoNotice().toStdString();
    EXPECT_EQ(TSysDevEnum(CLSID_VideoInputDeviceCategory).DeviceCount(), 0);

    ASSERT_TRUE(kPipeWire->session->CreateCamera());
    ASSERT_TRUE(QTest::qWaitFor([&] { return !form.CameraLost(); }, 8000));
    EXPECT_TRUE(form.ViewForm()->VideoNotice().isEmpty());
    EXPECT_GT(WaitForFrame(form).Width(), 0);
    EXPECT_TRUE(boxes.empty()) << FirstBox();
}
