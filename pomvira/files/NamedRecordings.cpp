// SPDX-License-Identifier: GPL-3.0-or-later
#include "NamedRecordings.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QSaveFile>
#include <set>
#include <sys/stat.h>

#include "IniFile.h"
#include "PathUtils.h"

namespace {

// One line per file: size, modification time in nanoseconds, and the path
// percent-encoded (a path may hold any byte but "/" and NUL).
QByteArray Key(const QString& path) {
    const QByteArray bytes = EncodeFileName(path);
    struct stat st {};
    if (::lstat(bytes.constData(), &st) != 0)
        return {};
    const qint64 mtime = qint64(st.st_mtim.tv_sec) * 1000000000 + st.st_mtim.tv_nsec;
    return QByteArray::number(qint64(st.st_size)) + ' ' + QByteArray::number(mtime) + ' ' +
           bytes.toPercentEncoding("/");
}

}  // namespace

TNamedRecordings::TNamedRecordings(const QString& fileName)
    : FFileName(TIniFile(fileName).FileName()) {}

QStringList TNamedRecordings::NotNamedBefore(const QStringList& paths) {
    std::set<QByteArray> known;
    QFile in(FFileName);
    // Never waits on something that is no regular file in its place.
    struct stat st {};
    if (::stat(EncodeFileName(FFileName).constData(), &st) == 0 && S_ISREG(st.st_mode) &&
        in.open(QIODevice::ReadOnly)) {
        for (const QByteArray& line : in.readAll().split('\n')) {
            if (!line.isEmpty())
                known.insert(line);
        }
    }
    QStringList fresh;
    QByteArray out;
    for (const QString& path : paths) {
        const QByteArray key = Key(path);
        if (key.isEmpty() || known.count(key) == 0)
            fresh.append(path);
        if (!key.isEmpty())
            out += key + '\n';
    }
    if (out.isEmpty() && known.empty())
        return fresh;
    QDir().mkpath(QFileInfo(FFileName).absolutePath());
    QSaveFile file(FFileName);
    if (file.open(QIODevice::WriteOnly) && file.write(out) == out.size())
        file.commit();
    return fresh;
}
