// cleanup_registry.cpp - functions run when the library shuts down.
//
// Parts of the service layer that create process-wide resources (thread-
// specific keys, for one) register a function and its argument here.  At
// shutdown, or whenever orb_serv_thr_cleanup is called, the entries run
// last registered first and are removed.  The registry holds 8 entries; a
// ninth registration is a defect of the library and ends the process with
// exit code 3.
#include "orb_threads.h"

namespace {

constexpr int kCapacity = 8;
constexpr int kRegistryFullExitCode = 3;

struct CleanupEntry {
    orb_thr_cleanup_fn fn;  // function to run
    void *arg;          // its argument
};

struct CleanupRegistry {
    CleanupEntry entries[kCapacity];  // registered entries, oldest first
    int count;                        // entries in use
    volatile int lock;                // guards entries and count
};

CleanupRegistry registry{};

// The library's unload (or the process's end) runs whatever is still registered.
__attribute__((destructor)) void run_cleanup_at_unload() { orb_serv_thr_cleanup(); }

}  // namespace

extern "C" {

int orb_serv_thr_register_cleanup(orb_thr_cleanup_fn fn, void *arg) {
    orb_serv_lock(&registry.lock);
    if (registry.count == kCapacity) {
        orb_serv_unlock(&registry.lock);
        orb_serv_exit(kRegistryFullExitCode);
        return -1;  // an exit hook that returns: the entry is not registered
    }
    registry.entries[registry.count++] = {fn, arg};
    orb_serv_unlock(&registry.lock);
    return 0;
}

// Each entry is taken off under the lock and run outside it, so that an
// entry may itself use the registry.
void orb_serv_thr_cleanup(void) {
    for (;;) {
        orb_serv_lock(&registry.lock);
        if (registry.count == 0) break;
        CleanupEntry entry = registry.entries[--registry.count];
        orb_serv_unlock(&registry.lock);
        if (entry.fn != nullptr) entry.fn(entry.arg);
    }
    orb_serv_unlock(&registry.lock);
}

}  // extern "C"
