// SPDX-License-Identifier: GPL-3.0-or-later
// Fake sysfs trees, registry files and restart scripts in temporary folders for the tests.
#pragma once

#include <QTemporaryDir>

#include <cstdint>
#include <map>
#include <string>
#include <utility>
#include <vector>

#include "DevPurgePlatform.h"
#include "LinuxPlatform.h"

// Writes a file, creating its folders.
void WriteFile(const std::string& path, const std::string& contents);
// The file's contents, or "<missing>".
std::string ReadFile(const std::string& path);

// A sysfs tree shaped like the kernel's: devices under devices/..., links to them in
// bus/usb/devices, drivers in bus/usb/drivers.
class FakeSysfs {
  public:
    FakeSysfs();

    const std::string& Root() const { return m_root; }
    bool IsValid() const { return m_dir.isValid(); }

    // A device with its attributes (lower-case hex as the kernel writes them) and an empty
    // "remove" attribute. An empty revision leaves bcdDevice out.
    void AddDevice(const std::string& name, const std::string& vendor, const std::string& product,
                   const std::string& revision = "0100");
    // An interface of a device, bound to driver (empty: not bound).
    void AddInterface(const std::string& device, const std::string& name, const std::string& number,
                      const std::string& driver = "uvcvideo");

    std::string DeviceDir(const std::string& name) const;
    // Contents of the device's "remove" attribute ("" while untouched).
    std::string RemoveAttribute(const std::string& device) const;
    // Contents of the driver's "unbind" attribute.
    std::string UnbindAttribute(const std::string& driver) const;

  private:
    QTemporaryDir m_dir;
    std::string m_root;
};

// One subkey of the driver's settings with its VPnn values (VP00 upwards).
struct SettingsSubKey {
    std::string name;
    std::vector<std::uint32_t> ids;
};

// An export file with the driver's settings key and the given subkeys.
std::string SettingsRegistryText(const std::vector<SettingsSubKey>& subKeys);

// A temporary folder with the pieces of a test: a fake sysfs, a registry file and a restart
// script that creates a marker file.
class TestEnvironment {
  public:
    TestEnvironment();

    FakeSysfs& Sysfs() { return m_sysfs; }
    std::string RegistryPath() const { return m_dir.filePath("lorvex.reg").toStdString(); }
    std::string RebootMarker() const { return m_dir.filePath("rebooted").toStdString(); }
    std::string RebootCommand() const { return m_dir.filePath("reboot.sh").toStdString(); }
    std::string Path(const char* name) const { return m_dir.filePath(name).toStdString(); }

    void WriteRegistry(const std::string& text) { WriteFile(RegistryPath(), text); }
    void WriteSettings(const std::vector<SettingsSubKey>& subKeys) {
        WriteRegistry(SettingsRegistryText(subKeys));
    }

    CLinuxPlatform::Config Config() const;
    bool Rebooted() const;
    // Waits (bounded) for the restart script to have run.
    bool WaitForReboot() const;

  private:
    QTemporaryDir m_dir;
    FakeSysfs m_sysfs;
};

// Wraps a platform: counts restarts instead of restarting, and can count removals.
class CountingPlatform : public IDevPurgePlatform {
  public:
    explicit CountingPlatform(IDevPurgePlatform& inner) : m_inner(inner) {}

    std::unique_ptr<IRegistryKey> OpenLocalMachineKey(const std::string& path) override {
        ++keyOpens;
        return m_inner.OpenLocalMachineKey(path);
    }
    std::unique_ptr<IDeviceInfoSet> GetUsbDevices() override;
    void RestartSystem() override { ++restarts; }

    int keyOpens = 0;
    int restarts = 0;
    std::map<std::size_t, int> removals;  // device index -> removal calls

  private:
    IDevPurgePlatform& m_inner;
};
