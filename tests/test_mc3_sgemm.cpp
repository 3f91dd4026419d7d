// test_mc3_sgemm.cpp - white-box contracts of the mc3 SGEMM members.
//
// Calls the orb_blas_mc3_* members directly and checks every product against
// the double-precision reference: the entry on each of its paths (fixed-k
// kernels, blocked, buffer-free) for all transposition pairs and alpha/beta
// cases, the blocked driver on each of the eight block kernels (kernel
// version, beta zero, C aligned) with row and column edges, blocks smaller
// than the product, and the fallback when the buffer cannot be allocated.
// The descriptor, the blocking rules and the packed layouts are checked
// against the numbers they are documented to produce.  One child process
// runs the dispatcher on a simulated SSE4.2 processor.
#include <gtest/gtest.h>

#include <cmath>
#include <cstdio>
#include <cstdint>
#include <cstring>
#include <functional>
#include <limits>
#include <random>
#include <string>
#include <vector>

#include "blas/kernels/dispatchers.h"
#include "blas/kernels/mc3/mc3_kernels.h"
#include "orb_service.h"
#include "support/allocation_probe.h"
#include "support/child_process.h"
#include "support/reference_gemm.h"

namespace {

const float kNaN = std::numeric_limits<float>::quiet_NaN();
const char kPairs[4][2] = {{'N', 'N'}, {'N', 'T'}, {'T', 'N'}, {'C', 'C'}};

struct Problem {
    char ta, tb;
    int64_t m, n, k;
    float alpha, beta;
    int64_t ldc_pad = 1;    // ldc = m + ldc_pad
    int64_t c_offset = 0;   // floats from a 16-byte boundary to C
};

std::string describe(const Problem &p) {
    return std::string(1, p.ta) + p.tb + " m=" + std::to_string(p.m) + " n=" + std::to_string(p.n) +
           " k=" + std::to_string(p.k) + " alpha=" + std::to_string(p.alpha) + " beta=" +
           std::to_string(p.beta) + " ldc=m+" + std::to_string(p.ldc_pad) + " offset=" + std::to_string(p.c_offset);
}

using Product = std::function<void(const Problem &, const float *a, const int64_t *lda, const float *b,
                                   const int64_t *ldb, float *c, const int64_t *ldc)>;

std::vector<float> random_floats(int64_t count, std::mt19937 &rng) {
    std::uniform_real_distribution<float> dist(-1.0f, 1.0f);
    std::vector<float> v(static_cast<size_t>(count));
    for (auto &x : v) x = dist(rng);
    return v;
}

// Runs one product and compares C (and the padding rows below it, which must
// stay as they were) with the reference.  C starts as NaN when beta is 0.
::testing::AssertionResult matches_reference(const Problem &p, const Product &run, unsigned seed = 1) {
    std::mt19937 rng(seed);
    const bool at = ref_is_trans(p.ta), bt = ref_is_trans(p.tb);
    const int64_t lda = (at ? p.k : p.m) + 2, ldb = (bt ? p.n : p.k) + 3, ldc = p.m + p.ldc_pad;
    std::vector<float> a = random_floats(lda * (at ? p.m : p.k), rng), b = random_floats(ldb * (bt ? p.k : p.n), rng);
    std::vector<float> storage(static_cast<size_t>(ldc * p.n + p.c_offset + 8), 777.0f);
    float *c = storage.data();
    while (reinterpret_cast<uintptr_t>(c) % 16) ++c;
    c += p.c_offset;
    std::vector<float> initial = random_floats(ldc * p.n, rng);
    for (int64_t j = 0; j < p.n; ++j)
        for (int64_t i = 0; i < p.m; ++i) c[i + j * ldc] = p.beta == 0.0f ? kNaN : initial[i + j * ldc];
    RefGemm g{p.ta, p.tb, p.m, p.n, p.k, p.alpha, p.beta, a.data(), lda, b.data(), ldb};
    std::vector<double> magnitude;
    std::vector<double> expected = reference_sgemm(g, c, ldc, &magnitude);
    run(p, a.data(), &lda, b.data(), &ldb, c, &ldc);
    for (int64_t j = 0; j < p.n; ++j)
        for (int64_t i = 0; i < ldc; ++i) {
            float got = c[i + j * ldc];
            if (i >= p.m) {
                if (got != 777.0f) return ::testing::AssertionFailure() << describe(p) << ": padding row " << i << " written";
                continue;
            }
            double want = expected[i + j * p.m];
            if (!(std::fabs(got - want) <= gemm_error_bound(p.k, magnitude[i + j * p.m])))
                return ::testing::AssertionFailure() << describe(p) << ": C(" << i << "," << j << ") = " << got
                                                     << ", expected " << want;
        }
    return ::testing::AssertionSuccess();
}

void entry(const Problem &p, const float *a, const int64_t *lda, const float *b, const int64_t *ldb, float *c,
           const int64_t *ldc) {
    orb_blas_mc3_xsgemm(&p.ta, &p.tb, &p.m, &p.n, &p.k, &p.alpha, a, lda, b, ldb, &p.beta, c, ldc);
}

SgemmLegacyDesc fresh_desc() {
    SgemmLegacyDesc d{};
    orb_blas_mc3_sgemm_zero_desc(&d);
    orb_blas_mc3_sgemm_get_optimal_kernel(&d);
    return d;
}

// xsgemm_par on a copy of desc with the given kernel version.
Product blocked(SgemmLegacyDesc desc, int version) {
    return [desc, version](const Problem &p, const float *a, const int64_t *lda, const float *b, const int64_t *ldb,
                           float *c, const int64_t *ldc) mutable {
        EXPECT_EQ(0, orb_blas_mc3_xsgemm_par(&p.ta, &p.tb, &p.m, &p.n, &p.k, &p.alpha, a, lda, b, ldb, &p.beta, c,
                                             ldc, &desc, version));
    };
}

TEST(Mc3Sgemm, DescriptorIsFilledFromTheSetTable) {
    const auto *words = reinterpret_cast<const uint64_t *>(&orb_mc3_s_all_gemm_ker);
    const uint64_t leading[8] = {4, 8, 4, 2, 4, 4, 4, 126};
    for (int i = 0; i < 8; ++i) EXPECT_EQ(leading[i], words[i]) << "word " << i;
    const void *functions[12] = {
        (void *)orb_blas_mc3_sgemm_get_blks_size, (void *)orb_blas_mc3_sgemm_get_bufs_size,
        (void *)orb_blas_mc3_sgemm_get_bufs,      (void *)orb_blas_mc3_sgemm_copyan,
        (void *)orb_blas_mc3_sgemm_copyat,        (void *)orb_blas_mc3_sgemm_copyat,
        (void *)orb_blas_mc3_sgemm_copybn,        (void *)orb_blas_mc3_sgemm_copybt,
        (void *)orb_blas_mc3_sgemm_copybt,        (void *)orb_blas_mc3_sgemm_ker0,
        (void *)orb_blas_mc3_sgemm_copya_ext,     (void *)orb_blas_mc3_sgemm_copyb_ext};
    for (int i = 0; i < 12; ++i) EXPECT_EQ(reinterpret_cast<uint64_t>(functions[i]), words[8 + i]) << "word " << 8 + i;
    EXPECT_EQ(0, orb_mc3_s_opt_gemm_ker);

    SgemmLegacyDesc d;
    std::memset(static_cast<void *>(&d), 0x5a, sizeof d);
    d.word0 = 77;
    orb_blas_mc3_sgemm_zero_desc(&d);
    SgemmLegacyDesc cleared;
    std::memset(static_cast<void *>(&cleared), 0, sizeof cleared);
    cleared.word0 = 77;
    EXPECT_EQ(0, std::memcmp(&d, &cleared, sizeof d)) << "zero_desc clears everything but word 0";
    orb_blas_mc3_sgemm_get_optimal_kernel(&d);
    EXPECT_EQ(77u, d.word0);
    EXPECT_EQ(0u, d.kernel_index);
    EXPECT_EQ(126u, d.table_word);
    EXPECT_EQ(2u, d.table_word2);
    EXPECT_EQ(0, d.m_block + d.n_block + d.k_block);
    EXPECT_EQ(4, d.min_m);
    EXPECT_EQ(8, d.min_n);
    EXPECT_EQ(4, d.min_k);
    for (int64_t w : d.table_words) EXPECT_EQ(4, w);
    EXPECT_TRUE(d.gemm == nullptr && d.par_gemm == nullptr && d.pack_a == nullptr && d.a_copy_bytes == 0);
    const LegacyPackerFn packers[8] = {d.copyan, d.copyat, d.copyac, d.copybn, d.copybt, d.copybc, d.copya_ext, d.copyb_ext};
    const int table_index[8] = {3, 4, 5, 6, 7, 8, 10, 11};
    for (int i = 0; i < 8; ++i) EXPECT_EQ(functions[table_index[i]], (void *)packers[i]) << "packer " << i;
    EXPECT_EQ(functions[0], (void *)d.get_blks_size);
    EXPECT_EQ(functions[1], (void *)d.get_bufs_size);
    EXPECT_EQ(functions[2], (void *)d.get_bufs);
    EXPECT_EQ(functions[9], (void *)d.kernel);

    EXPECT_EQ(1, orb_blas_mc3_sgemm_api_support());
    EXPECT_EQ(1, orb_blas_mc3_get_kernel_api_version());
    EXPECT_EQ(2, orb_blas_mc3_get_ikernel_api_version());
}

// The rows block follows the processor's caches, so each processor is
// presented to a child process, which prints the block it gets.
ORB_CHILD_ENTRY(mc3_rows_block) {
    SgemmLegacyDesc d = fresh_desc();
    const int64_t one = 1;
    orb_blas_mc3_sgemm_get_blks_size(&one, &one, &one, &d);
    std::printf("%lld", static_cast<long long>(d.m_block));
    return 0;
}

TEST(Mc3Sgemm, RowsBlockFollowsTheThirdLevelCache) {
    const std::string sse42 = "ORB_SIMULATE_CPU=file:" + test_data_path("cpus/ruzuv_sse42.cpuid");
    const struct { std::vector<std::string> settings; const char *m_block; } rows[] = {
        {{sse42}, "1280"},                                                                  // 8 MiB third level
        {{"ORB_SIMULATE_CPU=file:" + test_data_path("cpus/ruzuv_ssse3.cpuid")}, "1280"},  // no cache list
        {{sse42, "ORB_CBWR=SSE4_2"}, "768"},  // the reproducible branches' fixed 4 MiB third level
    };
    for (const auto &row : rows) {
        ChildResult r = run_child("mc3_rows_block", row.settings);
        EXPECT_EQ(r.exit_code, 0) << r.err;
        EXPECT_EQ(r.out, row.m_block) << row.settings.back();
    }
}

TEST(Mc3Sgemm, BlockingRules) {
    const int64_t one = 1;
    const int64_t k_rule[][2] = {{1, 128},    {129, 132}, {255, 256}, {256, 256}, {257, 128},
                                 {300, 152},  {510, 256}, {511, 256}, {512, 256}, {100000, 256}};
    for (const auto &kk : k_rule) {
        SgemmLegacyDesc d = fresh_desc();
        orb_blas_mc3_sgemm_get_blks_size(&one, &one, &kk[0], &d);
        EXPECT_EQ(kk[1], d.k_block) << "k = " << kk[0];
    }
    const int64_t n_rule[][2] = {{1, 8}, {8, 8}, {13, 16}, {4999, 5000}, {5000, 5000}, {9000, 5000}};
    for (const auto &nn : n_rule) {
        SgemmLegacyDesc d = fresh_desc();
        orb_blas_mc3_sgemm_get_blks_size(&one, &nn[0], &one, &d);
        EXPECT_EQ(nn[1], d.n_block) << "n = " << nn[0];
    }
    // A size set beforehand stays; only the zero ones are filled.
    SgemmLegacyDesc d = fresh_desc();
    const int64_t set_m = 44, zero = 0, set_k = 12, n = 100, k = 1000;
    orb_blas_mc3_sgemm_set_blks_size(&set_m, &zero, &set_k, &d);
    orb_blas_mc3_sgemm_get_blks_size(&n, &n, &k, &d);
    EXPECT_EQ(44, d.m_block);
    EXPECT_EQ(104, d.n_block);
    EXPECT_EQ(12, d.k_block);
    // Version 4 while the packed B block, min(n, nc) x min(k, kc) floats, fits in 512 KiB.
    const int64_t versions[][3] = {{512, 256, 4}, {513, 256, 2}, {5000, 4, 4}, {9000, 26, 4}, {9000, 27, 2}};
    for (const auto &v : versions) {
        SgemmLegacyDesc e = fresh_desc();
        orb_blas_mc3_sgemm_get_blks_size(&v[0], &v[0], &v[1], &e);
        EXPECT_EQ(v[2], orb_blas_mc3_sgemm_get_kernel_version(&v[0], &v[1], &e)) << v[0] << " x " << v[1];
    }
}

TEST(Mc3Sgemm, FixedKKernelsForEveryK) {
    const int64_t shapes[][2] = {{1, 1}, {10, 10}, {7, 3}, {4, 9}, {9, 1}, {5, 6}};
    for (int64_t k = 1; k <= 10; ++k)
        for (int s = 0; s < 6; ++s) {
            const char *pair = kPairs[(k + s) % 4];
            Problem p{pair[0], pair[1], shapes[s][0], shapes[s][1], k, s % 2 ? -0.75f : 1.5f, 1.0f};
            EXPECT_TRUE(matches_reference(p, [](const Problem &q, const float *a, const int64_t *lda, const float *b,
                                                const int64_t *ldb, float *c, const int64_t *ldc) {
                orb_blas_mc3_sgemm_sm_01_10(&q.ta, &q.tb, &q.m, &q.n, &q.k, &q.alpha, a, lda, b, ldb, &q.beta, c, ldc);
            }));
            EXPECT_TRUE(matches_reference(p, entry, static_cast<unsigned>(k)));
        }
    // alpha 0 reads neither A nor B.
    float a[4] = {kNaN, kNaN, kNaN, kNaN}, c[4] = {1, 2, 3, 4};
    const int64_t two = 2;
    const float zero = 0.0f, one = 1.0f;
    orb_blas_mc3_sgemm_sm_01_10("N", "N", &two, &two, &two, &zero, a, &two, a, &two, &one, c, &two);
    EXPECT_EQ(1.0f, c[0]);
    EXPECT_EQ(4.0f, c[3]);
}

TEST(Mc3Sgemm, EntryPathsTranspositionsAndScalars) {
    // blocked; buffer-free for m < 4, n < 8 and k < 4; fixed-k shapes whose beta is not 1
    const int64_t shapes[][3] = {{37, 29, 23}, {3, 20, 9}, {20, 7, 9}, {20, 20, 3}, {10, 10, 10}, {1, 1, 1}};
    const float scalars[][2] = {{1.0f, 0.0f}, {-0.5f, 1.0f}, {2.0f, -1.5f}, {0.0f, 2.0f}, {0.0f, 0.0f}};
    for (const auto &s : shapes)
        for (const auto &pair : kPairs)
            for (const auto &ab : scalars)
                EXPECT_TRUE(matches_reference(Problem{pair[0], pair[1], s[0], s[1], s[2], ab[0], ab[1]}, entry));
    // k = 0: only beta is applied.
    EXPECT_TRUE(matches_reference(Problem{'N', 'N', 9, 9, 0, 1.0f, 0.0f}, entry));
    EXPECT_TRUE(matches_reference(Problem{'T', 'N', 9, 9, 0, 1.0f, 3.0f}, entry));
}

TEST(Mc3Sgemm, EightBlockKernelsWithRowAndColumnEdges) {
    for (int version : {2, 4})
        for (float beta : {0.0f, 1.0f})
            for (bool aligned : {true, false})
                for (int64_t m : {4, 21, 22, 23}) {
                    // ldc a multiple of 4 on a 16-byte base, or C one float off.
                    Problem p{'N', 'N', m, 21, 13, 1.25f, beta, 4 - m % 4 + 4, aligned ? 0 : 1};
                    SgemmLegacyDesc d = fresh_desc();
                    EXPECT_TRUE(matches_reference(p, blocked(d, version))) << "version " << version;
                }
    // Version 2 takes the B panels in groups of 384 columns at 256 steps,
    // version 4 in one group; each spread A panel meets every group.
    for (int version : {2, 4})
        EXPECT_TRUE(matches_reference(Problem{'T', 'N', 10, 401, 256, 1.0f, 0.0f}, blocked(fresh_desc(), version)));
    // Version 0: the driver chooses.
    EXPECT_TRUE(matches_reference(Problem{'N', 'T', 30, 17, 9, 1.0f, 1.0f}, blocked(fresh_desc(), 0)));
    // A descriptor that was only cleared is completed from the set's table.
    SgemmLegacyDesc cleared{};
    orb_blas_mc3_sgemm_zero_desc(&cleared);
    EXPECT_TRUE(matches_reference(Problem{'T', 'T', 12, 16, 8, 1.0f, 0.5f}, blocked(cleared, 4)));
}

TEST(Mc3Sgemm, ProductsLargerThanTheBlocks) {
    SgemmLegacyDesc small = fresh_desc();
    const int64_t mc = 8, nc = 16, kc = 8;
    orb_blas_mc3_sgemm_set_blks_size(&mc, &nc, &kc, &small);
    for (const auto &pair : kPairs)
        for (float beta : {0.0f, 1.0f, 0.5f})
            EXPECT_TRUE(matches_reference(Problem{pair[0], pair[1], 37, 45, 29, -1.0f, beta}, blocked(small, 4)));
    // A k block above 256 steps is taken by the kernel in chunks.
    SgemmLegacyDesc deep = fresh_desc();
    const int64_t deep_k = 600;
    orb_blas_mc3_sgemm_set_blks_size(&mc, &nc, &deep_k, &deep);
    EXPECT_TRUE(matches_reference(Problem{'N', 'T', 9, 10, 700, 1.0f, 0.0f}, blocked(deep, 2)));
    // The set's own blocks: two row blocks, two column blocks, two k blocks.
    EXPECT_TRUE(matches_reference(Problem{'T', 'N', 1301, 9, 4, 1.0f, 0.0f}, entry));
    EXPECT_TRUE(matches_reference(Problem{'N', 'N', 5, 5007, 4, 1.0f, 1.0f}, entry));
    EXPECT_TRUE(matches_reference(Problem{'N', 'N', 6, 9, 300, 1.0f, 0.0f}, entry));
}

TEST(Mc3Sgemm, PackedLayouts) {
    std::mt19937 rng(5);
    const int64_t m = 6, kb = 5, kp = 8, c = 11;
    std::vector<float> a = random_floats(m * kb, rng), at(kb * m), b = random_floats(kb * c, rng), bt(c * kb);
    for (int64_t i = 0; i < m; ++i)
        for (int64_t p = 0; p < kb; ++p) at[p + i * kb] = a[i + p * m];
    for (int64_t p = 0; p < kb; ++p)
        for (int64_t j = 0; j < c; ++j) bt[j + p * c] = b[p + j * kb];
    const float two = 2.0f, one = 1.0f;
    std::vector<float> an(m * kp, kNaN), atp(m * kp, kNaN), bn(16 * kp, kNaN), btp(16 * kp, kNaN);
    orb_blas_mc3_sgemm_copyan(a.data(), &m, &m, &kb, &two, an.data());
    orb_blas_mc3_sgemm_copyat(at.data(), &kb, &m, &kb, &two, atp.data());
    orb_blas_mc3_sgemm_copybn(b.data(), &kb, &kb, &c, &one, bn.data());
    orb_blas_mc3_sgemm_copybt(bt.data(), &c, &kb, &c, &one, btp.data());
    for (int64_t p = 0; p < kp; ++p) {
        for (int64_t t = 0; t < 4; ++t) EXPECT_EQ(p < kb ? 2 * a[t + p * m] : 0.0f, an[4 * p + t]);
        for (int64_t t = 0; t < 2; ++t) EXPECT_EQ(p < kb ? 2 * a[4 + t + p * m] : 0.0f, an[4 * kp + 2 * p + t]);
        for (int64_t j = 0; j < 16; ++j)
            EXPECT_EQ(p < kb && j < c ? b[p + j * kb] : 0.0f, bn[(j / 8) * 8 * kp + 8 * p + j % 8]) << p << "," << j;
    }
    EXPECT_EQ(0, std::memcmp(an.data(), atp.data(), an.size() * 4)) << "copyat packs like copyan";
    EXPECT_EQ(0, std::memcmp(bn.data(), btp.data(), bn.size() * 4)) << "copybt packs like copybn";
    // The _ext packers: every packed value four times, times the factor.
    std::vector<float> spread(32 * kb), edge(4 * 2 * kb);
    const int64_t eight = 8, width = 2;
    orb_blas_mc3_sgemm_copyb_ext(bn.data(), &eight, &eight, &kb, &two, spread.data());
    orb_blas_mc3_sgemm_copya_ext(an.data() + 4 * kp, &width, &width, &kb, &one, edge.data());
    for (int64_t p = 0; p < kb; ++p)
        for (int l = 0; l < 4; ++l) {
            for (int64_t t = 0; t < 8; ++t) EXPECT_EQ(2 * bn[8 * p + t], spread[4 * (8 * p + t) + l]);
            for (int64_t t = 0; t < 2; ++t) EXPECT_EQ(an[4 * kp + 2 * p + t], edge[4 * (2 * p + t) + l]);
        }
}

TEST(Mc3Sgemm, BetaScalerNeverReadsCForZero) {
    for (float beta : {0.0f, -3.0f})
        EXPECT_TRUE(matches_reference(Problem{'N', 'N', 13, 5, 0, 1.0f, beta, 3, 1},
                                      [](const Problem &p, const float *, const int64_t *, const float *,
                                         const int64_t *, float *c, const int64_t *ldc) {
                                          orb_blas_mc3_sgemm_mscale(&p.m, &p.n, &p.beta, c, ldc);
                                      }));
}

TEST(Mc3Sgemm, AllocationFailureFallsBackToTheBufferFreeProduct) {
    const int64_t m = 37, n = 29, k = 23;
    SgemmLegacyDesc d = fresh_desc();
    allocation_probe().reset();
    EXPECT_TRUE(matches_reference(Problem{'N', 'N', m, n, k, 1.0f, 0.0f}, entry));
    std::vector<AllocationRequest> requests = allocation_probe().requests();
    ASSERT_EQ(1u, requests.size());
    EXPECT_EQ(128, requests[0].alignment);
    EXPECT_EQ(static_cast<size_t>(orb_blas_mc3_sgemm_get_bufs_size(&m, &n, &k, &d)), requests[0].size);
    allocation_probe().refuse(true);
    for (const auto &pair : kPairs)
        for (float beta : {0.0f, 2.0f})
            EXPECT_TRUE(matches_reference(Problem{pair[0], pair[1], m, n, k, -1.0f, beta}, entry));
    EXPECT_GT(allocation_probe().requests().size(), 1u);
    allocation_probe().refuse(false);
}

// On a processor presented as SSE4.2 only, the dispatcher runs this set.
ORB_CHILD_ENTRY(mc3_dispatched_products) {
    const int64_t shapes[][3] = {{64, 48, 40}, {7, 5, 3}, {3, 30, 12}};
    int failures = 0;
    for (const auto &s : shapes)
        for (const auto &pair : kPairs)
            failures += matches_reference(Problem{pair[0], pair[1], s[0], s[1], s[2], 0.5f, s[2] == 3 ? 1.0f : 0.0f},
                                           [](const Problem &p, const float *a, const int64_t *lda, const float *b,
                                              const int64_t *ldb, float *c, const int64_t *ldc) {
                                               orb_blas_xsgemm(&p.ta, &p.tb, &p.m, &p.n, &p.k, &p.alpha, a, lda, b,
                                                               ldb, &p.beta, c, ldc);
                                           })
                            ? 0
                            : 1;
    printf("%d %d %d\n", orb_serv_cpu_detect(), orb_blas_get_kernel_api_version(), failures);
    return 0;
}

TEST(Mc3Sgemm, DispatcherRunsTheSetOnAnSse42Processor) {
    ChildResult r = run_child("mc3_dispatched_products", {"ORB_SIMULATE_CPU=ruzuv", "ORB_ENABLE_INSTRUCTIONS=SSE4_2"});
    ASSERT_EQ(0, r.exit_code) << r.err;
    EXPECT_EQ("3 1 0\n", r.out);
}

}  // namespace
