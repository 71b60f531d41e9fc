// SPDX-License-Identifier: GPL-3.0-or-later
#include "NamedRecordings.h"

#include <QDir>
#include <QFileInfo>
#include <QRandomGenerator>
#include <cerrno>
#include <fcntl.h>
#include <set>
#include <sys/stat.h>
#include <unistd.h>

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

// The list's lines; none when it is missing, no regular file, a link, or
// larger than any list.
std::set<QByteArray> ReadList(const QByteArray& name) {
    std::set<QByteArray> lines;
    // Never opens (nor waits on) something that is no regular file.
    struct stat named {};
    if (::lstat(name.constData(), &named) != 0 || !S_ISREG(named.st_mode))
        return lines;
    const int fd =
        ::open(name.constData(), O_RDONLY | O_NOFOLLOW | O_NONBLOCK | O_NOCTTY | O_CLOEXEC);
    if (fd < 0)
        return lines;
    struct stat st {};
    QByteArray text;
    if (::fstat(fd, &st) == 0 && S_ISREG(st.st_mode) &&
        st.st_size <= TNamedRecordings::kLargestList) {
        text.resize(qsizetype(TNamedRecordings::kLargestList) + 1);
        qsizetype got = 0;
        while (got < text.size()) {
            const ssize_t n = ::read(fd, text.data() + got, size_t(text.size() - got));
            if (n < 0 && errno == EINTR)
                continue;
            if (n <= 0)
                break;
            got += n;
        }
        // Grown past the bound since it was looked at: not the list either.
        text.truncate(got > TNamedRecordings::kLargestList ? 0 : got);
    }
    ::close(fd);
    for (const QByteArray& line : text.split('\n')) {
        if (!line.isEmpty())
            lines.insert(line);
    }
    return lines;
}

// Writes `bytes` to a new file beside `name` (created, never opened through
// a link) and renames it over `name`.
bool ReplaceFile(const QByteArray& name, const QByteArray& bytes) {
    QByteArray temporary;
    int fd = -1;
    for (int attempt = 0; attempt < 16 && fd < 0; ++attempt) {
        temporary = name + ".new-" + QByteArray::number(QRandomGenerator::global()->generate(), 36);
        fd = ::open(temporary.constData(),
                    O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_NOCTTY | O_CLOEXEC, 0600);
        if (fd < 0 && errno != EEXIST)
            return false;
    }
    if (fd < 0)
        return false;
    bool ok = true;
    for (qsizetype done = 0; ok && done < bytes.size();) {
        const ssize_t n = ::write(fd, bytes.constData() + done, size_t(bytes.size() - done));
        if (n < 0 && errno == EINTR)
            continue;
        ok = n > 0;
        done += ok ? n : 0;
    }
    ok = ::fsync(fd) == 0 && ok;
    ok = ::close(fd) == 0 && ok;
    ok = ok && ::rename(temporary.constData(), name.constData()) == 0;
    if (!ok)
        ::unlink(temporary.constData());
    return ok;
}

}  // namespace

TNamedRecordings::TNamedRecordings(const QString& fileName)
    : FFileName(TIniFile(fileName).FileName()) {}

QStringList TNamedRecordings::NotNamedBefore(const QStringList& paths) const {
    const std::set<QByteArray> known = ReadList(EncodeFileName(FFileName));
    QStringList fresh;
    for (const QString& path : paths) {
        const QByteArray key = Key(path);
        if (key.isEmpty() || known.count(key) == 0)
            fresh.append(path);
    }
    return fresh;
}

bool TNamedRecordings::Remember(const QStringList& paths) {
    const QByteArray name = EncodeFileName(FFileName);
    QByteArray out;
    for (const QString& path : paths) {
        const QByteArray key = Key(path);
        if (!key.isEmpty())
            out += key + '\n';
    }
    struct stat st {};
    if (out.isEmpty() && ::lstat(name.constData(), &st) != 0)
        return true;  // nothing to remember, nothing to forget
    QDir().mkpath(QFileInfo(FFileName).absolutePath());
    return ReplaceFile(name, out);
}
