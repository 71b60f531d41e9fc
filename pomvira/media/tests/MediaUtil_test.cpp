// SPDX-License-Identifier: GPL-3.0-or-later
// Device listing, the persistent device block, filter and pin lists and the
// settings dialogs against the fake boundary.
#include <gtest/gtest.h>

#include "media/Filter.h"
#include "media/MediaUtil.h"
#include "media/fake/FakeMedia.h"

using namespace media;
using namespace media::fake;

namespace {

class MediaUtilTest : public ::testing::Test {
  protected:
    MediaUtilTest() {
        cam1 = &sys.AddVideoDevice("Cam 1", {VideoFormat(MEDIASUBTYPE_YUY2, 640, 480, 16)});
        cam2 = &sys.AddVideoDevice("Cam 2", {VideoFormat(MEDIASUBTYPE_MJPG, 1280, 720, 24)});
    }
    ComPtr<IBaseFilter> NewFilter(const FakeDevice& device) {
        return ComPtr<IBaseFilter>::Attach(
            static_cast<IBaseFilter*>(sys.CreateDeviceFilter(device)));
    }
    std::string Trace() { return "\n" + sys.Log().Text(); }

    FakeMediaSystem sys;
    FakeDevice* cam1;
    FakeDevice* cam2;
};

}  // namespace

TEST_F(MediaUtilTest, ListingOrderAndEntries) {
    TSysDevEnum devices(CLSID_VideoInputDeviceCategory);
    EXPECT_EQ(devices.CategoryCount(), 4);
    EXPECT_EQ(devices.CategoryEntry(0).FriendlyName, "Video Capture Sources");
    ASSERT_EQ(devices.DeviceCount(), 2);
    EXPECT_EQ(devices.DeviceEntry(0).FriendlyName, "Cam 1");
    EXPECT_EQ(devices.DeviceEntry(1).FriendlyName, "Cam 2");
    GUID expected;
    ASSERT_TRUE(GuidFromString(*cam2->clsidText, expected));
    EXPECT_EQ(devices.DeviceEntry(1).ClassID, expected);
    EXPECT_THROW(devices.DeviceEntry(2), EListError);
    EXPECT_THROW(devices.DeviceEntry(-1), EListError);
    EXPECT_TRUE(sys.Log().ContainsAll(
        {"System.CoCreateInstance(SystemDeviceEnum)", "DevEnum.CreateClassEnumerator(Categories)",
         "DevEnum.CreateClassEnumerator(VideoInputDevice)", "EnumMoniker.Next(1)",
         "Moniker[Cam 1].BindToStorage(IPropertyBag)", "Bag[Cam 1].Read(FriendlyName)",
         "Bag[Cam 1].Read(CLSID)", "EnumMoniker.Next(1)", "Bag[Cam 2].Read(FriendlyName)",
         "EnumMoniker.Next(1)"}))
        << Trace();
}

TEST_F(MediaUtilTest, EmptyCategory) {
    TSysDevEnum devices(CLSID_AudioInputDeviceCategory);
    EXPECT_EQ(devices.DeviceCount(), 0);
    sys.Log().Clear();
    EXPECT_FALSE(devices.DeviceMoniker(0));
    EXPECT_FALSE(devices.CreateDevice(0));
    EXPECT_TRUE(sys.Log().Entries().empty()) << Trace();
}

TEST_F(MediaUtilTest, DeviceMonikerSkipsNextsAndResets) {
    TSysDevEnum devices(CLSID_VideoInputDeviceCategory);
    sys.Log().Clear();
    ComPtr<IMoniker> moniker = devices.DeviceMoniker(1);
    ASSERT_TRUE(moniker);
    EXPECT_EQ(sys.Log().Entries(),
              (std::vector<std::string>{"System.CoCreateInstance(SystemDeviceEnum)",
                                        "DevEnum.CreateClassEnumerator(VideoInputDevice)",
                                        "EnumMoniker.Skip(1)", "EnumMoniker.Next(1)",
                                        "EnumMoniker.Reset"}));
    ComPtr<IBaseFilter> filter = devices.CreateDevice(1);
    ASSERT_TRUE(filter);
    EXPECT_TRUE(sys.Log().Contains("Moniker[Cam 2].BindToObject(IBaseFilter)"));
    EXPECT_EQ(sys.Filter("Cam 2"), dynamic_cast<FakeFilter*>(filter.Get()));
    EXPECT_FALSE(devices.DeviceMoniker(2));
    EXPECT_FALSE(devices.DeviceMoniker(-1));

    // A device gone since the listing: the platform gives nothing.
    sys.RemoveDevices(CLSID_VideoInputDeviceCategory);
    EXPECT_FALSE(devices.DeviceMoniker(0));
}

TEST_F(MediaUtilTest, FriendlyNameIsCutWithoutSplittingCharacters) {
    sys.AddAudioDevice(std::string(300, 'a'), {});
    sys.AddAudioDevice(std::string(254, 'b') + "\xC3\xA9" + "cc", {});  // é straddles byte 255
    TSysDevEnum devices(CLSID_AudioInputDeviceCategory);
    ASSERT_EQ(devices.DeviceCount(), 2);
    EXPECT_EQ(devices.DeviceEntry(0).FriendlyName, std::string(255, 'a'));
    EXPECT_EQ(devices.DeviceEntry(1).FriendlyName, std::string(254, 'b'));
    EXPECT_EQ(CutUtf8("\xC3\xA9\xC3\xA9", 3), "\xC3\xA9");
    EXPECT_EQ(CutUtf8("abc", 3), "abc");
}

TEST_F(MediaUtilTest, ClassIdMissingOrInvalid) {
    sys.AddAudioDevice("No Class", {}).clsidText.reset();
    TSysDevEnum devices(CLSID_AudioInputDeviceCategory);
    ASSERT_EQ(devices.DeviceCount(), 1);
    EXPECT_EQ(devices.DeviceEntry(0).ClassID, GUID{});

    sys.AddAudioDevice("Bad Class", {}).clsidText = "{not a class id}";
    try {
        devices.SelectCategory(CLSID_AudioInputDeviceCategory);
        FAIL() << "no exception";
    } catch (const EDirectShowException& e) {
        EXPECT_EQ(e.Result(), CO_E_CLASSSTRING);
    }
}

TEST_F(MediaUtilTest, BaseFilterStoresAndInstantiatesTheDevice) {
    TSysDevEnum devices(CLSID_VideoInputDeviceCategory);
    TBaseFilter base;
    EXPECT_EQ(base.DataLength(), 0u);
    base.StoreMoniker(devices.DeviceMoniker(1).Get());
    EXPECT_GT(base.DataLength(), 16u);
    EXPECT_TRUE(sys.Log().Contains("System.OleSaveToStream(Moniker[Cam 2])"));

    // Streamed and read back, the block still names the same device.
    const std::vector<uint8_t> data = base.WriteData();
    ASSERT_EQ(data.size(), 4u + base.DataLength());
    EXPECT_EQ(data[0], uint8_t(base.DataLength()));
    TBaseFilter copy;
    ASSERT_TRUE(copy.ReadData(data));
    EXPECT_TRUE(copy.Equals(base));
    sys.Log().Clear();
    ComPtr<IBaseFilter> filter = copy.InstantiateFilter();
    ASSERT_TRUE(filter);
    EXPECT_EQ(dynamic_cast<FakeFilter*>(filter.Get())->Name(), "Cam 2");
    EXPECT_TRUE(sys.Log().InOrder(
        {"System.OleLoadFromStream", "Moniker[Cam 2].BindToObject(IBaseFilter)"}));

    // An unplugged device gives no filter; nothing is raised.
    cam2->present = false;
    EXPECT_FALSE(copy.InstantiateFilter());

    base.StoreMoniker(nullptr);
    EXPECT_EQ(base.DataLength(), 0u);
    EXPECT_FALSE(base.Equals(TBaseFilter()));  // two empty blocks are not equal
}

TEST_F(MediaUtilTest, EmptyStreamedBaseFilter) {
    TBaseFilter base;
    base.SetDataLength(8);
    ASSERT_TRUE(base.ReadData(std::vector<uint8_t>{0, 0, 0, 0}));
    EXPECT_EQ(base.DataLength(), 0u);
    sys.Log().Clear();
    EXPECT_FALSE(base.InstantiateFilter());
    EXPECT_TRUE(sys.Log().Entries().empty()) << Trace();
    EXPECT_EQ(base.WriteData(), (std::vector<uint8_t>{0, 0, 0, 0}));

    // A length beyond the stored bytes is refused and changes nothing.
    base.SetDataLength(2);
    EXPECT_FALSE(base.ReadData(std::vector<uint8_t>{5, 0, 0, 0, 1, 2}));
    EXPECT_FALSE(base.ReadData(std::vector<uint8_t>{0xFF, 0xFF, 0xFF, 0xFF}));
    EXPECT_EQ(base.DataLength(), 2u);
}

TEST_F(MediaUtilTest, FilterAndPinLists) {
    ComPtr<IBaseFilter> a = NewFilter(*cam1);
    ComPtr<IBaseFilter> b = NewFilter(*cam2);
    TFilterList list;
    EXPECT_EQ(list.Add(a.Get()), 0);
    EXPECT_EQ(list.Add(b.Get()), 1);
    EXPECT_EQ(list.Add(a.Get()), 2);
    EXPECT_EQ(list.LastFilter().Get(), a.Get());
    // Removal compares object identity, also across interfaces.
    EXPECT_EQ(list.Remove(QueryAs<IBaseFilter>(static_cast<IUnknown*>(a.Get())).Get()), 0);
    EXPECT_EQ(list.Count(), 2);
    EXPECT_EQ(list.FilterAt(0).Get(), b.Get());
    EXPECT_EQ(list.Remove(nullptr), -1);
    EXPECT_THROW(list.FilterAt(2), EListError);
    list.Clear();
    EXPECT_THROW(list.LastFilter(), EListError);

    TPinList pins(a.Get());
    ASSERT_EQ(pins.Count(), 2);
    EXPECT_FALSE(pins.IsPinConnected(0));
    TPinList other(b.Get());
    ComPtr<IPin> capture = pins.FirstPin();
    EXPECT_EQ(dynamic_cast<FakePin*>(capture.Get())->Name(), "Capture");
    dynamic_cast<FakePin*>(capture.Get())->Link(dynamic_cast<FakePin*>(other.PinAt(1).Get()));
    EXPECT_TRUE(pins.IsPinConnected(0));
    EXPECT_THROW(pins.PinAt(2), EListError);
    EXPECT_EQ(TPinList(nullptr).Count(), 0);
}

TEST_F(MediaUtilTest, FilterSettingsDialog) {
    EXPECT_EQ(OpenFilterSettingsDialog(nullptr, nullptr, 0), S_FALSE);
    ComPtr<IBaseFilter> filter = NewFilter(*cam1);
    sys.Log().Clear();
    EXPECT_EQ(OpenFilterSettingsDialog(nullptr, filter.Get(), 0), S_OK);
    EXPECT_EQ(sys.Log().Entries(),
              (std::vector<std::string>{"Filter[Cam 1].GetPages", "Filter[Cam 1].QueryFilterInfo",
                                        "System.CreatePropertyFrame(, 0, 0, 1, 1)"}));
    sys.SetResult("System.CreatePropertyFrame", E_OUTOFMEMORY);
    EXPECT_EQ(OpenFilterSettingsDialog(nullptr, filter.Get(), 0), E_OUTOFMEMORY);

    // Without pages: the failing interface request, nothing shown.
    cam2->filterPages.clear();
    ComPtr<IBaseFilter> bare = NewFilter(*cam2);
    sys.Log().Clear();
    EXPECT_EQ(OpenFilterSettingsDialog(nullptr, bare.Get(), 0), E_NOINTERFACE);
    EXPECT_TRUE(sys.Log().Entries().empty()) << Trace();
    EXPECT_EQ(OpenFilterSettingsDialog(nullptr, bare.Get(), 1), E_NOINTERFACE);
    EXPECT_EQ(OpenFilterSettingsDialog(nullptr, bare.Get(), 6), S_FALSE);
}

TEST_F(MediaUtilTest, DriverAndCompressorDialogs) {
    cam1->captureDialogs = {4, 1};
    ComPtr<IBaseFilter> camera = NewFilter(*cam1);
    sys.Log().Clear();
    EXPECT_EQ(OpenFilterSettingsDialog(nullptr, camera.Get(), 1), S_OK);
    EXPECT_EQ(OpenFilterSettingsDialog(nullptr, camera.Get(), 2), S_FALSE);  // no source dialog
    EXPECT_EQ(OpenFilterSettingsDialog(nullptr, camera.Get(), 3), S_OK);
    EXPECT_EQ(
        sys.Log().Entries(),
        (std::vector<std::string>{"Filter[Cam 1].HasDialog(4)", "Filter[Cam 1].ShowDialog(4, null)",
                                  "Filter[Cam 1].HasDialog(2)", "Filter[Cam 1].HasDialog(1)",
                                  "Filter[Cam 1].ShowDialog(1, null)"}));

    FakeDevice& codec = sys.AddCompressor(CLSID_VideoCompressorCategory, "Codec");
    codec.compressDialogs = {1};
    ComPtr<IBaseFilter> compressor = NewFilter(codec);
    sys.Log().Clear();
    EXPECT_EQ(OpenFilterSettingsDialog(nullptr, compressor.Get(), 4), S_OK);
    EXPECT_EQ(OpenFilterSettingsDialog(nullptr, compressor.Get(), 5), S_FALSE);
    EXPECT_EQ(sys.Log().Entries(), (std::vector<std::string>{"Filter[Codec].ShowDialog(4, null)",
                                                             "Filter[Codec].ShowDialog(1, null)",
                                                             "Filter[Codec].ShowDialog(8, null)"}));
}

TEST_F(MediaUtilTest, PinSettingsDialog) {
    EXPECT_EQ(OpenPinSettingsDialog(nullptr, nullptr), S_FALSE);
    ComPtr<IBaseFilter> filter = NewFilter(*cam1);
    TPinList pins(filter.Get());
    bool hookRan = false;
    sys.PropertyFrameHook = [&](const WString& caption, const std::vector<IUnknown*>& objects) {
        hookRan = caption == u"Capture" && objects.size() == 1;
    };
    sys.Log().Clear();
    EXPECT_EQ(OpenPinSettingsDialog(nullptr, pins.PinAt(0).Get()), S_OK);
    EXPECT_TRUE(hookRan);
    EXPECT_EQ(
        sys.Log().Entries(),
        (std::vector<std::string>{"Pin[Cam 1/Capture].GetPages", "Pin[Cam 1/Capture].QueryPinInfo",
                                  "System.CreatePropertyFrame(Capture, 0, 0, 1, 1)"}));
    EXPECT_EQ(OpenPinSettingsDialog(nullptr, pins.PinAt(1).Get()), E_NOINTERFACE);
    sys.SetResult("Pin[Cam 1/Capture].QueryPinInfo", E_FAIL);
    EXPECT_EQ(OpenPinSettingsDialog(nullptr, pins.PinAt(0).Get()), E_FAIL);
    // References handed out during the dialogs are all given back.
    EXPECT_EQ(dynamic_cast<FakeFilter*>(filter.Get())->RefCount(),
              1u + 1u + 2u);  // the list holds the filter and its pins
}
