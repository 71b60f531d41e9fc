// SPDX-License-Identifier: GPL-3.0-or-later
// What the camera program's settings dialogs share: their form settings (a
// dialog border with only the close icon, a fixed client size that is not
// scaled, Tahoma 8 pt, centred over the owner, above the always-on-top
// panel) and their two glyph buttons, "Confirmation" and "Annulation".
#pragma once

#include <QPoint>
#include <QSize>
#include <QString>
#include <initializer_list>

class QDialog;
class QLabel;
class QListWidget;
class QPushButton;
class QWidget;

// Applies the shared form settings; `name` becomes the dialog's objectName().
// The dialog's components go on the client area it returns (their places
// are the designed ones): a widget of the client size that fills the dialog
// and scrolls when the dialog has to be made smaller to fit the screen.
QWidget* SetupDialogForm(QDialog* dialog, const QString& name, const QSize& clientSize);
// The client area of a dialog set up so (the dialog itself for another one).
QWidget* DialogClient(QDialog* dialog);

// The OK button "Confirmation" (105 x 25 at pos, check-mark glyph): the
// dialog's default button, so Enter presses it. The caller decides what a
// click does.
QPushButton* CreateOkButton(QDialog* dialog, const QPoint& pos);
// The Cancel button "Annulation" (105 x 25 at pos, cross glyph): a click
// closes the dialog with the Cancel result; Esc and the close icon do the same.
QPushButton* CreateCancelButton(QDialog* dialog, const QPoint& pos);

// Sets the order in which Tab visits the widgets.
void SetTabOrder(std::initializer_list<QWidget*> widgets);

// A label that takes the size of its text, at pos.
QLabel* CreateLabel(QWidget* parent, const QString& name, const QPoint& pos);
// Sets a label's text and fits the label to it.
void SetLabelText(QLabel* label, const QString& text);

// The index of a single-selection list box: the row of its selected item,
// -1 when no item is selected.
int ListItemIndex(const QListWidget* list);
// Selects the row `index`; an index outside the list leaves no item selected.
void SetListItemIndex(QListWidget* list, int index);
