// SPDX-License-Identifier: GPL-3.0-or-later
#include "widgets/ImageRgn.h"

#include <QRandomGenerator>
#include <gtest/gtest.h>

namespace {

constexpr uint32_t kMagenta = 0xFF00FF;  // 0x00BBGGRR
const QRgb kMagentaRgb = qRgb(255, 0, 255);

// The region built the plain way: one rectangle per run, united one by one.
QRegion ReferenceRegion(const QImage& image, QRgb transparent) {
    QRegion region;
    for (int y = 0; y < image.height(); ++y) {
        int x = 0;
        while (x < image.width()) {
            while (x < image.width() &&
                   (image.pixel(x, y) & 0xFFFFFF) == (transparent & 0xFFFFFF)) {
                ++x;
            }
            if (x == image.width()) {
                break;
            }
            const int start = x;
            while (x < image.width() &&
                   (image.pixel(x, y) & 0xFFFFFF) != (transparent & 0xFFFFFF)) {
                ++x;
            }
            region = region.united(QRect(start, y, x - start, 1));
        }
    }
    return region;
}

// Whether two regions cover exactly the same pixels (regions built in a
// different order may split the same area into different rectangles).
::testing::AssertionResult SameArea(const QRegion& a, const QRegion& b) {
    if (a.xored(b).isEmpty()) {
        return ::testing::AssertionSuccess();
    }
    return ::testing::AssertionFailure()
           << "regions differ; bounding rects " << a.boundingRect().x() << ","
           << a.boundingRect().y() << " " << a.boundingRect().width() << "x"
           << a.boundingRect().height() << " vs " << b.boundingRect().x() << ","
           << b.boundingRect().y() << " " << b.boundingRect().width() << "x"
           << b.boundingRect().height();
}

QImage RandomPicture(int width, int height, quint32 seed, int transparentPercent) {
    QRandomGenerator rng(seed);
    QImage image(width, height, QImage::Format_RGB888);
    const QRgb others[] = {qRgb(255, 255, 255), qRgb(0, 0, 0), qRgb(254, 0, 255),
                           qRgb(10, 200, 30)};
    for (int y = 0; y < height; ++y) {
        // Some rows repeat the row above so that runs line up vertically.
        if (y > 0 && rng.bounded(3) == 0) {
            for (int x = 0; x < width; ++x) {
                image.setPixel(x, y, image.pixel(x, y - 1));
            }
            continue;
        }
        for (int x = 0; x < width; ++x) {
            const bool transparent = int(rng.bounded(100)) < transparentPercent;
            image.setPixel(x, y, transparent ? kMagentaRgb : others[rng.bounded(4)]);
        }
    }
    return image;
}

}  // namespace

TEST(BitmapToRegionTest, SingleOpaquePixelBetweenTransparentOnes) {
    QImage image(3, 1, QImage::Format_RGB888);
    image.setPixel(0, 0, kMagentaRgb);
    image.setPixel(1, 0, qRgb(255, 255, 255));
    image.setPixel(2, 0, kMagentaRgb);
    const QRegion region = BitmapToRegion(image, kMagenta);
    EXPECT_EQ(region, QRegion(QRect(QPoint(1, 0), QPoint(1, 0))));  // (1,0)-(2,1) exclusive
    EXPECT_EQ(region.rectCount(), 1);
    EXPECT_EQ(region.boundingRect(), QRect(1, 0, 1, 1));
}

TEST(BitmapToRegionTest, FullRowsEmptyRowsAndNoRegion) {
    QImage image(4, 3, QImage::Format_RGB888);
    image.fill(kMagentaRgb);
    EXPECT_TRUE(BitmapToRegion(image, kMagenta).isEmpty());  // fully transparent

    for (int x = 0; x < 4; ++x) {
        image.setPixel(x, 0, qRgb(1, 2, 3));
        image.setPixel(x, 2, qRgb(1, 2, 3));
    }
    const QRegion region = BitmapToRegion(image, kMagenta);
    EXPECT_EQ(region, QRegion(QRect(0, 0, 4, 1)).united(QRect(0, 2, 4, 1)));
    EXPECT_FALSE(region.contains(QPoint(0, 1)));

    EXPECT_TRUE(BitmapToRegion(QImage(), kMagenta).isEmpty());
    EXPECT_TRUE(BitmapToRegion(QImage(0, 5, QImage::Format_RGB888), kMagenta).isEmpty());
}

TEST(BitmapToRegionTest, ColourValueIsBlueGreenRed) {
    // 0x0000FF is pure red in the 0x00BBGGRR convention.
    QImage image(2, 1, QImage::Format_RGB888);
    image.setPixel(0, 0, qRgb(255, 0, 0));
    image.setPixel(1, 0, qRgb(0, 0, 255));
    EXPECT_EQ(BitmapToRegion(image, 0x0000FF), QRegion(1, 0, 1, 1));
    EXPECT_EQ(BitmapToRegion(image.convertToFormat(QImage::Format_BGR888), 0x0000FF),
              QRegion(1, 0, 1, 1));
}

TEST(BitmapToRegionTest, SameAsOneByOneUnionOfRuns) {
    const int sizes[][2] = {{1, 1}, {7, 5}, {33, 17}, {64, 40}};
    quint32 seed = 1;
    for (const auto& size : sizes) {
        for (int percent : {0, 30, 70, 100}) {
            const QImage image = RandomPicture(size[0], size[1], seed++, percent);
            const QRegion region = BitmapToRegion(image, kMagenta);
            EXPECT_TRUE(SameArea(region, ReferenceRegion(image, kMagentaRgb)))
                << size[0] << "x" << size[1] << " " << percent << "%";
            // Rows with identical runs are merged into taller rectangles.
            EXPECT_LE(region.rectCount(), ReferenceRegion(image, kMagentaRgb).rectCount());
        }
    }
}

TEST(BitmapToRegionTest, OtherPixelFormatsGiveTheSameRegionAs24Bit) {
    const QImage picture = RandomPicture(37, 23, 99, 40);
    const QRegion expected = BitmapToRegion(picture, kMagenta);
    ASSERT_FALSE(expected.isEmpty());
    const QImage::Format formats[] = {
        QImage::Format_RGB32,    QImage::Format_ARGB32, QImage::Format_ARGB32_Premultiplied,
        QImage::Format_RGBA8888,
        QImage::Format_RGB16,  // magenta and white survive 5-6-5
        QImage::Format_Indexed8};
    for (QImage::Format format : formats) {
        QImage converted = picture.convertToFormat(format);
        if (format == QImage::Format_RGB16) {
            // Colours that 16 bits cannot hold are compared with their 24-bit copy.
            const QImage copy = converted.convertToFormat(QImage::Format_RGB888);
            EXPECT_TRUE(
                SameArea(BitmapToRegion(converted, kMagenta), BitmapToRegion(copy, kMagenta)));
            continue;
        }
        EXPECT_TRUE(SameArea(BitmapToRegion(converted, kMagenta), expected))
            << "format " << int(format);
    }

    // A one-bit picture: its colour table decides which bit is magenta.
    QImage mono(10, 2, QImage::Format_MonoLSB);
    mono.setColorCount(2);
    mono.setColor(0, kMagentaRgb);
    mono.setColor(1, qRgb(0, 0, 0));
    mono.fill(0);
    mono.setPixel(3, 0, 1);
    mono.setPixel(4, 0, 1);
    mono.setPixel(9, 1, 1);
    EXPECT_EQ(BitmapToRegion(mono, kMagenta),
              BitmapToRegion(mono.convertToFormat(QImage::Format_RGB888), kMagenta));
    EXPECT_EQ(BitmapToRegion(mono, kMagenta), QRegion(3, 0, 2, 1).united(QRect(9, 1, 1, 1)));
}
