// SPDX-License-Identifier: GPL-3.0-or-later
// Runs the built program as an installer would, on fake trees.

#include <gtest/gtest.h>

#include <QProcess>
#include <QProcessEnvironment>

#include <grp.h>
#include <sys/stat.h>
#include <unistd.h>

#include "FakeTree.h"

namespace {

class DevPurgeProgram : public ::testing::Test {
  protected:
    void SetUp() override {
        env.WriteSettings({{"Cam", {0x12345678}}});
        env.Sysfs().AddDevice("1-1", "1234", "5678");
        env.Sysfs().AddInterface("1-1", "1-1:1.0", "00", "uvcvideo");
        env.Sysfs().AddDevice("1-2", "4321", "8765");
    }

    // Runs DevPurge with the arguments; true when it ended by itself with exit code 0.
    bool Run(const QStringList& arguments, bool asNobody = false) {
        QProcess process;
        QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
        environment.insert("DEVPURGE_REGISTRY", QString::fromStdString(env.RegistryPath()));
        environment.insert("DEVPURGE_SYSFS", QString::fromStdString(env.Sysfs().Root()));
        environment.insert("DEVPURGE_REBOOT_COMMAND", QString::fromStdString(env.RebootCommand()));
        environment.remove("DISPLAY");  // the switches need no window system
        environment.remove("WAYLAND_DISPLAY");
        environment.remove("QT_QPA_PLATFORM");
        process.setProcessEnvironment(environment);
        if (asNobody) {
            process.setChildProcessModifier([] {
                const gid_t nobodyGroup = 65534;
                if (setgroups(1, &nobodyGroup) != 0 || setgid(65534) != 0 || setuid(65534) != 0) {
                    _exit(99);
                }
            });
        }
        process.start(DEVPURGE_EXECUTABLE, arguments);
        if (!process.waitForFinished(60000)) {
            process.kill();
            process.waitForFinished();
            return false;
        }
        return process.exitStatus() == QProcess::NormalExit && process.exitCode() == 0;
    }

    TestEnvironment env;
};

TEST_F(DevPurgeProgram, NoRebootRemovesTheCameraAndEnds) {
    ASSERT_TRUE(Run({"noreboot"}));
    EXPECT_EQ(env.Sysfs().RemoveAttribute("1-1"), "1");
    EXPECT_EQ(env.Sysfs().UnbindAttribute("uvcvideo"), "1-1:1.0");
    EXPECT_EQ(env.Sysfs().RemoveAttribute("1-2"), "");
    EXPECT_FALSE(env.Rebooted());
}

TEST_F(DevPurgeProgram, RebootOnlyRestartsWithoutRemoving) {
    ASSERT_TRUE(Run({"NOREBOOT", "RebootOnly"}));
    EXPECT_TRUE(env.WaitForReboot());
    EXPECT_EQ(env.Sysfs().RemoveAttribute("1-1"), "");
    EXPECT_EQ(env.Sysfs().UnbindAttribute("uvcvideo"), "");
}

TEST_F(DevPurgeProgram, SettingsThatCannotBeOpenedForWritingRemoveNothing) {
    const bool root = geteuid() == 0;
    if (root) {
        // Run as nobody: the tree is readable and its attributes writable for everyone, the
        // registry file only readable.
        for (const std::string& path : {env.Path("."), env.Sysfs().Root() + "/.."}) {
            ASSERT_EQ(chmod(path.c_str(), 0755), 0);
        }
        chmod((env.Sysfs().DeviceDir("1-1") + "/remove").c_str(), 0666);
        chmod((env.Sysfs().Root() + "/bus/usb/drivers/uvcvideo/unbind").c_str(), 0666);
    }
    ASSERT_EQ(chmod(env.RegistryPath().c_str(), 0444), 0);
    ASSERT_TRUE(Run({"NOREBOOT"}, root));
    EXPECT_EQ(env.Sysfs().RemoveAttribute("1-1"), "");
    EXPECT_EQ(env.Sysfs().UnbindAttribute("uvcvideo"), "");

    // The same as nobody with a writable file does remove: the refusal above came from the
    // registry's access, not from the tree.
    ASSERT_EQ(chmod(env.RegistryPath().c_str(), 0666), 0);
    ASSERT_TRUE(Run({"NOREBOOT"}, root));
    EXPECT_EQ(env.Sysfs().RemoveAttribute("1-1"), "1");
}

}  // namespace
