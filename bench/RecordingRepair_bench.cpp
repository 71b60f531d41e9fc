// SPDX-License-Identifier: GPL-3.0-or-later
// Cost of repairing a cut-off recording of a million small chunks (some
// 420 MB: 1,080,070 chunks of 392 bytes, one video frame for every three
// sound chunks), with the file in the page cache, beside the least
// hand-built equivalent: one plain sequential read of the whole file. For
// reference, the walk as two 4-byte reads per chunk header. And the cost of
// files whose frames are followed by what holds no frame: a 3 GiB hole (a
// sparse file), and 256 MiB of zeros written amid the frames, which the walk
// crosses to the frames after them.
//
// The files are written once into $POMVIRA_BENCH_DIR (default: the temporary
// folder); each repair starts from the same cut-off file (its header, its
// size and its time put back between runs, untimed).
#include "files/RecordingRepair.h"

#include <QByteArray>
#include <QDir>
#include <QFile>
#include <QStorageInfo>
#include <QTemporaryDir>
#include <benchmark/benchmark.h>
#include <cstdint>
#include <cstdio>
#include <ctime>
#include <sys/stat.h>
#include <fcntl.h>
#include <memory>
#include <unistd.h>
#include <vector>

namespace {

constexpr int64_t kChunks = 1'080'070;
constexpr uint32_t kData = 384;

void Put32(QByteArray& out, uint32_t v) {
    for (int i = 0; i < 4; ++i)
        out += char(v >> (8 * i));
}

QByteArray Chunk(const char* id, const QByteArray& data) {
    QByteArray out(id, 4);
    Put32(out, uint32_t(data.size()));
    return out + data + (data.size() % 2 ? QByteArray(1, '\0') : QByteArray());
}

QByteArray List(const char* type, const QByteArray& content) {
    return Chunk("LIST", QByteArray(type, 4) + content);
}

// A stream header: type, handler, then the fields up to the sample size.
QByteArray StreamHeader(const char* type, uint32_t sampleSize) {
    QByteArray strh(type, 4);
    strh += QByteArray(4, '\0');
    strh += QByteArray(36, '\0');  // flags ... suggested buffer
    Put32(strh, 0);                // quality
    Put32(strh, sampleSize);
    strh += QByteArray(8, '\0');  // frame rectangle
    return Chunk("strh", strh);
}

// The header of an unfinished recording as the multiplexer leaves it:
// placeholder sizes, no counts, the 'movi' list begun.
QByteArray Header() {
    const QByteArray avih = Chunk("avih", QByteArray(56, '\0'));
    const QByteArray video =
        List("strl", StreamHeader("vids", 0) + Chunk("strf", QByteArray(40, '\0')) +
                         Chunk("JUNK", QByteArray(536, '\0')));
    const QByteArray audio =
        List("strl", StreamHeader("auds", 4) + Chunk("strf", QByteArray(18, '\0')) +
                         Chunk("JUNK", QByteArray(536, '\0')));
    QByteArray file("RIFF", 4);
    Put32(file, 0);
    file += "AVI ";
    file += List("hdrl", avih + video + audio);
    file += "LIST";
    Put32(file, 4);
    file += "movi";
    return file;
}

struct TBenchFile {
    std::unique_ptr<QTemporaryDir> dir;
    QString path;
    QByteArray header;
    int64_t data = 0;  // the bytes written, before the hole
    int64_t size = 0;
};

// A cut-off recording: `chunks` chunks, `zeros` bytes of zeros written amid
// them (after the first tenth), a chunk cut short, then `hole` bytes of
// hole. Written once, in large blocks; empty when the disk lacks the room.
TBenchFile MakeFile(int64_t chunks, int64_t zeros, int64_t hole) {
    TBenchFile f;
    const QByteArray where = qgetenv("POMVIRA_BENCH_DIR");
    f.dir = std::make_unique<QTemporaryDir>(
        (where.isEmpty() ? QDir::tempPath() : QString::fromLocal8Bit(where)) +
        QStringLiteral("/repair-bench-XXXXXX"));
    if (!f.dir->isValid() || QStorageInfo(f.dir->path()).bytesAvailable() < 1'000'000'000)
        return f;
    f.header = Header();
    QByteArray pattern;
    for (const char* id : {"00dc", "01wb", "01wb", "01wb"})
        pattern += Chunk(id, QByteArray(kData, char(0x55)));
    QByteArray block;
    for (int i = 0; i < 2048; ++i)
        block += pattern;
    f.path = f.dir->filePath(QStringLiteral("video000001.avi"));
    QFile out(f.path);
    if (!out.open(QIODevice::WriteOnly))
        return f;
    out.write(f.header);
    const auto write = [&](int64_t n) {
        int64_t written = 0;
        for (; written + 2048 * 4 <= n; written += 2048 * 4)
            out.write(block);
        out.write(block.left((n - written) * (8 + kData)));
    };
    write(chunks / 10);
    const QByteArray nothing(1 << 20, '\0');
    for (int64_t at = 0; at < zeros; at += nothing.size())
        out.write(nothing);
    write(chunks - chunks / 10);
    out.write(pattern.left(100));  // a chunk cut short
    f.data = out.size();
    f.size = f.data + hole;
    out.resize(f.size);
    return f;
}

const TBenchFile& MillionChunks() {
    static const TBenchFile file = MakeFile(kChunks, 0, 0);
    return file;
}

// Puts the cut-off file back after a repair: its header, its size and its
// time (an hour old, as a file nobody writes: the repair need not wait for
// it to settle).
void Reset(const TBenchFile& f) {
    const int fd = ::open(QFile::encodeName(f.path).constData(), O_WRONLY);
    if (fd < 0)
        return;
    const timespec times[2] = {{0, UTIME_OMIT}, {::time(nullptr) - 3600, 0}};
    if (::pwrite(fd, f.header.constData(), size_t(f.header.size()), 0) != f.header.size() ||
        ::ftruncate(fd, off_t(f.data)) != 0 || ::ftruncate(fd, off_t(f.size)) != 0 ||
        ::futimens(fd, times) != 0)
        std::perror("reset");
    ::close(fd);
}

void Repair(benchmark::State& state, const TBenchFile& f) {
    if (f.size == 0) {
        state.SkipWithError("no room for the file");
        return;
    }
    for (auto _ : state) {
        state.PauseTiming();
        Reset(f);
        state.ResumeTiming();
        if (RepairRecording(f.path) != TRecordingState::Repaired)
            state.SkipWithError("not repaired");
    }
    state.counters["data MB"] = double(f.data) / 1e6;
}

void BM_RepairMillionChunks(benchmark::State& state) {
    Repair(state, MillionChunks());
    state.SetBytesProcessed(int64_t(state.iterations()) * MillionChunks().size);
}
BENCHMARK(BM_RepairMillionChunks)->Unit(benchmark::kMillisecond)->UseRealTime()->MinTime(2.0);

void BM_RepairBeforeA3GiBHole(benchmark::State& state) {
    static const TBenchFile file = MakeFile(10'000, 0, int64_t(3) << 30);
    Repair(state, file);
}
BENCHMARK(BM_RepairBeforeA3GiBHole)->Unit(benchmark::kMillisecond)->UseRealTime()->MinTime(2.0);

void BM_RepairAcross256MiBOfZeros(benchmark::State& state) {
    static const TBenchFile file = MakeFile(10'000, int64_t(256) << 20, 0);
    Repair(state, file);
}
BENCHMARK(BM_RepairAcross256MiBOfZeros)->Unit(benchmark::kMillisecond)->UseRealTime()->MinTime(2.0);

// The hand-built equivalent: the whole file read once, front to back.
void BM_SequentialRead(benchmark::State& state) {
    const TBenchFile& f = MillionChunks();
    if (f.size == 0) {
        state.SkipWithError("no room for the file");
        return;
    }
    std::vector<char> buffer(1 << 20);
    for (auto _ : state) {
        const int fd = ::open(QFile::encodeName(f.path).constData(), O_RDONLY);
        int64_t total = 0;
        for (ssize_t n; (n = ::read(fd, buffer.data(), buffer.size())) > 0;)
            total += n;
        ::close(fd);
        benchmark::DoNotOptimize(total);
    }
    state.SetBytesProcessed(int64_t(state.iterations()) * f.size);
}
BENCHMARK(BM_SequentialRead)->Unit(benchmark::kMillisecond)->UseRealTime()->MinTime(2.0);

// For reference: the chunk headers walked with two 4-byte reads each.
void BM_WalkWithSmallReads(benchmark::State& state) {
    const TBenchFile& f = MillionChunks();
    if (f.size == 0) {
        state.SkipWithError("no room for the file");
        return;
    }
    for (auto _ : state) {
        const int fd = ::open(QFile::encodeName(f.path).constData(), O_RDONLY);
        int64_t chunks = 0;
        for (int64_t pos = f.header.size(); pos + 8 <= f.size; ++chunks) {
            uint32_t id = 0, size = 0;
            if (::pread(fd, &id, 4, pos) != 4 || ::pread(fd, &size, 4, pos + 4) != 4)
                break;
            pos += 8 + int64_t(size) + (size & 1);
        }
        ::close(fd);
        benchmark::DoNotOptimize(chunks);
    }
}
BENCHMARK(BM_WalkWithSmallReads)->Unit(benchmark::kMillisecond)->UseRealTime()->MinTime(2.0);

}  // namespace

BENCHMARK_MAIN();
