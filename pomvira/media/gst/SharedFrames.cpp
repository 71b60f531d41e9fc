// SPDX-License-Identifier: GPL-3.0-or-later
#include "SharedFrames.h"

#include <sys/mman.h>
#include <sys/socket.h>
#include <unistd.h>
#include <xcb/shm.h>
#include <xcb/xcb.h>
#include <xcb/xcbext.h>

#include <QByteArray>
#include <QGuiApplication>
#include <algorithm>
#include <chrono>
#include <cstdlib>
#include <iterator>
#include <utility>

namespace media::gst {

namespace {

// Frames the server has not said it has read after this long are taken as
// read (a request the server refused sends no completion): at worst a
// buffer is written while it is still being copied, and one frame tears.
constexpr int64_t kReadingLimitMs = 500;

int64_t NowMs() {
    return std::chrono::duration_cast<std::chrono::milliseconds>(
               std::chrono::steady_clock::now().time_since_epoch())
        .count();
}

xcb_connection_t* Connection(void* c) {
    return static_cast<xcb_connection_t*>(c);
}

// Memory is shared by passing its file descriptor over the connection: only
// a local socket can carry one (a display reached over the network, as
// through ssh, would lose its connection).
bool LocalConnection(xcb_connection_t* c) {
    sockaddr_storage address{};
    socklen_t length = sizeof address;
    return getsockname(xcb_get_file_descriptor(c), reinterpret_cast<sockaddr*>(&address),
                       &length) == 0 &&
           address.ss_family == AF_UNIX;
}

// Whether the server has answered the request, without waiting; its reply
// (null after an error) is then in *reply, for the caller to free.
bool Answered(xcb_connection_t* c, unsigned request, void** reply) {
    xcb_generic_error_t* error = nullptr;
    *reply = nullptr;
    if (!xcb_poll_for_reply(c, request, reply, &error))
        return false;
    std::free(error);
    return true;
}

// The display keeps 24-bit pixels as 32-bit little-endian words, blue in the
// lowest byte (Qt's RGB32), in every 24-bit true-colour visual.
bool DisplayTakesRgb32(xcb_connection_t* c) {
    const xcb_setup_t* setup = xcb_get_setup(c);
    if (!setup || setup->image_byte_order != XCB_IMAGE_ORDER_LSB_FIRST)
        return false;
    bool format = false;
    for (auto it = xcb_setup_pixmap_formats_iterator(setup); it.rem; xcb_format_next(&it))
        if (it.data->depth == 24)
            format = it.data->bits_per_pixel == 32 && it.data->scanline_pad == 32;
    if (!format)
        return false;
    for (auto screen = xcb_setup_roots_iterator(setup); screen.rem; xcb_screen_next(&screen)) {
        for (auto depth = xcb_screen_allowed_depths_iterator(screen.data); depth.rem;
             xcb_depth_next(&depth)) {
            if (depth.data->depth != 24)
                continue;
            for (auto v = xcb_depth_visuals_iterator(depth.data); v.rem; xcb_visualtype_next(&v)) {
                if (v.data->_class == XCB_VISUAL_CLASS_TRUE_COLOR &&
                    (v.data->red_mask != 0xff0000 || v.data->green_mask != 0xff00 ||
                     v.data->blue_mask != 0xff))
                    return false;
            }
        }
    }
    return true;
}

}  // namespace

// ---------------------------------------------------------------------------
// The pool
// ---------------------------------------------------------------------------

SharedFramePool::~SharedFramePool() {
    for (auto& buffer : buffers_)
        Free(*buffer);
}

size_t SharedFramePool::BufferCount() const {
    std::lock_guard<std::mutex> lock(mutex_);
    return buffers_.size();
}

SharedFramePool::Buffer* SharedFramePool::Find(const QImage& image) {
    for (auto& buffer : buffers_)
        if (buffer->data && buffer->data == image.constBits() && buffer->size == image.size())
            return buffer.get();
    return nullptr;
}

void SharedFramePool::Free(Buffer& buffer) {
    if (buffer.data)
        munmap(buffer.data, buffer.bytes);
    if (buffer.fd >= 0)
        close(buffer.fd);
    if (buffer.segment)
        stale_.push_back(buffer.segment);
    buffer = Buffer();
}

QImage SharedFramePool::Take(const std::shared_ptr<SharedFramePool>& pool, const QSize& size,
                             size_t most) {
    if (!pool || size.isEmpty())
        return QImage();
    const size_t bytes = size_t(size.width()) * 4 * size_t(size.height());
    std::lock_guard<std::mutex> lock(pool->mutex_);
    const uint64_t take = ++pool->takes_;
    // A buffer beyond the two that frames on time need, long unused, goes.
    auto& buffers = pool->buffers_;
    if (buffers.size() > kKeptBuffers) {
        for (auto it = buffers.begin(); it != buffers.end(); ++it) {
            if (!(*it)->lent && take - (*it)->lentAt > kIdleTakes) {
                pool->Free(**it);
                buffers.erase(it);
                break;
            }
        }
    }
    Buffer* chosen = nullptr;
    Buffer* spare = nullptr;  // free, of another size
    for (auto& buffer : buffers) {
        if (buffer->lent)
            continue;
        if (buffer->size == size) {
            chosen = buffer.get();
            break;
        }
        spare = buffer.get();
    }
    if (!chosen) {
        if (buffers.size() < std::min(most, kMaxBuffers)) {
            buffers.push_back(std::make_unique<Buffer>());
            spare = buffers.back().get();
        }
        if (!spare)
            return QImage();
        // Made anew at this size: the server's view of the old memory goes.
        pool->Free(*spare);
        const int fd = memfd_create("pomvira-frame", MFD_CLOEXEC);
        if (fd < 0)
            return QImage();
        void* data = ftruncate(fd, off_t(bytes)) == 0
                         ? mmap(nullptr, bytes, PROT_READ | PROT_WRITE, MAP_SHARED, fd, 0)
                         : MAP_FAILED;
        if (data == MAP_FAILED) {
            close(fd);
            return QImage();
        }
        spare->fd = fd;
        spare->data = static_cast<uchar*>(data);
        spare->bytes = bytes;
        spare->size = size;
        chosen = spare;
    }
    chosen->lent = true;
    chosen->lentAt = take;
    auto* info = new std::pair<std::shared_ptr<SharedFramePool>, Buffer*>(pool, chosen);
    return QImage(chosen->data, size.width(), size.height(), size.width() * 4,
                  QImage::Format_RGB32, &SharedFramePool::Release, info);
}

void SharedFramePool::Release(void* info) {
    auto* lease = static_cast<std::pair<std::shared_ptr<SharedFramePool>, Buffer*>*>(info);
    {
        std::lock_guard<std::mutex> lock(lease->first->mutex_);
        lease->second->lent = false;
    }
    delete lease;  // may be the pool's last owner
}

// ---------------------------------------------------------------------------
// The presenter
// ---------------------------------------------------------------------------

std::unique_ptr<SharedFramePresenter> SharedFramePresenter::Create() {
    // Qt's own switch for displays whose shared memory misbehaves.
    if (qEnvironmentVariableIsSet("QT_XCB_NO_MITSHM"))
        return nullptr;
    auto* x11 = qGuiApp ? qGuiApp->nativeInterface<QNativeInterface::QX11Application>() : nullptr;
    xcb_connection_t* c = x11 ? x11->connection() : nullptr;
    if (!c || xcb_connection_has_error(c) || !LocalConnection(c))
        return nullptr;
    // Known to Qt's connection already: no round trip.
    const xcb_query_extension_reply_t* shm = xcb_get_extension_data(c, &xcb_shm_id);
    if (!shm || !shm->present || !DisplayTakesRgb32(c))
        return nullptr;
    std::unique_ptr<SharedFramePresenter> presenter(
        new SharedFramePresenter(c, uint8_t(shm->first_event + XCB_SHM_COMPLETION)));
    QCoreApplication::instance()->installNativeEventFilter(presenter.get());
    return presenter;
}

SharedFramePresenter::SharedFramePresenter(void* connection, uint8_t completionEvent)
    : connection_(connection), completionEvent_(completionEvent) {
    // Buffers go by file descriptor (version 1.2): asked now, answered by
    // the time frames come.
    versionRequest_ = xcb_shm_query_version(Connection(connection_)).sequence;
    xcb_flush(Connection(connection_));
}

SharedFramePresenter::~SharedFramePresenter() {
    if (QCoreApplication* app = QCoreApplication::instance())
        app->removeNativeEventFilter(this);
    xcb_connection_t* c = Connection(connection_);
    if (versionOk_ < 0)
        xcb_discard_reply(c, versionRequest_);
    if (takes_ < 0 && window_)
        xcb_discard_reply(c, depthRequest_);
    if (gc_)
        xcb_free_gc(c, gc_);
    {
        std::lock_guard<std::mutex> lock(pool_->mutex_);
        for (uint32_t segment : pool_->stale_)
            xcb_shm_detach(c, segment);
        pool_->stale_.clear();
        for (auto& buffer : pool_->buffers_) {
            if (buffer->segment)
                xcb_shm_detach(c, buffer->segment);
            buffer->segment = 0;
        }
    }
    xcb_flush(c);
    reading_.clear();  // outside the lock: releasing an image takes it
}

bool SharedFramePresenter::WindowTakes(uintptr_t window) {
    xcb_connection_t* c = Connection(connection_);
    if (versionOk_ < 0) {
        void* reply = nullptr;
        if (!Answered(c, versionRequest_, &reply))
            return false;
        auto* version = static_cast<xcb_shm_query_version_reply_t*>(reply);
        versionOk_ = version && (version->major_version > 1 ||
                                 (version->major_version == 1 && version->minor_version >= 2));
        std::free(reply);
    }
    if (!versionOk_)
        return false;
    if (window != window_) {
        if (takes_ < 0 && window_)
            xcb_discard_reply(c, depthRequest_);
        if (gc_)
            xcb_free_gc(c, gc_);
        gc_ = 0;
        window_ = window;
        takes_ = -1;
        depthRequest_ = xcb_get_geometry(c, xcb_drawable_t(window)).sequence;
        xcb_flush(c);
    }
    if (takes_ < 0) {
        void* reply = nullptr;
        if (!Answered(c, depthRequest_, &reply))
            return false;
        auto* geometry = static_cast<xcb_get_geometry_reply_t*>(reply);
        takes_ = geometry && geometry->depth == 24 ? 1 : 0;
        std::free(reply);
        if (takes_) {
            gc_ = xcb_generate_id(c);
            const uint32_t noExposures = 0;
            xcb_create_gc(c, gc_, xcb_drawable_t(window), XCB_GC_GRAPHICS_EXPOSURES, &noExposures);
        }
    }
    return takes_ == 1;
}

bool SharedFramePresenter::Put(const QImage& image, uintptr_t window, const QPoint& at) {
    if (image.isNull() || image.format() != QImage::Format_RGB32 || !window)
        return false;
    const int64_t now = NowMs();
    for (auto it = reading_.begin(); it != reading_.end();)
        it = now - it->second.since < kReadingLimitMs ? std::next(it) : reading_.erase(it);
    if (reading_.size() >= kMaxReading || !WindowTakes(window))
        return false;
    xcb_connection_t* c = Connection(connection_);
    uint32_t segment = 0;
    {
        std::lock_guard<std::mutex> lock(pool_->mutex_);
        for (uint32_t stale : pool_->stale_)
            xcb_shm_detach(c, stale);
        pool_->stale_.clear();
        SharedFramePool::Buffer* buffer = pool_->Find(image);
        if (!buffer || (buffer->segment && reading_.count(buffer->segment)))
            return false;
        if (!buffer->segment) {
            const int fd = dup(buffer->fd);  // closed by xcb once sent
            if (fd < 0)
                return false;
            buffer->segment = xcb_generate_id(c);
            xcb_shm_attach_fd(c, buffer->segment, fd, 1);
        }
        segment = buffer->segment;
    }
    const auto w = uint16_t(image.width()), h = uint16_t(image.height());
    xcb_shm_put_image(c, xcb_drawable_t(window), gc_, w, h, 0, 0, w, h, int16_t(at.x()),
                      int16_t(at.y()), 24, XCB_IMAGE_FORMAT_Z_PIXMAP, 1, segment, 0);
    xcb_flush(c);
    reading_[segment] = InFlight{image, now};
    return true;
}

bool SharedFramePresenter::nativeEventFilter(const QByteArray& eventType, void* message,
                                             qintptr*) {
    if (eventType != "xcb_generic_event_t")
        return false;
    const auto* event = static_cast<const xcb_generic_event_t*>(message);
    if ((event->response_type & 0x7f) != completionEvent_)
        return false;
    const auto* done = reinterpret_cast<const xcb_shm_completion_event_t*>(event);
    // Dropping the image may release its buffer, which takes the pool's lock.
    return reading_.erase(done->shmseg) > 0;
}

}  // namespace media::gst
