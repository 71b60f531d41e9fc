// SPDX-License-Identifier: GPL-3.0-or-later
// A PipeWire camera on a desktop whose session manager is not running (not
// started, or crashed): a private PipeWire daemon without WirePlumber, with
// PipeWire's own test source as the camera. Nothing links the program's
// stream to the camera, and the camera's source waits for good inside its
// start. The program shows its windows even so, gives the camera up after
// its bound and says so in its own words, the preview window says that the
// camera gives no picture, and SIGTERM ends it in order (its settings
// written). The program itself runs as a process on the test's X server;
// the panel is also run here, where the texts it shows can be read.
#include <QElapsedTimer>
#include <QGuiApplication>
#include <QMenu>
#include <QTemporaryDir>
#include <QTest>
#include <gtest/gtest.h>
#include <memory>
#include <optional>
#include <xcb/xcb.h>
#include <csignal>

#include "ControlFormTesting.h"
#include "PipeWireTestEnvironment.h"
#include "TestDesktop.h"
#include "files/IniFile.h"
#include "forms/frmView.h"

namespace {

// The daemon without its session manager, with the camera node; tests also
// skip without an X server.
auto* const kPipeWire = static_cast<TPipeWireTestEnvironment*>(
    ::testing::AddGlobalTestEnvironment(new TPipeWireTestEnvironment(false)));

// The words of the failure, in the program's own language.
const QString kGivenUp = QStringLiteral("Le délai de l'opération a expiré.");

class NoSessionManager : public ControlFormTestBase {
  protected:
    void SetUp() override {
        if (QGuiApplication::platformName() != "xcb")
            GTEST_SKIP() << "needs an X server";
        if (!kPipeWire->session)
            GTEST_SKIP() << kPipeWire->why.toStdString();
        ControlFormTestBase::SetUp();
    }
};

}  // namespace

TEST_F(NoSessionManager, TheProgramShowsItsWindowsSaysTheCameraFailedAndEndsOnSigterm) {
    TTestXServer x;
    ASSERT_TRUE(x.Connect(qgetenv("DISPLAY")));
    QTemporaryDir config;
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    kPipeWire->session->Enter(env);
    env.remove(QStringLiteral("POMVIRA_TEST_DEVICES"));
    env.insert(QStringLiteral("XDG_CONFIG_HOME"), config.path());
    env.insert(QStringLiteral("QT_QPA_PLATFORM"), QStringLiteral("xcb"));
    env.insert(QStringLiteral("LANGUAGE"), QStringLiteral("fr"));
    TTestChild program;
    program.Start(QStringLiteral(POMVIRA_EXECUTABLE), {}, env);
    ASSERT_TRUE(program.Running());
    const qint64 pid = program.Pid();

    // Both windows, while the camera's start still waits.
    QElapsedTimer clock;
    clock.start();
    ASSERT_TRUE(QTest::qWaitFor([&] { return x.Shown(pid).size() >= 2; }, 30000))
        << "the program's windows did not appear";
    const qint64 shownAt = clock.elapsed();
    EXPECT_EQ(x.Dialog(pid), 0u) << "the failure came before the windows";
    // The camera given up at its bound: the program's message box says so
    // (its words are read in the test below, where the panel runs here).
    xcb_window_t box = 0;
    ASSERT_TRUE(QTest::qWaitFor([&] { return (box = x.Dialog(pid)) != 0; },
                                TCaptureSession::kRunBoundMs + 20000))
        << "no message box";
    EXPECT_GE(clock.elapsed() - shownAt, TCaptureSession::kRunBoundMs / 2)
        << "the windows waited for the camera";
    EXPECT_EQ(x.Text(box, "_NET_WM_NAME"), QString::fromLatin1(kApplicationTitle));

    // Left open: SIGTERM ends the program in order, its settings written.
    EXPECT_EQ(program.Stop(15000), std::optional<int>(0)) << "the program did not end on SIGTERM";
    EXPECT_EQ(TIniFile(config.filePath(QStringLiteral("Pomvira.ini")))
                  .ReadString(QStringLiteral("CAPTURE"), QStringLiteral("VIDEO DEVICE"), QString()),
              QStringLiteral("0"));
}

TEST_F(NoSessionManager, ThePanelStaysLiveAndThePreviewWindowSaysTheCameraGivesNoPicture) {
    std::unique_ptr<TControlForm> form;
    QString noticeAtBox;
    SetMessageBoxHook([&](const TMessageBoxRequest& r) {
        boxes.push_back(r.text);
        if (form && form->ViewForm())
            noticeAtBox = form->ViewForm()->VideoNotice();
        return QMessageBox::Ok;
    });
    QElapsedTimer clock;
    clock.start();
    form = std::make_unique<TControlForm>();
    form->show();
    // The panel and the preview window are there before the camera starts.
    EXPECT_LT(clock.elapsed(), TCaptureSession::kRunBoundMs / 2);
    EXPECT_TRUE(form->ViewForm()->isVisible());
    EXPECT_EQ(PanelState(*form).VideoDevice, 0);
    EXPECT_TRUE(boxes.empty()) << FirstBox();
    // Given up at the bound: said in the program's words, with the preview
    // window saying already that no picture comes.
    ASSERT_TRUE(
        QTest::qWaitFor([&] { return !boxes.empty(); }, TCaptureSession::kRunBoundMs + 10000));
    EXPECT_TRUE(boxes[0].startsWith(kGivenUp)) << FirstBox();
    EXPECT_TRUE(noticeAtBox.contains(QStringLiteral("ne donne plus d'image")))
        << noticeAtBox.toStdString();
    EXPECT_FALSE(form->btnCapture->isEnabled());
    // Tried again, with the first try still stuck: nothing more is said,
    // and the settings menu opens.
    QTest::qWait(5000);
    EXPECT_EQ(boxes.size(), 1u);
    form->btnConfigClick(form->btnConfig);
    EXPECT_TRUE(form->menuConfig->isVisible());
    form->menuConfig->hide();

    // Closing does not wait for the camera; the settings are written.
    clock.restart();
    form.reset();
    EXPECT_LT(clock.elapsed(), 10000);
    EXPECT_EQ(Ini().ReadString("CAPTURE", "VIDEO DEVICE", ""), "0");
}

// A server stopped (SIGSTOP) before the program starts: the windows come at
// once and SIGTERM ends the program in its usual time.
void ExpectHungServerHoldsNothing(TPipeWireSession& session, qint64 server) {
    TTestXServer x;
    ASSERT_TRUE(x.Connect(qgetenv("DISPLAY")));
    QTemporaryDir config;
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    session.Enter(env);
    env.remove(QStringLiteral("POMVIRA_TEST_DEVICES"));
    env.insert(QStringLiteral("XDG_CONFIG_HOME"), config.path());
    env.insert(QStringLiteral("QT_QPA_PLATFORM"), QStringLiteral("xcb"));
    ASSERT_EQ(::kill(pid_t(server), SIGSTOP), 0);
    TTestChild program;
    QElapsedTimer clock;
    clock.start();
    program.Start(QStringLiteral(POMVIRA_EXECUTABLE), {}, env);
    const bool shown = QTest::qWaitFor([&] { return x.Shown(program.Pid()).size() >= 2; }, 10000);
    const qint64 shownAt = clock.elapsed();
    clock.restart();
    const std::optional<int> ended = program.Stop(10000);
    const qint64 endedAt = clock.elapsed();
    ::kill(pid_t(server), SIGCONT);
    ASSERT_TRUE(shown) << "the program's windows did not appear";
    EXPECT_LT(shownAt, 3000);
    EXPECT_EQ(ended, std::optional<int>(0));
    EXPECT_LT(endedAt, 5000);
}

TEST_F(NoSessionManager, PipeWireHungAtTheStartDelaysNeitherTheWindowsNorSigterm) {
    ExpectHungServerHoldsNothing(*kPipeWire->session, kPipeWire->session->DaemonId());
}

TEST_F(NoSessionManager, TheSoundServerHungAtTheStartDelaysNeitherTheWindowsNorSigterm) {
    QString why;
    if (!HaveProgram(QStringLiteral("pipewire-pulse")) ||
        !kPipeWire->session->StartSoundServer(&why))
        GTEST_SKIP() << "no sound server: " << why.toStdString();
    ExpectHungServerHoldsNothing(*kPipeWire->session, kPipeWire->session->SoundServerId());
}
