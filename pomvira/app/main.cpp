// SPDX-License-Identifier: GPL-3.0-or-later
// Program entry of the camera program.
#include <QSocketNotifier>
#include <QWidget>
#include <csignal>
#include <cstdlib>
#include <sys/socket.h>
#include <unistd.h>

#include "Application.h"
#include "WindowSystem.h"
#include "forms/frmControl.h"
#include "media/MediaUtil.h"
#include "media/gst/GstMediaSystem.h"

namespace {

int g_signalPipe[2] = {-1, -1};

// The test camera that SIGUSR1 unplugs and SIGUSR2 plugs back.
const char* const kUnpluggedTestCamera = "Test Camera 1";

void OnSignal(int signal) {
    const char byte = char(signal);
    // Only async-signal-safe work here: the event loop does the rest.
    [[maybe_unused]] ssize_t n = write(g_signalPipe[1], &byte, 1);
}

void HandleSignal(int signal) {
    if (signal == SIGUSR1 || signal == SIGUSR2) {
        media::gst::PlugTestDevice(kUnpluggedTestCamera, signal == SIGUSR2);
        return;
    }
    TerminateApplicationOnSignal();
    // A message box open during start-up would keep the program waiting.
    if (QWidget* modal = QApplication::activeModalWidget())
        modal->close();
}

// SIGTERM and SIGINT end the program through the orderly path, so that a
// running recording is completed and the settings are written. With the
// built-in test devices, SIGUSR1 unplugs the first test camera and SIGUSR2
// plugs it back, so that demos and tests can show a camera going away.
void HandleSignals(QObject* parent) {
    if (socketpair(AF_UNIX, SOCK_STREAM, 0, g_signalPipe) != 0)
        return;
    auto* notifier = new QSocketNotifier(g_signalPipe[0], QSocketNotifier::Read, parent);
    QObject::connect(notifier, &QSocketNotifier::activated, parent, [] {
        char byte;
        if (read(g_signalPipe[0], &byte, 1) == 1)
            HandleSignal(byte);
    });
    struct sigaction action {};
    action.sa_handler = OnSignal;
    sigemptyset(&action.sa_mask);
    action.sa_flags = SA_RESTART;
    sigaction(SIGTERM, &action, nullptr);
    sigaction(SIGINT, &action, nullptr);
    if (std::getenv("POMVIRA_TEST_DEVICES")) {
        sigaction(SIGUSR1, &action, nullptr);
        sigaction(SIGUSR2, &action, nullptr);
    }
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
