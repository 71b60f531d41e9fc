// SPDX-License-Identifier: GPL-3.0-or-later
// A recording fake of the media boundary for unit tests.
//
// Use
// ---
//   #include "media/fake/FakeMedia.h"
//   using namespace media;
//   using namespace media::fake;
//
//   FakeMediaSystem sys;                 // installs itself (SetMediaSystem), uninstalls
//                                        // when destroyed: declare it BEFORE any component
//   sys.AddVideoDevice("Test Camera 1",  // a camera with two formats on its "Capture" and
//       {VideoFormat(MEDIASUBTYPE_YUY2, 640, 480, 16),   // "Preview" pins
//        VideoFormat(MEDIASUBTYPE_RGB24, 320, 240, 24)});
//   sys.AddAudioDevice("Test Microphone", {AudioFormat(44100, 16, 2)});
//
//   TFilterGraph graph; graph.setObjectName("CaptureGraph"); graph.SetMode(gmCapture);
//   ... exercise the layer ...
//   EXPECT_TRUE(sys.Log().InOrder({"Graph.AddFilter(VideoSourceFilter)",
//                                  "Graph.AddFilter(SampleGrabber)"}));
//
// The call log
// ------------
// Every call on a fake object is appended to one ordered log (sys.Log()) as
// "<Object>.<Method>" or "<Object>.<Method>(<arguments>)". Objects are named:
//   System                         the free services: System.CoCreateInstance(FilterGraph),
//                                  System.OleSaveToStream(Moniker[Test Camera 1]),
//                                  System.OleLoadFromStream, System.CreateItemMoniker(!, <item>),
//                                  System.CreatePropertyFrame(<caption>, <objects>, <pages>)
//   Graph                          the filter graph manager (IFilterGraph2, IMediaControl,
//                                  IMediaEventEx, IMediaSeeking, IObjectWithSite,
//                                  IServiceProvider, IBasicAudio when enabled):
//                                  Graph.AddFilter(<name>), Graph.RemoveFilter(<name in graph>),
//                                  Graph.Run, Graph.Stop, Graph.SetNotifyFlags(0),
//                                  Graph.SetNotifyWindow(window, 0x8001), Graph.SetSite,
//                                  Graph.SetLogFile(-1) / Graph.SetLogFile(file), ...
//   Builder                        the capture graph builder: Builder.SetFiltergraph,
//                                  Builder.RenderStream(PREVIEW, <source>, <intermediate>,
//                                  <sink>), Builder.SetOutputFileName(<file>),
//                                  Builder.FindInterface(CAPTURE, <filter>, IAMStreamConfig)
//   DevEnum, EnumMoniker           device enumeration: DevEnum.CreateClassEnumerator(
//                                  VideoInputDevice), EnumMoniker.Next(1), .Skip(1), .Reset
//   Moniker[<device>], Bag[<device>]   Moniker[..].BindToObject, Bag[..].Read(FriendlyName)
//   Filter[<label>]                a filter: device filters are labelled with the device's
//                                  friendly name; also Filter[Grabber], Filter[Renderer],
//                                  Filter[AVI Mux], Filter[File Writer] (which
//                                  creates its file, empty, when the graph runs):
//                                  Filter[x].Stop, .GetState, .EnumPins, .JoinFilterGraph(<name>)
//   Pin[<filter label>/<pin>]      Pin[Test Camera 1/Capture].Disconnect, .Connect(Pin[..]),
//                                  .ConnectedTo, .GetFormat, .SetFormat(<description>),
//                                  .EnumMediaTypes. SetFormat on one configurable pin of a
//                                  device sets the format of all of them (capture and preview
//                                  share one); a format the pin does not offer is refused with
//                                  VFW_E_INVALIDMEDIATYPE; a connection carries the format in
//                                  force (else the first offered one)
//   Grabber                        ISampleGrabber calls: Grabber.SetMediaType(<description>),
//                                  Grabber.SetBufferSamples(1), Grabber.SetCallback(set, 1),
//                                  Grabber.GetConnectedMediaType, Grabber.GetCurrentBuffer(0)
//   Renderer                       IVideoWindow calls: Renderer.put_Owner(<objectName>|null),
//                                  Renderer.put_WindowStyle(0x44000000), Renderer.put_Caption(x),
//                                  Renderer.put_MessageDrain(<objectName>),
//                                  Renderer.put_Visible(-1), Renderer.SetWindowPosition(16, 32,
//                                  665, 537)
//   ROT                            ROT.Register(<display name>), ROT.Revoke(<cookie>)
// CallLog offers Contains, IndexOf, Count, InOrder (each entry found after the
// previous one), ContainsAll (each found, in any order), Matching (entries
// that start with a prefix) and Text().
//
// Scripted results
// ----------------
// sys.SetResult("Graph.Stop", S_FALSE) makes every later call of that method
// on that object return the result instead of its normal one (the call is
// still logged and, for a failure, has no effect). The key is the log entry
// up to the '('. "*.Disconnect" applies to every object; an exact key wins.
// ClearResult / ClearResults remove overrides. SetResult(call, result, n)
// answers only the next n calls (a failure answered ends the call, so a
// failing call counts once), then the normal results come back.
// Hold("Graph.Run") makes later calls of that method wait (logged first)
// until Release("Graph.Run"), as a device that does not answer;
// SetDelay(call, ms) makes them take that long. Both work on the thread the
// call comes from (the program calls Run, Stop and Halt off its
// user-interface thread).
//
// Scripted objects
// ----------------
// - Devices: AddVideoDevice / AddAudioDevice / AddCompressor / AddDevice put a
//   device into a category, in listing order; its FakeDevice record can be
//   edited (friendly name, missing or invalid "CLSID", pins and formats,
//   property pages, driver dialogs). Each BindToObject makes a new filter
//   with the device's pins; Filter("Test Camera 1") finds the newest live one.
// - The sample grabber: sys.GrabberDefaults() is copied into every new
//   grabber (connected type, buffered frame); SampleGrabber() is the newest
//   live one, whose ConnectedType/Buffer can be changed, and whose
//   DeliverBuffer() calls the installed buffer callback.
// - The video renderer: RendererDefaults().hasVideoWindow (true) decides
//   whether it answers IVideoWindow; Renderer() exposes the placement state.
// - The graph: Graph() is the newest live graph; PostEvent(code, p1, p2)
//   queues an event and posts the notice (WindowMessageEvent) to the notify
//   window; process it with QCoreApplication::sendPostedEvents().
// - Classes: SetClassAvailable(clsid, false) makes creation fail with
//   REGDB_E_CLASSNOTREG (the DVD graph builder and the mixing renderer are
//   unavailable from the start).
// - Error texts: SetErrorText(hr, text); E_FAIL has "Unspecified error".
// - Property frames: PropertyFrameHook runs inside CreatePropertyFrame.
#pragma once

#include <QPointer>
#include <atomic>
#include <condition_variable>
#include <functional>
#include <mutex>
#include <initializer_list>
#include <map>
#include <memory>
#include <optional>
#include <set>
#include <string>
#include <vector>

#include "media/MediaBoundary.h"
#include "media/MediaTypes.h"

class QObject;

namespace media {
namespace fake {

class FakeMediaSystem;
class FakeFilter;
class FakePin;
class FakeGraph;
class FakeSampleGrabber;
class FakeRenderer;

// ---------------------------------------------------------------------------
// The call log
// ---------------------------------------------------------------------------
class CallLog {
  public:
    // Adding and clearing may happen on any thread (the program runs its
    // graph off the user-interface thread); tests read the log once the
    // program is at rest.
    void Add(std::string entry) {
        std::lock_guard<std::mutex> lock(mutex_);
        entries_.push_back(std::move(entry));
    }
    const std::vector<std::string>& Entries() const { return entries_; }
    void Clear() {
        std::lock_guard<std::mutex> lock(mutex_);
        entries_.clear();
    }
    bool Contains(const std::string& entry) const { return IndexOf(entry) >= 0; }
    // Index of the first entry equal to entry at or after from; -1 if none.
    int IndexOf(const std::string& entry, int from = 0) const;
    int Count(const std::string& entry) const;
    // True when every entry is found, each after the previous one.
    bool InOrder(std::initializer_list<std::string> entries) const;
    bool InOrder(const std::vector<std::string>& entries) const;
    // True when every entry is found, in any order (for calls whose order
    // nobody can see).
    bool ContainsAll(std::initializer_list<std::string> entries) const;
    // The entries that start with prefix, in order.
    std::vector<std::string> Matching(const std::string& prefix) const;
    // All entries, one per line (for failure messages).
    std::string Text() const;

  private:
    std::mutex mutex_;
    std::vector<std::string> entries_;
};

// ---------------------------------------------------------------------------
// Scripts
// ---------------------------------------------------------------------------

// Builds a video format: FORMAT_VideoInfo with a VIDEOINFOHEADER (88 bytes).
// The compression is BI_RGB for the RGB subtypes, the subtype's first field
// (its four-character code) otherwise.
TMediaType VideoFormat(const GUID& subtype, int32_t width, int32_t height, uint16_t bits,
                       REFERENCE_TIME avgTimePerFrame = 333333);
// Builds a PCM audio format (FORMAT_WaveFormatEx, 18 bytes).
TMediaType AudioFormat(uint32_t samplesPerSec, uint16_t bitsPerSample, uint16_t channels);

struct FakePinDesc {
    std::string name;  // "Capture", "Preview", "Input", "Output", ...
    PIN_DIRECTION direction = PINDIR_OUTPUT;
    std::vector<TMediaType> formats;  // offered formats (EnumMediaTypes, stream caps)
    bool streamConfig = false;        // answers IAMStreamConfig
    std::vector<GUID> pages;          // property pages (none: no ISpecifyPropertyPages)
};

struct FakeDevice {
    std::string id;  // stable identity, serialized in monikers
    GUID category;
    std::string friendlyName;  // UTF-8
    // The "CLSID" property text; nullopt: the property cannot be read.
    std::optional<std::string> clsidText;
    std::vector<FakePinDesc> pins;
    std::vector<GUID> filterPages;         // none: no ISpecifyPropertyPages
    std::vector<int32_t> captureDialogs;   // none: no IAMVfwCaptureDialogs
    std::vector<int32_t> compressDialogs;  // none: no IAMVfwCompressDialogs
    bool present = true;                   // false: BindToObject fails (unplugged)
};

struct FakeGrabberScript {
    // The connected media type; nullopt: GetConnectedMediaType fails
    // (VFW_E_NOT_CONNECTED).
    std::optional<TMediaType> connectedType;
    // The buffered frame; nullopt: GetCurrentBuffer fails (VFW_E_WRONG_STATE).
    std::optional<std::vector<uint8_t>> buffer;
};

struct FakeRendererScript {
    bool hasVideoWindow = true;
};

// ---------------------------------------------------------------------------
// The system
// ---------------------------------------------------------------------------
class FakeMediaSystem : public IMediaSystem {
  public:
    FakeMediaSystem();            // installs itself
    ~FakeMediaSystem() override;  // uninstalls (restores the previous system)
    FakeMediaSystem(const FakeMediaSystem&) = delete;
    FakeMediaSystem& operator=(const FakeMediaSystem&) = delete;

    CallLog& Log() { return log_; }

    // Scripted results (see the top of this file).
    void SetResult(const std::string& call, HRESULT result) {
        std::lock_guard<std::mutex> lock(scriptMutex_);
        results_[call] = result;
        remaining_.erase(call);
    }
    void SetResult(const std::string& call, HRESULT result, int times) {
        std::lock_guard<std::mutex> lock(scriptMutex_);
        results_[call] = result;
        remaining_[call] = times;
    }
    void ClearResult(const std::string& call) {
        std::lock_guard<std::mutex> lock(scriptMutex_);
        results_.erase(call);
        remaining_.erase(call);
    }
    void ClearResults() {
        std::lock_guard<std::mutex> lock(scriptMutex_);
        results_.clear();
        remaining_.clear();
    }
    std::optional<HRESULT> Scripted(const std::string& label, const std::string& method);
    void Hold(const std::string& call);
    void Release(const std::string& call);
    void SetDelay(const std::string& call, int ms);
    // Holds and delays of a call about to be made (used by the fake objects).
    void Wait(const std::string& label, const std::string& method);
    // How many calls wait in a hold now.
    int Held() const { return held_; }

    // Devices, in listing order within their category.
    FakeDevice& AddDevice(const GUID& category, const std::string& friendlyName);
    FakeDevice& AddVideoDevice(const std::string& friendlyName,
                               const std::vector<TMediaType>& formats);
    FakeDevice& AddAudioDevice(const std::string& friendlyName,
                               const std::vector<TMediaType>& formats);
    // A compressor with an "Input" and an "Output" pin (category: video or
    // audio compressors).
    FakeDevice& AddCompressor(const GUID& category, const std::string& friendlyName);
    std::vector<FakeDevice*> Devices(const GUID& category);
    FakeDevice* FindDevice(const std::string& id);
    void RemoveDevices(const GUID& category);

    void SetClassAvailable(const CLSID& clsid, bool available);
    FakeGrabberScript& GrabberDefaults() { return grabberDefaults_; }
    FakeRendererScript& RendererDefaults() { return rendererDefaults_; }
    void SetErrorText(HRESULT result, const std::string& text) { errorTexts_[result] = text; }
    // Runs inside CreatePropertyFrame (after logging) when set.
    std::function<void(const WString& caption, const std::vector<IUnknown*>& objects)>
        PropertyFrameHook;

    // The newest live objects (null when none is alive).
    FakeGraph* Graph() const;
    FakeFilter* Filter(const std::string& label) const;
    FakeSampleGrabber* SampleGrabber() const;
    FakeRenderer* Renderer() const;
    // Registered running-object entries: cookie -> display name.
    const std::map<uint32_t, std::string>& RotEntries() const { return rot_; }

    // IMediaSystem
    HRESULT CreateInstance(const CLSID& clsid, const IID& iid, void** object) override;
    HRESULT SaveMonikerToStream(IMoniker* moniker, std::vector<uint8_t>* stream) override;
    HRESULT LoadMonikerFromStream(const std::vector<uint8_t>& stream, const IID& iid,
                                  void** object) override;
    HRESULT GetRunningObjectTable(IRunningObjectTable** table) override;
    HRESULT CreateItemMoniker(const WString& delimiter, const WString& item,
                              IMoniker** moniker) override;
    HRESULT CreatePropertyFrame(QWidget* parent, int32_t x, int32_t y, const WString& caption,
                                const std::vector<IUnknown*>& objects,
                                const std::vector<GUID>& pages) override;
    uint32_t GetErrorText(HRESULT hr, char* buffer, uint32_t size) override;
    HRESULT RegisterDeviceNotification(QObject* receiver, uint32_t message) override;
    HRESULT UnregisterDeviceNotification(QObject* receiver) override;
    // Posts a device notice (DBT_DEVICEARRIVAL, DBT_DEVICEREMOVECOMPLETE) to
    // every registered receiver, as the system does when a device comes or
    // goes; tests add or remove the device first.
    void AnnounceDeviceChange(intptr_t change);
    size_t DeviceNotificationCount() const { return deviceReceivers_.size(); }

    // Used by the fake objects.
    void Register(FakeGraph* graph) { graphs_.push_back(graph); }
    void Unregister(FakeGraph* graph);
    void Register(FakeFilter* filter) { filters_.push_back(filter); }
    void Unregister(FakeFilter* filter);
    void Register(FakePin* pin) { pins_.insert(pin); }
    void Unregister(FakePin* pin);
    // A new filter for the device (pins and interfaces as scripted).
    FakeFilter* CreateDeviceFilter(const FakeDevice& device);
    std::map<uint32_t, std::string>& Rot() { return rot_; }
    uint32_t NextCookie() { return ++cookie_; }

  private:
    IMediaSystem* previous_;
    CallLog log_;
    std::mutex scriptMutex_;
    std::condition_variable released_;
    std::set<std::string> holds_;
    std::map<std::string, int> delays_;
    std::atomic<int> held_{0};
    std::map<std::string, HRESULT> results_;
    std::map<std::string, int> remaining_;  // calls left for counted results
    std::vector<std::unique_ptr<FakeDevice>> devices_;
    int nextDeviceId_ = 0;
    std::set<GUID> unavailable_;
    FakeGrabberScript grabberDefaults_;
    FakeRendererScript rendererDefaults_;
    std::map<HRESULT, std::string> errorTexts_;
    std::vector<FakeGraph*> graphs_;
    std::vector<FakeFilter*> filters_;
    std::set<FakePin*> pins_;
    std::map<uint32_t, std::string> rot_;
    uint32_t cookie_ = 0;
    std::vector<std::pair<QObject*, uint32_t>> deviceReceivers_;
};

// Readable names used in the log.
std::string GuidLabel(const GUID& g);
std::string Utf8(const WString& text);
WString Wide(const std::string& text);

// ---------------------------------------------------------------------------
// Objects
// ---------------------------------------------------------------------------

// Common logging of the fake objects.
class FakeObject {
  public:
    FakeObject(FakeMediaSystem* system, std::string label)
        : sys_(system), label_(std::move(label)) {}
    virtual ~FakeObject() = default;
    const std::string& Label() const { return label_; }

  protected:
    // Logs label.method(args); returns the scripted result if any.
    std::optional<HRESULT> Call(const std::string& method, const std::string& args = {});
    FakeMediaSystem* sys_;
    std::string label_;
};

class FakePin : public ComObject<IPin, IAMStreamConfig, ISpecifyPropertyPages>, public FakeObject {
  public:
    FakePin(FakeMediaSystem* system, FakeFilter* filter, const FakePinDesc& desc);
    ~FakePin() override;

    // Pins share the reference count of their filter, which owns them.
    uint32_t AddRef() override;
    uint32_t Release() override;

    FakeFilter* Owner() const { return filter_; }
    const std::string& Name() const { return desc_.name; }
    PIN_DIRECTION Direction() const { return desc_.direction; }
    FakePin* Peer() const { return peer_; }
    std::vector<TMediaType>& Formats() { return desc_.formats; }
    // The format set with SetFormat, or nullopt.
    std::optional<TMediaType>& CurrentFormat() { return current_; }
    const TMediaType& ConnectionType() const { return connectionType_; }
    void ForgetPeer(FakePin* pin) {
        if (peer_ == pin)
            peer_ = nullptr;
    }

    // IPin
    HRESULT Connect(IPin* receiver, const AM_MEDIA_TYPE* mt) override;
    HRESULT Disconnect() override;
    HRESULT ConnectedTo(IPin** other) override;
    HRESULT ConnectionMediaType(AM_MEDIA_TYPE* mt) override;
    HRESULT QueryPinInfo(PIN_INFO* info) override;
    HRESULT QueryDirection(PIN_DIRECTION* dir) override;
    HRESULT QueryId(WString* id) override;
    HRESULT EnumMediaTypes(IEnumMediaTypes** types) override;
    // IAMStreamConfig (answered when its description says so)
    HRESULT GetFormat(AM_MEDIA_TYPE** mt) override;
    HRESULT SetFormat(const AM_MEDIA_TYPE* mt) override;
    HRESULT GetNumberOfCapabilities(int32_t* count, int32_t* size) override;
    HRESULT GetStreamCaps(int32_t index, AM_MEDIA_TYPE** mt, uint8_t* caps) override;
    // ISpecifyPropertyPages (answered when its description lists pages)
    HRESULT GetPages(CAUUID* pages) override;

    // Connects both sides without logging (test set-up).
    void Link(FakePin* other);

    HRESULT QueryInterface(const IID& iid, void** object) override;

  private:
    FakeFilter* filter_;
    FakePinDesc desc_;
    FakePin* peer_ = nullptr;
    std::optional<TMediaType> current_;
    TMediaType connectionType_;
};

class FakeFilter : public ComObject<IBaseFilter, IMediaFilter, IPersist>,
                   public virtual ISpecifyPropertyPages,
                   public virtual IAMVfwCaptureDialogs,
                   public virtual IAMVfwCompressDialogs,
                   public FakeObject {
  public:
    // name: the filter's own name (the device's friendly name, "Grabber", ...);
    // its log label is "Filter[<name>]".
    FakeFilter(FakeMediaSystem* system, const std::string& name, const CLSID& clsid);

    const std::string& Name() const { return name_; }
    FakePin* AddPin(const FakePinDesc& desc);
    FakePin* Pin(const std::string& name) const;
    const std::vector<std::unique_ptr<FakePin>>& Pins() const { return pins_; }
    FILTER_STATE State() const { return state_; }
    void SetStateSilently(FILTER_STATE state) { state_ = state; }
    IFilterGraph* GraphJoined() const { return graph_; }
    const WString& NameInGraph() const { return nameInGraph_; }
    std::vector<GUID>& FilterPages() { return pages_; }
    std::vector<int32_t>& CaptureDialogs() { return captureDialogs_; }
    std::vector<int32_t>& CompressDialogs() { return compressDialogs_; }
    uint32_t RefCount();

    // IMediaFilter / IPersist
    HRESULT GetClassID(CLSID* clsid) override;
    HRESULT Stop() override;
    HRESULT Pause() override;
    HRESULT Run(REFERENCE_TIME start) override;
    HRESULT GetState(uint32_t timeoutMs, FILTER_STATE* state) override;
    // IBaseFilter
    HRESULT EnumPins(IEnumPins** pins) override;
    HRESULT FindPin(const WString& id, IPin** pin) override;
    HRESULT QueryFilterInfo(FILTER_INFO* info) override;
    HRESULT JoinFilterGraph(IFilterGraph* graph, const WString& name) override;
    // ISpecifyPropertyPages
    HRESULT GetPages(CAUUID* pages) override;
    // IAMVfwCaptureDialogs / IAMVfwCompressDialogs (ShowDialog serves both:
    // with compressor dialogs scripted it answers as a compressor)
    HRESULT HasDialog(int32_t dialog) override;
    HRESULT ShowDialog(int32_t dialog, QWidget* parent) override;

  protected:
    ~FakeFilter() override;
    void* ExtraInterface(const IID& iid) override;
    // Logs <label>.<method>(<args>) under another label ("Grabber", "Renderer").
    std::optional<HRESULT> CallAs(const std::string& label, const std::string& method,
                                  const std::string& args = {});

    std::string name_;
    CLSID clsid_;
    std::vector<std::unique_ptr<FakePin>> pins_;
    FILTER_STATE state_ = State_Stopped;
    IFilterGraph* graph_ = nullptr;  // not held, as the platform does
    WString nameInGraph_;
    std::vector<GUID> pages_;
    std::vector<int32_t> captureDialogs_;
    std::vector<int32_t> compressDialogs_;
};

class FakeSampleGrabber : public FakeFilter, public virtual ISampleGrabber {
  public:
    explicit FakeSampleGrabber(FakeMediaSystem* system);

    std::optional<TMediaType>& ConnectedType() { return script_.connectedType; }
    std::optional<std::vector<uint8_t>>& Buffer() { return script_.buffer; }
    const TMediaType& RequestedType() const { return requested_; }
    bool BufferSamples() const { return bufferSamples_; }
    ISampleGrabberCB* Callback() const { return callback_.Get(); }
    int32_t CallbackKind() const { return callbackKind_; }
    // Calls the installed callback (BufferCB for kind 1, SampleCB for 0).
    HRESULT DeliverBuffer(double time, std::vector<uint8_t> data);

    HRESULT SetOneShot(bool oneShot) override;
    HRESULT SetMediaType(const AM_MEDIA_TYPE* mt) override;
    HRESULT GetConnectedMediaType(AM_MEDIA_TYPE* mt) override;
    HRESULT SetBufferSamples(bool buffer) override;
    HRESULT GetCurrentBuffer(int32_t* size, uint8_t* buffer) override;
    HRESULT SetCallback(ISampleGrabberCB* callback, int32_t which) override;

  protected:
    ~FakeSampleGrabber() override = default;
    void* ExtraInterface(const IID& iid) override;

  private:
    FakeGrabberScript script_;
    TMediaType requested_;
    bool bufferSamples_ = false;
    ComPtr<ISampleGrabberCB> callback_;
    int32_t callbackKind_ = -1;
};

class FakeRenderer : public FakeFilter, public virtual IVideoWindow {
  public:
    explicit FakeRenderer(FakeMediaSystem* system);

    QObject* Owner() const { return owner_.data(); }
    QObject* MessageDrain() const { return drain_.data(); }
    bool OwnerSet() const { return ownerSet_; }
    int32_t WindowStyle() const { return style_; }
    int32_t WindowStyleEx() const { return styleEx_; }
    int32_t Visible() const { return visible_; }
    const WString& Caption() const { return caption_; }
    RECT Position() const { return position_; }

    HRESULT put_Caption(const WString& caption) override;
    HRESULT put_WindowStyle(int32_t style) override;
    HRESULT put_WindowStyleEx(int32_t style) override;
    HRESULT put_Owner(QWidget* owner) override;
    HRESULT put_MessageDrain(QWidget* drain) override;
    HRESULT put_Visible(int32_t visible) override;
    HRESULT get_Visible(int32_t* visible) override;
    HRESULT SetWindowPosition(int32_t left, int32_t top, int32_t width, int32_t height) override;

  protected:
    ~FakeRenderer() override = default;
    void* ExtraInterface(const IID& iid) override;

  private:
    bool hasVideoWindow_;
    QPointer<QObject> owner_;
    QPointer<QObject> drain_;
    bool ownerSet_ = false;
    int32_t style_ = 0;
    int32_t styleEx_ = 0;
    int32_t visible_ = 0;
    WString caption_;
    RECT position_{0, 0, 0, 0};
};

class FakeGraph
    : public ComObject<IFilterGraph2, IGraphBuilder, IFilterGraph, IMediaControl, IMediaEventEx,
                       IMediaEvent, IMediaSeeking, IObjectWithSite, IServiceProvider>,
      public virtual IBasicAudio,
      public FakeObject {
  public:
    explicit FakeGraph(FakeMediaSystem* system);

    struct Entry {
        WString name;
        ComPtr<IBaseFilter> filter;
    };
    const std::vector<Entry>& Filters() const { return filters_; }
    // Names of the filters in the graph, in order (UTF-8).
    std::vector<std::string> FilterNames() const;
    bool HasFilter(const std::string& name) const;
    FILTER_STATE State() const { return state_; }
    QObject* NotifyWindow() const { return notifyWindow_.data(); }
    uint32_t NotifyMessage() const { return notifyMessage_; }
    intptr_t NotifyInstance() const { return notifyInstance_; }
    int32_t NotifyFlags() const { return notifyFlags_; }
    IUnknown* Site() const { return site_.Get(); }
    intptr_t LogFileHandle() const { return logFile_; }
    void SetAudioAvailable(bool available) { audio_ = available; }
    void SetPosition(int64_t position) { position_ = position; }
    int32_t VolumeSet() const { return volume_; }
    int32_t BalanceSet() const { return balance_; }
    // Queues an event and posts the notice to the notify window (when set
    // and notices are on).
    void PostEvent(int32_t code, intptr_t param1 = 0, intptr_t param2 = 0);
    size_t PendingEvents() const { return events_.size(); }
    std::string NameOf(IBaseFilter* filter) const;

    // IFilterGraph / IGraphBuilder
    HRESULT AddFilter(IBaseFilter* filter, const WString& name) override;
    HRESULT RemoveFilter(IBaseFilter* filter) override;
    HRESULT EnumFilters(IEnumFilters** filters) override;
    HRESULT FindFilterByName(const WString& name, IBaseFilter** filter) override;
    HRESULT ConnectDirect(IPin* out, IPin* in, const AM_MEDIA_TYPE* mt) override;
    HRESULT Disconnect(IPin* pin) override;
    HRESULT Connect(IPin* out, IPin* in) override;
    HRESULT Render(IPin* out) override;
    HRESULT SetLogFile(intptr_t file) override;
    HRESULT Abort() override;
    // IMediaControl
    HRESULT Run() override;
    HRESULT Pause() override;
    HRESULT Stop() override;
    HRESULT GetState(int32_t timeoutMs, FILTER_STATE* state) override;
    HRESULT Halt() override;
    // IMediaEventEx
    HRESULT GetEvent(int32_t* code, intptr_t* param1, intptr_t* param2, int32_t timeoutMs) override;
    HRESULT FreeEventParams(int32_t code, intptr_t param1, intptr_t param2) override;
    HRESULT SetNotifyWindow(QObject* window, uint32_t message, intptr_t instance) override;
    HRESULT SetNotifyFlags(int32_t flags) override;
    // IMediaSeeking
    HRESULT GetCurrentPosition(int64_t* position) override;
    // IBasicAudio (answered when SetAudioAvailable(true))
    HRESULT put_Volume(int32_t volume) override;
    HRESULT put_Balance(int32_t balance) override;
    // IObjectWithSite / IServiceProvider (forwarded to the site)
    HRESULT SetSite(IUnknown* site) override;
    HRESULT QueryService(const GUID& service, const IID& iid, void** object) override;

  protected:
    ~FakeGraph() override;
    void* ExtraInterface(const IID& iid) override;

  private:
    struct Event {
        int32_t code;
        intptr_t param1, param2;
    };
    int Find(IBaseFilter* filter) const;
    void SetFilterStates(FILTER_STATE state);

    std::vector<Entry> filters_;
    FILTER_STATE state_ = State_Stopped;
    QPointer<QObject> notifyWindow_;
    uint32_t notifyMessage_ = 0;
    intptr_t notifyInstance_ = 0;
    int32_t notifyFlags_ = 0;
    std::vector<Event> events_;
    ComPtr<IUnknown> site_;
    intptr_t logFile_ = -1;
    bool audio_ = false;
    int64_t position_ = 0;
    int32_t volume_ = 0;
    int32_t balance_ = 0;
};

}  // namespace fake
}  // namespace media
