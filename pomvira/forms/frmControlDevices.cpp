// SPDX-License-Identifier: GPL-3.0-or-later
// The control panel's devices and capture graph: listing the input devices,
// opening one camera and one microphone as the graph's sources, keeping and
// restoring the capture format, sizing the preview window to the frame size,
// building and running the live preview, and putting the chosen compressors
// into the graph for a recording.
#include "frmControl.h"
#include "capture/RecordingSession.h"

#include <QGuiApplication>
#include <QScreen>
#include <stdexcept>

#include "frmView.h"
#include "media/Filter.h"
#include "media/FilterGraph.h"
#include "media/MediaTypes.h"
#include "media/MediaUtil.h"
#include "media/SampleGrabber.h"
#include "media/VideoFormatChoice.h"
#include "media/VideoWindow.h"

using namespace media;

namespace {
// The description of the format in force on a capture pin.
QString PinFormatText(IPin* pin) {
    auto config = QueryAs<IAMStreamConfig>(pin);
    AM_MEDIA_TYPE* type = nullptr;
    if (config)
        config->GetFormat(&type);
    const QString text = type ? DescribeMediaType(type) : QString();
    DisposeMediaType(type);
    return text;
}
}  // namespace

bool TControlForm::ListDevices() {
    FVideoDevices = std::make_unique<QStringList>();
    FAudioDevices = std::make_unique<QStringList>();
    FDevEnum = std::make_unique<TSysDevEnum>(CLSID_VideoInputDeviceCategory);
    if (FDevEnum->DeviceCount() == 0)
        return false;
    for (int i = 0; i < FDevEnum->DeviceCount(); ++i)
        FVideoDevices->append(QString::fromStdString(FDevEnum->DeviceEntry(i).FriendlyName));
    FDevEnum->SelectCategory(CLSID_AudioInputDeviceCategory);
    for (int i = 0; i < FDevEnum->DeviceCount(); ++i)
        FAudioDevices->append(QString::fromStdString(FDevEnum->DeviceEntry(i).FriendlyName));
    return true;
}

void TControlForm::FreeDevices() {
    try {
        FAudioDevices.reset();
        FVideoDevices.reset();
        FDevEnum.reset();
        if (FRecording)
            FRecording->Release();
    } catch (...) {
    }
}

ComPtr<IPin> TControlForm::VideoCapturePin() {
    TPinList pins(VideoSourceFilter->Get<IBaseFilter>().Get());
    return pins.FirstPin();
}

int32_t TControlForm::SelectVideoDevice(int32_t index, const QString& formatText) {
    CaptureGraph->EmptyGraph();
    CaptureGraph->SetActive(false);
    if (index == -1)
        return -1;
    FDevEnum->SelectCategory(CLSID_VideoInputDeviceCategory);
    const int count = FDevEnum->DeviceCount();
    if (count == 0)
        return -1;
    const int32_t opened = std::min(index, int32_t(count - 1));
    VideoSourceFilter->BaseFilter().StoreMoniker(FDevEnum->DeviceMoniker(opened).Get());
    CaptureGraph->SetActive(true);
    bool restored = false;
    if (!formatText.isEmpty()) {
        ApplyVideoFormatText(formatText);
        restored = PinFormatText(VideoCapturePin().Get()) == formatText;
    } else if (const std::optional<TMediaType> saved = FRecording->TakeFormat()) {
        ApplyVideoMediaType(saved->AMMediaType());
        restored = true;
    }
    // No stored format, or one this camera does not offer: the largest
    // smooth format whose framed preview fits the work area with the panel
    // below it, rather than the camera's first listed one.
    QScreen* screen = QGuiApplication::primaryScreen();
    if (!restored && FViewForm && screen) {
        const QRect work = screen->availableGeometry();
        const QSize frame = FViewForm->GetFrameRect(0, 0).size();
        ApplyFirstVideoFormat(VideoCapturePin().Get(), work.width() - frame.width(),
                              work.height() - frame.height() - shpNormal->height());
    }
    if (!FPlacement.Kept()) {
        int32_t width = 0, height = 0;
        GetVideoSize(width, height);
        FPlacement.FitVideo(width, height);
    }
    return opened;
}

int32_t TControlForm::SelectAudioDevice(int32_t index) {
    FDevEnum->SelectCategory(CLSID_AudioInputDeviceCategory);
    const int count = FDevEnum->DeviceCount();
    if (count == 0)
        return -1;
    const int32_t opened = std::min(index, int32_t(count - 1));
    if (opened == -1)
        return -1;
    AudioSourceFilter->BaseFilter().StoreMoniker(FDevEnum->DeviceMoniker(opened).Get());
    AudioSourceFilter->MemberNotify(msRefresh, 0);
    AudioSourceFilter->SetFilterGraph(CaptureGraph);
    return opened;
}

void TControlForm::SetPreview(bool on) {
    if (!on) {
        CaptureGraph->StopGraph();
        return;
    }
    auto builder = CaptureGraph->Get<ICaptureGraphBuilder2>();
    if (const std::optional<TMediaType> saved = FRecording->TakeFormat())
        ApplyVideoMediaType(saved->AMMediaType());
    if (VideoSourceFilter->BaseFilter().DataLength() != 0) {
        auto source = VideoSourceFilter->Get<IBaseFilter>();
        auto grabber = SampleGrabber->Get<IBaseFilter>();
        auto renderer = FVideoWindow->Get<IBaseFilter>();
        builder->RenderStream(&PIN_CATEGORY_PREVIEW, nullptr, source.Get(), grabber.Get(),
                              renderer.Get());
    }
    CaptureGraph->RunGraph();
}

void TControlForm::GetVideoSize(int32_t& width, int32_t& height) {
    width = 0;
    height = 0;
    auto pin = VideoCapturePin();
    if (FVideoDevice == -1)
        return;
    auto config = QueryAs<IAMStreamConfig>(pin.Get());
    if (!config)
        return;
    config->GetFormat(&FProbeMediaType);
    if (FProbeMediaType && FProbeMediaType->formattype == FORMAT_VideoInfo &&
        FProbeMediaType->cbFormat != 0 && FProbeMediaType->pbFormat) {
        const auto* info = reinterpret_cast<const VIDEOINFOHEADER*>(FProbeMediaType->pbFormat);
        if (FProbeMediaType->cbFormat >= sizeof(VIDEOINFOHEADER)) {
            width = info->bmiHeader.biWidth;
            height = info->bmiHeader.biHeight;
        }
    }
    DisposeMediaType(FProbeMediaType);
    FProbeMediaType = nullptr;
}

void TControlForm::ApplyVideoFormatText(const QString& text) {
    if (text.trimmed().isEmpty())
        return;
    auto pin = VideoCapturePin();
    auto config = QueryAs<IAMStreamConfig>(pin.Get());
    TEnumMediaType types;
    types.ReadFromPin(pin.Get());
    // The text names no rate and a camera offers each format at several:
    // the highest rate of the stored format is the one set.
    int chosen = -1;
    for (int i = 0; i < types.Count(); ++i) {
        if (types.ItemText(i) == text &&
            (chosen < 0 || VideoOfferOf(*types.Item(i).AMMediaType()).Rate >
                               VideoOfferOf(*types.Item(chosen).AMMediaType()).Rate)) {
            chosen = i;
        }
    }
    if (chosen >= 0 && config)
        config->SetFormat(types.Item(chosen).AMMediaType());
}

void TControlForm::ApplyVideoMediaType(const AM_MEDIA_TYPE* record) {
    auto pin = VideoCapturePin();
    if (FVideoDevice == -1)
        return;
    if (auto config = QueryAs<IAMStreamConfig>(pin.Get()))
        config->SetFormat(record);
}

QString TControlForm::GetVideoFormatText() {
    auto pin = VideoCapturePin();
    if (FVideoDevice == -1)
        return QString();
    auto config = QueryAs<IAMStreamConfig>(pin.Get());
    AM_MEDIA_TYPE* type = nullptr;
    if (config)
        config->GetFormat(&type);
    const QString text = type ? DescribeMediaType(type) : QString();
    DisposeMediaType(type);
    return text;
}

std::optional<TMediaType> TControlForm::SaveVideoMediaType() {
    auto pin = VideoCapturePin();
    if (FVideoDevice == -1)
        return std::nullopt;
    AM_MEDIA_TYPE* type = nullptr;
    if (auto config = QueryAs<IAMStreamConfig>(pin.Get()))
        config->GetFormat(&type);
    if (!type)
        return std::nullopt;
    std::optional<TMediaType> format(std::in_place, type);
    DisposeMediaType(type);
    return format;
}
