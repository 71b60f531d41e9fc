// SPDX-License-Identifier: GPL-3.0-or-later
// The camera in use going away and coming back. When the camera is lost
// (its stream failed, or it left the device list) the watch keeps its
// identity (the serialized device moniker) and the format it had, and the
// cameras present then. When the device list changes, or a little later when
// the lost camera is still listed, it takes up the same camera again, in
// that format, or a camera plugged in that was not there before (in the
// stored format). The lost format is kept until a preview really runs: a
// camera that comes back busy is tried again in its own format.
//
// A camera that cannot be opened is tried again quietly, every two seconds,
// as long as it is listed; when it keeps failing it is reported once, in
// words, and still tried. A camera that stalls (delivers no frame while the
// graph runs, without an error) is shown as such, a running recording ends
// as for a lost camera, and the notice goes when its frames are back (the
// media layer restarts it meanwhile).
#pragma once

#include <QTimer>
#include <optional>
#include <vector>

#include "media/Filter.h"
#include "media/MediaTypes.h"

// What the watch asks of the panel.
class TCameraHost {
  public:
    virtual ~TCameraHost() = default;
    // Ends a running recording as the record button ends it (nothing when
    // none runs).
    virtual void EndRecording() = 0;
    // Closes the camera: the graph holds no camera and says it is gone.
    virtual void ReleaseCamera() = 0;
    // Opens camera `index` of the device list and runs its preview. The
    // same camera as the lost one comes with its format (null: as it
    // opens) and keeps the windows where they are; another one opens in the
    // stored format. True when the preview runs; a failure raises.
    virtual bool OpenCamera(int index, const media::TMediaType* format, bool sameCamera) = 0;
    // Shows that the camera in use delivers no picture (or, false, that it
    // does again).
    virtual void ShowStalled(bool stalled) = 0;
    // Says, once, that a camera that is there keeps failing to open.
    virtual void ReportUnusableCamera() = 0;
};

class TCameraWatch {
  public:
    explicit TCameraWatch(TCameraHost& host);

    // The camera in use went away: `camera` is its identity and `format`
    // the format it had (none when it could not be read).
    void CameraGone(const media::TBaseFilter& camera, std::optional<media::TMediaType> format);
    // Takes up the lost camera, or one plugged in since, when it is there;
    // false when none is. A camera that fails to open stays lost, its format
    // kept, and is tried again while it is listed.
    bool TakeUpCamera();
    // The camera in use stopped delivering frames (true) or delivers again.
    void CameraStalled(bool stalled);
    // The device list changed while the camera is lost.
    void DevicesChanged();
    // Stops watching (shut-down): no retry runs after.
    void Stop();

    // True while the camera in use has gone away and none has been taken up
    // since.
    bool Lost() const { return FCameraLost; }
    // True while the camera in use delivers no frames.
    bool Stalled() const { return FStalled; }
    // True while the loss is being handled (a recording it stopped may be
    // with the mail program).
    bool Losing() const { return FLosingCamera; }
    const std::optional<media::TMediaType>& LostFormat() const { return FLostMediaType; }

    // The cameras of the device list, in its order, and a camera's place in
    // it (-1 when it is not there).
    static std::vector<media::TBaseFilter> PresentCameras();
    static int CameraPosition(const media::TBaseFilter& camera);

    // How long after a camera went away while it is still listed (its
    // stream failed, the device did not leave) it is tried again.
    static constexpr int kRetryListedCameraMs = 2000;
    // After how many failed openings in a row the failure is reported.
    static constexpr int kReportAfterFailures = 3;

  private:
    void RetryCameraLater();
    void OpeningFailed();

    TCameraHost& FHost;
    bool FCameraLost = false;
    bool FLosingCamera = false;  // CameraGone is running
    bool FStopped = false;
    bool FStalled = false;
    int FFailedOpens = 0;   // in a row, since the camera went
    bool FReported = false;  // the failures were reported
    media::TBaseFilter FLostCamera;                   // the identity of the camera gone
    std::optional<media::TMediaType> FLostMediaType;  // the format it had
    std::vector<media::TBaseFilter> FKnownCameras;    // cameras present at the last look
    QTimer FRetryTimer;
};
