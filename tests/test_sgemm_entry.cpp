// The public SGEMM forms seen from an application: argument checks with
// their parameter numbers in the reference and CBLAS numbering, C left alone
// after a rejected call, transposition letters in either case, the hidden
// lengths of Fortran callers, the row-major mapping of the CBLAS form, empty
// shapes, k = 0, 64-bit sizes and concurrent callers.  Linked against the
// shared library and run on the AVX2 kernel set and on the AVX-512 one.  Results are compared with
// the double-precision reference within the rounding bound of a k-term sum.
#include <gtest/gtest.h>

#include <cmath>
#include <cstdint>
#include <limits>
#include <string>
#include <thread>
#include <vector>

#include "orb_blas.h"
#include "support/recorded_errors.h"
#include "support/reference_gemm.h"

namespace {

// Column-major operands of one product with their leading dimensions.
struct Product {
    char transa, transb;
    int64_t m, n, k;
    float alpha, beta;
    int64_t lda, ldb, ldc;
    std::vector<float> a, b, c;

    Product(char ta, char tb, int64_t m_, int64_t n_, int64_t k_, float al, float be, uint32_t seed, int64_t pad = 3)
        : transa(ta), transb(tb), m(m_), n(n_), k(k_), alpha(al), beta(be) {
        int64_t rows_a = ref_is_trans(ta) ? k : m, cols_a = ref_is_trans(ta) ? m : k;
        int64_t rows_b = ref_is_trans(tb) ? n : k, cols_b = ref_is_trans(tb) ? k : n;
        lda = std::max<int64_t>(1, rows_a + pad);
        ldb = std::max<int64_t>(1, rows_b + pad);
        ldc = std::max<int64_t>(1, m + pad);
        a = filled(static_cast<size_t>(lda * std::max<int64_t>(cols_a, 1)), seed);
        b = filled(static_cast<size_t>(ldb * std::max<int64_t>(cols_b, 1)), seed + 1);
        c = filled(static_cast<size_t>(ldc * std::max<int64_t>(n, 1)), seed + 2);
    }

    // The exact result and the magnitudes of its terms, from the input C.
    std::vector<double> expected(std::vector<double> *magnitude) const {
        RefGemm g;
        g.transa = transa, g.transb = transb, g.m = m, g.n = n, g.k = k;
        g.alpha = alpha, g.beta = beta, g.a = a.data(), g.lda = lda, g.b = b.data(), g.ldb = ldb;
        return reference_sgemm(g, c.data(), ldc, magnitude);
    }
};

// Checks computed (ldc-strided) against the reference taken before the call;
// elements outside the m x n block must keep their input values.
::testing::AssertionResult matches(const Product &p, const std::vector<float> &input_c,
                                   const std::vector<double> &exact, const std::vector<double> &magnitude) {
    for (int64_t j = 0; j < p.n; ++j)
        for (int64_t i = 0; i < p.ldc; ++i) {
            size_t at = static_cast<size_t>(i + j * p.ldc);
            if (i >= p.m) {
                if (p.c[at] != input_c[at])
                    return ::testing::AssertionFailure() << "padding of C changed at (" << i << "," << j << ")";
                continue;
            }
            size_t e = static_cast<size_t>(i + j * p.m);
            double bound = gemm_error_bound(p.k, magnitude[e]);
            if (!(std::fabs(p.c[at] - exact[e]) <= bound))
                return ::testing::AssertionFailure() << "C(" << i << "," << j << ") = " << p.c[at] << ", expected "
                                                     << exact[e] << " within " << bound << " (" << p.transa
                                                     << p.transb << " m=" << p.m << " n=" << p.n << " k=" << p.k
                                                     << ")";
        }
    return ::testing::AssertionSuccess();
}

// Runs sgemm_ on the product and compares.
::testing::AssertionResult run_sgemm32(Product &p) {
    std::vector<double> magnitude;
    std::vector<double> exact = p.expected(&magnitude);
    std::vector<float> input_c = p.c;
    const char ta[] = {p.transa, '\0'}, tb[] = {p.transb, '\0'};
    int m = static_cast<int>(p.m), n = static_cast<int>(p.n), k = static_cast<int>(p.k);
    int lda = static_cast<int>(p.lda), ldb = static_cast<int>(p.ldb), ldc = static_cast<int>(p.ldc);
    sgemm_(ta, tb, &m, &n, &k, &p.alpha, p.a.data(), &lda, p.b.data(), &ldb, &p.beta, p.c.data(), &ldc);
    return matches(p, input_c, exact, magnitude);
}

// ---------------------------------------------------------------------------
// Argument checks of the reference forms
// ---------------------------------------------------------------------------

struct BadCall {
    const char *transa, *transb;
    int64_t m, n, k, lda, ldb, ldc;
    int64_t parameter;  // the parameter that must be reported
    const char *what;
};

// Every row of the checker, the orders between rows, and the edge cases.
const BadCall kBadCalls[] = {
    {"x", "N", 2, 2, 2, 2, 2, 2, 1, "transa not N, T or C"},
    {"/", "N", -1, 2, 2, 2, 2, 2, 1, "transa checked before m"},
    {"N", "/", 2, 2, 2, 2, 2, 2, 2, "transb not N, T or C"},
    {"N", "q", -1, -1, 2, 2, 2, 2, 2, "transb checked before m"},
    {"N", "N", -1, 2, 2, 1, 2, 1, 3, "m < 0"},
    {"N", "N", -1, -1, -1, 1, 1, 1, 3, "m checked before n and k"},
    {"N", "N", 2, -1, 2, 2, 2, 2, 4, "n < 0"},
    {"N", "N", 2, -1, -1, 2, 2, 2, 4, "n checked before k"},
    {"N", "N", 2, 2, -1, 2, 1, 2, 5, "k < 0"},
    {"N", "N", 3, 2, 0, 0, 1, 3, 8, "lda = 0 < m with k = 0"},
    {"N", "N", 3, 2, 2, 2, 2, 3, 8, "lda < m, A plain"},
    {"T", "N", 3, 2, 4, 3, 4, 3, 8, "lda < k, A transposed"},
    {"c", "N", 3, 2, 4, 3, 4, 3, 8, "lda < k, A conjugate-transposed"},
    {"N", "N", 3, 2, 2, 2, 1, 0, 8, "lda checked before ldb and ldc"},
    {"N", "N", 3, 2, 4, 3, 3, 3, 10, "ldb < k, B plain"},
    {"N", "T", 3, 5, 4, 3, 4, 3, 10, "ldb < n, B transposed"},
    {"N", "N", 3, 2, 4, 3, 3, 0, 10, "ldb checked before ldc"},
    {"N", "N", 3, 2, 2, 3, 2, 2, 13, "ldc < m"},
    {"N", "N", 0, 2, 2, 1, 2, 0, 13, "ldc = 0 with m = 0"},
};

class ReferenceChecks : public RecordedErrors {};

TEST_F(ReferenceChecks, EveryRowReportsItsParameterInBothIntegerForms) {
    for (const BadCall &bad : kBadCalls) {
        SCOPED_TRACE(bad.what);
        const float alpha = 1.0f, beta = 0.0f;
        std::vector<float> a(64, 1.0f), b(64, 1.0f), c(64, kSentinel);

        reports.clear();
        int m = static_cast<int>(bad.m), n = static_cast<int>(bad.n), k = static_cast<int>(bad.k);
        int lda = static_cast<int>(bad.lda), ldb = static_cast<int>(bad.ldb), ldc = static_cast<int>(bad.ldc);
        sgemm_(bad.transa, bad.transb, &m, &n, &k, &alpha, a.data(), &lda, b.data(), &ldb, &beta, c.data(), &ldc);
        ASSERT_EQ(reports.size(), 1u);
        EXPECT_EQ(reports[0].name, "SGEMM ");
        EXPECT_EQ(reports[0].len, 6);
        EXPECT_EQ(reports[0].info, bad.parameter);
        EXPECT_TRUE(all_sentinel(c));

        reports.clear();
        sgemm_64_(bad.transa, bad.transb, &bad.m, &bad.n, &bad.k, &alpha, a.data(), &bad.lda, b.data(), &bad.ldb,
                  &beta, c.data(), &bad.ldc);
        ASSERT_EQ(reports.size(), 1u);
        EXPECT_EQ(reports[0].name, "SGEMM ");
        EXPECT_EQ(reports[0].len, 6);
        EXPECT_EQ(reports[0].info, bad.parameter);
        EXPECT_TRUE(all_sentinel(c));
    }
}

TEST_F(ReferenceChecks, CheckersAnswerWithoutComputing) {
    const float alpha = 1.0f, beta = 0.0f;
    std::vector<float> a(16, 1.0f), b(16, 1.0f), c(16, kSentinel);
    int two = 2, minus = -1;
    EXPECT_EQ(orb_blas_errchk_sgemm("N", "N", &two, &two, &two, &alpha, a.data(), &two, b.data(), &two, &beta,
                                    c.data(), &two),
              0);
    EXPECT_TRUE(reports.empty());
    EXPECT_EQ(orb_blas_errchk_sgemm("N", "N", &two, &minus, &two, &alpha, a.data(), &two, b.data(), &two, &beta,
                                    c.data(), &two),
              1);
    int64_t two64 = 2, one64 = 1;
    EXPECT_EQ(orb_blas_errchk_sgemm_ilp64("T", "T", &two64, &two64, &two64, &alpha, a.data(), &two64, b.data(),
                                          &two64, &beta, c.data(), &two64),
              0);
    EXPECT_EQ(orb_blas_errchk_sgemm_ilp64("T", "T", &two64, &two64, &two64, &alpha, a.data(), &one64, b.data(),
                                          &two64, &beta, c.data(), &two64),
              1);
    // A missing integer is a bad argument of its own, and reads as 0 in the other rules.
    EXPECT_EQ(orb_blas_errchk_sgemm("T", "N", &two, &two, nullptr, &alpha, a.data(), &two, b.data(), &two, &beta,
                                    c.data(), &two),
              1);
    EXPECT_EQ(orb_blas_errchk_sgemm_ilp64("N", "N", &two64, &two64, &two64, &alpha, a.data(), &two64, b.data(),
                                          &two64, &beta, c.data(), nullptr),
              1);
    ASSERT_EQ(reports.size(), 4u);
    EXPECT_EQ(reports[0].info, 4);
    EXPECT_EQ(reports[1].info, 8);
    EXPECT_EQ(reports[2].info, 5);
    EXPECT_EQ(reports[3].info, 13);
    EXPECT_TRUE(all_sentinel(c));
}

// m = 2^40 can only be said with 64-bit integers; with n = 0 nothing is
// computed, so the call exercises the checks alone.
TEST_F(ReferenceChecks, SixtyFourBitSizesAreComparedInFull) {
    const float alpha = 1.0f, beta = 0.0f;
    std::vector<float> a(4, 1.0f), b(4, 1.0f), c(4, kSentinel);
    const int64_t huge = int64_t{1} << 40, zero = 0, one = 1, just_short = huge - 1;

    sgemm_64_("T", "N", &huge, &zero, &one, &alpha, a.data(), &one, b.data(), &one, &beta, c.data(), &huge);
    EXPECT_TRUE(reports.empty());
    EXPECT_TRUE(all_sentinel(c));

    // Truncated to 32 bits these would be 0 and -1 and pass or fail otherwise.
    sgemm_64_("T", "N", &huge, &zero, &one, &alpha, a.data(), &one, b.data(), &one, &beta, c.data(), &just_short);
    sgemm_64_("N", "N", &huge, &zero, &one, &alpha, a.data(), &just_short, b.data(), &one, &beta, c.data(), &huge);
    ASSERT_EQ(reports.size(), 2u);
    EXPECT_EQ(reports[0].info, 13);
    EXPECT_EQ(reports[1].info, 8);
    EXPECT_TRUE(all_sentinel(c));
}

// ---------------------------------------------------------------------------
// Argument checks of the CBLAS form
// ---------------------------------------------------------------------------

struct BadCblasCall {
    int layout, transA, transB, M, N, K, lda, ldb, ldc;
    int parameter;
    const char *what;
};

const BadCblasCall kBadCblasCalls[] = {
    {103, 111, 111, 2, 2, 2, 2, 2, 2, 1, "unknown layout"},
    {103, 200, 111, 2, 2, 2, 2, 2, 2, 2, "transA checked before the layout"},
    {103, 111, 110, 2, 2, 2, 2, 2, 2, 3, "transB checked before the layout"},
    {103, 111, 111, -1, 2, 2, 2, 2, 2, 4, "M checked before the layout"},
    {101, 114, 111, 2, 2, 2, 2, 2, 2, 2, "transA above 113"},
    {102, 111, 0, 2, 2, 2, 2, 2, 2, 3, "transB below 111"},
    {102, 111, 111, -1, -1, 2, 2, 2, 2, 4, "M < 0"},
    {101, 111, 111, 2, -1, -1, 2, 2, 2, 5, "N < 0"},
    {102, 111, 111, 2, 2, -1, 2, 2, 2, 6, "K < 0"},
    // Column-major: A has M (plain) or K rows, B has K or N rows, C has M.
    {102, 111, 111, 3, 2, 4, 2, 4, 3, 9, "col-major lda < M"},
    {102, 112, 111, 3, 2, 4, 3, 4, 3, 9, "col-major lda < K, A transposed"},
    {102, 111, 111, 3, 2, 4, 3, 3, 3, 11, "col-major ldb < K"},
    {102, 111, 113, 3, 5, 4, 3, 4, 3, 11, "col-major ldb < N, B conjugate-transposed"},
    {102, 111, 111, 3, 2, 4, 3, 4, 2, 14, "col-major ldc < M"},
    // Row-major: A has K (plain) or M columns, B has N or K, C has N.
    {101, 111, 111, 3, 2, 4, 3, 2, 2, 9, "row-major lda < K"},
    {101, 112, 111, 3, 2, 4, 2, 2, 2, 9, "row-major lda < M, A transposed"},
    {101, 111, 111, 3, 5, 4, 4, 4, 5, 11, "row-major ldb < N"},
    {101, 111, 112, 3, 5, 4, 4, 3, 5, 11, "row-major ldb < K, B transposed"},
    {101, 111, 111, 2, 3, 4, 4, 3, 2, 14, "row-major ldc < N"},
};

class CblasChecks : public RecordedErrors {};

TEST_F(CblasChecks, EveryCheckReportsItsCblasParameter) {
    for (const BadCblasCall &bad : kBadCblasCalls) {
        SCOPED_TRACE(bad.what);
        reports.clear();
        std::vector<float> a(64, 1.0f), b(64, 1.0f), c(64, kSentinel);
        cblas_sgemm(static_cast<CBLAS_LAYOUT>(bad.layout), static_cast<CBLAS_TRANSPOSE>(bad.transA),
                    static_cast<CBLAS_TRANSPOSE>(bad.transB), bad.M, bad.N, bad.K, 1.0f, a.data(), bad.lda,
                    b.data(), bad.ldb, 0.0f, c.data(), bad.ldc);
        ASSERT_EQ(reports.size(), 1u);
        EXPECT_EQ(reports[0].name, "cblas_sgemm");
        EXPECT_EQ(reports[0].len, 11);
        EXPECT_EQ(reports[0].info, bad.parameter);
        EXPECT_TRUE(all_sentinel(c));
    }
}

// ---------------------------------------------------------------------------
// Results
// ---------------------------------------------------------------------------

class SgemmResults : public RecordedErrors {};

TEST_F(SgemmResults, TranspositionLettersInEitherCase) {
    const char letters[] = {'N', 'n', 'T', 't', 'C', 'c'};
    uint32_t seed = 1;
    for (char ta : letters)
        for (char tb : letters) {
            Product p(ta, tb, 13, 11, 17, 1.25f, -0.5f, seed++);
            EXPECT_TRUE(run_sgemm32(p));
        }
    EXPECT_TRUE(reports.empty());
}

TEST_F(SgemmResults, EveryNameOfTheRoutineComputesTheProduct) {
    using Sgemm32 = void (*)(const char *, const char *, const int *, const int *, const int *, const float *,
                             const float *, const int *, const float *, const int *, const float *, float *,
                             const int *, size_t, size_t);
    using Sgemm64 = void (*)(const char *, const char *, const int64_t *, const int64_t *, const int64_t *,
                             const float *, const float *, const int64_t *, const float *, const int64_t *,
                             const float *, float *, const int64_t *, size_t, size_t);
    const Sgemm32 names32[] = {SGEMM, sgemm, sgemm_, orb_blas__sgemm};
    const Sgemm64 names64[] = {SGEMM_64, sgemm_64, sgemm_64_};
    uint32_t seed = 40;
    for (Sgemm32 routine : names32) {
        Product p('T', 'N', 9, 7, 5, 0.5f, 2.0f, seed++);
        std::vector<double> magnitude, exact = p.expected(&magnitude);
        std::vector<float> input_c = p.c;
        int m = 9, n = 7, k = 5, lda = static_cast<int>(p.lda), ldb = static_cast<int>(p.ldb),
            ldc = static_cast<int>(p.ldc);
        routine("T", "N", &m, &n, &k, &p.alpha, p.a.data(), &lda, p.b.data(), &ldb, &p.beta, p.c.data(), &ldc, 1,
                1);
        EXPECT_TRUE(matches(p, input_c, exact, magnitude));
    }
    for (Sgemm64 routine : names64) {
        Product p('N', 'C', 9, 7, 5, 0.5f, 2.0f, seed++);
        std::vector<double> magnitude, exact = p.expected(&magnitude);
        std::vector<float> input_c = p.c;
        routine("N", "C", &p.m, &p.n, &p.k, &p.alpha, p.a.data(), &p.lda, p.b.data(), &p.ldb, &p.beta, p.c.data(),
                &p.ldc, 1, 1);
        EXPECT_TRUE(matches(p, input_c, exact, magnitude));
    }
    EXPECT_TRUE(reports.empty());
}

// A Fortran caller passes unterminated character arguments and appends their
// lengths; only the first character counts.
TEST_F(SgemmResults, FortranCallerWithHiddenLengths) {
    const char transpose_word[] = {'T', 'R', 'A', 'N', 'S', 'P', 'O', 'S', 'E'};
    const char no_word[] = {'n', 'o'};
    Product p('T', 'N', 21, 6, 10, -1.5f, 0.25f, 77);
    std::vector<double> magnitude, exact = p.expected(&magnitude);
    std::vector<float> input_c = p.c;
    int m = 21, n = 6, k = 10, lda = static_cast<int>(p.lda), ldb = static_cast<int>(p.ldb),
        ldc = static_cast<int>(p.ldc);
    sgemm_(transpose_word, no_word, &m, &n, &k, &p.alpha, p.a.data(), &lda, p.b.data(), &ldb, &p.beta, p.c.data(),
           &ldc, sizeof transpose_word, sizeof no_word);
    EXPECT_TRUE(matches(p, input_c, exact, magnitude));

    // A bad letter is still found with lengths present.
    const char bad_word[] = {'X', 'Y'};
    std::vector<float> untouched = p.c;
    sgemm_(transpose_word, bad_word, &m, &n, &k, &p.alpha, p.a.data(), &lda, p.b.data(), &ldb, &p.beta,
           p.c.data(), &ldc, sizeof transpose_word, sizeof bad_word);
    ASSERT_EQ(reports.size(), 1u);
    EXPECT_EQ(reports[0].info, 2);
    EXPECT_EQ(p.c, untouched);
}

TEST_F(SgemmResults, EmptyCIsLeftAlone) {
    const float alpha = 1.0f, beta = 0.0f;
    std::vector<float> a(64, 1.0f), b(64, 1.0f), c(64, kSentinel);
    int zero = 0, four = 4;
    sgemm_("N", "N", &zero, &four, &four, &alpha, a.data(), &four, b.data(), &four, &beta, c.data(), &four);
    sgemm_("N", "N", &four, &zero, &four, &alpha, a.data(), &four, b.data(), &four, &beta, c.data(), &four);
    int64_t zero64 = 0, four64 = 4;
    sgemm_64_("T", "T", &zero64, &zero64, &four64, &alpha, a.data(), &four64, b.data(), &four64, &beta, c.data(),
              &four64);
    cblas_sgemm(CblasRowMajor, CblasNoTrans, CblasNoTrans, 0, 4, 4, 1.0f, a.data(), 4, b.data(), 4, 0.0f, c.data(),
                4);
    EXPECT_TRUE(all_sentinel(c));
    EXPECT_TRUE(reports.empty());
}

TEST_F(SgemmResults, InnerDimensionZeroScalesC) {
    for (char ta : {'N', 'T'}) {
        Product p(ta, 'N', 7, 5, 0, 3.0f, 2.5f, 90);
        EXPECT_TRUE(run_sgemm32(p));
    }
    // beta = 0 clears C without reading it, NaN included.
    Product p('N', 'N', 6, 4, 0, 1.0f, 0.0f, 91);
    for (float &x : p.c) x = std::numeric_limits<float>::quiet_NaN();
    int m = 6, n = 4, k = 0, lda = static_cast<int>(p.lda), ldb = static_cast<int>(p.ldb),
        ldc = static_cast<int>(p.ldc);
    sgemm_("N", "N", &m, &n, &k, &p.alpha, p.a.data(), &lda, p.b.data(), &ldb, &p.beta, p.c.data(), &ldc);
    for (int j = 0; j < n; ++j)
        for (int i = 0; i < m; ++i) EXPECT_EQ(p.c[static_cast<size_t>(i + j * ldc)], 0.0f);
    EXPECT_TRUE(reports.empty());
}

TEST_F(SgemmResults, DegenerateAndGeneralShapes) {
    struct Shape {
        int64_t m, n, k;
    };
    const Shape shapes[] = {{1, 9, 7}, {9, 1, 7}, {9, 7, 1}, {70, 5, 1}, {1, 1, 1}, {33, 40, 65}, {100, 3, 120}};
    uint32_t seed = 200;
    for (const Shape &s : shapes)
        for (char ta : {'N', 'T'})
            for (char tb : {'N', 'T'}) {
                Product p(ta, tb, s.m, s.n, s.k, 0.75f, 1.5f, seed++);
                EXPECT_TRUE(run_sgemm32(p));
            }
}

// A client that keeps column-major matrices and calls sgemm_ for whatever
// shape its expressions produce: sizes on both sides of every path's
// thresholds and block widths of the kernel sets, every transposition pair,
// padded leading dimensions and the usual scalars.
TEST_F(SgemmResults, ColumnMajorClientOfEveryShape) {
    const int64_t sizes[] = {1, 2, 3, 5, 8, 12, 15, 16, 17, 24, 31, 33, 47, 48, 49, 56, 72, 97, 191, 192, 200};
    const float scalars[][2] = {{1.0f, 0.0f}, {1.0f, 1.0f}, {-0.5f, 2.0f}, {2.0f, -1.0f}};
    const char pairs[][2] = {{'N', 'N'}, {'N', 'T'}, {'T', 'N'}, {'T', 'T'}};
    uint32_t seed = 900;
    const size_t count = sizeof sizes / sizeof sizes[0];
    for (size_t i = 0; i < count; ++i)
        for (size_t step : {size_t{1}, size_t{5}, size_t{11}}) {
            const int64_t m = sizes[i], n = sizes[(i + step) % count], k = sizes[(i * 7 + step) % count];
            const char *pair = pairs[seed % 4];
            const float *ab = scalars[(seed / 4) % 4];
            const int64_t pad = seed % 3;
            Product p(pair[0], pair[1], m, n, k, ab[0], ab[1], seed++, pad);
            EXPECT_TRUE(run_sgemm32(p));
        }
    // A transposed against a narrow B with a long inner dimension.
    for (int64_t n = 2; n <= 15; ++n) {
        Product p('T', 'N', 150, n, 24 * n + (n % 2), 1.0f, n % 3 == 0 ? 0.0f : 0.5f, seed++);
        EXPECT_TRUE(run_sgemm32(p));
    }
}

// A row-major C = op(A) op(B), indexed as row-major data.
struct RowMajorProduct {
    CBLAS_TRANSPOSE transA, transB;
    int M, N, K;
    float alpha, beta;
    int lda, ldb, ldc;
    std::vector<float> a, b, c;

    RowMajorProduct(CBLAS_TRANSPOSE ta, CBLAS_TRANSPOSE tb, int M_, int N_, int K_, float al, float be, uint32_t seed)
        : transA(ta), transB(tb), M(M_), N(N_), K(K_), alpha(al), beta(be) {
        bool a_plain = ta == CblasNoTrans, b_plain = tb == CblasNoTrans;
        lda = (a_plain ? K : M) + 2;
        ldb = (b_plain ? N : K) + 1;
        ldc = N + 3;
        a = filled(static_cast<size_t>(lda * (a_plain ? M : K)), seed);
        b = filled(static_cast<size_t>(ldb * (b_plain ? K : N)), seed + 1);
        c = filled(static_cast<size_t>(ldc * M), seed + 2);
    }
    double a_at(int i, int l) const { return transA == CblasNoTrans ? a[i * lda + l] : a[l * lda + i]; }
    double b_at(int l, int j) const { return transB == CblasNoTrans ? b[l * ldb + j] : b[j * ldb + l]; }
};

TEST_F(SgemmResults, RowMajorCblasMatchesTheRowMajorProduct) {
    const CBLAS_TRANSPOSE codes[] = {CblasNoTrans, CblasTrans, CblasConjTrans};
    uint32_t seed = 300;
    for (CBLAS_TRANSPOSE ta : codes)
        for (CBLAS_TRANSPOSE tb : codes) {
            RowMajorProduct p(ta, tb, 5, 8, 6, 1.5f, -0.75f, seed++);
            std::vector<float> input_c = p.c;
            cblas_sgemm(CblasRowMajor, ta, tb, p.M, p.N, p.K, p.alpha, p.a.data(), p.lda, p.b.data(), p.ldb, p.beta,
                        p.c.data(), p.ldc);
            for (int i = 0; i < p.M; ++i)
                for (int j = 0; j < p.ldc; ++j) {
                    size_t at = static_cast<size_t>(i * p.ldc + j);
                    if (j >= p.N) {
                        EXPECT_EQ(p.c[at], input_c[at]) << "padding changed at row " << i;
                        continue;
                    }
                    double sum = 0.0, magnitude = 0.0;
                    for (int l = 0; l < p.K; ++l) {
                        sum += p.a_at(i, l) * p.b_at(l, j);
                        magnitude += std::fabs(p.a_at(i, l) * p.b_at(l, j));
                    }
                    double exact = p.alpha * sum + static_cast<double>(p.beta) * input_c[at];
                    double bound =
                        gemm_error_bound(p.K, std::fabs(p.alpha) * magnitude +
                                                    std::fabs(static_cast<double>(p.beta) * input_c[at]));
                    EXPECT_NEAR(p.c[at], exact, bound) << "C(" << i << "," << j << ") codes " << ta << "," << tb;
                }
        }
    EXPECT_TRUE(reports.empty());
}

// Row-major leading dimensions that column-major checks would reject.
TEST_F(SgemmResults, RowMajorChecksUseRowMajorShapes) {
    RowMajorProduct p(CblasNoTrans, CblasNoTrans, 9, 2, 3, 1.0f, 0.0f, 350);
    p.lda = 3, p.ldb = 2, p.ldc = 2;
    cblas_sgemm(CblasRowMajor, CblasNoTrans, CblasNoTrans, 9, 2, 3, 1.0f, p.a.data(), 3, p.b.data(), 2, 0.0f,
                p.c.data(), 2);
    EXPECT_TRUE(reports.empty());
    for (int i = 0; i < 9; ++i)
        for (int j = 0; j < 2; ++j) {
            double sum = 0.0, magnitude = 0.0;
            for (int l = 0; l < 3; ++l) {
                sum += p.a_at(i, l) * p.b_at(l, j);
                magnitude += std::fabs(p.a_at(i, l) * p.b_at(l, j));
            }
            EXPECT_NEAR(p.c[static_cast<size_t>(i * 2 + j)], sum, gemm_error_bound(3, magnitude));
        }
}

TEST_F(SgemmResults, ColumnMajorCblasMatchesTheReference) {
    const CBLAS_TRANSPOSE codes[] = {CblasNoTrans, CblasTrans, CblasConjTrans};
    const char letters[] = {'N', 'T', 'C'};
    uint32_t seed = 400;
    for (int x = 0; x < 3; ++x)
        for (int y = 0; y < 3; ++y) {
            Product p(letters[x], letters[y], 10, 12, 7, -2.0f, 0.5f, seed++);
            std::vector<double> magnitude, exact = p.expected(&magnitude);
            std::vector<float> input_c = p.c;
            cblas_sgemm(CblasColMajor, codes[x], codes[y], 10, 12, 7, p.alpha, p.a.data(), static_cast<int>(p.lda),
                        p.b.data(), static_cast<int>(p.ldb), p.beta, p.c.data(), static_cast<int>(p.ldc));
            EXPECT_TRUE(matches(p, input_c, exact, magnitude));
        }
    EXPECT_TRUE(reports.empty());
}

// Eight application threads call at once, each with shapes of its own.
TEST(SgemmConcurrency, EightThreadsWithDifferentShapes) {
    constexpr int kThreads = 8;
    constexpr int kRounds = 6;
    struct Shape {
        char ta, tb;
        int64_t m, n, k;
    };
    const Shape shapes[kThreads] = {{'N', 'N', 37, 29, 41}, {'T', 'N', 64, 64, 64}, {'N', 'T', 1, 50, 20},
                                    {'T', 'T', 50, 1, 20},  {'N', 'N', 33, 17, 1},  {'T', 'N', 100, 80, 3},
                                    {'N', 'C', 7, 5, 0},    {'C', 'T', 129, 31, 77}};
    std::vector<int> failures(kThreads, 0);
    std::vector<std::thread> team;
    for (int t = 0; t < kThreads; ++t) {
        team.emplace_back([&, t] {
            for (int round = 0; round < kRounds; ++round) {
                const Shape &s = shapes[(t + round) % kThreads];
                Product p(s.ta, s.tb, s.m, s.n, s.k, 1.0f + 0.125f * t, 0.5f, static_cast<uint32_t>(1000 + 10 * t + round));
                if (round % 2 == 0) {
                    if (!run_sgemm32(p)) ++failures[t];
                } else {
                    std::vector<double> magnitude, exact = p.expected(&magnitude);
                    std::vector<float> input_c = p.c;
                    const char ta[] = {p.transa, '\0'}, tb[] = {p.transb, '\0'};
                    sgemm_64_(ta, tb, &p.m, &p.n, &p.k, &p.alpha, p.a.data(), &p.lda, p.b.data(), &p.ldb, &p.beta,
                              p.c.data(), &p.ldc);
                    if (!matches(p, input_c, exact, magnitude)) ++failures[t];
                }
            }
        });
    }
    for (std::thread &member : team) member.join();
    for (int t = 0; t < kThreads; ++t) EXPECT_EQ(failures[t], 0) << "thread " << t;
}

}  // namespace
