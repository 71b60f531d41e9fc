// SPDX-License-Identifier: GPL-3.0-or-later
// The capture graph builder (CLSID_CaptureGraphBuilder2) over FilterGraph.
#pragma once

#include "FilterGraph.h"

namespace media::gst {

class CaptureGraphBuilder : public ComObject<ICaptureGraphBuilder2> {
  public:
    HRESULT SetFiltergraph(IGraphBuilder* graph) override;
    HRESULT GetFiltergraph(IGraphBuilder** graph) override;
    HRESULT SetOutputFileName(const GUID& type, const WString& file, IBaseFilter** mux,
                              IFileSinkFilter** sink) override;
    HRESULT RenderStream(const GUID* category, const GUID* type, IUnknown* source,
                         IBaseFilter* intermediate, IBaseFilter* sink) override;
    HRESULT FindInterface(const GUID* category, const GUID* type, IBaseFilter* filter,
                          const IID& iid, void** object) override;

  private:
    // Makes a graph when none has been set.
    FilterGraph* Graph();

    ComPtr<IGraphBuilder> graph_;
};

// The pin name of a capture pin category: "Capture", "Preview"; empty for
// none or an unknown category.
WString CategoryPinName(const GUID* category);

}  // namespace media::gst
