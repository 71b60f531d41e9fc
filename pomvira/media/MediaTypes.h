// SPDX-License-Identifier: GPL-3.0-or-later
// Media type records: the record functions (clear, dispose, duplicate,
// describe), the TMediaType object that owns one record and streams it as
// the form's "data" property, and TEnumMediaType, the list of the formats a
// pin offers.
#pragma once

#include <QString>
#include <cstddef>
#include <cstdint>
#include <memory>
#include <optional>
#include <vector>

#include "MediaBoundary.h"

namespace media {

// Major types and format types named by descriptions (those not already in
// the boundary).
constexpr GUID MEDIATYPE_AnalogAudio =
    MakeGuid(0x0482DEE1, 0x7817, 0x11CF, 0x8A, 0x03, 0x00, 0xAA, 0x00, 0x6E, 0xCB, 0x65);
constexpr GUID MEDIATYPE_AnalogVideo =
    MakeGuid(0x0482DDE1, 0x7817, 0x11CF, 0x8A, 0x03, 0x00, 0xAA, 0x00, 0x6E, 0xCB, 0x65);
constexpr GUID MEDIATYPE_AUXLine21Data =
    MakeGuid(0x670AEA80, 0x3A82, 0x11D0, 0xB7, 0x9B, 0x00, 0xAA, 0x00, 0x37, 0x67, 0xA7);
constexpr GUID MEDIATYPE_File = FourCCGuid(FourCC('f', 'i', 'l', 'e'));
constexpr GUID MEDIATYPE_Interleaved = FourCCGuid(FourCC('i', 'a', 'v', 's'));
constexpr GUID MEDIATYPE_LMRT = FourCCGuid(FourCC('m', 'l', 'r', 't'));
constexpr GUID MEDIATYPE_Midi = FourCCGuid(FourCC('m', 'i', 'd', 's'));
constexpr GUID MEDIATYPE_MPEG2_PES =
    MakeGuid(0xE06D8020, 0xDB46, 0x11CF, 0xB4, 0xD1, 0x00, 0x80, 0x5F, 0x6C, 0xBB, 0xEA);
constexpr GUID MEDIATYPE_ScriptCommand = FourCCGuid(FourCC('d', 'm', 'c', 's'));
constexpr GUID MEDIATYPE_Text = FourCCGuid(FourCC('t', 'x', 't', 's'));
constexpr GUID MEDIATYPE_Timecode =
    MakeGuid(0x0482DEE3, 0x7817, 0x11CF, 0x8A, 0x03, 0x00, 0xAA, 0x00, 0x6E, 0xCB, 0x65);
constexpr GUID MEDIATYPE_URL_STREAM = FourCCGuid(FourCC('u', 'r', 'l', 's'));

constexpr GUID FORMAT_MPEGVideo =
    MakeGuid(0x05589F82, 0xC356, 0x11CE, 0xBF, 0x01, 0x00, 0xAA, 0x00, 0x55, 0x59, 0x5A);
constexpr GUID FORMAT_MPEGStreams =
    MakeGuid(0x05589F83, 0xC356, 0x11CE, 0xBF, 0x01, 0x00, 0xAA, 0x00, 0x55, 0x59, 0x5A);
constexpr GUID FORMAT_DvInfo =
    MakeGuid(0x05589F84, 0xC356, 0x11CE, 0xBF, 0x01, 0x00, 0xAA, 0x00, 0x55, 0x59, 0x5A);
constexpr GUID FORMAT_MPEG2Video =
    MakeGuid(0xE06D80E3, 0xDB46, 0x11CF, 0xB4, 0xD1, 0x00, 0x80, 0x5F, 0x6C, 0xBB, 0xEA);
constexpr GUID FORMAT_DolbyAC3 =
    MakeGuid(0xE06D80E4, 0xDB46, 0x11CF, 0xB4, 0xD1, 0x00, 0x80, 0x5F, 0x6C, 0xBB, 0xEA);
constexpr GUID FORMAT_MPEG2Audio =
    MakeGuid(0xE06D80E5, 0xDB46, 0x11CF, 0xB4, 0xD1, 0x00, 0x80, 0x5F, 0x6C, 0xBB, 0xEA);
constexpr GUID FORMAT_DVD_LPCMAudio =
    MakeGuid(0xE06D80E6, 0xDB46, 0x11CF, 0xB4, 0xD1, 0x00, 0x80, 0x5F, 0x6C, 0xBB, 0xEA);

// Size of the streamed record image (the platform's 32-bit record layout).
constexpr size_t kMediaTypeImageSize = 72;

// ---------------------------------------------------------------------------
// Record functions
// ---------------------------------------------------------------------------

// Frees the format block (task allocator) when cbFormat is not 0, sets
// cbFormat 0 and pbFormat null, and releases and clears a present pUnk.
void ClearMediaType(AM_MEDIA_TYPE* mt);
// Nothing for null; otherwise ClearMediaType, then the record itself is
// freed with the task allocator (records that the platform hands out).
void DisposeMediaType(AM_MEDIA_TYPE* mt);
// Copies every field of source into target (whose old contents are not
// freed); the format block is copied into a new task-allocated block (none
// when allocation fails); a present pUnk gets one more reference.
void DuplicateMediaType(AM_MEDIA_TYPE* target, const AM_MEDIA_TYPE* source);
// A new task-allocated record, a deep copy of source (for handing out).
AM_MEDIA_TYPE* CreateMediaType(const AM_MEDIA_TYPE* source);

// "Major Type: <major> - Sub Type: <sub> Format: <format part>".
QString DescribeMediaType(const AM_MEDIA_TYPE* mt);
// 0 "RGB", 1 "RLE8", 2 "RLE4", 3 "BITFIELDS"; otherwise the four bytes as
// characters, lowest first, ending at a zero byte.
QString CompressionText(uint32_t code);
// The name of a wave format tag ("PCM", ...; "Unknown" for others).
QString WaveFormatTagName(uint16_t tag);
// The names used in descriptions ("Video", "UnKnown ", "YUY2", "RGB24", ...).
QString MajorTypeName(const GUID& majortype);
QString SubTypeName(const GUID& subtype);

// The streamed "data" image of a record: the 72-byte record image written
// field by field (little-endian; pUnk and pbFormat written as 0), then
// cbFormat bytes of the format block.
void WriteMediaTypeData(const AM_MEDIA_TYPE& mt, std::vector<uint8_t>& out);
// Reads one image at data[pos..size), advancing pos. The record's old
// contents are cleared first; pUnk is none and pbFormat a new task-allocated
// block (none when cbFormat is 0). False, with the record and pos unchanged,
// when the bytes are too few for the image and its format block.
bool ReadMediaTypeData(AM_MEDIA_TYPE& mt, const uint8_t* data, size_t size, size_t& pos);

// ---------------------------------------------------------------------------
// TMediaType
// ---------------------------------------------------------------------------

// Owns one media type record: the one owned record of the layer and of its
// boundary. A new record is all zero except bFixedSizeSamples (all bits set)
// and lSampleSize = 1. Its format block and pUnk are freed by
// ClearMediaType, the one freeing rule for every record.
class TMediaType {
  public:
    explicit TMediaType(const GUID& majortype = GUID{});
    // A deep copy of the record (DuplicateMediaType); null gives a new record.
    explicit TMediaType(const AM_MEDIA_TYPE* source);
    TMediaType(const TMediaType& other);
    // Takes the other's format block and pUnk; the other is left a new record.
    TMediaType(TMediaType&& other) noexcept;
    TMediaType& operator=(const TMediaType& other);
    TMediaType& operator=(TMediaType&& other) noexcept;
    ~TMediaType();

    // The owned record.
    AM_MEDIA_TYPE* AMMediaType() { return &mt_; }
    const AM_MEDIA_TYPE* AMMediaType() const { return &mt_; }

    GUID MajorType() const { return mt_.majortype; }
    void SetMajorType(const GUID& g) { mt_.majortype = g; }
    GUID SubType() const { return mt_.subtype; }
    void SetSubType(const GUID& g) { mt_.subtype = g; }
    GUID FormatType() const { return mt_.formattype; }
    void SetFormatType(const GUID& g) { mt_.formattype = g; }
    uint32_t FormatSize() const { return mt_.cbFormat; }
    uint8_t* Format() const { return mt_.pbFormat; }
    // Replaces the format block with a new zero-filled one of size bytes
    // (none for 0); returns it.
    uint8_t* AllocFormatBuffer(uint32_t size);
    // Frees the format block (when cbFormat is not 0); pUnk is untouched.
    void ResetFormatBuffer();
    // Sets the format type and replaces the block with a copy of size bytes
    // at data (none for 0).
    void SetFormat(const GUID& formattype, const void* data, uint32_t size);
    // The format block read as a VIDEOINFOHEADER (FORMAT_VideoInfo) or a
    // WAVEFORMATEX (FORMAT_WaveFormatEx, cbSize may be missing); null for any
    // other type or a block too small.
    const VIDEOINFOHEADER* VideoInfo() const;
    const WAVEFORMATEX* WaveFormat() const;

    // ClearMediaType on the own record, then a deep copy of the other;
    // copying from itself does nothing.
    void Assign(const TMediaType& other);
    void Assign(const AM_MEDIA_TYPE* other);
    // Major, sub and format type equal, cbFormat equal and, when not 0, the
    // format bytes equal.
    bool Equals(const TMediaType& other) const;
    bool operator==(const TMediaType& other) const { return Equals(other); }

    // The streamed "data" property (see WriteMediaTypeData).
    std::vector<uint8_t> WriteData() const;
    bool ReadData(const std::vector<uint8_t>& data);
    bool ReadData(const uint8_t* data, size_t size, size_t& pos);

    QString Description() const { return DescribeMediaType(&mt_); }

  private:
    void InitRecord();
    AM_MEDIA_TYPE mt_;
};

// The format in force on a pin (IAMStreamConfig::GetFormat); none when the
// pin has no such interface or gives no format.
std::optional<TMediaType> PinFormat(IPin* pin);

// ---------------------------------------------------------------------------
// TEnumMediaType
// ---------------------------------------------------------------------------

// The formats a pin offers, as owned TMediaType objects.
class TEnumMediaType {
  public:
    TEnumMediaType() = default;
    explicit TEnumMediaType(IPin* pin) { ReadFromPin(pin); }
    TEnumMediaType(const TEnumMediaType&) = delete;
    TEnumMediaType& operator=(const TEnumMediaType&) = delete;

    // Clears the list, then appends a copy of every type IPin.EnumMediaTypes
    // hands out (each handed-out record is disposed).
    void ReadFromPin(IPin* pin);
    int Count() const { return int(items_.size()); }
    // An index outside the list raises EListError.
    TMediaType& Item(int index);
    const TMediaType& Item(int index) const;
    // DescribeMediaType of the item; empty outside 0 .. Count() - 1.
    QString ItemText(int index) const;
    void Add(const AM_MEDIA_TYPE* mt);
    void Clear() { items_.clear(); }

  private:
    std::vector<std::unique_ptr<TMediaType>> items_;
};

}  // namespace media
