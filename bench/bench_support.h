// bench_support.h - what the benchmarks share: loading a BLAS library with
// dlopen so that several can be timed in one process, naming what was
// loaded, setting each library's thread count, and a clock.
#ifndef ORB_BENCH_BENCH_SUPPORT_H
#define ORB_BENCH_BENCH_SUPPORT_H

#include <dlfcn.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <functional>
#include <string>
#include <thread>
#include <vector>

namespace bench {

constexpr int kRowMajor = 101, kColMajor = 102, kNoTrans = 111, kTrans = 112;

using CblasSgemm = void (*)(int layout, int transa, int transb, int m, int n, int k, float alpha, const float *a,
                            int lda, const float *b, int ldb, float beta, float *c, int ldc);
using CblasSgemv = void (*)(int layout, int trans, int m, int n, float alpha, const float *a, int lda,
                            const float *x, int incx, float beta, float *y, int incy);

// One loaded library.
struct Library {
    std::string label;                        // name in the tables, with the kernel it chose
    void *handle = nullptr;                   // its dlopen handle
    CblasSgemm sgemm = nullptr;               // its cblas_sgemm
    CblasSgemv sgemv = nullptr;               // its cblas_sgemv
    void (*set_threads)(int) = nullptr;       // its thread-count setter, if it has one
};

// BLIS reads BLIS_ARCH_TYPE as the number of one of its configurations; the
// scripts give the configuration's name, which is turned into its number
// here, before BLIS initialises, by looking it up among the library's own
// names (their list ends with "generic").
inline void number_blis_arch_type(const char *(*arch_name)(int)) {
    const char *wanted = std::getenv("BLIS_ARCH_TYPE");
    if (!wanted || (*wanted >= '0' && *wanted <= '9')) return;
    for (int id = 0; id < 64; ++id) {
        const std::string name = arch_name(id);
        if (name == wanted) {
            setenv("BLIS_ARCH_TYPE", std::to_string(id).c_str(), 1);
            return;
        }
        if (name == "generic") break;
    }
    std::fprintf(stderr, "BLIS has no configuration named %s; it chooses its own\n", wanted);
    unsetenv("BLIS_ARCH_TYPE");
}

// Loads path under label; false (with a message) when it cannot be used.
inline bool load_library(const char *path, const char *label, Library &out) {
    void *handle = dlopen(path, RTLD_NOW | RTLD_LOCAL);
    if (!handle) {
        std::fprintf(stderr, "cannot load %s: %s\n", path, dlerror());
        return false;
    }
    out.label = label;
    out.handle = handle;
    out.sgemm = reinterpret_cast<CblasSgemm>(dlsym(handle, "cblas_sgemm"));
    out.sgemv = reinterpret_cast<CblasSgemv>(dlsym(handle, "cblas_sgemv"));
    using CoreName = char *(*)();
    using ArchId = int (*)();
    using ArchName = const char *(*)(int);
    if (auto core = reinterpret_cast<CoreName>(dlsym(handle, "openblas_get_corename")))
        out.label += std::string(" (") + core() + ")";
    // BLIS answers the architecture query only once initialised.
    auto init = reinterpret_cast<void (*)()>(dlsym(handle, "bli_init"));
    auto arch_id = reinterpret_cast<ArchId>(dlsym(handle, "bli_arch_query_id"));
    auto arch_name = reinterpret_cast<ArchName>(dlsym(handle, "bli_arch_string"));
    if (init && arch_id && arch_name) {
        number_blis_arch_type(arch_name);
        init();
        out.label += std::string(" (") + arch_name(arch_id()) + ")";
    }
    for (const char *setter : {"orb_serv_set_num_threads", "openblas_set_num_threads", "bli_thread_set_num_threads"})
        if (void *fn = dlsym(handle, setter)) out.set_threads = reinterpret_cast<void (*)(int)>(fn);
    return true;
}

inline double seconds() {
    return std::chrono::duration<double>(std::chrono::steady_clock::now().time_since_epoch()).count();
}

// Best time of run() over repetitions lasting together at least min_total
// seconds, at least min_reps of them, after one untimed call when warm_up.
template <typename Run>
double best_time(Run run, double min_total = 0.3, int max_reps = 200, int min_reps = 3, bool warm_up = true) {
    if (warm_up) run();  // buffers, caches, lazy initialisation
    double best = 1e30, total = 0;
    for (int rep = 0; rep < max_reps && (rep < min_reps || total < min_total); ++rep) {
        double t0 = seconds();
        run();
        double t = seconds() - t0;
        total += t;
        if (t < best) best = t;
    }
    return best;
}

// One of several runs timed in alternation.
struct AlternatingRun {
    std::function<void()> run;  // one call
    double pause = 0;           // seconds waited before each of its turns
};

// Best times of several runs measured in alternation: each of `rounds`
// rounds gives every run a turn of at least `slice` seconds (and at least
// min_reps calls), and each run keeps its best.  On a shared machine a slow
// spell (another tenant on the core's sibling, say) then falls on all the
// runs alike instead of on whichever was being timed.  A library's OpenMP
// workers spin for a while after each call (up to 200 ms in one common
// runtime) and would take the cores from the next library's threads, so a
// multi-threaded run waits out its pause before every turn.  Every run is
// called once untimed before the first round, or before every turn when
// warm_every_turn.
inline std::vector<double> best_times_alternating(const std::vector<AlternatingRun> &runs, int rounds, double slice,
                                                  int min_reps, bool warm_every_turn) {
    std::vector<double> best(runs.size(), 1e30);
    for (int round = 0; round < rounds; ++round)
        for (size_t i = 0; i < runs.size(); ++i) {
            if (runs[i].pause > 0) std::this_thread::sleep_for(std::chrono::duration<double>(runs[i].pause));
            best[i] = std::min(best[i], best_time(runs[i].run, slice, 200, min_reps, warm_every_turn || round == 0));
        }
    return best;
}

// The same with one pause for every run, three calls at least per turn and a
// warm-up call before each.
inline std::vector<double> best_times_alternating(const std::vector<std::function<void()>> &runs, int rounds = 5,
                                                  double slice = 0.08, double pause = 0.0) {
    std::vector<AlternatingRun> timed;
    for (const std::function<void()> &run : runs) timed.push_back({run, pause});
    return best_times_alternating(timed, rounds, slice, 3, true);
}

// The pause before a turn of a run with more than one thread: longer than the
// time the OpenMP runtimes let idle workers spin.
constexpr double kSpinOutPause = 0.25;

}  // namespace bench

#endif
