// SPDX-License-Identifier: GPL-3.0-or-later
// The folder field: a read-only single-line edit with a browse button inside
// its right end. The user cannot type or paste into it; the text changes
// only through the browse button (the system's folder chooser) or the
// program. The whole path is kept and shown, never shortened.
#pragma once

#include <QLineEdit>
#include <functional>

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

  protected:
    void resizeEvent(QResizeEvent* event) override;

  private:
    QToolButton* FBrowseButton;
};

// The folder chooser: returns the chosen folder's full path, or an empty
// text when the user cancels. By default the system's folder dialog (folders
// only); tests install their own.
using TFolderChooser = std::function<QString(QWidget* parent, const QString& startFolder)>;
void SetFolderChooserHook(TFolderChooser hook);
