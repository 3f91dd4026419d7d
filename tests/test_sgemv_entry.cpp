// The public SGEMV forms seen from an application: every argument check
// with its parameter number in the reference numbering (32-bit and 64-bit
// integers) and the CBLAS numbering (both layouts), y left alone after a
// rejected call, transposition letters in either case, the transposition
// mapping of row-major CBLAS calls, the CBLAS quick return, negative
// increments and 64-bit sizes.  Linked against the shared library.  The
// executable runs twice, once on the AVX2 kernel set and once on this
// machine's default set, since SGEMV must work on every set.  Results are
// compared with the double-precision reference within the rounding bound of
// the sum.
#include <gtest/gtest.h>

#include <cmath>
#include <cstdint>
#include <limits>
#include <string>
#include <vector>

#include "orb_blas.h"
#include "support/recorded_errors.h"
#include "support/reference_gemm.h"

namespace {

using SgemvEntry = RecordedErrors;

int64_t magnitude_of(int64_t inc) { return inc < 0 ? -inc : inc; }

// A column-major y := alpha*op(A)*x + beta*y with A m x n.
struct MatVec {
    char trans;           // 'N', 'T' or 'C', either case
    int64_t m, n, lda;    // A's rows, columns and leading dimension
    float alpha, beta;    // scales of the product and of y
    int64_t incx, incy;   // increments (negative: the vector runs backwards)
    std::vector<float> a, x, y;

    MatVec(char t, int64_t m_, int64_t n_, float al, float be, int64_t ix, int64_t iy, uint32_t seed,
           int64_t pad = 3)
        : trans(t), m(m_), n(n_), lda(std::max<int64_t>(1, m_ + pad)), alpha(al), beta(be), incx(ix), incy(iy) {
        a = filled(static_cast<size_t>(lda * std::max<int64_t>(n, 1)), seed);
        x = filled(static_cast<size_t>(std::max<int64_t>(x_length(), 1) * magnitude_of(incx)), seed + 1);
        y = filled(static_cast<size_t>(std::max<int64_t>(y_length(), 1) * magnitude_of(incy)), seed + 2);
    }

    int64_t x_length() const { return ref_is_trans(trans) ? m : n; }
    int64_t y_length() const { return ref_is_trans(trans) ? n : m; }
};

// Compares y after a call with the reference taken from the input y:
// elements within bound, the gaps between elements unchanged.
::testing::AssertionResult y_matches(const std::vector<float> &y, const std::vector<float> &input_y,
                                     int64_t len, int64_t incy, int64_t terms, const std::vector<double> &exact,
                                     const std::vector<double> &magnitude) {
    const int64_t step = magnitude_of(incy);
    for (size_t i = 0; i < y.size(); ++i)
        if (static_cast<int64_t>(i) % step != 0 && y[i] != input_y[i])
            return ::testing::AssertionFailure() << "gap of y changed at " << i;
    for (int64_t i = 0; i < len; ++i) {
        const size_t at = static_cast<size_t>(incy > 0 ? i * incy : (len - 1 - i) * step);
        const double bound = gemm_error_bound(terms, magnitude[static_cast<size_t>(i)]);
        if (!(std::fabs(y[at] - exact[static_cast<size_t>(i)]) <= bound))
            return ::testing::AssertionFailure() << "y(" << i << ") = " << y[at] << ", expected "
                                                 << exact[static_cast<size_t>(i)] << " within " << bound;
    }
    return ::testing::AssertionSuccess();
}

// The reference routines under test, every name with 32-bit integers.
using Sgemv32 = void (*)(const char *, const int *, const int *, const float *, const float *, const int *,
                         const float *, const int *, const float *, float *, const int *, size_t);
using Sgemv64 = void (*)(const char *, const int64_t *, const int64_t *, const float *, const float *,
                         const int64_t *, const float *, const int64_t *, const float *, float *, const int64_t *,
                         size_t);

::testing::AssertionResult run_sgemv32(MatVec &p, Sgemv32 routine = sgemv_) {
    std::vector<double> magnitude;
    const std::vector<double> exact = reference_sgemv(p.trans, p.m, p.n, p.alpha, p.a.data(), p.lda, p.x.data(),
                                                      p.incx, p.beta, p.y.data(), p.incy, &magnitude);
    const std::vector<float> input_y = p.y;
    const char t[] = {p.trans, '\0'};
    const int m = static_cast<int>(p.m), n = static_cast<int>(p.n), lda = static_cast<int>(p.lda);
    const int incx = static_cast<int>(p.incx), incy = static_cast<int>(p.incy);
    routine(t, &m, &n, &p.alpha, p.a.data(), &lda, p.x.data(), &incx, &p.beta, p.y.data(), &incy, 1);
    return y_matches(p.y, input_y, p.y_length(), p.incy, p.x_length(), exact, magnitude);
}

::testing::AssertionResult run_sgemv64(MatVec &p, Sgemv64 routine = sgemv_64_) {
    std::vector<double> magnitude;
    const std::vector<double> exact = reference_sgemv(p.trans, p.m, p.n, p.alpha, p.a.data(), p.lda, p.x.data(),
                                                      p.incx, p.beta, p.y.data(), p.incy, &magnitude);
    const std::vector<float> input_y = p.y;
    const char t[] = {p.trans, '\0'};
    routine(t, &p.m, &p.n, &p.alpha, p.a.data(), &p.lda, p.x.data(), &p.incx, &p.beta, p.y.data(), &p.incy, 1);
    return y_matches(p.y, input_y, p.y_length(), p.incy, p.x_length(), exact, magnitude);
}

// ---------------------------------------------------------------------------
// Argument checks of the reference forms
// ---------------------------------------------------------------------------

struct BadCall {
    const char *trans;
    int64_t m, n, lda, incx, incy;
    int64_t parameter;  // the parameter that must be reported
    const char *what;
};

// Every row of the checker, the orders between rows, and the edge cases.
const BadCall kBadCalls[] = {
    {"x", 2, 2, 2, 1, 1, 1, "trans not N, T or C"},
    {"/", -1, -1, 0, 0, 0, 1, "trans checked first"},
    {"N", -1, 2, 2, 1, 1, 2, "m < 0"},
    {"T", -1, -1, 0, 0, 0, 2, "m checked before n, lda and the increments"},
    {"N", 2, -1, 2, 1, 1, 3, "n < 0"},
    {"n", 2, -1, 0, 0, 0, 3, "n checked before lda and the increments"},
    {"N", 3, 2, 2, 1, 1, 6, "lda < m"},
    {"T", 3, 5, 2, 1, 1, 6, "lda < m when transposed as well"},
    {"N", 0, 2, 0, 1, 1, 6, "lda = 0 with m = 0"},
    {"c", 3, 2, 2, 0, 0, 6, "lda checked before the increments"},
    {"N", 2, 2, 2, 0, 1, 8, "incx = 0"},
    {"t", 2, 2, 2, 0, 0, 8, "incx checked before incy"},
    {"N", 2, 2, 2, 1, 0, 11, "incy = 0"},
    {"C", 2, 2, 2, -3, 0, 11, "a negative incx passes; incy = 0"},
};

TEST_F(SgemvEntry, EveryCheckerRowReportsItsParameterInBothIntegerForms) {
    for (const BadCall &bad : kBadCalls) {
        SCOPED_TRACE(bad.what);
        const float alpha = 1.0f, beta = 0.0f;
        std::vector<float> a(64, 1.0f), x(64, 1.0f), y(64, kSentinel);

        reports.clear();
        const int m = static_cast<int>(bad.m), n = static_cast<int>(bad.n), lda = static_cast<int>(bad.lda);
        const int incx = static_cast<int>(bad.incx), incy = static_cast<int>(bad.incy);
        sgemv_(bad.trans, &m, &n, &alpha, a.data(), &lda, x.data(), &incx, &beta, y.data(), &incy);
        ASSERT_EQ(reports.size(), 1u);
        EXPECT_EQ(reports[0].name, "SGEMV ");
        EXPECT_EQ(reports[0].len, 6);
        EXPECT_EQ(reports[0].info, bad.parameter);
        EXPECT_TRUE(all_sentinel(y));

        reports.clear();
        sgemv_64_(bad.trans, &bad.m, &bad.n, &alpha, a.data(), &bad.lda, x.data(), &bad.incx, &beta, y.data(),
                  &bad.incy);
        ASSERT_EQ(reports.size(), 1u);
        EXPECT_EQ(reports[0].name, "SGEMV ");
        EXPECT_EQ(reports[0].info, bad.parameter);
        EXPECT_TRUE(all_sentinel(y));
    }
}

TEST_F(SgemvEntry, CheckersAnswerWithoutComputing) {
    const float alpha = 1.0f, beta = 0.0f;
    std::vector<float> a(16, 1.0f), x(4, 1.0f), y(4, kSentinel);
    int m = 3, n = 4, lda = 3, inc = 1, bad_lda = 2;
    EXPECT_EQ(orb_blas_errchk_sgemv("N", &m, &n, &alpha, a.data(), &lda, x.data(), &inc, &beta, y.data(), &inc), 0);
    EXPECT_TRUE(reports.empty());
    EXPECT_EQ(orb_blas_errchk_sgemv("N", &m, &n, &alpha, a.data(), &bad_lda, x.data(), &inc, &beta, y.data(), &inc),
              1);
    int64_t m64 = 3, n64 = 4, lda64 = 3, inc64 = 1, zero64 = 0;
    EXPECT_EQ(orb_blas_errchk_sgemv_ilp64("t", &m64, &n64, &alpha, a.data(), &lda64, x.data(), &inc64, &beta,
                                          y.data(), &inc64),
              0);
    EXPECT_EQ(orb_blas_errchk_sgemv_ilp64("t", &m64, &n64, &alpha, a.data(), &lda64, x.data(), &inc64, &beta,
                                          y.data(), &zero64),
              1);
    ASSERT_EQ(reports.size(), 2u);
    EXPECT_EQ(reports[0].info, 6);
    EXPECT_EQ(reports[1].info, 11);
    EXPECT_TRUE(all_sentinel(y));
}

// The 64-bit forms compare every value in full: sizes beyond 32 bits pass
// when the leading dimension covers them, and an increment of 2^32 is not 0.
TEST_F(SgemvEntry, SixtyFourBitValuesAreComparedInFull) {
    const float alpha = 1.0f, beta = 0.0f;
    std::vector<float> a(4, 1.0f), x(4, 1.0f), y(4, kSentinel);
    const int64_t huge = int64_t{1} << 40, zero = 0, one = 1, two_to_32 = int64_t{1} << 32;

    const int64_t short_lda = huge - 1;
    sgemv_64_("N", &huge, &one, &alpha, a.data(), &short_lda, x.data(), &one, &beta, y.data(), &one);
    ASSERT_EQ(reports.size(), 1u);
    EXPECT_EQ(reports[0].info, 6);

    // n = 0: the checks pass and the driver returns without touching y.
    reports.clear();
    sgemv_64_("N", &huge, &zero, &alpha, a.data(), &huge, x.data(), &one, &beta, y.data(), &one);
    sgemv_64_("T", &zero, &zero, &alpha, a.data(), &one, x.data(), &two_to_32, &beta, y.data(), &two_to_32);
    EXPECT_TRUE(reports.empty());
    EXPECT_TRUE(all_sentinel(y));
}

// ---------------------------------------------------------------------------
// Argument checks of the CBLAS form
// ---------------------------------------------------------------------------

struct BadCblasCall {
    int layout, trans;
    int M, N, lda, incX, incY;
    int parameter;  // the CBLAS parameter that must be reported
    const char *what;
};

const BadCblasCall kBadCblasCalls[] = {
    {103, 111, 2, 2, 2, 1, 1, 1, "layout neither 101 nor 102"},
    {0, 200, -1, -1, 0, 0, 0, 1, "layout checked first"},
    {102, 110, 2, 2, 2, 1, 1, 2, "transA below 111, column-major"},
    {101, 114, 2, 2, 2, 1, 1, 2, "transA above 113, row-major"},
    {101, 200, -1, -1, 0, 0, 0, 2, "transA checked before M"},
    {102, 111, -1, 2, 2, 1, 1, 3, "M < 0, column-major"},
    {101, 112, -1, -1, 0, 0, 0, 3, "M < 0, row-major, checked before N"},
    {102, 113, 2, -1, 2, 1, 1, 4, "N < 0, column-major"},
    {101, 111, 2, -1, 0, 0, 0, 4, "N < 0, row-major, checked before lda"},
    {102, 111, 5, 3, 4, 1, 1, 7, "column-major lda < M"},
    {101, 111, 3, 5, 4, 1, 1, 7, "row-major lda < N"},
    {102, 112, 0, 3, 0, 1, 1, 7, "lda = 0 with M = 0, before the quick return"},
    {101, 113, 3, 0, 0, 1, 1, 7, "row-major lda = 0 with N = 0"},
    {101, 111, 5, 3, 3, 0, 0, 9, "row-major lda = N < M passes; incX = 0"},
    {102, 111, 2, 2, 2, 0, 1, 9, "incX = 0, column-major"},
    {102, 112, 2, 2, 2, 1, 0, 12, "incY = 0"},
    {101, 112, 0, 0, 1, 1, 0, 12, "incY checked before the quick return"},
};

TEST_F(SgemvEntry, EveryCblasCheckReportsItsParameter) {
    for (const BadCblasCall &bad : kBadCblasCalls) {
        SCOPED_TRACE(bad.what);
        std::vector<float> a(64, 1.0f), x(64, 1.0f), y(64, kSentinel);
        reports.clear();
        cblas_sgemv(static_cast<CBLAS_LAYOUT>(bad.layout), static_cast<CBLAS_TRANSPOSE>(bad.trans), bad.M, bad.N,
                    1.0f, a.data(), bad.lda, x.data(), bad.incX, 0.0f, y.data(), bad.incY);
        ASSERT_EQ(reports.size(), 1u);
        EXPECT_EQ(reports[0].name, "cblas_sgemv");
        EXPECT_EQ(reports[0].info, bad.parameter);
        EXPECT_TRUE(all_sentinel(y));
    }
}

// Calls that cannot change y return before anything is called: NaN in A
// and x would otherwise reach y through 0 * NaN.
TEST_F(SgemvEntry, CblasQuickReturnLeavesYAlone) {
    const float nan = std::numeric_limits<float>::quiet_NaN();
    std::vector<float> a(64, nan), x(8, nan), y(8, kSentinel);
    for (int layout : {101, 102})
        for (int trans : {111, 112, 113}) {
            const auto lay = static_cast<CBLAS_LAYOUT>(layout);
            const auto tr = static_cast<CBLAS_TRANSPOSE>(trans);
            cblas_sgemv(lay, tr, 4, 5, 0.0f, a.data(), 5, x.data(), 1, 1.0f, y.data(), 1);
            cblas_sgemv(lay, tr, 0, 5, 2.0f, a.data(), 5, x.data(), 1, 0.0f, y.data(), 1);
            cblas_sgemv(lay, tr, 4, 0, 2.0f, a.data(), 5, x.data(), -1, 0.0f, y.data(), -1);
        }
    EXPECT_TRUE(all_sentinel(y));
    EXPECT_TRUE(reports.empty());
}

// ---------------------------------------------------------------------------
// Results
// ---------------------------------------------------------------------------

TEST_F(SgemvEntry, EveryNameOfTheRoutineComputesTheProduct) {
    const Sgemv32 names32[] = {SGEMV, sgemv, sgemv_, orb_blas__sgemv};
    const Sgemv64 names64[] = {SGEMV_64, sgemv_64, sgemv_64_};
    uint32_t seed = 1;
    for (Sgemv32 routine : names32)
        for (char t : {'N', 'T'}) {
            MatVec p(t, 23, 17, 1.5f, -0.5f, 1, 1, seed++);
            EXPECT_TRUE(run_sgemv32(p, routine)) << t;
        }
    for (Sgemv64 routine : names64)
        for (char t : {'N', 'T'}) {
            MatVec p(t, 23, 17, 1.5f, -0.5f, 1, 1, seed++);
            EXPECT_TRUE(run_sgemv64(p, routine)) << t;
        }
    EXPECT_TRUE(reports.empty());
}

TEST_F(SgemvEntry, TranspositionLettersInEitherCase) {
    uint32_t seed = 40;
    for (char t : {'N', 'n', 'T', 't', 'C', 'c'}) {
        MatVec p(t, 19, 31, -1.0f, 2.0f, 1, 1, seed++);
        EXPECT_TRUE(run_sgemv32(p)) << t;
    }
    EXPECT_TRUE(reports.empty());
}

// Increments of either sign and size; a negative increment addresses the
// vector from its lowest element.
TEST_F(SgemvEntry, NegativeAndLargeIncrements) {
    const int64_t increments[][2] = {{-1, 1}, {1, -1}, {-2, -3}, {3, 2}, {-7, 5}};
    uint32_t seed = 60;
    for (const auto &inc : increments)
        for (char t : {'N', 'T'}) {
            MatVec p(t, 37, 29, 0.75f, 0.25f, inc[0], inc[1], seed++);
            EXPECT_TRUE(run_sgemv32(p)) << t << " incx " << inc[0] << " incy " << inc[1];
            MatVec q(t, 37, 29, 0.75f, 0.25f, inc[0], inc[1], seed++);
            EXPECT_TRUE(run_sgemv64(q)) << t << " incx " << inc[0] << " incy " << inc[1];
        }
    EXPECT_TRUE(reports.empty());
}

// Shapes from one element to sizes that may run on a thread team, with the
// special scales: beta = 0 overwrites y even when it holds NaN.
TEST_F(SgemvEntry, ShapesAndScales) {
    struct Shape {
        int64_t m, n;       // A's size
        float alpha, beta;  // the scales
    };
    const Shape shapes[] = {
        {1, 1, 1.0f, 0.0f},     {1, 40, 2.0f, 1.0f},    {40, 1, -1.0f, 0.5f},   {16, 16, 1.0f, 1.0f},
        {33, 65, 0.0f, -2.0f},  {127, 129, 1.0f, 0.0f}, {300, 520, 0.5f, 1.0f}, {1500, 64, 1.0f, -1.0f},
        {64, 1500, 1.0f, 0.0f}, {2100, 150, 1.0f, 0.25f},
    };
    uint32_t seed = 80;
    for (const Shape &s : shapes)
        for (char t : {'N', 'T'}) {
            MatVec p(t, s.m, s.n, s.alpha, s.beta, 1, 1, seed++);
            if (s.beta == 0.0f)
                for (float &v : p.y) v = std::numeric_limits<float>::quiet_NaN();
            EXPECT_TRUE(run_sgemv32(p)) << t << " " << s.m << "x" << s.n;
        }
    EXPECT_TRUE(reports.empty());
}

TEST_F(SgemvEntry, EmptyShapesLeaveYAlone) {
    const float alpha = 1.0f, beta = 0.0f;
    std::vector<float> a(16, 1.0f), x(16, 1.0f), y(16, kSentinel);
    const int zero = 0, four = 4, one = 1;
    sgemv_("N", &zero, &four, &alpha, a.data(), &one, x.data(), &one, &beta, y.data(), &one);
    sgemv_("T", &four, &zero, &alpha, a.data(), &four, x.data(), &one, &beta, y.data(), &one);
    EXPECT_TRUE(all_sentinel(y));
    EXPECT_TRUE(reports.empty());
}

// A column-major call maps 111, 112 and 113 to "N", "T" and "C".  A
// row-major M x N matrix is the column-major N x M matrix with the same
// leading dimension, so a row-major call is the column-major call on the
// exchanged dimensions with 111 as "T" and 112, 113 as "N".
TEST_F(SgemvEntry, CblasLayoutsAndTranspositionMapping) {
    struct Expectation {
        int layout, trans;  // the CBLAS call
        char letter;        // the column-major reference it must match
    };
    const Expectation mapping[] = {
        {102, 111, 'N'}, {102, 112, 'T'}, {102, 113, 'C'},
        {101, 111, 'T'}, {101, 112, 'N'}, {101, 113, 'N'},
    };
    struct Shape {
        int M, N, lda;  // the CBLAS sizes
    };
    uint32_t seed = 200;
    for (const Expectation &e : mapping) {
        const bool row_major = e.layout == 101;
        // lda equal to the stored rows, and with padding.
        const Shape shapes[] = {{5, 3, row_major ? 3 : 5}, {27, 44, row_major ? 47 : 30}, {130, 90, 140}};
        for (const Shape &s : shapes) {
            SCOPED_TRACE(::testing::Message() << "layout " << e.layout << " trans " << e.trans << " M " << s.M
                                              << " N " << s.N);
            // The column-major view: rows x cols with leading dimension lda.
            const int64_t rows = row_major ? s.N : s.M, cols = row_major ? s.M : s.N;
            const int64_t len_x = e.letter == 'N' ? cols : rows, len_y = e.letter == 'N' ? rows : cols;
            const std::vector<float> a = filled(static_cast<size_t>(s.lda) * static_cast<size_t>(cols), seed++);
            const std::vector<float> x = filled(static_cast<size_t>(len_x) * 2, seed++);
            std::vector<float> y = filled(static_cast<size_t>(len_y), seed++);
            const float alpha = 1.25f, beta = -0.75f;

            std::vector<double> magnitude;
            const std::vector<double> exact = reference_sgemv(e.letter, rows, cols, alpha, a.data(), s.lda,
                                                              x.data(), -2, beta, y.data(), 1, &magnitude);
            const std::vector<float> input_y = y;
            cblas_sgemv(static_cast<CBLAS_LAYOUT>(e.layout), static_cast<CBLAS_TRANSPOSE>(e.trans), s.M, s.N, alpha,
                        a.data(), s.lda, x.data(), -2, beta, y.data(), 1);
            EXPECT_TRUE(y_matches(y, input_y, len_y, 1, len_x, exact, magnitude));
        }
    }
    EXPECT_TRUE(reports.empty());
}

}  // namespace
