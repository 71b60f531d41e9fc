// SPDX-License-Identifier: GPL-3.0-or-later
// Frames drawn on an X11 display straight from memory the X server reads
// too (MIT-SHM with file descriptors): the streaming thread decodes a frame
// into one of a few such buffers, and the user-interface thread has the
// server copy that buffer into the window. The program copies no pixels and
// repaints no widget for the frame, which is a window-sized copy less per
// frame than painting it into the window's buffer first.
//
// A buffer lent out for decoding, or being read by the server, is not lent
// again: the server says when it has read one (a completion event). No
// buffer free (a server that is slow to answer) means the frame is decoded
// into ordinary memory and painted the usual way.
//
// Only 32-bit pixels (Qt's RGB32) into a 24-bit window of a display with
// the usual little-endian layout are put; anything else is left to the
// widget's painting.
#pragma once

#include <QAbstractNativeEventFilter>
#include <QImage>
#include <QPoint>
#include <QSize>
#include <cstdint>
#include <map>
#include <memory>
#include <mutex>
#include <vector>

namespace media::gst {

// The buffers, shared by the threads that decode into them and the one that
// has them drawn.
class SharedFramePool {
  public:
    SharedFramePool() = default;
    ~SharedFramePool();
    SharedFramePool(const SharedFramePool&) = delete;
    SharedFramePool& operator=(const SharedFramePool&) = delete;

    // Any thread: an RGB32 image of that size whose pixels are a shared
    // buffer, the pool's until the image and all its copies are gone; a
    // null image when every buffer is in use and no more than `most` can
    // be made, or none can be made.
    static QImage Take(const std::shared_ptr<SharedFramePool>& pool, const QSize& size,
                       size_t most = kMaxBuffers);

    // Buffers in the pool (made on demand, at most kMaxBuffers). Two serve
    // frames that come on time: the one shown and the one being made. A
    // third, made while the server still reads one, goes again once it
    // has not been lent for kIdleTakes frames.
    size_t BufferCount() const;
    static constexpr size_t kKeptBuffers = 2;
    static constexpr size_t kMaxBuffers = 3;
    static constexpr uint64_t kIdleTakes = 90;

  private:
    friend class SharedFramePresenter;
    struct Buffer {
        int fd = -1;
        uchar* data = nullptr;
        size_t bytes = 0;
        QSize size;
        // An image of it exists (the presenter holds one while the server
        // reads it).
        bool lent = false;
        uint64_t lentAt = 0;   // the take it was last lent by
        uint32_t segment = 0;  // the server's name for it (0: not attached)
    };
    static void Release(void* info);
    // The buffer holding the image's pixels, or null (under mutex_).
    Buffer* Find(const QImage& image);
    // Lets the buffer's memory go (under mutex_); the server's view of it
    // is detached by the presenter.
    void Free(Buffer& buffer);

    mutable std::mutex mutex_;
    std::vector<std::unique_ptr<Buffer>> buffers_;
    uint64_t takes_ = 0;
    // Segments of buffers made anew at another size, to be detached.
    std::vector<uint32_t> stale_;
};

// The user-interface thread's side: puts pool images into windows.
class SharedFramePresenter : public QAbstractNativeEventFilter {
  public:
    // Null unless the application is on an X11 display whose server takes
    // shared memory by file descriptor and stores 24-bit pixels as 32-bit
    // little-endian words.
    static std::unique_ptr<SharedFramePresenter> Create();
    ~SharedFramePresenter() override;

    const std::shared_ptr<SharedFramePool>& Pool() const { return pool_; }

    // Has the server copy the image, one of the pool's, to `at` (device
    // pixels) of the X window. False, with nothing sent, when it is not a
    // pool image, the window's depth is not 24 bits (or not known yet:
    // the server is asked once per window, without waiting), or two frames
    // are still being read.
    bool Put(const QImage& image, uintptr_t window, const QPoint& at);

    bool nativeEventFilter(const QByteArray& eventType, void* message, qintptr* result) override;

  private:
    SharedFramePresenter(void* connection, uint8_t completionEvent);
    // Whether frames can be put into the window; asks the server the first
    // time, and answers false until it has answered.
    bool WindowTakes(uintptr_t window);

    void* connection_;  // xcb_connection_t, Qt's
    uint8_t completionEvent_;
    // The server's shared memory version, asked once (-1: no answer yet).
    unsigned versionRequest_ = 0;
    int versionOk_ = -1;
    std::shared_ptr<SharedFramePool> pool_ = std::make_shared<SharedFramePool>();
    // The window drawn in, its graphics context, and whether it takes the
    // frames (-1: asked, no answer yet).
    uintptr_t window_ = 0;
    uint32_t gc_ = 0;
    unsigned depthRequest_ = 0;
    int takes_ = -1;
    // The images being read by the server, by segment: held so that their
    // buffers stay lent until then (dropped, the buffer goes back to the
    // pool once no other copy of the image is left).
    struct InFlight {
        QImage image;
        int64_t since;  // steady clock, ms
    };
    std::map<uint32_t, InFlight> reading_;
    static constexpr size_t kMaxReading = 2;
};

}  // namespace media::gst
