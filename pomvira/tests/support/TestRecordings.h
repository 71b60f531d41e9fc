// SPDX-License-Identifier: GPL-3.0-or-later
// Recordings for the repair's tests: written by GStreamer's AVI multiplexer
// as the program records (killed while writing, or complete) and by ffmpeg,
// with a reading of their RIFF chunks that is the tests' own.
#pragma once

#include <QByteArray>
#include <QString>
#include <QStringList>
#include <cstdint>
#include <functional>
#include <set>
#include <vector>

enum class TSource { Live, Short, Fast };

// YUY2 frames at 30 a second (320 x 240; 1280 x 720 black ones for Fast) and
// 44.1 kHz stereo sound, as the program records them, into an AVI file: live
// (as from a camera), 45 frames, or as fast as they can be written.
QStringList RecordingPipeline(const QString& path, TSource source);

// A recording of at least `bytes` killed with SIGKILL while it is written.
// While it runs, `whileRunning` sees it.
bool KilledRecording(const QString& path, qint64 bytes,
                     const std::function<void()>& whileRunning = {},
                     TSource source = TSource::Live);

// A complete recording of 45 frames.
bool CompleteRecording(const QString& path);

// A complete recording written by ffmpeg: a second and a half of Motion
// JPEG frames (of varying, often odd sizes) and PCM sound.
bool FfmpegRecording(const QString& path);

QByteArray Checksum(const QString& path);
QByteArray ReadAll(const QString& path);
// Written as an hour old: the repair need not wait for it to settle.
bool WriteAll(const QString& path, const QByteArray& bytes);

// A chunk of the 'movi' list: where its header is, its id and size.
struct TAviChunk {
    int64_t pos = 0;
    QByteArray id;
    uint32_t size = 0;
    int64_t End() const { return pos + 8 + int64_t(size) + (size & 1); }
    bool IsVideo() const { return id.endsWith("dc") || id.endsWith("db"); }
};

// The first 'movi' list's position in a file whose header is intact, or -1.
int64_t MoviPosition(const QByteArray& file);
// The chunks of the first 'movi' list, walked by their sizes up to the
// first that is no stream's or that the file's end cuts short.
std::vector<TAviChunk> MoviChunks(const QByteArray& file);
// The positions of the frames that the idx1 index after the first 'movi'
// list names (absolute, or relative to the list as some writers give them),
// each checked to hold a chunk of the id the entry gives; empty without an
// index. `bad` counts entries that name no such chunk.
std::set<int64_t> IndexedFrames(const QByteArray& file, int* bad = nullptr);
