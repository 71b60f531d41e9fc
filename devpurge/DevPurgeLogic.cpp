// SPDX-License-Identifier: GPL-3.0-or-later
#include "DevPurgeLogic.h"

#include <cstdio>
#include <cstring>
#include <optional>
#include <vector>

const char kDriverSettingsKey[] = "SYSTEM\\Tevrix\\LORVEX\\KTV2BAS\\DefaultSettings\\";

std::string FormatHardwareIdPrefix(std::uint32_t value) {
    char text[32];
    std::snprintf(text, sizeof text, "USB\\VID_%04X&PID_%04X", static_cast<unsigned>(value >> 16),
                  static_cast<unsigned>(value & 0xFFFFu));
    return text;
}

bool HardwareIdMatches(const std::string& hardwareId, const std::string& prefix) {
    if (hardwareId.size() < prefix.size()) {
        return false;
    }
    // Upper case by ASCII rules: the current locale must not change which ids match.
    for (std::size_t i = 0; i < prefix.size(); ++i) {
        char c = hardwareId[i];
        if (c >= 'a' && c <= 'z') {
            c = static_cast<char>(c - 'a' + 'A');
        }
        if (c != prefix[i]) {
            return false;
        }
    }
    return true;
}

namespace {

// Splits a list of NUL-terminated strings ended by an empty string. A list that is not
// terminated inside the buffer ends at the buffer's end.
std::vector<std::string> SplitMultiString(const char* buffer, std::size_t size) {
    std::vector<std::string> strings;
    std::size_t pos = 0;
    while (pos < size && buffer[pos] != '\0') {
        const void* end = std::memchr(buffer + pos, '\0', size - pos);
        if (end == nullptr) {
            break;
        }
        const std::size_t length = static_cast<const char*>(end) - (buffer + pos);
        strings.emplace_back(buffer + pos, length);
        pos += length + 1;
    }
    return strings;
}

// Reads the settings value "VPnn". Only data of exactly four bytes counts as a value (read
// little-endian, type ignored); a missing, larger or shorter value ends the list.
bool ReadIdValue(IRegistryKey& key, int number, std::uint32_t* value) {
    char name[8];
    std::snprintf(name, sizeof name, "VP%02d", number);
    unsigned char data[4] = {};
    std::size_t size = sizeof data;
    if (!key.QueryValue(name, data, &size) || size != sizeof data) {
        return false;
    }
    *value = static_cast<std::uint32_t>(data[0]) | (static_cast<std::uint32_t>(data[1]) << 8) |
             (static_cast<std::uint32_t>(data[2]) << 16) |
             (static_cast<std::uint32_t>(data[3]) << 24);
    return true;
}

// Appends the hardware id prefixes of one settings subkey's vendor/product values.
void AddSubKeyPrefixes(IRegistryKey& subKey, std::vector<std::string>* prefixes) {
    for (int number = 0; number < kMaxIdValues; ++number) {
        std::uint32_t value = 0;
        if (!ReadIdValue(subKey, number, &value)) {
            return;
        }
        prefixes->push_back(FormatHardwareIdPrefix(value));
    }
}

// The hardware id prefixes kept in the driver's settings, subkey by subkey. Empty when the
// settings key cannot be opened.
std::vector<std::string> ReadCameraPrefixes(IDevPurgePlatform& platform) {
    std::vector<std::string> prefixes;
    std::unique_ptr<IRegistryKey> settings = platform.OpenLocalMachineKey(kDriverSettingsKey);
    if (!settings) {
        return prefixes;
    }
    std::string subKeyName;
    for (std::size_t index = 0; settings->EnumSubKey(index, &subKeyName); ++index) {
        std::unique_ptr<IRegistryKey> subKey = settings->OpenSubKey(subKeyName);
        if (subKey) {
            AddSubKeyPrefixes(*subKey, &prefixes);
        }
    }
    return prefixes;
}

bool MatchesAnyPrefix(const std::string& hardwareId, const std::vector<std::string>& prefixes) {
    for (const std::string& prefix : prefixes) {
        if (HardwareIdMatches(hardwareId, prefix)) {
            return true;
        }
    }
    return false;
}

}  // namespace

void RemoveCameraDevices(IDevPurgePlatform& platform) {
    std::unique_ptr<IDeviceInfoSet> devices = platform.GetUsbDevices();
    if (!devices) {
        return;
    }
    // The settings are read once, when the first hardware id is to be compared: a large
    // settings file read again for every id would make the run crawl.
    std::optional<std::vector<std::string>> prefixes;
    DeviceInfoData device;
    for (std::size_t index = 0; devices->EnumDeviceInfo(index, &device); ++index) {
        char buffer[kHardwareIdBufferSize] = {};
        if (!devices->GetHardwareIds(device, buffer, sizeof buffer) || buffer[0] == '\0') {
            continue;
        }
        for (const std::string& hardwareId : SplitMultiString(buffer, sizeof buffer)) {
            if (!prefixes) {
                prefixes = ReadCameraPrefixes(platform);
            }
            if (MatchesAnyPrefix(hardwareId, *prefixes)) {
                devices->RemoveDevice(device);  // the result does not matter: nothing is reported
                break;
            }
        }
    }
}

void RebootSystem(IDevPurgePlatform& platform) {
    platform.RestartSystem();
}
