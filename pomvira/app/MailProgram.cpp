// SPDX-License-Identifier: GPL-3.0-or-later
#include "MailProgram.h"

#include <QFileInfo>
#include <QStandardPaths>

namespace {

// How long the panel waits for the mail program to take the message before
// it lets it go on by itself.
constexpr int kMailHandOverMs = 3000;

}  // namespace

TMailProgram::TMailProgram() : TMailProgram(QStringLiteral("xdg-email")) {}

TMailProgram::TMailProgram(const QString& command) : FCommand(command) {}

int TMailProgram::Start(TChildProcess& mail, const QString& subject, const QString& path,
                        TChildProcess::TLateResult lateResult) {
    if (!FDecided) {
        FDecided = true;
        FProgram = QStandardPaths::findExecutable(FCommand);
    }
    if (FProgram.isEmpty())
        return kChildFailed;
    // The texts are given as UTF-8 whatever the locale's character set.
    QStringList arguments{QStringLiteral("--utf8"), QStringLiteral("--subject"), subject};
    // A file that is gone (or never was) leaves a message with the subject
    // alone.
    if (!path.isEmpty() && QFileInfo(path).isFile())
        arguments << QStringLiteral("--attach") << path;
    return mail.Start(FProgram, arguments, kMailHandOverMs, std::move(lateResult));
}
