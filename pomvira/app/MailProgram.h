// SPDX-License-Identifier: GPL-3.0-or-later
// The user's mail program, reached through the desktop's xdg-email: it
// starts the mail program the user chose (or the one named by the MAILER
// variable) with a new message, and ends when that program is done with the
// message; its exit status is the result, 0 meaning success. Whether it can
// be reached is decided once for the object (the panel's: once per run).
#pragma once

#include <QString>

#include "ChildProcess.h"

class TMailProgram {
  public:
    // Mail goes through xdg-email, or through `command` (a name looked up
    // on PATH, or a full path).
    TMailProgram();
    explicit TMailProgram(const QString& command);

    // Opens the mail program's window for a new message with the subject
    // and the file as its attachment (the subject alone when no file is at
    // the path): the result of xdg-email when it ends within the hand-over
    // (0 when the message was handed over), kChildFailed when there is no
    // mail program, or kChildRunning; `mail` then gives the result when it
    // comes. Whether the command can be found is decided at the first send.
    int Start(TChildProcess& mail, const QString& subject, const QString& path,
              TChildProcess::TLateResult lateResult);

  private:
    QString FCommand;
    bool FDecided = false;
    QString FProgram;  // the command's full path once decided, empty without one
};
