// SPDX-License-Identifier: GPL-3.0-or-later
// The window the video renderer paints its frames in: an opaque window of
// its own, laid over the renderer's widget, with a buffer of its own.
//
// A widget paints into its top-level window's buffer. The preview window is
// see-through outside its outline, so its buffer has an alpha channel, and
// such a buffer is cleared to transparent before each region is painted: a
// frame painted by a widget costs a fill of its whole rectangle besides its
// drawing. The surface's buffer has no alpha channel: each frame is drawn
// once and sent to the screen.
//
// Input that reaches the surface is handed to the top-level window of the
// widget it covers, at the same point: the widgets there (the renderer's
// widget, which passes it on to its drain) and whoever watches that window
// get it as if the surface were not there.
#pragma once

#include <QBackingStore>
#include <QImage>
#include <QPointer>
#include <QRectF>
#include <QWindow>

class QPainter;
class QWidget;

namespace media::gst {

class SharedFramePresenter;

// Where a frame of `frame` pixels is drawn in an area of `area` (in the
// window's units, `scale` device pixels each): scaled evenly to the largest
// size that fits, centred, the rest left black, so that a frame larger than
// the screen keeps its proportions. A side the frame fills to within a device
// pixel is filled whole (a window sized around the frame, rounded to the
// scale, shows no black line). Edges lie on device pixels.
QRectF PictureRect(const QSize& frame, const QSizeF& area, qreal scale);

// Paints `image` into `area` as PictureRect places it, black around it (and
// black alone for a null image).
void PaintPicture(QPainter& painter, const QRectF& area, const QImage& image, qreal scale);

class VideoSurface : public QWindow {
  public:
    // host: the widget the surface covers; it must outlive the surface or
    // be the surface's container's parent (as the renderer's widget is).
    explicit VideoSurface(QWidget* host);

    // Paints the image scaled evenly into the surface (PictureRect): now
    // when the surface is on screen, else when it is next exposed. A null
    // image paints black. With a presenter, an image that fills the surface
    // exactly is copied in by the display from its shared buffer when it can
    // be (SharedFrames.h), and painted otherwise.
    void Show(const QImage& image, SharedFramePresenter* presenter = nullptr);
    // Frames drawn on screen so far, and of them those the display copied
    // from their shared buffers: for tests and diagnostics.
    int FramesDrawn() const { return framesDrawn_; }
    int FramesPut() const { return framesPut_; }

  protected:
    bool event(QEvent* e) override;
    void exposeEvent(QExposeEvent* e) override;

  private:
    void Paint();
    bool ForwardInput(QEvent* e);

    QBackingStore store_;
    QPointer<QWidget> host_;
    QImage image_;
    int framesDrawn_ = 0;
    int framesPut_ = 0;
};

}  // namespace media::gst
