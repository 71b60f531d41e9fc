// SPDX-License-Identifier: GPL-3.0-or-later
// The compression dialog: the video compressor and the audio compressor for
// recordings, each from a list that the caller fills, or none ("Non
// disponible"). A ticked box disables its list; OK hands back the two
// chosen indexes.
#pragma once

#include <QDialog>
#include <cstdint>

class QCheckBox;
class QLabel;
class QListWidget;
class QPushButton;

class TCompressDlg : public QDialog {
    Q_OBJECT
  public:
    explicit TCompressDlg(QWidget* owner = nullptr);

    // Components, named as their objectName().
    QListWidget* lstVideoComp;
    QLabel* lblVCFormat;
    QLabel* lblACFormat;
    QListWidget* lstAudioComp;
    QPushButton* btnOK;
    QPushButton* btnCancel;
    QCheckBox* chkNotVComp;
    QCheckBox* chkNotAComp;

    // The results, set when the user confirms: the index of the chosen
    // compressor in its list, -1 for none (box ticked or nothing selected).
    int32_t VideoCompIndex = -1;
    int32_t AudioCompIndex = -1;

    // Event handlers.
    void chkNotVCompClick();
    void chkNotACompClick();
    void btnOKClick();

  protected:
    void showEvent(QShowEvent* event) override;

  private:
    void FormCreate();
    void FormShow();
};
