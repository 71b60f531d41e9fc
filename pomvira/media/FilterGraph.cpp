// SPDX-License-Identifier: GPL-3.0-or-later
#include "FilterGraph.h"

#include "media/FileNameCodec.h"

#include <QCoreApplication>
#include <QEvent>
#include <QFile>
#include <algorithm>
#include <cinttypes>
#include <cmath>
#include <cstdio>
#include <fcntl.h>
#include <unistd.h>

namespace media {

namespace {

// The hidden receiver of the graph's event notices: message WM_GRAPHNOTIFY
// drains the events on the user-interface thread; a failure out of the
// handlers goes to the program's error report and the event loop goes on.
class GraphNotifyReceiver : public QObject {
  public:
    explicit GraphNotifyReceiver(TFilterGraph* graph) : graph_(graph) {}

    bool event(QEvent* e) override {
        if (e->type() != WindowMessageEvent::TypeId())
            return QObject::event(e);
        auto* message = static_cast<WindowMessageEvent*>(e);
        if (message->message == WM_GRAPHNOTIFY) {
            try {
                graph_->HandleGraphEvents();
            } catch (const std::exception& ex) {
                ReportException(ex);
            } catch (...) {
                ReportException(std::runtime_error(
                    QCoreApplication::translate("Media", "Erreur inconnue").toStdString()));
            }
        }
        return true;
    }

  private:
    TFilterGraph* graph_;
};

template <class T>
std::vector<T> Snapshot(const std::vector<T>& list) {
    return list;
}

}  // namespace

// The component's site in the platform graph: the graph-building callbacks
// and the private service that leads from a platform graph back to its
// component.
class TFilterGraph::Site : public ComObject<IServiceProvider, IAMFilterGraphCallback,
                                            IAMGraphBuilderCallback, ITFilterGraphSite> {
  public:
    explicit Site(TFilterGraph* component) : component_(component) {}
    void Orphan() { component_ = nullptr; }

    TFilterGraph* Component() override { return component_; }

    HRESULT QueryService(const GUID& service, const IID& iid, void** object) override {
        if (!object)
            return E_POINTER;
        *object = nullptr;
        if (service != IID_ITFilterGraphSite || iid != IID_ITFilterGraphSite) {
            return E_NOINTERFACE;
        }
        *object = static_cast<ITFilterGraphSite*>(this);
        AddRef();
        return S_OK;
    }

    HRESULT UnableToRender(IPin* pin) override {
        HRESULT result = S_FALSE;
        if (!pin)
            return result;
        PIN_INFO pinInfo{};
        pinInfo.pFilter = nullptr;
        if (SUCCEEDED(pin->QueryPinInfo(&pinInfo)) && pinInfo.pFilter) {
            FILTER_INFO filterInfo{};
            filterInfo.pGraph = nullptr;
            if (SUCCEEDED(pinInfo.pFilter->QueryFilterInfo(&filterInfo)) && filterInfo.pGraph) {
                ComPtr<IServiceProvider> provider = QueryAs<IServiceProvider>(filterInfo.pGraph);
                ComPtr<ITFilterGraphSite> site;
                if (provider &&
                    SUCCEEDED(provider->QueryService(IID_ITFilterGraphSite, IID_ITFilterGraphSite,
                                                     site.PutVoid())) &&
                    site) {
                    TFilterGraph* graph = site->Component();
                    if (graph && graph->OnUnableToRender) {
                        result = graph->OnUnableToRender(graph, pin) ? S_OK : S_FALSE;
                    }
                }
                filterInfo.pGraph->Release();
            }
            pinInfo.pFilter->Release();
        }
        return result;
    }

    HRESULT SelectedFilter(IMoniker* moniker) override {
        if (!component_ || !component_->OnSelectedFilter)
            return S_OK;
        QString name;
        GUID classId;
        if (moniker) {
            ComPtr<IPropertyBag> bag;
            moniker->BindToStorage(IPropertyBag::IID_, bag.PutVoid());
            if (bag) {
                WString text;
                if (SUCCEEDED(bag->Read(u"CLSID", &text))) {
                    GuidFromString(QString::fromStdU16String(text).toStdString(), classId);
                }
                text.clear();
                if (SUCCEEDED(bag->Read(u"FriendlyName", &text))) {
                    name = QString::fromStdU16String(text);
                }
            }
        }
        return component_->OnSelectedFilter(component_, moniker, name, classId) ? S_OK : E_FAIL;
    }

    HRESULT CreatedFilter(IBaseFilter* filter) override {
        if (!component_ || !component_->OnCreatedFilter)
            return S_OK;
        GUID classId;
        if (filter)
            filter->GetClassID(&classId);
        return component_->OnCreatedFilter(component_, filter, classId) ? S_OK : E_FAIL;
    }

  private:
    TFilterGraph* component_;
};

TFilterGraph::TFilterGraph(QObject* owner) : QObject(owner) {
    notifyWindow_ = new GraphNotifyReceiver(this);
    site_ = new Site(this);
}

TFilterGraph::~TFilterGraph() {
    SetActive(false);
    delete notifyWindow_;
    notifyWindow_ = nullptr;
    site_->Orphan();
    site_->Release();
    site_ = nullptr;
}

void TFilterGraph::Loaded() {
    if (autoCreate_)
        SetActive(true);
}

void TFilterGraph::SetActive(bool value) {
    if (value == active_)
        return;
    if (value) {
        Activate();
    } else {
        Deactivate();
    }
}

void TFilterGraph::Activate() {
    switch (mode_) {
        case gmNormal:
            CoCreateInstance(CLSID_FilterGraph, IFilterGraph2::IID_, graph_.PutVoid());
            break;
        case gmCapture:
            CoCreateInstance(CLSID_CaptureGraphBuilder2, ICaptureGraphBuilder2::IID_,
                             captureBuilder_.PutVoid());
            CoCreateInstance(CLSID_FilterGraph, IFilterGraph2::IID_, graph_.PutVoid());
            if (captureBuilder_)
                captureBuilder_->SetFiltergraph(graph_.Get());
            break;
        case gmDVD:
            CoCreateInstance(CLSID_DvdGraphBuilder, IDvdGraphBuilder::IID_, dvdBuilder_.PutVoid());
            if (dvdBuilder_) {
                ComPtr<IGraphBuilder> builder;
                dvdBuilder_->GetFiltergraph(builder.Put());
                graph_ = QueryAs<IFilterGraph2>(builder.Get());
            }
            break;
    }
    active_ = true;

    mediaEvent_ = Query<IMediaEventEx>();
    if (mediaEvent_) {
        mediaEvent_->SetNotifyFlags(0);
        mediaEvent_->SetNotifyWindow(notifyWindow_, WM_GRAPHNOTIFY,
                                     reinterpret_cast<intptr_t>(mediaEvent_.Get()));
    }
    if (ComPtr<IObjectWithSite> withSite = Query<IObjectWithSite>()) {
        withSite->SetSite(static_cast<IAMGraphBuilderCallback*>(site_));
        withSite->SetSite(static_cast<IAMFilterGraphCallback*>(site_));
    }
    if (graphEdit_ && rotCookie_ == 0 && graph_) {
        RegisterGraphForInspection(graph_.Get(), &rotCookie_);
    }
    ApplyLogFile(logFile_);

    for (IGraphMember* member : Snapshot(members_))
        AddMemberFilter(member);
    if (OnActivate)
        OnActivate(this);
    for (IGraphEventSink* sink : Snapshot(sinks_))
        sink->OnControl(ckActive, 1);
}

void TFilterGraph::Deactivate() {
    for (IGraphEventSink* sink : Snapshot(sinks_))
        sink->OnControl(ckActive, 0);
    for (IGraphMember* member : Snapshot(members_))
        RemoveMemberFilter(member);
    if (mediaEvent_) {
        mediaEvent_->SetNotifyFlags(1);
        mediaEvent_ = nullptr;
    }
    if (rotCookie_ != 0) {
        UnregisterGraphForInspection(rotCookie_);
        rotCookie_ = 0;
    }
    if (graph_)
        graph_->SetLogFile(-1);
    CloseLogFile();
    captureBuilder_ = nullptr;
    dvdBuilder_ = nullptr;
    graph_ = nullptr;
    active_ = false;
}

void TFilterGraph::AddMemberFilter(IGraphMember* member) {
    member->MemberNotify(msAdding, 0);
    const QString name = member->MemberName();
    IBaseFilter* filter = member->MemberFilter();
    if (graph_)
        graph_->AddFilter(filter, name.toStdU16String());
    member->MemberNotify(msAdded, 0);
}

void TFilterGraph::RemoveMemberFilter(IGraphMember* member) {
    member->MemberNotify(msRemoving, 0);
    if (graph_)
        graph_->RemoveFilter(member->MemberFilter());
    member->MemberNotify(msRemoved, 0);
}

void TFilterGraph::SetMode(TGraphMode value) {
    if (value == mode_)
        return;
    const bool wasActive = active_;
    SetActive(false);
    mode_ = value;
    SetActive(wasActive);
}

void TFilterGraph::SetGraphEdit(bool value) {
    if (!value) {
        if (rotCookie_ != 0) {
            UnregisterGraphForInspection(rotCookie_);
            rotCookie_ = 0;
        }
    } else if (rotCookie_ == 0 && active_ && graph_) {
        RegisterGraphForInspection(graph_.Get(), &rotCookie_);
    }
    graphEdit_ = value;
}

void TFilterGraph::CloseLogFile() {
    if (logFd_ >= 0) {
        ::close(logFd_);
        logFd_ = -1;
    }
}

bool TFilterGraph::ApplyLogFile(const QString& name) {
    if (graph_)
        graph_->SetLogFile(-1);
    CloseLogFile();
    if (name.isEmpty())
        return true;
    const int fd =
        ::open(EncodeFileName(name).constData(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
    if (fd < 0) {
        if (graph_)
            graph_->SetLogFile(-1);
        return false;
    }
    logFd_ = fd;
    if (graph_)
        graph_->SetLogFile(fd);
    return true;
}

void TFilterGraph::SetLogFile(const QString& value) {
    if (active_ && !ApplyLogFile(value))
        return;  // creation failed: keep the old name
    logFile_ = value;
}

int TFilterGraph::PlatformVolume() const {
    double v = linearVolume_ ? std::round(std::log(double(volume_) + 1.0) * 1085.73) - 10000.0
                             : double(volume_) - 10000.0;
    return int(std::clamp(v, -10000.0, 0.0));
}

void TFilterGraph::SetVolume(int value) {
    volume_ = std::clamp(value, 0, 10000);
    if (ComPtr<IBasicAudio> audio = Query<IBasicAudio>())
        audio->put_Volume(PlatformVolume());
}

void TFilterGraph::SetBalance(int value) {
    balance_ = std::clamp(value, -10000, 10000);
    if (ComPtr<IBasicAudio> audio = Query<IBasicAudio>())
        audio->put_Balance(balance_);
}

void TFilterGraph::SetLinearVolume(bool value) {
    if (value == linearVolume_)
        return;
    linearVolume_ = value;
    if (ComPtr<IBasicAudio> audio = Query<IBasicAudio>()) {
        audio->put_Volume(PlatformVolume());
        audio->put_Balance(balance_);
    }
}

bool TFilterGraph::RunGraph() {
    ComPtr<IMediaControl> control = Query<IMediaControl>();
    if (!control)
        return false;
    NotifyRun();
    CheckGraphResult(control->Run());
    return true;
}

bool TFilterGraph::StopGraph() {
    ComPtr<IMediaControl> control = Query<IMediaControl>();
    if (!control)
        return false;
    NotifyStop();
    return CheckGraphResult(control->Stop()) == S_OK;
}

void TFilterGraph::NotifyRun() {
    for (IGraphEventSink* sink : Snapshot(sinks_))
        sink->OnControl(ckRun, 0);
}

void TFilterGraph::NotifyStop() {
    for (IGraphEventSink* sink : Snapshot(sinks_))
        sink->OnControl(ckStop, 0);
}

void TFilterGraph::Abandon() {
    if (!active_)
        return;
    // Notices are turned off (under the platform graph's own lock, which
    // its state changes do not hold): nothing is posted here any more.
    if (mediaEvent_) {
        mediaEvent_->SetNotifyFlags(1);
        mediaEvent_->SetNotifyWindow(nullptr, 0, 0);
        mediaEvent_ = nullptr;
    }
    for (IGraphEventSink* sink : Snapshot(sinks_))
        sink->OnControl(ckActive, 0);
    // Only the last step of leaving: the members forget their filters.
    for (IGraphMember* member : Snapshot(members_))
        member->MemberNotify(msAbandoned, 0);
    if (rotCookie_ != 0) {
        UnregisterGraphForInspection(rotCookie_);
        rotCookie_ = 0;
    }
    CloseLogFile();
    captureBuilder_ = nullptr;
    dvdBuilder_ = nullptr;
    graph_ = nullptr;
    active_ = false;
}

void TFilterGraph::EmptyGraph() {
    if (!graph_)
        return;
    StopGraph();
    {
        TFilterList filters(graph_.Get());
        for (int i = 0; i < filters.Count(); ++i) {
            TPinList pins(filters.FilterAt(i).Get());
            for (int j = 0; j < pins.Count(); ++j)
                CheckGraphResult(pins.PinAt(j)->Disconnect());
        }
    }
    TFilterList filters(graph_.Get());
    for (IGraphMember* member : members_)
        filters.Remove(member->MemberFilter());
    for (int i = 0; i < filters.Count(); ++i) {
        CheckGraphResult(graph_->RemoveFilter(filters.FilterAt(i).Get()));
    }
}

void TFilterGraph::AttachMember(IGraphMember* member) {
    if (!member)
        return;
    members_.push_back(member);
    if (active_)
        AddMemberFilter(member);
}

void TFilterGraph::DetachMember(IGraphMember* member) {
    auto it = std::find(members_.begin(), members_.end(), member);
    if (it == members_.end())
        return;
    members_.erase(it);
    if (members_.empty())
        members_.shrink_to_fit();
    if (active_)
        RemoveMemberFilter(member);
}

void TFilterGraph::AttachEventSink(IGraphEventSink* sink) {
    if (sink)
        sinks_.push_back(sink);
}

void TFilterGraph::DetachEventSink(IGraphEventSink* sink) {
    auto it = std::find(sinks_.begin(), sinks_.end(), sink);
    if (it != sinks_.end())
        sinks_.erase(it);
    if (sinks_.empty())
        sinks_.shrink_to_fit();
}

HRESULT TFilterGraph::QueryInterface(const IID& iid, void** object) {
    if (!object)
        return E_POINTER;
    *object = nullptr;
    if (site_ && site_->QueryInterface(iid, object) == S_OK)
        return S_OK;
    if (!active_)
        return E_NOINTERFACE;
    return ForwardInterface(iid, object);
}

HRESULT TFilterGraph::ForwardInterface(const IID& iid, void** object) {
    HRESULT hr = E_NOINTERFACE;
    switch (mode_) {
        case gmNormal:
            break;
        case gmCapture:
            if (captureBuilder_)
                hr = captureBuilder_->QueryInterface(iid, object);
            break;
        case gmDVD:
            if (dvdBuilder_) {
                hr = dvdBuilder_->QueryInterface(iid, object);
                if (FAILED(hr) || !*object) {
                    *object = nullptr;
                    hr = dvdBuilder_->GetDvdInterface(iid, object);
                }
            }
            break;
    }
    if (SUCCEEDED(hr) && *object)
        return S_OK;
    *object = nullptr;
    if (graph_)
        hr = graph_->QueryInterface(iid, object);
    if (SUCCEEDED(hr) && *object)
        return S_OK;
    *object = nullptr;
    return E_NOINTERFACE;
}

void TFilterGraph::HandleGraphEvents() {
    ComPtr<IMediaEventEx> events = mediaEvent_;
    if (!events)
        return;
    int32_t code = 0;
    intptr_t param1 = 0;
    intptr_t param2 = 0;
    // A handler that releases the graph (a lost camera, a failed recording)
    // ends the draining: what the released graph still had to tell (the
    // stream errors that follow a failure) concerns no graph of ours any more.
    while (mediaEvent_.Get() == events.Get() &&
           events->GetEvent(&code, &param1, &param2, 0) == S_OK) {
        try {
            DispatchEvent(code, param1, param2);
        } catch (...) {
            events->FreeEventParams(code, param1, param2);
            throw;
        }
        events->FreeEventParams(code, param1, param2);
    }
}

void TFilterGraph::DispatchEvent(int32_t code, intptr_t param1, intptr_t param2) {
    for (IGraphEventSink* sink : Snapshot(sinks_))
        sink->OnGraphEvent(code, param1, param2);
    if (OnDSEvent)
        OnDSEvent(this, code, param1, param2);
    const TGraphEventHandler* handler = nullptr;
    switch (code) {
        case 1:
            handler = &OnGraphComplete;
            break;
        case 2:
            handler = &OnGraphUserAbort;
            break;
        case 3:
            handler = &OnGraphErrorAbort;
            break;
        case 6:
            handler = &OnGraphStreamErrorStopped;
            break;
        case 7:
            handler = &OnGraphStreamErrorStillPlaying;
            break;
        case 8:
            handler = &OnGraphErrorStillPlaying;
            break;
        case 9:
            handler = &OnGraphPaletteChanged;
            break;
        case 10:
            handler = &OnGraphVideoSizeChanged;
            break;
        case 11:
            handler = &OnGraphQualityChange;
            break;
        case 13:
            handler = &OnGraphClockChanged;
            break;
        case 14:
            handler = &OnGraphPaused;
            break;
        case 16:
            handler = &OnGraphOpeningFile;
            break;
        case 17:
            handler = &OnGraphBufferingData;
            break;
        case 18:
            handler = &OnGraphFullscreenLost;
            break;
        case 24:
            handler = &OnGraphOleEvent;
            break;
        case 26:
            handler = &OnGraphStreamControlStopped;
            break;
        case 27:
            handler = &OnGraphStreamControlStarted;
            break;
        case 28:
            handler = &OnGraphEndOfSegment;
            break;
        case 31:
            handler = &OnGraphDeviceLost;
            break;
        case 36:
            handler = &OnGraphStepComplete;
            break;
        case 48:
            handler = &OnGraphTimeCodeAvailable;
            break;
        case 49:
            handler = &OnGraphEXTDeviceModeChange;
            break;
        case 80:
            handler = &OnGraphChanged;
            break;
        case 81:
            handler = &OnGraphClockUnset;
            break;
        case 83:
            handler = &OnGraphVMRRenderDevice;
            break;
        case 512:
            handler = &OnGraphSNDDevInError;
            break;
        case 513:
            handler = &OnGraphSNDDevOutError;
            break;
        default:
            break;
    }
    if (handler && *handler) {
        (*handler)(this, param1, param2);
        return;
    }
    auto it = EventHandlers.find(code);
    if (it != EventHandlers.end() && it->second)
        it->second(this, param1, param2);
}

// ---------------------------------------------------------------------------
// Registration for inspection
// ---------------------------------------------------------------------------

QString GraphInspectionName(const void* graph) {
    char name[96];
    std::snprintf(name, sizeof name, "FilterGraph %08" PRIXPTR " pid %X",
                  reinterpret_cast<uintptr_t>(graph), unsigned(::getpid()));
    return QString::fromLatin1(name);
}

HRESULT RegisterGraphForInspection(IUnknown* graph, uint32_t* cookie) {
    ComPtr<IRunningObjectTable> table;
    HRESULT hr = GetRunningObjectTable(table.Put());
    if (FAILED(hr))
        return hr;
    if (!table)
        return E_FAIL;
    ComPtr<IMoniker> moniker;
    hr = CreateItemMoniker(u"!", GraphInspectionName(graph).toStdU16String(), moniker.Put());
    if (SUCCEEDED(hr))
        hr = table->Register(0, graph, moniker.Get(), cookie);
    return hr;
}

HRESULT UnregisterGraphForInspection(uint32_t cookie) {
    ComPtr<IRunningObjectTable> table;
    HRESULT hr = GetRunningObjectTable(table.Put());
    if (FAILED(hr))
        return hr;
    if (!table)
        return E_FAIL;
    return table->Revoke(cookie);
}

}  // namespace media
