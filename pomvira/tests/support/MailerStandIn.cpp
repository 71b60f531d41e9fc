// SPDX-License-Identifier: GPL-3.0-or-later
#include "MailerStandIn.h"

#include <QFile>
#include <csignal>
#include <cstdlib>

namespace {

// A text as one single-quoted shell word.
QByteArray ShellQuoted(const QString& text) {
    QByteArray quoted = QFile::encodeName(text);
    quoted.replace("'", "'\\''");
    return "'" + quoted + "'";
}

bool Remember(const char* name, QByteArray& value) {
    const char* current = std::getenv(name);
    if (current)
        value = current;
    return current != nullptr;
}

void Restore(const char* name, bool had, const QByteArray& value) {
    if (had)
        setenv(name, value.constData(), 1);
    else
        unsetenv(name);
}

}  // namespace

TMailerStandIn::TMailerStandIn(int exitStatus, int pauseMs)
    : FHadMailer(Remember("MAILER", FOldMailer)),
      FHadDesktop(Remember("XDG_CURRENT_DESKTOP", FOldDesktop)) {
    SetExitStatus(exitStatus);
    SetPause(pauseMs);
    const QString script = FDir.filePath(QStringLiteral("mailer"));
    QFile file(script);
    if (file.open(QIODevice::WriteOnly)) {
        file.write("#!/bin/sh\ndir=" + ShellQuoted(FDir.path()) + "\n");
        file.write(
            "{ echo @run; for a in \"$@\"; do printf '%s\\n' \"$a\"; done; }"
            " >> \"$dir/log\"\n"
            "echo $$ >> \"$dir/pids\"\n"
            // Ended early (see the destructor), it takes its pause along.
            "trap 'kill $! 2>/dev/null; exit 143' TERM\n"
            "sleep \"$(cat \"$dir/pause\")\" &\n"
            "wait $!\n"
            "exit \"$(cat \"$dir/status\")\"\n");
        file.close();
        file.setPermissions(QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner);
    }
    // xdg-email runs each entry of MAILER through the shell's eval.
    setenv("MAILER", ShellQuoted(script).constData(), 1);
    setenv("XDG_CURRENT_DESKTOP", "X-Generic", 1);
}

TMailerStandIn::~TMailerStandIn() {
    // A mail program left open by the program under test is closed here.
    for (const pid_t pid : RunningPids())
        kill(pid, SIGTERM);
    Restore("MAILER", FHadMailer, FOldMailer);
    Restore("XDG_CURRENT_DESKTOP", FHadDesktop, FOldDesktop);
}

void TMailerStandIn::WriteSetting(const char* name, const QByteArray& value) {
    QFile file(FDir.filePath(QString::fromLatin1(name)));
    if (file.open(QIODevice::WriteOnly))
        file.write(value + "\n");
}

void TMailerStandIn::SetExitStatus(int status) {
    WriteSetting("status", QByteArray::number(status));
}

void TMailerStandIn::SetPause(int ms) {
    WriteSetting("pause", QByteArray::number(ms / 1000.0, 'f', 3));
}

std::vector<TMailerStandIn::TMail> TMailerStandIn::Mails() const {
    std::vector<QStringList> runs;
    QFile file(FDir.filePath(QStringLiteral("log")));
    if (file.open(QIODevice::ReadOnly)) {
        for (const QByteArray& line : file.readAll().split('\n')) {
            if (line == "@run")
                runs.emplace_back();
            else if (!line.isEmpty() && !runs.empty())
                runs.back().append(QString::fromUtf8(line));
        }
    }
    std::vector<TMail> mails;
    for (const QStringList& arguments : runs) {
        TMail mail = DecodeMailto(arguments.value(0));
        mail.Arguments = arguments;
        mails.push_back(mail);
    }
    return mails;
}

TMailerStandIn::TMail DecodeMailto(const QString& uri) {
    TMailerStandIn::TMail mail;
    if (!uri.startsWith(QLatin1String("mailto:")))
        return mail;
    const int query = uri.indexOf(QLatin1Char('?'));
    if (query < 0)
        return mail;
    for (const QString& field : uri.mid(query + 1).split(QLatin1Char('&'))) {
        const int eq = field.indexOf(QLatin1Char('='));
        const QString key = field.left(eq);
        const QString value =
            QString::fromUtf8(QByteArray::fromPercentEncoding(field.mid(eq + 1).toLatin1()));
        if (key == QLatin1String("subject"))
            mail.Subject = value;
        else if (key == QLatin1String("attach"))
            mail.Attachments.append(value);
    }
    return mail;
}

std::vector<pid_t> TMailerStandIn::RunningPids() const {
    std::vector<pid_t> running;
    QFile file(FDir.filePath(QStringLiteral("pids")));
    if (file.open(QIODevice::ReadOnly)) {
        for (const QByteArray& line : file.readAll().split('\n')) {
            const pid_t pid = line.trimmed().toInt();
            if (pid > 0 && kill(pid, 0) == 0)
                running.push_back(pid);
        }
    }
    return running;
}
