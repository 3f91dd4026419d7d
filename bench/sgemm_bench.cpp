// sgemm_bench - SGEMM speed of libvorte_blas against baseline libraries.
//
// The libraries are loaded with dlopen (each keeps its own symbols) and
// called through cblas_sgemm in column-major layout on the same operands,
// timed in alternation.  The peak of one core is measured first so that
// every figure can be read as a share of what the machine can do: the
// 512-bit or 256-bit fused multiply-add peak for the FMA kernels, or the
// 128-bit multiply+add peak (separate mulps and addps) for the SSE kernel
// sets; a row on T threads is a share of T times that peak.  For every
// shape and thread count the best of several timed runs counts; a product
// of less than 2 MFLOP is called repeatedly within one timed run, so that
// the clock's resolution does not count.  With more than one thread count
// the speed-up over the first count is printed as well.
//
//   sgemm_bench [--peak=fma512|fma256|muladd128] [--shapes=GROUP,...]
//               [--threads=1,2] LIBVORTE_BLAS [BASELINE_LIBRARY...]
// Shape groups: large (NN 2048^3), squares (64^3 to 1024^3 in the four
// transposition pairs), narrow (TN 4096 x 8 x 4096 and 4096 x 32 x 4096),
// small (NN 8^3, 16^3, 32^3), threaded (NN 2048^3, TN 4096 x 32 x 4096,
// NN 256^3 and 512^3); large,squares by default.
// Set the libraries' own environment (processor identity, the baselines'
// kernels) before starting; run_sgemm_bench.sh does.
#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <functional>
#include <map>
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

// Calls of one timed run: enough for 2 MFLOP.
int calls_per_run(const Shape &s) {
    const double flops = 2.0 * s.m * s.n * s.k;
    return flops < 2e6 ? int(2e6 / flops) : 1;
}

// Best GFLOPS of every library on shape with the given thread count, the
// libraries timed in alternation.
std::vector<double> time_sgemm(const std::vector<Library> &libs, const Shape &s, int threads,
                               const std::vector<float> &a, const std::vector<float> &b, std::vector<float> &c) {
    int lda = s.ta == 'N' ? s.m : s.k, ldb = s.tb == 'N' ? s.k : s.n;
    int ta = s.ta == 'N' ? bench::kNoTrans : bench::kTrans, tb = s.tb == 'N' ? bench::kNoTrans : bench::kTrans;
    const int calls = calls_per_run(s);
    std::vector<std::function<void()>> runs;
    for (const Library &lib : libs) {
        if (lib.set_threads) lib.set_threads(threads);
        runs.push_back([&, lda, ldb, ta, tb, calls] {
            for (int call = 0; call < calls; ++call)
                lib.sgemm(bench::kColMajor, ta, tb, s.m, s.n, s.k, 1.0f, a.data(), lda, b.data(), ldb, 0.5f,
                          c.data(), s.m);
        });
    }
    const std::vector<double> seconds =
        bench::best_times_alternating(runs, 5, 0.08, threads > 1 ? bench::kSpinOutPause : 0.0);
    std::vector<double> gflops;
    for (double t : seconds) gflops.push_back(2.0 * s.m * s.n * s.k * calls / t / 1e9);
    return gflops;
}

// The shapes of each group of the command line.
const std::map<std::string, std::vector<Shape>> &shape_groups() {
    static const std::map<std::string, std::vector<Shape>> groups = [] {
        std::map<std::string, std::vector<Shape>> g;
        g["large"] = {{'N', 'N', 2048, 2048, 2048}};
        for (int size : {64, 128, 256, 512, 1024})
            for (char ta : {'N', 'T'})
                for (char tb : {'N', 'T'}) g["squares"].push_back({ta, tb, size, size, size});
        g["narrow"] = {{'T', 'N', 4096, 8, 4096}, {'T', 'N', 4096, 32, 4096}};
        g["small"] = {{'N', 'N', 8, 8, 8}, {'N', 'N', 16, 16, 16}, {'N', 'N', 32, 32, 32}};
        g["threaded"] = {{'N', 'N', 2048, 2048, 2048}, {'T', 'N', 4096, 32, 4096}, {'N', 'N', 256, 256, 256},
                         {'N', 'N', 512, 512, 512}};
        return g;
    }();
    return groups;
}

}  // namespace

// The command line.
struct Options {
    bench::Peak peak = bench::Peak::fma256;       // the ceiling of the shares
    std::vector<Shape> shapes;                    // in the order of their groups
    std::vector<int> threads{1};                  // thread counts to time, the first is the base of the speed-up
    const char *library = nullptr;                // libvorte_blas.so
    std::vector<const char *> baselines;          // the baseline libraries
};

bool parse_list(const char *text, const std::function<bool(const std::string &)> &item) {
    std::string list = text;
    for (size_t start = 0; start <= list.size();) {
        size_t end = std::min(list.find(',', start), list.size());
        if (!item(list.substr(start, end - start))) return false;
        start = end + 1;
    }
    return true;
}

bool parse_options(int argc, char **argv, Options &o) {
    const std::map<std::string, bench::Peak> peaks = {
        {"fma512", bench::Peak::fma512}, {"fma256", bench::Peak::fma256}, {"muladd128", bench::Peak::muladd128}};
    const char *groups = "large,squares";
    for (int i = 1; i < argc; ++i) {
        const char *arg = argv[i];
        if (std::strncmp(arg, "--peak=", 7) == 0) {
            auto p = peaks.find(arg + 7);
            if (p == peaks.end()) return false;
            o.peak = p->second;
        } else if (std::strncmp(arg, "--shapes=", 9) == 0) {
            groups = arg + 9;
        } else if (std::strncmp(arg, "--threads=", 10) == 0) {
            o.threads.clear();
            if (!parse_list(arg + 10, [&](const std::string &t) {
                    char *end;
                    long n = std::strtol(t.c_str(), &end, 10);
                    o.threads.push_back(int(n));
                    return *end == 0 && n >= 1;
                }))
                return false;
        } else if (arg[0] == '-') return false;
        else if (!o.library) o.library = arg;
        else o.baselines.push_back(arg);
    }
    if (!parse_list(groups, [&](const std::string &name) {
            auto g = shape_groups().find(name);
            if (g == shape_groups().end()) return false;
            o.shapes.insert(o.shapes.end(), g->second.begin(), g->second.end());
            return true;
        }))
        return false;
    return o.library != nullptr && !o.threads.empty();
}

int main(int argc, char **argv) {
    Options opt;
    if (!parse_options(argc, argv, opt)) {
        std::fprintf(stderr,
                     "usage: %s [--peak=fma512|fma256|muladd128] [--shapes=large,squares,narrow,small,threaded] "
                     "[--threads=1,2] LIBVORTE_BLAS [BASELINE_LIBRARY...]\n",
                     argv[0]);
        return 2;
    }
    std::vector<Library> libs(1);
    if (!bench::load_library(opt.library, "libvorte_blas", libs[0])) return 1;
    for (const char *path : opt.baselines) {
        Library base;
        std::string name = path;
        name = name.substr(name.find_last_of('/') + 1);   // libopenblas.so.0 -> libopenblas
        name = name.substr(0, name.find(".so"));
        if (bench::load_library(path, name.c_str(), base)) libs.push_back(base);
    }
    if (opt.threads.size() > 1 || opt.threads[0] != 1)
        for (const Library &lib : libs)
            if (!lib.set_threads) {
                std::fprintf(stderr, "%s has no thread-count setter\n", lib.label.c_str());
                return 1;
            }

    const char *peak_name = opt.peak == bench::Peak::fma512   ? "512-bit FMA"
                            : opt.peak == bench::Peak::fma256 ? "256-bit FMA"
                                                              : "128-bit multiply+add";
    double peak = bench::measure_peak(opt.peak) / 1e9;
    std::printf("%s peak of one core: %.1f GFLOPS (a row on T threads: share of T times this)\n", peak_name, peak);
    std::printf("\n");

    std::printf("%-4s %-18s %-7s", "op", "m x n x k", "threads");
    for (const Library &lib : libs) std::printf(" %34s", (lib.label + " GFLOPS (%peak)").c_str());
    if (libs.size() > 1) std::printf("  ours/best other");
    if (opt.threads.size() > 1) std::printf("  ours speed-up");
    std::printf("\n");

    std::mt19937 rng(7);
    std::uniform_real_distribution<float> dist(-1.0f, 1.0f);
    for (const Shape &s : opt.shapes) {
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
            std::printf("%-4s %-18s %-7d", op, dims, threads);
            const std::vector<double> gflops = time_sgemm(libs, s, threads, a, b, c);
            for (double g : gflops) std::printf(" %26.1f (%5.1f%%)", g, 100.0 * g / (peak * threads));
            if (ti == 0) ours_first = gflops[0];
            if (libs.size() > 1) std::printf("  %16.2f", gflops[0] / *std::max_element(gflops.begin() + 1, gflops.end()));
            if (opt.threads.size() > 1) std::printf("  %13.2f", gflops[0] / ours_first);
            std::printf("\n");
            std::fflush(stdout);
        }
    }
    return 0;
}
