// test_avx2_sgemm_paths.cpp - the AVX2 serial SGEMM, path by path, against a
// double-precision reference.
//
// orb_blas_avx2_xsgemm picks one of several ways to compute
// C := alpha*op(A)*op(B) + beta*C from the shape of the call: the blocked
// path that packs A and B (A not transposed with m, n >= 72; A transposed
// with m, n >= 56), the no-copy kernels for every other shape (four kernels
// by transposition, k cut into blocks of 256 or 96), the 6 x 6 kernel
// (m = k = 6, neither operand transposed), the buffer-free product for tiny
// shapes with A transposed and B not (m <= 3, n <= 15, m*n < 32), and plain
// scaling of C when alpha or k is 0.  Each table below aims its shapes at one
// of these paths and at the seams inside it (strip widths, k, n and m
// blocks); a seeded random sweep covers the shapes in between.
//
// Every element of C must agree with the reference within the rounding bound
// of a k-term float sum.  The operands are stored with padding: padding rows
// of A and B hold NaN, which must never reach C; padding rows of C and a
// guard after its last column hold a sentinel, which must survive.  With
// beta 0, a C full of NaN must be overwritten; with alpha 0 or k 0, A and B
// full of NaN must not be read.
//
// The STRICT reproducible mode is read once per process, so its cases run in
// child processes on the simulated AVX2 processor, through the set-independent
// dispatcher.  There every shape takes the full-copy blocked path with
// single-accumulator kernels: each element of C must equal the chain of
// fused multiply-adds over k in increasing order, k block after k block,
// and must not change with the operands' addresses.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <limits>
#include <random>
#include <sstream>
#include <string>
#include <vector>

#include "blas/kernels/avx2/avx2_kernels.h"
#include "blas/kernels/dispatchers.h"
#include "orb_service.h"
#include "support/child_process.h"
#include "support/reference_gemm.h"

namespace {

// ---------------------------------------------------------------------------
// One call, its operands and the check of its result.
// ---------------------------------------------------------------------------

// One call of the product, as the tables below describe it.
struct GemmCase {
    std::string name;        // the path or property the case is aimed at
    char transa, transb;     // transposition characters, passed as given
    int64_t m, n, k;         // C is m x n, op(A) m x k, op(B) k x n
    float alpha, beta;       // the scalars of the product
    int64_t lda_extra = 0;   // rows of padding beyond the shortest legal lda
    int64_t ldb_extra = 0;   // rows of padding beyond the shortest legal ldb
    int64_t ldc_extra = 0;   // rows of padding beyond m in C
    bool nan_c = false;      // C starts full of NaN (paired with beta 0)
    bool nan_ab = false;     // A and B hold only NaN (paired with alpha 0 or k 0)
};

bool not_transposed(char t) { return t == 'N' || t == 'n'; }

// The stored operands of one case, padding included.
struct Operands {
    int64_t lda, ldb, ldc;     // leading dimensions of the stored matrices
    std::vector<float> a;      // A as stored (m x k, or k x m when transposed)
    std::vector<float> b;      // B as stored (k x n, or n x k when transposed)
    std::vector<float> c;      // C (ldc x n) followed by a guard of kGuard floats
};

const float kNaN = std::numeric_limits<float>::quiet_NaN();
const float kSentinel = -12345.5f;
const int64_t kGuard = 37;

// Fills a stored rows x cols matrix: the matrix with values from next(),
// the padding rows below it with pad.
template <class Next>
std::vector<float> stored_matrix(int64_t rows, int64_t cols, int64_t ld, float pad, Next next) {
    std::vector<float> v(static_cast<size_t>(std::max<int64_t>(1, ld * cols)), pad);
    for (int64_t j = 0; j < cols; ++j)
        for (int64_t i = 0; i < rows; ++i) v[static_cast<size_t>(i + j * ld)] = next();
    return v;
}

Operands make_operands(const GemmCase &g, uint64_t seed) {
    std::mt19937_64 rng(seed);
    std::uniform_real_distribution<float> uniform(-1.0f, 1.0f);
    auto random_value = [&] { return uniform(rng); };
    auto nan_value = [] { return kNaN; };

    const int64_t a_rows = not_transposed(g.transa) ? g.m : g.k;
    const int64_t a_cols = not_transposed(g.transa) ? g.k : g.m;
    const int64_t b_rows = not_transposed(g.transb) ? g.k : g.n;
    const int64_t b_cols = not_transposed(g.transb) ? g.n : g.k;

    Operands ops;
    ops.lda = std::max<int64_t>(1, a_rows) + g.lda_extra;
    ops.ldb = std::max<int64_t>(1, b_rows) + g.ldb_extra;
    ops.ldc = std::max<int64_t>(1, g.m) + g.ldc_extra;
    if (g.nan_ab) {
        ops.a = stored_matrix(a_rows, a_cols, ops.lda, kNaN, nan_value);
        ops.b = stored_matrix(b_rows, b_cols, ops.ldb, kNaN, nan_value);
    } else {
        ops.a = stored_matrix(a_rows, a_cols, ops.lda, kNaN, random_value);
        ops.b = stored_matrix(b_rows, b_cols, ops.ldb, kNaN, random_value);
    }
    if (g.nan_c)
        ops.c = stored_matrix(g.m, g.n, ops.ldc, kSentinel, nan_value);
    else
        ops.c = stored_matrix(g.m, g.n, ops.ldc, kSentinel, random_value);
    ops.c.resize(ops.c.size() + kGuard, kSentinel);
    return ops;
}

using SgemmEntry = void (*)(const char *, const char *, const int64_t *, const int64_t *, const int64_t *,
                            const float *, const float *, const int64_t *, const float *, const int64_t *,
                            const float *, float *, const int64_t *);

// Float offsets at which copies of the operands are placed for one call.
struct Placement {
    size_t a = 0;   // offset of A's first element in its copy
    size_t b = 0;   // offset of B's first element
    size_t c = 0;   // offset of C's first element
};

// Runs one call on copies of the operands placed as asked; returns C's
// storage (guard included) as the call left it.
std::vector<float> run_call(SgemmEntry entry, const GemmCase &g, const Operands &ops, Placement at = {}) {
    std::vector<float> a(at.a + ops.a.size()), b(at.b + ops.b.size()), c(at.c + ops.c.size());
    std::copy(ops.a.begin(), ops.a.end(), a.begin() + static_cast<std::ptrdiff_t>(at.a));
    std::copy(ops.b.begin(), ops.b.end(), b.begin() + static_cast<std::ptrdiff_t>(at.b));
    std::copy(ops.c.begin(), ops.c.end(), c.begin() + static_cast<std::ptrdiff_t>(at.c));
    const char transa[2] = {g.transa, '\0'}, transb[2] = {g.transb, '\0'};
    entry(transa, transb, &g.m, &g.n, &g.k, &g.alpha, a.data() + at.a, &ops.lda, b.data() + at.b, &ops.ldb,
          &g.beta, c.data() + at.c, &ops.ldc);
    return std::vector<float>(c.begin() + static_cast<std::ptrdiff_t>(at.c), c.end());
}

bool same_bits(float x, float y) { return std::memcmp(&x, &y, sizeof x) == 0; }

std::string describe(const GemmCase &g, const Operands &ops) {
    std::ostringstream s;
    s << g.name << " (" << g.transa << g.transb << " m=" << g.m << " n=" << g.n << " k=" << g.k
      << " alpha=" << g.alpha << " beta=" << g.beta << " lda=" << ops.lda << " ldb=" << ops.ldb
      << " ldc=" << ops.ldc << (g.nan_c ? " NaN in C" : "") << (g.nan_ab ? " NaN in A and B" : "") << ")";
    return s.str();
}

// Collects the wrong elements of one result; keeps the first few for the report.
class Complaints {
  public:
    void add(int64_t i, int64_t j, float got, const std::string &expected) {
        if (count_++ < 6) text_ << "\n  C(" << i << "," << j << ") = " << got << ", expected " << expected;
    }
    // Empty when nothing was wrong, else the case and its first wrong elements.
    std::string report(const std::string &what) const {
        if (count_ == 0) return "";
        return what + ": " + std::to_string(count_) + " wrong element(s)" + text_.str();
    }

  private:
    int64_t count_ = 0;         // wrong elements seen
    std::ostringstream text_;   // the first few of them, one per line
};

std::string number(double x) {
    std::ostringstream s;
    s.precision(9);
    s << x;
    return s.str();
}

// Checks C's storage outside the m x n block: padding rows and guard keep the sentinel.
void check_untouched(const GemmCase &g, const Operands &ops, const std::vector<float> &after, Complaints &bad) {
    for (int64_t j = 0; j < g.n; ++j)
        for (int64_t i = g.m; i < ops.ldc; ++i) {
            float got = after[static_cast<size_t>(i + j * ops.ldc)];
            if (!same_bits(got, kSentinel)) bad.add(i, j, got, "the padding sentinel");
        }
    for (size_t p = static_cast<size_t>(ops.ldc * g.n); p < after.size(); ++p)
        if (!same_bits(after[p], kSentinel)) bad.add(-1, static_cast<int64_t>(p), after[p], "the guard sentinel");
}

// The result of a call whose product term vanishes (alpha 0 or k 0): beta 1
// leaves C as it was, beta 0 writes zeros without reading C, any other beta
// is one float multiplication per element.
void check_scaled_only(const GemmCase &g, const Operands &ops, const std::vector<float> &after, Complaints &bad) {
    for (int64_t j = 0; j < g.n; ++j)
        for (int64_t i = 0; i < g.m; ++i) {
            const size_t at = static_cast<size_t>(i + j * ops.ldc);
            const float before = ops.c[at], got = after[at];
            if (g.beta == 1.0f) {
                if (!same_bits(got, before)) bad.add(i, j, got, "untouched " + number(before));
            } else if (g.beta == 0.0f) {
                if (!(got == 0.0f)) bad.add(i, j, got, "0");
            } else {
                const float want = g.beta * before;
                if (!(got == want)) bad.add(i, j, got, number(want) + " (beta * C)");
            }
        }
}

// The result of a full product: within the rounding bound of the reference.
void check_product(const GemmCase &g, const Operands &ops, const std::vector<float> &after, Complaints &bad) {
    RefGemm ref;
    ref.transa = g.transa;
    ref.transb = g.transb;
    ref.m = g.m;
    ref.n = g.n;
    ref.k = g.k;
    ref.alpha = g.alpha;
    ref.beta = g.beta;
    ref.a = ops.a.data();
    ref.lda = ops.lda;
    ref.b = ops.b.data();
    ref.ldb = ops.ldb;
    std::vector<double> magnitude;
    const std::vector<double> want = reference_sgemm(ref, ops.c.data(), ops.ldc, &magnitude);
    for (int64_t j = 0; j < g.n; ++j)
        for (int64_t i = 0; i < g.m; ++i) {
            const size_t r = static_cast<size_t>(i + j * g.m);
            const float got = after[static_cast<size_t>(i + j * ops.ldc)];
            const double bound = gemm_error_bound(g.k, magnitude[r]);
            if (!(std::fabs(got - want[r]) <= bound)) bad.add(i, j, got, number(want[r]) + " +- " + number(bound));
        }
}

// Checks everything about C after one call; empty when all is right.
std::string check_result(const GemmCase &g, const Operands &ops, const std::vector<float> &after) {
    Complaints bad;
    if (g.alpha == 0.0f || g.k == 0)
        check_scaled_only(g, ops, after, bad);
    else
        check_product(g, ops, after, bad);
    check_untouched(g, ops, after, bad);
    return bad.report(describe(g, ops));
}

// Runs one case through entry and checks its result.
std::string check_case(SgemmEntry entry, const GemmCase &g, uint64_t seed) {
    const Operands ops = make_operands(g, seed);
    return check_result(g, ops, run_call(entry, g, ops));
}

// Runs a table; returns one report per wrong case.
std::vector<std::string> failures_of(SgemmEntry entry, const std::vector<GemmCase> &cases, uint64_t seed) {
    std::vector<std::string> failures;
    for (size_t i = 0; i < cases.size(); ++i) {
        std::string report = check_case(entry, cases[i], seed + 7919 * i);
        if (!report.empty()) failures.push_back(report);
    }
    return failures;
}

void expect_table(const std::vector<GemmCase> &cases, uint64_t seed) {
    for (const std::string &report : failures_of(orb_blas_avx2_xsgemm, cases, seed)) ADD_FAILURE() << report;
}

// ---------------------------------------------------------------------------
// The tables.  Beta classes: 0 (always with NaN in C), 1, anything else.
// ---------------------------------------------------------------------------

// Shapes on both sides of the blocked-path thresholds, every transposition
// pair on the blocked path, the n-block cap for small k and the m-block split.
std::vector<GemmCase> blocked_cases() {
    return {
        {"blocked NN at the threshold", 'N', 'N', 72, 72, 33, 1.0f, 0.0f, 0, 0, 0, true},
        {"no-copy NN just below in m", 'N', 'N', 71, 1000, 20, 1.0f, 1.0f},
        {"no-copy NN just below in n", 'N', 'N', 72, 71, 20, -1.0f, 0.5f, 3},
        {"blocked TN at the threshold", 'T', 'N', 56, 56, 40, 0.75f, 0.0f, 0, 0, 2, true},
        {"no-copy TN just below in n", 'T', 'N', 56, 55, 40, 1.0f, 1.0f},
        {"no-copy TT just below in m", 'T', 'T', 55, 56, 40, 1.0f, -2.0f},
        {"blocked CN at the threshold", 'C', 'n', 56, 56, 31, 1.0f, 1.0f},
        {"blocked NN", 'N', 'N', 100, 90, 70, 1.0f, 0.0f, 1, 2, 3, true},
        {"blocked NT", 'N', 'T', 97, 81, 66, -1.0f, 1.0f, 0, 5, 1},
        {"blocked Nc", 'n', 'c', 90, 100, 50, 2.5f, -0.5f},
        {"blocked TN", 'T', 'N', 81, 97, 64, 1.0f, -0.5f, 4, 0, 2},
        {"blocked TT", 'T', 'T', 120, 75, 58, 0.5f, 0.0f, 2, 2, 2, true},
        {"blocked tc", 't', 'c', 60, 130, 45, 1.0f, 1.0f},
        {"blocked Cc", 'C', 'c', 99, 59, 77, -1.25f, 2.0f},
        {"blocked, n blocks of 24 when k < 48", 'N', 'N', 80, 100, 40, 1.0f, 0.0f, 0, 0, 0, true},
        {"blocked, n blocks of 24 at k = 47", 'T', 'T', 64, 150, 47, 1.0f, 1.0f},
        {"blocked, n blocks of 384 from k = 48", 'N', 'T', 72, 400, 48, 1.0f, 0.3f},
        {"blocked, m blocks of 10008 and 1", 'N', 'N', 10009, 72, 2, 1.0f, 0.5f, 0, 0, 3},
        {"blocked, m block of 10001 rows", 'T', 'N', 10001, 72, 2, -1.0f, 0.0f, 0, 0, 0, true},
        {"blocked, one-row strips", 'N', 'N', 73, 73, 1, 1.0f, 1.0f},
    };
}

// The blocked path with every remainder of m by the 24-row strip and of n by
// the 4-column panel, k growing across the nc cap at 48.
std::vector<GemmCase> edge_strip_cases() {
    const char kTransb[] = "NTCntc";
    const float kAlphas[] = {1.0f, -1.0f, 0.75f};
    const float kBetas[] = {0.0f, 1.0f, 1.5f};
    std::vector<GemmCase> cases;
    for (char transa : {'N', 'T'}) {
        const int64_t base = transa == 'N' ? 72 : 56;
        for (int r = 0; r < 24; ++r) {
            GemmCase g{"", transa, kTransb[r % 6], base + r, base + r / 6, 5 + 3 * r, kAlphas[r % 3], kBetas[r % 3]};
            g.name = "blocked strips, m mod 24 = " + std::to_string(g.m % 24) + ", n mod 4 = " +
                     std::to_string(g.n % 4);
            g.nan_c = g.beta == 0.0f;
            g.ldc_extra = r % 4;
            g.lda_extra = r % 3;
            cases.push_back(g);
        }
    }
    return cases;
}

// k on both sides of the blocked path's k-block splits: one block up to 256,
// two halves below 384, blocks of 192 from 384 on.
std::vector<GemmCase> k_split_cases() {
    const char kPairs[][2] = {{'N', 'N'}, {'N', 'T'}, {'T', 'N'}, {'T', 'T'}};
    const float kBetas[] = {0.0f, 1.0f, 0.5f, -1.5f};
    std::vector<GemmCase> cases;
    int index = 0;
    for (int64_t k : {255, 256, 257, 300, 383, 384, 385, 500, 600}) {
        const char *pair = kPairs[index % 4];
        GemmCase g{"blocked k = " + std::to_string(k), pair[0], pair[1], 80, 76, k, 1.0f, kBetas[index % 4]};
        g.nan_c = g.beta == 0.0f;
        g.ldb_extra = index % 2;
        cases.push_back(g);
        ++index;
    }
    return cases;
}

// Every transposition code of the no-copy kernels ('C' and lower case
// included), with strips of 16 and groups of 6 left over.
std::vector<GemmCase> nocopy_pair_cases() {
    return {
        {"no-copy NN", 'N', 'N', 50, 40, 33, 1.0f, 0.0f, 0, 0, 0, true},
        {"no-copy NN, n > 18, lda*4 not a multiple of 32", 'N', 'N', 37, 23, 29, 1.0f, 1.0f},
        {"no-copy NN, n > 18, lda*4 a multiple of 32", 'N', 'N', 17, 19, 45, -1.0f, 0.25f, 7},
        {"no-copy NN, whole strips and groups", 'N', 'N', 32, 12, 16, 1.0f, 1.0f},
        {"no-copy nn", 'n', 'n', 15, 5, 9, 2.0f, -1.0f, 1, 1, 1},
        {"no-copy NT", 'N', 'T', 45, 33, 21, 1.0f, 0.0f, 2, 3, 1, true},
        {"no-copy NC", 'N', 'C', 23, 70, 11, 0.5f, 1.0f},
        {"no-copy nt", 'n', 't', 9, 7, 100, 1.0f, 3.0f},
        {"no-copy TN", 'T', 'N', 44, 50, 30, 1.0f, 0.0f, 1, 0, 2, true},
        {"no-copy CN", 'C', 'N', 17, 25, 19, -0.5f, 1.0f, 0, 4},
        {"no-copy tn", 't', 'n', 4, 9, 13, 1.0f, -0.25f},
        {"no-copy TT", 'T', 'T', 33, 47, 27, 1.0f, 0.0f, 3, 3, 3, true},
        {"no-copy TC", 'T', 'C', 50, 20, 8, 1.0f, 1.0f},
        {"no-copy CT", 'C', 'T', 6, 30, 6, 1.5f, 0.5f},
        {"no-copy CC", 'C', 'C', 55, 55, 64, 1.0f, 1.0f, 1, 1, 0},
        {"no-copy cc", 'c', 'c', 1, 1, 1, 1.0f, 0.0f, 0, 0, 0, true},
        {"no-copy Nt, m = 1", 'N', 't', 1, 60, 17, 1.0f, 1.0f, 0, 0, 4},
        {"no-copy TN, n = 1", 'T', 'N', 40, 1, 17, 1.0f, 2.0f},
    };
}

// The no-copy driver's blocks: k blocks of 256 (NN, TN) and 96 (NT, TT),
// halved between one and two blocks; n blocks of 48 or 96; m blocks of 4032.
std::vector<GemmCase> nocopy_block_cases() {
    std::vector<GemmCase> cases;
    int index = 0;
    const float kBetas[] = {1.0f, 0.0f, 2.0f};
    auto add_k = [&](char transa, char transb, int64_t k) {
        GemmCase g{"no-copy k = " + std::to_string(k), transa, transb, 20, 13, k, 1.0f, kBetas[index++ % 3]};
        g.nan_c = g.beta == 0.0f;
        cases.push_back(g);
    };
    for (int64_t k : {255, 256, 257, 300, 511, 512, 513, 600}) {
        add_k('N', 'N', k);
        add_k('T', 'N', k);
    }
    for (int64_t k : {95, 96, 97, 150, 191, 192, 193, 300}) {
        add_k('N', 'T', k);
        add_k('T', 'T', k);
    }
    const std::vector<GemmCase> shapes = {
        {"no-copy beta 2 applied once over three k blocks", 'N', 'N', 30, 20, 600, 1.0f, 2.0f},
        {"no-copy NN n blocks of 48", 'N', 'N', 40, 200, 10, 1.0f, 1.0f},
        {"no-copy NT n halved", 'N', 'T', 40, 80, 10, 1.0f, 0.0f, 0, 0, 0, true},
        {"no-copy NT n 48 then 49", 'N', 'T', 40, 97, 10, 1.0f, -1.0f},
        {"no-copy TN n blocks of 96", 'T', 'N', 30, 300, 10, 1.0f, 1.0f},
        {"no-copy TT n halved", 'T', 'T', 30, 150, 10, 1.0f, 0.0f, 0, 0, 0, true},
        {"no-copy NN m halved", 'N', 'N', 6100, 8, 8, 1.0f, 0.5f},
        {"no-copy TN m 4032 then rest", 'T', 'N', 8100, 7, 5, 1.0f, 0.0f, 0, 0, 0, true},
    };
    cases.insert(cases.end(), shapes.begin(), shapes.end());
    return cases;
}

// The 6 x 6 kernel (m = k = 6, neither transposed) for every way of walking
// n, and its neighbours that go to the no-copy driver.
std::vector<GemmCase> six_by_six_cases() {
    std::vector<GemmCase> cases;
    const float kBetas[] = {0.0f, 1.0f, -2.0f};
    int index = 0;
    for (int64_t n : {1, 2, 3, 4, 5, 8, 9, 13, 100}) {
        GemmCase g{"6 x 6 kernel, n = " + std::to_string(n), index % 2 ? 'n' : 'N', 'N', 6, n, 6, 1.5f,
                   kBetas[index % 3]};
        g.nan_c = g.beta == 0.0f;
        g.ldc_extra = index % 3;
        g.lda_extra = index % 2;
        cases.push_back(g);
        ++index;
    }
    const std::vector<GemmCase> neighbours = {
        {"6 x 6 kernel, beta 0 with padding", 'N', 'n', 6, 7, 6, -1.0f, 0.0f, 2, 3, 4, true},
        {"m = 6, k = 7 is no-copy", 'N', 'N', 6, 9, 7, 1.0f, 0.0f, 0, 0, 0, true},
        {"m = 6, k = 5 is no-copy", 'N', 'N', 6, 9, 5, 1.0f, 1.0f},
        {"m = 6, k = 6 with B transposed is no-copy", 'N', 'T', 6, 9, 6, 1.0f, 0.5f},
        {"m = 6, k = 6 with A transposed is no-copy", 'T', 'N', 6, 9, 6, 1.0f, 1.0f},
    };
    cases.insert(cases.end(), neighbours.begin(), neighbours.end());
    return cases;
}

// A transposed, B not, m <= 3, n <= 15 and m*n < 32: the buffer-free
// product; m = 3, n = 11 is just outside.
std::vector<GemmCase> tiny_transposed_cases() {
    return {
        {"tiny TN 3 x 10", 'T', 'N', 3, 10, 20, 1.0f, 0.0f, 0, 0, 0, true},
        {"tiny TN 1 x 15", 'T', 'N', 1, 15, 33, -1.0f, 1.0f, 2, 1, 2},
        {"tiny TN 2 x 15", 't', 'n', 2, 15, 7, 1.0f, 0.5f},
        {"tiny CN 3 x 10", 'C', 'N', 3, 10, 300, 1.0f, 1.0f},
        {"tiny cn 2 x 1", 'c', 'n', 2, 1, 4, 2.0f, 0.0f, 0, 0, 1, true},
        {"tiny TN 3 x 1, k = 1", 'T', 'N', 3, 1, 1, 1.0f, -1.0f},
        {"TN 3 x 11 is no-copy", 'T', 'N', 3, 11, 20, 1.0f, 0.0f, 0, 0, 0, true},
        {"TN 4 x 7 is no-copy", 'T', 'N', 4, 7, 20, 1.0f, 1.0f},
        {"TN 3 x 16 is no-copy", 'T', 'N', 3, 16, 20, 1.0f, 1.0f},
    };
}

// Shapes that the kernel information sends to the buffer-free product when
// no smaller path takes them: A transposed and B not with m < 12, or n < 4.
std::vector<GemmCase> minimum_size_cases() {
    return {
        {"TN with m < 12", 'T', 'N', 11, 80, 30, 1.0f, 0.0f, 0, 0, 0, true},
        {"TN with m = 5", 'T', 'N', 5, 60, 17, -1.0f, 1.0f, 1, 2, 3},
        {"TN with m = 12", 'T', 'N', 12, 60, 17, 1.0f, 0.5f},
        {"NN with n = 3", 'N', 'N', 100, 3, 20, 1.0f, 0.0f, 0, 0, 2, true},
        {"NT with n = 2", 'N', 'T', 80, 2, 9, 1.0f, 1.0f},
        {"TT with n = 1", 'T', 'T', 60, 1, 5, 2.0f, -0.5f},
        {"NN with n = 4", 'N', 'N', 100, 4, 20, 1.0f, 1.0f},
    };
}

// alpha 0 on every path's shape: C is only scaled, A and B (all NaN) are not read.
std::vector<GemmCase> alpha_zero_cases() {
    const std::vector<GemmCase> shapes = {
        {"blocked shape", 'N', 'N', 100, 80, 50, 0.0f, 0.0f},
        {"blocked transposed shape", 'T', 'T', 60, 60, 50, 0.0f, 0.0f},
        {"no-copy shape", 'N', 'T', 30, 20, 40, 0.0f, 0.0f},
        {"6 x 6 shape", 'N', 'N', 6, 5, 6, 0.0f, 0.0f},
        {"tiny TN shape", 'T', 'N', 3, 10, 8, 0.0f, 0.0f},
    };
    std::vector<GemmCase> cases;
    for (const GemmCase &shape : shapes)
        for (float beta : {1.0f, 0.0f, 2.0f, -0.5f}) {
            GemmCase g = shape;
            g.name = "alpha 0, beta " + number(beta) + ", " + shape.name;
            g.beta = beta;
            g.nan_c = beta == 0.0f;
            g.nan_ab = true;
            g.ldc_extra = 3;
            cases.push_back(g);
        }
    return cases;
}

// k = 0 on every path's shape: C := beta*C whatever alpha is.
std::vector<GemmCase> k_zero_cases() {
    const std::vector<GemmCase> shapes = {
        {"blocked shape", 'N', 'N', 100, 80, 0, 1.0f, 0.0f},
        {"blocked transposed shape", 'C', 'N', 56, 70, 0, -2.0f, 0.0f},
        {"no-copy shape", 'T', 'T', 30, 20, 0, 1.0f, 0.0f},
        {"6 x 6 neighbour", 'N', 'N', 6, 5, 0, 1.0f, 0.0f},
        {"tiny TN shape", 'T', 'N', 3, 10, 0, 1.0f, 0.0f},
    };
    std::vector<GemmCase> cases;
    for (const GemmCase &shape : shapes)
        for (float beta : {1.0f, 0.0f, 0.5f, 3.0f}) {
            GemmCase g = shape;
            g.name = "k 0, beta " + number(beta) + ", " + shape.name;
            g.beta = beta;
            g.nan_c = beta == 0.0f;
            g.nan_ab = true;
            g.ldc_extra = 2;
            cases.push_back(g);
        }
    return cases;
}

// A seeded sweep: m, n, k in 1..max_size, every transposition character,
// every beta class, now and then alpha 0, some padded leading dimensions.
std::vector<GemmCase> random_cases(int count, int64_t max_size, uint64_t seed) {
    std::mt19937_64 rng(seed);
    auto pick = [&](int64_t low, int64_t high) { return std::uniform_int_distribution<int64_t>(low, high)(rng); };
    const char kTrans[] = "NnTtCc";
    const float kAlphas[] = {1.0f, -1.0f, 0.37f, -2.25f, 1.0f, 0.8f, 1.0f, -0.6f, 1.0f, 0.0f};
    const float kBetas[] = {0.0f, 1.0f, -1.0f, 0.5f, 2.75f, -0.3f};
    std::vector<GemmCase> cases;
    for (int i = 0; i < count; ++i) {
        GemmCase g{"random #" + std::to_string(i), kTrans[pick(0, 5)], kTrans[pick(0, 5)], pick(1, max_size),
                   pick(1, max_size), pick(1, max_size), kAlphas[pick(0, 9)], kBetas[pick(0, 5)]};
        g.nan_c = g.beta == 0.0f;
        g.nan_ab = g.alpha == 0.0f;
        if (pick(0, 2) == 0) {
            g.lda_extra = pick(1, 5);
            g.ldb_extra = pick(0, 5);
            g.ldc_extra = pick(1, 5);
        }
        cases.push_back(g);
    }
    return cases;
}

// ---------------------------------------------------------------------------
// Ordinary calls straight into the AVX2 entry.
// ---------------------------------------------------------------------------

TEST(Avx2SgemmBlocked, ThresholdsTranspositionsAndBlocks) {
    expect_table(blocked_cases(), 101);
}

TEST(Avx2SgemmBlocked, EdgeStripsOfEveryWidth) {
    expect_table(edge_strip_cases(), 202);
}

TEST(Avx2SgemmBlocked, KAcrossTheBlockSplits) {
    expect_table(k_split_cases(), 303);
}

TEST(Avx2SgemmNoCopy, EveryTranspositionCode) {
    expect_table(nocopy_pair_cases(), 404);
}

// The NN kernel copies an A strip aside when A's base is not 32-byte aligned;
// every base alignment must give the right product.
TEST(Avx2SgemmNoCopy, EveryAlignmentOfA) {
    for (int64_t lda_extra : {0, 1}) {
        const GemmCase g{"no-copy NN, n > 18", 'N', 'N', 40, 30, 50, 1.0f, 1.0f, lda_extra};
        const Operands ops = make_operands(g, 505 + static_cast<uint64_t>(lda_extra));
        RefGemm ref;
        ref.m = g.m;
        ref.n = g.n;
        ref.k = g.k;
        ref.alpha = g.alpha;
        ref.beta = g.beta;
        ref.a = ops.a.data();
        ref.lda = ops.lda;
        ref.b = ops.b.data();
        ref.ldb = ops.ldb;
        std::vector<double> magnitude;
        const std::vector<double> want = reference_sgemm(ref, ops.c.data(), ops.ldc, &magnitude);
        for (size_t offset = 0; offset < 8; ++offset) {
            const std::vector<float> after = run_call(orb_blas_avx2_xsgemm, g, ops, {offset, 0, 0});
            Complaints bad;
            for (int64_t j = 0; j < g.n; ++j)
                for (int64_t i = 0; i < g.m; ++i) {
                    const size_t r = static_cast<size_t>(i + j * g.m);
                    const float got = after[static_cast<size_t>(i + j * ops.ldc)];
                    const double bound = gemm_error_bound(g.k, magnitude[r]);
                    if (!(std::fabs(got - want[r]) <= bound)) bad.add(i, j, got, number(want[r]));
                }
            const std::string report = bad.report(describe(g, ops) + " with A at float offset " +
                                                  std::to_string(offset));
            EXPECT_TRUE(report.empty()) << report;
        }
    }
}

TEST(Avx2SgemmNoCopy, KNAndMBlocks) {
    expect_table(nocopy_block_cases(), 606);
}

TEST(Avx2SgemmSmallPaths, SixBySixKernel) {
    expect_table(six_by_six_cases(), 707);
}

TEST(Avx2SgemmSmallPaths, TinyTransposedProduct) {
    expect_table(tiny_transposed_cases(), 808);
}

TEST(Avx2SgemmSmallPaths, BelowTheBlockedMinimums) {
    expect_table(minimum_size_cases(), 909);
}

TEST(Avx2SgemmScalingOnly, AlphaZeroReadsNeitherAnorB) {
    expect_table(alpha_zero_cases(), 1010);
}

TEST(Avx2SgemmScalingOnly, KZero) {
    expect_table(k_zero_cases(), 1111);
}

TEST(Avx2SgemmRandom, SeededSweep) {
    expect_table(random_cases(300, 200, 20240611), 1212);
}

// ---------------------------------------------------------------------------
// Through the dispatcher, in child processes on the simulated AVX2 processor.
// ---------------------------------------------------------------------------

const std::vector<std::string> kAvx2Process = {"ORB_SIMULATE_CPU=ruzuv", "ORB_ENABLE_INSTRUCTIONS=AVX2"};
const std::vector<std::string> kAvx2StrictProcess = {"ORB_SIMULATE_CPU=ruzuv", "ORB_ENABLE_INSTRUCTIONS=AVX2",
                                                     "ORB_CBWR=AVX2,STRICT"};

// The last line of a child's output: how many cases it ran.
std::string checked_line(size_t count) { return "checked " + std::to_string(count) + "\n"; }

// Prints the reports of a child's checks and its case count; the exit status
// is the number of wrong cases (at most 100).
int finish_child(const std::vector<std::string> &failures, size_t checked) {
    for (const std::string &report : failures) std::printf("%s\n", report.c_str());
    std::printf("%s", checked_line(checked).c_str());
    std::fflush(stdout);
    return static_cast<int>(std::min<size_t>(failures.size(), 100));
}

// Refuses to check anything unless the process runs the AVX2 set, with or
// without the STRICT flag as asked.
bool wrong_process(bool strict) {
    const int cpu = orb_serv_cpu_detect();
    const int mode = orb_serv_cbwr_get(-1);
    if (cpu == 5 && ((mode & 0x10000) != 0) == strict) return false;
    std::printf("wrong process: cpu type %d, reproducibility mode 0x%x\n", cpu, static_cast<unsigned>(mode));
    return true;
}

std::vector<GemmCase> dispatch_cases() {
    return {
        {"blocked NN", 'N', 'N', 90, 80, 70, 1.0f, 0.0f, 0, 0, 1, true},
        {"blocked TC", 'T', 'C', 60, 61, 257, -1.0f, 0.5f},
        {"no-copy NT", 'N', 'T', 40, 30, 200, 1.0f, 1.0f, 1, 1, 1},
        {"no-copy TN", 'T', 'N', 20, 70, 600, 0.5f, 0.0f, 0, 0, 0, true},
        {"6 x 6 kernel", 'N', 'N', 6, 11, 6, 1.0f, -1.0f},
        {"tiny TN", 't', 'n', 3, 10, 9, 1.0f, 0.0f, 0, 0, 2, true},
        {"alpha 0", 'N', 'N', 50, 50, 50, 0.0f, 2.0f, 0, 0, 0, false, true},
        {"k 0", 'T', 'T', 50, 50, 0, 1.0f, 0.0f, 0, 0, 0, true, true},
    };
}

// The dispatcher must bind to the AVX2 set: every call gives exactly what the
// AVX2 entry gives, and the right product.
ORB_CHILD_ENTRY(dispatch_reaches_avx2) {
    if (wrong_process(false)) return 1;
    const std::vector<GemmCase> cases = dispatch_cases();
    std::vector<std::string> failures = failures_of(orb_blas_xsgemm, cases, 1313);
    for (size_t i = 0; i < cases.size(); ++i) {
        const Operands ops = make_operands(cases[i], 1414 + i);
        const std::vector<float> dispatched = run_call(orb_blas_xsgemm, cases[i], ops);
        const std::vector<float> direct = run_call(orb_blas_avx2_xsgemm, cases[i], ops);
        if (std::memcmp(dispatched.data(), direct.data(), direct.size() * sizeof(float)) != 0)
            failures.push_back(describe(cases[i], ops) + ": the dispatcher's C differs from the AVX2 entry's");
    }
    return finish_child(failures, cases.size());
}

TEST(Avx2SgemmDispatch, OrdinaryCallsReachTheAvx2Set) {
    const ChildResult r = run_child("dispatch_reaches_avx2", kAvx2Process);
    EXPECT_EQ(r.exit_code, 0) << r.out << r.err;
    EXPECT_NE(r.out.find(checked_line(dispatch_cases().size())), std::string::npos) << r.out;
}

// ---------------------------------------------------------------------------
// The STRICT reproducible mode.
// ---------------------------------------------------------------------------

// Shapes that take a small-size path in the ordinary mode and the full-copy
// path in the STRICT mode, and shapes of the blocked path's seams.
std::vector<GemmCase> strict_cases() {
    return {
        {"6 x 6 shape", 'N', 'N', 6, 5, 6, 1.0f, 0.0f, 0, 0, 0, true},
        {"6 x 6 shape, beta 1", 'N', 'N', 6, 13, 6, -1.0f, 1.0f, 1, 1, 1},
        {"6 x 6 shape, other beta", 'n', 'n', 6, 4, 6, 0.5f, -2.0f},
        {"10 x 10 NN", 'N', 'N', 10, 10, 10, 1.0f, 0.0f, 0, 0, 0, true},
        {"10 x 10 NT", 'N', 'T', 10, 10, 33, 1.0f, 1.0f},
        {"10 x 10 TN", 'T', 'N', 10, 10, 17, 1.0f, 0.5f, 2, 2, 2},
        {"10 x 10 CC", 'C', 'C', 10, 10, 7, 2.0f, 0.0f, 0, 0, 0, true},
        {"tiny TN shape", 'T', 'N', 3, 10, 20, 1.0f, 0.0f, 0, 0, 0, true},
        {"TN with m < 12", 'T', 'N', 11, 80, 30, 1.0f, 1.0f},
        {"NN with n < 4", 'N', 'N', 100, 3, 20, 1.0f, 0.0f, 0, 0, 1, true},
        {"TT with n = 1", 't', 't', 60, 1, 5, -0.5f, 1.0f},
        {"strips 24, 4, 2, 1 and columns 4, 2, 1", 'N', 'N', 31, 7, 129, 1.0f, 0.0f, 0, 0, 0, true},
        {"strips 16, 8 and an 8-row tail", 'T', 'N', 24 + 16 + 8, 9, 64, 1.0f, 1.0f},
        {"k halves below 384", 'N', 'T', 80, 76, 300, 1.0f, 0.5f},
        {"k blocks of 192", 'T', 'T', 57, 58, 600, 1.0f, 0.0f, 0, 0, 0, true},
        {"m blocks of 10008 and 1", 'N', 'N', 10009, 4, 2, 1.0f, 0.0f, 0, 0, 1, true},
        {"alpha 0, beta 1", 'N', 'N', 30, 30, 30, 0.0f, 1.0f, 0, 0, 1, false, true},
        {"alpha 0, beta 0", 'T', 'N', 6, 6, 6, 0.0f, 0.0f, 0, 0, 1, true, true},
        {"alpha 0, beta 2", 'N', 'T', 20, 3, 9, 0.0f, 2.0f, 0, 0, 1, false, true},
        {"k 0, beta 0", 'N', 'N', 6, 9, 0, 1.0f, 0.0f, 0, 0, 1, true, true},
        {"k 0, beta 0.5", 'T', 'T', 40, 40, 0, 1.0f, 0.5f, 0, 0, 1, false, true},
        {"k 0, beta 1", 'T', 'N', 40, 40, 0, 1.0f, 1.0f, 0, 0, 1, false, true},
    };
}

// STRICT results are still right products.
ORB_CHILD_ENTRY(strict_matches_reference) {
    if (wrong_process(true)) return 1;
    std::vector<GemmCase> cases = strict_cases();
    const std::vector<GemmCase> sweep = random_cases(80, 150, 4242);
    cases.insert(cases.end(), sweep.begin(), sweep.end());
    return finish_child(failures_of(orb_blas_xsgemm, cases, 1515), cases.size());
}

TEST(Avx2SgemmStrict, MatchesTheReference) {
    const ChildResult r = run_child("strict_matches_reference", kAvx2StrictProcess);
    EXPECT_EQ(r.exit_code, 0) << r.out << r.err;
    EXPECT_NE(r.out.find(checked_line(strict_cases().size() + 80)), std::string::npos) << r.out;
}

// The k block of the STRICT path: all of k up to 256, halves below 384,
// then blocks of 192.
int64_t strict_k_block(int64_t k) {
    if (k <= 256) return k;
    return k < 384 ? (k + 1) / 2 : 192;
}

// What the STRICT path must store: A is packed with alpha folded in (one
// float multiplication), C is scaled by a beta other than 0 and 1 first, and
// each k block adds the chain of fused multiply-adds over its k in order,
// the first block storing it outright when beta is 0.
std::vector<float> strict_k_order(const GemmCase &g, const Operands &ops) {
    std::vector<float> want(static_cast<size_t>(g.m * g.n));
    const int64_t kc = strict_k_block(g.k);
    for (int64_t j = 0; j < g.n; ++j)
        for (int64_t i = 0; i < g.m; ++i) {
            float c = ops.c[static_cast<size_t>(i + j * ops.ldc)];
            if (g.beta != 0.0f && g.beta != 1.0f) c = g.beta * c;
            for (int64_t p0 = 0; p0 < g.k; p0 += kc) {
                float sum = 0.0f;
                for (int64_t p = p0; p < std::min(g.k, p0 + kc); ++p) {
                    const float a = static_cast<float>(ref_op_at(ops.a.data(), ops.lda, g.transa, i, p));
                    const float b = static_cast<float>(ref_op_at(ops.b.data(), ops.ldb, g.transb, p, j));
                    const float packed_a = g.alpha * a;
                    sum = std::fma(packed_a, b, sum);
                }
                c = (p0 == 0 && g.beta == 0.0f) ? sum : c + sum;
            }
            want[static_cast<size_t>(i + j * g.m)] = c;
        }
    return want;
}

// Shapes for the exact k-order check: every strip width of A (24 down to 1,
// with 8-row tails in particular), column groups of 4, 2 and 1, and k in
// one, two and several blocks.
std::vector<GemmCase> k_order_cases() {
    const char kPairs[][2] = {{'N', 'N'}, {'T', 'N'}, {'N', 'T'}, {'T', 'T'}, {'C', 'n'}};
    const float kAlphas[] = {1.0f, -1.0f, 0.3f};
    const float kBetas[] = {0.0f, 1.0f, 0.75f};
    std::vector<GemmCase> cases;
    int index = 0;
    for (int64_t m : {1, 8, 15, 24, 31, 32, 47, 56, 80})
        for (int64_t k : {1, 5, 136, 300, 600}) {
            const char *pair = kPairs[index % 5];
            const int64_t n = 1 + (index * 5) % 11;
            GemmCase g{"k order, m = " + std::to_string(m), pair[0], pair[1], m, n, k, kAlphas[index % 3],
                       kBetas[(index / 3) % 3]};
            g.nan_c = g.beta == 0.0f;
            g.ldc_extra = index % 2;
            cases.push_back(g);
            ++index;
        }
    return cases;
}

// The strip-width table and a random sweep without alpha 0 (which has no sum).
std::vector<GemmCase> k_order_table() {
    std::vector<GemmCase> cases = k_order_cases();
    for (const GemmCase &g : random_cases(60, 120, 5151))
        if (g.alpha != 0.0f) cases.push_back(g);
    return cases;
}

// In STRICT mode every element is the k-ordered chain of fused multiply-adds.
ORB_CHILD_ENTRY(strict_sums_in_k_order) {
    if (wrong_process(true)) return 1;
    const std::vector<GemmCase> cases = k_order_table();
    std::vector<std::string> failures;
    for (size_t c = 0; c < cases.size(); ++c) {
        const GemmCase &g = cases[c];
        const Operands ops = make_operands(g, 1616 + c);
        const std::vector<float> after = run_call(orb_blas_xsgemm, g, ops);
        const std::vector<float> want = strict_k_order(g, ops);
        Complaints bad;
        for (int64_t j = 0; j < g.n; ++j)
            for (int64_t i = 0; i < g.m; ++i) {
                const float got = after[static_cast<size_t>(i + j * ops.ldc)];
                const float expected = want[static_cast<size_t>(i + j * g.m)];
                if (!(got == expected)) bad.add(i, j, got, number(expected) + " exactly");
            }
        check_untouched(g, ops, after, bad);
        const std::string report = bad.report(describe(g, ops));
        if (!report.empty()) failures.push_back(report);
    }
    return finish_child(failures, cases.size());
}

TEST(Avx2SgemmStrict, SumsInKOrderWithFusedMultiplyAdds) {
    const ChildResult r = run_child("strict_sums_in_k_order", kAvx2StrictProcess);
    EXPECT_EQ(r.exit_code, 0) << r.out << r.err;
    EXPECT_NE(r.out.find(checked_line(k_order_table().size())), std::string::npos) << r.out;
}

// Shapes of every ordinary path, each computed on the STRICT path.
std::vector<GemmCase> placement_cases() {
    return {
        {"6 x 6 shape", 'N', 'N', 6, 9, 6, 0.7f, 0.0f, 0, 0, 0, true},
        {"10 x 10", 'N', 'N', 10, 10, 10, 1.3f, 1.0f},
        {"no-copy shape", 'T', 'N', 50, 37, 300, 1.0f, -0.5f, 1, 0, 2},
        {"tiny TN shape", 'T', 'N', 3, 10, 77, 0.9f, 0.25f},
        {"8-row tail", 'T', 'T', 31, 7, 129, 1.0f, 1.0f, 0, 0, 1},
        {"blocked NT", 'N', 'T', 100, 75, 600, -0.6f, 0.0f, 0, 2, 0, true},
        {"blocked NN", 'N', 'N', 200, 130, 385, 1.1f, 0.5f},
        {"narrow B", 'N', 'C', 90, 3, 250, 1.0f, 1.0f, 1, 1, 1},
    };
}

// In STRICT mode the same call gives the same (right) bits, again and with
// the operands moved by 1, 2 or 3 floats.
ORB_CHILD_ENTRY(strict_is_placement_free) {
    if (wrong_process(true)) return 1;
    const std::vector<GemmCase> cases = placement_cases();
    const Placement kPlacements[] = {{0, 0, 0}, {1, 1, 1}, {2, 2, 2}, {3, 3, 3}, {1, 2, 3}, {3, 1, 2}, {2, 0, 1}};
    std::vector<std::string> failures;
    for (size_t c = 0; c < cases.size(); ++c) {
        const GemmCase &g = cases[c];
        const Operands ops = make_operands(g, 1717 + c);
        const std::vector<float> first = run_call(orb_blas_xsgemm, g, ops);
        const std::string report = check_result(g, ops, first);
        if (!report.empty()) failures.push_back(report);
        for (const Placement &at : kPlacements) {
            const std::vector<float> again = run_call(orb_blas_xsgemm, g, ops, at);
            if (std::memcmp(first.data(), again.data(), first.size() * sizeof(float)) != 0)
                failures.push_back(describe(g, ops) + ": C changed with A, B, C at float offsets " +
                                   std::to_string(at.a) + ", " + std::to_string(at.b) + ", " +
                                   std::to_string(at.c));
        }
    }
    return finish_child(failures, cases.size());
}

TEST(Avx2SgemmStrict, BitIdenticalAgainAndAtOtherAddresses) {
    const ChildResult r = run_child("strict_is_placement_free", kAvx2StrictProcess);
    EXPECT_EQ(r.exit_code, 0) << r.out << r.err;
    EXPECT_NE(r.out.find(checked_line(placement_cases().size())), std::string::npos) << r.out;
}

}  // namespace
