// SPDX-License-Identifier: GPL-3.0-or-later
// Per-frame cost of the video renderer: turning a frame into the 32-bit
// image the window paints (a view of a BGRx buffer, or a converted copy of a
// 24-bit frame, made on the streaming thread), and painting it scaled into
// the preview rectangle.
#include <gst/video/video.h>
#include <benchmark/benchmark.h>

#include <QImage>
#include <QPainter>
#include <vector>

#include "media/gst/VideoRendererCore.h"

namespace {

void ConvertFrame(benchmark::State& state, GstVideoFormat format, int bytesPerPixel) {
    const int width = 640, height = 480;
    const int stride = (width * bytesPerPixel + 3) & ~3;
    std::vector<uint8_t> frame(size_t(stride) * height, 0x5A);
    for (auto _ : state) {
        QImage image = media::gst::VideoRendererCore::ImageFromFrame(frame.data(), width, height,
                                                                     stride, format);
        benchmark::DoNotOptimize(image.constBits());
    }
    state.SetBytesProcessed(int64_t(state.iterations()) * int64_t(frame.size()));
}

void BM_ConvertBgr640x480(benchmark::State& state) {
    ConvertFrame(state, GST_VIDEO_FORMAT_BGR, 3);
}
void BM_ConvertBgrx640x480(benchmark::State& state) {
    ConvertFrame(state, GST_VIDEO_FORMAT_BGRx, 4);
}

// A BGRx buffer as the preview chain delivers it: painted as it is.
void BM_ImageOfBgrxBuffer640x480(benchmark::State& state) {
    gst_init(nullptr, nullptr);
    GstVideoInfo info;
    gst_video_info_set_format(&info, GST_VIDEO_FORMAT_BGRx, 640, 480);
    GstBuffer* buffer = gst_buffer_new_allocate(nullptr, GST_VIDEO_INFO_SIZE(&info), nullptr);
    gst_buffer_memset(buffer, 0, 0xff, GST_VIDEO_INFO_SIZE(&info));
    for (auto _ : state) {
        QImage image = media::gst::VideoRendererCore::ImageFromBuffer(buffer, &info);
        benchmark::DoNotOptimize(image.constBits());
    }
    gst_buffer_unref(buffer);
}

// The preview window's video rectangle (665 by 537) painted from a 640 by 480 frame.
void BM_PaintScaled640x480(benchmark::State& state) {
    QImage frame(640, 480, QImage::Format_RGB32);
    frame.fill(qRgb(10, 120, 200));
    QImage target(665, 537, QImage::Format_RGB32);
    for (auto _ : state) {
        QPainter painter(&target);
        painter.drawImage(target.rect(), frame);
        painter.end();
        benchmark::DoNotOptimize(target.constBits());
    }
}

BENCHMARK(BM_ConvertBgr640x480);
BENCHMARK(BM_ConvertBgrx640x480);
BENCHMARK(BM_ImageOfBgrxBuffer640x480);
BENCHMARK(BM_PaintScaled640x480);

}  // namespace

BENCHMARK_MAIN();
