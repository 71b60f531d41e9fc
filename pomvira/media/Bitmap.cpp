// SPDX-License-Identifier: GPL-3.0-or-later
#include "Bitmap.h"

#include <cstdlib>

namespace media {

namespace {
constexpr int64_t kMaxDibBytes = int64_t(256) * 1024 * 1024;
}

int64_t DibStride(int32_t width, uint16_t bitCount) {
    if (width <= 0 || bitCount == 0)
        return 0;
    const int64_t bits = bitCount == 15 ? 16 : bitCount;
    return ((int64_t(width) * bits + 31) / 32) * 4;
}

std::unique_ptr<TDibSection> CreateDIBSection(const BITMAPINFOHEADER& header) {
    if (header.biWidth <= 0 || header.biHeight == 0)
        return nullptr;
    const uint16_t bits = header.biBitCount;
    switch (header.biCompression) {
        case BI_RGB:
            if (bits != 1 && bits != 4 && bits != 8 && bits != 16 && bits != 24 && bits != 32)
                return nullptr;
            break;
        case BI_BITFIELDS:
            if (bits != 16 && bits != 32)
                return nullptr;
            break;
        default:
            return nullptr;
    }
    const int64_t size = DibStride(header.biWidth, bits) * std::llabs(int64_t(header.biHeight));
    if (size <= 0 || size > kMaxDibBytes)
        return nullptr;
    auto dib = std::make_unique<TDibSection>();
    dib->Header = header;
    dib->Bits.assign(size_t(size), 0);
    return dib;
}

int32_t TBitmap::Height() const {
    if (!dib_)
        return 0;
    return int32_t(std::llabs(int64_t(dib_->Header.biHeight)));
}

QImage TBitmap::ToImage() const {
    if (!dib_ || dib_->Header.biCompression != BI_RGB)
        return QImage();
    const uint16_t bits = BitCount();
    if (bits != 24 && bits != 32)
        return QImage();
    const int w = Width(), h = Height();
    const int64_t stride = Stride();
    const int bytesPerPixel = bits / 8;
    QImage image(w, h, QImage::Format_RGB888);
    if (image.isNull())
        return image;
    for (int y = 0; y < h; ++y) {
        const int sourceRow = BottomUp() ? h - 1 - y : y;
        const uint8_t* src = dib_->Bits.data() + sourceRow * stride;
        uchar* dst = image.scanLine(y);
        for (int x = 0; x < w; ++x) {
            dst[3 * x + 0] = src[bytesPerPixel * x + 2];
            dst[3 * x + 1] = src[bytesPerPixel * x + 1];
            dst[3 * x + 2] = src[bytesPerPixel * x + 0];
        }
    }
    return image;
}

}  // namespace media
