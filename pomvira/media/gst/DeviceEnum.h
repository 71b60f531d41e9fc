// SPDX-License-Identifier: GPL-3.0-or-later
// The system device enumerator (CLSID_SystemDeviceEnum) and its monikers.
//
// Video and audio input devices come from the program's one device monitor
// (DeviceWatch: "Video/Source", "Audio/Source"): first the devices that
// carry their place in the listing (those of the program's own providers),
// in that order, then the machine's, each physical device once, in a stable
// order. Compressors
// are the registry's encoder factories whose output the AVI multiplexer takes
// (directly or through a parser), by rank and then name. A moniker names a
// device by its provider (the device's type name) and a stable id
// (DeviceIdentity.h: bus path, serial, or at last the node), or a compressor
// by its factory name; that identity is what Save writes.
#pragma once

#include <string>
#include <vector>

#include "GstRef.h"
#include "media/MediaBoundary.h"

namespace media::gst {

constexpr CLSID CLSID_DeviceMoniker =
    MakeGuid(0x4315D437, 0x5B8C, 0x11D0, 0xBD, 0x3B, 0x00, 0xA0, 0xC9, 0x11, 0xCE, 0x86);

enum class MonikerKind : uint8_t {
    VideoInput = 1,
    AudioInput = 2,
    VideoCompressor = 3,
    AudioCompressor = 4,
    Category = 5,
};

// What a moniker names.
struct DeviceIdentity {
    MonikerKind kind = MonikerKind::VideoInput;
    std::string provider;  // device type name, "factory" for compressors, "category"
    std::string id;        // stable device id, factory name, category GUID text
    std::string name;      // friendly name
};

// The integer property (in a device's properties) that gives its place in
// the listing: such devices come before all others, by that number, and are
// never taken for another device of the same identity.
extern const char* const kDeviceListingOrder;

// A GUID derived from a name (same name, same GUID).
GUID NameGuid(const std::string& name);

// The entries of a category in enumeration order; empty for an unknown one.
std::vector<DeviceIdentity> ListCategory(const GUID& category);

// The moniker for an identity (one reference).
IMoniker* NewDeviceMoniker(const DeviceIdentity& identity);
// An empty moniker to Load into.
IMoniker* NewDeviceMoniker();

class SystemDeviceEnum : public ComObject<ICreateDevEnum> {
  public:
    HRESULT CreateClassEnumerator(const GUID& category, IEnumMoniker** monikers,
                                  uint32_t flags) override;
};

}  // namespace media::gst
