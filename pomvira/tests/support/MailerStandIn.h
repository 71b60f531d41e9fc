// SPDX-License-Identifier: GPL-3.0-or-later
// A stand-in for the user's mail program, so that tests never reach a real
// one. xdg-email, when the MAILER variable names a program, starts it with
// the mailto: URI it built from its options ("mailto:?subject=...&attach=...",
// every value percent-encoded). The stand-in is a small script that records
// its arguments one per line (each run after a line "@run"), may pause, and
// exits with a chosen status (read when the pause ends). Stand-ins still
// running when the object goes are ended. While a stand-in exists, MAILER names it, the
// desktop is the generic one (no desktop detection), and a panel's mail goes
// through the real xdg-email.
//
//   TMailerStandIn mailer;
//   form->actSendMail->Execute();
//   ASSERT_EQ(mailer.Mails().size(), 1u);
//   EXPECT_EQ(mailer.Mails()[0].Subject, "Photo Mail");
#pragma once

#include <QByteArray>
#include <QString>
#include <QStringList>
#include <QTemporaryDir>
#include <sys/types.h>
#include <vector>

class TMailerStandIn {
  public:
    // One message that reached the stand-in.
    struct TMail {
        QStringList Arguments;  // as received
        QString Subject;
        QStringList Attachments;  // full paths, decoded
    };

    explicit TMailerStandIn(int exitStatus = 0, int pauseMs = 0);
    ~TMailerStandIn();
    TMailerStandIn(const TMailerStandIn&) = delete;
    TMailerStandIn& operator=(const TMailerStandIn&) = delete;

    // Takes effect from the next run.
    void SetExitStatus(int status);
    void SetPause(int ms);

    // Every message received so far, oldest first.
    std::vector<TMail> Mails() const;
    // The process ids of the runs that have not ended yet.
    std::vector<pid_t> RunningPids() const;

  private:
    void WriteSetting(const char* name, const QByteArray& value);

    QTemporaryDir FDir;
    QByteArray FOldMailer, FOldDesktop;
    bool FHadMailer, FHadDesktop;
};

// The subject and the attachments of a mailto: URI built by xdg-email.
TMailerStandIn::TMail DecodeMailto(const QString& uri);
