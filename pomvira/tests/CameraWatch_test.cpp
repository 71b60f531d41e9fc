// SPDX-License-Identifier: GPL-3.0-or-later
// The camera watch alone, against a recording stand-in for the panel and the
// fake media framework's device list: which camera it takes up, in which
// format, and what it keeps when a camera cannot be opened.
#include <QTest>
#include <algorithm>
#include <gtest/gtest.h>
#include <stdexcept>

#include "capture/CameraWatch.h"
#include "media/MediaUtil.h"
#include "media/fake/FakeMedia.h"

using namespace media;
using namespace media::fake;

namespace {

// Records what the watch asks; opening can be made to fail.
class TPanelStandIn : public TCameraHost {
  public:
    struct TOpen {
        int index;
        std::optional<QString> format;  // its description; none: no format given
        bool sameCamera;
    };
    void EndRecording() override {
        calls.push_back("end recording");
        if (duringEnd)
            duringEnd();
    }
    void ReleaseCamera() override { calls.push_back("release"); }
    bool OpenCamera(int index, const TMediaType* format, bool sameCamera) override {
        calls.push_back("open");
        opens.push_back({index,
                         format ? std::optional<QString>(format->Description()) : std::nullopt,
                         sameCamera});
        if (failures > 0) {
            --failures;
            throw std::runtime_error("Device is busy.");
        }
        return true;
    }
    void ShowStalled(bool stalled) override { calls.push_back(stalled ? "stalled" : "flowing"); }
    void ReportUnusableCamera() override { calls.push_back("report"); }
    int Count(const std::string& call) const {
        return int(std::count(calls.begin(), calls.end(), call));
    }
    std::vector<std::string> calls;
    std::vector<TOpen> opens;
    int failures = 0;
    std::function<void()> duringEnd;
};

class CameraWatchTest : public ::testing::Test {
  protected:
    FakeDevice& AddCamera(const std::string& name) {
        return sys.AddVideoDevice(name, {VideoFormat(MEDIASUBTYPE_YUY2, 640, 480, 16)});
    }
    static TBaseFilter Camera(int index) {
        TSysDevEnum devices(CLSID_VideoInputDeviceCategory);
        TBaseFilter camera;
        camera.StoreMoniker(devices.DeviceMoniker(index).Get());
        return camera;
    }
    // Takes every camera out of the list and puts back those named, with
    // their identities.
    void ListCameras(const std::vector<std::pair<std::string, std::string>>& cameras) {
        sys.RemoveDevices(CLSID_VideoInputDeviceCategory);
        for (const auto& [name, id] : cameras)
            AddCamera(name).id = id;
    }

    FakeMediaSystem sys;
    TPanelStandIn panel;
    TCameraWatch watch{panel};
    const TMediaType format320 = VideoFormat(MEDIASUBTYPE_YUY2, 320, 240, 16);
};

}  // namespace

TEST_F(CameraWatchTest, ALostCameraEndsTheRecordingIsReleasedAndComesBackInItsFormat) {
    const std::string id = AddCamera("Cam").id;
    watch.CameraGone(Camera(0), format320);
    EXPECT_TRUE(watch.Lost());
    EXPECT_EQ(panel.calls, (std::vector<std::string>{"end recording", "release"}));
    // A second notice of the same loss changes nothing.
    watch.CameraGone(Camera(0), std::nullopt);
    EXPECT_EQ(panel.calls.size(), 2u);
    ASSERT_TRUE(watch.LostFormat());

    ListCameras({});
    EXPECT_FALSE(watch.TakeUpCamera());
    EXPECT_TRUE(watch.Lost());
    ListCameras({{"Other", "other"}, {"Cam", id}});
    // The same camera wins over one new to the list, wherever it is listed.
    EXPECT_TRUE(watch.TakeUpCamera());
    EXPECT_FALSE(watch.Lost());
    ASSERT_EQ(panel.opens.size(), 1u);
    EXPECT_EQ(panel.opens[0].index, 1);
    EXPECT_TRUE(panel.opens[0].sameCamera);
    EXPECT_EQ(panel.opens[0].format, format320.Description());
    EXPECT_FALSE(watch.LostFormat());
}

TEST_F(CameraWatchTest, OnlyACameraNewToTheListIsTakenUpInsteadAndInTheStoredFormat) {
    const std::string id = AddCamera("Cam").id;
    AddCamera("Spare").id = "spare";
    watch.CameraGone(Camera(0), format320);
    // The spare camera was there at the loss: not taken.
    ListCameras({{"Spare", "spare"}});
    EXPECT_FALSE(watch.TakeUpCamera());
    ListCameras({{"Spare", "spare"}, {"New", "new"}});
    EXPECT_TRUE(watch.TakeUpCamera());
    ASSERT_EQ(panel.opens.size(), 1u);
    EXPECT_EQ(panel.opens[0].index, 1);
    EXPECT_FALSE(panel.opens[0].sameCamera);
    EXPECT_FALSE(panel.opens[0].format);
}

TEST_F(CameraWatchTest, ACameraBackButBusyStaysLostAndKeepsItsFormatForTheNextTry) {
    const std::string id = AddCamera("Cam").id;
    watch.CameraGone(Camera(0), format320);
    panel.failures = 1;
    // A single failure is not reported: the camera is tried again.
    EXPECT_NO_THROW(watch.DevicesChanged());
    EXPECT_TRUE(watch.Lost());
    EXPECT_EQ(panel.calls.back(), "release");
    EXPECT_EQ(panel.Count("report"), 0);
    ASSERT_TRUE(watch.LostFormat());

    watch.DevicesChanged();
    EXPECT_FALSE(watch.Lost());
    ASSERT_EQ(panel.opens.size(), 2u);
    EXPECT_EQ(panel.opens[1].format, format320.Description());
    EXPECT_TRUE(panel.opens[1].sameCamera);
}

TEST_F(CameraWatchTest, NoticesDuringTheLossWaitAndAListedCameraIsRetriedLater) {
    AddCamera("Cam");
    // The recording's end runs the events (the mail program): a device
    // notice meanwhile takes nothing up.
    panel.duringEnd = [this] {
        EXPECT_TRUE(watch.Losing());
        watch.DevicesChanged();
    };
    watch.CameraGone(Camera(0), std::nullopt);
    EXPECT_TRUE(panel.opens.empty());
    EXPECT_FALSE(watch.Losing());
    // Still listed (its stream failed): tried again a little later, alone.
    ASSERT_TRUE(QTest::qWaitFor([&] { return !watch.Lost(); }, 5000));
    ASSERT_EQ(panel.opens.size(), 1u);
    EXPECT_FALSE(panel.opens[0].format);
    EXPECT_TRUE(panel.opens[0].sameCamera);
}

TEST_F(CameraWatchTest, AStoppedWatchRetriesNothing) {
    AddCamera("Cam");
    watch.CameraGone(Camera(0), format320);
    watch.Stop();
    QTest::qWait(TCameraWatch::kRetryListedCameraMs + 500);
    EXPECT_TRUE(panel.opens.empty());
    watch.DevicesChanged();
    EXPECT_TRUE(panel.opens.empty());
    EXPECT_FALSE(watch.LostFormat());
}

TEST_F(CameraWatchTest, ACameraThatKeepsFailingIsRetriedQuietlyWhileListedAndReportedOnce) {
    AddCamera("Cam");
    watch.CameraGone(Camera(0), format320);
    panel.failures = 4;
    watch.DevicesChanged();
    // Tried again every two seconds by itself; the third failure in a row is
    // reported, the fourth is not; the fifth try opens it in its format.
    ASSERT_TRUE(QTest::qWaitFor([&] { return !watch.Lost(); }, 5 * TCameraWatch::kRetryListedCameraMs +
                                                                  2000));
    EXPECT_EQ(panel.opens.size(), 5u);
    EXPECT_EQ(panel.Count("report"), 1);
    EXPECT_EQ(panel.opens.back().format, format320.Description());

    // Lost again: a new run of failures may be reported again.
    watch.CameraGone(Camera(0), format320);
    panel.failures = 3;
    watch.DevicesChanged();
    ASSERT_TRUE(QTest::qWaitFor([&] { return panel.Count("report") == 2; },
                                3 * TCameraWatch::kRetryListedCameraMs + 2000));
    watch.Stop();
}

TEST_F(CameraWatchTest, AFailingCameraThatLeavesTheListIsNotRetried) {
    AddCamera("Cam");
    watch.CameraGone(Camera(0), format320);
    panel.failures = 1;
    watch.DevicesChanged();
    sys.RemoveDevices(CLSID_VideoInputDeviceCategory);
    QTest::qWait(TCameraWatch::kRetryListedCameraMs + 500);
    EXPECT_EQ(panel.opens.size(), 1u);
    EXPECT_TRUE(watch.Lost());
}

TEST_F(CameraWatchTest, AStallIsShownEndsTheRecordingAndGoesWhenFramesAreBack) {
    AddCamera("Cam");
    watch.CameraStalled(true);
    EXPECT_TRUE(watch.Stalled());
    EXPECT_EQ(panel.calls, (std::vector<std::string>{"stalled", "end recording"}));
    // Told again (the preview rebuilt after the recording stalls too).
    watch.CameraStalled(true);
    EXPECT_EQ(panel.calls.size(), 2u);
    watch.CameraStalled(false);
    EXPECT_FALSE(watch.Stalled());
    EXPECT_EQ(panel.calls.back(), "flowing");
    // The first frames of every run are announced: nothing to take down.
    watch.CameraStalled(false);
    EXPECT_EQ(panel.calls.size(), 3u);

    // A lost camera's notice is not replaced by a stall's; the loss ends it.
    watch.CameraStalled(true);
    watch.CameraGone(Camera(0), std::nullopt);
    EXPECT_FALSE(watch.Stalled());
    panel.calls.clear();
    watch.CameraStalled(true);
    EXPECT_TRUE(panel.calls.empty());
    watch.Stop();
}
