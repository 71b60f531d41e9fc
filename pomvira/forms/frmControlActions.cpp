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
#include "media/Filter.h"
#include "media/FilterGraph.h"
#include "media/MediaTypes.h"
#include "media/MediaUtil.h"

using namespace media;

namespace {

// Fills a compressor list and its "none" box from the current choice.
void FillCompressorList(QListWidget* list, QAbstractButton* none, TSysDevEnum& compressors,
                        int32_t current) {
    list->clear();
    QStringList names;
    for (int i = 0; i < compressors.DeviceCount(); ++i)
        names << QString::fromStdString(compressors.DeviceEntry(i).FriendlyName);
    // Encoders of one name (libav's AC-3 encoder and its fixed-point one)
    // are told apart as devices are.
    list->addItems(DistinctDeviceNames(names));
    if (list->count() > 0)
        SetListItemIndex(list, 0);
    none->setChecked(current == -1);
    if (current != -1)
        SetListItemIndex(list, current);
}

}  // namespace

void TControlForm::actSelectDeviceExecute(QObject*) {
    TSelectDeviceDlg dialog(this);
    // A fresh listing each time: devices may have come or gone.
    TSysDevEnum devices;
    FillDeviceList(dialog.cbVideoDevice, devices, CLSID_VideoInputDeviceCategory,
                   FSession->Devices().VideoDevice());
    FillDeviceList(dialog.cbAudioDevice, devices, CLSID_AudioInputDeviceCategory,
                   FSession->Devices().AudioDevice());
    if (dialog.exec() != QDialog::Accepted)
        return;
    const int32_t video = dialog.cbVideoDevice->currentIndex();
    const int32_t audio = dialog.cbAudioDevice->currentIndex();
    bool changed = false;
    if (audio != FSession->Devices().AudioDevice()) {
        TCaptureDevices& devices = FSession->Devices();
        devices.SetDevices(devices.VideoDevice(), devices.SelectAudioDevice(audio, CaptureGraph));
        changed = true;
    }
    // Without a camera chosen the program would be left without a graph:
    // the camera in use stays. Another camera is opened once the graph has
    // stopped, off this thread, and previewed.
    if (video != FSession->Devices().VideoDevice() && video != -1) {
        FSession->OpenCamera(video, false);
        return;
    }
    if (changed)
        FSession->SetPreview(true);
}

void TControlForm::actVideoFilterExecute(QObject*) {
    // The graph keeps running: the settings act on the live picture.
    OpenFilterSettingsDialog(this, VideoSourceFilter->Get<IBaseFilter>().Get(), 0);
}

void TControlForm::actAudioFilterExecute(QObject*) {
    OpenFilterSettingsDialog(this, AudioSourceFilter->Get<IBaseFilter>().Get(), 0);
}

void TControlForm::actVideoPinExecute(QObject*) {
    // The camera is opened again in a new, unconnected graph, its format put
    // back, so that the pin's page may offer every format (the graph stops
    // first, off this thread); the page opens once it is ready.
    FSession->PrepareFormatChoice([this](IPin* pin) {
        if (!pin)
            return;
        if (OpenPinSettingsDialog(this, pin) == S_OK) {
            int32_t width = 0, height = 0;
            FSession->Devices().GetVideoSize(width, height);
            const bool coversScreen = FPlacement.SizeViewForm(width, height);
            FSession->Devices().SetVideoFormat(FSession->Devices().GetVideoFormatText());
            FPlacement.PlaceWindows(coversScreen);
        }
        FSession->SetPreview(true);
    });
}

void TControlForm::actCompressExecute(QObject*) {
    TCompressDlg dialog(this);
    // The enumerators live while the dialog is open, also when a step fails.
    TSysDevEnum videoCompressors(CLSID_VideoCompressorCategory);
    TSysDevEnum audioCompressors(CLSID_AudioCompressorCategory);
    FillCompressorList(dialog.lstVideoComp, dialog.chkNotVComp, videoCompressors, FVideoCompress);
    FillCompressorList(dialog.lstAudioComp, dialog.chkNotAComp, audioCompressors, FAudioCompress);
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
    TPinList pins(AudioSourceFilter->Get<IBaseFilter>().Get());
    if (FSession->Devices().AudioDevice() == -1)
        return;
    // The session stops the graph, sets the chosen format and runs the
    // graph again.
    if (const std::optional<TMediaType> chosen = ChoosePinAudioFormat(this, pins.FirstPin().Get()))
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
