#include "MediumPath.h"

#include <sys/stat.h>

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QList>

namespace {

// mountinfo writes space, tab, newline and backslash in paths as a backslash
// and three octal digits.
QString DecodeMountPath(const QByteArray& field) {
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
    return QFile::decodeName(out);
}

bool IsSameOrBelow(const QString& path, const QString& mountPoint) {
    if (mountPoint == QLatin1String("/"))
        return path.startsWith(QLatin1Char('/'));
    return path == mountPoint || path.startsWith(mountPoint + QLatin1Char('/'));
}

bool DeviceOf(const QString& path, dev_t* device) {
    struct stat st {};
    if (::stat(QFile::encodeName(path).constData(), &st) != 0)
        return false;
    *device = st.st_dev;
    return true;
}

// Walks up from `path` while the parent lies on the same device.
QString WalkUpSameDevice(const QString& path) {
    dev_t device{};
    if (!DeviceOf(path, &device))
        return QString();
    QString current = path;
    while (current != QLatin1String("/")) {
        const QString parent = QFileInfo(current).path();
        dev_t parentDevice{};
        if (!DeviceOf(parent, &parentDevice) || parentDevice != device)
            break;
        current = parent;
    }
    return current;
}

}  // namespace

QString MountPointOf(const QString& path, const QByteArray& mountinfo) {
    QString best;
    for (const QByteArray& line : mountinfo.split('\n')) {
        // id parent major:minor root mount-point options ...
        const QList<QByteArray> fields = line.split(' ');
        if (fields.size() < 5)
            continue;
        const QString mountPoint = DecodeMountPath(fields[4]);
        if (!mountPoint.startsWith(QLatin1Char('/')) || !IsSameOrBelow(path, mountPoint))
            continue;
        // A later mount on the same point hides the earlier one.
        if (mountPoint.size() >= best.size())
            best = mountPoint;
    }
    return best;
}

QString MediumRootOf(const QString& dir) {
    const QString canonical = QFileInfo(dir).canonicalFilePath();
    if (canonical.isEmpty())
        return QString();
    QFile mounts(QStringLiteral("/proc/self/mountinfo"));
    if (mounts.open(QIODevice::ReadOnly)) {
        const QString mountPoint = MountPointOf(canonical, mounts.readAll());
        if (!mountPoint.isEmpty())
            return mountPoint;
    }
    return WalkUpSameDevice(canonical);
}

QString FindOnMedium(const QString& root, const QString& path) {
    if (root.isEmpty())
        return QString();
    QStringList parts = path.split(QLatin1Char('/'), Qt::SkipEmptyParts);
    parts.removeAll(QStringLiteral("."));
    if (parts.isEmpty())
        return QString();

    QString current = root;
    for (int i = 0; i < parts.size(); ++i) {
        const bool wantFolder = i + 1 < parts.size();
        const QString& part = parts[i];
        const QDir dir(current);
        const auto fits = [&](const QString& name) {
            const QFileInfo info(dir.filePath(name));
            return info.exists() && info.isDir() == wantFolder;
        };
        QString found;
        if (fits(part)) {
            found = part;
        } else {
            const QStringList entries = dir.entryList(
                QDir::AllEntries | QDir::Hidden | QDir::System | QDir::NoDotAndDotDot, QDir::Name);
            for (const QString& entry : entries) {
                if (entry.compare(part, Qt::CaseInsensitive) == 0 && fits(entry)) {
                    found = entry;
                    break;
                }
            }
        }
        if (found.isEmpty())
            return QString();
        current = dir.filePath(found);
    }
    return current;
}
