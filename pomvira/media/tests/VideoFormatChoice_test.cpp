// SPDX-License-Identifier: GPL-3.0-or-later
// The first format of a camera: format lists of real webcams as their V4L2
// drivers report them (v4l2-ctl --list-formats-ext, in the driver's order),
// work areas of common screens, and the record-level adapter.
#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

#include "media/MediaTypes.h"
#include "media/VideoFormatChoice.h"

using namespace media;

namespace {

// One size of a listing with its rates.
struct TSize {
    const char* format;  // "YUYV" (raw) or "MJPG"
    int width, height;
    std::vector<double> rates;
};

std::vector<TVideoOffer> Offers(const std::vector<TSize>& listing) {
    std::vector<TVideoOffer> offers;
    for (const TSize& s : listing) {
        for (double rate : s.rates)
            offers.push_back({s.width, s.height, rate, std::strcmp(s.format, "MJPG") == 0});
    }
    return offers;
}

// The preview's frame adds 36 x 56 pixels and the panel below it is 72 high.
struct TArea {
    int width, height;
    int MaxWidth() const { return width - 36; }
    int MaxHeight() const { return height - 56 - 72; }
};

std::string Chosen(const std::vector<TSize>& listing, TArea area) {
    const std::vector<TVideoOffer> offers = Offers(listing);
    const int i = ChooseFirstVideoFormat(offers, area.MaxWidth(), area.MaxHeight());
    if (i < 0)
        return "none";
    const TVideoOffer& o = offers[size_t(i)];
    return std::string(o.Compressed ? "MJPG " : "YUYV ") + std::to_string(o.Width) + "x" +
           std::to_string(o.Height) + " " + std::to_string(int(o.Rate * 10 + 0.5) / 10) +
           (int(o.Rate * 10 + 0.5) % 10 ? "." + std::to_string(int(o.Rate * 10 + 0.5) % 10) : "");
}

const std::vector<double> k30_5 = {30, 25, 20, 15, 10, 5};
const std::vector<double> kC920Rates = {30, 24, 20, 15, 10, 7.5, 5};

// Logitech HD Pro Webcam C920.
const std::vector<TSize> kC920 = {
    {"YUYV", 640, 480, kC920Rates},
    {"YUYV", 160, 90, kC920Rates},
    {"YUYV", 160, 120, kC920Rates},
    {"YUYV", 176, 144, kC920Rates},
    {"YUYV", 320, 180, kC920Rates},
    {"YUYV", 320, 240, kC920Rates},
    {"YUYV", 352, 288, kC920Rates},
    {"YUYV", 432, 240, kC920Rates},
    {"YUYV", 640, 360, kC920Rates},
    {"YUYV", 800, 448, kC920Rates},
    {"YUYV", 800, 600, {24, 20, 15, 10, 7.5, 5}},
    {"YUYV", 864, 480, {24, 20, 15, 10, 7.5, 5}},
    {"YUYV", 960, 720, {15, 10, 7.5, 5}},
    {"YUYV", 1024, 576, {15, 10, 7.5, 5}},
    {"YUYV", 1280, 720, {10, 7.5, 5}},
    {"YUYV", 1600, 896, {7.5, 5}},
    {"YUYV", 1920, 1080, {5}},
    {"YUYV", 2304, 1296, {2}},
    {"YUYV", 2304, 1536, {2}},
    {"MJPG", 640, 480, kC920Rates},
    {"MJPG", 160, 90, kC920Rates},
    {"MJPG", 160, 120, kC920Rates},
    {"MJPG", 176, 144, kC920Rates},
    {"MJPG", 320, 180, kC920Rates},
    {"MJPG", 320, 240, kC920Rates},
    {"MJPG", 352, 288, kC920Rates},
    {"MJPG", 432, 240, kC920Rates},
    {"MJPG", 640, 360, kC920Rates},
    {"MJPG", 800, 448, kC920Rates},
    {"MJPG", 800, 600, kC920Rates},
    {"MJPG", 864, 480, kC920Rates},
    {"MJPG", 960, 720, kC920Rates},
    {"MJPG", 1024, 576, kC920Rates},
    {"MJPG", 1280, 720, kC920Rates},
    {"MJPG", 1600, 896, kC920Rates},
    {"MJPG", 1920, 1080, kC920Rates},
};

// Logitech HD Webcam C270 (sizes up to 1280 x 960; raw beyond 640 x 480 is slow).
const std::vector<TSize> kC270 = {
    {"YUYV", 640, 480, k30_5},           {"YUYV", 160, 120, k30_5},
    {"YUYV", 176, 144, k30_5},           {"YUYV", 320, 176, k30_5},
    {"YUYV", 320, 240, k30_5},           {"YUYV", 352, 288, k30_5},
    {"YUYV", 432, 240, k30_5},           {"YUYV", 544, 288, k30_5},
    {"YUYV", 640, 360, k30_5},           {"YUYV", 752, 416, {25, 20, 15, 10, 5}},
    {"YUYV", 800, 448, {20, 15, 10, 5}}, {"YUYV", 800, 600, {20, 15, 10, 5}},
    {"YUYV", 864, 480, {20, 15, 10, 5}}, {"YUYV", 960, 544, {15, 10, 5}},
    {"YUYV", 960, 720, {10, 5}},         {"YUYV", 1024, 576, {10, 5}},
    {"YUYV", 1184, 656, {10, 5}},        {"YUYV", 1280, 720, {10, 5}},
    {"YUYV", 1280, 960, {7.5, 5}},       {"MJPG", 640, 480, k30_5},
    {"MJPG", 160, 120, k30_5},           {"MJPG", 176, 144, k30_5},
    {"MJPG", 320, 176, k30_5},           {"MJPG", 320, 240, k30_5},
    {"MJPG", 352, 288, k30_5},           {"MJPG", 432, 240, k30_5},
    {"MJPG", 544, 288, k30_5},           {"MJPG", 640, 360, k30_5},
    {"MJPG", 752, 416, k30_5},           {"MJPG", 800, 448, k30_5},
    {"MJPG", 800, 600, k30_5},           {"MJPG", 864, 480, k30_5},
    {"MJPG", 960, 544, k30_5},           {"MJPG", 960, 720, k30_5},
    {"MJPG", 1024, 576, k30_5},          {"MJPG", 1184, 656, k30_5},
    {"MJPG", 1280, 720, k30_5},          {"MJPG", 1280, 960, k30_5},
};

// Microsoft LifeCam HD-3000: one rate per size.
const std::vector<TSize> kLifeCam = {
    {"YUYV", 640, 480, {30}}, {"YUYV", 1280, 720, {10}}, {"YUYV", 960, 544, {15}},
    {"YUYV", 800, 448, {30}}, {"YUYV", 640, 360, {30}},  {"YUYV", 424, 240, {30}},
    {"YUYV", 352, 288, {30}}, {"YUYV", 320, 240, {30}},  {"YUYV", 176, 144, {30}},
    {"YUYV", 160, 120, {30}}, {"MJPG", 640, 480, {30}},  {"MJPG", 1280, 720, {30}},
    {"MJPG", 960, 544, {30}}, {"MJPG", 800, 448, {30}},  {"MJPG", 640, 360, {30}},
    {"MJPG", 424, 240, {30}}, {"MJPG", 352, 288, {30}},  {"MJPG", 320, 240, {30}},
    {"MJPG", 176, 144, {30}}, {"MJPG", 160, 120, {30}},
};

// A raw-only document camera (2 Mpixel sensor over USB 2.0): nothing at 25.
const std::vector<TSize> kDocumentCamera = {
    {"YUYV", 1600, 1200, {5}},           {"YUYV", 1280, 960, {7.5}},
    {"YUYV", 1024, 768, {10, 5}},        {"YUYV", 800, 600, {15, 10, 5}},
    {"YUYV", 640, 480, {20, 15, 10, 5}},
};

// The built-in test camera's webcam profile.
const std::vector<TSize> kWebcamProfile = {
    {"YUYV", 1920, 1080, {5}}, {"YUYV", 1280, 720, {10, 5}}, {"YUYV", 640, 480, k30_5},
    {"YUYV", 320, 240, k30_5}, {"MJPG", 1920, 1080, k30_5},  {"MJPG", 1280, 720, k30_5},
    {"MJPG", 800, 600, k30_5}, {"MJPG", 640, 480, k30_5},    {"MJPG", 320, 240, k30_5},
};

const TArea k1600x1200{1600, 1200};
const TArea k1024x768{1024, 768};
const TArea kFullHdWithTaskBar{1920, 1040};
const TArea k1366x728{1366, 728};  // a laptop's 1366 x 768 less a 40-pixel task bar

TEST(VideoFormatChoiceTest, LargestSmoothSizeThatFitsOnCommonScreens) {
    EXPECT_EQ(Chosen(kWebcamProfile, k1600x1200), "MJPG 1280x720 30");
    EXPECT_EQ(Chosen(kWebcamProfile, k1024x768), "MJPG 800x600 30");
    EXPECT_EQ(Chosen(kWebcamProfile, kFullHdWithTaskBar), "MJPG 1280x720 30");

    // 1600 x 896 framed is 1636 wide: too wide for 1600, right for full HD.
    EXPECT_EQ(Chosen(kC920, k1600x1200), "MJPG 1280x720 30");
    EXPECT_EQ(Chosen(kC920, kFullHdWithTaskBar), "MJPG 1600x896 30");
    EXPECT_EQ(Chosen(kC920, k1024x768), "MJPG 800x600 30");
    EXPECT_EQ(Chosen(kC920, k1366x728), "MJPG 1024x576 30");

    EXPECT_EQ(Chosen(kC270, k1600x1200), "MJPG 1280x960 30");
    EXPECT_EQ(Chosen(kC270, k1024x768), "MJPG 960x544 30");

    EXPECT_EQ(Chosen(kLifeCam, k1600x1200), "MJPG 1280x720 30");
    EXPECT_EQ(Chosen(kLifeCam, k1024x768), "MJPG 960x544 30");
}

TEST(VideoFormatChoiceTest, RawWinsOnlyAtEqualSizeAndRate) {
    // 800 x 448 is the largest size that fits: raw and MJPG both give 30.
    EXPECT_EQ(Chosen(kLifeCam, TArea{800 + 36, 500 + 128}), "YUYV 800x448 30");
    // Also when the camera lists MJPG first.
    const std::vector<TSize> mjpgFirst = {{"MJPG", 640, 480, {30}}, {"YUYV", 640, 480, {30}}};
    EXPECT_EQ(Chosen(mjpgFirst, k1024x768), "YUYV 640x480 30");
    // The C270's raw 752 x 416 reaches only 25: MJPG at 30 comes first.
    EXPECT_EQ(Chosen(kC270, TArea{760 + 36, 420 + 128}), "MJPG 752x416 30");
    // The webcam profile's raw 640 x 480 at 30 beats its MJPG 640 x 480.
    EXPECT_EQ(Chosen(kWebcamProfile, TArea{700 + 36, 500 + 128}), "YUYV 640x480 30");
    // The C920 at 24 fps does not count as smooth: 864 x 480 raw loses to
    // MJPG of that size at 30.
    EXPECT_EQ(Chosen(kC920, TArea{870 + 36, 490 + 128}), "MJPG 864x480 30");
}

TEST(VideoFormatChoiceTest, WithoutASmoothFormatTheFastestThatFits) {
    EXPECT_EQ(Chosen(kDocumentCamera, k1600x1200), "YUYV 640x480 20");
    // A rate of 24.99 is below 25; the fastest wins over the larger.
    const std::vector<TSize> nearly = {{"YUYV", 1280, 720, {24.99}}, {"YUYV", 640, 480, {24.99}}};
    EXPECT_EQ(Chosen(nearly, k1600x1200), "YUYV 1280x720 25");
    const std::vector<TSize> nearlyAndSlow = {{"YUYV", 1280, 720, {15}},
                                              {"YUYV", 640, 480, {24.99}}};
    EXPECT_EQ(Chosen(nearlyAndSlow, k1600x1200), "YUYV 640x480 25");
    // NTSC-style 29.97 counts as smooth.
    const std::vector<TSize> ntsc = {{"YUYV", 320, 240, {30}},
                                     {"YUYV", 720, 480, {30000.0 / 1001}}};
    EXPECT_EQ(Chosen(ntsc, k1024x768), "YUYV 720x480 30");
}

TEST(VideoFormatChoiceTest, NothingFitsOrNothingToChooseFrom) {
    // A work area smaller than every frame: the smallest size, at its best rate.
    EXPECT_EQ(Chosen(kWebcamProfile, TArea{300, 300}), "YUYV 320x240 30");
    EXPECT_EQ(Chosen(kC920, TArea{100, 100}), "YUYV 160x90 30");
    EXPECT_EQ(Chosen({}, k1600x1200), "none");
    // Formats that state no rate leave the device's own choice.
    EXPECT_EQ(ChooseFirstVideoFormat({{640, 480, 0, false}, {320, 240, 0, false}}, 1000, 1000), -1);
    // Ties keep the listing order.
    EXPECT_EQ(ChooseFirstVideoFormat({{640, 480, 30, true}, {640, 480, 30, true}}, 1000, 1000), 0);
}

TEST(VideoFormatChoiceTest, OffersReadFromMediaTypeRecords) {
    auto record = [](const GUID& subtype, int width, int height, REFERENCE_TIME perFrame) {
        TMediaType mt(MEDIATYPE_Video);
        mt.SetSubType(subtype);
        VIDEOINFOHEADER vih;
        std::memset(&vih, 0, sizeof vih);
        vih.AvgTimePerFrame = perFrame;
        vih.bmiHeader.biWidth = width;
        vih.bmiHeader.biHeight = height;
        mt.SetFormat(FORMAT_VideoInfo, &vih, sizeof vih);
        return mt;
    };
    TVideoOffer o = VideoOfferOf(*record(MEDIASUBTYPE_MJPG, 1280, 720, 333333).AMMediaType());
    EXPECT_EQ(o.Width, 1280);
    EXPECT_EQ(o.Height, 720);
    EXPECT_NEAR(o.Rate, 30.0, 0.001);
    EXPECT_TRUE(o.Compressed);
    // A top-down raw format: the height counts without its sign.
    o = VideoOfferOf(*record(MEDIASUBTYPE_RGB24, 320, -240, 0).AMMediaType());
    EXPECT_EQ(o.Height, 240);
    EXPECT_EQ(o.Rate, 0);
    EXPECT_FALSE(o.Compressed);
    EXPECT_FALSE(
        VideoOfferOf(*record(MEDIASUBTYPE_YUY2, 640, 480, 400000).AMMediaType()).Compressed);
    // An audio record or one without format block is no offer.
    TMediaType audio(MEDIATYPE_Audio);
    EXPECT_EQ(VideoOfferOf(*audio.AMMediaType()).Width, 0);
    TMediaType bare(MEDIATYPE_Video);
    EXPECT_EQ(VideoOfferOf(*bare.AMMediaType()).Width, 0);
}

}  // namespace
