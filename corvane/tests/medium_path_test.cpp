// SPDX-License-Identifier: GPL-3.0-or-later
#include <sys/stat.h>

#include <gtest/gtest.h>

#include <QDir>
#include <QFile>
#include <QFileInfo>

#include "MediumPath.h"
#include "Medium.h"

namespace {

// FindOnMedium below the medium's root, the result as text.
QString Find(const TempMedium& medium, const char* path) {
    return QFile::decodeName(FindOnMedium(QFile::encodeName(medium.Root()), path));
}

const QByteArray kMountinfo =
    "21 1 8:1 / / rw,relatime shared:1 - ext4 /dev/sda1 rw\n"
    "22 21 0:5 / /proc rw,nosuid shared:2 - proc proc rw\n"
    "30 21 11:0 / /media/cdrom ro,relatime shared:9 - iso9660 /dev/sr0 ro\n"
    "31 21 8:17 / /media/my\\040disc ro shared:10 - udf /dev/sdb1 ro\n"
    "32 30 0:40 / /media/cdrom/live ro - squashfs /dev/loop0 ro\n"
    "33 21 11:1 / /media/cdrom ro,relatime shared:11 - iso9660 /dev/sr1 ro\n"
    "garbage\n";

TEST(MountPointOf, PicksTheLongestMountHoldingThePath) {
    EXPECT_EQ(MountPointOf("/media/cdrom/setup", kMountinfo), "/media/cdrom");
    EXPECT_EQ(MountPointOf("/media/cdrom", kMountinfo), "/media/cdrom");
    EXPECT_EQ(MountPointOf("/media/cdrom/live/x", kMountinfo), "/media/cdrom/live");
    // A name that only begins like a mount point is not below it.
    EXPECT_EQ(MountPointOf("/media/cdrom2/setup", kMountinfo), "/");
    EXPECT_EQ(MountPointOf("/home/user", kMountinfo), "/");
    EXPECT_EQ(MountPointOf("/", kMountinfo), "/");
}

TEST(MountPointOf, DecodesEscapedNamesAndHandlesMissingRoot) {
    EXPECT_EQ(MountPointOf("/media/my disc/viewer", kMountinfo), "/media/my disc");
    EXPECT_EQ(MountPointOf("/x", "30 21 11:0 / /media/cdrom ro - iso9660 /dev/sr0 ro\n"), "");
    EXPECT_EQ(MountPointOf("/x", ""), "");
}

TEST(MediumRootOf, FindsTheMountPointHoldingARealFolder) {
    EXPECT_EQ(MediumRootOf("/no/such/folder/anywhere"), "");

    TempMedium medium;
    const QString folder = medium.AddFolder("a/b");
    const QString canonical = QFileInfo(folder).canonicalFilePath();
    const QString root = QFile::decodeName(MediumRootOf(QFile::encodeName(folder)));
    ASSERT_FALSE(root.isEmpty());
    EXPECT_TRUE(root == "/" || canonical == root || canonical.startsWith(root + "/")) << root;

    // The root lies on the same device as the folder, its parent (if any) not
    // on the same mount: at the least it is not deeper than the folder's own.
    struct stat folderStat {};
    struct stat rootStat {};
    ASSERT_EQ(::stat(QFile::encodeName(canonical).constData(), &folderStat), 0);
    ASSERT_EQ(::stat(QFile::encodeName(root).constData(), &rootStat), 0);
    EXPECT_EQ(folderStat.st_dev, rootStat.st_dev);
    EXPECT_NE(root, canonical);

    EXPECT_EQ(MediumRootOf("/proc/self/fd"), "/proc");
}

TEST(FindOnMedium, MatchesNamePartsWithoutRegardToCase) {
    TempMedium medium;
    const QString file = medium.Add("SETUP/Setup.EXE");
    EXPECT_EQ(Find(medium, "/setup/setup.exe"), file);
    EXPECT_EQ(Find(medium, "//SETUP/./SETUP.exe"), file);
    EXPECT_EQ(Find(medium, "/setup/setup.ex"), "");
    EXPECT_EQ(Find(medium, "/setup"), "");  // a folder is not a program
    EXPECT_EQ(Find(medium, "/"), "");
    EXPECT_EQ(FindOnMedium("", "/setup/setup.exe"), "");
}

TEST(FindOnMedium, PrefersExactNamesAndTheRightKindOfEntry) {
    TempMedium medium;
    const QString exact = medium.Add("viewer/OmbraSetup.EXE");
    medium.Add("viewer/ombrasetup.exe");
    EXPECT_EQ(Find(medium, "/viewer/OmbraSetup.EXE"), exact);

    // A file "setup" does not hide the folder "Setup", nor a folder
    // "setup.exe" the file "SETUP.EXE".
    medium.Add("setup");
    medium.AddFolder("Setup/setup.exe");
    const QString file = medium.Add("Setup/SETUP.EXE");
    EXPECT_EQ(Find(medium, "/setup/setup.exe"), file);
}

TEST(FindOnMedium, GoesOnWithOtherCaseVariantsWhereTheExactNameLeadsNowhere) {
    TempMedium medium;
    medium.AddFolder("setup");  // empty
    const QString driver = medium.Add("SETUP/setup.exe");
    EXPECT_EQ(Find(medium, "/setup/setup.exe"), driver);

    // Deeper down, and past a variant of the wrong kind.
    medium.AddFolder("viewer/bin");
    medium.AddFolder("Viewer/BIN/Run.exe");
    const QString viewer = medium.Add("VIEWER/Bin/run.EXE");
    EXPECT_EQ(Find(medium, "/viewer/bin/run.exe"), viewer);
    EXPECT_EQ(Find(medium, "/viewer/bin/other.exe"), "");
}

}  // namespace
