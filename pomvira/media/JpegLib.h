// SPDX-License-Identifier: GPL-3.0-or-later
// The program's use of libjpeg(-turbo), in one place: the library's fatal
// errors turned into a jump back to the caller, warnings kept quiet, and a
// decoder of JPEG pictures held in memory.
//
// libjpeg reports a fatal error by calling error_exit, which must not
// return: it jumps back (longjmp) to the setjmp of the function that called
// into the library. Those functions hold no object with a destructor
// between the setjmp and the library's calls, so the jump skips no C++
// clean-up; the library's structure is always destroyed afterwards.
#pragma once

#include <QSize>
#include <QtGlobal>
#include <chrono>
#include <csetjmp>
#include <cstddef>
#include <cstdint>
#include <cstdio>

// jpeglib.h needs size_t and FILE declared before it.
#include <jpeglib.h>

namespace media {

// The library's output layout matching QImage::Format_RGB32 in memory.
#if Q_BYTE_ORDER == Q_LITTLE_ENDIAN
constexpr J_COLOR_SPACE kJpegRgb32Space = JCS_EXT_BGRX;
#else
constexpr J_COLOR_SPACE kJpegRgb32Space = JCS_EXT_XRGB;
#endif

// Catches the library's fatal errors (the text kept in `message`) by a
// jump to `jump`; prints nothing.
struct TJpegErrorManager {
    jpeg_error_mgr pub;
    std::jmp_buf jump;
    char message[JMSG_LENGTH_MAX];
};
// Sets the manager up; `pub` then goes into the library's structure.
void InitJpegErrors(TJpegErrorManager& errors);

// The progress monitor a decoder gives the library: it gives the decoding
// up past the deadline or past the most scans.
struct TJpegProgress {
    jpeg_progress_mgr pub;
    int maxScans;
    std::chrono::steady_clock::time_point deadline;
};

// One JPEG picture decoded from memory. The header is read when it is
// made; the output can then be scaled and its rows read. Every step says
// whether it worked: a failure of the library, data that is no JPEG
// picture, a size past the limits, more scans than allowed or a decoding
// still going on at the deadline give false (or !Ok()).
class TJpegDecoder {
  public:
    struct TLimits {
        // Pictures that declare more pixels are refused before anything
        // is decoded.
        int64_t MaxPixels = 0;
        // The most scans a (progressive) picture may hold; 0: any.
        int MaxScans = 0;
        std::chrono::steady_clock::time_point Deadline =
            std::chrono::steady_clock::time_point::max();
    };
    // `space`: the output's pixel layout. `asJpegdec`: decoded as
    // GStreamer's jpegdec decodes (its fast integer transform, the chroma
    // samples not interpolated) rather than at the library's best quality.
    TJpegDecoder(const uint8_t* data, size_t size, J_COLOR_SPACE space, const TLimits& limits,
                 bool asJpegdec);
    ~TJpegDecoder();
    TJpegDecoder(const TJpegDecoder&) = delete;
    TJpegDecoder& operator=(const TJpegDecoder&) = delete;

    // The header was read, and the picture lies within the limits.
    bool Ok() const { return FOk; }
    // The size the picture declares.
    QSize Size() const;
    // The output at num/denom of the size (libjpeg rounds up); false when
    // the library refuses.
    bool Scale(unsigned num, unsigned denom);
    QSize OutputSize() const;
    // Decodes every row: rows[y] is where output row y goes (OutputSize()
    // rows, each wide enough for the layout).
    bool ReadRows(uint8_t* const* rows);

  private:
    // The library's structure with its error manager and progress monitor,
    // kept in place (the library holds pointers to them).
    struct TState {
        jpeg_decompress_struct cinfo;
        TJpegErrorManager errors;
        TJpegProgress progress;
    } F{};
    bool FOk = false;
};

}  // namespace media
