// SPDX-License-Identifier: GPL-3.0-or-later
// Small non-windowed controls of the camera program's forms: a picture
// (TImage), a shape that only holds a size (TShape) and a paint box
// (TPaintBox). Like every child widget here they have no native window.
#pragma once

#include <QAccessible>
#include <QImage>
#include <QWidget>
#include <functional>

class TImage : public QWidget {
    Q_OBJECT
  public:
    explicit TImage(QWidget* parent = nullptr);

    const QImage& Picture() const { return FPicture; }
    // Copies the picture; with AutoSize the control takes the picture's size.
    void SetPicture(const QImage& picture);
    bool AutoSize() const { return FAutoSize; }
    void SetAutoSize(bool autoSize);
    // Stretch draws the picture over the whole control; otherwise at its
    // natural size in the top-left corner.
    bool Stretch = false;
    // Transparent drawing: pixels of the picture's bottom-left colour leave
    // what lies beneath as it was (in a translucent window: see-through).
    bool Transparent() const { return FTransparent; }
    void SetTransparent(bool transparent);
    // The tool tip, also the name a screen reader reads for it.
    void SetHint(const QString& hint);
    QString Hint() const { return toolTip(); }
    int Tag = 0;

    std::function<void(QObject* sender)> OnClick;

  protected:
    void paintEvent(QPaintEvent* event) override;
    void mousePressEvent(QMouseEvent* event) override;
    void mouseReleaseEvent(QMouseEvent* event) override;

  private:
    QImage FPicture;
    QImage FDrawn;  // the picture as drawn (transparent pixels with alpha 0)
    bool FTransparent = false;
    bool FAutoSize = false;
    bool FPressed = false;
};

class TShape : public QWidget {
    Q_OBJECT
  public:
    explicit TShape(QWidget* parent = nullptr);

  protected:
    void paintEvent(QPaintEvent* event) override;
};

// The shift state of a mouse press: the keyboard modifiers held and whether
// the press is the second one of a double-click.
struct TShiftState {
    Qt::KeyboardModifiers Keys;
    bool Double = false;
};

class TPaintBox : public QWidget {
    Q_OBJECT
  public:
    explicit TPaintBox(QWidget* parent = nullptr);

    int Tag = 0;
    std::function<void(QObject* sender, QPainter& canvas)> OnPaint;
    // Every press of any button, the second press of a double-click too.
    std::function<void(QObject* sender, Qt::MouseButton button, TShiftState shift, int x, int y)>
        OnMouseDown;

    // What a screen reader is told of the box besides its name (the
    // widget's accessibleName): its role, and for a selectable box whether
    // it is the selected one.
    QAccessible::Role AccessibleRole = QAccessible::Graphic;
    bool Selectable = false;
    bool Selected() const { return FSelected; }
    void SetSelected(bool selected);
    // The object a screen reader sees as the box's parent (a list that
    // groups several boxes); null: its parent widget.
    QObject* AccessibleParent = nullptr;
    // A selectable box offers a screen reader two actions, told as mouse
    // presses: "Select" as a click, the press action as a double-click.
    static QString SelectAction();

    // What a click (secondPress false) or a double-click on the box does,
    // without the mouse: OnMouseDown with the left button at its centre.
    void Press(bool secondPress);

  protected:
    void paintEvent(QPaintEvent* event) override;
    void mousePressEvent(QMouseEvent* event) override;
    void mouseDoubleClickEvent(QMouseEvent* event) override;
    void focusInEvent(QFocusEvent* event) override;
    void focusOutEvent(QFocusEvent* event) override;

  private:
    void MouseDown(QMouseEvent* event, bool secondPress);

    bool FSelected = false;
};
