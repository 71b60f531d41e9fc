// SPDX-License-Identifier: GPL-3.0-or-later
#include "FilesBeingWritten.h"

#include <mutex>
#include <set>
#include <sys/stat.h>
#include <utility>

#include "PathUtils.h"

namespace {

std::mutex g_lock;
std::multiset<std::pair<dev_t, ino_t>> g_files;

}  // namespace

TFileBeingWritten::TFileBeingWritten(const QString& path) {
    struct stat st {};
    if (::lstat(EncodeFileName(path).constData(), &st) != 0 || !S_ISREG(st.st_mode))
        return;
    FDevice = st.st_dev;
    FInode = st.st_ino;
    FMarked = true;
    const std::lock_guard<std::mutex> guard(g_lock);
    g_files.insert({FDevice, FInode});
}

TFileBeingWritten::~TFileBeingWritten() {
    if (!FMarked)
        return;
    const std::lock_guard<std::mutex> guard(g_lock);
    const auto it = g_files.find({FDevice, FInode});
    if (it != g_files.end())
        g_files.erase(it);
}

bool IsFileBeingWritten(dev_t device, ino_t inode) {
    const std::lock_guard<std::mutex> guard(g_lock);
    return g_files.count({device, inode}) > 0;
}
