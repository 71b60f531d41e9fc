// SPDX-License-Identifier: GPL-3.0-or-later
// The capture session's worker alone: jobs run in order on a thread of their
// own and end on this one; a job past its bound is given up at once, its
// thread runs the tail when (if ever) it comes out, and later jobs go to a
// new thread; a worker destroyed with jobs running does not wait for them.
#include <QTest>
#include <QThread>
#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <thread>

#include "capture/SessionWorker.h"

namespace {

// A job that waits until opened, as a device that does not answer.
struct TGate {
    void Wait() {
        entered = true;
        while (!open)
            std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
    std::atomic<bool> entered{false}, open{false};
};

bool NoneStuck(const TSessionWorker& worker) {
    return QTest::qWaitFor([&worker] { return worker.StuckThreads() == 0; }, 5000);
}

}  // namespace

TEST(SessionWorker, JobsRunInOrderOffThisThreadAndEndHere) {
    TSessionWorker worker("test-worker");
    std::vector<std::string> seen;
    std::atomic<bool> offThread{true};
    const Qt::HANDLE ui = QThread::currentThreadId();
    for (const char* name : {"first", "second", "third"}) {
        worker.Post([&offThread, ui] { offThread = offThread && QThread::currentThreadId() != ui; },
                    [&seen, name, ui] {
                        EXPECT_EQ(QThread::currentThreadId(), ui);
                        seen.push_back(name);
                    },
                    5000, [] { ADD_FAILURE() << "given up"; });
    }
    EXPECT_TRUE(worker.Busy());
    ASSERT_TRUE(QTest::qWaitFor([&] { return !worker.Busy(); }, 5000));
    EXPECT_EQ(seen, (std::vector<std::string>{"first", "second", "third"}));
    EXPECT_TRUE(offThread);
}

TEST(SessionWorker, AJobPastItsBoundIsGivenUpItsTailRunsWhenItEndsAndLaterJobsGoOn) {
    TGate gate;
    std::atomic<int> tails{0};
    std::vector<std::string> seen;
    {
        TSessionWorker worker("test-worker");
        worker.Post([&gate] { gate.Wait(); }, [&seen] { seen.push_back("done"); }, 200,
                    [&seen] { seen.push_back("given up"); }, [&tails] { ++tails; });
        worker.Post([] {}, [&seen] { seen.push_back("next"); }, 5000, [] {});
        ASSERT_TRUE(QTest::qWaitFor([&] { return seen.size() == 2; }, 5000));
        // Answered at the bound; the next job ran on a new thread meanwhile.
        EXPECT_EQ(seen, (std::vector<std::string>{"given up", "next"}));
        EXPECT_TRUE(gate.entered);
        EXPECT_EQ(worker.StuckThreads(), 1);
        EXPECT_EQ(tails, 0);
        gate.open = true;
        ASSERT_TRUE(NoneStuck(worker));
        EXPECT_EQ(tails, 1);
        // Its end is not told: it was answered already.
        QTest::qWait(50);
        EXPECT_EQ(seen.size(), 2u);
    }
}

// Destroyed with a job given up and one running (both ending later) and
// one queued: it waits for none, the queued one never runs, the one given
// up has its tail run on its own thread, and nothing reaches the worker.
TEST(SessionWorker, DestroyedItWaitsForNoJobAndNothingReachesItAfterwards) {
    auto givenUpGate = std::make_shared<TGate>(), runningGate = std::make_shared<TGate>();
    std::atomic<bool> tail{false}, dropped{false};
    {
        TSessionWorker worker("test-worker");
        bool givenUp = false;
        worker.Post([givenUpGate] { givenUpGate->Wait(); },
                    [] { ADD_FAILURE() << "told after its end"; }, 100,
                    [&givenUp] { givenUp = true; }, [&tail] { tail = true; });
        worker.Post([runningGate] { runningGate->Wait(); },
                    [] { ADD_FAILURE() << "told after its end"; }, 5000, [] {});
        worker.Post([&dropped] { dropped = true; }, [] {}, 5000, [] {});
        ASSERT_TRUE(QTest::qWaitFor([&] { return givenUp && runningGate->entered; }, 5000));
        worker.DropQueued();
    }
    givenUpGate->open = true;
    runningGate->open = true;
    // The thread given up comes out of its job and runs its tail.
    EXPECT_TRUE(QTest::qWaitFor([&tail] { return tail.load(); }, 5000));
    // What the jobs held is let go here, later; nothing reaches the worker.
    QTest::qWait(100);
    EXPECT_FALSE(dropped);
}
