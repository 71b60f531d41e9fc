// SPDX-License-Identifier: GPL-3.0-or-later
#include "TestDesktop.h"

#include <QElapsedTimer>
#include <QFile>
#include <QFileInfo>
#include <QStandardPaths>
#include <QTest>
#include <cstdlib>
#include <cstring>

namespace {
const char* const kBusLauncher = "/usr/libexec/at-spi-bus-launcher";
}

bool WaitUntil(const std::function<bool()>& done, int timeoutMs) {
    QElapsedTimer timer;
    timer.start();
    while (!done()) {
        if (timer.elapsed() > timeoutMs)
            return false;
        QTest::qWait(50);
    }
    return true;
}

bool HaveProgram(const QString& name) {
    return !QStandardPaths::findExecutable(name).isEmpty();
}

TTestChild::~TTestChild() {
    Stop();
}

void TTestChild::Start(const QString& program, const QStringList& args,
                       const QProcessEnvironment& env, bool readOutput) {
    FProcess.setProcessEnvironment(env);
    FProcess.setProcessChannelMode(QProcess::ForwardedErrorChannel);
    if (!readOutput)
        FProcess.setStandardOutputFile(QProcess::nullDevice());
    FProcess.start(program, args);
    FProcess.waitForStarted(5000);
}

std::optional<int> TTestChild::Stop(int timeoutMs) {
    if (FProcess.state() == QProcess::NotRunning)
        return std::nullopt;
    FProcess.terminate();
    if (FProcess.waitForFinished(timeoutMs) && FProcess.exitStatus() == QProcess::NormalExit)
        return FProcess.exitCode();
    FProcess.kill();
    FProcess.waitForFinished(5000);
    return std::nullopt;
}

TTestXServer::~TTestXServer() {
    if (FConnection)
        xcb_disconnect(FConnection);
}

bool TTestXServer::Connect(const QByteArray& display) {
    FConnection = xcb_connect(display.constData(), nullptr);
    if (xcb_connection_has_error(FConnection))
        return false;
    FRoot = xcb_setup_roots_iterator(xcb_get_setup(FConnection)).data->root;
    return true;
}

xcb_atom_t TTestXServer::Atom(const char* name) {
    auto* reply = xcb_intern_atom_reply(
        FConnection, xcb_intern_atom(FConnection, 0, uint16_t(std::strlen(name)), name), nullptr);
    const xcb_atom_t atom = reply ? reply->atom : xcb_atom_t(XCB_ATOM_NONE);
    std::free(reply);
    return atom;
}

std::vector<uint32_t> TTestXServer::Values(xcb_window_t window, const char* property) {
    auto* reply = xcb_get_property_reply(
        FConnection,
        xcb_get_property(FConnection, 0, window, Atom(property), XCB_GET_PROPERTY_TYPE_ANY, 0, 4096),
        nullptr);
    std::vector<uint32_t> values;
    if (reply && reply->format == 32) {
        const auto* data = static_cast<const uint32_t*>(xcb_get_property_value(reply));
        values.assign(data, data + xcb_get_property_value_length(reply) / 4);
    }
    std::free(reply);
    return values;
}

QRect TTestXServer::Geometry(xcb_window_t window) {
    auto* geometry =
        xcb_get_geometry_reply(FConnection, xcb_get_geometry(FConnection, window), nullptr);
    auto* at = xcb_translate_coordinates_reply(
        FConnection, xcb_translate_coordinates(FConnection, window, FRoot, 0, 0), nullptr);
    QRect rect;
    if (geometry && at)
        rect = QRect(at->dst_x, at->dst_y, geometry->width, geometry->height);
    std::free(geometry);
    std::free(at);
    return rect;
}

QImage TTestXServer::Grab() {
    const QSize size = Geometry(FRoot).size();
    auto* reply = xcb_get_image_reply(
        FConnection,
        xcb_get_image(FConnection, XCB_IMAGE_FORMAT_Z_PIXMAP, FRoot, 0, 0, uint16_t(size.width()),
                      uint16_t(size.height()), ~0u),
        nullptr);
    QImage shot;
    if (reply && xcb_get_image_data_length(reply) >= size.width() * size.height() * 4)
        shot = QImage(xcb_get_image_data(reply), size.width(), size.height(), size.width() * 4,
                      QImage::Format_RGB32)
                   .copy();
    std::free(reply);
    return shot;
}

std::vector<xcb_window_t> TTestXServer::Clients(qint64 pid) {
    std::vector<xcb_window_t> clients;
    for (uint32_t w : Values(FRoot, "_NET_CLIENT_LIST")) {
        const auto owner = Values(w, "_NET_WM_PID");
        if (!owner.empty() && owner.front() == uint32_t(pid))
            clients.push_back(w);
    }
    return clients;
}

std::vector<xcb_window_t> TTestXServer::Shown(qint64 pid) {
    std::vector<xcb_window_t> shown;
    auto* tree = xcb_query_tree_reply(FConnection, xcb_query_tree(FConnection, FRoot), nullptr);
    if (!tree)
        return shown;
    const xcb_window_t* children = xcb_query_tree_children(tree);
    for (int i = 0; i < xcb_query_tree_children_length(tree); ++i) {
        const std::vector<uint32_t> owner = Values(children[i], "_NET_WM_PID");
        if (owner.empty() || owner.front() != uint32_t(pid))
            continue;
        auto* attributes = xcb_get_window_attributes_reply(
            FConnection, xcb_get_window_attributes(FConnection, children[i]), nullptr);
        if (attributes && attributes->map_state == XCB_MAP_STATE_VIEWABLE)
            shown.push_back(children[i]);
        std::free(attributes);
    }
    std::free(tree);
    return shown;
}

xcb_window_t TTestXServer::Dialog(qint64 pid) {
    for (xcb_window_t w : Shown(pid)) {
        const std::vector<uint32_t> types = Values(w, "_NET_WM_WINDOW_TYPE");
        if (!types.empty() && types.front() == Atom("_NET_WM_WINDOW_TYPE_DIALOG"))
            return w;
    }
    return 0;
}

QString TTestXServer::Title(xcb_window_t window) {
    auto* reply = xcb_get_property_reply(
        FConnection,
        xcb_get_property(FConnection, 0, window, Atom("_NET_WM_NAME"), XCB_GET_PROPERTY_TYPE_ANY,
                         0, 1024),
        nullptr);
    QString title;
    if (reply && reply->format == 8)
        title = QString::fromUtf8(static_cast<const char*>(xcb_get_property_value(reply)),
                                  xcb_get_property_value_length(reply));
    std::free(reply);
    return title;
}

TTestDesktop::~TTestDesktop() {
    // The accessibility bus ends with the session bus it lives on.
    FAccessibility.Stop();
    FBus.Stop();
    FOpenbox.Stop();
    FXvfb.Stop();
}

QString TTestDesktop::Missing(bool accessibility) {
    for (const char* program : {"Xvfb", "openbox", "xdotool"})
        if (!HaveProgram(QString::fromLatin1(program)))
            return QString::fromLatin1(program);
    if (!accessibility)
        return QString();
    if (!HaveProgram(QStringLiteral("dbus-daemon")))
        return QStringLiteral("dbus-daemon");
    if (!QFileInfo::exists(QString::fromLatin1(kBusLauncher)))
        return QStringLiteral("at-spi2-core");
    QProcess python;
    python.start(QStringLiteral("/usr/bin/python3"),
                 {QStringLiteral("-c"), QStringLiteral("import pyatspi")});
    if (!python.waitForFinished(20000) || python.exitStatus() != QProcess::NormalExit ||
        python.exitCode() != 0)
        return QStringLiteral("python3-pyatspi");
    return QString();
}

bool TTestDesktop::Start(const QSize& size, bool accessibility) {
    if (!FDir.isValid())
        return false;
    const QString numberFile = FDir.filePath(QStringLiteral("display"));
    FXvfb.Start(QStringLiteral("sh"),
                {QStringLiteral("-c"),
                 QStringLiteral("exec Xvfb -displayfd 3 -screen 0 %1x%2x24 -nolisten tcp "
                                "3>\"$0\"")
                     .arg(size.width())
                     .arg(size.height()),
                 numberFile},
                QProcessEnvironment::systemEnvironment());
    QByteArray number;
    if (!WaitUntil(
            [&] {
                QFile file(numberFile);
                if (file.open(QIODevice::ReadOnly))
                    number = file.readAll();
                return number.endsWith('\n');
            },
            15000))
        return false;
    FDisplay = ":" + number.trimmed();
    if (!FX.Connect(FDisplay))
        return false;
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.insert(QStringLiteral("DISPLAY"), QString::fromLatin1(FDisplay));
    FOpenbox.Start(QStringLiteral("openbox"), {QStringLiteral("--sm-disable")}, env);
    if (!WaitUntil([&] { return !FX.Values(FX.Root(), "_NET_SUPPORTED").empty(); }, 15000))
        return false;
    if (!accessibility)
        return true;
    // A session bus of the test's own; its address is its first line.
    FBus.Start(QStringLiteral("dbus-daemon"),
               {QStringLiteral("--session"), QStringLiteral("--nofork"),
                QStringLiteral("--print-address=1")},
               env, true);
    if (!FBus.Process().waitForReadyRead(10000))
        return false;
    FBusAddress = QString::fromUtf8(FBus.Process().readLine()).trimmed();
    if (FBusAddress.isEmpty())
        return false;
    env.insert(QStringLiteral("DBUS_SESSION_BUS_ADDRESS"), FBusAddress);
    FAccessibility.Start(QString::fromLatin1(kBusLauncher), {QStringLiteral("--launch-immediately")},
                         env);
    return FAccessibility.Running();
}

QProcessEnvironment TTestDesktop::Environment() const {
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.insert(QStringLiteral("DISPLAY"), QString::fromLatin1(FDisplay));
    env.insert(QStringLiteral("QT_QPA_PLATFORM"), QStringLiteral("xcb"));
    env.remove(QStringLiteral("WAYLAND_DISPLAY"));
    if (!FBusAddress.isEmpty()) {
        env.insert(QStringLiteral("DBUS_SESSION_BUS_ADDRESS"), FBusAddress);
        env.insert(QStringLiteral("QT_LINUX_ACCESSIBILITY_ALWAYS_ON"), QStringLiteral("1"));
    } else {
        env.remove(QStringLiteral("DBUS_SESSION_BUS_ADDRESS"));
    }
    return env;
}
