// SPDX-License-Identifier: GPL-3.0-or-later
#include "JpegFile.h"

#include <QFile>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <stdexcept>
#include <unistd.h>
#include <vector>

#include "TextConv.h"
#include "media/Bitmap.h"
#include "media/FileNameCodec.h"
#include "media/JpegLib.h"

namespace {

// A decoded picture larger than this (in pixels) is refused.
constexpr int64_t kMaxDecodedPixels = int64_t(64) * 1024 * 1024;
// A picture that declares more pixels than any camera makes is refused
// before anything is decoded: whatever the DCT scaling, the library decodes
// a progressive picture's coefficients at the full size (gigabytes and
// seconds for a few hundred bytes of file).
constexpr int64_t kMaxDeclaredPixels = 100'000'000;

struct TCompressJob {
    jpeg_compress_struct cinfo;
    media::TJpegErrorManager err;
    unsigned char* out = nullptr;  // allocated by the library, freed with free()
    unsigned long outSize = 0;
};

// The library's fatal errors jump back to the setjmp below (JpegLib.h);
// nothing with a destructor lives between it and the library's calls.
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
    media::InitJpegErrors(job.err);
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
    media::TJpegDecoder::TLimits limits;
    limits.MaxPixels = kMaxDeclaredPixels;
    limits.MaxScans = kMaxJpegScans;
    limits.Deadline = deadline;
    media::TJpegDecoder decoder(reinterpret_cast<const uint8_t*>(data.constData()),
                                size_t(data.size()), media::kJpegRgb32Space, limits, false);
    if (!decoder.Ok())
        return QImage();
    // The smallest scale M/8 whose output covers the size asked for.
    if (atLeast.width() > 0 && atLeast.height() > 0) {
        for (unsigned m = 1; m <= 8; ++m) {
            if (!decoder.Scale(m, 8))
                return QImage();
            const QSize out = decoder.OutputSize();
            if (out.width() >= atLeast.width() && out.height() >= atLeast.height())
                break;
        }
    }
    const QSize out = decoder.OutputSize();
    if (int64_t(out.width()) * int64_t(out.height()) > kMaxDecodedPixels)
        return QImage();
    QImage image(out, QImage::Format_RGB32);
    if (image.isNull())
        return image;
    std::vector<uint8_t*> rows(size_t(out.height()));
    for (size_t y = 0; y < rows.size(); ++y)
        rows[y] = image.scanLine(int(y));
    return decoder.ReadRows(rows.data()) ? image : QImage();
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
