// SPDX-License-Identifier: GPL-3.0-or-later
#include "SysfsTree.h"

#include <climits>
#include <cstdlib>
#include <deque>
#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace {

// As many links as the kernel follows in one path.
constexpr int kMaxLinks = 40;

// Owns a file descriptor.
class UniqueFd {
  public:
    explicit UniqueFd(int fd = -1) : m_fd(fd) {}
    ~UniqueFd() { Reset(); }
    UniqueFd(const UniqueFd&) = delete;
    UniqueFd& operator=(const UniqueFd&) = delete;
    UniqueFd& operator=(UniqueFd&& other) noexcept {
        Reset(other.m_fd);
        other.m_fd = -1;
        return *this;
    }

    int Get() const { return m_fd; }
    bool Valid() const { return m_fd >= 0; }
    void Reset(int fd = -1) {
        if (m_fd >= 0) {
            close(m_fd);
        }
        m_fd = fd;
    }
    int Release() {
        const int fd = m_fd;
        m_fd = -1;
        return fd;
    }

  private:
    int m_fd;
};

// The parts of a "/"-separated path, empty parts and "." left out.
std::vector<std::string> SplitPath(const std::string& path) {
    std::vector<std::string> parts;
    std::size_t pos = 0;
    while (pos <= path.size()) {
        std::size_t slash = path.find('/', pos);
        if (slash == std::string::npos) {
            slash = path.size();
        }
        std::string part = path.substr(pos, slash - pos);
        if (!part.empty() && part != ".") {
            parts.push_back(std::move(part));
        }
        pos = slash + 1;
    }
    return parts;
}

std::string JoinPath(const std::vector<std::string>& parts) {
    std::string path;
    for (const std::string& part : parts) {
        if (!path.empty()) {
            path += '/';
        }
        path += part;
    }
    return path;
}

// A name that stands for one entry of a folder.
bool IsPlainName(const std::string& name) {
    return !name.empty() && name != "." && name != ".." && name.find('/') == std::string::npos;
}

// The target of the link that fd (opened with O_PATH | O_NOFOLLOW) stands for.
bool ReadLink(int fd, std::string* target) {
    char buffer[PATH_MAX];
    const ssize_t length = readlinkat(fd, "", buffer, sizeof buffer);
    if (length <= 0 || static_cast<std::size_t>(length) >= sizeof buffer) {
        return false;
    }
    target->assign(buffer, static_cast<std::size_t>(length));
    return true;
}

std::string WithoutTrailingSlashes(std::string path) {
    while (path.size() > 1 && path.back() == '/') {
        path.pop_back();
    }
    return path;
}

}  // namespace

std::unique_ptr<CSysfsTree> CSysfsTree::Open(const std::string& root) {
    if (root.empty()) {
        return nullptr;
    }
    UniqueFd fd(open(root.c_str(), O_PATH | O_DIRECTORY | O_CLOEXEC));
    if (!fd.Valid()) {
        return nullptr;
    }
    std::vector<std::string> rootPaths;
    if (root[0] == '/') {
        rootPaths.push_back(WithoutTrailingSlashes(root));
    }
    if (char* real = realpath(root.c_str(), nullptr)) {
        rootPaths.emplace_back(real);
        std::free(real);
    }
    return std::unique_ptr<CSysfsTree>(new CSysfsTree(fd.Release(), std::move(rootPaths)));
}

CSysfsTree::~CSysfsTree() {
    close(m_rootFd);
}

bool CSysfsTree::BelowRoot(const std::string& target, std::string* rest) const {
    for (const std::string& root : m_rootPaths) {
        if (root == "/") {
            *rest = target;
            return true;
        }
        if (target.compare(0, root.size(), root) == 0 &&
            (target.size() == root.size() || target[root.size()] == '/')) {
            *rest = target.substr(root.size());
            return true;
        }
    }
    return false;
}

int CSysfsTree::OpenFolder(const std::vector<std::string>& names) const {
    UniqueFd folder(openat(m_rootFd, ".", O_PATH | O_DIRECTORY | O_CLOEXEC));
    for (const std::string& name : names) {
        if (!folder.Valid() || !IsPlainName(name)) {
            return -1;
        }
        folder = UniqueFd(
            openat(folder.Get(), name.c_str(), O_PATH | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC));
    }
    return folder.Release();
}

bool CSysfsTree::ResolveFolder(const std::string& path, std::string* folder) const {
    std::vector<std::string> reached;  // real names from the root to where the walk stands
    UniqueFd current;                  // that folder; opened again when empty
    std::deque<std::string> pending;   // names still to walk
    for (std::string& part : SplitPath(path)) {
        pending.push_back(std::move(part));
    }
    int links = 0;
    while (!pending.empty()) {
        const std::string name = std::move(pending.front());
        pending.pop_front();
        if (name == "..") {
            // Taken from the names walked, not from the file system: a folder moved away
            // meanwhile cannot lead out of the tree.
            if (reached.empty()) {
                return false;
            }
            reached.pop_back();
            current.Reset();
            continue;
        }
        if (!current.Valid()) {
            current.Reset(OpenFolder(reached));
            if (!current.Valid()) {
                return false;
            }
        }
        UniqueFd next(openat(current.Get(), name.c_str(), O_PATH | O_NOFOLLOW | O_CLOEXEC));
        struct stat info {};
        if (!next.Valid() || fstat(next.Get(), &info) != 0) {
            return false;
        }
        if (S_ISDIR(info.st_mode)) {
            reached.push_back(name);
            current = std::move(next);
            continue;
        }
        std::string target;
        if (!S_ISLNK(info.st_mode) || ++links > kMaxLinks || !ReadLink(next.Get(), &target)) {
            return false;
        }
        if (target[0] == '/') {
            std::string rest;
            if (!BelowRoot(target, &rest)) {
                return false;
            }
            reached.clear();
            current.Reset();
            target = rest;
        }
        const std::vector<std::string> parts = SplitPath(target);
        pending.insert(pending.begin(), parts.begin(), parts.end());
    }
    *folder = JoinPath(reached);
    return true;
}

bool CSysfsTree::List(const std::string& folder, std::vector<std::string>* names) const {
    const UniqueFd path(OpenFolder(SplitPath(folder)));
    if (!path.Valid()) {
        return false;
    }
    UniqueFd readable(openat(path.Get(), ".", O_RDONLY | O_DIRECTORY | O_CLOEXEC));
    DIR* dir = readable.Valid() ? fdopendir(readable.Get()) : nullptr;
    if (dir == nullptr) {
        return false;
    }
    readable.Release();  // closedir closes it
    names->clear();
    while (const dirent* item = readdir(dir)) {
        const std::string name = item->d_name;
        if (name != "." && name != "..") {
            names->push_back(name);
        }
    }
    closedir(dir);
    return true;
}

int CSysfsTree::OpenFile(const std::string& folder, const std::string& name, int access) const {
    if (!IsPlainName(name)) {
        return -1;
    }
    const UniqueFd parent(OpenFolder(SplitPath(folder)));
    if (!parent.Valid()) {
        return -1;
    }
    // No O_TRUNC: it would empty the file before it is known to be one to write.
    UniqueFd file(openat(parent.Get(), name.c_str(),
                         access | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC | O_NOCTTY));
    struct stat info {};
    if (!file.Valid() || fstat(file.Get(), &info) != 0 || !S_ISREG(info.st_mode) ||
        info.st_nlink != 1) {
        return -1;
    }
    return file.Release();
}
