// host_demo - the main job: libvorte_blas as the inference runtime sees it.
//
// Loads the library with dlopen, obtains the backend object through
// createBlasInstance and runs a fixed set of row-major SGEMM and SGEMV
// shapes through it, the way a runtime's linear layers and attention
// products would.  Every result is checked against a double-precision
// product on a sample of its elements, and the speed of each shape is
// printed.  Nothing but the public module header is used.
//
//   host_demo LIBVORTE_BLAS
#include <dlfcn.h>

#include <algorithm>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <random>
#include <vector>

#include "vorte/blas_module.h"

namespace {

using vorte::blas::BlasModule;

double seconds() {
    return std::chrono::duration<double>(std::chrono::steady_clock::now().time_since_epoch()).count();
}

// One product of the demo, row-major as the host sees it.
struct GemmShape {
    const char *what;  // the layer it stands for
    bool trans_a, trans_b;
    uint32_t m, n, k;
};

struct GemvShape {
    const char *what;
    bool trans;
    uint32_t m, n;  // A is m x n
};

std::vector<float> random_values(size_t count, std::mt19937 &rng) {
    std::uniform_real_distribution<float> dist(-1.0f, 1.0f);
    std::vector<float> v(count);
    for (float &x : v) x = dist(rng);
    return v;
}

// Largest difference over a sample of C, relative to the sum of magnitudes.
double sgemm_sample_error(const GemmShape &s, const std::vector<float> &a, const std::vector<float> &b,
                          const std::vector<float> &c, std::mt19937 &rng) {
    uint32_t lda = s.trans_a ? s.m : s.k, ldb = s.trans_b ? s.k : s.n;
    double worst = 0;
    for (int sample = 0; sample < 64; ++sample) {
        uint32_t i = rng() % s.m, j = rng() % s.n;
        double sum = 0, magnitude = 0;
        for (uint32_t l = 0; l < s.k; ++l) {
            double av = s.trans_a ? a[size_t(l) * lda + i] : a[size_t(i) * lda + l];
            double bv = s.trans_b ? b[size_t(j) * ldb + l] : b[size_t(l) * ldb + j];
            sum += av * bv;
            magnitude += std::fabs(av * bv);
        }
        worst = std::max(worst, std::fabs(c[size_t(i) * s.n + j] - sum) / (magnitude + 1e-30));
    }
    return worst;
}

double sgemv_sample_error(const GemvShape &s, const std::vector<float> &a, const std::vector<float> &x,
                          const std::vector<float> &y, std::mt19937 &rng) {
    uint32_t len_y = s.trans ? s.n : s.m, len_x = s.trans ? s.m : s.n;
    double worst = 0;
    for (int sample = 0; sample < 64; ++sample) {
        uint32_t i = rng() % len_y;
        double sum = 0, magnitude = 0;
        for (uint32_t l = 0; l < len_x; ++l) {
            double av = s.trans ? a[size_t(l) * s.n + i] : a[size_t(i) * s.n + l];
            sum += av * x[l];
            magnitude += std::fabs(av * x[l]);
        }
        worst = std::max(worst, std::fabs(y[i] - sum) / (magnitude + 1e-30));
    }
    return worst;
}

template <typename Run>
double best_seconds(Run run) {
    run();
    double best = 1e30, total = 0;
    for (int rep = 0; rep < 50 && (rep < 3 || total < 0.2); ++rep) {
        double t0 = seconds();
        run();
        double t = seconds() - t0;
        total += t;
        best = std::min(best, t);
    }
    return best;
}

}  // namespace

int main(int argc, char **argv) {
    if (argc < 2) {
        std::fprintf(stderr, "usage: %s LIBVORTE_BLAS\n", argv[0]);
        return 2;
    }
    void *library = dlopen(argv[1], RTLD_NOW | RTLD_LOCAL);
    if (!library) {
        std::fprintf(stderr, "cannot load %s: %s\n", argv[1], dlerror());
        return 1;
    }
    auto create = reinterpret_cast<void *(*)()>(dlsym(library, "createBlasInstance"));
    auto destroy = reinterpret_cast<void (*)(void *)>(dlsym(library, "destroyBlasInstance"));
    if (!create || !destroy) {
        std::fprintf(stderr, "%s is not a BLAS backend module\n", argv[1]);
        return 1;
    }
    BlasModule *blas = static_cast<BlasModule *>(create());
    std::printf("backend provider: %s, BLAS enabled: %s, half precision: %s\n\n",
                blas->getBlasProvider().lock()->c_str(), blas->isBlasEnabled() ? "yes" : "no",
                blas->isHalfSupported() ? "yes" : "no");

    const GemmShape gemms[] = {
        {"projection, batch 256", false, false, 256, 1024, 512},
        {"projection, weights transposed", false, true, 512, 2048, 1024},
        {"attention scores Q K'", false, true, 128, 128, 64},
        {"attention output", false, false, 128, 64, 128},
        {"large square", false, false, 2048, 2048, 2048},
    };
    const GemvShape gemvs[] = {
        {"decode step, one token", false, 4096, 4096},
        {"decode step, transposed weights", true, 4096, 4096},
        {"small head", false, 256, 1024},
    };

    std::mt19937 rng(2026);
    bool all_good = true;
    std::printf("%-34s %-22s %10s %12s\n", "SGEMM (row-major)", "M x N x K", "GFLOPS", "rel. error");
    for (const GemmShape &s : gemms) {
        std::vector<float> a = random_values(size_t(s.m) * s.k, rng), b = random_values(size_t(s.k) * s.n, rng);
        std::vector<float> c(size_t(s.m) * s.n);
        uint32_t lda = s.trans_a ? s.m : s.k, ldb = s.trans_b ? s.k : s.n;
        double t = best_seconds([&] {
            blas->sgemm(s.trans_a, s.trans_b, s.m, s.n, s.k, 1.0f, a.data(), lda, b.data(), ldb, 0.0f, c.data(), s.n);
        });
        double error = sgemm_sample_error(s, a, b, c, rng);
        all_good = all_good && error < 1e-5;
        char dims[40];
        std::snprintf(dims, sizeof dims, "%u x %u x %u%s%s", s.m, s.n, s.k, s.trans_a ? " A'" : "",
                      s.trans_b ? " B'" : "");
        std::printf("%-34s %-22s %10.1f %12.2e\n", s.what, dims, 2.0 * s.m * s.n * s.k / t / 1e9, error);
    }
    std::printf("\n%-34s %-22s %10s %12s\n", "SGEMV (row-major)", "M x N", "GB/s of A", "rel. error");
    for (const GemvShape &s : gemvs) {
        std::vector<float> a = random_values(size_t(s.m) * s.n, rng);
        std::vector<float> x = random_values(std::max(s.m, s.n), rng), y(std::max(s.m, s.n));
        double t = best_seconds(
            [&] { blas->sgemv(s.trans, s.m, s.n, 1.0f, a.data(), s.n, x.data(), 1, 0.0f, y.data(), 1); });
        double error = sgemv_sample_error(s, a, x, y, rng);
        all_good = all_good && error < 1e-5;
        char dims[40];
        std::snprintf(dims, sizeof dims, "%u x %u%s", s.m, s.n, s.trans ? " A'" : "");
        std::printf("%-34s %-22s %10.1f %12.2e\n", s.what, dims, 4.0 * s.m * s.n / t / 1e9, error);
    }

    destroy(blas);
    std::printf("\n%s\n", all_good ? "all results agree with the double-precision products"
                                   : "SOME RESULTS DISAGREE with the double-precision products");
    return all_good ? 0 : 1;
}
