// SPDX-License-Identifier: GPL-3.0-or-later
// The one entry point of every test executable of the suite. Each test
// process gets fresh, empty stand-ins for what a test must never touch for
// real: the user's configuration folder (so "Pomvira.ini" is never the real
// one), the machine's cameras and microphones (only the built-in test devices
// are listed), the system's device tree, the device remover's registry file
// and its restart command. Widgets use the offscreen platform unless a window system
// was chosen (the X11 tests run under Xvfb).
//
// Listing the tests (CTest does it just before running them) needs neither
// an application object nor a display.
#include <QApplication>
#include <QDir>
#include <QTemporaryDir>
#include <cstdlib>
#include <gmock/gmock.h>

int main(int argc, char** argv) {
    testing::InitGoogleMock(&argc, argv);
    if (GTEST_FLAG_GET(list_tests))
        return RUN_ALL_TESTS();

    QTemporaryDir root;
    if (!root.isValid())
        return 1;
    const QByteArray base = QFile::encodeName(root.path());
    QDir(root.path()).mkpath(QStringLiteral("config"));
    setenv("XDG_CONFIG_HOME", (base + "/config").constData(), 1);
    setenv("POMVIRA_NO_REAL_DEVICES", "1", 1);
    setenv("DEVPURGE_SYSFS", (base + "/no-sysfs").constData(), 1);
    setenv("DEVPURGE_REGISTRY", (base + "/no-registry.reg").constData(), 1);
    setenv("DEVPURGE_REBOOT_COMMAND", "", 1);
    if (!std::getenv("QT_QPA_PLATFORM") && !std::getenv("DISPLAY") &&
        !std::getenv("WAYLAND_DISPLAY")) {
        setenv("QT_QPA_PLATFORM", "offscreen", 1);
    }
    QApplication app(argc, argv);
    return RUN_ALL_TESTS();
}
