// The AVX2 no-copy path: the twelve 16 x 6 kernels on a grid of shapes, the
// driver's blocking, beta handling and routing, and the 6 x 6 kernels, each
// compared with the double-precision reference.  Every call also checks that
// C outside its m x n block (the leading-dimension padding) is untouched and,
// where beta is 0, that C held NaN before and holds none after.
#include <gtest/gtest.h>

#include <cmath>
#include <cstdint>
#include <cstring>
#include <limits>
#include <random>
#include <sstream>
#include <string>
#include <vector>

#include "blas/gemm/gemm_records.h"
#include "blas/kernels/avx2/avx2_kernels.h"
#include "blas/kernels/avx2/avx2_nocopy_blocking.h"
#include "support/reference_gemm.h"

namespace {

constexpr float kPadding = 12345.0f;
const float kNaN = std::numeric_limits<float>::quiet_NaN();

// A column-major matrix `misalign` floats past a 64-byte boundary, padded to
// ld; copies are independent matrices with the same placement.
struct Matrix {
    Matrix(int64_t rows, int64_t cols, int64_t ld_, int64_t misalign, std::mt19937 &rng, float fill_with = 0.0f)
        : ld(ld_), storage(static_cast<size_t>(ld_ * cols + misalign + 16), kPadding) {
        uintptr_t base = reinterpret_cast<uintptr_t>(storage.data());
        offset = static_cast<int64_t>((64 - base % 64) % 64) / 4 + misalign;
        std::uniform_real_distribution<float> value(-1.0f, 1.0f);
        for (int64_t j = 0; j < cols; ++j)
            for (int64_t i = 0; i < rows; ++i) data()[i + j * ld] = std::isnan(fill_with) ? kNaN : value(rng);
    }
    float *data() { return storage.data() + offset; }
    const float *data() const { return storage.data() + offset; }
    int64_t ld;                  // leading dimension
    std::vector<float> storage;  // the matrix, its padding and the alignment slack
    int64_t offset = 0;          // of the first element in storage
};

// One product C := alpha*op(A)*op(B) + beta*C with its operands and expectation.
struct Problem {
    Problem(char ta, char tb, int64_t m, int64_t n, int64_t k, float alpha_, float beta_, bool a_aligned,
            std::mt19937 &rng)
        : a(ref_is_trans(ta) ? k : m, ref_is_trans(ta) ? m : k, lead(ref_is_trans(ta) ? k : m, a_aligned),
            a_aligned ? 0 : 1, rng),
          b(ref_is_trans(tb) ? n : k, ref_is_trans(tb) ? k : n, (ref_is_trans(tb) ? n : k) + 2, 3, rng),
          c(m, n, m + 5, 2, rng, beta_ == 0.0f ? kNaN : 0.0f), alpha(alpha_), beta(beta_) {
        g = RefGemm{ta, tb, m, n, k, alpha, beta, a.data(), a.ld, b.data(), b.ld};
        expected = reference_sgemm(g, c.data(), c.ld, &magnitude);
        c_before = c.storage;
    }
    // lda: a multiple of 8 for the aligned A, otherwise one that is not.
    static int64_t lead(int64_t rows, bool aligned) { return aligned ? (rows + 15) / 8 * 8 : rows + 3; }

    // Empty when C is right; else a description of the first wrong element.
    std::string mismatch() const {
        for (size_t e = 0; e < c.storage.size(); ++e) {
            int64_t offset = static_cast<int64_t>(e) - c.offset, i = offset % c.ld, j = offset / c.ld;
            bool inside = offset >= 0 && i < g.m && j < g.n;
            float got = c.storage[e];
            if (!inside && std::memcmp(&got, &c_before[e], sizeof got) != 0) return "padding written at " + where(i, j);
            if (!inside) continue;
            double want = expected[static_cast<size_t>(i + j * g.m)];
            if (!(std::fabs(got - want) <= gemm_error_bound(g.k, magnitude[static_cast<size_t>(i + j * g.m)])))
                return where(i, j) + " = " + std::to_string(got) + ", expected " + std::to_string(want);
        }
        return "";
    }
    std::string where(int64_t i, int64_t j) const {
        std::ostringstream s;
        s << g.transa << g.transb << " m=" << g.m << " n=" << g.n << " k=" << g.k << " lda=" << a.ld << " C(" << i
          << "," << j << ")";
        return s.str();
    }
    void run(NocopyKernelFn kernel) {
        kernel(g.m, g.n, g.k, &alpha, a.data(), a.ld, b.data(), b.ld, &beta, c.data(), c.ld);
    }
    void run_driver() {
        char ta = g.transa, tb = g.transb;
        BlasOpParams op;
        blas_initialize_op_params(&ta, &tb, &op, &alpha, &beta);
        MatDesc da = orb_operand_desc(a.data(), g.m, g.k, a.ld, &ta);
        MatDesc db = orb_operand_desc(b.data(), g.k, g.n, b.ld, &tb);
        MatDesc dc = orb_operand_desc(c.data(), g.m, g.n, c.ld, nullptr);
        orb_blas_avx2_xsgemm_nocopy_driver(&op, &da, &db, &dc, nullptr, nullptr);
    }

    RefGemm g;                                // the call, for the reference
    Matrix a, b, c;                           // stored operands
    float alpha, beta;                        // the scalars passed
    std::vector<double> expected, magnitude;  // reference C and its error scale
    std::vector<float> c_before;              // C's storage before the call
};

struct KernelCase {
    const char *name;           // for messages
    NocopyKernelFn kernel;  // the member under test
    char transa, transb;        // its operand layout
    float beta;                 // a beta of its case
};

const KernelCase kKernels[] = {
    {"NN_b0", orb_blas_avx2_sgemm_kernel_nocopy_NN_b0, 'N', 'N', 0.0f},
    {"NN_b1", orb_blas_avx2_sgemm_kernel_nocopy_NN_b1, 'N', 'N', 1.0f},
    {"NN_bn", orb_blas_avx2_sgemm_kernel_nocopy_NN_bn, 'N', 'N', -0.75f},
    {"NT_b0", orb_blas_avx2_sgemm_kernel_nocopy_NT_b0, 'N', 'T', 0.0f},
    {"NT_b1", orb_blas_avx2_sgemm_kernel_nocopy_NT_b1, 'N', 'T', 1.0f},
    {"NT_bn", orb_blas_avx2_sgemm_kernel_nocopy_NT_bn, 'N', 'T', -0.75f},
    {"TN_b0", orb_blas_avx2_sgemm_kernel_nocopy_TN_b0, 'T', 'N', 0.0f},
    {"TN_b1", orb_blas_avx2_sgemm_kernel_nocopy_TN_b1, 'T', 'N', 1.0f},
    {"TN_bn", orb_blas_avx2_sgemm_kernel_nocopy_TN_bn, 'T', 'N', -0.75f},
    {"TT_b0", orb_blas_avx2_sgemm_kernel_nocopy_TT_b0, 'T', 'T', 0.0f},
    {"TT_b1", orb_blas_avx2_sgemm_kernel_nocopy_TT_b1, 'T', 'T', 1.0f},
    {"TT_bn", orb_blas_avx2_sgemm_kernel_nocopy_TT_bn, 'T', 'T', -0.75f},
};

// Every block a dimension of `total` is cut into.
std::vector<int64_t> blocks(int64_t total, const NocopyBlockRule &rule) {
    std::vector<int64_t> out;
    for (int64_t done = 0; done < total; done += out.back()) out.push_back(nocopy_next_block(total - done, rule));
    return out;
}

}  // namespace

// Row strips of 16 with every tail, column groups of 6 with every tail, one
// k step, a few, and a full k block (beyond the NT/TT block, so run in
// passes); A both aligned and not, so that n > 18 also takes the strip copy.
TEST(Avx2NocopyKernels, EveryMemberMatchesTheReferenceOnTheShapeGrid) {
    std::mt19937 rng(7);
    for (const KernelCase &kc : kKernels)
        for (int64_t k : {1, 7, 256})
            for (int64_t m : {1, 2, 3, 5, 8, 9, 15, 16, 17, 24, 31, 32, 33, 40})
                for (int64_t n : {1, 2, 5, 6, 7, 12, 13, 19, 20})
                    for (bool aligned : {true, false}) {
                        Problem p(kc.transa, kc.transb, m, n, k, 1.25f, kc.beta, aligned, rng);
                        p.run(kc.kernel);
                        std::string wrong = p.mismatch();
                        ASSERT_EQ(wrong, "") << kc.name;
                    }
}

// A k longer than the kernel's block runs in passes: beta must act on the first only.
TEST(Avx2NocopyKernels, LongInnerDimensionAppliesBetaOnce) {
    std::mt19937 rng(11);
    for (const KernelCase &kc : kKernels) {
        Problem p(kc.transa, kc.transb, 21, 20, 600, -0.5f, kc.beta, false, rng);
        p.run(kc.kernel);
        EXPECT_EQ(p.mismatch(), "") << kc.name;
    }
}

TEST(Avx2NocopyDriver, BlockRuleHalvesRestsBetweenTheThresholds) {
    const NocopyBlocking &nn = kAvx2NocopyBlocking[kNocopyNN], &nt = kAvx2NocopyBlocking[kNocopyNT];
    const NocopyBlocking &tn = kAvx2NocopyBlocking[kNocopyTN];
    EXPECT_EQ(blocks(300, nn.k), (std::vector<int64_t>{150, 150}));
    EXPECT_EQ(blocks(600, nn.k), (std::vector<int64_t>{256, 172, 172}));
    EXPECT_EQ(blocks(256, nn.k), (std::vector<int64_t>{256}));
    EXPECT_EQ(blocks(512, nn.k), (std::vector<int64_t>{256, 256}));
    EXPECT_EQ(blocks(150, nt.k), (std::vector<int64_t>{75, 75}));
    EXPECT_EQ(blocks(193, kAvx2NocopyBlocking[kNocopyTT].k), (std::vector<int64_t>{96, 49, 48}));
    EXPECT_EQ(blocks(73, nn.n), (std::vector<int64_t>{37, 36}));
    EXPECT_EQ(blocks(95, nt.n), (std::vector<int64_t>{48, 47}));
    EXPECT_EQ(blocks(150, nt.n), (std::vector<int64_t>{48, 48, 54}));
    EXPECT_EQ(blocks(144, tn.n), (std::vector<int64_t>{144}));
    EXPECT_EQ(blocks(191, tn.n), (std::vector<int64_t>{96, 95}));
    EXPECT_EQ(blocks(6049, tn.m), (std::vector<int64_t>{3025, 3024}));
    EXPECT_EQ(blocks(8065, nn.m), (std::vector<int64_t>{4032, 4033}));
}

// Every character pair, several k, m and n blocks; beta 2 must scale C once.
TEST(Avx2NocopyDriver, EveryTranspositionPairMatchesTheReference) {
    std::mt19937 rng(3);
    const char kChars[] = {'N', 'n', 'T', 't', 'C', 'c'};
    for (char ta : kChars)
        for (char tb : kChars) {
            Problem p(ta, tb, 37, 29, 300, 0.75f, 2.0f, false, rng);
            p.run_driver();
            EXPECT_EQ(p.mismatch(), "");
        }
    for (char ta : {'N', 'T'})
        for (char tb : {'N', 'T'})
            for (float beta : {2.0f, 0.0f, 1.0f}) {
                Problem p(ta, tb, 71, 150, 600, 1.0f, beta, false, rng);
                p.run_driver();
                EXPECT_EQ(p.mismatch(), "");
            }
    Problem tall('N', 'N', 8065, 3, 5, 1.0f, -1.0f, true, rng);
    tall.run_driver();
    EXPECT_EQ(tall.mismatch(), "");
}

// No inner dimension, or alpha 0: C := beta*C without touching A or B.
TEST(Avx2NocopyDriver, EmptyProductOnlyScalesC) {
    std::mt19937 rng(5);
    for (float beta : {0.0f, 2.0f, 1.0f}) {
        Problem p('N', 'T', 20, 9, 0, 1.0f, beta, true, rng);
        p.run_driver();
        EXPECT_EQ(p.mismatch(), "") << "beta " << beta;
    }
    Problem p('T', 'N', 20, 9, 4, 0.0f, -1.0f, true, rng);
    for (float &x : p.a.storage) x = kNaN;
    p.expected = reference_sgemm(RefGemm{'T', 'N', 20, 9, 0, 0.0, -1.0, nullptr, 1, nullptr, 1}, p.c.data(), p.c.ld,
                                 &p.magnitude);
    p.run_driver();
    EXPECT_EQ(p.mismatch(), "");
    Problem empty('N', 'N', 0, 5, 3, 1.0f, 0.0f, true, rng);
    empty.run_driver();
    EXPECT_EQ(std::memcmp(empty.c.storage.data(), empty.c_before.data(), empty.c_before.size() * 4), 0);
}

// A transposed, B not, at most 3 rows and 15 columns with m*n < 32: the
// buffer-free routine; one more column: the TN kernel.
TEST(Avx2NocopyDriver, TinyTransposedProductGoesToTheBufferFreeRoutine) {
    std::mt19937 rng(9);
    struct Route { int64_t m, n; bool buffer_free; };
    for (Route r : {Route{3, 10, true}, Route{1, 15, true}, Route{3, 11, false}, Route{4, 5, false}}) {
        Problem p('T', 'N', r.m, r.n, 200, 1.0f, 1.0f, false, rng);
        Problem twin = p;
        p.run_driver();
        EXPECT_EQ(p.mismatch(), "");
        if (r.buffer_free) {
            char ta = 'T', tb = 'N';
            orb_blas_avx2_sgemm_pst(&ta, &tb, &r.m, &r.n, &twin.g.k, &twin.alpha, twin.a.data(), &twin.a.ld,
                                    twin.b.data(), &twin.b.ld, &twin.beta, twin.c.data(), &twin.c.ld);
        } else {
            twin.run(orb_blas_avx2_sgemm_kernel_nocopy_TN_b1);
        }
        EXPECT_EQ(std::memcmp(p.c.storage.data(), twin.c.storage.data(), p.c.storage.size() * 4), 0)
            << r.m << " x " << r.n;
    }
}

TEST(Avx2Nocopy6x6, MatchesTheReferenceForEveryColumnCount) {
    std::mt19937 rng(13);
    for (int64_t n = 1; n <= 9; ++n)
        for (float beta : {0.0f, 1.0f, -2.0f}) {
            Problem p('N', 'N', 6, n, 6, 1.5f, beta, false, rng);
            const int64_t m = 6, k = 6;
            auto kernel = beta == 0.0f ? orb_blas_avx2_sgemm_nocopy_anbn_meq6_keq6_b0
                                       : orb_blas_avx2_sgemm_nocopy_anbn_meq6_keq6;
            kernel("N", "N", &m, &n, &k, &p.alpha, p.a.data(), &p.a.ld, p.b.data(), &p.b.ld, &p.beta, p.c.data(),
                   &p.c.ld);
            EXPECT_EQ(p.mismatch(), "") << "beta " << beta;
        }
}
