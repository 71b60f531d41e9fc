// SPDX-License-Identifier: GPL-3.0-or-later
#include "TextConv.h"

#include <QCoreApplication>
#include <utility>

namespace {

// Code points of the bytes 0x80-0x9F. The five bytes the code page leaves
// unassigned (0x81, 0x8D, 0x8F, 0x90, 0x9D) map to the control characters of
// the same value, both ways, as the platform's own conversion does.
constexpr char16_t kHighBlock[32] = {
    0x20AC, 0x0081, 0x201A, 0x0192, 0x201E, 0x2026, 0x2020, 0x2021,  // 80-87
    0x02C6, 0x2030, 0x0160, 0x2039, 0x0152, 0x008D, 0x017D, 0x008F,  // 88-8F
    0x0090, 0x2018, 0x2019, 0x201C, 0x201D, 0x2022, 0x2013, 0x2014,  // 90-97
    0x02DC, 0x2122, 0x0161, 0x203A, 0x0153, 0x009D, 0x017E, 0x0178,  // 98-9F
};

constexpr char kDefaultChar = '?';

bool IsHighSurrogate(char16_t u) {
    return u >= 0xD800 && u <= 0xDBFF;
}
bool IsLowSurrogate(char16_t u) {
    return u >= 0xDC00 && u <= 0xDFFF;
}

}  // namespace

int UnicodeToCp1252(char32_t codePoint) {
    if (codePoint < 0x80 || (codePoint >= 0xA0 && codePoint <= 0xFF)) {
        return static_cast<int>(codePoint);
    }
    for (int i = 0; i < 32; ++i) {
        if (kHighBlock[i] == codePoint) {
            return 0x80 + i;
        }
    }
    return -1;
}

char16_t Cp1252ToUnicode(unsigned char byte) {
    if (byte >= 0x80 && byte <= 0x9F) {
        return kHighBlock[byte - 0x80];
    }
    return byte;
}

int WideToAnsi(const std::u16string& text, std::string& result) {
    // A surrogate pair is one character outside the code page and becomes
    // one default character; so does a lone surrogate.
    std::string converted;
    converted.reserve(text.size());
    for (std::size_t i = 0; i < text.size(); ++i) {
        const char16_t u = text[i];
        if (IsHighSurrogate(u) && i + 1 < text.size() && IsLowSurrogate(text[i + 1])) {
            ++i;
            converted.push_back(kDefaultChar);
            continue;
        }
        const int b = UnicodeToCp1252(u);
        converted.push_back(b < 0 ? kDefaultChar
                                  : static_cast<char>(static_cast<unsigned char>(b)));
    }
    result = std::move(converted);
    return static_cast<int>(result.size());
}

std::string WideToAnsiText(const std::u16string& text) {
    std::string result;
    WideToAnsi(text, result);
    return result;
}

QString AnsiToText(const std::string& bytes) {
    QString text(static_cast<qsizetype>(bytes.size()), Qt::Uninitialized);
    QChar* out = text.data();
    for (std::size_t i = 0; i < bytes.size(); ++i) {
        out[i] = QChar(Cp1252ToUnicode(static_cast<unsigned char>(bytes[i])));
    }
    return text;
}

QString ShownText(const std::u16string& text) {
    return AnsiToText(WideToAnsiText(text));
}

QString UiText(const char* context, const char* french, const char* disambiguation) {
    return ShownText(QCoreApplication::translate(context, french, disambiguation).toStdU16String());
}
