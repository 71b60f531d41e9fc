// SPDX-License-Identifier: GPL-3.0-or-later
// Damaged, hostile and strange files where the repair looks for unfinished
// recordings: it must keep every frame that can be read, step over damage,
// write nowhere but the fields it sets and the index it appends, leave
// alone and name what it cannot account for, and never leave its folder or
// wait on a FIFO. Recordings come from GStreamer's AVI multiplexer (as the
// program records) and from ffmpeg; frames are counted by ffprobe or read
// back from the index by the tests' own RIFF reading.
#include <QCryptographicHash>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QProcess>
#include <QStorageInfo>
#include <QTemporaryDir>
#include <chrono>
#include <csignal>
#include <cstring>
#include <fcntl.h>
#include <future>
#include <optional>
#include <gtest/gtest.h>
#include <random>
#include <sys/inotify.h>
#include <sys/resource.h>
#include <sys/sysmacros.h>
#include <sys/stat.h>
#include <unistd.h>

#include "AviProbe.h"
#include "files/RecordingFile.h"
#include "files/RecordingRepair.h"
#include "TestRecordings.h"

namespace {

void Put32(QByteArray& b, int64_t pos, uint32_t v) {
    for (int i = 0; i < 4; ++i)
        b[qsizetype(pos + i)] = char(v >> (8 * i));
}
uint32_t Get32(const QByteArray& b, int64_t pos) {
    uint32_t v = 0;
    for (int i = 3; i >= 0; --i)
        v = v << 8 | uint8_t(b[qsizetype(pos + i)]);
    return v;
}

// The names of the files opened in the watched folders, as the system told
// them since the watch began.
std::set<std::string> OpenedNames(int watch) {
    std::set<std::string> names;
    alignas(inotify_event) char buffer[4096];
    for (ssize_t n; (n = ::read(watch, buffer, sizeof buffer)) > 0;) {
        for (ssize_t at = 0; at < n;) {
            const auto* event = reinterpret_cast<const inotify_event*>(buffer + at);
            if (event->len > 0)
                names.insert(event->name);
            at += ssize_t(sizeof(inotify_event) + event->len);
        }
    }
    return names;
}

// The byte ranges the repair may change in a file whose first part it
// repairs: the RIFF and 'movi' sizes, the counts and lengths in the main
// header, the stream headers and the OpenDML header, and the slot of a
// stream's super index, as the file's own lists place them; the size of a
// chunk its index names (set to the index's); and everything from the end
// of the 'movi' list on, where the index goes.
class TAllowedChanges {
  public:
    explicit TAllowedChanges(const QByteArray& file) : file_(file) {
        ranges_.push_back({4, 8});
        const int64_t movi = MoviPosition(file);
        if (movi >= 0)
            ranges_.push_back({movi + 4, movi + 8});
        Walk(12, movi >= 0 ? movi : file.size(), false);
    }
    // The first byte changed where no change may be, or -1.
    int64_t FirstForbidden(const QByteArray& after, int64_t indexAt) {
        for (int64_t frame : IndexedFrames(after))
            ranges_.push_back({frame + 4, frame + 8});
        const int64_t n = std::min<int64_t>(file_.size(), std::min<int64_t>(after.size(), indexAt));
        const char* a = file_.constData();
        const char* b = after.constData();
        for (int64_t i = 0; i < n; ++i) {
            const auto differ = std::mismatch(a + i, a + n, b + i);
            i = differ.first - a;
            if (i < n && !Allowed(i))
                return i;
        }
        return -1;
    }

  private:
    bool Allowed(int64_t i) const {
        return std::any_of(ranges_.begin(), ranges_.end(),
                           [i](const auto& r) { return i >= r.first && i < r.second; });
    }
    void Walk(int64_t from, int64_t to, bool streamList) {
        for (int64_t pos = from; pos + 8 <= to;) {
            const QByteArray id = file_.mid(pos, 4);
            const uint32_t size = Get32(file_, pos + 4);
            const int64_t end = std::min<int64_t>(pos + 8 + int64_t(size), to);
            if (id == "LIST" && size >= 4)
                Walk(pos + 12, end, file_.mid(pos + 8, 4) == "strl");
            else if (streamList && (id == "JUNK" || id == "indx"))
                ranges_.push_back({pos, end});
            else if (id == "avih")
                ranges_.push_back({pos + 8 + 12, std::min(end, pos + 8 + 20)});
            else if (id == "strh")
                ranges_.push_back({pos + 8 + 32, std::min(end, pos + 8 + 40)});
            else if (id == "dmlh")
                ranges_.push_back({pos + 8, std::min(end, pos + 12)});
            pos = pos + 8 + int64_t(size) + (size & 1);
        }
    }
    QByteArray file_;
    std::vector<std::pair<int64_t, int64_t>> ranges_;
};

// Where the repaired file's index begins: the end of its 'movi' list.
int64_t IndexPosition(const QByteArray& repaired) {
    const int64_t movi = MoviPosition(repaired);
    return movi < 0 ? repaired.size() : movi + 8 + int64_t(Get32(repaired, movi + 4));
}

// A recording cut off inside a chunk: the complete file up to `keep` bytes
// before its index.
QByteArray CutBeforeIndex(const QByteArray& complete, int64_t keep) {
    return complete.left(IndexPosition(complete) - keep);
}

// A recording that went on in an extension part (as past the first
// gigabyte, here after a few frames) and was cut off there: the first
// part's frames and index, then the extension part's frames.
QByteArray TwoParts(const QByteArray& complete) {
    const std::vector<TAviChunk> chunks = MoviChunks(complete);
    const size_t split = chunks.size() / 2;
    QByteArray file = complete.left(chunks[split].pos);
    file += QByteArray("idx1\0\0\0\0", 8);
    QByteArray part("RIFF\0\0\0\0AVIXLIST\0\0\0\0movi", 24);
    file += part + complete.mid(chunks[split].pos, chunks.back().pos + 100 - chunks[split].pos);
    return file;
}

QString Md5(const QByteArray& bytes) {
    return QCryptographicHash::hash(bytes, QCryptographicHash::Md5).toHex();
}

// The hashes of a file's video frames as a reader gives them: the lines it
// prints, run by the shell with the file as $0 and an empty folder as $1.
QStringList Frames(const QString& path, const char* reader) {
    const QTemporaryDir out;
    QProcess shell;
    shell.start("sh", {"-c", reader, path, out.path()});
    shell.waitForFinished(120000);
    return QString::fromLatin1(shell.readAllStandardOutput()).split('\n', Qt::SkipEmptyParts);
}
const char* const kFfmpegPackets =
    "ffmpeg -v error -i \"$0\" -map 0:v:0 -c copy -f framemd5 - "
    "| sed -n 's/^[0-9].*, //p'";
const char* const kFfmpegPictures =
    "ffmpeg -v error -i \"$0\" -map 0:v:0 -f framemd5 - | sed -n 's/^[0-9].*, //p'";
const char* const kGstPackets =
    "gst-launch-1.0 -q filesrc location=\"$0\" ! avidemux name=d d.video_0 ! "
    "multifilesink location=\"$1/%06d\" && md5sum \"$1\"/* | cut -c1-32";

class DamagedRecording : public ::testing::Test {
  protected:
    static void SetUpTestSuite() {
        dir_ = new QTemporaryDir;
        const QString killed = dir_->filePath(QStringLiteral("killed.avi"));
        const QString complete = dir_->filePath(QStringLiteral("complete.avi"));
        const QString ffmpeg = dir_->filePath(QStringLiteral("ffmpeg.avi"));
        // About ten frames and their sound, the header as the multiplexer
        // leaves it while recording.
        ASSERT_TRUE(KilledRecording(killed, 1'500'000));
        ASSERT_TRUE(CompleteRecording(complete));
        ASSERT_TRUE(FfmpegRecording(ffmpeg));
        killed_ = new QByteArray(ReadAll(killed));
        complete_ = new QByteArray(ReadAll(complete));
        ffmpeg_ = new QByteArray(ReadAll(ffmpeg));
    }
    static void TearDownTestSuite() {
        delete killed_;
        delete complete_;
        delete ffmpeg_;
        delete dir_;
    }

    QString Write(const char* name, const QByteArray& bytes) {
        const QString path = dir.filePath(QLatin1String(name));
        EXPECT_TRUE(WriteAll(path, bytes));
        return path;
    }
    // Repairs `bytes` as a file of the folder: the state, and the file after.
    TRecordingState Repair(const QByteArray& bytes, QByteArray* after = nullptr) {
        const QString path = Write("video000001.avi", bytes);
        const TRecordingState state = RepairRecording(path);
        if (after)
            *after = ReadAll(path);
        return state;
    }
    // The frames ffprobe reads in the repaired file.
    int64_t FramesAfterRepair(const QByteArray& bytes) {
        QByteArray after;
        if (Repair(bytes, &after) != TRecordingState::Repaired)
            return -1;
        const TAviProbe probe = ProbeAvi(dir.filePath(QStringLiteral("video000001.avi")), true);
        const TAviStream* video = probe.Stream("video");
        return video ? video->frames : -1;
    }

    // Repairs `file`: either it is repaired, every frame at `kept` is in
    // its index and nothing changed but the repair's fields and the index
    // it appends, or it is left byte for byte. The state is given back.
    void ExpectKeptOrLeftAlone(const QByteArray& file, const std::vector<int64_t>& kept,
                               TRecordingState* state = nullptr) {
        QByteArray after;
        const TRecordingState repair = Repair(file, &after);
        if (state)
            *state = repair;
        if (repair != TRecordingState::Repaired) {
            ASSERT_EQ(after, file) << int(repair);
            return;
        }
        int bad = 0;
        const std::set<int64_t> indexed = IndexedFrames(after, &bad);
        ASSERT_EQ(bad, 0);
        for (int64_t pos : kept)
            ASSERT_EQ(indexed.count(pos), 1u) << "lost the frame at " << pos;
        ASSERT_EQ(TAllowedChanges(file).FirstForbidden(after, IndexPosition(after)), -1);
        ASSERT_LE(after.size(), std::max<int64_t>(file.size(), IndexPosition(after)) + 8 +
                                    16 * int64_t(indexed.size()));
        ASSERT_EQ(RepairRecording(dir.filePath(QStringLiteral("video000001.avi"))),
                  TRecordingState::Complete);
    }

    QTemporaryDir dir;
    static QTemporaryDir* dir_;
    static QByteArray* killed_;
    static QByteArray* complete_;
    static QByteArray* ffmpeg_;
};

QTemporaryDir* DamagedRecording::dir_ = nullptr;
QByteArray* DamagedRecording::killed_ = nullptr;
QByteArray* DamagedRecording::complete_ = nullptr;
QByteArray* DamagedRecording::ffmpeg_ = nullptr;

}  // namespace

TEST_F(DamagedRecording, ADamagedChunkHeaderAmidTheFramesIsSteppedOverAndWhatFollowsKept) {
    const QByteArray& base = *killed_;
    const std::vector<TAviChunk> chunks = MoviChunks(base);
    ASSERT_GE(chunks.size(), 10u);
    const int64_t intact = FramesAfterRepair(base);
    ASSERT_GE(intact, 5);
    // A video frame in the middle.
    size_t middle = chunks.size() / 2;
    while (!chunks[middle].IsVideo())
        ++middle;
    const TAviChunk& hit = chunks[middle];
    struct TCase {
        const char* what;
        int64_t offset;
        uint32_t flip;
    };
    for (const TCase& c :
         {TCase{"size far past the file's end", 4, 1u << 28},
          TCase{"size a little larger", 4, 1u << 12}, TCase{"size smaller", 4, 1u << 4},
          TCase{"size odd", 4, 1}, TCase{"id", 0, 1u << 9}}) {
        SCOPED_TRACE(c.what);
        QByteArray damaged = base;
        Put32(damaged, hit.pos + c.offset, Get32(damaged, hit.pos + c.offset) ^ c.flip);
        QByteArray after;
        ASSERT_EQ(Repair(damaged, &after), TRecordingState::Repaired);
        // Every frame but the damaged one is in the index; no frame moved.
        const std::set<int64_t> indexed = IndexedFrames(after);
        for (const TAviChunk& chunk : chunks) {
            if (chunk.pos != hit.pos) {
                EXPECT_EQ(indexed.count(chunk.pos), 1u) << chunk.pos;
            }
        }
        EXPECT_EQ(TAllowedChanges(damaged).FirstForbidden(after, IndexPosition(after)), -1);
        EXPECT_GE(FramesAfterRepair(damaged), intact - 1);
    }
}

TEST_F(DamagedRecording, HostileSizesInTheHeaderAreCheckedAgainstTheirListBeforeAnyWrite) {
    const QByteArray& base = *killed_;
    const int64_t intact = FramesAfterRepair(base);
    // The reserved slot (JUNK) of the first stream's header list.
    const int64_t slot = base.indexOf("JUNK", 12);
    ASSERT_GT(slot, 0);
    ASSERT_LT(slot, MoviPosition(base));
    for (uint32_t size : {0x100000u, 0xFFFFFFF0u, 0x7FFFFFFFu}) {
        SCOPED_TRACE(size);
        QByteArray hostile = base;
        Put32(hostile, slot + 4, size);
        QByteArray after;
        const TRecordingState state = Repair(hostile, &after);
        if (state == TRecordingState::Repaired) {
            EXPECT_EQ(TAllowedChanges(hostile).FirstForbidden(after, IndexPosition(after)), -1);
            EXPECT_LT(after.size(), hostile.size() + 100'000);
            EXPECT_EQ(FramesAfterRepair(hostile), intact);
        } else {
            EXPECT_EQ(state, TRecordingState::Unrepairable);
            EXPECT_EQ(after, hostile);
        }
    }
    // Where the slot is filled: a recording in two parts.
    const QByteArray parts = TwoParts(*complete_);
    for (uint32_t size : {0x100000u, 0xFFFFFFF0u}) {
        SCOPED_TRACE(size);
        QByteArray hostile = parts;
        Put32(hostile, slot + 4, size);
        QByteArray after;
        const TRecordingState state = Repair(hostile, &after);
        const int64_t movi = MoviPosition(hostile);
        EXPECT_EQ(TAllowedChanges(hostile).FirstForbidden(after, movi + 12), -1);
        EXPECT_LT(after.size(), hostile.size() + 100'000);
        if (state != TRecordingState::Repaired) {
            EXPECT_EQ(after, hostile);
        }
    }
    // A stream's list that can no longer be told as one: its frames would
    // go unindexed.
    {
        QByteArray lost = base;
        lost[lost.indexOf("strl", lost.indexOf("strl") + 4) + 3] = 'X';
        QByteArray after;
        EXPECT_EQ(Repair(lost, &after), TRecordingState::Unrepairable);
        EXPECT_EQ(after, lost);
    }
    // Sizes of the header's lists that reach past the file or their list:
    // nothing can be placed, nothing is written.
    for (const char* list : {"hdrl", "strl"}) {
        QByteArray hostile = base;
        Put32(hostile, hostile.indexOf(list) - 4, 0xFFFFFFF0u);
        QByteArray after;
        EXPECT_EQ(Repair(hostile, &after), TRecordingState::Unrepairable) << list;
        EXPECT_EQ(after, hostile) << list;
    }
}

TEST_F(DamagedRecording, JoinedRecordingsAreLeftAsTheyAreAndNamed) {
    // Two complete recordings joined, and an unfinished one followed by a
    // complete one: what follows the first is another recording.
    for (const QByteArray& joined : {*complete_ + *ffmpeg_, *killed_ + *complete_,
                                     CutBeforeIndex(*complete_, 5) + *complete_}) {
        const QString path = Write("video000001.avi", joined);
        EXPECT_EQ(RepairUnfinishedRecordings(dir.path()).unrepairable, QStringList{path});
        EXPECT_EQ(ReadAll(path), joined);
    }
}

TEST_F(DamagedRecording, ARecordingWithoutAVideoFrameIsNamedAndLeftAlone) {
    // The multiplexer writes sound ahead of the picture: cut before the
    // first video frame, only sound is left.
    const std::vector<TAviChunk> chunks = MoviChunks(*killed_);
    const auto video =
        std::find_if(chunks.begin(), chunks.end(), [](const TAviChunk& c) { return c.IsVideo(); });
    ASSERT_NE(video, chunks.end());
    ASSERT_NE(video, chunks.begin()) << "no sound before the first frame";
    for (int64_t extra : {0, 6, 5000}) {
        const QByteArray soundOnly = killed_->left(video->pos + extra);
        const QString path = Write("video000001.avi", soundOnly);
        EXPECT_EQ(RepairUnfinishedRecordings(dir.path()).unrepairable, QStringList{path}) << extra;
        EXPECT_EQ(ReadAll(path), soundOnly) << extra;
    }
}

TEST_F(DamagedRecording, AWriteThatFailsLeavesTheFileAsItWas) {
    // A disk that fills up while the index is written (here a file size
    // limit a little above the file's size): cut off in a chunk's header,
    // the file grows by its index.
    const std::vector<TAviChunk> chunks = MoviChunks(*complete_);
    const QByteArray cut = complete_->left(chunks[chunks.size() - 3].End() + 5);
    const QString path = Write("video000001.avi", cut);
    rlimit saved{};
    ASSERT_EQ(getrlimit(RLIMIT_FSIZE, &saved), 0);
    const auto previous = std::signal(SIGXFSZ, SIG_IGN);
    rlimit small = saved;
    small.rlim_cur = rlim_t(cut.size() + 100);
    ASSERT_EQ(setrlimit(RLIMIT_FSIZE, &small), 0);
    const TRecordingState state = RepairRecording(path);
    setrlimit(RLIMIT_FSIZE, &saved);
    std::signal(SIGXFSZ, previous);
    EXPECT_EQ(state, TRecordingState::Unrepairable);
    EXPECT_EQ(ReadAll(path), cut);
    // With room, it is repaired.
    EXPECT_EQ(RepairRecording(path), TRecordingState::Repaired);
}

TEST_F(DamagedRecording, LinksFifosDevicesAndFoldersInThePlaceOfARecordingAreNeverOpened) {
    QTemporaryDir elsewhere;
    const QByteArray cut = CutBeforeIndex(*complete_, 3);
    const QString outside = elsewhere.filePath(QStringLiteral("recording.avi"));
    ASSERT_TRUE(WriteAll(outside, cut));
    const QByteArray fifo = QFile::encodeName(elsewhere.filePath(QStringLiteral("fifo")));
    ASSERT_EQ(::mkfifo(fifo.constData(), 0644), 0);
    const QByteArray folder = QFile::encodeName(dir.path());
    ASSERT_EQ(::symlink(fifo.constData(), (folder + "/video000001.avi").constData()), 0);
    ASSERT_EQ(::symlink(QFile::encodeName(outside).constData(),
                        (folder + "/video000002.avi").constData()),
              0);
    ASSERT_EQ(::mkfifo((folder + "/video000003.avi").constData(), 0644), 0);
    ASSERT_EQ(::mkdir((folder + "/video000004.avi").constData(), 0755), 0);
    // A repairable recording in a subfolder is not the folder's own.
    ASSERT_TRUE(QDir(dir.path()).mkpath(QStringLiteral("video000004.avi/inner")));
    ASSERT_TRUE(WriteAll(dir.filePath(QStringLiteral("video000004.avi/video000005.avi")), cut));
    // A device (the null device's numbers), where the test may make one.
    std::set<std::string> special = {"video000003.avi", "video000004.avi", "fifo"};
    if (::mknod((folder + "/video000006.avi").constData(), S_IFCHR | 0600, makedev(1, 3)) == 0)
        special.insert("video000006.avi");
    // Not one of them is opened (an open would release a FIFO's writer, or
    // act on a device): the system says what is opened in both folders.
    const int opens = ::inotify_init1(IN_NONBLOCK | IN_CLOEXEC);
    ASSERT_GE(opens, 0);
    for (const QByteArray& watched : {folder, QFile::encodeName(elsewhere.path())})
        ASSERT_GE(::inotify_add_watch(opens, watched.constData(), IN_OPEN), 0);

    auto repair =
        std::async(std::launch::async, [&] { return RepairUnfinishedRecordings(dir.path()); });
    if (repair.wait_for(std::chrono::seconds(30)) != std::future_status::ready) {
        // Hung in opening a FIFO: a writer lets it go on.
        for (const QByteArray& name : {fifo, folder + "/video000003.avi"}) {
            const int fd = ::open(name.constData(), O_WRONLY | O_NONBLOCK);
            if (fd >= 0)
                ::close(fd);
        }
        ADD_FAILURE() << "waits on a FIFO";
    }
    const TFolderRepair named = repair.get();
    EXPECT_TRUE(named.unrepairable.isEmpty());
    EXPECT_TRUE(named.damaged.isEmpty());
    for (const std::string& name : OpenedNames(opens))
        EXPECT_EQ(special.count(name), 0u) << name << " was opened";
    ::close(opens);
    EXPECT_EQ(ReadAll(outside), cut);
    EXPECT_EQ(ReadAll(dir.filePath(QStringLiteral("video000004.avi/video000005.avi"))), cut);
    EXPECT_EQ(RepairRecording(dir.filePath(QStringLiteral("video000002.avi"))),
              TRecordingState::NotARecording);
    EXPECT_EQ(ReadAll(outside), cut);
}

TEST_F(DamagedRecording, ZerosAfterTheLastFrameAreCutAndUnknownDataIsNot) {
    const std::vector<TAviChunk> chunks = MoviChunks(*complete_);
    const QByteArray frames = complete_->left(chunks[chunks.size() - 3].End());
    // A power cut may leave the file's end zero-filled.
    QByteArray after;
    ASSERT_EQ(Repair(frames + QByteArray(70'000, '\0'), &after), TRecordingState::Repaired);
    EXPECT_EQ(IndexedFrames(after).size(), chunks.size() - 2);
    // Data of no known kind after the frames stays, and so does the file.
    const QByteArray unknown = frames + QByteArray(5000, 'x');
    EXPECT_EQ(Repair(unknown, &after), TRecordingState::Unrepairable);
    EXPECT_EQ(after, unknown);
}

// A file whose only part holds frames past 4 GiB (here after a 4 GiB
// stretch of padding; the file is sparse) cannot be indexed: its offsets
// and sizes do not fit the format's 32 bits. It is left as it is, never
// written modulo 2^32.
TEST_F(DamagedRecording, FramesPastFourGigabytesInOnePartLeaveTheFileAsItIs) {
    const std::vector<TAviChunk> chunks = MoviChunks(*killed_);
    ASSERT_GE(chunks.size(), 8u);
    const int64_t split = chunks[4].pos;
    constexpr uint32_t kPadding = 0xFFFFF000u;
    QByteArray junk("JUNK", 4);
    junk += QByteArray(4, '\0');
    Put32(junk, 4, kPadding);
    const QByteArray before = killed_->left(split) + junk;
    const QByteArray after = killed_->mid(split);
    const QString path = dir.filePath(QStringLiteral("video000001.avi"));
    {
        QFile out(path);
        ASSERT_TRUE(out.open(QIODevice::WriteOnly));
        ASSERT_EQ(out.write(before), before.size());
        ASSERT_TRUE(out.seek(before.size() + kPadding));
        ASSERT_EQ(out.write(after), after.size());
    }
    struct stat st {};
    ASSERT_EQ(::stat(QFile::encodeName(path).constData(), &st), 0);
    if (int64_t(st.st_blocks) * 512 > 64 << 20)
        GTEST_SKIP() << "the file system keeps no sparse files";
    const int64_t size = st.st_size;
    ASSERT_GT(size, int64_t(1) << 32);

    EXPECT_EQ(RepairRecording(path), TRecordingState::Unrepairable);
    QFile in(path);
    ASSERT_TRUE(in.open(QIODevice::ReadOnly));
    EXPECT_EQ(in.size(), size);
    EXPECT_EQ(in.read(before.size()), before);
    ASSERT_TRUE(in.seek(before.size() + kPadding));
    EXPECT_EQ(in.readAll(), after);
}

// Between the repair's steps: someone appends to the file (opening,
// appending and closing it, without a lock), or the disk fails. What was
// appended is never cut off (appended before the repair takes the file to
// write it, the file is left alone), a failed repair is undone, and a file
// the undoing could not put back is reported as damaged, never as left as it
// was.
TEST_F(DamagedRecording, AppendersAndFailingDisksBetweenTheRepairsStepsCostNothing) {
    // Cut off in a chunk's header: the index makes the file longer.
    const std::vector<TAviChunk> chunks = MoviChunks(*complete_);
    const QByteArray cut = complete_->left(chunks[chunks.size() - 3].End() + 5);
    const QByteArray more = complete_->mid(chunks[0].pos, chunks[3].End() - chunks[0].pos);
    using S = TRecordingFileStep;
    struct TCase {
        const char* what;
        std::optional<S> append;
        std::set<S> failing;
        TRecordingState state;
    };
    const std::vector<TCase> cases = {
        {"appended as the file is taken", S::Take, {}, TRecordingState::InUse},
        {"appended before the cut", S::Truncate, {}, TRecordingState::Damaged},
        {"the flush fails", {}, {S::Sync}, TRecordingState::Unrepairable},
        {"the bytes cannot be put back", {}, {S::Sync, S::UndoWrite}, TRecordingState::Damaged},
        {"the size cannot be put back", {}, {S::Sync, S::UndoTruncate}, TRecordingState::Damaged},
    };
    for (const TCase& c : cases) {
        SCOPED_TRACE(c.what);
        const QString path = Write("video000001.avi", cut);
        bool appended = false;
        const TRecordingDisk disk = [&](S step) {
            if (step == c.append && !appended) {
                QFile appender(path);
                appended = appender.open(QIODevice::Append) && appender.write(more) == more.size();
            }
            return c.failing.count(step) == 0;
        };
        EXPECT_EQ(RepairRecording(path, disk), c.state);
        const QByteArray after = ReadAll(path);
        if (c.append)
            Write("video000001.avi", cut);
        const TFolderRepair named = RepairUnfinishedRecordings(dir.path(), {}, {}, disk);
        if (c.append) {
            EXPECT_TRUE(appended);
            EXPECT_EQ(after.left(cut.size()), cut);
            EXPECT_TRUE(after.endsWith(more));
        } else {
            EXPECT_EQ(c.state == TRecordingState::Damaged ? named.damaged : named.unrepairable,
                      QStringList{path});
        }
        if (c.state != TRecordingState::Damaged) {
            EXPECT_EQ(after, c.append ? cut + more : cut);
        }
    }
}

// A chunk header whose size runs past the file's end is an incomplete last
// chunk only when nothing readable follows it: amid frames it is damage,
// stepped over (or the file is left alone), and another recording after it
// is never cut off. An index that the file's end cuts short is still cut.
TEST_F(DamagedRecording, ASizePastTheEndAmidReadableDataIsNeverTakenForACutChunk) {
    enum class TDamage {
        IndexHeader,    // the chunk's header becomes an index header, its size past the end
        PastEndJoined,  // the chunk's size past the end, a complete recording joined on
        None,
    };
    struct TCase {
        const char* what;
        QByteArray base;
        TDamage damage;
        bool middle;            // the chunk half way, or the last one
        TRecordingState state;  // Complete: repaired or left alone
    };
    const std::vector<TCase> cases = {
        {"index header amid ffmpeg's frames", CutBeforeIndex(*ffmpeg_, 777), TDamage::IndexHeader,
         true, TRecordingState::Complete},
        {"index header amid the program's frames", *killed_, TDamage::IndexHeader, true,
         TRecordingState::Complete},
        {"last frame's size past the end, joined", *killed_, TDamage::PastEndJoined, false,
         TRecordingState::Unrepairable},
        {"a frame's size past the end, joined", *killed_, TDamage::PastEndJoined, true,
         TRecordingState::Unrepairable},
        {"the index cut short", complete_->left(IndexPosition(*complete_) + 8 + 16 * 5 + 7),
         TDamage::None, false, TRecordingState::Repaired},
    };
    for (const TCase& c : cases) {
        SCOPED_TRACE(c.what);
        const std::vector<TAviChunk> chunks = MoviChunks(c.base);
        const int64_t hit = chunks[c.middle ? chunks.size() / 2 : chunks.size() - 1].pos;
        QByteArray file = c.base;
        if (c.damage == TDamage::IndexHeader)
            file.replace(hit, 4, "idx1");
        if (c.damage != TDamage::None)
            Put32(file, hit + 4, uint32_t(file.size() + complete_->size() - hit + 1000));
        if (c.damage == TDamage::PastEndJoined)
            file += *complete_;
        std::vector<int64_t> kept;
        for (const TAviChunk& chunk : chunks) {
            if (chunk.pos != hit || c.damage == TDamage::None)
                kept.push_back(chunk.pos);
        }
        TRecordingState state = TRecordingState::Complete;
        ASSERT_NO_FATAL_FAILURE(ExpectKeptOrLeftAlone(file, kept, &state));
        if (c.state != TRecordingState::Complete) {
            EXPECT_EQ(state, c.state);
        }
    }
}

// Mutations of recordings written by the program and by ffmpeg, with a
// fixed seed: bit flips anywhere, chunk sizes set to 0, odd, huge or
// smaller, hostile sizes in the header, cuts, duplicated stretches, joined
// files, index headers amid the frames with sizes past the end, damaged
// sizes before a joined complete recording. Each file, repaired, keeps
// every frame that was readable in it; the repair changes nothing but its
// fields and the index it appends, and a file it does not repair is left
// byte for byte.
TEST_F(DamagedRecording, RandomDamageNeverCostsAReadableFrameNorWritesOutsideTheLists) {
    struct TBase {
        const char* what;
        QByteArray bytes;  // unfinished
    };
    const std::vector<TBase> bases = {{"killed", *killed_},
                                      {"ffmpeg", CutBeforeIndex(*ffmpeg_, 777)}};
    // Flushing to disk is the repair's slowest part: in memory when the
    // machine has a memory file system.
    QTemporaryDir memory(QStringLiteral("/dev/shm/repair-XXXXXX"));
    if (memory.isValid())
        dir.swap(memory);
    std::mt19937 random(20240611);
    auto below = [&](int64_t n) { return int64_t(random() % uint64_t(std::max<int64_t>(n, 1))); };
    int repaired = 0, total = 0;
    for (const TBase& base : bases) {
        const std::vector<TAviChunk> chunks = MoviChunks(base.bytes);
        ASSERT_GT(chunks.size(), 20u) << base.what;
        const int64_t movi = MoviPosition(base.bytes);
        for (int round = 0; round < 200; ++round, ++total) {
            QByteArray file = base.bytes;
            // The frames that must stay readable: all but those the
            // mutation touches.
            std::vector<int64_t> expected;
            std::string what;
            auto keepAllBut = [&](int64_t from, int64_t to) {
                for (const TAviChunk& c : chunks) {
                    if (c.pos + 8 <= from || c.pos >= to)
                        expected.push_back(c.pos);
                }
            };
            const int kind = int(below(9));
            bool joined = false;
            if (kind == 0) {
                const int64_t at = below(file.size());
                file[qsizetype(at)] = char(file[qsizetype(at)] ^ (1 << below(8)));
                keepAllBut(at, at + 1);
                what = "flip at " + std::to_string(at);
            } else if (kind == 1 || kind == 2) {
                const TAviChunk& c = chunks[size_t(below(int64_t(chunks.size())))];
                const uint32_t old = Get32(file, c.pos + 4);
                const uint32_t values[] = {0u,
                                           old | 1u,
                                           old + 1,
                                           0xFFFFFFF0u,
                                           0x7FFFFFFFu,
                                           old / 2,
                                           old ^ (1u << below(32))};
                const uint32_t size = kind == 1 ? values[below(7)] : old;
                Put32(file, c.pos + 4, size);
                if (kind == 2)
                    file[qsizetype(c.pos + below(4))] = char(random());
                keepAllBut(c.pos, c.pos + 8);
                what = "chunk at " + std::to_string(c.pos) + " size " + std::to_string(size);
            } else if (kind == 3) {
                // A size in the header.
                std::vector<int64_t> sizes;
                for (int64_t pos = 16; pos < movi; pos += 4)
                    sizes.push_back(pos);
                const int64_t at = sizes[size_t(below(int64_t(sizes.size())))];
                Put32(file, at, uint32_t(random()) >> below(32));
                keepAllBut(at, at);
                what = "header word at " + std::to_string(at);
            } else if (kind == 4) {
                const int64_t length = movi + below(file.size() - movi);
                file.truncate(length);
                for (const TAviChunk& c : chunks) {
                    if (c.End() <= length)
                        expected.push_back(c.pos);
                }
                what = "cut at " + std::to_string(length);
            } else if (kind == 5) {
                const int64_t a = movi + 12 + below(file.size() - movi - 12);
                const int64_t b = a + 1 + below(std::min<int64_t>(file.size() - a, 400'000));
                file.insert(b, base.bytes.mid(a, b - a));
                for (const TAviChunk& c : chunks) {
                    if (c.End() <= b)
                        expected.push_back(c.pos);
                    else if (c.pos >= b)
                        expected.push_back(c.pos + (b - a));
                }
                what = "copy of " + std::to_string(a) + ".." + std::to_string(b);
            } else if (kind == 6) {
                file += bases[size_t(below(2))].bytes.left(below(300'000));
                what = "joined";
            } else if (kind == 7) {
                // An index header amid the frames whose size runs past the
                // end: what follows it is frames, not index entries.
                const TAviChunk& c = chunks[size_t(below(int64_t(chunks.size())))];
                file.replace(c.pos, 4, "idx1");
                Put32(
                    file, c.pos + 4,
                    uint32_t(std::min<int64_t>(file.size() - c.pos + below(1 << 20), 0xFFFFFFF0)));
                keepAllBut(c.pos, c.pos + 8);
                what = "index header at " + std::to_string(c.pos);
            } else {
                // A chunk's size damaged, past the end or into what follows,
                // and a complete recording joined after the frames.
                const TAviChunk& c = chunks[size_t(below(int64_t(chunks.size())))];
                const int64_t joinedEnd = file.size() + complete_->size();
                Put32(file, c.pos + 4,
                      uint32_t(below(2) ? joinedEnd - c.pos + below(1 << 20)
                                        : file.size() - c.pos + below(complete_->size())));
                file += *complete_;
                keepAllBut(c.pos, c.pos + 8);
                joined = true;
                what = "size of the chunk at " + std::to_string(c.pos) + ", joined";
            }
            SCOPED_TRACE(std::string(base.what) + ": " + what);
            TRecordingState state = TRecordingState::Complete;
            ASSERT_NO_FATAL_FAILURE(ExpectKeptOrLeftAlone(file, expected, &state));
            // Another recording joined on is never cut off.
            if (joined) {
                ASSERT_NE(state, TRecordingState::Repaired);
            }
            if (state == TRecordingState::Repaired)
                ++repaired;
        }
    }
    // Most damage is repaired, not merely refused.
    EXPECT_GT(repaired, total / 2);
}

// Damage made anew from fresh random numbers at every run (a failing case
// tells the seed; POMVIRA_REPAIR_SEED runs it again), on the program's raw
// recording and ffmpeg's compressed one: ffmpeg and GStreamer read exactly
// the frames the damage leaves, each from its place (a compressed one cut
// short with the bytes it has, one whose size was damaged up to the next
// chunk), ffmpeg decodes every picture it decoded before, one index ends it.
TEST_F(DamagedRecording, EveryReaderReadsEveryFrameTheDamageLeaves) {
    QByteArray file;
    int64_t end = -1, hole = 0;  // where the frames end, when not at the file's end; a hole after
    std::vector<TAviChunk> chunks, video;
    std::mt19937 random;
    const auto pick = [&](const std::vector<TAviChunk>& from, size_t first) -> const TAviChunk& {
        return from[first + random() % (from.size() - first - 1)];
    };
    const auto larger = [&](const TAviChunk& c) {
        Put32(file, c.pos + 4, c.size + (1u << (random() % 20)));
    };
    enum { kRaw = 1, kCompressed = 2, kBoth = 3 };
    const struct {
        const char* what;
        int bases;
        std::function<void()> make;
    } rows[] = {
        {"the first chunk's size, larger", kBoth, [&] { larger(chunks[0]); }},
        {"two chunk sizes early on, larger", kBoth,
         [&] { larger(chunks[random() % 2]), larger(chunks[2 + random() % 2]); }},
        {"a frame's size past the file's end", kBoth,
         [&] { Put32(file, pick(video, 0).pos + 4, uint32_t(file.size())); }},
        {"the kind in the first chunk's id", kBoth,
         [&] { file[qsizetype(chunks[0].pos + 2 + random() % 2)] ^= 0x20; }},
        {"the last frame cut short", kBoth,
         [&] {
             const TAviChunk& c = pick(video, video.size() / 2);
             file.truncate(c.pos + 9 + random() % (c.size - 1));
         }},
        {"the last frame without its pad byte", kCompressed,
         [&] {
             for (const TAviChunk* c = &pick(video, 1); end < 0; --c)
                 end = c->size & 1 ? c->pos + 8 + c->size : -1;
             file.truncate(end);
         }},
        {"an interrupted repair's index, cut short", kBoth,
         [&] {
             file.truncate(end = pick(video, 0).End());
             QByteArray repaired;
             Repair(file, &repaired);
             file += repaired.mid(IndexPosition(repaired), 1 + random() % 400);
         }},
        {"a hole after the frames", kRaw,
         [&] { file.truncate(pick(video, 0).End()), hole = 64 << 20; }},
    };
    const QByteArray replay = qgetenv("POMVIRA_REPAIR_SEED");
    const uint32_t seed = replay.isEmpty() ? std::random_device()() : replay.toUInt();
    SCOPED_TRACE("POMVIRA_REPAIR_SEED=" + std::to_string(seed));
    random.seed(seed);
    const QString path = dir.filePath(QStringLiteral("video000001.avi"));
    for (const auto& row : rows) {
        for (const int base : {kRaw, kCompressed}) {
            const QByteArray bytes = base == kRaw ? *killed_ : CutBeforeIndex(*ffmpeg_, 0);
            chunks = MoviChunks(bytes);
            video.clear();
            std::copy_if(chunks.begin(), chunks.end(), std::back_inserter(video),
                         [](const TAviChunk& c) { return c.IsVideo(); });
            for (int round = 0; round < 2 && (row.bases & base); ++round) {
                SCOPED_TRACE(std::string(row.what) + (base == kRaw ? ", raw" : ", compressed"));
                file = bytes, end = -1, hole = 0;
                row.make();
                end = end < 0 ? file.size() : end;
                QStringList expected;
                for (size_t i = 0; i < video.size() && video[i].pos + 8 < end; ++i) {
                    const TAviChunk& c = video[i];
                    const int64_t size =
                        Get32(file, c.pos + 4) == c.size ? c.size : c.End() - c.pos - 8;
                    if (c.pos + 8 + size <= end || base == kCompressed)
                        expected << Md5(bytes.mid(c.pos + 8, std::min(size, end - c.pos - 8)));
                }
                ASSERT_TRUE(WriteAll(path, file) && QFile(path).resize(file.size() + hole));
                const QStringList before = Frames(path, kFfmpegPictures);
                ASSERT_EQ(RepairRecording(path), TRecordingState::Repaired);
                for (const char* reader : {kFfmpegPackets, kGstPackets}) {
                    const QStringList read = Frames(path, reader);
                    EXPECT_TRUE(read == expected) << reader << "\n" << read.size() << " frames";
                }
                const QStringList after = Frames(path, kFfmpegPictures);
                EXPECT_TRUE(std::all_of(before.begin(), before.end(),
                                        [&](const QString& p) { return after.contains(p); }));
                const QByteArray repaired = ReadAll(path);
                const int64_t index = IndexPosition(repaired);
                EXPECT_EQ(repaired.size(), index + 8 + Get32(repaired, index + 4));
            }
        }
    }
}

// A recording of a million small chunks (some 400 MB) cut off: every chunk
// is indexed. The file is written in large blocks from one chunk pattern.
TEST_F(DamagedRecording, AMillionChunksAreAllIndexed) {
    constexpr int64_t kChunks = 1'080'070;
    constexpr uint32_t kData = 384;
    if (QStorageInfo(dir.path()).bytesAvailable() < 1'500'000'000)
        GTEST_SKIP() << "needs 1.5 GB of free space in " << dir.path().toStdString();
    // The program's header, then the chunks: one video frame for every
    // three sound chunks.
    const int64_t movi = MoviPosition(*killed_);
    QByteArray header = killed_->left(movi + 12);
    QByteArray pattern;
    for (const char* id : {"00dc", "01wb", "01wb", "01wb"}) {
        pattern += QByteArray(id, 4);
        QByteArray size(4, '\0');
        Put32(size, 0, kData);
        pattern += size + QByteArray(kData, char(0x55));
    }
    const QString path = dir.filePath(QStringLiteral("video000001.avi"));
    {
        QFile out(path);
        ASSERT_TRUE(out.open(QIODevice::WriteOnly));
        ASSERT_EQ(out.write(header), header.size());
        QByteArray block;
        for (int i = 0; i < 2048; ++i)
            block += pattern;
        const int64_t perBlock = 2048 * 4;
        int64_t written = 0;
        for (; written + perBlock <= kChunks; written += perBlock)
            ASSERT_EQ(out.write(block), block.size());
        const int64_t rest = (kChunks - written) * (8 + kData);
        ASSERT_EQ(out.write(block.left(rest)), rest);
        // And a chunk cut short.
        ASSERT_EQ(out.write(pattern.left(100)), 100);
    }
    ASSERT_EQ(RepairRecording(path), TRecordingState::Repaired);
    const TAviProbe probe = ProbeAvi(path);
    EXPECT_TRUE(probe.Complete()) << probe.Text().toStdString();
    EXPECT_EQ(int64_t(probe.totalFrames), (kChunks + 3) / 4);
    // The index: one entry per chunk.
    QFile in(path);
    ASSERT_TRUE(in.open(QIODevice::ReadOnly));
    const int64_t index = header.size() + kChunks * (8 + kData);
    ASSERT_TRUE(in.seek(index));
    const QByteArray idx1 = in.read(8);
    EXPECT_EQ(idx1.left(4), "idx1");
    EXPECT_EQ(int64_t(Get32(idx1, 4)), kChunks * 16);
    EXPECT_EQ(in.size(), index + 8 + kChunks * 16);
}
