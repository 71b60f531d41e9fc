// SPDX-License-Identifier: GPL-3.0-or-later
#include "PipeWireSession.h"

#include <QDir>
#include <QFile>
#include <QRegularExpression>
#include <QThread>
#include <csignal>
#include <cstdlib>

const char* const TPipeWireSession::kCameraNode = "pomvira-pipewire-camera";
const char* const TPipeWireSession::kCameraName = "PipeWire Test Camera";
const char* const TPipeWireSession::kMicrophoneName = "PipeWire Test Microphone";

namespace {

// The camera node made by a program of its own, and its description (one
// word: the program's command line splits at spaces).
const char* const kProgramCameraNode = "pomvira-program-camera";
const char* const kProgramCameraName = "PipeWire-Program-Camera";

// The daemon: the native protocol, the factories clients and the session
// manager use, the test source, one driver. No device monitors, no D-Bus.
const char* const kDaemonConfig = R"(
context.properties = {
    support.dbus = false
    core.daemon = true
    core.name = pipewire-0
    log.level = 1
}
context.spa-libs = {
    support.* = support/libspa-support
    video.convert.* = videoconvert/libspa-videoconvert
    audio.convert.* = audioconvert/libspa-audioconvert
    videotestsrc = videotestsrc/libspa-videotestsrc
    audiotestsrc = audiotestsrc/libspa-audiotestsrc
}
context.modules = [
    { name = libpipewire-module-protocol-native }
    { name = libpipewire-module-metadata }
    { name = libpipewire-module-spa-node-factory }
    { name = libpipewire-module-client-node }
    { name = libpipewire-module-client-device }
    { name = libpipewire-module-access }
    { name = libpipewire-module-adapter }
    { name = libpipewire-module-link-factory }
    { name = libpipewire-module-session-manager }
]
context.objects = [
    { factory = spa-node-factory
        args = { factory.name = support.node.driver node.name = Dummy-Driver
                 node.group = pipewire.dummy priority.driver = 20000 } }
]
)";

// The session manager: only what links a stream to the node it asks for.
const char* const kManagerConfig = R"(
context.properties = {
    log.level = 1
    wireplumber.script-engine = lua-scripting
}
context.spa-libs = {
    audio.convert.* = audioconvert/libspa-audioconvert
    support.* = support/libspa-support
}
context.modules = [
    { name = libpipewire-module-protocol-native }
    { name = libpipewire-module-client-node }
    { name = libpipewire-module-client-device }
    { name = libpipewire-module-adapter }
    { name = libpipewire-module-metadata }
    { name = libpipewire-module-session-manager }
]
wireplumber.components = [
    { name = libwireplumber-module-lua-scripting, type = module }
    { name = linking.lua, type = config/lua }
]
)";

const char* const kManagerScript = R"(
components = {}
local function module(m) components[m] = { "libwireplumber-module-" .. m, type = "module" } end
local function script(s, a) components[s] = { s, type = "script/lua", args = a } end
module("metadata")
script("access/access-default.lua", { rules = {} })
module("si-node")
module("si-audio-adapter")
module("si-standard-link")
module("si-audio-endpoint")
script("create-item.lua", {})
script("policy-node.lua", { ["move"] = true, ["follow"] = true })
)";

// The camera program: a PipeWire client (pw-cli) that makes the test
// source's node in its own process and exports it to the daemon.
const char* const kCameraProgramConfig = R"(
context.properties = {
    log.level = 0
}
context.spa-libs = {
    support.* = support/libspa-support
    videotestsrc = videotestsrc/libspa-videotestsrc
}
context.modules = [
    { name = libpipewire-module-protocol-native }
    { name = libpipewire-module-client-node }
    { name = libpipewire-module-adapter }
    { name = libpipewire-module-metadata }
]
)";

bool Write(const QString& path, const char* text) {
    QFile file(path);
    return file.open(QIODevice::WriteOnly) && file.write(text) > 0;
}

}  // namespace

TPipeWireSession::TPipeWireSession() = default;

TPipeWireSession::~TPipeWireSession() {
    // Then the session manager and the daemon end, in this order.
    StopCameraProgram();
}

QProcessEnvironment TPipeWireSession::Environment() const {
    // Only what the programs need: no session bus, no display, no remote.
    QProcessEnvironment env;
    env.insert(QStringLiteral("PATH"), QString::fromLocal8Bit(qgetenv("PATH")));
    env.insert(QStringLiteral("HOME"), dir_.path());
    env.insert(QStringLiteral("XDG_RUNTIME_DIR"), runtime_);
    env.insert(QStringLiteral("PIPEWIRE_RUNTIME_DIR"), runtime_);
    env.insert(QStringLiteral("XDG_CONFIG_HOME"), dir_.filePath(QStringLiteral("config")));
    env.insert(QStringLiteral("XDG_STATE_HOME"), dir_.filePath(QStringLiteral("state")));
    env.insert(QStringLiteral("WIREPLUMBER_CONFIG_DIR"), dir_.filePath(QStringLiteral("wireplumber")));
    return env;
}

bool TPipeWireSession::Start(QString* why, bool withSessionManager) {
    for (const char* tool : {"pipewire", "wireplumber", "pw-cli"}) {
        if (!HaveProgram(QString::fromLatin1(tool))) {
            *why = QStringLiteral("%1 is not installed").arg(QString::fromLatin1(tool));
            return false;
        }
    }
    if (!dir_.isValid()) {
        *why = QStringLiteral("no temporary folder");
        return false;
    }
    runtime_ = dir_.filePath(QStringLiteral("run"));
    QDir(dir_.path()).mkpath(QStringLiteral("run"));
    QDir(dir_.path()).mkpath(QStringLiteral("config"));
    QDir(dir_.path()).mkpath(QStringLiteral("state"));
    QDir(dir_.path()).mkpath(QStringLiteral("wireplumber"));
    QFile::setPermissions(runtime_, QFileDevice::ReadOwner | QFileDevice::WriteOwner |
                                        QFileDevice::ExeOwner);
    if (!Write(dir_.filePath(QStringLiteral("pipewire.conf")), kDaemonConfig) ||
        !Write(dir_.filePath(QStringLiteral("wireplumber/wireplumber.conf")), kManagerConfig) ||
        !Write(dir_.filePath(QStringLiteral("wireplumber/linking.lua")), kManagerScript)) {
        *why = QStringLiteral("cannot write the configuration");
        return false;
    }
    daemon_.Start(QStringLiteral("pipewire"),
                  {QStringLiteral("-c"), dir_.filePath(QStringLiteral("pipewire.conf"))},
                  Environment());
    // Up once its socket is there.
    const QString socket = runtime_ + QStringLiteral("/pipewire-0");
    for (int i = 0; i < 100 && !QFile::exists(socket); ++i)
        QThread::msleep(50);
    if (!daemon_.Running() || !QFile::exists(socket)) {
        *why = QStringLiteral("the PipeWire daemon did not start");
        return false;
    }
    if (!withSessionManager)
        return true;
    manager_.Start(QStringLiteral("wireplumber"),
                   {QStringLiteral("-c"), QStringLiteral("wireplumber.conf")}, Environment());
    // Its session items are made once it is connected.
    QThread::msleep(700);
    if (!manager_.Running()) {
        *why = QStringLiteral("WirePlumber did not start, or stopped");
        return false;
    }
    return true;
}

void TPipeWireSession::KillDaemon() {
    daemon_.Process().kill();
    daemon_.Process().waitForFinished(5000);
    manager_.Stop(2000);
    QFile::remove(runtime_ + QStringLiteral("/pipewire-0"));
}

bool TPipeWireSession::StartSoundServer(QString* why) {
    soundServer_.Start(QStringLiteral("pipewire-pulse"), {}, Environment());
    const QString socket = runtime_ + QStringLiteral("/pulse/native");
    for (int i = 0; i < 100 && !QFile::exists(socket); ++i)
        QThread::msleep(50);
    if (soundServer_.Running() && QFile::exists(socket))
        return true;
    *why = QStringLiteral("pipewire-pulse did not start");
    return false;
}

void TPipeWireSession::Enter() const {
    setenv("XDG_RUNTIME_DIR", runtime_.toLocal8Bit().constData(), 1);
    setenv("PIPEWIRE_RUNTIME_DIR", runtime_.toLocal8Bit().constData(), 1);
    unsetenv("PIPEWIRE_REMOTE");
    unsetenv("POMVIRA_NO_REAL_DEVICES");
    setenv("POMVIRA_DEVICE_PROVIDERS", "pipewiredeviceprovider", 1);
    if (soundServer_.Running()) {
        setenv("PULSE_SERVER", ("unix:" + runtime_ + "/pulse/native").toLocal8Bit().constData(), 1);
        setenv("POMVIRA_DEVICE_PROVIDERS", "pulsedeviceprovider", 1);
    }
}

void TPipeWireSession::Enter(QProcessEnvironment& environment) const {
    environment.insert(QStringLiteral("XDG_RUNTIME_DIR"), runtime_);
    environment.insert(QStringLiteral("PIPEWIRE_RUNTIME_DIR"), runtime_);
    environment.remove(QStringLiteral("PIPEWIRE_REMOTE"));
    environment.remove(QStringLiteral("POMVIRA_NO_REAL_DEVICES"));
    environment.insert(QStringLiteral("POMVIRA_DEVICE_PROVIDERS"),
                       QStringLiteral("pipewiredeviceprovider"));
    if (soundServer_.Running()) {
        environment.insert(QStringLiteral("PULSE_SERVER"),
                           QStringLiteral("unix:") + runtime_ + QStringLiteral("/pulse/native"));
        environment.insert(QStringLiteral("POMVIRA_DEVICE_PROVIDERS"),
                           QStringLiteral("pipewiredeviceprovider,pulsedeviceprovider"));
    }
}

bool TPipeWireSession::RunTool(const QStringList& arguments, QByteArray* output) {
    QProcess tool;
    tool.setProcessEnvironment(Environment());
    tool.start(QStringLiteral("pw-cli"), arguments);
    const bool ran = tool.waitForFinished(10000) && tool.exitStatus() == QProcess::NormalExit &&
                     tool.exitCode() == 0;
    if (output)
        *output = tool.readAllStandardOutput();
    return ran;
}

bool TPipeWireSession::CreateCamera() {
    return RunTool({QStringLiteral("create-node"), QStringLiteral("spa-node-factory"),
                    QStringLiteral("{ factory.name=videotestsrc node.name=%1 "
                                   "node.description=\"%2\" media.class=Video/Source "
                                   "object.linger=true }")
                        .arg(QString::fromLatin1(kCameraNode), QString::fromLatin1(kCameraName))});
}

bool TPipeWireSession::CreateMicrophone() {
    return RunTool({QStringLiteral("create-node"), QStringLiteral("adapter"),
                    QStringLiteral("{ factory.name=audiotestsrc node.name=pomvira-pipewire-microphone "
                                   "node.description=\"%1\" media.class=Audio/Source "
                                   "object.linger=true }")
                        .arg(QString::fromLatin1(kMicrophoneName))});
}

bool TPipeWireSession::DestroyCamera() {
    return RunTool({QStringLiteral("destroy"), QString::fromLatin1(kCameraNode)});
}

bool TPipeWireSession::StartCameraProgram(QString* why) {
    if (!Write(dir_.filePath(QStringLiteral("camera-program.conf")), kCameraProgramConfig)) {
        *why = QStringLiteral("cannot write the configuration");
        return false;
    }
    QProcessEnvironment env = Environment();
    env.insert(QStringLiteral("PIPEWIRE_CONFIG_NAME"),
               dir_.filePath(QStringLiteral("camera-program.conf")));
    // Commands on its standard input, which stays open: the program and
    // its node live until it is ended.
    cameraProgram_.Start(QStringLiteral("pw-cli"), {}, env, true);
    QProcess& program = cameraProgram_.Process();
    if (!cameraProgram_.Running()) {
        *why = QStringLiteral("pw-cli did not start");
        return false;
    }
    program.write(
        QStringLiteral("load-module libpipewire-module-spa-node videotestsrc "
                       "node.name=%1 node.description=%2 "
                       "media.class=Video/Source\n")
            .arg(QString::fromLatin1(kProgramCameraNode), QString::fromLatin1(kProgramCameraName))
            .toUtf8());
    // The module's answer, "@module:N" (its node is the next object made in
    // the program, N + 1, which is exported to the daemon once the program
    // is connected to it).
    QByteArray answer;
    static const QRegularExpression loaded(QStringLiteral("@module:(\\d+)"));
    QRegularExpressionMatch match;
    for (int i = 0; i < 100 && !(match.hasMatch() && answer.contains("is named")); ++i) {
        program.waitForReadyRead(100);
        answer += program.readAllStandardOutput();
        match = loaded.match(QString::fromLatin1(answer));
    }
    if (!match.hasMatch() || !answer.contains("is named")) {
        *why = QStringLiteral("the camera program made no node: ") + QString::fromLatin1(answer);
        return false;
    }
    program.write(QStringLiteral("export-node %1\n").arg(match.captured(1).toInt() + 1).toUtf8());
    program.waitForBytesWritten(5000);
    // Up once its node is listed.
    bool listed = false;
    for (int i = 0; i < 100 && !listed && cameraProgram_.Running(); ++i) {
        QByteArray nodes;
        listed = RunTool({QStringLiteral("ls"), QStringLiteral("Node")}, &nodes) &&
                 nodes.contains(kProgramCameraNode);
        if (!listed)
            QThread::msleep(100);
    }
    if (!listed) {
        *why = QStringLiteral("the camera program's node did not appear");
        return false;
    }
    // A node exported this way never streams on its first link (PipeWire
    // 0.3.65), and streams on every link after: a first one is made and
    // dropped here, then a second one must bring frames (gst-launch-1.0:
    // the test skips without it).
    auto look = [&](int frames, int boundMs) {
        // The test's own plugin registry, if it has one: no plugin scan.
        QProcessEnvironment env = Environment();
        if (qEnvironmentVariableIsSet("GST_REGISTRY"))
            env.insert(QStringLiteral("GST_REGISTRY"), qEnvironmentVariable("GST_REGISTRY"));
        TTestChild viewer;
        viewer.Start(
            QStringLiteral("gst-launch-1.0"),
            {QStringLiteral("-q"), QStringLiteral("pipewiresrc"),
             QStringLiteral("target-object=%1").arg(QString::fromLatin1(kProgramCameraNode)),
             QStringLiteral("num-buffers=%1").arg(frames), QStringLiteral("!"),
             QStringLiteral("video/x-raw"), QStringLiteral("!"), QStringLiteral("fakesink")},
            env);
        return viewer.Wait(boundMs) == std::optional<int>(0);
    };
    if (!look(1, 3000) && !look(5, 10000) && !look(5, 10000)) {
        *why = QStringLiteral("the camera program's node delivers no frames");
        return false;
    }
    return true;
}

void TPipeWireSession::StopCameraProgram() {
    if (cameraProgram_.Running())
        ::kill(pid_t(cameraProgram_.Pid()), SIGCONT);
    cameraProgram_.Stop(3000);
}
