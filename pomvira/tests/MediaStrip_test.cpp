// SPDX-License-Identifier: GPL-3.0-or-later
// The media strip's model alone: no widgets, no media layer. What the strip
// shows after adding, paging, selecting and deleting, and how often a
// picture's thumbnail is read.
#include <QColor>
#include <QCoreApplication>
#include <QTest>
#include <QThread>
#include <QThreadPool>
#include <atomic>
#include <gtest/gtest.h>
#include <map>
#include <mutex>

#include "capture/MediaStrip.h"

namespace {

// A strip whose thumbnails are read by a counting stand-in: pictures whose
// name holds "bad" cannot be read, and one whose name holds "slow" is read
// only once the test lets it go on. The reads run on workers.
class MediaStripTest : public ::testing::Test {
  protected:
    ~MediaStripTest() override {
        released = true;
        QThreadPool::globalInstance()->waitForDone();
    }
    TMediaStrip strip{[this](const QString& path, const QSize& size) {
        {
            const std::lock_guard<std::mutex> guard(lock);
            ++reads[path];
            readOnTheTestsThread |= QThread::currentThread() == qApp->thread();
        }
        for (int waited = 0; path.contains(QLatin1String("slow")) && !released && waited < 500;
             ++waited)
            QThread::msleep(10);
        if (path.contains(QLatin1String("bad")))
            return QImage();
        QImage image(size, QImage::Format_RGB32);
        image.fill(Qt::darkGray);
        return image;
    }};
    void AddPictures(int count) {
        for (int i = 1; i <= count; ++i)
            strip.Add(QStringLiteral("/p/img%1.jpg").arg(i));
    }
    int Reads(const QString& path) {
        const std::lock_guard<std::mutex> guard(lock);
        return reads[path];
    }
    std::mutex lock;
    std::map<QString, int> reads;
    bool readOnTheTestsThread = false;
    std::atomic<bool> released{false};  // the slow reads go on
};

}  // namespace

TEST_F(MediaStripTest, EachNewFileIsScrolledIntoViewAndSelected) {
    EXPECT_EQ(strip.Selected(), -1);
    EXPECT_EQ(strip.SelectedFile(), QString());
    for (int n = 1; n <= 6; ++n) {
        strip.Add(QStringLiteral("/p/img%1.jpg").arg(n));
        EXPECT_EQ(strip.Count(), n);
        EXPECT_EQ(strip.FirstVisible(), std::max(0, n - 4)) << n;
        EXPECT_EQ(strip.Selected(), n - 1) << n;
    }
    EXPECT_EQ(strip.SelectedFile(), "/p/img6.jpg");
    EXPECT_EQ(strip.Files().first(), "/p/img1.jpg");
    // The boxes show the last four; none past the end.
    EXPECT_EQ(strip.EntryAt(0), 2);
    EXPECT_EQ(strip.EntryAt(3), 5);
    EXPECT_EQ(strip.EntryAt(4), -1);
    EXPECT_EQ(strip.EntryAt(-1), -1);
}

TEST_F(MediaStripTest, PagingMovesOneEntryAndStopsAtBothEnds) {
    AddPictures(3);
    // Four boxes hold three entries: nothing to page forward.
    EXPECT_FALSE(strip.ScrollForward());
    EXPECT_EQ(strip.FirstVisible(), 0);
    AddPictures(3);  // six entries, the last four shown
    EXPECT_EQ(strip.FirstVisible(), 2);
    // Each page moves one entry; at either end nothing moves.
    EXPECT_FALSE(strip.ScrollForward());
    EXPECT_EQ(strip.FirstVisible(), 2);
    for (int first : {1, 0}) {
        EXPECT_TRUE(strip.ScrollBack());
        EXPECT_EQ(strip.FirstVisible(), first);
    }
    EXPECT_FALSE(strip.ScrollBack());
    EXPECT_EQ(strip.FirstVisible(), 0);
    EXPECT_TRUE(strip.ScrollForward());
    EXPECT_EQ(strip.FirstVisible(), 1);
    strip.Clear();
    EXPECT_FALSE(strip.ScrollBack());
    EXPECT_FALSE(strip.ScrollForward());
}

TEST_F(MediaStripTest, AClickSelectsTheEntryOfItsBoxAndAnEmptyBoxIsIgnored) {
    AddPictures(6);
    strip.ScrollBack();  // entries 1..4 shown
    EXPECT_TRUE(strip.SelectAt(0));
    EXPECT_EQ(strip.Selected(), 1);
    EXPECT_EQ(strip.SelectedFile(), "/p/img2.jpg");
    strip.Clear();
    AddPictures(2);
    EXPECT_FALSE(strip.SelectAt(2));
    EXPECT_EQ(strip.Selected(), 1);
}

TEST_F(MediaStripTest, DeletingKeepsASelectionAndTheViewFilled) {
    EXPECT_FALSE(strip.DeleteSelected());
    AddPictures(6);
    // The last one: the one before it is selected, the view moves back.
    EXPECT_TRUE(strip.DeleteSelected());
    EXPECT_EQ(strip.Count(), 5);
    EXPECT_EQ(strip.Selected(), 4);
    EXPECT_EQ(strip.FirstVisible(), 1);
    // One in the middle: the next one takes its place.
    strip.SelectAt(1);  // entry 2
    EXPECT_TRUE(strip.DeleteSelected());
    EXPECT_EQ(strip.Selected(), 2);
    EXPECT_EQ(strip.SelectedFile(), "/p/img4.jpg");
    EXPECT_EQ(strip.Files(),
              QStringList({"/p/img1.jpg", "/p/img2.jpg", "/p/img4.jpg", "/p/img5.jpg"}));
    // Down to none: nothing selected.
    while (strip.DeleteSelected()) {
    }
    EXPECT_EQ(strip.Count(), 0);
    EXPECT_EQ(strip.Selected(), -1);
    EXPECT_EQ(strip.FirstVisible(), 0);
}

TEST_F(MediaStripTest, ThumbnailsAreReadOnceAndFollowTheirEntries) {
    strip.Add(QStringLiteral("/p/img1.jpg"));
    strip.Add(QStringLiteral("/p/bad.jpg"));
    strip.Add(QStringLiteral("/v/video1.avi"));
    EXPECT_EQ(strip.CachedThumbnail(0), nullptr);
    const QSize box(70, 47);
    for (int round = 0; round < 3; ++round) {
        ASSERT_NE(strip.Thumbnail(0, box), nullptr);
        ASSERT_NE(strip.Thumbnail(1, box), nullptr);
        EXPECT_EQ(strip.Thumbnail(2, box), nullptr);  // a recording shows its icon
    }
    ASSERT_TRUE(QTest::qWaitFor(
        [&] { return strip.CachedThumbnail(0) && strip.CachedThumbnail(1); }, 5000));
    for (int round = 0; round < 3; ++round)
        EXPECT_EQ(strip.Thumbnail(0, box), strip.CachedThumbnail(0));
    EXPECT_EQ(Reads("/p/img1.jpg"), 1);
    // An unreadable picture is read once and shows a red cross.
    EXPECT_EQ(Reads("/p/bad.jpg"), 1);
    const QImage cross = *strip.CachedThumbnail(1);
    EXPECT_EQ(cross.size(), box);
    EXPECT_GT(QColor(cross.pixel(box.width() / 2, box.height() / 2)).red(), 150);
    EXPECT_EQ(Reads("/v/video1.avi"), 0);
    EXPECT_EQ(strip.Thumbnail(3, box), nullptr);

    // Deleting the first entry takes its thumbnail with it.
    strip.SelectAt(0);
    strip.DeleteSelected();
    EXPECT_EQ(*strip.CachedThumbnail(0), cross);
    strip.Clear();
    EXPECT_EQ(strip.CachedThumbnail(0), nullptr);
}

// A picture slow to read holds nothing up: its box shows a plain
// placeholder at once, the read happens on a worker, and the caller is told
// when the thumbnail is there. One removed meanwhile is dropped.
TEST_F(MediaStripTest, ThumbnailsAreMadeOffTheCallersThreadWithAPlaceholderMeanwhile) {
    strip.Add(QStringLiteral("/p/slow.jpg"));
    strip.Add(QStringLiteral("/p/slow-bad.jpg"));
    const QSize box(70, 47);
    int told = 0;
    const QImage* waiting = strip.Thumbnail(0, box, [&] { ++told; });
    ASSERT_NE(waiting, nullptr);
    EXPECT_EQ(waiting->size(), box);
    EXPECT_EQ(QColor(waiting->pixel(35, 23)), QColor(waiting->pixel(2, 2)));
    EXPECT_EQ(strip.CachedThumbnail(0), nullptr);
    ASSERT_NE(strip.Thumbnail(1, box, [&] { ++told; }), nullptr);
    strip.SelectAt(1);
    strip.DeleteSelected();
    released = true;
    ASSERT_TRUE(QTest::qWaitFor([&] { return told == 2; }, 5000));
    EXPECT_FALSE(readOnTheTestsThread);
    ASSERT_EQ(strip.Count(), 1);
    ASSERT_NE(strip.CachedThumbnail(0), nullptr);
    EXPECT_EQ(QColor(strip.CachedThumbnail(0)->pixel(35, 23)), QColor(Qt::darkGray));
    EXPECT_EQ(Reads("/p/slow.jpg"), 1);
}

TEST(MediaStripFiles, RecordingsAreKnownByTheirExtension) {
    EXPECT_TRUE(IsRecordingFile(QStringLiteral("/v/video000001.avi")));
    EXPECT_TRUE(IsRecordingFile(QStringLiteral("/v/CLIP.AVI")));
    EXPECT_TRUE(IsRecordingFile(QStringLiteral("/v/clip.Avi ")));
    EXPECT_FALSE(IsRecordingFile(QStringLiteral("/v/clip.avi.jpg")));
    EXPECT_FALSE(IsRecordingFile(QStringLiteral("/v.avi/clip")));
    EXPECT_FALSE(IsRecordingFile(QStringLiteral("/p/img000001.jpg")));
}
