// The built camera program run as a user's session ends it: with a signal.
// Whatever state its settings file is in, the program must end on SIGTERM by
// itself, without waiting for anyone to click.
#include <QDir>
#include <QFile>
#include <QProcess>
#include <QProcessEnvironment>
#include <QTemporaryDir>
#include <QTest>
#include <csignal>
#include <gtest/gtest.h>
#include <sys/stat.h>

namespace {

// Whether the process has a handler for SIGTERM installed (/proc/PID/status,
// "SigCgt": a hexadecimal mask in which signal n is bit n - 1).
bool CatchesSigterm(qint64 pid) {
    QFile status(QStringLiteral("/proc/%1/status").arg(pid));
    if (!status.open(QIODevice::ReadOnly))
        return false;
    for (const QByteArray& line : status.readAll().split('\n'))
        if (line.startsWith("SigCgt:"))
            return (line.mid(7).trimmed().toULongLong(nullptr, 16) >> (SIGTERM - 1)) & 1;
    return false;
}

class PomviraProgram : public ::testing::Test {
  protected:
    QString IniPath() const { return configHome.filePath(QStringLiteral("Pomvira.ini")); }

    // Starts the program with one test camera and its settings in a fresh
    // folder, waits (bounded) until it catches SIGTERM, sends it and waits
    // (bounded) for the program to end. True when it ended by itself.
    bool RunAndTerminate() {
        QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
        environment.insert(QStringLiteral("POMVIRA_TEST_DEVICES"), QStringLiteral("1"));
        environment.insert(QStringLiteral("XDG_CONFIG_HOME"), configHome.path());
        environment.insert(QStringLiteral("QT_QPA_PLATFORM"), QStringLiteral("offscreen"));
        process.setProcessEnvironment(environment);
        process.start(QStringLiteral(POMVIRA_EXECUTABLE), QStringList());
        if (!process.waitForStarted(30000))
            return false;
        const bool catches =
            QTest::qWaitFor([this] { return CatchesSigterm(process.processId()); }, 30000);
        EXPECT_TRUE(catches);
        ::kill(static_cast<pid_t>(process.processId()), SIGTERM);
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
