// SPDX-License-Identifier: GPL-3.0-or-later
// The media strip on a real X server: the boxes as they reach the screen (a
// picture's thumbnail in a grey frame, the recording icon centred with the
// skin around it, the placeholder of a deleted picture in the selection's
// blue frame, a white empty box), and a double-click that opens the file
// with the desktop's default application (xdg-open, here a stand-in that
// records its argument).
#include <QDir>
#include <QFile>
#include <QGuiApplication>
#include <QLabel>
#include <QScreen>
#include <QTemporaryDir>
#include <QTest>
#include <cstdlib>
#include <gtest/gtest.h>
#include <memory>

#include "app/Application.h"
#include "widgets/ControlsKit.h"
#include "files/JpegFile.h"
#include "ControlFormTesting.h"
#include "TestFrames.h"
#include "forms/frmControl.h"
#include "forms/frmView.h"
#include "media/fake/FakeMedia.h"

using namespace media;
using namespace media::fake;

namespace {

const QPoint kOrigin(100, 120);
constexpr QRgb kGreen = qRgb(40, 190, 60);
constexpr QRgb kMagenta = qRgb(255, 0, 255);
// The boxes' top-left corners on the panel.
const QPoint kBox[] = {{31, 78}, {106, 78}, {180, 78}, {254, 78}};

QRgb Rgb(QRgb c) {
    return c | 0xFF000000;
}

bool Near(QRgb a, QRgb b, int tolerance = 16) {
    return std::abs(qRed(a) - qRed(b)) <= tolerance &&
           std::abs(qGreen(a) - qGreen(b)) <= tolerance &&
           std::abs(qBlue(a) - qBlue(b)) <= tolerance;
}

class StripX11Test : public ControlFormTestBase {
  protected:
    void SetUp() override {
        if (QGuiApplication::platformName() != "xcb")
            GTEST_SKIP() << "needs an X server";
        ControlFormTestBase::SetUp();
        UseOwnSaveFolders();
        sys.AddVideoDevice("Cam", {VideoFormat(MEDIASUBTYPE_YUY2, 320, 240, 16)});
        form = std::make_unique<TControlForm>();
        ASSERT_TRUE(boxes.empty()) << FirstBox();
        form->ViewForm()->hide();
        form->move(kOrigin);
        form->show();
        ASSERT_TRUE(QTest::qWaitForWindowExposed(form.get()));
        skin = form->imgBack->Picture().convertToFormat(QImage::Format_RGB32);
    }
    void TearDown() override {
        form.reset();
        ControlFormTestBase::TearDown();
    }
    QString File(const char* name) const {
        return SnapFolder() + QLatin1Char('/') + QString::fromLatin1(name);
    }
    // The panel as it is on the screen.
    QImage Shot() {
        QApplication::processEvents();
        QTest::qWait(150);
        return QGuiApplication::primaryScreen()
            ->grabWindow(0, kOrigin.x(), kOrigin.y(), 355, 166)
            .toImage()
            .convertToFormat(QImage::Format_RGB32);
    }

    FakeMediaSystem sys;
    QTemporaryDir dataDir;
    std::unique_ptr<TControlForm> form;
    QImage skin;
};

}  // namespace

TEST_F(StripX11Test, BoxesShowThumbnailIconPlaceholderAndWhiteWithTheirFrames) {
    const TJpegData green = EncodeJpeg(JpegSourceOf(TwoColourBitmap(320, 240, kGreen, kGreen)), 90);
    WriteNewFile(File("img000001.jpg"), green.Data(), green.Size());
    WriteNewFile(File("img000003.jpg"), green.Data(), green.Size());
    form->AddToStrip(File("img000001.jpg"));
    form->AddToStrip(File("video000002.avi"));
    form->AddToStrip(File("img000003.jpg"));
    QFile::remove(File("img000003.jpg"));  // deleted before it was ever shown
    ASSERT_EQ(form->height(), 166);
    // The thumbnails are made off the user-interface thread once painted.
    ASSERT_TRUE(
        QTest::qWaitFor([&] { return form->StripThumbnail(0) && form->StripThumbnail(2); }, 5000));
    const QImage shot = Shot();
    auto at = [&](int box, int x, int y) { return shot.pixel(kBox[box] + QPoint(x, y)); };
    const QRgb grey = Rgb(qRgb(128, 128, 128)), blue = Rgb(qRgb(0, 0, 255));

    // The picture: stretched over the box inside a one-pixel grey frame.
    for (const QPoint& p : {QPoint(0, 23), QPoint(69, 23), QPoint(35, 0), QPoint(35, 46)})
        EXPECT_EQ(at(0, p.x(), p.y()), grey) << p.x() << "," << p.y();
    for (const QPoint& p : {QPoint(1, 1), QPoint(35, 23), QPoint(68, 45)})
        EXPECT_TRUE(Near(at(0, p.x(), p.y()), kGreen)) << p.x() << "," << p.y();

    // The recording: the icon unscaled at (23, 11), its magenta corners
    // and everything around it showing the skin.
    const QImage icon = form->imgAVI->Picture().convertToFormat(QImage::Format_RGB32);
    ASSERT_EQ(Rgb(icon.pixel(0, 23)), Rgb(kMagenta));
    EXPECT_EQ(at(1, 23 + 12, 11 + 12), Rgb(icon.pixel(12, 12)));
    EXPECT_EQ(at(1, 23 + 5, 11 + 12), Rgb(icon.pixel(5, 12)));
    for (const QPoint& p :
         {QPoint(23, 11), QPoint(23 + 23, 11 + 23), QPoint(22, 23), QPoint(10, 5)})
        EXPECT_EQ(at(1, p.x(), p.y()), skin.pixel(kBox[1] + p)) << p.x() << "," << p.y();
    EXPECT_EQ(at(1, 0, 23), grey);
    EXPECT_EQ(form->lblBmp2->text(), "video000002.avi");

    // The deleted picture, selected: the placeholder (light, with a red
    // cross) inside a three-pixel blue frame; no message.
    for (int x = 0; x < 3; ++x) {
        EXPECT_EQ(at(2, x, 23), blue) << x;
        EXPECT_EQ(at(2, 69 - x, 23), blue) << x;
        EXPECT_EQ(at(2, 35, x), blue) << x;
        EXPECT_EQ(at(2, 35, 46 - x), blue) << x;
    }
    EXPECT_EQ(at(2, 3, 23), Rgb(qRgb(236, 236, 236)));
    int red = 0;
    for (int y = 18; y < 29; ++y)
        for (int x = 30; x < 41; ++x)
            red += Near(at(2, x, y), qRgb(200, 30, 30), 30) ? 1 : 0;
    EXPECT_GT(red, 5);
    EXPECT_TRUE(boxes.empty());

    // The empty box: white inside its grey frame, its label hidden.
    EXPECT_EQ(at(3, 35, 23), Rgb(qRgb(255, 255, 255)));
    EXPECT_EQ(at(3, 0, 23), grey);
    EXPECT_TRUE(form->lblBmp3->isVisible());
    EXPECT_FALSE(form->lblBmp4->isVisible());

    // Selecting the first box moves the blue frame there.
    QTest::mouseClick(form->BmpView1, Qt::LeftButton, {}, QPoint(30, 20));
    const QImage after = Shot();
    EXPECT_EQ(after.pixel(kBox[0] + QPoint(2, 23)), blue);
    EXPECT_EQ(after.pixel(kBox[2] + QPoint(0, 23)), grey);
    EXPECT_EQ(after.pixel(kBox[2] + QPoint(2, 23)), Rgb(qRgb(236, 236, 236)));
}

TEST_F(StripX11Test, DoubleClickOpensTheFileWithTheDesktopsDefaultApplication) {
    // xdg-open, the desktop's way to open a file, stands in for the test.
    const QString bin = dataDir.filePath("bin");
    QDir().mkpath(bin);
    const QString record = dataDir.filePath("opened.txt");
    {
        QFile script(bin + "/xdg-open");
        ASSERT_TRUE(script.open(QIODevice::WriteOnly));
        script.write("#!/bin/sh\nprintf '%s\\n' \"$@\" > '" + record.toUtf8() + ".part'\nmv '" +
                     record.toUtf8() + ".part' '" + record.toUtf8() + "'\n");
        script.setPermissions(QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner);
    }
    setenv("PATH", QFile::encodeName(bin + ":" + qEnvironmentVariable("PATH")).constData(), 1);

    form->AddToStrip(File("img000001.jpg"));
    form->AddToStrip(File("img000002.jpg"));
    QTest::mouseDClick(form->BmpView1, Qt::LeftButton, {}, QPoint(30, 20));
    EXPECT_EQ(PanelState(*form).Selected, 0);
    ASSERT_TRUE(QTest::qWaitFor([&] { return QFile::exists(record); }, 10000));
    QFile opened(record);
    ASSERT_TRUE(opened.open(QIODevice::ReadOnly));
    const QString target = QString::fromUtf8(opened.readAll()).trimmed();
    EXPECT_TRUE(target == File("img000001.jpg") || target == "file://" + File("img000001.jpg"))
        << target.toStdString();
}
