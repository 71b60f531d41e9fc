// SPDX-License-Identifier: GPL-3.0-or-later
// Graphs on the GStreamer boundary in tests: a sink that counts what reaches
// it, the built-in test devices found by name, and the event loop run for a
// while.
#pragma once

#include <gst/gst.h>
#include <gtest/gtest.h>
#include <pthread.h>

#include <QCoreApplication>
#include <QElapsedTimer>
#include <atomic>
#include <chrono>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "media/gst/BinFilter.h"
#include "media/gst/GstMediaSystem.h"

namespace gst_graph_testing {

using namespace media;
using namespace media::gst;

// A sink that counts buffers and remembers the caps it was given.
class ProbeSink : public BinFilter {
  public:
    ProbeSink() : BinFilter(MakeGuid(0x1234, 0, 0, 0, 0, 0, 0, 0, 0, 0, 1), gst_bin_new(nullptr)) {
        GstElement* sink = gst_element_factory_make("fakesink", nullptr);
        g_object_set(sink, "signal-handoffs", TRUE, "sync", FALSE, nullptr);
        g_signal_connect(sink, "handoff", G_CALLBACK(&ProbeSink::OnHandoff), this);
        gst_bin_add(GST_BIN(Bin()), sink);
        ExposePad(gst_element_get_static_pad(sink, "sink"), u"In");
    }
    int Buffers() const { return buffers_; }
    // The name of the thread that handed over the last buffer.
    std::string Thread() {
        std::lock_guard<std::mutex> g(lock_);
        return thread_;
    }
    std::string Caps() {
        std::lock_guard<std::mutex> g(lock_);
        return caps_;
    }
    bool WaitBuffers(int n, int ms = 5000) {
        QElapsedTimer t;
        t.start();
        while (buffers_ < n && t.elapsed() < ms)
            std::this_thread::sleep_for(std::chrono::milliseconds(10));
        return buffers_ >= n;
    }

  private:
    static void OnHandoff(GstElement*, GstBuffer*, GstPad* pad, gpointer self) {
        auto* s = static_cast<ProbeSink*>(self);
        CapsRef caps = CapsRef::Adopt(gst_pad_get_current_caps(pad));
        if (caps) {
            StringRef text = StringRef::Adopt(gst_caps_to_string(caps.Get()));
            std::lock_guard<std::mutex> g(s->lock_);
            s->caps_ = text.Get();
        }
        char name[32] = "";
        pthread_getname_np(pthread_self(), name, sizeof name);
        {
            std::lock_guard<std::mutex> g(s->lock_);
            s->thread_ = name;
        }
        ++s->buffers_;
    }
    std::atomic<int> buffers_{0};
    std::mutex lock_;
    std::string caps_;
    std::string thread_;
};

template <class I>
ComPtr<I> Create(const CLSID& clsid) {
    ComPtr<I> r;
    EXPECT_EQ(GstMediaSystem()->CreateInstance(clsid, I::IID_, r.PutVoid()), S_OK);
    return r;
}

struct Entry {
    std::string name;
    GUID clsid{};
    ComPtr<IMoniker> moniker;
};

inline std::vector<Entry> List(const GUID& category, HRESULT* result = nullptr) {
    std::vector<Entry> out;
    auto devEnum = Create<ICreateDevEnum>(CLSID_SystemDeviceEnum);
    ComPtr<IEnumMoniker> monikers;
    HRESULT hr = devEnum->CreateClassEnumerator(category, monikers.Put(), 0);
    if (result)
        *result = hr;
    if (hr != S_OK)
        return out;
    IMoniker* m = nullptr;
    while (monikers->Next(1, &m, nullptr) == S_OK) {
        Entry e;
        e.moniker = ComPtr<IMoniker>::Attach(m);
        ComPtr<IPropertyBag> bag;
        EXPECT_EQ(m->BindToStorage(IPropertyBag::IID_, bag.PutVoid()), S_OK);
        WString text;
        EXPECT_EQ(bag->Read(u"FriendlyName", &text), S_OK);
        e.name = ToUtf8(text);
        EXPECT_EQ(bag->Read(u"CLSID", &text), S_OK);
        EXPECT_TRUE(GuidFromString(ToUtf8(text), e.clsid)) << ToUtf8(text);
        out.push_back(std::move(e));
    }
    return out;
}

inline ComPtr<IBaseFilter> Bind(const GUID& category, const std::string& name) {
    for (const Entry& e : List(category)) {
        if (e.name != name)
            continue;
        ComPtr<IBaseFilter> f;
        EXPECT_EQ(e.moniker->BindToObject(IBaseFilter::IID_, f.PutVoid()), S_OK);
        return f;
    }
    ADD_FAILURE() << "no device " << name;
    return nullptr;
}

inline void Pump(int ms) {
    QElapsedTimer t;
    t.start();
    while (t.elapsed() < ms) {
        QCoreApplication::processEvents(QEventLoop::AllEvents, 20);
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
}

}  // namespace gst_graph_testing
