// SPDX-License-Identifier: GPL-3.0-or-later
// The RIFF layout of an AVI recording as the start-up repair reads it: the
// header's fields the repair sets (each checked to lie inside the list that
// holds it), and the walk over the frames of each RIFF part, which keeps
// the frames of chunks whose size is damaged (up to where the next valid
// chunk starts), steps over chunks whose header is damaged otherwise, and
// tells what follows the last frame.
#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

#include "RecordingFile.h"

using FourCC = uint32_t;

constexpr FourCC Fcc(const char (&s)[5]) {
    return uint32_t(uint8_t(s[0])) | uint32_t(uint8_t(s[1])) << 8 | uint32_t(uint8_t(s[2])) << 16 |
           uint32_t(uint8_t(s[3])) << 24;
}

constexpr FourCC kRiff = Fcc("RIFF"), kAvi = Fcc("AVI "), kAvix = Fcc("AVIX"), kList = Fcc("LIST"),
                 kHdrl = Fcc("hdrl"), kMovi = Fcc("movi"), kStrl = Fcc("strl"), kStrh = Fcc("strh"),
                 kAvih = Fcc("avih"), kOdml = Fcc("odml"), kDmlh = Fcc("dmlh"), kIdx1 = Fcc("idx1"),
                 kIndx = Fcc("indx"), kJunk = Fcc("JUNK"), kVids = Fcc("vids"), kStrf = Fcc("strf");

// Offsets of the fields the repair sets, from a chunk's data, and the
// smallest chunks that hold them.
constexpr int64_t kAvihFlags = 12, kAvihTotalFrames = 16, kAvihSize = 40;
constexpr int64_t kStrhType = 0, kStrhLength = 32, kStrhSuggestedBuffer = 36, kStrhSampleSize = 44,
                  kStrhSize = 48;
// OpenDML indexes: the super index in the header and the standard index of
// each stream in each RIFF part.
constexpr uint32_t kSuperIndexHeader = 24, kSuperIndexEntry = 16;
constexpr uint32_t kStdIndexHeader = 24, kStdIndexEntry = 8;
constexpr uint32_t kDeltaFrameBit = 0x80000000u;

struct TStream {
    int64_t strh = -1;  // the stream header's data
    bool video = false;
    uint32_t sampleSize = 0;  // bytes per sample; 0: one sample per chunk
    int64_t slot = -1;        // the super index chunk, or the JUNK kept for it
    uint32_t slotSize = 0;
    FourCC chunkId = 0;  // the id of its frames
    // Its frames are compressed pictures: a reader shows the part of one
    // that the file's end cut short. Raw pictures and sound are cut.
    bool keepsCutFrames = false;
};

struct TChunk {
    FourCC id;
    int stream;
    int64_t pos;    // of the chunk's header
    uint32_t size;  // of the frame it holds
    // The size its header gives is not the frame's (damaged, or cut short
    // by the file's end): the repair writes the frame's.
    bool resized = false;
    // A frame of a listed stream whose id is damaged in its last two
    // characters (readers take it by its stream's number).
    bool looseId = false;
};

// One RIFF part: the first ("AVI ") or an extension ("AVIX").
struct TPart {
    int64_t riff = 0;
    int64_t movi = 0;  // its 'movi' list
    int64_t end = 0;   // after its last complete chunk
    std::vector<TChunk> chunks;
    std::vector<int64_t> indexChunks;  // standard indexes written into it
};

struct TLayout {
    int64_t avih = -1;
    int64_t dmlh = -1;
    std::vector<TStream> streams;
    std::vector<TPart> parts;
    // After the last part's last frame: where its index goes. One past the
    // file's end when the last frame lacks only its pad byte.
    int64_t end = 0;
};

bool IsDigit(uint8_t c);
// A stream's chunk id: two characters, then the stream's number in two
// digits ("ix00") or the number, then two characters ("00dc").
FourCC StreamId(int stream, const char* prefix);
FourCC StreamDataId(int stream, const char* suffix);

// A complete file: a chain of RIFF chunks whose sizes lead exactly to the
// file's end. The multiplexer sets them when it stops, and so does the
// repair, last of all.
bool IsComplete(TRecordingFile& f);

enum class TRead {
    Ok,      // an unfinished recording, with its frames
    NotAvi,  // no AVI file, or an empty one
    Broken,  // unfinished, but it cannot be repaired without losing data
};

// Reads the header and walks the frames of every part.
TRead ReadLayout(TRecordingFile& f, TLayout* layout);
