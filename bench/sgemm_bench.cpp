// sgemm_bench - single-thread SGEMM speed of libvorte_blas against a baseline.
//
// Both libraries are loaded with dlopen (each keeps its own symbols) and
// called through cblas_sgemm in column-major layout on the same operands.
// The 256-bit fused multiply-add peak of this core is measured first, with
// an FMA loop of independent accumulators, so that every figure can be read
// as a share of what the machine can do.  For every shape the best of
// several timed runs counts.
//
//   sgemm_bench LIBVORTE_BLAS [BASELINE_LIBRARY]
// Set the libraries' own environment (processor identity, thread counts,
// the baseline's core type) before starting; run_sgemm_bench.sh does.
#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <random>
#include <string>
#include <vector>

#include "bench_support.h"

namespace {

using bench::Library;
using bench::seconds;

// Flops per second of 256-bit FMAs: twelve independent accumulator chains,
// written in assembly so that nothing but the FMAs and the loop runs.  The
// best of many short trials counts, so that a trial disturbed by another
// process does not lower the figure.
double measure_fma_peak() {
    const long iterations = 4000000;
    double best = 0;
    for (int trial = 0; trial < 60; ++trial) {
        long count = iterations;
        double t0 = seconds();
        __asm__ volatile(
            "vxorps %%xmm0, %%xmm0, %%xmm0\n\t"
            "vmovaps %%ymm0, %%ymm1\n\t vmovaps %%ymm0, %%ymm2\n\t vmovaps %%ymm0, %%ymm3\n\t"
            "vmovaps %%ymm0, %%ymm4\n\t vmovaps %%ymm0, %%ymm5\n\t vmovaps %%ymm0, %%ymm6\n\t"
            "vmovaps %%ymm0, %%ymm7\n\t vmovaps %%ymm0, %%ymm8\n\t vmovaps %%ymm0, %%ymm9\n\t"
            "vmovaps %%ymm0, %%ymm10\n\t vmovaps %%ymm0, %%ymm11\n\t"
            "vmovaps %%ymm0, %%ymm14\n\t vmovaps %%ymm0, %%ymm15\n\t"
            "1:\n\t"
            "vfmadd231ps %%ymm14, %%ymm15, %%ymm0\n\t vfmadd231ps %%ymm14, %%ymm15, %%ymm1\n\t"
            "vfmadd231ps %%ymm14, %%ymm15, %%ymm2\n\t vfmadd231ps %%ymm14, %%ymm15, %%ymm3\n\t"
            "vfmadd231ps %%ymm14, %%ymm15, %%ymm4\n\t vfmadd231ps %%ymm14, %%ymm15, %%ymm5\n\t"
            "vfmadd231ps %%ymm14, %%ymm15, %%ymm6\n\t vfmadd231ps %%ymm14, %%ymm15, %%ymm7\n\t"
            "vfmadd231ps %%ymm14, %%ymm15, %%ymm8\n\t vfmadd231ps %%ymm14, %%ymm15, %%ymm9\n\t"
            "vfmadd231ps %%ymm14, %%ymm15, %%ymm10\n\t vfmadd231ps %%ymm14, %%ymm15, %%ymm11\n\t"
            "dec %0\n\t jnz 1b\n\t vzeroupper"
            : "+r"(count)
            :
            : "xmm0", "xmm1", "xmm2", "xmm3", "xmm4", "xmm5", "xmm6", "xmm7", "xmm8", "xmm9", "xmm10", "xmm11",
              "xmm14", "xmm15", "cc");
        double t = seconds() - t0;
        best = std::max(best, iterations * 12.0 * 16.0 / t);
    }
    return best;
}

struct Shape {
    char ta, tb;      // 'N' or 'T'
    int m, n, k;
};

// Best GFLOPS of lib on shape.
double time_sgemm(const Library &lib, const Shape &s, const std::vector<float> &a, const std::vector<float> &b,
                  std::vector<float> &c) {
    int lda = s.ta == 'N' ? s.m : s.k, ldb = s.tb == 'N' ? s.k : s.n;
    int ta = s.ta == 'N' ? bench::kNoTrans : bench::kTrans, tb = s.tb == 'N' ? bench::kNoTrans : bench::kTrans;
    double t = bench::best_time([&] {
        lib.sgemm(bench::kColMajor, ta, tb, s.m, s.n, s.k, 1.0f, a.data(), lda, b.data(), ldb, 0.5f, c.data(), s.m);
    });
    return 2.0 * s.m * s.n * s.k / t / 1e9;
}

}  // namespace

int main(int argc, char **argv) {
    if (argc < 2) {
        std::fprintf(stderr, "usage: %s LIBVORTE_BLAS [BASELINE_LIBRARY]\n", argv[0]);
        return 2;
    }
    std::vector<Library> libs(1);
    if (!bench::load_library(argv[1], "libvorte_blas", libs[0])) return 1;
    if (argc > 2) {
        Library base;
        if (bench::load_library(argv[2], "baseline", base)) libs.push_back(base);
    }

    double peak = measure_fma_peak() / 1e9;
    std::printf("256-bit FMA peak of one core: %.1f GFLOPS\n\n", peak);

    std::vector<Shape> shapes = {{'N', 'N', 2048, 2048, 2048}};
    for (int size : {64, 128, 256, 512})
        for (char ta : {'N', 'T'})
            for (char tb : {'N', 'T'}) shapes.push_back({ta, tb, size, size, size});

    std::printf("%-6s %-16s", "op", "m x n x k");
    for (const Library &lib : libs) std::printf(" %28s", (lib.label + " GFLOPS (%peak)").c_str());
    if (libs.size() > 1) std::printf("  ours/baseline");
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
        std::printf("%-6s %-16s", op, dims);
        std::vector<double> gflops;
        for (const Library &lib : libs) {
            gflops.push_back(time_sgemm(lib, s, a, b, c));
            std::printf(" %20.1f (%5.1f%%)", gflops.back(), 100.0 * gflops.back() / peak);
        }
        if (libs.size() > 1) std::printf("  %13.2f", gflops[0] / gflops[1]);
        std::printf("\n");
        std::fflush(stdout);
    }
    return 0;
}
