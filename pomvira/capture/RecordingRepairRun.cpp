// SPDX-License-Identifier: GPL-3.0-or-later
#include "RecordingRepairRun.h"

#include <QMetaObject>
#include <dirent.h>
#include <utility>

#include "files/RecordingRepair.h"
#include "media/FileNameCodec.h"

TRecordingRepairRun::TRecordingRepairRun(QObject* parent) : QObject(parent) {}

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
    // The names are listed here too, not by the user-interface thread: a
    // folder on a slow or sleeping disk may take its time. The system's own
    // calls take a folder name of any bytes.
    const QByteArray folderBytes = EncodeFileName(folder);
    const QByteArray prefix = folderBytes.endsWith('/') ? folderBytes : folderBytes + '/';
    QStringList names;
    if (DIR* listing = ::opendir(folderBytes.constData())) {
        while (const dirent* entry = ::readdir(listing)) {
            const QString name = DecodeFileName(QByteArray(entry->d_name));
            if (IsRecordingName(name))
                names.append(DecodeFileName(prefix + entry->d_name));
        }
        ::closedir(listing);
    }
    names.sort();
    const int total = int(names.size());
    const auto tell = [this](auto&& report) {
        QMetaObject::invokeMethod(this, std::forward<decltype(report)>(report),
                                  Qt::QueuedConnection);
    };
    tell([this, total] { emit Progress(0, total); });
    QStringList failed;
    int done = 0;
    for (const QString& path : names) {
        if (FStop)
            return;
        if (RepairRecording(path) == TRecordingState::Unrepairable)
            failed.append(path);
        ++done;
        tell([this, done, total] { emit Progress(done, total); });
    }
    tell([this, failed] {
        FRunning = false;
        emit Finished(failed);
    });
}
