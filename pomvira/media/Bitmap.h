// SPDX-License-Identifier: GPL-3.0-or-later
// Device-independent bitmaps as the media layer hands out video frames: a
// bitmap header and the pixel bytes in the platform's layout (blue, green,
// red; rows padded to a multiple of 4 bytes; bottom-up when the header's
// height is positive), and the toolkit bitmap that owns one.
#pragma once

#include <QImage>
#include <cstddef>
#include <cstdint>
#include <memory>
#include <vector>

#include "MediaBoundary.h"

namespace media {

// Bytes per row of a bitmap: the row's bits padded to a multiple of 32
// (15 bits per pixel count as 16). 0 for a width or bit count <= 0.
int64_t DibStride(int32_t width, uint16_t bitCount);

// A DIB section: the header it was made from and its own pixel memory
// (Stride x |height| bytes, zero-filled).
struct TDibSection {
    BITMAPINFOHEADER Header;
    std::vector<uint8_t> Bits;
};

// Makes a DIB section for the header (CreateDIBSection with DIB_RGB_COLORS):
// null for a width <= 0, a height of 0, a compression other than BI_RGB (or
// BI_BITFIELDS at 16 and 32 bits), an unsupported bit count, or a picture
// larger than 256 MiB.
std::unique_ptr<TDibSection> CreateDIBSection(const BITMAPINFOHEADER& header);

// The toolkit's bitmap: empty, or holding one DIB section as its image.
class TBitmap {
  public:
    bool Empty() const { return !dib_; }
    int32_t Width() const { return dib_ ? dib_->Header.biWidth : 0; }
    // The picture's height in rows (positive whatever the row order).
    int32_t Height() const;
    uint16_t BitCount() const { return dib_ ? dib_->Header.biBitCount : 0; }
    // True when the rows are stored bottom-up (the header's height is positive).
    bool BottomUp() const { return dib_ && dib_->Header.biHeight > 0; }
    int64_t Stride() const { return dib_ ? DibStride(Width(), BitCount()) : 0; }
    // The header and pixels of the image (null when empty).
    const BITMAPINFOHEADER* Header() const { return dib_ ? &dib_->Header : nullptr; }
    const uint8_t* Bits() const { return dib_ ? dib_->Bits.data() : nullptr; }
    size_t BitsSize() const { return dib_ ? dib_->Bits.size() : 0; }

    // Takes the DIB section as its image (and owns it from then on).
    void SetDIBSection(std::unique_ptr<TDibSection> dib) { dib_ = std::move(dib); }
    void Clear() { dib_.reset(); }

    // The picture upright, in RGB888; null when empty or not a 24- or
    // 32-bit BI_RGB image.
    QImage ToImage() const;

  private:
    std::unique_ptr<TDibSection> dib_;
};

}  // namespace media
