// SPDX-License-Identifier: GPL-3.0-or-later
#include "app/Application.h"

#include <QAbstractButton>
#include <QApplication>
#include <QTimer>
#include <functional>
#include <gtest/gtest.h>
#include <vector>

// The icon is built into the program (a resource of a static library, which
// must be registered by hand) at the sizes windows draw, and no larger.
TEST(ApplicationIconTest, BuiltInAtTheSizesWindowsDraw) {
    const QIcon icon = ApplicationIcon();
    const QList<QSize> sizes = icon.availableSizes();
    for (const int size : {16, 22, 24, 32, 48, 64, 128})
        EXPECT_TRUE(sizes.contains(QSize(size, size))) << size;
    EXPECT_FALSE(sizes.contains(QSize(256, 256)));
    const QImage picture = icon.pixmap(QSize(48, 48)).toImage();
    ASSERT_EQ(picture.size(), QSize(48, 48));
    EXPECT_TRUE(picture.hasAlphaChannel());
    // Transparent corners, an opaque middle.
    EXPECT_EQ(qAlpha(picture.pixel(0, 0)), 0);
    EXPECT_EQ(qAlpha(picture.pixel(24, 24)), 255);
}

// A message box taken away without an answer (hidden by the window system,
// say) gives no button, so that a caller can tell it was never answered;
// the user's answer gives the button pressed.
TEST(ShowMessageBoxTest, ABoxClosedWithoutAnAnswerGivesNoButton) {
    struct TCase {
        const char* what;
        std::function<void(QMessageBox*)> act;
        QMessageBox::StandardButton answer;
    };
    const std::vector<TCase> cases = {
        {"hidden", [](QMessageBox* box) { box->hide(); }, QMessageBox::NoButton},
        {"answered", [](QMessageBox* box) { box->button(QMessageBox::Ok)->click(); },
         QMessageBox::Ok},
        {"closed by its close button", [](QMessageBox* box) { box->close(); }, QMessageBox::Ok},
    };
    for (const TCase& c : cases) {
        SCOPED_TRACE(c.what);
        QTimer::singleShot(50, [&] {
            if (auto* box = qobject_cast<QMessageBox*>(QApplication::activeModalWidget()))
                c.act(box);
        });
        EXPECT_EQ(ShowMessageBox(nullptr, QStringLiteral("text"), QStringLiteral("caption"),
                                 QMessageBox::Warning),
                  c.answer);
    }
}
