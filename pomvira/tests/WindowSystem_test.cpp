// SPDX-License-Identifier: GPL-3.0-or-later
// The platform the program asks Qt for: XWayland on a Wayland desktop that
// offers it, unless the user chose a platform.
#include <gtest/gtest.h>

#include "app/WindowSystem.h"

namespace {

TPlatformEnvironment Wayland() {
    return {"", false, "wayland-0", "wayland", ":0"};
}

}  // namespace

TEST(PreferXWayland, OnAWaylandDesktopWithXWaylandAndNoChoice) {
    EXPECT_TRUE(PreferXWayland(Wayland()));
    // Either sign of a Wayland session counts.
    TPlatformEnvironment socketOnly = Wayland();
    socketOnly.SessionType = "";
    EXPECT_TRUE(PreferXWayland(socketOnly));
    TPlatformEnvironment sessionOnly = Wayland();
    sessionOnly.WaylandDisplay = "";
    EXPECT_TRUE(PreferXWayland(sessionOnly));
}

TEST(PreferXWayland, NeverAgainstTheUsersChoiceOrWithoutAnXServer) {
    TPlatformEnvironment chosen = Wayland();
    chosen.QtPlatform = "wayland";
    EXPECT_FALSE(PreferXWayland(chosen));
    chosen.QtPlatform = "xcb";
    EXPECT_FALSE(PreferXWayland(chosen));  // already X11: nothing to change
    TPlatformEnvironment argument = Wayland();
    argument.PlatformArgument = true;
    EXPECT_FALSE(PreferXWayland(argument));
    TPlatformEnvironment noXWayland = Wayland();
    noXWayland.X11Display = "";
    EXPECT_FALSE(PreferXWayland(noXWayland));
    // An X11 session is left to Qt.
    EXPECT_FALSE(PreferXWayland({"", false, "", "x11", ":0"}));
}

TEST(ChooseWindowSystem, SetsTheX11PlatformOnlyUntilRestored) {
    const QByteArray display = qgetenv("DISPLAY"), platform0 = qgetenv("QT_QPA_PLATFORM");
    qputenv("WAYLAND_DISPLAY", "wayland-test");
    qputenv("DISPLAY", ":77");
    qunsetenv("QT_QPA_PLATFORM");
    char name[] = "Pomvira";
    char* plain[] = {name, nullptr};
    EXPECT_TRUE(ChooseWindowSystem(1, plain));
    EXPECT_EQ(qgetenv("QT_QPA_PLATFORM"), "xcb;wayland");
    RestorePlatformChoice();
    EXPECT_FALSE(qEnvironmentVariableIsSet("QT_QPA_PLATFORM"));

    char option[] = "-platform";
    char platform[] = "wayland";
    char* withArgument[] = {name, option, platform, nullptr};
    EXPECT_FALSE(ChooseWindowSystem(3, withArgument));
    EXPECT_FALSE(qEnvironmentVariableIsSet("QT_QPA_PLATFORM"));
    qunsetenv("WAYLAND_DISPLAY");
    qputenv("DISPLAY", display);
    qputenv("QT_QPA_PLATFORM", platform0);
}
