// SPDX-License-Identifier: GPL-3.0-or-later
// The preview window: a borderless top-level window whose frame is drawn
// from nine skin pictures around the live video, whose outline is cut to the
// frame's shape, which moves by dragging its top bar and refuses to close.
#pragma once

#include <QElapsedTimer>
#include <QImage>
#include <QLabel>
#include <QPoint>
#include <QRegion>
#include <QWidget>

#include "widgets/WindowDrag.h"
#include "media/VideoWindow.h"

class QPainter;

// A picture component of the preview window. The nine frame pieces are
// hidden: the window draws their pictures itself and keeps each component's
// bounds at the rectangle last drawn. `Image1` shows its picture as a control.
class TViewImage : public QWidget {
    Q_OBJECT

  public:
    TViewImage(QWidget* parent, const QString& name);

    // Sets the picture; with AutoSize the component takes the picture's size.
    void SetPicture(const QImage& picture);
    const QImage& Picture() const { return FPicture; }

    // Sizes the component to its picture whenever the picture changes.
    bool AutoSize = false;

    // Transparent drawing: pixels of the transparent colour leave the canvas
    // as it was. The colour is the picture's bottom-left pixel unless one has
    // been set with SetTransparentColor.
    void SetTransparent(bool transparent);
    bool Transparent() const { return FTransparent; }
    void SetTransparentColor(QRgb color);  // 0xRRGGBB
    QRgb TransparentColor() const;

    // Draws the picture into rect on canvas (scaled to the rect, pixel by
    // pixel, without smoothing), honouring the transparency.
    void Draw(QPainter& canvas, const QRect& rect) const;

  protected:
    void paintEvent(QPaintEvent* event) override;

  private:
    void PrepareDrawing();

    QImage FPicture;
    QImage FDrawn;  // the picture as drawn: transparent pixels with alpha 0
    bool FTransparent = false;
    bool FFixedTransparentColor = false;
    QRgb FTransparentColor = 0;
};

class TViewForm : public QWidget {
    Q_OBJECT

  public:
    // The window is a top-level window owned by `owner` (destroyed with it).
    explicit TViewForm(QWidget* owner = nullptr);
    ~TViewForm() override;

    // Sizes the window around a video of Width x Height, or makes it cover
    // the primary screen's work area (the screen less the desktop's panels)
    // when the framed window would not fit there (result true). The size is
    // the camera's frame in the screen's device pixels: on a scaled screen
    // the video area is that many device pixels, so frames are shown pixel
    // for pixel at every scale.
    bool SetVideoSize(int Width, int Height);
    // The video area, in the program's units, that shows a frame of
    // `frame` device pixels pixel for pixel at the given scale.
    static QSize VideoAreaFor(const QSize& frame, qreal scale);
    // The top bar's state text: "( Record )" in white or "( Preview )" in
    // yellow; the window is repainted at once.
    void SetRecordState(bool Recording);
    // Another text in the top bar's state text ("( Finalisation... )").
    void SetStatusText(const QString& text);
    // The recording's elapsed time there, shown as it runs; screen readers
    // are told of it at most once a second.
    void ShowRecordTime(const QString& text);

    // A notice shown in the video area instead of the video (for example
    // that the camera went away), white on black; an empty text takes it
    // away and the video shows again.
    void SetVideoNotice(const QString& text);
    QString VideoNotice() const;

    // The video area in client coordinates.
    QRect GetVideoRect() const;
    // The window rectangle (screen coordinates) around a video of the given
    // size, from the window's current position.
    QRect GetFrameRect(int Width, int Height) const;
    // Draws the frame onto Canvas (client coordinates) and moves each frame
    // piece's component to the rectangle drawn.
    void PaintFrame(QPainter& Canvas);
    // Rebuilds the window's outline from the frame: magenta pixels are cut.
    void UpdateRegion();

    // The window-message hit test: HTCAPTION (2) on the title piece and the
    // top edge (the labels of the top bar included), HTNOWHERE (0) elsewhere.
    // `globalPos` is a screen position.
    int HitTest(const QPoint& globalPos) const;
    static constexpr int HTNOWHERE = 0;
    static constexpr int HTCAPTION = 2;

    // The face of the top bar's texts at a scale of the screen (1 = 100 %):
    // "MS Sans Serif", whose free face has bitmaps for 100 % only and stays
    // that small when scaled; above 100 % its scalable counterpart of the
    // same metrics, "Microsoft Sans Serif" (or the face standing in for it).
    static QFont TopBarFont(qreal scale);

    // The outline last given to the window (empty: none).
    const QRegion& Region() const { return FRegion; }

    // Components, named as their objectName().
    TViewImage* imgLT;
    TViewImage* imgTitle;
    TViewImage* imgT;
    TViewImage* imgRT;
    TViewImage* imgLeft;
    TViewImage* imgLB;
    TViewImage* imgRight;
    TViewImage* imgBottom;
    TViewImage* imgRB;
    media::TVideoWindow* VideoWindow;
    QLabel* lblSize;
    TViewImage* Image1;
    QLabel* Label1;
    QLabel* lblStatus;
    // The notice over the video area (hidden while there is none).
    QLabel* lblNotice;

  protected:
    bool event(QEvent* event) override;
    void paintEvent(QPaintEvent* event) override;
    void resizeEvent(QResizeEvent* event) override;
    void closeEvent(QCloseEvent* event) override;
    void mousePressEvent(QMouseEvent* event) override;
    void mouseMoveEvent(QMouseEvent* event) override;
    void mouseReleaseEvent(QMouseEvent* event) override;

  private:
    void FormCreate();
    void FormResize();
    void SetOutline(const QRegion& region);
    // Sizes the two labels of the top bar to their texts, keeping the state
    // text clear of the size text.
    void PlaceTopBarTexts();

    QRegion FRegion;
    bool FHasRegion = false;
    // Since screen readers were last told the recording's time.
    QElapsedTimer FTimeHeard;
    static constexpr qint64 kTimeHeardMs = 1000;
    TWindowDrag FDrag;  // moving by the top bar
};
