// SPDX-License-Identifier: GPL-3.0-or-later
#include "CameraWatch.h"

#include "app/Application.h"
#include "media/MediaUtil.h"

using namespace media;

TCameraWatch::TCameraWatch(TCameraHost& host) : FHost(host) {
    FRetryTimer.setSingleShot(true);
    QObject::connect(&FRetryTimer, &QTimer::timeout, [this] { RunHandler([this] { Retry(); }); });
}

int TCameraWatch::RetryDelay(int tries) {
    constexpr int steps = int(sizeof kRetryMs / sizeof kRetryMs[0]);
    return tries < steps ? kRetryMs[tries] : kLastRetryMs;
}

void TCameraWatch::CameraGone(const TBaseFilter& camera) {
    if (FCameraLost || FStopped)
        return;
    FCameraLost = true;
    // Until the owner has let go of the camera (SetLosing(false)).
    FLosingCamera = true;
    FChangedWhileLosing = false;
    FStalled = false;
    FFailedOpens = 0;
    FTries = 0;
    FReported = false;
    FLostCamera.Assign(camera);
    FKnownCameras = PresentCameras();
    // A running recording ends as the record button ends it: its file is
    // completed, joins the strip and goes to the mail program when it was
    // to be mailed. Then the graph lets go of the camera.
    FHost.EndRecording();
    FHost.ReleaseCamera();
    // Still listed (its stream failed, the device did not go): tried again
    // a little later.
    RetryLater();
}

void TCameraWatch::RetryLater() {
    if (FStopped)
        return;
    // A lost camera is tried while a camera is listed; a stalled one while
    // it stalls.
    if (FCameraLost ? !PresentCameras().empty() : FStalled)
        FRetryTimer.start(RetryDelay(FTries));
}

void TCameraWatch::Retry() {
    if (FStopped)
        return;
    ++FTries;
    if (FCameraLost) {
        // Not while the loss is still being handled, nor while an opening
        // runs: its end decides.
        if (FLosingCamera || FOpening) {
            RetryLater();
            return;
        }
        if (!TakeUpCamera())
            RetryLater();
        return;
    }
    if (FStalled) {
        FHost.RestartCamera();
        RetryLater();
    }
}

void TCameraWatch::SetLosing(bool losing) {
    FLosingCamera = losing;
    // The camera back while its loss was handled: its notice came too early
    // to be acted on, and no retry is due while no camera was listed.
    if (!losing && FChangedWhileLosing) {
        FChangedWhileLosing = false;
        DevicesChanged();
    }
}

void TCameraWatch::DevicesChanged() {
    if (FCameraLost && FLosingCamera) {
        FChangedWhileLosing = true;
        return;
    }
    if (FCameraLost && !FLosingCamera && !FOpening && !FStopped)
        TakeUpCamera();
}

bool TCameraWatch::TakeUpCamera() {
    const std::vector<TBaseFilter> present = PresentCameras();
    int same = -1, fresh = -1;
    for (size_t i = 0; i < present.size(); ++i) {
        if (same == -1 && present[i].Equals(FLostCamera))
            same = int(i);
        bool known = false;
        for (const TBaseFilter& k : FKnownCameras)
            known = known || k.Equals(present[i]);
        if (fresh == -1 && !known)
            fresh = int(i);
    }
    FKnownCameras = present;
    if (same == -1 && fresh == -1)
        return false;
    FOpening = true;
    // The same camera: the format it had, the windows where they are.
    FHost.OpenLostCamera(same != -1 ? same : fresh, same != -1);
    return true;
}

void TCameraWatch::OpenEnded(bool runs) {
    if (!FOpening)
        return;
    FOpening = false;
    if (!runs) {
        OpeningFailed();
        return;
    }
    FCameraLost = false;
    FFailedOpens = 0;
    FTries = 0;
    FReported = false;
    FRetryTimer.stop();
}

void TCameraWatch::OpeningFailed() {
    // Still lost; tried again later while a camera is listed (a storm of
    // plugging in and out ends with the camera there). Failing again and
    // again, it is said once, in words.
    FHost.ReleaseCamera();
    ++FFailedOpens;
    const bool listed = !PresentCameras().empty();
    if (listed && FFailedOpens >= kReportAfterFailures && !FReported) {
        FReported = true;
        FHost.ReportUnusableCamera();
    }
    if (!FRetryTimer.isActive())
        RetryLater();
}

void TCameraWatch::CameraStalled(bool stalled) {
    if (FCameraLost || FStopped || stalled == FStalled)
        return;
    FStalled = stalled;
    FTries = 0;
    FHost.ShowStalled(stalled);
    if (!stalled) {
        FRetryTimer.stop();
        return;
    }
    // A recording gets no more frames: it ends as for a lost camera.
    FHost.EndRecording();
    RetryLater();
}

void TCameraWatch::Stop() {
    FStopped = true;
    FRetryTimer.stop();
}

std::vector<TBaseFilter> TCameraWatch::PresentCameras() {
    std::vector<TBaseFilter> cameras;
    TSysDevEnum devices(CLSID_VideoInputDeviceCategory);
    for (int i = 0; i < devices.DeviceCount(); ++i) {
        TBaseFilter camera;
        camera.StoreMoniker(devices.DeviceMoniker(i).Get());
        cameras.push_back(camera);
    }
    return cameras;
}

int TCameraWatch::CameraPosition(const TBaseFilter& camera) {
    const std::vector<TBaseFilter> present = PresentCameras();
    for (size_t i = 0; i < present.size(); ++i) {
        if (present[i].Equals(camera))
            return int(i);
    }
    return -1;
}
