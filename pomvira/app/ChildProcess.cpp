// SPDX-License-Identifier: GPL-3.0-or-later
#include "ChildProcess.h"

#include <QApplication>
#include <QEvent>
#include <QProcess>

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
    QProcess child;
    child.setProcessChannelMode(QProcess::ForwardedChannels);
    child.setStandardInputFile(QProcess::nullDevice());
    child.start(program, arguments, QIODevice::ReadOnly);

    const TInputBlocker blocker;
    // Each round waits for the next event (the child's end is one) and
    // handles it with everything else that came: frames, paints, timers.
    while (child.state() != QProcess::NotRunning && !ApplicationTerminating())
        QCoreApplication::processEvents(QEventLoop::AllEvents | QEventLoop::WaitForMoreEvents);

    if (child.state() != QProcess::NotRunning) {
        child.kill();
        child.waitForFinished(-1);
        return kChildFailed;
    }
    if (child.error() == QProcess::FailedToStart || child.exitStatus() != QProcess::NormalExit)
        return kChildFailed;
    return child.exitCode();
}
