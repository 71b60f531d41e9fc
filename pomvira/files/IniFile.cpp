// SPDX-License-Identifier: GPL-3.0-or-later
#include "IniFile.h"

#include "TextConv.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QSaveFile>
#include <QVector>
#include <cerrno>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include "PathUtils.h"

namespace {

// One line of the file: its text and its own line terminator ("\n",
// "\r\n", or empty for a last line without one), kept byte for byte.
struct TLine {
    QByteArray text;
    QByteArray eol;
};

enum class TLineKind { Other, Section, Key };

struct TParsedLine {
    TLineKind kind = TLineKind::Other;
    QString name;   // section or key name, blanks removed
    QString value;  // raw value text of a key line
};

bool IsBlank(QChar c) {
    return c == QLatin1Char(' ') || c == QLatin1Char('\t');
}

QString TrimBlanks(const QString& text) {
    int begin = 0;
    int end = text.size();
    while (begin < end && IsBlank(text[begin])) {
        ++begin;
    }
    while (end > begin && IsBlank(text[end - 1])) {
        --end;
    }
    return text.mid(begin, end - begin);
}

bool HasLineBreak(const QString& text) {
    return text.contains(QLatin1Char('\n')) || text.contains(QLatin1Char('\r'));
}

QVector<TLine> SplitLines(const QByteArray& data) {
    QVector<TLine> lines;
    qsizetype pos = 0;
    while (pos < data.size()) {
        const qsizetype nl = data.indexOf('\n', pos);
        TLine line;
        if (nl < 0) {
            line.text = data.mid(pos);
            pos = data.size();
        } else {
            line.text = data.mid(pos, nl - pos);
            line.eol = "\n";
            pos = nl + 1;
        }
        if (line.text.endsWith('\r')) {
            line.text.chop(1);
            line.eol.prepend('\r');
        }
        lines.push_back(line);
    }
    return lines;
}

TParsedLine ParseLine(const TLine& line, bool first) {
    QByteArray bytes = line.text;
    if (first && bytes.startsWith("\xEF\xBB\xBF")) {
        bytes.remove(0, 3);  // a UTF-8 byte order mark is not part of the text
    }
    const QString text = TrimBlanks(DecodeFileName(bytes));
    TParsedLine parsed;
    if (text.startsWith(QLatin1Char('['))) {
        qsizetype close = text.indexOf(QLatin1Char(']'));
        if (close < 0) {
            close = text.size();
        }
        parsed.kind = TLineKind::Section;
        parsed.name = TrimBlanks(text.mid(1, close - 1));
        return parsed;
    }
    if (text.startsWith(QLatin1Char(';'))) {
        return parsed;  // comment
    }
    const qsizetype eq = text.indexOf(QLatin1Char('='));
    if (eq < 0) {
        return parsed;
    }
    parsed.kind = TLineKind::Key;
    parsed.name = TrimBlanks(text.left(eq));
    parsed.value = text.mid(eq + 1);
    return parsed;
}

bool SameName(const QString& a, const QString& b) {
    return a.compare(b, Qt::CaseInsensitive) == 0;
}

// Where a key lives in the lines: the first section of that name and, in it,
// the first key of that name. Indexes are -1 when absent.
struct TLocation {
    int section = -1;     // the section's header line
    int sectionEnd = -1;  // one past the section's last line
    int key = -1;         // the key's line
};

TLocation Locate(const QVector<TLine>& lines, const QString& section, const QString& key) {
    TLocation loc;
    const QString wantedSection = TrimBlanks(section);
    const QString wantedKey = TrimBlanks(key);
    for (int i = 0; i < lines.size(); ++i) {
        const TParsedLine parsed = ParseLine(lines[i], i == 0);
        if (parsed.kind == TLineKind::Section) {
            if (loc.section >= 0) {
                loc.sectionEnd = i;
                return loc;
            }
            if (SameName(parsed.name, wantedSection)) {
                loc.section = i;
            }
        } else if (parsed.kind == TLineKind::Key && loc.section >= 0 && loc.key < 0 &&
                   SameName(parsed.name, wantedKey)) {
            loc.key = i;
        }
    }
    if (loc.section >= 0) {
        loc.sectionEnd = lines.size();
    }
    return loc;
}

// The value as read: blanks removed, then enclosing double quotes, then cut
// to the longest text a read gives back.
QString CleanValue(const QString& raw) {
    QString value = TrimBlanks(raw);
    if (value.size() >= 2 && value.startsWith(QLatin1Char('"')) &&
        value.endsWith(QLatin1Char('"'))) {
        value = value.mid(1, value.size() - 2);
    }
    if (value.size() > TIniFile::kMaxValueLength) {
        qsizetype n = TIniFile::kMaxValueLength;
        if (value[n - 1].isHighSurrogate()) {
            --n;  // never split a character
        }
        value.truncate(n);
    }
    return value;
}

// The value as written, so that CleanValue gives it back.
QString QuotedIfNeeded(const QString& value) {
    const bool blanks = !value.isEmpty() && (IsBlank(value.front()) || IsBlank(value.back()));
    const bool quoted =
        value.size() >= 2 && value.startsWith(QLatin1Char('"')) && value.endsWith(QLatin1Char('"'));
    return blanks || quoted ? QLatin1Char('"') + value + QLatin1Char('"') : value;
}

bool IsBlankLine(const TLine& line) {
    return TrimBlanks(QString::fromUtf8(line.text)).isEmpty();
}

QString ResolveFileName(const QString& fileName) {
    if (fileName.contains(QLatin1Char('/'))) {
        return fileName;
    }
    QString configHome = QFile::decodeName(qgetenv("XDG_CONFIG_HOME"));
    if (configHome.isEmpty() || !QDir::isAbsolutePath(configHome)) {
        configHome = QDir::homePath() + QStringLiteral("/.config");
    }
    if (!configHome.endsWith(QLatin1Char('/'))) {
        configHome += QLatin1Char('/');
    }
    return configHome + fileName;
}

enum class TFileState { Read, Missing, Unusable };

// Reads the whole file without ever blocking on it: a FIFO, a device or a
// folder in its place is no settings file (opening a FIFO to read would wait
// for a writer forever), and neither is a file that cannot be read.
TFileState ReadWholeFile(const QString& path, QByteArray& data) {
    const int fd =
        ::open(QFile::encodeName(path).constData(), O_RDONLY | O_NONBLOCK | O_CLOEXEC | O_NOCTTY);
    if (fd < 0) {
        return errno == ENOENT || errno == ENOTDIR ? TFileState::Missing : TFileState::Unusable;
    }
    struct stat info {};
    bool ok = ::fstat(fd, &info) == 0 && S_ISREG(info.st_mode);
    data.clear();
    char chunk[65536];
    while (ok) {
        const ssize_t got = ::read(fd, chunk, sizeof chunk);
        if (got < 0 && errno == EINTR) {
            continue;
        }
        if (got <= 0) {
            ok = got == 0;
            break;
        }
        data.append(chunk, got);
    }
    ::close(fd);
    return ok ? TFileState::Read : TFileState::Unusable;
}

bool ParseHex(const QString& digits, int32_t& value) {
    if (digits.isEmpty()) {
        return false;
    }
    uint64_t acc = 0;
    for (const QChar c : digits) {
        const char16_t u = c.unicode();
        int d;
        if (u >= '0' && u <= '9') {
            d = u - '0';
        } else if (u >= 'a' && u <= 'f') {
            d = u - 'a' + 10;
        } else if (u >= 'A' && u <= 'F') {
            d = u - 'A' + 10;
        } else {
            return false;
        }
        acc = acc * 16 + static_cast<uint64_t>(d);
        if (acc > 0xFFFFFFFFu) {
            return false;
        }
    }
    // Eight hex digits cover the whole 32-bit pattern: $FFFFFFFF is -1.
    value = static_cast<int32_t>(static_cast<uint32_t>(acc));
    return true;
}

bool ParseDecimal(const QString& text, int32_t& value) {
    qsizetype i = 0;
    bool negative = false;
    if (i < text.size() && (text[i] == QLatin1Char('-') || text[i] == QLatin1Char('+'))) {
        negative = text[i] == QLatin1Char('-');
        ++i;
    }
    if (i >= text.size()) {
        return false;
    }
    const int64_t limit = negative ? int64_t(INT32_MAX) + 1 : int64_t(INT32_MAX);
    int64_t acc = 0;
    for (; i < text.size(); ++i) {
        const char16_t u = text[i].unicode();
        if (u < '0' || u > '9') {
            return false;
        }
        acc = acc * 10 + (u - '0');
        if (acc > limit) {
            return false;
        }
    }
    value = static_cast<int32_t>(negative ? -acc : acc);
    return true;
}

}  // namespace

TIniFile::TIniFile(const QString& fileName) : FFileName(ResolveFileName(fileName)) {}

QString TIniFile::FileName() const {
    return FFileName;
}

QString TIniFile::ReadString(const QString& section, const QString& key, const QString& def) const {
    QByteArray data;
    if (ReadWholeFile(FFileName, data) != TFileState::Read) {
        return def;
    }
    const QVector<TLine> lines = SplitLines(data);
    const TLocation loc = Locate(lines, section, key);
    if (loc.key < 0) {
        return def;
    }
    return CleanValue(ParseLine(lines[loc.key], loc.key == 0).value);
}

bool TIniFile::ParseInteger(const QString& text, int32_t& value) {
    if (text.size() > 2 && text[0] == QLatin1Char('0') &&
        (text[1] == QLatin1Char('x') || text[1] == QLatin1Char('X'))) {
        return ParseHex(text.mid(2), value);
    }
    if (text.startsWith(QLatin1Char('$'))) {
        return ParseHex(text.mid(1), value);
    }
    return ParseDecimal(text, value);
}

int32_t TIniFile::ReadInteger(const QString& section, const QString& key, int32_t def) const {
    int32_t value = 0;
    return ParseInteger(ReadString(section, key, QString()), value) ? value : def;
}

bool TIniFile::ReadBool(const QString& section, const QString& key, bool def) const {
    return ReadInteger(section, key, def ? 1 : 0) != 0;
}

void TIniFile::WriteString(const QString& section, const QString& key, const QString& value) {
    const std::string failure =
        UiText("Messages", "Impossible d'écrire dans %1").arg(FFileName).toStdString();

    // Names that a line cannot hold are refused: they would read back as
    // some other section or key.
    const QString sectionName = TrimBlanks(section);
    const QString keyName = TrimBlanks(key);
    if (sectionName.isEmpty() || keyName.isEmpty() || HasLineBreak(section) || HasLineBreak(key) ||
        sectionName.contains(QLatin1Char(']')) || keyName.contains(QLatin1Char('=')) ||
        keyName.startsWith(QLatin1Char('[')) || keyName.startsWith(QLatin1Char(';'))) {
        throw EIniFileError(failure);
    }

    // A file that is there but cannot be read must not be replaced by one
    // holding only this key, nor something that is no regular file (a FIFO)
    // by a file.
    QByteArray data;
    if (ReadWholeFile(FFileName, data) == TFileState::Unusable) {
        throw EIniFileError(failure);
    }
    QVector<TLine> lines = SplitLines(data);
    const TLocation loc = Locate(lines, sectionName, keyName);

    if (HasLineBreak(value)) {
        // The text after a line break would become lines of their own (other
        // keys, other sections). Such a value is not stored: the key is
        // removed so that reading it gives the reader's default.
        if (loc.key < 0) {
            return;
        }
        lines.remove(loc.key);
    } else {
        const QByteArray entry =
            EncodeFileName(keyName + QLatin1Char('=') + QuotedIfNeeded(value));
        if (loc.key >= 0) {
            lines[loc.key].text = entry;
        } else if (loc.section >= 0) {
            int last = loc.sectionEnd - 1;
            while (last > loc.section && IsBlankLine(lines[last])) {
                --last;
            }
            if (lines[last].eol.isEmpty()) {
                lines[last].eol = "\n";
            }
            lines.insert(last + 1, TLine{entry, "\n"});
        } else {
            if (!lines.isEmpty() && lines.back().eol.isEmpty()) {
                lines.back().eol = "\n";
            }
            lines.push_back(
                TLine{(QLatin1Char('[') + sectionName + QLatin1Char(']')).toUtf8(), "\n"});
            lines.push_back(TLine{entry, "\n"});
        }
    }

    QByteArray out;
    out.reserve(data.size() + 64);
    for (const TLine& line : lines) {
        out += line.text;
        out += line.eol;
    }

    // Written to a temporary file in the same folder and renamed over the
    // old one, so that a crash never leaves a half-written file.
    const QString folder = QFileInfo(FFileName).absolutePath();
    if (!QDir().mkpath(folder)) {
        throw EIniFileError(failure);
    }
    QSaveFile file(FFileName);
    if (!file.open(QIODevice::WriteOnly) || file.write(out) != out.size() || !file.commit()) {
        throw EIniFileError(failure);
    }
}

void TIniFile::WriteInteger(const QString& section, const QString& key, int32_t value) {
    WriteString(section, key, QString::number(value));
}

void TIniFile::WriteBool(const QString& section, const QString& key, bool value) {
    WriteString(section, key, value ? QStringLiteral("1") : QStringLiteral("0"));
}
