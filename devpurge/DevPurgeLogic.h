// SPDX-License-Identifier: GPL-3.0-or-later
// Removal of the camera's USB devices and the system restart.
#pragma once

#include <cstdint>
#include <string>

#include "DevPurgePlatform.h"

// The camera driver's settings key below HKEY_LOCAL_MACHINE. Each of its subkeys holds the
// values VP00 ... VP99, each a 32-bit number: USB vendor id (high 16 bits) and product id
// (low 16 bits).
extern const char kDriverSettingsKey[];

// Size of the buffer that receives a device's hardware ids.
constexpr std::size_t kHardwareIdBufferSize = 260;

// Highest number of vendor/product values read from one settings subkey.
constexpr int kMaxIdValues = 100;

// "USB\VID_vvvv&PID_pppp" for a settings value (upper-case hexadecimal).
std::string FormatHardwareIdPrefix(std::uint32_t value);

// Whether hardwareId, compared without regard to case, begins with prefix.
bool HardwareIdMatches(const std::string& hardwareId, const std::string& prefix);

// Removes every USB device of which one hardware id begins with a vendor/product pair kept
// in the driver's settings. The settings are read once, when the first hardware id is
// compared. Whatever cannot be read or removed is skipped silently.
void RemoveCameraDevices(IDevPurgePlatform& platform);

// Restarts the system. Failures are silent.
void RebootSystem(IDevPurgePlatform& platform);
