// SPDX-License-Identifier: GPL-3.0-or-later
#include "RecordingFileSink.h"

#include <gst/base/gstbasesink.h>
#include <sys/stat.h>
#include <sys/uio.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <climits>
#include <cstdlib>
#include <mutex>
#include <vector>

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
    // The buffers of the chunk being gathered (its header, then its data
    // and pad byte), their bytes, and the chunk's whole size with its
    // header and pad; none while nothing is held.
    std::vector<GstBuffer*>* held;
    guint64 heldBytes;
    guint64 chunkBytes;
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

// Writes what is held at the sink's position, every memory of every buffer
// in one call where the system takes it all at once; the errno of the
// write that failed, or 0. What is held is let go either way.
int WriteHeld(RecordingFileSink* self) {
    std::vector<GstMapInfo> maps;
    std::vector<GstMemory*> memories;
    std::vector<iovec> pieces;
    int error = 0;
    for (GstBuffer* buffer : *self->held) {
        for (guint i = 0; i < gst_buffer_n_memory(buffer) && error == 0; ++i) {
            GstMapInfo map;
            GstMemory* memory = gst_buffer_peek_memory(buffer, i);
            if (!gst_memory_map(memory, &map, GST_MAP_READ)) {
                error = EIO;
                break;
            }
            maps.push_back(map);
            memories.push_back(memory);
            pieces.push_back({map.data, map.size});
        }
    }
    for (size_t first = 0; first < pieces.size() && error == 0;) {
        const ssize_t done =
            ::pwritev(self->fd, &pieces[first],
                      int(std::min<size_t>(pieces.size() - first, IOV_MAX)), off_t(self->position));
        if (done < 0 && errno == EINTR)
            continue;
        // A write that takes nothing without an error: the disk is full.
        if (done <= 0) {
            error = done < 0 ? errno : ENOSPC;
            break;
        }
        self->position += guint64(done);
        for (size_t left = size_t(done); left > 0;) {
            const size_t taken = std::min(left, pieces[first].iov_len);
            pieces[first].iov_base = static_cast<guint8*>(pieces[first].iov_base) + taken;
            pieces[first].iov_len -= taken;
            left -= taken;
            if (pieces[first].iov_len == 0)
                ++first;
        }
        while (first < pieces.size() && pieces[first].iov_len == 0)
            ++first;
    }
    for (size_t i = 0; i < maps.size(); ++i)
        gst_memory_unmap(memories[i], &maps[i]);
    for (GstBuffer* buffer : *self->held)
        gst_buffer_unref(buffer);
    self->held->clear();
    self->heldBytes = 0;
    self->chunkBytes = 0;
    return error;
}

// The multiplexer gives a chunk's header, its data and its pad byte as
// buffers of their own: they are held until the chunk is whole and written
// in one call, so that a recording cut off (the program killed) ends on a
// whole chunk or one that is visibly cut short, never on a whole frame
// without its pad byte. Anything else is written as it comes. The errno of
// a write that failed, or 0.
int Write(RecordingFileSink* self, GstBuffer* buffer) {
    const gsize size = gst_buffer_get_size(buffer);
    if (!self->held->empty()) {
        if (self->heldBytes + size <= self->chunkBytes) {
            self->held->push_back(gst_buffer_ref(buffer));
            self->heldBytes += size;
            return self->heldBytes == self->chunkBytes ? WriteHeld(self) : 0;
        }
        // Not the rest of the chunk: what is held goes as it is.
        if (const int error = WriteHeld(self))
            return error;
    }
    self->held->push_back(gst_buffer_ref(buffer));
    guint8 header[8];
    if (size != sizeof header || gst_buffer_extract(buffer, 0, header, sizeof header) != size)
        return WriteHeld(self);
    const guint32 data = GST_READ_UINT32_LE(header + 4);
    self->heldBytes = size;
    self->chunkBytes = size + guint64(data) + (data & 1);
    return self->heldBytes == self->chunkBytes ? WriteHeld(self) : 0;
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
    // The buffer's memories are written as they are: mapping the whole
    // buffer would first copy them into one.
    error = Write(self, buffer);
    if (error != 0) {
        PostError(self, error, "write");
        return GST_FLOW_ERROR;
    }
    return GST_FLOW_OK;
}

gboolean Event(GstBaseSink* base, GstEvent* event) {
    RecordingFileSink* self = Self(base);
    // A new place to write at, or the end: what is held is written first.
    if (GST_EVENT_TYPE(event) == GST_EVENT_SEGMENT || GST_EVENT_TYPE(event) == GST_EVENT_EOS) {
        if (const int error = self->fd >= 0 ? WriteHeld(self) : 0)
            PostError(self, error, "write");
    }
    // The end: the multiplexer has completed the file, which is closed now
    // rather than when the graph stops, so that a stop held up afterwards
    // (a device that does not let go) leaves no one holding it.
    if (GST_EVENT_TYPE(event) == GST_EVENT_EOS)
        CloseFile(self);
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
            gst_query_set_position(query, GST_FORMAT_BYTES,
                                   gint64(self->position + self->heldBytes));
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
    // The file's identity came with it: a sink starts as its graph is
    // built, on the user-interface thread, which never waits on the disk.
    self->position = 0;
    self->nextCheck = 0;
    return TRUE;
}

gboolean Stop(GstBaseSink* base) {
    // The file is complete (or given up): closed, as a file writer closes
    // its file when it stops, once what is held is written.
    RecordingFileSink* self = Self(base);
    if (const int error = self->fd >= 0 ? WriteHeld(self) : 0)
        PostError(self, error, "write");
    CloseFile(self);
    return TRUE;
}

void Finalize(GObject* object) {
    RecordingFileSink* self = Self(object);
    if (self->fd >= 0)
        ::close(self->fd);
    for (GstBuffer* buffer : *self->held)
        gst_buffer_unref(buffer);
    delete self->held;
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
    self->held = new std::vector<GstBuffer*>;
    self->heldBytes = 0;
    self->chunkBytes = 0;
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

void SetRecordingFile(GstElement* sink, int fd, const std::string& path,
                      const struct stat& made) {
    RecordingFileSink* self = Self(sink);
    GST_OBJECT_LOCK(sink);
    const int previous = self->fd;
    self->fd = fd;
    *self->path = path;
    self->device = made.st_dev;
    self->inode = made.st_ino;
    GST_OBJECT_UNLOCK(sink);
    if (previous >= 0)
        ::close(previous);
}

}  // namespace media::gst
