// The control panel's recording: the record button records the live picture,
// with the microphone's sound when asked, through the chosen compressors
// into the next numbered AVI file of the video folder while the preview goes
// on; a second click ends it, the graph is rebuilt for preview in the same
// capture format and the new file joins the strip (and goes to the mail
// program when the capture-and-mail action started the recording).
#include <QFile>
#include <QFileInfo>
#include <QTimer>
#include <exception>

#include "ActionList.h"
#include "Application.h"
#include "ImageButton.h"
#include "RecordingOutcome.h"
#include "TextConv.h"
#include "frmControl.h"
#include "media/Filter.h"
#include "media/FilterGraph.h"
#include "media/MediaTypes.h"
#include "media/MediaUtil.h"
#include "media/VideoWindow.h"

using namespace media;

namespace {

// The reason of a failure in the user's words: the media layer's failures
// by their result (a folder that is gone says so), others by their text.
QString FailureText(const std::exception_ptr& failure, const QString& file) {
    try {
        std::rethrow_exception(failure);
    } catch (const EDirectShowException& e) {
        const QString reason = RecordingFailureReason(e.Result(), file);
        return reason.left(1).toUpper() + reason.mid(1);
    } catch (const std::exception& e) {
        return QString::fromUtf8(e.what());
    } catch (...) {
        return QStringLiteral("Unknown error");
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
    const QString previousFile = FRecordFile;
    FRecordingFailure = S_OK;
    FPreviewErrorReported = false;
    try {
        btnCapture->Tag = 1;
        actCaptureStart->Execute();
        ShowRecordState(true);
        btnCapture->SetHint(ShownText(u"Stop"));
    } catch (...) {
        // Never a frozen preview under a panel that claims to preview: what
        // the start connected is taken back and the preview runs again.
        const QString reason = FailureText(std::current_exception(), FRecordFile);
        RunHandler([&] { AbandonStart(previousFile); });
        ShowException(ShownText(u"L'enregistrement n'a pas pu commencer.") +
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
    btnCapture->SetHint(ShownText(u"Enregistrement"));
}

void TControlForm::actCaptureStartExecute(QObject*) {
    FRecordFile = NextFileName(false, QStringLiteral("video"), QStringLiteral("avi"));
    // The capture format, for the graph rebuilt after the recording.
    if (FSavedMediaType) {
        DisposeMediaType(FSavedMediaType);
        FSavedMediaType = nullptr;
    }
    FSavedMediaType = SaveVideoMediaType();
    // The preview connections stay.
    CaptureGraph->StopGraph();

    auto builder = CaptureGraph->Get<ICaptureGraphBuilder2>();
    FMuxFilter = nullptr;
    ComPtr<IFileSinkFilter> fileSink;
    // Without a multiplexer nothing could be recorded.
    CheckGraphResult(builder->SetOutputFileName(MEDIASUBTYPE_Avi, FRecordFile.toStdU16String(),
                                                FMuxFilter.Put(), fileSink.Put()));
    fileSink = nullptr;

    // Compressors first: a compressed stream takes the source's capture
    // output, so the uncompressed connection below finds none free.
    AddCompressors();
    // The results of the connections are not checked one by one: a stream
    // that cannot be connected is recorded without its compressor, or not at
    // all, as long as something reaches the multiplexer.
    if (VideoSourceFilter->BaseFilter().DataLength() != 0) {
        builder->RenderStream(&PIN_CATEGORY_PREVIEW, nullptr,
                              VideoSourceFilter->Get<IBaseFilter>().Get(), nullptr,
                              FVideoWindow->Get<IBaseFilter>().Get());
    }
    if (VideoSourceFilter->FilterGraph()) {
        builder->RenderStream(&PIN_CATEGORY_CAPTURE, nullptr,
                              VideoSourceFilter->Get<IBaseFilter>().Get(), nullptr,
                              FMuxFilter.Get());
    }
    // Sound is recorded when asked for and a microphone is open; without
    // one the picture is recorded alone.
    if (FUseAudio && HasOpenDevice(AudioSourceFilter)) {
        builder->RenderStream(nullptr, nullptr, AudioSourceFilter->Get<IBaseFilter>().Get(),
                              nullptr, FMuxFilter.Get());
    }
    if (!MuxHasInput())
        CheckGraphResult(VFW_E_CANNOT_CONNECT);
    CaptureGraph->RunGraph();
    Timer->start();
}

void TControlForm::actCaptureStopExecute(QObject*) {
    // The stop completes the file before anything else; a preview that
    // cannot be rebuilt does not keep the recording out of the strip.
    std::exception_ptr previewFailure;
    try {
        ReturnToPreview();
    } catch (...) {
        previewFailure = std::current_exception();
    }
    // The file as the multiplexer left it, finished by the repair when the
    // stop could not complete it; it joins the strip only when it plays, and
    // a recording started by the capture-and-mail action goes to the mail
    // program only then.
    const bool mail = FMailAfterCapture;
    FMailAfterCapture = false;
    const HRESULT failure = FRecordingFailure;
    FRecordingFailure = S_OK;
    const TRecordingEnd end = FinishRecordingFile(FRecordFile, failure, FStopResult);
    if (!end.message.isEmpty()) {
        ShowMessageBox(this, end.message, QString::fromLatin1(kApplicationTitle),
                       QMessageBox::Warning);
    }
    if (end.plays) {
        AddToStrip(FRecordFile);
        if (mail)
            SendMail(QStringLiteral("Video Mail"), FRecordFile);
    }
    if (previewFailure)
        std::rethrow_exception(previewFailure);
}

void TControlForm::ReturnToPreview() {
    // Stopping completes the file; the graph with the multiplexer, the file
    // writer and the compressors is then released. Failures here are
    // swallowed, and none keeps the recording graph alive: writing must not
    // start again when the preview runs.
    Timer->stop();
    FStopResult = S_OK;
    try {
        CaptureGraph->StopGraph();
    } catch (const EDirectShowException& e) {
        // The file could not be completed (its writer failed, or the end of
        // the stream did not reach it in time): finished after the release.
        FStopResult = e.Result();
    } catch (...) {
    }
    RemoveCompressors();
    try {
        CaptureGraph->SetActive(false);
    } catch (...) {
    }
    // A new graph with the component filters, unconnected; the saved capture
    // format goes back on the camera and the preview runs.
    CaptureGraph->SetActive(true);
    SetPreview(true);
}

void TControlForm::AbandonStart(const QString& previousFile) {
    Timer->stop();
    btnCapture->Tag = 0;
    FMailAfterCapture = false;
    ShowRecordState(false);
    btnCapture->SetHint(ShownText(u"Enregistrement"));
    // A start that failed early had not yet saved the capture format.
    if (!FSavedMediaType) {
        try {
            FSavedMediaType = SaveVideoMediaType();
        } catch (...) {
        }
    }
    const QString failedFile = FRecordFile;
    FRecordFile = previousFile;
    struct TRemoveFile {
        QString path;
        // Once the graph has let go of it: the file of a start that failed
        // holds no recording.
        ~TRemoveFile() {
            if (!path.isEmpty())
                QFile::remove(path);
        }
    } removeFile{failedFile != previousFile ? failedFile : QString()};
    ReturnToPreview();
}

bool TControlForm::MuxHasInput() {
    if (!FMuxFilter)
        return false;
    TPinList pins(FMuxFilter.Get());
    for (int i = 0; i < pins.Count(); ++i) {
        PIN_DIRECTION direction = PINDIR_OUTPUT;
        if (SUCCEEDED(pins.PinAt(i)->QueryDirection(&direction)) && direction == PINDIR_INPUT &&
            pins.IsPinConnected(i)) {
            return true;
        }
    }
    return false;
}

void TControlForm::WatchGraphErrors() {
    CaptureGraph->OnGraphErrorAbort = [this](TFilterGraph*, intptr_t error, intptr_t) {
        GraphErrorAbort(HRESULT(error));
    };
}

void TControlForm::GraphErrorAbort(HRESULT error) {
    // A lost camera or microphone is handled as such (its notice comes
    // first and releases the graph, whose errors then go unheard).
    if (FDestroyed || FCameraLost || FLosingCamera)
        return;
    if (btnCapture->Tag == 1) {
        // The first error ends the recording as the record button would:
        // the preview goes on, the file is finished, and the user is told why.
        if (FAILED(FRecordingFailure))
            return;
        FRecordingFailure = FAILED(error) ? error : E_FAIL;
        StopRecording();
        return;
    }
    // During the preview: reported once, and the preview rebuilt rather than
    // left frozen; another failure of the rebuilt one is not reported again
    // until a recording is started.
    if (FPreviewErrorReported || !CaptureGraph->Active())
        return;
    FPreviewErrorReported = true;
    RunHandler([this] { ReturnToPreview(); });
    ShowMessageBox(this,
                   ShownText(u"L'image de la caméra s'est arrêtée : ") +
                       RecordingFailureReason(FAILED(error) ? error : E_FAIL,
                                              FVideoFolder + QStringLiteral("/")) +
                       ShownText(u"\n\nL'aperçu a été relancé."),
                   QString::fromLatin1(kApplicationTitle), QMessageBox::Warning);
}
