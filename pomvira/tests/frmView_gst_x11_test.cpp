// SPDX-License-Identifier: GPL-3.0-or-later
// The preview window with the real media framework: the built-in test camera
// runs through the frame grabber into the preview window's video window; the
// renderer's window lies over the video area and shows the picture, a
// notice laid over the video hides it, and a still picture taken from the
// grabber is upright.
#include <gtest/gtest.h>

#include <QApplication>
#include <QGuiApplication>
#include <QScreen>
#include <QTest>
#include <cstdlib>

#include "TestFrames.h"
#include "forms/frmView.h"
#include "media/Filter.h"
#include "media/FilterGraph.h"
#include "media/SampleGrabber.h"
#include "media/gst/GstMediaSystem.h"
#include "media/tests/GstTestDevices.h"

using namespace media;

namespace {

const auto* const kEnvironment = ::testing::AddGlobalTestEnvironment(new GstTestDevices("1"));

TEST(ViewFormWithCamera, ShowsTheLiveVideoAndTakesUprightStills) {
    TFilterGraph graph;
    graph.setObjectName("CaptureGraph");
    graph.SetMode(gmCapture);
    TFilter source;
    source.setObjectName("VideoSourceFilter");
    TSysDevEnum devices(CLSID_VideoInputDeviceCategory);
    ASSERT_GE(devices.DeviceCount(), 1);
    ASSERT_EQ(devices.DeviceEntry(0).FriendlyName, "Test Camera 1");
    source.BaseFilter().StoreMoniker(devices.DeviceMoniker(0).Get());
    source.SetFilterGraph(&graph);
    TSampleGrabber grabber;
    grabber.setObjectName("SampleGrabber");
    grabber.SetFilterGraph(&graph);

    TViewForm form;
    form.VideoWindow->SetFilterGraph(&graph);
    form.SetRecordState(false);
    form.move(100 + 19, 50 + 37);
    ASSERT_FALSE(form.SetVideoSize(640, 480));
    form.show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(&form));

    graph.SetActive(true);
    auto builder = graph.Get<ICaptureGraphBuilder2>();
    ASSERT_EQ(builder->RenderStream(
                  &PIN_CATEGORY_PREVIEW, &MEDIATYPE_Video, source.Get<IBaseFilter>().Get(),
                  grabber.Get<IBaseFilter>().Get(), form.VideoWindow->Get<IBaseFilter>().Get()),
              S_OK);
    ASSERT_TRUE(form.VideoWindow->IsRendererConnected());
    ASSERT_TRUE(graph.RunGraph());

    // The renderer's window is the preview window's child over the video area.
    QWidget* rendererWindow = form.VideoWindow->VideoHandle();
    ASSERT_NE(rendererWindow, form.VideoWindow);
    EXPECT_EQ(rendererWindow->parentWidget(), &form);
    EXPECT_EQ(rendererWindow->geometry(), QRect(19, 37, 640, 480));

    TBitmap still;
    for (int i = 0; i < 100 && !grabber.CopyFrameToBitmap(&still); ++i)
        QTest::qWait(100);
    ASSERT_FALSE(still.Empty());
    EXPECT_EQ(still.Width(), 640);
    EXPECT_EQ(still.Height(), 480);
    EXPECT_EQ(still.BitCount(), 24);
    const QImage picture = still.ToImage();
    // Upright: the colour bars at the top, the darker bottom band below.
    int bottomBars = 0;
    for (int x = 20; x < 640; x += 80) {
        // The pattern scrolls: a sample may fall on the edge between two bars.
        EXPECT_TRUE(IsColourBar(picture.pixel(x, 10)) || IsColourBar(picture.pixel(x + 4, 10)))
            << x;
        bottomBars += IsColourBar(picture.pixel(x, 470)) ? 1 : 0;
    }
    EXPECT_LE(bottomBars, 3);

    // The screen shows the video inside the frame.
    QTest::qWait(300);
    const QImage screen =
        QGuiApplication::primaryScreen()->grabWindow(0, 100 + 19, 50 + 37, 640, 480).toImage();
    if (qEnvironmentVariableIsSet("VIEWFORM_SHOT")) {
        QGuiApplication::primaryScreen()
            ->grabWindow(0, 100, 50, form.width(), form.height())
            .save(qEnvironmentVariable("VIEWFORM_SHOT"));
    }
    int bars = 0;
    for (int x = 20; x < 640; x += 80)
        bars += IsColourBar(screen.pixel(x, 10)) ? 1 : 0;
    EXPECT_GE(bars, 6);

    // A notice over the video hides it on the screen, even after the
    // renderer's window was hidden and shown again (as a new graph does).
    auto barsOnScreen = [] {
        const QImage shot =
            QGuiApplication::primaryScreen()->grabWindow(0, 100 + 19, 50 + 37, 640, 480).toImage();
        int n = 0;
        for (int x = 20; x < 640; x += 80)
            n += IsColourBar(shot.pixel(x, 10)) ? 1 : 0;
        return n;
    };
    form.SetVideoNotice(QStringLiteral("La caméra ne donne plus d'image."));
    EXPECT_TRUE(QTest::qWaitFor([&] { return barsOnScreen() == 0; }, 5000));
    rendererWindow->hide();
    rendererWindow->show();
    QTest::qWait(300);
    EXPECT_EQ(barsOnScreen(), 0);
    form.SetVideoNotice(QString());
    EXPECT_TRUE(QTest::qWaitFor([&] { return barsOnScreen() >= 6; }, 5000));

    // A new size moves the renderer window with the video area.
    ASSERT_FALSE(form.SetVideoSize(320, 240));
    EXPECT_EQ(rendererWindow->geometry(), QRect(19, 37, 320, 240));

    // Shut-down as the control panel does it.
    form.VideoWindow->hide();
    EXPECT_FALSE(rendererWindow->isVisible());
    graph.StopGraph();
    form.VideoWindow->SetFilterGraph(nullptr);
    graph.SetActive(false);
}

}  // namespace
