// SPDX-License-Identifier: GPL-3.0-or-later
#include "TestJpegCycle.h"

#include <gst/app/gstappsink.h>
#include <gst/base/gstpushsrc.h>

#include <array>
#include <atomic>

#include "media/gst/GstRef.h"

namespace media::gst {

namespace {

// How long the stream waits for the encoding of a frame it needs, at most.
constexpr gint64 kEncodeWaitUs = 10 * G_USEC_PER_SEC;

// The source's own state (the GObject instance holds a pointer to it).
struct CycleState {
    int width = 0, height = 0, fpsNum = 30, fpsDen = 1;
    CapsRef caps;
    // The encoding: videotestsrc ! capsfilter ! [stage] ! jpegenc ! appsink,
    // running only while a cycle is encoded.
    ElementRef encoder;
    GstElement* encoderSink = nullptr;  // owned by encoder
    GstElement* stage = nullptr;        // owned by encoder; null without one
    gulong stageHandler = 0;
    bool encoding = false;
    int encoded = 0;  // frames taken from the running encoding
    std::array<GstRef<GstBuffer>, kJpegCycleFrames> cycle;
    guint64 frame = 0;  // the number of the next frame
    // Set by the stage's settings (any thread): the cycle is encoded again.
    std::atomic<bool> stale{false};
    // Set while the source is told to stop waiting (flushing, stopping).
    std::atomic<bool> unlocked{false};

    GstClockTime Duration() const {
        return gst_util_uint64_scale_int(GST_SECOND, fpsDen, fpsNum > 0 ? fpsNum : 30);
    }
};

struct PomviraJpegCycleSrc {
    GstPushSrc parent;
    CycleState* state;
};

struct PomviraJpegCycleSrcClass {
    GstPushSrcClass parent_class;
};

GType pomvira_jpeg_cycle_src_get_type();
G_DEFINE_TYPE(PomviraJpegCycleSrc, pomvira_jpeg_cycle_src, GST_TYPE_PUSH_SRC)

CycleState& StateOf(gpointer self) {
    return *reinterpret_cast<PomviraJpegCycleSrc*>(self)->state;
}

void OnStageChanged(GObject*, GParamSpec*, gpointer data) {
    static_cast<CycleState*>(data)->stale = true;
}

// Builds the encoding pipeline (once per source); false when an element is
// missing.
bool BuildEncoder(CycleState& st) {
    if (st.encoder)
        return true;
    GstElement* pipeline = gst_pipeline_new(nullptr);
    GstElement* pattern = gst_element_factory_make("videotestsrc", nullptr);
    GstElement* filter = gst_element_factory_make("capsfilter", nullptr);
    GstElement* encode = gst_element_factory_make("jpegenc", nullptr);
    GstElement* sink = gst_element_factory_make("appsink", nullptr);
    st.encoder = ElementRef::Sink(pipeline);
    if (!pattern || !filter || !encode || !sink) {
        for (GstElement* e : {pattern, filter, encode, sink}) {
            if (e)
                gst_object_unref(gst_object_ref_sink(e));
        }
        return false;
    }
    g_object_set(pattern, "is-live", FALSE, "pattern", 0 /* smpte */, "horizontal-speed", 4,
                 "num-buffers", kJpegCycleFrames, nullptr);
    CapsRef raw = CapsRef::Adopt(gst_caps_new_simple(
        "video/x-raw", "format", G_TYPE_STRING, "I420", "width", G_TYPE_INT, st.width, "height",
        G_TYPE_INT, st.height, "framerate", GST_TYPE_FRACTION, st.fpsNum, st.fpsDen, nullptr));
    g_object_set(filter, "caps", raw.Get(), nullptr);
    g_object_set(sink, "sync", FALSE, "enable-last-sample", FALSE, nullptr);
    gst_bin_add_many(GST_BIN(pipeline), pattern, filter, encode, sink, nullptr);
    bool linked = gst_element_link(pattern, filter);
    if (st.stage) {
        gst_bin_add(GST_BIN(pipeline), st.stage);
        linked = linked && gst_element_link_many(filter, st.stage, encode, nullptr);
    } else {
        linked = linked && gst_element_link(filter, encode);
    }
    linked = linked && gst_element_link(encode, sink);
    st.encoderSink = sink;
    return linked;
}

// Starts encoding the cycle (again); false when it cannot start.
bool StartEncoding(CycleState& st) {
    if (!BuildEncoder(st))
        return false;
    gst_element_set_state(st.encoder.Get(), GST_STATE_NULL);
    st.encoded = 0;
    st.encoding =
        gst_element_set_state(st.encoder.Get(), GST_STATE_PLAYING) != GST_STATE_CHANGE_FAILURE;
    return st.encoding;
}

// The encoding is over: its threads and buffers go until it is needed again.
void EndEncoding(CycleState& st) {
    st.encoding = false;
    if (st.encoder)
        gst_element_set_state(st.encoder.Get(), GST_STATE_NULL);
}

// Takes the frames the encoder has ready into the cycle; waits (bounded,
// and only while not unlocked) until the given slot has a frame. False when
// the slot stays empty: the encoding failed, the wait ran out, or the
// source is unlocked.
bool TakeEncodedFrames(CycleState& st, size_t slot) {
    const gint64 deadline = g_get_monotonic_time() + kEncodeWaitUs;
    while (st.encoding) {
        const bool needed = !st.cycle[slot];
        GstRef<GstSample> sample = GstRef<GstSample>::Adopt(gst_app_sink_try_pull_sample(
            GST_APP_SINK(st.encoderSink), needed ? 20 * GST_MSECOND : 0));
        if (sample) {
            // A copy of the frame's bytes alone: the encoder's buffer is as
            // large as a raw frame (3 MB at 1920x1080 for 130 kB of JPEG).
            if (GstBuffer* buffer = gst_sample_get_buffer(sample.Get()))
                st.cycle[size_t(st.encoded)] =
                    GstRef<GstBuffer>::Adopt(gst_buffer_copy_deep(buffer));
            if (++st.encoded == kJpegCycleFrames)
                EndEncoding(st);
            continue;
        }
        GstRef<GstBus> bus = GstRef<GstBus>::Adopt(gst_element_get_bus(st.encoder.Get()));
        GstRef<GstMessage> error = GstRef<GstMessage>::Adopt(
            bus ? gst_bus_pop_filtered(bus.Get(), GST_MESSAGE_ERROR) : nullptr);
        if (error || gst_app_sink_is_eos(GST_APP_SINK(st.encoderSink))) {
            EndEncoding(st);
            break;
        }
        if (!needed || st.unlocked || g_get_monotonic_time() > deadline)
            break;
    }
    return bool(st.cycle[slot]);
}

GstFlowReturn CycleCreate(GstPushSrc* src, GstBuffer** out) {
    CycleState& st = StateOf(src);
    if (st.stale.exchange(false) && !StartEncoding(st)) {
        GST_ELEMENT_ERROR(src, CORE, FAILED, ("cannot encode the test camera's frames"), (nullptr));
        return GST_FLOW_ERROR;
    }
    const size_t slot = size_t(st.frame % kJpegCycleFrames);
    if (!TakeEncodedFrames(st, slot)) {
        if (st.unlocked)
            return GST_FLOW_FLUSHING;
        GST_ELEMENT_ERROR(src, CORE, FAILED, ("the test camera's frames were not encoded"),
                          (nullptr));
        return GST_FLOW_ERROR;
    }
    // A buffer of its own over the cycle's memory.
    GstBuffer* buffer = gst_buffer_copy(st.cycle[slot].Get());
    const GstClockTime duration = st.Duration();
    GST_BUFFER_PTS(buffer) = st.frame * duration;
    GST_BUFFER_DTS(buffer) = GST_CLOCK_TIME_NONE;
    GST_BUFFER_DURATION(buffer) = duration;
    GST_BUFFER_OFFSET(buffer) = st.frame;
    GST_BUFFER_OFFSET_END(buffer) = st.frame + 1;
    if (st.frame == 0)
        GST_BUFFER_FLAG_SET(buffer, GST_BUFFER_FLAG_DISCONT);
    else
        GST_BUFFER_FLAG_UNSET(buffer, GST_BUFFER_FLAG_DISCONT);
    ++st.frame;
    *out = buffer;
    return GST_FLOW_OK;
}

GstCaps* CycleGetCaps(GstBaseSrc* src, GstCaps* filter) {
    CycleState& st = StateOf(src);
    return filter ? gst_caps_intersect_full(filter, st.caps.Get(), GST_CAPS_INTERSECT_FIRST)
                  : gst_caps_ref(st.caps.Get());
}

// The frame's time on the pipeline's clock: the base class waits for it,
// as a live camera delivers each frame when it is taken.
void CycleGetTimes(GstBaseSrc*, GstBuffer* buffer, GstClockTime* start, GstClockTime* end) {
    *start = GST_BUFFER_PTS(buffer);
    *end = GST_CLOCK_TIME_IS_VALID(*start) && GST_BUFFER_DURATION_IS_VALID(buffer)
               ? *start + GST_BUFFER_DURATION(buffer)
               : GST_CLOCK_TIME_NONE;
}

gboolean CycleQuery(GstBaseSrc* src, GstQuery* query) {
    if (GST_QUERY_TYPE(query) == GST_QUERY_LATENCY) {
        // One frame: a frame leaves when its time is over.
        const GstClockTime duration = StateOf(src).Duration();
        gst_query_set_latency(query, TRUE, duration, duration);
        return TRUE;
    }
    return GST_BASE_SRC_CLASS(pomvira_jpeg_cycle_src_parent_class)->query(src, query);
}

gboolean CycleStart(GstBaseSrc* src) {
    CycleState& st = StateOf(src);
    st.frame = 0;
    st.unlocked = false;
    // The cycle is kept across restarts while it is whole (a stop can cut
    // its encoding short) and current.
    if (st.cycle.back() && !st.stale)
        return TRUE;
    st.stale = false;
    if (!StartEncoding(st)) {
        GST_ELEMENT_ERROR(src, CORE, MISSING_PLUGIN, ("test camera elements missing"), (nullptr));
        return FALSE;
    }
    return TRUE;
}

gboolean CycleStop(GstBaseSrc* src) {
    EndEncoding(StateOf(src));
    return TRUE;
}

gboolean CycleUnlock(GstBaseSrc* src) {
    StateOf(src).unlocked = true;
    return TRUE;
}

gboolean CycleUnlockStop(GstBaseSrc* src) {
    StateOf(src).unlocked = false;
    return TRUE;
}

void CycleFinalize(GObject* object) {
    auto* self = reinterpret_cast<PomviraJpegCycleSrc*>(object);
    CycleState* st = self->state;
    if (st->stage && st->stageHandler)
        g_signal_handler_disconnect(st->stage, st->stageHandler);
    EndEncoding(*st);
    delete st;
    G_OBJECT_CLASS(pomvira_jpeg_cycle_src_parent_class)->finalize(object);
}

void pomvira_jpeg_cycle_src_class_init(PomviraJpegCycleSrcClass* klass) {
    G_OBJECT_CLASS(klass)->finalize = CycleFinalize;
    auto* base = GST_BASE_SRC_CLASS(klass);
    base->get_caps = CycleGetCaps;
    base->get_times = CycleGetTimes;
    base->query = CycleQuery;
    base->start = CycleStart;
    base->stop = CycleStop;
    base->unlock = CycleUnlock;
    base->unlock_stop = CycleUnlockStop;
    GST_PUSH_SRC_CLASS(klass)->create = CycleCreate;
    static GstStaticPadTemplate srcTemplate =
        GST_STATIC_PAD_TEMPLATE("src", GST_PAD_SRC, GST_PAD_ALWAYS, GST_STATIC_CAPS("image/jpeg"));
    gst_element_class_add_static_pad_template(GST_ELEMENT_CLASS(klass), &srcTemplate);
    gst_element_class_set_static_metadata(GST_ELEMENT_CLASS(klass), "Pomvira test camera frames",
                                          "Source/Video", "A cycle of JPEG frames encoded once",
                                          "Pomvira");
}

void pomvira_jpeg_cycle_src_init(PomviraJpegCycleSrc* self) {
    self->state = new CycleState;
    gst_base_src_set_live(GST_BASE_SRC(self), TRUE);
    gst_base_src_set_format(GST_BASE_SRC(self), GST_FORMAT_TIME);
}

}  // namespace

GstElement* MakeJpegCycleSource(int width, int height, int fpsNum, int fpsDen,
                                GstElement* pictureStage) {
    ElementRef stage = pictureStage ? ElementRef::Sink(pictureStage) : ElementRef();
    if (width <= 0 || height <= 0 || fpsNum <= 0 || fpsDen <= 0)
        return nullptr;
    auto* self = reinterpret_cast<PomviraJpegCycleSrc*>(
        g_object_new(pomvira_jpeg_cycle_src_get_type(), nullptr));
    CycleState& st = *self->state;
    st.width = width;
    st.height = height;
    st.fpsNum = fpsNum;
    st.fpsDen = fpsDen;
    st.caps = CapsRef::Adopt(gst_caps_new_simple(
        "image/jpeg", "width", G_TYPE_INT, width, "height", G_TYPE_INT, height, "framerate",
        GST_TYPE_FRACTION, fpsNum, fpsDen, "pixel-aspect-ratio", GST_TYPE_FRACTION, 1, 1, nullptr));
    if (stage) {
        st.stage = stage.Get();
        st.stageHandler = g_signal_connect(st.stage, "notify", G_CALLBACK(OnStageChanged), &st);
        // The encoding pipeline takes the stage over when it is built.
        if (!BuildEncoder(st)) {
            gst_object_unref(gst_object_ref_sink(self));
            return nullptr;
        }
    }
    return GST_ELEMENT(self);
}

}  // namespace media::gst
