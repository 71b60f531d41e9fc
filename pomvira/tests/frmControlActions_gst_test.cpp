// SPDX-License-Identifier: GPL-3.0-or-later
// The settings actions on the real GStreamer framework with two built-in
// test cameras and the test microphone: switching cameras, the resolution
// chosen on the capture pin's page, the sound format chosen in the audio
// format chooser and the compressors the system offers.
#include <QCheckBox>
#include <QComboBox>
#include <QLabel>
#include <QListWidget>
#include <QPushButton>
#include <QTest>
#include <gtest/gtest.h>

#include "widgets/ActionList.h"
#include "ControlFormTesting.h"
#include "dialogs/DlgCompress.h"
#include "dialogs/DlgSelectDevice.h"
#include "ModalDriver.h"
#include "forms/frmControl.h"
#include "forms/frmView.h"
#include "media/Bitmap.h"
#include "media/Filter.h"
#include "media/FilterGraph.h"
#include "media/MediaUtil.h"
#include "media/SampleGrabber.h"

using namespace media;

namespace {

const char* const k48000 =
    "Major Type: Audio - Sub Type: PCM Format: WaveFormatEx: PCM, 48000 Hertz, 16 Bits, 2 "
    "Channels";

const auto* const kEnvironment = ::testing::AddGlobalTestEnvironment(new GstTestDevices("2"));

// Chooses the format whose line starts with `line` on the pin's page of the
// property frame and closes the frame with OK (or Cancel).
std::unique_ptr<ModalAnswer> WhenFormatPage(const QString& line, bool ok) {
    return WhenModalNamed("PropertyFrame", [line, ok](QWidget* frame) {
        auto* formats = frame->findChild<QListWidget*>("Formats");
        ASSERT_NE(formats, nullptr);
        const auto found = formats->findItems(line, Qt::MatchStartsWith);
        ASSERT_EQ(found.size(), 1) << line.toStdString();
        formats->setCurrentItem(found.first());
        frame->findChild<QPushButton*>(ok ? "OK" : "Cancel")->click();
    });
}

class ControlActionsGstTest : public ControlFormTestBase {};

}  // namespace

TEST_F(ControlActionsGstTest, ChoosingTheSecondCameraRunsThePreviewOnItAndTheSameAgainNothing) {
    TControlForm form;
    ASSERT_TRUE(boxes.empty()) << FirstBox();
    ExpectPreviewRuns(form, 640, 480);
    auto choose = WhenModal<TSelectDeviceDlg>([](TSelectDeviceDlg* d) {
        ASSERT_GE(d->cbVideoDevice->count(), 2);
        EXPECT_EQ(d->cbVideoDevice->itemText(0), "Test Camera 1");
        EXPECT_EQ(d->cbVideoDevice->itemText(1), "Test Camera 2");
        EXPECT_EQ(d->cbAudioDevice->itemText(0), "Test Microphone");
        d->cbVideoDevice->setCurrentIndex(1);
        PressKey(d, Qt::Key_Return);
    });
    form.actSelectDevice->Execute();
    ASSERT_TRUE(SettleSession(form));
    ASSERT_TRUE(choose->Answered());
    EXPECT_EQ(PanelState(form).VideoDevice, 1);
    TSysDevEnum cameras(CLSID_VideoInputDeviceCategory);
    TBaseFilter second;
    second.StoreMoniker(cameras.DeviceMoniker(1).Get());
    EXPECT_TRUE(Probe(form).VideoSource()->BaseFilter().Equals(second));
    // Another camera opens in its largest format that fits the screen (the
    // stored text is neither applied to it nor changed).
    const QSize chosen = PinFrameSize(Probe(form).VideoSource());
    ExpectPreviewRuns(form, chosen.width(), chosen.height());
    EXPECT_EQ(PanelState(form).VideoFormat, k640);

    // The same devices again: the graph and its camera stay as they are.
    auto graph = Probe(form).Graph()->Get<IFilterGraph>();
    auto camera = Probe(form).VideoSource()->Get<IBaseFilter>();
    auto same = WhenModal<TSelectDeviceDlg>([](TSelectDeviceDlg* d) { PressKey(d, Qt::Key_Return); });
    form.actSelectDevice->Execute();
    ASSERT_TRUE(SettleSession(form));
    ASSERT_TRUE(same->Answered());
    EXPECT_TRUE(SameObject(Probe(form).Graph()->Get<IFilterGraph>().Get(), graph.Get()));
    EXPECT_TRUE(SameObject(Probe(form).VideoSource()->Get<IBaseFilter>().Get(), camera.Get()));
    ExpectPreviewRuns(form, chosen.width(), chosen.height());
    EXPECT_TRUE(boxes.empty());
}

TEST_F(ControlActionsGstTest, ResolutionChosenOnThePinsPageSizesThePreviewAndIsStored) {
    {
        TControlForm form;
        ASSERT_TRUE(boxes.empty()) << FirstBox();
        ASSERT_EQ(form.ViewForm()->size(), QSize(676, 536));
        // Cancelled: 640 x 480 stays.
        auto cancelled = WhenFormatPage("YUY2 320 x 240", false);
        form.actVideoPin->Execute();
        ASSERT_TRUE(SettleSession(form));
        ASSERT_TRUE(cancelled->Answered());
        EXPECT_EQ(PinFormatText(Probe(form).VideoSource()), k640);
        EXPECT_EQ(PanelState(form).VideoFormat, k640);
        EXPECT_EQ(form.ViewForm()->size(), QSize(676, 536));
        ExpectPreviewRuns(form, 640, 480);

        auto chosen = WhenFormatPage("YUY2 320 x 240", true);
        form.actVideoPin->Execute();
        ASSERT_TRUE(SettleSession(form));
        ASSERT_TRUE(chosen->Answered());
        EXPECT_EQ(PinFormatText(Probe(form).VideoSource()), k320);
        EXPECT_EQ(PanelState(form).VideoFormat, k320);
        TViewForm* view = form.ViewForm();
        EXPECT_EQ(view->size(), QSize(356, 296));
        EXPECT_EQ(view->lblSize->text(), "320 x 240");
        EXPECT_EQ(form.y(), view->y() + view->height());
        EXPECT_EQ(form.x(), view->x() + (view->width() - form.width()) / 2);
        ExpectPreviewRuns(form, 320, 240);
        // The settings file is written at shut-down only.
        EXPECT_EQ(Ini().ReadString("CAPTURE", "VIDEO FORMAT", ""), k640);
        EXPECT_TRUE(boxes.empty()) << FirstBox();
    }
    EXPECT_EQ(Ini().ReadString("CAPTURE", "VIDEO FORMAT", ""), k320);
}

TEST_F(ControlActionsGstTest, SoundFormatChosenIsPutOnTheMicrophoneAndThePreviewRunsAgain) {
    TControlForm form;
    ASSERT_TRUE(boxes.empty()) << FirstBox();
    ASSERT_EQ(PanelState(form).AudioDevice, 0);
    const QString before = PinFormatText(Probe(form).AudioSource());
    auto cancelled = WhenModalNamed("AudioFormatChooser", [](QWidget* chooser) {
        auto* list = chooser->findChild<QListWidget*>("lstFormats");
        EXPECT_EQ(list->count(), 3);
        EXPECT_EQ(list->currentItem()->text(), "PCM, 44100 Hz, 16 Bit, Stereo");
        list->setCurrentRow(1);
        PressKey(chooser, Qt::Key_Escape);
    });
    form.actAudioFormat->Execute();
    ASSERT_TRUE(SettleSession(form));
    ASSERT_TRUE(cancelled->Answered());
    EXPECT_EQ(PinFormatText(Probe(form).AudioSource()), before);
    ExpectPreviewRuns(form, 640, 480);

    auto chosen = WhenModalNamed("AudioFormatChooser", [](QWidget* chooser) {
        auto* list = chooser->findChild<QListWidget*>("lstFormats");
        const auto found = list->findItems("PCM, 48000 Hz, 16 Bit, Stereo", Qt::MatchExactly);
        ASSERT_EQ(found.size(), 1);
        list->setCurrentItem(found.first());
        PressKey(chooser, Qt::Key_Return);
    });
    form.actAudioFormat->Execute();
    ASSERT_TRUE(SettleSession(form));
    ASSERT_TRUE(chosen->Answered());
    EXPECT_EQ(PinFormatText(Probe(form).AudioSource()), k48000);
    ExpectPreviewRuns(form, 640, 480);
    EXPECT_TRUE(boxes.empty()) << FirstBox();
}

TEST_F(ControlActionsGstTest, CompressorsOfTheSystemAreListedAndTheChoiceIsStored) {
    TSysDevEnum video(CLSID_VideoCompressorCategory);
    TSysDevEnum audio(CLSID_AudioCompressorCategory);
    if (video.DeviceCount() == 0 || audio.DeviceCount() == 0)
        GTEST_SKIP() << "no video or audio encoder that the AVI multiplexer takes";
    {
        TControlForm form;
        auto answer = WhenModal<TCompressDlg>([&](TCompressDlg* d) {
            ASSERT_EQ(d->lstVideoComp->count(), video.DeviceCount());
            ASSERT_EQ(d->lstAudioComp->count(), audio.DeviceCount());
            for (int i = 0; i < video.DeviceCount(); ++i)
                EXPECT_EQ(d->lstVideoComp->item(i)->text().toStdString(),
                          video.DeviceEntry(i).FriendlyName);
            d->chkNotVComp->click();
            d->chkNotAComp->click();
            d->lstAudioComp->setCurrentRow(audio.DeviceCount() - 1);
            PressKey(d, Qt::Key_Return);
        });
        form.actCompress->Execute();
        ASSERT_TRUE(answer->Answered());
        EXPECT_EQ(PanelState(form).VideoCompress, 0);
        EXPECT_EQ(PanelState(form).AudioCompress, audio.DeviceCount() - 1);
        ExpectPreviewRuns(form, 640, 480);
    }
    EXPECT_EQ(Ini().ReadInteger("CAPTURE", "VIDEO COMPRESS", -1), 0);
    EXPECT_EQ(Ini().ReadInteger("CAPTURE", "AUDIO COMPRESS", -1), audio.DeviceCount() - 1);
}
