// SPDX-License-Identifier: GPL-3.0-or-later
#include <gtest/gtest.h>

#include <cstring>
#include <filesystem>
#include <string>
#include <sys/stat.h>
#include <vector>

#include "FakeTree.h"
#include "SysfsDevices.h"

namespace {

namespace fs = std::filesystem;
using Strings = std::vector<std::string>;

// Names of the listed entries with their hardware ids (as the 260-byte read gives them).
std::vector<std::pair<std::string, Strings>> Listing(CSysfsDeviceSet& set) {
    std::vector<std::pair<std::string, Strings>> listing;
    DeviceInfoData device;
    for (std::size_t i = 0; set.EnumDeviceInfo(i, &device); ++i) {
        Strings ids;
        char buffer[260];
        std::memset(buffer, 'x', sizeof buffer);
        if (set.GetHardwareIds(device, buffer, sizeof buffer)) {
            for (const char* p = buffer; *p != '\0'; p += std::strlen(p) + 1) {
                ids.push_back(p);
            }
        }
        listing.emplace_back(set.Entries()[i].name, ids);
    }
    return listing;
}

TEST(SysfsDevices, FormsHardwareIdsOfDevicesAndInterfaces) {
    FakeSysfs sysfs;
    sysfs.AddDevice("1-1", "04f2", "b5ab", "0a19");
    sysfs.AddInterface("1-1", "1-1:1.0", "00");
    sysfs.AddInterface("1-1", "1-1:1.1", "0a");
    sysfs.AddDevice("2-3", "1234", "5678", "");  // no bcdDevice: only the plain id
    auto set = CSysfsDeviceSet::Open(sysfs.Root());
    ASSERT_TRUE(set);
    const std::vector<std::pair<std::string, Strings>> expected{
        {"1-1", {"USB\\VID_04F2&PID_B5AB&REV_0A19", "USB\\VID_04F2&PID_B5AB"}},
        {"1-1:1.0", {"USB\\VID_04F2&PID_B5AB&MI_00"}},
        {"1-1:1.1", {"USB\\VID_04F2&PID_B5AB&MI_0A"}},
        {"2-3", {"USB\\VID_1234&PID_5678"}},
    };
    EXPECT_EQ(Listing(*set), expected);
}

TEST(SysfsDevices, MalformedAttributesGiveNoHardwareIds) {
    FakeSysfs sysfs;
    sysfs.AddDevice("1-1", "12g4", "5678");
    sysfs.AddDevice("1-2", "123", "5678");
    sysfs.AddDevice("1-3", "", "5678");
    sysfs.AddDevice("1-4", "1234", "56789");
    sysfs.AddDevice("1-5", "1234", "5678");
    WriteFile(sysfs.DeviceDir("1-5") + "/idVendor", std::string(100000, '1'));  // huge
    sysfs.AddDevice("1-6", "1234", "5678");
    fs::remove(sysfs.DeviceDir("1-6") + "/idProduct");
    sysfs.AddDevice("1-7", "1234", "5678");
    WriteFile(sysfs.Root() + "/../outside/idVendor", "1234\n");
    fs::remove(sysfs.DeviceDir("1-7") + "/idVendor");
    fs::create_symlink(sysfs.Root() + "/../outside/idVendor", sysfs.DeviceDir("1-7") + "/idVendor");
    sysfs.AddDevice("1-8", "1234", "5678");
    fs::remove(sysfs.DeviceDir("1-8") + "/idVendor");
    fs::create_directory(sysfs.DeviceDir("1-8") + "/idVendor");
    sysfs.AddDevice("1-9", "1234", "5678");
    sysfs.AddInterface("1-9", "1-9:1.0", "zz");
    sysfs.AddInterface("1-9", "1-9:1.1", "000");
    sysfs.AddDevice("2-1", "1234", "5678", "xyz!");  // bad revision: the plain id remains

    auto set = CSysfsDeviceSet::Open(sysfs.Root());
    ASSERT_TRUE(set);
    for (const auto& [name, ids] : Listing(*set)) {
        if (name == "1-9") {
            EXPECT_EQ(ids.size(), 2u);
        } else if (name == "2-1") {
            EXPECT_EQ(ids, Strings{"USB\\VID_1234&PID_5678"});
        } else {
            EXPECT_TRUE(ids.empty()) << name << " gave " << (ids.empty() ? "" : ids[0]);
        }
    }
}

TEST(SysfsDevices, OnlyBlanksAndLineEndsMaySurroundTheDigits) {
    FakeSysfs sysfs;
    const std::vector<std::pair<std::string, bool>> vendors{
        {std::string("1234\0", 5), false},
        {std::string("\0" "1234", 5), false},
        {std::string("12\0" "34", 5), false},
        {"1234\n\n", true},
        {" \t1234 \r\n", true},
        {"\n1234", true},
        {"12 34", false},
        {"1234x", false},
        {"\v1234", false},
    };
    for (std::size_t i = 0; i < vendors.size(); ++i) {
        const std::string name = "1-" + std::to_string(i + 1);
        sysfs.AddDevice(name, "1234", "5678", "");
        WriteFile(sysfs.DeviceDir(name) + "/idVendor", vendors[i].first);
    }
    sysfs.AddDevice("2-1", "1234", "5678", "");
    sysfs.AddInterface("2-1", "2-1:1.0", "");
    WriteFile(sysfs.DeviceDir("2-1") + "/2-1:1.0/bInterfaceNumber", std::string("01\0", 3));

    auto set = CSysfsDeviceSet::Open(sysfs.Root());
    ASSERT_TRUE(set);
    const auto listing = Listing(*set);
    ASSERT_EQ(listing.size(), vendors.size() + 2);
    for (std::size_t i = 0; i < vendors.size(); ++i) {
        EXPECT_EQ(listing[i].second.size(), vendors[i].second ? 1u : 0u) << listing[i].first;
    }
    EXPECT_EQ(listing.back().first, "2-1:1.0");
    EXPECT_TRUE(listing.back().second.empty());
}

TEST(SysfsDevices, HardwareIdsThatDoNotFitTheBufferAreNotRead) {
    FakeSysfs sysfs;
    sysfs.AddDevice("1-1", "1234", "5678");
    auto set = CSysfsDeviceSet::Open(sysfs.Root());
    ASSERT_TRUE(set);
    DeviceInfoData device;
    ASSERT_TRUE(set->EnumDeviceInfo(0, &device));
    // "USB\VID_1234&PID_5678&REV_0100" + NUL + "USB\VID_1234&PID_5678" + NUL + NUL = 55 bytes
    char buffer[54];
    EXPECT_FALSE(set->GetHardwareIds(device, buffer, 53));
    EXPECT_TRUE(set->GetHardwareIds(device, buffer, 54));
    EXPECT_FALSE(set->EnumDeviceInfo(1, &device));
}

TEST(SysfsDevices, NeverListsEntriesOutsideTheTree) {
    FakeSysfs sysfs;
    sysfs.AddDevice("1-1", "1234", "5678");
    const std::string outside = sysfs.Root() + "/../outside-device";
    WriteFile(outside + "/idVendor", "1234\n");
    WriteFile(outside + "/idProduct", "5678\n");
    WriteFile(outside + "/remove", "");
    const std::string list = sysfs.Root() + "/bus/usb/devices/";
    fs::create_directory_symlink(outside, list + "2-1");
    fs::create_directory_symlink("../../../..", list + "3-1");              // climbs above the root
    fs::create_directory_symlink(sysfs.Root(), list + "3-2");               // the root itself
    fs::create_directory_symlink(list + "4-1", list + "4-1");               // loop
    fs::create_directory_symlink(sysfs.Root() + "/nowhere", list + "5-1");  // dangling
    fs::create_directory_symlink(sysfs.DeviceDir("1-1"), list + "a..b");
    WriteFile(list + "plainfile", "");
    // An interface directly below the root has no device inside the tree.
    WriteFile(sysfs.Root() + "/x:1.0/bInterfaceNumber", "00\n");
    fs::create_directory_symlink(sysfs.Root() + "/x:1.0", list + "x:1.0");

    auto set = CSysfsDeviceSet::Open(sysfs.Root());
    ASSERT_TRUE(set);
    Strings names;
    for (const auto& entry : set->Entries()) {
        names.push_back(entry.name);
    }
    EXPECT_EQ(names, Strings{"1-1"});
}

TEST(SysfsDevices, MissingTreeGivesNoList) {
    FakeSysfs sysfs;
    EXPECT_FALSE(CSysfsDeviceSet::Open(""));
    EXPECT_FALSE(CSysfsDeviceSet::Open(sysfs.Root() + "/missing"));
    fs::remove_all(sysfs.Root() + "/bus");
    EXPECT_FALSE(CSysfsDeviceSet::Open(sysfs.Root()));
}

TEST(SysfsDevices, RemovesDevicesAndUnbindsInterfaces) {
    FakeSysfs sysfs;
    sysfs.AddDevice("1-1", "1234", "5678");
    sysfs.AddInterface("1-1", "1-1:1.0", "00", "uvcvideo");
    sysfs.AddInterface("1-1", "1-1:1.2", "02", "");  // bound to no driver
    auto set = CSysfsDeviceSet::Open(sysfs.Root());
    ASSERT_TRUE(set);
    ASSERT_EQ(set->Entries().size(), 3u);
    DeviceInfoData device;
    device.index = 0;
    EXPECT_TRUE(set->RemoveDevice(device));
    device.index = 1;
    EXPECT_TRUE(set->RemoveDevice(device));
    device.index = 2;
    EXPECT_FALSE(set->RemoveDevice(device));
    device.index = 3;
    EXPECT_FALSE(set->RemoveDevice(device));
    EXPECT_EQ(sysfs.RemoveAttribute("1-1"), "1");
    EXPECT_EQ(sysfs.UnbindAttribute("uvcvideo"), "1-1:1.0");
}

TEST(SysfsDevices, RemovalWritesNothingOutsideTheTree) {
    FakeSysfs sysfs;
    const std::string outside = sysfs.Root() + "/../outside";
    WriteFile(outside + "/remove", "");
    WriteFile(outside + "/unbind", "");
    sysfs.AddDevice("1-1", "1234", "5678");
    fs::remove(sysfs.DeviceDir("1-1") + "/remove");
    fs::create_symlink(outside + "/remove", sysfs.DeviceDir("1-1") + "/remove");
    sysfs.AddInterface("1-1", "1-1:1.0", "00", "");
    fs::create_directory_symlink(outside, sysfs.DeviceDir("1-1") + "/1-1:1.0/driver");
    sysfs.AddDevice("1-2", "1234", "5678");
    fs::remove(sysfs.DeviceDir("1-2") + "/remove");  // no remove attribute: nothing created
    sysfs.AddDevice("1-3", "1234", "5678");
    fs::remove(sysfs.DeviceDir("1-3") + "/remove");
    ASSERT_EQ(mkfifo((sysfs.DeviceDir("1-3") + "/remove").c_str(), 0600), 0);
    // Attributes that are other names (hard links) of the files outside.
    sysfs.AddDevice("1-4", "1234", "5678");
    fs::remove(sysfs.DeviceDir("1-4") + "/remove");
    fs::create_hard_link(outside + "/remove", sysfs.DeviceDir("1-4") + "/remove");
    sysfs.AddInterface("1-4", "1-4:1.0", "00", "uvcvideo");
    const std::string unbind = sysfs.Root() + "/bus/usb/drivers/uvcvideo/unbind";
    fs::remove(unbind);
    fs::create_hard_link(outside + "/unbind", unbind);

    auto set = CSysfsDeviceSet::Open(sysfs.Root());
    ASSERT_TRUE(set);
    ASSERT_EQ(set->Entries().size(), 6u);
    DeviceInfoData device;
    for (device.index = 0; device.index < 6; ++device.index) {
        EXPECT_FALSE(set->RemoveDevice(device)) << set->Entries()[device.index].name;
    }
    EXPECT_EQ(ReadFile(outside + "/remove"), "");
    EXPECT_EQ(ReadFile(outside + "/unbind"), "");
    EXPECT_FALSE(fs::exists(sysfs.DeviceDir("1-2") + "/remove"));
}

TEST(SysfsDevices, ATreeThatChangesAfterListingLeadsNowhereOutside) {
    FakeSysfs sysfs;
    sysfs.AddDevice("1-1", "1234", "5678");
    sysfs.AddDevice("1-2", "1234", "5678");
    auto set = CSysfsDeviceSet::Open(sysfs.Root());
    ASSERT_TRUE(set);
    ASSERT_EQ(set->Entries().size(), 2u);

    // A copy of the devices outside the tree, and a folder on the devices' path swapped for a
    // link to it once the list is made.
    const std::string outside = sysfs.Root() + "/../outside-usb1";
    for (const char* name : {"1-1", "1-2"}) {
        WriteFile(outside + "/" + name + "/idVendor", "1234\n");
        WriteFile(outside + "/" + name + "/idProduct", "5678\n");
        WriteFile(outside + "/" + name + "/remove", "");
    }
    const std::string usb1 = sysfs.DeviceDir("");
    fs::rename(usb1, usb1.substr(0, usb1.size() - 1) + ".old");
    fs::create_directory_symlink(outside, usb1.substr(0, usb1.size() - 1));

    DeviceInfoData device;
    device.index = 0;
    char buffer[260];
    EXPECT_FALSE(set->GetHardwareIds(device, buffer, sizeof buffer));
    EXPECT_FALSE(set->RemoveDevice(device));
    // The same with a relative link that climbs out.
    fs::remove(usb1.substr(0, usb1.size() - 1));
    fs::create_directory_symlink("../../../../outside-usb1", usb1.substr(0, usb1.size() - 1));
    device.index = 1;
    EXPECT_FALSE(set->RemoveDevice(device));
    EXPECT_EQ(ReadFile(outside + "/1-1/remove"), "");
    EXPECT_EQ(ReadFile(outside + "/1-2/remove"), "");
}

}  // namespace
