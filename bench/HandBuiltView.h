// SPDX-License-Identifier: GPL-3.0-or-later
// The window of the benchmarks' hand-built pipelines: it shows the newest
// frame of the pipeline's appsink named "preview" (BGRx), scaled to the
// window, as the least work that shows a camera; and small helpers to build
// such pipelines.
#pragma once

#include <gst/app/gstappsink.h>
#include <gst/gst.h>
#include <gst/video/video.h>

#include <QImage>
#include <QPaintEvent>
#include <QPainter>
#include <QWidget>
#include <functional>
#include <mutex>
#include <stdexcept>
#include <string>

#include "media/gst/GstRef.h"
#include "media/testdevices/TestCameraFrames.h"

namespace bench {

inline GstElement* MakeElement(const char* factory) {
    GstElement* e = gst_element_factory_make(factory, nullptr);
    if (!e)
        throw std::runtime_error(std::string("missing GStreamer element ") + factory);
    return e;
}

inline GstElement* MakeCapsFilter(const char* caps) {
    GstElement* e = MakeElement("capsfilter");
    GstCaps* c = gst_caps_from_string(caps);
    g_object_set(e, "caps", c, nullptr);
    gst_caps_unref(c);
    return e;
}

// Caps of raw video at 30 frames a second.
inline std::string RawCaps(const char* format, int width, int height) {
    return "video/x-raw,format=" + std::string(format) + ",width=" + std::to_string(width) +
           ",height=" + std::to_string(height) + ",framerate=30/1";
}

// The same source as the built-in test camera's raw frames (the bars drawn
// once, its frames views of that picture), of that format at 30 frames a
// second.
inline GstElement* TestSource(const char* format, int width, int height) {
    media::gst::CapsRef caps =
        media::gst::CapsRef::Adopt(gst_caps_from_string(RawCaps(format, width, height).c_str()));
    GstElement* src = media::gst::MakeRawPatternSource(caps.Get());
    if (!src)
        throw std::runtime_error("no test camera source for " + RawCaps(format, width, height));
    return src;
}

// The properties of a preview appsink: the newest frame only; sync: it waits
// for each frame's time on the pipeline's clock (GStreamer's default).
inline void SetPreviewSink(GstElement* sink, bool sync) {
    g_object_set(sink, "sync", gboolean(sync), "max-buffers", 1u, "drop", TRUE, "qos", TRUE,
                 "enable-last-sample", FALSE, nullptr);
}

class HandBuiltView : public QWidget {
  public:
    // Takes over the pipeline; its appsink "preview" delivers BGRx frames.
    HandBuiltView(GstElement* pipeline, const QSize& size) : pipeline_(pipeline) {
        setAttribute(Qt::WA_OpaquePaintEvent);
        setAttribute(Qt::WA_NoSystemBackground);
        setWindowFlag(Qt::FramelessWindowHint);
        resize(size);
        move(0, 0);
        GstElement* sink = gst_bin_get_by_name(GST_BIN(pipeline_), "preview");
        if (!sink)
            throw std::runtime_error("the hand-built pipeline has no preview sink");
        GstAppSinkCallbacks callbacks{};
        callbacks.new_sample = [](GstAppSink* s, gpointer data) -> GstFlowReturn {
            static_cast<HandBuiltView*>(data)->Deliver(gst_app_sink_pull_sample(s));
            return GST_FLOW_OK;
        };
        gst_app_sink_set_callbacks(GST_APP_SINK(sink), &callbacks, this, nullptr);
        gst_object_unref(sink);
    }
    ~HandBuiltView() override {
        gst_element_set_state(pipeline_, GST_STATE_NULL);
        gst_object_unref(pipeline_);
        if (pending_)
            gst_sample_unref(pending_);
        if (shown_)
            gst_sample_unref(shown_);
    }
    void Play() {
        if (gst_element_set_state(pipeline_, GST_STATE_PLAYING) == GST_STATE_CHANGE_FAILURE)
            throw std::runtime_error("the hand-built pipeline does not start");
    }
    GstElement* Pipeline() const { return pipeline_; }

    // Called after each paint with the frame painted and the window's size.
    std::function<void(const QImage& frame, const QSize& size)> OnPainted;

  protected:
    void paintEvent(QPaintEvent*) override {
        {
            std::lock_guard<std::mutex> lock(mutex_);
            notified_ = false;
            if (pending_) {
                if (shown_)
                    gst_sample_unref(shown_);
                shown_ = pending_;
                pending_ = nullptr;
                frame_ = QImage();
            }
        }
        QPainter painter(this);
        GstVideoInfo info;
        GstVideoFrame frame;
        if (!shown_ || !gst_video_info_from_caps(&info, gst_sample_get_caps(shown_)) ||
            !gst_video_frame_map(&frame, &info, gst_sample_get_buffer(shown_), GST_MAP_READ)) {
            painter.fillRect(rect(), Qt::black);
            return;
        }
        // The image is a view of the mapped frame, made once per new frame
        // (so that its key names the frame).
        if (frame_.isNull() || frame_.constBits() != GST_VIDEO_FRAME_PLANE_DATA(&frame, 0)) {
            frame_ = QImage(static_cast<const uchar*>(GST_VIDEO_FRAME_PLANE_DATA(&frame, 0)),
                            GST_VIDEO_FRAME_WIDTH(&frame), GST_VIDEO_FRAME_HEIGHT(&frame),
                            GST_VIDEO_FRAME_PLANE_STRIDE(&frame, 0), QImage::Format_RGB32);
        }
        painter.drawImage(rect(), frame_);
        painter.end();
        if (OnPainted)
            OnPainted(frame_, size());
        gst_video_frame_unmap(&frame);
    }

  private:
    // Streaming thread: keeps the newest frame and asks for one repaint.
    void Deliver(GstSample* sample) {
        if (!sample)
            return;
        std::lock_guard<std::mutex> lock(mutex_);
        if (pending_)
            gst_sample_unref(pending_);
        pending_ = sample;
        if (!notified_) {
            notified_ = true;
            QMetaObject::invokeMethod(
                this, [this] { update(); }, Qt::QueuedConnection);
        }
    }

    GstElement* pipeline_;
    std::mutex mutex_;
    GstSample* pending_ = nullptr;  // guarded by mutex_
    bool notified_ = false;         // guarded by mutex_
    GstSample* shown_ = nullptr;    // user-interface thread
    QImage frame_;
};

}  // namespace bench
