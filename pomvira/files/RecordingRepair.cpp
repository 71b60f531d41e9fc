// SPDX-License-Identifier: GPL-3.0-or-later
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

#include "FilesBeingWritten.h"
#include "PathUtils.h"
#include "RecordingLayout.h"
#include "TextConv.h"

namespace {

// Main header flags.
constexpr uint32_t AVIF_HASINDEX = 0x10;
constexpr uint32_t AVIF_ISINTERLEAVED = 0x100;
// Index flags as the multiplexer gives them: video frames as key frames
// (AVIIF_KEYFRAME with the two-character-code flag), sound without flags.
// A frame that cannot be told a key frame from the data counts as one: a
// player then decodes from the start, which is what a recording is for.
constexpr uint32_t kVideoIndexFlags = 0x12;
constexpr uint32_t kAudioIndexFlags = 0x00;

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

// Each stream's chunks in every part of the layout.
std::vector<TStreamTotals> StreamTotals(const TLayout& layout) {
    std::vector<TStreamTotals> totals(layout.streams.size());
    for (const TPart& part : layout.parts) {
        for (const TChunk& c : part.chunks) {
            TStreamTotals& t = totals[size_t(c.stream)];
            ++t.chunks;
            t.bytes += c.size;
            t.largest = std::max(t.largest, c.size);
        }
    }
    return totals;
}

// A stream's length: its samples when they have a fixed size, else its
// chunks. The header holds it in 32 bits (FitsTheFormat checks that it fits).
uint64_t Length(const TStream& s, const TStreamTotals& t) {
    return s.sampleSize > 0 ? t.bytes / s.sampleSize : t.chunks;
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
        Append32(entries, uint32_t(Length(stream, inPart)));
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

// Whether every size and offset the repair writes fits in the 32 bits the
// format gives it: each part's RIFF size (which bounds its 'movi' size and
// the offsets of its index entries) and each stream's length. A file whose
// only part reaches past 4 GiB (a part header that was damaged and stepped
// over, say) cannot be indexed in place; it is left as it is.
bool FitsTheFormat(const TLayout& layout) {
    constexpr int64_t kMax = int64_t(UINT32_MAX);
    if (layout.parts.empty())
        return true;
    const size_t streams = layout.streams.size();
    std::vector<uint64_t> inLastPart(streams);
    for (const TChunk& c : layout.parts.back().chunks)
        ++inLastPart[size_t(c.stream)];
    // The indexes that go after the last complete chunk.
    int64_t end = layout.end;
    if (layout.parts.size() == 1) {
        end += 8 + 16 * int64_t(layout.parts[0].chunks.size());
    } else {
        for (size_t s = 0; s < streams; ++s)
            end += 8 + kStdIndexHeader + kStdIndexEntry * int64_t(inLastPart[s]);
    }
    for (size_t p = 0; p < layout.parts.size(); ++p) {
        const int64_t partEnd = p + 1 < layout.parts.size() ? layout.parts[p + 1].riff : end;
        if (partEnd - layout.parts[p].riff - 8 > kMax)
            return false;
    }
    const std::vector<TStreamTotals> totals = StreamTotals(layout);
    for (size_t s = 0; s < streams; ++s) {
        if (Length(layout.streams[s], totals[s]) > uint64_t(kMax))
            return false;
    }
    return true;
}

bool Patch(TRecordingFile& f, TLayout& layout) {
    const size_t streams = layout.streams.size();
    const std::vector<TStreamTotals> totals = StreamTotals(layout);
    std::vector<TStreamTotals> firstPart(streams);
    for (const TChunk& c : layout.parts.front().chunks)
        ++firstPart[size_t(c.stream)].chunks;
    for (const TPart& part : layout.parts) {
        for (const TChunk& c : part.chunks) {
            if (layout.streams[size_t(c.stream)].chunkId == 0 && !c.looseId)
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

    // 1. The sizes of the chunks whose header does not give their frame's
    // (damaged, or cut short by the file's end): from then on the file's
    // frames can be walked as they are, whatever follows.
    bool ok = true;
    bool resized = false;
    for (const TPart& part : layout.parts) {
        for (const TChunk& c : part.chunks) {
            if (c.resized)
                ok = ok && f.PutU32(c.pos + 4, c.size);
            resized |= c.resized;
        }
    }
    ok = ok && (!resized || f.Sync());

    // 2. What follows the last frame is cut off (a chunk cut short, zeros,
    // an index an interrupted repair left) and the index goes after it,
    // after the pad byte a last frame may lack.
    TPart& last = layout.parts.back();
    int64_t end = std::min(layout.end, f.Size());
    std::vector<uint8_t> pad(size_t(layout.end - end), 0);
    ok = ok && f.Truncate(end) && (pad.empty() || f.Write(end, pad));
    end = layout.end;
    // Each part's standard index of each stream: (part, stream) -> position.
    std::vector<std::vector<int64_t>> standard(layout.parts.size(),
                                               std::vector<int64_t>(streams, -1));
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
    ok = ok && f.Sync();
    if (!ok)
        return false;

    // 3. The header: frame counts, stream lengths, flags, super indexes.
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
        ok = f.PutU32(stream.strh + kStrhLength, uint32_t(Length(stream, totals[s])));
        if (ok && f.U32(stream.strh + kStrhSuggestedBuffer, &ok) == 0)
            ok = f.PutU32(stream.strh + kStrhSuggestedBuffer, totals[s].largest);
        if (!ok || layout.parts.size() == 1 || stream.slot < 0)
            continue;
        // The super index takes the place the multiplexer kept for it.
        ok = ok && f.Write(stream.slot, SuperIndex(f, layout, s, standard));
    }
    // 4. The list and RIFF sizes, the first RIFF's last: from then on the
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

TRecordingState Examine(int dir, const QByteArray& name, TOpenFiles& openFiles,
                        const TRecordingDisk& disk) {
    TRecordingFile f(dir, name, disk);
    if (!f.IsOpen())
        return f.Refused() ? TRecordingState::NotARecording : TRecordingState::Unrepairable;
    // Another user's file is theirs to repair, whoever may write to it.
    if (f.OthersFile())
        return TRecordingState::OthersFile;
    // This program's own recording, which may have taken the name of a
    // file moved away since the folder was listed.
    if (IsFileBeingWritten(f.Device(), f.Inode()))
        return TRecordingState::InUse;
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
    // Named only once it is known that nobody writes it: a recording
    // another user's program has just begun holds no frame yet.
    if (read == TRead::Broken || !FitsTheFormat(layout))
        return f.Settled() ? TRecordingState::Unrepairable : TRecordingState::InUse;
    switch (f.OpenForWriting()) {
        case TRecordingFile::TTake::Taken:
            break;
        case TRecordingFile::TTake::Busy:
            return TRecordingState::InUse;
        case TRecordingFile::TTake::Failed:
            return TRecordingState::Unrepairable;
    }
    bool patched = false;
    try {
        patched = Patch(f, layout);
    } catch (...) {
        // Out of memory, say: what was written is put back all the same.
    }
    if (patched)
        return TRecordingState::Repaired;
    return f.Undo() ? TRecordingState::Unrepairable : TRecordingState::Damaged;
}

bool IsRecordingName(const QByteArray& name) {
    if (!name.startsWith("video") || !name.endsWith(".avi") || name.size() < 5 + 6 + 4)
        return false;
    return std::all_of(name.begin() + 5, name.end() - 4,
                       [](char c) { return IsDigit(uint8_t(c)); });
}

// A folder held open while its files are repaired (a name of any bytes).
class TOpenFolder {
  public:
    explicit TOpenFolder(const QByteArray& path)
        : fd_(::open(path.constData(), O_RDONLY | O_DIRECTORY | O_CLOEXEC)) {}
    ~TOpenFolder() {
        if (fd_ >= 0)
            ::close(fd_);
    }
    TOpenFolder(const TOpenFolder&) = delete;
    TOpenFolder& operator=(const TOpenFolder&) = delete;

    bool IsOpen() const { return fd_ >= 0; }
    int Fd() const { return fd_; }
    // The names of the program's recordings in it, sorted.
    std::vector<QByteArray> RecordingNames() const {
        std::vector<QByteArray> names;
        DIR* listing = fd_ < 0 ? nullptr : ::fdopendir(::dup(fd_));
        if (!listing)
            return names;
        while (dirent* entry = ::readdir(listing)) {
            if (IsRecordingName(QByteArray(entry->d_name)))
                names.emplace_back(entry->d_name);
        }
        ::closedir(listing);
        std::sort(names.begin(), names.end());
        return names;
    }

  private:
    int fd_;
};

}  // namespace

TRecordingState RepairRecording(const QString& path, const TRecordingDisk& disk) {
    const TPlace place = PlaceOf(path);
    const TOpenFolder dir(place.folder);
    if (!dir.IsOpen())
        return TRecordingState::Unrepairable;
    try {
        TOpenFiles openFiles;
        return Examine(dir.Fd(), place.name, openFiles, disk);
    } catch (...) {
        // Only reading can fail here (a write that fails is undone by
        // Examine): the file is as it was.
        return TRecordingState::Unrepairable;
    }
}

bool IsRecordingName(const QString& fileName) {
    return IsRecordingName(EncodeFileName(fileName));
}

TFolderRepair RepairUnfinishedRecordings(const QString& folder, const TRepairProgress& progress,
                                         const TRepairOne& repair, const TRecordingDisk& disk) {
    TFolderRepair result;
    const QByteArray folderBytes = EncodeFileName(folder);
    const TOpenFolder dir(folderBytes);
    const std::vector<QByteArray> names = dir.RecordingNames();
    const int total = int(names.size());
    if (progress && !progress(0, total))
        return result;
    TOpenFiles openFiles;
    const QByteArray prefix = folderBytes.endsWith('/') ? folderBytes : folderBytes + '/';
    for (int done = 0; done < total;) {
        const QString path = DecodeFileName(prefix + names[size_t(done)]);
        TRecordingState state = TRecordingState::Unrepairable;
        try {
            state = repair ? repair(path)
                           : Examine(dir.Fd(), names[size_t(done)], openFiles, disk);
        } catch (...) {
        }
        if (state == TRecordingState::Unrepairable)
            result.unrepairable.append(path);
        else if (state == TRecordingState::Damaged)
            result.damaged.append(path);
        ++done;
        if (progress && !progress(done, total))
            break;
    }
    return result;
}

namespace {

// A heading, the count when not all are named, the first few paths.
QString NamingText(const QString& heading, const QStringList& paths) {
    constexpr int kNamed = 10;
    QString text = heading + QStringLiteral("\r\n");
    if (paths.size() > kNamed)
        text +=
            UiText("Messages", "(%1 fichiers ; les %2 premiers :)").arg(paths.size()).arg(kNamed) +
            QStringLiteral("\r\n");
    text += QStringLiteral("\r\n") + paths.mid(0, kNamed).join(QStringLiteral("\r\n"));
    if (paths.size() > kNamed)
        text += QStringLiteral("\r\n") +
                UiText("Messages", "… et %1 autres.").arg(paths.size() - kNamed);
    return text;
}

}  // namespace

QString UnrepairableRecordingsText(const QStringList& paths) {
    return NamingText(UiText("Messages",
                             "Ces enregistrements, interrompus, n'ont pas pu être réparés ; "
                             "ils restent tels quels :"),
                      paths);
}

QString DamagedRecordingsText(const QStringList& paths) {
    return NamingText(UiText("Messages",
                             "La réparation de ces enregistrements interrompus a échoué et n'a "
                             "pas pu les remettre tels qu'ils étaient (le disque est peut-être "
                             "plein ou défectueux) :"),
                      paths);
}
