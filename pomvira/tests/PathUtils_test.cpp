// SPDX-License-Identifier: GPL-3.0-or-later
#include "files/PathUtils.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QTemporaryDir>
#include <gtest/gtest.h>
#include <set>
#include <sys/stat.h>
#include <unistd.h>

namespace {

// With the user's folder configuration naming other folders for videos and
// pictures, the default folders are those; the configuration is removed again.
void ExpectConfiguredUserFolders(const TProgramFolder& program) {
    const QString config = QFile::decodeName(qgetenv("XDG_CONFIG_HOME"));
    ASSERT_FALSE(config.isEmpty());
    {
        QFile dirs(config + "/user-dirs.dirs");
        ASSERT_TRUE(dirs.open(QIODevice::WriteOnly));
        dirs.write("XDG_VIDEOS_DIR=\"/media/films\"\nXDG_PICTURES_DIR=\"/media/photos\"\n");
    }
    EXPECT_EQ(program.DefaultFolder("Video", "VIDEOS"), "/media/films");
    EXPECT_EQ(program.DefaultFolder("Image", "PICTURES"), "/media/photos");
    QFile::remove(config + "/user-dirs.dirs");
}

}  // namespace

TEST(JoinPathTest, CollapsesRunsOfSlashes) {
    EXPECT_EQ(JoinPath("/opt/pomvira/", "/Video"), "/opt/pomvira/Video");
    EXPECT_EQ(JoinPath("/opt/pomvira", "Video"), "/opt/pomvira/Video");
    EXPECT_EQ(JoinPath("/opt///pomvira////", "///a//b"), "/opt/pomvira/a/b");
    EXPECT_EQ(JoinPath("/pics", "img000001.jpg"), "/pics/img000001.jpg");
    EXPECT_EQ(JoinPath("rel/", "x/"), "rel/x/");
    EXPECT_EQ(JoinPath("", "name"), "/name");
    EXPECT_EQ(JoinPath("/", ""), "/");
    EXPECT_EQ(JoinPath(QString::fromUtf8("/home/é//Vidéos/"), "/x"),
              QString::fromUtf8("/home/é/Vidéos/x"));
}

TEST(JoinPathTest, KeepsNetworkPrefix) {
    EXPECT_EQ(JoinPath("//server/share/", "/Video"), "//server/share/Video");
    EXPECT_EQ(JoinPath("////server//share", "Image"), "//server/share/Image");
    // Any joined text that begins with two slashes counts as a network path.
    EXPECT_EQ(JoinPath("/", "/x"), "//x");
    EXPECT_EQ(JoinPath("", "/"), "/");  // "//" alone is not longer than 2
}

TEST(ProgramFolderTest, EndsWithSlashAndCanBeAnother) {
    const QString real = TProgramFolder().Path();
    EXPECT_TRUE(real.endsWith('/'));
    EXPECT_TRUE(QFileInfo(real).isDir());
    EXPECT_EQ(TProgramFolder("/some/where").Path(), "/some/where/");
}

TEST(CanEnterFolderTest, MissingFileAndUnsearchableFolders) {
    QTemporaryDir dir;
    ASSERT_TRUE(dir.isValid());
    EXPECT_TRUE(CanEnterFolder(dir.path()));
    EXPECT_TRUE(CanEnterFolder(dir.path() + "/"));
    EXPECT_FALSE(CanEnterFolder(dir.filePath("missing")));
    EXPECT_FALSE(CanEnterFolder(QString()));
    const QString file = dir.filePath("file");
    {
        QFile f(file);
        ASSERT_TRUE(f.open(QIODevice::WriteOnly));
    }
    EXPECT_FALSE(CanEnterFolder(file));

    const QString locked = dir.filePath("locked");
    ASSERT_TRUE(QDir(dir.path()).mkdir("locked"));
    ASSERT_TRUE(QFile::setPermissions(locked, QFile::ReadOwner | QFile::WriteOwner));
    if (geteuid() != 0) {  // root may enter any folder
        EXPECT_FALSE(CanEnterFolder(locked));
    }
    QFile::setPermissions(locked, QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner);
}

TEST(DefaultFolderTest, ProgramSubfolderOrUserFolder) {
    QTemporaryDir dir;
    ASSERT_TRUE(dir.isValid());
    const TProgramFolder program(dir.path());
    EXPECT_EQ(program.DefaultFolder("Video", "VIDEOS"), dir.path() + "/Video");
    EXPECT_EQ(program.DefaultFolder("Image", "PICTURES"), dir.path() + "/Image");

    // A program folder that cannot be written: the user's folders, as the
    // user's own folder configuration names them.
    const TProgramFolder gone(dir.filePath("not-there"));
    ExpectConfiguredUserFolders(gone);

    // Nothing configured: the standard Videos and Pictures folders.
    EXPECT_EQ(gone.DefaultFolder("Video", "VIDEOS"), QDir::homePath() + "/Videos");
    EXPECT_EQ(gone.DefaultFolder("Image", "PICTURES"), QDir::homePath() + "/Pictures");
}

TEST(DefaultFolderTest, InstalledProgramSavesIntoTheUserFoldersEvenWhereItCouldWrite) {
    QTemporaryDir prefix;
    ASSERT_TRUE(prefix.isValid());
    const QString bin = prefix.filePath("bin");
    ASSERT_TRUE(QDir().mkpath(bin));
    const TProgramFolder program(bin);
    EXPECT_FALSE(program.IsInstalled());
    EXPECT_EQ(program.DefaultFolder("Video", "VIDEOS"), bin + "/Video");

    // The tree an installation leaves: the desktop entry in share/applications.
    const QString entry = QDir::cleanPath(JoinPath(bin, kInstalledDesktopEntry));
    EXPECT_TRUE(entry.startsWith(prefix.path() + "/"));
    EXPECT_TRUE(entry.endsWith(".desktop"));
    ASSERT_TRUE(QDir().mkpath(QFileInfo(entry).path()));
    {
        QFile f(entry);
        ASSERT_TRUE(f.open(QIODevice::WriteOnly));
    }
    EXPECT_TRUE(program.IsInstalled());
    ExpectConfiguredUserFolders(program);
}

TEST(NumberedFileNameTest, FirstFreeNumberWithAtLeastSixDigits) {
    std::set<QString> taken;
    auto isTaken = [&](const QString& path) { return taken.count(path) > 0; };
    EXPECT_EQ(NumberedFileName("/pics/", "img", "jpg", isTaken), "/pics/img000001.jpg");
    // A gap is filled first.
    taken = {"/pics/img000001.jpg", "/pics/img000003.jpg"};
    EXPECT_EQ(NumberedFileName("/pics", "img", "jpg", isTaken), "/pics/img000002.jpg");
    // No upper bound: past 999999 the number simply has more digits.
    int asked = 0;
    auto allTaken = [&](const QString& path) {
        ++asked;
        return !path.endsWith("1000000.avi");
    };
    EXPECT_EQ(NumberedFileName("/v", "video", "avi", allTaken), "/v/video1000000.avi");
    EXPECT_EQ(asked, 1000000);
}

TEST(NumberedFileNameTest, AnythingAtThePathTakesTheName) {
    QTemporaryDir dir;
    const QString file = dir.filePath("img000001.jpg");
    EXPECT_FALSE(PathTaken(file));
    QFile(file).open(QIODevice::WriteOnly);
    EXPECT_TRUE(PathTaken(file));
    // A link whose target is gone still takes its name.
    const QString link = dir.filePath("img000002.jpg");
    ASSERT_EQ(symlink("/no/such/target", QFile::encodeName(link).constData()), 0);
    EXPECT_TRUE(PathTaken(link));
    EXPECT_EQ(NumberedFileName(dir.path(), "img", "jpg", PathTaken), dir.filePath("img000003.jpg"));
}

TEST(FileNameCodecTest, AnyBytesComeBackExactlyAndValidTextReadsAsItself) {
    // Valid UTF-8, of one to four bytes a character, reads as Qt reads it.
    for (const QByteArray& text : {QByteArray("/home/anne/Vid\xc3\xa9os"), QByteArray("\xe2\x82\xac"),
                                   QByteArray("\xf0\x9f\x8e\xa5 clip"), QByteArray()}) {
        EXPECT_EQ(DecodeFileName(text), QString::fromUtf8(text));
        EXPECT_EQ(EncodeFileName(DecodeFileName(text)), text);
    }
    // Bytes of every kind that is not UTF-8: stray continuation bytes, cut
    // sequences, overlong forms, encoded surrogates, code points past
    // U+10FFFF, and text that holds the escape characters' own UTF-8 form.
    for (const QByteArray& bytes :
         {QByteArray("Vid\xe9os"), QByteArray("\x80\xbf"), QByteArray("\xc3"), QByteArray("a\xe2\x82"),
          QByteArray("\xc0\xaf"), QByteArray("\xed\xb2\x80"), QByteArray("\xf4\x90\x80\x80"),
          QByteArray("\xff\xfe")}) {
        const QString name = DecodeFileName(bytes);
        EXPECT_EQ(EncodeFileName(name), bytes) << bytes.toHex().toStdString();
        EXPECT_FALSE(name.contains(QChar::ReplacementCharacter));
    }
    // Random bytes.
    uint32_t seed = 12345;
    for (int round = 0; round < 200; ++round) {
        QByteArray bytes;
        for (int i = 0; i < 24; ++i) {
            seed = seed * 1103515245 + 12345;
            bytes += char(seed >> 16);
        }
        EXPECT_EQ(EncodeFileName(DecodeFileName(bytes)), bytes) << bytes.toHex().toStdString();
    }
    // A folder of such a name is used as it is.
    QTemporaryDir dir;
    const QByteArray folder = EncodeFileName(dir.path()) + "/vid\xe9os";
    ASSERT_EQ(::mkdir(folder.constData(), 0755), 0);
    EXPECT_TRUE(CanEnterFolder(DecodeFileName(folder)));
    EXPECT_EQ(EncodeFileName(JoinPath(DecodeFileName(folder), QStringLiteral("video000001.avi"))),
              folder + "/video000001.avi");
    EXPECT_FALSE(PathTaken(DecodeFileName(folder + "/video000001.avi")));
    EXPECT_TRUE(PathTaken(DecodeFileName(folder)));
}
