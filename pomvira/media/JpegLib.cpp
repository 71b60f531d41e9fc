// SPDX-License-Identifier: GPL-3.0-or-later
#include "JpegLib.h"

namespace media {

namespace {

extern "C" void JpegErrorExit(j_common_ptr cinfo) {
    auto* errors = reinterpret_cast<TJpegErrorManager*>(cinfo->err);
    (*cinfo->err->format_message)(cinfo, errors->message);
    std::longjmp(errors->jump, 1);
}

// Warnings (corrupt data that the library works around) are not printed.
extern "C" void JpegOutputMessage(j_common_ptr) {}

// The most memory the library may take for one picture; beyond it decoding
// fails (the program gives the library no temporary files).
constexpr long kMaxDecoderMemory = 256L << 20;

}  // namespace

void InitJpegErrors(TJpegErrorManager& errors) {
    jpeg_std_error(&errors.pub);
    errors.pub.error_exit = JpegErrorExit;
    errors.pub.output_message = JpegOutputMessage;
    errors.message[0] = '\0';
}

namespace {

// Gives the decoding up past its deadline or past the most scans: the
// library calls it as it reads (at every row of blocks of every scan).
extern "C" void JpegProgress(j_common_ptr cinfo) {
    const auto* progress = reinterpret_cast<const TJpegProgress*>(cinfo->progress);
    const auto* decompress = reinterpret_cast<const jpeg_decompress_struct*>(cinfo);
    if ((progress->maxScans > 0 && decompress->input_scan_number > progress->maxScans) ||
        std::chrono::steady_clock::now() > progress->deadline)
        (*cinfo->err->error_exit)(cinfo);
}

}  // namespace

TJpegDecoder::TJpegDecoder(const uint8_t* data, size_t size, J_COLOR_SPACE space,
                           const TLimits& limits, bool asJpegdec) {
    InitJpegErrors(F.errors);
    F.cinfo.err = &F.errors.pub;
    if (!data || size == 0)
        return;
    jpeg_decompress_struct* cinfo = &F.cinfo;
    if (setjmp(F.errors.jump))
        return;
    jpeg_create_decompress(cinfo);
    cinfo->mem->max_memory_to_use = kMaxDecoderMemory;
    if (limits.MaxScans > 0 || limits.Deadline != std::chrono::steady_clock::time_point::max()) {
        F.progress = TJpegProgress{};
        F.progress.pub.progress_monitor = JpegProgress;
        F.progress.maxScans = limits.MaxScans;
        F.progress.deadline = limits.Deadline;
        cinfo->progress = &F.progress.pub;
    }
    jpeg_mem_src(cinfo, data, static_cast<unsigned long>(size));
    if (jpeg_read_header(cinfo, TRUE) != JPEG_HEADER_OK)
        return;
    if (cinfo->image_width == 0 || cinfo->image_height == 0 ||
        int64_t(cinfo->image_width) * int64_t(cinfo->image_height) > limits.MaxPixels)
        return;
    cinfo->out_color_space = space;
    if (asJpegdec) {
        cinfo->do_fancy_upsampling = FALSE;
        cinfo->dct_method = JDCT_IFAST;
    }
    jpeg_calc_output_dimensions(cinfo);
    FOk = true;
}

TJpegDecoder::~TJpegDecoder() {
    // Safe on a structure never created (no memory manager yet).
    jpeg_destroy_decompress(&F.cinfo);
}

QSize TJpegDecoder::Size() const {
    return FOk ? QSize(int(F.cinfo.image_width), int(F.cinfo.image_height)) : QSize();
}

QSize TJpegDecoder::OutputSize() const {
    return FOk ? QSize(int(F.cinfo.output_width), int(F.cinfo.output_height)) : QSize();
}

bool TJpegDecoder::Scale(unsigned num, unsigned denom) {
    if (!FOk)
        return false;
    jpeg_decompress_struct* cinfo = &F.cinfo;
    if (setjmp(F.errors.jump))
        return FOk = false;
    cinfo->scale_num = num;
    cinfo->scale_denom = denom;
    jpeg_calc_output_dimensions(cinfo);
    return true;
}

bool TJpegDecoder::ReadRows(uint8_t* const* rows) {
    if (!FOk || !rows)
        return false;
    jpeg_decompress_struct* cinfo = &F.cinfo;
    if (setjmp(F.errors.jump))
        return FOk = false;
    jpeg_start_decompress(cinfo);
    while (cinfo->output_scanline < cinfo->output_height) {
        const JDIMENSION done = cinfo->output_scanline;
        if (jpeg_read_scanlines(cinfo, const_cast<JSAMPARRAY>(rows) + done,
                                cinfo->output_height - done) == 0)
            return FOk = false;
    }
    jpeg_finish_decompress(cinfo);
    return true;
}

}  // namespace media
