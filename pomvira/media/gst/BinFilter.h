// SPDX-License-Identifier: GPL-3.0-or-later
// Filters and pins of the GStreamer boundary.
//
// A filter is a GstBin wrapped in a BinFilter (IBaseFilter, IMediaFilter,
// IPersist); its pins are ghost pads of the bin wrapped in PadPin objects
// (IPin), named as DirectShow names them ("Capture", "Preview", "Input",
// "Output", ...). The graph (FilterGraph) adds the bin to its pipeline under
// the filter's name; connecting two pins links their ghost pads.
//
// Writing a new filter class
// --------------------------
//   class MyFilter : public BinFilter, public IMyInterface {
//   public:
//       MyFilter() : BinFilter(CLSID_My, gst_bin_new(nullptr)) {
//           GstElement* e = gst_element_factory_make("identity", nullptr);
//           gst_bin_add(GST_BIN(Bin()), e);
//           ExposePad(gst_element_get_static_pad(e, "sink") /*transfer full*/, u"In");
//           ExposePad(gst_element_get_static_pad(e, "src"), u"Out");
//       }
//   protected:
//       void* ExtraInterface(const IID& iid) override {
//           if (iid == IMyInterface::IID_) return static_cast<IMyInterface*>(this);
//           return BinFilter::ExtraInterface(iid);   // keep the base's answers
//       }
//   };
//   ... return ComPtr<IBaseFilter>::Attach(new MyFilter) (objects start with one reference).
//
// Extension points of BinFilter (all virtual, all called on the thread that
// calls the boundary, i.e. the user-interface thread):
//   ExtraInterface(iid)         further interfaces (ISpecifyPropertyPages, IVideoWindow, ...);
//                               end with `return BinFilter::ExtraInterface(iid);`
//   PrepareConnect(pin, peer, caps)
//                               before a pin's ghost pad is linked: give a target-less ghost
//                               pad its target (request pads), refuse with a failure code
//   PinConnected(pin) / PinDisconnected(pin)
//                               after the link was made / taken down (add a new free pin,
//                               release request pads, remember the type, ...)
//   JoinedGraph(graph) / LeftGraph()
//                               the bin has been added to the graph's pipeline / taken out
//                               (state NULL already); JoinedGraph comes before the bin
//                               follows a running graph's state
//   WritesFile()                true for filters writing a file: the graph then drains the
//                               pipeline with EOS before stopping it
// Extension points of PadPin (subclass it and hand it to AddPin):
//   Formats()                   caps the pin can carry (default: the ghost pad's query caps)
//   MediaTypes()                EnumMediaTypes (default: Formats() expanded and converted)
//   ExtraInterface(iid)         e.g. IAMStreamConfig on capture pins
//
// States: the graph drives the bin's state. A filter none of whose pins is
// connected is idle: the graph keeps its bin in NULL with the state locked
// (so an unconnected source neither streams into nothing nor holds its
// device) and releases it once a pin is connected. A filter writing a file
// should set its sink's "async" to FALSE (it may join a running graph).
//
// Reference counting: a pin has no count of its own; its AddRef/Release act on
// its filter (as in DirectShow), so a pin held by a caller keeps its filter
// alive. Connected pins point at each other without references; a filter
// leaving its graph or being destroyed disconnects its pins first.
#pragma once

#include <memory>
#include <string>
#include <vector>

#include "GstRef.h"
#include "MediaTypes.h"
#include "media/MediaBoundary.h"

namespace media::gst {

class BinFilter;

// Interface ids answered only inside the boundary: they give the
// implementation object behind an interface pointer (no reference added).
constexpr IID IID_BinFilter =
    MakeGuid(0x7A3C5E10, 0x51B2, 0x4C6E, 0x9A, 0x41, 0x2D, 0x6F, 0x10, 0x83, 0xC4, 0x01);
constexpr IID IID_PadPin =
    MakeGuid(0x7A3C5E11, 0x51B2, 0x4C6E, 0x9A, 0x41, 0x2D, 0x6F, 0x10, 0x83, 0xC4, 0x02);
// The graph's internal face for filters (event posting).
constexpr IID IID_GraphInternal =
    MakeGuid(0x7A3C5E12, 0x51B2, 0x4C6E, 0x9A, 0x41, 0x2D, 0x6F, 0x10, 0x83, 0xC4, 0x03);

// What a graph offers its filters beyond IFilterGraph (reached with
// IID_GraphInternal on the graph).
class GraphInternal {
  public:
    // Queues a graph event (and posts the notice to the notify window);
    // callable from any thread.
    virtual void QueueEvent(int32_t code, intptr_t param1, intptr_t param2) = 0;
    // The pipeline the filters' bins live in.
    virtual GstElement* Pipeline() const = 0;
    // The name under which the graph is registered for inspection (empty:
    // not registered); the graph's layout is dumped under it when
    // GST_DEBUG_DUMP_DOT_DIR is set.
    virtual void SetInspectionName(const std::string& name) = 0;

  protected:
    ~GraphInternal() = default;
};

// UTF-16 <-> UTF-8 for names.
std::string ToUtf8(const WString& text);
WString FromUtf8(const char* text);

class PadPin : public ComObject<IPin> {
  public:
    // ghost: a ghost pad of the filter's bin; the pin takes over the
    // caller's reference (a floating one is sunk). The pad is added to the
    // bin when it has no parent yet.
    PadPin(BinFilter* filter, GstPad* ghost, const WString& name);
    ~PadPin() override;

    // The implementation behind an interface pointer, or null.
    static PadPin* From(IUnknown* object);

    // IUnknown: counted on the filter.
    uint32_t AddRef() override;
    uint32_t Release() override;

    // IPin
    HRESULT Connect(IPin* receiver, const AM_MEDIA_TYPE* mt) override;
    HRESULT Disconnect() override;
    HRESULT ConnectedTo(IPin** other) override;
    HRESULT ConnectionMediaType(AM_MEDIA_TYPE* mt) override;
    HRESULT QueryPinInfo(PIN_INFO* info) override;
    HRESULT QueryDirection(PIN_DIRECTION* dir) override;
    HRESULT QueryId(WString* id) override;
    HRESULT EnumMediaTypes(IEnumMediaTypes** types) override;

    BinFilter* Filter() const { return filter_; }
    GstPad* Pad() const { return pad_.Get(); }
    PadPin* Peer() const { return peer_; }
    bool IsConnected() const { return peer_ != nullptr; }
    const WString& Name() const { return name_; }
    PIN_DIRECTION Direction() const { return dir_; }

    // Extension points.
    // The formats this pin can carry, not necessarily fixed; the graph uses
    // them to decide whether converters are needed.
    virtual CapsRef Formats();
    // The media types EnumMediaTypes lists.
    virtual std::vector<TMediaType> MediaTypes();
    // The caps on the link (negotiated, or else the common fixed format).
    virtual CapsRef CurrentCaps();

  protected:
    void* ExtraInterface(const IID& iid) override;

  private:
    friend class BinFilter;
    void Unlink();

    BinFilter* filter_;
    PadRef pad_;
    WString name_;
    PIN_DIRECTION dir_;
    PadPin* peer_ = nullptr;
};

class BinFilter : public ComObject<IBaseFilter, IMediaFilter, IPersist> {
  public:
    // bin: the filter's GstBin (a floating reference is sunk). clsid is what
    // GetClassID answers.
    BinFilter(const CLSID& clsid, GstElement* bin);

    // The implementation behind an interface pointer, or null.
    static BinFilter* From(IUnknown* object);

    // IPersist
    HRESULT GetClassID(CLSID* clsid) override;
    // IMediaFilter: the bin's own state (the graph normally drives it).
    HRESULT Stop() override;
    HRESULT Pause() override;
    HRESULT Run(REFERENCE_TIME start) override;
    HRESULT GetState(uint32_t timeoutMs, FILTER_STATE* state) override;
    // IBaseFilter
    HRESULT EnumPins(IEnumPins** pins) override;
    HRESULT FindPin(const WString& id, IPin** pin) override;
    HRESULT QueryFilterInfo(FILTER_INFO* info) override;
    HRESULT JoinFilterGraph(IFilterGraph* graph, const WString& name) override;

    GstElement* Bin() const { return bin_.Get(); }
    IFilterGraph* Graph() const { return graph_; }
    const WString& Name() const { return name_; }
    const std::vector<std::unique_ptr<PadPin>>& Pins() const { return pins_; }
    // Pins of a direction, in order; with freeOnly only unconnected ones.
    std::vector<PadPin*> PinsOf(PIN_DIRECTION dir, bool freeOnly) const;
    PadPin* PinByName(const WString& name) const;
    // Disconnects every connected pin (both ends).
    void DisconnectAll();

    // Extension points (see the top of this file).
    virtual HRESULT PrepareConnect(PadPin* pin, PadPin* peer, GstCaps* caps);
    virtual void PinConnected(PadPin* pin);
    virtual void PinDisconnected(PadPin* pin);
    virtual void JoinedGraph(IFilterGraph* graph);
    virtual void LeftGraph();
    virtual bool WritesFile() const { return false; }

  protected:
    ~BinFilter() override;
    void* ExtraInterface(const IID& iid) override;

    // Adds a pin (the pin's pad joins the bin if it has no parent yet).
    PadPin* AddPin(std::unique_ptr<PadPin> pin);
    // Makes a ghost pad named after the pin for target (a pad of an element
    // inside the bin; the reference passed is taken over) and adds a plain
    // pin for it.
    PadPin* ExposePad(GstPad* target, const WString& name);
    // A ghost pad for target (reference taken over; null target: a
    // target-less pad of direction dir), added to the bin; the reference
    // returned is the caller's (wrap it in a PadPin).
    GstPad* MakeGhostPad(GstPad* target, const WString& name, GstPadDirection dir);
    // Removes a pin (disconnected first). The pin object stays valid until the
    // filter is destroyed, since callers may still hold it.
    void RemovePin(PadPin* pin);

  private:
    CLSID clsid_;
    ElementRef bin_;
    IFilterGraph* graph_ = nullptr;  // not counted: the graph holds the filter
    WString name_;
    std::vector<std::unique_ptr<PadPin>> pins_;
    std::vector<std::unique_ptr<PadPin>> removed_;
};

// IEnumMediaTypes over a list of types.
class MediaTypeEnum : public ComObject<IEnumMediaTypes> {
  public:
    explicit MediaTypeEnum(std::vector<TMediaType> types) : types_(std::move(types)) {}
    HRESULT Next(uint32_t count, AM_MEDIA_TYPE** out, uint32_t* fetched) override;
    HRESULT Skip(uint32_t count) override;
    HRESULT Reset() override;

  private:
    std::vector<TMediaType> types_;
    size_t pos_ = 0;
};

}  // namespace media::gst
