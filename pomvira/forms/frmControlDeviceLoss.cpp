// The control panel and devices that come and go: a camera unplugged while
// it is in use, plugged back, or another one plugged in meanwhile; a
// microphone that goes away.
//
// When the camera in use goes away (its stream ends with a device-lost
// error, or it leaves the device list), the graph is released, so nothing
// streams and nothing waits on a device that is not there, and the preview
// window says so in its video area. The panel stays usable; the actions that
// need a camera are disabled meanwhile. When a camera comes back with the
// same identity (the serialized device moniker), it is opened again in the
// format it had and the preview resumes by itself; a camera plugged in that
// was not there before is taken up the same way, in the stored format.
#include <QEvent>
#include <QScopeGuard>
#include <QTimer>

#include "widgets/ActionList.h"
#include "app/Application.h"
#include "widgets/ImageButton.h"
#include "files/TextConv.h"
#include "frmControl.h"
#include "frmView.h"
#include "media/Filter.h"
#include "media/FilterGraph.h"
#include "media/MediaTypes.h"
#include "media/MediaUtil.h"

using namespace media;

namespace {

// How long after a camera went away while it is still listed (its stream
// failed, the device did not leave) the panel tries it again.
constexpr int kRetryListedCameraMs = 2000;

// Receives the system's device notices on the user-interface thread and
// stops them when it goes.
class TDeviceNotice : public QObject {
  public:
    TDeviceNotice(TControlForm* form) : QObject(form), form_(form) {
        RegisterDeviceNotification(this, WM_DEVICECHANGE);
    }
    ~TDeviceNotice() override { UnregisterDeviceNotification(this); }

    bool event(QEvent* e) override {
        if (e->type() != WindowMessageEvent::TypeId())
            return QObject::event(e);
        // A camera that cannot be opened is reported here, and the notices
        // go on.
        if (static_cast<WindowMessageEvent*>(e)->message == WM_DEVICECHANGE)
            RunHandler([this] { form_->DevicesChanged(); });
        return true;
    }

  private:
    TControlForm* form_;
};

}  // namespace

void TControlForm::WatchDevices() {
    CaptureGraph->OnGraphDeviceLost = [this](TFilterGraph*, intptr_t filter, intptr_t removed) {
        if (removed == 0)
            GraphDeviceLost(filter);
    };
    FDeviceNotice = new TDeviceNotice(this);
}

bool TControlForm::NeedsCamera(const TAction* action) const {
    // Without a camera there is nothing to take a picture of, to record or
    // to set up: these actions wait for one.
    return action == actSnapShot || action == actVideoFilter || action == actVideoPin ||
           action == actCapAndMail;
}

void TControlForm::UnwatchDevices() {
    delete FDeviceNotice;
    FDeviceNotice = nullptr;
    CaptureGraph->OnGraphDeviceLost = nullptr;
    DisposeMediaType(FLostMediaType);
    FLostMediaType = nullptr;
}

void TControlForm::GraphDeviceLost(intptr_t filter) {
    if (FDestroyed || filter == 0)
        return;
    auto* lost = reinterpret_cast<IBaseFilter*>(filter);
    if (lost == VideoSourceFilter->MemberFilter())
        LoseCamera();
    else if (lost == AudioSourceFilter->MemberFilter())
        LoseMicrophone();
}

void TControlForm::DevicesChanged() {
    if (FDestroyed || !FDevEnum)
        return;
    if (FCameraLost) {
        // Not while the loss is still being handled: a recording it stopped
        // may be with the mail program, and the graph is released after.
        if (!FLosingCamera)
            TakeUpCamera();
        return;
    }
    // A camera whose stream just stops when it goes (no error) is noticed
    // by its leaving the list.
    const int camera = CameraPosition(VideoSourceFilter->BaseFilter());
    if (FVideoDevice != -1 && VideoSourceFilter->BaseFilter().DataLength() != 0 && camera == -1) {
        LoseCamera();
        return;
    }
    // Devices are known by their place in the list, which others coming and
    // going change.
    if (camera != -1)
        FVideoDevice = camera;
    // A microphone back after it went away during a recording: opened again,
    // so that the next recording has sound.
    if (AudioSourceFilter->BaseFilter().DataLength() != 0 && !AudioSourceFilter->MemberFilter() &&
        CaptureGraph->Active() && btnCapture->Tag != 1)
        AudioSourceFilter->MemberNotify(msRefresh, 0);
}

void TControlForm::LoseCamera() {
    if (FCameraLost)
        return;
    FCameraLost = true;
    FLosingCamera = true;
    const auto done = qScopeGuard([this] { FLosingCamera = false; });
    FLostCamera.Assign(VideoSourceFilter->BaseFilter());
    DisposeMediaType(FLostMediaType);
    FLostMediaType = nullptr;
    // The format it had: the one kept at the start of a recording, or the
    // one in force.
    if (FSavedMediaType) {
        FLostMediaType = FSavedMediaType;
        FSavedMediaType = nullptr;
    } else {
        try {
            FLostMediaType = SaveVideoMediaType();
        } catch (...) {
            // Its filter is gone already: the stored format text serves.
        }
    }
    // From here on the video source has no device: rebuilding the preview
    // skips it.
    VideoSourceFilter->BaseFilter().StoreMoniker(nullptr);
    FKnownCameras = PresentCameras();
    // A running recording ends as the record button ends it: its file is
    // completed, joins the strip and goes to the mail program when it was
    // to be mailed (the events run meanwhile).
    if (btnCapture->Tag == 1)
        StopRecording();
    FVideoDevice = SelectVideoDevice(-1, QString());
    ShowCameraLost(true);
    // Still listed (its stream failed, the device did not go), or a camera
    // came while the recording was being finished: tried a little later
    // (not at once, nor in a tight loop).
    RetryCameraLater();
}

void TControlForm::RetryCameraLater() {
    if (PresentCameras().empty())
        return;
    QTimer::singleShot(kRetryListedCameraMs, this, [this] {
        if (FCameraLost && !FDestroyed && !FLosingCamera)
            RunHandler([this] { TakeUpCamera(); });
    });
}

void TControlForm::LoseMicrophone() {
    // Nothing streams from the microphone outside a recording. A recording
    // with its sound ends as the record button ends it; the preview goes on
    // (the microphone is opened again when it is back).
    if (btnCapture->Tag == 1)
        StopRecording();
}

bool TControlForm::TakeUpCamera() {
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
    try {
        if (same != -1) {
            // The same camera: the format it had, the windows where they are.
            DisposeMediaType(FSavedMediaType);
            FSavedMediaType = FLostMediaType;
            FLostMediaType = nullptr;
            FKeepPlacement = true;
            FVideoDevice = same;
            FVideoDevice = SelectVideoDevice(same, QString());
            FKeepPlacement = false;
        } else {
            DisposeMediaType(FLostMediaType);
            FLostMediaType = nullptr;
            FVideoDevice = fresh;
            FVideoDevice = SelectVideoDevice(fresh, FVideoFormat);
        }
        SetPreview(true);
    } catch (...) {
        // Listed but not usable (another program holds it, or it went
        // again): still lost, its format kept, tried again at the next
        // device notice. The error is reported as any other.
        FKeepPlacement = false;
        if (!FLostMediaType) {
            FLostMediaType = FSavedMediaType;
            FSavedMediaType = nullptr;
        }
        VideoSourceFilter->BaseFilter().StoreMoniker(nullptr);
        FVideoDevice = SelectVideoDevice(-1, QString());
        FCameraLost = true;
        throw;
    }
    ShowCameraLost(false);
    return true;
}

std::vector<TBaseFilter> TControlForm::PresentCameras() {
    std::vector<TBaseFilter> cameras;
    FDevEnum->SelectCategory(CLSID_VideoInputDeviceCategory);
    for (int i = 0; i < FDevEnum->DeviceCount(); ++i) {
        TBaseFilter camera;
        camera.StoreMoniker(FDevEnum->DeviceMoniker(i).Get());
        cameras.push_back(camera);
    }
    return cameras;
}

int TControlForm::CameraPosition(const TBaseFilter& camera) {
    const std::vector<TBaseFilter> present = PresentCameras();
    for (size_t i = 0; i < present.size(); ++i) {
        if (present[i].Equals(camera))
            return int(i);
    }
    return -1;
}

void TControlForm::ShowCameraLost(bool lost) {
    if (FViewForm) {
        FViewForm->SetVideoNotice(lost
                                      ? ShownText(u"La caméra a été débranchée.\r\n"
                                                  u"L'image reviendra dès qu'elle sera rebranchée.")
                                      : QString());
    }
    // Recording waits for a camera too (a recording that ran was stopped).
    btnCapture->setEnabled(!lost);
}
