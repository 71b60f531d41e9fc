// SPDX-License-Identifier: GPL-3.0-or-later
#include "Application.h"
#include "Language.h"
#include "files/TextConv.h"

#include <QDirIterator>
#include <QTimer>
#include <QWidget>
#include <cstdio>

const char* const kApplicationTitle = "Ombra Viewer";
const char* const kApplicationId = POMVIRA_APP_ID;

namespace {
TMessageBoxHook g_messageBoxHook;
bool g_terminating = false;
bool g_endedBySignal = false;
}  // namespace

TApplication::TApplication(int& argc, char** argv) : QApplication(argc, argv) {
    setApplicationName(QString::fromLatin1(kApplicationTitle));
    // The texts in the user's language, before any window sets its own.
    InstallLanguage(this);
    // The desktop finds the program's entry (its name in the task bar, its
    // icon at every size) through this id; the icon is also set on the
    // windows themselves, for desktops that take it from there and for a
    // program that is not installed.
    setDesktopFileName(QString::fromLatin1(kApplicationId));
    setWindowIcon(ApplicationIcon());
}

QIcon ApplicationIcon() {
    // Once the application has its icon, every window shares it (its
    // pictures are in memory once).
    if (qobject_cast<TApplication*>(QCoreApplication::instance()) &&
        !QApplication::windowIcon().isNull())
        return QApplication::windowIcon();
    static const bool registered = [] {
        Q_INIT_RESOURCE(appicon);
        return true;
    }();
    (void)registered;
    QIcon icon;
    QDirIterator pictures(QStringLiteral(":/appicon"), QDir::Files);
    while (pictures.hasNext())
        icon.addFile(pictures.next());
    return icon;
}

bool TApplication::notify(QObject* receiver, QEvent* event) {
    bool handled = false;
    RunHandler([&] { handled = QApplication::notify(receiver, event); });
    return handled;
}

bool RunHandler(const std::function<void()>& fn) {
    try {
        fn();
        return true;
    } catch (const std::exception& e) {
        ShowException(e);
    } catch (...) {
        ShowException(UiText("Messages", "Erreur inconnue"));
    }
    return false;
}

void ShowException(const std::exception& e) {
    ShowException(QString::fromUtf8(e.what()));
}

void ShowException(const QString& text) {
    if (g_endedBySignal) {
        std::fprintf(stderr, "%s: %s\n", kApplicationTitle, text.toLocal8Bit().constData());
        std::fflush(stderr);
        return;
    }
    QWidget* owner = QApplication::activeWindow();
    ShowMessageBox(owner, text, QString::fromLatin1(kApplicationTitle), QMessageBox::Critical);
}

void SetMessageBoxHook(TMessageBoxHook hook) {
    g_messageBoxHook = std::move(hook);
}

QMessageBox::StandardButton ShowMessageBox(QWidget* owner, const QString& text,
                                           const QString& caption, QMessageBox::Icon icon,
                                           QMessageBox::StandardButtons buttons) {
    if (g_messageBoxHook)
        return g_messageBoxHook({owner, text, caption, icon, buttons});
    QMessageBox box(icon, caption, text, buttons, owner);
    // The skinned windows stay on top; the box must not hide behind them.
    box.setWindowFlag(Qt::WindowStaysOnTopHint, true);
    return QMessageBox::StandardButton(box.exec());
}

void MinimizeApplication() {
    for (QWidget* w : QApplication::topLevelWidgets())
        if (w->isVisible() && w->isWindow())
            w->showMinimized();
}

bool ApplicationTerminating() {
    return g_terminating;
}

void TerminateApplication() {
    g_terminating = true;
    // Like a posted quit message: the loops end when control returns to
    // them. exit(), not quit(): quit() first asks every window to close, and
    // the preview window refuses to.
    QTimer::singleShot(0, qApp, [] { QCoreApplication::exit(0); });
}

void TerminateApplicationOnSignal() {
    g_endedBySignal = true;
    TerminateApplication();
}
