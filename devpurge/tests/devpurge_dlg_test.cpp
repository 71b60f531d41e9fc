// SPDX-License-Identifier: GPL-3.0-or-later
#include <gtest/gtest.h>

#include <QFontMetrics>
#include <QIcon>
#include <QLabel>
#include <QPushButton>
#include <QTest>

#include "DevPurgeDlg.h"
#include "FakeTree.h"

namespace {

// A platform that only counts restarts.
class RestartCounter : public IDevPurgePlatform {
  public:
    std::unique_ptr<IRegistryKey> OpenLocalMachineKey(const std::string&) override {
        return nullptr;
    }
    std::unique_ptr<IDeviceInfoSet> GetUsbDevices() override { return nullptr; }
    void RestartSystem() override { ++restarts; }
    int restarts = 0;
};

TEST(DevPurgeDlg, HasTheTemplatesTextsAndButtons) {
    RestartCounter platform;
    CDevPurgeDlg dialog(platform);
    EXPECT_EQ(dialog.windowTitle(), "Lorvex Software Uninstallation");
    EXPECT_EQ(dialog.ExitButton(), dialog.findChild<QPushButton*>("btnExit"));
    EXPECT_EQ(dialog.RebootButton(), dialog.findChild<QPushButton*>("btnReboot"));
    EXPECT_EQ(dialog.ExitButton()->text(), "&Exit");
    EXPECT_EQ(dialog.RebootButton()->text(), "&Reboot");
    EXPECT_TRUE(dialog.ExitButton()->isDefault());
    EXPECT_FALSE(dialog.RebootButton()->isDefault());
    EXPECT_EQ(dialog.MessageText()->text(),
              "All software are removed successfully by this program. If you want to "
              "reinstall Lorvex software, please reboot windows system.");
    EXPECT_TRUE(dialog.MessageText()->wordWrap());
    EXPECT_EQ(dialog.MessageText()->frameShape(), QFrame::Box);

    const Qt::WindowFlags flags = dialog.windowFlags();
    EXPECT_TRUE(flags & Qt::WindowTitleHint);
    EXPECT_FALSE(flags & Qt::WindowCloseButtonHint);
    EXPECT_FALSE(flags & Qt::WindowSystemMenuHint);

    const QList<QSize> sizes = dialog.windowIcon().availableSizes();
    EXPECT_TRUE(sizes.contains(QSize(32, 32)));
    EXPECT_TRUE(sizes.contains(QSize(16, 16)));
}

TEST(DevPurgeDlg, ConvertsDialogUnitsWithTheFontsBaseUnits) {
    const QPoint base(6, 13);
    EXPECT_EQ(CDevPurgeDlg::MapDialogRect(QRect(249, 7, 50, 14), base), QRect(374, 11, 75, 23));
    EXPECT_EQ(CDevPurgeDlg::MapDialogRect(QRect(7, 26, 225, 33), base), QRect(11, 42, 338, 54));

    const QFontMetrics metrics(CDevPurgeDlg::DialogFont());
    const QPoint units = CDevPurgeDlg::DialogBaseUnits(CDevPurgeDlg::DialogFont());
    EXPECT_EQ(units.y(), metrics.height());
    EXPECT_NEAR(units.x() * 52,
                metrics.horizontalAdvance("ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz"),
                26);

    RestartCounter platform;
    CDevPurgeDlg dialog(platform);
    EXPECT_EQ(dialog.size(), CDevPurgeDlg::MapDialogRect(QRect(0, 0, 308, 49), units).size());
}

TEST(DevPurgeDlg, EnterAndEscapeCloseWithoutRestart) {
    for (const Qt::Key key : {Qt::Key_Return, Qt::Key_Enter, Qt::Key_Escape}) {
        RestartCounter platform;
        CDevPurgeDlg dialog(platform);
        dialog.show();
        ASSERT_TRUE(QTest::qWaitForWindowExposed(&dialog));
        dialog.activateWindow();
        QTest::keyClick(QApplication::focusWidget() ? QApplication::focusWidget()
                                                    : static_cast<QWidget*>(&dialog),
                        key);
        EXPECT_FALSE(dialog.isVisible()) << key;
        EXPECT_EQ(dialog.result(), key == Qt::Key_Escape ? QDialog::Rejected : QDialog::Accepted);
        EXPECT_EQ(platform.restarts, 0);
    }
}

TEST(DevPurgeDlg, ExitClosesAndRebootRestartsWithTheWindowOpen) {
    RestartCounter platform;
    CDevPurgeDlg dialog(platform);
    dialog.show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(&dialog));
    QTest::mouseClick(dialog.RebootButton(), Qt::LeftButton);
    EXPECT_EQ(platform.restarts, 1);
    EXPECT_TRUE(dialog.isVisible());
    QTest::mouseClick(dialog.ExitButton(), Qt::LeftButton);
    EXPECT_FALSE(dialog.isVisible());
    EXPECT_EQ(platform.restarts, 1);
}

TEST(DevPurgeDlg, RebootRunsTheConfiguredRestartCommand) {
    TestEnvironment env;
    CLinuxPlatform platform(env.Config());
    CDevPurgeDlg dialog(platform);
    dialog.show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(&dialog));
    QTest::mouseClick(dialog.RebootButton(), Qt::LeftButton);
    EXPECT_TRUE(env.WaitForReboot());
    EXPECT_TRUE(dialog.isVisible());
}

TEST(DevPurgeDlg, EmptyRestartCommandRunsNothing) {
    TestEnvironment env;
    CLinuxPlatform::Config config = env.Config();
    config.rebootCommand = "  ";
    CLinuxPlatform platform(config);
    platform.RestartSystem();
    QTest::qWait(200);
    EXPECT_FALSE(env.Rebooted());
}

}  // namespace
