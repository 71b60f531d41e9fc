// SPDX-License-Identifier: GPL-3.0-or-later
#include "ActionList.h"

#include <QAbstractEventDispatcher>
#include <QAction>
#include <QCoreApplication>
#include <QMenu>
#include <QThread>

#include "app/Application.h"

TAction::TAction(const QString& name, const QString& caption, QObject* parent)
    : QObject(parent), FCaption(caption) {
    setObjectName(name);
}

TAction::~TAction() = default;

void TAction::SetCaption(const QString& caption) {
    if (FCaption == caption)
        return;
    FCaption = caption;
    SyncMenuAction();
    emit Changed();
}

void TAction::SetHint(const QString& hint) {
    if (FHint == hint)
        return;
    FHint = hint;
    SyncMenuAction();
    emit Changed();
}

void TAction::SetEnabled(bool enabled) {
    if (FEnabled == enabled)
        return;
    FEnabled = enabled;
    SyncMenuAction();
    emit Changed();
}

void TAction::SetChecked(bool checked) {
    if (FChecked == checked)
        return;
    FChecked = checked;
    SyncMenuAction();
    emit Changed();
}

void TAction::SetVisible(bool visible) {
    if (FVisible == visible)
        return;
    FVisible = visible;
    SyncMenuAction();
    emit Changed();
}

bool TAction::Execute() {
    Update();
    if (!FEnabled || !OnExecute)
        return false;
    OnExecute(this);
    return true;
}

bool TAction::Update() {
    if (!OnUpdate)
        return false;
    OnUpdate(this);
    return true;
}

QAction* TAction::MenuAction() {
    if (!FMenuAction) {
        FMenuAction = new QAction(this);
        FMenuAction->setObjectName(objectName());
        connect(FMenuAction, &QAction::triggered, this, [this] {
            // Menu entries run outside any event handler of ours: route a
            // failure to the application's error report like every handler.
            RunHandler([this] { Execute(); });
        });
        SyncMenuAction();
    }
    return FMenuAction;
}

void TAction::SyncMenuAction() {
    if (!FMenuAction)
        return;
    // Menus would take '&' as an accelerator marker; captions are shown as they are.
    QString text = FCaption;
    text.replace(QLatin1Char('&'), QLatin1String("&&"));
    FMenuAction->setText(text);
    FMenuAction->setToolTip(FHint);
    FMenuAction->setEnabled(FEnabled);
    // Only a checked entry shows a check mark; unchecked ones show nothing.
    FMenuAction->setCheckable(FChecked);
    FMenuAction->setChecked(FChecked);
    FMenuAction->setVisible(FVisible);
}

TActionList::TActionList(QObject* parent) : QObject(parent) {
    // The idle hook: whenever the user-interface thread's event loop is about
    // to wait for new events, bring every action up to date.
    if (auto* dispatcher = QAbstractEventDispatcher::instance(thread())) {
        connect(dispatcher, &QAbstractEventDispatcher::aboutToBlock, this,
                [this] { RunHandler([this] { UpdateActions(); }); });
    }
}

TAction* TActionList::Add(const QString& name, const QString& caption) {
    auto* action = new TAction(name, caption, this);
    FActions.emplace_back(action);
    return action;
}

TAction* TActionList::Find(const QString& name) const {
    for (const auto& a : FActions)
        if (a && a->objectName() == name)
            return a;
    return nullptr;
}

void TActionList::UpdateActions() {
    for (const auto& a : FActions)
        if (a)
            a->Update();
}

void BuildActionMenu(QMenu* menu, TActionList* list, const std::vector<TAction*>& items) {
    for (TAction* item : items) {
        if (item)
            menu->addAction(item->MenuAction());
        else
            menu->addSeparator();
    }
    QObject::connect(menu, &QMenu::aboutToShow, menu, [list] {
        if (list)
            RunHandler([list] { list->UpdateActions(); });
    });
}
