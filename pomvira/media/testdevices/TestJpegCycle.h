// SPDX-License-Identifier: GPL-3.0-or-later
// The JPEG frames of the built-in test cameras' MJPG formats: a live source
// that serves a short cycle of frames encoded once, as a webcam's MJPG
// stream comes encoded by the camera, so that the simulated camera costs
// the program what a real one does (nothing but the frames' delivery).
//
// The cycle is kJpegCycleFrames frames of the scrolling colour bars
// (videotestsrc, I420, jpegenc) encoded when the source starts, each as soon
// as the stream needs it; the source then repeats them, stamped at the
// format's rate on the pipeline's clock as a live camera stamps its frames.
// With a picture stage (the camera's own controls, TestCameraControls.h)
// the frames are encoded through it, and encoded again, while the stream
// goes on, whenever its settings change.
#pragma once

#include <gst/gst.h>

namespace media::gst {

// Frames in a cycle: half a second at 30 frames a second.
constexpr int kJpegCycleFrames = 16;

// A new floating source element of image/jpeg frames of that size and rate.
// pictureStage, when given, is a floating element that takes raw I420 video
// (videobalance), which the source takes over. Null when GStreamer lacks an
// element the encoding needs.
GstElement* MakeJpegCycleSource(int width, int height, int fpsNum, int fpsDen,
                                GstElement* pictureStage = nullptr);

}  // namespace media::gst
