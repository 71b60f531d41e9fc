// SPDX-License-Identifier: GPL-3.0-or-later
// What became of a recording's file once the recording ended, and what the
// user is told about it.
//
// A recording ends by the record button, or at once when the graph fails
// while it records (a full disk, a folder removed, a medium gone, a device
// error). The multiplexer completes the file when the stop drains the graph
// in time; when it cannot (the writer failed, or the drain ran out of time),
// the file is finished here, right away, by the start-up repair's code: it
// then plays to the last frame written. A file joins the strip only when it
// plays; the message names the file and the reason in the program's language.
#pragma once

#include <QString>

#include "media/MediaBoundary.h"

struct TRecordingEnd {
    QString path;
    bool plays = false;     // complete, as written or once repaired
    bool repaired = false;  // finished by the repair
    QString message;        // what the user is told; empty: nothing to say
};

// The reason of a media failure, in words a user understands (French, as
// the program's other messages); `path` is the recording's file.
QString RecordingFailureReason(media::HRESULT failure, const QString& path);

// The reason the camera's picture stopped, in the same words.
QString CameraFailureReason(media::HRESULT failure);

// Finishes a recording's file after its graph has let go of it. `failure` is
// the error that ended the recording (S_OK for the record button or a lost
// device), `stopResult` what the stop returned (S_OK: the file is complete).
TRecordingEnd FinishRecordingFile(const QString& path, media::HRESULT failure,
                                  media::HRESULT stopResult);
