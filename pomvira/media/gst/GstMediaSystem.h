// SPDX-License-Identifier: GPL-3.0-or-later
// The GStreamer implementation of the media boundary: entry point and
// registration hooks. This header includes no GStreamer header.
#pragma once

#include <functional>
#include <string>
#include <vector>

#include "media/MediaBoundary.h"

namespace media::gst {

// Creates an object of a registered class and asks it for iid (the
// CoCreateInstance contract: *object set on success, null otherwise).
using FilterClassFactory = std::function<HRESULT(const IID& iid, void** object)>;

// The modal property frame (OleCreatePropertyFrame without position).
using PropertyFrameHandler =
    std::function<HRESULT(QWidget* parent, const WString& caption,
                          const std::vector<IUnknown*>& objects, const std::vector<GUID>& pages)>;

// Property pages answered by the boundary's own filters and pins
// (ISpecifyPropertyPages); the installed property frame shows them.
// The device's controls (colour balance, writable source properties): on
// video and audio capture filters.
constexpr GUID CLSID_DeviceControlsPage =
    MakeGuid(0x7A3C5E20, 0x51B2, 0x4C6E, 0x9A, 0x41, 0x2D, 0x6F, 0x10, 0x83, 0xC4, 0x20);
// The formats of a capture pin to choose from (IAMStreamConfig): on capture
// and preview pins.
constexpr GUID CLSID_StreamFormatPage =
    MakeGuid(0x7A3C5E21, 0x51B2, 0x4C6E, 0x9A, 0x41, 0x2D, 0x6F, 0x10, 0x83, 0xC4, 0x21);

// Initialises GStreamer once (gst_init) and returns the process-wide system
// object (install it with media::SetMediaSystem).
IMediaSystem* GstMediaSystem();

// Makes CreateInstance(clsid, ...) use factory (CLSID_SampleGrabber,
// CLSID_VideoRenderer, ...). A later registration replaces an earlier one.
// Classes without a registration answer REGDB_E_CLASSNOTREG.
void RegisterFilterClass(const CLSID& clsid, FilterClassFactory factory);

// Installs the property frame; CreatePropertyFrame answers E_NOTIMPL until then.
void SetPropertyFrameHandler(PropertyFrameHandler handler);

}  // namespace media::gst
