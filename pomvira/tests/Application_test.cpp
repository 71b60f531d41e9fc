// SPDX-License-Identifier: GPL-3.0-or-later
#include "app/Application.h"

#include <gtest/gtest.h>

// The icon is built into the program (a resource of a static library, which
// must be registered by hand): every drawn size is there.
TEST(ApplicationIconTest, BuiltInAtEveryDrawnSize) {
    const QIcon icon = ApplicationIcon();
    const QList<QSize> sizes = icon.availableSizes();
    for (const int size : {16, 22, 24, 32, 48, 64, 128, 256})
        EXPECT_TRUE(sizes.contains(QSize(size, size))) << size;
    const QImage picture = icon.pixmap(QSize(48, 48)).toImage();
    ASSERT_EQ(picture.size(), QSize(48, 48));
    EXPECT_TRUE(picture.hasAlphaChannel());
    // Transparent corners, an opaque middle.
    EXPECT_EQ(qAlpha(picture.pixel(0, 0)), 0);
    EXPECT_EQ(qAlpha(picture.pixel(24, 24)), 255);
}
