// SPDX-License-Identifier: GPL-3.0-or-later
// Objects of the fake media boundary that tests reach only through the
// boundary's interfaces (enumerators, monikers, property bags, the capture
// graph builder, the file writer, the running object table), shared by the
// fake's source files.
#pragma once

#include <QCoreApplication>
#include <QFile>
#include <QObject>
#include <QString>
#include <QWidget>
#include <algorithm>
#include <cstdio>
#include <cstring>

#include "FakeMedia.h"
#include "media/MediaUtil.h"

namespace media {
namespace fake {
namespace internal {

constexpr CLSID kFakeMonikerClsid =
    MakeGuid(0x5E1D0C4A, 0x7A11, 0x4F62, 0x9B, 0x0C, 0x3D, 0x51, 0x6E, 0x22, 0x90, 0x01);
constexpr int32_t kVideoCapsSize = 128;

inline std::string Hex(uint32_t v) {
    char buf[16];
    std::snprintf(buf, sizeof buf, "0x%X", v);
    return buf;
}

inline std::string Hex8(uint32_t v) {
    char buf[16];
    std::snprintf(buf, sizeof buf, "0x%08X", v);
    return buf;
}

// The log label of any fake object, "null" for none.
inline std::string LabelOf(IUnknown* object) {
    if (!object)
        return "null";
    if (auto* fake = dynamic_cast<FakeObject*>(object))
        return fake->Label();
    return "foreign";
}

inline FakePin* AsFakePin(IPin* pin) {
    return pin ? dynamic_cast<FakePin*>(pin) : nullptr;
}
inline FakeFilter* AsFakeFilter(IUnknown* filter) {
    return filter ? dynamic_cast<FakeFilter*>(filter) : nullptr;
}

class FakeEnumMediaTypes : public ComObject<IEnumMediaTypes> {
  public:
    explicit FakeEnumMediaTypes(std::vector<TMediaType> items) : items_(std::move(items)) {}
    HRESULT Next(uint32_t count, AM_MEDIA_TYPE** out, uint32_t* fetched) override {
        if (!out)
            return E_POINTER;
        uint32_t n = 0;
        while (n < count && pos_ < items_.size()) {
            out[n++] = CreateMediaType(items_[pos_++].AMMediaType());
        }
        if (fetched)
            *fetched = n;
        return n == count ? S_OK : S_FALSE;
    }
    HRESULT Skip(uint32_t count) override {
        pos_ = std::min(items_.size(), pos_ + count);
        return S_OK;
    }
    HRESULT Reset() override {
        pos_ = 0;
        return S_OK;
    }

  private:
    std::vector<TMediaType> items_;
    size_t pos_ = 0;
};

class FakePropertyBag : public ComObject<IPropertyBag>, public FakeObject {
  public:
    FakePropertyBag(FakeMediaSystem* system, const FakeDevice& device)
        : FakeObject(system, "Bag[" + device.friendlyName + "]"), device_(device) {}
    HRESULT Read(const WString& name, WString* value) override {
        const std::string key = Utf8(name);
        if (auto r = Call("Read", key))
            return *r;
        if (!value)
            return E_POINTER;
        if (key == "FriendlyName") {
            *value = Wide(device_.friendlyName);
            return S_OK;
        }
        if (key == "CLSID" && device_.clsidText) {
            *value = Wide(*device_.clsidText);
            return S_OK;
        }
        return E_FAIL;
    }

  private:
    FakeDevice device_;
};

class FakeMoniker : public ComObject<IMoniker, IPersist>, public FakeObject {
  public:
    FakeMoniker(FakeMediaSystem* system, const std::string& id) : FakeObject(system, ""), id_(id) {
        Relabel();
    }
    HRESULT GetClassID(CLSID* clsid) override {
        if (clsid)
            *clsid = kFakeMonikerClsid;
        return S_OK;
    }
    HRESULT BindToObject(const IID& iid, void** object) override {
        if (!object)
            return E_POINTER;
        *object = nullptr;
        if (auto r = Call("BindToObject", GuidLabel(iid)))
            return *r;
        FakeDevice* device = sys_->FindDevice(id_);
        if (!device || !device->present)
            return VFW_E_NO_CAPTURE_HARDWARE;
        FakeFilter* filter = sys_->CreateDeviceFilter(*device);
        HRESULT hr = static_cast<IBaseFilter*>(filter)->QueryInterface(iid, object);
        static_cast<IBaseFilter*>(filter)->Release();
        return hr;
    }
    HRESULT BindToStorage(const IID& iid, void** object) override {
        if (!object)
            return E_POINTER;
        *object = nullptr;
        if (auto r = Call("BindToStorage", GuidLabel(iid)))
            return *r;
        FakeDevice* device = sys_->FindDevice(id_);
        if (!device)
            return E_FAIL;
        auto* bag = new FakePropertyBag(sys_, *device);
        HRESULT hr = static_cast<IPropertyBag*>(bag)->QueryInterface(iid, object);
        static_cast<IPropertyBag*>(bag)->Release();
        return hr;
    }
    HRESULT GetDisplayName(WString* name) override {
        if (!name)
            return E_POINTER;
        *name = Wide("@device:fake:" + id_);
        return S_OK;
    }
    HRESULT Save(std::vector<uint8_t>* data) override {
        if (!data)
            return E_POINTER;
        data->assign(id_.begin(), id_.end());
        return S_OK;
    }
    HRESULT Load(const std::vector<uint8_t>& data) override {
        id_.assign(data.begin(), data.end());
        Relabel();
        return S_OK;
    }

  private:
    void Relabel() {
        FakeDevice* device = sys_->FindDevice(id_);
        label_ = "Moniker[" + (device ? device->friendlyName : "?" + id_) + "]";
    }
    std::string id_;
};

class FakeItemMoniker : public ComObject<IMoniker, IPersist> {
  public:
    explicit FakeItemMoniker(WString name) : name_(std::move(name)) {}
    HRESULT GetClassID(CLSID* clsid) override {
        if (clsid)
            *clsid = CLSID{};
        return S_OK;
    }
    HRESULT BindToObject(const IID&, void** object) override {
        if (object)
            *object = nullptr;
        return E_NOTIMPL;
    }
    HRESULT BindToStorage(const IID&, void** object) override {
        if (object)
            *object = nullptr;
        return E_NOTIMPL;
    }
    HRESULT GetDisplayName(WString* name) override {
        if (!name)
            return E_POINTER;
        *name = name_;
        return S_OK;
    }
    HRESULT Save(std::vector<uint8_t>*) override { return E_NOTIMPL; }
    HRESULT Load(const std::vector<uint8_t>&) override { return E_NOTIMPL; }

  private:
    WString name_;
};

// The shared snapshot enumerator, with its calls logged and scriptable.
class FakeEnumMoniker : public SnapshotEnum<IEnumMoniker, IMoniker>, public FakeObject {
  public:
    FakeEnumMoniker(FakeMediaSystem* system, std::vector<ComPtr<IMoniker>> items)
        : SnapshotEnum(std::move(items)), FakeObject(system, "EnumMoniker") {}
    HRESULT Next(uint32_t count, IMoniker** out, uint32_t* fetched) override {
        if (fetched)
            *fetched = 0;
        if (auto r = Call("Next", std::to_string(count)))
            return *r;
        return SnapshotEnum::Next(count, out, fetched);
    }
    HRESULT Skip(uint32_t count) override {
        if (auto r = Call("Skip", std::to_string(count)))
            return *r;
        return SnapshotEnum::Skip(count);
    }
    HRESULT Reset() override {
        if (auto r = Call("Reset"))
            return *r;
        return SnapshotEnum::Reset();
    }
};

class FakeDevEnum : public ComObject<ICreateDevEnum>, public FakeObject {
  public:
    explicit FakeDevEnum(FakeMediaSystem* system) : FakeObject(system, "DevEnum") {}
    HRESULT CreateClassEnumerator(const GUID& category, IEnumMoniker** monikers,
                                  uint32_t flags) override {
        if (monikers)
            *monikers = nullptr;
        if (auto r = Call("CreateClassEnumerator", GuidLabel(category)))
            return *r;
        if (!monikers)
            return E_POINTER;
        (void)flags;
        std::vector<ComPtr<IMoniker>> items;
        for (FakeDevice* device : sys_->Devices(category)) {
            items.push_back(ComPtr<IMoniker>::Attach(
                static_cast<IMoniker*>(new FakeMoniker(sys_, device->id))));
        }
        if (items.empty())
            return S_FALSE;
        *monikers = new FakeEnumMoniker(sys_, std::move(items));
        return S_OK;
    }
};

class FakeFileWriter : public FakeFilter, public virtual IFileSinkFilter {
  public:
    explicit FakeFileWriter(FakeMediaSystem* system) : FakeFilter(system, "File Writer", CLSID{}) {
        AddPin({"in", PINDIR_INPUT, {}, false, {}});
    }
    HRESULT SetFileName(const WString& file, const AM_MEDIA_TYPE*) override {
        if (auto r = Call("SetFileName", Utf8(file)))
            return *r;
        file_ = file;
        return S_OK;
    }
    // The platform's writer opens its file when the graph starts: an empty
    // file stands for the recording (the fake writes no data).
    void GraphRuns() {
        if (file_.empty() || !Pin("in")->Peer())
            return;
        QFile file(QString::fromStdU16String(file_));
        if (!file.exists() && file.open(QIODevice::WriteOnly))
            file.close();
    }
    HRESULT GetCurFile(WString* file, AM_MEDIA_TYPE* mt) override {
        if (auto r = Call("GetCurFile"))
            return *r;
        if (file)
            *file = file_;
        if (mt)
            std::memset(static_cast<void*>(mt), 0, sizeof *mt);
        return S_OK;
    }

  protected:
    ~FakeFileWriter() override = default;
    void* ExtraInterface(const IID& iid) override {
        if (iid == IFileSinkFilter::IID_)
            return static_cast<IFileSinkFilter*>(this);
        return FakeFilter::ExtraInterface(iid);
    }

  private:
    WString file_;
};

class FakeCaptureBuilder : public ComObject<ICaptureGraphBuilder2>, public FakeObject {
  public:
    explicit FakeCaptureBuilder(FakeMediaSystem* system) : FakeObject(system, "Builder") {}

    HRESULT SetFiltergraph(IGraphBuilder* graph) override {
        if (auto r = Call("SetFiltergraph", graph ? "Graph" : "null"))
            return *r;
        graph_ = ComPtr<IGraphBuilder>(graph);
        return S_OK;
    }
    HRESULT GetFiltergraph(IGraphBuilder** graph) override {
        if (graph)
            *graph = nullptr;
        if (auto r = Call("GetFiltergraph"))
            return *r;
        if (!graph)
            return E_POINTER;
        if (!graph_)
            return E_UNEXPECTED;
        *graph = graph_.Get();
        (*graph)->AddRef();
        return S_OK;
    }
    HRESULT SetOutputFileName(const GUID& type, const WString& file, IBaseFilter** mux,
                              IFileSinkFilter** sink) override {
        if (mux)
            *mux = nullptr;
        if (sink)
            *sink = nullptr;
        if (auto r = Call("SetOutputFileName", GuidLabel(type) + ", " + Utf8(file)))
            return *r;
        if (!graph_)
            return E_UNEXPECTED;
        auto* muxFilter = new FakeFilter(sys_, "AVI Mux", CLSID{});
        muxFilter->AddPin({"Input 01", PINDIR_INPUT, {}, false, {}});
        muxFilter->AddPin({"Input 02", PINDIR_INPUT, {}, false, {}});
        muxFilter->AddPin({"Input 03", PINDIR_INPUT, {}, false, {}});
        muxFilter->AddPin({"AVI Out", PINDIR_OUTPUT, {}, false, {}});
        auto* writer = new FakeFileWriter(sys_);
        static_cast<IFileSinkFilter*>(writer)->SetFileName(file, nullptr);
        graph_->AddFilter(muxFilter, u"AVI Mux");
        graph_->AddFilter(writer, u"File Writer");
        muxFilter->Pin("AVI Out")->Connect(writer->Pin("in"), nullptr);
        if (mux) {
            *mux = muxFilter;
            muxFilter->AddRef();
        }
        if (sink) {
            *sink = writer;
            static_cast<IFileSinkFilter*>(writer)->AddRef();
        }
        static_cast<IBaseFilter*>(muxFilter)->Release();
        static_cast<IBaseFilter*>(writer)->Release();
        return S_OK;
    }
    HRESULT RenderStream(const GUID* category, const GUID* type, IUnknown* source,
                         IBaseFilter* intermediate, IBaseFilter* sink) override {
        (void)type;
        if (auto r = Call("RenderStream", (category ? GuidLabel(*category) : "null") + ", " +
                                              LabelOf(source) + ", " + LabelOf(intermediate) +
                                              ", " + LabelOf(sink))) {
            return *r;
        }
        if (!source)
            return E_POINTER;
        FakePin* out = nullptr;
        ComPtr<IPin> sourcePin = QueryAs<IPin>(source);
        if (sourcePin) {
            out = AsFakePin(sourcePin.Get());
            if (out && (out->Peer() || out->Direction() != PINDIR_OUTPUT))
                out = nullptr;
        } else if (FakeFilter* filter = AsFakeFilter(source)) {
            out = FreePin(filter, PINDIR_OUTPUT, category);
        }
        if (!out)
            return E_FAIL;
        // Filters not yet in the graph join it first, then the chain is connected.
        for (IBaseFilter* next : {intermediate, sink}) {
            FakeFilter* filter = AsFakeFilter(next);
            if (next && !filter)
                return E_INVALIDARG;
            if (filter && !filter->GraphJoined() && graph_) {
                graph_->AddFilter(next, Wide(filter->Name()));
            }
        }
        for (IBaseFilter* next : {intermediate, sink}) {
            if (!next)
                continue;
            FakeFilter* filter = AsFakeFilter(next);
            FakePin* in = FreePin(filter, PINDIR_INPUT, nullptr);
            if (!in)
                return E_FAIL;
            HRESULT hr = out->Connect(in, nullptr);
            if (FAILED(hr))
                return hr;
            if (next == sink)
                break;
            out = FreePin(filter, PINDIR_OUTPUT, nullptr);
            if (!out)
                return sink ? E_FAIL : S_OK;
        }
        return S_OK;
    }
    HRESULT FindInterface(const GUID* category, const GUID* type, IBaseFilter* filter,
                          const IID& iid, void** object) override {
        (void)type;
        if (object)
            *object = nullptr;
        if (auto r = Call("FindInterface", (category ? GuidLabel(*category) : "null") + ", " +
                                               LabelOf(filter) + ", " + GuidLabel(iid))) {
            return *r;
        }
        if (!object || !filter)
            return E_POINTER;
        if (!category && SUCCEEDED(filter->QueryInterface(iid, object)))
            return S_OK;
        if (FakeFilter* fake = AsFakeFilter(filter)) {
            for (const auto& pin : fake->Pins()) {
                if (category && !PinMatches(pin.get(), category))
                    continue;
                if (SUCCEEDED(static_cast<IPin*>(pin.get())->QueryInterface(iid, object))) {
                    return S_OK;
                }
            }
        }
        return E_NOINTERFACE;
    }

  private:
    static bool PinMatches(FakePin* pin, const GUID* category) {
        if (!category)
            return true;
        if (*category == PIN_CATEGORY_PREVIEW)
            return pin->Name() == "Preview";
        if (*category == PIN_CATEGORY_CAPTURE)
            return pin->Name() == "Capture";
        return false;
    }
    static FakePin* FreePin(FakeFilter* filter, PIN_DIRECTION dir, const GUID* category) {
        for (const auto& pin : filter->Pins()) {
            if (pin->Direction() == dir && !pin->Peer() && PinMatches(pin.get(), category)) {
                return pin.get();
            }
        }
        return nullptr;
    }

    ComPtr<IGraphBuilder> graph_;
};

class FakeRunningObjectTable : public ComObject<IRunningObjectTable>, public FakeObject {
  public:
    explicit FakeRunningObjectTable(FakeMediaSystem* system) : FakeObject(system, "ROT") {}
    HRESULT Register(uint32_t flags, IUnknown* object, IMoniker* name, uint32_t* cookie) override {
        (void)flags;
        WString display;
        if (name)
            name->GetDisplayName(&display);
        if (auto r = Call("Register", Utf8(display)))
            return *r;
        if (!object || !name || !cookie)
            return E_INVALIDARG;
        *cookie = sys_->NextCookie();
        sys_->Rot()[*cookie] = Utf8(display);
        return S_OK;
    }
    HRESULT Revoke(uint32_t cookie) override {
        if (auto r = Call("Revoke", std::to_string(cookie)))
            return *r;
        return sys_->Rot().erase(cookie) ? S_OK : E_INVALIDARG;
    }
    HRESULT GetObjectByName(const WString& displayName, IUnknown** object) override {
        if (object)
            *object = nullptr;
        if (auto r = Call("GetObjectByName", Utf8(displayName)))
            return *r;
        return MK_E_UNAVAILABLE;
    }
};

class FakeMediaSample : public ComObject<IMediaSample> {
  public:
    explicit FakeMediaSample(std::vector<uint8_t> data) : data_(std::move(data)) {}
    HRESULT GetPointer(uint8_t** buffer) override {
        if (!buffer)
            return E_POINTER;
        *buffer = data_.data();
        return S_OK;
    }
    int32_t GetActualDataLength() override { return int32_t(data_.size()); }

  private:
    std::vector<uint8_t> data_;
};

}  // namespace internal
}  // namespace fake
}  // namespace media
