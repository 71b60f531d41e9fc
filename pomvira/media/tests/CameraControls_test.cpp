// SPDX-License-Identifier: GPL-3.0-or-later
// A camera's own controls: the V4L2 ioctl code against emulated webcams
// (their published control lists, kept as the kernel keeps values), the
// test camera's controls against the same, and the device page built on
// them: groups, ranges, menus, automatic modes and their manual partners,
// read-only controls, refused values, Cancel, and writes that never hold up
// the user-interface thread.
#include <gtest/gtest.h>

#include <QCheckBox>
#include <QComboBox>
#include <QGroupBox>
#include <QLabel>
#include <QPushButton>
#include <QSlider>
#include <QSpinBox>
#include <QTest>
#include <QTimer>
#include <future>

#include "FakeV4l2Device.h"
#include "media/gst/CameraControlsPage.h"

using namespace media::gst;
using namespace fakev4l2;

namespace {

using Writes = std::vector<std::pair<uint32_t, int64_t>>;

std::unique_ptr<V4l2CameraControls> Open(FakeV4l2Device& device) {
    return std::make_unique<V4l2CameraControls>(-1, device.Ioctl());
}

int64_t Value(FakeV4l2Device& device, uint32_t id) {
    return device.Value(id);
}

// Lets the event loop run until the page's writes are answered.
bool Settle(const PropertyPage& page) {
    return QTest::qWaitFor([&] { return !page.Busy(); }, 10000);
}

// A control of the page, once the page has read the camera's.
template <class W>
W* Control(QWidget& page, const char* name) {
    W* w = nullptr;
    EXPECT_TRUE(QTest::qWaitFor([&] { return (w = page.findChild<W*>(QString::fromUtf8(name))); },
                                10000))
        << name;
    return w;
}

}  // namespace

TEST(CameraControls, EveryWebcamsControlsComeThroughTheIoctlsAsTheDriverListsThem) {
    for (const Webcam& webcam : kWebcams) {
        SCOPED_TRACE(webcam.name);
        FakeV4l2Device device(webcam.controls());
        const std::vector<CameraControl> expected = device.List();
        const std::vector<CameraControl> listed = Open(device)->List();
        ASSERT_EQ(listed.size(), expected.size());
        for (size_t i = 0; i < listed.size(); ++i) {
            SCOPED_TRACE(expected[i].name);
            EXPECT_EQ(listed[i].id, expected[i].id);
            EXPECT_EQ(listed[i].type, expected[i].type);
            EXPECT_EQ(listed[i].name, expected[i].name);
            EXPECT_EQ(listed[i].minimum, expected[i].minimum);
            EXPECT_EQ(listed[i].maximum, expected[i].maximum);
            EXPECT_EQ(listed[i].step,
                      expected[i].type == V4L2_CTRL_TYPE_CTRL_CLASS ? 1u : expected[i].step);
            EXPECT_EQ(listed[i].defaultValue, expected[i].defaultValue);
            EXPECT_EQ(listed[i].flags, expected[i].flags);
            ASSERT_EQ(listed[i].menu.size(), expected[i].menu.size());
            for (size_t m = 0; m < listed[i].menu.size(); ++m) {
                EXPECT_EQ(listed[i].menu[m].value, expected[i].menu[m].value);
                EXPECT_EQ(listed[i].menu[m].name, expected[i].menu[m].name);
            }
        }
    }
}

TEST(CameraControls, ValuesAreReadAndSetThroughTheExtendedControls) {
    FakeV4l2Device device(LogitechC920());
    auto controls = Open(device);
    int64_t v = 0;
    ASSERT_TRUE(controls->Get(V4L2_CID_BRIGHTNESS, &v));
    EXPECT_EQ(v, 128);
    EXPECT_EQ(controls->Set(V4L2_CID_BRIGHTNESS, 200), 0);
    EXPECT_EQ(Value(device, V4L2_CID_BRIGHTNESS), 200);
    // The kernel clamps an integer beyond its range.
    EXPECT_EQ(controls->Set(V4L2_CID_BRIGHTNESS, 300), 0);
    ASSERT_TRUE(controls->Get(V4L2_CID_BRIGHTNESS, &v));
    EXPECT_EQ(v, 255);
    // The driver's refusals come back as errno values.
    EXPECT_EQ(controls->Set(V4L2_CID_EXPOSURE_AUTO, 4), ERANGE);        // beyond the menu
    EXPECT_EQ(controls->Set(V4L2_CID_EXPOSURE_AUTO, 2), EINVAL);        // not in the menu
    EXPECT_EQ(controls->Set(V4L2_CID_EXPOSURE_ABSOLUTE, 100), EACCES);  // automatic exposure on
    EXPECT_EQ(controls->Set(0x00981234, 1), EINVAL);
    // Manual exposure makes the exposure time writable; its flags say so.
    CameraControl exposure;
    ASSERT_TRUE(controls->Query(V4L2_CID_EXPOSURE_ABSOLUTE, &exposure));
    EXPECT_TRUE(exposure.Inactive());
    EXPECT_EQ(controls->Set(V4L2_CID_EXPOSURE_AUTO, V4L2_EXPOSURE_MANUAL), 0);
    ASSERT_TRUE(controls->Query(V4L2_CID_EXPOSURE_ABSOLUTE, &exposure));
    EXPECT_FALSE(exposure.Inactive());
    EXPECT_EQ(controls->Set(V4L2_CID_EXPOSURE_ABSOLUTE, 100), 0);
    EXPECT_EQ(Value(device, V4L2_CID_EXPOSURE_ABSOLUTE), 100);
    // A device that refuses a write.
    device.failing.insert(V4L2_CID_ZOOM_ABSOLUTE);
    EXPECT_EQ(controls->Set(V4L2_CID_ZOOM_ABSOLUTE, 200), EIO);
    // A device without controls lists none.
    FakeV4l2Device empty({});
    EXPECT_TRUE(Open(empty)->List().empty());
}

TEST(CameraControls, TheTestCamerasControlsKeepWhatTheKernelKeeps) {
    // Every control of every webcam, asked for values around its range and
    // between its steps: the program's own table (the built-in test
    // camera's) answers and keeps what the emulated driver does.
    for (const Webcam& webcam : kWebcams) {
        for (const ControlTable::Entry& entry : webcam.controls()) {
            const CameraControl& c = entry.control;
            const int64_t step = int64_t(c.step);
            const int64_t probes[] = {c.minimum - 1 - step,
                                      c.minimum,
                                      c.minimum + step / 2,
                                      c.minimum + step / 2 - 1,
                                      c.minimum + step + 1,
                                      (c.minimum + c.maximum) / 2,
                                      c.maximum - step / 2,
                                      c.maximum - 1,
                                      c.maximum,
                                      c.maximum + 1,
                                      c.maximum + 3 * step};
            for (int64_t probe : probes) {
                SCOPED_TRACE(webcam.name + std::string(" ") + c.name + " " + std::to_string(probe));
                ControlTable table(webcam.controls());
                FakeV4l2Device device(webcam.controls());
                int64_t kept = -1;
                EXPECT_EQ(table.Set(c.id, probe), Open(device)->Set(c.id, probe));
                if (table.Get(c.id, &kept)) {
                    EXPECT_EQ(kept, device.Value(c.id));
                }
            }
        }
    }
}

TEST(CameraControlsPage, GroupsByTheDriversClassesWithRangesStepsAndMenus) {
    FakeV4l2Device device(RaspberryPiCamera());
    CameraControlsPage page(Open(device), nullptr);
    ASSERT_TRUE(QTest::qWaitFor([&] { return page.IsFilled(); }, 10000));
    QStringList groups;
    for (QGroupBox* box : page.findChildren<QGroupBox*>())
        groups << box->title();
    EXPECT_EQ(groups, (QStringList{"User Controls", "Codec Controls", "Camera Controls",
                                   "JPEG Compression Controls"}));
    EXPECT_EQ(page.ControlCount(), 17);
    auto* rotate = Control<QSpinBox>(page, "Rotate");
    EXPECT_EQ(rotate->minimum(), 0);
    EXPECT_EQ(rotate->maximum(), 360);
    EXPECT_EQ(rotate->singleStep(), 90);
    EXPECT_TRUE(rotate->toolTip().contains("Par défaut : 0"));
    auto* bias = Control<QComboBox>(page, "Auto Exposure, Bias");
    ASSERT_EQ(bias->count(), 25);
    EXPECT_EQ(bias->itemText(0), "-4000");
    EXPECT_EQ(bias->currentText(), "0");
    // A wide range has no slider, a narrow one has.
    EXPECT_EQ(page.findChild<QSlider*>("Video Bitrate-slider"), nullptr);
    EXPECT_NE(page.findChild<QSlider*>("Brightness-slider"), nullptr);

    // A driver without class entries: the classes' own names.
    FakeV4l2Device lifecam(LifeCamHd3000());
    CameraControlsPage older(Open(lifecam), nullptr);
    ASSERT_TRUE(QTest::qWaitFor([&] { return older.IsFilled(); }, 10000));
    groups.clear();
    for (QGroupBox* box : older.findChildren<QGroupBox*>())
        groups << box->title();
    EXPECT_EQ(groups, (QStringList{"User Controls", "Camera Controls"}));
    auto* exposure = Control<QComboBox>(older, "Exposure, Auto");
    ASSERT_EQ(exposure->count(), 2);  // the menu's gaps left out
    EXPECT_EQ(exposure->currentText(), "Manual Mode");
}

TEST(CameraControlsPage, ChangesApplyLiveOnTheControlsSteps) {
    FakeV4l2Device device(LogitechC920());
    CameraControlsPage page(Open(device), nullptr);
    Control<QSlider>(page, "Brightness-slider")->setValue(40);
    Control<QComboBox>(page, "Power Line Frequency")->setCurrentIndex(1);
    Control<QCheckBox>(page, "Exposure, Dynamic Framerate")->setChecked(true);
    ASSERT_TRUE(Settle(page));
    EXPECT_EQ(Value(device, V4L2_CID_BRIGHTNESS), 40);
    EXPECT_EQ(Control<QSpinBox>(page, "Brightness")->value(), 40);
    EXPECT_EQ(Value(device, V4L2_CID_POWER_LINE_FREQUENCY), 1);
    EXPECT_EQ(Value(device, V4L2_CID_EXPOSURE_AUTO_PRIORITY), 1);

    // Pan moves by 3600 up to 36000: a value between steps is shown at once
    // on the step the device will keep, and that is what it keeps.
    struct Step {
        int asked, kept;
    } const steps[] = {{5000, 3600},   {5500, 7200},   {-1799, 0},      {-1800, 0},
                       {-1801, -3600}, {34300, 36000}, {-35999, -36000}};
    auto* pan = Control<QSpinBox>(page, "Pan, Absolute");
    for (const Step& step : steps) {
        SCOPED_TRACE(step.asked);
        pan->setValue(step.asked);
        EXPECT_EQ(pan->value(), step.kept);
        ASSERT_TRUE(Settle(page));
        EXPECT_EQ(Value(device, V4L2_CID_PAN_ABSOLUTE), step.kept);
        EXPECT_EQ(pan->value(), step.kept);
    }
    // A value that comes back to the step shown writes nothing.
    const int writes = device.SetCalls();
    pan->setValue(-35000);
    EXPECT_EQ(pan->value(), -36000);
    EXPECT_FALSE(page.Busy());
    EXPECT_EQ(device.SetCalls(), writes);
}

TEST(CameraControlsPage, ASweepNeverWaitsOnTheDeviceWhichGetsItsFirstAndLastValue) {
    FakeV4l2Device device(LogitechC920());
    // A camera with steps of its own, coarser than the ones it lists.
    device.keeps = [](uint32_t, int64_t value) { return value / 10 * 10; };
    CameraControlsPage page(Open(device), nullptr);
    auto* slider = Control<QSlider>(page, "Brightness-slider");
    auto* spin = Control<QSpinBox>(page, "Brightness");
    device.WatchThisThread();
    device.Hold();
    for (int v = 0; v <= 255; ++v)
        slider->setValue(v);
    // Back from the sweep while the device still holds its first write.
    EXPECT_EQ(device.WritesDone(), 0);
    EXPECT_TRUE(page.Busy());
    EXPECT_EQ(spin->value(), 255);
    device.Release();
    ASSERT_TRUE(Settle(page));
    EXPECT_EQ(device.Writes(), (Writes{{V4L2_CID_BRIGHTNESS, 0}, {V4L2_CID_BRIGHTNESS, 255}}));
    EXPECT_FALSE(device.Overlapped());
    EXPECT_EQ(device.CallsOnWatchedThread(), 0);
    // The page shows what the device kept.
    EXPECT_EQ(Value(device, V4L2_CID_BRIGHTNESS), 250);
    EXPECT_EQ(spin->value(), 250);
    EXPECT_EQ(slider->value(), 250);

    // Slow writes (30 ms each), a sweep and Cancel at once: the device is
    // put back, its last write the original value.
    device.keeps = nullptr;
    device.SetWriteTime(std::chrono::milliseconds(30));
    for (int v = 255; v >= 0; v -= 5)
        slider->setValue(v);
    page.Revert();
    ASSERT_TRUE(Settle(page));
    EXPECT_EQ(Value(device, V4L2_CID_BRIGHTNESS), 128);
    EXPECT_EQ(device.Writes().back(), std::make_pair(uint32_t(V4L2_CID_BRIGHTNESS), int64_t(128)));
    EXPECT_EQ(spin->value(), 128);
    EXPECT_FALSE(device.Overlapped());
    EXPECT_EQ(device.CallsOnWatchedThread(), 0);
}

TEST(CameraControlsPage, CancelClosesTheFrameOnceTheDeviceIsBackOrAtItsBound) {
    // A device that answers within the bound: the frame closes once the
    // original value is back. One that holds every write: the frame closes
    // at the bound, and the writes go out in order after the page is gone.
    for (const bool held : {false, true}) {
        SCOPED_TRACE(held ? "held" : "slow");
        FakeV4l2Device device(LogitechC920());
        device.SetWriteTime(std::chrono::milliseconds(held ? 0 : 60));
        std::shared_ptr<ICameraControls> controls = Open(device);
        std::weak_ptr<ICameraControls> alive = controls;
        {
            PropertyFrame frame(nullptr, QStringLiteral("Camera"));
            auto* page = new CameraControlsPage(std::move(controls), &frame);
            frame.AddPage(page);
            if (held)
                device.Hold();
            QTimer::singleShot(0, [&] {
                auto* slider = Control<QSlider>(*page, "Brightness-slider");
                slider->setValue(0);
                slider->setValue(255);
                frame.findChild<QPushButton*>(QStringLiteral("Cancel"))->click();
                // Waiting for the device, the frame takes no second answer.
                EXPECT_TRUE(frame.Closing());
                EXPECT_FALSE(frame.findChild<QPushButton*>(QStringLiteral("OK"))->isEnabled());
                frame.accept();
            });
            EXPECT_EQ(frame.exec(), QDialog::Rejected);
            EXPECT_EQ(Value(device, V4L2_CID_BRIGHTNESS), held ? 128 : 128);
            EXPECT_EQ(device.WritesDone(), held ? 0 : 2);
        }
        device.Release();
        ASSERT_TRUE(QTest::qWaitFor([&] { return alive.expired(); }, 10000));
        EXPECT_EQ(device.Writes(), (Writes{{V4L2_CID_BRIGHTNESS, 0}, {V4L2_CID_BRIGHTNESS, 128}}));
        EXPECT_EQ(Value(device, V4L2_CID_BRIGHTNESS), 128);
    }
}

TEST(CameraControlsPage, AnAutomaticModeGreysOutItsManualPartnerWhileOn) {
    struct Pair {
        Entries (*camera)();
        const char* automatic;
        const char* on;  // the automatic mode's entry, for a menu
        const char* manual;
        uint32_t manualId;
    };
    // White balance, exposure and focus on a C920; gain and exposure (a menu
    // whose automatic mode is 0) on a PlayStation Eye.
    const Pair pairs[] = {
        {LogitechC920, "White Balance, Automatic", nullptr, "White Balance Temperature",
         V4L2_CID_WHITE_BALANCE_TEMPERATURE},
        {LogitechC920, "Auto Exposure", "Aperture Priority Mode", "Exposure Time, Absolute",
         V4L2_CID_EXPOSURE_ABSOLUTE},
        {LogitechC920, "Focus, Automatic Continuous", nullptr, "Focus, Absolute",
         V4L2_CID_FOCUS_ABSOLUTE},
        {PlayStationEye, "Gain, Automatic", nullptr, "Gain", V4L2_CID_GAIN},
        {PlayStationEye, "Auto Exposure", "Auto Mode", "Exposure", V4L2_CID_EXPOSURE},
    };
    for (const Pair& pair : pairs) {
        SCOPED_TRACE(pair.manual);
        FakeV4l2Device device(pair.camera());
        CameraControlsPage page(Open(device), nullptr);
        auto* manual = Control<QSpinBox>(page, pair.manual);
        ASSERT_NE(manual, nullptr);
        QWidget* row = manual->parentWidget();
        QLabel* label = Control<QLabel>(page, (std::string("label:") + pair.manual).c_str());
        EXPECT_FALSE(row->isEnabled());
        EXPECT_TRUE(label->text().endsWith("(automatique)"));

        auto* check = page.findChild<QCheckBox*>(pair.automatic);
        auto* combo = page.findChild<QComboBox*>(pair.automatic);
        ASSERT_TRUE(check || combo);
        if (check)
            check->setChecked(false);
        else
            combo->setCurrentIndex(combo->findText("Manual Mode"));
        ASSERT_TRUE(Settle(page));
        EXPECT_TRUE(row->isEnabled());
        EXPECT_EQ(label->text(), pair.manual);
        // Now the manual value reaches the device.
        manual->setValue(manual->minimum());
        ASSERT_TRUE(Settle(page));
        EXPECT_EQ(Value(device, pair.manualId), manual->minimum());

        if (check)
            check->setChecked(true);
        else
            combo->setCurrentIndex(combo->findText(pair.on));
        ASSERT_TRUE(Settle(page));
        EXPECT_FALSE(row->isEnabled());
    }
}

TEST(CameraControlsPage, ReadOnlyAndRefusedControlsShowAsSuch) {
    FakeV4l2Device device(IntegratedLaptopCamera());
    device.failing.insert(V4L2_CID_GAMMA);
    CameraControlsPage page(Open(device), nullptr);
    auto* privacy = Control<QCheckBox>(page, "Privacy");
    EXPECT_FALSE(privacy->isEnabled());
    EXPECT_EQ(Control<QLabel>(page, "label:Privacy")->text(), "Privacy (lecture seule)");
    // A value the device refuses: said, and the control shows what it kept.
    Control<QSpinBox>(page, "Gamma")->setValue(250);
    ASSERT_TRUE(Settle(page));
    EXPECT_EQ(Value(device, V4L2_CID_GAMMA), 100);
    EXPECT_EQ(Control<QSpinBox>(page, "Gamma")->value(), 100);
    EXPECT_TRUE(Control<QLabel>(page, "status")->text().startsWith("Gamma: "));
    // The next accepted change clears the message.
    Control<QSpinBox>(page, "Sharpness")->setValue(5);
    ASSERT_TRUE(Settle(page));
    EXPECT_TRUE(Control<QLabel>(page, "status")->text().isEmpty());
}

TEST(CameraControlsPage, CancelPutsEveryValueBackWhicheverWayTheAutomaticModesMoved) {
    // Automatic exposure on at first: switched to manual and the exposure
    // time changed; put back, the exposure time first, then automatic again.
    FakeV4l2Device c920(LogitechC920());
    {
        CameraControlsPage page(Open(c920), nullptr);
        Control<QSpinBox>(page, "Brightness")->setValue(10);
        Control<QComboBox>(page, "Auto Exposure")->setCurrentIndex(0);  // Manual Mode
        ASSERT_TRUE(Settle(page));
        Control<QSpinBox>(page, "Exposure Time, Absolute")->setValue(900);
        Control<QCheckBox>(page, "White Balance, Automatic")->setChecked(false);
        ASSERT_TRUE(Settle(page));
        Control<QSpinBox>(page, "White Balance Temperature")->setValue(6000);
        ASSERT_TRUE(Settle(page));
        EXPECT_EQ(Value(c920, V4L2_CID_EXPOSURE_ABSOLUTE), 900);
        EXPECT_EQ(Value(c920, V4L2_CID_WHITE_BALANCE_TEMPERATURE), 6000);
        page.Revert();
        ASSERT_TRUE(Settle(page));
    }
    EXPECT_EQ(Value(c920, V4L2_CID_BRIGHTNESS), 128);
    EXPECT_EQ(Value(c920, V4L2_CID_EXPOSURE_AUTO), V4L2_EXPOSURE_APERTURE_PRIORITY);
    EXPECT_EQ(Value(c920, V4L2_CID_EXPOSURE_ABSOLUTE), 250);
    EXPECT_EQ(Value(c920, V4L2_CID_AUTO_WHITE_BALANCE), 1);
    EXPECT_EQ(Value(c920, V4L2_CID_WHITE_BALANCE_TEMPERATURE), 4000);

    // Manual exposure at first: the exposure time changed, then automatic
    // exposure switched on; put back, manual first so the time can be set.
    FakeV4l2Device lifecam(LifeCamHd3000());
    {
        CameraControlsPage page(Open(lifecam), nullptr);
        Control<QSpinBox>(page, "Exposure (Absolute)")->setValue(5000);
        Control<QComboBox>(page, "Exposure, Auto")->setCurrentIndex(1);  // Aperture Priority
        ASSERT_TRUE(Settle(page));
        EXPECT_EQ(Value(lifecam, V4L2_CID_EXPOSURE_AUTO), V4L2_EXPOSURE_APERTURE_PRIORITY);
        page.Revert();
        ASSERT_TRUE(Settle(page));
    }
    EXPECT_EQ(Value(lifecam, V4L2_CID_EXPOSURE_AUTO), V4L2_EXPOSURE_MANUAL);
    EXPECT_EQ(Value(lifecam, V4L2_CID_EXPOSURE_ABSOLUTE), 156);

    // Nothing changed, nothing written.
    FakeV4l2Device eye(PlayStationEye());
    {
        CameraControlsPage page(Open(eye), nullptr);
        ASSERT_TRUE(QTest::qWaitFor([&] { return page.IsFilled(); }, 10000));
        page.Revert();
        EXPECT_FALSE(page.Busy());
    }
    EXPECT_EQ(eye.SetCalls(), 0);
}

TEST(CameraControlsPage, TheCameraIsReadOffTheUserInterfaceThreadWithinABound) {
    // A camera that answers once let go, and one that answers too late: the page says it is
    // reading, then shows the controls (the frame grown to them), or none at the bound.
    for (const bool late : {false, true}) {
        FakeV4l2Device device(LogitechC920());
        std::promise<void> answer;
        PropertyFrame frame(nullptr, QStringLiteral("Camera"));
        auto* page = new CameraControlsPage(
            [&device, late, asked = answer.get_future().share()] {
                asked.wait();  // a late camera's table outlives the page
                return late ? std::make_shared<ControlTable>(LogitechC920())
                            : std::shared_ptr<ICameraControls>(Open(device));
            },
            &frame);
        frame.AddPage(page);
        frame.show();
        const int reading = frame.height();
        EXPECT_NE(page->findChild<QLabel*>("loading"), nullptr);
        if (!late)
            answer.set_value();
        ASSERT_TRUE(QTest::qWaitFor([&] { return page->IsFilled(); }, 10000));
        if (late)
            answer.set_value();
        EXPECT_EQ(page->ControlCount(), late ? 0 : 17);
        EXPECT_EQ(frame.height() > reading + 100, !late);
    }
}
