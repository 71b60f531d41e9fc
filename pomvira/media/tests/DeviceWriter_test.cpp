// SPDX-License-Identifier: GPL-3.0-or-later
// The device writer: order, coalescing of one control's values, reports on
// the user-interface thread. (A writer destroyed while its device holds a
// write: the camera controls page's tests.)
#include <gtest/gtest.h>

#include <QTest>

#include <condition_variable>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "media/gst/DeviceWriter.h"

namespace media::gst {
namespace {

// A device that logs the writes it receives, and holds them until released.
struct Device {
    std::mutex lock;
    std::condition_variable released;
    bool held = false;
    std::vector<std::string> log;
    std::thread::id thread;

    void Hold() {
        std::lock_guard<std::mutex> guard(lock);
        held = true;
    }
    void Release() {
        {
            std::lock_guard<std::mutex> guard(lock);
            held = false;
        }
        released.notify_all();
    }
    std::vector<std::string> Log() {
        std::lock_guard<std::mutex> guard(lock);
        return log;
    }
};

// A write of `what` to control `key` (-1: a press, never coalesced), whose
// report lands in reports.
void Post(DeviceWriter& writer, const std::shared_ptr<Device>& device, int key,
          const std::string& what, std::vector<std::string>* reports) {
    auto work = [device, what, reports]() -> DeviceWriter::Report {
        std::unique_lock<std::mutex> guard(device->lock);
        device->log.push_back(what);
        device->thread = std::this_thread::get_id();
        device->released.wait(guard, [&] { return !device->held; });
        return [what, reports] { reports->push_back(what); };
    };
    if (key < 0)
        writer.PostEach(work);
    else
        writer.Post(key, work);
}

TEST(DeviceWriter, WritesGoOutInOrderAndANewerValueOfAControlReplacesOnlyItsWaitingOne) {
    struct Case {
        const char* name;
        std::vector<std::pair<int, std::string>> posts;  // the first one held by the device
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
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        auto device = std::make_shared<Device>();
        std::vector<std::string> reports;
        DeviceWriter writer;
        int settled = 0;
        QObject::connect(&writer, &DeviceWriter::Settled, [&] { ++settled; });
        device->Hold();
        for (const auto& [key, what] : c.posts)
            Post(writer, device, key, what, &reports);
        EXPECT_TRUE(writer.Busy());
        device->Release();
        ASSERT_TRUE(QTest::qWaitFor([&] { return !writer.Busy(); }, 10000));
        EXPECT_EQ(device->Log(), c.written);
        EXPECT_EQ(reports, c.written);  // each write's report, on this thread
        EXPECT_EQ(settled, 1);
        EXPECT_NE(device->thread, std::this_thread::get_id());
    }
}

}  // namespace
}  // namespace media::gst
