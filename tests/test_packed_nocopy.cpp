// The no-copy path of the avx2 and avx512 sets: the twelve kernels of each
// set on a grid of shapes (AVX2 16 x 6 tiles, AVX-512 32 x 8 tiles, every
// row and column tail), the driver's blocking, beta handling and routing,
// the AVX2 6 x 6 kernels and the AVX-512 narrow-B routine with its group
// kernels, each compared with the double-precision reference.  Every call
// also checks that C outside its m x n block (the leading-dimension padding)
// is untouched and, where beta is 0, that C held NaN before and holds none
// after.
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
#include "blas/kernels/packed_set.h"
#include "support/packed_sets.h"
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
    // lda: a multiple of 16 (64 bytes) for the aligned A, otherwise one that is not.
    static int64_t lead(int64_t rows, bool aligned) { return aligned ? (rows + 31) / 16 * 16 : rows + 3; }

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
    void run_driver(const PackedSetUnderTest &set) {
        char ta = g.transa, tb = g.transb;
        BlasOpParams op;
        blas_initialize_op_params(&ta, &tb, &op, &alpha, &beta);
        MatDesc da = orb_operand_desc(a.data(), g.m, g.k, a.ld, &ta);
        MatDesc db = orb_operand_desc(b.data(), g.k, g.n, b.ld, &tb);
        MatDesc dc = orb_operand_desc(c.data(), g.m, g.n, c.ld, nullptr);
        set.xsgemm_nocopy_driver(&op, &da, &db, &dc, nullptr, nullptr);
    }
    // Element (i, p) of op(A) and (p, j) of op(B) as stored.
    const float *a_at(int64_t i, int64_t p) const { return a.data() + (ref_is_trans(g.transa) ? p + i * a.ld : i + p * a.ld); }
    const float *b_at(int64_t p, int64_t j) const { return b.data() + (ref_is_trans(g.transb) ? j + p * b.ld : p + j * b.ld); }

    RefGemm g;                                // the call, for the reference
    Matrix a, b, c;                           // stored operands
    float alpha, beta;                        // the scalars passed
    std::vector<double> expected, magnitude;  // reference C and its error scale
    std::vector<float> c_before;              // C's storage before the call
};

struct KernelCase {
    const char *name;       // for messages
    NocopyKernelFn kernel;  // the member under test
    char transa, transb;    // its operand layout
    float beta;             // a beta of its case
};

// The twelve kernels of a set, by layout (NN, NT, TN, TT) and then beta
// case (0, 1, other): kernel (layout, case) is entry 3*layout + case.
std::vector<KernelCase> kernels_of(const PackedSetUnderTest &s) {
#define ORB_NOCOPY_LAYOUT(layout)                                                               \
    {#layout "_b0", s.sgemm_kernel_nocopy_##layout##_b0, #layout[0], #layout[1], 0.0f},         \
        {#layout "_b1", s.sgemm_kernel_nocopy_##layout##_b1, #layout[0], #layout[1], 1.0f},     \
        {#layout "_bn", s.sgemm_kernel_nocopy_##layout##_bn, #layout[0], #layout[1], -0.75f}
    return {ORB_NOCOPY_LAYOUT(NN), ORB_NOCOPY_LAYOUT(NT), ORB_NOCOPY_LAYOUT(TN), ORB_NOCOPY_LAYOUT(TT)};
#undef ORB_NOCOPY_LAYOUT
}

class PackedNocopy : public PackedSetTest {};
ORB_INSTANTIATE_FOR_PACKED_SETS(PackedNocopy);

// Row strips (16 / 32) with every tail, column groups (6 / 8) with every
// tail, one k step, a few, and a full k block (beyond the AVX2 NT/TT block
// and the AVX-512 block, so run in passes); A both aligned and not, so that
// more than two column groups also take the strip copy.
TEST_P(PackedNocopy, KernelsMatchTheReferenceOnTheShapeGrid) {
    const bool wide = set().is_avx512();
    const std::vector<int64_t> ks = wide ? std::vector<int64_t>{1, 19, 390} : std::vector<int64_t>{1, 7, 256};
    const std::vector<int64_t> ms = wide ? std::vector<int64_t>{1, 5, 16, 17, 31, 32, 33, 48, 63}
                                         : std::vector<int64_t>{1, 2, 3, 5, 8, 9, 15, 16, 17, 24, 31, 32, 33, 40};
    const std::vector<int64_t> ns = wide ? std::vector<int64_t>{1, 2, 3, 4, 5, 6, 7, 8, 17, 25}
                                         : std::vector<int64_t>{1, 2, 5, 6, 7, 12, 13, 19, 20};
    std::mt19937 rng(7);
    for (const KernelCase &kc : kernels_of(set()))
        for (int64_t k : ks)
            for (int64_t m : ms)
                for (int64_t n : ns)
                    for (bool aligned : {true, false}) {
                        Problem p(kc.transa, kc.transb, m, n, k, 1.25f, kc.beta, aligned, rng);
                        p.run(kc.kernel);
                        ASSERT_EQ(p.mismatch(), "") << kc.name;
                    }
}

// A k longer than the kernel's block runs in passes: beta must act on the first only.
TEST_P(PackedNocopy, KernelsWithALongInnerDimensionApplyBetaOnce) {
    std::mt19937 rng(11);
    for (const KernelCase &kc : kernels_of(set())) {
        Problem p(kc.transa, kc.transb, 21, 20, 900, -0.5f, kc.beta, false, rng);
        p.run(kc.kernel);
        EXPECT_EQ(p.mismatch(), "") << kc.name;
    }
}

// ---------------------------------------------------------------------------
// The driver.
// ---------------------------------------------------------------------------

// One dimension's cut: the whole rest up to `whole`, half of it (rounded up)
// below `halve_below`, else `block`.
struct Cut {
    int64_t whole, halve_below, block;
    int64_t next(int64_t rest) const { return rest <= whole ? rest : rest < halve_below ? (rest + 1) / 2 : block; }
};

// The rules of a set for a layout (bit 1: A stored transposed, bit 0: B).
struct Cuts {
    Cut k, m, n;
};
Cuts cuts_of(const PackedSetUnderTest &set, int layout) {
    const bool a_trans = layout & 2, b_trans = layout & 1;
    const Cut m = {6048, 8064, 4032};
    if (set.is_avx512()) return {{384, 768, 384}, m, a_trans ? Cut{576, 768, 384} : Cut{96, 128, 64}};
    return {b_trans ? Cut{96, 192, 96} : Cut{256, 512, 256}, m, a_trans ? Cut{144, 192, 96} : Cut{72, 96, 48}};
}

std::vector<int64_t> blocks(int64_t total, const Cut &cut) {
    std::vector<int64_t> out;
    for (int64_t done = 0; done < total; done += out.back()) out.push_back(cut.next(total - done));
    return out;
}

// What the driver must do with p: the set's kernels called block by block,
// k outermost, then m, then n, the first k block with the kernel of the
// call's beta case and the later ones with the beta-1 kernel.
void run_driver_model(const PackedSetUnderTest &set, Problem &p) {
    const int layout = (ref_is_trans(p.g.transa) ? 2 : 0) | (ref_is_trans(p.g.transb) ? 1 : 0);
    const Cuts cuts = cuts_of(set, layout);
    const std::vector<KernelCase> kernels = kernels_of(set);
    const int beta_case = p.beta == 0.0f ? 0 : p.beta == 1.0f ? 1 : 2;
    const float one = 1.0f;
    int64_t p0 = 0, i0, j0;
    for (int64_t kb : blocks(p.g.k, cuts.k)) {
        i0 = 0;
        for (int64_t mb : blocks(p.g.m, cuts.m)) {
            j0 = 0;
            for (int64_t nb : blocks(p.g.n, cuts.n)) {
                kernels[3 * layout + (p0 == 0 ? beta_case : 1)].kernel(
                    mb, nb, kb, &p.alpha, p.a_at(i0, p0), p.a.ld, p.b_at(p0, j0), p.b.ld, p0 == 0 ? &p.beta : &one,
                    p.c.data() + i0 + j0 * p.c.ld, p.c.ld);
                j0 += nb;
            }
            i0 += mb;
        }
        p0 += kb;
    }
}

TEST_P(PackedNocopy, DriverBlocksAsItsRulesSay) {
    // The rules as documented: AVX2 NN k = 600 is cut 256, 172, 172; AVX-512
    // k = 1000 is cut 384, 308, 308.
    EXPECT_EQ(blocks(600, cuts_of(avx2_set(), 0).k), (std::vector<int64_t>{256, 172, 172}));
    EXPECT_EQ(blocks(1000, cuts_of(avx512_set(), 0).k), (std::vector<int64_t>{384, 308, 308}));
    // Each shape crosses thresholds of one set or the other, in k, n or m;
    // the driver must give the bits of its blocks and the right product.
    struct Shape {
        char ta, tb;
        int64_t m, n, k;
    };
    const Shape shapes[] = {
        {'N', 'N', 37, 73, 600}, {'N', 'T', 30, 150, 150},  {'T', 'N', 20, 191, 300},  {'T', 'T', 25, 100, 193},
        {'N', 'N', 21, 200, 1000}, {'n', 'c', 40, 100, 500}, {'C', 'N', 10, 700, 20}, {'t', 'T', 9, 1000, 800},
        {'T', 'N', 6049, 3, 5},  {'N', 'N', 8065, 2, 3},
    };
    std::mt19937 rng(3);
    int index = 0;
    for (const Shape &s : shapes) {
        const float beta = index % 3 == 0 ? 2.0f : index % 3 == 1 ? 0.0f : 1.0f;
        Problem p(s.ta, s.tb, s.m, s.n, s.k, 0.75f, beta, index++ % 2 == 0, rng);
        p.run_driver(set());
        EXPECT_EQ(p.mismatch(), "");
        const std::vector<float> driven = p.c.storage;
        p.c.storage = p.c_before;
        run_driver_model(set(), p);
        EXPECT_EQ(std::memcmp(driven.data(), p.c.storage.data(), driven.size() * 4), 0)
            << s.ta << s.tb << " m=" << s.m << " n=" << s.n << " k=" << s.k << ": not the bits of the blocks";
    }
}

// Every character pair, with k in two blocks; beta 2 must scale C once.
TEST_P(PackedNocopy, DriverTakesEveryTranspositionPair) {
    std::mt19937 rng(3);
    const char kChars[] = {'N', 'n', 'T', 't', 'C', 'c'};
    for (char ta : kChars)
        for (char tb : kChars) {
            Problem p(ta, tb, 37, 29, 500, 0.75f, 2.0f, false, rng);
            p.run_driver(set());
            EXPECT_EQ(p.mismatch(), "");
        }
}

// No inner dimension, or alpha 0: C := beta*C without touching A or B.
TEST_P(PackedNocopy, DriverWithAnEmptyProductOnlyScalesC) {
    std::mt19937 rng(5);
    for (float beta : {0.0f, 2.0f, 1.0f}) {
        Problem p('N', 'T', 20, 9, 0, 1.0f, beta, true, rng);
        p.run_driver(set());
        EXPECT_EQ(p.mismatch(), "") << "beta " << beta;
    }
    Problem p('T', 'N', 20, 9, 4, 0.0f, -1.0f, true, rng);
    for (float &x : p.a.storage) x = kNaN;
    p.expected = reference_sgemm(RefGemm{'T', 'N', 20, 9, 0, 0.0, -1.0, nullptr, 1, nullptr, 1}, p.c.data(), p.c.ld,
                                 &p.magnitude);
    p.run_driver(set());
    EXPECT_EQ(p.mismatch(), "");
    Problem empty('N', 'N', 0, 5, 3, 1.0f, 0.0f, true, rng);
    empty.run_driver(set());
    EXPECT_EQ(std::memcmp(empty.c.storage.data(), empty.c_before.data(), empty.c_before.size() * 4), 0);
}

// A transposed, B not, at most 3 rows and 15 columns with m*n < 32: the
// buffer-free routine; one more column: the TN kernel.
TEST_P(PackedNocopy, DriverSendsTinyTransposedProductsToTheBufferFreeRoutine) {
    std::mt19937 rng(9);
    struct Route { int64_t m, n; bool buffer_free; };
    for (Route r : {Route{3, 10, true}, Route{1, 15, true}, Route{3, 11, false}, Route{4, 5, false}}) {
        Problem p('T', 'N', r.m, r.n, 200, 1.0f, 1.0f, false, rng);
        Problem twin = p;
        p.run_driver(set());
        EXPECT_EQ(p.mismatch(), "");
        if (r.buffer_free) {
            char ta = 'T', tb = 'N';
            set().sgemm_pst(&ta, &tb, &r.m, &r.n, &twin.g.k, &twin.alpha, twin.a.data(), &twin.a.ld, twin.b.data(),
                            &twin.b.ld, &twin.beta, twin.c.data(), &twin.c.ld);
        } else {
            twin.run(set().sgemm_kernel_nocopy_TN_b1);
        }
        EXPECT_EQ(std::memcmp(p.c.storage.data(), twin.c.storage.data(), p.c.storage.size() * 4), 0)
            << r.m << " x " << r.n;
    }
}

// ---------------------------------------------------------------------------
// The special kernels of each set.
// ---------------------------------------------------------------------------

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

// The narrow-B routine for every n it serves, each beta case, rows in groups
// of four with every tail, k not a multiple of the 16-float vector, and rows
// cut into blocks when A's columns are long.
TEST(Avx512NarrowB, SmallnMatchesTheReferenceForEveryWidth) {
    ORB_REQUIRE_HOST(HostIsa::avx512);
    std::mt19937 rng(17);
    const int64_t kRows[] = {1, 2, 3, 4, 5, 7, 13};
    int index = 0;
    for (int64_t n = 2; n <= 15; ++n)
        for (float beta : {0.0f, 1.0f, -0.75f}) {
            const int64_t m = kRows[index % 7], k = 24 * n + index % 16;
            Problem p(index % 2 ? 't' : 'T', 'N', m, n, k, 1.25f, beta, index % 2 == 0, rng);
            ++index;
            orb_blas_avx512_sgemm_t_smalln("T", "N", &p.g.m, &p.g.n, &p.g.k, &p.alpha, p.a.data(), &p.a.ld, p.b.data(),
                                           &p.b.ld, &p.beta, p.c.data(), &p.c.ld);
            EXPECT_EQ(p.mismatch(), "") << "beta " << beta;
        }
    for (auto [m, n, k] : {std::tuple<int64_t, int64_t, int64_t>{13, 5, 5003}, {1001, 15, 360}, {9, 4, 20001}}) {
        Problem p('T', 'N', m, n, k, -1.0f, 0.0f, false, rng);
        orb_blas_avx512_sgemm_t_smalln("T", "N", &m, &n, &k, &p.alpha, p.a.data(), &p.a.ld, p.b.data(), &p.b.ld,
                                       &p.beta, p.c.data(), &p.c.ld);
        EXPECT_EQ(p.mismatch(), "");
    }
}

// One group of 2 or 3 columns: _b0 for beta 0 (C not read), the other
// member for beta 1 and any other beta.
TEST(Avx512NarrowB, GroupKernelsMatchTheReference) {
    ORB_REQUIRE_HOST(HostIsa::avx512);
    std::mt19937 rng(19);
    for (int64_t width : {2, 3})
        for (int64_t m : {1, 2, 3, 4, 5, 6, 7, 8, 9})
            for (int64_t k : {1, 15, 16, 17, 37})
                for (float beta : {0.0f, 1.0f, 2.5f}) {
                    Problem p('T', 'N', m, width, k, 0.5f, beta, false, rng);
                    auto group = beta == 0.0f ? orb_blas_avx512_sgemm_t_n23_b0 : orb_blas_avx512_sgemm_t_n23;
                    group(&m, &width, &k, &p.alpha, p.a.data(), &p.a.ld, p.b.data(), &p.b.ld, &p.beta, p.c.data(),
                          &p.c.ld);
                    EXPECT_EQ(p.mismatch(), "") << "width " << width << " beta " << beta;
                }
}

}  // namespace
