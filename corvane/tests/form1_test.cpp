// SPDX-License-Identifier: GPL-3.0-or-later
#include <gtest/gtest.h>

#include <QIcon>
#include <QPixmap>
#include <QTest>

#include "Form1.h"
#include "RunTime.h"
#include "Medium.h"

namespace {

// The menu on a temporary medium, with its starts, reports and end recorded.
class Form1Test : public ::testing::Test {
  protected:
    Form1Test()
        : runTime(
              starter, QFile::encodeName(medium.Root()),
              [this](const QString& title, const QString& text) {
                  reports << title + "|" + text;
                  // The program is still running while its report is shown.
                  endedBeforeReport = endedWith.has_value();
              },
              [this](int code) { endedWith = code; }),
          form(runTime) {
        form.show();
        EXPECT_TRUE(QTest::qWaitForWindowExposed(&form));
    }

    void Click(QWidget* box) { QTest::mouseClick(box, Qt::LeftButton, {}, QPoint(20, 20)); }

    TempMedium medium;
    RecordingStarter starter;
    QStringList reports;
    std::optional<int> endedWith;
    bool endedBeforeReport = false;
    RunTime runTime;
    Form1 form;
};

const QString kFileNotFound = "Corvane|Run-time error '53':\n\nFile not found";

TEST_F(Form1Test, LooksAsDesigned) {
    EXPECT_EQ(form.objectName(), "Form1");
    EXPECT_EQ(form.windowTitle(), "Ombra Corvane Install");
    EXPECT_EQ(form.size(), QSize(510, 391));
    EXPECT_EQ(form.Picture().size(), QSize(511, 391));
    EXPECT_TRUE(form.windowIcon().availableSizes().contains(QSize(48, 48)));

    EXPECT_EQ(form.Picture1->objectName(), "Picture1");
    EXPECT_EQ(form.Picture2->objectName(), "Picture2");
    EXPECT_EQ(form.Picture1->geometry(), QRect(64, 200, 49, 49));
    EXPECT_EQ(form.Picture2->geometry(), QRect(64, 264, 49, 49));
    EXPECT_EQ(form.Picture1->Picture().size(), QSize(51, 51));
    EXPECT_EQ(form.Picture2->Picture().size(), QSize(51, 51));
    EXPECT_NE(form.Picture1->Picture().toImage(), form.Picture2->Picture().toImage());

    // What shows is the background with the two button pictures on it.
    const QImage shown = form.grab().toImage();
    EXPECT_EQ(shown.pixelColor(10, 10), form.Picture().toImage().pixelColor(10, 10));
    EXPECT_EQ(shown.pixelColor(64 + 24, 200 + 24),
              form.Picture1->Picture().toImage().pixelColor(24, 24));
}

TEST_F(Form1Test, NoSetupFolderReportsErrorAndEndsWithoutStarting) {
    medium.Add("viewer/OmbraSetup.EXE");
    Click(form.Picture1);
    EXPECT_TRUE(starter.started.empty());
    EXPECT_EQ(reports, QStringList({kFileNotFound}));
    EXPECT_FALSE(endedBeforeReport);
    EXPECT_EQ(endedWith, Form1::kRunTimeErrorExitCode);
    EXPECT_TRUE(form.isHidden());
}

TEST_F(Form1Test, MissingSecondSetupStartsTheFirstThenEnds) {
    const QString driver = medium.Add("setup/setup.exe");
    Click(form.Picture1);
    EXPECT_EQ(starter.Programs(), QStringList({driver}));
    EXPECT_EQ(reports, QStringList({kFileNotFound}));
    EXPECT_EQ(endedWith, Form1::kRunTimeErrorExitCode);
    EXPECT_TRUE(form.isHidden());
}

TEST_F(Form1Test, BothSetupsStartInOrderOnEveryClickAndTheMenuStays) {
    const QString driver = medium.Add("setup/setup.exe");
    const QString viewer = medium.Add("viewer/OmbraSetup.EXE");
    Click(form.Picture1);
    EXPECT_EQ(starter.Programs(), QStringList({driver, viewer}));
    EXPECT_TRUE(starter.started[0].second.isEmpty());
    Click(form.Picture1);
    EXPECT_EQ(starter.Programs(), QStringList({driver, viewer, driver, viewer}));
    EXPECT_TRUE(reports.isEmpty());
    EXPECT_FALSE(endedWith.has_value());
    EXPECT_TRUE(form.isVisible());
}

TEST_F(Form1Test, FindsSetupsWhoseNamesShowInOtherCase) {
    const QString driver = medium.Add("SETUP/SETUP.EXE");
    const QString viewer = medium.Add("viewer/ombrasetup.exe");
    Click(form.Picture1);
    EXPECT_EQ(starter.Programs(), QStringList({driver, viewer}));
    EXPECT_TRUE(reports.isEmpty());
}

TEST_F(Form1Test, SetupThatWillNotStartIsReportedAndEnds) {
    medium.Add("setup/setup.exe");
    medium.Add("viewer/OmbraSetup.EXE");
    starter.result = false;
    Click(form.Picture1);
    EXPECT_EQ(starter.started.size(), 1u);
    EXPECT_EQ(reports,
              QStringList({"Corvane|Run-time error '5':\n\nInvalid procedure call or argument"}));
    EXPECT_EQ(endedWith, Form1::kRunTimeErrorExitCode);
}

TEST_F(Form1Test, Picture2EndsWithoutStartingAnything) {
    medium.Add("setup/setup.exe");
    medium.Add("viewer/OmbraSetup.EXE");
    Click(form.Picture2);
    EXPECT_TRUE(starter.started.empty());
    EXPECT_TRUE(reports.isEmpty());
    EXPECT_EQ(endedWith, 0);
    EXPECT_TRUE(form.isHidden());
}

TEST_F(Form1Test, OnlyAPressAndReleaseInsideWithTheLeftButtonClicks) {
    QTest::mousePress(form.Picture2, Qt::LeftButton, {}, QPoint(20, 20));
    QTest::mouseRelease(form.Picture2, Qt::LeftButton, {}, QPoint(80, 20));
    QTest::mouseClick(form.Picture2, Qt::RightButton, {}, QPoint(20, 20));
    QTest::mouseRelease(form.Picture2, Qt::LeftButton, {}, QPoint(20, 20));
    EXPECT_FALSE(endedWith.has_value());
    Click(form.Picture2);
    EXPECT_EQ(endedWith, 0);
}

}  // namespace
