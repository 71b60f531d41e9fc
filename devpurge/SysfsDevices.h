// SPDX-License-Identifier: GPL-3.0-or-later
// The USB devices and interfaces listed in sysfs (<sysfs>/bus/usb/devices) as a device
// information set.
//
// Every entry is resolved when the set is made, and only entries whose folder lies inside the
// sysfs tree are kept. The tree is only ever reached through CSysfsTree: attributes are read
// and written by walking from the tree's root again, folder by folder without following links,
// so a tree that changes meanwhile cannot lead anywhere outside it. Hardware ids are formed as
// the USB bus names them on Windows: a device has "USB\VID_vvvv&PID_pppp&REV_rrrr" and
// "USB\VID_vvvv&PID_pppp", an interface (an entry with a colon in its name)
// "USB\VID_vvvv&PID_pppp&MI_ii".
#pragma once

#include <memory>
#include <string>
#include <vector>

#include "DevPurgePlatform.h"
#include "SysfsTree.h"

class CSysfsDeviceSet : public IDeviceInfoSet {
  public:
    struct Entry {
        std::string name;       // entry name in bus/usb/devices, e.g. "1-2" or "1-2:1.0"
        std::string directory;  // its folder, as a path from the sysfs root without links
        std::string parent;     // for an interface: the folder of its device, likewise
        bool isInterface = false;
    };

    // Lists <sysfsRoot>/bus/usb/devices. Null when the root or the list cannot be read.
    static std::unique_ptr<CSysfsDeviceSet> Open(const std::string& sysfsRoot);

    const std::vector<Entry>& Entries() const { return m_entries; }

    bool EnumDeviceInfo(std::size_t index, DeviceInfoData* device) override;
    bool GetHardwareIds(const DeviceInfoData& device, char* buffer,
                        std::size_t bufferSize) override;
    // A device is removed by writing "1" to its "remove" attribute; an interface is unbound
    // from its driver by writing its name to "driver/unbind". Only a regular file with one
    // link inside the tree is written.
    bool RemoveDevice(const DeviceInfoData& device) override;

    // The hardware ids of an entry, in order; empty when its attributes cannot be read.
    std::vector<std::string> HardwareIds(const Entry& entry) const;

  private:
    CSysfsDeviceSet(std::unique_ptr<CSysfsTree> tree, std::vector<Entry> entries)
        : m_tree(std::move(tree)), m_entries(std::move(entries)) {}

    std::unique_ptr<CSysfsTree> m_tree;
    std::vector<Entry> m_entries;
};
