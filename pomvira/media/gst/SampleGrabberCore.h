// SPDX-License-Identifier: GPL-3.0-or-later
// The GStreamer side of the sample grabber: a pass-through capsfilter that
// asks for the media type set with SetMediaType, with a probe on its output
// that keeps the last frame and calls the grabber callback on the streaming
// thread.
//
// Frames pass through untouched, and the grabber keeps a reference to the
// last one rather than a copy. It hands frames out (GetCurrentBuffer, the
// callback) laid out as DirectShow hands out uncompressed RGB: rows bottom-up
// (the header's height is positive), each row padded to a multiple of 4
// bytes. That layout is made only when a frame is asked for: a still picture
// costs one pass over one frame, and the preview none.
//
// Asked for RGB24, the grabber also lets 32-bit BGRx pass, and prefers it:
// that is what the video renderer paints as it arrives, so the preview chain
// converts the camera's format once, straight to it. A camera's packed YUV
// (YUY2, UYVY, YVYU) passes as it is, for the renderer to convert once. Such
// frames are handed out as 24-bit RGB, and the connected type says RGB24,
// exactly as if 24-bit frames had passed: YUV frames converted when they are
// asked for, with the colours GStreamer's converter gives (RawFrames.h),
// which are the same for BGR and BGRx.
// A camera's JPEG frames (MJPG) pass as they are too, for the renderer to
// decode once at the size it shows them: the grabber keeps the last one and
// decodes it at its full size when it is asked for (JpegFrames.h), handing
// it out as 24-bit RGB under an RGB24 connected type of the frame's size.
#pragma once

#include <gst/gst.h>
#include <gst/video/video.h>

#include <memory>

#include "GstRef.h"
#include "MediaTypes.h"
#include "media/MediaBoundary.h"

namespace media::gst {

class SampleGrabberCore {
  public:
    SampleGrabberCore();
    ~SampleGrabberCore();
    SampleGrabberCore(const SampleGrabberCore&) = delete;
    SampleGrabberCore& operator=(const SampleGrabberCore&) = delete;

    // The pass-through element; its "sink" pad is the filter's input, its
    // "src" pad the filter's output.
    GstElement* Element() const { return filter_.Get(); }

    HRESULT SetOneShot(bool oneShot);
    HRESULT SetMediaType(const AM_MEDIA_TYPE* mt);
    HRESULT GetConnectedMediaType(AM_MEDIA_TYPE* mt);
    // Off also lets the kept frame go.
    HRESULT SetBufferSamples(bool buffer);
    HRESULT GetCurrentBuffer(int32_t* size, uint8_t* buffer);
    HRESULT SetCallback(ISampleGrabberCB* callback, int32_t which);

    // The caps that SetMediaType asks for (exposed for tests and for the
    // graph's converter choice).
    CapsRef RequestedCaps() const;
    // Takes no packed YUV for an RGB24 request while set: behind a converter,
    // which would otherwise pick the YUV the renderer converts again.
    void SetRgbOnly(bool rgbOnly);

  private:
    // The state shared with the streaming thread. The probe holds its own
    // reference, so a frame still passing while the grabber goes away finds
    // the state alive.
    struct Shared;

    // The caps in force on the input, or those that a linked input would
    // carry; null when not connected.
    CapsRef ConnectedCaps() const;

    // Sets the capsfilter's caps: those asked for, or their RGB part.
    void ApplyCaps();

    ElementRef filter_;
    CapsRef requested_;
    bool rgbOnly_ = false;
    gulong probeId_ = 0;
    std::shared_ptr<Shared> shared_;
};

// Caps for a media type record as the grabber asks for them: the subtype's
// format (for RGB24: BGRx, then BGR) and, with a VIDEOINFOHEADER, its frame
// size. A record without a subtype asks for any video; without a major type,
// for anything. Unknown subtypes give caps that nothing produces.
CapsRef GrabberCapsFromMediaType(const AM_MEDIA_TYPE& mt);

// One row of 32-bit BGRx as 24-bit BGR (the unused byte dropped).
void BgrxRowToBgr(const uint8_t* src, uint8_t* dst, int width);

}  // namespace media::gst
