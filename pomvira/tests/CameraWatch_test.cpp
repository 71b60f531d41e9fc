// SPDX-License-Identifier: GPL-3.0-or-later
// The camera watch alone, against a recording stand-in for its owner and the
// fake media framework's device list: which camera it takes up, how it
// retries a camera that cannot be opened or delivers nothing, and when it
// reports one.
#include <QTest>
#include <algorithm>
#include <functional>
#include <map>
#include <gtest/gtest.h>

#include "capture/CameraWatch.h"
#include "media/MediaUtil.h"
#include "media/fake/FakeMedia.h"

using namespace media;
using namespace media::fake;

namespace {

// Records what the watch asks, and the stalls it shows.
class TOwnerStandIn : public TCameraHost {
  public:
    void EndRecording() override { calls.push_back("end recording"); }
    void ReleaseCamera() override { calls.push_back("release"); }
    void OpenLostCamera(int index, bool sameCamera) override {
        calls.push_back("open");
        opens.push_back({index, sameCamera});
    }
    void RestartCamera() override { calls.push_back("restart"); }
    void RenewDeviceServices() override { calls.push_back("renew"); }
    void PresenceChanged() override {
        const bool stalled = watch->Stalled();
        if (stalled != shownStalled)
            calls.push_back(stalled ? "stalled" : "flowing");
        shownStalled = stalled;
    }
    void ReportUnusableCamera() override { calls.push_back("report"); }
    void WatchFailed(const std::exception_ptr&) override { calls.push_back("failed"); }
    int Count(const std::string& call) const {
        return int(std::count(calls.begin(), calls.end(), call));
    }
    std::vector<std::string> calls;
    std::vector<std::pair<int, bool>> opens;  // index, same camera
    const TCameraWatch* watch = nullptr;
    bool shownStalled = false;
};

class CameraWatchTest : public ::testing::Test {
  protected:
    CameraWatchTest() { owner.watch = &watch; }
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
    // The camera lost and its loss handled by the owner.
    void Lose() {
        watch.CameraGone(Camera(0));
        watch.LossHandled();
    }

    FakeMediaSystem sys;
    TOwnerStandIn owner;
    TCameraWatch watch{owner};
};

}  // namespace

TEST_F(CameraWatchTest, ALostCameraEndsTheRecordingIsReleasedAndTheSameCameraWinsItsReturn) {
    const std::string id = AddCamera("Cam").id;
    watch.CameraGone(Camera(0));
    EXPECT_TRUE(watch.Lost());
    EXPECT_EQ(owner.calls, (std::vector<std::string>{"end recording", "release"}));
    // A second notice of the same loss changes nothing.
    watch.CameraGone(Camera(0));
    EXPECT_EQ(owner.calls.size(), 2u);

    ListCameras({});
    EXPECT_FALSE(watch.TakeUpCamera());
    EXPECT_TRUE(watch.Lost());
    ListCameras({{"Other", "other"}, {"Cam", id}});
    // The same camera wins over one new to the list, wherever it is listed;
    // the watch stays lost until its preview runs.
    EXPECT_TRUE(watch.TakeUpCamera());
    EXPECT_TRUE(watch.Opening());
    EXPECT_TRUE(watch.Lost());
    watch.OpenEnded(true);
    EXPECT_FALSE(watch.Lost());
    EXPECT_EQ(owner.opens, (std::vector<std::pair<int, bool>>{{1, true}}));
    EXPECT_EQ(watch.PendingRetryMs(), -1);
}

TEST_F(CameraWatchTest, OnlyACameraNewToTheListIsTakenUpInstead) {
    AddCamera("Cam");
    AddCamera("Spare").id = "spare";
    Lose();
    // The spare camera was there at the loss: not taken.
    ListCameras({{"Spare", "spare"}});
    EXPECT_FALSE(watch.TakeUpCamera());
    ListCameras({{"Spare", "spare"}, {"New", "new"}});
    EXPECT_TRUE(watch.TakeUpCamera());
    EXPECT_EQ(owner.opens, (std::vector<std::pair<int, bool>>{{1, false}}));
}

TEST_F(CameraWatchTest, NoticesWaitWhileTheLossIsHandledOrAnOpeningRuns) {
    AddCamera("Cam");
    watch.CameraGone(Camera(0));
    // The owner is still finishing the recording the loss ended.
    EXPECT_TRUE(watch.Losing());
    watch.DevicesChanged();
    EXPECT_TRUE(owner.opens.empty());
    watch.LossHandled();
    watch.DevicesChanged();
    ASSERT_EQ(owner.opens.size(), 1u);
    // One opening at a time: notices and retries wait for its end. A notice
    // that came meanwhile (the camera out and back in while it opened) has
    // a failed opening tried again at once, and not counted as the camera's
    // failing.
    for (int failures = 1; failures <= 3; ++failures) {
        watch.DevicesChanged();
        watch.RetryNow();
        EXPECT_EQ(owner.opens.size(), size_t(failures));
        watch.OpenEnded(false);
    }
    EXPECT_EQ(owner.opens.size(), 4u);
    EXPECT_TRUE(watch.Opening());
    EXPECT_EQ(owner.Count("report"), 0);
}

TEST_F(CameraWatchTest, ACameraThatKeepsFailingIsRetriedWithBackOffAndReportedOnce) {
    AddCamera("Cam");
    Lose();
    // Listed: tried 2, 4, 8, 16 seconds apart, then every 30 seconds.
    std::vector<int> waits;
    for (int attempt = 0; attempt < 7; ++attempt) {
        waits.push_back(watch.PendingRetryMs());
        watch.RetryNow();
        ASSERT_TRUE(watch.Opening()) << attempt;
        watch.OpenEnded(false);
        EXPECT_EQ(owner.Count("report"), attempt >= 2 ? 1 : 0) << attempt;
    }
    EXPECT_EQ(waits, (std::vector<int>{2000, 4000, 8000, 16000, 30000, 30000, 30000}));
    EXPECT_EQ(owner.Count("release"), 8);
    watch.RetryNow();
    watch.OpenEnded(true);
    EXPECT_FALSE(watch.Lost());
    EXPECT_EQ(watch.PendingRetryMs(), -1);

    // Lost again: a new run of failures starts from the shortest wait and
    // may be reported again.
    Lose();
    EXPECT_EQ(watch.PendingRetryMs(), 2000);
    for (int attempt = 0; attempt < 3; ++attempt) {
        watch.RetryNow();
        watch.OpenEnded(false);
    }
    EXPECT_EQ(owner.Count("report"), 2);
}

TEST_F(CameraWatchTest, NoRetryForACameraThatLeftTheListOrAStoppedWatch) {
    AddCamera("Cam");
    Lose();
    watch.RetryNow();
    sys.RemoveDevices(CLSID_VideoInputDeviceCategory);
    watch.OpenEnded(false);
    EXPECT_EQ(watch.PendingRetryMs(), -1);
    EXPECT_TRUE(watch.Lost());

    AddCamera("Cam");
    watch.DevicesChanged();
    watch.Stop();
    watch.OpenEnded(false);
    EXPECT_EQ(watch.PendingRetryMs(), -1);
    watch.DevicesChanged();
    EXPECT_EQ(owner.opens.size(), 2u);
}

TEST_F(CameraWatchTest, AStallIsShownEndsTheRecordingAndRestartsBackOffUntilFramesAreBack) {
    AddCamera("Cam");
    watch.CameraStalled(true);
    EXPECT_TRUE(watch.Stalled());
    EXPECT_EQ(owner.calls, (std::vector<std::string>{"stalled", "end recording"}));
    // Told again (the preview rebuilt after the recording stalls too).
    watch.CameraStalled(true);
    EXPECT_EQ(owner.calls.size(), 2u);
    std::vector<int> waits;
    for (int restart = 0; restart < 6; ++restart) {
        waits.push_back(watch.PendingRetryMs());
        watch.RetryNow();
    }
    EXPECT_EQ(waits, (std::vector<int>{2000, 4000, 8000, 16000, 30000, 30000}));
    EXPECT_EQ(owner.Count("restart"), 6);
    watch.CameraStalled(false);
    EXPECT_FALSE(watch.Stalled());
    EXPECT_EQ(owner.calls.back(), "flowing");
    EXPECT_EQ(watch.PendingRetryMs(), -1);
    // The first frames of every run are announced: nothing to take down.
    watch.CameraStalled(false);
    EXPECT_EQ(owner.Count("flowing"), 1);
    // Stalling again starts from the shortest wait.
    watch.CameraStalled(true);
    EXPECT_EQ(watch.PendingRetryMs(), 2000);

    // A lost camera's notice is not replaced by a stall's; the loss ends it.
    watch.CameraGone(Camera(0));
    EXPECT_FALSE(watch.Stalled());
    owner.calls.clear();
    watch.CameraStalled(true);
    EXPECT_TRUE(owner.calls.empty());
    watch.Stop();
}

TEST_F(CameraWatchTest, ACameraBackWhileItsLossIsHandledIsTakenUpOnceItIsHandled) {
    const std::string id = AddCamera("Cam").id;
    watch.CameraGone(Camera(0));
    // Gone from the list, and back, before the owner let go of it: no
    // retry is due (no camera was listed at the loss).
    ListCameras({});
    watch.DevicesChanged();
    ListCameras({{"Cam", id}});
    watch.DevicesChanged();
    EXPECT_TRUE(owner.opens.empty());
    watch.LossHandled();
    EXPECT_EQ(owner.opens, (std::vector<std::pair<int, bool>>{{0, true}}));
    // Without a notice meanwhile, nothing is opened at that point.
    watch.OpenEnded(true);
    watch.CameraGone(Camera(0));
    watch.LossHandled();
    EXPECT_EQ(owner.opens.size(), 1u);
}

TEST_F(CameraWatchTest, ItsPresenceMovesAlongItsTransitionsOnly) {
    using P = TCameraWatch::TPresence;
    AddCamera("Cam");
    const std::map<std::string, std::function<void()>> events = {
        {"stalls", [this] { watch.CameraStalled(true); }},
        {"flows", [this] { watch.CameraStalled(false); }},
        {"goes", [this] { watch.CameraGone(Camera(0)); }},
        {"handled", [this] { watch.LossHandled(); }},
        {"taken up", [this] { watch.TakeUpCamera(); }},
        {"opens", [this] { watch.OpenEnded(true); }},
        {"fails to open", [this] { watch.OpenEnded(false); }},
        {"stops", [this] { watch.Stop(); }},
    };
    const std::vector<std::pair<std::string, P>> steps = {
        {"opens", P::Present},         {"flows", P::Present},      {"stalls", P::Stalled},
        {"stalls", P::Stalled},        {"flows", P::Present},      {"stalls", P::Stalled},
        {"goes", P::Losing},           {"stalls", P::Losing},      {"opens", P::Losing},
        {"handled", P::Lost},          {"handled", P::Lost},       {"flows", P::Lost},
        {"taken up", P::Reopening},    {"goes", P::Reopening},     {"taken up", P::Reopening},
        {"fails to open", P::Lost},    {"taken up", P::Reopening}, {"opens", P::Present},
        {"goes", P::Losing},           {"handled", P::Lost},       {"stops", P::Ended},
        {"taken up", P::Ended},        {"stalls", P::Ended},       {"goes", P::Ended},
    };
    for (size_t i = 0; i < steps.size(); ++i) {
        events.at(steps[i].first)();
        EXPECT_EQ(watch.Presence(), steps[i].second) << "step " << i << ": " << steps[i].first;
    }
}
