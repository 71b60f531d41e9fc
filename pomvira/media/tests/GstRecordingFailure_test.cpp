// SPDX-License-Identifier: GPL-3.0-or-later
// Recordings on the GStreamer boundary that do not end well, and cameras that
// do not keep their rate: a disk that fills, a folder removed while its file
// is written, a stop that cannot drain in time, a camera delivering fewer
// frames than its format says. Files are read back with ffprobe and by their
// RIFF chunks.
#include <QCoreApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QFileInfo>
#include <QTemporaryDir>
#include <gst/gst.h>
#include <gtest/gtest.h>

#include <QTemporaryFile>
#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdlib>
#include <unistd.h>
#include <thread>

#include "AviProbe.h"
#include "media/tests/GstGraphTesting.h"
#include "SmallFilesystem.h"
#include "media/gst/BinFilter.h"
#include "media/gst/FilterGraph.h"
#include "media/gst/GstMediaSystem.h"
#include "media/gst/RecordingFileSink.h"
#include "media/testdevices/TestRig.h"

using namespace media;
using namespace media::gst;
using namespace gst_graph_testing;

namespace {

std::string ErrorText(HRESULT hr) {
    char text[256] = {};
    AMGetErrorText(hr, text, sizeof text);
    return text;
}

class GstRecordingFailure : public ::testing::Test {
  protected:
    static void SetUpTestSuite() {
        setenv("POMVIRA_TEST_DEVICES", "1", 1);
        SetMediaSystem(GstMediaSystem());
        InstallTestRig();
    }

    void SetUp() override {
        ASSERT_EQ(GstMediaSystem()->CreateInstance(CLSID_FilterGraph, IGraphBuilder::IID_,
                                                   graph_.PutVoid()),
                  S_OK);
        ASSERT_EQ(GstMediaSystem()->CreateInstance(CLSID_CaptureGraphBuilder2,
                                                   ICaptureGraphBuilder2::IID_, builder_.PutVoid()),
                  S_OK);
        ASSERT_EQ(builder_->SetFiltergraph(graph_.Get()), S_OK);
        control_ = QueryAs<IMediaControl>(graph_.Get());
        events_ = QueryAs<IMediaEventEx>(graph_.Get());
        ASSERT_TRUE(control_ && events_);
        ASSERT_TRUE(log_.open());
        ASSERT_EQ(graph_->SetLogFile(log_.handle()), S_OK);
    }

    void TearDown() override {
        if (control_)
            control_->Stop();
        graph_->SetLogFile(-1);
        SetDrainTimeout(std::chrono::seconds(5));
    }

    // Camera (with a preview sink) and, when asked, microphone into an AVI
    // file; runs the graph.
    void Record(const QString& file, bool sound) {
        camera_ = Bind(CLSID_VideoInputDeviceCategory, "Test Camera 1");
        ASSERT_TRUE(camera_);
        ASSERT_EQ(graph_->AddFilter(camera_.Get(), u"VideoSourceFilter"), S_OK);
        preview_ = new ProbeSink;
        previewRef_ = ComPtr<IBaseFilter>::Attach(preview_);
        ASSERT_EQ(graph_->AddFilter(preview_, u"VideoWindow"), S_OK);
        ASSERT_EQ(builder_->RenderStream(&PIN_CATEGORY_PREVIEW, nullptr, camera_.Get(), nullptr,
                                         preview_),
                  S_OK);
        ComPtr<IBaseFilter> mux;
        ASSERT_EQ(builder_->SetOutputFileName(MEDIASUBTYPE_Avi, file.toStdU16String(), mux.Put(),
                                              nullptr),
                  S_OK);
        ASSERT_EQ(builder_->RenderStream(&PIN_CATEGORY_CAPTURE, nullptr, camera_.Get(), nullptr,
                                         mux.Get()),
                  S_OK);
        if (sound) {
            microphone_ = Bind(CLSID_AudioInputDeviceCategory, "Test Microphone");
            ASSERT_TRUE(microphone_);
            ASSERT_EQ(graph_->AddFilter(microphone_.Get(), u"AudioSourceFilter"), S_OK);
            ASSERT_EQ(
                builder_->RenderStream(nullptr, nullptr, microphone_.Get(), nullptr, mux.Get()),
                S_OK);
        }
        ASSERT_GE(control_->Run(), 0);
    }

    // The first error the graph announces within the bound (S_OK for none);
    // every event code seen on the way is kept.
    HRESULT WaitForError(int ms) {
        QElapsedTimer t;
        t.start();
        int32_t code = 0;
        intptr_t p1 = 0, p2 = 0;
        while (t.elapsed() < ms) {
            if (events_->GetEvent(&code, &p1, &p2, 50) != S_OK)
                continue;
            codes_.push_back(code);
            events_->FreeEventParams(code, p1, p2);
            if (code == EC_ERRORABORT)
                return HRESULT(p1);
        }
        return S_OK;
    }

    QString Log() {
        QFile f(log_.fileName());
        return f.open(QIODevice::ReadOnly) ? QString::fromUtf8(f.readAll()) : QString();
    }

    ComPtr<IGraphBuilder> graph_;
    ComPtr<ICaptureGraphBuilder2> builder_;
    ComPtr<IMediaControl> control_;
    ComPtr<IMediaEventEx> events_;
    ComPtr<IBaseFilter> camera_, microphone_, previewRef_;
    ProbeSink* preview_ = nullptr;
    std::vector<int32_t> codes_;
    QTemporaryFile log_;
    QTemporaryDir dir_;
};

}  // namespace

// The disk fills: the writer's failure is announced as the first error, with
// a reason that says so; the stop does not wait for an end of stream that
// the failed writer can never take, and reports the same failure.
TEST_F(GstRecordingFailure, AFullDiskIsAnnouncedAndTheStopReportsIt) {
    TSmallFilesystem small(4 << 20);
    const HRESULT full = HResultFromWin32(small.Mounted() ? ERROR_DISK_FULL : ERROR_FILE_TOO_LARGE);
    Record(small.Path() + "/video000001.avi", true);
    const HRESULT error = WaitForError(10000);
    EXPECT_EQ(error, full) << ErrorText(error) << "\n" << Log().toStdString();
    EXPECT_EQ(control_->Stop(), full);
    EXPECT_FALSE(Log().contains("drain: end of stream sent")) << Log().toStdString();
    EXPECT_EQ(ErrorText(HResultFromWin32(ERROR_DISK_FULL)),
              "Il n'y a pas assez d'espace sur le disque.");
    // What was written is still there: a RIFF file that lacks its ending.
    const TAviProbe avi = ProbeAvi(small.Path() + "/video000001.avi");
    EXPECT_TRUE(avi.riff) << avi.Text().toStdString();
    EXPECT_FALSE(avi.Complete()) << avi.Text().toStdString();
}

// The folder goes while its file is written: the writes would go on into a
// file without a name; the writer notices and fails with "path not found".
TEST_F(GstRecordingFailure, AFolderRemovedWhileWritingIsAnnouncedAsGone) {
    const QString folder = dir_.filePath("videos");
    ASSERT_TRUE(QDir().mkpath(folder));
    Record(folder + "/video000001.avi", false);
    Pump(700);
    ASSERT_EQ(WaitForError(0), S_OK);
    ASSERT_TRUE(QDir(folder).removeRecursively());
    const HRESULT gone = HResultFromWin32(ERROR_PATH_NOT_FOUND);
    const HRESULT error = WaitForError(5000);
    EXPECT_EQ(error, gone) << ErrorText(error);
    EXPECT_EQ(ErrorText(error), "Le chemin d'accès spécifié est introuvable.");
    EXPECT_EQ(control_->Stop(), gone);
    // Only the file's failure counts as the reason, not the stream errors
    // of the sources it stopped.
    EXPECT_EQ(std::count(codes_.begin(), codes_.end(), EC_DEVICE_LOST), 0);
}

// The end of the stream does not reach the writer in time: the stop still
// stops, says so, and the file lacks what the end would have written.
TEST_F(GstRecordingFailure, AStopThatCannotDrainInTimeReportsTheTimeout) {
    const QString file = dir_.filePath("video000001.avi");
    Record(file, true);
    Pump(800);
    SetDrainTimeout(std::chrono::milliseconds(0));
    EXPECT_EQ(control_->Stop(), VFW_E_TIMEOUT);
    EXPECT_TRUE(Log().contains("no end of stream within the bound")) << Log().toStdString();
    FILTER_STATE state = State_Running;
    control_->GetState(1000, &state);
    EXPECT_EQ(state, State_Stopped);
    graph_ = nullptr;
    control_ = nullptr;
    builder_ = nullptr;
    events_ = nullptr;
    EXPECT_FALSE(ProbeAvi(file).Complete());

    // The same stop with time enough completes the file.
    SetUp();
    const QString second = dir_.filePath("video000002.avi");
    SetDrainTimeout(std::chrono::seconds(5));
    Record(second, true);
    Pump(800);
    EXPECT_EQ(control_->Stop(), S_OK);
    EXPECT_TRUE(ProbeAvi(second).Complete()) << ProbeAvi(second).Text().toStdString();
}

// A camera that delivers 15 frames a second while its format says 30: the
// preview gets 15, and the file still holds 30 a second for as long as it
// was recorded, its sound as long as its picture.
TEST_F(GstRecordingFailure, ACameraSlowerThanItsFormatIsRecordedByItsClock) {
    setenv("POMVIRA_TEST_CAMERA_FPS", "15", 1);
    const QString file = dir_.filePath("video000001.avi");
    Record(file, true);
    QElapsedTimer recorded;
    recorded.start();
    Pump(1000);
    const int before = preview_->Buffers();
    Pump(2000);
    const int previewed = preview_->Buffers() - before;
    Pump(1000);
    const double seconds = double(recorded.elapsed()) / 1000.0;
    EXPECT_EQ(control_->Stop(), S_OK);
    unsetenv("POMVIRA_TEST_CAMERA_FPS");
    EXPECT_NEAR(previewed, 30, 4);

    const TAviProbe avi = ProbeAvi(file, true);
    ASSERT_TRUE(avi.Complete()) << avi.Text().toStdString();
    const TAviStream* video = avi.Stream("video");
    const TAviStream* audio = avi.Stream("audio");
    ASSERT_TRUE(video && audio) << avi.Text().toStdString();
    EXPECT_NEAR(avi.duration, seconds, 0.25) << avi.Text().toStdString();
    EXPECT_NEAR(video->duration, audio->duration, 0.1) << avi.Text().toStdString();
    EXPECT_NEAR(double(video->frames), video->duration * 30, 2) << avi.Text().toStdString();
}

// The writer creates its file when it is named, and writes through that
// file only: a file, or a link (to a file or to nowhere), already under the
// name is never written through nor replaced; the name is refused as taken.
TEST_F(GstRecordingFailure, ANameAlreadyTakenIsRefusedAndNeverWrittenThrough) {
    QTemporaryDir elsewhere;
    const QString target = elsewhere.filePath("someone.avi");
    const QString nowhere = elsewhere.filePath("nothing.avi");
    QFile someone(target);
    ASSERT_TRUE(someone.open(QIODevice::WriteOnly) && someone.write("someone's") == 9);
    someone.close();
    const QString file = dir_.filePath("video000001.avi");
    const QString link = dir_.filePath("video000002.avi");
    const QString dangling = dir_.filePath("video000003.avi");
    ASSERT_TRUE(QFile::copy(target, file));
    ASSERT_TRUE(QFile::link(target, link));
    ASSERT_TRUE(QFile::link(nowhere, dangling));
    for (const QString& name : {file, link, dangling}) {
        SCOPED_TRACE(name.toStdString());
        ComPtr<IBaseFilter> mux;
        EXPECT_EQ(builder_->SetOutputFileName(MEDIASUBTYPE_Avi, name.toStdU16String(), mux.Put(),
                                              nullptr),
                  HResultFromWin32(ERROR_FILE_EXISTS));
    }
    EXPECT_EQ(ErrorText(HResultFromWin32(ERROR_FILE_EXISTS)), "Le fichier existe.");
    for (const QString& name : {file, target}) {
        QFile kept(name);
        ASSERT_TRUE(kept.open(QIODevice::ReadOnly));
        EXPECT_EQ(kept.readAll(), "someone's");
    }
    EXPECT_FALSE(QFileInfo::exists(nowhere));
    EXPECT_TRUE(QFileInfo(link).isSymLink());
}

// A slow disk (the test knob: each write waits 10 ms): the recording still
// ends complete, with its frames.
TEST_F(GstRecordingFailure, ARecordingOnASlowDiskIsStillComplete) {
    setenv("POMVIRA_TEST_SLOW_WRITE_MS", "10", 1);
    const QString file = dir_.filePath("video000001.avi");
    Record(file, true);
    unsetenv("POMVIRA_TEST_SLOW_WRITE_MS");
    Pump(1500);
    EXPECT_EQ(control_->Stop(), S_OK) << Log().toStdString();
    const TAviProbe avi = ProbeAvi(file, true);
    ASSERT_TRUE(avi.Complete()) << avi.Text().toStdString();
    ASSERT_TRUE(avi.Stream("video") && avi.Stream("audio")) << avi.Text().toStdString();
    EXPECT_GE(avi.Stream("video")->frames, 15) << avi.Text().toStdString();
}

// A chunk's header, data and pad byte come as buffers of their own: the sink
// writes them all in one call once the chunk is whole, none before.
TEST(RecordingFileSink, WritesEachChunkWholeInOneCall) {
    gst_init(nullptr, nullptr);
    QTemporaryDir dir;
    QFile file(dir.filePath("chunks"));
    ASSERT_TRUE(file.open(QIODevice::ReadWrite));
    GstElement* sink = GST_ELEMENT(gst_object_ref_sink(NewRecordingFileSink()));
    struct stat made {};
    ASSERT_EQ(::fstat(file.handle(), &made), 0);
    SetRecordingFile(sink, ::dup(file.handle()), file.fileName().toStdString(), made);
    ASSERT_NE(gst_element_set_state(sink, GST_STATE_PLAYING), GST_STATE_CHANGE_FAILURE);
    GstPad* pad = gst_element_get_static_pad(sink, "sink");
    GstSegment segment;
    gst_segment_init(&segment, GST_FORMAT_BYTES);
    gst_pad_send_event(pad, gst_event_new_stream_start("chunks"));
    gst_pad_send_event(pad, gst_event_new_segment(&segment));
    const QByteArray chunk = QByteArray("00dc\x05\0\0\0", 8) + "frame" + QByteArray(1, '\0');
    for (const QByteArray& piece : {chunk.left(8), chunk.mid(8, 5), chunk.right(1)}) {
        EXPECT_EQ(file.size(), 0) << "written before the chunk was whole";
        GstBuffer* buffer = gst_buffer_new_memdup(piece.constData(), gsize(piece.size()));
        ASSERT_EQ(gst_pad_chain(pad, buffer), GST_FLOW_OK);
    }
    EXPECT_EQ(file.readAll(), chunk);
    gst_element_set_state(sink, GST_STATE_NULL);
    gst_object_unref(pad);
    gst_object_unref(sink);
}

// What the users read: each system error of a file writer has its own reason.
TEST(WriterErrors, EachSystemErrorHasItsOwnReason) {
    EXPECT_EQ(WriterErrorResult(ENOSPC), HResultFromWin32(ERROR_DISK_FULL));
    EXPECT_EQ(WriterErrorResult(EDQUOT), HResultFromWin32(ERROR_DISK_FULL));
    EXPECT_EQ(WriterErrorResult(ENOENT), HResultFromWin32(ERROR_PATH_NOT_FOUND));
    EXPECT_EQ(WriterErrorResult(EACCES), E_ACCESSDENIED);
    EXPECT_EQ(WriterErrorResult(EROFS), HResultFromWin32(ERROR_WRITE_PROTECT));
    EXPECT_EQ(WriterErrorResult(ENODEV), HResultFromWin32(ERROR_NOT_READY));
    EXPECT_EQ(WriterErrorResult(EIO), HResultFromWin32(ERROR_WRITE_FAULT));
    EXPECT_EQ(WriterErrorResult(EFBIG), HResultFromWin32(ERROR_FILE_TOO_LARGE));
    EXPECT_EQ(WriterErrorResult(EEXIST), HResultFromWin32(ERROR_FILE_EXISTS));
}
