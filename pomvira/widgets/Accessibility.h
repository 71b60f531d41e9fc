// SPDX-License-Identifier: GPL-3.0-or-later
// What assistive technology (screen readers over AT-SPI) is told about the
// program's painted controls, which Qt alone would present as bare panes:
// an image button is a push button named by its hint (or caption), a picture
// that can be clicked is a button named by its hint, and a paint box says the
// role, name and selection its owner gives it, and a group of paint boxes
// is a list. A drop-down list is named by its accessible name or label, as
// Qt names it elsewhere than on Linux (there, by the entry it shows).
#pragma once

#include <QList>
#include <QObject>
#include <QPointer>
#include <QString>

class QWidget;
class TPaintBox;

// A list that groups paint boxes for a screen reader (the boxes are its
// items: set their AccessibleParent to it). It has no widget of its own:
// it lies where its boxes lie, and is hidden while they are.
class TAccessibleList : public QObject {
    Q_OBJECT
  public:
    TAccessibleList(QWidget* owner, const QList<TPaintBox*>& items, const QString& name);
    QWidget* Owner() const { return FOwner; }
    QList<TPaintBox*> Items() const;
    QString Name() const { return FName; }

  private:
    QWidget* FOwner;
    QList<QPointer<TPaintBox>> FItems;
    QString FName;
};

// Registers the interfaces with Qt's accessibility, once per process; the
// controls' constructors call it.
void InstallAccessibleControls();

// Whether the program's own notices (a name changed, a selection, an
// announcement) are to be sent to assistive technology now: once the
// program's windows are shown, and while any is listening. Qt's bridge to
// it connects to the session bus the first time it is asked whether anyone
// listens, and waits for the bus; a session bus that does not answer must
// not keep the windows from showing, so nothing asks before they are.
bool AccessibleNoticesHeard();
// The program's windows are shown: notices may go out from now on, and the
// names and descriptions set meanwhile are given to their controls.
void AllowAccessibleNotices();
// Sets a control's accessible name or description: at once where notices
// may go out, else once they may (no screen reader can read it before).
void SetAccessibleName(QWidget* control, const QString& name);
void SetAccessibleDescription(QWidget* control, const QString& description);

// Tells assistive technology that a control's name changed (a new hint),
// when any is listening.
void NotifyAccessibleNameChanged(QWidget* control);
