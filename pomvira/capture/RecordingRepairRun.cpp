// SPDX-License-Identifier: GPL-3.0-or-later
#include "RecordingRepairRun.h"

#include <QMetaObject>
#include <dirent.h>
#include <memory>
#include <utility>

#include "media/FileNameCodec.h"

TRecordingRepairRun::TRecordingRepairRun(QObject* parent, TRepair repair)
    : QObject(parent), FRepair(std::move(repair)) {}

TRecordingRepairRun::~TRecordingRepairRun() {
    FStop = true;
    if (FWorker.joinable())
        FWorker.join();
    // What the worker posted and this object has not handled yet is dropped
    // with it.
}

void TRecordingRepairRun::Start(const QString& folder) {
    if (FRunning || FWorker.joinable())
        return;
    FRunning = true;
    FWorker = std::thread([this, folder] { Run(folder); });
}

void TRecordingRepairRun::Run(const QString& folder) {
    const auto tell = [this](auto&& report) {
        QMetaObject::invokeMethod(this, std::forward<decltype(report)>(report),
                                  Qt::QueuedConnection);
    };
    QStringList unrepairable, damaged;
    try {
        // The names are listed here too, not by the user-interface thread: a
        // folder on a slow or sleeping disk may take its time. The system's
        // own calls take a folder name of any bytes.
        const QByteArray folderBytes = EncodeFileName(folder);
        const QByteArray prefix = folderBytes.endsWith('/') ? folderBytes : folderBytes + '/';
        QStringList names;
        const std::unique_ptr<DIR, int (*)(DIR*)> listing(::opendir(folderBytes.constData()),
                                                          ::closedir);
        while (const dirent* entry = listing ? ::readdir(listing.get()) : nullptr) {
            const QString name = DecodeFileName(QByteArray(entry->d_name));
            if (IsRecordingName(name))
                names.append(DecodeFileName(prefix + entry->d_name));
        }
        names.sort();
        const int total = int(names.size());
        tell([this, total] { emit Progress(0, total); });
        int done = 0;
        for (const QString& path : names) {
            if (FStop)
                return;
            // Whatever goes wrong in the worker itself stays with the file
            // it was on: that file is named, and the run goes on.
            TRecordingState state = TRecordingState::Unrepairable;
            try {
                state = FRepair(path);
            } catch (...) {
            }
            if (state == TRecordingState::Unrepairable)
                unrepairable.append(path);
            else if (state == TRecordingState::Damaged)
                damaged.append(path);
            ++done;
            tell([this, done, total] { emit Progress(done, total); });
        }
    } catch (...) {
        // Out of memory while listing: what was found is told.
    }
    tell([this, unrepairable, damaged] {
        FRunning = false;
        emit Finished(unrepairable, damaged);
    });
}
