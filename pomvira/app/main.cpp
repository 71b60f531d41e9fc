// SPDX-License-Identifier: GPL-3.0-or-later
// Program entry of the camera program.
#include <QSocketNotifier>
#include <QWidget>
#include <csignal>
#include <sys/socket.h>
#include <unistd.h>

#include "Application.h"
#include "WindowSystem.h"
#include "forms/frmControl.h"
#include "media/MediaUtil.h"
#include "media/gst/GstMediaSystem.h"
#include "media/testdevices/TestRig.h"

namespace {

int g_signalPipe[2] = {-1, -1};

void OnSignal(int signal) {
    const char byte = char(signal);
    // Only async-signal-safe work here: the event loop does the rest.
    [[maybe_unused]] ssize_t n = write(g_signalPipe[1], &byte, 1);
}

void HandleSignal() {
    TerminateApplicationOnSignal();
    // A message box open during start-up would keep the program waiting.
    if (QWidget* modal = QApplication::activeModalWidget())
        modal->close();
}

// SIGTERM and SIGINT end the program through the orderly path, so that a
// running recording is completed and the settings are written.
void HandleSignals(QObject* parent) {
    if (socketpair(AF_UNIX, SOCK_STREAM, 0, g_signalPipe) != 0)
        return;
    auto* notifier = new QSocketNotifier(g_signalPipe[0], QSocketNotifier::Read, parent);
    QObject::connect(notifier, &QSocketNotifier::activated, parent, [] {
        char byte;
        if (read(g_signalPipe[0], &byte, 1) == 1)
            HandleSignal();
    });
    struct sigaction action {};
    action.sa_handler = OnSignal;
    sigemptyset(&action.sa_mask);
    action.sa_flags = SA_RESTART;
    sigaction(SIGTERM, &action, nullptr);
    sigaction(SIGINT, &action, nullptr);
}

}  // namespace

int main(int argc, char** argv) {
    // On a Wayland desktop the program runs through XWayland where it can:
    // only there may it place its windows (the panel under the preview).
    const bool choseX11 = ChooseWindowSystem(argc, argv);
    // The application object; the media framework is initialised for the
    // user-interface thread with it.
    TApplication app(argc, argv);
    if (choseX11)
        RestorePlatformChoice();
    media::SetMediaSystem(media::gst::GstMediaSystem());
    // The built-in test devices and test knobs, where the environment asks
    // for them (a camera to try the program without one).
    media::gst::InstallTestRig(&app);
    // Failures while the graph's events are handled go to the same report.
    media::SetExceptionReporter([](const std::exception& e) { ShowException(e); });
    HandleSignals(&app);
    int result = 0;
    {
        // Creating the control panel runs its start-up; a failure there is
        // shown and the program keeps running with the state reached so far.
        std::unique_ptr<TControlForm> controlForm;
        RunHandler([&] { controlForm = std::make_unique<TControlForm>(); });
        // Start-up may already have asked to terminate (no camera, or a
        // signal while a start-up message was shown): then no loop runs.
        if (controlForm && !ApplicationTerminating()) {
            controlForm->show();
            result = app.exec();
        }
    }
    media::SetMediaSystem(nullptr);
    return result;
}
