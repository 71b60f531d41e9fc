#include "SysfsDevices.h"

#include <algorithm>
#include <cerrno>
#include <climits>
#include <cstdlib>
#include <cstring>
#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace {

// Attribute files of interest hold a few characters; anything longer is not one of them.
constexpr std::size_t kMaxAttributeSize = 64;

// The real path of path (all links followed), or an empty string.
std::string RealPath(const std::string& path) {
    char* resolved = realpath(path.c_str(), nullptr);
    if (resolved == nullptr) {
        return std::string();
    }
    std::string result(resolved);
    std::free(resolved);
    return result;
}

bool IsDirectory(const std::string& path) {
    struct stat info {};
    return stat(path.c_str(), &info) == 0 && S_ISDIR(info.st_mode);
}

// Opens a regular file inside directory, never following a link in its last part and never
// blocking on a FIFO. Returns -1 when that is not possible.
int OpenAttribute(const std::string& directory, const char* name, int access) {
    const std::string path = directory + "/" + name;
    const int fd = open(path.c_str(), access | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC | O_NOCTTY);
    if (fd < 0) {
        return -1;
    }
    struct stat info {};
    if (fstat(fd, &info) != 0 || !S_ISREG(info.st_mode)) {
        close(fd);
        return -1;
    }
    return fd;
}

// Reads a small attribute file, trailing white space removed. False when it is missing, not a
// regular file, or too long.
bool ReadAttribute(const std::string& directory, const char* name, std::string* value) {
    const int fd = OpenAttribute(directory, name, O_RDONLY);
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
    while (!value->empty() && std::strchr(" \t\r\n", value->back()) != nullptr) {
        value->pop_back();
    }
    return true;
}

// Reads an attribute of exactly `digits` hexadecimal digits, returned in upper case.
bool ReadHexAttribute(const std::string& directory, const char* name, std::size_t digits,
                      std::string* value) {
    if (!ReadAttribute(directory, name, value) || value->size() != digits) {
        return false;
    }
    for (char& c : *value) {
        if (c >= 'a' && c <= 'f') {
            c = static_cast<char>(c - 'a' + 'A');
        } else if (!((c >= '0' && c <= '9') || (c >= 'A' && c <= 'F'))) {
            return false;
        }
    }
    return true;
}

// Writes text to an attribute file in full.
bool WriteAttribute(const std::string& directory, const char* name, const std::string& text) {
    const int fd = OpenAttribute(directory, name, O_WRONLY | O_TRUNC);
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

std::string ParentDirectory(const std::string& path) {
    const std::size_t slash = path.rfind('/');
    if (slash == std::string::npos || slash == 0) {
        return "/";
    }
    return path.substr(0, slash);
}

}  // namespace

std::unique_ptr<CSysfsDeviceSet> CSysfsDeviceSet::Open(const std::string& sysfsRoot) {
    if (sysfsRoot.empty()) {
        return nullptr;
    }
    const std::string root = RealPath(sysfsRoot);
    if (root.empty()) {
        return nullptr;
    }
    const std::string listPath = (root == "/" ? std::string() : root) + "/bus/usb/devices";
    DIR* dir = opendir(listPath.c_str());
    if (dir == nullptr) {
        return nullptr;
    }
    std::vector<std::string> names;
    while (const dirent* item = readdir(dir)) {
        const std::string name = item->d_name;
        // Entry names are plain names; nothing that could climb out of the list.
        if (name.empty() || name.find('/') != std::string::npos ||
            name.find("..") != std::string::npos || name == ".") {
            continue;
        }
        names.push_back(name);
    }
    closedir(dir);
    std::sort(names.begin(), names.end());

    std::unique_ptr<CSysfsDeviceSet> set(new CSysfsDeviceSet(root, {}));
    for (const std::string& name : names) {
        Entry entry;
        entry.name = name;
        entry.directory = RealPath(listPath + "/" + name);
        if (entry.directory.empty() || !set->IsInsideRoot(entry.directory) ||
            !IsDirectory(entry.directory)) {
            continue;
        }
        entry.isInterface = name.find(':') != std::string::npos;
        if (entry.isInterface) {
            entry.parent = ParentDirectory(entry.directory);
            if (!set->IsInsideRoot(entry.parent)) {
                continue;
            }
        }
        set->m_entries.push_back(std::move(entry));
    }
    return set;
}

bool CSysfsDeviceSet::IsInsideRoot(const std::string& path) const {
    if (m_root == "/") {
        return path.size() > 1 && path[0] == '/';
    }
    return path.size() > m_root.size() + 1 && path.compare(0, m_root.size(), m_root) == 0 &&
           path[m_root.size()] == '/';
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
    if (!ReadHexAttribute(deviceDir, "idVendor", 4, &vendor) ||
        !ReadHexAttribute(deviceDir, "idProduct", 4, &product)) {
        return {};
    }
    const std::string base = "USB\\VID_" + vendor + "&PID_" + product;
    if (entry.isInterface) {
        std::string number;
        if (!ReadHexAttribute(entry.directory, "bInterfaceNumber", 2, &number)) {
            return {};
        }
        return {base + "&MI_" + number};
    }
    std::string revision;
    if (ReadHexAttribute(deviceDir, "bcdDevice", 4, &revision)) {
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
        return WriteAttribute(entry.directory, "remove", "1");
    }
    const std::string driver = RealPath(entry.directory + "/driver");
    if (driver.empty() || !IsInsideRoot(driver)) {
        return false;
    }
    return WriteAttribute(driver, "unbind", entry.name);
}
