// SPDX-License-Identifier: GPL-3.0-or-later
// Recording tests on the real GStreamer framework: the test's own save
// folders, what a panel that previews again looks like, and the reading of
// a file for failure messages.
#pragma once

#include <string>

#include "AviProbe.h"
#include "ControlFormTesting.h"
#include "forms/frmView.h"

// The reading of a file, for failure messages.
inline std::string Why(const TAviProbe& p) {
    return p.Text().toStdString();
}

class RecordingGstTestBase : public ControlFormTestBase {
  protected:
    void SetUp() override {
        ControlFormTestBase::SetUp();
        UseOwnSaveFolders();
    }
    // Starts a recording with the record button, or by capture-and-mail;
    // fails with the first message shown when none starts.
    ::testing::AssertionResult StartRecording(TControlForm& form, bool andMail = false) {
        if (!boxes.empty())
            return ::testing::AssertionFailure() << "a message before the start: " << FirstBox();
        if (andMail)
            form.actCapAndMail->Execute();
        if (!(andMail ? SettleSession(form) : ClickRecord(form)))
            return ::testing::AssertionFailure() << "the start does not end";
        if (!PanelState(form).Recording)
            return ::testing::AssertionFailure() << "no recording: " << FirstBox();
        return ::testing::AssertionSuccess();
    }
    // The panel previews again: flag, timer, hint, status, and a moving
    // picture in the 640 x 480 format it had.
    static void ExpectPreviewing(TControlForm& form) {
        EXPECT_FALSE(PanelState(form).Recording);
        EXPECT_FALSE(form.Timer->isActive());
        EXPECT_EQ(form.btnCapture->Hint(), "Enregistrement");
        EXPECT_EQ(form.ViewForm()->lblStatus->text(), "( Preview )");
        EXPECT_EQ(PinFormatText(Probe(form).VideoSource()), k640);
        ExpectPreviewRuns(form, 640, 480);
    }
    // The file plays to its end: complete, with one video stream of more
    // than `frames` frames (counted by its chunks).
    static void ExpectPlayable(const QString& file, int frames) {
        const TAviProbe avi = ProbeAvi(file, true);
        EXPECT_TRUE(avi.Complete()) << Why(avi);
        ASSERT_EQ(avi.Count("video"), 1) << Why(avi);
        EXPECT_GT(avi.Stream("video")->frames, frames) << Why(avi);
    }
};
