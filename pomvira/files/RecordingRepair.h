// Repair of recordings cut off by a crash or a power cut.
//
// The AVI multiplexer writes a recording's header with placeholders when it
// starts (sizes that cover the header only, no frame counts, no index) and
// completes it only when the recording stops. A recording cut off before
// that still holds its frames, but players see no frames in it or refuse it.
// The repair makes such a file play to the last complete frame written: it
// walks the frames ('movi' chunks) up to the first one cut short, writes the
// index after it (idx1; for files past the first gigabyte, OpenDML standard
// indexes and the super index in the header), sets the header's frame
// counts, stream lengths and list sizes, and cuts off what follows.
//
// The file is patched in place, in an order that survives a second crash:
// no frame is ever rewritten; the index goes after the last complete frame,
// the header fields follow, and the RIFF size, by which a complete file is
// told from an unfinished one, is written last, each step flushed to disk.
// A repair cut off in turn leaves a file that still shows as unfinished and
// is repaired again at the next start.
//
// The reading and writing is this unit's own (plain file I/O on the RIFF
// layout): no media library is involved.
#pragma once

#include <QString>
#include <QStringList>

enum class TRecordingState {
    Complete,      // a finished AVI file: left untouched
    Repaired,      // was unfinished, now plays to its last complete frame
    NotARecording, // not an AVI file, or an empty one: left untouched
    InUse,         // being written by a running program: left untouched
    Unrepairable,  // unfinished, but nothing could be saved: left as it is
};

// Examines one file and repairs it when it is an unfinished AVI recording.
TRecordingState RepairRecording(const QString& path);

// Whether a file name is one of the program's recordings: "video", six or
// more digits, ".avi".
bool IsRecordingName(const QString& fileName);

// Repairs every unfinished recording of the program in the folder; other
// files are never touched. Returns the paths of the unfinished recordings
// that could not be repaired.
QStringList RepairUnfinishedRecordings(const QString& folder);
