// SPDX-License-Identifier: GPL-3.0-or-later
#include "ControlsKit.h"

#include <QMouseEvent>
#include <QPainter>

#include "Accessibility.h"
#include "ImageRgn.h"

TImage::TImage(QWidget* parent) : QWidget(parent) {
    InstallAccessibleControls();
}

void TImage::SetHint(const QString& hint) {
    setToolTip(hint);
    NotifyAccessibleNameChanged(this);
}

void TImage::SetPicture(const QImage& picture) {
    FPicture = picture;
    SetTransparent(FTransparent);
    if (FAutoSize && !FPicture.isNull())
        resize(FPicture.size());
    update();
}

void TImage::SetAutoSize(bool autoSize) {
    FAutoSize = autoSize;
    if (FAutoSize && !FPicture.isNull())
        resize(FPicture.size());
}

void TImage::SetTransparent(bool transparent) {
    FTransparent = transparent;
    FDrawn = FTransparent && !FPicture.isNull()
                 ? KeyColorTransparent(FPicture, FPicture.pixel(0, FPicture.height() - 1))
                 : FPicture;
    update();
}

void TImage::paintEvent(QPaintEvent*) {
    if (FDrawn.isNull())
        return;
    QPainter p(this);
    if (Stretch)
        p.drawImage(rect(), FDrawn);
    else
        p.drawImage(0, 0, FDrawn);
}

void TImage::mousePressEvent(QMouseEvent* event) {
    if (event->button() == Qt::LeftButton)
        FPressed = true;
    QWidget::mousePressEvent(event);
}

void TImage::mouseReleaseEvent(QMouseEvent* event) {
    const bool click = FPressed && event->button() == Qt::LeftButton &&
                       rect().contains(event->position().toPoint());
    if (event->button() == Qt::LeftButton)
        FPressed = false;
    QWidget::mouseReleaseEvent(event);
    if (click && OnClick)
        OnClick(this);
}

TShape::TShape(QWidget* parent) : QWidget(parent) {}

void TShape::paintEvent(QPaintEvent*) {
    QPainter p(this);
    p.fillRect(rect(), Qt::white);
    p.setPen(Qt::black);
    p.drawRect(rect().adjusted(0, 0, -1, -1));
}

TPaintBox::TPaintBox(QWidget* parent) : QWidget(parent) {
    InstallAccessibleControls();
}

void TPaintBox::SetSelected(bool selected) {
    if (FSelected == selected)
        return;
    FSelected = selected;
    if (AccessibleNoticesHeard()) {
        QAccessible::State changed;
        changed.selected = true;
        QAccessibleStateChangeEvent event(this, changed);
        QAccessible::updateAccessibility(&event);
    }
}

QString TPaintBox::SelectAction() {
    return QStringLiteral("Select");
}

void TPaintBox::Press(bool secondPress) {
    if (OnMouseDown)
        OnMouseDown(this, Qt::LeftButton, TShiftState{Qt::NoModifier, secondPress}, width() / 2,
                    height() / 2);
}

void TPaintBox::paintEvent(QPaintEvent*) {
    QPainter p(this);
    if (OnPaint) {
        p.save();
        OnPaint(this, p);
        p.restore();
    }
    // The keyboard's place: a dotted ring inside the box's frame, white
    // over black so that it shows on any picture.
    if (hasFocus()) {
        const QRect mark = rect().adjusted(4, 4, -5, -5);
        p.setBrush(Qt::NoBrush);
        p.setPen(QPen(Qt::black, 1));
        p.drawRect(mark);
        p.setPen(QPen(Qt::white, 1, Qt::DotLine));
        p.drawRect(mark);
    }
}

void TPaintBox::focusInEvent(QFocusEvent* event) {
    update();
    QWidget::focusInEvent(event);
}

void TPaintBox::focusOutEvent(QFocusEvent* event) {
    update();
    QWidget::focusOutEvent(event);
}

void TPaintBox::mousePressEvent(QMouseEvent* event) {
    QWidget::mousePressEvent(event);
    MouseDown(event, false);
}

void TPaintBox::mouseDoubleClickEvent(QMouseEvent* event) {
    // Qt reports the second press of a double-click as this event instead
    // of a press.
    event->accept();
    MouseDown(event, true);
}

void TPaintBox::MouseDown(QMouseEvent* event, bool secondPress) {
    if (!OnMouseDown)
        return;
    const QPoint pos = event->position().toPoint();
    OnMouseDown(this, event->button(), TShiftState{event->modifiers(), secondPress}, pos.x(),
                pos.y());
}
