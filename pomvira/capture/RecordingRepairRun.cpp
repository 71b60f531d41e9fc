// SPDX-License-Identifier: GPL-3.0-or-later
#include "RecordingRepairRun.h"

#include <QMetaObject>
#include <utility>

TRecordingRepairRun::TRecordingRepairRun(QObject* parent, TRepairOne repair)
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
    TFolderRepair result;
    try {
        // The folder is listed here too, not by the user-interface thread: a
        // folder on a slow or sleeping disk may take its time.
        result = RepairUnfinishedRecordings(
            folder,
            [&](int done, int total) {
                tell([this, done, total] { emit Progress(done, total); });
                return !FStop;
            },
            FRepair);
    } catch (...) {
        // Out of memory while listing: nothing to name.
    }
    if (FStop)
        return;
    tell([this, result] {
        FRunning = false;
        emit Finished(result.unrepairable, result.damaged);
    });
}
