// SPDX-License-Identifier: GPL-3.0-or-later
// The camera program as a user runs it on real desktops, each on an X server
// of its own that the test starts (Xvfb): under the openbox window manager,
// and under the weston compositor (nested in that X server) on Qt's Wayland
// platform. What is checked is what the window manager and the screen show:
// the stacking order, the task bar states, window places and pixels, and
// that the panel's buttons take the clicks meant for them.
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QImage>
#include <QLibraryInfo>
#include <QTemporaryDir>
#include <QTest>
#include <algorithm>
#include <csignal>
#include <functional>
#include <gtest/gtest.h>
#include <optional>
#include <vector>
#include <xcb/xcb.h>

#include "AviProbe.h"
#include "TestDesktop.h"
#include "widgets/PanelResources.h"

static void InitViewPictures() {
    Q_INIT_RESOURCE(view);
}

namespace {

const char* const k720 =
    "Major Type: Video - Sub Type: YUY2 Format: VideoInfo YUY2 1280X720, 16 bits";
const char* const kMjpg1080 =
    "Major Type: Video - Sub Type: MJPG Format: VideoInfo MJPG 1920X1080, 24 bits";
const QSize kScreen(1280, 1024);
constexpr QRgb kMagenta = 0xFF00FF;

// How many windows of process `pid` lie at the top two levels of the window
// tree (top-level windows, and those a window manager framed).
int WindowsOf(TTestXServer& x, qint64 pid) {
    int count = 0;
    for (xcb_window_t top : x.Children(x.Root())) {
        std::vector<xcb_window_t> level = x.Children(top);
        level.push_back(top);
        for (xcb_window_t w : level) {
            const auto owner = x.Values(w, "_NET_WM_PID");
            count += !owner.empty() && owner.front() == uint32_t(pid);
        }
    }
    return count;
}

QRgb At(const QImage& image, const QPoint& p) {
    return image.pixel(p) & 0xFFFFFF;
}

int CountMagenta(const QImage& shot) {
    int count = 0;
    for (int y = 0; y < shot.height(); ++y) {
        const auto* row = reinterpret_cast<const QRgb*>(shot.constScanLine(y));
        for (int x = 0; x < shot.width(); ++x)
            count += (row[x] & 0xFFFFFF) == kMagenta;
    }
    return count;
}

// Where `piece` appears unchanged in `shot` (top-left corner), if anywhere.
std::optional<QPoint> Find(const QImage& shot, const QImage& piece) {
    const QImage p = piece.convertToFormat(QImage::Format_RGB32);
    for (int y = 0; y + p.height() <= shot.height(); ++y)
        for (int x = 0; x + p.width() <= shot.width(); ++x) {
            if (At(shot, QPoint(x, y)) != At(p, QPoint(0, 0)))
                continue;
            bool same = true;
            for (int py = 0; same && py < p.height(); ++py)
                for (int px = 0; same && px < p.width(); ++px)
                    same = At(shot, QPoint(x + px, y + py)) == At(p, QPoint(px, py));
            if (same)
                return QPoint(x, y);
        }
    return std::nullopt;
}

// The control panel's skin and a patch of its bare skin (no control lies
// there), by which the panel is recognised on the screen.
const QPoint kBareSkin(4, 22);
QImage Skin() {
    return PanelPicture(QStringLiteral("back.png")).convertToFormat(QImage::Format_RGB32);
}
QImage BareSkinPatch() {
    return Skin().copy(QRect(kBareSkin, QSize(28, 30)));
}

// One desktop of the test's own: an X server, the program's user folders
// and settings, and the program itself.
class DesktopTest : public ::testing::Test {
  protected:
    void SetUp() override {
        ASSERT_TRUE(dir.isValid());
        for (const char* name : {"Xvfb", "xdotool"})
            if (!HaveProgram(QString::fromLatin1(name)))
                GTEST_SKIP() << name << " is not installed";
    }

    void StartXServer() { ASSERT_TRUE(desktop.StartXServer(screenSize)) << "Xvfb did not start"; }

    // The program's environment on the X server, its settings in the test's
    // folder (see WriteProgramSettings), the test camera.
    QProcessEnvironment ProgramEnvironment() {
        QProcessEnvironment env = desktop.Environment();
        env.insert(QStringLiteral("XDG_CONFIG_HOME"), dir.filePath(QStringLiteral("config")));
        env.insert(QStringLiteral("POMVIRA_TEST_DEVICES"), QStringLiteral("1"));
        return env;
    }

    // xdotool on the test's X server: moves, clicks, presses.
    void Pointer(const QStringList& commands) { ASSERT_TRUE(desktop.XDoTool(commands)); }
    static QStringList At(const QPoint& p) {
        return {QStringLiteral("mousemove"), QString::number(p.x()), QString::number(p.y())};
    }

    QSize screenSize = kScreen;  // the X server's screen
    QTemporaryDir dir;
    TTestDesktop desktop;
    TTestXServer& x = desktop.X();
    TTestChild program;
};

// ---------------------------------------------------------------------------
// openbox
// ---------------------------------------------------------------------------

class OpenboxTest : public DesktopTest {
  protected:
    void SetUp() override {
        DesktopTest::SetUp();
        if (IsSkipped())
            return;
        if (!HaveProgram(QStringLiteral("openbox")))
            GTEST_SKIP() << "openbox is not installed";
        ASSERT_NO_FATAL_FAILURE(StartXServer());
        ASSERT_TRUE(desktop.StartWindowManager()) << "openbox did not start";
    }

    // Starts the program; waits until the window manager manages both of its
    // windows and shows them.
    void StartProgram() {
        QProcessEnvironment env = ProgramEnvironment();
        if (!scaleFactor.isEmpty())
            env.insert(QStringLiteral("QT_SCALE_FACTOR"), scaleFactor);
        if (!cameraProfile.isEmpty())
            env.insert(QStringLiteral("POMVIRA_TEST_CAMERA_PROFILE"), cameraProfile);
        program.Start(QStringLiteral(POMVIRA_EXECUTABLE), {}, env);
        ASSERT_TRUE(x.ProgramWindows(program.Pid(), &view, &panel))
            << "the preview window and the panel, transient for it, did not appear";
        // Let the program settle (its own raise after showing).
        QTest::qWait(500);
    }

    // The panel lies above the preview window in the window manager's
    // stacking order, and the screen shows its skin.
    ::testing::AssertionResult PanelAbove() {
        const auto order = x.Values(x.Root(), "_NET_CLIENT_LIST_STACKING");
        const auto v = std::find(order.begin(), order.end(), view);
        const auto p = std::find(order.begin(), order.end(), panel);
        if (v == order.end() || p == order.end())
            return ::testing::AssertionFailure() << "a window is not in the stacking list";
        if (p < v)
            return ::testing::AssertionFailure() << "the panel lies below the preview window";
        const QRect at = x.Geometry(panel);
        const QImage shot = x.Grab();
        const QImage skin = Skin();
        for (QPoint spot : {kBareSkin, QPoint(20, 40), QPoint(177, 5)})
            if (::At(shot, at.topLeft() + spot) != ::At(skin, spot))
                return ::testing::AssertionFailure()
                       << "the screen does not show the panel's skin at " << spot.x() << ","
                       << spot.y();
        return ::testing::AssertionSuccess();
    }

    QPoint ViewSpot(int x_, int y_) { return x.Geometry(view).topLeft() + QPoint(x_, y_); }

    QString scaleFactor;  // QT_SCALE_FACTOR of the program (empty: none)
    QString cameraProfile;  // the test camera's profile (empty: the plain one)
    xcb_window_t view = 0;
    xcb_window_t panel = 0;
};

TEST_F(OpenboxTest, PanelAboveThePreviewOneTaskBarEntryDragMinimiseQuit) {
    ASSERT_TRUE(WriteProgramSettings(dir.path(), nullptr));
    ASSERT_NO_FATAL_FAILURE(StartProgram());

    // One task bar entry, the preview window, titled with the program's
    // title; the panel stays out of the task bar.
    EXPECT_FALSE(x.HasState(view, "_NET_WM_STATE_SKIP_TASKBAR"));
    EXPECT_TRUE(x.HasState(panel, "_NET_WM_STATE_SKIP_TASKBAR"));
    EXPECT_EQ(x.Text(view, "_NET_WM_NAME"), "Ombra Viewer");
    EXPECT_GT(x.Values(view, "_NET_WM_ICON").size(), 2u) << "no icon";
    // The windows as placed: the panel centred below the preview window.
    const QRect v = x.Geometry(view), p = x.Geometry(panel);
    EXPECT_EQ(v.size(), QSize(640 + 36, 480 + 56));
    EXPECT_EQ(p.size(), QSize(355, 72));
    EXPECT_EQ(p.top(), v.bottom() + 1);
    EXPECT_EQ(p.left(), v.left() + (v.width() - p.width()) / 2);
    EXPECT_TRUE(PanelAbove()) << "after start-up";

    // A click on the video: openbox raises and focuses the preview window.
    Pointer(At(ViewSpot(300, 200)) << QStringLiteral("click") << QStringLiteral("1"));
    QTest::qWait(500);
    EXPECT_TRUE(PanelAbove()) << "after a click on the preview window";

    // A press and release on bare skin within a millisecond, then the
    // pointer moves on: the panel stays where it is.
    const QPoint skin = p.topLeft() + QPoint(20, 40);
    Pointer(At(skin) << QStringLiteral("mousedown") << QStringLiteral("1")
                     << QStringLiteral("mouseup") << QStringLiteral("1")
                     << At(skin + QPoint(60, -120)) << QStringLiteral("sleep")
                     << QStringLiteral("0.3") << At(skin + QPoint(120, -240)));
    QTest::qWait(500);
    EXPECT_EQ(x.Geometry(panel).topLeft(), p.topLeft()) << "a quick click moved the panel";

    // Dragging the bare skin moves the panel with the pointer (openbox moves
    // it; it may trail the pointer by the step during which the move began).
    const QPoint step(6, 5);
    QStringList drag = At(skin) << QStringLiteral("mousedown") << QStringLiteral("1");
    for (int i = 1; i <= 20; ++i)
        drag << At(skin - step * i) << QStringLiteral("sleep") << QStringLiteral("0.03");
    drag << QStringLiteral("mouseup") << QStringLiteral("1");
    Pointer(drag);
    QTest::qWait(500);
    const QPoint moved = x.Geometry(panel).topLeft() - p.topLeft();
    EXPECT_LE((moved + step * 20).manhattanLength(), step.manhattanLength() + 2)
        << "moved by " << moved.x() << "," << moved.y();
    EXPECT_TRUE(PanelAbove()) << "after dragging the panel";

    // Minimise: both windows go to the task bar together; activating the
    // task bar entry brings both back, the panel above.
    const QRect panelNow = x.Geometry(panel);
    Pointer(At(panelNow.topLeft() + QPoint(332, 13)) << QStringLiteral("click")
                                                      << QStringLiteral("1"));
    EXPECT_TRUE(WaitUntil([&] { return x.WmState(view) == 3 && x.WmState(panel) == 3; }, 5000))
        << "not both minimised: " << x.WmState(view) << " " << x.WmState(panel);
    Pointer({QStringLiteral("windowactivate"), QString::number(view)});
    EXPECT_TRUE(WaitUntil([&] { return x.WmState(view) == 1 && x.WmState(panel) == 1; }, 5000))
        << "not both restored: " << x.WmState(view) << " " << x.WmState(panel);
    QTest::qWait(300);
    EXPECT_TRUE(PanelAbove()) << "after minimise and restore";

    // The panel's close button ends the program in order.
    Pointer(At(panelNow.topLeft() + QPoint(343, 13)) << QStringLiteral("click")
                                                      << QStringLiteral("1"));
    EXPECT_EQ(program.Wait(30000), std::optional<int>(0));
}

// However the program is ended while it records (its close button, SIGTERM
// as a session's end sends, Ctrl+C), the recording is a complete file.
TEST_F(OpenboxTest, QuittingWhileRecordingLeavesACompleteFile) {
    ASSERT_TRUE(WriteProgramSettings(dir.path(), nullptr));
    const QString folder = dir.filePath(QStringLiteral("Video"));
    const char* const ways[] = {"close button", "SIGTERM", "SIGINT"};
    for (int n = 1; n <= 3; ++n) {
        SCOPED_TRACE(ways[n - 1]);
        ASSERT_NO_FATAL_FAILURE(StartProgram());
        const QPoint at = x.Geometry(panel).topLeft();
        // The record button.
        Pointer(At(at + QPoint(59, 37)) << QStringLiteral("click") << QStringLiteral("1"));
        const QString file =
            folder + QStringLiteral("/video%1.avi").arg(n, 6, 10, QLatin1Char('0'));
        ASSERT_TRUE(WaitUntil([&] { return QFileInfo(file).size() > 1000000; }, 15000))
            << "no recording is being written";
        QTest::qWait(1000);
        if (n == 1)
            Pointer(At(at + QPoint(343, 13)) << QStringLiteral("click") << QStringLiteral("1"));
        else
            ::kill(pid_t(program.Pid()), n == 2 ? SIGTERM : SIGINT);
        ASSERT_EQ(program.Wait(30000), std::optional<int>(0));
        const TAviProbe avi = ProbeAvi(file);
        EXPECT_EQ(avi.Count("video"), 1) << avi.Text().toStdString();
        EXPECT_EQ(avi.Count("audio"), 1) << avi.Text().toStdString();
        EXPECT_TRUE(avi.Complete()) << avi.Text().toStdString();
    }
}

TEST_F(OpenboxTest, PreviewAsLargeAsTheScreenCoversTheWorkAreaBelowThePanel) {
    // A task bar along the bottom edge: a dock window reserving 40 pixels.
    xcb_connection_t* c = x.Connection();
    const xcb_window_t dock = xcb_generate_id(c);
    const uint32_t black = 0;
    xcb_create_window(c, XCB_COPY_FROM_PARENT, dock, x.Root(), 0, int16_t(kScreen.height() - 40),
                      uint16_t(kScreen.width()), 40, 0, XCB_WINDOW_CLASS_INPUT_OUTPUT,
                      XCB_COPY_FROM_PARENT, XCB_CW_BACK_PIXEL, &black);
    const xcb_atom_t dockType = x.Atom("_NET_WM_WINDOW_TYPE_DOCK");
    xcb_change_property(c, XCB_PROP_MODE_REPLACE, dock, x.Atom("_NET_WM_WINDOW_TYPE"),
                        XCB_ATOM_ATOM, 32, 1, &dockType);
    const uint32_t strut[12] = {0, 0, 0, 40, 0, 0, 0, 0, 0, 0, 0, uint32_t(kScreen.width() - 1)};
    xcb_change_property(c, XCB_PROP_MODE_REPLACE, dock, x.Atom("_NET_WM_STRUT_PARTIAL"),
                        XCB_ATOM_CARDINAL, 32, 12, strut);
    const QRect workArea(0, 0, kScreen.width(), kScreen.height() - 40);
    // A window mapped while openbox is still starting can be missed (on a
    // loaded machine it was, once): the dock is mapped again until openbox
    // manages it and takes its strut.
    bool taken = false;
    for (int attempt = 0; attempt < 3 && !taken; ++attempt) {
        if (attempt > 0)
            xcb_unmap_window(c, dock);
        xcb_map_window(c, dock);
        xcb_flush(c);
        taken = WaitUntil(
            [&] {
                const auto area = x.Values(x.Root(), "_NET_WORKAREA");
                return area.size() >= 4 && int(area[3]) == workArea.height();
            },
            5000);
    }
    ASSERT_TRUE(taken) << "openbox did not take the dock's strut: work area "
                       << ::testing::PrintToString(x.Values(x.Root(), "_NET_WORKAREA"));

    // 1280 x 720 framed is wider than the screen: the preview covers the
    // work area, the panel sits in its bottom-right corner.
    ASSERT_TRUE(WriteProgramSettings(dir.path(), k720));
    ASSERT_NO_FATAL_FAILURE(StartProgram());
    EXPECT_EQ(x.Geometry(view), workArea);
    EXPECT_EQ(x.Geometry(panel),
              QRect(workArea.right() + 1 - 355, workArea.bottom() + 1 - 72, 355, 72));
    EXPECT_TRUE(PanelAbove()) << "after start-up";
    // Clicked, a window as large as the screen becomes a full-screen one for
    // openbox; the panel, which belongs to it, stays above it.
    Pointer(At(ViewSpot(300, 300)) << QStringLiteral("click") << QStringLiteral("1"));
    QTest::qWait(500);
    EXPECT_TRUE(PanelAbove()) << "after a click on the preview window";
    // The task bar is still uncovered.
    const QImage shot = x.Grab();
    EXPECT_EQ(::At(shot, QPoint(10, kScreen.height() - 20)), 0u);
    EXPECT_EQ(program.Stop(), std::optional<int>(0));
}

// A 1920 x 1080 screen at 200 % (the program scaled by 2, as with Xft.dpi
// 192): the desktop is 960 x 540 in the program's own units.
class ScaledOpenboxTest : public OpenboxTest {
  protected:
    void SetUp() override {
        screenSize = QSize(1920, 1080);
        scaleFactor = QStringLiteral("2");
        OpenboxTest::SetUp();
    }
    ::testing::AssertionResult OnScreen(const QRect& window) {
        if (QRect(QPoint(0, 0), screenSize).contains(window))
            return ::testing::AssertionSuccess();
        return ::testing::AssertionFailure()
               << window.x() << "," << window.y() << " " << window.width() << "x"
               << window.height() << " is not inside the screen";
    }
};

TEST_F(ScaledOpenboxTest, BothWindowsAndTheExpandedPanelStayOnTheScreen) {
    // Frames are shown pixel for pixel: 1280 x 720 takes 640 x 360 of the
    // program's units, and fits with the panel below it.
    ASSERT_TRUE(WriteProgramSettings(dir.path(), k720));
    ASSERT_NO_FATAL_FAILURE(StartProgram());
    QRect v = x.Geometry(view), p = x.Geometry(panel);
    EXPECT_EQ(v.size(), QSize(676, 416) * 2);
    EXPECT_EQ(p.size(), QSize(355, 72) * 2);
    EXPECT_TRUE(OnScreen(v));
    EXPECT_TRUE(OnScreen(p));
    // Still centred across (to the scaled pixel), the panel below.
    EXPECT_NEAR(p.left(), v.left() + (v.width() - p.width()) / 2, 2);
    EXPECT_NEAR(p.top(), v.bottom() + 1, 2);
    program.Stop();

    // 1920 x 1080 (a webcam's MJPG) framed does not fit: the preview covers
    // the screen, the panel lies in its bottom-right corner. A still picture
    // expands the panel, which goes up to keep its strip on the screen.
    cameraProfile = QStringLiteral("webcam");
    ASSERT_TRUE(WriteProgramSettings(dir.path(), kMjpg1080));
    ASSERT_NO_FATAL_FAILURE(StartProgram());
    v = x.Geometry(view);
    p = x.Geometry(panel);
    EXPECT_EQ(v, QRect(QPoint(0, 0), screenSize));
    EXPECT_EQ(p, QRect(1920 - 710, 1080 - 144, 710, 144));
    Pointer(At(p.topLeft() + QPoint(118, 37) * 2) << QStringLiteral("click")
                                                   << QStringLiteral("1"));
    EXPECT_TRUE(WaitUntil([&] { return x.Geometry(panel).height() == 166 * 2; }, 5000))
        << "the panel did not expand";
    EXPECT_TRUE(QFileInfo::exists(dir.filePath(QStringLiteral("Image/img000001.jpg"))));
    EXPECT_TRUE(OnScreen(x.Geometry(panel)));
    EXPECT_EQ(x.Geometry(panel).bottomRight(), p.bottomRight());
    program.Stop();
}

// ---------------------------------------------------------------------------
// weston, the program on Qt's Wayland platform
// ---------------------------------------------------------------------------

bool HaveQtWayland() {
    const QDir plugins(QLibraryInfo::path(QLibraryInfo::PluginsPath) +
                       QStringLiteral("/platforms"));
    return !plugins.entryList({QStringLiteral("*wayland*")}, QDir::Files).isEmpty();
}

class WestonTest : public DesktopTest {
  protected:
    void SetUp() override {
        DesktopTest::SetUp();
        if (IsSkipped())
            return;
        if (!HaveProgram(QStringLiteral("weston")))
            GTEST_SKIP() << "weston is not installed";
        if (!HaveQtWayland())
            GTEST_SKIP() << "Qt's Wayland platform plugin is not installed";
        ASSERT_NO_FATAL_FAILURE(StartXServer());
        runtime = dir.filePath(QStringLiteral("runtime"));
        ASSERT_TRUE(QDir().mkpath(runtime));
        QFile::setPermissions(runtime, QFileDevice::ReadOwner | QFileDevice::WriteOwner |
                                           QFileDevice::ExeOwner);
        QProcessEnvironment env = desktop.Environment();
        env.insert(QStringLiteral("XDG_RUNTIME_DIR"), runtime);
        QStringList args = {QStringLiteral("--backend=x11-backend.so"),
                            QStringLiteral("--use-pixman"),
                            QStringLiteral("--width=1024"),
                            QStringLiteral("--height=768"),
                            QStringLiteral("--socket=pomvira-test"),
                            QStringLiteral("--idle-time=0"),
                            QStringLiteral("--no-config"),
                            QStringLiteral("--log=") + WestonLog()};
        // XWayland, where installed: weston starts it when a client comes.
        if (HaveProgram(QStringLiteral("Xwayland")))
            args << QStringLiteral("--xwayland");
        weston.Start(QStringLiteral("weston"), args, env);
        ASSERT_TRUE(WaitUntil(
            [&] { return QFile::exists(runtime + QStringLiteral("/pomvira-test")); }, 20000))
            << "weston did not start";
        // Its output window on the X server, and its desktop drawn there.
        ASSERT_TRUE(
            WaitUntil([&] { return CountColours(x.Grab(), QRect(0, 40, 1024, 700)) > 1; }, 20000))
            << "weston shows no desktop";
        // The pointer enters weston's window from outside: weston follows
        // the X pointer only once it has entered (Xvfb starts it inside).
        ASSERT_NO_FATAL_FAILURE(Pointer({QStringLiteral("mousemove"), QStringLiteral("1270"),
                                         QStringLiteral("1010"), QStringLiteral("sleep"),
                                         QStringLiteral("0.2"), QStringLiteral("mousemove"),
                                         QStringLiteral("1000"), QStringLiteral("740")}));
    }
    void TearDown() override {
        program.Stop();
        weston.Stop();
    }
    QString WestonLog() const { return dir.filePath(QStringLiteral("weston.log")); }
    static int CountColours(const QImage& shot, const QRect& rect) {
        std::vector<QRgb> seen;
        for (int y = rect.top(); y <= rect.bottom() && y < shot.height(); y += 7)
            for (int x_ = rect.left(); x_ <= rect.right() && x_ < shot.width(); x_ += 7) {
                const QRgb p = ::At(shot, QPoint(x_, y));
                if (std::find(seen.begin(), seen.end(), p) == seen.end())
                    seen.push_back(p);
                if (seen.size() > 1)
                    return int(seen.size());
            }
        return int(seen.size());
    }
    // The program's environment on the weston desktop.
    QProcessEnvironment WestonEnvironment() {
        QProcessEnvironment env = ProgramEnvironment();
        env.remove(QStringLiteral("DISPLAY"));
        env.remove(QStringLiteral("QT_QPA_PLATFORM"));
        env.insert(QStringLiteral("WAYLAND_DISPLAY"), QStringLiteral("pomvira-test"));
        env.insert(QStringLiteral("XDG_SESSION_TYPE"), QStringLiteral("wayland"));
        env.insert(QStringLiteral("XDG_RUNTIME_DIR"), runtime);
        return env;
    }

    // Starts the program; on the screen: the preview window and the panel
    // appear, no magenta is shown, the preview's cut corner shows the
    // desktop, and after a click on the video the panel is still wholly
    // visible.
    void ExpectShownAndUsable(const QProcessEnvironment& env,
                              const std::function<void(const QRect& panel)>& whileShown = {},
                              const std::function<void(const QRect& panel)>& afterClick = {}) {
        // The preview window (640 x 480 framed: 676 x 536) is found by the
        // picture of its bottom-right corner or by its title piece, whichever
        // the panel leaves uncovered.
        InitViewPictures();
        const QSize view(676, 536);
        const QImage cornerPatch(QStringLiteral(":/view/Image1.jpg"));
        const QPoint cornerAt(view.width() - 16 - cornerPatch.width(),
                              view.height() - cornerPatch.height());
        const QImage titlePatch =
            QImage(QStringLiteral(":/view/imgTitle.bmp")).copy(40, 8, 60, 6);
        const QPoint titleAt(19 + 40, 8);
        ASSERT_FALSE(cornerPatch.isNull());
        ASSERT_FALSE(titlePatch.isNull());
        const QImage skinPatch = BareSkinPatch();
        ASSERT_EQ(CountMagenta(skinPatch.convertToFormat(QImage::Format_RGB32)), 0);

        ASSERT_TRUE(WriteProgramSettings(dir.path(), nullptr));
        program.Start(QStringLiteral(POMVIRA_EXECUTABLE), {}, env);
        std::optional<QPoint> viewAt, panel;
        QImage shot;
        const bool shown = WaitUntil(
            [&] {
                shot = x.Grab();
                if (const auto corner = Find(shot, cornerPatch))
                    viewAt = *corner - cornerAt;
                else if (const auto title = Find(shot, titlePatch))
                    viewAt = *title - titleAt;
                panel = Find(shot, skinPatch);
                return viewAt && panel;
            },
            60000);
        // POMVIRA_WESTON_SHOT: where to save what the screen showed.
        if (qEnvironmentVariableIsSet("POMVIRA_WESTON_SHOT"))
            shot.save(qEnvironmentVariable("POMVIRA_WESTON_SHOT"));
        ASSERT_TRUE(shown) << "the preview window and the panel did not appear";
        // Let the first frames of the video arrive.
        QTest::qWait(1000);
        shot = x.Grab();
        EXPECT_EQ(CountMagenta(shot), 0) << "magenta on the screen";
        // The preview window's rounded top corners are cut: the desktop shows
        // there (where the panel does not lie over them), not black.
        const QPoint viewLeftTop = *viewAt;
        const QRect panelRect(*panel - kBareSkin, QSize(355, 72));
        int corners = 0;
        for (QPoint cut : {QPoint(1, 1), QPoint(view.width() - 2, 1)}) {
            if (panelRect.contains(viewLeftTop + cut))
                continue;
            ++corners;
            EXPECT_NE(::At(shot, viewLeftTop + cut), 0u)
                << "black at the preview window's cut corner " << cut.x();
        }
        EXPECT_GE(corners, 1);
        if (whileShown)
            whileShown(panelRect);

        // A click on the video where the panel does not lie.
        std::optional<QPoint> spot;
        for (QPoint p : {QPoint(600, 420), QPoint(40, 420), QPoint(600, 60), QPoint(40, 60),
                         QPoint(320, 250)}) {
            if (!panelRect.adjusted(-5, -5, 5, 5).contains(viewLeftTop + p)) {
                spot = viewLeftTop + p;
                break;
            }
        }
        ASSERT_TRUE(spot.has_value());
        Pointer(At(*spot) << QStringLiteral("click") << QStringLiteral("1"));
        QTest::qWait(800);
        shot = x.Grab();
        const std::optional<QPoint> after = Find(shot, skinPatch);
        ASSERT_TRUE(after.has_value())
            << "the panel is hidden after a click on the preview window";
        EXPECT_EQ(*after, *panel);
        // The whole visible panel, not only a patch of it: a bare spot at
        // its other end.
        EXPECT_EQ(::At(shot, *after - kBareSkin + QPoint(177, 5)),
                  ::At(Skin(), QPoint(177, 5)));
        EXPECT_EQ(CountMagenta(shot), 0) << "magenta on the screen after the click";
        if (afterClick)
            afterClick(panelRect);
        EXPECT_EQ(program.Stop(), std::optional<int>(0));
    }

    // A click on the panel's still button takes picture number n.
    void ExpectStillButtonTakesPicture(const QRect& panel, int n) {
        Pointer(At(panel.topLeft() + QPoint(118, 37)) << QStringLiteral("click")
                                                       << QStringLiteral("1"));
        const QString picture =
            dir.filePath(QStringLiteral("Image/img%1.jpg").arg(n, 6, 10, QLatin1Char('0')));
        EXPECT_TRUE(WaitUntil([&] { return QFileInfo(picture).size() > 0; }, 5000))
            << "a click on the panel's still button took no picture " << n;
    }

    QString runtime;
    TTestChild weston;
};

TEST_F(WestonTest, OnWaylandThePreviewShowsNoMagentaAndThePanelStaysAbove) {
    QProcessEnvironment env = WestonEnvironment();
    env.insert(QStringLiteral("QT_QPA_PLATFORM"), QStringLiteral("wayland"));
    // The Wayland client library keeps objects of Qt's Wayland platform until
    // the process ends; what is checked here is the screen.
    env.insert(QStringLiteral("ASAN_OPTIONS"), QStringLiteral("detect_leaks=0"));
    ExpectShownAndUsable(env);
}

TEST_F(WestonTest, OnAWaylandDesktopWithXWaylandTheProgramRunsThroughIt) {
    if (!HaveProgram(QStringLiteral("Xwayland")))
        GTEST_SKIP() << "Xwayland is not installed";
    // The display weston's XWayland listens on.
    QByteArray xwayland;
    ASSERT_TRUE(WaitUntil(
        [&] {
            QFile log(WestonLog());
            if (!log.open(QIODevice::ReadOnly))
                return false;
            const QByteArray text = log.readAll();
            const int at = text.indexOf("xserver listening on display ");
            if (at < 0)
                return false;
            xwayland = text.mid(at + 29).split('\n').front().trimmed();
            return !xwayland.isEmpty();
        },
        10000))
        << "weston offers no XWayland";
    QProcessEnvironment env = WestonEnvironment();
    env.insert(QStringLiteral("DISPLAY"), QString::fromLatin1(xwayland));
    ExpectShownAndUsable(
        env,
        [&](const QRect& panel) {
            // Its windows are windows of XWayland's X server.
            TTestXServer onXWayland;
            ASSERT_TRUE(onXWayland.Connect(xwayland));
            EXPECT_GE(WindowsOf(onXWayland, program.Pid()), 2);
            // weston's window manager places the windows itself, the panel
            // over the preview: the panel takes its clicks all the same,
            // before and after a click on the preview.
            ExpectStillButtonTakesPicture(panel, 1);
        },
        [&](const QRect& panel) { ExpectStillButtonTakesPicture(panel, 2); });
}

}  // namespace
