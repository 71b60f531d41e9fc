// SPDX-License-Identifier: GPL-3.0-or-later
// A camera's JPEG frames decoded by the layer's own libjpeg-turbo decoding:
// the picture equals what GStreamer's jpegdec and converter give, within
// rounding, at the full size and at the DCT scales that cover a smaller
// area; the scale chosen for an area; stills as bottom-up 24-bit rows; and
// frames that cannot be decoded.
#include <gst/gst.h>
#include <gst/video/video.h>
#include <gtest/gtest.h>

#include <QImage>
#include <algorithm>
#include <cstdlib>
#include <string>
#include <utility>
#include <vector>

#include "media/gst/GstRef.h"
#include "media/gst/JpegFrames.h"
#include "media/tests/GstTestFeed.h"

namespace media::gst {
namespace {

// The frame as jpegdec and videoconvert give it, in Qt's RGB32.
QImage JpegdecPicture(const QByteArray& jpeg) {
    GstRef<GstSample> sample = FirstSample(
        "appsrc name=in ! jpegdec ! videoconvert ! video/x-raw,format=BGRx ! appsink name=out",
        jpeg, "image/jpeg,framerate=30/1");
    GstVideoInfo info;
    GstVideoFrame frame;
    if (!sample || !gst_video_info_from_caps(&info, gst_sample_get_caps(sample.Get())) ||
        !gst_video_frame_map(&frame, &info, gst_sample_get_buffer(sample.Get()), GST_MAP_READ))
        return QImage();
    QImage picture = QImage(static_cast<const uchar*>(GST_VIDEO_FRAME_PLANE_DATA(&frame, 0)),
                            GST_VIDEO_FRAME_WIDTH(&frame), GST_VIDEO_FRAME_HEIGHT(&frame),
                            GST_VIDEO_FRAME_PLANE_STRIDE(&frame, 0), QImage::Format_RGB32)
                         .copy();
    gst_video_frame_unmap(&frame);
    return picture;
}

const uint8_t* Bytes(const QByteArray& data) {
    return reinterpret_cast<const uint8_t*>(data.constData());
}

// How far a picture decoded at 1/denom lies from the full picture's
// average over each denom x denom block: the largest difference of a
// colour, and the largest where the full picture is of one colour over the
// whole 16 x 16 block of the frame around it (away from the bars' edges,
// where DCT scaling rings and differs from a box filter by more than
// rounding), and the mean difference. A block cut by the frame's edge is
// left out: the DCT mixes the encoder's padding beyond the edge into it.
struct Difference {
    int largest = 0;
    int largestAwayFromEdges = 0;
    double mean = 0;
};

Difference Compare(const QImage& scaled, const QImage& full, int denom) {
    // Whether the full picture is of one colour (within 4) over a block.
    auto uniform = [&](int x0, int y0) {
        int low[3] = {255, 255, 255}, high[3] = {0, 0, 0};
        for (int y = y0; y < std::min(y0 + 16, full.height()); ++y)
            for (int x = x0; x < std::min(x0 + 16, full.width()); ++x)
                for (int c = 0; c < 3; ++c) {
                    const int v = int(full.pixel(x, y) >> (8 * c) & 0xff);
                    low[c] = std::min(low[c], v);
                    high[c] = std::max(high[c], v);
                }
        return high[0] - low[0] <= 4 && high[1] - low[1] <= 4 && high[2] - low[2] <= 4;
    };
    Difference d;
    long count = 0;
    for (int y = 0; y < scaled.height() && (y + 1) * denom <= full.height(); ++y) {
        for (int x = 0; x < scaled.width() && (x + 1) * denom <= full.width(); ++x) {
            const QRgb got = scaled.pixel(x, y);
            const bool plain = uniform(x * denom / 16 * 16, y * denom / 16 * 16);
            for (int shift : {0, 8, 16}) {
                int sum = 0, n = 0;
                for (int dy = 0; dy < denom; ++dy)
                    for (int dx = 0; dx < denom; ++dx, ++n)
                        sum += int(full.pixel(x * denom + dx, y * denom + dy) >> shift & 0xff);
                const int diff = std::abs(int(got >> shift & 0xff) - (sum + n / 2) / n);
                d.mean += diff;
                d.largest = std::max(d.largest, diff);
                if (plain)
                    d.largestAwayFromEdges = std::max(d.largestAwayFromEdges, diff);
                ++count;
            }
        }
    }
    d.mean /= double(count);
    return d;
}

struct PictureCase {
    const char* layout;
    int width, height;
    // Every colour within rounding at the full size (with 4:4:4 frames,
    // jpegdec takes a bar edge's chroma from its neighbour).
    bool everyColourAtFullSize;
};

class JpegFramePicture : public ::testing::TestWithParam<PictureCase> {};

// At the full size, every colour within rounding of jpegdec's; at 1/2, 1/4
// and 1/8 each pixel is the average of its block of jpegdec's picture
// within rounding, but near the bars' sharp edges.
TEST_P(JpegFramePicture, EqualsJpegdecsWithinRoundingAtEveryScale) {
    const PictureCase c = GetParam();
    const QByteArray jpeg = JpegBars(c.width, c.height, c.layout);
    ASSERT_FALSE(jpeg.isEmpty());
    const QImage reference = JpegdecPicture(jpeg);
    ASSERT_EQ(reference.size(), QSize(c.width, c.height));

    const QImage full = DecodeJpegFrame(Bytes(jpeg), size_t(jpeg.size()), QSize());
    ASSERT_EQ(full.size(), reference.size());
    ASSERT_EQ(full.format(), QImage::Format_RGB32);
    const Difference d = Compare(full, reference, 1);
    EXPECT_LE(c.everyColourAtFullSize ? d.largest : d.largestAwayFromEdges, 8);
    EXPECT_LT(d.mean, 2.0);
    EXPECT_EQ(qAlpha(full.pixel(0, 0)), 255) << "the unused byte reads 0xff, as RGB32 needs";

    for (int denom : {2, 4, 8}) {
        SCOPED_TRACE("1/" + std::to_string(denom));
        const QSize area(c.width / denom, c.height / denom);
        const QImage scaled = DecodeJpegFrame(Bytes(jpeg), size_t(jpeg.size()), area);
        ASSERT_EQ(scaled.size(),
                  QSize((c.width + denom - 1) / denom, (c.height + denom - 1) / denom));
        const Difference s = Compare(scaled, reference, denom);
        EXPECT_LE(s.largestAwayFromEdges, 8);
        EXPECT_LT(s.mean, 6.0);
    }
}

INSTANTIATE_TEST_SUITE_P(Layouts, JpegFramePicture,
                         ::testing::Values(PictureCase{"I420", 640, 480, true},
                                           PictureCase{"Y42B", 640, 480, true},
                                           PictureCase{"Y444", 320, 240, false},
                                           PictureCase{"I420", 642, 362, true}));

TEST(JpegFrames, ScaleIsTheSmallestPictureThatCoversTheArea) {
    struct Case {
        int width, height;
        QSize area;
        int denom;
    };
    const Case cases[] = {
        {1920, 1080, QSize(), 1},           {1920, 1080, QSize(0, 540), 1},
        {1920, 1080, QSize(2560, 1440), 1}, {1920, 1080, QSize(961, 540), 1},
        {1920, 1080, QSize(960, 540), 2},   {1920, 1080, QSize(960, 541), 1},
        {1920, 1080, QSize(480, 270), 4},   {1920, 1080, QSize(240, 135), 8},
        {1920, 1080, QSize(70, 47), 8},     {1280, 720, QSize(640, 100), 2},
        {1921, 1081, QSize(961, 541), 2},   {640, 480, QSize(161, 120), 2},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(JpegScaleFor(c.width, c.height, c.area), c.denom)
            << c.width << "x" << c.height << " in " << c.area.width() << "x" << c.area.height();
    }
}

// A still: the full size, 24-bit rows bottom-up, each padded with zeros;
// the same colours as the preview's decoding.
TEST(JpegFrames, DecodesAStillAsBottomUpTwentyFourBitRows) {
    const int width = 322, height = 240;  // 966 bytes a row, padded to 968
    const QByteArray jpeg = JpegBars(width, height);
    const QImage picture = DecodeJpegFrame(Bytes(jpeg), size_t(jpeg.size()), QSize());
    ASSERT_EQ(picture.size(), QSize(width, height));
    const size_t stride = 968;
    std::vector<uint8_t> still(stride * height, 0xAA);
    ASSERT_TRUE(DecodeJpegFrameToBgr(Bytes(jpeg), size_t(jpeg.size()), width, height, still.data(),
                                     stride, true));
    auto asImage = [&](const std::vector<uint8_t>& rows) {
        return QImage(rows.data(), width, height, qsizetype(stride), QImage::Format_BGR888)
            .convertToFormat(QImage::Format_RGB32);
    };
    EXPECT_EQ(asImage(still).mirrored(), picture);
    for (size_t padding = width * 3; padding < still.size(); padding += stride) {
        EXPECT_EQ(still[padding], 0);
        EXPECT_EQ(still[padding + 1], 0);
    }
    // Top-down, too.
    std::vector<uint8_t> upright(stride * height);
    ASSERT_TRUE(DecodeJpegFrameToBgr(Bytes(jpeg), size_t(jpeg.size()), width, height,
                                     upright.data(), stride, false));
    EXPECT_EQ(asImage(upright), picture);
}

// The preview decodes into the image it is given when that fits: no new
// memory per frame.
TEST(JpegFrames, DecodesIntoTheImageItIsGiven) {
    const QByteArray jpeg = JpegBars(320, 240);
    QImage target(160, 120, QImage::Format_RGB32);
    const uchar* memory = target.constBits();
    QSize asked;
    const QImage decoded =
        DecodeJpegFrame(Bytes(jpeg), size_t(jpeg.size()), QSize(160, 120), [&](const QSize& size) {
            asked = size;
            return std::exchange(target, QImage());
        });
    EXPECT_EQ(asked, QSize(160, 120));
    EXPECT_EQ(decoded.constBits(), memory);
    // An image of another size is not used.
    QImage wrong(10, 10, QImage::Format_RGB32);
    const QImage fresh = DecodeJpegFrame(Bytes(jpeg), size_t(jpeg.size()), QSize(),
                                         [&](const QSize&) { return wrong; });
    EXPECT_EQ(fresh.size(), QSize(320, 240));
}

TEST(JpegFrames, FramesThatCannotBeDecodedGiveNothing) {
    const QByteArray jpeg = JpegBars(64, 48);
    ASSERT_FALSE(jpeg.isEmpty());
    std::vector<uint8_t> still(size_t(64 * 3) * 48);
    int w = 0, h = 0;
    ASSERT_TRUE(JpegFrameSize(Bytes(jpeg), size_t(jpeg.size()), &w, &h));
    EXPECT_EQ(QSize(w, h), QSize(64, 48));

    // Not a JPEG image, or nothing at all.
    const QByteArray junk(1000, 'x');
    EXPECT_TRUE(DecodeJpegFrame(Bytes(junk), size_t(junk.size()), QSize()).isNull());
    EXPECT_FALSE(
        DecodeJpegFrameToBgr(Bytes(junk), size_t(junk.size()), 64, 48, still.data(), 64 * 3, true));
    EXPECT_TRUE(DecodeJpegFrame(nullptr, 0, QSize()).isNull());
    EXPECT_FALSE(JpegFrameSize(Bytes(junk), size_t(junk.size()), &w, &h));
    // A frame of another size than the connected one is no still.
    EXPECT_FALSE(
        DecodeJpegFrameToBgr(Bytes(jpeg), size_t(jpeg.size()), 32, 48, still.data(), 64 * 3, true));
    // Too small a stride.
    EXPECT_FALSE(
        DecodeJpegFrameToBgr(Bytes(jpeg), size_t(jpeg.size()), 64, 48, still.data(), 100, true));
    // Cut short after its header: the missing rows come out grey.
    const QByteArray cut = jpeg.left(jpeg.size() / 2);
    const QImage partial = DecodeJpegFrame(Bytes(cut), size_t(cut.size()), QSize());
    EXPECT_EQ(partial.size(), QSize(64, 48));
    // A header that declares 65535 x 65535 pixels is refused before decoding.
    QByteArray huge = jpeg;
    const int sof = huge.indexOf(QByteArray("\xff\xc0", 2));
    ASSERT_GT(sof, 0);
    for (int i = 5; i <= 8; ++i)
        huge[sof + i] = char(0xff);
    EXPECT_TRUE(DecodeJpegFrame(Bytes(huge), size_t(huge.size()), QSize()).isNull());
}

}  // namespace
}  // namespace media::gst
