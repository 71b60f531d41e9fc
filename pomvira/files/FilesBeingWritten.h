// SPDX-License-Identifier: GPL-3.0-or-later
// The files this program is writing itself (a recording while it runs), by
// their identity on disk. The repair of cut-off recordings runs in the same
// process and passes them over: the look at other processes' open files
// cannot tell this program's own writing from the repair's own reading, and
// a recording may take the name of a file that was moved away after the
// repair listed the folder.
#pragma once

#include <QString>
#include <sys/types.h>

class TFileBeingWritten {
  public:
    // Marks the file at `path` (a link there is not followed) as being
    // written; marks nothing when there is no such file.
    explicit TFileBeingWritten(const QString& path);
    // The mark goes with the object.
    ~TFileBeingWritten();
    TFileBeingWritten(const TFileBeingWritten&) = delete;
    TFileBeingWritten& operator=(const TFileBeingWritten&) = delete;

    bool Marked() const { return FMarked; }

  private:
    dev_t FDevice = 0;
    ino_t FInode = 0;
    bool FMarked = false;
};

// Whether this program is writing the file (any thread may ask).
bool IsFileBeingWritten(dev_t device, ino_t inode);
