// SPDX-License-Identifier: GPL-3.0-or-later
// GLib's quark table blocks left behind when the table grows are kept out of
// the leak report, and nothing else is: a lost block of the same size is
// still reported, even one that starts like a quark table.
#include "GLibQuarkBlocks.h"

#include <atomic>
#include <csignal>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <functional>
#include <glib.h>
#include <gtest/gtest.h>
#include <sanitizer/lsan_interface.h>
#include <string>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>

namespace {

constexpr std::size_t kTableBlock = 2048 * sizeof(char*);

// A heap block the leak checker cannot see a pointer to, freed again by
// Release: made on a thread of its own (gone, with its stack and registers,
// when the check runs) and its address kept scrambled.
class LostBlock {
  public:
    explicit LostBlock(std::size_t size, const std::function<void(char**)>& fill = {}) {
        std::thread([&] {
            void* block = std::malloc(size);
            std::memset(block, 0, size);
            if (fill)
                fill(static_cast<char**>(block));
            FHidden = reinterpret_cast<std::uintptr_t>(block) ^ kScramble;
        }).join();
    }
    ~LostBlock() { Release(); }
    char** Slots() const { return reinterpret_cast<char**>(FHidden ^ kScramble); }
    void Release() {
        if (FHidden != 0)
            std::free(Slots());
        FHidden = 0;
    }

  private:
    static constexpr std::uintptr_t kScramble = 0x5a5a5a5a5a5a5a5aULL;
    std::uintptr_t FHidden = 0;
};

bool LeaksFound() { return __lsan_do_recoverable_leak_check() != 0; }

class GLibQuarkBlocks : public ::testing::Test {
  protected:
    void SetUp() override {
        LostBlock probe(64);
        if (!LeaksFound())
            GTEST_SKIP() << "leak detection is off";
    }
};

TEST_F(GLibQuarkBlocks, BlocksLeftBehindByAGrowingTableAreNotReportedLostBlocksAre) {
    // Enough new quarks for the table to outgrow its first block, made on a
    // thread of its own (that leaves no copy of an old block's address).
    GQuark last = 0;
    std::thread([&last] {
        for (int i = 0; i < 3000; ++i)
            last = g_quark_from_string(("glib-quark-blocks-test-" + std::to_string(i)).c_str());
    }).join();
    ASSERT_GE(last, GQuark(2048));
    EXPECT_TRUE(LeaksFound()) << "GLib no longer leaves its old table blocks behind";

    ExcludeGLibQuarkTablesFromLeakCheck();
    EXPECT_FALSE(LeaksFound());

    // Same size as a table block, and the first quarks' strings, but one
    // slot differs: someone else's block, reported.
    LostBlock lookalike(kTableBlock, [](char** slots) {
        for (GQuark quark = 1; quark < 2048; ++quark)
            slots[quark] = const_cast<char*>(g_quark_to_string(quark));
        slots[7] = nullptr;
    });
    // A table block's worth of zeros: reported too.
    LostBlock zeros(kTableBlock);
    ExcludeGLibQuarkTablesFromLeakCheck();
    EXPECT_TRUE(LeaksFound());

    lookalike.Release();
    zeros.Release();
    EXPECT_FALSE(LeaksFound());
}

// Forks while another thread keeps allocating blocks of the remembered
// sizes (so that it often holds the table's lock): every child can still
// allocate and end.
TEST(GLibQuarkBlocksFork, ChildrenForkedWhileBlocksAreRememberedCanAllocate) {
    std::atomic<bool> stop{false};
    std::thread churn([&stop] {
        while (!stop.load()) {
            void* block = std::malloc(kTableBlock);
            std::free(block);
        }
    });
    int stuck = 0;
    for (int i = 0; i < 100 && stuck == 0; ++i) {
        const pid_t child = fork();
        if (child == 0) {
            void* block = std::malloc(kTableBlock);
            std::free(block);
            _exit(0);
        }
        ASSERT_GT(child, 0);
        int status = 0;
        pid_t ended = 0;
        // Bounded wait: a child stuck on the lock never ends by itself.
        for (int waited = 0; waited < 1000 && ended == 0; ++waited) {
            ended = waitpid(child, &status, WNOHANG);
            if (ended == 0)
                usleep(10000);
        }
        if (ended == 0) {
            kill(child, SIGKILL);
            waitpid(child, &status, 0);
            stuck = i + 1;
        } else {
            EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0);
        }
    }
    stop = true;
    churn.join();
    EXPECT_EQ(stuck, 0) << "child " << stuck << " never ended";
}

}  // namespace
