// SPDX-License-Identifier: GPL-3.0-or-later
// The control panel's start-up and shut-down against the recording fake of
// the media framework: the order of the graph calls, the device and format
// rules, the sizing of the preview window and the recording timer's text.
#include <QDir>
#include <QFile>
#include <QGuiApplication>
#include <QLabel>
#include <QScreen>
#include <QTimer>
#include <QTemporaryDir>
#include <gtest/gtest.h>

#include "app/Application.h"
#include "files/IniFile.h"
#include "files/PathUtils.h"
#include "ControlFormTesting.h"
#include "forms/frmControl.h"
#include "forms/frmView.h"
#include "media/FilterGraph.h"
#include "media/fake/FakeMedia.h"

using namespace media;
using namespace media::fake;

namespace {

class ControlFormMediaTest : public PanelTestBase {
  protected:
    void SetUp() override {
        QFile::remove(Ini().FileName());
        SetMessageBoxHook([this](const TMessageBoxRequest& r) {
            boxes.push_back(r);
            return QMessageBox::Ok;
        });
    }
    void TearDown() override {
        SetMessageBoxHook(nullptr);
    }
    static TIniFile Ini() { return TIniFile(QStringLiteral("Pomvira.ini")); }
    FakeDevice& AddCamera(const std::string& name) {
        return sys.AddVideoDevice(name, {VideoFormat(MEDIASUBTYPE_YUY2, 640, 480, 16),
                                         VideoFormat(MEDIASUBTYPE_YUY2, 320, 240, 16)});
    }

    FakeMediaSystem sys;
    std::vector<TMessageBoxRequest> boxes;
};

}  // namespace

TEST_F(ControlFormMediaTest, StartUpOpensTheFirstDevicesRunsThePreviewAndShutDownEmptiesTheGraph) {
    AddCamera("Cam");
    sys.AddAudioDevice("Mic", {AudioFormat(44100, 16, 2)});
    {
        TControlForm form;
        ASSERT_TRUE(SettleSession(form));
        EXPECT_TRUE(boxes.empty());
        const CallLog& log = sys.Log();
        EXPECT_TRUE(log.InOrder({
            "DevEnum.CreateClassEnumerator(VideoInputDevice)",
            "System.CoCreateInstance(CaptureGraphBuilder2)",
            "System.CoCreateInstance(FilterGraph)",
            "Graph.AddFilter(VideoSourceFilter)",
            "Graph.AddFilter(SampleGrabber)",
            "Graph.AddFilter(VideoWindow)",
            // The microphone is opened after the graph is up: its filter
            // joins at the end.
            "Graph.AddFilter(AudioSourceFilter)",
            "Builder.RenderStream(PREVIEW, Filter[Cam], Filter[Grabber], Filter[Renderer])",
            "Graph.Run",
        })) << log.Text();
        EXPECT_EQ(log.Count("Graph.Run"), 1);
        // The renderer was placed over the video control when the graph ran.
        EXPECT_TRUE(log.Contains("Renderer.put_Owner(ViewForm)")) << log.Text();
        EXPECT_TRUE(log.Contains("Renderer.put_MessageDrain(VideoWindow)")) << log.Text();

        ASSERT_NE(form.ViewForm(), nullptr);
        EXPECT_TRUE(form.ViewForm()->isVisible());
        EXPECT_EQ(form.ViewForm()->size(), QSize(640 + 36, 480 + 56));
        EXPECT_EQ(form.ViewForm()->lblStatus->text(), "( Preview )");
        // The panel sits directly below the preview window, centred on it.
        EXPECT_EQ(form.y(), form.ViewForm()->y() + form.ViewForm()->height());
        EXPECT_EQ(form.x(), form.ViewForm()->x() + (form.ViewForm()->width() - form.width()) / 2);
        const auto state = PanelState(form);
        EXPECT_EQ(state.VideoDevice, 0);
        EXPECT_EQ(state.AudioDevice, 0);
        EXPECT_EQ(state.VideoFormat, k640);
        sys.Log().Clear();
    }
    const CallLog& log = sys.Log();
    // Emptied (stopped, disconnected), then deactivated: the members' filters
    // leave, the inspection entry is revoked.
    EXPECT_TRUE(
        log.InOrder({"Graph.Stop", "Pin[Cam/Capture].Disconnect",
                     "Graph.RemoveFilter(VideoSourceFilter)", "Graph.RemoveFilter(VideoWindow)",
                     "Graph.RemoveFilter(AudioSourceFilter)", "ROT.Revoke(1)"}))
        << log.Text();
    EXPECT_EQ(Ini().ReadString("CAPTURE", "VIDEO FORMAT", ""), k640);
}

TEST_F(ControlFormMediaTest, StoredFormatThatTheCameraOffersIsUsedAndSizesThePreview) {
    AddCamera("Cam");
    Ini().WriteString("CAPTURE", "VIDEO FORMAT", k320);
    TControlForm form;
    ASSERT_TRUE(SettleSession(form));
    EXPECT_TRUE(sys.Log().Contains(std::string("Pin[Cam/Capture].SetFormat(") + k320 + ")"))
        << sys.Log().Text();
    EXPECT_EQ(form.ViewForm()->size(), QSize(320 + 36, 240 + 56));
    EXPECT_EQ(PanelState(form).VideoFormat, k320);
}

// The camera opens in the largest smooth format that fits (here its first);
// the stored text stays for a camera that offers it.
TEST_F(ControlFormMediaTest, StoredFormatThatTheCameraDoesNotOfferKeepsItsText) {
    AddCamera("Cam");
    const QString other = QString::fromLatin1(k640).replace("640X480", "800X600");
    Ini().WriteString("CAPTURE", "VIDEO FORMAT", other);
    {
        TControlForm form;
        ASSERT_TRUE(SettleSession(form));
        EXPECT_EQ(sys.Log().Matching("Pin[Cam/Capture].SetFormat"),
                  std::vector<std::string>{std::string("Pin[Cam/Capture].SetFormat(") + k640 + ")"})
            << sys.Log().Text();
        EXPECT_EQ(form.ViewForm()->size(), QSize(640 + 36, 480 + 56));
        EXPECT_EQ(PanelState(form).VideoFormat, other);
    }
    EXPECT_EQ(Ini().ReadString("CAPTURE", "VIDEO FORMAT", ""), other);
}

TEST_F(ControlFormMediaTest, StoredDeviceIndexGivesWayToTheFirstDevice) {
    AddCamera("Cam A");
    AddCamera("Cam B");
    Ini().WriteInteger("CAPTURE", "VIDEO DEVICE", 1);
    Ini().WriteInteger("CAPTURE", "AUDIO DEVICE", 5);
    TControlForm form;
    ASSERT_TRUE(SettleSession(form));
    EXPECT_TRUE(sys.Log().Contains(
        "Builder.RenderStream(PREVIEW, Filter[Cam A], Filter[Grabber], Filter[Renderer])"))
        << sys.Log().Text();
    EXPECT_EQ(PanelState(form).VideoDevice, 0);
    // No microphone: the audio index is -1 now.
    EXPECT_EQ(PanelState(form).AudioDevice, -1);
}

TEST_F(ControlFormMediaTest, FrameTooLargeForTheScreenCoversItWithThePanelBottomRight) {
    sys.AddVideoDevice("Big", {VideoFormat(MEDIASUBTYPE_YUY2, 4000, 3000, 16)});
    TControlForm form;
    ASSERT_TRUE(SettleSession(form));
    const QRect screen = QGuiApplication::primaryScreen()->geometry();
    EXPECT_EQ(form.ViewForm()->geometry(), screen);
    EXPECT_EQ(form.ViewForm()->findChild<QLabel*>("lblSize")->text(), "4000 x 3000");
    EXPECT_EQ(form.pos(),
              QPoint(screen.right() + 1 - form.width(), screen.bottom() + 1 - form.height()));
}

TEST_F(ControlFormMediaTest, TimerShowsTheGraphPositionAsElapsedTime) {
    AddCamera("Cam");
    TControlForm form;
    ASSERT_TRUE(SettleSession(form));
    sys.Graph()->SetPosition(835000000);  // 83.5 s in 100-ns units
    form.TimerTimer(form.Timer);
    EXPECT_EQ(form.ViewForm()->lblStatus->text(), "(Record : 0:1:23:500)");
    sys.Graph()->SetPosition(int64_t(25) * 3600 * 10000000);  // hours wrap after a day
    form.TimerTimer(form.Timer);
    EXPECT_EQ(form.ViewForm()->lblStatus->text(), "(Record : 1:0:0:0)");
}
