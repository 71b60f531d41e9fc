// SPDX-License-Identifier: GPL-3.0-or-later
// The source-filter component (TFilter) and the persistent byte block that
// says which device it opens (TPersistentMemory, TBaseFilter).
#pragma once

#include <QObject>
#include <cstddef>
#include <cstdint>
#include <vector>

#include "FilterGraph.h"
#include "GraphMember.h"
#include "MediaBoundary.h"
#include "MediaUtil.h"

namespace media {

// A byte block and its length (0 = empty, no block).
class TPersistentMemory {
  public:
    TPersistentMemory() = default;
    TPersistentMemory(const TPersistentMemory& other) { Assign(other); }
    TPersistentMemory& operator=(const TPersistentMemory& other) {
        Assign(other);
        return *this;
    }
    virtual ~TPersistentMemory() = default;

    uint32_t DataLength() const { return uint32_t(data_.size()); }
    // Replaces the block with a zero-filled one of the given length.
    void SetDataLength(uint32_t length);
    uint8_t* Data() { return data_.empty() ? nullptr : data_.data(); }
    const uint8_t* Data() const { return data_.empty() ? nullptr : data_.data(); }

    void Assign(const TPersistentMemory& other);
    // Both non-empty, of the same length and byte-wise identical.
    bool Equals(const TPersistentMemory& other) const;

    // The streamed "data" property: a 32-bit little-endian length, then
    // that many bytes.
    std::vector<uint8_t> WriteData() const;
    void WriteData(std::vector<uint8_t>& out) const;
    // Reads one streamed block at data[pos..size), advancing pos. False,
    // with the block and pos unchanged, when the bytes are too few.
    bool ReadData(const uint8_t* data, size_t size, size_t& pos);
    bool ReadData(const std::vector<uint8_t>& data);

  protected:
    std::vector<uint8_t> data_;
};

// The serialized device moniker that says which device a source opens.
class TBaseFilter : public TPersistentMemory {
  public:
    // The moniker serialized by the platform (class identifier first); null
    // empties the block.
    void StoreMoniker(IMoniker* moniker);
    // Null when the block is empty or the platform cannot read it back.
    ComPtr<IMoniker> LoadMoniker() const;
    // LoadMoniker, then BindToObject(IBaseFilter); null on any failure.
    ComPtr<IBaseFilter> InstantiateFilter() const;
};

// A source filter in the graph: the device stored in BaseFilter becomes a
// live filter whenever its graph is active. objectName() is its name in
// the graph.
class TFilter : public QObject, public TGraphMember, public TInterfaceSource {
    Q_OBJECT
  public:
    explicit TFilter(QObject* owner = nullptr);
    ~TFilter() override;

    TBaseFilter& BaseFilter() { return baseFilter_; }
    const TBaseFilter& BaseFilter() const { return baseFilter_; }
    void SetBaseFilter(const TBaseFilter& value) { baseFilter_.Assign(value); }
    // Whether a device is stored, and forgetting it (the device went away:
    // a graph built from here on leaves this source out).
    bool HasDevice() const { return baseFilter_.DataLength() != 0; }
    void ForgetDevice() { baseFilter_.StoreMoniker(nullptr); }

    // IGraphMember
    IBaseFilter* MemberFilter() override { return filter_.Get(); }
    QString MemberName() override { return objectName(); }
    void MemberNotify(TMemberStep step, int param) override;

    // Forwarded to the current filter (none outside an active graph).
    HRESULT QueryInterface(const IID& iid, void** object) override;

  private:
    TBaseFilter baseFilter_;
    ComPtr<IBaseFilter> filter_;
};

}  // namespace media
