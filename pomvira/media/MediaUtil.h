// SPDX-License-Identifier: GPL-3.0-or-later
// The utility half of the media layer: the layer's exceptions and its one
// error path (CheckGraphResult), interface requests on components, device
// listing (TSysDevEnum), lists of filters and pins, and the two modal
// settings dialogs of filters and pins.
#pragma once

#include <QString>
#include <atomic>
#include <exception>
#include <functional>
#include <stdexcept>
#include <string>
#include <vector>

#include "MediaBoundary.h"

class QWidget;

namespace media {

// The result of a class identifier text that is not a valid GUID.
constexpr HRESULT CO_E_CLASSSTRING = HR(0x800401F3);

// ---------------------------------------------------------------------------
// Exceptions
// ---------------------------------------------------------------------------

// The media layer's failure: a message and the failing platform result code.
class EDirectShowException : public std::runtime_error {
  public:
    EDirectShowException(const QString& message, HRESULT result);
    QString Message() const { return message_; }
    HRESULT Result() const { return result_; }

  private:
    QString message_;
    HRESULT result_;
};

// Raised by the video window only; same two fields.
class EVideoRendererException : public std::runtime_error {
  public:
    EVideoRendererException(const QString& message, HRESULT result);
    QString Message() const { return message_; }
    HRESULT Result() const { return result_; }

  private:
    QString message_;
    HRESULT result_;
};

// A refused interface request on a component (what() is "Interface not supported").
class EInterfaceNotSupported : public std::runtime_error {
  public:
    EInterfaceNotSupported();
};

// An index outside a list (what() is "List index out of bounds (N)").
class EListError : public std::out_of_range {
  public:
    explicit EListError(int index);
};

// The platform's error text for a result code: AMGetErrorText into a
// 256-byte buffer (at most 255 characters, up to the first NUL); empty when
// the platform knows no text.
QString GraphErrorText(HRESULT result);

// The message of a failure: GraphErrorText(result) + " ($XXXXXXXX)." (the
// 32 bits as unsigned capital hexadecimal without leading zeros).
QString GraphFailureText(HRESULT result);

// Returns a result >= 0 unchanged; raises EDirectShowException for a
// negative one, with the message GraphFailureText(result).
HRESULT CheckGraphResult(HRESULT result);

// Failures that leave a handler the layer runs from the event loop (the
// graph's event draining) go to this reporter. The program installs its
// default error report here; without one the text is written as a warning.
// The reporter runs on the user-interface thread only.
using TExceptionReporter = std::function<void(const std::exception&)>;
void SetExceptionReporter(TExceptionReporter reporter);
void ReportException(const std::exception& e);
// From any thread: the failure's text goes to the reporter on the
// user-interface thread, once the event loop gets there; the calling thread
// goes on at once.
void PostException(const std::exception& e) noexcept;

// Threads of the framework
// ------------------------
// The framework calls into the layer on its own threads: pad probes, bus
// and sink callbacks, the grabber's buffer callback. The rules there:
// - nothing thrown may cross back into the framework's C code: every such
//   entry point runs its C++ work inside a TCallbackGuard;
// - callbacks on streaming threads never wait for the user-interface thread
//   (no blocking calls into it, no locks it holds while it waits for the
//   stream to stop): the user-interface thread stops streams and waits for
//   them, so a callback waiting for it would deadlock the program.
//
// A guard runs one entry point's work and catches everything it throws. The
// first failure is posted to the error report (PostException); later ones of
// the same guard are dropped, so that work failing on every frame gives the
// user one report, not thirty a second. Run returns false when fn failed.
class TCallbackGuard {
  public:
    template <class F>
    bool Run(F&& fn) noexcept {
        try {
            fn();
            return true;
        } catch (const std::exception& e) {
            Failed(&e);
        } catch (...) {
            Failed(nullptr);
        }
        return false;
    }

  private:
    void Failed(const std::exception* e) noexcept;
    std::atomic<bool> reported_{false};
};

// ---------------------------------------------------------------------------
// Interface requests on components
// ---------------------------------------------------------------------------

// Components that answer platform interface requests (the filter graph, the
// source filter, the frame grabber, the video window) implement
// QueryInterface; Query<I>() asks without raising, Get<I>() raises
// EInterfaceNotSupported when the request is refused (the toolkit's cast of
// a component to an interface).
class TInterfaceSource {
  public:
    virtual ~TInterfaceSource() = default;
    // Sets *object to the interface with one reference (S_OK) or to null
    // (E_NOINTERFACE).
    virtual HRESULT QueryInterface(const IID& iid, void** object) = 0;

    template <class I>
    ComPtr<I> Query() {
        ComPtr<I> r;
        QueryInterface(I::IID_, r.PutVoid());
        return r;
    }
    template <class I>
    ComPtr<I> Get() {
        ComPtr<I> r = Query<I>();
        if (!r)
            throw EInterfaceNotSupported();
        return r;
    }
};

// True when both references name the same object (compared by IUnknown).
bool SameObject(IUnknown* a, IUnknown* b);

// ---------------------------------------------------------------------------
// Devices
// ---------------------------------------------------------------------------

// One device of a listing.
struct TDeviceEntry {
    // The device's "FriendlyName" as UTF-8, at most 255 bytes; a longer name
    // is cut at the last whole character that fits.
    std::string FriendlyName;
    // The device's "CLSID" property, all zero when it cannot be read.
    GUID ClassID;
};

// Lists the devices of one device category, in the platform's order.
class TSysDevEnum {
  public:
    // Lists the category of categories once, then SelectCategory(category).
    explicit TSysDevEnum(const GUID& category = GUID{});
    TSysDevEnum(const TSysDevEnum&) = delete;
    TSysDevEnum& operator=(const TSysDevEnum&) = delete;

    // Stores the category and refills the device list.
    void SelectCategory(const GUID& category);
    GUID Category() const { return category_; }

    int DeviceCount() const { return int(devices_.size()); }
    // A copy of the entry; an index outside the list raises EListError.
    TDeviceEntry DeviceEntry(int index) const;
    // The moniker / a new filter of the device at index (relative to the
    // platform's enumeration at the time of the call); null outside the list.
    ComPtr<IMoniker> DeviceMoniker(int index);
    ComPtr<IBaseFilter> CreateDevice(int index);

    int CategoryCount() const { return int(categories_.size()); }
    TDeviceEntry CategoryEntry(int index) const;

  private:
    static void ListCategory(const GUID& category, std::vector<TDeviceEntry>& list);

    GUID category_;
    std::vector<TDeviceEntry> categories_;
    std::vector<TDeviceEntry> devices_;
};

// Cuts UTF-8 text to at most maxBytes bytes without splitting a character.
std::string CutUtf8(const std::string& text, size_t maxBytes);

// ---------------------------------------------------------------------------
// Filter and pin lists
// ---------------------------------------------------------------------------

// A list of filter references.
class TFilterList {
  public:
    TFilterList() = default;
    // The filters of the graph, in the platform's order.
    explicit TFilterList(IFilterGraph* graph);

    int Add(IBaseFilter* filter);  // returns the new entry's index
    // Removes the first entry naming the same object; returns its index or -1.
    int Remove(IBaseFilter* filter);
    void Clear() { filters_.clear(); }
    int Count() const { return int(filters_.size()); }
    // An index outside the list raises EListError.
    ComPtr<IBaseFilter> FilterAt(int index) const;
    ComPtr<IBaseFilter> LastFilter() const;

  private:
    std::vector<ComPtr<IBaseFilter>> filters_;
};

// A snapshot of the pins of one filter, in the platform's order.
class TPinList {
  public:
    explicit TPinList(IBaseFilter* filter);

    // Clears and refills the list from the filter.
    void Update();
    int Count() const { return int(pins_.size()); }
    // An index outside the list raises EListError.
    ComPtr<IPin> PinAt(int index) const;
    ComPtr<IPin> FirstPin() const { return PinAt(0); }
    // IPin.ConnectedTo on PinAt(index): true when the pin has a peer.
    bool IsPinConnected(int index) const;
    ComPtr<IBaseFilter> Filter() const { return filter_; }

  private:
    ComPtr<IBaseFilter> filter_;
    std::vector<ComPtr<IPin>> pins_;
};

// ---------------------------------------------------------------------------
// Settings dialogs
// ---------------------------------------------------------------------------

// Kind 0: the filter's property pages in a modal frame; 1..3: the driver's
// capture dialogs (format, source, display); 4, 5: the compressor's
// configuration and about dialogs. Returns the platform result (S_FALSE for
// no filter or an unknown kind); never raises.
HRESULT OpenFilterSettingsDialog(QWidget* parent, IBaseFilter* filter, int kind);
// The pin's property pages in a modal frame; S_OK means the user may have
// changed the pin's format.
HRESULT OpenPinSettingsDialog(QWidget* parent, IPin* pin);

}  // namespace media
