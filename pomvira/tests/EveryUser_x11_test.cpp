// SPDX-License-Identifier: GPL-3.0-or-later
// The camera program as users who do not use a mouse, or do not see the
// screen, or use a scaled screen meet it: each case runs the program on a
// desktop of the test's own (Xvfb, openbox, and for the screen reader a
// session bus with AT-SPI's registry), drives it with real key presses
// (xdotool) or through AT-SPI actions (a Python client, atspi_probe.py, as
// Orca would), and checks what the window manager, the screen and the
// accessibility tree show.
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QTest>
#include <algorithm>
#include <csignal>
#include <gtest/gtest.h>
#include <map>

#include "TestDesktop.h"
#include "files/IniFile.h"

namespace {

const char* const k320 =
    "Major Type: Video - Sub Type: YUY2 Format: VideoInfo YUY2 320X240, 16 bits";
const char* const kMjpg1080 =
    "Major Type: Video - Sub Type: MJPG Format: VideoInfo MJPG 1920X1080, 24 bits";
const char* const kMjpg720 =
    "Major Type: Video - Sub Type: MJPG Format: VideoInfo MJPG 1280X720, 24 bits";
// The preview window's frame around the video, in the program's units.
const QSize kFrame(36, 56);

// One object of the program as the screen reader sees it.
struct TNode {
    QString path, role, name, parent;
    QStringList states, actions;
    bool parentIsContainer = false;
    bool Is(const char* state) const { return states.contains(QString::fromLatin1(state)); }
};

// The Python AT-SPI client, one process for the whole test.
class TScreenReader {
  public:
    bool Start(qint64 pid, const QProcessEnvironment& env) {
        FProcess.Start(QStringLiteral("/usr/bin/python3"),
                       {QStringLiteral(POMVIRA_ATSPI_PROBE), QString::number(pid)}, env, true);
        return FProcess.Running();
    }
    // Every object of the program, keyed by its path of names.
    std::map<QString, TNode> Tree() {
        std::map<QString, TNode> nodes;
        for (const QByteArray& line : Ask("tree")) {
            const QJsonObject o = QJsonDocument::fromJson(line).object();
            TNode n;
            n.path = o[QStringLiteral("path")].toString();
            n.role = o[QStringLiteral("role")].toString();
            n.name = o[QStringLiteral("name")].toString();
            n.parent = o[QStringLiteral("parent")].toString();
            n.parentIsContainer = o[QStringLiteral("parentIsContainer")].toBool();
            n.states = o[QStringLiteral("states")].toVariant().toStringList();
            n.actions = o[QStringLiteral("actions")].toVariant().toStringList();
            // Objects of the same name under one parent (the strip's
            // empty boxes; a button and the menu it opens) are told apart.
            QString key = n.path;
            for (int i = 2; nodes.count(key); ++i)
                key = n.path + QStringLiteral("#%1").arg(i);
            nodes[key] = n;
        }
        return nodes;
    }
    // Runs an action; "OK" or the reason it could not.
    QString Do(const QString& path, const QString& action) {
        const QList<QByteArray> answer =
            Ask(QStringLiteral("do\t%1\t%2").arg(path, action).toUtf8());
        return answer.isEmpty() ? QStringLiteral("no answer") : QString::fromUtf8(answer.last());
    }
    // What was heard since the last call, one "type|role|name" each.
    QStringList Events() {
        QStringList events;
        for (const QByteArray& line : Ask("events")) {
            const QJsonObject o = QJsonDocument::fromJson(line).object();
            events << QStringList{o[QStringLiteral("type")].toString(),
                                  o[QStringLiteral("role")].toString(),
                                  o[QStringLiteral("name")].toString()}
                          .join('|');
        }
        return events;
    }
    // Waits until a notification `name` was heard; the others heard
    // meanwhile are kept in `heard`.
    bool Announced(const QString& name, QStringList& heard) {
        const QString wanted = QStringLiteral("object:state-changed:showing|notification|") + name;
        return WaitUntil([&] { return (heard += Events()).contains(wanted); }, 15000);
    }
    // The name of the object that has the keyboard focus (empty: none).
    QString Focused() {
        const std::map<QString, TNode> tree = Tree();
        for (const auto& [path, node] : tree) {
            // A list's current item is not where the focus is, nor a pane around it.
            const auto list = tree.find(node.path.section(QLatin1Char('/'), 0, -2));
            if (node.Is("focused") && node.Is("focusable") &&
                (node.role != QLatin1String("list item") || list == tree.end() ||
                 !list->second.Is("focusable")))
                return node.name;
        }
        return QString();
    }

  private:
    // The lines of the answer, up to its closing "END".
    QList<QByteArray> Ask(const QByteArray& command) {
        QProcess& p = FProcess.Process();
        p.write(command + "\n");
        QList<QByteArray> lines;
        QElapsedTimer timer;
        timer.start();
        while (timer.elapsed() < 20000) {
            if (!p.canReadLine()) {
                p.waitForReadyRead(200);
                continue;
            }
            const QByteArray line = p.readLine().chopped(1);
            if (line == "END")
                break;
            lines << line;
        }
        return lines;
    }

    TTestChild FProcess;
};

class EveryUserTest : public ::testing::Test {
  protected:
    // Skips the test when a program the desktop needs is not installed.
    void StartDesktop(const QSize& size, bool accessibility) {
        const QString missing = TTestDesktop::Missing(accessibility);
        if (!missing.isEmpty())
            GTEST_SKIP() << missing.toStdString() << " is not installed";
        ASSERT_TRUE(dir.isValid());
        ASSERT_TRUE(desktop.Start(size, accessibility)) << "the test's desktop did not start";
    }
    QString StoredFormat() const {
        return TIniFile(dir.filePath(QStringLiteral("config/Pomvira.ini")))
            .ReadString(QStringLiteral("CAPTURE"), QStringLiteral("VIDEO FORMAT"), QString());
    }
    QString Picture(int n) const {
        return dir.filePath(QStringLiteral("Image/img%1.jpg").arg(n, 6, 10, QChar('0')));
    }
    // What the desktop was asked to open (the stand-in for xdg-open).
    QString Opened() const {
        QFile file(dir.filePath(QStringLiteral("opened")));
        return file.open(QIODevice::ReadOnly) ? QString::fromUtf8(file.readAll()).trimmed()
                                              : QString();
    }

    // Starts the program with the settings a previous run left (the
    // capture format `videoFormat`; none: the program chooses) and extra
    // environment in `extra`, and waits until the window manager shows
    // both of its windows.
    void StartProgram(const char* videoFormat, const std::map<QString, QString>& extra) {
        ASSERT_TRUE(WriteProgramSettings(dir.path(), videoFormat));
        QDir().mkpath(dir.filePath(QStringLiteral("bin")));
        QFile script(dir.filePath(QStringLiteral("bin/xdg-open")));
        ASSERT_TRUE(script.open(QIODevice::WriteOnly));
        script.write("#!/bin/sh\necho \"$@\" >> '" +
                     dir.filePath(QStringLiteral("opened")).toUtf8() + "'\n");
        script.close();
        script.setPermissions(QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner);

        QProcessEnvironment env = desktop.Environment();
        env.insert(QStringLiteral("XDG_CONFIG_HOME"), dir.filePath(QStringLiteral("config")));
        env.insert(QStringLiteral("POMVIRA_TEST_DEVICES"), QStringLiteral("1"));
        env.insert(QStringLiteral("PATH"),
                   dir.filePath(QStringLiteral("bin")) + QStringLiteral(":") + env.value("PATH"));
        env.remove(QStringLiteral("XDG_CURRENT_DESKTOP"));
        env.remove(QStringLiteral("QT_SCALE_FACTOR"));
        for (const auto& [name, value] : extra)
            env.insert(name, value);
        program.Start(QStringLiteral(POMVIRA_EXECUTABLE), {}, env);
        ASSERT_TRUE(desktop.X().ProgramWindows(program.Pid(), &view, &panel))
            << "the program's two windows did not appear";
        QTest::qWait(500);
    }
    // The program in English (or `extra`'s language) with a 320 x 240
    // preview on a 1600 x 1200 desktop (or `screen`), a screen reader attached.
    void StartWithScreenReader(std::map<QString, QString> extra = {},
                               const QSize& screen = QSize(1600, 1200)) {
        ASSERT_NO_FATAL_FAILURE(StartDesktop(screen, true));
        if (IsSkipped())
            return;
        extra.emplace(QStringLiteral("LANGUAGE"), QStringLiteral("en"));
        ASSERT_NO_FATAL_FAILURE(StartProgram(k320, extra));
        ASSERT_TRUE(reader.Start(program.Pid(), desktop.Environment()));
        ASSERT_TRUE(
            WaitUntil([&] { return reader.Tree().count(QStringLiteral("Ombra Viewer")); }, 20000))
            << "the program is not on the accessibility bus";
    }
    // Real key presses on the test's X server.
    void Keys(const QStringList& keys) {
        ASSERT_TRUE(desktop.XDoTool(
            QStringList{QStringLiteral("key"), QStringLiteral("--delay"), QStringLiteral("60")} +
            keys));
        QTest::qWait(300);
    }
    // A key that closes a dialog, let go once the dialog has gone: Qt's
    // bridge to AT-SPI holds each key until the registry has seen it, and
    // loses (leaks) one whose window was destroyed meanwhile.
    void CloseBy(const char* key) {
        ASSERT_TRUE(desktop.XDoTool({QStringLiteral("keydown"), QString::fromLatin1(key)}));
        QTest::qWait(400);  // short of the key's repeat
        ASSERT_TRUE(desktop.XDoTool({QStringLiteral("keyup"), QString::fromLatin1(key)}));
        QTest::qWait(300);
    }
    // The preview window activated, as a click on it does.
    bool ActivateView() {
        const bool done =
            desktop.XDoTool({QStringLiteral("windowactivate"), QString::number(view)});
        QTest::qWait(500);
        return done;
    }
    // The names the keyboard focus goes to on `count` presses of Tab.
    QStringList TabThrough(int count) {
        QStringList seen;
        for (int i = 0; i < count; ++i) {
            Keys({"Tab"});
            seen << reader.Focused();
        }
        return seen;
    }
    // Opens the camera's picture dialog from the keyboard, as a user would:
    // Tab from the preview window to the panel, on to the settings button,
    // Space opens its menu, the third entry. The dialog's window, or 0.
    xcb_window_t OpenPictureDialogByKeyboard(int entry = 3) {
        xcb_window_t dialog = 0;
        if (!ActivateView())
            return dialog;
        Keys({"Tab", "Tab", "Tab", "Tab", "Tab", "space"});
        Keys(QStringList(entry, QStringLiteral("Down")) << QStringLiteral("Return"));
        WaitUntil([&] { return (dialog = desktop.X().Dialog(program.Pid())) != 0; }, 15000);
        QTest::qWait(700);
        return dialog;
    }
    bool Stop() { return program.Stop() == std::optional<int>(0); }

    QTemporaryDir dir;
    TTestDesktop desktop;
    TTestChild program;
    TScreenReader reader;
    xcb_window_t view = 0;
    xcb_window_t panel = 0;
};

}  // namespace

// What a screen reader finds, in English, and what it can do there.
TEST_F(EveryUserTest, AScreenReaderFindsNamedFramesAListOfEntriesAndTheMenusAndActsOnThem) {
    ASSERT_NO_FATAL_FAILURE(StartWithScreenReader());
    if (IsSkipped())
        return;

    const QString list = QStringLiteral("Ombra Viewer/Pictures and recordings of this session");
    const QString entry1 = list + QStringLiteral("/img000001.jpg");
    const QString entry2 = list + QStringLiteral("/img000002.jpg");
    std::map<QString, TNode> tree = reader.Tree();
    // Each object's role, its states (with "-": not in that state) and
    // actions. The two windows: frames named apart.
    const struct {
        const char* path;
        const char* role;
        const char* states;
        const char* actions;
    } expected[] = {
        {"Ombra Viewer", "frame", "showing", ""},
        {"Ombra Viewer – Preview", "frame", "showing", ""},
        {"Ombra Viewer/Record", "push button", "showing focusable", "Press"},
        {"Ombra Viewer/Still Picture", "push button", "showing focusable", "Press"},
        {"Ombra Viewer/Settings", "push button", "showing focusable", "Press"},
        {"Ombra Viewer/Expand", "push button", "showing focusable", "Press"},
        {"Ombra Viewer/Quit", "push button", "showing focusable", "Press"},
        // The folded panel's strip lies outside it: hidden.
        {"Ombra Viewer/Pictures and recordings of this session", "list", "-showing -visible", ""},
        {"Ombra Viewer/Pictures and recordings of this session/Empty", "list item",
         "selectable -showing -visible -focusable", "Select Press"},
        {"Ombra Viewer/Back", "push button", "-showing -visible", "Press"},
        {"Ombra Viewer/Remove from the strip (the file stays on disk)", "push button",
         "-showing -visible", "Press"},
        {"Ombra Viewer/Remove all from the strip (the files stay on disk)", "push button",
         "-showing -visible", "Press"},
        // The menus, named for their buttons (hidden until opened).
        {"Ombra Viewer/Settings#2", "popup menu", "-showing", ""},
        {"Ombra Viewer/Send Mail#2", "popup menu", "-showing", ""},
        {"Ombra Viewer – Preview/Camera picture", "filler", "showing -focusable", ""},
        {"Ombra Viewer – Preview/( Preview )", "label", "showing", ""},
    };
    for (const auto& e : expected) {
        SCOPED_TRACE(e.path);
        const auto found = tree.find(QString::fromUtf8(e.path));
        ASSERT_NE(found, tree.end());
        const TNode& n = found->second;
        EXPECT_EQ(n.role, QString::fromLatin1(e.role));
        for (const QString& s : QString::fromLatin1(e.states).split(' ', Qt::SkipEmptyParts)) {
            const bool no = s.startsWith('-');
            EXPECT_NE(n.states.contains(s.mid(no ? 1 : 0)), no)
                << s.toStdString() << " in " << n.states.join(',').toStdString();
        }
        for (const QString& a : QString::fromLatin1(e.actions).split(' ', Qt::SkipEmptyParts))
            EXPECT_TRUE(n.actions.contains(a))
                << a.toStdString() << " in " << n.actions.join(',').toStdString();
    }
    int menus = 0, items = 0;
    for (const auto& [path, n] : tree) {
        SCOPED_TRACE(path.toStdString());
        // Nothing unnamed takes the focus; no skin piece, no stray text.
        EXPECT_FALSE(n.Is("focusable") && n.name.isEmpty());
        EXPECT_FALSE(n.role == QLatin1String("filler") && n.name.isEmpty());
        EXPECT_NE(n.name, QStringLiteral("abcd.jpg"));
        EXPECT_FALSE(n.name.contains(QLatin1Char('\r')) || n.name.contains(QLatin1Char('\n')));
        if (n.role == QLatin1String("popup menu")) {
            // Listed under the panel; Qt tells every popup's parent as the
            // application.
            ++menus;
            EXPECT_TRUE(n.name == QLatin1String("Settings") ||
                        n.name == QLatin1String("Send Mail"));
        } else {
            EXPECT_TRUE(n.parentIsContainer) << "its parent is " << n.parent.toStdString();
        }
        if (n.role == QLatin1String("list item")) {
            ++items;
            EXPECT_EQ(n.parent, QStringLiteral("Pictures and recordings of this session"));
        }
    }
    EXPECT_EQ(menus, 2);
    EXPECT_EQ(items, 4);

    // The still button pressed through AT-SPI takes a picture; the strip
    // opens with it, selected.
    ASSERT_EQ(reader.Do(QStringLiteral("Ombra Viewer/Still Picture"), QStringLiteral("Press")),
              "OK");
    ASSERT_TRUE(WaitUntil([&] { return QFileInfo::exists(Picture(1)); }, 15000));
    ASSERT_EQ(reader.Do(QStringLiteral("Ombra Viewer/Still Picture"), QStringLiteral("Press")),
              "OK");
    ASSERT_TRUE(WaitUntil([&] { return reader.Tree().count(entry2) == 1; }, 15000));
    tree = reader.Tree();
    EXPECT_TRUE(tree[list].Is("showing"));
    EXPECT_TRUE(tree[entry1].Is("showing") && tree[entry1].Is("focusable"));
    EXPECT_FALSE(tree[entry1].Is("selected"));
    EXPECT_TRUE(tree[entry2].Is("selected"));
    EXPECT_TRUE(tree[QStringLiteral("Ombra Viewer/Back")].Is("showing"));

    // An entry selected, then opened, through its actions.
    ASSERT_EQ(reader.Do(entry1, QStringLiteral("Select")), "OK");
    EXPECT_TRUE(WaitUntil([&] { return reader.Tree()[entry1].Is("selected"); }, 5000));
    EXPECT_FALSE(reader.Tree()[entry2].Is("selected"));
    ASSERT_EQ(reader.Do(entry2, QStringLiteral("Press")), "OK");
    EXPECT_TRUE(
        WaitUntil([&] { return Opened().endsWith(QStringLiteral("img000002.jpg")); }, 10000))
        << Opened().toStdString();

    // Each picture, a recording's start and stop are announced once; the
    // recording's time is told at most once a second.
    QStringList heard;
    EXPECT_TRUE(reader.Announced(QStringLiteral("Picture saved: img000002.jpg"), heard));
    ASSERT_EQ(reader.Do(QStringLiteral("Ombra Viewer/Record"), QStringLiteral("Press")), "OK");
    EXPECT_TRUE(reader.Announced(QStringLiteral("Recording: video000001.avi"), heard));
    heard.clear();
    QTest::qWait(3000);
    heard += reader.Events();
    EXPECT_LE(heard.filter(QStringLiteral("|(Record : ")).size(), 5) << heard.join('\n').toStdString();
    ASSERT_EQ(reader.Do(QStringLiteral("Ombra Viewer/Stop"), QStringLiteral("Press")), "OK");
    EXPECT_TRUE(reader.Announced(QStringLiteral("Recording stopped: video000001.avi"), heard));
    EXPECT_EQ(heard.filter(QStringLiteral("|notification|Rec")).size(), 1) << heard.join('\n').toStdString();

    // Folded again: the strip is hidden.
    ASSERT_EQ(reader.Do(QStringLiteral("Ombra Viewer/Collapse"), QStringLiteral("Press")), "OK");
    EXPECT_TRUE(WaitUntil([&] { return !reader.Tree()[list].Is("showing"); }, 5000));
    EXPECT_FALSE(reader.Tree()[entry1].Is("showing"));

    // The camera unplugged: the notice is one line to a screen reader.
    ::kill(pid_t(program.Pid()), SIGUSR1);
    QString notice;
    EXPECT_TRUE(WaitUntil(
        [&] {
            for (const auto& [path, n] : reader.Tree())
                if (n.role == QLatin1String("label") && n.Is("showing") &&
                    n.name.startsWith(QStringLiteral("The camera was unplugged.")))
                    notice = n.name;
            return !notice.isEmpty();
        },
        15000));
    EXPECT_FALSE(notice.contains(QLatin1Char('\r')) || notice.contains(QLatin1Char('\n')));
    EXPECT_TRUE(reader.Announced(notice, heard));
    ::kill(pid_t(program.Pid()), SIGUSR2);
    EXPECT_TRUE(reader.Announced(QStringLiteral("The camera's picture is back."), heard));
    EXPECT_TRUE(Stop());
}

// The panel from the keyboard alone: Tab order, Space and Return, Escape on
// a menu; the picture dialog beside a small preview. (The strip's own keys:
// EveryUser_test.)
TEST_F(EveryUserTest, ThePanelWorksFromTheKeyboard) {
    ASSERT_NO_FATAL_FAILURE(StartWithScreenReader());
    if (IsSkipped())
        return;

    // At start the panel's first button has the focus.
    EXPECT_TRUE(WaitUntil([&] { return reader.Focused() == "Record"; }, 5000))
        << reader.Focused().toStdString();
    // Tab in the preview window hands the focus to the panel; the buttons
    // follow in the order they are seen, the strip's closed.
    ASSERT_TRUE(ActivateView());
    const QStringList folded = {"Record", "Still Picture", "Edit Photo", "Send Mail", "Settings",
                                "Expand", "Minimize",      "Quit",       "Record"};
    EXPECT_EQ(TabThrough(folded.size()), folded);
    Keys({"shift+Tab"});
    EXPECT_EQ(reader.Focused(), QStringLiteral("Quit"));

    // Return on the still button takes a picture, Space another: the strip
    // opens, and its entries and buttons join the Tab order.
    Keys({"Tab", "Tab"});
    ASSERT_EQ(reader.Focused(), QStringLiteral("Still Picture"));
    Keys({"Return"});
    ASSERT_TRUE(WaitUntil([&] { return QFileInfo::exists(Picture(1)); }, 15000));
    Keys({"space"});
    ASSERT_TRUE(WaitUntil([&] { return QFileInfo::exists(Picture(2)); }, 15000));
    QTest::qWait(500);
    EXPECT_EQ(reader.Focused(), QStringLiteral("Still Picture"));
    const QStringList open = {"Edit Photo",
                              "Send Mail",
                              "Settings",
                              "Collapse",
                              "img000001.jpg",
                              "img000002.jpg",
                              "Remove from the strip (the file stays on disk)",
                              "Remove all from the strip (the files stay on disk)",
                              "Minimize",
                              "Quit"};
    EXPECT_EQ(TabThrough(open.size()), open);

    // Space on the settings button opens its menu, Escape closes it and the
    // focus is back on the button.
    Keys({"Tab", "Tab", "Tab", "Tab", "Tab"});
    ASSERT_EQ(reader.Focused(), QStringLiteral("Settings"));
    const QString menu = QStringLiteral("Ombra Viewer/Settings#2");
    Keys({"space"});
    EXPECT_TRUE(WaitUntil([&] { return reader.Tree()[menu].Is("showing"); }, 5000));
    Keys({"Escape"});
    EXPECT_TRUE(WaitUntil([&] { return !reader.Tree()[menu].Is("showing"); }, 5000));
    EXPECT_EQ(reader.Focused(), QStringLiteral("Settings"));

    // The picture dialog opens beside the small preview, not over it.
    const xcb_window_t dialog = OpenPictureDialogByKeyboard();
    ASSERT_NE(dialog, 0u) << "no dialog";
    const QRect shown = desktop.X().Geometry(dialog);
    const QRect preview = desktop.X().Geometry(view);
    EXPECT_FALSE(shown.intersects(preview));
    EXPECT_TRUE(QRect(0, 0, 1600, 1200).contains(shown));
    CloseBy("Escape");
    EXPECT_TRUE(Stop());
}

// At 200 % on a 1920 x 1080 screen a new user's webcam opens in the format
// it opens in at 100 %, shown pixel for pixel; its picture dialog fits the
// screen, OK and Cancel on it.
TEST_F(EveryUserTest, AScaledScreenGetsTheSameFirstFormatAndDialogsFitIt) {
    ASSERT_NO_FATAL_FAILURE(StartDesktop(QSize(1920, 1080), false));
    if (IsSkipped())
        return;
    const std::map<QString, QString> webcam = {
        {QStringLiteral("POMVIRA_TEST_CAMERA_PROFILE"), QStringLiteral("webcam")}};

    ASSERT_NO_FATAL_FAILURE(StartProgram(nullptr, webcam));
    const QSize atOne = desktop.X().Geometry(view).size();
    ASSERT_TRUE(Stop());
    const QString first = StoredFormat();
    EXPECT_EQ(first, QString::fromLatin1(kMjpg720));

    auto scaled = webcam;
    scaled[QStringLiteral("QT_SCALE_FACTOR")] = QStringLiteral("2");
    ASSERT_NO_FATAL_FAILURE(StartProgram(nullptr, scaled));
    // 1280 x 720 device pixels of video, the skin twice as large.
    EXPECT_EQ(desktop.X().Geometry(view).size(), QSize(640, 360) * 2 + kFrame * 2);
    EXPECT_EQ(atOne, QSize(1280, 720) + kFrame);

    const xcb_window_t dialog = OpenPictureDialogByKeyboard();
    ASSERT_NE(dialog, 0u) << "no dialog";
    // The dialog's window with the window manager's title bar above it.
    const QRect client = desktop.X().Geometry(dialog);
    EXPECT_TRUE(QRect(0, 0, 1920, 1080).contains(client))
        << client.x() << "," << client.y() << " " << client.width() << "x" << client.height();
    EXPECT_GE(client.top(), 10) << "the title bar is off the screen";
    Keys({"Escape"});
    ASSERT_TRUE(Stop());
    EXPECT_EQ(StoredFormat(), first);
}

// A 1920 x 1080 frame on a 1600 x 1200 screen: the preview covers the
// screen and the picture keeps 16:9, black above and below.
TEST_F(EveryUserTest, AFrameLargerThanTheScreenKeepsItsProportions) {
    ASSERT_NO_FATAL_FAILURE(StartDesktop(QSize(1600, 1200), false));
    if (IsSkipped())
        return;
    ASSERT_NO_FATAL_FAILURE(StartProgram(
        kMjpg1080, {{QStringLiteral("POMVIRA_TEST_CAMERA_PROFILE"), QStringLiteral("webcam")}}));
    const QRect v = desktop.X().Geometry(view);
    ASSERT_EQ(v, QRect(0, 0, 1600, 1200));
    // The video area: the window less its frame.
    const QRect area(v.left() + 16, v.top() + 32, v.width() - kFrame.width(),
                     v.height() - kFrame.height());
    // Down a column left of the panel: the skin's edge, black, the picture,
    // black, the skin's edge.
    const int x = area.left() + 100;
    auto black = [](QRgb c) { return qRed(c) < 20 && qGreen(c) < 20 && qBlue(c) < 20; };
    int barTop = -1, top = -1, bottom = -1, barBottom = -1;
    ASSERT_TRUE(WaitUntil(
        [&] {
            const QImage shot = desktop.X().Grab();
            auto dark = [&](int y) { return black(shot.pixel(x, y)); };
            int y = area.top();
            while (y < area.bottom() && !dark(y))
                ++y;
            barTop = y;
            while (y < area.bottom() && dark(y))
                ++y;
            top = y;
            y = v.bottom();
            while (y > top && !dark(y))
                --y;
            barBottom = y;
            while (y > top && dark(y))
                --y;
            bottom = y;
            return top > barTop + 10 && barBottom > bottom + 10;
        },
        30000))
        << "no picture between black bars: " << barTop << " " << top << " " << bottom << " "
        << barBottom;
    EXPECT_NEAR(bottom - top + 1, area.width() * 9 / 16, 3);
    EXPECT_NEAR(top - barTop, barBottom - bottom, 3) << "not centred";
    EXPECT_TRUE(Stop());
}

// Every settings dialog, in French, from the keyboard alone, as a screen
// reader finds it, on a 1366 x 768 screen at 200 %: each inside the screen;
// each focusable control named, none named like another of
// another purpose (a slider and its spin box share their control's name);
// the controls page opens on its first control, its slider then spin box;
// the compression list reachable once its box is unticked; both save
// folders changed through the chooser.
TEST_F(EveryUserTest, EverySettingsDialogIsNamedAndWorksFromTheKeyboard) {
    ASSERT_NO_FATAL_FAILURE(StartWithScreenReader(
        {{QStringLiteral("LANGUAGE"), QStringLiteral("fr")},
         {QStringLiteral("QT_SCALE_FACTOR"), QStringLiteral("2")},
         {QStringLiteral("POMVIRA_TEST_CAMERA_PROFILE"), QStringLiteral("webcam")}},
        QSize(1366, 768)));
    if (IsSkipped())
        return;
    const QString folders[] = {dir.filePath("Films"), dir.filePath("Photos")};
    auto windows = [&] { return desktop.X().Clients(program.Pid()).size(); };
    // The menu's entries that open a dialog.
    for (int entry = 2; entry <= 8; ++entry) {
        SCOPED_TRACE(entry);
        const xcb_window_t dialog = OpenPictureDialogByKeyboard(entry);
        ASSERT_NE(dialog, 0u) << "no dialog";
        const QString title = desktop.X().Text(dialog, "_NET_WM_NAME");
        EXPECT_TRUE(QRect(0, 10, 1366, 758).contains(desktop.X().Geometry(dialog)));
        ASSERT_TRUE(WaitUntil([&] { return reader.Tree().count(title); }, 10000));
        std::map<QString, QStringList> roles;  // of the controls Tab reaches, by name
        for (const auto& [path, n] : reader.Tree())
            if (n.path.startsWith(title + '/') && n.Is("focusable") && n.Is("showing") &&
                n.role != QLatin1String("list item") && n.role != QLatin1String("page tab"))
                roles[n.name] << n.role;
        for (auto& [name, shared] : roles) {
            shared.sort();
            EXPECT_TRUE(!name.isEmpty() &&
                        (shared.size() == 1 || shared == QStringList({"slider", "spin button"})))
                << title.toStdString() << ": '" << name.toStdString() << "' "
                << shared.join(',').toStdString();
        }
        if (entry == 3) {
            EXPECT_TRUE(WaitUntil([&] { return reader.Focused() == "Brightness"; }, 10000));
            EXPECT_EQ(TabThrough(2).join(','), "Brightness,Contrast");
        } else if (entry == 4) {
            EXPECT_EQ(TabThrough(1).join(','), "OK");  // after the formats
        } else if (entry == 6) {                       // from OK past Cancel to the video box
            Keys({"Tab", "Tab", "space"});
            EXPECT_EQ(TabThrough(3).join(','),
                      "Sans compresseur audio,Compresseur vidéo,Confirmation");
        }
        // The folder chooser by Space, then Alt+Down; a folder typed there.
        for (int i = 0; entry == 7 && i < 2; ++i) {
            const size_t shown = windows();
            Keys({i ? "alt+Down" : "space"});
            ASSERT_TRUE(WaitUntil([&] { return windows() > shown; }, 10000));
            QTest::qWait(500);
            ASSERT_TRUE(QDir().mkpath(folders[i]) && desktop.XDoTool({"type", folders[i]}));
            CloseBy("Return");
            ASSERT_TRUE(WaitUntil([&] { return windows() == shown; }, 10000));
            Keys({"Tab"});
        }
        CloseBy(entry == 7 ? "Return" : "Escape");
        EXPECT_TRUE(WaitUntil([&] { return desktop.X().Dialog(program.Pid()) == 0; }, 10000));
        // Back on the button that opened it.
        EXPECT_TRUE(WaitUntil([&] { return reader.Focused() == "Configuration"; }, 5000))
            << reader.Focused().toStdString();
    }
    ASSERT_TRUE(Stop());
    const TIniFile ini(dir.filePath(QStringLiteral("config/Pomvira.ini")));
    EXPECT_EQ(ini.ReadString("CAPTURE", "VIDEO FOLDER", ""), folders[0]);
    EXPECT_EQ(ini.ReadString("CAPTURE", "SNAP FOLDER", ""), folders[1]);
}
