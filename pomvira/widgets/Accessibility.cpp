// SPDX-License-Identifier: GPL-3.0-or-later
#include "Accessibility.h"

#include <QAccessible>
#include <QAccessibleObject>
#include <QAccessibleWidget>
#include <QAbstractItemView>
#include <QComboBox>
#include <QGuiApplication>
#include <QMetaObject>
#include <QWindow>
#include <algorithm>
#include <vector>

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

    QStringList actionNames() const override {
        // Then "SetFocus" for a button that takes the focus.
        return PressOnly() + QAccessibleWidget::actionNames();
    }

    void doAction(const QString& action) override {
        if (action != QAccessibleActionInterface::pressAction()) {
            QAccessibleWidget::doAction(action);
            return;
        }
        // What the user cannot see cannot be pressed (the strip's buttons
        // of a folded panel).
        if (!Button()->isEnabled() || !Button()->isVisible())
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
            !Image()->isEnabled() || !Image()->isVisible())
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

    QAccessibleInterface* parent() const override {
        if (QObject* list = Box()->AccessibleParent)
            return QAccessible::queryAccessibleInterface(list);
        return QAccessibleWidget::parent();
    }

    // A selectable box: "Select" selects it as a click does, the press
    // action acts as a double-click (opens the entry).
    QStringList actionNames() const override {
        QStringList names;
        if (Box()->Selectable)
            names << TPaintBox::SelectAction() << QAccessibleActionInterface::pressAction();
        return names + QAccessibleWidget::actionNames();
    }

    void doAction(const QString& action) override {
        const bool select = action == TPaintBox::SelectAction();
        if (!Box()->Selectable ||
            (!select && action != QAccessibleActionInterface::pressAction())) {
            QAccessibleWidget::doAction(action);
            return;
        }
        if (!Box()->isEnabled() || !Box()->isVisible())
            return;
        QPointer<TPaintBox> box = Box();
        QMetaObject::invokeMethod(
            box,
            [box, select] {
                if (box)
                    box->Press(!select);
            },
            Qt::QueuedConnection);
    }

    QAccessible::State state() const override {
        QAccessible::State s = QAccessibleWidget::state();
        s.selectable = Box()->Selectable;
        s.selected = Box()->Selectable && Box()->Selected();
        return s;
    }

  private:
    TPaintBox* Box() const { return static_cast<TPaintBox*>(widget()); }
};

class AccessibleList : public QAccessibleObject {
  public:
    explicit AccessibleList(TAccessibleList* list) : QAccessibleObject(list) {}

    QAccessible::Role role() const override { return QAccessible::List; }
    QString text(QAccessible::Text t) const override {
        return t == QAccessible::Name ? List()->Name() : QString();
    }
    void setText(QAccessible::Text, const QString&) override {}
    QAccessible::State state() const override {
        QAccessible::State s;
        bool shown = false;
        for (TPaintBox* item : List()->Items())
            shown = shown || item->isVisible();
        s.invisible = !shown;
        return s;
    }
    QRect rect() const override {
        QRect area;
        for (TPaintBox* item : List()->Items())
            area |= QRect(item->mapToGlobal(QPoint(0, 0)), item->size());
        return area;
    }
    QWindow* window() const override {
        QWidget* owner = List()->Owner();
        return owner ? owner->window()->windowHandle() : nullptr;
    }
    QAccessibleInterface* parent() const override {
        return QAccessible::queryAccessibleInterface(List()->Owner());
    }
    int childCount() const override { return int(List()->Items().size()); }
    QAccessibleInterface* child(int index) const override {
        const QList<TPaintBox*> items = List()->Items();
        return index >= 0 && index < items.size()
                   ? QAccessible::queryAccessibleInterface(items[index])
                   : nullptr;
    }
    int indexOfChild(const QAccessibleInterface* child) const override {
        if (!child)
            return -1;
        return int(List()->Items().indexOf(qobject_cast<TPaintBox*>(child->object())));
    }
    QAccessibleInterface* childAt(int x, int y) const override {
        for (TPaintBox* item : List()->Items())
            if (item->isVisible() && QRect(item->mapToGlobal(QPoint(0, 0)), item->size())
                                         .contains(x, y))
                return QAccessible::queryAccessibleInterface(item);
        return nullptr;
    }

  private:
    TAccessibleList* List() const { return static_cast<TAccessibleList*>(object()); }
};

// A drop-down list named by its accessible name or its label, the entry
// shown being its value, as Qt names it on other systems (on Linux Qt names
// it by that entry, so that a camera and its microphone of the same name
// would read alike). Its one child is its list of entries.
class AccessibleComboBox : public QAccessibleWidget {
  public:
    explicit AccessibleComboBox(QComboBox* box) : QAccessibleWidget(box, QAccessible::ComboBox) {}

    QString text(QAccessible::Text t) const override {
        if (t == QAccessible::Value)
            return Box()->currentText();
        const QString text = QAccessibleWidget::text(t);
        return t == QAccessible::Name && text.isEmpty() ? Box()->currentText() : text;
    }
    int childCount() const override { return 1; }
    QAccessibleInterface* child(int index) const override {
        return index == 0 ? QAccessible::queryAccessibleInterface(Box()->view()) : nullptr;
    }
    int indexOfChild(const QAccessibleInterface* child) const override {
        return child && child->object() == Box()->view() ? 0 : -1;
    }
    QAccessible::State state() const override {
        QAccessible::State s = QAccessibleWidget::state();
        s.expandable = true;
        s.expanded = Box()->view()->isVisible();
        return s;
    }
    QStringList actionNames() const override {
        return QStringList{QAccessibleActionInterface::showMenuAction()} +
               QAccessibleWidget::actionNames();
    }
    void doAction(const QString& action) override {
        if (action == QAccessibleActionInterface::showMenuAction())
            Box()->showPopup();
        else
            QAccessibleWidget::doAction(action);
    }

  private:
    QComboBox* Box() const { return static_cast<QComboBox*>(widget()); }
};

QAccessibleInterface* MakeInterface(const QString& className, QObject* object) {
    if (className == QLatin1String("TImageButton"))
        return new AccessibleImageButton(static_cast<TImageButton*>(object));
    if (className == QLatin1String("TImage"))
        return new AccessibleImage(static_cast<TImage*>(object));
    if (className == QLatin1String("TPaintBox"))
        return new AccessiblePaintBox(static_cast<TPaintBox*>(object));
    if (className == QLatin1String("TAccessibleList"))
        return new AccessibleList(static_cast<TAccessibleList*>(object));
    if (className == QLatin1String("QComboBox"))
        return new AccessibleComboBox(static_cast<QComboBox*>(object));
    return nullptr;
}

}  // namespace

TAccessibleList::TAccessibleList(QWidget* owner, const QList<TPaintBox*>& items,
                                 const QString& name)
    : QObject(owner), FOwner(owner), FName(name) {
    InstallAccessibleControls();
    for (TPaintBox* item : items) {
        FItems << item;
        item->AccessibleParent = this;
    }
}

QList<TPaintBox*> TAccessibleList::Items() const {
    QList<TPaintBox*> items;
    for (const QPointer<TPaintBox>& item : FItems)
        if (item)
            items << item.data();
    return items;
}

void InstallAccessibleControls() {
    static const bool installed = [] {
        QAccessible::installFactory(MakeInterface);
        return true;
    }();
    (void)installed;
}

namespace {

bool g_noticesAllowed = false;

// A name or description set before notices could go out.
struct TPendingText {
    QPointer<QWidget> Control;
    bool Description;
    QString Text;
};
std::vector<TPendingText>& Pending() {
    static std::vector<TPendingText> pending;
    return pending;
}

bool NoticesAllowed() {
    // Platforms without a bridge to assistive technology (the offscreen
    // one of the tests) have nothing to wait for.
    if (!g_noticesAllowed) {
        const QString platform = QGuiApplication::platformName();
        g_noticesAllowed = platform == QLatin1String("offscreen") ||
                           platform == QLatin1String("minimal");
    }
    return g_noticesAllowed;
}

void SetText(QWidget* control, bool description, const QString& text) {
    if (!control)
        return;
    if (!NoticesAllowed()) {
        // The last one set is the one given.
        std::vector<TPendingText>& pending = Pending();
        pending.erase(std::remove_if(pending.begin(), pending.end(),
                                     [&](const TPendingText& p) {
                                         return p.Control == control &&
                                                p.Description == description;
                                     }),
                      pending.end());
        pending.push_back({control, description, text});
        return;
    }
    if (description && control->accessibleDescription() != text)
        control->setAccessibleDescription(text);
    else if (!description && control->accessibleName() != text)
        control->setAccessibleName(text);
}

}  // namespace

void AllowAccessibleNotices() {
    if (g_noticesAllowed)
        return;
    g_noticesAllowed = true;
    const std::vector<TPendingText> pending = std::move(Pending());
    Pending().clear();
    for (const TPendingText& p : pending)
        SetText(p.Control, p.Description, p.Text);
}

bool AccessibleNoticesHeard() {
    return NoticesAllowed() && QAccessible::isActive();
}

void SetAccessibleName(QWidget* control, const QString& name) {
    SetText(control, false, name);
}

void SetAccessibleDescription(QWidget* control, const QString& description) {
    SetText(control, true, description);
}

void NotifyAccessibleNameChanged(QWidget* control) {
    if (!AccessibleNoticesHeard())
        return;
    QAccessibleEvent event(control, QAccessible::NameChanged);
    QAccessible::updateAccessibility(&event);
}
