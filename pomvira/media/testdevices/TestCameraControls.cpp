// SPDX-License-Identifier: GPL-3.0-or-later
#include "TestCameraControls.h"

#include <algorithm>
#include <cstring>
#include <map>
#include <mutex>
#include <vector>

namespace media::gst {

namespace {

std::mutex g_lock;
// A picture stage, held weakly: it goes with its stream.
struct Stage {
    Stage() { g_weak_ref_init(&ref, nullptr); }
    ~Stage() { g_weak_ref_clear(&ref); }
    GWeakRef ref;
};

// Tables by camera, and the picture stages of the camera's streams.
std::map<std::string, std::shared_ptr<ControlTable>> g_tables;
std::map<std::string, std::vector<std::unique_ptr<Stage>>> g_stages;

std::vector<ControlTable::Entry> WebcamControls() {
    return {
        ClassControl(V4L2_CTRL_CLASS_USER, "User Controls"),
        IntegerControl(V4L2_CID_BRIGHTNESS, "Brightness", 0, 255, 1, 128),
        IntegerControl(V4L2_CID_CONTRAST, "Contrast", 0, 255, 1, 128),
        IntegerControl(V4L2_CID_SATURATION, "Saturation", 0, 255, 1, 128),
        IntegerControl(V4L2_CID_HUE, "Hue", -180, 180, 1, 0),
        BooleanControl(V4L2_CID_AUTO_WHITE_BALANCE, "White Balance, Automatic", true),
        IntegerControl(V4L2_CID_GAMMA, "Gamma", 72, 500, 1, 100),
        IntegerControl(V4L2_CID_GAIN, "Gain", 0, 255, 1, 0),
        MenuControl(V4L2_CID_POWER_LINE_FREQUENCY, "Power Line Frequency",
                    {{0, "Disabled"}, {1, "50 Hz"}, {2, "60 Hz"}}, 1),
        IntegerControl(V4L2_CID_WHITE_BALANCE_TEMPERATURE, "White Balance Temperature", 2800,
                       6500, 10, 4600),
        IntegerControl(V4L2_CID_SHARPNESS, "Sharpness", 0, 255, 1, 128),
        IntegerControl(V4L2_CID_BACKLIGHT_COMPENSATION, "Backlight Compensation", 0, 2, 1, 1),
        ClassControl(V4L2_CTRL_CLASS_CAMERA, "Camera Controls"),
        MenuControl(V4L2_CID_EXPOSURE_AUTO, "Auto Exposure",
                    {{V4L2_EXPOSURE_MANUAL, "Manual Mode"},
                     {V4L2_EXPOSURE_APERTURE_PRIORITY, "Aperture Priority Mode"}},
                    V4L2_EXPOSURE_APERTURE_PRIORITY),
        IntegerControl(V4L2_CID_EXPOSURE_ABSOLUTE, "Exposure Time, Absolute", 3, 2047, 1, 250),
        BooleanControl(V4L2_CID_EXPOSURE_AUTO_PRIORITY, "Exposure, Dynamic Framerate", false),
        IntegerControl(V4L2_CID_PAN_ABSOLUTE, "Pan, Absolute", -36000, 36000, 3600, 0),
        IntegerControl(V4L2_CID_TILT_ABSOLUTE, "Tilt, Absolute", -36000, 36000, 3600, 0),
        IntegerControl(V4L2_CID_FOCUS_ABSOLUTE, "Focus, Absolute", 0, 250, 5, 0),
        BooleanControl(V4L2_CID_FOCUS_AUTO, "Focus, Automatic Continuous", true),
        IntegerControl(V4L2_CID_ZOOM_ABSOLUTE, "Zoom, Absolute", 100, 500, 1, 100),
    };
}

// The videobalance settings for the camera's control values (default
// values leave the picture as it is).
void ApplyToStage(GstElement* stage, ControlTable& table) {
    int64_t brightness = 128, contrast = 128, saturation = 128, hue = 0;
    table.Get(V4L2_CID_BRIGHTNESS, &brightness);
    table.Get(V4L2_CID_CONTRAST, &contrast);
    table.Get(V4L2_CID_SATURATION, &saturation);
    table.Get(V4L2_CID_HUE, &hue);
    g_object_set(stage, "brightness", std::clamp((double(brightness) - 128.0) / 128.0, -1.0, 1.0),
                 "contrast", double(contrast) / 128.0, "saturation", double(saturation) / 128.0,
                 "hue", std::clamp(double(hue) / 180.0, -1.0, 1.0), nullptr);
}

}  // namespace

bool TestCameraWebcamProfile() {
    const char* profile = g_getenv("POMVIRA_TEST_CAMERA_PROFILE");
    return profile && std::strcmp(profile, "webcam") == 0;
}

std::shared_ptr<ControlTable> TestCameraControlTable(const std::string& camera) {
    if (!TestCameraWebcamProfile() || camera.empty())
        return nullptr;
    std::lock_guard<std::mutex> guard(g_lock);
    std::shared_ptr<ControlTable>& table = g_tables[camera];
    if (!table) {
        table = std::make_shared<ControlTable>(WebcamControls());
        ControlTable* raw = table.get();
        table->OnChanged = [camera, raw](uint32_t, int64_t) {
                std::lock_guard<std::mutex> stagesGuard(g_lock);
            auto& stages = g_stages[camera];
            for (auto it = stages.begin(); it != stages.end();) {
                auto* stage = static_cast<GstElement*>(g_weak_ref_get(&(*it)->ref));
                if (!stage) {
                    it = stages.erase(it);
                    continue;
                }
                ApplyToStage(stage, *raw);
                gst_object_unref(stage);
                ++it;
            }
        };
    }
    return table;
}

GstElement* MakeTestCameraPictureStage(const std::string& camera) {
    std::shared_ptr<ControlTable> table = TestCameraControlTable(camera);
    if (!table)
        return nullptr;
    GstElement* stage = gst_element_factory_make("videobalance", nullptr);
    if (!stage)
        return nullptr;
    ApplyToStage(stage, *table);
    auto weak = std::make_unique<Stage>();
    g_weak_ref_set(&weak->ref, stage);
    std::lock_guard<std::mutex> guard(g_lock);
    g_stages[camera].push_back(std::move(weak));
    return stage;
}

}  // namespace media::gst
