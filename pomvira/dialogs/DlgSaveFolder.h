// SPDX-License-Identifier: GPL-3.0-or-later
// The save-folder dialog: the folder of recordings and the folder of still
// pictures, each in a read-only folder field with a browse button. The
// caller sets both paths and, when the user confirms, takes them back.
#pragma once

#include <QDialog>

class QLabel;
class QPushButton;
class TBrowseEdit;

class TSaveFolderDlg : public QDialog {
    Q_OBJECT
  public:
    explicit TSaveFolderDlg(QWidget* owner = nullptr);

    // Components, named as their objectName().
    QLabel* lblVideoFolder;
    TBrowseEdit* edtVideoFolder;
    QLabel* lblPhotoFolder;
    TBrowseEdit* edtSnapshotFolder;
    QPushButton* btnOK;
    QPushButton* btnCancel;

  private:
    void FormCreate();
};
