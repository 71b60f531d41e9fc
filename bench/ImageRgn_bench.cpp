// SPDX-License-Identifier: GPL-3.0-or-later
// Cost of cutting window outlines: the skin-sized picture at start-up and
// preview-sized pictures, with few runs (a rounded frame) and with many
// (every other pixel transparent, the worst case).
#include "widgets/ImageRgn.h"

#include <QPainter>
#include <benchmark/benchmark.h>

namespace {

const QRgb kMagenta = qRgb(255, 0, 255);

QImage FramePicture(int width, int height) {
    QImage image(width, height, QImage::Format_RGB888);
    image.fill(kMagenta);
    QPainter painter(&image);
    painter.setRenderHint(QPainter::Antialiasing, false);
    painter.setBrush(QColor(40, 40, 40));
    painter.setPen(Qt::NoPen);
    painter.drawRoundedRect(QRect(0, 0, width, height), 24, 24);
    return image;
}

QImage CheckerPicture(int width, int height) {
    QImage image(width, height, QImage::Format_RGB888);
    for (int y = 0; y < height; ++y) {
        for (int x = 0; x < width; ++x) {
            image.setPixel(x, y, (x + y) % 2 == 0 ? kMagenta : qRgb(255, 255, 255));
        }
    }
    return image;
}

void BM_Frame(benchmark::State& state) {
    const QImage image = FramePicture(int(state.range(0)), int(state.range(1)));
    for (auto _ : state) {
        benchmark::DoNotOptimize(BitmapToRegion(image, 0xFF00FF));
    }
}
BENCHMARK(BM_Frame)->Args({355, 166})->Args({1920, 1080})->Unit(benchmark::kMillisecond);

void BM_Checker(benchmark::State& state) {
    const QImage image = CheckerPicture(int(state.range(0)), int(state.range(1)));
    for (auto _ : state) {
        benchmark::DoNotOptimize(BitmapToRegion(image, 0xFF00FF));
    }
}
BENCHMARK(BM_Checker)->Args({355, 166})->Args({1920, 1080})->Unit(benchmark::kMillisecond);

void BM_FrameMask(benchmark::State& state) {
    const QImage image = FramePicture(int(state.range(0)), int(state.range(1)))
                             .convertToFormat(QImage::Format_RGB32);
    for (auto _ : state) {
        benchmark::DoNotOptimize(BitmapToRegion(image, 0xFF00FF));
    }
}
BENCHMARK(BM_FrameMask)->Args({1920, 1080})->Unit(benchmark::kMillisecond);

}  // namespace

BENCHMARK_MAIN();
