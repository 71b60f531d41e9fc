#include "RecordingRepair.h"

#include <QFile>
#include <QRegularExpression>
#include <algorithm>
#include <cerrno>
#include <climits>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <dirent.h>
#include <fcntl.h>
#include <set>
#include <sys/stat.h>
#include <unistd.h>
#include <vector>

#include "PathUtils.h"
#include "RecordingFile.h"
#include "TextConv.h"

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
// Offsets of the fields the repair sets, from a chunk's data, and the
// smallest chunks that hold them.
constexpr int64_t kAvihFlags = 12, kAvihTotalFrames = 16, kAvihSize = 40;
constexpr int64_t kStrhType = 0, kStrhLength = 32, kStrhSuggestedBuffer = 36, kStrhSampleSize = 44,
                  kStrhSize = 48;
// OpenDML indexes: the super index in the header and the standard index of
// each stream in each RIFF part.
constexpr uint32_t kSuperIndexHeader = 24, kSuperIndexEntry = 16;
constexpr uint32_t kStdIndexHeader = 24, kStdIndexEntry = 8;
constexpr uint32_t kDeltaFrameBit = 0x80000000u;
constexpr size_t kBlock = TRecordingFile::kBlock;
// What follows the last complete frame is kept in memory while the repair
// runs, to be put back if a write fails; a tail longer than any frame is no
// cut-off frame.
constexpr int64_t kLongestTail = int64_t(64) << 20;

void Append32(std::vector<uint8_t>& out, uint32_t v) {
    const uint8_t b[4] = {uint8_t(v), uint8_t(v >> 8), uint8_t(v >> 16), uint8_t(v >> 24)};
    out.insert(out.end(), b, b + 4);
}
void Append16(std::vector<uint8_t>& out, uint16_t v) {
    out.push_back(uint8_t(v));
    out.push_back(uint8_t(v >> 8));
}
void Append64(std::vector<uint8_t>& out, uint64_t v) {
    Append32(out, uint32_t(v));
    Append32(out, uint32_t(v >> 32));
}

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
    int64_t end = 0;  // after the last part's last complete chunk
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

int64_t Padded(int64_t pos, uint32_t size) {
    return pos + 8 + int64_t(size) + (size & 1);
}

// A complete file: a chain of RIFF chunks whose sizes lead exactly to the
// file's end. The multiplexer sets them when it stops, and so does the
// repair, last of all.
bool IsComplete(TRecordingFile& f) {
    int64_t pos = 0;
    bool ok = true;
    while (pos < f.Size()) {
        if (f.U32(pos, &ok) != kRiff || !ok)
            return false;
        const uint32_t size = f.U32(pos + 4, &ok);
        const FourCC form = f.U32(pos + 8, &ok);
        if (!ok || form != (pos == 0 ? kAvi : kAvix))
            return false;
        pos = Padded(pos, size);
    }
    return pos == f.Size();
}

// A stream's list [from, to): its header and the slot of its super index,
// each taken only when it lies wholly inside the list.
bool ReadStreamList(TRecordingFile& f, int64_t from, int64_t to, TStream* stream) {
    bool ok = true;
    for (int64_t pos = from; pos + 8 <= to && ok;) {
        const FourCC id = f.U32(pos, &ok);
        const uint32_t size = f.U32(pos + 4, &ok);
        if (!ok)
            return false;
        // A chunk that reaches past the list: what follows in the list
        // cannot be found, and no slot is taken from it.
        if (pos + 8 + int64_t(size) > to)
            break;
        if (id == kStrh && size >= kStrhSize && stream->strh < 0) {
            stream->strh = pos + 8;
            stream->video = f.U32(pos + 8 + kStrhType, &ok) == kVids;
            stream->sampleSize = f.U32(pos + 8 + kStrhSampleSize, &ok);
        } else if ((id == kIndx || id == kJunk) && stream->slot < 0 &&
                   size >= kSuperIndexHeader + kSuperIndexEntry) {
            stream->slot = pos;
            stream->slotSize = size;
        }
        pos = Padded(pos, size);
    }
    return ok && stream->strh >= 0;
}

// The header list [from, to): the main header, each stream's header and the
// slot of its super index, the OpenDML header. False when anything in it
// reaches past the list.
bool ReadHeader(TRecordingFile& f, int64_t from, int64_t to, TLayout* layout) {
    bool ok = true;
    for (int64_t pos = from; pos + 8 <= to;) {
        const FourCC id = f.U32(pos, &ok);
        const uint32_t size = f.U32(pos + 4, &ok);
        const int64_t end = pos + 8 + int64_t(size);
        if (!ok || end > to)
            return false;
        if (id == kAvih && size >= kAvihSize) {
            layout->avih = pos + 8;
        } else if (id == kList && size >= 4) {
            const FourCC type = f.U32(pos + 8, &ok);
            if (type == kStrl) {
                TStream stream;
                if (!ReadStreamList(f, pos + 12, end, &stream))
                    return false;
                layout->streams.push_back(stream);
            } else if (type == kOdml && size >= 16 && f.U32(pos + 12, &ok) == kDmlh &&
                       f.U32(pos + 16, &ok) >= 4) {
                layout->dmlh = pos + 20;
            }
        }
        pos = end + (size & 1);
    }
    return ok && layout->avih >= 0 && !layout->streams.empty() && layout->streams.size() <= 100;
}

// The walk over the chunks of the 'movi' lists.
class TChunkWalk {
  public:
    TChunkWalk(TRecordingFile& f, int streams) : f_(f), streams_(streams) {}

    // A frame (or a standard index, or padding) at pos that lies wholly in
    // the file; with `followed`, also followed by something that can be a
    // chunk header: the next chunk, an index, the next part, or the file's
    // end.
    bool IsChunk(int64_t pos, bool followed = true) {
        const uint8_t* h = f_.At(pos, 8);
        if (!h || !IsMember(Le32(h)))
            return false;
        const int64_t next = Padded(pos, Le32(h + 4));
        return next <= f_.Size() && (!followed || CanFollow(next));
    }
    // The next place from `from` on where the walk can go on: a chunk as
    // above, the first part's index or the next part; -1 when there is none
    // before the file's end, kJoined when another recording begins first.
    // Chunks start at even offsets.
    int64_t Resync(int64_t from) {
        for (int64_t pos = from + (from & 1); pos + 8 <= f_.Size(); pos += 2) {
            const uint8_t* h = f_.At(pos, 8);
            if (!h)
                return -1;
            // Most places hold no chunk id at all: told at a glance.
            if (!(IsDigit(h[0]) && IsDigit(h[1])) && h[0] != 'i' && h[0] != 'J' && h[0] != 'R')
                continue;
            const FourCC id = Le32(h);
            // Another recording joined to this one is no part of it.
            if (id == kRiff && pos + 12 <= f_.Size() && Le32(f_.At(pos, 12) + 8) == kAvi)
                return kJoined;
            if (IsChunk(pos) || IsNextPart(pos) ||
                (id == kIdx1 && Padded(pos, Le32(h + 4)) <= f_.Size()))
                return pos;
        }
        return -1;
    }
    bool IsNextPart(int64_t pos) {
        const uint8_t* h = f_.At(pos, 24);
        return h && Le32(h) == kRiff && Le32(h + 8) == kAvix && Le32(h + 12) == kList &&
               Le32(h + 20) == kMovi;
    }

    // Walks one part's 'movi' list from its first chunk to where the
    // frames end: the index, the next part, or the end of what can be read.
    // Damaged chunks are stepped over.
    void Walk(TPart* part) {
        int64_t pos = part->movi + 12;
        bool ok = true;
        while (pos + 8 <= f_.Size()) {
            const FourCC id = f_.U32(pos, &ok);
            // The index, the next part, or another recording joined on.
            if (id == kIdx1 || id == kRiff)
                break;
            const uint8_t* h = f_.At(pos, 8);
            if (!h || !IsMember(id) || Padded(pos, Le32(h + 4)) > f_.Size()) {
                const int64_t next = Resync(pos + 2);
                if (next < 0)
                    break;
                pos = next;
                continue;
            }
            if (!CanFollow(Padded(pos, Le32(h + 4)))) {
                // Whole, but what its size leads to is no chunk: either its
                // size is damaged, and the next chunk begins inside what it
                // claims, or it is whole and damage follows it.
                const int64_t next = Resync(pos + 8);
                if (next == kJoined)
                    break;
                if (next >= 0 && next < Padded(pos, f_.U32(pos + 4, &ok))) {
                    pos = next;
                    continue;
                }
            }
            const uint32_t size = f_.U32(pos + 4, &ok);
            const int stream = DataStream(id);
            if (stream >= 0)
                part->chunks.push_back({id, stream, pos, size});
            else if (IsStandardIndex(id))
                part->indexChunks.push_back(pos);
            pos = Padded(pos, size);
        }
        part->end = pos;
    }

    // Whether what lies from pos to the file's end may be cut off: nothing,
    // zeros, a chunk header cut short, or one chunk (a frame, an index) that
    // the file's end cuts short.
    bool IsExpendableTail(int64_t pos) {
        const int64_t size = f_.Size();
        if (pos >= size || size - pos < 8)
            return true;
        if (size - pos > kLongestTail)
            return false;
        const uint8_t* h = f_.At(pos, 8);
        if (!h)
            return false;
        const FourCC id = Le32(h);
        if ((IsMember(id) || id == kIdx1) && Padded(pos, Le32(h + 4)) > size)
            return true;
        // The start of a part that the file's end cuts short.
        if (id == kRiff && size - pos <= 24 && Le32(h + 4) > 24)
            return true;
        for (int64_t at = pos; at < size; at += int64_t(kBlock)) {
            const size_t n = size_t(std::min<int64_t>(int64_t(kBlock), size - at));
            const uint8_t* b = f_.At(at, n);
            if (!b || std::any_of(b, b + n, [](uint8_t c) { return c != 0; }))
                return false;
        }
        return true;
    }

    static constexpr int64_t kJoined = -2;

  private:
    bool IsMember(FourCC id) const {
        const int stream = DataStream(id);
        return (stream >= 0 && stream < streams_) || IsStandardIndex(id) || id == kJunk;
    }
    bool CanFollow(int64_t pos) {
        if (pos + 8 > f_.Size())
            return true;
        const FourCC id = Le32(f_.At(pos, 8));
        return IsMember(id) || id == kIdx1 || id == kRiff || id == kList;
    }

    TRecordingFile& f_;
    int streams_;
};

enum class TRead { Ok, NotAvi, Broken };

TRead ReadLayout(TRecordingFile& f, TLayout* layout) {
    bool ok = true;
    if (f.Size() == 0)
        return TRead::NotAvi;  // holds nothing to save or to lose
    if (f.Size() < 12) {
        // As far as it goes, the start of a RIFF file: a recording cut off
        // before its header was out.
        const size_t n = size_t(std::min<int64_t>(f.Size(), 4));
        const uint8_t* head = f.At(0, n);
        return head && std::memcmp(head, "RIFF", n) == 0 ? TRead::Broken : TRead::NotAvi;
    }
    if (f.U32(0, &ok) != kRiff || f.U32(8, &ok) != kAvi || !ok)
        return TRead::NotAvi;
    bool header = false;
    TPart first;
    for (int64_t pos = 12; pos + 12 <= f.Size() && ok;) {
        const FourCC id = f.U32(pos, &ok);
        const uint32_t size = f.U32(pos + 4, &ok);
        const FourCC type = f.U32(pos + 8, &ok);
        if (id == kList && type == kHdrl) {
            header = pos + 8 + int64_t(size) <= f.Size() &&
                     ReadHeader(f, pos + 12, pos + 8 + int64_t(size), layout);
        } else if (id == kList && type == kMovi) {
            first.movi = pos;
            break;
        }
        pos = Padded(pos, size);
    }
    if (!ok || !header || first.movi == 0)
        return TRead::Broken;
    const int streams = int(layout->streams.size());
    TChunkWalk walk(f, streams);
    walk.Walk(&first);
    layout->parts.push_back(first);
    // After the first part's frames: its index (written when the file grew
    // past the first part, or when the recording stopped), then the
    // extension parts.
    int64_t pos = first.end;
    if (pos + 8 <= f.Size() && f.U32(pos, &ok) == kIdx1) {
        const int64_t after = Padded(pos, f.U32(pos + 4, &ok));
        if (after <= f.Size())
            pos = after;
    }
    // What follows the frames is cut off only when it is known to hold
    // nothing else: another recording joined to this one, or data of
    // unknown kind, is never lost.
    int64_t tail = pos;
    while (pos < f.Size() && walk.IsNextPart(pos)) {
        TPart part;
        part.riff = pos;
        part.movi = pos + 12;
        walk.Walk(&part);
        if (part.chunks.empty() && part.indexChunks.empty()) {
            // A part begun with nothing in it yet: its headers go with it.
            tail = part.end == part.movi + 12 ? part.end : pos;
            break;
        }
        layout->parts.push_back(part);
        pos = part.end;
        tail = pos;
    }
    // A file that grew past its first part has the first part's index: a
    // missing one means the parts are not what they seem.
    if (layout->parts.size() > 1 && layout->parts[0].end + 8 > layout->parts[1].riff)
        return TRead::Broken;
    layout->end = layout->parts.back().end;
    if (!walk.IsExpendableTail(tail))
        return TRead::Broken;
    // A recording without one video frame has nothing to show: it is
    // named, not turned into a sound-only file.
    for (const TPart& part : layout->parts) {
        for (const TChunk& c : part.chunks) {
            if (layout->streams[size_t(c.stream)].video)
                return TRead::Ok;
        }
    }
    return TRead::Broken;
}

// The files that running processes hold open, by device and inode: a
// recording being written by another copy of the program is not unfinished.
class TOpenFiles {
  public:
    bool Contains(dev_t device, ino_t inode) {
        if (!read_)
            Read();
        return files_.count({device, inode}) > 0;
    }

  private:
    void Read() {
        read_ = true;
        DIR* proc = ::opendir("/proc");
        if (!proc)
            return;
        const pid_t self = ::getpid();
        while (dirent* process = ::readdir(proc)) {
            if (!IsDigit(uint8_t(process->d_name[0])) || std::atoi(process->d_name) == self)
                continue;
            const std::string fdDir = std::string("/proc/") + process->d_name + "/fd";
            DIR* fds = ::opendir(fdDir.c_str());
            if (!fds)
                continue;
            while (dirent* fd = ::readdir(fds)) {
                if (fd->d_name[0] == '.')
                    continue;
                // stat follows the descriptor's link to the file itself;
                // a pipe or socket is no file of the folder anyway.
                struct stat st {};
                const std::string link = fdDir + "/" + fd->d_name;
                if (::stat(link.c_str(), &st) == 0 && S_ISREG(st.st_mode))
                    files_.insert({st.st_dev, st.st_ino});
            }
            ::closedir(fds);
        }
        ::closedir(proc);
    }

    bool read_ = false;
    std::set<std::pair<dev_t, ino_t>> files_;
};

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
    out.reserve(8 + part.chunks.size() * 16);
    Append32(out, kIdx1);
    Append32(out, uint32_t(part.chunks.size() * 16));
    for (const TChunk& c : part.chunks) {
        Append32(out, c.id);
        Append32(out, IndexFlags(layout.streams[size_t(c.stream)]));
        Append32(out, uint32_t(c.pos));
        Append32(out, c.size);
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
    Append32(out, StreamId(stream, "ix"));
    Append32(out, uint32_t(kStdIndexHeader + chunks.size() * kStdIndexEntry));
    Append16(out, 2);  // longs per entry
    out.push_back(0);  // sub-type
    out.push_back(1);  // an index of chunks
    Append32(out, uint32_t(chunks.size()));
    Append32(out, s.chunkId);
    Append64(out, uint64_t(part.riff));
    Append32(out, 0);
    for (const TChunk* c : chunks) {
        Append32(out, uint32_t(c->pos + 8 - part.riff));
        Append32(out, c->size & ~kDeltaFrameBit);
    }
    return out;
}

// The super index of one stream: one entry per part that has the stream's
// standard index (its place, size and the stream's length in that part),
// filling the stream's slot.
std::vector<uint8_t> SuperIndex(TRecordingFile& f, const TLayout& layout, size_t s,
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
        Append64(entries, uint64_t(at));
        Append32(entries, f.U32(at + 4, &ok) + 8);
        Append32(entries, Length(stream, inPart));
        ++used;
    }
    std::vector<uint8_t> super;
    Append32(super, kIndx);
    Append32(super, stream.slotSize);
    Append16(super, 4);  // longs per entry
    super.push_back(0);  // sub-type
    super.push_back(0);  // an index of indexes
    Append32(super, used);
    Append32(super, stream.chunkId);
    for (int i = 0; i < 3; ++i)
        Append32(super, 0);
    super.insert(super.end(), entries.begin(), entries.end());
    super.resize(size_t(stream.slotSize) + 8, 0);
    return super;
}

bool Patch(TRecordingFile& f, TLayout& layout) {
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

    // 1. The index after the last complete frame; what follows is cut off.
    TPart& last = layout.parts.back();
    int64_t end = layout.end;
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
        return false;

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
    return ok && f.Sync();
}

// The folder of a path and the name in it, as the bytes the system knows.
struct TPlace {
    QByteArray folder;
    QByteArray name;
};

TPlace PlaceOf(const QString& path) {
    const QByteArray bytes = EncodeFileName(path);
    const qsizetype slash = bytes.lastIndexOf('/');
    if (slash < 0)
        return {".", bytes};
    return {slash == 0 ? QByteArray("/") : bytes.left(slash), bytes.mid(slash + 1)};
}

TRecordingState Examine(int dir, const QByteArray& name, TOpenFiles& openFiles) {
    TRecordingFile f(dir, name);
    if (!f.IsOpen())
        return f.Refused() ? TRecordingState::NotARecording : TRecordingState::Unrepairable;
    if (f.Size() >= 12 && IsComplete(f))
        return TRecordingState::Complete;
    TLayout layout;
    const TRead read = ReadLayout(f, &layout);
    if (read == TRead::NotAvi)
        return TRecordingState::NotARecording;
    // Another copy of the program may be writing it still: just after its
    // start it holds no complete frame yet.
    if (openFiles.Contains(f.Device(), f.Inode()))
        return TRecordingState::InUse;
    if (read == TRead::Broken || !f.OpenForWriting())
        return TRecordingState::Unrepairable;
    if (Patch(f, layout))
        return TRecordingState::Repaired;
    f.Undo();
    return TRecordingState::Unrepairable;
}

bool IsRecordingName(const QByteArray& name) {
    if (!name.startsWith("video") || !name.endsWith(".avi") || name.size() < 5 + 6 + 4)
        return false;
    return std::all_of(name.begin() + 5, name.end() - 4, [](char c) { return IsDigit(uint8_t(c)); });
}

}  // namespace

TRecordingState RepairRecording(const QString& path) {
    const TPlace place = PlaceOf(path);
    const int dir = ::open(place.folder.constData(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (dir < 0)
        return TRecordingState::Unrepairable;
    TOpenFiles openFiles;
    const TRecordingState state = Examine(dir, place.name, openFiles);
    ::close(dir);
    return state;
}

bool IsRecordingName(const QString& fileName) {
    return IsRecordingName(EncodeFileName(fileName));
}

QStringList RepairUnfinishedRecordings(const QString& folder) {
    QStringList failed;
    const QByteArray folderBytes = EncodeFileName(folder);
    const int dir = ::open(folderBytes.constData(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (dir < 0)
        return failed;
    std::vector<QByteArray> names;
    if (DIR* listing = ::fdopendir(::dup(dir))) {
        while (dirent* entry = ::readdir(listing)) {
            if (IsRecordingName(QByteArray(entry->d_name)))
                names.emplace_back(entry->d_name);
        }
        ::closedir(listing);
    }
    std::sort(names.begin(), names.end());
    TOpenFiles openFiles;
    const QByteArray prefix = folderBytes.endsWith('/') ? folderBytes : folderBytes + '/';
    for (const QByteArray& name : names) {
        if (Examine(dir, name, openFiles) == TRecordingState::Unrepairable)
            failed.append(DecodeFileName(prefix + name));
    }
    ::close(dir);
    return failed;
}

QString UnrepairableRecordingsText(const QStringList& paths) {
    constexpr int kNamed = 10;
    QString text = ShownText(u"Ces enregistrements, interrompus, n'ont pas pu être réparés ; "
                             u"ils restent tels quels :") +
                   QStringLiteral("\r\n");
    if (paths.size() > kNamed)
        text += ShownText(u"(%1 fichiers ; les %2 premiers :)").arg(paths.size()).arg(kNamed) +
                QStringLiteral("\r\n");
    text += QStringLiteral("\r\n") + paths.mid(0, kNamed).join(QStringLiteral("\r\n"));
    if (paths.size() > kNamed)
        text += QStringLiteral("\r\n") + ShownText(u"… et %1 autres.").arg(paths.size() - kNamed);
    return text;
}
