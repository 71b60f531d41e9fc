// SPDX-License-Identifier: GPL-3.0-or-later
// Window outlines cut from pictures: the region made of a picture's pixels
// that are not the transparent colour.
#pragma once

#include <QImage>
#include <QRegion>
#include <cstdint>

// The region of `picture` made of one rectangle per horizontal run of pixels
// that differ from `transparentColor` (a colour value 0x00BBGGRR), united.
// An empty picture or one without any opaque pixel gives an empty region.
// A 24-bit picture (RGB888 or BGR888) is read directly; any other picture is
// first reduced to a one-bit mask of the transparent colour (its alpha is
// ignored), which gives the same region as its 24-bit copy would.
QRegion BitmapToRegion(const QImage& picture, uint32_t transparentColor);

// A copy of `picture` (ARGB32) in which every pixel of the colour `key`
// (0xRRGGBB, alpha ignored) is fully transparent and every other pixel fully
// opaque: drawing it leaves the canvas as it was where the key colour is.
QImage KeyColorTransparent(const QImage& picture, QRgb key);
