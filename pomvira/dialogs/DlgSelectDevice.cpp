// SPDX-License-Identifier: GPL-3.0-or-later
#include "DlgSelectDevice.h"

#include <QComboBox>
#include <QFrame>
#include <QLabel>
#include <QPushButton>

#include "DialogKit.h"
#include "files/TextConv.h"
#include "media/MediaUtil.h"

namespace {

QComboBox* CreateDeviceList(QWidget* parent, const char* name, const QPoint& pos) {
    auto* list = new QComboBox(parent);
    list->setObjectName(QString::fromLatin1(name));
    list->setEditable(false);
    list->move(pos);
    list->resize(241, list->sizeHint().height());
    return list;
}

}  // namespace

TSelectDeviceDlg::TSelectDeviceDlg(QWidget* owner) : QDialog(owner) {
    QWidget* client = SetupDialogForm(this, QStringLiteral("SelectDeviceDlg"), QSize(289, 197));
    btnOK = CreateOkButton(this, QPoint(36, 155));
    connect(btnOK, &QPushButton::clicked, this, &QDialog::accept);
    btnCancel = CreateCancelButton(this, QPoint(148, 155));
    Panel1 = new QFrame(client);
    Panel1->setObjectName(QStringLiteral("Panel1"));
    Panel1->setFrameStyle(QFrame::Panel | QFrame::Raised);
    Panel1->setGeometry(8, 8, 273, 129);
    lblVideoDevice = CreateLabel(Panel1, QStringLiteral("lblVideoDevice"), QPoint(16, 16));
    cbVideoDevice = CreateDeviceList(Panel1, "cbVideoDevice", QPoint(16, 32));
    lblAudioDevice = CreateLabel(Panel1, QStringLiteral("lblAudioDevice"), QPoint(16, 72));
    cbAudioDevice = CreateDeviceList(Panel1, "cbAudioDevice", QPoint(16, 88));

    SetTabOrder({btnOK, btnCancel, cbVideoDevice, cbAudioDevice});
    btnOK->setFocus();
    FormCreate();
}

void TSelectDeviceDlg::FormCreate() {
    setWindowTitle(UiText("Dialogs", "Sélection du périphérique"));
    SetLabelText(lblVideoDevice, UiText("Dialogs", "Appareil Vidéo"));
    SetLabelText(lblAudioDevice, UiText("Dialogs", "Appareil Audio"));
    // Each list is named by its label, the device chosen being its value.
    for (QLabel* label : {lblVideoDevice, lblAudioDevice}) {
        auto* list = label == lblVideoDevice ? cbVideoDevice : cbAudioDevice;
        label->setBuddy(list);
        list->setAccessibleName(label->text());
    }
}

QStringList DistinctDeviceNames(const QStringList& names) {
    QStringList shown;
    for (qsizetype i = 0; i < names.size(); ++i) {
        const qsizetype rank = names.mid(0, i + 1).count(names[i]);
        shown << (rank > 1 ? QStringLiteral("%1 (%2)").arg(names[i]).arg(rank) : names[i]);
    }
    return shown;
}

void FillDeviceList(QComboBox* list, const QStringList& names, int32_t index) {
    list->addItems(DistinctDeviceNames(names));
    list->setCurrentIndex(index >= 0 && index < list->count() ? index : -1);
}
