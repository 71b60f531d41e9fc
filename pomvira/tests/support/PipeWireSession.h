// SPDX-License-Identifier: GPL-3.0-or-later
// A private PipeWire for tests: its own daemon and session manager
// (WirePlumber), each with a configuration of its own in a runtime folder of
// its own, so nothing reaches the user's PipeWire, sound server, session
// bus or devices (no device monitor is loaded: the only nodes are the ones
// the test makes). A video source node of PipeWire's own test source
// (spa videotestsrc) can be made and destroyed, as a camera that is plugged
// in and out.
//
// Entering the session points this process at it (XDG_RUNTIME_DIR,
// PIPEWIRE_RUNTIME_DIR) and has the program watch only PipeWire's devices
// (POMVIRA_DEVICE_PROVIDERS), before any device is listed.
#pragma once

#include <QProcess>
#include <QString>
#include <QTemporaryDir>

#include <memory>

class TPipeWireSession {
  public:
    // The camera node's name and description (its display name).
    static const char* const kCameraNode;
    static const char* const kCameraName;

    TPipeWireSession();
    ~TPipeWireSession();

    // Starts the daemon and the session manager; false (and why) when a
    // program is missing or does not come up.
    bool Start(QString* why);
    // Points this process at the session (see above).
    void Enter() const;
    bool CreateCamera();
    bool DestroyCamera();

  private:
    QProcessEnvironment Environment() const;
    bool RunTool(const QStringList& arguments);
    void Stop(QProcess* process);

    QTemporaryDir dir_;
    QString runtime_;
    std::unique_ptr<QProcess> daemon_;
    std::unique_ptr<QProcess> manager_;
};
