// SPDX-License-Identifier: GPL-3.0-or-later
#include "TestRecordings.h"

#include <QFile>
#include <QCryptographicHash>
#include <QDateTime>
#include <QFileInfo>
#include <QProcess>
#include <QTest>
#include <csignal>
#include <cstring>

QStringList RecordingPipeline(const QString& path, TSource source) {
    const QString video = source == TSource::Live    ? QStringLiteral("is-live=true")
                          : source == TSource::Short ? QStringLiteral("num-buffers=45")
                                                     : QStringLiteral("pattern=black");
    const QString audio = source == TSource::Live    ? QStringLiteral("is-live=true")
                          : source == TSource::Short ? QStringLiteral("num-buffers=60")
                                                     : QStringLiteral("volume=0.1");
    const QString size = source == TSource::Fast ? QStringLiteral("width=1280,height=720")
                                                 : QStringLiteral("width=320,height=240");
    return QStringLiteral(
               "-q -e videotestsrc %1 ! video/x-raw,format=YUY2,%2,framerate=30/1 ! queue ! "
               "mux. audiotestsrc %3 ! audio/x-raw,format=S16LE,rate=44100,channels=2 ! "
               "queue ! mux. avimux name=mux ! filesink location=%4")
        .arg(video, size, audio, path)
        .split(QLatin1Char(' '));
}

bool KilledRecording(const QString& path, qint64 bytes, const std::function<void()>& whileRunning,
                     TSource source) {
    QProcess recorder;
    recorder.start(QStringLiteral("gst-launch-1.0"), RecordingPipeline(path, source));
    if (!recorder.waitForStarted(10000))
        return false;
    const bool grown = QTest::qWaitFor([&] { return QFileInfo(path).size() >= bytes; }, 60000);
    if (grown && whileRunning)
        whileRunning();
    ::kill(pid_t(recorder.processId()), SIGKILL);
    recorder.waitForFinished(10000);
    return grown;
}

bool CompleteRecording(const QString& path) {
    QProcess recorder;
    recorder.start(QStringLiteral("gst-launch-1.0"), RecordingPipeline(path, TSource::Short));
    return recorder.waitForFinished(30000) && recorder.exitCode() == 0;
}

bool FfmpegRecording(const QString& path) {
    QProcess ffmpeg;
    ffmpeg.start(QStringLiteral("ffmpeg"),
                 QStringLiteral("-v error -y -f lavfi -i testsrc=size=320x240:rate=30 -f lavfi "
                                "-i sine=frequency=440:sample_rate=44100 -t 1.5 -c:v mjpeg "
                                "-c:a pcm_s16le")
                         .split(QLatin1Char(' '))
                     << path);
    return ffmpeg.waitForFinished(30000) && ffmpeg.exitCode() == 0;
}

QByteArray Checksum(const QString& path) {
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        return {};
    QCryptographicHash hash(QCryptographicHash::Sha256);
    hash.addData(&file);
    return hash.result();
}

QByteArray ReadAll(const QString& path) {
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}

bool WriteAll(const QString& path, const QByteArray& bytes) {
    QFile file(path);
    return file.open(QIODevice::WriteOnly | QIODevice::Truncate) &&
           file.write(bytes) == bytes.size() &&
           file.setFileTime(QDateTime::currentDateTime().addSecs(-3600),
                            QFileDevice::FileModificationTime);
}

namespace {

uint32_t U32(const QByteArray& b, int64_t pos) {
    if (pos < 0 || pos + 4 > b.size())
        return 0;
    uint32_t v;
    std::memcpy(&v, b.constData() + pos, 4);
    return v;  // the tests run on little-endian machines
}

bool IsStreamId(const QByteArray& id) {
    return id.size() == 4 && std::isdigit(uchar(id[0])) && std::isdigit(uchar(id[1])) &&
           (id.endsWith("dc") || id.endsWith("db") || id.endsWith("wb"));
}

}  // namespace

int64_t MoviPosition(const QByteArray& file) {
    if (!file.startsWith("RIFF") || file.mid(8, 4) != "AVI ")
        return -1;
    for (int64_t pos = 12; pos + 12 <= file.size();) {
        const uint32_t size = U32(file, pos + 4);
        if (file.mid(pos, 4) == "LIST" && file.mid(pos + 8, 4) == "movi")
            return pos;
        pos += 8 + int64_t(size) + (size & 1);
    }
    return -1;
}

std::vector<TAviChunk> MoviChunks(const QByteArray& file) {
    std::vector<TAviChunk> chunks;
    const int64_t movi = MoviPosition(file);
    if (movi < 0)
        return chunks;
    for (int64_t pos = movi + 12; pos + 8 <= file.size();) {
        TAviChunk c{pos, file.mid(pos, 4), U32(file, pos + 4)};
        if (!IsStreamId(c.id) || pos + 8 + int64_t(c.size) > file.size())
            break;
        chunks.push_back(c);
        pos = c.End();
    }
    return chunks;
}

std::set<int64_t> IndexedFrames(const QByteArray& file, int* bad) {
    std::set<int64_t> frames;
    int wrong = 0;
    const int64_t movi = MoviPosition(file);
    if (movi >= 0) {
        const int64_t idx1 = movi + 8 + int64_t(U32(file, movi + 4));
        const uint32_t size = U32(file, idx1 + 4);
        if (file.mid(idx1, 4) == "idx1" && idx1 + 8 + int64_t(size) <= file.size()) {
            // Relative to the list when the first entry is not where it says.
            int64_t base = 0;
            if (size >= 16 && file.mid(U32(file, idx1 + 16), 4) != file.mid(idx1 + 8, 4))
                base = movi + 8;
            for (int64_t e = idx1 + 8; e + 16 <= idx1 + 8 + int64_t(size); e += 16) {
                const int64_t pos = base + int64_t(U32(file, e + 8));
                const bool ok = file.mid(pos, 4) == file.mid(e, 4) &&
                                U32(file, pos + 4) == U32(file, e + 12) &&
                                pos + 8 + int64_t(U32(file, e + 12)) <= idx1;
                if (ok)
                    frames.insert(pos);
                else
                    ++wrong;
            }
        }
    }
    if (bad)
        *bad = wrong;
    return frames;
}
