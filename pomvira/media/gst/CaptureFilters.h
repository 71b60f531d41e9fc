// SPDX-License-Identifier: GPL-3.0-or-later
// The filters of capture devices.
//
// Video: source ! capsfilter ! tee, with pin 0 "Capture" and pin 1 "Preview",
// each the source pad of a queue behind its own tee pad; the capture queue is
// followed by videorate, which puts the frames on the format's nominal rate
// by their timestamps (repeating or dropping), as the AVI file needs. The tee pads live as
// long as the filter; a branch whose pin is not connected is unlinked from its
// tee pad (the tee allows unlinked pads), so an idle branch neither stalls nor
// fails the other. With only the preview pin connected, the tee and queues
// serve nothing: the preview pin then carries the capsfilter's output
// straight (the graph is rebuilt for a recording, which links them again).
// The capture queue holds three seconds by time with no byte or buffer limit
// (the AVI multiplexer holds video half a second behind audio, so a shorter
// queue would stall the camera while recording); the preview queue drops old
// frames rather than holding the capture branch up.
//
// Audio: source ! capsfilter, pin 0 "Capture".
//
// In both the capsfilter carries the format in force: the one set with
// IAMStreamConfig::SetFormat, or else the device's first format.
#pragma once

#include <atomic>
#include <memory>
#include <vector>

#include "BinFilter.h"
#include "CaptureTimestamps.h"

namespace media::gst {

class DeviceFilter;

// A capture device's output pin: IAMStreamConfig and the format page.
class CapturePin : public PadPin, public IAMStreamConfig, public ISpecifyPropertyPages {
  public:
    CapturePin(DeviceFilter* filter, GstPad* ghost, const WString& name);

    // IAMStreamConfig
    HRESULT GetFormat(AM_MEDIA_TYPE** mt) override;
    HRESULT SetFormat(const AM_MEDIA_TYPE* mt) override;
    HRESULT GetNumberOfCapabilities(int32_t* count, int32_t* size) override;
    HRESULT GetStreamCaps(int32_t index, AM_MEDIA_TYPE** mt, uint8_t* caps) override;
    // ISpecifyPropertyPages
    HRESULT GetPages(CAUUID* pages) override;

    CapsRef Formats() override;
    std::vector<TMediaType> MediaTypes() override;

  protected:
    void* ExtraInterface(const IID& iid) override;

  private:
    DeviceFilter* device_;
};

class DeviceFilter : public BinFilter, public ISpecifyPropertyPages {
  public:
    // The device's source element (for the controls page).
    GstElement* Source() const { return source_.Get(); }
    GstDevice* Device() const { return device_.Get(); }
    bool IsVideo() const { return video_; }

    // The device's formats as fixed caps and as media types (same order).
    const std::vector<CapsRef>& FormatCaps() const { return formats_; }
    const std::vector<TMediaType>& FormatTypes() const { return types_; }
    // The format in force (fixed caps), null when the device lists none.
    CapsRef CurrentFormat() const { return current_; }
    // When the device last delivered a frame (monotonic microseconds; 0
    // before its first).
    int64_t LastFrameTime() const { return lastFrame_.load(); }
    // The device's output, where its stream can be ended as its own end of
    // stream would end it: for a device whose thread is stuck in its server
    // and would take the end of stream in only when the server answers.
    // Null before the device's source is built.
    PadRef Output() const;

    // Sets the format in force; VFW_E_NOT_STOPPED while streaming,
    // VFW_E_INVALIDMEDIATYPE for a format the device or a connected peer does
    // not take.
    HRESULT SetFormat(const AM_MEDIA_TYPE& mt);

    // ISpecifyPropertyPages
    HRESULT GetPages(CAUUID* pages) override;

  protected:
    DeviceFilter(const CLSID& clsid, GstDevice* device, bool video);
    void* ExtraInterface(const IID& iid) override;
    // Builds source ! capsfilter; false when the device gives no element.
    bool BuildSource();
    GstElement* CapsFilter() const { return capsfilter_.Get(); }

  private:
    GstRef<GstDevice> device_;
    bool video_;
    ElementRef source_;
    ElementRef capsfilter_;
    std::vector<CapsRef> formats_;
    std::vector<TMediaType> types_;
    CapsRef current_;
    std::atomic<int64_t> lastFrame_{0};
};

class VideoCaptureFilter : public DeviceFilter, public IAMDroppedFrames {
  public:
    // Null when the device cannot make its source element.
    static VideoCaptureFilter* Create(const CLSID& clsid, GstDevice* device);

    void PinConnected(PadPin* pin) override;
    void PinDisconnected(PadPin* pin) override;
    // Whether the preview pin carries the format straight from the
    // capsfilter (only the preview connected: no tee, no queue).
    bool PreviewIsDirect() const;

    // IAMDroppedFrames: frames the capture branch let go while it was full.
    HRESULT GetNumDropped(int32_t* dropped) override;

  protected:
    void* ExtraInterface(const IID& iid) override;

  private:
    VideoCaptureFilter(const CLSID& clsid, GstDevice* device);
    bool Build();
    // Links the tee and the queues for the pins connected now.
    void UpdateLinks();

    ElementRef tee_;
    PadRef teePads_[2];
    ElementRef queues_[2];
    GstPad* ghosts_[2] = {nullptr, nullptr};  // the pins' pads, owned by the bin
    ElementRef rate_;  // the capture branch's frame rate by the camera's clock
    // What the capture branch holds for the recording, dropping what comes
    // while it is full, and how many it dropped (shared with its signal).
    ElementRef drop_;
    std::shared_ptr<std::atomic<int32_t>> dropped_ = std::make_shared<std::atomic<int32_t>>(0);
    CaptureTimestamps captureStamps_;  // the capture branch's stamps on the graph's time
};

class AudioCaptureFilter : public DeviceFilter {
  public:
    static AudioCaptureFilter* Create(const CLSID& clsid, GstDevice* device);

  private:
    AudioCaptureFilter(const CLSID& clsid, GstDevice* device);
};

}  // namespace media::gst
