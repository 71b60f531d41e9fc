// SPDX-License-Identifier: GPL-3.0-or-later
// Failures where GStreamer calls into the program (the frame grabber's buffer
// handler on a streaming thread, a graph event handler) reach the
// application's error report once, on the user-interface thread, and the
// program and its preview go on.
#include <gtest/gtest.h>

#include <QApplication>
#include <QElapsedTimer>
#include <QWidget>
#include <atomic>
#include <chrono>
#include <cstdlib>
#include <functional>
#include <stdexcept>
#include <thread>
#include <vector>

#include "app/Application.h"
#include "media/Filter.h"
#include "media/FilterGraph.h"
#include "media/SampleGrabber.h"
#include "media/VideoWindow.h"
#include "media/gst/BinFilter.h"
#include "media/gst/GstMediaSystem.h"
#include "media/tests/GstTestDevices.h"

using namespace media;

namespace {

const auto* const kEnvironment = ::testing::AddGlobalTestEnvironment(new GstTestDevices("1"));

// Runs the event loop until done() or the time is up.
bool PumpUntil(const std::function<bool()>& done, int ms = 5000) {
    QElapsedTimer timer;
    timer.start();
    while (!done() && timer.elapsed() < ms) {
        QApplication::processEvents(QEventLoop::AllEvents, 20);
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
    }
    return done();
}

// The control panel's preview chain on the built-in test camera, with the
// program's error report (its message boxes counted instead of shown).
class MediaErrors : public ::testing::Test {
  protected:
    void SetUp() override {
        SetExceptionReporter([](const std::exception& e) { ShowException(e); });
        SetMessageBoxHook([this](const TMessageBoxRequest& box) {
            boxes.push_back(box.caption.toStdString() + ": " + box.text.toStdString());
            return QMessageBox::Ok;
        });
        graph.setObjectName("CaptureGraph");
        graph.SetMode(gmCapture);
        source.setObjectName("VideoSourceFilter");
        TSysDevEnum devices(CLSID_VideoInputDeviceCategory);
        ASSERT_GE(devices.DeviceCount(), 1);
        source.BaseFilter().StoreMoniker(devices.DeviceMoniker(0).Get());
        source.SetFilterGraph(&graph);
        grabber = std::make_unique<TSampleGrabber>();
        grabber->setObjectName("SampleGrabber");
        grabber->SetFilterGraph(&graph);
        video = new TVideoWindow(&host);
        video->setObjectName("VideoWindow");
        video->resize(320, 240);
        video->SetFilterGraph(&graph);
    }

    void TearDown() override {
        graph.StopGraph();
        graph.EmptyGraph();
        graph.SetActive(false);
        SetMessageBoxHook(nullptr);
        SetExceptionReporter(nullptr);
    }

    void StartPreview() {
        graph.SetActive(true);
        auto builder = graph.Get<ICaptureGraphBuilder2>();
        ASSERT_EQ(builder->RenderStream(
                      &PIN_CATEGORY_PREVIEW, nullptr, source.Get<IBaseFilter>().Get(),
                      grabber->Get<IBaseFilter>().Get(), video->Get<IBaseFilter>().Get()),
                  S_OK);
        ASSERT_TRUE(graph.RunGraph());
    }

    int64_t Position() {
        int64_t position = 0;
        graph.Get<IMediaSeeking>()->GetCurrentPosition(&position);
        return position;
    }

    std::vector<std::string> boxes;
    TFilterGraph graph;
    TFilter source;
    std::unique_ptr<TSampleGrabber> grabber;
    QWidget host;  // never shown
    TVideoWindow* video = nullptr;
};

TEST_F(MediaErrors, ThrowingBufferHandlerIsReportedOnceAndThePreviewGoesOn) {
    std::atomic<int> calls{0};
    grabber->SetOnBuffer([&](TSampleGrabber*, double, uint8_t*, int32_t) {
        ++calls;
        throw std::runtime_error("the handler failed");
    });
    StartPreview();
    ASSERT_TRUE(PumpUntil([&] { return !boxes.empty(); }));
    const int64_t before = Position();
    // The stream goes on: time advances and fresh frames are grabbed.
    ASSERT_TRUE(PumpUntil([&] { return Position() > before + 3000000; }));  // 0.3 s
    TBitmap still;
    EXPECT_TRUE(grabber->CopyFrameToBitmap(&still));
    EXPECT_EQ(calls.load(), 1);
    EXPECT_EQ(boxes, std::vector<std::string>{"Ombra Viewer: the handler failed"});
}

TEST_F(MediaErrors, ThrowingEventHandlerIsReportedOnceAndLaterEventsAreHandled) {
    StartPreview();
    int completed = 0;
    graph.OnGraphComplete = [&](TFilterGraph*, intptr_t, intptr_t) {
        if (++completed == 1)
            throw std::runtime_error("the event handler failed");
    };
    // Events come from the framework's threads.
    auto queue = [&] {
        ComPtr<IFilterGraph> platform = graph.Get<IFilterGraph>();
        void* internal = nullptr;
        ASSERT_EQ(platform->QueryInterface(gst::IID_GraphInternal, &internal), S_OK);
        std::thread([internal] {
            static_cast<gst::GraphInternal*>(internal)->QueueEvent(EC_COMPLETE, 0, 0);
        }).join();
        platform->Release();  // the reference QueryInterface added
    };
    queue();
    ASSERT_TRUE(PumpUntil([&] { return completed == 1 && !boxes.empty(); }));
    queue();
    ASSERT_TRUE(PumpUntil([&] { return completed == 2; }));
    PumpUntil([] { return false; }, 200);
    EXPECT_EQ(boxes, std::vector<std::string>{"Ombra Viewer: the event handler failed"});
    EXPECT_GT(Position(), 0);
}

// A slow handler is still running on the streaming thread while the grabber
// is destroyed: the destruction waits for nothing but the stream's own stop.
TEST_F(MediaErrors, DestroyingTheGrabberWhileItsHandlerRunsDoesNotDeadlock) {
    std::atomic<bool> entered{false};
    std::atomic<bool> done{false};
    grabber->SetOnBuffer([&](TSampleGrabber*, double, uint8_t*, int32_t) {
        if (entered.exchange(true))
            return;
        std::this_thread::sleep_for(std::chrono::milliseconds(300));
        done = true;
    });
    StartPreview();
    ASSERT_TRUE(PumpUntil([&] { return entered.load(); }));
    grabber.reset();
    EXPECT_TRUE(done.load());
    // The graph is still in the program's hands.
    EXPECT_TRUE(graph.StopGraph());
    EXPECT_TRUE(boxes.empty());
}

}  // namespace
