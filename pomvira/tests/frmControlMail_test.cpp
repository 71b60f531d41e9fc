// SPDX-License-Identifier: GPL-3.0-or-later
// Mail from the control panel through the real xdg-email, with a stand-in
// for the mail program: what is mailed for the strip's selection (subject,
// attachment, a file that is gone, nothing selected), the menu under the
// mail button, and the error message when the mail program reports a failure
// or cannot be reached at all.
#include <QDir>
#include <QFile>
#include <QElapsedTimer>
#include <QMenu>
#include <QTest>
#include <gtest/gtest.h>
#include <memory>

#include "widgets/ActionList.h"
#include "app/Application.h"
#include "ControlFormTesting.h"
#include "widgets/ImageButton.h"
#include "MailerStandIn.h"
#include "forms/frmControl.h"
#include "media/fake/FakeMedia.h"

using namespace media;
using namespace media::fake;

namespace {

class MailTest : public ControlFormTestBase {
  protected:
    void SetUp() override {
        ControlFormTestBase::SetUp();
        UseOwnSaveFolders();
        SetMessageBoxHook([this](const TMessageBoxRequest& r) {
            requests.push_back(r);
            return QMessageBox::Ok;
        });
        sys.AddVideoDevice("Cam", {VideoFormat(MEDIASUBTYPE_YUY2, 320, 240, 16)});
        form = std::make_unique<TControlForm>();
        ASSERT_TRUE(SettleSession(*form));
        ASSERT_TRUE(requests.empty()) << requests[0].text.toStdString();
        form->show();
    }
    void TearDown() override {
        form.reset();
        ControlFormTestBase::TearDown();
    }
    // The program started again: a new panel, made with the services as they
    // are now; the messages shown so far are forgotten.
    void Restart() {
        form.reset();
        requests.clear();
        form = std::make_unique<TControlForm>();
        ASSERT_TRUE(SettleSession(*form));
    }
    // A file in the picture folder, made now.
    QString MakeFile(const QString& name) {
        const QString path = SnapFolder() + QLatin1Char('/') + name;
        QDir().mkpath(QFileInfo(path).path());
        QFile file(path);
        EXPECT_TRUE(file.open(QIODevice::WriteOnly));
        file.write("picture");
        return path;
    }
    static std::string Text(const QStringList& list) { return list.join('\n').toStdString(); }
    // The mail program receives the file's path with symbolic links resolved.
    static QString Resolved(const QString& path) { return QFileInfo(path).canonicalFilePath(); }
    void ExpectTheErrorMessage(size_t count) {
        ASSERT_EQ(requests.size(), count);
        for (const TMessageBoxRequest& r : requests) {
            EXPECT_EQ(r.text, QString::fromUtf8("Erreur dans l\u2019envoi du message."));
            EXPECT_EQ(r.caption, "Ombra Viewer");
            EXPECT_EQ(r.icon, QMessageBox::Critical);
            EXPECT_EQ(r.buttons, QMessageBox::StandardButtons(QMessageBox::Ok));
            EXPECT_EQ(r.owner, form.get());
        }
    }

    FakeMediaSystem sys;
    std::vector<TMessageBoxRequest> requests;
    std::unique_ptr<TControlForm> form;
};

}  // namespace

TEST_F(MailTest, MenuOpensUnderTheMailButtonAndItsPhotoEntryMailsTheSelection) {
    TMailerStandIn mailer;
    form->move(100, 200);
    form->btnMail->Click();
    EXPECT_TRUE(form->menuMail->isVisible());
    EXPECT_EQ(form->menuMail->pos(), QPoint(100 + 214, 200 + 59));
    form->menuMail->hide();

    // Spaces, quotes and accents in the folder and the name arrive as they
    // stand, also where the locale names no character set.
    const QByteArray locale = qgetenv("LC_ALL");
    qputenv("LC_ALL", "C");
    const QString picture =
        MakeFile(QString::fromUtf8("l'\u00e9t\u00e9 \"2024\"/img 000004 & co.jpg"));
    form->AddToStrip(MakeFile(QStringLiteral("img000001.jpg")));
    form->AddToStrip(picture);
    const auto entries = form->menuMail->actions();
    ASSERT_EQ(entries.size(), 2);
    EXPECT_EQ(entries[1]->text(), form->actSendMail->Caption());
    entries[1]->trigger();
    qputenv("LC_ALL", locale);

    ASSERT_TRUE(requests.empty()) << requests[0].text.toStdString();
    const auto mails = mailer.Mails();
    ASSERT_EQ(mails.size(), 1u);
    EXPECT_EQ(mails[0].Subject, "Photo Mail");
    EXPECT_EQ(Text(mails[0].Attachments), Resolved(picture).toStdString());
    EXPECT_TRUE(mails[0].Attachments.value(0).endsWith(
        QString::fromUtf8("/l'\u00e9t\u00e9 \"2024\"/img 000004 & co.jpg")))
        << Text(mails[0].Attachments);
    // The strip is as it was.
    EXPECT_EQ(form->SelectedFile(), picture);
    EXPECT_EQ(form->StripFiles().size(), 2);
}

TEST_F(MailTest, RecordingIsPhotoMailTooGoneFileGoesWithoutItNoSelectionMailsNothing) {
    TMailerStandIn mailer;
    const QString recording = VideoFolder() + QStringLiteral("/video000001.avi");
    QFile file(recording);
    ASSERT_TRUE(file.open(QIODevice::WriteOnly));
    file.close();
    const QString attached = Resolved(recording);
    form->AddToStrip(recording);
    form->actSendMail->Execute();
    QFile::remove(recording);
    form->actSendMail->Execute();
    // Nothing selected: nothing is mailed.
    form->actBmpClear->Execute();
    ASSERT_EQ(PanelState(*form).Selected, -1);
    form->actSendMail->Execute();

    ASSERT_TRUE(requests.empty()) << requests[0].text.toStdString();
    const auto mails = mailer.Mails();
    ASSERT_EQ(mails.size(), 2u);
    EXPECT_EQ(mails[0].Subject, "Photo Mail");
    EXPECT_EQ(Text(mails[0].Attachments), attached.toStdString());
    EXPECT_EQ(mails[1].Subject, "Photo Mail");
    EXPECT_TRUE(mails[1].Attachments.isEmpty()) << Text(mails[1].Arguments);
}

TEST_F(MailTest, CancelledMailShowsTheErrorMessageAndChangesNothing) {
    TMailerStandIn mailer(1);
    form->AddToStrip(MakeFile(QStringLiteral("img000001.jpg")));
    form->AddToStrip(MakeFile(QStringLiteral("img000002.jpg")));
    const auto before = PanelState(*form);
    form->actSendMail->Execute();
    ASSERT_EQ(mailer.Mails().size(), 1u);
    ExpectTheErrorMessage(1);
    const auto after = PanelState(*form);
    EXPECT_EQ(after.FileCount, before.FileCount);
    EXPECT_EQ(after.Selected, before.Selected);
    EXPECT_EQ(after.FirstVisible, before.FirstVisible);

    // The next mail goes through again.
    mailer.SetExitStatus(0);
    form->actSendMail->Execute();
    EXPECT_EQ(mailer.Mails().size(), 2u);
    ExpectTheErrorMessage(1);
}

TEST_F(MailTest, WithoutAMailProgramEverySendShowsTheErrorMessageAndItIsNotLookedForAgain) {
    TMailerStandIn mailer;
    QTemporaryDir bin;
    const QString program = bin.filePath(QStringLiteral("xdg-email"));
    services.Mail = TMailProgram(program);
    ASSERT_NO_FATAL_FAILURE(Restart());
    const QString picture = MakeFile(QStringLiteral("img000001.jpg"));
    form->AddToStrip(picture);
    form->SendMail(QStringLiteral("Photo Mail"), form->SelectedFile());
    ExpectTheErrorMessage(1);

    // Installed while the program runs: found at the next start only.
    ASSERT_TRUE(QFile::link(QStringLiteral("/usr/bin/xdg-email"), program));
    form->SendMail(QStringLiteral("Video Mail"), form->SelectedFile());
    ExpectTheErrorMessage(2);
    EXPECT_TRUE(mailer.Mails().empty());
    ASSERT_NO_FATAL_FAILURE(Restart());
    form->AddToStrip(picture);
    form->SendMail(QStringLiteral("Video Mail"), form->SelectedFile());
    ExpectTheErrorMessage(0);
    ASSERT_EQ(mailer.Mails().size(), 1u);
    EXPECT_EQ(mailer.Mails()[0].Subject, "Video Mail");
}

// The mail program keeps xdg-email waiting while its window is open (as
// Thunderbird does when xdg-email starts it): the panel takes input again
// within seconds, and quitting meanwhile neither waits for the mail program,
// nor reports anything, nor closes the mail program's window.
TEST_F(MailTest, MailProgramLeftOpenDoesNotHoldThePanelNorTheQuit) {
    TMailerStandIn mailer(0, 30000);
    form->AddToStrip(MakeFile(QStringLiteral("img000001.jpg")));
    ASSERT_TRUE(PanelState(*form).Expanded);
    QElapsedTimer clock;
    clock.start();
    form->actSendMail->Execute();
    ASSERT_EQ(mailer.Mails().size(), 1u);
    EXPECT_EQ(mailer.Mails()[0].Subject, "Photo Mail");
    EXPECT_EQ(mailer.RunningPids().size(), 1u);
    // A click reaches the panel.
    QTest::mouseClick(form->btnExpand, Qt::LeftButton);
    EXPECT_FALSE(PanelState(*form).Expanded);
    EXPECT_LE(clock.elapsed(), 5000);
    EXPECT_TRUE(requests.empty());

    // Quitting ends with the panel's destruction.
    clock.restart();
    form.reset();
    QTest::qWait(100);
    EXPECT_LT(clock.elapsed(), 2000);
    EXPECT_TRUE(requests.empty()) << requests[0].text.toStdString();
    EXPECT_EQ(mailer.RunningPids().size(), 1u);
}

TEST_F(MailTest, FailureReportedAfterTheHandOverIsShownOnce) {
    TMailerStandIn mailer(1, 4500);
    form->AddToStrip(MakeFile(QStringLiteral("img000001.jpg")));
    form->actSendMail->Execute();
    EXPECT_TRUE(requests.empty());
    QTest::mouseClick(form->btnExpand, Qt::LeftButton);
    EXPECT_FALSE(PanelState(*form).Expanded);
    ASSERT_TRUE(QTest::qWaitFor([&] { return !requests.empty(); }, 8000));
    ExpectTheErrorMessage(1);
    QTest::qWait(300);
    ExpectTheErrorMessage(1);
}
