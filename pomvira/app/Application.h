// SPDX-License-Identifier: GPL-3.0-or-later
// The camera program's application object: its title, the default error
// report for failures that leave an event handler, message boxes, and the
// application-wide minimise and terminate requests.
#pragma once

#include <QApplication>
#include <QIcon>
#include <QMessageBox>
#include <QString>
#include <exception>
#include <functional>

// The application's title; also the caption of the control panel and of
// every message box the program shows.
extern const char* const kApplicationTitle;  // "Ombra Viewer"
// The program's desktop id: its desktop entry is kApplicationId + ".desktop",
// and its icon in the icon theme has the same name.
extern const char* const kApplicationId;

// The program's icon built into the program, at the sizes windows draw
// (16 to 128 pixels). The largest picture is only in the installed icon
// theme: the window system is handed every picture of a window's icon as the
// window is made, and a 256-pixel picture made the preview window's creation
// take 12 ms more.
QIcon ApplicationIcon();

class TApplication : public QApplication {
    Q_OBJECT
  public:
    TApplication(int& argc, char** argv);

    // Every event handler runs inside notify(): a failure that leaves a
    // handler is shown by the default error report and the program goes on.
    bool notify(QObject* receiver, QEvent* event) override;
};

// Runs fn; a failure that escapes it goes to the default error report.
// Returns false when fn failed.
bool RunHandler(const std::function<void()>& fn);

// The application's default error report: the failure's text in a message
// box titled with the application title, with the error icon; once a signal
// has asked the program to end, a line "Ombra Viewer: <text>" on standard
// error.
void ShowException(const std::exception& e);
void ShowException(const QString& text);

// Message boxes go through one function so that tests can answer them
// without a window: install a hook that receives the box and returns the
// button "pressed". Without a hook a modal QMessageBox is shown. A box that
// closes without an answer (hidden by the window system, not by the user's
// click, key or close button) gives QMessageBox::NoButton.
struct TMessageBoxRequest {
    QWidget* owner;
    QString text;
    QString caption;
    QMessageBox::Icon icon;
    QMessageBox::StandardButtons buttons;
};
using TMessageBoxHook = std::function<QMessageBox::StandardButton(const TMessageBoxRequest&)>;
void SetMessageBoxHook(TMessageBoxHook hook);
QMessageBox::StandardButton ShowMessageBox(QWidget* owner, const QString& text,
                                           const QString& caption, QMessageBox::Icon icon,
                                           QMessageBox::StandardButtons buttons = QMessageBox::Ok);

// Minimises every top-level window of the application (the control panel
// and the preview window go to the task bar together).
void MinimizeApplication();
// Asks the application to terminate: the event loop ends once control
// returns to it, then the orderly shut-down runs.
void TerminateApplication();
// True once termination was asked for.
bool ApplicationTerminating();
// Asks the application to terminate because a signal (SIGTERM, SIGINT) asked
// the program to end. Nobody may be there to answer a message box then: from
// now on the default error report writes to standard error instead.
void TerminateApplicationOnSignal();
