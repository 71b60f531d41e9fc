// SPDX-License-Identifier: GPL-3.0-or-later
// The control panel's recording: the record button records the live picture,
// with the microphone's sound when asked, through the chosen compressors
// into the next numbered AVI file of the video folder while the preview goes
// on; a second click ends it, the graph is rebuilt for preview in the same
// capture format and the new file joins the strip (and goes to the mail
// program when the capture-and-mail action started the recording).
#include <QTimer>
#include <exception>
#include <stdexcept>

#include "widgets/ActionList.h"
#include "app/Application.h"
#include "widgets/ImageButton.h"
#include "files/TextConv.h"
#include "frmControl.h"
#include "capture/CameraWatch.h"
#include "capture/RecordingOutcome.h"
#include "capture/RecordingSession.h"
#include "media/Filter.h"
#include "media/FilterGraph.h"
#include "media/MediaTypes.h"
#include "media/MediaUtil.h"
#include "media/VideoWindow.h"

using namespace media;

namespace {

QString FailureText(const std::exception_ptr& failure) {
    try {
        std::rethrow_exception(failure);
    } catch (const std::exception& e) {
        return QString::fromUtf8(e.what());
    } catch (...) {
        return UiText("Messages", "Erreur inconnue");
    }
}

// A start that failed because the camera went meanwhile (a camera unplugged
// as the record button is pressed): the lost-camera handling says so.
struct ECameraGoneAtStart {};

}  // namespace

void TControlForm::btnCaptureClick(QObject*) {
    if (btnCapture->Tag == 0)
        StartRecording();
    else if (btnCapture->Tag == 1)
        StopRecording();
}

void TControlForm::StartRecording() {
    FPreviewErrorReported = false;
    try {
        btnCapture->Tag = 1;
        actCaptureStart->Execute();
        ShowRecordState(true);
        btnCapture->SetHint(UiText("ControlPanel", "Stop"));
    } catch (...) {
        // The session has taken back what the start connected and the
        // preview runs again; the panel says it previews.
        const std::exception_ptr failure = std::current_exception();
        Timer->stop();
        btnCapture->Tag = 0;
        FMailAfterCapture = false;
        ShowRecordState(false);
        btnCapture->SetHint(UiText("ControlPanel", "Enregistrement"));
        try {
            std::rethrow_exception(failure);
        } catch (const ECameraGoneAtStart&) {
            LoseCamera();
        } catch (...) {
            ShowException(UiText("ControlPanel", "L'enregistrement n'a pas pu commencer.") +
                          QStringLiteral("\n\n") + FailureText(failure));
        }
    }
}

void TControlForm::actCapAndMailExecute(QObject*) {
    FMailAfterCapture = true;
    StartRecording();
}

void TControlForm::StopRecording() {
    btnCapture->Tag = 0;
    ShowRecordState(false);
    // The hint follows the flag, also when the preview could not be rebuilt.
    RunHandler([this] { actCaptureStop->Execute(); });
    btnCapture->SetHint(UiText("ControlPanel", "Enregistrement"));
}

void TControlForm::actCaptureStartExecute(QObject*) {
    const QString path = NextFileName(false, QStringLiteral("video"), QStringLiteral("avi"));
    std::optional<TMediaType> format = SaveVideoMediaType();
    const TRecordingResult result = FRecording->Start(
        path, TRecordingOptions{FVideoCompress, FAudioCompress, FUseAudio}, format);
    if (!result.Ok() &&
        TCameraWatch::CameraPosition(VideoSourceFilter->BaseFilter()) == -1) {
        // The preview's rebuilding used the capture format up: the camera
        // comes back in it all the same.
        FRecording->KeepFormat(std::move(format));
        throw ECameraGoneAtStart{};
    }
    // A preview that could not be built again after a failed start is
    // reported on its own, before the start's failure.
    if (result.PreviewFailure)
        RunHandler([&] { std::rethrow_exception(result.PreviewFailure); });
    if (!result.Ok())
        throw std::runtime_error(result.Error.toStdString());
    Timer->start();
}

void TControlForm::actCaptureStopExecute(QObject*) {
    Timer->stop();
    const TRecordingResult result = FRecording->Stop();
    // What the user is told: why the recording ended before the record
    // button ended it, or that the stop could not complete the file. A
    // recording ended by the camera's loss is not: the preview's notice says
    // what happened, and the file is finished all the same.
    if (!result.Message.isEmpty() && !FCameraWatch->Losing())
        ShowMessageBox(this, result.Message, QString::fromLatin1(kApplicationTitle),
                       QMessageBox::Warning);
    // The file joins the strip only when it plays, and a recording started
    // by the capture-and-mail action goes to the mail program only then.
    const bool mail = FMailAfterCapture;
    FMailAfterCapture = false;
    if (result.Complete) {
        AddToStrip(result.Path);
        if (mail)
            SendMail(QStringLiteral("Video Mail"), result.Path);
    }
    if (result.PreviewFailure)
        std::rethrow_exception(result.PreviewFailure);
}

void TControlForm::WatchGraphErrors() {
    CaptureGraph->OnGraphErrorAbort = [this](TFilterGraph*, intptr_t error, intptr_t) {
        GraphErrorAbort(HRESULT(error));
    };
}

void TControlForm::GraphErrorAbort(HRESULT error) {
    // A lost camera or microphone is handled as such (its notice comes
    // first and releases the graph, whose errors then go unheard).
    if (FDestroyed || FCameraWatch->Lost() || FCameraWatch->Losing())
        return;
    if (btnCapture->Tag == 1) {
        // The first error ends the recording as the record button would:
        // the preview goes on, the file is finished, and the user is told why.
        if (FRecording->Fail(error))
            StopRecording();
        return;
    }
    // During the preview: reported once, and the preview rebuilt on a new
    // graph in the format it had, rather than left frozen; another failure
    // of the rebuilt one is not reported again until a recording starts.
    if (FPreviewErrorReported || !CaptureGraph->Active())
        return;
    FPreviewErrorReported = true;
    RunHandler([this] {
        FRecording->KeepFormat(SaveVideoMediaType());
        try {
            CaptureGraph->StopGraph();
        } catch (...) {
        }
        CaptureGraph->SetActive(false);
        CaptureGraph->SetActive(true);
        SetPreview(true);
    });
    ShowMessageBox(this,
                   UiText("Messages",
                          "L'image de la caméra s'est arrêtée : %1\n\n"
                          "L'aperçu a été relancé.")
                       .arg(RecordingFailureReason(FAILED(error) ? error : E_FAIL,
                                                   FVideoFolder + QStringLiteral("/"))),
                   QString::fromLatin1(kApplicationTitle), QMessageBox::Warning);
}
