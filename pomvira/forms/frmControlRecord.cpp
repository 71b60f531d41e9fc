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

}  // namespace

void TControlForm::btnCaptureClick(QObject*) {
    if (btnCapture->Tag == 0)
        StartRecording();
    else if (btnCapture->Tag == 1)
        StopRecording();
}

void TControlForm::StartRecording() {
    try {
        btnCapture->Tag = 1;
        actCaptureStart->Execute();
        ShowRecordState(true);
        btnCapture->SetHint(UiText("ControlPanel", "Stop"));
    } catch (...) {
        // The session has taken back what the start connected and the
        // preview runs again; the panel says it previews.
        const QString reason = FailureText(std::current_exception());
        Timer->stop();
        btnCapture->Tag = 0;
        FMailAfterCapture = false;
        ShowRecordState(false);
        btnCapture->SetHint(UiText("ControlPanel", "Enregistrement"));
        ShowException(UiText("ControlPanel", "L'enregistrement n'a pas pu commencer.") +
                      QStringLiteral("\n\n") + reason);
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
    const TRecordingResult result = FRecording->Start(
        path, TRecordingOptions{FVideoCompress, FAudioCompress, FUseAudio}, SaveVideoMediaType());
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
    // A recording started by the capture-and-mail action goes to the mail
    // program once it is in the strip.
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
