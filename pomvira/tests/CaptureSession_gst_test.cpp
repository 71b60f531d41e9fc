// SPDX-License-Identifier: GPL-3.0-or-later
// The capture session alone on the real GStreamer framework with the
// built-in test camera (no panel; its renderer is a hidden widget): a camera
// that stalls and then takes ten seconds to deliver after each restart is
// restarted less and less often, and its picture comes back.
#include <QElapsedTimer>
#include <QTest>
#include <gtest/gtest.h>

#include <cstdlib>

#include "capture/CaptureSession.h"
#include "forms/SessionMessages.h"
#include "media/Bitmap.h"
#include "media/SampleGrabber.h"
#include "media/VideoWindow.h"
#include "media/testdevices/TestCameraStages.h"
#include "media/tests/GstTestDevices.h"
#include "SessionProbe.h"

using namespace media;

namespace {

const auto* const kEnvironment = ::testing::AddGlobalTestEnvironment(new GstTestDevices("1"));

const char* const k320 =
    "Major Type: Video - Sub Type: YUY2 Format: VideoInfo YUY2 320X240, 16 bits";

class SessionOnGst : public ::testing::Test {
  protected:
    SessionOnGst() {
        session.SetVideoWindow(video);
        QObject::connect(&session, &TCaptureSession::StateChanged, [this] {
            const bool stalled = session.CameraStalled();
            if (stalled != (!stalls.empty() && stalls.back()))
                stalls.push_back(stalled);
        });
        QObject::connect(&session, &TCaptureSession::OperationEnded, [this](const TOutcome& o) {
            if (o.Kind == TOutcome::TKind::PreviewFailed)
                failures.push_back(OutcomeMessage(o));
            closed = closed || o.Kind == TOutcome::TKind::Closed;
        });
    }
    ~SessionOnGst() override {
        session.Close();
        EXPECT_TRUE(QTest::qWaitFor([this] { return closed; }, 20000));
        unsetenv("POMVIRA_TEST_CAMERA_STALL");
        unsetenv("POMVIRA_TEST_CAMERA_RESTART_DELAY");
    }
    void Open() {
        ASSERT_TRUE(session.ListDevices());
        Probe(session).Devices().SetDevices(session.SelectVideoDevice(0, QString::fromLatin1(k320)),
                                            -1);
        session.SetPreview(true);
    }

    TCaptureSession session;
    QWidget host;
    TVideoWindow* video = new TVideoWindow(&host);
    std::vector<bool> stalls;
    std::vector<QString> failures;
    bool closed = false;
};

}  // namespace

TEST_F(SessionOnGst, ACameraSlowToDeliverAfterEachRestartIsRestartedWithBackOffAndRecovers) {
    // Frames for two seconds, then none; every stream started after that
    // delivers its first frame ten seconds after it started.
    setenv("POMVIRA_TEST_CAMERA_STALL", "2", 1);
    setenv("POMVIRA_TEST_CAMERA_RESTART_DELAY", "10", 1);
    gst::ResetTestCameraStall();
    ASSERT_NO_FATAL_FAILURE(Open());
    TBitmap first, later;
    ASSERT_TRUE(QTest::qWaitFor(
        [&] { return Probe(session).Grabber()->CopyFrameToBitmap(&first) && first.Width() == 320; },
        10000));

    // Three seconds without a frame: shown as stalled.
    ASSERT_TRUE(QTest::qWaitFor([&] { return !stalls.empty(); }, 10000));
    EXPECT_TRUE(stalls[0]);
    QElapsedTimer sinceStall;
    sinceStall.start();
    EXPECT_EQ(gst::TestCameraStallStarts(), 1);

    // Restarts 2, 4, 8 and 16 s apart: the third one's stream is left
    // alone for its ten seconds and delivers (restarting every 2 s, none
    // would ever live long enough).
    ASSERT_TRUE(QTest::qWaitFor([&] { return stalls.size() >= 2; }, 45000))
        << "not back after " << sinceStall.elapsed() << " ms and "
        << gst::TestCameraStallStarts() - 1 << " restarts";
    EXPECT_FALSE(stalls[1]);
    EXPECT_GE(sinceStall.elapsed(), 10000);
    const int starts = gst::TestCameraStallStarts();
    EXPECT_GE(starts, 2);
    EXPECT_LE(starts, 5) << "restarted too often";
    EXPECT_FALSE(session.CameraStalled());

    // Frames flow, and no more restarts come.
    ASSERT_TRUE(
        QTest::qWaitFor([&] { return Probe(session).Grabber()->CopyFrameToBitmap(&first); }, 5000));
    QTest::qWait(4000);
    ASSERT_TRUE(Probe(session).Grabber()->CopyFrameToBitmap(&later));
    EXPECT_NE(std::vector<uint8_t>(first.Bits(), first.Bits() + first.BitsSize()),
              std::vector<uint8_t>(later.Bits(), later.Bits() + later.BitsSize()))
        << "the picture does not move";
    EXPECT_EQ(gst::TestCameraStallStarts(), starts);
    EXPECT_EQ(stalls.size(), 2u);
    EXPECT_TRUE(failures.empty()) << failures[0].toStdString();
}
