// SPDX-License-Identifier: GPL-3.0-or-later
// Still pictures: the frame grabber's last frame saved as the next free
// numbered JPEG file of a folder (img000001.jpg, img000002.jpg, ...; quality
// 90). Just after the camera starts no frame may have come yet: the picture
// waits for the first one, up to two seconds, without holding the
// user-interface thread. The encoding and the writing run on the session's
// file worker, one picture after the other, so pictures are numbered in the
// order they were taken; a disk that does not answer is given up after a
// bound.
#pragma once

#include <QObject>
#include <QString>

#include "capture/SessionOutcome.h"

class TSessionWorker;
namespace media {
class TSampleGrabber;
}

class TStillCapture : public QObject {
    Q_OBJECT
  public:
    // How long a picture waits for the camera's first frame, and how long
    // its encoding and writing may take.
    static constexpr int kFirstFrameWaitMs = 2000;
    static constexpr int kWriteBoundMs = 30000;
    // The pictures' JPEG quality.
    static constexpr int kQuality = 90;

    TStillCapture(media::TSampleGrabber* grabber, TSessionWorker* files, QObject* parent);

    // Takes a picture into `folder`: Taken with its path, or Failed with
    // what failed (no frame, a disk that does not answer, or a failure with
    // its own words).
    void TakeStill(const QString& folder);
    // Pictures wait for the camera's first frame.
    bool Waiting() const { return FWaiting > 0; }

  signals:
    void Taken(const QString& path);
    void Failed(TOutcome::TCause cause, const QString& detail);

  private:
    void Grab(const QString& folder, int waitedMs);

    media::TSampleGrabber* FGrabber;
    TSessionWorker* FFiles;
    int FWaiting = 0;
};
