#include "FakeMedia.h"

#include "media/MediaUtil.h"

#include <QCoreApplication>
#include <QObject>
#include <QString>
#include <QWidget>
#include <algorithm>
#include <cstdio>
#include <cstring>

namespace media {
namespace fake {

namespace {

constexpr CLSID kFakeMonikerClsid =
    MakeGuid(0x5E1D0C4A, 0x7A11, 0x4F62, 0x9B, 0x0C, 0x3D, 0x51, 0x6E, 0x22, 0x90, 0x01);
constexpr int32_t kVideoCapsSize = 128;

std::string Hex(uint32_t v) {
    char buf[16];
    std::snprintf(buf, sizeof buf, "0x%X", v);
    return buf;
}

std::string Hex8(uint32_t v) {
    char buf[16];
    std::snprintf(buf, sizeof buf, "0x%08X", v);
    return buf;
}

// The log label of any fake object, "null" for none.
std::string LabelOf(IUnknown* object) {
    if (!object) return "null";
    if (auto* fake = dynamic_cast<FakeObject*>(object)) return fake->Label();
    return "foreign";
}

FakePin* AsFakePin(IPin* pin) { return pin ? dynamic_cast<FakePin*>(pin) : nullptr; }
FakeFilter* AsFakeFilter(IUnknown* filter) {
    return filter ? dynamic_cast<FakeFilter*>(filter) : nullptr;
}

// A snapshot enumerator over references of interface I.
template <class E, class I>
class FakeEnum : public ComObject<E> {
public:
    explicit FakeEnum(std::vector<ComPtr<I>> items) : items_(std::move(items)) {}
    HRESULT Next(uint32_t count, I** out, uint32_t* fetched) override {
        if (!out) return E_POINTER;
        uint32_t n = 0;
        while (n < count && pos_ < items_.size()) {
            out[n] = items_[pos_].Get();
            out[n]->AddRef();
            ++n;
            ++pos_;
        }
        if (fetched) *fetched = n;
        return n == count ? S_OK : S_FALSE;
    }
    HRESULT Skip(uint32_t count) override {
        pos_ += count;
        if (pos_ > items_.size()) {
            pos_ = items_.size();
            return S_FALSE;
        }
        return S_OK;
    }
    HRESULT Reset() override {
        pos_ = 0;
        return S_OK;
    }

private:
    std::vector<ComPtr<I>> items_;
    size_t pos_ = 0;
};

class FakeEnumMediaTypes : public ComObject<IEnumMediaTypes> {
public:
    explicit FakeEnumMediaTypes(std::vector<TMediaType> items) : items_(std::move(items)) {}
    HRESULT Next(uint32_t count, AM_MEDIA_TYPE** out, uint32_t* fetched) override {
        if (!out) return E_POINTER;
        uint32_t n = 0;
        while (n < count && pos_ < items_.size()) {
            out[n++] = CreateMediaType(items_[pos_++].AMMediaType());
        }
        if (fetched) *fetched = n;
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
        if (auto r = Call("Read", key)) return *r;
        if (!value) return E_POINTER;
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
    FakeMoniker(FakeMediaSystem* system, const std::string& id)
        : FakeObject(system, ""), id_(id) {
        Relabel();
    }
    HRESULT GetClassID(CLSID* clsid) override {
        if (clsid) *clsid = kFakeMonikerClsid;
        return S_OK;
    }
    HRESULT BindToObject(const IID& iid, void** object) override {
        if (!object) return E_POINTER;
        *object = nullptr;
        if (auto r = Call("BindToObject", GuidLabel(iid))) return *r;
        FakeDevice* device = sys_->FindDevice(id_);
        if (!device || !device->present) return VFW_E_NO_CAPTURE_HARDWARE;
        FakeFilter* filter = sys_->CreateDeviceFilter(*device);
        HRESULT hr = static_cast<IBaseFilter*>(filter)->QueryInterface(iid, object);
        static_cast<IBaseFilter*>(filter)->Release();
        return hr;
    }
    HRESULT BindToStorage(const IID& iid, void** object) override {
        if (!object) return E_POINTER;
        *object = nullptr;
        if (auto r = Call("BindToStorage", GuidLabel(iid))) return *r;
        FakeDevice* device = sys_->FindDevice(id_);
        if (!device) return E_FAIL;
        auto* bag = new FakePropertyBag(sys_, *device);
        HRESULT hr = static_cast<IPropertyBag*>(bag)->QueryInterface(iid, object);
        static_cast<IPropertyBag*>(bag)->Release();
        return hr;
    }
    HRESULT GetDisplayName(WString* name) override {
        if (!name) return E_POINTER;
        *name = Wide("@device:fake:" + id_);
        return S_OK;
    }
    HRESULT Save(std::vector<uint8_t>* data) override {
        if (!data) return E_POINTER;
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
        if (clsid) *clsid = CLSID{};
        return S_OK;
    }
    HRESULT BindToObject(const IID&, void** object) override {
        if (object) *object = nullptr;
        return E_NOTIMPL;
    }
    HRESULT BindToStorage(const IID&, void** object) override {
        if (object) *object = nullptr;
        return E_NOTIMPL;
    }
    HRESULT GetDisplayName(WString* name) override {
        if (!name) return E_POINTER;
        *name = name_;
        return S_OK;
    }
    HRESULT Save(std::vector<uint8_t>*) override { return E_NOTIMPL; }
    HRESULT Load(const std::vector<uint8_t>&) override { return E_NOTIMPL; }

private:
    WString name_;
};

class FakeEnumMoniker : public ComObject<IEnumMoniker>, public FakeObject {
public:
    FakeEnumMoniker(FakeMediaSystem* system, std::vector<ComPtr<IMoniker>> items)
        : FakeObject(system, "EnumMoniker"), items_(std::move(items)) {}
    HRESULT Next(uint32_t count, IMoniker** out, uint32_t* fetched) override {
        if (fetched) *fetched = 0;
        if (auto r = Call("Next", std::to_string(count))) return *r;
        if (!out) return E_POINTER;
        uint32_t n = 0;
        while (n < count && pos_ < items_.size()) {
            out[n] = items_[pos_++].Get();
            out[n]->AddRef();
            ++n;
        }
        if (fetched) *fetched = n;
        return n == count ? S_OK : S_FALSE;
    }
    HRESULT Skip(uint32_t count) override {
        if (auto r = Call("Skip", std::to_string(count))) return *r;
        pos_ += count;
        if (pos_ > items_.size()) {
            pos_ = items_.size();
            return S_FALSE;
        }
        return S_OK;
    }
    HRESULT Reset() override {
        if (auto r = Call("Reset")) return *r;
        pos_ = 0;
        return S_OK;
    }

private:
    std::vector<ComPtr<IMoniker>> items_;
    size_t pos_ = 0;
};

class FakeDevEnum : public ComObject<ICreateDevEnum>, public FakeObject {
public:
    explicit FakeDevEnum(FakeMediaSystem* system) : FakeObject(system, "DevEnum") {}
    HRESULT CreateClassEnumerator(const GUID& category, IEnumMoniker** monikers,
                                  uint32_t flags) override {
        if (monikers) *monikers = nullptr;
        if (auto r = Call("CreateClassEnumerator", GuidLabel(category))) return *r;
        if (!monikers) return E_POINTER;
        (void)flags;
        std::vector<ComPtr<IMoniker>> items;
        for (FakeDevice* device : sys_->Devices(category)) {
            items.push_back(
                ComPtr<IMoniker>::Attach(static_cast<IMoniker*>(new FakeMoniker(sys_, device->id))));
        }
        if (items.empty()) return S_FALSE;
        *monikers = new FakeEnumMoniker(sys_, std::move(items));
        return S_OK;
    }
};

class FakeFileWriter : public FakeFilter, public virtual IFileSinkFilter {
public:
    explicit FakeFileWriter(FakeMediaSystem* system)
        : FakeFilter(system, "File Writer", CLSID{}) {
        AddPin({"in", PINDIR_INPUT, {}, false, {}});
    }
    HRESULT SetFileName(const WString& file, const AM_MEDIA_TYPE*) override {
        if (auto r = Call("SetFileName", Utf8(file))) return *r;
        file_ = file;
        return S_OK;
    }
    HRESULT GetCurFile(WString* file, AM_MEDIA_TYPE* mt) override {
        if (auto r = Call("GetCurFile")) return *r;
        if (file) *file = file_;
        if (mt) std::memset(static_cast<void*>(mt), 0, sizeof *mt);
        return S_OK;
    }

protected:
    ~FakeFileWriter() override = default;
    void* ExtraInterface(const IID& iid) override {
        if (iid == IFileSinkFilter::IID_) return static_cast<IFileSinkFilter*>(this);
        return FakeFilter::ExtraInterface(iid);
    }

private:
    WString file_;
};

class FakeCaptureBuilder : public ComObject<ICaptureGraphBuilder2>, public FakeObject {
public:
    explicit FakeCaptureBuilder(FakeMediaSystem* system) : FakeObject(system, "Builder") {}

    HRESULT SetFiltergraph(IGraphBuilder* graph) override {
        if (auto r = Call("SetFiltergraph", graph ? "Graph" : "null")) return *r;
        graph_ = ComPtr<IGraphBuilder>(graph);
        return S_OK;
    }
    HRESULT GetFiltergraph(IGraphBuilder** graph) override {
        if (graph) *graph = nullptr;
        if (auto r = Call("GetFiltergraph")) return *r;
        if (!graph) return E_POINTER;
        if (!graph_) return E_UNEXPECTED;
        *graph = graph_.Get();
        (*graph)->AddRef();
        return S_OK;
    }
    HRESULT SetOutputFileName(const GUID& type, const WString& file, IBaseFilter** mux,
                              IFileSinkFilter** sink) override {
        if (mux) *mux = nullptr;
        if (sink) *sink = nullptr;
        if (auto r = Call("SetOutputFileName", GuidLabel(type) + ", " + Utf8(file))) return *r;
        if (!graph_) return E_UNEXPECTED;
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
        if (!source) return E_POINTER;
        FakePin* out = nullptr;
        ComPtr<IPin> sourcePin = QueryAs<IPin>(source);
        if (sourcePin) {
            out = AsFakePin(sourcePin.Get());
            if (out && (out->Peer() || out->Direction() != PINDIR_OUTPUT)) out = nullptr;
        } else if (FakeFilter* filter = AsFakeFilter(source)) {
            out = FreePin(filter, PINDIR_OUTPUT, category);
        }
        if (!out) return E_FAIL;
        for (IBaseFilter* next : {intermediate, sink}) {
            if (!next) continue;
            FakeFilter* filter = AsFakeFilter(next);
            if (!filter) return E_INVALIDARG;
            if (!filter->GraphJoined() && graph_) graph_->AddFilter(next, Wide(filter->Name()));
            FakePin* in = FreePin(filter, PINDIR_INPUT, nullptr);
            if (!in) return E_FAIL;
            HRESULT hr = out->Connect(in, nullptr);
            if (FAILED(hr)) return hr;
            if (next == sink) break;
            out = FreePin(filter, PINDIR_OUTPUT, nullptr);
            if (!out) return sink ? E_FAIL : S_OK;
        }
        return S_OK;
    }
    HRESULT FindInterface(const GUID* category, const GUID* type, IBaseFilter* filter,
                          const IID& iid, void** object) override {
        (void)type;
        if (object) *object = nullptr;
        if (auto r = Call("FindInterface", (category ? GuidLabel(*category) : "null") + ", " +
                                               LabelOf(filter) + ", " + GuidLabel(iid))) {
            return *r;
        }
        if (!object || !filter) return E_POINTER;
        if (!category && SUCCEEDED(filter->QueryInterface(iid, object))) return S_OK;
        if (FakeFilter* fake = AsFakeFilter(filter)) {
            for (const auto& pin : fake->Pins()) {
                if (category && !PinMatches(pin.get(), category)) continue;
                if (SUCCEEDED(static_cast<IPin*>(pin.get())->QueryInterface(iid, object))) {
                    return S_OK;
                }
            }
        }
        return E_NOINTERFACE;
    }

private:
    static bool PinMatches(FakePin* pin, const GUID* category) {
        if (!category) return true;
        if (*category == PIN_CATEGORY_PREVIEW) return pin->Name() == "Preview";
        if (*category == PIN_CATEGORY_CAPTURE) return pin->Name() == "Capture";
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
    HRESULT Register(uint32_t flags, IUnknown* object, IMoniker* name,
                     uint32_t* cookie) override {
        (void)flags;
        WString display;
        if (name) name->GetDisplayName(&display);
        if (auto r = Call("Register", Utf8(display))) return *r;
        if (!object || !name || !cookie) return E_INVALIDARG;
        *cookie = sys_->NextCookie();
        sys_->Rot()[*cookie] = Utf8(display);
        return S_OK;
    }
    HRESULT Revoke(uint32_t cookie) override {
        if (auto r = Call("Revoke", std::to_string(cookie))) return *r;
        return sys_->Rot().erase(cookie) ? S_OK : E_INVALIDARG;
    }
    HRESULT GetObjectByName(const WString& displayName, IUnknown** object) override {
        if (object) *object = nullptr;
        if (auto r = Call("GetObjectByName", Utf8(displayName))) return *r;
        return MK_E_UNAVAILABLE;
    }
};

class FakeMediaSample : public ComObject<IMediaSample> {
public:
    explicit FakeMediaSample(std::vector<uint8_t> data) : data_(std::move(data)) {}
    HRESULT GetPointer(uint8_t** buffer) override {
        if (!buffer) return E_POINTER;
        *buffer = data_.data();
        return S_OK;
    }
    int32_t GetActualDataLength() override { return int32_t(data_.size()); }

private:
    std::vector<uint8_t> data_;
};

}  // namespace

// ---------------------------------------------------------------------------
// Helpers
// ---------------------------------------------------------------------------

std::string Utf8(const WString& text) { return QString::fromStdU16String(text).toStdString(); }
WString Wide(const std::string& text) { return QString::fromStdString(text).toStdU16String(); }

std::string GuidLabel(const GUID& g) {
    static const std::pair<GUID, const char*> names[] = {
        {PIN_CATEGORY_PREVIEW, "PREVIEW"},
        {PIN_CATEGORY_CAPTURE, "CAPTURE"},
        {CLSID_VideoInputDeviceCategory, "VideoInputDevice"},
        {CLSID_AudioInputDeviceCategory, "AudioInputDevice"},
        {CLSID_VideoCompressorCategory, "VideoCompressor"},
        {CLSID_AudioCompressorCategory, "AudioCompressor"},
        {CLSID_ActiveMovieCategories, "Categories"},
        {CLSID_FilterGraph, "FilterGraph"},
        {CLSID_CaptureGraphBuilder2, "CaptureGraphBuilder2"},
        {CLSID_DvdGraphBuilder, "DvdGraphBuilder"},
        {CLSID_SystemDeviceEnum, "SystemDeviceEnum"},
        {CLSID_SampleGrabber, "SampleGrabber"},
        {CLSID_VideoRenderer, "VideoRenderer"},
        {CLSID_VideoMixingRenderer9, "VideoMixingRenderer9"},
        {IUnknown::IID_, "IUnknown"},
        {IBaseFilter::IID_, "IBaseFilter"},
        {IPin::IID_, "IPin"},
        {IPropertyBag::IID_, "IPropertyBag"},
        {IMoniker::IID_, "IMoniker"},
        {IAMStreamConfig::IID_, "IAMStreamConfig"},
        {ISpecifyPropertyPages::IID_, "ISpecifyPropertyPages"},
        {IAMVfwCaptureDialogs::IID_, "IAMVfwCaptureDialogs"},
        {IAMVfwCompressDialogs::IID_, "IAMVfwCompressDialogs"},
        {IFilterGraph2::IID_, "IFilterGraph2"},
        {IGraphBuilder::IID_, "IGraphBuilder"},
        {ICaptureGraphBuilder2::IID_, "ICaptureGraphBuilder2"},
        {ICreateDevEnum::IID_, "ICreateDevEnum"},
        {ISampleGrabber::IID_, "ISampleGrabber"},
        {IVideoWindow::IID_, "IVideoWindow"},
        {MEDIATYPE_Video, "Video"},
        {MEDIATYPE_Audio, "Audio"},
        {MEDIATYPE_Interleaved, "Interleaved"},
        {MEDIASUBTYPE_Avi, "Avi"},
    };
    for (const auto& entry : names) {
        if (entry.first == g) return entry.second;
    }
    return GuidToString(g);
}

TMediaType VideoFormat(const GUID& subtype, int32_t width, int32_t height, uint16_t bits,
                       REFERENCE_TIME avgTimePerFrame) {
    TMediaType mt(MEDIATYPE_Video);
    mt.SetSubType(subtype);
    mt.SetFormatType(FORMAT_VideoInfo);
    const bool rgb = subtype == MEDIASUBTYPE_RGB24 || subtype == MEDIASUBTYPE_RGB32 ||
                     subtype == MEDIASUBTYPE_RGB555 || subtype == MEDIASUBTYPE_RGB565;
    const int32_t absHeight = height < 0 ? -height : height;
    const uint32_t stride = uint32_t(((width * bits + 31) / 32) * 4);
    const uint32_t imageSize = rgb ? stride * uint32_t(absHeight)
                                   : uint32_t(width) * uint32_t(absHeight) * bits / 8;
    VIDEOINFOHEADER vih{};
    vih.rcSource = {0, 0, 0, 0};
    vih.rcTarget = {0, 0, 0, 0};
    vih.dwBitRate = uint32_t(uint64_t(imageSize) * 8 * 10000000 /
                             uint64_t(avgTimePerFrame > 0 ? avgTimePerFrame : 1));
    vih.dwBitErrorRate = 0;
    vih.AvgTimePerFrame = avgTimePerFrame;
    vih.bmiHeader.biSize = sizeof(BITMAPINFOHEADER);
    vih.bmiHeader.biWidth = width;
    vih.bmiHeader.biHeight = height;
    vih.bmiHeader.biPlanes = 1;
    vih.bmiHeader.biBitCount = bits;
    vih.bmiHeader.biCompression =
        rgb ? (subtype == MEDIASUBTYPE_RGB565 ? BI_BITFIELDS : BI_RGB) : subtype.Data1;
    vih.bmiHeader.biSizeImage = imageSize;
    vih.bmiHeader.biXPelsPerMeter = 0;
    vih.bmiHeader.biYPelsPerMeter = 0;
    vih.bmiHeader.biClrUsed = 0;
    vih.bmiHeader.biClrImportant = 0;
    std::memcpy(mt.AllocFormatBuffer(sizeof vih), &vih, sizeof vih);
    mt.AMMediaType()->lSampleSize = imageSize;
    mt.AMMediaType()->bTemporalCompression = subtype == MEDIASUBTYPE_MJPG ? -1 : 0;
    return mt;
}

TMediaType AudioFormat(uint32_t samplesPerSec, uint16_t bitsPerSample, uint16_t channels) {
    TMediaType mt(MEDIATYPE_Audio);
    mt.SetSubType(MEDIASUBTYPE_PCM);
    mt.SetFormatType(FORMAT_WaveFormatEx);
    WAVEFORMATEX wfx{};
    wfx.wFormatTag = WAVE_FORMAT_PCM;
    wfx.nChannels = channels;
    wfx.nSamplesPerSec = samplesPerSec;
    wfx.nBlockAlign = uint16_t(channels * bitsPerSample / 8);
    wfx.nAvgBytesPerSec = samplesPerSec * wfx.nBlockAlign;
    wfx.wBitsPerSample = bitsPerSample;
    wfx.cbSize = 0;
    std::memcpy(mt.AllocFormatBuffer(sizeof wfx), &wfx, sizeof wfx);
    mt.AMMediaType()->lSampleSize = wfx.nBlockAlign;
    return mt;
}

// ---------------------------------------------------------------------------
// CallLog
// ---------------------------------------------------------------------------

int CallLog::IndexOf(const std::string& entry, int from) const {
    for (size_t i = size_t(std::max(from, 0)); i < entries_.size(); ++i) {
        if (entries_[i] == entry) return int(i);
    }
    return -1;
}

int CallLog::Count(const std::string& entry) const {
    return int(std::count(entries_.begin(), entries_.end(), entry));
}

bool CallLog::InOrder(std::initializer_list<std::string> entries) const {
    return InOrder(std::vector<std::string>(entries));
}

bool CallLog::InOrder(const std::vector<std::string>& entries) const {
    int from = 0;
    for (const std::string& entry : entries) {
        const int at = IndexOf(entry, from);
        if (at < 0) return false;
        from = at + 1;
    }
    return true;
}

std::vector<std::string> CallLog::Matching(const std::string& prefix) const {
    std::vector<std::string> out;
    for (const std::string& entry : entries_) {
        if (entry.compare(0, prefix.size(), prefix) == 0) out.push_back(entry);
    }
    return out;
}

std::string CallLog::Text() const {
    std::string text;
    for (const std::string& entry : entries_) text += entry + "\n";
    return text;
}

std::optional<HRESULT> FakeObject::Call(const std::string& method, const std::string& args) {
    sys_->Log().Add(label_ + "." + method + (args.empty() ? "" : "(" + args + ")"));
    return sys_->Scripted(label_, method);
}

// ---------------------------------------------------------------------------
// FakeMediaSystem
// ---------------------------------------------------------------------------

FakeMediaSystem::FakeMediaSystem() : previous_(MediaSystem()) {
    SetMediaSystem(this);
    unavailable_.insert(CLSID_DvdGraphBuilder);
    unavailable_.insert(CLSID_VideoMixingRenderer9);
    errorTexts_[E_FAIL] = "Unspecified error";
    errorTexts_[E_NOINTERFACE] = "No such interface supported";
    errorTexts_[E_POINTER] = "Invalid pointer";
    errorTexts_[E_INVALIDARG] = "The parameter is incorrect.";
    errorTexts_[VFW_E_NOT_CONNECTED] =
        "The operation cannot be performed because the pins are not connected.";
    errorTexts_[VFW_E_WRONG_STATE] =
        "The operation could not be performed because the filter is in the wrong state.";
    const std::pair<GUID, const char*> categories[] = {
        {CLSID_VideoInputDeviceCategory, "Video Capture Sources"},
        {CLSID_AudioInputDeviceCategory, "Audio Capture Sources"},
        {CLSID_VideoCompressorCategory, "Video Compressors"},
        {CLSID_AudioCompressorCategory, "Audio Compressors"},
    };
    for (const auto& category : categories) {
        FakeDevice& entry = AddDevice(CLSID_ActiveMovieCategories, category.second);
        entry.clsidText = GuidToString(category.first);
    }
}

FakeMediaSystem::~FakeMediaSystem() {
    if (MediaSystem() == this) SetMediaSystem(previous_);
}

std::optional<HRESULT> FakeMediaSystem::Scripted(const std::string& label,
                                                 const std::string& method) const {
    auto it = results_.find(label + "." + method);
    if (it == results_.end()) it = results_.find("*." + method);
    if (it == results_.end()) return std::nullopt;
    return it->second;
}

FakeDevice& FakeMediaSystem::AddDevice(const GUID& category, const std::string& friendlyName) {
    auto device = std::make_unique<FakeDevice>();
    device->id = "dev" + std::to_string(++nextDeviceId_);
    device->category = category;
    device->friendlyName = friendlyName;
    char clsid[40];
    std::snprintf(clsid, sizeof clsid, "{17CCA71B-ECD7-11D0-B908-00A0C9%06X}", nextDeviceId_);
    device->clsidText = std::string(clsid);
    devices_.push_back(std::move(device));
    return *devices_.back();
}

FakeDevice& FakeMediaSystem::AddVideoDevice(const std::string& friendlyName,
                                            const std::vector<TMediaType>& formats) {
    FakeDevice& device = AddDevice(CLSID_VideoInputDeviceCategory, friendlyName);
    const GUID pinPage =
        MakeGuid(0x71F96467, 0x78F3, 0x11D0, 0xA1, 0x8C, 0x00, 0xA0, 0xC9, 0x11, 0x89, 0x56);
    const GUID procAmp =
        MakeGuid(0x71F96464, 0x78F3, 0x11D0, 0xA1, 0x8C, 0x00, 0xA0, 0xC9, 0x11, 0x89, 0x56);
    device.pins.push_back({"Capture", PINDIR_OUTPUT, formats, true, {pinPage}});
    device.pins.push_back({"Preview", PINDIR_OUTPUT, formats, true, {}});
    device.filterPages = {procAmp};
    return device;
}

FakeDevice& FakeMediaSystem::AddAudioDevice(const std::string& friendlyName,
                                            const std::vector<TMediaType>& formats) {
    FakeDevice& device = AddDevice(CLSID_AudioInputDeviceCategory, friendlyName);
    device.pins.push_back({"Capture", PINDIR_OUTPUT, formats, true, {}});
    return device;
}

FakeDevice& FakeMediaSystem::AddCompressor(const GUID& category,
                                           const std::string& friendlyName) {
    FakeDevice& device = AddDevice(category, friendlyName);
    device.pins.push_back({"Input", PINDIR_INPUT, {}, false, {}});
    device.pins.push_back({"Output", PINDIR_OUTPUT, {}, false, {}});
    device.compressDialogs = {1, 2};
    return device;
}

std::vector<FakeDevice*> FakeMediaSystem::Devices(const GUID& category) {
    std::vector<FakeDevice*> out;
    for (const auto& device : devices_) {
        if (device->category == category) out.push_back(device.get());
    }
    return out;
}

FakeDevice* FakeMediaSystem::FindDevice(const std::string& id) {
    for (const auto& device : devices_) {
        if (device->id == id) return device.get();
    }
    return nullptr;
}

void FakeMediaSystem::RemoveDevices(const GUID& category) {
    devices_.erase(std::remove_if(devices_.begin(), devices_.end(),
                                  [&](const auto& d) { return d->category == category; }),
                   devices_.end());
}

void FakeMediaSystem::SetClassAvailable(const CLSID& clsid, bool available) {
    if (available) {
        unavailable_.erase(clsid);
    } else {
        unavailable_.insert(clsid);
    }
}

FakeGraph* FakeMediaSystem::Graph() const { return graphs_.empty() ? nullptr : graphs_.back(); }

FakeFilter* FakeMediaSystem::Filter(const std::string& name) const {
    for (auto it = filters_.rbegin(); it != filters_.rend(); ++it) {
        if ((*it)->Name() == name) return *it;
    }
    return nullptr;
}

FakeSampleGrabber* FakeMediaSystem::SampleGrabber() const {
    for (auto it = filters_.rbegin(); it != filters_.rend(); ++it) {
        if (auto* grabber = dynamic_cast<FakeSampleGrabber*>(*it)) return grabber;
    }
    return nullptr;
}

FakeRenderer* FakeMediaSystem::Renderer() const {
    for (auto it = filters_.rbegin(); it != filters_.rend(); ++it) {
        if (auto* renderer = dynamic_cast<FakeRenderer*>(*it)) return renderer;
    }
    return nullptr;
}

void FakeMediaSystem::Unregister(FakeGraph* graph) {
    graphs_.erase(std::remove(graphs_.begin(), graphs_.end(), graph), graphs_.end());
}

void FakeMediaSystem::Unregister(FakeFilter* filter) {
    filters_.erase(std::remove(filters_.begin(), filters_.end(), filter), filters_.end());
}

void FakeMediaSystem::Unregister(FakePin* pin) {
    pins_.erase(pin);
    for (FakePin* other : pins_) other->ForgetPeer(pin);
}

FakeFilter* FakeMediaSystem::CreateDeviceFilter(const FakeDevice& device) {
    CLSID clsid;
    if (device.clsidText) GuidFromString(*device.clsidText, clsid);
    auto* filter = new FakeFilter(this, device.friendlyName, clsid);
    for (const FakePinSpec& spec : device.pins) filter->AddPin(spec);
    filter->FilterPages() = device.filterPages;
    filter->CaptureDialogs() = device.captureDialogs;
    filter->CompressDialogs() = device.compressDialogs;
    return filter;
}

HRESULT FakeMediaSystem::CreateInstance(const CLSID& clsid, const IID& iid, void** object) {
    log_.Add("System.CoCreateInstance(" + GuidLabel(clsid) + ")");
    if (!object) return E_POINTER;
    *object = nullptr;
    if (unavailable_.count(clsid)) return REGDB_E_CLASSNOTREG;
    IUnknown* created = nullptr;
    if (clsid == CLSID_FilterGraph) {
        created = static_cast<IFilterGraph2*>(new FakeGraph(this));
    } else if (clsid == CLSID_CaptureGraphBuilder2) {
        created = new FakeCaptureBuilder(this);
    } else if (clsid == CLSID_SystemDeviceEnum) {
        created = new FakeDevEnum(this);
    } else if (clsid == CLSID_SampleGrabber) {
        created = static_cast<IBaseFilter*>(new FakeSampleGrabber(this));
    } else if (clsid == CLSID_VideoRenderer) {
        created = static_cast<IBaseFilter*>(new FakeRenderer(this));
    } else {
        return REGDB_E_CLASSNOTREG;
    }
    HRESULT hr = created->QueryInterface(iid, object);
    created->Release();
    return hr;
}

HRESULT FakeMediaSystem::SaveMonikerToStream(IMoniker* moniker, std::vector<uint8_t>* stream) {
    log_.Add("System.OleSaveToStream(" + LabelOf(moniker) + ")");
    if (auto r = Scripted("System", "OleSaveToStream")) return *r;
    if (!moniker || !stream) return E_POINTER;
    CLSID clsid;
    moniker->GetClassID(&clsid);
    std::vector<uint8_t> data;
    HRESULT hr = moniker->Save(&data);
    if (FAILED(hr)) return hr;
    stream->clear();
    const auto* raw = reinterpret_cast<const uint8_t*>(&clsid);
    stream->insert(stream->end(), raw, raw + sizeof clsid);
    stream->insert(stream->end(), data.begin(), data.end());
    return S_OK;
}

HRESULT FakeMediaSystem::LoadMonikerFromStream(const std::vector<uint8_t>& stream,
                                               const IID& iid, void** object) {
    log_.Add("System.OleLoadFromStream");
    if (!object) return E_POINTER;
    *object = nullptr;
    if (auto r = Scripted("System", "OleLoadFromStream")) return *r;
    CLSID clsid;
    if (stream.size() < sizeof clsid) return E_FAIL;
    std::memcpy(&clsid, stream.data(), sizeof clsid);
    if (clsid != kFakeMonikerClsid) return REGDB_E_CLASSNOTREG;
    auto* moniker = new FakeMoniker(this, "");
    static_cast<IMoniker*>(moniker)->Load(
        std::vector<uint8_t>(stream.begin() + sizeof clsid, stream.end()));
    HRESULT hr = static_cast<IMoniker*>(moniker)->QueryInterface(iid, object);
    static_cast<IMoniker*>(moniker)->Release();
    return hr;
}

HRESULT FakeMediaSystem::GetRunningObjectTable(IRunningObjectTable** table) {
    log_.Add("System.GetRunningObjectTable");
    if (!table) return E_POINTER;
    *table = nullptr;
    if (auto r = Scripted("System", "GetRunningObjectTable")) return *r;
    *table = new FakeRunningObjectTable(this);
    return S_OK;
}

HRESULT FakeMediaSystem::CreateItemMoniker(const WString& delimiter, const WString& item,
                                           IMoniker** moniker) {
    log_.Add("System.CreateItemMoniker(" + Utf8(delimiter) + ", " + Utf8(item) + ")");
    if (!moniker) return E_POINTER;
    *moniker = nullptr;
    if (auto r = Scripted("System", "CreateItemMoniker")) return *r;
    *moniker = new FakeItemMoniker(delimiter + item);
    return S_OK;
}

HRESULT FakeMediaSystem::CreatePropertyFrame(QWidget* parent, int32_t x, int32_t y,
                                             const WString& caption,
                                             const std::vector<IUnknown*>& objects,
                                             const std::vector<GUID>& pages) {
    (void)parent;
    log_.Add("System.CreatePropertyFrame(" + Utf8(caption) + ", " + std::to_string(x) + ", " +
             std::to_string(y) + ", " + std::to_string(objects.size()) + ", " +
             std::to_string(pages.size()) + ")");
    if (auto r = Scripted("System", "CreatePropertyFrame")) return *r;
    if (PropertyFrameHook) PropertyFrameHook(caption, objects);
    return S_OK;
}

uint32_t FakeMediaSystem::GetErrorText(HRESULT hr, char* buffer, uint32_t size) {
    auto it = errorTexts_.find(hr);
    if (it == errorTexts_.end() || !buffer || size == 0) {
        if (buffer && size) buffer[0] = '\0';
        return 0;
    }
    const size_t n = std::min<size_t>(it->second.size(), size - 1);
    std::memcpy(buffer, it->second.data(), n);
    buffer[n] = '\0';
    return uint32_t(n);
}

// ---------------------------------------------------------------------------
// FakePin
// ---------------------------------------------------------------------------

FakePin::FakePin(FakeMediaSystem* system, FakeFilter* filter, const FakePinSpec& spec)
    : FakeObject(system, "Pin[" + filter->Name() + "/" + spec.name + "]"),
      filter_(filter),
      spec_(spec) {
    sys_->Register(this);
}

FakePin::~FakePin() {
    if (peer_) peer_->ForgetPeer(this);
    sys_->Unregister(this);
}

uint32_t FakePin::AddRef() { return static_cast<IBaseFilter*>(filter_)->AddRef(); }
uint32_t FakePin::Release() { return static_cast<IBaseFilter*>(filter_)->Release(); }

HRESULT FakePin::QueryInterface(const IID& iid, void** object) {
    if (!object) return E_POINTER;
    *object = nullptr;
    if (iid == IAMStreamConfig::IID_ && !spec_.streamConfig) return E_NOINTERFACE;
    if (iid == ISpecifyPropertyPages::IID_ && spec_.pages.empty()) return E_NOINTERFACE;
    return ComObject::QueryInterface(iid, object);
}

void FakePin::Link(FakePin* other) {
    peer_ = other;
    other->peer_ = this;
}

HRESULT FakePin::Connect(IPin* receiver, const AM_MEDIA_TYPE* mt) {
    if (auto r = Call("Connect", LabelOf(receiver)); r && FAILED(*r)) return *r;
    FakePin* other = AsFakePin(receiver);
    if (!other) return E_POINTER;
    if (peer_ || other->peer_) return VFW_E_ALREADY_CONNECTED;
    if (other->Direction() == Direction()) return VFW_E_INVALID_DIRECTION;
    TMediaType type;
    if (mt) {
        type.Assign(mt);
    } else if (current_) {
        type = *current_;
    } else if (!spec_.formats.empty()) {
        type = spec_.formats.front();
    }
    Link(other);
    connectionType_ = type;
    other->connectionType_ = type;
    return S_OK;
}

HRESULT FakePin::Disconnect() {
    if (auto r = Call("Disconnect")) return *r;
    if (!peer_) return S_FALSE;
    peer_ = nullptr;
    connectionType_ = TMediaType();
    return S_OK;
}

HRESULT FakePin::ConnectedTo(IPin** other) {
    if (other) *other = nullptr;
    if (auto r = Call("ConnectedTo")) return *r;
    if (!other) return E_POINTER;
    if (!peer_) return VFW_E_NOT_CONNECTED;
    *other = peer_;
    peer_->AddRef();
    return S_OK;
}

HRESULT FakePin::ConnectionMediaType(AM_MEDIA_TYPE* mt) {
    if (auto r = Call("ConnectionMediaType")) return *r;
    if (!mt) return E_POINTER;
    std::memset(static_cast<void*>(mt), 0, sizeof *mt);
    if (!peer_) return VFW_E_NOT_CONNECTED;
    DuplicateMediaType(mt, connectionType_.AMMediaType());
    return S_OK;
}

HRESULT FakePin::QueryPinInfo(PIN_INFO* info) {
    if (auto r = Call("QueryPinInfo")) return *r;
    if (!info) return E_POINTER;
    info->pFilter = filter_;
    static_cast<IBaseFilter*>(filter_)->AddRef();
    info->dir = spec_.direction;
    info->achName = Wide(spec_.name);
    return S_OK;
}

HRESULT FakePin::QueryDirection(PIN_DIRECTION* dir) {
    if (auto r = Call("QueryDirection")) return *r;
    if (!dir) return E_POINTER;
    *dir = spec_.direction;
    return S_OK;
}

HRESULT FakePin::QueryId(WString* id) {
    if (auto r = Call("QueryId")) return *r;
    if (!id) return E_POINTER;
    *id = Wide(spec_.name);
    return S_OK;
}

HRESULT FakePin::EnumMediaTypes(IEnumMediaTypes** types) {
    if (types) *types = nullptr;
    if (auto r = Call("EnumMediaTypes")) return *r;
    if (!types) return E_POINTER;
    *types = new FakeEnumMediaTypes(spec_.formats);
    return S_OK;
}

HRESULT FakePin::GetFormat(AM_MEDIA_TYPE** mt) {
    if (mt) *mt = nullptr;
    if (auto r = Call("GetFormat")) return *r;
    if (!mt) return E_POINTER;
    if (current_) {
        *mt = CreateMediaType(current_->AMMediaType());
    } else if (!spec_.formats.empty()) {
        *mt = CreateMediaType(spec_.formats.front().AMMediaType());
    } else {
        return E_FAIL;
    }
    return S_OK;
}

HRESULT FakePin::SetFormat(const AM_MEDIA_TYPE* mt) {
    if (auto r = Call("SetFormat", mt ? DescribeMediaType(mt).toStdString() : "null")) return *r;
    if (!mt) return E_POINTER;
    TMediaType wanted(mt);
    if (!spec_.formats.empty() &&
        std::none_of(spec_.formats.begin(), spec_.formats.end(),
                     [&](const TMediaType& f) { return f.Equals(wanted); })) {
        return VFW_E_INVALIDMEDIATYPE;
    }
    current_ = wanted;
    return S_OK;
}

HRESULT FakePin::GetNumberOfCapabilities(int32_t* count, int32_t* size) {
    if (auto r = Call("GetNumberOfCapabilities")) return *r;
    if (!count || !size) return E_POINTER;
    *count = int32_t(spec_.formats.size());
    *size = kVideoCapsSize;
    return S_OK;
}

HRESULT FakePin::GetStreamCaps(int32_t index, AM_MEDIA_TYPE** mt, uint8_t* caps) {
    if (mt) *mt = nullptr;
    if (auto r = Call("GetStreamCaps", std::to_string(index))) return *r;
    if (!mt) return E_POINTER;
    if (index < 0 || size_t(index) >= spec_.formats.size()) return S_FALSE;
    *mt = CreateMediaType(spec_.formats[size_t(index)].AMMediaType());
    if (caps) std::memset(caps, 0, kVideoCapsSize);
    return S_OK;
}

HRESULT FakePin::GetPages(CAUUID* pages) {
    if (auto r = Call("GetPages")) return *r;
    if (!pages) return E_POINTER;
    pages->cElems = uint32_t(spec_.pages.size());
    pages->pElems = static_cast<GUID*>(CoTaskMemAlloc(sizeof(GUID) * spec_.pages.size()));
    std::copy(spec_.pages.begin(), spec_.pages.end(), pages->pElems);
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

FakePin* FakeFilter::AddPin(const FakePinSpec& spec) {
    pins_.push_back(std::make_unique<FakePin>(sys_, this, spec));
    return pins_.back().get();
}

FakePin* FakeFilter::Pin(const std::string& name) const {
    for (const auto& pin : pins_) {
        if (pin->Name() == name) return pin.get();
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
    if (auto r = Call("GetClassID")) return *r;
    if (!clsid) return E_POINTER;
    *clsid = clsid_;
    return S_OK;
}

HRESULT FakeFilter::Stop() {
    if (auto r = Call("Stop"); r && FAILED(*r)) return *r;
    state_ = State_Stopped;
    return sys_->Scripted(label_, "Stop").value_or(S_OK);
}

HRESULT FakeFilter::Pause() {
    if (auto r = Call("Pause"); r && FAILED(*r)) return *r;
    state_ = State_Paused;
    return sys_->Scripted(label_, "Pause").value_or(S_OK);
}

HRESULT FakeFilter::Run(REFERENCE_TIME) {
    if (auto r = Call("Run"); r && FAILED(*r)) return *r;
    state_ = State_Running;
    return sys_->Scripted(label_, "Run").value_or(S_OK);
}

HRESULT FakeFilter::GetState(uint32_t, FILTER_STATE* state) {
    if (auto r = Call("GetState")) return *r;
    if (!state) return E_POINTER;
    *state = state_;
    return S_OK;
}

HRESULT FakeFilter::EnumPins(IEnumPins** pins) {
    if (pins) *pins = nullptr;
    if (auto r = Call("EnumPins")) return *r;
    if (!pins) return E_POINTER;
    std::vector<ComPtr<IPin>> items;
    for (const auto& pin : pins_) items.emplace_back(static_cast<IPin*>(pin.get()));
    *pins = new FakeEnum<IEnumPins, IPin>(std::move(items));
    return S_OK;
}

HRESULT FakeFilter::FindPin(const WString& id, IPin** pin) {
    if (pin) *pin = nullptr;
    if (auto r = Call("FindPin", Utf8(id))) return *r;
    if (!pin) return E_POINTER;
    FakePin* found = Pin(Utf8(id));
    if (!found) return VFW_E_NOT_FOUND;
    *pin = found;
    found->AddRef();
    return S_OK;
}

HRESULT FakeFilter::QueryFilterInfo(FILTER_INFO* info) {
    if (auto r = Call("QueryFilterInfo")) return *r;
    if (!info) return E_POINTER;
    info->achName = nameInGraph_;
    info->pGraph = graph_;
    if (graph_) graph_->AddRef();
    return S_OK;
}

HRESULT FakeFilter::JoinFilterGraph(IFilterGraph* graph, const WString& name) {
    if (auto r = Call("JoinFilterGraph", graph ? Utf8(name) : "null")) return *r;
    graph_ = graph;
    nameInGraph_ = graph ? name : WString();
    return S_OK;
}

HRESULT FakeFilter::GetPages(CAUUID* pages) {
    if (auto r = Call("GetPages")) return *r;
    if (!pages) return E_POINTER;
    pages->cElems = uint32_t(pages_.size());
    pages->pElems = static_cast<GUID*>(CoTaskMemAlloc(sizeof(GUID) * pages_.size()));
    std::copy(pages_.begin(), pages_.end(), pages->pElems);
    return S_OK;
}

HRESULT FakeFilter::HasDialog(int32_t dialog) {
    if (auto r = Call("HasDialog", std::to_string(dialog))) return *r;
    return std::count(captureDialogs_.begin(), captureDialogs_.end(), dialog) ? S_OK : S_FALSE;
}

HRESULT FakeFilter::ShowDialog(int32_t dialog, QWidget* parent) {
    if (auto r = Call("ShowDialog",
                      std::to_string(dialog) + ", " + (parent ? "window" : "null"))) {
        return *r;
    }
    if (!compressDialogs_.empty()) {
        // A compressor: 4 and 8 (without a window) ask whether the
        // configuration (1) or about (2) dialog exists.
        auto has = [&](int32_t code) {
            return std::count(compressDialogs_.begin(), compressDialogs_.end(), code) > 0;
        };
        if (dialog == 4) return has(1) ? S_OK : S_FALSE;
        if (dialog == 8) return has(2) ? S_OK : S_FALSE;
        return has(dialog) ? S_OK : E_INVALIDARG;
    }
    return std::count(captureDialogs_.begin(), captureDialogs_.end(), dialog) ? S_OK
                                                                              : E_INVALIDARG;
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
    if (iid == ISampleGrabber::IID_) return static_cast<ISampleGrabber*>(this);
    return FakeFilter::ExtraInterface(iid);
}

HRESULT FakeSampleGrabber::SetOneShot(bool oneShot) {
    return CallAs("Grabber", "SetOneShot", oneShot ? "1" : "0").value_or(S_OK);
}

HRESULT FakeSampleGrabber::SetMediaType(const AM_MEDIA_TYPE* mt) {
    if (auto r = CallAs("Grabber", "SetMediaType",
                        mt ? DescribeMediaType(mt).toStdString() : "null")) {
        return *r;
    }
    if (!mt) return E_POINTER;
    requested_.Assign(mt);
    return S_OK;
}

HRESULT FakeSampleGrabber::GetConnectedMediaType(AM_MEDIA_TYPE* mt) {
    if (auto r = CallAs("Grabber", "GetConnectedMediaType")) return *r;
    if (!mt) return E_POINTER;
    if (!script_.connectedType) return VFW_E_NOT_CONNECTED;
    DuplicateMediaType(mt, script_.connectedType->AMMediaType());
    return S_OK;
}

HRESULT FakeSampleGrabber::SetBufferSamples(bool buffer) {
    if (auto r = CallAs("Grabber", "SetBufferSamples", buffer ? "1" : "0")) return *r;
    bufferSamples_ = buffer;
    return S_OK;
}

HRESULT FakeSampleGrabber::GetCurrentBuffer(int32_t* size, uint8_t* buffer) {
    if (auto r = CallAs("Grabber", "GetCurrentBuffer",
                        buffer ? std::to_string(size ? *size : 0) : "null")) {
        return *r;
    }
    if (!size) return E_POINTER;
    if (!script_.buffer) return VFW_E_WRONG_STATE;
    const auto length = int32_t(script_.buffer->size());
    if (!buffer) {
        *size = length;
        return S_OK;
    }
    const int32_t n = std::max(0, std::min(*size, length));
    if (n > 0) std::memcpy(buffer, script_.buffer->data(), size_t(n));
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
    if (!callback_) return S_FALSE;
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
    if (iid == IVideoWindow::IID_ && hasVideoWindow_) return static_cast<IVideoWindow*>(this);
    return FakeFilter::ExtraInterface(iid);
}

HRESULT FakeRenderer::put_Caption(const WString& caption) {
    if (auto r = CallAs("Renderer", "put_Caption", Utf8(caption))) return *r;
    caption_ = caption;
    return S_OK;
}

HRESULT FakeRenderer::put_WindowStyle(int32_t style) {
    if (auto r = CallAs("Renderer", "put_WindowStyle", Hex8(uint32_t(style)))) return *r;
    style_ = style;
    return S_OK;
}

HRESULT FakeRenderer::put_WindowStyleEx(int32_t style) {
    if (auto r = CallAs("Renderer", "put_WindowStyleEx", Hex8(uint32_t(style)))) return *r;
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
    if (auto r = CallAs("Renderer", "put_Visible", std::to_string(visible))) return *r;
    visible_ = visible;
    return S_OK;
}

HRESULT FakeRenderer::get_Visible(int32_t* visible) {
    if (auto r = CallAs("Renderer", "get_Visible")) return *r;
    if (!visible) return E_POINTER;
    *visible = visible_;
    return S_OK;
}

HRESULT FakeRenderer::SetWindowPosition(int32_t left, int32_t top, int32_t width,
                                        int32_t height) {
    if (auto r = CallAs("Renderer", "SetWindowPosition",
                        std::to_string(left) + ", " + std::to_string(top) + ", " +
                            std::to_string(width) + ", " + std::to_string(height))) {
        return *r;
    }
    position_ = {left, top, left + width, top + height};
    return S_OK;
}

// ---------------------------------------------------------------------------
// FakeGraph
// ---------------------------------------------------------------------------

FakeGraph::FakeGraph(FakeMediaSystem* system) : FakeObject(system, "Graph") {
    sys_->Register(this);
}

FakeGraph::~FakeGraph() {
    sys_->Unregister(this);
    for (Entry& entry : filters_) entry.filter->JoinFilterGraph(nullptr, WString());
    filters_.clear();
}

void* FakeGraph::ExtraInterface(const IID& iid) {
    if (iid == IBasicAudio::IID_ && audio_) return static_cast<IBasicAudio*>(this);
    return nullptr;
}

int FakeGraph::Find(IBaseFilter* filter) const {
    if (!filter) return -1;
    for (size_t i = 0; i < filters_.size(); ++i) {
        if (SameObject(filters_[i].filter.Get(), filter)) return int(i);
    }
    return -1;
}

std::string FakeGraph::NameOf(IBaseFilter* filter) const {
    const int i = Find(filter);
    if (i >= 0) return Utf8(filters_[size_t(i)].name);
    return LabelOf(filter);
}

std::vector<std::string> FakeGraph::FilterNames() const {
    std::vector<std::string> names;
    for (const Entry& entry : filters_) names.push_back(Utf8(entry.name));
    return names;
}

bool FakeGraph::HasFilter(const std::string& name) const {
    const auto names = FilterNames();
    return std::find(names.begin(), names.end(), name) != names.end();
}

void FakeGraph::SetFilterStates(FILTER_STATE state) {
    for (Entry& entry : filters_) {
        if (FakeFilter* filter = AsFakeFilter(entry.filter.Get())) filter->SetStateSilently(state);
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
    if (!filter) return E_POINTER;
    if (Find(filter) >= 0) return VFW_E_DUPLICATE_NAME;
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
    if (auto r = Call("RemoveFilter", filter ? NameOf(filter) : "null")) return *r;
    if (!filter) return E_POINTER;
    const int i = Find(filter);
    if (i < 0) return VFW_E_NOT_FOUND;
    ComPtr<IBaseFilter> keep = filters_[size_t(i)].filter;
    filters_.erase(filters_.begin() + i);
    keep->JoinFilterGraph(nullptr, WString());
    return S_OK;
}

HRESULT FakeGraph::EnumFilters(IEnumFilters** filters) {
    if (filters) *filters = nullptr;
    if (auto r = Call("EnumFilters")) return *r;
    if (!filters) return E_POINTER;
    std::vector<ComPtr<IBaseFilter>> items;
    for (const Entry& entry : filters_) items.push_back(entry.filter);
    *filters = new FakeEnum<IEnumFilters, IBaseFilter>(std::move(items));
    return S_OK;
}

HRESULT FakeGraph::FindFilterByName(const WString& name, IBaseFilter** filter) {
    if (filter) *filter = nullptr;
    if (auto r = Call("FindFilterByName", Utf8(name))) return *r;
    if (!filter) return E_POINTER;
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
    if (auto r = Call("ConnectDirect", LabelOf(out) + ", " + LabelOf(in))) return *r;
    if (!out || !in) return E_POINTER;
    return out->Connect(in, mt);
}

HRESULT FakeGraph::Disconnect(IPin* pin) {
    if (auto r = Call("Disconnect", LabelOf(pin))) return *r;
    if (!pin) return E_POINTER;
    return pin->Disconnect();
}

HRESULT FakeGraph::Connect(IPin* out, IPin* in) {
    if (auto r = Call("Connect", LabelOf(out) + ", " + LabelOf(in))) return *r;
    if (!out || !in) return E_POINTER;
    return out->Connect(in, nullptr);
}

HRESULT FakeGraph::Render(IPin* out) {
    if (auto r = Call("Render", LabelOf(out))) return *r;
    return out ? S_OK : E_POINTER;
}

HRESULT FakeGraph::SetLogFile(intptr_t file) {
    if (auto r = Call("SetLogFile", file < 0 ? "-1" : "file")) return *r;
    logFile_ = file;
    return S_OK;
}

HRESULT FakeGraph::Abort() { return Call("Abort").value_or(S_OK); }

HRESULT FakeGraph::Run() {
    if (auto r = Call("Run"); r && FAILED(*r)) return *r;
    state_ = State_Running;
    SetFilterStates(state_);
    return sys_->Scripted(label_, "Run").value_or(S_OK);
}

HRESULT FakeGraph::Pause() {
    if (auto r = Call("Pause"); r && FAILED(*r)) return *r;
    state_ = State_Paused;
    SetFilterStates(state_);
    return sys_->Scripted(label_, "Pause").value_or(S_OK);
}

HRESULT FakeGraph::Stop() {
    if (auto r = Call("Stop"); r && FAILED(*r)) return *r;
    state_ = State_Stopped;
    SetFilterStates(state_);
    return sys_->Scripted(label_, "Stop").value_or(S_OK);
}

HRESULT FakeGraph::GetState(int32_t, FILTER_STATE* state) {
    if (auto r = Call("GetState")) return *r;
    if (!state) return E_POINTER;
    *state = state_;
    return S_OK;
}

HRESULT FakeGraph::GetEvent(int32_t* code, intptr_t* param1, intptr_t* param2, int32_t) {
    if (auto r = Call("GetEvent")) return *r;
    if (!code || !param1 || !param2) return E_POINTER;
    if (events_.empty()) return E_ABORT;
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
    if (auto r = Call("SetNotifyWindow", std::string(window ? "window" : "null") + ", " +
                                             Hex(message))) {
        return *r;
    }
    notifyWindow_ = window;
    notifyMessage_ = message;
    notifyInstance_ = instance;
    return S_OK;
}

HRESULT FakeGraph::SetNotifyFlags(int32_t flags) {
    if (auto r = Call("SetNotifyFlags", std::to_string(flags))) return *r;
    notifyFlags_ = flags;
    return S_OK;
}

HRESULT FakeGraph::GetCurrentPosition(int64_t* position) {
    if (auto r = Call("GetCurrentPosition")) return *r;
    if (!position) return E_POINTER;
    *position = position_;
    return S_OK;
}

HRESULT FakeGraph::put_Volume(int32_t volume) {
    if (auto r = Call("put_Volume", std::to_string(volume))) return *r;
    volume_ = volume;
    return S_OK;
}

HRESULT FakeGraph::put_Balance(int32_t balance) {
    if (auto r = Call("put_Balance", std::to_string(balance))) return *r;
    balance_ = balance;
    return S_OK;
}

HRESULT FakeGraph::SetSite(IUnknown* site) {
    if (auto r = Call("SetSite", site ? "site" : "null")) return *r;
    site_ = ComPtr<IUnknown>(site);
    return S_OK;
}

HRESULT FakeGraph::QueryService(const GUID& service, const IID& iid, void** object) {
    if (object) *object = nullptr;
    if (auto r = Call("QueryService", GuidLabel(service))) return *r;
    ComPtr<IServiceProvider> provider = QueryAs<IServiceProvider>(site_.Get());
    if (!provider) return E_NOINTERFACE;
    return provider->QueryService(service, iid, object);
}

}  // namespace fake
}  // namespace media
