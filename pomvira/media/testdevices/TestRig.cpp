// SPDX-License-Identifier: GPL-3.0-or-later
#include "TestRig.h"

#include <QObject>
#include <QSocketNotifier>
#include <algorithm>
#include <climits>
#include <csignal>
#include <cstdlib>
#include <sys/socket.h>
#include <unistd.h>

#include <glib.h>

#include "TestDevices.h"
#include "media/gst/RecordingFileSink.h"

namespace media::gst {

namespace {

// The test camera that SIGUSR1 unplugs and SIGUSR2 plugs back.
const char* const kUnpluggedTestCamera = "Test Camera 1";

int g_signalPipe[2] = {-1, -1};

void OnSignal(int signal) {
    const char byte = char(signal);
    // Only async-signal-safe work here: the event loop does the rest.
    [[maybe_unused]] ssize_t n = write(g_signalPipe[1], &byte, 1);
}

// SIGUSR1 and SIGUSR2 unplug and plug back the first test camera, so that
// demos and tests can show a camera going away.
void HandlePlugSignals(QObject* owner) {
    if (g_signalPipe[0] >= 0 ||
        socketpair(AF_UNIX, SOCK_STREAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0, g_signalPipe) != 0)
        return;
    auto* notifier = new QSocketNotifier(g_signalPipe[0], QSocketNotifier::Read, owner);
    QObject::connect(notifier, &QSocketNotifier::activated, owner, [] {
        char byte;
        while (read(g_signalPipe[0], &byte, 1) == 1)
            PlugTestDevice(kUnpluggedTestCamera, byte == SIGUSR2);
    });
    struct sigaction action {};
    action.sa_handler = OnSignal;
    sigemptyset(&action.sa_mask);
    action.sa_flags = SA_RESTART;
    sigaction(SIGUSR1, &action, nullptr);
    sigaction(SIGUSR2, &action, nullptr);
}

// The pause before each write of a recording's file that
// POMVIRA_TEST_SLOW_WRITE_MS asks for; 0 without it.
int SlowWriteMs() {
    const char* knob = std::getenv("POMVIRA_TEST_SLOW_WRITE_MS");
    if (!knob)
        return 0;
    return int(std::clamp<long>(std::strtol(knob, nullptr, 10), 0, INT_MAX));
}

}  // namespace

bool InstallTestRig(QObject* signalOwner) {
    SetRecordingWriteDelay(SlowWriteMs);
    const char* count = g_getenv("POMVIRA_TEST_DEVICES");
    if (!count)
        return false;
    if (signalOwner)
        HandlePlugSignals(signalOwner);
    return RegisterTestDevices(int(g_ascii_strtoll(count, nullptr, 10)));
}

}  // namespace media::gst
