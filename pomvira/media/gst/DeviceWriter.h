// SPDX-License-Identifier: GPL-3.0-or-later
// Writes to a device (a camera's controls, a source element's properties)
// on a thread of its own, so that the user-interface thread never waits on
// a control transfer. Writes go out one at a time, in the order asked.
// Writes of one control are coalesced: while one is queued or being done,
// a newer value of the same control waits in a single place that each newer
// value overwrites; the first value goes out at once and the last one is
// always written, the ones between are dropped.
//
// Each write returns a report (what the device kept, its error), run on the
// user-interface thread by queued call, unless the writer is gone by then.
// Destroying the writer never waits on the device: writes still queued go
// out in order on the thread, which then ends by itself; their reports are
// dropped.
#pragma once

#include <QObject>

#include <cstdint>
#include <functional>
#include <memory>

namespace media::gst {

class DeviceWriter : public QObject {
    Q_OBJECT
  public:
    // Runs on the user-interface thread (may be empty).
    using Report = std::function<void()>;
    // Runs on the writer's thread; what it captures must outlive the page
    // that asked for it (shared references, copies).
    using Work = std::function<Report()>;

    explicit DeviceWriter(QObject* parent = nullptr);
    ~DeviceWriter() override;

    // Queues a write of the control `key`, coalesced with a newer value of
    // the same control as above.
    void Post(int64_t key, Work work);
    // Queues a write that is never coalesced (a button press).
    void PostEach(Work work);
    // Whether writes are queued, being done, or their reports not yet run.
    bool Busy() const { return outstanding_ > 0; }

  signals:
    // The report of the last outstanding write has run.
    void Settled();

  private:
    struct Shared;
    void Queue(int64_t key, bool coalesce, Work work);
    void Delivered(const Report& report);

    std::shared_ptr<Shared> shared_;
    int outstanding_ = 0;
};

}  // namespace media::gst
