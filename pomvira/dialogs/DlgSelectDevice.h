// SPDX-License-Identifier: GPL-3.0-or-later
// The device dialog: the video input device and the audio input device,
// each chosen from a drop-down list that the caller fills and reads.
#pragma once

#include <QDialog>

class QComboBox;
class QFrame;
class QLabel;
class QPushButton;

class TSelectDeviceDlg : public QDialog {
    Q_OBJECT
  public:
    explicit TSelectDeviceDlg(QWidget* owner = nullptr);

    // Components, named as their objectName().
    QPushButton* btnOK;
    QPushButton* btnCancel;
    QFrame* Panel1;
    QLabel* lblVideoDevice;
    QComboBox* cbVideoDevice;
    QLabel* lblAudioDevice;
    QComboBox* cbAudioDevice;

  private:
    void FormCreate();
};
