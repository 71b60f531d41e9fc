// SPDX-License-Identifier: GPL-3.0-or-later
#include "ImageButton.h"

#include <QEnterEvent>
#include <QFocusEvent>
#include <QHelpEvent>
#include <QKeyEvent>
#include <QMouseEvent>
#include <QPainter>
#include <QToolTip>

#include "Accessibility.h"
#include "ActionList.h"

TImageButton::TImageButton(QWidget* parent) : QWidget(parent) {
    InstallAccessibleControls();
    resize(105, 105);
}

TImageButton::~TImageButton() = default;

void TImageButton::SetImageUp(const QImage& image) {
    FImageUp = image;
    // An empty picture leaves the size alone: a 0 x 0 button could never be
    // seen or clicked again.
    if (FAutoSize && !FImageUp.isNull())
        resize(FImageUp.size());
    repaint();
}

void TImageButton::SetImageDown(const QImage& image) {
    FImageDown = image;
}

void TImageButton::SetImageActive(const QImage& image) {
    FImageActive = image;
}

void TImageButton::SetImageDisable(const QImage& image) {
    FImageDisable = image;
}

void TImageButton::SetAutoSize(bool value) {
    FAutoSize = value;
    if (!FImageUp.isNull())
        resize(FImageUp.size());
    repaint();
}

void TImageButton::SetChecked(bool value) {
    if (FChecked == value)
        return;
    FChecked = value;
    repaint();
}

void TImageButton::SetCaption(const QString& caption) {
    FCaption = caption;
    update();
}

void TImageButton::SetHint(const QString& hint) {
    FHint = hint;
    setToolTip(hint);
    // A screen reader reads the hint as the button's name.
    NotifyAccessibleNameChanged(this);
}

void TImageButton::SetAction(TAction* action) {
    if (FAction == action)
        return;
    disconnect(FActionConnection);
    FAction = action;
    if (!action)
        return;
    FActionConnection = connect(action, &TAction::Changed, this, &TImageButton::ActionChanged);
    FActionVisible = !isHidden();
    ActionChanged();
}

void TImageButton::ActionChanged() {
    if (!FAction)
        return;
    setEnabled(FAction->Enabled());
    // The button keeps its own hint unless the action has one: an action
    // without a hint must not wipe the button's ("Image Fixe" stays while
    // the snapshot action is disabled during a recording).
    if (!FAction->Hint().isEmpty() && FAction->Hint() != FHint)
        SetHint(FAction->Hint());
    if (FActionVisible != FAction->Visible()) {
        FActionVisible = FAction->Visible();
        setVisible(FActionVisible);
    }
}

void TImageButton::Click() {
    if (OnClick)
        OnClick(this);
    else if (FAction)
        FAction->Execute();
}

const QImage* TImageButton::PictureOf(TPicture which) const {
    switch (which) {
        case picUp:
            return &FImageUp;
        case picDown:
            return &FImageDown;
        case picActive:
            return &FImageActive;
        case picDisable:
            return &FImageDisable;
        case picNone:
            break;
    }
    return nullptr;
}

TImageButton::TPicture TImageButton::ChoosePicture() const {
    if (!isEnabled() && !FImageDisable.isNull())
        return picDisable;
    if (FChecked && !FImageDown.isNull())
        return picDown;
    switch (FState) {
        case bsUp:
            if (!FImageUp.isNull())
                return picUp;
            break;
        case bsDown:
            // No fall-back to the up picture: what is shown stays.
            if (!FImageDown.isNull())
                return picDown;
            break;
        case bsActive:
            if (!FImageActive.isNull())
                return picActive;
            if (!FImageUp.isNull())
                return picUp;
            break;
    }
    return picNone;
}

void TImageButton::paintEvent(QPaintEvent*) {
    QPainter painter(this);
    TPicture chosen = ChoosePicture();
    if (chosen == picNone)
        chosen = FShown;  // the pixels shown before stay
    const QImage* picture = PictureOf(chosen);
    if (picture && !picture->isNull()) {
        painter.drawImage(rect(), *picture);
        FShown = chosen;
    }
    if (ShowsFocusMark()) {
        // A dotted ring in the blue of the skin's lit buttons: round on the
        // round buttons, the button's outline on the others.
        painter.save();
        painter.setRenderHint(QPainter::Antialiasing, true);
        painter.setPen(QPen(QColor(0x56, 0xA0, 0xF6), 1.5, Qt::DotLine));
        painter.setBrush(Qt::NoBrush);
        const QRectF mark = QRectF(rect()).adjusted(1.5, 1.5, -1.5, -1.5);
        if (width() == height() && width() >= 24)
            painter.drawEllipse(mark.adjusted(2, 2, -2, -2));
        else
            painter.drawRoundedRect(mark, 2, 2);
        painter.restore();
    }
    if (!FCaption.isEmpty()) {
        QRect area = rect();
        if (FState == bsDown)
            area.translate(OffsetX, OffsetY);
        painter.setFont(font());
        painter.setPen(palette().color(foregroundRole()));
        painter.drawText(area, Qt::AlignCenter | Qt::TextSingleLine | Qt::TextShowMnemonic,
                         FCaption);
    }
}

void TImageButton::mousePressEvent(QMouseEvent* event) {
    const QPoint pos = event->position().toPoint();
    if (event->button() == Qt::LeftButton)
        FClickPending = true;
    if (OnMouseDown)
        OnMouseDown(this, event->button(), event->modifiers(), pos.x(), pos.y());
    if (event->button() == Qt::LeftButton && !FPressed) {
        FPressed = true;
        FState = bsDown;
        repaint();
    }
}

void TImageButton::mouseReleaseEvent(QMouseEvent* event) {
    // Qt delivers no mouse events to a disabled widget, so a release on the
    // disabled button never gets here: no look change and no click.
    const QPoint pos = event->position().toPoint();
    if (event->button() == Qt::LeftButton) {
        FPressed = false;
        FState = bsUp;
        repaint();
        if (FClickPending) {
            FClickPending = false;
            if (rect().contains(pos)) {
                QPointer<TImageButton> self(this);
                Click();
                if (!self)
                    return;  // the click handler destroyed the button
            }
        }
    }
    if (OnMouseUp)
        OnMouseUp(this, event->button(), event->modifiers(), pos.x(), pos.y());
}

void TImageButton::mouseDoubleClickEvent(QMouseEvent* event) {
    // The second press of a double click neither presses the button nor
    // makes a click pending; only the mouse-down event is reported.
    const QPoint pos = event->position().toPoint();
    if (OnMouseDown)
        OnMouseDown(this, event->button(), event->modifiers(), pos.x(), pos.y());
}

void TImageButton::mouseMoveEvent(QMouseEvent* event) {
    const QPoint pos = event->position().toPoint();
    // While a button is held the mouse is grabbed and Qt sends no enter or
    // leave events: follow the pointer crossing the button's edge here.
    if (event->buttons() != Qt::NoButton) {
        const bool inside = rect().contains(pos);
        if (inside && !FPointerInside)
            PointerEntered();
        else if (!inside && FPointerInside)
            PointerLeft();
    }
    if (OnMouseMove)
        OnMouseMove(this, event->buttons(), event->modifiers(), pos.x(), pos.y());
}

void TImageButton::enterEvent(QEnterEvent*) {
    if (!FPointerInside)
        PointerEntered();
}

void TImageButton::leaveEvent(QEvent*) {
    if (FPointerInside)
        PointerLeft();
}

void TImageButton::PointerEntered() {
    FPointerInside = true;
    if (!isEnabled())
        return;
    FState = FPressed ? bsDown : bsActive;
    repaint();
    if (OnMouseEnter)
        OnMouseEnter(this);
}

void TImageButton::PointerLeft() {
    FPointerInside = false;
    if (!isEnabled())
        return;
    FState = FPressed ? bsActive : bsUp;
    repaint();
    if (OnMouseLeave)
        OnMouseLeave(this);
}

void TImageButton::changeEvent(QEvent* event) {
    if (event->type() == QEvent::EnabledChange) {
        FState = bsUp;
        update();
    }
    QWidget::changeEvent(event);
}

void TImageButton::keyPressEvent(QKeyEvent* event) {
    switch (event->key()) {
        case Qt::Key_Space:
            if (!event->isAutoRepeat() && !FSpaceDown) {
                FSpaceDown = true;
                FState = bsDown;
                repaint();
            }
            event->accept();
            return;
        case Qt::Key_Return:
        case Qt::Key_Enter:
            if (!event->isAutoRepeat())
                Click();
            event->accept();
            return;
        default:
            QWidget::keyPressEvent(event);
    }
}

void TImageButton::keyReleaseEvent(QKeyEvent* event) {
    if (event->key() != Qt::Key_Space || event->isAutoRepeat() || !FSpaceDown) {
        QWidget::keyReleaseEvent(event);
        return;
    }
    event->accept();
    FSpaceDown = false;
    FState = FPointerInside ? bsActive : bsUp;
    repaint();
    Click();
}

void TImageButton::focusInEvent(QFocusEvent* event) {
    // A window coming back to the front, or a menu closing, keeps the
    // mark as it was; a click never shows it.
    switch (event->reason()) {
        case Qt::ActiveWindowFocusReason:
        case Qt::PopupFocusReason:
            break;
        case Qt::MouseFocusReason:
            FKeyboardFocus = false;
            break;
        default:
            FKeyboardFocus = true;
    }
    update();
    QWidget::focusInEvent(event);
}

void TImageButton::TakeKeyboardFocus() {
    FKeyboardFocus = true;
    setFocus(Qt::TabFocusReason);
    update();
}

void TImageButton::focusOutEvent(QFocusEvent* event) {
    // A Space held while the focus goes is no click.
    if (FSpaceDown) {
        FSpaceDown = false;
        FState = bsUp;
    }
    update();
    QWidget::focusOutEvent(event);
}

bool TImageButton::event(QEvent* event) {
    if (event->type() == QEvent::ToolTip) {
        if (!ShowHint || FHint.isEmpty()) {
            QToolTip::hideText();
            event->ignore();
            return true;
        }
        auto* help = static_cast<QHelpEvent*>(event);
        QToolTip::showText(help->globalPos(), FHint, this);
        return true;
    }
    return QWidget::event(event);
}
