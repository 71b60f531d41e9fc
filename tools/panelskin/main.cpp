// SPDX-License-Identifier: GPL-3.0-or-later
// panelskin: draws the camera program's control panel pictures.
//
// Usage: panelskin <resources-dir> [<preview.png>]
//   Writes the pictures into <resources-dir>/panel/ and the resource file
//   <resources-dir>/panel.qrc (prefix "/panel"); with a second argument also
//   renders a preview of the assembled panel (normal and expanded height,
//   and every button look). Run it as
//     build/tools/panelskin/panelskin pomvira/resources /tmp/panel-preview.png
//   and commit the pictures: the program embeds them, it does not run this.
//
// Resource names (all PNG, 24-bit RGB unless noted):
//   :/panel/back.png                 skin of imgBack, 355 x 166; magenta 0xFF00FF
//                                    (exactly 1202 pixels) outside the rounded outline
//   :/panel/capture_up.png           btnCapture, 44 x 44 (record dot); also _down, _active
//   :/panel/snapshot_up.png          btnSnapShot, 44 x 44 (camera); also _down, _active
//   :/panel/editimg_up.png           btnEditImg, 44 x 44 (picture and pencil); also _down, _active
//   :/panel/mail_up.png              btnMail, 44 x 44 (envelope); also _down, _active
//   :/panel/config_up.png            btnConfig, 44 x 44 (gear); also _down, _active
//   :/panel/minimize_up.png          btnMinimize, 9 x 9; also _down
//   :/panel/close_up.png             btnClose, 9 x 9; also _down
//   :/panel/delete_up.png            btnDelete, 57 x 18 (waste bin); also _down, _active
//   :/panel/deleteall_up.png         btnDeleteAll, 58 x 18 (list and waste bin); also _down,
//   _active
//   :/panel/avi.png                  imgAVI, 24 x 24, 8 bits per pixel (film strip on magenta,
//                                    the colour the panel draws transparently)
//
// Every button picture is drawn over a copy of the skin beneath its place,
// so its square corners match the skin exactly.
#include <QColor>
#include <QDir>
#include <QFile>
#include <QGuiApplication>
#include <QImage>
#include <QLinearGradient>
#include <QPainter>
#include <QPainterPath>
#include <QRadialGradient>
#include <QTextStream>
#include <cmath>
#include <cstdio>
#include <functional>
#include <map>
#include <string>
#include <vector>

namespace {

constexpr int kWidth = 355;
constexpr int kHeight = 166;
constexpr int kNormalHeight = 72;
const QRgb kMagenta = qRgb(255, 0, 255);
constexpr int kExpectedMagenta = 1202;

// The outline: the button row is a rounded box (corner radius 12) over the
// full width and the normal height; the strip below is a second rounded box
// (top corners 30, bottom corners 40), so the normal panel has rounded
// corners all round and the expanded one shows two joined boxes.
bool InRoundedBox(int x, int y, const QRect& box, int rTop, int rBottom) {
    if (!box.contains(x, y))
        return false;
    const double px = x + 0.5, py = y + 0.5;
    auto outside = [&](double cx, double cy, int r) {
        return (px - cx) * (px - cx) + (py - cy) * (py - cy) > double(r) * r;
    };
    const double l = box.left(), t = box.top(), r = box.right() + 1.0, b = box.bottom() + 1.0;
    if (px < l + rTop && py < t + rTop)
        return !outside(l + rTop, t + rTop, rTop);
    if (px > r - rTop && py < t + rTop)
        return !outside(r - rTop, t + rTop, rTop);
    if (px < l + rBottom && py > b - rBottom)
        return !outside(l + rBottom, b - rBottom, rBottom);
    if (px > r - rBottom && py > b - rBottom)
        return !outside(r - rBottom, b - rBottom, rBottom);
    return true;
}

const QRect kRowBox(0, 0, kWidth, kNormalHeight);
const QRect kStripBox(0, kNormalHeight, kWidth, kHeight - kNormalHeight);

bool InOutline(int x, int y) {
    return InRoundedBox(x, y, kRowBox, 12, 12) || InRoundedBox(x, y, kStripBox, 30, 40);
}

// Places of the controls on the panel (client coordinates).
struct TPlace {
    const char* name;
    QRect rect;
};
const std::vector<TPlace> kBigButtons = {
    {"capture", QRect(37, 15, 44, 44)},  {"snapshot", QRect(96, 15, 44, 44)},
    {"editimg", QRect(155, 15, 44, 44)}, {"mail", QRect(214, 15, 44, 44)},
    {"config", QRect(273, 15, 44, 44)},
};
const QRect kMinimize(328, 9, 9, 9);
const QRect kClose(339, 9, 9, 9);
const QRect kExpand(333, 53, 14, 14);
const QRect kPrev(9, 92, 17, 19);
const QRect kNext(330, 92, 17, 19);
const std::vector<QRect> kViews = {QRect(31, 78, 70, 47), QRect(106, 78, 70, 47),
                                   QRect(180, 78, 70, 47), QRect(254, 78, 70, 47)};
const QRect kDelete(206, 143, 57, 18);
const QRect kDeleteAll(273, 142, 58, 18);

const QColor kGlyph(226, 229, 234);
const QColor kAccent(88, 166, 255);

QPainterPath RoundedPath(const QRectF& r, double radius) {
    QPainterPath p;
    p.addRoundedRect(r, radius, radius);
    return p;
}

// ---- the skin ----

void DrawWell(QPainter& p, const QPointF& c, double radius) {
    // A round hollow: dark inside, shaded rim lit from below.
    QRadialGradient inside(c, radius);
    inside.setColorAt(0.0, QColor(18, 20, 23));
    inside.setColorAt(0.85, QColor(27, 30, 34));
    inside.setColorAt(1.0, QColor(36, 40, 45));
    p.setPen(Qt::NoPen);
    p.setBrush(inside);
    p.drawEllipse(c, radius, radius);
    QLinearGradient rim(c.x(), c.y() - radius, c.x(), c.y() + radius);
    rim.setColorAt(0.0, QColor(12, 13, 15));
    rim.setColorAt(1.0, QColor(112, 119, 130));
    p.setPen(QPen(QBrush(rim), 1.2));
    p.setBrush(Qt::NoBrush);
    p.drawEllipse(c, radius - 0.6, radius - 0.6);
}

void DrawTriangle(QPainter& p, const QPointF& a, const QPointF& b, const QPointF& c,
                  const QColor& color) {
    QPainterPath path;
    path.moveTo(a);
    path.lineTo(b);
    path.lineTo(c);
    path.closeSubpath();
    p.setPen(Qt::NoPen);
    p.setBrush(color);
    p.drawPath(path);
}

QImage DrawSkin() {
    QImage skin(kWidth, kHeight, QImage::Format_RGB32);
    QPainter p(&skin);
    p.setRenderHint(QPainter::Antialiasing);

    // Button row: a dark brushed gradient.
    QLinearGradient row(0, 0, 0, kNormalHeight);
    row.setColorAt(0.0, QColor(78, 84, 94));
    row.setColorAt(0.08, QColor(62, 67, 76));
    row.setColorAt(1.0, QColor(36, 39, 45));
    p.fillRect(kRowBox, row);
    // Strip: a little darker.
    QLinearGradient strip(0, kNormalHeight, 0, kHeight);
    strip.setColorAt(0.0, QColor(40, 44, 50));
    strip.setColorAt(1.0, QColor(24, 26, 30));
    p.fillRect(kStripBox, strip);

    // Rims along the outline of both boxes.
    p.setBrush(Qt::NoBrush);
    p.setPen(QPen(QColor(120, 127, 138), 1.0));
    p.drawPath(RoundedPath(QRectF(kRowBox).adjusted(0.5, 0.5, -0.5, -0.5), 11.5));
    p.setPen(QPen(QColor(84, 90, 99), 1.0));
    QPainterPath stripRim;
    const QRectF s = QRectF(kStripBox).adjusted(0.5, 0.5, -0.5, -0.5);
    stripRim.moveTo(s.left() + 29.5, s.top());
    stripRim.lineTo(s.right() - 29.5, s.top());
    stripRim.arcTo(QRectF(s.right() - 59, s.top(), 59, 59), 90, -90);
    stripRim.lineTo(s.right(), s.bottom() - 39.5);
    stripRim.arcTo(QRectF(s.right() - 79, s.bottom() - 79, 79, 79), 0, -90);
    stripRim.lineTo(s.left() + 39.5, s.bottom());
    stripRim.arcTo(QRectF(s.left(), s.bottom() - 79, 79, 79), 270, -90);
    stripRim.lineTo(s.left(), s.top() + 29.5);
    stripRim.arcTo(QRectF(s.left(), s.top(), 59, 59), 180, -90);
    p.drawPath(stripRim);

    // Five round wells under the big buttons.
    for (const auto& b : kBigButtons)
        DrawWell(p, QRectF(b.rect).center(), 24.5);

    // Minimise and close spots.
    for (const QRect& r : {kMinimize, kClose}) {
        p.setPen(QPen(QColor(20, 22, 25), 1.0));
        p.setBrush(QColor(30, 33, 38));
        p.drawRoundedRect(QRectF(r).adjusted(-1.5, -1.5, 1.5, 1.5), 2, 2);
    }

    // The expand arrow: a small up-and-down arrow at the end of the button row.
    {
        const QRectF e = QRectF(kExpand).adjusted(2, 1, -2, -1);
        const double cx = e.center().x();
        DrawTriangle(p, QPointF(cx, e.top()), QPointF(e.right(), e.top() + 5),
                     QPointF(e.left(), e.top() + 5), kGlyph);
        DrawTriangle(p, QPointF(cx, e.bottom()), QPointF(e.left(), e.bottom() - 5),
                     QPointF(e.right(), e.bottom() - 5), kGlyph);
    }

    // Paging arrows beside the strip.
    {
        const QRectF l = QRectF(kPrev).adjusted(3, 2, -3, -2);
        DrawTriangle(p, QPointF(l.left(), l.center().y()), QPointF(l.right(), l.top()),
                     QPointF(l.right(), l.bottom()), kGlyph);
        const QRectF r = QRectF(kNext).adjusted(3, 2, -3, -2);
        DrawTriangle(p, QPointF(r.right(), r.center().y()), QPointF(r.left(), r.bottom()),
                     QPointF(r.left(), r.top()), kGlyph);
    }

    // Four white thumbnail frames; each has a light caption plate below its
    // box, where the file name label (black text) is shown.
    p.setRenderHint(QPainter::Antialiasing, false);
    for (const QRect& v : kViews) {
        p.fillRect(QRect(v.left() - 1, v.top() - 1, v.width() + 2, 139 - v.top() + 1),
                   QColor(255, 255, 255));
        p.fillRect(QRect(v.left(), 126, v.width(), 12), QColor(232, 234, 238));
        p.fillRect(v, QColor(16, 17, 19));
    }
    p.setRenderHint(QPainter::Antialiasing);

    // Backgrounds of the two remove buttons.
    for (const QRect& r : {kDelete, kDeleteAll}) {
        p.setPen(QPen(QColor(14, 15, 17), 1.0));
        p.setBrush(QColor(22, 24, 28));
        p.drawRoundedRect(QRectF(r).adjusted(-1.5, -1.5, 1.5, 1.5), 5, 5);
    }
    p.end();

    // Cut the outline with hard edges: magenta outside, and no magenta inside.
    for (int y = 0; y < kHeight; ++y) {
        for (int x = 0; x < kWidth; ++x) {
            if (!InOutline(x, y))
                skin.setPixel(x, y, kMagenta);
            else if (skin.pixel(x, y) == kMagenta)
                skin.setPixel(x, y, qRgb(254, 0, 255));
        }
    }
    return skin.convertToFormat(QImage::Format_RGB888);
}

// ---- buttons ----

enum TLook { lkUp, lkDown, lkActive };
const char* const kLookNames[] = {"up", "down", "active"};

using TIcon = std::function<void(QPainter&, TLook, const QColor& glyph, const QColor& face)>;

// A round 44 x 44 button: a domed face in its well and an icon.
QImage DrawRoundButton(const QImage& skin, const QRect& place, TLook look, const TIcon& icon) {
    QImage img = skin.copy(place).convertToFormat(QImage::Format_RGB32);
    QPainter p(&img);
    p.setRenderHint(QPainter::Antialiasing);
    const QPointF c(22, 22);
    const double r = 19.5;
    QLinearGradient face(0, c.y() - r, 0, c.y() + r);
    QColor faceMid;
    if (look == lkDown) {
        face.setColorAt(0.0, QColor(34, 37, 42));
        face.setColorAt(1.0, QColor(70, 76, 86));
        faceMid = QColor(50, 54, 61);
    } else if (look == lkActive) {
        face.setColorAt(0.0, QColor(112, 120, 133));
        face.setColorAt(1.0, QColor(56, 61, 69));
        faceMid = QColor(84, 90, 100);
    } else {
        face.setColorAt(0.0, QColor(96, 103, 114));
        face.setColorAt(1.0, QColor(46, 50, 57));
        faceMid = QColor(70, 75, 84);
    }
    p.setPen(Qt::NoPen);
    p.setBrush(face);
    p.drawEllipse(c, r, r);
    // Rim: light above (raised) or below (pressed); blue while pointed at.
    QLinearGradient rim(0, c.y() - r, 0, c.y() + r);
    rim.setColorAt(0.0, look == lkDown ? QColor(14, 15, 17) : QColor(150, 158, 170));
    rim.setColorAt(1.0, look == lkDown ? QColor(96, 103, 114) : QColor(22, 24, 27));
    p.setBrush(Qt::NoBrush);
    p.setPen(QPen(QBrush(rim), 1.0));
    p.drawEllipse(c, r - 0.5, r - 0.5);
    if (look == lkActive) {
        p.setPen(QPen(kAccent, 1.4));
        p.drawEllipse(c, r + 1.3, r + 1.3);
    }
    if (look == lkDown)
        p.translate(1, 1);
    const QColor glyph = look == lkActive ? QColor(255, 255, 255)
                         : look == lkDown ? QColor(196, 200, 206)
                                          : kGlyph;
    icon(p, look, glyph, faceMid);
    return img;
}

void IconRecord(QPainter& p, TLook look, const QColor&, const QColor&) {
    const QColor red = look == lkActive ? QColor(255, 72, 66)
                       : look == lkDown ? QColor(176, 28, 28)
                                        : QColor(226, 48, 44);
    if (look == lkActive) {
        QRadialGradient glow(QPointF(22, 22), 13);
        glow.setColorAt(0.5, QColor(255, 60, 50, 110));
        glow.setColorAt(1.0, QColor(255, 60, 50, 0));
        p.setPen(Qt::NoPen);
        p.setBrush(glow);
        p.drawEllipse(QPointF(22, 22), 13, 13);
    }
    QRadialGradient dot(QPointF(20, 19), 10);
    dot.setColorAt(0.0, red.lighter(135));
    dot.setColorAt(1.0, red);
    p.setPen(QPen(red.darker(160), 1.0));
    p.setBrush(dot);
    p.drawEllipse(QPointF(22, 22), 8, 8);
}

void IconCamera(QPainter& p, TLook, const QColor& glyph, const QColor& face) {
    p.setPen(Qt::NoPen);
    p.setBrush(glyph);
    p.drawRoundedRect(QRectF(17, 13.5, 9, 4), 1.2, 1.2);      // viewfinder bump
    p.drawRoundedRect(QRectF(11.5, 16, 21, 14.5), 2.5, 2.5);  // body
    p.setBrush(face);
    p.drawEllipse(QPointF(22, 23.3), 5.2, 5.2);  // lens opening
    p.setBrush(glyph);
    p.drawEllipse(QPointF(22, 23.3), 3.0, 3.0);  // glass
    p.setBrush(face);
    p.drawEllipse(QPointF(21, 22.3), 1.0, 1.0);  // reflection
    p.drawRect(QRectF(28, 18.5, 2.5, 1.5));      // flash
}

void IconEdit(QPainter& p, TLook, const QColor& glyph, const QColor& face) {
    // A picture: frame, hills and sun.
    p.setPen(QPen(glyph, 1.6));
    p.setBrush(Qt::NoBrush);
    p.drawRect(QRectF(11.5, 13.5, 17, 14));
    QPainterPath hills;
    hills.moveTo(12.5, 26.5);
    hills.lineTo(17.5, 20);
    hills.lineTo(21, 24);
    hills.lineTo(23.5, 21.5);
    hills.lineTo(27.5, 26.5);
    hills.closeSubpath();
    p.setPen(Qt::NoPen);
    p.setBrush(glyph);
    p.drawPath(hills);
    p.drawEllipse(QPointF(24.5, 17.5), 1.7, 1.7);
    // A pencil across the lower right corner, with a gap cut around it.
    p.save();
    p.translate(26.5, 26.5);
    p.rotate(-45);
    p.setBrush(face);
    p.drawRect(QRectF(-9.5, -3.6, 20, 7.2));
    p.setBrush(glyph);
    p.drawRect(QRectF(-6, -2.2, 12, 4.4));                                           // shaft
    p.drawRect(QRectF(7, -2.2, 2.5, 4.4));                                           // eraser
    DrawTriangle(p, QPointF(-6, -2.2), QPointF(-6, 2.2), QPointF(-10.5, 0), glyph);  // tip
    p.restore();
}

void IconMail(QPainter& p, TLook, const QColor& glyph, const QColor& face) {
    const QRectF env(11, 15, 22, 15);
    p.setPen(Qt::NoPen);
    p.setBrush(glyph);
    p.drawRoundedRect(env, 1.5, 1.5);
    p.setPen(QPen(face, 1.5));
    p.setBrush(Qt::NoBrush);
    QPainterPath flap;
    flap.moveTo(env.left() + 1, env.top() + 1);
    flap.lineTo(env.center().x(), env.top() + 8.5);
    flap.lineTo(env.right() - 1, env.top() + 1);
    p.drawPath(flap);
    p.setPen(QPen(face, 1.0));
    p.drawLine(QPointF(env.left() + 1, env.bottom() - 1), QPointF(env.left() + 8, env.top() + 7));
    p.drawLine(QPointF(env.right() - 1, env.bottom() - 1), QPointF(env.right() - 8, env.top() + 7));
}

void IconGear(QPainter& p, TLook, const QColor& glyph, const QColor& face) {
    const QPointF c(22, 22);
    p.setPen(Qt::NoPen);
    p.setBrush(glyph);
    for (int i = 0; i < 8; ++i) {
        p.save();
        p.translate(c);
        p.rotate(i * 45.0);
        p.drawRoundedRect(QRectF(-2.2, -10.5, 4.4, 5), 0.8, 0.8);
        p.restore();
    }
    p.drawEllipse(c, 7.5, 7.5);
    p.setBrush(face);
    p.drawEllipse(c, 3.2, 3.2);
}

// A 9 x 9 window button: minimise (a bar) or close (a cross).
QImage DrawSmallButton(const QImage& skin, const QRect& place, bool close, TLook look) {
    QImage img = skin.copy(place).convertToFormat(QImage::Format_RGB32);
    QPainter p(&img);
    const bool down = look == lkDown;
    p.fillRect(QRect(0, 0, 9, 9),
               down ? (close ? QColor(214, 52, 46) : kAccent.darker(115)) : QColor(48, 52, 59));
    p.setPen(down ? QColor(20, 22, 25) : QColor(112, 119, 130));
    p.drawRect(QRect(0, 0, 8, 8));
    const QColor glyph = down ? QColor(255, 255, 255) : kGlyph;
    if (close) {
        p.end();
        for (int i = 2; i <= 6; ++i) {
            img.setPixel(i, i, glyph.rgb());
            img.setPixel(8 - i, i, glyph.rgb());
        }
    } else {
        p.fillRect(QRect(2, 5, 5, 2), glyph);
    }
    return img;
}

void DrawBin(QPainter& p, const QPointF& at, const QColor& glyph, const QColor& face) {
    // A waste bin 9 wide and 11 high with its top-left corner at `at`.
    p.setPen(Qt::NoPen);
    p.setBrush(glyph);
    p.drawRect(QRectF(at.x() + 3, at.y(), 3, 1.2));    // handle
    p.drawRect(QRectF(at.x(), at.y() + 1.2, 9, 1.6));  // lid
    QPainterPath body;
    body.moveTo(at.x() + 0.8, at.y() + 3.6);
    body.lineTo(at.x() + 8.2, at.y() + 3.6);
    body.lineTo(at.x() + 7.4, at.y() + 11);
    body.lineTo(at.x() + 1.6, at.y() + 11);
    body.closeSubpath();
    p.drawPath(body);
    p.setBrush(face);
    for (double dx : {2.9, 5.1})
        p.drawRect(QRectF(at.x() + dx, at.y() + 5, 1.0, 4.6));
}

// The remove buttons: a rounded plate with a waste bin (and a list for
// "remove all"); their hints carry the words.
QImage DrawWideButton(const QImage& skin, const QRect& place, bool all, TLook look) {
    QImage img = skin.copy(place).convertToFormat(QImage::Format_RGB32);
    QPainter p(&img);
    p.setRenderHint(QPainter::Antialiasing);
    const QRectF plate = QRectF(0.5, 0.5, place.width() - 1, place.height() - 1);
    QLinearGradient face(0, 0, 0, place.height());
    QColor faceMid;
    if (look == lkDown) {
        face.setColorAt(0.0, QColor(34, 37, 42));
        face.setColorAt(1.0, QColor(66, 72, 81));
        faceMid = QColor(48, 52, 59);
    } else if (look == lkActive) {
        face.setColorAt(0.0, QColor(108, 116, 128));
        face.setColorAt(1.0, QColor(60, 65, 73));
        faceMid = QColor(84, 90, 100);
    } else {
        face.setColorAt(0.0, QColor(92, 99, 110));
        face.setColorAt(1.0, QColor(50, 54, 61));
        faceMid = QColor(70, 75, 84);
    }
    p.setPen(QPen(look == lkActive ? kAccent : QColor(16, 17, 19), 1.0));
    p.setBrush(face);
    p.drawRoundedRect(plate, 4, 4);
    if (look == lkDown)
        p.translate(1, 1);
    const QColor glyph = look == lkActive ? QColor(255, 255, 255) : kGlyph;
    if (!all) {
        DrawBin(p, QPointF((place.width() - 9) / 2.0, 3.5), glyph, faceMid);
    } else {
        const double left = (place.width() - 22) / 2.0;
        p.setPen(Qt::NoPen);
        p.setBrush(glyph);
        for (int i = 0; i < 3; ++i)
            p.drawRect(QRectF(left, 5 + i * 3.2, 9, 1.6));
        DrawBin(p, QPointF(left + 13, 3.5), glyph, faceMid);
    }
    return img;
}

// imgAVI: a film strip, 24 x 24, saved with 8 bits per pixel. The panel
// draws it transparently with the colour of its lower-left pixel, magenta,
// as the transparent colour; its soft edges are blended with the dark
// inside of the thumbnail boxes it is drawn on.
QImage DrawAviIcon() {
    QImage strip(24, 24, QImage::Format_ARGB32_Premultiplied);
    strip.fill(Qt::transparent);
    QPainter p(&strip);
    p.setRenderHint(QPainter::Antialiasing);
    p.translate(12, 12);
    p.rotate(-12);
    p.setPen(Qt::NoPen);
    p.setBrush(QColor(58, 62, 70));
    p.drawRect(QRectF(-11, -8, 22, 16));
    p.setBrush(QColor(232, 234, 238));
    for (int i = 0; i < 5; ++i) {
        p.drawRect(QRectF(-10 + i * 4.3, -7, 2.2, 2));
        p.drawRect(QRectF(-10 + i * 4.3, 5, 2.2, 2));
    }
    p.setBrush(QColor(88, 166, 255));
    p.drawRect(QRectF(-9.5, -4, 8.5, 8));
    p.setBrush(QColor(255, 196, 64));
    p.drawRect(QRectF(1, -4, 8.5, 8));
    p.end();

    const QColor boxInside(16, 17, 19);
    QImage img(24, 24, QImage::Format_RGB888);
    img.fill(boxInside);
    {
        QPainter over(&img);
        over.drawImage(0, 0, strip);
    }
    for (int y = 0; y < 24; ++y)
        for (int x = 0; x < 24; ++x)
            if (qAlpha(strip.pixel(x, y)) < 128)
                img.setPixel(x, y, kMagenta);
    return img.convertToFormat(QImage::Format_Indexed8, Qt::ThresholdDither);
}

// ---- output ----

struct TOutput {
    QString dir;
    std::vector<QString> names;
    std::map<QString, QImage> images;
    bool ok = true;

    void Save(const QString& name, const QImage& picture) {
        // 24-bit RGB, except pictures that already have 8 bits per pixel.
        const QImage image = picture.format() == QImage::Format_Indexed8
                                 ? picture
                                 : picture.convertToFormat(QImage::Format_RGB888);
        const QString path = dir + "/panel/" + name;
        if (!image.save(path, "PNG")) {
            std::fprintf(stderr, "panelskin: cannot write %s\n", qPrintable(path));
            ok = false;
        }
        names.push_back(name);
        images[name] = image;
    }
};

bool WriteQrc(const QString& path, const std::vector<QString>& names) {
    QFile f(path);
    if (!f.open(QIODevice::WriteOnly | QIODevice::Truncate | QIODevice::Text))
        return false;
    QTextStream out(&f);
    out << "<!DOCTYPE RCC>\n<RCC version=\"1.0\">\n<qresource prefix=\"/panel\">\n";
    for (const QString& n : names)
        out << "    <file alias=\"" << n << "\">panel/" << n << "</file>\n";
    out << "</qresource>\n</RCC>\n";
    return true;
}

QImage Preview(const TOutput& out) {
    const QImage& skin = out.images.at("back.png");
    // The assembled panel: skin and up pictures in their places.
    QImage panel = skin.convertToFormat(QImage::Format_RGB32);
    {
        QPainter p(&panel);
        for (const auto& b : kBigButtons)
            p.drawImage(b.rect.topLeft(), out.images.at(QString(b.name) + "_up.png"));
        p.drawImage(kMinimize.topLeft(), out.images.at("minimize_up.png"));
        p.drawImage(kClose.topLeft(), out.images.at("close_up.png"));
        p.drawImage(kDelete.topLeft(), out.images.at("delete_up.png"));
        p.drawImage(kDeleteAll.topLeft(), out.images.at("deleteall_up.png"));
        // Sample thumbnails: two pictures, a recording and an empty slot.
        for (int i = 0; i < 3; ++i) {
            const QRect v = kViews[i];
            if (i == 2) {
                // As the panel draws it: magenta is transparent.
                QImage icon = out.images.at("avi.png").convertToFormat(QImage::Format_ARGB32);
                for (int y = 0; y < icon.height(); ++y)
                    for (int x = 0; x < icon.width(); ++x)
                        if ((icon.pixel(x, y) & 0xFFFFFF) == (kMagenta & 0xFFFFFF))
                            icon.setPixel(x, y, 0);
                p.drawImage(QPoint(v.left() + 23, v.top() + 11), icon);
            } else {
                QLinearGradient sky(0, v.top(), 0, v.bottom());
                sky.setColorAt(0, QColor(120, 170, 220));
                sky.setColorAt(1, QColor(70, 120, 60));
                p.fillRect(v, sky);
            }
            p.setPen(Qt::black);
            p.setFont(QFont("Sans", 6));
            p.drawText(QRect(v.left(), 124, 70, 14), Qt::AlignCenter,
                       i == 2 ? "video000003.avi" : QString("img00000%1.jpg").arg(i + 1));
        }
    }
    const int scale = 2;
    const int gap = 16;
    QImage sheet(kWidth * scale * 2 + gap * 3, kHeight * scale + 44 * scale * 3 + gap * 4,
                 QImage::Format_RGB32);
    sheet.fill(QColor(90, 110, 140));
    // The window shows the panel where the skin is not magenta; a
    // checkerboard stands for the desktop elsewhere.
    QImage normal(kWidth, kHeight, QImage::Format_RGB32);
    normal.fill(QColor(90, 110, 140));
    {
        QPainter p(&normal);
        p.drawImage(QPoint(0, 0), panel, QRect(0, 0, kWidth, kNormalHeight));
    }
    QImage expanded(kWidth, kHeight, QImage::Format_RGB32);
    expanded.fill(QColor(90, 110, 140));
    {
        QPainter p(&expanded);
        p.drawImage(QPoint(0, 0), panel);
    }
    for (QImage* img : {&normal, &expanded}) {
        const int h = img == &normal ? kNormalHeight : kHeight;
        for (int y = 0; y < h; ++y)
            for (int x = 0; x < kWidth; ++x)
                if (skin.pixel(x, y) == kMagenta) {
                    const bool light = ((x / 4) + (y / 4)) % 2 == 0;
                    img->setPixel(x, y, light ? qRgb(210, 210, 210) : qRgb(170, 170, 170));
                }
    }
    QPainter p(&sheet);
    p.drawImage(QRect(gap, gap, kWidth * scale, kHeight * scale), normal);
    p.drawImage(QRect(gap * 2 + kWidth * scale, gap, kWidth * scale, kHeight * scale), expanded);
    // Every look of every button.
    int y = gap * 2 + kHeight * scale;
    for (int look = 0; look < 3; ++look) {
        int x = gap;
        for (const auto& b : kBigButtons) {
            const QImage& img = out.images.at(QString(b.name) + "_" + kLookNames[look] + ".png");
            p.drawImage(QRect(x, y, 44 * scale, 44 * scale), img);
            x += 44 * scale + 6;
        }
        for (const char* wide : {"delete", "deleteall"}) {
            const QImage& img = out.images.at(QString(wide) + "_" + kLookNames[look] + ".png");
            p.drawImage(QRect(x, y, img.width() * scale, img.height() * scale), img);
            x += img.width() * scale + 6;
        }
        if (look < 2)
            for (const char* small : {"minimize", "close"}) {
                const QImage& img = out.images.at(QString(small) + "_" + kLookNames[look] + ".png");
                p.drawImage(QRect(x, y, 9 * scale * 2, 9 * scale * 2), img);
                x += 9 * scale * 2 + 6;
            }
        if (look == 0)
            p.drawImage(QRect(x, y, 24 * scale * 2, 24 * scale * 2), out.images.at("avi.png"));
        y += 44 * scale + gap / 2;
    }
    return sheet;
}

}  // namespace

int main(int argc, char** argv) {
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    QGuiApplication app(argc, argv);
    if (argc < 2) {
        std::fprintf(stderr, "usage: panelskin <resources-dir> [<preview.png>]\n");
        return 2;
    }
    TOutput out;
    out.dir = QString::fromLocal8Bit(argv[1]);
    if (!QDir().mkpath(out.dir + "/panel")) {
        std::fprintf(stderr, "panelskin: cannot create %s/panel\n", qPrintable(out.dir));
        return 1;
    }

    const QImage skin = DrawSkin();
    int magenta = 0;
    for (int y = 0; y < kHeight; ++y)
        for (int x = 0; x < kWidth; ++x)
            if (skin.pixel(x, y) == kMagenta)
                ++magenta;
    if (magenta != kExpectedMagenta) {
        std::fprintf(stderr, "panelskin: the outline cuts %d pixels, not %d\n", magenta,
                     kExpectedMagenta);
        return 1;
    }
    out.Save("back.png", skin);

    const TIcon icons[] = {IconRecord, IconCamera, IconEdit, IconMail, IconGear};
    for (size_t i = 0; i < kBigButtons.size(); ++i)
        for (int look = 0; look < 3; ++look)
            out.Save(QString(kBigButtons[i].name) + "_" + kLookNames[look] + ".png",
                     DrawRoundButton(skin, kBigButtons[i].rect, TLook(look), icons[i]));
    for (int look = 0; look < 2; ++look) {
        out.Save(QString("minimize_") + kLookNames[look] + ".png",
                 DrawSmallButton(skin, kMinimize, false, TLook(look)));
        out.Save(QString("close_") + kLookNames[look] + ".png",
                 DrawSmallButton(skin, kClose, true, TLook(look)));
    }
    for (int look = 0; look < 3; ++look) {
        out.Save(QString("delete_") + kLookNames[look] + ".png",
                 DrawWideButton(skin, kDelete, false, TLook(look)));
        out.Save(QString("deleteall_") + kLookNames[look] + ".png",
                 DrawWideButton(skin, kDeleteAll, true, TLook(look)));
    }
    out.Save("avi.png", DrawAviIcon());

    if (!WriteQrc(out.dir + "/panel.qrc", out.names)) {
        std::fprintf(stderr, "panelskin: cannot write %s/panel.qrc\n", qPrintable(out.dir));
        return 1;
    }
    if (argc > 2 && !Preview(out).save(QString::fromLocal8Bit(argv[2]))) {
        std::fprintf(stderr, "panelskin: cannot write %s\n", argv[2]);
        return 1;
    }
    return out.ok ? 0 : 1;
}
