// SPDX-License-Identifier: GPL-3.0-or-later
#include "FileNameCodec.h"

#include <cstdint>

namespace {

// The length of the valid UTF-8 sequence at p (end: one past the data),
// or 0 when the byte at p does not begin one.
int Utf8SequenceLength(const uint8_t* p, const uint8_t* end) {
    const uint8_t c = p[0];
    int n;
    uint32_t min;
    if (c < 0x80)
        return 1;
    if (c >= 0xC2 && c <= 0xDF) {
        n = 2;
        min = 0x80;
    } else if (c >= 0xE0 && c <= 0xEF) {
        n = 3;
        min = 0x800;
    } else if (c >= 0xF0 && c <= 0xF4) {
        n = 4;
        min = 0x10000;
    } else {
        return 0;
    }
    if (end - p < n)
        return 0;
    uint32_t code = c & (0x7F >> n);
    for (int i = 1; i < n; ++i) {
        if ((p[i] & 0xC0) != 0x80)
            return 0;
        code = code << 6 | (p[i] & 0x3F);
    }
    if (code < min || code > 0x10FFFF || (code >= 0xD800 && code <= 0xDFFF))
        return 0;
    return n;
}

}  // namespace

QString DecodeFileName(const QByteArray& bytes) {
    QString out;
    const auto* begin = reinterpret_cast<const uint8_t*>(bytes.constData());
    const uint8_t* end = begin + bytes.size();
    const uint8_t* run = begin;  // the start of the valid text not yet taken
    for (const uint8_t* p = begin; p < end;) {
        const int n = Utf8SequenceLength(p, end);
        if (n > 0) {
            p += n;
            continue;
        }
        out += QString::fromUtf8(reinterpret_cast<const char*>(run), p - run);
        out += QChar(char16_t(0xDC00 + *p));
        run = ++p;
    }
    if (run == begin)
        return QString::fromUtf8(bytes);  // all of it valid: the common case
    out += QString::fromUtf8(reinterpret_cast<const char*>(run), end - run);
    return out;
}

QByteArray EncodeFileName(const QString& name) {
    QByteArray out;
    qsizetype run = 0;  // the start of the text not yet encoded
    for (qsizetype i = 0; i < name.size(); ++i) {
        const char16_t u = name[i].unicode();
        if (u < 0xDC80 || u > 0xDCFF || (i > 0 && name[i - 1].isHighSurrogate()))
            continue;
        out += QStringView(name).mid(run, i - run).toUtf8();
        out += char(u - 0xDC00);
        run = i + 1;
    }
    if (run == 0)
        return name.toUtf8();
    out += QStringView(name).mid(run).toUtf8();
    return out;
}
