// SPDX-License-Identifier: GPL-3.0-or-later
// Recording against the recording fake of the media framework: the order of
// the graph calls of the start and the stop, the panel's states while
// previewing and recording, the actions that recording disables, the
// compressors, and what happens when a start or a stop goes wrong.
#include <QDir>
#include <QFile>
#include <QFileInfo>
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

class RecordingTest : public ControlFormTestBase {
  protected:
    void SetUp() override {
        ControlFormTestBase::SetUp();
        UseOwnSaveFolders();
    }
    void AddCamera() {
        sys.AddVideoDevice("Cam", {VideoFormat(MEDIASUBTYPE_YUY2, 640, 480, 16),
                                   VideoFormat(MEDIASUBTYPE_YUY2, 320, 240, 16)});
    }
    void AddMicrophone() { sys.AddAudioDevice("Mic", {AudioFormat(44100, 16, 2)}); }
    std::string SetOutput(int n) const {
        return "Builder.SetOutputFileName(Avi, " + VideoFile(n).toStdString() + ")";
    }

    // What the panel shows and how it gates its actions.
    struct TLook {
        bool recording, timer;
        QString status, hint;
    };
    static TLook Look(TControlForm& form) {
        return {PanelState(form).Recording, form.Timer->isActive(), form.ViewForm()->lblStatus->text(),
                form.btnCapture->Hint()};
    }
    static void ExpectPreviewing(TControlForm& form) {
        const TLook look = Look(form);
        EXPECT_FALSE(look.recording);
        EXPECT_FALSE(look.timer);
        EXPECT_EQ(look.status, "( Preview )");
        EXPECT_EQ(look.hint, "Enregistrement");
    }
    static std::vector<TAction*> Gated(TControlForm& f) {
        return {f.actSnapShot,    f.actVideoFilter,  f.actVideoPin,
                f.actAudioFilter, f.actCompress,     f.actCapAndMail,
                f.actSendMail,    f.actSelectDevice, f.actAudioFormat};
    }
    static std::vector<TAction*> NeverGated(TControlForm& f) {
        return {f.actMinimize, f.actClose,  f.actPrevBmp, f.actNextBmp,     f.actBmpDelete,
                f.actBmpClear, f.actExpand, f.actBmpEdit, f.actFolderConfig};
    }
    // The preview path of a new graph that runs.
    ::testing::AssertionResult PreviewRebuilt(size_t from) {
        std::vector<std::string> tail(sys.Log().Entries().begin() + long(from),
                                      sys.Log().Entries().end());
        CallLog rest;
        for (auto& entry : tail)
            rest.Add(entry);
        if (!rest.InOrder({"System.CoCreateInstance(FilterGraph)",
                           "Graph.AddFilter(VideoSourceFilter)",
                           std::string("Pin[Cam/Capture].SetFormat(") + k640 + ")",
                           "Builder.RenderStream(PREVIEW, Filter[Cam], Filter[Grabber], "
                           "Filter[Renderer])",
                           "Graph.Run"}))
            return ::testing::AssertionFailure() << rest.Text();
        if (sys.Graph()->State() != State_Running)
            return ::testing::AssertionFailure() << "the new graph does not run";
        for (const char* gone : {"AVI Mux", "File Writer"})
            if (sys.Graph()->HasFilter(gone))
                return ::testing::AssertionFailure() << gone << " is still in the graph";
        return ::testing::AssertionSuccess();
    }

    FakeMediaSystem sys;  // before the form: outlives it
};

}  // namespace

TEST_F(RecordingTest, StartAndStopRunTheirStepsInOrderAndDisableWhatNeedsTheCamera) {
    AddCamera();
    AddMicrophone();
    TControlForm form;
    ASSERT_TRUE(SettleSession(form));
    ASSERT_TRUE(boxes.empty()) << FirstBox();
    ExpectPreviewing(form);
    form.ActionList->UpdateActions();
    EXPECT_TRUE(form.actUseAudio->Checked());
    EXPECT_TRUE(form.actUseAudio->Enabled());

    sys.Log().Clear();
    form.btnCapture->Click();
    ASSERT_TRUE(SettleSession(form));
    ASSERT_TRUE(boxes.empty()) << FirstBox();
    const CallLog& log = sys.Log();
    EXPECT_TRUE(log.InOrder({
        "Pin[Cam/Capture].GetFormat",  // the capture format, kept
        "Graph.Stop",
        SetOutput(1),
        "Builder.RenderStream(PREVIEW, Filter[Cam], null, Filter[Renderer])",
        "Builder.RenderStream(CAPTURE, Filter[Cam], null, Filter[AVI Mux])",
        "Builder.RenderStream(null, Filter[Mic], null, Filter[AVI Mux])",
        "Graph.Run",
    })) << log.Text();
    // The preview path stays connected: nothing is taken down to record.
    EXPECT_TRUE(log.Matching("Graph.RemoveFilter").empty()) << log.Text();
    EXPECT_TRUE(log.Matching("Pin[Cam/Preview].Disconnect").empty()) << log.Text();
    EXPECT_NE(sys.Filter("Cam")->Pin("Capture")->Peer(), nullptr);
    EXPECT_NE(sys.Filter("Mic")->Pin("Capture")->Peer(), nullptr);

    TLook look = Look(form);
    EXPECT_TRUE(look.recording);
    EXPECT_TRUE(look.timer);
    EXPECT_EQ(form.Timer->interval(), 100);
    EXPECT_EQ(look.status, "( Record )");
    EXPECT_EQ(look.hint, "Stop");
    sys.Graph()->SetPosition(31230000);  // 3.123 s
    EXPECT_TRUE(QTest::qWaitFor(
        [&] { return form.ViewForm()->lblStatus->text() == "(Record : 0:0:3:123)"; }, 2000))
        << form.ViewForm()->lblStatus->text().toStdString();

    // Nine actions and the sound switch are disabled; the rest stay.
    form.ActionList->UpdateActions();
    for (TAction* a : Gated(form))
        EXPECT_FALSE(a->Enabled()) << a->objectName().toStdString();
    for (TAction* a : NeverGated(form))
        EXPECT_TRUE(a->Enabled()) << a->objectName().toStdString();
    EXPECT_FALSE(form.actUseAudio->Enabled());
    EXPECT_TRUE(form.actUseAudio->Checked());
    // The switch changes nothing while the recording runs, even when
    // executed (a menu is not the only way).
    EXPECT_FALSE(form.actUseAudio->Execute());

    sys.Log().Clear();
    form.btnCapture->Click();
    ASSERT_TRUE(SettleSession(form));
    ASSERT_TRUE(boxes.empty()) << FirstBox();
    // Stopped (the file completed) before the graph is released.
    EXPECT_TRUE(
        log.InOrder({"Graph.Stop", "Graph.RemoveFilter(VideoSourceFilter)", "ROT.Revoke(1)"}))
        << log.Text();
    EXPECT_TRUE(PreviewRebuilt(0));
    ExpectPreviewing(form);
    // The file is the selected last entry of the strip, the panel expanded.
    EXPECT_EQ(form.StripFiles(), QStringList{VideoFile(1)});
    EXPECT_EQ(form.SelectedFile(), VideoFile(1));
    EXPECT_TRUE(PanelState(form).Expanded);
    form.ActionList->UpdateActions();
    for (TAction* a : Gated(form))
        EXPECT_TRUE(a->Enabled()) << a->objectName().toStdString();
    EXPECT_TRUE(form.actUseAudio->Enabled());
}

TEST_F(RecordingTest, NamesCountFromOneAndFillGapsAndSoundOffRecordsThePictureAlone) {
    AddCamera();
    AddMicrophone();
    QFile(VideoFile(1)).open(QIODevice::WriteOnly);
    QFile(VideoFile(3)).open(QIODevice::WriteOnly);
    TControlForm form;
    ASSERT_TRUE(SettleSession(form));
    form.actUseAudio->Execute();
    EXPECT_FALSE(PanelState(form).UseAudio);
    sys.Log().Clear();
    form.btnCapture->Click();
    ASSERT_TRUE(SettleSession(form));
    EXPECT_TRUE(sys.Log().Contains(SetOutput(2))) << sys.Log().Text();
    EXPECT_TRUE(sys.Log().Matching("Builder.RenderStream(null, Filter[Mic]").empty());
    EXPECT_EQ(sys.Filter("Mic")->Pin("Capture")->Peer(), nullptr);
    form.btnCapture->Click();
    ASSERT_TRUE(SettleSession(form));
    form.btnCapture->Click();
    ASSERT_TRUE(SettleSession(form));
    EXPECT_TRUE(sys.Log().Contains(SetOutput(4))) << sys.Log().Text();
    form.btnCapture->Click();
    ASSERT_TRUE(SettleSession(form));
    EXPECT_EQ(form.StripFiles(), QStringList({VideoFile(2), VideoFile(4)}));
    EXPECT_TRUE(boxes.empty()) << FirstBox();
}

TEST_F(RecordingTest, ChosenCompressorsSitBetweenTheSourcesAndTheMultiplexer) {
    AddCamera();
    AddMicrophone();
    sys.AddCompressor(CLSID_VideoCompressorCategory, "Video A");
    sys.AddCompressor(CLSID_VideoCompressorCategory, "Video B");
    sys.AddCompressor(CLSID_AudioCompressorCategory, "Audio A");
    Ini().WriteInteger("CAPTURE", "VIDEO COMPRESS", 1);
    Ini().WriteInteger("CAPTURE", "AUDIO COMPRESS", 0);
    TControlForm form;
    ASSERT_TRUE(SettleSession(form));
    sys.Log().Clear();
    form.btnCapture->Click();
    ASSERT_TRUE(SettleSession(form));
    const CallLog& log = sys.Log();
    EXPECT_TRUE(log.InOrder({
        SetOutput(1),
        "Graph.AddFilter(Video B)",
        "Builder.RenderStream(null, Filter[Cam], Filter[Video B], Filter[AVI Mux])",
        "Graph.AddFilter(Audio A)",
        "Builder.RenderStream(null, Filter[Mic], Filter[Audio A], Filter[AVI Mux])",
        // Tried, but the capture outputs are taken.
        "Builder.RenderStream(CAPTURE, Filter[Cam], null, Filter[AVI Mux])",
        "Graph.Run",
    })) << log.Text();
    EXPECT_EQ(sys.Filter("Cam")->Pin("Capture")->Peer(), sys.Filter("Video B")->Pin("Input"));
    EXPECT_EQ(sys.Filter("Mic")->Pin("Capture")->Peer(), sys.Filter("Audio A")->Pin("Input"));
    EXPECT_EQ(sys.Filter("Video B")->Pin("Output")->Peer()->Owner()->Name(), "AVI Mux");
    form.btnCapture->Click();
    ASSERT_TRUE(SettleSession(form));
    EXPECT_FALSE(sys.Graph()->HasFilter("Video B"));

    // Sound off: no audio compressor either.
    form.actUseAudio->Execute();
    sys.Log().Clear();
    form.btnCapture->Click();
    ASSERT_TRUE(SettleSession(form));
    EXPECT_TRUE(log.Contains("Graph.AddFilter(Video B)"));
    EXPECT_FALSE(log.Contains("Graph.AddFilter(Audio A)")) << log.Text();
    form.btnCapture->Click();
    ASSERT_TRUE(SettleSession(form));
    EXPECT_TRUE(boxes.empty()) << FirstBox();
}

// Compressors are kept as positions in the system's list, which is read
// again at every start of a recording: an encoder installed or removed while
// the program runs (or between two runs) moves the position onto another
// encoder, or past the end of the list; either way the recording is made.
TEST_F(RecordingTest, StoredCompressorIsAPositionInTheListAsItIsAtEachStart) {
    AddCamera();
    sys.AddCompressor(CLSID_VideoCompressorCategory, "Video A");
    sys.AddCompressor(CLSID_VideoCompressorCategory, "Video C");
    Ini().WriteInteger("CAPTURE", "VIDEO COMPRESS", 1);
    TControlForm form;
    ASSERT_TRUE(SettleSession(form));
    const CallLog& log = sys.Log();
    auto record = [&] {
        sys.Log().Clear();
        form.btnCapture->Click();
        ASSERT_TRUE(SettleSession(form));
        EXPECT_TRUE(PanelState(form).Recording);
        form.btnCapture->Click();
        ASSERT_TRUE(SettleSession(form));
        EXPECT_TRUE(boxes.empty()) << FirstBox();
    };
    record();
    EXPECT_TRUE(log.Contains("Graph.AddFilter(Video C)")) << log.Text();

    // An encoder installed ahead of it takes its position.
    sys.RemoveDevices(CLSID_VideoCompressorCategory);
    for (const char* name : {"Video A", "Video B", "Video C"})
        sys.AddCompressor(CLSID_VideoCompressorCategory, name);
    record();
    EXPECT_TRUE(log.Contains("Graph.AddFilter(Video B)")) << log.Text();
    EXPECT_FALSE(log.Contains("Graph.AddFilter(Video C)")) << log.Text();
    EXPECT_EQ(PanelState(form).VideoCompress, 1);

    // Encoders removed, the position past the end: the camera's own stream.
    sys.RemoveDevices(CLSID_VideoCompressorCategory);
    sys.AddCompressor(CLSID_VideoCompressorCategory, "Video A");
    record();
    for (const char* name : {"Video A", "Video B", "Video C"})
        EXPECT_FALSE(log.Contains(std::string("Graph.AddFilter(") + name + ")")) << log.Text();
    EXPECT_TRUE(log.Contains("Builder.RenderStream(CAPTURE, Filter[Cam], null, Filter[AVI Mux])"))
        << log.Text();
    // Still the stored choice: an encoder installed again brings it back.
    EXPECT_EQ(PanelState(form).VideoCompress, 1);
    EXPECT_EQ(form.StripFiles().size(), 3);
}

TEST_F(RecordingTest, SoundAskedForWithoutMicrophoneRecordsThePictureAlone) {
    AddCamera();
    sys.AddCompressor(CLSID_AudioCompressorCategory, "Audio A");
    Ini().WriteInteger("CAPTURE", "AUDIO COMPRESS", 0);
    TControlForm form;
    ASSERT_TRUE(SettleSession(form));
    ASSERT_TRUE(PanelState(form).UseAudio);
    ASSERT_EQ(PanelState(form).AudioDevice, -1);
    sys.Log().Clear();
    form.btnCapture->Click();
    ASSERT_TRUE(SettleSession(form));
    EXPECT_TRUE(boxes.empty()) << FirstBox();
    EXPECT_TRUE(PanelState(form).Recording);
    EXPECT_EQ(Look(form).hint, "Stop");
    EXPECT_TRUE(
        sys.Log().Contains("Builder.RenderStream(CAPTURE, Filter[Cam], null, Filter[AVI Mux])"));
    EXPECT_FALSE(sys.Log().Contains("Graph.AddFilter(Audio A)")) << sys.Log().Text();
    EXPECT_EQ(sys.Graph()->State(), State_Running);
    form.btnCapture->Click();
    ASSERT_TRUE(SettleSession(form));
    EXPECT_EQ(form.StripFiles(), QStringList{VideoFile(1)});
}

TEST_F(RecordingTest, StartThatFailsIsReportedTakenBackAndThePreviewRunsAgain) {
    AddCamera();
    AddMicrophone();
    TControlForm form;
    ASSERT_TRUE(SettleSession(form));
    // The run of the recording graph is refused; the preview's is not.
    sys.SetResult("Graph.Run", E_FAIL, 1);
    sys.Log().Clear();
    form.btnCapture->Click();
    ASSERT_TRUE(SettleSession(form));
    ASSERT_EQ(boxes.size(), 1u);
    EXPECT_TRUE(boxes[0].startsWith("L'enregistrement n'a pas pu commencer.")) << FirstBox();
    EXPECT_TRUE(boxes[0].contains("Unspecified error")) << FirstBox();
    const size_t failed = size_t(sys.Log().IndexOf("Graph.Run"));
    EXPECT_TRUE(PreviewRebuilt(failed + 1));
    ExpectPreviewing(form);
    EXPECT_TRUE(form.StripFiles().isEmpty());
    EXPECT_FALSE(QFile::exists(VideoFile(1)));

    // A multiplexer that cannot be made: nothing to record into.
    boxes.clear();
    sys.SetResult("Builder.SetOutputFileName", E_FAIL, 1);
    form.btnCapture->Click();
    ASSERT_TRUE(SettleSession(form));
    ASSERT_EQ(boxes.size(), 1u);
    ExpectPreviewing(form);

    // The next start records as usual, under the name that was never used.
    boxes.clear();
    form.btnCapture->Click();
    ASSERT_TRUE(SettleSession(form));
    EXPECT_TRUE(PanelState(form).Recording);
    form.btnCapture->Click();
    ASSERT_TRUE(SettleSession(form));
    EXPECT_TRUE(boxes.empty()) << FirstBox();
    EXPECT_EQ(form.StripFiles(), QStringList{VideoFile(1)});
}

TEST_F(RecordingTest, StartWithNothingReachingTheMultiplexerIsAFailure) {
    AddCamera();
    TControlForm form;
    ASSERT_TRUE(SettleSession(form));
    // Both video connections of the start fail (there is no microphone).
    sys.SetResult("Builder.RenderStream", E_FAIL, 2);
    sys.Log().Clear();
    form.btnCapture->Click();
    ASSERT_TRUE(SettleSession(form));
    ASSERT_EQ(boxes.size(), 1u);
    ExpectPreviewing(form);
    EXPECT_TRUE(PreviewRebuilt(size_t(sys.Log().IndexOf("System.CoCreateInstance(FilterGraph)"))));
}

TEST_F(RecordingTest, StopWhosePreviewCannotRunStillKeepsTheRecording) {
    AddCamera();
    TControlForm form;
    ASSERT_TRUE(SettleSession(form));
    form.btnCapture->Click();
    ASSERT_TRUE(SettleSession(form));
    sys.SetResult("Graph.Run", E_FAIL, 1);
    form.btnCapture->Click();
    ASSERT_TRUE(SettleSession(form));
    ASSERT_EQ(boxes.size(), 1u);
    EXPECT_TRUE(boxes[0].contains("Unspecified error")) << FirstBox();
    ExpectPreviewing(form);
    EXPECT_EQ(form.StripFiles(), QStringList{VideoFile(1)});
}

TEST_F(RecordingTest, QuittingWhileRecordingStopsTheGraphBeforeTakingItDown) {
    AddCamera();
    AddMicrophone();
    {
        TControlForm form;
        ASSERT_TRUE(SettleSession(form));
        form.btnCapture->Click();
        ASSERT_TRUE(SettleSession(form));
        sys.Log().Clear();
    }
    EXPECT_TRUE(sys.Log().InOrder(
        {"Graph.Stop", "Graph.RemoveFilter(AVI Mux)", "Graph.RemoveFilter(File Writer)"}))
        << sys.Log().Text();
    EXPECT_EQ(sys.Log().IndexOf("Graph.Run"), -1);
}

TEST_F(RecordingTest, CaptureAndMailRecordsAsUsualThenMailsTheNewFile) {
    AddCamera();
    AddMicrophone();
    TMailerStandIn mailer;
    TControlForm form;
    ASSERT_TRUE(SettleSession(form));
    form.actCapAndMail->Execute();
    ASSERT_TRUE(SettleSession(form));
    ASSERT_TRUE(boxes.empty()) << FirstBox();
    const TLook look = Look(form);
    EXPECT_TRUE(look.recording);
    EXPECT_TRUE(look.timer);
    EXPECT_EQ(look.status, "( Record )");
    EXPECT_EQ(look.hint, "Stop");
    EXPECT_TRUE(mailer.Mails().empty());

    form.btnCapture->Click();
    ASSERT_TRUE(SettleSession(form));
    ExpectPreviewing(form);
    EXPECT_EQ(form.StripFiles(), QStringList{VideoFile(1)});
    const auto mails = mailer.Mails();
    ASSERT_EQ(mails.size(), 1u);
    EXPECT_EQ(mails[0].Subject, "Video Mail");
    EXPECT_EQ(mails[0].Attachments, QStringList{QFileInfo(VideoFile(1)).canonicalFilePath()});
    // The next recording, from the record button, is not mailed.
    form.btnCapture->Click();
    ASSERT_TRUE(SettleSession(form));
    form.btnCapture->Click();
    ASSERT_TRUE(SettleSession(form));
    EXPECT_EQ(form.StripFiles().size(), 2);
    EXPECT_EQ(mailer.Mails().size(), 1u);
    EXPECT_TRUE(boxes.empty()) << FirstBox();
}

TEST_F(RecordingTest, CaptureAndMailMailsNothingWhenItsStartFailsOrTheProgramQuits) {
    AddCamera();
    TMailerStandIn mailer;
    {
        TControlForm form;
        ASSERT_TRUE(SettleSession(form));
        sys.SetResult("Graph.Run", E_FAIL, 1);
        form.actCapAndMail->Execute();
        ASSERT_TRUE(SettleSession(form));
        ASSERT_EQ(boxes.size(), 1u);
        ExpectPreviewing(form);
        // What the failed start asked for is forgotten.
        form.btnCapture->Click();
        ASSERT_TRUE(SettleSession(form));
        form.btnCapture->Click();
        ASSERT_TRUE(SettleSession(form));
        EXPECT_EQ(form.StripFiles(), QStringList{VideoFile(1)});
        // Quitting while a capture-and-mail recording runs.
        form.actCapAndMail->Execute();
        ASSERT_TRUE(SettleSession(form));
        EXPECT_TRUE(PanelState(form).Recording);
    }
    EXPECT_TRUE(mailer.Mails().empty());
    EXPECT_EQ(boxes.size(), 1u);
}
