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
#include "app/Application.h"
#include "app/ChildProcess.h"
#include "app/MailProgram.h"
#include "files/TextConv.h"
#include "frmControl.h"

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
        result = FServices.Mail.Start(*mail, subject, path, [mail, reportFailure](int late) {
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
