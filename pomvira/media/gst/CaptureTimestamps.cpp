// SPDX-License-Identifier: GPL-3.0-or-later
#include "CaptureTimestamps.h"

namespace media::gst {

void CaptureTimestamps::Reset() {
    decided_ = false;
    offset_ = 0;
}

GstClockTime CaptureTimestamps::Align(GstClockTime stamp, GstClockTime now) {
    if (!GST_CLOCK_TIME_IS_VALID(stamp))
        return stamp;
    if (!decided_) {
        decided_ = true;
        offset_ = 0;
        if (GST_CLOCK_TIME_IS_VALID(now)) {
            const GstClockTime distance = stamp > now ? stamp - now : now - stamp;
            if (distance > kTolerance)
                offset_ = int64_t(stamp) - int64_t(now);
        }
    }
    if (offset_ > 0 && stamp < GstClockTime(offset_))
        return 0;
    return GstClockTime(int64_t(stamp) - offset_);
}

void CaptureTimestamps::Attach(GstPad* pad) {
    gst_pad_add_probe(pad,
                      GstPadProbeType(GST_PAD_PROBE_TYPE_BUFFER |
                                      GST_PAD_PROBE_TYPE_EVENT_DOWNSTREAM |
                                      GST_PAD_PROBE_TYPE_EVENT_FLUSH),
                      &CaptureTimestamps::OnProbe, this, nullptr);
}

GstPadProbeReturn CaptureTimestamps::OnProbe(GstPad* pad, GstPadProbeInfo* info, gpointer data) {
    auto* self = static_cast<CaptureTimestamps*>(data);
    if (GST_PAD_PROBE_INFO_TYPE(info) & GST_PAD_PROBE_TYPE_BUFFER) {
        self->Rebase(pad, reinterpret_cast<GstBuffer**>(&info->data));
        return GST_PAD_PROBE_OK;
    }
    GstEvent* event = GST_PAD_PROBE_INFO_EVENT(info);
    switch (GST_EVENT_TYPE(event)) {
        case GST_EVENT_SEGMENT: {
            const GstSegment* segment = nullptr;
            gst_event_parse_segment(event, &segment);
            if (segment && segment->format == GST_FORMAT_TIME) {
                gst_segment_copy_into(segment, &self->segment_);
                self->haveSegment_ = true;
            } else {
                self->haveSegment_ = false;
            }
            self->Reset();
            break;
        }
        case GST_EVENT_STREAM_START:
        case GST_EVENT_FLUSH_STOP:
            self->Reset();
            break;
        default:
            break;
    }
    return GST_PAD_PROBE_OK;
}

void CaptureTimestamps::Rebase(GstPad* pad, GstBuffer** buffer) {
    if (!haveSegment_ || !*buffer)
        return;
    const GstClockTime pts = GST_BUFFER_PTS(*buffer);
    if (!GST_CLOCK_TIME_IS_VALID(pts))
        return;
    if (!decided_) {
        // The running time now, by the graph's clock and start (elements
        // inside a filter's bin may not carry the start themselves).
        GstClockTime now = GST_CLOCK_TIME_NONE;
        GstObject* top = gst_object_get_parent(GST_OBJECT(pad));
        while (top) {
            GstObject* parent = gst_object_get_parent(top);
            if (!parent)
                break;
            gst_object_unref(top);
            top = parent;
        }
        if (top) {
            if (GST_IS_ELEMENT(top))
                now = gst_element_get_current_running_time(GST_ELEMENT(top));
            gst_object_unref(top);
        }
        // A stamp before the segment has no running time: far off as well.
        GstClockTime running = gst_segment_to_running_time(&segment_, GST_FORMAT_TIME, pts);
        if (!GST_CLOCK_TIME_IS_VALID(running) && GST_CLOCK_TIME_IS_VALID(now))
            running = now + 2 * kTolerance;
        Align(running, now);
        if (!Moved())
            return;
        // The offset found on running times, taken over to the stream's times.
        const GstClockTime target = gst_segment_position_from_running_time(
            &segment_, GST_FORMAT_TIME, GstClockTime(int64_t(running) - offset_));
        if (!GST_CLOCK_TIME_IS_VALID(target)) {
            offset_ = 0;
            return;
        }
        offset_ = int64_t(pts) - int64_t(target);
    }
    if (offset_ == 0)
        return;
    *buffer = gst_buffer_make_writable(*buffer);
    GST_BUFFER_PTS(*buffer) = Align(pts, GST_CLOCK_TIME_NONE);
    const GstClockTime dts = GST_BUFFER_DTS(*buffer);
    if (GST_CLOCK_TIME_IS_VALID(dts))
        GST_BUFFER_DTS(*buffer) = Align(dts, GST_CLOCK_TIME_NONE);
}

}  // namespace media::gst
