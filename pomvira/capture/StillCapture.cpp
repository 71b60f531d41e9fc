// SPDX-License-Identifier: GPL-3.0-or-later
#include "StillCapture.h"

#include <QTimer>
#include <memory>
#include <stdexcept>

#include "app/Application.h"
#include "capture/SessionWorker.h"
#include "files/JpegFile.h"
#include "files/PathUtils.h"
#include "files/TextConv.h"
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
                RunHandler([&] { Grab(folder, waitedMs + kFramePollMs); });
            });
            return;
        }
        --FWaiting;
        emit Failed(UiText("Messages",
                           "Aucune image n'est arrivée de la caméra : "
                           "la photo n'a pas été prise."));
        return;
    }
    --FWaiting;
    auto path = std::make_shared<QString>();
    auto failure = std::make_shared<QString>();
    FFiles->Post(
        [bitmap, folder, path, failure] {
            try {
                *path = NumberedFileName(folder, QStringLiteral("img"), QStringLiteral("jpg"),
                                         PathTaken);
                SaveJpegFile(*bitmap, *path, kQuality);
            } catch (const std::exception& e) {
                *failure = QString::fromUtf8(e.what());
                if (failure->isEmpty())
                    *failure = UiText("Messages", "Erreur inconnue");
            }
        },
        [this, path, failure] {
            if (failure->isEmpty())
                emit Taken(*path);
            else
                emit Failed(*failure);
        },
        kWriteBoundMs,
        [this] {
            emit Failed(UiText("Messages",
                               "Le disque ne répond pas : la photo n'a pas pu être "
                               "enregistrée."));
        });
}
