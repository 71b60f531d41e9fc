// SPDX-License-Identifier: GPL-3.0-or-later
// The boundary's stock filters: element chains (converters, compressors),
// the AVI multiplexer and the recording's file writer.
#pragma once

#include <sys/stat.h>

#include <vector>

#include "BinFilter.h"

namespace media::gst {

// Private class identifiers of the stock filters (GetClassID).
constexpr CLSID CLSID_GstConverter =
    MakeGuid(0x7A3C5E30, 0x51B2, 0x4C6E, 0x9A, 0x41, 0x2D, 0x6F, 0x10, 0x83, 0xC4, 0x30);
constexpr CLSID CLSID_AviMux =
    MakeGuid(0xE2510970, 0xF137, 0x11CE, 0x8B, 0x67, 0x00, 0xAA, 0x00, 0xA3, 0xF1, 0xA6);
constexpr CLSID CLSID_FileWriter =
    MakeGuid(0x8596E5F0, 0x0DA5, 0x11D0, 0xBD, 0x21, 0x00, 0xA0, 0xC9, 0x11, 0xCE, 0x86);

// Elements in series in one bin: "Input" is the first element's sink pad,
// "Output" the last one's source pad. Null when an element factory is missing.
class ChainFilter : public BinFilter {
  public:
    static ChainFilter* Create(const CLSID& clsid, const std::vector<const char*>& factories);
    // The elements, in order.
    const std::vector<GstElement*>& Elements() const { return elements_; }

  private:
    explicit ChainFilter(const CLSID& clsid);
    std::vector<GstElement*> elements_;  // owned by the bin
};

// avimux with one free input pin at all times ("Input 01", "Input 02", ...):
// connecting a pin requests an audio or video pad of the multiplexer for
// it; disconnecting releases the pad. Output "AVI Out".
class AviMuxFilter : public BinFilter {
  public:
    static AviMuxFilter* Create();

    HRESULT PrepareConnect(PadPin* pin, PadPin* peer, GstCaps* caps) override;
    void PinConnected(PadPin* pin) override;
    void PinDisconnected(PadPin* pin) override;

  private:
    AviMuxFilter();
    void AddInputPin();

    GstElement* mux_ = nullptr;  // owned by the bin
    int inputs_ = 0;
};

// The recording's file writer (RecordingFileSink.h): pin "in";
// IFileSinkFilter. SetFileName creates the file there and then, once, with
// O_CREAT|O_EXCL|O_NOFOLLOW (never a file or a link that is there already)
// and hands that descriptor to the sink; a name that cannot be created fails
// with the system's reason (WriterErrorResult). Its bin forwards the sink's
// messages (as "GstBinForwarded" element messages), so the graph sees on the
// bus when the end of the stream has reached the file and the file is
// complete.
class FileWriterFilter : public BinFilter, public IFileSinkFilter {
  public:
    static FileWriterFilter* Create();

    // IFileSinkFilter
    HRESULT SetFileName(const WString& file, const AM_MEDIA_TYPE* mt) override;
    HRESULT GetCurFile(WString* file, AM_MEDIA_TYPE* mt) override;

    bool WritesFile() const override { return true; }

  protected:
    void* ExtraInterface(const IID& iid) override;

  private:
    FileWriterFilter();
    // Removes the file the last SetFileName created, when another name is
    // set before anything was written into it.
    void RemoveUnwrittenFile();

    GstElement* sink_ = nullptr;  // owned by the bin
    WString file_;
    struct stat created_ {};  // the file SetFileName created (st_ino 0: none)
};

}  // namespace media::gst
