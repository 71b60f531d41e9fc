// SPDX-License-Identifier: GPL-3.0-or-later
#include "StartupRepair.h"

#include <QProgressDialog>

#include "app/Application.h"
#include "capture/RecordingRepairRun.h"
#include "files/NamedRecordings.h"
#include "files/RecordingRepair.h"
#include "files/TextConv.h"

namespace {

// How long the repair runs before its progress bar shows.
constexpr int kRepairProgressAfterMs = 1000;

}  // namespace

TStartupRepair::TStartupRepair(QWidget* owner, TRecordingDisk disk)
    : QObject(owner), FOwner(owner), FDisk(std::move(disk)) {}

TStartupRepair::~TStartupRepair() {
    FRun.reset();
    delete FProgress;
}

bool TStartupRepair::Running() const {
    return FRun && FRun->Running();
}

void TStartupRepair::Start(const QString& videoFolder) {
    // Each file repaired through the disk given, when one was.
    TRepairOne repairOne;
    if (FDisk)
        repairOne = [disk = FDisk](const QString& path) { return RepairRecording(path, disk); };
    FRun = std::make_unique<TRecordingRepairRun>(nullptr, std::move(repairOne));
    connect(FRun.get(), &TRecordingRepairRun::Progress, this,
            [this](int done, int total) { ShowProgress(done, total); });
    connect(FRun.get(), &TRecordingRepairRun::Finished, this,
            [this](const QStringList& unrepairable, const QStringList& damaged) {
                Finished(unrepairable, damaged);
            });
    FRun->Start(videoFolder);
}

void TStartupRepair::ShowProgress(int done, int total) {
    if (total == 0)
        return;
    if (!FProgress) {
        FProgress = new QProgressDialog(FOwner);
        FProgress->setObjectName(QStringLiteral("RepairProgress"));
        FProgress->setWindowTitle(QString::fromLatin1(kApplicationTitle));
        FProgress->setLabelText(
            UiText("Messages", "Réparation des enregistrements interrompus…"));
        FProgress->setWindowModality(Qt::NonModal);
        FProgress->setWindowFlag(Qt::WindowStaysOnTopHint, true);
        FProgress->setCancelButton(nullptr);
        FProgress->setAutoClose(false);
        FProgress->setAutoReset(false);
        FProgress->setMinimumDuration(kRepairProgressAfterMs);
        // One file gives no steps to count: the bar shows work going on.
        FProgress->setRange(0, total == 1 ? 0 : total);
        // Starts the clock after which the bar shows.
        FProgress->setValue(0);
    }
    if (total > 1)
        FProgress->setValue(done);
}

void TStartupRepair::Finished(const QStringList& unrepairable, const QStringList& damaged) {
    delete FProgress;
    FProgress = nullptr;
    // Each one is named once, not at every start: it counts as named once
    // the user has answered the message, not before.
    TNamedRecordings named(QStringLiteral("Pomvira.unrepairable"));
    const QStringList freshUnrepairable = named.NotNamedBefore(unrepairable);
    const QStringList freshDamaged = named.NotNamedBefore(damaged);
    if (freshUnrepairable.isEmpty() && freshDamaged.isEmpty()) {
        named.Remember(unrepairable + damaged);
        return;
    }
    QStringList parts;
    if (!freshDamaged.isEmpty())
        parts.append(DamagedRecordingsText(freshDamaged));
    if (!freshUnrepairable.isEmpty())
        parts.append(UnrepairableRecordingsText(freshUnrepairable));
    const QString text = parts.join(QStringLiteral("\r\n\r\n"));
    // The message stays until the user answers it: a box that closes
    // without an answer (taken away by the window system) comes back.
    for (;;) {
        if (ApplicationTerminating())
            return;
        if (ShowMessageBox(FOwner, text, QString::fromLatin1(kApplicationTitle),
                           QMessageBox::Warning) != QMessageBox::NoButton)
            break;
    }
    named.Remember(unrepairable + damaged);
}
