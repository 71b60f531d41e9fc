// SPDX-License-Identifier: GPL-3.0-or-later
#include "WindowSystem.h"

#include <QGuiApplication>
#include <QWidget>
#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <vector>
#include <xcb/xcb.h>

bool PreferXWayland(const TPlatformEnvironment& environment) {
    if (!environment.QtPlatform.isEmpty() || environment.PlatformArgument)
        return false;
    const bool wayland =
        !environment.WaylandDisplay.isEmpty() || environment.SessionType == "wayland";
    return wayland && !environment.X11Display.isEmpty();
}

bool ChooseWindowSystem(int argc, char** argv) {
    TPlatformEnvironment environment{qgetenv("QT_QPA_PLATFORM"), false, qgetenv("WAYLAND_DISPLAY"),
                                     qgetenv("XDG_SESSION_TYPE"), qgetenv("DISPLAY")};
    for (int i = 1; i < argc; ++i) {
        if (std::strcmp(argv[i], "-platform") == 0 || std::strcmp(argv[i], "--platform") == 0)
            environment.PlatformArgument = true;
    }
    if (!PreferXWayland(environment))
        return false;
    // Wayland stays the fallback, should the X server not answer.
    qputenv("QT_QPA_PLATFORM", "xcb;wayland");
    return true;
}

void RestorePlatformChoice() {
    qunsetenv("QT_QPA_PLATFORM");
}

namespace {

xcb_atom_t Atom(xcb_connection_t* c, const char* name) {
    xcb_intern_atom_reply_t* reply =
        xcb_intern_atom_reply(c, xcb_intern_atom(c, 0, uint16_t(std::strlen(name)), name), nullptr);
    const xcb_atom_t atom = reply ? reply->atom : xcb_atom_t(XCB_ATOM_NONE);
    std::free(reply);
    return atom;
}

xcb_connection_t* X11Connection() {
    auto* x11 = qGuiApp ? qGuiApp->nativeInterface<QNativeInterface::QX11Application>() : nullptr;
    return x11 ? x11->connection() : nullptr;
}

std::vector<xcb_atom_t> WindowStates(xcb_connection_t* c, xcb_window_t window, xcb_atom_t state) {
    std::vector<xcb_atom_t> states;
    xcb_get_property_reply_t* reply = xcb_get_property_reply(
        c, xcb_get_property(c, 0, window, state, XCB_ATOM_ATOM, 0, 1024), nullptr);
    if (reply && reply->format == 32) {
        const auto* atoms = static_cast<const xcb_atom_t*>(xcb_get_property_value(reply));
        states.assign(atoms, atoms + xcb_get_property_value_length(reply) / 4);
    }
    std::free(reply);
    return states;
}

}  // namespace

void KeepOutOfTaskbar(QWidget* window) {
    xcb_connection_t* c = X11Connection();
    if (!c)
        return;
    const auto id = xcb_window_t(window->winId());
    const xcb_atom_t state = Atom(c, "_NET_WM_STATE");
    // Qt adds its own states when it maps the window and keeps those it finds.
    std::vector<xcb_atom_t> states = WindowStates(c, id, state);
    for (const char* name : {"_NET_WM_STATE_SKIP_TASKBAR", "_NET_WM_STATE_SKIP_PAGER"}) {
        const xcb_atom_t atom = Atom(c, name);
        if (std::find(states.begin(), states.end(), atom) == states.end())
            states.push_back(atom);
    }
    xcb_change_property(c, XCB_PROP_MODE_REPLACE, id, state, XCB_ATOM_ATOM, 32,
                        uint32_t(states.size()), states.data());
    xcb_flush(c);
}

bool ShapeAloneDrawsOutlines() {
    xcb_connection_t* c = X11Connection();
    if (!c)
        return false;
    // The screen of the display's name ("host:display.screen").
    const QByteArray display = qgetenv("DISPLAY");
    const int colon = display.lastIndexOf(':');
    const int dot = display.indexOf('.', colon + 1);
    const QByteArray screen = colon >= 0 && dot > colon ? display.mid(dot + 1) : QByteArray("0");
    const xcb_atom_t manager = Atom(c, ("_NET_WM_CM_S" + screen).constData());
    if (manager == XCB_ATOM_NONE)
        return false;
    xcb_get_selection_owner_reply_t* reply =
        xcb_get_selection_owner_reply(c, xcb_get_selection_owner(c, manager), nullptr);
    const bool compositing = !reply || reply->owner != XCB_NONE;
    std::free(reply);
    return !compositing;
}
