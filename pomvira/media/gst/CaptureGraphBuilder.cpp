// SPDX-License-Identifier: GPL-3.0-or-later
#include "CaptureGraphBuilder.h"

#include <algorithm>

#include "Filters.h"

namespace media::gst {

namespace {

FilterGraph* GraphOf(IUnknown* object) {
    if (!object)
        return nullptr;
    void* p = nullptr;
    if (FAILED(object->QueryInterface(IID_GraphInternal, &p)) || !p)
        return nullptr;
    auto* graph = dynamic_cast<FilterGraph*>(static_cast<GraphInternal*>(p));
    object->Release();
    return graph;
}

bool PinCarries(PadPin* pin, const GUID* type) {
    if (!type)
        return true;
    CapsRef formats = pin->Formats();
    if (!formats || gst_caps_is_empty(formats.Get()) || gst_caps_is_any(formats.Get())) {
        return true;
    }
    for (guint i = 0; i < gst_caps_get_size(formats.Get()); ++i) {
        const char* name = gst_structure_get_name(gst_caps_get_structure(formats.Get(), i));
        bool video = g_str_has_prefix(name, "video/") || g_str_has_prefix(name, "image/");
        bool audio = g_str_has_prefix(name, "audio/");
        if ((*type == MEDIATYPE_Video && video) || (*type == MEDIATYPE_Audio && audio))
            return true;
    }
    return false;
}

PadPin* FirstFree(BinFilter* filter, PIN_DIRECTION dir) {
    std::vector<PadPin*> pins = filter->PinsOf(dir, true);
    return pins.empty() ? nullptr : pins.front();
}

}  // namespace

WString CategoryPinName(const GUID* category) {
    if (!category)
        return WString();
    if (*category == PIN_CATEGORY_CAPTURE)
        return u"Capture";
    if (*category == PIN_CATEGORY_PREVIEW)
        return u"Preview";
    return WString();
}

HRESULT CaptureGraphBuilder::SetFiltergraph(IGraphBuilder* graph) {
    if (!graph)
        return E_POINTER;
    if (graph_)
        return E_UNEXPECTED;
    if (!GraphOf(graph))
        return E_INVALIDARG;
    graph_ = ComPtr<IGraphBuilder>(graph);
    return S_OK;
}

HRESULT CaptureGraphBuilder::GetFiltergraph(IGraphBuilder** graph) {
    if (!graph)
        return E_POINTER;
    *graph = graph_.Get();
    if (!*graph)
        return E_UNEXPECTED;
    (*graph)->AddRef();
    return S_OK;
}

FilterGraph* CaptureGraphBuilder::Graph() {
    if (!graph_) {
        auto* made = new FilterGraph;
        graph_ = ComPtr<IGraphBuilder>::Attach(made);
    }
    return GraphOf(graph_.Get());
}

HRESULT CaptureGraphBuilder::SetOutputFileName(const GUID& type, const WString& file,
                                               IBaseFilter** mux, IFileSinkFilter** sink) {
    if (mux)
        *mux = nullptr;
    if (sink)
        *sink = nullptr;
    if (type != MEDIASUBTYPE_Avi)
        return E_NOTIMPL;
    if (file.empty())
        return E_INVALIDARG;
    FilterGraph* graph = Graph();
    AviMuxFilter* muxFilter = AviMuxFilter::Create();
    if (!muxFilter)
        return E_FAIL;
    ComPtr<IBaseFilter> muxRef = ComPtr<IBaseFilter>::Attach(muxFilter);
    FileWriterFilter* writer = FileWriterFilter::Create();
    if (!writer)
        return E_FAIL;
    ComPtr<IBaseFilter> writerRef = ComPtr<IBaseFilter>::Attach(writer);
    HRESULT hr = writer->SetFileName(file, nullptr);
    if (FAILED(hr))
        return hr;
    hr = graph->AddFilter(muxFilter, u"AVI Mux");
    if (FAILED(hr))
        return hr;
    hr = graph->AddFilter(writer, u"File Writer");
    if (SUCCEEDED(hr)) {
        hr = graph->ConnectDirect(muxFilter->PinByName(u"AVI Out"), writer->PinByName(u"in"),
                                  nullptr);
    }
    if (FAILED(hr)) {
        graph->RemoveFilter(writer);
        graph->RemoveFilter(muxFilter);
        return hr;
    }
    if (mux)
        *mux = muxRef.Detach();
    if (sink) {
        writer->QueryInterface(IFileSinkFilter::IID_, reinterpret_cast<void**>(sink));
    }
    return S_OK;
}

HRESULT CaptureGraphBuilder::RenderStream(const GUID* category, const GUID* type, IUnknown* source,
                                          IBaseFilter* intermediate, IBaseFilter* sink) {
    if (!source)
        return E_POINTER;
    FilterGraph* graph = Graph();

    // The output to start from.
    PadPin* from = PadPin::From(source);
    if (from) {
        if (from->Direction() != PINDIR_OUTPUT)
            return VFW_E_INVALID_DIRECTION;
        if (from->IsConnected())
            return VFW_E_ALREADY_CONNECTED;
        if (from->Filter()->Graph() != graph)
            return VFW_E_NOT_IN_GRAPH;
    } else {
        BinFilter* filter = BinFilter::From(source);
        if (!filter)
            return E_INVALIDARG;
        if (filter->Graph() != graph)
            return VFW_E_NOT_IN_GRAPH;
        WString name = CategoryPinName(category);
        if (category && name.empty())
            return E_INVALIDARG;
        for (PadPin* pin : filter->PinsOf(PINDIR_OUTPUT, true)) {
            if ((name.empty() || pin->Name() == name) && PinCarries(pin, type)) {
                from = pin;
                break;
            }
        }
        if (!from)
            return E_FAIL;
    }
    if (!intermediate && !sink)
        return graph->Render(from);

    BinFilter* middle = BinFilter::From(intermediate);
    BinFilter* last = BinFilter::From(sink);
    if ((intermediate && !middle) || (sink && !last))
        return E_INVALIDARG;
    if ((middle && middle->Graph() != graph) || (last && last->Graph() != graph)) {
        return VFW_E_NOT_IN_GRAPH;
    }

    // Nothing streams before the whole chain stands.
    WakeHold hold(graph);

    // Everything this call connects or adds is taken back when a later step fails.
    std::vector<BinFilter*> before = graph->Filters();
    std::vector<PadPin*> connected;
    auto undo = [&](HRESULT hr) {
        for (BinFilter* f : graph->Filters()) {
            if (std::find(before.begin(), before.end(), f) == before.end()) {
                graph->RemoveFilter(f);
            }
        }
        for (PadPin* pin : connected)
            pin->Disconnect();
        return hr;
    };

    if (middle) {
        PadPin* in = FirstFree(middle, PINDIR_INPUT);
        if (!in)
            return E_FAIL;
        HRESULT hr = graph->ConnectWithConverters(from, in);
        if (FAILED(hr))
            return hr;
        connected.push_back(from);
        connected.push_back(in);
        if (!last)
            return S_OK;
        from = FirstFree(middle, PINDIR_OUTPUT);
        if (!from)
            return undo(E_FAIL);
    }
    PadPin* in = FirstFree(last, PINDIR_INPUT);
    if (!in)
        return undo(E_FAIL);
    HRESULT hr = graph->ConnectWithConverters(from, in);
    if (FAILED(hr))
        return undo(hr);
    return S_OK;
}

HRESULT CaptureGraphBuilder::FindInterface(const GUID* category, const GUID*, IBaseFilter* filter,
                                           const IID& iid, void** object) {
    if (!object)
        return E_POINTER;
    *object = nullptr;
    BinFilter* f = BinFilter::From(filter);
    if (!f)
        return filter ? E_NOINTERFACE : E_POINTER;
    WString name = CategoryPinName(category);
    if (category) {
        if (name.empty())
            return E_NOINTERFACE;
        PadPin* pin = f->PinByName(name);
        return pin ? pin->QueryInterface(iid, object) : E_NOINTERFACE;
    }
    if (SUCCEEDED(filter->QueryInterface(iid, object)))
        return S_OK;
    for (const auto& pin : f->Pins()) {
        if (SUCCEEDED(pin->QueryInterface(iid, object)))
            return S_OK;
    }
    return E_NOINTERFACE;
}

}  // namespace media::gst
