// SPDX-License-Identifier: GPL-3.0-or-later
#include "DlgSaveFolder.h"

#include <QLabel>
#include <QPushButton>

#include "BrowseEdit.h"
#include "DialogKit.h"
#include "files/TextConv.h"

namespace {

TBrowseEdit* CreateFolderField(QWidget* parent, const char* name, const QPoint& pos) {
    auto* field = new TBrowseEdit(parent);
    field->setObjectName(QString::fromLatin1(name));
    field->setGeometry(QRect(pos, QSize(289, 21)));
    return field;
}

}  // namespace

TSaveFolderDlg::TSaveFolderDlg(QWidget* owner) : QDialog(owner) {
    QWidget* client = SetupDialogForm(this, QStringLiteral("SaveFolderDlg"), QSize(322, 163));
    lblVideoFolder = CreateLabel(client, QStringLiteral("lblVideoFolder"), QPoint(16, 16));
    edtVideoFolder = CreateFolderField(client, "edtVideoFolder", QPoint(16, 32));
    lblPhotoFolder = CreateLabel(client, QStringLiteral("lblPhotoFolder"), QPoint(16, 64));
    edtSnapshotFolder = CreateFolderField(client, "edtSnapshotFolder", QPoint(16, 80));
    btnOK = CreateOkButton(this, QPoint(53, 118));
    connect(btnOK, &QPushButton::clicked, this, &QDialog::accept);
    btnCancel = CreateCancelButton(this, QPoint(165, 118));

    SetTabOrder({edtVideoFolder, edtSnapshotFolder, btnOK, btnCancel});
    edtVideoFolder->setFocus();
    FormCreate();
}

void TSaveFolderDlg::FormCreate() {
    setWindowTitle(UiText("Dialogs", "Réglage du dossier de sauvegarde"));
    SetLabelText(lblVideoFolder, UiText("Dialogs", "Dossier de sauvegarde Video"));
    SetLabelText(lblPhotoFolder, UiText("Dialogs", "Dossier de sauvegarde des Photos"));
    edtVideoFolder->SetLabel(lblVideoFolder);
    edtSnapshotFolder->SetLabel(lblPhotoFolder);
}
