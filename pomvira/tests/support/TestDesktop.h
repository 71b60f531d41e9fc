// SPDX-License-Identifier: GPL-3.0-or-later
// A desktop of a test's own, for tests that run the camera program as a
// user does: an X server (Xvfb) with the openbox window manager, a session
// bus with the accessibility bus and registry of AT-SPI (what a screen
// reader talks to), the processes the test starts (ended when it goes), and
// what the test reads on the X server (window places, screen pixels).
// Nothing of the user's session is used.
#pragma once

#include <gtest/gtest.h>

#include <QByteArray>
#include <QImage>
#include <QProcess>
#include <QProcessEnvironment>
#include <QRect>
#include <QSize>
#include <QString>
#include <QStringList>
#include <QTemporaryDir>
#include <cstdlib>
#include <functional>
#include <memory>
#include <optional>
#include <vector>
#include <xcb/xcb.h>

// Waits, bounded, until `done` holds (events handled meanwhile); true when
// it did.
bool WaitUntil(const std::function<bool()>& done, int timeoutMs);
// Whether a program is on the PATH.
bool HaveProgram(const QString& name);
// The camera program's settings in `dir`/config (its XDG_CONFIG_HOME): the
// folders `dir`/Video and `dir`/Image, and the capture format to start with
// (none: the program chooses). False when they cannot be written.
bool WriteProgramSettings(const QString& dir, const char* videoFormat);

// For a test that needs a screen of `size`: runs it again in a child process
// on an X server of that size, whose failures fail it; true in that child.
bool OnScreenOfItsOwn(const QSize& size);

// A process of the test: ended (SIGTERM, then SIGKILL) when it goes.
class TTestChild {
  public:
    ~TTestChild();
    void Start(const QString& program, const QStringList& args,
               const QProcessEnvironment& env = QProcessEnvironment::systemEnvironment(),
               bool readOutput = false);
    bool Running() const { return FProcess.state() == QProcess::Running; }
    qint64 Pid() const { return FProcess.processId(); }
    QProcess& Process() { return FProcess; }
    // Asks the process to end; its exit code, or nothing when it had to be
    // killed.
    std::optional<int> Stop(int timeoutMs = 20000);
    // Waits for the process to end by itself; its exit code, or nothing.
    std::optional<int> Wait(int timeoutMs);

  private:
    QProcess FProcess;
};

// A connection to an X server and what a test reads there.
class TTestXServer {
  public:
    ~TTestXServer();
    bool Connect(const QByteArray& display);
    xcb_connection_t* Connection() const { return FConnection; }
    xcb_window_t Root() const { return FRoot; }
    xcb_atom_t Atom(const char* name);
    bool HasProperty(xcb_window_t window, const char* property);
    // A property of 32-bit values (windows, atoms, cardinals).
    std::vector<uint32_t> Values(xcb_window_t window, const char* property);
    // A text property (the title: _NET_WM_NAME).
    QString Text(xcb_window_t window, const char* property);
    // Whether _NET_WM_STATE holds `state`; the ICCCM state (1 normal,
    // 3 iconic, 0 withdrawn).
    bool HasState(xcb_window_t window, const char* state);
    uint32_t WmState(xcb_window_t window);
    bool Viewable(xcb_window_t window);
    // The window's rectangle on the screen.
    QRect Geometry(xcb_window_t window);
    // The whole screen.
    QImage Grab();
    std::vector<xcb_window_t> Children(xcb_window_t window);
    // The top-level client windows of process `pid`, as the window manager
    // lists them, in the order it mapped them.
    std::vector<xcb_window_t> Clients(qint64 pid);
    // The camera program's two windows once the window manager manages and
    // shows them: the preview window, and the panel transient for it. False
    // when they did not appear in time.
    bool ProgramWindows(qint64 pid, xcb_window_t* view, xcb_window_t* panel, int timeoutMs = 60000);
    // The mapped top-level windows of process `pid` (also without a window
    // manager), and the shown one that is a dialog (0: none).
    std::vector<xcb_window_t> Shown(qint64 pid);
    xcb_window_t Dialog(qint64 pid);

  private:
    using TProperty = std::unique_ptr<xcb_get_property_reply_t, decltype(&std::free)>;
    TProperty Property(xcb_window_t window, const char* property);

    xcb_connection_t* FConnection = nullptr;
    xcb_window_t FRoot = 0;
};

class TTestDesktop {
  public:
    ~TTestDesktop();
    // What is missing for the desktop (empty: nothing): a test skips then.
    static QString Missing(bool accessibility);
    // Xvfb with a screen of `size`, openbox on it; with `accessibility` a
    // session bus and the AT-SPI bus launcher on it. False on a failure.
    bool Start(const QSize& size, bool accessibility);
    // Only the X server, or only the window manager on it.
    bool StartXServer(const QSize& size);
    bool StartWindowManager();
    TTestXServer& X() { return FX; }
    // The environment of a program on this desktop (the X server, the
    // session bus, Qt's accessibility on).
    QProcessEnvironment Environment() const;
    // Runs xdotool on this desktop's X server (keys, pointer, windows).
    ::testing::AssertionResult XDoTool(const QStringList& commands);

  private:
    QTemporaryDir FDir;
    TTestChild FXvfb;
    TTestChild FOpenbox;
    TTestChild FBus;
    TTestChild FAccessibility;
    QByteArray FDisplay;
    QString FBusAddress;
    TTestXServer FX;
};
