// SPDX-License-Identifier: GPL-3.0-or-later
#include "CaptureFilters.h"

#include <cstring>

#include "GstMediaSystem.h"

namespace media::gst {

namespace {

// Sizes of the capability records handed out by GetStreamCaps.
constexpr int32_t kVideoCapsSize = 128;  // VIDEO_STREAM_CONFIG_CAPS
constexpr int32_t kAudioCapsSize = 52;   // AUDIO_STREAM_CONFIG_CAPS
// What the capture queue holds, by time only: the AVI multiplexer keeps video
// half a second behind audio, and a queue that fills stalls the camera.
constexpr GstClockTime kCaptureQueueTime = 3 * GST_SECOND;
// What the recording may lag behind the camera before frames are dropped:
// the multiplexer's half second and some, and no more than a stop can still
// write out of it to a slow disk within its bound.
constexpr GstClockTime kCaptureLagTime = GST_SECOND;

template <class T>
void Put(uint8_t* base, size_t offset, T value) {
    std::memcpy(base + offset, &value, sizeof value);
}

void FillVideoCaps(const TMediaType& mt, uint8_t* caps) {
    std::memset(caps, 0, kVideoCapsSize);
    const VIDEOINFOHEADER* vih = mt.VideoInfo();
    Put(caps, 0, FORMAT_VideoInfo);
    if (!vih)
        return;
    int32_t w = vih->bmiHeader.biWidth, h = std::abs(vih->bmiHeader.biHeight);
    // InputSize, MinCroppingSize, MaxCroppingSize
    for (size_t off : {20, 28, 36}) {
        Put(caps, off, w);
        Put(caps, off + 4, h);
    }
    Put<int32_t>(caps, 44, 1);     // CropGranularityX
    Put<int32_t>(caps, 48, 1);     // CropGranularityY
    Put<int32_t>(caps, 52, 1);     // CropAlignX
    Put<int32_t>(caps, 56, 1);     // CropAlignY
    for (size_t off : {60, 68}) {  // MinOutputSize, MaxOutputSize
        Put(caps, off, w);
        Put(caps, off + 4, h);
    }
    Put<int32_t>(caps, 76, 1);                      // OutputGranularityX
    Put<int32_t>(caps, 80, 1);                      // OutputGranularityY
    Put<int64_t>(caps, 104, vih->AvgTimePerFrame);  // MinFrameInterval
    Put<int64_t>(caps, 112, vih->AvgTimePerFrame);  // MaxFrameInterval
    Put<uint32_t>(caps, 120, vih->dwBitRate);       // MinBitsPerSecond
    Put<uint32_t>(caps, 124, vih->dwBitRate);       // MaxBitsPerSecond
}

void FillAudioCaps(const TMediaType& mt, uint8_t* caps) {
    std::memset(caps, 0, kAudioCapsSize);
    Put(caps, 0, MEDIATYPE_Audio);
    const WAVEFORMATEX* w = mt.WaveFormat();
    if (!w)
        return;
    uint32_t values[9] = {w->nChannels,      w->nChannels,      1,
                          w->wBitsPerSample, w->wBitsPerSample, 1,
                          w->nSamplesPerSec, w->nSamplesPerSec, 1};
    std::memcpy(caps + 16, values, sizeof values);
}

// Fixed formats the device offers, in its order, each convertible to a
// media type. Audio devices that describe ranges get the usual PCM formats
// they can deliver.
void DeviceFormats(GstCaps* caps, bool video, std::vector<CapsRef>* formats,
                   std::vector<TMediaType>* types) {
    if (!caps || gst_caps_is_any(caps) || gst_caps_is_empty(caps))
        return;
    std::vector<CapsRef> candidates;
    if (!video && !gst_caps_is_fixed(caps)) {
        bool allFixed = true;
        for (guint i = 0; i < gst_caps_get_size(caps); ++i) {
            CapsRef one = CapsRef::Adopt(gst_caps_copy_nth(caps, i));
            if (!gst_caps_is_fixed(one.Get()))
                allFixed = false;
        }
        if (!allFixed) {
            for (int rate : {44100, 48000, 22050, 11025, 8000}) {
                for (int channels : {2, 1}) {
                    CapsRef c = CapsRef::Adopt(gst_caps_new_simple(
                        "audio/x-raw", "format", G_TYPE_STRING, "S16LE", "layout", G_TYPE_STRING,
                        "interleaved", "rate", G_TYPE_INT, rate, "channels", G_TYPE_INT, channels,
                        nullptr));
                    if (gst_caps_can_intersect(c.Get(), caps))
                        candidates.push_back(c);
                }
            }
        }
    }
    if (candidates.empty())
        candidates = ExpandCaps(caps);
    for (CapsRef& c : candidates) {
        TMediaType mt;
        if (!MediaTypeFromCaps(c.Get(), &mt))
            continue;
        // Caps that differ only in fields a media type does not carry
        // (colorimetry, interlacing) are one format.
        bool known = false;
        for (const TMediaType& t : *types)
            known = known || SameFormat(*t.AMMediaType(), *mt.AMMediaType());
        if (known)
            continue;
        formats->push_back(c);
        types->push_back(std::move(mt));
    }
}

HRESULT NewPageList(const GUID& page, CAUUID* pages) {
    if (!pages)
        return E_POINTER;
    pages->cElems = 1;
    pages->pElems = static_cast<GUID*>(CoTaskMemAlloc(sizeof(GUID)));
    pages->pElems[0] = page;
    return S_OK;
}

}  // namespace

// ---------------------------------------------------------------------------
// CapturePin
// ---------------------------------------------------------------------------
CapturePin::CapturePin(DeviceFilter* filter, GstPad* ghost, const WString& name)
    : PadPin(filter, ghost, name), device_(filter) {}

void* CapturePin::ExtraInterface(const IID& iid) {
    if (iid == IAMStreamConfig::IID_)
        return static_cast<IAMStreamConfig*>(this);
    if (iid == ISpecifyPropertyPages::IID_)
        return static_cast<ISpecifyPropertyPages*>(this);
    return PadPin::ExtraInterface(iid);
}

CapsRef CapturePin::Formats() {
    CapsRef current = device_->CurrentFormat();
    return current ? current : PadPin::Formats();
}

std::vector<TMediaType> CapturePin::MediaTypes() {
    return device_->FormatTypes();
}

HRESULT CapturePin::GetFormat(AM_MEDIA_TYPE** mt) {
    if (!mt)
        return E_POINTER;
    *mt = nullptr;
    TMediaType type;
    CapsRef negotiated = CapsRef::Adopt(gst_pad_get_current_caps(Pad()));
    if (negotiated && MediaTypeFromCaps(negotiated.Get(), &type)) {
        *mt = CreateMediaType(type.AMMediaType());
        return S_OK;
    }
    CapsRef current = device_->CurrentFormat();
    if (current && MediaTypeFromCaps(current.Get(), &type)) {
        *mt = CreateMediaType(type.AMMediaType());
        return S_OK;
    }
    return VFW_E_NO_TYPES;
}

HRESULT CapturePin::SetFormat(const AM_MEDIA_TYPE* mt) {
    if (!mt)
        return E_POINTER;
    return device_->SetFormat(*mt);
}

HRESULT CapturePin::GetNumberOfCapabilities(int32_t* count, int32_t* size) {
    if (!count || !size)
        return E_POINTER;
    *count = int32_t(device_->FormatTypes().size());
    *size = device_->IsVideo() ? kVideoCapsSize : kAudioCapsSize;
    return S_OK;
}

HRESULT CapturePin::GetStreamCaps(int32_t index, AM_MEDIA_TYPE** mt, uint8_t* caps) {
    if (!mt)
        return E_POINTER;
    *mt = nullptr;
    const auto& types = device_->FormatTypes();
    if (index < 0)
        return E_INVALIDARG;
    if (size_t(index) >= types.size())
        return S_FALSE;
    *mt = CreateMediaType(types[size_t(index)].AMMediaType());
    if (caps) {
        if (device_->IsVideo()) {
            FillVideoCaps(types[size_t(index)], caps);
        } else {
            FillAudioCaps(types[size_t(index)], caps);
        }
    }
    return S_OK;
}

HRESULT CapturePin::GetPages(CAUUID* pages) {
    return NewPageList(CLSID_StreamFormatPage, pages);
}

// ---------------------------------------------------------------------------
// DeviceFilter
// ---------------------------------------------------------------------------
DeviceFilter::DeviceFilter(const CLSID& clsid, GstDevice* device, bool video)
    : BinFilter(clsid, gst_bin_new(nullptr)),
      device_(GstRef<GstDevice>::Share(device)),
      video_(video) {
    CapsRef caps = CapsRef::Adopt(gst_device_get_caps(device));
    DeviceFormats(caps.Get(), video, &formats_, &types_);
    if (!formats_.empty())
        current_ = formats_.front();
}

void* DeviceFilter::ExtraInterface(const IID& iid) {
    if (iid == ISpecifyPropertyPages::IID_)
        return static_cast<ISpecifyPropertyPages*>(this);
    return BinFilter::ExtraInterface(iid);
}

HRESULT DeviceFilter::GetPages(CAUUID* pages) {
    return NewPageList(CLSID_DeviceControlsPage, pages);
}

bool DeviceFilter::BuildSource() {
    GstElement* source = gst_device_create_element(device_.Get(), nullptr);
    if (!source)
        return false;
    source_ = ElementRef::Sink(source);
    // A PipeWire camera's frames are copied out of the memory PipeWire
    // shares with the program: that memory goes when the camera's node
    // goes, while a frame may still be on its way through the graph.
    GstElementFactory* factory = gst_element_get_factory(source);
    if (factory && std::strcmp(GST_OBJECT_NAME(factory), "pipewiresrc") == 0)
        g_object_set(source, "always-copy", TRUE, nullptr);
    capsfilter_ = ElementRef::Sink(gst_element_factory_make("capsfilter", nullptr));
    if (!capsfilter_)
        return false;
    if (current_)
        g_object_set(capsfilter_.Get(), "caps", current_.Get(), nullptr);
    gst_bin_add_many(GST_BIN(Bin()), source_.Get(), capsfilter_.Get(), nullptr);
    // Every frame the device delivers is noted, so that a camera that stops
    // delivering without an error is noticed (SourceStallWatch.h).
    PadRef out = PadRef::Adopt(gst_element_get_static_pad(capsfilter_.Get(), "src"));
    if (out) {
        gst_pad_add_probe(
            out.Get(), GST_PAD_PROBE_TYPE_BUFFER,
            [](GstPad*, GstPadProbeInfo*, gpointer data) {
                static_cast<std::atomic<int64_t>*>(data)->store(g_get_monotonic_time());
                return GST_PAD_PROBE_OK;
            },
            &lastFrame_, nullptr);
    }
    return gst_element_link(source_.Get(), capsfilter_.Get());
}

PadRef DeviceFilter::Output() const {
    return capsfilter_ ? PadRef::Adopt(gst_element_get_static_pad(capsfilter_.Get(), "src"))
                       : PadRef();
}

HRESULT DeviceFilter::SetFormat(const AM_MEDIA_TYPE& mt) {
    GstState state = GST_STATE_NULL;
    gst_element_get_state(Bin(), &state, nullptr, 0);
    if (state >= GST_STATE_PAUSED)
        return VFW_E_NOT_STOPPED;

    CapsRef chosen;
    for (size_t i = 0; i < types_.size() && !chosen; ++i) {
        if (SameFormat(*types_[i].AMMediaType(), mt))
            chosen = formats_[i];
    }
    if (!chosen) {
        CapsRef wanted = CapsFromMediaType(mt);
        if (!wanted)
            return VFW_E_INVALIDMEDIATYPE;
        for (const CapsRef& f : formats_) {
            if (gst_caps_can_intersect(f.Get(), wanted.Get())) {
                chosen = f;
                break;
            }
        }
    }
    if (!chosen)
        return VFW_E_INVALIDMEDIATYPE;
    for (const auto& pin : Pins()) {
        if (!pin->IsConnected())
            continue;
        CapsRef peerFormats = pin->Peer()->Formats();
        if (!peerFormats || !gst_caps_can_intersect(peerFormats.Get(), chosen.Get())) {
            return VFW_E_INVALIDMEDIATYPE;
        }
    }
    current_ = chosen;
    if (capsfilter_)
        g_object_set(capsfilter_.Get(), "caps", current_.Get(), nullptr);
    return S_OK;
}

// ---------------------------------------------------------------------------
// VideoCaptureFilter
// ---------------------------------------------------------------------------
VideoCaptureFilter::VideoCaptureFilter(const CLSID& clsid, GstDevice* device)
    : DeviceFilter(clsid, device, true) {}

VideoCaptureFilter* VideoCaptureFilter::Create(const CLSID& clsid, GstDevice* device) {
    auto* filter = new VideoCaptureFilter(clsid, device);
    if (!filter->Build()) {
        filter->Release();
        return nullptr;
    }
    return filter;
}

bool VideoCaptureFilter::Build() {
    if (!BuildSource())
        return false;
    tee_ = ElementRef::Sink(gst_element_factory_make("tee", nullptr));
    queues_[0] = ElementRef::Sink(gst_element_factory_make("queue", "capture-queue"));
    queues_[1] = ElementRef::Sink(gst_element_factory_make("queue", "preview-queue"));
    if (!tee_ || !queues_[0] || !queues_[1])
        return false;
    g_object_set(tee_.Get(), "allow-not-linked", TRUE, nullptr);
    g_object_set(queues_[0].Get(), "max-size-time", guint64(kCaptureQueueTime), "max-size-bytes", 0u,
                 "max-size-buffers", 0u, nullptr);
    g_object_set(queues_[1].Get(), "max-size-time", guint64(0), "max-size-bytes", 0u,
                 "max-size-buffers", 2u, "leaky", 2 /* downstream */, nullptr);
    // The camera's clock: a camera delivers fewer frames than its format
    // says (in low light most drop to 15 a second or less), and the AVI
    // multiplexer writes each buffer as one frame of the format's rate. The
    // capture branch repeats or drops frames by their timestamps to that
    // rate, so a file lasts as long as the time recorded and its sound stays
    // with the picture. At the format's own rate each frame passes once, as
    // it came (nothing is copied); the preview branch is left alone.
    rate_ = ElementRef::Sink(gst_element_factory_make("videorate", "capture-rate"));
    // A file that cannot keep up (a slow disk) must not stall the camera,
    // and with it the preview: what the recording has not taken after a
    // second is dropped as it comes, and counted. The file then holds fewer
    // frames than the time recorded.
    drop_ = ElementRef::Sink(gst_element_factory_make("queue", "capture-drop"));
    if (!rate_ || !drop_)
        return false;
    g_object_set(drop_.Get(), "max-size-time", guint64(kCaptureLagTime), "max-size-bytes", 0u,
                 "max-size-buffers", 0u, "leaky", 1 /* upstream */, nullptr);
    {
        auto* counter = new std::shared_ptr<std::atomic<int32_t>>(dropped_);
        g_signal_connect_data(
            drop_.Get(), "overrun",
            G_CALLBACK(+[](GstElement*, gpointer data) {
                ++**static_cast<std::shared_ptr<std::atomic<int32_t>>*>(data);
            }),
            counter,
            [](gpointer data, GClosure*) {
                delete static_cast<std::shared_ptr<std::atomic<int32_t>>*>(data);
            },
            GConnectFlags(0));
    }
    gst_bin_add_many(GST_BIN(Bin()), tee_.Get(), queues_[0].Get(), queues_[1].Get(), rate_.Get(),
                     drop_.Get(), nullptr);
    if (!gst_element_link(CapsFilter(), tee_.Get()) ||
        !gst_element_link_many(queues_[0].Get(), rate_.Get(), drop_.Get(), nullptr))
        return false;
    // The rate keeper repeats frames from the stream's start to its first
    // frame: stamps from a clock of the source's own are brought onto the
    // graph's before they queue.
    {
        PadRef captureIn = PadRef::Adopt(gst_element_get_static_pad(queues_[0].Get(), "sink"));
        captureStamps_.Attach(captureIn.Get());
    }
    GstElement* const outputs[2] = {drop_.Get(), queues_[1].Get()};
    const WString names[2] = {u"Capture", u"Preview"};
    for (int i = 0; i < 2; ++i) {
        teePads_[i] = PadRef::Adopt(gst_element_request_pad_simple(tee_.Get(), "src_%u"));
        if (!teePads_[i])
            return false;
        GstPad* ghost =
            MakeGhostPad(gst_element_get_static_pad(outputs[i], "src"), names[i], GST_PAD_SRC);
        if (!ghost)
            return false;
        ghosts_[i] = ghost;
        AddPin(std::make_unique<CapturePin>(this, ghost, names[i]));
    }
    return true;
}

void VideoCaptureFilter::UpdateLinks() {
    if (Pins().size() < 2)
        return;
    const bool connected[2] = {Pins()[0]->IsConnected(), Pins()[1]->IsConnected()};
    // The preview alone needs neither the tee nor its queue: the preview pin
    // then carries the capsfilter's output straight, and frames stay on the
    // source's streaming thread.
    const bool direct = connected[1] && !connected[0];
    PadRef formatOut = PadRef::Adopt(gst_element_get_static_pad(CapsFilter(), "src"));
    PadRef teeIn = PadRef::Adopt(gst_element_get_static_pad(tee_.Get(), "sink"));
    for (int i = 0; i < 2; ++i) {
        PadRef sink = PadRef::Adopt(gst_element_get_static_pad(queues_[i].Get(), "sink"));
        const bool link = connected[i] && !direct;
        const bool linked = gst_pad_is_linked(teePads_[i].Get());
        if (link && !linked) {
            gst_pad_link(teePads_[i].Get(), sink.Get());
        } else if (!link && linked) {
            gst_pad_unlink(teePads_[i].Get(), sink.Get());
        }
    }
    if (direct) {
        PadRef peer = PadRef::Adopt(gst_pad_get_peer(formatOut.Get()));
        if (peer.Get() == teeIn.Get())
            gst_pad_unlink(formatOut.Get(), teeIn.Get());
        gst_ghost_pad_set_target(GST_GHOST_PAD(ghosts_[1]), formatOut.Get());
    } else {
        PadRef queueOut = PadRef::Adopt(gst_element_get_static_pad(queues_[1].Get(), "src"));
        PadRef target = PadRef::Adopt(gst_ghost_pad_get_target(GST_GHOST_PAD(ghosts_[1])));
        if (target.Get() != queueOut.Get())
            gst_ghost_pad_set_target(GST_GHOST_PAD(ghosts_[1]), queueOut.Get());
        if (!gst_pad_is_linked(formatOut.Get()))
            gst_pad_link(formatOut.Get(), teeIn.Get());
    }
}

void* VideoCaptureFilter::ExtraInterface(const IID& iid) {
    if (iid == IAMDroppedFrames::IID_)
        return static_cast<IAMDroppedFrames*>(this);
    return DeviceFilter::ExtraInterface(iid);
}

HRESULT VideoCaptureFilter::GetNumDropped(int32_t* dropped) {
    if (!dropped)
        return E_POINTER;
    *dropped = dropped_->load();
    return S_OK;
}

bool VideoCaptureFilter::PreviewIsDirect() const {
    PadRef target = PadRef::Adopt(gst_ghost_pad_get_target(GST_GHOST_PAD(ghosts_[1])));
    PadRef formatOut = PadRef::Adopt(gst_element_get_static_pad(CapsFilter(), "src"));
    return target && target.Get() == formatOut.Get();
}

void VideoCaptureFilter::PinConnected(PadPin*) {
    UpdateLinks();
}
void VideoCaptureFilter::PinDisconnected(PadPin*) {
    UpdateLinks();
}

// ---------------------------------------------------------------------------
// AudioCaptureFilter
// ---------------------------------------------------------------------------
AudioCaptureFilter::AudioCaptureFilter(const CLSID& clsid, GstDevice* device)
    : DeviceFilter(clsid, device, false) {}

AudioCaptureFilter* AudioCaptureFilter::Create(const CLSID& clsid, GstDevice* device) {
    auto* filter = new AudioCaptureFilter(clsid, device);
    if (!filter->BuildSource()) {
        filter->Release();
        return nullptr;
    }
    GstPad* ghost = filter->MakeGhostPad(gst_element_get_static_pad(filter->CapsFilter(), "src"),
                                         u"Capture", GST_PAD_SRC);
    if (!ghost) {
        filter->Release();
        return nullptr;
    }
    filter->AddPin(std::make_unique<CapturePin>(filter, ghost, u"Capture"));
    return filter;
}

}  // namespace media::gst
