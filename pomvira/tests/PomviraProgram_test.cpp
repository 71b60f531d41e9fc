// SPDX-License-Identifier: GPL-3.0-or-later
// The built camera program run as a user's session ends it: with a signal.
// Whatever state its settings file is in, the program must end on SIGTERM by
// itself, without waiting for anyone to click. It runs in English.
#include <QDir>
#include <QFile>
#include <QProcess>
#include <QProcessEnvironment>
#include <QTemporaryDir>
#include <QTest>
#include <csignal>
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

namespace {

// Whether the process has a handler for the signal installed
// (/proc/PID/status, "SigCgt": a hexadecimal mask in which signal n is bit
// n - 1).
bool Catches(qint64 pid, int signal = SIGTERM) {
    QFile status(QStringLiteral("/proc/%1/status").arg(pid));
    if (!status.open(QIODevice::ReadOnly))
        return false;
    for (const QByteArray& line : status.readAll().split('\n'))
        if (line.startsWith("SigCgt:"))
            return (line.mid(7).trimmed().toULongLong(nullptr, 16) >> (signal - 1)) & 1;
    return false;
}

// Seconds of processor time the process has used (/proc/PID/stat: utime
// and stime, in clock ticks, after the command's closing parenthesis).
double CpuSeconds(qint64 pid) {
    QFile stat(QStringLiteral("/proc/%1/stat").arg(pid));
    if (!stat.open(QIODevice::ReadOnly))
        return -1;
    const QByteArray text = stat.readAll();
    const QList<QByteArray> fields = text.mid(text.lastIndexOf(')') + 2).split(' ');
    if (fields.size() < 13)
        return -1;
    return double(fields[11].toLongLong() + fields[12].toLongLong()) / double(sysconf(_SC_CLK_TCK));
}

// Processor time the process uses over the next `ms` milliseconds.
double CpuOver(qint64 pid, int ms) {
    const double before = CpuSeconds(pid);
    QTest::qWait(ms);
    return CpuSeconds(pid) - before;
}

class PomviraProgram : public ::testing::Test {
  protected:
    QString IniPath() const { return configHome.filePath(QStringLiteral("Pomvira.ini")); }

    // Starts the program with one test camera (or none) and its settings in
    // a fresh folder, and waits (bounded) until it catches SIGTERM.
    bool Start(bool testCamera = true) {
        QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
        if (testCamera)
            environment.insert(QStringLiteral("POMVIRA_TEST_DEVICES"), QStringLiteral("1"));
        else
            environment.remove(QStringLiteral("POMVIRA_TEST_DEVICES"));
        environment.insert(QStringLiteral("XDG_CONFIG_HOME"), configHome.path());
        environment.insert(QStringLiteral("QT_QPA_PLATFORM"), QStringLiteral("offscreen"));
        // The program speaks English here: its messages on standard error
        // show that it finds its catalogues beside itself.
        environment.insert(QStringLiteral("LANGUAGE"), QStringLiteral("en"));
        process.setProcessEnvironment(environment);
        process.start(QStringLiteral(POMVIRA_EXECUTABLE), QStringList());
        if (!process.waitForStarted(30000))
            return false;
        return QTest::qWaitFor([this] { return Catches(process.processId()); }, 30000);
    }
    void Send(int signal) { ::kill(static_cast<pid_t>(process.processId()), signal); }

    // Starts the program (unless it runs), sends SIGTERM and waits (bounded)
    // for the program to end. True when it ended by itself.
    bool RunAndTerminate() {
        if (process.state() == QProcess::NotRunning) {
            EXPECT_TRUE(Start());
        }
        Send(SIGTERM);
        if (!process.waitForFinished(30000)) {
            process.kill();
            process.waitForFinished(30000);
            return false;
        }
        error = process.readAllStandardError();
        return process.exitStatus() == QProcess::NormalExit && process.exitCode() == 0;
    }

    QTemporaryDir configHome;
    QProcess process;
    QByteArray error;
};

TEST_F(PomviraProgram, UnwritableSettingsAreReportedOnStandardErrorWhenASignalEndsIt) {
    // A folder in the file's place: read as missing, refused at the end.
    ASSERT_TRUE(QDir(configHome.path()).mkdir(QStringLiteral("Pomvira.ini")));
    ASSERT_TRUE(RunAndTerminate()) << "the program did not end on SIGTERM";
    EXPECT_TRUE(error.contains("Unable to write to " + QFile::encodeName(IniPath())))
        << error.constData();
}

TEST_F(PomviraProgram, SettingsFileThatIsAFifoNeitherBlocksTheStartNorTheEnd) {
    ASSERT_EQ(::mkfifo(QFile::encodeName(IniPath()).constData(), 0600), 0);
    ASSERT_TRUE(RunAndTerminate()) << "the program did not end on SIGTERM";
    EXPECT_TRUE(error.contains("Unable to write to " + QFile::encodeName(IniPath())))
        << error.constData();
    struct stat info {};
    ASSERT_EQ(::lstat(QFile::encodeName(IniPath()).constData(), &info), 0);
    EXPECT_TRUE(S_ISFIFO(info.st_mode));
}

}  // namespace

TEST_F(PomviraProgram, TheTestCameraUnpluggedBySignalIdlesTheProgramAndComesBackWhenPluggedBack) {
    ASSERT_TRUE(Start());
    ASSERT_TRUE(Catches(process.processId(), SIGUSR1) && Catches(process.processId(), SIGUSR2));
    // The preview streams: the program works for it.
    QTest::qWait(2000);
    EXPECT_GT(CpuOver(process.processId(), 3000), 0.06);

    Send(SIGUSR1);
    QTest::qWait(1000);
    // Under 2 % of a core over three seconds while the camera is gone.
    EXPECT_LT(CpuOver(process.processId(), 3000), 0.06);

    Send(SIGUSR2);
    QTest::qWait(2000);
    EXPECT_GT(CpuOver(process.processId(), 3000), 0.06);
    ASSERT_TRUE(RunAndTerminate()) << "the program did not end on SIGTERM";
}

TEST_F(PomviraProgram, WithoutTheTestDevicesTheUserSignalsAreLeftAlone) {
    // No camera at all: the program shows its message and waits for it.
    ASSERT_TRUE(Start(false));
    EXPECT_FALSE(Catches(process.processId(), SIGUSR1));
    EXPECT_FALSE(Catches(process.processId(), SIGUSR2));
    ASSERT_TRUE(RunAndTerminate()) << "the program did not end on SIGTERM";
}
