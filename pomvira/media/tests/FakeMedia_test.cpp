// SPDX-License-Identifier: GPL-3.0-or-later
// The fake boundary itself: the behaviour other tests rely on (graph
// building through the capture graph builder, stream configuration, the
// scripted frame grabber and renderer, scripted results).
#include <gtest/gtest.h>

#include <QWidget>

#include "media/MediaUtil.h"
#include "media/fake/FakeMedia.h"

using namespace media;
using namespace media::fake;

namespace {

template <class I>
ComPtr<I> Create(const CLSID& clsid) {
    ComPtr<I> r;
    EXPECT_EQ(CoCreateInstance(clsid, I::IID_, r.PutVoid()), S_OK);
    return r;
}

class CountingCallback : public ComObject<ISampleGrabberCB> {
  public:
    HRESULT SampleCB(double, IMediaSample*) override { return S_OK; }
    HRESULT BufferCB(double time, uint8_t* buffer, int32_t length) override {
        lastTime = time;
        bytes.assign(buffer, buffer + length);
        return S_OK;
    }
    double lastTime = 0;
    std::vector<uint8_t> bytes;
};

}  // namespace

TEST(FakeMedia, PreviewChainThroughTheBuilder) {
    FakeMediaSystem sys;
    sys.AddVideoDevice("Cam", {VideoFormat(MEDIASUBTYPE_YUY2, 640, 480, 16),
                               VideoFormat(MEDIASUBTYPE_YUY2, 320, 240, 16)});
    auto graph = Create<IFilterGraph2>(CLSID_FilterGraph);
    auto builder = Create<ICaptureGraphBuilder2>(CLSID_CaptureGraphBuilder2);
    builder->SetFiltergraph(graph.Get());
    ComPtr<IBaseFilter> camera = TSysDevEnum(CLSID_VideoInputDeviceCategory).CreateDevice(0);
    auto grabber = Create<IBaseFilter>(CLSID_SampleGrabber);
    auto renderer = Create<IBaseFilter>(CLSID_VideoRenderer);
    graph->AddFilter(camera.Get(), u"VideoSourceFilter");
    graph->AddFilter(grabber.Get(), u"SampleGrabber");

    // The capture pin's format is set before building.
    ComPtr<IAMStreamConfig> config;
    ASSERT_EQ(builder->FindInterface(&PIN_CATEGORY_CAPTURE, &MEDIATYPE_Video, camera.Get(),
                                     IAMStreamConfig::IID_, config.PutVoid()),
              S_OK);
    const TMediaType small = VideoFormat(MEDIASUBTYPE_YUY2, 320, 240, 16);
    EXPECT_EQ(config->SetFormat(small.AMMediaType()), S_OK);
    EXPECT_EQ(config->SetFormat(VideoFormat(MEDIASUBTYPE_RGB24, 1, 1, 24).AMMediaType()),
              VFW_E_INVALIDMEDIATYPE);
    AM_MEDIA_TYPE* current = nullptr;
    ASSERT_EQ(config->GetFormat(&current), S_OK);
    EXPECT_EQ(DescribeMediaType(current), small.Description());
    DisposeMediaType(current);

    ASSERT_EQ(builder->RenderStream(&PIN_CATEGORY_PREVIEW, &MEDIATYPE_Video, camera.Get(),
                                    grabber.Get(), renderer.Get()),
              S_OK)
        << sys.Log().Text();
    EXPECT_TRUE(sys.Log().InOrder(
        {"Builder.RenderStream(PREVIEW, Filter[Cam], Filter[Grabber], Filter[Renderer])",
         "Graph.AddFilter(Renderer)", "Pin[Cam/Preview].Connect(Pin[Grabber/Input])",
         "Pin[Grabber/Output].Connect(Pin[Renderer/Input])"}))
        << sys.Log().Text();
    EXPECT_TRUE(TPinList(renderer.Get()).IsPinConnected(0));
    EXPECT_FALSE(TPinList(camera.Get()).IsPinConnected(0));  // capture pin still free
    // The connection carries the format in force.
    AM_MEDIA_TYPE connected;
    ASSERT_EQ(TPinList(grabber.Get()).FirstPin()->ConnectionMediaType(&connected), S_OK);
    EXPECT_EQ(DescribeMediaType(&connected), small.Description());
    ClearMediaType(&connected);
    // Building again finds no free preview pin.
    EXPECT_EQ(builder->RenderStream(&PIN_CATEGORY_PREVIEW, nullptr, camera.Get(), grabber.Get(),
                                    renderer.Get()),
              E_FAIL);

    // Recording: multiplexer and writer join the graph, connected.
    ComPtr<IBaseFilter> mux;
    ComPtr<IFileSinkFilter> sink;
    ASSERT_EQ(
        builder->SetOutputFileName(MEDIASUBTYPE_Avi, u"/v/video000001.avi", mux.Put(), sink.Put()),
        S_OK);
    WString file;
    sink->GetCurFile(&file, nullptr);
    EXPECT_EQ(file, u"/v/video000001.avi");
    EXPECT_EQ(builder->RenderStream(&PIN_CATEGORY_CAPTURE, &MEDIATYPE_Video, camera.Get(), nullptr,
                                    mux.Get()),
              S_OK);
    EXPECT_TRUE(sys.Log().Contains("Pin[Cam/Capture].Connect(Pin[AVI Mux/Input 01])"));
    auto* fakeGraph = sys.Graph();
    EXPECT_EQ(fakeGraph->FilterNames(),
              (std::vector<std::string>{"VideoSourceFilter", "SampleGrabber", "Renderer", "AVI Mux",
                                        "File Writer"}));
}

TEST(FakeMedia, ScriptedGrabber) {
    FakeMediaSystem sys;
    auto grabberFilter = Create<IBaseFilter>(CLSID_SampleGrabber);
    auto grabber = QueryAs<ISampleGrabber>(grabberFilter.Get());
    ASSERT_TRUE(grabber);
    AM_MEDIA_TYPE mt;
    EXPECT_EQ(grabber->GetConnectedMediaType(&mt), VFW_E_NOT_CONNECTED);
    int32_t size = 0;
    EXPECT_EQ(grabber->GetCurrentBuffer(&size, nullptr), VFW_E_WRONG_STATE);

    sys.SampleGrabber()->ConnectedType() = VideoFormat(MEDIASUBTYPE_RGB24, 4, 2, 24);
    sys.SampleGrabber()->Buffer() = std::vector<uint8_t>(24, 7);
    ASSERT_EQ(grabber->GetConnectedMediaType(&mt), S_OK);
    EXPECT_EQ(mt.cbFormat, 88u);
    ClearMediaType(&mt);
    ASSERT_EQ(grabber->GetCurrentBuffer(&size, nullptr), S_OK);
    EXPECT_EQ(size, 24);
    std::vector<uint8_t> pixels(10);
    size = 10;
    ASSERT_EQ(grabber->GetCurrentBuffer(&size, pixels.data()), S_OK);
    EXPECT_EQ(size, 10);
    EXPECT_EQ(pixels, std::vector<uint8_t>(10, 7));

    CountingCallback callback;
    grabber->SetCallback(&callback, 1);
    EXPECT_EQ(sys.SampleGrabber()->DeliverBuffer(1.5, {1, 2, 3}), S_OK);
    EXPECT_EQ(callback.bytes, (std::vector<uint8_t>{1, 2, 3}));
    grabber->SetCallback(nullptr, 1);
    EXPECT_TRUE(sys.Log().InOrder({"Grabber.GetConnectedMediaType",
                                   "Grabber.GetCurrentBuffer(null)", "Grabber.GetCurrentBuffer(10)",
                                   "Grabber.SetCallback(set, 1)", "Grabber.SetCallback(null, 1)"}))
        << sys.Log().Text();

    // Defaults apply to grabbers created later.
    sys.GrabberDefaults().connectedType = VideoFormat(MEDIASUBTYPE_RGB24, 8, 8, 24);
    auto second = QueryAs<ISampleGrabber>(Create<IBaseFilter>(CLSID_SampleGrabber).Get());
    ASSERT_EQ(second->GetConnectedMediaType(&mt), S_OK);
    ClearMediaType(&mt);
}

TEST(FakeMedia, RendererWindowAndScriptedResults) {
    FakeMediaSystem sys;
    QWidget owner;
    owner.setObjectName("ViewForm");
    auto renderer = Create<IBaseFilter>(CLSID_VideoRenderer);
    auto window = QueryAs<IVideoWindow>(renderer.Get());
    ASSERT_TRUE(window);
    window->put_Owner(&owner);
    window->put_WindowStyle(WS_CHILD | WS_CLIPSIBLINGS);
    window->SetWindowPosition(16, 32, 665, 537);
    window->put_Visible(-1);
    EXPECT_EQ(sys.Renderer()->Owner(), &owner);
    EXPECT_EQ(sys.Renderer()->Position().right, 16 + 665);
    EXPECT_TRUE(sys.Log().InOrder(
        {"Renderer.put_Owner(ViewForm)", "Renderer.put_WindowStyle(0x44000000)",
         "Renderer.SetWindowPosition(16, 32, 665, 537)", "Renderer.put_Visible(-1)"}));

    sys.SetResult("Renderer.put_Visible", E_FAIL);
    EXPECT_EQ(window->put_Visible(0), E_FAIL);
    EXPECT_EQ(sys.Renderer()->Visible(), -1) << "a scripted failure has no effect";
    sys.SetResult("*.Disconnect", E_UNEXPECTED);
    EXPECT_EQ(TPinList(renderer.Get()).FirstPin()->Disconnect(), E_UNEXPECTED);
    sys.ClearResults();
    EXPECT_EQ(TPinList(renderer.Get()).FirstPin()->Disconnect(), S_FALSE);

    sys.RendererDefaults().hasVideoWindow = false;
    EXPECT_FALSE(QueryAs<IVideoWindow>(Create<IBaseFilter>(CLSID_VideoRenderer).Get()));
    ComPtr<IBaseFilter> vmr;
    EXPECT_EQ(CoCreateInstance(CLSID_VideoMixingRenderer9, IBaseFilter::IID_, vmr.PutVoid()),
              REGDB_E_CLASSNOTREG);
}
