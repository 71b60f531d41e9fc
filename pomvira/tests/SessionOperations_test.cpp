// SPDX-License-Identifier: GPL-3.0-or-later
// The capture session's queue of operations alone: however an operation
// ends (its last step returned, a step threw, a step ended it early, the
// worker dropped the answer to the job it waited for, the job ran past its
// bound), the next one runs, in order, and a failure is told once.
#include <QTest>
#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <stdexcept>
#include <thread>

#include "capture/SessionOperations.h"
#include "capture/SessionWorker.h"

using namespace media;

using TSteps = TOperation::TSteps;

TEST(SessionOperations, TheNextOperationRunsHoweverTheOneBeforeEnds) {
    std::atomic<bool> release{false};
    auto blocking = [&release] {
        while (!release)
            std::this_thread::sleep_for(std::chrono::milliseconds(1));
        return S_OK;
    };
    struct TCase {
        const char* name;
        std::function<TSteps(TSessionWorker&, std::vector<std::string>&)> steps;
        std::vector<std::string> seen;  // what the operation did, then "next"
        int failures;
    };
    const TCase cases[] = {
        {"its last step returned",
         [](TSessionWorker& worker, std::vector<std::string>& seen) -> TSteps {
             return {[&worker](TOperation& op) { op.Await(worker, [] { return S_FALSE; }, 5000); },
                     [&seen](TOperation& op) { seen.push_back("result " + std::to_string(op.Result())); }};
         },
         {"result 1", "next"}, 0},
        {"a step threw",
         [](TSessionWorker&, std::vector<std::string>& seen) -> TSteps {
             return {[](TOperation&) { throw std::runtime_error("broken"); },
                     [&seen](TOperation&) { seen.push_back("after the throw"); }};
         },
         {"next"}, 1},
        {"a step threw after a job",
         [](TSessionWorker& worker, std::vector<std::string>&) -> TSteps {
             return {[&worker](TOperation& op) { op.Await(worker, [] { return S_OK; }, 5000); },
                     [](TOperation&) { throw std::runtime_error("broken"); }};
         },
         {"next"}, 1},
        {"a step ended it early",
         [](TSessionWorker&, std::vector<std::string>& seen) -> TSteps {
             return {[&seen](TOperation& op) {
                         seen.push_back("ending");
                         op.End();
                     },
                     [&seen](TOperation&) { seen.push_back("after the end"); }};
         },
         {"ending", "next"}, 0},
        {"a step put others in place of the rest",
         [](TSessionWorker&, std::vector<std::string>& seen) -> TSteps {
             return {[&seen](TOperation& op) {
                         op.Replace({[&seen](TOperation&) { seen.push_back("instead"); }});
                     },
                     [&seen](TOperation&) { seen.push_back("replaced"); }};
         },
         {"instead", "next"}, 0},
        {"the worker dropped the answer",
         [blocking](TSessionWorker& worker, std::vector<std::string>& seen) -> TSteps {
             return {[&worker, blocking, &seen](TOperation& op) {
                         // Queued behind a job that holds the worker, then dropped.
                         worker.Post(blocking, [] {}, 5000, [] {});
                         op.Await(worker, [] { return S_OK; }, 5000);
                         worker.DropQueued();
                     },
                     [&seen](TOperation&) { seen.push_back("answered"); }};
         },
         {"next"}, 0},
        {"the job ran past its bound",
         [blocking](TSessionWorker& worker, std::vector<std::string>& seen) -> TSteps {
             return {[&worker, blocking, &seen](TOperation& op) {
                         op.Await(worker, blocking, 50, [&seen] { seen.push_back("bound"); });
                     },
                     [&seen](TOperation& op) {
                         seen.push_back(op.Result() == VFW_E_TIMEOUT ? "timed out" : "?");
                     }};
         },
         {"bound", "timed out", "next"}, 0},
    };
    for (const TCase& c : cases) {
        SCOPED_TRACE(c.name);
        release = false;
        TSessionWorker worker("test-worker");
        TOperationQueue queue;
        int failures = 0;
        queue.OnFailure = [&failures](const std::exception_ptr&) { ++failures; };
        std::vector<std::string> seen;
        queue.Enqueue(TOperationKind::StartPreview, c.steps(worker, seen));
        queue.Enqueue(TOperationKind::StopPreview, {[&seen](TOperation&) { seen.push_back("next"); }});
        ASSERT_TRUE(QTest::qWaitFor([&] { return !seen.empty() && seen.back() == "next"; }, 5000));
        EXPECT_EQ(seen, c.seen);
        EXPECT_EQ(failures, c.failures);
        EXPECT_FALSE(queue.Busy());
        release = true;
        ASSERT_TRUE(QTest::qWaitFor([&] { return worker.StuckThreads() == 0; }, 5000));
    }
}
