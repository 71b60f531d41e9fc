// SPDX-License-Identifier: GPL-3.0-or-later
// The boundary between the camera program's media layer and the media
// framework underneath it.
//
// The layer (filter graph, devices, filters, pins, media types, frame grabber,
// video window) talks to the framework only through the interfaces below.
// They are shaped like the DirectShow operations that the layer calls: COM
// style objects with reference counting and interface requests
// (QueryInterface), 32-bit result codes, media type records with their
// Windows byte layout, and window handles (here: Qt widgets).
//
// Two implementations exist: the real one over GStreamer (media/gst) and a
// recording fake for unit tests (media/fake). The fake describes the formats
// it offers on its own, so that the layer is never tested against itself.
//
// Callbacks on streaming threads never wait for the user-interface thread:
// that thread stops the streams and waits for them. Which one is in use is decided
// once by the program (or test) with SetMediaSystem(); the layer reaches the
// framework's creatable objects and services through the free functions at
// the end of this file.
#pragma once

#include <QEvent>
#include <algorithm>
#include <atomic>
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <string>
#include <utility>
#include <vector>

class QObject;
class QWidget;

namespace media {

// ---------------------------------------------------------------------------
// Result codes
// ---------------------------------------------------------------------------
using HRESULT = int32_t;
using REFERENCE_TIME = int64_t;  // 100-nanosecond units

constexpr HRESULT HR(uint32_t v) {
    return static_cast<HRESULT>(v);
}

constexpr HRESULT S_OK = 0;
constexpr HRESULT S_FALSE = 1;
constexpr HRESULT E_NOTIMPL = HR(0x80004001);
constexpr HRESULT E_NOINTERFACE = HR(0x80004002);
constexpr HRESULT E_POINTER = HR(0x80004003);
constexpr HRESULT E_ABORT = HR(0x80004004);
constexpr HRESULT E_FAIL = HR(0x80004005);
constexpr HRESULT E_UNEXPECTED = HR(0x8000FFFF);
constexpr HRESULT E_OUTOFMEMORY = HR(0x8007000E);
constexpr HRESULT E_INVALIDARG = HR(0x80070057);
constexpr HRESULT E_ACCESSDENIED = HR(0x80070005);
constexpr HRESULT STG_E_FILENOTFOUND = HR(0x80030002);
constexpr HRESULT MK_E_UNAVAILABLE = HR(0x800401E3);
constexpr HRESULT REGDB_E_CLASSNOTREG = HR(0x80040154);

constexpr HRESULT VFW_E_INVALIDMEDIATYPE = HR(0x80040200);
constexpr HRESULT VFW_E_INVALIDSUBTYPE = HR(0x80040201);
constexpr HRESULT VFW_E_ALREADY_CONNECTED = HR(0x80040204);
constexpr HRESULT VFW_E_FILTER_ACTIVE = HR(0x80040205);
constexpr HRESULT VFW_E_NO_TYPES = HR(0x80040206);
constexpr HRESULT VFW_E_NO_ACCEPTABLE_TYPES = HR(0x80040207);
constexpr HRESULT VFW_E_INVALID_DIRECTION = HR(0x80040208);
constexpr HRESULT VFW_E_NOT_CONNECTED = HR(0x80040209);
constexpr HRESULT VFW_E_RUNTIME_ERROR = HR(0x8004020B);
constexpr HRESULT VFW_E_NO_INTERFACE = HR(0x80040215);
constexpr HRESULT VFW_E_NOT_FOUND = HR(0x80040216);
constexpr HRESULT VFW_E_CANNOT_CONNECT = HR(0x80040217);
constexpr HRESULT VFW_E_CANNOT_RENDER = HR(0x80040218);
constexpr HRESULT VFW_E_NOT_STOPPED = HR(0x80040224);
constexpr HRESULT VFW_E_WRONG_STATE = HR(0x80040227);
constexpr HRESULT VFW_E_TYPE_NOT_ACCEPTED = HR(0x8004022A);
constexpr HRESULT VFW_E_NOT_IN_GRAPH = HR(0x8004025F);
constexpr HRESULT VFW_E_NO_CAPTURE_HARDWARE = HR(0x80040258);
constexpr HRESULT VFW_E_TIMEOUT = HR(0x8004028C);
constexpr HRESULT VFW_E_DUPLICATE_NAME = HR(0x8004028D);
constexpr HRESULT VFW_E_FILE_NOT_FOUND = HR(0x80040233);  // not used by the layer itself

// System errors of the file writer, as the platform's results carry them
// (facility 7 with the system's error number).
constexpr HRESULT HResultFromWin32(uint32_t error) {
    return HR(0x80070000u | (error & 0xFFFFu));
}
constexpr uint32_t ERROR_PATH_NOT_FOUND = 3;
constexpr uint32_t ERROR_WRITE_PROTECT = 19;
constexpr uint32_t ERROR_NOT_READY = 21;
constexpr uint32_t ERROR_WRITE_FAULT = 29;
constexpr uint32_t ERROR_FILE_EXISTS = 80;
constexpr uint32_t ERROR_DISK_FULL = 112;
constexpr uint32_t ERROR_FILE_TOO_LARGE = 223;

constexpr bool SUCCEEDED(HRESULT hr) {
    return hr >= 0;
}
constexpr bool FAILED(HRESULT hr) {
    return hr < 0;
}

// ---------------------------------------------------------------------------
// GUIDs
// ---------------------------------------------------------------------------
struct GUID {
    uint32_t Data1 = 0;
    uint16_t Data2 = 0;
    uint16_t Data3 = 0;
    uint8_t Data4[8] = {0, 0, 0, 0, 0, 0, 0, 0};

    friend bool operator==(const GUID& a, const GUID& b) {
        return std::memcmp(&a, &b, sizeof(GUID)) == 0;
    }
    friend bool operator!=(const GUID& a, const GUID& b) { return !(a == b); }
    friend bool operator<(const GUID& a, const GUID& b) {
        return std::memcmp(&a, &b, sizeof(GUID)) < 0;
    }
};
static_assert(sizeof(GUID) == 16, "GUID must keep its 16-byte layout");

using IID = GUID;
using CLSID = GUID;

constexpr GUID MakeGuid(uint32_t d1, uint16_t d2, uint16_t d3, uint8_t a, uint8_t b, uint8_t c,
                        uint8_t d, uint8_t e, uint8_t f, uint8_t g, uint8_t h) {
    GUID r{};
    r.Data1 = d1;
    r.Data2 = d2;
    r.Data3 = d3;
    r.Data4[0] = a;
    r.Data4[1] = b;
    r.Data4[2] = c;
    r.Data4[3] = d;
    r.Data4[4] = e;
    r.Data4[5] = f;
    r.Data4[6] = g;
    r.Data4[7] = h;
    return r;
}

// The media subtype GUID of a four-character code or a wave format tag:
// XXXXXXXX-0000-0010-8000-00AA00389B71.
constexpr GUID FourCCGuid(uint32_t code) {
    return MakeGuid(code, 0x0000, 0x0010, 0x80, 0x00, 0x00, 0xAA, 0x00, 0x38, 0x9B, 0x71);
}
constexpr uint32_t FourCC(char a, char b, char c, char d) {
    return uint32_t(uint8_t(a)) | (uint32_t(uint8_t(b)) << 8) | (uint32_t(uint8_t(c)) << 16) |
           (uint32_t(uint8_t(d)) << 24);
}

// Registry form "{XXXXXXXX-XXXX-XXXX-XXXX-XXXXXXXXXXXX}" (capital letters).
std::string GuidToString(const GUID& g);
// Parses the registry form; false when the text is not a valid GUID.
bool GuidFromString(const std::string& text, GUID& out);

// Wide (UTF-16) text, as DirectShow passes names and file names.
using WString = std::u16string;

// ---------------------------------------------------------------------------
// Records with their Windows byte layout
// ---------------------------------------------------------------------------
#pragma pack(push, 1)
struct RECT {
    int32_t left, top, right, bottom;
};

struct BITMAPINFOHEADER {
    uint32_t biSize;
    int32_t biWidth;
    int32_t biHeight;
    uint16_t biPlanes;
    uint16_t biBitCount;
    uint32_t biCompression;
    uint32_t biSizeImage;
    int32_t biXPelsPerMeter;
    int32_t biYPelsPerMeter;
    uint32_t biClrUsed;
    uint32_t biClrImportant;
};
static_assert(sizeof(BITMAPINFOHEADER) == 40, "layout");

struct VIDEOINFOHEADER {
    RECT rcSource;
    RECT rcTarget;
    uint32_t dwBitRate;
    uint32_t dwBitErrorRate;
    REFERENCE_TIME AvgTimePerFrame;
    BITMAPINFOHEADER bmiHeader;
};
static_assert(sizeof(VIDEOINFOHEADER) == 88, "layout");

struct VIDEOINFOHEADER2 {
    RECT rcSource;
    RECT rcTarget;
    uint32_t dwBitRate;
    uint32_t dwBitErrorRate;
    REFERENCE_TIME AvgTimePerFrame;
    uint32_t dwInterlaceFlags;
    uint32_t dwCopyProtectFlags;
    uint32_t dwPictAspectRatioX;
    uint32_t dwPictAspectRatioY;
    uint32_t dwControlFlags;
    uint32_t dwReserved2;
    BITMAPINFOHEADER bmiHeader;
};
static_assert(sizeof(VIDEOINFOHEADER2) == 112, "layout");

struct WAVEFORMATEX {
    uint16_t wFormatTag;
    uint16_t nChannels;
    uint32_t nSamplesPerSec;
    uint32_t nAvgBytesPerSec;
    uint16_t nBlockAlign;
    uint16_t wBitsPerSample;
    uint16_t cbSize;
};
static_assert(sizeof(WAVEFORMATEX) == 18, "layout");
#pragma pack(pop)

constexpr uint32_t BI_RGB = 0;
constexpr uint32_t BI_BITFIELDS = 3;
constexpr uint16_t WAVE_FORMAT_PCM = 1;
constexpr uint16_t WAVE_FORMAT_IEEE_FLOAT = 3;

class IUnknown;

// The media type record (AM_MEDIA_TYPE). Its fields and their order are the
// platform's; on a 64-bit build the two pointer fields are 8 bytes wide, so
// the streamed 72-byte image is written field by field, not with memcpy.
// The format block is allocated with CoTaskMemAlloc and owned by the record;
// a present pUnk holds one reference.
struct AM_MEDIA_TYPE {
    GUID majortype;
    GUID subtype;
    int32_t bFixedSizeSamples;
    int32_t bTemporalCompression;
    uint32_t lSampleSize;
    GUID formattype;
    IUnknown* pUnk;
    uint32_t cbFormat;
    uint8_t* pbFormat;
};

// Task memory (CoTaskMemAlloc / CoTaskMemFree): the allocator of format
// blocks, media type records handed out by pins, and page lists.
void* CoTaskMemAlloc(size_t size);
void CoTaskMemFree(void* p);

// A counted array of GUIDs allocated with CoTaskMemAlloc (property page list).
struct CAUUID {
    uint32_t cElems = 0;
    GUID* pElems = nullptr;
};

enum FILTER_STATE : int32_t { State_Stopped = 0, State_Paused = 1, State_Running = 2 };
enum PIN_DIRECTION : int32_t { PINDIR_INPUT = 0, PINDIR_OUTPUT = 1 };

class IFilterGraph;
class IBaseFilter;
class IPin;

struct FILTER_INFO {
    WString achName;       // the filter's name in its graph
    IFilterGraph* pGraph;  // holds a reference when not null; the caller releases it
};

struct PIN_INFO {
    IBaseFilter* pFilter;  // holds a reference; the caller releases it
    PIN_DIRECTION dir;
    WString achName;  // "Capture", "Preview", "Input", "Output", ...
};

// ---------------------------------------------------------------------------
// Interfaces
// ---------------------------------------------------------------------------
// Every interface derives virtually from IUnknown, so one object that
// implements several of them has exactly one reference count and one
// QueryInterface. Every interface has a static IID member.

class IUnknown {
  public:
    static constexpr IID IID_ =
        MakeGuid(0x00000000, 0x0000, 0x0000, 0xC0, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x46);
    virtual HRESULT QueryInterface(const IID& iid, void** object) = 0;
    virtual uint32_t AddRef() = 0;
    virtual uint32_t Release() = 0;

  protected:
    virtual ~IUnknown() = default;
};

// Reference-holding smart pointer for the interfaces above.
template <class T>
class ComPtr {
  public:
    ComPtr() = default;
    ComPtr(std::nullptr_t) {}
    // Takes a new reference on p.
    explicit ComPtr(T* p) : p_(p) {
        if (p_)
            p_->AddRef();
    }
    ComPtr(const ComPtr& o) : p_(o.p_) {
        if (p_)
            p_->AddRef();
    }
    ComPtr(ComPtr&& o) noexcept : p_(o.p_) { o.p_ = nullptr; }
    template <class U>
    ComPtr(const ComPtr<U>& o) : p_(o.Get()) {
        if (p_)
            p_->AddRef();
    }
    ~ComPtr() { Reset(); }
    ComPtr& operator=(const ComPtr& o) {
        ComPtr(o).Swap(*this);
        return *this;
    }
    ComPtr& operator=(ComPtr&& o) noexcept {
        ComPtr(std::move(o)).Swap(*this);
        return *this;
    }
    ComPtr& operator=(std::nullptr_t) {
        Reset();
        return *this;
    }
    // Adopts a reference that the caller already owns (as handed out by an
    // out parameter).
    static ComPtr Attach(T* p) {
        ComPtr r;
        r.p_ = p;
        return r;
    }
    // Gives up the reference without releasing it.
    T* Detach() {
        T* p = p_;
        p_ = nullptr;
        return p;
    }
    void Reset() {
        if (p_) {
            T* p = p_;
            p_ = nullptr;
            p->Release();
        }
    }
    // Releases the current reference and returns the slot for an out parameter.
    T** Put() {
        Reset();
        return &p_;
    }
    void** PutVoid() { return reinterpret_cast<void**>(Put()); }
    T* Get() const { return p_; }
    T* operator->() const { return p_; }
    explicit operator bool() const { return p_ != nullptr; }
    void Swap(ComPtr& o) noexcept { std::swap(p_, o.p_); }

  private:
    T* p_ = nullptr;
};

// Interface request: the object's I, or null when it is refused.
template <class I>
ComPtr<I> QueryAs(IUnknown* object) {
    ComPtr<I> r;
    if (object)
        object->QueryInterface(I::IID_, r.PutVoid());
    return r;
}

class IPersist : public virtual IUnknown {
  public:
    static constexpr IID IID_ =
        MakeGuid(0x0000010C, 0x0000, 0x0000, 0xC0, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x46);
    virtual HRESULT GetClassID(CLSID* clsid) = 0;
};

class IEnumPins;
class IEnumMediaTypes;

class IMediaFilter : public virtual IPersist {
  public:
    static constexpr IID IID_ =
        MakeGuid(0x56A86899, 0x0AD4, 0x11CE, 0xB0, 0x3A, 0x00, 0x20, 0xAF, 0x0B, 0xA7, 0x70);
    virtual HRESULT Stop() = 0;
    virtual HRESULT Pause() = 0;
    virtual HRESULT Run(REFERENCE_TIME start) = 0;
    virtual HRESULT GetState(uint32_t timeoutMs, FILTER_STATE* state) = 0;
};

class IBaseFilter : public virtual IMediaFilter {
  public:
    static constexpr IID IID_ =
        MakeGuid(0x56A86895, 0x0AD4, 0x11CE, 0xB0, 0x3A, 0x00, 0x20, 0xAF, 0x0B, 0xA7, 0x70);
    virtual HRESULT EnumPins(IEnumPins** pins) = 0;
    virtual HRESULT FindPin(const WString& id, IPin** pin) = 0;
    virtual HRESULT QueryFilterInfo(FILTER_INFO* info) = 0;
    // Called by the graph when the filter joins (graph set) or leaves (null).
    virtual HRESULT JoinFilterGraph(IFilterGraph* graph, const WString& name) = 0;
};

class IPin : public virtual IUnknown {
  public:
    static constexpr IID IID_ =
        MakeGuid(0x56A86891, 0x0AD4, 0x11CE, 0xB0, 0x3A, 0x00, 0x20, 0xAF, 0x0B, 0xA7, 0x70);
    virtual HRESULT Connect(IPin* receiver, const AM_MEDIA_TYPE* mt) = 0;
    virtual HRESULT Disconnect() = 0;
    virtual HRESULT ConnectedTo(IPin** other) = 0;
    virtual HRESULT ConnectionMediaType(AM_MEDIA_TYPE* mt) = 0;
    virtual HRESULT QueryPinInfo(PIN_INFO* info) = 0;
    virtual HRESULT QueryDirection(PIN_DIRECTION* dir) = 0;
    virtual HRESULT QueryId(WString* id) = 0;
    virtual HRESULT EnumMediaTypes(IEnumMediaTypes** types) = 0;
};

// Enumerators: Next hands out up to count items (each with a reference, or
// for media types a record allocated with CoTaskMemAlloc), S_OK when all
// asked were fetched, S_FALSE when fewer.
class IEnumPins : public virtual IUnknown {
  public:
    static constexpr IID IID_ =
        MakeGuid(0x56A86892, 0x0AD4, 0x11CE, 0xB0, 0x3A, 0x00, 0x20, 0xAF, 0x0B, 0xA7, 0x70);
    virtual HRESULT Next(uint32_t count, IPin** pins, uint32_t* fetched) = 0;
    virtual HRESULT Skip(uint32_t count) = 0;
    virtual HRESULT Reset() = 0;
};

class IEnumFilters : public virtual IUnknown {
  public:
    static constexpr IID IID_ =
        MakeGuid(0x56A86893, 0x0AD4, 0x11CE, 0xB0, 0x3A, 0x00, 0x20, 0xAF, 0x0B, 0xA7, 0x70);
    virtual HRESULT Next(uint32_t count, IBaseFilter** filters, uint32_t* fetched) = 0;
    virtual HRESULT Skip(uint32_t count) = 0;
    virtual HRESULT Reset() = 0;
};

class IEnumMediaTypes : public virtual IUnknown {
  public:
    static constexpr IID IID_ =
        MakeGuid(0x89C31040, 0x846B, 0x11CE, 0x97, 0xD3, 0x00, 0xAA, 0x00, 0x55, 0x59, 0x5A);
    virtual HRESULT Next(uint32_t count, AM_MEDIA_TYPE** types, uint32_t* fetched) = 0;
    virtual HRESULT Skip(uint32_t count) = 0;
    virtual HRESULT Reset() = 0;
};

class IPropertyBag : public virtual IUnknown {
  public:
    static constexpr IID IID_ =
        MakeGuid(0x55272A00, 0x42CB, 0x11CE, 0x81, 0x35, 0x00, 0xAA, 0x00, 0x4B, 0xB8, 0x51);
    // Reads a text property ("FriendlyName", "CLSID", "DevicePath", ...).
    virtual HRESULT Read(const WString& name, WString* value) = 0;
};

class IMoniker : public virtual IPersist {
  public:
    static constexpr IID IID_ =
        MakeGuid(0x0000000F, 0x0000, 0x0000, 0xC0, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x46);
    // Creates the object the moniker names (a device's filter) and asks it for iid.
    virtual HRESULT BindToObject(const IID& iid, void** object) = 0;
    // The moniker's storage: IPropertyBag.
    virtual HRESULT BindToStorage(const IID& iid, void** object) = 0;
    virtual HRESULT GetDisplayName(WString* name) = 0;
    // The moniker's own persistent data (without the class identifier), and
    // the reverse: used by OleSaveToStream / OleLoadFromStream.
    virtual HRESULT Save(std::vector<uint8_t>* data) = 0;
    virtual HRESULT Load(const std::vector<uint8_t>& data) = 0;
};

class IEnumMoniker : public virtual IUnknown {
  public:
    static constexpr IID IID_ =
        MakeGuid(0x00000102, 0x0000, 0x0000, 0xC0, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x46);
    virtual HRESULT Next(uint32_t count, IMoniker** monikers, uint32_t* fetched) = 0;
    virtual HRESULT Skip(uint32_t count) = 0;
    virtual HRESULT Reset() = 0;
};

class ICreateDevEnum : public virtual IUnknown {
  public:
    static constexpr IID IID_ =
        MakeGuid(0x29840822, 0x5B84, 0x11D0, 0xBD, 0x3B, 0x00, 0xA0, 0xC9, 0x11, 0xCE, 0x86);
    // S_OK with an enumerator; S_FALSE (no enumerator) for an empty or unknown category.
    virtual HRESULT CreateClassEnumerator(const GUID& category, IEnumMoniker** monikers,
                                          uint32_t flags) = 0;
};

class IFilterGraph : public virtual IUnknown {
  public:
    static constexpr IID IID_ =
        MakeGuid(0x56A8689F, 0x0AD4, 0x11CE, 0xB0, 0x3A, 0x00, 0x20, 0xAF, 0x0B, 0xA7, 0x70);
    virtual HRESULT AddFilter(IBaseFilter* filter, const WString& name) = 0;
    virtual HRESULT RemoveFilter(IBaseFilter* filter) = 0;
    virtual HRESULT EnumFilters(IEnumFilters** filters) = 0;
    virtual HRESULT FindFilterByName(const WString& name, IBaseFilter** filter) = 0;
    virtual HRESULT ConnectDirect(IPin* out, IPin* in, const AM_MEDIA_TYPE* mt) = 0;
    virtual HRESULT Disconnect(IPin* pin) = 0;
};

class IGraphBuilder : public virtual IFilterGraph {
  public:
    static constexpr IID IID_ =
        MakeGuid(0x56A868A9, 0x0AD4, 0x11CE, 0xB0, 0x3A, 0x00, 0x20, 0xAF, 0x0B, 0xA7, 0x70);
    // Connects out to in, adding converters as filters of the graph when needed.
    virtual HRESULT Connect(IPin* out, IPin* in) = 0;
    virtual HRESULT Render(IPin* out) = 0;
    // The graph's log file: a file descriptor open for writing, or -1 for none.
    virtual HRESULT SetLogFile(intptr_t file) = 0;
    virtual HRESULT Abort() = 0;
};

class IFilterGraph2 : public virtual IGraphBuilder {
  public:
    static constexpr IID IID_ =
        MakeGuid(0x36B73882, 0xC2C8, 0x11CF, 0x8B, 0x46, 0x00, 0x80, 0x5F, 0x6C, 0xEF, 0x60);
};

class IMediaControl : public virtual IUnknown {
  public:
    static constexpr IID IID_ =
        MakeGuid(0x56A868B1, 0x0AD4, 0x11CE, 0xB0, 0x3A, 0x00, 0x20, 0xAF, 0x0B, 0xA7, 0x70);
    virtual HRESULT Run() = 0;
    virtual HRESULT Pause() = 0;
    // A graph that writes a file is drained first, so the file is complete.
    virtual HRESULT Stop() = 0;
    virtual HRESULT GetState(int32_t timeoutMs, FILTER_STATE* state) = 0;
    // Stops the graph and has every filter let go of its device or file, as
    // outside a graph (this layer's own; no drain). Like Run and Stop it may
    // wait on a device: its owner calls it off the user-interface thread.
    virtual HRESULT Halt() = 0;
};

class IMediaSeeking : public virtual IUnknown {
  public:
    static constexpr IID IID_ =
        MakeGuid(0x36B73880, 0xC2C8, 0x11CF, 0x8B, 0x46, 0x00, 0x80, 0x5F, 0x6C, 0xEF, 0x60);
    virtual HRESULT GetCurrentPosition(int64_t* position) = 0;
};

// Graph event codes (EC_...).
constexpr int32_t EC_COMPLETE = 0x01;
constexpr int32_t EC_USERABORT = 0x02;
constexpr int32_t EC_ERRORABORT = 0x03;
constexpr int32_t EC_STREAM_ERROR_STOPPED = 0x06;
constexpr int32_t EC_STREAM_ERROR_STILLPLAYING = 0x07;
constexpr int32_t EC_ERROR_STILLPLAYING = 0x08;
constexpr int32_t EC_PALETTE_CHANGED = 0x09;
constexpr int32_t EC_VIDEO_SIZE_CHANGED = 0x0A;
constexpr int32_t EC_CLOCK_CHANGED = 0x0D;
constexpr int32_t EC_PAUSED = 0x0E;
// A capture source delivers nothing while the graph runs (param1: its
// filter; param2: 1 when it stalled, 0 when it delivers: its first frame
// after a run or after a stall).
constexpr int32_t EC_STARVATION = 0x17;
constexpr int32_t EC_DEVICE_LOST = 0x1F;
constexpr int32_t EC_GRAPH_CHANGED = 0x50;
constexpr int32_t EC_VMR_RENDERDEVICE_SET = 0x53;

// The window message with which a graph announces pending events: posted to
// the notify window (a QObject) as this event; the receiver then drains the
// events with GetEvent.
// Device notices (RegisterDeviceNotification): the message, and its wparam
// for a device that came and one that went.
constexpr uint32_t WM_DEVICECHANGE = 0x0219;
constexpr intptr_t DBT_DEVICEARRIVAL = 0x8000;
constexpr intptr_t DBT_DEVICEREMOVECOMPLETE = 0x8004;

class WindowMessageEvent : public QEvent {
  public:
    static QEvent::Type TypeId();
    WindowMessageEvent(uint32_t message, intptr_t wparam, intptr_t lparam)
        : QEvent(TypeId()), message(message), wparam(wparam), lparam(lparam) {}
    uint32_t message;
    intptr_t wparam;
    intptr_t lparam;
};

class IMediaEvent : public virtual IUnknown {
  public:
    static constexpr IID IID_ =
        MakeGuid(0x56A868B6, 0x0AD4, 0x11CE, 0xB0, 0x3A, 0x00, 0x20, 0xAF, 0x0B, 0xA7, 0x70);
    // S_OK with an event; E_ABORT when none is pending within the timeout.
    virtual HRESULT GetEvent(int32_t* code, intptr_t* param1, intptr_t* param2,
                             int32_t timeoutMs) = 0;
    virtual HRESULT FreeEventParams(int32_t code, intptr_t param1, intptr_t param2) = 0;
};

class IMediaEventEx : public virtual IMediaEvent {
  public:
    static constexpr IID IID_ =
        MakeGuid(0x56A868C0, 0x0AD4, 0x11CE, 0xB0, 0x3A, 0x00, 0x20, 0xAF, 0x0B, 0xA7, 0x70);
    // Posts WindowMessageEvent(message, 0, instance) to window (on its thread)
    // whenever events are pending; null window: no notices.
    virtual HRESULT SetNotifyWindow(QObject* window, uint32_t message, intptr_t instance) = 0;
    // 0: notices on; 1 (AM_MEDIAEVENT_NONOTIFY): notices off.
    virtual HRESULT SetNotifyFlags(int32_t flags) = 0;
};

class IBasicAudio : public virtual IUnknown {
  public:
    static constexpr IID IID_ =
        MakeGuid(0x56A868B3, 0x0AD4, 0x11CE, 0xB0, 0x3A, 0x00, 0x20, 0xAF, 0x0B, 0xA7, 0x70);
    virtual HRESULT put_Volume(int32_t volume) = 0;  // hundredths of a decibel, -10000..0
    virtual HRESULT put_Balance(int32_t balance) = 0;
};

class IObjectWithSite : public virtual IUnknown {
  public:
    static constexpr IID IID_ =
        MakeGuid(0xFC4801A3, 0x2BA9, 0x11CF, 0xA2, 0x29, 0x00, 0xAA, 0x00, 0x3D, 0x73, 0x52);
    virtual HRESULT SetSite(IUnknown* site) = 0;
};

class IServiceProvider : public virtual IUnknown {
  public:
    static constexpr IID IID_ =
        MakeGuid(0x6D5140C1, 0x7436, 0x11CE, 0x80, 0x34, 0x00, 0xAA, 0x00, 0x60, 0x09, 0xFA);
    virtual HRESULT QueryService(const GUID& service, const IID& iid, void** object) = 0;
};

class IAMFilterGraphCallback : public virtual IUnknown {
  public:
    static constexpr IID IID_ =
        MakeGuid(0x56A868FD, 0x0AD4, 0x11CE, 0xB0, 0xA3, 0x00, 0x20, 0xAF, 0x0B, 0xA7, 0x70);
    virtual HRESULT UnableToRender(IPin* pin) = 0;
};

class IAMGraphBuilderCallback : public virtual IUnknown {
  public:
    static constexpr IID IID_ =
        MakeGuid(0x4995F511, 0x9DDB, 0x4F12, 0xBD, 0x3B, 0xF0, 0x46, 0x11, 0x80, 0x7B, 0x79);
    virtual HRESULT SelectedFilter(IMoniker* moniker) = 0;
    virtual HRESULT CreatedFilter(IBaseFilter* filter) = 0;
};

class IFileSinkFilter : public virtual IUnknown {
  public:
    static constexpr IID IID_ =
        MakeGuid(0xA2104830, 0x7C70, 0x11CF, 0x8B, 0xCE, 0x00, 0xAA, 0x00, 0xA3, 0xF1, 0xA6);
    virtual HRESULT SetFileName(const WString& file, const AM_MEDIA_TYPE* mt) = 0;
    virtual HRESULT GetCurFile(WString* file, AM_MEDIA_TYPE* mt) = 0;
};

class ICaptureGraphBuilder2 : public virtual IUnknown {
  public:
    static constexpr IID IID_ =
        MakeGuid(0x93E5A4E0, 0x2D50, 0x11D2, 0xAB, 0xFA, 0x00, 0xA0, 0xC9, 0xC6, 0xE3, 0x8D);
    virtual HRESULT SetFiltergraph(IGraphBuilder* graph) = 0;
    virtual HRESULT GetFiltergraph(IGraphBuilder** graph) = 0;
    // Adds a multiplexer for the given subtype (MEDIASUBTYPE_Avi) and a file
    // writer for the file to the graph, connected; hands back both.
    virtual HRESULT SetOutputFileName(const GUID& type, const WString& file, IBaseFilter** mux,
                                      IFileSinkFilter** sink) = 0;
    // Connects the first free output pin of the given category (any when
    // null) of source (a filter or a pin) through the optional intermediate
    // filter to sink, adding converters where formats do not meet.
    virtual HRESULT RenderStream(const GUID* category, const GUID* type, IUnknown* source,
                                 IBaseFilter* intermediate, IBaseFilter* sink) = 0;
    virtual HRESULT FindInterface(const GUID* category, const GUID* type, IBaseFilter* filter,
                                  const IID& iid, void** object) = 0;
};

class IAMStreamConfig : public virtual IUnknown {
  public:
    static constexpr IID IID_ =
        MakeGuid(0xC6E13340, 0x30AC, 0x11D0, 0xA1, 0x8C, 0x00, 0xA0, 0xC9, 0x11, 0x89, 0x56);
    // A new record (CoTaskMemAlloc) with the format in force; the caller disposes it.
    virtual HRESULT GetFormat(AM_MEDIA_TYPE** mt) = 0;
    virtual HRESULT SetFormat(const AM_MEDIA_TYPE* mt) = 0;
    virtual HRESULT GetNumberOfCapabilities(int32_t* count, int32_t* size) = 0;
    // A new record for capability index; caps (size bytes) may be null.
    virtual HRESULT GetStreamCaps(int32_t index, AM_MEDIA_TYPE** mt, uint8_t* caps) = 0;
};

// The frames a capture filter dropped on their way to a recording, because
// what takes them (the file, the disk) could not keep up.
class IAMDroppedFrames : public virtual IUnknown {
  public:
    static constexpr IID IID_ =
        MakeGuid(0xC6E13344, 0x30AC, 0x11D0, 0xA1, 0x8C, 0x00, 0xA0, 0xC9, 0x11, 0x89, 0x56);
    // Since the filter was made.
    virtual HRESULT GetNumDropped(int32_t* dropped) = 0;
};

class IMediaSample : public virtual IUnknown {
  public:
    static constexpr IID IID_ =
        MakeGuid(0x56A8689A, 0x0AD4, 0x11CE, 0xB0, 0x3A, 0x00, 0x20, 0xAF, 0x0B, 0xA7, 0x70);
    virtual HRESULT GetPointer(uint8_t** buffer) = 0;
    virtual int32_t GetActualDataLength() = 0;
};

class ISampleGrabberCB : public virtual IUnknown {
  public:
    static constexpr IID IID_ =
        MakeGuid(0x0579154A, 0x2B53, 0x4994, 0xB0, 0xD0, 0xE7, 0x73, 0x14, 0x8E, 0xFF, 0x85);
    // Called on the streaming thread. Callbacks on streaming threads never
    // wait for the user-interface thread, and what they throw is caught
    // before it reaches the framework (see "Threads of the framework" in
    // MediaUtil.h).
    virtual HRESULT SampleCB(double time, IMediaSample* sample) = 0;
    virtual HRESULT BufferCB(double time, uint8_t* buffer, int32_t length) = 0;
    // Whether the next frame would be used. Handing a frame out costs a pass
    // over the picture here (the frames that pass are not laid out as
    // handed out), so the grabber asks before each frame and skips both
    // that pass and the call when the answer is no. Called on the
    // streaming thread; must answer at once.
    virtual bool WantsFrames() { return true; }
};

class ISampleGrabber : public virtual IUnknown {
  public:
    static constexpr IID IID_ =
        MakeGuid(0x6B652FFF, 0x11FE, 0x4FCE, 0x92, 0xAD, 0x02, 0x66, 0xB5, 0xD7, 0xC7, 0x8F);
    virtual HRESULT SetOneShot(bool oneShot) = 0;
    virtual HRESULT SetMediaType(const AM_MEDIA_TYPE* mt) = 0;
    // Fills mt (whose old contents are not freed) with a copy of the connected type.
    virtual HRESULT GetConnectedMediaType(AM_MEDIA_TYPE* mt) = 0;
    virtual HRESULT SetBufferSamples(bool buffer) = 0;
    // buffer null: *size receives the size of the buffered sample. Otherwise
    // copies up to *size bytes into buffer. VFW_E_WRONG_STATE without a sample.
    virtual HRESULT GetCurrentBuffer(int32_t* size, uint8_t* buffer) = 0;
    // which: 0 SampleCB, 1 BufferCB.
    virtual HRESULT SetCallback(ISampleGrabberCB* callback, int32_t which) = 0;
};

// Window styles used with IVideoWindow.
constexpr int32_t WS_CHILD = 0x40000000;
constexpr int32_t WS_CLIPSIBLINGS = 0x04000000;
constexpr int32_t WS_CAPTION = 0x00C00000;
constexpr int32_t WS_THICKFRAME = 0x00040000;
constexpr int32_t WS_EX_TOPMOST = 0x00000008;

class IVideoWindow : public virtual IUnknown {
  public:
    static constexpr IID IID_ =
        MakeGuid(0x56A868B4, 0x0AD4, 0x11CE, 0xB0, 0x3A, 0x00, 0x20, 0xAF, 0x0B, 0xA7, 0x70);
    virtual HRESULT put_Caption(const WString& caption) = 0;
    virtual HRESULT put_WindowStyle(int32_t style) = 0;
    virtual HRESULT put_WindowStyleEx(int32_t style) = 0;
    // The renderer's window becomes a child of owner (null: a top-level window).
    virtual HRESULT put_Owner(QWidget* owner) = 0;
    // Mouse and key input of the renderer's window is handed to drain.
    virtual HRESULT put_MessageDrain(QWidget* drain) = 0;
    virtual HRESULT put_Visible(int32_t visible) = 0;  // -1 true, 0 false
    virtual HRESULT get_Visible(int32_t* visible) = 0;
    // In the owner's client coordinates (screen coordinates without owner).
    virtual HRESULT SetWindowPosition(int32_t left, int32_t top, int32_t width, int32_t height) = 0;
};

class ISpecifyPropertyPages : public virtual IUnknown {
  public:
    static constexpr IID IID_ =
        MakeGuid(0xB196B28B, 0xBAB4, 0x101A, 0xB6, 0x9C, 0x00, 0xAA, 0x00, 0x34, 0x1D, 0x07);
    virtual HRESULT GetPages(CAUUID* pages) = 0;
};

class IAMVfwCaptureDialogs : public virtual IUnknown {
  public:
    static constexpr IID IID_ =
        MakeGuid(0xD8D715A0, 0x6E5E, 0x11D0, 0xB3, 0xF0, 0x00, 0xAA, 0x00, 0x37, 0x61, 0xC5);
    virtual HRESULT HasDialog(int32_t dialog) = 0;
    virtual HRESULT ShowDialog(int32_t dialog, QWidget* parent) = 0;
};

class IAMVfwCompressDialogs : public virtual IUnknown {
  public:
    static constexpr IID IID_ =
        MakeGuid(0xD8D715A3, 0x6E5E, 0x11D0, 0xB3, 0xF0, 0x00, 0xAA, 0x00, 0x37, 0x61, 0xC5);
    virtual HRESULT ShowDialog(int32_t dialog, QWidget* parent) = 0;
};

class IRunningObjectTable : public virtual IUnknown {
  public:
    static constexpr IID IID_ =
        MakeGuid(0x00000010, 0x0000, 0x0000, 0xC0, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x46);
    virtual HRESULT Register(uint32_t flags, IUnknown* object, IMoniker* name,
                             uint32_t* cookie) = 0;
    virtual HRESULT Revoke(uint32_t cookie) = 0;
    // The object registered under a moniker with this display name.
    virtual HRESULT GetObjectByName(const WString& displayName, IUnknown** object) = 0;
};

// ---------------------------------------------------------------------------
// Well-known identifiers
// ---------------------------------------------------------------------------
constexpr CLSID CLSID_FilterGraph =
    MakeGuid(0xE436EBB3, 0x524F, 0x11CE, 0x9F, 0x53, 0x00, 0x20, 0xAF, 0x0B, 0xA7, 0x70);
constexpr CLSID CLSID_CaptureGraphBuilder2 =
    MakeGuid(0xBF87B6E1, 0x8C27, 0x11D0, 0xB3, 0xF0, 0x00, 0xAA, 0x00, 0x37, 0x61, 0xC5);
constexpr CLSID CLSID_DvdGraphBuilder =
    MakeGuid(0xFCC152B7, 0xF372, 0x11D0, 0x8E, 0x00, 0x00, 0xC0, 0x4F, 0xD7, 0xC0, 0x8B);
constexpr IID IID_IDvdGraphBuilder =
    MakeGuid(0xFCC152B6, 0xF372, 0x11D0, 0x8E, 0x00, 0x00, 0xC0, 0x4F, 0xD7, 0xC0, 0x8B);
constexpr CLSID CLSID_SystemDeviceEnum =
    MakeGuid(0x62BE5D10, 0x60EB, 0x11D0, 0xBD, 0x3B, 0x00, 0xA0, 0xC9, 0x11, 0xCE, 0x86);
constexpr CLSID CLSID_SampleGrabber =
    MakeGuid(0xC1F400A0, 0x3F08, 0x11D3, 0x9F, 0x0B, 0x00, 0x60, 0x08, 0x03, 0x9E, 0x37);
constexpr CLSID CLSID_VideoRenderer =
    MakeGuid(0x70E102B0, 0x5556, 0x11CE, 0x97, 0xC0, 0x00, 0xAA, 0x00, 0x55, 0x59, 0x5A);
constexpr CLSID CLSID_VideoMixingRenderer9 =
    MakeGuid(0x51B4ABF3, 0x748F, 0x4E3B, 0xA2, 0x76, 0xC8, 0x28, 0x33, 0x0E, 0x92, 0x6A);

constexpr GUID CLSID_VideoInputDeviceCategory =
    MakeGuid(0x860BB310, 0x5D01, 0x11D0, 0xBD, 0x3B, 0x00, 0xA0, 0xC9, 0x11, 0xCE, 0x86);
constexpr GUID CLSID_AudioInputDeviceCategory =
    MakeGuid(0x33D9A762, 0x90C8, 0x11D0, 0xBD, 0x43, 0x00, 0xA0, 0xC9, 0x11, 0xCE, 0x86);
constexpr GUID CLSID_VideoCompressorCategory =
    MakeGuid(0x33D9A760, 0x90C8, 0x11D0, 0xBD, 0x43, 0x00, 0xA0, 0xC9, 0x11, 0xCE, 0x86);
constexpr GUID CLSID_AudioCompressorCategory =
    MakeGuid(0x33D9A761, 0x90C8, 0x11D0, 0xBD, 0x43, 0x00, 0xA0, 0xC9, 0x11, 0xCE, 0x86);
constexpr GUID CLSID_ActiveMovieCategories =
    MakeGuid(0xDA4E3DA0, 0xD07D, 0x11D0, 0xBD, 0x50, 0x00, 0xA0, 0xC9, 0x11, 0xCE, 0x86);

constexpr GUID PIN_CATEGORY_CAPTURE =
    MakeGuid(0xFB6C4281, 0x0353, 0x11D1, 0x90, 0x5F, 0x00, 0x00, 0xC0, 0xCC, 0x16, 0xBA);
constexpr GUID PIN_CATEGORY_PREVIEW =
    MakeGuid(0xFB6C4282, 0x0353, 0x11D1, 0x90, 0x5F, 0x00, 0x00, 0xC0, 0xCC, 0x16, 0xBA);

constexpr GUID MEDIATYPE_Video = FourCCGuid(FourCC('v', 'i', 'd', 's'));
constexpr GUID MEDIATYPE_Audio = FourCCGuid(FourCC('a', 'u', 'd', 's'));
constexpr GUID MEDIATYPE_Stream =
    MakeGuid(0xE436EB83, 0x524F, 0x11CE, 0x9F, 0x53, 0x00, 0x20, 0xAF, 0x0B, 0xA7, 0x70);

constexpr GUID MEDIASUBTYPE_RGB24 =
    MakeGuid(0xE436EB7D, 0x524F, 0x11CE, 0x9F, 0x53, 0x00, 0x20, 0xAF, 0x0B, 0xA7, 0x70);
constexpr GUID MEDIASUBTYPE_RGB32 =
    MakeGuid(0xE436EB7E, 0x524F, 0x11CE, 0x9F, 0x53, 0x00, 0x20, 0xAF, 0x0B, 0xA7, 0x70);
constexpr GUID MEDIASUBTYPE_RGB565 =
    MakeGuid(0xE436EB7B, 0x524F, 0x11CE, 0x9F, 0x53, 0x00, 0x20, 0xAF, 0x0B, 0xA7, 0x70);
constexpr GUID MEDIASUBTYPE_RGB555 =
    MakeGuid(0xE436EB7C, 0x524F, 0x11CE, 0x9F, 0x53, 0x00, 0x20, 0xAF, 0x0B, 0xA7, 0x70);
constexpr GUID MEDIASUBTYPE_Avi =
    MakeGuid(0xE436EB88, 0x524F, 0x11CE, 0x9F, 0x53, 0x00, 0x20, 0xAF, 0x0B, 0xA7, 0x70);
constexpr GUID MEDIASUBTYPE_YUY2 = FourCCGuid(FourCC('Y', 'U', 'Y', '2'));
constexpr GUID MEDIASUBTYPE_UYVY = FourCCGuid(FourCC('U', 'Y', 'V', 'Y'));
constexpr GUID MEDIASUBTYPE_YVYU = FourCCGuid(FourCC('Y', 'V', 'Y', 'U'));
constexpr GUID MEDIASUBTYPE_I420 = FourCCGuid(FourCC('I', '4', '2', '0'));
constexpr GUID MEDIASUBTYPE_YV12 = FourCCGuid(FourCC('Y', 'V', '1', '2'));
constexpr GUID MEDIASUBTYPE_NV12 = FourCCGuid(FourCC('N', 'V', '1', '2'));
constexpr GUID MEDIASUBTYPE_MJPG = FourCCGuid(FourCC('M', 'J', 'P', 'G'));
constexpr GUID MEDIASUBTYPE_PCM = FourCCGuid(WAVE_FORMAT_PCM);
constexpr GUID MEDIASUBTYPE_IEEE_FLOAT = FourCCGuid(WAVE_FORMAT_IEEE_FLOAT);

constexpr GUID FORMAT_VideoInfo =
    MakeGuid(0x05589F80, 0xC356, 0x11CE, 0xBF, 0x01, 0x00, 0xAA, 0x00, 0x55, 0x59, 0x5A);
constexpr GUID FORMAT_VideoInfo2 =
    MakeGuid(0xF72A76A0, 0xEB0A, 0x11D0, 0xAC, 0xE4, 0x00, 0x00, 0xC0, 0xCC, 0x16, 0xBA);
constexpr GUID FORMAT_WaveFormatEx =
    MakeGuid(0x05589F81, 0xC356, 0x11CE, 0xBF, 0x01, 0x00, 0xAA, 0x00, 0x55, 0x59, 0x5A);
constexpr GUID FORMAT_None =
    MakeGuid(0x0F6417D6, 0xC318, 0x11D0, 0xA4, 0x3F, 0x00, 0xA0, 0xC9, 0x22, 0x31, 0x96);

// ---------------------------------------------------------------------------
// The framework's services
// ---------------------------------------------------------------------------
// The framework as a whole: creation of its objects by class identifier and
// the few free services the layer uses. One implementation is installed per
// process with SetMediaSystem().
class IMediaSystem {
  public:
    virtual ~IMediaSystem() = default;
    // CoCreateInstance: a new object of the class, asked for iid.
    // REGDB_E_CLASSNOTREG for classes that do not exist here (the DVD graph
    // builder, the mixing renderer).
    virtual HRESULT CreateInstance(const CLSID& clsid, const IID& iid, void** object) = 0;
    // OleSaveToStream: the moniker's class identifier followed by its data.
    virtual HRESULT SaveMonikerToStream(IMoniker* moniker, std::vector<uint8_t>* stream) = 0;
    // OleLoadFromStream: the object the stream describes, asked for iid.
    virtual HRESULT LoadMonikerFromStream(const std::vector<uint8_t>& stream, const IID& iid,
                                          void** object) = 0;
    virtual HRESULT GetRunningObjectTable(IRunningObjectTable** table) = 0;
    virtual HRESULT CreateItemMoniker(const WString& delimiter, const WString& item,
                                      IMoniker** moniker) = 0;
    // OleCreatePropertyFrame: a modal frame with the pages of the objects; it
    // returns when the user closes it.
    virtual HRESULT CreatePropertyFrame(QWidget* parent, int32_t x, int32_t y,
                                        const WString& caption,
                                        const std::vector<IUnknown*>& objects,
                                        const std::vector<GUID>& pages) = 0;
    // AMGetErrorTextA: the text for a result code into buffer (at most
    // size - 1 characters and a NUL); returns the text's length, 0 if unknown.
    virtual uint32_t GetErrorText(HRESULT hr, char* buffer, uint32_t size) = 0;
    // RegisterDeviceNotification for the video and audio input devices:
    // while registered, the receiver gets a WindowMessageEvent (message,
    // DBT_DEVICEARRIVAL or DBT_DEVICEREMOVECOMPLETE, 0) each time such a
    // device comes or goes, on its own thread. Unregister before the receiver
    // is destroyed.
    virtual HRESULT RegisterDeviceNotification(QObject* receiver, uint32_t message) = 0;
    virtual HRESULT UnregisterDeviceNotification(QObject* receiver) = 0;
    // The first listing of the video and audio input devices: waits up to
    // boundMs (0: not at all) until every device service (a sound server,
    // PipeWire) has answered, or has been left out at its own bound. S_OK
    // when every one answered; S_FALSE when some have not yet (their devices
    // join the lists, with a device notice, when they answer): the names of
    // those left out are added to `unanswered`, each once in the process.
    // Never waits longer than boundMs: call it with a bound off the
    // user-interface thread, without one on it.
    virtual HRESULT WaitForDevices(int32_t boundMs, std::vector<std::string>* unanswered) {
        (void)boundMs;
        (void)unanswered;
        return S_OK;
    }
    // The camera in use delivers nothing: the device services of cameras
    // are connected anew (a server that restarted is not reconnected to
    // otherwise), their devices left out of the lists meanwhile; their new
    // devices take the old ones' place, with a device notice. Waits up to
    // boundMs (off the user-interface thread): S_OK when every service
    // answered, S_FALSE otherwise (it joins when it does). The camera's
    // graph must be gone first.
    virtual HRESULT RenewDevices(int32_t boundMs) {
        (void)boundMs;
        return S_OK;
    }
    // Some device service of cameras talks to a server that may come back
    // after it went away (RenewDevices then lists its cameras again).
    virtual bool RenewableDevices() { return false; }
};

// Installs the framework for this process (not owned). The program installs
// the GStreamer one at entry; tests install a fake.
void SetMediaSystem(IMediaSystem* system);
IMediaSystem* MediaSystem();

// Convenience forms of the services, forwarded to the installed system
// (E_UNEXPECTED / 0 when none is installed).
HRESULT CoCreateInstance(const CLSID& clsid, const IID& iid, void** object);
HRESULT OleSaveToStream(IMoniker* moniker, std::vector<uint8_t>* stream);
HRESULT OleLoadFromStream(const std::vector<uint8_t>& stream, const IID& iid, void** object);
HRESULT GetRunningObjectTable(IRunningObjectTable** table);
HRESULT CreateItemMoniker(const WString& delimiter, const WString& item, IMoniker** moniker);
HRESULT OleCreatePropertyFrame(QWidget* parent, int32_t x, int32_t y, const WString& caption,
                               const std::vector<IUnknown*>& objects,
                               const std::vector<GUID>& pages);
uint32_t AMGetErrorText(HRESULT hr, char* buffer, uint32_t size);
HRESULT RegisterDeviceNotification(QObject* receiver, uint32_t message);
HRESULT UnregisterDeviceNotification(QObject* receiver);
HRESULT WaitForDevices(int32_t boundMs, std::vector<std::string>* unanswered);
HRESULT RenewDevices(int32_t boundMs);
bool RenewableDevices();

// ---------------------------------------------------------------------------
// Implementation help for objects of the boundary
// ---------------------------------------------------------------------------
// ComObject<I1, I2, ...> implements IUnknown once for an object that offers
// the listed interfaces; list base interfaces too (IBaseFilter, IMediaFilter,
// IPersist) when they are to be answered. New objects start
// with a reference count of 1: hand them out with ComPtr<T>::Attach.
template <class... Interfaces>
class ComObject : public virtual Interfaces... {
  public:
    HRESULT QueryInterface(const IID& iid, void** object) override {
        if (!object)
            return E_POINTER;
        *object = nullptr;
        if (iid == IUnknown::IID_) {
            *object = static_cast<IUnknown*>(this);
        } else {
            (void)(TryInterface<Interfaces>(iid, object) || ...);
            if (!*object)
                *object = ExtraInterface(iid);
        }
        if (!*object)
            return E_NOINTERFACE;
        AddRef();
        return S_OK;
    }
    uint32_t AddRef() override { return ++refs_; }
    uint32_t Release() override {
        uint32_t left = --refs_;
        if (left == 0)
            delete this;
        return left;
    }

  protected:
    ~ComObject() override = default;
    // Further interfaces an implementation answers (base interfaces that are
    // not listed, for instance); null for none.
    virtual void* ExtraInterface(const IID&) { return nullptr; }

  private:
    template <class I>
    bool TryInterface(const IID& iid, void** object) {
        if (iid != I::IID_)
            return false;
        *object = static_cast<I*>(this);
        return true;
    }
    std::atomic<uint32_t> refs_{1};
};

// An enumerator over a snapshot of interface references (IEnumPins,
// IEnumFilters, IEnumMoniker): Next hands out references, S_FALSE when fewer
// than asked were left.
template <class IEnum, class Item>
class SnapshotEnum : public ComObject<IEnum> {
  public:
    explicit SnapshotEnum(std::vector<ComPtr<Item>> items) : items_(std::move(items)) {}
    HRESULT Next(uint32_t count, Item** out, uint32_t* fetched) override {
        if (!out)
            return E_POINTER;
        uint32_t n = 0;
        while (n < count && pos_ < items_.size()) {
            out[n] = items_[pos_++].Get();
            out[n]->AddRef();
            ++n;
        }
        if (fetched)
            *fetched = n;
        return n == count ? S_OK : S_FALSE;
    }
    HRESULT Skip(uint32_t count) override {
        const size_t left = items_.size() - pos_;
        pos_ += std::min<size_t>(left, count);
        return left >= count ? S_OK : S_FALSE;
    }
    HRESULT Reset() override {
        pos_ = 0;
        return S_OK;
    }

  private:
    std::vector<ComPtr<Item>> items_;
    size_t pos_ = 0;
};

}  // namespace media
