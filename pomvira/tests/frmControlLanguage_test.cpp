// SPDX-License-Identifier: GPL-3.0-or-later
// The control panel in the user's language (the French of the program for
// French and bare locales, English otherwise): its hints, menus, dialogs,
// messages and the preview's states; and what a screen reader is told of
// the panel's buttons and the strip's boxes.
#include <QAccessible>
#include <QAccessibleActionInterface>
#include <QFileInfo>
#include <QMenu>
#include <QPushButton>
#include <QTest>
#include <gtest/gtest.h>
#include <map>

#include "ControlFormTesting.h"
#include "TestFrames.h"
#include "app/Language.h"
#include "dialogs/DlgSaveFolder.h"
#include "forms/frmView.h"
#include "media/fake/FakeMedia.h"
#include "widgets/ActionList.h"
#include "widgets/ControlsKit.h"
#include "widgets/ImageButton.h"

using namespace media;
using namespace media::fake;

namespace {

struct TLocale {
    const char* name;
    std::map<std::string, QByteArray> env;
    bool english;
};

void PrintTo(const TLocale& locale, std::ostream* os) {
    *os << locale.name;
}

const char* const kLanguageVariables[] = {"LANGUAGE", "LC_ALL", "LC_MESSAGES", "LANG"};

// The texts the panel shows in each language.
struct TTexts {
    const char* record;
    const char* stop;
    const char* snapshot;
    const char* expand;
    const char* collapse;
    const char* useAudio;
    const char* sendMail;
    const char* folderDialog;
    const char* ok;
    const char* noPicture;
    const char* preview;
    const char* empty;
};

const TTexts kFrench{"Enregistrement",
                     "Stop",
                     "Image Fixe",
                     "Extension",
                     "Minimiser",
                     "Enregistrement de la voix durant l\u2019acquisition",
                     "Envoyer Message avec photo",
                     "R\u00e9glage du dossier de sauvegarde",
                     "Confirmation",
                     "Aucune image n'est arriv\u00e9e de la cam\u00e9ra : la photo n'a pas "
                     "\u00e9t\u00e9 prise.",
                     "( Preview )",
                     "Vide"};
const TTexts kEnglish{"Record",
                      "Stop",
                      "Still Picture",
                      "Expand",
                      "Collapse",
                      "Record sound while capturing",
                      "Send Mail with Photo",
                      "Save Folder Settings",
                      "OK",
                      "No picture came from the camera: the photo was not taken.",
                      "( Preview )",
                      "Empty"};

class PanelLanguage : public ControlFormTestBase, public ::testing::WithParamInterface<TLocale> {
  protected:
    void SetUp() override {
        ControlFormTestBase::SetUp();
        UseOwnSaveFolders();
        for (const char* name : kLanguageVariables) {
            if (qEnvironmentVariableIsSet(name))
                saved[name] = qgetenv(name);
            qunsetenv(name);
        }
        for (const auto& [name, value] : GetParam().env)
            qputenv(name.c_str(), value);
        InstallLanguage(QCoreApplication::instance());
        sys.AddVideoDevice("Cam", {VideoFormat(MEDIASUBTYPE_YUY2, 320, 240, 16)});
        sys.GrabberDefaults().connectedType = VideoFormat(MEDIASUBTYPE_RGB24, 64, 48, 24);
    }
    void TearDown() override {
        form.reset();
        for (const char* name : kLanguageVariables) {
            if (saved.count(name))
                qputenv(name, saved[name]);
            else
                qunsetenv(name);
        }
        InstallLanguage(QCoreApplication::instance());
        ControlFormTestBase::TearDown();
    }
    void Start() {
        form = std::make_unique<TControlForm>();
        ASSERT_TRUE(SettleSession(*form));
        form->show();
    }
    const TTexts& Texts() const { return GetParam().english ? kEnglish : kFrench; }
    static QString Text(const char* utf8) { return QString::fromUtf8(utf8); }

    FakeMediaSystem sys;
    std::unique_ptr<TControlForm> form;
    std::map<std::string, QByteArray> saved;
};

TEST_P(PanelLanguage, HintsMenusDialogsMessagesAndThePreviewSpeakTheUsersLanguage) {
    // No frame ever comes: taking a picture fails with a message.
    sys.GrabberDefaults().buffer.reset();
    Start();
    ASSERT_TRUE(boxes.empty()) << FirstBox();
    const TTexts& t = Texts();
    EXPECT_EQ(form->btnCapture->Hint(), Text(t.record));
    EXPECT_EQ(form->btnSnapShot->Hint(), Text(t.snapshot));
    EXPECT_EQ(form->btnExpand->Hint(), Text(t.expand));
    form->SetExpanded(true);
    EXPECT_EQ(form->btnExpand->Hint(), Text(t.collapse));
    EXPECT_EQ(form->actUseAudio->Caption(), Text(t.useAudio));
    EXPECT_EQ(form->menuConfig->actions().value(0)->text(), Text(t.useAudio));
    EXPECT_EQ(form->actSendMail->Caption(), Text(t.sendMail));
    EXPECT_EQ(form->ViewForm()->lblStatus->text(), Text(t.preview));

    TSaveFolderDlg dialog(form.get());
    EXPECT_EQ(dialog.windowTitle(), Text(t.folderDialog));
    EXPECT_EQ(dialog.btnOK->text(), Text(t.ok));

    RunHandler([this] { form->actSnapShot->Execute(); });
    ASSERT_TRUE(SettleSession(*form));
    ASSERT_EQ(boxes.size(), 1u);
    EXPECT_EQ(boxes[0], Text(t.noPicture));
}

TEST_P(PanelLanguage, ScreenReadersReadTheButtonsByTheirHintsAndTheStripByItsFiles) {
    Start();
    const TTexts& t = Texts();
    QAccessibleInterface* record = QAccessible::queryAccessibleInterface(form->btnCapture);
    ASSERT_NE(record, nullptr);
    EXPECT_EQ(record->role(), QAccessible::Button);
    EXPECT_EQ(record->text(QAccessible::Name), Text(t.record));
    ASSERT_NE(record->actionInterface(), nullptr);
    EXPECT_TRUE(record->actionInterface()->actionNames().contains(
        QAccessibleActionInterface::pressAction()));
    // The name follows the hint (the button reads "Stop" while recording).
    form->btnCapture->SetHint(Text(t.stop));
    EXPECT_EQ(record->text(QAccessible::Name), Text(t.stop));

    for (QWidget* button : std::initializer_list<QWidget*>{
             form->btnSnapShot, form->btnEditImg, form->btnMail, form->btnConfig, form->btnMinimize,
             form->btnClose, form->btnExpand, form->btnDelete, form->btnDeleteAll, form->imgPrev,
             form->imgNext}) {
        QAccessibleInterface* a = QAccessible::queryAccessibleInterface(button);
        ASSERT_NE(a, nullptr);
        EXPECT_EQ(a->role(), QAccessible::Button) << button->objectName().toStdString();
        EXPECT_EQ(a->text(QAccessible::Name), button->toolTip());
        EXPECT_FALSE(a->text(QAccessible::Name).isEmpty()) << button->objectName().toStdString();
    }
    // The skin behind them is no button.
    EXPECT_EQ(QAccessible::queryAccessibleInterface(form->imgBack)->role(), QAccessible::Graphic);
    // The preview's state is read as text.
    QAccessibleInterface* status =
        QAccessible::queryAccessibleInterface(form->ViewForm()->lblStatus);
    ASSERT_NE(status, nullptr);
    EXPECT_EQ(status->role(), QAccessible::StaticText);
    EXPECT_EQ(status->text(QAccessible::Name), Text(t.preview));

    // The strip's boxes: list items named by the file they show, the
    // selected one selected; an empty box says so.
    TPaintBox* const views[] = {form->BmpView1, form->BmpView2, form->BmpView3, form->BmpView4};
    auto name = [&](int box) {
        return QAccessible::queryAccessibleInterface(views[box])->text(QAccessible::Name);
    };
    auto selected = [&](int box) {
        return bool(QAccessible::queryAccessibleInterface(views[box])->state().selected);
    };
    EXPECT_EQ(name(0), Text(t.empty));
    const QString first = SnapFolder() + "/img000001.jpg";
    const QString second = VideoFile(1);
    form->AddToStrip(first);
    form->AddToStrip(second);
    for (int box = 0; box < 4; ++box) {
        QAccessibleInterface* a = QAccessible::queryAccessibleInterface(views[box]);
        EXPECT_EQ(a->role(), QAccessible::ListItem);
        EXPECT_TRUE(a->state().selectable);
    }
    EXPECT_EQ(name(0), "img000001.jpg");
    EXPECT_EQ(name(1), "video000001.avi");
    EXPECT_EQ(name(2), Text(t.empty));
    EXPECT_EQ(QAccessible::queryAccessibleInterface(views[1])->text(QAccessible::Description),
              second);
    EXPECT_FALSE(selected(0));
    EXPECT_TRUE(selected(1));
    form->BmpViewMouseDown(views[0], Qt::LeftButton, TShiftState{}, 5, 5);
    EXPECT_TRUE(selected(0));
    EXPECT_FALSE(selected(1));
    form->actBmpClear->Execute();
    EXPECT_EQ(name(0), Text(t.empty));
    EXPECT_FALSE(selected(0));
}

INSTANTIATE_TEST_SUITE_P(
    Locales, PanelLanguage,
    ::testing::Values(TLocale{"NoLocale", {}, false},
                      TLocale{"French", {{"LANG", "fr_FR.UTF-8"}}, false},
                      TLocale{"BareC", {{"LC_ALL", "C.UTF-8"}}, false},
                      TLocale{"English", {{"LANGUAGE", "en"}}, true},
                      TLocale{"GermanFallsBackToEnglish", {{"LANG", "de_DE.UTF-8"}}, true}),
    [](const ::testing::TestParamInfo<TLocale>& info) { return std::string(info.param.name); });

}  // namespace
