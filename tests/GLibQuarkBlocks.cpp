// SPDX-License-Identifier: GPL-3.0-or-later
// Linked into every executable of a sanitizer build (tests and programs):
// tells LeakSanitizer that GLib's old quark table blocks are kept on purpose.
//
// GLib keeps the strings of its quarks in one array that starts with room
// for 2048 of them. When it outgrows that, GLib copies it into a bigger
// block and never frees the old one, since lock-free readers may still hold
// it. Processes that load many GStreamer plugins (the libav plugin alone
// brings hundreds of element types) get there, and LeakSanitizer reports the
// old block at exit. Its stack cannot name GLib's quark code (the first
// block is made by GLib's own start-up code, whose symbols Debian's library
// does not carry), so a suppression could only name all of GLib.
//
// Instead, the blocks are recognised by what they hold: every live heap
// block whose size is a whole number of table blocks is remembered while it
// lives; at exit, those whose slots hold exactly the strings GLib returns for
// the first quarks (slot 0 empty, slot n the string of quark n) are GLib's
// quark tables and are excluded from the leak report. Every other block,
// whatever its size, is checked as usual.
#if defined(__SANITIZE_ADDRESS__)

#include "GLibQuarkBlocks.h"

#include <atomic>
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <dlfcn.h>
#include <pthread.h>
#include <sanitizer/lsan_interface.h>

extern "C" int __sanitizer_install_malloc_and_free_hooks(
    void (*malloc_hook)(const volatile void*, std::size_t),
    void (*free_hook)(const volatile void*));

namespace {

// GLib's table grows by blocks of 2048 string pointers.
constexpr std::size_t kBlockBytes = 2048 * sizeof(char*);
// Enough for the large blocks a process holds at once; a block not
// remembered for lack of room is simply reported as usual.
constexpr int kSlots = 1024;
// How many leading quarks must match for a block to count as GLib's table.
constexpr std::size_t kQuarksCompared = 256;

// The addresses are kept inverted: a plain copy in this table would count as
// a reference and keep every remembered block, leaked or not, out of the
// report.
struct Block {
    std::uintptr_t hidden;
    std::size_t size;
    const void* Address() const { return reinterpret_cast<const void*>(~hidden); }
};

std::uintptr_t Hide(const volatile void* address) {
    return ~reinterpret_cast<std::uintptr_t>(address);
}

// The hooks run inside the allocator, on any thread: no allocation, no
// locks that could allocate; a spin lock around a fixed table.
Block g_blocks[kSlots];
std::atomic<int> g_count{0};
std::atomic_flag g_lock = ATOMIC_FLAG_INIT;

// Whether this thread holds the lock (a hook called while it does, from
// code run during a fork, goes on without taking it again).
thread_local bool t_holdsLock = false;

void Lock() {
    while (g_lock.test_and_set(std::memory_order_acquire)) {
    }
    t_holdsLock = true;
}
void Unlock() {
    t_holdsLock = false;
    g_lock.clear(std::memory_order_release);
}

struct Guard {
    Guard() : nested(t_holdsLock) {
        if (!nested)
            Lock();
    }
    ~Guard() {
        if (!nested)
            Unlock();
    }
    const bool nested;
};

void OnMalloc(const volatile void* address, std::size_t size) {
    if (address == nullptr || size == 0 || size % kBlockBytes != 0)
        return;
    Guard guard;
    for (Block& block : g_blocks) {
        if (block.hidden == 0) {
            block = {Hide(address), size};
            g_count.fetch_add(1, std::memory_order_relaxed);
            return;
        }
    }
}

void OnFree(const volatile void* address) {
    if (address == nullptr || g_count.load(std::memory_order_relaxed) == 0)
        return;
    Guard guard;
    for (Block& block : g_blocks) {
        if (block.hidden == Hide(address)) {
            block = {0, 0};
            g_count.fetch_sub(1, std::memory_order_relaxed);
            return;
        }
    }
}

using QuarkToString = const char* (*)(unsigned);

bool HoldsQuarkStrings(const Block& block, QuarkToString quarkToString) {
    const auto* slots = static_cast<const char* const*>(block.Address());
    if (slots[0] != nullptr)
        return false;
    const std::size_t count = block.size / sizeof(char*);
    std::size_t matched = 0;
    for (std::size_t quark = 1; quark < count && quark <= kQuarksCompared; ++quark) {
        const char* text = quarkToString(unsigned(quark));
        if (text == nullptr)
            break;
        if (slots[quark] != text)
            return false;
        ++matched;
    }
    return matched > 0;
}

}  // namespace

void ExcludeGLibQuarkTablesFromLeakCheck() {
    auto quarkToString =
        reinterpret_cast<QuarkToString>(dlsym(RTLD_DEFAULT, "g_quark_to_string"));
    if (quarkToString == nullptr)
        return;
    Guard guard;
    for (const Block& block : g_blocks) {
        if (block.hidden != 0 && HoldsQuarkStrings(block, quarkToString))
            __lsan_ignore_object(block.Address());
    }
}

namespace {

// Installed before any library's start-up code runs (GLib makes its first
// table block there): the executable's pre-initialisers run first.
void Install(int, char**, char**) {
    __sanitizer_install_malloc_and_free_hooks(OnMalloc, OnFree);
}

__attribute__((section(".preinit_array"), used)) void (*const g_install)(int, char**, char**) =
    Install;

// Registered once the libraries are initialised, so that it runs before the
// sanitizer's own exit handler, which it registered earlier (exit handlers
// run in reverse order).
// A process forked while another thread holds the table's lock would spin
// for ever at its first allocation: a fork waits for the lock, and both
// processes go on with it free.
__attribute__((constructor)) void RegisterExitCheck() {
    std::atexit(ExcludeGLibQuarkTablesFromLeakCheck);
    pthread_atfork(Lock, Unlock, Unlock);
}

}  // namespace

#endif
