// SPDX-License-Identifier: GPL-3.0-or-later
// TSampleGrabber: the component that puts the platform's frame grabber into
// the graph (it asks for uncompressed 24-bit RGB video) and turns the last
// frame that passed through it into a bitmap.
#pragma once

#include <QObject>
#include <QString>
#include <cstdint>
#include <functional>

#include "Bitmap.h"
#include "FilterGraph.h"
#include "GraphMember.h"
#include "MediaBoundary.h"
#include "MediaTypes.h"
#include "MediaUtil.h"

namespace media {

class TSampleGrabber;

// Called on the streaming thread for every sample; calls are serialized.
// The handler must never wait for the user-interface thread (see "Threads of
// the framework" in MediaUtil.h). A call that started before the component
// was destroyed may still be running with a sender that is gone. A handler
// that throws is reported once and unbound.
using TOnBuffer = std::function<void(TSampleGrabber* sender, double SampleTime, uint8_t* pBuffer,
                                     int32_t BufferLen)>;

class TSampleGrabber : public QObject, public TGraphMember, public TInterfaceSource {
    Q_OBJECT

  public:
    explicit TSampleGrabber(QObject* owner = nullptr);
    ~TSampleGrabber() override;

    // The media type the grabber accepts: after construction any RGB24 video
    // (majortype Video, subtype RGB24, FORMAT_VideoInfo, no format block).
    TMediaType& MediaType() { return mediaType_; }

    void SetOnBuffer(TOnBuffer handler);

    // Fills bitmap with one frame: the given buffer (length bytes) or, with
    // none, the last sample that passed the grabber. False, with the bitmap
    // unchanged, when there is no bitmap, a buffer of length <= 0, no
    // connected RGB video type, or no frame.
    bool CopyFrameToBitmap(TBitmap* bitmap, const uint8_t* buffer = nullptr, int32_t length = 0);

    // True when the grabber holds a copy of a frame (a sample has passed
    // since buffering began); false while it has no filter.
    bool HasFrame();

    // Stops the grabber, disconnects its input and sets the requested type.
    void ApplyMediaType();

    // IGraphMember
    IBaseFilter* MemberFilter() override { return filter_.Get(); }
    QString MemberName() override { return objectName(); }
    void MemberNotify(TMemberStep step, int param) override;

    // The buffer callback (ISampleGrabberCB) first, then forwarded to the
    // grabber filter when there is one.
    HRESULT QueryInterface(const IID& iid, void** object) override;

    // The platform objects while the filter exists (for inspection).
    ISampleGrabber* Grabber() const { return grabber_.Get(); }
    IPin* InputPin() const { return inputPin_.Get(); }
    IPin* OutputPin() const { return outputPin_.Get(); }

  private:
    class Callback;

    TMediaType mediaType_;
    Callback* callback_;  // one reference held; holds OnBuffer; detached at destruction
    ComPtr<IBaseFilter> filter_;
    ComPtr<ISampleGrabber> grabber_;
    ComPtr<IPin> inputPin_;
    ComPtr<IPin> outputPin_;
};

}  // namespace media
