// SPDX-License-Identifier: GPL-3.0-or-later
// Draws the camera program's application icon: a graphite tile like the body
// of the preview window, with the camera's lens in the middle and a red
// recording light in its corner. Each size is drawn on its own (not scaled
// down from a large picture), and the smallest sizes leave out the details
// that would only blur at that size.
//
// Usage: pomvira_icon <folder>   writes pomvira-<size>.png for every size of
// kSizes (32-bit PNG with alpha; runs on the offscreen platform).
#include <QDir>
#include <QGuiApplication>
#include <QImage>
#include <QLinearGradient>
#include <QPainter>
#include <QPainterPath>
#include <QRadialGradient>
#include <cstdio>

#include "Lens.h"

namespace {

// The sizes of the hicolor theme's usual folders, up to the one software
// centres show.
constexpr int kSizes[] = {16, 22, 24, 32, 48, 64, 128, 256};

// Colours shared with the preview window's skin.
const QColor kRim(0xC9, 0xCE, 0xD6);
const QColor kBodyTop(0x4F, 0x55, 0x60);
const QColor kBodyLow(0x1B, 0x1E, 0x23);

QImage DrawIcon(int size) {
    QImage img(size, size, QImage::Format_ARGB32_Premultiplied);
    img.fill(Qt::transparent);
    QPainter p(&img);
    p.setRenderHint(QPainter::Antialiasing);
    p.setPen(Qt::NoPen);
    const qreal s = size;
    const bool small = size < 32;

    // The tile: a rounded square with a light metal rim, leaving a margin of
    // 1/16 as icon themes do (none at the smallest sizes, where every pixel
    // counts).
    const qreal margin = small ? 0.5 : s / 16.0;
    const QRectF tile(margin, margin, s - 2 * margin, s - 2 * margin);
    const qreal radius = tile.width() * 0.2;
    QLinearGradient rim(0, tile.top(), 0, tile.bottom());
    rim.setColorAt(0, kRim);
    rim.setColorAt(1, kRim.darker(170));
    p.setBrush(rim);
    p.drawRoundedRect(tile, radius, radius);
    const qreal rimWidth = qMax<qreal>(1.0, s / 40.0);
    const QRectF body = tile.adjusted(rimWidth, rimWidth, -rimWidth, -rimWidth);
    QLinearGradient bodyFill(0, body.top(), 0, body.bottom());
    bodyFill.setColorAt(0, kBodyTop);
    bodyFill.setColorAt(1, kBodyLow);
    p.setBrush(bodyFill);
    p.drawRoundedRect(body, radius - rimWidth, radius - rimWidth);

    // The lens, as on the install menu's camera.
    const QPointF centre(s * (small ? 0.45 : 0.48), s * (small ? 0.56 : 0.54));
    DrawLens(p, centre, s * (small ? 0.34 : 0.31), !small);

    // The recording light in the top right corner, glowing.
    const qreal ledR = s * (small ? 0.12 : 0.075);
    const QPointF led(tile.right() - rimWidth - s * (small ? 0.14 : 0.125),
                      tile.top() + rimWidth + s * (small ? 0.14 : 0.125));
    if (!small) {
        QRadialGradient glow(led, ledR * 2.2);
        glow.setColorAt(0, QColor(255, 60, 50, 150));
        glow.setColorAt(1, QColor(255, 60, 50, 0));
        p.setBrush(glow);
        p.drawEllipse(led, ledR * 2.2, ledR * 2.2);
    }
    QRadialGradient light(QPointF(led.x() - ledR * 0.35, led.y() - ledR * 0.35), ledR * 1.3);
    light.setColorAt(0, QColor(255, 170, 160));
    light.setColorAt(0.45, QColor(235, 30, 30));
    light.setColorAt(1, QColor(140, 0, 0));
    p.setBrush(light);
    p.drawEllipse(led, ledR, ledR);

    // A soft gloss over the upper half of the tile.
    if (!small) {
        QPainterPath gloss;
        gloss.addRoundedRect(body, radius - rimWidth, radius - rimWidth);
        QLinearGradient sheen(0, body.top(), 0, body.center().y());
        sheen.setColorAt(0, QColor(255, 255, 255, 40));
        sheen.setColorAt(1, QColor(255, 255, 255, 0));
        p.setClipPath(gloss);
        p.fillRect(QRectF(body.left(), body.top(), body.width(), body.height() / 2), sheen);
    }
    p.end();
    return img.convertToFormat(QImage::Format_ARGB32);
}

}  // namespace

int main(int argc, char* argv[]) {
    qputenv("QT_QPA_PLATFORM", "offscreen");
    QGuiApplication app(argc, argv);
    if (argc != 2) {
        std::fprintf(stderr, "usage: pomvira_icon <folder>\n");
        return 2;
    }
    const QDir dir(QString::fromLocal8Bit(argv[1]));
    for (const int size : kSizes) {
        const QString path = dir.filePath(QStringLiteral("pomvira-%1.png").arg(size));
        if (!DrawIcon(size).save(path, "PNG")) {
            std::fprintf(stderr, "pomvira_icon: cannot write %s\n", qPrintable(path));
            return 1;
        }
    }
    return 0;
}
