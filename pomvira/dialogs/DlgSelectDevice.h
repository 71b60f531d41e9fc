// SPDX-License-Identifier: GPL-3.0-or-later
// The device dialog: the video input device and the audio input device,
// each chosen from a drop-down list that the caller fills and reads.
#pragma once

#include <QDialog>
#include <QStringList>
#include <cstdint>

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

// The names of devices as a list shows them: a name that an earlier device
// already has gets its rank among the devices of that name ("Peer Camera",
// "Peer Camera (2)"), so that equal devices can be told apart. The devices
// themselves are still told by their places in the list.
QStringList DistinctDeviceNames(const QStringList& names);

// Fills a device list with the names of the devices of one kind, in
// enumeration order, named apart, and selects `index` (none when it is -1 or
// beyond).
void FillDeviceList(QComboBox* list, const QStringList& names, int32_t index);
