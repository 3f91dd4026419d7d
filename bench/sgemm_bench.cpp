// sgemm_bench - SGEMM speed of libvorte_blas against a baseline.
//
// Both libraries are loaded with dlopen (each keeps its own symbols) and
// called through cblas_sgemm in column-major layout on the same operands.
// The peak of this core is measured first so that every figure can be read
// as a share of what the machine can do: the 256-bit fused multiply-add
// peak for the FMA kernels, or the 128-bit multiply+add peak (separate
// mulps and addps) for the SSE kernel sets.  For every shape and thread
// count the best of several timed runs counts; with more than one thread
// count the speed-up over the first count is printed as well.
//
//   sgemm_bench [--peak=fma256|muladd128] [--shapes=all|large] [--threads=1,2]
//               LIBVORTE_BLAS [BASELINE_LIBRARY]
// Set the libraries' own environment (processor identity, the baseline's
// core type) before starting; run_sgemm_bench.sh does.
#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <functional>
#include <random>
#include <string>
#include <vector>

#include "bench_support.h"
#include "machine_ceilings.h"

namespace {

using bench::Library;

struct Shape {
    char ta, tb;      // 'N' or 'T'
    int m, n, k;
};

// Best GFLOPS of every library on shape with the given thread count, the
// libraries timed in alternation.
std::vector<double> time_sgemm(const std::vector<Library> &libs, const Shape &s, int threads,
                               const std::vector<float> &a, const std::vector<float> &b, std::vector<float> &c) {
    int lda = s.ta == 'N' ? s.m : s.k, ldb = s.tb == 'N' ? s.k : s.n;
    int ta = s.ta == 'N' ? bench::kNoTrans : bench::kTrans, tb = s.tb == 'N' ? bench::kNoTrans : bench::kTrans;
    std::vector<std::function<void()>> runs;
    for (const Library &lib : libs) {
        if (lib.set_threads) lib.set_threads(threads);
        runs.push_back([&, lda, ldb, ta, tb] {
            lib.sgemm(bench::kColMajor, ta, tb, s.m, s.n, s.k, 1.0f, a.data(), lda, b.data(), ldb, 0.5f, c.data(),
                      s.m);
        });
    }
    const std::vector<double> seconds =
        bench::best_times_alternating(runs, 5, 0.08, threads > 1 ? bench::kSpinOutPause : 0.0);
    std::vector<double> gflops;
    for (double t : seconds) gflops.push_back(2.0 * s.m * s.n * s.k / t / 1e9);
    return gflops;
}

}  // namespace

// The command line.
struct Options {
    bool muladd128 = false;          // measure against the 128-bit multiply+add peak
    bool large_only = false;         // only the 2048^3 product
    std::vector<int> threads{1};     // thread counts to time, the first is the base of the speed-up
    const char *library = nullptr;   // libvorte_blas.so
    const char *baseline = nullptr;  // the baseline library, or null
};

bool parse_options(int argc, char **argv, Options &o) {
    for (int i = 1; i < argc; ++i) {
        const char *arg = argv[i];
        if (std::strcmp(arg, "--peak=muladd128") == 0) o.muladd128 = true;
        else if (std::strcmp(arg, "--peak=fma256") == 0) o.muladd128 = false;
        else if (std::strcmp(arg, "--shapes=large") == 0) o.large_only = true;
        else if (std::strcmp(arg, "--shapes=all") == 0) o.large_only = false;
        else if (std::strncmp(arg, "--threads=", 10) == 0) {
            o.threads.clear();
            for (const char *p = arg + 10; *p;) {
                char *end;
                long t = std::strtol(p, &end, 10);
                if (end == p || t < 1) return false;
                o.threads.push_back(int(t));
                p = *end == ',' ? end + 1 : end;
            }
        } else if (arg[0] == '-') return false;
        else if (!o.library) o.library = arg;
        else if (!o.baseline) o.baseline = arg;
        else return false;
    }
    return o.library != nullptr && !o.threads.empty();
}

int main(int argc, char **argv) {
    Options opt;
    if (!parse_options(argc, argv, opt)) {
        std::fprintf(stderr,
                     "usage: %s [--peak=fma256|muladd128] [--shapes=all|large] [--threads=1,2] LIBVORTE_BLAS "
                     "[BASELINE_LIBRARY]\n",
                     argv[0]);
        return 2;
    }
    std::vector<Library> libs(1);
    if (!bench::load_library(opt.library, "libvorte_blas", libs[0])) return 1;
    if (opt.baseline) {
        Library base;
        if (bench::load_library(opt.baseline, "baseline", base)) libs.push_back(base);
    }
    if (opt.threads.size() > 1 || opt.threads[0] != 1)
        for (const Library &lib : libs)
            if (!lib.set_threads) {
                std::fprintf(stderr, "%s has no thread-count setter\n", lib.label.c_str());
                return 1;
            }

    double peak = bench::measure_peak(opt.muladd128 ? bench::Peak::muladd128 : bench::Peak::fma256) / 1e9;
    std::printf("%s peak of one core: %.1f GFLOPS\n", opt.muladd128 ? "128-bit multiply+add" : "256-bit FMA", peak);
    std::printf("\n");

    std::vector<Shape> shapes = {{'N', 'N', 2048, 2048, 2048}};
    if (!opt.large_only)
        for (int size : {64, 128, 256, 512})
            for (char ta : {'N', 'T'})
                for (char tb : {'N', 'T'}) shapes.push_back({ta, tb, size, size, size});

    std::printf("%-6s %-16s %-7s", "op", "m x n x k", "threads");
    for (const Library &lib : libs) std::printf(" %30s", (lib.label + " GFLOPS (%peak 1 core)").c_str());
    if (libs.size() > 1) std::printf("  ours/baseline");
    if (opt.threads.size() > 1) std::printf("  ours speed-up");
    std::printf("\n");

    std::mt19937 rng(7);
    std::uniform_real_distribution<float> dist(-1.0f, 1.0f);
    for (const Shape &s : shapes) {
        std::vector<float> a(size_t(s.m) * s.k), b(size_t(s.k) * s.n), c(size_t(s.m) * s.n);
        for (float &x : a) x = dist(rng);
        for (float &x : b) x = dist(rng);
        for (float &x : c) x = dist(rng);
        char op[8], dims[32];
        std::snprintf(op, sizeof op, "%c%c", s.ta, s.tb);
        std::snprintf(dims, sizeof dims, "%d x %d x %d", s.m, s.n, s.k);
        double ours_first = 0;
        for (size_t ti = 0; ti < opt.threads.size(); ++ti) {
            int threads = opt.threads[ti];
            std::printf("%-6s %-16s %-7d", op, dims, threads);
            const std::vector<double> gflops = time_sgemm(libs, s, threads, a, b, c);
            for (double g : gflops) std::printf(" %22.1f (%5.1f%%)", g, 100.0 * g / peak);
            if (ti == 0) ours_first = gflops[0];
            if (libs.size() > 1) std::printf("  %13.2f", gflops[0] / gflops[1]);
            if (opt.threads.size() > 1) std::printf("  %13.2f", gflops[0] / ours_first);
            std::printf("\n");
            std::fflush(stdout);
        }
    }
    return 0;
}
