// SPDX-License-Identifier: GPL-3.0-or-later
// The control panel's mail: a picture or a recording handed to the user's
// mail program as the attachment of a new message with a subject and no
// recipients; the user completes and sends it there. The desktop's
// xdg-email starts the mail program the user chose (or the one named by the
// MAILER variable) and ends when that program is done with the message; its
// exit status is the result, 0 meaning success. Many mail programs keep
// xdg-email waiting for as long as their window is open (Thunderbird started
// by it runs in the foreground until the user quits it), so the panel waits
// only while the message is handed over: after a few seconds it takes input
// again, and a failure that xdg-email reports later is shown then.
#include <QFileInfo>
#include <QStandardPaths>

#include "app/Application.h"
#include "app/ChildProcess.h"
#include "files/TextConv.h"
#include "frmControl.h"

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

// Opens the mail program's window for the new message: the result of
// xdg-email when it ends within the hand-over (0 when the message was handed
// over), or kChildRunning; `mail` then gives the result when it comes.
int CallMailProgram(TChildProcess& mail, const QString& subject, const QString& path,
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

}  // namespace

void SetMailProgramForTesting(const QString& program) {
    g_mailCommand = program.isEmpty() ? QString::fromLatin1(kMailCommand) : program;
    g_mailDecided = false;
    g_mailProgram.clear();
}

void TControlForm::SendMail(const QString& subject, const QString& path) {
    // Nothing is opened once the program is ending.
    if (ApplicationTerminating())
        return;
    const auto reportFailure = [this] {
        // A mail given up because the program is ending is no error to
        // report.
        if (!ApplicationTerminating())
            ShowMessageBox(this, UiText("Messages", "Erreur dans l’envoi du message."),
                           QString::fromLatin1(kApplicationTitle), QMessageBox::Critical);
    };
    // Each mail whose program goes on by itself is watched until it ends;
    // the panel owns it, so quitting stops the watch (the mail program's
    // window stays).
    auto* mail = new TChildProcess(this);
    int result = kChildFailed;
    try {
        result = CallMailProgram(*mail, subject, path, [mail, reportFailure](int late) {
            mail->deleteLater();
            if (late != 0)
                reportFailure();
        });
    } catch (...) {
        result = kChildFailed;
    }
    if (result == kChildRunning)
        return;
    delete mail;
    if (result != 0)
        reportFailure();
}

void TControlForm::actSendMailExecute(QObject*) {
    const QString selected = SelectedFile();
    if (!selected.isEmpty())
        SendMail(QStringLiteral("Photo Mail"), selected);
}
