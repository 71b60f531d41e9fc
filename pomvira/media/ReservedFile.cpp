// SPDX-License-Identifier: GPL-3.0-or-later
#include "ReservedFile.h"

#include <fcntl.h>
#include <unistd.h>

#include <cerrno>
#include <map>
#include <mutex>

#include "media/FileNameCodec.h"

namespace media {

namespace {

struct TReservation {
    int fd;
    struct stat made;
};

std::mutex g_lock;
std::map<QByteArray, TReservation> g_reserved;

}  // namespace

HRESULT WriterErrorResult(int error) {
    switch (error) {
        case ENOSPC:
        case EDQUOT:
            return HResultFromWin32(ERROR_DISK_FULL);
        case EFBIG:
            return HResultFromWin32(ERROR_FILE_TOO_LARGE);
        case ENOENT:
        case ENOTDIR:
        case ESTALE:
            return HResultFromWin32(ERROR_PATH_NOT_FOUND);
        case EACCES:
        case EPERM:
            return E_ACCESSDENIED;
        case EROFS:
            return HResultFromWin32(ERROR_WRITE_PROTECT);
        case ENXIO:
        case ENODEV:
        case ENOMEDIUM:
            return HResultFromWin32(ERROR_NOT_READY);
        case EEXIST:
        case ELOOP:
            // A file, or a link, took the name before the writer could.
            return HResultFromWin32(ERROR_FILE_EXISTS);
        default:
            return HResultFromWin32(ERROR_WRITE_FAULT);
    }
}

HRESULT ReserveNewFile(const QString& path) {
    const QByteArray name = EncodeFileName(path);
    const int fd =
        ::open(name.constData(), O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_NOCTTY | O_CLOEXEC, 0666);
    if (fd < 0)
        return WriterErrorResult(errno);
    TReservation reservation{fd, {}};
    ::fstat(fd, &reservation.made);
    int replaced = -1;
    {
        const std::lock_guard<std::mutex> guard(g_lock);
        auto [it, added] = g_reserved.emplace(name, reservation);
        if (!added) {
            replaced = it->second.fd;
            it->second = reservation;
        }
    }
    if (replaced >= 0)
        ::close(replaced);
    return S_OK;
}

int TakeReservedFile(const QString& path, struct stat* made) {
    const std::lock_guard<std::mutex> guard(g_lock);
    const auto it = g_reserved.find(EncodeFileName(path));
    if (it == g_reserved.end())
        return -1;
    const TReservation reservation = it->second;
    g_reserved.erase(it);
    if (made)
        *made = reservation.made;
    return reservation.fd;
}

void ReleaseReservedFile(const QString& path) {
    const int fd = TakeReservedFile(path, nullptr);
    if (fd >= 0)
        ::close(fd);
}

}  // namespace media
