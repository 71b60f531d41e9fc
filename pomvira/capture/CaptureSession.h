// SPDX-License-Identifier: GPL-3.0-or-later
// The camera as the program sees it: the input devices and their lists, the
// camera and the microphone in use, the one media graph with its camera,
// microphone and frame grabber, the camera's format (the one stored, and the
// one for the next preview), the preview, still pictures, the recording, and
// what happens when the camera fails, stalls, goes away or comes back. It
// knows no window and makes no sentence: the control panel binds its
// signals to the windows and turns its outcomes into words.
//
// What the camera does is one state, the session's activity, and whether it
// is there another, the camera watch's presence; every "is it ..." is read
// from the two, and StateChanged says that either changed:
//
//   Idle --preview asked--> Starting --it runs--> Previewing (fails: Idle)
//   Previewing --record--> StartingRecording --it runs--> Recording
//   StartingRecording --it fails--> Starting (the preview comes back)
//   Recording --stop, or a failure--> Stopping --graph let go--> Starting
//   any --close--> Closing --devices let go--> Closed
//
// Nothing here waits on the camera, the sound server or the disk on the
// user-interface thread. What may wait (the graph's state changes, the
// drain of a recording, the recording's file, the repair of a file, the
// encoding of a picture) runs on the session's workers, one for the graph
// and one for files; the call returns at once, and the operation's outcome
// (OperationEnded) and the state say how it ended. The session does one
// thing with its graph at a time: a request made while another runs waits
// for it, in order (see SessionOperations.h), except a second record click
// while a recording starts or stops, which is ignored.
//
// Every wait has a bound. A camera whose stream never starts (a PipeWire
// camera without its session manager, say) is given up after kRunBoundMs:
// the preview is reported as failed, the graph (stuck inside the camera's
// source) is left to its thread, and the camera is tried again later, in a
// new graph, as for a camera that delivers nothing.
#pragma once

#include <QObject>
#include <QSize>
#include <QString>
#include <QStringList>

#include <exception>
#include <functional>
#include <memory>
#include <optional>

#include "capture/CameraWatch.h"
#include "capture/CaptureDevices.h"
#include "capture/RecordingSession.h"
#include "capture/SessionOperations.h"
#include "capture/SessionOutcome.h"
#include "media/FormatChoice.h"
#include "media/MediaTypes.h"

class TSessionWorker;
class TStillCapture;
class TCaptureSessionProbe;

namespace media {
class TFilterGraph;
class TSampleGrabber;
class TVideoWindow;
}  // namespace media

// Where the session reports a failure that escaped one of its steps (a bug,
// or a failure nothing foresaw): the owner shows it as the program's error
// report. The session goes on.
class TSessionReports {
  public:
    virtual ~TSessionReports() = default;
    virtual void UnexpectedFailure(const std::exception_ptr& failure) = 0;
};

class TCaptureSession : public QObject, private TCameraHost {
    Q_OBJECT
  public:
    enum class TActivity {
        Idle,               // no preview runs (no camera, or it failed to start)
        Starting,           // the preview is being started
        Previewing,         // the preview runs
        StartingRecording,  // a recording is being connected and started
        Recording,          // a recording runs
        Stopping,           // the recording's graph drains into its file
        Closing,            // the session ends: a recording is completed, devices let go
        Closed,             // nothing runs, nothing starts any more
    };
    using TPresence = TCameraWatch::TPresence;

    // How long the camera's stream may take to start (a source that never
    // prerolls is given up after it), a recording's stop to complete its
    // file, and the graph to let go of its devices.
    static constexpr int kRunBoundMs = 10000;
    static constexpr int kStopBoundMs = 15000;
    static constexpr int kHaltBoundMs = 5000;
    // A camera restarted with its device service connected anew, while
    // graphs given up are still stuck in their sources, at most while this
    // many are.
    static constexpr int kMostStuckRestarts = 3;
    // How long the file worker may take to create a recording's file, to
    // finish it (the repair reads most of the file and writes it back) and
    // to remove what a failed start left.
    static constexpr int kFileBoundMs = 120000;

    // The bounds above; tests shorten them.
    struct TBounds {
        int Run = kRunBoundMs;
        int Stop = kStopBoundMs;
        int Halt = kHaltBoundMs;
    };
    void SetBounds(const TBounds& bounds) { FBounds = bounds; }

    // `reports`, when given, hears of failures nothing foresaw; it outlives
    // the session.
    explicit TCaptureSession(TSessionReports* reports = nullptr, QObject* parent = nullptr);
    ~TCaptureSession() override;
    TCaptureSession(const TCaptureSession&) = delete;
    TCaptureSession& operator=(const TCaptureSession&) = delete;

    // The preview window's renderer joins the graph (null: it leaves).
    void SetVideoWindow(media::TVideoWindow* window);
    // The largest video picture the screen has room for (for the format a
    // camera is opened in when no stored one applies); asked when a camera
    // is opened.
    std::function<QSize()> PreviewArea;

    // --- The state -------------------------------------------------------
    TActivity Activity() const { return FActivity; }
    TPresence Presence() const { return FCameraWatch.Presence(); }
    bool Recording() const { return FActivity == TActivity::Recording; }
    // A recording waits to start, starts, drains, or its file is finished.
    bool RecordingBusy() const;
    // A recording is asked for: it waits to start, starts, or runs (the
    // record button's recording flag).
    bool RecordingAsked() const;
    // Something runs or waits to run.
    bool Busy() const;
    // The camera in use went away and none has been taken up since; it
    // delivers no picture; its going is being handled.
    bool CameraLost() const { return FCameraWatch.Lost(); }
    bool CameraStalled() const { return FCameraWatch.Stalled(); }
    bool LosingCamera() const { return FCameraWatch.Losing(); }
    bool Closed() const { return FActivity == TActivity::Closed; }

    // --- Devices ---------------------------------------------------------
    // The input devices, the ones in use and the camera's format.
    const TCaptureDevices& Devices() const { return FDevices; }
    // The choice the settings file holds: the devices by their places in
    // the lists, and the stored format's description.
    void SetStoredChoice(int32_t video, int32_t audio, const QString& format);
    void SetStoredFormat(const QString& format) { FDevices.SetVideoFormat(format); }
    // Lists the input devices the device services have listed so far and
    // watches them come and go (never waits); false when there is no camera.
    bool ListDevices();
    // The first listing: waits (off this thread) until every device
    // service (PipeWire, the sound server) has answered or was left out at
    // its bound, then lists the devices; DevicesListed says whether there is
    // a camera and names the services left out (their devices join the list
    // when they answer). When every service has answered already, all this
    // happens in the call.
    void FindDevices();
    // How long the first listing waits for the device services at most.
    static constexpr int kListBoundMs = 5000;
    void FreeDevices();
    // Opens the devices at start-up: the first camera and microphone when
    // there are any (else the stored ones), the camera in its stored format.
    // The stored format, when there is none, becomes the camera's.
    void OpenDevices();
    // Opens the camera at `index` (the last one when beyond) in a new,
    // unconnected graph, in the format the text describes (none: the format
    // kept for the next preview, or the one that fits the screen best), and
    // tells its frame size (FrameSize) unless `keepPlacement`. The graph must
    // be at rest (see OpenCamera for a running one). The camera actually
    // opened, -1: none.
    int32_t SelectVideoDevice(int32_t index, const QString& formatText,
                              bool keepPlacement = false);
    // The names of the devices present now (the list is read afresh).
    QStringList PresentCameras() const;
    QStringList PresentMicrophones() const;
    // The devices chosen in the device dialog: a microphone that changed is
    // opened, another camera opened in place of the one in use (never none),
    // and the preview runs again when anything changed.
    void ChooseDevices(int32_t video, int32_t audio);
    // The compressors installed, in their lists' order.
    static QStringList VideoCompressors();
    static QStringList AudioCompressors();

    // --- The settings pages ----------------------------------------------
    // The camera's or the microphone's filter, for its settings pages; a
    // source without a device raises "Interface not supported".
    media::ComPtr<media::IBaseFilter> CameraSettingsTarget() const;
    media::ComPtr<media::IBaseFilter> MicrophoneSettingsTarget() const;
    // The microphone's formats, the one in force among them; raises as
    // above without a microphone.
    media::TPinFormats MicrophoneFormats() const;

    // --- The preview -----------------------------------------------------
    // Builds the preview path and runs the graph, or stops it.
    void SetPreview(bool on);
    // Opens another camera (or the same one again, keeping its format when
    // keepFormat), stopping the running graph first, and runs its preview.
    void OpenCamera(int32_t index, bool keepFormat);
    // The format choice, in two calls. The first stops the preview and opens
    // the camera again in a new, unconnected graph in its format, so that
    // its capture pin offers every format, then hands back its formats to
    // `ready` (an empty list without a camera), once the operation has
    // ended: the choice is made outside it. The second puts the chosen
    // format on the camera (none: the one it had) and runs the preview; the
    // stored format becomes the one in force when `store`.
    void PrepareFormatChoice(std::function<void(const media::TPinFormats&)> ready);
    void ApplyFormatChoice(const std::optional<media::TMediaType>& chosen, bool store);
    // Puts a sound format on the microphone: the graph is stopped, the
    // format set, and the graph run again.
    void SetAudioFormat(const media::TMediaType& format);

    // --- Still pictures --------------------------------------------------
    // Saves the camera's current frame (waiting up to kFirstFrameWaitMs for
    // the first one) as the next free numbered picture of `folder`; then
    // StillTaken or StillFailed.
    void TakeStill(const QString& folder);

    // --- The recording ---------------------------------------------------
    // Records into the next free numbered file of `folder`, chosen and
    // created off this thread: RecordingStarted with its path, or
    // RecordingNotStarted (the preview then runs again).
    void StartRecording(const QString& folder, const TRecordingOptions& options);
    // Ends the recording: the file is completed (or finished by the
    // repair), the preview runs again in the same format, RecordingStopped
    // tells what became of the file.
    void StopRecording();
    // How long the recording runs, in milliseconds (-1 without a graph).
    int64_t RecordingPositionMs() const;
    // The frames the camera's capture branch dropped because the recording
    // could not take them (a disk too slow), since the camera was opened;
    // -1 when the camera does not count them.
    int32_t DroppedFrames() const;

    // --- The session as a whole ------------------------------------------
    // The system's notice that a device came or went.
    void DevicesChanged();
    // Ends everything: a running recording is completed as a stop
    // completes it (neither strip nor mail: the Closed outcome says what
    // became of it), the graph lets go of its devices. Nothing starts after.
    void Close();

  signals:
    // The activity or the camera's presence changed.
    void StateChanged();
    // An operation ended (see TOutcome for what each kind tells).
    void OperationEnded(const TOutcome& outcome);
    // The camera's frame size, when a camera is opened (not when it is
    // taken up again after it went away).
    void FrameSize(int width, int height);

  private:
    friend class TCaptureSessionProbe;
    using TStep = TOperation::TStep;
    using TSteps = TOperation::TSteps;

    void SetActivity(TActivity activity);
    void DevicesFound();
    void Tell(TOutcome outcome);
    void Tell(TOutcome::TKind kind, media::HRESULT result = 0, const QString& file = QString());
    bool Ending() const {
        return FActivity == TActivity::Closing || FActivity == TActivity::Closed;
    }
    bool HasCamera() const;

    // The ways a graph is taken down, each a step:
    //  - StopStreaming: the graph stops streaming (a recording's drains into
    //    its file first) and keeps its devices;
    //  - ReleaseDevices: the graph lets go of its devices (and of a
    //    recording's file), its filters kept;
    //  - DiscardGraph: the graph is destroyed and its filters leave with
    //    it; the next one is made anew (not a step: the graph is at rest;
    //    EmptyGraph takes out the filters it built first, where a camera is
    //    opened anew or let go of);
    //  - AbandonGraph: a graph stuck in a state change on a thread left to
    //    it is never touched again (at a bound; not a step).
    TStep StopStreaming(int boundMs);
    TStep ReleaseDevices();
    void EmptyGraph();
    void DiscardGraph();
    void AbandonGraph();
    // A job of the graph's worker, given up at its bound: the graph is
    // abandoned, and its thread makes it let go of the devices once (if
    // ever) it comes out of the job.
    void AwaitGraph(TOperation& op, std::function<media::HRESULT()> job, int boundMs);

    // Step lists shared by operations.
    TSteps RunPreview();
    TSteps RebuildPreview();
    TSteps BuildAndRunPreview();
    void BuildPreview();
    TSteps FailStart(const TOutcome& failure);
    TSteps StopRecordingGraph();
    TSteps OpenCameraSteps(int32_t index, bool keepFormat);

    void WatchGraph();
    void GraphError(media::HRESULT error);
    void GraphDeviceLost(media::IBaseFilter* filter);
    void LoseCamera();
    void EndRecordingFor(TOutcome::TCause cause);
    void FinishRecording(bool closing);

    // TCameraHost
    void EndRecording() override;
    void ReleaseCamera() override;
    void OpenLostCamera(int index, bool sameCamera) override;
    void RestartCamera() override;
    void RenewDeviceServices() override;
    // A step: the device services of cameras connected anew (bounded).
    void AwaitDeviceServices(TOperation& op);
    void PresenceChanged() override;
    void ReportUnusableCamera() override;
    void WatchFailed(const std::exception_ptr& failure) override;

    TSessionReports* FReports;
    media::TFilterGraph* FGraph;
    media::TFilter* FVideoSource;
    media::TFilter* FAudioSource;
    media::TSampleGrabber* FGrabber;
    media::TVideoWindow* FVideoWindow = nullptr;
    TSessionWorker* FWorker;      // the graph's state changes
    TSessionWorker* FFileWorker;  // pictures and recordings' files
    TStillCapture* FStills;
    TOperationQueue* FQueue;
    TCaptureDevices FDevices;
    // The format the next preview puts on the camera (kept across the
    // graph's rebuilding: a recording, a re-opening, a camera gone and back).
    std::optional<media::TMediaType> FNextFormat;

    TActivity FActivity = TActivity::Idle;
    // Formats handed back to a caller once their operation has ended, not
    // yet received.
    int FHandBacks = 0;
    // A graph error during the preview rebuilds it once; the rebuilt one's
    // errors are not acted on again until a recording starts.
    bool FPreviewRebuiltAfterError = false;
    // Counts the device list's changes: a recording start that fails while
    // the list changed failed because the camera came and went.
    unsigned FDeviceChanges = 0;
    TBounds FBounds;
    std::unique_ptr<TRecordingSession> FRecording;
    // What became of a recording the session completed as it closed.
    TOutcome FClosedOutcome;
    TCameraWatch FCameraWatch;
    QObject* FDeviceNotice = nullptr;
};
