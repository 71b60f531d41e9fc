// SPDX-License-Identifier: GPL-3.0-or-later
// The dialog shown after the removal: it reports success and offers a restart.
#pragma once

#include <QDialog>
#include <QPoint>
#include <QRect>

#include "DevPurgePlatform.h"

class QFont;
class QLabel;
class QPushButton;

class CDevPurgeDlg : public QDialog {
    Q_OBJECT

  public:
    enum { IDD = 102, IDC_EXIT = 1000, IDC_REBOOT = 1001 };

    explicit CDevPurgeDlg(IDevPurgePlatform& platform, QWidget* parent = nullptr);

    // The dialog's font, "MS Sans Serif" 8 points (the font system picks its nearest face).
    static QFont DialogFont();

    // Horizontal and vertical dialog base units of a font: the average width of the letters
    // A-Z and a-z, rounded, and the font's height.
    static QPoint DialogBaseUnits(const QFont& font);

    // A rectangle in dialog units converted to pixels: x = du * baseX / 4, y = du * baseY / 8.
    static QRect MapDialogRect(const QRect& dialogUnits, const QPoint& baseUnits);

    QPushButton* ExitButton() const { return m_btnExit; }
    QPushButton* RebootButton() const { return m_btnReboot; }
    QLabel* MessageText() const { return m_txtMessage; }

  private slots:
    void OnExit();
    void OnReboot();

  private:
    IDevPurgePlatform& m_platform;
    QPushButton* m_btnExit;
    QPushButton* m_btnReboot;
    QLabel* m_txtMessage;
};
