// SPDX-License-Identifier: GPL-3.0-or-later
#include "Filters.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <string>

#include "FilterGraph.h"
#include "RecordingFileSink.h"
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
FileWriterFilter::FileWriterFilter() : BinFilter(CLSID_FileWriter, gst_bin_new(nullptr)) {}

FileWriterFilter* FileWriterFilter::Create() {
    auto* filter = new FileWriterFilter;
    filter->sink_ = NewRecordingFileSink();
    // Without preroll: the writer may join a graph that already runs.
    g_object_set(filter->sink_, "async", FALSE, nullptr);
    gst_bin_add(GST_BIN(filter->Bin()), filter->sink_);
    // The sink's end of stream reaches the bus even while other sinks of the
    // pipeline (an idle renderer, say) never get theirs.
    g_object_set(filter->Bin(), "message-forward", TRUE, nullptr);
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
    // Created once (here, or off the user-interface thread beforehand when
    // the file was reserved for it) and written through this descriptor
    // only: a file or a link put under the name meanwhile is never written
    // through.
    const QString path = QString::fromStdU16String(file);
    const QByteArray name = EncodeFileName(path);
    struct stat made {};
    int fd = TakeReservedFile(path, &made);
    if (fd < 0) {
        fd = ::open(name.constData(), O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_NOCTTY | O_CLOEXEC,
                    0666);
        if (fd < 0)
            return WriterErrorResult(errno);
        ::fstat(fd, &made);
    }
    RemoveUnwrittenFile();
    created_ = made;
    SetRecordingFile(sink_, fd, name.toStdString(), made);
    file_ = file;
    return S_OK;
}

void FileWriterFilter::RemoveUnwrittenFile() {
    if (created_.st_ino == 0 || file_.empty())
        return;
    const QByteArray name = EncodeFileName(QString::fromStdU16String(file_));
    struct stat st {};
    if (::lstat(name.constData(), &st) == 0 && st.st_dev == created_.st_dev &&
        st.st_ino == created_.st_ino && st.st_size == 0)
        ::unlink(name.constData());
    created_ = {};
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
