// The USB devices and interfaces listed in sysfs (<sysfs>/bus/usb/devices) as a device
// information set.
//
// Every entry is resolved once, when the set is made, and only entries whose real directory
// lies inside the sysfs tree are kept. Hardware ids are formed as the USB bus names them on
// Windows: a device has "USB\VID_vvvv&PID_pppp&REV_rrrr" and "USB\VID_vvvv&PID_pppp", an
// interface (an entry with a colon in its name) "USB\VID_vvvv&PID_pppp&MI_ii".
#pragma once

#include <memory>
#include <string>
#include <vector>

#include "DevPurgePlatform.h"

class CSysfsDeviceSet : public IDeviceInfoSet {
  public:
    struct Entry {
        std::string name;       // entry name in bus/usb/devices, e.g. "1-2" or "1-2:1.0"
        std::string directory;  // its real directory inside the sysfs tree
        std::string parent;     // for an interface: the real directory of its device
        bool isInterface = false;
    };

    // Lists <sysfsRoot>/bus/usb/devices. Null when the root or the list cannot be read.
    static std::unique_ptr<CSysfsDeviceSet> Open(const std::string& sysfsRoot);

    const std::vector<Entry>& Entries() const { return m_entries; }

    bool EnumDeviceInfo(std::size_t index, DeviceInfoData* device) override;
    bool GetHardwareIds(const DeviceInfoData& device, char* buffer,
                        std::size_t bufferSize) override;
    // A device is removed by writing "1" to its "remove" attribute; an interface is unbound
    // from its driver by writing its name to "driver/unbind".
    bool RemoveDevice(const DeviceInfoData& device) override;

    // The hardware ids of an entry, in order; empty when its attributes cannot be read.
    std::vector<std::string> HardwareIds(const Entry& entry) const;

  private:
    CSysfsDeviceSet(std::string root, std::vector<Entry> entries)
        : m_root(std::move(root)), m_entries(std::move(entries)) {}

    // Whether path (already resolved) lies strictly inside the sysfs tree.
    bool IsInsideRoot(const std::string& path) const;

    std::string m_root;  // real path of the sysfs root
    std::vector<Entry> m_entries;
};
