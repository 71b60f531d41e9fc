// SPDX-License-Identifier: GPL-3.0-or-later
// The words of the capture session's outcomes, in the program's language:
// what a message box says of them, and the reason shown in the preview
// window and the strip when the camera or the microphone ended a recording.
// Every sentence the user reads about the camera, a recording or a picture
// is made here.
#pragma once

#include <QString>

#include "capture/SessionOutcome.h"

// The message an outcome is told with; empty when it is told otherwise (the
// preview window's notices) or not at all.
QString OutcomeMessage(const TOutcome& outcome);

// Why the camera or the microphone ended a recording; empty when the user
// or a failure did.
QString RecordingEndReason(const TOutcome& outcome);

// The reason of a media failure, in words a user understands; `path` is
// the recording's file.
QString RecordingFailureReason(media::HRESULT failure, const QString& path);

// The reason the camera's picture stopped, in the same words.
QString CameraFailureReason(media::HRESULT failure);

// The notice over the video area while the camera is gone (`lost`) or gives
// no picture (`stalled`); empty while its picture comes.
QString CameraNotice(bool lost, bool stalled);

// What a screen reader is told the moment an outcome comes: the recording
// that started or ended and its file, the picture saved; empty where
// nothing is to be said or a message box tells it.
QString OutcomeAnnouncement(const TOutcome& outcome);
// The same when the camera's picture is back after it was lost or stalled.
QString CameraBackAnnouncement();
