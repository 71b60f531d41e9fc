// SPDX-License-Identifier: GPL-3.0-or-later
#include "DeviceWatch.h"

#include <QCoreApplication>
#include <algorithm>
#include <set>
#include <string>
#include <thread>

#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

#include "media/MediaBoundary.h"

namespace media::gst {

namespace {

// Set (to anything) to leave real devices out of every listing, so tests do
// not depend on the machine's cameras and microphones.
const char* const kNoRealDevicesVariable = "POMVIRA_NO_REAL_DEVICES";
// Set to a comma-separated list of device provider names (such as
// "pipewiredeviceprovider") to watch only those, and the program's own
// providers: tests of one provider then touch no other (no real camera node,
// no real sound server).
const char* const kProvidersVariable = "POMVIRA_DEVICE_PROVIDERS";

const char* const kClasses[] = {"Video/Source", "Audio/Source"};

bool IsInputDevice(GstDevice* device) {
    return device && (gst_device_has_classes(device, kClasses[0]) ||
                      gst_device_has_classes(device, kClasses[1]));
}

// The factory names of the program's own providers.
std::mutex g_programProvidersLock;
std::vector<std::string> g_programProviders;

// The machine's providers of input devices, by rank (as a device monitor
// takes them).
std::vector<std::string> MachineProviders() {
    std::vector<std::string> names;
    GList* factories = gst_device_provider_factory_list_get_device_providers(GstRank(GST_RANK_NONE + 1));
    for (GList* l = factories; l; l = l->next) {
        auto* factory = GST_DEVICE_PROVIDER_FACTORY(l->data);
        if (gst_device_provider_factory_has_classes(factory, kClasses[0]) ||
            gst_device_provider_factory_has_classes(factory, kClasses[1]))
            names.push_back(GST_OBJECT_NAME(factory));
    }
    gst_plugin_feature_list_free(factories);
    return names;
}

// A new connection to the PipeWire daemon's socket, -1 when none answers
// there. Kept open for the program's life: the sources made from the
// provider's devices connect through it too.
int PipeWireConnection() {
    const char* dir = g_getenv("PIPEWIRE_RUNTIME_DIR");
    if (!dir || !*dir)
        dir = g_getenv("XDG_RUNTIME_DIR");
    const char* remote = g_getenv("PIPEWIRE_REMOTE");
    if (!remote || !*remote)
        remote = "pipewire-0";
    const std::string path =
        remote[0] == '/' ? std::string(remote) : std::string(dir ? dir : "") + "/" + remote;
    sockaddr_un address{};
    address.sun_family = AF_UNIX;
    if (path.size() >= sizeof address.sun_path)
        return -1;
    std::copy(path.begin(), path.end(), address.sun_path);
    const int fd = socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
    if (fd < 0)
        return -1;
    if (connect(fd, reinterpret_cast<const sockaddr*>(&address), sizeof address) != 0) {
        close(fd);
        return -1;
    }
    return fd;
}

}  // namespace

void DeviceWatch::WatchProgramProvider(const std::string& factoryName) {
    std::lock_guard<std::mutex> guard(g_programProvidersLock);
    g_programProviders.push_back(factoryName);
}

DeviceWatch& DeviceWatch::Get() {
    // Kept for the program's life: providers keep threads and connections of
    // their own that are not torn down again, and a provider's start may
    // still run on a thread of its own.
    static DeviceWatch* watch = new DeviceWatch;
    return *watch;
}

DeviceWatch::DeviceWatch() {
    std::vector<std::pair<std::string, bool>> names;  // factory, own
    {
        std::lock_guard<std::mutex> guard(g_programProvidersLock);
        for (const std::string& name : g_programProviders)
            names.emplace_back(name, true);
    }
    const char* only = g_getenv(kProvidersVariable);
    if (g_getenv(kNoRealDevicesVariable)) {
    } else if (only && *only) {
        gchar** listed = g_strsplit(only, ",", -1);
        for (gchar** name = listed; *name; ++name) {
            g_strstrip(*name);
            if (**name)
                names.emplace_back(*name, false);
        }
        g_strfreev(listed);
    } else {
        for (const std::string& name : MachineProviders())
            names.emplace_back(name, false);
    }
    std::lock_guard<std::mutex> guard(providersLock_);
    const TClock::time_point deadline = TClock::now() + std::chrono::milliseconds(kStartBoundMs);
    for (const auto& [factoryName, own] : names) {
        auto factory = GstRef<GstDeviceProviderFactory>::Adopt(
            gst_device_provider_factory_find(factoryName.c_str()));
        if (!factory)
            continue;
        auto provider =
            GstRef<GstDeviceProvider>::Adopt(gst_device_provider_factory_get(factory.Get()));
        // A machine's provider that cannot watch its devices would be asked
        // afresh on every listing: left out, as a device monitor leaves it.
        if (!provider || (!own && !gst_device_provider_can_monitor(provider.Get())))
            continue;
        TProvider p;
        p.factory = factoryName;
        const gchar* title = gst_device_provider_factory_get_metadata(
            factory.Get(), GST_ELEMENT_METADATA_LONGNAME);
        p.name = title ? title : factoryName;
        p.own = own;
        p.video = gst_device_provider_factory_has_classes(factory.Get(), kClasses[0]);
        p.socket = g_object_class_find_property(G_OBJECT_GET_CLASS(provider.Get()), "fd");
        p.deadline = deadline;
        if (own) {
            // The program's own: nothing to wait for.
            p.state = StartProvider(provider.Get(), &p.bus) ? TState::Started : TState::Failed;
            p.provider = provider;
            providers_.push_back(std::move(p));
            continue;
        }
        providers_.push_back(std::move(p));
        StartOnThread(providers_.size() - 1, provider, nullptr, BusRef());
    }
}

bool DeviceWatch::StartProvider(GstDeviceProvider* provider, BusRef* bus) {
    *bus = BusRef::Adopt(gst_device_provider_get_bus(provider));
    gst_bus_set_sync_handler(bus->Get(), &DeviceWatch::OnMessage, this, nullptr);
    if (gst_device_provider_start(provider))
        return true;
    gst_bus_set_sync_handler(bus->Get(), nullptr, nullptr, nullptr);
    *bus = BusRef();
    return false;
}

void DeviceWatch::StartOnThread(size_t index, GstRef<GstDeviceProvider> provider,
                                GstRef<GstDeviceProvider> old, BusRef oldBus) {
    std::thread([this, index, provider, old, oldBus] {
        if (old) {
            // The old one is no longer heard nor listed, but kept as it is:
            // PipeWire's, stopped while a source stuck on its connection
            // still holds it, crashes when that connection ends.
            if (oldBus)
                gst_bus_set_sync_handler(oldBus.Get(), nullptr, nullptr, nullptr);
            std::lock_guard<std::mutex> guard(providersLock_);
            retired_.push_back(old);
        }
        BusRef bus;
        const bool ok = StartProvider(provider.Get(), &bus);
        bool announce = false;
        {
            std::lock_guard<std::mutex> guard(providersLock_);
            TProvider& p = providers_[index];
            p.provider = provider;
            p.bus = bus;
            p.state = ok ? TState::Started : TState::Failed;
            // Renewed, or left out at its bound: its devices are the lists'
            // now.
            announce = bool(old) || (ok && TClock::now() >= p.deadline);
        }
        started_.notify_all();
        if (announce)
            Announce(ok ? DBT_DEVICEARRIVAL : DBT_DEVICEREMOVECOMPLETE);
    }).detach();
}

bool DeviceWatch::WaitStarted(int boundMs, std::vector<std::string>* unanswered) {
    std::unique_lock<std::mutex> guard(providersLock_);
    const TClock::time_point until = TClock::now() + std::chrono::milliseconds(std::max(boundMs, 0));
    auto waiting = [this] {
        const TClock::time_point now = TClock::now();
        return std::any_of(providers_.begin(), providers_.end(), [now](const TProvider& p) {
            return p.state == TState::Starting && now < p.deadline;
        });
    };
    while (waiting()) {
        TClock::time_point next = until;
        for (const TProvider& p : providers_) {
            if (p.state == TState::Starting)
                next = std::min(next, p.deadline);
        }
        if (TClock::now() >= until)
            break;
        started_.wait_until(guard, next);
    }
    bool all = true;
    const TClock::time_point now = TClock::now();
    for (TProvider& p : providers_) {
        if (p.state != TState::Starting)
            continue;
        all = false;
        if (now >= p.deadline && !p.named && unanswered) {
            p.named = true;
            unanswered->push_back(p.name);
        }
    }
    return all;
}

bool DeviceWatch::Renewable() {
    std::lock_guard<std::mutex> guard(providersLock_);
    return std::any_of(providers_.begin(), providers_.end(),
                       [](const TProvider& p) { return !p.own && p.video && p.socket; });
}

bool DeviceWatch::Renew(int boundMs) {
    std::unique_lock<std::mutex> guard(providersLock_);
    const TClock::time_point deadline = TClock::now() + std::chrono::milliseconds(boundMs);
    std::vector<size_t> renewed;
    bool reached = true;
    for (size_t i = 0; i < providers_.size(); ++i) {
        TProvider& p = providers_[i];
        // A start still under way (its server hangs) is waited for.
        if (p.own || !p.video || !p.socket || p.state == TState::Starting)
            continue;
        // A provider of its own, not the factory's shared one.
        const GType type = G_OBJECT_TYPE(p.provider.Get());
        auto fresh = GstRef<GstDeviceProvider>::Adopt(
            GST_DEVICE_PROVIDER(gst_object_ref_sink(g_object_new(type, nullptr))));
        if (!fresh)
            continue;
        // PipeWire's shares one connection per socket with every source
        // and provider of the process, and a source stuck on a server that
        // went away keeps the old one: the new provider (and the sources
        // made from its devices) get a connection of their own. No server
        // there: tried again at the next renewal.
        const int fd = PipeWireConnection();
        if (fd < 0) {
            reached = false;
            continue;
        }
        g_object_set(fresh.Get(), "fd", fd, nullptr);
        GstRef<GstDeviceProvider> old = p.state == TState::Started ? p.provider : nullptr;
        // Not listed meanwhile; not named either when it does not answer.
        p.state = TState::Starting;
        p.deadline = deadline;
        p.named = true;
        renewed.push_back(i);
        StartOnThread(i, fresh, old, p.bus);
    }
    auto waiting = [&] {
        return std::any_of(renewed.begin(), renewed.end(),
                           [&](size_t i) { return providers_[i].state == TState::Starting; });
    };
    started_.wait_until(guard, deadline, [&] { return !waiting(); });
    return reached && !waiting();
}

std::vector<GstRef<GstDevice>> DeviceWatch::Devices(bool video) {
    // Only the providers that have started: asking one whose start still
    // runs would wait for it (a provider's listing and its start share a
    // lock).
    std::vector<GstRef<GstDeviceProvider>> providers;
    {
        std::lock_guard<std::mutex> guard(providersLock_);
        for (const TProvider& p : providers_) {
            if (p.state == TState::Started)
                providers.push_back(p.provider);
        }
    }
    // As a device monitor does: providers that another one hides (PipeWire's
    // hides the V4L2 and PulseAudio ones, whose devices it also lists).
    std::set<std::string> hidden;
    for (const auto& provider : providers) {
        gchar** names = gst_device_provider_get_hidden_providers(provider.Get());
        for (gchar** name = names; name && *name; ++name)
            hidden.insert(*name);
        g_strfreev(names);
    }
    const char* klass = video ? kClasses[0] : kClasses[1];
    std::vector<GstRef<GstDevice>> result;
    for (const auto& provider : providers) {
        GstDeviceProviderFactory* factory = gst_device_provider_get_factory(provider.Get());
        if (factory && hidden.count(GST_OBJECT_NAME(factory)))
            continue;
        GList* devices = gst_device_provider_get_devices(provider.Get());
        for (GList* l = devices; l; l = l->next) {
            auto* device = GST_DEVICE(l->data);
            if (gst_device_has_classes(device, klass))
                result.push_back(GstRef<GstDevice>::Share(device));
        }
        g_list_free_full(devices, gst_object_unref);
    }
    return result;
}

void DeviceWatch::Register(QObject* receiver, uint32_t message) {
    std::lock_guard<std::mutex> guard(lock_);
    receivers_.push_back({receiver, message});
}

void DeviceWatch::Unregister(QObject* receiver) {
    std::lock_guard<std::mutex> guard(lock_);
    receivers_.erase(
        std::remove_if(receivers_.begin(), receivers_.end(),
                       [receiver](const Receiver& r) { return r.receiver == receiver; }),
        receivers_.end());
}

void DeviceWatch::Announce(intptr_t change) {
    std::lock_guard<std::mutex> guard(lock_);
    for (const Receiver& r : receivers_)
        QCoreApplication::postEvent(r.receiver, new WindowMessageEvent(r.message, change, 0));
}

GstBusSyncReply DeviceWatch::OnMessage(GstBus*, GstMessage* message, gpointer self) {
    // On the thread of the provider that noticed the change: only posting.
    auto* watch = static_cast<DeviceWatch*>(self);
    GstDevice* device = nullptr;
    watch->guard_.Run([&] {
        switch (GST_MESSAGE_TYPE(message)) {
            case GST_MESSAGE_DEVICE_ADDED:
                gst_message_parse_device_added(message, &device);
                if (IsInputDevice(device))
                    watch->Announce(DBT_DEVICEARRIVAL);
                break;
            case GST_MESSAGE_DEVICE_REMOVED:
                gst_message_parse_device_removed(message, &device);
                if (IsInputDevice(device))
                    watch->Announce(DBT_DEVICEREMOVECOMPLETE);
                break;
            default:
                break;
        }
    });
    if (device)
        gst_object_unref(device);
    return GST_BUS_DROP;
}

}  // namespace media::gst
