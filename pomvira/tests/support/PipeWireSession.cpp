// SPDX-License-Identifier: GPL-3.0-or-later
#include "PipeWireSession.h"

#include <QDir>
#include <QFile>
#include <QStandardPaths>
#include <QThread>
#include <cstdlib>

const char* const TPipeWireSession::kCameraNode = "pomvira-pipewire-camera";
const char* const TPipeWireSession::kCameraName = "PipeWire Test Camera";

namespace {

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

bool Write(const QString& path, const char* text) {
    QFile file(path);
    return file.open(QIODevice::WriteOnly) && file.write(text) > 0;
}

}  // namespace

TPipeWireSession::TPipeWireSession() = default;

TPipeWireSession::~TPipeWireSession() {
    Stop(manager_.get());
    Stop(daemon_.get());
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

bool TPipeWireSession::Start(QString* why) {
    for (const char* tool : {"pipewire", "wireplumber", "pw-cli"}) {
        if (QStandardPaths::findExecutable(QString::fromLatin1(tool)).isEmpty()) {
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
    daemon_ = std::make_unique<QProcess>();
    daemon_->setProcessEnvironment(Environment());
    daemon_->setProcessChannelMode(QProcess::ForwardedErrorChannel);
    daemon_->setStandardOutputFile(QProcess::nullDevice());
    daemon_->start(QStringLiteral("pipewire"),
                   {QStringLiteral("-c"), dir_.filePath(QStringLiteral("pipewire.conf"))});
    // Up once its socket is there.
    const QString socket = runtime_ + QStringLiteral("/pipewire-0");
    for (int i = 0; i < 100 && !QFile::exists(socket); ++i)
        QThread::msleep(50);
    if (!daemon_->waitForStarted(5000) || !QFile::exists(socket)) {
        *why = QStringLiteral("the PipeWire daemon did not start");
        return false;
    }
    manager_ = std::make_unique<QProcess>();
    manager_->setProcessEnvironment(Environment());
    manager_->setProcessChannelMode(QProcess::ForwardedErrorChannel);
    manager_->setStandardOutputFile(QProcess::nullDevice());
    manager_->start(QStringLiteral("wireplumber"), {QStringLiteral("-c"),
                                                    QStringLiteral("wireplumber.conf")});
    if (!manager_->waitForStarted(5000)) {
        *why = QStringLiteral("WirePlumber did not start");
        return false;
    }
    // Its session items are made once it is connected.
    QThread::msleep(700);
    if (manager_->state() != QProcess::Running) {
        *why = QStringLiteral("WirePlumber stopped");
        return false;
    }
    return true;
}

void TPipeWireSession::Enter() const {
    setenv("XDG_RUNTIME_DIR", runtime_.toLocal8Bit().constData(), 1);
    setenv("PIPEWIRE_RUNTIME_DIR", runtime_.toLocal8Bit().constData(), 1);
    unsetenv("PIPEWIRE_REMOTE");
    unsetenv("POMVIRA_NO_REAL_DEVICES");
    setenv("POMVIRA_DEVICE_PROVIDERS", "pipewiredeviceprovider", 1);
}

bool TPipeWireSession::RunTool(const QStringList& arguments) {
    QProcess tool;
    tool.setProcessEnvironment(Environment());
    tool.start(QStringLiteral("pw-cli"), arguments);
    return tool.waitForFinished(10000) && tool.exitStatus() == QProcess::NormalExit &&
           tool.exitCode() == 0;
}

bool TPipeWireSession::CreateCamera() {
    return RunTool({QStringLiteral("create-node"), QStringLiteral("spa-node-factory"),
                    QStringLiteral("{ factory.name=videotestsrc node.name=%1 "
                                   "node.description=\"%2\" media.class=Video/Source "
                                   "object.linger=true }")
                        .arg(QString::fromLatin1(kCameraNode), QString::fromLatin1(kCameraName))});
}

bool TPipeWireSession::DestroyCamera() {
    return RunTool({QStringLiteral("destroy"), QString::fromLatin1(kCameraNode)});
}

void TPipeWireSession::Stop(QProcess* process) {
    if (!process || process->state() == QProcess::NotRunning)
        return;
    process->terminate();
    if (!process->waitForFinished(3000)) {
        process->kill();
        process->waitForFinished(3000);
    }
}
