// SPDX-License-Identifier: GPL-3.0-or-later
#include "MediaTypes.h"

#include <cmath>
#include <cstring>

#include "MediaUtil.h"

namespace media {

namespace {

// GUID families of the platform's media identifiers.
constexpr GUID E436(uint32_t d1) {
    return MakeGuid(d1, 0x524F, 0x11CE, 0x9F, 0x53, 0x00, 0x20, 0xAF, 0x0B, 0xA7, 0x70);
}
constexpr GUID E06D(uint32_t d1) {
    return MakeGuid(d1, 0xDB46, 0x11CF, 0xB4, 0xD1, 0x00, 0x80, 0x5F, 0x6C, 0xBB, 0xEA);
}
constexpr GUID Analog(uint32_t d1) {
    return MakeGuid(d1, 0x7817, 0x11CF, 0x8A, 0x03, 0x00, 0xAA, 0x00, 0x6E, 0xCB, 0x65);
}
constexpr GUID Line21(uint32_t d1) {
    return MakeGuid(d1, 0x310C, 0x11D0, 0xB7, 0x9A, 0x00, 0xAA, 0x00, 0x37, 0x67, 0xA7);
}
constexpr GUID Dss(uint32_t d1) {
    return MakeGuid(d1, 0xE163, 0x11D0, 0xBA, 0xD9, 0x00, 0x60, 0x97, 0x44, 0x11, 0x1A);
}
constexpr GUID VideoPort(uint32_t d1) {
    return MakeGuid(d1, 0x1A22, 0x11D1, 0xBA, 0xD9, 0x00, 0x60, 0x97, 0x44, 0x11, 0x1A);
}
constexpr GUID CC(const char (&code)[5]) {
    return FourCCGuid(FourCC(code[0], code[1], code[2], code[3]));
}

struct GuidName {
    GUID guid;
    const char* name;
};

const GuidName kMajorNames[] = {
    {MEDIATYPE_AnalogAudio, "AnalogAudio"},
    {MEDIATYPE_AnalogVideo, "Analogvideo"},
    {MEDIATYPE_Audio, "Audio"},
    {MEDIATYPE_AUXLine21Data, "AUXLine21Data"},
    {MEDIATYPE_File, "File"},
    {MEDIATYPE_Interleaved, "Interleaved"},
    {MEDIATYPE_LMRT, "LMRT"},
    {MEDIATYPE_Midi, "Midi"},
    {MEDIATYPE_MPEG2_PES, "MPEG2_PES"},
    {MEDIATYPE_ScriptCommand, "ScriptCommand"},
    {MEDIATYPE_Stream, "Stream"},
    {MEDIATYPE_Text, "Text"},
    {MEDIATYPE_Timecode, "Timecode"},
    {MEDIATYPE_URL_STREAM, "URL_STREAM"},
    {MEDIATYPE_Video, "Video"},
};

const GuidName kSubNames[] = {
    // Four-character codes shown as themselves.
    {CC("CLPL"), "CLPL"},
    {CC("YUYV"), "YUYV"},
    {CC("IYUV"), "IYUV"},
    {CC("YVU9"), "YVU9"},
    {CC("Y411"), "Y411"},
    {CC("Y41P"), "Y41P"},
    {CC("YUY2"), "YUY2"},
    {CC("YVYU"), "YVYU"},
    {CC("UYVY"), "UYVY"},
    {CC("Y211"), "Y211"},
    {CC("YV12"), "YV12"},
    {CC("CLJR"), "CLJR"},
    {CC("IF09"), "IF09"},
    {CC("CPLA"), "CPLA"},
    {CC("MJPG"), "MJPG"},
    {CC("TVMJ"), "TVMJ"},
    {CC("WAKE"), "WAKE"},
    {CC("CFCC"), "CFCC"},
    {CC("IJPG"), "IJPG"},
    {CC("Plum"), "Plum"},
    {CC("DVCS"), "DVCS"},
    {CC("DVSD"), "DVSD"},
    {CC("MDVF"), "MDVF"},
    {CC("dvhd"), "dvhd"},
    {CC("dvsl"), "dvsl"},
    {CC("DIVX"), "DIVX"},
    // Four-character codes with another text.
    {CC("rpza"), "QTRpza"},
    {CC("smc "), "QTSmc"},
    {CC("rle "), "QTRle"},
    {CC("jpeg"), "QTJpeg"},
    {CC("dvsd"), "dvsd_"},
    {CC("MP42"), "MS-MPEG4"},
    // Wave format tags.
    {FourCCGuid(0x50), "MPEG1AudioPayload"},
    {FourCCGuid(0x01), "PCM"},
    {FourCCGuid(0x09), "DRM_Audio"},
    {FourCCGuid(0x03), "IEEE_FLOAT"},
    {FourCCGuid(0x92), "DOLBY_AC3_SPDIF"},
    {FourCCGuid(0x240), "RAW_SPORT"},
    {FourCCGuid(0x241), "SPDIF_TAG_241h"},
    {FourCCGuid(0x75), "VOXWARE_MetaSound"},
    // The platform's own subtypes.
    {E436(0xE436EB78), "RGB1"},
    {E436(0xE436EB79), "RGB4"},
    {E436(0xE436EB7A), "RGB8"},
    {E436(0xE436EB7B), "RGB565"},
    {E436(0xE436EB7C), "RGB555"},
    {E436(0xE436EB7D), "RGB24"},
    {E436(0xE436EB7E), "RGB32"},
    {MakeGuid(0x773C9AC0, 0x3274, 0x11D0, 0xB7, 0x24, 0x00, 0xAA, 0x00, 0x6C, 0x1A, 0x01),
     "ARGB32"},
    {E436(0xE436EB7F), "Overlay"},
    {E436(0xE436EB80), "MPEG1Packet"},
    {E436(0xE436EB81), "MPEG1Payload"},
    {E436(0xE436EB84), "MPEG1System"},
    {E436(0xE436EB85), "MPEG1VideoCD"},
    {E436(0xE436EB86), "MPEG1Video"},
    {E436(0xE436EB87), "MPEG1Audio"},
    {E436(0xE436EB88), "Avi"},
    {MakeGuid(0x3DB80F90, 0x9412, 0x11D1, 0xAD, 0xED, 0x00, 0x00, 0xF8, 0x75, 0x4B, 0x99), "Asf"},
    {E436(0xE436EB89), "QTMovie"},
    {E436(0xE436EB8A), "PCMAudio_Obsolete"},
    {E436(0xE436EB8B), "WAVE"},
    {E436(0xE436EB8C), "AU"},
    {E436(0xE436EB8D), "AIFF"},
    {Line21(0x6E8D4A22), "Line21_BytePair"},
    {Line21(0x6E8D4A23), "Line21_GOPPacket"},
    {Line21(0x6E8D4A24), "Line21_VBIRawData"},
    {Dss(0xA0AF4F81), "DssVideo"},
    {Dss(0xA0AF4F82), "DssAudio"},
    {VideoPort(0x5A9B6A40), "VPVideo"},
    {VideoPort(0x5A9B6A41), "VPVBI"},
    {Analog(0x0482DDE2), "AnalogVideo_NTSC_M"},
    {Analog(0x0482DDE5), "AnalogVideo_PAL_B"},
    {Analog(0x0482DDE6), "AnalogVideo_PAL_D"},
    {Analog(0x0482DDE7), "AnalogVideo_PAL_G"},
    {Analog(0x0482DDE8), "AnalogVideo_PAL_H"},
    {Analog(0x0482DDE9), "AnalogVideo_PAL_I"},
    {Analog(0x0482DDEA), "AnalogVideo_PAL_M"},
    {Analog(0x0482DDEB), "AnalogVideo_PAL_N"},
    {Analog(0x0482DDEC), "AnalogVideo_PAL_N_COMBO"},
    {Analog(0x0482DDF0), "AnalogVideo_SECAM_B"},
    {Analog(0x0482DDF1), "AnalogVideo_SECAM_D"},
    {Analog(0x0482DDF2), "AnalogVideo_SECAM_G"},
    {Analog(0x0482DDF3), "AnalogVideo_SECAM_H"},
    {Analog(0x0482DDF4), "AnalogVideo_SECAM_K"},
    {Analog(0x0482DDF5), "AnalogVideo_SECAM_K1"},
    {Analog(0x0482DDF6), "AnalogVideo_SECAM_L"},
    {E06D(0xE06D8026), "MPEG2_VIDEO"},
    {E06D(0xE06D8022), "MPEG2_PROGRAM"},
    {E06D(0xE06D8023), "MPEG2_TRANSPORT"},
    {E06D(0xE06D802B), "MPEG2_AUDIO"},
    {E06D(0xE06D802C), "DOLBY_AC3"},
    {E06D(0xE06D802D), "DVD_SUBPICTURE"},
    {E06D(0xE06D8032), "DVD_LPCM_AUDIO"},
    {E06D(0xE06D8033), "DTS"},
    {E06D(0xE06D8034), "SDDS"},
    // DVD navigation.
    {E06D(0xE06D802F), "PCI"},
    {E06D(0xE06D8030), "DSI"},
    {E06D(0xE06D8031), "PROVIDER"},
};
static_assert(sizeof(kSubNames) / sizeof(kSubNames[0]) == 97, "97 sub type names");

struct TagName {
    uint16_t tag;
    const char* name;
};

const TagName kTagNames[] = {
    {1, "PCM"},
    {2, "ADPCM"},
    {3, "IEEE_FLOAT"},
    {5, "IBM_CVSD"},
    {6, "ALAW"},
    {7, "MULAW"},
    {16, "OKI_ADPCM"},
    {17, "DVI_ADPCM"},
    {18, "MEDIASPACE_ADPCM"},
    {19, "SIERRA_ADPCM"},
    {20, "G723_ADPCM"},
    {21, "DIGISTD"},
    {22, "DIGIFIX"},
    {23, "DIALOGIC_OKI_ADPCM"},
    {24, "MEDIAVISION_ADPCM"},
    {32, "YAMAHA_ADPCM"},
    {33, "SONARC"},
    {34, "DSPGROUP_TRUESPEECH"},
    {35, "ECHOSC1"},
    {36, "AUDIOFILE_AF36"},
    {37, "APTX"},
    {38, "AUDIOFILE_AF10"},
    {48, "DOLBY_AC2"},
    {49, "GSM610"},
    {50, "MSNAUDIO"},
    {51, "ANTEX_ADPCME"},
    {52, "CONTROL_RES_VQLPC"},
    {53, "DIGIREAL"},
    {54, "DIGIADPCM"},
    {55, "CONTROL_RES_CR10"},
    {56, "NMS_VBXADPCM"},
    {57, "CS_IMAADPCM"},
    {58, "ECHOSC3"},
    {59, "ROCKWELL_ADPCM"},
    {60, "ROCKWELL_DIGITALK"},
    {61, "XEBEC"},
    {64, "G721_ADPCM"},
    {65, "G728_CELP"},
    {80, "MPEG"},
    {85, "MPEGLAYER3"},
    {96, "CIRRUS"},
    {97, "ESPCM"},
    {98, "VOXWARE"},
    {99, "CANOPUS_ATRAC"},
    {100, "G726_ADPCM"},
    {101, "G722_ADPCM"},
    {102, "DSAT"},
    {103, "DSAT_DISPLAY"},
    {117, "VOXWARE"},
    {128, "SOFTSOUND"},
    {256, "RHETOREX_ADPCM"},
    {512, "CREATIVE_ADPCM"},
    {514, "CREATIVE_FASTSPEECH8"},
    {515, "CREATIVE_FASTSPEECH10"},
    {544, "QUARTERDECK"},
    {768, "FM_TOWNS_SND"},
    {1024, "BTV_DIGITAL"},
    {4096, "OLIGSM"},
    {4097, "OLIADPCM"},
    {4098, "OLICELP"},
    {4099, "OLISBC"},
    {4100, "OLIOPR"},
    {4352, "LH_CODEC"},
    {5120, "NORRIS"},
};

template <class T>
T ReadAt(const uint8_t* p, size_t offset) {
    T v;
    std::memcpy(&v, p + offset, sizeof v);
    return v;
}

void PutGuid(std::vector<uint8_t>& out, const GUID& g) {
    auto put = [&out](uint64_t v, int bytes) {
        for (int i = 0; i < bytes; ++i)
            out.push_back(uint8_t(v >> (8 * i)));
    };
    put(g.Data1, 4);
    put(g.Data2, 2);
    put(g.Data3, 2);
    for (uint8_t b : g.Data4)
        out.push_back(b);
}

void PutU32(std::vector<uint8_t>& out, uint32_t v) {
    for (int i = 0; i < 4; ++i)
        out.push_back(uint8_t(v >> (8 * i)));
}

uint32_t GetU32(const uint8_t* p) {
    return uint32_t(p[0]) | uint32_t(p[1]) << 8 | uint32_t(p[2]) << 16 | uint32_t(p[3]) << 24;
}

GUID GetGuid(const uint8_t* p) {
    GUID g;
    g.Data1 = GetU32(p);
    g.Data2 = uint16_t(p[4] | p[5] << 8);
    g.Data3 = uint16_t(p[6] | p[7] << 8);
    std::memcpy(g.Data4, p + 8, 8);
    return g;
}

// "%s %dX%d, %d bits" of the bitmap header at offset within the block, or
// nothing when the block is too small to hold it.
QString VideoDetail(const AM_MEDIA_TYPE* mt, size_t offset) {
    if (size_t(mt->cbFormat) < offset + sizeof(BITMAPINFOHEADER))
        return QString();
    const uint8_t* h = mt->pbFormat + offset;
    return QStringLiteral("%1 %2X%3, %4 bits")
        .arg(CompressionText(ReadAt<uint32_t>(h, 16)))
        .arg(ReadAt<int32_t>(h, 4))
        .arg(ReadAt<int32_t>(h, 8))
        .arg(ReadAt<uint16_t>(h, 14));
}

QString FormatPart(const AM_MEDIA_TYPE* mt) {
    const bool block = mt->cbFormat > 0 && mt->pbFormat != nullptr;
    const GUID& f = mt->formattype;
    if (f == FORMAT_VideoInfo) {
        return QStringLiteral("VideoInfo ") + (block ? VideoDetail(mt, 48) : QString());
    }
    if (f == FORMAT_VideoInfo2) {
        return QStringLiteral("VideoInfo2 ") + (block ? VideoDetail(mt, 72) : QString());
    }
    if (f == FORMAT_WaveFormatEx) {
        QString text = QStringLiteral("WaveFormatEx: ");
        if (block && mt->cbFormat >= 16) {
            const uint8_t* w = mt->pbFormat;
            text += WaveFormatTagName(ReadAt<uint16_t>(w, 0)) +
                    QStringLiteral(", %1 Hertz, %2 Bits, %3 Channels")
                        .arg(ReadAt<uint32_t>(w, 4))
                        .arg(ReadAt<uint16_t>(w, 14))
                        .arg(ReadAt<uint16_t>(w, 2));
        }
        return text;
    }
    if (f == FORMAT_MPEGVideo) {
        return QStringLiteral("MPEGVideo ") + (block ? VideoDetail(mt, 48) : QString());
    }
    if (f == FORMAT_MPEG2Video) {
        return QStringLiteral("MPEGStreams ") + (block ? VideoDetail(mt, 72) : QString());
    }
    if (f == FORMAT_DvInfo)
        return QStringLiteral("DvInfo");
    if (f == FORMAT_MPEGStreams)
        return QStringLiteral("MPEGStreams");
    if (f == FORMAT_DolbyAC3)
        return QStringLiteral("DolbyAC3");
    if (f == FORMAT_MPEG2Audio)
        return QStringLiteral("MPEG2Audio");
    if (f == FORMAT_DVD_LPCMAudio)
        return QStringLiteral("DVD_LPCMAudio");
    return QStringLiteral("Unknown");
}

}  // namespace

// ---------------------------------------------------------------------------
// Record functions
// ---------------------------------------------------------------------------

void ClearMediaType(AM_MEDIA_TYPE* mt) {
    if (!mt)
        return;
    if (mt->cbFormat != 0)
        CoTaskMemFree(mt->pbFormat);
    mt->cbFormat = 0;
    mt->pbFormat = nullptr;
    if (mt->pUnk) {
        IUnknown* unk = mt->pUnk;
        mt->pUnk = nullptr;
        unk->Release();
    }
}

void DisposeMediaType(AM_MEDIA_TYPE* mt) {
    if (!mt)
        return;
    ClearMediaType(mt);
    CoTaskMemFree(mt);
}

void DuplicateMediaType(AM_MEDIA_TYPE* target, const AM_MEDIA_TYPE* source) {
    if (!target || !source || target == source)
        return;
    *target = *source;
    if (source->cbFormat != 0) {
        void* block = source->pbFormat ? CoTaskMemAlloc(source->cbFormat) : nullptr;
        if (block) {
            std::memcpy(block, source->pbFormat, source->cbFormat);
            target->pbFormat = static_cast<uint8_t*>(block);
        } else {
            target->cbFormat = 0;
            target->pbFormat = nullptr;
        }
    } else {
        target->pbFormat = nullptr;
    }
    if (target->pUnk)
        target->pUnk->AddRef();
}

AM_MEDIA_TYPE* CreateMediaType(const AM_MEDIA_TYPE* source) {
    auto* mt = static_cast<AM_MEDIA_TYPE*>(CoTaskMemAlloc(sizeof(AM_MEDIA_TYPE)));
    if (!mt)
        return nullptr;
    std::memset(static_cast<void*>(mt), 0, sizeof *mt);
    if (source)
        DuplicateMediaType(mt, source);
    return mt;
}

QString MajorTypeName(const GUID& majortype) {
    for (const GuidName& entry : kMajorNames) {
        if (entry.guid == majortype)
            return QString::fromLatin1(entry.name);
    }
    return QStringLiteral("UnKnown ");
}

QString SubTypeName(const GUID& subtype) {
    for (const GuidName& entry : kSubNames) {
        if (entry.guid == subtype)
            return QString::fromLatin1(entry.name);
    }
    return QStringLiteral("UnKnown ");
}

QString WaveFormatTagName(uint16_t tag) {
    for (const TagName& entry : kTagNames) {
        if (entry.tag == tag)
            return QString::fromLatin1(entry.name);
    }
    return QStringLiteral("Unknown");
}

QString CompressionText(uint32_t code) {
    switch (code) {
        case 0:
            return QStringLiteral("RGB");
        case 1:
            return QStringLiteral("RLE8");
        case 2:
            return QStringLiteral("RLE4");
        case 3:
            return QStringLiteral("BITFIELDS");
        default:
            break;
    }
    QString text;
    for (int i = 0; i < 4; ++i) {
        const char c = char((code >> (8 * i)) & 0xFF);
        if (c == 0)
            break;
        text += QLatin1Char(c);
    }
    return text;
}

QString DescribeMediaType(const AM_MEDIA_TYPE* mt) {
    if (!mt)
        return QString();
    return QStringLiteral("Major Type: ") + MajorTypeName(mt->majortype) +
           QStringLiteral(" - Sub Type: ") + SubTypeName(mt->subtype) +
           QStringLiteral(" Format: ") + FormatPart(mt);
}

void WriteMediaTypeData(const AM_MEDIA_TYPE& mt, std::vector<uint8_t>& out) {
    PutGuid(out, mt.majortype);
    PutGuid(out, mt.subtype);
    PutU32(out, uint32_t(mt.bFixedSizeSamples));
    PutU32(out, uint32_t(mt.bTemporalCompression));
    PutU32(out, mt.lSampleSize);
    PutGuid(out, mt.formattype);
    PutU32(out, 0);  // pUnk
    const uint32_t size = mt.pbFormat ? mt.cbFormat : 0;
    PutU32(out, size);
    PutU32(out, 0);  // pbFormat
    if (size)
        out.insert(out.end(), mt.pbFormat, mt.pbFormat + size);
}

bool ReadMediaTypeData(AM_MEDIA_TYPE& mt, const uint8_t* data, size_t size, size_t& pos) {
    if (!data || pos > size || size - pos < kMediaTypeImageSize)
        return false;
    const uint8_t* p = data + pos;
    const uint32_t cbFormat = GetU32(p + 64);
    if (size - pos - kMediaTypeImageSize < cbFormat)
        return false;
    uint8_t* block = nullptr;
    if (cbFormat) {
        block = static_cast<uint8_t*>(CoTaskMemAlloc(cbFormat));
        if (!block)
            return false;
        std::memcpy(block, p + kMediaTypeImageSize, cbFormat);
    }
    ClearMediaType(&mt);
    mt.majortype = GetGuid(p);
    mt.subtype = GetGuid(p + 16);
    mt.bFixedSizeSamples = int32_t(GetU32(p + 32));
    mt.bTemporalCompression = int32_t(GetU32(p + 36));
    mt.lSampleSize = GetU32(p + 40);
    mt.formattype = GetGuid(p + 44);
    mt.pUnk = nullptr;
    mt.cbFormat = cbFormat;
    mt.pbFormat = block;
    pos += kMediaTypeImageSize + cbFormat;
    return true;
}

// ---------------------------------------------------------------------------
// TMediaType
// ---------------------------------------------------------------------------

void TMediaType::InitRecord() {
    std::memset(static_cast<void*>(&mt_), 0, sizeof mt_);
    mt_.bFixedSizeSamples = -1;  // true, all 32 bits set
    mt_.lSampleSize = 1;
}

TMediaType::TMediaType(const GUID& majortype) {
    InitRecord();
    mt_.majortype = majortype;
}

TMediaType::TMediaType(const AM_MEDIA_TYPE* source) {
    InitRecord();
    if (source)
        DuplicateMediaType(&mt_, source);
}

TMediaType::TMediaType(const TMediaType& other) {
    InitRecord();
    DuplicateMediaType(&mt_, &other.mt_);
}

TMediaType::TMediaType(TMediaType&& other) noexcept : mt_(other.mt_) {
    other.InitRecord();
}

TMediaType& TMediaType::operator=(const TMediaType& other) {
    Assign(other);
    return *this;
}

TMediaType& TMediaType::operator=(TMediaType&& other) noexcept {
    if (this != &other) {
        ClearMediaType(&mt_);
        mt_ = other.mt_;
        other.InitRecord();
    }
    return *this;
}

TMediaType::~TMediaType() {
    ClearMediaType(&mt_);
}

uint8_t* TMediaType::AllocFormatBuffer(uint32_t size) {
    ResetFormatBuffer();
    if (size == 0)
        return nullptr;
    auto* block = static_cast<uint8_t*>(CoTaskMemAlloc(size));
    if (!block)
        return nullptr;
    std::memset(block, 0, size);
    mt_.cbFormat = size;
    mt_.pbFormat = block;
    return block;
}

void TMediaType::ResetFormatBuffer() {
    if (mt_.cbFormat != 0)
        CoTaskMemFree(mt_.pbFormat);
    mt_.cbFormat = 0;
    mt_.pbFormat = nullptr;
}

void TMediaType::SetFormat(const GUID& formattype, const void* data, uint32_t size) {
    mt_.formattype = formattype;
    uint8_t* block = AllocFormatBuffer(data ? size : 0);
    if (block)
        std::memcpy(block, data, size);
}

const VIDEOINFOHEADER* TMediaType::VideoInfo() const {
    if (mt_.formattype != FORMAT_VideoInfo || !mt_.pbFormat ||
        mt_.cbFormat < sizeof(VIDEOINFOHEADER)) {
        return nullptr;
    }
    return reinterpret_cast<const VIDEOINFOHEADER*>(mt_.pbFormat);
}

const WAVEFORMATEX* TMediaType::WaveFormat() const {
    if (mt_.formattype != FORMAT_WaveFormatEx || !mt_.pbFormat ||
        mt_.cbFormat < sizeof(WAVEFORMATEX) - sizeof(uint16_t)) {
        return nullptr;
    }
    return reinterpret_cast<const WAVEFORMATEX*>(mt_.pbFormat);
}

void TMediaType::Assign(const TMediaType& other) {
    Assign(&other.mt_);
}

void TMediaType::Assign(const AM_MEDIA_TYPE* other) {
    if (!other || other == &mt_)
        return;
    ClearMediaType(&mt_);
    DuplicateMediaType(&mt_, other);
}

bool TMediaType::Equals(const TMediaType& other) const {
    const AM_MEDIA_TYPE& a = mt_;
    const AM_MEDIA_TYPE& b = other.mt_;
    if (a.majortype != b.majortype || a.subtype != b.subtype || a.formattype != b.formattype ||
        a.cbFormat != b.cbFormat) {
        return false;
    }
    if (a.cbFormat == 0)
        return true;
    if (a.pbFormat == b.pbFormat)
        return true;
    if (!a.pbFormat || !b.pbFormat)
        return false;
    return std::memcmp(a.pbFormat, b.pbFormat, a.cbFormat) == 0;
}

std::vector<uint8_t> TMediaType::WriteData() const {
    std::vector<uint8_t> out;
    WriteMediaTypeData(mt_, out);
    return out;
}

bool TMediaType::ReadData(const std::vector<uint8_t>& data) {
    size_t pos = 0;
    return ReadData(data.data(), data.size(), pos);
}

bool TMediaType::ReadData(const uint8_t* data, size_t size, size_t& pos) {
    return ReadMediaTypeData(mt_, data, size, pos);
}

std::optional<TMediaType> PinFormat(IPin* pin) {
    AM_MEDIA_TYPE* type = nullptr;
    if (auto config = QueryAs<IAMStreamConfig>(pin))
        config->GetFormat(&type);
    if (!type)
        return std::nullopt;
    std::optional<TMediaType> format(std::in_place, type);
    DisposeMediaType(type);
    return format;
}

// ---------------------------------------------------------------------------
// TEnumMediaType
// ---------------------------------------------------------------------------

void TEnumMediaType::ReadFromPin(IPin* pin) {
    Clear();
    if (!pin)
        return;
    ComPtr<IEnumMediaTypes> types;
    if (pin->EnumMediaTypes(types.Put()) != S_OK || !types)
        return;
    for (;;) {
        AM_MEDIA_TYPE* mt = nullptr;
        uint32_t fetched = 0;
        if (types->Next(1, &mt, &fetched) != S_OK || !mt) {
            DisposeMediaType(mt);
            break;
        }
        Add(mt);
        DisposeMediaType(mt);
    }
}

void TEnumMediaType::Add(const AM_MEDIA_TYPE* mt) {
    items_.push_back(std::make_unique<TMediaType>(mt));
}

TMediaType& TEnumMediaType::Item(int index) {
    if (index < 0 || index >= Count())
        throw EListError(index);
    return *items_[size_t(index)];
}

const TMediaType& TEnumMediaType::Item(int index) const {
    if (index < 0 || index >= Count())
        throw EListError(index);
    return *items_[size_t(index)];
}

QString TEnumMediaType::ItemText(int index) const {
    if (index < 0 || index >= Count())
        return QString();
    return DescribeMediaType(items_[size_t(index)]->AMMediaType());
}

}  // namespace media
