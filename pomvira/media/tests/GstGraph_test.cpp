// SPDX-License-Identifier: GPL-3.0-or-later
// The GStreamer boundary end to end: device enumeration with the built-in
// test devices, capture pin formats, graphs that preview and record, events.
// Recordings are checked with ffprobe and by reading the AVI's RIFF chunks.
#include <QElapsedTimer>
#include <QFile>
#include <QTemporaryDir>
#include <QTemporaryFile>
#include <gmock/gmock.h>
#include <gst/gst.h>
#include <gtest/gtest.h>

#include <cstdlib>

#include "AviProbe.h"
#include "media/tests/GstGraphTesting.h"
#include "media/gst/BinFilter.h"
#include "media/gst/GstMediaSystem.h"
#include "media/testdevices/TestDevices.h"
#include "media/testdevices/TestRig.h"

using namespace media;
using namespace media::gst;
using namespace gst_graph_testing;
using ::testing::Contains;
using ::testing::Not;

namespace {

// A pass-through that takes only BGR, as a frame grabber does.
class BgrPassThrough : public BinFilter {
  public:
    BgrPassThrough()
        : BinFilter(MakeGuid(0x1234, 0, 0, 0, 0, 0, 0, 0, 0, 0, 2), gst_bin_new(nullptr)) {
        GstElement* f = gst_element_factory_make("capsfilter", nullptr);
        CapsRef caps = CapsRef::Adopt(gst_caps_from_string("video/x-raw,format=BGR"));
        g_object_set(f, "caps", caps.Get(), nullptr);
        gst_bin_add(GST_BIN(Bin()), f);
        ExposePad(gst_element_get_static_pad(f, "sink"), u"Input");
        ExposePad(gst_element_get_static_pad(f, "src"), u"Output");
    }
};

// A finite source: ends the stream after a few frames.
class FiniteSource : public BinFilter {
  public:
    FiniteSource()
        : BinFilter(MakeGuid(0x1234, 0, 0, 0, 0, 0, 0, 0, 0, 0, 3), gst_bin_new(nullptr)) {
        GstElement* src = gst_element_factory_make("videotestsrc", nullptr);
        g_object_set(src, "num-buffers", 3, nullptr);
        gst_bin_add(GST_BIN(Bin()), src);
        ExposePad(gst_element_get_static_pad(src, "src"), u"Output");
    }
};

ComPtr<IPin> PinOf(IBaseFilter* f, const char16_t* name) {
    ComPtr<IPin> pin;
    EXPECT_EQ(f->FindPin(name, pin.Put()), S_OK);
    return pin;
}

TMediaType TypeOf(const char* caps) {
    TMediaType mt;
    CapsRef c = CapsRef::Adopt(gst_caps_from_string(caps));
    EXPECT_TRUE(MediaTypeFromCaps(c.Get(), &mt));
    return mt;
}

std::vector<std::string> FilterNames(IFilterGraph* graph) {
    std::vector<std::string> names;
    ComPtr<IEnumFilters> e;
    graph->EnumFilters(e.Put());
    IBaseFilter* f = nullptr;
    while (e->Next(1, &f, nullptr) == S_OK) {
        FILTER_INFO info{};
        f->QueryFilterInfo(&info);
        names.push_back(ToUtf8(info.achName));
        if (info.pGraph)
            info.pGraph->Release();
        f->Release();
    }
    return names;
}

class GstGraph : public ::testing::Test {
  protected:
    static void SetUpTestSuite() {
        setenv("POMVIRA_TEST_DEVICES", "2", 1);
        // Graph dumps of registered graphs land here (read at initialisation).
        dotDir_ = new QTemporaryDir;
        setenv("GST_DEBUG_DUMP_DOT_DIR", dotDir_->path().toLocal8Bit().constData(), 1);
        SetMediaSystem(GstMediaSystem());
        InstallTestRig();
    }

    static void TearDownTestSuite() {
        delete dotDir_;
        dotDir_ = nullptr;
    }

    void SetUp() override {
        graph_ = Create<IGraphBuilder>(CLSID_FilterGraph);
        builder_ = Create<ICaptureGraphBuilder2>(CLSID_CaptureGraphBuilder2);
        ASSERT_EQ(builder_->SetFiltergraph(graph_.Get()), S_OK);
        control_ = QueryAs<IMediaControl>(graph_.Get());
        ASSERT_TRUE(control_);
    }

    void TearDown() override {
        if (control_)
            control_->Stop();
    }

    ComPtr<IBaseFilter> AddCamera(const char* name = "Test Camera 1") {
        ComPtr<IBaseFilter> cam = Bind(CLSID_VideoInputDeviceCategory, name);
        EXPECT_EQ(graph_->AddFilter(cam.Get(), u"VideoSourceFilter"), S_OK);
        return cam;
    }
    ComPtr<IBaseFilter> AddMicrophone() {
        ComPtr<IBaseFilter> mic = Bind(CLSID_AudioInputDeviceCategory, "Test Microphone");
        EXPECT_EQ(graph_->AddFilter(mic.Get(), u"AudioSourceFilter"), S_OK);
        return mic;
    }
    // A filter of the test's own (a sink, a source, a pass-through), added
    // under `name`; the test keeps it as long as it runs.
    template <class F>
    F* Add(const char16_t* name) {
        auto* filter = new F;
        own_.push_back(ComPtr<IBaseFilter>::Attach(filter));
        EXPECT_EQ(graph_->AddFilter(filter, name), S_OK);
        return filter;
    }
    // The AVI multiplexer writing `file` (and its writer, if asked).
    ComPtr<IBaseFilter> AddWriter(const std::string& file,
                                  ComPtr<IFileSinkFilter>* writer = nullptr) {
        ComPtr<IBaseFilter> mux;
        EXPECT_EQ(builder_->SetOutputFileName(MEDIASUBTYPE_Avi, FromUtf8(file.c_str()), mux.Put(),
                                              writer ? writer->Put() : nullptr),
                  S_OK);
        return mux;
    }
    // The codes of the events in the graph's queue, taken off it; `abort`
    // gets the reason of an abort.
    std::vector<int32_t> TakeEvents(intptr_t* abort = nullptr) {
        auto events = QueryAs<IMediaEventEx>(graph_.Get());
        std::vector<int32_t> codes;
        int32_t code;
        intptr_t p1, p2;
        while (events->GetEvent(&code, &p1, &p2, 0) == S_OK) {
            codes.push_back(code);
            if (code == EC_ERRORABORT && abort)
                *abort = p1;
            events->FreeEventParams(code, p1, p2);
        }
        return codes;
    }

    // The graph logs into a file of the test's own from now on; LogText()
    // ends that and gives what it logged.
    void StartLog() {
        ASSERT_TRUE(log_.open());
        ASSERT_EQ(graph_->SetLogFile(log_.handle()), S_OK);
    }
    QByteArray LogText() {
        EXPECT_EQ(graph_->SetLogFile(-1), S_OK);
        QFile written(log_.fileName());
        return written.open(QIODevice::ReadOnly) ? written.readAll() : QByteArray();
    }

    static QTemporaryDir* dotDir_;
    ComPtr<IGraphBuilder> graph_;
    ComPtr<ICaptureGraphBuilder2> builder_;
    ComPtr<IMediaControl> control_;
    std::vector<ComPtr<IBaseFilter>> own_;
    QTemporaryDir dir_;
    QTemporaryFile log_;
};

QTemporaryDir* GstGraph::dotDir_ = nullptr;

}  // namespace

TEST_F(GstGraph, CategoriesListTestDevicesAndCompressors) {
    std::vector<Entry> cams = List(CLSID_VideoInputDeviceCategory);
    ASSERT_EQ(cams.size(), 2u);
    EXPECT_EQ(cams[0].name, "Test Camera 1");
    EXPECT_EQ(cams[1].name, "Test Camera 2");
    EXPECT_EQ(cams[0].clsid, cams[1].clsid);  // same provider

    std::vector<Entry> mics = List(CLSID_AudioInputDeviceCategory);
    ASSERT_EQ(mics.size(), 1u);
    EXPECT_EQ(mics[0].name, "Test Microphone");

    std::vector<Entry> vcomp = List(CLSID_VideoCompressorCategory);
    std::vector<Entry> acomp = List(CLSID_AudioCompressorCategory);
    EXPECT_FALSE(vcomp.empty());
    EXPECT_FALSE(acomp.empty());
    bool jpeg = false;
    for (const Entry& e : vcomp)
        jpeg = jpeg || e.name == "JPEG image encoder";
    EXPECT_TRUE(jpeg);
    // The same order every time.
    std::vector<Entry> again = List(CLSID_VideoCompressorCategory);
    ASSERT_EQ(again.size(), vcomp.size());
    for (size_t i = 0; i < vcomp.size(); ++i)
        EXPECT_EQ(again[i].name, vcomp[i].name);

    std::vector<Entry> cats = List(CLSID_ActiveMovieCategories);
    ASSERT_EQ(cats.size(), 4u);
    EXPECT_EQ(cats[0].clsid, CLSID_VideoInputDeviceCategory);
    EXPECT_EQ(cats[3].clsid, CLSID_AudioCompressorCategory);

    HRESULT hr = S_OK;
    EXPECT_TRUE(List(MakeGuid(1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11), &hr).empty());
    EXPECT_EQ(hr, S_FALSE);
}

TEST_F(GstGraph, MonikerSurvivesTheStream) {
    std::vector<Entry> cams = List(CLSID_VideoInputDeviceCategory);
    ASSERT_EQ(cams.size(), 2u);
    std::vector<uint8_t> stream;
    ASSERT_EQ(OleSaveToStream(cams[1].moniker.Get(), &stream), S_OK);
    ComPtr<IMoniker> loaded;
    ASSERT_EQ(OleLoadFromStream(stream, IMoniker::IID_, loaded.PutVoid()), S_OK);
    ComPtr<IPropertyBag> bag;
    ASSERT_EQ(loaded->BindToStorage(IPropertyBag::IID_, bag.PutVoid()), S_OK);
    WString name;
    bag->Read(u"FriendlyName", &name);
    EXPECT_EQ(name, u"Test Camera 2");
    ComPtr<IBaseFilter> filter;
    EXPECT_EQ(loaded->BindToObject(IBaseFilter::IID_, filter.PutVoid()), S_OK);
    EXPECT_TRUE(filter);

    // Damaged streams give nothing.
    std::vector<uint8_t> cut(stream.begin(), stream.begin() + 20);
    ComPtr<IMoniker> none;
    EXPECT_LT(OleLoadFromStream(cut, IMoniker::IID_, none.PutVoid()), 0);
    EXPECT_FALSE(none);
    std::vector<uint8_t> unknown = stream;
    unknown[0] ^= 0xFF;
    EXPECT_EQ(OleLoadFromStream(unknown, IMoniker::IID_, none.PutVoid()), REGDB_E_CLASSNOTREG);
}

TEST_F(GstGraph, CapturePinListsTheCameraFormats) {
    ComPtr<IBaseFilter> cam = Bind(CLSID_VideoInputDeviceCategory, "Test Camera 1");
    ASSERT_TRUE(cam);
    ComPtr<IEnumPins> pins;
    cam->EnumPins(pins.Put());
    IPin* p[2] = {};
    uint32_t n = 0;
    pins->Next(2, p, &n);
    ASSERT_EQ(n, 2u);
    ComPtr<IPin> capture = ComPtr<IPin>::Attach(p[0]), preview = ComPtr<IPin>::Attach(p[1]);
    WString id;
    capture->QueryId(&id);
    EXPECT_EQ(id, u"Capture");
    preview->QueryId(&id);
    EXPECT_EQ(id, u"Preview");

    struct Want {
        GUID subtype;
        int w, h;
    } want[] = {{MEDIASUBTYPE_YUY2, 640, 480},
                {MEDIASUBTYPE_YUY2, 320, 240},
                {MEDIASUBTYPE_YUY2, 1280, 720},
                {MEDIASUBTYPE_I420, 640, 480},
                {MEDIASUBTYPE_MJPG, 640, 480}};
    ComPtr<IEnumMediaTypes> types;
    ASSERT_EQ(capture->EnumMediaTypes(types.Put()), S_OK);
    std::vector<TMediaType> got;
    AM_MEDIA_TYPE* mt = nullptr;
    while (types->Next(1, &mt, nullptr) == S_OK) {
        got.emplace_back(mt);
        DisposeMediaType(mt);
    }
    ASSERT_EQ(got.size(), 5u);
    for (size_t i = 0; i < 5; ++i) {
        SCOPED_TRACE(i);
        EXPECT_EQ(got[i].AMMediaType()->majortype, MEDIATYPE_Video);
        EXPECT_EQ(got[i].AMMediaType()->subtype, want[i].subtype);
        ASSERT_NE(got[i].VideoInfo(), nullptr);
        EXPECT_EQ(got[i].VideoInfo()->bmiHeader.biWidth, want[i].w);
        EXPECT_EQ(got[i].VideoInfo()->bmiHeader.biHeight, want[i].h);
        EXPECT_EQ(got[i].VideoInfo()->AvgTimePerFrame, 333333);
    }

    auto config = QueryAs<IAMStreamConfig>(capture.Get());
    ASSERT_TRUE(config);
    ComPtr<IAMStreamConfig> found;
    ASSERT_EQ(builder_->FindInterface(&PIN_CATEGORY_CAPTURE, &MEDIATYPE_Video, cam.Get(),
                                      IAMStreamConfig::IID_, found.PutVoid()),
              S_OK);
    EXPECT_EQ(found.Get(), config.Get());
    ComPtr<ISpecifyPropertyPages> pages = QueryAs<ISpecifyPropertyPages>(cam.Get());
    ASSERT_TRUE(pages);
    CAUUID list;
    ASSERT_EQ(pages->GetPages(&list), S_OK);
    ASSERT_EQ(list.cElems, 1u);
    EXPECT_EQ(list.pElems[0], CLSID_DeviceControlsPage);
    CoTaskMemFree(list.pElems);
    int32_t count = 0, size = 0;
    EXPECT_EQ(config->GetNumberOfCapabilities(&count, &size), S_OK);
    EXPECT_EQ(count, 5);
    EXPECT_EQ(size, 128);
    AM_MEDIA_TYPE* cur = nullptr;
    ASSERT_EQ(config->GetFormat(&cur), S_OK);
    TMediaType current(cur);
    DisposeMediaType(cur);
    EXPECT_TRUE(SameFormat(*current.AMMediaType(), *got[0].AMMediaType()));
    uint8_t caps[128];
    AM_MEDIA_TYPE* capType = nullptr;
    ASSERT_EQ(config->GetStreamCaps(2, &capType, caps), S_OK);
    EXPECT_TRUE(SameFormat(*capType, *got[2].AMMediaType()));
    DisposeMediaType(capType);
    EXPECT_EQ(config->GetStreamCaps(5, &capType, caps), S_FALSE);

    // An unknown format is refused; a listed one is taken.
    TMediaType odd = TypeOf("video/x-raw,format=YUY2,width=800,height=600,framerate=30/1");
    EXPECT_EQ(config->SetFormat(odd.AMMediaType()), VFW_E_INVALIDMEDIATYPE);
    EXPECT_EQ(config->SetFormat(got[3].AMMediaType()), S_OK);
    ASSERT_EQ(config->GetFormat(&cur), S_OK);
    EXPECT_TRUE(SameFormat(*cur, *got[3].AMMediaType()));
    DisposeMediaType(cur);

    // The microphone's formats, in order.
    ComPtr<IBaseFilter> mic = Bind(CLSID_AudioInputDeviceCategory, "Test Microphone");
    ComPtr<IPin> micPin = PinOf(mic.Get(), u"Capture");
    ComPtr<IEnumMediaTypes> micTypes;
    micPin->EnumMediaTypes(micTypes.Put());
    std::vector<std::pair<uint32_t, uint16_t>> rates;
    while (micTypes->Next(1, &mt, nullptr) == S_OK) {
        TMediaType t(mt);
        DisposeMediaType(mt);
        ASSERT_NE(t.WaveFormat(), nullptr);
        EXPECT_EQ(t.WaveFormat()->wBitsPerSample, 16);
        rates.emplace_back(t.WaveFormat()->nSamplesPerSec, t.WaveFormat()->nChannels);
    }
    std::vector<std::pair<uint32_t, uint16_t>> wantRates = {{44100, 2}, {48000, 2}, {22050, 1}};
    EXPECT_EQ(rates, wantRates);
}

TEST_F(GstGraph, SetFormatChangesWhatTheCameraDelivers) {
    ComPtr<IBaseFilter> cam = AddCamera();
    auto* sink = Add<ProbeSink>(u"Sink");
    auto config = QueryAs<IAMStreamConfig>(PinOf(cam.Get(), u"Capture").Get());
    TMediaType small = TypeOf("video/x-raw,format=YUY2,width=320,height=240,framerate=30/1");
    ASSERT_EQ(config->SetFormat(small.AMMediaType()), S_OK);
    ASSERT_EQ(builder_->RenderStream(&PIN_CATEGORY_CAPTURE, nullptr, cam.Get(), nullptr, sink),
              S_OK);
    ASSERT_GE(control_->Run(), 0);
    ASSERT_TRUE(sink->WaitBuffers(3));
    EXPECT_NE(sink->Caps().find("width=(int)320"), std::string::npos) << sink->Caps();
    EXPECT_NE(sink->Caps().find("YUY2"), std::string::npos) << sink->Caps();

    // While streaming the format stays.
    TMediaType big = TypeOf("video/x-raw,format=YUY2,width=1280,height=720,framerate=30/1");
    EXPECT_EQ(config->SetFormat(big.AMMediaType()), VFW_E_NOT_STOPPED);
    ASSERT_EQ(control_->Stop(), S_OK);

    // Stopped and still connected: MJPG reaches the sink as JPEG.
    TMediaType mjpg = TypeOf("image/jpeg,width=640,height=480,framerate=30/1");
    ASSERT_EQ(config->SetFormat(mjpg.AMMediaType()), S_OK);
    int before = sink->Buffers();
    ASSERT_GE(control_->Run(), 0);
    ASSERT_TRUE(sink->WaitBuffers(before + 3));
    EXPECT_NE(sink->Caps().find("image/jpeg"), std::string::npos) << sink->Caps();

    // The connection reports the format in force.
    AM_MEDIA_TYPE mt{};
    ASSERT_EQ(PinOf(cam.Get(), u"Capture")->ConnectionMediaType(&mt), S_OK);
    EXPECT_EQ(mt.subtype, MEDIASUBTYPE_MJPG);
    ClearMediaType(&mt);
}

// The webcam profile: a 1080p webcam's 45 formats (each size with its own
// rates), the chosen rate delivered as JPEG; back to the default five
// formats after it, also while the provider watches its devices.
TEST_F(GstGraph, WebcamProfileOffersEveryRateAndDeliversTheChosenOne) {
    auto formatCount = [](IBaseFilter* cam) {
        auto config = QueryAs<IAMStreamConfig>(PinOf(cam, u"Capture").Get());
        int32_t count = 0, size = 0;
        EXPECT_EQ(config->GetNumberOfCapabilities(&count, &size), S_OK);
        return count;
    };
    SetTestCameraProfile("webcam");
    {
        ComPtr<IBaseFilter> cam = AddCamera();
        ASSERT_TRUE(cam);
        EXPECT_EQ(formatCount(cam.Get()), 45);
        auto* sink = Add<ProbeSink>(u"Sink");
        auto config = QueryAs<IAMStreamConfig>(PinOf(cam.Get(), u"Capture").Get());
        TMediaType hd10 = TypeOf("image/jpeg,width=1280,height=720,framerate=10/1");
        ASSERT_EQ(config->SetFormat(hd10.AMMediaType()), S_OK);
        ASSERT_EQ(builder_->RenderStream(&PIN_CATEGORY_CAPTURE, nullptr, cam.Get(), nullptr, sink),
                  S_OK);
        ASSERT_GE(control_->Run(), 0);
        ASSERT_TRUE(sink->WaitBuffers(1));
        const int first = sink->Buffers();
        QElapsedTimer timer;
        timer.start();
        Pump(2000);
        const double rate = (sink->Buffers() - first) * 1000.0 / double(timer.elapsed());
        EXPECT_NEAR(rate, 10.0, 2.5);
        EXPECT_NE(sink->Caps().find("image/jpeg"), std::string::npos) << sink->Caps();
        EXPECT_NE(sink->Caps().find("framerate=(fraction)10/1"), std::string::npos) << sink->Caps();
        ASSERT_EQ(control_->Stop(), S_OK);
        graph_->RemoveFilter(sink);
        graph_->RemoveFilter(cam.Get());
    }
    SetTestCameraProfile(std::string());
    ComPtr<IBaseFilter> cam = Bind(CLSID_VideoInputDeviceCategory, "Test Camera 1");
    ASSERT_TRUE(cam);
    EXPECT_EQ(formatCount(cam.Get()), 5);
}

TEST_F(GstGraph, PreviewChainRunsThroughConvertersAndStops) {
    ComPtr<IBaseFilter> cam = AddCamera();
    AddMicrophone();
    auto* grabber = Add<BgrPassThrough>(u"SampleGrabber");
    auto* sink = Add<ProbeSink>(u"VideoWindow");
    ASSERT_EQ(builder_->RenderStream(&PIN_CATEGORY_PREVIEW, nullptr, cam.Get(), grabber, sink),
              S_OK);
    std::vector<std::string> names = FilterNames(graph_.Get());
    std::vector<std::string> want = {"VideoSourceFilter", "AudioSourceFilter", "SampleGrabber",
                                     "VideoWindow", "Color Space Converter"};
    EXPECT_EQ(names, want);
    // The preview pin is taken now: a second preview chain finds no free output.
    EXPECT_LT(builder_->RenderStream(&PIN_CATEGORY_PREVIEW, nullptr, cam.Get(), grabber, sink), 0);
    EXPECT_EQ(FilterNames(graph_.Get()).size(), want.size());

    for (int round = 0; round < 2; ++round) {
        int before = sink->Buffers();
        ASSERT_GE(control_->Run(), 0);
        ASSERT_TRUE(sink->WaitBuffers(before + 5));
        EXPECT_NE(sink->Caps().find("format=(string)BGR"), std::string::npos) << sink->Caps();
        FILTER_STATE state;
        EXPECT_EQ(control_->GetState(1000, &state), S_OK);
        EXPECT_EQ(state, State_Running);
        ASSERT_EQ(control_->Stop(), S_OK);
        EXPECT_EQ(control_->GetState(1000, &state), S_OK);
        EXPECT_EQ(state, State_Stopped);
    }
    // The unconnected microphone caused no error.
    EXPECT_THAT(TakeEvents(), Not(Contains(EC_ERRORABORT)));

    // Taking the preview apart leaves the filters unconnected.
    ComPtr<IPin> preview = PinOf(cam.Get(), u"Preview");
    ComPtr<IPin> peer;
    ASSERT_EQ(preview->ConnectedTo(peer.Put()), S_OK);
    EXPECT_EQ(graph_->Disconnect(preview.Get()), S_OK);
    EXPECT_EQ(preview->ConnectedTo(peer.Put()), VFW_E_NOT_CONNECTED);
    ComPtr<IBaseFilter> conv;
    ASSERT_EQ(graph_->FindFilterByName(u"Color Space Converter", conv.Put()), S_OK);
    EXPECT_EQ(graph_->RemoveFilter(conv.Get()), S_OK);
    EXPECT_EQ(graph_->FindFilterByName(u"Color Space Converter", conv.Put()), VFW_E_NOT_FOUND);
}

TEST_F(GstGraph, RecordingWritesACompleteAvi) {
    ComPtr<IBaseFilter> cam = AddCamera();
    ComPtr<IBaseFilter> mic = AddMicrophone();
    auto* grabber = Add<BgrPassThrough>(u"SampleGrabber");
    auto* sink = Add<ProbeSink>(u"VideoWindow");
    ASSERT_EQ(builder_->RenderStream(&PIN_CATEGORY_PREVIEW, nullptr, cam.Get(), grabber, sink),
              S_OK);
    ASSERT_GE(control_->Run(), 0);
    ASSERT_TRUE(sink->WaitBuffers(2));
    // The preview alone: frames come on the camera's own streaming thread,
    // no queue hands them over.
    EXPECT_EQ(sink->Thread().find("queue"), std::string::npos) << sink->Thread();
    ASSERT_EQ(control_->Stop(), S_OK);

    std::string file = dir_.filePath("video000001.avi").toStdString();
    ComPtr<IFileSinkFilter> writer;
    ComPtr<IBaseFilter> mux = AddWriter(file, &writer);
    ASSERT_TRUE(mux && writer);
    WString cur;
    EXPECT_EQ(writer->GetCurFile(&cur, nullptr), S_OK);
    EXPECT_EQ(ToUtf8(cur), file);
    // The preview is still connected: nothing changes.
    EXPECT_LT(builder_->RenderStream(&PIN_CATEGORY_PREVIEW, nullptr, cam.Get(), nullptr, sink), 0);
    ASSERT_EQ(builder_->RenderStream(&PIN_CATEGORY_CAPTURE, nullptr, cam.Get(), nullptr, mux.Get()),
              S_OK);
    ASSERT_EQ(builder_->RenderStream(nullptr, nullptr, mic.Get(), nullptr, mux.Get()), S_OK);
    // No free capture output is left.
    EXPECT_LT(builder_->RenderStream(&PIN_CATEGORY_CAPTURE, nullptr, cam.Get(), nullptr, mux.Get()),
              0);

    auto seeking = QueryAs<IMediaSeeking>(graph_.Get());
    QElapsedTimer timer;
    ASSERT_GE(control_->Run(), 0);
    timer.start();
    Pump(2000);
    int64_t position = 0;
    EXPECT_EQ(seeking->GetCurrentPosition(&position), S_OK);
    EXPECT_GT(position, 10000000);  // more than a second, in 100 ns units
    // Recording: the preview runs behind its queue again, beside the capture.
    const int previewed = sink->Buffers();
    EXPECT_TRUE(sink->WaitBuffers(previewed + 2));
    EXPECT_EQ(sink->Thread().rfind("preview-queue", 0), 0u) << sink->Thread();
    double ran = double(timer.elapsed()) / 1000.0;
    ASSERT_EQ(control_->Stop(), S_OK);

    const TAviProbe p = ProbeAvi(QString::fromStdString(file));
    ASSERT_EQ(p.Count("video"), 1) << p.Text().toStdString();
    EXPECT_EQ(p.Count("audio"), 1) << p.Text().toStdString();
    EXPECT_EQ(p.Stream("video")->width, 640) << p.Text().toStdString();
    EXPECT_EQ(p.Stream("video")->height, 480) << p.Text().toStdString();
    EXPECT_NEAR(p.duration, ran, ran * 0.1) << p.Text().toStdString();
    EXPECT_TRUE(p.Complete()) << p.Text().toStdString();
}

// A sink that never receives the end of the stream (an idle renderer) keeps
// the pipeline from announcing its own end; the stop waits for the writer's.
TEST_F(GstGraph, StopWaitsForTheWritersEndOfStreamOnTheBus) {
    ASSERT_NO_FATAL_FAILURE(StartLog());
    ComPtr<IBaseFilter> cam = AddCamera();
    Add<ProbeSink>(u"Idle Renderer");
    std::string file = dir_.filePath("video000002.avi").toStdString();
    ComPtr<IBaseFilter> mux = AddWriter(file);
    ASSERT_EQ(builder_->RenderStream(&PIN_CATEGORY_CAPTURE, nullptr, cam.Get(), nullptr, mux.Get()),
              S_OK);
    ASSERT_GE(control_->Run(), 0);
    Pump(500);
    ASSERT_EQ(control_->Stop(), S_OK);
    const QByteArray text = LogText();
    EXPECT_TRUE(text.contains("end of stream at")) << text.toStdString();
    EXPECT_FALSE(text.contains("no end of stream within the bound")) << text.toStdString();
    const TAviProbe avi = ProbeAvi(QString::fromStdString(file));
    EXPECT_TRUE(avi.Complete()) << avi.Text().toStdString();
}

TEST_F(GstGraph, RecordingThroughACompressor) {
    ComPtr<IBaseFilter> cam = AddCamera();
    ComPtr<IBaseFilter> jpeg = Bind(CLSID_VideoCompressorCategory, "JPEG image encoder");
    ASSERT_TRUE(jpeg);
    std::string file = dir_.filePath("video000002.avi").toStdString();
    ComPtr<IBaseFilter> mux = AddWriter(file);
    ASSERT_EQ(graph_->AddFilter(jpeg.Get(), u"JPEG image encoder"), S_OK);
    ASSERT_EQ(builder_->RenderStream(nullptr, nullptr, cam.Get(), jpeg.Get(), mux.Get()), S_OK);
    EXPECT_LT(builder_->RenderStream(&PIN_CATEGORY_CAPTURE, nullptr, cam.Get(), nullptr, mux.Get()),
              0);
    ComPtr<IBaseFilter> mic = AddMicrophone();
    ComPtr<IBaseFilter> mulaw = Bind(CLSID_AudioCompressorCategory, "Mu Law audio encoder");
    ASSERT_TRUE(mic && mulaw);
    ASSERT_EQ(graph_->AddFilter(mulaw.Get(), u"Mu Law audio encoder"), S_OK);
    ASSERT_EQ(builder_->RenderStream(nullptr, nullptr, mic.Get(), mulaw.Get(), mux.Get()), S_OK);
    ASSERT_GE(control_->Run(), 0);
    Pump(1200);
    // Releasing the graph while it records still completes the file.
    control_ = nullptr;
    builder_ = nullptr;
    graph_ = nullptr;
    mux = nullptr;
    const TAviProbe p = ProbeAvi(QString::fromStdString(file));
    ASSERT_EQ(p.Count("video"), 1) << p.Text().toStdString();
    ASSERT_EQ(p.Count("audio"), 1) << p.Text().toStdString();
    EXPECT_EQ(p.Stream("video")->codec, "mjpeg") << p.Text().toStdString();
    EXPECT_EQ(p.Stream("audio")->codec, "pcm_mulaw") << p.Text().toStdString();
    EXPECT_TRUE(p.Complete()) << p.Text().toStdString();
}

// A source that cannot open what it reads from.
class BrokenSource : public BinFilter {
  public:
    BrokenSource()
        : BinFilter(MakeGuid(0x1234, 0, 0, 0, 0, 0, 0, 0, 0, 0, 4), gst_bin_new(nullptr)) {
        GstElement* src = gst_element_factory_make("filesrc", nullptr);
        g_object_set(src, "location", "/nonexistent/pomvira-camera", nullptr);
        gst_bin_add(GST_BIN(Bin()), src);
        ExposePad(gst_element_get_static_pad(src, "src"), u"Output");
    }
};

TEST_F(GstGraph, AFailingSourceFailsTheRunAndReportsTheLoss) {
    auto* src = Add<BrokenSource>(u"Source");
    auto* sink = Add<ProbeSink>(u"Sink");
    ASSERT_EQ(graph_->ConnectDirect(PinOf(src, u"Output").Get(), PinOf(sink, u"In").Get(), nullptr),
              S_OK);
    EXPECT_EQ(control_->Run(), VFW_E_NO_CAPTURE_HARDWARE);
    FILTER_STATE state;
    control_->GetState(1000, &state);
    EXPECT_EQ(state, State_Stopped);
    intptr_t abort = 0;
    EXPECT_EQ(TakeEvents(&abort), (std::vector<int32_t>{EC_DEVICE_LOST, EC_ERRORABORT}));
    EXPECT_EQ(abort, VFW_E_NO_CAPTURE_HARDWARE);
    char text[256];
    EXPECT_GT(AMGetErrorText(VFW_E_NO_CAPTURE_HARDWARE, text, sizeof text), 0u);
}

TEST_F(GstGraph, ASourceAddedToARunningGraphIdlesUntilConnected) {
    ComPtr<IBaseFilter> cam = AddCamera();
    auto* sink = Add<ProbeSink>(u"VideoWindow");
    ASSERT_EQ(builder_->RenderStream(&PIN_CATEGORY_PREVIEW, nullptr, cam.Get(), nullptr, sink),
              S_OK);
    ASSERT_GE(control_->Run(), 0);
    ASSERT_TRUE(sink->WaitBuffers(2));
    // The microphone joins the running graph unconnected: no error follows.
    ComPtr<IBaseFilter> mic = AddMicrophone();
    auto* audioSink = Add<ProbeSink>(u"AudioSink");
    int before = sink->Buffers();
    ASSERT_TRUE(sink->WaitBuffers(before + 5));
    // Connected while running, it streams at once.
    ASSERT_EQ(builder_->RenderStream(nullptr, &MEDIATYPE_Audio, mic.Get(), nullptr, audioSink),
              S_OK);
    ASSERT_TRUE(audioSink->WaitBuffers(3));
    EXPECT_NE(audioSink->Caps().find("rate=(int)44100"), std::string::npos) << audioSink->Caps();
    EXPECT_THAT(TakeEvents(), Not(Contains(EC_ERRORABORT)));
}

namespace {

class Receiver : public QObject {
  public:
    bool event(QEvent* e) override {
        if (e->type() == WindowMessageEvent::TypeId()) {
            auto* m = static_cast<WindowMessageEvent*>(e);
            messages.push_back(m->message);
            instance = m->lparam;
            return true;
        }
        return QObject::event(e);
    }
    std::vector<uint32_t> messages;
    intptr_t instance = 0;
};

}  // namespace

TEST_F(GstGraph, EndOfStreamIsAnnouncedToTheNotifyWindow) {
    auto* src = Add<FiniteSource>(u"Source");
    auto* sink = Add<ProbeSink>(u"Sink");
    ASSERT_EQ(graph_->Connect(PinOf(src, u"Output").Get(), PinOf(sink, u"In").Get()), S_OK);

    Receiver window;
    auto events = QueryAs<IMediaEventEx>(graph_.Get());
    ASSERT_EQ(events->SetNotifyWindow(&window, 0x8001, 77), S_OK);
    ASSERT_EQ(events->SetNotifyFlags(0), S_OK);
    ASSERT_NO_FATAL_FAILURE(StartLog());
    ASSERT_GE(control_->Run(), 0);
    int32_t code = 0;
    intptr_t p1 = 0, p2 = 0;
    ASSERT_EQ(events->GetEvent(&code, &p1, &p2, 5000), S_OK);
    EXPECT_EQ(code, EC_COMPLETE);
    events->FreeEventParams(code, p1, p2);
    EXPECT_EQ(events->GetEvent(&code, &p1, &p2, 0), E_ABORT);
    Pump(100);
    ASSERT_FALSE(window.messages.empty());
    EXPECT_EQ(window.messages[0], 0x8001u);
    EXPECT_EQ(window.instance, 77);
    EXPECT_EQ(sink->Buffers(), 3);

    const QByteArray log = LogText();
    EXPECT_TRUE(log.contains("end of stream")) << log.toStdString();
    EXPECT_TRUE(log.contains("state")) << log.toStdString();

    // Notices off: events queue but nothing is posted.
    events->SetNotifyFlags(1);
    control_->Stop();
    window.messages.clear();
    ASSERT_GE(control_->Run(), 0);
    ASSERT_EQ(events->GetEvent(&code, &p1, &p2, 5000), S_OK);
    Pump(50);
    EXPECT_TRUE(window.messages.empty());
    events->SetNotifyWindow(nullptr, 0, 0);
}

TEST_F(GstGraph, FilterNamesAreUniqueAndRunningObjectsAreFound) {
    auto* a = Add<ProbeSink>(u"Sink");
    Add<ProbeSink>(u"Sink");
    EXPECT_EQ(graph_->AddFilter(a, u"Again"), VFW_E_DUPLICATE_NAME);
    std::vector<std::string> want = {"Sink", "Sink 0001"};
    EXPECT_EQ(FilterNames(graph_.Get()), want);
    EXPECT_EQ(graph_->RemoveFilter(a), S_OK);
    EXPECT_EQ(graph_->RemoveFilter(a), VFW_E_NOT_FOUND);
    FILTER_INFO info{};
    a->QueryFilterInfo(&info);
    EXPECT_EQ(info.pGraph, nullptr);

    ComPtr<IRunningObjectTable> rot;
    ASSERT_EQ(GetRunningObjectTable(rot.Put()), S_OK);
    ComPtr<IMoniker> item;
    ASSERT_EQ(CreateItemMoniker(u"!", u"FilterGraph 00001234 pid 1A", item.Put()), S_OK);
    WString display;
    item->GetDisplayName(&display);
    EXPECT_EQ(display, u"!FilterGraph 00001234 pid 1A");
    uint32_t cookie = 0;
    ASSERT_EQ(rot->Register(0, graph_.Get(), item.Get(), &cookie), S_OK);
    ComPtr<IUnknown> found;
    ASSERT_EQ(rot->GetObjectByName(u"!FilterGraph 00001234 pid 1A", found.Put()), S_OK);
    EXPECT_EQ(found.Get(), QueryAs<IUnknown>(graph_.Get()).Get());
    // Registered, the graph is dumped under its item name.
    EXPECT_TRUE(QFile::exists(dotDir_->filePath("FilterGraph 00001234 pid 1A.dot")));
    EXPECT_EQ(rot->Revoke(cookie), S_OK);
    EXPECT_EQ(rot->GetObjectByName(u"!FilterGraph 00001234 pid 1A", found.Put()), MK_E_UNAVAILABLE);
    EXPECT_EQ(rot->Revoke(cookie), E_INVALIDARG);
}
