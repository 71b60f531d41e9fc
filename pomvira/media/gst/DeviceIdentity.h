// SPDX-License-Identifier: GPL-3.0-or-later
// What a capture device is recognised by: what survives unplugging it and
// plugging it back, so that a camera that returns as another /dev/videoN is
// the same camera, and another camera that lands on the old node is not.
//  1. its bus path (udev's ID_PATH: the USB port and interface it hangs
//     on), as GStreamer's V4L2 provider ("device.bus_path") and PipeWire's
//     device properties ("device.bus-path") give it;
//  2. its serial ("device.serial"), where the bus path is unknown;
//  3. a PipeWire node's name ("node.name": made from the bus path by the
//     session manager, or chosen by whoever made the node);
//  4. the bus the driver reports (VIDIOC_QUERYCAP's bus_info, per USB device
//     rather than per interface: "v4l2.device.bus_info",
//     "api.v4l2.cap.bus_info");
//  5. as a last resort, the node itself ("api.v4l2.path", "device.path",
//     "object.path", ...).
// Devices of one provider that share an identity (the capture and infrared
// nodes of one camera known only by its bus_info, two cameras of one model
// with the same serial) are told apart by their order of nodes: "#2", "#3"
// after the first, which keeps its identity as it was.
#pragma once

#include <string>
#include <vector>

#include "GstRef.h"

namespace media::gst {

using DeviceProperties = GstRef<GstStructure>;

// The identity text for a device's properties; empty when none of the
// properties above is there.
std::string StableDeviceId(const GstStructure* properties);

// The identities of the devices of one provider, in the same order, those
// that would be the same told apart.
std::vector<std::string> StableDeviceIds(const std::vector<DeviceProperties>& properties);

}  // namespace media::gst
