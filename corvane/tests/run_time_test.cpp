// SPDX-License-Identifier: GPL-3.0-or-later
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <QApplication>
#include <QDir>
#include <QFile>
#include <QMessageBox>
#include <QTest>
#include <QTimer>

#include "RunTime.h"
#include "Medium.h"

namespace {

constexpr QFile::Permissions kExecutable = QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner;

RunTimeError ShellError(RunTime& runTime, const QString& commandLine, int windowStyle = 2) {
    try {
        runTime.Shell(commandLine, windowStyle);
    } catch (const RunTimeError& error) {
        return error;
    }
    return {0, QString()};
}

TEST(RunTimeShell, StartsTheProgramFoundFromTheMediumRoot) {
    TempMedium medium;
    const QString program = medium.Add("Tools/Run.exe");
    RecordingStarter starter;
    RunTime runTime(starter, QFile::encodeName(medium.Root()));

    runTime.Shell("\\tools\\run.exe -q \"two words\" c:\\x", 2);
    ASSERT_EQ(starter.started.size(), 1u);
    EXPECT_EQ(starter.started[0].first, QFile::encodeName(program));
    EXPECT_EQ(starter.started[0].second, QStringList({"-q", "two words", "c:\\x"}));
}

TEST(RunTimeShell, ReportsMissingProgramsAndBadCallsAsRunTimeErrors) {
    TempMedium medium;
    medium.Add("setup/setup.exe");
    RecordingStarter starter;
    RunTime runTime(starter, QFile::encodeName(medium.Root()));

    const RunTimeError missing = ShellError(runTime, "\\viewer\\OmbraSetup.EXE");
    EXPECT_EQ(missing.Number, 53);
    EXPECT_EQ(missing.Description, "File not found");
    EXPECT_EQ(ShellError(runTime, "\\setup").Number, 53);
    EXPECT_TRUE(starter.started.empty());

    EXPECT_EQ(ShellError(runTime, "").Number, 5);
    EXPECT_EQ(ShellError(runTime, "\\setup\\setup.exe", 5).Number, 5);
    EXPECT_EQ(ShellError(runTime, "\\setup\\setup.exe", -1).Number, 5);
    EXPECT_TRUE(starter.started.empty());

    // Found but refused by the system.
    starter.result = false;
    const RunTimeError refused = ShellError(runTime, "\\setup\\setup.exe");
    EXPECT_EQ(refused.Number, 5);
    EXPECT_EQ(refused.Description, "Invalid procedure call or argument");
    EXPECT_EQ(starter.started.size(), 1u);
}

TEST(RunTimeShell, RelativeProgramsComeFromTheCurrentFolder) {
    TempMedium medium;
    const QString program = medium.Add("sub/Tool.sh");
    RecordingStarter starter;
    RunTime runTime(starter, "/nonexistent-medium");
    const QString saved = QDir::currentPath();
    ASSERT_TRUE(QDir::setCurrent(medium.Root()));
    runTime.Shell("sub\\tool.sh", 0);
    EXPECT_EQ(ShellError(runTime, "\\sub\\tool.sh").Number, 53);
    QDir::setCurrent(saved);
    ASSERT_EQ(starter.started.size(), 1u);
    EXPECT_EQ(QFileInfo(QFile::decodeName(starter.started[0].first)).canonicalFilePath(),
              QFileInfo(program).canonicalFilePath());
}

// A folder whose name is not valid UTF-8 (Latin-1 "café"), as an old CD may carry.
const QByteArray kLatin1Name = "caf\xe9";

TEST(RunTimeShell, KeepsPathsThatAreNotUtf8AsTheFileSystemGivesThem) {
    TempMedium medium;
    const QByteArray root = QFile::encodeName(medium.Root()) + "/" + kLatin1Name;
    ASSERT_EQ(::mkdir(root.constData(), 0700), 0);
    ASSERT_EQ(::mkdir(root + "/setup", 0700), 0);
    ASSERT_EQ(::close(::open(root + "/setup/setup.exe", O_CREAT | O_WRONLY, 0600)), 0);
    RecordingStarter starter;

    // The medium's root from the environment.
    ASSERT_EQ(setenv("CORVANE_MEDIUM_ROOT", root.constData(), 1), 0);
    RunTime fromEnvironment(starter);
    const RunTimeError error = ShellError(fromEnvironment, "\\setup\\setup.exe");
    unsetenv("CORVANE_MEDIUM_ROOT");
    EXPECT_EQ(error.Number, 0) << error.Description.toStdString();

    // A program from the current folder.
    const QString saved = QDir::currentPath();
    ASSERT_EQ(::chdir(root.constData()), 0);
    RunTime fromCurrent(starter, "/nonexistent-medium");
    const RunTimeError relative = ShellError(fromCurrent, "setup\\setup.exe");
    QDir::setCurrent(saved);
    EXPECT_EQ(relative.Number, 0) << relative.Description.toStdString();

    ASSERT_EQ(starter.started.size(), 2u);
    EXPECT_EQ(starter.started[0].first, root + "/setup/setup.exe");
    EXPECT_EQ(starter.started[1].first, root + "/setup/setup.exe");
}

TEST(RunTimeMediumRoot, ArgumentThenEnvironmentThenMountOfCurrentFolder) {
    RecordingStarter starter;
    qputenv("CORVANE_MEDIUM_ROOT", "/from/environment");
    EXPECT_EQ(RunTime(starter, "/given").MediumRoot(), "/given");
    EXPECT_EQ(RunTime(starter).MediumRoot(), "/from/environment");
    qunsetenv("CORVANE_MEDIUM_ROOT");

    const QString saved = QDir::currentPath();
    ASSERT_TRUE(QDir::setCurrent("/proc/self"));
    EXPECT_EQ(RunTime(starter).MediumRoot(), "/proc");
    QDir::setCurrent(saved);
}

TEST(RunTimeReport, ShowsTheStandardTextUnderTheProgramName) {
    RecordingStarter starter;
    QString title, text;
    int ended = -1;
    RunTime runTime(
        starter, QByteArray(),
        [&](const QString& t, const QString& x) {
            title = t;
            text = x;
        },
        [&](int code) { ended = code; });
    runTime.Report(FileNotFoundError());
    EXPECT_EQ(title, "Corvane");
    EXPECT_EQ(text, "Run-time error '53':\n\nFile not found");
    EXPECT_EQ(ended, -1);  // reporting alone does not end the program
    runTime.End(7);
    EXPECT_EQ(ended, 7);
}

TEST(RunTimeReport, RealMessageBoxCarriesTitleTextAndStopIcon) {
    QString title, text;
    QMessageBox::Icon icon = QMessageBox::NoIcon;
    bool seen = false;
    QTimer closer;
    QObject::connect(&closer, &QTimer::timeout, [&] {
        auto* box = qobject_cast<QMessageBox*>(QApplication::activeModalWidget());
        if (!box)
            return;
        seen = true;
        title = box->windowTitle();
        text = box->text();
        icon = box->icon();
        box->accept();
    });
    closer.start(20);
    RunTime::ShowMessageBox(RunTime::kTitle, RunTime::ReportText(FileNotFoundError()));
    closer.stop();
    ASSERT_TRUE(seen);
    EXPECT_EQ(title, "Corvane");
    EXPECT_EQ(text, "Run-time error '53':\n\nFile not found");
    EXPECT_EQ(icon, QMessageBox::Critical);
}

TEST(DetachedStarter, StartsAScriptWithoutWaitingForIt) {
    TempMedium medium;
    const QString go = QDir(medium.Root()).filePath("go");
    const QString marker = QDir(medium.Root()).filePath("marker");
    // The script blocks until the test lets it go: Start must return first.
    const QString script = medium.Add("setup/setup.sh",
                                      "#!/bin/sh\n"
                                      "while [ ! -e '" +
                                          go.toUtf8() +
                                          "' ]; do sleep 0.05; done\n"
                                          "echo \"$@\" > '" +
                                          marker.toUtf8() + "'\n",
                                      kExecutable);
    bool opened = false;
    DetachedStarter starter([&](const QByteArray&) { return opened = true; });
    ASSERT_TRUE(starter.Start(QFile::encodeName(script), {"one", "two"}));
    EXPECT_FALSE(QFile::exists(marker));
    QFile goFile(go);
    ASSERT_TRUE(goFile.open(QIODevice::WriteOnly));
    goFile.close();
    QFile result(marker);
    EXPECT_TRUE(QTest::qWaitFor([&] { return result.size() > 0; }, 20000));
    ASSERT_TRUE(result.open(QIODevice::ReadOnly));
    EXPECT_EQ(result.readAll(), "one two\n");
    EXPECT_FALSE(opened);
}

TEST(DetachedStarter, StartsAProgramWhosePathIsNotUtf8) {
    TempMedium medium;
    const QByteArray folder = QFile::encodeName(medium.Root()) + "/" + kLatin1Name;
    ASSERT_EQ(::mkdir(folder.constData(), 0700), 0);
    const QByteArray marker = folder + "/marker";
    const QByteArray script = folder + "/setup.sh";
    const int fd = ::open(script.constData(), O_CREAT | O_WRONLY, 0700);
    ASSERT_GE(fd, 0);
    const QByteArray text = "#!/bin/sh\necho \"$1\" > \"$(dirname \"$0\")/marker\"\n";
    ASSERT_EQ(::write(fd, text.constData(), text.size()), text.size());
    ASSERT_EQ(::close(fd), 0);
    bool opened = false;
    DetachedStarter starter([&](const QByteArray&) { return opened = true; });
    ASSERT_TRUE(starter.Start(script, {"started"}));
    struct stat info {};
    EXPECT_TRUE(QTest::qWaitFor(
        [&] { return ::stat(marker.constData(), &info) == 0 && info.st_size > 0; }, 20000));
    EXPECT_FALSE(opened);
}

TEST(DetachedStarter, HandsWhatTheSystemCannotRunToTheOpener) {
    TempMedium medium;
    const QString plain = medium.Add("setup/setup.exe", "MZ\x90");
    const QString windows = medium.Add("viewer/OmbraSetup.EXE", "MZ\x90", kExecutable);
    QStringList opened;
    bool openerResult = true;
    DetachedStarter starter([&](const QByteArray& file) {
        opened << QFile::decodeName(file);
        return openerResult;
    });
    EXPECT_TRUE(starter.Start(QFile::encodeName(plain), {}));
    EXPECT_EQ(opened, QStringList({plain}));
    // Marked executable, as on a CD without Unix permissions, but exec refuses
    // it (unless a Windows loader is registered with the kernel).
    if (!QFile::exists("/proc/sys/fs/binfmt_misc/wine")) {
        EXPECT_TRUE(starter.Start(QFile::encodeName(windows), {}));
        EXPECT_EQ(opened, QStringList({plain, windows}));
    }

    openerResult = false;
    EXPECT_FALSE(starter.Start(QFile::encodeName(plain), {}));
}

}  // namespace
