// SPDX-License-Identifier: GPL-3.0-or-later
#include "MediaTypes.h"

#include <algorithm>
#include <cmath>
#include <cstdlib>
#include <cstring>
#include <string>

#include "media/Bitmap.h"

namespace media::gst {

namespace {

// Every video format the layer knows. For a subtype with several GStreamer
// formats the first is the one asked for.
const VideoFormatEntry kVideoFormats[] = {
    {MEDIASUBTYPE_YUY2, GST_VIDEO_FORMAT_YUY2, 16, FourCC('Y', 'U', 'Y', '2'), false, "YUY2"},
    {MEDIASUBTYPE_UYVY, GST_VIDEO_FORMAT_UYVY, 16, FourCC('U', 'Y', 'V', 'Y'), false, "UYVY"},
    {MEDIASUBTYPE_YVYU, GST_VIDEO_FORMAT_YVYU, 16, FourCC('Y', 'V', 'Y', 'U'), false, "YVYU"},
    {MEDIASUBTYPE_I420, GST_VIDEO_FORMAT_I420, 12, FourCC('I', '4', '2', '0'), false, "I420"},
    {MEDIASUBTYPE_YV12, GST_VIDEO_FORMAT_YV12, 12, FourCC('Y', 'V', '1', '2'), false, "YV12"},
    {MEDIASUBTYPE_NV12, GST_VIDEO_FORMAT_NV12, 12, FourCC('N', 'V', '1', '2'), false, "NV12"},
    {MEDIASUBTYPE_RGB24, GST_VIDEO_FORMAT_BGR, 24, BI_RGB, true, "RGB24"},
    {MEDIASUBTYPE_RGB32, GST_VIDEO_FORMAT_BGRx, 32, BI_RGB, true, "RGB32"},
    {MEDIASUBTYPE_RGB32, GST_VIDEO_FORMAT_BGRA, 32, BI_RGB, true, "RGB32"},
    {MEDIASUBTYPE_RGB565, GST_VIDEO_FORMAT_RGB16, 16, BI_RGB, true, "RGB565"},
    {MEDIASUBTYPE_RGB555, GST_VIDEO_FORMAT_RGB15, 16, BI_RGB, true, "RGB555"},
    {MEDIASUBTYPE_MJPG, GST_VIDEO_FORMAT_UNKNOWN, 24, FourCC('M', 'J', 'P', 'G'), false, "MJPG"},
};

constexpr int64_t kUnitsPerSecond = 10000000;

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

bool VideoFromCaps(const GstStructure* s, bool jpeg, TMediaType* out) {
    const VideoFormatEntry* entry = nullptr;
    if (jpeg) {
        entry = VideoFormatForSubtype(MEDIASUBTYPE_MJPG);
    } else {
        const char* format = gst_structure_get_string(s, "format");
        if (!format)
            return false;
        const GstVideoFormat f = gst_video_format_from_string(format);
        if (f != GST_VIDEO_FORMAT_UNKNOWN)
            entry = VideoFormatForGst(f);
    }
    int width = 0, height = 0;
    if (!entry || !gst_structure_get_int(s, "width", &width) ||
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
    vih.bmiHeader.biBitCount = entry->bits;
    vih.bmiHeader.biCompression = entry->compression;
    vih.bmiHeader.biSizeImage = ImageSize(*entry, width, height);
    if (perFrame > 0) {
        vih.dwBitRate = uint32_t(std::min<double>(
            4294967295.0, double(vih.bmiHeader.biSizeImage) * 8 * kUnitsPerSecond / perFrame));
    }
    TMediaType mt(MEDIATYPE_Video);
    mt.SetSubType(entry->subtype);
    AM_MEDIA_TYPE& r = *mt.AMMediaType();
    r.bFixedSizeSamples = jpeg ? 0 : 1;
    r.bTemporalCompression = 0;
    r.lSampleSize = jpeg ? 0 : vih.bmiHeader.biSizeImage;
    mt.SetFormat(FORMAT_VideoInfo, &vih, sizeof vih);
    *out = std::move(mt);
    return true;
}

bool AudioFromCaps(const GstStructure* s, TMediaType* out) {
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
    TMediaType mt(MEDIATYPE_Audio);
    mt.SetSubType(FourCCGuid(tag));
    AM_MEDIA_TYPE& r = *mt.AMMediaType();
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

const VideoFormatEntry* VideoFormatForSubtype(const GUID& subtype) {
    for (const auto& e : kVideoFormats) {
        if (e.subtype == subtype)
            return &e;
    }
    return nullptr;
}

const VideoFormatEntry* VideoFormatForGst(GstVideoFormat format) {
    if (format == GST_VIDEO_FORMAT_UNKNOWN)
        return nullptr;
    for (const auto& e : kVideoFormats) {
        if (e.format == format)
            return &e;
    }
    return nullptr;
}

uint32_t ImageSize(const VideoFormatEntry& entry, int width, int height) {
    if (width <= 0 || height <= 0)
        return 0;
    if (entry.rgb)
        return uint32_t(std::min<int64_t>(DibStride(width, entry.bits) * height, UINT32_MAX));
    GstVideoInfo info;
    if (entry.format != GST_VIDEO_FORMAT_UNKNOWN &&
        gst_video_info_set_format(&info, entry.format, guint(width), guint(height))) {
        return uint32_t(std::min<gsize>(GST_VIDEO_INFO_SIZE(&info), UINT32_MAX));
    }
    return uint32_t(
        std::min<uint64_t>(uint64_t(width) * uint64_t(height) * entry.bits / 8, UINT32_MAX));
}

const char* FormatName(const GUID& subtype, char (&fourcc)[5]) {
    if (const VideoFormatEntry* e = VideoFormatForSubtype(subtype))
        return e->name;
    if (subtype == MEDIASUBTYPE_PCM)
        return "PCM";
    if (subtype == MEDIASUBTYPE_IEEE_FLOAT)
        return "IEEE_FLOAT";
    GUID base = FourCCGuid(subtype.Data1);
    if (base == subtype && subtype.Data1 > 0xFFFF) {
        for (int i = 0; i < 4; ++i)
            fourcc[i] = char((subtype.Data1 >> (8 * i)) & 0xFF);
        fourcc[4] = '\0';
        return fourcc;
    }
    return "Unknown";
}

CapsRef CapsForSubtype(const GUID& subtype) {
    const VideoFormatEntry* e = VideoFormatForSubtype(subtype);
    if (!e)
        return nullptr;
    if (e->format == GST_VIDEO_FORMAT_UNKNOWN)
        return CapsRef::Adopt(gst_caps_new_empty_simple("image/jpeg"));
    return CapsRef::Adopt(gst_caps_new_simple("video/x-raw", "format", G_TYPE_STRING,
                                              gst_video_format_to_string(e->format), nullptr));
}

bool MediaTypeFromCaps(const GstCaps* caps, TMediaType* out) {
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
    TMediaType mt(&raw);
    if (raw.majortype == MEDIATYPE_Video) {
        CapsRef caps = CapsForSubtype(raw.subtype);
        if (!caps)
            return nullptr;
        if (const VIDEOINFOHEADER* vih = mt.VideoInfo()) {
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
        const WAVEFORMATEX* wfx = mt.WaveFormat();
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
    TMediaType ma(&a), mb(&b);
    if (a.majortype == MEDIATYPE_Video) {
        const VIDEOINFOHEADER* va = ma.VideoInfo();
        const VIDEOINFOHEADER* vb = mb.VideoInfo();
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
        const WAVEFORMATEX* wa = ma.WaveFormat();
        const WAVEFORMATEX* wb = mb.WaveFormat();
        if (!wa || !wb)
            return wa == wb;
        return wa->nChannels == wb->nChannels && wa->nSamplesPerSec == wb->nSamplesPerSec &&
               wa->wBitsPerSample == wb->wBitsPerSample;
    }
    return true;
}

}  // namespace media::gst
