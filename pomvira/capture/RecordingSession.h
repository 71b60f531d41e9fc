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
#include <exception>
#include <memory>

#include "media/Filter.h"

class TFileBeingWritten;

namespace media {
class TFilterGraph;
class TFilterList;
class TSysDevEnum;
class TVideoWindow;
}  // namespace media

// What a recording's stop did.
struct TRecordingResult {
    // The recording's file.
    QString Path;
    // The file plays: completed by the stop, or finished by the repair.
    bool Complete = false;
    // The stop could not complete the file; the repair finished it.
    bool Repaired = false;
    // What the user is told about the recording's end: the reason it ended
    // (a full disk, a folder gone, ...) or that the stop could not complete
    // the file, naming the file; empty when it ended as asked.
    QString Message;
    // Why the recording ended when the camera or the microphone ended it
    // (went away, stalled); empty when the record button or a failure did.
    QString EndReason;
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
    TRecordingSession(media::TFilterGraph* graph, media::TFilter* videoSource,
                      media::TFilter* audioSource);
    ~TRecordingSession();
    // The preview window's renderer the recording keeps showing into.
    void SetVideoWindow(media::TVideoWindow* window) { FVideoWindow = window; }

    // With the graph stopped and the preview connections in place: connects
    // the camera (and the microphone when asked and open) through the
    // chosen compressors to a multiplexer writing `path`. A failure raises;
    // TakeBack then undoes what was connected.
    void Connect(const QString& path, const TRecordingOptions& options);
    // A start that failed: the compressors and the multiplexer are let go
    // (the graph, rebuilt, forgets them). Gives back the file's mark when the
    // start created the file (it is the start's to remove, once the graph
    // has let go of it); none when another file took the name first.
    std::unique_ptr<TFileBeingWritten> TakeBack();
    // The graph records.
    void Started();
    // An error of the graph while recording: the first one is what ends the
    // recording (true: stop it now); later ones, its consequences, are not.
    bool Fail(media::HRESULT error);
    media::HRESULT Failure() const { return FFailure; }
    // The recording ended and its graph let go of the file: the compressors
    // and the multiplexer are let go too.
    void Disconnect();
    bool Recording() const { return FRecording; }
    QString File() const { return FRecordFile; }

    // Releases the compressor list and the multiplexer (shut-down).
    void Release();

    // Whether the source's device is open: its filter is in the graph.
    static bool HasOpenDevice(media::TFilter* source);
    // The reason of a start's failure in the user's words: the media
    // layer's failures by their result (a folder that is gone says so),
    // others by their text.
    static QString FailureText(const std::exception_ptr& failure, const QString& file);
    static QString FailureText(media::HRESULT failure, const QString& file);

  private:
    void AddCompressors(const TRecordingOptions& options);
    void RemoveCompressors();
    // Whether the camera's stream reaches the multiplexer.
    bool MuxHasVideoInput();

    media::TFilterGraph* FGraph;
    media::TFilter* FVideoSource;
    media::TFilter* FAudioSource;
    media::TVideoWindow* FVideoWindow = nullptr;

    bool FRecording = false;
    QString FRecordFile;
    // The recording's file, marked as written by this program: the repair
    // of cut-off recordings passes it over.
    std::unique_ptr<TFileBeingWritten> FWriting;
    media::HRESULT FFailure = 0;  // the error that ended the recording
    media::ComPtr<media::IBaseFilter> FMuxFilter;
    std::unique_ptr<media::TFilterList> FCompressFilters;
    std::unique_ptr<media::TSysDevEnum> FVideoCompEnum;
    std::unique_ptr<media::TSysDevEnum> FAudioCompEnum;
};
