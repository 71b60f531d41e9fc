// SPDX-License-Identifier: GPL-3.0-or-later
// Recordings cut off for real: GStreamer's AVI multiplexer writing sound and
// video into a file, killed with SIGKILL. The repair must make them play to
// their last complete frame (checked with ffprobe, an independent reader),
// leave complete files and anything the program did not write untouched
// (checksums), survive being cut off itself, and name what it cannot save.
// Recordings cut off inside the program itself: frmControlDeviceLoss_gst_test.
#include <QCryptographicHash>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QProcess>
#include <QStorageInfo>
#include <QTemporaryDir>
#include <QTest>
#include <csignal>
#include <gtest/gtest.h>
#include <QFileInfo>
#include <map>
#include <memory>
#include <fcntl.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include "AviProbe.h"
#include "ControlFormTesting.h"
#include "TestRecordings.h"
#include "files/FilesBeingWritten.h"
#include "files/NamedRecordings.h"
#include "files/RecordingFile.h"
#include "files/RecordingRepair.h"
#include "widgets/ActionList.h"
#include "forms/frmControl.h"
#include "forms/frmView.h"

namespace {

const auto* const kEnvironment = ::testing::AddGlobalTestEnvironment(new GstTestDevices("1"));

// The frames of the video stream that ffprobe finds by reading them all.
int64_t FramesRead(const TAviProbe& probe) {
    const TAviStream* video = probe.Stream(QStringLiteral("video"));
    return video ? video->frames : -1;
}

// The file lasts as long as its frames at 30 a second; the sound, which the
// multiplexer keeps up to half a second ahead of the picture, may last a
// little longer.
void ExpectLastsAsItsFrames(const TAviProbe& probe) {
    const double frames = double(FramesRead(probe)) / 30;
    EXPECT_GE(probe.duration, frames - 0.1) << probe.Text().toStdString();
    EXPECT_LE(probe.duration, frames + 1.0) << probe.Text().toStdString();
}

bool CopyPart(const QString& from, const QString& to, qint64 bytes) {
    QFile in(from), out(to);
    if (!in.open(QIODevice::ReadOnly) || !out.open(QIODevice::WriteOnly))
        return false;
    return out.write(in.read(bytes)) == qMin(bytes, in.size());
}

class RecordingRepair : public ::testing::Test {
  protected:
    QString Path(const char* name) const { return dir.filePath(QLatin1String(name)); }
    QTemporaryDir dir;
};

}  // namespace

TEST_F(RecordingRepair, KilledRecordingPlaysToItsLastCompleteFrameWithCountsAndIndex) {
    const QString path = Path("video000001.avi");
    // About 30 frames and their sound.
    ASSERT_TRUE(KilledRecording(path, 5'000'000, [&] {
        // Still being written: not unfinished, not touched.
        EXPECT_EQ(RepairRecording(path), TRecordingState::InUse);
    }));
    const TAviProbe killed = ProbeAvi(path, true);
    const int64_t recorded = FramesRead(killed);
    ASSERT_GE(recorded, 20) << killed.Text().toStdString();
    EXPECT_FALSE(killed.Complete()) << "the header was complete";

    EXPECT_EQ(RepairRecording(path), TRecordingState::Repaired);
    const TAviProbe repaired = ProbeAvi(path, true);
    EXPECT_TRUE(repaired.Complete()) << repaired.Text().toStdString();
    EXPECT_EQ(repaired.Count(QStringLiteral("video")), 1);
    EXPECT_EQ(repaired.Count(QStringLiteral("audio")), 1);
    EXPECT_GE(FramesRead(repaired), recorded * 9 / 10);
    EXPECT_EQ(int64_t(repaired.totalFrames), FramesRead(repaired));
    ExpectLastsAsItsFrames(repaired);

    // Complete now: a second look changes nothing.
    const QByteArray once = Checksum(path);
    EXPECT_EQ(RepairRecording(path), TRecordingState::Complete);
    EXPECT_EQ(Checksum(path), once);
}

TEST_F(RecordingRepair, ARepairCutOffInTurnIsDoneAgainAtTheNextStart) {
    const QString path = Path("video000001.avi");
    ASSERT_TRUE(KilledRecording(path, 3'000'000));
    const QString original = Path("original");
    ASSERT_TRUE(QFile::copy(path, original));
    ASSERT_EQ(RepairRecording(path), TRecordingState::Repaired);
    const QString repaired = ProbeAvi(path, true).Text();

    // Cut off after the index was written, before the header was: the
    // header as the multiplexer left it, over the repaired file.
    QFile in(original), out(path);
    ASSERT_TRUE(in.open(QIODevice::ReadOnly) && out.open(QIODevice::ReadWrite));
    const QByteArray header = in.read(4096);
    ASSERT_TRUE(out.seek(0));
    ASSERT_EQ(out.write(header.left(header.indexOf("movi") + 4)), header.indexOf("movi") + 4);
    out.close();
    EXPECT_FALSE(ProbeAvi(path).Complete());

    EXPECT_EQ(RepairRecording(path), TRecordingState::Repaired);
    EXPECT_EQ(ProbeAvi(path, true).Text(), repaired);
}

TEST_F(RecordingRepair, OnlyUnfinishedRecordingsOfItsOwnNumberingAreTouched) {
    const QString killed = Path("killed");
    ASSERT_TRUE(KilledRecording(killed, 2'000'000));
    // Unfinished recordings: one to repair, one cut off inside its header.
    ASSERT_TRUE(QFile::copy(killed, Path("video000001.avi")));
    ASSERT_TRUE(CopyPart(killed, Path("video000003.avi"), 700));
    // A complete recording, unfinished files that are not the program's
    // (other names), and a file that is no AVI at all under its numbering.
    ASSERT_TRUE(CompleteRecording(Path("video000002.avi")));
    for (const char* name :
         {"clip.avi", "video12345.avi", "Video000004.avi", "video000005.avi.part"})
        ASSERT_TRUE(QFile::copy(killed, Path(name)));
    {
        QFile text(Path("video000006.avi"));
        ASSERT_TRUE(text.open(QIODevice::WriteOnly));
        text.write("not a video, whatever its name says\n");
    }
    // An empty file holds nothing to save: not worth a word.
    ASSERT_TRUE(QFile(Path("video000007.avi")).open(QIODevice::WriteOnly));
    std::map<QString, QByteArray> before;
    for (const QString& name : QDir(dir.path()).entryList(QDir::Files))
        before[name] = Checksum(dir.filePath(name));

    const TFolderRepair named = RepairUnfinishedRecordings(dir.path());
    EXPECT_EQ(named.unrepairable, QStringList{Path("video000003.avi")});
    EXPECT_TRUE(named.damaged.isEmpty());

    for (const auto& [name, sum] : before) {
        if (name == QLatin1String("video000001.avi"))
            EXPECT_NE(Checksum(dir.filePath(name)), sum);
        else
            EXPECT_EQ(Checksum(dir.filePath(name)), sum) << name.toStdString();
    }
    EXPECT_EQ(int64_t(ProbeAvi(Path("video000001.avi")).totalFrames),
              FramesRead(ProbeAvi(killed, true)));
    EXPECT_EQ(RepairRecording(Path("video000003.avi")), TRecordingState::Unrepairable);
    // The same file open in another process (another copy of the program
    // that has just started that recording): in use, not named.
    QProcess holder;
    holder.start(
        QStringLiteral("sh"),
        {QStringLiteral("-c"), QStringLiteral("exec 3<\"$0\"; sleep 30"), Path("video000003.avi")});
    ASSERT_TRUE(holder.waitForStarted());
    EXPECT_TRUE(QTest::qWaitFor(
        [&] { return RepairRecording(Path("video000003.avi")) == TRecordingState::InUse; }, 5000));
    EXPECT_TRUE(RepairUnfinishedRecordings(dir.path()).unrepairable.isEmpty());
    holder.kill();
    holder.waitForFinished();
    EXPECT_TRUE(IsRecordingName(QStringLiteral("video0000001.avi")));
    EXPECT_FALSE(IsRecordingName(QStringLiteral("video00001.avi")));
}

// The program's own recording, being written, is never touched: neither
// when the repair finds it under a name it listed (a file moved away frees
// its number, and the next recording takes it), nor when the recording
// starts between the repair's reading and its writing. Once the program
// lets go of it, it is repaired as any other.
TEST_F(RecordingRepair, ARecordingThisProgramWritesIsNeverTouched) {
    const QString path = Path("video000001.avi");
    ASSERT_TRUE(KilledRecording(path, 2'000'000));
    const QByteArray sum = Checksum(path);
    {
        const TFileBeingWritten writing(path);
        ASSERT_TRUE(writing.Marked());
        EXPECT_EQ(RepairRecording(path), TRecordingState::InUse);
        EXPECT_TRUE(RepairUnfinishedRecordings(dir.path()).unrepairable.isEmpty());
    }
    std::unique_ptr<TFileBeingWritten> startedMeanwhile;
    const TRecordingDisk startingMeanwhile = [&](TRecordingFileStep step) {
        if (step == TRecordingFileStep::Take)
            startedMeanwhile = std::make_unique<TFileBeingWritten>(path);
        return true;
    };
    EXPECT_EQ(RepairRecording(path, startingMeanwhile), TRecordingState::InUse);
    EXPECT_EQ(Checksum(path), sum);
    startedMeanwhile.reset();
    EXPECT_EQ(RepairRecording(path), TRecordingState::Repaired);
}

// Another user's running program writes the recording; this program, as a
// second user, cannot see it among its processes and leaves the file byte
// for byte, whether the writer holds it open through a pause longer than the
// settling time or opens it for each write; and another user's file is left
// alone. The users (ids of no account) are taken in forked children: root only.
TEST_F(RecordingRepair, ARecordingAnotherUsersProgramWritesIsLeftByteForByte) {
    if (::geteuid() != 0)
        GTEST_SKIP() << "needs root, to run the writer and the program as two users";
    constexpr uid_t kProgram = 64101, kWriter = 64102;
    ASSERT_TRUE(KilledRecording(Path("whole"), 2'000'000));
    const QByteArray whole = ReadAll(Path("whole"));
    const int64_t half = MoviChunks(whole)[MoviChunks(whole).size() / 2].pos;
    const QByteArray path = QFile::encodeName(Path("video000001.avi"));
    ASSERT_EQ(::chmod(QFile::encodeName(dir.path()).constData(), 0777), 0);
    // `work` as `user` in a child that ends within 30 s.
    const auto asUser = [](uid_t user, const std::function<int()>& work) {
        const pid_t child = ::fork();
        if (child == 0 && ::alarm(30) == 0)
            ::_exit(::setresgid(user, user, user) || ::setresuid(user, user, user) ? 99 : work());
        return child;
    };
    const auto exitOf = [](pid_t child) {
        int status = 0;
        return ::waitpid(child, &status, 0) == child && WIFEXITED(status) ? WEXITSTATUS(status)
                                                                          : -1;
    };
    const struct {
        uid_t owner;
        bool holdsOpen;
        TRecordingState state;
    } cases[] = {{kProgram, true, TRecordingState::InUse},
                 {kProgram, false, TRecordingState::InUse},
                 {kWriter, false, TRecordingState::OthersFile}};
    for (const auto& c : cases) {
        SCOPED_TRACE(testing::Message() << "owner " << c.owner << ", held open " << c.holdsOpen);
        ASSERT_TRUE(WriteAll(Path("video000001.avi"), whole.left(half)));
        ASSERT_EQ(::chown(path.constData(), c.owner, c.owner) | ::chmod(path.constData(), 0666), 0);
        const pid_t writer = asUser(kWriter, [&] {
            int fd = c.holdsOpen ? ::open(path.constData(), O_WRONLY | O_APPEND) : -1;
            ::sleep(c.holdsOpen ? 3 : 0);
            for (int64_t at = half; at < whole.size(); at += 20000) {
                if (!c.holdsOpen)
                    ::usleep(100'000), fd = ::open(path.constData(), O_WRONLY | O_APPEND);
                if (::write(fd, whole.constData() + at,
                            size_t(std::min<int64_t>(20000, whole.size() - at))) < 0)
                    return 1;
                if (!c.holdsOpen)
                    ::close(fd);
            }
            return 0;
        });
        ::usleep(1'500'000);
        EXPECT_EQ(
            exitOf(asUser(kProgram, [&] { return int(RepairRecording(Path("video000001.avi"))); })),
            int(c.state));
        EXPECT_EQ(exitOf(writer), 0);
        EXPECT_TRUE(ReadAll(Path("video000001.avi")) == whole);
    }
}

TEST_F(RecordingRepair, ARecordingPastItsFirstGigabyteKeepsEveryPart) {
    // Past the first gigabyte the multiplexer goes on in extension parts
    // (OpenDML); raw high-definition frames get there in seconds.
    if (QStorageInfo(dir.path()).bytesAvailable() < 2'500'000'000)
        GTEST_SKIP() << "needs 2.5 GB of free space in " << dir.path().toStdString();
    const QString path = Path("video000001.avi");
    ASSERT_TRUE(KilledRecording(path, 1'200'000'000, {}, TSource::Fast));
    const int64_t recorded = FramesRead(ProbeAvi(path, true));
    ASSERT_GT(recorded, 600);

    EXPECT_EQ(RepairRecording(path), TRecordingState::Repaired);
    const TAviProbe repaired = ProbeAvi(path, true);
    EXPECT_TRUE(repaired.Complete()) << repaired.Text().toStdString();
    EXPECT_GE(FramesRead(repaired), recorded * 9 / 10);
    // Every part counts in the length, not the first one alone.
    ExpectLastsAsItsFrames(repaired);
    EXPECT_EQ(RepairRecording(path), TRecordingState::Complete);
}

// The list of recordings already named is replaced when it is written (a
// link in its place is replaced, what it leads to is untouched) and read
// with a bound: a file larger than any list counts as an empty list.
TEST_F(RecordingRepair, TheListOfNamedRecordingsIsReplacedNeverWrittenThroughALink) {
    QTemporaryDir elsewhere;
    const QString list = Path("Pomvira.unrepairable");
    const QString recording = Path("video000001.avi");
    const QString target = elsewhere.filePath(QStringLiteral("precious"));
    ASSERT_TRUE(WriteAll(recording, QByteArray("RIFF", 4)));
    ASSERT_TRUE(WriteAll(target, "precious"));
    ASSERT_TRUE(QFile::link(target, list));
    TNamedRecordings named(list);
    EXPECT_EQ(named.NotNamedBefore({recording}), QStringList{recording});
    ASSERT_TRUE(named.Remember({recording}));
    EXPECT_EQ(ReadAll(target), "precious");
    EXPECT_FALSE(QFileInfo(list).isSymLink());
    EXPECT_TRUE(named.NotNamedBefore({recording}).isEmpty());

    // The same line, then more than a list ever holds.
    const QByteArray line = ReadAll(list);
    ASSERT_FALSE(line.isEmpty());
    ASSERT_TRUE(WriteAll(list, line + QByteArray(TNamedRecordings::kLargestList, '\n')));
    EXPECT_EQ(named.NotNamedBefore({recording}), QStringList{recording});
    // Nothing left to name: a list that existed is emptied, none is made.
    ASSERT_TRUE(named.Remember({}));
    EXPECT_TRUE(ReadAll(list).isEmpty());
    ASSERT_TRUE(QFile::remove(list));
    ASSERT_TRUE(named.Remember({}));
    EXPECT_FALSE(QFileInfo::exists(list));
}

class RecordingRepairAtStart : public ControlFormTestBase {
  protected:
    // The repair runs in the background once the windows are shown: what it
    // has to tell comes when it ends.
    static void WaitForRepair(const TControlForm& form) {
        ASSERT_TRUE(QTest::qWaitFor([&] { return !form.RepairingRecordings(); }, 120000));
    }
    // The program started and ended once the repair has told what it had to.
    static void StartUntilRepaired() {
        TControlForm form;
        WaitForRepair(form);
    }
};

TEST_F(RecordingRepairAtStart, TheProgramRepairsItsVideoFolderAndNamesWhatItCannotSave) {
    UseOwnSaveFolders();
    const QString repairable = VideoFolder() + QStringLiteral("/video000001.avi");
    const QString lost = VideoFolder() + QStringLiteral("/video000002.avi");
    ASSERT_TRUE(KilledRecording(repairable, 2'000'000));
    ASSERT_TRUE(CopyPart(repairable, lost, 100));
    const QByteArray lostSum = Checksum(lost);
    {
        TControlForm form;
        EXPECT_TRUE(form.ViewForm()->isVisible());
        EXPECT_TRUE(boxes.empty()) << "named before the windows were shown";
        ASSERT_NO_FATAL_FAILURE(WaitForRepair(form));
        ASSERT_EQ(boxes.size(), 1u);
        EXPECT_TRUE(boxes[0].contains(lost)) << FirstBox();
        EXPECT_FALSE(boxes[0].contains(repairable)) << FirstBox();
        EXPECT_TRUE(form.ViewForm()->isVisible());
    }
    EXPECT_TRUE(ProbeAvi(repairable).Complete());
    EXPECT_EQ(Checksum(lost), lostSum);
}

TEST_F(RecordingRepairAtStart, EachUnrepairableRecordingIsNamedOnceUntilItChanges) {
    UseOwnSaveFolders();
    const QString lost = VideoFolder() + QStringLiteral("/video000002.avi");
    ASSERT_TRUE(WriteAll(lost, QByteArray("RIFF", 4)));
    ASSERT_NO_FATAL_FAILURE(StartUntilRepaired());
    ASSERT_EQ(boxes.size(), 1u);
    EXPECT_TRUE(boxes[0].contains(lost)) << FirstBox();
    ASSERT_NO_FATAL_FAILURE(StartUntilRepaired());
    EXPECT_EQ(boxes.size(), 1u) << "named again at the next start";
    // Changed (here: grown), it is another file: named again.
    ASSERT_TRUE(WriteAll(lost, QByteArray("RIFF\0\0", 6)));
    ASSERT_NO_FATAL_FAILURE(StartUntilRepaired());
    ASSERT_EQ(boxes.size(), 2u);
    EXPECT_TRUE(boxes[1].contains(lost));
}

// The message stays until the user answers it (a box taken away without an
// answer comes back), and its files count as told only then. Files the
// repair failed on and could not put back are named as such.
TEST_F(RecordingRepairAtStart, TheMessageStaysUntilAnsweredAndOnlyThenCountsAsTold) {
    UseOwnSaveFolders();
    const QString damaged = VideoFile(1);
    const QString lost = VideoFile(2);
    ASSERT_TRUE(KilledRecording(damaged, 2'000'000));
    ASSERT_TRUE(WriteAll(lost, QByteArray("RIFF", 4)));
    const QString list = TNamedRecordings(QStringLiteral("Pomvira.unrepairable")).FileName();
    // A disk that fails the repair's flush and the undoing of its writes.
    services.RecordingDisk = [](TRecordingFileStep step) {
        return step != TRecordingFileStep::Sync && step != TRecordingFileStep::UndoWrite &&
               step != TRecordingFileStep::UndoTruncate;
    };
    SetMessageBoxHook([&](const TMessageBoxRequest& r) {
        boxes.push_back(r.text);
        EXPECT_FALSE(QFile::exists(list)) << "told before the answer";
        return boxes.size() < 3 ? QMessageBox::NoButton : QMessageBox::Ok;
    });
    ASSERT_NO_FATAL_FAILURE(StartUntilRepaired());
    services.RecordingDisk = {};
    ASSERT_EQ(boxes.size(), 3u);
    EXPECT_EQ(boxes[1], boxes[0]);
    EXPECT_EQ(boxes[2], boxes[0]);
    EXPECT_TRUE(boxes[0].contains(lost)) << FirstBox();
    EXPECT_TRUE(boxes[0].contains(damaged)) << FirstBox();
    EXPECT_TRUE(boxes[0].contains(QStringLiteral("n'a pas pu les remettre tels qu'ils étaient")))
        << FirstBox();
    EXPECT_TRUE(QFile::exists(list));
    ASSERT_NO_FATAL_FAILURE(StartUntilRepaired());
    EXPECT_EQ(boxes.size(), 3u) << "named again once answered";
}

TEST_F(RecordingRepairAtStart, ManyUnrepairableRecordingsMakeOneMessageThatFitsTheScreen) {
    UseOwnSaveFolders();
    for (int n = 1; n <= 3000; ++n)
        ASSERT_TRUE(WriteAll(VideoFile(n), QByteArray("RIFF", 4)));
    ASSERT_NO_FATAL_FAILURE(StartUntilRepaired());
    ASSERT_EQ(boxes.size(), 1u);
    EXPECT_TRUE(boxes[0].contains(QStringLiteral("3000"))) << FirstBox();
    EXPECT_TRUE(boxes[0].contains(VideoFile(1))) << FirstBox();
    EXPECT_FALSE(boxes[0].contains(VideoFile(3000))) << FirstBox();
    EXPECT_LE(boxes[0].count(QLatin1Char('\n')), 16) << FirstBox();
}

// A folder whose name is not UTF-8 (here Latin-1) is a valid folder on
// Linux: it is used as it is and kept in the settings file byte for byte.
TEST_F(RecordingRepairAtStart, AFolderNameThatIsNotUtf8IsUsedAndKeptByteForByte) {
    UseOwnSaveFolders();
    const QByteArray folder = EncodeFileName(programDir.path()) + "/vid\xe9os";
    ASSERT_EQ(::mkdir(folder.constData(), 0755), 0);
    QByteArray settings = ReadAll(Ini().FileName());
    const QByteArray shown = EncodeFileName(VideoFolder());
    ASSERT_TRUE(settings.contains(shown));
    settings.replace(shown, folder);
    ASSERT_TRUE(WriteAll(Ini().FileName(), settings));
    const QByteArray lost = folder + "/video000001.avi";
    {
        // Qt's own file names cannot hold it: the system's calls can.
        const int fd = ::open(lost.constData(), O_WRONLY | O_CREAT | O_EXCL, 0644);
        ASSERT_GE(fd, 0);
        ASSERT_EQ(::write(fd, "RIFF", 4), 4);
        ::close(fd);
    }
    {
        TControlForm form;
        ASSERT_NO_FATAL_FAILURE(WaitForRepair(form));
        ASSERT_EQ(boxes.size(), 1u);
        EXPECT_EQ(EncodeFileName(boxes[0]).count(lost), 1) << FirstBox();
    }
    EXPECT_TRUE(ReadAll(Ini().FileName()).contains("VIDEO FOLDER=" + folder + "\n"))
        << ReadAll(Ini().FileName()).toStdString();
}

// A cut-off recording of a million small chunks (some 400 MB): the windows
// come first, and the program takes input while the repair runs; a new
// recording meanwhile takes the next number, never the one being repaired.
TEST_F(RecordingRepairAtStart, AMillionChunkRecordingIsRepairedWithTheWindowsShownFirst) {
    constexpr int64_t kChunks = 1'080'070;
    constexpr uint32_t kData = 384;
    UseOwnSaveFolders();
    if (QStorageInfo(VideoFolder()).bytesAvailable() < 1'500'000'000)
        GTEST_SKIP() << "needs 1.5 GB of free space in " << VideoFolder().toStdString();
    // The program's header, from a recording cut off for real; then the
    // chunks, one video frame for every three sound chunks, the last one
    // cut short.
    const QString path = VideoFile(1);
    ASSERT_TRUE(KilledRecording(path, 200'000));
    const QByteArray killed = ReadAll(path);
    const int64_t movi = MoviPosition(killed);
    ASSERT_GT(movi, 0);
    QByteArray pattern;
    for (const char* id : {"00dc", "01wb", "01wb", "01wb"}) {
        pattern += QByteArray(id, 4);
        const uint32_t size = kData;
        pattern += QByteArray(reinterpret_cast<const char*>(&size), 4);
        pattern += QByteArray(kData, char(0x55));
    }
    {
        QFile out(path);
        ASSERT_TRUE(out.open(QIODevice::WriteOnly | QIODevice::Truncate));
        ASSERT_EQ(out.write(killed.left(movi + 12)), movi + 12);
        QByteArray block;
        for (int i = 0; i < 2048; ++i)
            block += pattern;
        int64_t written = 0;
        for (; written + 2048 * 4 <= kChunks; written += 2048 * 4)
            ASSERT_EQ(out.write(block), block.size());
        const int64_t rest = (kChunks - written) * (8 + kData);
        ASSERT_EQ(out.write(block.left(rest)), rest);
        ASSERT_EQ(out.write(pattern.left(100)), 100);
    }
    // Read once, as a user's recent recording is in the cache.
    ASSERT_FALSE(Checksum(path).isEmpty());

    QElapsedTimer clock;
    clock.start();
    TControlForm form;
    form.show();
    // Both windows are up while the repair has not yet ended.
    EXPECT_TRUE(form.RepairingRecordings());
    EXPECT_TRUE(form.ViewForm()->isVisible());
    EXPECT_TRUE(form.isVisible());
    EXPECT_EQ(
        form.NextFileName(false, QStringLiteral("video"), QStringLiteral("avi")).toStdString(),
        VideoFile(2).toStdString());
    // Input is taken meanwhile.
    form.actExpand->Execute();
    EXPECT_TRUE(PanelState(form).Expanded);
    // A repair that takes longer than a second shows its progress bar.
    bool ranLong = false, barShown = false;
    ASSERT_TRUE(QTest::qWaitFor(
        [&] {
            if (form.RepairingRecordings() && clock.elapsed() > 1300) {
                ranLong = true;
                auto* bar = form.findChild<QWidget*>(QStringLiteral("RepairProgress"));
                barShown |= bar && bar->isVisible();
            }
            return !form.RepairingRecordings();
        },
        120000));
    EXPECT_TRUE(barShown || !ranLong) << "no progress bar after a second";
    EXPECT_TRUE(boxes.empty()) << FirstBox();
    EXPECT_EQ(form.findChild<QWidget*>(QStringLiteral("RepairProgress")), nullptr)
        << "the progress bar stays after the repair";

    const TAviProbe probe = ProbeAvi(path);
    EXPECT_TRUE(probe.Complete()) << probe.Text().toStdString();
    EXPECT_EQ(int64_t(probe.totalFrames), (kChunks + 3) / 4);
    EXPECT_EQ(RepairRecording(path), TRecordingState::Complete);
}
