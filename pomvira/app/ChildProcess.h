// SPDX-License-Identifier: GPL-3.0-or-later
// Running another program to its end from the user-interface thread without
// freezing the windows: the event loop keeps running while the child runs,
// so every window keeps painting and the preview keeps showing the camera,
// but the user's input to the program's windows is dropped, as it is for
// windows under a modal dialog.
#pragma once

#include <QString>
#include <QStringList>

// The result of a child that could not be started, ended by a signal, or was
// given up because the application is terminating.
constexpr int kChildFailed = -1;

// Starts `program` with `arguments` as its argument vector (no shell sees
// them) and waits for it to end. Its standard output and error go to the
// program's own; its standard input is empty. Returns its exit status, or
// kChildFailed. When the application is asked to terminate meanwhile, the
// wait ends at once and the child is killed (programs it started itself go
// on).
int RunChildProcess(const QString& program, const QStringList& arguments);
