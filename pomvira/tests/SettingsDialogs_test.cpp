// SPDX-License-Identifier: GPL-3.0-or-later
// The settings dialogs on the offscreen platform: their texts, sizes and
// places, tab order and first focus, how Enter, Esc and the close icon end
// them, the folder field with its browse button, the compressor lists and
// their boxes, and the audio format chooser.
#include <QApplication>
#include <QCheckBox>
#include <QClipboard>
#include <QCloseEvent>
#include <QComboBox>
#include <QDir>
#include <QFrame>
#include <QLabel>
#include <QListWidget>
#include <QPushButton>
#include <QScrollBar>
#include <QTest>
#include <QToolButton>
#include <algorithm>
#include <cstring>
#include <gtest/gtest.h>

#include "dialogs/AudioFormatChooser.h"
#include "dialogs/BrowseEdit.h"
#include "dialogs/DlgCompress.h"
#include "dialogs/DlgSaveFolder.h"
#include "dialogs/DlgSelectDevice.h"
#include "ModalDriver.h"
#include "files/TextConv.h"
#include "media/MediaBoundary.h"

using media::WAVEFORMATEX;

namespace {

// The widgets that Tab visits, in order, starting at `first`.
std::vector<QWidget*> TabChain(QWidget* first, int count) {
    std::vector<QWidget*> chain{first};
    QWidget* w = first;
    while (int(chain.size()) < count) {
        w = w->nextInFocusChain();
        if (w == first)
            break;
        if ((w->focusPolicy() & Qt::TabFocus) && w->isVisibleTo(first->window()))
            chain.push_back(w);
    }
    return chain;
}

void ExpectButtons(QPushButton* ok, QPushButton* cancel, const QPoint& okPos,
                   const QPoint& cancelPos) {
    EXPECT_EQ(ok->geometry(), QRect(okPos, QSize(105, 25)));
    EXPECT_EQ(cancel->geometry(), QRect(cancelPos, QSize(105, 25)));
    EXPECT_EQ(ok->text(), "Confirmation");
    EXPECT_EQ(cancel->text(), "Annulation");
    EXPECT_TRUE(ok->isDefault());
    EXPECT_FALSE(ok->icon().isNull());
    EXPECT_FALSE(cancel->icon().isNull());
}

void ExpectDialogForm(QDialog& d, const QSize& client) {
    EXPECT_EQ(d.size(), client);
    EXPECT_EQ(d.minimumSize(), client);
    EXPECT_EQ(d.maximumSize(), client);
    EXPECT_TRUE(d.windowFlags() & Qt::WindowCloseButtonHint);
    EXPECT_FALSE(d.windowFlags() & Qt::WindowMinimizeButtonHint);
    EXPECT_FALSE(d.windowFlags() & Qt::WindowMaximizeButtonHint);
    EXPECT_EQ(d.font().family(), "Tahoma");
    EXPECT_EQ(d.font().pixelSize(), 11);
}

// Runs the dialog modally and ends it with `end`; the dialog's result.
int RunAndEnd(QDialog& d, const std::function<void(QDialog*)>& end) {
    auto answer = WhenModal<QDialog>([&](QDialog* shown) {
        EXPECT_EQ(shown, &d);
        end(shown);
    });
    const int result = d.exec();
    EXPECT_TRUE(answer->Answered());
    return result;
}

void CloseByIcon(QDialog* d) {
    QCloseEvent e;
    QApplication::sendEvent(d, &e);
}

}  // namespace

// ---------------------------------------------------------------------------
// Device dialog
// ---------------------------------------------------------------------------

TEST(SelectDeviceDlg, TextsPlacesAndTabOrder) {
    TSelectDeviceDlg d;
    EXPECT_EQ(d.windowTitle(), ShownText(u"S\u00e9lection du p\u00e9riph\u00e9rique"));
    ExpectDialogForm(d, QSize(289, 197));
    ExpectButtons(d.btnOK, d.btnCancel, QPoint(36, 155), QPoint(148, 155));
    EXPECT_EQ(d.Panel1->geometry(), QRect(8, 8, 273, 129));
    EXPECT_EQ(d.Panel1->frameShadow(), QFrame::Raised);
    for (QWidget* w :
         {static_cast<QWidget*>(d.lblVideoDevice), static_cast<QWidget*>(d.cbVideoDevice),
          static_cast<QWidget*>(d.lblAudioDevice), static_cast<QWidget*>(d.cbAudioDevice)})
        EXPECT_EQ(w->parentWidget(), d.Panel1) << w->objectName().toStdString();
    EXPECT_EQ(d.lblVideoDevice->pos(), QPoint(16, 16));
    EXPECT_EQ(d.lblVideoDevice->text(), ShownText(u"Appareil Vid\u00e9o"));
    EXPECT_EQ(d.lblAudioDevice->pos(), QPoint(16, 72));
    EXPECT_EQ(d.lblAudioDevice->text(), "Appareil Audio");
    EXPECT_EQ(d.cbVideoDevice->pos(), QPoint(16, 32));
    EXPECT_EQ(d.cbAudioDevice->pos(), QPoint(16, 88));
    EXPECT_EQ(d.cbVideoDevice->width(), 241);
    EXPECT_EQ(d.cbAudioDevice->width(), 241);
    EXPECT_FALSE(d.cbVideoDevice->isEditable());
    EXPECT_FALSE(d.cbAudioDevice->isEditable());
    EXPECT_EQ(TabChain(d.btnOK, 5),
              (std::vector<QWidget*>{d.btnOK, d.btnCancel, d.cbVideoDevice, d.cbAudioDevice}));
}

TEST(SelectDeviceDlg, OpensOnOkEnterConfirmsAndHandsBackTheSelection) {
    TSelectDeviceDlg d;
    d.cbVideoDevice->addItems({"Cam A", "Cam B"});
    d.cbVideoDevice->setCurrentIndex(0);
    // No microphone: an empty list.
    const int result = RunAndEnd(d, [&](QDialog*) {
        // The dialog opens on OK; the camera list follows Cancel in the Tab
        // order: an arrow chooses, Enter in it presses the default button.
        EXPECT_EQ(d.focusWidget(), d.btnOK);
        PressKey(&d, Qt::Key_Tab);
        PressKey(&d, Qt::Key_Tab);
        PressKey(&d, Qt::Key_Down);
        PressKey(&d, Qt::Key_Return);
    });
    EXPECT_EQ(result, QDialog::Accepted);
    EXPECT_EQ(d.cbVideoDevice->currentIndex(), 1);
    EXPECT_EQ(d.cbAudioDevice->count(), 0);
    EXPECT_EQ(d.cbAudioDevice->currentIndex(), -1);
}

TEST(SelectDeviceDlg, EscTheCloseIconAndCancelEndWithCancel) {
    for (auto end : std::vector<std::function<void(QDialog*)>>{
             [](QDialog* d) { PressKey(d, Qt::Key_Escape); }, CloseByIcon,
             [](QDialog* d) { static_cast<TSelectDeviceDlg*>(d)->btnCancel->click(); },
             // Enter on the focused Cancel button (after OK in the Tab
             // order) presses it.
             [](QDialog* d) {
                 PressKey(d, Qt::Key_Tab);
                 PressKey(d, Qt::Key_Return);
             }}) {
        TSelectDeviceDlg d;
        EXPECT_EQ(RunAndEnd(d, end), QDialog::Rejected);
    }
}

// ---------------------------------------------------------------------------
// Save-folder dialog and its folder fields
// ---------------------------------------------------------------------------

class SaveFolderDlgTest : public ::testing::Test {
  protected:
    void SetUp() override {
        SetFolderChooserHook([this](QWidget* parent, const QString& start) {
            chooserParents.push_back(parent);
            chooserStarts.push_back(start);
            focusWhenBrowsing = QApplication::focusWidget();
            return chooserAnswer;
        });
    }
    void TearDown() override { SetFolderChooserHook(nullptr); }

    QString chooserAnswer;
    std::vector<QWidget*> chooserParents;
    std::vector<QString> chooserStarts;
    QWidget* focusWhenBrowsing = nullptr;
};

TEST_F(SaveFolderDlgTest, TextsPlacesAndTabOrder) {
    TSaveFolderDlg d;
    EXPECT_EQ(d.windowTitle(), ShownText(u"R\u00e9glage du dossier de sauvegarde"));
    ExpectDialogForm(d, QSize(322, 163));
    ExpectButtons(d.btnOK, d.btnCancel, QPoint(53, 118), QPoint(165, 118));
    EXPECT_EQ(d.lblVideoFolder->pos(), QPoint(16, 16));
    EXPECT_EQ(d.lblVideoFolder->text(), "Dossier de sauvegarde Video");
    EXPECT_EQ(d.lblPhotoFolder->pos(), QPoint(16, 64));
    EXPECT_EQ(d.lblPhotoFolder->text(), "Dossier de sauvegarde des Photos");
    EXPECT_EQ(d.edtVideoFolder->geometry(), QRect(16, 32, 289, 21));
    EXPECT_EQ(d.edtSnapshotFolder->geometry(), QRect(16, 80, 289, 21));
    EXPECT_EQ(TabChain(d.edtVideoFolder, 5),
              (std::vector<QWidget*>{d.edtVideoFolder, d.edtSnapshotFolder, d.btnOK, d.btnCancel}));
    // The browse button sits inside the field's right end.
    d.show();
    const QRect button = d.edtVideoFolder->BrowseButton()->geometry();
    EXPECT_TRUE(d.edtVideoFolder->rect().contains(button));
    EXPECT_GE(button.right(), d.edtVideoFolder->width() - 4);
    EXPECT_TRUE(d.edtVideoFolder->BrowseButton()->isVisible());
}

TEST_F(SaveFolderDlgTest, FieldsCannotBeTypedOrPastedIntoAndKeepTheWholePath) {
    TSaveFolderDlg d;
    const QString longPath = "/home/user/" + QString(200, QChar('v')) + "/Video";
    d.edtVideoFolder->SetPath(longPath);
    // The start of the path is in view.
    EXPECT_EQ(d.edtVideoFolder->cursorPosition(), 0);
    d.show();
    d.edtVideoFolder->setFocus();
    QTest::keyClicks(d.edtVideoFolder, "xyz");
    QTest::keyClick(d.edtVideoFolder, Qt::Key_Backspace);
    QApplication::clipboard()->setText("/pasted");
    QTest::keyClick(d.edtVideoFolder, Qt::Key_V, Qt::ControlModifier);
    QTest::keyClick(d.edtVideoFolder, Qt::Key_Insert, Qt::ShiftModifier);
    QApplication::clipboard()->setText("/selected", QClipboard::Selection);
    QTest::mouseClick(d.edtVideoFolder, Qt::MiddleButton, {}, QPoint(20, 10));
    EXPECT_EQ(d.edtVideoFolder->Path(), longPath);
    EXPECT_EQ(d.edtVideoFolder->text(), longPath);
    EXPECT_TRUE(d.edtVideoFolder->isReadOnly());
}

TEST_F(SaveFolderDlgTest, BrowsingStartsAtHomeAndOnlyAChosenFolderChangesTheText) {
    TSaveFolderDlg d;
    d.edtVideoFolder->SetPath("/srv/videos");
    d.edtSnapshotFolder->SetPath("/srv/photos");
    chooserAnswer = "/media/usb/Films";
    const int result = RunAndEnd(d, [&](QDialog*) {
        EXPECT_EQ(QApplication::focusWidget(), d.edtVideoFolder);
        // The snapshot field's button: the field takes the focus first.
        d.edtSnapshotFolder->BrowseButton()->click();
        EXPECT_EQ(focusWhenBrowsing, d.edtSnapshotFolder);
        EXPECT_EQ(d.edtSnapshotFolder->Path(), "/media/usb/Films");
        chooserAnswer = "/";
        d.edtVideoFolder->BrowseButton()->click();
        EXPECT_EQ(d.edtVideoFolder->Path(), "/");
        // Cancelled: the text stays.
        chooserAnswer.clear();
        d.edtVideoFolder->BrowseButton()->click();
        EXPECT_EQ(d.edtVideoFolder->Path(), "/");
        PressKey(&d, Qt::Key_Return);
    });
    EXPECT_EQ(result, QDialog::Accepted);
    ASSERT_EQ(chooserStarts.size(), 3u);
    for (size_t i = 0; i < 3; ++i) {
        EXPECT_EQ(chooserStarts[i], QDir::homePath());
        EXPECT_EQ(chooserParents[i], &d);
    }
    EXPECT_EQ(d.edtVideoFolder->Path(), "/");
    EXPECT_EQ(d.edtSnapshotFolder->Path(), "/media/usb/Films");
}

TEST_F(SaveFolderDlgTest, EscAndTheCloseIconEndWithCancel) {
    for (auto end : std::vector<std::function<void(QDialog*)>>{
             [](QDialog* d) { PressKey(d, Qt::Key_Escape); }, CloseByIcon}) {
        TSaveFolderDlg d;
        EXPECT_EQ(RunAndEnd(d, end), QDialog::Rejected);
    }
}

// ---------------------------------------------------------------------------
// Compression dialog
// ---------------------------------------------------------------------------

class CompressDlgTest : public ::testing::Test {
  protected:
    // The caller's filling: names, item 0, then the box or the index.
    void Fill(QListWidget* list, QCheckBox* none, const QStringList& names, int current) {
        list->clear();
        list->addItems(names);
        if (list->count() > 0)
            list->setCurrentRow(0);
        none->setChecked(current == -1);
        if (current != -1)
            list->setCurrentRow(current);
    }
    TCompressDlg d;
};

TEST_F(CompressDlgTest, TextsPlacesAndTabOrder) {
    EXPECT_EQ(d.windowTitle(), ShownText(u"R\u00e9glage de la compression"));
    ExpectDialogForm(d, QSize(348, 379));
    ExpectButtons(d.btnOK, d.btnCancel, QPoint(65, 336), QPoint(178, 336));
    EXPECT_EQ(d.lstVideoComp->geometry(), QRect(8, 32, 329, 137));
    EXPECT_EQ(d.lstAudioComp->geometry(), QRect(8, 200, 329, 121));
    EXPECT_EQ(d.lstVideoComp->selectionMode(), QAbstractItemView::SingleSelection);
    EXPECT_EQ(d.lblVCFormat->pos(), QPoint(8, 16));
    EXPECT_EQ(d.lblVCFormat->text(), ShownText(u"Format de compression vid\u00e9o"));
    EXPECT_EQ(d.lblACFormat->pos(), QPoint(8, 184));
    EXPECT_EQ(d.lblACFormat->text(), "Format de compression Audio");
    EXPECT_EQ(d.chkNotVComp->pos(), QPoint(240, 8));
    EXPECT_EQ(d.chkNotAComp->pos(), QPoint(240, 180));
    // 97 x 17, wider only where the face at hand needs it to show the text.
    for (QCheckBox* box : {d.chkNotVComp, d.chkNotAComp}) {
        EXPECT_EQ(box->height(), 17);
        EXPECT_GE(box->width(), 97);
        EXPECT_TRUE(box->width() == 97 || box->width() <= box->sizeHint().width());
        EXPECT_LE(box->geometry().right(), d.width() - 1);
    }
    EXPECT_EQ(d.chkNotVComp->text(), "Non disponible");
    EXPECT_EQ(d.chkNotAComp->text(), "Non disponible");
    EXPECT_EQ(d.VideoCompIndex, -1);
    EXPECT_EQ(d.AudioCompIndex, -1);
    EXPECT_EQ(TabChain(d.lstVideoComp, 7),
              (std::vector<QWidget*>{d.lstVideoComp, d.lstAudioComp, d.btnOK, d.btnCancel,
                                     d.chkNotVComp, d.chkNotAComp}));
}

TEST_F(CompressDlgTest, NoCompressorsChosenOpensWithBothBoxesTickedAndTheListsDisabled) {
    Fill(d.lstVideoComp, d.chkNotVComp, {"JPEG", "PNG"}, -1);
    Fill(d.lstAudioComp, d.chkNotAComp, {"A-Law", "Mu-Law"}, -1);
    const int result = RunAndEnd(d, [&](QDialog*) {
        EXPECT_TRUE(d.chkNotVComp->isChecked());
        EXPECT_TRUE(d.chkNotAComp->isChecked());
        EXPECT_FALSE(d.lstVideoComp->isEnabled());
        EXPECT_FALSE(d.lstAudioComp->isEnabled());
        // Each shows its first compressor selected.
        EXPECT_TRUE(d.lstVideoComp->item(0)->isSelected());
        EXPECT_TRUE(d.lstAudioComp->item(0)->isSelected());
        // Unticking enables the list at once.
        QTest::mouseClick(d.chkNotVComp, Qt::LeftButton, {}, QPoint(5, 8));
        EXPECT_FALSE(d.chkNotVComp->isChecked());
        EXPECT_TRUE(d.lstVideoComp->isEnabled());
        d.lstVideoComp->setFocus();
        QTest::keyClick(d.lstVideoComp, Qt::Key_Down);
        EXPECT_TRUE(d.lstVideoComp->item(1)->isSelected());
        PressKey(&d, Qt::Key_Return);
    });
    EXPECT_EQ(result, QDialog::Accepted);
    EXPECT_EQ(d.VideoCompIndex, 1);
    EXPECT_EQ(d.AudioCompIndex, -1);
}

TEST_F(CompressDlgTest, TickingABoxAfterChoosingGivesNoneAndKeepsTheSelection) {
    Fill(d.lstVideoComp, d.chkNotVComp, {"JPEG", "PNG", "Huffyuv"}, 2);
    Fill(d.lstAudioComp, d.chkNotAComp, {"A-Law", "Mu-Law"}, 1);
    const int result = RunAndEnd(d, [&](QDialog*) {
        EXPECT_FALSE(d.chkNotVComp->isChecked());
        EXPECT_TRUE(d.lstVideoComp->isEnabled());
        EXPECT_TRUE(d.lstVideoComp->item(2)->isSelected());
        d.chkNotVComp->click();
        EXPECT_FALSE(d.lstVideoComp->isEnabled());
        EXPECT_TRUE(d.lstVideoComp->item(2)->isSelected());
        d.btnOK->click();
    });
    EXPECT_EQ(result, QDialog::Accepted);
    EXPECT_EQ(d.VideoCompIndex, -1);
    EXPECT_EQ(d.AudioCompIndex, 1);
}

TEST_F(CompressDlgTest, EmptyListWithItsBoxUntickedGivesNone) {
    Fill(d.lstVideoComp, d.chkNotVComp, {"JPEG"}, 0);
    Fill(d.lstAudioComp, d.chkNotAComp, {}, 0);
    EXPECT_FALSE(d.chkNotAComp->isChecked());
    EXPECT_EQ(RunAndEnd(d, [](QDialog* shown) { PressKey(shown, Qt::Key_Return); }),
              QDialog::Accepted);
    EXPECT_EQ(d.VideoCompIndex, 0);
    EXPECT_EQ(d.AudioCompIndex, -1);
}

// ---------------------------------------------------------------------------
// Audio format chooser
// ---------------------------------------------------------------------------

namespace {

TWaveFormat Wave(uint16_t tag, uint32_t rate, uint16_t bits, uint16_t channels,
                 uint16_t extra = 0) {
    WAVEFORMATEX wf{};
    wf.wFormatTag = tag;
    wf.nChannels = channels;
    wf.nSamplesPerSec = rate;
    wf.wBitsPerSample = bits;
    wf.nBlockAlign = uint16_t(channels * bits / 8);
    wf.nAvgBytesPerSec = rate * wf.nBlockAlign;
    wf.cbSize = extra;
    TWaveFormat bytes(sizeof wf + extra, 0xA5);
    std::memcpy(bytes.data(), &wf, sizeof wf);
    return bytes;
}

// Checks, inside a shown dialog, that every entry of the list is seen whole
// with no horizontal scroll bar.
void ExpectEntriesFitTheList(QListWidget* list) {
    QApplication::processEvents();
    int widest = 0;
    for (int i = 0; i < list->count(); ++i)
        widest = std::max(widest, list->fontMetrics().horizontalAdvance(list->item(i)->text()));
    EXPECT_GE(list->viewport()->width(), widest);
    EXPECT_FALSE(list->horizontalScrollBar()->isVisible());
}

QListWidget* FormatList(QWidget* chooser) {
    return chooser->findChild<QListWidget*>("lstFormats");
}

}  // namespace

TEST(AudioFormatChooser, ListsTheFormatsWithTheCurrentOneSelectedAndCopiesTheChosenOne) {
    const TWaveFormat current = Wave(1, 48000, 16, 2);
    std::vector<uint8_t> buffer(current.size() + 8, 0);
    std::memcpy(buffer.data(), current.data(), current.size());
    QWidget owner;
    TAudioFormatChoose choose;
    choose.Owner = &owner;
    choose.Style = ACMFORMATCHOOSE_STYLEF_INITTOWFXSTRUCT;
    choose.Format = buffer.data();
    choose.FormatSize = uint32_t(buffer.size());
    choose.Formats = {Wave(1, 44100, 16, 2), Wave(1, 48000, 16, 2), Wave(2, 22050, 4, 1, 4)};
    auto answer = WhenModalNamed("AudioFormatChooser", [&](QWidget* chooser) {
        EXPECT_EQ(chooser->parentWidget(), &owner);
        EXPECT_EQ(chooser->windowTitle(), "Sélection du son");
        QListWidget* list = FormatList(chooser);
        ASSERT_NE(list, nullptr);
        ASSERT_EQ(list->count(), 3);
        EXPECT_EQ(list->item(0)->text(), "PCM, 44100 Hz, 16 Bit, Stereo");
        EXPECT_EQ(list->item(2)->text(), "ADPCM, 22050 Hz, 4 Bit, Mono");
        EXPECT_EQ(list->currentRow(), 1);
        list->setCurrentRow(2);
        PressKey(chooser, Qt::Key_Return);
    });
    EXPECT_EQ(AudioFormatChoose(choose), MMSYSERR_NOERROR);
    EXPECT_TRUE(answer->Answered());
    // The chosen format with its extra bytes; the rest of the buffer cleared.
    const TWaveFormat adpcm = Wave(2, 22050, 4, 1, 4);
    EXPECT_EQ(std::vector<uint8_t>(buffer.begin(), buffer.begin() + 22), adpcm);
    EXPECT_EQ(std::vector<uint8_t>(buffer.begin() + 22, buffer.end()), std::vector<uint8_t>(4, 0));
    EXPECT_EQ(choose.FormatTag, "ADPCM");
}

TEST(AudioFormatChooser, CancelLeavesTheBufferAndNothingToChooseFromShowsNothing) {
    TWaveFormat buffer = Wave(1, 44100, 16, 2);
    const TWaveFormat before = buffer;
    TAudioFormatChoose choose;
    choose.Style = ACMFORMATCHOOSE_STYLEF_INITTOWFXSTRUCT;
    choose.Format = buffer.data();
    choose.FormatSize = uint32_t(buffer.size());
    choose.Formats = {Wave(1, 44100, 16, 2), Wave(1, 48000, 16, 2)};
    auto answer = WhenModalNamed("AudioFormatChooser", [&](QWidget* chooser) {
        FormatList(chooser)->setCurrentRow(1);
        PressKey(chooser, Qt::Key_Escape);
    });
    EXPECT_EQ(AudioFormatChoose(choose), ACMERR_CANCELED);
    EXPECT_TRUE(answer->Answered());
    EXPECT_EQ(buffer, before);

    // A format larger than the buffer cannot be handed back.
    choose.Formats = {Wave(2, 22050, 4, 1, 32)};
    auto tooLarge = WhenModalNamed("AudioFormatChooser",
                                   [](QWidget* chooser) { PressKey(chooser, Qt::Key_Return); });
    EXPECT_EQ(AudioFormatChoose(choose), ACMERR_NOTPOSSIBLE);
    EXPECT_EQ(buffer, before);

    choose.Formats.clear();
    EXPECT_EQ(AudioFormatChoose(choose), ACMERR_NOTPOSSIBLE);
    choose.Format = nullptr;
    EXPECT_EQ(AudioFormatChoose(choose), MMSYSERR_INVALPARAM);
}

TEST(AudioFormatChooser, ListShowsItsEntriesWholeWithALargeSystemFont) {
    const QFont before = QApplication::font();
    QFont large = before;
    large.setPixelSize(28);
    QApplication::setFont(large);
    TWaveFormat buffer = Wave(1, 44100, 16, 2);
    TAudioFormatChoose choose;
    choose.Format = buffer.data();
    choose.FormatSize = uint32_t(buffer.size());
    choose.Formats = {Wave(1, 44100, 16, 2), Wave(2, 22050, 4, 1, 4), Wave(1, 192000, 24, 8)};
    auto answer = WhenModalNamed("AudioFormatChooser", [&](QWidget* chooser) {
        ExpectEntriesFitTheList(FormatList(chooser));
        PressKey(chooser, Qt::Key_Escape);
    });
    EXPECT_EQ(AudioFormatChoose(choose), ACMERR_CANCELED);
    EXPECT_TRUE(answer->Answered());
    QApplication::setFont(before);
}
