// SPDX-License-Identifier: GPL-3.0-or-later
// The start-up repair of cut-off recordings, off the user-interface thread:
// the program's windows come first and stay responsive while a worker
// thread repairs the folder's unfinished recordings one file at a time.
// While it runs, every file it works on keeps its name on disk (the repair
// patches files in place), so a new recording takes the next free number
// after them, never the number of a file being repaired. A failure of the
// worker's own on one file (out of memory, say) names that file and goes on
// with the next one.
#pragma once

#include <QObject>
#include <QString>
#include <QStringList>
#include <atomic>
#include <thread>

#include "files/RecordingRepair.h"

class TRecordingRepairRun : public QObject {
    Q_OBJECT
  public:
    // `repair` repairs one file in place of the folder's own repair (tests).
    explicit TRecordingRepairRun(QObject* parent = nullptr, TRepairOne repair = {});
    // Stops after the file being repaired (a repair is never cut short) and
    // waits for it; nothing more is reported then.
    ~TRecordingRepairRun() override;
    TRecordingRepairRun(const TRecordingRepairRun&) = delete;
    TRecordingRepairRun& operator=(const TRecordingRepairRun&) = delete;

    // Looks at the program's recordings in `folder` (not in its subfolders)
    // and repairs the unfinished ones, in the order of their names.
    // Progress and the end are told by the signals, on the thread that made
    // the object. One run per object.
    void Start(const QString& folder);
    bool Running() const { return FRunning; }

  signals:
    // `done` of `total` recordings looked at; sent before the first and
    // after each one.
    void Progress(int done, int total);
    // The unfinished recordings (full paths) that could not be repaired and
    // are as they were, and those the repair failed on and could not put
    // back as they were.
    void Finished(const QStringList& unrepairable, const QStringList& damaged);

  private:
    void Run(const QString& folder);

    TRepairOne FRepair;
    std::thread FWorker;
    std::atomic<bool> FStop{false};
    bool FRunning = false;
};
