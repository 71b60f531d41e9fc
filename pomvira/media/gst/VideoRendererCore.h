// SPDX-License-Identifier: GPL-3.0-or-later
// The GStreamer side of the video renderer: an appsink that takes raw video
// (32-bit BGRx, 24-bit RGB, a camera's packed YUV) or a camera's JPEG
// frames, and hands each frame to the renderer's window as a 32-bit image,
// made in one pass (RawFrames.h, JpegFrames.h: JPEG frames at the DCT scale
// that still covers the window's area in device pixels). A frame that fills
// that area is made straight into a buffer the X server draws from, when
// the window has them (SharedFrames.h); a BGRx frame painted by the widget
// is painted as it came (the image holds the buffer). While nobody can see
// the window, frames are kept as they came and made only if shown. The
// IVideoWindow operations place that window; they run on the user-interface
// thread, where the renderer is created.
#pragma once

#include <gst/gst.h>
#include <gst/video/video.h>

#include <QPointer>
#include <memory>

#include "GstRef.h"
#include "JpegFrames.h"
#include "VideoRendererWindow.h"
#include "media/MediaBoundary.h"

namespace media::gst {

class VideoRendererCore {
  public:
    VideoRendererCore();
    ~VideoRendererCore();
    VideoRendererCore(const VideoRendererCore&) = delete;
    VideoRendererCore& operator=(const VideoRendererCore&) = delete;

    // The appsink; its "sink" pad is the renderer's input.
    GstElement* Element() const { return sink_.Get(); }
    // The formats the renderer takes, in order of preference.
    static CapsRef AcceptedCaps();
    // Takes no packed YUV while set (behind a converter: RenderingFilters.h).
    void SetRgbOnly(bool rgbOnly);

    // IVideoWindow
    HRESULT put_Caption(const WString& caption);
    HRESULT put_WindowStyle(int32_t style);
    HRESULT put_WindowStyleEx(int32_t style);
    HRESULT put_Owner(QWidget* owner);
    HRESULT put_MessageDrain(QWidget* drain);
    HRESULT put_Visible(int32_t visible);
    HRESULT get_Visible(int32_t* visible);
    HRESULT SetWindowPosition(int32_t left, int32_t top, int32_t width, int32_t height);

    // The renderer's window (made on demand; it dies with its owner and is
    // then made again when next needed).
    VideoRendererWindow* Window();

    // The 32-bit image the window shows for a frame of the given format,
    // written into the target's image when it gives one of the frame's size;
    // otherwise BGRx frames whose unused byte is 0xff are not copied. Null
    // image for formats not taken or a frame that cannot be read.
    static QImage ImageFromBuffer(GstBuffer* buffer, const GstVideoInfo* info,
                                  const ImageTarget& target = {});
    // Turns a mapped raw frame into a 32-bit image of its own: exactly one
    // pass over the pixels. Null image for formats not taken.
    static QImage ImageFromFrame(const uint8_t* data, int width, int height, int stride,
                                 int gstFormat);

  private:
    struct StreamState;
    void ApplyWindowFlags(VideoRendererWindow* w);

    ElementRef sink_;
    std::shared_ptr<FrameMailbox> mailbox_;
    QPointer<VideoRendererWindow> window_;
    QPointer<QWidget> owner_;
    QPointer<QWidget> drain_;
    QString caption_;
    int32_t style_;
    int32_t styleEx_ = 0;
};

}  // namespace media::gst
