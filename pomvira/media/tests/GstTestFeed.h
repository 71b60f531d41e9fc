// SPDX-License-Identifier: GPL-3.0-or-later
// GStreamer set up once per test program, and an appsrc that feeds one
// element of the program's own with time-stamped frames.
#pragma once

#include <gst/app/gstappsrc.h>
#include <gst/gst.h>
#include <gtest/gtest.h>

#include "media/gst/GstRef.h"

namespace media::gst {

// Every test of a program that includes this may use GStreamer objects, also
// before it builds a pipeline.
class GstInitEnvironment : public ::testing::Environment {
  public:
    void SetUp() override { gst_init(nullptr, nullptr); }
};
[[maybe_unused]] inline const auto* const kGstInitEnvironment =
    ::testing::AddGlobalTestEnvironment(new GstInitEnvironment);

// appsrc ! element, playing; each pushed buffer gets the next timestamp of
// a 30 fps stream. The element must not sync to the clock.
class AppSrcFeed {
  public:
    AppSrcFeed(GstElement* element, CapsRef caps) {
        pipeline_ = ElementRef::Sink(gst_pipeline_new(nullptr));
        src_ = gst_element_factory_make("appsrc", nullptr);
        g_object_set(src_, "caps", caps.Get(), "format", GST_FORMAT_TIME, nullptr);
        g_object_set(element, "sync", FALSE, nullptr);
        gst_bin_add_many(GST_BIN(pipeline_.Get()), src_, element, nullptr);
        EXPECT_TRUE(gst_element_link(src_, element));
        gst_element_set_state(pipeline_.Get(), GST_STATE_PLAYING);
    }
    ~AppSrcFeed() { gst_element_set_state(pipeline_.Get(), GST_STATE_NULL); }
    AppSrcFeed(const AppSrcFeed&) = delete;
    AppSrcFeed& operator=(const AppSrcFeed&) = delete;

    // Takes the buffer.
    void Push(GstBuffer* buffer) {
        GST_BUFFER_PTS(buffer) = pts_;
        pts_ += GST_SECOND / 30;
        ASSERT_EQ(gst_app_src_push_buffer(GST_APP_SRC(src_), buffer), GST_FLOW_OK);
    }

  private:
    ElementRef pipeline_;
    GstElement* src_;  // owned by the pipeline
    GstClockTime pts_ = 0;
};

}  // namespace media::gst
