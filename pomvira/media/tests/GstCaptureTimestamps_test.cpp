// SPDX-License-Identifier: GPL-3.0-or-later
// The capture branch's stamps kept on the graph's running time: a source
// stamping in a clock of its own (hours away) is brought back, one stamping
// right is left alone, and the frame rate keeper behind it then neither
// floods the file with repeated frames nor holds up the end of the stream.
#include <gst/gst.h>
#include <gtest/gtest.h>

#include <atomic>

#include "media/gst/CaptureTimestamps.h"

using media::gst::CaptureTimestamps;

namespace {

constexpr GstClockTime kFrame = GST_SECOND / 30;
constexpr GstClockTime kHours = 2 * 3600 * GST_SECOND;

}  // namespace

TEST(CaptureTimestamps, StampsNearTheirArrivalStayAsTheyAre) {
    CaptureTimestamps stamps;
    // Up to the tolerance either side, and whatever follows in that stream.
    EXPECT_EQ(stamps.Align(GST_SECOND, GST_SECOND + GST_SECOND / 2), GST_SECOND);
    EXPECT_FALSE(stamps.Moved());
    EXPECT_EQ(stamps.Align(kHours, GST_CLOCK_TIME_NONE), kHours);
    stamps.Reset();
    EXPECT_EQ(stamps.Align(3 * GST_SECOND, 2 * GST_SECOND), 3 * GST_SECOND);
    EXPECT_FALSE(stamps.Moved());
    // Without a clock nothing can be judged: left alone.
    stamps.Reset();
    EXPECT_EQ(stamps.Align(kHours, GST_CLOCK_TIME_NONE), kHours);
    EXPECT_EQ(stamps.Align(kHours + kFrame, 0), kHours + kFrame);
    EXPECT_EQ(stamps.Align(GST_CLOCK_TIME_NONE, 0), GST_CLOCK_TIME_NONE);
}

TEST(CaptureTimestamps, FarStampsMoveToTheFirstArrivalWithTheirSpacingKept) {
    CaptureTimestamps stamps;
    // Hours ahead: the first becomes its arrival, the others follow it.
    const GstClockTime arrival = GST_SECOND / 10;
    EXPECT_EQ(stamps.Align(kHours, arrival), arrival);
    EXPECT_TRUE(stamps.Moved());
    EXPECT_EQ(stamps.Align(kHours + kFrame, GST_CLOCK_TIME_NONE), arrival + kFrame);
    EXPECT_EQ(stamps.Align(kHours + 90 * kFrame, 0), arrival + 90 * kFrame);
    // A stamp from before the stream's first cannot go below zero.
    EXPECT_EQ(stamps.Align(kHours - GST_SECOND, 0), 0u);

    // A new stream decides anew; stamps far behind move forward.
    stamps.Reset();
    const GstClockTime late = kHours + 5 * GST_SECOND;
    EXPECT_EQ(stamps.Align(2 * GST_SECOND, late), late);
    EXPECT_EQ(stamps.Align(2 * GST_SECOND + kFrame, 0), late + kFrame);
    stamps.Reset();
    EXPECT_EQ(stamps.Align(GST_SECOND, GST_SECOND), GST_SECOND);
    EXPECT_FALSE(stamps.Moved());
}

namespace {

// Moves every stamp of a live test source hours ahead, as a source with a
// clock of its own would stamp.
GstPadProbeReturn ShiftAhead(GstPad*, GstPadProbeInfo* info, gpointer) {
    auto** buffer = reinterpret_cast<GstBuffer**>(&info->data);
    *buffer = gst_buffer_make_writable(*buffer);
    GST_BUFFER_PTS(*buffer) += kHours;
    if (GST_BUFFER_DTS_IS_VALID(*buffer))
        GST_BUFFER_DTS(*buffer) += kHours;
    return GST_PAD_PROBE_OK;
}

}  // namespace

TEST(CaptureTimestamps, ARateKeeperBehindAFarClockedSourceEndsItsStreamPromptly) {
    gst_init(nullptr, nullptr);
    GError* error = nullptr;
    GstElement* pipeline = gst_parse_launch(
        "videotestsrc is-live=true name=src ! video/x-raw,width=64,height=48,framerate=30/1 "
        "! queue name=q ! videorate ! fakesink name=sink sync=false signal-handoffs=true",
        &error);
    ASSERT_TRUE(pipeline) << (error ? error->message : "");
    GstElement* source = gst_bin_get_by_name(GST_BIN(pipeline), "src");
    GstElement* queue = gst_bin_get_by_name(GST_BIN(pipeline), "q");
    GstElement* sink = gst_bin_get_by_name(GST_BIN(pipeline), "sink");
    GstPad* out = gst_element_get_static_pad(source, "src");
    gst_pad_add_probe(out, GST_PAD_PROBE_TYPE_BUFFER, &ShiftAhead, nullptr, nullptr);
    CaptureTimestamps stamps;
    GstPad* in = gst_element_get_static_pad(queue, "sink");
    stamps.Attach(in);
    std::atomic<int> frames{0};
    g_signal_connect(sink, "handoff",
                     G_CALLBACK(+[](GstElement*, GstBuffer*, GstPad*, gpointer count) {
                         ++*static_cast<std::atomic<int>*>(count);
                     }),
                     &frames);

    ASSERT_NE(gst_element_set_state(pipeline, GST_STATE_PLAYING), GST_STATE_CHANGE_FAILURE);
    g_usleep(G_USEC_PER_SEC / 2);
    gst_element_send_event(pipeline, gst_event_new_eos());
    GstBus* bus = gst_element_get_bus(pipeline);
    GstMessage* end = gst_bus_timed_pop_filtered(
        bus, 10 * GST_SECOND, GstMessageType(GST_MESSAGE_EOS | GST_MESSAGE_ERROR));
    ASSERT_TRUE(end) << "the end of the stream did not come through";
    EXPECT_EQ(GST_MESSAGE_TYPE(end), GST_MESSAGE_EOS);
    EXPECT_TRUE(stamps.Moved());
    // Half a second at 30 frames a second, not hours of repeated frames.
    EXPECT_GT(frames.load(), 5);
    EXPECT_LT(frames.load(), 60);

    gst_message_unref(end);
    gst_object_unref(bus);
    gst_element_set_state(pipeline, GST_STATE_NULL);
    gst_object_unref(in);
    gst_object_unref(out);
    gst_object_unref(sink);
    gst_object_unref(queue);
    gst_object_unref(source);
    gst_object_unref(pipeline);
    if (error)
        g_error_free(error);
}
