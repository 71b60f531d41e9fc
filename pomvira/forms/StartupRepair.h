// SPDX-License-Identifier: GPL-3.0-or-later
// Recordings cut off by a crash or a power cut, repaired at start-up: in the
// background once the windows are shown, with a progress bar (a window of
// the control panel's) when it takes longer than a second. Those that cannot
// be repaired, or whose repair failed, are named in one message, each once,
// not at every start: they count as named once the user has answered it.
#pragma once

#include <QObject>
#include <QStringList>
#include <memory>

#include "files/RecordingFile.h"

class QProgressDialog;
class QWidget;
class TRecordingRepairRun;

class TStartupRepair : public QObject {
    Q_OBJECT
  public:
    // The repair's changes go through `disk`.
    explicit TStartupRepair(QWidget* owner, TRecordingDisk disk = {});
    // Stops after the file being repaired (a repair is never cut short).
    ~TStartupRepair() override;

    // Repairs the unfinished recordings of the video folder.
    void Start(const QString& videoFolder);
    bool Running() const;

  private:
    void ShowProgress(int done, int total);
    void Finished(const QStringList& unrepairable, const QStringList& damaged);

    QWidget* FOwner;
    TRecordingDisk FDisk;
    std::unique_ptr<TRecordingRepairRun> FRun;
    QProgressDialog* FProgress = nullptr;
};
