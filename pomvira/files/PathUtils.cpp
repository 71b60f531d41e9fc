// SPDX-License-Identifier: GPL-3.0-or-later
#include "PathUtils.h"

#include "TextSearch.h"

#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QProcess>
#include <QRegularExpression>
#include <QStandardPaths>
#include <string>
#include <sys/stat.h>
#include <unistd.h>

namespace {

QString WithTrailingSlash(const QString& folder) {
    return folder.endsWith(QLatin1Char('/')) ? folder : folder + QLatin1Char('/');
}

// Runs `xdg-user-dir KIND`; empty when it is missing, fails, or only names
// the home folder (its answer for a kind the user has not configured).
QString XdgUserDir(const QString& kind) {
    // The tool evaluates its argument in a shell: only plain kind names pass.
    static const QRegularExpression kKindName(QStringLiteral("^[A-Z]+$"));
    if (!kKindName.match(kind).hasMatch()) {
        return QString();
    }
    QProcess process;
    process.start(QStringLiteral("xdg-user-dir"), {kind}, QIODevice::ReadOnly);
    if (!process.waitForStarted(5000)) {
        return QString();
    }
    process.closeWriteChannel();
    if (!process.waitForFinished(5000)) {
        process.kill();
        process.waitForFinished(1000);
        return QString();
    }
    if (process.exitStatus() != QProcess::NormalExit || process.exitCode() != 0) {
        return QString();
    }
    const QString dir = QString::fromLocal8Bit(process.readAllStandardOutput()).trimmed();
    if (dir.isEmpty() || !QDir::isAbsolutePath(dir) ||
        QDir::cleanPath(dir) == QDir::cleanPath(QDir::homePath())) {
        return QString();
    }
    return dir;
}

}  // namespace

QString NumberedFileName(const QString& folder, const QString& prefix, const QString& extension,
                         const std::function<bool(const QString& path)>& taken) {
    for (qint64 n = 1;; ++n) {
        const QString path =
            JoinPath(folder, prefix + QStringLiteral("%1").arg(n, 6, 10, QLatin1Char('0')) +
                                 QLatin1Char('.') + extension);
        if (!taken(path))
            return path;
    }
}

bool PathTaken(const QString& path) {
    struct stat st;
    return ::lstat(EncodeFileName(path).constData(), &st) == 0;
}

QString JoinPath(const QString& folder, const QString& name) {
    // UTF-8 never uses the byte of "/" inside a multi-byte character, so the
    // byte-wise search is safe on any path.
    std::string text = EncodeFileName(folder + QLatin1Char('/') + name).toStdString();
    const bool network = text.size() > 2 && text[0] == '/' && text[1] == '/';
    while (TextPos("//", text, true, true, 1) > 0) {
        text = TextReplace(text, "//", "/", true);
    }
    if (network) {
        text.insert(0, 1, '/');
    }
    return DecodeFileName(QByteArray::fromStdString(text));
}

TProgramFolder::TProgramFolder() {
    QString dir;
    if (QCoreApplication::instance() != nullptr) {
        dir = QCoreApplication::applicationDirPath();
    }
    if (dir.isEmpty()) {
        dir = QFileInfo(QStringLiteral("/proc/self/exe")).canonicalFilePath();
        dir = QFileInfo(dir).absolutePath();
    }
    FPath = WithTrailingSlash(dir);
}

TProgramFolder::TProgramFolder(const QString& folder) : FPath(WithTrailingSlash(folder)) {}

bool CanEnterFolder(const QString& folder) {
    if (folder.isEmpty()) {
        return false;
    }
    const QByteArray name = EncodeFileName(folder);
    struct stat st;
    if (::stat(name.constData(), &st) != 0 || !S_ISDIR(st.st_mode)) {
        return false;
    }
    return ::access(name.constData(), X_OK) == 0;
}

QString UserFolder(const QString& xdgUserDirKind) {
    QString dir = XdgUserDir(xdgUserDirKind);
    if (!dir.isEmpty()) {
        return dir;
    }
    const bool pictures = xdgUserDirKind == QLatin1String("PICTURES");
    dir = QStandardPaths::writableLocation(pictures ? QStandardPaths::PicturesLocation
                                                    : QStandardPaths::MoviesLocation);
    if (!dir.isEmpty()) {
        return dir;
    }
    return JoinPath(QDir::homePath(),
                    pictures ? QStringLiteral("Pictures") : QStringLiteral("Videos"));
}

const char* const kInstalledDesktopEntry = POMVIRA_INSTALLED_DESKTOP_ENTRY;

bool TProgramFolder::IsInstalled() const {
    return QFileInfo(JoinPath(FPath, QString::fromLatin1(kInstalledDesktopEntry))).isFile();
}

QString TProgramFolder::DefaultFolder(const QString& name, const QString& xdgUserDirKind) const {
    const QString& program = FPath;
    const QByteArray encoded = QFile::encodeName(program);
    if (!IsInstalled() && QFileInfo(program).isDir() &&
        ::access(encoded.constData(), W_OK | X_OK) == 0) {
        return JoinPath(program, QLatin1Char('/') + name);
    }
    return UserFolder(xdgUserDirKind);
}
