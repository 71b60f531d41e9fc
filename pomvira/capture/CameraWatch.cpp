// SPDX-License-Identifier: GPL-3.0-or-later
#include "CameraWatch.h"

#include "media/MediaUtil.h"

using namespace media;

TCameraWatch::TCameraWatch(TCameraHost& host) : FHost(host) {
    FRetryTimer.setSingleShot(true);
    QObject::connect(&FRetryTimer, &QTimer::timeout, [this] {
        try {
            Retry();
        } catch (...) {
            FHost.WatchFailed(std::current_exception());
        }
    });
}

int TCameraWatch::RetryDelay(int tries) {
    constexpr int steps = int(sizeof kRetryMs / sizeof kRetryMs[0]);
    return tries < steps ? kRetryMs[tries] : kLastRetryMs;
}

void TCameraWatch::SetPresence(TPresence presence) {
    if (presence == FPresence)
        return;
    FPresence = presence;
    FHost.PresenceChanged();
}

void TCameraWatch::CameraGone(const TBaseFilter& camera) {
    if (Lost() || FPresence == TPresence::Ended)
        return;
    FNoticeMeanwhile = false;
    FFailedOpens = 0;
    FTries = 0;
    FLostCamera.Assign(camera);
    FKnownCameras = PresentCameras();
    // Until the owner has let go of the camera (LossHandled).
    SetPresence(TPresence::Losing);
    // A running recording ends as the record button ends it: its file is
    // completed, joins the strip and goes to the mail program when it was
    // to be mailed. Then the graph lets go of the camera.
    FHost.EndRecording();
    FHost.ReleaseCamera();
    // Still listed (its stream failed, the device did not go): tried again
    // a little later.
    RetryLater();
}

void TCameraWatch::LossHandled() {
    if (FPresence != TPresence::Losing)
        return;
    SetPresence(TPresence::Lost);
    // The camera back while its loss was handled: its notice came too early
    // to be acted on, and no retry is due while no camera was listed.
    if (FNoticeMeanwhile) {
        FNoticeMeanwhile = false;
        TakeUpCamera();
    }
}

void TCameraWatch::RetryLater() {
    // A lost camera is tried while a camera is listed; a stalled one while
    // it stalls.
    const bool due = Lost() ? !PresentCameras().empty() || RenewableDevices()
                            : FPresence == TPresence::Stalled;
    if (due)
        FRetryTimer.start(RetryDelay(FTries));
}

void TCameraWatch::Retry() {
    ++FTries;
    switch (FPresence) {
        case TPresence::Losing:
        case TPresence::Reopening:
            // Not while the loss is still being handled, nor while an
            // opening runs: its end decides.
            RetryLater();
            break;
        case TPresence::Lost:
            if (!TakeUpCamera()) {
                if (PresentCameras().empty() && RenewableDevices())
                    FHost.RenewDeviceServices();
                RetryLater();
            }
            break;
        case TPresence::Stalled:
            FHost.RestartCamera();
            RetryLater();
            break;
        case TPresence::Present:
        case TPresence::Ended:
            break;
    }
}

void TCameraWatch::DevicesChanged() {
    if (FPresence == TPresence::Losing || FPresence == TPresence::Reopening)
        FNoticeMeanwhile = true;
    else if (FPresence == TPresence::Lost)
        TakeUpCamera();
}

bool TCameraWatch::TakeUpCamera() {
    if (FPresence != TPresence::Lost && FPresence != TPresence::Losing)
        return false;
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
    SetPresence(TPresence::Reopening);
    // The same camera: the format it had, the windows where they are.
    FHost.OpenLostCamera(same != -1 ? same : fresh, same != -1);
    return true;
}

void TCameraWatch::OpenEnded(bool runs) {
    if (FPresence != TPresence::Reopening)
        return;
    if (!runs) {
        SetPresence(TPresence::Lost);
        OpeningFailed();
        return;
    }
    FFailedOpens = 0;
    FTries = 0;
    FNoticeMeanwhile = false;
    FRetryTimer.stop();
    SetPresence(TPresence::Present);
}

void TCameraWatch::OpeningFailed() {
    // Still lost; tried again later while a camera is listed (a storm of
    // plugging in and out ends with the camera there). Failing again and
    // again while it is there, it is said once, in words.
    FHost.ReleaseCamera();
    // The list changed while it opened: the camera may have gone and come
    // back meanwhile (a storm of plugging), which is no sign that it is
    // unusable. It is taken up again at once.
    if (FNoticeMeanwhile) {
        FNoticeMeanwhile = false;
        if (TakeUpCamera())
            return;
    }
    if (!PresentCameras().empty() && ++FFailedOpens == kReportAfterFailures)
        FHost.ReportUnusableCamera();
    if (!FRetryTimer.isActive())
        RetryLater();
}

void TCameraWatch::CameraStalled(bool stalled) {
    const TPresence wanted = stalled ? TPresence::Stalled : TPresence::Present;
    if ((FPresence != TPresence::Present && FPresence != TPresence::Stalled) ||
        FPresence == wanted)
        return;
    FTries = 0;
    SetPresence(wanted);
    if (!stalled) {
        FRetryTimer.stop();
        return;
    }
    // A recording gets no more frames: it ends as for a lost camera.
    FHost.EndRecording();
    RetryLater();
}

void TCameraWatch::Stop() {
    FRetryTimer.stop();
    FNoticeMeanwhile = false;
    FPresence = TPresence::Ended;
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
