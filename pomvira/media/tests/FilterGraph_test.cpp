// SPDX-License-Identifier: GPL-3.0-or-later
// The filter graph component against the fake boundary: the call
// orders of activation, deactivation, emptying and membership, running and
// stopping, interface forwarding, inspection registration, events and the
// graph-site callbacks.
#include <gtest/gtest.h>

#include <QCoreApplication>
#include <QFile>
#include <QRegularExpression>
#include <QTemporaryDir>
#include <memory>

#include "media/Filter.h"
#include "media/FilterGraph.h"
#include "media/fake/FakeMedia.h"

using namespace media;
using namespace media::fake;

namespace {

// A member that logs its notifications and owns a plain fake filter.
class LoggingMember : public IGraphMember {
  public:
    LoggingMember(FakeMediaSystem& sys, std::string name, bool withFilter = true)
        : sys_(sys), name_(std::move(name)), withFilter_(withFilter) {}
    IBaseFilter* MemberFilter() override { return filter_.Get(); }
    QString MemberName() override { return QString::fromStdString(name_); }
    void MemberNotify(TMemberStep step, int param) override {
        sys_.Log().Add("Member[" + name_ + "].MemberNotify(" + std::to_string(step) + ", " +
                       std::to_string(param) + ")");
        if (step == msAdding && withFilter_) {
            FakeDevice& device = sys_.AddDevice(GUID{}, name_ + " filter");
            device.pins.push_back({"In", PINDIR_INPUT, {}, false, {}});
            device.pins.push_back({"Out", PINDIR_OUTPUT, {}, false, {}});
            filter_ = ComPtr<IBaseFilter>::Attach(
                static_cast<IBaseFilter*>(sys_.CreateDeviceFilter(device)));
        }
        if (step == msRemoved)
            filter_ = nullptr;
    }

  private:
    FakeMediaSystem& sys_;
    std::string name_;
    bool withFilter_;
    ComPtr<IBaseFilter> filter_;
};

class LoggingSink : public IGraphEventSink {
  public:
    explicit LoggingSink(FakeMediaSystem& sys) : sys_(sys) {}
    void OnGraphEvent(int32_t code, intptr_t p1, intptr_t p2) override {
        sys_.Log().Add("Sink.OnGraphEvent(" + std::to_string(code) + ", " + std::to_string(p1) +
                       ", " + std::to_string(p2) + ")");
    }
    void OnControl(TControlKind kind, int value) override {
        sys_.Log().Add("Sink.OnControl(" + std::to_string(kind) + ", " + std::to_string(value) +
                       ")");
    }

  private:
    FakeMediaSystem& sys_;
};

class FilterGraphTest : public ::testing::Test {
  protected:
    FilterGraphTest() {
        sys.AddVideoDevice("Cam", {VideoFormat(MEDIASUBTYPE_YUY2, 640, 480, 16)});
        sys.AddAudioDevice("Mic", {AudioFormat(44100, 16, 2)});
        graph = std::make_unique<TFilterGraph>();
        graph->setObjectName("CaptureGraph");
        graph->SetMode(gmCapture);
    }
    ~FilterGraphTest() override {
        video.reset();
        audio.reset();
        graph.reset();
    }
    // The camera and microphone as source filters attached to the graph.
    void AddSources() {
        TSysDevEnum devices(CLSID_VideoInputDeviceCategory);
        video = std::make_unique<TFilter>();
        video->setObjectName("VideoSourceFilter");
        video->BaseFilter().StoreMoniker(devices.DeviceMoniker(0).Get());
        video->SetFilterGraph(graph.get());
        devices.SelectCategory(CLSID_AudioInputDeviceCategory);
        audio = std::make_unique<TFilter>();
        audio->setObjectName("AudioSourceFilter");
        audio->BaseFilter().StoreMoniker(devices.DeviceMoniker(0).Get());
        audio->SetFilterGraph(graph.get());
    }
    std::string Trace() const { return "\n" + const_cast<FakeMediaSystem&>(sys).Log().Text(); }

    FakeMediaSystem sys;
    std::unique_ptr<TFilterGraph> graph;
    std::unique_ptr<TFilter> video;
    std::unique_ptr<TFilter> audio;
};

}  // namespace

TEST_F(FilterGraphTest, ActivationOrderInCaptureMode) {
    LoggingMember grabber(sys, "SampleGrabber");
    LoggingSink sink(sys);
    graph->AttachMember(&grabber);
    graph->AttachEventSink(&sink);
    graph->OnActivate = [this](TFilterGraph* sender) {
        EXPECT_EQ(sender, graph.get());
        sys.Log().Add("OnActivate");
    };
    sys.Log().Clear();
    graph->SetActive(true);
    const std::vector<std::string> expected = {
        "System.CoCreateInstance(CaptureGraphBuilder2)",
        "System.CoCreateInstance(FilterGraph)",
        "Builder.SetFiltergraph(Graph)",
        "Graph.SetNotifyFlags(0)",
        "Graph.SetNotifyWindow(window, 0x8001)",
        "Graph.SetSite(site)",
        "Graph.SetSite(site)",
        "Graph.SetLogFile(-1)",
        "Member[SampleGrabber].MemberNotify(0, 0)",
        "Graph.AddFilter(SampleGrabber)",
        "Member[SampleGrabber].MemberNotify(1, 0)",
        "OnActivate",
        "Sink.OnControl(7, 1)",
    };
    EXPECT_TRUE(sys.Log().InOrder(expected)) << Trace();
    EXPECT_TRUE(graph->Active());
    ASSERT_NE(sys.Graph(), nullptr);
    EXPECT_EQ(sys.Graph()->NotifyWindow(), graph->NotifyWindow());
    EXPECT_EQ(sys.Graph()->FilterNames(), std::vector<std::string>{"SampleGrabber"});
    graph->DetachEventSink(&sink);
    graph->SetActive(false);
    graph->DetachMember(&grabber);
}

TEST_F(FilterGraphTest, SourcesJoinByNameAndDeactivationOrder) {
    AddSources();
    LoggingMember grabber(sys, "SampleGrabber");
    LoggingSink sink(sys);
    graph->AttachMember(&grabber);
    graph->AttachEventSink(&sink);
    graph->SetGraphEdit(true);
    graph->SetActive(true);
    EXPECT_EQ(
        sys.Graph()->FilterNames(),
        (std::vector<std::string>{"VideoSourceFilter", "AudioSourceFilter", "SampleGrabber"}));
    EXPECT_TRUE(
        sys.Log().InOrder({"System.OleLoadFromStream", "Moniker[Cam].BindToObject(IBaseFilter)",
                           "Graph.AddFilter(VideoSourceFilter)"}))
        << Trace();
    // Casting the source to IBaseFilter gives the camera's filter now.
    ComPtr<IBaseFilter> camera = video->Get<IBaseFilter>();
    EXPECT_EQ(sys.Graph()->NameOf(camera.Get()), "VideoSourceFilter");
    ASSERT_TRUE(graph->RunGraph());

    sys.Log().Clear();
    graph->SetActive(false);
    const std::vector<std::string> expected = {
        "Sink.OnControl(7, 0)",
        "Filter[Cam].GetState",
        "Filter[Cam].Stop",  // the running camera is stopped before removal
        "Graph.RemoveFilter(VideoSourceFilter)",
        "Filter[Mic].GetState",
        "Filter[Mic].Stop",
        "Graph.RemoveFilter(AudioSourceFilter)",
        "Member[SampleGrabber].MemberNotify(2, 0)",
        "Graph.RemoveFilter(SampleGrabber)",
        "Member[SampleGrabber].MemberNotify(3, 0)",
        "Graph.SetNotifyFlags(1)",
        "ROT.Revoke(1)",
        "Graph.SetLogFile(-1)",
    };
    EXPECT_TRUE(sys.Log().InOrder(expected)) << Trace();
    EXPECT_FALSE(graph->Active());
    EXPECT_EQ(sys.Graph(), nullptr) << "the platform graph is released";
    EXPECT_FALSE(video->Query<IBaseFilter>());
    EXPECT_EQ(graph->Members().size(), 3u) << "members stay in the list";
    graph->DetachMember(&grabber);
    graph->DetachEventSink(&sink);
}

TEST_F(FilterGraphTest, StoppedSourceIsNotStoppedAgainAndMissingDeviceIsOffered) {
    video = std::make_unique<TFilter>();
    video->setObjectName("VideoSourceFilter");
    video->SetFilterGraph(graph.get());  // no device chosen
    graph->SetActive(true);
    EXPECT_TRUE(sys.Log().Contains("Graph.AddFilter(VideoSourceFilter, null)")) << Trace();
    EXPECT_FALSE(video->Query<IBaseFilter>());
    try {
        video->Get<IBaseFilter>();
        FAIL() << "no exception";
    } catch (const EInterfaceNotSupported& e) {
        EXPECT_STREQ(e.what(), "Interface non prise en charge");
    }
    video->BaseFilter().StoreMoniker(
        TSysDevEnum(CLSID_VideoInputDeviceCategory).DeviceMoniker(0).Get());
    sys.Log().Clear();
    video->MemberNotify(msRefresh, 0);
    EXPECT_TRUE(
        sys.Log().InOrder({"Graph.RemoveFilter(null)", "Graph.AddFilter(VideoSourceFilter)"}))
        << Trace();
    sys.Log().Clear();
    graph->SetActive(false);
    EXPECT_TRUE(sys.Log().Contains("Filter[Cam].GetState"));
    EXPECT_FALSE(sys.Log().Contains("Filter[Cam].Stop")) << Trace();
}

TEST_F(FilterGraphTest, RefreshMovesMemberToTheEnd) {
    AddSources();
    graph->SetActive(true);
    sys.Log().Clear();
    video->MemberNotify(msRefresh, 0);
    EXPECT_TRUE(sys.Log().InOrder({"Graph.RemoveFilter(VideoSourceFilter)",
                                   "Moniker[Cam].BindToObject(IBaseFilter)",
                                   "Graph.AddFilter(VideoSourceFilter)"}))
        << Trace();
    EXPECT_EQ(sys.Graph()->FilterNames(),
              (std::vector<std::string>{"AudioSourceFilter", "VideoSourceFilter"}));
    ASSERT_EQ(graph->Members().size(), 2u);
    EXPECT_EQ(graph->Members()[1], static_cast<IGraphMember*>(video.get()));

    // Refreshing while inactive only moves the member.
    graph->SetActive(false);
    sys.Log().Clear();
    audio->MemberNotify(msRefresh, 0);
    EXPECT_EQ(graph->Members()[1], static_cast<IGraphMember*>(audio.get()));
    EXPECT_TRUE(sys.Log().Entries().empty()) << Trace();
}

TEST_F(FilterGraphTest, AttachAndDetachWhileActive) {
    graph->SetActive(true);
    LoggingMember window(sys, "VideoWindow");
    sys.Log().Clear();
    graph->AttachMember(&window);
    EXPECT_TRUE(
        sys.Log().InOrder({"Member[VideoWindow].MemberNotify(0, 0)", "Graph.AddFilter(VideoWindow)",
                           "Member[VideoWindow].MemberNotify(1, 0)"}))
        << Trace();
    EXPECT_TRUE(sys.Graph()->HasFilter("VideoWindow"));
    graph->DetachMember(&window);
    EXPECT_TRUE(sys.Log().InOrder({"Member[VideoWindow].MemberNotify(2, 0)",
                                   "Graph.RemoveFilter(VideoWindow)",
                                   "Member[VideoWindow].MemberNotify(3, 0)"}))
        << Trace();
    EXPECT_FALSE(sys.Graph()->HasFilter("VideoWindow"));
    EXPECT_TRUE(graph->Members().empty());
}

TEST_F(FilterGraphTest, RunAndStop) {
    LoggingSink sink(sys);
    graph->AttachEventSink(&sink);
    // Inactive: false and no notice.
    EXPECT_FALSE(graph->RunGraph());
    EXPECT_FALSE(graph->StopGraph());
    EXPECT_TRUE(sys.Log().Matching("Sink.").empty()) << Trace();

    graph->SetActive(true);
    sys.Log().Clear();
    EXPECT_TRUE(graph->RunGraph());
    EXPECT_TRUE(sys.Log().InOrder({"Sink.OnControl(0, 0)", "Graph.Run"})) << Trace();
    EXPECT_EQ(sys.Graph()->State(), State_Running);
    EXPECT_TRUE(graph->StopGraph());
    EXPECT_TRUE(sys.Log().InOrder({"Sink.OnControl(2, 0)", "Graph.Stop"})) << Trace();
    sys.SetResult("Graph.Stop", S_FALSE);
    EXPECT_FALSE(graph->StopGraph());
    sys.SetResult("Graph.Stop", E_FAIL);
    EXPECT_THROW(graph->StopGraph(), EDirectShowException);
    sys.SetResult("Graph.Run", VFW_E_CANNOT_CONNECT);
    try {
        graph->RunGraph();
        FAIL() << "no exception";
    } catch (const EDirectShowException& e) {
        EXPECT_EQ(e.Result(), VFW_E_CANNOT_CONNECT);
        EXPECT_TRUE(e.Message().endsWith(" ($80040217)."));
    }
    graph->DetachEventSink(&sink);
}

TEST_F(FilterGraphTest, InterfaceRequestsByMode) {
    // Inactive: only the component's own interfaces.
    EXPECT_FALSE(graph->Query<IMediaControl>());
    EXPECT_TRUE(graph->Query<IServiceProvider>());
    EXPECT_TRUE(graph->Query<IAMFilterGraphCallback>());
    EXPECT_TRUE(graph->Query<IAMGraphBuilderCallback>());
    EXPECT_THROW(graph->Get<ICaptureGraphBuilder2>(), EInterfaceNotSupported);

    graph->SetActive(true);
    EXPECT_TRUE(graph->Get<ICaptureGraphBuilder2>());
    EXPECT_TRUE(graph->Get<IGraphBuilder>());
    EXPECT_TRUE(graph->Get<IMediaControl>());
    EXPECT_TRUE(graph->Get<IMediaSeeking>());
    EXPECT_TRUE(graph->Get<IMediaEventEx>());
    EXPECT_FALSE(graph->Query<ISampleGrabber>());

    graph->SetMode(gmNormal);
    EXPECT_TRUE(graph->Active());
    EXPECT_FALSE(graph->Query<ICaptureGraphBuilder2>());
    EXPECT_TRUE(graph->Query<IGraphBuilder>());

    // The DVD builder does not exist here: active, but nothing to forward to.
    sys.Log().Clear();
    graph->SetMode(gmDVD);
    EXPECT_TRUE(sys.Log().Contains("System.CoCreateInstance(DvdGraphBuilder)"));
    EXPECT_TRUE(graph->Active());
    EXPECT_FALSE(graph->Query<IGraphBuilder>());
    EXPECT_FALSE(graph->RunGraph());
    graph->EmptyGraph();  // no manager: nothing
}

TEST_F(FilterGraphTest, ModeChange) {
    AddSources();
    sys.Log().Clear();
    graph->SetMode(gmNormal);  // inactive: only stored
    EXPECT_TRUE(sys.Log().Entries().empty());
    EXPECT_FALSE(graph->Active());

    graph->SetActive(true);
    sys.Log().Clear();
    graph->SetMode(gmCapture);
    EXPECT_TRUE(sys.Log().InOrder(
        {"Graph.RemoveFilter(VideoSourceFilter)", "Graph.RemoveFilter(AudioSourceFilter)",
         "System.CoCreateInstance(CaptureGraphBuilder2)", "Graph.AddFilter(VideoSourceFilter)",
         "Graph.AddFilter(AudioSourceFilter)"}))
        << Trace();
    EXPECT_EQ(graph->Mode(), gmCapture);
    EXPECT_TRUE(graph->Active());
}

TEST_F(FilterGraphTest, GraphEditRegistration) {
    graph->SetGraphEdit(true);  // inactive: nothing registered yet
    EXPECT_TRUE(sys.Log().Matching("ROT.").empty());
    EXPECT_EQ(graph->GraphEditCookie(), 0u);

    graph->SetActive(true);
    ASSERT_EQ(sys.RotEntries().size(), 1u);
    const QString name = QString::fromStdString(sys.RotEntries().begin()->second);
    const QRegularExpression pattern(QStringLiteral("^!FilterGraph [0-9A-F]{8,} pid [0-9A-F]+$"));
    EXPECT_TRUE(pattern.match(name).hasMatch()) << name.toStdString();
    EXPECT_TRUE(name.endsWith(QString::number(QCoreApplication::applicationPid(), 16).toUpper()));
    EXPECT_NE(graph->GraphEditCookie(), 0u);

    graph->SetGraphEdit(false);
    EXPECT_TRUE(sys.RotEntries().empty());
    EXPECT_EQ(graph->GraphEditCookie(), 0u);
    graph->SetGraphEdit(true);  // active: registers at once
    EXPECT_EQ(sys.RotEntries().size(), 1u);
    graph->SetActive(false);  // deactivation always revokes
    EXPECT_TRUE(sys.RotEntries().empty());
    EXPECT_TRUE(graph->GraphEdit());
}

TEST_F(FilterGraphTest, InspectionName) {
    EXPECT_TRUE(
        GraphInspectionName(reinterpret_cast<void*>(0xAB)).startsWith("FilterGraph 000000AB pid "));
}

TEST_F(FilterGraphTest, EmptyGraphKeepsOnlyMembersUnconnected) {
    AddSources();
    LoggingMember grabber(sys, "SampleGrabber");
    graph->AttachMember(&grabber);
    graph->SetActive(true);
    auto builder = graph->Get<ICaptureGraphBuilder2>();
    ComPtr<IBaseFilter> mux;
    QTemporaryDir dir;
    const WString file = dir.filePath(QStringLiteral("x.avi")).toStdU16String();
    ASSERT_EQ(builder->SetOutputFileName(MEDIASUBTYPE_Avi, file, mux.Put(), nullptr), S_OK);
    ASSERT_EQ(
        builder->RenderStream(&PIN_CATEGORY_CAPTURE, &MEDIATYPE_Video,
                              video->Get<IBaseFilter>().Get(), grabber.MemberFilter(), mux.Get()),
        S_OK)
        << Trace();
    ASSERT_EQ(sys.Graph()->Filters().size(), 5u);
    graph->RunGraph();

    sys.Log().Clear();
    graph->EmptyGraph();
    EXPECT_TRUE(sys.Log().InOrder({"Graph.Stop", "Pin[Cam/Capture].Disconnect",
                                   "Pin[AVI Mux/AVI Out].Disconnect", "Graph.RemoveFilter(AVI Mux)",
                                   "Graph.RemoveFilter(File Writer)"}))
        << Trace();
    EXPECT_EQ(
        sys.Graph()->FilterNames(),
        (std::vector<std::string>{"VideoSourceFilter", "AudioSourceFilter", "SampleGrabber"}));
    for (const auto& entry : sys.Graph()->Filters()) {
        TPinList pins(entry.filter.Get());
        for (int i = 0; i < pins.Count(); ++i)
            EXPECT_FALSE(pins.IsPinConnected(i));
    }
    graph->SetActive(false);
    graph->DetachMember(&grabber);
}

TEST_F(FilterGraphTest, EmptyGraphStopsAtFirstFailure) {
    AddSources();
    graph->SetActive(true);
    auto builder = graph->Get<ICaptureGraphBuilder2>();
    ComPtr<IBaseFilter> mux;
    builder->SetOutputFileName(MEDIASUBTYPE_Avi, u"/tmp/x.avi", mux.Put(), nullptr);
    sys.SetResult("Pin[AVI Mux/Input 02].Disconnect", E_FAIL);
    sys.Log().Clear();
    EXPECT_THROW(graph->EmptyGraph(), EDirectShowException);
    EXPECT_TRUE(sys.Log().Matching("Graph.RemoveFilter").empty()) << Trace();
    EXPECT_FALSE(sys.Log().Contains("Pin[AVI Mux/Input 03].Disconnect"));
    EXPECT_EQ(sys.Graph()->Filters().size(), 4u);
}

TEST_F(FilterGraphTest, EventsGoToSinksThenHandlers) {
    LoggingSink sink(sys);
    graph->AttachEventSink(&sink);
    graph->OnDSEvent = [this](TFilterGraph*, int32_t code, intptr_t, intptr_t) {
        sys.Log().Add("OnDSEvent(" + std::to_string(code) + ")");
    };
    graph->OnGraphComplete = [this](TFilterGraph*, intptr_t, intptr_t) {
        sys.Log().Add("OnGraphComplete");
    };
    graph->EventHandlers[270] = [this](TFilterGraph*, intptr_t, intptr_t) {
        sys.Log().Add("OnDVD270");
    };
    graph->SetActive(true);
    EXPECT_EQ(sys.Graph()->NotifyInstance(),
              reinterpret_cast<intptr_t>(graph->Query<IMediaEventEx>().Get()));
    sys.Log().Clear();
    sys.Graph()->PostEvent(EC_COMPLETE, 5, 6);
    sys.Graph()->PostEvent(270);
    QCoreApplication::sendPostedEvents();
    EXPECT_TRUE(sys.Log().InOrder({"Graph.GetEvent", "Sink.OnGraphEvent(1, 5, 6)", "OnDSEvent(1)",
                                   "OnGraphComplete", "Graph.FreeEventParams(1)",
                                   "Sink.OnGraphEvent(270, 0, 0)", "OnDVD270",
                                   "Graph.FreeEventParams(270)"}))
        << Trace();
    EXPECT_EQ(sys.Graph()->PendingEvents(), 0u);

    // A failing handler is reported; its event's parameters are still freed.
    std::string reported;
    SetExceptionReporter([&](const std::exception& e) { reported = e.what(); });
    graph->OnGraphDeviceLost = [](TFilterGraph*, intptr_t, intptr_t) { CheckGraphResult(E_FAIL); };
    sys.Graph()->PostEvent(EC_DEVICE_LOST);
    QCoreApplication::sendPostedEvents();
    EXPECT_EQ(reported, "Unspecified error ($80004005).");
    EXPECT_TRUE(sys.Log().Contains("Graph.FreeEventParams(31)"));
    SetExceptionReporter(nullptr);

    // Notices stop with deactivation.
    graph->SetActive(false);
    graph->DetachEventSink(&sink);
}

TEST_F(FilterGraphTest, SiteCallbacks) {
    AddSources();
    graph->SetActive(true);
    auto provider = graph->Get<IServiceProvider>();
    ComPtr<ITFilterGraphSite> site;
    EXPECT_EQ(provider->QueryService(IID_ITFilterGraphSite, IID_ITFilterGraphSite, site.PutVoid()),
              S_OK);
    ASSERT_TRUE(site);
    EXPECT_EQ(site->Component(), graph.get());
    ComPtr<IUnknown> other;
    EXPECT_EQ(provider->QueryService(IID_ITFilterGraphSite, IUnknown::IID_, other.PutVoid()),
              E_NOINTERFACE);

    // The pin's filter's graph leads back to the component through its site.
    ComPtr<IPin> pin = TPinList(video->Get<IBaseFilter>().Get()).FirstPin();
    auto callback = graph->Get<IAMFilterGraphCallback>();
    EXPECT_EQ(callback->UnableToRender(pin.Get()), S_FALSE);
    graph->OnUnableToRender = [&](TFilterGraph* sender, IPin* p) {
        return sender == graph.get() && p == pin.Get();
    };
    EXPECT_EQ(callback->UnableToRender(pin.Get()), S_OK);
    graph->OnUnableToRender = [](TFilterGraph*, IPin*) { return false; };
    EXPECT_EQ(callback->UnableToRender(pin.Get()), S_FALSE);

    auto builderCallback = graph->Get<IAMGraphBuilderCallback>();
    auto moniker = TSysDevEnum(CLSID_VideoInputDeviceCategory).DeviceMoniker(0);
    EXPECT_EQ(builderCallback->SelectedFilter(moniker.Get()), S_OK);
    QString seen;
    graph->OnSelectedFilter = [&](TFilterGraph*, IMoniker*, const QString& name, const GUID&) {
        seen = name;
        return false;
    };
    EXPECT_EQ(builderCallback->SelectedFilter(moniker.Get()), E_FAIL);
    EXPECT_EQ(seen, "Cam");
    EXPECT_EQ(builderCallback->CreatedFilter(video->Get<IBaseFilter>().Get()), S_OK);
    graph->OnCreatedFilter = [](TFilterGraph*, IBaseFilter*, const GUID&) { return false; };
    EXPECT_EQ(builderCallback->CreatedFilter(video->Get<IBaseFilter>().Get()), E_FAIL);

    // A site that outlives its component answers with the defaults.
    ComPtr<IAMFilterGraphCallback> kept = callback;
    video.reset();
    audio.reset();
    graph.reset();
    EXPECT_EQ(site->Component(), nullptr);
    EXPECT_EQ(kept->UnableToRender(nullptr), S_FALSE);
}

TEST_F(FilterGraphTest, VolumeAndBalance) {
    EXPECT_EQ(graph->Volume(), 10000);
    EXPECT_TRUE(graph->LinearVolume());
    graph->SetActive(true);
    sys.Graph()->SetAudioAvailable(true);
    graph->SetVolume(0);
    EXPECT_EQ(sys.Graph()->VolumeSet(), -10000);
    graph->SetVolume(20000);  // clamped to 10000
    EXPECT_EQ(graph->Volume(), 10000);
    EXPECT_EQ(sys.Graph()->VolumeSet(), 0);
    graph->SetVolume(1000);
    EXPECT_EQ(sys.Graph()->VolumeSet(), -2499);  // round(ln(1001) * 1085.73) - 10000
    graph->SetLinearVolume(false);
    EXPECT_EQ(sys.Graph()->VolumeSet(), -9000);
    graph->SetBalance(-20000);
    EXPECT_EQ(graph->Balance(), -10000);
    EXPECT_EQ(sys.Graph()->BalanceSet(), -10000);
}

TEST_F(FilterGraphTest, LogFile) {
    QTemporaryDir dir;
    const QString first = dir.filePath("graph.log");
    graph->SetLogFile(first);  // inactive: only stored
    EXPECT_FALSE(QFile::exists(first));
    graph->SetActive(true);
    EXPECT_TRUE(QFile::exists(first));
    EXPECT_TRUE(sys.Log().InOrder({"Graph.SetLogFile(-1)", "Graph.SetLogFile(file)"}));
    EXPECT_GE(sys.Graph()->LogFileHandle(), 0);

    // A file that cannot be created leaves logging off and the name unchanged.
    graph->SetLogFile(dir.filePath("missing/dir/graph.log"));
    EXPECT_EQ(graph->LogFile(), first);
    EXPECT_EQ(sys.Graph()->LogFileHandle(), -1);

    graph->SetLogFile(QString());
    EXPECT_EQ(graph->LogFile(), QString());
    graph->SetActive(false);
}

TEST_F(FilterGraphTest, MembersDropDestroyedGraph) {
    AddSources();
    graph->SetActive(true);
    graph.reset();  // deactivates: the sources' filters leave
    EXPECT_EQ(video->FilterGraph(), nullptr);
    EXPECT_FALSE(video->Query<IBaseFilter>());
    EXPECT_EQ(sys.Graph(), nullptr);
    video.reset();  // no detaching from the destroyed graph
}

TEST_F(FilterGraphTest, AutoCreateActivatesAfterLoading) {
    graph->Loaded();
    EXPECT_FALSE(graph->Active());
    graph->SetAutoCreate(true);
    graph->Loaded();
    EXPECT_TRUE(graph->Active());
}
