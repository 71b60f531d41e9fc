// SPDX-License-Identifier: GPL-3.0-or-later
#include "TestFrames.h"

std::vector<uint8_t> TwoColourFrame(int width, int height, QRgb top, QRgb bottom) {
    const int64_t stride = media::DibStride(width, 24);
    std::vector<uint8_t> bits(size_t(stride * height), 0);
    for (int y = 0; y < height; ++y) {
        const QRgb c = y < height / 2 ? top : bottom;
        uint8_t* row = bits.data() + (height - 1 - y) * stride;  // bottom-up
        for (int x = 0; x < width; ++x) {
            row[3 * x] = uint8_t(qBlue(c));
            row[3 * x + 1] = uint8_t(qGreen(c));
            row[3 * x + 2] = uint8_t(qRed(c));
        }
    }
    return bits;
}

media::TBitmap TwoColourBitmap(int width, int height, QRgb top, QRgb bottom) {
    media::BITMAPINFOHEADER header{};
    header.biSize = sizeof header;
    header.biWidth = width;
    header.biHeight = height;
    header.biPlanes = 1;
    header.biBitCount = 24;
    header.biCompression = media::BI_RGB;
    auto dib = media::CreateDIBSection(header);
    dib->Bits = TwoColourFrame(width, height, top, bottom);
    media::TBitmap bitmap;
    bitmap.SetDIBSection(std::move(dib));
    return bitmap;
}

bool IsColourBar(QRgb c) {
    auto level = [](int v) { return v < 40 ? 0 : (v > 150 ? 1 : -1); };
    const int r = level(qRed(c)), g = level(qGreen(c)), b = level(qBlue(c));
    return r >= 0 && g >= 0 && b >= 0 && (r + g + b) > 0;
}
