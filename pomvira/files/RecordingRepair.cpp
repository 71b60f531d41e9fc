#include "RecordingRepair.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QRegularExpression>
#include <algorithm>
#include <cstdint>
#include <cstring>
#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>
#include <vector>

namespace {

using FourCC = uint32_t;

constexpr FourCC Fcc(const char (&s)[5]) {
    return uint32_t(uint8_t(s[0])) | uint32_t(uint8_t(s[1])) << 8 | uint32_t(uint8_t(s[2])) << 16 |
           uint32_t(uint8_t(s[3])) << 24;
}

constexpr FourCC kRiff = Fcc("RIFF"), kAvi = Fcc("AVI "), kAvix = Fcc("AVIX"), kList = Fcc("LIST"),
                 kHdrl = Fcc("hdrl"), kMovi = Fcc("movi"), kStrl = Fcc("strl"), kStrh = Fcc("strh"),
                 kAvih = Fcc("avih"), kOdml = Fcc("odml"), kDmlh = Fcc("dmlh"), kIdx1 = Fcc("idx1"),
                 kIndx = Fcc("indx"), kJunk = Fcc("JUNK"), kVids = Fcc("vids");

// Main header flags.
constexpr uint32_t AVIF_HASINDEX = 0x10;
constexpr uint32_t AVIF_ISINTERLEAVED = 0x100;
// Index flags as the multiplexer gives them: video frames as key frames
// (AVIIF_KEYFRAME with the two-character-code flag), sound without flags.
// A frame that cannot be told a key frame from the data counts as one: a
// player then decodes from the start, which is what a recording is for.
constexpr uint32_t kVideoIndexFlags = 0x12;
constexpr uint32_t kAudioIndexFlags = 0x00;
// Offsets of the fields the repair sets, from a chunk's data.
constexpr int64_t kAvihFlags = 12, kAvihTotalFrames = 16;
constexpr int64_t kStrhType = 0, kStrhLength = 32, kStrhSuggestedBuffer = 36, kStrhSampleSize = 44;
// OpenDML indexes: the super index in the header and the standard index of
// each stream in each RIFF part.
constexpr uint32_t kSuperIndexHeader = 24, kSuperIndexEntry = 16;
constexpr uint32_t kStdIndexHeader = 24, kStdIndexEntry = 8;
constexpr uint32_t kDeltaFrameBit = 0x80000000u;

// The file, read and written at given positions.
class TFile {
  public:
    explicit TFile(const QString& path) : path_(QFile::encodeName(path)) {
        fd_ = ::open(path_.constData(), O_RDONLY | O_CLOEXEC);
        struct stat st {};
        if (fd_ >= 0 && ::fstat(fd_, &st) == 0 && S_ISREG(st.st_mode))
            size_ = st.st_size;
        else
            Close();
    }
    ~TFile() { Close(); }
    TFile(const TFile&) = delete;
    TFile& operator=(const TFile&) = delete;

    bool IsOpen() const { return fd_ >= 0; }
    int64_t Size() const { return size_; }
    bool ReopenForWriting() {
        const int fd = ::open(path_.constData(), O_RDWR | O_CLOEXEC);
        if (fd < 0)
            return false;
        Close();
        fd_ = fd;
        return true;
    }
    bool Read(int64_t pos, void* data, size_t n) const {
        if (pos < 0 || pos + int64_t(n) > size_)
            return false;
        return Transfer(::pread, static_cast<char*>(data), n, pos);
    }
    uint32_t U32(int64_t pos, bool* ok) const {
        uint8_t b[4];
        if (!Read(pos, b, 4)) {
            *ok = false;
            return 0;
        }
        return uint32_t(b[0]) | uint32_t(b[1]) << 8 | uint32_t(b[2]) << 16 | uint32_t(b[3]) << 24;
    }
    bool Write(int64_t pos, const std::vector<uint8_t>& data) {
        return Transfer(::pwrite, reinterpret_cast<const char*>(data.data()), data.size(), pos);
    }
    bool PutU32(int64_t pos, uint32_t value) {
        std::vector<uint8_t> b;
        Append32(b, value);
        return Write(pos, b);
    }
    bool Truncate(int64_t size) {
        if (::ftruncate(fd_, off_t(size)) != 0)
            return false;
        size_ = size;
        return true;
    }
    bool Sync() { return ::fsync(fd_) == 0; }

    static void Append32(std::vector<uint8_t>& out, uint32_t v) {
        for (int i = 0; i < 4; ++i)
            out.push_back(uint8_t(v >> (8 * i)));
    }
    static void Append16(std::vector<uint8_t>& out, uint16_t v) {
        out.push_back(uint8_t(v));
        out.push_back(uint8_t(v >> 8));
    }
    static void Append64(std::vector<uint8_t>& out, uint64_t v) {
        Append32(out, uint32_t(v));
        Append32(out, uint32_t(v >> 32));
    }

  private:
    // All n bytes at pos, with pread or pwrite, however many calls it takes.
    template <class Call, class Byte>
    bool Transfer(Call call, Byte* p, size_t n, int64_t pos) const {
        while (n > 0) {
            const ssize_t done = call(fd_, p, n, off_t(pos));
            if (done <= 0)
                return false;
            p += done;
            pos += done;
            n -= size_t(done);
        }
        return true;
    }

    void Close() {
        if (fd_ >= 0)
            ::close(fd_);
        fd_ = -1;
    }

    QByteArray path_;
    int fd_ = -1;
    int64_t size_ = 0;
};

struct TStream {
    int64_t strh = -1;  // the stream header's data
    bool video = false;
    uint32_t sampleSize = 0;  // bytes per sample; 0: one sample per chunk
    int64_t slot = -1;        // the super index chunk, or the JUNK kept for it
    uint32_t slotSize = 0;
    FourCC chunkId = 0;  // the id of its frames
};

struct TChunk {
    FourCC id;
    int stream;
    int64_t pos;  // of the chunk's header
    uint32_t size;
};

// One RIFF part: the first ("AVI ") or an extension ("AVIX").
struct TPart {
    int64_t riff = 0;
    int64_t movi = 0;  // its 'movi' list
    int64_t end = 0;   // after its last complete chunk
    std::vector<TChunk> chunks;
    std::vector<int64_t> indexChunks;  // standard indexes written into it
};

struct TLayout {
    int64_t avih = -1;
    int64_t dmlh = -1;
    std::vector<TStream> streams;
    std::vector<TPart> parts;
};

bool IsDigit(uint8_t c) {
    return c >= '0' && c <= '9';
}

// A stream's chunk id: two characters, then the stream's number in two
// digits ("ix00") or the number, then two characters ("00dc").
FourCC StreamId(int stream, const char* prefix) {
    return uint32_t(uint8_t(prefix[0])) | uint32_t(uint8_t(prefix[1])) << 8 |
           uint32_t('0' + stream / 10 % 10) << 16 | uint32_t('0' + stream % 10) << 24;
}
FourCC StreamDataId(int stream, const char* suffix) {
    return uint32_t('0' + stream / 10 % 10) | uint32_t('0' + stream % 10) << 8 |
           uint32_t(uint8_t(suffix[0])) << 16 | uint32_t(uint8_t(suffix[1])) << 24;
}

// "##db", "##dc", "##wb", "##pc", "##tx": a stream's data; the stream number,
// or -1.
int DataStream(FourCC id) {
    const uint8_t c[4] = {uint8_t(id), uint8_t(id >> 8), uint8_t(id >> 16), uint8_t(id >> 24)};
    if (!IsDigit(c[0]) || !IsDigit(c[1]))
        return -1;
    const char kind[3] = {char(c[2]), char(c[3]), 0};
    for (const char* k : {"db", "dc", "wb", "pc", "tx"}) {
        if (std::strcmp(kind, k) == 0)
            return (c[0] - '0') * 10 + (c[1] - '0');
    }
    return -1;
}

bool IsStandardIndex(FourCC id) {
    return uint8_t(id) == 'i' && uint8_t(id >> 8) == 'x' && IsDigit(uint8_t(id >> 16)) &&
           IsDigit(uint8_t(id >> 24));
}

// A complete file: a chain of RIFF chunks whose sizes lead exactly to the
// file's end. The multiplexer sets them when it stops, and so does the
// repair, last of all.
bool IsComplete(const TFile& f) {
    int64_t pos = 0;
    bool ok = true;
    while (pos < f.Size()) {
        if (f.U32(pos, &ok) != kRiff || !ok)
            return false;
        const uint32_t size = f.U32(pos + 4, &ok);
        const FourCC form = f.U32(pos + 8, &ok);
        if (!ok || form != (pos == 0 ? kAvi : kAvix))
            return false;
        pos += 8 + int64_t(size) + (size & 1);
    }
    return pos == f.Size();
}

void ReadStreamList(const TFile& f, int64_t from, int64_t to, TStream* stream) {
    bool ok = true;
    for (int64_t pos = from; pos + 8 <= to && ok;) {
        const FourCC id = f.U32(pos, &ok);
        const uint32_t size = f.U32(pos + 4, &ok);
        if (id == kStrh && size >= 48) {
            stream->strh = pos + 8;
            stream->video = f.U32(pos + 8 + kStrhType, &ok) == kVids;
            stream->sampleSize = f.U32(pos + 8 + kStrhSampleSize, &ok);
        } else if ((id == kIndx || id == kJunk) && stream->slot < 0 &&
                   size >= kSuperIndexHeader + kSuperIndexEntry) {
            stream->slot = pos;
            stream->slotSize = size;
        }
        pos += 8 + int64_t(size) + (size & 1);
    }
}

// The header list: the main header, each stream's header and the slot of
// its super index, the OpenDML header. False when it is cut short.
bool ReadHeader(const TFile& f, int64_t from, int64_t to, TLayout* layout) {
    bool ok = true;
    for (int64_t pos = from; pos + 8 <= to;) {
        const FourCC id = f.U32(pos, &ok);
        const uint32_t size = f.U32(pos + 4, &ok);
        const int64_t end = pos + 8 + int64_t(size);
        if (!ok || end > to)
            return false;
        if (id == kAvih && size >= 40) {
            layout->avih = pos + 8;
        } else if (id == kList && size >= 4) {
            const FourCC type = f.U32(pos + 8, &ok);
            if (type == kStrl) {
                TStream stream;
                ReadStreamList(f, pos + 12, end, &stream);
                if (stream.strh < 0)
                    return false;
                layout->streams.push_back(stream);
            } else if (type == kOdml && size >= 16 && f.U32(pos + 12, &ok) == kDmlh) {
                layout->dmlh = pos + 20;
            }
        }
        pos = end + (size & 1);
    }
    return ok && layout->avih >= 0 && !layout->streams.empty();
}

// Walks a 'movi' list's chunks up to the first one cut short or not a
// stream's: the frames written completely.
void ReadFrames(const TFile& f, int streams, TPart* part) {
    bool ok = true;
    int64_t pos = part->movi + 12;
    while (pos + 8 <= f.Size()) {
        const FourCC id = f.U32(pos, &ok);
        const uint32_t size = f.U32(pos + 4, &ok);
        const int stream = DataStream(id);
        const bool known = (stream >= 0 && stream < streams) || IsStandardIndex(id) || id == kJunk;
        if (!ok || !known || pos + 8 + int64_t(size) > f.Size())
            break;
        if (stream >= 0)
            part->chunks.push_back({id, stream, pos, size});
        else if (IsStandardIndex(id))
            part->indexChunks.push_back(pos);
        pos += 8 + int64_t(size) + (size & 1);
    }
    part->end = pos;
}

enum class TRead { Ok, NotAvi, Broken };

TRead ReadLayout(const TFile& f, TLayout* layout) {
    bool ok = true;
    if (f.Size() == 0)
        return TRead::NotAvi;  // holds nothing to save or to lose
    if (f.Size() < 12) {
        // As far as it goes, the start of a RIFF file: a recording cut off
        // before its header was out.
        char head[4] = {};
        const size_t n = size_t(std::min<int64_t>(f.Size(), 4));
        return f.Read(0, head, n) && std::memcmp(head, "RIFF", n) == 0 ? TRead::Broken
                                                                       : TRead::NotAvi;
    }
    if (f.U32(0, &ok) != kRiff || f.U32(8, &ok) != kAvi || !ok)
        return TRead::NotAvi;
    bool header = false;
    TPart first;
    for (int64_t pos = 12; pos + 12 <= f.Size() && ok;) {
        const FourCC id = f.U32(pos, &ok);
        const uint32_t size = f.U32(pos + 4, &ok);
        if (id == kList && f.U32(pos + 8, &ok) == kHdrl) {
            header = ReadHeader(f, pos + 12, std::min<int64_t>(pos + 8 + size, f.Size()), layout) &&
                     pos + 8 + int64_t(size) <= f.Size();
        } else if (id == kList && f.U32(pos + 8, &ok) == kMovi) {
            first.movi = pos;
            break;
        }
        pos += 8 + int64_t(size) + (size & 1);
    }
    if (!ok || !header || first.movi == 0)
        return TRead::Broken;
    const int streams = int(layout->streams.size());
    ReadFrames(f, streams, &first);
    layout->parts.push_back(first);
    // After the first part's frames: its index (written when the file grew
    // past the first part), then the extension parts.
    int64_t pos = first.end;
    if (pos + 8 <= f.Size() && f.U32(pos, &ok) == kIdx1) {
        const uint32_t size = f.U32(pos + 4, &ok);
        pos += 8 + int64_t(size) + (size & 1);
    }
    while (ok && pos + 24 <= f.Size() && f.U32(pos, &ok) == kRiff && f.U32(pos + 8, &ok) == kAvix &&
           f.U32(pos + 12, &ok) == kList && f.U32(pos + 20, &ok) == kMovi) {
        TPart part;
        part.riff = pos;
        part.movi = pos + 12;
        ReadFrames(f, streams, &part);
        layout->parts.push_back(part);
        pos = part.end;
    }
    // A file that grew past its first part has the first part's index: a
    // missing one means the parts are not what they seem.
    if (layout->parts.size() > 1 && layout->parts[0].end + 8 > layout->parts[1].riff)
        return TRead::Broken;
    for (const TPart& part : layout->parts) {
        if (!part.chunks.empty())
            return TRead::Ok;
    }
    return TRead::Broken;  // not one complete frame
}

// Whether a running process has the file open: a recording being written
// by another copy of the program is not unfinished.
bool IsOpenByAnyProcess(const QString& path) {
    const QByteArray wanted = QFile::encodeName(QFileInfo(path).canonicalFilePath());
    DIR* proc = ::opendir("/proc");
    if (!proc)
        return false;
    bool open = false;
    const QByteArray self = QByteArray::number(qint64(::getpid()));
    while (dirent* process = ::readdir(proc)) {
        if (!IsDigit(uint8_t(process->d_name[0])) || self == process->d_name)
            continue;
        const QByteArray fdDir = QByteArray("/proc/") + process->d_name + "/fd";
        DIR* fds = ::opendir(fdDir.constData());
        if (!fds)
            continue;
        while (dirent* fd = ::readdir(fds)) {
            char target[4096];
            const QByteArray link = fdDir + "/" + fd->d_name;
            const ssize_t n = ::readlink(link.constData(), target, sizeof target);
            if (n > 0 && QByteArray(target, int(n)) == wanted) {
                open = true;
                break;
            }
        }
        ::closedir(fds);
        if (open)
            break;
    }
    ::closedir(proc);
    return open;
}

struct TStreamTotals {
    uint64_t chunks = 0;
    uint64_t bytes = 0;
    uint32_t largest = 0;
};

uint32_t Length(const TStream& s, const TStreamTotals& t) {
    return uint32_t(s.sampleSize > 0 ? t.bytes / s.sampleSize : t.chunks);
}

uint32_t IndexFlags(const TStream& s) {
    return s.video ? kVideoIndexFlags : kAudioIndexFlags;
}

// The old-style index of the only part: one entry per frame, with the
// frame's position in the file.
std::vector<uint8_t> Idx1(const TLayout& layout, const TPart& part) {
    std::vector<uint8_t> out;
    TFile::Append32(out, kIdx1);
    TFile::Append32(out, uint32_t(part.chunks.size() * 16));
    for (const TChunk& c : part.chunks) {
        TFile::Append32(out, c.id);
        TFile::Append32(out, IndexFlags(layout.streams[size_t(c.stream)]));
        TFile::Append32(out, uint32_t(c.pos));
        TFile::Append32(out, c.size);
    }
    return out;
}

// The standard index of one stream in one part (relative to the part).
std::vector<uint8_t> StandardIndex(const TLayout& layout, const TPart& part, int stream) {
    std::vector<const TChunk*> chunks;
    for (const TChunk& c : part.chunks) {
        if (c.stream == stream)
            chunks.push_back(&c);
    }
    const TStream& s = layout.streams[size_t(stream)];
    std::vector<uint8_t> out;
    TFile::Append32(out, StreamId(stream, "ix"));
    TFile::Append32(out, uint32_t(kStdIndexHeader + chunks.size() * kStdIndexEntry));
    TFile::Append16(out, 2);  // longs per entry
    out.push_back(0);         // sub-type
    out.push_back(1);         // an index of chunks
    TFile::Append32(out, uint32_t(chunks.size()));
    TFile::Append32(out, s.chunkId);
    TFile::Append64(out, uint64_t(part.riff));
    TFile::Append32(out, 0);
    for (const TChunk* c : chunks) {
        TFile::Append32(out, uint32_t(c->pos + 8 - part.riff));
        TFile::Append32(out, c->size & ~kDeltaFrameBit);
    }
    return out;
}

// The super index of one stream: one entry per part that has the stream's
// standard index (its place, size and the stream's length in that part),
// filling the stream's slot.
std::vector<uint8_t> SuperIndex(const TFile& f, const TLayout& layout, size_t s,
                                const std::vector<std::vector<int64_t>>& standard) {
    const TStream& stream = layout.streams[s];
    const uint32_t capacity = (stream.slotSize - kSuperIndexHeader) / kSuperIndexEntry;
    std::vector<uint8_t> entries;
    uint32_t used = 0;
    bool ok = true;
    for (size_t p = 0; p < layout.parts.size() && used < capacity; ++p) {
        const int64_t at = standard[p][s];
        if (at < 0)
            continue;
        TStreamTotals inPart;
        for (const TChunk& c : layout.parts[p].chunks) {
            if (size_t(c.stream) == s) {
                ++inPart.chunks;
                inPart.bytes += c.size;
            }
        }
        TFile::Append64(entries, uint64_t(at));
        TFile::Append32(entries, f.U32(at + 4, &ok) + 8);
        TFile::Append32(entries, Length(stream, inPart));
        ++used;
    }
    std::vector<uint8_t> super;
    TFile::Append32(super, kIndx);
    TFile::Append32(super, stream.slotSize);
    TFile::Append16(super, 4);  // longs per entry
    super.push_back(0);         // sub-type
    super.push_back(0);         // an index of indexes
    TFile::Append32(super, used);
    TFile::Append32(super, stream.chunkId);
    for (int i = 0; i < 3; ++i)
        TFile::Append32(super, 0);
    super.insert(super.end(), entries.begin(), entries.end());
    super.resize(size_t(stream.slotSize) + 8, 0);
    return super;
}

TRecordingState Repair(TFile& f, TLayout& layout) {
    const size_t streams = layout.streams.size();
    std::vector<TStreamTotals> totals(streams), firstPart(streams);
    for (size_t p = 0; p < layout.parts.size(); ++p) {
        for (const TChunk& c : layout.parts[p].chunks) {
            TStreamTotals& t = totals[size_t(c.stream)];
            ++t.chunks;
            t.bytes += c.size;
            t.largest = std::max(t.largest, c.size);
            if (p == 0)
                ++firstPart[size_t(c.stream)].chunks;
            if (layout.streams[size_t(c.stream)].chunkId == 0)
                layout.streams[size_t(c.stream)].chunkId = c.id;
        }
    }
    for (size_t i = 0; i < streams; ++i) {
        if (layout.streams[i].chunkId == 0)
            layout.streams[i].chunkId = StreamDataId(int(i), "dc");
    }
    int video = -1;
    for (size_t i = 0; i < streams && video < 0; ++i) {
        if (layout.streams[i].video)
            video = int(i);
    }
    if (!f.ReopenForWriting())
        return TRecordingState::Unrepairable;

    // 1. The index after the last complete frame; what follows is cut off.
    TPart& last = layout.parts.back();
    int64_t end = last.end;
    // Each part's standard index of each stream: (part, stream) -> position.
    std::vector<std::vector<int64_t>> standard(layout.parts.size(),
                                               std::vector<int64_t>(streams, -1));
    bool ok = true;
    for (size_t p = 0; p + 1 < layout.parts.size(); ++p) {
        for (int64_t pos : layout.parts[p].indexChunks) {
            const FourCC id = f.U32(pos, &ok);
            for (size_t n = 0; n < streams; ++n) {
                if (id == StreamId(int(n), "ix"))
                    standard[p][n] = pos;
            }
        }
    }
    if (layout.parts.size() == 1) {
        const std::vector<uint8_t> index = Idx1(layout, last);
        ok = ok && f.Write(end, index);
        end += int64_t(index.size());
    } else {
        for (size_t s = 0; s < streams; ++s) {
            const std::vector<uint8_t> index = StandardIndex(layout, last, int(s));
            standard.back()[s] = end;
            ok = ok && f.Write(end, index);
            end += int64_t(index.size());
        }
    }
    ok = ok && f.Truncate(end) && f.Sync();
    if (!ok)
        return TRecordingState::Unrepairable;

    // 2. The header: frame counts, stream lengths, flags, super indexes.
    uint32_t flags = f.U32(layout.avih + kAvihFlags, &ok) | AVIF_HASINDEX;
    if (streams > 1)
        flags |= AVIF_ISINTERLEAVED;
    ok = ok && f.PutU32(layout.avih + kAvihFlags, flags);
    if (video >= 0) {
        ok = ok &&
             f.PutU32(layout.avih + kAvihTotalFrames, uint32_t(firstPart[size_t(video)].chunks));
        if (layout.dmlh >= 0)
            ok = ok && f.PutU32(layout.dmlh, uint32_t(totals[size_t(video)].chunks));
    }
    for (size_t s = 0; s < streams && ok; ++s) {
        const TStream& stream = layout.streams[s];
        ok = f.PutU32(stream.strh + kStrhLength, Length(stream, totals[s]));
        if (ok && f.U32(stream.strh + kStrhSuggestedBuffer, &ok) == 0)
            ok = f.PutU32(stream.strh + kStrhSuggestedBuffer, totals[s].largest);
        if (!ok || layout.parts.size() == 1 || stream.slot < 0)
            continue;
        // The super index takes the place the multiplexer kept for it.
        ok = ok && f.Write(stream.slot, SuperIndex(f, layout, s, standard));
    }
    // 3. The list and RIFF sizes, the first RIFF's last: from then on the
    // file counts as complete.
    for (size_t p = layout.parts.size(); p-- > 0 && ok;) {
        const TPart& part = layout.parts[p];
        const int64_t partEnd = p + 1 < layout.parts.size() ? layout.parts[p + 1].riff : end;
        // The only part's index follows its 'movi' list; the standard
        // indexes of a last extension part lie inside it.
        const int64_t moviEnd = p > 0 && p + 1 == layout.parts.size() ? end : part.end;
        ok = f.PutU32(part.movi + 4, uint32_t(moviEnd - part.movi - 8));
        if (p == 0)
            ok = ok && f.Sync();
        ok = ok && f.PutU32(part.riff + 4, uint32_t(partEnd - part.riff - 8));
    }
    ok = ok && f.Sync();
    return ok ? TRecordingState::Repaired : TRecordingState::Unrepairable;
}

}  // namespace

TRecordingState RepairRecording(const QString& path) {
    TFile f(path);
    if (!f.IsOpen())
        return TRecordingState::Unrepairable;
    if (f.Size() >= 12 && IsComplete(f))
        return TRecordingState::Complete;
    TLayout layout;
    const TRead read = ReadLayout(f, &layout);
    if (read == TRead::NotAvi)
        return TRecordingState::NotARecording;
    // Another copy of the program may be writing it still: just after its
    // start it holds no complete frame yet.
    if (IsOpenByAnyProcess(path))
        return TRecordingState::InUse;
    if (read == TRead::Broken)
        return TRecordingState::Unrepairable;
    return Repair(f, layout);
}

bool IsRecordingName(const QString& fileName) {
    static const QRegularExpression pattern(QStringLiteral("^video[0-9]{6,}\\.avi$"));
    return pattern.match(fileName).hasMatch();
}

QStringList RepairUnfinishedRecordings(const QString& folder) {
    QStringList failed;
    const QDir dir(folder);
    const QStringList names =
        dir.entryList({QStringLiteral("video*.avi")}, QDir::Files, QDir::Name);
    for (const QString& name : names) {
        if (!IsRecordingName(name))
            continue;
        const QString path = dir.filePath(name);
        if (RepairRecording(path) == TRecordingState::Unrepairable)
            failed.append(path);
    }
    return failed;
}
