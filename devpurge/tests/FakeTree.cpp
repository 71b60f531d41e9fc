// SPDX-License-Identifier: GPL-3.0-or-later
#include "FakeTree.h"

#include <QElapsedTimer>
#include <QTest>

#include <cstdio>
#include <filesystem>
#include <fstream>
#include <sstream>

namespace fs = std::filesystem;

void WriteFile(const std::string& path, const std::string& contents) {
    fs::create_directories(fs::path(path).parent_path());
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out << contents;
}

std::string ReadFile(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    if (!in) {
        return "<missing>";
    }
    std::ostringstream text;
    text << in.rdbuf();
    return text.str();
}

FakeSysfs::FakeSysfs() : m_root(m_dir.path().toStdString() + "/sys") {
    fs::create_directories(m_root + "/bus/usb/devices");
    fs::create_directories(m_root + "/bus/usb/drivers");
    fs::create_directories(m_root + "/devices/pci0000:00/0000:00:14.0/usb1");
}

std::string FakeSysfs::DeviceDir(const std::string& name) const {
    return m_root + "/devices/pci0000:00/0000:00:14.0/usb1/" + name;
}

void FakeSysfs::AddDevice(const std::string& name, const std::string& vendor,
                          const std::string& product, const std::string& revision) {
    const std::string dir = DeviceDir(name);
    WriteFile(dir + "/idVendor", vendor + "\n");
    WriteFile(dir + "/idProduct", product + "\n");
    if (!revision.empty()) {
        WriteFile(dir + "/bcdDevice", revision + "\n");
    }
    WriteFile(dir + "/remove", "");
    fs::create_directory_symlink("../../../devices/pci0000:00/0000:00:14.0/usb1/" + name,
                                 m_root + "/bus/usb/devices/" + name);
}

void FakeSysfs::AddInterface(const std::string& device, const std::string& name,
                             const std::string& number, const std::string& driver) {
    const std::string dir = DeviceDir(device) + "/" + name;
    WriteFile(dir + "/bInterfaceNumber", number + "\n");
    if (!driver.empty()) {
        const std::string driverDir = m_root + "/bus/usb/drivers/" + driver;
        if (!fs::exists(driverDir + "/unbind")) {
            WriteFile(driverDir + "/unbind", "");
        }
        fs::create_directory_symlink(driverDir, dir + "/driver");
    }
    fs::create_directory_symlink(
        "../../../devices/pci0000:00/0000:00:14.0/usb1/" + device + "/" + name,
        m_root + "/bus/usb/devices/" + name);
}

std::string FakeSysfs::RemoveAttribute(const std::string& device) const {
    return ReadFile(DeviceDir(device) + "/remove");
}

std::string FakeSysfs::UnbindAttribute(const std::string& driver) const {
    return ReadFile(m_root + "/bus/usb/drivers/" + driver + "/unbind");
}

std::string SettingsRegistryText(const std::vector<SettingsSubKey>& subKeys) {
    std::string text = "Windows Registry Editor Version 5.00\r\n\r\n";
    const std::string key = "HKEY_LOCAL_MACHINE\\SYSTEM\\Tevrix\\LORVEX\\KTV2BAS\\DefaultSettings";
    text += "[" + key + "]\r\n\r\n";
    for (const SettingsSubKey& subKey : subKeys) {
        text += "[" + key + "\\" + subKey.name + "]\r\n";
        for (std::size_t i = 0; i < subKey.ids.size(); ++i) {
            char line[64];
            std::snprintf(line, sizeof line, "\"VP%02zu\"=dword:%08x\r\n", i,
                          static_cast<unsigned>(subKey.ids[i]));
            text += line;
        }
        text += "\r\n";
    }
    return text;
}

TestEnvironment::TestEnvironment() {
    WriteFile(RebootCommand(), "#!/bin/sh\ntouch '" + RebootMarker() + "'\n");
    fs::permissions(RebootCommand(), fs::perms::owner_all | fs::perms::group_read |
                                         fs::perms::group_exec | fs::perms::others_read |
                                         fs::perms::others_exec);
}

CLinuxPlatform::Config TestEnvironment::Config() const {
    CLinuxPlatform::Config config;
    config.registryFile = RegistryPath();
    config.sysfsRoot = m_sysfs.Root();
    config.useRebootCommand = true;
    config.rebootCommand = RebootCommand();
    return config;
}

bool TestEnvironment::Rebooted() const {
    return fs::exists(RebootMarker());
}

bool TestEnvironment::WaitForReboot() const {
    QElapsedTimer timer;
    timer.start();
    while (!Rebooted() && timer.elapsed() < 30000) {
        QTest::qWait(20);
    }
    return Rebooted();
}

namespace {

// Passes a device set through and counts removals per device.
class CountingDeviceSet : public IDeviceInfoSet {
  public:
    CountingDeviceSet(std::unique_ptr<IDeviceInfoSet> inner, std::map<std::size_t, int>& removals)
        : m_inner(std::move(inner)), m_removals(removals) {}

    bool EnumDeviceInfo(std::size_t index, DeviceInfoData* device) override {
        return m_inner->EnumDeviceInfo(index, device);
    }
    bool GetHardwareIds(const DeviceInfoData& device, char* buffer,
                        std::size_t bufferSize) override {
        return m_inner->GetHardwareIds(device, buffer, bufferSize);
    }
    bool RemoveDevice(const DeviceInfoData& device) override {
        ++m_removals[device.index];
        return m_inner->RemoveDevice(device);
    }

  private:
    std::unique_ptr<IDeviceInfoSet> m_inner;
    std::map<std::size_t, int>& m_removals;
};

}  // namespace

std::unique_ptr<IDeviceInfoSet> CountingPlatform::GetUsbDevices() {
    std::unique_ptr<IDeviceInfoSet> inner = m_inner.GetUsbDevices();
    if (!inner) {
        return nullptr;
    }
    return std::make_unique<CountingDeviceSet>(std::move(inner), removals);
}
