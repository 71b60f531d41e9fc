// SPDX-License-Identifier: GPL-3.0-or-later
// The video renderer's window: a widget that paints the newest frame scaled
// to its rectangle and hands mouse and key input to a drain widget.
//
// Frames are produced on the streaming thread and handed over through a
// FrameMailbox: it keeps one pending frame under a mutex and posts one event
// to the window; frames arriving before the window has painted replace the
// pending one, so a slow user-interface thread never queues frames up.
// While nobody can see the video (VideoVisibility.h: the window minimised,
// unmapped, wholly covered), the streaming thread makes no frames: it keeps
// the newest as it came, with no notice to the window, and the window has
// that one made once the video can be seen again.
//
// On an X11 display, a frame decoded or converted into a shared buffer
// (SharedFrames.h) that fills the widget is copied in by the display: into
// an opaque top-level window, or into the surface below; other frames are
// painted.
// Inside an opaque top-level window the widget paints the frames. A
// see-through one (an alpha channel, cleared before each paint) has the
// frames drawn by a VideoSurface laid over the widget (a window of its own,
// without alpha channel); the widget itself paints the newest frame when it
// is painted as a whole (shown, or grabbed). A window inside another covers
// every widget drawn there: while a sibling widget stacked above the
// renderer overlaps it (a notice laid over the video), the surface is put
// away and the widget paints the frames, beneath that sibling.
//
// This header includes no GStreamer header: the window only sees images.
#pragma once

#include <QEvent>
#include <QImage>
#include <QPointer>
#include <QWidget>
#include <QWindow>

#include <QSize>
#include <atomic>
#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>

namespace media::gst {

class VideoSurface;
class VideoVisibility;
class SharedFramePool;
class SharedFramePresenter;

class FrameMailbox {
  public:
    // The object that is told about new frames (on its own thread); null
    // stops the notices. Safe against a concurrent Post.
    void SetTarget(QObject* target);
    // Streaming thread: replaces the pending frame. firstOfStream marks the
    // first frame after the stream (re)started.
    void Post(QImage frame, bool firstOfStream);
    // Makes the newest frame kept as it came into the image to show, given
    // the area and the shared buffers of that moment; null image when none
    // is kept.
    using HeldFrame =
        std::function<QImage(const QSize& area, const std::shared_ptr<SharedFramePool>& shared)>;
    // Set once, before any frame comes: what makes the held frames.
    void SetHeldFrames(HeldFrame make) { makeHeld_ = std::move(make); }
    // Streaming thread, while nobody sees the video: the newest frame is
    // kept as it came (by the maker above) instead of the pending one; the
    // window is told only of the first frame of a stream.
    void Hold(bool firstOfStream);
    // Streaming thread: lets go of the pending frame the window has not
    // taken (the newer one being made replaces it anyway), so that its
    // buffer can take the newer one; false when there was none.
    bool DropPending();
    // Receiver: the pending frame, if any (cleared); a held one is made now,
    // on the receiver's thread.
    bool Take(QImage* frame);
    // Whether anyone can see the frames: set by the window, read by the
    // streaming thread, which makes none while nobody can.
    void SetSeen(bool seen) { seen_.store(seen, std::memory_order_relaxed); }
    bool Seen() const { return seen_.load(std::memory_order_relaxed); }
    // Receiver: the notice was handled; the next Post sends a new one.
    // Returns whether a first frame of a stream arrived since the last call.
    bool Acknowledge();

    static QEvent::Type NoticeType();

    // The area the frames are shown in, in device pixels (empty: not known
    // yet): set by the window, read by the streaming thread, which need not
    // make frames larger than that.
    void SetArea(const QSize& area);
    QSize Area() const;

    // The buffers the window can have the display draw from directly, for
    // frames to be decoded into (null: none).
    void SetSharedPool(std::shared_ptr<SharedFramePool> pool);
    std::shared_ptr<SharedFramePool> SharedPool();

  private:
    void Notify(bool firstOfStream);

    std::atomic<uint64_t> area_{0};
    std::atomic<bool> seen_{true};
    std::mutex mutex_;
    std::shared_ptr<SharedFramePool> sharedPool_;
    QObject* target_ = nullptr;
    QImage pending_;
    HeldFrame makeHeld_;  // not changed once frames come
    bool held_ = false;
    bool havePending_ = false;
    bool noticePosted_ = false;
    bool streamStarted_ = false;
};

class VideoRendererWindow : public QWidget {
    Q_OBJECT
  public:
    explicit VideoRendererWindow(std::shared_ptr<FrameMailbox> mailbox);
    ~VideoRendererWindow() override;

    void SetDrain(QWidget* drain) { drain_ = drain; }
    QWidget* Drain() const { return drain_; }
    // The image last painted (or about to be): for tests and diagnostics.
    QImage CurrentFrame() const { return current_; }
    // The window the frames are drawn in on screen; null when the widget
    // draws them (an opaque top-level window).
    VideoSurface* Surface() const { return surface_; }
    // Whether the frames are drawn by the surface (there is one, and no
    // sibling lies over).
    bool DrawsOnSurface() const { return container_ && !covered_; }
    // Frames the display drew straight from the buffer they were decoded
    // or converted into (the widget did not paint them).
    uint64_t FramesPut() const { return framesPut_; }
    // Frames shown (drawn, or given to the surface or the display), each
    // once: for tests and diagnostics.
    uint64_t FramesShown() const { return framesShown_; }
    // Whether anyone can see the video (VideoVisibility.h).
    bool Seen() const;

  protected:
    bool event(QEvent* e) override;
    void paintEvent(QPaintEvent* e) override;
    void resizeEvent(QResizeEvent* e) override;
    void moveEvent(QMoveEvent* e) override;
    bool eventFilter(QObject* watched, QEvent* e) override;
    void mousePressEvent(QMouseEvent* e) override;
    void mouseReleaseEvent(QMouseEvent* e) override;
    void mouseDoubleClickEvent(QMouseEvent* e) override;
    void mouseMoveEvent(QMouseEvent* e) override;
    void wheelEvent(QWheelEvent* e) override;
    void keyPressEvent(QKeyEvent* e) override;
    void keyReleaseEvent(QKeyEvent* e) override;
    void contextMenuEvent(QContextMenuEvent* e) override;

  private:
    void ForwardMouse(QMouseEvent* e);
    // Watches the parent's children (the siblings) for changes that can
    // cover the renderer.
    void WatchSiblings();
    void CheckCoverLater();
    void CheckCover();
    // Makes the surface, or takes it away, for the top-level window the
    // widget is now in.
    void UpdateSurface();
    // Tells the mailbox the area the frames are drawn in.
    void UpdateArea();
    // Has the display draw the current frame from its shared buffer, where
    // it fills the widget exactly and nothing lies over it; false when the
    // widget must paint it.
    bool PutFrame();
    // Shows the newest frame of the mailbox, if there is one.
    void ShowNewest();
    void SeenChanged(bool seen);

    std::shared_ptr<FrameMailbox> mailbox_;
    QPointer<QWidget> drain_;
    QImage current_;
    VideoSurface* surface_ = nullptr;  // owned by container_
    QWidget* container_ = nullptr;     // a child of this widget
    QPointer<QWidget> watched_;
    bool covered_ = false;
    bool coverCheckPending_ = false;
    std::unique_ptr<SharedFramePresenter> presenter_;
    std::unique_ptr<VideoVisibility> visibility_;
    uint64_t framesPut_ = 0;
    uint64_t framesShown_ = 0;
    // The window's buffer holds an older frame than the display shows; the
    // top-level window watched for exposures, which show that buffer.
    bool bufferStale_ = false;
    QPointer<QWindow> exposeWatched_;
};

}  // namespace media::gst
