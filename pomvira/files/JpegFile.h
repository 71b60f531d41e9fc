// SPDX-License-Identifier: GPL-3.0-or-later
// JPEG files of the camera program, through libjpeg: still pictures encoded
// from a video frame and written as new files, and pictures decoded for the
// media strip's thumbnails with the decoder's DCT scaling.
#pragma once

#include <QByteArray>
#include <QImage>
#include <QSize>
#include <QString>
#include <chrono>
#include <cstddef>
#include <cstdint>
#include <memory>

namespace media {
class TBitmap;
}

// Uncompressed pixels to encode: blue, green, red (and an unused fourth
// byte with 4 bytes per pixel), rows `Stride` bytes apart, stored bottom-up
// when `BottomUp` is set.
struct TJpegSource {
    const uint8_t* Bits = nullptr;
    int Width = 0;
    int Height = 0;
    int64_t Stride = 0;
    int BytesPerPixel = 3;
    bool BottomUp = false;
};

// The pixels of a 24- or 32-bit RGB bitmap; throws when the bitmap is empty
// or has another layout.
TJpegSource JpegSourceOf(const media::TBitmap& bitmap);

// An encoded JPEG image in memory.
class TJpegData {
  public:
    const uint8_t* Data() const { return data_.get(); }
    size_t Size() const { return size_; }

  private:
    friend TJpegData EncodeJpeg(const TJpegSource& source, int quality);
    struct Free {
        void operator()(uint8_t* p) const;
    };
    std::unique_ptr<uint8_t, Free> data_;
    size_t size_ = 0;
};

// Encodes the pixels as a baseline JFIF image with three colour components
// (YCbCr) at the given quality, upright and at the full size. Throws
// std::runtime_error with the library's message when encoding fails.
TJpegData EncodeJpeg(const TJpegSource& source, int quality);

// Writes `size` bytes to a new file at `path`. Throws std::runtime_error
// whose text names the file when the file cannot be created (an existing
// file of that name is never replaced) or written completely; nothing is
// left at `path` then.
void WriteNewFile(const QString& path, const uint8_t* data, size_t size);

// Encodes the bitmap at `quality` and writes it as the new file `path`.
void SaveJpegFile(const media::TBitmap& bitmap, const QString& path, int quality);

// The most scans a picture may hold: a camera's progressive picture has
// about ten; a few kilobytes of file can hold thousands, each costing a pass
// over the whole picture.
constexpr int kMaxJpegScans = 100;
// How long a thumbnail's decoding may take before it is given up.
constexpr std::chrono::milliseconds kThumbnailTimeLimit{1000};

// Decodes a JPEG image. With a non-empty `atLeast` the decoder scales by the
// smallest factor M/8 (M = 1 ... 8) whose output still covers that size in
// both directions, which costs a fraction of a full decode; otherwise the
// image is decoded at its full size. A null image when the data is not a
// JPEG image that the library can decode to colour, when it declares more
// than 100 million pixels (refused before decoding), when decoding it would
// take more than 256 MB, when it holds more than kMaxJpegScans scans, or
// when the decoding is still going on at `deadline` (given up then).
QImage DecodeJpeg(
    const QByteArray& data, const QSize& atLeast = QSize(),
    std::chrono::steady_clock::time_point deadline = std::chrono::steady_clock::time_point::max());

// The picture in the JPEG file `path` stretched to `size` (the aspect ratio
// is not kept), decoded with DCT scaling. A null image when the file cannot
// be read or decoded, or when decoding takes longer than
// kThumbnailTimeLimit. Safe to call from any thread.
QImage LoadJpegThumbnail(const QString& path, const QSize& size);
