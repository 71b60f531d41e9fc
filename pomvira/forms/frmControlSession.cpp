// SPDX-License-Identifier: GPL-3.0-or-later
// The control panel and its capture session: the record button, and what the
// session tells shown in the two windows. The session does the camera's
// slow work off the user-interface thread; the panel asks and shows: the
// recording look once a recording runs, "finishing" while its file is
// completed, the new file in the strip (mailed when the capture-and-mail
// action started it), the camera gone, stalled or failing to start, and the
// messages that say why a recording or the picture stopped (their words are
// made in SessionMessages).
#include <QEventLoop>
#include <algorithm>
#include <QTimer>

#include "app/Application.h"
#include "capture/CaptureSession.h"
#include "capture/MediaStrip.h"
#include "files/TextConv.h"
#include "forms/SessionMessages.h"
#include "frmControl.h"
#include "frmView.h"
#include "widgets/ActionList.h"
#include "widgets/ImageButton.h"

namespace {
// How long quitting waits for the session to complete a recording and let
// go of the devices; past it the file is left to the start-up repair.
constexpr int kCloseBoundMs = 20000;

void Warn(QWidget* owner, const QString& text) {
    ShowMessageBox(owner, text, QString::fromLatin1(kApplicationTitle), QMessageBox::Warning);
}
}  // namespace

void TControlForm::BindSession() {
    TCaptureSession* s = FSession;
    connect(s, &TCaptureSession::FrameSize, this, [this](int width, int height) {
        if (!FPlacement.Kept())
            FPlacement.FitVideo(width, height);
    });
    s->PreviewArea = [this] { return FPlacement.PreviewArea(shpNormal->height()); };
    connect(s, &TCaptureSession::StateChanged, this, &TControlForm::ShowSessionState);
    connect(s, &TCaptureSession::OperationEnded, this, &TControlForm::OperationEnded);
}

void TControlForm::UnexpectedFailure(const std::exception_ptr& failure) {
    RunHandler([&] { std::rethrow_exception(failure); });
}

void TControlForm::ShowSessionState() {
    using TActivity = TCaptureSession::TActivity;
    // The record button's Tag is the recording flag: 1 from the click that
    // asks for a recording until its stop.
    btnCapture->Tag = FSession->RecordingAsked() ? 1 : 0;
    const TActivity activity = FSession->Activity();
    if (activity != FShownActivity) {
        if (activity == TActivity::Recording) {
            FDroppedSeen = std::max(FSession->DroppedFrames(), 0);
            FDropNoticeUntilMs = -1;
            Timer->start();
            ShowRecordState(true);
            btnCapture->SetHint(UiText("ControlPanel", "Stop"));
        } else if (activity == TActivity::Stopping) {
            // Also when the session ended it (an error, the camera): the
            // recording look stays while its file is completed.
            Timer->stop();
            if (FViewForm)
                FViewForm->SetStatusText(UiText("PreviewWindow", "( Finalisation... )"));
        }
        FShownActivity = activity;
    }
    // Nothing to record without a camera, nor until its picture is back
    // (a recording that ran was stopped); the reason a recording ended is
    // shown with the notice of the camera that ended it.
    const bool flowing = !FSession->CameraLost() && !FSession->CameraStalled();
    if (flowing)
        FEndNotice.clear();
    btnCapture->setEnabled(flowing);
    SetVideoNotice();
}

void TControlForm::OperationEnded(const TOutcome& outcome) {
    using TKind = TOutcome::TKind;
    const QString message = OutcomeMessage(outcome);
    switch (outcome.Kind) {
        case TKind::PreviewFailed:
        case TKind::StillFailed:
            ShowException(message);
            break;
        case TKind::PreviewRecovered:
        case TKind::CameraUnusable:
            Warn(this, message);
            break;
        case TKind::RecordingNotStarted:
            // The session took back what the start connected and the
            // preview runs again; the panel says it previews.
            Timer->stop();
            FMailAfterCapture = false;
            ShowRecordState(false);
            btnCapture->SetHint(UiText("ControlPanel", "Enregistrement"));
            if (!message.isEmpty())
                ShowException(message);
            break;
        case TKind::RecordingStopped:
            RecordingStopped(outcome);
            break;
        case TKind::StillTaken:
            AddToStrip(outcome.File);
            break;
        case TKind::DevicesListed:
            // The preview starts before the services left out are named;
            // without a camera they are named before the program ends.
            if (outcome.Result == media::S_OK)
                DevicesListed(true);
            if (!message.isEmpty())
                Warn(this, message);
            if (outcome.Result != media::S_OK)
                DevicesListed(false);
            break;
        case TKind::PreviewStarted:
        case TKind::RecordingStarted:
        case TKind::Closed:
            break;
    }
}

void TControlForm::CloseSession() {
    if (FSession->Closed())
        return;
    // The windows keep painting meanwhile; user input waits.
    QEventLoop loop;
    connect(FSession, &TCaptureSession::StateChanged, &loop, [this, &loop] {
        if (FSession->Closed())
            loop.quit();
    });
    QTimer::singleShot(kCloseBoundMs, &loop, &QEventLoop::quit);
    FSession->Close();
    if (!FSession->Closed())
        loop.exec(QEventLoop::ExcludeUserInputEvents);
}

bool TControlForm::CameraLost() const {
    return FSession->CameraLost();
}

bool TControlForm::NeedsCamera(const TAction* action) const {
    // Without a camera there is nothing to take a picture of, to record or
    // to set up: these actions wait for one.
    return action == actSnapShot || action == actVideoFilter || action == actVideoPin ||
           action == actCapAndMail;
}

void TControlForm::btnCaptureClick(QObject*) {
    // A click while a recording starts or its file is completed is ignored.
    if (FSession->RecordingBusy())
        return;
    if (FSession->Recording())
        StopRecording();
    else
        StartRecording();
}

void TControlForm::StartRecording() {
    // The look follows once the recording runs; a start that fails says why
    // and the panel previews again.
    RunHandler([this] { actCaptureStart->Execute(); });
}

void TControlForm::actCapAndMailExecute(QObject*) {
    FMailAfterCapture = true;
    StartRecording();
}

void TControlForm::StopRecording() {
    RunHandler([this] { actCaptureStop->Execute(); });
}

void TControlForm::actCaptureStartExecute(QObject*) {
    // The next free numbered file of the video folder, chosen and made off
    // this thread.
    FSession->StartRecording(FVideoFolder,
                             TRecordingOptions{FVideoCompress, FAudioCompress, FUseAudio});
}

void TControlForm::actCaptureStopExecute(QObject*) {
    Timer->stop();
    FSession->StopRecording();
}

void TControlForm::RecordingStopped(const TOutcome& outcome) {
    ShowRecordState(false);
    btnCapture->SetHint(UiText("ControlPanel", "Enregistrement"));
    // A recording the camera or the microphone ended says so in the
    // preview's notice and in the strip; otherwise the user is told why the
    // recording ended before the record button ended it, or that the stop
    // could not complete the file.
    const QString endReason = RecordingEndReason(outcome);
    const QString message = OutcomeMessage(outcome);
    if (!endReason.isEmpty()) {
        FEndNotice = endReason;
        SetVideoNotice();
        // A sound server that hangs shows nowhere else while the camera's
        // picture goes on (an unplugged microphone the user knows of).
        if (outcome.Cause == TOutcome::TCause::MicrophoneSilent)
            Warn(this, endReason);
    } else if (!message.isEmpty()) {
        Warn(this, message);
    }
    // The file joins the strip only when it plays, and a recording started
    // by the capture-and-mail action goes to the mail program only then.
    const bool mail = FMailAfterCapture;
    FMailAfterCapture = false;
    if (!outcome.Plays())
        return;
    AddToStrip(outcome.File);
    if (!endReason.isEmpty() && FStrip) {
        FStrip->SetNoteAt(FStrip->Count() - 1, endReason);
        RefreshStrip();
    }
    if (mail)
        SendMail(QStringLiteral("Video Mail"), outcome.File);
}

void TControlForm::SetVideoNotice() {
    if (!FViewForm)
        return;
    QString notice = CameraNotice(FSession->CameraLost(), FSession->CameraStalled());
    if (!notice.isEmpty() && !FEndNotice.isEmpty())
        notice += QStringLiteral("\r\n") + FEndNotice;
    FViewForm->SetVideoNotice(notice);
}
