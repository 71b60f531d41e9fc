// SPDX-License-Identifier: GPL-3.0-or-later
// Notices a camera that stops delivering frames without an error (USB
// bandwidth run out, a crashed camera service, a PipeWire camera whose
// program froze), or a microphone whose sound server hangs: while its graph
// runs, every connected capture source that has delivered nothing for 3
// seconds is announced to the graph's notify window (EC_STARVATION, its
// filter, 1). A source's first frame after each
// run, and its first frame after a stall, are announced too (EC_STARVATION,
// its filter, 0): whoever showed the stall learns that the picture is back,
// also in a graph built anew. Restarting the camera is left to whoever runs
// the graph (a restart waits on the device, and a recording must not be
// restarted under its file). A graph whose source posted an error is left
// alone: that is a camera lost or busy, not a stall; so is a graph whose
// notices are turned off.
// The watch ticks on the thread that made the graph (a timer): four times a
// second while a source has yet to deliver, once per stall period while all
// deliver. The graph's runs and stops, on whatever thread they happen, only
// mark its start and its end.
#pragma once

#include <QObject>
#include <QTimer>

#include <atomic>
#include <cstdint>
#include <memory>
#include <vector>

#include "media/MediaBoundary.h"

namespace media::gst {

class FilterGraph;

class SourceStallWatch : public QObject {
  public:
    // How long a source may deliver nothing before it is announced.
    static constexpr int64_t kStallUs = 3000000;

    // Null where no timer can run (no application object, another thread).
    static std::unique_ptr<SourceStallWatch> Create(FilterGraph* graph);

    // The graph runs from now on, or no longer (any thread).
    void Start();
    void Stop();

  private:
    explicit SourceStallWatch(FilterGraph* graph);
    // Looks at the sources; returns the milliseconds until the next look.
    int Tick();

    enum class State { Waiting, Delivering, Stalled };
    struct Source {
        IBaseFilter* filter;  // while it is in the graph
        State state = State::Waiting;
        int64_t stalledAt = 0;
    };
    FilterGraph* graph_;
    QTimer timer_;
    std::atomic<bool> running_{false};
    std::atomic<int64_t> startedAt_{0};
    int64_t seenStart_ = -1;  // the start the sources below belong to
    std::vector<Source> sources_;
};

}  // namespace media::gst
