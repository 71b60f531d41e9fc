// SPDX-License-Identifier: GPL-3.0-or-later
#include "ChildProcess.h"

#include <QApplication>
#include <QEvent>
#include <QProcess>
#include <QTimer>

#include "Application.h"

namespace {

// Drops the user's input to every object of the application while it is
// installed. Windows still get their paint, resize, show and close events,
// and the pointer's entering and leaving (a button's highlight follows the
// pointer, it just cannot be pressed). A modal dialog that opens meanwhile
// (an error report) takes its input as usual; it blocks the other windows
// itself.
class TInputBlocker : public QObject {
  public:
    TInputBlocker() { qApp->installEventFilter(this); }
    ~TInputBlocker() override { qApp->removeEventFilter(this); }

  protected:
    bool eventFilter(QObject*, QEvent* event) override {
        if (QApplication::activeModalWidget())
            return false;
        switch (event->type()) {
            case QEvent::MouseButtonPress:
            case QEvent::MouseButtonRelease:
            case QEvent::MouseButtonDblClick:
            case QEvent::MouseMove:
            case QEvent::NonClientAreaMouseButtonPress:
            case QEvent::NonClientAreaMouseButtonRelease:
            case QEvent::NonClientAreaMouseButtonDblClick:
            case QEvent::NonClientAreaMouseMove:
            case QEvent::Wheel:
            case QEvent::KeyPress:
            case QEvent::KeyRelease:
            case QEvent::ShortcutOverride:
            case QEvent::Shortcut:
            case QEvent::ContextMenu:
            case QEvent::TouchBegin:
            case QEvent::TouchUpdate:
            case QEvent::TouchEnd:
            case QEvent::TouchCancel:
            case QEvent::TabletPress:
            case QEvent::TabletMove:
            case QEvent::TabletRelease:
            case QEvent::Gesture:
            case QEvent::NativeGesture:
                return true;
            default:
                return false;
        }
    }
};

}  // namespace

int RunChildProcess(const QString& program, const QStringList& arguments) {
    TChildProcess child;
    return child.Start(program, arguments, -1, nullptr);
}

TChildProcess::TChildProcess(QObject* parent) : QObject(parent) {}

TChildProcess::~TChildProcess() {
    Stop();
}

bool TChildProcess::Running() const {
    return FProcess && FProcess->state() != QProcess::NotRunning;
}

int TChildProcess::Result() const {
    if (FProcess->error() == QProcess::FailedToStart ||
        FProcess->exitStatus() != QProcess::NormalExit)
        return kChildFailed;
    return FProcess->exitCode();
}

void TChildProcess::Stop() {
    if (!FProcess)
        return;
    // No result is delivered for a child that is given up.
    FProcess->disconnect(this);
    FLateResult = nullptr;
    if (FProcess->state() != QProcess::NotRunning) {
        FProcess->kill();
        FProcess->waitForFinished(-1);
    }
    delete FProcess;
    FProcess = nullptr;
}

int TChildProcess::Start(const QString& program, const QStringList& arguments, int waitMs,
                         TLateResult lateResult) {
    Stop();
    FProcess = new QProcess;
    FProcess->setProcessChannelMode(QProcess::ForwardedChannels);
    FProcess->setStandardInputFile(QProcess::nullDevice());
    FProcess->start(program, arguments, QIODevice::ReadOnly);

    {
        const TInputBlocker blocker;
        // The end of the wait wakes the loop and ends it (a flag, not a
        // clock: a coarse timer may fire a little early).
        bool waitOver = false;
        QTimer wake;
        wake.setSingleShot(true);
        connect(&wake, &QTimer::timeout, this, [&waitOver] { waitOver = true; });
        if (waitMs >= 0)
            wake.start(waitMs);
        // Each round waits for the next event (the child's end is one) and
        // handles it with everything else that came: frames, paints, timers.
        while (Running() && !ApplicationTerminating() && !waitOver)
            QCoreApplication::processEvents(QEventLoop::AllEvents |
                                            QEventLoop::WaitForMoreEvents);
    }

    if (Running() && ApplicationTerminating()) {
        Stop();
        return kChildFailed;
    }
    if (Running()) {
        FLateResult = std::move(lateResult);
        connect(FProcess, &QProcess::finished, this, [this] {
            const int result = Result();
            // Once: the handler is dropped before it runs.
            TLateResult handler = std::move(FLateResult);
            FLateResult = nullptr;
            if (handler)
                handler(result);
        });
        return kChildRunning;
    }
    const int result = Result();
    delete FProcess;
    FProcess = nullptr;
    return result;
}
