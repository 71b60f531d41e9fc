// SPDX-License-Identifier: GPL-3.0-or-later
// The control panel and its capture session: the record button, and what the
// session tells shown in the two windows. The session does the camera's
// slow work off the user-interface thread; the panel asks and shows: the
// recording look once a recording runs, "finishing" while its file is
// completed, the new file in the strip (mailed when the capture-and-mail
// action started it), the camera gone, stalled or failing to start, and the
// messages that say why a recording or the picture stopped.
#include <QDeadlineTimer>
#include <QThread>
#include <QTimer>

#include "app/Application.h"
#include "capture/CaptureSession.h"
#include "capture/MediaStrip.h"
#include "files/TextConv.h"
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
    connect(s, &TCaptureSession::PreviewStarted, this, [this] { FPreviewReported = false; });
    connect(s, &TCaptureSession::PreviewFailed, this, &TControlForm::PreviewFailed);
    connect(s, &TCaptureSession::PreviewRecovered, this, [this](const QString& reason) {
        Warn(this, UiText("Messages",
                          "L'image de la caméra s'est arrêtée : %1\n\nL'aperçu a été relancé.")
                       .arg(reason));
    });
    connect(s, &TCaptureSession::RecordingStarted, this, [this] {
        Timer->start();
        ShowRecordState(true);
        btnCapture->SetHint(UiText("ControlPanel", "Stop"));
    });
    connect(s, &TCaptureSession::RecordingFailed, this, [this](const QString& reason) {
        // The session took back what the start connected and the preview
        // runs again; the panel says it previews.
        Timer->stop();
        btnCapture->Tag = 0;
        FMailAfterCapture = false;
        ShowRecordState(false);
        btnCapture->SetHint(UiText("ControlPanel", "Enregistrement"));
        if (!reason.isEmpty())
            ShowException(UiText("ControlPanel", "L'enregistrement n'a pas pu commencer.") +
                          QStringLiteral("\n\n") + reason);
    });
    connect(s, &TCaptureSession::RecordingStopping, this, [this] {
        // Also when the session ended it (an error, the camera): the
        // recording look stays while its file is completed.
        btnCapture->Tag = 0;
        Timer->stop();
        if (FViewForm)
            FViewForm->lblStatus->setText(UiText("PreviewWindow", "( Finalisation... )"));
    });
    connect(s, &TCaptureSession::RecordingStopped, this, &TControlForm::RecordingStopped);
    connect(s, &TCaptureSession::StillTaken, this, &TControlForm::AddToStrip);
    connect(s, &TCaptureSession::StillFailed, this,
            [](const QString& reason) { ShowException(reason); });
    connect(s, &TCaptureSession::CameraLostChanged, this, &TControlForm::ShowCameraLost);
    connect(s, &TCaptureSession::CameraStalledChanged, this, &TControlForm::ShowStalled);
    connect(s, &TCaptureSession::UnusableCamera, this, [this] {
        Warn(this, UiText("Messages",
                          "La caméra est branchée mais ne peut pas être ouverte : "
                          "un autre programme l'utilise peut-être.\r\n"
                          "Le programme continue d'essayer de l'ouvrir."));
    });
}

void TControlForm::CloseSession() {
    if (FSession->Closed())
        return;
    FSession->Close();
    // The event loop may have ended already (the program quits): events
    // are handled here, the windows painting, user input left waiting.
    const QDeadlineTimer bound(kCloseBoundMs);
    while (!FSession->Closed() && !bound.hasExpired()) {
        QCoreApplication::processEvents(QEventLoop::ExcludeUserInputEvents);
        QCoreApplication::sendPostedEvents();
        QThread::msleep(5);
    }
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
    if (btnCapture->Tag == 0)
        StartRecording();
    else if (btnCapture->Tag == 1)
        StopRecording();
}

void TControlForm::StartRecording() {
    // The look follows once the recording runs (RecordingStarted); a start
    // that fails says why and the panel previews again.
    btnCapture->Tag = 1;
    RunHandler([this] { actCaptureStart->Execute(); });
}

void TControlForm::actCapAndMailExecute(QObject*) {
    FMailAfterCapture = true;
    StartRecording();
}

void TControlForm::StopRecording() {
    btnCapture->Tag = 0;
    RunHandler([this] { actCaptureStop->Execute(); });
}

void TControlForm::actCaptureStartExecute(QObject*) {
    const QString path = NextFileName(false, QStringLiteral("video"), QStringLiteral("avi"));
    FSession->StartRecording(path, TRecordingOptions{FVideoCompress, FAudioCompress, FUseAudio});
}

void TControlForm::actCaptureStopExecute(QObject*) {
    Timer->stop();
    FSession->StopRecording();
}

void TControlForm::RecordingStopped(const TRecordingResult& result) {
    ShowRecordState(false);
    btnCapture->SetHint(UiText("ControlPanel", "Enregistrement"));
    // A recording the camera or the microphone ended says so in the
    // preview's notice and in the strip; otherwise the user is told why the
    // recording ended before the record button ended it, or that the stop
    // could not complete the file.
    if (!result.EndReason.isEmpty()) {
        FEndNotice = result.EndReason;
        SetVideoNotice();
    } else if (!result.Message.isEmpty()) {
        Warn(this, result.Message);
    }
    // The file joins the strip only when it plays, and a recording started
    // by the capture-and-mail action goes to the mail program only then.
    const bool mail = FMailAfterCapture;
    FMailAfterCapture = false;
    if (!result.Complete)
        return;
    AddToStrip(result.Path);
    if (!result.EndReason.isEmpty() && FStrip) {
        FStrip->SetNoteAt(FStrip->Count() - 1, result.EndReason);
        RefreshStrip();
    }
    if (mail)
        SendMail(QStringLiteral("Video Mail"), result.Path);
}

void TControlForm::PreviewFailed(const QString& reason) {
    // Said once, as a camera that cannot be opened; the session goes on
    // trying, and the preview window says so meanwhile.
    if (FPreviewReported)
        return;
    FPreviewReported = true;
    ShowException(reason);
}

void TControlForm::ShowCameraLost(bool lost) {
    if (!lost)
        FEndNotice.clear();
    SetVideoNotice();
    // Recording waits for a camera too (a recording that ran was stopped).
    btnCapture->setEnabled(!lost && !FSession->CameraStalled());
}

void TControlForm::ShowStalled(bool stalled) {
    if (!stalled)
        FEndNotice.clear();
    SetVideoNotice();
    // Nothing to record until the picture is back.
    btnCapture->setEnabled(!stalled && !FSession->CameraLost());
}

void TControlForm::SetVideoNotice() {
    if (!FViewForm)
        return;
    QString notice;
    if (FSession->CameraLost())
        notice = UiText("PreviewWindow",
                        "La caméra a été débranchée.\r\n"
                        "L'image reviendra dès qu'elle sera rebranchée.");
    else if (FSession->CameraStalled())
        notice = UiText("PreviewWindow",
                        "La caméra ne donne plus d'image.\r\n"
                        "Nouvel essai en cours...");
    if (!notice.isEmpty() && !FEndNotice.isEmpty())
        notice += QStringLiteral("\r\n") + FEndNotice;
    FViewForm->SetVideoNotice(notice);
}
