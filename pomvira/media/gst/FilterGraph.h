// SPDX-License-Identifier: GPL-3.0-or-later
// The filter graph over a GstPipeline (CLSID_FilterGraph).
//
// Filters are BinFilters: AddFilter adds the filter's bin to the pipeline
// under the filter's name, RemoveFilter takes it out (state NULL first).
// Run = PLAYING, Stop = READY; a graph holding a file writer is drained
// first (EOS through the whole pipeline, its arrival at every writer awaited
// on the bus, bounded; a device that delivers nothing meanwhile has it given
// at its output), so every stop leaves a complete file. A stop whose
// file could not be completed (the bound ran out, or a writer failed: then no
// drain is tried) still stops, and returns the failure. A filter with no connected pin is
// idle: it is held in NULL with its state locked, so an unconnected source (the microphone during
// the preview, say) neither streams into nothing nor holds its device; it follows the graph's state
// as soon as one of its pins is connected.
//
// Bus messages are handled on the streaming threads (sync handler): they are
// written to the log file, turned into graph events (EOS -> EC_COMPLETE,
// ERROR -> EC_ERRORABORT with the failing filter (or 0) as the second
// parameter, a lost source -> EC_DEVICE_LOST with the source's
// filter as the first parameter and 0 "removed" as the second) and announced by
// posting a WindowMessageEvent to the notify window, so they are drained on
// that window's (the user-interface) thread with GetEvent.
//
// While the graph runs, a capture source that delivers nothing for a while is
// announced (EC_STARVATION, SourceStallWatch.h).
//
// Run, Stop and Halt may wait on a device (a source that never starts, a
// drain): the program calls them off its user-interface thread, never two at
// once, and touches the graph's filters only between them.
#pragma once

#include "media/ReservedFile.h"

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <deque>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "BinFilter.h"
#include "media/MediaUtil.h"

namespace media::gst {

class SourceStallWatch;

// The result a file writer's failure is reported with: WriterErrorResult.

// How long a stop waits for the end of the stream of a graph that writes a
// file (5 s unless set); past it the stop goes on and reports VFW_E_TIMEOUT.
void SetDrainTimeout(std::chrono::milliseconds timeout);

class FilterGraph
    : public ComObject<IFilterGraph2, IGraphBuilder, IFilterGraph, IMediaControl, IMediaSeeking,
                       IMediaEventEx, IMediaEvent, IObjectWithSite, IBasicAudio>,
      public GraphInternal {
  public:
    FilterGraph();

    // IFilterGraph
    HRESULT AddFilter(IBaseFilter* filter, const WString& name) override;
    HRESULT RemoveFilter(IBaseFilter* filter) override;
    HRESULT EnumFilters(IEnumFilters** filters) override;
    HRESULT FindFilterByName(const WString& name, IBaseFilter** filter) override;
    HRESULT ConnectDirect(IPin* out, IPin* in, const AM_MEDIA_TYPE* mt) override;
    HRESULT Disconnect(IPin* pin) override;
    // IGraphBuilder
    HRESULT Connect(IPin* out, IPin* in) override;
    HRESULT Render(IPin* out) override;
    HRESULT SetLogFile(intptr_t file) override;
    HRESULT Abort() override;
    // IMediaControl
    HRESULT Run() override;
    HRESULT Pause() override;
    HRESULT Stop() override;
    HRESULT GetState(int32_t timeoutMs, FILTER_STATE* state) override;
    HRESULT Halt() override;
    // IMediaSeeking
    HRESULT GetCurrentPosition(int64_t* position) override;
    // IMediaEvent(Ex)
    HRESULT GetEvent(int32_t* code, intptr_t* param1, intptr_t* param2, int32_t timeoutMs) override;
    HRESULT FreeEventParams(int32_t code, intptr_t param1, intptr_t param2) override;
    HRESULT SetNotifyWindow(QObject* window, uint32_t message, intptr_t instance) override;
    HRESULT SetNotifyFlags(int32_t flags) override;
    // IObjectWithSite
    HRESULT SetSite(IUnknown* site) override;
    // IBasicAudio
    HRESULT put_Volume(int32_t volume) override;
    HRESULT put_Balance(int32_t balance) override;

    // GraphInternal
    void QueueEvent(int32_t code, intptr_t param1, intptr_t param2) override;
    GstElement* Pipeline() const override { return pipeline_.Get(); }
    void SetInspectionName(const std::string& name) override;

    // Connects out to in through converters (added as filters of this
    // graph) when their formats do not meet.
    HRESULT ConnectWithConverters(PadPin* out, PadPin* in);
    // Filters of the graph in order of adding.
    std::vector<BinFilter*> Filters() const;
    // Brings the filters of a new connection (out's filter and everything
    // connected downstream of it) out of idleness, most downstream first, so
    // no source streams into a filter that is not yet running. While a hold
    // is in force (a chain being built) this waits until the last hold ends.
    void WakeConnection(PadPin* out);
    void HoldWake();
    void ReleaseWake();
    IUnknown* Site() const { return site_.Get(); }
    // Whether a connected file writer is in the graph (a recording).
    bool WritesFile() const;
    // Whether an error was posted since the graph last ran.
    bool FailedSinceRun() const;
    // Whether the graph's events are posted to a notify window.
    bool Notifying() const;
    int32_t Volume() const { return volume_; }
    int32_t Balance() const { return balance_; }

  protected:
    ~FilterGraph() override;
    void* ExtraInterface(const IID& iid) override;

  private:
    struct Event {
        int32_t code;
        intptr_t param1;
        intptr_t param2;
    };

    static GstBusSyncReply OnBusMessage(GstBus* bus, GstMessage* message, gpointer self);
    void HandleMessage(GstMessage* message);
    // The filter whose bin holds the object, or null.
    IBaseFilter* FilterOf(GstObject* object) const;
    void Log(const std::string& line);
    void LogLocked(const std::string& line);  // with lock_ held
    // S_OK when every writer got the end of the stream in time; otherwise
    // VFW_E_TIMEOUT, or the error that came on the way.
    HRESULT Drain();
    // Joins the threads that sent the end of the stream; one still blocked
    // after a short bound is left to end by itself.
    void JoinEosSenders();
    // Picks the clock the graph runs on (see the definition).
    void ChooseClock();
    // Makes every stream blocked in a file writer's inputs give up.
    void FlushWriters();
    void SettleIdleFilters();
    void DumpLayout(const char* when);
    WString UniqueName(const WString& wanted) const;
    void Wake(BinFilter* filter);
    void WakeDownstream(BinFilter* filter, std::vector<BinFilter*>* seen);
    HRESULT AddConverter(const std::vector<const char*>& factories, const WString& name,
                         BinFilter** added);

    ElementRef pipeline_;
    BusRef bus_;
    std::vector<ComPtr<IBaseFilter>> filters_;
    int wakeHolds_ = 0;
    // Output pins of connections made under a hold, with their filters kept.
    std::vector<std::pair<ComPtr<IBaseFilter>, PadPin*>> pendingWakes_;
    ComPtr<IUnknown> site_;
    int32_t volume_ = 0;
    int32_t balance_ = 0;

    // Events, the notify window and the drain state: shared with the
    // streaming threads.
    mutable std::mutex lock_;
    std::condition_variable changed_;
    std::deque<Event> events_;
    QObject* notifyWindow_ = nullptr;
    uint32_t notifyMessage_ = 0;
    intptr_t notifyInstance_ = 0;
    bool notifyOff_ = false;
    bool draining_ = false;
    bool drainEnded_ = false;  // the pipeline's end of stream, or an error
    // Bins of file writers whose end of stream has arrived while draining.
    std::vector<GstElement*> endedWriters_;
    int errors_ = 0;
    HRESULT lastError_ = E_FAIL;
    HRESULT writerError_ = S_OK;  // a file writer's first failure since the run
    HRESULT drainError_ = S_OK;   // the first error while draining
    int logFd_ = -1;
    std::string inspectionName_;
    // Nothing thrown while a bus message is handled leaves the bus handler.
    TCallbackGuard busGuard_;
    std::unique_ptr<SourceStallWatch> stallWatch_;
    // Threads sending end of stream to the sources while draining.
    std::vector<std::thread> eosSenders_;
    // How many of them are still inside their sending.
    std::shared_ptr<std::atomic<int>> eosSending_ = std::make_shared<std::atomic<int>>(0);
};

// Holds waking back for its lifetime (see FilterGraph::WakeConnection).
class WakeHold {
  public:
    explicit WakeHold(FilterGraph* graph) : graph_(graph) { graph_->HoldWake(); }
    ~WakeHold() { graph_->ReleaseWake(); }
    WakeHold(const WakeHold&) = delete;
    WakeHold& operator=(const WakeHold&) = delete;

  private:
    FilterGraph* graph_;
};

}  // namespace media::gst
