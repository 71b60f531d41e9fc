// SPDX-License-Identifier: GPL-3.0-or-later
// A camera's own controls (V4L2 controls: brightness, exposure and its
// automatic mode, white balance, gain, focus, power-line frequency, zoom,
// ...), read and set on the device, behind a small interface:
//  - V4l2CameraControls: the real device node, through the extended control
//    ioctls (VIDIOC_QUERY_EXT_CTRL walked with V4L2_CTRL_FLAG_NEXT_CTRL,
//    VIDIOC_QUERYMENU, VIDIOC_G_EXT_CTRLS, VIDIOC_S_EXT_CTRLS). The ioctl
//    call itself can be replaced, so the code is tried against emulated
//    devices;
//  - ControlTable: controls held in memory that behave as a driver's do (an
//    automatic control makes its manual partner inactive and refuses writes
//    to it; integers are clamped to their range and rounded to their step,
//    menu entries checked): the controls of a device that has no V4L2 node
//    (the program's own devices), registered for its type.
// Controls come in the driver's order, grouped by control class; a class
// entry (type V4L2_CTRL_TYPE_CTRL_CLASS) names its group where the driver
// has one.
#pragma once

#include <linux/videodev2.h>

#include <cstdint>
#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include <gst/gst.h>

namespace media::gst {

struct CameraMenuItem {
    int64_t value;     // the menu index
    std::string name;  // its name, or the number of an integer menu
};

struct CameraControl {
    uint32_t id = 0;
    uint32_t type = 0;  // V4L2_CTRL_TYPE_...
    std::string name;
    int64_t minimum = 0;
    int64_t maximum = 0;
    uint64_t step = 1;
    int64_t defaultValue = 0;
    uint32_t flags = 0;  // V4L2_CTRL_FLAG_...
    std::vector<CameraMenuItem> menu;

    uint32_t ControlClass() const { return V4L2_CTRL_ID2CLASS(id); }
    bool ReadOnly() const { return flags & V4L2_CTRL_FLAG_READ_ONLY; }
    bool Inactive() const { return flags & V4L2_CTRL_FLAG_INACTIVE; }
};

class ICameraControls {
  public:
    virtual ~ICameraControls() = default;
    // Every control the device offers, class entries included, in its order.
    // Disabled controls and those with a payload (strings, arrays) are left
    // out.
    virtual std::vector<CameraControl> List() = 0;
    // One control's flags and range afresh (its flags change as its
    // automatic partner moves; its menu entries may be left out: they are
    // those of List); false when the device does not know it.
    virtual bool Query(uint32_t id, CameraControl* control) = 0;
    // The current value; false when it cannot be read.
    virtual bool Get(uint32_t id, int64_t* value) = 0;
    // Sets the value: 0, or the errno the device gave (EACCES for an
    // inactive or read-only control, ERANGE/EINVAL for a value it refuses).
    virtual int Set(uint32_t id, int64_t value) = 0;
};

// The automatic control that governs a manual one (exposure, white balance
// temperature, gain, focus, hue, brightness), and whether a value of that
// automatic control means "automatic on". 0 for controls without one.
uint32_t AutomaticPartner(uint32_t manual);
bool AutomaticIsOn(uint32_t automatic, int64_t value);
// The name of a control class, for a driver that has no class entries.
std::string ControlClassName(uint32_t controlClass);
// An integer control's value as the kernel keeps it: clamped to the range,
// then put on the nearest step counted from the minimum (halves go up; a
// value within half a step of the maximum goes to the highest step).
int64_t SnapToStep(const CameraControl& control, int64_t value);

class V4l2CameraControls : public ICameraControls {
  public:
    using IoctlFunction = std::function<int(int fd, unsigned long request, void* arg)>;

    // Opens the device node; null when it cannot be opened. The ioctl
    // function defaults to the system's.
    static std::unique_ptr<V4l2CameraControls> Open(const std::string& node,
                                                    IoctlFunction ioctl = nullptr);
    // Works on an open descriptor, which it closes at the end (-1: none).
    V4l2CameraControls(int fd, IoctlFunction ioctl);
    ~V4l2CameraControls() override;

    std::vector<CameraControl> List() override;
    bool Query(uint32_t id, CameraControl* control) override;
    bool Get(uint32_t id, int64_t* value) override;
    int Set(uint32_t id, int64_t value) override;

  private:
    int Call(unsigned long request, void* arg);
    void FillMenu(CameraControl* control);
    // The control's type (known from listing it, or asked for); 0 unknown.
    uint32_t TypeOf(uint32_t id);

    int fd_;
    IoctlFunction ioctl_;
    std::map<uint32_t, uint32_t> types_;
};

class ControlTable : public ICameraControls {
  public:
    struct Entry {
        CameraControl control;
        int64_t value;
    };
    explicit ControlTable(std::vector<Entry> entries);

    std::vector<CameraControl> List() override;
    bool Query(uint32_t id, CameraControl* control) override;
    bool Get(uint32_t id, int64_t* value) override;
    int Set(uint32_t id, int64_t value) override;

    // Called (outside the table's lock) after a value changed.
    std::function<void(uint32_t id, int64_t value)> OnChanged;

  private:
    Entry* Find(uint32_t id);
    void UpdateInactive();

    std::mutex lock_;
    std::vector<Entry> entries_;
};

// A control list entry, for ControlTable contents.
ControlTable::Entry IntegerControl(uint32_t id, const char* name, int64_t min, int64_t max,
                                   uint64_t step, int64_t def);
ControlTable::Entry BooleanControl(uint32_t id, const char* name, bool def);
ControlTable::Entry MenuControl(uint32_t id, const char* name, std::vector<CameraMenuItem> items,
                                int64_t def);
ControlTable::Entry IntegerMenuControl(uint32_t id, const char* name, std::vector<int64_t> items,
                                       int64_t def);
ControlTable::Entry ClassControl(uint32_t controlClass, const char* name);

// Gives the devices of `deviceType` (and of the types derived from it) the
// control table `controls` answers for each (null: it has none to offer), in
// place of a device node's: for devices no V4L2 node stands behind, such as
// those of a provider the program registers itself. The table is the
// device's own, shared by every page opened on it.
using DeviceControlsSource = std::function<std::shared_ptr<ControlTable>(GstDevice* device)>;
void RegisterDeviceControls(GType deviceType, DeviceControlsSource controls);

// The controls of a capture device: those registered for its type, or the
// V4L2 node behind a V4L2 source or a PipeWire V4L2 camera; null when the
// device has none to offer this way.
std::unique_ptr<ICameraControls> OpenCameraControls(GstDevice* device, GstElement* source);
// Whether OpenCameraControls looks for such controls (a test camera that has
// them, a V4L2 node behind the device), told without asking the device.
bool MayHaveCameraControls(GstDevice* device, GstElement* source);

}  // namespace media::gst
