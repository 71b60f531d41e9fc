// SPDX-License-Identifier: GPL-3.0-or-later
#include <gtest/gtest.h>

#include <QTemporaryDir>

#include <algorithm>
#include <cstdlib>
#include <random>
#include <string>
#include <sys/stat.h>
#include <unistd.h>
#include <vector>

#include "FakeTree.h"
#include "RegistryFile.h"

namespace {

using Bytes = std::vector<unsigned char>;

const char kSettings[] = "HKEY_LOCAL_MACHINE\\SYSTEM\\Tevrix\\LORVEX\\KTV2BAS\\DefaultSettings";

Bytes ValueOf(const CRegistryFile& file, const std::string& key, const std::string& name) {
    const CRegistryFile::Key* found = file.FindKey(key);
    if (found == nullptr) {
        return {0xEE, 0xEE, 0xEE, 0xEE, 0xEE};
    }
    const Bytes* value = found->FindValue(name);
    return value ? *value : Bytes{0xDD, 0xDD, 0xDD, 0xDD, 0xDD};
}

const Bytes kMissing{0xDD, 0xDD, 0xDD, 0xDD, 0xDD};

TEST(RegistryFile, ReadsValuesOfEveryKindWithoutRegardToCase) {
    const std::string text =
        "Windows Registry Editor Version 5.00\r\n"
        "\r\n"
        "; exported settings\r\n"
        "[HKEY_LOCAL_MACHINE\\SYSTEM\\Tevrix\\LORVEX\\KTV2BAS\\DefaultSettings\\Cam]\r\n"
        "\"VP00\"=dword:12345678\r\n"
        "\"vp01\"=dword:abcd\r\n"
        "\"VP02\"=hex:01,02,03,04,05,\\\r\n"
        "  06,07\r\n"
        "\"VP03\"=hex(b):0a,0b,0c,0d,00,00,00,00\r\n"
        "\"Name\"=\"a\\\\b\\\"c\"\r\n"
        "@=\"default\"\r\n"
        "\"Empty\"=hex:\r\n";
    auto file = CRegistryFile::Parse(text);
    ASSERT_TRUE(file);
    const std::string cam = std::string(kSettings) + "\\Cam";
    EXPECT_EQ(ValueOf(*file, cam, "VP00"), (Bytes{0x78, 0x56, 0x34, 0x12}));
    EXPECT_EQ(ValueOf(*file, cam, "VP01"), (Bytes{0xCD, 0xAB, 0x00, 0x00}));
    EXPECT_EQ(ValueOf(*file, cam, "vp02"), (Bytes{1, 2, 3, 4, 5, 6, 7}));
    EXPECT_EQ(ValueOf(*file, cam, "VP03"), (Bytes{10, 11, 12, 13, 0, 0, 0, 0}));
    EXPECT_EQ(ValueOf(*file, cam, "Name"), (Bytes{'a', '\\', 'b', '"', 'c', 0}));
    EXPECT_EQ(ValueOf(*file, cam, ""), (Bytes{'d', 'e', 'f', 'a', 'u', 'l', 't', 0}));
    EXPECT_EQ(ValueOf(*file, cam, "Empty"), Bytes{});
    EXPECT_NE(file->FindKey("hkey_local_machine\\system\\TEVRIX\\lorvex\\ktv2bas\\"
                            "defaultsettings\\CAM\\"),
              nullptr);
}

TEST(RegistryFile, ParentKeysExistAndListTheirSubKeysOnceInOrder) {
    auto file = CRegistryFile::Parse(
        "REGEDIT4\n"
        "[HKEY_LOCAL_MACHINE\\A\\Zeta\\Deep\\Deeper]\n"
        "[HKEY_LOCAL_MACHINE\\A\\alpha]\n"
        "[HKEY_LOCAL_MACHINE\\A\\ZETA]\n"
        "\"v\"=dword:1\n");
    ASSERT_TRUE(file);
    const CRegistryFile::Key* a = file->FindKey("HKEY_LOCAL_MACHINE\\A");
    ASSERT_NE(a, nullptr);
    ASSERT_EQ(a->subKeys.size(), 2u);
    EXPECT_EQ(a->subKeys[0]->name, "Zeta");
    EXPECT_EQ(a->subKeys[1]->name, "alpha");
    EXPECT_NE(a->subKeys[0]->FindValue("V"), nullptr);
    EXPECT_EQ(file->FindKey("HKEY_LOCAL_MACHINE\\B"), nullptr);
    EXPECT_EQ(file->FindKey(""), nullptr);
}

TEST(RegistryFile, ReadsUtf16ExportsWithByteOrderMark) {
    const std::string utf8 =
        "Windows Registry Editor Version 5.00\r\n\r\n[HKEY_LOCAL_MACHINE\\K\\Caf\xC3\xA9]\r\n"
        "\"VP00\"=dword:0000abcd\r\n";
    std::string utf16 = "\xFF\xFE";
    for (std::size_t i = 0; i < utf8.size(); ++i) {
        const unsigned char c = static_cast<unsigned char>(utf8[i]);
        if (c == 0xC3) {  // é
            utf16 += '\xE9';
            utf16 += '\0';
            ++i;
            continue;
        }
        utf16 += static_cast<char>(c);
        utf16 += '\0';
    }
    auto file = CRegistryFile::Parse(utf16);
    ASSERT_TRUE(file);
    EXPECT_EQ(ValueOf(*file, "HKEY_LOCAL_MACHINE\\K\\Caf\xC3\xA9", "VP00"),
              (Bytes{0xCD, 0xAB, 0, 0}));
}

TEST(RegistryFile, RejectsTextsWithoutExportHeader) {
    EXPECT_FALSE(CRegistryFile::Parse(""));
    EXPECT_FALSE(CRegistryFile::Parse("[HKEY_LOCAL_MACHINE\\A]\n\"VP00\"=dword:1\n"));
    EXPECT_FALSE(CRegistryFile::Parse("Windows Registry Editor Version 4.00\n"));
    EXPECT_FALSE(CRegistryFile::Parse(std::string("\0\0\0\0", 4)));
    EXPECT_TRUE(CRegistryFile::Parse("\n\n  REGEDIT4  \n"));
}

TEST(RegistryFile, SkipsMalformedLinesAndKeepsTheRest) {
    auto file = CRegistryFile::Parse(
        "Windows Registry Editor Version 5.00\n"
        "\"Orphan\"=dword:1\n"
        "[HKEY_LOCAL_MACHINE\\K]\n"
        "\"TooLong\"=dword:123456789\n"
        "\"NoDigits\"=dword:\n"
        "\"BadDigit\"=dword:12g4\n"
        "\"BadByte\"=hex:01,zz\n"
        "\"BigByte\"=hex:100\n"
        "\"EmptyByte\"=hex:01,,02\n"
        "\"BadType\"=hex(zz):01\n"
        "\"Unclosed=dword:1\n"
        "\"NoEquals\" dword:1\n"
        "\"Trailing\"=\"text\"junk\n"
        "\"Unknown\"=qword:1\n"
        "\"Good\"=dword:00000001\n"
        "\"Deleted\"=dword:2\n"
        "\"Deleted\"=-\n"
        "\"Replaced\"=dword:3\n"
        "\"Replaced\"=dword:4\n"
        "[HKEY_LOCAL_MACHINE\\Broken\n"
        "\"InBroken\"=dword:5\n"
        "[HKEY_LOCAL_MACHINE\\\\Empty]\n"
        "\"InEmpty\"=dword:6\n"
        "[-HKEY_LOCAL_MACHINE\\Gone]\n"
        "\"InGone\"=dword:7\n"
        "[HKEY_LOCAL_MACHINE\\" +
        std::string(256, 'x') +
        "]\n"
        "\"InLong\"=dword:8\n");
    ASSERT_TRUE(file);
    const CRegistryFile::Key* key = file->FindKey("HKEY_LOCAL_MACHINE\\K");
    ASSERT_NE(key, nullptr);
    std::vector<std::string> present;
    for (const auto& value : key->values) {
        present.push_back(value.first);
    }
    std::sort(present.begin(), present.end());
    EXPECT_EQ(present, (std::vector<std::string>{"GOOD", "REPLACED"}));
    EXPECT_EQ(ValueOf(*file, "HKEY_LOCAL_MACHINE\\K", "Replaced"), (Bytes{4, 0, 0, 0}));
    const CRegistryFile::Key* machine = file->FindKey("HKEY_LOCAL_MACHINE");
    ASSERT_NE(machine, nullptr);
    EXPECT_EQ(machine->subKeys.size(), 1u);  // only K: the broken key lines define nothing
}

TEST(RegistryFile, SurvivesArbitraryBytes) {
    const std::string valid = SettingsRegistryText({{"Cam", {0x12345678, 0x0000ABCD}}}) +
                              "\"VP09\"=hex(7):41,00,\\\n  42,00\n@=\"x\"\n[-HKEY_X]\n";
    std::mt19937 random(1234);
    for (int round = 0; round < 3000; ++round) {
        std::string text = valid;
        const int edits = 1 + static_cast<int>(random() % 8);
        for (int e = 0; e < edits; ++e) {
            const std::size_t at = random() % text.size();
            switch (random() % 3) {
                case 0:
                    text[at] = static_cast<char>(random() % 256);
                    break;
                case 1:
                    text.erase(at, 1 + random() % 16);
                    break;
                default:
                    text.insert(at, 1, "\\\"[]=,:\n\r-@;"[random() % 12]);
                    break;
            }
            if (text.empty()) {
                text = valid;
            }
        }
        if (round % 2 == 1) {  // also as UTF-16 text
            text = "\xFF\xFE" + text;
        }
        auto file = CRegistryFile::Parse(text);
        if (file) {
            file->FindKey(std::string(kSettings) + "\\Cam");
        }
    }
}

// A key line of `levels` parts below HKEY_LOCAL_MACHINE, in an export file.
std::string NestedKeyText(std::size_t levels) {
    std::string text = "Windows Registry Editor Version 5.00\n\n[HKEY_LOCAL_MACHINE";
    for (std::size_t i = 1; i < levels; ++i) {
        text += "\\k";
    }
    return text + "]\n\"VP00\"=dword:12345678\n";
}

TEST(RegistryFile, DeepKeyNestingMakesTheFileUnreadable) {
    // The registry nests keys at most 512 levels deep.
    auto deepest = CRegistryFile::Parse(NestedKeyText(CRegistryFile::kMaxKeyDepth));
    ASSERT_TRUE(deepest);
    std::string path = "HKEY_LOCAL_MACHINE";
    for (std::size_t i = 1; i < CRegistryFile::kMaxKeyDepth; ++i) {
        path += "\\K";
    }
    ASSERT_NE(deepest->FindKey(path), nullptr);
    EXPECT_NE(deepest->FindKey(path)->FindValue("VP00"), nullptr);

    EXPECT_FALSE(CRegistryFile::Parse(NestedKeyText(CRegistryFile::kMaxKeyDepth + 1)));

    // Tens of thousands of levels fit well inside the size limit. Run apart, so that a
    // stack overflow while the tree is built or freed fails this test only.
    const std::string deep = NestedKeyText(100000);
    ASSERT_LT(deep.size(), CRegistryFile::kMaxFileSize);
    GTEST_FLAG_SET(death_test_style, "threadsafe");
    EXPECT_EXIT(
        {
            const bool loaded = CRegistryFile::Parse(deep) != nullptr;  // freed right here
            std::_Exit(loaded ? 1 : 0);
        },
        ::testing::ExitedWithCode(0), "");
}

class RegistryFileLoad : public ::testing::Test {
  protected:
    std::string Path(const char* name) const { return m_dir.filePath(name).toStdString(); }
    QTemporaryDir m_dir;
};

TEST_F(RegistryFileLoad, LoadsAReadableAndWritableFile) {
    WriteFile(Path("ok.reg"), SettingsRegistryText({{"Cam", {1}}}));
    auto file = CRegistryFile::LoadWithFullAccess(Path("ok.reg"));
    ASSERT_TRUE(file);
    EXPECT_NE(file->FindKey(std::string(kSettings) + "\\Cam"), nullptr);
}

TEST_F(RegistryFileLoad, RefusesWhatCannotBeOpenedAsARegistry) {
    EXPECT_FALSE(CRegistryFile::LoadWithFullAccess(""));
    EXPECT_FALSE(CRegistryFile::LoadWithFullAccess(Path("missing.reg")));
    EXPECT_FALSE(CRegistryFile::LoadWithFullAccess(m_dir.path().toStdString()));
    ASSERT_EQ(mkfifo(Path("fifo.reg").c_str(), 0600), 0);
    EXPECT_FALSE(CRegistryFile::LoadWithFullAccess(Path("fifo.reg")));  // must not block

    std::string huge = SettingsRegistryText({{"Cam", {1}}});
    huge += std::string(CRegistryFile::kMaxFileSize, ';');
    WriteFile(Path("huge.reg"), huge);
    EXPECT_FALSE(CRegistryFile::LoadWithFullAccess(Path("huge.reg")));

    WriteFile(Path("text.reg"), "hello");
    EXPECT_FALSE(CRegistryFile::LoadWithFullAccess(Path("text.reg")));
}

TEST_F(RegistryFileLoad, RefusesAFileThatCannotBeWritten) {
    if (geteuid() == 0) {
        GTEST_SKIP() << "root may write any file; the program test covers this case as nobody";
    }
    WriteFile(Path("ro.reg"), SettingsRegistryText({{"Cam", {1}}}));
    ASSERT_EQ(chmod(Path("ro.reg").c_str(), 0444), 0);
    EXPECT_FALSE(CRegistryFile::LoadWithFullAccess(Path("ro.reg")));
}

}  // namespace
