// fast_mm_settings.cpp - the environment settings of the memory manager.
//
// Two variables are read once, by the first allocation or status query:
// "ORB_DISABLE_FAST_MM" (any non-empty value turns the buffer pool off, so
// that pooled calls behave as tracked ones) and "ORB_FAST_MEMORY_LIMIT" (a
// decimal number of MiB of high-bandwidth memory the manager may use; a
// negative number means unlimited).  An application can turn the pool off
// by call instead, but only before that first reading, which it then
// replaces: the limit variable is then not read either.
#include <atomic>
#include <cstdint>
#include <cstdlib>

#include "orb_memory.h"
#include "service/memory_manager.h"

namespace {

// -1 until the settings are read; then 1 when the pool is off, 0 when on.
std::atomic<int> disable_fast_mm{-1};
volatile int orb_fast_mm_lock = 0;

// Values are read into buffers of this size.
constexpr int kValueSize = 32;

constexpr int64_t kMiB = 1048576;

// The memory limit in bytes of a value, or nothing when the value is
// negative (unlimited) or too large to count in bytes.
void apply_memory_limit(const char *value) {
    long mib = std::strtol(value, nullptr, 10);
    if (mib < 0 || mib > INT64_MAX / kMiB) return;
    mm_set_fast_memory_limit_bytes(static_cast<uint64_t>(mib) * kMiB);
}

}  // namespace

void mm_read_settings() {
    if (disable_fast_mm.load(std::memory_order_acquire) >= 0) return;
    orb_serv_lock(&orb_fast_mm_lock);
    if (disable_fast_mm.load(std::memory_order_relaxed) < 0) {
        char value[kValueSize];
        // A value too long for the buffer (negative length) is still non-empty.
        bool disabled = orb_serv_getenv("ORB_DISABLE_FAST_MM", value, kValueSize) != 0;
        if (orb_serv_getenv("ORB_FAST_MEMORY_LIMIT", value, kValueSize) > 0) apply_memory_limit(value);
        disable_fast_mm.store(disabled ? 1 : 0, std::memory_order_release);
    }
    orb_serv_unlock(&orb_fast_mm_lock);
}

bool mm_pool_disabled() { return disable_fast_mm.load(std::memory_order_acquire) == 1; }

extern "C" {

int orb_serv_get_fast_mm_status(void) {
    mm_read_settings();
    return mm_pool_disabled() ? 1 : 0;
}

int orb_serv_disable_fast_mm(void) {
    orb_serv_lock(&orb_fast_mm_lock);
    bool before_reading = disable_fast_mm.load(std::memory_order_relaxed) < 0;
    if (before_reading) disable_fast_mm.store(1, std::memory_order_release);
    orb_serv_unlock(&orb_fast_mm_lock);
    return before_reading ? 1 : 0;
}

}  // extern "C"
