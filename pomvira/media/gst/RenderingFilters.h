// SPDX-License-Identifier: GPL-3.0-or-later
// The sample grabber (CLSID_SampleGrabber) and the video renderer
// (CLSID_VideoRenderer) as filters of the boundary, and their registration
// together with the property frame.
//
//  - Sample grabber: a bin around the grabber's pass-through element, pins
//    "Input" and "Output"; ISampleGrabber. It asks for the type set with
//    SetMediaType (any RGB24 video until then); the graph puts a converter
//    in front of it where the upstream format differs.
//  - Video renderer: a bin around the renderer's appsink, pin "Input";
//    IVideoWindow. Create it on the user-interface thread: its window is a
//    widget.
// Both take a camera's packed YUV as the camera gives it, for the renderer
// to convert once; an input that can give RGB (a converter) is asked for
// RGB alone, so that the chain still converts once.
#pragma once

#include "BinFilter.h"
#include "SampleGrabberCore.h"
#include "VideoRendererCore.h"

namespace media::gst {

class SampleGrabberFilter : public BinFilter, public ISampleGrabber {
  public:
    SampleGrabberFilter();

    HRESULT SetOneShot(bool oneShot) override { return core_.SetOneShot(oneShot); }
    HRESULT SetMediaType(const AM_MEDIA_TYPE* mt) override { return core_.SetMediaType(mt); }
    HRESULT GetConnectedMediaType(AM_MEDIA_TYPE* mt) override {
        return core_.GetConnectedMediaType(mt);
    }
    HRESULT SetBufferSamples(bool buffer) override { return core_.SetBufferSamples(buffer); }
    HRESULT GetCurrentBuffer(int32_t* size, uint8_t* buffer) override {
        return core_.GetCurrentBuffer(size, buffer);
    }
    HRESULT SetCallback(ISampleGrabberCB* callback, int32_t which) override {
        return core_.SetCallback(callback, which);
    }

  protected:
    ~SampleGrabberFilter() override;
    void* ExtraInterface(const IID& iid) override;
    HRESULT PrepareConnect(PadPin* pin, PadPin* peer, GstCaps* caps) override;
    void PinDisconnected(PadPin* pin) override;

  private:
    SampleGrabberCore core_;
};

class VideoRendererFilter : public BinFilter, public IVideoWindow {
  public:
    VideoRendererFilter();

    HRESULT put_Caption(const WString& caption) override { return core_.put_Caption(caption); }
    HRESULT put_WindowStyle(int32_t style) override { return core_.put_WindowStyle(style); }
    HRESULT put_WindowStyleEx(int32_t style) override { return core_.put_WindowStyleEx(style); }
    HRESULT put_Owner(QWidget* owner) override { return core_.put_Owner(owner); }
    HRESULT put_MessageDrain(QWidget* drain) override { return core_.put_MessageDrain(drain); }
    HRESULT put_Visible(int32_t visible) override { return core_.put_Visible(visible); }
    HRESULT get_Visible(int32_t* visible) override { return core_.get_Visible(visible); }
    HRESULT SetWindowPosition(int32_t left, int32_t top, int32_t width, int32_t height) override {
        return core_.SetWindowPosition(left, top, width, height);
    }

    // The renderer's window (for tests and diagnostics).
    VideoRendererWindow* Window() { return core_.Window(); }

  protected:
    ~VideoRendererFilter() override;
    void* ExtraInterface(const IID& iid) override;
    HRESULT PrepareConnect(PadPin* pin, PadPin* peer, GstCaps* caps) override;
    void PinDisconnected(PadPin* pin) override;

  private:
    VideoRendererCore core_;
};

// Registers CLSID_SampleGrabber and CLSID_VideoRenderer with the media
// system and installs the property frame. Called once by GstMediaSystem().
void RegisterRenderingClasses();

}  // namespace media::gst
