// SPDX-License-Identifier: GPL-3.0-or-later
#include "CaptureSession.h"

#include <QEvent>
#include <QFile>
#include <QScopeGuard>

#include <algorithm>
#include <stdexcept>

#include "app/Application.h"
#include "capture/RecordingOutcome.h"
#include "capture/SessionWorker.h"
#include "capture/StillCapture.h"
#include "files/FilesBeingWritten.h"
#include "files/TextConv.h"
#include "media/FilterGraph.h"
#include "media/MediaTypes.h"
#include "media/MediaUtil.h"
#include "media/SampleGrabber.h"
#include "media/VideoFormatChoice.h"
#include "media/VideoWindow.h"

using namespace media;

namespace {

// Whether a recording's start failed on the camera itself: an object or
// the capture device not found, or a filter without its device.
bool CameraFailure(HRESULT failure) {
    return failure == VFW_E_NOT_FOUND || failure == VFW_E_NO_CAPTURE_HARDWARE ||
           failure == E_NOINTERFACE;
}

bool CameraFailure(const std::exception_ptr& failure) {
    try {
        std::rethrow_exception(failure);
    } catch (const EDirectShowException& e) {
        return CameraFailure(e.Result());
    } catch (const EInterfaceNotSupported&) {
        return true;
    } catch (...) {
        return false;
    }
}

// How long a picture's encoding and writing, and a recording's finishing
// (the repair reads most of the file and writes it back), may take on a
// slow disk before the user is told.
constexpr int kFinishBoundMs = 120000;

bool HasDevice(const TFilter* source) {
    return source->BaseFilter().DataLength() != 0;
}

// The system's notices that a device came or went, on the user-interface
// thread; they stop with the receiver.
class TDeviceNotice : public QObject {
  public:
    TDeviceNotice(TCaptureSession* session) : QObject(session), FSession(session) {
        RegisterDeviceNotification(this, WM_DEVICECHANGE);
    }
    ~TDeviceNotice() override { UnregisterDeviceNotification(this); }

    bool event(QEvent* e) override {
        if (e->type() != WindowMessageEvent::TypeId())
            return QObject::event(e);
        if (static_cast<WindowMessageEvent*>(e)->message == WM_DEVICECHANGE)
            RunHandler([this] { FSession->DevicesChanged(); });
        return true;
    }

  private:
    TCaptureSession* FSession;
};

}  // namespace

TCaptureSession::TCaptureSession(QObject* parent)
    : QObject(parent),
      CaptureGraph(new TFilterGraph(this)),
      VideoSourceFilter(new TFilter(this)),
      AudioSourceFilter(new TFilter(this)),
      FWorker(new TSessionWorker("capture-graph", this)),
      FFileWorker(new TSessionWorker("capture-files", this)),
      FDevices(VideoSourceFilter, AudioSourceFilter),
      FCameraWatch(*this) {
    setObjectName(QStringLiteral("CaptureSession"));
    CaptureGraph->setObjectName(QStringLiteral("CaptureGraph"));
    CaptureGraph->SetMode(gmCapture);
    CaptureGraph->SetGraphEdit(true);
    CaptureGraph->SetLinearVolume(true);
    VideoSourceFilter->setObjectName(QStringLiteral("VideoSourceFilter"));
    VideoSourceFilter->SetFilterGraph(CaptureGraph);
    AudioSourceFilter->setObjectName(QStringLiteral("AudioSourceFilter"));
    AudioSourceFilter->SetFilterGraph(CaptureGraph);
    SampleGrabber = new TSampleGrabber(this);
    SampleGrabber->setObjectName(QStringLiteral("SampleGrabber"));
    SampleGrabber->SetFilterGraph(CaptureGraph);
    FStills = new TStillCapture(SampleGrabber, FFileWorker, this);
    connect(FStills, &TStillCapture::Taken, this, &TCaptureSession::StillTaken);
    connect(FStills, &TStillCapture::Failed, this, &TCaptureSession::StillFailed);
    FRecording = std::make_unique<TRecordingSession>(CaptureGraph, VideoSourceFilter,
                                                     AudioSourceFilter);
    WatchGraph();
}

TCaptureSession::~TCaptureSession() {
    FCameraWatch.Stop();
    delete FDeviceNotice;
    FDeviceNotice = nullptr;
    CaptureGraph->OnGraphErrorAbort = nullptr;
    CaptureGraph->OnGraphDeviceLost = nullptr;
    CaptureGraph->EventHandlers.erase(EC_STARVATION);
    // A graph still busy on the worker is left to it: it is never touched
    // here while a state change may be under way.
    if (FWorker->Busy())
        CaptureGraph->Abandon();
    FOperations.clear();
}

void TCaptureSession::SetVideoWindow(TVideoWindow* window) {
    if (FVideoWindow && FVideoWindow != window)
        FVideoWindow->SetFilterGraph(nullptr);
    FVideoWindow = window;
    FRecording->SetVideoWindow(window);
    if (window)
        window->SetFilterGraph(CaptureGraph);
}

bool TCaptureSession::Busy() const {
    return FOperating || !FOperations.empty() || FWorker->Busy() || FFileWorker->Busy() ||
           FStills->Waiting();
}

// ---------------------------------------------------------------------------
// Operations
// ---------------------------------------------------------------------------

void TCaptureSession::Enqueue(std::function<void()> operation) {
    if (FState == TState::Closed)
        return;
    FOperations.push_back(std::move(operation));
    if (!FOperating)
        Next();
}

void TCaptureSession::Next() {
    // Runs the waiting operations until one goes on off this thread; an
    // operation ends by calling Next() (again), at once or later.
    static thread_local int depth = 0;
    FOperating = false;
    if (depth > 0)
        return;
    ++depth;
    const auto leave = qScopeGuard([] { --depth; });
    while (!FOperating && !FOperations.empty()) {
        std::function<void()> operation = std::move(FOperations.front());
        FOperations.pop_front();
        FOperating = true;
        if (!RunHandler(operation))
            FOperating = false;
    }
}

void TCaptureSession::OnWorker(std::function<HRESULT()> job, int boundMs,
                               std::function<void(HRESULT)> then) {
    auto result = std::make_shared<HRESULT>(E_FAIL);
    // Past its bound the job is given up, and its thread makes the graph let
    // go of its devices once (if ever) it comes out of the job.
    ComPtr<IMediaControl> control = CaptureGraph->Query<IMediaControl>();
    auto finish = [this, then](HRESULT hr) {
        if (!RunHandler([&] { then(hr); }))
            Next();
    };
    FWorker->Post([job = std::move(job), result] { *result = job(); },
                  [result, finish] { finish(*result); }, boundMs,
                  [this, finish] {
                      GiveUpGraph();
                      finish(VFW_E_TIMEOUT);
                  },
                  [control] {
                      if (control)
                          control->Halt();
                  });
}

void TCaptureSession::GiveUpGraph() {
    // The graph is stuck inside a state change on a thread that is left to
    // it: it is never touched again. Its filters are made anew next time.
    if (CaptureGraph->Active())
        CaptureGraph->Abandon();
}

void TCaptureSession::Halt(std::function<void()> then) {
    ComPtr<IMediaControl> control = CaptureGraph->Query<IMediaControl>();
    if (!control) {
        then();
        return;
    }
    CaptureGraph->NotifyStop();
    OnWorker([control] { return control->Halt(); }, FBounds.Halt,
             [then](HRESULT) { then(); });
}

// ---------------------------------------------------------------------------
// Devices
// ---------------------------------------------------------------------------

bool TCaptureSession::ListDevices() {
    if (!FDevices.ListDevices())
        return false;
    if (!FDeviceNotice)
        FDeviceNotice = new TDeviceNotice(this);
    return true;
}

void TCaptureSession::FreeDevices() {
    try {
        FDevices.FreeDevices();
        FRecording->Release();
    } catch (...) {
    }
}

int32_t TCaptureSession::SelectVideoDevice(int32_t index, const QString& formatText) {
    CaptureGraph->EmptyGraph();
    CaptureGraph->SetActive(false);
    const int32_t opened = FDevices.StoreCamera(index);
    if (opened == -1)
        return -1;
    CaptureGraph->SetActive(true);
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
    if (!FKeepPlacement) {
        int32_t width = 0, height = 0;
        FDevices.GetVideoSize(width, height);
        emit FrameSize(width, height);
    }
    return opened;
}

// ---------------------------------------------------------------------------
// The preview
// ---------------------------------------------------------------------------

void TCaptureSession::BuildPreview() {
    auto builder = CaptureGraph->Get<ICaptureGraphBuilder2>();
    // The format kept for the next preview stays until a preview runs: a
    // camera that fails to start is tried again in it.
    if (FNextFormat)
        FDevices.ApplyVideoMediaType(FNextFormat->AMMediaType());
    if (HasDevice(VideoSourceFilter)) {
        auto source = VideoSourceFilter->Get<IBaseFilter>();
        auto grabber = SampleGrabber->Get<IBaseFilter>();
        auto renderer = FVideoWindow->Get<IBaseFilter>();
        builder->RenderStream(&PIN_CATEGORY_PREVIEW, nullptr, source.Get(), grabber.Get(),
                              renderer.Get());
    }
}

void TCaptureSession::RunPreview(std::function<void()> then) {
    ComPtr<IMediaControl> control = CaptureGraph->Query<IMediaControl>();
    if (!control) {
        then();
        return;
    }
    SetState(TState::Starting);
    CaptureGraph->NotifyRun();
    OnWorker([control] { return control->Run(); }, FBounds.Run, [this, then](HRESULT hr) {
        const bool closing = FState == TState::Closing || FState == TState::Closed;
        SetState(SUCCEEDED(hr) ? TState::Previewing : TState::Idle);
        if (SUCCEEDED(hr)) {
            FNextFormat.reset();
            FCameraWatch.OpenEnded(true);
            emit PreviewStarted();
        } else if (!closing && FCameraWatch.Opening()) {
            // A camera back but not usable (another program holds it): the
            // watch tries again quietly and says so once.
            FCameraWatch.OpenEnded(false);
        } else if (!closing && FCameraWatch.Lost()) {
            // The camera went while it started: the lost camera's notice
            // says so, and it is taken up when it is back.
        } else if (!closing) {
            // Not usable, or silent: tried again later, as a camera that
            // delivers nothing, and shown as such before the failure is
            // reported (the report may wait for the user). A camera already
            // shown as delivering no picture (frozen, its restart not
            // starting either) is not reported a second time.
            const bool reported = FCameraWatch.Stalled();
            FCameraWatch.CameraStalled(true);
            if (!reported)
                emit PreviewFailed(GraphFailureText(hr));
        }
        then();
    });
}

void TCaptureSession::RebuildPreview(std::function<void()> then) {
    // A new graph with the component filters, unconnected; the kept format
    // goes back on the camera and the preview runs.
    CaptureGraph->SetActive(false);
    if (!HasDevice(VideoSourceFilter) || FState == TState::Closing) {
        SetState(TState::Idle);
        then();
        return;
    }
    CaptureGraph->SetActive(true);
    BuildPreview();
    RunPreview(then);
}

void TCaptureSession::SetPreview(bool on) {
    if (!on) {
        Enqueue([this] {
            ComPtr<IMediaControl> control = CaptureGraph->Query<IMediaControl>();
            if (!control) {
                Next();
                return;
            }
            CaptureGraph->NotifyStop();
            OnWorker([control] { return control->Stop(); }, FBounds.Halt, [this](HRESULT) {
                SetState(TState::Idle);
                Next();
            });
        });
        return;
    }
    Enqueue([this] {
        if (!CaptureGraph->Active()) {
            Next();
            return;
        }
        BuildPreview();
        RunPreview([this] { Next(); });
    });
}

void TCaptureSession::OpenCamera(int32_t index, bool keepFormat,
                                 std::function<void(int32_t)> opened) {
    Enqueue([this, index, keepFormat, opened] {
        if (keepFormat && !FNextFormat)
            FNextFormat = FDevices.SaveVideoMediaType();
        Halt([this, index, keepFormat, opened] {
            const int32_t camera = SelectVideoDevice(index, QString());
            if (!keepFormat)
                FNextFormat.reset();
            FDevices.SetVideoDevice(camera);
            if (opened)
                opened(camera);
            if (!CaptureGraph->Active()) {
                Next();
                return;
            }
            BuildPreview();
            RunPreview([this] { Next(); });
        });
    });
}

void TCaptureSession::PrepareFormatChoice(std::function<void(IPin*)> ready) {
    Enqueue([this, ready] {
        if (!FNextFormat)
            FNextFormat = FDevices.SaveVideoMediaType();
        Halt([this, ready] {
            const auto next = qScopeGuard([this] { Next(); });
            {
                FKeepPlacement = true;
                const auto kept = qScopeGuard([this] { FKeepPlacement = false; });
                SelectVideoDevice(FDevices.VideoDevice(), QString());
            }
            // The format chosen now is the one to keep.
            FNextFormat.reset();
            SetState(TState::Idle);
            TPinList pins(VideoSourceFilter->Get<IBaseFilter>().Get());
            const ComPtr<IPin> pin = pins.Count() > 0 ? pins.FirstPin() : ComPtr<IPin>();
            // Nothing else runs on the graph until the choice is made.
            ready(pin.Get());
        });
    });
}

void TCaptureSession::SetAudioFormat(const TMediaType& format) {
    Enqueue([this, format] {
        ComPtr<IMediaControl> control = CaptureGraph->Query<IMediaControl>();
        if (!control) {
            Next();
            return;
        }
        CaptureGraph->NotifyStop();
        OnWorker([control] { return control->Stop(); }, FBounds.Halt, [this, format](HRESULT) {
            TPinList pins(AudioSourceFilter->Get<IBaseFilter>().Get());
            if (auto config = QueryAs<IAMStreamConfig>(pins.FirstPin().Get()))
                config->SetFormat(format.AMMediaType());
            RunPreview([this] { Next(); });
        });
    });
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

void TCaptureSession::StartRecording(const QString& path, const TRecordingOptions& options) {
    // A camera still starting is waited for; a recording already asked for,
    // running or stopping makes this one nothing.
    if (RecordingBusy() || FState == TState::Recording || FState == TState::Closing || Closed())
        return;
    FRecordingAsked = true;
    FPreviewErrorReported = false;
    Enqueue([this, path, options] {
        FRecordingAsked = false;
        // The camera went while the start waited its turn: the lost
        // camera's notice says so, there is nothing to record.
        if (FCameraWatch.Lost() || !HasDevice(VideoSourceFilter) || !CaptureGraph->Active()) {
            emit RecordingFailed(QString());
            Next();
            return;
        }
        FState = TState::StartingRecording;
        const unsigned devicesAtStart = FDeviceChanges;
        // The capture format, for the preview after the recording.
        FNextFormat = FDevices.SaveVideoMediaType();
        ComPtr<IMediaControl> control = CaptureGraph->Query<IMediaControl>();
        if (!control) {
            FailStart(path, GraphFailureText(E_NOINTERFACE));
            return;
        }
        // The preview connections stay while the recording's are made.
        CaptureGraph->NotifyStop();
        OnWorker([control] { return control->Stop(); }, FBounds.Halt,
                 [this, path, options, control, devicesAtStart](HRESULT stopped) {
                     if (stopped == VFW_E_TIMEOUT) {
                         FailStart(path, GraphFailureText(VFW_E_TIMEOUT));
                         return;
                     }
                     // Quitting, or the camera lost, meanwhile: said elsewhere.
                     if (FState != TState::StartingRecording) {
                         FailStart(path, QString());
                         return;
                     }
                     try {
                         FRecording->Connect(path, options);
                     } catch (...) {
                         const std::exception_ptr failure = std::current_exception();
                         FailStart(path, TRecordingSession::FailureText(failure, path),
                                   CameraFailure(failure), devicesAtStart);
                         return;
                     }
                     CaptureGraph->NotifyRun();
                     OnWorker([control] { return control->Run(); }, FBounds.Run,
                              [this, path, devicesAtStart](HRESULT run) {
                                  if (FAILED(run)) {
                                      FailStart(path, TRecordingSession::FailureText(run, path),
                                                CameraFailure(run), devicesAtStart);
                                      return;
                                  }
                                  FRecording->Started();
                                  // Quitting meanwhile: the recording is
                                  // completed as the quit completes one.
                                  if (FState == TState::StartingRecording) {
                                      FState = TState::Recording;
                                      emit RecordingStarted(path);
                                  }
                                  Next();
                              });
                 });
    });
}

void TCaptureSession::FailStart(const QString& path, const QString& reason,
                                bool onCamera, unsigned devicesAtStart) {
    // What the start connected is taken back, its file removed once the
    // graph has let go of it, and the preview runs again.
    // A file this start did not create (one that took the name first) is
    // not its to remove.
    std::shared_ptr<TFileBeingWritten> own = FRecording->TakeBack();
    Halt([this, path, reason, own, onCamera, devicesAtStart] {
        if (own)
            QFile::remove(path);
        SetState(TState::Idle);
        // Judged once the graph has stopped, so that the camera's own notice
        // of its loss, sent as the start failed, has been heard.
        const bool cameraGone =
            FCameraWatch.Lost() || FCameraWatch.Losing() ||
            TCameraWatch::CameraPosition(VideoSourceFilter->BaseFilter()) == -1;
        if (cameraGone) {
            // The camera went as the recording started: the lost-camera
            // handling says so.
            emit RecordingFailed(QString());
            CaptureGraph->SetActive(false);
            Next();
            LoseCamera();
            return;
        }
        // A failure on the camera while the device list changed: the
        // camera went and came back during the start, which explains it.
        // The preview comes back, with no report of a failure the user saw
        // the cause of.
        const bool cameraCameAndWent = onCamera && devicesAtStart != FDeviceChanges;
        emit RecordingFailed(cameraCameAndWent ? QString() : reason);
        if (FState == TState::Closing) {
            Next();
            return;
        }
        RebuildPreview([this] { Next(); });
    });
}

void TCaptureSession::StopRecording() {
    if (FState != TState::Recording)
        return;
    FState = TState::Stopping;
    emit RecordingStopping();
    Enqueue([this] { StopGraphOfRecording([this] { RebuildPreview([this] { Next(); }); }); });
}

void TCaptureSession::StopGraphOfRecording(std::function<void()> then) {
    ComPtr<IMediaControl> control = CaptureGraph->Query<IMediaControl>();
    auto stopResult = std::make_shared<HRESULT>(S_OK);
    CaptureGraph->NotifyStop();
    // The file is completed (the graph drained, its index written) and the
    // graph lets go of it and of the devices, off this thread.
    OnWorker(
        [control, stopResult] {
            if (!control)
                return S_OK;
            *stopResult = control->Stop();
            control->Halt();
            return S_OK;
        },
        FBounds.Stop,
        [this, stopResult, then](HRESULT hr) {
            FinishStop(hr == VFW_E_TIMEOUT ? hr : *stopResult, FRecording->Failure());
            then();
        });
}

void TCaptureSession::FinishStop(HRESULT stopResult, HRESULT failure) {
    const QString path = FRecording->File();
    FRecording->Disconnect();
    const bool closing = FState == TState::Closing;
    auto result = std::make_shared<TRecordingResult>();
    result->Path = path;
    result->EndReason = FStopReason;
    FStopReason.clear();
    FFinishing = true;
    auto told = [this, result, closing] {
        FFinishing = false;
        if (closing) {
            FClosedResult = *result;
            return;
        }
        if (FState == TState::Stopping)
            FState = TState::Idle;
        emit RecordingStopped(*result);
    };
    if (stopResult == VFW_E_TIMEOUT && !CaptureGraph->Active()) {
        // A stop given up leaves the file with the graph that holds it: the
        // start-up repair finishes it.
        result->Message = UiText("Messages", "L'arrêt de l'enregistrement a échoué : %1")
                              .arg(RecordingFailureReason(VFW_E_TIMEOUT, path));
        told();
    } else {
        // The file is finished (by the repair when the stop could not
        // complete it) off this thread, while the preview starts again.
        auto end = std::make_shared<TRecordingEnd>();
        FFileWorker->Post(
            [path, failure, stopResult, end] {
                *end = FinishRecordingFile(path, failure, stopResult);
            },
            [end, result, told] {
                result->Complete = end->plays;
                result->Repaired = end->repaired;
                result->Message = end->message;
                told();
            },
            kFinishBoundMs, told);
    }
}

// ---------------------------------------------------------------------------
// Graph events, devices that come and go
// ---------------------------------------------------------------------------

void TCaptureSession::WatchGraph() {
    CaptureGraph->OnGraphErrorAbort = [this](TFilterGraph*, intptr_t error, intptr_t) {
        GraphError(HRESULT(error));
    };
    CaptureGraph->OnGraphDeviceLost = [this](TFilterGraph*, intptr_t filter, intptr_t removed) {
        if (removed == 0 && filter != 0)
            GraphDeviceLost(reinterpret_cast<IBaseFilter*>(filter));
    };
    // The camera in use delivers nothing, or delivers again.
    CaptureGraph->EventHandlers[EC_STARVATION] = [this](TFilterGraph*, intptr_t filter,
                                                        intptr_t stalled) {
        if (filter != 0 && reinterpret_cast<IBaseFilter*>(filter) == VideoSourceFilter->MemberFilter())
            FCameraWatch.CameraStalled(stalled != 0);
    };
}

void TCaptureSession::GraphError(HRESULT error) {
    // A lost camera or microphone is handled as such (its notice comes
    // first and releases the graph, whose errors then go unheard).
    if (FCameraWatch.Lost() || FCameraWatch.Losing())
        return;
    if (FState == TState::Recording) {
        // The first error ends the recording as the record button would.
        if (FRecording->Fail(error))
            StopRecording();
        return;
    }
    // During the preview: reported once, and the preview rebuilt on a new
    // graph in the format it had, rather than left frozen; another failure
    // of the rebuilt one is not reported again until a recording starts.
    if (FState != TState::Previewing || FPreviewErrorReported || !CaptureGraph->Active())
        return;
    FPreviewErrorReported = true;
    const QString reason = CameraFailureReason(FAILED(error) ? error : E_FAIL);
    Enqueue([this, reason] {
        if (!FNextFormat)
            FNextFormat = FDevices.SaveVideoMediaType();
        Halt([this, reason] {
            emit PreviewRecovered(reason);
            RebuildPreview([this] { Next(); });
        });
    });
}

void TCaptureSession::GraphDeviceLost(IBaseFilter* filter) {
    if (filter == VideoSourceFilter->MemberFilter())
        LoseCamera();
    else if (filter == AudioSourceFilter->MemberFilter())
        // Nothing streams from the microphone outside a recording. A
        // recording with its sound ends as the record button ends it; the
        // preview goes on (the microphone is opened again when it is back).
        EndRecordingFor(UiText("Messages",
                               "L'enregistrement s'est arrêté : le micro a été débranché."));
}

void TCaptureSession::DevicesChanged() {
    ++FDeviceChanges;
    if (!FDevices.Listed() || Closed() || FState == TState::Closing)
        return;
    if (FCameraWatch.Lost()) {
        FCameraWatch.DevicesChanged();
        return;
    }
    // A camera whose stream just stops when it goes (no error) is noticed
    // by its leaving the list.
    const int camera = TCameraWatch::CameraPosition(VideoSourceFilter->BaseFilter());
    if (FDevices.VideoDevice() != -1 && HasDevice(VideoSourceFilter) && camera == -1) {
        LoseCamera();
        return;
    }
    // Devices are known by their place in the list, which others coming and
    // going change.
    if (camera != -1)
        FDevices.SetVideoDevice(camera);
    // A microphone back after it went away during a recording: opened again,
    // so that the next recording has sound.
    if (HasDevice(AudioSourceFilter) && !AudioSourceFilter->MemberFilter() &&
        CaptureGraph->Active() && FState == TState::Previewing && !Busy())
        AudioSourceFilter->MemberNotify(msRefresh, 0);
}

void TCaptureSession::LoseCamera() {
    if (FCameraWatch.Lost() || FState == TState::Closing || Closed())
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
    camera.Assign(VideoSourceFilter->BaseFilter());
    // From here on the video source has no device: rebuilding the preview
    // skips it.
    VideoSourceFilter->BaseFilter().StoreMoniker(nullptr);
    FCameraWatch.CameraGone(camera);
}

void TCaptureSession::EndRecording() {
    EndRecordingFor(FCameraWatch.Stalled()
                        ? UiText("Messages",
                                 "L'enregistrement s'est arrêté : la caméra ne donnait plus "
                                 "d'image.")
                        : UiText("Messages",
                                 "L'enregistrement s'est arrêté : la caméra a été débranchée."));
}

void TCaptureSession::EndRecordingFor(const QString& reason) {
    if (FState != TState::Recording)
        return;
    FStopReason = reason;
    StopRecording();
}

void TCaptureSession::ReleaseCamera() {
    Enqueue([this] {
        Halt([this] {
            VideoSourceFilter->BaseFilter().StoreMoniker(nullptr);
            CaptureGraph->EmptyGraph();
            CaptureGraph->SetActive(false);
            FDevices.SetVideoDevice(-1);
            SetState(TState::Idle);
            FCameraWatch.SetLosing(false);
            emit CameraLostChanged(true);
            Next();
        });
    });
}

void TCaptureSession::OpenLostCamera(int index, bool sameCamera) {
    Enqueue([this, index, sameCamera] {
        if (TSessionWorker::StuckThreads() > 0 && !CaptureGraph->Active()) {
            FCameraWatch.OpenEnded(false);
            Next();
            return;
        }
        Halt([this, index, sameCamera] {
            int32_t opened = -1;
            bool ok = true;
            try {
                if (!sameCamera)
                    FNextFormat.reset();
                // The same camera comes in the format it had, the windows
                // where they are; another one in the stored format.
                FKeepPlacement = sameCamera;
                const auto kept = qScopeGuard([this] { FKeepPlacement = false; });
                opened = sameCamera ? SelectVideoDevice(index, QString())
                                    : SelectVideoDevice(index, FDevices.VideoFormat());
            } catch (...) {
                // Listed but not usable (another program holds it, or it
                // went again meanwhile): tried again, nothing raised.
                ok = false;
            }
            FDevices.SetVideoDevice(opened);
            if (!ok || opened == -1 || !CaptureGraph->Active()) {
                FCameraWatch.OpenEnded(false);
                Next();
                return;
            }
            BuildPreview();
            RunPreview([this] {
                if (FState == TState::Previewing)
                    emit CameraLostChanged(false);
                Next();
            });
        });
    });
}

void TCaptureSession::RestartCamera() {
    Enqueue([this] {
        if (FState == TState::Closing || Closed() || FCameraWatch.Lost() ||
            !FCameraWatch.Stalled()) {
            Next();
            return;
        }
        ComPtr<IMediaControl> control = CaptureGraph->Query<IMediaControl>();
        if (!control) {
            // A graph given up is still stuck in the camera's source: a new
            // one would only get stuck beside it. Tried again once it is out.
            if (TSessionWorker::StuckThreads() > 0) {
                Next();
                return;
            }
            // The graph was given up: the camera is opened anew.
            Halt([this] {
                {
                    FKeepPlacement = true;
                    const auto kept = qScopeGuard([this] { FKeepPlacement = false; });
                    SelectVideoDevice(FDevices.VideoDevice(), FNextFormat ? QString() : FDevices.VideoFormat());
                }
                if (!CaptureGraph->Active()) {
                    Next();
                    return;
                }
                BuildPreview();
                RunPreview([this] { Next(); });
            });
            return;
        }
        // The sources start afresh: stopped, then run again.
        CaptureGraph->NotifyStop();
        OnWorker([control] { return control->Stop(); }, FBounds.Halt, [this](HRESULT) {
            RunPreview([this] { Next(); });
        });
    });
}

void TCaptureSession::ShowStalled(bool stalled) {
    emit CameraStalledChanged(stalled);
}

void TCaptureSession::ReportUnusableCamera() {
    emit UnusableCamera();
}

// ---------------------------------------------------------------------------
// The end
// ---------------------------------------------------------------------------

void TCaptureSession::Close() {
    if (FState == TState::Closing || Closed())
        return;
    FCameraWatch.Stop();
    delete FDeviceNotice;
    FDeviceNotice = nullptr;
    // What waits to run is dropped; what runs ends first, but a camera that
    // has not started yet is not waited for.
    FOperations.clear();
    const bool starting = FState == TState::Starting;
    FState = TState::Closing;
    emit Closing();
    if (starting && FWorker->Busy())
        FWorker->GiveUpRunning();
    Enqueue([this] {
        // A recording (or one that started meanwhile) is completed as a stop
        // completes it; then the graph lets go of everything, and the files
        // being finished are waited for.
        auto done = [this] {
            Halt([this] {
                // Emptied, then deactivated: the members' filters leave (the
                // graph is at rest: nothing here waits).
                try {
                    CaptureGraph->EmptyGraph();
                } catch (...) {
                }
                CaptureGraph->SetActive(false);
                FFileWorker->Post([] {}, [this] { CloseDown(); }, kFinishBoundMs,
                                  [this] { CloseDown(); });
            });
        };
        if (FRecording->Recording())
            StopGraphOfRecording(done);
        else
            done();
    });
}

void TCaptureSession::CloseDown() {
    FState = TState::Closed;
    emit ClosedDown(FClosedResult);
    Next();
}
