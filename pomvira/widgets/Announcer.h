// SPDX-License-Identifier: GPL-3.0-or-later
// Announcements for screen readers: a short text said once, at once,
// wherever the focus is (a recording started, the camera unplugged).
//
// Qt 6.4 offers no announcement event to AT-SPI (object:announcement came
// with Qt 6.8), and none of its event types reaches AT-SPI as one: an
// "alert" event is dropped by its bridge. The nearest it offers is a
// notification: an object of the notification role, named by the text,
// that shows (AT-SPI's object:state-changed:showing), which Orca speaks as
// it speaks the desktop's notifications ("notification, <text>"). Each
// announcement is an object of its own, so that a reader that asks for the
// text later still reads the one it was made with; it hides and goes after
// a while.
#pragma once

#include <QList>
#include <QObject>
#include <QPointer>
#include <QString>

class QWidget;

// One announcement: a notification in its owner's window.
class TAnnouncement : public QObject {
    Q_OBJECT
  public:
    TAnnouncement(QObject* parent, QWidget* owner, const QString& text);
    QString Text() const { return FText; }
    QWidget* Owner() const { return FOwner; }
    bool Shown() const { return FShown; }
    void SetShown(bool shown);

  private:
    QPointer<QWidget> FOwner;
    QString FText;
    bool FShown = false;
};

class TAnnouncer : public QObject {
    Q_OBJECT
  public:
    // The notifications lie in `owner`'s window; a child of it.
    explicit TAnnouncer(QWidget* owner);
    // Says `text` to the screen readers listening now (nobody listening:
    // nothing is made).
    void Announce(const QString& text);
    // The announcements shown now, oldest first.
    QList<QObject*> Shown() const;

  private:
    QWidget* FOwner;
};
