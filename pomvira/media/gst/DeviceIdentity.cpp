// SPDX-License-Identifier: GPL-3.0-or-later
#include "DeviceIdentity.h"

#include <algorithm>
#include <map>

namespace media::gst {

namespace {

struct IdSource {
    const char* property;
    const char* prefix;
};

// In order of preference.
const IdSource kIdSources[] = {
    {"device.bus_path", "bus:"},       {"device.bus-path", "bus:"},
    {"device.serial", "serial:"},      {"node.name", "node:"},
    {"v4l2.device.bus_info", "businfo:"}, {"api.v4l2.cap.bus_info", "businfo:"},
    {"api.v4l2.path", "path:"},        {"device.path", "path:"},
    {"object.path", "path:"},          {"device.string", "path:"},
    {"sysfs.path", "path:"},
};

const char* const kNodeProperties[] = {"api.v4l2.path", "device.path", "object.path",
                                       "device.string"};

std::string Text(const GstStructure* properties, const char* key) {
    if (!properties)
        return {};
    const char* value = gst_structure_get_string(properties, key);
    return value ? value : "";
}

// The node, for ordering devices that share an identity: /dev/video10 after
// /dev/video2.
std::string NodeKey(const GstStructure* properties) {
    for (const char* key : kNodeProperties) {
        std::string node = Text(properties, key);
        if (node.empty())
            continue;
        // Numbers compare by value: pad the trailing digits.
        size_t digits = node.size();
        while (digits > 0 && node[digits - 1] >= '0' && node[digits - 1] <= '9')
            --digits;
        const size_t count = node.size() - digits;
        if (count > 0 && count < 10)
            node.insert(digits, 10 - count, '0');
        return node;
    }
    return {};
}

}  // namespace

std::string StableDeviceId(const GstStructure* properties) {
    for (const IdSource& source : kIdSources) {
        const std::string value = Text(properties, source.property);
        if (!value.empty())
            return source.prefix + value;
    }
    return {};
}

std::vector<std::string> StableDeviceIds(const std::vector<DeviceProperties>& properties) {
    std::vector<std::string> ids;
    for (const DeviceProperties& p : properties)
        ids.push_back(StableDeviceId(p.Get()));
    std::map<std::string, std::vector<size_t>> same;
    for (size_t i = 0; i < ids.size(); ++i) {
        if (!ids[i].empty())
            same[ids[i]].push_back(i);
    }
    for (auto& [id, members] : same) {
        if (members.size() < 2)
            continue;
        std::stable_sort(members.begin(), members.end(), [&](size_t a, size_t b) {
            return NodeKey(properties[a].Get()) < NodeKey(properties[b].Get());
        });
        for (size_t k = 1; k < members.size(); ++k)
            ids[members[k]] = id + "#" + std::to_string(k + 1);
    }
    return ids;
}

}  // namespace media::gst
