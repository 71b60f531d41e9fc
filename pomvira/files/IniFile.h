// SPDX-License-Identifier: GPL-3.0-or-later
// The camera program's ini file: private-profile style reading and writing
// of "key=value" lines grouped in "[section]"s.
//
// Sections and keys are found without regard to case; the first matching
// section and, in it, the first matching key count. Keys and values are
// read with surrounding blanks removed and, when a value is enclosed in
// double quotes, without them; at most 2047 characters of a value are read.
// Every read reads the file anew (one that is not a regular file, such as a
// FIFO, reads as missing and is never waited on); every write reads it,
// changes one line
// (an existing key is replaced in place, a missing key is appended at the
// end of its section, a missing section at the end of the file), keeps all
// other lines byte for byte and replaces the file atomically. The text is
// UTF-8; bytes that are not (a folder name in another encoding) are kept
// byte for byte, as DecodeFileName carries them, and written back as they
// were.
#pragma once

#include <QString>
#include <cstdint>
#include <stdexcept>

class EIniFileError : public std::runtime_error {
  public:
    using runtime_error::runtime_error;
};

class TIniFile {
  public:
    // A bare name (no "/") lives in $XDG_CONFIG_HOME (default ~/.config).
    explicit TIniFile(const QString& fileName);

    // The resolved path of the file.
    QString FileName() const;

    QString ReadString(const QString& section, const QString& key, const QString& def) const;
    // Hexadecimal after "0x"/"0X" (text longer than 2 characters) or "$",
    // decimal otherwise; text that is not a 32-bit integer gives `def`.
    int32_t ReadInteger(const QString& section, const QString& key, int32_t def) const;
    // The integer rule with default 1 or 0; any non-zero integer is true.
    bool ReadBool(const QString& section, const QString& key, bool def) const;

    // Throws EIniFileError("Unable to write to <path>") when the file cannot
    // be written, or is there but is not a regular file. A value that
    // contains a line break cannot be stored as one line: the key is removed
    // instead, so that reading it gives the reader's default. A value with
    // surrounding blanks, or one that is itself enclosed in double quotes, is
    // written in double quotes so that it reads back unchanged.
    void WriteString(const QString& section, const QString& key, const QString& value);
    void WriteInteger(const QString& section, const QString& key, int32_t value);
    // Writes "1" for true, "0" for false.
    void WriteBool(const QString& section, const QString& key, bool value);

    // The longest value text that reading gives back.
    static constexpr int kMaxValueLength = 2047;

    // The integer rule on one value text.
    static bool ParseInteger(const QString& text, int32_t& value);

  private:
    QString FFileName;
};
