// SPDX-License-Identifier: GPL-3.0-or-later
// Recordings cut off by a crash or a power cut, repaired at start-up: in the
// background once the windows are shown, with a progress bar when it takes
// longer than a second. Those that cannot be repaired are named in one
// message, each once, not at every start.
#include <QProgressDialog>

#include "app/Application.h"
#include "capture/RecordingRepairRun.h"
#include "files/NamedRecordings.h"
#include "files/RecordingRepair.h"
#include "files/TextConv.h"
#include "frmControl.h"

namespace {

// How long the repair runs before its progress bar shows.
constexpr int kRepairProgressAfterMs = 1000;

}  // namespace

bool TControlForm::RepairingRecordings() const {
    return FRepairRun && FRepairRun->Running();
}

void TControlForm::RepairRecordings() {
    FRepairRun = std::make_unique<TRecordingRepairRun>();
    connect(FRepairRun.get(), &TRecordingRepairRun::Progress, this,
            [this](int done, int total) { ShowRepairProgress(done, total); });
    connect(FRepairRun.get(), &TRecordingRepairRun::Finished, this,
            [this](const QStringList& unrepairable, const QStringList& damaged) {
                RepairFinished(unrepairable, damaged);
            });
    FRepairRun->Start(FVideoFolder);
}

void TControlForm::ShowRepairProgress(int done, int total) {
    if (total == 0)
        return;
    if (!FRepairProgress) {
        FRepairProgress = new QProgressDialog(this);
        FRepairProgress->setObjectName(QStringLiteral("RepairProgress"));
        FRepairProgress->setWindowTitle(QString::fromLatin1(kApplicationTitle));
        FRepairProgress->setLabelText(
            UiText("Messages", "Réparation des enregistrements interrompus…"));
        FRepairProgress->setWindowModality(Qt::NonModal);
        FRepairProgress->setWindowFlag(Qt::WindowStaysOnTopHint, true);
        FRepairProgress->setCancelButton(nullptr);
        FRepairProgress->setAutoClose(false);
        FRepairProgress->setAutoReset(false);
        FRepairProgress->setMinimumDuration(kRepairProgressAfterMs);
        // One file gives no steps to count: the bar shows work going on.
        FRepairProgress->setRange(0, total == 1 ? 0 : total);
        // Starts the clock after which the bar shows.
        FRepairProgress->setValue(0);
    }
    if (total > 1)
        FRepairProgress->setValue(done);
}

void TControlForm::RepairFinished(const QStringList& unrepairable, const QStringList& damaged) {
    delete FRepairProgress;
    FRepairProgress = nullptr;
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
        if (ShowMessageBox(this, text, QString::fromLatin1(kApplicationTitle),
                           QMessageBox::Warning) != QMessageBox::NoButton)
            break;
    }
    named.Remember(unrepairable + damaged);
}
