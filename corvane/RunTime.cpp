// SPDX-License-Identifier: GPL-3.0-or-later
#include "RunTime.h"

#include <spawn.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <csignal>
#include <thread>
#include <utility>
#include <vector>

#include <QCoreApplication>
#include <QDesktopServices>
#include <QMessageBox>
#include <QProcess>
#include <QUrl>

#include "MediumPath.h"

RunTimeError FileNotFoundError() {
    return {53, QStringLiteral("File not found")};
}

RunTimeError InvalidCallError() {
    return {5, QStringLiteral("Invalid procedure call or argument")};
}

namespace {

bool IsExecutableFile(const QByteArray& path) {
    struct stat st {};
    return ::stat(path.constData(), &st) == 0 && S_ISREG(st.st_mode) &&
           ::access(path.constData(), X_OK) == 0;
}

// Starts `program` with `arguments` and does not wait for it; a thread of its
// own collects its exit status whenever it ends. The path goes to the system
// byte for byte (QProcess would take it as text and lose the bytes that are
// not UTF-8). False when the system refuses to run the file.
bool SpawnDetached(const QByteArray& program, const QStringList& arguments) {
    std::vector<QByteArray> words{program};
    for (const QString& argument : arguments)
        words.push_back(argument.toLocal8Bit());
    std::vector<char*> argv;
    for (QByteArray& word : words)
        argv.push_back(word.data());
    argv.push_back(nullptr);

    // The program starts with every signal at its default and none blocked.
    posix_spawnattr_t attributes;
    posix_spawnattr_init(&attributes);
    sigset_t all;
    sigset_t none;
    sigfillset(&all);
    sigemptyset(&none);
    posix_spawnattr_setsigdefault(&attributes, &all);
    posix_spawnattr_setsigmask(&attributes, &none);
    posix_spawnattr_setflags(&attributes, POSIX_SPAWN_SETSIGDEF | POSIX_SPAWN_SETSIGMASK);
    pid_t pid = 0;
    const int result =
        ::posix_spawn(&pid, program.constData(), nullptr, &attributes, argv.data(), environ);
    posix_spawnattr_destroy(&attributes);
    if (result != 0)
        return false;
    std::thread([pid] {
        while (::waitpid(pid, nullptr, 0) < 0 && errno == EINTR) {
        }
    }).detach();
    return true;
}

}  // namespace

DetachedStarter::DetachedStarter(Opener opener) : opener_(std::move(opener)) {}

bool DetachedStarter::Start(const QByteArray& program, const QStringList& arguments) {
    // A refused exec (a Windows program marked executable, as every file on a
    // plain ISO 9660 CD is) is a failure; such a file then goes to the opener
    // like one without the executable bit.
    if (IsExecutableFile(program) && SpawnDetached(program, arguments)) {
        return true;
    }
    return opener_ && opener_(program);
}

bool DetachedStarter::DesktopOpen(const QByteArray& file) {
    // Percent-encoded, the URL keeps the bytes of a name that is not UTF-8.
    return QDesktopServices::openUrl(QUrl::fromEncoded("file://" + file.toPercentEncoding("/")));
}

const QString RunTime::kTitle = QStringLiteral("Corvane");

RunTime::RunTime(ProgramStarter& starter, QByteArray mediumRoot, Reporter reporter, Ender ender)
    : starter_(starter),
      mediumRoot_(std::move(mediumRoot)),
      reporter_(std::move(reporter)),
      ender_(std::move(ender)) {}

QByteArray RunTime::MediumRoot() const {
    if (!mediumRoot_.isEmpty())
        return mediumRoot_;
    const QByteArray fromEnvironment = qgetenv("CORVANE_MEDIUM_ROOT");
    if (!fromEnvironment.isEmpty())
        return fromEnvironment;
    return MediumRootOf(CurrentFolder());
}

void RunTime::Shell(const QString& commandLine, int windowStyle) {
    const bool knownStyle = (windowStyle >= 0 && windowStyle <= 4) || windowStyle == 6;
    QStringList arguments = QProcess::splitCommand(commandLine);
    if (!knownStyle || arguments.isEmpty())
        throw InvalidCallError();

    QString program = arguments.takeFirst();
    program.replace(QLatin1Char('\\'), QLatin1Char('/'));
    const QByteArray base = program.startsWith(QLatin1Char('/')) ? MediumRoot() : CurrentFolder();
    const QByteArray file = FindOnMedium(base, program);
    if (file.isEmpty())
        throw FileNotFoundError();
    if (!starter_.Start(file, arguments))
        throw InvalidCallError();
}

void RunTime::Report(const RunTimeError& error) {
    if (reporter_)
        reporter_(kTitle, ReportText(error));
}

void RunTime::End(int exitCode) {
    if (ender_)
        ender_(exitCode);
}

QString RunTime::ReportText(const RunTimeError& error) {
    return QStringLiteral("Run-time error '%1':\n\n%2").arg(error.Number).arg(error.Description);
}

void RunTime::ShowMessageBox(const QString& title, const QString& text) {
    QMessageBox box(QMessageBox::Critical, title, text, QMessageBox::Ok);
    box.exec();
}

void RunTime::QuitApplication(int exitCode) {
    QCoreApplication::exit(exitCode);
}
