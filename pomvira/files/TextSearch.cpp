// SPDX-License-Identifier: GPL-3.0-or-later
#include "TextSearch.h"

#include <limits>
#include <stdexcept>

namespace {

// Code page 1252 upper-casing of all 256 byte values, built once.
std::array<unsigned char, 256> MakeUpperTable() {
    std::array<unsigned char, 256> table{};
    for (int c = 0; c < 256; ++c) {
        int up = c;
        if (c >= 'a' && c <= 'z') {
            up = c - 0x20;
        } else if (c >= 0xE0 && c <= 0xFE && c != 0xF7) {
            up = c - 0x20;  // à..þ -> À..Þ, the division sign excepted
        } else if (c == 0x9A || c == 0x9C || c == 0x9E) {
            up = c - 0x10;  // š œ ž -> Š Œ Ž
        } else if (c == 0xFF) {
            up = 0x9F;  // ÿ -> Ÿ
        }
        table[c] = static_cast<unsigned char>(up);
    }
    return table;
}

const std::array<unsigned char, 256> kUpperTable = MakeUpperTable();

inline unsigned char Byte(char c) {
    return static_cast<unsigned char>(c);
}

std::string UpperCased(const std::string& text) {
    std::string result(text);
    for (char& c : result) {
        c = static_cast<char>(kUpperTable[Byte(c)]);
    }
    return result;
}

// Forward search of the (already upper-cased when case-insensitive)
// pattern from 0-based `start`; returns the 0-based match or npos.
std::size_t ForwardFind(const std::string& pattern, const TSkipTable& skip, const std::string& text,
                        std::size_t start, bool caseSensitive) {
    const std::size_t m = pattern.size();
    const std::size_t n = text.size();
    if (m == 0 || m > n) {
        return std::string::npos;
    }
    std::size_t i = start;
    while (i <= n - m) {
        std::size_t j = m;
        if (caseSensitive) {
            while (j > 0 && text[i + j - 1] == pattern[j - 1]) {
                --j;
            }
        } else {
            while (j > 0 && kUpperTable[Byte(text[i + j - 1])] == Byte(pattern[j - 1])) {
                --j;
            }
        }
        if (j == 0) {
            return i;
        }
        unsigned char last = Byte(text[i + m - 1]);
        if (!caseSensitive) {
            last = kUpperTable[last];
        }
        i += skip[last];
    }
    return std::string::npos;
}

}  // namespace

unsigned char UpperCaseChar(unsigned char c) {
    return kUpperTable[c];
}

void BuildSkipTable(const std::string& pattern, TSkipTable& table) {
    if (pattern.empty()) {
        throw std::runtime_error("BufferLen is 0");
    }
    const std::size_t m = pattern.size();
    table.fill(m);
    for (std::size_t k = 0; k + 1 < m; ++k) {
        table[Byte(pattern[k])] = m - 1 - k;
    }
}

int TextPos(const std::string& pattern, const std::string& text, bool caseSensitive, bool forward,
            int startPos) {
    const std::size_t m = pattern.size();
    const std::size_t n = text.size();
    if (m == 0 || m > n || n > static_cast<std::size_t>(std::numeric_limits<int>::max())) {
        return 0;
    }
    const std::size_t lastStart = n - m;  // 0-based
    const std::string pat = caseSensitive ? pattern : UpperCased(pattern);

    if (forward) {
        const std::size_t start = startPos < 1 ? 0 : static_cast<std::size_t>(startPos) - 1;
        if (start > lastStart) {
            return 0;
        }
        TSkipTable skip;
        BuildSkipTable(pat, skip);
        const std::size_t found = ForwardFind(pat, skip, text, start, caseSensitive);
        return found == std::string::npos ? 0 : static_cast<int>(found) + 1;
    }

    std::size_t i = (startPos < 1 || static_cast<std::size_t>(startPos) - 1 > lastStart)
                        ? lastStart
                        : static_cast<std::size_t>(startPos) - 1;
    const auto fold = [caseSensitive](char c) {
        return caseSensitive ? Byte(c) : kUpperTable[Byte(c)];
    };
    for (;;) {
        if (fold(text[i]) == Byte(pat[0])) {
            std::size_t j = 1;
            while (j < m && fold(text[i + j]) == Byte(pat[j])) {
                ++j;
            }
            if (j == m) {
                return static_cast<int>(i) + 1;
            }
        }
        if (i == 0) {
            return 0;
        }
        --i;
    }
}

std::string TextReplace(const std::string& text, const std::string& pattern,
                        const std::string& replacement, bool caseSensitive) {
    if (text.empty()) {
        return std::string();
    }
    const std::string pat = caseSensitive ? pattern : UpperCased(pattern);
    TSkipTable skip;
    BuildSkipTable(pat, skip);

    std::string result;
    // Worst case when the replacement is longer: every pattern-sized piece
    // of the text is a match.
    std::size_t estimate = text.size();
    if (replacement.size() > pattern.size()) {
        const std::size_t pieces = text.size() / pattern.size();
        if (pieces <= result.max_size() / replacement.size()) {
            estimate = pieces * replacement.size() + text.size() % pattern.size();
        }
    }
    if (estimate < result.max_size()) {
        result.reserve(estimate);
    }

    std::size_t pos = 0;
    for (;;) {
        const std::size_t found = ForwardFind(pat, skip, text, pos, caseSensitive);
        if (found == std::string::npos) {
            break;
        }
        result.append(text, pos, found - pos);
        result.append(replacement);
        pos = found + pattern.size();
    }
    result.append(text, pos, std::string::npos);
    return result;
}
