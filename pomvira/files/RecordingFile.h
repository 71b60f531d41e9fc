// SPDX-License-Identifier: GPL-3.0-or-later
// A recording file as the start-up repair reads and patches it: a regular
// file of its folder only (looked at without following a link before it is
// opened, so that a FIFO, a device or a socket is never opened), read
// through a cache of large blocks, its holes found by asking the file system
// where its data is, taken for writing under an exclusive lock only while
// nobody writes it (it keeps the size and modification time it was read
// with through a settling time, and no other process holds it open where the
// kernel can tell), and written with a record of every byte it changes, so
// that a repair that fails can put the file back as it was.
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
    // Owned by another user than the one this program runs as.
    bool OthersFile() const;

    // How long a file must keep its size and modification time before it
    // is taken for writing: a recorder writes many times a second.
    static constexpr int kSettleMs = 1000;

    // The first position from pos on that holds data (the file's size when
    // only a hole follows), and the first hole from pos on (the file's end
    // counts as one), as the file system tells; pos and the size when it
    // cannot tell.
    int64_t DataFrom(int64_t pos) const;
    int64_t HoleFrom(int64_t pos) const;

    // The n bytes at pos (n <= kBlock), or nullptr past the end. Valid up
    // to the next call.
    const uint8_t* At(int64_t pos, size_t n);
    // The little-endian 32-bit value at pos; clears *ok past the end.
    uint32_t U32(int64_t pos, bool* ok);

    // Whether nobody writes the file: it keeps the size and modification
    // time it was read with until its last change lies kSettleMs in the past
    // (waited for, at most kSettleMs from when it was read), and no other
    // process holds it open (a write lease cannot be had on it).
    bool Settled();

    enum class TTake {
        Taken,   // open to write, locked, as it was read
        Busy,    // locked, held open or being written by another, written by this
                 // program, or changed since it was read
        Failed,  // cannot be opened to write
    };
    // Opens the same file again to write it, still without following a
    // link, makes sure it is the same file, locks it (without waiting) and
    // makes sure it settled: a file that changed since it was read, or that
    // another process holds open, is being written by someone and is left
    // alone.
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
    // Remembers the bytes of the original file that [pos, pos + n) covers,
    // its data only: what lies in a hole comes back as zeros when the
    // file's size is put back.
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
    struct timespec readAt_ {};  // when it was first looked at (CLOCK_REALTIME)
    int64_t size_ = 0;
    int64_t original_ = 0;
    std::vector<uint8_t> cache_;
    int64_t cacheAt_ = 0;
    std::vector<std::pair<int64_t, std::vector<uint8_t>>> kept_;
};

inline uint32_t Le32(const uint8_t* b) {
    return uint32_t(b[0]) | uint32_t(b[1]) << 8 | uint32_t(b[2]) << 16 | uint32_t(b[3]) << 24;
}
