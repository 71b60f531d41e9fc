// SPDX-License-Identifier: GPL-3.0-or-later
// Notices a camera that stops delivering frames without an error (USB
// bandwidth run out, a crashed camera service): while its graph runs, every
// connected video capture source that has delivered nothing for 3 seconds is
// announced to the graph's notify window (EC_STARVATION, its filter, 1) and
// the graph's sources are restarted, again every 2 seconds until frames come
// back. A source's first frame after each run, and its first frame after a
// stall, are announced too (EC_STARVATION, its filter, 0): whoever showed the
// stall learns that the picture is back, also in a graph built anew. A graph that
// records is not restarted (its file would break): whoever records ends the
// recording on the notice, and the watch restarts the preview that follows.
// A graph whose source posted an error is left alone: that is a camera lost
// or busy, not a stall.
// Runs on the user-interface thread (a timer), between Run and Stop.
#pragma once

#include <QObject>
#include <QTimer>

#include <cstdint>
#include <memory>
#include <vector>

#include "media/MediaBoundary.h"

namespace media::gst {

class FilterGraph;

class SourceStallWatch : public QObject {
  public:
    // How long a source may deliver nothing, and how often it is restarted.
    static constexpr int64_t kStallUs = 3000000;
    static constexpr int64_t kRestartUs = 2000000;

    // Null where no timer can run (no application object, another thread).
    static std::unique_ptr<SourceStallWatch> Create(FilterGraph* graph);

    void Start();
    void Stop();

  private:
    explicit SourceStallWatch(FilterGraph* graph);
    void Tick();

    enum class State { Waiting, Delivering, Stalled };
    struct Source {
        IBaseFilter* filter;  // while it is in the graph
        State state = State::Waiting;
        int64_t stalledAt = 0;
        int64_t restartedAt = 0;
    };
    FilterGraph* graph_;
    QTimer timer_;
    int64_t startedAt_ = 0;
    std::vector<Source> sources_;
};

}  // namespace media::gst
