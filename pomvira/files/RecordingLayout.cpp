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

// The picture format of a video stream's format chunk (a bitmap header).
constexpr int64_t kBitmapCompression = 16;

// Uncompressed pictures: every byte of a frame is needed to show it.
bool IsRawPicture(FourCC compression) {
    if (compression <= 3)  // BI_RGB, BI_RLE8, BI_RLE4, BI_BITFIELDS
        return compression == 0 || compression == 3;
    for (const char* raw : {"YUY2", "YUYV", "YVYU", "UYVY", "VYUY", "I420", "IYUV", "YV12", "NV12",
                            "NV21", "Y800", "Y8  ", "GREY", "Y41P", "YVU9", "YUV9", "Y42B", "YV16",
                            "Y444", "AYUV", "RGB ", "RAW ", "DIB ", "v210", "2vuy", "HDYC"}) {
        if (compression == (uint32_t(uint8_t(raw[0])) | uint32_t(uint8_t(raw[1])) << 8 |
                            uint32_t(uint8_t(raw[2])) << 16 | uint32_t(uint8_t(raw[3])) << 24))
            return true;
    }
    return false;
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
        } else if (id == kStrf && stream->video && size >= kBitmapCompression + 4) {
            stream->keepsCutFrames = !IsRawPicture(f.U32(pos + 8 + kBitmapCompression, &ok));
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

// Where a chunk may begin, told from its first byte: a stream's data
// ("00dc"), a standard index ("ix00"), padding ("JUNK"), an index ("idx1"),
// the next part or another recording ("RIFF").
struct TChunkStarts {
    bool may[256] = {};
    constexpr TChunkStarts() {
        for (int c = '0'; c <= '9'; ++c)
            may[c] = true;
        may[int('i')] = may[int('J')] = may[int('R')] = true;
    }
};
constexpr TChunkStarts kChunkStarts;

bool IsZeroWord(const uint8_t* b) {
    uint64_t word;
    std::memcpy(&word, b, sizeof word);
    return word == 0;
}

// The walk over the chunks of the 'movi' lists.
class TChunkWalk {
  public:
    TChunkWalk(TRecordingFile& f, const std::vector<TStream>& streams)
        : f_(f), streams_(streams), count_(int(streams.size())) {}

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
    // above, the first part's index (whole or cut short by the file's end)
    // or the next part; -1 when there is none before the file's end,
    // kJoined when another recording begins first. Chunks start at even
    // offsets; holes hold none and are passed at once, and the places where
    // none can start are told a block at a time.
    int64_t Resync(int64_t from) {
        const int64_t size = f_.Size();
        int64_t pos = from + (from & 1);
        while (pos + 8 <= size) {
            const int64_t data = f_.DataFrom(pos);
            if (data > pos) {
                pos = data + (data & 1);
                continue;
            }
            const size_t n = size_t(std::min<int64_t>(int64_t(kBlock), size - pos));
            const uint8_t* b = f_.At(pos, n);
            if (!b)
                return -1;
            // The last place to look at in this block: a header lies wholly
            // in it, and no chunk begins in the hole that follows the data.
            const int64_t last = std::min(pos + int64_t(n) - 8, f_.HoleFrom(pos) - 1);
            int64_t at = pos;
            for (; at <= last; at += 2) {
                const uint8_t* h = b + (at - pos);
                if (!kChunkStarts.may[h[0]]) {
                    if (h[0] == 0 && at + 8 <= last && IsZeroWord(h))
                        at += 6;  // zeros, a word at a time
                    continue;
                }
                const int64_t found = ChunkAt(at);
                if (found != -1)
                    return found;
                b = f_.At(pos, n);  // the look may have read elsewhere
                if (!b)
                    return -1;
            }
            pos = at;
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
    // A chunk whose size is damaged keeps its frame, up to where the next
    // valid chunk starts; a chunk whose header is damaged otherwise is
    // stepped over. The last chunk, cut short by the file's end, is kept
    // with the bytes it has when it is a compressed picture.
    void Walk(TPart* part) {
        const int64_t size = f_.Size();
        int64_t pos = part->movi + 12;
        while (pos + 8 <= size) {
            const uint8_t* h = f_.At(pos, 8);
            if (!h)
                break;  // unreadable
            const FourCC id = Le32(h);
            const uint32_t claimed = Le32(h + 4);
            const int64_t next = Padded(pos, claimed);
            // The next part, or another recording joined on; the index that
            // ends the first part, whole or cut short by the file's end.
            if (id == kRiff || (id == kIdx1 && IsIndex(pos)))
                break;
            // Whole: it fits in the file, and what follows can be a chunk
            // (a frame that lacks only its pad byte at the file's end is
            // whole too).
            const bool fits = pos + 8 + int64_t(claimed) <= size;
            const bool whole = fits && (next > size || CanFollow(next));
            const bool loose = !IsMember(id) && LooseStream(id) >= 0 && whole;
            if (!IsMember(id) && !loose) {
                // Frames of a stream the header does not list: one is a
                // damaged id, stepped over; more mean that the header has
                // lost a stream's list, and its frames would be lost with it.
                if (DataStream(id) >= count_ && fits) {
                    ++foreign_;
                    pos = next;
                    continue;
                }
                const int64_t resumed = Resync(pos + 2);
                if (resumed < 0)
                    break;
                pos = resumed;
                continue;
            }
            TChunk chunk{id, loose ? LooseStream(id) : DataStream(id), pos, claimed};
            chunk.looseId = loose;
            if (!whole) {
                // Its size leads nowhere: damaged, and the next chunk begins
                // inside what it claims (or it runs past the file's end);
                // or the chunk is whole and damage follows it.
                const int64_t resumed = Resync(pos + 8);
                if (resumed == kJoined)
                    break;
                if (resumed >= 0 && resumed < next) {
                    chunk.size = uint32_t(resumed - pos - 8);
                    chunk.resized = true;
                    Add(part, chunk);
                    pos = resumed;
                    continue;
                }
                if (!fits) {
                    // The last chunk, cut short by the file's end (a header
                    // alone holds no part of a picture).
                    if (chunk.stream >= 0 && streams_[size_t(chunk.stream)].keepsCutFrames &&
                        size > pos + 8) {
                        chunk.size = uint32_t(size - pos - 8);
                        chunk.resized = true;
                        Add(part, chunk);
                        pos = Padded(pos, chunk.size);
                    }
                    break;
                }
            }
            Add(part, chunk);
            pos = next;
        }
        part->end = pos;
    }

    // Whether what lies from pos to the file's end may be cut off: nothing,
    // zeros (or holes), indexes (the repair writes its own in their place),
    // a chunk header cut short, or one chunk that the file's end cuts short
    // and that holds nothing readable after its header: a frame (or
    // padding, or a standard index) with no chunk, index, part or other
    // recording anywhere after its header, or an index whose every whole
    // entry is an entry. A size that runs past the end while readable data
    // follows is damage, and what follows it is never cut.
    bool IsExpendableTail(int64_t pos) {
        const int64_t size = f_.Size();
        while (pos + 8 <= size) {
            const uint8_t* h = f_.At(pos, 8);
            if (!h)
                return false;
            const FourCC id = Le32(h);
            if ((id != kIdx1 && !IsStandardIndex(id)) || Padded(pos, Le32(h + 4)) > size)
                break;
            pos = Padded(pos, Le32(h + 4));
        }
        if (pos >= size || size - pos < 8)
            return true;
        if (DataBytes(pos, size) > kLongestTail)
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
        for (int64_t at = f_.DataFrom(pos); at < size; at = f_.DataFrom(at)) {
            for (const int64_t stop = f_.HoleFrom(at); at < stop;) {
                const size_t n = size_t(std::min<int64_t>(int64_t(kBlock), stop - at));
                const uint8_t* b = f_.At(at, n);
                if (!b || std::any_of(b, b + n, [](uint8_t c) { return c != 0; }))
                    return false;
                at += int64_t(n);
            }
        }
        return true;
    }

    // Whether the walk met frames of streams the header does not list.
    bool MetForeignStream() const { return foreign_ > 1; }

    static constexpr int64_t kJoined = -2;

  private:
    // What a look for a chunk finds at pos: pos, kJoined, or -1.
    int64_t ChunkAt(int64_t pos) {
        const uint8_t* h = f_.At(pos, 12);
        if (h && Le32(h) == kRiff && Le32(h + 8) == kAvi)
            return kJoined;  // another recording joined to this one is no part of it
        return IsChunk(pos) || IsNextPart(pos) || IsIndex(pos) ? pos : -1;
    }
    // An idx1 index at pos, whole or cut short by the file's end.
    bool IsIndex(int64_t pos) {
        const uint8_t* h = f_.At(pos, 8);
        return h && Le32(h) == kIdx1 && (Padded(pos, Le32(h + 4)) <= f_.Size() || IsCutIndex(pos));
    }
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
            if (stream < 0 || stream >= count_)
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
    // The bytes of data from `from` to `to`, holes left out; counted up to
    // a little past kLongestTail.
    int64_t DataBytes(int64_t from, int64_t to) const {
        int64_t bytes = 0;
        for (int64_t at = f_.DataFrom(from); at < to && bytes <= kLongestTail;) {
            const int64_t stop = std::min(f_.HoleFrom(at), to);
            bytes += stop - at;
            at = f_.DataFrom(stop);
        }
        return bytes;
    }
    bool IsMember(FourCC id) const {
        const int stream = DataStream(id);
        return (stream >= 0 && stream < count_) || IsStandardIndex(id) || id == kJunk;
    }
    // A listed stream's number followed by two characters other than its
    // kind: what readers take for a frame of that stream, its id damaged.
    int LooseStream(FourCC id) const {
        const uint8_t c[4] = {uint8_t(id), uint8_t(id >> 8), uint8_t(id >> 16), uint8_t(id >> 24)};
        if (!IsDigit(c[0]) || !IsDigit(c[1]) || c[2] >= 128 || c[3] >= 128)
            return -1;
        const int stream = (c[0] - '0') * 10 + (c[1] - '0');
        return stream < count_ ? stream : -1;
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
    static void Add(TPart* part, const TChunk& chunk) {
        if (chunk.stream >= 0)
            part->chunks.push_back(chunk);
        else if (IsStandardIndex(chunk.id))
            part->indexChunks.push_back(chunk.pos);
    }

    TRecordingFile& f_;
    const std::vector<TStream>& streams_;
    int count_;
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
    TChunkWalk walk(f, layout->streams);
    walk.Walk(&first);
    layout->parts.push_back(first);
    // After the first part's frames: its index (written when the file grew
    // past the first part, or when the recording stopped), then the
    // extension parts. An index with no part after it is the one the
    // repair replaces, whole or cut short (an interrupted repair's own).
    int64_t pos = first.end;
    if (pos + 8 <= f.Size() && f.U32(pos, &ok) == kIdx1) {
        const int64_t after = Padded(pos, f.U32(pos + 4, &ok));
        if (after <= f.Size() && walk.IsNextPart(after))
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
    // The standard indexes after the last part's frames are an
    // interrupted repair's: replaced, not followed by a second set.
    TPart& last = layout->parts.back();
    if (layout->parts.size() > 1 && !last.chunks.empty() && tail == last.end) {
        const TChunk& frame = last.chunks.back();
        const int64_t frames = Padded(frame.pos, frame.size);
        while (!last.indexChunks.empty() && last.indexChunks.back() >= frames)
            last.indexChunks.pop_back();
        last.end = tail = std::min(last.end, frames);
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
