// SPDX-License-Identifier: GPL-3.0-or-later
// The camera lens that the suite's pictures share (the install menu's camera,
// the camera program's icon): a dark bezel, a metal ring, blue glass with its
// pupil, and reflections. Header only, for the picture generators.
#pragma once

#include <QColor>
#include <QConicalGradient>
#include <QPainter>
#include <QRadialGradient>

// Draws the lens of outer radius `lens` around `centre` with the painter's
// pen off. `detailed` false leaves out the pupil and the small reflection and
// enlarges the highlight, for pictures of a few pixels.
inline void DrawLens(QPainter& p, QPointF centre, qreal lens, bool detailed = true) {
    p.save();
    p.setPen(Qt::NoPen);
    p.setBrush(QColor(28, 32, 40));
    p.drawEllipse(centre, lens, lens);
    QConicalGradient ring(centre, 45);
    ring.setColorAt(0, QColor(220, 225, 235));
    ring.setColorAt(0.25, QColor(90, 96, 110));
    ring.setColorAt(0.5, QColor(230, 234, 240));
    ring.setColorAt(0.75, QColor(80, 86, 100));
    ring.setColorAt(1, QColor(220, 225, 235));
    p.setBrush(ring);
    p.drawEllipse(centre, lens * 0.86, lens * 0.86);
    QRadialGradient glass(QPointF(centre.x() + lens * 0.15, centre.y() + lens * 0.2), lens * 0.8);
    glass.setColorAt(0, QColor(60, 140, 255));
    glass.setColorAt(0.45, QColor(20, 50, 130));
    glass.setColorAt(1, QColor(5, 10, 30));
    p.setBrush(glass);
    p.drawEllipse(centre, lens * 0.7, lens * 0.7);
    if (detailed) {
        p.setBrush(QColor(0, 0, 0, 200));
        p.drawEllipse(centre, lens * 0.26, lens * 0.26);
    }
    const qreal highlight = detailed ? 0.13 : 0.18;
    p.setBrush(QColor(255, 255, 255, 200));
    p.drawEllipse(QPointF(centre.x() - lens * 0.3, centre.y() - lens * 0.3), lens * highlight,
                  lens * highlight);
    if (detailed) {
        p.setBrush(QColor(255, 255, 255, 90));
        p.drawEllipse(QPointF(centre.x() + lens * 0.28, centre.y() + lens * 0.34), lens * 0.06,
                      lens * 0.06);
    }
    p.restore();
}
