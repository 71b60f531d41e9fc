// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <functional>

#include <QByteArray>
#include <QString>
#include <QStringList>

// The three services the install menu takes from its runtime: starting a
// program without waiting, ending the program, and the standard report of a
// run-time error.

// A run-time error: its number and its standard description.
struct RunTimeError {
    int Number;
    QString Description;
};

// Error 53, raised when a program to start cannot be found.
RunTimeError FileNotFoundError();
// Error 5, raised for a bad command line or window style, or a program that
// was found but could not be started.
RunTimeError InvalidCallError();

// Starts a program that has been found, without waiting for it.
class ProgramStarter {
  public:
    virtual ~ProgramStarter() = default;
    // `program` is the file's path as the file system gives it. Returns false
    // when the program could not be started.
    virtual bool Start(const QByteArray& program, const QStringList& arguments) = 0;
};

// The real starter. A file the system can run itself (an executable program or
// script) is started detached. Anything else, such as a Windows program from
// the CD, is handed to the desktop's default opener for its type (with Wine
// installed, that runs it), without its arguments.
class DetachedStarter : public ProgramStarter {
  public:
    using Opener = std::function<bool(const QByteArray& file)>;

    explicit DetachedStarter(Opener opener = DesktopOpen);
    bool Start(const QByteArray& program, const QStringList& arguments) override;

    // Opens `file` with the desktop's default application for it.
    static bool DesktopOpen(const QByteArray& file);

  private:
    Opener opener_;
};

class RunTime {
  public:
    // Shows a run-time error report: the message box's title and text.
    using Reporter = std::function<void(const QString& title, const QString& text)>;
    // Ends the program with the given exit status.
    using Ender = std::function<void(int exitCode)>;

    // The report's title: the program's name, as the runtime shows its
    // project's name.
    static const QString kTitle;

    // `mediumRoot`: the folder that stands for the root of the medium; when
    // empty, the environment variable CORVANE_MEDIUM_ROOT, and when that is
    // unset, the mount point of the current working directory.
    explicit RunTime(ProgramStarter& starter, QByteArray mediumRoot = QByteArray(),
                     Reporter reporter = ShowMessageBox, Ender ender = QuitApplication);

    // Starts the program of `commandLine` without waiting for it. A program
    // path beginning with "\" names a file from the root of the medium, any
    // other from the current directory; "\" and "/" both separate folders.
    // `windowStyle` (0 to 4, or 6) cannot be imposed on a Linux program and
    // is only checked. Throws RunTimeError: 53 when the program is not found,
    // 5 when the line or the style is invalid or the program does not start.
    void Shell(const QString& commandLine, int windowStyle);

    // The standard report of `error`; the caller ends the program after it.
    void Report(const RunTimeError& error);

    // Ends the program at once with `exitCode`.
    void End(int exitCode);

    QByteArray MediumRoot() const;

    // "Run-time error '<number>':", a blank line, and the description.
    static QString ReportText(const RunTimeError& error);

    static void ShowMessageBox(const QString& title, const QString& text);
    static void QuitApplication(int exitCode);

  private:
    ProgramStarter& starter_;
    QByteArray mediumRoot_;
    Reporter reporter_;
    Ender ender_;
};
