// SPDX-License-Identifier: GPL-3.0-or-later
// The program's device providers for "Video/Source" and "Audio/Source",
// made and started at first use and kept for the program's life. Every
// listing reads the devices the started providers hold, instead of asking
// them afresh (each fresh listing costs a connection to the sound server,
// and memory its client library never gives back); and since they are
// started, they follow devices as they come and go, announcing each change
// to the receivers registered for device notices.
//
// A machine's provider starts by talking to its server (PipeWire, the sound
// server), which may hang or be gone: each one starts on a thread of its
// own, and a first listing waits for it at most kStartBoundMs. One that has
// not answered by then is left out of the listings and named once by
// Unanswered; it joins them, with a device notice, when its start returns
// (a thread left inside a start that never returns stays there). The
// program's own providers (built-in devices) start at once, in the call.
//
// A provider whose server went away keeps its old devices and never talks
// to a new server: Renew starts a new one of each machine's camera provider
// that talks to a server (PipeWire's: it can be given the socket), on a
// connection of its own, in the old one's place; the old one is left as it
// is (one connection kept per renewal).
#pragma once

#include <QObject>

#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "GstRef.h"
#include "media/MediaUtil.h"

namespace media::gst {

class DeviceWatch {
  public:
    // How long a first listing waits for a provider's start.
    static constexpr int kStartBoundMs = 3000;

    // The watch (made at the first call; the machine's providers start then).
    static DeviceWatch& Get();

    // The video or audio input devices present now, each with one
    // reference, from the providers that have started (a provider that
    // cannot, such as PulseAudio's without a sound server, lists nothing).
    // With POMVIRA_NO_REAL_DEVICES set only the program's own providers are
    // watched; with POMVIRA_DEVICE_PROVIDERS, only the providers it names
    // and the program's own. Never waits on a server.
    std::vector<GstRef<GstDevice>> Devices(bool video);

    // Waits up to boundMs (0: not at all) until every provider's first
    // start has answered or passed kStartBoundMs; true when every one has
    // answered. The names of the providers left out at their bound that
    // were not named before are added to `unanswered` (each is named once).
    bool WaitStarted(int boundMs, std::vector<std::string>* unanswered);

    // Starts a new one of each machine's camera provider that talks to a
    // server, in its place, its devices left out of the lists meanwhile;
    // waits up to boundMs for the new ones (one that does not answer joins
    // the lists when it does). True when every one answered; false also
    // when a server was not there to connect to.
    bool Renew(int boundMs);
    // There is a machine's camera provider that talks to a server.
    bool Renewable();

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
    using TClock = std::chrono::steady_clock;
    enum class TState { Starting, Started, Failed };
    // One provider the watch keeps, by its factory's name.
    struct TProvider {
        std::string factory;
        std::string name;  // its long name, to tell the user
        bool own = false;
        bool video = false;   // it lists cameras
        bool socket = false;  // it talks to its server over a socket it can be given
        TState state = TState::Starting;
        TClock::time_point deadline;
        bool named = false;  // as unanswered
        GstRef<GstDeviceProvider> provider;
        BusRef bus;
    };

    DeviceWatch();
    // Starts `provider` for slot `index` on a thread of its own, once `old`
    // (a renewal's, when not null) has been unhooked.
    void StartOnThread(size_t index, GstRef<GstDeviceProvider> provider,
                       GstRef<GstDeviceProvider> old, BusRef oldBus);
    // Hooks a provider's bus up and starts it (may wait on its server).
    bool StartProvider(GstDeviceProvider* provider, BusRef* bus);
    static GstBusSyncReply OnMessage(GstBus* bus, GstMessage* message, gpointer self);
    void Announce(intptr_t change);

    std::mutex providersLock_;
    std::condition_variable started_;
    std::vector<TProvider> providers_;
    std::vector<GstRef<GstDeviceProvider>> retired_;  // renewed, kept started

    struct Receiver {
        QObject* receiver;
        uint32_t message;
    };
    std::mutex lock_;
    TCallbackGuard guard_;  // nothing thrown leaves the bus handler
    std::vector<Receiver> receivers_;
};

}  // namespace media::gst
