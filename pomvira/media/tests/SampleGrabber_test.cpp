// SPDX-License-Identifier: GPL-3.0-or-later
// The frame grabber component against the fake boundary: its membership
// steps, its buffer callback and the copy of a frame into a bitmap.
#include "media/SampleGrabber.h"

#include <gtest/gtest.h>

#include <QCoreApplication>
#include <chrono>
#include <cstring>
#include <future>
#include <memory>
#include <stdexcept>
#include <thread>

#include "media/FilterGraph.h"
#include "media/fake/FakeMedia.h"

using namespace media;
using namespace media::fake;

namespace {

// A connected RGB24 type of the given size; imageSize is the header's
// biSizeImage.
TMediaType Rgb24(int32_t width, int32_t height, uint32_t imageSize) {
    TMediaType mt = VideoFormat(MEDIASUBTYPE_RGB24, width, height, 24);
    auto* vih = reinterpret_cast<VIDEOINFOHEADER*>(mt.Format());
    vih->bmiHeader.biSizeImage = imageSize;
    return mt;
}

std::vector<uint8_t> Bytes(size_t n, uint8_t first = 1) {
    std::vector<uint8_t> v(n);
    for (size_t i = 0; i < n; ++i)
        v[i] = uint8_t(first + i);
    return v;
}

class GrabberTest : public ::testing::Test {
  protected:
    void SetUp() override {
        graph.SetMode(gmCapture);
        grabber.setObjectName("SampleGrabber");
        grabber.SetFilterGraph(&graph);
    }
    // Activates the graph with the grabber connected to `type` and holding
    // `frame` as its last sample.
    void Run(std::optional<TMediaType> type, std::optional<std::vector<uint8_t>> frame) {
        sys.GrabberDefaults().connectedType = std::move(type);
        sys.GrabberDefaults().buffer = std::move(frame);
        graph.SetActive(true);
        ASSERT_NE(sys.SampleGrabber(), nullptr);
        sys.Log().Clear();
    }
    FakeMediaSystem sys;
    TFilterGraph graph;
    TSampleGrabber grabber;
    TBitmap bitmap;
};

TEST_F(GrabberTest, RequestsAnyRgb24Video) {
    const AM_MEDIA_TYPE* mt = grabber.MediaType().AMMediaType();
    EXPECT_EQ(mt->majortype, MEDIATYPE_Video);
    EXPECT_EQ(mt->subtype, MEDIASUBTYPE_RGB24);
    EXPECT_EQ(mt->formattype, FORMAT_VideoInfo);
    EXPECT_NE(mt->bFixedSizeSamples, 0);
    EXPECT_EQ(mt->lSampleSize, 1u);
    EXPECT_EQ(mt->cbFormat, 0u);
}

TEST_F(GrabberTest, JoinsAndLeavesTheActiveGraph) {
    graph.SetActive(true);
    const auto setType = sys.Log().Matching("Grabber.SetMediaType");
    ASSERT_EQ(setType.size(), 1u) << sys.Log().Text();
    EXPECT_TRUE(sys.Log().ContainsAll({"System.CoCreateInstance(SampleGrabber)",
                                   "Graph.AddFilter(SampleGrabber)", "Filter[Grabber].Stop",
                                   "Pin[Grabber/Input].Disconnect", setType[0],
                                   "Grabber.SetBufferSamples(1)", "Grabber.SetCallback(set, 1)"}))
        << sys.Log().Text();
    FakeSampleGrabber* fake = sys.SampleGrabber();
    ASSERT_NE(fake, nullptr);
    EXPECT_TRUE(fake->RequestedType().Equals(grabber.MediaType()));
    EXPECT_TRUE(fake->BufferSamples());
    EXPECT_EQ(fake->CallbackKind(), 1);
    EXPECT_EQ(grabber.MemberFilter(), static_cast<IBaseFilter*>(fake));
    // The component stands for the filter where the platform wants one.
    EXPECT_EQ(grabber.Query<IBaseFilter>().Get(), static_cast<IBaseFilter*>(fake));
    EXPECT_TRUE(grabber.Query<ISampleGrabberCB>());

    sys.Log().Clear();
    graph.SetActive(false);
    EXPECT_TRUE(
        sys.Log().InOrder({"Filter[Grabber].Stop", "Pin[Grabber/Input].Disconnect",
                           "Pin[Grabber/Output].Disconnect", "Graph.RemoveFilter(SampleGrabber)",
                           "Grabber.SetCallback(null, 1)", "Grabber.SetBufferSamples(0)"}))
        << sys.Log().Text();
    EXPECT_EQ(grabber.MemberFilter(), nullptr);
    EXPECT_FALSE(grabber.Query<IBaseFilter>());
}

TEST_F(GrabberTest, RefreshReappliesTheRequestedType) {
    graph.SetActive(true);
    sys.Log().Clear();
    grabber.MediaType().SetSubType(MEDIASUBTYPE_RGB32);
    grabber.MemberNotify(msRefresh, 0);
    const auto setType = sys.Log().Matching("Grabber.SetMediaType");
    ASSERT_EQ(setType.size(), 1u) << sys.Log().Text();
    EXPECT_TRUE(
        sys.Log().InOrder({"Filter[Grabber].Stop", "Pin[Grabber/Input].Disconnect", setType[0]}));
    EXPECT_EQ(sys.SampleGrabber()->RequestedType().SubType(), MEDIASUBTYPE_RGB32);
}

TEST_F(GrabberTest, BufferCallbackCallsTheHandler) {
    graph.SetActive(true);
    FakeSampleGrabber* fake = sys.SampleGrabber();
    EXPECT_EQ(fake->DeliverBuffer(0.5, Bytes(10)), S_OK);  // no handler bound
    double time = 0;
    int32_t length = 0;
    uint8_t first = 0;
    grabber.SetOnBuffer([&](TSampleGrabber* sender, double t, uint8_t* buffer, int32_t len) {
        EXPECT_EQ(sender, &grabber);
        time = t;
        length = len;
        first = buffer[0];
    });
    EXPECT_EQ(fake->DeliverBuffer(1.25, Bytes(12, 7)), S_OK);
    EXPECT_EQ(time, 1.25);
    EXPECT_EQ(length, 12);
    EXPECT_EQ(first, 7);
}

// The platform lays a frame out for the callback only when it wants one:
// while a handler is bound.
TEST(GrabberCallback, WantsFramesOnlyWhileAHandlerIsBound) {
    FakeMediaSystem sys;
    ComPtr<ISampleGrabberCB> callback;
    {
        TSampleGrabber grabber;
        callback = grabber.Query<ISampleGrabberCB>();
        ASSERT_TRUE(callback);
        EXPECT_FALSE(callback->WantsFrames());
        grabber.SetOnBuffer([](TSampleGrabber*, double, uint8_t*, int32_t) {});
        EXPECT_TRUE(callback->WantsFrames());
        grabber.SetOnBuffer(nullptr);
        EXPECT_FALSE(callback->WantsFrames());
        grabber.SetOnBuffer([](TSampleGrabber*, double, uint8_t*, int32_t) {});
    }
    EXPECT_FALSE(callback->WantsFrames());
}

TEST(GrabberCallback, OutlivingTheComponentIsHarmless) {
    FakeMediaSystem sys;
    ComPtr<ISampleGrabberCB> callback;
    bool called = false;
    {
        TSampleGrabber grabber;
        grabber.SetOnBuffer([&](TSampleGrabber*, double, uint8_t*, int32_t) { called = true; });
        callback = grabber.Query<ISampleGrabberCB>();
        ASSERT_TRUE(callback);
    }
    uint8_t byte = 0;
    EXPECT_EQ(callback->BufferCB(0.0, &byte, 1), S_OK);
    EXPECT_EQ(callback->SampleCB(0.0, nullptr), S_OK);
    EXPECT_FALSE(called);
}

TEST_F(GrabberTest, ThrowingHandlerIsReportedOnceOnTheEventLoopAndUnbound) {
    std::vector<std::string> reports;
    SetExceptionReporter([&](const std::exception& e) { reports.push_back(e.what()); });
    graph.SetActive(true);
    int calls = 0;
    grabber.SetOnBuffer([&](TSampleGrabber*, double, uint8_t*, int32_t) {
        ++calls;
        throw std::runtime_error("handler failed");
    });
    // The streaming thread's call returns normally; the report waits for
    // the event loop.
    std::thread stream([&] {
        for (int i = 0; i < 3; ++i)
            EXPECT_EQ(sys.SampleGrabber()->DeliverBuffer(0.1 * i, Bytes(4)), S_OK);
    });
    stream.join();
    EXPECT_TRUE(reports.empty());
    QCoreApplication::sendPostedEvents();
    EXPECT_EQ(calls, 1);
    // Unbound: no more frames are prepared for it.
    EXPECT_FALSE(grabber.Query<ISampleGrabberCB>()->WantsFrames());
    EXPECT_EQ(reports, std::vector<std::string>{"handler failed"});
    SetExceptionReporter(nullptr);
}

// The handler may run long (a slow consumer): neither binding another
// handler nor destroying the component waits for it.
TEST(GrabberCallback, DestroyingTheComponentDoesNotWaitForARunningHandler) {
    FakeMediaSystem sys;
    auto grabber = std::make_unique<TSampleGrabber>();
    std::promise<void> entered;
    std::promise<void> release;
    std::shared_future<void> released = release.get_future().share();
    bool releasedInTime = false;
    grabber->SetOnBuffer([&](TSampleGrabber*, double, uint8_t*, int32_t) {
        entered.set_value();
        releasedInTime = released.wait_for(std::chrono::seconds(10)) == std::future_status::ready;
    });
    ComPtr<ISampleGrabberCB> callback = grabber->Query<ISampleGrabberCB>();
    std::thread stream([&] {
        uint8_t byte = 0;
        callback->BufferCB(0.0, &byte, 1);
    });
    entered.get_future().wait();
    grabber->SetOnBuffer(nullptr);
    grabber.reset();
    release.set_value();
    stream.join();
    EXPECT_TRUE(releasedInTime);
    // Later calls find no component and do nothing.
    uint8_t byte = 0;
    EXPECT_EQ(callback->BufferCB(0.0, &byte, 1), S_OK);
}

TEST_F(GrabberTest, CopyFailsWithoutAFrameOrAnRgbVideoType) {
    // No active graph: no grabber filter.
    EXPECT_FALSE(grabber.CopyFrameToBitmap(&bitmap));
    EXPECT_TRUE(bitmap.Empty());
    EXPECT_FALSE(grabber.CopyFrameToBitmap(nullptr));

    Run(Rgb24(4, 2, 0), std::nullopt);  // nothing passed the grabber yet
    EXPECT_FALSE(grabber.CopyFrameToBitmap(&bitmap));
    EXPECT_TRUE(bitmap.Empty());
    EXPECT_TRUE(sys.Log().Contains("Grabber.GetCurrentBuffer(null)"));

    // A given buffer of length 0 asks nothing of the platform.
    sys.Log().Clear();
    uint8_t data[4] = {};
    EXPECT_FALSE(grabber.CopyFrameToBitmap(&bitmap, data, 0));
    EXPECT_FALSE(grabber.CopyFrameToBitmap(&bitmap, data, -5));
    EXPECT_TRUE(sys.Log().Entries().empty()) << sys.Log().Text();

    // A VideoInfo block that is not exactly 88 bytes (colour masks appended).
    FakeSampleGrabber* fake = sys.SampleGrabber();
    TMediaType masks = Rgb24(4, 2, 0);
    std::vector<uint8_t> block(masks.Format(), masks.Format() + masks.FormatSize());
    block.resize(100);
    std::memcpy(masks.AllocFormatBuffer(100), block.data(), block.size());
    fake->ConnectedType() = masks;
    fake->Buffer() = Bytes(24);
    EXPECT_FALSE(grabber.CopyFrameToBitmap(&bitmap));

    // Not connected, audio, and a compressed video header.
    fake->ConnectedType() = std::nullopt;
    EXPECT_FALSE(grabber.CopyFrameToBitmap(&bitmap));
    fake->ConnectedType() = AudioFormat(44100, 16, 2);
    EXPECT_FALSE(grabber.CopyFrameToBitmap(&bitmap));
    fake->ConnectedType() = VideoFormat(MEDIASUBTYPE_YUY2, 4, 2, 16);
    EXPECT_FALSE(grabber.CopyFrameToBitmap(&bitmap));
    EXPECT_TRUE(bitmap.Empty());

    // A failing copy leaves the bitmap as it was.
    fake->ConnectedType() = Rgb24(4, 2, 0);
    ASSERT_TRUE(grabber.CopyFrameToBitmap(&bitmap));
    sys.SetResult("Grabber.GetCurrentBuffer", E_FAIL);
    TBitmap other;
    EXPECT_FALSE(grabber.CopyFrameToBitmap(&other));
    EXPECT_TRUE(other.Empty());
    EXPECT_EQ(bitmap.Width(), 4);
}

TEST_F(GrabberTest, ImageSizeFromStrideWhenTheHeaderHasNone) {
    // 641 pixels of 24 bits are 15384 bits, padded to 15392: 1924 bytes.
    EXPECT_EQ(DibStride(641, 24), 1924);
    EXPECT_EQ(DibStride(641, 15), DibStride(641, 16));
    Run(Rgb24(641, 1, 0), Bytes(3000));
    ASSERT_TRUE(grabber.CopyFrameToBitmap(&bitmap));
    EXPECT_TRUE(
        sys.Log().InOrder({"Grabber.GetConnectedMediaType", "Grabber.GetCurrentBuffer(null)",
                           "Grabber.GetCurrentBuffer(1924)"}))
        << sys.Log().Text();
    EXPECT_EQ(bitmap.Stride(), 1924);
    EXPECT_EQ(bitmap.BitsSize(), 1924u);
    EXPECT_EQ(bitmap.Bits()[1923], Bytes(3000)[1923]);
}

TEST_F(GrabberTest, FrameIsCutToTheImageSize) {
    // Larger frame than the image: cut. 4 x 2 at 24 bits: stride 12, 24 bytes.
    Run(Rgb24(4, 2, 0), Bytes(40));
    ASSERT_TRUE(grabber.CopyFrameToBitmap(&bitmap));
    EXPECT_TRUE(sys.Log().Contains("Grabber.GetCurrentBuffer(24)"));
    EXPECT_EQ(std::vector<uint8_t>(bitmap.Bits(), bitmap.Bits() + 24), Bytes(24));

    // Smaller frame: only the first bytes are filled.
    sys.SampleGrabber()->Buffer() = Bytes(10, 100);
    ASSERT_TRUE(grabber.CopyFrameToBitmap(&bitmap));
    EXPECT_EQ(bitmap.Bits()[9], 109);
    EXPECT_EQ(bitmap.Bits()[10], 0);

    // A given buffer is copied the same way, without asking the platform.
    sys.Log().Clear();
    const std::vector<uint8_t> given = Bytes(30, 50);
    ASSERT_TRUE(grabber.CopyFrameToBitmap(&bitmap, given.data(), 30));
    EXPECT_TRUE(sys.Log().Matching("Grabber.GetCurrentBuffer").empty());
    EXPECT_EQ(bitmap.Bits()[23], given[23]);
    ASSERT_TRUE(grabber.CopyFrameToBitmap(&bitmap, given.data(), 5));
    EXPECT_EQ(bitmap.Bits()[4], given[4]);
    EXPECT_EQ(bitmap.Bits()[5], 0);

    // A header claiming more than the picture holds never overflows it.
    sys.SampleGrabber()->ConnectedType() = Rgb24(4, 2, 100000);
    sys.SampleGrabber()->Buffer() = Bytes(200);
    ASSERT_TRUE(grabber.CopyFrameToBitmap(&bitmap));
    EXPECT_EQ(bitmap.BitsSize(), 24u);
    EXPECT_TRUE(sys.Log().Contains("Grabber.GetCurrentBuffer(24)"));
}

TEST_F(GrabberTest, PictureIsUpright) {
    // 2 x 2, rows bottom-up, padded to 8 bytes: the bottom row is stored first.
    const std::vector<uint8_t> frame = {
        255, 0, 0,   255, 0,   0, 0, 0,  // bottom: blue, blue
        0,   0, 255, 0,   255, 0, 0, 0,  // top: red, green
    };
    Run(Rgb24(2, 2, 0), frame);
    ASSERT_TRUE(grabber.CopyFrameToBitmap(&bitmap));
    EXPECT_TRUE(bitmap.BottomUp());
    const QImage picture = bitmap.ToImage();
    ASSERT_EQ(picture.size(), QSize(2, 2));
    EXPECT_EQ(picture.format(), QImage::Format_RGB888);
    EXPECT_EQ(picture.pixel(0, 0), qRgb(255, 0, 0));
    EXPECT_EQ(picture.pixel(1, 0), qRgb(0, 255, 0));
    EXPECT_EQ(picture.pixel(0, 1), qRgb(0, 0, 255));

    // A top-down frame (negative height) is upright as stored.
    sys.SampleGrabber()->ConnectedType() = Rgb24(2, -2, 0);
    ASSERT_TRUE(grabber.CopyFrameToBitmap(&bitmap));
    EXPECT_FALSE(bitmap.BottomUp());
    EXPECT_EQ(bitmap.ToImage().pixel(0, 0), qRgb(0, 0, 255));
}

TEST_F(GrabberTest, VideoInfo2HeaderIsRead) {
    VIDEOINFOHEADER2 vih2{};
    vih2.bmiHeader.biSize = sizeof(BITMAPINFOHEADER);
    vih2.bmiHeader.biWidth = 3;
    vih2.bmiHeader.biHeight = 1;
    vih2.bmiHeader.biPlanes = 1;
    vih2.bmiHeader.biBitCount = 24;
    TMediaType mt(MEDIATYPE_Video);
    mt.SetSubType(MEDIASUBTYPE_RGB24);
    mt.SetFormatType(FORMAT_VideoInfo2);
    std::memcpy(mt.AllocFormatBuffer(sizeof vih2), &vih2, sizeof vih2);
    Run(mt, Bytes(12));
    ASSERT_TRUE(grabber.CopyFrameToBitmap(&bitmap));
    EXPECT_EQ(bitmap.Width(), 3);
    EXPECT_EQ(bitmap.Stride(), 12);
    EXPECT_TRUE(sys.Log().Contains("Grabber.GetCurrentBuffer(12)"));
}

}  // namespace
