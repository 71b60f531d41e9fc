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
    out.reserve(bytes.size());
    const auto* p = reinterpret_cast<const uint8_t*>(bytes.constData());
    const uint8_t* end = p + bytes.size();
    while (p < end) {
        const int n = Utf8SequenceLength(p, end);
        if (n == 0) {
            out += QChar(char16_t(0xDC00 + *p));
            ++p;
        } else {
            out += QString::fromUtf8(reinterpret_cast<const char*>(p), n);
            p += n;
        }
    }
    return out;
}

QByteArray EncodeFileName(const QString& name) {
    QByteArray out;
    out.reserve(name.size());
    for (qsizetype i = 0; i < name.size(); ++i) {
        const char16_t u = name[i].unicode();
        const bool pairedLow = i > 0 && name[i - 1].isHighSurrogate();
        if (u >= 0xDC80 && u <= 0xDCFF && !pairedLow) {
            out += char(u - 0xDC00);
        } else if (name[i].isHighSurrogate() && i + 1 < name.size() &&
                   name[i + 1].isLowSurrogate()) {
            out += name.mid(i, 2).toUtf8();
            ++i;
        } else {
            out += QString(name[i]).toUtf8();
        }
    }
    return out;
}

