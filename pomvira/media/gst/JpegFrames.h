// SPDX-License-Identifier: GPL-3.0-or-later
// A camera's JPEG frames (MJPG) decoded by libjpeg-turbo, once, straight
// into the layout that is wanted: the preview's 32-bit pixels (Qt's RGB32,
// blue, green, red, 0xff in memory) or a still picture's 24-bit rows.
//
// Colours come out as GStreamer's jpegdec followed by its converter gives
// them, within rounding: the same fast integer transform, and the chroma
// samples not interpolated (libjpeg's merged upsampling), as jpegdec's
// 4:2:0 output is not.
//
// The preview may be decoded smaller than the frame, through libjpeg's DCT
// scaling, when the area that shows it is smaller: at 1/2, 1/4 or 1/8, the
// smallest of them that still covers the area (the decoder does those with
// its fast routines; 3/8 to 7/8 would cost more than a full decode).
//
// A frame that is not a JPEG image, that declares more pixels than any
// camera makes or a size other than the one expected, or that the library
// cannot decode, gives nothing; a frame cut short decodes with its missing
// rows grey, as libjpeg fills them.
#pragma once

#include <QImage>
#include <QSize>
#include <cstddef>
#include <cstdint>
#include <functional>

namespace media::gst {

// The DCT scaling denominator (1, 2, 4 or 8) for a frame of width x height
// shown in an area of that size: the largest whose picture still covers the
// area in both directions. 1 for an empty area.
int JpegScaleFor(int width, int height, const QSize& area);

// Gives an image to decode a picture of the given size into (its pixels are
// overwritten), or a null image to have a new one made.
using ImageTarget = std::function<QImage(const QSize&)>;

// The frame decoded as Format_RGB32 at the scale that covers `area` (an
// empty area: the full size), into the target's image when it gives one of
// that size and format. A null image on failure.
QImage DecodeJpegFrame(const uint8_t* data, size_t size, const QSize& area,
                       const ImageTarget& target = {});

// The frame decoded at its full size into 24-bit blue, green, red rows,
// `stride` bytes apart, the first row at the bottom when `bottomUp` is set
// (a DirectShow RGB24 bitmap), the bytes past each row's pixels zero. False
// (out unchanged or partly written) when the frame is not width x height or
// cannot be decoded; out must hold stride x height bytes.
bool DecodeJpegFrameToBgr(const uint8_t* data, size_t size, int width, int height, uint8_t* out,
                          size_t stride, bool bottomUp);

// The size the frame declares; false when its header cannot be read.
bool JpegFrameSize(const uint8_t* data, size_t size, int* width, int* height);

}  // namespace media::gst
