// SPDX-License-Identifier: GPL-3.0-or-later
// The member and event-sink protocols between the filter graph component and
// the components whose filters live in its graph (source filters, the frame
// grabber, the video window), and the link every such component keeps to
// its graph.
#pragma once

#include <QPointer>
#include <QString>

#include "MediaBoundary.h"

namespace media {

// msAbandoned: the graph was given up without being touched (it is stuck on
// another thread): the member lets go of its filter, without a call into it
// that could wait.
enum TMemberStep {
    msAdding = 0,
    msAdded = 1,
    msRemoving = 2,
    msRemoved = 3,
    msRefresh = 4,
    msAbandoned = 5
};

class IGraphMember {
  public:
    virtual ~IGraphMember() = default;
    // The member's platform filter, or null (then the graph simply lacks it).
    virtual IBaseFilter* MemberFilter() = 0;
    // The name the filter gets in the graph: the component's name.
    virtual QString MemberName() = 0;
    virtual void MemberNotify(TMemberStep step, int param) = 0;
};

class TFilterGraph;

// A component whose filter lives in a filter graph: it joins one graph at a
// time, as its member. A derived class leaves its graph in its own
// destructor (SetFilterGraph(nullptr)), while its filter is still there.
class TGraphMember : public IGraphMember {
  public:
    TFilterGraph* FilterGraph() const;
    // Leaves the old graph, joins the new one. The old graph lets go of the
    // component even when taking its filter out fails (the failure is
    // raised after); a graph the component joins is always left later, even
    // when putting its filter in fails.
    void SetFilterGraph(TFilterGraph* graph);

  protected:
    ~TGraphMember() override = default;
    // Leaves the graph and joins it again: an active graph takes the
    // component's filter out and puts its current one in, last.
    void RejoinGraph();
    // Called once the component is in a graph's list of members, and once
    // it has left it; the video window follows the graph's events there.
    virtual void JoinedGraph(TFilterGraph* /*graph*/) {}
    virtual void LeftGraph(TFilterGraph* /*graph*/) {}

  private:
    QPointer<TFilterGraph> graph_;
};

enum TControlKind { ckRun = 0, ckStop = 2, ckActive = 7 };

class IGraphEventSink {
  public:
    virtual ~IGraphEventSink() = default;
    virtual void OnGraphEvent(int32_t code, intptr_t param1, intptr_t param2) = 0;
    virtual void OnControl(TControlKind kind, int value) = 0;
};

}  // namespace media
