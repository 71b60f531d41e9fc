// SPDX-License-Identifier: GPL-3.0-or-later
// A camera's identity from its device properties (as GStreamer's V4L2 and
// PipeWire providers give them): what survives unplugging wins over the node.
#include <gst/gst.h>
#include <gtest/gtest.h>

#include <initializer_list>
#include <utility>

#include "media/gst/DeviceIdentity.h"

using namespace media::gst;

namespace {

DeviceProperties Props(std::initializer_list<std::pair<const char*, const char*>> fields) {
    gst_init(nullptr, nullptr);
    GstStructure* s = gst_structure_new_empty("properties");
    for (const auto& [key, value] : fields)
        gst_structure_set(s, key, G_TYPE_STRING, value, nullptr);
    return DeviceProperties::Adopt(s);
}

// A UVC camera as GStreamer's V4L2 provider describes it with udev.
DeviceProperties V4l2Camera(const char* node, const char* busPath, const char* serial,
                            const char* busInfo) {
    return Props({{"device.path", node},
                  {"device.bus_path", busPath},
                  {"device.serial", serial},
                  {"v4l2.device.bus_info", busInfo},
                  {"sysfs.path", "/sys/devices/pci0000:00/0000:00:14.0/usb1/1-1/video4linux"}});
}

}  // namespace

TEST(DeviceIdentity, ACameraIsKnownByItsBusPathNotByItsNode) {
    const std::string before = StableDeviceId(
        V4l2Camera("/dev/video0", "pci-0000:00:14.0-usb-0:1:1.0", "046d_HD_Pro_Webcam_C920_A1B2C3D4",
                   "usb-0000:00:14.0-1")
            .Get());
    // Plugged back into the same port, it comes back as another node.
    const std::string after = StableDeviceId(
        V4l2Camera("/dev/video2", "pci-0000:00:14.0-usb-0:1:1.0", "046d_HD_Pro_Webcam_C920_A1B2C3D4",
                   "usb-0000:00:14.0-1")
            .Get());
    EXPECT_EQ(before, after);
    EXPECT_EQ(before, "bus:pci-0000:00:14.0-usb-0:1:1.0");
    // Another camera that lands on the old node is another camera.
    const std::string other = StableDeviceId(
        V4l2Camera("/dev/video0", "pci-0000:00:14.0-usb-0:2:1.0", "045e_LifeCam_HD-3000",
                   "usb-0000:00:14.0-2")
            .Get());
    EXPECT_NE(before, other);
}

TEST(DeviceIdentity, WithoutABusPathTheSerialThenThePipeWireNodeNameThenTheDriversBus) {
    EXPECT_EQ(StableDeviceId(Props({{"device.path", "/dev/video4"},
                                    {"device.serial", "Logitech_C270_9A8B7C6D"},
                                    {"v4l2.device.bus_info", "usb-0000:00:14.0-3"}})
                                 .Get()),
              "serial:Logitech_C270_9A8B7C6D");
    // A PipeWire camera node.
    EXPECT_EQ(StableDeviceId(Props({{"object.path", "v4l2:/dev/video0"},
                                    {"api.v4l2.path", "/dev/video0"},
                                    {"api.v4l2.cap.bus_info", "usb-0000:00:14.0-1"},
                                    {"node.name", "v4l2_input.pci-0000_00_14.0-usb-0_1_1.0"}})
                                 .Get()),
              "node:v4l2_input.pci-0000_00_14.0-usb-0_1_1.0");
    // The V4L2 provider without udev (in a container, say).
    EXPECT_EQ(StableDeviceId(
                  Props({{"device.path", "/dev/video0"}, {"v4l2.device.bus_info", "usb-1-2"}}).Get()),
              "businfo:usb-1-2");
    // Only the node: the last resort.
    EXPECT_EQ(StableDeviceId(Props({{"device.path", "/dev/video7"}}).Get()), "path:/dev/video7");
    EXPECT_EQ(StableDeviceId(Props({}).Get()), "");
    EXPECT_EQ(StableDeviceId(nullptr), "");
}

TEST(DeviceIdentity, DevicesSharingAnIdentityAreToldApartByTheOrderOfTheirNodes) {
    // A camera with a colour and an infrared node, known by its bus_info
    // only, listed in an arbitrary order; a third device stands alone.
    std::vector<DeviceProperties> devices;
    devices.push_back(Props({{"device.path", "/dev/video10"}, {"v4l2.device.bus_info", "usb-1-4"}}));
    devices.push_back(Props({{"device.path", "/dev/video9"}, {"v4l2.device.bus_info", "usb-1-4"}}));
    devices.push_back(Props({{"device.path", "/dev/video0"}, {"v4l2.device.bus_info", "usb-1-1"}}));
    std::vector<std::string> ids = StableDeviceIds(devices);
    ASSERT_EQ(ids.size(), 3u);
    EXPECT_EQ(ids[1], "businfo:usb-1-4");  // video9 before video10
    EXPECT_EQ(ids[0], "businfo:usb-1-4#2");
    EXPECT_EQ(ids[2], "businfo:usb-1-1");

    // Plugged back with other node numbers, in the same order: the same ids.
    std::vector<DeviceProperties> back;
    back.push_back(Props({{"device.path", "/dev/video3"}, {"v4l2.device.bus_info", "usb-1-4"}}));
    back.push_back(Props({{"device.path", "/dev/video2"}, {"v4l2.device.bus_info", "usb-1-4"}}));
    std::vector<std::string> again = StableDeviceIds(back);
    EXPECT_EQ(again[1], "businfo:usb-1-4");
    EXPECT_EQ(again[0], "businfo:usb-1-4#2");
}
