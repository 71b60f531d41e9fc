// SPDX-License-Identifier: GPL-3.0-or-later
// An emulated V4L2 device for the camera controls: it answers the control
// ioctls (VIDIOC_QUERY_EXT_CTRL with V4L2_CTRL_FLAG_NEXT_CTRL,
// VIDIOC_QUERYMENU, VIDIOC_G_EXT_CTRLS, VIDIOC_S_EXT_CTRLS) as the kernel and
// uvcvideo do, with its own checks (none of the program's): integers clamped
// to their range and rounded to their step, booleans made 0 or 1, menu
// indices outside the range refused (ERANGE) and missing ones refused
// (EINVAL), read-only controls and manual controls under their automatic
// mode refused (EACCES). And the control lists of several common webcams,
// written from their published `v4l2-ctl --list-ctrls-menus` listings.
//
// The ioctls may come from any thread. For the tests of the user-interface
// thread: writes can be made slow or held until released, every call made
// on a watched thread is counted, and two writes of one control at the same
// time are noticed.
#pragma once

#include <linux/videodev2.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <condition_variable>
#include <cstring>
#include <functional>
#include <mutex>
#include <set>
#include <string>
#include <thread>
#include <utility>
#include <vector>

#include "media/gst/CameraControls.h"

namespace fakev4l2 {

using media::gst::CameraControl;
using media::gst::ControlTable;
using Entries = std::vector<ControlTable::Entry>;
using media::gst::BooleanControl;
using media::gst::ClassControl;
using media::gst::IntegerControl;
using media::gst::IntegerMenuControl;
using media::gst::MenuControl;

class FakeV4l2Device {
  public:
    explicit FakeV4l2Device(const Entries& entries) : controls_(entries) { UpdateInactive(); }

    // Controls whose writes the device refuses (EIO).
    std::set<uint32_t> failing;
    // What the device keeps of a value it accepted (a camera with steps of
    // its own); null: the value as the kernel rounded it.
    std::function<int64_t(uint32_t id, int64_t value)> keeps;

    media::gst::V4l2CameraControls::IoctlFunction Ioctl() {
        return [this](int, unsigned long request, void* arg) {
            const int error = Answer(request, arg);
            if (error) {
                errno = error;
                return -1;
            }
            return 0;
        };
    }

    // The controls as listed, with their flags now.
    std::vector<CameraControl> List() {
        std::lock_guard<std::mutex> guard(lock_);
        std::vector<CameraControl> out;
        for (const ControlTable::Entry& e : controls_)
            out.push_back(e.control);
        return out;
    }
    int64_t Value(uint32_t id) {
        std::lock_guard<std::mutex> guard(lock_);
        const ControlTable::Entry* e = Find(id);
        return e ? e->value : -12345;
    }
    // Every value written, as the program sent it, in order.
    std::vector<std::pair<uint32_t, int64_t>> Writes() {
        std::lock_guard<std::mutex> guard(lock_);
        return writes_;
    }
    int SetCalls() {
        std::lock_guard<std::mutex> guard(lock_);
        return int(writes_.size());
    }
    // Writes that have ended.
    int WritesDone() {
        std::lock_guard<std::mutex> guard(lock_);
        return writesDone_;
    }
    bool Overlapped() {
        std::lock_guard<std::mutex> guard(lock_);
        return overlapped_;
    }

    // Each write takes this long.
    void SetWriteTime(std::chrono::milliseconds time) {
        std::lock_guard<std::mutex> guard(lock_);
        writeTime_ = time;
    }
    // Writes wait until Release (but never on the watched thread, which
    // would wait for good).
    void Hold() {
        std::lock_guard<std::mutex> guard(lock_);
        held_ = true;
    }
    void Release() {
        {
            std::lock_guard<std::mutex> guard(lock_);
            held_ = false;
        }
        released_.notify_all();
    }
    // Counts the calls made from now on on the calling thread.
    void WatchThisThread() {
        std::lock_guard<std::mutex> guard(lock_);
        watched_ = std::this_thread::get_id();
        watchedCalls_ = 0;
    }
    int CallsOnWatchedThread() {
        std::lock_guard<std::mutex> guard(lock_);
        return watchedCalls_;
    }

  private:
    // The manual controls a driver makes inactive, with the value of their
    // automatic control that leaves them to the user (uvcvideo's and the
    // V4L2 auto clusters' pairs).
    struct Manual {
        uint32_t id, automatic;
        int64_t manualValue;
    };
    static constexpr Manual kManuals[] = {
        {V4L2_CID_EXPOSURE_ABSOLUTE, V4L2_CID_EXPOSURE_AUTO, V4L2_EXPOSURE_MANUAL},
        {V4L2_CID_EXPOSURE, V4L2_CID_EXPOSURE_AUTO, V4L2_EXPOSURE_MANUAL},
        {V4L2_CID_WHITE_BALANCE_TEMPERATURE, V4L2_CID_AUTO_WHITE_BALANCE, 0},
        {V4L2_CID_RED_BALANCE, V4L2_CID_AUTO_WHITE_BALANCE, 0},
        {V4L2_CID_BLUE_BALANCE, V4L2_CID_AUTO_WHITE_BALANCE, 0},
        {V4L2_CID_GAIN, V4L2_CID_AUTOGAIN, 0},
        {V4L2_CID_FOCUS_ABSOLUTE, V4L2_CID_FOCUS_AUTO, 0},
        {V4L2_CID_HUE, V4L2_CID_HUE_AUTO, 0},
        {V4L2_CID_ISO_SENSITIVITY, V4L2_CID_ISO_SENSITIVITY_AUTO, V4L2_ISO_SENSITIVITY_MANUAL},
    };

    ControlTable::Entry* Find(uint32_t id) {
        for (ControlTable::Entry& e : controls_)
            if (e.control.id == id)
                return &e;
        return nullptr;
    }

    void UpdateInactive() {
        for (const Manual& m : kManuals) {
            ControlTable::Entry* manual = Find(m.id);
            const ControlTable::Entry* automatic = Find(m.automatic);
            if (!manual || !automatic)
                continue;
            if (automatic->value == m.manualValue)
                manual->control.flags &= ~uint32_t(V4L2_CTRL_FLAG_INACTIVE);
            else
                manual->control.flags |= V4L2_CTRL_FLAG_INACTIVE;
        }
    }

    // The kernel's rounding of an integer control (ROUND_TO_RANGE): within
    // half a step of the maximum goes to the maximum, else half a step up;
    // clamped; then down to a step from the minimum.
    static int64_t KernelRound(const CameraControl& c, int64_t value) {
        const int64_t step = int64_t(c.step ? c.step : 1);
        if (c.maximum >= 0 && value >= c.maximum - step / 2)
            value = c.maximum;
        else
            value += step / 2;
        value = std::clamp(value, c.minimum, c.maximum);
        return c.minimum + (value - c.minimum) / step * step;
    }

    // Checks and keeps one value, as the driver does; 0 or the errno.
    int Store(uint32_t id, int64_t value) {
        ControlTable::Entry* e = Find(id);
        if (!e)
            return EINVAL;
        const CameraControl& c = e->control;
        if (c.type == V4L2_CTRL_TYPE_CTRL_CLASS || (c.flags & V4L2_CTRL_FLAG_READ_ONLY) ||
            (c.flags & V4L2_CTRL_FLAG_INACTIVE))
            return EACCES;
        if (failing.count(id))
            return EIO;
        switch (c.type) {
            case V4L2_CTRL_TYPE_INTEGER:
            case V4L2_CTRL_TYPE_INTEGER64:
                value = KernelRound(c, value);
                break;
            case V4L2_CTRL_TYPE_BOOLEAN:
                value = value ? 1 : 0;
                break;
            case V4L2_CTRL_TYPE_MENU:
            case V4L2_CTRL_TYPE_INTEGER_MENU: {
                if (value < c.minimum || value > c.maximum)
                    return ERANGE;
                const bool listed =
                    std::any_of(c.menu.begin(), c.menu.end(),
                                [&](const auto& item) { return item.value == value; });
                if (!listed)
                    return EINVAL;
                break;
            }
            case V4L2_CTRL_TYPE_BUTTON:
                return 0;
            default:
                break;
        }
        if (keeps)
            value = keeps(id, value);
        e->value = value;
        UpdateInactive();
        return 0;
    }

    // A value of the request as the program sent it.
    int64_t Sent(const v4l2_ext_control& c) {
        const ControlTable::Entry* e = Find(c.id);
        return e && e->control.type == V4L2_CTRL_TYPE_INTEGER64 ? int64_t(c.value64)
                                                                : int64_t(c.value);
    }

    int Write(v4l2_ext_controls* cs) {
        std::unique_lock<std::mutex> guard(lock_);
        for (uint32_t i = 0; i < cs->count; ++i) {
            const uint32_t id = cs->controls[i].id;
            writes_.emplace_back(id, Sent(cs->controls[i]));
            if (!inFlight_.insert(id).second)
                overlapped_ = true;
        }
        if (std::this_thread::get_id() != watched_) {
            released_.wait(guard, [this] { return !held_; });
            if (writeTime_.count() > 0) {
                guard.unlock();
                std::this_thread::sleep_for(writeTime_);
                guard.lock();
            }
        }
        int error = 0;
        for (uint32_t i = 0; i < cs->count; ++i) {
            const uint32_t id = cs->controls[i].id;
            if (!error && (error = Store(id, Sent(cs->controls[i]))))
                cs->error_idx = i;
            inFlight_.erase(id);
        }
        ++writesDone_;
        return error;
    }

    int Answer(unsigned long request, void* arg) {
        if (request == VIDIOC_S_EXT_CTRLS) {
            {
                std::lock_guard<std::mutex> guard(lock_);
                if (std::this_thread::get_id() == watched_)
                    ++watchedCalls_;
            }
            return Write(static_cast<v4l2_ext_controls*>(arg));
        }
        std::lock_guard<std::mutex> guard(lock_);
        if (std::this_thread::get_id() == watched_)
            ++watchedCalls_;
        switch (request) {
            case VIDIOC_QUERY_EXT_CTRL: {
                auto* q = static_cast<v4l2_query_ext_ctrl*>(arg);
                const bool next = q->id & V4L2_CTRL_FLAG_NEXT_CTRL;
                const uint32_t id = q->id & ~(V4L2_CTRL_FLAG_NEXT_CTRL | V4L2_CTRL_FLAG_NEXT_COMPOUND);
                const CameraControl* found = nullptr;
                for (const ControlTable::Entry& e : controls_) {
                    const CameraControl& c = e.control;
                    if (next ? c.id > id && (!found || c.id < found->id) : c.id == id)
                        found = &c;
                }
                if (!found)
                    return EINVAL;
                *q = v4l2_query_ext_ctrl{};
                q->id = found->id;
                q->type = found->type;
                std::strncpy(q->name, found->name.c_str(), sizeof q->name - 1);
                q->minimum = found->minimum;
                q->maximum = found->maximum;
                q->step = found->step;
                q->default_value = found->defaultValue;
                q->flags = found->flags;
                q->elem_size = found->type == V4L2_CTRL_TYPE_INTEGER64 ? 8 : 4;
                q->elems = 1;
                q->nr_of_dims = 0;
                return 0;
            }
            case VIDIOC_QUERYMENU: {
                auto* m = static_cast<v4l2_querymenu*>(arg);
                const ControlTable::Entry* e = Find(m->id);
                if (!e)
                    return EINVAL;
                for (const auto& item : e->control.menu) {
                    if (item.value != int64_t(m->index))
                        continue;
                    if (e->control.type == V4L2_CTRL_TYPE_INTEGER_MENU)
                        m->value = std::stoll(item.name);
                    else
                        std::strncpy(reinterpret_cast<char*>(m->name), item.name.c_str(),
                                     sizeof m->name - 1);
                    return 0;
                }
                return EINVAL;
            }
            case VIDIOC_G_EXT_CTRLS: {
                auto* cs = static_cast<v4l2_ext_controls*>(arg);
                for (uint32_t i = 0; i < cs->count; ++i) {
                    const ControlTable::Entry* e = Find(cs->controls[i].id);
                    if (!e || e->control.type == V4L2_CTRL_TYPE_CTRL_CLASS ||
                        (e->control.flags & V4L2_CTRL_FLAG_WRITE_ONLY)) {
                        cs->error_idx = i;
                        return EINVAL;
                    }
                    if (e->control.type == V4L2_CTRL_TYPE_INTEGER64)
                        cs->controls[i].value64 = e->value;
                    else
                        cs->controls[i].value = int32_t(e->value);
                }
                return 0;
            }
            default:
                return ENOTTY;
        }
    }

    std::mutex lock_;
    std::condition_variable released_;
    std::vector<ControlTable::Entry> controls_;
    std::vector<std::pair<uint32_t, int64_t>> writes_;
    std::set<uint32_t> inFlight_;
    int writesDone_ = 0;
    bool overlapped_ = false;
    bool held_ = false;
    std::chrono::milliseconds writeTime_{0};
    std::thread::id watched_;
    int watchedCalls_ = 0;
};

// A menu whose indices start at 0 though some are missing, as UVC reports
// its automatic exposure (only 1 and 3 exist).
inline ControlTable::Entry GappedMenu(uint32_t id, const char* name,
                                      std::vector<media::gst::CameraMenuItem> items, int64_t min,
                                      int64_t max, int64_t def) {
    ControlTable::Entry e = MenuControl(id, name, std::move(items), def);
    e.control.minimum = min;
    e.control.maximum = max;
    return e;
}

inline ControlTable::Entry Flagged(ControlTable::Entry e, uint32_t flags) {
    e.control.flags |= flags;
    return e;
}

const std::vector<media::gst::CameraMenuItem> kPowerLine = {
    {0, "Disabled"}, {1, "50 Hz"}, {2, "60 Hz"}};
const std::vector<media::gst::CameraMenuItem> kUvcExposure = {
    {1, "Manual Mode"}, {3, "Aperture Priority Mode"}};

// Logitech HD Pro Webcam C920 (uvcvideo).
inline Entries LogitechC920() {
    return {
        ClassControl(V4L2_CTRL_CLASS_USER, "User Controls"),
        IntegerControl(V4L2_CID_BRIGHTNESS, "Brightness", 0, 255, 1, 128),
        IntegerControl(V4L2_CID_CONTRAST, "Contrast", 0, 255, 1, 128),
        IntegerControl(V4L2_CID_SATURATION, "Saturation", 0, 255, 1, 128),
        BooleanControl(V4L2_CID_AUTO_WHITE_BALANCE, "White Balance, Automatic", true),
        IntegerControl(V4L2_CID_GAIN, "Gain", 0, 255, 1, 0),
        MenuControl(V4L2_CID_POWER_LINE_FREQUENCY, "Power Line Frequency", kPowerLine, 2),
        IntegerControl(V4L2_CID_WHITE_BALANCE_TEMPERATURE, "White Balance Temperature", 2000,
                       6500, 1, 4000),
        IntegerControl(V4L2_CID_SHARPNESS, "Sharpness", 0, 255, 1, 128),
        IntegerControl(V4L2_CID_BACKLIGHT_COMPENSATION, "Backlight Compensation", 0, 1, 1, 0),
        ClassControl(V4L2_CTRL_CLASS_CAMERA, "Camera Controls"),
        GappedMenu(V4L2_CID_EXPOSURE_AUTO, "Auto Exposure", kUvcExposure, 0, 3, 3),
        IntegerControl(V4L2_CID_EXPOSURE_ABSOLUTE, "Exposure Time, Absolute", 3, 2047, 1, 250),
        BooleanControl(V4L2_CID_EXPOSURE_AUTO_PRIORITY, "Exposure, Dynamic Framerate", false),
        IntegerControl(V4L2_CID_PAN_ABSOLUTE, "Pan, Absolute", -36000, 36000, 3600, 0),
        IntegerControl(V4L2_CID_TILT_ABSOLUTE, "Tilt, Absolute", -36000, 36000, 3600, 0),
        IntegerControl(V4L2_CID_FOCUS_ABSOLUTE, "Focus, Absolute", 0, 250, 5, 0),
        BooleanControl(V4L2_CID_FOCUS_AUTO, "Focus, Automatic Continuous", true),
        IntegerControl(V4L2_CID_ZOOM_ABSOLUTE, "Zoom, Absolute", 100, 500, 1, 100),
    };
}

// Microsoft LifeCam HD-3000 (uvcvideo, an older kernel: no class entries);
// it starts in manual exposure.
inline Entries LifeCamHd3000() {
    return {
        IntegerControl(V4L2_CID_BRIGHTNESS, "Brightness", 30, 255, 1, 133),
        IntegerControl(V4L2_CID_CONTRAST, "Contrast", 0, 10, 1, 5),
        IntegerControl(V4L2_CID_SATURATION, "Saturation", 0, 200, 1, 83),
        BooleanControl(V4L2_CID_AUTO_WHITE_BALANCE, "White Balance Temperature, Auto", true),
        MenuControl(V4L2_CID_POWER_LINE_FREQUENCY, "Power Line Frequency", kPowerLine, 2),
        IntegerControl(V4L2_CID_WHITE_BALANCE_TEMPERATURE, "White Balance Temperature", 2800,
                       10000, 1, 4500),
        IntegerControl(V4L2_CID_SHARPNESS, "Sharpness", 0, 50, 1, 25),
        IntegerControl(V4L2_CID_BACKLIGHT_COMPENSATION, "Backlight Compensation", 0, 10, 1, 0),
        GappedMenu(V4L2_CID_EXPOSURE_AUTO, "Exposure, Auto", kUvcExposure, 0, 3, 1),
        IntegerControl(V4L2_CID_EXPOSURE_ABSOLUTE, "Exposure (Absolute)", 5, 20000, 1, 156),
        IntegerControl(V4L2_CID_PAN_ABSOLUTE, "Pan (Absolute)", -201600, 201600, 3600, 0),
        IntegerControl(V4L2_CID_TILT_ABSOLUTE, "Tilt (Absolute)", -201600, 201600, 3600, 0),
        IntegerControl(V4L2_CID_ZOOM_ABSOLUTE, "Zoom, Absolute", 0, 10, 1, 0),
    };
}

// A laptop's integrated camera (Chicony, uvcvideo) with a privacy switch the
// camera reports read-only.
inline Entries IntegratedLaptopCamera() {
    return {
        ClassControl(V4L2_CTRL_CLASS_USER, "User Controls"),
        IntegerControl(V4L2_CID_BRIGHTNESS, "Brightness", -64, 64, 1, 0),
        IntegerControl(V4L2_CID_CONTRAST, "Contrast", 0, 95, 1, 0),
        IntegerControl(V4L2_CID_SATURATION, "Saturation", 0, 100, 1, 64),
        IntegerControl(V4L2_CID_HUE, "Hue", -2000, 2000, 1, 0),
        BooleanControl(V4L2_CID_AUTO_WHITE_BALANCE, "White Balance, Automatic", true),
        IntegerControl(V4L2_CID_GAMMA, "Gamma", 100, 300, 1, 100),
        MenuControl(V4L2_CID_POWER_LINE_FREQUENCY, "Power Line Frequency", kPowerLine, 1),
        IntegerControl(V4L2_CID_WHITE_BALANCE_TEMPERATURE, "White Balance Temperature", 2800,
                       6500, 10, 4600),
        IntegerControl(V4L2_CID_SHARPNESS, "Sharpness", 1, 7, 1, 2),
        IntegerControl(V4L2_CID_BACKLIGHT_COMPENSATION, "Backlight Compensation", 0, 2, 1, 1),
        ClassControl(V4L2_CTRL_CLASS_CAMERA, "Camera Controls"),
        GappedMenu(V4L2_CID_EXPOSURE_AUTO, "Auto Exposure", kUvcExposure, 0, 3, 3),
        IntegerControl(V4L2_CID_EXPOSURE_ABSOLUTE, "Exposure Time, Absolute", 10, 626, 1, 156),
        Flagged(BooleanControl(V4L2_CID_PRIVACY, "Privacy", false),
                V4L2_CTRL_FLAG_READ_ONLY | V4L2_CTRL_FLAG_VOLATILE),
    };
}

// Sony PlayStation Eye (gspca ov534): automatic gain and an exposure menu
// whose automatic mode is index 0.
inline Entries PlayStationEye() {
    return {
        ClassControl(V4L2_CTRL_CLASS_USER, "User Controls"),
        IntegerControl(V4L2_CID_BRIGHTNESS, "Brightness", 0, 255, 1, 0),
        IntegerControl(V4L2_CID_CONTRAST, "Contrast", 0, 255, 1, 32),
        IntegerControl(V4L2_CID_SATURATION, "Saturation", 0, 255, 1, 64),
        IntegerControl(V4L2_CID_HUE, "Hue", -90, 90, 1, 0),
        BooleanControl(V4L2_CID_AUTO_WHITE_BALANCE, "White Balance, Automatic", true),
        IntegerControl(V4L2_CID_EXPOSURE, "Exposure", 0, 255, 1, 120),
        BooleanControl(V4L2_CID_AUTOGAIN, "Gain, Automatic", true),
        IntegerControl(V4L2_CID_GAIN, "Gain", 0, 63, 1, 20),
        BooleanControl(V4L2_CID_HFLIP, "Horizontal Flip", false),
        BooleanControl(V4L2_CID_VFLIP, "Vertical Flip", false),
        MenuControl(V4L2_CID_POWER_LINE_FREQUENCY, "Power Line Frequency",
                    {{0, "Disabled"}, {1, "50 Hz"}}, 0),
        IntegerControl(V4L2_CID_SHARPNESS, "Sharpness", 0, 63, 1, 0),
        ClassControl(V4L2_CTRL_CLASS_CAMERA, "Camera Controls"),
        MenuControl(V4L2_CID_EXPOSURE_AUTO, "Auto Exposure",
                    {{0, "Auto Mode"}, {1, "Manual Mode"}}, 0),
    };
}

// Raspberry Pi camera module (bcm2835-v4l2): class entries for four classes,
// integer menus, a codec class a camera page still shows.
inline Entries RaspberryPiCamera() {
    return {
        ClassControl(V4L2_CTRL_CLASS_USER, "User Controls"),
        IntegerControl(V4L2_CID_BRIGHTNESS, "Brightness", 0, 100, 1, 50),
        IntegerControl(V4L2_CID_CONTRAST, "Contrast", -100, 100, 1, 0),
        IntegerControl(V4L2_CID_SATURATION, "Saturation", -100, 100, 1, 0),
        IntegerControl(V4L2_CID_RED_BALANCE, "Red Balance", 1, 7999, 1, 1000),
        IntegerControl(V4L2_CID_BLUE_BALANCE, "Blue Balance", 1, 7999, 1, 1000),
        BooleanControl(V4L2_CID_HFLIP, "Horizontal Flip", false),
        BooleanControl(V4L2_CID_VFLIP, "Vertical Flip", false),
        MenuControl(V4L2_CID_POWER_LINE_FREQUENCY, "Power Line Frequency",
                    {{0, "Disabled"}, {1, "50 Hz"}, {2, "60 Hz"}, {3, "Auto"}}, 1),
        IntegerControl(V4L2_CID_SHARPNESS, "Sharpness", -100, 100, 1, 0),
        IntegerControl(V4L2_CID_ROTATE, "Rotate", 0, 360, 90, 0),
        ClassControl(V4L2_CTRL_CLASS_CODEC, "Codec Controls"),
        IntegerControl(V4L2_CID_MPEG_VIDEO_BITRATE, "Video Bitrate", 25000, 25000000, 25000,
                       10000000),
        ClassControl(V4L2_CTRL_CLASS_CAMERA, "Camera Controls"),
        MenuControl(V4L2_CID_EXPOSURE_AUTO, "Auto Exposure",
                    {{0, "Auto Mode"}, {1, "Manual Mode"}}, 0),
        IntegerControl(V4L2_CID_EXPOSURE_ABSOLUTE, "Exposure Time, Absolute", 1, 10000, 1, 1000),
        IntegerMenuControl(V4L2_CID_AUTO_EXPOSURE_BIAS, "Auto Exposure, Bias",
                           {-4000, -3667, -3333, -3000, -2667, -2333, -2000, -1667, -1333, -1000,
                            -667, -333, 0, 333, 667, 1000, 1333, 1667, 2000, 2333, 2667, 3000,
                            3333, 3667, 4000},
                           12),
        IntegerMenuControl(V4L2_CID_ISO_SENSITIVITY, "ISO Sensitivity",
                           {0, 100000, 200000, 400000, 800000}, 0),
        MenuControl(V4L2_CID_ISO_SENSITIVITY_AUTO, "ISO Sensitivity, Auto",
                    {{0, "Manual"}, {1, "Auto"}}, 1),
        ClassControl(V4L2_CTRL_CLASS_JPEG, "JPEG Compression Controls"),
        IntegerControl(V4L2_CID_JPEG_COMPRESSION_QUALITY, "Compression Quality", 1, 100, 1, 30),
    };
}

struct Webcam {
    const char* name;
    Entries (*controls)();
};

const Webcam kWebcams[] = {
    {"Logitech C920", LogitechC920},          {"Microsoft LifeCam HD-3000", LifeCamHd3000},
    {"Integrated laptop camera", IntegratedLaptopCamera}, {"PlayStation Eye", PlayStationEye},
    {"Raspberry Pi camera", RaspberryPiCamera},
};

}  // namespace fakev4l2
