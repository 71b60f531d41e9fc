// SPDX-License-Identifier: GPL-3.0-or-later
#include "FormAccessibility.h"

#include <QAccessible>
#include <QAccessibleWidget>
#include <QMenu>

#include "PanelAccess.h"
#include "frmControl.h"
#include "frmView.h"
#include "widgets/ActionList.h"
#include "widgets/ImageButton.h"

namespace {

// A window whose children are the objects `Children` names, in order.
class AccessibleFrame : public QAccessibleWidget {
  public:
    explicit AccessibleFrame(QWidget* window) : QAccessibleWidget(window, QAccessible::Window) {}

    int childCount() const override { return int(Children().size()); }
    QAccessibleInterface* child(int index) const override {
        const QList<QObject*> children = Children();
        return index >= 0 && index < children.size()
                   ? QAccessible::queryAccessibleInterface(children[index])
                   : nullptr;
    }
    int indexOfChild(const QAccessibleInterface* child) const override {
        return child ? int(Children().indexOf(child->object())) : -1;
    }
    QAccessibleInterface* childAt(int x, int y) const override {
        // The topmost first: the later children lie above.
        const QList<QObject*> children = Children();
        for (auto it = children.crbegin(); it != children.crend(); ++it) {
            QAccessibleInterface* c = QAccessible::queryAccessibleInterface(*it);
            if (c && c->isValid() && !c->state().invisible && c->rect().contains(x, y))
                return c;
        }
        return nullptr;
    }

  protected:
    virtual QList<QObject*> Children() const = 0;
};

class AccessiblePanel : public AccessibleFrame {
  public:
    explicit AccessiblePanel(TControlForm* panel) : AccessibleFrame(panel) {}

  protected:
    QList<QObject*> Children() const override {
        auto* access =
            widget()->findChild<TPanelAccess*>(QString(), Qt::FindDirectChildrenOnly);
        return access ? access->AccessibleChildren() : QList<QObject*>();
    }
};

class AccessibleView : public AccessibleFrame {
  public:
    explicit AccessibleView(TViewForm* view) : AccessibleFrame(view) {}

  protected:
    QList<QObject*> Children() const override {
        // Every child control but the skin's pictures and the renderer's
        // own window, which the video area stands for.
        auto* view = static_cast<TViewForm*>(widget());
        QWidget* renderer = view->VideoWindow ? view->VideoWindow->VideoHandle() : nullptr;
        QList<QObject*> children;
        for (QObject* o : view->children()) {
            auto* w = qobject_cast<QWidget*>(o);
            if (w && !w->isWindow() && !qobject_cast<TViewImage*>(w) &&
                (w == view->VideoWindow || w != renderer))
                children << w;
        }
        return children;
    }
};

QAccessibleInterface* MakeInterface(const QString& className, QObject* object) {
    if (className == QLatin1String("TControlForm"))
        return new AccessiblePanel(static_cast<TControlForm*>(object));
    if (className == QLatin1String("TViewForm"))
        return new AccessibleView(static_cast<TViewForm*>(object));
    return nullptr;
}

}  // namespace

void InstallFormAccessibility() {
    static const bool installed = [] {
        QAccessible::installFactory(MakeInterface);
        return true;
    }();
    (void)installed;
}
