// SPDX-License-Identifier: GPL-3.0-or-later
#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <sys/stat.h>
#include <unistd.h>
#include <vector>

#include "DevPurgeLogic.h"
#include "FakeTree.h"

namespace {

using Strings = std::vector<std::string>;

TEST(HardwareIdPrefix, IsFormedFromVendorAndProductInUpperCaseHex) {
    EXPECT_EQ(FormatHardwareIdPrefix(0x12345678), "USB\\VID_1234&PID_5678");
    EXPECT_EQ(FormatHardwareIdPrefix(0x0000ABCD), "USB\\VID_0000&PID_ABCD");
    EXPECT_EQ(FormatHardwareIdPrefix(0xfedcba98), "USB\\VID_FEDC&PID_BA98");
}

// A device set with hardware id lists chosen by the test.
class ListedDevices : public IDeviceInfoSet {
  public:
    // Each device's raw multi-string; the entry "!" fails the read. Removals are recorded in
    // removed, which outlives the set.
    ListedDevices(std::vector<std::string> lists, std::vector<std::size_t>& removed)
        : removed(removed), m_lists(std::move(lists)) {}

    bool EnumDeviceInfo(std::size_t index, DeviceInfoData* device) override {
        if (index >= m_lists.size()) {
            return false;
        }
        device->index = index;
        return true;
    }
    bool GetHardwareIds(const DeviceInfoData& device, char* buffer, std::size_t size) override {
        const std::string& list = m_lists[device.index];
        if (list == "!" || list.size() > size) {
            return false;
        }
        std::memcpy(buffer, list.data(), list.size());
        return true;
    }
    bool RemoveDevice(const DeviceInfoData& device) override {
        removed.push_back(device.index);
        return true;
    }

    std::vector<std::size_t>& removed;

  private:
    std::vector<std::string> m_lists;
};

// Hardware ids from the test, the registry from a file.
class ListedPlatform : public CLinuxPlatform {
  public:
    ListedPlatform(Config config, std::vector<std::string> lists)
        : CLinuxPlatform(std::move(config)), m_lists(std::move(lists)) {}

    std::unique_ptr<IDeviceInfoSet> GetUsbDevices() override {
        return std::make_unique<ListedDevices>(m_lists, removed);
    }
    void RestartSystem() override {}

    std::vector<std::size_t> Removed() {
        removed.clear();
        RemoveCameraDevices(*this);
        return removed;
    }

    std::vector<std::size_t> removed;

  private:
    std::vector<std::string> m_lists;
};

std::string MultiString(const Strings& ids) {
    std::string list;
    for (const std::string& id : ids) {
        list += id;
        list.push_back('\0');
    }
    list.push_back('\0');
    return list;
}

TEST(RemoveCameraDevices, MatchesHardwareIdsByPrefixIgnoringCase) {
    TestEnvironment env;
    env.WriteSettings({{"Cam", {0x12345678, 0x0000ABCD}}});
    ListedPlatform platform(
        env.Config(),
        {
            MultiString({"USB\\VID_1234&PID_56789"}),                          // 0: prefix only
            MultiString({"usb\\vid_0000&pid_abcd&rev_0001"}),                  // 1: lower case
            MultiString({"USB\\VID_1234&PID_5679", "USB\\VID_1235"}),          // 2: no match
            MultiString({"USB\\COMPOSITE", "USB\\VID_0000&PID_ABCD&MI_01"}),   // 3: second id
            MultiString({"XUSB\\VID_1234&PID_5678"}),                          // 4: not at start
            MultiString({}),                                                   // 5: empty list
            "!",                                                               // 6: read fails
            MultiString({"USB\\VID_1234&PID_5678&" + std::string(300, 'X')}),  // 7: too long
            MultiString({"USB\\VID_1234&PID_5678"}),                           // 8: still reached
        });
    EXPECT_EQ(platform.Removed(), (std::vector<std::size_t>{0, 1, 3, 8}));
}

TEST(RemoveCameraDevices, RemovesADeviceOnceAndReadsTheSettingsOncePerRun) {
    TestEnvironment env;
    env.WriteSettings({{"A", {0x12345678}}, {"B", {0x12345678}}});
    ListedPlatform platform(
        env.Config(),
        {
            MultiString({"USB\\VID_1234&PID_5678&REV_0100", "USB\\VID_1234&PID_5678"}),
            MultiString({"USB\\VID_9999&PID_0001&REV_0100", "USB\\VID_9999&PID_0001"}),
        });
    CountingPlatform counting(platform);
    RemoveCameraDevices(counting);
    EXPECT_EQ(platform.removed, std::vector<std::size_t>{0});
    // Both ids of the second device are compared, but the settings are read only once.
    EXPECT_EQ(counting.keyOpens, 1);
}

TEST(RemoveCameraDevices, ValueListEndsAtTheFirstMissingOrUnfitValue) {
    TestEnvironment env;
    const std::string key =
        "[HKEY_LOCAL_MACHINE\\SYSTEM\\Tevrix\\LORVEX\\KTV2BAS\\DefaultSettings\\";
    env.WriteRegistry("Windows Registry Editor Version 5.00\n\n" + key +
                      "Gap]\n\"VP00\"=dword:11110001\n\"VP01\"=dword:11110002\n"
                      "\"VP03\"=dword:11110003\n" +
                      key +
                      "Hex]\n\"VP00\"=hex:04,00,22,22\n\"VP01\"=hex:05,00,22,22,00\n"
                      "\"VP02\"=dword:22220006\n" +
                      key + "Short]\n\"VP00\"=hex:07,00,33\n\"VP01\"=dword:33330008\n" + key +
                      "Text]\n\"VP00\"=\"abc\"\n\"VP01\"=dword:44440009\n");
    ListedPlatform platform(
        env.Config(),
        {
            MultiString({"USB\\VID_1111&PID_0001"}),  // 0: VP00
            MultiString({"USB\\VID_1111&PID_0002"}),  // 1: VP01
            MultiString({"USB\\VID_1111&PID_0003"}),  // 2: VP03, after the missing VP02
            MultiString({"USB\\VID_2222&PID_0004"}),  // 3: 4 hex bytes, little-endian
            MultiString({"USB\\VID_2222&PID_0005"}),  // 4: 5 bytes: too large, ends the list
            MultiString({"USB\\VID_2222&PID_0006"}),  // 5: after the end
            MultiString({"USB\\VID_3333&PID_0007"}),  // 6: 3 bytes: too short, ends the list
            MultiString({"USB\\VID_3333&PID_0008"}),  // 7: after the end
            MultiString({"USB\\VID_0063&PID_6261"}),  // 8: "abc" is four bytes, type ignored
            MultiString({"USB\\VID_4444&PID_0009"}),  // 9: after it
        });
    EXPECT_EQ(platform.Removed(), (std::vector<std::size_t>{0, 1, 3, 8, 9}));
}

TEST(RemoveCameraDevices, ReadsAtMostOneHundredValues) {
    TestEnvironment env;
    std::vector<std::uint32_t> ids(101, 0x0BAD0BAD);
    ids[99] = 0x12345678;
    ids[100] = 0x87654321;  // VP100 is never read
    env.WriteSettings({{"Cam", ids}});
    ListedPlatform platform(env.Config(), {MultiString({"USB\\VID_1234&PID_5678"}),
                                           MultiString({"USB\\VID_8765&PID_4321"})});
    EXPECT_EQ(platform.Removed(), std::vector<std::size_t>{0});
}

TEST(RemoveCameraDevices, RemovesMatchingDevicesAndInterfacesInSysfs) {
    TestEnvironment env;
    env.WriteSettings({{"Empty", {}}, {"Lorvex", {0x04F2B5AB, 0x0000ABCD}}});
    FakeSysfs& sysfs = env.Sysfs();
    sysfs.AddDevice("1-1", "04f2", "b5ab");
    sysfs.AddInterface("1-1", "1-1:1.0", "00", "uvcvideo");
    sysfs.AddInterface("1-1", "1-1:1.1", "01", "snd-usb-audio");
    sysfs.AddDevice("1-2", "0000", "abcd");
    sysfs.AddDevice("1-3", "04f2", "b5ac");
    sysfs.AddInterface("1-3", "1-3:1.0", "00", "usbhid");
    sysfs.AddDevice("usb1", "1d6b", "0002");

    CLinuxPlatform linuxPlatform(env.Config());
    CountingPlatform counting(linuxPlatform);
    RemoveCameraDevices(counting);
    EXPECT_EQ(sysfs.RemoveAttribute("1-1"), "1");
    EXPECT_EQ(sysfs.RemoveAttribute("1-2"), "1");
    EXPECT_EQ(sysfs.RemoveAttribute("1-3"), "");
    EXPECT_EQ(sysfs.RemoveAttribute("usb1"), "");
    EXPECT_EQ(sysfs.UnbindAttribute("uvcvideo"), "1-1:1.0");
    EXPECT_EQ(sysfs.UnbindAttribute("snd-usb-audio"), "1-1:1.1");
    EXPECT_EQ(sysfs.UnbindAttribute("usbhid"), "");
    // 1-1, 1-1:1.0, 1-1:1.1 and 1-2, once each.
    EXPECT_EQ(counting.removals, (std::map<std::size_t, int>{{0, 1}, {1, 1}, {2, 1}, {3, 1}}));
    EXPECT_EQ(counting.restarts, 0);
}

TEST(RemoveCameraDevices, RemovesNothingWithoutUsableSettings) {
    TestEnvironment env;
    env.Sysfs().AddDevice("1-1", "1234", "5678");
    env.Sysfs().AddInterface("1-1", "1-1:1.0", "00");
    CLinuxPlatform linuxPlatform(env.Config());

    RemoveCameraDevices(linuxPlatform);  // no registry file
    env.WriteRegistry(
        "Windows Registry Editor Version 5.00\n\n"
        "[HKEY_LOCAL_MACHINE\\SYSTEM\\Tevrix\\LORVEX\\KTV2BAS\\Other\\Cam]\n"
        "\"VP00\"=dword:12345678\n");
    RemoveCameraDevices(linuxPlatform);  // settings key missing
    env.WriteRegistry(
        "Windows Registry Editor Version 5.00\n\n"
        "[HKEY_CURRENT_USER\\SYSTEM\\Tevrix\\LORVEX\\KTV2BAS\\DefaultSettings\\C]\n"
        "\"VP00\"=dword:12345678\n");
    RemoveCameraDevices(linuxPlatform);  // wrong root key
    env.WriteRegistry(
        "[HKEY_LOCAL_MACHINE\\SYSTEM\\Tevrix\\LORVEX\\KTV2BAS\\DefaultSettings\\C]\n"
        "\"VP00\"=dword:12345678\n");
    RemoveCameraDevices(linuxPlatform);  // no export header
    env.WriteSettings({{"Cam", {0x12345678}}});
    if (geteuid() != 0) {
        ASSERT_EQ(chmod(env.RegistryPath().c_str(), 0444), 0);
        RemoveCameraDevices(linuxPlatform);  // cannot be opened for writing
        ASSERT_EQ(chmod(env.RegistryPath().c_str(), 0644), 0);
    }
    EXPECT_EQ(env.Sysfs().RemoveAttribute("1-1"), "");
    EXPECT_EQ(env.Sysfs().UnbindAttribute("uvcvideo"), "");

    RemoveCameraDevices(linuxPlatform);  // now usable
    EXPECT_EQ(env.Sysfs().RemoveAttribute("1-1"), "1");
    EXPECT_EQ(env.Sysfs().UnbindAttribute("uvcvideo"), "1-1:1.0");
}

TEST(RemoveCameraDevices, WithoutADeviceListNothingHappens) {
    TestEnvironment env;
    env.WriteSettings({{"Cam", {0x12345678}}});
    CLinuxPlatform::Config config = env.Config();
    config.sysfsRoot = env.Path("no-such-sysfs");
    CLinuxPlatform linuxPlatform(config);
    CountingPlatform counting(linuxPlatform);
    RemoveCameraDevices(counting);
    EXPECT_EQ(counting.keyOpens, 0);
    EXPECT_TRUE(counting.removals.empty());
}

}  // namespace
