// SPDX-License-Identifier: GPL-3.0-or-later
// Answers modal dialogs in tests. A modal dialog runs its own event loop
// until it is closed, so the test queues its answer before the call that
// opens the dialog; the answer runs inside that loop as soon as a matching
// dialog is the active modal widget.
//
//   auto answer = WhenModal<TCompressDlg>([](TCompressDlg* d) {
//       PressKey(d, Qt::Key_Escape);
//   });
//   form.actCompress->Execute();
//   EXPECT_TRUE(answer->Answered());
#pragma once

#include <QWidget>
#include <functional>
#include <memory>

class QTimer;

class ModalAnswer {
  public:
    // Checks every 10 ms for an active modal widget that `matches`; runs
    // `answer` with it once. When none appears within timeoutMs, the running
    // test fails and whatever modal widget is active is closed, so that the
    // test does not hang.
    ModalAnswer(std::function<bool(QWidget*)> matches, std::function<void(QWidget*)> answer,
                int timeoutMs);
    ~ModalAnswer();  // stops waiting

    bool Answered() const { return FAnswered; }

  private:
    void Poll();

    std::function<bool(QWidget*)> FMatches;
    std::function<void(QWidget*)> FAnswer;
    int FTimeoutMs;
    int FWaitedMs = 0;
    bool FAnswered = false;
    std::unique_ptr<QTimer> FTimer;
};

template <class T>
std::unique_ptr<ModalAnswer> WhenModal(std::function<void(T*)> answer, int timeoutMs = 15000) {
    return std::make_unique<ModalAnswer>(
        [](QWidget* w) { return qobject_cast<T*>(w) != nullptr; },
        [answer](QWidget* w) { answer(qobject_cast<T*>(w)); }, timeoutMs);
}

// The modal widget whose objectName() is `name`.
std::unique_ptr<ModalAnswer> WhenModalNamed(const QString& name,
                                            std::function<void(QWidget*)> answer,
                                            int timeoutMs = 15000);

// Sends a key press and release to the widget that has the focus in the
// window of `w` (or to `w`), as typing would; unhandled keys go up to the
// window.
void PressKey(QWidget* w, Qt::Key key);
