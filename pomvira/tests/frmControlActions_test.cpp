// SPDX-License-Identifier: GPL-3.0-or-later
// The settings actions of the control panel against the recording fake of
// the media framework: what each dialog is filled with, what confirming or
// cancelling changes, and the graph calls around it.
#include <QAction>
#include <QCheckBox>
#include <QComboBox>
#include <QDir>
#include <QListWidget>
#include <QMenu>
#include <QPushButton>
#include <QToolButton>
#include <cstring>
#include <gtest/gtest.h>

#include "widgets/ActionList.h"
#include "dialogs/BrowseEdit.h"
#include "dialogs/DlgCompress.h"
#include "dialogs/DlgSaveFolder.h"
#include "dialogs/DlgSelectDevice.h"
#include "ControlFormTesting.h"
#include "ModalDriver.h"
#include "forms/frmControl.h"
#include "forms/frmView.h"
#include "media/fake/FakeMedia.h"

using namespace media;
using namespace media::fake;

namespace {

QStringList Items(QComboBox* list) {
    QStringList items;
    for (int i = 0; i < list->count(); ++i)
        items << list->itemText(i);
    return items;
}
QStringList Items(QListWidget* list) {
    QStringList items;
    for (int i = 0; i < list->count(); ++i)
        items << list->item(i)->text();
    return items;
}

// A wave format with `extra` bytes after its header.
TMediaType WaveFormat(uint16_t tag, uint32_t rate, uint16_t bits, uint16_t channels,
                      uint16_t extra) {
    TMediaType mt(MEDIATYPE_Audio);
    mt.SetSubType(FourCCGuid(tag));
    mt.SetFormatType(FORMAT_WaveFormatEx);
    WAVEFORMATEX wfx{};
    wfx.wFormatTag = tag;
    wfx.nChannels = channels;
    wfx.nSamplesPerSec = rate;
    wfx.wBitsPerSample = bits;
    wfx.nBlockAlign = 256;
    wfx.nAvgBytesPerSec = rate / 2;
    wfx.cbSize = extra;
    uint8_t* block = mt.AllocFormatBuffer(uint32_t(sizeof wfx + extra));
    std::memcpy(block, &wfx, sizeof wfx);
    std::memset(block + sizeof wfx, 0x5A, extra);
    return mt;
}

class ControlActionsTest : public ControlFormTestBase {
  protected:
    void TearDown() override {
        SetFolderChooserHook(nullptr);
        ControlFormTestBase::TearDown();
    }
    FakeDevice& AddCamera(const std::string& name) {
        return sys.AddVideoDevice(name, {VideoFormat(MEDIASUBTYPE_YUY2, 640, 480, 16),
                                         VideoFormat(MEDIASUBTYPE_YUY2, 320, 240, 16)});
    }
    FakeDevice& AddMicrophone(const std::string& name) {
        return sys.AddAudioDevice(name, {AudioFormat(44100, 16, 2), AudioFormat(48000, 16, 2),
                                         AudioFormat(22050, 16, 1)});
    }
    static void ExpectPanelBelowTheView(TControlForm& form) {
        TViewForm* view = form.ViewForm();
        EXPECT_EQ(form.y(), view->y() + view->height());
        EXPECT_EQ(form.x(), view->x() + (view->width() - form.width()) / 2);
    }

    FakeMediaSystem sys;  // before the form: outlives it
};

}  // namespace

// ---------------------------------------------------------------------------
// Devices
// ---------------------------------------------------------------------------

TEST_F(ControlActionsTest, ChoosingAnotherCameraReopensTheGraphAndSizesThePreviewForIt) {
    AddCamera("Cam A");
    sys.AddVideoDevice("Cam B", {VideoFormat(MEDIASUBTYPE_YUY2, 320, 240, 16)});
    AddMicrophone("Mic");
    TControlForm form;
    ASSERT_TRUE(SettleSession(form));
    ASSERT_TRUE(boxes.empty());
    // A camera plugged in after start-up is listed: the names are fresh.
    AddCamera("Cam C");
    sys.Log().Clear();
    auto answer = WhenModal<TSelectDeviceDlg>([](TSelectDeviceDlg* d) {
        EXPECT_EQ(Items(d->cbVideoDevice), QStringList({"Cam A", "Cam B", "Cam C"}));
        EXPECT_EQ(Items(d->cbAudioDevice), QStringList({"Mic"}));
        EXPECT_EQ(d->cbVideoDevice->currentIndex(), 0);
        EXPECT_EQ(d->cbAudioDevice->currentIndex(), 0);
        d->cbVideoDevice->setCurrentIndex(1);
        PressKey(d, Qt::Key_Return);
    });
    ASSERT_TRUE(form.actSelectDevice->Execute());
    ASSERT_TRUE(SettleSession(form));
    EXPECT_TRUE(answer->Answered());
    const CallLog& log = sys.Log();
    EXPECT_TRUE(log.InOrder({
        "Graph.Stop",
        "Graph.RemoveFilter(VideoSourceFilter)",
        "System.CoCreateInstance(FilterGraph)",
        "Graph.AddFilter(VideoSourceFilter)",
        "Builder.RenderStream(PREVIEW, Filter[Cam B], Filter[Grabber], Filter[Renderer])",
        "Graph.Run",
    })) << log.Text();
    EXPECT_EQ(PanelState(form).VideoDevice, 1);
    EXPECT_EQ(PanelState(form).AudioDevice, 0);
    EXPECT_EQ(form.ViewForm()->size(), QSize(320 + 36, 240 + 56));
    ExpectPanelBelowTheView(form);
    // The stored format text is neither applied to the new camera nor updated.
    EXPECT_EQ(PanelState(form).VideoFormat, k640);
    EXPECT_TRUE(boxes.empty());
}

TEST_F(ControlActionsTest, SameDevicesAgainOrCancelRebuildNothing) {
    AddCamera("Cam A");
    AddCamera("Cam B");
    AddMicrophone("Mic");
    TControlForm form;
    ASSERT_TRUE(SettleSession(form));
    sys.Log().Clear();
    auto same = WhenModal<TSelectDeviceDlg>([](TSelectDeviceDlg* d) { d->btnOK->click(); });
    form.actSelectDevice->Execute();
    ASSERT_TRUE(SettleSession(form));
    EXPECT_TRUE(same->Answered());
    auto cancelled = WhenModal<TSelectDeviceDlg>([](TSelectDeviceDlg* d) {
        d->cbVideoDevice->setCurrentIndex(1);
        PressKey(d, Qt::Key_Escape);
    });
    form.actSelectDevice->Execute();
    ASSERT_TRUE(SettleSession(form));
    EXPECT_TRUE(cancelled->Answered());
    for (const char* call : {"Graph.Stop", "Graph.Run", "System.CoCreateInstance(FilterGraph)",
                             "Graph.RemoveFilter(VideoSourceFilter)"})
        EXPECT_FALSE(sys.Log().Contains(call)) << call << "\n" << sys.Log().Text();
    EXPECT_TRUE(sys.Log().Matching("Builder.RenderStream").empty());
    EXPECT_EQ(PanelState(form).VideoDevice, 0);
}

TEST_F(ControlActionsTest, ConfirmedWithoutACameraKeepsTheCameraAndTakesTheNewMicrophone) {
    AddCamera("Cam A");
    AddMicrophone("Mic 1");
    AddMicrophone("Mic 2");
    TControlForm form;
    ASSERT_TRUE(SettleSession(form));
    sys.Log().Clear();
    auto answer = WhenModal<TSelectDeviceDlg>([](TSelectDeviceDlg* d) {
        d->cbVideoDevice->setCurrentIndex(-1);
        d->cbAudioDevice->setCurrentIndex(1);
        PressKey(d, Qt::Key_Return);
    });
    form.actSelectDevice->Execute();
    ASSERT_TRUE(SettleSession(form));
    EXPECT_TRUE(answer->Answered());
    const CallLog& log = sys.Log();
    EXPECT_FALSE(log.Contains("Graph.RemoveFilter(VideoSourceFilter)")) << log.Text();
    EXPECT_TRUE(log.InOrder({"Graph.RemoveFilter(AudioSourceFilter)",
                             "Graph.AddFilter(AudioSourceFilter)", "Graph.Run"}))
        << log.Text();
    EXPECT_NE(sys.Filter("Mic 2"), nullptr);
    EXPECT_EQ(PanelState(form).VideoDevice, 0);
    EXPECT_EQ(PanelState(form).AudioDevice, 1);
    // The preview still runs.
    EXPECT_EQ(sys.Graph()->State(), State_Running);
}

// ---------------------------------------------------------------------------
// The device's own pages and the capture format
// ---------------------------------------------------------------------------

TEST_F(ControlActionsTest, AudioEntriesWithoutAMicrophoneReportInterfaceNotSupported) {
    AddCamera("Cam");
    TControlForm form;
    ASSERT_TRUE(SettleSession(form));
    ASSERT_EQ(PanelState(form).AudioDevice, -1);
    sys.Log().Clear();
    // As chosen from the menu: the failure goes to the error report.
    form.actAudioFilter->MenuAction()->trigger();
    form.actAudioFormat->MenuAction()->trigger();
    ASSERT_TRUE(SettleSession(form));
    EXPECT_EQ(boxes, (std::vector<QString>{"Interface non prise en charge",
                                           "Interface non prise en charge"}));
    EXPECT_FALSE(sys.Log().Contains("Graph.Stop"));
    EXPECT_EQ(sys.Graph()->State(), State_Running);
}

TEST_F(ControlActionsTest, ResolutionChosenOnThePinsPageResizesAndReplacesTheWindows) {
    AddCamera("Cam");
    TControlForm form;
    ASSERT_TRUE(SettleSession(form));
    ASSERT_EQ(form.ViewForm()->size(), QSize(640 + 36, 480 + 56));
    sys.PropertyFrameHook = [](const WString&, const std::vector<IUnknown*>& objects) {
        ASSERT_EQ(objects.size(), 1u);
        auto config = QueryAs<IAMStreamConfig>(objects[0]);
        ASSERT_TRUE(config);
        // The pin is not connected while its page is open.
        ComPtr<IPin> peer;
        QueryAs<IPin>(objects[0])->ConnectedTo(peer.Put());
        EXPECT_FALSE(peer);
        config->SetFormat(VideoFormat(MEDIASUBTYPE_YUY2, 320, 240, 16).AMMediaType());
    };
    sys.Log().Clear();
    form.actVideoPin->Execute();
    ASSERT_TRUE(SettleSession(form));
    const CallLog& log = sys.Log();
    EXPECT_TRUE(log.InOrder({
        "Pin[Cam/Capture].GetFormat",
        "Graph.Stop",
        "System.CoCreateInstance(FilterGraph)",
        std::string("Pin[Cam/Capture].SetFormat(") + k640 + ")",
        "System.CreatePropertyFrame(Capture, 0, 0, 1, 1)",
        std::string("Pin[Cam/Capture].SetFormat(") + k320 + ")",
        "Builder.RenderStream(PREVIEW, Filter[Cam], Filter[Grabber], Filter[Renderer])",
        "Graph.Run",
    })) << log.Text();
    EXPECT_EQ(form.ViewForm()->size(), QSize(320 + 36, 240 + 56));
    ExpectPanelBelowTheView(form);
    EXPECT_EQ(PanelState(form).VideoFormat, k320);
}

TEST_F(ControlActionsTest, ResolutionPagesCancelledOrFailingKeepTheFormat) {
    AddCamera("Cam");
    Ini().WriteString("CAPTURE", "VIDEO FORMAT", k320);
    TControlForm form;
    ASSERT_TRUE(SettleSession(form));
    ASSERT_EQ(PanelState(form).VideoFormat, k320);
    // Cancelled: the saved format was put back; the windows are placed again.
    form.ViewForm()->move(10, 10);
    form.actVideoPin->Execute();
    ASSERT_TRUE(SettleSession(form));
    EXPECT_EQ(form.ViewForm()->size(), QSize(320 + 36, 240 + 56));
    EXPECT_NE(form.ViewForm()->pos(), QPoint(10, 10));
    EXPECT_EQ(PanelState(form).VideoFormat, k320);
    // The pages could not be shown: nothing is re-sized or re-placed.
    sys.SetResult("System.CreatePropertyFrame", E_FAIL);
    form.ViewForm()->move(10, 10);
    sys.Log().Clear();
    form.actVideoPin->Execute();
    ASSERT_TRUE(SettleSession(form));
    EXPECT_EQ(form.ViewForm()->pos(), QPoint(10, 10));
    EXPECT_EQ(PanelState(form).VideoFormat, k320);
    EXPECT_TRUE(
        sys.Log().InOrder({std::string("Pin[Cam/Capture].SetFormat(") + k320 + ")", "Graph.Run"}))
        << sys.Log().Text();
    EXPECT_EQ(sys.Graph()->State(), State_Running);
}

// ---------------------------------------------------------------------------
// Compressors
// ---------------------------------------------------------------------------

TEST_F(ControlActionsTest, CompressorsChosenAreKeptAsIndexesAndWrittenAtShutDown) {
    AddCamera("Cam");
    sys.AddCompressor(CLSID_VideoCompressorCategory, "JPEG encoder");
    sys.AddCompressor(CLSID_VideoCompressorCategory, "PNG encoder");
    sys.AddCompressor(CLSID_AudioCompressorCategory, "A-Law encoder");
    {
        TControlForm form;
        ASSERT_TRUE(SettleSession(form));
        auto first = WhenModal<TCompressDlg>([](TCompressDlg* d) {
            EXPECT_EQ(Items(d->lstVideoComp), QStringList({"JPEG encoder", "PNG encoder"}));
            EXPECT_EQ(Items(d->lstAudioComp), QStringList({"A-Law encoder"}));
            EXPECT_TRUE(d->chkNotVComp->isChecked());
            EXPECT_TRUE(d->chkNotAComp->isChecked());
            EXPECT_FALSE(d->lstVideoComp->isEnabled());
            d->chkNotVComp->click();
            d->lstVideoComp->setCurrentRow(1);
            PressKey(d, Qt::Key_Return);
        });
        form.actCompress->Execute();
        EXPECT_TRUE(first->Answered());
        EXPECT_EQ(PanelState(form).VideoCompress, 1);
        EXPECT_EQ(PanelState(form).AudioCompress, -1);

        // Opened again: the choice is shown; a cancel changes nothing.
        auto second = WhenModal<TCompressDlg>([](TCompressDlg* d) {
            EXPECT_FALSE(d->chkNotVComp->isChecked());
            EXPECT_TRUE(d->lstVideoComp->item(1)->isSelected());
            d->chkNotVComp->click();
            d->chkNotAComp->click();
            PressKey(d, Qt::Key_Escape);
        });
        form.actCompress->Execute();
        EXPECT_TRUE(second->Answered());
        EXPECT_EQ(PanelState(form).VideoCompress, 1);
        EXPECT_EQ(PanelState(form).AudioCompress, -1);
        // Nothing in the running preview changed.
        EXPECT_EQ(sys.Graph()->State(), State_Running);
    }
    EXPECT_EQ(Ini().ReadString("CAPTURE", "VIDEO COMPRESS", ""), "1");
    EXPECT_EQ(Ini().ReadString("CAPTURE", "AUDIO COMPRESS", ""), "-1");
}

TEST_F(ControlActionsTest, StoredCompressorThatNoLongerExistsShowsNoSelectionAndGivesNone) {
    AddCamera("Cam");
    sys.AddCompressor(CLSID_VideoCompressorCategory, "JPEG encoder");
    Ini().WriteInteger("CAPTURE", "VIDEO COMPRESS", 5);
    Ini().WriteInteger("CAPTURE", "AUDIO COMPRESS", 0);
    TControlForm form;
    ASSERT_TRUE(SettleSession(form));
    auto answer = WhenModal<TCompressDlg>([](TCompressDlg* d) {
        EXPECT_FALSE(d->chkNotVComp->isChecked());
        EXPECT_TRUE(d->lstVideoComp->selectedItems().isEmpty());
        // No audio compressor at all: an empty list, its box unticked.
        EXPECT_EQ(d->lstAudioComp->count(), 0);
        EXPECT_FALSE(d->chkNotAComp->isChecked());
        PressKey(d, Qt::Key_Return);
    });
    form.actCompress->Execute();
    EXPECT_TRUE(answer->Answered());
    EXPECT_EQ(PanelState(form).VideoCompress, -1);
    EXPECT_EQ(PanelState(form).AudioCompress, -1);
}

// ---------------------------------------------------------------------------
// Sound format
// ---------------------------------------------------------------------------

TEST_F(ControlActionsTest, AudioFormatChosenStopsThePreviewSetsItAndRunsAgain) {
    AddCamera("Cam");
    AddMicrophone("Mic");
    TControlForm form;
    ASSERT_TRUE(SettleSession(form));
    sys.Log().Clear();
    auto cancelled = WhenModalNamed("AudioFormatChooser", [](QWidget* chooser) {
        auto* list = chooser->findChild<QListWidget*>("lstFormats");
        EXPECT_EQ(list->count(), 3);
        EXPECT_EQ(list->currentRow(), 0);
        list->setCurrentRow(1);
        PressKey(chooser, Qt::Key_Escape);
    });
    form.actAudioFormat->Execute();
    ASSERT_TRUE(SettleSession(form));
    EXPECT_TRUE(cancelled->Answered());
    EXPECT_FALSE(sys.Log().Contains("Graph.Stop")) << sys.Log().Text();
    EXPECT_TRUE(sys.Log().Matching("Pin[Mic/Capture].SetFormat").empty());

    auto chosen = WhenModalNamed("AudioFormatChooser", [](QWidget* chooser) {
        chooser->findChild<QListWidget*>("lstFormats")->setCurrentRow(1);
        PressKey(chooser, Qt::Key_Return);
    });
    form.actAudioFormat->Execute();
    ASSERT_TRUE(SettleSession(form));
    EXPECT_TRUE(chosen->Answered());
    EXPECT_TRUE(sys.Log().InOrder(
        {"Graph.Stop",
         "Pin[Mic/Capture].SetFormat(Major Type: Audio - Sub Type: PCM Format: WaveFormatEx: PCM, "
         "48000 Hertz, 16 Bits, 2 Channels)",
         "Graph.Run"}))
        << sys.Log().Text();
    EXPECT_EQ(sys.Graph()->State(), State_Running);

    // Opened again, the chooser starts at the format now in force.
    auto again = WhenModalNamed("AudioFormatChooser", [](QWidget* chooser) {
        EXPECT_EQ(chooser->findChild<QListWidget*>("lstFormats")->currentRow(), 1);
        PressKey(chooser, Qt::Key_Escape);
    });
    form.actAudioFormat->Execute();
    ASSERT_TRUE(SettleSession(form));
    EXPECT_TRUE(again->Answered());
}

TEST_F(ControlActionsTest, AudioFormatWithMoreExtraBytesGetsABlockOfItsOwnSize) {
    AddCamera("Cam");
    sys.AddAudioDevice("Mic", {AudioFormat(44100, 16, 2), WaveFormat(2, 22050, 4, 1, 32)});
    TControlForm form;
    ASSERT_TRUE(SettleSession(form));
    auto chosen = WhenModalNamed("AudioFormatChooser", [](QWidget* chooser) {
        chooser->findChild<QListWidget*>("lstFormats")->setCurrentRow(1);
        PressKey(chooser, Qt::Key_Return);
    });
    form.actAudioFormat->Execute();
    ASSERT_TRUE(SettleSession(form));
    EXPECT_TRUE(chosen->Answered());
    FakeFilter* mic = sys.Filter("Mic");
    ASSERT_NE(mic, nullptr);
    const auto& current = mic->Pin("Capture")->CurrentFormat();
    ASSERT_TRUE(current.has_value()) << sys.Log().Text();
    EXPECT_TRUE(current->Equals(WaveFormat(2, 22050, 4, 1, 32)));
    EXPECT_EQ(current->FormatSize(), 18u + 32u);
}

// ---------------------------------------------------------------------------
// Save folders
// ---------------------------------------------------------------------------

TEST_F(ControlActionsTest, SaveFoldersAreTakenAsTheyStandAndWrittenAtShutDown) {
    AddCamera("Cam");
    const QString chosen = programDir.path() + "/not/yet/there";
    SetFolderChooserHook([&](QWidget*, const QString&) { return chosen; });
    QString videoBefore, snapBefore;
    {
        TControlForm form;
        ASSERT_TRUE(SettleSession(form));
        videoBefore = PanelState(form).VideoFolder;
        snapBefore = PanelState(form).SnapFolder;
        // Cancelled after browsing: both stay.
        auto cancelled = WhenModal<TSaveFolderDlg>([&](TSaveFolderDlg* d) {
            EXPECT_EQ(d->edtVideoFolder->Path(), videoBefore);
            EXPECT_EQ(d->edtSnapshotFolder->Path(), snapBefore);
            d->edtVideoFolder->BrowseButton()->click();
            EXPECT_EQ(d->edtVideoFolder->Path(), chosen);
            PressKey(d, Qt::Key_Escape);
        });
        form.actFolderConfig->Execute();
        EXPECT_TRUE(cancelled->Answered());
        EXPECT_EQ(PanelState(form).VideoFolder, videoBefore);

        auto confirmed = WhenModal<TSaveFolderDlg>([&](TSaveFolderDlg* d) {
            d->edtSnapshotFolder->BrowseButton()->click();
            PressKey(d, Qt::Key_Return);
        });
        form.actFolderConfig->Execute();
        EXPECT_TRUE(confirmed->Answered());
        EXPECT_EQ(PanelState(form).VideoFolder, videoBefore);
        EXPECT_EQ(PanelState(form).SnapFolder, chosen);
        // Neither checked nor created, nor written yet.
        EXPECT_FALSE(QDir(chosen).exists());
        EXPECT_EQ(Ini().ReadString("CAPTURE", "SNAP FOLDER", ""), "");
    }
    EXPECT_EQ(Ini().ReadString("CAPTURE", "SNAP FOLDER", ""), chosen);
    EXPECT_EQ(Ini().ReadString("CAPTURE", "VIDEO FOLDER", ""), videoBefore);
}
