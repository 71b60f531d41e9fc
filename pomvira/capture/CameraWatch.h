// SPDX-License-Identifier: GPL-3.0-or-later
// The camera in use going away, coming back, and delivering nothing. When
// the camera is lost (its stream failed, or it left the device list) the
// watch keeps its identity (the serialized device moniker) and the cameras
// present then. When the device list changes, or a little later when the
// lost camera is still listed, it takes up the same camera again (the host
// keeps the format it had), or a camera plugged in that was not there before
// (in the stored format).
//
// A camera lost with its device service (no camera listed, a server such as
// PipeWire's that may restart) is looked for with the same back-off: each
// try connects the services anew.
//
// A camera that cannot be opened is tried again quietly while it is listed;
// when it keeps failing it is reported once, in words, and still tried. A
// camera that stalls (delivers no frame while the graph runs, without an
// error, or never starts delivering) is shown as such, a running recording
// ends as for a lost camera, and the camera is restarted until its frames are
// back. Both retries back off: 2, 4, 8 and 16 seconds apart, then every 30
// seconds, so that a camera slow to answer gets the time it needs and a
// camera that never will costs little.
//
// What the watch knows of the camera is one state, its presence:
//
//   Present --gone--> Losing --loss handled--> Lost --taken up--> Reopening
//   Reopening --its preview runs--> Present;  --it fails--> Lost
//   Present --no frames--> Stalled --frames again--> Present
//   Stalled --gone--> Losing;  any --stopped--> Ended
#pragma once

#include <QTimer>
#include <exception>
#include <vector>

#include "media/Filter.h"

// What the watch asks of the camera's owner. Each request returns at once;
// the owner tells how an opening ended with OpenEnded.
class TCameraHost {
  public:
    virtual ~TCameraHost() = default;
    // Ends a running recording as the record button ends it (nothing when
    // none runs).
    virtual void EndRecording() = 0;
    // Closes the camera: the graph holds no camera and says it is gone.
    virtual void ReleaseCamera() = 0;
    // Opens camera `index` of the device list and runs its preview: the
    // same camera as the lost one in the format it had, keeping the windows
    // where they are; another one in the stored format.
    virtual void OpenLostCamera(int index, bool sameCamera) = 0;
    // Starts the camera in use afresh (it delivers nothing), in a new graph.
    virtual void RestartCamera() = 0;
    // Connects the device services of cameras anew (the lost camera's server
    // may have restarted); a device notice follows when they list anew.
    virtual void RenewDeviceServices() = 0;
    // The presence changed.
    virtual void PresenceChanged() = 0;
    // Says, once, that a camera that is there keeps failing to open.
    virtual void ReportUnusableCamera() = 0;
    // A retry failed unexpectedly (it is tried again later).
    virtual void WatchFailed(const std::exception_ptr& failure) = 0;
};

class TCameraWatch {
  public:
    enum class TPresence { Present, Stalled, Losing, Lost, Reopening, Ended };

    explicit TCameraWatch(TCameraHost& host);

    TPresence Presence() const { return FPresence; }
    // The camera in use has gone away and none has been taken up since
    // (also while its loss is handled and while one is opened again).
    bool Lost() const {
        return FPresence == TPresence::Losing || FPresence == TPresence::Lost ||
               FPresence == TPresence::Reopening;
    }
    // It delivers no frames.
    bool Stalled() const { return FPresence == TPresence::Stalled; }
    // Its loss is being handled (a recording it stopped is finished, the
    // graph lets go of it). A device list that changed meanwhile is looked
    // at once the loss is handled.
    bool Losing() const { return FPresence == TPresence::Losing; }
    // An opening asked for is under way.
    bool Opening() const { return FPresence == TPresence::Reopening; }

    // The camera in use went away: `camera` is its identity.
    void CameraGone(const media::TBaseFilter& camera);
    // The owner has let go of the lost camera.
    void LossHandled();
    // Takes up the lost camera, or one plugged in since, when it is there;
    // false when none is.
    bool TakeUpCamera();
    // How the opening asked for by TakeUpCamera ended: its preview runs,
    // or the camera is still unusable (tried again later while listed).
    void OpenEnded(bool runs);
    // The camera in use stopped delivering frames (true) or delivers again.
    void CameraStalled(bool stalled);
    // The device list changed while the camera is lost. While an opening
    // runs, the list is looked at again if the opening fails.
    void DevicesChanged();
    // Stops watching (shut-down): no retry runs after.
    void Stop();

    // The cameras of the device list, in its order, and a camera's place in
    // it (-1 when it is not there).
    static std::vector<media::TBaseFilter> PresentCameras();
    static int CameraPosition(const media::TBaseFilter& camera);

    // The wait before the next try, -1 when none is due; tests make it
    // happen at once.
    int PendingRetryMs() const { return FRetryTimer.isActive() ? FRetryTimer.interval() : -1; }
    void RetryNow() {
        if (FRetryTimer.isActive()) {
            FRetryTimer.stop();
            Retry();
        }
    }

    // The waits between two tries, then kLastRetryMs for good.
    static constexpr int kRetryMs[] = {2000, 4000, 8000, 16000};
    static constexpr int kLastRetryMs = 30000;
    static int RetryDelay(int tries);
    // After how many failed openings in a row, of a camera that is listed,
    // the failure is reported.
    static constexpr int kReportAfterFailures = 3;

  private:
    void SetPresence(TPresence presence);
    void RetryLater();
    void Retry();
    void OpeningFailed();

    TCameraHost& FHost;
    TPresence FPresence = TPresence::Present;
    // A device notice came while the loss was handled or an opening ran (too
    // early to act on).
    bool FNoticeMeanwhile = false;
    int FFailedOpens = 0;  // in a row, of a listed camera, since it went
    int FTries = 0;        // retries since the camera went or stalled
    media::TBaseFilter FLostCamera;                 // the identity of the camera gone
    std::vector<media::TBaseFilter> FKnownCameras;  // cameras present at the last look
    QTimer FRetryTimer;
};
