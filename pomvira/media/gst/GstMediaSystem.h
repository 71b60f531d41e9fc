// The GStreamer implementation of the media boundary: entry point and
// registration hooks. This header includes no GStreamer header.
#pragma once

#include <functional>
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

// Initialises GStreamer once (gst_init), registers the built-in test device
// provider when POMVIRA_TEST_DEVICES=N (N >= 1) is set, and returns the
// process-wide system object (install it with media::SetMediaSystem).
IMediaSystem* GstMediaSystem();

// Makes CreateInstance(clsid, ...) use factory (CLSID_SampleGrabber,
// CLSID_VideoRenderer, ...). A later registration replaces an earlier one.
// Classes without a registration answer REGDB_E_CLASSNOTREG.
void RegisterFilterClass(const CLSID& clsid, FilterClassFactory factory);

// Installs the property frame; CreatePropertyFrame answers E_NOTIMPL until then.
void SetPropertyFrameHandler(PropertyFrameHandler handler);

}  // namespace media::gst
