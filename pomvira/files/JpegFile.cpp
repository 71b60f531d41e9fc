// SPDX-License-Identifier: GPL-3.0-or-later
#include "JpegFile.h"

#include <QFile>
#include <cerrno>
#include <csetjmp>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <stdexcept>
#include <unistd.h>
#include <vector>

// jpeglib.h needs size_t and FILE declared before it.
#include <jpeglib.h>

#include "TextConv.h"
#include "media/Bitmap.h"
#include "media/FileNameCodec.h"

// libjpeg reports a fatal error by calling error_exit, which must not
// return. Here it jumps back (longjmp) to the setjmp of the function that
// called into the library; the progress monitor (JpegProgress) gives the
// decoding up the same way. Those functions (RunCompress, ReadHeader,
// ReadRows, JpegProgress) hold no object with a destructor and only call C
// functions, so the jump skips no C++ clean-up; their callers, which own the
// buffers, always destroy the library's structure afterwards, on success or
// failure.

namespace {

struct TJpegErrorManager {
    jpeg_error_mgr pub;
    std::jmp_buf jump;
    char message[JMSG_LENGTH_MAX];
};

extern "C" void JpegErrorExit(j_common_ptr cinfo) {
    auto* err = reinterpret_cast<TJpegErrorManager*>(cinfo->err);
    (*cinfo->err->format_message)(cinfo, err->message);
    std::longjmp(err->jump, 1);
}

// Warnings (corrupt data that the library works around) are not printed.
extern "C" void JpegOutputMessage(j_common_ptr) {}

void InitErrorManager(TJpegErrorManager& err) {
    jpeg_std_error(&err.pub);
    err.pub.error_exit = JpegErrorExit;
    err.pub.output_message = JpegOutputMessage;
    err.message[0] = '\0';
}

// Output colour layout matching QImage::Format_RGB32 in memory.
#if Q_BYTE_ORDER == Q_LITTLE_ENDIAN
constexpr J_COLOR_SPACE kRgb32Space = JCS_EXT_BGRX;
#else
constexpr J_COLOR_SPACE kRgb32Space = JCS_EXT_XRGB;
#endif

// A decoded picture larger than this (in pixels) is refused.
constexpr int64_t kMaxDecodedPixels = int64_t(64) * 1024 * 1024;
// A picture that declares more pixels than any camera makes is refused
// before anything is decoded: whatever the DCT scaling, the library decodes
// a progressive picture's coefficients at the full size (gigabytes and
// seconds for a few hundred bytes of file).
constexpr int64_t kMaxDeclaredPixels = 100'000'000;
// The most memory the library may take for one picture; beyond it decoding
// fails (this program gives the library no temporary files).
constexpr long kMaxDecoderMemory = 256L << 20;

struct TCompressJob {
    jpeg_compress_struct cinfo;
    TJpegErrorManager err;
    unsigned char* out = nullptr;  // allocated by the library, freed with free()
    unsigned long outSize = 0;
};

bool RunCompress(TCompressJob* job, const TJpegSource* source, int quality, JSAMPROW* rows) {
    jpeg_compress_struct* cinfo = &job->cinfo;
    if (setjmp(job->err.jump))
        return false;
    jpeg_create_compress(cinfo);
    jpeg_mem_dest(cinfo, &job->out, &job->outSize);
    cinfo->image_width = JDIMENSION(source->Width);
    cinfo->image_height = JDIMENSION(source->Height);
    cinfo->input_components = source->BytesPerPixel;
    cinfo->in_color_space = source->BytesPerPixel == 4 ? JCS_EXT_BGRX : JCS_EXT_BGR;
    jpeg_set_defaults(cinfo);  // YCbCr, sequential, standard Huffman tables
    jpeg_set_quality(cinfo, quality, TRUE);
    jpeg_start_compress(cinfo, TRUE);
    while (cinfo->next_scanline < cinfo->image_height)
        jpeg_write_scanlines(cinfo, rows + cinfo->next_scanline,
                             cinfo->image_height - cinfo->next_scanline);
    jpeg_finish_compress(cinfo);
    return true;
}

// Gives the decoding up past its deadline or past the most scans: called
// by the library as it reads (at every row of blocks of every scan).
struct TDecodeLimits {
    jpeg_progress_mgr pub;
    std::chrono::steady_clock::time_point deadline;
};

extern "C" void JpegProgress(j_common_ptr cinfo) {
    const auto* limits = reinterpret_cast<const TDecodeLimits*>(cinfo->progress);
    const auto* decompress = reinterpret_cast<const jpeg_decompress_struct*>(cinfo);
    if (decompress->input_scan_number > kMaxJpegScans ||
        std::chrono::steady_clock::now() > limits->deadline)
        (*cinfo->err->error_exit)(cinfo);
}

struct TDecompressJob {
    jpeg_decompress_struct cinfo;
    TJpegErrorManager err;
    TDecodeLimits limits;
};

bool ReadHeader(TDecompressJob* job, const unsigned char* data, unsigned long size, int minWidth,
                int minHeight) {
    jpeg_decompress_struct* cinfo = &job->cinfo;
    if (setjmp(job->err.jump))
        return false;
    jpeg_create_decompress(cinfo);
    cinfo->mem->max_memory_to_use = kMaxDecoderMemory;
    cinfo->progress = &job->limits.pub;
    jpeg_mem_src(cinfo, data, size);
    jpeg_read_header(cinfo, TRUE);
    if (int64_t(cinfo->image_width) * int64_t(cinfo->image_height) > kMaxDeclaredPixels)
        return false;
    cinfo->out_color_space = kRgb32Space;
    cinfo->scale_denom = 8;
    cinfo->scale_num = 8;
    if (minWidth > 0 && minHeight > 0) {
        for (unsigned int m = 1; m <= 8; ++m) {
            cinfo->scale_num = m;
            jpeg_calc_output_dimensions(cinfo);
            if (cinfo->output_width >= JDIMENSION(minWidth) &&
                cinfo->output_height >= JDIMENSION(minHeight))
                break;
        }
    }
    jpeg_calc_output_dimensions(cinfo);
    return true;
}

bool ReadRows(TDecompressJob* job, unsigned char* bits, size_t bytesPerLine) {
    jpeg_decompress_struct* cinfo = &job->cinfo;
    if (setjmp(job->err.jump))
        return false;
    jpeg_start_decompress(cinfo);
    while (cinfo->output_scanline < cinfo->output_height) {
        JSAMPROW row = bits + size_t(cinfo->output_scanline) * bytesPerLine;
        jpeg_read_scanlines(cinfo, &row, 1);
    }
    jpeg_finish_decompress(cinfo);
    return true;
}

[[noreturn]] void ThrowWriteError(const QString& path, int error) {
    const QString text = UiText("Messages", "Impossible d'enregistrer le fichier %1 : %2")
                             .arg(path, QString::fromLocal8Bit(std::strerror(error)));
    throw std::runtime_error(text.toStdString());
}

}  // namespace

void TJpegData::Free::operator()(uint8_t* p) const {
    std::free(p);
}

TJpegSource JpegSourceOf(const media::TBitmap& bitmap) {
    const media::BITMAPINFOHEADER* header = bitmap.Header();
    if (!header || header->biCompression != media::BI_RGB ||
        (bitmap.BitCount() != 24 && bitmap.BitCount() != 32))
        throw std::runtime_error(UiText("Messages",
                                        "L'image de la caméra est vide ou d'un format "
                                        "inconnu.")
                                     .toStdString());
    TJpegSource source;
    source.Bits = bitmap.Bits();
    source.Width = bitmap.Width();
    source.Height = bitmap.Height();
    source.Stride = bitmap.Stride();
    source.BytesPerPixel = bitmap.BitCount() / 8;
    source.BottomUp = bitmap.BottomUp();
    return source;
}

TJpegData EncodeJpeg(const TJpegSource& source, int quality) {
    if (!source.Bits || source.Width <= 0 || source.Height <= 0 ||
        (source.BytesPerPixel != 3 && source.BytesPerPixel != 4) ||
        source.Stride < int64_t(source.Width) * source.BytesPerPixel)
        throw std::invalid_argument("EncodeJpeg: no pixels");
    // The rows top to bottom, whatever their order in memory.
    std::vector<JSAMPROW> rows(size_t(source.Height));
    for (int y = 0; y < source.Height; ++y) {
        const int memoryRow = source.BottomUp ? source.Height - 1 - y : y;
        rows[size_t(y)] = const_cast<JSAMPROW>(source.Bits + memoryRow * source.Stride);
    }
    TCompressJob job;
    std::memset(&job.cinfo, 0, sizeof job.cinfo);
    InitErrorManager(job.err);
    job.cinfo.err = &job.err.pub;
    const bool ok = RunCompress(&job, &source, quality, rows.data());
    jpeg_destroy_compress(&job.cinfo);
    TJpegData result;
    result.data_.reset(job.out);
    result.size_ = job.outSize;
    if (!ok)
        throw std::runtime_error((UiText("Messages", "Impossible de coder l'image JPEG : ") +
                                  QString::fromLatin1(job.err.message))
                                     .toStdString());
    return result;
}

void WriteNewFile(const QString& path, const uint8_t* data, size_t size) {
    const QByteArray name = EncodeFileName(path);
    const int fd = ::open(name.constData(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0666);
    if (fd < 0)
        ThrowWriteError(path, errno);
    int error = 0;
    size_t done = 0;
    while (done < size) {
        const ssize_t n = ::write(fd, data + done, size - done);
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0) {
            error = n < 0 ? errno : ENOSPC;
            break;
        }
        done += size_t(n);
    }
    // Some file systems report a failed write only when the file is closed.
    if (::close(fd) != 0 && error == 0 && errno != EINTR)
        error = errno;
    if (error != 0) {
        ::unlink(name.constData());
        ThrowWriteError(path, error);
    }
}

void SaveJpegFile(const media::TBitmap& bitmap, const QString& path, int quality) {
    const TJpegData jpeg = EncodeJpeg(JpegSourceOf(bitmap), quality);
    WriteNewFile(path, jpeg.Data(), jpeg.Size());
}

QImage DecodeJpeg(const QByteArray& data, const QSize& atLeast,
                  std::chrono::steady_clock::time_point deadline) {
    if (data.isEmpty())
        return QImage();
    TDecompressJob job;
    std::memset(&job.cinfo, 0, sizeof job.cinfo);
    InitErrorManager(job.err);
    job.cinfo.err = &job.err.pub;
    std::memset(&job.limits.pub, 0, sizeof job.limits.pub);
    job.limits.pub.progress_monitor = JpegProgress;
    job.limits.deadline = deadline;
    QImage image;
    const auto* bytes = reinterpret_cast<const unsigned char*>(data.constData());
    if (ReadHeader(&job, bytes, static_cast<unsigned long>(data.size()), atLeast.width(),
                   atLeast.height())) {
        const JDIMENSION w = job.cinfo.output_width, h = job.cinfo.output_height;
        if (w > 0 && h > 0 && int64_t(w) * int64_t(h) <= kMaxDecodedPixels) {
            image = QImage(int(w), int(h), QImage::Format_RGB32);
            if (!image.isNull() && !ReadRows(&job, image.bits(), size_t(image.bytesPerLine())))
                image = QImage();
        }
    }
    jpeg_destroy_decompress(&job.cinfo);
    return image;
}

QImage LoadJpegThumbnail(const QString& path, const QSize& size) {
    // Opened by the system's own call: the name may hold any bytes.
    const int fd = ::open(EncodeFileName(path).constData(), O_RDONLY | O_NONBLOCK | O_CLOEXEC);
    if (fd < 0)
        return QImage();
    QFile file;
    const bool opened = file.open(fd, QIODevice::ReadOnly, QFileDevice::AutoCloseHandle);
    if (!opened)
        ::close(fd);
    const auto deadline = std::chrono::steady_clock::now() + kThumbnailTimeLimit;
    const QImage picture = opened ? DecodeJpeg(file.readAll(), size, deadline) : QImage();
    if (picture.isNull())
        return picture;
    return picture.scaled(size, Qt::IgnoreAspectRatio, Qt::SmoothTransformation);
}
