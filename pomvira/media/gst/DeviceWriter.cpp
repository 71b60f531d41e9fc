// SPDX-License-Identifier: GPL-3.0-or-later
#include "DeviceWriter.h"

#include <QMetaObject>

#include <condition_variable>
#include <deque>
#include <mutex>
#include <thread>
#include <utility>

namespace media::gst {

// What the writer and its thread share; the thread holds it to the end, so
// it outlives a writer destroyed while writes are still going out.
struct DeviceWriter::Shared {
    struct Item {
        int64_t key;
        bool coalesce;
        Work work;
    };

    std::mutex lock;
    std::condition_variable wake;
    std::deque<Item> queue;
    bool busy = false;    // a write is being done
    int64_t busyKey = 0;  // its control
    bool busyCoalesces = false;
    bool closing = false;  // the writer is gone: finish the queue, then end
    DeviceWriter* owner;   // where reports go; null once the writer is gone
    std::thread thread;

    explicit Shared(DeviceWriter* writer) : owner(writer) {}

    void Run() {
        std::unique_lock<std::mutex> guard(lock);
        for (;;) {
            wake.wait(guard, [this] { return closing || !queue.empty(); });
            if (queue.empty())
                return;
            Item item = std::move(queue.front());
            queue.pop_front();
            busy = true;
            busyKey = item.key;
            busyCoalesces = item.coalesce;
            guard.unlock();
            Report report = item.work();
            item.work = nullptr;  // what it holds goes here, not under the lock
            guard.lock();
            busy = false;
            // Posted under the lock: the writer cannot be half destroyed.
            if (DeviceWriter* writer = owner) {
                QMetaObject::invokeMethod(
                    writer, [writer, report = std::move(report)] { writer->Delivered(report); },
                    Qt::QueuedConnection);
            }
        }
    }
};

DeviceWriter::DeviceWriter(QObject* parent)
    : QObject(parent), shared_(std::make_shared<Shared>(this)) {
    shared_->thread = std::thread([shared = shared_] { shared->Run(); });
}

DeviceWriter::~DeviceWriter() {
    bool idle;
    {
        std::lock_guard<std::mutex> guard(shared_->lock);
        shared_->owner = nullptr;
        shared_->closing = true;
        idle = !shared_->busy && shared_->queue.empty();
    }
    shared_->wake.notify_one();
    // An idle thread ends at once; one still writing finishes on its own.
    if (idle)
        shared_->thread.join();
    else
        shared_->thread.detach();
}

void DeviceWriter::Post(int64_t key, Work work) {
    Queue(key, true, std::move(work));
}

void DeviceWriter::PostEach(Work work) {
    Queue(0, false, std::move(work));
}

void DeviceWriter::Queue(int64_t key, bool coalesce, Work work) {
    Work dropped;  // let go of outside the lock
    {
        std::lock_guard<std::mutex> guard(shared_->lock);
        auto& queue = shared_->queue;
        if (coalesce && !queue.empty() && queue.back().coalesce && queue.back().key == key) {
            // The last value queued waits behind another write of the same
            // control (being done or queued before it): the newer value takes
            // its place. The first of a run is never replaced.
            bool ahead = shared_->busy && shared_->busyCoalesces && shared_->busyKey == key;
            for (size_t i = 0; !ahead && i + 1 < queue.size(); ++i)
                ahead = queue[i].coalesce && queue[i].key == key;
            if (ahead) {
                dropped = std::exchange(queue.back().work, std::move(work));
                return;
            }
        }
        queue.push_back({key, coalesce, std::move(work)});
        ++outstanding_;
    }
    shared_->wake.notify_one();
}

void DeviceWriter::Delivered(const Report& report) {
    --outstanding_;
    if (report)
        report();
    if (outstanding_ == 0)
        emit Settled();
}

}  // namespace media::gst
