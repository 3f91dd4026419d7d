// team_barrier.cpp - the counting barrier of the parallel strategies.
//
// Thread 0 is the master.  Every thread first notes the release counter R
// and aims for R + T - 1 (T the team size): the others each add one arrival
// and wait until the release counter reaches that target; the master waits
// until the arrivals reach it and then stores it as the new release count.
// Both counters only grow, so a slot serves any number of barriers of one
// call.  Waiting spins, and yields the processor after every 5000
// unsuccessful looks so that an oversubscribed team still moves.
#include "blas/gemm/partitioned_driver.h"
#include "orb_service.h"

namespace {

constexpr int kSpinsBeforeYield = 5000;

void wait_until_at_least(const std::atomic<int64_t> &counter, int64_t target) {
    for (int spins = 0; counter.load(std::memory_order_acquire) < target;) {
        if (++spins == kSpinsBeforeYield) {
            spins = 0;
            orb_serv_thread_yield();
        }
    }
}

}  // namespace

void team_barrier(SyncSlot *slot, int thread, int threads) {
    const int64_t target = slot->releases.load(std::memory_order_acquire) + threads - 1;
    if (thread != 0) {
        slot->arrivals.fetch_add(1, std::memory_order_acq_rel);
        wait_until_at_least(slot->releases, target);
        return;
    }
    wait_until_at_least(slot->arrivals, target);
    slot->releases.store(target, std::memory_order_release);
}
