// SPDX-License-Identifier: GPL-3.0-or-later
// Running another program from the user-interface thread without freezing
// the windows: the event loop keeps running while the child runs, so every
// window keeps painting and the preview keeps showing the camera, but the
// user's input to the program's windows is dropped, as it is for windows
// under a modal dialog.
#pragma once

#include <QObject>
#include <QString>
#include <QStringList>
#include <functional>

class QProcess;

// The result of a child that could not be started, ended by a signal, or was
// given up because the application is terminating.
constexpr int kChildFailed = -1;
// The result of a child that still runs when the wait for it ended.
constexpr int kChildRunning = -2;

// Starts `program` with `arguments` as its argument vector (no shell sees
// them) and waits for it to end. Its standard output and error go to the
// program's own; its standard input is empty. Returns its exit status, or
// kChildFailed. When the application is asked to terminate meanwhile, the
// wait ends at once and the child is killed (programs it started itself go
// on).
int RunChildProcess(const QString& program, const QStringList& arguments);

// A child that the program hands something to and then lets go on by itself:
// Start waits for it as RunChildProcess does, but at most `waitMs`; a child
// still running then keeps running while the program takes input again, and
// its result, once it ends, goes to the handler given to Start (on the
// user-interface thread, exactly once). Destroying the object stops watching
// the child: the child itself is ended without a result, and programs it
// started go on (a mail program started by xdg-email keeps its window).
class TChildProcess : public QObject {
    Q_OBJECT
  public:
    using TLateResult = std::function<void(int result)>;

    explicit TChildProcess(QObject* parent = nullptr);
    ~TChildProcess() override;

    // The exit status of a child that ended within `waitMs`, kChildFailed,
    // or kChildRunning: then `lateResult` receives the result when the child
    // ends (with no handler the result is dropped).
    int Start(const QString& program, const QStringList& arguments, int waitMs,
              TLateResult lateResult);
    bool Running() const;

  private:
    int Result() const;
    void Stop();

    QProcess* FProcess = nullptr;
    TLateResult FLateResult;
};
