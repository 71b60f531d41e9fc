// SPDX-License-Identifier: GPL-3.0-or-later
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
// was not there before is taken up the same way, in the stored format. A
// camera that stalls (no frame, no error) is shown as such until its frames
// are back; a recording then ends as for a lost camera.
#include <QEvent>
#include <QScopeGuard>
#include <QTimer>

#include "widgets/ActionList.h"
#include "app/Application.h"
#include "widgets/ImageButton.h"
#include "files/TextConv.h"
#include "frmControl.h"
#include "capture/CameraWatch.h"
#include "capture/RecordingSession.h"
#include "frmView.h"
#include "media/Filter.h"
#include "media/FilterGraph.h"
#include "media/MediaTypes.h"
#include "media/MediaUtil.h"

using namespace media;

namespace {

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
    // The camera in use delivers nothing (the graph restarts it meanwhile),
    // or delivers again.
    CaptureGraph->EventHandlers[EC_STARVATION] = [this](TFilterGraph*, intptr_t filter,
                                                        intptr_t stalled) {
        if (!FDestroyed && filter != 0 &&
            reinterpret_cast<IBaseFilter*>(filter) == VideoSourceFilter->MemberFilter())
            FCameraWatch->CameraStalled(stalled != 0);
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
    CaptureGraph->EventHandlers.erase(EC_STARVATION);
    FCameraWatch->Stop();
}

bool TControlForm::CameraLost() const {
    return FCameraWatch->Lost();
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
    if (FCameraWatch->Lost()) {
        FCameraWatch->DevicesChanged();
        return;
    }
    // A camera whose stream just stops when it goes (no error) is noticed
    // by its leaving the list.
    const int camera = TCameraWatch::CameraPosition(VideoSourceFilter->BaseFilter());
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
    if (FCameraWatch->Lost())
        return;
    // The format it had: the one kept at the start of a recording, or the
    // one in force.
    std::optional<TMediaType> format = FRecording->TakeFormat();
    if (!format) {
        try {
            format = SaveVideoMediaType();
        } catch (...) {
            // Its filter is gone already: the stored format text serves.
        }
    }
    TBaseFilter camera;
    camera.Assign(VideoSourceFilter->BaseFilter());
    // From here on the video source has no device: rebuilding the preview
    // skips it.
    VideoSourceFilter->BaseFilter().StoreMoniker(nullptr);
    FCameraWatch->CameraGone(camera, std::move(format));
}

void TControlForm::LoseMicrophone() {
    // Nothing streams from the microphone outside a recording. A recording
    // with its sound ends as the record button ends it; the preview goes on
    // (the microphone is opened again when it is back).
    EndRecording();
}

void TControlForm::EndRecording() {
    if (btnCapture->Tag == 1)
        StopRecording();
}

void TControlForm::ReleaseCamera() {
    VideoSourceFilter->BaseFilter().StoreMoniker(nullptr);
    FVideoDevice = SelectVideoDevice(-1, QString());
    ShowCameraLost(true);
}

bool TControlForm::OpenCamera(int index, const TMediaType* format, bool sameCamera) {
    // A format handed to the graph is used up by the device's opening or
    // the preview's building; the watch keeps its own until the preview
    // runs.
    const auto cleanUp = qScopeGuard([this] { FRecording->KeepFormat(std::nullopt); });
    FVideoDevice = index;
    if (sameCamera) {
        FRecording->KeepFormat(format ? std::optional<TMediaType>(*format) : std::nullopt);
        const TWindowPlacement::THold kept(FPlacement);
        FVideoDevice = SelectVideoDevice(index, QString());
    } else {
        FVideoDevice = SelectVideoDevice(index, FVideoFormat);
    }
    SetPreview(true);
    ShowCameraLost(false);
    return true;
}

void TControlForm::ShowStalled(bool stalled) {
    if (FViewForm) {
        FViewForm->SetVideoNotice(stalled ? UiText("PreviewWindow",
                                                   "La caméra ne donne plus d'image.\r\n"
                                                   "Nouvel essai en cours...")
                                          : QString());
    }
    // Nothing to record until the picture is back.
    btnCapture->setEnabled(!stalled);
}

void TControlForm::ReportUnusableCamera() {
    ShowMessageBox(this,
                   UiText("Messages",
                          "La caméra est branchée mais ne peut pas être ouverte : "
                          "un autre programme l'utilise peut-être.\r\n"
                          "Le programme continue d'essayer de l'ouvrir."),
                   QString::fromLatin1(kApplicationTitle), QMessageBox::Warning);
}

void TControlForm::ShowCameraLost(bool lost) {
    if (FViewForm) {
        FViewForm->SetVideoNotice(lost ? UiText("PreviewWindow",
                                                "La caméra a été débranchée.\r\n"
                                                "L'image reviendra dès qu'elle sera rebranchée.")
                                       : QString());
    }
    // Recording waits for a camera too (a recording that ran was stopped).
    btnCapture->setEnabled(!lost);
}
