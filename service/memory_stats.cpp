// memory_stats.cpp - how much memory the library holds.
//
// Two views.  orb_serv_mem_stat counts what is held right now, from the
// records themselves: every pooled block and every tracked block or mapping,
// summed over all thread pools, plus what exited or released threads left
// behind.  The global counters (current bytes and blocks, and the peak of
// the bytes) run only while statistics are switched on with
// orb_serv_peak_mem_usage(1); they count every block obtained or given back
// while on.
#include <atomic>

#include "orb_memory.h"
#include "service/memory_manager.h"

namespace {

// The global counters, guarded by mem_stat_lock.
struct GlobalStats {
    int64_t current_bytes;  // bytes obtained minus bytes given back while on
    int64_t current_count;  // blocks obtained minus blocks given back while on
    int64_t peak_bytes;     // largest current_bytes since the last reset
};

GlobalStats global_stats = {0, 0, 0};
volatile int mem_stat_lock = 0;
std::atomic<int> enable_global_stat{0};

// Tracked blocks counted against threads that exited or whose pool was
// freed, net of those given back by threads without a pool.
std::atomic<uint64_t> left_behind_bytes{0};
std::atomic<int64_t> left_behind_count{0};

// What a record holds: its tracked counters and its filled slots.
void add_record(const PoolRecord &r, uint64_t &bytes, int64_t &count) {
    bytes += r.tracked_bytes;
    count += static_cast<int32_t>(r.tracked_count);
    for (int slot = 0; slot < r.slot_count; ++slot) {
        if (r.start[slot] == 0) continue;
        bytes += r.capacity[slot];
        count += 1;
    }
}

}  // namespace

void mm_stat_add(int64_t bytes, int64_t count) {
    if (!enable_global_stat.load(std::memory_order_relaxed)) return;
    orb_serv_lock(&mem_stat_lock);
    if (enable_global_stat.load(std::memory_order_relaxed)) {
        global_stats.current_bytes += bytes;
        global_stats.current_count += count;
        if (global_stats.current_bytes > global_stats.peak_bytes) global_stats.peak_bytes = global_stats.current_bytes;
    }
    orb_serv_unlock(&mem_stat_lock);
}

void mm_left_behind_add(uint64_t bytes, int64_t count) {
    left_behind_bytes.fetch_add(bytes, std::memory_order_relaxed);
    left_behind_count.fetch_add(count, std::memory_order_relaxed);
}

void mm_track(PoolRecord *record, int64_t bytes, int64_t count) {
    if (record != nullptr) {
        record->tracked_bytes += static_cast<uint64_t>(bytes);
        record->tracked_count += static_cast<uint32_t>(count);
    } else {
        mm_left_behind_add(static_cast<uint64_t>(bytes), count);
    }
    mm_stat_add(bytes, count);
}

void mm_track_calling_thread(int64_t bytes, int64_t count) {
    ThreadHandle self(ThreadHandle::kLookup);
    mm_track(self.record(), bytes, count);
}

extern "C" {

int64_t orb_serv_mem_stat(int *count) {
    if (count == nullptr) return 0;
    mm_init();
    mm_global_lock();
    uint64_t bytes = left_behind_bytes.load(std::memory_order_relaxed);
    int64_t blocks = left_behind_count.load(std::memory_order_relaxed);
    for (uint64_t number = 1, handed_out = mm_handed_out(); number <= handed_out; ++number) {
        ThreadEntry *entry = mm_entry_at(number);
        PoolRecord *record = entry != nullptr ? mm_entry_record(entry) : nullptr;
        if (record != nullptr) add_record(*record, bytes, blocks);
    }
    mm_global_unlock();
    *count = static_cast<int>(blocks);
    return static_cast<int64_t>(bytes);
}

int64_t orb_serv_peak_mem_usage(int mode) {
    mm_init();
    int64_t result = -1;
    orb_serv_lock(&mem_stat_lock);
    bool on = enable_global_stat.load(std::memory_order_relaxed) != 0;
    switch (mode) {
    case 1:
        enable_global_stat.store(1, std::memory_order_relaxed);
        global_stats.peak_bytes = 0;
        result = 0;
        break;
    case 0:
        enable_global_stat.store(0, std::memory_order_relaxed);
        result = 0;
        break;
    case 2:
        if (on) result = global_stats.peak_bytes;
        break;
    case -1:
        if (on) {
            result = global_stats.peak_bytes;
            global_stats.peak_bytes = global_stats.current_bytes;
        }
        break;
    default:
        break;
    }
    orb_serv_unlock(&mem_stat_lock);
    return result;
}

}  // extern "C"
