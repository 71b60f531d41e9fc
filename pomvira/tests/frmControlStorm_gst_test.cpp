// SPDX-License-Identifier: GPL-3.0-or-later
// Unplug storms: the camera unplugged and plugged back many times in quick
// succession (as the test devices' signals do it), during the preview,
// during recordings and while dialogs are open. Storms end in the right
// state: the camera back and previewing soon after its last return, nothing
// recording, every recording complete, and no generic error box.
#include <QFileInfo>
#include <QTest>
#include <QTimer>
#include <gtest/gtest.h>

#include <functional>
#include <random>

#include "widgets/ActionList.h"
#include "AviProbe.h"
#include "ControlFormTesting.h"
#include "dialogs/DlgSaveFolder.h"
#include "dialogs/DlgSelectDevice.h"
#include "widgets/ImageButton.h"
#include "ModalDriver.h"
#include "forms/frmControl.h"
#include "forms/frmView.h"

using namespace media;

namespace {

const auto* const kEnvironment = ::testing::AddGlobalTestEnvironment(new GstTestDevices("1"));

// Toggles "Test Camera 1" from the event loop (so it goes on inside modal
// dialogs, as signals do), with pauses drawn from a fixed seed; `between`
// runs after each toggle. Ends with the camera plugged in.
class TStorm {
  public:
    TStorm(int rounds, unsigned seed, std::function<void(bool plugged)> between = nullptr)
        : FLeft(rounds * 2), FRandom(seed), FBetween(std::move(between)) {
        FTimer.setSingleShot(true);
        QObject::connect(&FTimer, &QTimer::timeout, [this] { Step(); });
        FTimer.start(0);
    }
    ~TStorm() { gst::PlugTestDevice("Test Camera 1", true); }
    bool Done() const { return FLeft == 0; }

  private:
    void Step() {
        FPlugged = !FPlugged;
        gst::PlugTestDevice("Test Camera 1", FPlugged);
        if (FBetween)
            FBetween(FPlugged);
        if (--FLeft > 0) {
            static const int kPauses[] = {0, 5, 20, 60, 150, 400, 900};
            FTimer.start(kPauses[FRandom() % 7]);
        }
    }
    int FLeft;
    bool FPlugged = true;
    std::mt19937 FRandom;
    std::function<void(bool)> FBetween;
    QTimer FTimer;
};

class UnplugStorm : public ControlFormTestBase {
  protected:
    void SetUp() override {
        ControlFormTestBase::SetUp();
        UseOwnSaveFolders();
    }
    // The end state: the camera back and previewing within 3 s of its last
    // return, no recording, no box.
    void ExpectSettled(TControlForm& form) {
        EXPECT_TRUE(QTest::qWaitFor([&] { return !form.CameraLost(); }, 3000))
            << form.ViewForm()->VideoNotice().toStdString();
        EXPECT_TRUE(form.ViewForm()->VideoNotice().isEmpty())
            << form.ViewForm()->VideoNotice().toStdString();
        EXPECT_FALSE(PanelState(form).Recording);
        ExpectPreviewRuns(form, 640, 480);
        for (const QString& box : boxes)
            ADD_FAILURE() << "box: " << box.toStdString();
    }
};

}  // namespace

TEST_F(UnplugStorm, DuringThePreview) {
    TControlForm form;
    ExpectPreviewRuns(form, 640, 480);
    TStorm storm(46, 1);
    ASSERT_TRUE(QTest::qWaitFor([&] { return storm.Done(); }, 60000));
    ExpectSettled(form);
}

TEST_F(UnplugStorm, DuringRecordings) {
    TControlForm form;
    ExpectPreviewRuns(form, 640, 480);
    // A recording started whenever the camera is back and none runs.
    TStorm storm(46, 2, [&](bool plugged) {
        if (plugged)
            QTimer::singleShot(50, &form, [&] {
                if (!form.CameraLost() && !PanelState(form).Recording && form.btnCapture->isEnabled())
                    RunHandler([&] { form.btnCapture->Click(); });
            });
    });
    ASSERT_TRUE(QTest::qWaitFor([&] { return storm.Done(); }, 90000));
    // A recording started after the camera's last return (50 ms later) has
    // started, or failed to, before it is stopped.
    QTest::qWait(100);
    ASSERT_TRUE(SettleSession(form));
    if (PanelState(form).Recording) {
        ASSERT_TRUE(ClickRecord(form));
    }
    ExpectSettled(form);
    // Every recording made that holds a frame is complete. (One cut by the
    // camera's loss before its first frame is left unindexed for now.)
    for (const QString& file : form.StripFiles()) {
        const TAviProbe p = ProbeAvi(file, true);
        const TAviStream* video = p.Stream(QStringLiteral("video"));
        if (video && video->frames > 0) {
            EXPECT_TRUE(p.Complete()) << file.toStdString() << ": " << p.Text().toStdString();
        }
    }
}

TEST_F(UnplugStorm, WhileDialogsAreOpen) {
    TControlForm form;
    ExpectPreviewRuns(form, 640, 480);
    // The device dialog open through a whole storm, then cancelled.
    std::unique_ptr<TStorm> storm;
    auto answer = WhenModal<TSelectDeviceDlg>([&](TSelectDeviceDlg* dialog) {
        storm = std::make_unique<TStorm>(23, 3);
        QTimer::singleShot(0, dialog, [&, dialog] {
            EXPECT_TRUE(QTest::qWaitFor([&] { return storm->Done(); }, 60000));
            dialog->reject();
        });
    });
    RunHandler([&] { form.actSelectDevice->Execute(); });
    EXPECT_TRUE(answer->Answered());
    // The camera back after the storm, the camera's settings page open
    // through another.
    ASSERT_TRUE(QTest::qWaitFor([&] { return !form.CameraLost(); }, 3000));
    ASSERT_TRUE(SettleSession(form));
    auto page = WhenModalNamed(QStringLiteral("PropertyFrame"), [&](QWidget* frame) {
        storm = std::make_unique<TStorm>(23, 4);
        QTimer::singleShot(0, frame, [&, frame] {
            EXPECT_TRUE(QTest::qWaitFor([&] { return storm->Done(); }, 60000));
            frame->close();
        });
    });
    RunHandler([&] { form.actVideoFilter->Execute(); });
    EXPECT_TRUE(page->Answered());
    ExpectSettled(form);
}

TEST_F(UnplugStorm, WhileTheFolderDialogIsOpenDuringARecording) {
    TControlForm form;
    ExpectPreviewRuns(form, 640, 480);
    ASSERT_TRUE(ClickRecord(form));
    ASSERT_TRUE(PanelState(form).Recording) << FirstBox();
    // A frame in the file before the storm: the recording has something to
    // keep.
    ASSERT_TRUE(QTest::qWaitFor([&] { return QFileInfo(VideoFile(1)).size() > 640 * 480 * 2; },
                                5000));
    // The folder dialog stays usable while recording; the storm ends the
    // recording under it.
    std::unique_ptr<TStorm> storm;
    auto answer = WhenModal<TSaveFolderDlg>([&](TSaveFolderDlg* dialog) {
        storm = std::make_unique<TStorm>(23, 5);
        QTimer::singleShot(0, dialog, [&, dialog] {
            EXPECT_TRUE(QTest::qWaitFor([&] { return storm->Done(); }, 60000));
            dialog->reject();
        });
    });
    RunHandler([&] { form.actFolderConfig->Execute(); });
    EXPECT_TRUE(answer->Answered());
    ExpectSettled(form);
    // The recording the storm ended is finished on the file thread.
    ASSERT_TRUE(SettleSession(form));
    ASSERT_FALSE(form.StripFiles().isEmpty());
    EXPECT_TRUE(ProbeAvi(VideoFile(1), false).Complete());
}
