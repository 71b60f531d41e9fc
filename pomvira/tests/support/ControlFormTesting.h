// SPDX-License-Identifier: GPL-3.0-or-later
// Shared set-up of the control panel's tests: a fresh program folder, no
// settings file at the start but the 640 x 480 format (and, where asked, the
// save folders of the test's own),
// message boxes answered with OK and recorded,
// the GStreamer framework with the built-in test devices, and the format in
// force on a source's pin.
#pragma once

#include <QDir>
#include <QFile>
#include <QTemporaryDir>
#include <QTest>
#include <cstdlib>
#include <cstring>
#include <gtest/gtest.h>
#include <optional>
#include <string>
#include <vector>

#include "app/Application.h"
#include "capture/CaptureSession.h"
#include "files/IniFile.h"
#include "files/PathUtils.h"
#include "forms/frmControl.h"
#include "widgets/ActionList.h"
#include "widgets/ImageButton.h"
#include "media/Bitmap.h"
#include "media/Filter.h"
#include "media/MediaTypes.h"
#include "media/MediaUtil.h"
#include "media/SampleGrabber.h"
#include "media/VideoFormatChoice.h"
#include "media/tests/GstTestDevices.h"
#include "PanelTesting.h"
#include "SessionProbe.h"

// The descriptions of the test cameras' first two formats.
inline const char* const k640 =
    "Major Type: Video - Sub Type: YUY2 Format: VideoInfo YUY2 640X480, 16 bits";
inline const char* const k320 =
    "Major Type: Video - Sub Type: YUY2 Format: VideoInfo YUY2 320X240, 16 bits";

class ControlFormTestBase : public PanelTestBase {
  protected:
    void SetUp() override {
        QFile::remove(Ini().FileName());
        QFile::remove(TIniFile(QStringLiteral("Pomvira.unrepairable")).FileName());
        // As a previous run left it: the test camera's 640 x 480 format (with
        // nothing stored, the camera would open in its largest format that
        // fits the screen).
        Ini().WriteString("CAPTURE", "VIDEO FORMAT", QString::fromLatin1(k640));
        SetMessageBoxHook([this](const TMessageBoxRequest& r) {
            boxes.push_back(r.text);
            return QMessageBox::Ok;
        });
    }
    void TearDown() override {
        SetMessageBoxHook(nullptr);
    }
    static TIniFile Ini() { return TIniFile(QStringLiteral("Pomvira.ini")); }
    // Save folders of the test's own, new and empty, named in the settings
    // file (before the panel starts).
    QString SnapFolder() const { return programDir.filePath(QStringLiteral("pictures")); }
    QString VideoFolder() const { return programDir.filePath(QStringLiteral("videos")); }
    // The recording numbered n in the test's own video folder.
    QString VideoFile(int n) const {
        return VideoFolder() + QStringLiteral("/video%1.avi").arg(n, 6, 10, QLatin1Char('0'));
    }
    void UseOwnSaveFolders() {
        QDir().mkpath(SnapFolder());
        QDir().mkpath(VideoFolder());
        Ini().WriteString("CAPTURE", "SNAP FOLDER", SnapFolder());
        Ini().WriteString("CAPTURE", "VIDEO FOLDER", VideoFolder());
    }
    // The first message shown, for failure messages.
    std::string FirstBox() const { return boxes.empty() ? std::string() : boxes[0].toStdString(); }

    std::vector<QString> boxes;
};

// The panel's capture session has done all it was asked (bounded: false
// when it is still busy after the bound).
inline bool SettleSession(TControlForm& form, int boundMs = 15000) {
    return QTest::qWaitFor([&] { return !form.Session()->Busy(); }, boundMs);
}

// A click on the record button, and the session's answer: the recording
// runs, or the start failed (the panel previews again).
inline bool ClickRecord(TControlForm& form, int boundMs = 15000) {
    form.btnCapture->Click();
    return SettleSession(form, boundMs);
}

// The format in force on the first pin of a source.
inline std::optional<media::TMediaType> SourcePinFormat(media::TFilter* source) {
    return media::PinFormat(
        media::TPinList(source->Get<media::IBaseFilter>().Get()).FirstPin().Get());
}

// Its description, empty without one.
inline QString PinFormatText(media::TFilter* source) {
    const auto format = SourcePinFormat(source);
    return format ? format->Description() : QString();
}

// Its frame size, empty without one.
inline QSize PinFrameSize(media::TFilter* source) {
    const auto format = SourcePinFormat(source);
    const media::TVideoOffer offer =
        format ? media::VideoOfferOf(*format->AMMediaType()) : media::TVideoOffer();
    return QSize(offer.Width, offer.Height);
}

// Waits (bounded) until the sample grabber has passed a frame; the frame
// (empty when none came).
inline media::TBitmap WaitForFrame(TControlForm& form) {
    media::TBitmap frame;
    for (int i = 0; i < 200 && !Probe(form).Grabber()->CopyFrameToBitmap(&frame); ++i)
        QTest::qWait(50);
    return frame;
}

// The preview runs: frames of the given size arrive and the scrolling
// picture changes between them.
inline void ExpectPreviewRuns(TControlForm& form, int width, int height) {
    const media::TBitmap first = WaitForFrame(form);
    ASSERT_EQ(first.Width(), width);
    ASSERT_EQ(first.Height(), height);
    media::TBitmap later;
    bool moved = false;
    for (int i = 0; i < 40 && !moved; ++i) {
        QTest::qWait(50);
        moved = Probe(form).Grabber()->CopyFrameToBitmap(&later) &&
                (later.BitsSize() != first.BitsSize() ||
                 std::memcmp(later.Bits(), first.Bits(), first.BitsSize()) != 0);
    }
    EXPECT_TRUE(moved) << "the picture does not move";
}
