// SPDX-License-Identifier: GPL-3.0-or-later
#include "CaptureDevices.h"

#include <algorithm>

#include "media/FilterGraph.h"
#include "media/MediaUtil.h"
#include "media/VideoFormatChoice.h"

using namespace media;

TCaptureDevices::TCaptureDevices(TFilter* videoSource, TFilter* audioSource)
    : FVideoSource(videoSource), FAudioSource(audioSource) {}

TCaptureDevices::~TCaptureDevices() = default;

bool TCaptureDevices::ListDevices() {
    FVideoDevices.clear();
    FAudioDevices.clear();
    FDevEnum = std::make_unique<TSysDevEnum>(CLSID_VideoInputDeviceCategory);
    if (FDevEnum->DeviceCount() == 0)
        return false;
    for (int i = 0; i < FDevEnum->DeviceCount(); ++i)
        FVideoDevices.append(QString::fromStdString(FDevEnum->DeviceEntry(i).FriendlyName));
    FDevEnum->SelectCategory(CLSID_AudioInputDeviceCategory);
    for (int i = 0; i < FDevEnum->DeviceCount(); ++i)
        FAudioDevices.append(QString::fromStdString(FDevEnum->DeviceEntry(i).FriendlyName));
    return true;
}

void TCaptureDevices::FreeDevices() {
    FAudioDevices.clear();
    FVideoDevices.clear();
    FDevEnum.reset();
}

int32_t TCaptureDevices::StoreCamera(int32_t index) {
    if (index == -1 || !FDevEnum)
        return -1;
    FDevEnum->SelectCategory(CLSID_VideoInputDeviceCategory);
    const int count = FDevEnum->DeviceCount();
    if (count == 0)
        return -1;
    const int32_t opened = std::min(index, int32_t(count - 1));
    FVideoSource->BaseFilter().StoreMoniker(FDevEnum->DeviceMoniker(opened).Get());
    FVideoDevice = opened;
    return opened;
}

int32_t TCaptureDevices::SelectAudioDevice(int32_t index, TFilterGraph* graph) {
    if (!FDevEnum)
        return -1;
    FDevEnum->SelectCategory(CLSID_AudioInputDeviceCategory);
    const int count = FDevEnum->DeviceCount();
    if (count == 0)
        return -1;
    const int32_t opened = std::min(index, int32_t(count - 1));
    if (opened == -1)
        return -1;
    FAudioSource->BaseFilter().StoreMoniker(FDevEnum->DeviceMoniker(opened).Get());
    FAudioSource->MemberNotify(msRefresh, 0);
    FAudioSource->SetFilterGraph(graph);
    return opened;
}

ComPtr<IPin> TCaptureDevices::VideoCapturePin() {
    TPinList pins(FVideoSource->Get<IBaseFilter>().Get());
    return pins.FirstPin();
}

void TCaptureDevices::GetVideoSize(int32_t& width, int32_t& height) {
    width = 0;
    height = 0;
    const std::optional<TMediaType> format = SaveVideoMediaType();
    const AM_MEDIA_TYPE* type = format ? format->AMMediaType() : nullptr;
    if (type && type->formattype == FORMAT_VideoInfo && type->cbFormat >= sizeof(VIDEOINFOHEADER) &&
        type->pbFormat) {
        const auto* info = reinterpret_cast<const VIDEOINFOHEADER*>(type->pbFormat);
        width = info->bmiHeader.biWidth;
        height = info->bmiHeader.biHeight;
    }
}

void TCaptureDevices::ApplyVideoFormatText(const QString& text) {
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

void TCaptureDevices::ApplyVideoMediaType(const AM_MEDIA_TYPE* record) {
    auto pin = VideoCapturePin();
    if (FVideoDevice == -1)
        return;
    if (auto config = QueryAs<IAMStreamConfig>(pin.Get()))
        config->SetFormat(record);
}

QString TCaptureDevices::GetVideoFormatText() {
    const std::optional<TMediaType> format = SaveVideoMediaType();
    return format ? format->Description() : QString();
}

std::optional<TMediaType> TCaptureDevices::SaveVideoMediaType() {
    auto pin = VideoCapturePin();
    if (FVideoDevice == -1)
        return std::nullopt;
    return PinFormat(pin.Get());
}
