// SPDX-License-Identifier: GPL-3.0-or-later
#include "SessionProbe.h"

#include "capture/MediaStrip.h"

TControlFormProbe::TState TControlFormProbe::State(const TControlForm& form) {
    const TMediaStrip* strip = form.FStrip.get();
    const TCaptureDevices& devices = form.Session()->Devices();
    return {form.FUseAudio,
            devices.VideoDevice(),
            devices.AudioDevice(),
            form.FVideoCompress,
            form.FAudioCompress,
            form.FVideoFolder,
            form.FSnapFolder,
            devices.VideoFormat(),
            strip ? strip->Count() : 0,
            strip ? strip->FirstVisible() : 0,
            strip ? strip->Selected() : -1,
            form.btnCapture->Tag == 1,
            form.btnExpand->Tag == 1};
}
