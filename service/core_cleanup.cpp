// core_cleanup.cpp - the core clean-up list.
//
// Parts of the service runtime that hold process-wide resources (the
// thread-specific keys of the memory manager, for instance) register a
// function and its argument here; orb_serv_core_cleanup calls them, the
// last registered first, and empties the list.  The list holds 32 pairs; a
// 33rd registration is a defect of the library and ends the process.
#include "orb_memory.h"

namespace {

constexpr int kCleanupCapacity = 32;

// Exit code of a process whose clean-up list overflowed.
constexpr int kOverflowExitCode = 3;

// One registered clean-up.
struct Cleanup {
    orb_cleanup_fn fn;  // the function to call
    void *argument;     // what it is called with
};

// The list, guarded by cleanup_lock.
struct CleanupList {
    Cleanup entries[kCleanupCapacity];  // registered pairs, oldest first
    int count;                          // pairs in use
};

CleanupList core_cleanups = {{}, 0};
volatile int cleanup_lock = 0;

}  // namespace

extern "C" {

void orb_serv_core_register_cleanup(orb_cleanup_fn fn, void *argument) {
    orb_serv_lock(&cleanup_lock);
    if (core_cleanups.count == kCleanupCapacity) {
        orb_serv_unlock(&cleanup_lock);
        orb_serv_exit(kOverflowExitCode);
        return;
    }
    core_cleanups.entries[core_cleanups.count++] = Cleanup{fn, argument};
    orb_serv_unlock(&cleanup_lock);
}

// Each pair is taken off the list under the lock and called outside it, so
// that a clean-up may itself register or run clean-ups.
void orb_serv_core_cleanup(void) {
    for (;;) {
        orb_serv_lock(&cleanup_lock);
        if (core_cleanups.count == 0) {
            orb_serv_unlock(&cleanup_lock);
            return;
        }
        Cleanup last = core_cleanups.entries[--core_cleanups.count];
        orb_serv_unlock(&cleanup_lock);
        if (last.fn != nullptr) last.fn(last.argument);
    }
}

}  // extern "C"
