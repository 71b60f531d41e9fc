// SPDX-License-Identifier: GPL-3.0-or-later
#include "FakeInternal.h"

namespace media {
namespace fake {

using namespace internal;

// ---------------------------------------------------------------------------
// FakeGraph
// ---------------------------------------------------------------------------

FakeGraph::FakeGraph(FakeMediaSystem* system) : FakeObject(system, "Graph") {
    sys_->Register(this);
}

FakeGraph::~FakeGraph() {
    sys_->Unregister(this);
    for (Entry& entry : filters_)
        entry.filter->JoinFilterGraph(nullptr, WString());
    filters_.clear();
}

void* FakeGraph::ExtraInterface(const IID& iid) {
    if (iid == IBasicAudio::IID_ && audio_)
        return static_cast<IBasicAudio*>(this);
    return nullptr;
}

int FakeGraph::Find(IBaseFilter* filter) const {
    if (!filter)
        return -1;
    for (size_t i = 0; i < filters_.size(); ++i) {
        if (SameObject(filters_[i].filter.Get(), filter))
            return int(i);
    }
    return -1;
}

std::string FakeGraph::NameOf(IBaseFilter* filter) const {
    const int i = Find(filter);
    if (i >= 0)
        return Utf8(filters_[size_t(i)].name);
    return LabelOf(filter);
}

std::vector<std::string> FakeGraph::FilterNames() const {
    std::vector<std::string> names;
    for (const Entry& entry : filters_)
        names.push_back(Utf8(entry.name));
    return names;
}

bool FakeGraph::HasFilter(const std::string& name) const {
    const auto names = FilterNames();
    return std::find(names.begin(), names.end(), name) != names.end();
}

void FakeGraph::SetFilterStates(FILTER_STATE state) {
    for (Entry& entry : filters_) {
        if (FakeFilter* filter = AsFakeFilter(entry.filter.Get()))
            filter->SetStateSilently(state);
    }
}

void FakeGraph::PostEvent(int32_t code, intptr_t param1, intptr_t param2) {
    events_.push_back({code, param1, param2});
    if (notifyWindow_ && notifyFlags_ == 0) {
        QCoreApplication::postEvent(notifyWindow_.data(),
                                    new WindowMessageEvent(notifyMessage_, 0, notifyInstance_));
    }
}

HRESULT FakeGraph::AddFilter(IBaseFilter* filter, const WString& name) {
    if (auto r = Call("AddFilter", Utf8(name) + (filter ? "" : ", null")); r && FAILED(*r)) {
        return *r;
    }
    if (!filter)
        return E_POINTER;
    if (Find(filter) >= 0)
        return VFW_E_DUPLICATE_NAME;
    WString unique = name;
    HRESULT hr = S_OK;
    for (int n = 1; HasFilter(Utf8(unique)); ++n) {
        char suffix[16];
        std::snprintf(suffix, sizeof suffix, " %04d", n);
        unique = name + Wide(suffix);
        hr = HR(0x0004022D);  // VFW_S_DUPLICATE_NAME
    }
    filters_.push_back({unique, ComPtr<IBaseFilter>(filter)});
    filter->JoinFilterGraph(this, unique);
    return sys_->Scripted(label_, "AddFilter").value_or(hr);
}

HRESULT FakeGraph::RemoveFilter(IBaseFilter* filter) {
    if (auto r = Call("RemoveFilter", filter ? NameOf(filter) : "null"))
        return *r;
    if (!filter)
        return E_POINTER;
    const int i = Find(filter);
    if (i < 0)
        return VFW_E_NOT_FOUND;
    ComPtr<IBaseFilter> keep = filters_[size_t(i)].filter;
    filters_.erase(filters_.begin() + i);
    keep->JoinFilterGraph(nullptr, WString());
    return S_OK;
}

HRESULT FakeGraph::EnumFilters(IEnumFilters** filters) {
    if (filters)
        *filters = nullptr;
    if (auto r = Call("EnumFilters"))
        return *r;
    if (!filters)
        return E_POINTER;
    std::vector<ComPtr<IBaseFilter>> items;
    for (const Entry& entry : filters_)
        items.push_back(entry.filter);
    *filters = new SnapshotEnum<IEnumFilters, IBaseFilter>(std::move(items));
    return S_OK;
}

HRESULT FakeGraph::FindFilterByName(const WString& name, IBaseFilter** filter) {
    if (filter)
        *filter = nullptr;
    if (auto r = Call("FindFilterByName", Utf8(name)))
        return *r;
    if (!filter)
        return E_POINTER;
    for (const Entry& entry : filters_) {
        if (entry.name == name) {
            *filter = entry.filter.Get();
            (*filter)->AddRef();
            return S_OK;
        }
    }
    return VFW_E_NOT_FOUND;
}

HRESULT FakeGraph::ConnectDirect(IPin* out, IPin* in, const AM_MEDIA_TYPE* mt) {
    if (auto r = Call("ConnectDirect", LabelOf(out) + ", " + LabelOf(in)))
        return *r;
    if (!out || !in)
        return E_POINTER;
    return out->Connect(in, mt);
}

HRESULT FakeGraph::Disconnect(IPin* pin) {
    if (auto r = Call("Disconnect", LabelOf(pin)))
        return *r;
    if (!pin)
        return E_POINTER;
    return pin->Disconnect();
}

HRESULT FakeGraph::Connect(IPin* out, IPin* in) {
    if (auto r = Call("Connect", LabelOf(out) + ", " + LabelOf(in)))
        return *r;
    if (!out || !in)
        return E_POINTER;
    return out->Connect(in, nullptr);
}

HRESULT FakeGraph::Render(IPin* out) {
    if (auto r = Call("Render", LabelOf(out)))
        return *r;
    return out ? S_OK : E_POINTER;
}

HRESULT FakeGraph::SetLogFile(intptr_t file) {
    if (auto r = Call("SetLogFile", file < 0 ? "-1" : "file"))
        return *r;
    logFile_ = file;
    return S_OK;
}

HRESULT FakeGraph::Abort() {
    return Call("Abort").value_or(S_OK);
}

HRESULT FakeGraph::Run() {
    if (auto r = Call("Run"); r && FAILED(*r))
        return *r;
    state_ = State_Running;
    SetFilterStates(state_);
    for (Entry& entry : filters_) {
        if (auto* writer = dynamic_cast<FakeFileWriter*>(AsFakeFilter(entry.filter.Get())))
            writer->GraphRuns();
    }
    return sys_->Scripted(label_, "Run").value_or(S_OK);
}

HRESULT FakeGraph::Pause() {
    if (auto r = Call("Pause"); r && FAILED(*r))
        return *r;
    state_ = State_Paused;
    SetFilterStates(state_);
    return sys_->Scripted(label_, "Pause").value_or(S_OK);
}

HRESULT FakeGraph::Stop() {
    if (auto r = Call("Stop"); r && FAILED(*r))
        return *r;
    state_ = State_Stopped;
    SetFilterStates(state_);
    return sys_->Scripted(label_, "Stop").value_or(S_OK);
}

HRESULT FakeGraph::Halt() {
    if (auto r = Call("Halt"); r && FAILED(*r))
        return *r;
    state_ = State_Stopped;
    SetFilterStates(state_);
    return S_OK;
}

HRESULT FakeGraph::GetState(int32_t, FILTER_STATE* state) {
    if (auto r = Call("GetState"))
        return *r;
    if (!state)
        return E_POINTER;
    *state = state_;
    return S_OK;
}

HRESULT FakeGraph::GetEvent(int32_t* code, intptr_t* param1, intptr_t* param2, int32_t) {
    if (auto r = Call("GetEvent"))
        return *r;
    if (!code || !param1 || !param2)
        return E_POINTER;
    if (events_.empty())
        return E_ABORT;
    const Event event = events_.front();
    events_.erase(events_.begin());
    *code = event.code;
    *param1 = event.param1;
    *param2 = event.param2;
    return S_OK;
}

HRESULT FakeGraph::FreeEventParams(int32_t code, intptr_t, intptr_t) {
    return Call("FreeEventParams", std::to_string(code)).value_or(S_OK);
}

HRESULT FakeGraph::SetNotifyWindow(QObject* window, uint32_t message, intptr_t instance) {
    if (auto r = Call("SetNotifyWindow",
                      std::string(window ? "window" : "null") + ", " + Hex(message))) {
        return *r;
    }
    notifyWindow_ = window;
    notifyMessage_ = message;
    notifyInstance_ = instance;
    return S_OK;
}

HRESULT FakeGraph::SetNotifyFlags(int32_t flags) {
    if (auto r = Call("SetNotifyFlags", std::to_string(flags)))
        return *r;
    notifyFlags_ = flags;
    return S_OK;
}

HRESULT FakeGraph::GetCurrentPosition(int64_t* position) {
    if (auto r = Call("GetCurrentPosition"))
        return *r;
    if (!position)
        return E_POINTER;
    *position = position_;
    return S_OK;
}

HRESULT FakeGraph::put_Volume(int32_t volume) {
    if (auto r = Call("put_Volume", std::to_string(volume)))
        return *r;
    volume_ = volume;
    return S_OK;
}

HRESULT FakeGraph::put_Balance(int32_t balance) {
    if (auto r = Call("put_Balance", std::to_string(balance)))
        return *r;
    balance_ = balance;
    return S_OK;
}

HRESULT FakeGraph::SetSite(IUnknown* site) {
    if (auto r = Call("SetSite", site ? "site" : "null"))
        return *r;
    site_ = ComPtr<IUnknown>(site);
    return S_OK;
}

HRESULT FakeGraph::QueryService(const GUID& service, const IID& iid, void** object) {
    if (object)
        *object = nullptr;
    if (auto r = Call("QueryService", GuidLabel(service)))
        return *r;
    ComPtr<IServiceProvider> provider = QueryAs<IServiceProvider>(site_.Get());
    if (!provider)
        return E_NOINTERFACE;
    return provider->QueryService(service, iid, object);
}

}  // namespace fake
}  // namespace media
