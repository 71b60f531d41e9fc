// The built-in test devices: a GStreamer device provider registered inside
// the program that lists N cameras "Test Camera 1".."Test Camera N" and one
// microphone "Test Microphone" (POMVIRA_TEST_DEVICES=N).
#pragma once

#include <gst/gst.h>

#include <vector>

#include "GstRef.h"

namespace media::gst {

// Registers the provider (once) for count cameras; count < 1 does nothing.
void RegisterTestDevices(int count);
// Whether the provider has been registered.
bool TestDevicesRegistered();
// The test devices, cameras first, each with one reference.
std::vector<GstRef<GstDevice>> TestDevices();
// Whether a device is one of the built-in test devices.
bool IsTestDevice(GstDevice* device);

// The name of the provider factory and the device class names.
extern const char* const kTestProviderName;

}  // namespace media::gst
