// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <gst/gst.h>

#include <cstdint>

namespace media::gst {

// Keeps a live video source's timestamps on the graph's running time.
//
// A live source stamps each frame with the running time it was taken at; the
// capture branch's frame rate keeper repeats frames from the start of the
// stream up to the first one. Some sources stamp in a clock of their own (a
// PipeWire node started again stamps from its own start, hours away from the
// graph's): the rate keeper would then repeat the first frame for all those
// hours before anything else, and the end of the stream would never get
// through. The first frame of each stream decides: stamped within a second of
// its arrival, the stamps stay as they are; otherwise every stamp of the
// stream is moved by the same amount so that the first one is its arrival,
// the spacing between frames kept.
class CaptureTimestamps {
  public:
    // How far a first stamp may lie from its arrival and still be believed.
    static constexpr GstClockTime kTolerance = GST_SECOND;

    // The next frame starts a stream anew: its stamp decides again.
    void Reset();
    // The running time `at` a frame stamped `stamp` should carry, given the
    // running time `now` it arrived at (GST_CLOCK_TIME_NONE when the graph
    // has no clock yet: the stamps are then left alone for this stream).
    GstClockTime Align(GstClockTime stamp, GstClockTime now);
    bool Moved() const { return decided_ && offset_ != 0; }

    // Watches the buffers and events reaching `pad` (a sink pad); the object
    // must outlive the pad's streaming.
    void Attach(GstPad* pad);

  private:
    static GstPadProbeReturn OnProbe(GstPad* pad, GstPadProbeInfo* info, gpointer self);
    void Rebase(GstPad* pad, GstBuffer** buffer);

    bool decided_ = false;
    int64_t offset_ = 0;  // subtracted from every stamp of the stream
    GstSegment segment_{};
    bool haveSegment_ = false;
};

}  // namespace media::gst
