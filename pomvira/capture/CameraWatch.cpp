// SPDX-License-Identifier: GPL-3.0-or-later
#include "CameraWatch.h"

#include <QScopeGuard>

#include "app/Application.h"

using namespace media;

TCameraWatch::TCameraWatch(TCameraHost& host) : FHost(host) {
    FRetryTimer.setSingleShot(true);
    FRetryTimer.setInterval(kRetryListedCameraMs);
    QObject::connect(&FRetryTimer, &QTimer::timeout, [this] {
        if (FCameraLost && !FStopped && !FLosingCamera)
            RunHandler([this] { TakeUpCamera(); });
    });
}

void TCameraWatch::CameraGone(const TBaseFilter& camera, std::optional<TMediaType> format) {
    if (FCameraLost || FStopped)
        return;
    FCameraLost = true;
    FLosingCamera = true;
    FStalled = false;
    FFailedOpens = 0;
    FReported = false;
    const auto done = qScopeGuard([this] { FLosingCamera = false; });
    FLostCamera.Assign(camera);
    FLostMediaType = std::move(format);
    FKnownCameras = PresentCameras();
    // A running recording ends as the record button ends it: its file is
    // completed, joins the strip and goes to the mail program when it was
    // to be mailed (the events run meanwhile).
    FHost.EndRecording();
    FHost.ReleaseCamera();
    // Still listed (its stream failed, the device did not go), or a camera
    // came while the recording was being finished: tried a little later
    // (not at once, nor in a tight loop).
    RetryCameraLater();
}

void TCameraWatch::RetryCameraLater() {
    if (!FStopped && !PresentCameras().empty())
        FRetryTimer.start();
}

void TCameraWatch::DevicesChanged() {
    // Not while the loss is still being handled: a recording it stopped may
    // be with the mail program, and the graph is released after.
    if (FCameraLost && !FLosingCamera && !FStopped)
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
    FCameraLost = false;
    bool runs = false;
    try {
        // The same camera: the format it had, the windows where they are.
        runs = same != -1
                   ? FHost.OpenCamera(same, FLostMediaType ? &*FLostMediaType : nullptr, true)
                   : FHost.OpenCamera(fresh, nullptr, false);
    } catch (...) {
        // Listed but not usable (another program holds it, or it went
        // again in the meantime): handled below, nothing raised.
        runs = false;
    }
    if (!runs) {
        OpeningFailed();
        return false;
    }
    FLostMediaType.reset();
    FFailedOpens = 0;
    FReported = false;
    return true;
}

void TCameraWatch::OpeningFailed() {
    // Still lost, its format kept; tried again a little later while a camera
    // is listed (a storm of plugging in and out ends with the camera there).
    // Failing again and again, it is said once, in words.
    FCameraLost = true;
    FHost.ReleaseCamera();
    ++FFailedOpens;
    const bool listed = !PresentCameras().empty();
    if (listed && FFailedOpens >= kReportAfterFailures && !FReported) {
        FReported = true;
        FHost.ReportUnusableCamera();
    }
    if (listed)
        RetryCameraLater();
}

void TCameraWatch::CameraStalled(bool stalled) {
    if (FCameraLost || FStopped || stalled == FStalled)
        return;
    FStalled = stalled;
    FHost.ShowStalled(stalled);
    // A recording gets no more frames: it ends as for a lost camera.
    if (stalled)
        FHost.EndRecording();
}

void TCameraWatch::Stop() {
    FStopped = true;
    FRetryTimer.stop();
    FLostMediaType.reset();
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
