// SPDX-License-Identifier: GPL-3.0-or-later
#include "RegistryFile.h"

#include <cerrno>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace {

// Longest key name the registry allows.
constexpr std::size_t kMaxKeyNameLength = 255;

bool IsBlank(char c) {
    return c == ' ' || c == '\t' || c == '\r';
}

std::string Trim(const std::string& text) {
    std::size_t begin = 0;
    std::size_t end = text.size();
    while (begin < end && IsBlank(text[begin])) {
        ++begin;
    }
    while (end > begin && IsBlank(text[end - 1])) {
        --end;
    }
    return text.substr(begin, end - begin);
}

int HexDigit(char c) {
    if (c >= '0' && c <= '9') {
        return c - '0';
    }
    if (c >= 'a' && c <= 'f') {
        return c - 'a' + 10;
    }
    if (c >= 'A' && c <= 'F') {
        return c - 'A' + 10;
    }
    return -1;
}

// Appends a code point as UTF-8.
void AppendUtf8(std::string* out, unsigned codePoint) {
    if (codePoint < 0x80) {
        out->push_back(static_cast<char>(codePoint));
    } else if (codePoint < 0x800) {
        out->push_back(static_cast<char>(0xC0 | (codePoint >> 6)));
        out->push_back(static_cast<char>(0x80 | (codePoint & 0x3F)));
    } else if (codePoint < 0x10000) {
        out->push_back(static_cast<char>(0xE0 | (codePoint >> 12)));
        out->push_back(static_cast<char>(0x80 | ((codePoint >> 6) & 0x3F)));
        out->push_back(static_cast<char>(0x80 | (codePoint & 0x3F)));
    } else {
        out->push_back(static_cast<char>(0xF0 | (codePoint >> 18)));
        out->push_back(static_cast<char>(0x80 | ((codePoint >> 12) & 0x3F)));
        out->push_back(static_cast<char>(0x80 | ((codePoint >> 6) & 0x3F)));
        out->push_back(static_cast<char>(0x80 | (codePoint & 0x3F)));
    }
}

// UTF-16LE (after its byte order mark) to UTF-8; broken surrogates become U+FFFD and an odd
// last byte is dropped.
std::string Utf16LeToUtf8(const std::string& bytes, std::size_t offset) {
    std::string out;
    out.reserve(bytes.size() / 2);
    auto unitAt = [&bytes](std::size_t pos) {
        return static_cast<unsigned>(static_cast<unsigned char>(bytes[pos])) |
               (static_cast<unsigned>(static_cast<unsigned char>(bytes[pos + 1])) << 8);
    };
    std::size_t pos = offset;
    while (pos + 1 < bytes.size()) {
        unsigned unit = unitAt(pos);
        pos += 2;
        if (unit >= 0xD800 && unit <= 0xDBFF) {
            if (pos + 1 < bytes.size()) {
                const unsigned low = unitAt(pos);
                if (low >= 0xDC00 && low <= 0xDFFF) {
                    pos += 2;
                    AppendUtf8(&out, 0x10000 + ((unit - 0xD800) << 10) + (low - 0xDC00));
                    continue;
                }
            }
            unit = 0xFFFD;
        } else if (unit >= 0xDC00 && unit <= 0xDFFF) {
            unit = 0xFFFD;
        }
        AppendUtf8(&out, unit);
    }
    return out;
}

// Reads a quoted text starting at text[*pos] == '"', undoing the \\ and \" escapes. On
// success *pos is just past the closing quote.
bool ParseQuoted(const std::string& text, std::size_t* pos, std::string* result) {
    if (*pos >= text.size() || text[*pos] != '"') {
        return false;
    }
    result->clear();
    for (std::size_t i = *pos + 1; i < text.size(); ++i) {
        const char c = text[i];
        if (c == '"') {
            *pos = i + 1;
            return true;
        }
        if (c == '\\' && i + 1 < text.size() && (text[i + 1] == '\\' || text[i + 1] == '"')) {
            ++i;
            result->push_back(text[i]);
        } else {
            result->push_back(c);
        }
    }
    return false;
}

// "12,34,ab" (possibly empty) into bytes.
bool ParseByteList(const std::string& text, std::vector<unsigned char>* bytes) {
    bytes->clear();
    const std::string list = Trim(text);
    if (list.empty()) {
        return true;
    }
    std::size_t pos = 0;
    while (true) {
        std::size_t comma = list.find(',', pos);
        const std::string token =
            Trim(list.substr(pos, comma == std::string::npos ? std::string::npos : comma - pos));
        if (token.empty() || token.size() > 2) {
            return false;
        }
        int value = 0;
        for (char c : token) {
            const int digit = HexDigit(c);
            if (digit < 0) {
                return false;
            }
            value = value * 16 + digit;
        }
        bytes->push_back(static_cast<unsigned char>(value));
        if (comma == std::string::npos) {
            return true;
        }
        pos = comma + 1;
    }
}

// "dword:1a2b3c4d" (1 to 8 digits) into its 4 bytes, little-endian as the registry keeps it.
bool ParseDword(const std::string& digits, std::vector<unsigned char>* bytes) {
    if (digits.empty() || digits.size() > 8) {
        return false;
    }
    unsigned long value = 0;
    for (char c : digits) {
        const int digit = HexDigit(c);
        if (digit < 0) {
            return false;
        }
        value = value * 16 + static_cast<unsigned long>(digit);
    }
    bytes->assign({static_cast<unsigned char>(value & 0xFF),
                   static_cast<unsigned char>((value >> 8) & 0xFF),
                   static_cast<unsigned char>((value >> 16) & 0xFF),
                   static_cast<unsigned char>((value >> 24) & 0xFF)});
    return true;
}

bool StartsWithIgnoringCase(const std::string& text, const std::string& upperPrefix) {
    return text.size() >= upperPrefix.size() &&
           RegistryUpper(text.substr(0, upperPrefix.size())) == upperPrefix;
}

// Splits "A\B\C" into its parts; false when a part is empty (except trailing backslashes) or
// longer than the registry allows.
bool SplitKeyPath(const std::string& path, std::vector<std::string>* parts) {
    parts->clear();
    std::string trimmed = path;
    while (!trimmed.empty() && trimmed.back() == '\\') {
        trimmed.pop_back();
    }
    if (trimmed.empty()) {
        return false;
    }
    std::size_t pos = 0;
    while (true) {
        const std::size_t slash = trimmed.find('\\', pos);
        std::string part =
            trimmed.substr(pos, slash == std::string::npos ? std::string::npos : slash - pos);
        if (part.empty() || part.size() > kMaxKeyNameLength) {
            return false;
        }
        parts->push_back(std::move(part));
        if (slash == std::string::npos) {
            return true;
        }
        pos = slash + 1;
    }
}

}  // namespace

std::string RegistryUpper(const std::string& text) {
    std::string upper = text;
    for (char& c : upper) {
        if (c >= 'a' && c <= 'z') {
            c = static_cast<char>(c - 'a' + 'A');
        }
    }
    return upper;
}

const CRegistryFile::Key* CRegistryFile::Key::FindSubKey(const std::string& name) const {
    const auto found = subKeyIndex.find(RegistryUpper(name));
    return found == subKeyIndex.end() ? nullptr : subKeys[found->second].get();
}

const std::vector<unsigned char>* CRegistryFile::Key::FindValue(const std::string& name) const {
    const auto found = values.find(RegistryUpper(name));
    return found == values.end() ? nullptr : &found->second;
}

std::shared_ptr<const CRegistryFile> CRegistryFile::Parse(const std::string& contents) {
    std::string text;
    if (contents.size() >= 2 && static_cast<unsigned char>(contents[0]) == 0xFF &&
        static_cast<unsigned char>(contents[1]) == 0xFE) {
        text = Utf16LeToUtf8(contents, 2);
    } else if (contents.compare(0, 3, "\xEF\xBB\xBF") == 0) {
        text = contents.substr(3);
    } else {
        text = contents;
    }

    std::vector<std::string> lines;
    std::size_t pos = 0;
    while (pos <= text.size()) {
        std::size_t end = text.find('\n', pos);
        if (end == std::string::npos) {
            end = text.size();
        }
        lines.push_back(Trim(text.substr(pos, end - pos)));
        pos = end + 1;
    }

    std::size_t line = 0;
    while (line < lines.size() && lines[line].empty()) {
        ++line;
    }
    if (line == lines.size() ||
        (lines[line] != "Windows Registry Editor Version 5.00" && lines[line] != "REGEDIT4")) {
        return nullptr;
    }
    ++line;

    auto file = std::make_shared<CRegistryFile>();
    Key* current = nullptr;  // key the value lines belong to; null after a bad key line
    for (; line < lines.size(); ++line) {
        const std::string& entry = lines[line];
        if (entry.empty() || entry[0] == ';') {
            continue;
        }
        if (entry[0] == '[') {
            current = nullptr;
            std::vector<std::string> parts;
            // "[-KEY]" deletes a key when imported; it defines nothing.
            if (entry.size() < 3 || entry.back() != ']' || entry[1] == '-' ||
                !SplitKeyPath(entry.substr(1, entry.size() - 2), &parts)) {
                continue;
            }
            // Deeper than the registry nests keys: not a registry export at all. Refusing it
            // also keeps the key tree shallow enough to be freed without exhausting the stack.
            if (parts.size() > kMaxKeyDepth) {
                return nullptr;
            }
            Key* key = &file->m_root;
            for (const std::string& part : parts) {
                const std::string upper = RegistryUpper(part);
                const auto found = key->subKeyIndex.find(upper);
                if (found != key->subKeyIndex.end()) {
                    key = key->subKeys[found->second].get();
                } else {
                    key->subKeyIndex.emplace(upper, key->subKeys.size());
                    key->subKeys.push_back(std::make_unique<Key>());
                    key->subKeys.back()->name = part;
                    key = key->subKeys.back().get();
                }
            }
            current = key;
            continue;
        }

        if (current == nullptr) {
            continue;
        }
        std::string name;
        std::size_t at = 0;
        if (entry[0] == '@') {
            at = 1;
        } else if (!ParseQuoted(entry, &at, &name)) {
            continue;
        }
        while (at < entry.size() && IsBlank(entry[at])) {
            ++at;
        }
        if (at >= entry.size() || entry[at] != '=') {
            continue;
        }
        std::string data = Trim(entry.substr(at + 1));
        // Long hex data continues on the next lines after a trailing backslash.
        if (StartsWithIgnoringCase(data, "HEX")) {
            while (!data.empty() && data.back() == '\\' && line + 1 < lines.size()) {
                data.pop_back();
                data += lines[++line];
            }
        }
        const std::string upperName = RegistryUpper(name);
        std::vector<unsigned char> bytes;
        if (data == "-") {
            current->values.erase(upperName);
            continue;
        }
        if (!data.empty() && data[0] == '"') {
            std::size_t end = 0;
            std::string value;
            if (!ParseQuoted(data, &end, &value) || end != data.size()) {
                continue;
            }
            bytes.assign(value.begin(), value.end());
            bytes.push_back(0);  // string data is kept with its terminating zero
        } else if (StartsWithIgnoringCase(data, "DWORD:")) {
            if (!ParseDword(data.substr(6), &bytes)) {
                continue;
            }
        } else if (StartsWithIgnoringCase(data, "HEX")) {
            std::size_t colon = 3;
            if (colon < data.size() && data[colon] == '(') {
                const std::size_t close = data.find(')', colon);
                if (close == std::string::npos || close == colon + 1 || close > colon + 9) {
                    continue;
                }
                bool digits = true;
                for (std::size_t i = colon + 1; i < close; ++i) {
                    digits = digits && HexDigit(data[i]) >= 0;
                }
                if (!digits) {
                    continue;
                }
                colon = close + 1;
            }
            if (colon >= data.size() || data[colon] != ':' ||
                !ParseByteList(data.substr(colon + 1), &bytes)) {
                continue;
            }
        } else {
            continue;
        }
        current->values[upperName] = std::move(bytes);
    }
    return file;
}

std::shared_ptr<const CRegistryFile> CRegistryFile::LoadWithFullAccess(const std::string& path) {
    if (path.empty()) {
        return nullptr;
    }
    // Non-blocking, so that a FIFO in the file's place cannot stall the program.
    const int fd = open(path.c_str(), O_RDWR | O_CLOEXEC | O_NOCTTY | O_NONBLOCK);
    if (fd < 0) {
        return nullptr;
    }
    struct stat info {};
    std::string contents;
    bool ok = fstat(fd, &info) == 0 && S_ISREG(info.st_mode);
    while (ok) {
        char chunk[65536];
        const ssize_t got = read(fd, chunk, sizeof chunk);
        if (got < 0 && errno == EINTR) {
            continue;
        }
        if (got < 0) {
            ok = false;
        } else if (got == 0) {
            break;
        } else {
            contents.append(chunk, static_cast<std::size_t>(got));
            ok = contents.size() <= kMaxFileSize;
        }
    }
    close(fd);
    return ok ? Parse(contents) : nullptr;
}

const CRegistryFile::Key* CRegistryFile::FindKey(const std::string& path) const {
    const Key* key = &m_root;
    std::size_t pos = 0;
    while (key != nullptr && pos <= path.size()) {
        std::size_t slash = path.find('\\', pos);
        if (slash == std::string::npos) {
            slash = path.size();
        }
        if (slash > pos) {
            key = key->FindSubKey(path.substr(pos, slash - pos));
        }
        pos = slash + 1;
    }
    return key == &m_root ? nullptr : key;
}
