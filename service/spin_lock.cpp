// spin_lock.cpp - the library's spin lock, used by every one-time initialisation.
//
// A lock is a 32-bit word, 0 free and 1 held.  Taking it spins on a test
// followed by a compare-and-swap; after the first 5000 failed attempts every
// further attempt is preceded by a yield of the processor.
#include <sched.h>

#include "orb_service.h"

namespace {
constexpr int kSpinsBeforeYield = 5000;
}

extern "C" {

// Guards the first processor detection and the first reading of the
// reproducibility mode.
volatile int ORB_Detect_Cpu_Global_Lock = 0;

int orb_serv_trylock(volatile int *lock) {
    int expected = 0;
    return __atomic_load_n(lock, __ATOMIC_RELAXED) == 0 &&
           __atomic_compare_exchange_n(lock, &expected, 1, false, __ATOMIC_ACQUIRE, __ATOMIC_RELAXED);
}

void orb_serv_lock(volatile int *lock) {
    for (int attempt = 0; !orb_serv_trylock(lock); ++attempt) {
        if (attempt >= kSpinsBeforeYield) orb_serv_thread_yield();
        else __builtin_ia32_pause();
    }
}

void orb_serv_unlock(volatile int *lock) { __atomic_store_n(lock, 0, __ATOMIC_RELEASE); }

int64_t orb_serv_cmpxchg(volatile int64_t *ptr, const int64_t *expected, const int64_t *desired) {
    int64_t old = *expected;
    __atomic_compare_exchange_n(ptr, &old, *desired, false, __ATOMIC_SEQ_CST, __ATOMIC_SEQ_CST);
    return old;
}

void orb_serv_thread_yield(void) { sched_yield(); }

}  // extern "C"
