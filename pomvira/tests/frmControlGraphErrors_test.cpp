// SPDX-License-Identifier: GPL-3.0-or-later
// The control panel and graph errors, against the recording fake of the media
// framework: an error while recording ends the recording once, with one
// message; an error while previewing is reported once and the preview
// rebuilt; a stop that could not complete the file is said, and a file that
// does not play stays out of the strip and the mail.
#include <QFile>
#include <QLabel>
#include <QTest>
#include <QTimer>
#include <gtest/gtest.h>

#include "widgets/ActionList.h"
#include "ControlFormTesting.h"
#include "widgets/ImageButton.h"
#include "MailerStandIn.h"
#include "forms/frmControl.h"
#include "forms/frmView.h"
#include "media/fake/FakeMedia.h"

using namespace media;
using namespace media::fake;

namespace {

class GraphErrorsTest : public ControlFormTestBase {
  protected:
    void SetUp() override {
        ControlFormTestBase::SetUp();
        UseOwnSaveFolders();
        sys.AddVideoDevice("Cam", {VideoFormat(MEDIASUBTYPE_YUY2, 640, 480, 16)});
        sys.AddAudioDevice("Mic", {AudioFormat(44100, 16, 2)});
    }
    // Errors as the graph announces them, handled as the event loop would.
    void PostErrors(std::initializer_list<HRESULT> errors) {
        for (HRESULT e : errors)
            sys.Graph()->PostEvent(EC_ERRORABORT, e, 0);
        QCoreApplication::sendPostedEvents();
    }
    static void ExpectPreviewing(TControlForm& form) {
        EXPECT_FALSE(PanelState(form).Recording);
        EXPECT_FALSE(form.Timer->isActive());
        EXPECT_EQ(form.ViewForm()->lblStatus->text(), "( Preview )");
        EXPECT_EQ(form.btnCapture->Hint(), "Enregistrement");
    }

    FakeMediaSystem sys;  // before the form: outlives it
};

}  // namespace

// The writer fails, and the sources' stream errors follow: the recording ends
// once, the message gives the first reason, and a file that holds nothing
// playable is neither in the strip nor mailed.
TEST_F(GraphErrorsTest, ARecordingEndsOnceAtItsFirstErrorAndAnUnplayableFileIsNotKept) {
    TMailerStandIn mailer;
    TControlForm form;
    ASSERT_TRUE(SettleSession(form));
    ASSERT_TRUE(boxes.empty()) << FirstBox();
    form.actCapAndMail->Execute();
    ASSERT_TRUE(SettleSession(form));
    ASSERT_TRUE(PanelState(form).Recording);
    // What the multiplexer wrote before the disk filled: not even a header.
    QFile::resize(VideoFile(1), 0);
    sys.Log().Clear();
    PostErrors({HResultFromWin32(ERROR_DISK_FULL), VFW_E_RUNTIME_ERROR, VFW_E_RUNTIME_ERROR});
    ASSERT_TRUE(SettleSession(form));
    ExpectPreviewing(form);
    EXPECT_EQ(sys.Log().Count("Graph.Stop"), 1) << sys.Log().Text();
    EXPECT_EQ(sys.Graph()->State(), State_Running);
    ASSERT_EQ(boxes.size(), 1u) << boxes.back().toStdString();
    EXPECT_TRUE(boxes[0].startsWith("L'enregistrement s'est arrêté : le disque est plein."))
        << FirstBox();
    EXPECT_TRUE(boxes[0].contains(VideoFile(1))) << FirstBox();
    EXPECT_TRUE(form.StripFiles().isEmpty());
    EXPECT_TRUE(mailer.Mails().empty());
    EXPECT_FALSE(QFile::exists(VideoFile(1)));

    // The next recording is not cut short by what was said of the last one.
    boxes.clear();
    form.btnCapture->Click();
    ASSERT_TRUE(SettleSession(form));
    ASSERT_TRUE(PanelState(form).Recording);
    form.btnCapture->Click();
    ASSERT_TRUE(SettleSession(form));
    EXPECT_TRUE(boxes.empty()) << FirstBox();
}

// A stop whose file could not be completed does not file it as good.
TEST_F(GraphErrorsTest, AStopThatCouldNotCompleteTheFileSaysSo) {
    TControlForm form;
    ASSERT_TRUE(SettleSession(form));
    form.btnCapture->Click();
    ASSERT_TRUE(SettleSession(form));
    ASSERT_TRUE(PanelState(form).Recording);
    QFile::resize(VideoFile(1), 0);
    sys.SetResult("Graph.Stop", VFW_E_TIMEOUT, 1);
    form.btnCapture->Click();
    ASSERT_TRUE(SettleSession(form));
    ExpectPreviewing(form);
    ASSERT_EQ(boxes.size(), 1u) << FirstBox();
    EXPECT_TRUE(
        boxes[0].startsWith("L'arrêt de l'enregistrement a échoué : l'arrêt a pris trop "
                            "de temps."))
        << FirstBox();
    EXPECT_TRUE(form.StripFiles().isEmpty());
}

// An error while previewing: said once, the preview rebuilt on a new graph;
// the rebuilt preview failing again is not said again.
TEST_F(GraphErrorsTest, APreviewErrorIsReportedOnceAndThePreviewRebuilt) {
    TControlForm form;
    ASSERT_TRUE(SettleSession(form));
    ASSERT_TRUE(boxes.empty()) << FirstBox();
    sys.Log().Clear();
    PostErrors({VFW_E_RUNTIME_ERROR});
    ASSERT_TRUE(SettleSession(form));
    ASSERT_EQ(boxes.size(), 1u);
    EXPECT_TRUE(boxes[0].startsWith("L'image de la caméra s'est arrêtée : ")) << FirstBox();
    EXPECT_TRUE(boxes[0].endsWith("L'aperçu a été relancé.")) << FirstBox();
    EXPECT_TRUE(
        sys.Log().InOrder({"Graph.Halt", "System.CoCreateInstance(FilterGraph)", "Graph.Run"}))
        << sys.Log().Text();
    EXPECT_EQ(sys.Graph()->State(), State_Running);
    ExpectPreviewing(form);

    PostErrors({VFW_E_RUNTIME_ERROR});

    ASSERT_TRUE(SettleSession(form));
    EXPECT_EQ(boxes.size(), 1u);
}
