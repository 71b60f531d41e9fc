// SPDX-License-Identifier: GPL-3.0-or-later
#include "StillCapture.h"

#include <QTimer>
#include <memory>

#include "capture/RecordingOutcome.h"
#include "capture/SessionWorker.h"
#include "files/JpegFile.h"
#include "files/PathUtils.h"
#include "media/Bitmap.h"
#include "media/SampleGrabber.h"

using namespace media;

namespace {
// How often a picture looks for the camera's first frame.
constexpr int kFramePollMs = 20;
}  // namespace

TStillCapture::TStillCapture(TSampleGrabber* grabber, TSessionWorker* files, QObject* parent)
    : QObject(parent), FGrabber(grabber), FFiles(files) {}

void TStillCapture::TakeStill(const QString& folder) {
    ++FWaiting;
    Grab(folder, 0);
}

void TStillCapture::Grab(const QString& folder, int waitedMs) {
    auto bitmap = std::make_shared<TBitmap>();
    if (!FGrabber->CopyFrameToBitmap(bitmap.get())) {
        // Without a grabber in the graph no frame can come.
        if (FGrabber->Grabber() && waitedMs < kFirstFrameWaitMs) {
            QTimer::singleShot(kFramePollMs, this, [this, folder, waitedMs] {
                try {
                    Grab(folder, waitedMs + kFramePollMs);
                } catch (...) {
                    --FWaiting;
                    emit Failed(TOutcome::TCause::Failure, FailureOf(std::current_exception()).Detail);
                }
            });
            return;
        }
        --FWaiting;
        emit Failed(TOutcome::TCause::NoFrame, QString());
        return;
    }
    --FWaiting;
    auto path = std::make_shared<QString>();
    auto failed = std::make_shared<bool>(false);
    auto failure = std::make_shared<QString>();
    FFiles->Post(
        [bitmap, folder, path, failed, failure] {
            try {
                *path = NumberedFileName(folder, QStringLiteral("img"), QStringLiteral("jpg"),
                                         PathTaken);
                SaveJpegFile(*bitmap, *path, kQuality);
            } catch (...) {
                *failed = true;
                *failure = FailureOf(std::current_exception()).Detail;
            }
        },
        [this, path, failed, failure] {
            if (!*failed)
                emit Taken(*path);
            else
                emit Failed(TOutcome::TCause::Failure, *failure);
        },
        kWriteBoundMs, [this] { emit Failed(TOutcome::TCause::Timeout, QString()); });
}
