// SPDX-License-Identifier: GPL-3.0-or-later
#include "DlgCompress.h"

#include <QCheckBox>
#include <QLabel>
#include <QListWidget>
#include <QPushButton>
#include <algorithm>

#include "DialogKit.h"
#include "files/TextConv.h"

namespace {

QListWidget* CreateCompressorList(QWidget* parent, const char* name, const QRect& bounds) {
    auto* list = new QListWidget(parent);
    list->setObjectName(QString::fromLatin1(name));
    list->setSelectionMode(QAbstractItemView::SingleSelection);
    list->setGeometry(bounds);
    return list;
}

QCheckBox* CreateNoneBox(QWidget* parent, const char* name, const QPoint& pos) {
    auto* box = new QCheckBox(parent);
    box->setObjectName(QString::fromLatin1(name));
    box->setGeometry(QRect(pos, QSize(97, 17)));
    return box;
}

}  // namespace

TCompressDlg::TCompressDlg(QWidget* owner) : QDialog(owner) {
    QWidget* client = SetupDialogForm(this, QStringLiteral("CompressDlg"), QSize(348, 379));
    lstVideoComp = CreateCompressorList(client, "lstVideoComp", QRect(8, 32, 329, 137));
    lblVCFormat = CreateLabel(client, QStringLiteral("lblVCFormat"), QPoint(8, 16));
    lblACFormat = CreateLabel(client, QStringLiteral("lblACFormat"), QPoint(8, 184));
    lstAudioComp = CreateCompressorList(client, "lstAudioComp", QRect(8, 200, 329, 121));
    btnOK = CreateOkButton(this, QPoint(65, 336));
    connect(btnOK, &QPushButton::clicked, this, [this] { btnOKClick(); });
    btnCancel = CreateCancelButton(this, QPoint(178, 336));
    chkNotVComp = CreateNoneBox(client, "chkNotVComp", QPoint(240, 8));
    chkNotAComp = CreateNoneBox(client, "chkNotAComp", QPoint(240, 180));
    // A box changed by the user or by the caller updates its list at once.
    connect(chkNotVComp, &QCheckBox::toggled, this, [this] { chkNotVCompClick(); });
    connect(chkNotAComp, &QCheckBox::toggled, this, [this] { chkNotACompClick(); });

    SetTabOrder({lstVideoComp, lstAudioComp, btnOK, btnCancel, chkNotVComp, chkNotAComp});
    FormCreate();
}

void TCompressDlg::FormCreate() {
    setWindowTitle(UiText("Dialogs", "Réglage de la compression"));
    SetLabelText(lblVCFormat, UiText("Dialogs", "Format de compression vidéo"));
    SetLabelText(lblACFormat, UiText("Dialogs", "Format de compression Audio"));
    for (QCheckBox* box : {chkNotVComp, chkNotAComp}) {
        box->setText(UiText("Dialogs", "Non disponible"));
        // A face wider than Tahoma would cut the text: the box may then
        // grow up to the dialog's edge.
        const int room = box->parentWidget()->width() - box->x();
        box->resize(std::clamp(box->sizeHint().width(), box->width(), room), box->height());
    }
    // For screen readers, each list and box says which compressor it
    // chooses (both boxes read "Non disponible").
    lblVCFormat->setBuddy(lstVideoComp);
    lblACFormat->setBuddy(lstAudioComp);
    lstVideoComp->setAccessibleName(UiText("Dialogs", "Compresseur vidéo"));
    lstAudioComp->setAccessibleName(UiText("Dialogs", "Compresseur audio"));
    chkNotVComp->setAccessibleName(UiText("Dialogs", "Sans compresseur vidéo"));
    chkNotAComp->setAccessibleName(UiText("Dialogs", "Sans compresseur audio"));
    VideoCompIndex = -1;
    AudioCompIndex = -1;
}

void TCompressDlg::showEvent(QShowEvent* event) {
    FormShow();
    QDialog::showEvent(event);
}

void TCompressDlg::FormShow() {
    chkNotVCompClick();
    chkNotACompClick();
}

// A disabled list keeps its selection.
void TCompressDlg::chkNotVCompClick() {
    lstVideoComp->setEnabled(!chkNotVComp->isChecked());
}

void TCompressDlg::chkNotACompClick() {
    lstAudioComp->setEnabled(!chkNotAComp->isChecked());
}

void TCompressDlg::btnOKClick() {
    VideoCompIndex = chkNotVComp->isChecked() ? -1 : ListItemIndex(lstVideoComp);
    AudioCompIndex = chkNotAComp->isChecked() ? -1 : ListItemIndex(lstAudioComp);
    accept();
}
