// Media type records built from GStreamer caps and caps built from media type
// records, with the records' Windows byte layout (VIDEOINFOHEADER,
// WAVEFORMATEX).
#pragma once

#include <vector>

#include "GstRef.h"
#include "media/MediaBoundary.h"

namespace media::gst {

// Frees the format block and the pUnk reference of a record, leaving it empty.
void FreeMediaTypeContents(AM_MEDIA_TYPE& mt);
// Deep copy of src into dst (dst's old contents are not freed).
void CopyMediaTypeContents(const AM_MEDIA_TYPE& src, AM_MEDIA_TYPE& dst);

// An owned media type record (format block included).
class MediaType {
  public:
    MediaType();
    explicit MediaType(const AM_MEDIA_TYPE& mt);
    MediaType(const MediaType& o);
    MediaType(MediaType&& o) noexcept;
    MediaType& operator=(MediaType o) noexcept;
    ~MediaType();

    AM_MEDIA_TYPE& Raw() { return mt_; }
    const AM_MEDIA_TYPE& Raw() const { return mt_; }
    // A new record allocated with CoTaskMemAlloc, as pins hand them out.
    AM_MEDIA_TYPE* NewRecord() const;
    // Fills out with a deep copy (its old contents are not freed).
    void CopyTo(AM_MEDIA_TYPE* out) const { CopyMediaTypeContents(mt_, *out); }
    // Replaces the format block with a copy of size bytes at data.
    void SetFormat(const GUID& formatType, const void* data, uint32_t size);
    const VIDEOINFOHEADER* Video() const;  // null unless FORMAT_VideoInfo
    const WAVEFORMATEX* Audio() const;     // null unless FORMAT_WaveFormatEx

  private:
    AM_MEDIA_TYPE mt_;
};

// The record for fixed caps; false when the caps are not a format the layer
// knows (or not fixed).
bool MediaTypeFromCaps(const GstCaps* caps, MediaType* out);
// Caps describing the record's format; null when the type is unknown.
CapsRef CapsFromMediaType(const AM_MEDIA_TYPE& mt);
// The formats described by caps as fixed caps, in order: lists are expanded,
// ranges are fixated to a near value. Duplicates are dropped.
std::vector<CapsRef> ExpandCaps(const GstCaps* caps);
// Whether two records describe the same format (type, subtype, frame size,
// frame rate within 0.1 %, sample format).
bool SameFormat(const AM_MEDIA_TYPE& a, const AM_MEDIA_TYPE& b);

}  // namespace media::gst
