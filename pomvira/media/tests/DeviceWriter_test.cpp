// SPDX-License-Identifier: GPL-3.0-or-later
// The device writer: order, coalescing of one control's values, reports on
// the user-interface thread. (A writer destroyed while its device holds a
// write: the camera controls page's tests.)
#include <gtest/gtest.h>

#include <QTest>

#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <utility>
#include <vector>

#include "media/gst/DeviceWriter.h"

namespace media::gst {
namespace {

// A device that logs the writes it receives; each write waits for the gate.
struct Device {
    std::mutex gate, lock;
    std::vector<std::string> log;
    bool onMainThread = false;
};

TEST(DeviceWriter, WritesGoOutInOrderAndANewerValueOfAControlReplacesOnlyItsWaitingOne) {
    struct Case {
        const char* name;
        std::vector<std::pair<int, std::string>> posts;  // control (-1: a press), value
        std::vector<std::string> written;
    };
    const Case cases[] = {
        {"a sweep: the first and the last",
         {{1, "a0"}, {1, "a1"}, {1, "a2"}, {1, "a3"}},
         {"a0", "a3"}},
        {"another control between: nothing jumps it, the last value still wins",
         {{1, "a0"}, {1, "a1"}, {2, "b0"}, {1, "a2"}, {1, "a3"}},
         {"a0", "a1", "b0", "a3"}},
        {"a waiting value replaced behind its own control only",
         {{2, "b0"}, {1, "a0"}, {1, "a1"}, {1, "a2"}},
         {"b0", "a0", "a2"}},
        {"presses are never coalesced", {{-1, "p0"}, {-1, "p1"}, {-1, "p2"}}, {"p0", "p1", "p2"}},
    };
    const std::thread::id main = std::this_thread::get_id();
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        auto device = std::make_shared<Device>();
        std::vector<std::string> reports;
        DeviceWriter writer;
        int settled = 0;
        QObject::connect(&writer, &DeviceWriter::Settled, [&] { ++settled; });
        device->gate.lock();  // the device holds every write until all are asked for
        for (const auto& [key, what] : c.posts) {
            auto work = [device, what = what, &reports, main]() -> DeviceWriter::Report {
                std::lock_guard<std::mutex> held(device->gate);
                std::lock_guard<std::mutex> guard(device->lock);
                device->log.push_back(what);
                device->onMainThread |= std::this_thread::get_id() == main;
                return [what, &reports] { reports.push_back(what); };
            };
            if (key < 0)
                writer.PostEach(work);
            else
                writer.Post(key, work);
        }
        EXPECT_TRUE(writer.Busy());
        device->gate.unlock();
        ASSERT_TRUE(QTest::qWaitFor([&] { return !writer.Busy(); }, 10000));
        std::lock_guard<std::mutex> guard(device->lock);
        EXPECT_EQ(device->log, c.written);
        EXPECT_EQ(reports, c.written);  // each write's report, on this thread
        EXPECT_EQ(settled, 1);
        EXPECT_FALSE(device->onMainThread);
    }
}

}  // namespace
}  // namespace media::gst
