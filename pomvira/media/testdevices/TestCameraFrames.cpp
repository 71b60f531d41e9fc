// SPDX-License-Identifier: GPL-3.0-or-later
#include "TestCameraFrames.h"

#include <gst/app/gstappsink.h>
#include <gst/base/gstpushsrc.h>
#include <gst/video/video.h>

#include <atomic>
#include <cstring>
#include <vector>

#include "media/gst/GstRef.h"

namespace media::gst {

namespace {

// How long the stream waits for the drawing of a frame it needs, at most.
constexpr gint64 kEncodeWaitUs = 10 * G_USEC_PER_SEC;

// The source's own state (the GObject instance holds a pointer to it).
struct CycleState {
    int width = 0, height = 0, fpsNum = 30, fpsDen = 1;
    CapsRef caps;         // of the frames
    CapsRef patternCaps;  // what videotestsrc draws
    // Raw frames: their layout, and whether they are views of a scrolling
    // picture (else the drawn frame itself, standing).
    bool raw = false;
    GstVideoInfo info{};
    bool scrolls = false;
    // The drawing: videotestsrc ! capsfilter ! [stage] ! [jpegenc] !
    // appsink, built to draw the frames and let go once they are drawn (its
    // sink would hold on to the last frame it handed out).
    ElementRef encoder;
    GstElement* encoderSink = nullptr;  // owned by encoder
    ElementRef stage;                   // null without one
    gulong stageHandler = 0;
    bool encoding = false;
    int encoded = 0;  // frames taken from the running drawing
    // JPEG: the cycle's frames; raw: one, the picture (with scrolls, one
    // memory a plane, each a row longer than the plane).
    std::vector<GstRef<GstBuffer>> cycle;
    guint64 frame = 0;  // the number of the next frame
    // Set by the stage's settings (any thread): the frames are drawn again.
    std::atomic<bool> stale{false};
    // Set while the source is told to stop waiting (flushing, stopping).
    std::atomic<bool> unlocked{false};
    // videotestsrc's pattern (the "pattern" property; any thread).
    std::atomic<int> pattern{0 /* smpte */};

    GstClockTime Duration() const {
        return gst_util_uint64_scale_int(GST_SECOND, fpsDen, fpsNum > 0 ? fpsNum : 30);
    }
};

struct PomviraTestFramesSrc {
    GstPushSrc parent;
    CycleState* state;
};

struct PomviraTestFramesSrcClass {
    GstPushSrcClass parent_class;
};

GType pomvira_test_frames_src_get_type();
G_DEFINE_TYPE(PomviraTestFramesSrc, pomvira_test_frames_src, GST_TYPE_PUSH_SRC)

CycleState& StateOf(gpointer self) {
    return *reinterpret_cast<PomviraTestFramesSrc*>(self)->state;
}

void OnStageChanged(GObject*, GParamSpec*, gpointer data) {
    static_cast<CycleState*>(data)->stale = true;
}

// Builds the drawing pipeline (for each drawing); false when an element is
// missing.
bool BuildEncoder(CycleState& st) {
    if (st.encoder)
        return true;
    ElementRef built = ElementRef::Sink(gst_pipeline_new(nullptr));
    GstElement* pipeline = built.Get();
    GstElement* pattern = gst_element_factory_make("videotestsrc", nullptr);
    GstElement* filter = gst_element_factory_make("capsfilter", nullptr);
    // Raw frames are taken as drawn.
    GstElement* encode = st.raw ? nullptr : gst_element_factory_make("jpegenc", nullptr);
    GstElement* sink = gst_element_factory_make("appsink", nullptr);
    if (!pattern || !filter || (!encode && !st.raw) || !sink) {
        for (GstElement* e : {pattern, filter, encode, sink}) {
            if (e)
                gst_object_unref(gst_object_ref_sink(e));
        }
        return false;
    }
    // Raw: one picture, which the frames scroll over.
    g_object_set(pattern, "is-live", FALSE, "pattern", st.pattern.load(), "horizontal-speed",
                 st.raw ? 0 : kTestScrollPixels, "num-buffers", int(st.cycle.size()), nullptr);
    g_object_set(filter, "caps", st.patternCaps.Get(), nullptr);
    g_object_set(sink, "sync", FALSE, "enable-last-sample", FALSE, nullptr);
    gst_bin_add_many(GST_BIN(pipeline), pattern, filter, sink, nullptr);
    bool linked = gst_element_link(pattern, filter);
    GstElement* last = filter;
    for (GstElement* next : {st.stage.Get(), encode}) {
        if (next) {
            gst_bin_add(GST_BIN(pipeline), next);
            linked = linked && gst_element_link(last, next);
            last = next;
        }
    }
    if (!linked || !gst_element_link(last, sink))
        return false;
    st.encoder = built;
    st.encoderSink = sink;
    return true;
}

// The components of plane p (the first of them is enough here).
int FirstComponent(const GstVideoInfo& info, guint plane) {
    gint components[GST_VIDEO_MAX_COMPONENTS];
    gst_video_format_info_component(info.finfo, plane, components);
    return components[0];
}

// The bytes of plane p of a frame (its rows times their stride).
gsize PlaneBytes(const GstVideoInfo& info, guint plane) {
    return gsize(GST_VIDEO_INFO_PLANE_STRIDE(&info, plane)) *
           gsize(GST_VIDEO_INFO_COMP_HEIGHT(&info, FirstComponent(info, plane)));
}

// Whether frames of this layout can be views of a scrolling picture: the
// planes back to back, each row exactly its pixels' bytes (no padding, no
// tiles), and the bars' step a whole number of bytes in every plane.
bool Scrollable(const GstVideoInfo& info) {
    const gint width = GST_VIDEO_INFO_WIDTH(&info);
    if (width <= 0 || width % kTestScrollPixels != 0 || GST_VIDEO_INFO_IS_INTERLACED(&info) ||
        GST_VIDEO_FORMAT_INFO_IS_TILED(info.finfo) || GST_VIDEO_FORMAT_INFO_HAS_PALETTE(info.finfo))
        return false;
    gsize end = 0;
    for (guint p = 0; p < GST_VIDEO_INFO_N_PLANES(&info); ++p) {
        const int c = FirstComponent(info, p);
        const gint stride = GST_VIDEO_INFO_PLANE_STRIDE(&info, p);
        if (c < 0 || GST_VIDEO_INFO_PLANE_OFFSET(&info, p) != end ||
            GST_VIDEO_INFO_COMP_WIDTH(&info, c) * GST_VIDEO_INFO_COMP_PSTRIDE(&info, c) != stride ||
            (gint64(stride) * kTestScrollPixels) % width != 0)
            return false;
        end += PlaneBytes(info, p);
    }
    return end == GST_VIDEO_INFO_SIZE(&info);
}

// The scrolling picture of a drawn frame: each plane in a memory of its
// own, followed by a copy of its last row. Null when the frame cannot be
// read.
GstRef<GstBuffer> ScrollingPicture(const GstVideoInfo& info, GstBuffer* drawn) {
    GstVideoInfo layout = info;
    GstVideoFrame frame;
    if (!gst_video_frame_map(&frame, &layout, drawn, GST_MAP_READ))
        return {};
    GstRef<GstBuffer> picture = GstRef<GstBuffer>::Adopt(gst_buffer_new());
    for (guint p = 0; p < GST_VIDEO_INFO_N_PLANES(&info); ++p) {
        const gsize stride = gsize(GST_VIDEO_INFO_PLANE_STRIDE(&info, p));
        const gsize rows = PlaneBytes(info, p) / stride;
        GstMemory* memory = gst_allocator_alloc(nullptr, stride * (rows + 1), nullptr);
        GstMapInfo map;
        if (!memory || !gst_memory_map(memory, &map, GST_MAP_WRITE)) {
            if (memory)
                gst_memory_unref(memory);
            gst_video_frame_unmap(&frame);
            return {};
        }
        const auto* src = static_cast<const guint8*>(GST_VIDEO_FRAME_PLANE_DATA(&frame, p));
        const gsize srcStride = gsize(GST_VIDEO_FRAME_PLANE_STRIDE(&frame, p));
        for (gsize r = 0; r < rows; ++r)
            std::memcpy(map.data + r * stride, src + r * srcStride, stride);
        std::memcpy(map.data + rows * stride, map.data + (rows - 1) * stride, stride);
        gst_memory_unmap(memory, &map);
        gst_buffer_append_memory(picture.Get(), memory);
    }
    gst_video_frame_unmap(&frame);
    return picture;
}

// Frame number n of a scrolling picture: a view of each plane's memory
// from the bars' place in that frame on.
GstBuffer* PictureView(const CycleState& st, guint64 n) {
    const GstVideoInfo& info = st.info;
    const guint64 width = guint64(GST_VIDEO_INFO_WIDTH(&info));
    const guint64 x = n * kTestScrollPixels % width;
    GstBuffer* view = gst_buffer_new();
    gsize offsets[GST_VIDEO_MAX_PLANES] = {};
    gint strides[GST_VIDEO_MAX_PLANES] = {};
    gsize at = 0;
    const guint planes = GST_VIDEO_INFO_N_PLANES(&info);
    for (guint p = 0; p < planes; ++p) {
        strides[p] = GST_VIDEO_INFO_PLANE_STRIDE(&info, p);
        offsets[p] = at;
        const gsize bytes = PlaneBytes(info, p);
        GstMemory* memory = gst_buffer_peek_memory(st.cycle[0].Get(), p);
        gst_buffer_append_memory(
            view, gst_memory_share(memory, gssize(x * guint64(strides[p]) / width), gssize(bytes)));
        at += bytes;
    }
    // The planes are where a frame without meta has them; the meta lets a
    // reader map each plane's memory alone instead of one copy of all.
    if (planes > 1)
        gst_buffer_add_video_meta_full(view, GST_VIDEO_FRAME_FLAG_NONE,
                                       GST_VIDEO_INFO_FORMAT(&info), GST_VIDEO_INFO_WIDTH(&info),
                                       GST_VIDEO_INFO_HEIGHT(&info), planes, offsets, strides);
    return view;
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

// The drawing is over: its pipeline goes, with its threads and buffers,
// until the frames are drawn again (the stage stays for then).
void EndEncoding(CycleState& st) {
    st.encoding = false;
    if (st.encoder)
        gst_element_set_state(st.encoder.Get(), GST_STATE_NULL);
    st.encoder.Reset();
    st.encoderSink = nullptr;
}

// Takes the frames the drawing has ready into the cycle; waits (bounded,
// and only while not unlocked) until the given slot has a frame. False when
// the slot stays empty: the drawing failed, the wait ran out, or the
// source is unlocked.
bool TakeEncodedFrames(CycleState& st, size_t slot) {
    const gint64 deadline = g_get_monotonic_time() + kEncodeWaitUs;
    while (st.encoding) {
        const bool needed = !st.cycle[slot];
        GstRef<GstSample> sample = GstRef<GstSample>::Adopt(gst_app_sink_try_pull_sample(
            GST_APP_SINK(st.encoderSink), needed ? 20 * GST_MSECOND : 0));
        if (sample) {
            // A copy of the frame's bytes alone: the encoder's buffer is as
            // large as a raw frame (3 MB at 1920x1080 for 130 kB of JPEG),
            // and the drawing's buffers go back to its pool.
            if (GstBuffer* buffer = gst_sample_get_buffer(sample.Get())) {
                GstRef<GstBuffer>& slotted = st.cycle[size_t(st.encoded)];
                if (st.scrolls) {
                    if (GstRef<GstBuffer> picture = ScrollingPicture(st.info, buffer))
                        slotted = picture;
                } else {
                    slotted = GstRef<GstBuffer>::Adopt(gst_buffer_copy_deep(buffer));
                }
            }
            if (++st.encoded == int(st.cycle.size()))
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
        GST_ELEMENT_ERROR(src, CORE, FAILED, ("cannot draw the test camera's frames"), (nullptr));
        return GST_FLOW_ERROR;
    }
    const size_t slot = size_t(st.frame % st.cycle.size());
    if (!TakeEncodedFrames(st, slot)) {
        if (st.unlocked)
            return GST_FLOW_FLUSHING;
        GST_ELEMENT_ERROR(src, CORE, FAILED, ("the test camera's frames were not drawn"),
                          (nullptr));
        return GST_FLOW_ERROR;
    }
    // A buffer of its own over the cycle's memory.
    GstBuffer* buffer =
        st.scrolls ? PictureView(st, st.frame) : gst_buffer_copy(st.cycle[slot].Get());
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
    return GST_BASE_SRC_CLASS(pomvira_test_frames_src_parent_class)->query(src, query);
}

gboolean CycleStart(GstBaseSrc* src) {
    CycleState& st = StateOf(src);
    st.frame = 0;
    st.unlocked = false;
    // The cycle is kept across restarts while it is whole (a stop can cut
    // its drawing short) and current.
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
    auto* self = reinterpret_cast<PomviraTestFramesSrc*>(object);
    CycleState* st = self->state;
    if (st->stage && st->stageHandler)
        g_signal_handler_disconnect(st->stage.Get(), st->stageHandler);
    EndEncoding(*st);
    delete st;
    G_OBJECT_CLASS(pomvira_test_frames_src_parent_class)->finalize(object);
}

// The camera's one control, as videotestsrc's: its pattern, drawn again
// when it changes (other patterns than the bars scroll as well, their rows
// wrapping into the next row's start).
enum { kPropPattern = 1 };

void CycleSetProperty(GObject* object, guint id, const GValue* value, GParamSpec* pspec) {
    if (id != kPropPattern) {
        G_OBJECT_WARN_INVALID_PROPERTY_ID(object, id, pspec);
        return;
    }
    CycleState& st = StateOf(object);
    if (st.pattern.exchange(g_value_get_enum(value)) != g_value_get_enum(value))
        st.stale = true;
}

void CycleGetProperty(GObject* object, guint id, GValue* value, GParamSpec* pspec) {
    if (id == kPropPattern)
        g_value_set_enum(value, StateOf(object).pattern);
    else
        G_OBJECT_WARN_INVALID_PROPERTY_ID(object, id, pspec);
}

// videotestsrc's pattern type; 0 without videotestsrc.
GType PatternType() {
    GstElementFactory* factory = gst_element_factory_find("videotestsrc");
    if (!factory)
        return 0;
    GType type = 0;
    auto* loaded = GST_ELEMENT_FACTORY(gst_plugin_feature_load(GST_PLUGIN_FEATURE(factory)));
    if (loaded) {
        if (auto* klass = static_cast<GObjectClass*>(
                g_type_class_ref(gst_element_factory_get_element_type(loaded)))) {
            if (GParamSpec* pspec = g_object_class_find_property(klass, "pattern"))
                type = G_PARAM_SPEC_VALUE_TYPE(pspec);
            g_type_class_unref(klass);
        }
        gst_object_unref(loaded);
    }
    gst_object_unref(factory);
    return G_TYPE_IS_ENUM(type) ? type : 0;
}

void pomvira_test_frames_src_class_init(PomviraTestFramesSrcClass* klass) {
    G_OBJECT_CLASS(klass)->finalize = CycleFinalize;
    G_OBJECT_CLASS(klass)->set_property = CycleSetProperty;
    G_OBJECT_CLASS(klass)->get_property = CycleGetProperty;
    if (const GType patterns = PatternType()) {
        g_object_class_install_property(
            G_OBJECT_CLASS(klass), kPropPattern,
            g_param_spec_enum("pattern", "Pattern", "The test pattern drawn", patterns,
                              0 /* smpte */,
                              GParamFlags(G_PARAM_READWRITE | G_PARAM_STATIC_STRINGS)));
    }
    auto* base = GST_BASE_SRC_CLASS(klass);
    base->get_caps = CycleGetCaps;
    base->get_times = CycleGetTimes;
    base->query = CycleQuery;
    base->start = CycleStart;
    base->stop = CycleStop;
    base->unlock = CycleUnlock;
    base->unlock_stop = CycleUnlockStop;
    GST_PUSH_SRC_CLASS(klass)->create = CycleCreate;
    static GstStaticPadTemplate srcTemplate = GST_STATIC_PAD_TEMPLATE(
        "src", GST_PAD_SRC, GST_PAD_ALWAYS, GST_STATIC_CAPS("image/jpeg; video/x-raw"));
    gst_element_class_add_static_pad_template(GST_ELEMENT_CLASS(klass), &srcTemplate);
    gst_element_class_set_static_metadata(GST_ELEMENT_CLASS(klass), "Pomvira test camera frames",
                                          "Source/Video",
                                          "Colour bars drawn once: a cycle of JPEG frames, or "
                                          "raw frames scrolling over one picture",
                                          "Pomvira");
}

void pomvira_test_frames_src_init(PomviraTestFramesSrc* self) {
    self->state = new CycleState;
    gst_base_src_set_live(GST_BASE_SRC(self), TRUE);
    gst_base_src_set_format(GST_BASE_SRC(self), GST_FORMAT_TIME);
}

}  // namespace

namespace {

// A new source drawing `patternCaps` (through the stage), its frames of
// `caps`; null when its drawing cannot be built.
GstElement* NewFramesSource(CapsRef caps, CapsRef patternCaps, const GstVideoInfo* raw,
                            ElementRef stage, int frames) {
    auto* self = reinterpret_cast<PomviraTestFramesSrc*>(
        g_object_new(pomvira_test_frames_src_get_type(), nullptr));
    CycleState& st = *self->state;
    const GstStructure* s = gst_caps_get_structure(caps.Get(), 0);
    gst_structure_get_int(s, "width", &st.width);
    gst_structure_get_int(s, "height", &st.height);
    gst_structure_get_fraction(s, "framerate", &st.fpsNum, &st.fpsDen);
    st.caps = std::move(caps);
    st.patternCaps = std::move(patternCaps);
    if (raw) {
        st.raw = true;
        st.info = *raw;
        st.scrolls = Scrollable(st.info);
    }
    st.cycle.resize(size_t(frames));
    if (stage) {
        st.stage = std::move(stage);
        st.stageHandler =
            g_signal_connect(st.stage.Get(), "notify", G_CALLBACK(OnStageChanged), &st);
        // Every element the drawing needs is there.
        if (!BuildEncoder(st)) {
            gst_object_unref(gst_object_ref_sink(self));
            return nullptr;
        }
    }
    return GST_ELEMENT(self);
}

}  // namespace

GstElement* MakeJpegCycleSource(int width, int height, int fpsNum, int fpsDen,
                                GstElement* pictureStage) {
    ElementRef stage = pictureStage ? ElementRef::Sink(pictureStage) : ElementRef();
    if (width <= 0 || height <= 0 || fpsNum <= 0 || fpsDen <= 0)
        return nullptr;
    CapsRef caps = CapsRef::Adopt(gst_caps_new_simple(
        "image/jpeg", "width", G_TYPE_INT, width, "height", G_TYPE_INT, height, "framerate",
        GST_TYPE_FRACTION, fpsNum, fpsDen, "pixel-aspect-ratio", GST_TYPE_FRACTION, 1, 1, nullptr));
    CapsRef pattern = CapsRef::Adopt(gst_caps_new_simple(
        "video/x-raw", "format", G_TYPE_STRING, "I420", "width", G_TYPE_INT, width, "height",
        G_TYPE_INT, height, "framerate", GST_TYPE_FRACTION, fpsNum, fpsDen, nullptr));
    return NewFramesSource(std::move(caps), std::move(pattern), nullptr, std::move(stage),
                           kJpegCycleFrames);
}

GstElement* MakeRawPatternSource(const GstCaps* caps, GstElement* pictureStage) {
    ElementRef stage = pictureStage ? ElementRef::Sink(pictureStage) : ElementRef();
    GstVideoInfo info;
    if (!caps || !gst_caps_is_fixed(caps) || !gst_video_info_from_caps(&info, caps) ||
        GST_VIDEO_INFO_FPS_N(&info) <= 0 || GST_VIDEO_INFO_FPS_D(&info) <= 0)
        return nullptr;
    // The caps videotestsrc gives such frames, so that the frames read as
    // they did when it ran live.
    CapsRef frames = CapsRef::Adopt(gst_caps_copy(caps));
    GstStructure* s = gst_caps_get_structure(frames.Get(), 0);
    if (!gst_structure_has_field(s, "pixel-aspect-ratio"))
        gst_structure_set(s, "pixel-aspect-ratio", GST_TYPE_FRACTION, 1, 1, nullptr);
    if (!gst_structure_has_field(s, "interlace-mode"))
        gst_structure_set(s, "interlace-mode", G_TYPE_STRING, "progressive", nullptr);
    return NewFramesSource(frames, frames, &info, std::move(stage), 1);
}

}  // namespace media::gst
