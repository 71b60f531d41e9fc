// SPDX-License-Identifier: GPL-3.0-or-later
#include "SampleGrabberCore.h"

#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <mutex>
#include <utility>
#include <vector>

#if defined(__x86_64__)
#include <immintrin.h>
#endif

#include "JpegFrames.h"
#include "RawFrames.h"
#include "media/Bitmap.h"
#include "media/MediaUtil.h"

namespace media::gst {

namespace {

constexpr GUID kNullGuid{};

// A media sample over one prepared frame, for SampleCB.
class FrameSample : public ComObject<IMediaSample> {
  public:
    FrameSample(uint8_t* data, int32_t length) : data_(data), length_(length) {}
    HRESULT GetPointer(uint8_t** buffer) override {
        if (!buffer)
            return E_POINTER;
        *buffer = data_;
        return S_OK;
    }
    int32_t GetActualDataLength() override { return length_; }

  private:
    uint8_t* data_;
    int32_t length_;
};

// The format of the frames that pass, as negotiated.
struct FrameFormat {
    bool raw = false;   // raw video of a known layout; otherwise bytes as they are
    bool jpeg = false;  // a camera's JPEG frames (MJPG) of width x height
    int width = 0;
    int height = 0;
    GstVideoInfo info;
};

// How a frame is handed out.
struct OutputShape {
    bool bottomUp = false;  // DirectShow RGB: bottom-up rows padded to 4 bytes
    bool dropPad = false;   // 32-bit BGRx handed out as 24-bit RGB
    bool convert = false;   // a camera's YUV converted to 24-bit RGB
    int stride = 0;         // bytes per output row (RGB)
    size_t size = 0;        // bytes of the whole output frame
};

// Packed YUV, which the renderer converts itself.
bool PackedYuv(GstVideoFormat format) {
    return IsRawFrameFormat(format) && gst_video_format_get_info(format) &&
           GST_VIDEO_FORMAT_INFO_IS_YUV(gst_video_format_get_info(format));
}

// Whether frames of a format are handed out as 24-bit RGB although they
// pass in another: BGRx and a camera's packed YUV let through for an RGB24
// request.
bool HandedOutAs24(bool handOut24, GstVideoFormat format) {
    return handOut24 && (format == GST_VIDEO_FORMAT_BGRx || PackedYuv(format));
}

OutputShape ShapeOf(const FrameFormat& format, bool handOut24, GstBuffer* buffer) {
    OutputShape shape;
    if (format.jpeg && handOut24) {
        // Decoded when handed out, at the full size, as 24-bit RGB.
        const VideoFormatEntry* e = VideoFormatForSubtype(MEDIASUBTYPE_RGB24);
        shape.bottomUp = true;
        shape.stride = int(DibStride(format.width, e->bits));
        shape.size = ImageSize(*e, format.width, format.height);
        return shape;
    }
    if (!format.raw) {
        shape.size = gst_buffer_get_size(buffer);
        return shape;
    }
    const GstVideoFormat f = GST_VIDEO_INFO_FORMAT(&format.info);
    const VideoFormatEntry* e = VideoFormatForGst(f);
    if (HandedOutAs24(handOut24, f)) {
        e = VideoFormatForSubtype(MEDIASUBTYPE_RGB24);
        shape.convert = PackedYuv(f);
        shape.dropPad = !shape.convert;
    }
    const int width = GST_VIDEO_INFO_WIDTH(&format.info);
    shape.bottomUp = e && e->rgb;
    if (shape.bottomUp)
        shape.stride = int(DibStride(width, e->bits));
    shape.size = e ? ImageSize(*e, width, GST_VIDEO_INFO_HEIGHT(&format.info))
                   : GST_VIDEO_INFO_SIZE(&format.info);
    return shape;
}

// Writes a frame in the output shape to out (shape.size bytes); false when
// the frame cannot be read.
bool WriteFrame(const FrameFormat& format, const OutputShape& shape, GstBuffer* buffer,
                uint8_t* out) {
    if (format.jpeg && shape.bottomUp) {
        GstMapInfo map;
        if (!gst_buffer_map(buffer, &map, GST_MAP_READ))
            return false;
        const bool decoded = DecodeJpegFrameToBgr(map.data, map.size, format.width, format.height,
                                                  out, size_t(shape.stride), true);
        gst_buffer_unmap(buffer, &map);
        return decoded;
    }
    if (!format.raw)
        return gst_buffer_extract(buffer, 0, out, shape.size) == shape.size;
    GstVideoInfo info = format.info;
    GstVideoFrame frame;
    if (!gst_video_frame_map(&frame, &info, buffer, GST_MAP_READ))
        return false;
    if (shape.bottomUp) {
        const int width = GST_VIDEO_FRAME_WIDTH(&frame);
        const int height = GST_VIDEO_FRAME_HEIGHT(&frame);
        const int srcStride = GST_VIDEO_FRAME_PLANE_STRIDE(&frame, 0);
        const auto* src = static_cast<const uint8_t*>(GST_VIDEO_FRAME_PLANE_DATA(&frame, 0));
        const size_t rowBytes =
            shape.dropPad || shape.convert
                ? size_t(width) * 3
                : size_t(GST_VIDEO_FRAME_COMP_PSTRIDE(&frame, 0)) * size_t(width);
        const size_t copyBytes = std::min(rowBytes, size_t(shape.stride));
        // YUV rows go through 32 bits, as the converter turns them into
        // 24-bit RGB: the same colours as the preview's.
        const RawFrameRows yuv(frame.info);
        std::vector<uint32_t> line(shape.convert ? size_t(width) : 0);
        for (int y = 0; y < height; ++y) {
            uint8_t* dst = out + size_t(height - 1 - y) * shape.stride;
            const uint8_t* row = src + size_t(y) * srcStride;
            if (shape.convert) {
                yuv.Convert(row, line.data());
                BgrxRowToBgr(reinterpret_cast<const uint8_t*>(line.data()), dst, width);
            } else if (shape.dropPad) {
                BgrxRowToBgr(row, dst, width);
            } else {
                std::memcpy(dst, row, copyBytes);
            }
            std::memset(dst + copyBytes, 0, shape.stride - copyBytes);
        }
    } else {
        // Other formats keep GStreamer's own layout, plane after plane.
        std::memset(out, 0, shape.size);
        size_t offset = 0;
        for (guint p = 0; p < GST_VIDEO_FRAME_N_PLANES(&frame); ++p) {
            const int stride = GST_VIDEO_FRAME_PLANE_STRIDE(&frame, p);
            const int rows = GST_VIDEO_FRAME_COMP_HEIGHT(&frame, p);
            const size_t planeBytes = size_t(stride) * rows;
            if (offset + planeBytes > shape.size)
                break;
            std::memcpy(out + offset, GST_VIDEO_FRAME_PLANE_DATA(&frame, p), planeBytes);
            offset += planeBytes;
        }
    }
    gst_video_frame_unmap(&frame);
    return true;
}

}  // namespace

#if defined(__x86_64__)
namespace {

// Four pixels (16 bytes) at a time by SSSE3's byte shuffle, on every x86-64
// processor of the last fifteen years: a still picture's frame then costs
// little more than a copy. Each store writes 4 bytes past the 12 it makes,
// so it stops 2 pixels early; those bytes are written again by the next
// store or by the caller. Returns the pixels done.
__attribute__((target("ssse3"))) int BgrxToBgrShuffled(const uint8_t* src, uint8_t* dst,
                                                       int width) {
    const __m128i order = _mm_setr_epi8(0, 1, 2, 4, 5, 6, 8, 9, 10, 12, 13, 14, -1, -1, -1, -1);
    int x = 0;
    for (; x + 6 <= width; x += 4, src += 16, dst += 12) {
        const __m128i pixels = _mm_loadu_si128(reinterpret_cast<const __m128i*>(src));
        _mm_storeu_si128(reinterpret_cast<__m128i*>(dst), _mm_shuffle_epi8(pixels, order));
    }
    return x;
}

bool HaveSsse3() {
    static const bool have = __builtin_cpu_supports("ssse3");
    return have;
}

}  // namespace
#endif

void BgrxRowToBgr(const uint8_t* src, uint8_t* dst, int width) {
    int x = 0;
#if defined(__x86_64__)
    if (HaveSsse3())
        x = BgrxToBgrShuffled(src, dst, width);
    src += size_t(x) * 4;
    dst += size_t(x) * 3;
#endif
#if G_BYTE_ORDER == G_LITTLE_ENDIAN
    // Four pixels (16 bytes) give three 32-bit words by shifts alone.
    for (; x + 4 <= width; x += 4, src += 16, dst += 12) {
        uint32_t p0, p1, p2, p3;
        std::memcpy(&p0, src, 4);
        std::memcpy(&p1, src + 4, 4);
        std::memcpy(&p2, src + 8, 4);
        std::memcpy(&p3, src + 12, 4);
        const uint32_t w0 = (p0 & 0xffffffu) | p1 << 24;
        const uint32_t w1 = (p1 >> 8 & 0xffffu) | p2 << 16;
        const uint32_t w2 = (p2 >> 16 & 0xffu) | p3 << 8;
        std::memcpy(dst, &w0, 4);
        std::memcpy(dst + 4, &w1, 4);
        std::memcpy(dst + 8, &w2, 4);
    }
#endif
    for (; x < width; ++x, src += 4, dst += 3) {
        dst[0] = src[0];
        dst[1] = src[1];
        dst[2] = src[2];
    }
}

struct SampleGrabberCore::Shared {
    std::mutex mutex;  // guards everything below
    FrameFormat format;
    bool handOut24 = true;  // RGB24 asked for: BGRx frames are handed out as 24-bit
    bool bufferSamples = false;
    bool oneShot = false;
    bool oneShotDone = false;
    bool eosSent = false;
    ComPtr<ISampleGrabberCB> callback;
    int32_t which = 0;
    GstRef<GstBuffer> kept;  // the last frame that passed, while buffering
    FrameFormat keptFormat;
    std::vector<uint8_t> scratch;  // memory for the frame handed to the callback

    // Nothing thrown on the streaming thread leaves the probe.
    TCallbackGuard guard;

    static GstPadProbeReturn OnProbe(GstPad* pad, GstPadProbeInfo* info, gpointer data);
    GstPadProbeReturn Probe(GstPad* pad, GstPadProbeInfo* info);
    static void Delete(gpointer data) { delete static_cast<std::shared_ptr<Shared>*>(data); }
    GstPadProbeReturn HandleBuffer(GstBuffer* buffer);
    void HandleCaps(GstCaps* caps);
};

CapsRef GrabberCapsFromMediaType(const AM_MEDIA_TYPE& mt) {
    if (mt.majortype == kNullGuid)
        return CapsRef::Adopt(gst_caps_new_any());
    if (mt.majortype != MEDIATYPE_Video)
        return CapsRef::Adopt(gst_caps_new_empty_simple("application/x-unsupported"));
    if (mt.subtype == kNullGuid)
        return CapsRef::Adopt(gst_caps_from_string("video/x-raw; image/jpeg"));

    CapsRef caps;
    if (mt.subtype == MEDIASUBTYPE_RGB24) {
        // BGRx first: a converter in front of the grabber then produces the
        // renderer's own format. A camera's packed YUV and JPEG frames pass
        // as they are, to be converted or decoded once by the renderer and,
        // for a still, here.
        caps = CapsRef::Adopt(gst_caps_from_string(
            "video/x-raw, format=(string){ BGRx, BGR, YUY2, UYVY, YVYU }; image/jpeg"));
    } else {
        caps = CapsForSubtype(mt.subtype);
    }
    if (!caps)
        return CapsRef::Adopt(gst_caps_new_empty_simple("application/x-unsupported"));
    if (mt.formattype == FORMAT_VideoInfo && mt.pbFormat &&
        mt.cbFormat >= sizeof(VIDEOINFOHEADER)) {
        VIDEOINFOHEADER vih;
        std::memcpy(&vih, mt.pbFormat, sizeof vih);
        if (vih.bmiHeader.biWidth > 0 && vih.bmiHeader.biHeight != 0) {
            gst_caps_set_simple(caps.Get(), "width", G_TYPE_INT, int(vih.bmiHeader.biWidth),
                                "height", G_TYPE_INT, std::abs(int(vih.bmiHeader.biHeight)),
                                nullptr);
        }
    }
    return caps;
}

SampleGrabberCore::SampleGrabberCore() : shared_(std::make_shared<Shared>()) {
    filter_ = ElementRef::Sink(gst_element_factory_make("capsfilter", nullptr));
    // Until SetMediaType says otherwise: any RGB24 video.
    AM_MEDIA_TYPE rgb24{};
    rgb24.majortype = MEDIATYPE_Video;
    rgb24.subtype = MEDIASUBTYPE_RGB24;
    rgb24.formattype = FORMAT_VideoInfo;
    requested_ = GrabberCapsFromMediaType(rgb24);
    ApplyCaps();

    PadRef src = PadRef::Adopt(gst_element_get_static_pad(filter_.Get(), "src"));
    probeId_ = gst_pad_add_probe(
        src.Get(),
        GstPadProbeType(GST_PAD_PROBE_TYPE_BUFFER | GST_PAD_PROBE_TYPE_BUFFER_LIST |
                        GST_PAD_PROBE_TYPE_EVENT_DOWNSTREAM),
        &Shared::OnProbe, new std::shared_ptr<Shared>(shared_), &Shared::Delete);
}

SampleGrabberCore::~SampleGrabberCore() {
    // A call of the probe still running keeps its own reference to the
    // shared state.
    PadRef src = PadRef::Adopt(gst_element_get_static_pad(filter_.Get(), "src"));
    if (probeId_)
        gst_pad_remove_probe(src.Get(), probeId_);
}

CapsRef SampleGrabberCore::RequestedCaps() const {
    return requested_;
}

void SampleGrabberCore::SetRgbOnly(bool rgbOnly) {
    rgbOnly_ = rgbOnly;
    ApplyCaps();
}

void SampleGrabberCore::ApplyCaps() {
    bool handOut24;
    {
        std::lock_guard<std::mutex> lock(shared_->mutex);
        handOut24 = shared_->handOut24;
    }
    CapsRef caps = requested_;
    if (rgbOnly_ && handOut24) {
        CapsRef rgb = CapsRef::Adopt(
            gst_caps_from_string("video/x-raw, format=(string){ BGRx, BGR }; image/jpeg"));
        caps = CapsRef::Adopt(
            gst_caps_intersect_full(requested_.Get(), rgb.Get(), GST_CAPS_INTERSECT_FIRST));
    }
    g_object_set(filter_.Get(), "caps", caps.Get(), nullptr);
}

HRESULT SampleGrabberCore::SetOneShot(bool oneShot) {
    std::lock_guard<std::mutex> lock(shared_->mutex);
    shared_->oneShot = oneShot;
    shared_->oneShotDone = false;
    shared_->eosSent = false;
    return S_OK;
}

HRESULT SampleGrabberCore::SetMediaType(const AM_MEDIA_TYPE* mt) {
    if (!mt)
        return E_POINTER;
    requested_ = GrabberCapsFromMediaType(*mt);
    {
        std::lock_guard<std::mutex> lock(shared_->mutex);
        shared_->handOut24 = mt->majortype == MEDIATYPE_Video && mt->subtype == MEDIASUBTYPE_RGB24;
    }
    ApplyCaps();
    return S_OK;
}

CapsRef SampleGrabberCore::ConnectedCaps() const {
    PadRef sink = PadRef::Adopt(gst_element_get_static_pad(filter_.Get(), "sink"));
    CapsRef current = CapsRef::Adopt(gst_pad_get_current_caps(sink.Get()));
    if (current)
        return current;

    // Linked but not yet streaming: the format that the link would carry.
    // The input may be ghosted by the filter's bin; then the ghost pad is
    // what is linked to the upstream filter.
    PadRef peer = PadRef::Adopt(gst_pad_get_peer(sink.Get()));
    if (!peer)
        return nullptr;
    if (GST_IS_PROXY_PAD(peer.Get())) {
        PadRef ghost =
            PadRef::Adopt(GST_PAD(gst_proxy_pad_get_internal(GST_PROXY_PAD(peer.Get()))));
        if (!ghost || !gst_pad_is_linked(ghost.Get()))
            return nullptr;
    }
    CapsRef filterCaps;
    g_object_get(filter_.Get(), "caps", filterCaps.Put(), nullptr);
    CapsRef possible = CapsRef::Adopt(gst_pad_peer_query_caps(sink.Get(), filterCaps.Get()));
    if (!possible || gst_caps_is_empty(possible.Get()) || gst_caps_is_any(possible.Get()))
        return nullptr;
    return CapsRef::Adopt(gst_caps_fixate(possible.Detach()));
}

HRESULT SampleGrabberCore::GetConnectedMediaType(AM_MEDIA_TYPE* mt) {
    if (!mt)
        return E_POINTER;
    CapsRef caps = ConnectedCaps();
    if (!caps)
        return VFW_E_NOT_CONNECTED;
    bool handOut24;
    {
        std::lock_guard<std::mutex> lock(shared_->mutex);
        handOut24 = shared_->handOut24;
    }
    // The frames handed out say what they are.
    GstVideoInfo info;
    const bool jpeg = gst_structure_has_name(gst_caps_get_structure(caps.Get(), 0), "image/jpeg");
    if ((jpeg && handOut24) || (!jpeg && gst_video_info_from_caps(&info, caps.Get()) &&
                                HandedOutAs24(handOut24, GST_VIDEO_INFO_FORMAT(&info)))) {
        caps = CapsRef::Adopt(gst_caps_make_writable(caps.Detach()));
        gst_structure_set_name(gst_caps_get_structure(caps.Get(), 0), "video/x-raw");
        gst_caps_set_simple(caps.Get(), "format", G_TYPE_STRING, "BGR", nullptr);
    }
    TMediaType result;
    if (!MediaTypeFromCaps(caps.Get(), &result) || result.MajorType() != MEDIATYPE_Video)
        return VFW_E_INVALIDMEDIATYPE;
    DuplicateMediaType(mt, result.AMMediaType());
    return S_OK;
}

HRESULT SampleGrabberCore::SetBufferSamples(bool buffer) {
    GstRef<GstBuffer> released;  // let go outside the lock
    std::lock_guard<std::mutex> lock(shared_->mutex);
    shared_->bufferSamples = buffer;
    if (!buffer)
        std::swap(released, shared_->kept);
    return S_OK;
}

HRESULT SampleGrabberCore::GetCurrentBuffer(int32_t* size, uint8_t* buffer) {
    if (!size)
        return E_POINTER;
    GstRef<GstBuffer> frame;
    FrameFormat format;
    bool handOut24;
    {
        std::lock_guard<std::mutex> lock(shared_->mutex);
        if (!shared_->bufferSamples)
            return E_INVALIDARG;
        if (!shared_->kept)
            return VFW_E_WRONG_STATE;
        frame = shared_->kept;
        format = shared_->keptFormat;
        handOut24 = shared_->handOut24;
    }
    // The frame is laid out for the caller outside the lock: the streaming
    // thread never waits for it. A passed frame does not change.
    const OutputShape shape = ShapeOf(format, handOut24, frame.Get());
    if (!buffer) {
        *size = int32_t(std::min<size_t>(shape.size, INT32_MAX));
        return S_OK;
    }
    if (*size < 0)
        return E_INVALIDARG;
    const size_t n = std::min(shape.size, size_t(*size));
    if (n == shape.size) {
        if (!WriteFrame(format, shape, frame.Get(), buffer))
            return E_FAIL;
    } else {
        std::vector<uint8_t> whole(shape.size);
        if (!WriteFrame(format, shape, frame.Get(), whole.data()))
            return E_FAIL;
        std::memcpy(buffer, whole.data(), n);
    }
    *size = int32_t(n);
    return S_OK;
}

HRESULT SampleGrabberCore::SetCallback(ISampleGrabberCB* callback, int32_t which) {
    if (which != 0 && which != 1)
        return E_INVALIDARG;
    std::lock_guard<std::mutex> lock(shared_->mutex);
    shared_->callback = ComPtr<ISampleGrabberCB>(callback);
    shared_->which = which;
    return S_OK;
}

GstPadProbeReturn SampleGrabberCore::Shared::OnProbe(GstPad* pad, GstPadProbeInfo* info,
                                                     gpointer data) {
    Shared* core = static_cast<std::shared_ptr<Shared>*>(data)->get();
    GstPadProbeReturn result = GST_PAD_PROBE_OK;
    // A failure passes the frame on untouched.
    core->guard.Run([&] { result = core->Probe(pad, info); });
    return result;
}

GstPadProbeReturn SampleGrabberCore::Shared::Probe(GstPad* pad, GstPadProbeInfo* info) {
    if (info->type & GST_PAD_PROBE_TYPE_EVENT_DOWNSTREAM) {
        GstEvent* event = GST_PAD_PROBE_INFO_EVENT(info);
        if (GST_EVENT_TYPE(event) == GST_EVENT_CAPS) {
            GstCaps* caps = nullptr;
            gst_event_parse_caps(event, &caps);
            HandleCaps(caps);
        }
        return GST_PAD_PROBE_OK;
    }
    GstPadProbeReturn result = GST_PAD_PROBE_OK;
    if (info->type & GST_PAD_PROBE_TYPE_BUFFER) {
        result = HandleBuffer(GST_PAD_PROBE_INFO_BUFFER(info));
    } else if (info->type & GST_PAD_PROBE_TYPE_BUFFER_LIST) {
        GstBufferList* list = GST_PAD_PROBE_INFO_BUFFER_LIST(info);
        const guint n = gst_buffer_list_length(list);
        for (guint i = 0; i < n && result == GST_PAD_PROBE_OK; ++i)
            result = HandleBuffer(gst_buffer_list_get(list, i));
    }
    if (result == GST_PAD_PROBE_DROP) {
        // One-shot grabbing ends the stream after its frame.
        bool sendEos = false;
        {
            std::lock_guard<std::mutex> lock(mutex);
            sendEos = !eosSent;
            eosSent = true;
        }
        if (sendEos)
            gst_pad_push_event(pad, gst_event_new_eos());
    }
    return result;
}

void SampleGrabberCore::Shared::HandleCaps(GstCaps* caps) {
    FrameFormat next;
    const GstStructure* s =
        caps && !gst_caps_is_empty(caps) ? gst_caps_get_structure(caps, 0) : nullptr;
    next.jpeg = s && gst_structure_has_name(s, "image/jpeg") &&
                gst_structure_get_int(s, "width", &next.width) &&
                gst_structure_get_int(s, "height", &next.height) && next.width > 0 &&
                next.height > 0;
    next.raw = !next.jpeg && caps && gst_video_info_from_caps(&next.info, caps) &&
               GST_VIDEO_INFO_FORMAT(&next.info) != GST_VIDEO_FORMAT_ENCODED;
    std::lock_guard<std::mutex> lock(mutex);
    format = next;
}

GstPadProbeReturn SampleGrabberCore::Shared::HandleBuffer(GstBuffer* buffer) {
    FrameFormat frameFormat;
    bool hand24 = false;
    ComPtr<ISampleGrabberCB> cb;
    int32_t cbWhich = 0;
    // Keeping the frame is taking a reference; the one it replaces is let go
    // outside the lock.
    GstRef<GstBuffer> released = GstRef<GstBuffer>::Share(buffer);
    {
        std::lock_guard<std::mutex> lock(mutex);
        if (oneShot && oneShotDone)
            return GST_PAD_PROBE_DROP;
        if (oneShot)
            oneShotDone = true;
        if (bufferSamples) {
            std::swap(released, kept);
            keptFormat = format;
        }
        cb = callback;
        cbWhich = which;
        frameFormat = format;
        hand24 = handOut24;
    }
    // A frame is laid out for the callback only when it wants one: that
    // costs a pass over the picture on every frame.
    if (!cb || !cb->WantsFrames())
        return GST_PAD_PROBE_OK;

    std::vector<uint8_t> work;
    {
        std::lock_guard<std::mutex> lock(mutex);
        work.swap(scratch);
    }
    const OutputShape shape = ShapeOf(frameFormat, hand24, buffer);
    work.resize(shape.size);
    if (WriteFrame(frameFormat, shape, buffer, work.data())) {
        const double time = GST_BUFFER_PTS_IS_VALID(buffer)
                                ? double(GST_BUFFER_PTS(buffer)) / double(GST_SECOND)
                                : 0.0;
        const int32_t length = int32_t(std::min<size_t>(work.size(), INT32_MAX));
        try {
            if (cbWhich == 1) {
                cb->BufferCB(time, work.data(), length);
            } else {
                auto sample = ComPtr<FrameSample>::Attach(new FrameSample(work.data(), length));
                cb->SampleCB(time, sample.Get());
            }
        } catch (...) {
            // A callback that throws is dropped (and reported once by the
            // probe's guard); the stream and the buffering go on.
            std::lock_guard<std::mutex> lock(mutex);
            if (callback.Get() == cb.Get())
                callback = nullptr;
            scratch.swap(work);
            throw;
        }
    }
    std::lock_guard<std::mutex> lock(mutex);
    scratch.swap(work);
    return GST_PAD_PROBE_OK;
}

}  // namespace media::gst
