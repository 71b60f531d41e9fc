// SPDX-License-Identifier: GPL-3.0-or-later
#include "RawFrames.h"

#include <cmath>
#include <cstring>

#if defined(__x86_64__)
#include <emmintrin.h>
#endif

namespace media::gst {

namespace {

// ---------------------------------------------------------------------------
// RGB frames
// ---------------------------------------------------------------------------

// One row of 32-bit BGRx: the same byte order as RGB32, whose unused byte
// must read 0xff.
void BgrxRow(const uint8_t* src, uint32_t* dst, int width) {
    for (int x = 0; x < width; ++x, src += 4) {
        uint32_t pixel;
        std::memcpy(&pixel, src, 4);
        dst[x] = 0xff000000u | pixel;
    }
}

// One row of 24-bit BGR. Four pixels (12 bytes) read as three little-endian
// words give four 32-bit pixels by shifts alone: about a third less time
// than byte by byte.
void BgrRow(const uint8_t* src, uint32_t* dst, int width) {
    int x = 0;
#if G_BYTE_ORDER == G_LITTLE_ENDIAN
    for (; x + 4 <= width; x += 4, src += 12) {
        uint32_t w0, w1, w2;
        std::memcpy(&w0, src, 4);
        std::memcpy(&w1, src + 4, 4);
        std::memcpy(&w2, src + 8, 4);
        dst[x] = 0xff000000u | w0;
        dst[x + 1] = 0xff000000u | w0 >> 24 | w1 << 8;
        dst[x + 2] = 0xff000000u | w1 >> 16 | w2 << 16;
        dst[x + 3] = 0xff000000u | w2 >> 8;
    }
#endif
    for (; x < width; ++x, src += 3)
        dst[x] = 0xff000000u | uint32_t(src[2]) << 16 | uint32_t(src[1]) << 8 | src[0];
}

void RgbRow(const uint8_t* src, uint32_t* dst, int width) {
    for (int x = 0; x < width; ++x, src += 3)
        dst[x] = 0xff000000u | uint32_t(src[0]) << 16 | uint32_t(src[1]) << 8 | src[2];
}

// ---------------------------------------------------------------------------
// Packed 4:2:2 YUV
// ---------------------------------------------------------------------------

// The converter's fixed-point matrix: each component is turned into an 8.8
// word centred on 128 ((v - 128) in its high byte, v ^ 0x80 again in its
// low one), multiplied by a coefficient in 1/256 keeping the high 16 bits of
// the product, and the products summed; the sum, saturated to -128..127,
// plus 128, is the colour. The luma's offset is the centre's 128, not the
// range's 16, exactly as the converter has it.
using YuvMatrix = RawFrameRows::Yuv;

YuvMatrix MatrixFor(const GstVideoInfo& info) {
    gdouble kr = 0, kb = 0;
    if (!gst_video_color_matrix_get_Kr_Kb(info.colorimetry.matrix, &kr, &kb)) {
        kr = 0.299;  // BT.601, the converter's choice for YUV without a matrix
        kb = 0.114;
    }
    gint offset[GST_VIDEO_MAX_COMPONENTS];
    gint scale[GST_VIDEO_MAX_COMPONENTS];
    gst_video_color_range_offsets(info.colorimetry.range, info.finfo, offset, scale);
    const double ys = 255.0 / scale[0], cs = 255.0 / scale[1], kg = 1 - kr - kb;
    const auto fixed = [](double v) { return int16_t(std::lrint(v * 256)); };
    YuvMatrix m;
    m.y = fixed(ys);
    m.rv = fixed(cs * 2 * (1 - kr));
    m.bu = fixed(cs * 2 * (1 - kb));
    m.gu = fixed(-cs * 2 * (1 - kb) * kb / kg);
    m.gv = fixed(-cs * 2 * (1 - kr) * kr / kg);
    m.cosited = (info.chroma_site & GST_VIDEO_CHROMA_SITE_H_COSITED) != 0;
    // The bytes of a pair of pixels.
    switch (GST_VIDEO_INFO_FORMAT(&info)) {
        case GST_VIDEO_FORMAT_UYVY:
            m.u = 0, m.y0 = 1, m.v = 2, m.y1 = 3;
            break;
        case GST_VIDEO_FORMAT_YVYU:
            m.y0 = 0, m.v = 1, m.y1 = 2, m.u = 3;
            break;
        default:  // YUY2
            m.y0 = 0, m.u = 1, m.y1 = 2, m.v = 3;
            break;
    }
    return m;
}

int Centred(int v) {
    const int t = v ^ 0x80;
    return int16_t(t << 8 | t);
}

int Product(int word, int coefficient) {
    return (word * coefficient) >> 16;
}

uint32_t Component(int sum, int shift) {
    const int v = sum < -128 ? 0 : sum > 127 ? 255 : sum + 128;
    return uint32_t(v) << shift;
}

uint32_t YuvPixel(const YuvMatrix& m, int y, int u, int v) {
    const int wy = Product(Centred(y), m.y), wu = Centred(u), wv = Centred(v);
    return 0xff000000u | Component(wy + Product(wv, m.rv), 16) |
           Component(wy + Product(wu, m.gu) + Product(wv, m.gv), 8) |
           Component(wy + Product(wu, m.bu), 0);
}

// Pixels x0 to x1 of a row of `pairs` pairs, one at a time. An even pixel
// takes its pair's chroma (co-sited), or three quarters of it and a quarter
// of the previous pair's (centred); an odd one half its pair's and half the
// next pair's, or three quarters and a quarter; the row's ends repeat their
// pair's.
void YuvPixels(const YuvMatrix& m, const uint8_t* row, int pairs, int x0, int x1,
               uint32_t* dst) {
    for (int x = x0; x < x1; ++x) {
        const int k = x / 2;
        const uint8_t* pair = row + size_t(k) * 4;
        const int near = x & 1 ? (k + 1 < pairs ? k + 1 : k) : (k > 0 ? k - 1 : k);
        const uint8_t* other = row + size_t(near) * 4;
        int u, v;
        if (!m.cosited) {
            u = (3 * pair[m.u] + other[m.u] + 2) >> 2;
            v = (3 * pair[m.v] + other[m.v] + 2) >> 2;
        } else if (x & 1) {
            u = (pair[m.u] + other[m.u] + 1) >> 1;
            v = (pair[m.v] + other[m.v] + 1) >> 1;
        } else {
            u = pair[m.u];
            v = pair[m.v];
        }
        dst[x] = YuvPixel(m, pair[x & 1 ? m.y1 : m.y0], u, v);
    }
}

#if defined(__x86_64__)

// The same eight pixels at a time with SSE2 (every x86-64 processor), the
// converter's own arithmetic: a 720p frame in a third of the converter's
// time. The chroma of the pairs before and after comes from loads 4 bytes
// either side, so the first pair and the last four pixels or so are left to
// YuvPixels. Returns the first pixel not done.
int YuvPixelsSse2(const YuvMatrix& m, const uint8_t* row, int width, uint32_t* dst) {
    const __m128i low = _mm_set1_epi16(0xff), low16 = _mm_set1_epi32(0xffff);
    const __m128i high16 = _mm_set1_epi32(int(0xffff0000u));
    const __m128i centre = _mm_set1_epi16(0x80), sign = _mm_set1_epi8(char(0x80));
    const __m128i opaque = _mm_set1_epi8(char(0xff)), one = _mm_set1_epi16(1);
    const __m128i two = _mm_set1_epi16(2);
    const __m128i cy = _mm_set1_epi16(m.y), crv = _mm_set1_epi16(m.rv);
    const __m128i cgu = _mm_set1_epi16(m.gu), cgv = _mm_set1_epi16(m.gv);
    const __m128i cbu = _mm_set1_epi16(m.bu);
    const bool yLow = m.y0 == 0;   // luma in the even bytes
    const bool uFirst = m.u < m.v;  // of each pair's two chroma bytes
    // The pair's bytes as words: its luma, or its two chroma samples.
    const auto lumaOf = [&](__m128i p) {
        return yLow ? _mm_and_si128(p, low) : _mm_srli_epi16(p, 8);
    };
    const auto chromaOf = [&](const uint8_t* p) {
        const __m128i bytes = _mm_loadu_si128(reinterpret_cast<const __m128i*>(p));
        return yLow ? _mm_srli_epi16(bytes, 8) : _mm_and_si128(bytes, low);
    };
    const auto centred = [&](__m128i w) {
        const __m128i t = _mm_xor_si128(w, centre);
        return _mm_or_si128(t, _mm_slli_epi16(t, 8));
    };
    int x = 2;
    for (; x + 10 <= width; x += 8) {
        const uint8_t* p = row + size_t(x) * 2;
        const __m128i luma = lumaOf(_mm_loadu_si128(reinterpret_cast<const __m128i*>(p)));
        const __m128i pair = chromaOf(p), next = chromaOf(p + 4);
        __m128i even, odd;  // the chroma of each pair's even and odd pixel
        if (m.cosited) {
            even = pair;
            odd = _mm_srli_epi16(_mm_add_epi16(_mm_add_epi16(pair, next), one), 1);
        } else {
            const __m128i three = _mm_add_epi16(_mm_add_epi16(pair, pair), _mm_add_epi16(pair, two));
            even = _mm_srli_epi16(_mm_add_epi16(three, chromaOf(p - 4)), 2);
            odd = _mm_srli_epi16(_mm_add_epi16(three, next), 2);
        }
        // Per pixel: the first chroma byte's samples, then the second's.
        const __m128i first = _mm_or_si128(_mm_and_si128(even, low16), _mm_slli_epi32(odd, 16));
        const __m128i second =
            _mm_or_si128(_mm_srli_epi32(even, 16), _mm_and_si128(odd, high16));
        const __m128i wy = _mm_mulhi_epi16(centred(luma), cy);
        const __m128i wu = centred(uFirst ? first : second);
        const __m128i wv = centred(uFirst ? second : first);
        const __m128i r = _mm_adds_epi16(wy, _mm_mulhi_epi16(wv, crv));
        const __m128i g = _mm_adds_epi16(_mm_adds_epi16(wy, _mm_mulhi_epi16(wu, cgu)),
                                         _mm_mulhi_epi16(wv, cgv));
        const __m128i b = _mm_adds_epi16(wy, _mm_mulhi_epi16(wu, cbu));
        const __m128i br = _mm_xor_si128(_mm_packs_epi16(b, r), sign);
        const __m128i gg = _mm_xor_si128(_mm_packs_epi16(g, g), sign);
        const __m128i bg = _mm_unpacklo_epi8(br, gg), ra = _mm_unpackhi_epi8(br, opaque);
        auto* out = reinterpret_cast<__m128i*>(dst + x);
        _mm_storeu_si128(out, _mm_unpacklo_epi16(bg, ra));
        _mm_storeu_si128(out + 1, _mm_unpackhi_epi16(bg, ra));
    }
    return x;
}

#endif

void YuvRow(const YuvMatrix& m, const uint8_t* row, int width, uint32_t* dst) {
    const int pairs = (width + 1) / 2;
    int x = 0;
#if defined(__x86_64__)
    if (width >= 12) {
        YuvPixels(m, row, pairs, 0, 2, dst);
        x = YuvPixelsSse2(m, row, width, dst);
    }
#endif
    YuvPixels(m, row, pairs, x, width, dst);
}

}  // namespace

bool IsRawFrameFormat(GstVideoFormat format) {
    switch (format) {
        case GST_VIDEO_FORMAT_BGRx:
        case GST_VIDEO_FORMAT_BGR:
        case GST_VIDEO_FORMAT_RGB:
        case GST_VIDEO_FORMAT_YUY2:
        case GST_VIDEO_FORMAT_UYVY:
        case GST_VIDEO_FORMAT_YVYU:
            return true;
        default:
            return false;
    }
}

RawFrameRows::RawFrameRows(const GstVideoInfo& info)
    : format_(GST_VIDEO_INFO_FORMAT(&info)), width_(GST_VIDEO_INFO_WIDTH(&info)) {
    ok_ = IsRawFrameFormat(format_) && width_ > 0 && GST_VIDEO_INFO_HEIGHT(&info) > 0;
    if (ok_ && GST_VIDEO_INFO_IS_YUV(&info))
        yuv_ = MatrixFor(info);
}

void RawFrameRows::Convert(const uint8_t* src, uint32_t* dst) const {
    switch (format_) {
        case GST_VIDEO_FORMAT_BGRx:
            BgrxRow(src, dst, width_);
            break;
        case GST_VIDEO_FORMAT_BGR:
            BgrRow(src, dst, width_);
            break;
        case GST_VIDEO_FORMAT_RGB:
            RgbRow(src, dst, width_);
            break;
        default:
            if (ok_)
                YuvRow(yuv_, src, width_, dst);
            break;
    }
}

bool ConvertRawFrame(const GstVideoInfo& info, const uint8_t* data, int stride, uint8_t* out,
                     size_t outStride) {
    const RawFrameRows rows(info);
    if (!rows.Ok() || !data || !out)
        return false;
    for (int y = 0; y < GST_VIDEO_INFO_HEIGHT(&info); ++y)
        rows.Convert(data + size_t(y) * size_t(stride),
                     reinterpret_cast<uint32_t*>(out + size_t(y) * outStride));
    return true;
}

}  // namespace media::gst
