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

// A format whose sample format is told in its extra bytes, not by its tag.
constexpr uint16_t kWaveFormatExtensible = 0xFFFE;

// Fills a drop-down list with the names of the devices of one category, in
// enumeration order, and selects `index` (none when it is -1 or beyond).
void FillDeviceList(QComboBox* list, TSysDevEnum& devices, const GUID& category, int32_t index) {
    devices.SelectCategory(category);
    for (int i = 0; i < devices.DeviceCount(); ++i)
        list->addItem(QString::fromStdString(devices.DeviceEntry(i).FriendlyName));
    list->setCurrentIndex(index >= 0 && index < list->count() ? index : -1);
}

// Fills a compressor list and its "none" box from the current choice.
void FillCompressorList(QListWidget* list, QAbstractButton* none, TSysDevEnum& compressors,
                        int32_t current) {
    list->clear();
    for (int i = 0; i < compressors.DeviceCount(); ++i)
        list->addItem(QString::fromStdString(compressors.DeviceEntry(i).FriendlyName));
    if (list->count() > 0)
        SetListItemIndex(list, 0);
    none->setChecked(current == -1);
    if (current != -1)
        SetListItemIndex(list, current);
}

}  // namespace

void TControlForm::BindSettingsActions() {
    actSelectDevice->OnExecute = [this](QObject* s) { actSelectDeviceExecute(s); };
    actVideoFilter->OnExecute = [this](QObject* s) { actVideoFilterExecute(s); };
    actVideoPin->OnExecute = [this](QObject* s) { actVideoPinExecute(s); };
    actAudioFilter->OnExecute = [this](QObject* s) { actAudioFilterExecute(s); };
    actCompress->OnExecute = [this](QObject* s) { actCompressExecute(s); };
    actAudioFormat->OnExecute = [this](QObject* s) { actAudioFormatExecute(s); };
    actFolderConfig->OnExecute = [this](QObject* s) { actFolderConfigExecute(s); };
}

void TControlForm::actSelectDeviceExecute(QObject*) {
    TSelectDeviceDlg dialog(this);
    // A fresh listing each time: devices may have come or gone.
    TSysDevEnum devices;
    FillDeviceList(dialog.cbVideoDevice, devices, CLSID_VideoInputDeviceCategory,
                   FSession->VideoDevice());
    FillDeviceList(dialog.cbAudioDevice, devices, CLSID_AudioInputDeviceCategory,
                   FSession->AudioDevice());
    if (dialog.exec() != QDialog::Accepted)
        return;
    const int32_t video = dialog.cbVideoDevice->currentIndex();
    const int32_t audio = dialog.cbAudioDevice->currentIndex();
    bool changed = false;
    if (audio != FSession->AudioDevice()) {
        FSession->SetDevices(FSession->VideoDevice(), FSession->SelectAudioDevice(audio));
        changed = true;
    }
    // Without a camera chosen the program would be left without a graph:
    // the camera in use stays. Another camera is opened once the graph has
    // stopped, off this thread, and previewed.
    if (video != FSession->VideoDevice() && video != -1) {
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
            FSession->GetVideoSize(width, height);
            const bool coversScreen = FPlacement.SizeViewForm(width, height);
            FSession->SetVideoFormat(FSession->GetVideoFormatText());
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
    if (FSession->AudioDevice() == -1)
        return;
    auto config = QueryAs<IAMStreamConfig>(pins.FirstPin().Get());
    if (!config)
        return;
    AM_MEDIA_TYPE* current = nullptr;
    if (FAILED(config->GetFormat(&current)) || !current)
        return;
    struct TDispose {
        AM_MEDIA_TYPE*& record;
        ~TDispose() { DisposeMediaType(record); }
    } dispose{current};

    // The formats the microphone offers, and a buffer that holds the largest
    // of them and the current one.
    TAudioFormatChoose choose;
    TEnumMediaType offered(pins.FirstPin().Get());
    uint32_t size = WaveFormatSize(current->pbFormat, current->cbFormat);
    for (int i = 0; i < offered.Count(); ++i) {
        const AM_MEDIA_TYPE* type = offered.Item(i).AMMediaType();
        if (type->formattype != FORMAT_WaveFormatEx)
            continue;
        const uint32_t formatSize = WaveFormatSize(type->pbFormat, type->cbFormat);
        if (formatSize == 0 || formatSize > type->cbFormat)
            continue;
        choose.Formats.emplace_back(type->pbFormat, type->pbFormat + formatSize);
        size = std::max(size, formatSize);
    }
    if (size == 0)
        return;
    std::vector<uint8_t> buffer(size, 0);
    std::memcpy(buffer.data(), current->pbFormat,
                std::min<uint32_t>(current->cbFormat, uint32_t(buffer.size())));
    choose.Owner = this;
    choose.Style = ACMFORMATCHOOSE_STYLEF_INITTOWFXSTRUCT;
    choose.Format = buffer.data();
    choose.FormatSize = uint32_t(buffer.size());
    if (AudioFormatChoose(choose) != MMSYSERR_NOERROR)
        return;

    // The chosen format replaces the format block, at its own size; the
    // session stops the graph, sets it and runs the graph again.
    const uint32_t chosenSize = WaveFormatSize(buffer.data(), uint32_t(buffer.size()));
    auto* block = static_cast<uint8_t*>(CoTaskMemAlloc(chosenSize));
    if (!block)
        return;
    std::memcpy(block, buffer.data(), chosenSize);
    CoTaskMemFree(current->pbFormat);
    current->pbFormat = block;
    current->cbFormat = chosenSize;
    // The subtype names the sample format: it follows the chosen tag.
    WAVEFORMATEX chosen{};
    std::memcpy(&chosen, block, sizeof chosen);
    if (chosen.wFormatTag != kWaveFormatExtensible)
        current->subtype = FourCCGuid(chosen.wFormatTag);
    FSession->SetAudioFormat(TMediaType(current));
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
