// SPDX-License-Identifier: GPL-3.0-or-later
// The control panel's settings actions: choosing the input devices, the
// device's own picture and sound settings, the capture format, the
// compressors for recordings, the sound format and the two save folders.
#include <QCheckBox>
#include <QComboBox>
#include <QListWidget>
#include <algorithm>
#include <cstring>

#include "widgets/ActionList.h"
#include "dialogs/AudioFormatChooser.h"
#include "dialogs/BrowseEdit.h"
#include "dialogs/DialogKit.h"
#include "dialogs/DlgCompress.h"
#include "dialogs/DlgSaveFolder.h"
#include "dialogs/DlgSelectDevice.h"
#include "frmControl.h"
#include "capture/CaptureSession.h"
#include "media/FormatChoice.h"
#include "media/MediaTypes.h"
#include "media/MediaUtil.h"
#include "media/VideoFormatChoice.h"

using namespace media;

namespace {

// Fills a compressor list and its "none" box from the current choice.
void FillCompressorList(QListWidget* list, QAbstractButton* none, const QStringList& compressors,
                        int32_t current) {
    list->clear();
    // Encoders of one name (libav's AC-3 encoder and its fixed-point one)
    // are told apart as devices are.
    list->addItems(DistinctDeviceNames(compressors));
    if (list->count() > 0)
        SetListItemIndex(list, 0);
    none->setChecked(current == -1);
    if (current != -1)
        SetListItemIndex(list, current);
}

// A format's frame size (both 0 for a format without one).
QSize FrameSizeOf(const TMediaType& format) {
    const TVideoOffer offer = VideoOfferOf(*format.AMMediaType());
    return QSize(offer.Width, offer.Height);
}

}  // namespace

void TControlForm::actSelectDeviceExecute(QObject*) {
    TSelectDeviceDlg dialog(this);
    // A fresh listing each time: devices may have come or gone.
    FillDeviceList(dialog.cbVideoDevice, FSession->PresentCameras(),
                   FSession->Devices().VideoDevice());
    FillDeviceList(dialog.cbAudioDevice, FSession->PresentMicrophones(),
                   FSession->Devices().AudioDevice());
    if (dialog.exec() != QDialog::Accepted)
        return;
    // The session opens what changed off this thread and previews again;
    // without a camera chosen the camera in use stays.
    FSession->ChooseDevices(dialog.cbVideoDevice->currentIndex(),
                            dialog.cbAudioDevice->currentIndex());
}

void TControlForm::actVideoFilterExecute(QObject*) {
    // The graph keeps running: the settings act on the live picture.
    OpenFilterSettingsDialog(this, FSession->CameraSettingsTarget().Get(), 0);
}

void TControlForm::actAudioFilterExecute(QObject*) {
    OpenFilterSettingsDialog(this, FSession->MicrophoneSettingsTarget().Get(), 0);
}

void TControlForm::actVideoPinExecute(QObject*) {
    // The camera is opened again in a new, unconnected graph, its format put
    // back, so that its page may offer every format (the graph stops first,
    // off this thread); the page opens once its formats are there, outside
    // the session's work, and the session puts the chosen one on the camera.
    FSession->PrepareFormatChoice([this](const TPinFormats& formats) {
        std::optional<TMediaType> chosen;
        const bool shown = !formats.PinName.empty() &&
                           ChooseFormatOnPages(this, formats, chosen) == S_OK;
        if (!shown) {
            FSession->ApplyFormatChoice(std::nullopt, false);
            return;
        }
        const std::optional<TMediaType>& format = chosen ? chosen : formats.InForce;
        const QSize size = format ? FrameSizeOf(*format) : QSize();
        const bool coversScreen = FPlacement.SizeViewForm(size.width(), size.height());
        FSession->ApplyFormatChoice(chosen, true);
        FPlacement.PlaceWindows(coversScreen);
    });
}

void TControlForm::actCompressExecute(QObject*) {
    TCompressDlg dialog(this);
    FillCompressorList(dialog.lstVideoComp, dialog.chkNotVComp, TCaptureSession::VideoCompressors(),
                       FVideoCompress);
    FillCompressorList(dialog.lstAudioComp, dialog.chkNotAComp, TCaptureSession::AudioCompressors(),
                       FAudioCompress);
    if (dialog.exec() == QDialog::Accepted) {
        FVideoCompress = dialog.VideoCompIndex;
        FAudioCompress = dialog.AudioCompIndex;
    }
}

void TControlForm::actAudioFormatExecute(QObject*) {
    ChooseAudioFormat();
}

void TControlForm::ChooseAudioFormat() {
    // Without a microphone this request fails: "Interface not supported".
    const TPinFormats formats = FSession->MicrophoneFormats();
    if (FSession->Devices().AudioDevice() == -1)
        return;
    // The session stops the graph, sets the chosen format and runs the
    // graph again.
    if (const std::optional<TMediaType> chosen = ChoosePinAudioFormat(this, formats))
        FSession->SetAudioFormat(*chosen);
}

void TControlForm::actFolderConfigExecute(QObject*) {
    TSaveFolderDlg dialog(this);
    dialog.edtVideoFolder->SetPath(FVideoFolder);
    dialog.edtSnapshotFolder->SetPath(FSnapFolder);
    // Taken as they stand; checked at the next start, written at shut-down.
    if (dialog.exec() == QDialog::Accepted) {
        FVideoFolder = dialog.edtVideoFolder->Path();
        FSnapFolder = dialog.edtSnapshotFolder->Path();
    }
}
