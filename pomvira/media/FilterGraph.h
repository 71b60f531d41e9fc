// SPDX-License-Identifier: GPL-3.0-or-later
// TFilterGraph: the component that owns one platform filter graph (and, in
// capture mode, the capture graph builder bound to it), puts its member
// components' filters into the graph whenever it becomes active, forwards
// interface requests to the platform objects, and hands the graph's events
// to its event sinks and handlers on the user-interface thread.
#pragma once

#include <QObject>
#include <QString>
#include <cstdint>
#include <functional>
#include <map>
#include <vector>

#include "GraphMember.h"
#include "MediaBoundary.h"
#include "MediaUtil.h"

namespace media {

enum TGraphMode { gmNormal = 0, gmCapture = 1, gmDVD = 2 };

// The window message with which the graph announces pending events.
constexpr uint32_t WM_GRAPHNOTIFY = 0x8001;

// The service identifier private to this layer: asked for both service and
// interface through IServiceProvider, a graph's site answers with the
// ITFilterGraphSite of its component.
constexpr GUID IID_ITFilterGraphSite =
    MakeGuid(0xC7CAA944, 0xC191, 0x4AB1, 0xAB, 0xA7, 0xD8, 0xB4, 0x0E, 0xF4, 0xD5, 0xB2);

class TFilterGraph;

// The DVD graph builder (not present on this platform: creating it fails).
class IDvdGraphBuilder : public virtual IUnknown {
  public:
    static constexpr IID IID_ = IID_IDvdGraphBuilder;
    virtual HRESULT GetFiltergraph(IGraphBuilder** graph) = 0;
    virtual HRESULT GetDvdInterface(const IID& iid, void** object) = 0;
};

// The platform-facing object of a graph component: its site in the
// platform graph, answering IServiceProvider, IAMFilterGraphCallback and
// IAMGraphBuilderCallback. Component() is null once the component is gone.
class ITFilterGraphSite : public virtual IUnknown {
  public:
    static constexpr IID IID_ = IID_ITFilterGraphSite;
    virtual TFilterGraph* Component() = 0;
};

using TGraphEventHandler =
    std::function<void(TFilterGraph* sender, intptr_t param1, intptr_t param2)>;

class TFilterGraph : public QObject, public TInterfaceSource {
    Q_OBJECT
  public:
    explicit TFilterGraph(QObject* owner = nullptr);
    ~TFilterGraph() override;

    bool Active() const { return active_; }
    void SetActive(bool value);
    bool AutoCreate() const { return autoCreate_; }
    void SetAutoCreate(bool value) { autoCreate_ = value; }
    // Call once the owning form has been loaded: an AutoCreate graph then
    // activates itself.
    void Loaded();

    TGraphMode Mode() const { return mode_; }
    void SetMode(TGraphMode value);
    bool GraphEdit() const { return graphEdit_; }
    void SetGraphEdit(bool value);
    // The running object table cookie (0: not registered).
    uint32_t GraphEditCookie() const { return rotCookie_; }
    QString LogFile() const { return logFile_; }
    void SetLogFile(const QString& value);
    bool LinearVolume() const { return linearVolume_; }
    void SetLinearVolume(bool value);
    int Volume() const { return volume_; }
    void SetVolume(int value);
    int Balance() const { return balance_; }
    void SetBalance(int value);

    // ckRun to the sinks, then IMediaControl.Run; false when inactive; a
    // failure raises EDirectShowException.
    bool RunGraph();
    // ckStop to the sinks, then IMediaControl.Stop; true only for S_OK.
    bool StopGraph();
    // What RunGraph and StopGraph tell the event sinks, for an owner that
    // runs and stops the platform graph (IMediaControl) off this thread.
    void NotifyRun();
    void NotifyStop();
    // Lets go of the platform graph without a call into it: for a graph
    // stuck in a state change on another thread, which may hold it for good.
    // The members drop their filters (made anew at the next activation),
    // the video window is hidden, and no event of that graph is heard again.
    void Abandon();
    // Stops, disconnects every pin and removes every filter that no member
    // owns. A failure raises EDirectShowException.
    void EmptyGraph();

    void AttachMember(IGraphMember* member);
    void DetachMember(IGraphMember* member);
    void AttachEventSink(IGraphEventSink* sink);
    void DetachEventSink(IGraphEventSink* sink);
    const std::vector<IGraphMember*>& Members() const { return members_; }
    const std::vector<IGraphEventSink*>& EventSinks() const { return sinks_; }

    // Own interfaces (IServiceProvider, IAMFilterGraphCallback,
    // IAMGraphBuilderCallback, ITFilterGraphSite) first; while active the
    // request is forwarded by mode to the platform objects.
    HRESULT QueryInterface(const IID& iid, void** object) override;

    // The hidden receiver of the graph's event notices (WindowMessageEvent
    // with message WM_GRAPHNOTIFY).
    QObject* NotifyWindow() const { return notifyWindow_; }
    // Drains the pending graph events and dispatches each one.
    void HandleGraphEvents();

    // Handlers (none is bound by the camera program).
    std::function<void(TFilterGraph* sender)> OnActivate;
    std::function<void(TFilterGraph* sender, int32_t event, intptr_t param1, intptr_t param2)>
        OnDSEvent;
    TGraphEventHandler OnGraphComplete;                 // 1
    TGraphEventHandler OnGraphUserAbort;                // 2
    TGraphEventHandler OnGraphErrorAbort;               // 3
    TGraphEventHandler OnGraphStreamErrorStopped;       // 6
    TGraphEventHandler OnGraphStreamErrorStillPlaying;  // 7
    TGraphEventHandler OnGraphErrorStillPlaying;        // 8
    TGraphEventHandler OnGraphPaletteChanged;           // 9
    TGraphEventHandler OnGraphVideoSizeChanged;         // 10
    TGraphEventHandler OnGraphQualityChange;            // 11
    TGraphEventHandler OnGraphClockChanged;             // 13
    TGraphEventHandler OnGraphPaused;                   // 14
    TGraphEventHandler OnGraphOpeningFile;              // 16
    TGraphEventHandler OnGraphBufferingData;            // 17
    TGraphEventHandler OnGraphFullscreenLost;           // 18
    TGraphEventHandler OnGraphOleEvent;                 // 24
    TGraphEventHandler OnGraphStreamControlStopped;     // 26
    TGraphEventHandler OnGraphStreamControlStarted;     // 27
    TGraphEventHandler OnGraphEndOfSegment;             // 28
    TGraphEventHandler OnGraphDeviceLost;               // 31
    TGraphEventHandler OnGraphStepComplete;             // 36
    TGraphEventHandler OnGraphTimeCodeAvailable;        // 48
    TGraphEventHandler OnGraphEXTDeviceModeChange;      // 49
    TGraphEventHandler OnGraphChanged;                  // 80
    TGraphEventHandler OnGraphClockUnset;               // 81
    TGraphEventHandler OnGraphVMRRenderDevice;          // 83
    TGraphEventHandler OnGraphSNDDevInError;            // 512
    TGraphEventHandler OnGraphSNDDevOutError;           // 513
    // Handlers for further codes (the DVD codes 257..283 among them); a
    // named handler above takes precedence for its code.
    std::map<int32_t, TGraphEventHandler> EventHandlers;
    // Graph-building callbacks: true accepts (S_OK), false refuses.
    std::function<bool(TFilterGraph* sender, IMoniker* moniker, const QString& name,
                       const GUID& classId)>
        OnSelectedFilter;
    std::function<bool(TFilterGraph* sender, IBaseFilter* filter, const GUID& classId)>
        OnCreatedFilter;
    std::function<bool(TFilterGraph* sender, IPin* pin)> OnUnableToRender;

  private:
    void Activate();
    void Deactivate();
    void AddMemberFilter(IGraphMember* member);
    void RemoveMemberFilter(IGraphMember* member);
    bool ApplyLogFile(const QString& name);
    int PlatformVolume() const;
    void CloseLogFile();
    void ApplyVolume();
    void DispatchEvent(int32_t code, intptr_t param1, intptr_t param2);
    HRESULT ForwardInterface(const IID& iid, void** object);

    bool active_ = false;
    bool autoCreate_ = false;
    TGraphMode mode_ = gmNormal;
    bool graphEdit_ = false;
    uint32_t rotCookie_ = 0;
    QString logFile_;
    int logFd_ = -1;
    bool linearVolume_ = true;
    int volume_ = 10000;
    int balance_ = 0;

    ComPtr<IFilterGraph2> graph_;
    ComPtr<ICaptureGraphBuilder2> captureBuilder_;
    ComPtr<IDvdGraphBuilder> dvdBuilder_;
    ComPtr<IMediaEventEx> mediaEvent_;

    QObject* notifyWindow_ = nullptr;  // owned (a child of this component)
    class Site;
    Site* site_ = nullptr;  // one reference held

    std::vector<IGraphMember*> members_;
    std::vector<IGraphEventSink*> sinks_;
};

// Registers the graph in the running object table under the item name
// "FilterGraph <address> pid <process id>" so that an inspection tool can
// find it; returns the last platform result.
HRESULT RegisterGraphForInspection(IUnknown* graph, uint32_t* cookie);
HRESULT UnregisterGraphForInspection(uint32_t cookie);
// The item name used for the graph at this address.
QString GraphInspectionName(const void* graph);

}  // namespace media
