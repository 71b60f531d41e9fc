// SPDX-License-Identifier: GPL-3.0-or-later
// One recording: the live picture, with the microphone's sound when asked,
// through the chosen compressors into an AVI file while the preview goes on.
// It owns what only a recording uses (its file, the multiplexer, the
// compressors put into the graph and their device lists) and the
// recording's errors: the first error of the graph during a recording is
// what ended it. The capture session switches the graph between preview and
// recording around it, off the user-interface thread; what is done here
// (connecting and disconnecting the recording's filters) never waits.
#pragma once

#include <QString>
#include <cstdint>
#include <memory>

#include "capture/SessionOutcome.h"
#include "media/Filter.h"

class TFileBeingWritten;

namespace media {
class TFilterGraph;
class TFilterList;
class TSysDevEnum;
class TVideoWindow;
}  // namespace media

// How to record: the compressors by their place in their device lists (-1:
// none) and whether the microphone's sound goes into the file.
struct TRecordingOptions {
    int32_t VideoCompress = -1;
    int32_t AudioCompress = -1;
    bool WithAudio = true;
};

class TRecordingSession {
  public:
    TRecordingSession(media::TFilterGraph* graph, media::TFilter* videoSource,
                      media::TFilter* audioSource);
    ~TRecordingSession();
    // The preview window's renderer the recording keeps showing into.
    void SetVideoWindow(media::TVideoWindow* window) { FVideoWindow = window; }

    // The recording's file: the next free numbered file of `folder`
    // (video000001.avi, ...), created and marked as written by this program,
    // then kept open for the writer. Waits on the disk: for the file worker.
    struct TNewFile {
        QString Path;
        media::HRESULT Result = 0;  // S_OK, or why it could not be made
        std::shared_ptr<TFileBeingWritten> Mark;
    };
    static TNewFile CreateFile(const QString& folder);

    // With the graph stopped and the preview connections in place: connects
    // the camera (and the microphone when asked and open) through the
    // chosen compressors to a multiplexer writing the new file. A failure
    // raises; TakeBack then undoes what was connected.
    void Connect(const TNewFile& file, const TRecordingOptions& options);
    // A start that failed: the compressors and the multiplexer are let go
    // (the graph, rebuilt, forgets them). Gives back the file's mark when the
    // start created the file (it is the start's to remove, once the graph
    // has let go of it); none when another file took the name first.
    std::shared_ptr<TFileBeingWritten> TakeBack();
    // An error of the graph while recording: the first one is what ends the
    // recording (true: stop it now); later ones, its consequences, are not.
    bool Fail(media::HRESULT error);
    media::HRESULT Failure() const { return FFailure; }
    // Why the camera or the microphone ended the recording (Asked: they
    // did not).
    void SetEndCause(TOutcome::TCause cause) { FEndCause = cause; }
    TOutcome::TCause EndCause() const { return FEndCause; }
    // The recording ended and its graph let go of the file: the compressors
    // and the multiplexer are let go too, and the file is being finished
    // until Finished.
    void Disconnect();
    void Finished() { FStage = TStage::None; }
    // A file is connected to the graph (from Connect to Disconnect), or
    // being finished (from Disconnect to Finished).
    bool Connected() const { return FStage == TStage::Connected; }
    bool Finishing() const { return FStage == TStage::Finishing; }
    QString File() const { return FRecordFile; }

    // Releases the compressor list and the multiplexer (shut-down).
    void Release();

    // Whether the source's device is open: its filter is in the graph.
    static bool HasOpenDevice(media::TFilter* source);

  private:
    void AddCompressors(const TRecordingOptions& options);
    void RemoveCompressors();
    // Whether the camera's stream reaches the multiplexer.
    bool MuxHasVideoInput();

    media::TFilterGraph* FGraph;
    media::TFilter* FVideoSource;
    media::TFilter* FAudioSource;
    media::TVideoWindow* FVideoWindow = nullptr;

    enum class TStage { None, Connected, Finishing };
    TStage FStage = TStage::None;
    QString FRecordFile;
    // The recording's file, marked as written by this program: the repair
    // of cut-off recordings passes it over.
    std::shared_ptr<TFileBeingWritten> FWriting;
    media::HRESULT FFailure = 0;  // the error that ended the recording
    TOutcome::TCause FEndCause = TOutcome::TCause::Asked;
    media::ComPtr<media::IBaseFilter> FMuxFilter;
    std::unique_ptr<media::TFilterList> FCompressFilters;
    std::unique_ptr<media::TSysDevEnum> FVideoCompEnum;
    std::unique_ptr<media::TSysDevEnum> FAudioCompEnum;
};
