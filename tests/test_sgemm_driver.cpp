// The SGEMM driver's routes: each one, reached by its shape or setting,
// computes the product (compared with the double-precision reference), an
// empty C is never touched, and the small-n path accepts exactly the calls
// its rule describes.  Runs on the AVX2 kernel set; the strict reproducible
// mode and the stripe count are read once per process, so those routes run
// in child processes.
#include <gtest/gtest.h>

#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#include "blas/gemm/sgemm_driver.h"
#include "blas/kernels/avx2/avx2_kernels.h"
#include "blas/kernels/cnr_def/cnr_def_kernels.h"
#include "blas/kernels/def/def_kernels.h"
#include "blas/kernels/mc3/mc3_kernels.h"
#include "support/child_process.h"
#include "support/reference_gemm.h"

namespace {

const std::vector<std::string> kAvx2Settings = {"ORB_SIMULATE_CPU=ruzuv", "ORB_ENABLE_INSTRUCTIONS=AVX2"};

constexpr float kSentinel = 31.5f;

std::vector<float> filled(size_t count, uint32_t seed) {
    std::vector<float> v(count);
    uint32_t state = seed * 2246822519u + 7u;
    for (float &x : v) {
        state = state * 1664525u + 1013904223u;
        x = static_cast<float>(static_cast<int32_t>(state >> 9) % 1000) / 500.0f;
    }
    return v;
}

// One column-major product with chosen leading dimensions.
struct Call {
    char transa, transb;
    int64_t m, n, k;
    int64_t lda, ldb, ldc;
    float alpha = 1.25f, beta = -0.5f;
    std::vector<float> a, b, c;

    Call(char ta, char tb, int64_t m_, int64_t n_, int64_t k_, uint32_t seed, int64_t lda_ = 0, int64_t ldb_ = 0,
         int64_t ldc_ = 0)
        : transa(ta), transb(tb), m(m_), n(n_), k(k_) {
        int64_t rows_a = ref_is_trans(ta) ? k : m, cols_a = ref_is_trans(ta) ? m : k;
        int64_t rows_b = ref_is_trans(tb) ? n : k, cols_b = ref_is_trans(tb) ? k : n;
        lda = lda_ > 0 ? lda_ : std::max<int64_t>(1, rows_a + 1);
        ldb = ldb_ > 0 ? ldb_ : std::max<int64_t>(1, rows_b + 2);
        ldc = ldc_ > 0 ? ldc_ : std::max<int64_t>(1, m + 1);
        a = filled(static_cast<size_t>(lda * std::max<int64_t>(1, cols_a)), seed);
        b = filled(static_cast<size_t>(ldb * std::max<int64_t>(1, cols_b)), seed + 1);
        c = filled(static_cast<size_t>(ldc * std::max<int64_t>(1, n)), seed + 2);
    }

    void run() {
        const char ta[] = {transa, '\0'}, tb[] = {transb, '\0'};
        orb_blas_sgemm(ta, tb, &m, &n, &k, &alpha, a.data(), &lda, b.data(), &ldb, &beta, c.data(), &ldc, 1, 1);
    }

    int small_n(uint32_t cpu_type) {
        const char ta[] = {transa, '\0'}, tb[] = {transb, '\0'};
        return use_smalln_kernels(ta, tb, &m, &n, &k, &alpha, a.data(), &lda, b.data(), &ldb, &beta, c.data(), &ldc,
                                  cpu_type);
    }

    // Runs `compute` and compares C with the reference of the input.
    template <typename Compute>
    ::testing::AssertionResult computes_product(Compute compute) {
        RefGemm g;
        g.transa = transa, g.transb = transb, g.m = m, g.n = n, g.k = k, g.alpha = alpha, g.beta = beta;
        g.a = a.data(), g.lda = lda, g.b = b.data(), g.ldb = ldb;
        std::vector<double> magnitude, exact = reference_sgemm(g, c.data(), ldc, &magnitude);
        compute();
        for (int64_t j = 0; j < n; ++j)
            for (int64_t i = 0; i < m; ++i) {
                size_t e = static_cast<size_t>(i + j * m);
                double got = c[static_cast<size_t>(i + j * ldc)];
                if (!(std::fabs(got - exact[e]) <= gemm_error_bound(k, magnitude[e])))
                    return ::testing::AssertionFailure() << transa << transb << " m=" << m << " n=" << n << " k=" << k
                                                         << ": C(" << i << "," << j << ") = " << got << ", expected "
                                                         << exact[e];
            }
        return ::testing::AssertionSuccess();
    }
    ::testing::AssertionResult computes_product() {
        return computes_product([this] { run(); });
    }
};

bool all_sentinel(const std::vector<float> &c) {
    for (float x : c)
        if (x != kSentinel) return false;
    return true;
}

const char kLetters[] = {'N', 'T', 'C', 'n', 't', 'c'};

TEST(SgemmDriver, EmptyCReturnsWithoutTouchingAnything) {
    for (int64_t m : {int64_t{0}, int64_t{-3}, int64_t{4}})
        for (int64_t n : {int64_t{0}, int64_t{-1}}) {
            Call call('N', 'N', 4, 4, 4, 5);
            call.m = m, call.n = n;
            call.c.assign(call.c.size(), kSentinel);
            call.beta = 0.0f;
            call.run();
            EXPECT_TRUE(all_sentinel(call.c)) << "m=" << m << " n=" << n;
            std::swap(call.m, call.n);
            call.run();
            EXPECT_TRUE(all_sentinel(call.c)) << "m=" << n << " n=" << m;
        }
}

TEST(SgemmDriver, OneRowOneColumnAndRankOneShapes) {
    struct Shape {
        int64_t m, n, k;
    };
    const Shape shapes[] = {{1, 23, 9}, {1, 1, 40}, {23, 1, 9}, {23, 17, 1}, {64, 9, 1}, {65, 9, 1}, {200, 3, 1}};
    uint32_t seed = 10;
    for (const Shape &s : shapes)
        for (char ta : kLetters)
            for (char tb : kLetters) {
                Call call(ta, tb, s.m, s.n, s.k, seed++);
                EXPECT_TRUE(call.computes_product());
            }
}

TEST(SgemmDriver, InnerDimensionZeroTakesTheGeneralRoute) {
    for (int64_t m : {int64_t{1}, int64_t{9}})
        for (int64_t n : {int64_t{1}, int64_t{6}}) {
            Call call('T', 'N', m, n, 0, 70);
            EXPECT_TRUE(call.computes_product());
        }
}

TEST(SgemmDriver, GeneralShapes) {
    uint32_t seed = 90;
    for (char ta : {'N', 'T'})
        for (char tb : {'N', 'C'}) {
            Call call(ta, tb, 47, 38, 29, seed++);
            EXPECT_TRUE(call.computes_product());
        }
}

// --- k = 0: C := beta*C and nothing else ---------------------------------------
//
// Without a product term C takes beta as plain multiplication gives it:
// beta 1 leaves every bit (a signalling NaN stays signalling, -0 stays -0),
// beta 0 clears, any other beta multiplies.  A and B are null, so reading
// them would crash; the rows below m (ldc padding) must keep their bits.

uint32_t bits_of(float x) {
    uint32_t u;
    std::memcpy(&u, &x, sizeof u);
    return u;
}

float float_of(uint32_t u) {
    float x;
    std::memcpy(&x, &u, sizeof x);
    return x;
}

// A column-major C of m rows (ld m + 2) cycling through special values.
std::vector<float> special_c(int64_t m, int64_t n) {
    const uint32_t specials[] = {0xffa5a5a5u, 0x7fc12345u, 0x80000000u, 0x7f800000u,
                                 0xff800000u, 0x3fc00000u, 0xc0400000u, 0x00000001u};
    std::vector<float> c(static_cast<size_t>((m + 2) * n));
    for (size_t e = 0; e < c.size(); ++e) c[e] = float_of(specials[(e * 7 + e / 5) % 8]);
    return c;
}

// The differences between C after a k = 0 product and beta*C, as text.
template <typename Product>
std::string k_zero_differences(int64_t m, int64_t n, float beta, Product product) {
    const int64_t ldc = m + 2;
    const std::vector<float> before = special_c(m, n);
    std::vector<float> c = before;
    product(m, n, beta, c.data(), ldc);
    volatile float factor = beta;  // multiplied at run time, as the library does
    std::string report;
    for (int64_t j = 0; j < n; ++j)
        for (int64_t i = 0; i < ldc; ++i) {
            const size_t e = static_cast<size_t>(i + j * ldc);
            const uint32_t want = i >= m || beta == 1.0f ? bits_of(before[e])
                                  : beta == 0.0f         ? 0u
                                                         : bits_of(before[e] * factor);
            if (bits_of(c[e]) != want && report.size() < 200) {
                char line[96];
                std::snprintf(line, sizeof line, " %lldx%lld beta %g C(%lld,%lld) %08x want %08x", (long long)m,
                              (long long)n, beta, (long long)i, (long long)j, bits_of(c[e]), want);
                report += line;
            }
        }
    return report;
}

const float kBetas[] = {1.0f, 0.0f, 2.0f, -1.0f};
const int64_t kZeroKShapes[][2] = {{3, 2}, {130, 120}};  // buffer-free size; blocked and team size

// Every shape and beta through the top-level driver, on the child's processor and thread settings.
ORB_CHILD_ENTRY(k_zero_through_the_driver) {
    std::string report;
    for (const auto &shape : kZeroKShapes)
        for (float beta : kBetas)
            for (const char *trans : {"NN", "TT"})
                report += k_zero_differences(shape[0], shape[1], beta, [&](int64_t m, int64_t n, float b, float *c,
                                                                            int64_t ldc) {
                    const int64_t k = 0, lda = trans[0] == 'N' ? m : 1, ldb = trans[1] == 'N' ? 1 : n;
                    const float alpha = 1.0f;
                    orb_blas_sgemm(trans, trans + 1, &m, &n, &k, &alpha, nullptr, &lda, nullptr, &ldb, &b, c, &ldc, 1,
                                   1);
                });
    std::printf("%s", report.empty() ? "ok" : report.c_str());
    return 0;
}

TEST(SgemmDriver, InnerDimensionZeroOnlyAppliesBetaOnEverySetAndRoute) {
    const std::string table = "ORB_SIMULATE_CPU=file:" + test_data_path("cpus/");
    const std::vector<std::vector<std::string>> processors = {
        {"ORB_SIMULATE_CPU=ruzuv", "RUZUV_ISA_DISABLE=avx,sse4"},  // def, its own blocked path
        {table + "amd_zen.cpuid"},                                  // def, Zen sub-model
        {table + "amd_bulldozer.cpuid"},                            // def, Bulldozer sub-model
        {table + "amd_barcelona.cpuid"},                            // def, Barcelona sub-model
        {table + "amd_zen.cpuid", "ORB_CBWR=AUTO"},                 // cnr_def, Zen sub-model
        {table + "amd_zen.cpuid", "ORB_CBWR=COMPATIBLE"},           // cnr_def, its own path
        {"ORB_SIMULATE_CPU=ruzuv", "ORB_ENABLE_INSTRUCTIONS=SSE4_2"},  // mc3
        kAvx2Settings,                                                 // avx2
    };
    for (const auto &processor : processors)
        for (const char *threads : {"ORB_NUM_THREADS=1", "ORB_NUM_THREADS=2"}) {
            std::vector<std::string> settings = processor;
            settings.insert(settings.end(), {threads, "ORB_DYNAMIC=FALSE"});
            ChildResult r = run_child("k_zero_through_the_driver", settings);
            EXPECT_EQ(r.exit_code, 0) << r.err;
            EXPECT_EQ(r.out, "ok") << processor.back() << " " << threads;
        }
}

// The buffer-free products of every set, called directly.
TEST(SgemmDriver, InnerDimensionZeroInTheBufferFreeProducts) {
    using Pst = void (*)(const char *, const char *, const int64_t *, const int64_t *, const int64_t *, const float *,
                         const float *, const int64_t *, const float *, const int64_t *, const float *, float *,
                         const int64_t *);
    const struct { const char *name; Pst product; } products[] = {
        {"def", orb_blas_def_sgemm_pst},         {"def brc", orb_blas_def_sgemm_pst_brc},
        {"cnr_def", orb_blas_cnr_def_sgemm_pst}, {"cnr_def brc", orb_blas_cnr_def_sgemm_pst_brc},
        {"mc3", orb_blas_mc3_sgemm_pst},         {"avx2", orb_blas_avx2_sgemm_pst},
    };
    for (const auto &p : products)
        for (float beta : kBetas)
            EXPECT_EQ(k_zero_differences(13, 5, beta,
                                         [&](int64_t m, int64_t n, float b, float *c, int64_t ldc) {
                                             const int64_t k = 0, one = 1;
                                             const float alpha = 2.0f;
                                             p.product("N", "T", &m, &n, &k, &alpha, nullptr, &m, nullptr, &one, &b, c,
                                                       &ldc);
                                         }),
                      "")
                << p.name;
}

// Runs every route-relevant shape and prints how many disagreed with the reference.
ORB_CHILD_ENTRY(sgemm_route_shapes) {
    struct Shape {
        int64_t m, n, k;
    };
    const Shape shapes[] = {{1, 13, 7}, {13, 1, 7}, {70, 9, 1}, {31, 29, 23}, {5, 8, 0}};
    int wrong = 0;
    uint32_t seed = 500;
    for (const Shape &s : shapes)
        for (char ta : {'N', 'T'})
            for (char tb : {'N', 'T'}) {
                Call call(ta, tb, s.m, s.n, s.k, seed++);
                if (!call.computes_product()) ++wrong;
            }
    std::printf("wrong=%d\n", wrong);
    return 0;
}

TEST(SgemmDriver, StrictReproducibleRouteComputesEveryShape) {
    std::vector<std::string> settings = kAvx2Settings;
    settings.push_back("ORB_CBWR=AVX2,STRICT");
    ChildResult r = run_child("sgemm_route_shapes", settings);
    EXPECT_EQ(r.exit_code, 0) << r.err;
    EXPECT_EQ(r.out, "wrong=0\n");
}

TEST(SgemmDriver, StripedRouteComputesEveryShape) {
    std::vector<std::string> settings = kAvx2Settings;
    settings.push_back("ORB_NUM_STRIPES=3");
    ChildResult r = run_child("sgemm_route_shapes", settings);
    EXPECT_EQ(r.exit_code, 0) << r.err;
    EXPECT_EQ(r.out, "wrong=0\n");
}

// The small-n rule: AVX-512 only, op(A) transposed, op(B) plain, n <= 15,
// and a leading dimension that is a multiple of 256 unless n is 2 or 3.
TEST(SmallN, AcceptsOnlyWhatTheRuleDescribes) {
    struct Case {
        uint32_t cpu_type;
        char ta, tb;
        int64_t n, lda, ldb, ldc;
        int accepted;
        const char *what;
    };
    const Case cases[] = {
        {7, 'T', 'N', 8, 1000, 1000, 1000, 0, "no leading dimension a multiple of 256"},
        {7, 'T', 'N', 8, 1000, 1000, 1024, 1, "ldc = 1024"},
        {7, 'T', 'N', 8, 1024, 1000, 1000, 1, "lda = 1024"},
        {7, 'T', 'N', 8, 1000, 512, 1000, 1, "ldb = 512"},
        {7, 'C', 'n', 8, 1000, 1000, 1280, 1, "C counts as not N, n as N"},
        {7, 'T', 'N', 2, 1000, 1000, 1000, 1, "n = 2"},
        {7, 'T', 'N', 3, 1000, 1000, 1000, 1, "n = 3"},
        {7, 'T', 'N', 4, 1000, 1000, 1000, 0, "n = 4 without an aligned leading dimension"},
        {7, 'T', 'N', 15, 1000, 1000, 1024, 1, "n = 15"},
        {7, 'T', 'N', 16, 1024, 1024, 1024, 0, "n = 16"},
        {7, 'N', 'N', 8, 1024, 1024, 1024, 0, "A plain"},
        {7, 'T', 'T', 8, 1024, 1024, 1024, 0, "B transposed"},
        {5, 'T', 'N', 8, 1024, 1024, 1024, 0, "AVX2 cpu type"},
        {0, 'T', 'N', 2, 1000, 1000, 1000, 0, "baseline cpu type"},
    };
    uint32_t seed = 700;
    for (const Case &c : cases) {
        SCOPED_TRACE(c.what);
        Call call(c.ta, c.tb, 37, c.n, 11, seed++, c.lda, c.ldb, c.ldc);
        if (c.accepted) {
            int result = -1;
            EXPECT_TRUE(call.computes_product([&] { result = call.small_n(c.cpu_type); }));
            EXPECT_EQ(result, 1);
        } else {
            std::vector<float> before = call.c;
            EXPECT_EQ(call.small_n(c.cpu_type), 0);
            EXPECT_EQ(call.c, before);
        }
    }
}

}  // namespace
