// SPDX-License-Identifier: GPL-3.0-or-later
// Video frames made for tests, in the layout the frame grabber hands out.
#pragma once

#include <QColor>
#include <cstdint>
#include <vector>

#include "media/Bitmap.h"

// A 24-bit bottom-up bitmap: the upper half of the picture `top`, the lower
// half `bottom`, rows padded to 4 bytes.
media::TBitmap TwoColourBitmap(int width, int height, QRgb top, QRgb bottom);

// The same frame's bytes, as the grabber buffers them.
std::vector<uint8_t> TwoColourFrame(int width, int height, QRgb top, QRgb bottom);

// One of the seven colour bars of the top two thirds of the test camera's
// picture (white, yellow, cyan, green, magenta, red, blue).
bool IsColourBar(QRgb c);
