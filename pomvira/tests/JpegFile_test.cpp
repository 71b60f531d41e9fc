// SPDX-License-Identifier: GPL-3.0-or-later
// JPEG files: a frame in the grabber's layout (bottom-up BGR rows padded to 4
// bytes) is written as a baseline colour JPEG of quality 90, upright, at its
// full size, as an independent libjpeg reading shows; files are only ever
// created new and never left half written; thumbnails are decoded with the
// smallest DCT scale that covers the box.
#include <QDir>
#include <QFile>
#include <QTemporaryDir>
#include <csignal>
#include <gtest/gtest.h>
#include <stdexcept>
#include <sys/resource.h>
#include <sys/stat.h>
#include <vector>

// jpeglib.h needs size_t and FILE declared before it.
#include <cstdio>
#include <jpeglib.h>

#include "files/JpegFile.h"
#include "files/PathUtils.h"
#include "JpegReadBack.h"
#include "TestFrames.h"
#include "media/Bitmap.h"

namespace {

constexpr QRgb kTop = qRgb(220, 30, 30);
constexpr QRgb kBottom = qRgb(30, 30, 220);

media::TBitmap TwoColourFrame(int width, int height) {
    return TwoColourBitmap(width, height, kTop, kBottom);
}

bool Near(QRgb a, QRgb b, int tolerance = 12) {
    return std::abs(qRed(a) - qRed(b)) <= tolerance &&
           std::abs(qGreen(a) - qGreen(b)) <= tolerance &&
           std::abs(qBlue(a) - qBlue(b)) <= tolerance;
}

QByteArray Encoded(int width, int height) {
    const media::TBitmap frame = TwoColourFrame(width, height);
    const TJpegData jpeg = EncodeJpeg(JpegSourceOf(frame), 90);
    return QByteArray(reinterpret_cast<const char*>(jpeg.Data()), qsizetype(jpeg.Size()));
}

}  // namespace

TEST(JpegFile, StillPictureIsBaselineColourQuality90UprightAtTheFrameSize) {
    QTemporaryDir dir;
    const QString path = dir.filePath("img000001.jpg");
    // 63 pixels: each row carries padding that must not reach the picture.
    SaveJpegFile(TwoColourFrame(63, 48), path, 90);

    const TJpegReadBack back = ReadJpegFileBack(path);
    ASSERT_TRUE(back.ok) << back.error.toStdString();
    EXPECT_EQ(back.frameMarker, 0xC0);  // SOF0: baseline
    EXPECT_FALSE(back.progressive);
    EXPECT_EQ(back.components, 3);
    EXPECT_EQ(back.width, 63);
    EXPECT_EQ(back.height, 48);
    EXPECT_EQ(back.quantTables, QualityTables(90));
    EXPECT_NE(QualityTables(90), QualityTables(75));
    for (int x : {0, 31, 62}) {
        EXPECT_TRUE(Near(back.pixels.pixel(x, 2), kTop)) << x;
        EXPECT_TRUE(Near(back.pixels.pixel(x, 45), kBottom)) << x;
    }
}

TEST(JpegFile, EmptyBitmapIsRefused) {
    EXPECT_THROW(JpegSourceOf(media::TBitmap()), std::runtime_error);
}

TEST(JpegFile, NewFileNeverReplacesOneAndLeavesNothingWhenItFails) {
    QTemporaryDir dir;
    const QByteArray data(300000, 'x');
    const auto* bytes = reinterpret_cast<const uint8_t*>(data.constData());

    // An existing file keeps its content.
    const QString existing = dir.filePath("img000001.jpg");
    {
        QFile f(existing);
        ASSERT_TRUE(f.open(QIODevice::WriteOnly));
        f.write("old");
    }
    EXPECT_THROW(WriteNewFile(existing, bytes, 10), std::runtime_error);
    QFile old(existing);
    ASSERT_TRUE(old.open(QIODevice::ReadOnly));
    EXPECT_EQ(old.readAll(), "old");

    // A missing folder: the error names the file.
    const QString missing = dir.filePath("gone/img000001.jpg");
    try {
        WriteNewFile(missing, bytes, 10);
        ADD_FAILURE() << "no error";
    } catch (const std::runtime_error& e) {
        EXPECT_TRUE(QString::fromUtf8(e.what()).contains(missing)) << e.what();
    }

    // A disk that fills up while writing (here a file size limit): the
    // partly written file is removed.
    const QString full = dir.filePath("img000002.jpg");
    rlimit saved{};
    ASSERT_EQ(getrlimit(RLIMIT_FSIZE, &saved), 0);
    const auto previous = std::signal(SIGXFSZ, SIG_IGN);
    rlimit small = saved;
    small.rlim_cur = 100000;
    ASSERT_EQ(setrlimit(RLIMIT_FSIZE, &small), 0);
    QString message;
    try {
        WriteNewFile(full, bytes, size_t(data.size()));
    } catch (const std::runtime_error& e) {
        message = QString::fromUtf8(e.what());
    }
    setrlimit(RLIMIT_FSIZE, &saved);
    std::signal(SIGXFSZ, previous);
    EXPECT_TRUE(message.contains(full)) << message.toStdString();
    EXPECT_FALSE(QFile::exists(full));

    WriteNewFile(full, bytes, size_t(data.size()));
    EXPECT_EQ(QFileInfo(full).size(), data.size());
}

TEST(JpegFile, ThumbnailIsDecodedAtTheSmallestScaleThatCoversTheBox) {
    const QSize box(70, 47);
    EXPECT_EQ(DecodeJpeg(Encoded(1920, 1080), box).size(), QSize(240, 135));  // 1/8
    EXPECT_EQ(DecodeJpeg(Encoded(320, 240), box).size(), QSize(80, 60));      // 2/8
    EXPECT_EQ(DecodeJpeg(Encoded(100, 60), box).size(), QSize(88, 53));       // 7/8
    EXPECT_EQ(DecodeJpeg(Encoded(40, 30), box).size(), QSize(40, 30));        // 8/8
    EXPECT_EQ(DecodeJpeg(Encoded(320, 240)).size(), QSize(320, 240));

    QTemporaryDir dir;
    const QString path = dir.filePath("img000001.jpg");
    SaveJpegFile(TwoColourFrame(640, 480), path, 90);
    const QImage thumbnail = LoadJpegThumbnail(path, box);
    ASSERT_EQ(thumbnail.size(), box);
    // In a folder whose name is not UTF-8 as well.
    const QByteArray folder = EncodeFileName(dir.path()) + "/Bilder \xe9";
    ASSERT_EQ(::mkdir(folder.constData(), 0755), 0);
    ASSERT_EQ(::rename(QFile::encodeName(path).constData(), (folder + "/a.jpg").constData()), 0);
    EXPECT_EQ(LoadJpegThumbnail(DecodeFileName(folder + "/a.jpg"), box).size(), box);
    EXPECT_TRUE(Near(thumbnail.pixel(35, 3), kTop));
    EXPECT_TRUE(Near(thumbnail.pixel(35, 43), kBottom));
}

TEST(JpegFile, PicturesThatCannotBeReadGiveNoThumbnail) {
    QTemporaryDir dir;
    const QSize box(70, 47);
    EXPECT_TRUE(LoadJpegThumbnail(dir.filePath("missing.jpg"), box).isNull());
    auto write = [&](const char* name, const QByteArray& bytes) {
        QFile f(dir.filePath(name));
        EXPECT_TRUE(f.open(QIODevice::WriteOnly));
        f.write(bytes);
        return f.fileName();
    };
    EXPECT_TRUE(LoadJpegThumbnail(write("empty.jpg", QByteArray()), box).isNull());
    EXPECT_TRUE(LoadJpegThumbnail(write("text.jpg", "not a picture at all"), box).isNull());
    // Cut after the headers: the library gives up without any picture data.
    EXPECT_TRUE(LoadJpegThumbnail(write("cut.jpg", Encoded(320, 240).left(200)), box).isNull());
    // A picture whose data ends early still shows what it has.
    const QByteArray whole = Encoded(320, 240);
    EXPECT_EQ(LoadJpegThumbnail(write("short.jpg", whole.left(whole.size() * 2 / 3)), box).size(),
              box);
}

namespace {

// A small progressive picture whose frame header then declares another
// size: libjpeg takes the declared size for its buffers, whatever data
// follows.
QByteArray ProgressiveDeclaring(int width, int height, bool fullColour) {
    jpeg_compress_struct cinfo;
    jpeg_error_mgr err;
    cinfo.err = jpeg_std_error(&err);
    jpeg_create_compress(&cinfo);
    unsigned char* out = nullptr;
    unsigned long size = 0;
    jpeg_mem_dest(&cinfo, &out, &size);
    cinfo.image_width = 16;
    cinfo.image_height = 16;
    cinfo.input_components = 3;
    cinfo.in_color_space = JCS_RGB;
    jpeg_set_defaults(&cinfo);
    if (fullColour) {
        for (int c = 0; c < 3; ++c)
            cinfo.comp_info[c].h_samp_factor = cinfo.comp_info[c].v_samp_factor = 1;
    }
    jpeg_simple_progression(&cinfo);
    jpeg_start_compress(&cinfo, TRUE);
    std::vector<unsigned char> row(16 * 3, 128);
    JSAMPROW rows[1] = {row.data()};
    while (cinfo.next_scanline < 16)
        jpeg_write_scanlines(&cinfo, rows, 1);
    jpeg_finish_compress(&cinfo);
    jpeg_destroy_compress(&cinfo);
    QByteArray data(reinterpret_cast<const char*>(out), qsizetype(size));
    std::free(out);
    // The progressive frame header (SOF2): length, precision, height, width.
    const qsizetype sof = data.indexOf("\xFF\xC2");
    if (sof < 0)
        return {};
    data[sof + 5] = char(height >> 8);
    data[sof + 6] = char(height);
    data[sof + 7] = char(width >> 8);
    data[sof + 8] = char(width);
    return data;
}

}  // namespace

TEST(JpegFile, HostilePicturesAreRefusedBeforeTheyCostTimeOrMemory) {
    const QSize box(70, 47);
    // Made sure the pictures are otherwise readable.
    EXPECT_FALSE(DecodeJpeg(ProgressiveDeclaring(16, 16, false), box).isNull());
    EXPECT_FALSE(DecodeJpeg(ProgressiveDeclaring(640, 480, true), box).isNull());
    // More pixels than any camera makes: refused from the header.
    EXPECT_LT(ProgressiveDeclaring(30000, 30000, false).size(), 1000);
    EXPECT_TRUE(DecodeJpeg(ProgressiveDeclaring(30000, 30000, false), box).isNull());
    EXPECT_TRUE(DecodeJpeg(ProgressiveDeclaring(20000, 20000, false), box).isNull());
    // Fewer, but more memory than the decoder may take (the coefficients
    // of 81 million pixels in three full components).
    EXPECT_TRUE(DecodeJpeg(ProgressiveDeclaring(9000, 9000, true), box).isNull());

    // In a file, such a picture gives no thumbnail: the strip shows its
    // placeholder.
    QTemporaryDir dir;
    QFile f(dir.filePath("img000001.jpg"));
    ASSERT_TRUE(f.open(QIODevice::WriteOnly));
    f.write(ProgressiveDeclaring(30000, 30000, false));
    f.close();
    EXPECT_TRUE(LoadJpegThumbnail(f.fileName(), box).isNull());
}

namespace {

// A small progressive picture whose last scan comes `copies` more times: a
// few kilobytes that ask the decoder for as many passes over the picture.
QByteArray WithRepeatedScans(int copies) {
    const QByteArray picture = ProgressiveDeclaring(16, 16, false);
    const qsizetype lastScan = picture.lastIndexOf("\xFF\xDA");
    const qsizetype end = picture.lastIndexOf("\xFF\xD9");
    if (lastScan < 0 || end < lastScan)
        return {};
    return picture.left(end) + picture.mid(lastScan, end - lastScan).repeated(copies) +
           picture.mid(end);
}

}  // namespace

// Decoding is bounded in time as in memory: a picture of more scans than
// any camera writes is given up, and so is any decoding still going on at
// its deadline; a thumbnail's decoding has a deadline of its own.
TEST(JpegFile, DecodingGivesUpPastItsScansOrItsDeadline) {
    const QSize box(70, 47);
    using Clock = std::chrono::steady_clock;
    struct TCase {
        const char* what;
        QByteArray picture;
        Clock::time_point deadline;
        bool decoded;
    };
    const std::vector<TCase> cases = {
        {"a few scans more", WithRepeatedScans(5), Clock::time_point::max(), true},
        {"too many scans", WithRepeatedScans(kMaxJpegScans), Clock::time_point::max(), false},
        {"time left", Encoded(320, 240), Clock::now() + std::chrono::hours(1), true},
        {"past its deadline", Encoded(320, 240), Clock::now() - std::chrono::seconds(1), false},
    };
    for (const TCase& c : cases) {
        SCOPED_TRACE(c.what);
        ASSERT_FALSE(c.picture.isEmpty());
        EXPECT_EQ(DecodeJpeg(c.picture, box, c.deadline).isNull(), !c.decoded);
    }
    QTemporaryDir dir;
    QFile f(dir.filePath("img000001.jpg"));
    ASSERT_TRUE(f.open(QIODevice::WriteOnly));
    f.write(WithRepeatedScans(1000));
    f.close();
    EXPECT_TRUE(LoadJpegThumbnail(f.fileName(), box).isNull());
}
