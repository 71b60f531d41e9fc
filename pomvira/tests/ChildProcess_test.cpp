// SPDX-License-Identifier: GPL-3.0-or-later
// Running a child program to its end: its exit status is the result, a child
// that cannot start or dies by a signal gives kChildFailed, and while it runs
// the windows keep painting but clicks and keys are dropped (also not
// delivered late, once the child has ended), except in a modal dialog that
// opens meanwhile. A child waited for only a while goes on after it and
// gives its result once when it ends; given up, it gives none, and what it
// started itself goes on.
#include <QDialog>
#include <QElapsedTimer>
#include <QFileInfo>
#include <QTemporaryDir>
#include <csignal>
#include <QPushButton>
#include <QTest>
#include <QTimer>
#include <gtest/gtest.h>

#include "app/ChildProcess.h"

namespace {

const QString kShell = QStringLiteral("/bin/sh");

// Counts the paints of a widget.
class TPaintCounter : public QWidget {
  public:
    int Paints = 0;

  protected:
    void paintEvent(QPaintEvent*) override { ++Paints; }
};

}  // namespace

TEST(ChildProcess, ExitStatusIsTheResult) {
    EXPECT_EQ(RunChildProcess(kShell, {"-c", "exit 0"}), 0);
    EXPECT_EQ(RunChildProcess(kShell, {"-c", "exit 3"}), 3);
    // An argument vector: the child receives each argument as it stands.
    EXPECT_EQ(RunChildProcess(kShell, {"-c", "[ \"$1\" = \"a 'b' \\\"c\\\"; \\$x\" ]", "sh",
                                       "a 'b' \"c\"; $x"}),
              0);
}

TEST(ChildProcess, NotStartedOrKilledIsAFailure) {
    EXPECT_EQ(RunChildProcess(QStringLiteral("/nonexistent/program"), {}), kChildFailed);
    EXPECT_EQ(RunChildProcess(kShell, {"-c", "kill -9 $$"}), kChildFailed);
}

TEST(ChildProcess, WindowsPaintWhileItRunsButTakeNoInput) {
    TPaintCounter window;
    window.resize(200, 100);
    auto* button = new QPushButton(QStringLiteral("Press"), &window);
    int clicks = 0;
    QObject::connect(button, &QPushButton::clicked, [&] { ++clicks; });
    window.show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(&window));
    QTest::qWait(50);

    int paintsDuringRun = 0;
    QTimer poke;
    poke.setInterval(100);
    QObject::connect(&poke, &QTimer::timeout, [&] {
        paintsDuringRun = window.Paints;
        window.update();
        QTest::mouseClick(button, Qt::LeftButton);
        QTest::keyClick(button, Qt::Key_Space);
    });
    const int paintsBefore = window.Paints;
    poke.start();
    EXPECT_EQ(RunChildProcess(kShell, {"-c", "sleep 1"}), 0);
    poke.stop();
    QTest::qWait(100);

    EXPECT_GE(paintsDuringRun - paintsBefore, 3);
    EXPECT_EQ(clicks, 0);
    // Input is taken again afterwards.
    QTest::mouseClick(button, Qt::LeftButton);
    EXPECT_EQ(clicks, 1);

    // A modal dialog that opens meanwhile (an error report) can be answered
    // while the child still runs.
    bool answeredWhileRunning = false;
    QTimer::singleShot(100, [&] {
        QDialog dialog(&window);
        QTimer::singleShot(100, &dialog, [&] { QTest::keyClick(&dialog, Qt::Key_Escape); });
        bool keyWentNowhere = false;
        QTimer::singleShot(2000, &dialog, [&] {
            keyWentNowhere = true;
            dialog.reject();
        });
        dialog.exec();
        answeredWhileRunning = !keyWentNowhere;
    });
    EXPECT_EQ(RunChildProcess(kShell, {"-c", "sleep 1"}), 0);
    EXPECT_TRUE(answeredWhileRunning);
}

TEST(ChildProcess, ChildStillRunningAfterTheWaitGoesOnAndGivesItsResultOnce) {
    QWidget window;
    auto* button = new QPushButton(QStringLiteral("Press"), &window);
    int clicks = 0;
    QObject::connect(button, &QPushButton::clicked, [&] { ++clicks; });
    window.show();

    std::vector<int> results;
    QElapsedTimer clock;
    clock.start();
    TChildProcess child;
    EXPECT_EQ(child.Start(kShell, {"-c", "sleep 1; exit 5"}, 200,
                          [&](int result) { results.push_back(result); }),
              kChildRunning);
    EXPECT_LT(clock.elapsed(), 900);
    EXPECT_TRUE(child.Running());
    // Input is taken while the child goes on.
    QTest::mouseClick(button, Qt::LeftButton);
    EXPECT_EQ(clicks, 1);
    ASSERT_TRUE(QTest::qWaitFor([&] { return !results.empty(); }, 5000));
    EXPECT_EQ(results[0], 5);
    QTest::qWait(200);
    EXPECT_EQ(results.size(), 1u);

    // One that ends within the wait gives its result at once, never later.
    EXPECT_EQ(child.Start(kShell, {"-c", "exit 4"}, 5000, [&](int r) { results.push_back(r); }),
              4);
    QTest::qWait(100);
    EXPECT_EQ(results.size(), 1u);
}

TEST(ChildProcess, GivenUpChildGivesNoResultAndWhatItStartedGoesOn) {
    QTemporaryDir dir;
    const QString pidFile = dir.filePath(QStringLiteral("pid"));
    bool called = false;
    {
        TChildProcess child;
        // The child starts a program of its own and waits for it, as
        // xdg-email waits for a mail program.
        ASSERT_EQ(child.Start(kShell, {"-c", "sleep 30 & echo $! > \"$1\"; wait", "sh", pidFile},
                              300, [&](int) { called = true; }),
                  kChildRunning);
        ASSERT_TRUE(QTest::qWaitFor([&] { return QFileInfo(pidFile).size() > 0; }, 5000));
    }
    QTest::qWait(100);
    EXPECT_FALSE(called);
    QFile file(pidFile);
    ASSERT_TRUE(file.open(QIODevice::ReadOnly));
    const pid_t grandchild = file.readAll().trimmed().toInt();
    ASSERT_GT(grandchild, 0);
    EXPECT_EQ(kill(grandchild, 0), 0);
    kill(grandchild, SIGTERM);
}
