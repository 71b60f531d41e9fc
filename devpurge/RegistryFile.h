// SPDX-License-Identifier: GPL-3.0-or-later
// The registry as kept in a registry export file ("Windows Registry Editor Version 5.00" or
// "REGEDIT4"): the key tree with each key's values as raw bytes.
#pragma once

#include <cstddef>
#include <memory>
#include <string>
#include <unordered_map>
#include <vector>

class CRegistryFile {
  public:
    // Largest file that is read; a larger one is not taken as a registry.
    static constexpr std::size_t kMaxFileSize = 1024 * 1024;
    // Deepest nesting of keys, the root keys counting as the first level.
    static constexpr std::size_t kMaxKeyDepth = 512;

    struct Key {
        std::string name;
        std::vector<std::unique_ptr<Key>> subKeys;                 // in order of appearance
        std::unordered_map<std::string, std::size_t> subKeyIndex;  // upper-case name -> position
        std::unordered_map<std::string, std::vector<unsigned char>> values;  // upper-case name

        const Key* FindSubKey(const std::string& name) const;
        const std::vector<unsigned char>* FindValue(const std::string& name) const;
    };

    // Parses the contents of an export file (UTF-8, or UTF-16LE with its byte order mark).
    // Null when the text does not begin with an export header or nests a key deeper than
    // kMaxKeyDepth. Other lines that cannot be understood are skipped.
    static std::shared_ptr<const CRegistryFile> Parse(const std::string& contents);

    // Opens the file for reading and writing (the registry's full access) and parses it.
    // Null when it cannot be opened so, is not a regular file, is larger than kMaxFileSize or
    // cannot be parsed.
    static std::shared_ptr<const CRegistryFile> LoadWithFullAccess(const std::string& path);

    // The key at a path such as "HKEY_LOCAL_MACHINE\SYSTEM\Setup", found without regard to
    // case; empty path parts (a trailing backslash) are ignored. Null when missing.
    const Key* FindKey(const std::string& path) const;

  private:
    Key m_root;  // holds the root keys (HKEY_LOCAL_MACHINE, ...)
};

// ASCII upper case, independent of the current locale (registry names ignore case).
std::string RegistryUpper(const std::string& text);
