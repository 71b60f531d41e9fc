// SPDX-License-Identifier: GPL-3.0-or-later
// The settings menu on a real X server, used as a person would: a click on
// the settings button opens the menu under it, a click on an entry opens its
// dialog, and Esc or Enter closes it again. The camera program runs on the
// real GStreamer framework with the built-in test devices.
#include <QAction>
#include <QApplication>
#include <QDialog>
#include <QFileDialog>
#include <QGuiApplication>
#include <QMenu>
#include <QScreen>
#include <QTest>
#include <QToolButton>
#include <gtest/gtest.h>
#include <memory>

#include "widgets/ActionList.h"
#include "ControlFormTesting.h"
#include "dialogs/BrowseEdit.h"
#include "dialogs/DlgCompress.h"
#include "dialogs/DlgSaveFolder.h"
#include "dialogs/DlgSelectDevice.h"
#include "widgets/ImageButton.h"
#include "ModalDriver.h"
#include "TestDesktop.h"
#include "forms/frmControl.h"
#include "forms/frmView.h"

using namespace media;

namespace {

const auto* const kEnvironment = ::testing::AddGlobalTestEnvironment(new GstTestDevices("2"));

class SettingsMenuX11Test : public ControlFormTestBase {
  protected:
    void SetUp() override {
        if (QGuiApplication::platformName() != "xcb")
            GTEST_SKIP() << "needs an X server";
        // The folder chooser is Qt's own, whatever desktop the test runs on.
        QApplication::setAttribute(Qt::AA_DontUseNativeDialogs);
        ControlFormTestBase::SetUp();
        form = std::make_unique<TControlForm>();
        ASSERT_TRUE(boxes.empty()) << FirstBox();
        form->show();
        ASSERT_TRUE(QTest::qWaitForWindowExposed(form.get()));
        ASSERT_TRUE(QTest::qWaitForWindowExposed(form->ViewForm()));
    }
    void TearDown() override {
        form.reset();
        ControlFormTestBase::TearDown();
    }

    // Clicks the settings button, then the action's entry in the menu that
    // opens under it. Returns when the entry's work is done.
    void ChooseFromSettingsMenu(TAction* action) {
        QTest::mouseClick(form->windowHandle(), Qt::LeftButton, {},
                          form->btnConfig->geometry().center());
        QMenu* menu = form->menuConfig;
        ASSERT_TRUE(QTest::qWaitForWindowExposed(menu));
        EXPECT_EQ(menu->pos(), form->mapToGlobal(form->btnConfig->geometry().bottomLeft() +
                                                 QPoint(0, 1)));
        QAction* entry = action->MenuAction();
        ASSERT_TRUE(entry->isEnabled());
        const QPoint spot = menu->actionGeometry(entry).center();
        QTest::mouseMove(menu->windowHandle(), spot);
        QTest::mouseClick(menu->windowHandle(), Qt::LeftButton, {}, spot);
        EXPECT_FALSE(menu->isVisible());
        // Work done by the capture session (the format page opens once the
        // camera is ready) is done too.
        EXPECT_TRUE(SettleSession(*form));
    }

    // Opens the dialog of `action` from the menu and closes it with `key`;
    // the dialog's result. `check` looks at the open dialog first.
    int OpenAndClose(TAction* action, const QString& dialogName, Qt::Key key,
                     const std::function<void(QDialog*)>& check = {}) {
        int result = -1;
        auto answer = WhenModalNamed(dialogName, [&](QWidget* shown) {
            auto* dialog = qobject_cast<QDialog*>(shown);
            ASSERT_NE(dialog, nullptr);
            EXPECT_TRUE(QTest::qWaitForWindowExposed(dialog));
            // The settings dialogs are centred over the panel (up to the
            // window frame that Qt allows for where no window manager says).
            if (dialogName.endsWith("Dlg")) {
                const QPoint offset = dialog->geometry().center() - form->geometry().center();
                EXPECT_LE(std::abs(offset.x()), 12) << dialogName.toStdString();
                EXPECT_LE(std::abs(offset.y()), 40) << dialogName.toStdString();
            }
            QObject::connect(dialog, &QDialog::finished, [&result](int r) { result = r; });
            if (check)
                check(dialog);
            if (qEnvironmentVariableIsSet("SETTINGS_DIALOG_SHOTS"))
                dialog->grab().save(qEnvironmentVariable("SETTINGS_DIALOG_SHOTS") + "/" +
                                    action->objectName() + ".png");
            QTest::keyClick(dialog->windowHandle(), key);
        });
        ChooseFromSettingsMenu(action);
        EXPECT_TRUE(answer->Answered()) << dialogName.toStdString();
        return result;
    }

    std::unique_ptr<TControlForm> form;
};

}  // namespace

TEST_F(SettingsMenuX11Test, EachDialogOpensFromTheMenuAndClosesWithEscOrEnter) {
    if (!OnScreenOfItsOwn(QSize(1600, 1200)))  // room for the menu under the panel
        return;
    const struct {
        TAction* action;
        const char* dialog;
    } entries[] = {
        {form->actSelectDevice, "SelectDeviceDlg"}, {form->actCompress, "CompressDlg"},
        {form->actFolderConfig, "SaveFolderDlg"},   {form->actVideoFilter, "PropertyFrame"},
        {form->actVideoPin, "PropertyFrame"},       {form->actAudioFilter, "PropertyFrame"},
        {form->actAudioFormat, "AudioFormatChooser"},
    };
    const auto before = PanelState(*form);
    for (const auto& entry : entries) {
        SCOPED_TRACE(entry.action->objectName().toStdString());
        EXPECT_EQ(OpenAndClose(entry.action, entry.dialog, Qt::Key_Escape), QDialog::Rejected);
        EXPECT_EQ(OpenAndClose(entry.action, entry.dialog, Qt::Key_Return), QDialog::Accepted);
        EXPECT_TRUE(boxes.empty()) << FirstBox();
    }
    // Nothing was chosen: everything is as it was, and the preview runs.
    const auto after = PanelState(*form);
    EXPECT_EQ(after.VideoDevice, before.VideoDevice);
    EXPECT_EQ(after.AudioDevice, before.AudioDevice);
    EXPECT_EQ(after.VideoCompress, before.VideoCompress);
    EXPECT_EQ(after.AudioCompress, before.AudioCompress);
    EXPECT_EQ(after.VideoFolder, before.VideoFolder);
    EXPECT_EQ(after.SnapFolder, before.SnapFolder);
    EXPECT_EQ(after.VideoFormat, before.VideoFormat);
    EXPECT_EQ(form->ViewForm()->size(), QSize(676, 536));
}

TEST_F(SettingsMenuX11Test, FolderChooserStartsAtHomeAndCancellingKeepsTheFolder) {
    if (!OnScreenOfItsOwn(QSize(1600, 1200)))  // room for the menu under the panel
        return;
    const QString folder = PanelState(*form).VideoFolder;
    const int result = OpenAndClose(
        form->actFolderConfig, "SaveFolderDlg", Qt::Key_Return, [&](QDialog* shown) {
            auto* dialog = static_cast<TSaveFolderDlg*>(shown);
            auto chooser = WhenModal<QFileDialog>([&](QFileDialog* files) {
                EXPECT_TRUE(QTest::qWaitForWindowExposed(files));
                EXPECT_EQ(files->parentWidget(), dialog);
                EXPECT_EQ(files->fileMode(), QFileDialog::Directory);
                EXPECT_EQ(files->directory().absolutePath(), QDir::homePath());
                QTest::keyClick(files->windowHandle(), Qt::Key_Escape);
            });
            QToolButton* browse = dialog->edtVideoFolder->BrowseButton();
            QTest::mouseClick(browse, Qt::LeftButton, {}, browse->rect().center());
            EXPECT_TRUE(chooser->Answered());
            EXPECT_EQ(dialog->edtVideoFolder->Path(), folder);
            EXPECT_EQ(dialog->focusWidget(), dialog->edtVideoFolder);
        });
    EXPECT_EQ(result, QDialog::Accepted);
    EXPECT_EQ(PanelState(*form).VideoFolder, folder);
}
