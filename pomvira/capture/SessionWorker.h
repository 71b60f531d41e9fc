// SPDX-License-Identifier: GPL-3.0-or-later
// The capture session's worker: the slow work of the camera (the graph's
// state changes, the drain of a recording, the repair of its file) runs here,
// one job after the other on a thread of the worker's own, and each job's
// end is handed back to the thread that made the worker (the user-interface
// thread), which never waits for a job.
//
// Every job has a bound. A job still running when its bound is reached is
// given up: the caller hears of it at once, the thread stuck inside the job
// is left to finish it on its own (it then runs the job's tail, which
// releases what the job held, and ends), and later jobs go to a new thread.
// A camera whose source never comes out of a state change costs one stuck
// thread, never the program.
//
// What a job captured is destroyed on the user-interface thread, after the
// job's end has been handed back: media objects whose last reference goes
// there may own windows.
#pragma once

#include <QObject>
#include <QTimer>

#include <atomic>
#include <deque>
#include <functional>
#include <memory>
#include <vector>

class TSessionWorker : public QObject {
    Q_OBJECT
  public:
    using TJob = std::function<void()>;
    using TDone = std::function<void()>;

    // `name` names its threads (at most 15 characters), as tools show them.
    explicit TSessionWorker(const char* name, QObject* parent = nullptr);
    // Jobs not started are dropped. A running job is not waited for: its
    // thread finishes it alone, and nothing is handed back after.
    ~TSessionWorker() override;
    TSessionWorker(const TSessionWorker&) = delete;
    TSessionWorker& operator=(const TSessionWorker&) = delete;

    // Queues a job. Once it has run, `done` runs on this object's thread.
    // When it runs for longer than boundMs, `timedOut` runs there instead
    // (and `done` never does), and the thread, once out of the job, runs
    // `tail` (if any) before it ends.
    void Post(TJob job, TDone done, int boundMs, TDone timedOut, TJob tail = {});

    // A job is queued or running.
    bool Busy() const { return FRunning || !FQueue.empty(); }
    // Drops the jobs that have not started (their handlers never run).
    void DropQueued();
    // Gives the running job up now, as if its bound had been reached.
    void GiveUpRunning() { BoundReached(); }

    // This worker's threads given up and still inside their job: a stuck
    // camera counts on the graph's worker, a stuck disk on the files'
    // worker, and neither holds off the other.
    int StuckThreads() const { return *FStuck; }

  protected:
    bool event(QEvent* e) override;

  private:
    // What the thread gets of a job: the job and its tail.
    struct TWork {
        TJob job;
        TJob tail;
    };
    struct TEntry {
        std::shared_ptr<TWork> work;
        TDone done;
        int boundMs;
        TDone timedOut;
    };
    class TLane;

    void StartNext();
    void Finished(uint64_t id);
    void BoundReached();

    const char* FName;
    std::shared_ptr<TLane> FLane;  // the thread in use
    std::vector<std::weak_ptr<TLane>> FGivenUp;  // threads left to their job
    std::deque<TEntry> FQueue;
    bool FRunning = false;
    uint64_t FRunningId = 0;
    uint64_t FNextId = 1;
    TDone FDone;      // the running job's handlers
    TDone FTimedOut;
    QTimer FBound;
    // Shared with the threads given up, which may outlive the worker.
    std::shared_ptr<std::atomic<int>> FStuck = std::make_shared<std::atomic<int>>(0);
};
