// SPDX-License-Identifier: GPL-3.0-or-later
// Files made for a recording before its writer exists. A recording's file
// is created (a new file: never one that was there, never through a link)
// off the user-interface thread, on the capture session's file worker, and
// kept open; the writer, made on the user-interface thread, takes the open
// file over by its name instead of creating it there. What no writer took is
// given back (closed) once the recording is over.
#pragma once

#include <QString>
#include <sys/stat.h>

#include "media/MediaBoundary.h"

namespace media {

// The result a file's failure is reported with, from the system's error
// number (ENOSPC: the disk is full; ENOENT: the folder is gone; ...).
HRESULT WriterErrorResult(int error);

// Creates the file at `path` and keeps it open for a writer: S_OK, or the
// result of the system's error (HResultFromWin32(ERROR_FILE_EXISTS) when
// something has the name). It waits on the disk.
HRESULT ReserveNewFile(const QString& path);

// The open file reserved at `path`, with what it was when made; the caller
// owns the descriptor. -1 when none is. Never waits on the disk.
int TakeReservedFile(const QString& path, struct stat* made);

// Gives back a reservation no writer took, if any: the file is closed (it
// stays where it is).
void ReleaseReservedFile(const QString& path);

}  // namespace media
