// SPDX-License-Identifier: GPL-3.0-or-later
// Owning references to GStreamer and GLib objects.
//
// Every GStreamer reference held by the media boundary lives in a GstRef, so
// that no path (early returns included) leaks or double-frees one. A GstRef
// owns exactly one reference (or, for non-counted records such as
// GstStructure and GError, the record itself).
#pragma once

#include <gst/gst.h>

#include <utility>

namespace media::gst {

// How a type is referenced and released.
template <class T>
struct RefTraits {
    // GstObject and its subclasses (elements, pads, bins, buses, ...).
    static T* Ref(T* p) { return static_cast<T*>(gst_object_ref(p)); }
    static void Unref(T* p) { gst_object_unref(p); }
};
template <>
struct RefTraits<GstCaps> {
    static GstCaps* Ref(GstCaps* p) { return gst_caps_ref(p); }
    static void Unref(GstCaps* p) { gst_caps_unref(p); }
};
template <>
struct RefTraits<GstMessage> {
    static GstMessage* Ref(GstMessage* p) { return gst_message_ref(p); }
    static void Unref(GstMessage* p) { gst_message_unref(p); }
};
template <>
struct RefTraits<GstEvent> {
    static GstEvent* Ref(GstEvent* p) { return gst_event_ref(p); }
    static void Unref(GstEvent* p) { gst_event_unref(p); }
};
template <>
struct RefTraits<GstQuery> {
    static GstQuery* Ref(GstQuery* p) { return gst_query_ref(p); }
    static void Unref(GstQuery* p) { gst_query_unref(p); }
};
template <>
struct RefTraits<GstBuffer> {
    static GstBuffer* Ref(GstBuffer* p) { return gst_buffer_ref(p); }
    static void Unref(GstBuffer* p) { gst_buffer_unref(p); }
};
template <>
struct RefTraits<GstSample> {
    static GstSample* Ref(GstSample* p) { return gst_sample_ref(p); }
    static void Unref(GstSample* p) { gst_sample_unref(p); }
};
template <>
struct RefTraits<GstStructure> {
    static GstStructure* Ref(GstStructure* p) { return gst_structure_copy(p); }
    static void Unref(GstStructure* p) { gst_structure_free(p); }
};
template <>
struct RefTraits<GError> {
    static GError* Ref(GError* p) { return g_error_copy(p); }
    static void Unref(GError* p) { g_error_free(p); }
};
template <>
struct RefTraits<gchar> {
    static gchar* Ref(gchar* p) { return g_strdup(p); }
    static void Unref(gchar* p) { g_free(p); }
};
template <>
struct RefTraits<GstIterator> {
    static GstIterator* Ref(GstIterator* p) { return gst_iterator_copy(p); }
    static void Unref(GstIterator* p) { gst_iterator_free(p); }
};
template <>
struct RefTraits<GList> {
    // A list of GstObjects with one reference per item (gst_..._get_...).
    static GList* Ref(GList* p) { return g_list_copy_deep(p, CopyItem, nullptr); }
    static void Unref(GList* p) { g_list_free_full(p, gst_object_unref); }
    static gpointer CopyItem(gconstpointer item, gpointer) {
        return gst_object_ref(const_cast<gpointer>(item));
    }
};

template <class T>
class GstRef {
  public:
    GstRef() = default;
    GstRef(std::nullptr_t) {}
    GstRef(const GstRef& o) : p_(o.p_ ? RefTraits<T>::Ref(o.p_) : nullptr) {}
    GstRef(GstRef&& o) noexcept : p_(o.p_) { o.p_ = nullptr; }
    ~GstRef() { Reset(); }
    GstRef& operator=(GstRef o) noexcept {
        std::swap(p_, o.p_);
        return *this;
    }

    // Takes over a reference the caller owns (a "transfer full" result).
    static GstRef Adopt(T* p) {
        GstRef r;
        r.p_ = p;
        return r;
    }
    // Takes a new reference (a "transfer none" result).
    static GstRef Share(T* p) { return Adopt(p ? RefTraits<T>::Ref(p) : nullptr); }
    // For GstObjects that may be floating (freshly made elements, pads): sinks
    // the floating reference or takes a new one.
    static GstRef Sink(T* p) {
        return Adopt(p ? static_cast<T*>(gst_object_ref_sink(p)) : nullptr);
    }

    void Reset() {
        if (p_) {
            T* p = p_;
            p_ = nullptr;
            RefTraits<T>::Unref(p);
        }
    }
    // Gives up the reference without releasing it: the caller owns it now
    // (as with ComPtr::Detach).
    T* Detach() { return std::exchange(p_, nullptr); }
    // Releases the held reference and returns the slot for an out parameter.
    T** Put() {
        Reset();
        return &p_;
    }
    T* Get() const { return p_; }
    T* operator->() const { return p_; }
    explicit operator bool() const { return p_ != nullptr; }

  private:
    T* p_ = nullptr;
};

using ElementRef = GstRef<GstElement>;
using PadRef = GstRef<GstPad>;
using CapsRef = GstRef<GstCaps>;
using MessageRef = GstRef<GstMessage>;
using BusRef = GstRef<GstBus>;
using ErrorRef = GstRef<GError>;
using StringRef = GstRef<gchar>;

}  // namespace media::gst
