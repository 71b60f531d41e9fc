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
    timer_.setInterval(kTickMs);
    connect(&timer_, &QTimer::timeout, this, [this] { Tick(); });
    timer_.start();
}

void SourceStallWatch::Start() {
    startedAt_ = g_get_monotonic_time();
    running_ = true;
}

void SourceStallWatch::Stop() {
    running_ = false;
}

void SourceStallWatch::Tick() {
    if (!running_ || !graph_->Notifying()) {
        sources_.clear();
        return;
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
        return;
    const int64_t now = g_get_monotonic_time();
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
        present.push_back(source);
    }
    sources_ = std::move(present);
}

}  // namespace media::gst
