// SPDX-License-Identifier: GPL-3.0-or-later
// A folder that fills up: recordings written there meet a full disk after a
// given number of bytes. Where the test may mount (it runs as root), the
// folder is a tmpfs of that size; otherwise the process's file-size limit
// stands in (writes past it fail with EFBIG rather than ENOSPC, and the
// signal that would end the process is ignored meanwhile).
#pragma once

#include <QString>
#include <QTemporaryDir>
#include <sys/resource.h>

class TSmallFilesystem {
  public:
    explicit TSmallFilesystem(long long bytes);
    ~TSmallFilesystem();
    TSmallFilesystem(const TSmallFilesystem&) = delete;
    TSmallFilesystem& operator=(const TSmallFilesystem&) = delete;

    QString Path() const { return dir_.path(); }
    // A real filesystem of that size (the disk is full), or the file-size
    // limit (the file is too large).
    bool Mounted() const { return mounted_; }

  private:
    QTemporaryDir dir_;
    bool mounted_ = false;
    bool limited_ = false;
    rlimit previousLimit_{};
    void (*previousHandler_)(int) = nullptr;
};
