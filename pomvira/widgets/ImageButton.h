// SPDX-License-Identifier: GPL-3.0-or-later
// TImageButton: a push button made of pictures, painted on its parent's
// surface (a child widget without a native window of its own).
//
// It shows one of four pictures according to its state: up, down (while the
// left button is held on it, or permanently while Checked), active (while the
// pointer is over it) and disabled. It can draw a centred one-line caption
// that shifts by (OffsetX, OffsetY) while the button is held, and reports a
// click through OnClick or, without one, by executing its linked action.
//
// From the keyboard: the panel gives it the focus with Tab (a click does
// not take the focus), a focus mark in the skin's blue shows where it is,
// Space presses it (down while held, a click when released) and Return or
// Enter click it at once.
//
// Events are plain std::function members (set them, or leave them empty):
//   OnClick, OnMouseEnter, OnMouseLeave   (sender)
//   OnMouseDown, OnMouseUp                (sender, button, modifiers, x, y)
//   OnMouseMove                           (sender, held buttons, modifiers, x, y)
// Mouse coordinates are the button's client coordinates.
#pragma once

#include <QImage>
#include <QPointer>
#include <QString>
#include <QWidget>
#include <functional>

class TAction;

class TImageButton : public QWidget {
    Q_OBJECT
  public:
    using TNotifyEvent = std::function<void(QObject* sender)>;
    using TMouseEvent = std::function<void(QObject* sender, Qt::MouseButton button,
                                           Qt::KeyboardModifiers shift, int x, int y)>;
    using TMouseMoveEvent = std::function<void(QObject* sender, Qt::MouseButtons buttons,
                                               Qt::KeyboardModifiers shift, int x, int y)>;

    enum TButtonState { bsUp = 0, bsDown = 1, bsActive = 2 };

    // A new button is 105 x 105 with no pictures, AutoSize on, Checked off.
    explicit TImageButton(QWidget* parent = nullptr);
    ~TImageButton() override;

    // Setting a picture copies it. ImageUp also sizes the button to the
    // picture (when AutoSize is on and the picture is not empty) and repaints
    // at once; the other three do not repaint.
    void SetImageUp(const QImage& image);
    const QImage& ImageUp() const { return FImageUp; }
    void SetImageDown(const QImage& image);
    const QImage& ImageDown() const { return FImageDown; }
    void SetImageActive(const QImage& image);
    const QImage& ImageActive() const { return FImageActive; }
    void SetImageDisable(const QImage& image);
    const QImage& ImageDisable() const { return FImageDisable; }

    // Caption shift while the button is held, in pixels (no repaint when changed).
    int OffsetX = 2;
    int OffsetY = 2;

    bool AutoSize() const { return FAutoSize; }
    // Stores the value; sizes the button to ImageUp when it holds a picture
    // (for either value) and repaints at once.
    void SetAutoSize(bool value);

    bool Checked() const { return FChecked; }
    // Shows the down picture permanently; repaints at once when it changes.
    void SetChecked(bool value);

    QString Caption() const { return FCaption; }
    void SetCaption(const QString& caption);

    // The linked action: its enabled state, hint (when it has one; an empty
    // hint leaves the button's own) and visibility reach the button whenever
    // they change, and a click executes it when OnClick is
    // not set. Its caption is not drawn. The link is dropped when the action
    // is destroyed.
    void SetAction(TAction* action);
    TAction* Action() const { return FAction.data(); }

    // The tool tip text, shown while ShowHint is true.
    void SetHint(const QString& hint);
    QString Hint() const { return FHint; }
    bool ShowHint = true;

    int Tag = 0;

    TNotifyEvent OnClick;
    TNotifyEvent OnMouseEnter;  // after the pointer enters the enabled button
    TNotifyEvent OnMouseLeave;  // after the pointer leaves the enabled button
    TMouseEvent OnMouseDown;
    TMouseEvent OnMouseUp;
    TMouseMoveEvent OnMouseMove;

    TButtonState State() const { return FState; }
    bool Pressed() const { return FPressed; }

    // The button's click: OnClick when set, otherwise the linked action.
    void Click();
    // Whether the focus mark is drawn: the button has the focus and it
    // came from the keyboard (not from a click on the window).
    bool ShowsFocusMark() const { return hasFocus() && FKeyboardFocus; }
    // Gives the button the focus as Tab does, also while its window is not
    // active yet (the mark shows once it is).
    void TakeKeyboardFocus();

  protected:
    bool event(QEvent* event) override;
    void paintEvent(QPaintEvent* event) override;
    void mousePressEvent(QMouseEvent* event) override;
    void mouseReleaseEvent(QMouseEvent* event) override;
    void mouseDoubleClickEvent(QMouseEvent* event) override;
    void mouseMoveEvent(QMouseEvent* event) override;
    void enterEvent(QEnterEvent* event) override;
    void leaveEvent(QEvent* event) override;
    void changeEvent(QEvent* event) override;
    void keyPressEvent(QKeyEvent* event) override;
    void keyReleaseEvent(QKeyEvent* event) override;
    void focusInEvent(QFocusEvent* event) override;
    void focusOutEvent(QFocusEvent* event) override;

  private:
    enum TPicture { picNone, picUp, picDown, picActive, picDisable };

    const QImage* PictureOf(TPicture which) const;
    TPicture ChoosePicture() const;
    void PointerEntered();
    void PointerLeft();
    void ActionChanged();

    QImage FImageUp;
    QImage FImageDown;
    QImage FImageActive;
    QImage FImageDisable;
    bool FAutoSize = true;
    bool FChecked = false;
    QString FCaption;
    QString FHint;
    QPointer<TAction> FAction;
    QMetaObject::Connection FActionConnection;
    // The action's visibility last applied: the button follows it when it
    // changes, and may be hidden or shown by its owner meanwhile.
    bool FActionVisible = true;
    // The focus came from the keyboard; Space is held down on the button.
    bool FKeyboardFocus = false;
    bool FSpaceDown = false;

    bool FPressed = false;
    TButtonState FState = bsUp;
    // The left button went down on the enabled button (not as a double
    // click): its release inside the button is a click.
    bool FClickPending = false;
    // Whether the pointer is over the button as far as the enter and leave
    // handling knows; Qt withholds enter and leave events while the mouse is
    // grabbed, so moves while a button is held keep this up to date.
    bool FPointerInside = false;
    // The picture painted last. The button paints over its parent's surface
    // without erasing it first, so when no picture is chosen the one shown
    // before stays.
    TPicture FShown = picNone;
};
