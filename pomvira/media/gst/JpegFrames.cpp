// SPDX-License-Identifier: GPL-3.0-or-later
#include "JpegFrames.h"

#include <cstring>
#include <vector>

#include "media/JpegLib.h"

namespace media::gst {

namespace {

// No camera makes frames larger than this (8K is 33 million pixels): a
// header that declares more is refused before anything is decoded.
constexpr int64_t kMaxFramePixels = int64_t(64) * 1024 * 1024;

TJpegDecoder::TLimits FrameLimits() {
    TJpegDecoder::TLimits limits;
    limits.MaxPixels = kMaxFramePixels;
    return limits;
}

// A frame's decoder, as jpegdec decodes.
struct TFrameDecoder : TJpegDecoder {
    TFrameDecoder(const uint8_t* data, size_t size, J_COLOR_SPACE space)
        : TJpegDecoder(data, size, space, FrameLimits(), true) {}
};

}  // namespace

int JpegScaleFor(int width, int height, const QSize& area) {
    if (area.width() <= 0 || area.height() <= 0 || width <= 0 || height <= 0)
        return 1;
    // libjpeg's scaled size is the full size divided and rounded up.
    for (int denom = 8; denom > 1; denom /= 2) {
        if ((width + denom - 1) / denom >= area.width() &&
            (height + denom - 1) / denom >= area.height())
            return denom;
    }
    return 1;
}

bool JpegFrameSize(const uint8_t* data, size_t size, int* width, int* height) {
    if (!data || size == 0 || !width || !height)
        return false;
    const TFrameDecoder decoder(data, size, kJpegRgb32Space);
    if (!decoder.Ok())
        return false;
    *width = decoder.Size().width();
    *height = decoder.Size().height();
    return true;
}

QImage DecodeJpegFrame(const uint8_t* data, size_t size, const QSize& area,
                       const ImageTarget& target) {
    if (!data || size == 0)
        return QImage();
    TFrameDecoder decoder(data, size, kJpegRgb32Space);
    if (!decoder.Ok())
        return QImage();
    const QSize full = decoder.Size();
    const int denom = JpegScaleFor(full.width(), full.height(), area);
    if (denom != 1 && !decoder.Scale(1, unsigned(denom)))
        return QImage();
    const QSize out = decoder.OutputSize();
    QImage image = target ? target(out) : QImage();
    if (image.size() != out || image.format() != QImage::Format_RGB32)
        image = QImage(out, QImage::Format_RGB32);
    if (image.isNull())
        return image;
    std::vector<uint8_t*> rows(size_t(out.height()));
    uchar* bits = image.bits();
    const size_t stride = size_t(image.bytesPerLine());
    for (size_t y = 0; y < rows.size(); ++y)
        rows[y] = bits + y * stride;
    if (!decoder.ReadRows(rows.data()))
        return QImage();
    return image;
}

bool DecodeJpegFrameToBgr(const uint8_t* data, size_t size, int width, int height, uint8_t* out,
                          size_t stride, bool bottomUp) {
    if (!data || size == 0 || !out || width <= 0 || height <= 0 || stride < size_t(width) * 3)
        return false;
    TFrameDecoder decoder(data, size, JCS_EXT_BGR);
    if (!decoder.Ok() || decoder.OutputSize() != QSize(width, height))
        return false;
    std::vector<uint8_t*> rows(static_cast<size_t>(height));
    for (size_t y = 0; y < rows.size(); ++y) {
        const size_t memoryRow = bottomUp ? size_t(height) - 1 - y : y;
        rows[y] = out + memoryRow * stride;
        std::memset(rows[y] + size_t(width) * 3, 0, stride - size_t(width) * 3);
    }
    return decoder.ReadRows(rows.data());
}

}  // namespace media::gst
