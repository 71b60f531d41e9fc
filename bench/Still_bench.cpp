// SPDX-License-Identifier: GPL-3.0-or-later
// Still pictures and thumbnails, each beside the bare library work in the
// same run:
//  - a still picture of a 1280x720 frame as the control panel takes it
//    (grab from the frame grabber, find the name, encode at quality 90,
//    write the file, add it to the strip) against libjpeg encoding the same
//    frame at quality 90 into memory;
//  - a still picture with the camera shaped like a 1080p webcam, in MJPG at
//    1920x1080 and 1280x720: the program decodes the camera's last JPEG
//    frame at its full size and encodes it; beside it, libjpeg decoding the
//    camera's JPEG frame and encoding the result at quality 90;
//  - the thumbnail of a 1920x1080 JPEG file as the strip makes it (decoded
//    with DCT scaling, stretched to 70x47) against a full decode and scale.
// Uses the built-in test camera in a temporary configuration folder; run it
// under xvfb-run -a -s "-screen 0 1600x1200x24" (or QT_QPA_PLATFORM=offscreen).
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QTemporaryDir>
#include <QThread>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <memory>
#include <stdexcept>
#include <vector>

#include <gst/app/gstappsink.h>
#include <gst/gst.h>
#include <jpeglib.h>

#include "widgets/ActionList.h"
#include "app/Application.h"
#include "BenchSupport.h"
#include "files/JpegFile.h"
#include "forms/frmControl.h"
#include "media/Bitmap.h"
#include "media/MediaUtil.h"
#include "media/SampleGrabber.h"
#include "media/gst/GstMediaSystem.h"
#include "SessionProbe.h"

namespace {

// The work measured here runs on the calling thread only (the camera's
// streaming threads go on beside it): each measure is that thread's CPU
// time, which the other work on a shared machine disturbs far less than
// the wall clock.
double ThreadCpuMs() {
    timespec ts{};
    clock_gettime(CLOCK_THREAD_CPUTIME_ID, &ts);
    return double(ts.tv_sec) * 1e3 + double(ts.tv_nsec) / 1e6;
}

QString g_configDir;
TControlForm* g_form = nullptr;
media::TBitmap g_frame;  // one 1280x720 frame of the camera
QString g_bigPicture;    // a 1920x1080 JPEG file

void StartProgram() {
    g_form = bench::StartProgram(g_configDir, 1280, 720).release();
    for (int i = 0; i < 500 && !Probe(*g_form).Grabber()->CopyFrameToBitmap(&g_frame); ++i)
        bench::Pump(10);
    if (g_frame.Width() != 1280 || g_frame.Height() != 720)
        throw std::runtime_error("no 1280x720 frame from the test camera");
}

// Ends one iteration's manual time (thread CPU); its milliseconds.
double Timed(benchmark::State& state, double start) {
    const double ms = ThreadCpuMs() - start;
    state.SetIterationTime(ms / 1e3);
    return ms;
}

// The CPU time of the program's threads named `name` so far.
double NamedThreadsCpuMs(const std::string& name) {
    double ms = 0;
    for (const auto& [thread, cpu] : bench::ThreadCpuMs())
        if (thread.rfind(name + "#", 0) == 0)
            ms += cpu;
    return ms;
}

// One still picture of the program, as the still button takes it: the CPU
// time of this (the user-interface) thread for the click, and of the thread
// that encodes and writes the picture, until it has joined the strip.
double ProgramStill(benchmark::State& state, TControlForm& form) {
    const int before = PanelState(form).FileCount;
    const double files = NamedThreadsCpuMs("capture-files");
    const double start = ThreadCpuMs();
    form.actSnapShot->Execute();
    const double ui = ThreadCpuMs() - start;
    // The wait is not counted: this thread only handles events meanwhile.
    while (PanelState(form).FileCount == before)
        bench::Pump(1);
    const double ms = ui + NamedThreadsCpuMs("capture-files") - files;
    state.SetIterationTime(ms / 1e3);
    return ms;
}

void BM_Program_StillPicture(benchmark::State& state) {
    double total = 0;
    for (auto _ : state) {
        total += ProgramStill(state, *g_form);
        // The same name and an empty strip for the next picture.
        const QString file = g_form->SelectedFile();
        g_form->actBmpClear->Execute();
        QFile::remove(file);
    }
    bench::Record(state, "BM_Program_StillPicture", "ms", total, "ms");
}

// libjpeg alone encoding 24-bit BGR rows at quality 90 into memory: what a
// still picture's encoding is measured against.
void BareEncode(std::vector<JSAMPROW>& rows, int w, int h) {
    jpeg_compress_struct cinfo;
    jpeg_error_mgr err;
    cinfo.err = jpeg_std_error(&err);
    jpeg_create_compress(&cinfo);
    unsigned char* out = nullptr;
    unsigned long size = 0;
    jpeg_mem_dest(&cinfo, &out, &size);
    cinfo.image_width = JDIMENSION(w);
    cinfo.image_height = JDIMENSION(h);
    cinfo.input_components = 3;
    cinfo.in_color_space = JCS_EXT_BGR;
    jpeg_set_defaults(&cinfo);
    jpeg_set_quality(&cinfo, 90, TRUE);
    jpeg_start_compress(&cinfo, TRUE);
    jpeg_write_scanlines(&cinfo, rows.data(), JDIMENSION(h));
    jpeg_finish_compress(&cinfo);
    jpeg_destroy_compress(&cinfo);
    benchmark::DoNotOptimize(size);
    std::free(out);
}

void BM_Bare_Encode(benchmark::State& state) {
    const int w = g_frame.Width(), h = g_frame.Height();
    std::vector<JSAMPROW> rows(static_cast<size_t>(h));
    for (int y = 0; y < h; ++y)
        rows[size_t(y)] = const_cast<JSAMPROW>(g_frame.Bits() + (h - 1 - y) * g_frame.Stride());
    double total = 0;
    for (auto _ : state) {
        const double start = ThreadCpuMs();
        BareEncode(rows, w, h);
        total += Timed(state, start);
    }
    bench::Record(state, "BM_Bare_Encode", "ms", total, "ms");
}

void BM_Program_Thumbnail(benchmark::State& state) {
    double total = 0;
    for (auto _ : state) {
        const double start = ThreadCpuMs();
        const QImage thumbnail = LoadJpegThumbnail(g_bigPicture, QSize(70, 47));
        total += Timed(state, start);
        if (thumbnail.size() != QSize(70, 47))
            state.SkipWithError("no thumbnail");
    }
    bench::Record(state, "BM_Program_Thumbnail", "ms", total, "ms");
    state.counters["file_kB"] = double(QFileInfo(g_bigPicture).size()) / 1024.0;
}

// The whole picture decoded, then scaled to the box.
void BM_FullDecode_Thumbnail(benchmark::State& state) {
    double total = 0;
    for (auto _ : state) {
        const double start = ThreadCpuMs();
        QFile file(g_bigPicture);
        file.open(QIODevice::ReadOnly);
        const QImage picture = DecodeJpeg(file.readAll());
        const QImage thumbnail =
            picture.scaled(QSize(70, 47), Qt::IgnoreAspectRatio, Qt::SmoothTransformation);
        total += Timed(state, start);
        if (picture.size() != QSize(1920, 1080))
            state.SkipWithError("no picture");
    }
    bench::Record(state, "BM_FullDecode_Thumbnail", "ms", total, "ms");
}

// A 1920x1080 picture: the camera's frame (colour bars and a patch of
// noise) enlarged, written as the program writes its pictures.
void MakeBigPicture() {
    const QImage big = g_frame.ToImage()
                           .scaled(1920, 1080, Qt::IgnoreAspectRatio, Qt::SmoothTransformation)
                           .convertToFormat(QImage::Format_RGB32);
    TJpegSource source;
    source.Bits = big.constBits();
    source.Width = big.width();
    source.Height = big.height();
    source.Stride = big.bytesPerLine();
    source.BytesPerPixel = 4;
    const TJpegData jpeg = EncodeJpeg(source, 90);
    g_bigPicture = QDir(g_configDir).filePath(QStringLiteral("big.jpg"));
    WriteNewFile(g_bigPicture, jpeg.Data(), jpeg.Size());
}

// ---------------------------------------------------------------------------
// MJPG
// ---------------------------------------------------------------------------

// One JPEG frame of the webcam-shaped camera at width x height, made as the
// test camera makes the frames of its cycle (videotestsrc -> I420 -> jpegenc).
QByteArray CameraJpegFrame(int width, int height) {
    const std::string description =
        "videotestsrc num-buffers=1 pattern=smpte ! video/x-raw,format=I420,width=" +
        std::to_string(width) + ",height=" + std::to_string(height) +
        ",framerate=30/1 ! jpegenc ! appsink name=out";
    GError* error = nullptr;
    GstElement* pipeline = gst_parse_launch(description.c_str(), &error);
    if (!pipeline || error) {
        g_clear_error(&error);
        throw std::runtime_error("cannot build the JPEG frame's pipeline");
    }
    GstElement* sink = gst_bin_get_by_name(GST_BIN(pipeline), "out");
    gst_element_set_state(pipeline, GST_STATE_PLAYING);
    GstSample* sample = gst_app_sink_try_pull_sample(GST_APP_SINK(sink), 10 * GST_SECOND);
    QByteArray frame;
    if (sample) {
        GstMapInfo map;
        GstBuffer* buffer = gst_sample_get_buffer(sample);
        if (gst_buffer_map(buffer, &map, GST_MAP_READ)) {
            frame = QByteArray(reinterpret_cast<const char*>(map.data), int(map.size));
            gst_buffer_unmap(buffer, &map);
        }
        gst_sample_unref(sample);
    }
    gst_element_set_state(pipeline, GST_STATE_NULL);
    gst_object_unref(sink);
    gst_object_unref(pipeline);
    if (frame.isEmpty())
        throw std::runtime_error("no JPEG frame");
    return frame;
}

int MjpgHeight(int width) {
    return width == 1920 ? 1080 : 720;
}

// The program on the webcam-shaped camera in MJPG: still pictures of its
// frames.
void BM_Program_StillPictureMjpg(benchmark::State& state) {
    const int w = int(state.range(0)), h = MjpgHeight(w);
    bench::WebcamProfile webcam;
    auto form = bench::StartProgramInFormat(g_configDir, bench::FormatText(true, w, h));
    media::TBitmap frame;
    for (int i = 0; i < 500 && !Probe(*form).Grabber()->CopyFrameToBitmap(&frame); ++i)
        bench::Pump(10);
    if (frame.Width() != w || frame.Height() != h) {
        state.SkipWithError("no MJPG frame of that size");
        return;
    }
    double total = 0;
    for (auto _ : state) {
        total += ProgramStill(state, *form);
        const QString file = form->SelectedFile();
        form->actBmpClear->Execute();
        QFile::remove(file);
    }
    bench::Record(state, "BM_Program_StillPictureMjpg/" + std::to_string(w), "ms", total, "ms");
}

// libjpeg alone: the camera's JPEG frame decoded to 24-bit rows, then
// encoded at quality 90 into memory.
void BM_Bare_DecodeEncode(benchmark::State& state) {
    const int w = int(state.range(0)), h = MjpgHeight(w);
    const QByteArray jpeg = CameraJpegFrame(w, h);
    std::vector<unsigned char> pixels(size_t(w) * size_t(h) * 3);
    std::vector<JSAMPROW> rows(static_cast<size_t>(h));
    for (int y = 0; y < h; ++y)
        rows[size_t(y)] = pixels.data() + size_t(y) * size_t(w) * 3;
    double total = 0;
    for (auto _ : state) {
        const double start = ThreadCpuMs();
        jpeg_decompress_struct dinfo;
        jpeg_error_mgr derr;
        dinfo.err = jpeg_std_error(&derr);
        jpeg_create_decompress(&dinfo);
        jpeg_mem_src(&dinfo, reinterpret_cast<const unsigned char*>(jpeg.constData()),
                     static_cast<unsigned long>(jpeg.size()));
        jpeg_read_header(&dinfo, TRUE);
        dinfo.out_color_space = JCS_EXT_BGR;
        jpeg_start_decompress(&dinfo);
        while (dinfo.output_scanline < dinfo.output_height) {
            JSAMPROW row = rows[dinfo.output_scanline];
            jpeg_read_scanlines(&dinfo, &row, 1);
        }
        jpeg_finish_decompress(&dinfo);
        jpeg_destroy_decompress(&dinfo);

        BareEncode(rows, w, h);
        total += Timed(state, start);
    }
    bench::Record(state, "BM_Bare_DecodeEncode/" + std::to_string(w), "ms", total, "ms");
}

BENCHMARK(BM_Program_StillPicture)->Iterations(100)->UseManualTime()->Unit(benchmark::kMillisecond);
BENCHMARK(BM_Bare_Encode)->Iterations(100)->UseManualTime()->Unit(benchmark::kMillisecond);
BENCHMARK(BM_Program_Thumbnail)->Iterations(60)->UseManualTime()->Unit(benchmark::kMillisecond);
BENCHMARK(BM_FullDecode_Thumbnail)->Iterations(30)->UseManualTime()->Unit(benchmark::kMillisecond);
BENCHMARK(BM_Program_StillPictureMjpg)
    ->Arg(1920)
    ->Arg(1280)
    ->Iterations(40)
    ->UseManualTime()
    ->Unit(benchmark::kMillisecond);
BENCHMARK(BM_Bare_DecodeEncode)
    ->Arg(1920)
    ->Arg(1280)
    ->Iterations(40)
    ->UseManualTime()
    ->Unit(benchmark::kMillisecond);

}  // namespace

// The closing table; the panel goes while the application still lives.
void Report() {
    bench::PrintPairs("The program beside the bare library work (same run):", "program",
                      {{"still picture 1280x720 (grab, encode, write)",
                        "BM_Program_StillPicture ms", "BM_Bare_Encode ms"},
                       {"thumbnail of a 1920x1080 JPEG (DCT scaling)", "BM_Program_Thumbnail ms",
                        "BM_FullDecode_Thumbnail ms"},
                       {"still picture, MJPG 1920x1080 (vs decode + encode)",
                        "BM_Program_StillPictureMjpg/1920 ms", "BM_Bare_DecodeEncode/1920 ms"},
                       {"still picture, MJPG 1280x720 (vs decode + encode)",
                        "BM_Program_StillPictureMjpg/1280 ms", "BM_Bare_DecodeEncode/1280 ms"}});
    delete g_form;
    g_form = nullptr;
}

int main(int argc, char** argv) {
    return bench::RunProgramBenchmarks(argc, argv, Report, [](const QString& folder) {
        g_configDir = folder;
        StartProgram();
        MakeBigPicture();
    });
}
