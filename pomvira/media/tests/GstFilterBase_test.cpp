// SPDX-License-Identifier: GPL-3.0-or-later
// The filter and pin base classes of the GStreamer boundary and the media
// type conversions, without a graph.
#include <gst/gst.h>
#include <gtest/gtest.h>

#include "media/gst/BinFilter.h"
#include "media/gst/GstMediaSystem.h"
#include "media/gst/MediaTypes.h"

using namespace media;
using namespace media::gst;

namespace {

class IdentityFilter : public BinFilter {
  public:
    IdentityFilter() : BinFilter(CLSID_SampleGrabber, gst_bin_new(nullptr)) {
        GstElement* e = gst_element_factory_make("identity", nullptr);
        gst_bin_add(GST_BIN(Bin()), e);
        ExposePad(gst_element_get_static_pad(e, "sink"), u"Input");
        ExposePad(gst_element_get_static_pad(e, "src"), u"Output");
    }
};

CapsRef Caps(const char* text) {
    return CapsRef::Adopt(gst_caps_from_string(text));
}

class GstFilterBase : public ::testing::Test {
  protected:
    void SetUp() override { GstMediaSystem(); }
};

}  // namespace

TEST_F(GstFilterBase, VideoCapsBecomeVideoInfoHeaders) {
    struct Case {
        const char* caps;
        GUID subtype;
        uint32_t compression;
        uint16_t bits;
        uint32_t imageSize;
    } cases[] = {
        {"video/x-raw,format=YUY2,width=640,height=480,framerate=30/1", MEDIASUBTYPE_YUY2,
         FourCC('Y', 'U', 'Y', '2'), 16, 640 * 480 * 2},
        {"video/x-raw,format=I420,width=320,height=240,framerate=15/1", MEDIASUBTYPE_I420,
         FourCC('I', '4', '2', '0'), 12, 320 * 240 * 3 / 2},
        {"video/x-raw,format=BGR,width=21,height=10,framerate=30/1", MEDIASUBTYPE_RGB24, BI_RGB, 24,
         64 * 10},
        {"video/x-raw,format=BGRx,width=8,height=2,framerate=30/1", MEDIASUBTYPE_RGB32, BI_RGB, 32,
         64},
        {"video/x-raw,format=RGB16,width=3,height=2,framerate=30/1", MEDIASUBTYPE_RGB565, BI_RGB,
         16, 8 * 2},
        // A planar frame with odd sides is as large as GStreamer lays it
        // out (rows padded to 4 bytes, heights rounded up to even).
        {"video/x-raw,format=I420,width=7,height=5,framerate=30/1", MEDIASUBTYPE_I420,
         FourCC('I', '4', '2', '0'), 12, 8 * 6 + 2 * 4 * 3},
        {"image/jpeg,width=640,height=480,framerate=30/1", MEDIASUBTYPE_MJPG,
         FourCC('M', 'J', 'P', 'G'), 24, 640 * 480 * 3},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.caps);
        TMediaType mt;
        ASSERT_TRUE(MediaTypeFromCaps(Caps(c.caps).Get(), &mt));
        const VideoFormatEntry* entry = VideoFormatForSubtype(c.subtype);
        ASSERT_NE(entry, nullptr);
        GstVideoInfo info;
        if (!entry->rgb && entry->format != GST_VIDEO_FORMAT_UNKNOWN &&
            gst_video_info_from_caps(&info, Caps(c.caps).Get())) {
            EXPECT_EQ(c.imageSize, GST_VIDEO_INFO_SIZE(&info));
        }
        EXPECT_EQ(mt.AMMediaType()->majortype, MEDIATYPE_Video);
        EXPECT_EQ(mt.AMMediaType()->subtype, c.subtype);
        EXPECT_EQ(mt.AMMediaType()->formattype, FORMAT_VideoInfo);
        ASSERT_EQ(mt.AMMediaType()->cbFormat, 88u);
        const VIDEOINFOHEADER* vih = mt.VideoInfo();
        ASSERT_NE(vih, nullptr);
        EXPECT_EQ(vih->bmiHeader.biSize, 40u);
        EXPECT_GT(vih->bmiHeader.biHeight, 0);
        EXPECT_EQ(vih->bmiHeader.biCompression, c.compression);
        EXPECT_EQ(vih->bmiHeader.biBitCount, c.bits);
        EXPECT_EQ(vih->bmiHeader.biSizeImage, c.imageSize);

        // And back: the caps describe the same format.
        CapsRef back = CapsFromMediaType(*mt.AMMediaType());
        ASSERT_TRUE(back);
        EXPECT_TRUE(gst_caps_is_equal(back.Get(), Caps(c.caps).Get()))
            << gst_caps_to_string(back.Get());
    }
    TMediaType mt;
    ASSERT_TRUE(MediaTypeFromCaps(
        Caps("video/x-raw,format=YUY2,width=640,height=480,framerate=30/1").Get(), &mt));
    EXPECT_EQ(mt.VideoInfo()->AvgTimePerFrame, 333333);
    TMediaType ntsc;
    ASSERT_TRUE(MediaTypeFromCaps(
        Caps("video/x-raw,format=YUY2,width=640,height=480,framerate=30000/1001").Get(), &ntsc));
    CapsRef back = CapsFromMediaType(*ntsc.AMMediaType());
    EXPECT_TRUE(gst_caps_is_equal(
        back.Get(),
        Caps("video/x-raw,format=YUY2,width=640,height=480,framerate=30000/1001").Get()));
}

TEST_F(GstFilterBase, AudioCapsBecomeWaveFormats) {
    TMediaType pcm;
    ASSERT_TRUE(MediaTypeFromCaps(
        Caps("audio/x-raw,format=S16LE,layout=interleaved,rate=44100,channels=2").Get(), &pcm));
    EXPECT_EQ(pcm.AMMediaType()->subtype, MEDIASUBTYPE_PCM);
    ASSERT_EQ(pcm.AMMediaType()->cbFormat, 18u);
    const WAVEFORMATEX* w = pcm.WaveFormat();
    EXPECT_EQ(w->wFormatTag, WAVE_FORMAT_PCM);
    EXPECT_EQ(w->nChannels, 2);
    EXPECT_EQ(w->nSamplesPerSec, 44100u);
    EXPECT_EQ(w->nBlockAlign, 4);
    EXPECT_EQ(w->nAvgBytesPerSec, 176400u);
    EXPECT_EQ(w->wBitsPerSample, 16);

    TMediaType fl;
    ASSERT_TRUE(MediaTypeFromCaps(
        Caps("audio/x-raw,format=F32LE,layout=interleaved,rate=48000,channels=1").Get(), &fl));
    EXPECT_EQ(fl.AMMediaType()->subtype, MEDIASUBTYPE_IEEE_FLOAT);
    EXPECT_EQ(fl.WaveFormat()->wFormatTag, WAVE_FORMAT_IEEE_FLOAT);

    TMediaType other;
    EXPECT_FALSE(MediaTypeFromCaps(Caps("video/x-h264,width=640,height=480").Get(), &other));
    EXPECT_FALSE(MediaTypeFromCaps(Caps("video/x-raw,format=YUY2").Get(), &other));
}

TEST_F(GstFilterBase, ExpandCapsKeepsOrderAndDropsDuplicates) {
    CapsRef caps = Caps(
        "video/x-raw,format={YUY2,I420},width=640,height=480,framerate=30/1;"
        "video/x-raw,format=YUY2,width=640,height=480,framerate=30/1;"
        "image/jpeg,width=[16,4096],height=[16,4096],framerate=[1/1,60/1]");
    std::vector<CapsRef> all = ExpandCaps(caps.Get());
    ASSERT_EQ(all.size(), 3u);
    EXPECT_TRUE(gst_caps_is_equal(
        all[0].Get(), Caps("video/x-raw,format=YUY2,width=640,height=480,framerate=30/1").Get()));
    EXPECT_TRUE(gst_caps_is_equal(
        all[1].Get(), Caps("video/x-raw,format=I420,width=640,height=480,framerate=30/1").Get()));
    EXPECT_TRUE(gst_caps_is_fixed(all[2].Get()));
}

TEST_F(GstFilterBase, PinsAreGhostPadsCountedOnTheirFilter) {
    ComPtr<IBaseFilter> filter = ComPtr<IBaseFilter>::Attach(new IdentityFilter);
    ASSERT_NE(BinFilter::From(filter.Get()), nullptr);

    ComPtr<IEnumPins> pins;
    ASSERT_EQ(filter->EnumPins(pins.Put()), S_OK);
    IPin* got[3] = {};
    uint32_t fetched = 0;
    EXPECT_EQ(pins->Next(3, got, &fetched), S_FALSE);
    ASSERT_EQ(fetched, 2u);
    ComPtr<IPin> in = ComPtr<IPin>::Attach(got[0]);
    ComPtr<IPin> out = ComPtr<IPin>::Attach(got[1]);
    WString id;
    in->QueryId(&id);
    EXPECT_EQ(id, u"Input");
    PIN_DIRECTION dir;
    out->QueryDirection(&dir);
    EXPECT_EQ(dir, PINDIR_OUTPUT);
    PIN_INFO info{};
    ASSERT_EQ(out->QueryPinInfo(&info), S_OK);
    EXPECT_EQ(info.pFilter, filter.Get());
    EXPECT_EQ(info.achName, u"Output");
    info.pFilter->Release();

    ComPtr<IPin> found;
    EXPECT_EQ(filter->FindPin(u"Output", found.Put()), S_OK);
    EXPECT_EQ(found.Get(), out.Get());
    EXPECT_EQ(filter->FindPin(u"Nothing", found.Put()), VFW_E_NOT_FOUND);

    // The pad is a ghost pad of the bin, named like the pin.
    PadPin* pin = PadPin::From(out.Get());
    ASSERT_NE(pin, nullptr);
    EXPECT_TRUE(GST_IS_GHOST_PAD(pin->Pad()));
    EXPECT_STREQ(GST_OBJECT_NAME(pin->Pad()), "Output");

    // A pin keeps its filter alive.
    filter = nullptr;
    in = nullptr;
    EXPECT_EQ(out->QueryId(&id), S_OK);
    EXPECT_EQ(id, u"Output");

    // Unconnected pins: no connection, no graph to connect in.
    ComPtr<IPin> peer;
    EXPECT_EQ(out->ConnectedTo(peer.Put()), VFW_E_NOT_CONNECTED);
    AM_MEDIA_TYPE mt{};
    EXPECT_EQ(out->ConnectionMediaType(&mt), VFW_E_NOT_CONNECTED);
    ClearMediaType(&mt);
}

TEST_F(GstFilterBase, RegisteredClassesAreCreatedAndOthersAreNot) {
    IMediaSystem* system = GstMediaSystem();
    void* object = reinterpret_cast<void*>(1);
    EXPECT_EQ(system->CreateInstance(CLSID_VideoMixingRenderer9, IBaseFilter::IID_, &object),
              REGDB_E_CLASSNOTREG);
    EXPECT_EQ(object, nullptr);
    EXPECT_EQ(system->CreateInstance(CLSID_DvdGraphBuilder, IID_IDvdGraphBuilder, &object),
              REGDB_E_CLASSNOTREG);

    const CLSID testClass = MakeGuid(0x11111111, 1, 2, 3, 4, 5, 6, 7, 8, 9, 10);
    RegisterFilterClass(testClass, [](const IID& iid, void** out) {
        ComPtr<IBaseFilter> f = ComPtr<IBaseFilter>::Attach(new IdentityFilter);
        return f->QueryInterface(iid, out);
    });
    ComPtr<IBaseFilter> made;
    ASSERT_EQ(system->CreateInstance(testClass, IBaseFilter::IID_, made.PutVoid()), S_OK);
    CLSID clsid{};
    made->GetClassID(&clsid);
    EXPECT_EQ(clsid, CLSID_SampleGrabber);

    // The text is the program's own (French, as UTF-8, without a catalogue
    // loaded); one cut short ends before a character, never inside one.
    char text[15];
    uint32_t len = system->GetErrorText(E_FAIL, text, sizeof text);
    EXPECT_EQ(len, std::strlen("Erreur non spécifiée."));
    EXPECT_STREQ(text, "Erreur non sp");
    EXPECT_EQ(system->GetErrorText(HR(0x80001234), text, sizeof text), 0u);
}
