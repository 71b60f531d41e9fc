// SPDX-License-Identifier: GPL-3.0-or-later
#include "MailProgram.h"

#include <QFileInfo>
#include <QStandardPaths>

namespace {

const char* const kMailCommand = "xdg-email";
// How long the panel waits for the mail program to take the message before
// it lets it go on by itself.
constexpr int kMailHandOverMs = 3000;

// Whether a mail program can be reached is decided at the first send of the
// run and never looked at again; after that the program's full path, empty
// when there is none.
QString g_mailCommand = QString::fromLatin1(kMailCommand);
bool g_mailDecided = false;
QString g_mailProgram;

QString MailProgram() {
    if (!g_mailDecided) {
        g_mailDecided = true;
        g_mailProgram = QStandardPaths::findExecutable(g_mailCommand);
    }
    return g_mailProgram;
}

}  // namespace

int StartMailProgram(TChildProcess& mail, const QString& subject, const QString& path,
                     TChildProcess::TLateResult lateResult) {
    const QString program = MailProgram();
    if (program.isEmpty())
        return kChildFailed;
    // The texts are given as UTF-8 whatever the locale's character set.
    QStringList arguments{QStringLiteral("--utf8"), QStringLiteral("--subject"), subject};
    // A file that is gone (or never was) leaves a message with the subject
    // alone.
    if (!path.isEmpty() && QFileInfo(path).isFile())
        arguments << QStringLiteral("--attach") << path;
    return mail.Start(program, arguments, kMailHandOverMs, std::move(lateResult));
}

void SetMailProgramForTesting(const QString& program) {
    g_mailCommand = program.isEmpty() ? QString::fromLatin1(kMailCommand) : program;
    g_mailDecided = false;
    g_mailProgram.clear();
}

