// SPDX-License-Identifier: GPL-3.0-or-later
// Conversion of the program's UTF-16 interface texts to 8-bit text in code
// page 1252 (Western European), whatever the system's own code page, and
// decoding of such bytes for display.
#pragma once

#include <QString>
#include <string>

// Converts `text` to code page 1252 into `result` (resized to the bytes
// needed); a character outside the code page becomes '?'. Returns the number
// of bytes written. An empty text gives an empty result and 0.
int WideToAnsi(const std::u16string& text, std::string& result);

// The converted text of WideToAnsi.
std::string WideToAnsiText(const std::u16string& text);

// Decodes code page 1252 bytes, the way a converted text is shown.
QString AnsiToText(const std::string& bytes);

// A user-interface text set in code as it reaches the screen: converted to
// code page 1252 and shown by decoding its bytes with the same code page.
QString ShownText(const std::u16string& text);

// A user-interface text set in code, in the user's language: the program's
// own French text (UTF-8) looked up under `context` in the loaded catalogue
// (itself when there is none or the catalogue lacks it), then shown the way
// ShownText shows a text. The catalogues' tools find the texts by this
// function's name: call it with literal texts.
QString UiText(const char* context, const char* french, const char* disambiguation = nullptr);

// The code page 1252 byte of one Unicode code point, or -1 when the code
// page has none.
int UnicodeToCp1252(char32_t codePoint);

// The Unicode code point of one code page 1252 byte.
char16_t Cp1252ToUnicode(unsigned char byte);
