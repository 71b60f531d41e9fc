// SPDX-License-Identifier: GPL-3.0-or-later
// The built-in test cameras' own controls, offered with the webcam profile
// (POMVIRA_TEST_CAMERA_PROFILE=webcam): the controls of a common UVC webcam
// (brightness, contrast, saturation, hue, automatic white balance and its
// temperature, gamma, gain, power-line frequency, sharpness, backlight
// compensation; automatic exposure and its exposure time, focus and
// autofocus, zoom, pan, tilt). Brightness, contrast, saturation and hue act
// on the camera's picture, on the running stream and on every stream started
// later, as a real camera's do; the others are kept only.
#pragma once

#include <gst/gst.h>

#include <memory>
#include <string>

#include "media/gst/CameraControls.h"

namespace media::gst {

// Whether the test cameras follow the webcam profile.
bool TestCameraWebcamProfile();

// The camera's controls (one table per camera, kept for the program's
// life); null without the webcam profile.
std::shared_ptr<ControlTable> TestCameraControlTable(const std::string& camera);

// The picture stage of a test camera's stream: a videobalance element that
// follows the camera's controls (a new floating element), or null without
// the webcam profile.
GstElement* MakeTestCameraPictureStage(const std::string& camera);

}  // namespace media::gst
