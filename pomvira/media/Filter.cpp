// SPDX-License-Identifier: GPL-3.0-or-later
#include "Filter.h"

#include <cstring>

#include "FilterGraph.h"

namespace media {

// ---------------------------------------------------------------------------
// TPersistentMemory
// ---------------------------------------------------------------------------

void TPersistentMemory::SetDataLength(uint32_t length) {
    data_.assign(length, 0);
}

void TPersistentMemory::Assign(const TPersistentMemory& other) {
    if (&other != this)
        data_ = other.data_;
}

bool TPersistentMemory::Equals(const TPersistentMemory& other) const {
    return !data_.empty() && data_ == other.data_;
}

std::vector<uint8_t> TPersistentMemory::WriteData() const {
    std::vector<uint8_t> out;
    WriteData(out);
    return out;
}

void TPersistentMemory::WriteData(std::vector<uint8_t>& out) const {
    const uint32_t length = DataLength();
    for (int i = 0; i < 4; ++i)
        out.push_back(uint8_t(length >> (8 * i)));
    out.insert(out.end(), data_.begin(), data_.end());
}

bool TPersistentMemory::ReadData(const uint8_t* data, size_t size, size_t& pos) {
    if (!data || pos > size || size - pos < 4)
        return false;
    const uint8_t* p = data + pos;
    const uint32_t length =
        uint32_t(p[0]) | uint32_t(p[1]) << 8 | uint32_t(p[2]) << 16 | uint32_t(p[3]) << 24;
    if (size - pos - 4 < length)
        return false;
    data_.assign(p + 4, p + 4 + length);
    pos += 4 + size_t(length);
    return true;
}

bool TPersistentMemory::ReadData(const std::vector<uint8_t>& data) {
    size_t pos = 0;
    return ReadData(data.data(), data.size(), pos);
}

// ---------------------------------------------------------------------------
// TBaseFilter
// ---------------------------------------------------------------------------

void TBaseFilter::StoreMoniker(IMoniker* moniker) {
    if (!moniker) {
        data_.clear();
        return;
    }
    std::vector<uint8_t> stream;
    OleSaveToStream(moniker, &stream);
    data_ = stream;
}

ComPtr<IMoniker> TBaseFilter::LoadMoniker() const {
    ComPtr<IMoniker> moniker;
    if (data_.empty())
        return moniker;
    const std::vector<uint8_t> copy = data_;
    OleLoadFromStream(copy, IMoniker::IID_, moniker.PutVoid());
    return moniker;
}

ComPtr<IBaseFilter> TBaseFilter::InstantiateFilter() const {
    ComPtr<IBaseFilter> filter;
    ComPtr<IMoniker> moniker = LoadMoniker();
    if (moniker)
        moniker->BindToObject(IBaseFilter::IID_, filter.PutVoid());
    return filter;
}

// ---------------------------------------------------------------------------
// TFilter
// ---------------------------------------------------------------------------

TFilter::TFilter(QObject* owner) : QObject(owner) {}

TFilter::~TFilter() {
    baseFilter_.SetDataLength(0);
    SetFilterGraph(nullptr);
}

void TFilter::MemberNotify(TMemberStep step, int /*param*/) {
    switch (step) {
        case msAdding:
            filter_ = baseFilter_.InstantiateFilter();
            break;
        case msAdded:
            break;
        case msRemoving:
            if (filter_) {
                FILTER_STATE state = State_Stopped;
                if (filter_->GetState(0, &state) == S_OK &&
                    (state == State_Paused || state == State_Running)) {
                    filter_->Stop();
                }
            }
            break;
        case msRemoved:
        case msAbandoned:
            filter_ = nullptr;
            break;
        case msRefresh:
            RejoinGraph();
            break;
    }
}

HRESULT TFilter::QueryInterface(const IID& iid, void** object) {
    if (!object)
        return E_POINTER;
    *object = nullptr;
    if (filter_)
        return filter_->QueryInterface(iid, object);
    return E_NOINTERFACE;
}

}  // namespace media
