// SPDX-License-Identifier: GPL-3.0-or-later
// The one translation between GStreamer caps and media type records: the
// table of the formats both sides know, the records built from caps (with
// the records' Windows byte layout, VIDEOINFOHEADER and WAVEFORMATEX), caps
// built from records, and the size of one frame of each format. The pins,
// the frame grabber, the format page and the device pages all use it.
#pragma once

#include <gst/video/video.h>

#include <vector>

#include "GstRef.h"
#include "media/MediaBoundary.h"
#include "media/MediaTypes.h"

namespace media::gst {

// One video format as both sides name it.
struct VideoFormatEntry {
    GUID subtype;
    GstVideoFormat format;  // GST_VIDEO_FORMAT_UNKNOWN: image/jpeg (MJPG)
    uint16_t bits;          // biBitCount
    uint32_t compression;   // BI_RGB or the FourCC
    bool rgb;               // DirectShow RGB: bottom-up rows padded to 4 bytes
    const char* name;       // shown on the format page
};

// The entry for a subtype (the first, where GStreamer has several formats
// for it) or for a GStreamer format; null when the layer does not know it.
const VideoFormatEntry* VideoFormatForSubtype(const GUID& subtype);
const VideoFormatEntry* VideoFormatForGst(GstVideoFormat format);

// The bytes of one frame as the layer hands frames out: DirectShow RGB rows
// for RGB formats, GStreamer's own layout (planes one after another) for the
// other raw formats, and for MJPG the size of the decoded 24-bit picture.
uint32_t ImageSize(const VideoFormatEntry& entry, int width, int height);

// The short name of a subtype for the format page ("YUY2", "RGB24", "PCM",
// ...): the table's, else a FourCC's characters, else "Unknown".
const char* FormatName(const GUID& subtype, char (&fourcc)[5]);

// The record for fixed caps; false when the caps are not a format the layer
// knows (or not fixed).
bool MediaTypeFromCaps(const GstCaps* caps, TMediaType* out);
// Caps naming the subtype's format only (video/x-raw with its format, or
// image/jpeg); null for a subtype the table does not know.
CapsRef CapsForSubtype(const GUID& subtype);
// Caps describing the record's format; null when the type is unknown.
CapsRef CapsFromMediaType(const AM_MEDIA_TYPE& mt);
// The formats described by caps as fixed caps, in order: lists are expanded,
// ranges are fixated to a near value. Duplicates are dropped.
std::vector<CapsRef> ExpandCaps(const GstCaps* caps);
// Whether two records describe the same format (type, subtype, frame size,
// frame rate within 0.1 %, sample format).
bool SameFormat(const AM_MEDIA_TYPE& a, const AM_MEDIA_TYPE& b);

}  // namespace media::gst
