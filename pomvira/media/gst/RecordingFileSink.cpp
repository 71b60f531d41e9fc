// SPDX-License-Identifier: GPL-3.0-or-later
#include "RecordingFileSink.h"

#include <gst/base/gstbasesink.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <mutex>

namespace media::gst {

namespace {

// How often the sink makes sure that its file is still where it was named.
constexpr gint64 kFileCheckInterval = G_USEC_PER_SEC / 2;
// The longest pause the write delay may ask for.
constexpr int kLongestSlowWriteMs = 10000;

struct RecordingFileSink {
    GstBaseSink parent;
    // Handed over while the sink is stopped; the streaming thread alone
    // uses it while it runs.
    int fd;
    std::string* path;
    guint64 position;
    int slowWriteMs;
    dev_t device;
    ino_t inode;
    gint64 nextCheck;
};

struct RecordingFileSinkClass {
    GstBaseSinkClass parent;
};

GType RecordingFileSinkType();
GstBaseSinkClass* g_parentClass = nullptr;

RecordingFileSink* Self(gpointer object) {
    return reinterpret_cast<RecordingFileSink*>(object);
}

// Posts the failure of a system call on the file, with its errno as code.
void PostError(RecordingFileSink* self, int error, const char* what) {
    gchar* text = g_strdup_printf("Could not write the file \"%s\".", self->path->c_str());
    gchar* debug = g_strdup_printf("%s: %s", what, g_strerror(error));
    gst_element_message_full(GST_ELEMENT(self), GST_MESSAGE_ERROR, RecordingFileErrorQuark(), error,
                             text, debug, __FILE__, GST_FUNCTION, __LINE__);
}

void CloseFile(RecordingFileSink* self) {
    if (self->fd >= 0 && ::close(self->fd) != 0 && errno != EINTR) {
        // Some file systems report a failed write only when the file is
        // closed.
        PostError(self, errno, "close");
    }
    self->fd = -1;
}

// Whether the file is still there under its name; every half second.
bool StillThere(RecordingFileSink* self, int* error) {
    const gint64 now = g_get_monotonic_time();
    if (now < self->nextCheck)
        return true;
    self->nextCheck = now + kFileCheckInterval;
    struct stat st {};
    if (::stat(self->path->c_str(), &st) != 0) {
        *error = errno;
        return false;
    }
    if (st.st_dev != self->device || st.st_ino != self->inode) {
        *error = ENOENT;
        return false;
    }
    return true;
}

// Writes n bytes at the sink's position; the errno of the write that
// failed, or 0.
int WriteAll(RecordingFileSink* self, const guint8* data, gsize n) {
    while (n > 0) {
        const ssize_t done = ::pwrite(self->fd, data, n, off_t(self->position));
        if (done < 0 && errno == EINTR)
            continue;
        // A write that takes nothing without an error: the disk is full.
        if (done <= 0)
            return done < 0 ? errno : ENOSPC;
        data += done;
        n -= gsize(done);
        self->position += guint64(done);
    }
    return 0;
}

GstFlowReturn Render(GstBaseSink* base, GstBuffer* buffer) {
    RecordingFileSink* self = Self(base);
    if (self->fd < 0) {
        PostError(self, EBADF, "write");
        return GST_FLOW_ERROR;
    }
    int error = 0;
    if (!StillThere(self, &error)) {
        PostError(self, error, "stat");
        return GST_FLOW_ERROR;
    }
    if (self->slowWriteMs > 0)
        g_usleep(gulong(self->slowWriteMs) * 1000);
    // Each of the buffer's memories in turn: mapping the whole buffer would
    // first copy them into one (a frame and its chunk header, say).
    const guint memories = gst_buffer_n_memory(buffer);
    for (guint i = 0; i < memories && error == 0; ++i) {
        GstMapInfo map;
        GstMemory* memory = gst_buffer_peek_memory(buffer, i);
        if (!gst_memory_map(memory, &map, GST_MAP_READ)) {
            error = EIO;
            break;
        }
        error = WriteAll(self, map.data, map.size);
        gst_memory_unmap(memory, &map);
    }
    if (error != 0) {
        PostError(self, error, "write");
        return GST_FLOW_ERROR;
    }
    return GST_FLOW_OK;
}

gboolean Event(GstBaseSink* base, GstEvent* event) {
    RecordingFileSink* self = Self(base);
    if (GST_EVENT_TYPE(event) == GST_EVENT_SEGMENT) {
        // The multiplexer seeks back with a segment in bytes to complete the
        // header at the end.
        const GstSegment* segment = nullptr;
        gst_event_parse_segment(event, &segment);
        if (segment->format == GST_FORMAT_BYTES)
            self->position = segment->start;
    }
    return g_parentClass->event(base, event);
}

gboolean Query(GstBaseSink* base, GstQuery* query) {
    RecordingFileSink* self = Self(base);
    switch (GST_QUERY_TYPE(query)) {
        case GST_QUERY_SEEKING: {
            GstFormat format = GST_FORMAT_UNDEFINED;
            gst_query_parse_seeking(query, &format, nullptr, nullptr, nullptr);
            gst_query_set_seeking(query, format, format == GST_FORMAT_BYTES, 0, -1);
            return TRUE;
        }
        case GST_QUERY_POSITION: {
            GstFormat format = GST_FORMAT_UNDEFINED;
            gst_query_parse_position(query, &format, nullptr);
            if (format != GST_FORMAT_BYTES && format != GST_FORMAT_DEFAULT)
                break;
            gst_query_set_position(query, GST_FORMAT_BYTES, gint64(self->position));
            return TRUE;
        }
        case GST_QUERY_FORMATS:
            gst_query_set_formats(query, 2, GST_FORMAT_DEFAULT, GST_FORMAT_BYTES);
            return TRUE;
        default:
            break;
    }
    return g_parentClass->query(base, query);
}

gboolean Start(GstBaseSink* base) {
    RecordingFileSink* self = Self(base);
    if (self->fd < 0) {
        PostError(self, EBADF, "open");
        return FALSE;
    }
    struct stat st {};
    if (::fstat(self->fd, &st) != 0) {
        PostError(self, errno, "fstat");
        return FALSE;
    }
    self->device = st.st_dev;
    self->inode = st.st_ino;
    self->position = 0;
    self->nextCheck = 0;
    return TRUE;
}

gboolean Stop(GstBaseSink* base) {
    // The file is complete (or given up): closed, as a file writer closes
    // its file when it stops.
    CloseFile(Self(base));
    return TRUE;
}

void Finalize(GObject* object) {
    RecordingFileSink* self = Self(object);
    if (self->fd >= 0)
        ::close(self->fd);
    delete self->path;
    G_OBJECT_CLASS(g_parentClass)->finalize(object);
}

void InitClass(gpointer klass, gpointer) {
    g_parentClass = static_cast<GstBaseSinkClass*>(g_type_class_peek_parent(klass));
    G_OBJECT_CLASS(klass)->finalize = Finalize;
    GstElementClass* element = GST_ELEMENT_CLASS(klass);
    static GstStaticPadTemplate sinkTemplate =
        GST_STATIC_PAD_TEMPLATE("sink", GST_PAD_SINK, GST_PAD_ALWAYS, GST_STATIC_CAPS_ANY);
    gst_element_class_add_static_pad_template(element, &sinkTemplate);
    gst_element_class_set_static_metadata(element, "Recording file sink", "Sink/File",
                                          "Writes a recording into a file it is given",
                                          "Ombra camera suite");
    GstBaseSinkClass* sink = GST_BASE_SINK_CLASS(klass);
    sink->render = Render;
    sink->event = Event;
    sink->query = Query;
    sink->start = Start;
    sink->stop = Stop;
}

std::mutex g_writeDelayLock;
RecordingWriteDelay g_writeDelay;

int SlowWriteMs() {
    RecordingWriteDelay delay;
    {
        std::lock_guard<std::mutex> guard(g_writeDelayLock);
        delay = g_writeDelay;
    }
    const int ms = delay ? delay() : 0;
    return ms <= 0 ? 0 : std::min(ms, kLongestSlowWriteMs);
}

void InitInstance(GTypeInstance* instance, gpointer) {
    RecordingFileSink* self = Self(instance);
    self->fd = -1;
    self->path = new std::string;
    self->slowWriteMs = SlowWriteMs();
    gst_base_sink_set_sync(GST_BASE_SINK(self), FALSE);
}

GType RecordingFileSinkType() {
    static GType type = [] {
        const GTypeInfo info = {
            sizeof(RecordingFileSinkClass), nullptr, nullptr,      InitClass, nullptr, nullptr,
            sizeof(RecordingFileSink),      0,       InitInstance, nullptr};
        return g_type_register_static(GST_TYPE_BASE_SINK, "OmbraRecordingFileSink", &info,
                                      GTypeFlags(0));
    }();
    return type;
}

}  // namespace

GQuark RecordingFileErrorQuark() {
    return g_quark_from_static_string("ombra-recording-file-error-quark");
}

GstElement* NewRecordingFileSink() {
    return GST_ELEMENT(g_object_new(RecordingFileSinkType(), nullptr));
}

void SetRecordingWriteDelay(RecordingWriteDelay delay) {
    std::lock_guard<std::mutex> guard(g_writeDelayLock);
    g_writeDelay = std::move(delay);
}

void SetRecordingFile(GstElement* sink, int fd, const std::string& path) {
    RecordingFileSink* self = Self(sink);
    GST_OBJECT_LOCK(sink);
    const int previous = self->fd;
    self->fd = fd;
    *self->path = path;
    GST_OBJECT_UNLOCK(sink);
    if (previous >= 0)
        ::close(previous);
}

}  // namespace media::gst
