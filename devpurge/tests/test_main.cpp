// Test entry: a QApplication, and an environment in which a test that forgets to configure
// its platform finds no devices, no registry and restarts nothing.

#include <QApplication>
#include <QTemporaryDir>

#include <cstdlib>
#include <gtest/gtest.h>

int main(int argc, char** argv) {
    QTemporaryDir empty;
    if (!empty.isValid()) {
        return 1;
    }
    const std::string root = empty.path().toStdString();
    setenv("DEVPURGE_SYSFS", (root + "/no-sysfs").c_str(), 1);
    setenv("DEVPURGE_REGISTRY", (root + "/no-registry.reg").c_str(), 1);
    setenv("DEVPURGE_REBOOT_COMMAND", "", 1);
    // Listing the tests at build time happens without a display.
    if (std::getenv("QT_QPA_PLATFORM") == nullptr && std::getenv("DISPLAY") == nullptr &&
        std::getenv("WAYLAND_DISPLAY") == nullptr) {
        setenv("QT_QPA_PLATFORM", "offscreen", 1);
    }
    QApplication app(argc, argv);
    ::testing::InitGoogleTest(&argc, argv);
    return RUN_ALL_TESTS();
}
