// SPDX-License-Identifier: GPL-3.0-or-later
#include <QAction>
#include <QCoreApplication>
#include <QEventLoop>
#include <QMenu>
#include <QTimer>
#include <gtest/gtest.h>
#include <stdexcept>

#include "widgets/ActionList.h"
#include "app/Application.h"

TEST(ActionList, UpdateHandlersRunWhenTheEventLoopGoesIdle) {
    TActionList list;
    TAction* a = list.Add("actA", "A");
    int updates = 0;
    a->OnUpdate = [&](QObject* sender) {
        EXPECT_EQ(sender, a);
        ++updates;
        a->SetEnabled(false);
    };
    QEventLoop loop;
    QTimer::singleShot(30, &loop, &QEventLoop::quit);
    loop.exec();  // waits, so the loop goes idle at least once
    EXPECT_GT(updates, 0);
    EXPECT_FALSE(a->Enabled());
}

TEST(ActionList, MenuEntryMirrorsTheActionAndExecutesIt) {
    TActionList list;
    TAction* a = list.Add("actUseAudio", "Sound & voice");
    int executed = 0;
    a->OnExecute = [&](QObject*) { ++executed; };
    QMenu menu;
    BuildActionMenu(&menu, &list, {a, nullptr, list.Add("actB", "B")});
    ASSERT_EQ(menu.actions().size(), 3);
    QAction* entry = menu.actions().at(0);
    EXPECT_EQ(entry->text(), "Sound && voice");
    EXPECT_TRUE(menu.actions().at(1)->isSeparator());
    a->SetChecked(true);
    EXPECT_TRUE(entry->isChecked());
    a->SetEnabled(false);
    EXPECT_FALSE(entry->isEnabled());
    a->SetEnabled(true);
    entry->trigger();
    EXPECT_EQ(executed, 1);
    // A disabled action does not run.
    a->SetEnabled(false);
    EXPECT_FALSE(a->Execute());
    EXPECT_EQ(executed, 1);
}

TEST(ActionList, FailureOfAMenuCommandGoesToTheErrorReport) {
    QString shown, caption;
    SetMessageBoxHook([&](const TMessageBoxRequest& r) {
        shown = r.text;
        caption = r.caption;
        return QMessageBox::Ok;
    });
    TActionList list;
    TAction* a = list.Add("actFail", "Fail");
    a->OnExecute = [](QObject*) { throw std::runtime_error("Interface not supported"); };
    a->MenuAction()->trigger();
    SetMessageBoxHook(nullptr);
    EXPECT_EQ(shown, "Interface not supported");
    EXPECT_EQ(caption, "Ombra Viewer");
}
