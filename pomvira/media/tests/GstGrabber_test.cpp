// SPDX-License-Identifier: GPL-3.0-or-later
// The sample grabber's GStreamer side: media type matching, the kept frame
// (bottom-up, rows padded to 4 bytes), the connected type and the callback.
#include <gst/app/gstappsink.h>
#include <gst/app/gstappsrc.h>
#include <gst/gst.h>
#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <cstring>
#include <mutex>
#include <thread>
#include <vector>

#include "media/Bitmap.h"
#include "media/gst/SampleGrabberCore.h"
#include "media/tests/GstTestFeed.h"

namespace media::gst {
namespace {

// A BGR frame of the given size: top row red, bottom row blue, green between.
std::vector<uint8_t> TestFrame(int width, int height, int stride) {
    std::vector<uint8_t> frame(size_t(stride) * height, 0);
    for (int y = 0; y < height; ++y) {
        uint8_t b = 0, g = 255, r = 0;
        if (y == 0)
            g = 0, r = 255;
        if (y == height - 1)
            g = 0, b = 255;
        for (int x = 0; x < width; ++x) {
            uint8_t* p = &frame[size_t(y) * stride + size_t(x) * 3];
            p[0] = b, p[1] = g, p[2] = r;
        }
    }
    return frame;
}

class RecordingCallback : public ComObject<ISampleGrabberCB> {
  public:
    HRESULT SampleCB(double, IMediaSample* sample) override {
        uint8_t* data = nullptr;
        sample->GetPointer(&data);
        Record(data, sample->GetActualDataLength());
        ++samples;
        return S_OK;
    }
    HRESULT BufferCB(double, uint8_t* buffer, int32_t length) override {
        Record(buffer, length);
        ++buffers;
        return S_OK;
    }
    void Record(const uint8_t* data, int32_t length) {
        std::lock_guard<std::mutex> lock(mutex);
        thread = std::this_thread::get_id();
        last.assign(data, data + length);
    }
    std::mutex mutex;
    std::thread::id thread;
    std::vector<uint8_t> last;
    std::atomic<int> buffers{0};
    std::atomic<int> samples{0};
};

// appsrc ! grabber ! appsink, pushing BGR (or other) frames.
class GrabberPipeline {
  public:
    GrabberPipeline(SampleGrabberCore& grabber, int width, int height, const char* format = "BGR")
        : width_(width), height_(height) {
        gst_init(nullptr, nullptr);
        pipeline_ = ElementRef::Sink(gst_pipeline_new(nullptr));
        src_ = gst_element_factory_make("appsrc", nullptr);
        sink_ = gst_element_factory_make("appsink", nullptr);
        CapsRef caps = CapsRef::Adopt(gst_caps_new_simple(
            "video/x-raw", "format", G_TYPE_STRING, format, "width", G_TYPE_INT, width, "height",
            G_TYPE_INT, height, "framerate", GST_TYPE_FRACTION, 30, 1, nullptr));
        g_object_set(src_, "caps", caps.Get(), "format", GST_FORMAT_TIME, nullptr);
        g_object_set(sink_, "sync", FALSE, nullptr);
        gst_bin_add_many(GST_BIN(pipeline_.Get()), src_, grabber.Element(), sink_, nullptr);
        EXPECT_TRUE(gst_element_link_many(src_, grabber.Element(), sink_, nullptr));
        gst_element_set_state(pipeline_.Get(), GST_STATE_PLAYING);
    }
    ~GrabberPipeline() { gst_element_set_state(pipeline_.Get(), GST_STATE_NULL); }

    int Stride() const { return (width_ * 3 + 3) & ~3; }
    void Push(const std::vector<uint8_t>& frame) {
        PushBuffer(gst_buffer_new_memdup(frame.data(), frame.size()));
    }
    void PushBuffer(GstBuffer* buffer) {
        GST_BUFFER_PTS(buffer) = pts_;
        pts_ += GST_SECOND / 30;
        ASSERT_EQ(gst_app_src_push_buffer(GST_APP_SRC(src_), buffer), GST_FLOW_OK);
    }
    // The next frame that passed through to the sink.
    std::vector<uint8_t> PullPassedFrame() {
        GstRef<GstSample> sample = GstRef<GstSample>::Adopt(
            gst_app_sink_try_pull_sample(GST_APP_SINK(sink_), 5 * GST_SECOND));
        if (!sample)
            return {};
        GstBuffer* buffer = gst_sample_get_buffer(sample.Get());
        std::vector<uint8_t> data(gst_buffer_get_size(buffer));
        gst_buffer_extract(buffer, 0, data.data(), data.size());
        return data;
    }

  private:
    ElementRef pipeline_;
    GstElement* src_;   // owned by the pipeline
    GstElement* sink_;  // owned by the pipeline
    int width_, height_;
    GstClockTime pts_ = 0;
};

AM_MEDIA_TYPE VideoType(const GUID& subtype) {
    AM_MEDIA_TYPE mt{};
    mt.majortype = MEDIATYPE_Video;
    mt.subtype = subtype;
    mt.formattype = FORMAT_VideoInfo;
    mt.bFixedSizeSamples = -1;
    mt.lSampleSize = 1;
    return mt;
}

TEST(GstGrabber, FailsCleanlyBeforeAnyFrame) {
    gst_init(nullptr, nullptr);
    SampleGrabberCore grabber;
    int32_t size = 0;
    EXPECT_EQ(grabber.GetCurrentBuffer(nullptr, nullptr), E_POINTER);
    // Not buffering at all.
    EXPECT_EQ(grabber.GetCurrentBuffer(&size, nullptr), E_INVALIDARG);
    grabber.SetBufferSamples(true);
    EXPECT_EQ(grabber.GetCurrentBuffer(&size, nullptr), VFW_E_WRONG_STATE);
    AM_MEDIA_TYPE mt{};
    EXPECT_EQ(grabber.GetConnectedMediaType(&mt), VFW_E_NOT_CONNECTED);
    EXPECT_EQ(grabber.GetConnectedMediaType(nullptr), E_POINTER);
    EXPECT_EQ(grabber.SetMediaType(nullptr), E_POINTER);
    EXPECT_EQ(grabber.SetCallback(nullptr, 2), E_INVALIDARG);
}

TEST(GstGrabber, AsksForTheMediaTypeSet) {
    gst_init(nullptr, nullptr);
    SampleGrabberCore grabber;
    auto expectCaps = [&](const char* text) {
        CapsRef expected = CapsRef::Adopt(gst_caps_from_string(text));
        CapsRef caps = grabber.RequestedCaps();
        EXPECT_TRUE(gst_caps_is_equal(caps.Get(), expected.Get()))
            << StringRef::Adopt(gst_caps_to_string(caps.Get())).Get();
    };
    // The layer's request: any RGB24 video, without a format block. 32-bit
    // BGRx passes too (first: what the renderer paints as it arrives), and
    // a camera's packed YUV and JPEG frames, converted or decoded when a
    // frame is asked for; behind a converter, RGB alone.
    AM_MEDIA_TYPE rgb24 = VideoType(MEDIASUBTYPE_RGB24);
    ASSERT_EQ(grabber.SetMediaType(&rgb24), S_OK);
    expectCaps("video/x-raw, format=(string){ BGRx, BGR, YUY2, UYVY, YVYU }; image/jpeg");
    grabber.SetRgbOnly(true);
    CapsRef filtered;
    g_object_get(grabber.Element(), "caps", filtered.Put(), nullptr);
    CapsRef rgbOnly = CapsRef::Adopt(
        gst_caps_from_string("video/x-raw, format=(string){ BGRx, BGR }; image/jpeg"));
    EXPECT_TRUE(gst_caps_is_equal(filtered.Get(), rgbOnly.Get()));
    grabber.SetRgbOnly(false);

    AM_MEDIA_TYPE rgb32 = VideoType(MEDIASUBTYPE_RGB32);
    VIDEOINFOHEADER vih{};
    vih.bmiHeader.biWidth = 320;
    vih.bmiHeader.biHeight = 240;
    rgb32.cbFormat = sizeof vih;
    rgb32.pbFormat = reinterpret_cast<uint8_t*>(&vih);
    grabber.SetMediaType(&rgb32);
    expectCaps("video/x-raw, format=(string)BGRx, width=(int)320, height=(int)240");

    // The grabber knows every format the pins know.
    AM_MEDIA_TYPE rgb565 = VideoType(MEDIASUBTYPE_RGB565);
    grabber.SetMediaType(&rgb565);
    expectCaps("video/x-raw, format=(string)RGB16");
    AM_MEDIA_TYPE mjpg = VideoType(MEDIASUBTYPE_MJPG);
    grabber.SetMediaType(&mjpg);
    expectCaps("image/jpeg");

    AM_MEDIA_TYPE any{};
    grabber.SetMediaType(&any);
    EXPECT_TRUE(gst_caps_is_any(grabber.RequestedCaps().Get()));
}

TEST(GstGrabber, KeepsTheLastFrameBottomUpWithPaddedRows) {
    SampleGrabberCore grabber;
    grabber.SetBufferSamples(true);
    const int width = 641, height = 3;  // 641 * 3 = 1923 bytes, padded to 1924
    GrabberPipeline pipeline(grabber, width, height);
    const std::vector<uint8_t> frame = TestFrame(width, height, pipeline.Stride());
    pipeline.Push(frame);

    // The frame passes through unchanged: top row still red.
    const std::vector<uint8_t> passed = pipeline.PullPassedFrame();
    ASSERT_EQ(passed, frame);

    int32_t size = 0;
    ASSERT_EQ(grabber.GetCurrentBuffer(&size, nullptr), S_OK);
    EXPECT_EQ(size, 1924 * 3);
    std::vector<uint8_t> kept(size_t(size), 0xAA);
    ASSERT_EQ(grabber.GetCurrentBuffer(&size, kept.data()), S_OK);
    // Bottom-up: the first stored row is the picture's bottom row (blue).
    EXPECT_EQ(kept[0], 255);
    EXPECT_EQ(kept[1], 0);
    EXPECT_EQ(kept[2], 0);
    // ... and the last stored row its top row (red).
    const size_t top = 2 * 1924;
    EXPECT_EQ(kept[top + 640 * 3 + 0], 0);
    EXPECT_EQ(kept[top + 640 * 3 + 2], 255);
    // Row padding is zero, not stale memory.
    EXPECT_EQ(kept[1923], 0);

    // A smaller target gets the first bytes only.
    int32_t part = 10;
    std::vector<uint8_t> small(10);
    ASSERT_EQ(grabber.GetCurrentBuffer(&part, small.data()), S_OK);
    EXPECT_EQ(part, 10);
    EXPECT_EQ(small[0], 255);
    int32_t negative = -1;
    EXPECT_EQ(grabber.GetCurrentBuffer(&negative, small.data()), E_INVALIDARG);

    // The connected type: a VIDEOINFOHEADER of 88 bytes, RGB24, positive height.
    AM_MEDIA_TYPE mt{};
    ASSERT_EQ(grabber.GetConnectedMediaType(&mt), S_OK);
    EXPECT_EQ(mt.majortype, MEDIATYPE_Video);
    EXPECT_EQ(mt.subtype, MEDIASUBTYPE_RGB24);
    EXPECT_EQ(mt.formattype, FORMAT_VideoInfo);
    ASSERT_EQ(mt.cbFormat, 88u);
    ASSERT_NE(mt.pbFormat, nullptr);
    VIDEOINFOHEADER vih;
    std::memcpy(&vih, mt.pbFormat, sizeof vih);
    EXPECT_EQ(vih.bmiHeader.biSize, 40u);
    EXPECT_EQ(vih.bmiHeader.biWidth, 641);
    EXPECT_EQ(vih.bmiHeader.biHeight, 3);
    EXPECT_EQ(vih.bmiHeader.biBitCount, 24);
    EXPECT_EQ(vih.bmiHeader.biCompression, BI_RGB);
    EXPECT_EQ(vih.bmiHeader.biSizeImage, 1924u * 3);
    EXPECT_EQ(vih.AvgTimePerFrame, 333333);
    EXPECT_EQ(mt.pUnk, nullptr);
    ClearMediaType(&mt);
}

TEST(GstGrabber, TheLayersBitmapOfTheKeptFrameIsUpright) {
    SampleGrabberCore grabber;
    grabber.SetBufferSamples(true);
    GrabberPipeline pipeline(grabber, 7, 5);
    pipeline.Push(TestFrame(7, 5, pipeline.Stride()));
    ASSERT_FALSE(pipeline.PullPassedFrame().empty());

    // What the layer does with it: a DIB section from the connected type's
    // header, filled with the kept frame.
    AM_MEDIA_TYPE mt{};
    ASSERT_EQ(grabber.GetConnectedMediaType(&mt), S_OK);
    VIDEOINFOHEADER vih;
    std::memcpy(&vih, mt.pbFormat, sizeof vih);
    ClearMediaType(&mt);
    std::unique_ptr<TDibSection> dib = CreateDIBSection(vih.bmiHeader);
    ASSERT_TRUE(dib);
    int32_t size = int32_t(dib->Bits.size());
    ASSERT_EQ(grabber.GetCurrentBuffer(&size, dib->Bits.data()), S_OK);
    EXPECT_EQ(size_t(size), dib->Bits.size());
    TBitmap bitmap;
    bitmap.SetDIBSection(std::move(dib));
    const QImage picture = bitmap.ToImage();
    ASSERT_EQ(picture.size(), QSize(7, 5));
    EXPECT_EQ(picture.pixelColor(0, 0), QColor(Qt::red));
    EXPECT_EQ(picture.pixelColor(6, 2), QColor(Qt::green));
    EXPECT_EQ(picture.pixelColor(6, 4), QColor(Qt::blue));
}

TEST(GstGrabber, CallsTheBufferCallbackOnTheStreamingThread) {
    SampleGrabberCore grabber;
    auto callback = ComPtr<RecordingCallback>::Attach(new RecordingCallback);
    ASSERT_EQ(grabber.SetCallback(callback.Get(), 1), S_OK);
    const int width = 4, height = 2;
    GrabberPipeline pipeline(grabber, width, height);
    pipeline.Push(TestFrame(width, height, pipeline.Stride()));
    ASSERT_FALSE(pipeline.PullPassedFrame().empty());

    EXPECT_EQ(callback->buffers.load(), 1);
    EXPECT_EQ(callback->samples.load(), 0);
    std::lock_guard<std::mutex> lock(callback->mutex);
    EXPECT_NE(callback->thread, std::this_thread::get_id());
    // The callback sees the frame as GetCurrentBuffer would hand it out.
    ASSERT_EQ(callback->last.size(), 12u * 2);
    EXPECT_EQ(callback->last[0], 255);       // bottom row (blue) first
    EXPECT_EQ(callback->last[12 + 2], 255);  // then the top row (red)
    // Buffering was not asked for, so nothing is kept.
    int32_t size = 0;
    EXPECT_EQ(grabber.GetCurrentBuffer(&size, nullptr), E_INVALIDARG);
}

TEST(GstGrabber, SampleCallbackAndReleasingTheCallback) {
    SampleGrabberCore grabber;
    auto callback = ComPtr<RecordingCallback>::Attach(new RecordingCallback);
    grabber.SetCallback(callback.Get(), 0);
    grabber.SetBufferSamples(true);
    GrabberPipeline pipeline(grabber, 2, 2);
    const auto frame = TestFrame(2, 2, pipeline.Stride());
    pipeline.Push(frame);
    ASSERT_FALSE(pipeline.PullPassedFrame().empty());
    EXPECT_EQ(callback->samples.load(), 1);
    EXPECT_EQ(callback->buffers.load(), 0);

    grabber.SetCallback(nullptr, 0);
    pipeline.Push(frame);
    ASSERT_FALSE(pipeline.PullPassedFrame().empty());
    EXPECT_EQ(callback->samples.load(), 1);
    int32_t size = 0;
    EXPECT_EQ(grabber.GetCurrentBuffer(&size, nullptr), S_OK);
    EXPECT_EQ(size, 8 * 2);
}

// The same picture as 32-bit BGRx, with an unused byte that is not 0xff.
std::vector<uint8_t> ToBgrx(const std::vector<uint8_t>& bgr, int width, int height, int stride) {
    std::vector<uint8_t> out(size_t(width) * 4 * height);
    for (int y = 0; y < height; ++y)
        for (int x = 0; x < width; ++x) {
            const uint8_t* p = &bgr[size_t(y) * stride + size_t(x) * 3];
            uint8_t* q = &out[(size_t(y) * width + x) * 4];
            q[0] = p[0], q[1] = p[1], q[2] = p[2], q[3] = uint8_t(x);
        }
    return out;
}

// The picture bottom-up with rows padded to 4 bytes, as handed out.
std::vector<uint8_t> BottomUp(const std::vector<uint8_t>& bgr, int width, int height, int stride) {
    const int out = (width * 3 + 3) & ~3;
    std::vector<uint8_t> dib(size_t(out) * height, 0);
    for (int y = 0; y < height; ++y)
        std::memcpy(&dib[size_t(height - 1 - y) * out], &bgr[size_t(y) * stride],
                    size_t(width) * 3);
    return dib;
}

// Every row width, so that each way through the row (sixteen bytes at a
// time, four pixels by words, single pixels) meets its ends; nothing is
// written past the row.
TEST(GstGrabber, PacksBgrxRowsOfAnyWidthToBgr) {
    for (int width = 1; width <= 40; ++width) {
        std::vector<uint8_t> src(size_t(width) * 4);
        for (size_t i = 0; i < src.size(); ++i)
            src[i] = uint8_t(i * 13 + width);
        std::vector<uint8_t> dst(size_t(width) * 3 + 8, 0xEE), expected = dst;
        for (int x = 0; x < width; ++x)
            std::memcpy(&expected[size_t(x) * 3], &src[size_t(x) * 4], 3);
        BgrxRowToBgr(src.data(), dst.data(), width);
        EXPECT_EQ(dst, expected) << "width " << width;
    }
}

TEST(GstGrabber, HandsOutPassingBgrxFramesAsTwentyFourBitForAnRgb24Request) {
    SampleGrabberCore grabber;
    grabber.SetBufferSamples(true);
    auto callback = ComPtr<RecordingCallback>::Attach(new RecordingCallback);
    grabber.SetCallback(callback.Get(), 1);
    // 9 pixels a row: two groups of four packed together, then one alone.
    const int width = 9, height = 3, stride = (width * 3 + 3) & ~3;
    GrabberPipeline pipeline(grabber, width, height, "BGRx");
    std::vector<uint8_t> bgr = TestFrame(width, height, stride);
    for (size_t i = 0; i < bgr.size(); ++i)
        bgr[i] = uint8_t(bgr[i] ^ (i * 7));  // every byte in its place
    const std::vector<uint8_t> bgrx = ToBgrx(bgr, width, height, stride);
    pipeline.Push(bgrx);
    // Passed on untouched, in 32 bits.
    ASSERT_EQ(pipeline.PullPassedFrame(), bgrx);

    AM_MEDIA_TYPE mt{};
    ASSERT_EQ(grabber.GetConnectedMediaType(&mt), S_OK);
    EXPECT_EQ(mt.subtype, MEDIASUBTYPE_RGB24);
    ASSERT_EQ(mt.cbFormat, 88u);
    VIDEOINFOHEADER vih;
    std::memcpy(&vih, mt.pbFormat, sizeof vih);
    ClearMediaType(&mt);
    EXPECT_EQ(vih.bmiHeader.biBitCount, 24);
    EXPECT_EQ(vih.bmiHeader.biWidth, width);
    EXPECT_EQ(vih.bmiHeader.biHeight, height);
    EXPECT_EQ(vih.bmiHeader.biSizeImage, uint32_t(stride * height));

    // Handed out as the 24-bit frame would have been: bottom-up, padded.
    const std::vector<uint8_t> expected = BottomUp(bgr, width, height, stride);
    int32_t size = 0;
    ASSERT_EQ(grabber.GetCurrentBuffer(&size, nullptr), S_OK);
    ASSERT_EQ(size, int32_t(expected.size()));
    std::vector<uint8_t> kept(expected.size(), 0xAA);
    ASSERT_EQ(grabber.GetCurrentBuffer(&size, kept.data()), S_OK);
    EXPECT_EQ(kept, expected);
    // A smaller target gets the first bytes of that.
    int32_t part = 5;
    std::vector<uint8_t> small(5);
    ASSERT_EQ(grabber.GetCurrentBuffer(&part, small.data()), S_OK);
    EXPECT_EQ(small, std::vector<uint8_t>(expected.begin(), expected.begin() + 5));
    std::lock_guard<std::mutex> lock(callback->mutex);
    EXPECT_EQ(callback->last, expected);

    // Asked for RGB32, the same frames are handed out in 32 bits.
    AM_MEDIA_TYPE rgb32 = VideoType(MEDIASUBTYPE_RGB32);
    grabber.SetMediaType(&rgb32);
    ASSERT_EQ(grabber.GetCurrentBuffer(&size, nullptr), S_OK);
    EXPECT_EQ(size, width * 4 * height);
}

// The grabber holds the last frame that passed, not a copy of it, and lets
// it go when buffering stops.
TEST(GstGrabber, KeepsAReferenceToTheLastFrameThatPassed) {
    SampleGrabberCore grabber;
    grabber.SetBufferSamples(true);
    GrabberPipeline pipeline(grabber, 4, 2);
    const int stride = pipeline.Stride();
    std::vector<uint8_t> first = TestFrame(4, 2, stride), second = first;
    second[0] = 99;
    pipeline.Push(first);
    ASSERT_FALSE(pipeline.PullPassedFrame().empty());
    GstBuffer* last = gst_buffer_new_memdup(second.data(), second.size());
    pipeline.PushBuffer(gst_buffer_ref(last));
    ASSERT_FALSE(pipeline.PullPassedFrame().empty());
    std::vector<uint8_t> kept(size_t(stride) * 2);
    int32_t size = int32_t(kept.size());
    ASSERT_EQ(grabber.GetCurrentBuffer(&size, kept.data()), S_OK);
    EXPECT_EQ(kept, BottomUp(second, 4, 2, stride));

    // One of the references to that very buffer is the grabber's.
    const int held = GST_MINI_OBJECT_REFCOUNT_VALUE(last);
    grabber.SetBufferSamples(false);
    EXPECT_EQ(GST_MINI_OBJECT_REFCOUNT_VALUE(last), held - 1);
    grabber.SetBufferSamples(true);
    EXPECT_EQ(grabber.GetCurrentBuffer(&size, nullptr), VFW_E_WRONG_STATE);
    gst_buffer_unref(last);
}

// A callback that wants no frames is not called, and no frame is laid out
// for it; buffering goes on.
class IdleCallback : public RecordingCallback {
  public:
    bool WantsFrames() override { return wants.load(); }
    std::atomic<bool> wants{false};
};

TEST(GstGrabber, SkipsACallbackThatWantsNoFrames) {
    SampleGrabberCore grabber;
    grabber.SetBufferSamples(true);
    auto callback = ComPtr<IdleCallback>::Attach(new IdleCallback);
    grabber.SetCallback(callback.Get(), 1);
    GrabberPipeline pipeline(grabber, 2, 2);
    const auto frame = TestFrame(2, 2, pipeline.Stride());
    pipeline.Push(frame);
    ASSERT_FALSE(pipeline.PullPassedFrame().empty());
    EXPECT_EQ(callback->buffers.load(), 0);
    int32_t size = 0;
    EXPECT_EQ(grabber.GetCurrentBuffer(&size, nullptr), S_OK);

    callback->wants = true;
    pipeline.Push(frame);
    ASSERT_FALSE(pipeline.PullPassedFrame().empty());
    EXPECT_EQ(callback->buffers.load(), 1);
}

}  // namespace
}  // namespace media::gst
