// SPDX-License-Identifier: GPL-3.0-or-later
// What the camera program asks of the window system beyond Qt's own window
// flags: the platform it runs on, and keeping its second top-level window
// out of the task bar.
#pragma once

#include <QByteArray>

class QWidget;

// The environment that decides the platform.
struct TPlatformEnvironment {
    QByteArray QtPlatform;      // QT_QPA_PLATFORM
    bool PlatformArgument;      // "-platform" on the command line
    QByteArray WaylandDisplay;  // WAYLAND_DISPLAY
    QByteArray SessionType;     // XDG_SESSION_TYPE
    QByteArray X11Display;      // DISPLAY
};

// Whether the program should run through XWayland: on a Wayland desktop that
// also offers an X server, when the user chose no platform. Wayland lets no
// program place its windows, and the panel belongs under the preview window.
bool PreferXWayland(const TPlatformEnvironment& environment);

// Reads the environment and the command line and, where XWayland is
// preferred, asks Qt for its X11 platform (QT_QPA_PLATFORM=xcb, Wayland as
// the fallback). Call before the application object is made; returns true
// when it set the variable, which the caller then removes again
// (RestorePlatformChoice) so that the programs it starts choose their own
// platform.
bool ChooseWindowSystem(int argc, char** argv);
void RestorePlatformChoice();

// Keeps a top-level window out of the task bar and the pager: the program has
// one task bar entry, its other window belongs to that one. Call while the
// window is not mapped yet (from its show event); it acts on X11 only, where
// the window manager reads the window's state when it is mapped.
void KeepOutOfTaskbar(QWidget* window);

// Whether a window's outline is drawn by its shape alone (its mask): on an X
// server with no compositing manager, where an alpha channel cannot show
// the desktop through a window anyway. A compositor draws the alpha channel,
// and some ignore window shapes (weston's, for programs on XWayland): a
// skinned window there needs its see-through buffer. Asked once the
// application object exists; false on any other window system.
bool ShapeAloneDrawsOutlines();
