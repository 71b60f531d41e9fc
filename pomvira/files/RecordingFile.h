// SPDX-License-Identifier: GPL-3.0-or-later
// A recording file as the start-up repair reads and patches it: a regular
// file of its folder only (looked at without following a link before it is
// opened, so that a FIFO, a device or a socket is never opened), read
// through a cache of large blocks, taken for writing under an exclusive lock
// only while it still has the size it was read with, and written with a
// record of every byte it changes, so that a repair that fails can put the
// file back as it was.
#pragma once

#include <QByteArray>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <sys/stat.h>
#include <utility>
#include <vector>

// The disk under a file's changes, as far as they go: asked before each step
// that changes the file (or takes it to change it), it may refuse the step,
// which then fails as on a full or failing disk; it may also act on the file
// meanwhile, as another program would. The real disk (an empty one) refuses
// nothing.
enum class TRecordingFileStep { Take, Write, Truncate, Sync, UndoWrite, UndoTruncate };
using TRecordingDisk = std::function<bool(TRecordingFileStep step)>;

class TRecordingFile {
  public:
    // Reads go through a cache of this many bytes, refilled with one read.
    static constexpr size_t kBlock = 1 << 20;

    // Opens `name` in the folder `dir` to read; its changes go through
    // `disk`.
    TRecordingFile(int dir, const QByteArray& name, TRecordingDisk disk = {});
    ~TRecordingFile();
    TRecordingFile(const TRecordingFile&) = delete;
    TRecordingFile& operator=(const TRecordingFile&) = delete;

    bool IsOpen() const { return fd_ >= 0; }
    // Not a regular file of the folder itself (a link, a FIFO, a device, a
    // socket, a folder), or gone: never opened.
    bool Refused() const { return refused_; }
    int64_t Size() const { return size_; }
    dev_t Device() const { return stat_.st_dev; }
    ino_t Inode() const { return stat_.st_ino; }

    // The n bytes at pos (n <= kBlock), or nullptr past the end. Valid up
    // to the next call.
    const uint8_t* At(int64_t pos, size_t n);
    // The little-endian 32-bit value at pos; clears *ok past the end.
    uint32_t U32(int64_t pos, bool* ok);

    enum class TTake {
        Taken,   // open to write, locked, as it was read
        Busy,    // locked by another, written by this program, or changed since it was read
        Failed,  // cannot be opened to write
    };
    // Opens the same file again to write it, still without following a
    // link, makes sure it is the same file, locks it (without waiting) and
    // takes its size again: a file that grew or shrank since it was read is
    // being written by someone and is left alone.
    TTake OpenForWriting();
    bool Write(int64_t pos, const std::vector<uint8_t>& data);
    bool PutU32(int64_t pos, uint32_t value);
    // Sets the file's size; fails, changing nothing, when the file no
    // longer has the size this object gave it (someone appended to it).
    bool Truncate(int64_t size);
    bool Sync();
    // Puts back every byte changed and the size the file had. False when
    // that failed: the file is then neither repaired nor as it was. A file
    // that someone else made longer meanwhile keeps its size (what was
    // appended stays).
    bool Undo();

  private:
    // Whether the step may go on (errno EIO when the disk refuses it).
    bool Step(TRecordingFileStep step) const;
    bool Fill(int64_t pos, size_t n);
    // Remembers the bytes of the original file that [pos, pos + n) covers.
    bool Keep(int64_t pos, int64_t n);
    // The file's size on disk now, or -1.
    int64_t SizeOnDisk() const;
    void Close();

    int dir_;
    QByteArray name_;
    TRecordingDisk disk_;
    int fd_ = -1;
    bool refused_ = false;
    struct stat stat_ {};
    int64_t size_ = 0;
    int64_t original_ = 0;
    std::vector<uint8_t> cache_;
    int64_t cacheAt_ = 0;
    std::vector<std::pair<int64_t, std::vector<uint8_t>>> kept_;
};

inline uint32_t Le32(const uint8_t* b) {
    return uint32_t(b[0]) | uint32_t(b[1]) << 8 | uint32_t(b[2]) << 16 | uint32_t(b[3]) << 24;
}
