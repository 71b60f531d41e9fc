#include "RunTime.h"

#include <utility>

#include <QCoreApplication>
#include <QDesktopServices>
#include <QDir>
#include <QFileInfo>
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

DetachedStarter::DetachedStarter(Opener opener) : opener_(std::move(opener)) {}

bool DetachedStarter::Start(const QString& program, const QStringList& arguments) {
    // startDetached reports a refused exec (a Windows program marked
    // executable, as every file on a plain ISO 9660 CD is) as a failure; such
    // a file then goes to the opener like one without the executable bit.
    if (QFileInfo(program).isExecutable() && QProcess::startDetached(program, arguments)) {
        return true;
    }
    return opener_ && opener_(program);
}

bool DetachedStarter::DesktopOpen(const QString& file) {
    return QDesktopServices::openUrl(QUrl::fromLocalFile(file));
}

const QString RunTime::kTitle = QStringLiteral("Corvane");

RunTime::RunTime(ProgramStarter& starter, QString mediumRoot, Reporter reporter, Ender ender)
    : starter_(starter),
      mediumRoot_(std::move(mediumRoot)),
      reporter_(std::move(reporter)),
      ender_(std::move(ender)) {}

QString RunTime::MediumRoot() const {
    if (!mediumRoot_.isEmpty())
        return mediumRoot_;
    const QString fromEnvironment = qEnvironmentVariable("CORVANE_MEDIUM_ROOT");
    if (!fromEnvironment.isEmpty())
        return fromEnvironment;
    return MediumRootOf(QDir::currentPath());
}

void RunTime::Shell(const QString& commandLine, int windowStyle) {
    const bool knownStyle = (windowStyle >= 0 && windowStyle <= 4) || windowStyle == 6;
    QStringList arguments = QProcess::splitCommand(commandLine);
    if (!knownStyle || arguments.isEmpty())
        throw InvalidCallError();

    QString program = arguments.takeFirst();
    program.replace(QLatin1Char('\\'), QLatin1Char('/'));
    const QString base = program.startsWith(QLatin1Char('/')) ? MediumRoot() : QDir::currentPath();
    const QString file = FindOnMedium(base, program);
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
