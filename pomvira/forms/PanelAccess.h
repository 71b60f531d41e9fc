// SPDX-License-Identifier: GPL-3.0-or-later
// The control panel for those who use the keyboard or a screen reader.
//
// Keyboard: the panel's buttons take the focus with Tab in the order they
// are seen (record, still picture, edit, mail, settings, the expand arrow,
// then the strip's entries and its two buttons while the strip is open, the
// minimise and close buttons last); Space and Return press the focused
// button (TImageButton). In the strip the arrow keys move the selection
// (paging the strip where the next entry is out of view), Return opens the
// entry as a double-click does, Space selects it as a click does, Delete
// takes it off the strip. Tab in the preview window hands the focus to the
// panel (Shift+Tab: to its close button).
//
// What lies outside the panel is hidden: while the panel is folded the
// strip's controls are hidden, so that neither Tab nor a screen reader
// finds them there.
//
// The focus comes back to the panel's control that opened a menu, a dialog
// or a message box when it closes, and is on the first button at start
// (TPanelFocus).
//
// Screen readers see the strip as a list of four items (FormAccessibility.h)
// and hear what the camera and the recordings do (TSessionAnnouncer).
// Dialogs fit the screen at any scale, the picture's beside the preview
// window (TDialogFit).
#pragma once

#include <QList>
#include <QObject>
#include <QPointer>

class QKeyEvent;
class QWidget;
class TControlForm;
class TPaintBox;
class TSessionAnnouncer;

class TPanelAccess : public QObject {
    Q_OBJECT
  public:
    // Set up on the panel once its controls exist; a child of the panel.
    explicit TPanelAccess(TControlForm* panel);

    // The controls Tab visits, in order, as they stand (hidden ones and
    // empty boxes of the strip left out).
    QList<QWidget*> TabStops() const;
    // The panel's parts as a screen reader lists them: the controls in
    // Tab's order, the strip's boxes standing as one list with its arrows,
    // then the menus and the announcements being made.
    QList<QObject*> AccessibleChildren() const;

  protected:
    bool eventFilter(QObject* watched, QEvent* event) override;

  private:
    QList<QWidget*> Chain() const;
    QList<TPaintBox*> Boxes() const;
    // Shows the strip's controls while the panel is tall enough to show
    // them, hides them otherwise.
    void FollowHeight();
    bool StripKey(TPaintBox* box, QKeyEvent* key);
    // Selects the entry `step` places from the one the box shows.
    void MoveSelection(TPaintBox* box, int step);
    // The focus on the box of the selected entry (the expand arrow when
    // the strip is empty).
    void FocusSelected();
    // The preview window hands Tab to the panel.
    void WatchPreview();
    bool PreviewKey(QKeyEvent* key);

    TControlForm* FPanel;
    QObject* FStripList;
    TSessionAnnouncer* FNews;
    QPointer<QWidget> FPreview;
    bool FPainted = false;
};
