// SPDX-License-Identifier: GPL-3.0-or-later
// A camera's raw frames converted by the renderer itself: byte for byte what
// GStreamer's converter gives in 32-bit BGRx, for each format taken, the
// colour matrices and ranges, both chroma sitings and odd widths (BGRx
// frames are checked with the renderer's painting).
#include <gst/gst.h>
#include <gst/video/video.h>
#include <gtest/gtest.h>

#include <QByteArray>
#include <random>
#include <string>
#include <vector>

#include "media/gst/GstRef.h"
#include "media/gst/RawFrames.h"
#include "media/tests/GstTestFeed.h"

namespace media::gst {
namespace {

struct RawCase {
    const char* caps;  // of the frame, whose bytes are random
};

class RawFramePicture : public ::testing::TestWithParam<RawCase> {};

TEST_P(RawFramePicture, EqualsTheConvertersByteForByte) {
    const std::string caps = std::string(GetParam().caps) + ",framerate=30/1";
    GstVideoInfo info;
    CapsRef parsed = CapsRef::Adopt(gst_caps_from_string(caps.c_str()));
    ASSERT_TRUE(gst_video_info_from_caps(&info, parsed.Get()));
    QByteArray frame(qsizetype(GST_VIDEO_INFO_SIZE(&info)), 0);
    std::mt19937 random(7);
    for (char& byte : frame)
        byte = char(random());
    GstRef<GstSample> sample = FirstSample(
        "appsrc name=in ! videoconvert ! video/x-raw,format=BGRx ! appsink name=out", frame,
        caps.c_str());
    ASSERT_TRUE(sample);
    GstMapInfo map;
    GstBuffer* converted = gst_sample_get_buffer(sample.Get());
    ASSERT_TRUE(gst_buffer_map(converted, &map, GST_MAP_READ));
    const size_t stride = size_t(GST_VIDEO_INFO_WIDTH(&info)) * 4;
    ASSERT_EQ(map.size, stride * size_t(GST_VIDEO_INFO_HEIGHT(&info)));
    const std::vector<uint8_t> expected(map.data, map.data + map.size);
    gst_buffer_unmap(converted, &map);

    std::vector<uint8_t> ours(expected.size() + 4, 0xEE);
    ASSERT_TRUE(ConvertRawFrame(info, reinterpret_cast<const uint8_t*>(frame.constData()),
                                GST_VIDEO_INFO_PLANE_STRIDE(&info, 0), ours.data(), stride));
    EXPECT_EQ(ours.back(), 0xEE) << "written past the frame";
    ours.resize(expected.size());
    size_t differing = 0, first = 0;
    for (size_t i = ours.size(); i-- > 0;)
        if (ours[i] != expected[i])
            ++differing, first = i;
    EXPECT_EQ(differing, 0u) << "the first at pixel " << first % stride / 4 << " of row "
                             << first / stride;
}

INSTANTIATE_TEST_SUITE_P(
    Formats, RawFramePicture,
    ::testing::Values(
        // Without colorimetry: BT.601 and centred chroma for SD, BT.709 and
        // co-sited chroma for HD.
        RawCase{"video/x-raw,format=YUY2,width=640,height=480"},
        RawCase{"video/x-raw,format=YUY2,width=1280,height=720"},
        RawCase{"video/x-raw,format=UYVY,width=322,height=24,colorimetry=bt709,chroma-site=jpeg"},
        RawCase{"video/x-raw,format=YVYU,width=35,height=7,colorimetry=bt601,chroma-site=mpeg2"},
        RawCase{"video/x-raw,format=YUY2,width=27,height=5,colorimetry=1:4:0:0"},  // full range
        RawCase{"video/x-raw,format=YUY2,width=64,height=4,colorimetry=bt2020"},
        RawCase{"video/x-raw,format=BGR,width=33,height=5"},
        RawCase{"video/x-raw,format=RGB,width=33,height=5"}));

TEST(RawFrames, TakesTheRenderersFormatsOnly) {
    GstVideoInfo info;
    gst_video_info_set_format(&info, GST_VIDEO_FORMAT_I420, 16, 16);
    std::vector<uint8_t> data(GST_VIDEO_INFO_SIZE(&info)), out(16 * 16 * 4);
    EXPECT_FALSE(ConvertRawFrame(info, data.data(), 16, out.data(), 64));
    EXPECT_FALSE(RawFrameRows(info).Ok());
    gst_video_info_set_format(&info, GST_VIDEO_FORMAT_YUY2, 16, 16);
    EXPECT_TRUE(RawFrameRows(info).Ok());
    EXPECT_FALSE(ConvertRawFrame(info, nullptr, 32, out.data(), 64));
}

}  // namespace
}  // namespace media::gst
