// SPDX-License-Identifier: GPL-3.0-or-later
#include "ImageRgn.h"

#include <QRect>
#include <algorithm>
#include <utility>
#include <vector>

namespace {

// One row's opaque runs as [start, end) pairs.
using TRuns = std::vector<std::pair<int, int>>;

// Collects the runs of one row; `isTransparent(x)` tells whether pixel x
// of the row is the transparent colour.
template <typename IsTransparent>
void RowRuns(int width, IsTransparent isTransparent, TRuns& runs) {
    runs.clear();
    int x = 0;
    while (x < width) {
        while (x < width && isTransparent(x)) {
            ++x;
        }
        if (x >= width) {
            break;
        }
        const int start = x;
        while (x < width && !isTransparent(x)) {
            ++x;
        }
        runs.emplace_back(start, x);
    }
}

// Unites the rectangles pairwise, level by level, so that building a region
// of many runs costs n log n instead of the n squared of one-by-one union.
// Union is associative and commutative, so the result is the same region.
QRegion UniteAll(std::vector<QRegion> parts) {
    if (parts.empty()) {
        return QRegion();
    }
    while (parts.size() > 1) {
        std::vector<QRegion> next;
        next.reserve(parts.size() / 2 + 1);
        for (std::size_t i = 0; i + 1 < parts.size(); i += 2) {
            next.push_back(parts[i].united(parts[i + 1]));
        }
        if (parts.size() % 2 == 1) {
            next.push_back(parts.back());
        }
        parts.swap(next);
    }
    return parts.front();
}

// Walks the rows, merging consecutive rows with identical runs into one band
// of taller rectangles (the same point set), and unites the bands.
class TRegionBuilder {
  public:
    void AddRow(int y, const TRuns& runs) {
        if (!runs.empty() && runs == FBandRuns && FBandBottom == y) {
            FBandBottom = y + 1;
            return;
        }
        FlushBand();
        FBandRuns = runs;
        FBandTop = y;
        FBandBottom = y + 1;
    }

    QRegion Finish() {
        FlushBand();
        return UniteAll(std::move(FBands));
    }

  private:
    void FlushBand() {
        if (FBandRuns.empty()) {
            return;
        }
        QRegion band;
        for (const auto& run : FBandRuns) {
            band += QRect(run.first, FBandTop, run.second - run.first, FBandBottom - FBandTop);
        }
        FBands.push_back(band);
        FBandRuns.clear();
    }

    TRuns FBandRuns;
    int FBandTop = 0;
    int FBandBottom = 0;
    std::vector<QRegion> FBands;
};

// Colour value 0x00BBGGRR of a 32-bit Qt pixel (alpha ignored).
inline uint32_t ColorOf(QRgb pixel) {
    return static_cast<uint32_t>(qBlue(pixel)) << 16 | static_cast<uint32_t>(qGreen(pixel)) << 8 |
           static_cast<uint32_t>(qRed(pixel));
}

// Two-colour mask of the transparent colour, bit 7 of each byte being the
// leftmost of its eight pixels, a 1 bit marking a transparent pixel.
QImage TransparencyMask(const QImage& picture, uint32_t transparentColor) {
    QImage colors = picture;
    if (colors.format() != QImage::Format_RGB32 && colors.format() != QImage::Format_ARGB32) {
        // ARGB32 keeps the unpremultiplied colour of every pixel.
        colors = colors.convertToFormat(QImage::Format_ARGB32);
    }
    QImage mask(colors.size(), QImage::Format_Mono);
    mask.setColorCount(2);
    mask.setColor(0, qRgb(255, 255, 255));
    mask.setColor(1, qRgb(0, 0, 0));
    const int width = colors.width();
    for (int y = 0; y < colors.height(); ++y) {
        const auto* src = reinterpret_cast<const QRgb*>(colors.constScanLine(y));
        uchar* dst = mask.scanLine(y);
        std::fill(dst, dst + mask.bytesPerLine(), uchar(0));
        for (int x = 0; x < width; ++x) {
            if (ColorOf(src[x]) == transparentColor) {
                dst[x >> 3] |= static_cast<uchar>(0x80 >> (x & 7));
            }
        }
    }
    return mask;
}

}  // namespace

QRegion BitmapToRegion(const QImage& picture, uint32_t transparentColor) {
    if (picture.isNull() || picture.width() <= 0 || picture.height() <= 0) {
        return QRegion();
    }
    const int width = picture.width();
    const int height = picture.height();
    TRegionBuilder builder;
    TRuns runs;

    const QImage::Format format = picture.format();
    if (format == QImage::Format_RGB888 || format == QImage::Format_BGR888) {
        // Byte offsets of blue, green and red within a pixel.
        const int b = format == QImage::Format_BGR888 ? 0 : 2;
        const int r = 2 - b;
        for (int y = 0; y < height; ++y) {
            const uchar* row = picture.constScanLine(y);
            RowRuns(
                width,
                [row, b, r, transparentColor](int x) {
                    const uchar* p = row + 3 * x;
                    const uint32_t color =
                        uint32_t(p[b]) * 65536u + uint32_t(p[1]) * 256u + uint32_t(p[r]);
                    return color == transparentColor;
                },
                runs);
            builder.AddRow(y, runs);
        }
        return builder.Finish();
    }

    // Any other picture goes through the mask: a 1 bit is colour 0, which is
    // now the transparent colour; a 0 bit is opaque.
    const QImage mask = TransparencyMask(picture, transparentColor);
    for (int y = 0; y < height; ++y) {
        const uchar* row = mask.constScanLine(y);
        RowRuns(
            width, [row](int x) { return (row[x >> 3] & (0x80 >> (x & 7))) != 0; }, runs);
        builder.AddRow(y, runs);
    }
    return builder.Finish();
}

QImage KeyColorTransparent(const QImage& picture, QRgb key) {
    if (picture.isNull()) {
        return QImage();
    }
    key &= 0xFFFFFF;
    QImage drawn = picture.convertToFormat(QImage::Format_ARGB32);
    for (int y = 0; y < drawn.height(); ++y) {
        auto* row = reinterpret_cast<QRgb*>(drawn.scanLine(y));
        for (int x = 0; x < drawn.width(); ++x) {
            row[x] = (row[x] & 0xFFFFFF) == key ? 0u : (row[x] | 0xFF000000u);
        }
    }
    return drawn;
}
