// SPDX-License-Identifier: GPL-3.0-or-later
#include "SessionAnnouncer.h"

#include <QWidget>

#include "SessionMessages.h"
#include "capture/CaptureSession.h"
#include "widgets/Announcer.h"

TSessionAnnouncer::TSessionAnnouncer(QWidget* owner, TCaptureSession* session)
    : QObject(owner), FSession(session), FAnnouncer(new TAnnouncer(owner)) {
    setObjectName(QStringLiteral("SessionAnnouncer"));
    connect(session, &TCaptureSession::StateChanged, this, &TSessionAnnouncer::PresenceChanged);
    connect(session, &TCaptureSession::OperationEnded, this, &TSessionAnnouncer::OperationEnded);
}

void TSessionAnnouncer::PresenceChanged() {
    const bool lost = FSession->CameraLost();
    const bool stalled = !lost && FSession->CameraStalled();
    if (lost == FLost && stalled == FStalled)
        return;
    const bool wasGone = FLost || FStalled;
    FLost = lost;
    FStalled = stalled;
    // Read as one sentence after another, as the notice is.
    if (lost || stalled)
        FAnnouncer->Announce(CameraNotice(lost, stalled).simplified());
    else if (wasGone)
        FAnnouncer->Announce(CameraBackAnnouncement());
}

void TSessionAnnouncer::OperationEnded(const TOutcome& outcome) {
    FAnnouncer->Announce(OutcomeAnnouncement(outcome));
}
