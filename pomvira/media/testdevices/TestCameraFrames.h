// SPDX-License-Identifier: GPL-3.0-or-later
// The frames of the built-in test cameras: live sources whose frames are
// made once when the source starts, so that the simulated camera costs the
// program what a real one does (nothing but the frames' delivery). The
// picture is the scrolling colour bars (videotestsrc's SMPTE pattern, 4
// pixels a frame to the left), drawn by a small pipeline of its own, each
// frame as soon as the stream needs it; the frames then leave stamped at
// the format's rate on the pipeline's clock, as a live camera stamps its
// frames.
//
// MJPG: a cycle of kJpegCycleFrames frames (I420, jpegenc) encoded once and
// repeated, as a webcam's MJPG stream comes encoded by the camera.
//
// Raw formats: the bars are drawn once, in the format, and every frame is a
// view of that one picture that starts 4 pixels further into it than the
// one before. The picture's rows lie one after the other in memory, so the
// view's row r is the picture's row r from pixel x on, then the first x
// pixels of row r + 1: within each band of the bars, where the rows are
// alike, row r scrolled x pixels to the left (only the last row of each
// band shows the band below at its right end; the picture holds a copy of
// its last row below it). So the bars go round in width / 4 frames, as
// videotestsrc's do, from one frame's memory (1.8 MB at 1280x720 YUY2),
// with no pixel drawn or copied while the stream goes on. Each plane of a
// planar format scrolls so, in a memory of its own (the frame carries a
// video meta saying where its planes lie). A layout whose rows cannot be
// scrolled so (a width that is no multiple of 4, padded rows) shows the
// bars standing.
//
// With a picture stage (the camera's own controls, TestCameraControls.h)
// the frames are drawn through it, and drawn again, while the stream goes
// on, whenever its settings change.
#pragma once

#include <gst/gst.h>

namespace media::gst {

// Frames in a cycle of JPEG frames: half a second at 30 frames a second.
constexpr int kJpegCycleFrames = 16;
// Pixels the bars move from one frame to the next (to the left).
constexpr int kTestScrollPixels = 4;

// A new floating source element of image/jpeg frames of that size and rate.
// pictureStage, when given, is a floating element that takes raw I420 video
// (videobalance), which the source takes over. Null when GStreamer lacks an
// element the encoding needs.
GstElement* MakeJpegCycleSource(int width, int height, int fpsNum, int fpsDen,
                                GstElement* pictureStage = nullptr);

// A new floating source element of raw frames of `caps` (fixed video/x-raw:
// a format videotestsrc draws, a size and a rate). pictureStage as above,
// taking frames of that format. Null for caps that are no such format, or
// when GStreamer lacks an element the drawing needs.
GstElement* MakeRawPatternSource(const GstCaps* caps, GstElement* pictureStage = nullptr);

}  // namespace media::gst
