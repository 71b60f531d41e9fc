// SPDX-License-Identifier: GPL-3.0-or-later
#include "Filters.h"

#include <sys/stat.h>

#include <cerrno>
#include <cstdio>
#include <string>

#include "media/FileNameCodec.h"

namespace media::gst {

// ---------------------------------------------------------------------------
// ChainFilter
// ---------------------------------------------------------------------------
ChainFilter::ChainFilter(const CLSID& clsid) : BinFilter(clsid, gst_bin_new(nullptr)) {}

ChainFilter* ChainFilter::Create(const CLSID& clsid, const std::vector<const char*>& factories) {
    if (factories.empty())
        return nullptr;
    auto* filter = new ChainFilter(clsid);
    GstElement* previous = nullptr;
    for (const char* name : factories) {
        GstElement* e = gst_element_factory_make(name, nullptr);
        if (!e || !gst_bin_add(GST_BIN(filter->Bin()), e) ||
            (previous && !gst_element_link(previous, e))) {
            if (e && !GST_OBJECT_PARENT(e))
                gst_object_unref(gst_object_ref_sink(e));
            filter->Release();
            return nullptr;
        }
        filter->elements_.push_back(e);
        previous = e;
    }
    filter->ExposePad(gst_element_get_static_pad(filter->elements_.front(), "sink"), u"Input");
    filter->ExposePad(gst_element_get_static_pad(filter->elements_.back(), "src"), u"Output");
    if (filter->Pins().size() != 2) {
        filter->Release();
        return nullptr;
    }
    return filter;
}

// ---------------------------------------------------------------------------
// AviMuxFilter
// ---------------------------------------------------------------------------
namespace {

// The pin whose ghost pad targets a request pad of the multiplexer.
class MuxInputPin : public PadPin {
  public:
    MuxInputPin(BinFilter* filter, GstPad* ghost, const WString& name, GstElement* mux)
        : PadPin(filter, ghost, name), mux_(mux) {}

    // Before a connection the pin takes what either request pad takes.
    CapsRef Formats() override {
        PadRef target = PadRef::Adopt(gst_ghost_pad_get_target(GST_GHOST_PAD(Pad())));
        if (target)
            return PadPin::Formats();
        CapsRef all = CapsRef::Adopt(gst_caps_new_empty());
        for (const char* name : {"video_%u", "audio_%u"}) {
            GstPadTemplate* t =
                gst_element_class_get_pad_template(GST_ELEMENT_GET_CLASS(mux_), name);
            if (t)
                all = CapsRef::Adopt(gst_caps_merge(all.Detach(), gst_pad_template_get_caps(t)));
        }
        return all;
    }

    GstElement* mux_;
    PadRef request_;
};

}  // namespace

AviMuxFilter::AviMuxFilter() : BinFilter(CLSID_AviMux, gst_bin_new(nullptr)) {}

AviMuxFilter* AviMuxFilter::Create() {
    auto* filter = new AviMuxFilter;
    filter->mux_ = gst_element_factory_make("avimux", nullptr);
    if (!filter->mux_) {
        filter->Release();
        return nullptr;
    }
    gst_bin_add(GST_BIN(filter->Bin()), filter->mux_);
    filter->ExposePad(gst_element_get_static_pad(filter->mux_, "src"), u"AVI Out");
    filter->AddInputPin();
    return filter;
}

void AviMuxFilter::AddInputPin() {
    ++inputs_;
    char name[32];
    std::snprintf(name, sizeof name, "Input %02d", inputs_);
    WString pinName = FromUtf8(name);
    GstPad* ghost = MakeGhostPad(nullptr, pinName, GST_PAD_SINK);
    if (ghost)
        AddPin(std::make_unique<MuxInputPin>(this, ghost, pinName, mux_));
}

HRESULT AviMuxFilter::PrepareConnect(PadPin* pin, PadPin*, GstCaps* caps) {
    auto* input = dynamic_cast<MuxInputPin*>(pin);
    if (!input)
        return S_OK;
    if (input->request_)
        return S_OK;
    if (!caps || gst_caps_get_size(caps) == 0)
        return VFW_E_NO_ACCEPTABLE_TYPES;
    const char* media = gst_structure_get_name(gst_caps_get_structure(caps, 0));
    const char* templ = g_str_has_prefix(media, "audio/") ? "audio_%u" : "video_%u";
    GstPad* request = gst_element_request_pad_simple(mux_, templ);
    if (!request)
        return VFW_E_CANNOT_CONNECT;
    input->request_ = PadRef::Adopt(request);
    gst_ghost_pad_set_target(GST_GHOST_PAD(pin->Pad()), request);
    return S_OK;
}

void AviMuxFilter::PinConnected(PadPin* pin) {
    if (!dynamic_cast<MuxInputPin*>(pin))
        return;
    if (PinsOf(PINDIR_INPUT, true).empty())
        AddInputPin();
}

void AviMuxFilter::PinDisconnected(PadPin* pin) {
    auto* input = dynamic_cast<MuxInputPin*>(pin);
    if (!input || !input->request_)
        return;
    gst_ghost_pad_set_target(GST_GHOST_PAD(pin->Pad()), nullptr);
    gst_element_release_request_pad(mux_, input->request_.Get());
    input->request_.Reset();
}

// ---------------------------------------------------------------------------
// FileWriterFilter
// ---------------------------------------------------------------------------
namespace {

// How often the writer makes sure that its file is still where it was named.
constexpr gint64 kFileCheckInterval = G_USEC_PER_SEC / 2;

// A file whose folder is removed while it is written goes on taking every
// write (the system keeps the open file without a name), and the recording
// would vanish at its end without a word. The watch looks at the file's name
// now and then while buffers pass; once the name is gone, or names another
// file, the writer fails as for any write error (no such file).
struct FileWatch {
    std::string path;
    dev_t device = 0;
    ino_t inode = 0;
    bool known = false;
    bool failed = false;
    gint64 nextCheck = 0;
};

bool FileStillThere(GstElement* sink, FileWatch* watch, int* error) {
    const gint64 now = g_get_monotonic_time();
    if (watch->known && now < watch->nextCheck)
        return true;
    watch->nextCheck = now + kFileCheckInterval;
    gchar* location = nullptr;
    g_object_get(sink, "location", &location, nullptr);
    StringRef path = StringRef::Adopt(location);
    if (!path)
        return true;
    struct stat st {};
    const bool exists = ::stat(path.Get(), &st) == 0;
    if (!watch->known || watch->path != path.Get()) {
        // The first buffer of a stream: the file the sink has just opened.
        watch->path = path.Get();
        watch->known = exists;
        watch->device = st.st_dev;
        watch->inode = st.st_ino;
        return true;
    }
    if (exists && st.st_dev == watch->device && st.st_ino == watch->inode)
        return true;
    *error = exists ? ENOENT : errno;
    return false;
}

GstPadProbeReturn FileWatchProbe(GstPad* pad, GstPadProbeInfo* info, gpointer data) {
    auto* watch = static_cast<FileWatch*>(data);
    if (GST_PAD_PROBE_INFO_TYPE(info) & GST_PAD_PROBE_TYPE_EVENT_DOWNSTREAM) {
        // A new stream may go to a new file.
        if (GST_EVENT_TYPE(GST_PAD_PROBE_INFO_EVENT(info)) == GST_EVENT_STREAM_START)
            *watch = FileWatch();
        return GST_PAD_PROBE_OK;
    }
    ElementRef sink = ElementRef::Adopt(gst_pad_get_parent_element(pad));
    int error = 0;
    if (!watch->failed && (!sink || FileStillThere(sink.Get(), watch, &error)))
        return GST_PAD_PROBE_OK;
    if (!watch->failed) {
        watch->failed = true;
        GST_ELEMENT_ERROR(sink.Get(), RESOURCE, NOT_FOUND,
                          ("The file \"%s\" is no longer there.", watch->path.c_str()),
                          ("%s", g_strerror(error)));
    }
    gst_mini_object_unref(GST_MINI_OBJECT_CAST(GST_PAD_PROBE_INFO_DATA(info)));
    GST_PAD_PROBE_INFO_DATA(info) = nullptr;
    GST_PAD_PROBE_INFO_FLOW_RETURN(info) = GST_FLOW_ERROR;
    return GST_PAD_PROBE_HANDLED;
}

}  // namespace

FileWriterFilter::FileWriterFilter() : BinFilter(CLSID_FileWriter, gst_bin_new(nullptr)) {}

FileWriterFilter* FileWriterFilter::Create() {
    auto* filter = new FileWriterFilter;
    filter->sink_ = gst_element_factory_make("filesink", nullptr);
    if (!filter->sink_) {
        filter->Release();
        return nullptr;
    }
    // Without preroll: the writer may join a graph that already runs.
    g_object_set(filter->sink_, "async", FALSE, nullptr);
    gst_bin_add(GST_BIN(filter->Bin()), filter->sink_);
    // The sink's end of stream reaches the bus even while other sinks of the
    // pipeline (an idle renderer, say) never get theirs.
    g_object_set(filter->Bin(), "message-forward", TRUE, nullptr);
    PadRef sinkPad = PadRef::Adopt(gst_element_get_static_pad(filter->sink_, "sink"));
    gst_pad_add_probe(sinkPad.Get(),
                      GstPadProbeType(GST_PAD_PROBE_TYPE_BUFFER | GST_PAD_PROBE_TYPE_BUFFER_LIST |
                                      GST_PAD_PROBE_TYPE_EVENT_DOWNSTREAM),
                      FileWatchProbe, new FileWatch,
                      [](gpointer data) { delete static_cast<FileWatch*>(data); });
    filter->ExposePad(gst_element_get_static_pad(filter->sink_, "sink"), u"in");
    return filter;
}

void* FileWriterFilter::ExtraInterface(const IID& iid) {
    if (iid == IFileSinkFilter::IID_)
        return static_cast<IFileSinkFilter*>(this);
    return BinFilter::ExtraInterface(iid);
}

HRESULT FileWriterFilter::SetFileName(const WString& file, const AM_MEDIA_TYPE*) {
    if (file.empty())
        return E_INVALIDARG;
    GstState state = GST_STATE_NULL;
    gst_element_get_state(sink_, &state, nullptr, 0);
    if (state > GST_STATE_READY)
        return VFW_E_NOT_STOPPED;
    if (state == GST_STATE_READY)
        gst_element_set_state(sink_, GST_STATE_NULL);
    g_object_set(sink_, "location",
                 EncodeFileName(QString::fromStdU16String(file)).constData(), nullptr);
    if (state == GST_STATE_READY)
        gst_element_sync_state_with_parent(sink_);
    file_ = file;
    return S_OK;
}

HRESULT FileWriterFilter::GetCurFile(WString* file, AM_MEDIA_TYPE* mt) {
    if (!file)
        return E_POINTER;
    *file = file_;
    if (mt) {
        TMediaType stream(MEDIATYPE_Stream);
        stream.SetSubType(MEDIASUBTYPE_Avi);
        stream.SetFormatType(FORMAT_None);
        DuplicateMediaType(mt, stream.AMMediaType());
    }
    return file_.empty() ? E_FAIL : S_OK;
}

}  // namespace media::gst
