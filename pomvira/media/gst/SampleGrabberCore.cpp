#include "SampleGrabberCore.h"

#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <mutex>
#include <vector>

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

// The layout of the kept copy for one negotiated format.
struct FrameLayout {
    bool valid = false;
    GstVideoInfo info;
    bool bottomUp = false;  // RGB formats are handed out bottom-up
    int outStride = 0;      // bytes per output row (RGB: padded to 4)
    size_t outSize = 0;     // bytes of one output frame
};

}  // namespace

struct SampleGrabberCore::Shared {
    std::mutex mutex;  // guards everything below
    FrameLayout layout;
    bool bufferSamples = false;
    bool oneShot = false;
    bool oneShotDone = false;
    bool eosSent = false;
    ComPtr<ISampleGrabberCB> callback;
    int32_t which = 0;
    std::vector<uint8_t> kept;  // the last frame, output layout
    bool haveKept = false;
    std::vector<uint8_t> scratch;  // frame being prepared on the streaming thread

    // Nothing thrown on the streaming thread leaves the probe.
    TCallbackGuard guard;

    static GstPadProbeReturn OnProbe(GstPad* pad, GstPadProbeInfo* info, gpointer data);
    GstPadProbeReturn Probe(GstPad* pad, GstPadProbeInfo* info);
    static void Delete(gpointer data) { delete static_cast<std::shared_ptr<Shared>*>(data); }
    GstPadProbeReturn HandleBuffer(GstBuffer* buffer);
    void HandleCaps(GstCaps* caps);
    // Copies a frame into out in the output layout; false when it cannot be read.
    static bool CopyFrame(const FrameLayout& layout, GstBuffer* buffer, std::vector<uint8_t>& out);
};

CapsRef GrabberCapsFromMediaType(const AM_MEDIA_TYPE& mt) {
    if (mt.majortype == kNullGuid)
        return CapsRef::Adopt(gst_caps_new_any());
    if (mt.majortype != MEDIATYPE_Video)
        return CapsRef::Adopt(gst_caps_new_empty_simple("application/x-unsupported"));
    if (mt.subtype == kNullGuid)
        return CapsRef::Adopt(gst_caps_from_string("video/x-raw; image/jpeg"));

    CapsRef caps = CapsForSubtype(mt.subtype);
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
    CapsRef caps = GrabberCapsFromMediaType(rgb24);
    g_object_set(filter_.Get(), "caps", caps.Get(), nullptr);

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
    CapsRef caps;
    g_object_get(filter_.Get(), "caps", caps.Put(), nullptr);
    return caps;
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
    CapsRef caps = GrabberCapsFromMediaType(*mt);
    g_object_set(filter_.Get(), "caps", caps.Get(), nullptr);
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
    TMediaType result;
    if (!MediaTypeFromCaps(caps.Get(), &result) || result.MajorType() != MEDIATYPE_Video)
        return VFW_E_INVALIDMEDIATYPE;
    DuplicateMediaType(mt, result.AMMediaType());
    return S_OK;
}

HRESULT SampleGrabberCore::SetBufferSamples(bool buffer) {
    std::lock_guard<std::mutex> lock(shared_->mutex);
    shared_->bufferSamples = buffer;
    return S_OK;
}

HRESULT SampleGrabberCore::GetCurrentBuffer(int32_t* size, uint8_t* buffer) {
    if (!size)
        return E_POINTER;
    std::lock_guard<std::mutex> lock(shared_->mutex);
    if (!shared_->bufferSamples)
        return E_INVALIDARG;
    if (!shared_->haveKept)
        return VFW_E_WRONG_STATE;
    if (!buffer) {
        *size = int32_t(std::min<size_t>(shared_->kept.size(), INT32_MAX));
        return S_OK;
    }
    if (*size < 0)
        return E_INVALIDARG;
    const size_t n = std::min(shared_->kept.size(), size_t(*size));
    std::memcpy(buffer, shared_->kept.data(), n);
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
    FrameLayout next;
    if (caps && gst_video_info_from_caps(&next.info, caps)) {
        const VideoFormatEntry* e = VideoFormatForGst(GST_VIDEO_INFO_FORMAT(&next.info));
        const int width = GST_VIDEO_INFO_WIDTH(&next.info);
        next.valid = true;
        next.bottomUp = e && e->rgb;
        if (next.bottomUp)
            next.outStride = DibStride(width, e->bits);
        next.outSize = e ? ImageSize(*e, width, GST_VIDEO_INFO_HEIGHT(&next.info))
                         : GST_VIDEO_INFO_SIZE(&next.info);
    }
    std::lock_guard<std::mutex> lock(mutex);
    layout = next;
}

bool SampleGrabberCore::Shared::CopyFrame(const FrameLayout& layout, GstBuffer* buffer,
                                          std::vector<uint8_t>& out) {
    if (!layout.valid) {
        // Not raw video (compressed frames): the bytes as they are.
        out.resize(gst_buffer_get_size(buffer));
        gst_buffer_extract(buffer, 0, out.data(), out.size());
        return true;
    }
    GstVideoInfo info = layout.info;
    GstVideoFrame frame;
    if (!gst_video_frame_map(&frame, &info, buffer, GST_MAP_READ))
        return false;
    out.resize(layout.outSize);
    if (layout.bottomUp) {
        const int height = GST_VIDEO_FRAME_HEIGHT(&frame);
        const int srcStride = GST_VIDEO_FRAME_PLANE_STRIDE(&frame, 0);
        const auto* src = static_cast<const uint8_t*>(GST_VIDEO_FRAME_PLANE_DATA(&frame, 0));
        const size_t rowBytes =
            size_t(GST_VIDEO_FRAME_COMP_PSTRIDE(&frame, 0)) * size_t(GST_VIDEO_FRAME_WIDTH(&frame));
        const size_t copyBytes = std::min(rowBytes, size_t(layout.outStride));
        for (int y = 0; y < height; ++y) {
            uint8_t* dst = out.data() + size_t(height - 1 - y) * layout.outStride;
            std::memcpy(dst, src + size_t(y) * srcStride, copyBytes);
            std::memset(dst + copyBytes, 0, layout.outStride - copyBytes);
        }
    } else {
        // Other formats keep GStreamer's own layout, plane after plane.
        size_t offset = 0;
        for (guint p = 0; p < GST_VIDEO_FRAME_N_PLANES(&frame); ++p) {
            const int stride = GST_VIDEO_FRAME_PLANE_STRIDE(&frame, p);
            const int rows = GST_VIDEO_FRAME_COMP_HEIGHT(&frame, p);
            const size_t planeBytes = size_t(stride) * rows;
            if (offset + planeBytes > out.size())
                break;
            std::memcpy(out.data() + offset, GST_VIDEO_FRAME_PLANE_DATA(&frame, p), planeBytes);
            offset += planeBytes;
        }
    }
    gst_video_frame_unmap(&frame);
    return true;
}

GstPadProbeReturn SampleGrabberCore::Shared::HandleBuffer(GstBuffer* buffer) {
    FrameLayout frameLayout;
    ComPtr<ISampleGrabberCB> cb;
    int32_t cbWhich = 0;
    bool buffering = false;
    std::vector<uint8_t> work;
    {
        std::lock_guard<std::mutex> lock(mutex);
        if (oneShot && oneShotDone)
            return GST_PAD_PROBE_DROP;
        if (oneShot)
            oneShotDone = true;
        buffering = bufferSamples;
        cb = callback;
        cbWhich = which;
        if (!buffering && !cb)
            return GST_PAD_PROBE_OK;
        frameLayout = layout;
        work.swap(scratch);
    }

    // The copy (and the row flip) happen outside the lock, so that
    // GetCurrentBuffer never waits for a frame being prepared or a callback.
    const bool ok = CopyFrame(frameLayout, buffer, work);
    if (ok && cb) {
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
    if (ok && buffering) {
        kept.swap(work);
        haveKept = true;
    }
    scratch.swap(work);
    return GST_PAD_PROBE_OK;
}

}  // namespace media::gst
