// SPDX-License-Identifier: GPL-3.0-or-later
// The sample grabber, the video renderer and the property frame as the
// layer reaches them: created by class identifier, placed in a graph behind
// the built-in test camera, run, and asked for their results.
#include <gtest/gtest.h>

#include <QApplication>
#include <QListWidget>
#include <QPushButton>
#include <QTest>
#include <QTimer>
#include <cstdlib>
#include <cstring>
#include <vector>

#include "media/MediaBoundary.h"
#include "media/gst/DeviceControlsPage.h"
#include "media/gst/GstMediaSystem.h"
#include "media/tests/GstTestDevices.h"
#include "media/gst/PropertyFrame.h"
#include "media/gst/RenderingFilters.h"

namespace media::gst {
namespace {

const auto* const kEnvironment = ::testing::AddGlobalTestEnvironment(new GstTestDevices("1"));

template <class I>
ComPtr<I> Create(const CLSID& clsid) {
    ComPtr<I> object;
    EXPECT_EQ(CoCreateInstance(clsid, I::IID_, object.PutVoid()), S_OK);
    return object;
}

ComPtr<IBaseFilter> TestCamera() {
    auto devices = Create<ICreateDevEnum>(CLSID_SystemDeviceEnum);
    ComPtr<IEnumMoniker> monikers;
    if (devices->CreateClassEnumerator(CLSID_VideoInputDeviceCategory, monikers.Put(), 0) != S_OK)
        return nullptr;
    ComPtr<IMoniker> moniker;
    uint32_t fetched = 0;
    if (monikers->Next(1, moniker.Put(), &fetched) != S_OK)
        return nullptr;
    ComPtr<IBaseFilter> camera;
    moniker->BindToObject(IBaseFilter::IID_, camera.PutVoid());
    return camera;
}

AM_MEDIA_TYPE Rgb24Request() {
    AM_MEDIA_TYPE mt{};
    mt.majortype = MEDIATYPE_Video;
    mt.subtype = MEDIASUBTYPE_RGB24;
    mt.formattype = FORMAT_VideoInfo;
    mt.bFixedSizeSamples = -1;
    mt.lSampleSize = 1;
    return mt;
}

TEST(GstRenderingFilters, AreCreatedByClassWithTheirPinsAndInterfaces) {
    auto grabber = Create<IBaseFilter>(CLSID_SampleGrabber);
    ASSERT_TRUE(grabber);
    CLSID clsid{};
    grabber->GetClassID(&clsid);
    EXPECT_EQ(clsid, CLSID_SampleGrabber);
    EXPECT_TRUE(QueryAs<ISampleGrabber>(grabber.Get()));
    ComPtr<IEnumPins> pins;
    ASSERT_EQ(grabber->EnumPins(pins.Put()), S_OK);
    ComPtr<IPin> first, second;
    uint32_t fetched = 0;
    pins->Next(1, first.Put(), &fetched);
    pins->Next(1, second.Put(), &fetched);
    WString id;
    PIN_DIRECTION dir;
    first->QueryId(&id);
    first->QueryDirection(&dir);
    EXPECT_EQ(id, u"Input");
    EXPECT_EQ(dir, PINDIR_INPUT);
    second->QueryId(&id);
    second->QueryDirection(&dir);
    EXPECT_EQ(id, u"Output");
    EXPECT_EQ(dir, PINDIR_OUTPUT);

    auto renderer = Create<IBaseFilter>(CLSID_VideoRenderer);
    ASSERT_TRUE(renderer);
    EXPECT_TRUE(QueryAs<IVideoWindow>(renderer.Get()));
    ComPtr<IPin> input;
    EXPECT_EQ(renderer->FindPin(u"Input", input.Put()), S_OK);
}

TEST(GstRenderingFilters, PreviewChainShowsAndGrabsTheCameraPicture) {
    auto graph = Create<IGraphBuilder>(CLSID_FilterGraph);
    auto builder = Create<ICaptureGraphBuilder2>(CLSID_CaptureGraphBuilder2);
    ASSERT_EQ(builder->SetFiltergraph(graph.Get()), S_OK);
    ComPtr<IBaseFilter> camera = TestCamera();
    ASSERT_TRUE(camera);
    auto grabberFilter = Create<IBaseFilter>(CLSID_SampleGrabber);
    auto rendererFilter = Create<IBaseFilter>(CLSID_VideoRenderer);
    ASSERT_EQ(graph->AddFilter(camera.Get(), u"Camera"), S_OK);
    ASSERT_EQ(graph->AddFilter(grabberFilter.Get(), u"SampleGrabber"), S_OK);
    ASSERT_EQ(graph->AddFilter(rendererFilter.Get(), u"VideoWindow"), S_OK);

    auto grabber = QueryAs<ISampleGrabber>(grabberFilter.Get());
    AM_MEDIA_TYPE request = Rgb24Request();
    grabber->SetMediaType(&request);
    grabber->SetBufferSamples(true);
    int32_t size = 0;
    EXPECT_EQ(grabber->GetCurrentBuffer(&size, nullptr), VFW_E_WRONG_STATE);

    ASSERT_EQ(builder->RenderStream(&PIN_CATEGORY_PREVIEW, &MEDIATYPE_Video, camera.Get(),
                                    grabberFilter.Get(), rendererFilter.Get()),
              S_OK);
    // The camera's YUY2 is converted once, by the renderer, straight to the
    // 32-bit pixels it draws: no converter in the chain.
    ComPtr<IEnumFilters> filters;
    ASSERT_EQ(graph->EnumFilters(filters.Put()), S_OK);
    int filterCount = 0;
    uint32_t fetched = 0;
    for (ComPtr<IBaseFilter> f; filters->Next(1, f.Put(), &fetched) == S_OK;)
        ++filterCount;
    EXPECT_EQ(filterCount, 3);  // camera, grabber, renderer
    ComPtr<IPin> rendererInput;
    ASSERT_EQ(rendererFilter->FindPin(u"Input", rendererInput.Put()), S_OK);
    AM_MEDIA_TYPE painted{};
    ASSERT_EQ(rendererInput->ConnectionMediaType(&painted), S_OK);
    EXPECT_EQ(painted.subtype, MEDIASUBTYPE_YUY2);
    ClearMediaType(&painted);

    QWidget owner;
    owner.resize(700, 600);
    QWidget drain(&owner);
    drain.setGeometry(16, 32, 320, 240);
    owner.show();
    auto window = QueryAs<IVideoWindow>(rendererFilter.Get());
    ASSERT_EQ(window->put_Owner(&owner), S_OK);
    ASSERT_EQ(window->put_WindowStyle(WS_CHILD | WS_CLIPSIBLINGS), S_OK);
    ASSERT_EQ(window->SetWindowPosition(16, 32, 320, 240), S_OK);
    ASSERT_EQ(window->put_Caption(u"VideoWindow"), S_OK);
    ASSERT_EQ(window->put_MessageDrain(&drain), S_OK);

    auto control = QueryAs<IMediaControl>(graph.Get());
    ASSERT_EQ(control->Run(), S_OK);
    ASSERT_TRUE(
        QTest::qWaitFor([&] { return grabber->GetCurrentBuffer(&size, nullptr) == S_OK; }, 10000));

    AM_MEDIA_TYPE mt{};
    ASSERT_EQ(grabber->GetConnectedMediaType(&mt), S_OK);
    EXPECT_EQ(mt.subtype, MEDIASUBTYPE_RGB24);
    ASSERT_EQ(mt.cbFormat, 88u);
    VIDEOINFOHEADER vih;
    std::memcpy(&vih, mt.pbFormat, sizeof vih);
    ClearMediaType(&mt);
    EXPECT_EQ(vih.bmiHeader.biWidth, 640);
    EXPECT_EQ(vih.bmiHeader.biHeight, 480);
    EXPECT_EQ(vih.bmiHeader.biBitCount, 24);
    EXPECT_EQ(size, 640 * 3 * 480);

    // The renderer's window shows itself with the first frame and paints it.
    auto* renderer = dynamic_cast<VideoRendererFilter*>(rendererFilter.Get());
    ASSERT_NE(renderer, nullptr);
    VideoRendererWindow* w = renderer->Window();
    ASSERT_TRUE(QTest::qWaitFor([&] { return w->isVisible(); }, 10000));
    EXPECT_EQ(w->parentWidget(), &owner);
    EXPECT_EQ(w->geometry(), QRect(16, 32, 320, 240));
    ASSERT_TRUE(QTest::qWaitFor([&] { return !w->CurrentFrame().isNull(); }, 10000));
    const QImage shown = w->grab().toImage();
    int lit = 0;
    for (int x = 0; x < shown.width(); x += 8)
        if (qGray(shown.pixel(x, 10)) > 100)
            ++lit;
    EXPECT_GT(lit, shown.width() / 16);  // colour bars, not a black window

    EXPECT_EQ(control->Stop(), S_OK);
    // The last frame stays available after stopping.
    EXPECT_EQ(grabber->GetCurrentBuffer(&size, nullptr), S_OK);
}

TEST(GstRenderingFilters, PropertyFrameListsTheCapturePinsFormats) {
    ComPtr<IBaseFilter> camera = TestCamera();
    ASSERT_TRUE(camera);
    ComPtr<IPin> pin;
    ASSERT_EQ(camera->FindPin(u"Capture", pin.Put()), S_OK);
    auto pages = QueryAs<ISpecifyPropertyPages>(pin.Get());
    ASSERT_TRUE(pages);
    CAUUID list;
    ASSERT_EQ(pages->GetPages(&list), S_OK);
    std::vector<GUID> ids(list.pElems, list.pElems + list.cElems);
    CoTaskMemFree(list.pElems);

    QStringList shown;
    QTimer::singleShot(0, [&] {
        auto* frame = qobject_cast<PropertyFrame*>(QApplication::activeModalWidget());
        ASSERT_NE(frame, nullptr);
        auto* formats = frame->findChild<QListWidget*>(QStringLiteral("Formats"));
        if (formats)
            for (int i = 0; i < formats->count(); ++i)
                shown << formats->item(i)->text();
        frame->findChild<QPushButton*>(QStringLiteral("Cancel"))->click();
    });
    EXPECT_EQ(OleCreatePropertyFrame(nullptr, 0, 0, u"Capture", {pin.Get()}, ids), S_OK);
    EXPECT_EQ(shown, QStringList({"YUY2 640 x 480, 30 fps", "YUY2 320 x 240, 30 fps",
                                  "YUY2 1280 x 720, 30 fps", "I420 640 x 480, 30 fps",
                                  "MJPG 640 x 480, 30 fps"}));
}

TEST(GstRenderingFilters, PropertyFrameShowsTheCameraControls) {
    // The built-in test camera makes its source element when it starts, so
    // the preview runs while the frame is open (as in the program).
    auto graph = Create<IGraphBuilder>(CLSID_FilterGraph);
    auto builder = Create<ICaptureGraphBuilder2>(CLSID_CaptureGraphBuilder2);
    builder->SetFiltergraph(graph.Get());
    ComPtr<IBaseFilter> camera = TestCamera();
    ASSERT_TRUE(camera);
    auto renderer = Create<IBaseFilter>(CLSID_VideoRenderer);
    graph->AddFilter(camera.Get(), u"Camera");
    graph->AddFilter(renderer.Get(), u"VideoWindow");
    ASSERT_EQ(builder->RenderStream(&PIN_CATEGORY_PREVIEW, &MEDIATYPE_Video, camera.Get(), nullptr,
                                    renderer.Get()),
              S_OK);
    auto control = QueryAs<IMediaControl>(graph.Get());
    ASSERT_EQ(control->Run(), S_OK);
    auto pages = QueryAs<ISpecifyPropertyPages>(camera.Get());
    ASSERT_TRUE(pages);
    CAUUID list;
    ASSERT_EQ(pages->GetPages(&list), S_OK);
    std::vector<GUID> ids(list.pElems, list.pElems + list.cElems);
    CoTaskMemFree(list.pElems);

    int controls = -1;
    QTimer::singleShot(0, [&] {
        auto* frame = qobject_cast<PropertyFrame*>(QApplication::activeModalWidget());
        ASSERT_NE(frame, nullptr);
        EXPECT_EQ(frame->windowTitle(), QStringLiteral("Camera"));
        if (auto* page = frame->findChild<DeviceControlsPage*>())
            controls = page->ControlCount();
        frame->findChild<QPushButton*>(QStringLiteral("OK"))->click();
    });
    EXPECT_EQ(OleCreatePropertyFrame(nullptr, 0, 0, u"Camera", {camera.Get()}, ids), S_OK);
    EXPECT_GT(controls, 0);
    control->Stop();
}

}  // namespace
}  // namespace media::gst
