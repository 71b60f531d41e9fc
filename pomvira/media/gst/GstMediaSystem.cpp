#include "GstMediaSystem.h"

#include <cstdlib>
#include <cstring>
#include <map>
#include <mutex>

#include "GstRef.h"

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
    {VFW_E_ALREADY_CONNECTED, "The operation could not be performed because the pin is already "
                              "connected."},
    {VFW_E_FILTER_ACTIVE, "The operation could not be performed because the filter is active."},
    {VFW_E_NO_TYPES, "One of the specified pins supports no media types."},
    {VFW_E_NO_ACCEPTABLE_TYPES, "There is no common media type between these pins."},
    {VFW_E_INVALID_DIRECTION, "Two pins of the same direction cannot be connected together."},
    {VFW_E_NOT_CONNECTED, "The operation cannot be performed because the pins are not "
                          "connected."},
    {VFW_E_RUNTIME_ERROR, "A run-time error occurred."},
    {VFW_E_NO_INTERFACE, "The required interface was not found."},
    {VFW_E_NOT_FOUND, "An object or name was not found."},
    {VFW_E_CANNOT_CONNECT, "No combination of intermediate filters could be found to make the "
                           "connection."},
    {VFW_E_CANNOT_RENDER, "No combination of filters could be found to render the stream."},
    {VFW_E_NOT_STOPPED, "The operation could not be performed because the filter is not "
                        "stopped."},
    {VFW_E_WRONG_STATE, "The operation could not be performed because the filter is in the "
                        "wrong state."},
    {VFW_E_TYPE_NOT_ACCEPTED, "This pin cannot use the supplied media type."},
    {VFW_E_NOT_IN_GRAPH, "Cannot perform the requested function on an object that is not in the "
                         "filter graph."},
    {VFW_E_NO_CAPTURE_HARDWARE, "Cannot capture: no capture hardware is available."},
    {VFW_E_TIMEOUT, "The operation timed out."},
    {VFW_E_DUPLICATE_NAME, "A filter with this name already exists in the filter graph."},
    {VFW_E_FILE_NOT_FOUND, "The specified file was not found."},
};

class System : public IMediaSystem {
public:
    HRESULT CreateInstance(const CLSID& clsid, const IID& iid, void** object) override {
        if (!object) return E_POINTER;
        *object = nullptr;
        FilterClassFactory factory;
        {
            Registry& r = TheRegistry();
            std::lock_guard<std::mutex> guard(r.lock);
            auto it = r.classes.find(clsid);
            if (it != r.classes.end()) factory = it->second;
        }
        if (factory) return factory(iid, object);
        return REGDB_E_CLASSNOTREG;
    }

    HRESULT SaveMonikerToStream(IMoniker*, std::vector<uint8_t>*) override { return E_NOTIMPL; }
    HRESULT LoadMonikerFromStream(const std::vector<uint8_t>&, const IID&, void** object) override {
        if (object) *object = nullptr;
        return E_NOTIMPL;
    }
    HRESULT GetRunningObjectTable(IRunningObjectTable** table) override {
        if (table) *table = nullptr;
        return E_NOTIMPL;
    }
    HRESULT CreateItemMoniker(const WString&, const WString&, IMoniker** moniker) override {
        if (moniker) *moniker = nullptr;
        return E_NOTIMPL;
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
        if (!handler) return E_NOTIMPL;
        return handler(parent, caption, objects, pages);
    }

    uint32_t GetErrorText(HRESULT hr, char* buffer, uint32_t size) override {
        for (const auto& e : kErrorTexts) {
            if (e.hr != hr) continue;
            uint32_t len = uint32_t(std::strlen(e.text));
            if (buffer && size > 0) {
                uint32_t n = std::min(len, size - 1);
                std::memcpy(buffer, e.text, n);
                buffer[n] = '\0';
            }
            return len;
        }
        if (buffer && size > 0) buffer[0] = '\0';
        return 0;
    }
};

}  // namespace

IMediaSystem* GstMediaSystem() {
    static System* system = [] {
        gst_init(nullptr, nullptr);
        return new System;
    }();
    return system;
}

void RegisterFilterClass(const CLSID& clsid, FilterClassFactory factory) {
    Registry& r = TheRegistry();
    std::lock_guard<std::mutex> guard(r.lock);
    r.classes[clsid] = std::move(factory);
}

void SetPropertyFrameHandler(PropertyFrameHandler handler) {
    Registry& r = TheRegistry();
    std::lock_guard<std::mutex> guard(r.lock);
    r.propertyFrame = std::move(handler);
}

}  // namespace media::gst
