// SPDX-License-Identifier: GPL-3.0-or-later
// What the tests look at inside the capture session and the control panel:
// the session's media components (the graph, the two sources, the frame
// grabber), its workers' stuck threads, and the panel's choices. The
// program itself reaches none of these: the panel goes through the
// session's calls.
#pragma once

#include "capture/CaptureSession.h"
#include "capture/SessionWorker.h"
#include "forms/frmControl.h"
#include "widgets/ActionList.h"
#include "widgets/ImageButton.h"

class TCaptureSessionProbe {
  public:
    explicit TCaptureSessionProbe(TCaptureSession& session) : FSession(session) {}
    explicit TCaptureSessionProbe(const TControlForm& form) : FSession(*form.Session()) {}

    media::TFilterGraph* Graph() const { return FSession.FGraph; }
    media::TFilter* VideoSource() const { return FSession.FVideoSource; }
    media::TFilter* AudioSource() const { return FSession.FAudioSource; }
    media::TSampleGrabber* Grabber() const { return FSession.FGrabber; }
    TCameraWatch& Watch() const { return FSession.FCameraWatch; }
    TCaptureDevices& Devices() const { return FSession.FDevices; }
    int StuckGraphThreads() const { return FSession.FWorker->StuckThreads(); }
    int StuckFileThreads() const { return FSession.FFileWorker->StuckThreads(); }

  private:
    TCaptureSession& FSession;
};

inline TCaptureSessionProbe Probe(TCaptureSession& session) {
    return TCaptureSessionProbe(session);
}
inline TCaptureSessionProbe Probe(const TControlForm& form) {
    return TCaptureSessionProbe(form);
}

class TControlFormProbe {
  public:
    // The panel's state as the settings file and the windows have it.
    struct TState {
        bool UseAudio;
        int32_t VideoDevice, AudioDevice, VideoCompress, AudioCompress;
        QString VideoFolder, SnapFolder, VideoFormat;
        int FileCount;
        int32_t FirstVisible, Selected;
        bool Recording, Expanded;
    };
    static TState State(const TControlForm& form);
};

inline TControlFormProbe::TState PanelState(const TControlForm& form) {
    return TControlFormProbe::State(form);
}
