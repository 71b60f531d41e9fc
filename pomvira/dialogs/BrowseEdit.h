// SPDX-License-Identifier: GPL-3.0-or-later
// The folder field: a read-only single-line edit with a browse button inside
// its right end. The user cannot type or paste into it; the text changes
// only through the browse button (the system's folder chooser) or the
// program. The whole path is kept and shown, never shortened. From the
// keyboard, Space, Alt+Down and F4 on the field open the chooser, as they
// open a drop-down list (the button is for the mouse and takes no focus);
// Return is left to the dialog, whose default button it presses.
#pragma once

#include <QLineEdit>
#include <functional>

class QLabel;
class QToolButton;

class TBrowseEdit : public QLineEdit {
    Q_OBJECT
  public:
    explicit TBrowseEdit(QWidget* parent = nullptr);

    // The field's text.
    QString Path() const { return text(); }
    // Replaces the text at once; the start of the path is in view.
    void SetPath(const QString& path);

    QToolButton* BrowseButton() const { return FBrowseButton; }
    // What the browse button does: the field takes the focus, the folder
    // chooser opens modal to the field's window, starting at the home folder
    // with nothing selected; a chosen folder becomes the text, cancelling
    // leaves it as it was.
    void Browse();

    // Ties the field to its label: screen readers name the field by it
    // (the path is its text) and its browse button by what it chooses.
    void SetLabel(QLabel* label);

  protected:
    void keyPressEvent(QKeyEvent* event) override;
    void resizeEvent(QResizeEvent* event) override;

  private:
    QToolButton* FBrowseButton;
};

// The folder chooser: returns the chosen folder's full path, or an empty
// text when the user cancels. By default the system's folder dialog (folders
// only); tests install their own.
using TFolderChooser = std::function<QString(QWidget* parent, const QString& startFolder)>;
void SetFolderChooserHook(TFolderChooser hook);
