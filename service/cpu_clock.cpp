// cpu_clock.cpp - the library's clock: the time-stamp counter in seconds.
//
// A reading is CPUID leaf 0 (so that earlier instructions have finished)
// followed by RDTSC, divided by the counter's frequency.  The frequency is
// measured once per process: counter and wall clock are read at the start,
// and again when the wall clock's second has changed (at most a second
// later); the counter's advance over the elapsed wall time is its rate.
// When the wall clock saw too little time pass, or the counter did not
// move, the nominal frequency stands in.  The first caller measures under a
// lock; callers arriving meanwhile wait for its result rather than measuring
// again.
#include <sys/time.h>

#include <atomic>
#include <ctime>

#include "orb_service.h"
#include "service/cpu_clock.h"
#include "service/cpu_identity.h"

namespace {

// The counter's frequency in GHz; -1 until measured.
std::atomic<double> orb_clocks_freq{-1.0};
volatile int orb_clocks_freq_lock = 0;

// Shortest wall time over which the counter's rate is trusted.
constexpr double kShortestMeasurement = 0.0001;
// Spin until the wall clock has moved on by this much (that is, to its next second).
constexpr double kWallClockStep = 0.005;

double seconds_between(const timeval &from, const timeval &to) {
    return static_cast<double>(to.tv_sec - from.tv_sec) + 1e-6 * static_cast<double>(to.tv_usec - from.tv_usec);
}

double measure_clocks_frequency() {
    const time_t noted = time(nullptr);
    const uint64_t c0 = orb_serv_get_cpu_clocks(nullptr);
    timeval g0, g1;
    gettimeofday(&g0, nullptr);
    while (difftime(time(nullptr), noted) < kWallClockStep) {
    }
    const uint64_t c1 = orb_serv_get_cpu_clocks(nullptr);
    gettimeofday(&g1, nullptr);
    const double elapsed = seconds_between(g0, g1);
    if (elapsed >= kShortestMeasurement && c1 != c0) return static_cast<double>(c1 - c0) * 1e-9 / elapsed;
    return orb_serv_get_max_cpu_frequency();
}

}  // namespace

extern "C" {

uint64_t orb_serv_get_cpu_clocks(uint64_t *out) {
    (void)orb_cpuid(0, 0);
    const uint64_t clocks = __builtin_ia32_rdtsc();
    if (out != nullptr) *out = clocks;
    return clocks;
}

double orb_serv_get_clocks_frequency(void) {
    double ghz = orb_clocks_freq.load(std::memory_order_acquire);
    if (ghz > 0.0) return ghz;
    orb_serv_lock(&orb_clocks_freq_lock);
    ghz = orb_clocks_freq.load(std::memory_order_relaxed);
    if (ghz <= 0.0) {
        ghz = measure_clocks_frequency();
        if (ghz > 0.0) orb_clocks_freq.store(ghz, std::memory_order_release);
    }
    orb_serv_unlock(&orb_clocks_freq_lock);
    return ghz;
}

double orb_serv_dsecnd(void) {
    const double ghz = orb_serv_get_clocks_frequency();
    const uint64_t clocks = orb_serv_get_cpu_clocks(nullptr);
    return static_cast<double>(clocks) / (ghz * 999999999.9999999);
}

float orb_serv_second(void) { return static_cast<float>(orb_serv_dsecnd()); }

}  // extern "C"
