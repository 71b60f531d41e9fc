// SPDX-License-Identifier: GPL-3.0-or-later
#include "Accessibility.h"

#include <QAccessible>
#include <QAccessibleWidget>
#include <QMetaObject>

#include "ActionList.h"
#include "ControlsKit.h"
#include "ImageButton.h"

namespace {

// The action a screen reader triggers: a click, run from the event loop as
// a real click is (a button may open a modal dialog or a menu).
QStringList PressOnly() {
    return {QAccessibleActionInterface::pressAction()};
}

class AccessibleImageButton : public QAccessibleWidget {
  public:
    explicit AccessibleImageButton(TImageButton* button)
        : QAccessibleWidget(button, QAccessible::Button) {}

    QString text(QAccessible::Text t) const override {
        if (t == QAccessible::Name && Button()->accessibleName().isEmpty())
            return Button()->Hint().isEmpty() ? Button()->Caption() : Button()->Hint();
        return QAccessibleWidget::text(t);
    }

    QAccessible::State state() const override {
        QAccessible::State s = QAccessibleWidget::state();
        s.pressed = Button()->Pressed() || Button()->Checked();
        return s;
    }

    QStringList actionNames() const override { return PressOnly(); }

    void doAction(const QString& action) override {
        if (action != QAccessibleActionInterface::pressAction() || !Button()->isEnabled())
            return;
        QPointer<TImageButton> button = Button();
        QMetaObject::invokeMethod(
            button,
            [button] {
                if (button)
                    button->Click();
            },
            Qt::QueuedConnection);
    }

  private:
    TImageButton* Button() const { return static_cast<TImageButton*>(widget()); }
};

// A picture: a button when it can be clicked, a graphic otherwise.
class AccessibleImage : public QAccessibleWidget {
  public:
    explicit AccessibleImage(TImage* image) : QAccessibleWidget(image, QAccessible::Graphic) {}

    QAccessible::Role role() const override {
        return Image()->OnClick ? QAccessible::Button : QAccessible::Graphic;
    }

    QString text(QAccessible::Text t) const override {
        if (t == QAccessible::Name && Image()->accessibleName().isEmpty())
            return Image()->Hint();
        return QAccessibleWidget::text(t);
    }

    QStringList actionNames() const override {
        return Image()->OnClick ? PressOnly() : QStringList();
    }

    void doAction(const QString& action) override {
        if (action != QAccessibleActionInterface::pressAction() || !Image()->OnClick ||
            !Image()->isEnabled())
            return;
        QPointer<TImage> image = Image();
        QMetaObject::invokeMethod(
            image,
            [image] {
                if (image && image->OnClick)
                    image->OnClick(image);
            },
            Qt::QueuedConnection);
    }

  private:
    TImage* Image() const { return static_cast<TImage*>(widget()); }
};

class AccessiblePaintBox : public QAccessibleWidget {
  public:
    explicit AccessiblePaintBox(TPaintBox* box) : QAccessibleWidget(box, QAccessible::Graphic) {}

    QAccessible::Role role() const override { return Box()->AccessibleRole; }

    QAccessible::State state() const override {
        QAccessible::State s = QAccessibleWidget::state();
        s.selectable = Box()->Selectable;
        s.selected = Box()->Selectable && Box()->Selected();
        return s;
    }

  private:
    TPaintBox* Box() const { return static_cast<TPaintBox*>(widget()); }
};

QAccessibleInterface* MakeInterface(const QString& className, QObject* object) {
    if (className == QLatin1String("TImageButton"))
        return new AccessibleImageButton(static_cast<TImageButton*>(object));
    if (className == QLatin1String("TImage"))
        return new AccessibleImage(static_cast<TImage*>(object));
    if (className == QLatin1String("TPaintBox"))
        return new AccessiblePaintBox(static_cast<TPaintBox*>(object));
    return nullptr;
}

}  // namespace

void InstallAccessibleControls() {
    static const bool installed = [] {
        QAccessible::installFactory(MakeInterface);
        return true;
    }();
    (void)installed;
}

void NotifyAccessibleNameChanged(QWidget* control) {
    if (!QAccessible::isActive())
        return;
    QAccessibleEvent event(control, QAccessible::NameChanged);
    QAccessible::updateAccessibility(&event);
}
