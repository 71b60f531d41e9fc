// SPDX-License-Identifier: GPL-3.0-or-later
// What the built-in test cameras add to their streams beyond the colour
// bars, kept apart from the devices themselves (the picture stage that
// follows the camera's own controls is in TestCameraControls.h): a camera
// that stalls. With POMVIRA_TEST_CAMERA_STALL=S (seconds), "Test Camera 1"
// stops delivering frames S seconds after its first start, without an
// error, as a real camera does when USB bandwidth runs out or its camera
// service crashes. Streams started before that moment stall with it; a
// stream started after it (a restarted source) delivers again, with
// POMVIRA_TEST_CAMERA_RESTART_DELAY=D (seconds) only D seconds after it
// started, as a camera slow to answer after a restart.
#pragma once

#include <gst/gst.h>

#include <string>

namespace media::gst {

// Makes the frames of `source` (a camera's frames as they are made) stop
// when `camera` is the one that stalls.
void WatchTestCameraStall(GstElement* source, const std::string& camera);

// The camera that stalls and after how many seconds; 0 when none does.
double TestCameraStallSeconds();
// How long a stream of the stalling camera started after its stall delivers
// nothing (seconds; 0: it delivers at once).
double TestCameraRestartDelaySeconds();
// How many streams of the stalling camera have started since the last
// reset, the first one included.
int TestCameraStallStarts();
// Forgets the first start, so that the next start counts as the first (for
// tests that stall the camera more than once in one process).
void ResetTestCameraStall();

}  // namespace media::gst
