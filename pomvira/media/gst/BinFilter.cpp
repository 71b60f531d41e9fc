// SPDX-License-Identifier: GPL-3.0-or-later
#include "BinFilter.h"

#include <QString>
#include <algorithm>

namespace media::gst {

std::string ToUtf8(const WString& text) {
    return QString::fromStdU16String(text).toStdString();
}

WString FromUtf8(const char* text) {
    return text ? QString::fromUtf8(text).toStdU16String() : WString();
}

namespace {

// A record for caps the layer has no exact layout for: the major type only.
TMediaType LooseMediaType(const GstCaps* caps) {
    TMediaType mt;
    if (MediaTypeFromCaps(caps, &mt))
        return mt;
    mt.SetFormatType(FORMAT_None);
    const char* name = (caps && gst_caps_get_size(caps) > 0)
                           ? gst_structure_get_name(gst_caps_get_structure(caps, 0))
                           : "";
    if (g_str_has_prefix(name, "video/") || g_str_has_prefix(name, "image/")) {
        mt.SetMajorType(MEDIATYPE_Video);
    } else if (g_str_has_prefix(name, "audio/")) {
        mt.SetMajorType(MEDIATYPE_Audio);
    } else {
        mt.SetMajorType(MEDIATYPE_Stream);
    }
    return mt;
}

}  // namespace

// ---------------------------------------------------------------------------
// PadPin
// ---------------------------------------------------------------------------
PadPin::PadPin(BinFilter* filter, GstPad* ghost, const WString& name)
    : filter_(filter),
      pad_(g_object_is_floating(ghost) ? PadRef::Sink(ghost) : PadRef::Adopt(ghost)),
      name_(name),
      dir_(gst_pad_get_direction(ghost) == GST_PAD_SRC ? PINDIR_OUTPUT : PINDIR_INPUT) {
    GstObject* parent = gst_object_get_parent(GST_OBJECT(ghost));
    if (parent) {
        gst_object_unref(parent);
    } else {
        gst_element_add_pad(filter_->Bin(), ghost);
    }
}

PadPin::~PadPin() = default;

PadPin* PadPin::From(IUnknown* object) {
    if (!object)
        return nullptr;
    void* p = nullptr;
    if (FAILED(object->QueryInterface(IID_PadPin, &p)) || !p)
        return nullptr;
    auto* pin = static_cast<PadPin*>(p);
    pin->Release();
    return pin;
}

uint32_t PadPin::AddRef() {
    return filter_->AddRef();
}
uint32_t PadPin::Release() {
    return filter_->Release();
}

void* PadPin::ExtraInterface(const IID& iid) {
    if (iid == IID_PadPin)
        return this;
    return nullptr;
}

CapsRef PadPin::Formats() {
    return CapsRef::Adopt(gst_pad_query_caps(pad_.Get(), nullptr));
}

std::vector<TMediaType> PadPin::MediaTypes() {
    std::vector<TMediaType> types;
    CapsRef caps = Formats();
    for (const CapsRef& one : ExpandCaps(caps.Get())) {
        TMediaType mt;
        if (MediaTypeFromCaps(one.Get(), &mt))
            types.push_back(std::move(mt));
    }
    return types;
}

CapsRef PadPin::CurrentCaps() {
    CapsRef caps = CapsRef::Adopt(gst_pad_get_current_caps(pad_.Get()));
    if (caps || !peer_)
        return caps;
    CapsRef mine = Formats();
    CapsRef theirs = peer_->Formats();
    if (!mine || !theirs)
        return nullptr;
    CapsRef common = CapsRef::Adopt(gst_caps_intersect(mine.Get(), theirs.Get()));
    if (gst_caps_is_empty(common.Get()) || gst_caps_is_any(common.Get()))
        return nullptr;
    return CapsRef::Adopt(gst_caps_fixate(common.Detach()));
}

HRESULT PadPin::Connect(IPin* receiver, const AM_MEDIA_TYPE* mt) {
    if (!receiver)
        return E_POINTER;
    PadPin* in = From(receiver);
    if (!in)
        return VFW_E_CANNOT_CONNECT;
    if (dir_ != PINDIR_OUTPUT || in->dir_ != PINDIR_INPUT)
        return VFW_E_INVALID_DIRECTION;
    if (peer_ || in->peer_)
        return VFW_E_ALREADY_CONNECTED;
    if (!filter_->Graph() || filter_->Graph() != in->filter_->Graph())
        return VFW_E_NOT_IN_GRAPH;

    CapsRef mine = Formats();
    CapsRef theirs = in->Formats();
    if (!mine || !theirs)
        return VFW_E_NO_TYPES;
    CapsRef common = CapsRef::Adopt(gst_caps_intersect(mine.Get(), theirs.Get()));
    if (mt) {
        CapsRef wanted = CapsFromMediaType(*mt);
        if (!wanted)
            return VFW_E_TYPE_NOT_ACCEPTED;
        common = CapsRef::Adopt(gst_caps_intersect(common.Get(), wanted.Get()));
        if (gst_caps_is_empty(common.Get()))
            return VFW_E_TYPE_NOT_ACCEPTED;
    }
    if (gst_caps_is_empty(common.Get()))
        return VFW_E_NO_ACCEPTABLE_TYPES;

    // The receiving side first: a multiplexer gives its free pin a target here.
    HRESULT hr = in->filter_->PrepareConnect(in, this, common.Get());
    if (FAILED(hr))
        return hr;
    hr = filter_->PrepareConnect(this, in, common.Get());
    if (FAILED(hr)) {
        in->filter_->PinDisconnected(in);
        return hr;
    }
    GstPadLinkReturn r = gst_pad_link(pad_.Get(), in->pad_.Get());
    if (r != GST_PAD_LINK_OK) {
        filter_->PinDisconnected(this);
        in->filter_->PinDisconnected(in);
        return r == GST_PAD_LINK_NOFORMAT ? VFW_E_NO_ACCEPTABLE_TYPES : VFW_E_CANNOT_CONNECT;
    }
    peer_ = in;
    in->peer_ = this;
    filter_->PinConnected(this);
    in->filter_->PinConnected(in);
    return S_OK;
}

void PadPin::Unlink() {
    PadPin* other = peer_;
    if (!other)
        return;
    if (dir_ == PINDIR_OUTPUT) {
        gst_pad_unlink(pad_.Get(), other->pad_.Get());
    } else {
        gst_pad_unlink(other->pad_.Get(), pad_.Get());
    }
    peer_ = nullptr;
    other->peer_ = nullptr;
    // Both filters may go away in these calls' callers; keep them alive here.
    ComPtr<IBaseFilter> keepA(filter_), keepB(other->filter_);
    filter_->PinDisconnected(this);
    other->filter_->PinDisconnected(other);
}

HRESULT PadPin::Disconnect() {
    if (!peer_)
        return S_FALSE;
    Unlink();
    return S_OK;
}

HRESULT PadPin::ConnectedTo(IPin** other) {
    if (!other)
        return E_POINTER;
    *other = nullptr;
    if (!peer_)
        return VFW_E_NOT_CONNECTED;
    *other = peer_;
    peer_->AddRef();
    return S_OK;
}

HRESULT PadPin::ConnectionMediaType(AM_MEDIA_TYPE* mt) {
    if (!mt)
        return E_POINTER;
    if (!peer_) {
        *mt = AM_MEDIA_TYPE{};
        mt->formattype = FORMAT_None;
        return VFW_E_NOT_CONNECTED;
    }
    CapsRef caps = CurrentCaps();
    DuplicateMediaType(mt, LooseMediaType(caps.Get()).AMMediaType());
    return S_OK;
}

HRESULT PadPin::QueryPinInfo(PIN_INFO* info) {
    if (!info)
        return E_POINTER;
    info->pFilter = filter_;
    filter_->AddRef();
    info->dir = dir_;
    info->achName = name_;
    return S_OK;
}

HRESULT PadPin::QueryDirection(PIN_DIRECTION* dir) {
    if (!dir)
        return E_POINTER;
    *dir = dir_;
    return S_OK;
}

HRESULT PadPin::QueryId(WString* id) {
    if (!id)
        return E_POINTER;
    *id = name_;
    return S_OK;
}

HRESULT PadPin::EnumMediaTypes(IEnumMediaTypes** types) {
    if (!types)
        return E_POINTER;
    *types = new MediaTypeEnum(MediaTypes());
    return S_OK;
}

// ---------------------------------------------------------------------------
// BinFilter
// ---------------------------------------------------------------------------
BinFilter::BinFilter(const CLSID& clsid, GstElement* bin)
    : clsid_(clsid), bin_(ElementRef::Sink(bin)) {}

BinFilter::~BinFilter() {
    // Pins of other filters must not keep pointing here.
    for (auto& pin : pins_) {
        if (PadPin* other = pin->peer_) {
            pin->peer_ = nullptr;
            other->peer_ = nullptr;
        }
    }
    if (bin_) {
        GstObject* parent = gst_object_get_parent(GST_OBJECT(bin_.Get()));
        if (parent) {
            gst_element_set_state(bin_.Get(), GST_STATE_NULL);
            gst_bin_remove(GST_BIN(parent), bin_.Get());
            gst_object_unref(parent);
        } else {
            gst_element_set_state(bin_.Get(), GST_STATE_NULL);
        }
    }
    pins_.clear();
    removed_.clear();
}

BinFilter* BinFilter::From(IUnknown* object) {
    if (!object)
        return nullptr;
    void* p = nullptr;
    if (FAILED(object->QueryInterface(IID_BinFilter, &p)) || !p)
        return nullptr;
    auto* filter = static_cast<BinFilter*>(p);
    filter->Release();
    return filter;
}

void* BinFilter::ExtraInterface(const IID& iid) {
    if (iid == IID_BinFilter)
        return this;
    return nullptr;
}

HRESULT BinFilter::GetClassID(CLSID* clsid) {
    if (!clsid)
        return E_POINTER;
    *clsid = clsid_;
    return S_OK;
}

HRESULT BinFilter::Stop() {
    gst_element_set_state(bin_.Get(), GST_STATE_READY);
    return S_OK;
}

HRESULT BinFilter::Pause() {
    return gst_element_set_state(bin_.Get(), GST_STATE_PAUSED) == GST_STATE_CHANGE_FAILURE ? E_FAIL
                                                                                           : S_OK;
}

HRESULT BinFilter::Run(REFERENCE_TIME) {
    return gst_element_set_state(bin_.Get(), GST_STATE_PLAYING) == GST_STATE_CHANGE_FAILURE ? E_FAIL
                                                                                            : S_OK;
}

HRESULT BinFilter::GetState(uint32_t timeoutMs, FILTER_STATE* state) {
    if (!state)
        return E_POINTER;
    GstState current = GST_STATE_NULL;
    gst_element_get_state(bin_.Get(), &current, nullptr, GstClockTime(timeoutMs) * GST_MSECOND);
    *state = current == GST_STATE_PLAYING  ? State_Running
             : current == GST_STATE_PAUSED ? State_Paused
                                           : State_Stopped;
    return S_OK;
}

HRESULT BinFilter::EnumPins(IEnumPins** pins) {
    if (!pins)
        return E_POINTER;
    std::vector<ComPtr<IPin>> items;
    for (auto& pin : pins_)
        items.emplace_back(pin.get());
    *pins = new SnapshotEnum<IEnumPins, IPin>(std::move(items));
    return S_OK;
}

HRESULT BinFilter::FindPin(const WString& id, IPin** pin) {
    if (!pin)
        return E_POINTER;
    *pin = PinByName(id);
    if (!*pin)
        return VFW_E_NOT_FOUND;
    (*pin)->AddRef();
    return S_OK;
}

HRESULT BinFilter::QueryFilterInfo(FILTER_INFO* info) {
    if (!info)
        return E_POINTER;
    info->achName = name_;
    info->pGraph = graph_;
    if (graph_)
        graph_->AddRef();
    return S_OK;
}

HRESULT BinFilter::JoinFilterGraph(IFilterGraph* graph, const WString& name) {
    graph_ = graph;
    name_ = graph ? name : WString();
    return S_OK;
}

std::vector<PadPin*> BinFilter::PinsOf(PIN_DIRECTION dir, bool freeOnly) const {
    std::vector<PadPin*> r;
    for (auto& pin : pins_) {
        if (pin->Direction() == dir && (!freeOnly || !pin->IsConnected()))
            r.push_back(pin.get());
    }
    return r;
}

PadPin* BinFilter::PinByName(const WString& name) const {
    for (auto& pin : pins_) {
        if (pin->Name() == name)
            return pin.get();
    }
    return nullptr;
}

void BinFilter::DisconnectAll() {
    // Disconnecting may change the pin list (a multiplexer drops its pins).
    for (;;) {
        PadPin* connected = nullptr;
        for (auto& pin : pins_) {
            if (pin->IsConnected()) {
                connected = pin.get();
                break;
            }
        }
        if (!connected)
            break;
        connected->Unlink();
    }
}

HRESULT BinFilter::PrepareConnect(PadPin*, PadPin*, GstCaps*) {
    return S_OK;
}
void BinFilter::PinConnected(PadPin*) {}
void BinFilter::PinDisconnected(PadPin*) {}
void BinFilter::JoinedGraph(IFilterGraph*) {}
void BinFilter::LeftGraph() {}

PadPin* BinFilter::AddPin(std::unique_ptr<PadPin> pin) {
    pins_.push_back(std::move(pin));
    return pins_.back().get();
}

GstPad* BinFilter::MakeGhostPad(GstPad* target, const WString& name, GstPadDirection dir) {
    PadRef owned = PadRef::Adopt(target);
    std::string padName = ToUtf8(name);
    GstPad* ghost = target ? gst_ghost_pad_new(padName.c_str(), target)
                           : gst_ghost_pad_new_no_target(padName.c_str(), dir);
    if (!ghost)
        return nullptr;
    ghost = GST_PAD(gst_object_ref_sink(ghost));
    gst_pad_set_active(ghost, TRUE);
    gst_element_add_pad(bin_.Get(), ghost);
    return ghost;
}

PadPin* BinFilter::ExposePad(GstPad* target, const WString& name) {
    GstPadDirection dir = target ? gst_pad_get_direction(target) : GST_PAD_UNKNOWN;
    GstPad* ghost = MakeGhostPad(target, name, dir);
    if (!ghost)
        return nullptr;
    return AddPin(std::make_unique<PadPin>(this, ghost, name));
}

void BinFilter::RemovePin(PadPin* pin) {
    if (!pin)
        return;
    pin->Unlink();
    for (auto it = pins_.begin(); it != pins_.end(); ++it) {
        if (it->get() == pin) {
            gst_element_remove_pad(bin_.Get(), pin->Pad());
            removed_.push_back(std::move(*it));
            pins_.erase(it);
            return;
        }
    }
}

// ---------------------------------------------------------------------------
// MediaTypeEnum
// ---------------------------------------------------------------------------
HRESULT MediaTypeEnum::Next(uint32_t count, AM_MEDIA_TYPE** out, uint32_t* fetched) {
    if (!out)
        return E_POINTER;
    uint32_t n = 0;
    while (n < count && pos_ < types_.size())
        out[n++] = CreateMediaType(types_[pos_++].AMMediaType());
    if (fetched)
        *fetched = n;
    return n == count ? S_OK : S_FALSE;
}

HRESULT MediaTypeEnum::Skip(uint32_t count) {
    size_t left = types_.size() - pos_;
    pos_ += std::min<size_t>(left, count);
    return left >= count ? S_OK : S_FALSE;
}

HRESULT MediaTypeEnum::Reset() {
    pos_ = 0;
    return S_OK;
}

}  // namespace media::gst
