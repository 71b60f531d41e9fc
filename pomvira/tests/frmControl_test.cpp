// SPDX-License-Identifier: GPL-3.0-or-later
// The control panel without a media framework behind it: no camera is
// found, so start-up ends after the device listing. This covers the panel's
// own behaviour: captions, hints, heights, shape, dragging spots, gating,
// the settings file and the default folders.
#include <QDir>
#include <QFile>
#include <QLabel>
#include <QMenu>
#include <QTemporaryDir>
#include <QTest>
#include <QWindow>
#include <gtest/gtest.h>

#include "widgets/ActionList.h"
#include "app/Application.h"
#include "widgets/ControlsKit.h"
#include "widgets/ImageButton.h"
#include "files/IniFile.h"
#include "files/PathUtils.h"
#include "files/TextConv.h"
#include "forms/frmControl.h"
#include "forms/frmView.h"
#include "media/MediaBoundary.h"
#include "PanelTesting.h"
#include "SessionProbe.h"

namespace {

QString IniPath() {
    return TIniFile(QStringLiteral("Pomvira.ini")).FileName();
}

class ControlFormTest : public PanelTestBase {
  protected:
    void SetUp() override {
        media::SetMediaSystem(nullptr);
        QFile::remove(IniPath());
        SetMessageBoxHook([this](const TMessageBoxRequest& r) {
            boxes.push_back(r);
            return QMessageBox::Ok;
        });
    }
    void TearDown() override {
        SetMessageBoxHook(nullptr);
    }
    void WriteIni(const QByteArray& text) {
        QDir().mkpath(QFileInfo(IniPath()).path());
        QFile f(IniPath());
        ASSERT_TRUE(f.open(QIODevice::WriteOnly));
        f.write(text);
    }
    QString ReadIni() {
        QFile f(IniPath());
        if (!f.open(QIODevice::ReadOnly))
            return QString();
        return QString::fromUtf8(f.readAll());
    }

    std::vector<TMessageBoxRequest> boxes;
};

}  // namespace

TEST_F(ControlFormTest, WithoutCameraShowsTheMessageEndsAndStillWritesTheSettings) {
    {
        TControlForm form;
        ASSERT_EQ(boxes.size(), 1u);
        EXPECT_EQ(boxes[0].caption, "Ombra Viewer");
        EXPECT_EQ(boxes[0].icon, QMessageBox::Information);
        EXPECT_EQ(boxes[0].owner, &form);
        EXPECT_EQ(boxes[0].text,
                  ShownText(u"Il n'y a pas une possibilit\u00e9 de rechercher un syst\u00e8me "
                            u"d'appareil-photo.\r\n\r\nIl finit un programme."));
        EXPECT_TRUE(ApplicationTerminating());
        ASSERT_NE(form.ViewForm(), nullptr);
        EXPECT_FALSE(form.ViewForm()->isVisible());
    }
    const QString ini = ReadIni();
    for (const char* key : {"USE AUDIO=1", "VIDEO DEVICE=0", "AUDIO DEVICE=0", "VIDEO COMPRESS=-1",
                            "AUDIO COMPRESS=-1", "VIDEO FOLDER=", "SNAP FOLDER=", "VIDEO FORMAT="})
        EXPECT_TRUE(ini.contains(QString::fromLatin1(key))) << key << "\n" << ini.toStdString();
    const TIniFile settings(QStringLiteral("Pomvira.ini"));
    const QString video = settings.ReadString("CAPTURE", "VIDEO FOLDER", "");
    const QString snap = settings.ReadString("CAPTURE", "SNAP FOLDER", "");
    EXPECT_EQ(video, programDir.path() + "/Video");
    EXPECT_EQ(snap, programDir.path() + "/Image");
    EXPECT_TRUE(QDir(video).exists());
    EXPECT_TRUE(QDir(snap).exists());
}

TEST_F(ControlFormTest, StoredValuesAreReadByTheRulesAndWrittenBack) {
    QTemporaryDir videos;
    WriteIni(
        "[CAPTURE]\r\nUSE AUDIO=2\r\nVIDEO DEVICE=0x10\r\nVIDEO COMPRESS=abc\r\n"
        "VIDEO FOLDER=" +
        videos.path().toUtf8() +
        "\r\nSNAP FOLDER=/no/such/folder\r\n"
        "VIDEO FORMAT=Major Type: Video\r\n; a comment that stays\r\n");
    {
        TControlForm form;
        const auto state = PanelState(form);
        EXPECT_TRUE(state.UseAudio);
        EXPECT_EQ(state.VideoDevice, 16);  // no camera: the stored index survives
        EXPECT_EQ(state.VideoCompress, -1);
        EXPECT_EQ(state.VideoFolder, videos.path());
        EXPECT_EQ(state.SnapFolder, programDir.path() + "/Image");
        EXPECT_EQ(state.VideoFormat, "Major Type: Video");
    }
    const TIniFile settings(QStringLiteral("Pomvira.ini"));
    EXPECT_EQ(settings.ReadString("CAPTURE", "USE AUDIO", ""), "1");
    EXPECT_EQ(settings.ReadString("CAPTURE", "VIDEO DEVICE", ""), "16");
    EXPECT_EQ(settings.ReadString("CAPTURE", "VIDEO COMPRESS", ""), "-1");
    EXPECT_TRUE(ReadIni().contains("; a comment that stays"));
}

TEST_F(ControlFormTest, RefusedSettingsWriteIsReportedAndShutDownGoesOn) {
    // The settings file's place is taken by a folder: it cannot be written.
    QDir().mkpath(IniPath());
    { TControlForm form; }
    QDir(IniPath()).removeRecursively();
    ASSERT_EQ(boxes.size(), 2u);
    EXPECT_EQ(boxes[1].text, QStringLiteral("Impossible d'écrire dans %1").arg(IniPath()));
    EXPECT_EQ(boxes[1].caption, "Ombra Viewer");
}

TEST_F(ControlFormTest, StartsAsTheNormalPanelWithFrenchCaptionsAndHints) {
    TControlForm form;
    EXPECT_EQ(form.size(), QSize(355, 72));
    EXPECT_EQ(form.windowTitle(), "Ombra Viewer");
    EXPECT_TRUE(form.windowFlags() & Qt::FramelessWindowHint);
    EXPECT_TRUE(form.windowFlags() & Qt::WindowStaysOnTopHint);
    // A tool window that belongs to the preview window, the program's one
    // task bar entry; see-through outside its outline.
    EXPECT_EQ(form.windowType(), Qt::Tool);
    ASSERT_NE(form.windowHandle(), nullptr);
    EXPECT_EQ(form.windowHandle()->transientParent(), form.ViewForm()->windowHandle());
    EXPECT_TRUE(form.testAttribute(Qt::WA_TranslucentBackground));
    EXPECT_FALSE(form.windowIcon().isNull());
    // Only the two windows are native: the panel's controls are not.
    EXPECT_EQ(form.imgBack->internalWinId(), 0u);
    EXPECT_EQ(form.btnCapture->internalWinId(), 0u);
    EXPECT_FALSE(PanelState(form).Expanded);

    const std::pair<TAction*, const char16_t*> captions[] = {
        {form.actUseAudio, u"Enregistrement de la voix durant l\u2019acquisition"},
        {form.actAudioFormat, u"Format Audio"},
        {form.actVideoFilter, u"Couleur des vid\u00e9os"},
        {form.actVideoPin, u"R\u00e9solution des vid\u00e9os"},
        {form.actAudioFilter, u"R\u00e9glage audio"},
        {form.actCompress, u"R\u00e9glage de la compression"},
        {form.actFolderConfig, u"R\u00e9glage du dossier de sauvegarde"},
        {form.actSelectDevice, u"S\u00e9lection du p\u00e9riph\u00e9rique"},
        {form.actCapAndMail, u"Envoyer Message apr\u00e8s enregistrement"},
        {form.actSendMail, u"Envoyer Message avec photo"},
    };
    for (const auto& [action, text] : captions)
        EXPECT_EQ(action->Caption(), QString::fromUtf16(text))
            << action->objectName().toStdString();
    // The apostrophe survives the trip through code page 1252.
    EXPECT_TRUE(form.actUseAudio->Caption().contains(QChar(0x2019)));
    EXPECT_EQ(form.actMinimize->Caption(), "Minimize");
    EXPECT_EQ(form.actBmpDelete->Caption(), QString::fromUtf8("삭제"));

    const std::pair<TImageButton*, const char*> hints[] = {
        {form.btnDelete, "Effacer"},
        {form.btnDeleteAll, "Tout Effacer"},
        {form.btnCapture, "Enregistrement"},
        {form.btnSnapShot, "Image Fixe"},
        {form.btnEditImg, "Edition Photo"},
        {form.btnMail, "Envois de message"},
        {form.btnConfig, "Configuration"},
        {form.btnMinimize, "Minimiser"},
        {form.btnClose, "Fin"},
        {form.btnExpand, "Extension"},
    };
    for (const auto& [button, text] : hints)
        EXPECT_EQ(button->Hint(), QString::fromLatin1(text)) << button->objectName().toStdString();
    EXPECT_EQ(form.imgPrev->Hint(), "Retour Rapide");
    EXPECT_EQ(form.imgNext->Hint(), "Avance Rapide");

    // Menu entries follow the actions, in their order.
    const auto entries = form.menuConfig->actions();
    ASSERT_EQ(entries.size(), 11);
    EXPECT_EQ(entries[0]->text(), form.actUseAudio->Caption());
    EXPECT_TRUE(entries[2]->isSeparator());
    EXPECT_TRUE(entries[6]->isSeparator());
    EXPECT_TRUE(entries[9]->isSeparator());
    EXPECT_EQ(entries[10]->text(), form.actSelectDevice->Caption());
    EXPECT_EQ(form.menuMail->actions().size(), 2);
}

TEST_F(ControlFormTest, SkinMagentaIsPaintedSeeThrough) {
    // Compositors that ignore the outline for drawing show what the window
    // paints there: nothing, never the key colour.
    TControlForm form;
    form.SetExpanded(true);
    const QImage skin = form.imgBack->Picture().convertToFormat(QImage::Format_RGB32);
    const QImage shown = form.grab().toImage().convertToFormat(QImage::Format_ARGB32);
    ASSERT_EQ(shown.size(), skin.size());
    int cut = 0, wrong = 0;
    for (int y = 0; y < skin.height(); ++y)
        for (int x = 0; x < skin.width(); ++x) {
            const bool key = (skin.pixel(x, y) & 0xFFFFFF) == 0xFF00FF;
            cut += key;
            wrong += key ? qAlpha(shown.pixel(x, y)) != 0 : qAlpha(shown.pixel(x, y)) != 255;
        }
    EXPECT_GT(cut, 1000);
    EXPECT_EQ(wrong, 0);
}

TEST_F(ControlFormTest, ExpandArrowSwitchesBetweenTheTwoHeights) {
    TControlForm form;
    form.actExpand->Execute();
    EXPECT_EQ(form.size(), QSize(355, 166));
    EXPECT_EQ(form.btnExpand->Hint(), "Minimiser");
    EXPECT_EQ(form.btnExpand->Tag, 1);
    form.actExpand->Execute();
    EXPECT_EQ(form.size(), QSize(355, 72));
    EXPECT_EQ(form.btnExpand->Hint(), "Extension");
    EXPECT_EQ(form.btnExpand->Tag, 0);
}

TEST_F(ControlFormTest, OutlineIsTheSkinLessItsMagentaPixels) {
    TControlForm form;
    const QImage skin = form.imgBack->Picture();
    ASSERT_EQ(skin.size(), QSize(355, 166));
    int magenta = 0;
    for (int y = 0; y < skin.height(); ++y)
        for (int x = 0; x < skin.width(); ++x) {
            const bool cut = (skin.pixel(x, y) & 0xFFFFFF) == 0xFF00FF;
            magenta += cut;
            ASSERT_EQ(form.FormRegion().contains(QPoint(x, y)), !cut) << x << "," << y;
        }
    EXPECT_GT(magenta, 0);
    EXPECT_EQ(form.mask(), form.FormRegion());
}

TEST_F(ControlFormTest, OnlyBareSkinDragsThePanel) {
    TControlForm form;
    form.SetExpanded(true);
    EXPECT_TRUE(form.IsDragSpot(QPoint(20, 40)));    // skin left of the buttons
    EXPECT_FALSE(form.IsDragSpot(QPoint(50, 30)));   // btnCapture
    EXPECT_FALSE(form.IsDragSpot(QPoint(340, 60)));  // the expand arrow's hot area
    EXPECT_FALSE(form.IsDragSpot(QPoint(15, 100)));  // imgPrev
    EXPECT_FALSE(form.IsDragSpot(QPoint(60, 100)));  // a thumbnail box
    // A hidden label does not cover the skin; a visible one does.
    EXPECT_TRUE(form.IsDragSpot(QPoint(60, 130)));
    form.lblBmp1->show();
    EXPECT_FALSE(form.IsDragSpot(QPoint(60, 130)));
    // A disabled button does not cover the skin either.
    form.btnSnapShot->setEnabled(false);
    EXPECT_TRUE(form.IsDragSpot(QPoint(110, 30)));
    form.btnSnapShot->setEnabled(true);
    EXPECT_FALSE(form.IsDragSpot(QPoint(110, 30)));
}

TEST_F(ControlFormTest, NineActionsAreDisabledExactlyWhileRecording) {
    TControlForm form;
    TAction* gated[] = {form.actSnapShot,    form.actVideoFilter,  form.actVideoPin,
                        form.actAudioFilter, form.actCompress,     form.actCapAndMail,
                        form.actSendMail,    form.actSelectDevice, form.actAudioFormat};
    TAction* free[] = {form.actClose,    form.actMinimize, form.actBmpDelete,
                       form.actBmpClear, form.actExpand,   form.actFolderConfig};
    form.btnCapture->Tag = 1;
    form.ActionList->UpdateActions();
    for (TAction* a : gated)
        EXPECT_FALSE(a->Enabled()) << a->objectName().toStdString();
    for (TAction* a : free)
        EXPECT_TRUE(a->Enabled()) << a->objectName().toStdString();
    // The sound switch is disabled too, and keeps its check mark.
    EXPECT_FALSE(form.actUseAudio->Enabled());
    EXPECT_TRUE(form.actUseAudio->Checked());
    // The linked button follows its action.
    EXPECT_FALSE(form.btnSnapShot->isEnabled());
    form.btnCapture->Tag = 0;
    form.ActionList->UpdateActions();
    for (TAction* a : gated)
        EXPECT_TRUE(a->Enabled()) << a->objectName().toStdString();
    EXPECT_TRUE(form.btnSnapShot->isEnabled());
    form.actUseAudio->Execute();
    form.ActionList->UpdateActions();
    EXPECT_FALSE(form.actUseAudio->Checked());
}

TEST_F(ControlFormTest, TimerLeavesTheStatusLineAloneWhileTheGraphIsInactive) {
    TControlForm form;
    form.ViewForm()->lblStatus->setText("( Record )");
    form.TimerTimer(nullptr);
    EXPECT_EQ(form.ViewForm()->lblStatus->text(), "( Record )");
}

TEST_F(ControlFormTest, SettingsMenuOpensUnderTheSettingsButton) {
    TControlForm form;
    form.move(100, 200);
    form.btnConfigClick(form.btnConfig);
    EXPECT_EQ(form.menuConfig->pos(), QPoint(100 + 273, 200 + 59));
    form.menuConfig->hide();
}
