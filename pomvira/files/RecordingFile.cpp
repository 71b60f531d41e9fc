// SPDX-License-Identifier: GPL-3.0-or-later
#include "RecordingFile.h"

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <csignal>
#include <ctime>
#include <fcntl.h>
#include <sys/file.h>
#include <thread>
#include <unistd.h>

#include "FilesBeingWritten.h"

namespace {

// O_NONBLOCK: should the name be swapped for a FIFO between the look and the
// open, the open does not wait for a writer.
constexpr int kOpenFlags = O_NOFOLLOW | O_NONBLOCK | O_NOCTTY | O_CLOEXEC;

// All n bytes at pos, with pread or pwrite, however many calls it takes.
template <class Call, class Byte>
bool Transfer(int fd, Call call, Byte* p, size_t n, int64_t pos) {
    while (n > 0) {
        const ssize_t done = call(fd, p, n, off_t(pos));
        if (done < 0 && errno == EINTR)
            continue;
        if (done <= 0)
            return false;
        p += done;
        pos += done;
        n -= size_t(done);
    }
    return true;
}

bool SameFile(const struct stat& a, const struct stat& b) {
    return a.st_dev == b.st_dev && a.st_ino == b.st_ino;
}

int64_t Nanoseconds(const struct timespec& t) {
    return int64_t(t.tv_sec) * 1'000'000'000 + t.tv_nsec;
}

// Whether another process holds the file open: a write lease is refused
// while any other descriptor of the file is open, whoever holds it. The
// lease is given back at once; should someone open the file meanwhile, the
// kernel tells the holder with a signal, here one that is ignored by
// default (the default one, SIGIO, would end the program). False where the
// kernel cannot tell (a file system without leases).
bool HeldOpenElsewhere(int fd) {
    if (::fcntl(fd, F_SETSIG, SIGURG) != 0)
        return false;
    if (::fcntl(fd, F_SETLEASE, F_WRLCK) != 0)
        return errno == EAGAIN || errno == EBUSY;
    ::fcntl(fd, F_SETLEASE, F_UNLCK);
    return false;
}

}  // namespace

bool TRecordingFile::Step(TRecordingFileStep step) const {
    if (!disk_ || disk_(step))
        return true;
    errno = EIO;
    return false;
}

TRecordingFile::TRecordingFile(int dir, const QByteArray& name, TRecordingDisk disk)
    : dir_(dir), name_(name), disk_(std::move(disk)) {
    // Looked at before it is opened: opening a FIFO would release a writer
    // waiting on it (and throw away what it writes), opening a device may
    // act on the device.
    struct stat named {};
    if (::fstatat(dir, name.constData(), &named, AT_SYMLINK_NOFOLLOW) != 0) {
        refused_ = errno == ENOENT;
        return;
    }
    if (!S_ISREG(named.st_mode)) {
        refused_ = true;
        return;
    }
    fd_ = ::openat(dir, name.constData(), O_RDONLY | kOpenFlags);
    if (fd_ < 0) {
        refused_ = errno == ELOOP || errno == ENXIO || errno == ENOENT;
        return;
    }
    // Another file put in its place meanwhile is passed over as well.
    if (::fstat(fd_, &stat_) != 0 || !S_ISREG(stat_.st_mode) || !SameFile(stat_, named)) {
        refused_ = true;
        Close();
        return;
    }
    size_ = stat_.st_size;
    original_ = size_;
    ::clock_gettime(CLOCK_REALTIME, &readAt_);
}

TRecordingFile::~TRecordingFile() {
    Close();
}

const uint8_t* TRecordingFile::At(int64_t pos, size_t n) {
    if (pos < 0 || pos + int64_t(n) > size_)
        return nullptr;
    if (pos < cacheAt_ || pos + int64_t(n) > cacheAt_ + int64_t(cache_.size())) {
        if (!Fill(pos, n))
            return nullptr;
    }
    return cache_.data() + (pos - cacheAt_);
}

bool TRecordingFile::OthersFile() const {
    return stat_.st_uid != ::geteuid();
}

int64_t TRecordingFile::DataFrom(int64_t pos) const {
    if (pos >= size_)
        return size_;
    const off_t data = ::lseek(fd_, off_t(pos), SEEK_DATA);
    if (data < 0)
        return errno == ENXIO ? size_ : pos;
    return std::min<int64_t>(std::max<int64_t>(data, pos), size_);
}

int64_t TRecordingFile::HoleFrom(int64_t pos) const {
    if (pos >= size_)
        return size_;
    const off_t hole = ::lseek(fd_, off_t(pos), SEEK_HOLE);
    return hole < 0 ? size_ : std::min<int64_t>(std::max<int64_t>(hole, pos), size_);
}

uint32_t TRecordingFile::U32(int64_t pos, bool* ok) {
    const uint8_t* b = At(pos, 4);
    if (!b) {
        *ok = false;
        return 0;
    }
    return Le32(b);
}

TRecordingFile::TTake TRecordingFile::OpenForWriting() {
    const int fd = ::openat(dir_, name_.constData(), O_RDWR | kOpenFlags);
    if (fd < 0)
        return TTake::Failed;
    struct stat st {};
    if (::fstat(fd, &st) != 0 || !SameFile(st, stat_) || !S_ISREG(st.st_mode)) {
        ::close(fd);
        return TTake::Failed;
    }
    // A program that locks the files it writes holds the lock: not waited
    // for. The lock stays until the file is closed.
    if (::flock(fd, LOCK_EX | LOCK_NB) != 0) {
        ::close(fd);
        return errno == EWOULDBLOCK ? TTake::Busy : TTake::Failed;
    }
    Close();
    fd_ = fd;
    if (!Step(TRecordingFileStep::Take))
        return TTake::Failed;
    // Under the lock: this program's own recording (it may have taken the
    // name of a file moved away since the folder was listed), or a file
    // someone writes, is not touched.
    if (IsFileBeingWritten(stat_.st_dev, stat_.st_ino) || !Settled())
        return TTake::Busy;
    return TTake::Taken;
}

bool TRecordingFile::Settled() {
    // Settled once its last change lies kSettleMs in the past; waited for
    // kSettleMs at most from the first look (a time in the future, say).
    constexpr int64_t kSettle = int64_t(kSettleMs) * 1'000'000;
    struct timespec now {};
    ::clock_gettime(CLOCK_REALTIME, &now);
    const int64_t settled = std::min(Nanoseconds(stat_.st_mtim), Nanoseconds(readAt_)) + kSettle;
    if (Nanoseconds(now) < settled)
        std::this_thread::sleep_for(std::chrono::nanoseconds(settled - Nanoseconds(now)));
    struct stat st {};
    return ::fstat(fd_, &st) == 0 && st.st_size == original_ &&
           Nanoseconds(st.st_mtim) == Nanoseconds(stat_.st_mtim) && !HeldOpenElsewhere(fd_);
}

bool TRecordingFile::Write(int64_t pos, const std::vector<uint8_t>& data) {
    if (!Keep(pos, int64_t(data.size())))
        return false;
    cache_.clear();
    if (!Step(TRecordingFileStep::Write))
        return false;
    if (Transfer(fd_, ::pwrite, data.data(), data.size(), pos)) {
        size_ = std::max(size_, pos + int64_t(data.size()));
        return true;
    }
    // Part of it may have been written (a disk that filled up on the way):
    // the file's size is what this write made it.
    const int64_t reached = SizeOnDisk();
    if (reached >= 0)
        size_ = reached;
    return false;
}

bool TRecordingFile::PutU32(int64_t pos, uint32_t value) {
    return Write(pos,
                 {uint8_t(value), uint8_t(value >> 8), uint8_t(value >> 16), uint8_t(value >> 24)});
}

bool TRecordingFile::Truncate(int64_t size) {
    if (size < size_ && !Keep(size, size_ - size))
        return false;
    cache_.clear();
    if (!Step(TRecordingFileStep::Truncate))
        return false;
    // What someone appended meanwhile would be cut off with the rest.
    if (SizeOnDisk() != size_)
        return false;
    if (::ftruncate(fd_, off_t(size)) != 0)
        return false;
    size_ = size;
    return true;
}

bool TRecordingFile::Sync() {
    return Step(TRecordingFileStep::Sync) && ::fsync(fd_) == 0;
}

bool TRecordingFile::Undo() {
    bool ok = true;
    // The size the file had first (what was appended goes, what was cut
    // comes back, its holes as holes), unless someone else changed it since
    // this object last did: what they appended is not cut off.
    const int64_t now = SizeOnDisk();
    if (now != original_) {
        if (now == size_ && Step(TRecordingFileStep::UndoTruncate) &&
            ::ftruncate(fd_, off_t(original_)) == 0)
            size_ = original_;
        else
            ok = false;
    }
    for (auto it = kept_.rbegin(); it != kept_.rend(); ++it) {
        ok = Step(TRecordingFileStep::UndoWrite) &&
             Transfer(fd_, ::pwrite, it->second.data(), it->second.size(), it->first) && ok;
    }
    ok = ::fsync(fd_) == 0 && ok;
    kept_.clear();
    cache_.clear();
    return ok;
}

bool TRecordingFile::Fill(int64_t pos, size_t n) {
    cacheAt_ = pos;
    cache_.resize(size_t(std::min<int64_t>(int64_t(std::max(kBlock, n)), size_ - pos)));
    if (!Transfer(fd_, ::pread, cache_.data(), cache_.size(), pos)) {
        cache_.clear();
        return false;
    }
    return true;
}

bool TRecordingFile::Keep(int64_t pos, int64_t n) {
    // Past the size this object gave the file nothing of the original is
    // left to keep: it was kept when the file was cut.
    const int64_t end = std::min({pos + n, original_, size_});
    while (pos < end) {
        const int64_t from = DataFrom(pos);
        if (from >= end)
            break;
        const int64_t to = std::min(HoleFrom(from), end);
        std::vector<uint8_t> old(size_t(to - from));
        if (!Transfer(fd_, ::pread, old.data(), old.size(), from))
            return false;
        kept_.emplace_back(from, std::move(old));
        pos = to;
    }
    return true;
}

int64_t TRecordingFile::SizeOnDisk() const {
    struct stat st {};
    return ::fstat(fd_, &st) == 0 ? int64_t(st.st_size) : -1;
}

void TRecordingFile::Close() {
    if (fd_ >= 0)
        ::close(fd_);
    fd_ = -1;
}
