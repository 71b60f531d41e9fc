// SPDX-License-Identifier: GPL-3.0-or-later
#include "DeviceWatch.h"

#include <QCoreApplication>
#include <algorithm>
#include <set>
#include <string>

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

}  // namespace

void DeviceWatch::WatchProgramProvider(const std::string& factoryName) {
    std::lock_guard<std::mutex> guard(g_programProvidersLock);
    g_programProviders.push_back(factoryName);
}

DeviceWatch& DeviceWatch::Get() {
    // Kept for the program's life: providers keep threads and connections of
    // their own that are not torn down again.
    static DeviceWatch* watch = new DeviceWatch;
    return *watch;
}

DeviceWatch::DeviceWatch() {
    const char* only = g_getenv(kProvidersVariable);
    if (g_getenv(kNoRealDevicesVariable) || (only && *only)) {
        std::vector<std::string> names;
        {
            std::lock_guard<std::mutex> guard(g_programProvidersLock);
            names = g_programProviders;
        }
        if (only && !g_getenv(kNoRealDevicesVariable)) {
            gchar** listed = g_strsplit(only, ",", -1);
            for (gchar** name = listed; *name; ++name) {
                g_strstrip(*name);
                if (**name)
                    names.push_back(*name);
            }
            g_strfreev(listed);
        }
        for (const std::string& name : names) {
            auto provider = GstRef<GstDeviceProvider>::Adopt(
                gst_device_provider_factory_get_by_name(name.c_str()));
            if (!provider)
                continue;
            BusRef bus = BusRef::Adopt(gst_device_provider_get_bus(provider.Get()));
            gst_bus_set_sync_handler(bus.Get(), &DeviceWatch::OnMessage, this, nullptr);
            if (gst_device_provider_start(provider.Get())) {
                ownProviders_.push_back(provider);
                ownBuses_.push_back(bus);
            } else {
                gst_bus_set_sync_handler(bus.Get(), nullptr, nullptr, nullptr);
            }
        }
        return;
    }
    monitor_ = GstRef<GstDeviceMonitor>::Sink(gst_device_monitor_new());
    for (const char* klass : kClasses)
        gst_device_monitor_add_filter(monitor_.Get(), klass, nullptr);
    bus_ = BusRef::Adopt(gst_device_monitor_get_bus(monitor_.Get()));
    gst_bus_set_sync_handler(bus_.Get(), &DeviceWatch::OnMessage, this, nullptr);
    // Where no provider can start (no sound server, no device nodes), the
    // monitor still lists by asking the providers each time.
    gst_device_monitor_start(monitor_.Get());
}

std::vector<GstRef<GstDevice>> DeviceWatch::Devices(bool video) {
    // Only the providers that watch their devices: one that could not start
    // (no sound server running, say) would be asked afresh on every listing,
    // leaving its failed connection behind each time, and has nothing to
    // give anyway.
    std::vector<GstRef<GstDeviceProvider>> providers;
    if (monitor_) {
        gchar** names = gst_device_monitor_get_providers(monitor_.Get());
        for (gchar** name = names; name && *name; ++name) {
            auto provider =
                GstRef<GstDeviceProvider>::Adopt(gst_device_provider_factory_get_by_name(*name));
            if (provider && gst_device_provider_is_started(provider.Get()))
                providers.push_back(provider);
        }
        g_strfreev(names);
    } else {
        providers = ownProviders_;
    }
    // As the monitor does: providers that another one hides (PipeWire's
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
