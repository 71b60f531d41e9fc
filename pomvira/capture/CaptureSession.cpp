// SPDX-License-Identifier: GPL-3.0-or-later
#include "CaptureSession.h"

#include <QEvent>
#include <QFile>
#include <QTimer>

#include <algorithm>

#include "capture/RecordingOutcome.h"
#include "capture/SessionWorker.h"
#include "capture/StillCapture.h"
#include "files/FilesBeingWritten.h"
#include "media/FilterGraph.h"
#include "media/MediaTypes.h"
#include "media/MediaUtil.h"
#include "media/ReservedFile.h"
#include "media/SampleGrabber.h"
#include "media/VideoFormatChoice.h"
#include "media/VideoWindow.h"

using namespace media;
using TKind = TOutcome::TKind;
using TCause = TOutcome::TCause;

namespace {

// The system's notices that a device came or went, on the user-interface
// thread; they stop with the receiver.
class TDeviceNotice : public QObject {
  public:
    TDeviceNotice(TCaptureSession* session, TSessionReports* reports)
        : QObject(session), FSession(session), FReports(reports) {
        RegisterDeviceNotification(this, WM_DEVICECHANGE);
    }
    ~TDeviceNotice() override { UnregisterDeviceNotification(this); }

    bool event(QEvent* e) override {
        if (e->type() != WindowMessageEvent::TypeId())
            return QObject::event(e);
        if (static_cast<WindowMessageEvent*>(e)->message == WM_DEVICECHANGE) {
            try {
                FSession->DevicesChanged();
            } catch (...) {
                if (FReports)
                    FReports->UnexpectedFailure(std::current_exception());
            }
        }
        return true;
    }

  private:
    TCaptureSession* FSession;
    TSessionReports* FReports;
};

QStringList DeviceNames(const GUID& category) {
    QStringList names;
    TSysDevEnum devices(category);
    for (int i = 0; i < devices.DeviceCount(); ++i)
        names.append(QString::fromStdString(devices.DeviceEntry(i).FriendlyName));
    return names;
}

template <class T>
std::vector<T> Joined(std::vector<T> first, const std::vector<T>& then) {
    first.insert(first.end(), then.begin(), then.end());
    return first;
}

}  // namespace

TCaptureSession::TCaptureSession(TSessionReports* reports, QObject* parent)
    : QObject(parent),
      FReports(reports),
      FGraph(new TFilterGraph(this)),
      FVideoSource(new TFilter(this)),
      FAudioSource(new TFilter(this)),
      FGrabber(new TSampleGrabber(this)),
      FWorker(new TSessionWorker("capture-graph", this)),
      FFileWorker(new TSessionWorker("capture-files", this)),
      FStills(new TStillCapture(FGrabber, FFileWorker, this)),
      FQueue(new TOperationQueue(this)),
      FDevices(FVideoSource, FAudioSource),
      FCameraWatch(*this) {
    qRegisterMetaType<TOutcome>();
    setObjectName(QStringLiteral("CaptureSession"));
    FGraph->setObjectName(QStringLiteral("CaptureGraph"));
    FGraph->SetMode(gmCapture);
    FGraph->SetGraphEdit(true);
    FGraph->SetLinearVolume(true);
    FVideoSource->setObjectName(QStringLiteral("VideoSourceFilter"));
    FVideoSource->SetFilterGraph(FGraph);
    FAudioSource->setObjectName(QStringLiteral("AudioSourceFilter"));
    FAudioSource->SetFilterGraph(FGraph);
    FGrabber->setObjectName(QStringLiteral("SampleGrabber"));
    FGrabber->SetFilterGraph(FGraph);
    connect(FStills, &TStillCapture::Taken, this,
            [this](const QString& path) { Tell(TKind::StillTaken, S_OK, path); });
    connect(FStills, &TStillCapture::Failed, this, [this](TCause cause, const QString& detail) {
        TOutcome outcome;
        outcome.Kind = TKind::StillFailed;
        outcome.Cause = cause;
        outcome.Detail = detail;
        Tell(outcome);
    });
    FQueue->OnFailure = [this](const std::exception_ptr& failure) {
        if (FReports)
            FReports->UnexpectedFailure(failure);
    };
    FRecording = std::make_unique<TRecordingSession>(FGraph, FVideoSource, FAudioSource);
    WatchGraph();
}

TCaptureSession::~TCaptureSession() {
    FCameraWatch.Stop();
    delete FDeviceNotice;
    FDeviceNotice = nullptr;
    FGraph->OnGraphErrorAbort = nullptr;
    FGraph->OnGraphDeviceLost = nullptr;
    FGraph->EventHandlers.erase(EC_STARVATION);
    // A graph still busy on the worker is left to it: it is never touched
    // here while a state change may be under way.
    if (FWorker->Busy())
        FGraph->Abandon();
    FQueue->DropWaiting();
}

void TCaptureSession::SetVideoWindow(TVideoWindow* window) {
    if (FVideoWindow && FVideoWindow != window)
        FVideoWindow->SetFilterGraph(nullptr);
    FVideoWindow = window;
    FRecording->SetVideoWindow(window);
    if (window)
        window->SetFilterGraph(FGraph);
}

// ---------------------------------------------------------------------------
// The state
// ---------------------------------------------------------------------------

void TCaptureSession::SetActivity(TActivity activity) {
    // A closing session only ends closed.
    if (Ending() && activity != TActivity::Closed)
        return;
    if (activity == FActivity)
        return;
    FActivity = activity;
    emit StateChanged();
}

bool TCaptureSession::RecordingBusy() const {
    return FQueue->Waiting(TOperationKind::StartRecording) ||
           FActivity == TActivity::StartingRecording || FActivity == TActivity::Stopping ||
           FRecording->Finishing();
}

bool TCaptureSession::RecordingAsked() const {
    return FQueue->Waiting(TOperationKind::StartRecording) ||
           FActivity == TActivity::StartingRecording || FActivity == TActivity::Recording;
}

bool TCaptureSession::Busy() const {
    return FQueue->Busy() || FWorker->Busy() || FFileWorker->Busy() || FStills->Waiting() ||
           FHandBacks > 0;
}

bool TCaptureSession::HasCamera() const {
    return FVideoSource->HasDevice();
}

void TCaptureSession::Tell(TOutcome outcome) {
    emit OperationEnded(outcome);
}

void TCaptureSession::Tell(TKind kind, HRESULT result, const QString& file) {
    TOutcome outcome;
    outcome.Kind = kind;
    outcome.Result = result;
    outcome.Cause = FAILED(result) ? TCause::Failure : TCause::Asked;
    outcome.File = file;
    Tell(outcome);
}

// ---------------------------------------------------------------------------
// Taking a graph down
// ---------------------------------------------------------------------------

void TCaptureSession::AwaitGraph(TOperation& op, std::function<HRESULT()> job, int boundMs) {
    // Past its bound the job is given up, and its thread makes the graph let
    // go of its devices once (if ever) it comes out of the job.
    ComPtr<IMediaControl> control = FGraph->Query<IMediaControl>();
    op.Await(*FWorker, std::move(job), boundMs, [this] { AbandonGraph(); },
             [control] {
                 if (control)
                     control->Halt();
             });
}

TCaptureSession::TStep TCaptureSession::StopStreaming(int boundMs) {
    return [this, boundMs](TOperation& op) {
        ComPtr<IMediaControl> control = FGraph->Query<IMediaControl>();
        if (!control) {
            op.SetResult(E_NOINTERFACE);
            return;
        }
        FGraph->NotifyStop();
        AwaitGraph(op, [control] { return control->Stop(); }, boundMs);
    };
}

TCaptureSession::TStep TCaptureSession::ReleaseDevices() {
    return [this](TOperation& op) {
        ComPtr<IMediaControl> control = FGraph->Query<IMediaControl>();
        if (!control)
            return;
        FGraph->NotifyStop();
        AwaitGraph(op, [control] { return control->Halt(); }, FBounds.Halt);
    };
}

void TCaptureSession::EmptyGraph() {
    // The graph is at rest: nothing here waits. A graph abandoned has
    // nothing left to empty.
    if (!FGraph->Active())
        return;
    try {
        FGraph->EmptyGraph();
    } catch (...) {
    }
}

void TCaptureSession::DiscardGraph() {
    // The graph is at rest (its devices let go, or it was abandoned): it is
    // destroyed, and its filters leave with it.
    FGraph->SetActive(false);
}

void TCaptureSession::AbandonGraph() {
    // The graph is stuck inside a state change on a thread that is left to
    // it: it is never touched again. Its filters are made anew next time.
    if (FGraph->Active())
        FGraph->Abandon();
}

// ---------------------------------------------------------------------------
// Devices
// ---------------------------------------------------------------------------

void TCaptureSession::SetStoredChoice(int32_t video, int32_t audio, const QString& format) {
    FDevices.SetDevices(video, audio);
    FDevices.SetVideoFormat(format);
}

bool TCaptureSession::ListDevices() {
    if (!FDevices.ListDevices())
        return false;
    if (!FDeviceNotice)
        FDeviceNotice = new TDeviceNotice(this, FReports);
    return true;
}

void TCaptureSession::FindDevices() {
    if (WaitForDevices(0, nullptr) == S_OK) {
        DevicesFound();
        return;
    }
    FQueue->Enqueue(TOperationKind::ListDevices,
                    {
                        [this](TOperation& op) {
                            op.Await(*FWorker, [] { return WaitForDevices(kListBoundMs, nullptr); },
                                     2 * kListBoundMs);
                        },
                        [this](TOperation&) {
                            if (!Ending())
                                DevicesFound();
                        },
                    });
}

void TCaptureSession::DevicesFound() {
    std::vector<std::string> unanswered;
    WaitForDevices(0, &unanswered);
    TOutcome outcome;
    outcome.Kind = TKind::DevicesListed;
    outcome.Result = ListDevices() ? S_OK : S_FALSE;
    for (const std::string& name : unanswered)
        outcome.Detail += (outcome.Detail.isEmpty() ? QString() : QStringLiteral("\n")) +
                          QString::fromStdString(name);
    Tell(outcome);
}

void TCaptureSession::FreeDevices() {
    try {
        FDevices.FreeDevices();
        FRecording->Release();
    } catch (...) {
    }
}

void TCaptureSession::OpenDevices() {
    // The stored device indexes give way to the first device of each kind
    // whenever there is one (they are still written back at shut-down).
    int32_t video = FDevices.VideoDevice();
    int32_t audio = FDevices.AudioDevice();
    if (!FDevices.VideoDevices().isEmpty())
        video = 0;
    if (!FDevices.AudioDevices().isEmpty())
        audio = 0;
    // Opening the camera sizes and places the windows for its frames.
    video = SelectVideoDevice(video, FDevices.VideoFormat());
    audio = FDevices.SelectAudioDevice(audio, FGraph);
    FDevices.SetDevices(video, audio);
    if (FDevices.VideoFormat().trimmed().isEmpty())
        FDevices.SetVideoFormat(FDevices.GetVideoFormatText());
}

int32_t TCaptureSession::SelectVideoDevice(int32_t index, const QString& formatText,
                                           bool keepPlacement) {
    EmptyGraph();
    DiscardGraph();
    const int32_t opened = FDevices.StoreCamera(index);
    if (opened == -1)
        return -1;
    FGraph->SetActive(true);
    bool restored = false;
    if (!formatText.isEmpty()) {
        FDevices.ApplyVideoFormatText(formatText);
        restored = FDevices.GetVideoFormatText() == formatText;
    } else if (FNextFormat) {
        FDevices.ApplyVideoMediaType(FNextFormat->AMMediaType());
        restored = true;
    }
    // No stored format, or one this camera does not offer: the largest
    // smooth format whose framed preview fits the screen, rather than the
    // camera's first listed one.
    const QSize area = PreviewArea ? PreviewArea() : QSize();
    if (!restored && area.isValid())
        ApplyFirstVideoFormat(FDevices.VideoCapturePin().Get(), area.width(), area.height());
    if (!keepPlacement) {
        int32_t width = 0, height = 0;
        FDevices.GetVideoSize(width, height);
        emit FrameSize(width, height);
    }
    return opened;
}

QStringList TCaptureSession::PresentCameras() const {
    return DeviceNames(CLSID_VideoInputDeviceCategory);
}

QStringList TCaptureSession::PresentMicrophones() const {
    return DeviceNames(CLSID_AudioInputDeviceCategory);
}

QStringList TCaptureSession::VideoCompressors() {
    return DeviceNames(CLSID_VideoCompressorCategory);
}

QStringList TCaptureSession::AudioCompressors() {
    return DeviceNames(CLSID_AudioCompressorCategory);
}

void TCaptureSession::ChooseDevices(int32_t video, int32_t audio) {
    const bool newMicrophone = audio != FDevices.AudioDevice();
    // Without a camera chosen the program would be left without a graph:
    // the camera in use stays.
    const bool newCamera = video != FDevices.VideoDevice() && video != -1;
    if (!newMicrophone && !newCamera)
        return;
    TSteps steps;
    if (newMicrophone) {
        steps.push_back([this, audio](TOperation&) {
            FDevices.SetDevices(FDevices.VideoDevice(), FDevices.SelectAudioDevice(audio, FGraph));
        });
    }
    // Another camera is opened once the graph has stopped, and previewed;
    // the same one is previewed again with its new microphone.
    steps = Joined(steps, newCamera ? OpenCameraSteps(video, false) : BuildAndRunPreview());
    FQueue->Enqueue(newCamera ? TOperationKind::OpenCamera : TOperationKind::ChangeMicrophone,
                    steps);
}

// ---------------------------------------------------------------------------
// The settings pages
// ---------------------------------------------------------------------------

ComPtr<IBaseFilter> TCaptureSession::CameraSettingsTarget() const {
    return FVideoSource->Get<IBaseFilter>();
}

ComPtr<IBaseFilter> TCaptureSession::MicrophoneSettingsTarget() const {
    return FAudioSource->Get<IBaseFilter>();
}

TPinFormats TCaptureSession::MicrophoneFormats() const {
    // Without a microphone this request fails: "Interface not supported".
    TPinList pins(FAudioSource->Get<IBaseFilter>().Get());
    if (FDevices.AudioDevice() == -1)
        return TPinFormats();
    return ReadPinFormats(pins.FirstPin().Get());
}

// ---------------------------------------------------------------------------
// The preview
// ---------------------------------------------------------------------------

void TCaptureSession::BuildPreview() {
    auto builder = FGraph->Get<ICaptureGraphBuilder2>();
    // The format kept for the next preview stays until a preview runs: a
    // camera that fails to start is tried again in it.
    if (FNextFormat)
        FDevices.ApplyVideoMediaType(FNextFormat->AMMediaType());
    if (HasCamera()) {
        auto source = FVideoSource->Get<IBaseFilter>();
        auto grabber = FGrabber->Get<IBaseFilter>();
        auto renderer = FVideoWindow->Get<IBaseFilter>();
        builder->RenderStream(&PIN_CATEGORY_PREVIEW, nullptr, source.Get(), grabber.Get(),
                              renderer.Get());
    }
}

TCaptureSession::TSteps TCaptureSession::RunPreview() {
    return {
        [this](TOperation& op) {
            ComPtr<IMediaControl> control = FGraph->Query<IMediaControl>();
            if (!control) {
                op.End();
                return;
            }
            SetActivity(TActivity::Starting);
            FGraph->NotifyRun();
            AwaitGraph(op, [control] { return control->Run(); }, FBounds.Run);
        },
        [this](TOperation& op) {
            const HRESULT hr = op.Result();
            const bool closing = Ending();
            SetActivity(SUCCEEDED(hr) ? TActivity::Previewing : TActivity::Idle);
            if (SUCCEEDED(hr)) {
                FNextFormat.reset();
                FCameraWatch.OpenEnded(true);
                Tell(TKind::PreviewStarted);
            } else if (closing) {
                // Said by nothing: the session ends.
            } else if (FCameraWatch.Opening()) {
                // A camera back but not usable (another program holds it):
                // the watch tries again quietly and says so once.
                FCameraWatch.OpenEnded(false);
            } else if (FCameraWatch.Lost()) {
                // The camera went while it started: the lost camera's
                // notice says so, and it is taken up when it is back.
            } else {
                // Not usable, or silent: tried again later, as a camera
                // that delivers nothing, and shown as such before the
                // failure is told. A camera already shown as delivering no
                // picture (frozen, its restart not starting either) is not
                // told of a second time.
                const bool told = FCameraWatch.Stalled();
                FCameraWatch.CameraStalled(true);
                if (!told)
                    Tell(TKind::PreviewFailed, hr);
            }
        },
    };
}

TCaptureSession::TSteps TCaptureSession::BuildAndRunPreview() {
    return Joined<TStep>({[this](TOperation& op) {
                             if (!FGraph->Active()) {
                                 op.End();
                                 return;
                             }
                             BuildPreview();
                         }},
                         RunPreview());
}

TCaptureSession::TSteps TCaptureSession::RebuildPreview() {
    // A new graph with the component filters, unconnected; the kept format
    // goes back on the camera and the preview runs.
    return Joined<TStep>({[this](TOperation& op) {
                             DiscardGraph();
                             if (!HasCamera() || Ending()) {
                                 SetActivity(TActivity::Idle);
                                 op.End();
                                 return;
                             }
                             FGraph->SetActive(true);
                         }},
                         BuildAndRunPreview());
}

void TCaptureSession::SetPreview(bool on) {
    if (on) {
        FQueue->Enqueue(TOperationKind::StartPreview, BuildAndRunPreview());
        return;
    }
    FQueue->Enqueue(TOperationKind::StopPreview,
                    {
                        [this](TOperation& op) {
                            if (!FGraph->Query<IMediaControl>())
                                op.End();
                        },
                        StopStreaming(FBounds.Halt),
                        [this](TOperation&) { SetActivity(TActivity::Idle); },
                    });
}

TCaptureSession::TSteps TCaptureSession::OpenCameraSteps(int32_t index, bool keepFormat) {
    return Joined<TStep>(
        {
            [this, keepFormat](TOperation&) {
                if (keepFormat && !FNextFormat)
                    FNextFormat = FDevices.SaveVideoMediaType();
            },
            ReleaseDevices(),
            [this, index, keepFormat](TOperation&) {
                const int32_t camera = SelectVideoDevice(index, QString());
                if (!keepFormat)
                    FNextFormat.reset();
                FDevices.SetVideoDevice(camera);
            },
        },
        BuildAndRunPreview());
}

void TCaptureSession::OpenCamera(int32_t index, bool keepFormat) {
    FQueue->Enqueue(TOperationKind::OpenCamera, OpenCameraSteps(index, keepFormat));
}

void TCaptureSession::PrepareFormatChoice(std::function<void(const TPinFormats&)> ready) {
    FQueue->Enqueue(TOperationKind::PrepareFormatChoice,
                    {
                        [this](TOperation&) {
                            if (!FNextFormat)
                                FNextFormat = FDevices.SaveVideoMediaType();
                        },
                        ReleaseDevices(),
                        [this, ready](TOperation&) {
                            SelectVideoDevice(FDevices.VideoDevice(), QString(), true);
                            // The format chosen now is the one to keep.
                            FNextFormat.reset();
                            SetActivity(TActivity::Idle);
                            TPinFormats formats;
                            try {
                                if (HasCamera())
                                    formats = ReadPinFormats(FDevices.VideoCapturePin().Get());
                            } catch (...) {
                                // No pin to choose on: the preview comes
                                // back as it was.
                            }
                            // The choice is made once this operation has
                            // ended: the camera's other work goes on
                            // meanwhile.
                            ++FHandBacks;
                            QTimer::singleShot(0, this, [this, ready, formats] {
                                --FHandBacks;
                                ready(formats);
                            });
                        },
                    });
}

void TCaptureSession::ApplyFormatChoice(const std::optional<TMediaType>& chosen, bool store) {
    FQueue->Enqueue(TOperationKind::ApplyFormatChoice,
                    Joined<TStep>({[this, chosen, store](TOperation&) {
                                      // The camera may have gone meanwhile.
                                      if (!HasCamera())
                                          return;
                                      if (chosen)
                                          FDevices.ApplyVideoMediaType(chosen->AMMediaType());
                                      if (store)
                                          FDevices.SetVideoFormat(FDevices.GetVideoFormatText());
                                  }},
                                  BuildAndRunPreview()));
}

void TCaptureSession::SetAudioFormat(const TMediaType& format) {
    FQueue->Enqueue(TOperationKind::ChangeAudioFormat,
                    Joined<TStep>(
                        {
                            [this](TOperation& op) {
                                if (!FGraph->Query<IMediaControl>())
                                    op.End();
                            },
                            StopStreaming(FBounds.Halt),
                            [this, format](TOperation&) {
                                TPinList pins(FAudioSource->Get<IBaseFilter>().Get());
                                if (auto config = QueryAs<IAMStreamConfig>(pins.FirstPin().Get()))
                                    config->SetFormat(format.AMMediaType());
                            },
                        },
                        RunPreview()));
}

// ---------------------------------------------------------------------------
// Still pictures
// ---------------------------------------------------------------------------

void TCaptureSession::TakeStill(const QString& folder) {
    if (!Closed())
        FStills->TakeStill(folder);
}

// ---------------------------------------------------------------------------
// The recording
// ---------------------------------------------------------------------------

void TCaptureSession::StartRecording(const QString& folder, const TRecordingOptions& options) {
    // A camera still starting is waited for; a recording already asked for,
    // running or stopping makes this one nothing.
    if (RecordingBusy() || Recording() || Ending())
        return;
    FPreviewRebuiltAfterError = false;
    // What the start's steps hand each other.
    struct TStart {
        TRecordingSession::TNewFile file;
        TActivity before = TActivity::Idle;
        unsigned devicesAtStart = 0;
    };
    auto start = std::make_shared<TStart>();
    auto notStarted = [start](HRESULT result, TCause cause = TCause::Failure) {
        TOutcome outcome;
        outcome.Kind = TKind::RecordingNotStarted;
        outcome.Result = result;
        outcome.Cause = SUCCEEDED(result) ? TCause::Asked : cause;
        outcome.File = start->file.Path;
        return outcome;
    };
    FQueue->Enqueue(
        TOperationKind::StartRecording,
        {
            [this, start, notStarted](TOperation& op) {
                // The camera went while the start waited its turn: the lost
                // camera's notice says so, there is nothing to record.
                if (FCameraWatch.Lost() || !HasCamera() || !FGraph->Active()) {
                    Tell(notStarted(S_OK));
                    op.End();
                    return;
                }
                start->before = FActivity;
                start->devicesAtStart = FDeviceChanges;
                SetActivity(TActivity::StartingRecording);
            },
            // The file's name is chosen and the file made off this thread.
            [this, start, folder](TOperation& op) {
                op.Await(*FFileWorker,
                         [start, folder] {
                             start->file = TRecordingSession::CreateFile(folder);
                             return start->file.Result;
                         },
                         kFileBoundMs);
            },
            [this, start, notStarted](TOperation& op) {
                if (FAILED(op.Result())) {
                    // Nothing was touched: the preview goes on.
                    SetActivity(start->before);
                    Tell(notStarted(op.Result(),
                                    op.Result() == VFW_E_TIMEOUT ? TCause::Timeout : TCause::Failure));
                    op.End();
                    return;
                }
                if (FActivity != TActivity::StartingRecording) {
                    op.Replace(FailStart(notStarted(S_OK)));
                    return;
                }
                // The capture format, for the preview after the recording.
                FNextFormat = FDevices.SaveVideoMediaType();
                // The preview connections stay while the recording's are made.
                op.Insert({StopStreaming(FBounds.Halt)});
            },
            [this, start, notStarted, options](TOperation& op) {
                if (op.Result() == E_NOINTERFACE || op.Result() == VFW_E_TIMEOUT) {
                    op.Replace(FailStart(notStarted(
                        op.Result(), op.Result() == VFW_E_TIMEOUT ? TCause::Timeout : TCause::Failure)));
                    return;
                }
                // Quitting, or the camera lost, meanwhile: said elsewhere.
                if (FActivity != TActivity::StartingRecording) {
                    op.Replace(FailStart(notStarted(S_OK)));
                    return;
                }
                try {
                    FRecording->Connect(start->file, options);
                } catch (...) {
                    const TFailure failure = FailureOf(std::current_exception());
                    TOutcome outcome = notStarted(failure.Result);
                    outcome.Detail = failure.Detail;
                    // A failure on the camera while the device list changed:
                    // the camera went and came back during the start, which
                    // explains it; the user saw the cause.
                    if (CameraFailure(failure.Result) && start->devicesAtStart != FDeviceChanges) {
                        outcome.Result = S_OK;
                        outcome.Detail.clear();
                        outcome.Cause = TCause::Asked;
                    }
                    op.Replace(FailStart(outcome));
                    return;
                }
                ComPtr<IMediaControl> control = FGraph->Query<IMediaControl>();
                FGraph->NotifyRun();
                AwaitGraph(op, [control] { return control ? control->Run() : E_NOINTERFACE; },
                           FBounds.Run);
            },
            [this, start, notStarted](TOperation& op) {
                const HRESULT run = op.Result();
                if (FAILED(run)) {
                    TOutcome outcome =
                        notStarted(run, run == VFW_E_TIMEOUT ? TCause::Timeout : TCause::Failure);
                    if (CameraFailure(run) && start->devicesAtStart != FDeviceChanges) {
                        outcome.Result = S_OK;
                        outcome.Cause = TCause::Asked;
                    }
                    op.Replace(FailStart(outcome));
                    return;
                }
                // Quitting meanwhile: the recording is completed as the quit
                // completes one.
                if (FActivity == TActivity::StartingRecording) {
                    SetActivity(TActivity::Recording);
                    Tell(TKind::RecordingStarted, S_OK, start->file.Path);
                }
            },
        });
    // The start waits its turn: a recording is asked for from now on.
    emit StateChanged();
}

TCaptureSession::TSteps TCaptureSession::FailStart(const TOutcome& failure) {
    // What the start connected is taken back, its file removed once the
    // graph has let go of it, and the preview runs again.
    const std::shared_ptr<TFileBeingWritten> own = FRecording->TakeBack();
    const QString path = failure.File;
    return Joined<TStep>(
        {
            ReleaseDevices(),
            [this, failure, own, path](TOperation& op) {
                if (!path.isEmpty()) {
                    FFileWorker->Post(
                        [path, own] {
                            ReleaseReservedFile(path);
                            if (own)
                                QFile::remove(path);
                        },
                        {}, kFileBoundMs, {});
                }
                SetActivity(TActivity::Idle);
                // Judged once the graph has stopped, so that the camera's
                // own notice of its loss, sent as the start failed, has been
                // heard.
                const bool cameraGone =
                    FCameraWatch.Lost() ||
                    TCameraWatch::CameraPosition(FVideoSource->BaseFilter()) == -1;
                if (cameraGone) {
                    // The camera went as the recording started: the
                    // lost-camera handling says so.
                    TOutcome silent = failure;
                    silent.Result = S_OK;
                    silent.Detail.clear();
                    silent.Cause = TCause::Asked;
                    Tell(silent);
                    DiscardGraph();
                    op.End();
                    LoseCamera();
                    return;
                }
                Tell(failure);
                if (Ending())
                    op.End();
            },
        },
        RebuildPreview());
}

void TCaptureSession::StopRecording() {
    if (FActivity != TActivity::Recording)
        return;
    SetActivity(TActivity::Stopping);
    FQueue->Enqueue(TOperationKind::StopRecording, Joined(StopRecordingGraph(), RebuildPreview()));
}

TCaptureSession::TSteps TCaptureSession::StopRecordingGraph() {
    auto stopResult = std::make_shared<HRESULT>(S_OK);
    return {
        [this, stopResult](TOperation& op) {
            ComPtr<IMediaControl> control = FGraph->Query<IMediaControl>();
            FGraph->NotifyStop();
            // The file is completed (the graph drained, its index written)
            // and the graph lets go of it and of the devices.
            AwaitGraph(op,
                       [control, stopResult] {
                           if (!control)
                               return S_OK;
                           *stopResult = control->Stop();
                           control->Halt();
                           return S_OK;
                       },
                       FBounds.Stop);
        },
        [this, stopResult](TOperation& op) {
            if (op.Result() == VFW_E_TIMEOUT)
                *stopResult = VFW_E_TIMEOUT;
            TOutcome outcome;
            outcome.Kind = FActivity == TActivity::Closing ? TKind::Closed : TKind::RecordingStopped;
            outcome.File = FRecording->File();
            outcome.Result = FRecording->Failure();
            outcome.Cause = FRecording->EndCause();
            if (outcome.Cause == TCause::Asked && FAILED(outcome.Result))
                outcome.Cause = TCause::Failure;
            outcome.StopResult = *stopResult;
            FRecording->Disconnect();
            auto told = [this](const TOutcome& ended) {
                FRecording->Finished();
                if (ended.Kind == TKind::Closed) {
                    FClosedOutcome = ended;
                    return;
                }
                if (FActivity == TActivity::Stopping)
                    SetActivity(TActivity::Idle);
                Tell(ended);
                // The recording is over: one may start.
                emit StateChanged();
            };
            // The file is finished (by the repair when the stop could not
            // complete it) off this thread, while the preview starts again.
            // A stop given up may still have completed the file (a device
            // that did not let go after the end of the stream) and the
            // writer closed it then; one the abandoned graph still holds is
            // left for the start-up repair.
            auto state = std::make_shared<TOutcome::TFileState>(TOutcome::TFileState::LeftForRepair);
            const QString path = outcome.File;
            const HRESULT failure = outcome.Result;
            const HRESULT stop = outcome.StopResult;
            FFileWorker->Post(
                [path, failure, stop, state] {
                    ReleaseReservedFile(path);
                    *state = FinishRecordingFile(path, failure, stop);
                },
                [outcome, state, told]() mutable {
                    outcome.FileState = *state;
                    told(outcome);
                },
                kFileBoundMs, [outcome, told] { told(outcome); });
        },
    };
}

int64_t TCaptureSession::RecordingPositionMs() const {
    if (!FGraph->Active())
        return -1;
    auto seeking = FGraph->Get<IMediaSeeking>();
    int64_t position = 0;
    seeking->GetCurrentPosition(&position);
    return position / 10000;
}

int32_t TCaptureSession::DroppedFrames() const {
    IBaseFilter* filter = FVideoSource->MemberFilter();
    ComPtr<IAMDroppedFrames> frames = filter ? QueryAs<IAMDroppedFrames>(filter) : nullptr;
    int32_t dropped = 0;
    if (!frames || FAILED(frames->GetNumDropped(&dropped)))
        return -1;
    return dropped;
}

// ---------------------------------------------------------------------------
// Graph events, devices that come and go
// ---------------------------------------------------------------------------

void TCaptureSession::WatchGraph() {
    FGraph->OnGraphErrorAbort = [this](TFilterGraph*, intptr_t error, intptr_t filter) {
        // The microphone failing during a recording (its sound server gone)
        // ends it as a microphone that gives no more sound.
        if (filter != 0 && reinterpret_cast<IBaseFilter*>(filter) == FAudioSource->MemberFilter() &&
            FActivity == TActivity::Recording) {
            EndRecordingFor(TCause::MicrophoneSilent);
            return;
        }
        GraphError(HRESULT(error));
    };
    FGraph->OnGraphDeviceLost = [this](TFilterGraph*, intptr_t filter, intptr_t removed) {
        if (removed == 0 && filter != 0)
            GraphDeviceLost(reinterpret_cast<IBaseFilter*>(filter));
    };
    // The camera in use delivers nothing, or delivers again. A microphone
    // (its sound server) that stops delivering ends the recording it has
    // sound for, as one unplugged does: its file would otherwise wait for
    // sound that does not come.
    FGraph->EventHandlers[EC_STARVATION] = [this](TFilterGraph*, intptr_t filter,
                                                  intptr_t stalled) {
        auto* source = reinterpret_cast<IBaseFilter*>(filter);
        if (filter == 0)
            return;
        if (source == FVideoSource->MemberFilter())
            FCameraWatch.CameraStalled(stalled != 0);
        else if (source == FAudioSource->MemberFilter() && stalled != 0)
            EndRecordingFor(TCause::MicrophoneSilent);
    };
}

void TCaptureSession::GraphError(HRESULT error) {
    // A lost camera or microphone is handled as such (its notice comes
    // first and releases the graph, whose errors then go unheard).
    if (FCameraWatch.Lost())
        return;
    if (FActivity == TActivity::Recording) {
        // The first error ends the recording as the record button would.
        if (FRecording->Fail(error))
            StopRecording();
        return;
    }
    // During the preview: told once, and the preview rebuilt on a new graph
    // in the format it had, rather than left frozen; another failure of the
    // rebuilt one is not acted on again until a recording starts.
    if (FActivity != TActivity::Previewing || FPreviewRebuiltAfterError || !FGraph->Active())
        return;
    FPreviewRebuiltAfterError = true;
    const HRESULT reason = FAILED(error) ? error : E_FAIL;
    FQueue->Enqueue(TOperationKind::RecoverPreview,
                    Joined<TStep>(
                        {
                            [this](TOperation&) {
                                if (!FNextFormat)
                                    FNextFormat = FDevices.SaveVideoMediaType();
                            },
                            ReleaseDevices(),
                            [this, reason](TOperation&) { Tell(TKind::PreviewRecovered, reason); },
                        },
                        RebuildPreview()));
}

void TCaptureSession::GraphDeviceLost(IBaseFilter* filter) {
    if (filter == FVideoSource->MemberFilter())
        LoseCamera();
    else if (filter == FAudioSource->MemberFilter())
        // Nothing streams from the microphone outside a recording. A
        // recording with its sound ends as the record button ends it; the
        // preview goes on (the microphone is opened again when it is back).
        EndRecordingFor(TCause::MicrophoneGone);
}

void TCaptureSession::DevicesChanged() {
    ++FDeviceChanges;
    if (!FDevices.Listed() || Ending())
        return;
    if (FCameraWatch.Lost()) {
        FCameraWatch.DevicesChanged();
        return;
    }
    // A camera whose stream just stops when it goes (no error) is noticed
    // by its leaving the list.
    const int camera = TCameraWatch::CameraPosition(FVideoSource->BaseFilter());
    if (FDevices.VideoDevice() != -1 && HasCamera() && camera == -1) {
        LoseCamera();
        return;
    }
    // Devices are known by their place in the list, which others coming and
    // going change.
    if (camera != -1)
        FDevices.SetVideoDevice(camera);
    // A microphone back after it went away during a recording: opened again,
    // so that the next recording has sound.
    if (FAudioSource->HasDevice() && !FAudioSource->MemberFilter() && FGraph->Active() &&
        FActivity == TActivity::Previewing && !Busy())
        FAudioSource->MemberNotify(msRefresh, 0);
}

void TCaptureSession::LoseCamera() {
    if (FCameraWatch.Lost() || Ending())
        return;
    // The format it had: the one kept for the next preview (a recording's),
    // or the one in force.
    if (!FNextFormat) {
        try {
            FNextFormat = FDevices.SaveVideoMediaType();
        } catch (...) {
            // Its filter is gone already: the stored format text serves.
        }
    }
    TBaseFilter camera;
    camera.Assign(FVideoSource->BaseFilter());
    // From here on the video source has no device: rebuilding the preview
    // skips it.
    FVideoSource->ForgetDevice();
    FCameraWatch.CameraGone(camera);
}

void TCaptureSession::EndRecording() {
    EndRecordingFor(FCameraWatch.Stalled() ? TCause::CameraStalled : TCause::CameraGone);
}

void TCaptureSession::EndRecordingFor(TCause cause) {
    if (FActivity != TActivity::Recording)
        return;
    FRecording->SetEndCause(cause);
    StopRecording();
}

void TCaptureSession::ReleaseCamera() {
    FQueue->Enqueue(TOperationKind::ReleaseCamera,
                    {
                        ReleaseDevices(),
                        [this](TOperation&) {
                            FVideoSource->ForgetDevice();
                            EmptyGraph();
                            DiscardGraph();
                            FDevices.SetVideoDevice(-1);
                            SetActivity(TActivity::Idle);
                            FCameraWatch.LossHandled();
                        },
                    });
}

void TCaptureSession::OpenLostCamera(int index, bool sameCamera) {
    FQueue->Enqueue(
        TOperationKind::ReopenCamera,
        Joined<TStep>(
            {
                [this](TOperation& op) {
                    // A graph given up is still stuck in the camera's source:
                    // a new one would only get stuck beside it.
                    if (FWorker->StuckThreads() > 0 && !FGraph->Active()) {
                        FCameraWatch.OpenEnded(false);
                        op.End();
                    }
                },
                ReleaseDevices(),
                [this, index, sameCamera](TOperation& op) {
                    int32_t opened = -1;
                    bool ok = true;
                    try {
                        if (!sameCamera)
                            FNextFormat.reset();
                        // The same camera comes in the format it had, the
                        // windows where they are; another one in the stored
                        // format.
                        opened = sameCamera ? SelectVideoDevice(index, QString(), true)
                                            : SelectVideoDevice(index, FDevices.VideoFormat());
                    } catch (...) {
                        // Listed but not usable (another program holds it, or
                        // it went again meanwhile): tried again, nothing said.
                        ok = false;
                    }
                    FDevices.SetVideoDevice(opened);
                    if (!ok || opened == -1 || !FGraph->Active()) {
                        FCameraWatch.OpenEnded(false);
                        op.End();
                    }
                },
            },
            BuildAndRunPreview()));
}

void TCaptureSession::RestartCamera() {
    FQueue->Enqueue(
        TOperationKind::RestartCamera,
        {[this](TOperation& op) {
            if (Ending() || FCameraWatch.Lost() || !FCameraWatch.Stalled()) {
                op.End();
                return;
            }
            // A graph given up may still be stuck in the camera's source: a
            // new one would only get stuck beside it, unless the camera's
            // device service is connected anew (its server went away, and
            // the stuck source holds the old connection). Tried again once
            // it is out, or once the service answers anew.
            if (!FGraph->Query<IMediaControl>() && FWorker->StuckThreads() > 0 &&
                !RenewableDevices()) {
                op.End();
                return;
            }
            if (!FNextFormat) {
                try {
                    FNextFormat = FDevices.SaveVideoMediaType();
                } catch (...) {
                    // No format to read: the stored one serves.
                }
            }
            // The camera is opened anew in a new graph: a source taken back
            // to its ready state and run again is not the same as a new one
            // (GStreamer's PipeWire source crashes when its server went away
            // meanwhile).
            // Its device service is connected anew too, once no source holds
            // the old connection: a server that restarted (a PipeWire daemon
            // that died) lists the camera again only so.
            op.Replace(Joined<TStep>(
                {ReleaseDevices(),
                 [this](TOperation& op) {
                     EmptyGraph();
                     DiscardGraph();
                     AwaitDeviceServices(op);
                 },
                 [this](TOperation& op) {
                     const int stuck = FWorker->StuckThreads();
                     if (stuck > 0 && (op.Result() != S_OK || stuck >= kMostStuckRestarts)) {
                         op.End();
                         return;
                     }
                     SelectVideoDevice(FDevices.VideoDevice(),
                                       FNextFormat ? QString() : FDevices.VideoFormat(), true);
                 }},
                BuildAndRunPreview()));
        }});
}

void TCaptureSession::AwaitDeviceServices(TOperation& op) {
    op.Await(*FWorker, [] { return media::RenewDevices(kListBoundMs); }, 2 * kListBoundMs);
}

void TCaptureSession::RenewDeviceServices() {
    // The lost camera's graph is gone already.
    FQueue->Enqueue(TOperationKind::RenewDevices, {[this](TOperation& op) {
                        if (!Ending() && FCameraWatch.Lost() && !FGraph->Active())
                            AwaitDeviceServices(op);
                    }});
}

void TCaptureSession::PresenceChanged() {
    emit StateChanged();
}

void TCaptureSession::ReportUnusableCamera() {
    Tell(TKind::CameraUnusable);
}

void TCaptureSession::WatchFailed(const std::exception_ptr& failure) {
    if (FReports)
        FReports->UnexpectedFailure(failure);
}

// ---------------------------------------------------------------------------
// The end
// ---------------------------------------------------------------------------

void TCaptureSession::Close() {
    if (Ending())
        return;
    FCameraWatch.Stop();
    delete FDeviceNotice;
    FDeviceNotice = nullptr;
    // What waits to run is dropped; what runs ends first, but a camera that
    // has not started yet is not waited for.
    FQueue->DropWaiting();
    // Nor is the first listing, waiting for a device service.
    const bool starting =
        FActivity == TActivity::Starting || FQueue->Running(TOperationKind::ListDevices);
    SetActivity(TActivity::Closing);
    if (starting && FWorker->Busy())
        FWorker->GiveUpRunning();
    FQueue->Enqueue(TOperationKind::Close,
                    {
                        // A recording (or one that started meanwhile) is
                        // completed as a stop completes it.
                        [this](TOperation& op) {
                            if (FRecording->Connected())
                                op.Insert(StopRecordingGraph());
                        },
                        // Then the graph lets go of everything, and the
                        // files being finished are waited for.
                        ReleaseDevices(),
                        [this](TOperation& op) {
                            EmptyGraph();
                            DiscardGraph();
                            op.Await(*FFileWorker, [] { return S_OK; }, kFileBoundMs);
                        },
                        [this](TOperation&) {
                            SetActivity(TActivity::Closed);
                            TOutcome closed = FClosedOutcome;
                            closed.Kind = TKind::Closed;
                            Tell(closed);
                        },
                    });
}
