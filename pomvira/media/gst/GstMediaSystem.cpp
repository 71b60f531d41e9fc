#include "GstMediaSystem.h"

#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <map>
#include <mutex>

#include <QString>
#include <unistd.h>

#include "BinFilter.h"
#include "CaptureGraphBuilder.h"
#include "DeviceEnum.h"
#include "DeviceWatch.h"
#include "FilterGraph.h"
#include "GstRef.h"
#include "TestDevices.h"
#include "RenderingFilters.h"

namespace media::gst {

namespace {

struct Registry {
    std::mutex lock;
    std::map<CLSID, FilterClassFactory> classes;
    PropertyFrameHandler propertyFrame;
};

Registry& TheRegistry() {
    static Registry registry;
    return registry;
}

struct ErrorText {
    HRESULT hr;
    const char* text;
};

const ErrorText kErrorTexts[] = {
    {S_OK, "The operation completed successfully."},
    {S_FALSE, "The operation completed, with a false result."},
    {E_NOTIMPL, "Not implemented."},
    {E_NOINTERFACE, "No such interface supported."},
    {E_POINTER, "Invalid pointer."},
    {E_ABORT, "Operation aborted."},
    {E_FAIL, "Unspecified error."},
    {E_UNEXPECTED, "Catastrophic failure."},
    {E_OUTOFMEMORY, "Not enough storage is available to complete this operation."},
    {E_INVALIDARG, "The parameter is incorrect."},
    {E_ACCESSDENIED, "Access is denied."},
    {STG_E_FILENOTFOUND, "The file could not be found."},
    {MK_E_UNAVAILABLE, "Operation unavailable."},
    {REGDB_E_CLASSNOTREG, "Class not registered."},
    {VFW_E_INVALIDMEDIATYPE, "An invalid media type was specified."},
    {VFW_E_INVALIDSUBTYPE, "An invalid media subtype was specified."},
    {VFW_E_ALREADY_CONNECTED,
     "The operation could not be performed because the pin is already "
     "connected."},
    {VFW_E_FILTER_ACTIVE, "The operation could not be performed because the filter is active."},
    {VFW_E_NO_TYPES, "One of the specified pins supports no media types."},
    {VFW_E_NO_ACCEPTABLE_TYPES, "There is no common media type between these pins."},
    {VFW_E_INVALID_DIRECTION, "Two pins of the same direction cannot be connected together."},
    {VFW_E_NOT_CONNECTED,
     "The operation cannot be performed because the pins are not "
     "connected."},
    {VFW_E_RUNTIME_ERROR, "A run-time error occurred."},
    {VFW_E_NO_INTERFACE, "The required interface was not found."},
    {VFW_E_NOT_FOUND, "An object or name was not found."},
    {VFW_E_CANNOT_CONNECT,
     "No combination of intermediate filters could be found to make the "
     "connection."},
    {VFW_E_CANNOT_RENDER, "No combination of filters could be found to render the stream."},
    {VFW_E_NOT_STOPPED,
     "The operation could not be performed because the filter is not "
     "stopped."},
    {VFW_E_WRONG_STATE,
     "The operation could not be performed because the filter is in the "
     "wrong state."},
    {VFW_E_TYPE_NOT_ACCEPTED, "This pin cannot use the supplied media type."},
    {VFW_E_NOT_IN_GRAPH,
     "Cannot perform the requested function on an object that is not in the "
     "filter graph."},
    {VFW_E_NO_CAPTURE_HARDWARE, "Cannot capture: no capture hardware is available."},
    {VFW_E_TIMEOUT, "The operation timed out."},
    {VFW_E_DUPLICATE_NAME, "A filter with this name already exists in the filter graph."},
    {VFW_E_FILE_NOT_FOUND, "The specified file was not found."},
    {HResultFromWin32(ERROR_PATH_NOT_FOUND), "The system cannot find the path specified."},
    {HResultFromWin32(ERROR_WRITE_PROTECT), "The media is write protected."},
    {HResultFromWin32(ERROR_NOT_READY), "The device is not ready."},
    {HResultFromWin32(ERROR_WRITE_FAULT), "The system cannot write to the specified device."},
    {HResultFromWin32(ERROR_DISK_FULL), "There is not enough space on the disk."},
    {HResultFromWin32(ERROR_FILE_TOO_LARGE),
     "The file size exceeds the limit allowed and cannot be saved."},
};

constexpr CLSID CLSID_ItemMoniker =
    MakeGuid(0x00000304, 0x0000, 0x0000, 0xC0, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x46);

class RunningObjectTable;
RunningObjectTable& TheTable();

// Answered by ItemMoniker only, to reach its item text.
constexpr IID IID_ItemMonikerImpl =
    MakeGuid(0x7A3C5E40, 0x51B2, 0x4C6E, 0x9A, 0x41, 0x2D, 0x6F, 0x10, 0x83, 0xC4, 0x40);

// "delimiter" + "item": names an object of the running object table.
class ItemMoniker : public ComObject<IMoniker, IPersist> {
  public:
    ItemMoniker() = default;
    ItemMoniker(const WString& delimiter, const WString& item)
        : delimiter_(delimiter), item_(item) {}

    const WString& Item() const { return item_; }

    HRESULT GetClassID(CLSID* clsid) override {
        if (!clsid)
            return E_POINTER;
        *clsid = CLSID_ItemMoniker;
        return S_OK;
    }
    HRESULT BindToObject(const IID& iid, void** object) override;
    HRESULT BindToStorage(const IID&, void** object) override {
        if (object)
            *object = nullptr;
        return E_NOTIMPL;
    }
    HRESULT GetDisplayName(WString* name) override {
        if (!name)
            return E_POINTER;
        *name = delimiter_ + item_;
        return S_OK;
    }
    HRESULT Save(std::vector<uint8_t>* data) override {
        if (!data)
            return E_POINTER;
        std::string d = ToUtf8(delimiter_), i = ToUtf8(item_);
        data->assign(d.begin(), d.end());
        data->push_back(0);
        data->insert(data->end(), i.begin(), i.end());
        return S_OK;
    }
    HRESULT Load(const std::vector<uint8_t>& data) override {
        auto zero = std::find(data.begin(), data.end(), uint8_t(0));
        if (zero == data.end())
            return E_INVALIDARG;
        delimiter_ = FromUtf8(std::string(data.begin(), zero).c_str());
        item_ = FromUtf8(std::string(zero + 1, data.end()).c_str());
        return S_OK;
    }

  protected:
    void* ExtraInterface(const IID& iid) override {
        return iid == IID_ItemMonikerImpl ? this : nullptr;
    }

  private:
    WString delimiter_;
    WString item_;
};

// The in-process running object table. Registered objects are held with a
// reference until they are revoked.
class RunningObjectTable : public ComObject<IRunningObjectTable> {
  public:
    // Lives as long as the process; never released to zero.
    RunningObjectTable() { AddRef(); }

    HRESULT Register(uint32_t, IUnknown* object, IMoniker* name, uint32_t* cookie) override {
        if (!object || !name || !cookie)
            return E_INVALIDARG;
        *cookie = 0;
        WString display;
        if (FAILED(name->GetDisplayName(&display)))
            return E_INVALIDARG;
        WString item = display;
        void* p = nullptr;
        if (SUCCEEDED(name->QueryInterface(IID_ItemMonikerImpl, &p)) && p) {
            item = static_cast<ItemMoniker*>(p)->Item();
            name->Release();
        }
        Entry e{++lastCookie_, ComPtr<IUnknown>(object), display, item};
        {
            std::lock_guard<std::mutex> guard(lock_);
            entries_.push_back(e);
        }
        SetInspectionName(object, ToUtf8(item));
        *cookie = e.cookie;
        return S_OK;
    }

    HRESULT Revoke(uint32_t cookie) override {
        ComPtr<IUnknown> object;
        {
            std::lock_guard<std::mutex> guard(lock_);
            auto it = std::find_if(entries_.begin(), entries_.end(),
                                   [cookie](const Entry& e) { return e.cookie == cookie; });
            if (it == entries_.end())
                return E_INVALIDARG;
            object = it->object;
            entries_.erase(it);
        }
        SetInspectionName(object.Get(), std::string());
        return S_OK;
    }

    HRESULT GetObjectByName(const WString& displayName, IUnknown** object) override {
        if (!object)
            return E_POINTER;
        *object = nullptr;
        std::lock_guard<std::mutex> guard(lock_);
        for (const Entry& e : entries_) {
            if (e.display == displayName || e.item == displayName) {
                *object = e.object.Get();
                (*object)->AddRef();
                return S_OK;
            }
        }
        return MK_E_UNAVAILABLE;
    }

  private:
    struct Entry {
        uint32_t cookie;
        ComPtr<IUnknown> object;
        WString display;
        WString item;
    };

    static void SetInspectionName(IUnknown* object, const std::string& name) {
        void* p = nullptr;
        if (object && SUCCEEDED(object->QueryInterface(IID_GraphInternal, &p)) && p) {
            static_cast<GraphInternal*>(p)->SetInspectionName(name);
            object->Release();
        }
    }

    std::mutex lock_;
    std::vector<Entry> entries_;
    uint32_t lastCookie_ = 0;
};

RunningObjectTable& TheTable() {
    static RunningObjectTable* table = new RunningObjectTable;
    return *table;
}

HRESULT ItemMoniker::BindToObject(const IID& iid, void** object) {
    if (!object)
        return E_POINTER;
    *object = nullptr;
    ComPtr<IUnknown> found;
    HRESULT hr = TheTable().GetObjectByName(delimiter_ + item_, found.Put());
    if (FAILED(hr))
        return hr;
    return found->QueryInterface(iid, object);
}

void PutGuid(std::vector<uint8_t>* out, const GUID& g) {
    for (int i = 0; i < 4; ++i)
        out->push_back(uint8_t(g.Data1 >> (8 * i)));
    for (int i = 0; i < 2; ++i)
        out->push_back(uint8_t(g.Data2 >> (8 * i)));
    for (int i = 0; i < 2; ++i)
        out->push_back(uint8_t(g.Data3 >> (8 * i)));
    out->insert(out->end(), g.Data4, g.Data4 + 8);
}

GUID GetGuid(const uint8_t* p) {
    GUID g;
    g.Data1 = uint32_t(p[0]) | uint32_t(p[1]) << 8 | uint32_t(p[2]) << 16 | uint32_t(p[3]) << 24;
    g.Data2 = uint16_t(p[4] | p[5] << 8);
    g.Data3 = uint16_t(p[6] | p[7] << 8);
    std::memcpy(g.Data4, p + 8, 8);
    return g;
}

template <class T>
HRESULT Hand(T* made, const IID& iid, void** object) {
    ComPtr<IUnknown> owner = ComPtr<IUnknown>::Attach(static_cast<IUnknown*>(made));
    return owner->QueryInterface(iid, object);
}

class System : public IMediaSystem {
  public:
    HRESULT CreateInstance(const CLSID& clsid, const IID& iid, void** object) override {
        if (!object)
            return E_POINTER;
        *object = nullptr;
        FilterClassFactory factory;
        {
            Registry& r = TheRegistry();
            std::lock_guard<std::mutex> guard(r.lock);
            auto it = r.classes.find(clsid);
            if (it != r.classes.end())
                factory = it->second;
        }
        if (factory)
            return factory(iid, object);
        if (clsid == CLSID_FilterGraph)
            return Hand(new FilterGraph, iid, object);
        if (clsid == CLSID_CaptureGraphBuilder2)
            return Hand(new CaptureGraphBuilder, iid, object);
        if (clsid == CLSID_SystemDeviceEnum)
            return Hand(new SystemDeviceEnum, iid, object);
        return REGDB_E_CLASSNOTREG;
    }

    HRESULT SaveMonikerToStream(IMoniker* moniker, std::vector<uint8_t>* stream) override {
        if (!moniker || !stream)
            return E_POINTER;
        CLSID clsid{};
        HRESULT hr = moniker->GetClassID(&clsid);
        if (FAILED(hr))
            return hr;
        std::vector<uint8_t> data;
        hr = moniker->Save(&data);
        if (FAILED(hr))
            return hr;
        stream->clear();
        PutGuid(stream, clsid);
        stream->insert(stream->end(), data.begin(), data.end());
        return S_OK;
    }

    HRESULT LoadMonikerFromStream(const std::vector<uint8_t>& stream, const IID& iid,
                                  void** object) override {
        if (!object)
            return E_POINTER;
        *object = nullptr;
        if (stream.size() < 16)
            return E_INVALIDARG;
        CLSID clsid = GetGuid(stream.data());
        std::vector<uint8_t> data(stream.begin() + 16, stream.end());
        ComPtr<IMoniker> moniker;
        if (clsid == CLSID_DeviceMoniker) {
            moniker = ComPtr<IMoniker>::Attach(NewDeviceMoniker());
        } else if (clsid == CLSID_ItemMoniker) {
            moniker = ComPtr<IMoniker>::Attach(new ItemMoniker);
        } else {
            return REGDB_E_CLASSNOTREG;
        }
        HRESULT hr = moniker->Load(data);
        if (FAILED(hr))
            return hr;
        return moniker->QueryInterface(iid, object);
    }

    HRESULT GetRunningObjectTable(IRunningObjectTable** table) override {
        if (!table)
            return E_POINTER;
        *table = &TheTable();
        (*table)->AddRef();
        return S_OK;
    }

    HRESULT CreateItemMoniker(const WString& delimiter, const WString& item,
                              IMoniker** moniker) override {
        if (!moniker)
            return E_POINTER;
        *moniker = new ItemMoniker(delimiter, item);
        return S_OK;
    }

    HRESULT CreatePropertyFrame(QWidget* parent, int32_t, int32_t, const WString& caption,
                                const std::vector<IUnknown*>& objects,
                                const std::vector<GUID>& pages) override {
        PropertyFrameHandler handler;
        {
            Registry& r = TheRegistry();
            std::lock_guard<std::mutex> guard(r.lock);
            handler = r.propertyFrame;
        }
        if (!handler)
            return E_NOTIMPL;
        return handler(parent, caption, objects, pages);
    }

    uint32_t GetErrorText(HRESULT hr, char* buffer, uint32_t size) override {
        for (const auto& e : kErrorTexts) {
            if (e.hr != hr)
                continue;
            uint32_t len = uint32_t(std::strlen(e.text));
            if (buffer && size > 0) {
                uint32_t n = std::min(len, size - 1);
                std::memcpy(buffer, e.text, n);
                buffer[n] = '\0';
            }
            return len;
        }
        if (buffer && size > 0)
            buffer[0] = '\0';
        return 0;
    }

    HRESULT RegisterDeviceNotification(QObject* receiver, uint32_t message) override {
        if (!receiver)
            return E_POINTER;
        DeviceWatch::Get().Register(receiver, message);
        return S_OK;
    }

    HRESULT UnregisterDeviceNotification(QObject* receiver) override {
        DeviceWatch::Get().Unregister(receiver);
        return S_OK;
    }
};

}  // namespace

IMediaSystem* GstMediaSystem() {
    static System* system = [] {
        gst_init(nullptr, nullptr);
        RegisterRenderingClasses();
        const char* count = g_getenv("POMVIRA_TEST_DEVICES");
        if (count)
            RegisterTestDevices(int(g_ascii_strtoll(count, nullptr, 10)));
        return new System;
    }();
    return system;
}

void RegisterFilterClass(const CLSID& clsid, FilterClassFactory factory) {
    Registry& r = TheRegistry();
    std::lock_guard<std::mutex> guard(r.lock);
    r.classes[clsid] = std::move(factory);
}

bool PlugTestDevice(const std::string& name, bool plugged) {
    return SetTestDevicePlugged(name, plugged);
}

void SetPropertyFrameHandler(PropertyFrameHandler handler) {
    Registry& r = TheRegistry();
    std::lock_guard<std::mutex> guard(r.lock);
    r.propertyFrame = std::move(handler);
}

}  // namespace media::gst
