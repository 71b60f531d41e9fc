// SPDX-License-Identifier: GPL-3.0-or-later
// The built-in test devices: a GStreamer device provider registered inside
// the program that lists N cameras "Test Camera 1".."Test Camera N" and one
// microphone "Test Microphone" (POMVIRA_TEST_DEVICES=N).
#pragma once

#include <string>

namespace media::gst {

// Registers the provider (once) for count cameras; count < 1 does nothing.
// Its devices carry their place in the listing (cameras by number, then the
// microphone) and the test cameras' own controls; the device watch watches
// the provider also where the machine's devices are left out. True once the
// provider is registered.
bool RegisterTestDevices(int count);

// Unplugs (plugged false) or plugs back the test device of that display name
// ("Test Camera 1", "Test Microphone"). An unplugged device leaves the device
// list (a watching device monitor is told), each of its running sources posts
// a device-lost error and ends its stream, and a source made for it fails to
// start. False for a name that is no test device.
bool PlugTestDevice(const std::string& name, bool plugged);
// Makes the next source of that test camera that starts refuse to, as a
// camera another program holds (a busy-resource error); later ones start.
void RefuseTestCameraStartOnce(const std::string& name);

// The formats the test cameras offer, as caps text: with
// POMVIRA_TEST_CAMERA_PROFILE=webcam those of a common 1080p USB webcam (raw
// YUY2 at small sizes or low rates, MJPG at every size up to 1920x1080 at
// 30, 25, 20, 15, 10 and 5 fps), otherwise five small formats at 30 fps.
const char* TestCameraFormats();
// Switches the test cameras' profile for the rest of the run ("webcam", or
// empty for the default): sets POMVIRA_TEST_CAMERA_PROFILE, and a provider
// that is watched lists its cameras afresh (it keeps its listing while it is
// watched, so a changed variable alone would not show).
void SetTestCameraProfile(const std::string& profile);

}  // namespace media::gst
