// SPDX-License-Identifier: GPL-3.0-or-later
#include "RenderingFilters.h"

#include "GstMediaSystem.h"
#include "PropertyFrame.h"

namespace media::gst {

namespace {

template <class Filter>
HRESULT CreateFilter(const IID& iid, void** object) {
    if (!object)
        return E_POINTER;
    *object = nullptr;
    auto filter = ComPtr<IBaseFilter>::Attach(new Filter);
    return filter->QueryInterface(iid, object);
}

// Whether what an input can give includes RGB, as a converter's output does:
// then the grabber and the renderer take RGB alone, so that a converter in
// front makes the renderer's own format, not a YUV it would convert again.
bool OffersRgb(PadPin* pin, GstCaps* caps) {
    if (pin->Direction() != PINDIR_INPUT || !caps)
        return false;
    CapsRef rgb =
        CapsRef::Adopt(gst_caps_from_string("video/x-raw, format=(string){ BGRx, BGR, RGB }"));
    return gst_caps_can_intersect(caps, rgb.Get());
}

}  // namespace

SampleGrabberFilter::SampleGrabberFilter() : BinFilter(CLSID_SampleGrabber, gst_bin_new(nullptr)) {
    gst_bin_add(GST_BIN(Bin()), core_.Element());
    ExposePad(gst_element_get_static_pad(core_.Element(), "sink"), u"Input");
    ExposePad(gst_element_get_static_pad(core_.Element(), "src"), u"Output");
}

SampleGrabberFilter::~SampleGrabberFilter() {
    // Out of any graph by now (the graph holds its filters): stop streaming
    // before the grabber's state goes.
    gst_element_set_state(Bin(), GST_STATE_NULL);
}

HRESULT SampleGrabberFilter::PrepareConnect(PadPin* pin, PadPin* peer, GstCaps* caps) {
    if (pin->Direction() == PINDIR_INPUT)
        core_.SetRgbOnly(OffersRgb(pin, caps));
    return BinFilter::PrepareConnect(pin, peer, caps);
}

void SampleGrabberFilter::PinDisconnected(PadPin* pin) {
    if (pin->Direction() == PINDIR_INPUT)
        core_.SetRgbOnly(false);
    BinFilter::PinDisconnected(pin);
}

void* SampleGrabberFilter::ExtraInterface(const IID& iid) {
    if (iid == ISampleGrabber::IID_)
        return static_cast<ISampleGrabber*>(this);
    return BinFilter::ExtraInterface(iid);
}

VideoRendererFilter::VideoRendererFilter() : BinFilter(CLSID_VideoRenderer, gst_bin_new(nullptr)) {
    gst_bin_add(GST_BIN(Bin()), core_.Element());
    ExposePad(gst_element_get_static_pad(core_.Element(), "sink"), u"Input");
}

VideoRendererFilter::~VideoRendererFilter() {
    gst_element_set_state(Bin(), GST_STATE_NULL);
}

HRESULT VideoRendererFilter::PrepareConnect(PadPin* pin, PadPin* peer, GstCaps* caps) {
    core_.SetRgbOnly(OffersRgb(pin, caps));
    return BinFilter::PrepareConnect(pin, peer, caps);
}

void VideoRendererFilter::PinDisconnected(PadPin* pin) {
    core_.SetRgbOnly(false);
    BinFilter::PinDisconnected(pin);
}

void* VideoRendererFilter::ExtraInterface(const IID& iid) {
    if (iid == IVideoWindow::IID_)
        return static_cast<IVideoWindow*>(this);
    return BinFilter::ExtraInterface(iid);
}

void RegisterRenderingClasses() {
    RegisterFilterClass(CLSID_SampleGrabber, &CreateFilter<SampleGrabberFilter>);
    RegisterFilterClass(CLSID_VideoRenderer, &CreateFilter<VideoRendererFilter>);
    SetPropertyFrameHandler([](QWidget* parent, const WString& caption,
                               const std::vector<IUnknown*>& objects,
                               const std::vector<GUID>& pages) {
        return ShowPropertyFrame(parent, 0, 0, caption, objects, pages);
    });
}

}  // namespace media::gst
