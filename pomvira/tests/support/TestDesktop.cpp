// SPDX-License-Identifier: GPL-3.0-or-later
#include "TestDesktop.h"

#include <QCoreApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QFileInfo>
#include <QStandardPaths>
#include <QTest>
#include <algorithm>
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

bool WriteProgramSettings(const QString& dir, const char* videoFormat) {
    const QString video = dir + QStringLiteral("/Video");
    const QString image = dir + QStringLiteral("/Image");
    QFile ini(dir + QStringLiteral("/config/Pomvira.ini"));
    if (!QDir().mkpath(dir + QStringLiteral("/config")) || !QDir().mkpath(video) ||
        !QDir().mkpath(image) || !ini.open(QIODevice::WriteOnly))
        return false;
    QByteArray text =
        "[CAPTURE]\nVIDEO FOLDER=" + video.toUtf8() + "\nSNAP FOLDER=" + image.toUtf8() + "\n";
    if (videoFormat)
        text += QByteArray("VIDEO FORMAT=") + videoFormat + "\n";
    return ini.write(text) == text.size();
}

bool OnScreenOfItsOwn(const QSize& size) {
    const QString screen = QStringLiteral("%1x%2").arg(size.width()).arg(size.height());
    if (qEnvironmentVariable("OMBRA_TEST_SCREEN") == screen)
        return true;
    TTestDesktop desktop;
    EXPECT_TRUE(desktop.StartXServer(size)) << "no X server";
    const auto* test = ::testing::UnitTest::GetInstance()->current_test_info();
    QProcessEnvironment env = desktop.Environment();
    env.insert(QStringLiteral("OMBRA_TEST_SCREEN"), screen);
    QProcess child;
    child.setProcessEnvironment(env);
    child.setProcessChannelMode(QProcess::ForwardedChannels);
    child.start(QCoreApplication::applicationFilePath(),
                {QStringLiteral("--gtest_filter=") + test->test_suite_name() + '.' + test->name()});
    EXPECT_TRUE(child.waitForFinished(280000) && child.exitStatus() == QProcess::NormalExit &&
                child.exitCode() == 0)
        << "the test failed on its own " << screen.toStdString() << " screen";
    return false;
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

std::optional<int> TTestChild::Wait(int timeoutMs) {
    if (!FProcess.waitForFinished(timeoutMs) || FProcess.exitStatus() != QProcess::NormalExit)
        return std::nullopt;
    return FProcess.exitCode();
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

TTestXServer::TProperty TTestXServer::Property(xcb_window_t window, const char* property) {
    return TProperty(xcb_get_property_reply(FConnection,
                                            xcb_get_property(FConnection, 0, window, Atom(property),
                                                             XCB_GET_PROPERTY_TYPE_ANY, 0, 4096),
                                            nullptr),
                     &std::free);
}

bool TTestXServer::HasProperty(xcb_window_t window, const char* property) {
    const TProperty reply = Property(window, property);
    return reply && reply->type != XCB_ATOM_NONE;
}

std::vector<uint32_t> TTestXServer::Values(xcb_window_t window, const char* property) {
    const TProperty reply = Property(window, property);
    if (!reply || reply->format != 32)
        return {};
    const auto* data = static_cast<const uint32_t*>(xcb_get_property_value(reply.get()));
    return std::vector<uint32_t>(data, data + xcb_get_property_value_length(reply.get()) / 4);
}

QString TTestXServer::Text(xcb_window_t window, const char* property) {
    const TProperty reply = Property(window, property);
    if (!reply || reply->format != 8)
        return QString();
    return QString::fromUtf8(static_cast<const char*>(xcb_get_property_value(reply.get())),
                             xcb_get_property_value_length(reply.get()));
}

bool TTestXServer::HasState(xcb_window_t window, const char* state) {
    const auto states = Values(window, "_NET_WM_STATE");
    return std::find(states.begin(), states.end(), Atom(state)) != states.end();
}

uint32_t TTestXServer::WmState(xcb_window_t window) {
    const auto state = Values(window, "WM_STATE");
    return state.empty() ? 0 : state.front();
}

bool TTestXServer::Viewable(xcb_window_t window) {
    auto* reply = xcb_get_window_attributes_reply(
        FConnection, xcb_get_window_attributes(FConnection, window), nullptr);
    const bool viewable = reply && reply->map_state == XCB_MAP_STATE_VIEWABLE;
    std::free(reply);
    return viewable;
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
    auto* reply =
        xcb_get_image_reply(FConnection,
                            xcb_get_image(FConnection, XCB_IMAGE_FORMAT_Z_PIXMAP, FRoot, 0, 0,
                                          uint16_t(size.width()), uint16_t(size.height()), ~0u),
                            nullptr);
    QImage shot;
    if (reply && xcb_get_image_data_length(reply) >= size.width() * size.height() * 4)
        shot = QImage(xcb_get_image_data(reply), size.width(), size.height(), size.width() * 4,
                      QImage::Format_RGB32)
                   .copy();
    std::free(reply);
    return shot;
}

std::vector<xcb_window_t> TTestXServer::Children(xcb_window_t window) {
    std::vector<xcb_window_t> children;
    auto* tree = xcb_query_tree_reply(FConnection, xcb_query_tree(FConnection, window), nullptr);
    if (tree) {
        const xcb_window_t* list = xcb_query_tree_children(tree);
        children.assign(list, list + xcb_query_tree_children_length(tree));
    }
    std::free(tree);
    return children;
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

bool TTestXServer::ProgramWindows(qint64 pid, xcb_window_t* view, xcb_window_t* panel,
                                  int timeoutMs) {
    const bool shown = WaitUntil(
        [&] {
            const auto clients = Clients(pid);
            return clients.size() == 2 && Viewable(clients[0]) && Viewable(clients[1]);
        },
        timeoutMs);
    *view = *panel = 0;
    for (xcb_window_t w : shown ? Clients(pid) : std::vector<xcb_window_t>()) {
        if (Values(w, "WM_TRANSIENT_FOR").empty())
            *view = w;
        else
            *panel = w;
    }
    return *view && *panel && Values(*panel, "WM_TRANSIENT_FOR") == std::vector<uint32_t>{*view};
}

std::vector<xcb_window_t> TTestXServer::Shown(qint64 pid) {
    std::vector<xcb_window_t> shown;
    for (xcb_window_t w : Children(FRoot)) {
        const std::vector<uint32_t> owner = Values(w, "_NET_WM_PID");
        if (!owner.empty() && owner.front() == uint32_t(pid) && Viewable(w))
            shown.push_back(w);
    }
    return shown;
}

xcb_window_t TTestXServer::Dialog(qint64 pid) {
    // The window manager's clients, or without one the mapped windows.
    std::vector<xcb_window_t> windows = Clients(pid);
    if (windows.empty())
        windows = Shown(pid);
    for (xcb_window_t w : windows) {
        const std::vector<uint32_t> types = Values(w, "_NET_WM_WINDOW_TYPE");
        if (!types.empty() && types.front() == Atom("_NET_WM_WINDOW_TYPE_DIALOG") && Viewable(w))
            return w;
    }
    return 0;
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
    if (!StartXServer(size) || !StartWindowManager())
        return false;
    if (!accessibility)
        return true;
    // A session bus of the test's own; its address is its first line.
    FBus.Start(QStringLiteral("dbus-daemon"),
               {QStringLiteral("--session"), QStringLiteral("--nofork"),
                QStringLiteral("--print-address=1")},
               Environment(), true);
    if (!FBus.Process().waitForReadyRead(10000))
        return false;
    FBusAddress = QString::fromUtf8(FBus.Process().readLine()).trimmed();
    if (FBusAddress.isEmpty())
        return false;
    FAccessibility.Start(QString::fromLatin1(kBusLauncher),
                         {QStringLiteral("--launch-immediately")}, Environment());
    return FAccessibility.Running();
}

bool TTestDesktop::StartXServer(const QSize& size) {
    if (!FDir.isValid())
        return false;
    const QString numberFile = FDir.filePath(QStringLiteral("display"));
    FXvfb.Start(QStringLiteral("sh"),
                {QStringLiteral("-c"),
                 QStringLiteral("exec Xvfb -displayfd 3 -screen 0 %1x%2x24 -nolisten tcp "
                                "3>\"$0\"")
                     .arg(size.width())
                     .arg(size.height()),
                 numberFile});
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
    return FX.Connect(FDisplay);
}

bool TTestDesktop::StartWindowManager() {
    FOpenbox.Start(QStringLiteral("openbox"), {QStringLiteral("--sm-disable")}, Environment());
    // Up once it has listed the windows it manages (none yet).
    return WaitUntil([&] { return FX.HasProperty(FX.Root(), "_NET_CLIENT_LIST"); }, 15000);
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

::testing::AssertionResult TTestDesktop::XDoTool(const QStringList& commands) {
    QProcess xdotool;
    xdotool.setProcessEnvironment(Environment());
    xdotool.start(QStringLiteral("xdotool"), commands);
    if (!xdotool.waitForFinished(10000))
        return ::testing::AssertionFailure() << "xdotool did not end";
    if (xdotool.exitStatus() != QProcess::NormalExit || xdotool.exitCode() != 0)
        return ::testing::AssertionFailure() << xdotool.readAllStandardError().toStdString();
    return ::testing::AssertionSuccess();
}
