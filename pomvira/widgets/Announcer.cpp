// SPDX-License-Identifier: GPL-3.0-or-later
#include "Announcer.h"

#include <QAccessible>
#include <QAccessibleObject>
#include <QTimer>
#include <QWidget>
#include <QWindow>

#include "Accessibility.h"

namespace {

// How long an announcement stays in the tree after it was said, and how
// many at most (older ones go first).
constexpr int kShownMs = 10000;
constexpr int kMostShown = 5;

class AccessibleAnnouncement : public QAccessibleObject {
  public:
    explicit AccessibleAnnouncement(TAnnouncement* a) : QAccessibleObject(a) {}

    QAccessible::Role role() const override { return QAccessible::Notification; }
    QString text(QAccessible::Text t) const override {
        return t == QAccessible::Name ? Announcement()->Text() : QString();
    }
    void setText(QAccessible::Text, const QString&) override {}
    QAccessible::State state() const override {
        QAccessible::State s;
        s.invisible = !Announcement()->Shown();
        return s;
    }
    QRect rect() const override {
        const QWidget* owner = Announcement()->Owner();
        return owner ? QRect(owner->mapToGlobal(QPoint(0, 0)), owner->size()) : QRect();
    }
    QWindow* window() const override {
        const QWidget* owner = Announcement()->Owner();
        return owner ? owner->window()->windowHandle() : nullptr;
    }
    QAccessibleInterface* parent() const override {
        return QAccessible::queryAccessibleInterface(Announcement()->Owner());
    }
    int childCount() const override { return 0; }
    QAccessibleInterface* child(int) const override { return nullptr; }
    int indexOfChild(const QAccessibleInterface*) const override { return -1; }

  private:
    TAnnouncement* Announcement() const { return static_cast<TAnnouncement*>(object()); }
};

QAccessibleInterface* MakeInterface(const QString& className, QObject* object) {
    if (className == QLatin1String("TAnnouncement"))
        return new AccessibleAnnouncement(static_cast<TAnnouncement*>(object));
    return nullptr;
}

void InstallAnnouncements() {
    static const bool installed = [] {
        QAccessible::installFactory(MakeInterface);
        return true;
    }();
    (void)installed;
}

}  // namespace

TAnnouncement::TAnnouncement(QObject* parent, QWidget* owner, const QString& text)
    : QObject(parent), FOwner(owner), FText(text) {}

void TAnnouncement::SetShown(bool shown) {
    if (FShown == shown)
        return;
    FShown = shown;
    if (!AccessibleNoticesHeard())
        return;
    QAccessibleEvent event(this, shown ? QAccessible::ObjectShow : QAccessible::ObjectHide);
    QAccessible::updateAccessibility(&event);
}

TAnnouncer::TAnnouncer(QWidget* owner) : QObject(owner), FOwner(owner) {
    setObjectName(QStringLiteral("Announcer"));
    InstallAnnouncements();
}

void TAnnouncer::Announce(const QString& text) {
    if (text.isEmpty() || !AccessibleNoticesHeard())
        return;
    const QList<QObject*> shown = Shown();
    for (int i = 0; i <= shown.size() - kMostShown; ++i) {
        static_cast<TAnnouncement*>(shown[i])->SetShown(false);
        delete shown[i];
    }
    auto* a = new TAnnouncement(this, FOwner, text);
    a->SetShown(true);
    QTimer::singleShot(kShownMs, a, [a] {
        a->SetShown(false);
        a->deleteLater();
    });
}

QList<QObject*> TAnnouncer::Shown() const {
    QList<QObject*> shown;
    for (QObject* child : children())
        if (auto* a = qobject_cast<TAnnouncement*>(child); a && a->Shown())
            shown << a;
    return shown;
}
