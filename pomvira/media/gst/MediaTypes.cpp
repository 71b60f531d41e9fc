#include "MediaTypes.h"

#include <cmath>
#include <cstdlib>
#include <cstring>
#include <string>

namespace media::gst {

namespace {

struct VideoFormatInfo {
    const char* gstName;  // video/x-raw format, or null for image/jpeg
    GUID subtype;
    uint32_t compression;
    uint16_t bitCount;
    bool rgb;  // rows padded to 4 bytes
};

const VideoFormatInfo kVideoFormats[] = {
    {"YUY2", MEDIASUBTYPE_YUY2, FourCC('Y', 'U', 'Y', '2'), 16, false},
    {"UYVY", MEDIASUBTYPE_UYVY, FourCC('U', 'Y', 'V', 'Y'), 16, false},
    {"YVYU", MEDIASUBTYPE_YVYU, FourCC('Y', 'V', 'Y', 'U'), 16, false},
    {"I420", MEDIASUBTYPE_I420, FourCC('I', '4', '2', '0'), 12, false},
    {"YV12", MEDIASUBTYPE_YV12, FourCC('Y', 'V', '1', '2'), 12, false},
    {"NV12", MEDIASUBTYPE_NV12, FourCC('N', 'V', '1', '2'), 12, false},
    {"BGR", MEDIASUBTYPE_RGB24, BI_RGB, 24, true},
    {"BGRx", MEDIASUBTYPE_RGB32, BI_RGB, 32, true},
    {"RGB16", MEDIASUBTYPE_RGB565, BI_RGB, 16, true},
    {"RGB15", MEDIASUBTYPE_RGB555, BI_RGB, 16, true},
    {nullptr, MEDIASUBTYPE_MJPG, FourCC('M', 'J', 'P', 'G'), 24, false},
};

constexpr int64_t kUnitsPerSecond = 10000000;

uint32_t ImageSize(const VideoFormatInfo& f, int width, int height) {
    if (f.rgb) {
        uint32_t stride = ((uint32_t(width) * f.bitCount + 31) / 32) * 4;
        return stride * uint32_t(height);
    }
    return uint32_t(uint64_t(width) * uint64_t(height) * f.bitCount / 8);
}

// A frame rate close to rate expressed as a fraction: whole rates and the
// NTSC-style n*1000/1001 rates exactly, others as the nearest fraction.
void RateToFraction(double rate, int* num, int* den) {
    for (int d : {1, 1001}) {
        double n = std::round(rate * d);
        if (n > 0 && std::fabs(n / d - rate) <= rate * 1e-4) {
            *num = int(n);
            *den = d;
            return;
        }
    }
    gst_util_double_to_fraction(rate, num, den);
}

bool VideoFromCaps(const GstStructure* s, bool jpeg, MediaType* out) {
    const VideoFormatInfo* info = nullptr;
    if (jpeg) {
        info = &kVideoFormats[sizeof kVideoFormats / sizeof kVideoFormats[0] - 1];
    } else {
        const char* format = gst_structure_get_string(s, "format");
        if (!format)
            return false;
        for (const auto& f : kVideoFormats) {
            if (f.gstName && std::strcmp(f.gstName, format) == 0)
                info = &f;
        }
    }
    int width = 0, height = 0;
    if (!info || !gst_structure_get_int(s, "width", &width) ||
        !gst_structure_get_int(s, "height", &height) || width <= 0 || height <= 0) {
        return false;
    }
    int num = 0, den = 1;
    REFERENCE_TIME perFrame = 0;
    if (gst_structure_get_fraction(s, "framerate", &num, &den) && num > 0 && den > 0) {
        perFrame = REFERENCE_TIME(std::llround(double(kUnitsPerSecond) * den / num));
    }
    VIDEOINFOHEADER vih;
    std::memset(&vih, 0, sizeof vih);
    vih.AvgTimePerFrame = perFrame;
    vih.bmiHeader.biSize = sizeof(BITMAPINFOHEADER);
    vih.bmiHeader.biWidth = width;
    vih.bmiHeader.biHeight = height;
    vih.bmiHeader.biPlanes = 1;
    vih.bmiHeader.biBitCount = info->bitCount;
    vih.bmiHeader.biCompression = info->compression;
    vih.bmiHeader.biSizeImage = ImageSize(*info, width, height);
    if (perFrame > 0) {
        vih.dwBitRate = uint32_t(std::min<double>(
            4294967295.0, double(vih.bmiHeader.biSizeImage) * 8 * kUnitsPerSecond / perFrame));
    }
    MediaType mt;
    AM_MEDIA_TYPE& r = mt.Raw();
    r.majortype = MEDIATYPE_Video;
    r.subtype = info->subtype;
    r.bFixedSizeSamples = jpeg ? 0 : 1;
    r.bTemporalCompression = 0;
    r.lSampleSize = jpeg ? 0 : vih.bmiHeader.biSizeImage;
    mt.SetFormat(FORMAT_VideoInfo, &vih, sizeof vih);
    *out = std::move(mt);
    return true;
}

bool AudioFromCaps(const GstStructure* s, MediaType* out) {
    const char* format = gst_structure_get_string(s, "format");
    int rate = 0, channels = 0;
    if (!format || !gst_structure_get_int(s, "rate", &rate) ||
        !gst_structure_get_int(s, "channels", &channels) || rate <= 0 || channels <= 0) {
        return false;
    }
    uint16_t tag, bits;
    if (std::strcmp(format, "S16LE") == 0) {
        tag = WAVE_FORMAT_PCM;
        bits = 16;
    } else if (std::strcmp(format, "U8") == 0) {
        tag = WAVE_FORMAT_PCM;
        bits = 8;
    } else if (std::strcmp(format, "F32LE") == 0) {
        tag = WAVE_FORMAT_IEEE_FLOAT;
        bits = 32;
    } else {
        return false;
    }
    const char* layout = gst_structure_get_string(s, "layout");
    if (layout && std::strcmp(layout, "interleaved") != 0)
        return false;
    WAVEFORMATEX wfx;
    std::memset(&wfx, 0, sizeof wfx);
    wfx.wFormatTag = tag;
    wfx.nChannels = uint16_t(channels);
    wfx.nSamplesPerSec = uint32_t(rate);
    wfx.wBitsPerSample = bits;
    wfx.nBlockAlign = uint16_t(channels * bits / 8);
    wfx.nAvgBytesPerSec = wfx.nSamplesPerSec * wfx.nBlockAlign;
    wfx.cbSize = 0;
    MediaType mt;
    AM_MEDIA_TYPE& r = mt.Raw();
    r.majortype = MEDIATYPE_Audio;
    r.subtype = FourCCGuid(tag);
    r.bFixedSizeSamples = 1;
    r.bTemporalCompression = 0;
    r.lSampleSize = wfx.nBlockAlign;
    mt.SetFormat(FORMAT_WaveFormatEx, &wfx, sizeof wfx);
    *out = std::move(mt);
    return true;
}

// Appends the fixed forms of s to out, expanding the first unfixed field.
void ExpandStructure(const GstStructure* s, GstCaps* out) {
    int n = gst_structure_n_fields(s);
    for (int i = 0; i < n; ++i) {
        const char* name = gst_structure_nth_field_name(s, guint(i));
        const GValue* v = gst_structure_get_value(s, name);
        if (gst_value_is_fixed(v))
            continue;
        if (GST_VALUE_HOLDS_LIST(v)) {
            guint size = gst_value_list_get_size(v);
            for (guint k = 0; k < size; ++k) {
                GstRef<GstStructure> copy =
                    GstRef<GstStructure>::Share(const_cast<GstStructure*>(s));
                gst_structure_set_value(copy.Get(), name, gst_value_list_get_value(v, k));
                ExpandStructure(copy.Get(), out);
            }
            return;
        }
        // A range or other unfixed value: fixate it to a near value.
        GstRef<GstStructure> copy = GstRef<GstStructure>::Share(const_cast<GstStructure*>(s));
        if (std::strcmp(name, "framerate") == 0) {
            gst_structure_fixate_field_nearest_fraction(copy.Get(), name, 30, 1);
        } else if (std::strcmp(name, "width") == 0) {
            gst_structure_fixate_field_nearest_int(copy.Get(), name, 640);
        } else if (std::strcmp(name, "height") == 0) {
            gst_structure_fixate_field_nearest_int(copy.Get(), name, 480);
        } else if (std::strcmp(name, "rate") == 0) {
            gst_structure_fixate_field_nearest_int(copy.Get(), name, 44100);
        } else if (std::strcmp(name, "channels") == 0) {
            gst_structure_fixate_field_nearest_int(copy.Get(), name, 2);
        } else {
            gst_structure_fixate_field(copy.Get(), name);
        }
        if (gst_value_is_fixed(gst_structure_get_value(copy.Get(), name))) {
            ExpandStructure(copy.Get(), out);
        }
        return;
    }
    gst_caps_append_structure(out, gst_structure_copy(s));
}

}  // namespace

void FreeMediaTypeContents(AM_MEDIA_TYPE& mt) {
    if (mt.pbFormat)
        CoTaskMemFree(mt.pbFormat);
    mt.pbFormat = nullptr;
    mt.cbFormat = 0;
    if (mt.pUnk)
        mt.pUnk->Release();
    mt.pUnk = nullptr;
}

void CopyMediaTypeContents(const AM_MEDIA_TYPE& src, AM_MEDIA_TYPE& dst) {
    dst = src;
    dst.pbFormat = nullptr;
    dst.cbFormat = 0;
    if (src.pbFormat && src.cbFormat) {
        dst.pbFormat = static_cast<uint8_t*>(CoTaskMemAlloc(src.cbFormat));
        std::memcpy(dst.pbFormat, src.pbFormat, src.cbFormat);
        dst.cbFormat = src.cbFormat;
    }
    if (dst.pUnk)
        dst.pUnk->AddRef();
}

MediaType::MediaType() {
    mt_ = AM_MEDIA_TYPE{};
    mt_.formattype = FORMAT_None;
}
MediaType::MediaType(const AM_MEDIA_TYPE& mt) {
    CopyMediaTypeContents(mt, mt_);
}
MediaType::MediaType(const MediaType& o) {
    CopyMediaTypeContents(o.mt_, mt_);
}
MediaType::MediaType(MediaType&& o) noexcept : mt_(o.mt_) {
    o.mt_.pbFormat = nullptr;
    o.mt_.cbFormat = 0;
    o.mt_.pUnk = nullptr;
}
MediaType& MediaType::operator=(MediaType o) noexcept {
    std::swap(mt_, o.mt_);
    return *this;
}
MediaType::~MediaType() {
    FreeMediaTypeContents(mt_);
}

AM_MEDIA_TYPE* MediaType::NewRecord() const {
    auto* r = static_cast<AM_MEDIA_TYPE*>(CoTaskMemAlloc(sizeof(AM_MEDIA_TYPE)));
    CopyMediaTypeContents(mt_, *r);
    return r;
}

void MediaType::SetFormat(const GUID& formatType, const void* data, uint32_t size) {
    if (mt_.pbFormat)
        CoTaskMemFree(mt_.pbFormat);
    mt_.pbFormat = nullptr;
    mt_.cbFormat = 0;
    mt_.formattype = formatType;
    if (data && size) {
        mt_.pbFormat = static_cast<uint8_t*>(CoTaskMemAlloc(size));
        std::memcpy(mt_.pbFormat, data, size);
        mt_.cbFormat = size;
    }
}

const VIDEOINFOHEADER* MediaType::Video() const {
    if (mt_.formattype != FORMAT_VideoInfo || !mt_.pbFormat ||
        mt_.cbFormat < sizeof(VIDEOINFOHEADER)) {
        return nullptr;
    }
    return reinterpret_cast<const VIDEOINFOHEADER*>(mt_.pbFormat);
}

const WAVEFORMATEX* MediaType::Audio() const {
    if (mt_.formattype != FORMAT_WaveFormatEx || !mt_.pbFormat ||
        mt_.cbFormat < sizeof(WAVEFORMATEX) - 2) {
        return nullptr;
    }
    return reinterpret_cast<const WAVEFORMATEX*>(mt_.pbFormat);
}

bool MediaTypeFromCaps(const GstCaps* caps, MediaType* out) {
    if (!caps || gst_caps_get_size(caps) < 1)
        return false;
    const GstStructure* s = gst_caps_get_structure(caps, 0);
    if (!gst_caps_is_fixed(caps))
        return false;
    const char* name = gst_structure_get_name(s);
    if (std::strcmp(name, "video/x-raw") == 0)
        return VideoFromCaps(s, false, out);
    if (std::strcmp(name, "image/jpeg") == 0)
        return VideoFromCaps(s, true, out);
    if (std::strcmp(name, "audio/x-raw") == 0)
        return AudioFromCaps(s, out);
    return false;
}

CapsRef CapsFromMediaType(const AM_MEDIA_TYPE& raw) {
    MediaType mt(raw);
    if (raw.majortype == MEDIATYPE_Video) {
        const VideoFormatInfo* info = nullptr;
        for (const auto& f : kVideoFormats) {
            if (f.subtype == raw.subtype)
                info = &f;
        }
        if (!info)
            return nullptr;
        CapsRef caps = CapsRef::Adopt(info->gstName ? gst_caps_new_simple("video/x-raw", "format",
                                                                          G_TYPE_STRING,
                                                                          info->gstName, nullptr)
                                                    : gst_caps_new_empty_simple("image/jpeg"));
        if (const VIDEOINFOHEADER* vih = mt.Video()) {
            if (vih->bmiHeader.biWidth > 0 && vih->bmiHeader.biHeight != 0) {
                gst_caps_set_simple(caps.Get(), "width", G_TYPE_INT, int(vih->bmiHeader.biWidth),
                                    "height", G_TYPE_INT, std::abs(int(vih->bmiHeader.biHeight)),
                                    nullptr);
            }
            if (vih->AvgTimePerFrame > 0) {
                int num = 0, den = 1;
                RateToFraction(double(kUnitsPerSecond) / double(vih->AvgTimePerFrame), &num, &den);
                gst_caps_set_simple(caps.Get(), "framerate", GST_TYPE_FRACTION, num, den, nullptr);
            }
        }
        return caps;
    }
    if (raw.majortype == MEDIATYPE_Audio) {
        const WAVEFORMATEX* wfx = mt.Audio();
        const char* format = nullptr;
        if (raw.subtype == MEDIASUBTYPE_PCM) {
            format = (wfx && wfx->wBitsPerSample == 8) ? "U8" : "S16LE";
        } else if (raw.subtype == MEDIASUBTYPE_IEEE_FLOAT) {
            format = "F32LE";
        } else {
            return nullptr;
        }
        CapsRef caps =
            CapsRef::Adopt(gst_caps_new_simple("audio/x-raw", "format", G_TYPE_STRING, format,
                                               "layout", G_TYPE_STRING, "interleaved", nullptr));
        if (wfx && wfx->nSamplesPerSec && wfx->nChannels) {
            gst_caps_set_simple(caps.Get(), "rate", G_TYPE_INT, int(wfx->nSamplesPerSec),
                                "channels", G_TYPE_INT, int(wfx->nChannels), nullptr);
        }
        return caps;
    }
    return nullptr;
}

std::vector<CapsRef> ExpandCaps(const GstCaps* caps) {
    std::vector<CapsRef> result;
    if (!caps || gst_caps_is_any(caps))
        return result;
    CapsRef all = CapsRef::Adopt(gst_caps_new_empty());
    for (guint i = 0; i < gst_caps_get_size(caps); ++i) {
        ExpandStructure(gst_caps_get_structure(caps, i), all.Get());
    }
    for (guint i = 0; i < gst_caps_get_size(all.Get()); ++i) {
        CapsRef one = CapsRef::Adopt(gst_caps_copy_nth(all.Get(), i));
        bool seen = false;
        for (const auto& r : result) {
            if (gst_caps_is_equal(r.Get(), one.Get()))
                seen = true;
        }
        if (!seen)
            result.push_back(std::move(one));
    }
    return result;
}

bool SameFormat(const AM_MEDIA_TYPE& a, const AM_MEDIA_TYPE& b) {
    if (a.majortype != b.majortype || a.subtype != b.subtype)
        return false;
    MediaType ma(a), mb(b);
    if (a.majortype == MEDIATYPE_Video) {
        const VIDEOINFOHEADER* va = ma.Video();
        const VIDEOINFOHEADER* vb = mb.Video();
        if (!va || !vb)
            return va == vb;
        if (va->bmiHeader.biWidth != vb->bmiHeader.biWidth ||
            std::abs(va->bmiHeader.biHeight) != std::abs(vb->bmiHeader.biHeight)) {
            return false;
        }
        REFERENCE_TIME ta = va->AvgTimePerFrame, tb = vb->AvgTimePerFrame;
        if (ta == 0 || tb == 0)
            return true;
        return std::llabs(ta - tb) * 1000 <= std::max(ta, tb);
    }
    if (a.majortype == MEDIATYPE_Audio) {
        const WAVEFORMATEX* wa = ma.Audio();
        const WAVEFORMATEX* wb = mb.Audio();
        if (!wa || !wb)
            return wa == wb;
        return wa->nChannels == wb->nChannels && wa->nSamplesPerSec == wb->nSamplesPerSec &&
               wa->wBitsPerSample == wb->wBitsPerSample;
    }
    return true;
}

}  // namespace media::gst
