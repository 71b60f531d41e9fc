// SPDX-License-Identifier: GPL-3.0-or-later
#include <gtest/gtest.h>

#include <QApplication>
#include <QTimer>

#include "DevPurgeApp.h"
#include "DevPurgeDlg.h"
#include "FakeTree.h"

namespace {

unsigned FlagsOf(const std::string& commandLine) {
    TestEnvironment env;
    CLinuxPlatform platform(env.Config());
    CDevPurgeApp app(platform);
    app.ParseCommandLine(commandLine);
    return app.Flags();
}

constexpr unsigned kRebootOnly = CDevPurgeApp::kRebootOnly;
constexpr unsigned kNoReboot = CDevPurgeApp::kNoReboot;

TEST(DevPurgeCommandLine, RecognisesWholeWordsWithoutRegardToCase) {
    EXPECT_EQ(FlagsOf(""), 0u);
    EXPECT_EQ(FlagsOf("NOREBOOT"), kNoReboot);
    EXPECT_EQ(FlagsOf("noreboot"), kNoReboot);
    EXPECT_EQ(FlagsOf("  NoReBoot  "), kNoReboot);
    EXPECT_EQ(FlagsOf("rebootonly"), kRebootOnly);
    EXPECT_EQ(FlagsOf("REBOOTONLY NOREBOOT"), kRebootOnly | kNoReboot);
    EXPECT_EQ(FlagsOf("noreboot\trebootonly"), kRebootOnly | kNoReboot);
    EXPECT_EQ(FlagsOf("other\nNOREBOOT\n"), kNoReboot);
}

TEST(DevPurgeCommandLine, IgnoresPrefixedOrPartialWords) {
    EXPECT_EQ(FlagsOf("/NOREBOOT"), 0u);
    EXPECT_EQ(FlagsOf("-noreboot /rebootonly"), 0u);
    EXPECT_EQ(FlagsOf("NOREBOOTX REBOOT ONLY"), 0u);
    EXPECT_EQ(FlagsOf("NOREBOO"), 0u);
    EXPECT_EQ(FlagsOf("\"NOREBOOT\""), 0u);
    EXPECT_EQ(FlagsOf("NOREBOOT\r"), 0u);  // only spaces, tabs and line feeds separate
}

TEST(DevPurgeCommandLine, JoinsTheArgumentsAfterTheProgramName) {
    const char* argv[] = {"DevPurge", "a", "NOREBOOT", "b c"};
    EXPECT_EQ(JoinArguments(4, argv), "a NOREBOOT b c");
    EXPECT_EQ(JoinArguments(1, argv), "");
}

// Runs InitInstance for a command line on a tree with one camera device; closes the dialog
// when it appears and reports what happened.
struct Outcome {
    int dialogs = 0;
    int restarts = 0;
    bool removed = false;
};

Outcome RunDevPurge(const std::string& commandLine) {
    TestEnvironment env;
    env.WriteSettings({{"Cam", {0x12345678}}});
    env.Sysfs().AddDevice("1-1", "1234", "5678");
    CLinuxPlatform linuxPlatform(env.Config());
    CountingPlatform platform(linuxPlatform);

    Outcome outcome;
    QTimer closer;
    closer.setInterval(10);
    QObject::connect(&closer, &QTimer::timeout, [&outcome] {
        if (auto* dialog = qobject_cast<CDevPurgeDlg*>(QApplication::activeModalWidget())) {
            ++outcome.dialogs;
            dialog->reject();
        }
    });
    closer.start();
    CDevPurgeApp app(platform);
    app.ParseCommandLine(commandLine);
    EXPECT_EQ(app.ShowsDialog(), app.Flags() == 0);
    app.InitInstance();
    outcome.restarts = platform.restarts;
    outcome.removed = env.Sysfs().RemoveAttribute("1-1") == "1";
    return outcome;
}

TEST(DevPurgeApp, WithoutSwitchesRemovesThenShowsTheDialog) {
    const Outcome outcome = RunDevPurge("");
    EXPECT_TRUE(outcome.removed);
    EXPECT_EQ(outcome.dialogs, 1);
    EXPECT_EQ(outcome.restarts, 0);
}

TEST(DevPurgeApp, NoRebootRemovesWithoutTheDialog) {
    const Outcome outcome = RunDevPurge("noreboot");
    EXPECT_TRUE(outcome.removed);
    EXPECT_EQ(outcome.dialogs, 0);
    EXPECT_EQ(outcome.restarts, 0);
}

TEST(DevPurgeApp, SlashNoRebootIsNotASwitchSoTheDialogShows) {
    const Outcome outcome = RunDevPurge("/NOREBOOT");
    EXPECT_TRUE(outcome.removed);
    EXPECT_EQ(outcome.dialogs, 1);
}

TEST(DevPurgeApp, RebootOnlyRestartsAtOnceAndRemovesNothing) {
    for (const char* commandLine : {"REBOOTONLY", "REBOOTONLY NOREBOOT", "noreboot rebootonly"}) {
        const Outcome outcome = RunDevPurge(commandLine);
        EXPECT_FALSE(outcome.removed) << commandLine;
        EXPECT_EQ(outcome.dialogs, 0) << commandLine;
        EXPECT_EQ(outcome.restarts, 1) << commandLine;
    }
}

}  // namespace
