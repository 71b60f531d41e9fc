// SPDX-License-Identifier: GPL-3.0-or-later
#include "GraphMember.h"

#include "FilterGraph.h"

namespace media {

TFilterGraph* TGraphMember::FilterGraph() const {
    return graph_.data();
}

void TGraphMember::SetFilterGraph(TFilterGraph* graph) {
    if (graph == graph_.data())
        return;
    if (TFilterGraph* old = graph_.data()) {
        graph_ = nullptr;
        try {
            old->DetachMember(this);
        } catch (...) {
            LeftGraph(old);
            throw;
        }
        LeftGraph(old);
    }
    if (graph) {
        // Known as the graph's first: the graph lists its member before it
        // puts the filter in, which may fail.
        graph_ = graph;
        graph->AttachMember(this);
        JoinedGraph(graph);
    }
}

void TGraphMember::RejoinGraph() {
    if (TFilterGraph* graph = graph_.data()) {
        graph->DetachMember(this);
        graph->AttachMember(this);
    }
}

}  // namespace media
