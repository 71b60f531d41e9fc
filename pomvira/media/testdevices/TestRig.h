// SPDX-License-Identifier: GPL-3.0-or-later
// The program's one way in to its built-in test devices and test knobs, for
// trying the program without a camera, for demos and for the tests:
//  - POMVIRA_TEST_DEVICES=N (N >= 1): N test cameras and a test microphone
//    (TestDevices.h), listed before the machine's devices;
//  - POMVIRA_TEST_CAMERA_PROFILE, _FPS, _STALL, _RESTART_DELAY: how the test
//    cameras behave (TestDevices.h, TestCameraStages.h);
//  - POMVIRA_TEST_SLOW_WRITE_MS=N: each write of a recording's file waits
//    N ms (at most 10 seconds), as on a slow disk; read as each recording's
//    file sink is made, with or without the test devices.
#pragma once

class QObject;

namespace media::gst {

// Reads the variables and installs what they ask for; call once the media
// system is made and before the first device listing. Given an owner, and
// with POMVIRA_TEST_DEVICES set, SIGUSR1 unplugs "Test Camera 1" and SIGUSR2
// plugs it back while the owner lives (its thread runs an event loop).
// True when the test devices are there.
bool InstallTestRig(QObject* signalOwner = nullptr);

}  // namespace media::gst
