// SPDX-License-Identifier: GPL-3.0-or-later
#include "TestCameraStages.h"

#include <cstdlib>
#include <mutex>

#include "media/gst/GstRef.h"

namespace media::gst {

namespace {

const char* const kStallingCamera = "Test Camera 1";

std::mutex g_stallLock;
gint64 g_stallAt = 0;  // monotonic microseconds; 0 until the first start
int g_stallStarts = 0;

// Drops the frames while they come before the moment given (stalled from
// then on) or until it (a slow start).
GstPadProbeReturn DropFrom(GstPad*, GstPadProbeInfo*, gpointer data) {
    const gint64 at = *static_cast<gint64*>(data);
    return g_get_monotonic_time() >= at ? GST_PAD_PROBE_DROP : GST_PAD_PROBE_OK;
}
GstPadProbeReturn DropUntil(GstPad*, GstPadProbeInfo*, gpointer data) {
    const gint64 at = *static_cast<gint64*>(data);
    return g_get_monotonic_time() < at ? GST_PAD_PROBE_DROP : GST_PAD_PROBE_OK;
}

}  // namespace

void WatchTestCameraStall(GstElement* source, const std::string& camera) {
    const double seconds = TestCameraStallSeconds();
    if (seconds <= 0 || camera != kStallingCamera)
        return;
    gint64 at;
    GstPadProbeCallback probe = DropFrom;
    {
        std::lock_guard<std::mutex> guard(g_stallLock);
        const gint64 now = g_get_monotonic_time();
        ++g_stallStarts;
        if (g_stallAt == 0)
            g_stallAt = now + gint64(seconds * G_USEC_PER_SEC);
        at = g_stallAt;
        if (now >= g_stallAt) {
            // Started after the stall: delivers, after the delay if any.
            const double delay = TestCameraRestartDelaySeconds();
            if (delay <= 0)
                return;
            at = now + gint64(delay * G_USEC_PER_SEC);
            probe = DropUntil;
        }
    }
    PadRef pad = PadRef::Adopt(gst_element_get_static_pad(source, "src"));
    if (pad) {
        gst_pad_add_probe(pad.Get(), GST_PAD_PROBE_TYPE_BUFFER, probe, new gint64(at),
                          [](gpointer data) { delete static_cast<gint64*>(data); });
    }
}

double TestCameraStallSeconds() {
    const char* value = g_getenv("POMVIRA_TEST_CAMERA_STALL");
    return value ? std::atof(value) : 0.0;
}

double TestCameraRestartDelaySeconds() {
    const char* value = g_getenv("POMVIRA_TEST_CAMERA_RESTART_DELAY");
    return value ? std::atof(value) : 0.0;
}

int TestCameraStallStarts() {
    std::lock_guard<std::mutex> guard(g_stallLock);
    return g_stallStarts;
}

void ResetTestCameraStall() {
    std::lock_guard<std::mutex> guard(g_stallLock);
    g_stallAt = 0;
    g_stallStarts = 0;
}

}  // namespace media::gst
