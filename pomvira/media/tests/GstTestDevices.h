// SPDX-License-Identifier: GPL-3.0-or-later
// The GStreamer media system with `cameras` built-in test cameras and the
// test microphone, for every test of a program. The number of cameras is
// read once, when the framework is first set up. (The shared test entry
// point already keeps real devices out of every listing.)
#pragma once

#include <gtest/gtest.h>

#include <cstdlib>

#include "media/MediaBoundary.h"
#include "media/gst/GstMediaSystem.h"

class GstTestDevices : public ::testing::Environment {
  public:
    explicit GstTestDevices(const char* cameras) : cameras_(cameras) {}
    void SetUp() override {
        setenv("POMVIRA_TEST_DEVICES", cameras_, 1);
        media::SetMediaSystem(media::gst::GstMediaSystem());
    }
    void TearDown() override { media::SetMediaSystem(nullptr); }

  private:
    const char* cameras_;
};
