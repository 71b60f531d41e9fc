// SPDX-License-Identifier: GPL-3.0-or-later
// A test program's private PipeWire with its camera node, started before
// anything lists devices, the program's media system on GStreamer. When
// PipeWire (or, where asked for, its session manager) or GStreamer's
// PipeWire source is not installed there is no session, and `why` says
// what is missing: the tests skip.
#pragma once

#include <gst/gst.h>
#include <gtest/gtest.h>

#include <QString>
#include <memory>

#include "PipeWireSession.h"
#include "media/MediaBoundary.h"
#include "media/gst/GstMediaSystem.h"

class TPipeWireTestEnvironment : public ::testing::Environment {
  public:
    explicit TPipeWireTestEnvironment(bool withSessionManager)
        : FWithSessionManager(withSessionManager) {}
    void SetUp() override {
        gst_init(nullptr, nullptr);
        GstElementFactory* source = gst_element_factory_find("pipewiresrc");
        if (!source) {
            why = QStringLiteral("GStreamer's PipeWire source is not installed");
            return;
        }
        gst_object_unref(source);
        session = std::make_unique<TPipeWireSession>();
        if (!session->Start(&why, FWithSessionManager) || !session->CreateCamera()) {
            if (why.isEmpty())
                why = QStringLiteral("no PipeWire test source node");
            session.reset();
            return;
        }
        session->Enter();
        media::SetMediaSystem(media::gst::GstMediaSystem());
        // As the program's first listing: once PipeWire has answered.
        media::WaitForDevices(5000, nullptr);
    }
    void TearDown() override {
        media::SetMediaSystem(nullptr);
        session.reset();
    }

    std::unique_ptr<TPipeWireSession> session;
    QString why;

  private:
    bool FWithSessionManager;
};
