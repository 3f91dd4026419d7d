// test_sgemv_kernels_avx.cpp - the AVX2 and AVX-512 SGEMV, rank-1 and copy kernels.
//
// Calls the orb_blas_avx2_* and orb_blas_avx512_* members directly (static
// link; this machine runs both instruction sets).  Every product is checked
// against the double-precision reference within the rounding bound, and the
// documented orders of operations bit for bit against scalar fused
// multiply-add models written here: the AVX2 no-transpose chain, the AVX2
// 8-lane transpose reduction, the AVX-512 eight-column grouping and 16-lane
// reduction, and the scalar paths taken without a scratch area.
//
// Pooled allocations go through orb_serv_allocate, which this executable
// wraps at link time (-Wl,--wrap): the wrapper records every request and can
// be told to fail.
#include <gtest/gtest.h>
#include <sys/mman.h>
#include <unistd.h>

#include <cmath>
#include <cstdint>
#include <cstring>
#include <limits>
#include <random>
#include <string>
#include <utility>
#include <vector>

#include "blas/kernels/avx2/avx2_kernels.h"
#include "blas/kernels/avx512/avx512_kernels.h"
#include "support/allocation_probe.h"
#include "support/reference_gemm.h"

namespace {

const float kNaN = std::numeric_limits<float>::quiet_NaN();
const float kSentinel = 4242.0f;

using GemvFn = decltype(&orb_blas_avx2_xsgemv);
using GerFn = decltype(&orb_blas_avx2_xsgemmger);
using CopyFn = decltype(&orb_blas_avx2_xscopy);

// The two sets under test.
struct SetUnderTest {
    const char *name;  // set name for messages
    GemvFn gemv;       // its SGEMV kernel
    GerFn ger;         // its rank-1 kernel
    CopyFn copy;       // its copy kernel
};
const SetUnderTest kSets[] = {
    {"avx2", orb_blas_avx2_xsgemv, orb_blas_avx2_xsgemmger, orb_blas_avx2_xscopy},
    {"avx512", orb_blas_avx512_xsgemv, orb_blas_avx512_xsgemmger, orb_blas_avx512_xscopy},
};

std::vector<float> random_floats(int64_t count, unsigned seed) {
    // Uniform on [-1, 1) in steps of 2^-23, straight from the generator's bits
    // (the library's distribution takes a logarithm per value, which for the
    // matrices of several million floats below costs seconds).
    std::mt19937 gen(seed);
    std::vector<float> v(static_cast<size_t>(count));
    for (auto &x : v) x = static_cast<float>(gen() >> 8) * 0x1p-23f - 1.0f;
    return v;
}

uint32_t bits(float x) {
    uint32_t u;
    std::memcpy(&u, &x, 4);
    return u;
}

// Storage index of element i of a vector of len elements (BLAS convention).
int64_t slot(int64_t i, int64_t len, int64_t inc) { return inc >= 0 ? i * inc : (len - 1 - i) * -inc; }
int64_t storage(int64_t len, int64_t inc) { return len == 0 ? 1 : (len - 1) * (inc < 0 ? -inc : inc) + 1; }

// A strided vector: values at its slots, sentinels in the gaps.
std::vector<float> spread(const std::vector<float> &values, int64_t inc) {
    const int64_t len = static_cast<int64_t>(values.size());
    std::vector<float> out(static_cast<size_t>(storage(len, inc)), kSentinel);
    for (int64_t i = 0; i < len; ++i) out[slot(i, len, inc)] = values[i];
    return out;
}
std::vector<float> gather(const std::vector<float> &stored, int64_t len, int64_t inc) {
    std::vector<float> out(static_cast<size_t>(len));
    for (int64_t i = 0; i < len; ++i) out[i] = stored[slot(i, len, inc)];
    return out;
}
// Every float that is not a slot still holds the sentinel.
void expect_gaps_untouched(const std::vector<float> &stored, int64_t len, int64_t inc) {
    std::vector<bool> used(stored.size(), false);
    for (int64_t i = 0; i < len; ++i) used[slot(i, len, inc)] = true;
    for (size_t k = 0; k < stored.size(); ++k)
        if (!used[k]) ASSERT_EQ(stored[k], kSentinel) << "gap float " << k;
}

// One SGEMV problem with its operands in column-major / vector form.
struct GemvProblem {
    char trans = 'N';         // 'N' or 'T'
    int64_t m = 0, n = 0;     // A is m x n
    int64_t lda = 0;          // leading dimension, >= m
    float alpha = 1.0f;       // scale of the product
    float beta = 0.0f;        // scale of y
    std::vector<float> a;     // lda * n floats
    std::vector<float> x;     // op-length values of x (logical order)
    std::vector<float> y;     // op-length values of y (logical order)

    bool transposed() const { return trans != 'N'; }
    int64_t lenx() const { return transposed() ? m : n; }
    int64_t leny() const { return transposed() ? n : m; }
};

GemvProblem make_problem(char trans, int64_t m, int64_t n, float alpha, float beta, unsigned seed) {
    GemvProblem p;
    p.trans = trans;
    p.m = m;
    p.n = n;
    p.lda = m + 3;
    p.alpha = alpha;
    p.beta = beta;
    p.a = random_floats(p.lda * n, seed);
    p.x = random_floats(p.lenx(), seed + 1);
    p.y = random_floats(p.leny(), seed + 2);
    return p;
}

// Runs the kernel on the problem with the given increments (and the arrays
// shifted by `offset` floats); returns y in logical order and checks the gaps.
std::vector<float> run_gemv(GemvFn fn, const GemvProblem &p, int64_t incx, int64_t incy, int offset = 0) {
    std::vector<float> xs = spread(p.x, incx), ys = spread(p.y, incy);
    std::vector<float> a_store(p.a.size() + 4), x_store(xs.size() + 4), y_store(ys.size() + 4);
    std::memcpy(a_store.data() + offset, p.a.data(), p.a.size() * 4);
    std::memcpy(x_store.data() + offset, xs.data(), xs.size() * 4);
    std::memcpy(y_store.data() + offset, ys.data(), ys.size() * 4);
    fn(&p.trans, &p.m, &p.n, &p.alpha, a_store.data() + offset, &p.lda, x_store.data() + offset, &incx, &p.beta,
       y_store.data() + offset, &incy, 1);
    std::vector<float> out(y_store.begin() + offset, y_store.begin() + offset + static_cast<int64_t>(ys.size()));
    expect_gaps_untouched(out, p.leny(), incy);
    return gather(out, p.leny(), incy);
}

void expect_near_reference(const GemvProblem &p, const std::vector<float> &got, const std::string &what) {
    std::vector<double> magnitude;
    auto want = reference_sgemv(p.trans, p.m, p.n, p.alpha, p.a.data(), p.lda, p.x.data(), 1, p.beta, p.y.data(), 1,
                                &magnitude);
    for (int64_t i = 0; i < p.leny(); ++i)
        ASSERT_NEAR(got[i], want[i], gemm_error_bound(p.lenx(), magnitude[i])) << what << " element " << i;
}

void expect_same_bits(const std::vector<float> &got, const std::vector<float> &want, const std::string &what) {
    ASSERT_EQ(got.size(), want.size()) << what;
    for (size_t i = 0; i < got.size(); ++i)
        ASSERT_EQ(bits(got[i]), bits(want[i])) << what << " element " << i << ": " << got[i] << " vs " << want[i];
}

std::string describe(const char *set, const GemvProblem &p, int64_t incx, int64_t incy) {
    return std::string(set) + " " + p.trans + " m=" + std::to_string(p.m) + " n=" + std::to_string(p.n) +
           " incx=" + std::to_string(incx) + " incy=" + std::to_string(incy) + " alpha=" + std::to_string(p.alpha) +
           " beta=" + std::to_string(p.beta);
}

// The beta step as the kernels define it (y itself for beta 1).
std::vector<float> beta_step(const GemvProblem &p) {
    std::vector<float> y = p.y;
    if (p.beta != 1.0f)
        for (auto &v : y) v = p.beta == 0.0f ? 0.0f : p.beta * v;
    return y;
}

// ---------------------------------------------------------------------------
// Scalar models of the orders of operations.

// Chain per element in column order: y_i := fma(a_ij, alpha*x_j, y_i).
std::vector<float> model_column_chain(const GemvProblem &p) {
    std::vector<float> y = beta_step(p);
    for (int64_t j = 0; j < p.n; ++j) {
        const float t = p.alpha * p.x[j];
        for (int64_t i = 0; i < p.m; ++i) y[i] = std::fmaf(p.a[i + j * p.lda], t, y[i]);
    }
    return y;
}

// AVX2 transpose: lane k sums rows i = k (mod 8) over rows [r0, r1).
float avx2_lane_dot(const GemvProblem &p, int64_t j, int64_t r0, int64_t r1) {
    float lane[8] = {0, 0, 0, 0, 0, 0, 0, 0};
    for (int64_t i = r0; i < r1; ++i) lane[(i - r0) % 8] = std::fmaf(p.a[i + j * p.lda], p.x[i], lane[(i - r0) % 8]);
    return ((lane[0] + lane[1]) + (lane[4] + lane[5])) + ((lane[2] + lane[3]) + (lane[6] + lane[7]));
}

// AVX2 transpose, the rows taken in chunks of `chunk` (a chunk per call of the _t kernel).
std::vector<float> model_avx2_transpose(const GemvProblem &p, int64_t chunk) {
    std::vector<float> y = beta_step(p);
    for (int64_t r = 0; r < p.m; r += chunk)
        for (int64_t j = 0; j < p.n; ++j)
            y[j] = std::fmaf(avx2_lane_dot(p, j, r, std::min(p.m, r + chunk)), p.alpha, y[j]);
    return y;
}

// AVX2 transpose without scratch: lanes over the whole multiples of eight, then row by row.
std::vector<float> model_avx2_transpose_fallback(const GemvProblem &p) {
    std::vector<float> y = beta_step(p);
    const int64_t whole = p.m / 8 * 8;
    for (int64_t j = 0; j < p.n; ++j) {
        float d = avx2_lane_dot(p, j, 0, whole);
        for (int64_t i = whole; i < p.m; ++i) d = std::fmaf(p.a[i + j * p.lda], p.x[i], d);
        y[j] = std::fmaf(d, p.alpha, y[j]);
    }
    return y;
}

// AVX-512 no transpose: groups of eight columns with the tree on full 16-row
// blocks and a chain on the tail, then the remaining columns as chains.
std::vector<float> model_avx512_no_transpose(const GemvProblem &p) {
    std::vector<float> y = beta_step(p);
    const int64_t full_rows = p.m / 16 * 16;
    auto col = [&](int64_t j, int64_t i) { return p.a[i + j * p.lda]; };
    int64_t j = 0;
    for (; p.n - j >= 8; j += 8) {
        float t[8];
        for (int c = 0; c < 8; ++c) t[c] = p.alpha * p.x[j + c];
        for (int64_t i = 0; i < p.m; ++i) {
            float a[8];
            for (int c = 0; c < 8; ++c) a[c] = col(j + c, i);
            if (i < full_rows) {
                float upper = std::fmaf(t[4], a[4], std::fmaf(t[6], a[6], y[i])) + std::fmaf(t[5], a[5], t[7] * a[7]);
                float lower = std::fmaf(t[0], a[0], t[2] * a[2]) + std::fmaf(t[1], a[1], t[3] * a[3]);
                y[i] = upper + lower;
            } else {
                for (int c = 0; c < 8; ++c) y[i] = std::fmaf(t[c], a[c], y[i]);
            }
        }
    }
    for (; j < p.n; ++j)
        for (int64_t i = 0; i < p.m; ++i) y[i] = std::fmaf(p.alpha * p.x[j], col(j, i), y[i]);
    return y;
}

// AVX-512 transpose: 16 lanes, u_k = l_k + l_(k+8), v_k = u_k + u_(k+4),
// d = (v0 + v2) + (v1 + v3), y_j := fma(d, alpha, y_j).
std::vector<float> model_avx512_transpose(const GemvProblem &p) {
    std::vector<float> y = beta_step(p);
    for (int64_t j = 0; j < p.n; ++j) {
        float l[16] = {};
        for (int64_t i = 0; i < p.m; ++i) l[i % 16] = std::fmaf(p.a[i + j * p.lda], p.x[i], l[i % 16]);
        float u[8], v[4];
        for (int k = 0; k < 8; ++k) u[k] = l[k] + l[k + 8];
        for (int k = 0; k < 4; ++k) v[k] = u[k] + u[k + 4];
        y[j] = std::fmaf((v[0] + v[2]) + (v[1] + v[3]), p.alpha, y[j]);
    }
    return y;
}

// The bit-exact model of a set for contiguous vectors.
std::vector<float> exact_model(const SetUnderTest &set, const GemvProblem &p) {
    const bool avx2 = set.gemv == orb_blas_avx2_xsgemv;
    if (!p.transposed()) return avx2 ? model_column_chain(p) : model_avx512_no_transpose(p);
    return avx2 ? model_avx2_transpose(p, p.m) : model_avx512_transpose(p);
}

const int64_t kRowCounts[] = {1, 2, 7, 8, 9, 15, 16, 17, 23, 31, 32, 33, 40, 47, 48, 63, 64, 65, 100};
const int64_t kColumnCounts[] = {1, 2, 3, 4, 5, 7, 8, 9, 12, 13, 16, 17, 23};

// ---------------------------------------------------------------------------

TEST(SgemvKernels, MatchReferenceForEveryShapeAndIncrement) {
    const int64_t increments[] = {1, 2, -1, -3};
    const float scalars[][2] = {{1.5f, 0.0f}, {-0.75f, 1.0f}, {0.5f, -1.25f}};
    unsigned seed = 1;
    for (const auto &set : kSets)
        for (char trans : {'N', 'T'})
            for (int64_t m : {1, 7, 8, 9, 16, 17, 31, 32, 33, 70})
                for (int64_t n : {1, 2, 3, 4, 5, 8, 9, 13})
                    for (const auto &s : scalars) {
                        GemvProblem p = make_problem(trans, m, n, s[0], s[1], seed++);
                        for (int64_t incx : increments)
                            for (int64_t incy : increments) {
                                auto y = run_gemv(set.gemv, p, incx, incy);
                                expect_near_reference(p, y, describe(set.name, p, incx, incy));
                            }
                    }
}

TEST(SgemvKernels, ContiguousOrderOfOperationsBitForBit) {
    unsigned seed = 100;
    for (const auto &set : kSets)
        for (char trans : {'N', 'T'})
            for (int64_t m : kRowCounts)
                for (int64_t n : kColumnCounts)
                    for (float beta : {0.0f, 1.0f, 0.375f}) {
                        GemvProblem p = make_problem(trans, m, n, 1.25f, beta, seed++);
                        expect_same_bits(run_gemv(set.gemv, p, 1, 1), exact_model(set, p), describe(set.name, p, 1, 1));
                    }
}

// The stride of the vector that is not copied never changes a result; nor
// does the stride of the AVX-512 set's gathered vectors.
TEST(SgemvKernels, StridesDoNotChangeBits) {
    unsigned seed = 300;
    for (const auto &set : kSets)
        for (char trans : {'N', 'T'})
            for (int64_t m : {9, 33, 47})
                for (int64_t n : {5, 9, 17}) {
                    GemvProblem p = make_problem(trans, m, n, -0.5f, 0.25f, seed++);
                    auto want = exact_model(set, p);
                    // The AVX2 set copies a strided y (N) or x (T) through scratch
                    // chunks of 512 rows, which for m < 512 is one chunk.
                    for (int64_t inc : {2, -1, -4}) {
                        expect_same_bits(run_gemv(set.gemv, p, inc, 1), want, describe(set.name, p, inc, 1));
                        expect_same_bits(run_gemv(set.gemv, p, 1, inc), want, describe(set.name, p, 1, inc));
                        expect_same_bits(run_gemv(set.gemv, p, inc, inc), want, describe(set.name, p, inc, inc));
                    }
                }
}

TEST(SgemvKernels, LongStridedVectorsRunInChunks) {
    allocation_probe().reset();
    for (const auto &set : kSets) {
        const bool avx2 = set.gemv == orb_blas_avx2_xsgemv;
        // No transpose, strided y of 1300 elements: three chunks, same bits as a contiguous y.
        GemvProblem pn = make_problem('N', 1300, 11, 0.75f, 0.5f, 400);
        auto contiguous = run_gemv(set.gemv, pn, 1, 1);
        expect_near_reference(pn, contiguous, describe(set.name, pn, 1, 1));
        for (int64_t incy : {3, -2}) expect_same_bits(run_gemv(set.gemv, pn, 1, incy), contiguous, set.name);
        // Transpose, strided x of 1300 elements: the AVX2 set adds one chunk of
        // 512 rows at a time into y; the AVX-512 set reads x in place.
        GemvProblem pt = make_problem('T', 1300, 11, 0.75f, 0.5f, 401);
        auto want = avx2 ? model_avx2_transpose(pt, 512) : model_avx512_transpose(pt);
        for (int64_t incx : {2, -3}) {
            auto got = run_gemv(set.gemv, pt, incx, 1);
            expect_same_bits(got, want, describe(set.name, pt, incx, 1));
            expect_near_reference(pt, got, describe(set.name, pt, incx, 1));
        }
    }
    // Only the AVX2 set asks for scratch: 2048 bytes at 128, once per strided call.
    ASSERT_EQ(allocation_probe().sizes().size(), 4u);
    for (size_t k = 0; k < allocation_probe().sizes().size(); ++k) {
        EXPECT_EQ(allocation_probe().sizes()[k], 2048u);
        EXPECT_EQ(allocation_probe().alignments()[k], 128);
    }
}

TEST(SgemvKernels, Avx2ScalarPathsWithoutScratch) {
    for (int64_t m : {1, 5, 8, 13, 40, 517, 1030})
        for (int64_t n : {1, 3, 4, 6}) {
            GemvProblem pn = make_problem('N', m, n, -1.5f, 0.75f, static_cast<unsigned>(m * 10 + n));
            GemvProblem pt = make_problem('T', m, n, -1.5f, 0.75f, static_cast<unsigned>(m * 10 + n + 5));
            for (int64_t inc : {2, -3}) {
                allocation_probe().reset();
                auto buffered = run_gemv(orb_blas_avx2_xsgemv, pn, 1, inc);
                allocation_probe().refuse(true);
                auto fallback_n = run_gemv(orb_blas_avx2_xsgemv, pn, 1, inc);
                auto fallback_t = run_gemv(orb_blas_avx2_xsgemv, pt, inc, 1);
                allocation_probe().refuse(false);
                EXPECT_EQ(allocation_probe().sizes().size(), 3u);
                expect_same_bits(fallback_n, buffered, describe("avx2 fallback", pn, 1, inc));
                expect_same_bits(fallback_n, model_column_chain(pn), describe("avx2 fallback", pn, 1, inc));
                expect_same_bits(fallback_t, model_avx2_transpose_fallback(pt), describe("avx2 fallback", pt, inc, 1));
                expect_near_reference(pt, fallback_t, describe("avx2 fallback", pt, inc, 1));
            }
        }
    // With alpha 0 no scratch is needed at all.
    allocation_probe().reset();
    GemvProblem p = make_problem('N', 40, 3, 0.0f, 0.5f, 77);
    run_gemv(orb_blas_avx2_xsgemv, p, 2, 2);
    EXPECT_TRUE(allocation_probe().sizes().empty());
}

// The inner kernels on their own add into y without a beta step.
TEST(SgemvKernels, Avx2InnerKernelsAddIntoY) {
    for (int64_t m : {3, 8, 19, 32, 57})
        for (int64_t n : {1, 2, 5, 7}) {
            GemvProblem pn = make_problem('N', m, n, 0.625f, 1.0f, static_cast<unsigned>(m + 31 * n));
            const int64_t incx = -2;
            std::vector<float> xs = spread(pn.x, incx), y = pn.y;
            orb_blas_avx2_xsgemv_n(&pn.m, &pn.n, &pn.alpha, pn.a.data(), &pn.lda, xs.data(), &incx, y.data());
            expect_same_bits(y, model_column_chain(pn), describe("avx2 _n", pn, incx, 1));

            GemvProblem pt = make_problem('T', m, n, 0.625f, 1.0f, static_cast<unsigned>(m + 37 * n));
            const int64_t incy = 3;
            std::vector<float> ys = spread(pt.y, incy);
            orb_blas_avx2_xsgemv_t(&pt.m, &pt.n, &pt.alpha, pt.a.data(), &pt.lda, pt.x.data(), &incy, ys.data());
            expect_gaps_untouched(ys, pt.n, incy);
            expect_same_bits(gather(ys, pt.n, incy), model_avx2_transpose(pt, pt.m), describe("avx2 _t", pt, 1, incy));
        }
}

TEST(SgemvKernels, ResultsDoNotDependOnAlignment) {
    unsigned seed = 500;
    for (const auto &set : kSets)
        for (char trans : {'N', 'T'})
            for (int64_t m : {13, 37, 70})
                for (int64_t n : {3, 10}) {
                    GemvProblem p = make_problem(trans, m, n, 1.75f, -0.5f, seed++);
                    for (int64_t inc : {1, 2}) {
                        auto base = run_gemv(set.gemv, p, inc, inc, 0);
                        for (int offset = 1; offset <= 3; ++offset)
                            expect_same_bits(run_gemv(set.gemv, p, inc, inc, offset), base,
                                             describe(set.name, p, inc, inc) + " offset " + std::to_string(offset));
                    }
                }
}

// A whose columns all start `shift` floats past a 64-byte line (lda a
// multiple of 16), the case in which the AVX-512 set reads whole lines and
// the AVX2 transpose (for even shifts) aligned 8-row blocks, with masked
// first and last blocks: the orders of operations, and the floats around A
// and y, must not notice.
TEST(SgemvKernels, ColumnsOffALineBoundaryKeepTheOrderOfOperations) {
    unsigned seed = 900;
    for (const auto &set : kSets)
        for (char trans : {'N', 'T'})
            for (int64_t m : {1, 5, 16, 21, 40, 100})
                for (int64_t n : {8, 11, 16}) {
                    GemvProblem p = make_problem(trans, m, n, 1.25f, 0.5f, seed++);
                    p.lda = (m + 15) / 16 * 16;
                    p.a = random_floats(p.lda * n, seed++);
                    const auto want = exact_model(set, p);
                    for (int64_t shift : {0, 1, 2, 4, 6, 8, 15}) {
                        // A inside sentinels, its first column `shift` floats past a line.
                        std::vector<float> store(p.a.size() + 64, kSentinel);
                        const uintptr_t base = reinterpret_cast<uintptr_t>(store.data());
                        float *line = reinterpret_cast<float *>((base + 63) / 64 * 64);
                        float *a = line + 16 + shift;
                        std::memcpy(a, p.a.data(), p.a.size() * 4);
                        for (int64_t inc : {1, -2}) {
                            std::vector<float> xs = spread(p.x, inc), ys = spread(p.y, inc);
                            set.gemv(&p.trans, &p.m, &p.n, &p.alpha, a, &p.lda, xs.data(), &inc, &p.beta, ys.data(),
                                     &inc, 1);
                            const std::string what =
                                describe(set.name, p, inc, inc) + " shift " + std::to_string(shift);
                            expect_gaps_untouched(ys, p.leny(), inc);
                            expect_same_bits(gather(ys, p.leny(), inc), want, what);
                        }
                        for (float *f = store.data(); f < a; ++f) ASSERT_EQ(*f, kSentinel);
                        for (float *f = a + p.a.size(); f < store.data() + store.size(); ++f) ASSERT_EQ(*f, kSentinel);
                    }
                }
}

// Floats flush against a page the process cannot touch: the first float at
// the start of a page whose predecessor is inaccessible, or the last float at
// the end of a page whose successor is.  An access outside the floats faults.
class GuardedFloats {
public:
    GuardedFloats(const std::vector<float> &values, bool flush_at_start) {
        const size_t page = static_cast<size_t>(sysconf(_SC_PAGESIZE));
        const size_t bytes = values.size() * sizeof(float);
        data_pages_ = (bytes + page - 1) / page * page;
        size_ = data_pages_ + 2 * page;
        void *m = mmap(nullptr, size_, PROT_READ | PROT_WRITE, MAP_PRIVATE | MAP_ANONYMOUS, -1, 0);
        EXPECT_NE(m, MAP_FAILED);
        mapping_ = static_cast<char *>(m);
        mprotect(mapping_, page, PROT_NONE);
        mprotect(mapping_ + page + data_pages_, page, PROT_NONE);
        char *first = flush_at_start ? mapping_ + page : mapping_ + page + data_pages_ - bytes;
        data_ = reinterpret_cast<float *>(first);
        std::memcpy(data_, values.data(), bytes);
    }
    GuardedFloats(const GuardedFloats &) = delete;
    GuardedFloats &operator=(const GuardedFloats &) = delete;
    ~GuardedFloats() { munmap(mapping_, size_); }
    float *data() const { return data_; }

private:
    char *mapping_ = nullptr;  // guard page, data pages, guard page
    size_t size_ = 0;          // bytes mapped
    size_t data_pages_ = 0;    // bytes of the data pages
    float *data_ = nullptr;    // the floats
};

// x and y flush against inaccessible pages, before or after, with A's
// columns on and off a line boundary (the grids whose edge blocks reach
// furthest past the vectors): every result keeps its bits and no kernel
// touches a float outside the vectors.  The kernels keep the blocks that
// reach past a vector's ends in local copies; the test would fault on a
// copy that read outside, and find a copy that was not written back.
TEST(SgemvKernels, VectorsNextToInaccessiblePages) {
    unsigned seed = 1300;
    for (const auto &set : kSets)
        for (char trans : {'N', 'T'})
            for (int64_t m : {3, 21, 40, 100})
                for (int64_t n : {9, 13}) {
                    GemvProblem p = make_problem(trans, m, n, 0.75f, 0.5f, seed++);
                    p.lda = (m + 15) / 16 * 16;
                    p.a = random_floats(p.lda * n, seed++);
                    const auto want = exact_model(set, p);
                    for (int64_t shift : {0, 4, 6})
                        for (bool at_start : {true, false}) {
                            std::vector<float> store(p.a.size() + 64);
                            const uintptr_t base = reinterpret_cast<uintptr_t>(store.data());
                            float *a = reinterpret_cast<float *>((base + 63) / 64 * 64) + 16 + shift;
                            std::memcpy(a, p.a.data(), p.a.size() * 4);
                            GuardedFloats x(p.x, at_start), y(p.y, at_start);
                            const int64_t one = 1;
                            set.gemv(&p.trans, &p.m, &p.n, &p.alpha, a, &p.lda, x.data(), &one, &p.beta, y.data(),
                                     &one, 1);
                            const std::vector<float> got(y.data(), y.data() + p.leny());
                            expect_same_bits(got, want,
                                             describe(set.name, p, 1, 1) + " shift " + std::to_string(shift) +
                                                 (at_start ? " vectors at page starts" : " vectors at page ends"));
                        }
                }
}

// Matrices of 16 MiB and more take their columns eight per pass on the AVX2
// set and are read with software prefetch on both sets: the orders of
// operations stay those of small matrices.  The shapes leave groups of four,
// two and one after the last group of eight, and a masked row tail.
TEST(SgemvKernels, LargeMatricesKeepTheOrderOfOperations) {
    const std::pair<int64_t, int64_t> shapes[] = {{1029, 4079}, {45, 93215}};
    unsigned seed = 1200;
    for (const auto &set : kSets)
        for (char trans : {'N', 'T'})
            for (const auto &[m, n] : shapes) {
                GemvProblem p = make_problem(trans, m, n, 0.75f, 0.5f, seed++);
                expect_same_bits(run_gemv(set.gemv, p, 1, 1), exact_model(set, p), describe(set.name, p, 1, 1));
            }
}

TEST(SgemvKernels, SpecialScalars) {
    for (const auto &set : kSets)
        for (char trans : {'N', 'T'})
            for (int64_t inc : {1, 2, -1}) {
                // alpha 0, beta 1: y untouched even with NaN in A and x.
                GemvProblem p = make_problem(trans, 21, 6, 0.0f, 1.0f, 600);
                p.a[5] = kNaN;
                p.x[2] = kNaN;
                expect_same_bits(run_gemv(set.gemv, p, inc, inc), p.y, describe(set.name, p, inc, inc));
                // alpha 0, beta 0: zeros, NaN in A, x and y notwithstanding.
                p.beta = 0.0f;
                p.y[1] = kNaN;
                p.y[3] = std::numeric_limits<float>::infinity();
                expect_same_bits(run_gemv(set.gemv, p, inc, inc), std::vector<float>(p.leny(), 0.0f),
                                 describe(set.name, p, inc, inc));
                // alpha 0, other beta: y scaled only.
                p.beta = -2.0f;
                p.y = random_floats(p.leny(), 601);
                auto scaled = p.y;
                for (auto &v : scaled) v *= -2.0f;
                expect_same_bits(run_gemv(set.gemv, p, inc, inc), scaled, describe(set.name, p, inc, inc));
                // beta 0 clears a NaN in y before the product is added.
                GemvProblem q = make_problem(trans, 21, 6, 1.0f, 0.0f, 602);
                q.y[0] = kNaN;
                q.y[q.leny() - 1] = -std::numeric_limits<float>::infinity();
                auto got = run_gemv(set.gemv, q, inc, inc);
                for (float v : got) ASSERT_TRUE(std::isfinite(v)) << describe(set.name, q, inc, inc);
                expect_near_reference(q, got, describe(set.name, q, inc, inc));
            }
}

TEST(SgemvKernels, EmptyProblemsLeaveYAlone) {
    for (const auto &set : kSets)
        for (char trans : {'N', 'T'})
            for (auto [m, n] : {std::pair<int64_t, int64_t>{0, 5}, {5, 0}}) {
                GemvProblem p = make_problem(trans, m, n, 1.0f, 0.0f, 700);
                p.y.assign(5, kNaN);
                const int64_t one = 1;
                std::vector<float> y = p.y;
                set.gemv(&p.trans, &p.m, &p.n, &p.alpha, p.a.data(), &p.lda, p.x.data(), &one, &p.beta, y.data(),
                         &one, 1);
                for (float v : y) EXPECT_TRUE(std::isnan(v)) << set.name;
            }
}

// ---------------------------------------------------------------------------
// Rank-1 update.

// The element formula with t = alpha*y_j rounded once.
float rank_one_element(float alpha, float beta, float xi, float yj, float c) {
    const float t = alpha * yj;
    if (alpha == 0.0f) return beta == 0.0f ? 0.0f : beta == 1.0f ? c : beta * c;
    if (beta == 0.0f) return t * xi;
    if (beta == 1.0f) return std::fmaf(xi, t, c);
    return std::fmaf(beta, c, t * xi);
}

TEST(RankOneKernels, ExactFormulasAndReference) {
    const float scalars[][2] = {{1.3f, 0.0f}, {-0.7f, 1.0f}, {2.5f, 0.6f}, {0.0f, 0.0f}, {0.0f, 1.0f}, {0.0f, -1.5f}};
    unsigned seed = 800;
    for (const auto &set : kSets)
        for (int64_t m : {1, 3, 4, 5, 15, 16, 17, 20, 33, 100})
            for (int64_t n : {1, 2, 5})
                for (int64_t incx : {1, 2, -3})
                    for (int64_t incy : {1, 3})
                        for (const auto &s : scalars) {
                            const float alpha = s[0], beta = s[1];
                            const int64_t ldc = m + 2;
                            auto xv = random_floats(m, seed++), yv = random_floats(n, seed++);
                            auto c = random_floats(ldc * n, seed++);
                            for (int64_t j = 0; j < n; ++j)
                                for (int64_t i = m; i < ldc; ++i) c[i + j * ldc] = kSentinel;
                            if (alpha == 0.0f) xv[0] = kNaN;             // never read
                            if (beta == 0.0f) c[0] = kNaN;               // never read
                            auto xs = spread(xv, incx), ys = spread(yv, incy);
                            auto out = c;
                            set.ger("N", "N", &m, &n, &alpha, xs.data(), &incx, ys.data(), &incy, &beta, out.data(),
                                    &ldc);
                            const std::string what = std::string(set.name) + " m=" + std::to_string(m) +
                                                     " n=" + std::to_string(n) + " incx=" + std::to_string(incx) +
                                                     " alpha=" + std::to_string(alpha) +
                                                     " beta=" + std::to_string(beta);
                            for (int64_t j = 0; j < n; ++j)
                                for (int64_t i = 0; i < ldc; ++i) {
                                    const float got = out[i + j * ldc];
                                    if (i >= m) {
                                        ASSERT_EQ(got, kSentinel) << what;
                                        continue;
                                    }
                                    const float old = c[i + j * ldc];
                                    ASSERT_EQ(bits(got), bits(rank_one_element(alpha, beta, xv[i], yv[j], old)))
                                        << what << " at " << i << "," << j;
                                    if (alpha == 0.0f) continue;  // x holds a NaN that must not be read
                                    const double product = double(alpha) * xv[i] * yv[j];
                                    const double kept = beta == 0.0f ? 0.0 : double(beta) * old;
                                    const double want = product + kept;
                                    const double mag = std::fabs(product) + std::fabs(kept);
                                    ASSERT_NEAR(got, want, gemm_error_bound(1, mag)) << what;
                                }
                        }
}

// A contiguous x flush against an inaccessible page: each column's tail
// block reads x's staged copy, never the page beyond.
TEST(RankOneKernels, XNextToInaccessiblePages) {
    unsigned seed = 1400;
    for (const auto &set : kSets)
        for (int64_t m : {5, 16, 37})
            for (bool at_start : {true, false}) {
                const int64_t n = 3, ldc = m, one = 1;
                const float alpha = 1.5f, beta = 0.25f;
                const auto xv = random_floats(m, seed++), yv = random_floats(n, seed++);
                const auto c = random_floats(m * n, seed++);
                GuardedFloats x(xv, at_start);
                auto out = c;
                set.ger("N", "N", &m, &n, &alpha, x.data(), &one, yv.data(), &one, &beta, out.data(), &ldc);
                for (int64_t j = 0; j < n; ++j)
                    for (int64_t i = 0; i < m; ++i)
                        ASSERT_EQ(bits(out[i + j * ldc]),
                                  bits(rank_one_element(alpha, beta, xv[i], yv[j], c[i + j * ldc])))
                            << set.name << " m=" << m << " at " << i << "," << j;
            }
}

TEST(RankOneKernels, EmptyShapesTouchNothing) {
    for (const auto &set : kSets) {
        const int64_t zero = 0, three = 3, one = 1;
        const float alpha = 1.0f, beta = 0.0f;
        std::vector<float> x(3, 1.0f), y(3, 1.0f), c(9, kNaN);
        set.ger("N", "N", &zero, &three, &alpha, x.data(), &one, y.data(), &one, &beta, c.data(), &three);
        set.ger("N", "N", &three, &zero, &alpha, x.data(), &one, y.data(), &one, &beta, c.data(), &three);
        for (float v : c) EXPECT_TRUE(std::isnan(v)) << set.name;
    }
}

// ---------------------------------------------------------------------------
// Copy.

TEST(CopyKernels, EveryIncrementSign) {
    for (const auto &set : kSets)
        for (int64_t n : {1, 7, 8, 16, 33, 64, 100, 131})
            for (int64_t incx : {1, 2, -1, -3, 0})
                for (int64_t incy : {1, 3, -1, -2, 0}) {
                    auto values = random_floats(n, static_cast<unsigned>(n * 7 + incx * 3 + incy + 50));
                    // A zero increment names one element n times.
                    auto xs = incx == 0 ? std::vector<float>{values[0]} : spread(values, incx);
                    std::vector<float> ys(static_cast<size_t>(storage(n, incy)), kSentinel);
                    set.copy(&n, xs.data(), &incx, ys.data(), &incy);
                    const std::string what = std::string(set.name) + " n=" + std::to_string(n) +
                                             " incx=" + std::to_string(incx) + " incy=" + std::to_string(incy);
                    auto x_at = [&](int64_t i) { return incx == 0 ? values[0] : values[i]; };
                    if (incy == 0) {
                        ASSERT_EQ(ys.size(), 1u);
                        EXPECT_EQ(bits(ys[0]), bits(x_at(n - 1))) << what;  // the last copy wins
                        continue;
                    }
                    for (int64_t i = 0; i < n; ++i) ASSERT_EQ(bits(ys[slot(i, n, incy)]), bits(x_at(i))) << what;
                    expect_gaps_untouched(ys, n, incy);
                }
}

TEST(CopyKernels, NonPositiveLengthCopiesNothing) {
    for (const auto &set : kSets)
        for (int64_t n : {0, -4}) {
            const int64_t one = 1;
            float x[4] = {1, 2, 3, 4}, y[4] = {kSentinel, kSentinel, kSentinel, kSentinel};
            set.copy(&n, x, &one, y, &one);
            for (float v : y) EXPECT_EQ(v, kSentinel) << set.name;
        }
}

}  // namespace
