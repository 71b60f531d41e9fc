// SPDX-License-Identifier: GPL-3.0-or-later
// A camera that stalls (stops delivering frames without an error), on the
// real GStreamer framework with the built-in test camera made to stall: the
// preview window says so, the picture comes back by itself as the camera is
// restarted, and a recording running then ends complete, as for a lost
// camera.
#include <QTest>
#include <gtest/gtest.h>

#include <cstdlib>

#include "AviProbe.h"
#include "widgets/ActionList.h"
#include "ControlFormTesting.h"
#include "forms/frmControl.h"
#include "forms/frmView.h"
#include "media/testdevices/TestCameraStages.h"
#include "widgets/ImageButton.h"

using namespace media;

namespace {

const auto* const kEnvironment = ::testing::AddGlobalTestEnvironment(new GstTestDevices("1"));

bool SaysStalled(TControlForm& form) {
    return form.ViewForm()->VideoNotice().contains(QStringLiteral("ne donne plus d'image"));
}

class CameraStalls : public ControlFormTestBase {
  protected:
    void SetUp() override {
        ControlFormTestBase::SetUp();
        UseOwnSaveFolders();
        // Frames for two seconds after the camera's first start, then none.
        setenv("POMVIRA_TEST_CAMERA_STALL", "2", 1);
        gst::ResetTestCameraStall();
    }
    void TearDown() override {
        unsetenv("POMVIRA_TEST_CAMERA_STALL");
        ControlFormTestBase::TearDown();
    }
};

}  // namespace

TEST_F(CameraStalls, ThePreviewSaysSoAndThePictureComesBackByItself) {
    TControlForm form;
    ASSERT_TRUE(boxes.empty()) << FirstBox();
    ExpectPreviewRuns(form, 640, 480);
    EXPECT_FALSE(SaysStalled(form));
    // Three seconds without a frame.
    ASSERT_TRUE(QTest::qWaitFor([&] { return SaysStalled(form); }, 9000));
    EXPECT_FALSE(form.btnCapture->isEnabled());
    EXPECT_FALSE(form.CameraLost());
    // Restarted, it delivers again: the notice goes.
    ASSERT_TRUE(QTest::qWaitFor([&] { return form.ViewForm()->VideoNotice().isEmpty(); }, 6000));
    EXPECT_TRUE(form.btnCapture->isEnabled());
    ExpectPreviewRuns(form, 640, 480);
    EXPECT_TRUE(boxes.empty()) << FirstBox();
}

TEST_F(CameraStalls, ARecordingEndsCompleteInTheStripAndThePreviewComesBack) {
    TControlForm form;
    ExpectPreviewRuns(form, 640, 480);
    ASSERT_TRUE(ClickRecord(form));
    ASSERT_TRUE(PanelState(form).Recording) << FirstBox();
    ASSERT_TRUE(QTest::qWaitFor([&] { return !PanelState(form).Recording; }, 9000));
    ASSERT_TRUE(SettleSession(form));
    EXPECT_EQ(form.btnCapture->Hint(), "Enregistrement");
    ASSERT_FALSE(form.StripFiles().isEmpty());
    EXPECT_EQ(form.StripFiles().last(), VideoFile(1));
    const TAviProbe probe = ProbeAvi(VideoFile(1), true);
    EXPECT_TRUE(probe.Complete()) << probe.Text().toStdString();
    // The preview built again after the recording delivers: no notice.
    ASSERT_TRUE(QTest::qWaitFor([&] { return form.ViewForm()->VideoNotice().isEmpty(); }, 6000))
        << form.ViewForm()->VideoNotice().toStdString();
    ExpectPreviewRuns(form, 640, 480);
    EXPECT_TRUE(boxes.empty()) << FirstBox();
}
