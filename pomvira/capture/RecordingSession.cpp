// SPDX-License-Identifier: GPL-3.0-or-later
#include "RecordingSession.h"

#include <stdexcept>

#include <functional>

#include "files/FilesBeingWritten.h"
#include "files/PathUtils.h"
#include "files/TextConv.h"
#include "media/ReservedFile.h"
#include "media/FilterGraph.h"
#include "media/MediaUtil.h"
#include "media/VideoWindow.h"

using namespace media;

TRecordingSession::TRecordingSession(TFilterGraph* graph, TFilter* videoSource,
                                     TFilter* audioSource)
    : FGraph(graph),
      FVideoSource(videoSource),
      FAudioSource(audioSource),
      FCompressFilters(std::make_unique<TFilterList>()) {}

TRecordingSession::~TRecordingSession() = default;

bool TRecordingSession::HasOpenDevice(TFilter* source) {
    return source->FilterGraph() && source->MemberFilter();
}

TRecordingSession::TNewFile TRecordingSession::CreateFile(const QString& folder) {
    TNewFile file;
    // The name found free may be taken before the file is made (another
    // program, another of ours): the next free one is tried then.
    constexpr int kTries = 100;
    for (int i = 0; i < kTries; ++i) {
        file.Path = NumberedFileName(folder, QStringLiteral("video"), QStringLiteral("avi"),
                                     PathTaken);
        file.Result = ReserveNewFile(file.Path);
        if (file.Result != HResultFromWin32(ERROR_FILE_EXISTS))
            break;
    }
    if (SUCCEEDED(file.Result))
        file.Mark = std::make_shared<TFileBeingWritten>(file.Path);
    return file;
}

void TRecordingSession::Connect(const TNewFile& file, const TRecordingOptions& options) {
    const QString& path = file.Path;
    FFailure = S_OK;
    FEndCause = TOutcome::TCause::Asked;
    FRecordFile = path;
    FStage = TStage::Connected;
    // The file is this recording's own from here on (it was made for it).
    FWriting = file.Mark;
    auto builder = FGraph->Get<ICaptureGraphBuilder2>();
    FMuxFilter = nullptr;
    ComPtr<IFileSinkFilter> fileSink;
    // Without a multiplexer nothing could be recorded.
    CheckGraphResult(builder->SetOutputFileName(MEDIASUBTYPE_Avi, path.toStdU16String(),
                                                FMuxFilter.Put(), fileSink.Put()));
    fileSink = nullptr;

    // Compressors first: a compressed stream takes the source's capture
    // output, so the uncompressed connection below finds none free.
    AddCompressors(options);
    // The results of the connections are not checked one by one: a stream
    // that cannot be connected is recorded without its compressor, or not at
    // all, as long as something reaches the multiplexer.
    if (FVideoWindow && FVideoSource->HasDevice()) {
        builder->RenderStream(&PIN_CATEGORY_PREVIEW, nullptr,
                              FVideoSource->Get<IBaseFilter>().Get(), nullptr,
                              FVideoWindow->Get<IBaseFilter>().Get());
    }
    if (FVideoSource->FilterGraph()) {
        builder->RenderStream(&PIN_CATEGORY_CAPTURE, nullptr,
                              FVideoSource->Get<IBaseFilter>().Get(), nullptr, FMuxFilter.Get());
    }
    // Sound is recorded when asked for and a microphone is open; without one
    // the picture is recorded alone.
    if (options.WithAudio && HasOpenDevice(FAudioSource)) {
        builder->RenderStream(nullptr, nullptr, FAudioSource->Get<IBaseFilter>().Get(), nullptr,
                              FMuxFilter.Get());
    }
    // A recording is of the picture: sound alone is no recording.
    if (!MuxHasVideoInput())
        CheckGraphResult(VFW_E_CANNOT_CONNECT);
}

std::shared_ptr<TFileBeingWritten> TRecordingSession::TakeBack() {
    FStage = TStage::None;
    RemoveCompressors();
    FMuxFilter = nullptr;
    return std::move(FWriting);
}

bool TRecordingSession::Fail(HRESULT error) {
    if (FStage != TStage::Connected || FAILED(FFailure))
        return false;
    FFailure = FAILED(error) ? error : E_FAIL;
    return true;
}

void TRecordingSession::Disconnect() {
    FStage = TStage::Finishing;
    RemoveCompressors();
    FMuxFilter = nullptr;
    FFailure = S_OK;
    FEndCause = TOutcome::TCause::Asked;
    // The graph has let go of the file: the repair may finish it.
    FWriting.reset();
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
    FWriting.reset();
    FVideoCompEnum.reset();
    FAudioCompEnum.reset();
}
