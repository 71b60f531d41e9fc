// SPDX-License-Identifier: GPL-3.0-or-later
#include "frmView.h"

#include <QCloseEvent>
#include <QGuiApplication>
#include <QMouseEvent>
#include <QPainter>
#include <QScreen>
#include <algorithm>
#include <climits>
#include <string>

#include "FormAccessibility.h"
#include "app/Application.h"
#include "app/WindowSystem.h"
#include "widgets/Accessibility.h"
#include "widgets/FormFonts.h"
#include "widgets/ImageRgn.h"
#include "files/TextConv.h"

namespace {

constexpr QRgb kMagenta = 0xFF00FF;
constexpr uint32_t kRegionTransparent = 0xFF00FF;  // 0x00BBGGRR
// The state text's place on the top bar, and the least room kept between it
// and the size text where a wider substitute face pushes it to the right.
const QPoint kStatusPos(220, 14);
constexpr int kTopBarTextGap = 4;

QImage SkinPicture(const char* name) {
    return QImage(QStringLiteral(":/view/") + QLatin1String(name));
}

QFont PixelFont(const QString& family, int pixelHeight) {
    QFont font(family);
    font.setPixelSize(pixelHeight);
    return font;
}

void SetTextColor(QWidget* widget, const QColor& color) {
    QPalette palette = widget->palette();
    palette.setColor(QPalette::WindowText, color);
    widget->setPalette(palette);
}

}  // namespace

// The skin pictures live in a static library: make sure they are linked in.
static void InitViewResources() {
    Q_INIT_RESOURCE(view);
}

// ---------------------------------------------------------------------------
// TViewImage
// ---------------------------------------------------------------------------
TViewImage::TViewImage(QWidget* parent, const QString& name) : QWidget(parent) {
    setObjectName(name);
    setAttribute(Qt::WA_TransparentForMouseEvents);
}

void TViewImage::SetPicture(const QImage& picture) {
    FPicture = picture;
    PrepareDrawing();
    if (AutoSize && !FPicture.isNull())
        resize(FPicture.size());
    update();
}

void TViewImage::SetTransparent(bool transparent) {
    FTransparent = transparent;
    PrepareDrawing();
    update();
}

void TViewImage::SetTransparentColor(QRgb color) {
    FFixedTransparentColor = true;
    FTransparentColor = color & 0xFFFFFF;
    PrepareDrawing();
    update();
}

QRgb TViewImage::TransparentColor() const {
    if (FFixedTransparentColor || FPicture.isNull())
        return FTransparentColor;
    return FPicture.pixel(0, FPicture.height() - 1) & 0xFFFFFF;
}

void TViewImage::PrepareDrawing() {
    if (FPicture.isNull()) {
        FDrawn = QImage();
        return;
    }
    if (!FTransparent) {
        FDrawn = FPicture.convertToFormat(QImage::Format_RGB32);
        return;
    }
    // Transparent pixels get alpha 0, so that drawing leaves the canvas there.
    FDrawn = KeyColorTransparent(FPicture, TransparentColor());
}

void TViewImage::Draw(QPainter& canvas, const QRect& rect) const {
    if (FDrawn.isNull() || rect.isEmpty())
        return;
    canvas.save();
    canvas.setRenderHint(QPainter::SmoothPixmapTransform, false);
    canvas.setCompositionMode(QPainter::CompositionMode_SourceOver);
    if (rect.size() == FDrawn.size()) {
        canvas.drawImage(rect.topLeft(), FDrawn);
    } else {
        canvas.drawImage(rect, FDrawn);
    }
    canvas.restore();
}

void TViewImage::paintEvent(QPaintEvent*) {
    QPainter painter(this);
    Draw(painter, rect());
}

// ---------------------------------------------------------------------------
// TViewForm
// ---------------------------------------------------------------------------
TViewForm::TViewForm(QWidget* owner)
    : QWidget(owner, Qt::Window | Qt::FramelessWindowHint), FDrag(this) {
    InitViewResources();
    RegisterFormFonts();
    setObjectName(QStringLiteral("ViewForm"));
    // The program's one task bar entry: the control panel belongs to this
    // window and stays out of the task bar.
    setWindowTitle(QString::fromLatin1(kApplicationTitle));
    setWindowIcon(ApplicationIcon());
    // Screen readers tell it from the panel, which has the same title.
    InstallFormAccessibility();
    SetAccessibleName(this, UiText("PreviewWindow", "Ombra Viewer – Aperçu"));
    setFont(PixelFont(QStringLiteral("Tahoma"), 11));
    // The frame is painted through one off-screen picture: no background is
    // erased first. Outside the outline the window is see-through (it paints
    // nothing there): the outline limits input, and compositors that ignore
    // it for drawing (Wayland) show nothing there either. Where the outline
    // alone cuts the window (X without a compositor) the window is opaque:
    // no alpha channel to clear, and the video is drawn in the window's own
    // buffer instead of a second window-sized one.
    setAttribute(Qt::WA_NoSystemBackground);
    if (!ShapeAloneDrawsOutlines())
        setAttribute(Qt::WA_TranslucentBackground);
    setGeometry(318, 96, 842, 597);

    auto framePiece = [this](const char* name, const char* file, bool autoSize) {
        auto* image = new TViewImage(this, QLatin1String(name));
        image->AutoSize = autoSize;
        image->SetPicture(SkinPicture(file));
        image->resize(image->Picture().size());
        image->hide();
        return image;
    };
    imgLT = framePiece("imgLT", "imgLT.bmp", true);
    imgLT->SetTransparent(true);
    imgTitle = framePiece("imgTitle", "imgTitle.bmp", false);
    imgT = framePiece("imgT", "imgT.bmp", false);
    imgRT = framePiece("imgRT", "imgRT.bmp", true);
    imgLeft = framePiece("imgLeft", "imgLeft.bmp", false);
    imgLB = framePiece("imgLB", "imgLB.bmp", true);
    imgRight = framePiece("imgRight", "imgRight.bmp", false);
    imgBottom = framePiece("imgBottom", "imgBottom.bmp", false);
    imgRB = framePiece("imgRB", "imgRB.bmp", true);
    imgRB->SetTransparent(true);

    VideoWindow = new media::TVideoWindow(this);
    VideoWindow->setObjectName(QStringLiteral("VideoWindow"));
    VideoWindow->SetColor(Qt::black);
    VideoWindow->VMROptions().SetMode(media::vmrWindowed);
    VideoWindow->VMROptions().SetStreams(1);
    VideoWindow->VMROptions().SetKeepAspectRatio(false);
    VideoWindow->setGeometry(16, 32, 665, 537);
    // Nothing to do there from the keyboard; a screen reader names it.
    VideoWindow->setFocusPolicy(Qt::NoFocus);
    SetAccessibleName(VideoWindow, UiText("PreviewWindow", "Image de la caméra"));

    auto label = [this](const char* name, const QFont& font, const QColor& color,
                        const QString& text) {
        auto* l = new QLabel(text, this);
        l->setObjectName(QLatin1String(name));
        l->setFont(font);
        SetTextColor(l, color);
        // Transparent background, and presses fall through to the window,
        // whose hit test decides (the top bar's labels move the window).
        l->setAutoFillBackground(false);
        l->setAttribute(Qt::WA_TransparentForMouseEvents);
        l->adjustSize();
        return l;
    };
    lblSize = label("lblSize", PixelFont(QStringLiteral("MS Sans Serif"), 11), Qt::white,
                    QStringLiteral("320 x 240"));
    lblSize->move(163, 14);

    Image1 = new TViewImage(this, QStringLiteral("Image1"));
    Image1->AutoSize = true;
    Image1->SetPicture(SkinPicture("Image1.jpg"));

    Label1 = label("Label1", PixelFont(QStringLiteral("Arial"), 9), QColor(0x67, 0x67, 0x67),
                   QStringLiteral("Ombra Viewer"));
    lblStatus = label("lblStatus", PixelFont(QStringLiteral("MS Sans Serif"), 11), Qt::white,
                      UiText("PreviewWindow", "( Preview )"));
    lblStatus->move(kStatusPos);

    lblNotice = new QLabel(this);
    lblNotice->setObjectName(QStringLiteral("lblNotice"));
    lblNotice->setFont(PixelFont(QStringLiteral("Tahoma"), 13));
    lblNotice->setAlignment(Qt::AlignCenter);
    lblNotice->setWordWrap(true);
    lblNotice->setAutoFillBackground(true);
    QPalette notice = lblNotice->palette();
    notice.setColor(QPalette::Window, Qt::black);
    notice.setColor(QPalette::WindowText, Qt::white);
    lblNotice->setPalette(notice);
    lblNotice->hide();

    FormCreate();
    // The native window exists from the start, so that the control panel
    // can belong to it before either window is shown.
    create();
    // Lay the frame pieces out for the form's own size, so that their bounds
    // (hit test, video area) are valid before the first paint.
    QImage scratch(1, 1, QImage::Format_RGB32);
    QPainter scratchPainter(&scratch);
    PaintFrame(scratchPainter);
    scratchPainter.end();
    FormResize();
}

TViewForm::~TViewForm() {
    // FormDestroy: the outline is taken off the window.
    if (FHasRegion)
        clearMask();
}

void TViewForm::FormCreate() {
    FRegion = QRegion();
    FHasRegion = false;
    imgLB->SetTransparentColor(kMagenta);
    imgLB->SetTransparent(true);
}

void TViewForm::PaintFrame(QPainter& Canvas) {
    const int W = width();
    const int H = height();
    auto place = [&Canvas](TViewImage* image, const QRect& rect) {
        image->setGeometry(rect);
        image->Draw(Canvas, rect);
    };
    // Stretched pieces never get a negative extent, however small the window.
    auto span = [](int from, int to) { return std::max(0, to - from); };

    place(imgLT, QRect(QPoint(0, 0), imgLT->size()));
    place(imgTitle, QRect(QPoint(imgLT->width(), 0), imgTitle->size()));
    const int topLeft = imgLT->width() + imgTitle->width();
    place(imgT, QRect(topLeft, 0, span(topLeft, W - imgRT->width()), imgT->height()));
    place(imgRT, QRect(QPoint(W - imgRT->width(), 0), imgRT->size()));
    place(imgLeft,
          QRect(0, imgLT->height(), imgLeft->width(), span(imgLT->height(), H - imgLB->height())));
    place(imgRight, QRect(W - imgRight->width(), imgRT->height(), imgRight->width(),
                          span(imgRT->height(), H - imgRB->height())));
    place(imgLB, QRect(QPoint(0, H - imgLB->height()), imgLB->size()));
    place(imgBottom, QRect(imgLB->width(), H - imgBottom->height(),
                           span(imgLB->width(), W - imgRB->width()), imgBottom->height()));
    place(imgRB, QRect(QPoint(W - imgRB->width(), H - imgRB->height()), imgRB->size()));
}

void TViewForm::paintEvent(QPaintEvent* event) {
    // The part to repaint only, straight into the window's buffer (which
    // the window system already double-buffers): no picture of the window's
    // size is made for each paint.
    const QRect R = event->rect();
    if (R.isEmpty())
        return;
    QPainter form(this);
    // Only inside the outline: outside it the window stays see-through.
    if (FHasRegion)
        form.setClipRegion(FRegion);
    form.fillRect(R, Qt::white);
    PaintFrame(form);
}

void TViewForm::UpdateRegion() {
    QImage bitmap(width(), height(), QImage::Format_RGB32);
    bitmap.fill(Qt::white);
    {
        QPainter painter(&bitmap);
        PaintFrame(painter);
    }
    if (FHasRegion)
        clearMask();
    FRegion = BitmapToRegion(bitmap, kRegionTransparent);
    SetOutline(FRegion);
}

void TViewForm::SetOutline(const QRegion& region) {
    // No region (an empty or fully cut picture): a plain rectangular window.
    FHasRegion = !region.isEmpty();
    if (FHasRegion)
        setMask(region);
}

QRect TViewForm::GetVideoRect() const {
    const int left = imgLeft->width(), top = imgT->height();
    return QRect(left, top, std::max(0, width() - imgRight->width() - left),
                 std::max(0, height() - imgBottom->height() - top));
}

QRect TViewForm::GetFrameRect(int Width, int Height) const {
    const QPoint at = pos();
    return QRect(at.x() - imgLeft->width(), at.y() - imgT->height(),
                 Width + imgLeft->width() + imgRight->width(),
                 Height + imgT->height() + imgBottom->height());
}

QSize TViewForm::VideoAreaFor(const QSize& frame, qreal scale) {
    if (scale <= 0)
        scale = 1.0;
    return QSize(std::max(1, qRound(frame.width() / scale)),
                 std::max(1, qRound(frame.height() / scale)));
}

bool TViewForm::SetVideoSize(int Width, int Height) {
    // Covering the screen leaves the desktop's panels and task bars free:
    // the work area counts as the screen here.
    QRect screen(0, 0, INT_MAX, INT_MAX);
    qreal scale = 1.0;
    if (QScreen* primary = QGuiApplication::primaryScreen()) {
        screen = primary->availableGeometry();
        scale = primary->devicePixelRatio();
    }
    const QSize video = VideoAreaFor(QSize(Width, Height), scale);
    const QRect F = GetFrameRect(video.width(), video.height());
    bool covers;
    if (F.width() < screen.width() && F.height() < screen.height()) {
        move(F.topLeft());
        resize(F.size());
        covers = false;
    } else {
        move(screen.topLeft());
        resize(screen.size());
        covers = true;
    }
    // A hidden window gets its resize notice only when shown: place the video
    // now as well, so that the renderer sees the final rectangle.
    if (!isVisible())
        FormResize();
    lblSize->setText(ShownText(QString::asprintf("%d x %d", Width, Height).toStdU16String()));
    PlaceTopBarTexts();
    UpdateRegion();
    update();
    return covers;
}

void TViewForm::SetRecordState(bool Recording) {
    if (Recording) {
        SetTextColor(lblStatus, QColor(0xFF, 0xFF, 0xFF));
        SetStatusText(UiText("PreviewWindow", "( Record )"));
    } else {
        SetTextColor(lblStatus, QColor(255, 255, 0));
        SetStatusText(UiText("PreviewWindow", "( Preview )"));
    }
    PlaceTopBarTexts();
    repaint();
}

void TViewForm::SetStatusText(const QString& text) {
    // The label is named by its text again.
    FTimeHeard.invalidate();
    SetAccessibleName(lblStatus, QString());
    lblStatus->setText(text);
}

void TViewForm::ShowRecordTime(const QString& text) {
    // While the label has a name of its own, its new texts tell screen
    // readers nothing: the name follows the text once a second.
    if (!FTimeHeard.isValid() || FTimeHeard.elapsed() >= kTimeHeardMs) {
        SetAccessibleName(lblStatus, text);
        FTimeHeard.start();
    }
    lblStatus->setText(text);
}

void TViewForm::SetVideoNotice(const QString& text) {
    lblNotice->setText(text);
    // Read as one sentence after another: a screen reader says no breaks.
    SetAccessibleName(lblNotice, text.simplified());
    lblNotice->setGeometry(GetVideoRect());
    lblNotice->setVisible(!text.isEmpty());
    // Above the video and the renderer's window, which would otherwise keep
    // showing the last frame.
    lblNotice->raise();
}

QString TViewForm::VideoNotice() const {
    return lblNotice->isHidden() ? QString() : lblNotice->text();
}

void TViewForm::FormResize() {
    VideoWindow->setGeometry(GetVideoRect());
    lblNotice->setGeometry(GetVideoRect());
    // Anchors: Image1 to the right and bottom edges, Label1 to the left and
    // bottom edges.
    Image1->move(width() - 16 - Image1->width(), height() - Image1->height());
    Label1->adjustSize();
    Label1->move(19, height() - 2 - Label1->height());
}

void TViewForm::resizeEvent(QResizeEvent* event) {
    QWidget::resizeEvent(event);
    FormResize();
}

bool TViewForm::event(QEvent* event) {
    // A label whose text changed asks its parent for a new layout: labels
    // size themselves to their text (the control panel writes the recording
    // time into lblStatus).
    if (event->type() == QEvent::LayoutRequest) {
        PlaceTopBarTexts();
        Label1->adjustSize();
    }
    return QWidget::event(event);
}

QFont TViewForm::TopBarFont(qreal scale) {
    return PixelFont(scale > 1.0 ? QStringLiteral("Microsoft Sans Serif")
                                 : QStringLiteral("MS Sans Serif"),
                     11);
}

void TViewForm::PlaceTopBarTexts() {
    // The face follows the scale of the screen the window is on.
    const QFont face = TopBarFont(devicePixelRatioF());
    if (lblSize->font() != face) {
        lblSize->setFont(face);
        lblStatus->setFont(face);
    }
    // The labels size themselves to their texts. The state text keeps its
    // place unless the size text, drawn in a face wider than the one the
    // places were made for, would run into it.
    lblSize->adjustSize();
    lblStatus->adjustSize();
    const int clear = lblSize->x() + lblSize->width() + kTopBarTextGap;
    lblStatus->move(std::max(kStatusPos.x(), clear), kStatusPos.y());
}

void TViewForm::closeEvent(QCloseEvent* event) {
    // FormClose: the close action is "none"; the window stays.
    event->ignore();
}

int TViewForm::HitTest(const QPoint& globalPos) const {
    const QPoint p = mapFromGlobal(globalPos);
    if (imgTitle->geometry().contains(p) || imgT->geometry().contains(p))
        return HTCAPTION;
    return HTNOWHERE;
}

void TViewForm::mousePressEvent(QMouseEvent* event) {
    // The rest of the frame ignores the mouse; only the top bar moves.
    event->accept();
    if (event->button() != Qt::LeftButton)
        return;
    const QPoint global = event->globalPosition().toPoint();
    if (HitTest(global) == HTCAPTION)
        FDrag.Press(global);
}

void TViewForm::mouseMoveEvent(QMouseEvent* event) {
    event->accept();
    FDrag.Move(event->globalPosition().toPoint(), event->buttons() & Qt::LeftButton);
}

void TViewForm::mouseReleaseEvent(QMouseEvent* event) {
    event->accept();
    if (event->button() == Qt::LeftButton)
        FDrag.Release();
}
