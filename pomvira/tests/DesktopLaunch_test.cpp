// SPDX-License-Identifier: GPL-3.0-or-later
// Editing a picture through the desktop: a desktop made for the test (its
// own application folder, file type globs and default applications) offers
// a viewer (the default for JPEG pictures) and an editor. The editor is
// started with the file; a type with only a viewer, or with no application,
// starts nothing.
#include <QDir>
#include <QFile>
#include <QTemporaryDir>
#include <QTest>
#include <gtest/gtest.h>
#include <cstdlib>

#include "app/Application.h"
#include "app/DesktopLaunch.h"

namespace {

QTemporaryDir* g_desktop = nullptr;

void WriteFile(const QString& path, const QByteArray& text) {
    QDir().mkpath(QFileInfo(path).path());
    QFile f(path);
    ASSERT_TRUE(f.open(QIODevice::WriteOnly));
    f.write(text);
}

QString Record(const char* who) {
    return g_desktop->filePath(QStringLiteral("%1.txt").arg(who));
}

QByteArray Recorded(const char* who) {
    QFile f(Record(who));
    return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray();
}

// An application that records the arguments it is started with.
QByteArray DesktopEntry(const char* who, const char* types, const char* categories) {
    const QString script = g_desktop->filePath(QStringLiteral("bin/%1").arg(who));
    WriteFile(script, "#!/bin/sh\nprintf '%s\\n' \"$@\" >> '" + Record(who).toUtf8() + "'\n");
    QFile(script).setPermissions(QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner);
    return "[Desktop Entry]\nType=Application\nName=" + QByteArray(who) +
           "\nExec=" + script.toUtf8() + " %f\nMimeType=" + types + "\nCategories=" + categories +
           "\n";
}

// The desktop is set up once, before the desktop library first looks at it.
class TestDesktop : public ::testing::Environment {
  public:
    void SetUp() override {
        g_desktop = new QTemporaryDir;
        const QString data = g_desktop->filePath("share");
        WriteFile(data + "/mime/globs2",
                  "50:image/jpeg:*.jpg\n50:image/png:*.png\n50:image/gif:*.gif\n"
                  "50:video/x-msvideo:*.avi\n");
        WriteFile(data + "/applications/viewer.desktop",
                  DesktopEntry("viewer", "image/jpeg;image/gif;",
                               "Graphics;2DGraphics;RasterGraphics;Viewer;"));
        WriteFile(data + "/applications/editor.desktop",
                  DesktopEntry("editor", "image/jpeg;image/png;", "Graphics;RasterGraphics;"));
        // The index of types to applications that the desktop's packaging
        // keeps (update-desktop-database).
        WriteFile(data + "/applications/mimeinfo.cache",
                  "[MIME Cache]\nimage/jpeg=viewer.desktop;editor.desktop;\n"
                  "image/png=editor.desktop;\nimage/gif=viewer.desktop;\n");
        WriteFile(qEnvironmentVariable("XDG_CONFIG_HOME") + "/mimeapps.list",
                  "[Default Applications]\nimage/jpeg=viewer.desktop\n");
        setenv("XDG_DATA_DIRS", QFile::encodeName(data).constData(), 1);
        setenv("XDG_DATA_HOME", QFile::encodeName(g_desktop->filePath("home")).constData(), 1);
    }
    void TearDown() override { delete g_desktop; }
};
const auto* const kDesktop = ::testing::AddGlobalTestEnvironment(new TestDesktop);

}  // namespace

TEST(DesktopLaunch, EditStartsTheEditorRegisteredForTheTypeNotTheDefaultViewer) {
    const QString picture = g_desktop->filePath("img000001.jpg");
    WriteFile(picture, "x");
    EXPECT_EQ(EditorFor(picture), "editor.desktop");
    EditDocument(picture);
    EXPECT_TRUE(QTest::qWaitFor([] { return !Recorded("editor").isEmpty(); }, 10000));
    EXPECT_EQ(Recorded("editor"), QFile::encodeName(picture) + "\n");
    EXPECT_TRUE(Recorded("viewer").isEmpty());
}

TEST(DesktopLaunch, WithoutAnEditorForTheTypeNothingHappens) {
    const QString gif = g_desktop->filePath("only-viewed.gif");
    const QString avi = g_desktop->filePath("video000001.avi");
    WriteFile(gif, "x");
    WriteFile(avi, "x");
    EXPECT_EQ(EditorFor(gif), "");
    EXPECT_EQ(EditorFor(avi), "");
    EXPECT_EQ(EditorFor(g_desktop->filePath("img.png")), "editor.desktop");
    EditDocument(gif);
    EditDocument(avi);
    QTest::qWait(300);
    EXPECT_TRUE(Recorded("viewer").isEmpty());
}

TEST(DesktopLaunch, OpeningAFileThatNoProgramOpensSaysWhatToInstall) {
    std::vector<TMessageBoxRequest> shown;
    SetMessageBoxHook([&](const TMessageBoxRequest& box) {
        shown.push_back(box);
        return QMessageBox::Ok;
    });
    WriteFile(g_desktop->filePath("video000001.avi"), "x");
    OpenDocument(g_desktop->filePath("video000001.avi"));
    SetMessageBoxHook(nullptr);
    ASSERT_EQ(shown.size(), 1u);
    EXPECT_EQ(shown[0].caption, "Ombra Viewer");
    EXPECT_TRUE(shown[0].text.contains("« video000001.avi »") && shown[0].text.contains("vlc"));
}
