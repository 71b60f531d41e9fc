// SPDX-License-Identifier: GPL-3.0-or-later
#include "files/IniFile.h"
#include "files/PathUtils.h"

#include <QDir>
#include <QFile>
#include <QTemporaryDir>
#include <chrono>
#include <fcntl.h>
#include <functional>
#include <future>
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

namespace {

class IniFileTest : public ::testing::Test {
  protected:
    void SetUp() override {
        ASSERT_TRUE(FDir.isValid());
        FPath = FDir.filePath(QStringLiteral("Pomvira.ini"));
    }

    void Put(const QByteArray& bytes) {
        QFile file(FPath);
        ASSERT_TRUE(file.open(QIODevice::WriteOnly));
        file.write(bytes);
    }

    QByteArray Contents() const {
        QFile file(FPath);
        return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
    }

    QTemporaryDir FDir;
    QString FPath;
};

}  // namespace

TEST_F(IniFileTest, BareNameLivesInConfigHome) {
    const QByteArray old = qgetenv("XDG_CONFIG_HOME");
    qputenv("XDG_CONFIG_HOME", QFile::encodeName(FDir.path()));
    EXPECT_EQ(TIniFile(QStringLiteral("Pomvira.ini")).FileName(), FPath);
    qputenv("XDG_CONFIG_HOME", "");
    EXPECT_EQ(TIniFile(QStringLiteral("Pomvira.ini")).FileName(),
              QDir::homePath() + QStringLiteral("/.config/Pomvira.ini"));
    qputenv("XDG_CONFIG_HOME", old);
    EXPECT_EQ(TIniFile(QStringLiteral("/x/y.ini")).FileName(), QStringLiteral("/x/y.ini"));
}

TEST_F(IniFileTest, MissingFileSectionOrKeyGivesDefaults) {
    TIniFile ini(FPath);
    EXPECT_TRUE(ini.ReadBool("CAPTURE", "USE AUDIO", true));
    EXPECT_EQ(ini.ReadInteger("CAPTURE", "VIDEO COMPRESS", -1), -1);
    EXPECT_EQ(ini.ReadString("CAPTURE", "VIDEO FOLDER", ""), QString());
    Put("[OTHER]\nVIDEO DEVICE=3\n[CAPTURE]\nAUDIO DEVICE=2\n");
    EXPECT_EQ(ini.ReadInteger("CAPTURE", "VIDEO DEVICE", 0), 0);
    EXPECT_EQ(ini.ReadInteger("CAPTURE", "AUDIO DEVICE", 0), 2);
    EXPECT_EQ(ini.ReadInteger("NONE", "AUDIO DEVICE", 7), 7);
    // A byte order mark written by some editors does not hide the first section.
    Put("\xEF\xBB\xBF[CAPTURE]\nAUDIO DEVICE=4\n");
    EXPECT_EQ(ini.ReadInteger("CAPTURE", "AUDIO DEVICE", 0), 4);
}

TEST_F(IniFileTest, IntegerAndBooleanRules) {
    Put("[CAPTURE]\n"
        "VIDEO DEVICE=0x10\nA=0X1f\nB=$1F\nC=abc\nD=-5\nE=2147483648\nF=-2147483648\n"
        "G=0x\nH=$FFFFFFFF\nI=0x100000000\nJ=12abc\nK=\nL= 42 \nM=+7\n"
        "USE AUDIO=2\nN=0\nO=x\n");
    TIniFile ini(FPath);
    EXPECT_EQ(ini.ReadInteger("CAPTURE", "VIDEO DEVICE", 0), 16);
    EXPECT_EQ(ini.ReadInteger("CAPTURE", "A", 0), 31);
    EXPECT_EQ(ini.ReadInteger("CAPTURE", "B", 0), 31);
    EXPECT_EQ(ini.ReadInteger("CAPTURE", "C", -1), -1);
    EXPECT_EQ(ini.ReadInteger("CAPTURE", "D", 0), -5);
    EXPECT_EQ(ini.ReadInteger("CAPTURE", "E", 9), 9);  // beyond 32 bits
    EXPECT_EQ(ini.ReadInteger("CAPTURE", "F", 0), INT32_MIN);
    EXPECT_EQ(ini.ReadInteger("CAPTURE", "G", 9), 9);
    EXPECT_EQ(ini.ReadInteger("CAPTURE", "H", 0), -1);
    EXPECT_EQ(ini.ReadInteger("CAPTURE", "I", 9), 9);
    EXPECT_EQ(ini.ReadInteger("CAPTURE", "J", 9), 9);
    EXPECT_EQ(ini.ReadInteger("CAPTURE", "K", 9), 9);
    EXPECT_EQ(ini.ReadInteger("CAPTURE", "L", 9), 42);
    EXPECT_EQ(ini.ReadInteger("CAPTURE", "M", 9), 7);

    EXPECT_TRUE(ini.ReadBool("CAPTURE", "USE AUDIO", false));
    EXPECT_FALSE(ini.ReadBool("CAPTURE", "N", true));
    EXPECT_TRUE(ini.ReadBool("CAPTURE", "O", true));
    EXPECT_FALSE(ini.ReadBool("CAPTURE", "O", false));

    // The caller writes the boolean it read back as "1".
    ini.WriteBool("CAPTURE", "USE AUDIO", ini.ReadBool("CAPTURE", "USE AUDIO", true));
    EXPECT_TRUE(Contents().contains("\nUSE AUDIO=1\n"));
    ini.WriteBool("CAPTURE", "N", false);
    ini.WriteInteger("CAPTURE", "D", -12);
    EXPECT_TRUE(Contents().contains("\nN=0\n"));
    EXPECT_TRUE(Contents().contains("\nD=-12\n"));
}

TEST_F(IniFileTest, WritesCreateFolderAndFileAndKeepKeyOrder) {
    const QString path = FDir.filePath(QStringLiteral("sub/dir/Pomvira.ini"));
    TIniFile ini(path);
    ini.WriteBool("CAPTURE", "USE AUDIO", true);
    ini.WriteInteger("CAPTURE", "VIDEO DEVICE", 0);
    ini.WriteInteger("CAPTURE", "VIDEO COMPRESS", -1);
    ini.WriteString("CAPTURE", "VIDEO FOLDER", QString::fromUtf8("/home/é/Vidéos"));
    QFile file(path);
    ASSERT_TRUE(file.open(QIODevice::ReadOnly));
    EXPECT_EQ(file.readAll(),
              QByteArray("[CAPTURE]\nUSE AUDIO=1\nVIDEO DEVICE=0\nVIDEO COMPRESS=-1\n"
                         "VIDEO FOLDER=/home/\xC3\xA9/Vid\xC3\xA9os\n"));
    EXPECT_EQ(ini.ReadString("CAPTURE", "VIDEO FOLDER", ""), QString::fromUtf8("/home/é/Vidéos"));
    // No temporary file is left beside it.
    EXPECT_EQ(QDir(FDir.filePath("sub/dir")).entryList(QDir::Files | QDir::Hidden).size(), 1);
}

TEST_F(IniFileTest, ReplacesInPlaceAndKeepsOtherLinesByteForByte) {
    Put("; camera settings\r\n"
        "[Other]\n"
        "Video Device=9\n"
        "\n"
        "[capture]\n"
        "  video device = 5  \n"
        "; a comment\n"
        "junk line\n"
        "AUDIO DEVICE=1\n"
        "\n"
        "[Tail]\n"
        "x=1");
    TIniFile ini(FPath);
    EXPECT_EQ(ini.ReadInteger("CAPTURE", "VIDEO DEVICE", 0), 5);  // names without regard to case
    ini.WriteInteger("CAPTURE", "VIDEO DEVICE", 7);
    ini.WriteString("CAPTURE", "VIDEO FORMAT", "Major Type: Video");
    ini.WriteString("NEW", "k", "v");
    EXPECT_EQ(Contents(), QByteArray("; camera settings\r\n"
                                     "[Other]\n"
                                     "Video Device=9\n"
                                     "\n"
                                     "[capture]\n"
                                     "VIDEO DEVICE=7\n"
                                     "; a comment\n"
                                     "junk line\n"
                                     "AUDIO DEVICE=1\n"
                                     "VIDEO FORMAT=Major Type: Video\n"
                                     "\n"
                                     "[Tail]\n"
                                     "x=1\n"
                                     "[NEW]\n"
                                     "k=v\n"));
    EXPECT_EQ(ini.ReadInteger("Other", "video device", 0), 9);
}

TEST_F(IniFileTest, BlanksQuotesAndLongValues) {
    Put("[CAPTURE]\nA=  \"quoted value\"  \nB=\"half\nC=\t text \t\nD=\"\"\n");
    TIniFile ini(FPath);
    EXPECT_EQ(ini.ReadString("CAPTURE", "A", "d"), "quoted value");
    EXPECT_EQ(ini.ReadString("CAPTURE", "B", "d"), "\"half");
    EXPECT_EQ(ini.ReadString("CAPTURE", "C", "d"), "text");
    EXPECT_EQ(ini.ReadString("CAPTURE", "D", "d"), "");

    // Values that reading would change are written so that they come back.
    for (const char* value : {" lead", "trail ", "\"q\"", "\"", "", "a = b ; c"}) {
        ini.WriteString("CAPTURE", "E", value);
        EXPECT_EQ(ini.ReadString("CAPTURE", "E", "d"), QString::fromUtf8(value));
    }

    const QString longValue(3000, QLatin1Char('v'));
    ini.WriteString("CAPTURE", "LONG", longValue);
    EXPECT_EQ(ini.ReadString("CAPTURE", "LONG", ""), longValue.left(2047));
}

TEST_F(IniFileTest, LineBreakInValueCannotInjectKeys) {
    TIniFile ini(FPath);
    ini.WriteString("CAPTURE", "VIDEO FOLDER", "/old");
    ini.WriteInteger("CAPTURE", "VIDEO DEVICE", 1);
    ini.WriteString("CAPTURE", "VIDEO FOLDER", "/x\nVIDEO DEVICE=5\n[EVIL]\nk=v");
    ini.WriteString("CAPTURE", "SNAP FOLDER", "/y\r\nAUDIO DEVICE=3");
    ini.WriteString("CAPTURE", "VIDEO FORMAT", "a\rb");
    // Each of those keys reads as its default; nothing else changed.
    EXPECT_EQ(ini.ReadString("CAPTURE", "VIDEO FOLDER", "default"), "default");
    EXPECT_EQ(ini.ReadString("CAPTURE", "SNAP FOLDER", "default"), "default");
    EXPECT_EQ(ini.ReadString("CAPTURE", "VIDEO FORMAT", "default"), "default");
    EXPECT_EQ(ini.ReadInteger("CAPTURE", "VIDEO DEVICE", 0), 1);
    EXPECT_EQ(ini.ReadInteger("CAPTURE", "AUDIO DEVICE", 0), 0);
    EXPECT_EQ(Contents(), QByteArray("[CAPTURE]\nVIDEO DEVICE=1\n"));
}

TEST_F(IniFileTest, UnwritableFileReportsItsName) {
    // A regular file where the folder should be: no process, not even root,
    // can create the settings file below it.
    const QString blocker = FDir.filePath(QStringLiteral("blocker"));
    {
        QFile file(blocker);
        ASSERT_TRUE(file.open(QIODevice::WriteOnly));
    }
    const QString path = blocker + QStringLiteral("/Pomvira.ini");
    TIniFile ini(path);
    try {
        ini.WriteInteger("CAPTURE", "VIDEO DEVICE", 1);
        FAIL() << "write succeeded";
    } catch (const EIniFileError& e) {
        EXPECT_EQ(std::string(e.what()), "Impossible d'écrire dans " + path.toStdString());
    }
    // A folder where the file should be.
    ASSERT_TRUE(QDir(FDir.path()).mkdir(QStringLiteral("Pomvira.ini")));
    EXPECT_THROW(TIniFile(FPath).WriteBool("CAPTURE", "USE AUDIO", true), EIniFileError);
    EXPECT_TRUE(TIniFile(FPath).ReadBool("CAPTURE", "USE AUDIO", true));
}

namespace {

// Runs fn on a thread of its own and waits for it, bounded. A run still blocked
// in opening the FIFO at `fifo` after that is let go by opening the FIFO's
// other end, so the test fails instead of hanging. True when fn ended in time.
bool EndsWithoutBlocking(const QString& fifo, const std::function<void()>& fn) {
    auto run = std::async(std::launch::async, fn);
    if (run.wait_for(std::chrono::seconds(10)) == std::future_status::ready) {
        run.get();
        return true;
    }
    while (run.wait_for(std::chrono::milliseconds(50)) != std::future_status::ready) {
        const int fd = ::open(QFile::encodeName(fifo).constData(), O_RDWR | O_NONBLOCK);
        if (fd >= 0)
            ::close(fd);
    }
    run.get();
    return false;
}

bool IsFifo(const QString& path) {
    struct stat info {};
    return ::lstat(QFile::encodeName(path).constData(), &info) == 0 && S_ISFIFO(info.st_mode);
}

}  // namespace

TEST_F(IniFileTest, AFileThatIsNotRegularIsMissingForReadingAndUnwritable) {
    ASSERT_EQ(::mkfifo(QFile::encodeName(FPath).constData(), 0600), 0);
    TIniFile ini(FPath);
    QString read;
    EXPECT_TRUE(EndsWithoutBlocking(
        FPath, [&] { read = ini.ReadString("CAPTURE", "VIDEO FOLDER", "default"); }));
    EXPECT_EQ(read, "default");
    bool refused = false;
    EXPECT_TRUE(EndsWithoutBlocking(FPath, [&] {
        try {
            ini.WriteInteger("CAPTURE", "VIDEO DEVICE", 1);
        } catch (const EIniFileError& e) {
            refused = std::string(e.what()) == "Impossible d'écrire dans " + FPath.toStdString();
        }
    }));
    EXPECT_TRUE(refused);
    EXPECT_TRUE(IsFifo(FPath));  // not replaced by a regular file
}

// File names on Linux are bytes: a folder named in Latin-1 (or any bytes
// that are not UTF-8) reads as a text that gives the same bytes back, and
// survives every write of the file, its own and the other keys'.
TEST_F(IniFileTest, AValueThatIsNotUtf8IsKeptByteForByte) {
    const QByteArray folder = "/home/anne/Vid\xe9os \xff\xfe\xc3(";
    Put("[CAPTURE]\r\nVIDEO FOLDER=" + folder + "\r\nUSE AUDIO=1\r\n");
    TIniFile ini(FPath);
    const QString read = ini.ReadString("CAPTURE", "VIDEO FOLDER", "default");
    EXPECT_EQ(EncodeFileName(read), folder);
    ini.WriteInteger("CAPTURE", "USE AUDIO", 0);
    EXPECT_EQ(Contents(), "[CAPTURE]\r\nVIDEO FOLDER=" + folder + "\r\nUSE AUDIO=0\r\n");
    ini.WriteString("CAPTURE", "VIDEO FOLDER", read);
    ini.WriteString("CAPTURE", "SNAP FOLDER", read + QStringLiteral("/Bilder \u00e9"));
    EXPECT_EQ(Contents(), "[CAPTURE]\r\nVIDEO FOLDER=" + folder + "\r\nUSE AUDIO=0\r\nSNAP FOLDER=" +
                              folder + "/Bilder \xc3\xa9\n");
}
