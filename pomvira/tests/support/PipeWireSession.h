// SPDX-License-Identifier: GPL-3.0-or-later
// A private PipeWire for tests: its own daemon and session manager
// (WirePlumber), each with a configuration of its own in a runtime folder of
// its own, so nothing reaches the user's PipeWire, sound server, session
// bus or devices (no device monitor is loaded: the only nodes are the ones
// the test makes). A video source node of PipeWire's own test source
// (spa videotestsrc) can be made and destroyed, as a camera that is plugged
// in and out; a camera can also be made by a program of its own (a PipeWire
// client holding the same test source's node in its own process), which the
// test can freeze with SIGSTOP as a camera service that hangs. Without the
// session manager nothing links a stream to its camera: a program's camera
// stream then waits for good, as on a desktop whose WirePlumber is not
// running.
//
// Entering the session points this process (or one about to be started) at
// it (XDG_RUNTIME_DIR, PIPEWIRE_RUNTIME_DIR) and has the program watch only
// PipeWire's devices (POMVIRA_DEVICE_PROVIDERS), before any device is
// listed. A microphone node (PipeWire's test sound source) can be made too,
// for the sound server to serve.
#pragma once

#include <QProcess>
#include <QString>
#include <QTemporaryDir>

#include "TestDesktop.h"

class TPipeWireSession {
  public:
    // The camera node's name and description (its display name).
    static const char* const kCameraNode;
    static const char* const kCameraName;
    // The microphone node's display name (PipeWire's test sound source).
    static const char* const kMicrophoneName;

    TPipeWireSession();
    ~TPipeWireSession();

    // Starts the daemon and (unless told not to) the session manager; false
    // (and why) when a program is missing or does not come up.
    bool Start(QString* why, bool withSessionManager = true);
    // Points this process, or the environment of one to start, at the
    // session (see above).
    void Enter() const;
    void Enter(QProcessEnvironment& environment) const;
    bool CreateCamera();
    bool DestroyCamera();
    bool CreateMicrophone();
    // Starts the camera program and waits until its node is there; false
    // (and why) when it is not. Its process id, for the test's signals.
    bool StartCameraProgram(QString* why);
    qint64 CameraProgramId() const { return cameraProgram_.Pid(); }
    qint64 DaemonId() const { return daemon_.Pid(); }
    // The daemon killed (as in a crash), its session manager ended; then a
    // new daemon, session manager and camera node, as after a restart.
    void KillDaemon();
    bool RestartDaemon(QString* why) { return Start(why, true) && CreateCamera(); }
    // The daemon's sound server (pipewire-pulse); false (and why) when it
    // does not come up. Once started, Enter also points the program at it
    // and has it watch PulseAudio's devices too (Enter() of this process:
    // its devices only, beside the built-in test devices).
    bool StartSoundServer(QString* why);
    qint64 SoundServerId() const { return soundServer_.Pid(); }
    // Ends the camera program (continued first, if it was stopped).
    void StopCameraProgram();

  private:
    QProcessEnvironment Environment() const;
    bool RunTool(const QStringList& arguments, QByteArray* output = nullptr);

    QTemporaryDir dir_;
    QString runtime_;
    TTestChild daemon_;
    TTestChild manager_;
    TTestChild cameraProgram_;
    TTestChild soundServer_;
};
