// SPDX-License-Identifier: GPL-3.0-or-later
// Still pictures on the real GStreamer framework with the built-in test
// camera: pictures taken right after start-up (before or after the first
// frame) are numbered JPEG files that an independent libjpeg reading shows
// as baseline colour pictures of the frame's size, of quality 90, upright.
#include <QDir>
#include <QFile>
#include <gtest/gtest.h>

#include "widgets/ActionList.h"
#include "app/Application.h"
#include "ControlFormTesting.h"
#include "JpegReadBack.h"
#include "TestFrames.h"
#include "forms/frmControl.h"

using namespace media;

namespace {

const auto* const kEnvironment = ::testing::AddGlobalTestEnvironment(new GstTestDevices("1"));

// The share of a row's pixels that lie on a colour bar.
double ColourBarShare(const QImage& image, int y) {
    int bars = 0;
    for (int x = 0; x < image.width(); ++x)
        bars += IsColourBar(image.pixel(x, y)) ? 1 : 0;
    return double(bars) / image.width();
}

}  // namespace

using StillPicturesWithCamera = ControlFormTestBase;

TEST_F(StillPicturesWithCamera, FivePicturesAreUprightQuality90JpegsOfTheFrame) {
    {
        TControlForm form;
        ASSERT_TRUE(boxes.empty()) << FirstBox();
        // At once: the first picture may have to wait for the first frame.
        for (int i = 0; i < 5; ++i)
            RunHandler([&] { form.actSnapShot->Execute(); });
        ASSERT_TRUE(SettleSession(form));
        ASSERT_TRUE(boxes.empty()) << FirstBox();

        const QString folder = PanelState(form).SnapFolder;
        QStringList expected;
        for (int n = 1; n <= 5; ++n)
            expected.append(folder + QStringLiteral("/img00000%1.jpg").arg(n));
        EXPECT_EQ(form.StripFiles(), expected);
        EXPECT_EQ(QDir(folder).entryList(QDir::Files).size(), 5);
        EXPECT_TRUE(PanelState(form).Expanded);
        EXPECT_EQ(PanelState(form).Selected, 4);
        EXPECT_EQ(PanelState(form).FirstVisible, 1);

        const auto quality90 = QualityTables(90);
        for (const QString& path : expected) {
            const TJpegReadBack back = ReadJpegFileBack(path);
            ASSERT_TRUE(back.ok) << path.toStdString() << ": " << back.error.toStdString();
            EXPECT_EQ(back.frameMarker, 0xC0);  // baseline
            EXPECT_EQ(back.components, 3);
            EXPECT_EQ(QSize(back.width, back.height), QSize(640, 480));
            EXPECT_EQ(back.quantTables, quality90);
            // Upright: the colour bars at the top, the darker strips at the
            // bottom.
            EXPECT_GT(ColourBarShare(back.pixels, 10), 0.9) << path.toStdString();
            EXPECT_LT(ColourBarShare(back.pixels, 470), 0.5) << path.toStdString();
        }
    }
}
