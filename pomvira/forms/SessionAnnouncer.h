// SPDX-License-Identifier: GPL-3.0-or-later
// What the capture session tells, said to screen readers as it happens
// (TAnnouncer): a recording started, ended by the user or by the camera, a
// picture saved, the camera gone, giving no picture, or back. Each is said
// once, in the program's language; the windows show the same (the preview's
// top bar and notice, the strip), where a screen reader would only find it
// by looking.
#pragma once

#include <QObject>

class TAnnouncer;
class TCaptureSession;
class QWidget;
struct TOutcome;

class TSessionAnnouncer : public QObject {
    Q_OBJECT
  public:
    // The announcements lie in `owner`'s window; a child of it.
    TSessionAnnouncer(QWidget* owner, TCaptureSession* session);
    TAnnouncer* Announcer() const { return FAnnouncer; }

  private:
    void PresenceChanged();
    void OperationEnded(const TOutcome& outcome);

    TCaptureSession* FSession;
    TAnnouncer* FAnnouncer;
    bool FLost = false;
    bool FStalled = false;
};
