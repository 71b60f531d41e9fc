// SPDX-License-Identifier: GPL-3.0-or-later
#include "ModalDriver.h"

#include <QApplication>
#include <QTest>
#include <QTimer>
#include <gtest/gtest.h>

namespace {
constexpr int kPollMs = 10;
}

ModalAnswer::ModalAnswer(std::function<bool(QWidget*)> matches,
                         std::function<void(QWidget*)> answer, int timeoutMs)
    : FMatches(std::move(matches)),
      FAnswer(std::move(answer)),
      FTimeoutMs(timeoutMs),
      FTimer(std::make_unique<QTimer>()) {
    FTimer->setInterval(kPollMs);
    QObject::connect(FTimer.get(), &QTimer::timeout, [this] { Poll(); });
    FTimer->start();
}

ModalAnswer::~ModalAnswer() = default;

void ModalAnswer::Poll() {
    QWidget* modal = QApplication::activeModalWidget();
    if (modal && modal->isVisible() && FMatches(modal)) {
        FTimer->stop();
        FAnswered = true;
        FAnswer(modal);
        return;
    }
    FWaitedMs += kPollMs;
    if (FWaitedMs < FTimeoutMs)
        return;
    FTimer->stop();
    ADD_FAILURE() << "the expected modal dialog did not appear"
                  << (modal ? " (another one did: " + modal->objectName().toStdString() + ")"
                            : std::string());
    if (modal)
        modal->close();
}

std::unique_ptr<ModalAnswer> WhenModalNamed(const QString& name,
                                            std::function<void(QWidget*)> answer, int timeoutMs) {
    return std::make_unique<ModalAnswer>([name](QWidget* w) { return w->objectName() == name; },
                                         std::move(answer), timeoutMs);
}

void PressKey(QWidget* w, Qt::Key key) {
    QWidget* target = w->window()->focusWidget();
    QTest::keyClick(target ? target : w, key);
}
