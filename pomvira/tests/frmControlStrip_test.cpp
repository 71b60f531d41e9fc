// SPDX-License-Identifier: GPL-3.0-or-later
// Still pictures and the media strip of the control panel against the
// recording fake of the media framework: numbered names, pictures taken
// from the grabber's frame, the strip's rules for adding, paging, selecting
// and removing, opening and editing through the desktop, the thumbnails'
// cache, and the failures: no frame yet, a folder that cannot be written, a
// picture that cannot be loaded.
#include <QDir>
#include <QFile>
#include <QLabel>
#include <QTemporaryDir>
#include <QTest>
#include <QTimer>
#include <gtest/gtest.h>
#include <memory>

#include "widgets/ActionList.h"
#include "app/Application.h"
#include "widgets/ControlsKit.h"
#include "app/DesktopLaunch.h"
#include "JpegReadBack.h"
#include "ControlFormTesting.h"
#include "TestFrames.h"
#include "files/TextConv.h"
#include "forms/frmControl.h"
#include "forms/frmView.h"
#include "media/Bitmap.h"
#include "media/fake/FakeMedia.h"

using namespace media;
using namespace media::fake;

namespace {

// A 64 x 48 RGB24 frame in the grabber's layout, one colour.
std::vector<uint8_t> Frame() {
    return TwoColourFrame(64, 48, qRgb(128, 128, 128), qRgb(128, 128, 128));
}

// The placeholder of a picture that cannot be loaded: a red cross in the
// middle of a light box.
bool HasRedCross(const QImage& image) {
    const QRgb corner = image.pixel(3, 3);
    if (qRed(corner) < 200 || qGreen(corner) < 200 || qBlue(corner) < 200)
        return false;
    for (int y = 20; y < 27; ++y)
        for (int x = 31; x < 38; ++x) {
            const QRgb c = image.pixel(x, y);
            if (qRed(c) > 150 && qGreen(c) < 80 && qBlue(c) < 80)
                return true;
        }
    return false;
}

class StripTest : public ControlFormTestBase {
  protected:
    void SetUp() override {
        ControlFormTestBase::SetUp();
        UseOwnSaveFolders();
        services.Launch = [this](TLaunchVerb verb, const QString& path) {
            launched.push_back({verb, path});
        };
        sys.AddVideoDevice("Cam", {VideoFormat(MEDIASUBTYPE_YUY2, 320, 240, 16)});
        sys.GrabberDefaults().connectedType = VideoFormat(MEDIASUBTYPE_RGB24, 64, 48, 24);
        sys.GrabberDefaults().buffer = Frame();
    }
    void TearDown() override {
        form.reset();
        ControlFormTestBase::TearDown();
    }
    void Start() {
        form = std::make_unique<TControlForm>();
        ASSERT_TRUE(SettleSession(*form));
        ASSERT_TRUE(boxes.empty()) << FirstBox();
        form->show();
    }
    QString snaps() const { return SnapFolder(); }
    QString videos() const { return VideoFolder(); }
    QString Snap(int n) const {
        return snaps() + QStringLiteral("/img%1.jpg").arg(n, 6, 10, QChar('0'));
    }
    // Takes a picture as a click on the button does: a failure goes to the
    // error report.
    void TakePicture() {
        RunHandler([this] { form->actSnapShot->Execute(); });
        ASSERT_TRUE(SettleSession(*form));
    }
    // Entries whose files need not exist (as recordings to come will add).
    void AddEntries(int count) {
        for (int i = 0; i < count; ++i)
            form->AddToStrip(videos() +
                             QStringLiteral("/video%1.avi").arg(i + 1, 6, 10, QChar('0')));
    }
    // Paints the panel as the window system would.
    void Paint() { form->grab(); }
    QStringList Labels() {
        QStringList texts;
        for (QLabel* l : {form->lblBmp1, form->lblBmp2, form->lblBmp3, form->lblBmp4})
            texts.append(l->isHidden() ? QString() : l->text());
        return texts;
    }
    std::pair<int, int> View() {
        const auto s = PanelState(*form);
        return {s.FirstVisible, s.Selected};
    }
    QString Name(int index) { return QFileInfo(form->StripFiles().value(index)).fileName(); }

    FakeMediaSystem sys;
    std::vector<std::pair<TLaunchVerb, QString>> launched;
    std::unique_ptr<TControlForm> form;
};

}  // namespace

TEST_F(StripTest, NextFileNameTakesTheFirstFreeNumberInItsFolder) {
    Start();
    EXPECT_EQ(form->NextFileName(true, "img", "jpg"), Snap(1));
    EXPECT_EQ(form->NextFileName(false, "video", "avi"), videos() + "/video000001.avi");
    QFile(Snap(1)).open(QIODevice::WriteOnly);
    QFile(Snap(3)).open(QIODevice::WriteOnly);
    EXPECT_EQ(form->NextFileName(true, "img", "jpg"), Snap(2));
}

TEST_F(StripTest, PicturesAreNumberedFilesOfTheFrameAddedSelectedAndShown) {
    Start();
    EXPECT_FALSE(PanelState(*form).Expanded);
    TakePicture();
    TakePicture();
    ASSERT_TRUE(boxes.empty()) << FirstBox();
    EXPECT_EQ(form->StripFiles(), QStringList({Snap(1), Snap(2)}));
    const TJpegReadBack back = ReadJpegFileBack(Snap(2));
    ASSERT_TRUE(back.ok) << back.error.toStdString();
    EXPECT_EQ(QSize(back.width, back.height), QSize(64, 48));
    EXPECT_EQ(View(), std::make_pair(0, 1));
    EXPECT_TRUE(PanelState(*form).Expanded);
    EXPECT_EQ(form->size(), QSize(355, 166));
    EXPECT_EQ(form->SelectedFile(), Snap(2));

    // Entries removed from the strip keep their files: numbers are used
    // again only when the file itself is gone.
    form->actBmpClear->Execute();
    EXPECT_TRUE(QFile::exists(Snap(1)) && QFile::exists(Snap(2)));
    QFile::remove(Snap(1));
    TakePicture();
    TakePicture();
    EXPECT_EQ(form->StripFiles(), QStringList({Snap(1), Snap(3)}));
}

TEST_F(StripTest, PictureWaitsBrieflyForTheFirstFrame) {
    sys.GrabberDefaults().buffer.reset();
    Start();
    QTimer::singleShot(300, [this] { sys.SampleGrabber()->Buffer() = Frame(); });
    TakePicture();
    EXPECT_TRUE(boxes.empty());
    EXPECT_EQ(form->StripFiles(), QStringList({Snap(1)}));
}

TEST_F(StripTest, PictureWithoutAnyFrameWritesNothingAndSaysSo) {
    sys.GrabberDefaults().buffer.reset();
    Start();
    TakePicture();
    ASSERT_EQ(boxes.size(), 1u);
    EXPECT_EQ(boxes[0], ShownText(u"Aucune image n'est arriv\u00e9e de la cam\u00e9ra : la photo "
                                  u"n'a pas \u00e9t\u00e9 prise."));
    EXPECT_TRUE(QDir(snaps()).isEmpty());
    EXPECT_EQ(PanelState(*form).FileCount, 0);
    EXPECT_FALSE(PanelState(*form).Expanded);
}

TEST_F(StripTest, PictureThatCannotBeWrittenNamesTheFileAndAddsNothing) {
    Start();
    TakePicture();
    // The folder goes away while the program runs.
    ASSERT_TRUE(QDir(snaps()).removeRecursively());
    TakePicture();
    ASSERT_EQ(boxes.size(), 1u);
    EXPECT_TRUE(boxes[0].contains(Snap(1))) << boxes[0].toStdString();
    EXPECT_EQ(PanelState(*form).FileCount, 1);
    EXPECT_FALSE(QDir(snaps()).exists());
}

TEST_F(StripTest, FifthEntryScrollsTheStripAndPagingMovesOneEntryWithinItsLimits) {
    Start();
    AddEntries(4);
    // Four or fewer entries: Next does nothing, Prev stays at 0.
    form->actNextBmp->Execute();
    form->actPrevBmp->Execute();
    EXPECT_EQ(View(), std::make_pair(0, 3));

    AddEntries(1);
    EXPECT_EQ(View(), std::make_pair(1, 4));
    Paint();
    EXPECT_EQ(Labels(), QStringList({Name(1), Name(2), Name(3), Name(4)}));

    AddEntries(1);  // six entries: the first visible is 2
    EXPECT_EQ(View(), std::make_pair(2, 5));
    form->actNextBmp->Execute();
    EXPECT_EQ(View(), std::make_pair(2, 5));
    form->imgPrev->OnClick(form->imgPrev);
    form->imgPrev->OnClick(form->imgPrev);
    form->imgPrev->OnClick(form->imgPrev);
    EXPECT_EQ(View(), std::make_pair(0, 5));  // selection kept while paging
    form->imgNext->OnClick(form->imgNext);
    EXPECT_EQ(View(), std::make_pair(1, 5));
}

TEST_F(StripTest, RemovingEntriesFollowsTheSelectionAndLeavesFilesOnDisk) {
    Start();
    AddEntries(6);
    // The selected last of six with the first visible at 2.
    form->actBmpDelete->Execute();
    EXPECT_EQ(PanelState(*form).FileCount, 5);
    EXPECT_EQ(View(), std::make_pair(1, 4));

    // In the middle: the first visible stays, the next entry is selected.
    AddEntries(1);
    ASSERT_EQ(View(), std::make_pair(2, 5));
    QTest::mousePress(form->BmpView2, Qt::LeftButton, {}, QPoint(10, 10));
    ASSERT_EQ(View(), std::make_pair(2, 3));
    const QString following = form->StripFiles()[4];
    form->actBmpDelete->Execute();
    EXPECT_EQ(View(), std::make_pair(2, 3));
    EXPECT_EQ(form->SelectedFile(), following);
    Paint();
    EXPECT_EQ(Labels(), QStringList({Name(2), Name(3), Name(4), QString()}));

    // The only entry.
    form->actBmpClear->Execute();
    EXPECT_EQ(View(), std::make_pair(0, -1));
    AddEntries(1);
    form->actBmpDelete->Execute();
    EXPECT_EQ(View(), std::make_pair(0, -1));
    EXPECT_EQ(PanelState(*form).FileCount, 0);
    form->actBmpDelete->Execute();  // nothing selected: nothing happens
    Paint();
    EXPECT_EQ(Labels(), QStringList({{}, {}, {}, {}}));
}

TEST_F(StripTest, PressesSelectADoubleClickOpensAndEditTakesTheSelection) {
    Start();
    form->actBmpEdit->Execute();  // no selection: nothing happens
    EXPECT_TRUE(launched.empty());
    AddEntries(2);
    // A press on an empty box changes nothing; any button selects.
    QTest::mousePress(form->BmpView3, Qt::LeftButton, {}, QPoint(10, 10));
    EXPECT_EQ(View(), std::make_pair(0, 1));
    QTest::mousePress(form->BmpView1, Qt::RightButton, {}, QPoint(10, 10));
    EXPECT_EQ(View(), std::make_pair(0, 0));
    EXPECT_TRUE(launched.empty());
    QTest::mouseDClick(form->BmpView2, Qt::LeftButton, {}, QPoint(10, 10));
    EXPECT_EQ(View(), std::make_pair(0, 1));
    ASSERT_EQ(launched.size(), 1u);
    EXPECT_EQ(launched[0], std::make_pair(TLaunchVerb::Open, form->StripFiles()[1]));
    form->actBmpEdit->Execute();
    ASSERT_EQ(launched.size(), 2u);
    EXPECT_EQ(launched[1], std::make_pair(TLaunchVerb::Edit, form->StripFiles()[1]));
}

TEST_F(StripTest, ThumbnailsAreMadeOnceAndUnreadablePicturesShowAKeptPlaceholder) {
    Start();
    TakePicture();
    form->AddToStrip(snaps() + "/img000099.jpg");  // no such file
    form->AddToStrip(videos() + "/video000002.Avi");
    // Not before its first paint (the picture taken has been painted while
    // it was written).
    EXPECT_EQ(form->StripThumbnail(1), nullptr);
    Paint();
    EXPECT_TRUE(boxes.empty());
    // Made off the user-interface thread, then shown.
    ASSERT_TRUE(
        QTest::qWaitFor([&] { return form->StripThumbnail(0) && form->StripThumbnail(1); }, 5000));
    EXPECT_EQ(form->StripThumbnail(2), nullptr);  // a recording shows its icon
    EXPECT_EQ(form->StripThumbnail(0)->size(), QSize(70, 47));
    EXPECT_NEAR(qGray(form->StripThumbnail(0)->pixel(35, 23)), 0x80, 4);
    const QImage placeholder = *form->StripThumbnail(1);
    EXPECT_TRUE(HasRedCross(placeholder));
    EXPECT_EQ(Labels(), QStringList({"img000001.jpg", "img000099.jpg", "video000002.Avi", ""}));

    // Repainting draws the kept pictures: the files are not read again.
    const qint64 first = form->StripThumbnail(0)->cacheKey();
    ASSERT_TRUE(QFile::copy(Snap(1), snaps() + "/img000099.jpg"));
    QFile::remove(Snap(1));
    form->actPrevBmp->Execute();
    QTest::mousePress(form->BmpView1, Qt::LeftButton, {}, QPoint(5, 5));
    Paint();
    EXPECT_EQ(form->StripThumbnail(0)->cacheKey(), first);
    EXPECT_EQ(*form->StripThumbnail(1), placeholder);
    EXPECT_TRUE(boxes.empty());
}
