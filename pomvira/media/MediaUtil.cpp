// SPDX-License-Identifier: GPL-3.0-or-later
#include "MediaUtil.h"

#include <QCoreApplication>
#include <QtGlobal>
#include <cstdio>
#include <utility>

namespace media {

namespace {

TExceptionReporter& Reporter() {
    static TExceptionReporter reporter;
    return reporter;
}

}  // namespace

EDirectShowException::EDirectShowException(const QString& message, HRESULT result)
    : std::runtime_error(message.toStdString()), message_(message), result_(result) {}

EVideoRendererException::EVideoRendererException(const QString& message, HRESULT result)
    : std::runtime_error(message.toStdString()), message_(message), result_(result) {}

EInterfaceNotSupported::EInterfaceNotSupported()
    : std::runtime_error(
          QCoreApplication::translate("Media", "Interface non prise en charge").toStdString()) {}

EListError::EListError(int index)
    : std::out_of_range("List index out of bounds (" + std::to_string(index) + ")") {}

QString GraphErrorText(HRESULT result) {
    char buffer[256] = {};
    uint32_t length = AMGetErrorText(result, buffer, sizeof buffer);
    if (length >= sizeof buffer)
        length = sizeof buffer - 1;
    buffer[sizeof buffer - 1] = '\0';
    return QString::fromLocal8Bit(buffer, int(qstrnlen(buffer, length)));
}

QString GraphFailureText(HRESULT result) {
    // Only the hexadecimal digits are upper-cased; the error text stays as it is.
    return GraphErrorText(result) + QStringLiteral(" ($") +
           QString::number(uint32_t(result), 16).toUpper() + QStringLiteral(").");
}

HRESULT CheckGraphResult(HRESULT result) {
    if (result >= 0)
        return result;
    throw EDirectShowException(GraphFailureText(result), result);
}

void SetExceptionReporter(TExceptionReporter reporter) {
    Reporter() = std::move(reporter);
}

void ReportException(const std::exception& e) {
    if (Reporter()) {
        Reporter()(e);
    } else {
        qWarning("%s", e.what());
    }
}

void PostException(const std::exception& e) noexcept {
    try {
        QString text = QString::fromUtf8(e.what());
        QCoreApplication* app = QCoreApplication::instance();
        if (!app) {
            qWarning("%s", e.what());
            return;
        }
        QMetaObject::invokeMethod(
            app, [text] { ReportException(std::runtime_error(text.toStdString())); },
            Qt::QueuedConnection);
    } catch (...) {
        // Out of memory while reporting: nothing more can be done here.
    }
}

void TCallbackGuard::Failed(const std::exception* e) noexcept {
    if (reported_.exchange(true))
        return;
    try {
        if (e) {
            PostException(*e);
        } else {
            PostException(std::runtime_error(
                QCoreApplication::translate("Media", "Erreur inconnue").toStdString()));
        }
    } catch (...) {
        // Out of memory while reporting: nothing more can be done here.
    }
}

bool SameObject(IUnknown* a, IUnknown* b) {
    if (a == b)
        return true;
    if (!a || !b)
        return false;
    ComPtr<IUnknown> ua = QueryAs<IUnknown>(a);
    ComPtr<IUnknown> ub = QueryAs<IUnknown>(b);
    return ua && ua.Get() == ub.Get();
}

// ---------------------------------------------------------------------------
// Devices
// ---------------------------------------------------------------------------

std::string CutUtf8(const std::string& text, size_t maxBytes) {
    if (text.size() <= maxBytes)
        return text;
    size_t end = maxBytes;
    // Step back over continuation bytes so that the cut falls before the
    // lead byte of a character that does not fit whole.
    while (end > 0 && (uint8_t(text[end]) & 0xC0) == 0x80)
        --end;
    return text.substr(0, end);
}

TSysDevEnum::TSysDevEnum(const GUID& category) {
    ListCategory(CLSID_ActiveMovieCategories, categories_);
    SelectCategory(category);
}

void TSysDevEnum::SelectCategory(const GUID& category) {
    category_ = category;
    ListCategory(category_, devices_);
}

void TSysDevEnum::ListCategory(const GUID& category, std::vector<TDeviceEntry>& list) {
    list.clear();
    ComPtr<ICreateDevEnum> devEnum;
    CoCreateInstance(CLSID_SystemDeviceEnum, ICreateDevEnum::IID_, devEnum.PutVoid());
    if (!devEnum)
        return;
    ComPtr<IEnumMoniker> monikers;
    if (devEnum->CreateClassEnumerator(category, monikers.Put(), 0) != S_OK || !monikers)
        return;
    for (;;) {
        ComPtr<IMoniker> moniker;
        uint32_t fetched = 0;
        if (monikers->Next(1, moniker.Put(), &fetched) != S_OK || !moniker)
            break;
        ComPtr<IPropertyBag> bag;
        moniker->BindToStorage(IPropertyBag::IID_, bag.PutVoid());
        TDeviceEntry entry;
        if (bag) {
            WString name;
            bag->Read(u"FriendlyName", &name);
            entry.FriendlyName =
                CutUtf8(QString::fromStdU16String(name).toUtf8().toStdString(), 255);
            WString clsid;
            if (SUCCEEDED(bag->Read(u"CLSID", &clsid))) {
                GUID g;
                if (!GuidFromString(QString::fromStdU16String(clsid).toStdString(), g)) {
                    throw EDirectShowException(QStringLiteral("Invalid class string"),
                                               CO_E_CLASSSTRING);
                }
                entry.ClassID = g;
            }
        }
        list.push_back(entry);
    }
}

TDeviceEntry TSysDevEnum::DeviceEntry(int index) const {
    if (index < 0 || index >= DeviceCount())
        throw EListError(index);
    return devices_[size_t(index)];
}

TDeviceEntry TSysDevEnum::CategoryEntry(int index) const {
    if (index < 0 || index >= CategoryCount())
        throw EListError(index);
    return categories_[size_t(index)];
}

ComPtr<IMoniker> TSysDevEnum::DeviceMoniker(int index) {
    ComPtr<IMoniker> moniker;
    if (index < 0 || index >= DeviceCount())
        return moniker;
    ComPtr<ICreateDevEnum> devEnum;
    CoCreateInstance(CLSID_SystemDeviceEnum, ICreateDevEnum::IID_, devEnum.PutVoid());
    if (!devEnum)
        return moniker;
    ComPtr<IEnumMoniker> monikers;
    devEnum->CreateClassEnumerator(category_, monikers.Put(), 0);
    if (!monikers)
        return moniker;
    monikers->Skip(uint32_t(index));
    uint32_t fetched = 0;
    monikers->Next(1, moniker.Put(), &fetched);
    monikers->Reset();
    return moniker;
}

ComPtr<IBaseFilter> TSysDevEnum::CreateDevice(int index) {
    ComPtr<IBaseFilter> filter;
    ComPtr<IMoniker> moniker = DeviceMoniker(index);
    if (moniker)
        moniker->BindToObject(IBaseFilter::IID_, filter.PutVoid());
    return filter;
}

// ---------------------------------------------------------------------------
// Filter and pin lists
// ---------------------------------------------------------------------------

TFilterList::TFilterList(IFilterGraph* graph) {
    if (!graph)
        return;
    ComPtr<IEnumFilters> filters;
    if (FAILED(graph->EnumFilters(filters.Put())) || !filters)
        return;
    for (;;) {
        ComPtr<IBaseFilter> filter;
        uint32_t fetched = 0;
        if (filters->Next(1, filter.Put(), &fetched) != S_OK || !filter)
            break;
        filters_.push_back(std::move(filter));
    }
}

int TFilterList::Add(IBaseFilter* filter) {
    filters_.push_back(ComPtr<IBaseFilter>(filter));
    return Count() - 1;
}

int TFilterList::Remove(IBaseFilter* filter) {
    for (size_t i = 0; i < filters_.size(); ++i) {
        if (SameObject(filters_[i].Get(), filter)) {
            filters_.erase(filters_.begin() + std::ptrdiff_t(i));
            return int(i);
        }
    }
    return -1;
}

ComPtr<IBaseFilter> TFilterList::FilterAt(int index) const {
    if (index < 0 || index >= Count())
        throw EListError(index);
    return filters_[size_t(index)];
}

ComPtr<IBaseFilter> TFilterList::LastFilter() const {
    return FilterAt(Count() - 1);
}

TPinList::TPinList(IBaseFilter* filter) : filter_(filter) {
    Update();
}

void TPinList::Update() {
    pins_.clear();
    if (!filter_)
        return;
    ComPtr<IEnumPins> pins;
    if (FAILED(filter_->EnumPins(pins.Put())) || !pins)
        return;
    for (;;) {
        ComPtr<IPin> pin;
        uint32_t fetched = 0;
        if (pins->Next(1, pin.Put(), &fetched) != S_OK || !pin)
            break;
        pins_.push_back(std::move(pin));
    }
}

ComPtr<IPin> TPinList::PinAt(int index) const {
    if (index < 0 || index >= Count())
        throw EListError(index);
    return pins_[size_t(index)];
}

bool TPinList::IsPinConnected(int index) const {
    ComPtr<IPin> pin = PinAt(index);
    ComPtr<IPin> other;
    pin->ConnectedTo(other.Put());
    return bool(other);
}

// ---------------------------------------------------------------------------
// Settings dialogs
// ---------------------------------------------------------------------------

namespace {

// Shows the property pages of one object in a modal frame.
HRESULT ShowPages(QWidget* parent, IUnknown* object, const WString& caption, CAUUID& pages) {
    std::vector<IUnknown*> objects{object};
    std::vector<GUID> ids(pages.pElems, pages.pElems + pages.cElems);
    return OleCreatePropertyFrame(parent, 0, 0, caption, objects, ids);
}

}  // namespace

HRESULT OpenFilterSettingsDialog(QWidget* parent, IBaseFilter* filter, int kind) {
    if (!filter)
        return S_FALSE;
    switch (kind) {
        case 0: {
            ComPtr<ISpecifyPropertyPages> specify;
            HRESULT hr = filter->QueryInterface(ISpecifyPropertyPages::IID_, specify.PutVoid());
            if (FAILED(hr) || !specify)
                return FAILED(hr) ? hr : E_NOINTERFACE;
            CAUUID pages;
            hr = specify->GetPages(&pages);
            if (FAILED(hr)) {
                CoTaskMemFree(pages.pElems);
                return hr;
            }
            FILTER_INFO info{};
            info.pGraph = nullptr;
            hr = filter->QueryFilterInfo(&info);
            if (SUCCEEDED(hr)) {
                hr = ShowPages(parent, static_cast<IUnknown*>(filter), info.achName, pages);
            }
            if (info.pGraph)
                info.pGraph->Release();
            CoTaskMemFree(pages.pElems);
            return hr;
        }
        case 1:
        case 2:
        case 3: {
            static const int32_t codes[] = {0, 4, 2, 1};
            ComPtr<IAMVfwCaptureDialogs> dialogs;
            HRESULT hr = filter->QueryInterface(IAMVfwCaptureDialogs::IID_, dialogs.PutVoid());
            if (FAILED(hr) || !dialogs)
                return FAILED(hr) ? hr : E_NOINTERFACE;
            hr = dialogs->HasDialog(codes[kind]);
            if (hr == S_OK)
                hr = dialogs->ShowDialog(codes[kind], parent);
            return hr;
        }
        case 4:
        case 5: {
            const int32_t code = kind == 4 ? 1 : 2;
            const int32_t query = kind == 4 ? 4 : 8;
            ComPtr<IAMVfwCompressDialogs> dialogs;
            HRESULT hr = filter->QueryInterface(IAMVfwCompressDialogs::IID_, dialogs.PutVoid());
            if (FAILED(hr) || !dialogs)
                return FAILED(hr) ? hr : E_NOINTERFACE;
            hr = dialogs->ShowDialog(query, nullptr);
            if (hr == S_OK)
                hr = dialogs->ShowDialog(code, parent);
            return hr;
        }
        default:
            return S_FALSE;
    }
}

HRESULT OpenPinSettingsDialog(QWidget* parent, IPin* pin) {
    if (!pin)
        return S_FALSE;
    ComPtr<ISpecifyPropertyPages> specify;
    HRESULT hr = pin->QueryInterface(ISpecifyPropertyPages::IID_, specify.PutVoid());
    if (FAILED(hr) || !specify)
        return FAILED(hr) ? hr : E_NOINTERFACE;
    CAUUID pages;
    hr = specify->GetPages(&pages);
    if (SUCCEEDED(hr)) {
        PIN_INFO info{};
        info.pFilter = nullptr;
        hr = pin->QueryPinInfo(&info);
        if (SUCCEEDED(hr)) {
            hr = ShowPages(parent, static_cast<IUnknown*>(pin), info.achName, pages);
        }
        if (info.pFilter)
            info.pFilter->Release();
    }
    CoTaskMemFree(pages.pElems);
    return hr;
}

}  // namespace media
