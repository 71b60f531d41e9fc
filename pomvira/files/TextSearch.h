// SPDX-License-Identifier: GPL-3.0-or-later
// Text search and replace over 8-bit text: a forward search with a skip
// table, a backward search, and case-insensitive comparison through a
// code page 1252 upper-case table.
#pragma once

#include <array>
#include <cstddef>
#include <string>

// Skip table of the forward search, indexed by byte value.
using TSkipTable = std::array<std::size_t, 256>;

// Fills `table` for `pattern`: every entry is the pattern length, then each
// pattern byte except the last gets its distance to the pattern's end.
// Throws std::runtime_error("BufferLen is 0") for an empty pattern.
void BuildSkipTable(const std::string& pattern, TSkipTable& table);

// Upper-case form of a code page 1252 byte (a-z, the accented letters of
// 0xE0-0xFE except 0xF7, and the letters of 0x9A, 0x9C, 0x9E, 0xFF).
unsigned char UpperCaseChar(unsigned char c);

// 1-based position of `pattern` in `text`, or 0 when not found.
// Forward: the first occurrence starting at or after `startPos` (positions
// below 1 count as 1). Backward: the rightmost occurrence starting at or
// before `startPos`; a `startPos` of 0 or beyond the last possible start
// means the last possible start. An empty pattern or one longer than the
// text gives 0.
int TextPos(const std::string& pattern, const std::string& text, bool caseSensitive, bool forward,
            int startPos);

// `text` with every non-overlapping occurrence of `pattern`, found from
// left to right, replaced by `replacement`. An empty text gives the empty
// text; an empty pattern is refused by the skip-table builder.
std::string TextReplace(const std::string& text, const std::string& pattern,
                        const std::string& replacement, bool caseSensitive);
