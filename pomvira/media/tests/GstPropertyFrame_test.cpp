// SPDX-License-Identifier: GPL-3.0-or-later
// The property frame: the capture pin's format page and the device controls
// page, driven while the frame runs modally; the device page's sets made off
// the user-interface thread, a slow device's first and last values written.
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
#include <thread>
#include <utility>
#include <vector>

#include "media/gst/DeviceControlsPage.h"
#include "media/gst/PinFormatPage.h"
#include "media/gst/PropertyFrame.h"
#include "media/tests/GstTestFeed.h"

namespace media::gst {
namespace {

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

// Where a device element's sets arrive: each one logged with its thread; a
// held device keeps the setting thread waiting, as a control transfer does.
struct SetWatch {
    std::mutex lock;
    std::condition_variable released;
    bool held = false;
    std::vector<int> values;
    bool onMainThread = false;
    std::thread::id main = std::this_thread::get_id();

    void Arrived(int value) {
        std::unique_lock<std::mutex> guard(lock);
        values.push_back(value);
        onMainThread = onMainThread || std::this_thread::get_id() == main;
        if (std::this_thread::get_id() != main)
            released.wait(guard, [this] { return !held; });
    }
    void Hold(bool on) {
        {
            std::lock_guard<std::mutex> guard(lock);
            held = on;
        }
        released.notify_all();
    }
    std::vector<int> Take() {
        std::lock_guard<std::mutex> guard(lock);
        return std::exchange(values, {});
    }
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
    SetWatch watch;  // flip's sets, told from the thread that made them
    g_signal_connect(source, "notify::flip",
                     G_CALLBACK(+[](GObject*, GParamSpec*, SetWatch* w) { w->Arrived(1); }),
                     &watch);
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
    EXPECT_EQ(watch.Take().size(), 1u);
    EXPECT_FALSE(watch.onMainThread);
}

TEST(GstPropertyFrame, DeviceControlsAreSetOffTheUserInterfaceThreadTheLastValueWinning) {
    // videobalance says each colour balance change from the thread that
    // made it.
    ElementRef element = ElementRef::Sink(gst_element_factory_make("videobalance", nullptr));
    SetWatch watch;
    g_signal_connect(
        element.Get(), "value-changed",
        G_CALLBACK(+[](GstColorBalance*, GstColorBalanceChannel* channel, gint value, SetWatch* w) {
            if (QString(channel->label).toUpper() == "CONTRAST")
                w->Arrived(value);
        }),
        &watch);
    DeviceControlsPage page(element, nullptr);
    QSlider* contrast = nullptr;
    for (QSlider* slider : page.findChildren<QSlider*>())
        if (slider->objectName().toUpper() == "BALANCE:CONTRAST-SLIDER")
            contrast = slider;
    ASSERT_NE(contrast, nullptr);
    const int before = contrast->value();
    auto settle = [&] { return QTest::qWaitFor([&] { return !page.Busy(); }, 10000); };

    // Swept while the device holds the first set.
    watch.Hold(true);
    for (int v = contrast->minimum(); v <= contrast->maximum(); v += 10)
        contrast->setValue(v);
    EXPECT_TRUE(page.Busy());
    watch.Hold(false);
    ASSERT_TRUE(settle());
    const int last = contrast->minimum() + (contrast->maximum() - contrast->minimum()) / 10 * 10;
    EXPECT_EQ(watch.Take(), (std::vector<int>{contrast->minimum(), last}));
    // Cancel puts it back the same way.
    page.Revert();
    ASSERT_TRUE(settle());
    EXPECT_EQ(watch.Take(), std::vector<int>{before});
    EXPECT_FALSE(watch.onMainThread);
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
