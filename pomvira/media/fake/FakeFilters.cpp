// SPDX-License-Identifier: GPL-3.0-or-later
#include "FakeInternal.h"

namespace media {
namespace fake {

using namespace internal;

// ---------------------------------------------------------------------------
// FakePin
// ---------------------------------------------------------------------------

FakePin::FakePin(FakeMediaSystem* system, FakeFilter* filter, const FakePinDesc& desc)
    : FakeObject(system, "Pin[" + filter->Name() + "/" + desc.name + "]"),
      filter_(filter),
      desc_(desc) {
    sys_->Register(this);
}

FakePin::~FakePin() {
    if (peer_)
        peer_->ForgetPeer(this);
    sys_->Unregister(this);
}

uint32_t FakePin::AddRef() {
    return static_cast<IBaseFilter*>(filter_)->AddRef();
}
uint32_t FakePin::Release() {
    return static_cast<IBaseFilter*>(filter_)->Release();
}

HRESULT FakePin::QueryInterface(const IID& iid, void** object) {
    if (!object)
        return E_POINTER;
    *object = nullptr;
    if (iid == IAMStreamConfig::IID_ && !desc_.streamConfig)
        return E_NOINTERFACE;
    if (iid == ISpecifyPropertyPages::IID_ && desc_.pages.empty())
        return E_NOINTERFACE;
    return ComObject::QueryInterface(iid, object);
}

void FakePin::Link(FakePin* other) {
    peer_ = other;
    other->peer_ = this;
}

HRESULT FakePin::Connect(IPin* receiver, const AM_MEDIA_TYPE* mt) {
    if (auto r = Call("Connect", LabelOf(receiver)); r && FAILED(*r))
        return *r;
    FakePin* other = AsFakePin(receiver);
    if (!other)
        return E_POINTER;
    if (peer_ || other->peer_)
        return VFW_E_ALREADY_CONNECTED;
    if (other->Direction() == Direction())
        return VFW_E_INVALID_DIRECTION;
    TMediaType type;
    if (mt) {
        type.Assign(mt);
    } else if (current_) {
        type = *current_;
    } else if (!desc_.formats.empty()) {
        type = desc_.formats.front();
    }
    Link(other);
    connectionType_ = type;
    other->connectionType_ = type;
    return S_OK;
}

HRESULT FakePin::Disconnect() {
    if (auto r = Call("Disconnect"))
        return *r;
    if (!peer_)
        return S_FALSE;
    peer_ = nullptr;
    connectionType_ = TMediaType();
    return S_OK;
}

HRESULT FakePin::ConnectedTo(IPin** other) {
    if (other)
        *other = nullptr;
    if (auto r = Call("ConnectedTo"))
        return *r;
    if (!other)
        return E_POINTER;
    if (!peer_)
        return VFW_E_NOT_CONNECTED;
    *other = peer_;
    peer_->AddRef();
    return S_OK;
}

HRESULT FakePin::ConnectionMediaType(AM_MEDIA_TYPE* mt) {
    if (auto r = Call("ConnectionMediaType"))
        return *r;
    if (!mt)
        return E_POINTER;
    std::memset(static_cast<void*>(mt), 0, sizeof *mt);
    if (!peer_)
        return VFW_E_NOT_CONNECTED;
    DuplicateMediaType(mt, connectionType_.AMMediaType());
    return S_OK;
}

HRESULT FakePin::QueryPinInfo(PIN_INFO* info) {
    if (auto r = Call("QueryPinInfo"))
        return *r;
    if (!info)
        return E_POINTER;
    info->pFilter = filter_;
    static_cast<IBaseFilter*>(filter_)->AddRef();
    info->dir = desc_.direction;
    info->achName = Wide(desc_.name);
    return S_OK;
}

HRESULT FakePin::QueryDirection(PIN_DIRECTION* dir) {
    if (auto r = Call("QueryDirection"))
        return *r;
    if (!dir)
        return E_POINTER;
    *dir = desc_.direction;
    return S_OK;
}

HRESULT FakePin::QueryId(WString* id) {
    if (auto r = Call("QueryId"))
        return *r;
    if (!id)
        return E_POINTER;
    *id = Wide(desc_.name);
    return S_OK;
}

HRESULT FakePin::EnumMediaTypes(IEnumMediaTypes** types) {
    if (types)
        *types = nullptr;
    if (auto r = Call("EnumMediaTypes"))
        return *r;
    if (!types)
        return E_POINTER;
    *types = new FakeEnumMediaTypes(desc_.formats);
    return S_OK;
}

HRESULT FakePin::GetFormat(AM_MEDIA_TYPE** mt) {
    if (mt)
        *mt = nullptr;
    if (auto r = Call("GetFormat"))
        return *r;
    if (!mt)
        return E_POINTER;
    if (current_) {
        *mt = CreateMediaType(current_->AMMediaType());
    } else if (!desc_.formats.empty()) {
        *mt = CreateMediaType(desc_.formats.front().AMMediaType());
    } else {
        return E_FAIL;
    }
    return S_OK;
}

HRESULT FakePin::SetFormat(const AM_MEDIA_TYPE* mt) {
    if (auto r = Call("SetFormat", mt ? DescribeMediaType(mt).toStdString() : "null"))
        return *r;
    if (!mt)
        return E_POINTER;
    TMediaType wanted(mt);
    if (!desc_.formats.empty() &&
        std::none_of(desc_.formats.begin(), desc_.formats.end(),
                     [&](const TMediaType& f) { return f.Equals(wanted); })) {
        return VFW_E_INVALIDMEDIATYPE;
    }
    // One setting serves every configurable pin of the filter that points
    // the same way, as a device's capture and preview branches share one format.
    for (const auto& pin : filter_->Pins()) {
        if (pin->desc_.streamConfig && pin->desc_.direction == desc_.direction) {
            pin->current_ = wanted;
        }
    }
    current_ = wanted;
    return S_OK;
}

HRESULT FakePin::GetNumberOfCapabilities(int32_t* count, int32_t* size) {
    if (auto r = Call("GetNumberOfCapabilities"))
        return *r;
    if (!count || !size)
        return E_POINTER;
    *count = int32_t(desc_.formats.size());
    *size = kVideoCapsSize;
    return S_OK;
}

HRESULT FakePin::GetStreamCaps(int32_t index, AM_MEDIA_TYPE** mt, uint8_t* caps) {
    if (mt)
        *mt = nullptr;
    if (auto r = Call("GetStreamCaps", std::to_string(index)))
        return *r;
    if (!mt)
        return E_POINTER;
    if (index < 0 || size_t(index) >= desc_.formats.size())
        return S_FALSE;
    *mt = CreateMediaType(desc_.formats[size_t(index)].AMMediaType());
    if (caps)
        std::memset(caps, 0, kVideoCapsSize);
    return S_OK;
}

HRESULT FakePin::GetPages(CAUUID* pages) {
    if (auto r = Call("GetPages"))
        return *r;
    if (!pages)
        return E_POINTER;
    pages->cElems = uint32_t(desc_.pages.size());
    pages->pElems = static_cast<GUID*>(CoTaskMemAlloc(sizeof(GUID) * desc_.pages.size()));
    std::copy(desc_.pages.begin(), desc_.pages.end(), pages->pElems);
    return S_OK;
}

// ---------------------------------------------------------------------------
// FakeFilter
// ---------------------------------------------------------------------------

FakeFilter::FakeFilter(FakeMediaSystem* system, const std::string& name, const CLSID& clsid)
    : FakeObject(system, "Filter[" + name + "]"), name_(name), clsid_(clsid) {
    sys_->Register(this);
}

FakeFilter::~FakeFilter() {
    sys_->Unregister(this);
    pins_.clear();
}

FakePin* FakeFilter::AddPin(const FakePinDesc& desc) {
    pins_.push_back(std::make_unique<FakePin>(sys_, this, desc));
    return pins_.back().get();
}

FakePin* FakeFilter::Pin(const std::string& name) const {
    for (const auto& pin : pins_) {
        if (pin->Name() == name)
            return pin.get();
    }
    return nullptr;
}

uint32_t FakeFilter::RefCount() {
    const uint32_t n = AddRef();
    Release();
    return n - 1;
}

std::optional<HRESULT> FakeFilter::CallAs(const std::string& label, const std::string& method,
                                          const std::string& args) {
    sys_->Log().Add(label + "." + method + (args.empty() ? "" : "(" + args + ")"));
    return sys_->Scripted(label, method);
}

void* FakeFilter::ExtraInterface(const IID& iid) {
    if (iid == ISpecifyPropertyPages::IID_ && !pages_.empty()) {
        return static_cast<ISpecifyPropertyPages*>(this);
    }
    if (iid == IAMVfwCaptureDialogs::IID_ && !captureDialogs_.empty()) {
        return static_cast<IAMVfwCaptureDialogs*>(this);
    }
    if (iid == IAMVfwCompressDialogs::IID_ && !compressDialogs_.empty()) {
        return static_cast<IAMVfwCompressDialogs*>(this);
    }
    return nullptr;
}

HRESULT FakeFilter::GetClassID(CLSID* clsid) {
    if (auto r = Call("GetClassID"))
        return *r;
    if (!clsid)
        return E_POINTER;
    *clsid = clsid_;
    return S_OK;
}

HRESULT FakeFilter::Stop() {
    if (auto r = Call("Stop"); r && FAILED(*r))
        return *r;
    state_ = State_Stopped;
    return sys_->Scripted(label_, "Stop").value_or(S_OK);
}

HRESULT FakeFilter::Pause() {
    if (auto r = Call("Pause"); r && FAILED(*r))
        return *r;
    state_ = State_Paused;
    return sys_->Scripted(label_, "Pause").value_or(S_OK);
}

HRESULT FakeFilter::Run(REFERENCE_TIME) {
    if (auto r = Call("Run"); r && FAILED(*r))
        return *r;
    state_ = State_Running;
    return sys_->Scripted(label_, "Run").value_or(S_OK);
}

HRESULT FakeFilter::GetState(uint32_t, FILTER_STATE* state) {
    if (auto r = Call("GetState"))
        return *r;
    if (!state)
        return E_POINTER;
    *state = state_;
    return S_OK;
}

HRESULT FakeFilter::EnumPins(IEnumPins** pins) {
    if (pins)
        *pins = nullptr;
    if (auto r = Call("EnumPins"))
        return *r;
    if (!pins)
        return E_POINTER;
    std::vector<ComPtr<IPin>> items;
    for (const auto& pin : pins_)
        items.emplace_back(static_cast<IPin*>(pin.get()));
    *pins = new SnapshotEnum<IEnumPins, IPin>(std::move(items));
    return S_OK;
}

HRESULT FakeFilter::FindPin(const WString& id, IPin** pin) {
    if (pin)
        *pin = nullptr;
    if (auto r = Call("FindPin", Utf8(id)))
        return *r;
    if (!pin)
        return E_POINTER;
    FakePin* found = Pin(Utf8(id));
    if (!found)
        return VFW_E_NOT_FOUND;
    *pin = found;
    found->AddRef();
    return S_OK;
}

HRESULT FakeFilter::QueryFilterInfo(FILTER_INFO* info) {
    if (auto r = Call("QueryFilterInfo"))
        return *r;
    if (!info)
        return E_POINTER;
    info->achName = nameInGraph_;
    info->pGraph = graph_;
    if (graph_)
        graph_->AddRef();
    return S_OK;
}

HRESULT FakeFilter::JoinFilterGraph(IFilterGraph* graph, const WString& name) {
    if (auto r = Call("JoinFilterGraph", graph ? Utf8(name) : "null"))
        return *r;
    graph_ = graph;
    nameInGraph_ = graph ? name : WString();
    return S_OK;
}

HRESULT FakeFilter::GetPages(CAUUID* pages) {
    if (auto r = Call("GetPages"))
        return *r;
    if (!pages)
        return E_POINTER;
    pages->cElems = uint32_t(pages_.size());
    pages->pElems = static_cast<GUID*>(CoTaskMemAlloc(sizeof(GUID) * pages_.size()));
    std::copy(pages_.begin(), pages_.end(), pages->pElems);
    return S_OK;
}

HRESULT FakeFilter::HasDialog(int32_t dialog) {
    if (auto r = Call("HasDialog", std::to_string(dialog)))
        return *r;
    return std::count(captureDialogs_.begin(), captureDialogs_.end(), dialog) ? S_OK : S_FALSE;
}

HRESULT FakeFilter::ShowDialog(int32_t dialog, QWidget* parent) {
    if (auto r = Call("ShowDialog", std::to_string(dialog) + ", " + (parent ? "window" : "null"))) {
        return *r;
    }
    if (!compressDialogs_.empty()) {
        // A compressor: 4 and 8 (without a window) ask whether the
        // configuration (1) or about (2) dialog exists.
        auto has = [&](int32_t code) {
            return std::count(compressDialogs_.begin(), compressDialogs_.end(), code) > 0;
        };
        if (dialog == 4)
            return has(1) ? S_OK : S_FALSE;
        if (dialog == 8)
            return has(2) ? S_OK : S_FALSE;
        return has(dialog) ? S_OK : E_INVALIDARG;
    }
    return std::count(captureDialogs_.begin(), captureDialogs_.end(), dialog) ? S_OK : E_INVALIDARG;
}

// ---------------------------------------------------------------------------
// FakeSampleGrabber
// ---------------------------------------------------------------------------

FakeSampleGrabber::FakeSampleGrabber(FakeMediaSystem* system)
    : FakeFilter(system, "Grabber", CLSID_SampleGrabber), script_(system->GrabberDefaults()) {
    AddPin({"Input", PINDIR_INPUT, {}, false, {}});
    AddPin({"Output", PINDIR_OUTPUT, {}, false, {}});
}

void* FakeSampleGrabber::ExtraInterface(const IID& iid) {
    if (iid == ISampleGrabber::IID_)
        return static_cast<ISampleGrabber*>(this);
    return FakeFilter::ExtraInterface(iid);
}

HRESULT FakeSampleGrabber::SetOneShot(bool oneShot) {
    return CallAs("Grabber", "SetOneShot", oneShot ? "1" : "0").value_or(S_OK);
}

HRESULT FakeSampleGrabber::SetMediaType(const AM_MEDIA_TYPE* mt) {
    if (auto r =
            CallAs("Grabber", "SetMediaType", mt ? DescribeMediaType(mt).toStdString() : "null")) {
        return *r;
    }
    if (!mt)
        return E_POINTER;
    requested_.Assign(mt);
    return S_OK;
}

HRESULT FakeSampleGrabber::GetConnectedMediaType(AM_MEDIA_TYPE* mt) {
    if (auto r = CallAs("Grabber", "GetConnectedMediaType"))
        return *r;
    if (!mt)
        return E_POINTER;
    if (!script_.connectedType)
        return VFW_E_NOT_CONNECTED;
    DuplicateMediaType(mt, script_.connectedType->AMMediaType());
    return S_OK;
}

HRESULT FakeSampleGrabber::SetBufferSamples(bool buffer) {
    if (auto r = CallAs("Grabber", "SetBufferSamples", buffer ? "1" : "0"))
        return *r;
    bufferSamples_ = buffer;
    return S_OK;
}

HRESULT FakeSampleGrabber::GetCurrentBuffer(int32_t* size, uint8_t* buffer) {
    if (auto r = CallAs("Grabber", "GetCurrentBuffer",
                        buffer ? std::to_string(size ? *size : 0) : "null")) {
        return *r;
    }
    if (!size)
        return E_POINTER;
    if (!script_.buffer)
        return VFW_E_WRONG_STATE;
    const auto length = int32_t(script_.buffer->size());
    if (!buffer) {
        *size = length;
        return S_OK;
    }
    const int32_t n = std::max(0, std::min(*size, length));
    if (n > 0)
        std::memcpy(buffer, script_.buffer->data(), size_t(n));
    *size = n;
    return S_OK;
}

HRESULT FakeSampleGrabber::SetCallback(ISampleGrabberCB* callback, int32_t which) {
    if (auto r = CallAs("Grabber", "SetCallback",
                        std::string(callback ? "set" : "null") + ", " + std::to_string(which))) {
        return *r;
    }
    callback_ = ComPtr<ISampleGrabberCB>(callback);
    callbackKind_ = which;
    return S_OK;
}

HRESULT FakeSampleGrabber::DeliverBuffer(double time, std::vector<uint8_t> data) {
    script_.buffer = data;
    if (!callback_)
        return S_FALSE;
    if (callbackKind_ == 1) {
        return callback_->BufferCB(time, script_.buffer->data(), int32_t(data.size()));
    }
    auto* sample = new FakeMediaSample(std::move(data));
    HRESULT hr = callback_->SampleCB(time, sample);
    sample->Release();
    return hr;
}

// ---------------------------------------------------------------------------
// FakeRenderer
// ---------------------------------------------------------------------------

FakeRenderer::FakeRenderer(FakeMediaSystem* system)
    : FakeFilter(system, "Renderer", CLSID_VideoRenderer),
      hasVideoWindow_(system->RendererDefaults().hasVideoWindow) {
    AddPin({"Input", PINDIR_INPUT, {}, false, {}});
}

void* FakeRenderer::ExtraInterface(const IID& iid) {
    if (iid == IVideoWindow::IID_ && hasVideoWindow_)
        return static_cast<IVideoWindow*>(this);
    return FakeFilter::ExtraInterface(iid);
}

HRESULT FakeRenderer::put_Caption(const WString& caption) {
    if (auto r = CallAs("Renderer", "put_Caption", Utf8(caption)))
        return *r;
    caption_ = caption;
    return S_OK;
}

HRESULT FakeRenderer::put_WindowStyle(int32_t style) {
    if (auto r = CallAs("Renderer", "put_WindowStyle", Hex8(uint32_t(style))))
        return *r;
    style_ = style;
    return S_OK;
}

HRESULT FakeRenderer::put_WindowStyleEx(int32_t style) {
    if (auto r = CallAs("Renderer", "put_WindowStyleEx", Hex8(uint32_t(style))))
        return *r;
    styleEx_ = style;
    return S_OK;
}

HRESULT FakeRenderer::put_Owner(QWidget* owner) {
    if (auto r = CallAs("Renderer", "put_Owner",
                        owner ? owner->objectName().toStdString() : std::string("null"))) {
        return *r;
    }
    owner_ = owner;
    ownerSet_ = owner != nullptr;
    return S_OK;
}

HRESULT FakeRenderer::put_MessageDrain(QWidget* drain) {
    if (auto r = CallAs("Renderer", "put_MessageDrain",
                        drain ? drain->objectName().toStdString() : std::string("null"))) {
        return *r;
    }
    drain_ = drain;
    return S_OK;
}

HRESULT FakeRenderer::put_Visible(int32_t visible) {
    if (auto r = CallAs("Renderer", "put_Visible", std::to_string(visible)))
        return *r;
    visible_ = visible;
    return S_OK;
}

HRESULT FakeRenderer::get_Visible(int32_t* visible) {
    if (auto r = CallAs("Renderer", "get_Visible"))
        return *r;
    if (!visible)
        return E_POINTER;
    *visible = visible_;
    return S_OK;
}

HRESULT FakeRenderer::SetWindowPosition(int32_t left, int32_t top, int32_t width, int32_t height) {
    if (auto r = CallAs("Renderer", "SetWindowPosition",
                        std::to_string(left) + ", " + std::to_string(top) + ", " +
                            std::to_string(width) + ", " + std::to_string(height))) {
        return *r;
    }
    position_ = {left, top, left + width, top + height};
    return S_OK;
}

}  // namespace fake
}  // namespace media
