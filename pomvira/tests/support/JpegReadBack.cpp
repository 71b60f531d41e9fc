// SPDX-License-Identifier: GPL-3.0-or-later
#include "JpegReadBack.h"

#include <QFile>
#include <csetjmp>
#include <cstdio>
#include <cstring>

#include <jpeglib.h>

namespace {

struct TErrors {
    jpeg_error_mgr pub;
    std::jmp_buf jump;
    char message[JMSG_LENGTH_MAX];
};

extern "C" void ExitWithJump(j_common_ptr cinfo) {
    auto* err = reinterpret_cast<TErrors*>(cinfo->err);
    (*cinfo->err->format_message)(cinfo, err->message);
    std::longjmp(err->jump, 1);
}

extern "C" void Quiet(j_common_ptr) {}

// The code of the first start-of-frame marker (SOF0 ... SOF15), or 0.
int FrameMarker(const QByteArray& data) {
    const auto* b = reinterpret_cast<const uint8_t*>(data.constData());
    const qsizetype n = data.size();
    qsizetype i = 2;
    while (i + 4 <= n && b[i] == 0xFF) {
        const int marker = b[i + 1];
        if (marker >= 0xC0 && marker <= 0xCF && marker != 0xC4 && marker != 0xC8 && marker != 0xCC)
            return marker;
        i += 2 + ((b[i + 2] << 8) | b[i + 3]);
    }
    return 0;
}

// Only plain data and C calls after setjmp: the jump skips no destructor.
bool Decode(jpeg_decompress_struct* cinfo, TErrors* err, const QByteArray* data,
            TJpegReadBack* out) {
    if (setjmp(err->jump))
        return false;
    jpeg_create_decompress(cinfo);
    jpeg_mem_src(cinfo, reinterpret_cast<const unsigned char*>(data->constData()),
                 static_cast<unsigned long>(data->size()));
    jpeg_read_header(cinfo, TRUE);
    out->width = int(cinfo->image_width);
    out->height = int(cinfo->image_height);
    out->components = cinfo->num_components;
    out->progressive = cinfo->progressive_mode;
    for (int t = 0; t < NUM_QUANT_TBLS; ++t) {
        if (!cinfo->quant_tbl_ptrs[t])
            continue;
        TQuantTable table;
        for (int k = 0; k < 64; ++k)
            table[size_t(k)] = cinfo->quant_tbl_ptrs[t]->quantval[k];
        out->quantTables.push_back(table);
    }
    cinfo->out_color_space = JCS_RGB;
    jpeg_start_decompress(cinfo);
    out->pixels =
        QImage(int(cinfo->output_width), int(cinfo->output_height), QImage::Format_RGB888);
    while (cinfo->output_scanline < cinfo->output_height) {
        JSAMPROW row = out->pixels.scanLine(int(cinfo->output_scanline));
        jpeg_read_scanlines(cinfo, &row, 1);
    }
    jpeg_finish_decompress(cinfo);
    return true;
}

bool MakeTables(jpeg_compress_struct* cinfo, TErrors* err, int quality) {
    if (setjmp(err->jump))
        return false;
    jpeg_create_compress(cinfo);
    cinfo->in_color_space = JCS_RGB;
    cinfo->input_components = 3;
    jpeg_set_defaults(cinfo);
    jpeg_set_quality(cinfo, quality, TRUE);
    return true;
}

}  // namespace

TJpegReadBack ReadJpegBack(const QByteArray& data) {
    TJpegReadBack out;
    out.frameMarker = FrameMarker(data);
    jpeg_decompress_struct cinfo;
    std::memset(&cinfo, 0, sizeof cinfo);
    TErrors err;
    jpeg_std_error(&err.pub);
    err.pub.error_exit = ExitWithJump;
    err.pub.output_message = Quiet;
    err.message[0] = '\0';
    cinfo.err = &err.pub;
    out.ok = Decode(&cinfo, &err, &data, &out);
    jpeg_destroy_decompress(&cinfo);
    if (!out.ok) {
        out.error = QString::fromLatin1(err.message);
        out.pixels = QImage();
    }
    return out;
}

TJpegReadBack ReadJpegFileBack(const QString& path) {
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly)) {
        TJpegReadBack out;
        out.error = file.errorString();
        return out;
    }
    return ReadJpegBack(file.readAll());
}

std::vector<TQuantTable> QualityTables(int quality) {
    jpeg_compress_struct cinfo;
    std::memset(&cinfo, 0, sizeof cinfo);
    TErrors err;
    jpeg_std_error(&err.pub);
    err.pub.error_exit = ExitWithJump;
    cinfo.err = &err.pub;
    std::vector<TQuantTable> tables;
    if (MakeTables(&cinfo, &err, quality)) {
        for (int t = 0; t < 2; ++t) {
            TQuantTable table;
            for (int k = 0; k < 64; ++k)
                table[size_t(k)] = cinfo.quant_tbl_ptrs[t]->quantval[k];
            tables.push_back(table);
        }
    }
    jpeg_destroy_compress(&cinfo);
    return tables;
}
