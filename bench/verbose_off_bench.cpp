// verbose_off_bench - what the verbose log costs a call while it is off.
//
// With the log off, a reference-form entry point reads the mode through its
// cached pointer and compares it with 0, and nothing else.  This benchmark
// times the smallest work that still runs the whole entry point, a 4 x 4 x 4
// SGEMM through sgemm_, in two builds of the library loaded side by side:
// the library itself with the log off, and a variant whose entry points are
// compiled without the log (ORB_WITHOUT_VERBOSE_LOG).  The two are timed in
// alternation, best of several rounds, and reported in nanoseconds per call
// with their difference.
//
//   verbose_off_bench [LIBVORTE_BLAS LIBVORTE_BLAS_WITHOUT_LOG]
#include <cstdio>
#include <cstdlib>
#include <functional>
#include <vector>

#include "bench_support.h"

namespace {

using SgemmRef = void (*)(const char *, const char *, const int *, const int *, const int *, const float *,
                          const float *, const int *, const float *, const int *, const float *, float *,
                          const int *, size_t, size_t);

// Calls per timed run: long enough for the clock, short enough to alternate often.
constexpr int kCallsPerRun = 20000;
constexpr int kRounds = 15;
constexpr double kSlice = 0.05;

SgemmRef load_sgemm(const char *path, bool turn_log_off) {
    void *handle = dlopen(path, RTLD_NOW | RTLD_LOCAL);
    if (handle == nullptr) {
        std::fprintf(stderr, "cannot load %s: %s\n", path, dlerror());
        std::exit(1);
    }
    if (turn_log_off) {
        auto set_mode = reinterpret_cast<int (*)(int)>(dlsym(handle, "orb_serv_verbose"));
        if (set_mode == nullptr || set_mode(0) != 0) {
            std::fprintf(stderr, "%s: cannot turn the verbose log off\n", path);
            std::exit(1);
        }
    }
    return reinterpret_cast<SgemmRef>(dlsym(handle, "sgemm_"));
}

}  // namespace

int main(int argc, char **argv) {
    const char *logged = argc > 2 ? argv[1] : ORB_LIBRARY_PATH;
    const char *unlogged = argc > 2 ? argv[2] : ORB_UNLOGGED_LIBRARY_PATH;
    const SgemmRef with_log = load_sgemm(logged, true);
    const SgemmRef without_log = load_sgemm(unlogged, false);

    const int n = 4;
    const float alpha = 1.0f, beta = 0.5f;
    std::vector<float> a(16, 0.25f), b(16, 0.5f), c(16, 0.0f);
    auto calls = [&](SgemmRef sgemm) {
        return [&, sgemm] {
            for (int i = 0; i < kCallsPerRun; ++i)
                sgemm("N", "N", &n, &n, &n, &alpha, a.data(), &n, b.data(), &n, &beta, c.data(), &n, 1, 1);
        };
    };
    const std::vector<std::function<void()>> runs = {calls(with_log), calls(without_log)};
    const std::vector<double> best = bench::best_times_alternating(runs, kRounds, kSlice);

    const double ns_with = best[0] / kCallsPerRun * 1e9, ns_without = best[1] / kCallsPerRun * 1e9;
    std::printf("4 x 4 x 4 SGEMM through sgemm_, one thread, best of %d alternating rounds\n", kRounds);
    std::printf("  %-34s %8.1f ns per call\n", "log built in, mode off", ns_with);
    std::printf("  %-34s %8.1f ns per call\n", "entry points built without the log", ns_without);
    std::printf("  %-34s %+8.1f ns per call (%+.1f %%)\n", "difference", ns_with - ns_without,
                100.0 * (ns_with - ns_without) / ns_without);
    return 0;
}
