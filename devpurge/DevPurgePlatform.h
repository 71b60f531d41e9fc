// SPDX-License-Identifier: GPL-3.0-or-later
// The operating-system services the device remover uses, kept apart from its logic.
//
// The shapes follow what the remover needs from the system: a device information set of
// USB devices (enumerated by index, hardware ids as a multi-string, removal), the registry
// (open a key with full access, enumerate its subkeys, read a value into a buffer) and a
// system restart. CLinuxPlatform implements them on Linux; another system's layer only has
// to implement these interfaces.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>

// One device of a device information set, as handed out by IDeviceInfoSet::EnumDeviceInfo.
struct DeviceInfoData {
    std::size_t index = 0;  // position of the device in its set
};

// A snapshot of the USB devices known to the system.
class IDeviceInfoSet {
  public:
    virtual ~IDeviceInfoSet() = default;

    // Fills *device with the device at position index. False when there is no such device.
    virtual bool EnumDeviceInfo(std::size_t index, DeviceInfoData* device) = 0;

    // Writes the device's hardware ids into buffer as a list of NUL-terminated strings ended
    // by an empty string. False (and the buffer unspecified) when the ids cannot be read or
    // the list does not fit into bufferSize bytes.
    virtual bool GetHardwareIds(const DeviceInfoData& device, char* buffer,
                                std::size_t bufferSize) = 0;

    // Removes the device from the system. True on success.
    virtual bool RemoveDevice(const DeviceInfoData& device) = 0;
};

// An open registry key.
class IRegistryKey {
  public:
    virtual ~IRegistryKey() = default;

    // Stores the name of the subkey at position index in *name. False when there is none.
    virtual bool EnumSubKey(std::size_t index, std::string* name) = 0;

    // Opens a subkey with full access. Null when it is missing or cannot be opened so.
    virtual std::unique_ptr<IRegistryKey> OpenSubKey(const std::string& name) = 0;

    // Reads the data of the named value, whatever its type, into data. On entry *size is the
    // buffer's size, on success it is the number of bytes stored. False when the value is
    // missing or its data is larger than the buffer.
    virtual bool QueryValue(const std::string& name, void* data, std::size_t* size) = 0;
};

class IDevPurgePlatform {
  public:
    virtual ~IDevPurgePlatform() = default;

    // Opens a key below HKEY_LOCAL_MACHINE with full access (reading and writing). Null when
    // it is missing or the caller may not open it so.
    virtual std::unique_ptr<IRegistryKey> OpenLocalMachineKey(const std::string& path) = 0;

    // All USB devices known to the system, of every class. Null when no list can be made.
    virtual std::unique_ptr<IDeviceInfoSet> GetUsbDevices() = 0;

    // Asks the system to restart, closing hung programs. Returns at once; failures are
    // silent (the caller goes on as before).
    virtual void RestartSystem() = 0;
};
