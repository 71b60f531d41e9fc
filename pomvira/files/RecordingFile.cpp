// SPDX-License-Identifier: GPL-3.0-or-later
#include "RecordingFile.h"

#include <algorithm>
#include <cerrno>
#include <fcntl.h>
#include <unistd.h>

namespace {

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

}  // namespace

TRecordingFile::TRecordingFile(int dir, const QByteArray& name) : dir_(dir), name_(name) {
    fd_ = ::openat(dir, name.constData(), O_RDONLY | kOpenFlags);
    if (fd_ < 0) {
        refused_ = errno == ELOOP || errno == ENXIO || errno == ENOENT;
        return;
    }
    if (::fstat(fd_, &stat_) != 0 || !S_ISREG(stat_.st_mode)) {
        refused_ = true;
        Close();
        return;
    }
    size_ = stat_.st_size;
    original_ = size_;
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

uint32_t TRecordingFile::U32(int64_t pos, bool* ok) {
    const uint8_t* b = At(pos, 4);
    if (!b) {
        *ok = false;
        return 0;
    }
    return Le32(b);
}

bool TRecordingFile::OpenForWriting() {
    const int fd = ::openat(dir_, name_.constData(), O_RDWR | kOpenFlags);
    if (fd < 0)
        return false;
    struct stat st {};
    if (::fstat(fd, &st) != 0 || st.st_dev != stat_.st_dev || st.st_ino != stat_.st_ino ||
        !S_ISREG(st.st_mode)) {
        ::close(fd);
        return false;
    }
    Close();
    fd_ = fd;
    return true;
}

bool TRecordingFile::Write(int64_t pos, const std::vector<uint8_t>& data) {
    if (!Keep(pos, int64_t(data.size())))
        return false;
    cache_.clear();
    const bool ok = Transfer(fd_, ::pwrite, data.data(), data.size(), pos);
    size_ = std::max(size_, pos + int64_t(data.size()));
    return ok;
}

bool TRecordingFile::PutU32(int64_t pos, uint32_t value) {
    return Write(pos,
                 {uint8_t(value), uint8_t(value >> 8), uint8_t(value >> 16), uint8_t(value >> 24)});
}

bool TRecordingFile::Truncate(int64_t size) {
    if (size < size_ && !Keep(size, size_ - size))
        return false;
    cache_.clear();
    if (::ftruncate(fd_, off_t(size)) != 0)
        return false;
    size_ = size;
    return true;
}

bool TRecordingFile::Sync() {
    return ::fsync(fd_) == 0;
}

void TRecordingFile::Undo() {
    for (auto it = kept_.rbegin(); it != kept_.rend(); ++it)
        Transfer(fd_, ::pwrite, it->second.data(), it->second.size(), it->first);
    if (::ftruncate(fd_, off_t(original_)) == 0)
        size_ = original_;
    ::fsync(fd_);
    kept_.clear();
    cache_.clear();
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
    const int64_t end = std::min(pos + n, original_);
    if (pos >= end)
        return true;
    std::vector<uint8_t> old(size_t(end - pos));
    if (!Transfer(fd_, ::pread, old.data(), old.size(), pos))
        return false;
    kept_.emplace_back(pos, std::move(old));
    return true;
}

void TRecordingFile::Close() {
    if (fd_ >= 0)
        ::close(fd_);
    fd_ = -1;
}
