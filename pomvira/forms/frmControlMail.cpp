// The control panel's mail: a picture or a recording handed to the user's
// mail program as the attachment of a new message with a subject and no
// recipients; the user completes and sends it there. The desktop's
// xdg-email starts the mail program the user chose (or the one named by the
// MAILER variable) and ends when that program is done with the message; its
// exit status is the result, 0 meaning success.
#include <QFileInfo>
#include <QStandardPaths>

#include "app/Application.h"
#include "app/ChildProcess.h"
#include "files/TextConv.h"
#include "frmControl.h"

namespace {

const char* const kMailCommand = "xdg-email";

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

// Opens the mail program's window for the new message and waits until the
// program is done with it; 0 when the message was handed over.
int CallMailProgram(const QString& subject, const QString& path) {
    const QString program = MailProgram();
    if (program.isEmpty())
        return kChildFailed;
    // The texts are given as UTF-8 whatever the locale's character set.
    QStringList arguments{QStringLiteral("--utf8"), QStringLiteral("--subject"), subject};
    // A file that is gone (or never was) leaves a message with the subject
    // alone.
    if (!path.isEmpty() && QFileInfo(path).isFile())
        arguments << QStringLiteral("--attach") << path;
    return RunChildProcess(program, arguments);
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
    int result = kChildFailed;
    try {
        result = CallMailProgram(subject, path);
    } catch (...) {
        result = kChildFailed;
    }
    // A mail given up because the program is ending is no error to report.
    if (result != 0 && !ApplicationTerminating())
        ShowMessageBox(this, UiText("Messages", "Erreur dans l’envoi du message."),
                       QString::fromLatin1(kApplicationTitle), QMessageBox::Critical);
}

void TControlForm::actSendMailExecute(QObject*) {
    const QString selected = SelectedFile();
    if (!selected.isEmpty())
        SendMail(QStringLiteral("Photo Mail"), selected);
}
