// SPDX-License-Identifier: GPL-3.0-or-later
#include "FilterGraph.h"

#include <QCoreApplication>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <chrono>
#include <thread>
#include <cstdio>

#include "CaptureFilters.h"
#include "Filters.h"
#include "RecordingFileSink.h"
#include "SourceStallWatch.h"
#include "media/MediaUtil.h"

namespace media::gst {

namespace {

// How long a stop waits for the end of the stream of a graph that writes a
// file. The end of the stream has to push every frame still queued (the
// capture queue holds up to three seconds) through the compressors and the
// multiplexer, which then writes its index; a software compressor on a busy
// machine needs a few seconds for that. Past the bound the stop goes on and
// says that the file may lack its index (its owner finishes it), rather than
// the program hanging on an element that never finishes.
std::atomic<int64_t> g_drainTimeoutMs{5000};
constexpr GstClockTime kStateTimeout = 5 * GST_SECOND;
// How long a stop waits for the threads that sent the end of the stream.
constexpr int64_t kEosJoinBoundUs = 2 * G_USEC_PER_SEC;
// How long a device may deliver nothing while the graph drains before its
// end of stream is given at its output (a live device ends its stream
// within a frame or a sound buffer of being asked), and how often the
// drain looks.
constexpr int64_t kSilentDeviceUs = 1500000;
constexpr int kDrainTickMs = 250;

FILTER_STATE ToFilterState(GstState s) {
    return s == GST_STATE_PLAYING  ? State_Running
           : s == GST_STATE_PAUSED ? State_Paused
                                   : State_Stopped;
}

HRESULT ErrorResult(GError* error, GstObject* source) {
    if (!error)
        return E_FAIL;
    if (error->domain == GST_RESOURCE_ERROR) {
        switch (error->code) {
            case GST_RESOURCE_ERROR_NOT_FOUND:
            case GST_RESOURCE_ERROR_OPEN_READ:
            case GST_RESOURCE_ERROR_BUSY:
            case GST_RESOURCE_ERROR_READ:
                if (source && GST_IS_ELEMENT(source) &&
                    GST_OBJECT_FLAG_IS_SET(source, GST_ELEMENT_FLAG_SOURCE)) {
                    return VFW_E_NO_CAPTURE_HARDWARE;
                }
                return error->code == GST_RESOURCE_ERROR_NOT_FOUND ? VFW_E_NOT_FOUND : E_FAIL;
            case GST_RESOURCE_ERROR_OPEN_WRITE:
            case GST_RESOURCE_ERROR_OPEN_READ_WRITE:
            case GST_RESOURCE_ERROR_WRITE:
            case GST_RESOURCE_ERROR_NO_SPACE_LEFT:
            case GST_RESOURCE_ERROR_NOT_AUTHORIZED:
                return E_ACCESSDENIED;
            default:
                return E_FAIL;
        }
    }
    if (error->domain == GST_STREAM_ERROR) {
        switch (error->code) {
            case GST_STREAM_ERROR_FORMAT:
            case GST_STREAM_ERROR_WRONG_TYPE:
            case GST_STREAM_ERROR_NOT_IMPLEMENTED:
                return VFW_E_TYPE_NOT_ACCEPTED;
            default:
                return VFW_E_RUNTIME_ERROR;
        }
    }
    if (error->domain == GST_CORE_ERROR && error->code == GST_CORE_ERROR_NEGOTIATION) {
        return VFW_E_TYPE_NOT_ACCEPTED;
    }
    return E_FAIL;
}

// The system error behind a file writer's failure: the recording's writer
// gives the error number of the call that failed as its error's code.
int WriterErrno(GError* error) {
    return error && error->domain == RecordingFileErrorQuark() ? error->code : 0;
}

}  // namespace

void SetDrainTimeout(std::chrono::milliseconds timeout) {
    g_drainTimeoutMs = timeout.count();
}

namespace {

// A source that can no longer deliver: the device went away.
bool IsDeviceLoss(GError* error, GstObject* source) {
    return error && error->domain == GST_RESOURCE_ERROR &&
           (error->code == GST_RESOURCE_ERROR_NOT_FOUND ||
            error->code == GST_RESOURCE_ERROR_READ) &&
           source && GST_IS_ELEMENT(source) &&
           GST_OBJECT_FLAG_IS_SET(source, GST_ELEMENT_FLAG_SOURCE);
}

// The filter a graph's bin belongs to, kept on the bin while it is in a
// graph, so that the bus handler can tell which filter a message concerns.
GQuark FilterQuark() {
    static const GQuark quark = g_quark_from_static_string("pomvira-filter");
    return quark;
}

bool HasConnection(BinFilter* f) {
    for (const auto& pin : f->Pins()) {
        if (pin->IsConnected())
            return true;
    }
    return false;
}

}  // namespace

FilterGraph::FilterGraph() {
    pipeline_ = ElementRef::Sink(gst_pipeline_new(nullptr));
    bus_ = BusRef::Adopt(gst_element_get_bus(pipeline_.Get()));
    gst_bus_set_sync_handler(bus_.Get(), &FilterGraph::OnBusMessage, this, nullptr);
    // Made here, on the thread that makes graphs (the user-interface
    // thread), whichever thread runs the graph later.
    stallWatch_ = SourceStallWatch::Create(this);
}

FilterGraph::~FilterGraph() {
    stallWatch_.reset();
    GstState state = GST_STATE_NULL;
    gst_element_get_state(pipeline_.Get(), &state, nullptr, 0);
    if (state >= GST_STATE_PAUSED && WritesFile())
        Drain();
    gst_element_set_state(pipeline_.Get(), GST_STATE_NULL);
    JoinEosSenders();
    for (auto& f : filters_) {
        BinFilter* filter = BinFilter::From(f.Get());
        filter->DisconnectAll();
        gst_element_set_locked_state(filter->Bin(), FALSE);
        gst_element_set_state(filter->Bin(), GST_STATE_NULL);
        gst_bin_remove(GST_BIN(pipeline_.Get()), filter->Bin());
        filter->JoinFilterGraph(nullptr, WString());
        filter->LeftGraph();
    }
    filters_.clear();
    gst_bus_set_sync_handler(bus_.Get(), nullptr, nullptr, nullptr);
}

void* FilterGraph::ExtraInterface(const IID& iid) {
    if (iid == IID_GraphInternal)
        return static_cast<GraphInternal*>(this);
    return nullptr;
}

// ---------------------------------------------------------------------------
// Filters
// ---------------------------------------------------------------------------
std::vector<BinFilter*> FilterGraph::Filters() const {
    std::vector<BinFilter*> r;
    for (const auto& f : filters_)
        r.push_back(BinFilter::From(f.Get()));
    return r;
}

WString FilterGraph::UniqueName(const WString& wanted) const {
    auto taken = [this](const WString& name) {
        for (BinFilter* f : Filters()) {
            if (f->Name() == name)
                return true;
        }
        return false;
    };
    WString base = wanted.empty() ? WString(u"Filter") : wanted;
    if (!wanted.empty() && !taken(base))
        return base;
    for (int i = 1; i < 10000; ++i) {
        char suffix[16];
        std::snprintf(suffix, sizeof suffix, " %04d", i);
        WString name = base + FromUtf8(suffix);
        if (!taken(name))
            return name;
    }
    return base;
}

HRESULT FilterGraph::AddFilter(IBaseFilter* filter, const WString& name) {
    if (!filter)
        return E_POINTER;
    BinFilter* f = BinFilter::From(filter);
    if (!f)
        return E_INVALIDARG;
    if (f->Graph())
        return VFW_E_DUPLICATE_NAME;
    WString unique = UniqueName(name);
    GstElement* bin = f->Bin();
    if (GST_OBJECT_PARENT(bin))
        return E_INVALIDARG;
    gst_object_set_name(GST_OBJECT(bin), ToUtf8(unique).c_str());
    // Idle until one of its pins is connected.
    gst_element_set_locked_state(bin, TRUE);
    if (!gst_bin_add(GST_BIN(pipeline_.Get()), bin)) {
        gst_element_set_locked_state(bin, FALSE);
        return E_FAIL;
    }
    filters_.emplace_back(filter);
    g_object_set_qdata(G_OBJECT(bin), FilterQuark(), filter);
    f->JoinFilterGraph(this, unique);
    f->JoinedGraph(this);
    Log("add filter " + ToUtf8(unique));
    return S_OK;
}

HRESULT FilterGraph::RemoveFilter(IBaseFilter* filter) {
    if (!filter)
        return E_POINTER;
    for (auto it = filters_.begin(); it != filters_.end(); ++it) {
        if (it->Get() != filter)
            continue;
        ComPtr<IBaseFilter> keep = *it;
        BinFilter* f = BinFilter::From(filter);
        f->DisconnectAll();
        gst_element_set_locked_state(f->Bin(), TRUE);
        gst_element_set_state(f->Bin(), GST_STATE_NULL);
        gst_bin_remove(GST_BIN(pipeline_.Get()), f->Bin());
        gst_element_set_locked_state(f->Bin(), FALSE);
        g_object_set_qdata(G_OBJECT(f->Bin()), FilterQuark(), nullptr);
        filters_.erase(it);
        Log("remove filter " + ToUtf8(f->Name()));
        f->JoinFilterGraph(nullptr, WString());
        f->LeftGraph();
        return S_OK;
    }
    return VFW_E_NOT_FOUND;
}

HRESULT FilterGraph::EnumFilters(IEnumFilters** filters) {
    if (!filters)
        return E_POINTER;
    *filters = new SnapshotEnum<IEnumFilters, IBaseFilter>(filters_);
    return S_OK;
}

HRESULT FilterGraph::FindFilterByName(const WString& name, IBaseFilter** filter) {
    if (!filter)
        return E_POINTER;
    *filter = nullptr;
    for (auto& f : filters_) {
        if (BinFilter::From(f.Get())->Name() == name) {
            *filter = f.Get();
            f->AddRef();
            return S_OK;
        }
    }
    return VFW_E_NOT_FOUND;
}

void FilterGraph::Wake(BinFilter* filter) {
    if (!filter || !gst_element_is_locked_state(filter->Bin()))
        return;
    if (!HasConnection(filter))
        return;
    gst_element_set_locked_state(filter->Bin(), FALSE);
    // The state the graph is heading for, not the one it is in: a sink that
    // joins a running pipeline prerolls and so puts the pipeline back to
    // PAUSED for a moment, and a live source left there would never deliver
    // the frame that sink waits for.
    GST_OBJECT_LOCK(pipeline_.Get());
    GstState target = GST_STATE_TARGET(pipeline_.Get());
    GST_OBJECT_UNLOCK(pipeline_.Get());
    if (target > GST_STATE_NULL)
        gst_element_set_state(filter->Bin(), target);
}

void FilterGraph::WakeDownstream(BinFilter* filter, std::vector<BinFilter*>* seen) {
    if (std::find(seen->begin(), seen->end(), filter) != seen->end())
        return;
    seen->push_back(filter);
    for (PadPin* out : filter->PinsOf(PINDIR_OUTPUT, false)) {
        if (out->IsConnected())
            WakeDownstream(out->Peer()->Filter(), seen);
    }
    Wake(filter);
}

void FilterGraph::WakeConnection(PadPin* out) {
    if (wakeHolds_ > 0) {
        pendingWakes_.emplace_back(ComPtr<IBaseFilter>(out->Filter()), out);
        return;
    }
    std::vector<BinFilter*> seen;
    WakeDownstream(out->Filter(), &seen);
}

void FilterGraph::HoldWake() {
    ++wakeHolds_;
}

void FilterGraph::ReleaseWake() {
    if (wakeHolds_ == 0 || --wakeHolds_ > 0)
        return;
    auto pending = std::move(pendingWakes_);
    pendingWakes_.clear();
    for (auto& [filter, pin] : pending) {
        // Connections taken back since (a failed chain) wake nothing.
        if (pin->Filter()->Graph() == this && pin->IsConnected())
            WakeConnection(pin);
    }
}

void FilterGraph::SettleIdleFilters() {
    for (BinFilter* f : Filters()) {
        bool idle = !HasConnection(f);
        bool locked = gst_element_is_locked_state(f->Bin());
        if (idle && !locked) {
            gst_element_set_locked_state(f->Bin(), TRUE);
            gst_element_set_state(f->Bin(), GST_STATE_NULL);
        } else if (!idle && locked) {
            gst_element_set_locked_state(f->Bin(), FALSE);
        }
    }
}

// ---------------------------------------------------------------------------
// Connections
// ---------------------------------------------------------------------------
HRESULT FilterGraph::ConnectDirect(IPin* out, IPin* in, const AM_MEDIA_TYPE* mt) {
    if (!out || !in)
        return E_POINTER;
    PadPin* o = PadPin::From(out);
    PadPin* i = PadPin::From(in);
    if (!o || !i)
        return E_INVALIDARG;
    if (o->Filter()->Graph() != this || i->Filter()->Graph() != this)
        return VFW_E_NOT_IN_GRAPH;
    HRESULT hr = o->Connect(in, mt);
    if (SUCCEEDED(hr)) {
        Log("connect " + ToUtf8(o->Filter()->Name()) + "." + ToUtf8(o->Name()) + " -> " +
            ToUtf8(i->Filter()->Name()) + "." + ToUtf8(i->Name()));
        WakeConnection(o);
    }
    return hr;
}

HRESULT FilterGraph::Disconnect(IPin* pin) {
    if (!pin)
        return E_POINTER;
    PadPin* p = PadPin::From(pin);
    if (!p)
        return E_INVALIDARG;
    return p->Disconnect();
}

HRESULT FilterGraph::AddConverter(const std::vector<const char*>& factories, const WString& name,
                                  BinFilter** added) {
    ChainFilter* filter = ChainFilter::Create(CLSID_GstConverter, factories);
    if (!filter)
        return VFW_E_CANNOT_CONNECT;
    ComPtr<IBaseFilter> owned = ComPtr<IBaseFilter>::Attach(filter);
    HRESULT hr = AddFilter(filter, name);
    if (FAILED(hr))
        return hr;
    *added = filter;
    return S_OK;
}

HRESULT FilterGraph::ConnectWithConverters(PadPin* out, PadPin* in) {
    if (!out || !in)
        return E_POINTER;
    // The chain starts streaming only once it is complete.
    WakeHold hold(this);
    HRESULT hr = ConnectDirect(out, in, nullptr);
    if (SUCCEEDED(hr) || (hr != VFW_E_NO_ACCEPTABLE_TYPES && hr != VFW_E_TYPE_NOT_ACCEPTED &&
                          hr != VFW_E_CANNOT_CONNECT)) {
        return hr;
    }
    // Which converters: by what the output delivers.
    CapsRef formats = out->Formats();
    if (!formats || gst_caps_is_empty(formats.Get()))
        return VFW_E_CANNOT_CONNECT;
    const char* media = gst_structure_get_name(gst_caps_get_structure(formats.Get(), 0));
    struct Step {
        std::vector<const char*> factories;
        const char16_t* name;
    };
    std::vector<Step> steps;
    if (g_str_has_prefix(media, "image/jpeg")) {
        steps.push_back({{"jpegdec"}, u"MJPEG Decompressor"});
        steps.push_back({{"videoconvert"}, u"Color Space Converter"});
    } else if (g_str_has_prefix(media, "video/x-raw")) {
        steps.push_back({{"videoconvert"}, u"Color Space Converter"});
    } else if (g_str_has_prefix(media, "audio/x-raw")) {
        steps.push_back({{"audioconvert", "audioresample"}, u"Audio Converter"});
    } else {
        return VFW_E_CANNOT_CONNECT;
    }

    std::vector<BinFilter*> added;
    auto undo = [&] {
        for (BinFilter* f : added)
            RemoveFilter(f);
        return VFW_E_CANNOT_CONNECT;
    };
    PadPin* from = out;
    for (const Step& step : steps) {
        BinFilter* conv = nullptr;
        if (FAILED(AddConverter(step.factories, step.name, &conv)))
            return undo();
        added.push_back(conv);
        PadPin* convIn = conv->PinsOf(PINDIR_INPUT, true).front();
        if (FAILED(ConnectDirect(from, convIn, nullptr)))
            return undo();
        from = conv->PinsOf(PINDIR_OUTPUT, true).front();
    }
    if (FAILED(ConnectDirect(from, in, nullptr)))
        return undo();
    return S_OK;
}

HRESULT FilterGraph::Connect(IPin* out, IPin* in) {
    if (!out || !in)
        return E_POINTER;
    PadPin* o = PadPin::From(out);
    PadPin* i = PadPin::From(in);
    if (!o || !i)
        return E_INVALIDARG;
    return ConnectWithConverters(o, i);
}

HRESULT FilterGraph::Render(IPin* out) {
    PadPin* o = PadPin::From(out);
    if (!o)
        return out ? E_INVALIDARG : E_POINTER;
    if (o->IsConnected())
        return VFW_E_ALREADY_CONNECTED;
    CapsRef formats = o->Formats();
    if (!formats || gst_caps_is_empty(formats.Get()))
        return VFW_E_CANNOT_RENDER;
    const char* media = gst_structure_get_name(gst_caps_get_structure(formats.Get(), 0));
    if (!g_str_has_prefix(media, "video/") && !g_str_has_prefix(media, "image/")) {
        return VFW_E_CANNOT_RENDER;
    }
    ComPtr<IBaseFilter> renderer;
    if (FAILED(CoCreateInstance(CLSID_VideoRenderer, IBaseFilter::IID_, renderer.PutVoid()))) {
        return VFW_E_CANNOT_RENDER;
    }
    BinFilter* r = BinFilter::From(renderer.Get());
    if (!r || FAILED(AddFilter(renderer.Get(), u"Video Renderer")))
        return VFW_E_CANNOT_RENDER;
    std::vector<PadPin*> inputs = r->PinsOf(PINDIR_INPUT, true);
    if (inputs.empty() || FAILED(ConnectWithConverters(o, inputs.front()))) {
        RemoveFilter(renderer.Get());
        return VFW_E_CANNOT_RENDER;
    }
    return S_OK;
}

HRESULT FilterGraph::SetLogFile(intptr_t file) {
    std::lock_guard<std::mutex> guard(lock_);
    logFd_ = file > 0 ? int(file) : -1;
    return S_OK;
}

HRESULT FilterGraph::Abort() {
    return S_OK;
}

// ---------------------------------------------------------------------------
// Control
// ---------------------------------------------------------------------------
bool FilterGraph::WritesFile() const {
    for (BinFilter* f : Filters()) {
        if (f->WritesFile() && HasConnection(f))
            return true;
    }
    return false;
}

// The graph's clock. A camera's own clock is never taken: a PipeWire
// camera's clock follows its stream's position, which jumps when the stream
// starts again (by hours with some producers), and the running time with it.
// A microphone's clock is kept, as its samples follow it; otherwise the
// system's monotonic clock, which the cameras' stamps are made by anyway.
void FilterGraph::ChooseClock() {
    GstClock* soundClock = nullptr;
    bool cameraClock = false;
    GstIterator* it = gst_bin_iterate_recurse(GST_BIN(pipeline_.Get()));
    GValue item = G_VALUE_INIT;
    while (gst_iterator_next(it, &item) == GST_ITERATOR_OK) {
        auto* element = GST_ELEMENT(g_value_get_object(&item));
        if (GST_OBJECT_FLAG_IS_SET(element, GST_ELEMENT_FLAG_PROVIDE_CLOCK)) {
            IBaseFilter* filter = FilterOf(GST_OBJECT(element));
            auto* device = filter ? dynamic_cast<DeviceFilter*>(BinFilter::From(filter)) : nullptr;
            if (device && device->IsVideo()) {
                cameraClock = true;
            } else if (!soundClock) {
                soundClock = gst_element_provide_clock(element);
            }
        }
        g_value_reset(&item);
    }
    g_value_unset(&item);
    gst_iterator_free(it);
    if (!cameraClock) {
        gst_pipeline_auto_clock(GST_PIPELINE(pipeline_.Get()));
    } else if (soundClock) {
        gst_pipeline_use_clock(GST_PIPELINE(pipeline_.Get()), soundClock);
    } else {
        GstClock* system = gst_system_clock_obtain();
        gst_pipeline_use_clock(GST_PIPELINE(pipeline_.Get()), system);
        gst_object_unref(system);
    }
    if (soundClock)
        gst_object_unref(soundClock);
}

HRESULT FilterGraph::Run() {
    SettleIdleFilters();
    ChooseClock();
    {
        std::lock_guard<std::mutex> guard(lock_);
        errors_ = 0;
        lastError_ = E_FAIL;
        writerError_ = S_OK;
        endedWriters_.clear();
    }
    GstStateChangeReturn r = gst_element_set_state(pipeline_.Get(), GST_STATE_PLAYING);
    if (r != GST_STATE_CHANGE_FAILURE) {
        r = gst_element_get_state(pipeline_.Get(), nullptr, nullptr, kStateTimeout);
    }
    HRESULT failure = S_OK;
    {
        std::lock_guard<std::mutex> guard(lock_);
        if (r == GST_STATE_CHANGE_FAILURE || errors_ > 0)
            failure = lastError_;
    }
    if (FAILED(failure)) {
        gst_element_set_state(pipeline_.Get(), GST_STATE_READY);
        return failure;
    }
    DumpLayout("run");
    if (stallWatch_)
        stallWatch_->Start();
    return r == GST_STATE_CHANGE_ASYNC ? S_FALSE : S_OK;
}

void FilterGraph::JoinEosSenders() {
    // The graph has stopped, which ends every sending; a source that does
    // not let go even so is not waited for (its thread holds what it uses).
    const int64_t bound = g_get_monotonic_time() + kEosJoinBoundUs;
    while (*eosSending_ > 0 && g_get_monotonic_time() < bound)
        g_usleep(5000);
    for (std::thread& sender : eosSenders_) {
        if (*eosSending_ == 0)
            sender.join();
        else
            sender.detach();
    }
    eosSenders_.clear();
}

bool FilterGraph::Notifying() const {
    std::lock_guard<std::mutex> guard(lock_);
    return notifyWindow_ && !notifyOff_;
}

bool FilterGraph::FailedSinceRun() const {
    std::lock_guard<std::mutex> guard(lock_);
    return errors_ > 0;
}


HRESULT FilterGraph::Pause() {
    SettleIdleFilters();
    GstStateChangeReturn r = gst_element_set_state(pipeline_.Get(), GST_STATE_PAUSED);
    if (r == GST_STATE_CHANGE_FAILURE)
        return E_FAIL;
    return S_OK;
}

HRESULT FilterGraph::Stop() {
    if (stallWatch_)
        stallWatch_->Stop();
    GstState state = GST_STATE_NULL, pending = GST_STATE_VOID_PENDING;
    gst_element_get_state(pipeline_.Get(), &state, &pending, 0);
    if (state <= GST_STATE_READY && pending == GST_STATE_VOID_PENDING)
        return S_OK;
    HRESULT result = S_OK;
    if (state == GST_STATE_PLAYING && WritesFile()) {
        HRESULT writerError;
        {
            std::lock_guard<std::mutex> guard(lock_);
            writerError = writerError_;
        }
        // A writer that failed cannot complete its file: the end of the
        // stream would only wait for it in vain.
        result = FAILED(writerError) ? writerError : Drain();
    }
    // A source's end of stream is taken in only once its streaming thread
    // lets go, and the sending holds the source's (and its bin's) state
    // lock meanwhile: a thread blocked in the multiplexer, waiting for a
    // stream that no longer comes, would keep the sending, and then the
    // stop below, waiting for good. Flushing the writers' inputs releases it.
    if (*eosSending_ > 0)
        FlushWriters();
    gst_element_set_state(pipeline_.Get(), GST_STATE_READY);
    gst_element_get_state(pipeline_.Get(), nullptr, nullptr, kStateTimeout);
    JoinEosSenders();
    DumpLayout("stop");
    return result;
}

void FilterGraph::FlushWriters() {
    Log("stop: writers' inputs flushed");
    for (BinFilter* f : Filters()) {
        if (!f->WritesFile())
            continue;
        GstIterator* pads = gst_element_iterate_sink_pads(f->Bin());
        GValue item = G_VALUE_INIT;
        while (gst_iterator_next(pads, &item) == GST_ITERATOR_OK) {
            gst_pad_send_event(GST_PAD(g_value_get_object(&item)), gst_event_new_flush_start());
            g_value_reset(&item);
        }
        g_value_unset(&item);
        gst_iterator_free(pads);
    }
}

HRESULT FilterGraph::Drain() {
    std::vector<GstElement*> writers;
    for (BinFilter* f : Filters()) {
        if (f->WritesFile() && HasConnection(f))
            writers.push_back(f->Bin());
    }
    {
        std::lock_guard<std::mutex> guard(lock_);
        draining_ = true;
        drainEnded_ = false;
        drainError_ = S_OK;
    }
    Log("drain: end of stream sent");
    // Each source gets its end of stream on a thread of its own: sent one
    // after the other, a source whose stream waits in the multiplexer for
    // another (the sound, while a stalled camera sends nothing) would hold
    // the sending up for good. They are joined once the graph has stopped,
    // which ends any wait.
    GstIterator* sources = gst_bin_iterate_sources(GST_BIN(pipeline_.Get()));
    GValue item = G_VALUE_INIT;
    while (gst_iterator_next(sources, &item) == GST_ITERATOR_OK) {
        auto* source = GST_ELEMENT(gst_object_ref(g_value_get_object(&item)));
        g_value_reset(&item);
        ++*eosSending_;
        eosSenders_.emplace_back([source, sending = eosSending_] {
            gst_element_send_event(source, gst_event_new_eos());
            gst_object_unref(source);
            --*sending;
        });
    }
    g_value_unset(&item);
    gst_iterator_free(sources);
    // A device whose thread is stuck in its server (a sound server or a
    // camera service that hangs) takes its end of stream in only when the
    // server answers, if ever: one that has delivered nothing for a while
    // as the graph drains gets it at its output instead, so that what it
    // gave before is written and the file completed all the same.
    std::vector<DeviceFilter*> devices;
    for (BinFilter* f : Filters()) {
        if (auto* device = dynamic_cast<DeviceFilter*>(f); device && HasConnection(f))
            devices.push_back(device);
    }
    const int64_t drainStart = g_get_monotonic_time();
    auto endSilentDevices = [&] {
        const int64_t now = g_get_monotonic_time();
        for (auto it = devices.begin(); it != devices.end();) {
            if (now - std::max((*it)->LastFrameTime(), drainStart) < kSilentDeviceUs) {
                ++it;
                continue;
            }
            Log("drain: end of stream given at the output of " + ToUtf8((*it)->Name()) +
                ", which delivers nothing");
            // On a thread of its own, which holds the pad: the input it goes
            // to may be held by a thread that waits (a full queue ahead of a
            // slow writer), and the thread may outlive the graph.
            if (PadRef output = (*it)->Output()) {
                ++*eosSending_;
                eosSenders_.emplace_back([output = std::move(output), sending = eosSending_] {
                    gst_pad_push_event(output.Get(), gst_event_new_eos());
                    --*sending;
                });
            }
            it = devices.erase(it);
        }
    };
    // The writers' end-of-stream messages (or an error, or the pipeline's
    // own end of stream) arrive through the bus handler, which wakes us. A
    // writer whose stream already ended (its source ended it) counts.
    std::unique_lock<std::mutex> guard(lock_);
    const auto bound = std::chrono::steady_clock::now() +
                       std::chrono::milliseconds(g_drainTimeoutMs.load());
    auto allEnded = [&] {
        if (drainEnded_)
            return true;
        for (GstElement* w : writers) {
            if (std::find(endedWriters_.begin(), endedWriters_.end(), w) == endedWriters_.end())
                return false;
        }
        return true;
    };
    bool ended = false;
    while (!(ended = allEnded()) && std::chrono::steady_clock::now() < bound) {
        changed_.wait_until(guard, std::min(bound, std::chrono::steady_clock::now() +
                                                       std::chrono::milliseconds(kDrainTickMs)));
        if (!allEnded() && !devices.empty()) {
            guard.unlock();
            endSilentDevices();
            guard.lock();
        }
    }
    draining_ = false;
    if (!ended) {
        LogLocked("drain: no end of stream within the bound");
        return VFW_E_TIMEOUT;
    }
    // An error on the way, from a writer in particular, leaves the file
    // without what the end of the stream writes.
    if (FAILED(writerError_))
        return writerError_;
    return drainError_;
}

HRESULT FilterGraph::Halt() {
    if (stallWatch_)
        stallWatch_->Stop();
    // A sending still blocked in a writer's input is released first (see
    // Stop); NULL then closes every device and file.
    if (*eosSending_ > 0)
        FlushWriters();
    const GstStateChangeReturn r = gst_element_set_state(pipeline_.Get(), GST_STATE_NULL);
    JoinEosSenders();
    Log("halt");
    return r == GST_STATE_CHANGE_FAILURE ? E_FAIL : S_OK;
}

HRESULT FilterGraph::GetState(int32_t timeoutMs, FILTER_STATE* state) {
    if (!state)
        return E_POINTER;
    GstState current = GST_STATE_NULL, pending = GST_STATE_VOID_PENDING;
    GstClockTime timeout =
        timeoutMs < 0 ? GST_CLOCK_TIME_NONE : GstClockTime(timeoutMs) * GST_MSECOND;
    GstStateChangeReturn r = gst_element_get_state(pipeline_.Get(), &current, &pending, timeout);
    if (r == GST_STATE_CHANGE_ASYNC && pending != GST_STATE_VOID_PENDING) {
        *state = ToFilterState(pending);
        return S_FALSE;
    }
    *state = ToFilterState(current);
    return r == GST_STATE_CHANGE_FAILURE ? E_FAIL : S_OK;
}

HRESULT FilterGraph::GetCurrentPosition(int64_t* position) {
    if (!position)
        return E_POINTER;
    *position = 0;
    GstState state = GST_STATE_NULL;
    gst_element_get_state(pipeline_.Get(), &state, nullptr, 0);
    if (state < GST_STATE_PAUSED)
        return S_OK;
    // A running capture graph's position is the time it has run: its
    // sinks' positions follow the frames they are given, and the video
    // renderer is given none while nobody sees the video (the recording's
    // time would stand still while its windows are minimised).
    if (state == GST_STATE_PLAYING) {
        const GstClockTime running = gst_element_get_current_running_time(pipeline_.Get());
        if (GST_CLOCK_TIME_IS_VALID(running)) {
            *position = int64_t(running / 100);
            return S_OK;
        }
    }
    gint64 ns = 0;
    if (!gst_element_query_position(pipeline_.Get(), GST_FORMAT_TIME, &ns) || ns < 0) {
        GstClockTime running = gst_element_get_current_running_time(pipeline_.Get());
        ns = GST_CLOCK_TIME_IS_VALID(running) ? gint64(running) : 0;
    }
    *position = ns / 100;
    return S_OK;
}

// ---------------------------------------------------------------------------
// Events
// ---------------------------------------------------------------------------
void FilterGraph::QueueEvent(int32_t code, intptr_t param1, intptr_t param2) {
    std::lock_guard<std::mutex> guard(lock_);
    events_.push_back({code, param1, param2});
    changed_.notify_all();
    if (notifyWindow_ && !notifyOff_) {
        QCoreApplication::postEvent(notifyWindow_,
                                    new WindowMessageEvent(notifyMessage_, 0, notifyInstance_));
    }
}

HRESULT FilterGraph::GetEvent(int32_t* code, intptr_t* param1, intptr_t* param2,
                              int32_t timeoutMs) {
    if (!code || !param1 || !param2)
        return E_POINTER;
    std::unique_lock<std::mutex> guard(lock_);
    auto ready = [this] { return !events_.empty(); };
    if (timeoutMs < 0) {
        changed_.wait(guard, ready);
    } else if (!changed_.wait_for(guard, std::chrono::milliseconds(timeoutMs), ready)) {
        return E_ABORT;
    }
    Event e = events_.front();
    events_.pop_front();
    *code = e.code;
    *param1 = e.param1;
    *param2 = e.param2;
    return S_OK;
}

HRESULT FilterGraph::FreeEventParams(int32_t, intptr_t, intptr_t) {
    return S_OK;
}

HRESULT FilterGraph::SetNotifyWindow(QObject* window, uint32_t message, intptr_t instance) {
    std::lock_guard<std::mutex> guard(lock_);
    notifyWindow_ = window;
    notifyMessage_ = message;
    notifyInstance_ = instance;
    return S_OK;
}

HRESULT FilterGraph::SetNotifyFlags(int32_t flags) {
    if (flags != 0 && flags != 1)
        return E_INVALIDARG;
    std::lock_guard<std::mutex> guard(lock_);
    notifyOff_ = flags == 1;
    return S_OK;
}

GstBusSyncReply FilterGraph::OnBusMessage(GstBus*, GstMessage* message, gpointer self) {
    auto* graph = static_cast<FilterGraph*>(self);
    graph->busGuard_.Run([&] { graph->HandleMessage(message); });
    return GST_BUS_DROP;
}

void FilterGraph::HandleMessage(GstMessage* message) {
    GstObject* source = GST_MESSAGE_SRC(message);
    std::string from = source ? GST_OBJECT_NAME(source) : "?";
    switch (GST_MESSAGE_TYPE(message)) {
        case GST_MESSAGE_EOS: {
            Log("end of stream");
            bool draining;
            {
                std::lock_guard<std::mutex> guard(lock_);
                draining = draining_;
                drainEnded_ = true;
                changed_.notify_all();
            }
            if (!draining)
                QueueEvent(EC_COMPLETE, S_OK, 0);
            break;
        }
        case GST_MESSAGE_ERROR: {
            ErrorRef error;
            StringRef debug;
            gst_message_parse_error(message, error.Put(), debug.Put());
            IBaseFilter* filter = FilterOf(source);
            BinFilter* failed = filter ? BinFilter::From(filter) : nullptr;
            const bool writer = failed && failed->WritesFile();
            HRESULT hr = writer ? WriterErrorResult(WriterErrno(error.Get()))
                                : ErrorResult(error.Get(), source);
            Log("error from " + from + ": " + (error ? error->message : "") +
                (debug ? std::string(" (") + debug.Get() + ")" : std::string()));
            // A source that fails to start posts its reason and then a
            // generic state change error: the reason is the one that counts.
            bool followUp = error && error->domain == GST_CORE_ERROR &&
                            error->code == GST_CORE_ERROR_STATE_CHANGE;
            bool draining;
            {
                std::lock_guard<std::mutex> guard(lock_);
                draining = draining_;
                drainEnded_ = true;
                followUp = followUp && errors_ > 0;
                if (errors_ == 0)
                    lastError_ = hr;
                ++errors_;
                if (writer && SUCCEEDED(writerError_))
                    writerError_ = hr;
                if (draining_ && SUCCEEDED(drainError_))
                    drainError_ = hr;
                changed_.notify_all();
            }
            if (draining || followUp)
                break;
            // As the device removal notice: the filter whose device went
            // away, and 0 for "removed".
            if (IsDeviceLoss(error.Get(), source))
                QueueEvent(EC_DEVICE_LOST, intptr_t(filter), 0);
            QueueEvent(EC_ERRORABORT, hr, intptr_t(filter));
            break;
        }
        case GST_MESSAGE_ELEMENT: {
            // A file writer's bin forwards its sink's end of stream (the
            // pipeline itself announces the end only once every sink has it).
            const GstStructure* s = gst_message_get_structure(message);
            if (!s || !gst_structure_has_name(s, "GstBinForwarded"))
                break;
            GstMessage* inner = nullptr;
            gst_structure_get(s, "message", GST_TYPE_MESSAGE, &inner, nullptr);
            MessageRef forwarded = MessageRef::Adopt(inner);
            if (forwarded && GST_MESSAGE_TYPE(forwarded.Get()) == GST_MESSAGE_EOS && source &&
                GST_IS_ELEMENT(source)) {
                std::lock_guard<std::mutex> guard(lock_);
                endedWriters_.push_back(GST_ELEMENT(source));
                LogLocked("end of stream at " + from);
                changed_.notify_all();
            }
            break;
        }
        case GST_MESSAGE_WARNING: {
            ErrorRef error;
            StringRef debug;
            gst_message_parse_warning(message, error.Put(), debug.Put());
            Log("warning from " + from + ": " + (error ? error->message : ""));
            break;
        }
        case GST_MESSAGE_STATE_CHANGED: {
            GstState oldState, newState, pending;
            gst_message_parse_state_changed(message, &oldState, &newState, &pending);
            Log("state " + from + ": " + gst_element_state_get_name(oldState) + " -> " +
                gst_element_state_get_name(newState));
            break;
        }
        default:
            Log(std::string("message ") + GST_MESSAGE_TYPE_NAME(message) + " from " + from);
            break;
    }
}

IBaseFilter* FilterGraph::FilterOf(GstObject* object) const {
    // The filter's bin is the pipeline's child on the way up.
    for (GstObject* o = object; o; o = GST_OBJECT_PARENT(o)) {
        if (GST_OBJECT_PARENT(o) == GST_OBJECT(pipeline_.Get()))
            return static_cast<IBaseFilter*>(g_object_get_qdata(G_OBJECT(o), FilterQuark()));
    }
    return nullptr;
}

void FilterGraph::Log(const std::string& line) {
    std::lock_guard<std::mutex> guard(lock_);
    LogLocked(line);
}

void FilterGraph::LogLocked(const std::string& line) {
    if (logFd_ < 0)
        return;
    char stamp[32];
    std::snprintf(stamp, sizeof stamp, "%.3f ",
                  double(g_get_monotonic_time()) / double(G_USEC_PER_SEC));
    std::string text = stamp + line + "\n";
    const char* p = text.data();
    size_t left = text.size();
    while (left > 0) {
        ssize_t n = ::write(logFd_, p, left);
        if (n <= 0)
            break;
        p += n;
        left -= size_t(n);
    }
}

void FilterGraph::SetInspectionName(const std::string& name) {
    {
        std::lock_guard<std::mutex> guard(lock_);
        inspectionName_ = name;
    }
    DumpLayout(nullptr);
}

void FilterGraph::DumpLayout(const char* when) {
    std::string name;
    {
        std::lock_guard<std::mutex> guard(lock_);
        name = inspectionName_;
    }
    if (name.empty() || !g_getenv("GST_DEBUG_DUMP_DOT_DIR"))
        return;
    if (when)
        name += std::string(" ") + when;
    gst_debug_bin_to_dot_file(GST_BIN(pipeline_.Get()), GST_DEBUG_GRAPH_SHOW_ALL, name.c_str());
}

// ---------------------------------------------------------------------------
// Site and audio
// ---------------------------------------------------------------------------
HRESULT FilterGraph::SetSite(IUnknown* site) {
    site_ = ComPtr<IUnknown>(site);
    return S_OK;
}

HRESULT FilterGraph::put_Volume(int32_t volume) {
    if (volume < -10000 || volume > 0)
        return E_INVALIDARG;
    volume_ = volume;
    return S_OK;
}

HRESULT FilterGraph::put_Balance(int32_t balance) {
    if (balance < -10000 || balance > 10000)
        return E_INVALIDARG;
    balance_ = balance;
    return S_OK;
}

}  // namespace media::gst
