// SPDX-License-Identifier: GPL-3.0-or-later
#include "RecordingLayout.h"

#include <algorithm>
#include <cstring>

constexpr size_t kBlock = TRecordingFile::kBlock;
// What follows the last complete frame is kept in memory while the repair
// runs, to be put back if a write fails; a tail longer than any frame is no
// cut-off frame.
constexpr int64_t kLongestTail = int64_t(64) << 20;

bool IsDigit(uint8_t c) {
    return c >= '0' && c <= '9';
}

FourCC StreamId(int stream, const char* prefix) {
    return uint32_t(uint8_t(prefix[0])) | uint32_t(uint8_t(prefix[1])) << 8 |
           uint32_t('0' + stream / 10 % 10) << 16 | uint32_t('0' + stream % 10) << 24;
}
FourCC StreamDataId(int stream, const char* suffix) {
    return uint32_t('0' + stream / 10 % 10) | uint32_t('0' + stream % 10) << 8 |
           uint32_t(uint8_t(suffix[0])) << 16 | uint32_t(uint8_t(suffix[1])) << 24;
}

namespace {

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
            // The next part, or another recording joined on.
            if (id == kRiff)
                break;
            if (id == kIdx1) {
                // The index that ends the first part, whole or cut short by
                // the file's end. An index id whose size runs past the end
                // while what follows its header is no index is damage amid
                // the frames: stepped over like any other.
                if (Padded(pos, f_.U32(pos + 4, &ok)) <= f_.Size() || IsCutIndex(pos))
                    break;
                const int64_t next = Resync(pos + 8);
                if (next < 0)
                    break;
                pos = next;
                continue;
            }
            const uint8_t* h = f_.At(pos, 8);
            // Frames of a stream the header does not list: one is a damaged
            // id, stepped over; more mean that the header has lost a
            // stream's list, and its frames would be lost with it.
            if (h && DataStream(id) >= streams_ && Padded(pos, Le32(h + 4)) <= f_.Size()) {
                ++foreign_;
                pos = Padded(pos, Le32(h + 4));
                continue;
            }
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
    // zeros, a chunk header cut short, or one chunk that the file's end cuts
    // short and that holds nothing readable after its header: a frame (or
    // padding, or a standard index) with no chunk, index, part or other
    // recording anywhere after its header, or an index whose every whole
    // entry is an entry. A size that runs past the end while readable data
    // follows is damage, and what follows it is never cut.
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
        if (Padded(pos, Le32(h + 4)) > size) {
            if (id == kIdx1)
                return IsCutIndex(pos);
            if (IsMember(id))
                return Resync(pos + 8) == -1;
        }
        if (id == kRiff && IsCutPartHeader(pos))
            return true;
        for (int64_t at = pos; at < size; at += int64_t(kBlock)) {
            const size_t n = size_t(std::min<int64_t>(int64_t(kBlock), size - at));
            const uint8_t* b = f_.At(at, n);
            if (!b || std::any_of(b, b + n, [](uint8_t c) { return c != 0; }))
                return false;
        }
        return true;
    }

    // Whether the walk met frames of streams the header does not list.
    bool MetForeignStream() const { return foreign_ > 1; }

    static constexpr int64_t kJoined = -2;

  private:
    // An idx1 index at pos that the file's end cuts short: its size runs
    // past the end, and every whole entry up to the end names a chunk of a
    // stream the header lists.
    bool IsCutIndex(int64_t pos) {
        const int64_t size = f_.Size();
        const uint8_t* h = f_.At(pos, 8);
        if (!h || Le32(h) != kIdx1 || Padded(pos, Le32(h + 4)) <= size)
            return false;
        for (int64_t entry = pos + 8; entry + 16 <= size; entry += 16) {
            const uint8_t* e = f_.At(entry, 4);
            const int stream = e ? DataStream(Le32(e)) : -1;
            if (stream < 0 || stream >= streams_)
                return false;
        }
        return true;
    }
    // The start of an extension part that the file's end cuts short: as far
    // as it goes, "RIFF", a size, "AVIX", "LIST", a size, "movi".
    bool IsCutPartHeader(int64_t pos) {
        const int64_t size = f_.Size();
        if (size - pos > 24)
            return false;
        const uint8_t* h = f_.At(pos, size_t(size - pos));
        if (!h || Le32(h + 4) <= 24)
            return false;
        const struct {
            int at;
            FourCC id;
        } fields[] = {{8, kAvix}, {12, kList}, {20, kMovi}};
        for (const auto& field : fields) {
            const int64_t n = std::min<int64_t>(4, size - pos - field.at);
            const uint8_t want[4] = {uint8_t(field.id), uint8_t(field.id >> 8),
                                     uint8_t(field.id >> 16), uint8_t(field.id >> 24)};
            if (n > 0 && std::memcmp(h + field.at, want, size_t(n)) != 0)
                return false;
        }
        return true;
    }
    bool IsMember(FourCC id) const {
        const int stream = DataStream(id);
        return (stream >= 0 && stream < streams_) || IsStandardIndex(id) || id == kJunk;
    }
    bool CanFollow(int64_t pos) {
        if (pos + 8 > f_.Size())
            return true;
        const uint8_t* h = f_.At(pos, 8);
        if (!h)
            return false;  // unreadable
        const FourCC id = Le32(h);
        return IsMember(id) || id == kIdx1 || id == kRiff || id == kList;
    }

    TRecordingFile& f_;
    int streams_;
    int foreign_ = 0;
};

}  // namespace

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
    if (walk.MetForeignStream() || !walk.IsExpendableTail(tail))
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
