#include "TestDevices.h"

#include <mutex>
#include <string>

#include "media/MediaUtil.h"

namespace media::gst {

const char* const kTestProviderName = "pomviratestdeviceprovider";

namespace {

int g_cameraCount = 0;
bool g_registered = false;

const char* const kCameraCaps =
    "video/x-raw,format=YUY2,width=640,height=480,framerate=30/1;"
    "video/x-raw,format=YUY2,width=320,height=240,framerate=30/1;"
    "video/x-raw,format=YUY2,width=1280,height=720,framerate=30/1;"
    "video/x-raw,format=I420,width=640,height=480,framerate=30/1;"
    "image/jpeg,width=640,height=480,framerate=30/1";

const char* const kMicrophoneCaps =
    "audio/x-raw,format=S16LE,layout=interleaved,rate=44100,channels=2;"
    "audio/x-raw,format=S16LE,layout=interleaved,rate=48000,channels=2;"
    "audio/x-raw,format=S16LE,layout=interleaved,rate=22050,channels=1";

// ---------------------------------------------------------------------------
// The camera's source: a bin that builds, when it starts, the chain for the
// format its downstream asks for: videotestsrc for raw formats,
// videotestsrc ! jpegenc for MJPG.
// ---------------------------------------------------------------------------
struct PomviraTestCameraSrc {
    GstBin parent;
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

bool TestCameraSrcBuild(PomviraTestCameraSrc* self) {
    CapsRef wanted = CapsRef::Adopt(gst_pad_peer_query_caps(self->ghost, self->caps));
    if (!wanted || gst_caps_is_empty(wanted.Get()))
        wanted = CapsRef::Share(self->caps);
    CapsRef fixed = CapsRef::Adopt(gst_caps_fixate(gst_caps_copy(wanted.Get())));
    const GstStructure* s = gst_caps_get_structure(fixed.Get(), 0);
    bool jpeg = gst_structure_has_name(s, "image/jpeg");

    GstElement* src = gst_element_factory_make("videotestsrc", nullptr);
    GstElement* filter = gst_element_factory_make("capsfilter", nullptr);
    GstElement* enc = jpeg ? gst_element_factory_make("jpegenc", nullptr) : nullptr;
    if (!src || !filter || (jpeg && !enc)) {
        for (GstElement* e : {src, filter, enc}) {
            if (e)
                gst_object_unref(gst_object_ref_sink(e));
        }
        GST_ELEMENT_ERROR(self, CORE, MISSING_PLUGIN, ("test camera elements missing"), (nullptr));
        return false;
    }
    g_object_set(src, "is-live", TRUE, "pattern", 0 /* smpte */, "horizontal-speed", 4, nullptr);
    CapsRef rawCaps;
    if (jpeg) {
        int w = 640, h = 480, num = 30, den = 1;
        gst_structure_get_int(s, "width", &w);
        gst_structure_get_int(s, "height", &h);
        gst_structure_get_fraction(s, "framerate", &num, &den);
        rawCaps = CapsRef::Adopt(gst_caps_new_simple(
            "video/x-raw", "format", G_TYPE_STRING, "I420", "width", G_TYPE_INT, w, "height",
            G_TYPE_INT, h, "framerate", GST_TYPE_FRACTION, num, den, nullptr));
    } else {
        rawCaps = fixed;
    }
    g_object_set(filter, "caps", rawCaps.Get(), nullptr);
    gst_bin_add_many(GST_BIN(self), src, filter, nullptr);
    self->chain = g_list_append(self->chain, src);
    self->chain = g_list_append(self->chain, filter);
    gst_element_link(src, filter);
    GstElement* last = filter;
    if (enc) {
        gst_bin_add(GST_BIN(self), enc);
        self->chain = g_list_append(self->chain, enc);
        gst_element_link(filter, enc);
        last = enc;
    }
    PadRef out = PadRef::Adopt(gst_element_get_static_pad(last, "src"));
    gst_ghost_pad_set_target(GST_GHOST_PAD(self->ghost), out.Get());
    return true;
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
    G_OBJECT_CLASS(pomvira_test_camera_src_parent_class)->finalize(object);
}

void pomvira_test_camera_src_class_init(PomviraTestCameraSrcClass* klass) {
    G_OBJECT_CLASS(klass)->finalize = TestCameraSrcFinalize;
    GST_ELEMENT_CLASS(klass)->change_state = TestCameraSrcChangeState;
    gst_element_class_set_static_metadata(GST_ELEMENT_CLASS(klass), "Pomvira test camera",
                                          "Source/Video", "Live SMPTE colour bars", "Pomvira");
}

void pomvira_test_camera_src_init(PomviraTestCameraSrc* self) {
    self->caps = gst_caps_from_string(kCameraCaps);
    self->chain = nullptr;
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
    if (self->camera) {
        return GST_ELEMENT(g_object_new(pomvira_test_camera_src_get_type(), "name", name, nullptr));
    }
    GstElement* src = gst_element_factory_make("audiotestsrc", name);
    if (src)
        g_object_set(src, "is-live", TRUE, "wave", 0 /* sine */, "volume", 0.3, nullptr);
    return src;
}

void pomvira_test_device_class_init(PomviraTestDeviceClass* klass) {
    GST_DEVICE_CLASS(klass)->create_element = TestDeviceCreateElement;
}

void pomvira_test_device_init(PomviraTestDevice* self) {
    self->camera = FALSE;
}

GstDevice* NewTestDevice(bool camera, int index) {
    std::string name = camera ? "Test Camera " + std::to_string(index) : "Test Microphone";
    std::string path =
        camera ? "pomvira-test:camera:" + std::to_string(index) : "pomvira-test:microphone";
    CapsRef caps = CapsRef::Adopt(gst_caps_from_string(camera ? kCameraCaps : kMicrophoneCaps));
    GstStructure* props =
        gst_structure_new("properties", "device.path", G_TYPE_STRING, path.c_str(), nullptr);
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
        for (int i = 1; i <= g_cameraCount; ++i)
            list = g_list_append(list, NewTestDevice(true, i));
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

void RegisterTestDevices(int count) {
    static std::once_flag once;
    if (count < 1)
        return;
    std::call_once(once, [count] {
        g_cameraCount = count;
        g_registered = gst_plugin_register_static(
            GST_VERSION_MAJOR, GST_VERSION_MINOR, "pomviratestdevices",
            "Built-in test devices of the camera program", PluginInit, "1.0", "LGPL", "pomvira",
            "pomvira", "https://localhost/pomvira");
    });
}

bool TestDevicesRegistered() {
    return g_registered;
}

std::vector<GstRef<GstDevice>> TestDevices() {
    std::vector<GstRef<GstDevice>> result;
    if (!g_registered)
        return result;
    GstRef<GstDeviceProvider> provider = GstRef<GstDeviceProvider>::Adopt(
        gst_device_provider_factory_get_by_name(kTestProviderName));
    if (!provider)
        return result;
    GList* devices = gst_device_provider_get_devices(provider.Get());
    for (GList* l = devices; l; l = l->next) {
        result.push_back(GstRef<GstDevice>::Adopt(GST_DEVICE(l->data)));
    }
    g_list_free(devices);
    return result;
}

bool IsTestDevice(GstDevice* device) {
    return device && G_TYPE_CHECK_INSTANCE_TYPE(device, pomvira_test_device_get_type());
}

}  // namespace media::gst
