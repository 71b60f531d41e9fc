// SPDX-License-Identifier: GPL-3.0-or-later
// The keyboard focus kept on the control panel, where everything is done:
// the preview window has nothing to focus. At start the panel is the active
// window with its first button focused. When a menu, a dialog or a message
// box closes (OK, Escape, OK on an error) the panel is active again and the
// control that opened it has the focus: the settings button after its menu
// and the dialogs of its entries, the mail button after its menu and an
// error of the mail, the strip's entry after the message that nothing opens
// it. A box that comes by itself (the camera went away) gives the focus back
// to the control that had it. One opened from another (the folder chooser
// over its dialog, a dialog after the menu entry that opened it) is part of
// the same round: the focus comes back once the last of them has closed.
#pragma once

#include <QElapsedTimer>
#include <QObject>
#include <QPointer>
#include <QSet>

class QWidget;
class TPanelAccess;
class TControlForm;

class TPanelFocus : public QObject {
    Q_OBJECT
  public:
    // A child of `access`, whose Tab stops the focus goes back to.
    TPanelFocus(TControlForm* panel, TPanelAccess* access);
    ~TPanelFocus() override;

  protected:
    bool eventFilter(QObject* watched, QEvent* event) override;

  private:
    // The panel active, `control` (or, where it cannot take the focus now,
    // the first Tab stop) focused; its focus mark shown when the keyboard
    // used it.
    void FocusPanel(QWidget* control, bool byKeyboard);
    void Opened(QObject* window);
    void Closed(QObject* window);
    void ComeBack();
    bool IsPanelControl(QObject* object) const;

    TControlForm* FPanel;
    TPanelAccess* FAccess;
    // The menus, dialogs and message boxes open now.
    QSet<QObject*> FOpen;
    // The control that opened them, and whether by the keyboard.
    QPointer<QWidget> FOpener;
    bool FOpenerByKeyboard = false;
    // The panel's control last used, by which means, and when.
    QPointer<QWidget> FUsed;
    bool FUsedByKeyboard = false;
    QElapsedTimer FUsedAt;
    bool FComing = false;  // a return to the panel is queued
    bool FStarted = false;
};
