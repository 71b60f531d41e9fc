// SPDX-License-Identifier: GPL-3.0-or-later
// The property frame: the capture pin's format page and the device controls
// page, driven while the frame runs modally; the device page's sets made off
// the user-interface thread, on an element whose sets wait as a device's do.
#include <gst/gst.h>
#include <gst/video/colorbalance.h>
#include <gtest/gtest.h>

#include <QApplication>
#include <QCheckBox>
#include <QComboBox>
#include <QLabel>
#include <QListWidget>
#include <QPushButton>
#include <QScrollBar>
#include <QSlider>
#include <QSpinBox>
#include <QTest>
#include <QTimer>
#include <algorithm>
#include <condition_variable>
#include <cstring>
#include <functional>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "media/gst/DeviceControlsPage.h"
#include "media/gst/PinFormatPage.h"
#include "media/gst/PropertyFrame.h"

// A source element standing for a device whose property sets and colour
// balance take a control transfer each: a property "level" (0 to 100, 50
// at first) and a colour balance channel "BRIGHTNESS" (-100 to 100, 0).
// Sets are logged, wait while the device is held, and are counted when
// made on the watched thread (where they never wait).
namespace slowdevice {
std::mutex lock;
std::condition_variable released;
bool held = false;
std::thread::id watched;
int watchedCalls = 0;
std::vector<std::string> log;

void Enter(const std::string& what) {
    std::unique_lock<std::mutex> guard(lock);
    log.push_back(what);
    if (std::this_thread::get_id() == watched) {
        ++watchedCalls;
        return;
    }
    released.wait(guard, [] { return !held; });
}
}  // namespace slowdevice

struct SlowSource {
    GstElement parent;
    int level;
    int brightness;
    GstColorBalanceChannel* channel;
    GList* channels;
};
struct SlowSourceClass {
    GstElementClass parent_class;
};

static void slow_source_balance_init(GstColorBalanceInterface* iface);
G_DEFINE_TYPE_WITH_CODE(SlowSource, slow_source, GST_TYPE_ELEMENT,
                        G_IMPLEMENT_INTERFACE(GST_TYPE_COLOR_BALANCE, slow_source_balance_init))

static void slow_source_set_property(GObject* object, guint, const GValue* value, GParamSpec*) {
    const int level = g_value_get_int(value);
    slowdevice::Enter("level=" + std::to_string(level));
    std::lock_guard<std::mutex> guard(slowdevice::lock);
    reinterpret_cast<SlowSource*>(object)->level = level;
}

static void slow_source_get_property(GObject* object, guint, GValue* value, GParamSpec*) {
    std::lock_guard<std::mutex> guard(slowdevice::lock);
    g_value_set_int(value, reinterpret_cast<SlowSource*>(object)->level);
}

static void slow_source_finalize(GObject* object) {
    auto* self = reinterpret_cast<SlowSource*>(object);
    g_list_free(self->channels);
    g_object_unref(self->channel);
    G_OBJECT_CLASS(slow_source_parent_class)->finalize(object);
}

static void slow_source_class_init(SlowSourceClass* klass) {
    GObjectClass* object = G_OBJECT_CLASS(klass);
    object->set_property = slow_source_set_property;
    object->get_property = slow_source_get_property;
    object->finalize = slow_source_finalize;
    g_object_class_install_property(
        object, 1,
        g_param_spec_int("level", "Level", "A device setting", 0, 100, 50,
                         GParamFlags(G_PARAM_READWRITE | G_PARAM_STATIC_STRINGS)));
}

static void slow_source_init(SlowSource* self) {
    self->level = 50;
    self->brightness = 0;
    self->channel =
        static_cast<GstColorBalanceChannel*>(g_object_new(GST_TYPE_COLOR_BALANCE_CHANNEL, nullptr));
    self->channel->label = g_strdup("BRIGHTNESS");
    self->channel->min_value = -100;
    self->channel->max_value = 100;
    self->channels = g_list_append(nullptr, self->channel);
}

static const GList* slow_source_list_channels(GstColorBalance* balance) {
    return reinterpret_cast<SlowSource*>(balance)->channels;
}

static void slow_source_set_value(GstColorBalance* balance, GstColorBalanceChannel*, gint value) {
    slowdevice::Enter("BRIGHTNESS=" + std::to_string(value));
    std::lock_guard<std::mutex> guard(slowdevice::lock);
    reinterpret_cast<SlowSource*>(balance)->brightness = value;
}

static gint slow_source_get_value(GstColorBalance* balance, GstColorBalanceChannel*) {
    std::lock_guard<std::mutex> guard(slowdevice::lock);
    return reinterpret_cast<SlowSource*>(balance)->brightness;
}

static GstColorBalanceType slow_source_balance_type(GstColorBalance*) {
    return GST_COLOR_BALANCE_HARDWARE;
}

static void slow_source_balance_init(GstColorBalanceInterface* iface) {
    iface->list_channels = slow_source_list_channels;
    iface->set_value = slow_source_set_value;
    iface->get_value = slow_source_get_value;
    iface->get_balance_type = slow_source_balance_type;
}

namespace media::gst {
namespace {

class GstEnvironment : public ::testing::Environment {
  public:
    void SetUp() override { gst_init(nullptr, nullptr); }
};
const auto* const kGstEnvironment = ::testing::AddGlobalTestEnvironment(new GstEnvironment);

AM_MEDIA_TYPE* NewVideoType(const GUID& subtype, int width, int height, int fps) {
    auto* mt = static_cast<AM_MEDIA_TYPE*>(CoTaskMemAlloc(sizeof(AM_MEDIA_TYPE)));
    *mt = AM_MEDIA_TYPE{};
    mt->majortype = MEDIATYPE_Video;
    mt->subtype = subtype;
    mt->formattype = FORMAT_VideoInfo;
    VIDEOINFOHEADER vih{};
    vih.AvgTimePerFrame = 10000000 / fps;
    vih.bmiHeader.biSize = 40;
    vih.bmiHeader.biWidth = width;
    vih.bmiHeader.biHeight = height;
    mt->cbFormat = sizeof vih;
    mt->pbFormat = static_cast<uint8_t*>(CoTaskMemAlloc(sizeof vih));
    std::memcpy(mt->pbFormat, &vih, sizeof vih);
    return mt;
}

struct Format {
    GUID subtype;
    int width, height, fps;
};

// A capture pin with stream configuration: the formats of the built-in
// test camera, the second one in force.
class FakeCapturePin : public ComObject<IPin, IAMStreamConfig> {
  public:
    std::vector<Format> formats = {{MEDIASUBTYPE_YUY2, 640, 480, 30},
                                   {MEDIASUBTYPE_YUY2, 320, 240, 30},
                                   {MEDIASUBTYPE_I420, 640, 480, 15},
                                   {MEDIASUBTYPE_MJPG, 1280, 720, 30}};
    int current = 1;
    int setCalls = 0;
    HRESULT setResult = S_OK;

    HRESULT Connect(IPin*, const AM_MEDIA_TYPE*) override { return E_NOTIMPL; }
    HRESULT Disconnect() override { return S_FALSE; }
    HRESULT ConnectedTo(IPin** other) override {
        *other = nullptr;
        return VFW_E_NOT_CONNECTED;
    }
    HRESULT ConnectionMediaType(AM_MEDIA_TYPE*) override { return VFW_E_NOT_CONNECTED; }
    HRESULT QueryPinInfo(PIN_INFO* info) override {
        info->pFilter = nullptr;
        info->dir = PINDIR_OUTPUT;
        info->achName = u"Capture";
        return S_OK;
    }
    HRESULT QueryDirection(PIN_DIRECTION* dir) override {
        *dir = PINDIR_OUTPUT;
        return S_OK;
    }
    HRESULT QueryId(WString* id) override {
        *id = u"Capture";
        return S_OK;
    }
    HRESULT EnumMediaTypes(IEnumMediaTypes**) override { return E_NOTIMPL; }

    HRESULT GetFormat(AM_MEDIA_TYPE** mt) override {
        const Format& f = formats[size_t(current)];
        *mt = NewVideoType(f.subtype, f.width, f.height, f.fps);
        return S_OK;
    }
    HRESULT SetFormat(const AM_MEDIA_TYPE* mt) override {
        ++setCalls;
        if (FAILED(setResult))
            return setResult;
        VIDEOINFOHEADER vih;
        std::memcpy(&vih, mt->pbFormat, sizeof vih);
        for (size_t i = 0; i < formats.size(); ++i)
            if (formats[i].subtype == mt->subtype && formats[i].width == vih.bmiHeader.biWidth &&
                formats[i].height == vih.bmiHeader.biHeight &&
                formats[i].fps == int(10000000 / vih.AvgTimePerFrame))
                current = int(i);
        return S_OK;
    }
    HRESULT GetNumberOfCapabilities(int32_t* count, int32_t* size) override {
        *count = int32_t(formats.size());
        *size = 128;
        return S_OK;
    }
    HRESULT GetStreamCaps(int32_t index, AM_MEDIA_TYPE** mt, uint8_t*) override {
        if (index < 0 || size_t(index) >= formats.size())
            return E_INVALIDARG;
        const Format& f = formats[size_t(index)];
        *mt = NewVideoType(f.subtype, f.width, f.height, f.fps);
        return S_OK;
    }
};

// A device filter whose controls live on a GStreamer element.
class FakeDeviceFilter : public ComObject<ISourceElementProvider> {
  public:
    explicit FakeDeviceFilter(const char* factory)
        : element(ElementRef::Sink(gst_element_factory_make(factory, nullptr))) {}
    ElementRef SourceElement() override { return element; }
    ElementRef element;
};

// Runs action on the frame once it is up, then expects the frame to close.
HRESULT RunFrame(const std::vector<IUnknown*>& objects, const std::vector<GUID>& pages,
                 std::function<void(PropertyFrame*)> action) {
    bool ran = false;
    QTimer::singleShot(0, [&] {
        auto* frame = qobject_cast<PropertyFrame*>(QApplication::activeModalWidget());
        ran = true;
        if (!frame) {
            ADD_FAILURE() << "no modal property frame";
            return;
        }
        action(frame);
        // The frame closes once the pages' writes have gone out.
        if (!QTest::qWaitFor([&] { return !frame->isVisible(); },
                             2 * PropertyFrame::kCloseBoundMs)) {
            ADD_FAILURE() << "the frame stayed open";
            frame->done(QDialog::Rejected);
        }
    });
    const HRESULT hr = ShowPropertyFrame(nullptr, 0, 0, u"Capture", objects, pages);
    EXPECT_TRUE(ran);
    return hr;
}

TEST(GstPropertyFrame, ListsTheCapturePinsFormatsAndSetsTheChosenOne) {
    auto pin = ComPtr<FakeCapturePin>::Attach(new FakeCapturePin);
    const HRESULT hr = RunFrame(
        {static_cast<IPin*>(pin.Get())}, {CLSID_StreamFormatPage}, [](PropertyFrame* frame) {
            EXPECT_EQ(frame->windowTitle(), QStringLiteral("Capture"));
            auto* list = frame->findChild<QListWidget*>(QStringLiteral("Formats"));
            ASSERT_NE(list, nullptr);
            ASSERT_EQ(list->count(), 4);
            EXPECT_EQ(list->item(0)->text(), QStringLiteral("YUY2 640 x 480, 30 fps"));
            EXPECT_EQ(list->item(2)->text(), QStringLiteral("I420 640 x 480, 15 fps"));
            EXPECT_EQ(list->item(3)->text(), QStringLiteral("MJPG 1280 x 720, 30 fps"));
            EXPECT_EQ(list->currentRow(), 1);  // the format in force
            list->setCurrentRow(2);
            frame->findChild<QPushButton*>(QStringLiteral("OK"))->click();
        });
    EXPECT_EQ(hr, S_OK);
    EXPECT_EQ(pin->setCalls, 1);
    EXPECT_EQ(pin->current, 2);
}

TEST(GstPropertyFrame, CancelAndUnchangedChoiceSetNothing) {
    auto pin = ComPtr<FakeCapturePin>::Attach(new FakeCapturePin);
    RunFrame({static_cast<IPin*>(pin.Get())}, {CLSID_StreamFormatPage}, [](PropertyFrame* frame) {
        frame->findChild<QListWidget*>(QStringLiteral("Formats"))->setCurrentRow(0);
        frame->findChild<QPushButton*>(QStringLiteral("Cancel"))->click();
    });
    RunFrame({static_cast<IPin*>(pin.Get())}, {CLSID_StreamFormatPage}, [](PropertyFrame* frame) {
        frame->findChild<QPushButton*>(QStringLiteral("OK"))->click();
    });
    EXPECT_EQ(pin->setCalls, 0);
    EXPECT_EQ(pin->current, 1);
}

TEST(GstPropertyFrame, AFormatThatCannotBeSetKeepsTheFrameOpen) {
    auto pin = ComPtr<FakeCapturePin>::Attach(new FakeCapturePin);
    pin->setResult = VFW_E_ALREADY_CONNECTED;
    RunFrame({static_cast<IPin*>(pin.Get())}, {CLSID_StreamFormatPage}, [](PropertyFrame* frame) {
        frame->findChild<QListWidget*>(QStringLiteral("Formats"))->setCurrentRow(0);
        frame->findChild<QPushButton*>(QStringLiteral("OK"))->click();
        EXPECT_TRUE(frame->isVisible());
        EXPECT_FALSE(frame->findChild<QLabel*>(QStringLiteral("Status"))->isHidden());
        frame->findChild<QPushButton*>(QStringLiteral("Cancel"))->click();
    });
    EXPECT_EQ(pin->setCalls, 1);
    EXPECT_EQ(pin->current, 1);
}

TEST(GstPropertyFrame, DeviceControlsApplyLiveAndCancelPutsThemBack) {
    // videobalance has colour balance channels, as V4L2 sources do.
    auto filter = ComPtr<FakeDeviceFilter>::Attach(new FakeDeviceFilter("videobalance"));
    GstColorBalance* balance = GST_COLOR_BALANCE(filter->element.Get());
    GstColorBalanceChannel* contrast = nullptr;
    for (const GList* l = gst_color_balance_list_channels(balance); l; l = l->next)
        if (QString(GST_COLOR_BALANCE_CHANNEL(l->data)->label).toUpper() == "CONTRAST")
            contrast = GST_COLOR_BALANCE_CHANNEL(l->data);
    ASSERT_NE(contrast, nullptr);
    const int before = gst_color_balance_get_value(balance, contrast);
    const QString name = QStringLiteral("balance:") + QString(contrast->label);

    RunFrame({filter.Get()}, {CLSID_DeviceControlsPage}, [&](PropertyFrame* frame) {
        auto* spin = frame->findChild<QSpinBox*>(name);
        ASSERT_NE(spin, nullptr);
        spin->setValue(contrast->max_value);
        // Applied while the frame is open.
        EXPECT_TRUE(QTest::qWaitFor(
            [&] { return gst_color_balance_get_value(balance, contrast) == contrast->max_value; },
            5000));
        // The same control is not shown again as a plain property.
        EXPECT_EQ(frame->findChild<QDoubleSpinBox*>(QStringLiteral("contrast")), nullptr);
        frame->findChild<QPushButton*>(QStringLiteral("Cancel"))->click();
    });
    EXPECT_EQ(gst_color_balance_get_value(balance, contrast), before);

    RunFrame({filter.Get()}, {CLSID_DeviceControlsPage}, [&](PropertyFrame* frame) {
        frame->findChild<QSpinBox*>(name)->setValue(contrast->min_value);
        frame->findChild<QPushButton*>(QStringLiteral("OK"))->click();
    });
    EXPECT_EQ(gst_color_balance_get_value(balance, contrast), contrast->min_value);
}

TEST(GstPropertyFrame, DeviceControlsShowTheSourcesOwnWritableProperties) {
    auto filter = ComPtr<FakeDeviceFilter>::Attach(new FakeDeviceFilter("videotestsrc"));
    GObject* source = G_OBJECT(filter->element.Get());
    RunFrame({filter.Get()}, {CLSID_DeviceControlsPage}, [&](PropertyFrame* frame) {
        auto* pattern = frame->findChild<QComboBox*>(QStringLiteral("pattern"));
        ASSERT_NE(pattern, nullptr);
        EXPECT_GT(pattern->count(), 10);
        EXPECT_NE(frame->findChild<QCheckBox*>(QStringLiteral("flip")), nullptr);
        EXPECT_NE(frame->findChild<QSpinBox*>(QStringLiteral("horizontal-speed")), nullptr);
        // Stream plumbing of the generic source classes is left out.
        EXPECT_EQ(frame->findChild<QWidget*>(QStringLiteral("num-buffers")), nullptr);
        EXPECT_EQ(frame->findChild<QWidget*>(QStringLiteral("is-live")), nullptr);
        EXPECT_EQ(frame->findChild<QWidget*>(QStringLiteral("name")), nullptr);
        pattern->setCurrentIndex(pattern->findText(QStringLiteral("ball")));
        frame->findChild<QCheckBox*>(QStringLiteral("flip"))->setChecked(true);
        frame->findChild<QPushButton*>(QStringLiteral("OK"))->click();
    });
    gint pattern = 0;
    gboolean flip = FALSE;
    g_object_get(source, "pattern", &pattern, "flip", &flip, nullptr);
    EXPECT_EQ(pattern, 18);  // "ball"
    EXPECT_TRUE(flip);
}

TEST(GstPropertyFrame, DeviceControlsAreSetOffTheUserInterfaceThreadTheLastValueWinning) {
    ElementRef element =
        ElementRef::Sink(GST_ELEMENT(g_object_new(slow_source_get_type(), nullptr)));
    auto* source = reinterpret_cast<SlowSource*>(element.Get());
    DeviceControlsPage page(element, nullptr);
    ASSERT_EQ(page.ControlCount(), 2);
    auto* level = page.findChild<QSlider*>(QStringLiteral("level-slider"));
    auto* brightness = page.findChild<QSlider*>(QStringLiteral("balance:BRIGHTNESS-slider"));
    ASSERT_TRUE(level && brightness);
    auto settle = [&] { return QTest::qWaitFor([&] { return !page.Busy(); }, 10000); };
    auto log = [] {
        std::lock_guard<std::mutex> guard(slowdevice::lock);
        return std::exchange(slowdevice::log, {});
    };
    {
        std::lock_guard<std::mutex> guard(slowdevice::lock);
        slowdevice::watched = std::this_thread::get_id();
        slowdevice::held = true;
    }
    // Both swept while the device holds the first set.
    for (int v = 0; v <= 100; ++v)
        level->setValue(v);
    for (int v = -100; v <= 100; ++v)
        brightness->setValue(v);
    EXPECT_TRUE(page.Busy());
    {
        std::lock_guard<std::mutex> guard(slowdevice::lock);
        slowdevice::held = false;
    }
    slowdevice::released.notify_all();
    ASSERT_TRUE(settle());
    EXPECT_EQ(log(), (std::vector<std::string>{"level=0", "level=100", "BRIGHTNESS=-100",
                                               "BRIGHTNESS=100"}));
    EXPECT_EQ(source->level, 100);
    EXPECT_EQ(source->brightness, 100);
    // Cancel puts both back the same way.
    page.Revert();
    ASSERT_TRUE(settle());
    EXPECT_EQ(log(), (std::vector<std::string>{"level=50", "BRIGHTNESS=0"}));
    EXPECT_EQ(source->level, 50);
    EXPECT_EQ(source->brightness, 0);
    std::lock_guard<std::mutex> guard(slowdevice::lock);
    EXPECT_EQ(slowdevice::watchedCalls, 0);
    slowdevice::watched = std::thread::id();
}

TEST(GstPropertyFrame, RefusesWithoutObjectsOrPages) {
    auto pin = ComPtr<FakeCapturePin>::Attach(new FakeCapturePin);
    EXPECT_EQ(ShowPropertyFrame(nullptr, 0, 0, u"x", {}, {CLSID_StreamFormatPage}), E_INVALIDARG);
    // The pin is no device filter, and the other identifier is unknown.
    EXPECT_EQ(ShowPropertyFrame(nullptr, 0, 0, u"x", {static_cast<IPin*>(pin.Get())},
                                {CLSID_DeviceControlsPage, GUID{}}),
              E_FAIL);
}

TEST(GstPropertyFrame, FormatListShowsItsEntriesWholeWithALargeSystemFont) {
    const QFont before = QApplication::font();
    QFont large = before;
    large.setPixelSize(28);
    QApplication::setFont(large);
    auto pin = ComPtr<FakeCapturePin>::Attach(new FakeCapturePin);
    RunFrame({static_cast<IPin*>(pin.Get())}, {CLSID_StreamFormatPage}, [](PropertyFrame* frame) {
        auto* list = frame->findChild<QListWidget*>(QStringLiteral("Formats"));
        ASSERT_NE(list, nullptr);
        QApplication::processEvents();
        int widest = 0;
        for (int i = 0; i < list->count(); ++i)
            widest =
                std::max(widest, list->fontMetrics().horizontalAdvance(list->item(i)->text()));
        EXPECT_GE(list->viewport()->width(), widest);
        EXPECT_FALSE(list->horizontalScrollBar()->isVisible());
        frame->findChild<QPushButton*>(QStringLiteral("Cancel"))->click();
    });
    QApplication::setFont(before);
}

}  // namespace
}  // namespace media::gst
