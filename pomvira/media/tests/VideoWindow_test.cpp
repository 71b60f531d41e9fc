// SPDX-License-Identifier: GPL-3.0-or-later
// The video window control against the fake boundary: the renderer joins
// the graph with the control, its window is placed over the control when
// the graph runs, follows the control's size and visibility, and leaves with
// the control.
#include "media/VideoWindow.h"

#include <gtest/gtest.h>

#include <QApplication>
#include <QContextMenuEvent>
#include <QMenu>
#include <QGuiApplication>
#include <QScreen>

#include "media/FilterGraph.h"
#include "media/fake/FakeMedia.h"

using namespace media;
using namespace media::fake;

namespace {

class VideoWindowTest : public ::testing::Test {
  protected:
    void SetUp() override {
        form.setObjectName("ViewForm");
        form.resize(400, 320);
        video = new TVideoWindow(&form);
        video->setObjectName("VideoWindow");
        video->setGeometry(19, 37, 320, 240);
        form.show();
        graph.SetMode(gmCapture);
        video->SetFilterGraph(&graph);
        source = new FakeFilter(&sys, "Source", GUID{});
        sourceRef = ComPtr<IBaseFilter>::Attach(source);
        source->AddPin({"Output", PINDIR_OUTPUT, {}, false, {}});
    }
    void Activate() {
        graph.SetActive(true);
        ASSERT_NE(sys.Renderer(), nullptr);
    }
    // What the preview chain does: the renderer's input gets a peer.
    void ConnectRenderer() { sys.Renderer()->Pin("Input")->Link(source->Pin("Output")); }

    FakeMediaSystem sys;
    TFilterGraph graph;
    QWidget form;
    TVideoWindow* video;  // owned by form
    FakeFilter* source;
    ComPtr<IBaseFilter> sourceRef;
};

TEST_F(VideoWindowTest, Defaults) {
    TVideoWindow fresh;
    EXPECT_EQ(fresh.size(), QSize(160, 120));
    EXPECT_EQ(fresh.Color(), QColor(Qt::black));
    EXPECT_EQ(fresh.Mode(), vmNormal);
    EXPECT_FALSE(fresh.FullScreen());
    EXPECT_EQ(fresh.VMROptions().Mode(), vmrWindowed);
    EXPECT_EQ(fresh.VMROptions().Streams(), 4);
    EXPECT_EQ(fresh.VMROptions().Preferences(), TVMRPreferences(vpForceMixer));
    EXPECT_TRUE(fresh.VMROptions().KeepAspectRatio());
    fresh.VMROptions().SetStreams(17);
    EXPECT_EQ(fresh.VMROptions().Streams(), 1);
    EXPECT_EQ(fresh.VideoHandle(), &fresh);
}

TEST_F(VideoWindowTest, RendererJoinsTheActiveGraph) {
    EXPECT_EQ(graph.Members().size(), 1u);
    EXPECT_EQ(graph.EventSinks().size(), 1u);
    Activate();
    EXPECT_TRUE(sys.Log().ContainsAll(
        {"System.CoCreateInstance(VideoRenderer)", "Graph.AddFilter(VideoWindow)"}));
    EXPECT_EQ(video->MemberFilter(), static_cast<IBaseFilter*>(sys.Renderer()));
    EXPECT_EQ(video->Query<IBaseFilter>().Get(), static_cast<IBaseFilter*>(sys.Renderer()));
    EXPECT_NE(video->VideoWindowInterface(), nullptr);

    sys.Log().Clear();
    graph.SetActive(false);
    EXPECT_TRUE(sys.Log().InOrder({"Filter[Renderer].Stop", "Pin[Renderer/Input].Disconnect",
                                   "Graph.RemoveFilter(VideoWindow)"}))
        << sys.Log().Text();
    EXPECT_EQ(video->MemberFilter(), nullptr);
    EXPECT_EQ(video->VideoWindowInterface(), nullptr);
}

TEST_F(VideoWindowTest, RunPlacesTheConnectedRendererOverTheControl) {
    Activate();
    ConnectRenderer();
    sys.Log().Clear();
    EXPECT_TRUE(graph.RunGraph());
    EXPECT_TRUE(sys.Log().ContainsAll(
        {"Renderer.put_Owner(ViewForm)", "Renderer.put_WindowStyle(0x44000000)",
         "Renderer.put_WindowStyleEx(0x00000000)", "Renderer.put_Caption(VideoWindow)",
         "Renderer.put_MessageDrain(VideoWindow)"}))
        << sys.Log().Text();
    // Placed before it runs, so that no frame shows elsewhere first.
    EXPECT_TRUE(
        sys.Log().InOrder({"Renderer.SetWindowPosition(19, 37, 320, 240)", "Graph.Run"}))
        << sys.Log().Text();
    EXPECT_EQ(sys.Renderer()->Owner(), &form);
    EXPECT_EQ(sys.Renderer()->MessageDrain(), video);
    EXPECT_FALSE(video->FullScreenActive());

    // The palette-changed event places it again.
    sys.Log().Clear();
    sys.Graph()->PostEvent(EC_PALETTE_CHANGED);
    QCoreApplication::sendPostedEvents();
    EXPECT_TRUE(sys.Log().ContainsAll({"Renderer.put_Owner(ViewForm)",
                                   "Renderer.SetWindowPosition(19, 37, 320, 240)",
                                   "Renderer.put_MessageDrain(VideoWindow)"}))
        << sys.Log().Text();
}

TEST_F(VideoWindowTest, RunWithoutPreviewChainLeavesTheRendererUnplaced) {
    Activate();
    sys.Log().Clear();
    EXPECT_TRUE(graph.RunGraph());
    EXPECT_TRUE(sys.Log().Matching("Renderer.").empty()) << sys.Log().Text();
    EXPECT_FALSE(sys.Renderer()->OwnerSet());
}

TEST_F(VideoWindowTest, RendererWindowFollowsTheControl) {
    // Before a renderer exists, resizing asks nothing of the platform.
    video->setGeometry(19, 37, 400, 300);
    EXPECT_TRUE(sys.Log().Matching("Renderer.").empty());

    Activate();
    ConnectRenderer();
    graph.RunGraph();
    sys.Log().Clear();
    video->setGeometry(19, 37, 640, 480);
    EXPECT_TRUE(sys.Log().Contains("Renderer.SetWindowPosition(19, 37, 640, 480)"))
        << sys.Log().Text();
    video->move(25, 40);
    EXPECT_TRUE(sys.Log().Contains("Renderer.SetWindowPosition(25, 40, 640, 480)"));
    // The result of following is ignored.
    sys.SetResult("Renderer.SetWindowPosition", E_FAIL);
    EXPECT_NO_THROW(video->resize(100, 100));
}

TEST_F(VideoWindowTest, HidingHidesTheRendererWindowToo) {
    Activate();
    ConnectRenderer();
    graph.RunGraph();
    video->setVisible(false);
    EXPECT_FALSE(video->isVisible());
    EXPECT_TRUE(sys.Log().Contains("Renderer.put_Visible(0)"));
    EXPECT_EQ(sys.Renderer()->Visible(), 0);
    video->setVisible(true);
    EXPECT_TRUE(video->isVisible());
    EXPECT_EQ(sys.Renderer()->Visible(), -1);

    sys.SetResult("Renderer.put_Visible", E_FAIL);
    EXPECT_THROW(video->hide(), EDirectShowException);
}

TEST_F(VideoWindowTest, PlacementFailuresRaise) {
    Activate();
    ConnectRenderer();
    sys.SetResult("Renderer.put_Owner", E_FAIL);
    EXPECT_THROW(graph.RunGraph(), EDirectShowException);
}

TEST_F(VideoWindowTest, RendererWithoutVideoWindowRaises) {
    sys.RendererDefaults().hasVideoWindow = false;
    EXPECT_THROW(graph.SetActive(true), EDirectShowException);
}

// A control whose renderer fails as it joins an active graph is still the
// graph's member: it must leave with the control, or the graph would call a
// destroyed control.
TEST_F(VideoWindowTest, AControlWhoseRendererFailedToJoinLeavesTheGraphWhenDestroyed) {
    Activate();
    sys.RendererDefaults().hasVideoWindow = false;
    auto* other = new TVideoWindow(&form);
    EXPECT_THROW(other->SetFilterGraph(&graph), EDirectShowException);
    delete other;
    EXPECT_EQ(graph.Members(), std::vector<IGraphMember*>{video});
    EXPECT_EQ(graph.EventSinks(), std::vector<IGraphEventSink*>{video});
}

TEST_F(VideoWindowTest, FullScreenCoversTheScreen) {
    Activate();
    ConnectRenderer();
    graph.RunGraph();
    sys.Log().Clear();
    video->SetFullScreenTopMost(true);
    EXPECT_TRUE(sys.Log().Matching("Renderer.").empty());  // not full screen yet
    video->SetFullScreen(true);
    const QRect screen = QGuiApplication::primaryScreen()->geometry();
    EXPECT_TRUE(
        sys.Log().ContainsAll({"Renderer.put_Owner(null)", "Renderer.put_WindowStyle(0x00000000)",
                           "Renderer.put_WindowStyleEx(0x00000008)",
                           "Renderer.SetWindowPosition(0, 0, " + std::to_string(screen.width()) +
                               ", " + std::to_string(screen.height()) + ")"}))
        << sys.Log().Text();
    EXPECT_TRUE(video->FullScreenActive());
    // While full screen, resizing the control leaves the renderer window.
    sys.Log().Clear();
    video->resize(200, 100);
    EXPECT_TRUE(sys.Log().Matching("Renderer.SetWindowPosition").empty());

    video->SetFullScreen(false);
    EXPECT_FALSE(video->FullScreenActive());
    EXPECT_EQ(sys.Renderer()->Owner(), &form);
    EXPECT_TRUE(sys.Log().Contains("Renderer.SetWindowPosition(19, 37, 200, 100)"));
}

TEST_F(VideoWindowTest, MixingRendererFallsBackToTheNormalOne) {
    Activate();
    sys.Log().Clear();
    video->SetMode(vmVMR);
    EXPECT_EQ(video->Mode(), vmNormal);
    EXPECT_TRUE(sys.Log().Contains("System.CoCreateInstance(VideoMixingRenderer9)"));
    // Setting the mode re-joins the active graph with a new normal renderer.
    EXPECT_TRUE(sys.Log().InOrder({"Graph.RemoveFilter(VideoWindow)",
                                   "System.CoCreateInstance(VideoRenderer)",
                                   "Graph.AddFilter(VideoWindow)"}))
        << sys.Log().Text();
    EXPECT_FALSE(TVideoWindow::IsMixingRendererAvailable());
}

TEST_F(VideoWindowTest, LeavesTheGraphWhenDestroyed) {
    Activate();
    ConnectRenderer();
    sys.Log().Clear();
    delete video;
    EXPECT_TRUE(graph.Members().empty());
    EXPECT_TRUE(graph.EventSinks().empty());
    EXPECT_TRUE(sys.Log().InOrder({"Filter[Renderer].Stop", "Pin[Renderer/Input].Disconnect",
                                   "Graph.RemoveFilter(VideoWindow)"}));
    // The graph runs on without notifying the gone control.
    EXPECT_TRUE(graph.RunGraph());
}

TEST_F(VideoWindowTest, ContextMenuPopsUpOnlyInFullScreen) {
    QMenu menu;
    menu.addAction("Normal size");
    video->PopupMenu = &menu;
    QContextMenuEvent request(QContextMenuEvent::Mouse, QPoint(5, 5),
                              video->mapToGlobal(QPoint(5, 5)));
    QApplication::sendEvent(video, &request);
    EXPECT_FALSE(menu.isVisible());
    video->SetFullScreen(true);  // no renderer yet: only stored
    EXPECT_TRUE(video->FullScreen());
    QContextMenuEvent again(QContextMenuEvent::Mouse, QPoint(5, 5),
                            video->mapToGlobal(QPoint(5, 5)));
    QApplication::sendEvent(video, &again);
    EXPECT_TRUE(menu.isVisible());
    EXPECT_TRUE(again.isAccepted());
    menu.hide();
}

}  // namespace
