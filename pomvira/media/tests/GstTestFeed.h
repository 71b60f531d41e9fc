// SPDX-License-Identifier: GPL-3.0-or-later
// GStreamer set up once per test program, an appsrc that feeds one element
// of the program's own with time-stamped frames, and frames made by
// GStreamer's own elements.
#pragma once

#include <gst/app/gstappsink.h>
#include <gst/app/gstappsrc.h>
#include <gst/gst.h>
#include <gtest/gtest.h>

#include <QByteArray>
#include <string>

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

// The first sample that reaches the appsink named "out" of a pipeline
// description (within ten seconds). An appsrc named "in", if any, is given
// `input` with `inputCaps`, then the stream's end.
inline GstRef<GstSample> FirstSample(const std::string& description, const QByteArray& input = {},
                                     const char* inputCaps = nullptr) {
    GError* error = nullptr;
    ElementRef pipeline = ElementRef::Sink(gst_parse_launch(description.c_str(), &error));
    if (error) {
        ADD_FAILURE() << error->message;
        g_error_free(error);
        return {};
    }
    ElementRef sink = ElementRef::Adopt(gst_bin_get_by_name(GST_BIN(pipeline.Get()), "out"));
    gst_element_set_state(pipeline.Get(), GST_STATE_PLAYING);
    if (inputCaps) {
        ElementRef src = ElementRef::Adopt(gst_bin_get_by_name(GST_BIN(pipeline.Get()), "in"));
        CapsRef caps = CapsRef::Adopt(gst_caps_from_string(inputCaps));
        g_object_set(src.Get(), "caps", caps.Get(), "format", GST_FORMAT_TIME, nullptr);
        gst_app_src_push_buffer(GST_APP_SRC(src.Get()),
                                gst_buffer_new_memdup(input.constData(), size_t(input.size())));
        gst_app_src_end_of_stream(GST_APP_SRC(src.Get()));
    }
    GstRef<GstSample> sample = GstRef<GstSample>::Adopt(
        gst_app_sink_try_pull_sample(GST_APP_SINK(sink.Get()), 10 * GST_SECOND));
    gst_element_set_state(pipeline.Get(), GST_STATE_NULL);
    return sample;
}

// A frame of the test camera's colour bars (or another videotestsrc pattern)
// encoded by jpegenc from raw video of the given chroma layout (I420: 4:2:0,
// Y42B: 4:2:2, Y444: 4:4:4).
inline QByteArray JpegBars(int width, int height, const char* layout = "I420",
                           const char* pattern = "smpte") {
    GstRef<GstSample> sample = FirstSample(
        "videotestsrc num-buffers=1 pattern=" + std::string(pattern) +
        " ! video/x-raw,format=" + std::string(layout) +
        ",width=" + std::to_string(width) + ",height=" + std::to_string(height) +
        " ! jpegenc ! appsink name=out");
    QByteArray jpeg;
    GstMapInfo map;
    if (sample && gst_buffer_map(gst_sample_get_buffer(sample.Get()), &map, GST_MAP_READ)) {
        jpeg = QByteArray(reinterpret_cast<const char*>(map.data), qsizetype(map.size));
        gst_buffer_unmap(gst_sample_get_buffer(sample.Get()), &map);
    }
    return jpeg;
}

}  // namespace media::gst
