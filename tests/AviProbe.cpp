// SPDX-License-Identifier: GPL-3.0-or-later
#include "AviProbe.h"

#include <QFile>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QProcess>
#include <cstring>

namespace {

uint32_t U32(const char* p) {
    const auto* b = reinterpret_cast<const uint8_t*>(p);
    return uint32_t(b[0]) | uint32_t(b[1]) << 8 | uint32_t(b[2]) << 16 | uint32_t(b[3]) << 24;
}

// The top-level chunks of the RIFF form: LIST hdrl starts with avih, whose
// fifth field is dwTotalFrames; idx1 is the index.
void ReadRiff(const QString& path, TAviProbe& probe) {
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        return;
    auto read = [&](qint64 at, qint64 n) { return file.seek(at) ? file.read(n) : QByteArray(); };
    const QByteArray head = read(0, 12);
    if (head.size() != 12 || !head.startsWith("RIFF") || head.mid(8, 4) != "AVI ")
        return;
    probe.riff = true;
    qint64 pos = 12;
    for (QByteArray chunk = read(pos, 12); chunk.size() >= 8; chunk = read(pos, 12)) {
        const uint32_t size = U32(chunk.constData() + 4);
        if (chunk.startsWith("LIST") && chunk.mid(8, 4) == "hdrl") {
            const QByteArray avih = read(pos + 12, 8 + 20);
            if (avih.size() == 28 && avih.startsWith("avih"))
                probe.totalFrames = U32(avih.constData() + 8 + 16);
            // The streams' headers (LIST strl, each starting with strh): the
            // length in units of scale / rate seconds.
            const qint64 end = pos + 8 + qint64(size);
            for (qint64 at = pos + 12 + 8 + qint64(U32(avih.constData() + 4)); at + 12 <= end;) {
                const QByteArray list = read(at, 12 + 8 + 36);
                if (list.size() < 12)
                    break;
                if (list.startsWith("LIST") && list.mid(8, 4) == "strl" && list.size() >= 56 &&
                    list.mid(12, 4) == "strh") {
                    const char* strh = list.constData() + 20;
                    const double scale = U32(strh + 20), rate = U32(strh + 24);
                    probe.headerDurations.push_back(rate > 0 ? U32(strh + 32) * scale / rate : 0);
                }
                const uint32_t n = U32(list.constData() + 4);
                at += 8 + qint64(n) + (n & 1);
            }
        } else if (chunk.startsWith("idx1")) {
            probe.hasIndex = size > 0;
        }
        pos += 8 + qint64(size) + (size & 1);
    }
}

}  // namespace

const TAviStream* TAviProbe::Stream(const QString& type) const {
    for (const TAviStream& s : streams)
        if (s.type == type)
            return &s;
    return nullptr;
}

int TAviProbe::Count(const QString& type) const {
    int n = 0;
    for (const TAviStream& s : streams)
        n += s.type == type;
    return n;
}

QString TAviProbe::Text() const {
    QString text = ok ? QStringLiteral("duration %1 s").arg(duration) : error;
    for (const TAviStream& s : streams)
        text += QStringLiteral("; %1 %2 %3 %4x%5 %6 %7 bits %8 ch %9 Hz, %10 frames, %11 s")
                    .arg(s.type, s.codec, s.pixelFormat)
                    .arg(s.width)
                    .arg(s.height)
                    .arg(s.sampleFormat)
                    .arg(s.bitsPerSample)
                    .arg(s.channels)
                    .arg(s.sampleRate)
                    .arg(s.frames)
                    .arg(s.duration);
    text += QStringLiteral("; RIFF %1, header frames %2, index %3")
                .arg(riff)
                .arg(totalFrames)
                .arg(hasIndex);
    return text;
}

TAviProbe ProbeAvi(const QString& path, bool countFrames) {
    TAviProbe probe;
    QStringList args = {
        QStringLiteral("-v"),           QStringLiteral("error"), QStringLiteral("-show_streams"),
        QStringLiteral("-show_format"), QStringLiteral("-of"),   QStringLiteral("json")};
    if (countFrames)
        args << QStringLiteral("-count_frames");
    args << path;
    QProcess ffprobe;
    ffprobe.start(QStringLiteral("ffprobe"), args);
    if (!ffprobe.waitForFinished(120000)) {
        ffprobe.kill();
        ffprobe.waitForFinished();
        probe.error = QStringLiteral("ffprobe did not finish");
    } else {
        const QByteArray out = ffprobe.readAllStandardOutput();
        const QJsonObject root = QJsonDocument::fromJson(out).object();
        probe.ok = ffprobe.exitCode() == 0 && root.contains(QStringLiteral("format"));
        if (!probe.ok)
            probe.error = QString::fromUtf8(ffprobe.readAllStandardError() + out);
        probe.duration =
            root.value(QStringLiteral("format")).toObject().value("duration").toString().toDouble();
        for (const QJsonValue& v : root.value(QStringLiteral("streams")).toArray()) {
            const QJsonObject o = v.toObject();
            TAviStream s;
            s.type = o.value("codec_type").toString();
            s.codec = o.value("codec_name").toString();
            s.pixelFormat = o.value("pix_fmt").toString();
            s.sampleFormat = o.value("sample_fmt").toString();
            s.width = o.value("width").toInt();
            s.height = o.value("height").toInt();
            s.bitsPerSample = o.value("bits_per_sample").toInt();
            s.channels = o.value("channels").toInt();
            s.sampleRate = o.value("sample_rate").toString().toInt();
            s.duration = o.value("duration").toString().toDouble();
            if (o.contains("nb_read_frames"))
                s.frames = o.value("nb_read_frames").toString().toLongLong();
            probe.streams.push_back(s);
        }
    }
    ReadRiff(path, probe);
    // A stream ffprobe tells no duration of (PCM sound in AVI): its header's.
    for (size_t i = 0; i < probe.streams.size() && i < probe.headerDurations.size(); ++i) {
        if (probe.streams[i].duration <= 0)
            probe.streams[i].duration = probe.headerDurations[i];
    }
    return probe;
}
