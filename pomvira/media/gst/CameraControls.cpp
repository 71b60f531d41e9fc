// SPDX-License-Identifier: GPL-3.0-or-later
#include "CameraControls.h"

#include <fcntl.h>
#include <sys/ioctl.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>

#include "GstRef.h"

namespace media::gst {

namespace {

// Bounds against a driver that never ends its list or its menu.
constexpr int kMaxControls = 1024;
constexpr int64_t kMaxMenuItems = 256;

std::string FixedText(const char* text, size_t size) {
    return std::string(text, strnlen(text, size));
}

// A registered table is the device's own, shared by every page opened on
// it.
class SharedControls : public ICameraControls {
  public:
    explicit SharedControls(std::shared_ptr<ControlTable> table) : table_(std::move(table)) {}
    std::vector<CameraControl> List() override { return table_->List(); }
    bool Query(uint32_t id, CameraControl* control) override { return table_->Query(id, control); }
    bool Get(uint32_t id, int64_t* value) override { return table_->Get(id, value); }
    int Set(uint32_t id, int64_t value) override { return table_->Set(id, value); }

  private:
    std::shared_ptr<ControlTable> table_;
};

// The tables registered by device type.
std::mutex g_sourcesLock;
std::vector<std::pair<GType, DeviceControlsSource>> g_sources;

// The source registered for the device's type; empty for none.
DeviceControlsSource SourceFor(GstDevice* device) {
    std::lock_guard<std::mutex> guard(g_sourcesLock);
    for (const auto& [type, source] : g_sources) {
        if (G_TYPE_CHECK_INSTANCE_TYPE(device, type))
            return source;
    }
    return nullptr;
}

std::string DeviceText(GstDevice* device, const char* key) {
    GstRef<GstStructure> props = GstRef<GstStructure>::Adopt(gst_device_get_properties(device));
    const char* value = props ? gst_structure_get_string(props.Get(), key) : nullptr;
    return value ? value : "";
}

// The V4L2 node behind a device: the node a V4L2 source opens, or the one
// behind a PipeWire camera.
std::string V4l2Node(GstDevice* device, GstElement* source) {
    if (source) {
        GstElementFactory* factory = gst_element_get_factory(source);
        if (factory && std::strcmp(GST_OBJECT_NAME(factory), "v4l2src") == 0) {
            gchar* node = nullptr;
            g_object_get(source, "device", &node, nullptr);
            std::string result = node ? node : "";
            g_free(node);
            if (!result.empty())
                return result;
        }
    }
    if (!device)
        return {};
    std::string node = DeviceText(device, "api.v4l2.path");
    if (node.empty() && DeviceText(device, "device.api") == "v4l2")
        node = DeviceText(device, "device.path");
    return node;
}

}  // namespace

uint32_t AutomaticPartner(uint32_t manual) {
    switch (manual) {
        case V4L2_CID_EXPOSURE_ABSOLUTE:
        case V4L2_CID_EXPOSURE:
            return V4L2_CID_EXPOSURE_AUTO;
        case V4L2_CID_WHITE_BALANCE_TEMPERATURE:
        case V4L2_CID_RED_BALANCE:
        case V4L2_CID_BLUE_BALANCE:
            return V4L2_CID_AUTO_WHITE_BALANCE;
        case V4L2_CID_GAIN:
            return V4L2_CID_AUTOGAIN;
        case V4L2_CID_FOCUS_ABSOLUTE:
        case V4L2_CID_FOCUS_RELATIVE:
            return V4L2_CID_FOCUS_AUTO;
        case V4L2_CID_HUE:
            return V4L2_CID_HUE_AUTO;
        case V4L2_CID_BRIGHTNESS:
            return V4L2_CID_AUTOBRIGHTNESS;
        case V4L2_CID_ISO_SENSITIVITY:
            return V4L2_CID_ISO_SENSITIVITY_AUTO;
        default:
            return 0;
    }
}

bool AutomaticIsOn(uint32_t automatic, int64_t value) {
    switch (automatic) {
        case V4L2_CID_EXPOSURE_AUTO:
            // Shutter priority leaves the exposure time to the user.
            return value == V4L2_EXPOSURE_AUTO || value == V4L2_EXPOSURE_APERTURE_PRIORITY;
        case V4L2_CID_ISO_SENSITIVITY_AUTO:
            return value == V4L2_ISO_SENSITIVITY_AUTO;
        default:
            return value != 0;
    }
}

std::string ControlClassName(uint32_t controlClass) {
    switch (controlClass) {
        case V4L2_CTRL_CLASS_USER:
            return "User Controls";
        case V4L2_CTRL_CLASS_CAMERA:
            return "Camera Controls";
        case V4L2_CTRL_CLASS_CODEC:
            return "Codec Controls";
        case V4L2_CTRL_CLASS_JPEG:
            return "JPEG Compression Controls";
        case V4L2_CTRL_CLASS_IMAGE_SOURCE:
            return "Image Source Controls";
        case V4L2_CTRL_CLASS_IMAGE_PROC:
            return "Image Processing Controls";
        case V4L2_CTRL_CLASS_FLASH:
            return "Flash Controls";
        case V4L2_CTRL_CLASS_DETECT:
            return "Detection Controls";
        default:
            return "Controls";
    }
}

int64_t SnapToStep(const CameraControl& c, int64_t value) {
    if (c.maximum <= c.minimum)
        return c.minimum;
    const uint64_t step = c.step ? c.step : 1;
    // Offsets from the minimum, in unsigned arithmetic: the whole 64-bit
    // range fits.
    const uint64_t span = uint64_t(c.maximum) - uint64_t(c.minimum);
    const uint64_t offset = uint64_t(std::clamp(value, c.minimum, c.maximum)) - uint64_t(c.minimum);
    const uint64_t half = step / 2;
    const uint64_t rounded = span - offset <= half ? span : offset + half;
    return int64_t(uint64_t(c.minimum) + rounded / step * step);
}

// ---------------------------------------------------------------------------
// V4l2CameraControls
// ---------------------------------------------------------------------------
std::unique_ptr<V4l2CameraControls> V4l2CameraControls::Open(const std::string& node,
                                                             IoctlFunction ioctl) {
    const int fd = ::open(node.c_str(), O_RDWR | O_NONBLOCK | O_CLOEXEC);
    if (fd < 0)
        return nullptr;
    return std::make_unique<V4l2CameraControls>(fd, std::move(ioctl));
}

V4l2CameraControls::V4l2CameraControls(int fd, IoctlFunction ioctl)
    : fd_(fd), ioctl_(std::move(ioctl)) {
    if (!ioctl_)
        ioctl_ = [](int f, unsigned long request, void* arg) { return ::ioctl(f, request, arg); };
}

V4l2CameraControls::~V4l2CameraControls() {
    if (fd_ >= 0)
        ::close(fd_);
}

int V4l2CameraControls::Call(unsigned long request, void* arg) {
    int r;
    do {
        r = ioctl_(fd_, request, arg);
    } while (r < 0 && errno == EINTR);
    return r;
}

namespace {

CameraControl FromQuery(const v4l2_query_ext_ctrl& q) {
    CameraControl c;
    c.id = q.id;
    c.type = q.type;
    c.name = FixedText(q.name, sizeof q.name);
    c.minimum = q.minimum;
    c.maximum = q.maximum;
    c.step = q.step ? q.step : 1;
    c.defaultValue = q.default_value;
    c.flags = q.flags;
    return c;
}

}  // namespace

void V4l2CameraControls::FillMenu(CameraControl* control) {
    if (control->type != V4L2_CTRL_TYPE_MENU && control->type != V4L2_CTRL_TYPE_INTEGER_MENU)
        return;
    const int64_t last = std::min(control->maximum, control->minimum + kMaxMenuItems - 1);
    for (int64_t i = std::max<int64_t>(control->minimum, 0); i <= last; ++i) {
        v4l2_querymenu m{};
        m.id = control->id;
        m.index = uint32_t(i);
        // Drivers leave gaps (a UVC camera's exposure menu: 1 and 3 only).
        if (Call(VIDIOC_QUERYMENU, &m) < 0)
            continue;
        control->menu.push_back({i, control->type == V4L2_CTRL_TYPE_MENU
                                        ? FixedText(reinterpret_cast<const char*>(m.name),
                                                    sizeof m.name)
                                        : std::to_string(int64_t(m.value))});
    }
}

std::vector<CameraControl> V4l2CameraControls::List() {
    std::vector<CameraControl> result;
    v4l2_query_ext_ctrl q{};
    q.id = V4L2_CTRL_FLAG_NEXT_CTRL;
    uint32_t previous = 0;
    for (int n = 0; n < kMaxControls && Call(VIDIOC_QUERY_EXT_CTRL, &q) == 0; ++n) {
        if (n > 0 && q.id <= previous)
            break;  // a driver that does not move on
        previous = q.id;
        if (!(q.flags & V4L2_CTRL_FLAG_DISABLED) && !(q.flags & V4L2_CTRL_FLAG_HAS_PAYLOAD)) {
            CameraControl c = FromQuery(q);
            types_[c.id] = c.type;
            FillMenu(&c);
            result.push_back(std::move(c));
        }
        const uint32_t next = q.id | V4L2_CTRL_FLAG_NEXT_CTRL;
        q = v4l2_query_ext_ctrl{};
        q.id = next;
    }
    return result;
}

bool V4l2CameraControls::Query(uint32_t id, CameraControl* control) {
    v4l2_query_ext_ctrl q{};
    q.id = id;
    if (Call(VIDIOC_QUERY_EXT_CTRL, &q) < 0)
        return false;
    *control = FromQuery(q);
    types_[id] = control->type;
    return true;
}

bool V4l2CameraControls::Get(uint32_t id, int64_t* value) {
    v4l2_ext_control c{};
    c.id = id;
    v4l2_ext_controls cs{};
    cs.which = V4L2_CTRL_WHICH_CUR_VAL;
    cs.count = 1;
    cs.controls = &c;
    if (Call(VIDIOC_G_EXT_CTRLS, &cs) < 0)
        return false;
    // 64-bit controls fill value64; the others value, its first half.
    *value = TypeOf(id) == V4L2_CTRL_TYPE_INTEGER64 ? c.value64 : c.value;
    return true;
}

uint32_t V4l2CameraControls::TypeOf(uint32_t id) {
    const auto known = types_.find(id);
    if (known != types_.end())
        return known->second;
    v4l2_query_ext_ctrl q{};
    q.id = id;
    if (Call(VIDIOC_QUERY_EXT_CTRL, &q) < 0)
        return 0;
    types_[id] = q.type;
    return q.type;
}

int V4l2CameraControls::Set(uint32_t id, int64_t value) {
    v4l2_ext_control c{};
    c.id = id;
    if (TypeOf(id) == V4L2_CTRL_TYPE_INTEGER64)
        c.value64 = value;
    else
        c.value = int32_t(value);
    v4l2_ext_controls cs{};
    cs.which = V4L2_CTRL_WHICH_CUR_VAL;
    cs.count = 1;
    cs.controls = &c;
    return Call(VIDIOC_S_EXT_CTRLS, &cs) < 0 ? (errno ? errno : EIO) : 0;
}

// ---------------------------------------------------------------------------
// ControlTable
// ---------------------------------------------------------------------------
ControlTable::ControlTable(std::vector<Entry> entries) : entries_(std::move(entries)) {
    UpdateInactive();
}

ControlTable::Entry* ControlTable::Find(uint32_t id) {
    for (Entry& e : entries_)
        if (e.control.id == id)
            return &e;
    return nullptr;
}

void ControlTable::UpdateInactive() {
    for (Entry& e : entries_) {
        const Entry* automatic = Find(AutomaticPartner(e.control.id));
        if (!automatic)
            continue;
        if (AutomaticIsOn(automatic->control.id, automatic->value))
            e.control.flags |= V4L2_CTRL_FLAG_INACTIVE;
        else
            e.control.flags &= ~uint32_t(V4L2_CTRL_FLAG_INACTIVE);
    }
}

std::vector<CameraControl> ControlTable::List() {
    std::lock_guard<std::mutex> guard(lock_);
    std::vector<CameraControl> result;
    for (const Entry& e : entries_)
        result.push_back(e.control);
    return result;
}

bool ControlTable::Query(uint32_t id, CameraControl* control) {
    std::lock_guard<std::mutex> guard(lock_);
    const Entry* e = Find(id);
    if (!e)
        return false;
    *control = e->control;
    return true;
}

bool ControlTable::Get(uint32_t id, int64_t* value) {
    std::lock_guard<std::mutex> guard(lock_);
    const Entry* e = Find(id);
    if (!e || e->control.type == V4L2_CTRL_TYPE_CTRL_CLASS ||
        (e->control.flags & V4L2_CTRL_FLAG_WRITE_ONLY))
        return false;
    *value = e->value;
    return true;
}

int ControlTable::Set(uint32_t id, int64_t value) {
    {
        std::lock_guard<std::mutex> guard(lock_);
        Entry* e = Find(id);
        if (!e)
            return EINVAL;
        const CameraControl& c = e->control;
        if (c.type == V4L2_CTRL_TYPE_CTRL_CLASS || c.ReadOnly() || c.Inactive())
            return EACCES;
        switch (c.type) {
            case V4L2_CTRL_TYPE_INTEGER:
            case V4L2_CTRL_TYPE_INTEGER64:
                value = SnapToStep(c, value);
                break;
            case V4L2_CTRL_TYPE_BOOLEAN:
                value = value != 0;
                break;
            case V4L2_CTRL_TYPE_MENU:
            case V4L2_CTRL_TYPE_INTEGER_MENU: {
                if (value < c.minimum || value > c.maximum)
                    return ERANGE;
                bool listed = false;
                for (const CameraMenuItem& item : c.menu)
                    listed = listed || item.value == value;
                if (!listed)
                    return EINVAL;
                break;
            }
            case V4L2_CTRL_TYPE_BUTTON:
                return 0;
            default:
                break;
        }
        if (e->value == value)
            return 0;
        e->value = value;
        UpdateInactive();
    }
    if (OnChanged)
        OnChanged(id, value);
    return 0;
}

ControlTable::Entry IntegerControl(uint32_t id, const char* name, int64_t min, int64_t max,
                                   uint64_t step, int64_t def) {
    CameraControl c;
    c.id = id;
    c.type = V4L2_CTRL_TYPE_INTEGER;
    c.name = name;
    c.minimum = min;
    c.maximum = max;
    c.step = step;
    c.defaultValue = def;
    return {c, def};
}

ControlTable::Entry BooleanControl(uint32_t id, const char* name, bool def) {
    ControlTable::Entry e = IntegerControl(id, name, 0, 1, 1, def ? 1 : 0);
    e.control.type = V4L2_CTRL_TYPE_BOOLEAN;
    return e;
}

ControlTable::Entry MenuControl(uint32_t id, const char* name, std::vector<CameraMenuItem> items,
                                int64_t def) {
    ControlTable::Entry e =
        IntegerControl(id, name, items.empty() ? 0 : items.front().value,
                       items.empty() ? 0 : items.back().value, 1, def);
    e.control.type = V4L2_CTRL_TYPE_MENU;
    e.control.menu = std::move(items);
    return e;
}

ControlTable::Entry IntegerMenuControl(uint32_t id, const char* name, std::vector<int64_t> items,
                                       int64_t def) {
    ControlTable::Entry e = IntegerControl(id, name, 0, int64_t(items.size()) - 1, 1, def);
    e.control.type = V4L2_CTRL_TYPE_INTEGER_MENU;
    for (size_t i = 0; i < items.size(); ++i)
        e.control.menu.push_back({int64_t(i), std::to_string(items[i])});
    return e;
}

ControlTable::Entry ClassControl(uint32_t controlClass, const char* name) {
    CameraControl c;
    c.id = controlClass | 1;
    c.type = V4L2_CTRL_TYPE_CTRL_CLASS;
    c.name = name;
    c.flags = V4L2_CTRL_FLAG_READ_ONLY | V4L2_CTRL_FLAG_WRITE_ONLY;
    return {c, 0};
}

void RegisterDeviceControls(GType deviceType, DeviceControlsSource controls) {
    std::lock_guard<std::mutex> guard(g_sourcesLock);
    g_sources.emplace_back(deviceType, std::move(controls));
}

std::unique_ptr<ICameraControls> OpenCameraControls(GstDevice* device, GstElement* source) {
    if (DeviceControlsSource registered = device ? SourceFor(device) : nullptr) {
        std::shared_ptr<ControlTable> table = registered(device);
        if (!table)
            return nullptr;
        return std::make_unique<SharedControls>(std::move(table));
    }
    const std::string node = V4l2Node(device, source);
    if (node.empty())
        return nullptr;
    std::unique_ptr<V4l2CameraControls> controls = V4l2CameraControls::Open(node);
    if (!controls || controls->List().empty())
        return nullptr;
    return controls;
}

bool MayHaveCameraControls(GstDevice* device, GstElement* source) {
    if (device && !gst_device_has_classes(device, "Video"))
        return false;  // a microphone
    // A device whose provider carries its controls has them when it gives
    // a table.
    if (DeviceControlsSource registered = device ? SourceFor(device) : nullptr)
        return registered(device) != nullptr;
    return !V4l2Node(device, source).empty();
}

}  // namespace media::gst
