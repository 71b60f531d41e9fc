// SPDX-License-Identifier: GPL-3.0-or-later
// The sink that writes a recording's file: the multiplexer's stream, written
// with the system's own calls into a file the writer filter opened (and
// created: never one that was there, never through a link), seeking where
// the multiplexer asks (it goes back to complete the header at the end).
// Each chunk (its header, its data and its pad byte, which the multiplexer
// gives as buffers of their own) is written in one call once it is whole,
// so that a recording cut off ends on a whole chunk or one visibly cut.
//
// A write that fails is reported with the system's error number of that
// write as the error's code, in the domain below, so that the graph tells a
// full disk from a removed medium without reading any text. The sink also
// notices a file whose name went away (its folder removed or renamed): the
// open file would take every write and vanish at the end, so it fails as for
// a write error, with ENOENT.
//
// A sink can be made to wait before each write, as on a slow disk (for demos
// and tests of a slow medium): by the write delay installed when it is made.
#pragma once

#include <gst/gst.h>
#include <sys/stat.h>

#include <functional>
#include <string>

namespace media::gst {

// The error domain of the sink's failures; the code is an errno value.
GQuark RecordingFileErrorQuark();

// A new sink (floating reference), with no file yet.
GstElement* NewRecordingFileSink();

// Gives the milliseconds each sink made from now on waits before each write
// (asked once per sink; at most 10 seconds, 0 or less: no wait). None by
// default.
using RecordingWriteDelay = std::function<int()>;
void SetRecordingWriteDelay(RecordingWriteDelay delay);

// Hands the sink the file to write: `fd` open for writing (the sink owns it
// and closes it at the end of the stream or when it stops, or when it is
// given another), and its path,
// for the messages and for noticing the name going away, and what the file
// was when it was made (its device and inode: the name is checked against
// them; read where the file was made, so that the sink never waits on the
// disk as its graph is built). Only while the sink is stopped.
void SetRecordingFile(GstElement* sink, int fd, const std::string& path,
                      const struct stat& made);

}  // namespace media::gst
