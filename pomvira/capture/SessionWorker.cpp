// SPDX-License-Identifier: GPL-3.0-or-later
#include "SessionWorker.h"

#include <QCoreApplication>
#include <QEvent>

#include <pthread.h>

#include <condition_variable>
#include <mutex>
#include <thread>

namespace {

// A job's end, handed from the worker's thread to its owner; the job goes
// with it, to be destroyed there.
class TJobEnded : public QEvent {
  public:
    TJobEnded(uint64_t id, std::shared_ptr<void> work)
        : QEvent(TypeId()), Id(id), Work(std::move(work)) {}
    static QEvent::Type TypeId() {
        static const auto type = QEvent::Type(QEvent::registerEventType());
        return type;
    }
    uint64_t Id;
    std::shared_ptr<void> Work;
};

}  // namespace

// One thread and the job it runs. The thread waits for a job, runs it, hands
// it back, and ends once it is closed or given up. A thread left to itself
// (given up, or closed while busy) holds its lane until it ends.
class TSessionWorker::TLane {
  public:
    TLane(QObject* receiver, const char* name, std::shared_ptr<std::atomic<int>> stuck)
        : FReceiver(receiver), FStuck(std::move(stuck)) {
        FThread = std::thread([this, name] {
            pthread_setname_np(pthread_self(), name);
            Loop();
        });
    }

    void Run(uint64_t id, std::shared_ptr<TWork> work) {
        std::lock_guard<std::mutex> lock(FMutex);
        FNextId = id;
        FNext = std::move(work);
        FChanged.notify_all();
    }

    // The thread runs the job's tail after the job, hands both back, and
    // ends by itself.
    static void GiveUp(const std::shared_ptr<TLane>& lane) {
        std::lock_guard<std::mutex> lock(lane->FMutex);
        lane->FGivenUp = true;
        lane->FSelf = lane;
        lane->FThread.detach();
        lane->FChanged.notify_all();
    }

    // Nothing is handed back any more (the owner is going).
    void Forget() {
        std::lock_guard<std::mutex> lock(FMutex);
        FReceiver = nullptr;
    }

    // No more jobs, and nothing handed back. An idle thread is joined; a
    // busy one is left to end by itself.
    static void Close(const std::shared_ptr<TLane>& lane, bool idle) {
        {
            std::lock_guard<std::mutex> lock(lane->FMutex);
            lane->FReceiver = nullptr;
            lane->FClosing = true;
            lane->FNext.reset();
            if (!idle) {
                lane->FSelf = lane;
                lane->FThread.detach();
            }
            lane->FChanged.notify_all();
        }
        if (idle)
            lane->FThread.join();
    }

  private:
    void Loop() {
        bool givenUp = false;
        for (;;) {
            std::shared_ptr<TWork> work;
            uint64_t id = 0;
            {
                std::unique_lock<std::mutex> lock(FMutex);
                FChanged.wait(lock, [this] { return FNext || FClosing || FGivenUp; });
                if (!FNext)
                    break;
                work = std::move(FNext);
                id = FNextId;
            }
            Call(work->job);
            {
                std::lock_guard<std::mutex> lock(FMutex);
                givenUp = FGivenUp;
            }
            if (givenUp)
                Call(work->tail);
            HandBack(id, std::move(work));
            if (givenUp)
                break;
        }
        std::shared_ptr<TLane> self;
        {
            std::lock_guard<std::mutex> lock(FMutex);
            givenUp = FGivenUp;
            self = std::move(FSelf);
        }
        if (givenUp)
            --*FStuck;
        // self, if set, is the last reference: the lane goes with it.
    }

    static void Call(const TJob& job) {
        if (!job)
            return;
        try {
            job();
        } catch (...) {
            // A job tells what happened through what it captured.
        }
    }

    // The job goes back to be destroyed on the owner's thread; without an
    // owner, on the application's thread.
    void HandBack(uint64_t id, std::shared_ptr<TWork> work) {
        std::lock_guard<std::mutex> lock(FMutex);
        if (FReceiver) {
            QCoreApplication::postEvent(FReceiver, new TJobEnded(id, std::move(work)));
        } else if (QCoreApplication* app = QCoreApplication::instance()) {
            QMetaObject::invokeMethod(
                app, [work = std::move(work)] {}, Qt::QueuedConnection);
        }
    }

    std::thread FThread;
    std::mutex FMutex;
    std::condition_variable FChanged;
    QObject* FReceiver;
    std::shared_ptr<TWork> FNext;
    uint64_t FNextId = 0;
    bool FGivenUp = false;
    bool FClosing = false;
    std::shared_ptr<TLane> FSelf;
    std::shared_ptr<std::atomic<int>> FStuck;  // the worker's count of stuck threads
};

TSessionWorker::TSessionWorker(const char* name, QObject* parent)
    : QObject(parent), FName(name) {
    FLane = std::make_shared<TLane>(this, FName, FStuck);
    FBound.setSingleShot(true);
    connect(&FBound, &QTimer::timeout, this, [this] { BoundReached(); });
}

TSessionWorker::~TSessionWorker() {
    FQueue.clear();
    TLane::Close(FLane, !FRunning);
    // Threads given up may still come out of their job: they must find no
    // one to hand it to.
    for (const std::weak_ptr<TLane>& given : FGivenUp)
        if (const std::shared_ptr<TLane> lane = given.lock())
            lane->Forget();
}

bool TSessionWorker::event(QEvent* e) {
    if (e->type() != TJobEnded::TypeId())
        return QObject::event(e);
    Finished(static_cast<TJobEnded*>(e)->Id);
    return true;
}

void TSessionWorker::Post(TJob job, TDone done, int boundMs, TDone timedOut, TJob tail) {
    auto work = std::make_shared<TWork>(TWork{std::move(job), std::move(tail)});
    FQueue.push_back(TEntry{std::move(work), std::move(done), boundMs, std::move(timedOut)});
    StartNext();
}

void TSessionWorker::DropQueued() {
    FQueue.clear();
}

void TSessionWorker::StartNext() {
    if (FRunning || FQueue.empty())
        return;
    TEntry entry = std::move(FQueue.front());
    FQueue.pop_front();
    FRunning = true;
    FRunningId = FNextId++;
    FDone = std::move(entry.done);
    FTimedOut = std::move(entry.timedOut);
    FBound.start(entry.boundMs);
    FLane->Run(FRunningId, std::move(entry.work));
}

void TSessionWorker::Finished(uint64_t id) {
    // A job given up has been answered already.
    if (!FRunning || id != FRunningId)
        return;
    FRunning = false;
    FBound.stop();
    TDone done = std::move(FDone);
    FTimedOut = nullptr;
    if (done)
        done();
    StartNext();
}

void TSessionWorker::BoundReached() {
    if (!FRunning)
        return;
    FRunning = false;
    ++*FStuck;
    TLane::GiveUp(FLane);
    FGivenUp.push_back(FLane);
    FLane = std::make_shared<TLane>(this, FName, FStuck);
    TDone timedOut = std::move(FTimedOut);
    FDone = nullptr;
    if (timedOut)
        timedOut();
    StartNext();
}
