// SPDX-License-Identifier: GPL-3.0-or-later
#include "TestDevices.h"

#include <atomic>
#include <cstdlib>
#include <cstring>
#include <mutex>
#include <set>
#include <string>

#include "TestCameraControls.h"
#include "TestCameraStages.h"
#include "TestCameraFrames.h"
#include "media/MediaUtil.h"
#include "media/gst/CameraControls.h"
#include "media/gst/DeviceEnum.h"
#include "media/gst/DeviceWatch.h"
#include "media/gst/GstRef.h"

namespace media::gst {

namespace {

const char* const kTestProviderName = "pomviratestdeviceprovider";

int g_cameraCount = 0;
bool g_registered = false;

// The display names of the test devices that are unplugged now. Read by the
// streaming threads of their sources.
std::mutex g_plugLock;
std::set<std::string> g_unplugged;

bool IsUnplugged(const std::string& name) {
    std::lock_guard<std::mutex> guard(g_plugLock);
    return g_unplugged.count(name) != 0;
}

// The test cameras whose next start is refused (busy).
std::set<std::string> g_refuseOnce;

bool TakeRefusal(const std::string& name) {
    std::lock_guard<std::mutex> guard(g_plugLock);
    return g_refuseOnce.erase(name) != 0;
}

std::string CameraName(int index) {
    return "Test Camera " + std::to_string(index);
}
const char* const kMicrophoneName = "Test Microphone";

// Watches the buffers a test device's source pushes: once the device is
// unplugged, the source posts a device-lost error (a resource that is no
// longer there, as a real camera's source does when its read fails) and ends
// its stream, so its task stops and nothing streams any more.
struct UnplugWatch {
    std::string name;
    std::atomic<bool> reported{false};
};

GstPadProbeReturn UnplugProbe(GstPad* pad, GstPadProbeInfo* info, gpointer data) {
    auto* watch = static_cast<UnplugWatch*>(data);
    if (!IsUnplugged(watch->name))
        return GST_PAD_PROBE_OK;
    if (!watch->reported.exchange(true)) {
        ElementRef source = ElementRef::Adopt(gst_pad_get_parent_element(pad));
        if (source) {
            GST_ELEMENT_ERROR(source.Get(), RESOURCE, NOT_FOUND,
                              ("Device '%s' has been unplugged.", watch->name.c_str()),
                              (nullptr));
        }
    }
    gst_mini_object_unref(GST_MINI_OBJECT_CAST(GST_PAD_PROBE_INFO_DATA(info)));
    GST_PAD_PROBE_INFO_DATA(info) = nullptr;
    GST_PAD_PROBE_INFO_FLOW_RETURN(info) = GST_FLOW_EOS;
    return GST_PAD_PROBE_HANDLED;
}

void WatchUnplug(GstElement* source, const std::string& name) {
    PadRef pad = PadRef::Adopt(gst_element_get_static_pad(source, "src"));
    if (!pad)
        return;
    auto* watch = new UnplugWatch;
    watch->name = name;
    gst_pad_add_probe(pad.Get(), GST_PAD_PROBE_TYPE_BUFFER, UnplugProbe, watch,
                      [](gpointer data) { delete static_cast<UnplugWatch*>(data); });
}

// ---------------------------------------------------------------------------
// The test cameras' real frame rate (POMVIRA_TEST_CAMERA_FPS=N): a real camera
// often delivers fewer frames than its format says, each stamped with the
// time it was taken. The test camera's pattern source runs at its format's
// rate; this keeps, of its frames, the first one of every 1/N second and
// drops the rest, so N frames a second leave the camera, stamped as they
// were taken, while the format still says 30.
// ---------------------------------------------------------------------------
struct RateThinning {
    int fps = 0;
    guint64 lastSlot = G_MAXUINT64;
};

// The rate asked for by the environment; 0 for the format's own.
int TestCameraFps() {
    const char* value = g_getenv("POMVIRA_TEST_CAMERA_FPS");
    const int fps = value ? std::atoi(value) : 0;
    return fps > 0 ? fps : 0;
}

GstPadProbeReturn RateThinningProbe(GstPad*, GstPadProbeInfo* info, gpointer data) {
    auto* thinning = static_cast<RateThinning*>(data);
    GstBuffer* buffer = GST_PAD_PROBE_INFO_BUFFER(info);
    if (!buffer || !GST_BUFFER_PTS_IS_VALID(buffer))
        return GST_PAD_PROBE_OK;
    const guint64 slot =
        gst_util_uint64_scale(GST_BUFFER_PTS(buffer), guint64(thinning->fps), GST_SECOND);
    if (thinning->lastSlot != G_MAXUINT64 && slot <= thinning->lastSlot)
        return GST_PAD_PROBE_DROP;
    thinning->lastSlot = slot;
    return GST_PAD_PROBE_OK;
}

// Thins the frames of a test camera's pattern source to the rate the
// environment asks for, when it is below the format's.
void ApplyTestCameraFps(GstElement* patternSource, int formatFps) {
    const int fps = TestCameraFps();
    if (fps == 0 || fps >= formatFps)
        return;
    PadRef pad = PadRef::Adopt(gst_element_get_static_pad(patternSource, "src"));
    if (!pad)
        return;
    auto* thinning = new RateThinning;
    thinning->fps = fps;
    gst_pad_add_probe(pad.Get(), GST_PAD_PROBE_TYPE_BUFFER, RateThinningProbe, thinning,
                      [](gpointer data) { delete static_cast<RateThinning*>(data); });
}

const char* const kCameraCaps =
    "video/x-raw,format=YUY2,width=640,height=480,framerate=30/1;"
    "video/x-raw,format=YUY2,width=320,height=240,framerate=30/1;"
    "video/x-raw,format=YUY2,width=1280,height=720,framerate=30/1;"
    "video/x-raw,format=I420,width=640,height=480,framerate=30/1;"
    "image/jpeg,width=640,height=480,framerate=30/1";

// The formats of a common 1080p USB webcam as its V4L2 source lists them:
// raw before JPEG, the largest size first, each size with its own list of
// rates. Raw YUY2 is limited by the USB bandwidth to small sizes or low rates.
const char* const kWebcamCaps =
    "video/x-raw,format=YUY2,width=1920,height=1080,framerate=5/1;"
    "video/x-raw,format=YUY2,width=1280,height=720,framerate={10/1,5/1};"
    "video/x-raw,format=YUY2,width=640,height=480,framerate={30/1,25/1,20/1,15/1,10/1,5/1};"
    "video/x-raw,format=YUY2,width=320,height=240,framerate={30/1,25/1,20/1,15/1,10/1,5/1};"
    "image/jpeg,width=1920,height=1080,framerate={30/1,25/1,20/1,15/1,10/1,5/1};"
    "image/jpeg,width=1280,height=720,framerate={30/1,25/1,20/1,15/1,10/1,5/1};"
    "image/jpeg,width=800,height=600,framerate={30/1,25/1,20/1,15/1,10/1,5/1};"
    "image/jpeg,width=640,height=480,framerate={30/1,25/1,20/1,15/1,10/1,5/1};"
    "image/jpeg,width=320,height=240,framerate={30/1,25/1,20/1,15/1,10/1,5/1}";

}  // namespace

const char* TestCameraFormats() {
    const char* profile = std::getenv("POMVIRA_TEST_CAMERA_PROFILE");
    if (profile && std::strcmp(profile, "webcam") == 0)
        return kWebcamCaps;
    return kCameraCaps;
}

namespace {

const char* const kMicrophoneCaps =
    "audio/x-raw,format=S16LE,layout=interleaved,rate=44100,channels=2;"
    "audio/x-raw,format=S16LE,layout=interleaved,rate=48000,channels=2;"
    "audio/x-raw,format=S16LE,layout=interleaved,rate=22050,channels=1";

// ---------------------------------------------------------------------------
// The camera's source: a bin that builds, when it starts, the source for
// the format its downstream asks for: the colour bars drawn once, raw
// frames scrolling over one picture or a cycle of JPEG frames encoded once
// (TestCameraFrames.h).
// ---------------------------------------------------------------------------
struct PomviraTestCameraSrc {
    GstBin parent;
    gchar* device;                   // the device's display name
    GstPad* ghost;                   // owned by the element
    GstPadQueryFunction ghostQuery;  // the ghost pad's own query handling
    GstCaps* caps;                   // the formats offered
    GList* chain;                    // elements of the running chain
};

struct PomviraTestCameraSrcClass {
    GstBinClass parent_class;
};

GType pomvira_test_camera_src_get_type();
G_DEFINE_TYPE(PomviraTestCameraSrc, pomvira_test_camera_src, GST_TYPE_BIN)

gboolean TestCameraSrcQuery(GstPad* pad, GstObject* parent, GstQuery* query) {
    auto* self = reinterpret_cast<PomviraTestCameraSrc*>(parent);
    if (GST_QUERY_TYPE(query) == GST_QUERY_CAPS) {
        PadRef target = PadRef::Adopt(gst_ghost_pad_get_target(GST_GHOST_PAD(pad)));
        if (!target) {
            GstCaps* filter = nullptr;
            gst_query_parse_caps(query, &filter);
            CapsRef result = CapsRef::Adopt(
                filter ? gst_caps_intersect_full(filter, self->caps, GST_CAPS_INTERSECT_FIRST)
                       : gst_caps_ref(self->caps));
            gst_query_set_caps_result(query, result.Get());
            return TRUE;
        }
    }
    return self->ghostQuery(pad, parent, query);
}

void TestCameraSrcTearDown(PomviraTestCameraSrc* self) {
    gst_ghost_pad_set_target(GST_GHOST_PAD(self->ghost), nullptr);
    for (GList* l = self->chain; l; l = l->next) {
        auto* e = GST_ELEMENT(l->data);
        gst_element_set_state(e, GST_STATE_NULL);
        gst_bin_remove(GST_BIN(self), e);
    }
    g_list_free(self->chain);
    self->chain = nullptr;
}

// The watches on the source of a camera's frames: unplugging, the real
// frame rate, a stall.
void WatchSource(PomviraTestCameraSrc* self, GstElement* src, const GstStructure* format) {
    int num = 30, den = 1;
    gst_structure_get_fraction(format, "framerate", &num, &den);
    if (self->device)
        WatchUnplug(src, self->device);
    ApplyTestCameraFps(src, den > 0 ? num / den : 30);
}

// The frames' source, through the camera's picture stage: for MJPG the
// frames come encoded, a short cycle encoded once, as a webcam's do; raw
// frames are views of one picture, drawn once, as cheap to make.
bool TestCameraSrcBuildFrames(PomviraTestCameraSrc* self, const GstCaps* fixed) {
    const GstStructure* format = gst_caps_get_structure(fixed, 0);
    GstElement* stage = self->device ? MakeTestCameraPictureStage(self->device) : nullptr;
    GstElement* src;
    if (gst_structure_has_name(format, "image/jpeg")) {
        int w = 640, h = 480, num = 30, den = 1;
        gst_structure_get_int(format, "width", &w);
        gst_structure_get_int(format, "height", &h);
        gst_structure_get_fraction(format, "framerate", &num, &den);
        src = MakeJpegCycleSource(w, h, num, den, stage);
    } else {
        src = MakeRawPatternSource(fixed, stage);
    }
    if (!src) {
        GST_ELEMENT_ERROR(self, CORE, MISSING_PLUGIN, ("test camera elements missing"), (nullptr));
        return false;
    }
    gst_bin_add(GST_BIN(self), src);
    self->chain = g_list_append(self->chain, src);
    WatchSource(self, src, format);
    if (self->device)
        WatchTestCameraStall(src, self->device);
    PadRef out = PadRef::Adopt(gst_element_get_static_pad(src, "src"));
    gst_ghost_pad_set_target(GST_GHOST_PAD(self->ghost), out.Get());
    return true;
}

bool TestCameraSrcBuild(PomviraTestCameraSrc* self) {
    if (self->device && IsUnplugged(self->device)) {
        GST_ELEMENT_ERROR(self, RESOURCE, NOT_FOUND, ("Device '%s' is not plugged in.", self->device),
                          (nullptr));
        return false;
    }
    if (self->device && TakeRefusal(self->device)) {
        GST_ELEMENT_ERROR(self, RESOURCE, BUSY, ("Device '%s' is busy.", self->device), (nullptr));
        return false;
    }
    CapsRef wanted = CapsRef::Adopt(gst_pad_peer_query_caps(self->ghost, self->caps));
    if (!wanted || gst_caps_is_empty(wanted.Get()))
        wanted = CapsRef::Share(self->caps);
    CapsRef fixed = CapsRef::Adopt(gst_caps_fixate(gst_caps_copy(wanted.Get())));
    return TestCameraSrcBuildFrames(self, fixed.Get());
}

GstStateChangeReturn TestCameraSrcChangeState(GstElement* element, GstStateChange transition) {
    auto* self = reinterpret_cast<PomviraTestCameraSrc*>(element);
    if (transition == GST_STATE_CHANGE_READY_TO_PAUSED && !self->chain) {
        if (!TestCameraSrcBuild(self))
            return GST_STATE_CHANGE_FAILURE;
    }
    GstStateChangeReturn ret =
        GST_ELEMENT_CLASS(pomvira_test_camera_src_parent_class)->change_state(element, transition);
    if (transition == GST_STATE_CHANGE_PAUSED_TO_READY)
        TestCameraSrcTearDown(self);
    return ret;
}

void TestCameraSrcFinalize(GObject* object) {
    auto* self = reinterpret_cast<PomviraTestCameraSrc*>(object);
    g_list_free(self->chain);
    if (self->caps)
        gst_caps_unref(self->caps);
    g_free(self->device);
    G_OBJECT_CLASS(pomvira_test_camera_src_parent_class)->finalize(object);
}

void pomvira_test_camera_src_class_init(PomviraTestCameraSrcClass* klass) {
    G_OBJECT_CLASS(klass)->finalize = TestCameraSrcFinalize;
    GST_ELEMENT_CLASS(klass)->change_state = TestCameraSrcChangeState;
    gst_element_class_set_static_metadata(GST_ELEMENT_CLASS(klass), "Pomvira test camera",
                                          "Source/Video", "Live SMPTE colour bars", "Pomvira");
}

void pomvira_test_camera_src_init(PomviraTestCameraSrc* self) {
    self->caps = gst_caps_from_string(TestCameraFormats());
    self->chain = nullptr;
    self->device = nullptr;
    self->ghost = gst_ghost_pad_new_no_target("src", GST_PAD_SRC);
    self->ghostQuery = GST_PAD_QUERYFUNC(self->ghost);
    gst_pad_set_query_function(self->ghost, TestCameraSrcQuery);
    gst_element_add_pad(GST_ELEMENT(self), self->ghost);
    GST_OBJECT_FLAG_SET(self, GST_ELEMENT_FLAG_SOURCE);
}

// ---------------------------------------------------------------------------
// Devices
// ---------------------------------------------------------------------------
struct PomviraTestDevice {
    GstDevice parent;
    gboolean camera;
};

struct PomviraTestDeviceClass {
    GstDeviceClass parent_class;
};

GType pomvira_test_device_get_type();
G_DEFINE_TYPE(PomviraTestDevice, pomvira_test_device, GST_TYPE_DEVICE)

GstElement* TestDeviceCreateElement(GstDevice* device, const gchar* name) {
    auto* self = reinterpret_cast<PomviraTestDevice*>(device);
    StringRef display = StringRef::Adopt(gst_device_get_display_name(device));
    if (self->camera) {
        auto* camera = reinterpret_cast<PomviraTestCameraSrc*>(
            g_object_new(pomvira_test_camera_src_get_type(), "name", name, nullptr));
        camera->device = g_strdup(display.Get());
        return GST_ELEMENT(camera);
    }
    GstElement* src = gst_element_factory_make("audiotestsrc", name);
    if (src) {
        g_object_set(src, "is-live", TRUE, "wave", 0 /* sine */, "volume", 0.3, nullptr);
        WatchUnplug(src, display ? display.Get() : kMicrophoneName);
    }
    return src;
}

void pomvira_test_device_class_init(PomviraTestDeviceClass* klass) {
    GST_DEVICE_CLASS(klass)->create_element = TestDeviceCreateElement;
}

void pomvira_test_device_init(PomviraTestDevice* self) {
    self->camera = FALSE;
}

GstDevice* NewTestDevice(bool camera, int index) {
    std::string name = camera ? CameraName(index) : kMicrophoneName;
    std::string path =
        camera ? "pomvira-test:camera:" + std::to_string(index) : "pomvira-test:microphone";
    CapsRef caps =
        CapsRef::Adopt(gst_caps_from_string(camera ? TestCameraFormats() : kMicrophoneCaps));
    // Listed before the machine's devices: the cameras by number, then the
    // microphone.
    const int order = camera ? index - 1 : g_cameraCount;
    GstStructure* props = gst_structure_new("properties", "device.path", G_TYPE_STRING,
                                            path.c_str(), kDeviceListingOrder, G_TYPE_INT, order,
                                            nullptr);
    auto* device = reinterpret_cast<PomviraTestDevice*>(g_object_new(
        pomvira_test_device_get_type(), "display-name", name.c_str(), "caps", caps.Get(),
        "device-class", camera ? "Video/Source" : "Audio/Source", "properties", props, nullptr));
    gst_structure_free(props);
    device->camera = camera;
    return GST_DEVICE(device);
}

// ---------------------------------------------------------------------------
// The provider
// ---------------------------------------------------------------------------
struct PomviraTestProvider {
    GstDeviceProvider parent;
};

struct PomviraTestProviderClass {
    GstDeviceProviderClass parent_class;
};

GType pomvira_test_provider_get_type();
G_DEFINE_TYPE(PomviraTestProvider, pomvira_test_provider, GST_TYPE_DEVICE_PROVIDER)

GList* TestProviderProbe(GstDeviceProvider*) {
    static TCallbackGuard guard;
    GList* list = nullptr;
    guard.Run([&] {
        for (int i = 1; i <= g_cameraCount; ++i) {
            if (!IsUnplugged(CameraName(i)))
                list = g_list_append(list, NewTestDevice(true, i));
        }
        if (!IsUnplugged(kMicrophoneName))
            list = g_list_append(list, NewTestDevice(false, 0));
    });
    return list;
}

void pomvira_test_provider_class_init(PomviraTestProviderClass* klass) {
    GST_DEVICE_PROVIDER_CLASS(klass)->probe = TestProviderProbe;
    gst_device_provider_class_set_static_metadata(
        GST_DEVICE_PROVIDER_CLASS(klass), "Pomvira test devices", "Source/Audio/Video",
        "Built-in test cameras and microphone", "Pomvira");
}

void pomvira_test_provider_init(PomviraTestProvider*) {}

gboolean PluginInit(GstPlugin* plugin) {
    return gst_device_provider_register(plugin, kTestProviderName, GST_RANK_PRIMARY + 10,
                                        pomvira_test_provider_get_type());
}

}  // namespace

bool RegisterTestDevices(int count) {
    static std::once_flag once;
    if (count < 1)
        return g_registered;
    std::call_once(once, [count] {
        g_cameraCount = count;
        g_registered = gst_plugin_register_static(
            GST_VERSION_MAJOR, GST_VERSION_MINOR, "pomviratestdevices",
            "Built-in test devices of the camera program", PluginInit, "1.0", "LGPL", "pomvira",
            "pomvira", "https://localhost/pomvira");
        if (!g_registered)
            return;
        DeviceWatch::WatchProgramProvider(kTestProviderName);
        // The test cameras' controls are the camera's own (its webcam
        // profile), not a device node's.
        RegisterDeviceControls(pomvira_test_device_get_type(), [](GstDevice* device) {
            StringRef name = StringRef::Adopt(gst_device_get_display_name(device));
            return TestCameraControlTable(name ? name.Get() : std::string());
        });
    });
    return g_registered;
}

void SetTestCameraProfile(const std::string& profile) {
    if (profile.empty())
        unsetenv("POMVIRA_TEST_CAMERA_PROFILE");
    else
        setenv("POMVIRA_TEST_CAMERA_PROFILE", profile.c_str(), 1);
    GstRef<GstDeviceProvider> provider = GstRef<GstDeviceProvider>::Adopt(
        gst_device_provider_factory_get_by_name(kTestProviderName));
    if (!g_registered || !provider || !gst_device_provider_is_started(provider.Get()))
        return;
    GList* devices = gst_device_provider_get_devices(provider.Get());
    for (GList* l = devices; l; l = l->next) {
        auto* device = reinterpret_cast<PomviraTestDevice*>(l->data);
        if (device->camera)
            gst_device_provider_device_remove(provider.Get(), GST_DEVICE(device));
    }
    g_list_free_full(devices, gst_object_unref);
    for (int i = 1; i <= g_cameraCount; ++i) {
        if (!IsUnplugged(CameraName(i)))
            gst_device_provider_device_add(provider.Get(), NewTestDevice(true, i));
    }
}

void RefuseTestCameraStartOnce(const std::string& name) {
    std::lock_guard<std::mutex> guard(g_plugLock);
    g_refuseOnce.insert(name);
}

bool PlugTestDevice(const std::string& name, bool plugged) {
    int camera = 0;
    for (int i = 1; i <= g_cameraCount; ++i) {
        if (CameraName(i) == name)
            camera = i;
    }
    if (!g_registered || (camera == 0 && name != kMicrophoneName))
        return false;
    {
        std::lock_guard<std::mutex> guard(g_plugLock);
        const bool unplugged = g_unplugged.count(name) != 0;
        if (unplugged == !plugged)
            return true;
        if (plugged)
            g_unplugged.erase(name);
        else
            g_unplugged.insert(name);
    }
    // A provider that is watched (started) announces the change on its bus;
    // otherwise its next listing tells.
    GstRef<GstDeviceProvider> provider = GstRef<GstDeviceProvider>::Adopt(
        gst_device_provider_factory_get_by_name(kTestProviderName));
    if (!provider || !gst_device_provider_is_started(provider.Get()))
        return true;
    if (plugged) {
        gst_device_provider_device_add(provider.Get(), NewTestDevice(camera != 0, camera));
        return true;
    }
    GList* devices = gst_device_provider_get_devices(provider.Get());
    for (GList* l = devices; l; l = l->next) {
        auto* device = GST_DEVICE(l->data);
        StringRef display = StringRef::Adopt(gst_device_get_display_name(device));
        if (display && name == display.Get())
            gst_device_provider_device_remove(provider.Get(), device);
    }
    g_list_free_full(devices, gst_object_unref);
    return true;
}

}  // namespace media::gst
