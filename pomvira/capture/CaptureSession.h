// SPDX-License-Identifier: GPL-3.0-or-later
// The camera as the program sees it: the input devices and their lists, the
// camera and the microphone in use, the one media graph with its camera,
// microphone and frame grabber, the camera's format (the one stored, and the
// one for the next preview), the preview, still pictures, the recording, and
// what happens when the camera fails, stalls, goes away or comes back. It
// knows no window: the control panel binds its signals to the windows.
//
// Nothing here waits on the camera, the sound server or the disk on the
// user-interface thread. What may wait (the graph's state changes, the
// drain of a recording, the repair of a file, the encoding of a picture)
// runs on the session's workers; the call returns at once and a signal says
// how it ended. The session does one thing with its graph at a time: a
// request made while another runs waits for it, in order, except a second
// record click while a recording starts or stops, which is ignored.
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
#include <QTimer>

#include <deque>
#include <functional>
#include <memory>
#include <optional>

#include "capture/CameraWatch.h"
#include "capture/CaptureDevices.h"
#include "capture/RecordingSession.h"
#include "media/Filter.h"
#include "media/MediaTypes.h"

class TSessionWorker;
class TStillCapture;

namespace media {
class TBitmap;
class TFilterGraph;
class TSampleGrabber;
class TSysDevEnum;
class TVideoWindow;
}  // namespace media

class TCaptureSession : public QObject, private TCameraHost {
    Q_OBJECT
  public:
    // How long the camera's stream may take to start (a source that never
    // prerolls is given up after it), a recording's stop to complete its
    // file, and the graph to let go of its devices.
    static constexpr int kRunBoundMs = 10000;
    static constexpr int kStopBoundMs = 15000;
    static constexpr int kHaltBoundMs = 5000;

    // The bounds above; tests shorten them.
    struct TBounds {
        int Run = kRunBoundMs;
        int Stop = kStopBoundMs;
        int Halt = kHaltBoundMs;
    };
    void SetBounds(const TBounds& bounds) { FBounds = bounds; }

    explicit TCaptureSession(QObject* parent = nullptr);
    ~TCaptureSession() override;
    TCaptureSession(const TCaptureSession&) = delete;
    TCaptureSession& operator=(const TCaptureSession&) = delete;

    // The media components, owned by the session.
    media::TFilterGraph* CaptureGraph = nullptr;
    media::TFilter* VideoSourceFilter = nullptr;
    media::TFilter* AudioSourceFilter = nullptr;
    media::TSampleGrabber* SampleGrabber = nullptr;
    // The preview window's renderer joins the graph (null: it leaves).
    void SetVideoWindow(media::TVideoWindow* window);
    media::TVideoWindow* VideoWindow() const { return FVideoWindow; }
    // The largest video picture the screen has room for (for the format a
    // camera is opened in when no stored one applies); asked when a camera
    // is opened.
    std::function<QSize()> PreviewArea;

    // --- Devices ---------------------------------------------------------
    // The input devices, the ones in use and the camera's format.
    TCaptureDevices& Devices() { return FDevices; }
    const TCaptureDevices& Devices() const { return FDevices; }
    // Lists the input devices and watches them come and go; false when
    // there is no camera.
    bool ListDevices();
    void FreeDevices();
    // Opens the camera at `index` (the last one when beyond) in a new,
    // unconnected graph, in the format the text describes (none: the format
    // kept for the next preview, or the one that fits the screen best), and
    // tells its frame size (FrameSize). The graph must be at rest (see
    // OpenCamera for a running one). The camera actually opened, -1: none.
    int32_t SelectVideoDevice(int32_t index, const QString& formatText);

    // --- The preview -----------------------------------------------------
    // Builds the preview path and runs the graph (PreviewStarted or
    // PreviewFailed), or stops it.
    void SetPreview(bool on);
    // Opens another camera (or the same one again, keeping its format when
    // keepFormat), stopping the running graph first, and runs its preview;
    // then `opened` with the camera's place (-1: none), before the preview
    // runs.
    void OpenCamera(int32_t index, bool keepFormat, std::function<void(int32_t)> opened = {});
    // Opens the camera again in a new, unconnected graph in its format and
    // leaves it stopped, so that its capture pin offers every format; then
    // `ready` (with the capture pin, null without a camera). The caller sets
    // a format and calls SetPreview(true).
    void PrepareFormatChoice(std::function<void(media::IPin*)> ready);
    // Puts a sound format on the microphone: the graph is stopped, the
    // format set, and the graph run again.
    void SetAudioFormat(const media::TMediaType& format);

    // --- Still pictures --------------------------------------------------
    // Saves the camera's current frame (waiting up to kFirstFrameWaitMs for
    // the first one) as the next free numbered picture of `folder`; then
    // StillTaken or StillFailed.
    void TakeStill(const QString& folder);

    // --- The recording ---------------------------------------------------
    // Records into `path` (RecordingStarted, or RecordingFailed with the
    // reason; the preview then runs again).
    void StartRecording(const QString& path, const TRecordingOptions& options);
    // Ends the recording: the file is completed (or finished by the
    // repair), the preview runs again in the same format, RecordingStopped
    // tells what became of the file.
    void StopRecording();
    bool Recording() const { return FState == TState::Recording; }
    // A recording is starting or stopping.
    bool RecordingBusy() const {
        return FRecordingAsked || FState == TState::StartingRecording ||
               FState == TState::Stopping || FFinishing;
    }
    const TRecordingSession& RecordingRun() const { return *FRecording; }

    // --- The session as a whole ------------------------------------------
    // Something runs or waits to run.
    bool Busy() const;
    // The camera in use went away and none has been taken up since; it
    // delivers no picture; its going is being handled.
    bool CameraLost() const { return FCameraWatch.Lost(); }
    bool CameraStalled() const { return FCameraWatch.Stalled(); }
    bool LosingCamera() const { return FCameraWatch.Losing(); }
    // The system's notice that a device came or went.
    void DevicesChanged();
    // Ends everything: a running recording is completed as a stop
    // completes it (neither strip nor mail: Closed says what became of
    // it), the graph lets go of its devices; then Closed. Nothing starts
    // after.
    void Close();
    bool Closed() const { return FState == TState::Closed; }

  signals:
    // The camera's frame size, when a camera is opened (not when it is
    // taken up again after it went away).
    void FrameSize(int width, int height);
    void PreviewStarted();
    // The preview could not be started: the reason in the user's words.
    void PreviewFailed(const QString& reason);
    // A graph error during the preview: the preview was built again.
    void PreviewRecovered(const QString& reason);
    void RecordingStarted(const QString& path);
    void RecordingFailed(const QString& reason);
    // The recording ends: its file is being completed.
    void RecordingStopping();
    void RecordingStopped(const TRecordingResult& result);
    void StillTaken(const QString& path);
    void StillFailed(const QString& reason);
    // The camera went away (true) or is back; delivers no picture (true)
    // or does again; keeps failing to open though it is there.
    void CameraLostChanged(bool lost);
    void CameraStalledChanged(bool stalled);
    void UnusableCamera();
    void Closing();
    void ClosedDown(const TRecordingResult& recording);

  private:
    enum class TState { Idle, Starting, Previewing, StartingRecording, Recording, Stopping, Closing, Closed };

    // Operations on the graph run one at a time; each ends with Next().
    void Enqueue(std::function<void()> operation);
    void Next();
    // Runs a job on the graph's worker, then `then` here; at the bound the
    // graph is given up and `then` gets VFW_E_TIMEOUT.
    void OnWorker(std::function<media::HRESULT()> job, int boundMs,
                  std::function<void(media::HRESULT)> then);
    // Stops the graph and makes it let go of its devices, off this thread.
    void Halt(std::function<void()> then);
    void RunPreview(std::function<void()> then);
    void BuildPreview();
    void RebuildPreview(std::function<void()> then);
    void GiveUpGraph();

    void WatchGraph();
    void GraphError(media::HRESULT error);
    void GraphDeviceLost(media::IBaseFilter* filter);
    void LoseCamera();
    // `onCamera`: the start failed on the camera; `devicesAtStart`: the
    // device list's change count when the start began.
    void FailStart(const QString& path, const QString& reason, bool onCamera = false,
                   unsigned devicesAtStart = 0);
    void StopGraphOfRecording(std::function<void()> then);
    void FinishStop(media::HRESULT stopResult, media::HRESULT failure);
    void EndRecordingFor(const QString& reason);
    void CloseDown();
    // Leaves the state, but never a closing or closed session.
    void SetState(TState state) {
        if (FState != TState::Closing && FState != TState::Closed)
            FState = state;
    }

    // TCameraHost
    void EndRecording() override;
    void ReleaseCamera() override;
    void OpenLostCamera(int index, bool sameCamera) override;
    void RestartCamera() override;
    void ShowStalled(bool stalled) override;
    void ReportUnusableCamera() override;

    TSessionWorker* FWorker;      // the graph's state changes
    TSessionWorker* FFileWorker;  // pictures and recordings' files
    TStillCapture* FStills;
    media::TVideoWindow* FVideoWindow = nullptr;
    TCaptureDevices FDevices;
    // The format the next preview puts on the camera (kept across the
    // graph's rebuilding: a recording, a re-opening, a camera gone and back).
    std::optional<media::TMediaType> FNextFormat;
    // True while a camera is opened again where the windows stay as they
    // are (the same camera back, the resolution dialog): no FrameSize.
    bool FKeepPlacement = false;

    TState FState = TState::Idle;
    std::deque<std::function<void()>> FOperations;
    bool FOperating = false;
    bool FPreviewErrorReported = false;
    bool FFinishing = false;      // a recording's file is being finished
    bool FRecordingAsked = false;  // a recording waits for its turn to start
    // Counts the device list's changes: a recording start that fails while
    // the list changed failed because the camera came and went.
    unsigned FDeviceChanges = 0;
    TBounds FBounds;
    QString FStopReason;      // why the camera ended the recording
    TRecordingResult FClosedResult;
    std::unique_ptr<TRecordingSession> FRecording;
    TCameraWatch FCameraWatch;
    QObject* FDeviceNotice = nullptr;
};
