// SPDX-License-Identifier: GPL-3.0-or-later
#include "SourceStallWatch.h"

#include <QCoreApplication>
#include <QThread>
#include <algorithm>

#include "CaptureFilters.h"
#include "FilterGraph.h"

namespace media::gst {

namespace {

constexpr int kTickMs = 250;

bool Connected(BinFilter* filter) {
    for (const auto& pin : filter->Pins())
        if (pin->IsConnected())
            return true;
    return false;
}

}  // namespace

std::unique_ptr<SourceStallWatch> SourceStallWatch::Create(FilterGraph* graph) {
    QCoreApplication* app = QCoreApplication::instance();
    if (!app || QThread::currentThread() != app->thread())
        return nullptr;
    return std::unique_ptr<SourceStallWatch>(new SourceStallWatch(graph));
}

SourceStallWatch::SourceStallWatch(FilterGraph* graph) : graph_(graph) {
    timer_.setSingleShot(true);
    connect(&timer_, &QTimer::timeout, this, [this] { timer_.start(Tick()); });
    timer_.start(kTickMs);
}

void SourceStallWatch::Start() {
    startedAt_ = g_get_monotonic_time();
    running_ = true;
    // A tick far ahead (every source delivering) is brought forward: the
    // new run's first frames are told as soon as they come.
    QMetaObject::invokeMethod(
        this,
        [this] {
            if (timer_.remainingTime() > kTickMs)
                timer_.start(kTickMs);
        },
        Qt::QueuedConnection);
}

void SourceStallWatch::Stop() {
    running_ = false;
}

int SourceStallWatch::Tick() {
    if (!running_ || !graph_->Notifying()) {
        sources_.clear();
        return kTickMs;
    }
    const int64_t startedAt = startedAt_;
    if (startedAt != seenStart_) {
        seenStart_ = startedAt;
        sources_.clear();
    }
    GstState state = GST_STATE_NULL;
    gst_element_get_state(graph_->Pipeline(), &state, nullptr, 0);
    // A source that failed is not stalled: its error tells (a camera gone,
    // busy), and whoever runs the graph deals with it.
    if (state != GST_STATE_PLAYING || graph_->FailedSinceRun())
        return kTickMs;
    const int64_t now = g_get_monotonic_time();
    // While every source delivers, the next look is due when the one whose
    // last frame is oldest would have stalled: the thread is not woken
    // several times a second for nothing.
    int64_t due = INT64_MAX;
    std::vector<Source> present;
    for (BinFilter* filter : graph_->Filters()) {
        auto* device = dynamic_cast<DeviceFilter*>(filter);
        if (!device || !Connected(device))
            continue;
        auto* id = static_cast<IBaseFilter*>(device);
        auto known = std::find_if(sources_.begin(), sources_.end(),
                                  [id](const Source& s) { return s.filter == id; });
        Source source = known != sources_.end() ? *known : Source{id};
        const int64_t last = device->LastFrameTime();
        switch (source.state) {
            case State::Waiting:
            case State::Delivering:
                if (last > startedAt && source.state == State::Waiting) {
                    source.state = State::Delivering;
                    graph_->QueueEvent(EC_STARVATION, intptr_t(id), 0);
                } else if (now - std::max(last, startedAt) >= kStallUs) {
                    source.state = State::Stalled;
                    source.stalledAt = now;
                    graph_->QueueEvent(EC_STARVATION, intptr_t(id), 1);
                }
                break;
            case State::Stalled:
                if (last > source.stalledAt) {
                    source.state = State::Delivering;
                    graph_->QueueEvent(EC_STARVATION, intptr_t(id), 0);
                }
                break;
        }
        if (source.state == State::Delivering)
            due = std::min(due, std::max(last, startedAt) + kStallUs);
        else
            due = now;  // its first frame, or its first after the stall
        present.push_back(source);
    }
    sources_ = std::move(present);
    if (sources_.empty())
        return kTickMs;
    return int(std::clamp<int64_t>((due - now) / 1000 + 1, kTickMs, kStallUs / 1000));
}

}  // namespace media::gst
