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
#include <QTimer>

#include "ActionList.h"
#include "ImageButton.h"
#include "TextConv.h"
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
        if (static_cast<WindowMessageEvent*>(e)->message == WM_DEVICECHANGE)
            form_->DevicesChanged();
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
    // A running recording ends as the record button ends it: its file is
    // completed, joins the strip and goes to the mail program when it was
    // to be mailed.
    if (btnCapture->Tag == 1)
        StopRecording();
    FVideoDevice = SelectVideoDevice(-1, QString());
    FKnownCameras = PresentCameras();
    ShowCameraLost(true);
    // Still listed: its stream failed, the device did not go. Tried again a
    // little later (not at once, nor in a tight loop).
    if (CameraPosition(FLostCamera) != -1) {
        QTimer::singleShot(kRetryListedCameraMs, this, [this] {
            if (FCameraLost && !FDestroyed)
                TakeUpCamera();
        });
    }
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
    if (same != -1) {
        // The same camera: the format it had, the windows where they are.
        DisposeMediaType(FSavedMediaType);
        FSavedMediaType = FLostMediaType;
        FLostMediaType = nullptr;
        FKeepPlacement = true;
        FVideoDevice = same;
        try {
            FVideoDevice = SelectVideoDevice(same, QString());
        } catch (...) {
            FKeepPlacement = false;
            throw;
        }
        FKeepPlacement = false;
    } else {
        DisposeMediaType(FLostMediaType);
        FLostMediaType = nullptr;
        FVideoDevice = fresh;
        FVideoDevice = SelectVideoDevice(fresh, FVideoFormat);
    }
    ShowCameraLost(false);
    SetPreview(true);
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
        FViewForm->SetVideoNotice(
            lost ? ShownText(u"La caméra a été débranchée.\r\n"
                             u"L'image reviendra dès qu'elle sera rebranchée.")
                 : QString());
    }
    // Recording waits for a camera too (a recording that ran was stopped).
    btnCapture->setEnabled(!lost);
}
