// SPDX-License-Identifier: GPL-3.0-or-later
// The input devices as the program sees them: the cameras and the
// microphones present, by their place in the system's lists; the ones in
// use; the description of the camera format stored in the settings; and the
// format on the camera's capture pin, read, described and set. It works on
// the capture session's two source filters and opens no graph of its own:
// what it does never waits on a device (the filters' formats are known
// without running them).
#pragma once

#include <QString>
#include <QStringList>
#include <memory>
#include <optional>

#include "media/Filter.h"
#include "media/MediaTypes.h"

namespace media {
class TFilterGraph;
class TSysDevEnum;
}  // namespace media

class TCaptureDevices {
  public:
    TCaptureDevices(media::TFilter* videoSource, media::TFilter* audioSource);
    ~TCaptureDevices();
    TCaptureDevices(const TCaptureDevices&) = delete;
    TCaptureDevices& operator=(const TCaptureDevices&) = delete;

    // Lists the input devices; false when there is no camera.
    bool ListDevices();
    void FreeDevices();
    bool Listed() const { return FDevEnum != nullptr; }
    const QStringList& VideoDevices() const { return FVideoDevices; }
    const QStringList& AudioDevices() const { return FAudioDevices; }

    // The devices in use by their place in the lists (-1: none), and the
    // stored format's description; read from the settings at start-up and
    // written back at shut-down.
    int32_t VideoDevice() const { return FVideoDevice; }
    int32_t AudioDevice() const { return FAudioDevice; }
    void SetDevices(int32_t video, int32_t audio) {
        FVideoDevice = video;
        FAudioDevice = audio;
    }
    void SetVideoDevice(int32_t video) { FVideoDevice = video; }
    QString VideoFormat() const { return FVideoFormat; }
    void SetVideoFormat(const QString& text) { FVideoFormat = text; }

    // Makes the video source open camera `index` (the last one when beyond):
    // the camera's place, -1 when there is none. Its filter is made when the
    // graph becomes active.
    int32_t StoreCamera(int32_t index);
    // Opens microphone `index` (the last one when beyond) in the source,
    // which joins `graph`; -1 when there is none.
    int32_t SelectAudioDevice(int32_t index, media::TFilterGraph* graph);

    // The camera's format on its capture pin: its frame size (both 0 when
    // not available), its description (empty without a camera), a copy of
    // it (none without a camera); a format set from its description (the
    // highest rate of the formats it describes; nothing when none matches)
    // or as it is.
    void GetVideoSize(int32_t& width, int32_t& height);
    QString GetVideoFormatText();
    std::optional<media::TMediaType> SaveVideoMediaType();
    void ApplyVideoFormatText(const QString& text);
    void ApplyVideoMediaType(const media::AM_MEDIA_TYPE* record);
    media::ComPtr<media::IPin> VideoCapturePin();

  private:
    media::TFilter* FVideoSource;
    media::TFilter* FAudioSource;
    std::unique_ptr<media::TSysDevEnum> FDevEnum;
    QStringList FVideoDevices;
    QStringList FAudioDevices;
    int32_t FVideoDevice = 0;
    int32_t FAudioDevice = 0;
    QString FVideoFormat;
};
