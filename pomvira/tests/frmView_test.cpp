// SPDX-License-Identifier: GPL-3.0-or-later
// The preview window on the offscreen platform: layout, outline, hit test,
// moving, closing and the state label.
#include <gtest/gtest.h>

#include <QApplication>
#include <QDir>
#include <QFontDatabase>
#include <QFontInfo>
#include <QFile>
#include <QGuiApplication>
#include <QMouseEvent>
#include <QPointer>
#include <QScreen>

#include "widgets/FormFonts.h"
#include "forms/frmView.h"
#include "media/FilterGraph.h"
#include "media/fake/FakeMedia.h"
#include "ScreenAndMouse.h"

namespace {

using testing_screen::SendMouse;

QImage Solid(int w, int h, QRgb color) {
    QImage img(w, h, QImage::Format_RGB888);
    img.fill(QColor::fromRgb(color));
    return img;
}

// Where the preview window may cover the screen: its work area.
QRect Screen() {
    return QGuiApplication::primaryScreen()->availableGeometry();
}

class ViewFormTest : public ::testing::Test {
  protected:
    void SetUp() override {
        form.move(200, 150);
        ASSERT_FALSE(form.SetVideoSize(320, 240));
    }
    TViewForm form;
};

TEST(ViewSkin, PiecesAre24BitPicturesOfTheFrameSizes) {
    struct {
        const char* name;
        int w, h;
    } pieces[] = {{"imgLT", 19, 37},     {"imgTitle", 142, 37},  {"imgT", 178, 37},
                  {"imgRT", 17, 37},     {"imgLeft", 19, 240},   {"imgLB", 19, 19},
                  {"imgRight", 17, 240}, {"imgBottom", 320, 19}, {"imgRB", 17, 19}};
    for (const auto& piece : pieces) {
        QFile file(QStringLiteral(":/view/%1.bmp").arg(piece.name));
        ASSERT_TRUE(file.open(QIODevice::ReadOnly)) << piece.name;
        const QByteArray bytes = file.readAll();
        ASSERT_GT(bytes.size(), 54) << piece.name;
        EXPECT_EQ(bytes.left(2), QByteArray("BM")) << piece.name;
        EXPECT_EQ(uchar(bytes[28]) | uchar(bytes[29]) << 8, 24) << piece.name;
        const QImage img(QStringLiteral(":/view/%1.bmp").arg(piece.name));
        EXPECT_EQ(img.size(), QSize(piece.w, piece.h)) << piece.name;
    }
    EXPECT_EQ(QImage(":/view/Image1.jpg").size(), QSize(38, 15));
}

TEST(ViewFormCreate, ComponentsAndWindowSettings) {
    TViewForm form;
    EXPECT_EQ(form.objectName(), "ViewForm");
    // The program's task bar entry.
    EXPECT_EQ(form.windowTitle(), "Ombra Viewer");
    EXPECT_FALSE(form.windowIcon().isNull());
    EXPECT_TRUE(form.isWindow());
    EXPECT_TRUE(form.windowFlags() & Qt::FramelessWindowHint);
    EXPECT_TRUE(form.testAttribute(Qt::WA_NoSystemBackground));
    EXPECT_TRUE(form.testAttribute(Qt::WA_TranslucentBackground));
    for (const char* name : {"imgLT", "imgTitle", "imgT", "imgRT", "imgLeft", "imgLB", "imgRight",
                             "imgBottom", "imgRB"}) {
        auto* image = form.findChild<TViewImage*>(name);
        ASSERT_NE(image, nullptr) << name;
        EXPECT_TRUE(image->isHidden()) << name;
    }
    EXPECT_EQ(form.findChild<QWidget*>("VideoWindow"), form.VideoWindow);
    EXPECT_EQ(form.findChild<QLabel*>("lblSize")->text(), "320 x 240");
    EXPECT_EQ(form.findChild<QLabel*>("lblStatus")->text(), "( Preview )");
    EXPECT_EQ(form.findChild<TViewImage*>("Image1")->size(), QSize(38, 15));
    EXPECT_FALSE(form.Image1->isHidden());
    EXPECT_FALSE(form.Label1->text().isEmpty());
    // Transparency of the corners: imgLB magenta, imgLT and imgRB their
    // bottom-left pixel; the edges are opaque.
    EXPECT_TRUE(form.imgLB->Transparent());
    EXPECT_EQ(form.imgLB->TransparentColor(), 0xFF00FFu);
    EXPECT_TRUE(form.imgLT->Transparent());
    EXPECT_TRUE(form.imgRB->Transparent());
    EXPECT_FALSE(form.imgT->Transparent());
    EXPECT_FALSE(form.imgTitle->Transparent());
    EXPECT_TRUE(form.Region().isEmpty());
}

TEST_F(ViewFormTest, SizesTheWindowAroundTheVideo) {
    EXPECT_EQ(form.size(), QSize(356, 296));
    EXPECT_EQ(form.pos(), QPoint(200 - 19, 150 - 37));
    EXPECT_EQ(form.lblSize->text(), "320 x 240");
    EXPECT_EQ(form.GetVideoRect(), QRect(19, 37, 320, 240));
    EXPECT_EQ(form.VideoWindow->geometry(), QRect(19, 37, 320, 240));
    // The frame pieces keep the bounds of the layout just drawn.
    EXPECT_EQ(form.imgLT->geometry(), QRect(0, 0, 19, 37));
    EXPECT_EQ(form.imgTitle->geometry(), QRect(19, 0, 142, 37));
    EXPECT_EQ(form.imgT->geometry(), QRect(161, 0, 178, 37));
    EXPECT_EQ(form.imgRT->geometry(), QRect(339, 0, 17, 37));
    EXPECT_EQ(form.imgLeft->geometry(), QRect(0, 37, 19, 240));
    EXPECT_EQ(form.imgRight->geometry(), QRect(339, 37, 17, 240));
    EXPECT_EQ(form.imgLB->geometry(), QRect(0, 277, 19, 19));
    EXPECT_EQ(form.imgBottom->geometry(), QRect(19, 277, 320, 19));
    EXPECT_EQ(form.imgRB->geometry(), QRect(339, 277, 17, 19));
    // Anchored components.
    EXPECT_EQ(form.Image1->geometry(), QRect(356 - 16 - 38, 296 - 15, 38, 15));
    EXPECT_EQ(form.Label1->x(), 19);
    EXPECT_EQ(form.Label1->geometry().bottom() + 1, 296 - 2);

    // A larger video stretches the edges.
    EXPECT_FALSE(form.SetVideoSize(640, 480));
    EXPECT_EQ(form.size(), QSize(676, 536));
    EXPECT_EQ(form.lblSize->text(), "640 x 480");
    EXPECT_EQ(form.imgT->geometry(), QRect(161, 0, 676 - 161 - 17, 37));
    EXPECT_EQ(form.imgLeft->geometry(), QRect(0, 37, 19, 480));
    EXPECT_EQ(form.VideoWindow->geometry(), QRect(19, 37, 640, 480));
}

TEST_F(ViewFormTest, CoversTheScreenWhenTheFramedVideoDoesNotFit) {
    const QRect screen = Screen();
    // Exactly the screen's width framed: does not fit.
    EXPECT_TRUE(form.SetVideoSize(screen.width() - 36, 100));
    EXPECT_EQ(form.geometry(), screen);
    EXPECT_EQ(form.lblSize->text(), QString("%1 x 100").arg(screen.width() - 36));
    EXPECT_EQ(form.VideoWindow->geometry(),
              QRect(19, 37, screen.width() - 36, screen.height() - 56));
    // One pixel narrower fits.
    form.move(100, 100);
    EXPECT_FALSE(form.SetVideoSize(screen.width() - 37, 100));
    EXPECT_EQ(form.size(), QSize(screen.width() - 1, 156));
    // The height rule is the same.
    EXPECT_TRUE(form.SetVideoSize(100, screen.height() - 56));
    EXPECT_EQ(form.geometry(), screen);
    EXPECT_FALSE(form.SetVideoSize(100, screen.height() - 57));
}

TEST_F(ViewFormTest, OutlineCutsMagentaOfTheShippedSkin) {
    const QRegion& region = form.Region();
    ASSERT_FALSE(region.isEmpty());
    EXPECT_EQ(form.mask(), region);
    // Rounded top corners are cut; the rest of the frame and the video area
    // (white fill) belong to the window.
    EXPECT_FALSE(region.contains(QPoint(0, 0)));
    EXPECT_FALSE(region.contains(QPoint(355, 0)));
    EXPECT_TRUE(region.contains(QPoint(178, 0)));
    EXPECT_TRUE(region.contains(QPoint(0, 295)));
    EXPECT_TRUE(region.contains(QPoint(355, 295)));
    EXPECT_TRUE(region.contains(QPoint(178, 150)));
    EXPECT_TRUE(region.contains(QPoint(0, 150)));
    EXPECT_EQ(region.boundingRect(), QRect(0, 0, 356, 296));
}

TEST_F(ViewFormTest, OutlineFollowsMagentaOfEachPiece) {
    // Opaque pieces: a magenta pixel cuts, also where the piece is stretched.
    QImage top = form.imgT->Picture();
    top.setPixel(5, 3, 0xFF00FF);
    form.imgT->SetPicture(top);
    QImage left = form.imgLeft->Picture();
    left.setPixel(2, 0, 0xFF00FF);  // row 0 becomes rows 0 and 1 at twice the height
    form.imgLeft->SetPicture(left);
    // imgLB: its transparent colour is magenta, so its magenta never cuts and
    // the white background shows there.
    form.imgLB->SetPicture(Solid(19, 19, 0xFF00FF));
    // imgRB: bottom-left pixel green (its transparent colour), magenta cuts.
    QImage rb = Solid(17, 19, 0x336699);
    rb.setPixel(0, 18, 0x00FF00);
    rb.setPixel(16, 18, 0xFF00FF);
    rb.setPixel(3, 3, 0x00FF00);
    form.imgRB->SetPicture(rb);
    // imgLT with a magenta bottom-left pixel: magenta is skipped, no cut.
    QImage lt = Solid(19, 37, 0x336699);
    lt.setPixel(0, 36, 0xFF00FF);
    lt.setPixel(0, 0, 0xFF00FF);
    form.imgLT->SetPicture(lt);

    EXPECT_FALSE(form.SetVideoSize(320, 480));
    const QRegion& region = form.Region();
    EXPECT_FALSE(region.contains(QPoint(161 + 5, 3)));
    EXPECT_TRUE(region.contains(QPoint(161 + 6, 3)));
    EXPECT_FALSE(region.contains(QPoint(2, 37)));
    EXPECT_FALSE(region.contains(QPoint(2, 38)));
    EXPECT_TRUE(region.contains(QPoint(2, 39)));
    const int H = form.height();
    EXPECT_TRUE(region.contains(QRect(0, H - 19, 19, 19)));
    EXPECT_FALSE(region.contains(QPoint(355, H - 1)));
    EXPECT_TRUE(region.contains(QPoint(339, H - 1)));
    EXPECT_TRUE(region.contains(QPoint(0, 0)));
    EXPECT_TRUE(region.contains(QPoint(0, 36)));

    // What is drawn: skipped pixels keep the white background.
    const QImage shown = form.grab().toImage();
    EXPECT_EQ(shown.pixel(5, H - 5) & 0xFFFFFF, 0xFFFFFFu);
    EXPECT_EQ(shown.pixel(339 + 3, H - 19 + 3) & 0xFFFFFF, 0xFFFFFFu);
    EXPECT_EQ(shown.pixel(339 + 5, H - 19 + 5) & 0xFFFFFF, 0x336699u);
    EXPECT_EQ(shown.pixel(0, 36) & 0xFFFFFF, 0xFFFFFFu);
    EXPECT_EQ(shown.pixel(4, 4) & 0xFFFFFF, 0x336699u);
}

TEST_F(ViewFormTest, PaintsTheFramePiecesStretched) {
    form.imgT->SetPicture(Solid(178, 37, 0x102030));
    form.imgBottom->SetPicture(Solid(320, 19, 0x405060));
    EXPECT_FALSE(form.SetVideoSize(500, 300));
    const QImage shown = form.grab().toImage();
    EXPECT_EQ(shown.pixel(161, 10) & 0xFFFFFF, 0x102030u);
    EXPECT_EQ(shown.pixel(form.width() - 18, 36) & 0xFFFFFF, 0x102030u);
    EXPECT_EQ(shown.pixel(20, form.height() - 1) & 0xFFFFFF, 0x405060u);
    // A partial repaint (clip rectangle only) draws the same pixels.
    const QImage part = form.grab(QRect(150, 5, 40, 20)).toImage();
    EXPECT_EQ(part.pixel(11, 5) & 0xFFFFFF, 0x102030u);
    EXPECT_EQ(part.pixel(0, 0), shown.pixel(150, 5));
}

TEST_F(ViewFormTest, OnlyTheTopBarIsACaption) {
    auto hit = [this](int x, int y) { return form.HitTest(form.mapToGlobal(QPoint(x, y))); };
    EXPECT_EQ(hit(19, 0), TViewForm::HTCAPTION);    // title piece, first pixel
    EXPECT_EQ(hit(100, 20), TViewForm::HTCAPTION);  // title piece
    EXPECT_EQ(hit(338, 36), TViewForm::HTCAPTION);  // top edge, last pixel
    EXPECT_EQ(hit(form.lblSize->x() + 2, form.lblSize->y() + 2), TViewForm::HTCAPTION);
    EXPECT_EQ(hit(form.lblStatus->x() + 2, form.lblStatus->y() + 2), TViewForm::HTCAPTION);
    EXPECT_EQ(hit(18, 10), TViewForm::HTNOWHERE);    // top-left corner
    EXPECT_EQ(hit(339, 10), TViewForm::HTNOWHERE);   // top-right corner
    EXPECT_EQ(hit(100, 37), TViewForm::HTNOWHERE);   // video
    EXPECT_EQ(hit(5, 100), TViewForm::HTNOWHERE);    // left edge
    EXPECT_EQ(hit(350, 100), TViewForm::HTNOWHERE);  // right edge
    EXPECT_EQ(hit(100, 290), TViewForm::HTNOWHERE);  // bottom edge
    EXPECT_EQ(hit(form.Label1->x() + 1, form.Label1->y() + 1), TViewForm::HTNOWHERE);
    EXPECT_EQ(hit(5, 290), TViewForm::HTNOWHERE);  // bottom-left corner
}

TEST_F(ViewFormTest, DraggingTheTopBarMovesTheWindow) {
    form.show();
    const QPoint start = form.pos();
    // On a label of the top bar.
    const QPoint grip = form.lblStatus->geometry().center();
    SendMouse(&form, QEvent::MouseButtonPress, grip, Qt::LeftButton, Qt::LeftButton);
    SendMouse(&form, QEvent::MouseMove, grip + QPoint(30, 20), Qt::NoButton, Qt::LeftButton);
    EXPECT_EQ(form.pos(), start + QPoint(30, 20));
    SendMouse(&form, QEvent::MouseButtonRelease, grip + QPoint(30, 20), Qt::LeftButton,
              Qt::NoButton);
    // After the release the window stays.
    SendMouse(&form, QEvent::MouseMove, grip + QPoint(60, 60), Qt::NoButton, Qt::NoButton);
    EXPECT_EQ(form.pos(), start + QPoint(30, 20));

    // Presses on the side and bottom edges and the corners do nothing.
    const QPoint at = form.pos();
    for (QPoint p : {QPoint(5, 100), QPoint(100, 290), QPoint(350, 290), QPoint(5, 5)}) {
        SendMouse(&form, QEvent::MouseButtonPress, p, Qt::LeftButton, Qt::LeftButton);
        SendMouse(&form, QEvent::MouseMove, p + QPoint(40, 40), Qt::NoButton, Qt::LeftButton);
        SendMouse(&form, QEvent::MouseButtonRelease, p + QPoint(40, 40), Qt::LeftButton,
                  Qt::NoButton);
        EXPECT_EQ(form.pos(), at);
        EXPECT_EQ(form.size(), QSize(356, 296));
    }
    // The right button does not move it either.
    SendMouse(&form, QEvent::MouseButtonPress, grip, Qt::RightButton, Qt::RightButton);
    SendMouse(&form, QEvent::MouseMove, grip + QPoint(10, 10), Qt::NoButton, Qt::RightButton);
    EXPECT_EQ(form.pos(), at);
}

TEST_F(ViewFormTest, AQuickClickOrAShortPullOnTheTopBarDoesNotMoveTheWindow) {
    form.show();
    const QPoint start = form.pos();
    const QPoint grip(100, 20);
    // Press and release at once, then the pointer moves on.
    SendMouse(&form, QEvent::MouseButtonPress, grip, Qt::LeftButton, Qt::LeftButton);
    SendMouse(&form, QEvent::MouseButtonRelease, grip, Qt::LeftButton, Qt::NoButton);
    SendMouse(&form, QEvent::MouseMove, grip + QPoint(80, 60), Qt::NoButton, Qt::NoButton);
    EXPECT_EQ(form.pos(), start);
    // Held, but moved less than the drag distance.
    const int short_ = QApplication::startDragDistance() - 1;
    SendMouse(&form, QEvent::MouseButtonPress, grip, Qt::LeftButton, Qt::LeftButton);
    SendMouse(&form, QEvent::MouseMove, grip + QPoint(short_, 0), Qt::NoButton, Qt::LeftButton);
    EXPECT_EQ(form.pos(), start);
    // Past it: the window catches up with the pointer at once.
    SendMouse(&form, QEvent::MouseMove, grip + QPoint(short_ + 1, 0), Qt::NoButton,
              Qt::LeftButton);
    EXPECT_EQ(form.pos(), start + QPoint(short_ + 1, 0));
    SendMouse(&form, QEvent::MouseButtonRelease, grip + QPoint(short_ + 1, 0), Qt::LeftButton,
              Qt::NoButton);
}

TEST_F(ViewFormTest, OutsideTheOutlineTheWindowIsSeeThrough) {
    // A shaped window whose shape a compositor ignores for drawing must not
    // show the key colour: what the window paints outside its outline is
    // fully transparent, and no magenta is painted anywhere.
    for (QSize video : {QSize(320, 240), QSize(640, 480)}) {
        form.SetVideoSize(video.width(), video.height());
        const QImage shown = form.grab().toImage().convertToFormat(QImage::Format_ARGB32);
        const QRegion& outline = form.Region();
        ASSERT_FALSE(outline.isEmpty());
        int magenta = 0, opaqueOutside = 0, clearInside = 0;
        for (int y = 0; y < shown.height(); ++y)
            for (int x = 0; x < shown.width(); ++x) {
                const QRgb p = shown.pixel(x, y);
                magenta += qAlpha(p) != 0 && (p & 0xFFFFFF) == 0xFF00FF;
                if (outline.contains(QPoint(x, y)))
                    clearInside += qAlpha(p) != 255;
                else
                    opaqueOutside += qAlpha(p) != 0;
            }
        EXPECT_EQ(magenta, 0) << video.width();
        EXPECT_EQ(opaqueOutside, 0) << video.width();
        EXPECT_EQ(clearInside, 0) << video.width();
        EXPECT_EQ(qAlpha(shown.pixel(0, 0)), 0);
    }
}

// The extent of what a label paints, in window coordinates.
QRect PaintedExtent(QLabel* label) {
    QImage picture(label->size(), QImage::Format_ARGB32_Premultiplied);
    picture.fill(Qt::transparent);
    label->render(&picture, QPoint(), QRegion(), QWidget::DrawChildren);
    QRect extent;
    for (int y = 0; y < picture.height(); ++y)
        for (int x = 0; x < picture.width(); ++x)
            if (qAlpha(picture.pixel(x, y)) != 0)
                extent |= QRect(x, y, 1, 1);
    return extent.translated(label->pos());
}

TEST_F(ViewFormTest, TopBarTextsNeverOverlapAtTheOfferedSizes) {
    form.show();
    for (QSize video : {QSize(320, 240), QSize(640, 480), QSize(1280, 720)}) {
        form.SetVideoSize(video.width(), video.height());
        for (bool recording : {false, true}) {
            form.SetRecordState(recording);
            const QRect size = PaintedExtent(form.lblSize);
            const QRect state = PaintedExtent(form.lblStatus);
            ASSERT_FALSE(size.isEmpty());
            ASSERT_FALSE(state.isEmpty());
            EXPECT_LT(size.right(), state.left())
                << form.lblSize->text().toStdString() << " runs into "
                << form.lblStatus->text().toStdString();
            // Both stay on the top bar, clear of its right corner.
            EXPECT_LE(state.right(), form.width() - form.imgRT->width());
            EXPECT_LE(std::max(size.bottom(), state.bottom()), form.imgT->height() - 1);
        }
    }
    // The texts' places hold wherever the faces they were made for exist.
    EXPECT_EQ(form.lblSize->pos(), QPoint(163, 14));
    if (QFontDatabase::families().contains("MS Sans Serif")) {
        EXPECT_EQ(QFontInfo(form.lblSize->font()).family(), "MS Sans Serif");
        EXPECT_EQ(form.lblStatus->pos(), QPoint(220, 14));
    }
}

TEST(FormFonts, MetricCompatibleFacesAreRegisteredWhereInstalled) {
    TViewForm form;  // asks for the faces
    bool installed = false;
    for (const QString& folder : FormFontFolders())
        installed |= QDir(folder).exists(QStringLiteral("tahoma.ttf"));
    if (!installed)
        GTEST_SKIP() << "no metric-compatible faces installed (Debian: fonts-wine)";
    for (const char* family : {"Tahoma", "MS Sans Serif"}) {
        EXPECT_TRUE(QFontDatabase::families().contains(family)) << family;
        QFont font(QString::fromLatin1(family));
        font.setPixelSize(11);
        EXPECT_EQ(QFontInfo(font).family(), family);
    }
    // The labels of the media strip ask for a face that has no free
    // counterpart: they get Tahoma.
    QFont strip(QStringLiteral("Microsoft Sans Serif"));
    strip.setPixelSize(9);
    EXPECT_EQ(QFontInfo(strip).family(), "Tahoma");
}

TEST(FormFonts, TopBarTextsAboveOneHundredPercentUseAScalableFaceOfTheSameMetrics) {
    TViewForm form;  // asks for the faces
    if (!QFontDatabase::families().contains("MS Sans Serif"))
        GTEST_SKIP() << "MS Sans Serif's free face is not installed (Debian: fonts-wine)";
    const QFont normal = TViewForm::TopBarFont(1.0);
    EXPECT_EQ(QFontInfo(normal).family(), "MS Sans Serif");
    for (qreal scale : {1.25, 2.0}) {
        const QFont scaled = TViewForm::TopBarFont(scale);
        const QFontInfo info(scaled);
        EXPECT_TRUE(QFontDatabase::isSmoothlyScalable(info.family(), info.styleName()))
            << info.family().toStdString();
        EXPECT_EQ(info.pixelSize(), 11);
        // About as wide as the face the top bar was laid out for.
        for (const char* text : {"( Preview )", "1280 x 720"}) {
            const int expected = QFontMetrics(normal).horizontalAdvance(QLatin1String(text));
            const int drawn = QFontMetrics(scaled).horizontalAdvance(QLatin1String(text));
            EXPECT_NEAR(drawn, expected, expected / 5) << text;
        }
    }
}

TEST_F(ViewFormTest, RefusesToClose) {
    form.show();
    EXPECT_FALSE(form.close());
    EXPECT_TRUE(form.isVisible());
}

TEST_F(ViewFormTest, RecordStateSwitchesTextAndColour) {
    form.show();
    form.SetRecordState(true);
    EXPECT_EQ(form.lblStatus->text(), "( Record )");
    EXPECT_EQ(form.lblStatus->palette().color(QPalette::WindowText), QColor(255, 255, 255));
    form.SetRecordState(false);
    EXPECT_EQ(form.lblStatus->text(), "( Preview )");
    EXPECT_EQ(form.lblStatus->palette().color(QPalette::WindowText), QColor(255, 255, 0));
    EXPECT_GE(form.lblStatus->width(), form.lblStatus->sizeHint().width());

    // The recording time written by the control panel: the label grows.
    form.lblStatus->setText("(Record : 00:01:02:003)");
    QApplication::processEvents();
    EXPECT_GE(form.lblStatus->width(), form.lblStatus->sizeHint().width());
}

TEST(ViewFormLifetime, DestroyedWithItsOwner) {
    auto* owner = new QWidget;
    QPointer<TViewForm> form = new TViewForm(owner);
    EXPECT_TRUE(form->isWindow());
    delete owner;
    EXPECT_TRUE(form.isNull());
}

TEST(ViewFormVideo, RendererWindowLiesOverTheVideoArea) {
    using namespace media;
    fake::FakeMediaSystem sys;
    TFilterGraph graph;
    graph.SetMode(gmCapture);
    TViewForm form;
    form.VideoWindow->SetFilterGraph(&graph);
    form.SetRecordState(false);
    form.SetVideoSize(320, 240);
    form.show();
    graph.SetActive(true);
    ASSERT_NE(sys.Renderer(), nullptr);
    // The preview chain ends at the renderer.
    auto* source = new fake::FakeFilter(&sys, "Source", GUID{});
    auto sourceRef = ComPtr<IBaseFilter>::Attach(source);
    source->AddPin({"Output", PINDIR_OUTPUT, {}, false, {}});
    sys.Renderer()->Pin("Input")->Link(source->Pin("Output"));

    ASSERT_TRUE(graph.RunGraph());
    EXPECT_TRUE(sys.Log().ContainsAll(
        {"Renderer.put_Owner(ViewForm)", "Renderer.SetWindowPosition(19, 37, 320, 240)",
         "Renderer.put_Caption(VideoWindow)", "Renderer.put_MessageDrain(VideoWindow)"}))
        << sys.Log().Text();
    form.SetVideoSize(640, 480);
    EXPECT_TRUE(sys.Log().Contains("Renderer.SetWindowPosition(19, 37, 640, 480)"));
    // Shut-down: the control panel hides the video and unbinds it.
    form.VideoWindow->hide();
    EXPECT_EQ(sys.Renderer()->Visible(), 0);
    form.VideoWindow->SetFilterGraph(nullptr);
    EXPECT_FALSE(sys.Graph()->HasFilter("VideoWindow"));
}

}  // namespace
