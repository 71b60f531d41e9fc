// SPDX-License-Identifier: GPL-3.0-or-later
// Repair of recordings cut off by a crash or a power cut.
//
// The AVI multiplexer writes a recording's header with placeholders when it
// starts (sizes that cover the header only, no frame counts, no index) and
// completes it only when the recording stops. A recording cut off before
// that still holds its frames, but players see no frames in it or refuse it.
// The repair makes such a file play to the last complete frame written: it
// walks the frames ('movi' chunks), writes the index after the last complete
// one (idx1; for files past the first gigabyte, OpenDML standard indexes and
// the super index in the header), sets the header's frame counts, stream
// lengths and list sizes, and cuts off the incomplete chunk that follows.
//
// It never destroys a byte it cannot account for, and never rewrites a
// frame's bytes. A chunk whose size is damaged (a flipped bit, a size that
// runs past the file's end) keeps its frame, indexed up to where the next
// valid chunk starts, and its size is made to say so; a chunk whose header
// is damaged otherwise is stepped over to the next valid chunk, its bytes
// left where they are, and everything readable after it is kept. A
// compressed picture cut short at the file's end is kept with the bytes it
// has (readers show the part present), its size made to say what is there;
// a raw picture or sound cut short is cut; a frame that lacks only its pad
// byte is complete. Only such an incomplete last chunk, an index left after
// the frames (a cut-off one, or an interrupted repair's, replaced by the new
// one), or a zero-filled end is cut off; anything else after the last frame
// (another recording joined to this one, unknown data) leaves the file
// exactly as it was, and so does a recording without one video frame or one
// whose sizes or offsets would not fit in 32 bits. Every size read from the
// file is checked against the list and the file that hold it before
// anything is written. The index counts its offsets from the file's start,
// as the multiplexer writes it, and its first entry is the chunk that
// begins the 'movi' list whenever that chunk holds a frame: readers that
// tell the index's form from its first entry cannot read it the other way.
//
// The file is patched in place, in an order that survives a second crash:
// no frame is ever rewritten; the sizes of damaged chunks go first, then
// the index after the last frame (what followed it cut off first), then the
// header fields, and the RIFF size, by which a complete file is told from
// an unfinished one, is written last, each step flushed to disk. A repair
// cut off in turn leaves a file that still shows as unfinished and is
// repaired again at the next start. A write that fails (a full disk) puts
// back every byte changed and the file's size: the file is as it was; when
// even that fails, the file is reported as damaged.
//
// Only regular files are opened, never through a symbolic link and never
// waiting (a FIFO, a device, a socket, a link, a folder are passed over
// without being opened). Only recordings that nobody writes are repaired,
// whoever writes them: a file this program is writing (its recording), a
// file another process holds open or locks, or one whose size or
// modification time changes while it settles (looked at before and after
// it is locked), is left untouched and not named, and looked at again at
// the next start; so is a file of another user. The size is checked again
// before the file is cut. The file is read in large blocks and its holes
// are passed by asking the file system where its data is: a recording of a
// million small chunks is walked in a fraction of a second.
//
// The reading and writing is this unit's own (plain file I/O on the RIFF
// layout): no media library is involved.
#pragma once

#include <QString>
#include <QStringList>
#include <functional>

#include "RecordingFile.h"

enum class TRecordingState {
    Complete,       // a finished AVI file: left untouched
    Repaired,       // was unfinished, now plays to its last complete frame
    NotARecording,  // not an AVI file, an empty one, or no regular file: left untouched
    InUse,          // being written by this or another program: left untouched
    OthersFile,     // owned by another user: left untouched
    Unrepairable,   // unfinished, but it cannot be repaired safely: left as it is
    Damaged,        // the repair failed and could not put the file back as it was
};

// Examines one file and repairs it when it is an unfinished AVI recording,
// its changes going through `disk` (RecordingFile.h). Never raises: a
// failure of its own (out of memory) leaves the file as it was and counts as
// unrepairable.
TRecordingState RepairRecording(const QString& path, const TRecordingDisk& disk = {});

// Whether a file name is one of the program's recordings: "video", six or
// more digits, ".avi".
bool IsRecordingName(const QString& fileName);

// What the repair of a folder could not do: the unfinished recordings (full
// paths, in the order of their names) that could not be repaired and are as
// they were, and those the repair failed on and could not put back.
struct TFolderRepair {
    QStringList unrepairable;
    QStringList damaged;
};

// Told `done` of `total` recordings looked at, before the first and after
// each; returning false ends the repair there.
using TRepairProgress = std::function<bool(int done, int total)>;
// Repairs one file, in place of the folder's own repair (tests).
using TRepairOne = std::function<TRecordingState(const QString& path)>;

// Repairs every unfinished recording of the program in the folder itself
// (not in its subfolders), one file at a time in the order of their names;
// other files are never touched. The folder is listed once, and the files
// other processes hold open are looked up once for the whole folder. A
// failure of its own on one file (out of memory) counts that file as
// unrepairable, and the next one is repaired. The changes go through `disk`.
TFolderRepair RepairUnfinishedRecordings(const QString& folder,
                                         const TRepairProgress& progress = {},
                                         const TRepairOne& repair = {},
                                         const TRecordingDisk& disk = {});

// The message that names recordings that could not be repaired: the count
// and the first few paths, short enough for any screen however many there
// are.
QString UnrepairableRecordingsText(const QStringList& paths);
// The same for recordings the repair failed on and could not put back as
// they were.
QString DamagedRecordingsText(const QStringList& paths);
