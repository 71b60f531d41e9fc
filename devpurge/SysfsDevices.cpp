// SPDX-License-Identifier: GPL-3.0-or-later
#include "SysfsDevices.h"

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <unistd.h>

namespace {

// Attribute files of interest hold a few characters; anything longer is not one of them.
constexpr std::size_t kMaxAttributeSize = 64;

const char kDeviceList[] = "bus/usb/devices";

// Reads a small attribute file in full. False when it cannot be opened (see
// CSysfsTree::OpenFile) or is too long.
bool ReadAttribute(const CSysfsTree& tree, const std::string& folder, const char* name,
                   std::string* value) {
    const int fd = tree.OpenFile(folder, name, O_RDONLY);
    if (fd < 0) {
        return false;
    }
    char buffer[kMaxAttributeSize + 1];
    std::size_t total = 0;
    bool ok = true;
    while (total < sizeof buffer) {
        const ssize_t got = read(fd, buffer + total, sizeof buffer - total);
        if (got < 0 && errno == EINTR) {
            continue;
        }
        if (got < 0) {
            ok = false;
            break;
        }
        if (got == 0) {
            break;
        }
        total += static_cast<std::size_t>(got);
    }
    close(fd);
    if (!ok || total > kMaxAttributeSize) {
        return false;
    }
    value->assign(buffer, total);
    return true;
}

bool IsBlankOrLineEnd(char c) {
    return c == ' ' || c == '\t' || c == '\r' || c == '\n';
}

// Reads an attribute of exactly `digits` hexadecimal digits, with nothing but blanks and line
// ends around them; returned in upper case.
bool ReadHexAttribute(const CSysfsTree& tree, const std::string& folder, const char* name,
                      std::size_t digits, std::string* value) {
    std::string text;
    if (!ReadAttribute(tree, folder, name, &text)) {
        return false;
    }
    std::size_t begin = 0;
    std::size_t end = text.size();
    while (begin < end && IsBlankOrLineEnd(text[begin])) {
        ++begin;
    }
    while (end > begin && IsBlankOrLineEnd(text[end - 1])) {
        --end;
    }
    if (end - begin != digits) {
        return false;
    }
    *value = text.substr(begin, digits);
    for (char& c : *value) {
        if (c >= 'a' && c <= 'f') {
            c = static_cast<char>(c - 'a' + 'A');
        } else if (!((c >= '0' && c <= '9') || (c >= 'A' && c <= 'F'))) {
            return false;
        }
    }
    return true;
}

// Writes text to an attribute file in full, from its start.
bool WriteAttribute(const CSysfsTree& tree, const std::string& folder, const char* name,
                    const std::string& text) {
    const int fd = tree.OpenFile(folder, name, O_WRONLY);
    if (fd < 0) {
        return false;
    }
    std::size_t written = 0;
    bool ok = true;
    while (written < text.size()) {
        const ssize_t put = write(fd, text.data() + written, text.size() - written);
        if (put < 0 && errno == EINTR) {
            continue;
        }
        if (put <= 0) {
            ok = false;
            break;
        }
        written += static_cast<std::size_t>(put);
    }
    return close(fd) == 0 && ok;
}

// The folder above a folder given as a path from the root; empty for one directly below it.
std::string ParentFolder(const std::string& folder) {
    const std::size_t slash = folder.rfind('/');
    return slash == std::string::npos ? std::string() : folder.substr(0, slash);
}

}  // namespace

std::unique_ptr<CSysfsDeviceSet> CSysfsDeviceSet::Open(const std::string& sysfsRoot) {
    std::unique_ptr<CSysfsTree> tree = CSysfsTree::Open(sysfsRoot);
    std::string listFolder;
    std::vector<std::string> names;
    if (!tree || !tree->ResolveFolder(kDeviceList, &listFolder) ||
        !tree->List(listFolder, &names)) {
        return nullptr;
    }
    std::sort(names.begin(), names.end());

    std::vector<Entry> entries;
    for (const std::string& name : names) {
        // Entry names are plain device names; nothing that looks like climbing.
        if (name.find("..") != std::string::npos) {
            continue;
        }
        Entry entry;
        entry.name = name;
        // The root itself is no device.
        if (!tree->ResolveFolder(listFolder + "/" + name, &entry.directory) ||
            entry.directory.empty()) {
            continue;
        }
        entry.isInterface = name.find(':') != std::string::npos;
        if (entry.isInterface) {
            entry.parent = ParentFolder(entry.directory);
            if (entry.parent.empty()) {
                continue;
            }
        }
        entries.push_back(std::move(entry));
    }
    return std::unique_ptr<CSysfsDeviceSet>(
        new CSysfsDeviceSet(std::move(tree), std::move(entries)));
}

bool CSysfsDeviceSet::EnumDeviceInfo(std::size_t index, DeviceInfoData* device) {
    if (index >= m_entries.size()) {
        return false;
    }
    device->index = index;
    return true;
}

std::vector<std::string> CSysfsDeviceSet::HardwareIds(const Entry& entry) const {
    const std::string& deviceDir = entry.isInterface ? entry.parent : entry.directory;
    std::string vendor;
    std::string product;
    if (!ReadHexAttribute(*m_tree, deviceDir, "idVendor", 4, &vendor) ||
        !ReadHexAttribute(*m_tree, deviceDir, "idProduct", 4, &product)) {
        return {};
    }
    const std::string base = "USB\\VID_" + vendor + "&PID_" + product;
    if (entry.isInterface) {
        std::string number;
        if (!ReadHexAttribute(*m_tree, entry.directory, "bInterfaceNumber", 2, &number)) {
            return {};
        }
        return {base + "&MI_" + number};
    }
    std::string revision;
    if (ReadHexAttribute(*m_tree, deviceDir, "bcdDevice", 4, &revision)) {
        return {base + "&REV_" + revision, base};
    }
    return {base};
}

bool CSysfsDeviceSet::GetHardwareIds(const DeviceInfoData& device, char* buffer,
                                     std::size_t bufferSize) {
    if (device.index >= m_entries.size()) {
        return false;
    }
    const std::vector<std::string> ids = HardwareIds(m_entries[device.index]);
    if (ids.empty()) {
        return false;
    }
    std::string list;
    for (const std::string& id : ids) {
        list += id;
        list.push_back('\0');
    }
    list.push_back('\0');
    if (list.size() > bufferSize) {
        return false;
    }
    std::memcpy(buffer, list.data(), list.size());
    return true;
}

bool CSysfsDeviceSet::RemoveDevice(const DeviceInfoData& device) {
    if (device.index >= m_entries.size()) {
        return false;
    }
    const Entry& entry = m_entries[device.index];
    if (!entry.isInterface) {
        return WriteAttribute(*m_tree, entry.directory, "remove", "1");
    }
    std::string driver;
    if (!m_tree->ResolveFolder(entry.directory + "/driver", &driver) || driver.empty()) {
        return false;
    }
    return WriteAttribute(*m_tree, driver, "unbind", entry.name);
}
