// SPDX-License-Identifier: GPL-3.0-or-later
#include <QImage>
#include <QRegion>
#include <gtest/gtest.h>
#include <string>

#include "widgets/ImageRgn.h"
#include "widgets/PanelResources.h"

namespace {

const QRgb kMagenta = qRgb(255, 0, 255);

struct TButtonPictures {
    const char* name;
    QRect place;  // where the button sits on the panel
    bool hasActive;
};

const TButtonPictures kButtons[] = {
    {"capture", QRect(37, 15, 44, 44), true},     {"snapshot", QRect(96, 15, 44, 44), true},
    {"editimg", QRect(155, 15, 44, 44), true},    {"mail", QRect(214, 15, 44, 44), true},
    {"config", QRect(273, 15, 44, 44), true},     {"minimize", QRect(328, 9, 9, 9), false},
    {"close", QRect(339, 9, 9, 9), false},        {"delete", QRect(206, 143, 57, 18), true},
    {"deleteall", QRect(273, 142, 58, 18), true},
};

TEST(PanelResources, SkinIsA24BitPictureCutByMagentaAtItsRoundedOutlineOnly) {
    const QImage skin = PanelPicture("back.png");
    ASSERT_FALSE(skin.isNull());
    EXPECT_EQ(skin.size(), QSize(355, 166));
    EXPECT_FALSE(skin.hasAlphaChannel());  // stored as 24-bit RGB
    int magenta = 0;
    for (int y = 0; y < skin.height(); ++y)
        for (int x = 0; x < skin.width(); ++x)
            if (skin.pixel(x, y) == kMagenta)
                ++magenta;
    EXPECT_EQ(magenta, 1202);
    // Rounded corners: the very corners are cut, the middle of each edge is not.
    for (QPoint corner : {QPoint(0, 0), QPoint(354, 0), QPoint(0, 165), QPoint(354, 165)})
        EXPECT_EQ(skin.pixel(corner), kMagenta) << corner.x() << "," << corner.y();
    for (QPoint edge : {QPoint(177, 0), QPoint(177, 165), QPoint(0, 36), QPoint(354, 120)})
        EXPECT_NE(skin.pixel(edge), kMagenta) << edge.x() << "," << edge.y();

    // Every control of the panel lies wholly inside the window's outline.
    const QRegion outline = BitmapToRegion(skin, 0xFF00FF);
    for (const auto& b : kButtons)
        EXPECT_EQ(outline.intersected(b.place), QRegion(b.place)) << b.name;
    for (QRect hot : {QRect(333, 53, 14, 14), QRect(9, 92, 17, 19), QRect(330, 92, 17, 19),
                      QRect(31, 78, 70, 47), QRect(106, 78, 70, 47), QRect(180, 78, 70, 47),
                      QRect(254, 78, 70, 47), QRect(31, 124, 70, 14), QRect(254, 124, 70, 14)})
        EXPECT_EQ(outline.intersected(hot), QRegion(hot));
}

TEST(PanelResources, ButtonPicturesFitTheirPlacesAndMatchTheSkinAtTheirCorners) {
    const QImage skin = PanelPicture("back.png").convertToFormat(QImage::Format_RGB32);
    for (const auto& b : kButtons) {
        std::vector<std::string> looks = {"up", "down"};
        if (b.hasActive)
            looks.push_back("active");
        for (const auto& look : looks) {
            const QString name = QString("%1_%2.png").arg(b.name, QString::fromStdString(look));
            const QImage img = PanelPicture(name).convertToFormat(QImage::Format_RGB32);
            ASSERT_FALSE(img.isNull()) << name.toStdString();
            EXPECT_EQ(img.size(), b.place.size()) << name.toStdString();
            // Round buttons leave the skin untouched in their corners, so the
            // picture sits on the panel without a visible square.
            if (b.place.width() == 44) {
                EXPECT_EQ(img.pixel(0, 0), skin.pixel(b.place.topLeft())) << name.toStdString();
            }
        }
        // The small buttons have no active look: the button falls back to up.
        if (!b.hasActive) {
            EXPECT_TRUE(PanelPicture(QString(b.name) + "_active.png").isNull());
        }
    }
    const QImage avi = PanelPicture("avi.png");
    EXPECT_EQ(avi.size(), QSize(24, 24));
    EXPECT_EQ(avi.depth(), 8);
}

}  // namespace
