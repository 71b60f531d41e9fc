// SPDX-License-Identifier: GPL-3.0-or-later
// An independent reading of JPEG data with libjpeg, to check what the
// program wrote: the frame marker, the components, the quantisation tables
// and the pixels.
#pragma once

#include <QByteArray>
#include <QImage>
#include <QString>
#include <array>
#include <cstdint>
#include <vector>

using TQuantTable = std::array<uint16_t, 64>;

struct TJpegReadBack {
    bool ok = false;
    QString error;        // the library's message when not ok
    int frameMarker = 0;  // 0xC0 for baseline, 0xC2 progressive, ...
    int width = 0, height = 0, components = 0;
    bool progressive = false;
    std::vector<TQuantTable> quantTables;  // in the file's table slots
    QImage pixels;                         // RGB888, full size
};

TJpegReadBack ReadJpegBack(const QByteArray& data);
TJpegReadBack ReadJpegFileBack(const QString& path);

// The tables that libjpeg's own quality setting gives (luminance,
// chrominance), for comparison.
std::vector<TQuantTable> QualityTables(int quality);
