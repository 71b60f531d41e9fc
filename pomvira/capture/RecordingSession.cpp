// SPDX-License-Identifier: GPL-3.0-or-later
#include "RecordingSession.h"

#include <QFile>
#include <QFileInfo>
#include <stdexcept>

#include "RecordingOutcome.h"
#include "files/FilesBeingWritten.h"
#include "files/RecordingRepair.h"
#include "media/FilterGraph.h"
#include "media/MediaUtil.h"
#include "media/VideoWindow.h"
#include "files/TextConv.h"

using namespace media;

namespace {

// The reason of a failure in the user's words: the media layer's failures
// by their result (a folder that is gone says so), others by their text.
QString FailureText(const std::exception_ptr& failure, const QString& file = QString()) {
    try {
        std::rethrow_exception(failure);
    } catch (const EDirectShowException& e) {
        const QString reason = RecordingFailureReason(e.Result(), file);
        return reason.left(1).toUpper() + reason.mid(1);
    } catch (const std::exception& e) {
        return QString::fromUtf8(e.what());
    } catch (...) {
        return UiText("Messages", "Erreur inconnue");
    }
}

}  // namespace

TRecordingSession::TRecordingSession(TFilterGraph* graph, TFilter* videoSource,
                                     TFilter* audioSource, std::function<void()> restartPreview)
    : FGraph(graph),
      FVideoSource(videoSource),
      FAudioSource(audioSource),
      FRestartPreview(std::move(restartPreview)),
      FCompressFilters(std::make_unique<TFilterList>()) {}

TRecordingSession::~TRecordingSession() = default;

std::optional<TMediaType> TRecordingSession::TakeFormat() {
    std::optional<TMediaType> format = std::move(FSavedMediaType);
    FSavedMediaType.reset();
    return format;
}

bool TRecordingSession::HasOpenDevice(TFilter* source) {
    return source->FilterGraph() && source->MemberFilter();
}

TRecordingResult TRecordingSession::Start(const QString& path, const TRecordingOptions& options,
                                          std::optional<TMediaType> captureFormat) {
    const QString previousFile = FRecordFile;
    TRecordingResult result;
    FFailure = S_OK;
    try {
        FRecordFile = path;
        // The capture format, for the graph rebuilt after the recording.
        FSavedMediaType = std::move(captureFormat);
        // The preview connections stay.
        FGraph->StopGraph();

        auto builder = FGraph->Get<ICaptureGraphBuilder2>();
        FMuxFilter = nullptr;
        ComPtr<IFileSinkFilter> fileSink;
        // Without a multiplexer nothing could be recorded.
        CheckGraphResult(builder->SetOutputFileName(MEDIASUBTYPE_Avi, path.toStdU16String(),
                                                    FMuxFilter.Put(), fileSink.Put()));
        fileSink = nullptr;
        // The file is this start's own from here on (the writer created it):
        // the repair of cut-off recordings passes it over while it is
        // written, and a failed start removes it.
        FWriting = std::make_unique<TFileBeingWritten>(path);

        // Compressors first: a compressed stream takes the source's capture
        // output, so the uncompressed connection below finds none free.
        AddCompressors(options);
        // The results of the connections are not checked one by one: a
        // stream that cannot be connected is recorded without its
        // compressor, or not at all, as long as something reaches the
        // multiplexer.
        if (FVideoWindow && FVideoSource->BaseFilter().DataLength() != 0) {
            builder->RenderStream(&PIN_CATEGORY_PREVIEW, nullptr,
                                  FVideoSource->Get<IBaseFilter>().Get(), nullptr,
                                  FVideoWindow->Get<IBaseFilter>().Get());
        }
        if (FVideoSource->FilterGraph()) {
            builder->RenderStream(&PIN_CATEGORY_CAPTURE, nullptr,
                                  FVideoSource->Get<IBaseFilter>().Get(), nullptr,
                                  FMuxFilter.Get());
        }
        // Sound is recorded when asked for and a microphone is open; without
        // one the picture is recorded alone.
        if (options.WithAudio && HasOpenDevice(FAudioSource)) {
            builder->RenderStream(nullptr, nullptr, FAudioSource->Get<IBaseFilter>().Get(), nullptr,
                                  FMuxFilter.Get());
        }
        // A recording is of the picture: sound alone is no recording.
        if (!MuxHasVideoInput())
            CheckGraphResult(VFW_E_CANNOT_CONNECT);
        FGraph->RunGraph();
    } catch (...) {
        // Never a frozen preview under a panel that claims to preview: what
        // the start connected is taken back and the preview runs again.
        result.Error = FailureText(std::current_exception(), path);
        // A file the start did not create (one that took the name first)
        // is not this start's to remove.
        const QString failedFile = FWriting ? FRecordFile : QString();
        FRecordFile = previousFile;
        // Unmarked once the file is gone (declared first, it goes last).
        const std::unique_ptr<TFileBeingWritten> writing = std::move(FWriting);
        struct TRemoveFile {
            QString path;
            // Once the graph has let go of it: the file of a start that
            // failed holds no recording.
            ~TRemoveFile() {
                if (!path.isEmpty())
                    QFile::remove(path);
            }
        } removeFile{failedFile};
        try {
            ReturnToPreview();
        } catch (...) {
            result.PreviewFailure = std::current_exception();
        }
        return result;
    }
    FRecording = true;
    result.Path = path;
    return result;
}

TRecordingResult TRecordingSession::Stop() {
    // The stop completes the file before anything else; a preview that
    // cannot be rebuilt does not make the recording lost.
    TRecordingResult result;
    FRecording = false;
    try {
        ReturnToPreview();
    } catch (...) {
        result.PreviewFailure = std::current_exception();
        result.Error = FailureText(result.PreviewFailure);
    }
    result.Path = FRecordFile;
    // The graph has let go of the file by now: the repair may finish it.
    FWriting.reset();
    // The file as the multiplexer left it, finished by the repair when the
    // stop could not complete it.
    if (!FRecordFile.isEmpty()) {
        const TRecordingEnd end = FinishRecordingFile(FRecordFile, FFailure, FStopResult);
        result.Complete = end.plays;
        result.Repaired = end.repaired;
        result.Message = end.message;
    }
    FFailure = S_OK;
    return result;
}

bool TRecordingSession::Fail(HRESULT error) {
    if (!FRecording || FAILED(FFailure))
        return false;
    FFailure = FAILED(error) ? error : E_FAIL;
    return true;
}

void TRecordingSession::EndAtQuit() {
    if (!FRecording)
        return;
    FRecording = false;
    HRESULT stopped = S_OK;
    try {
        FGraph->StopGraph();
    } catch (const EDirectShowException& e) {
        stopped = e.Result();
    } catch (...) {
    }
    if (SUCCEEDED(stopped)) {
        FWriting.reset();
        return;
    }
    // Only a released graph lets go of the file.
    try {
        FGraph->SetActive(false);
    } catch (...) {
    }
    FWriting.reset();
    RepairRecording(FRecordFile);
}

void TRecordingSession::ReturnToPreview() {
    // Stopping completes the file; the graph with the multiplexer, the file
    // writer and the compressors is then released. Failures here are
    // swallowed, and none keeps the recording graph alive: writing must not
    // start again when the preview runs.
    FStopResult = S_OK;
    try {
        FGraph->StopGraph();
    } catch (const EDirectShowException& e) {
        // The file could not be completed (its writer failed, or the end of
        // the stream did not reach it in time): finished after the release.
        FStopResult = e.Result();
    } catch (...) {
    }
    RemoveCompressors();
    try {
        FGraph->SetActive(false);
    } catch (...) {
    }
    // A new graph with the component filters, unconnected; the saved
    // capture format goes back on the camera and the preview runs.
    FGraph->SetActive(true);
    if (FRestartPreview)
        FRestartPreview();
}

void TRecordingSession::AddCompressors(const TRecordingOptions& options) {
    FVideoCompEnum = std::make_unique<TSysDevEnum>(CLSID_VideoCompressorCategory);
    FAudioCompEnum = std::make_unique<TSysDevEnum>(CLSID_AudioCompressorCategory);
    FCompressFilters->Clear();
    auto insert = [this](TSysDevEnum& compressors, int32_t index, TFilter* sourceFilter) {
        try {
            auto compressor = compressors.CreateDevice(index);
            if (!compressor)
                throw std::runtime_error(
                    UiText("Messages", "Ce compresseur n'existe pas.").toStdString());
            FCompressFilters->Add(compressor.Get());
            auto graph = FGraph->Get<IGraphBuilder>();
            graph->AddFilter(compressor.Get(),
                             QString::fromStdString(compressors.DeviceEntry(index).FriendlyName)
                                 .toStdU16String());
            auto builder = FGraph->Get<ICaptureGraphBuilder2>();
            auto source = sourceFilter->Get<IBaseFilter>();
            builder->RenderStream(nullptr, nullptr, source.Get(),
                                  FCompressFilters->LastFilter().Get(), FMuxFilter.Get());
        } catch (...) {
            // The recording goes on without this compressor.
        }
    };
    if (options.VideoCompress != -1)
        insert(*FVideoCompEnum, options.VideoCompress, FVideoSource);
    // Without a microphone the picture is recorded alone.
    if (options.AudioCompress != -1 && options.WithAudio && HasOpenDevice(FAudioSource))
        insert(*FAudioCompEnum, options.AudioCompress, FAudioSource);
}

void TRecordingSession::RemoveCompressors() {
    try {
        if (FCompressFilters)
            FCompressFilters->Clear();
    } catch (...) {
        return;
    }
    try {
        FVideoCompEnum.reset();
    } catch (...) {
    }
    try {
        FAudioCompEnum.reset();
    } catch (...) {
    }
}

bool TRecordingSession::MuxHasVideoInput() {
    if (!FMuxFilter || !HasOpenDevice(FVideoSource))
        return false;
    const ComPtr<IBaseFilter> camera = FVideoSource->Get<IBaseFilter>();
    // Upstream from each connected input of the multiplexer, through a
    // compressor or converters, to the filter the stream comes from.
    std::function<bool(IBaseFilter*, int)> fromCamera = [&](IBaseFilter* filter, int depth) {
        if (filter == camera.Get())
            return true;
        if (!filter || depth == 0)
            return false;
        TPinList pins(filter);
        for (int i = 0; i < pins.Count(); ++i) {
            const ComPtr<IPin> pin = pins.PinAt(i);
            PIN_DIRECTION direction = PINDIR_OUTPUT;
            ComPtr<IPin> peer;
            PIN_INFO info{};
            if (FAILED(pin->QueryDirection(&direction)) || direction != PINDIR_INPUT ||
                FAILED(pin->ConnectedTo(peer.Put())) || !peer || FAILED(peer->QueryPinInfo(&info)))
                continue;
            const ComPtr<IBaseFilter> upstream = ComPtr<IBaseFilter>::Attach(info.pFilter);
            if (fromCamera(upstream.Get(), depth - 1))
                return true;
        }
        return false;
    };
    // The chain is short: a compressor and a few converters at most.
    constexpr int kLongestChain = 8;
    return camera && fromCamera(FMuxFilter.Get(), kLongestChain + 1);
}

void TRecordingSession::Release() {
    try {
        if (FCompressFilters)
            FCompressFilters->Clear();
        FMuxFilter = nullptr;
    } catch (...) {
    }
    FVideoCompEnum.reset();
    FAudioCompEnum.reset();
    FSavedMediaType.reset();
}
