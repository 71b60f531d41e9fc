// SPDX-License-Identifier: GPL-3.0-or-later
#include "VideoRendererWindow.h"

#include <QChildEvent>
#include <QContextMenuEvent>
#include <QCoreApplication>
#include <QKeyEvent>
#include <QMouseEvent>
#include <QPainter>
#include <QResizeEvent>
#include <QWheelEvent>
#include <QWindow>
#include <QtMath>

#include "SharedFrames.h"
#include "VideoSurface.h"
#include "VideoVisibility.h"

namespace media::gst {

QEvent::Type FrameMailbox::NoticeType() {
    static const QEvent::Type type = QEvent::Type(QEvent::registerEventType());
    return type;
}

void FrameMailbox::SetTarget(QObject* target) {
    std::lock_guard<std::mutex> lock(mutex_);
    target_ = target;
    noticePosted_ = false;
}

void FrameMailbox::Post(QImage frame, bool firstOfStream) {
    QImage older;  // let go outside the lock
    std::lock_guard<std::mutex> lock(mutex_);
    older = std::exchange(pending_, std::move(frame));
    held_ = false;
    havePending_ = true;
    Notify(firstOfStream);
}

void FrameMailbox::Hold(bool firstOfStream) {
    QImage made;
    std::lock_guard<std::mutex> lock(mutex_);
    held_ = true;
    if (havePending_) {
        made = std::exchange(pending_, QImage());
        havePending_ = false;
    }
    // The window shows itself when a stream starts, seen or not.
    if (firstOfStream)
        Notify(true);
}

void FrameMailbox::Notify(bool firstOfStream) {
    if (firstOfStream)
        streamStarted_ = true;
    // The target cannot be destroyed while the lock is held (its destructor
    // clears it under the same lock), so posting to it here is safe.
    if (target_ && !noticePosted_) {
        noticePosted_ = true;
        QCoreApplication::postEvent(target_, new QEvent(NoticeType()));
    }
}

bool FrameMailbox::DropPending() {
    QImage dropped;  // let go outside the lock
    std::lock_guard<std::mutex> lock(mutex_);
    if (!havePending_)
        return false;
    dropped = std::exchange(pending_, QImage());
    havePending_ = false;
    return true;
}

bool FrameMailbox::Take(QImage* frame) {
    {
        std::lock_guard<std::mutex> lock(mutex_);
        if (havePending_) {
            *frame = std::exchange(pending_, QImage());
            havePending_ = false;
            return true;
        }
        if (!std::exchange(held_, false) || !makeHeld_)
            return false;
    }
    // Made outside the lock: the streaming thread goes on meanwhile.
    *frame = makeHeld_(Area(), SharedPool());
    return !frame->isNull();
}

void FrameMailbox::SetArea(const QSize& area) {
    const QSize valid = area.isValid() ? area : QSize(0, 0);
    area_.store(uint64_t(uint32_t(valid.width())) << 32 | uint32_t(valid.height()),
                std::memory_order_relaxed);
}

QSize FrameMailbox::Area() const {
    const uint64_t area = area_.load(std::memory_order_relaxed);
    return QSize(int(uint32_t(area >> 32)), int(uint32_t(area)));
}

void FrameMailbox::SetSharedPool(std::shared_ptr<SharedFramePool> pool) {
    std::lock_guard<std::mutex> lock(mutex_);
    sharedPool_ = std::move(pool);
}

std::shared_ptr<SharedFramePool> FrameMailbox::SharedPool() {
    std::lock_guard<std::mutex> lock(mutex_);
    return sharedPool_;
}

bool FrameMailbox::Acknowledge() {
    std::lock_guard<std::mutex> lock(mutex_);
    noticePosted_ = false;
    return std::exchange(streamStarted_, false);
}

VideoRendererWindow::VideoRendererWindow(std::shared_ptr<FrameMailbox> mailbox)
    : mailbox_(std::move(mailbox)) {
    // The window class name of the platform's renderer; the caption goes to
    // the window title, so the name never clashes with the layer's controls.
    setObjectName(QStringLiteral("VideoRenderer"));
    setAttribute(Qt::WA_OpaquePaintEvent);
    setAttribute(Qt::WA_NoSystemBackground);
    setFocusPolicy(Qt::NoFocus);
    mailbox_->SetTarget(this);
    WatchSiblings();
    visibility_ = std::make_unique<VideoVisibility>(this, [this](bool seen) { SeenChanged(seen); });
    mailbox_->SetSeen(visibility_->Seen());
}

bool VideoRendererWindow::Seen() const {
    return visibility_->Seen();
}

void VideoRendererWindow::SeenChanged(bool seen) {
    mailbox_->SetSeen(seen);
    // The newest frame, held while nobody saw the video, is made and shown
    // at once.
    if (seen)
        ShowNewest();
}

void VideoRendererWindow::UpdateSurface() {
    // A see-through top-level window clears what a widget paints there to
    // transparent first: inside one, the frames are drawn on a window of
    // their own. An opaque one draws them in its own buffer.
    const bool wanted = !isWindow() && window()->testAttribute(Qt::WA_TranslucentBackground);
    // Frames that fill the widget (or the surface) are drawn by the display
    // from the buffers they are decoded into.
    const bool putting = !isWindow();
    if (putting != (presenter_ != nullptr)) {
        presenter_ = putting ? SharedFramePresenter::Create() : nullptr;
        mailbox_->SetSharedPool(presenter_ ? presenter_->Pool() : nullptr);
    }
    if (wanted == (container_ != nullptr))
        return;
    if (!wanted) {
        delete container_;  // with the surface and its buffer
        container_ = nullptr;
        surface_ = nullptr;
        update();
        return;
    }
    surface_ = new VideoSurface(this);
    container_ = QWidget::createWindowContainer(surface_, this);
    container_->setObjectName(QStringLiteral("VideoSurface"));
    container_->setFocusPolicy(Qt::NoFocus);
    // Widgets under the pointer are looked up past the container: input the
    // surface hands to the top-level window reaches this widget.
    container_->setAttribute(Qt::WA_TransparentForMouseEvents);
    container_->setGeometry(rect());
    container_->setVisible(!covered_);
    if (!covered_)
        surface_->Show(current_);
}

VideoRendererWindow::~VideoRendererWindow() {
    // The filters on the siblings go with this object.
    mailbox_->SetTarget(nullptr);
    mailbox_->SetSharedPool(nullptr);
    // A renderer without window draws nothing: it makes no frames either.
    visibility_.reset();
    mailbox_->SetSeen(false);
}

bool VideoRendererWindow::event(QEvent* e) {
    if (e->type() == FrameMailbox::NoticeType()) {
        // A renderer shows its window when a stream starts.
        if (mailbox_->Acknowledge() && isHidden())
            show();
        // A frame nobody sees is left in the mailbox.
        if (Seen())
            ShowNewest();
        return true;
    }
    if (e->type() == QEvent::ParentChange) {
        WatchSiblings();
        UpdateSurface();
    }
    return QWidget::event(e);
}

void VideoRendererWindow::ShowNewest() {
    // The screen's scale may have changed since the last resize.
    UpdateArea();
    QImage next;
    if (!mailbox_->Take(&next))
        return;
    current_ = std::move(next);
    ++framesShown_;
    if (DrawsOnSurface())
        surface_->Show(current_, presenter_.get());
    else if (PutFrame())
        ++framesPut_;
    else
        update();
}

void VideoRendererWindow::resizeEvent(QResizeEvent* e) {
    QWidget::resizeEvent(e);
    if (container_)
        container_->setGeometry(rect());
    UpdateArea();
    CheckCoverLater();
}

void VideoRendererWindow::UpdateArea() {
    const qreal ratio = devicePixelRatioF();
    mailbox_->SetArea(QSize(qCeil(width() * ratio), qCeil(height() * ratio)));
}

bool VideoRendererWindow::PutFrame() {
    // Into the top-level window: an opaque one (a see-through one has 32-bit
    // pixels, and its surface draws the frames).
    if (!presenter_ || container_ || covered_ || !isVisible())
        return false;
    QWidget* top = window();
    const QWindow* handle = top->windowHandle();
    if (!handle || !handle->isExposed())
        return false;
    const qreal ratio = devicePixelRatioF();
    if (current_.size() != QSize(qCeil(width() * ratio), qCeil(height() * ratio)) ||
        visibleRegion() != QRegion(rect()))
        return false;
    const QPoint at = mapTo(top, QPoint(0, 0));
    if (!presenter_->Put(current_, uintptr_t(top->winId()),
                         QPoint(qRound(at.x() * ratio), qRound(at.y() * ratio))))
        return false;
    // An exposure shows the window's buffer as it is, unless something in
    // it is due to be painted: the frame is then painted there first.
    bufferStale_ = true;
    if (exposeWatched_ != handle) {
        if (exposeWatched_)
            exposeWatched_->removeEventFilter(this);
        exposeWatched_ = top->windowHandle();
        exposeWatched_->installEventFilter(this);
    }
    return true;
}

void VideoRendererWindow::moveEvent(QMoveEvent* e) {
    QWidget::moveEvent(e);
    CheckCoverLater();
}

void VideoRendererWindow::WatchSiblings() {
    QWidget* parent = isWindow() ? nullptr : parentWidget();
    if (parent == watched_)
        return;
    if (watched_) {
        watched_->removeEventFilter(this);
        for (QObject* child : watched_->children())
            child->removeEventFilter(this);
    }
    watched_ = parent;
    if (parent) {
        parent->installEventFilter(this);
        for (QObject* child : parent->children())
            if (child != this && child->isWidgetType())
                child->installEventFilter(this);
    }
    CheckCoverLater();
}

bool VideoRendererWindow::eventFilter(QObject* watched, QEvent* e) {
    if (watched == exposeWatched_) {
        if (e->type() == QEvent::Expose && bufferStale_)
            update();
        return false;
    }
    if (watched == watched_) {
        if (e->type() == QEvent::ChildAdded) {
            QObject* child = static_cast<QChildEvent*>(e)->child();
            if (child != this && child->isWidgetType())
                child->installEventFilter(this);
            CheckCoverLater();
        } else if (e->type() == QEvent::ChildRemoved) {
            CheckCoverLater();
        }
        return false;
    }
    switch (e->type()) {
        case QEvent::Show:
        case QEvent::Hide:
        case QEvent::Move:
        case QEvent::Resize:
        case QEvent::ZOrderChange:
            CheckCoverLater();
            break;
        default:
            break;
    }
    return false;
}

void VideoRendererWindow::CheckCoverLater() {
    // Once the change is complete (a raise comes after the show).
    if (coverCheckPending_)
        return;
    coverCheckPending_ = true;
    QMetaObject::invokeMethod(
        this,
        [this] {
            coverCheckPending_ = false;
            CheckCover();
        },
        Qt::QueuedConnection);
}

void VideoRendererWindow::CheckCover() {
    bool covered = false;
    if (QWidget* parent = watched_.data()) {
        const QObjectList& siblings = parent->children();
        // Later children are stacked above earlier ones.
        for (qsizetype i = siblings.indexOf(this) + 1; i > 0 && i < siblings.size(); ++i) {
            auto* w = qobject_cast<QWidget*>(siblings[i]);
            if (w && !w->isWindow() && w->isVisibleTo(parent) &&
                w->geometry().intersects(geometry()))
                covered = true;
        }
    }
    if (covered == covered_)
        return;
    covered_ = covered;
    if (!container_)
        return;  // the widget paints the frames in any case
    container_->setVisible(!covered);
    if (covered)
        update();
    else
        surface_->Show(current_);
}

void VideoRendererWindow::paintEvent(QPaintEvent*) {
    bufferStale_ = false;
    QPainter painter(this);
    PaintPicture(painter, rect(), current_, devicePixelRatioF());
}

void VideoRendererWindow::ForwardMouse(QMouseEvent* e) {
    if (!drain_) {
        e->ignore();
        return;
    }
    const QPointF global = e->globalPosition();
    const QPointF local = drain_->mapFromGlobal(global);
    const QPointF scene = drain_->window()->mapFromGlobal(global);
    QMouseEvent forwarded(e->type(), local, scene, global, e->button(), e->buttons(),
                          e->modifiers(), e->pointingDevice());
    QCoreApplication::sendEvent(drain_, &forwarded);
    e->accept();
}

void VideoRendererWindow::mousePressEvent(QMouseEvent* e) {
    ForwardMouse(e);
}
void VideoRendererWindow::mouseReleaseEvent(QMouseEvent* e) {
    ForwardMouse(e);
}
void VideoRendererWindow::mouseDoubleClickEvent(QMouseEvent* e) {
    ForwardMouse(e);
}
void VideoRendererWindow::mouseMoveEvent(QMouseEvent* e) {
    ForwardMouse(e);
}

void VideoRendererWindow::wheelEvent(QWheelEvent* e) {
    if (!drain_) {
        e->ignore();
        return;
    }
    const QPointF global = e->globalPosition();
    QWheelEvent forwarded(drain_->mapFromGlobal(global), global, e->pixelDelta(), e->angleDelta(),
                          e->buttons(), e->modifiers(), e->phase(), e->inverted(), e->source(),
                          e->pointingDevice());
    QCoreApplication::sendEvent(drain_, &forwarded);
    e->accept();
}

void VideoRendererWindow::keyPressEvent(QKeyEvent* e) {
    if (!drain_)
        return QWidget::keyPressEvent(e);
    QKeyEvent forwarded(e->type(), e->key(), e->modifiers(), e->text(), e->isAutoRepeat(),
                        ushort(e->count()));
    QCoreApplication::sendEvent(drain_, &forwarded);
}

void VideoRendererWindow::keyReleaseEvent(QKeyEvent* e) {
    if (!drain_)
        return QWidget::keyReleaseEvent(e);
    QKeyEvent forwarded(e->type(), e->key(), e->modifiers(), e->text(), e->isAutoRepeat(),
                        ushort(e->count()));
    QCoreApplication::sendEvent(drain_, &forwarded);
}

void VideoRendererWindow::contextMenuEvent(QContextMenuEvent* e) {
    if (!drain_) {
        e->ignore();
        return;
    }
    QContextMenuEvent forwarded(e->reason(), drain_->mapFromGlobal(e->globalPos()), e->globalPos(),
                                e->modifiers());
    QCoreApplication::sendEvent(drain_, &forwarded);
    e->accept();
}

}  // namespace media::gst
