// SPDX-License-Identifier: GPL-3.0-or-later
// The user's mail program, reached through the desktop's xdg-email: it
// starts the mail program the user chose (or the one named by the MAILER
// variable) with a new message, and ends when that program is done with the
// message; its exit status is the result, 0 meaning success. Whether it can
// be reached is decided once per run.
#pragma once

#include <QString>

#include "ChildProcess.h"

// Opens the mail program's window for a new message with the subject and
// the file as its attachment (the subject alone when no file is at the
// path): the result of xdg-email when it ends within the hand-over (0 when
// the message was handed over), kChildFailed when there is no mail program,
// or kChildRunning; `mail` then gives the result when it comes.
int StartMailProgram(TChildProcess& mail, const QString& subject, const QString& path,
                     TChildProcess::TLateResult lateResult);

// Tests choose the program that mail goes through (a name looked up on PATH,
// or a full path; empty: xdg-email) and make the next send decide again
// whether it can be reached.
void SetMailProgramForTesting(const QString& program);
