// SPDX-License-Identifier: GPL-3.0-or-later
// How something the capture session was asked to do ended, as values: its
// kind, its result code, the file it concerns and, for a recording, why it
// ended and what became of its file. The session makes no sentence of it;
// the words a user reads are made from outcomes in one place, outside the
// session (forms/SessionMessages).
#pragma once

#include <QMetaType>
#include <QString>

#include "media/MediaBoundary.h"

struct TOutcome {
    enum class TKind {
        DevicesListed,        // Result S_OK: a camera is there, S_FALSE: none; Detail: the
                              // device services that did not answer (one per line)
        PreviewStarted,       // the camera's preview runs
        PreviewFailed,        // it could not start: Result
        PreviewRecovered,     // it failed while it ran (Result) and was built again
        RecordingStarted,     // File is recorded
        RecordingNotStarted,  // nothing is kept of it; Result S_OK: nothing to tell
        RecordingStopped,     // File's recording ended: Cause, Result, StopResult, FileState
        StillTaken,           // File holds the picture
        StillFailed,          // Cause, Result or Detail
        CameraUnusable,       // a camera that is there keeps failing to open
        Closed,               // the session has ended; a recording it completed: as stopped
    };
    // Why it ended as it did.
    enum class TCause {
        Asked,           // as the user asked
        Failure,         // Result (or Detail) says what failed
        Timeout,         // a disk or the camera did not answer within the bound
        NoFrame,         // the camera had delivered no picture
        CameraGone,      // the camera was unplugged
        CameraStalled,   // the camera stopped delivering pictures
        MicrophoneGone,  // the microphone was unplugged
        MicrophoneSilent,  // no more sound came: its sound server hung or went
    };
    // What became of a recording's file.
    enum class TFileState {
        Complete,       // completed by the stop
        Repaired,       // the stop could not complete it; the repair did
        Unplayable,     // neither could: it does not play
        Removed,        // it held nothing and was removed
        Gone,           // it is no longer there (its folder went with it)
        LeftForRepair,  // the stop was given up: the start-up repair finishes it
    };

    TKind Kind = TKind::PreviewStarted;
    TCause Cause = TCause::Asked;
    // The result code of the failure (S_OK: none).
    media::HRESULT Result = 0;
    // A failure's own words, when it was none of the media layer's results.
    QString Detail;
    QString File;
    // A recording's stop: what it returned (S_OK: the file was completed),
    // and what became of the file.
    media::HRESULT StopResult = 0;
    TFileState FileState = TFileState::Complete;

    bool Plays() const { return FileState == TFileState::Complete || FileState == TFileState::Repaired; }
    // The session closed with no recording to complete.
    bool NoRecording() const { return File.isEmpty(); }
};

Q_DECLARE_METATYPE(TOutcome)
