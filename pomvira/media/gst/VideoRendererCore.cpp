// SPDX-License-Identifier: GPL-3.0-or-later
#include "VideoRendererCore.h"

#include <gst/app/gstappsink.h>
#include <gst/video/video.h>

#include <QGuiApplication>
#include <QScreen>
#include <array>
#include <atomic>
#include <cstring>
#include <memory>
#include <mutex>
#include <utility>

#include "JpegFrames.h"
#include "RawFrames.h"
#include "SharedFrames.h"
#include "media/MediaUtil.h"

namespace media::gst {

namespace {

// The images the camera's frames are decoded or converted into when the
// widget paints them, used again once the window has let them go: the
// preview allocates no memory per frame. An image handed out is no longer
// held here, so that writing into it copies nothing; Keep holds it again
// beside the window's copy.
class ImagePool {
  public:
    QImage Take(const QSize& size) {
        for (QImage& image : images_) {
            // Held here alone: no other thread can take a reference to it.
            if (image.size() == size && image.isDetached())
                return std::exchange(image, QImage());
        }
        return QImage();
    }
    void Keep(const QImage& image) {
        for (QImage& slot : images_) {
            if (slot.isNull()) {
                slot = image;
                return;
            }
        }
        // All in use (a slow window): the oldest goes when its last user lets it go.
        images_[next_] = image;
        next_ = (next_ + 1) % images_.size();
    }
    void Clear() { images_ = {}; }

  private:
    // The window's frame, the one posted to it and the one being decoded.
    std::array<QImage, 3> images_;
    size_t next_ = 0;
};

}  // namespace

// Turns a stream's frames into the images the window shows.
struct FrameMaker {
    // The video info of the caps last seen.
    CapsRef caps;
    GstVideoInfo info;
    // The caps are JPEG: the renderer decodes the frames itself.
    bool jpeg = false;
    // The images of frames drawn by the widget, used again.
    ImagePool images;

    // Takes the caps of the next frame; false when its frames cannot be shown.
    bool Use(GstCaps* sampleCaps) {
        if (caps.Get() == sampleCaps)
            return true;
        jpeg = gst_structure_has_name(gst_caps_get_structure(sampleCaps, 0), "image/jpeg");
        if (!jpeg && !gst_video_info_from_caps(&info, sampleCaps))
            return false;
        caps = CapsRef::Share(sampleCaps);
        return true;
    }

    // A frame that fills the area (in device pixels) is decoded or converted
    // into a buffer the display draws from, when the window has them; other
    // frames into an image of the pool, BGRx ones not at all (the image is
    // a view of the buffer). A JPEG frame is decoded at the scale that
    // covers the area. A null image for a frame that cannot be shown.
    // With the mailbox the frame goes to: two shared buffers serve while
    // the window takes each frame before the next comes; when it has not
    // taken the last, that one is dropped for its buffer (the new frame
    // replaces it anyway), and a third is made only while the display
    // still reads the other two.
    QImage Make(GstBuffer* buffer, const QSize& area,
                const std::shared_ptr<SharedFramePool>& shared, FrameMailbox* mailbox = nullptr) {
        const bool asItCame = !jpeg && GST_VIDEO_INFO_FORMAT(&info) == GST_VIDEO_FORMAT_BGRx;
        bool intoShared = false;
        const ImageTarget target = [&](const QSize& size) {
            if (size == area) {
                QImage image = SharedFramePool::Take(shared, size, SharedFramePool::kKeptBuffers);
                if (image.isNull() && mailbox && mailbox->DropPending())
                    image = SharedFramePool::Take(shared, size, SharedFramePool::kKeptBuffers);
                if (image.isNull())
                    image = SharedFramePool::Take(shared, size);
                if (!image.isNull()) {
                    intoShared = true;
                    return image;
                }
            }
            return asItCame ? QImage() : images.Take(size);
        };
        QImage image;
        if (jpeg) {
            GstMapInfo map;
            if (!gst_buffer_map(buffer, &map, GST_MAP_READ))
                return QImage();
            image = DecodeJpegFrame(map.data, map.size, area, target);
            gst_buffer_unmap(buffer, &map);
        } else {
            image = VideoRendererCore::ImageFromBuffer(buffer, &info, target);
        }
        if (intoShared)
            images.Clear();  // not needed while the shared buffers serve
        else if (!image.isNull() && !asItCame)
            images.Keep(image);
        return image;
    }
};

// The newest frame nobody has seen, kept as it came (a reference to the
// camera's buffer, no copy) until the video is seen again or a frame is
// shown: written by the streaming thread, taken by the window's.
class NewestFrame {
  public:
    void Keep(GstBuffer* buffer, GstCaps* caps) {
        GstRef<GstBuffer> older;  // let go outside the lock
        std::lock_guard<std::mutex> lock(mutex_);
        older = std::exchange(buffer_, GstRef<GstBuffer>::Share(buffer));
        if (caps_.Get() != caps)
            caps_ = CapsRef::Share(caps);
    }
    void Forget() {
        GstRef<GstBuffer> older;
        std::lock_guard<std::mutex> lock(mutex_);
        older = std::exchange(buffer_, GstRef<GstBuffer>());
    }
    // The frame made for the area, once; null image when none is kept.
    QImage Make(const QSize& area, const std::shared_ptr<SharedFramePool>& shared) {
        GstRef<GstBuffer> buffer;
        CapsRef caps;
        {
            std::lock_guard<std::mutex> lock(mutex_);
            buffer = std::exchange(buffer_, GstRef<GstBuffer>());
            caps = caps_;
        }
        FrameMaker once;
        return buffer && caps && once.Use(caps.Get()) ? once.Make(buffer.Get(), area, shared)
                                                      : QImage();
    }

  private:
    std::mutex mutex_;
    GstRef<GstBuffer> buffer_;
    CapsRef caps_;  // of the stream the buffer came in
};

// What the streaming thread needs; shared by the appsink callbacks and the
// probes, released by GStreamer when the sink lets go of them.
struct VideoRendererCore::StreamState {
    std::shared_ptr<FrameMailbox> mailbox;
    std::shared_ptr<NewestFrame> newest = std::make_shared<NewestFrame>();
    std::atomic<bool> newStream{true};
    // Streaming thread only.
    FrameMaker maker;
    CapsRef streamCaps;  // the caps event last passed to the sink
    // Nothing thrown on the streaming thread leaves the sink's callbacks.
    TCallbackGuard guard;

    // The sink's input, before the sink: while nobody sees the video and
    // the sink has its first frame (a graph starting needs one to reach
    // it), each frame is kept as it came and goes no further, so that the
    // sink neither waits for its time nor reports on it, and nothing is
    // made of it. The camera's thread is left with only its delivery.
    bool KeepUnseen(GstBuffer* buffer, GstElement* sink) {
        if (mailbox->Seen() || !streamCaps)
            return false;
        GST_OBJECT_LOCK(sink);
        const bool playing = GST_STATE(sink) == GST_STATE_PLAYING &&
                             GST_STATE_PENDING(sink) == GST_STATE_VOID_PENDING;
        GST_OBJECT_UNLOCK(sink);
        if (!playing)
            return false;
        newest->Keep(buffer, streamCaps.Get());
        mailbox->Hold(newStream.exchange(false));
        return true;
    }

    // A frame that cannot be shown is skipped; the stream goes on.
    GstFlowReturn Take(GstAppSink* sink, bool preroll) {
        guard.Run([&] {
            GstRef<GstSample> sample = GstRef<GstSample>::Adopt(
                preroll ? gst_app_sink_pull_preroll(sink) : gst_app_sink_pull_sample(sink));
            Deliver(sample);
        });
        return GST_FLOW_OK;
    }

    void Deliver(const GstRef<GstSample>& sample) {
        if (!sample)
            return;
        GstCaps* sampleCaps = gst_sample_get_caps(sample.Get());
        GstBuffer* buffer = gst_sample_get_buffer(sample.Get());
        if (!sampleCaps || !buffer || !maker.Use(sampleCaps))
            return;
        if (!mailbox->Seen()) {
            // Nobody sees the video: the frame is kept as it came, and made
            // only if it is shown (the window's first frame once it is seen).
            newest->Keep(buffer, sampleCaps);
            mailbox->Hold(newStream.exchange(false));
            return;
        }
        newest->Forget();
        QImage image = maker.Make(buffer, mailbox->Area(), mailbox->SharedPool(), mailbox.get());
        if (!image.isNull())
            mailbox->Post(std::move(image), newStream.exchange(false));
    }
};

namespace {

template <class State>
void DeleteStateRef(gpointer p) {
    delete static_cast<std::shared_ptr<State>*>(p);
}

}  // namespace

VideoRendererCore::VideoRendererCore()
    : mailbox_(std::make_shared<FrameMailbox>()), style_(WS_CAPTION | WS_THICKFRAME) {
    sink_ = ElementRef::Sink(gst_element_factory_make("appsink", nullptr));
    CapsRef caps = AcceptedCaps();
    g_object_set(sink_.Get(), "caps", caps.Get(), "enable-last-sample", FALSE, "max-buffers", 1u,
                 "drop", TRUE, "qos", TRUE, nullptr);

    auto state = std::make_shared<StreamState>();
    state->mailbox = mailbox_;
    mailbox_->SetHeldFrames(
        [newest = state->newest](const QSize& area, const std::shared_ptr<SharedFramePool>& shared) {
            return newest->Make(area, shared);
        });

    GstAppSinkCallbacks callbacks{};
    callbacks.new_sample = [](GstAppSink* sink, gpointer data) -> GstFlowReturn {
        return (*static_cast<std::shared_ptr<StreamState>*>(data))->Take(sink, false);
    };
    callbacks.new_preroll = [](GstAppSink* sink, gpointer data) -> GstFlowReturn {
        // A paused graph shows its first frame, as a renderer does.
        return (*static_cast<std::shared_ptr<StreamState>*>(data))->Take(sink, true);
    };
    gst_app_sink_set_callbacks(GST_APP_SINK(sink_.Get()), &callbacks,
                               new std::shared_ptr<StreamState>(state),
                               &DeleteStateRef<StreamState>);

    // A new stream (the graph started again) shows the window with its
    // first frame; frames nobody sees stop before the sink.
    PadRef pad = PadRef::Adopt(gst_element_get_static_pad(sink_.Get(), "sink"));
    gst_pad_add_probe(
        pad.Get(), GstPadProbeType(GST_PAD_PROBE_TYPE_EVENT_DOWNSTREAM | GST_PAD_PROBE_TYPE_BUFFER),
        [](GstPad* pad, GstPadProbeInfo* info, gpointer data) -> GstPadProbeReturn {
            auto& st = *static_cast<std::shared_ptr<StreamState>*>(data);
            if (GST_PAD_PROBE_INFO_TYPE(info) & GST_PAD_PROBE_TYPE_BUFFER) {
                GstElement* sink = GST_PAD_PARENT(pad);
                return sink && st->KeepUnseen(GST_PAD_PROBE_INFO_BUFFER(info), sink)
                           ? GST_PAD_PROBE_DROP
                           : GST_PAD_PROBE_OK;
            }
            GstEvent* event = GST_PAD_PROBE_INFO_EVENT(info);
            switch (GST_EVENT_TYPE(event)) {
                case GST_EVENT_STREAM_START:
                case GST_EVENT_FLUSH_STOP:
                    st->newStream = true;
                    break;
                case GST_EVENT_CAPS: {
                    GstCaps* caps = nullptr;
                    gst_event_parse_caps(event, &caps);
                    st->streamCaps = CapsRef::Share(caps);
                    break;
                }
                default:
                    break;
            }
            return GST_PAD_PROBE_OK;
        },
        new std::shared_ptr<StreamState>(state), &DeleteStateRef<StreamState>);
}

VideoRendererCore::~VideoRendererCore() {
    // No frame notices after this point; the window goes with the renderer.
    mailbox_->SetTarget(nullptr);
    if (window_) {
        window_->hide();
        window_->deleteLater();
    }
}

CapsRef VideoRendererCore::AcceptedCaps() {
    // BGRx is Qt's native 32-bit layout, painted without a pass of its own
    // (a converter in front of the renderer makes it first). A camera's
    // packed YUV, 24-bit RGB and JPEG frames are converted or decoded here,
    // once, straight into that layout (the sample grabber in front of the
    // renderer lets them through), JPEG frames no larger than the window
    // needs.
    return CapsRef::Adopt(gst_caps_from_string(
        "video/x-raw, format=(string){ BGRx, BGR, RGB, YUY2, UYVY, YVYU }; image/jpeg"));
}

void VideoRendererCore::SetRgbOnly(bool rgbOnly) {
    CapsRef caps = AcceptedCaps();
    if (rgbOnly) {
        CapsRef rgb = CapsRef::Adopt(gst_caps_from_string(
            "video/x-raw, format=(string){ BGRx, BGR, RGB }; image/jpeg"));
        caps = CapsRef::Adopt(gst_caps_intersect_full(caps.Get(), rgb.Get(),
                                                      GST_CAPS_INTERSECT_FIRST));
    }
    g_object_set(sink_.Get(), "caps", caps.Get(), nullptr);
}

namespace {

// Whether a mapped BGRx frame can be painted as Qt's RGB32 as it is: Qt
// requires the unused byte to read 0xff. GStreamer's converters write 0xff
// there; a source that leaves it 0 does so throughout, which the first and
// the last pixel show.
bool PadBytesOpaque(const GstVideoFrame& frame) {
    const auto* data = static_cast<const uint8_t*>(GST_VIDEO_FRAME_PLANE_DATA(&frame, 0));
    const size_t last = size_t(GST_VIDEO_FRAME_HEIGHT(&frame) - 1) *
                            size_t(GST_VIDEO_FRAME_PLANE_STRIDE(&frame, 0)) +
                        size_t(GST_VIDEO_FRAME_WIDTH(&frame) - 1) * 4;
    return data[3] == 0xff && data[last + 3] == 0xff;
}

void UnmapFrame(void* frame) {
    auto* f = static_cast<GstVideoFrame*>(frame);
    gst_video_frame_unmap(f);
    delete f;
}

}  // namespace

QImage VideoRendererCore::ImageFromBuffer(GstBuffer* buffer, const GstVideoInfo* info,
                                          const ImageTarget& target) {
    GstVideoInfo mapInfo = *info;
    auto frame = std::make_unique<GstVideoFrame>();
    if (!gst_video_frame_map(frame.get(), &mapInfo, buffer, GST_MAP_READ))
        return QImage();
    const auto* data = static_cast<const uchar*>(GST_VIDEO_FRAME_PLANE_DATA(frame.get(), 0));
    const QSize size(GST_VIDEO_FRAME_WIDTH(frame.get()), GST_VIDEO_FRAME_HEIGHT(frame.get()));
    const int stride = GST_VIDEO_FRAME_PLANE_STRIDE(frame.get(), 0);
    QImage image = target && !size.isEmpty() ? target(size) : QImage();
    if (image.size() != size || image.format() != QImage::Format_RGB32)
        image = QImage();
    if (image.isNull() && GST_VIDEO_FRAME_FORMAT(frame.get()) == GST_VIDEO_FORMAT_BGRx &&
        !size.isEmpty() && PadBytesOpaque(*frame)) {
        // Painted as it arrives: the image holds the mapped frame (and so a
        // reference to the buffer) until the last copy of the image goes.
        image = QImage(data, size.width(), size.height(), stride, QImage::Format_RGB32, &UnmapFrame,
                       frame.get());
        if (!image.isNull())
            frame.release();
        else
            gst_video_frame_unmap(frame.get());
        return image;
    }
    if (image.isNull() && IsRawFrameFormat(GST_VIDEO_FRAME_FORMAT(frame.get())))
        image = QImage(size, QImage::Format_RGB32);
    if (image.isNull() || !ConvertRawFrame(frame->info, data, stride, image.bits(),
                                           size_t(image.bytesPerLine())))
        image = QImage();
    gst_video_frame_unmap(frame.get());
    return image;
}

QImage VideoRendererCore::ImageFromFrame(const uint8_t* data, int width, int height, int stride,
                                         int gstFormat) {
    if (!data || width <= 0 || height <= 0 || !IsRawFrameFormat(GstVideoFormat(gstFormat)))
        return QImage();
    GstVideoInfo info;
    if (!gst_video_info_set_format(&info, GstVideoFormat(gstFormat), guint(width), guint(height)))
        return QImage();
    QImage image(width, height, QImage::Format_RGB32);
    if (image.isNull() ||
        !ConvertRawFrame(info, data, stride, image.bits(), size_t(image.bytesPerLine())))
        return QImage();
    return image;
}

VideoRendererWindow* VideoRendererCore::Window() {
    if (!window_) {
        window_ = new VideoRendererWindow(mailbox_);
        window_->setWindowTitle(caption_);
        window_->SetDrain(drain_);
        if (owner_)
            window_->setParent(owner_);
        ApplyWindowFlags(window_);
    }
    return window_;
}

void VideoRendererCore::ApplyWindowFlags(VideoRendererWindow* w) {
    const bool wasHidden = w->isHidden();
    const QRect geometry = w->geometry();
    Qt::WindowFlags flags;
    if (owner_) {
        flags = Qt::Widget;
    } else {
        flags = Qt::Window;
        if (!(style_ & WS_CAPTION))
            flags |= Qt::FramelessWindowHint;
        if (styleEx_ & WS_EX_TOPMOST)
            flags |= Qt::WindowStaysOnTopHint;
    }
    // Qt adds hints of its own to a top-level window's flags: compare only
    // the ones set here.
    const Qt::WindowFlags mine = Qt::FramelessWindowHint | Qt::WindowStaysOnTopHint;
    const bool placed = w->parentWidget() == owner_.data() && w->isWindow() == !owner_ &&
                        (w->windowFlags() & mine) == (flags & mine);
    if (!placed) {
        if (owner_ && (w->windowState() & Qt::WindowFullScreen))
            w->setWindowState(w->windowState() & ~Qt::WindowFullScreen);
        w->setParent(owner_, flags);
        w->setGeometry(geometry);
        if (!wasHidden) {
            w->show();
            // A full-screen renderer window takes the keys: make it the active one.
            if (!owner_)
                w->activateWindow();
        }
    }
    // A top-level renderer window takes the keys itself and passes them on.
    w->setFocusPolicy(owner_ ? Qt::NoFocus : Qt::StrongFocus);
}

HRESULT VideoRendererCore::put_Caption(const WString& caption) {
    caption_ = QString::fromStdU16String(caption);
    Window()->setWindowTitle(caption_);
    return S_OK;
}

HRESULT VideoRendererCore::put_WindowStyle(int32_t style) {
    style_ = style;
    ApplyWindowFlags(Window());
    return S_OK;
}

HRESULT VideoRendererCore::put_WindowStyleEx(int32_t style) {
    styleEx_ = style;
    ApplyWindowFlags(Window());
    return S_OK;
}

HRESULT VideoRendererCore::put_Owner(QWidget* owner) {
    VideoRendererWindow* w = Window();
    owner_ = owner;
    ApplyWindowFlags(w);
    return S_OK;
}

HRESULT VideoRendererCore::put_MessageDrain(QWidget* drain) {
    drain_ = drain;
    Window()->SetDrain(drain);
    return S_OK;
}

HRESULT VideoRendererCore::put_Visible(int32_t visible) {
    VideoRendererWindow* w = Window();
    if (visible == -1) {
        w->show();
    } else if (visible == 0) {
        // Until the stream starts again, as a renderer's window does.
        w->hide();
    } else {
        return E_INVALIDARG;
    }
    return S_OK;
}

HRESULT VideoRendererCore::get_Visible(int32_t* visible) {
    if (!visible)
        return E_POINTER;
    *visible = Window()->isHidden() ? 0 : -1;
    return S_OK;
}

HRESULT VideoRendererCore::SetWindowPosition(int32_t left, int32_t top, int32_t width,
                                             int32_t height) {
    if (width < 0 || height < 0)
        return E_INVALIDARG;
    VideoRendererWindow* w = Window();
    const QRect rect(left, top, width, height);
    w->setGeometry(rect);
    // A top-level window over a whole screen is a full-screen window: the
    // window system (Wayland included, where clients cannot place windows)
    // then gives it the screen.
    bool fullScreen = false;
    if (!owner_) {
        for (QScreen* screen : QGuiApplication::screens())
            if (screen->geometry() == rect)
                fullScreen = true;
    }
    const Qt::WindowStates states = w->windowState();
    if (fullScreen != bool(states & Qt::WindowFullScreen))
        w->setWindowState(fullScreen ? states | Qt::WindowFullScreen
                                     : states & ~Qt::WindowFullScreen);
    return S_OK;
}

}  // namespace media::gst
