// SPDX-License-Identifier: GPL-3.0-or-later
// Generated hostile inputs for the device remover: malformed registry files and sysfs trees
// full of bad attributes, links out of the tree, hard links, FIFOs, loops, and folders swapped
// for links while the removal runs. Whatever the input, the remover must not crash, must not
// write anything outside the tree and must not remove a device that is not the camera.

#include <gtest/gtest.h>

#include <QElapsedTimer>

#include <cctype>
#include <cstdio>
#include <filesystem>
#include <functional>
#include <map>
#include <random>
#include <string>
#include <sys/stat.h>
#include <vector>

#include "DevPurgeLogic.h"
#include "FakeTree.h"

namespace {

namespace fs = std::filesystem;

// The camera's pairs. Devices that are not the camera have ids made only of the digits
// 9, C, D and E, which none of these pairs holds: no damage done to the registry text can
// turn its values into theirs.
const std::vector<std::uint32_t> kCameraPairs{0x04F2B5AB, 0x12345678};
const char kOtherDigits[] = "9cdeCDE";

// Every regular file below folder with its contents (FIFOs and links are not read).
std::map<std::string, std::string> Snapshot(const std::string& folder) {
    std::map<std::string, std::string> files;
    for (const auto& item : fs::recursive_directory_iterator(folder)) {
        if (!item.is_symlink() && item.is_regular_file()) {
            files[item.path().string()] = ReadFile(item.path().string());
        }
    }
    return files;
}

class Generator {
  public:
    explicit Generator(unsigned seed) : m_random(seed) {}

    std::size_t Below(std::size_t n) { return m_random() % n; }
    bool OneIn(std::size_t n) { return Below(n) == 0; }

    // Four hex digits of an id, in either case.
    std::string Hex4(unsigned value) {
        char text[8];
        std::snprintf(text, sizeof text, OneIn(2) ? "%04x" : "%04X", value & 0xFFFF);
        return text;
    }

    std::string OtherHex4() {
        std::string text;
        for (int i = 0; i < 4; ++i) {
            text += kOtherDigits[Below(sizeof kOtherDigits - 1)];
        }
        return text;
    }

    // An id file's contents that a reader must take: the digits with blanks and line ends.
    std::string WellFormed(const std::string& digits) {
        static const char* const kAround[] = {"", "\n", " ", "\t", "\r\n", " \n\n"};
        return kAround[Below(3)] + digits + kAround[Below(6)];
    }

    // An id file's contents that a reader must refuse.
    std::string Malformed(const std::string& digits) {
        switch (Below(8)) {
            case 0:
                return digits + std::string(1, '\0');
            case 1:
                return std::string(1, '\0') + digits;
            case 2:
                return digits.substr(0, 2) + std::string(1, '\0') + digits.substr(2);
            case 3:
                return digits + "0";
            case 4:
                return digits.substr(1);
            case 5:
                return "0x" + digits;
            case 6:
                return digits.substr(0, 2) + " " + digits.substr(2);
            default:
                return digits + std::string(100, ' ');  // too long to be an attribute
        }
    }

    // The registry text, damaged now and then without adding hexadecimal digits.
    std::string Registry(bool* intact) {
        std::string text = SettingsRegistryText({{"Other", {}}, {"Cam", kCameraPairs}});
        *intact = OneIn(2);
        if (*intact) {
            return text;
        }
        if (OneIn(8)) {  // nested beyond the registry's depth
            std::string deep = "\n[HKEY_LOCAL_MACHINE";
            for (int i = 0; i < 600; ++i) {
                deep += "\\k";
            }
            return text + deep + "]\n";
        }
        const int edits = 1 + static_cast<int>(Below(8));
        for (int e = 0; e < edits && !text.empty(); ++e) {
            const std::size_t at = Below(text.size());
            switch (Below(3)) {
                case 0: {
                    char c = static_cast<char>(Below(256));
                    if (std::isxdigit(static_cast<unsigned char>(c))) {
                        c = '\0';
                    }
                    text[at] = c;
                    break;
                }
                case 1:
                    text.erase(at, 1 + Below(16));
                    break;
                default:
                    text.insert(at, 1, "\\\"[]=,:\n\r-@;"[Below(12)]);
                    break;
            }
        }
        return OneIn(4) ? "\xFF\xFE" + text : text;
    }

  private:
    std::mt19937 m_random;
};

// What a generated device is and where its attributes are.
struct Device {
    std::string name;
    bool camera = false;      // the ids read from it are a camera pair
    bool removable = false;   // its "remove" attribute is a plain file in the tree
    std::vector<std::string> interfaces;
    std::vector<std::string> drivers;       // each interface's driver ("" when hostile)
};

// Passes the real device set through, but changes the tree before every removal.
class ChangingDeviceSet : public IDeviceInfoSet {
  public:
    ChangingDeviceSet(std::unique_ptr<IDeviceInfoSet> inner, std::function<void()> change)
        : m_inner(std::move(inner)), m_change(std::move(change)) {}

    bool EnumDeviceInfo(std::size_t index, DeviceInfoData* device) override {
        return m_inner->EnumDeviceInfo(index, device);
    }
    bool GetHardwareIds(const DeviceInfoData& device, char* buffer, std::size_t size) override {
        return m_inner->GetHardwareIds(device, buffer, size);
    }
    bool RemoveDevice(const DeviceInfoData& device) override {
        m_change();
        return m_inner->RemoveDevice(device);
    }

  private:
    std::unique_ptr<IDeviceInfoSet> m_inner;
    std::function<void()> m_change;
};

class ChangingPlatform : public CLinuxPlatform {
  public:
    ChangingPlatform(Config config, std::function<void()> change)
        : CLinuxPlatform(std::move(config)), m_change(std::move(change)) {}

    std::unique_ptr<IDeviceInfoSet> GetUsbDevices() override {
        std::unique_ptr<IDeviceInfoSet> inner = CLinuxPlatform::GetUsbDevices();
        if (!inner) {
            return nullptr;
        }
        return std::make_unique<ChangingDeviceSet>(std::move(inner), m_change);
    }
    void RestartSystem() override {}

  private:
    std::function<void()> m_change;
};

// One generated round: a tree, a registry, a run, and the checks.
void RunRound(Generator& gen, int round) {
    SCOPED_TRACE("round " + std::to_string(round));
    TestEnvironment env;
    FakeSysfs& sysfs = env.Sysfs();
    ASSERT_TRUE(sysfs.IsValid());
    const std::string root = sysfs.Root();
    const std::string outside = root + "/../outside";
    const std::string list = root + "/bus/usb/devices/";

    // Outside the tree: a device that looks like the camera, and attributes to aim at.
    WriteFile(outside + "/cam/idVendor", "04f2\n");
    WriteFile(outside + "/cam/idProduct", "b5ab\n");
    WriteFile(outside + "/cam/remove", "");
    WriteFile(outside + "/cam/1-9:1.0/bInterfaceNumber", "00\n");
    WriteFile(outside + "/drv/unbind", "");
    WriteFile(outside + "/remove", "");
    WriteFile(outside + "/idVendor", "04f2\n");

    std::vector<Device> devices;
    const std::size_t count = 1 + gen.Below(5);
    for (std::size_t d = 0; d < count; ++d) {
        Device device;
        device.name = "1-" + std::to_string(d + 1);
        const bool cameraIds = gen.OneIn(2);
        const std::uint32_t pair = kCameraPairs[gen.Below(kCameraPairs.size())];
        const std::string vendor = cameraIds ? gen.Hex4(pair >> 16) : gen.OtherHex4();
        const std::string product = cameraIds ? gen.Hex4(pair) : gen.OtherHex4();
        sysfs.AddDevice(device.name, vendor, product, gen.OneIn(3) ? "" : "0100");
        const std::string dir = sysfs.DeviceDir(device.name);
        device.camera = cameraIds;
        // The id files: well formed, or damaged in one of many ways.
        for (const char* attribute : {"idVendor", "idProduct"}) {
            const std::string path = dir + "/" + attribute;
            const std::string digits = attribute[2] == 'V' ? vendor : product;
            switch (gen.Below(10)) {
                case 0:
                    WriteFile(path, gen.Malformed(digits));
                    device.camera = false;
                    break;
                case 1:
                    fs::remove(path);
                    fs::create_symlink(outside + "/idVendor", path);
                    device.camera = false;
                    break;
                case 2:
                    fs::remove(path);
                    fs::create_hard_link(outside + "/idVendor", path);
                    device.camera = false;
                    break;
                case 3:
                    fs::remove(path);
                    mkfifo(path.c_str(), 0600);
                    device.camera = false;
                    break;
                case 4:
                    fs::remove(path);
                    fs::create_directory(path);
                    device.camera = false;
                    break;
                default:
                    WriteFile(path, gen.WellFormed(digits));
                    break;
            }
        }
        // The remove attribute.
        const std::string remove = dir + "/remove";
        device.removable = false;
        switch (gen.Below(8)) {
            case 0:
                fs::remove(remove);
                fs::create_symlink(outside + "/remove", remove);
                break;
            case 1:
                fs::remove(remove);
                fs::create_hard_link(outside + "/remove", remove);
                break;
            case 2:
                fs::remove(remove);
                mkfifo(remove.c_str(), 0600);
                break;
            case 3:
                fs::remove(remove);
                break;
            default:
                device.removable = true;
                break;
        }
        // Interfaces, with their drivers sound or not.
        const std::size_t interfaces = gen.Below(3);
        for (std::size_t i = 0; i < interfaces; ++i) {
            const std::string name = device.name + ":1." + std::to_string(i);
            const std::string driver = "drv-" + device.name + "-" + std::to_string(i);
            sysfs.AddInterface(device.name, name, gen.OneIn(6) ? "zz" : "0" + std::to_string(i),
                               driver);
            const std::string link = dir + "/" + name + "/driver";
            const std::string unbind = root + "/bus/usb/drivers/" + driver + "/unbind";
            std::string kept = driver;
            switch (gen.Below(7)) {
                case 0:
                    fs::remove(link);
                    fs::create_directory_symlink(outside + "/drv", link);
                    kept.clear();
                    break;
                case 1:
                    fs::remove(link);
                    fs::create_directory_symlink("../../../../../../../outside/drv", link);
                    kept.clear();
                    break;
                case 2:
                    fs::remove(link);
                    fs::create_directory_symlink("driver", link);  // a loop
                    kept.clear();
                    break;
                case 3:
                    fs::remove(unbind);
                    fs::create_hard_link(outside + "/drv/unbind", unbind);
                    kept.clear();
                    break;
                default:
                    break;
            }
            device.interfaces.push_back(name);
            device.drivers.push_back(kept);
        }
        devices.push_back(device);
    }

    // Entries of the list that lead out of the tree, in circles or nowhere.
    fs::create_directory_symlink(outside + "/cam", list + "9-1");
    fs::create_directory_symlink("../../../../outside/cam", list + "9-2");
    fs::create_directory_symlink(outside + "/cam/1-9:1.0", list + "1-9:1.0");
    fs::create_directory_symlink("../../../..", list + "9-3");
    fs::create_directory_symlink("9-4", list + "9-4");
    fs::create_directory_symlink(root, list + "9-5");
    if (gen.OneIn(2)) {
        // A folder on the way to the devices is a link out of the tree from the start.
        const std::string usb2 = root + "/devices/pci0000:00/usb2";
        fs::create_directory_symlink(outside + "/cam", usb2);
        fs::create_directory_symlink("../../../devices/pci0000:00/usb2", list + "9-6");
    }

    bool intact = false;
    env.WriteRegistry(gen.Registry(&intact));

    // Now and then the devices' folder is moved out of the tree during the run and a link to
    // it put in its place: their remove attributes then lie outside.
    const bool change = gen.OneIn(3);
    const std::string usb1 = root + "/devices/pci0000:00/0000:00:14.0/usb1";
    const std::string moved = outside + "/usb1-moved";
    bool changed = false;
    auto changeTree = [&] {
        if (change && !changed) {
            changed = true;
            fs::rename(usb1, moved);
            fs::create_directory_symlink(moved, usb1);
        }
    };

    const auto before = Snapshot(outside);
    ChangingPlatform platform(env.Config(), changeTree);
    RemoveCameraDevices(platform);

    // Nothing outside the tree changed (what was moved out is checked below).
    auto after = Snapshot(outside);
    for (auto it = after.begin(); it != after.end();) {
        it = it->first.rfind(moved, 0) == 0 ? after.erase(it) : std::next(it);
    }
    EXPECT_EQ(after, before);
    // A device is removed only when it is the camera; with intact settings every camera
    // device is. Once the tree has changed under the run, nothing more is written.
    for (const Device& device : devices) {
        if (device.removable) {
            const std::string removed =
                ReadFile((changed ? moved : usb1) + "/" + device.name + "/remove");
            if (!device.camera || changed) {
                EXPECT_EQ(removed, "") << device.name;
            } else if (intact) {
                EXPECT_EQ(removed, "1") << device.name << " is the camera";
            }
        }
        for (std::size_t i = 0; i < device.interfaces.size(); ++i) {
            if (device.drivers[i].empty()) {
                continue;
            }
            const std::string unbound = sysfs.UnbindAttribute(device.drivers[i]);
            EXPECT_TRUE(unbound.empty() ||
                        (device.camera && !changed && unbound == device.interfaces[i]))
                << device.interfaces[i] << " unbound as " << unbound;
        }
    }
}

TEST(HostileInput, GeneratedRegistriesAndTreesNeverLeadOutsideOrToTheWrongDevice) {
    // A fixed sequence of rounds; on a slow disk fewer of them, so that the test stays short.
    Generator gen(20240518);
    QElapsedTimer elapsed;
    elapsed.start();
    for (int round = 0; round < 50 && elapsed.elapsed() < 5000; ++round) {
        RunRound(gen, round);
        if (HasFatalFailure() || HasFailure()) {
            break;
        }
    }
}

}  // namespace
