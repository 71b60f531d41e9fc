// SPDX-License-Identifier: GPL-3.0-or-later
#include <QCoreApplication>

#include "FakeInternal.h"

#include <chrono>
#include <thread>

namespace media {
namespace fake {

using namespace internal;

// ---------------------------------------------------------------------------
// Helpers
// ---------------------------------------------------------------------------

std::string Utf8(const WString& text) {
    return QString::fromStdU16String(text).toStdString();
}
WString Wide(const std::string& text) {
    return QString::fromStdString(text).toStdU16String();
}

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
        if (entry.first == g)
            return entry.second;
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
    const uint32_t imageSize =
        rgb ? stride * uint32_t(absHeight) : uint32_t(width) * uint32_t(absHeight) * bits / 8;
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
        if (entries_[i] == entry)
            return int(i);
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
        if (at < 0)
            return false;
        from = at + 1;
    }
    return true;
}

bool CallLog::ContainsAll(std::initializer_list<std::string> entries) const {
    for (const std::string& entry : entries) {
        if (!Contains(entry))
            return false;
    }
    return true;
}

std::vector<std::string> CallLog::Matching(const std::string& prefix) const {
    std::vector<std::string> out;
    for (const std::string& entry : entries_) {
        if (entry.compare(0, prefix.size(), prefix) == 0)
            out.push_back(entry);
    }
    return out;
}

std::string CallLog::Text() const {
    std::string text;
    for (const std::string& entry : entries_)
        text += entry + "\n";
    return text;
}

std::optional<HRESULT> FakeObject::Call(const std::string& method, const std::string& args) {
    sys_->Log().Add(label_ + "." + method + (args.empty() ? "" : "(" + args + ")"));
    sys_->Wait(label_, method);
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
    if (MediaSystem() == this)
        SetMediaSystem(previous_);
}

void FakeMediaSystem::Hold(const std::string& call) {
    std::lock_guard<std::mutex> lock(scriptMutex_);
    holds_.insert(call);
}

void FakeMediaSystem::Release(const std::string& call) {
    std::lock_guard<std::mutex> lock(scriptMutex_);
    holds_.erase(call);
    released_.notify_all();
}

void FakeMediaSystem::SetDelay(const std::string& call, int ms) {
    std::lock_guard<std::mutex> lock(scriptMutex_);
    if (ms > 0)
        delays_[call] = ms;
    else
        delays_.erase(call);
}

void FakeMediaSystem::Wait(const std::string& label, const std::string& method) {
    const std::string key = label + "." + method;
    std::unique_lock<std::mutex> lock(scriptMutex_);
    if (holds_.count(key)) {
        ++held_;
        released_.wait(lock, [&] { return holds_.count(key) == 0; });
        --held_;
    }
    auto delay = delays_.find(key);
    if (delay != delays_.end()) {
        const int ms = delay->second;
        lock.unlock();
        std::this_thread::sleep_for(std::chrono::milliseconds(ms));
    }
}

std::optional<HRESULT> FakeMediaSystem::Scripted(const std::string& label,
                                                 const std::string& method) {
    std::lock_guard<std::mutex> lock(scriptMutex_);
    auto it = results_.find(label + "." + method);
    if (it == results_.end())
        it = results_.find("*." + method);
    if (it == results_.end())
        return std::nullopt;
    const HRESULT result = it->second;
    auto left = remaining_.find(it->first);
    if (left != remaining_.end() && --left->second <= 0) {
        remaining_.erase(left);
        results_.erase(it);
    }
    return result;
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

FakeDevice& FakeMediaSystem::AddCompressor(const GUID& category, const std::string& friendlyName) {
    FakeDevice& device = AddDevice(category, friendlyName);
    device.pins.push_back({"Input", PINDIR_INPUT, {}, false, {}});
    device.pins.push_back({"Output", PINDIR_OUTPUT, {}, false, {}});
    device.compressDialogs = {1, 2};
    return device;
}

std::vector<FakeDevice*> FakeMediaSystem::Devices(const GUID& category) {
    std::vector<FakeDevice*> out;
    for (const auto& device : devices_) {
        if (device->category == category)
            out.push_back(device.get());
    }
    return out;
}

FakeDevice* FakeMediaSystem::FindDevice(const std::string& id) {
    for (const auto& device : devices_) {
        if (device->id == id)
            return device.get();
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

FakeGraph* FakeMediaSystem::Graph() const {
    return graphs_.empty() ? nullptr : graphs_.back();
}

FakeFilter* FakeMediaSystem::Filter(const std::string& name) const {
    for (auto it = filters_.rbegin(); it != filters_.rend(); ++it) {
        if ((*it)->Name() == name)
            return *it;
    }
    return nullptr;
}

FakeSampleGrabber* FakeMediaSystem::SampleGrabber() const {
    for (auto it = filters_.rbegin(); it != filters_.rend(); ++it) {
        if (auto* grabber = dynamic_cast<FakeSampleGrabber*>(*it))
            return grabber;
    }
    return nullptr;
}

FakeRenderer* FakeMediaSystem::Renderer() const {
    for (auto it = filters_.rbegin(); it != filters_.rend(); ++it) {
        if (auto* renderer = dynamic_cast<FakeRenderer*>(*it))
            return renderer;
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
    for (FakePin* other : pins_)
        other->ForgetPeer(pin);
}

FakeFilter* FakeMediaSystem::CreateDeviceFilter(const FakeDevice& device) {
    CLSID clsid;
    if (device.clsidText)
        GuidFromString(*device.clsidText, clsid);
    auto* filter = new FakeFilter(this, device.friendlyName, clsid);
    for (const FakePinDesc& desc : device.pins)
        filter->AddPin(desc);
    filter->FilterPages() = device.filterPages;
    filter->CaptureDialogs() = device.captureDialogs;
    filter->CompressDialogs() = device.compressDialogs;
    return filter;
}

HRESULT FakeMediaSystem::CreateInstance(const CLSID& clsid, const IID& iid, void** object) {
    log_.Add("System.CoCreateInstance(" + GuidLabel(clsid) + ")");
    if (!object)
        return E_POINTER;
    *object = nullptr;
    if (unavailable_.count(clsid))
        return REGDB_E_CLASSNOTREG;
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
    if (auto r = Scripted("System", "OleSaveToStream"))
        return *r;
    if (!moniker || !stream)
        return E_POINTER;
    CLSID clsid;
    moniker->GetClassID(&clsid);
    std::vector<uint8_t> data;
    HRESULT hr = moniker->Save(&data);
    if (FAILED(hr))
        return hr;
    const auto* raw = reinterpret_cast<const uint8_t*>(&clsid);
    stream->assign(raw, raw + sizeof clsid);
    stream->insert(stream->end(), data.begin(), data.end());
    return S_OK;
}

HRESULT FakeMediaSystem::LoadMonikerFromStream(const std::vector<uint8_t>& stream, const IID& iid,
                                               void** object) {
    log_.Add("System.OleLoadFromStream");
    if (!object)
        return E_POINTER;
    *object = nullptr;
    if (auto r = Scripted("System", "OleLoadFromStream"))
        return *r;
    CLSID clsid;
    if (stream.size() < sizeof clsid)
        return E_FAIL;
    std::memcpy(&clsid, stream.data(), sizeof clsid);
    if (clsid != kFakeMonikerClsid)
        return REGDB_E_CLASSNOTREG;
    auto* moniker = new FakeMoniker(this, "");
    static_cast<IMoniker*>(moniker)->Load(
        std::vector<uint8_t>(stream.begin() + sizeof clsid, stream.end()));
    HRESULT hr = static_cast<IMoniker*>(moniker)->QueryInterface(iid, object);
    static_cast<IMoniker*>(moniker)->Release();
    return hr;
}

HRESULT FakeMediaSystem::GetRunningObjectTable(IRunningObjectTable** table) {
    log_.Add("System.GetRunningObjectTable");
    if (!table)
        return E_POINTER;
    *table = nullptr;
    if (auto r = Scripted("System", "GetRunningObjectTable"))
        return *r;
    *table = new FakeRunningObjectTable(this);
    return S_OK;
}

HRESULT FakeMediaSystem::CreateItemMoniker(const WString& delimiter, const WString& item,
                                           IMoniker** moniker) {
    log_.Add("System.CreateItemMoniker(" + Utf8(delimiter) + ", " + Utf8(item) + ")");
    if (!moniker)
        return E_POINTER;
    *moniker = nullptr;
    if (auto r = Scripted("System", "CreateItemMoniker"))
        return *r;
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
    if (auto r = Scripted("System", "CreatePropertyFrame"))
        return *r;
    if (PropertyFrameHook)
        PropertyFrameHook(caption, objects);
    return S_OK;
}

uint32_t FakeMediaSystem::GetErrorText(HRESULT hr, char* buffer, uint32_t size) {
    auto it = errorTexts_.find(hr);
    if (it == errorTexts_.end() || !buffer || size == 0) {
        if (buffer && size)
            buffer[0] = '\0';
        return 0;
    }
    const size_t n = std::min<size_t>(it->second.size(), size - 1);
    std::memcpy(buffer, it->second.data(), n);
    buffer[n] = '\0';
    return uint32_t(n);
}

HRESULT FakeMediaSystem::RegisterDeviceNotification(QObject* receiver, uint32_t message) {
    log_.Add("System.RegisterDeviceNotification(" + std::to_string(message) + ")");
    if (!receiver)
        return E_POINTER;
    deviceReceivers_.emplace_back(receiver, message);
    return S_OK;
}

HRESULT FakeMediaSystem::UnregisterDeviceNotification(QObject* receiver) {
    log_.Add("System.UnregisterDeviceNotification()");
    deviceReceivers_.erase(
        std::remove_if(deviceReceivers_.begin(), deviceReceivers_.end(),
                       [receiver](const auto& r) { return r.first == receiver; }),
        deviceReceivers_.end());
    return S_OK;
}

void FakeMediaSystem::AnnounceDeviceChange(intptr_t change) {
    for (const auto& [receiver, message] : deviceReceivers_)
        QCoreApplication::postEvent(receiver, new WindowMessageEvent(message, change, 0));
}

}  // namespace fake
}  // namespace media
