// SPDX-License-Identifier: GPL-3.0-or-later
// One recording of the control panel: the live picture, with the
// microphone's sound when asked, through the chosen compressors into an AVI
// file while the preview goes on. It owns what only a recording uses (its
// file, the multiplexer, the compressors put into the graph and their
// device lists), the capture format kept across the rebuild of the graph
// for preview, and the recording's errors: the first error of the graph
// during a recording is what ended it, and a file the stop could not
// complete is finished by the start-up repair's code before the stop gives
// it back. Start and stop give back what happened; neither raises.
#pragma once

#include <QString>
#include <cstdint>
#include <exception>
#include <functional>
#include <memory>
#include <optional>

#include "media/Filter.h"
#include "media/MediaTypes.h"

class TFileBeingWritten;

namespace media {
class TFilterGraph;
class TFilterList;
class TSysDevEnum;
class TVideoWindow;
}  // namespace media

// What a start or a stop did.
struct TRecordingResult {
    // The recording's file (a failed start leaves none behind).
    QString Path;
    // The file plays: completed by the stop, or finished by the repair.
    bool Complete = false;
    // The stop could not complete the file; the repair finished it.
    bool Repaired = false;
    // Why the recording could not start (in the user's words), or why the
    // preview could not be built again after it; empty when all went well.
    QString Error;
    // What the user is told about the recording's end: the reason it ended
    // (a full disk, a folder gone, ...) or that the stop could not complete
    // the file, naming the file; empty when it ended as asked.
    QString Message;
    // The preview's failure after the recording (or after a start taken
    // back), for the application's error report.
    std::exception_ptr PreviewFailure;
    bool Ok() const { return Error.isEmpty(); }
};

// How to record: the compressors by their place in their device lists (-1:
// none) and whether the microphone's sound goes into the file.
struct TRecordingOptions {
    int32_t VideoCompress = -1;
    int32_t AudioCompress = -1;
    bool WithAudio = true;
};

class TRecordingSession {
  public:
    // The graph and its members the recording connects; restartPreview
    // puts the preview back on a fresh graph (the panel's own preview
    // building, which also puts the kept format back on the camera).
    TRecordingSession(media::TFilterGraph* graph, media::TFilter* videoSource,
                      media::TFilter* audioSource, std::function<void()> restartPreview);
    ~TRecordingSession();
    // The preview window's renderer the recording keeps showing into.
    void SetVideoWindow(media::TVideoWindow* window) { FVideoWindow = window; }

    // Records into path. The camera's format at the start is kept, so that
    // the preview after the recording has it again. A start that fails
    // takes back what it connected, removes its file and runs the preview
    // again.
    TRecordingResult Start(const QString& path, const TRecordingOptions& options,
                           std::optional<media::TMediaType> captureFormat);
    // Ends the recording: the file is completed, the graph is released and
    // the preview runs again in the kept format.
    TRecordingResult Stop();
    // An error of the graph while recording: the first one is what ends the
    // recording (true: stop it now); later ones, its consequences, are not.
    bool Fail(media::HRESULT error);
    // The program ends while recording: the file is completed as a stop
    // completes it, or finished by the repair once the graph is released;
    // no preview is built again.
    void EndAtQuit();
    bool Recording() const { return FRecording; }
    QString File() const { return FRecordFile; }

    // The capture format kept for the next rebuild of the preview.
    void KeepFormat(std::optional<media::TMediaType> format) {
        FSavedMediaType = std::move(format);
    }
    // Hands the kept format over (none is kept after).
    std::optional<media::TMediaType> TakeFormat();
    bool HasFormat() const { return FSavedMediaType.has_value(); }

    // Releases the compressor list and the multiplexer (shut-down).
    void Release();

    // Whether the source's device is open: its filter is in the graph.
    static bool HasOpenDevice(media::TFilter* source);

  private:
    void AddCompressors(const TRecordingOptions& options);
    void RemoveCompressors();
    // Whether the camera's stream reaches the multiplexer.
    bool MuxHasVideoInput();
    // The graph for preview again (the stop's first steps); the stop's
    // result is kept in FStopResult.
    void ReturnToPreview();

    media::TFilterGraph* FGraph;
    media::TFilter* FVideoSource;
    media::TFilter* FAudioSource;
    media::TVideoWindow* FVideoWindow = nullptr;
    std::function<void()> FRestartPreview;

    bool FRecording = false;
    QString FRecordFile;
    // The running recording's file, marked as written by this program.
    std::unique_ptr<TFileBeingWritten> FWriting;
    media::HRESULT FFailure = 0;     // the error that ended the recording
    media::HRESULT FStopResult = 0;  // the last stop's (a failure: file not completed)
    media::ComPtr<media::IBaseFilter> FMuxFilter;
    std::unique_ptr<media::TFilterList> FCompressFilters;
    std::unique_ptr<media::TSysDevEnum> FVideoCompEnum;
    std::unique_ptr<media::TSysDevEnum> FAudioCompEnum;
    std::optional<media::TMediaType> FSavedMediaType;
};
