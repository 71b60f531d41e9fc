// SPDX-License-Identifier: GPL-3.0-or-later
#include "FormatChoice.h"

#include "media/MediaUtil.h"

namespace media {

namespace {

// The stand-in: an unconnected output pin with the formats of the real one.
class TFormatStandIn final : public ComObject<IPin, IAMStreamConfig, ISpecifyPropertyPages> {
  public:
    explicit TFormatStandIn(const TPinFormats& formats) : formats_(formats) {}

    const std::optional<TMediaType>& Chosen() const { return chosen_; }

    // IPin
    HRESULT Connect(IPin*, const AM_MEDIA_TYPE*) override { return E_NOTIMPL; }
    HRESULT Disconnect() override { return S_FALSE; }
    HRESULT ConnectedTo(IPin** other) override {
        if (!other)
            return E_POINTER;
        *other = nullptr;
        return VFW_E_NOT_CONNECTED;
    }
    HRESULT ConnectionMediaType(AM_MEDIA_TYPE*) override { return VFW_E_NOT_CONNECTED; }
    HRESULT QueryPinInfo(PIN_INFO* info) override {
        if (!info)
            return E_POINTER;
        info->pFilter = nullptr;
        info->dir = PINDIR_OUTPUT;
        info->achName = formats_.PinName;
        return S_OK;
    }
    HRESULT QueryDirection(PIN_DIRECTION* dir) override {
        if (!dir)
            return E_POINTER;
        *dir = PINDIR_OUTPUT;
        return S_OK;
    }
    HRESULT QueryId(WString* id) override {
        if (!id)
            return E_POINTER;
        *id = formats_.PinName;
        return S_OK;
    }
    HRESULT EnumMediaTypes(IEnumMediaTypes**) override { return E_NOTIMPL; }

    // IAMStreamConfig
    HRESULT GetFormat(AM_MEDIA_TYPE** mt) override {
        if (!mt)
            return E_POINTER;
        const std::optional<TMediaType>& current = chosen_ ? chosen_ : formats_.InForce;
        *mt = current ? CreateMediaType(current->AMMediaType()) : nullptr;
        return *mt ? S_OK : VFW_E_NOT_CONNECTED;
    }
    HRESULT SetFormat(const AM_MEDIA_TYPE* mt) override {
        if (!mt)
            return E_POINTER;
        chosen_.emplace(mt);
        return S_OK;
    }
    HRESULT GetNumberOfCapabilities(int32_t* count, int32_t* size) override {
        if (!count || !size)
            return E_POINTER;
        *count = int32_t(formats_.Offered.size());
        *size = 0;
        return S_OK;
    }
    HRESULT GetStreamCaps(int32_t index, AM_MEDIA_TYPE** mt, uint8_t*) override {
        if (!mt)
            return E_POINTER;
        if (index < 0 || size_t(index) >= formats_.Offered.size())
            return S_FALSE;
        *mt = CreateMediaType(formats_.Offered[size_t(index)].AMMediaType());
        return S_OK;
    }

    // ISpecifyPropertyPages
    HRESULT GetPages(CAUUID* pages) override {
        if (!pages)
            return E_POINTER;
        pages->cElems = uint32_t(formats_.Pages.size());
        pages->pElems = static_cast<GUID*>(CoTaskMemAlloc(sizeof(GUID) * formats_.Pages.size()));
        for (size_t i = 0; i < formats_.Pages.size() && pages->pElems; ++i)
            pages->pElems[i] = formats_.Pages[i];
        return S_OK;
    }

  private:
    TPinFormats formats_;
    std::optional<TMediaType> chosen_;
};

}  // namespace

TPinFormats ReadPinFormats(IPin* pin) {
    TPinFormats formats;
    if (!pin)
        return formats;
    PIN_INFO info{};
    info.pFilter = nullptr;
    if (SUCCEEDED(pin->QueryPinInfo(&info)))
        formats.PinName = info.achName;
    if (info.pFilter)
        info.pFilter->Release();
    formats.InForce = PinFormat(pin);
    if (auto config = QueryAs<IAMStreamConfig>(pin)) {
        int32_t count = 0, size = 0;
        if (SUCCEEDED(config->GetNumberOfCapabilities(&count, &size))) {
            for (int32_t i = 0; i < count; ++i) {
                AM_MEDIA_TYPE* mt = nullptr;
                if (SUCCEEDED(config->GetStreamCaps(i, &mt, nullptr)) && mt)
                    formats.Offered.emplace_back(mt);
                DisposeMediaType(mt);
            }
        }
    }
    if (auto specify = QueryAs<ISpecifyPropertyPages>(pin)) {
        CAUUID pages;
        if (SUCCEEDED(specify->GetPages(&pages)) && pages.pElems)
            formats.Pages.assign(pages.pElems, pages.pElems + pages.cElems);
        CoTaskMemFree(pages.pElems);
    }
    return formats;
}

HRESULT ChooseFormatOnPages(QWidget* parent, const TPinFormats& formats,
                            std::optional<TMediaType>& chosen) {
    chosen.reset();
    const ComPtr<TFormatStandIn> standIn = ComPtr<TFormatStandIn>::Attach(new TFormatStandIn(formats));
    const HRESULT shown = OpenPinSettingsDialog(parent, standIn.Get());
    if (shown == S_OK && standIn->Chosen() &&
        !(formats.InForce && standIn->Chosen()->Equals(*formats.InForce)))
        chosen = standIn->Chosen();
    return shown;
}

}  // namespace media
