// SPDX-License-Identifier: GPL-3.0-or-later
// The control panel with the built-in test camera shaped like a common 1080p
// USB webcam (raw YUY2 only at small sizes or low rates, MJPG at every size up
// to 1920 x 1080 at 30 to 5 fps): the format it opens in on screens of two
// sizes, the format page's entries and the rate chosen there, MJPG recordings
// stored as the camera gives them, and still pictures of MJPG frames.
// Recordings are read back by ffprobe, pictures by libjpeg.
#include <QCoreApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QListWidget>
#include <QProcess>
#include <QPushButton>
#include <QTemporaryDir>
#include <QTest>
#include <cmath>
#include <gtest/gtest.h>

#include "widgets/ActionList.h"
#include "app/Application.h"
#include "AviProbe.h"
#include "ControlFormTesting.h"
#include "widgets/ImageButton.h"
#include "JpegReadBack.h"
#include "ModalDriver.h"
#include "TestFrames.h"
#include "forms/frmControl.h"
#include "forms/frmView.h"
#include "media/FilterGraph.h"
#include "media/VideoWindow.h"
#include "media/testdevices/TestDevices.h"
#include "media/gst/VideoRendererWindow.h"

using namespace media;

namespace {

const auto* const kEnvironment = ::testing::AddGlobalTestEnvironment(new GstTestDevices("1"));

QString Mjpg(int width, int height) {
    return QStringLiteral(
               "Major Type: Video - Sub Type: MJPG Format: VideoInfo MJPG %1X%2, 24 bits")
        .arg(width)
        .arg(height);
}

// The frame rate in force on the camera's capture pin.
double PinRate(TFilter* source) {
    TPinList pins(source->Get<IBaseFilter>().Get());
    auto config = QueryAs<IAMStreamConfig>(pins.FirstPin().Get());
    AM_MEDIA_TYPE* type = nullptr;
    if (config)
        config->GetFormat(&type);
    double rate = 0;
    if (type && type->formattype == FORMAT_VideoInfo && type->cbFormat >= sizeof(VIDEOINFOHEADER)) {
        const auto* vih = reinterpret_cast<const VIDEOINFOHEADER*>(type->pbFormat);
        if (vih->AvgTimePerFrame > 0)
            rate = 10000000.0 / double(vih->AvgTimePerFrame);
    }
    DisposeMediaType(type);
    return rate;
}

// The names of the graph's filters.
QStringList FilterNames(TControlForm& form) {
    TFilterList filters(Probe(form).Graph()->Get<IFilterGraph>().Get());
    QStringList names;
    for (int i = 0; i < filters.Count(); ++i) {
        FILTER_INFO info{};
        if (SUCCEEDED(filters.FilterAt(i)->QueryFilterInfo(&info))) {
            names.append(QString::fromStdU16String(info.achName));
            if (info.pGraph)
                info.pGraph->Release();
        }
    }
    return names;
}

// The share of a row's pixels that lie on a colour bar.
double ColourBarShare(const QImage& image, int y) {
    int bars = 0;
    for (int x = 0; x < image.width(); ++x)
        bars += IsColourBar(image.pixel(x, y)) ? 1 : 0;
    return double(bars) / image.width();
}

class WebcamGstTest : public ControlFormTestBase {
  protected:
    void SetUp() override {
        media::gst::SetTestCameraProfile("webcam");
        ControlFormTestBase::SetUp();
        UseOwnSaveFolders();
    }
    void TearDown() override {
        ControlFormTestBase::TearDown();
        media::gst::SetTestCameraProfile(std::string());
    }
    // Records for about `ms` milliseconds; the time from the start's end to
    // the stop, in seconds.
    double Record(TControlForm& form, int ms) {
        EXPECT_TRUE(ClickRecord(form));
        QElapsedTimer recorded;
        recorded.start();
        EXPECT_TRUE(PanelState(form).Recording) << FirstBox();
        QTest::qWait(ms);
        const double seconds = double(recorded.elapsed()) / 1000.0;
        EXPECT_TRUE(ClickRecord(form));
        EXPECT_FALSE(PanelState(form).Recording);
        return seconds;
    }
    // A still picture taken now is the whole frame of that size, saved at
    // quality 90, the colour bars in it.
    void ExpectStill(TControlForm& form, QSize size) {
        RunHandler([&] { form.actSnapShot->Execute(); });
        ASSERT_TRUE(SettleSession(form));
        ASSERT_TRUE(boxes.empty()) << FirstBox();
        ASSERT_FALSE(form.StripFiles().isEmpty());
        const TJpegReadBack back = ReadJpegFileBack(form.StripFiles().last());
        ASSERT_TRUE(back.ok) << back.error.toStdString();
        EXPECT_EQ(QSize(back.width, back.height), size);
        EXPECT_EQ(back.quantTables, QualityTables(90));
        EXPECT_GT(ColourBarShare(back.pixels, 10), 0.9);
    }
    // The first recording is complete and holds the camera's JPEG frames of
    // that size: how many, or -1.
    int64_t RecordedMjpegFrames(QSize size) {
        const TAviProbe p = ProbeAvi(VideoFile(1), true);
        EXPECT_TRUE(p.Complete()) << p.Text().toStdString();
        const TAviStream* v = p.Stream("video");
        if (!v || v->codec != "mjpeg" || QSize(v->width, v->height) != size) {
            ADD_FAILURE() << p.Text().toStdString();
            return -1;
        }
        return v->frames;
    }
};

// Runs this test program's test `test` (which skips itself unless
// POMVIRA_WEBCAM_EXPECTED is set to `expected`) on an offscreen screen of
// the given size; expects it to pass.
void RunChildOnScreen(const char* test, QSize screen, QSize expected) {
    QTemporaryDir dir;
    ASSERT_TRUE(dir.isValid());
    const QString config = dir.filePath(QStringLiteral("screen.json"));
    QFile file(config);
    ASSERT_TRUE(file.open(QIODevice::WriteOnly));
    file.write(QStringLiteral("{\"screens\": [{\"name\": \"Test\", \"x\": 0, \"y\": 0, "
                              "\"width\": %1, \"height\": %2, \"logicalDpi\": 96}]}")
                   .arg(screen.width())
                   .arg(screen.height())
                   .toUtf8());
    file.close();
    QProcess child;
    QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
    environment.insert(QStringLiteral("QT_QPA_PLATFORM"),
                       QStringLiteral("offscreen:configfile=") + config);
    environment.insert(QStringLiteral("POMVIRA_WEBCAM_EXPECTED"),
                       QStringLiteral("%1x%2").arg(expected.width()).arg(expected.height()));
    child.setProcessEnvironment(environment);
    child.setProcessChannelMode(QProcess::MergedChannels);
    child.start(QCoreApplication::applicationFilePath(),
                {QStringLiteral("--gtest_filter=WebcamGstTest.") + QLatin1String(test)});
    ASSERT_TRUE(child.waitForFinished(120000));
    const QString output = QString::fromLocal8Bit(child.readAll());
    EXPECT_EQ(child.exitCode(), 0) << output.toStdString();
    EXPECT_TRUE(output.contains(QStringLiteral("[  PASSED  ] 1 test")) &&
                !output.contains(QStringLiteral("SKIPPED")))
        << output.toStdString();
}

// The size a child test is run for; empty when the test is not run as one.
QSize ExpectedInChild() {
    const QString expected = qEnvironmentVariable("POMVIRA_WEBCAM_EXPECTED");
    return QSize(expected.section(QLatin1Char('x'), 0, 0).toInt(),
                 expected.section(QLatin1Char('x'), 1, 1).toInt());
}

}  // namespace

// Nothing stored: the largest size whose framed preview with the panel below
// fits the screen and that comes at 25 fps or more.
TEST_F(WebcamGstTest, FirstFormatIsTheLargestSmoothOneThatFitsTheScreen) {
    RunChildOnScreen("ChildOnTheGivenScreen", QSize(1600, 1200), QSize(1280, 720));
    RunChildOnScreen("ChildOnTheGivenScreen", QSize(1024, 768), QSize(800, 600));
}

// Run by the test above in a process of its own, on a screen of its choice.
TEST_F(WebcamGstTest, ChildOnTheGivenScreen) {
    const QSize expected = ExpectedInChild();
    if (expected.isEmpty())
        GTEST_SKIP() << "run by FirstFormatIsTheLargestSmoothOneThatFitsTheScreen";
    const int width = expected.width(), height = expected.height();
    Ini().WriteString("CAPTURE", "VIDEO FORMAT", QString());
    {
        TControlForm form;
        ASSERT_TRUE(boxes.empty()) << FirstBox();
        EXPECT_EQ(PinFormatText(Probe(form).VideoSource()), Mjpg(width, height));
        EXPECT_NEAR(PinRate(Probe(form).VideoSource()), 30.0, 0.01);
        EXPECT_EQ(PanelState(form).VideoFormat, Mjpg(width, height));
        EXPECT_EQ(form.ViewForm()->size(), QSize(width + 36, height + 56));
        ExpectPreviewRuns(form, width, height);
    }
    EXPECT_EQ(Ini().ReadString("CAPTURE", "VIDEO FORMAT", ""), Mjpg(width, height));
}

// A stored text names no rate: the highest of that format is set. The page
// lists each format, size and rate once, the one in force selected; the rate
// chosen there is the one delivered and recorded.
TEST_F(WebcamGstTest, FormatPageListsEveryRateAndTheRateChosenIsRecorded) {
    Ini().WriteString("CAPTURE", "VIDEO FORMAT", Mjpg(640, 480));
    TControlForm form;
    ASSERT_TRUE(boxes.empty()) << FirstBox();
    EXPECT_EQ(PinFormatText(Probe(form).VideoSource()), Mjpg(640, 480));
    EXPECT_NEAR(PinRate(Probe(form).VideoSource()), 30.0, 0.01);

    QStringList entries;
    QString selected;
    auto page = WhenModalNamed("PropertyFrame", [&](QWidget* frame) {
        auto* formats = frame->findChild<QListWidget*>("Formats");
        ASSERT_NE(formats, nullptr);
        for (int i = 0; i < formats->count(); ++i)
            entries.append(formats->item(i)->text());
        if (formats->currentItem())
            selected = formats->currentItem()->text();
        const auto ten =
            formats->findItems(QStringLiteral("MJPG 640 x 480, 10 fps"), Qt::MatchExactly);
        ASSERT_EQ(ten.size(), 1);
        formats->setCurrentItem(ten.first());
        frame->findChild<QPushButton*>("OK")->click();
    });
    form.actVideoPin->Execute();
    ASSERT_TRUE(SettleSession(form));
    ASSERT_TRUE(page->Answered());
    // YUY2: 1920 x 1080 at 5, 1280 x 720 at 10 and 5, two sizes at six
    // rates; MJPG: five sizes at six rates.
    EXPECT_EQ(entries.size(), 1 + 2 + 2 * 6 + 5 * 6) << entries.join('\n').toStdString();
    EXPECT_EQ(entries.front(), "YUY2 1920 x 1080, 5 fps");
    EXPECT_EQ(entries.mid(1, 2),
              QStringList({"YUY2 1280 x 720, 10 fps", "YUY2 1280 x 720, 5 fps"}));
    EXPECT_TRUE(entries.contains("MJPG 1920 x 1080, 30 fps"));
    EXPECT_EQ(entries.back(), "MJPG 320 x 240, 5 fps");
    EXPECT_EQ(entries.removeDuplicates(), 0);
    EXPECT_EQ(selected, "MJPG 640 x 480, 30 fps");

    EXPECT_NEAR(PinRate(Probe(form).VideoSource()), 10.0, 0.01);
    EXPECT_EQ(PanelState(form).VideoFormat, Mjpg(640, 480));
    ExpectPreviewRuns(form, 640, 480);
    const double recorded = Record(form, 4000);
    ASSERT_TRUE(boxes.empty()) << FirstBox();
    // The rate survives the graph's rebuilding for the recording and after.
    EXPECT_NEAR(PinRate(Probe(form).VideoSource()), 10.0, 0.01);
    const int64_t frames = RecordedMjpegFrames(QSize(640, 480));
    EXPECT_GE(double(frames), 0.9 * 10 * recorded);
    EXPECT_LE(double(frames), 1.1 * 10 * recorded);
}

// HD MJPG at 30 fps: the recording without compressor holds the camera's JPEG
// frames (nothing decodes and encodes them again: the graph has no decoder
// at all, the video renderer decodes the preview), every one of them; a
// still picture is the decoded frame.
TEST_F(WebcamGstTest, MjpgRecordingStoresTheCameraFramesAsTheyCome) {
    Ini().WriteString("CAPTURE", "VIDEO FORMAT", Mjpg(1280, 720));
    TControlForm form;
    ASSERT_TRUE(boxes.empty()) << FirstBox();
    ExpectPreviewRuns(form, 1280, 720);

    ASSERT_TRUE(ClickRecord(form));
    QElapsedTimer recorded;
    recorded.start();
    ASSERT_TRUE(PanelState(form).Recording) << FirstBox();
    const QStringList names = FilterNames(form);
    for (const QString& name : names) {
        EXPECT_FALSE(name.contains("encoder", Qt::CaseInsensitive)) << name.toStdString();
        EXPECT_FALSE(name.contains("Decompressor", Qt::CaseInsensitive)) << name.toStdString();
    }
    QTest::qWait(5000);
    const double seconds = double(recorded.elapsed()) / 1000.0;
    ASSERT_TRUE(ClickRecord(form));
    ASSERT_FALSE(PanelState(form).Recording);
    ASSERT_TRUE(boxes.empty()) << FirstBox();

    EXPECT_GE(double(RecordedMjpegFrames(QSize(1280, 720))), 0.95 * 30 * seconds);

    ExpectPreviewRuns(form, 1280, 720);
    ExpectStill(form, QSize(1280, 720));
}

// A 1080p MJPG frame on a screen too small for it (900 x 560: the preview
// covers the work area, its video less than half the frame in both
// directions): the preview decodes it no larger than the video area needs
// (DCT scaling), while a still picture is the whole frame and a recording
// keeps the camera's own JPEG frames.
TEST_F(WebcamGstTest, MjpgPreviewIsDecodedSmallerButStillsAndRecordingsAreWhole) {
    RunChildOnScreen("ChildMjpgOnASmallScreen", QSize(900, 560), QSize(1920, 1080));
}

// Run by the test above in a process of its own.
TEST_F(WebcamGstTest, ChildMjpgOnASmallScreen) {
    if (ExpectedInChild().isEmpty())
        GTEST_SKIP() << "run by MjpgPreviewIsDecodedSmallerButStillsAndRecordingsAreWhole";
    Ini().WriteString("CAPTURE", "VIDEO FORMAT", Mjpg(1920, 1080));
    TControlForm form;
    ASSERT_TRUE(boxes.empty()) << FirstBox();
    ExpectPreviewRuns(form, 1920, 1080);

    auto* renderer =
        qobject_cast<media::gst::VideoRendererWindow*>(form.ViewForm()->VideoWindow->VideoHandle());
    ASSERT_NE(renderer, nullptr);
    const QSize area = renderer->size() * renderer->devicePixelRatioF();
    ASSERT_LE(area.width(), 960) << "the screen is smaller than half the frame";
    ASSERT_LE(area.height(), 540) << "the screen is smaller than half the frame";
    QSize shown;
    EXPECT_TRUE(QTest::qWaitFor(
        [&] {
            shown = renderer->CurrentFrame().size();
            return !shown.isEmpty() && shown.width() < 1920;
        },
        5000))
        << shown.width() << " x " << shown.height() << " in " << area.width() << " x "
        << area.height();
    EXPECT_GE(shown.width(), area.width());
    EXPECT_GE(shown.height(), area.height());
    EXPECT_GT(ColourBarShare(renderer->CurrentFrame(), 2), 0.9);

    ASSERT_NO_FATAL_FAILURE(ExpectStill(form, QSize(1920, 1080)));
    Record(form, 2000);
    ASSERT_TRUE(boxes.empty()) << FirstBox();
    EXPECT_GE(RecordedMjpegFrames(QSize(1920, 1080)), 30);
}
