// SPDX-License-Identifier: GPL-3.0-or-later
// Draws the install menu's pictures into a folder:
//   background.jpg  511 x 391  the window's picture
//   install.bmp     51 x 51    Picture1 (24 bits per pixel)
//   exit.bmp        51 x 51    Picture2 (24 bits per pixel)
//   icon.png        48 x 48    the window's icon (24 bits per pixel)
// Usage: corvane_art <folder>   (runs on the offscreen platform)
// The pictures in corvane/resources/ were made with it; run it again after a change.

#include <cstdio>

#include <QDir>
#include <QFont>
#include <QGuiApplication>
#include <QImage>
#include <QLinearGradient>
#include <QPainter>
#include <QPainterPath>
#include <QRadialGradient>

#include "Lens.h"

namespace {

constexpr int kWidth = 511;
constexpr int kHeight = 391;
constexpr int kButton = 51;
// Where the picture boxes sit on the window, and their visible size.
const QPoint kInstallAt(64, 200);
const QPoint kExitAt(64, 264);
constexpr int kBox = 49;

QFont Font(int pixelSize, int weight, bool italic = false) {
    QFont font(QStringLiteral("DejaVu Sans"));
    font.setPixelSize(pixelSize);
    font.setWeight(QFont::Weight(weight));
    font.setItalic(italic);
    font.setHintingPreference(QFont::PreferNoHinting);
    return font;
}

// A stylised USB web camera: a round head with a large lens on a clip stand.
void DrawCamera(QPainter& p, QPointF centre, qreal r) {
    p.save();
    p.setPen(Qt::NoPen);

    // Soft shadow on the "desk".
    QRadialGradient shadow(QPointF(centre.x(), centre.y() + r * 1.95), r * 1.1);
    shadow.setColorAt(0, QColor(0, 0, 0, 120));
    shadow.setColorAt(1, QColor(0, 0, 0, 0));
    p.setBrush(shadow);
    p.drawEllipse(QPointF(centre.x(), centre.y() + r * 1.95), r * 1.1, r * 0.22);

    // Stand: neck and clip foot.
    QLinearGradient metal(centre.x() - r * 0.5, 0, centre.x() + r * 0.5, 0);
    metal.setColorAt(0, QColor(70, 76, 88));
    metal.setColorAt(0.45, QColor(190, 198, 210));
    metal.setColorAt(1, QColor(60, 66, 78));
    p.setBrush(metal);
    p.drawRoundedRect(QRectF(centre.x() - r * 0.14, centre.y() + r * 0.8, r * 0.28, r * 0.9), 4, 4);
    QPainterPath foot;
    foot.moveTo(centre.x() - r * 0.75, centre.y() + r * 1.95);
    foot.lineTo(centre.x() + r * 0.75, centre.y() + r * 1.95);
    foot.lineTo(centre.x() + r * 0.5, centre.y() + r * 1.62);
    foot.lineTo(centre.x() - r * 0.5, centre.y() + r * 1.62);
    foot.closeSubpath();
    p.drawPath(foot);

    // Head: a glossy white sphere.
    QRadialGradient body(QPointF(centre.x() - r * 0.35, centre.y() - r * 0.4), r * 1.4);
    body.setColorAt(0, QColor(255, 255, 255));
    body.setColorAt(0.55, QColor(214, 220, 230));
    body.setColorAt(1, QColor(120, 128, 145));
    p.setBrush(body);
    p.drawEllipse(centre, r, r);

    DrawLens(p, centre, r * 0.62);

    // Activity light.
    const QPointF led(centre.x(), centre.y() - r * 0.8);
    QRadialGradient glow(led, r * 0.16);
    glow.setColorAt(0, QColor(120, 255, 140));
    glow.setColorAt(0.4, QColor(40, 200, 80));
    glow.setColorAt(1, QColor(40, 200, 80, 0));
    p.setBrush(glow);
    p.drawEllipse(led, r * 0.16, r * 0.16);
    p.restore();
}

QImage Background() {
    QImage image(kWidth, kHeight, QImage::Format_RGB32);
    QPainter p(&image);
    p.setRenderHint(QPainter::Antialiasing);
    p.setRenderHint(QPainter::TextAntialiasing);

    QLinearGradient sky(0, 0, 0, kHeight);
    sky.setColorAt(0, QColor(16, 30, 58));
    sky.setColorAt(0.6, QColor(10, 18, 36));
    sky.setColorAt(1, QColor(4, 8, 18));
    p.fillRect(image.rect(), sky);

    // Light falling on the camera, and faint lens rings behind it.
    QRadialGradient spot(QPointF(380, 170), 230);
    spot.setColorAt(0, QColor(60, 110, 200, 150));
    spot.setColorAt(1, QColor(60, 110, 200, 0));
    p.fillRect(image.rect(), spot);
    p.setBrush(Qt::NoBrush);
    for (int i = 0; i < 5; ++i) {
        p.setPen(QPen(QColor(120, 170, 255, 26 - i * 4), 2));
        p.drawEllipse(QPointF(380, 170), 110.0 + i * 34, 110.0 + i * 34);
    }

    DrawCamera(p, QPointF(380, 170), 76);

    // Title.
    p.setPen(QColor(255, 255, 255));
    p.setFont(Font(46, QFont::Bold));
    p.drawText(QPointF(40, 80), QStringLiteral("Ombra"));
    p.setPen(QColor(130, 180, 255));
    p.setFont(Font(17, QFont::Normal));
    p.drawText(QPointF(43, 108), QStringLiteral("USB PC Camera"));
    p.setPen(QPen(QColor(90, 150, 255), 2));
    p.drawLine(QPointF(43, 122), QPointF(205, 122));
    p.setPen(QColor(180, 195, 220));
    p.setFont(Font(13, QFont::Normal));
    p.drawText(QPointF(43, 145), QStringLiteral("Installation CD"));

    // Menu panel behind the two picture buttons, with their labels.
    p.setPen(QPen(QColor(120, 160, 230, 70), 1));
    p.setBrush(QColor(255, 255, 255, 18));
    p.drawRoundedRect(QRectF(50.5, 186.5, 244, 140), 10, 10);
    const auto label = [&](QPoint at, const QString& title, const QString& detail) {
        p.setPen(QColor(255, 255, 255));
        p.setFont(Font(17, QFont::Bold));
        p.drawText(QPointF(at.x() + kBox + 14, at.y() + 22), title);
        p.setPen(QColor(160, 180, 210));
        p.setFont(Font(11, QFont::Normal));
        p.drawText(QPointF(at.x() + kBox + 14, at.y() + 39), detail);
    };
    label(kInstallAt, QStringLiteral("Install"), QStringLiteral("Camera driver and software"));
    label(kExitAt, QStringLiteral("Exit"), QStringLiteral("Close this menu"));

    p.setPen(QColor(100, 115, 140));
    p.setFont(Font(10, QFont::Normal));
    p.drawText(QRectF(0, kHeight - 24, kWidth - 16, 16), Qt::AlignRight | Qt::AlignVCenter,
               QStringLiteral("Ombra Corvane Install"));
    return image;
}

// A round glossy button on the piece of background it covers. Only the top
// left 49 x 49 pixels show in the picture box, so the button is centred there.
QImage Button(const QImage& background, QPoint at, QColor light, QColor dark,
              void (*glyph)(QPainter&, QPointF)) {
    QImage image =
        background.copy(at.x(), at.y(), kButton, kButton).convertToFormat(QImage::Format_RGB32);
    QPainter p(&image);
    p.setRenderHint(QPainter::Antialiasing);
    const QPointF c(kBox / 2.0, kBox / 2.0);
    p.setPen(Qt::NoPen);
    p.setBrush(QColor(0, 0, 0, 90));
    p.drawEllipse(QPointF(c.x() + 1, c.y() + 1.5), 22.5, 22.5);
    QRadialGradient face(QPointF(c.x() - 6, c.y() - 8), 30);
    face.setColorAt(0, light);
    face.setColorAt(1, dark);
    p.setBrush(face);
    p.setPen(QPen(QColor(255, 255, 255, 150), 1.2));
    p.drawEllipse(c, 21.5, 21.5);
    QLinearGradient gloss(0, c.y() - 20, 0, c.y());
    gloss.setColorAt(0, QColor(255, 255, 255, 120));
    gloss.setColorAt(1, QColor(255, 255, 255, 0));
    p.setPen(Qt::NoPen);
    p.setBrush(gloss);
    p.drawEllipse(QRectF(c.x() - 15, c.y() - 19, 30, 18));
    glyph(p, c);
    return image.convertToFormat(QImage::Format_RGB888);
}

// A downward arrow into a tray: install.
void InstallGlyph(QPainter& p, QPointF c) {
    QPen pen(Qt::white, 3.2, Qt::SolidLine, Qt::RoundCap, Qt::RoundJoin);
    p.setPen(pen);
    p.setBrush(Qt::NoBrush);
    p.drawLine(QPointF(c.x(), c.y() - 11), QPointF(c.x(), c.y() + 3));
    p.drawPolyline(QPolygonF(
        {QPointF(c.x() - 6, c.y() - 3), QPointF(c.x(), c.y() + 3), QPointF(c.x() + 6, c.y() - 3)}));
    p.drawPolyline(QPolygonF({QPointF(c.x() - 10, c.y() + 4), QPointF(c.x() - 10, c.y() + 10),
                              QPointF(c.x() + 10, c.y() + 10), QPointF(c.x() + 10, c.y() + 4)}));
}

// A power symbol: exit.
void ExitGlyph(QPainter& p, QPointF c) {
    QPen pen(Qt::white, 3.2, Qt::SolidLine, Qt::RoundCap, Qt::RoundJoin);
    p.setPen(pen);
    p.setBrush(Qt::NoBrush);
    const QRectF arc(c.x() - 10, c.y() - 9, 20, 20);
    p.drawArc(arc, 125 * 16, 290 * 16);
    p.drawLine(QPointF(c.x(), c.y() - 13), QPointF(c.x(), c.y() - 1));
}

QImage Icon() {
    QImage image(48, 48, QImage::Format_RGB32);
    image.fill(QColor(16, 30, 58));
    QPainter p(&image);
    p.setRenderHint(QPainter::Antialiasing);
    QLinearGradient sky(0, 0, 0, 48);
    sky.setColorAt(0, QColor(30, 60, 120));
    sky.setColorAt(1, QColor(8, 14, 30));
    p.fillRect(image.rect(), sky);
    DrawCamera(p, QPointF(24, 19), 14);
    return image.convertToFormat(QImage::Format_RGB888);
}

bool Save(const QImage& image, const QDir& dir, const char* name, const char* format,
          int quality = -1) {
    const QString path = dir.filePath(QString::fromLatin1(name));
    if (image.save(path, format, quality))
        return true;
    std::fprintf(stderr, "corvane_art: cannot write %s\n", qPrintable(path));
    return false;
}

}  // namespace

int main(int argc, char* argv[]) {
    qputenv("QT_QPA_PLATFORM", "offscreen");
    QGuiApplication app(argc, argv);
    if (argc != 2) {
        std::fprintf(stderr, "usage: corvane_art <folder>\n");
        return 2;
    }
    const QDir dir(QString::fromLocal8Bit(argv[1]));
    const QImage background = Background();
    const bool ok =
        Save(background, dir, "background.jpg", "JPEG", 92) &&
        Save(Button(background, kInstallAt, QColor(110, 230, 130), QColor(20, 120, 50),
                    InstallGlyph),
             dir, "install.bmp", "BMP") &&
        Save(Button(background, kExitAt, QColor(255, 130, 120), QColor(150, 25, 25), ExitGlyph),
             dir, "exit.bmp", "BMP") &&
        Save(Icon(), dir, "icon.png", "PNG");
    return ok ? 0 : 1;
}
