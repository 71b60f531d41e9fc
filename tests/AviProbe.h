// SPDX-License-Identifier: GPL-3.0-or-later
// An independent reading of the AVI files the camera program records:
// ffprobe's view of the file (its streams, their codecs and formats, the
// duration, and on request the frames counted by reading them all), and the
// file's own RIFF layout (the main header's total frame count and whether the
// idx1 index is there), read byte by byte.
#pragma once

#include <QString>
#include <cstdint>
#include <vector>

struct TAviStream {
    QString type;          // "video", "audio"
    QString codec;         // ffprobe's codec name: "rawvideo", "mjpeg", "pcm_s16le", ...
    QString pixelFormat;   // video: "yuyv422", ...
    QString sampleFormat;  // audio: "s16", ...
    int width = 0, height = 0;
    int bitsPerSample = 0, channels = 0, sampleRate = 0;
    int64_t frames = -1;  // frames read (countFrames only), else -1
    double duration = 0;  // seconds, as ffprobe tells it for the stream (else its header)
};

struct TAviProbe {
    bool ok = false;  // ffprobe read the file
    QString error;    // ffprobe's output when it did not
    std::vector<TAviStream> streams;
    double duration = 0;  // seconds, as ffprobe tells it for the file
    // The RIFF layout.
    bool riff = false;         // a RIFF "AVI " form
    uint32_t totalFrames = 0;  // the main header's dwTotalFrames
    bool hasIndex = false;     // a non-empty idx1 chunk
    std::vector<double> headerDurations;  // each stream header's length, in seconds

    const TAviStream* Stream(const QString& type) const;
    int Count(const QString& type) const;
    // A complete recording: RIFF form, frames counted in the header, index.
    bool Complete() const { return ok && riff && totalFrames > 0 && hasIndex; }
    // Everything known, on one line (for failure messages).
    QString Text() const;
};

// countFrames: ffprobe reads every frame and counts them (slower).
TAviProbe ProbeAvi(const QString& path, bool countFrames = false);
