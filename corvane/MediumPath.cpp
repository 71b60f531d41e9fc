// SPDX-License-Identifier: GPL-3.0-or-later
#include "MediumPath.h"

#include <dirent.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdlib>
#include <vector>

#include <QFile>
#include <QList>
#include <QStringList>

namespace {

// mountinfo writes space, tab, newline and backslash in paths as a backslash
// and three octal digits.
QByteArray DecodeMountPath(const QByteArray& field) {
    QByteArray out;
    out.reserve(field.size());
    for (int i = 0; i < field.size(); ++i) {
        const auto isOctal = [&](int k) { return field[k] >= '0' && field[k] <= '7'; };
        if (field[i] == '\\' && i + 3 < field.size() && isOctal(i + 1) && isOctal(i + 2) &&
            isOctal(i + 3)) {
            out.append(char(((field[i + 1] - '0') << 6) | ((field[i + 2] - '0') << 3) |
                            (field[i + 3] - '0')));
            i += 3;
        } else {
            out.append(field[i]);
        }
    }
    return out;
}

bool IsSameOrBelow(const QByteArray& path, const QByteArray& mountPoint) {
    if (mountPoint == "/")
        return path.startsWith('/');
    return path == mountPoint || path.startsWith(mountPoint + '/');
}

bool DeviceOf(const QByteArray& path, dev_t* device) {
    struct stat st {};
    if (::stat(path.constData(), &st) != 0)
        return false;
    *device = st.st_dev;
    return true;
}

QByteArray ParentOf(const QByteArray& path) {
    const qsizetype slash = path.lastIndexOf('/');
    return slash <= 0 ? QByteArray("/") : path.left(slash);
}

// Walks up from `path` while the parent lies on the same device.
QByteArray WalkUpSameDevice(const QByteArray& path) {
    dev_t device{};
    if (!DeviceOf(path, &device))
        return QByteArray();
    QByteArray current = path;
    while (current != "/") {
        const QByteArray parent = ParentOf(current);
        dev_t parentDevice{};
        if (!DeviceOf(parent, &parentDevice) || parentDevice != device)
            break;
        current = parent;
    }
    return current;
}

QByteArray CanonicalPath(const QByteArray& path) {
    char* resolved = ::realpath(path.constData(), nullptr);
    if (resolved == nullptr)
        return QByteArray();
    const QByteArray result(resolved);
    std::free(resolved);
    return result;
}

QByteArray ChildPath(const QByteArray& folder, const QByteArray& name) {
    return folder.endsWith('/') ? folder + name : folder + '/' + name;
}

// Whether `path` exists and is a folder exactly when `wantFolder`.
bool IsKind(const QByteArray& path, bool wantFolder) {
    struct stat st {};
    return ::stat(path.constData(), &st) == 0 && S_ISDIR(st.st_mode) == wantFolder;
}

// The names in a folder other than `exact` that equal `part` without regard
// to case, in byte order.
std::vector<QByteArray> CaseVariants(const QByteArray& folder, const QString& part,
                                     const QByteArray& exact) {
    std::vector<QByteArray> variants;
    DIR* dir = ::opendir(folder.constData());
    if (dir == nullptr)
        return variants;
    while (const dirent* item = ::readdir(dir)) {
        const QByteArray name(item->d_name);
        if (name != exact && name != "." && name != ".." &&
            QFile::decodeName(name).compare(part, Qt::CaseInsensitive) == 0)
            variants.push_back(name);
    }
    ::closedir(dir);
    std::sort(variants.begin(), variants.end());
    return variants;
}

// The file that parts[index...] name below `folder`, trying the exact name
// first and then every other case variant until one leads to it.
QByteArray FindBelow(const QByteArray& folder, const QStringList& parts, int index) {
    const bool wantFolder = index + 1 < parts.size();
    const QString& part = parts[index];
    const QByteArray exact = QFile::encodeName(part);
    const auto tryName = [&](const QByteArray& name) {
        const QByteArray path = ChildPath(folder, name);
        if (!IsKind(path, wantFolder))
            return QByteArray();
        return wantFolder ? FindBelow(path, parts, index + 1) : path;
    };
    QByteArray found = tryName(exact);
    if (!found.isEmpty())
        return found;
    for (const QByteArray& variant : CaseVariants(folder, part, exact)) {
        found = tryName(variant);
        if (!found.isEmpty())
            return found;
    }
    return QByteArray();
}

}  // namespace

QByteArray MountPointOf(const QByteArray& path, const QByteArray& mountinfo) {
    QByteArray best;
    for (const QByteArray& line : mountinfo.split('\n')) {
        // id parent major:minor root mount-point options ...
        const QList<QByteArray> fields = line.split(' ');
        if (fields.size() < 5)
            continue;
        const QByteArray mountPoint = DecodeMountPath(fields[4]);
        if (!mountPoint.startsWith('/') || !IsSameOrBelow(path, mountPoint))
            continue;
        // A later mount on the same point hides the earlier one.
        if (mountPoint.size() >= best.size())
            best = mountPoint;
    }
    return best;
}

QByteArray MediumRootOf(const QByteArray& dir) {
    const QByteArray canonical = dir.isEmpty() ? QByteArray() : CanonicalPath(dir);
    if (canonical.isEmpty())
        return QByteArray();
    QFile mounts(QStringLiteral("/proc/self/mountinfo"));
    if (mounts.open(QIODevice::ReadOnly)) {
        const QByteArray mountPoint = MountPointOf(canonical, mounts.readAll());
        if (!mountPoint.isEmpty())
            return mountPoint;
    }
    return WalkUpSameDevice(canonical);
}

QByteArray CurrentFolder() {
    std::vector<char> buffer(4096);
    while (::getcwd(buffer.data(), buffer.size()) == nullptr) {
        if (errno != ERANGE || buffer.size() > (1u << 20))
            return QByteArray();
        buffer.resize(buffer.size() * 2);
    }
    return QByteArray(buffer.data());
}

QByteArray FindOnMedium(const QByteArray& root, const QString& path) {
    if (root.isEmpty())
        return QByteArray();
    QStringList parts = path.split(QLatin1Char('/'), Qt::SkipEmptyParts);
    parts.removeAll(QStringLiteral("."));
    if (parts.isEmpty())
        return QByteArray();
    return FindBelow(root, parts, 0);
}
