// test_packed_blocked.cpp - white-box contracts of the blocked path of the
// avx2 and avx512 sets.
//
// Calls each set's members directly (static link, no environment) and
// checks each against an expectation built here from the documented rules:
// packed panel layouts byte for byte (24- / 48-row A panels with tails of
// 16 / 32 down to 1 rows, 4- / 8-column B panels with tails down to 1), the
// block kernel on every strip and column tail against the double-precision
// reference, the summation order of the ordinary and reproducible kernels
// bit for bit against scalar fused multiply-add models, beta handling that
// never reads C, the strategy and kernel-information records, blocking
// numbers, buffer requests and placements, the loop order of the drivers
// and their fallback.
//
// Pooled allocations of the sets go through orb_serv_allocate, which this
// executable wraps at link time (-Wl,--wrap): the wrapper records every
// request and can be told to fail.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <cstring>
#include <limits>
#include <random>
#include <string>
#include <vector>

#include "support/allocation_probe.h"
#include "support/child_process.h"
#include "support/packed_sets.h"
#include "support/reference_gemm.h"

namespace {

const float kNaN = std::numeric_limits<float>::quiet_NaN();

std::vector<float> random_floats(int64_t count, unsigned seed) {
    std::mt19937 gen(seed);
    std::uniform_real_distribution<float> dist(-1.0f, 1.0f);
    std::vector<float> v(static_cast<size_t>(count));
    for (auto &x : v) x = dist(gen);
    return v;
}

uint32_t bits(float x) {
    uint32_t u;
    std::memcpy(&u, &x, 4);
    return u;
}

uint64_t address_mod(const void *p, uint64_t alignment) { return reinterpret_cast<uintptr_t>(p) % alignment; }

// (first index, width) of the panels a block of `count` is cut into: full
// panels of `full`, then one of each narrower width that still fits.
std::vector<std::pair<int64_t, int64_t>> panels(int64_t count, int64_t full) {
    std::vector<std::pair<int64_t, int64_t>> out;
    int64_t i = 0;
    for (; count - i >= full; i += full) out.push_back({i, full});
    for (int64_t w : {32, 16, 8, 4, 2, 1})
        if (w < full && count - i >= w) out.push_back({i, w}), i += w;
    return out;
}

// Packed layout of a block: panel (i, w) holds, per k step p, the w values
// at(i + t, p) at i*kb + p*w + t, times factor.  A uses panels of mr rows;
// B (with at(j, p) = op(B)(p, j)) panels of nr columns.
template <typename At>
std::vector<float> packed_model(int64_t count, int64_t full, int64_t kb, float factor, At at) {
    std::vector<float> out(static_cast<size_t>(count * kb));
    for (auto [i, w] : panels(count, full))
        for (int64_t p = 0; p < kb; ++p)
            for (int64_t t = 0; t < w; ++t) out[i * kb + p * w + t] = factor * at(i + t, p);
    return out;
}

// Packs src into a buffer with a sentinel tail, checks the tail and the
// narrowed destination (k first), and compares with the model bit for bit.
void expect_packed(SgemmPackerFn packer, const MatDesc &src, int64_t kb, int64_t count, float factor,
                   const std::vector<float> &model) {
    std::vector<float> buffer(model.size() + 64, 12345.0f);
    MatDesc dst{};
    dst.data = buffer.data();
    packer(&src, &dst, &factor, nullptr);
    EXPECT_EQ(dst.rows, kb);
    EXPECT_EQ(dst.cols, count);
    for (size_t i = 0; i < buffer.size(); ++i)
        ASSERT_EQ(bits(buffer[i]), bits(i < model.size() ? model[i] : 12345.0f)) << "float " << i;
}

// Random values with a few that an inexact copy or multiplication would disturb.
std::vector<float> packing_source(int64_t count, unsigned seed) {
    auto v = random_floats(count, seed);
    v[0] = -0.0f;
    v[1] = std::numeric_limits<float>::denorm_min();
    v[2] = std::numeric_limits<float>::infinity();
    v[3] = std::numeric_limits<float>::max();
    return v;
}

// Rows of two blocks whose strips are, between them, of every width: a full
// strip, then the largest tail and the smallest ones (AVX2: 47 = 24, 16, 4,
// 2, 1; AVX-512: 95 = 48, 32, 8, 4, 2, 1), or a full strip and the tails
// from the second largest down (AVX2: 39 = 24, 8, 4, 2, 1; AVX-512: 79 =
// 48, 16, 8, 4, 2, 1).
std::vector<int64_t> every_strip(const PackedSetUnderTest &set) {
    return {2 * set.mr - 1, set.mr + 2 * set.mr / 3 - 1};
}

class PackedBlocked : public PackedSetTest {};
ORB_INSTANTIATE_FOR_PACKED_SETS(PackedBlocked);

TEST_P(PackedBlocked, APanelsByteForByte) {
    std::vector<int64_t> starts;
    for (auto [i, w] : panels(47, set().mr)) starts.push_back(i);
    ASSERT_EQ(starts, set().is_avx512() ? (std::vector<int64_t>{0, 32, 40, 44, 46})
                                        : (std::vector<int64_t>{0, 24, 40, 44, 46}));
    // One or two full panels (read side by side when not transposed) and
    // tails of every width; kb = 13 runs 8, 4 and 1 k steps; -1 negates and
    // 1 copies exactly.
    const int64_t kb = 13, mr = set().mr;
    for (int64_t m : {int64_t{1}, every_strip(set())[0], every_strip(set())[1], 3 * mr - 1})
        for (float f : {2.5f, 1.0f, -1.0f}) {
            SCOPED_TRACE("m=" + std::to_string(m) + " factor " + std::to_string(f));
            const int64_t lda_n = m + 3, lda_t = kb + 3;
            auto an = packing_source(lda_n * kb, 1), at = packing_source(lda_t * m, 2);
            expect_packed(set().sgemm_copyan, orb_operand_desc(an.data(), m, kb, lda_n, "N"), kb, m, f,
                          packed_model(m, mr, kb, f, [&](int64_t i, int64_t p) { return an[i + p * lda_n]; }));
            expect_packed(set().sgemm_copyat, orb_operand_desc(at.data(), m, kb, lda_t, "T"), kb, m, f,
                          packed_model(m, mr, kb, f, [&](int64_t i, int64_t p) { return at[p + i * lda_t]; }));
        }
}

TEST_P(PackedBlocked, BPanelsByteForByte) {
    std::vector<int64_t> widths;
    for (auto [j, v] : panels(7, set().nr)) widths.push_back(v);
    ASSERT_EQ(widths, (std::vector<int64_t>{4, 2, 1}));
    // A full panel and every tail, then five full panels (read side by side
    // when transposed) and every tail.
    const int64_t kb = 19, nr = set().nr;
    for (int64_t n : {2 * nr - 1, 6 * nr - 1}) {
        SCOPED_TRACE("n=" + std::to_string(n));
        const int64_t ldb_n = kb + 2, ldb_t = n + 1;
        auto bn = packing_source(ldb_n * n, 5), bt = packing_source(ldb_t * kb, 6);
        expect_packed(set().sgemm_copybn, orb_operand_desc(bn.data(), kb, n, ldb_n, "N"), kb, n, 1.0f,
                      packed_model(n, nr, kb, 1.0f, [&](int64_t j, int64_t p) { return bn[p + j * ldb_n]; }));
        expect_packed(set().sgemm_copybt, orb_operand_desc(bt.data(), kb, n, ldb_t, "T"), kb, n, 1.0f,
                      packed_model(n, nr, kb, 1.0f, [&](int64_t j, int64_t p) { return bt[j + p * ldb_t]; }));
    }
}

// ---------------------------------------------------------------------------
// Block kernels.
// ---------------------------------------------------------------------------

// A product in packed form, with the unpacked operands for the models.
struct PackedProduct {
    int64_t m, n, k;
    std::vector<float> a, b;  // op(A) m x k and op(B) k x n, column-major
    std::vector<float> packed_a, packed_b;
    PackedProduct(const PackedSetUnderTest &set, int64_t m_, int64_t n_, int64_t k_, unsigned seed)
        : m(m_), n(n_), k(k_), a(random_floats(m * k, seed)), b(random_floats(k * n, seed + 1)) {
        packed_a = packed_model(m, set.mr, k, 1.0f, [&](int64_t i, int64_t p) { return a[i + p * m]; });
        packed_b = packed_model(n, set.nr, k, 1.0f, [&](int64_t j, int64_t p) { return b[p + j * k]; });
    }
    // Sum of the products of element (i, j) with fused multiply-adds, k in order.
    float in_order(int64_t i, int64_t j) const {
        float acc = 0.0f;
        for (int64_t p = 0; p < k; ++p) acc = std::fma(a[i + p * m], b[p + j * k], acc);
        return acc;
    }
    // The order of the ordinary AVX2 kernel's 8-, 4- and 2-row strips: even
    // and odd steps of each group of four in two sums, added, then the k
    // mod 4 rest.
    float split(int64_t i, int64_t j) const {
        float sums[2] = {0.0f, 0.0f};
        int64_t grouped = k / 4 * 4;
        for (int64_t p = 0; p < grouped; ++p) sums[p % 2] = std::fma(a[i + p * m], b[p + j * k], sums[p % 2]);
        float acc = sums[0] + sums[1];
        for (int64_t p = grouped; p < k; ++p) acc = std::fma(a[i + p * m], b[p + j * k], acc);
        return acc;
    }
    using Kernel = void (*)(int64_t, int64_t, int64_t, const float *, const float *, const float *, float *, int64_t);
    std::vector<float> run(Kernel kernel, std::vector<float> c, int64_t ldc) const {
        const float one = 1.0f;
        kernel(m, n, k, &one, packed_a.data(), packed_b.data(), c.data(), ldc);
        return c;
    }
};

// Columns that walk the narrow strips through every block width (AVX2: 4-,
// 2- and 1-row strips in blocks of 64, 32, 16 and 8 columns; AVX-512: 8-,
// 4-, 2- and 1-row strips across blocks of up to eight 16-column pairs).
int64_t wide_n(const PackedSetUnderTest &set) { return set.is_avx512() ? 255 : 87; }
// Groups of four k steps after the C tile is fetched.
int64_t late_groups(const PackedSetUnderTest &set) { return set.is_avx512() ? 32 : 34; }

TEST_P(PackedBlocked, BlockKernelEveryStripAndColumnTailMatchesTheReference) {
    // m: one row, every tail below a full strip, two full strips, strips of
    // every width; n: every column tail; k: the remainder step alone, the
    // second phase of the k loop alone, both phases with a remainder.
    const int64_t mr = set().mr, nr = set().nr, late = late_groups(set());
    for (int64_t m : {int64_t{1}, mr - 1, 2 * mr, every_strip(set())[0], every_strip(set())[1]})
        for (int64_t n : {int64_t{1}, int64_t{2}, 2 * nr - 1, 2 * nr, wide_n(set())})
            for (int64_t k : {int64_t{1}, int64_t{5}, 4 * late, 4 * late + 5, int64_t{300}})
                for (bool b0 : {false, true}) {
                    if (n == wide_n(set()) && m < mr) continue;
                    PackedProduct pp(set(), m, n, k, static_cast<unsigned>(m * 1000 + n * 10 + k));
                    const int64_t ldc = m + 3;
                    auto c = b0 ? std::vector<float>(ldc * n, kNaN) : random_floats(ldc * n, 99);
                    const RefGemm g{'N', 'N', m, n, k, 1.0, b0 ? 0.0 : 1.0, pp.a.data(), m, pp.b.data(), k};
                    std::vector<double> magnitude;
                    auto want = reference_sgemm(g, c.data(), ldc, &magnitude);
                    auto got = pp.run(b0 ? set().sgemm_kernel_0_b0 : set().sgemm_kernel_0, c, ldc);
                    for (int64_t j = 0; j < n; ++j)
                        for (int64_t i = 0; i < ldc; ++i) {
                            size_t r = static_cast<size_t>(i + j * m), at = static_cast<size_t>(i + j * ldc);
                            if (i >= m) ASSERT_EQ(bits(got[at]), bits(c[at])) << "row padding touched";
                            else ASSERT_NEAR(got[at], want[r], gemm_error_bound(k, magnitude[r]))
                                     << "m=" << m << " n=" << n << " k=" << k << " b0=" << b0 << " at " << i << "," << j;
                        }
                }
}

// The reproducible kernels sum each element from zero in k order with fused
// multiply-adds and add the sum to C once (or store it: _b0).  So do the
// ordinary kernels, except in the AVX2 strips of 8, 4 and 2 rows, which
// split the k loop over two sums.
TEST_P(PackedBlocked, BlockKernelSummationOrderIsBitExact) {
    const int64_t narrow = 2 * set().nr - 1, k = 4 * late_groups(set()) + 5;
    const int64_t m1 = every_strip(set())[0], m2 = every_strip(set())[1];
    for (auto [m, n] : {std::pair<int64_t, int64_t>{8, narrow}, {4, narrow}, {2, narrow}, {m1, narrow}, {m2, narrow},
                        {m1, wide_n(set())}, {m2, wide_n(set())}}) {
        PackedProduct pp(set(), m, n, k, static_cast<unsigned>(m));
        auto c0 = random_floats(m * n, 5);
        auto cnr = pp.run(set().sgemm_kernel_0_cnr, c0, m);
        auto cnr_b0 = pp.run(set().sgemm_kernel_0_b0_cnr, c0, m);
        auto fast = pp.run(set().sgemm_kernel_0, c0, m);
        auto fast_b0 = pp.run(set().sgemm_kernel_0_b0, c0, m);
        for (auto [first, width] : panels(m, set().mr))
            for (int64_t i = first; i < first + width; ++i)
                for (int64_t j = 0; j < n; ++j) {
                    size_t r = static_cast<size_t>(i + j * m);
                    SCOPED_TRACE("m=" + std::to_string(m) + " n=" + std::to_string(n) + " at " + std::to_string(i) +
                                 "," + std::to_string(j));
                    const float ordered = pp.in_order(i, j);
                    ASSERT_EQ(bits(cnr[r]), bits(c0[r] + ordered));
                    ASSERT_EQ(bits(cnr_b0[r]), bits(ordered));
                    bool split = !set().is_avx512() && (width == 8 || width == 4 || width == 2);
                    const float sum = split ? pp.split(i, j) : ordered;
                    ASSERT_EQ(bits(fast[r]), bits(c0[r] + sum));
                    ASSERT_EQ(bits(fast_b0[r]), bits(sum));
                }
    }
}

// ---------------------------------------------------------------------------
// Beta scaling and the buffer-free product.
// ---------------------------------------------------------------------------
TEST_P(PackedBlocked, MscaleClearsNanWithBetaZeroAndScalesOnlyTheMatrix) {
    // Runs of two vectors, a full vector and a tail (AVX2: 16+16, 8, 5;
    // AVX-512: 32, 13); 4 columns plus 2.
    const int64_t m = 45, n = 6, ldc = 48;
    for (float beta : {0.0f, -2.5f}) {
        auto v = random_floats(ldc * n, 8);
        for (int64_t j = 0; j < n; ++j) v[j * ldc + 3] = kNaN;
        auto c = v;
        MatDesc cd = orb_operand_desc(c.data(), m, n, ldc, nullptr);
        set().sgemm_mscale_wrapper(&cd, &beta);
        for (size_t r = 0; r < c.size(); ++r) {
            float want = static_cast<int64_t>(r) % ldc >= m ? v[r] : beta == 0.0f ? 0.0f : beta * v[r];
            ASSERT_EQ(bits(c[r]), bits(want)) << "beta " << beta << " float " << r;
        }
    }
}

TEST_P(PackedBlocked, BufferFreeProductInAllTranspositionCases) {
    // Rows and k in whole vectors and a tail, columns in fours and a rest.
    const int64_t m = 37, n = 7, k = 37;
    const float alpha = -1.5f;
    for (const char *ta : {"N", "T"})
        for (const char *tb : {"N", "t"})
            for (float beta : {0.0f, 0.75f}) {
                bool a_plain = *ta == 'N', b_plain = *tb == 'N';
                int64_t lda = (a_plain ? m : k) + 1, ldb = (b_plain ? k : n) + 2, ldc = m + 1;
                auto a = random_floats(lda * (a_plain ? k : m), 21), b = random_floats(ldb * (b_plain ? n : k), 22);
                auto c = beta == 0.0f ? std::vector<float>(ldc * n, kNaN) : random_floats(ldc * n, 23);
                const RefGemm g{*ta, *tb, m, n, k, alpha, beta, a.data(), lda, b.data(), ldb};
                std::vector<double> magnitude;
                auto want = reference_sgemm(g, c.data(), ldc, &magnitude);
                set().sgemm_pst(ta, tb, &m, &n, &k, &alpha, a.data(), &lda, b.data(), &ldb, &beta, c.data(), &ldc);
                for (int64_t j = 0; j < n; ++j)
                    for (int64_t i = 0; i < m; ++i)
                        ASSERT_NEAR(c[i + j * ldc], want[i + j * m], gemm_error_bound(k, magnitude[i + j * m]))
                            << ta << tb << " beta " << beta << " at " << i << "," << j;
            }
}

// ---------------------------------------------------------------------------
// Strategy and kernel information.
// ---------------------------------------------------------------------------
TEST_P(PackedBlocked, CopyMethodsMapToStrategyCodes) {
    // (copy method, strategy code); the no-copy code 16 has the 16 x 6 block,
    // mode 4 and tuning word 16, and reports that the check forced the block.
    for (auto [method, code] : {std::pair<int32_t, uint32_t>{0, 2}, {1, 4}, {2, 2}, {3, 32}, {4, 2}, {5, 16}, {6, 2},
                                {-1, 2}}) {
        ThreadOpts opts{};
        opts.copy_method = method;
        SgemmStrategy s;
        std::memset(&s, 0xA5, sizeof s);
        bool no_copy = code == 16;
        SCOPED_TRACE("copy method " + std::to_string(method));
        EXPECT_EQ(set().sgemm_map_thread_to_kernel(&opts, &s), no_copy ? 0 : 1);
        EXPECT_EQ(s.code, code);
        EXPECT_EQ(s.mode, no_copy ? 4u : 2u);
        EXPECT_EQ(s.mr, no_copy ? 16 : set().mr);
        EXPECT_EQ(s.nr, no_copy ? 6 : set().nr);
        EXPECT_EQ(s.tuning1, no_copy ? 16 : set().tuning1);
        EXPECT_EQ(s.k_granule, 1);
        EXPECT_EQ(s.loop_order, 4u);
        EXPECT_EQ(s.buffer_interface, 0u);
        EXPECT_EQ(s.reserved, 0u);
        EXPECT_EQ(s.tuning2, 16);
        EXPECT_EQ(s.tuning3, 16);
        EXPECT_EQ(s.tuning4, set().tuning4);
        EXPECT_EQ(s.check, set().check_strategy);
    }
}

TEST_P(PackedBlocked, CheckForcesTheBlockShapeAndReportsIt) {
    SgemmStrategy s;
    set().sgemm_initialize_strategy(&s);
    EXPECT_EQ(s.check(&s), 1);
    s.nr = 6;
    EXPECT_EQ(s.check(&s), 0);
    EXPECT_EQ(s.nr, set().nr);
    s.mr = 16;
    EXPECT_EQ(s.check(&s), 0);
    EXPECT_EQ(s.mr, set().mr);
    s.k_granule = 4;
    EXPECT_EQ(s.check(&s), 0);
    EXPECT_EQ(s.k_granule, 1);
    EXPECT_EQ(s.check(&s), 1);  // nothing left to force
    EXPECT_EQ(set().get_kernel_api_version(), 2);
    EXPECT_EQ(set().get_ikernel_api_version(), 2);
    EXPECT_EQ(set().sgemm_api_support(), 4);
    EXPECT_EQ(set().sgemm_get_bufs_size(nullptr, nullptr, nullptr, nullptr), 0);
}

SgemmKernelInfo kernel_info(const PackedSetUnderTest &set, const char *ta, const char *tb, uint32_t code) {
    float x = 0, one = 1.0f;
    MatDesc a = orb_operand_desc(&x, 100, 100, 100, ta), b = orb_operand_desc(&x, 100, 100, 100, tb);
    MatDesc c = orb_operand_desc(&x, 100, 100, 100, nullptr);
    BlasOpParams op;
    blas_initialize_op_params(ta, tb, &op, &one, &one);
    SgemmStrategy s;
    set.sgemm_initialize_strategy(&s);
    s.code = code;
    SgemmKernelInfo info;
    std::memset(&info, 0xA5, sizeof info);
    EXPECT_EQ(set.sgemm_initialize_kernel_info(&op, &a, &b, &c, &s, &info), info.kernel);
    return info;
}

TEST_P(PackedBlocked, KernelInfoFollowsTranspositionsAndStrategy) {
    const PackedSetUnderTest &m = set();
    struct Expect {
        const char *ta, *tb;
        uint32_t code;
        SgemmPackerFn pack_a, pack_b;
        SgemmDriverFn driver;
    };
    const Expect cases[] = {
        {"N", "N", 0, m.sgemm_copyan, m.sgemm_copybn, m.s_generic_fullacopybcopy},
        {"T", "C", 2, m.sgemm_copyat, m.sgemm_copybt, m.s_generic_fullacopybcopy},
        {"c", "n", 4, m.sgemm_copyat, m.sgemm_copybn, m.xsgemm_acopiedbcopy},
        {"n", "t", 32, m.sgemm_copyan, m.sgemm_copybt, m.s_generic_fullacopybcopy},
        {"T", "T", 16, nullptr, nullptr, m.xsgemm_nocopy_driver},
    };
    for (const Expect &e : cases) {
        SgemmKernelInfo info = kernel_info(m, e.ta, e.tb, e.code);
        SCOPED_TRACE(std::string(e.ta) + e.tb + " code " + std::to_string(e.code));
        EXPECT_EQ(info.min_m, 12);
        EXPECT_EQ(info.min_n, m.min_n);
        EXPECT_EQ(info.constant, 4);
        EXPECT_STREQ(info.name, "SGEMM");
        EXPECT_EQ(info.scale_c, m.sgemm_mscale_wrapper);
        EXPECT_EQ(info.pack_a, e.pack_a);
        EXPECT_EQ(info.pack_b, e.pack_b);
        EXPECT_EQ(info.kernel, m.sgemm_ker0);  // no STRICT flag in this process
        EXPECT_EQ(info.driver, e.driver);
        EXPECT_EQ(info.fallback, m.s_pst_wrapper);
        EXPECT_EQ(info.triangular_scaler, nullptr);
        EXPECT_EQ(info.triangular_kernel, nullptr);
        EXPECT_EQ(info.strategy.code, e.code == 0 ? 2u : e.code);  // the copy was checked
        EXPECT_EQ(info.strategy.mr, e.code == 16 ? 16 : m.mr);
    }
}

// Under the STRICT flag: the reproducible kernel, and xsgemm takes the
// full-copy driver (which allocates its buffers) even for m = 6, k = 6.
ORB_CHILD_ENTRY(strict_path) {
    const PackedSetUnderTest *set = packed_set_of_process(true);
    if (!set) return 1;
    std::printf("set %s\n", set->name);
    std::fflush(stdout);
    SgemmKernelInfo info = kernel_info(*set, "N", "N", 0);
    if (info.kernel != set->sgemm_ker0_cnr) return 2;
    if (info.driver != set->s_generic_fullacopybcopy) return 3;
    PackedProduct pp(*set, 6, 9, 6, 1);
    std::vector<float> c(6 * 9, kNaN);
    const int64_t m = 6, n = 9, k = 6;
    const float alpha = 1.0f, beta = 0.0f;
    allocation_probe().reset();
    set->xsgemm("N", "N", &m, &n, &k, &alpha, pp.a.data(), &m, pp.b.data(), &k, &beta, c.data(), &m);
    if (allocation_probe().sizes().size() != 1) return 4;
    for (int64_t j = 0; j < n; ++j)
        for (int64_t i = 0; i < m; ++i)
            if (bits(c[i + j * m]) != bits(pp.in_order(i, j))) return 5;
    return 0;
}

TEST_P(PackedBlocked, StrictModeTakesTheReproducibleKernelAndTheFullCopy) {
    ChildResult r = run_child("strict_path", packed_set_process(set(), true));
    EXPECT_EQ(r.exit_code, 0) << r.out << r.err;
    EXPECT_NE(r.out.find(std::string("set ") + set().name + "\n"), std::string::npos) << r.out;
}

// ---------------------------------------------------------------------------
// Blocking and buffers.
// ---------------------------------------------------------------------------
SgemmBuffers buffers_for(const PackedSetUnderTest &set, int64_t m, int64_t n, int64_t k, uint32_t code = 0) {
    float x = 0;
    MatDesc a = orb_operand_desc(&x, m, k, m, "N"), b = orb_operand_desc(&x, k, n, k, "N");
    SgemmStrategy s;
    set.sgemm_initialize_strategy(&s);
    s.code = code;
    s.check(&s);
    SgemmBuffers buffers;
    set.sgemm_initialize_buffers(&a, &b, &s, &buffers);
    return buffers;
}

TEST_P(PackedBlocked, BlockSizes) {
    struct Expect {
        int64_t m, n, k, mc, nc, kc;
    };
    const std::vector<Expect> avx2 = {
        {100, 100, 10, 120, 24, 128},    // small k: kc at least 128, nc capped at 24
        {100, 1000, 40, 120, 24, 128},   // k <= 47 caps nc at 24
        {100, 1000, 48, 120, 384, 128},  // k = 48 allows 384
        {100, 100, 256, 120, 100, 256}, {100, 100, 300, 120, 100, 150}, {100, 100, 383, 120, 100, 192},
        {100, 100, 500, 120, 100, 192},  // 192 from 384 on: passes 192, 192, 116
        {10009, 2, 500, 10008, 4, 192},  // mc capped at 10000, rounded to 24: a second, one-row block
        {10001, 3, 1, 10008, 4, 128},    // a single m block
        {5, 3, 5, 24, 4, 128},           // at least one register block
    };
    const std::vector<Expect> avx512 = {
        {100, 100, 10, 144, 24, 128},    // small k: kc at least 128, nc capped at 24
        {100, 1000, 40, 144, 24, 128},   // k <= 47 caps nc at 24
        {100, 1000, 48, 144, 384, 128},  // k = 48 allows 384
        {100, 100, 300, 144, 104, 300}, {100, 100, 384, 144, 104, 384}, {100, 100, 385, 144, 104, 193},
        {100, 100, 500, 144, 104, 250}, {100, 100, 766, 144, 104, 383},
        {100, 100, 800, 144, 104, 384},  // 384 from 768 on: passes 384, 384, 32
        {9985, 2, 500, 9984, 8, 250},    // mc capped at 9984: a second, one-row block
        {10001, 3, 1, 9984, 8, 128},
        {5, 3, 5, 48, 8, 128},           // at least one register block
    };
    for (const Expect &e : set().is_avx512() ? avx512 : avx2) {
        SgemmBuffers r = buffers_for(set(), e.m, e.n, e.k);
        SCOPED_TRACE("m=" + std::to_string(e.m) + " n=" + std::to_string(e.n) + " k=" + std::to_string(e.k));
        EXPECT_EQ(r.mc, e.mc);
        EXPECT_EQ(r.nc, e.nc);
        EXPECT_EQ(r.kc, e.kc);
        EXPECT_EQ(r.mode, 3u);
        EXPECT_EQ(r.a.ld, set().mr * e.kc);  // panel sizes mr*kc and kc*nr
        EXPECT_EQ(r.b.ld, set().nr * e.kc);
        EXPECT_EQ(r.a.trans, kMatPackedBuffer);
        EXPECT_EQ(r.get, set().sgemm_get_bufs);
        EXPECT_EQ(r.size, nullptr);
    }
    EXPECT_EQ(buffers_for(set(), 100, 100, 100, kStrategyACopied).mode, 2u);
}

TEST_P(PackedBlocked, GetBufsRequestsAndPlacesByMode) {
    const SgemmBuffers buffers = buffers_for(set(), 300, 200, 100);
    const uint64_t a_bytes = buffers.mc * buffers.kc * 4, b_bytes = buffers.kc * buffers.nc * 4;
    const std::pair<uint32_t, uint64_t> requests[] = {{1, a_bytes + 4195968},
                                                      {2, b_bytes + 8960},
                                                      {3, a_bytes + b_bytes + 4204928},
                                                      {4, (b_bytes + 8960) * 3 + 4194304}};
    for (auto [mode, bytes] : requests) {
        SgemmBuffers r = buffers;
        r.mode = mode;
        r.team_count = 3;
        allocation_probe().reset();
        ASSERT_EQ(r.get(&r), 0);
        ASSERT_EQ(allocation_probe().sizes(), std::vector<size_t>{bytes}) << "mode " << mode;
        EXPECT_EQ(allocation_probe().alignments(), std::vector<int>{128});
        auto *block = static_cast<char *>(r.block), *a = static_cast<char *>(r.a.data);
        auto *b = static_cast<char *>(r.b.data);
        if (mode == 1 || mode == 3) EXPECT_EQ(address_mod(a, 2097152), 1664u);
        if (mode == 1 || mode == 3) EXPECT_LE(a + a_bytes, block + bytes);
        if (mode == 2 || mode == 3) EXPECT_EQ(b, block + (4096 - address_mod(block, 4096)) % 4096 + 768);
        if (mode == 3) EXPECT_GE(a, b + b_bytes);
        if (mode == 4) EXPECT_EQ(address_mod(b, 2097152), 0u);
        r.free(&r);
        EXPECT_EQ(r.block, nullptr);
    }
    SgemmBuffers r = buffers;
    r.mode = 5;
    allocation_probe().reset();
    EXPECT_EQ(r.get(&r), 1);
    EXPECT_TRUE(allocation_probe().sizes().empty());
}

TEST_P(PackedBlocked, PackInterfaceSizesPlacementAndHeader) {
    const SgemmBuffers buffers = buffers_for(set(), 300, 200, 100);
    const uint64_t a_bytes = buffers.mc * buffers.kc * 4, b_bytes = buffers.kc * buffers.nc * 4;
    const std::pair<uint32_t, uint64_t> sizes[] = {{1, a_bytes + 6293248},
                                                   {2, b_bytes + 6292352},
                                                   {4, (b_bytes + 8960) * 2 + 4194432},
                                                   {5, (a_bytes + 9856) * 2 + 4194432},
                                                   {3, 0}};
    for (auto [mode, bytes] : sizes) {
        SgemmBuffers r = buffers;
        r.mode = mode;
        r.team_count = 2;
        r.a.data = r.b.data = &r;
        EXPECT_EQ(set().sgemm_get_size_bufs(&r), static_cast<int64_t>(bytes)) << "mode " << mode;
        if (mode == 3) EXPECT_TRUE(r.a.data == nullptr && r.b.data == nullptr);
        if (mode >= 4) EXPECT_EQ(mode == 4 ? r.b_alignment : r.a_alignment, 4096u);
        if (mode > 2) continue;
        r.get = set().sgemm_get_bufs_pack;
        r.size = set().sgemm_get_size_bufs;
        r.set = set().sgemm_set_bufs_pack;
        ASSERT_EQ(r.get(&r), 0);
        auto *block = static_cast<char *>(r.block);
        auto *area = static_cast<char *>(mode == 1 ? r.a.data : r.b.data);
        EXPECT_EQ(r.pack_header, r.block);
        EXPECT_EQ(address_mod(area, 2097152), mode == 1 ? 1664u : 768u);
        EXPECT_GE(area, block + 8192);
        // Header words at byte offsets 0 (distance to the area in floats), 8,
        // 16, 24 (mc, nc, kc), 80, 88 and 160.
        int64_t header[21];
        std::memcpy(header, block, sizeof header);
        EXPECT_EQ(header[0], (area - block) / 4);
        EXPECT_EQ(header[1], r.mc);
        EXPECT_EQ(header[2], r.nc);
        EXPECT_EQ(header[3], r.kc);
        EXPECT_EQ(header[10], 0);
        EXPECT_EQ(header[11], -1);
        EXPECT_EQ(header[20], 1);
        r.free(&r);
    }
}

// ---------------------------------------------------------------------------
// Drivers: the calls they make, beta passes and the fallback.
// ---------------------------------------------------------------------------
struct Event {
    char what;     // 'A' or 'B' packing, 'K' kernel, 'S' beta scaling
    int64_t rows;  // rows of the block packed or multiplied
    int64_t cols;  // its columns
    int64_t k;     // k steps the kernel reads from its A descriptor
    float scalar;  // factor of a packing, beta of a kernel call or of a scaling
    bool operator==(const Event &o) const {
        return what == o.what && rows == o.rows && cols == o.cols && k == o.k && bits(scalar) == bits(o.scalar);
    }
};
void PrintTo(const Event &e, std::ostream *os) {
    *os << e.what << "(" << e.rows << "x" << e.cols << ", k " << e.k << ", " << e.scalar << ")";
}
std::vector<Event> g_events;
const PackedSetUnderTest *g_set;  // the set whose members the recorders call

void record_pack_a(const MatDesc *s, MatDesc *d, const float *f, void *u) {
    g_events.push_back({'A', s->rows, s->cols, 0, *f});
    g_set->sgemm_copyan(s, d, f, u);
}
void record_pack_b(const MatDesc *s, MatDesc *d, const float *f, void *u) {
    g_events.push_back({'B', s->rows, s->cols, 0, *f});
    g_set->sgemm_copybn(s, d, f, u);
}
void record_kernel(const float *alpha, const MatDesc *a, const MatDesc *b, const float *beta, const MatDesc *c,
                   void *scratch) {
    EXPECT_EQ(*alpha, 1.0f);
    g_events.push_back({'K', c->rows, c->cols, a->rows, *beta});
    g_set->sgemm_ker0(alpha, a, b, beta, c, scratch);
}
void record_scale(const MatDesc *c, const float *beta) {
    g_events.push_back({'S', c->rows, c->cols, 0, *beta});
    g_set->sgemm_mscale_wrapper(c, beta);
}

// C := alpha*A*B + beta*C with A m x k (seed 31) and B k x n, neither
// transposed, through the set's driver of the strategy code; the calls it
// makes are recorded in g_events; the result is checked against the reference.
void run_driver(const PackedSetUnderTest &set, int64_t m, int64_t n, int64_t k, float alpha, float beta,
                SgemmBuffers *buffers, uint32_t code = 0) {
    auto a = random_floats(m * k, 31), b = random_floats(k * n, 32), c = random_floats(m * n, 33);
    const RefGemm g{'N', 'N', m, n, k, alpha, beta, a.data(), m, b.data(), k};
    std::vector<double> magnitude;
    auto want = reference_sgemm(g, c.data(), m, &magnitude);
    SgemmKernelInfo info = kernel_info(set, "N", "N", code);
    info.pack_a = record_pack_a, info.pack_b = record_pack_b, info.kernel = record_kernel, info.scale_c = record_scale;
    BlasOpParams op;
    blas_initialize_op_params("N", "N", &op, &alpha, &beta);
    MatDesc da = orb_operand_desc(a.data(), m, k, m, "N"), db = orb_operand_desc(b.data(), k, n, k, "N");
    MatDesc dc = orb_operand_desc(c.data(), m, n, m, nullptr);
    g_set = &set;
    g_events.clear();
    EXPECT_EQ(info.driver(&op, &da, &db, &dc, buffers, &info), 0);
    for (size_t r = 0; r < want.size(); ++r)
        ASSERT_NEAR(c[r], want[r], gemm_error_bound(k, magnitude[r])) << "element " << r;
}

TEST_P(PackedBlocked, FullCopyDriverPacksAOncePerBlockBOncePerColumnBlockAndAppliesBetaOnce) {
    // m = 50: strips of mr rows and the rest; n = 400: B blocks 384 and 16;
    // k = 500: passes 192, 192, 116 (AVX2) or 250, 250 (AVX-512).
    const int64_t m = 50, n = 400, k = 500, kc = set().is_avx512() ? 250 : 192;
    for (float beta : {0.5f, 0.0f}) {
        run_driver(set(), m, n, k, 2.0f, beta, nullptr);
        std::vector<Event> want;
        if (beta != 0.0f) want.push_back({'S', m, n, 0, beta});  // applied up front, then beta 1
        for (int64_t p0 = 0; p0 < k; p0 += kc) {
            const int64_t kb = std::min(kc, k - p0);
            float pass_beta = p0 == 0 && beta == 0.0f ? 0.0f : 1.0f;
            want.push_back({'B', kb, 384, 0, 1.0f});
            for (int64_t i0 = 0; i0 < m; i0 += set().mr) {  // each strip multiplied right after it is packed
                const int64_t rows = std::min(set().mr, m - i0);
                want.push_back({'A', rows, kb, 0, 2.0f});
                want.push_back({'K', rows, 384, kb, pass_beta});
            }
            want.push_back({'B', kb, 16, 0, 1.0f});
            want.push_back({'K', m, 16, kb, pass_beta});  // A already packed: one call
        }
        EXPECT_EQ(g_events, want) << "beta " << beta;
    }
}

TEST_P(PackedBlocked, FullCopyDriverWithoutBuffersTheFallbackComputesTheProduct) {
    SgemmBuffers failing = buffers_for(set(), 40, 30, 70);
    failing.get = [](SgemmBuffers *r) { return r->block = nullptr, 0; };
    run_driver(set(), 40, 30, 70, 1.5f, 2.0f, &failing);
    allocation_probe().reset();
    allocation_probe().refuse(true);
    run_driver(set(), 40, 30, 70, -1.0f, 0.0f, nullptr);
    allocation_probe().refuse(false);
    EXPECT_EQ(allocation_probe().sizes().size(), 1u);
}

TEST_P(PackedBlocked, FullCopyDriverWithEmptyKOrZeroAlphaOnlyScalesC) {
    for (auto [k, alpha, beta] : {std::tuple{int64_t{0}, 1.0f, 0.0f}, {int64_t{50}, 0.0f, 2.0f}, {int64_t{0}, 1.0f, 1.0f}}) {
        allocation_probe().reset();
        run_driver(set(), 20, 9, k, alpha, beta, nullptr);
        EXPECT_TRUE(allocation_probe().sizes().empty());
        std::vector<Event> want;
        if (beta != 1.0f) want.push_back({'S', 20, 9, 0, beta});
        EXPECT_EQ(g_events, want);
    }
}

TEST_P(PackedBlocked, APackedDriverMultipliesTheCallersPackedAAndPacksOnlyB) {
    const int64_t m = 50, n = 400, k = 300;  // k is not split
    const float alpha = 2.0f;
    SgemmBuffers buffers = buffers_for(set(), m, n, k, kStrategyACopied);
    buffers.kc = k;  // the caller sizes the B area for the whole k
    ASSERT_EQ(buffers.get(&buffers), 0);
    auto a = random_floats(m * k, 31);  // the driver's A, packed here with alpha
    std::vector<float> packed_a(m * k);
    MatDesc a_src = orb_operand_desc(a.data(), m, k, m, "N");
    buffers.a.data = packed_a.data();
    set().sgemm_copyan(&a_src, &buffers.a, &alpha, nullptr);

    allocation_probe().reset();
    run_driver(set(), m, n, k, alpha, 0.5f, &buffers, kStrategyACopied);
    EXPECT_TRUE(allocation_probe().sizes().empty());
    EXPECT_EQ(g_events, (std::vector<Event>{{'S', m, n, 0, 0.5f},
                                            {'B', k, 384, 0, 1.0f},
                                            {'K', m, 384, k, 1.0f},
                                            {'B', k, 16, 0, 1.0f},
                                            {'K', m, 16, k, 1.0f}}));
    buffers.free(&buffers);
    run_driver(set(), m, n, k, alpha, 0.0f, &buffers, kStrategyACopied);  // no block: the fallback
}

}  // namespace
