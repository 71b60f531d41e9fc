// SPDX-License-Identifier: GPL-3.0-or-later
// A camera's raw frames turned, in one pass, into the preview's 32-bit
// pixels (Qt's RGB32: blue, green, red, 0xff in memory), written wherever
// the caller says: into a buffer the display draws from (SharedFrames.h),
// or into an image the window paints.
//
// The formats: 32-bit BGRx, 24-bit BGR and RGB, and the packed 4:2:2 YUV
// that webcams deliver uncompressed (YUY2, and its byte orders UYVY and
// YVYU). YUV frames come out exactly as GStreamer's converter (videoconvert)
// turns 8-bit YUV into 32-bit RGB, byte for byte: its fixed-point matrix
// for the frame's colour matrix and range (coefficients in 1/256, each
// product's high 16 bits taken, luma and chroma as 8.8 words centred on
// 128), and its linear interpolation of the chroma between its samples, as
// the frame's chroma siting places them (co-sited with the even pixels, or
// centred between two pixels). So the preview shows what it showed when the
// converter ran in front of it, and a still made from the same frame by the
// converter has the same colours.
#pragma once

#include <gst/video/video.h>

#include <cstddef>
#include <cstdint>

namespace media::gst {

// Whether frames of this format are converted here.
bool IsRawFrameFormat(GstVideoFormat format);

// The conversion of the rows of one format (and, for YUV, one colorimetry
// and chroma siting), as `info` describes the frames.
class RawFrameRows {
  public:
    explicit RawFrameRows(const GstVideoInfo& info);
    // A format taken and a frame that is not empty.
    bool Ok() const { return ok_; }
    // Writes one row of the frame's width as RGB32 pixels.
    void Convert(const uint8_t* src, uint32_t* dst) const;

    // How packed YUV is turned into RGB (RawFrames.cpp).
    struct Yuv {
        // The converter's coefficients in 1/256: luma, V to red, U and V to
        // green, U to blue.
        int16_t y, rv, gu, gv, bu;
        // Chroma samples co-sited with the even pixels (else centred
        // between two pixels).
        bool cosited;
        // Where a pair of pixels' bytes lie.
        int y0, y1, u, v;
    };

  private:
    bool ok_ = false;
    GstVideoFormat format_;
    int width_;
    Yuv yuv_{};
};

// Writes the frame described by `info` (its rows at `data`, `stride` bytes
// apart) as RGB32 rows into `out`, `outStride` bytes apart. False, with
// nothing written, for a format not taken or an empty frame.
bool ConvertRawFrame(const GstVideoInfo& info, const uint8_t* data, int stride, uint8_t* out,
                     size_t outStride);

}  // namespace media::gst
