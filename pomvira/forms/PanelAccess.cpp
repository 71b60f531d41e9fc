// SPDX-License-Identifier: GPL-3.0-or-later
#include "PanelAccess.h"

#include <QKeyEvent>
#include <QLabel>
#include <QMenu>
#include <QTimer>
#include <algorithm>

#include "FormAccessibility.h"
#include "PanelFocus.h"
#include "SessionAnnouncer.h"
#include "capture/MediaStrip.h"
#include "dialogs/DialogFit.h"
#include "files/TextConv.h"
#include "frmControl.h"
#include "frmView.h"
#include "widgets/Accessibility.h"
#include "widgets/Announcer.h"
#include "widgets/ActionList.h"
#include "widgets/ImageButton.h"

TPanelAccess::TPanelAccess(TControlForm* panel) : QObject(panel), FPanel(panel) {
    setObjectName(QStringLiteral("PanelAccess"));
    InstallFormAccessibility();
    // The buttons take the focus from Tab alone: a click leaves the focus
    // where it is, as it always did.
    for (QWidget* w : Chain()) {
        if (qobject_cast<TImageButton*>(w))
            w->setFocusPolicy(Qt::TabFocus);
        w->installEventFilter(this);
    }
    QWidget* previous = nullptr;
    for (QWidget* w : Chain()) {
        if (previous)
            QWidget::setTabOrder(previous, w);
        previous = w;
    }
    FStripList = new TAccessibleList(panel, Boxes(),
                                     UiText("ControlPanel", "Photos et vidéos de la séance"));
    FStripList->setObjectName(QStringLiteral("StripList"));
    panel->installEventFilter(this);
    FollowHeight();
    // What the camera and the recordings do, said as it happens.
    FNews = new TSessionAnnouncer(panel, panel->Session());
    // The focus kept on the panel, and brought back to it.
    new TPanelFocus(panel, this);
    // Dialogs fit the screen, those that adjust the picture beside it.
    new TDialogFit(this, [panel] {
        return panel->ViewForm() && panel->ViewForm()->isVisible() ? panel->ViewForm()->frameGeometry()
                                                                    : QRect();
    });
}

QList<TPaintBox*> TPanelAccess::Boxes() const {
    return {FPanel->BmpView1, FPanel->BmpView2, FPanel->BmpView3, FPanel->BmpView4};
}

QList<QWidget*> TPanelAccess::Chain() const {
    const TControlForm* p = FPanel;
    return {p->btnCapture, p->btnSnapShot, p->btnEditImg,   p->btnMail,     p->btnConfig,
            p->btnExpand,  p->BmpView1,    p->BmpView2,     p->BmpView3,    p->BmpView4,
            p->btnDelete,  p->btnDeleteAll, p->btnMinimize, p->btnClose};
}

QList<QObject*> TPanelAccess::AccessibleChildren() const {
    const QList<TPaintBox*> boxes = Boxes();
    QList<QObject*> children;
    for (QWidget* w : Chain()) {
        if (w == boxes.first())
            children << FStripList << FPanel->imgPrev << FPanel->imgNext;
        else if (std::find(boxes.begin(), boxes.end(), w) == boxes.end())
            children << w;
    }
    children << FPanel->menuConfig << FPanel->menuMail << FNews->Announcer()->Shown();
    children.removeAll(nullptr);
    return children;
}

QList<QWidget*> TPanelAccess::TabStops() const {
    QList<QWidget*> stops;
    for (QWidget* w : Chain())
        if (w->isVisibleTo(FPanel) && w->isEnabled() && (w->focusPolicy() & Qt::TabFocus))
            stops << w;
    return stops;
}

void TPanelAccess::FollowHeight() {
    const bool shown = FPanel->height() > FPanel->BmpView1->y();
    QList<QWidget*> strip{FPanel->imgPrev, FPanel->imgNext, FPanel->btnDelete,
                          FPanel->btnDeleteAll};
    for (TPaintBox* box : Boxes())
        strip << box;
    if (!shown) {
        // The focus leaves with the strip, for the arrow that folded it.
        QWidget* focus = FPanel->focusWidget();
        if (focus && strip.contains(focus))
            FPanel->btnExpand->TakeKeyboardFocus();
        // The captions come back with the entries they name (the panel
        // shows them as it fills the strip).
        strip << FPanel->lblBmp1 << FPanel->lblBmp2 << FPanel->lblBmp3 << FPanel->lblBmp4;
    }
    for (QWidget* w : strip)
        if (w->isHidden() == shown)
            w->setVisible(shown);
    // Once it folds the strip away, the arrow's hint is the minimise
    // button's ("Minimiser"): a screen reader tells them apart by name.
    const QString arrow =
        shown ? UiText("ControlPanel", "Replier", "folds the strip away") : QString();
    SetAccessibleName(FPanel->btnExpand, arrow);
}

void TPanelAccess::WatchPreview() {
    QWidget* view = FPanel->ViewForm();
    if (!view || view == FPreview)
        return;
    FPreview = view;
    view->installEventFilter(this);
}

bool TPanelAccess::eventFilter(QObject* watched, QEvent* event) {
    const QEvent::Type type = event->type();
    if (watched == FPanel) {
        // Once the panel, shown last, is on the screen, the program's own
        // notices may wake the bridge to screen readers.
        if (type == QEvent::Paint && !FPainted) {
            FPainted = true;
            QTimer::singleShot(0, this, [] { AllowAccessibleNotices(); });
        }
        if (type == QEvent::Resize || type == QEvent::Show) {
            FollowHeight();
            WatchPreview();
        }
        // The menus are named for the buttons that open them, in the
        // language the panel now speaks.
        if (type == QEvent::Show) {
            SetAccessibleName(FPanel->menuConfig, FPanel->btnConfig->Hint());
            SetAccessibleName(FPanel->menuMail, FPanel->btnMail->Hint());
        }
        return false;
    }
    if (type != QEvent::KeyPress)
        return false;
    auto* key = static_cast<QKeyEvent*>(event);
    if (watched == FPreview)
        return PreviewKey(key);
    if (auto* box = qobject_cast<TPaintBox*>(watched))
        return StripKey(box, key);
    return false;
}

bool TPanelAccess::PreviewKey(QKeyEvent* key) {
    // The preview window has no control of its own: Tab goes on to the
    // panel, which is where everything is done.
    const bool back = key->key() == Qt::Key_Backtab ||
                      (key->key() == Qt::Key_Tab && (key->modifiers() & Qt::ShiftModifier));
    if (key->key() != Qt::Key_Tab && !back)
        return false;
    const QList<QWidget*> stops = TabStops();
    if (stops.isEmpty())
        return false;
    FPanel->activateWindow();
    QWidget* target = back ? stops.last() : stops.first();
    if (auto* button = qobject_cast<TImageButton*>(target))
        button->TakeKeyboardFocus();
    else
        target->setFocus(Qt::TabFocusReason);
    return true;
}

bool TPanelAccess::StripKey(TPaintBox* box, QKeyEvent* key) {
    switch (key->key()) {
        case Qt::Key_Left:
        case Qt::Key_Up:
            MoveSelection(box, -1);
            return true;
        case Qt::Key_Right:
        case Qt::Key_Down:
            MoveSelection(box, 1);
            return true;
        case Qt::Key_Space:
            box->Press(false);
            return true;
        case Qt::Key_Return:
        case Qt::Key_Enter:
            box->Press(true);
            return true;
        case Qt::Key_Delete:
            box->Press(false);
            FPanel->actBmpDelete->Execute();
            FocusSelected();
            return true;
        default:
            return false;
    }
}

void TPanelAccess::MoveSelection(TPaintBox* box, int step) {
    const TMediaStrip* strip = FPanel->Strip();
    if (!strip)
        return;
    const int firstVisible = strip->FirstVisible();
    const int target = firstVisible + box->Tag + step;
    if (target < 0 || target >= strip->Count())
        return;
    // Paged one entry at a time, as the strip's arrows page it.
    if (target < firstVisible)
        FPanel->actPrevBmp->Execute();
    else if (target >= firstVisible + TMediaStrip::kVisible)
        FPanel->actNextBmp->Execute();
    const int shownAt = target - strip->FirstVisible();
    if (shownAt < 0 || shownAt >= TMediaStrip::kVisible)
        return;
    TPaintBox* next = Boxes()[shownAt];
    next->Press(false);
    next->setFocus(Qt::TabFocusReason);
}

void TPanelAccess::FocusSelected() {
    const TMediaStrip* strip = FPanel->Strip();
    const int selected = strip ? strip->Selected() : -1;
    const int shownAt = strip ? selected - strip->FirstVisible() : -1;
    if (selected >= 0 && shownAt >= 0 && shownAt < TMediaStrip::kVisible)
        Boxes()[shownAt]->setFocus(Qt::TabFocusReason);
    else
        FPanel->btnExpand->TakeKeyboardFocus();
}
