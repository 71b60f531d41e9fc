// SPDX-License-Identifier: GPL-3.0-or-later
#include "JpegFrames.h"

#include <csetjmp>
#include <cstdio>
#include <cstring>
#include <vector>

// jpeglib.h needs size_t and FILE declared before it.
#include <jpeglib.h>

// libjpeg reports a fatal error by calling error_exit, which must not
// return: it jumps back (longjmp) to the setjmp of the function below that
// called into the library. Those functions hold no object with a destructor
// between the setjmp and the library's calls, so the jump skips no C++
// clean-up; the callers own the buffers and always destroy the library's
// structure afterwards.

namespace media::gst {

namespace {

struct ErrorManager {
    jpeg_error_mgr pub;
    std::jmp_buf jump;
};

extern "C" void FrameErrorExit(j_common_ptr cinfo) {
    std::longjmp(reinterpret_cast<ErrorManager*>(cinfo->err)->jump, 1);
}

// Warnings (corrupt data the library works around) are not printed.
extern "C" void FrameOutputMessage(j_common_ptr) {}

// No camera makes frames larger than this (8K is 33 million pixels): a
// header that declares more is refused before anything is decoded.
constexpr int64_t kMaxFramePixels = int64_t(64) * 1024 * 1024;
// The most memory the library may take for one frame.
constexpr long kMaxDecoderMemory = 256L << 20;

#if Q_BYTE_ORDER == Q_LITTLE_ENDIAN
constexpr J_COLOR_SPACE kRgb32Space = JCS_EXT_BGRX;
#else
constexpr J_COLOR_SPACE kRgb32Space = JCS_EXT_XRGB;
#endif

// One frame's decoding: the library's structure, created with the job and
// destroyed with it.
struct Job {
    jpeg_decompress_struct cinfo;
    ErrorManager err;

    Job() {
        std::memset(&cinfo, 0, sizeof cinfo);
        cinfo.err = jpeg_std_error(&err.pub);
        err.pub.error_exit = FrameErrorExit;
        err.pub.output_message = FrameOutputMessage;
    }
    // Safe on a structure never created (no memory manager yet).
    ~Job() { jpeg_destroy_decompress(&cinfo); }
    Job(const Job&) = delete;
    Job& operator=(const Job&) = delete;
};

// Reads the header and sets the output: colour space, the scale 1/denom,
// chroma replicated. False when the header cannot be read or declares an
// unreasonable size.
bool ReadHeader(Job* job, const uint8_t* data, size_t size, J_COLOR_SPACE space, int denom) {
    jpeg_decompress_struct* cinfo = &job->cinfo;
    if (setjmp(job->err.jump))
        return false;
    jpeg_create_decompress(cinfo);
    cinfo->mem->max_memory_to_use = kMaxDecoderMemory;
    jpeg_mem_src(cinfo, data, static_cast<unsigned long>(size));
    if (jpeg_read_header(cinfo, TRUE) != JPEG_HEADER_OK)
        return false;
    if (cinfo->image_width == 0 || cinfo->image_height == 0 ||
        int64_t(cinfo->image_width) * int64_t(cinfo->image_height) > kMaxFramePixels)
        return false;
    cinfo->out_color_space = space;
    cinfo->scale_num = 1;
    cinfo->scale_denom = unsigned(denom);
    cinfo->do_fancy_upsampling = FALSE;
    // jpegdec's default too: the fast integer transform.
    cinfo->dct_method = JDCT_IFAST;
    jpeg_calc_output_dimensions(cinfo);
    return true;
}

// Decodes every row into rows[y] (rows.size() == output height).
bool ReadRows(Job* job, JSAMPARRAY rows) {
    jpeg_decompress_struct* cinfo = &job->cinfo;
    if (setjmp(job->err.jump))
        return false;
    jpeg_start_decompress(cinfo);
    while (cinfo->output_scanline < cinfo->output_height) {
        const JDIMENSION done = cinfo->output_scanline;
        if (jpeg_read_scanlines(cinfo, rows + done, cinfo->output_height - done) == 0)
            return false;
    }
    jpeg_finish_decompress(cinfo);
    return true;
}

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
    Job job;
    if (!ReadHeader(&job, data, size, kRgb32Space, 1))
        return false;
    *width = int(job.cinfo.image_width);
    *height = int(job.cinfo.image_height);
    return true;
}

QImage DecodeJpegFrame(const uint8_t* data, size_t size, const QSize& area,
                       const ImageTarget& target) {
    if (!data || size == 0)
        return QImage();
    Job job;
    if (!ReadHeader(&job, data, size, kRgb32Space, 1))
        return QImage();
    const int denom = JpegScaleFor(int(job.cinfo.image_width), int(job.cinfo.image_height), area);
    if (denom != 1) {
        job.cinfo.scale_denom = unsigned(denom);
        jpeg_calc_output_dimensions(&job.cinfo);
    }
    const QSize out(int(job.cinfo.output_width), int(job.cinfo.output_height));
    QImage image = target ? target(out) : QImage();
    if (image.size() != out || image.format() != QImage::Format_RGB32)
        image = QImage(out, QImage::Format_RGB32);
    if (image.isNull())
        return image;
    std::vector<JSAMPROW> rows(size_t(out.height()));
    uchar* bits = image.bits();
    const size_t stride = size_t(image.bytesPerLine());
    for (size_t y = 0; y < rows.size(); ++y)
        rows[y] = bits + y * stride;
    if (!ReadRows(&job, rows.data()))
        return QImage();
    return image;
}

bool DecodeJpegFrameToBgr(const uint8_t* data, size_t size, int width, int height, uint8_t* out,
                          size_t stride, bool bottomUp) {
    if (!data || size == 0 || !out || width <= 0 || height <= 0 || stride < size_t(width) * 3)
        return false;
    Job job;
    if (!ReadHeader(&job, data, size, JCS_EXT_BGR, 1) ||
        job.cinfo.output_width != JDIMENSION(width) ||
        job.cinfo.output_height != JDIMENSION(height))
        return false;
    std::vector<JSAMPROW> rows(static_cast<size_t>(height));
    for (size_t y = 0; y < rows.size(); ++y) {
        const size_t memoryRow = bottomUp ? size_t(height) - 1 - y : y;
        rows[y] = out + memoryRow * stride;
        std::memset(rows[y] + size_t(width) * 3, 0, stride - size_t(width) * 3);
    }
    return ReadRows(&job, rows.data());
}

}  // namespace media::gst
