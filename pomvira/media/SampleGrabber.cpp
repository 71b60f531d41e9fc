// SPDX-License-Identifier: GPL-3.0-or-later
#include "SampleGrabber.h"

#include <QCoreApplication>
#include <algorithm>
#include <atomic>
#include <cstring>
#include <memory>
#include <mutex>
#include <stdexcept>

#include "FilterGraph.h"

namespace media {

// The grabber's buffer callback. The platform holds it on its streaming
// thread, possibly beyond the component's life. A call takes the handler
// under a short lock and runs it holding only the lock that serializes the
// calls, which the user-interface thread never takes: binding a handler and
// destroying the component never wait for a call in progress. After the
// component is gone the callback only answers S_OK.
//
// A handler that throws is reported once (on the user-interface thread) and
// unbound; the stream goes on.
//
// Without a handler the callback wants no frames, so the platform does not
// prepare them.
class TSampleGrabber::Callback : public ComObject<ISampleGrabberCB> {
  public:
    explicit Callback(TSampleGrabber* owner) : owner_(owner) {}
    void SetHandler(TOnBuffer handler) {
        auto shared = handler ? std::make_shared<const TOnBuffer>(std::move(handler)) : nullptr;
        std::lock_guard<std::mutex> guard(mutex_);
        handler_ = std::move(shared);
        wanted_ = owner_ && handler_;
    }
    void Detach() {
        std::shared_ptr<const TOnBuffer> last;
        std::lock_guard<std::mutex> guard(mutex_);
        owner_ = nullptr;
        wanted_ = false;
        // The handler itself may be freed by a call still running.
        last.swap(handler_);
    }
    bool WantsFrames() override { return wanted_; }
    HRESULT SampleCB(double, IMediaSample*) override { return S_OK; }
    HRESULT BufferCB(double time, uint8_t* buffer, int32_t length) override {
        try {
            std::lock_guard<std::mutex> serial(calls_);
            TSampleGrabber* owner;
            std::shared_ptr<const TOnBuffer> handler;
            {
                std::lock_guard<std::mutex> guard(mutex_);
                owner = owner_;
                handler = handler_;
            }
            if (!owner || !handler)
                return S_OK;
            try {
                (*handler)(owner, time, buffer, length);
            } catch (...) {
                Unbind(handler);
                throw;
            }
        } catch (const std::exception& e) {
            PostException(e);
        } catch (...) {
            PostException(std::runtime_error(
                QCoreApplication::translate("Media", "Erreur inconnue").toStdString()));
        }
        return S_OK;
    }

  private:
    ~Callback() override = default;
    void Unbind(const std::shared_ptr<const TOnBuffer>& failed) {
        std::lock_guard<std::mutex> guard(mutex_);
        if (handler_ == failed) {
            handler_.reset();
            wanted_ = false;
        }
    }

    std::mutex calls_;  // serializes the calls; streaming threads only
    std::mutex mutex_;  // guards the two fields below, never held during a call
    TSampleGrabber* owner_;
    std::shared_ptr<const TOnBuffer> handler_;
    std::atomic<bool> wanted_{false};  // a handler is bound (read without the lock)
};

TSampleGrabber::TSampleGrabber(QObject* owner)
    : QObject(owner), mediaType_(MEDIATYPE_Video), callback_(new Callback(this)) {
    mediaType_.SetSubType(MEDIASUBTYPE_RGB24);
    mediaType_.SetFormatType(FORMAT_VideoInfo);
}

TSampleGrabber::~TSampleGrabber() {
    try {
        SetFilterGraph(nullptr);
    } catch (const std::exception& e) {
        ReportException(e);
    }
    callback_->Detach();
    callback_->Release();
}

void TSampleGrabber::SetOnBuffer(TOnBuffer handler) {
    callback_->SetHandler(std::move(handler));
}

void TSampleGrabber::MemberNotify(TMemberStep step, int /*param*/) {
    // Every platform result of the membership steps is ignored.
    switch (step) {
        case msAdding:
            filter_ = nullptr;
            CoCreateInstance(CLSID_SampleGrabber, IBaseFilter::IID_, filter_.PutVoid());
            break;
        case msAdded: {
            grabber_ = QueryAs<ISampleGrabber>(filter_.Get());
            if (filter_) {
                ComPtr<IEnumPins> pins;
                if (SUCCEEDED(filter_->EnumPins(pins.Put())) && pins) {
                    IPin* pin = nullptr;
                    uint32_t fetched = 0;
                    if (pins->Next(1, &pin, &fetched) == S_OK)
                        inputPin_ = ComPtr<IPin>::Attach(pin);
                    pin = nullptr;
                    if (pins->Next(1, &pin, &fetched) == S_OK)
                        outputPin_ = ComPtr<IPin>::Attach(pin);
                }
            }
            ApplyMediaType();
            if (grabber_) {
                grabber_->SetBufferSamples(true);
                grabber_->SetCallback(callback_, 1);
            }
            break;
        }
        case msRemoving:
            if (filter_)
                filter_->Stop();
            if (inputPin_)
                inputPin_->Disconnect();
            if (outputPin_)
                outputPin_->Disconnect();
            break;
        case msRemoved:
            if (grabber_) {
                grabber_->SetCallback(nullptr, 1);
                grabber_->SetBufferSamples(false);
            }
            inputPin_ = nullptr;
            outputPin_ = nullptr;
            grabber_ = nullptr;
            filter_ = nullptr;
            break;
        case msRefresh:
            ApplyMediaType();
            break;
        case msAbandoned:
            // The buffer callback keeps its own reference and is detached
            // when the component goes; nothing is asked of the filter.
            inputPin_ = nullptr;
            outputPin_ = nullptr;
            grabber_ = nullptr;
            filter_ = nullptr;
            break;
    }
}

void TSampleGrabber::ApplyMediaType() {
    if (!grabber_)
        return;
    if (filter_)
        filter_->Stop();
    if (inputPin_)
        inputPin_->Disconnect();
    grabber_->SetMediaType(mediaType_.AMMediaType());
}

HRESULT TSampleGrabber::QueryInterface(const IID& iid, void** object) {
    if (!object)
        return E_POINTER;
    *object = nullptr;
    if (iid == ISampleGrabberCB::IID_) {
        callback_->AddRef();
        *object = static_cast<ISampleGrabberCB*>(callback_);
        return S_OK;
    }
    if (filter_)
        return filter_->QueryInterface(iid, object);
    return E_NOINTERFACE;
}

bool TSampleGrabber::HasFrame() {
    if (!grabber_)
        return false;
    int32_t size = 0;
    return SUCCEEDED(grabber_->GetCurrentBuffer(&size, nullptr)) && size > 0;
}

bool TSampleGrabber::CopyFrameToBitmap(TBitmap* bitmap, const uint8_t* buffer, int32_t length) {
    if (!bitmap)
        return false;
    // A given buffer needs bytes (a negative length would be copied as a
    // huge size).
    if (buffer && length <= 0)
        return false;
    if (!grabber_)
        return false;

    AM_MEDIA_TYPE mt{};
    if (FAILED(grabber_->GetConnectedMediaType(&mt)))
        return false;
    struct ClearOnExit {
        AM_MEDIA_TYPE* mt;
        ~ClearOnExit() { ClearMediaType(mt); }
    } clear{&mt};

    if (mt.majortype != MEDIATYPE_Video || !mt.pbFormat)
        return false;
    size_t headerOffset;
    if (mt.formattype == FORMAT_VideoInfo && mt.cbFormat == sizeof(VIDEOINFOHEADER)) {
        headerOffset = offsetof(VIDEOINFOHEADER, bmiHeader);  // 48
    } else if (mt.formattype == FORMAT_VideoInfo2 && mt.cbFormat == sizeof(VIDEOINFOHEADER2)) {
        headerOffset = offsetof(VIDEOINFOHEADER2, bmiHeader);  // 72
    } else {
        return false;
    }
    BITMAPINFOHEADER header;
    std::memcpy(&header, mt.pbFormat + headerOffset, sizeof(header));

    std::unique_ptr<TDibSection> dib = CreateDIBSection(header);
    if (!dib)
        return false;

    // The image size: the header's, or stride x height x planes. It never
    // exceeds the section's own memory, whatever the header claims.
    int64_t imageSize = header.biSizeImage;
    if (imageSize == 0) {
        imageSize = DibStride(header.biWidth, header.biBitCount) *
                    std::abs(int64_t(header.biHeight)) * header.biPlanes;
    }
    imageSize = std::min<int64_t>(imageSize, int64_t(dib->Bits.size()));

    if (buffer) {
        const int64_t count = std::min<int64_t>(imageSize, length);
        if (count > 0)
            std::memcpy(dib->Bits.data(), buffer, size_t(count));
    } else {
        int32_t n = 0;
        if (FAILED(grabber_->GetCurrentBuffer(&n, nullptr)) || n <= 0)
            return false;
        n = int32_t(std::min<int64_t>(n, imageSize));
        if (FAILED(grabber_->GetCurrentBuffer(&n, dib->Bits.data())))
            return false;
    }
    bitmap->SetDIBSection(std::move(dib));
    return true;
}

}  // namespace media
