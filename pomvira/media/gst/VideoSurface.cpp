// SPDX-License-Identifier: GPL-3.0-or-later
#include "VideoSurface.h"

#include <QCoreApplication>
#include <QExposeEvent>
#include <QGuiApplication>
#include <QImage>
#include <QKeyEvent>
#include <QMouseEvent>
#include <QPaintDevice>
#include <QPainter>
#include <QWheelEvent>
#include <QWidget>
#include <algorithm>
#include <cmath>
#include <utility>

#include "SharedFrames.h"

namespace media::gst {

namespace {

// One side of PictureRect: the start and length of `length` units of
// picture in `room` units, on device pixels.
std::pair<qreal, qreal> Side(qreal length, qreal room, qreal scale) {
    if (room - length < 1.0 / scale)
        return {0.0, room};
    const qreal size = std::round(length * scale) / scale;
    const qreal start = std::round((room - size) / 2 * scale) / scale;
    return {start, size};
}

}  // namespace

QRectF PictureRect(const QSize& frame, const QSizeF& area, qreal scale) {
    const QRectF whole(QPointF(0, 0), area);
    if (frame.isEmpty() || area.isEmpty())
        return whole;
    if (scale <= 0)
        scale = 1.0;
    const qreal fit =
        std::min(area.width() / frame.width(), area.height() / frame.height());
    const auto [x, width] = Side(frame.width() * fit, area.width(), scale);
    const auto [y, height] = Side(frame.height() * fit, area.height(), scale);
    return QRectF(x, y, width, height);
}

void PaintPicture(QPainter& painter, const QRectF& area, const QImage& image, qreal scale) {
    if (image.isNull()) {
        painter.fillRect(area, Qt::black);
        return;
    }
    const QRectF picture =
        PictureRect(image.size(), area.size(), scale).translated(area.topLeft());
    // Only the bars are filled: a frame that fills the area costs no fill.
    if (picture != area) {
        const QRectF bars[] = {
            QRectF(area.left(), area.top(), area.width(), picture.top() - area.top()),
            QRectF(area.left(), picture.bottom(), area.width(), area.bottom() - picture.bottom()),
            QRectF(area.left(), picture.top(), picture.left() - area.left(), picture.height()),
            QRectF(picture.right(), picture.top(), area.right() - picture.right(),
                   picture.height())};
        for (const QRectF& bar : bars)
            if (!bar.isEmpty())
                painter.fillRect(bar, Qt::black);
    }
    // Fast scaling: a preview is repainted at the camera's frame rate.
    painter.drawImage(picture, image);
}

VideoSurface::VideoSurface(QWidget* host) : store_(this), host_(host) {
    setSurfaceType(QSurface::RasterSurface);
    // No alpha channel: the buffer is never cleared before a frame.
    QSurfaceFormat format;
    format.setAlphaBufferSize(0);
    setFormat(format);
    // The keys stay with the top-level window, whose focus widget takes them.
    setFlag(Qt::WindowDoesNotAcceptFocus);
    // On X11 a window made inside a see-through one takes that window's
    // visual, alpha channel included; made before it has a parent it keeps
    // a visual without one when it is put inside (the X server composes
    // windows of different depths).
    if (QGuiApplication::platformName() == QLatin1String("xcb"))
        create();
}

void VideoSurface::Show(const QImage& image, SharedFramePresenter* presenter) {
    image_ = image;
    // Exposures paint the newest image through the buffer in any case.
    if (presenter && isExposed() && !image.isNull() &&
        image.size() == size() * devicePixelRatio() &&
        presenter->Put(image, uintptr_t(winId()), QPoint(0, 0))) {
        ++framesDrawn_;
        ++framesPut_;
        return;
    }
    Paint();
}

void VideoSurface::exposeEvent(QExposeEvent*) {
    Paint();
}

void VideoSurface::Paint() {
    const QRect area(QPoint(0, 0), size());
    if (!isExposed() || area.isEmpty())
        return;
    // The buffer follows the surface's size as it is drawn.
    if (store_.size() != area.size())
        store_.resize(area.size());
    store_.beginPaint(area);
    QPaintDevice* device = store_.paintDevice();
    if (device) {
        QPainter painter(device);
        PaintPicture(painter, area, image_, devicePixelRatio());
    }
    store_.endPaint();
    store_.flush(area);
    if (!image_.isNull())
        ++framesDrawn_;
}

bool VideoSurface::event(QEvent* e) {
    switch (e->type()) {
        case QEvent::MouseButtonPress:
        case QEvent::MouseButtonRelease:
        case QEvent::MouseButtonDblClick:
        case QEvent::MouseMove:
        case QEvent::Wheel:
        case QEvent::KeyPress:
        case QEvent::KeyRelease:
            if (ForwardInput(e))
                return true;
            break;
        default:
            break;
    }
    return QWindow::event(e);
}

bool VideoSurface::ForwardInput(QEvent* e) {
    if (!host_)
        return false;
    QWidget* top = host_->window();
    QWindow* target = top->windowHandle();
    if (!target || target == this)
        return false;
    // The surface covers its host exactly: its points are the host's.
    const QPointF offset(host_->mapTo(top, QPoint(0, 0)));
    switch (e->type()) {
        case QEvent::Wheel: {
            auto* w = static_cast<QWheelEvent*>(e);
            QWheelEvent forwarded(w->position() + offset, w->globalPosition(), w->pixelDelta(),
                                  w->angleDelta(), w->buttons(), w->modifiers(), w->phase(),
                                  w->inverted(), w->source(), w->pointingDevice());
            QCoreApplication::sendEvent(target, &forwarded);
            e->setAccepted(forwarded.isAccepted());
            return true;
        }
        case QEvent::KeyPress:
        case QEvent::KeyRelease: {
            auto* k = static_cast<QKeyEvent*>(e);
            QKeyEvent forwarded(k->type(), k->key(), k->modifiers(), k->nativeScanCode(),
                                k->nativeVirtualKey(), k->nativeModifiers(), k->text(),
                                k->isAutoRepeat(), ushort(k->count()), k->device());
            QCoreApplication::sendEvent(target, &forwarded);
            e->setAccepted(forwarded.isAccepted());
            return true;
        }
        default: {
            auto* m = static_cast<QMouseEvent*>(e);
            const QPointF local = m->position() + offset;
            QMouseEvent forwarded(m->type(), local, local, m->globalPosition(), m->button(),
                                  m->buttons(), m->modifiers(), m->pointingDevice());
            QCoreApplication::sendEvent(target, &forwarded);
            e->setAccepted(forwarded.isAccepted());
            return true;
        }
    }
}

}  // namespace media::gst
