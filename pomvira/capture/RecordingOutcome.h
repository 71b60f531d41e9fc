// SPDX-License-Identifier: GPL-3.0-or-later
// What becomes of a recording's file once the recording ended, and the
// result code of a failure that ended a step.
//
// A recording ends by the record button, or at once when the graph fails
// while it records (a full disk, a folder removed, a medium gone, a device
// error). The multiplexer completes the file when the stop drains the graph
// in time; when it cannot (the writer failed, or the drain ran out of time),
// the file is finished here, right away, by the start-up repair's code: it
// then plays to the last frame written.
#pragma once

#include <QString>
#include <exception>

#include "capture/SessionOutcome.h"

// The result code of a failure, and its own words when it is none of the
// media layer's (E_FAIL then).
struct TFailure {
    media::HRESULT Result = 0;
    QString Detail;
};
TFailure FailureOf(const std::exception_ptr& failure);

// Whether a failure lies with the camera itself: an object or the capture
// device not found, or a filter without its device.
bool CameraFailure(media::HRESULT failure);

// Finishes a recording's file after its graph has let go of it (on the
// file worker: the repair reads most of the file). `failure` is the error
// that ended the recording (S_OK for the record button or a lost device),
// `stopResult` what the stop returned (S_OK: the file is complete). A file
// that holds nothing is removed.
TOutcome::TFileState FinishRecordingFile(const QString& path, media::HRESULT failure,
                                         media::HRESULT stopResult);
