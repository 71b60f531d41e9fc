// SPDX-License-Identifier: GPL-3.0-or-later
// The program's one device monitor: a GstDeviceMonitor on "Video/Source" and
// "Audio/Source", made and started at first use and kept for the program's
// life. Every listing reads the devices it holds, instead of asking the
// providers afresh (each fresh listing costs a connection to the sound
// server, and memory its client library never gives back); and since it is
// started, it follows devices as they come and go, announcing each change to
// the receivers registered for device notices.
#pragma once

#include <QObject>

#include <cstdint>
#include <mutex>
#include <string>
#include <vector>

#include "GstRef.h"
#include "media/MediaUtil.h"

namespace media::gst {

class DeviceWatch {
  public:
    // The watch (made and started at the first call).
    static DeviceWatch& Get();

    // The video or audio input devices present now, each with one
    // reference, from the providers that could start watching (a provider
    // that cannot, such as PulseAudio's without a sound server, lists
    // nothing). With POMVIRA_NO_REAL_DEVICES set only the program's own
    // providers are watched; with POMVIRA_DEVICE_PROVIDERS, only the
    // providers it names and the program's own.
    std::vector<GstRef<GstDevice>> Devices(bool video);

    // Makes the provider of that factory name one of the program's own: a
    // provider the program registers itself (built-in devices, no machine's),
    // watched also where the machine's devices are left out. Before the
    // watch is made (the first listing).
    static void WatchProgramProvider(const std::string& factoryName);

    // While registered, a WindowMessageEvent(message, wparam, 0) is posted to
    // the receiver whenever an input device comes (wparam
    // DBT_DEVICEARRIVAL) or goes (DBT_DEVICEREMOVECOMPLETE). Unregister
    // before the receiver is destroyed; once that returns, no further event
    // is posted to it.
    void Register(QObject* receiver, uint32_t message);
    void Unregister(QObject* receiver);

    DeviceWatch(const DeviceWatch&) = delete;
    DeviceWatch& operator=(const DeviceWatch&) = delete;

  private:
    DeviceWatch();
    static GstBusSyncReply OnMessage(GstBus* bus, GstMessage* message, gpointer self);
    void Announce(intptr_t change);

    // Every provider's devices (a monitor), or only the providers asked for
    // (the program's own, those named in POMVIRA_DEVICE_PROVIDERS), started
    // one by one.
    GstRef<GstDeviceMonitor> monitor_;
    BusRef bus_;
    std::vector<GstRef<GstDeviceProvider>> ownProviders_;
    std::vector<BusRef> ownBuses_;

    struct Receiver {
        QObject* receiver;
        uint32_t message;
    };
    std::mutex lock_;
    TCallbackGuard guard_;  // nothing thrown leaves the bus handler
    std::vector<Receiver> receivers_;
};

}  // namespace media::gst
