// The SGEMV, rank-1 and copy kernels of the 128-bit sets (def, cnr_def, mc3),
// called directly.  SGEMV results are compared with the double-precision
// reference within the error bound of a reordered float sum, over the row
// and column remainders, strided and negative increments and larger shapes;
// the quick returns and the beta rule are checked with NaN where a value
// must not be read.  The reproducible kernels must give the same bits for
// operands placed at other addresses, and the ordinary ones must show that
// their vector loops follow the address.  Rank-1 and copy results are
// checked element by element against the exact float formulas.  Every call
// also checks that memory around its operands is untouched.
#include <gtest/gtest.h>

#include <cmath>
#include <cstdio>
#include <cstdint>
#include <cstring>
#include <limits>
#include <random>
#include <string>
#include <vector>

#include "blas/kernels/cnr_def/cnr_def_kernels.h"
#include "blas/kernels/def/def_kernels.h"
#include "blas/kernels/mc3/mc3_kernels.h"
#include "orb_service.h"
#include "support/child_process.h"
#include "support/reference_gemm.h"

namespace {

constexpr float kGuard = 4321.0f;  // fills memory a kernel must not write
const float kNaN = std::numeric_limits<float>::quiet_NaN();

using SgemvFn = void (*)(const char *, const int64_t *, const int64_t *, const float *, const float *,
                         const int64_t *, const float *, const int64_t *, const float *, float *, const int64_t *,
                         int);
using RankOneFn = void (*)(const char *, const char *, const int64_t *, const int64_t *, const float *,
                           const float *, const int64_t *, const float *, const int64_t *, const float *, float *,
                           const int64_t *);
using CopyFn = void (*)(const int64_t *, const float *, const int64_t *, float *, const int64_t *);

struct SgemvKernel {
    const char *name;   // set and path
    SgemvFn fn;         // the kernel
    bool reproducible;  // result independent of the operands' addresses
};

const SgemvKernel kSgemvKernels[] = {
    {"def", orb_blas_def_xsgemv, false},
    {"cnr_def", orb_blas_cnr_def_xsgemv, true},
    {"mc3", orb_blas_mc3_xsgemv, false},
    {"mc3_cnr", orb_blas_mc3_xsgemv_cnr, true},
};

struct SetKernels {
    const char *name;  // kernel set
    RankOneFn rank_one;  // its rank-1 kernel
    CopyFn copy;         // its copy kernel
};

const SetKernels kSets[] = {
    {"def", orb_blas_def_xsgemmger, orb_blas_def_xscopy},
    {"cnr_def", orb_blas_cnr_def_xsgemmger, orb_blas_cnr_def_xscopy},
    {"mc3", orb_blas_mc3_xsgemmger, orb_blas_mc3_xscopy},
};

// Floats `misalign` elements past a 64-byte boundary, guard-filled around
// the `size` usable elements.
struct Buffer {
    Buffer(int64_t size_, int64_t misalign) : size(size_), storage(static_cast<size_t>(size_ + 48), kGuard) {
        uintptr_t base = reinterpret_cast<uintptr_t>(storage.data());
        offset = static_cast<int64_t>((64 - base % 64) % 64) / 4 + misalign;
    }
    float *data() { return storage.data() + offset; }
    const float *data() const { return storage.data() + offset; }
    float &operator[](int64_t i) { return data()[i]; }
    int64_t size;                // usable elements
    std::vector<float> storage;  // usable elements plus guards and the alignment slack
    int64_t offset;              // index of element 0 in storage
};

void fill_random(Buffer &b, std::mt19937 &rng) {
    std::uniform_real_distribution<float> value(-1.0f, 1.0f);
    for (int64_t i = 0; i < b.size; ++i) b[i] = value(rng);
}

// The same contents at another placement.
Buffer placed_copy(const Buffer &from, int64_t misalign) {
    Buffer to(from.size, misalign);
    std::memcpy(to.data(), from.data(), static_cast<size_t>(from.size) * sizeof(float));
    return to;
}

// Index in a vector's storage of element i (BLAS increment convention).
int64_t slot(int64_t i, int64_t length, int64_t inc) { return inc >= 0 ? i * inc : (length - 1 - i) * -inc; }
int64_t storage_length(int64_t length, int64_t inc) { return length == 0 ? 0 : (length - 1) * std::abs(inc) + 1; }

bool same_bits(float a, float b) { return std::memcmp(&a, &b, sizeof a) == 0; }

// Storage indices the call may write; everything else must keep its bits.
std::vector<bool> written_slots(int64_t size, int64_t length, int64_t inc) {
    std::vector<bool> written(static_cast<size_t>(size), false);
    for (int64_t i = 0; i < length; ++i) written[static_cast<size_t>(slot(i, length, inc))] = true;
    return written;
}

// An SGEMV problem with its operands in guarded buffers.
struct SgemvCase {
    char trans;            // 'N' or 'T'
    int64_t m, n, lda;     // shape of the stored A
    int64_t incx, incy;    // increments
    float alpha, beta;     // factors
    int64_t len_x() const { return trans == 'N' ? n : m; }
    int64_t len_y() const { return trans == 'N' ? m : n; }
};

struct SgemvOperands {
    SgemvOperands(const SgemvCase &c, std::mt19937 &rng, int64_t misalign = 0)
        : a(c.lda * c.n, misalign), x(storage_length(c.len_x(), c.incx), misalign),
          y(storage_length(c.len_y(), c.incy), misalign) {
        fill_random(a, rng);
        fill_random(x, rng);
        fill_random(y, rng);
        // Rows below m in A are padding: NaN there would spread into y if read.
        for (int64_t j = 0; j < c.n; ++j)
            for (int64_t i = c.m; i < c.lda; ++i) a[i + j * c.lda] = kNaN;
    }
    Buffer a, x, y;  // A (lda x n), x and y in their strided storage
};

void run(const SgemvKernel &k, const SgemvCase &c, const float *a, const float *x, float *y) {
    k.fn(&c.trans, &c.m, &c.n, &c.alpha, a, &c.lda, x, &c.incx, &c.beta, y, &c.incy, 1);
}

std::string describe(const SgemvKernel &k, const SgemvCase &c) {
    return std::string(k.name) + " trans=" + c.trans + " m=" + std::to_string(c.m) + " n=" + std::to_string(c.n) +
           " lda=" + std::to_string(c.lda) + " incx=" + std::to_string(c.incx) + " incy=" +
           std::to_string(c.incy) + " alpha=" + std::to_string(c.alpha) + " beta=" + std::to_string(c.beta);
}

// Runs the kernel and compares y with the reference; guards must survive.
void expect_reference_result(const SgemvKernel &k, const SgemvCase &c, std::mt19937 &rng) {
    SCOPED_TRACE(describe(k, c));
    SgemvOperands op(c, rng);
    std::vector<double> magnitude;
    std::vector<double> want = reference_sgemv(c.trans, c.m, c.n, c.alpha, op.a.data(), c.lda, op.x.data(), c.incx,
                                               c.beta, op.y.data(), c.incy, &magnitude);
    std::vector<float> before = op.y.storage;
    run(k, c, op.a.data(), op.x.data(), op.y.data());
    std::vector<bool> written = written_slots(op.y.size, c.len_y(), c.incy);
    for (int64_t s = 0; s < static_cast<int64_t>(op.y.storage.size()); ++s) {
        int64_t index = s - op.y.offset;
        bool in_vector = index >= 0 && index < op.y.size && written[static_cast<size_t>(index)];
        if (!in_vector) ASSERT_TRUE(same_bits(before[static_cast<size_t>(s)], op.y.storage[static_cast<size_t>(s)]))
            << "storage slot " << index << " outside y was written";
    }
    for (int64_t i = 0; i < c.len_y(); ++i) {
        double got = op.y[slot(i, c.len_y(), c.incy)];
        double bound = gemm_error_bound(c.len_x(), magnitude[static_cast<size_t>(i)]);
        ASSERT_NEAR(got, want[static_cast<size_t>(i)], bound) << "element " << i;
    }
}

struct Increments {
    int64_t x, y;  // incx, incy
};
const Increments kIncrements[] = {{1, 1}, {2, 3}, {-1, -2}, {-3, 1}, {1, -1}};

TEST(SseSgemvKernels, RowAndColumnRemaindersMatchReference) {
    std::mt19937 rng(11);
    for (const SgemvKernel &k : kSgemvKernels)
        for (char trans : {'N', 'T'})
            for (Increments inc : kIncrements)
                for (int64_t m = 7; m <= 33; ++m)
                    for (int64_t n = 1; n <= 5; ++n)
                        expect_reference_result(k, {trans, m, n, m + 3, inc.x, inc.y, 1.5f, -0.75f}, rng);
}

TEST(SseSgemvKernels, BetaZeroAndOneMatchReference) {
    std::mt19937 rng(12);
    for (const SgemvKernel &k : kSgemvKernels)
        for (char trans : {'N', 'T'})
            for (Increments inc : kIncrements)
                for (float beta : {0.0f, 1.0f})
                    for (int64_t m : {1, 2, 3, 4, 5, 17})
                        for (int64_t n : {1, 4, 9})
                            expect_reference_result(k, {trans, m, n, m, inc.x, inc.y, -2.0f, beta}, rng);
}

TEST(SseSgemvKernels, LargeShapesMatchReference) {
    std::mt19937 rng(13);
    for (const SgemvKernel &k : kSgemvKernels)
        for (char trans : {'N', 'T'})
            for (Increments inc : {Increments{1, 1}, Increments{-2, 3}}) {
                expect_reference_result(k, {trans, 300, 257, 301, inc.x, inc.y, 0.5f, 2.0f}, rng);
                expect_reference_result(k, {trans, 1029, 66, 1029, inc.x, inc.y, 1.0f, 0.0f}, rng);
            }
}

TEST(SseSgemvKernels, AlphaZeroBetaOneReadsNothingAndWritesNothing) {
    std::mt19937 rng(14);
    for (const SgemvKernel &k : kSgemvKernels)
        for (char trans : {'N', 'T'}) {
            SCOPED_TRACE(std::string(k.name) + " " + trans);
            SgemvCase c{trans, 19, 6, 19, 1, 2, 0.0f, 1.0f};
            SgemvOperands op(c, rng);
            for (float &v : op.a.storage) v = kNaN;
            for (float &v : op.x.storage) v = kNaN;
            std::vector<float> before = op.y.storage;
            run(k, c, op.a.data(), op.x.data(), op.y.data());
            EXPECT_EQ(0, std::memcmp(before.data(), op.y.storage.data(), before.size() * sizeof(float)));
        }
}

TEST(SseSgemvKernels, BetaZeroClearsNaNInY) {
    std::mt19937 rng(15);
    for (const SgemvKernel &k : kSgemvKernels)
        for (char trans : {'N', 'T'})
            for (float alpha : {0.0f, 1.25f}) {
                SCOPED_TRACE(std::string(k.name) + " " + trans + " alpha=" + std::to_string(alpha));
                SgemvCase c{trans, 13, 5, 13, 1, 1, alpha, 0.0f};
                SgemvOperands op(c, rng);
                if (alpha == 0.0f)  // nothing of A or x may be read either
                    for (float &v : op.a.storage) v = kNaN;
                for (int64_t i = 0; i < op.y.size; ++i) op.y[i] = kNaN;
                std::vector<double> want = reference_sgemv(trans, c.m, c.n, alpha, op.a.data(), c.lda, op.x.data(),
                                                           1, 0.0, op.y.data(), 1);
                run(k, c, op.a.data(), op.x.data(), op.y.data());
                for (int64_t i = 0; i < c.len_y(); ++i) {
                    ASSERT_FALSE(std::isnan(op.y[i])) << "element " << i;
                    if (alpha == 0.0f) ASSERT_TRUE(same_bits(op.y[i], 0.0f)) << "element " << i;
                    else ASSERT_NEAR(op.y[i], want[static_cast<size_t>(i)], 1e-5) << "element " << i;
                }
            }
}

TEST(SseSgemvKernels, AlphaZeroScalesYByBetaWithoutReadingA) {
    std::mt19937 rng(16);
    for (const SgemvKernel &k : kSgemvKernels)
        for (char trans : {'N', 'T'}) {
            SCOPED_TRACE(std::string(k.name) + " " + trans);
            SgemvCase c{trans, 23, 7, 23, 1, -2, 0.0f, 3.0f};
            SgemvOperands op(c, rng);
            for (float &v : op.a.storage) v = kNaN;
            std::vector<float> before = op.y.storage;
            run(k, c, op.a.data(), op.x.data(), op.y.data());
            for (int64_t i = 0; i < c.len_y(); ++i) {
                size_t s = static_cast<size_t>(op.y.offset + slot(i, c.len_y(), c.incy));
                ASSERT_TRUE(same_bits(op.y.storage[s], 3.0f * before[s])) << "element " << i;
            }
        }
}

TEST(SseSgemvKernels, EmptyShapesLeaveYUntouched) {
    std::mt19937 rng(17);
    for (const SgemvKernel &k : kSgemvKernels)
        for (char trans : {'N', 'T'})
            for (auto shape : {std::pair<int64_t, int64_t>{0, 5}, {5, 0}}) {
                SgemvCase c{trans, shape.first, shape.second, 5, 1, 1, 1.0f, 0.0f};
                Buffer y(8, 0);
                for (int64_t i = 0; i < 8; ++i) y[i] = kNaN;
                Buffer a(25, 0), x(8, 0);
                run(k, c, a.data(), x.data(), y.data());
                for (int64_t i = 0; i < 8; ++i) ASSERT_TRUE(std::isnan(y[i])) << k.name << " " << trans;
            }
}

// Runs c on operands copied to `misalign` floats past a 64-byte boundary.
std::vector<float> result_at(const SgemvKernel &k, const SgemvCase &c, const SgemvOperands &op, int64_t misalign) {
    Buffer a = placed_copy(op.a, misalign), x = placed_copy(op.x, misalign), y = placed_copy(op.y, misalign);
    run(k, c, a.data(), x.data(), y.data());
    return std::vector<float>(y.data(), y.data() + y.size);
}

const SgemvCase kPlacementCases[] = {
    {'T', 257, 5, 257, 1, 1, 1.0f, 0.5f}, {'T', 31, 3, 33, 1, 1, -1.5f, 0.0f}, {'T', 100, 9, 101, 2, 1, 1.0f, 1.0f},
    {'N', 257, 5, 257, 1, 1, 1.0f, 0.5f}, {'N', 30, 7, 31, -1, 2, 2.0f, 1.0f}, {'T', 6, 4, 6, 1, -1, 1.0f, 0.0f},
};

TEST(SseSgemvKernels, ReproducibleKernelsGiveTheSameBitsAtEveryAlignment) {
    std::mt19937 rng(18);
    for (const SgemvKernel &k : kSgemvKernels) {
        if (!k.reproducible) continue;
        for (const SgemvCase &c : kPlacementCases)
            for (int trial = 0; trial < 5; ++trial) {
                SCOPED_TRACE(describe(k, c));
                SgemvOperands op(c, rng);
                std::vector<float> aligned = result_at(k, c, op, 0);
                for (int64_t misalign : {1, 2, 3}) {
                    std::vector<float> moved = result_at(k, c, op, misalign);
                    ASSERT_EQ(0, std::memcmp(aligned.data(), moved.data(), aligned.size() * sizeof(float)))
                        << "operands " << misalign << " floats past a 64-byte boundary";
                }
            }
    }
}

// The ordinary kernels align their vector loops: with x on a 16-byte
// boundary they split the dot products exactly as the reproducible kernel
// does, one float further their lanes shift and some sums round differently.
void expect_address_dependent(const SgemvKernel &ordinary, const SgemvKernel &reproducible) {
    std::mt19937 rng(19);
    SgemvCase c{'T', 257, 8, 257, 1, 1, 1.0f, 0.0f};
    int differing = 0;
    for (int trial = 0; trial < 20; ++trial) {
        SgemvOperands op(c, rng);
        std::vector<float> reference = result_at(reproducible, c, op, 0);
        std::vector<float> aligned = result_at(ordinary, c, op, 0);
        ASSERT_EQ(0, std::memcmp(reference.data(), aligned.data(), reference.size() * sizeof(float)));
        std::vector<float> shifted = result_at(ordinary, c, op, 1);
        differing += std::memcmp(reference.data(), shifted.data(), reference.size() * sizeof(float)) != 0;
    }
    EXPECT_GT(differing, 0) << ordinary.name << " gave the reproducible result for every shifted x";
}

TEST(SseSgemvKernels, DefFollowsTheAddressOfX) { expect_address_dependent(kSgemvKernels[0], kSgemvKernels[1]); }

// The mc3 kernel reads the branch on every call; run it in processes whose
// environment sets the branch.  The child prints the branch it runs under and
// how many of its shifted cases differed from _cnr.
ORB_CHILD_ENTRY(mc3_shifted_cases_differing_from_cnr) {
    std::mt19937 rng(20);
    int differing = 0;
    for (const SgemvCase &c : kPlacementCases)
        for (int trial = 0; trial < 5; ++trial) {
            SgemvOperands op(c, rng);
            std::vector<float> shifted = result_at(kSgemvKernels[2], c, op, 1);
            std::vector<float> reproducible = result_at(kSgemvKernels[3], c, op, 1);
            differing += std::memcmp(shifted.data(), reproducible.data(), shifted.size() * sizeof(float)) != 0;
        }
    printf("%d %d\n", orb_serv_cbwr_get(1), differing);
    return 0;
}

struct Mc3Outcome {
    int branch;     // the child's reproducibility branch
    int differing;  // shifted cases whose result differed from _cnr
};

Mc3Outcome run_mc3_child(const std::vector<std::string> &settings) {
    ChildResult r = run_child("mc3_shifted_cases_differing_from_cnr", settings);
    EXPECT_EQ(0, r.exit_code) << r.err;
    Mc3Outcome outcome{-1, -1};
    EXPECT_EQ(2, sscanf(r.out.c_str(), "%d %d", &outcome.branch, &outcome.differing)) << r.out;
    return outcome;
}

TEST(SseSgemvKernels, Mc3HandsEveryCallToCnrUnderABranch) {
    for (const char *branch : {"ORB_CBWR=AUTO", "ORB_CBWR=COMPATIBLE", "ORB_CBWR=AVX2,STRICT"}) {
        Mc3Outcome outcome = run_mc3_child({branch});
        EXPECT_NE(ORB_CBWR_OFF, outcome.branch) << branch;
        EXPECT_EQ(0, outcome.differing) << branch;
    }
}

TEST(SseSgemvKernels, Mc3FollowsTheAddressWithBranchOff) {
    Mc3Outcome outcome = run_mc3_child({});  // ORB_CBWR unset: OFF
    EXPECT_EQ(ORB_CBWR_OFF, outcome.branch);
    EXPECT_GT(outcome.differing, 0);
    if (orb_serv_cbwr_get(1) == ORB_CBWR_OFF) expect_address_dependent(kSgemvKernels[2], kSgemvKernels[3]);
}

// --- rank-1 ------------------------------------------------------------------

struct RankOneCase {
    int64_t m, n, ldc;     // shape of C
    int64_t incx, incy;    // increments (positive on this path)
    float alpha, beta;     // factors
};

// The exact float result of one element: t = alpha*y_j rounded, then the
// formula of the beta case with every product and sum rounded.
float rank_one_element(float alpha, float beta, float xi, float yj, float cij) {
    if (alpha == 0.0f) return beta == 0.0f ? 0.0f : beta == 1.0f ? cij : beta * cij;
    float t = alpha * yj;
    float product = t * xi;
    if (beta == 0.0f) return product;
    if (beta == 1.0f) return cij + product;
    float scaled = beta * cij;
    return scaled + product;
}

void expect_rank_one(const SetKernels &set, const RankOneCase &c, std::mt19937 &rng, int64_t misalign) {
    SCOPED_TRACE(std::string(set.name) + " m=" + std::to_string(c.m) + " n=" + std::to_string(c.n) +
                 " incx=" + std::to_string(c.incx) + " incy=" + std::to_string(c.incy) +
                 " alpha=" + std::to_string(c.alpha) + " beta=" + std::to_string(c.beta) +
                 " misalign=" + std::to_string(misalign));
    Buffer x(storage_length(c.m, c.incx), 0), y(storage_length(c.n, c.incy), 0), cm(c.ldc * c.n, misalign);
    fill_random(x, rng);
    fill_random(y, rng);
    fill_random(cm, rng);
    if (c.beta == 0.0f)
        for (int64_t i = 0; i < cm.size; ++i) cm[i] = kNaN;  // must be overwritten, never read
    if (c.alpha == 0.0f) {                                   // nothing of x or y may be read
        for (float &v : x.storage) v = kNaN;
        for (float &v : y.storage) v = kNaN;
    }
    std::vector<float> before = cm.storage;
    const char no = 'N';
    set.rank_one(&no, &no, &c.m, &c.n, &c.alpha, x.data(), &c.incx, y.data(), &c.incy, &c.beta, cm.data(), &c.ldc);
    for (int64_t s = 0; s < static_cast<int64_t>(cm.storage.size()); ++s) {
        int64_t index = s - cm.offset;
        int64_t row = index % c.ldc, col = index / c.ldc;
        bool inside = index >= 0 && col < c.n && row < c.m;
        size_t at = static_cast<size_t>(s);
        if (!inside) {
            ASSERT_TRUE(same_bits(before[at], cm.storage[at])) << "slot " << index << " outside C was written";
            continue;
        }
        float xi = x[row * c.incx], yj = y[col * c.incy];
        float want = rank_one_element(c.alpha, c.beta, xi, yj, before[at]);
        ASSERT_TRUE(same_bits(want, cm.storage[at])) << "c(" << row << ", " << col << ") = " << cm.storage[at]
                                                     << ", want " << want;
        // The formula itself against the double-precision update.
        double product = c.alpha == 0.0f ? 0.0 : static_cast<double>(c.alpha) * xi * yj;
        double scaled = c.beta == 0.0f ? 0.0 : c.beta * static_cast<double>(before[at]);
        double exact = product + scaled, magnitude = std::fabs(product) + std::fabs(scaled);
        ASSERT_NEAR(cm.storage[at], exact, gemm_error_bound(1, magnitude));
    }
}

TEST(SseRankOneKernels, EveryBetaCaseMatchesTheExactFormula) {
    std::mt19937 rng(21);
    for (const SetKernels &set : kSets)
        for (float beta : {0.0f, 1.0f, 0.75f, -2.0f})
            for (float alpha : {1.25f, -0.5f})
                for (Increments inc : {Increments{1, 1}, Increments{2, 3}})
                    for (int64_t m : {1, 2, 3, 4, 5, 7, 8, 9, 15, 16, 17, 19, 300})
                        for (int64_t n : {1, 2, 5})
                            expect_rank_one(set, {m, n, m + 2, inc.x, inc.y, alpha, beta}, rng, m % 4);
}

TEST(SseRankOneKernels, LargeUpdateAtEveryAlignment) {
    std::mt19937 rng(22);
    for (const SetKernels &set : kSets)
        for (int64_t misalign : {0, 1, 2, 3})
            expect_rank_one(set, {301, 130, 303, 1, 2, 0.5f, 1.5f}, rng, misalign);
}

TEST(SseRankOneKernels, AlphaZeroClearsLeavesOrScales) {
    std::mt19937 rng(23);
    for (const SetKernels &set : kSets)
        for (float beta : {0.0f, 1.0f, -3.0f})
            for (int64_t m : {1, 6, 21})
                expect_rank_one(set, {m, 4, m + 1, 1, 1, 0.0f, beta}, rng, 1);
}

TEST(SseRankOneKernels, EmptyShapesDoNothing) {
    for (const SetKernels &set : kSets)
        for (auto shape : {std::pair<int64_t, int64_t>{0, 3}, {3, 0}}) {
            float c[9], x[3] = {1, 2, 3}, y[3] = {1, 2, 3};
            for (float &v : c) v = kNaN;
            const float alpha = 1.0f, beta = 0.0f;
            const int64_t one = 1, ldc = 3;
            const char no = 'N';
            set.rank_one(&no, &no, &shape.first, &shape.second, &alpha, x, &one, y, &one, &beta, c, &ldc);
            for (float v : c) ASSERT_TRUE(std::isnan(v)) << set.name;
        }
}

// --- copy --------------------------------------------------------------------

TEST(SseCopyKernels, CopyElementByElementUnderEveryIncrement) {
    std::mt19937 rng(24);
    const Increments pairs[] = {{1, 1}, {2, 1}, {1, 3}, {-1, 1}, {-2, -3}, {1, -1}, {0, 1}, {-1, -1}};
    std::vector<int64_t> lengths;
    for (int64_t n = 0; n <= 40; ++n) lengths.push_back(n);
    lengths.push_back(1000);
    for (const SetKernels &set : kSets)
        for (Increments inc : pairs)
            for (int64_t n : lengths)
                for (int64_t misalign : {0, 1, 3}) {
                    SCOPED_TRACE(std::string(set.name) + " n=" + std::to_string(n) + " incx=" +
                                 std::to_string(inc.x) + " incy=" + std::to_string(inc.y) +
                                 " misalign=" + std::to_string(misalign));
                    Buffer x(storage_length(n, inc.x), (misalign + 2) % 4), y(storage_length(n, inc.y), misalign);
                    fill_random(x, rng);
                    fill_random(y, rng);
                    std::vector<float> before = y.storage;
                    set.copy(&n, x.data(), &inc.x, y.data(), &inc.y);
                    std::vector<float> want = before;
                    for (int64_t i = 0; i < n; ++i)
                        want[static_cast<size_t>(y.offset + slot(i, n, inc.y))] = x[slot(i, n, inc.x)];
                    ASSERT_EQ(0, std::memcmp(want.data(), y.storage.data(), want.size() * sizeof(float)));
                }
}

}  // namespace
