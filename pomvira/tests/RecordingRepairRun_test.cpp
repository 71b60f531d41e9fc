// SPDX-License-Identifier: GPL-3.0-or-later
// The start-up repair's worker: it tells its progress file by file and the
// recordings it could not repair, on the thread that made it, and gone
// before it ends it stops after the file at hand and tells nothing.
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QTest>
#include <gtest/gtest.h>
#include <atomic>
#include <chrono>
#include <functional>
#include <map>
#include <memory>
#include <new>
#include <thread>

#include "capture/RecordingRepairRun.h"

namespace {

bool Write(const QString& path, const QByteArray& bytes) {
    QFile file(path);
    return file.open(QIODevice::WriteOnly) && file.write(bytes) == bytes.size();
}

}  // namespace

TEST(RecordingRepairRun, TellsItsProgressAndWhatItCouldNotRepair) {
    QTemporaryDir dir;
    // Two recordings cut off before their first frame, a file of another
    // name, and a recording in a subfolder: only the first two count.
    ASSERT_TRUE(Write(dir.filePath("video000002.avi"), "RIFF"));
    ASSERT_TRUE(Write(dir.filePath("video000001.avi"), "RIFF"));
    ASSERT_TRUE(Write(dir.filePath("clip.avi"), "RIFF"));
    ASSERT_TRUE(QDir(dir.path()).mkdir("old"));
    ASSERT_TRUE(Write(dir.filePath("old/video000003.avi"), "RIFF"));

    TRecordingRepairRun run;
    QSignalSpy progress(&run, &TRecordingRepairRun::Progress);
    QSignalSpy finished(&run, &TRecordingRepairRun::Finished);
    run.Start(dir.path() + "/");
    EXPECT_TRUE(run.Running());
    ASSERT_TRUE(QTest::qWaitFor([&] { return !finished.isEmpty(); }, 10000));
    EXPECT_FALSE(run.Running());
    ASSERT_EQ(progress.size(), 3);
    for (int i = 0; i < 3; ++i) {
        EXPECT_EQ(progress[i][0].toInt(), i);
        EXPECT_EQ(progress[i][1].toInt(), 2);
    }
    ASSERT_EQ(finished.size(), 1);
    EXPECT_EQ(finished[0][0].toStringList(),
              QStringList({dir.filePath("video000001.avi"), dir.filePath("video000002.avi")}));
    EXPECT_TRUE(finished[0][1].toStringList().isEmpty());
    // Once: a second start does nothing.
    run.Start(dir.path());
    QTest::qWait(200);
    EXPECT_EQ(finished.size(), 1);
}

TEST(RecordingRepairRun, AFolderWithoutRecordingsEndsWithNothingToName) {
    QTemporaryDir dir;
    TRecordingRepairRun run;
    QSignalSpy finished(&run, &TRecordingRepairRun::Finished);
    run.Start(dir.filePath("missing"));
    ASSERT_TRUE(QTest::qWaitFor([&] { return !finished.isEmpty(); }, 10000));
    EXPECT_TRUE(finished[0][0].toStringList().isEmpty());
}

// Gone while it runs, it stops after the file at hand (a repair is never cut
// short) and tells nothing more.
TEST(RecordingRepairRun, GoneWhileItRunsItStopsAfterTheFileAtHand) {
    QTemporaryDir dir;
    constexpr int kFiles = 50;
    for (int n = 1; n <= kFiles; ++n)
        ASSERT_TRUE(Write(dir.filePath(QStringLiteral("video%1.avi").arg(n, 6, 10, QChar('0'))),
                          "RIFF"));
    std::atomic<int> repaired{0};
    std::atomic<bool> gone{false};
    bool told = false;
    {
        // The first file waits until the run is being destroyed; each
        // other one takes ten milliseconds.
        TRecordingRepairRun run(nullptr, [&](const QString&) {
            if (repaired++ == 0) {
                while (!gone)
                    std::this_thread::sleep_for(std::chrono::milliseconds(1));
            }
            std::this_thread::sleep_for(std::chrono::milliseconds(10));
            return TRecordingState::Repaired;
        });
        QObject::connect(&run, &TRecordingRepairRun::Finished, [&] { told = true; });
        run.Start(dir.path());
        ASSERT_TRUE(QTest::qWaitFor([&] { return repaired > 0; }, 10000));
        gone = true;
    }
    EXPECT_LT(repaired, kFiles);
    QTest::qWait(100);
    EXPECT_FALSE(told);
}

// A failure of the worker's own on one file (out of memory, say) does not
// end the program: that file is named and the next ones are repaired. Files
// the repair could not put back as they were are told apart.
TEST(RecordingRepairRun, AFailureOnOneFileNamesItAndTheRunGoesOn) {
    QTemporaryDir dir;
    const std::map<QString, std::function<TRecordingState()>> outcomes = {
        {"video000001.avi", [] { return TRecordingState::Repaired; }},
        {"video000002.avi", []() -> TRecordingState { throw std::bad_alloc(); }},
        {"video000003.avi", []() -> TRecordingState { throw 3; }},
        {"video000004.avi", [] { return TRecordingState::Damaged; }},
        {"video000005.avi", [] { return TRecordingState::Unrepairable; }},
    };
    for (const auto& [name, outcome] : outcomes)
        ASSERT_TRUE(Write(dir.filePath(name), "RIFF"));
    TRecordingRepairRun run(nullptr, [&](const QString& path) {
        return outcomes.at(QFileInfo(path).fileName())();
    });
    QSignalSpy finished(&run, &TRecordingRepairRun::Finished);
    run.Start(dir.path());
    ASSERT_TRUE(QTest::qWaitFor([&] { return !finished.isEmpty(); }, 10000));
    EXPECT_EQ(finished[0][0].toStringList(),
              QStringList({dir.filePath("video000002.avi"), dir.filePath("video000003.avi"),
                           dir.filePath("video000005.avi")}));
    EXPECT_EQ(finished[0][1].toStringList(), QStringList{dir.filePath("video000004.avi")});
}
