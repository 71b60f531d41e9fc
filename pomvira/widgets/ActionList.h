// SPDX-License-Identifier: GPL-3.0-or-later
// Actions: named user commands with a caption, a hint and enabled, checked
// and visible states, an execute handler and an update handler. Controls and
// menu items linked to an action follow its states and execute it when
// clicked. Update handlers run whenever the event loop goes idle and before a
// menu pops up, so an action's state always reflects the program's state when
// the user can see it.
#pragma once

#include <QObject>
#include <QPointer>
#include <QString>
#include <functional>
#include <vector>

class QAction;
class QMenu;

class TAction : public QObject {
    Q_OBJECT
  public:
    using THandler = std::function<void(QObject* sender)>;

    TAction(const QString& name, const QString& caption, QObject* parent = nullptr);
    ~TAction() override;

    QString Caption() const { return FCaption; }
    void SetCaption(const QString& caption);
    QString Hint() const { return FHint; }
    void SetHint(const QString& hint);
    bool Enabled() const { return FEnabled; }
    void SetEnabled(bool enabled);
    bool Checked() const { return FChecked; }
    void SetChecked(bool checked);
    bool Visible() const { return FVisible; }
    void SetVisible(bool visible);
    int Tag = 0;

    THandler OnExecute;
    THandler OnUpdate;

    // Runs the execute handler (when the action is enabled and has one);
    // true when a handler ran. Exceptions reach the caller.
    bool Execute();
    // Runs the update handler; true when there is one.
    bool Update();

    // A menu entry that mirrors this action (caption, enabled, checked,
    // visible) and executes it when chosen. Owned by the action.
    QAction* MenuAction();

  signals:
    void Changed();

  private:
    void SyncMenuAction();

    QString FCaption;
    QString FHint;
    bool FEnabled = true;
    bool FChecked = false;
    bool FVisible = true;
    QAction* FMenuAction = nullptr;
};

class TActionList : public QObject {
    Q_OBJECT
  public:
    explicit TActionList(QObject* parent = nullptr);

    TAction* Add(const QString& name, const QString& caption);
    const std::vector<QPointer<TAction>>& Actions() const { return FActions; }
    TAction* Find(const QString& name) const;

    // Runs every update handler (what the idle hook does).
    void UpdateActions();

  private:
    std::vector<QPointer<TAction>> FActions;
};

// Fills a popup menu from actions; a null entry is a separator. Accelerator
// letters are not added automatically. The menu updates the actions before
// it shows.
void BuildActionMenu(QMenu* menu, TActionList* list, const std::vector<TAction*>& items);
