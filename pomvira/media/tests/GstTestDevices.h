// SPDX-License-Identifier: GPL-3.0-or-later
// The GStreamer media system with `cameras` built-in test cameras and the
// test microphone, for every test of a program. The number of cameras is
// read once, when the test devices are first installed. (The shared test entry
// point already keeps real devices out of every listing.)
#pragma once

#include <gtest/gtest.h>

#include <cstdlib>
#include <cstring>
#include <vector>

#include "media/MediaBoundary.h"
#include "media/MediaTypes.h"
#include "media/MediaUtil.h"
#include "media/gst/GstMediaSystem.h"
#include "media/testdevices/TestDevices.h"
#include "media/testdevices/TestRig.h"

class GstTestDevices : public ::testing::Environment {
  public:
    explicit GstTestDevices(const char* cameras) : cameras_(cameras) {}
    void SetUp() override {
        setenv("POMVIRA_TEST_DEVICES", cameras_, 1);
        media::SetMediaSystem(media::gst::GstMediaSystem());
        media::gst::InstallTestRig();
    }
    void TearDown() override { media::SetMediaSystem(nullptr); }

  private:
    const char* cameras_;
};

// Sets the camera's capture pin to its offered format of that subtype and
// size; false when it offers none or refuses it.
inline bool SetCaptureFormat(media::IBaseFilter* camera, const media::GUID& subtype, int width,
                             int height) {
    using namespace media;
    auto config = QueryAs<IAMStreamConfig>(TPinList(camera).FirstPin().Get());
    int32_t count = 0, size = 0;
    if (!config || config->GetNumberOfCapabilities(&count, &size) != S_OK)
        return false;
    std::vector<uint8_t> caps(size_t(size > 0 ? size : 1));
    for (int32_t i = 0; i < count; ++i) {
        AM_MEDIA_TYPE* mt = nullptr;
        if (config->GetStreamCaps(i, &mt, caps.data()) != S_OK || !mt)
            continue;
        VIDEOINFOHEADER vih{};
        if (mt->cbFormat >= sizeof vih)
            std::memcpy(&vih, mt->pbFormat, sizeof vih);
        const bool match = mt->subtype == subtype && vih.bmiHeader.biWidth == width &&
                           std::abs(vih.bmiHeader.biHeight) == height;
        const bool set = match && config->SetFormat(mt) == S_OK;
        DisposeMediaType(mt);
        if (match)
            return set;
    }
    return false;
}
