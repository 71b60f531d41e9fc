// SPDX-License-Identifier: GPL-3.0-or-later
// Draws the skin of the camera program's preview window: the nine frame
// pieces (24-bit BMP, magenta 0xFF00FF where the window outline is cut) and
// the small badge "Image1" (JPEG) of the bottom edge.
//
// The look: a dark graphite camera body with a thin light rim, rounded top
// corners, a title plate with a lens and the maker's name, and a dark display
// strip along the top bar on which the window writes the frame size and the
// preview/record state.
//
// The frame pieces are drawn as parts of one frame picture of the smallest
// window (a 320 x 240 video, 356 x 296 in all), so that they meet exactly; the
// edges are uniform along their stretch direction so that the window can
// stretch them to any length.
#include <QDir>
#include <QFont>
#include <QGuiApplication>
#include <QImage>
#include <QLinearGradient>
#include <QPainter>
#include <QPainterPath>
#include <QRadialGradient>
#include <cstdio>

namespace {

constexpr QRgb kMagenta = 0xFF00FF;
// Colours of the body.
const QColor kRim(0xC9, 0xCE, 0xD6);      // outer rim, light metal
const QColor kBodyTop(0x45, 0x4A, 0x53);  // body gradient, top
const QColor kBodyLow(0x1F, 0x22, 0x27);  // body gradient, bottom
const QColor kBevelHi(0x5A, 0x61, 0x6C);  // highlight line along the video opening
const QColor kBevelLo(0x0B, 0x0C, 0x0E);  // dark line around the video opening
const QColor kStrip(0x12, 0x15, 0x19);    // display strip
const QColor kStripEdge(0x5F, 0x66, 0x70);

// Geometry of the frame (left 19, top 37, right 17, bottom 19).
constexpr int kLeft = 19, kTop = 37, kRight = 17, kBottom = 19;
constexpr int kTitleW = 142, kTopEdgeW = 178;
constexpr int kW = kLeft + kTitleW + kTopEdgeW + kRight;  // 356
constexpr int kH = kTop + 240 + kBottom;                  // 296
constexpr int kRadius = 9;                                // outer top corners
// The display strip: from x 155 (inside the title piece) to 7 px before the
// right edge, rows 9 to 30.
constexpr int kStripLeft = kLeft + kTitleW - 6, kStripTop = 9, kStripBottom = 30;

// The whole frame of the smallest window; the video opening stays black.
QImage DrawFrame() {
    QImage img(kW, kH, QImage::Format_RGB32);
    img.fill(QColor(Qt::black));
    QPainter p(&img);

    // Body: a vertical gradient in the top bar, a flat dark tone elsewhere.
    QLinearGradient topBar(0, 0, 0, kTop);
    topBar.setColorAt(0.0, kBodyTop);
    topBar.setColorAt(1.0, kBodyLow);
    p.fillRect(QRect(0, 0, kW, kTop), topBar);
    QLinearGradient bottomBar(0, kH - kBottom, 0, kH);
    bottomBar.setColorAt(0.0, kBodyLow.lighter(120));
    bottomBar.setColorAt(1.0, kBodyLow);
    p.fillRect(QRect(0, kH - kBottom, kW, kBottom), bottomBar);
    QLinearGradient leftBar(0, 0, kLeft, 0);
    leftBar.setColorAt(0.0, kBodyTop.darker(110));
    leftBar.setColorAt(1.0, kBodyLow);
    p.fillRect(QRect(0, kTop, kLeft, kH - kTop - kBottom), leftBar);
    QLinearGradient rightBar(kW - kRight, 0, kW, 0);
    rightBar.setColorAt(0.0, kBodyLow);
    rightBar.setColorAt(1.0, kBodyTop.darker(110));
    p.fillRect(QRect(kW - kRight, kTop, kRight, kH - kTop - kBottom), rightBar);
    // The vertical edges continue into the bottom bar's corners.
    p.fillRect(QRect(0, kH - kBottom, kLeft, kBottom), bottomBar);
    p.fillRect(QRect(kW - kRight, kH - kBottom, kRight, kBottom), bottomBar);

    // Bevel around the video opening: a highlight, then a dark line.
    const QRect video(kLeft, kTop, kW - kLeft - kRight, kH - kTop - kBottom);
    p.setPen(kBevelHi);
    p.drawRect(video.adjusted(-2, -2, 1, 1));
    p.setPen(kBevelLo);
    p.drawRect(video.adjusted(-1, -1, 0, 0));

    // Outer rim, one pixel wide.
    p.setPen(kRim);
    p.drawRect(QRect(0, 0, kW - 1, kH - 1));

    // Display strip of the top bar.
    p.setRenderHint(QPainter::Antialiasing, true);
    QPainterPath strip;
    strip.addRoundedRect(
        QRectF(kStripLeft + 0.5, kStripTop + 0.5, (kW - kRight + 7) - kStripLeft - 1.0,
               kStripBottom - kStripTop - 1.0),
        4, 4);
    p.fillPath(strip, kStrip);
    p.setPen(QPen(kStripEdge, 1));
    p.drawPath(strip);

    // Title plate: a lens and the maker's name.
    const QPointF lens(kLeft + 14.5, 18.5);
    QRadialGradient glass(lens, 9.5, lens - QPointF(3, 3));
    glass.setColorAt(0.0, QColor(0x6F, 0x8F, 0xC8));
    glass.setColorAt(0.45, QColor(0x1B, 0x2A, 0x4A));
    glass.setColorAt(1.0, QColor(0x05, 0x06, 0x0A));
    p.setPen(QPen(kRim, 1.5));
    p.setBrush(glass);
    p.drawEllipse(lens, 10, 10);
    p.setPen(Qt::NoPen);
    p.setBrush(QColor(255, 255, 255, 170));
    p.drawEllipse(lens - QPointF(3.5, 3.5), 2, 2);
    // Recording lamp.
    p.setBrush(QColor(0xE0, 0x2A, 0x2A));
    p.drawEllipse(QPointF(kLeft + 124.5, 18.5), 2.5, 2.5);

    QFont font("DejaVu Sans");
    font.setPixelSize(14);
    font.setBold(true);
    font.setLetterSpacing(QFont::AbsoluteSpacing, 2);
    p.setFont(font);
    p.setPen(QColor(0xE4, 0xE8, 0xEE));
    p.drawText(QRect(kLeft + 30, 9, 86, 20), Qt::AlignVCenter | Qt::AlignLeft, "OMBRA");
    p.setRenderHint(QPainter::Antialiasing, false);

    // Rounded outer top corners: outside the arc is cut away (magenta); the
    // arc itself is the rim.
    p.end();
    auto cutCorner = [&img](int cx, int cy, int xFrom, int xTo, int yFrom, int yTo) {
        for (int y = yFrom; y < yTo; ++y) {
            for (int x = xFrom; x < xTo; ++x) {
                const double dx = x + 0.5 - cx, dy = y + 0.5 - cy;
                const double d2 = dx * dx + dy * dy;
                if (d2 > kRadius * kRadius) {
                    img.setPixel(x, y, kMagenta);
                } else if (d2 > (kRadius - 1.2) * (kRadius - 1.2)) {
                    img.setPixel(x, y, kRim.rgb());
                }
            }
        }
    };
    cutCorner(kRadius, kRadius, 0, kRadius, 0, kRadius);
    cutCorner(kW - kRadius, kRadius, kW - kRadius, kW, 0, kRadius);

    // The bottom-left pixel of the top-left and bottom-right corner pieces
    // is their transparent colour, which the window skips (leaving its white
    // background): make it white so that the skip changes nothing.
    img.setPixel(0, kTop - 1, 0xFFFFFF);
    img.setPixel(kW - kRight, kH - 1, 0xFFFFFF);
    return img;
}

// The badge of the bottom edge (38 x 15).
QImage DrawBadge() {
    QImage img(38, 15, QImage::Format_RGB32);
    img.fill(kBodyLow);
    QPainter p(&img);
    p.setRenderHint(QPainter::Antialiasing, true);
    QLinearGradient plate(0, 2, 0, 13);
    plate.setColorAt(0.0, QColor(0x6A, 0x72, 0x7E));
    plate.setColorAt(1.0, QColor(0x3A, 0x40, 0x48));
    p.setPen(QPen(QColor(0x8A, 0x92, 0x9E), 1));
    p.setBrush(plate);
    p.drawRoundedRect(QRectF(1.5, 2.5, 35, 10), 3, 3);
    QFont font("DejaVu Sans");
    font.setPixelSize(8);
    font.setBold(true);
    p.setFont(font);
    p.setPen(QColor(0xF0, 0xF2, 0xF5));
    p.drawText(QRect(1, 2, 36, 11), Qt::AlignCenter, "USB 2.0");
    return img;
}

bool Save(const QImage& img, const QDir& dir, const char* name, const char* format) {
    const QString path = dir.filePath(QString::fromLatin1(name));
    QImage out = img.convertToFormat(QImage::Format_RGB888);
    if (!out.save(path, format, 95)) {
        std::fprintf(stderr, "viewskin: cannot write %s\n", qPrintable(path));
        return false;
    }
    return true;
}

}  // namespace

int main(int argc, char** argv) {
    // Needs no display: everything is drawn into images.
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    QGuiApplication app(argc, argv);
    if (argc != 2) {
        std::fprintf(stderr, "usage: viewskin <output folder>\n");
        return 2;
    }
    QDir dir(QString::fromLocal8Bit(argv[1]));
    if (!dir.mkpath(".")) {
        std::fprintf(stderr, "viewskin: cannot create %s\n", argv[1]);
        return 1;
    }
    const QImage f = DrawFrame();
    const int rx = kW - kRight, by = kH - kBottom;
    struct Piece {
        const char* name;
        QRect rect;
    } pieces[] = {
        {"imgLT.bmp", QRect(0, 0, kLeft, kTop)},
        {"imgTitle.bmp", QRect(kLeft, 0, kTitleW, kTop)},
        {"imgT.bmp", QRect(kLeft + kTitleW, 0, kTopEdgeW, kTop)},
        {"imgRT.bmp", QRect(rx, 0, kRight, kTop)},
        {"imgLeft.bmp", QRect(0, kTop, kLeft, 240)},
        {"imgLB.bmp", QRect(0, by, kLeft, kBottom)},
        {"imgRight.bmp", QRect(rx, kTop, kRight, 240)},
        {"imgBottom.bmp", QRect(kLeft, by, 320, kBottom)},
        {"imgRB.bmp", QRect(rx, by, kRight, kBottom)},
    };
    bool ok = true;
    for (const Piece& piece : pieces)
        ok = Save(f.copy(piece.rect), dir, piece.name, "BMP") && ok;
    ok = Save(DrawBadge(), dir, "Image1.jpg", "JPEG") && ok;
    return ok ? 0 : 1;
}
