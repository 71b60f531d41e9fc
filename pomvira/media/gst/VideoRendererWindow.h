// SPDX-License-Identifier: GPL-3.0-or-later
// The video renderer's window: a widget that paints the newest frame scaled
// to its rectangle and hands mouse and key input to a drain widget.
//
// Frames are produced on the streaming thread and handed over through a
// FrameMailbox: it keeps one pending frame under a mutex and posts one event
// to the window; frames arriving before the window has painted replace the
// pending one, so a slow user-interface thread never queues frames up.
//
// This header includes no GStreamer header: the window only sees images.
#pragma once

#include <QEvent>
#include <QImage>
#include <QPointer>
#include <QWidget>

#include <memory>
#include <mutex>

namespace media::gst {

class FrameMailbox {
  public:
    // The object that is told about new frames (on its own thread); null
    // stops the notices. Safe against a concurrent Post.
    void SetTarget(QObject* target);
    // Streaming thread: replaces the pending frame. firstOfStream marks the
    // first frame after the stream (re)started.
    void Post(QImage frame, bool firstOfStream);
    // Receiver: the pending frame, if any (cleared).
    bool Take(QImage* frame);
    // Receiver: the notice was handled; the next Post sends a new one.
    // Returns whether a first frame of a stream arrived since the last call.
    bool Acknowledge();

    static QEvent::Type NoticeType();

  private:
    std::mutex mutex_;
    QObject* target_ = nullptr;
    QImage pending_;
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

  protected:
    bool event(QEvent* e) override;
    void paintEvent(QPaintEvent* e) override;
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

    std::shared_ptr<FrameMailbox> mailbox_;
    QPointer<QWidget> drain_;
    QImage current_;
};

}  // namespace media::gst
