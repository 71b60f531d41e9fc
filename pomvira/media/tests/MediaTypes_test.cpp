// SPDX-License-Identifier: GPL-3.0-or-later
// Media type records: descriptions, the streamed "data" image, ownership of
// format blocks and interface references, and the layer's error path.
#include <gtest/gtest.h>

#include <cstring>

#include "media/MediaTypes.h"
#include "media/MediaUtil.h"
#include "media/fake/FakeMedia.h"

using namespace media;
using namespace media::fake;

namespace {

GUID Parse(const char* text) {
    GUID g;
    EXPECT_TRUE(GuidFromString(text, g)) << text;
    return g;
}

// A video type with a bitmap header at offset within a block of size bytes.
TMediaType VideoType(const GUID& subtype, const GUID& formattype, size_t size, size_t offset,
                     int32_t width, int32_t height, uint16_t bits, uint32_t compression) {
    TMediaType mt(MEDIATYPE_Video);
    mt.SetSubType(subtype);
    mt.SetFormatType(formattype);
    uint8_t* block = mt.AllocFormatBuffer(uint32_t(size));
    BITMAPINFOHEADER h{};
    h.biSize = 40;
    h.biWidth = width;
    h.biHeight = height;
    h.biPlanes = 1;
    h.biBitCount = bits;
    h.biCompression = compression;
    std::memcpy(block + offset, &h, sizeof h);
    return mt;
}

// Counts its references; lives on the stack of the test.
class Counted : public ComObject<IPersist> {
  public:
    HRESULT GetClassID(CLSID*) override { return S_OK; }
    uint32_t Refs() {
        uint32_t n = AddRef();
        Release();
        return n - 1;
    }
    ~Counted() override = default;
};

}  // namespace

TEST(DescribeMediaType, ExampleTexts) {
    EXPECT_EQ(VideoFormat(MEDIASUBTYPE_YUY2, 640, 480, 16).Description(),
              "Major Type: Video - Sub Type: YUY2 Format: VideoInfo YUY2 640X480, 16 bits");
    EXPECT_EQ(VideoFormat(MEDIASUBTYPE_RGB24, 320, 240, 24).Description(),
              "Major Type: Video - Sub Type: RGB24 Format: VideoInfo RGB 320X240, 24 bits");
    EXPECT_EQ(AudioFormat(44100, 16, 2).Description(),
              "Major Type: Audio - Sub Type: PCM Format: WaveFormatEx: PCM, 44100 Hertz, 16 "
              "Bits, 2 Channels");
    // A subtype outside the table: "UnKnown " and two blanks before Format.
    EXPECT_EQ(VideoFormat(MEDIASUBTYPE_I420, 640, 480, 12).Description(),
              "Major Type: Video - Sub Type: UnKnown  Format: VideoInfo I420 640X480, 12 bits");
    // Top-down frames keep their negative height.
    EXPECT_EQ(VideoFormat(MEDIASUBTYPE_RGB32, 640, -480, 32).Description(),
              "Major Type: Video - Sub Type: RGB32 Format: VideoInfo RGB 640X-480, 32 bits");
}

TEST(DescribeMediaType, NoFormatBlockGivesNoDetail) {
    TMediaType mt(MEDIATYPE_Video);
    mt.SetSubType(MEDIASUBTYPE_RGB24);
    mt.SetFormatType(FORMAT_VideoInfo);
    EXPECT_EQ(mt.Description(), "Major Type: Video - Sub Type: RGB24 Format: VideoInfo ");
    mt.SetFormatType(FORMAT_WaveFormatEx);
    EXPECT_TRUE(mt.Description().endsWith("Format: WaveFormatEx: "));
}

TEST(DescribeMediaType, HeaderOffsetsByFormatType) {
    EXPECT_TRUE(VideoType(MEDIASUBTYPE_UYVY, FORMAT_VideoInfo2, 112, 72, 720, 576, 16,
                          FourCC('U', 'Y', 'V', 'Y'))
                    .Description()
                    .endsWith("Format: VideoInfo2 UYVY 720X576, 16 bits"));
    EXPECT_TRUE(VideoType(MEDIASUBTYPE_MJPG, FORMAT_MPEGVideo, 88, 48, 352, 288, 24, 0)
                    .Description()
                    .endsWith("Format: MPEGVideo RGB 352X288, 24 bits"));
    EXPECT_TRUE(VideoType(MEDIASUBTYPE_MJPG, FORMAT_MPEG2Video, 112, 72, 720, 480, 24, 1)
                    .Description()
                    .endsWith("Format: MPEGStreams RLE8 720X480, 24 bits"));
    // A block too small for the header it should hold gives no detail
    // instead of reading past its end.
    EXPECT_TRUE(VideoType(MEDIASUBTYPE_RGB24, FORMAT_VideoInfo, 60, 0, 1, 1, 24, 0)
                    .Description()
                    .endsWith("Format: VideoInfo "));
}

TEST(DescribeMediaType, NameTables) {
    EXPECT_EQ(MajorTypeName(Parse("{0482DDE1-7817-11CF-8A03-00AA006ECB65}")), "Analogvideo");
    EXPECT_EQ(MajorTypeName(Parse("{73747874-0000-0010-8000-00AA00389B71}")), "Text");
    EXPECT_EQ(MajorTypeName(Parse("{74726C6D-0000-0010-8000-00AA00389B71}")), "LMRT");
    EXPECT_EQ(MajorTypeName(Parse("{E06D8020-DB46-11CF-B4D1-00805F6CBBEA}")), "MPEG2_PES");
    EXPECT_EQ(MajorTypeName(Parse("{11111111-0000-0010-8000-00AA00389B71}")), "UnKnown ");

    const std::pair<const char*, const char*> subs[] = {
        {"{E436EB7D-524F-11CE-9F53-0020AF0BA770}", "RGB24"},
        {"{E436EB78-524F-11CE-9F53-0020AF0BA770}", "RGB1"},
        {"{773C9AC0-3274-11D0-B724-00AA006C1A01}", "ARGB32"},
        {"{E436EB86-524F-11CE-9F53-0020AF0BA770}", "MPEG1Video"},
        {"{3DB80F90-9412-11D1-ADED-0000F8754B99}", "Asf"},
        {"{6E8D4A24-310C-11D0-B79A-00AA003767A7}", "Line21_VBIRawData"},
        {"{0482DDEC-7817-11CF-8A03-00AA006ECB65}", "AnalogVideo_PAL_N_COMBO"},
        {"{0482DDF6-7817-11CF-8A03-00AA006ECB65}", "AnalogVideo_SECAM_L"},
        {"{E06D8026-DB46-11CF-B4D1-00805F6CBBEA}", "MPEG2_VIDEO"},
        {"{E06D8034-DB46-11CF-B4D1-00805F6CBBEA}", "SDDS"},
        {"{E06D802F-DB46-11CF-B4D1-00805F6CBBEA}", "PCI"},
        {"{E06D8031-DB46-11CF-B4D1-00805F6CBBEA}", "PROVIDER"},
        {"{A0AF4F82-E163-11D0-BAD9-00609744111A}", "DssAudio"},
        {"{5A9B6A41-1A22-11D1-BAD9-00609744111A}", "VPVBI"},
        {"{64737664-0000-0010-8000-00AA00389B71}", "dvsd_"},
        {"{44535644-0000-0010-8000-00AA00389B71}", "DVSD"},
        {"{20636D73-0000-0010-8000-00AA00389B71}", "QTSmc"},
        {"{3234504D-0000-0010-8000-00AA00389B71}", "MS-MPEG4"},
        {"{00000050-0000-0010-8000-00AA00389B71}", "MPEG1AudioPayload"},
        {"{00000241-0000-0010-8000-00AA00389B71}", "SPDIF_TAG_241h"},
    };
    for (const auto& [guid, name] : subs)
        EXPECT_EQ(SubTypeName(Parse(guid)), name) << guid;

    EXPECT_EQ(WaveFormatTagName(85), "MPEGLAYER3");
    EXPECT_EQ(WaveFormatTagName(117), "VOXWARE");
    EXPECT_EQ(WaveFormatTagName(5120), "NORRIS");
    EXPECT_EQ(WaveFormatTagName(4), "Unknown");
}

TEST(DescribeMediaType, FormatPartsWithoutDetail) {
    TMediaType mt(MEDIATYPE_Stream);
    mt.SetFormatType(Parse("{E06D80E6-DB46-11CF-B4D1-00805F6CBBEA}"));
    EXPECT_EQ(mt.Description(), "Major Type: Stream - Sub Type: UnKnown  Format: DVD_LPCMAudio");
    mt.SetFormatType(FORMAT_None);
    EXPECT_TRUE(mt.Description().endsWith("Format: Unknown"));
}

TEST(CompressionText, CodesAndCharacters) {
    EXPECT_EQ(CompressionText(0), "RGB");
    EXPECT_EQ(CompressionText(1), "RLE8");
    EXPECT_EQ(CompressionText(2), "RLE4");
    EXPECT_EQ(CompressionText(3), "BITFIELDS");
    EXPECT_EQ(CompressionText(0x32595559), "YUY2");
    EXPECT_EQ(CompressionText(0x00004241), "AB");  // ends at the first zero byte
}

TEST(MediaTypeData, GrabberTypeIsThe72ByteImage) {
    TMediaType mt(MEDIATYPE_Video);
    mt.SetSubType(MEDIASUBTYPE_RGB24);
    mt.SetFormatType(FORMAT_VideoInfo);
    const std::vector<uint8_t> expected = {
        0x76, 0x69, 0x64, 0x73, 0x00, 0x00, 0x10, 0x00,
        0x80, 0x00, 0x00, 0xAA, 0x00, 0x38, 0x9B, 0x71,  // majortype Video
        0x7D, 0xEB, 0x36, 0xE4, 0x4F, 0x52, 0xCE, 0x11,
        0x9F, 0x53, 0x00, 0x20, 0xAF, 0x0B, 0xA7, 0x70,  // subtype RGB24
        0xFF, 0xFF, 0xFF, 0xFF,                          // bFixedSizeSamples
        0x00, 0x00, 0x00, 0x00,                          // bTemporalCompression
        0x01, 0x00, 0x00, 0x00,                          // lSampleSize
        0x80, 0x9F, 0x58, 0x05, 0x56, 0xC3, 0xCE, 0x11,
        0xBF, 0x01, 0x00, 0xAA, 0x00, 0x55, 0x59, 0x5A,  // FORMAT_VideoInfo
        0x00, 0x00, 0x00, 0x00,                          // pUnk
        0x00, 0x00, 0x00, 0x00,                          // cbFormat
        0x00, 0x00, 0x00, 0x00,                          // pbFormat
    };
    ASSERT_EQ(expected.size(), 72u);
    EXPECT_EQ(mt.WriteData(), expected);

    // Reading it gives the same record, without a format block; the pUnk
    // and pbFormat words carry no meaning.
    std::vector<uint8_t> stored = expected;
    stored[60] = 0xAB;
    stored[68] = 0xCD;
    TMediaType read(MEDIATYPE_Audio);
    read.AllocFormatBuffer(16);
    ASSERT_TRUE(read.ReadData(stored));
    EXPECT_TRUE(read.Equals(mt));
    EXPECT_EQ(read.AMMediaType()->bFixedSizeSamples, -1);
    EXPECT_EQ(read.AMMediaType()->lSampleSize, 1u);
    EXPECT_EQ(read.AMMediaType()->pUnk, nullptr);
    EXPECT_EQ(read.AMMediaType()->cbFormat, 0u);
    EXPECT_EQ(read.AMMediaType()->pbFormat, nullptr);
}

TEST(MediaTypeData, FormatBlockRoundTripAndShortInput) {
    const TMediaType yuy2 = VideoFormat(MEDIASUBTYPE_YUY2, 640, 480, 16);
    const std::vector<uint8_t> data = yuy2.WriteData();
    ASSERT_EQ(data.size(), 72u + 88u);
    TMediaType read;
    ASSERT_TRUE(read.ReadData(data));
    EXPECT_TRUE(read.Equals(yuy2));
    EXPECT_EQ(read.Description(), yuy2.Description());

    // A cut stream (length word promising more than is there) is refused
    // and leaves the record as it was.
    TMediaType keep = VideoFormat(MEDIASUBTYPE_RGB24, 320, 240, 24);
    const TMediaType before = keep;
    std::vector<uint8_t> cut(data.begin(), data.end() - 1);
    size_t pos = 0;
    EXPECT_FALSE(keep.ReadData(cut.data(), cut.size(), pos));
    EXPECT_EQ(pos, 0u);
    EXPECT_TRUE(keep.Equals(before));
    EXPECT_FALSE(keep.ReadData(std::vector<uint8_t>(71, 0)));
}

TEST(TMediaTypeObject, NewRecordCopyAndEquality) {
    TMediaType mt;
    EXPECT_EQ(mt.AMMediaType()->bFixedSizeSamples, -1);
    EXPECT_EQ(mt.AMMediaType()->lSampleSize, 1u);
    EXPECT_EQ(mt.FormatSize(), 0u);

    TMediaType a = VideoFormat(MEDIASUBTYPE_YUY2, 640, 480, 16);
    const uint8_t* block = a.Format();
    a.Assign(a);  // copying onto itself changes nothing
    EXPECT_EQ(a.Format(), block);
    EXPECT_TRUE(a.Description().endsWith("YUY2 640X480, 16 bits"));

    TMediaType b(a);
    EXPECT_NE(b.Format(), a.Format());
    EXPECT_TRUE(b.Equals(a));
    b.Format()[40] ^= 1;  // a format byte differs
    EXPECT_FALSE(b.Equals(a));
    b.ResetFormatBuffer();
    EXPECT_EQ(b.Format(), nullptr);
    EXPECT_FALSE(b.Equals(a));
}

TEST(MediaTypeRecords, InterfaceReferenceAndDispose) {
    Counted unk;  // starts with the test's own reference
    TMediaType mt = VideoFormat(MEDIASUBTYPE_RGB24, 2, 2, 24);
    mt.AMMediaType()->pUnk = &unk;
    unk.AddRef();  // owned by the record
    {
        AM_MEDIA_TYPE copy;
        DuplicateMediaType(&copy, mt.AMMediaType());
        EXPECT_EQ(unk.Refs(), 3u);
        EXPECT_NE(copy.pbFormat, mt.Format());
        ClearMediaType(&copy);
        EXPECT_EQ(copy.pUnk, nullptr);
        EXPECT_EQ(copy.cbFormat, 0u);
        EXPECT_EQ(unk.Refs(), 2u);
    }
    AM_MEDIA_TYPE* handed = CreateMediaType(mt.AMMediaType());
    EXPECT_EQ(unk.Refs(), 3u);
    DisposeMediaType(handed);
    DisposeMediaType(nullptr);
    EXPECT_EQ(unk.Refs(), 2u);
    mt.ResetFormatBuffer();  // leaves pUnk alone
    EXPECT_EQ(unk.Refs(), 2u);
    ClearMediaType(mt.AMMediaType());
    EXPECT_EQ(unk.Refs(), 1u);
}

TEST(TEnumMediaTypeList, ReadFromPinAndItemText) {
    FakeMediaSystem sys;
    FakeDevice& cam = sys.AddVideoDevice(
        "Cam", {VideoFormat(MEDIASUBTYPE_YUY2, 640, 480, 16), AudioFormat(8000, 8, 1)});
    ComPtr<IBaseFilter> filter =
        ComPtr<IBaseFilter>::Attach(static_cast<IBaseFilter*>(sys.CreateDeviceFilter(cam)));
    TPinList pins(filter.Get());
    TEnumMediaType types(pins.FirstPin().Get());
    ASSERT_EQ(types.Count(), 2);
    EXPECT_EQ(types.ItemText(0),
              "Major Type: Video - Sub Type: YUY2 Format: VideoInfo YUY2 640X480, 16 bits");
    EXPECT_TRUE(types.ItemText(1).endsWith("PCM, 8000 Hertz, 8 Bits, 1 Channels"));
    EXPECT_EQ(types.ItemText(-1), "");
    EXPECT_EQ(types.ItemText(2), "");
    EXPECT_THROW(types.Item(2), EListError);
    types.ReadFromPin(pins.FirstPin().Get());  // refilled, not appended
    EXPECT_EQ(types.Count(), 2);
}

TEST(CheckGraphResult, SuccessPassesFailureRaises) {
    FakeMediaSystem sys;
    EXPECT_EQ(CheckGraphResult(S_OK), S_OK);
    EXPECT_EQ(CheckGraphResult(S_FALSE), S_FALSE);
    try {
        CheckGraphResult(E_FAIL);
        FAIL() << "no exception";
    } catch (const EDirectShowException& e) {
        EXPECT_EQ(e.Message(), "Unspecified error ($80004005).");
        EXPECT_STREQ(e.what(), "Unspecified error ($80004005).");
        EXPECT_EQ(e.Result(), E_FAIL);
    }
    // Only the code is upper-cased; a code without a text keeps the suffix.
    sys.SetErrorText(HR(0x8004020B), "a runtime error occurred");
    EXPECT_THROW(
        {
            try {
                CheckGraphResult(HR(0x8004020B));
            } catch (const EDirectShowException& e) {
                EXPECT_EQ(e.Message(), "a runtime error occurred ($8004020B).");
                throw;
            }
        },
        EDirectShowException);
    try {
        CheckGraphResult(HR(0x80040999));
    } catch (const EDirectShowException& e) {
        EXPECT_EQ(e.Message(), " ($80040999).");
    }
}

TEST(GraphErrorText, CutAt255Characters) {
    FakeMediaSystem sys;
    sys.SetErrorText(E_ABORT, std::string(400, 'x'));
    EXPECT_EQ(GraphErrorText(E_ABORT).size(), 255);
    EXPECT_EQ(GraphErrorText(HR(0x80040999)), "");
}
