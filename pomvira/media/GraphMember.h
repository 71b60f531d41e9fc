// SPDX-License-Identifier: GPL-3.0-or-later
// The member and event-sink protocols between the filter graph component and
// the components whose filters live in its graph (source filters, the frame
// grabber, the video window).
#pragma once

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

enum TControlKind { ckRun = 0, ckStop = 2, ckActive = 7 };

class IGraphEventSink {
  public:
    virtual ~IGraphEventSink() = default;
    virtual void OnGraphEvent(int32_t code, intptr_t param1, intptr_t param2) = 0;
    virtual void OnControl(TControlKind kind, int value) = 0;
};

}  // namespace media
