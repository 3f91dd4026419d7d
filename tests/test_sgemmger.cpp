// The rank-1 path of SGEMM (inner dimension 1), the threaded vector copy and
// the one-row and one-column routes of SGEMM: the thread decisions at the
// edges of their rules, the column blocks a team hands to the rank-1 kernel
// (watched through a wrapper around the kernel dispatcher), the gather of a
// strided A vector into an aligned buffer (watched through a wrapper around
// the pool), and the products against the double-precision reference, on
// the baseline set and on the avx2 set with forced thread counts (child
// processes).
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <mutex>
#include <sstream>
#include <string>
#include <vector>

#include "blas/gemm/sgemm_driver.h"
#include "blas/gemv/scopy_driver.h"
#include "blas/gemv/sgemmger_driver.h"
#include "orb_memory.h"
#include "orb_service.h"
#include "orb_threads.h"
#include "support/child_process.h"
#include "support/allocation_probe.h"
#include "support/reference_gemm.h"

// One call of the rank-1 kernel dispatcher as the wrapper saw it.
struct KernelCall {
    int64_t n;       // columns of the block
    const float *y;  // its first y element
    float *c;        // its first column
};

static std::mutex g_record_lock;
static std::vector<KernelCall> g_kernel_calls;

extern "C" void __real_orb_blas_xsgemmger(const char *, const char *, const int64_t *, const int64_t *,
                                          const float *, const float *, const int64_t *, const float *,
                                          const int64_t *, const float *, float *, const int64_t *);
extern "C" void __wrap_orb_blas_xsgemmger(const char *ta, const char *tb, const int64_t *m, const int64_t *n,
                                          const float *alpha, const float *x, const int64_t *incx, const float *y,
                                          const int64_t *incy, const float *beta, float *c, const int64_t *ldc) {
    {
        std::lock_guard<std::mutex> hold(g_record_lock);
        g_kernel_calls.push_back({*n, y, c});
    }
    __real_orb_blas_xsgemmger(ta, tb, m, n, alpha, x, incx, y, incy, beta, c, ldc);
}


namespace {

const std::vector<std::string> kAvx2Settings = {"ORB_SIMULATE_CPU=ruzuv", "ORB_ENABLE_INSTRUCTIONS=AVX2"};

std::vector<std::string> with_team(std::vector<std::string> settings, int threads) {
    settings.push_back("TEST_TEAM_SIZE=" + std::to_string(threads));
    return settings;
}

void force_team_from_setting() {
    const char *value = std::getenv("TEST_TEAM_SIZE");
    orb_serv_set_dynamic(0);
    orb_serv_set_num_threads(value ? std::atoi(value) : 1);
}

void clear_records() {
    std::lock_guard<std::mutex> hold(g_record_lock);
    g_kernel_calls.clear();
    allocation_probe().reset();
}

std::vector<float> filled(size_t count, uint32_t seed) {
    std::vector<float> v(count);
    uint32_t state = seed * 2246822519u + 7u;
    for (float &x : v) {
        state = state * 1664525u + 1013904223u;
        x = static_cast<float>(static_cast<int32_t>(state >> 9) % 1000) / 500.0f;
    }
    return v;
}

bool same_bits(float a, float b) { return std::memcmp(&a, &b, sizeof a) == 0; }

// One SGEMM call with its own data.
struct Product {
    char transa, transb;
    int64_t m, n, k, lda, ldb, ldc;
    float alpha = 1.5f, beta = -0.75f;
    std::vector<float> a, b, c;

    Product(char ta, char tb, int64_t m_, int64_t n_, int64_t k_, uint32_t seed)
        : transa(ta), transb(tb), m(m_), n(n_), k(k_) {
        const int64_t rows_a = ref_is_trans(ta) ? k : m, cols_a = ref_is_trans(ta) ? m : k;
        const int64_t rows_b = ref_is_trans(tb) ? n : k, cols_b = ref_is_trans(tb) ? k : n;
        lda = rows_a + 3;
        ldb = rows_b + 2;
        ldc = m + 1;
        a = filled(static_cast<size_t>(lda * cols_a), seed);
        b = filled(static_cast<size_t>(ldb * cols_b), seed + 1);
        c = filled(static_cast<size_t>(ldc * n), seed + 2);
    }

    void run() {
        const char ta[] = {transa, '\0'}, tb[] = {transb, '\0'};
        orb_blas_sgemm(ta, tb, &m, &n, &k, &alpha, a.data(), &lda, b.data(), &ldb, &beta, c.data(), &ldc, 1, 1);
    }

    std::string describe() const {
        std::ostringstream out;
        out << transa << transb << " m=" << m << " n=" << n << " k=" << k << " alpha=" << alpha << " beta=" << beta;
        return out.str();
    }

    // Runs the product; empty when C is within the bound of the reference.
    std::string run_against_reference() {
        RefGemm g;
        g.transa = transa, g.transb = transb, g.m = m, g.n = n, g.k = k, g.alpha = alpha, g.beta = beta;
        g.a = a.data(), g.lda = lda, g.b = b.data(), g.ldb = ldb;
        std::vector<double> magnitude, exact = reference_sgemm(g, c.data(), ldc, &magnitude);
        run();
        for (int64_t j = 0; j < n; ++j)
            for (int64_t i = 0; i < m; ++i) {
                const size_t e = static_cast<size_t>(i + j * m);
                const double got = c[static_cast<size_t>(i + j * ldc)];
                if (!(std::fabs(got - exact[e]) <= gemm_error_bound(k, magnitude[e]))) {
                    std::ostringstream out;
                    out << describe() << ": C(" << i << "," << j << ") = " << got << ", expected " << exact[e]
                        << "\n";
                    return out.str();
                }
            }
        return "";
    }
};

// Collects the failures of a child entry; prints "ok" when there are none.
struct Report {
    std::string failures;
    void add(const std::string &failure) { failures += failure; }
    void expect(bool condition, const std::string &what) {
        if (!condition) failures += what + "\n";
    }
    int finish() {
        std::printf("%s", failures.empty() ? "ok\n" : failures.c_str());
        return 0;
    }
};

void expect_ok(const char *entry, const std::vector<std::string> &settings, const char *what) {
    ChildResult r = run_child(entry, settings);
    EXPECT_EQ(r.exit_code, 0) << entry << " " << what << "\n" << r.err;
    EXPECT_EQ(r.out, "ok\n") << entry << " " << what;
}

// ---------------------------------------------------------------------------
// Rank-1 path through SGEMM
// ---------------------------------------------------------------------------

// The blocks a team of eight gives the kernel, by the width of C.
ORB_CHILD_ENTRY(rank_one_blocks) {
    force_team_from_setting();
    Report report;
    struct Case {
        int64_t n;
        int blocks;
        int64_t width;
    };
    for (const Case &expected : {Case{1000, 8, 125}, Case{127, 1, 127}, Case{128, 4, 32}, Case{300, 8, 38}}) {
        Product p('N', 'N', 40, expected.n, 1, static_cast<uint32_t>(expected.n));
        clear_records();
        report.add(p.run_against_reference());
        std::vector<KernelCall> calls = g_kernel_calls;
        std::sort(calls.begin(), calls.end(), [](const KernelCall &l, const KernelCall &r) { return l.c < r.c; });
        std::ostringstream what;
        what << "n=" << expected.n << ": " << calls.size() << " kernel calls";
        report.expect(static_cast<int>(calls.size()) == expected.blocks, what.str());
        int64_t covered = 0;
        for (size_t i = 0; i < calls.size(); ++i) {
            const int64_t first = static_cast<int64_t>(i) * expected.width;
            const int64_t width = std::min(expected.width, expected.n - first);
            report.expect(calls[i].n == width, what.str() + ", block " + std::to_string(i) + " width");
            report.expect(calls[i].c == p.c.data() + first * p.ldc, what.str() + ", block column");
            report.expect(calls[i].y == p.b.data() + first * p.ldb, what.str() + ", block y (stride ldb)");
            covered += calls[i].n;
        }
        report.expect(covered == expected.n, what.str() + ", columns covered");
    }
    return report.finish();
}

TEST(RankOneThreads, TeamOfEightCutsColumnBlocks) {
    expect_ok("rank_one_blocks", with_team(kAvx2Settings, 8), "avx2, 8 threads");
}

// Under the SSE2 branch the update stays in one kernel call.
ORB_CHILD_ENTRY(rank_one_single_call) {
    force_team_from_setting();
    Report report;
    Product p('N', 'T', 40, 1000, 1, 3);
    clear_records();
    report.add(p.run_against_reference());
    report.expect(g_kernel_calls.size() == 1 && g_kernel_calls[0].n == 1000, "one call of 1000 columns");
    return report.finish();
}

TEST(RankOneThreads, LowBranchAndBaselineNeverFork) {
    std::vector<std::string> sse2 = kAvx2Settings;
    sse2.push_back("ORB_CBWR=SSE2");
    expect_ok("rank_one_single_call", with_team(sse2, 8), "branch SSE2");
    expect_ok("rank_one_single_call", with_team({}, 8), "baseline set");
}

// k = 1 products: the strided A vector of 65 or more rows is gathered into a
// 128-byte aligned buffer of 4*m bytes; the special values of alpha and beta.
ORB_CHILD_ENTRY(rank_one_products) {
    force_team_from_setting();
    Report report;
    uint32_t seed = 20;
    for (int64_t m : {int64_t{64}, int64_t{65}, int64_t{300}})
        for (char ta : {'T', 'N', 'c'})
            for (char tb : {'N', 'T'})
                for (int64_t n : {int64_t{9}, int64_t{1000}}) {
                    Product p(ta, tb, m, n, 1, seed++);
                    clear_records();
                    report.add(p.run_against_reference());
                    bool gathered = false;
                    for (const AllocationRequest &r : allocation_probe().requests())
                        gathered |= r.size == static_cast<size_t>(4 * m) && r.alignment == 128;
                    const bool expected = ta != 'N' && m >= 65;
                    report.expect(gathered == expected, p.describe() + ": gather buffer " +
                                                            (expected ? "not requested" : "requested"));
                }
    // Without the buffer the strided vector is used as it is.
    allocation_probe().refuse(true);
    for (char tb : {'N', 'T'}) {
        Product p('T', tb, 300, 1000, 1, seed++);
        report.add(p.run_against_reference());
    }
    allocation_probe().refuse(false);
    // alpha 0, beta 1: C untouched, NaN included.
    {
        Product p('T', 'N', 65, 1000, 1, seed++);
        p.alpha = 0.0f, p.beta = 1.0f;
        p.c[7] = std::nanf("");
        std::vector<float> before = p.c;
        p.run();
        bool untouched = true;
        for (size_t i = 0; i < before.size(); ++i) untouched &= same_bits(before[i], p.c[i]);
        report.expect(untouched, "alpha 0, beta 1 changed C");
    }
    // alpha 0, beta 0: C cleared, NaN included (the padding row stays).
    {
        Product p('N', 'N', 70, 1000, 1, seed++);
        p.alpha = 0.0f, p.beta = 0.0f;
        std::fill(p.c.begin(), p.c.end(), std::nanf(""));
        p.run();
        bool cleared = true;
        for (int64_t j = 0; j < p.n; ++j)
            for (int64_t i = 0; i < p.m; ++i) cleared &= p.c[static_cast<size_t>(i + j * p.ldc)] == 0.0f;
        report.expect(cleared, "alpha 0, beta 0 left C uncleared");
        report.expect(std::isnan(p.c[static_cast<size_t>(p.m)]), "alpha 0, beta 0 wrote past the rows of C");
    }
    return report.finish();
}

TEST(RankOnePath, ProductsGatherAndSpecialValues) {
    expect_ok("rank_one_products", with_team(kAvx2Settings, 8), "avx2, 8 threads");
    expect_ok("rank_one_products", with_team(kAvx2Settings, 3), "avx2, 3 threads");
    expect_ok("rank_one_products", with_team({}, 8), "baseline set");
}

// ---------------------------------------------------------------------------
// One row and one column of C through the matrix-vector driver
// ---------------------------------------------------------------------------

ORB_CHILD_ENTRY(one_row_one_column) {
    force_team_from_setting();
    Report report;
    struct Shape {
        int64_t m, n, k;
    };
    uint32_t seed = 300;
    for (const Shape &s : {Shape{1, 3000, 300}, Shape{1, 37, 5}, Shape{3000, 1, 300}, Shape{37, 1, 5},
                           Shape{30000, 1, 100}, Shape{1, 1, 50}})
        for (char ta : {'N', 'T'})
            for (char tb : {'N', 'C'})
                for (float beta : {0.0f, 1.0f, -0.75f}) {
                    Product p(ta, tb, s.m, s.n, s.k, seed++);
                    p.beta = beta;
                    report.add(p.run_against_reference());
                }
    return report.finish();
}

TEST(SgemmDegenerateShapes, OneRowAndOneColumnForEveryTransposition) {
    expect_ok("one_row_one_column", with_team(kAvx2Settings, 4), "avx2, 4 threads");
    expect_ok("one_row_one_column", with_team({}, 4), "baseline set");
}

// ---------------------------------------------------------------------------
// Vector copy
// ---------------------------------------------------------------------------

ORB_CHILD_ENTRY(threaded_copy) {
    force_team_from_setting();
    Report report;
    for (int64_t n : {int64_t{10000}, int64_t{8191}, int64_t{70001}})
        for (int64_t incx : {int64_t{1}, int64_t{-2}, int64_t{0}})
            for (int64_t incy : {int64_t{1}, int64_t{3}, int64_t{-1}}) {
                std::vector<float> x = filled(static_cast<size_t>(1 + (n - 1) * std::llabs(incx)), 5);
                std::vector<float> y(static_cast<size_t>(1 + (n - 1) * std::llabs(incy)), -7.0f);
                orb_blas_scopy(&n, x.data(), &incx, y.data(), &incy);
                bool right = true;
                for (int64_t i = 0; i < n; ++i) {
                    const float from = x[static_cast<size_t>(incx >= 0 ? i * incx : (n - 1 - i) * -incx)];
                    right &= same_bits(y[static_cast<size_t>(incy >= 0 ? i * incy : (n - 1 - i) * -incy)], from);
                }
                for (size_t i = 0; i < y.size(); ++i)
                    if (i % static_cast<size_t>(std::llabs(incy)) != 0) right &= y[i] == -7.0f;
                report.expect(right, "copy of " + std::to_string(n) + " incx=" + std::to_string(incx) +
                                         " incy=" + std::to_string(incy));
            }
    return report.finish();
}

TEST(VectorCopy, ThreadedChunksCopyEveryElement) {
    expect_ok("threaded_copy", with_team(kAvx2Settings, 8), "avx2, 8 threads");
    expect_ok("threaded_copy", with_team({}, 3), "baseline set");
}

TEST(VectorCopy, ThreadCountIsOnePer4096Elements) {
    EXPECT_EQ(scopy_thread_count(10000, 1, 8), 3);
    EXPECT_EQ(scopy_thread_count(8192, 1, 8), 2);
    EXPECT_EQ(scopy_thread_count(8191, 1, 8), 1);
    EXPECT_EQ(scopy_thread_count(100000, -2, 8), 8) << "25 chunks, at most the limit";
    EXPECT_EQ(scopy_thread_count(100000, 0, 8), 1) << "y with increment 0";
    EXPECT_EQ(scopy_thread_count(100000, 1, 1), 1);
}

TEST(VectorCopy, ChunksFirstMembersOneLonger) {
    // 10000 over 3: 3334, 3333, 3333.
    const ScopyChunk c0 = scopy_chunk(10000, 3, 0), c1 = scopy_chunk(10000, 3, 1), c2 = scopy_chunk(10000, 3, 2);
    EXPECT_EQ(c0.start, 0);
    EXPECT_EQ(c0.count, 3334);
    EXPECT_EQ(c1.start, 3334);
    EXPECT_EQ(c1.count, 3333);
    EXPECT_EQ(c2.start, 6667);
    EXPECT_EQ(c2.count, 3333);
    // 2 elements over 3: one each, the third member gets nothing.
    EXPECT_EQ(scopy_chunk(2, 3, 1).start, 1);
    EXPECT_EQ(scopy_chunk(2, 3, 1).count, 1);
    EXPECT_EQ(scopy_chunk(2, 3, 2).count, 0);
}

// ---------------------------------------------------------------------------
// The rank-1 thread decision
// ---------------------------------------------------------------------------

TEST(RankOneThreadDecision, ThresholdsAndBranches) {
    struct Case {
        int64_t n;
        int cpu_type, ruzuv, branch, ceiling, threads;
        int expected;
        const char *what;
    };
    const Case cases[] = {
        {127, 5, 1, ORB_CBWR_OFF, 0, 8, 1, "fewer than 128 columns"},
        {128, 5, 1, ORB_CBWR_OFF, 0, 8, 4, "128 columns: 128 / 32"},
        {1000, 5, 1, ORB_CBWR_OFF, 0, 8, 8, "1000 > 32 * 8"},
        {256, 5, 1, ORB_CBWR_OFF, 0, 8, 8, "256 = 32 * 8: 256 / 32"},
        {255, 5, 1, ORB_CBWR_OFF, 0, 8, 7, "255 / 32"},
        {1000, 5, 0, ORB_CBWR_OFF, 0, 8, 1, "not a Ruzuv processor"},
        {1000, 1, 1, ORB_CBWR_OFF, 0, 8, 1, "cpu type 1"},
        {1000, 2, 1, ORB_CBWR_OFF, 0, 8, 8, "cpu type 2"},
        {1000, 5, 1, ORB_CBWR_OFF, 0, 1, 1, "one thread allowed"},
        {1000, 5, 1, ORB_CBWR_COMPATIBLE, 0, 8, 1, "COMPATIBLE"},
        {1000, 5, 1, ORB_CBWR_SSE2, 0, 8, 1, "SSE2"},
        {1000, 5, 1, 5, 0, 8, 1, "branch 5"},
        {1000, 5, 1, ORB_CBWR_SSE4_1, 0, 8, 1, "SSE4_1"},
        {1000, 5, 1, ORB_CBWR_SSE4_2, 0, 8, 8, "SSE4_2"},
        {1000, 5, 1, ORB_CBWR_AVX2, 0, 8, 8, "AVX2"},
        {1000, 5, 1, ORB_CBWR_AUTO, ORB_CBWR_SSE2, 8, 1, "AUTO with ceiling SSE2"},
        {1000, 5, 1, ORB_CBWR_AUTO, ORB_CBWR_SSE4_1, 8, 1, "AUTO with ceiling SSE4_1"},
        {1000, 5, 1, ORB_CBWR_AUTO, ORB_CBWR_SSE4_2, 8, 8, "AUTO with ceiling SSE4_2"},
        {1000, 5, 1, ORB_CBWR_AUTO, ORB_CBWR_AVX2, 8, 8, "AUTO with ceiling AVX2"},
    };
    for (const Case &c : cases) {
        SgemmgerThreadQuery q{c.n, c.cpu_type, c.ruzuv, c.branch, c.ceiling, c.threads};
        EXPECT_EQ(sgemmger_thread_count(q), c.expected) << c.what;
    }
}

}  // namespace
