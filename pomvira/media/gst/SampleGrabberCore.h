// The GStreamer side of the sample grabber: a pass-through capsfilter that
// asks for the media type set with SetMediaType, with a probe on its output
// that keeps a copy of the last frame and calls the grabber callback on the
// streaming thread.
//
// Frames pass through untouched. The kept copy is laid out as DirectShow
// hands out uncompressed RGB: rows bottom-up (the header's height is
// positive), each row padded to a multiple of 4 bytes. The row flip happens
// only while copying, so it costs nothing beyond the copy itself, and only
// when a copy is asked for (buffering on, or a callback set).
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
    HRESULT SetBufferSamples(bool buffer);
    HRESULT GetCurrentBuffer(int32_t* size, uint8_t* buffer);
    HRESULT SetCallback(ISampleGrabberCB* callback, int32_t which);

    // The caps that SetMediaType asks for (exposed for tests and for the
    // graph's converter choice).
    CapsRef RequestedCaps() const;

  private:
    // The state shared with the streaming thread. The probe holds its own
    // reference, so a frame still passing while the grabber goes away finds
    // the state alive.
    struct Shared;

    // The caps in force on the input, or those that a linked input would
    // carry; null when not connected.
    CapsRef ConnectedCaps() const;

    ElementRef filter_;
    gulong probeId_ = 0;
    std::shared_ptr<Shared> shared_;
};

// Caps for a media type record as the grabber asks for them: the subtype's
// format (BGR for RGB24) and, with a VIDEOINFOHEADER, its frame size. A
// record without a subtype asks for any video; without a major type, for
// anything. Unknown subtypes give caps that nothing produces.
CapsRef GrabberCapsFromMediaType(const AM_MEDIA_TYPE& mt);

}  // namespace media::gst
