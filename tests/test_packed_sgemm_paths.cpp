// test_packed_sgemm_paths.cpp - the serial SGEMM of the avx2 and avx512 sets,
// path by path, against a double-precision reference.
//
// orb_blas_<set>_xsgemm picks one of several ways to compute
// C := alpha*op(A)*op(B) + beta*C from the shape of the call:
//   blocked      packs A and B; AVX2: m, n >= 72 with A not transposed, m,
//                n >= 56 with A transposed; AVX-512: m, n >= 192 with A not
//                transposed, with A transposed m >= 192 when m <= n, and
//                m >= k or m >= 192 when m > n.  C narrower than the block
//                kernel (n below 4 / 8, or m < 12 with only A transposed)
//                goes to the buffer-free product instead;
//   no-copy      every other shape, on kernels by transposition pair (16 x 6
//                tiles on AVX2, 32 x 8 on AVX-512), k, m and n cut into
//                blocks; tiny products with A transposed and B not (m <= 3,
//                n <= 15, m*n < 32) go to the buffer-free product;
//   special      AVX2: the 6 x 6 kernel (m = k = 6, neither transposed);
//                AVX-512: the narrow-B routine (A "T", B "N", 2 <= n <= 15,
//                k >= 24*n), taken before any other rule;
//   scaling      alpha 0 or k 0 only scale C.
// Each table aims its shapes at one of these paths and at the seams inside
// it (strip widths, k, n and m blocks); a case that names its path is also
// run through that path's member directly, and both results must be the
// same bits, so that a shape taking the wrong path is caught even when that
// path computes the right product.  A seeded random sweep covers the shapes
// in between.
//
// Every element of C must agree with the reference within the rounding bound
// of a k-term float sum.  The operands are stored with padding: padding rows
// of A and B hold NaN, which must never reach C; padding rows of C and a
// guard after its last column hold a sentinel, which must survive.  With
// beta 0, a C full of NaN must be overwritten; with alpha 0 or k 0, A and B
// full of NaN must not be read.
//
// The STRICT reproducible mode is read once per process, so its cases run in
// child processes that present the set's processor, through the
// set-independent dispatcher.  There every shape takes the full-copy blocked
// path with kernels that sum each element from zero in k order: each element
// of C must equal the chain of fused multiply-adds over k in increasing
// order, k block after k block, and must not change with the operands'
// addresses.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <functional>
#include <limits>
#include <random>
#include <sstream>
#include <string>
#include <vector>

#include "blas/kernels/dispatchers.h"
#include "support/child_process.h"
#include "support/packed_sets.h"
#include "support/reference_gemm.h"

namespace {

// ---------------------------------------------------------------------------
// One call, its operands and the check of its result.
// ---------------------------------------------------------------------------

// The path a case is aimed at, when it names one.
enum class Aim {
    kAny,         // not checked
    kBlocked,     // the full-copy blocked driver
    kNoCopy,      // the no-copy driver
    kSpecial,     // AVX2: the 6 x 6 kernel; AVX-512: the narrow-B routine
    kBufferFree,  // the buffer-free product
};

// One call of the product, as the tables below describe it.
struct GemmCase {
    Aim aim;                 // the path the shape must take
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

using SgemmFn = void(const char *, const char *, const int64_t *, const int64_t *, const int64_t *, const float *,
                     const float *, const int64_t *, const float *, const int64_t *, const float *, float *,
                     const int64_t *);
using SgemmEntry = std::function<SgemmFn>;

// Float offsets at which copies of the operands are placed for one call.
struct Placement {
    size_t a = 0;   // offset of A's first element in its copy
    size_t b = 0;   // offset of B's first element
    size_t c = 0;   // offset of C's first element
};

// Runs one call on copies of the operands placed as asked; returns C's
// storage (guard included) as the call left it.
std::vector<float> run_call(const SgemmEntry &entry, const GemmCase &g, const Operands &ops, Placement at = {}) {
    std::vector<float> a(at.a + ops.a.size()), b(at.b + ops.b.size()), c(at.c + ops.c.size());
    std::copy(ops.a.begin(), ops.a.end(), a.begin() + static_cast<std::ptrdiff_t>(at.a));
    std::copy(ops.b.begin(), ops.b.end(), b.begin() + static_cast<std::ptrdiff_t>(at.b));
    std::copy(ops.c.begin(), ops.c.end(), c.begin() + static_cast<std::ptrdiff_t>(at.c));
    const char transa[2] = {g.transa, '\0'}, transb[2] = {g.transb, '\0'};
    entry(transa, transb, &g.m, &g.n, &g.k, &g.alpha, a.data() + at.a, &ops.lda, b.data() + at.b, &ops.ldb,
          &g.beta, c.data() + at.c, &ops.ldc);
    return std::vector<float>(c.begin() + static_cast<std::ptrdiff_t>(at.c), c.end());
}

bool same_bits(const std::vector<float> &x, const std::vector<float> &y) {
    return x.size() == y.size() && std::memcmp(x.data(), y.data(), x.size() * sizeof(float)) == 0;
}
bool same_bits(float x, float y) { return std::memcmp(&x, &y, sizeof x) == 0; }

// The member that computes a case's aimed path, with the arguments of xsgemm.
SgemmEntry aimed_entry(const PackedSetUnderTest &set, Aim aim) {
    if (aim == Aim::kBufferFree) return set.sgemm_pst;
    if (aim == Aim::kSpecial && set.is_avx512()) return orb_blas_avx512_sgemm_t_smalln;
    if (aim == Aim::kSpecial)
        return [](const char *ta, const char *tb, const int64_t *m, const int64_t *n, const int64_t *k,
                  const float *alpha, const float *a, const int64_t *lda, const float *b, const int64_t *ldb,
                  const float *beta, float *c, const int64_t *ldc) {
            (*beta == 0.0f ? orb_blas_avx2_sgemm_nocopy_anbn_meq6_keq6_b0 : orb_blas_avx2_sgemm_nocopy_anbn_meq6_keq6)(
                ta, tb, m, n, k, alpha, a, lda, b, ldb, beta, c, ldc);
        };
    return [&set, aim](const char *ta, const char *tb, const int64_t *m, const int64_t *n, const int64_t *k,
                       const float *alpha, const float *a, const int64_t *lda, const float *b, const int64_t *ldb,
                       const float *beta, float *c, const int64_t *ldc) {
        BlasOpParams op;
        blas_initialize_op_params(ta, tb, &op, alpha, beta);
        MatDesc da = orb_operand_desc(a, *m, *k, *lda, ta), db = orb_operand_desc(b, *k, *n, *ldb, tb);
        MatDesc dc = orb_operand_desc(c, *m, *n, *ldc, nullptr);
        SgemmStrategy strategy;
        set.sgemm_initialize_strategy(&strategy);
        strategy.code = aim == Aim::kNoCopy ? kStrategyNoCopy : kStrategyFullCopy;
        SgemmKernelInfo info;
        set.sgemm_initialize_kernel_info(&op, &da, &db, &dc, &strategy, &info);
        info.driver(&op, &da, &db, &dc, nullptr, &info);
    };
}

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
    const RefGemm ref{g.transa, g.transb, g.m, g.n, g.k, g.alpha, g.beta, ops.a.data(), ops.lda, ops.b.data(), ops.ldb};
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

// Runs a table through entry; returns one report per wrong case.  With a
// set, a case that names its path must also give the bits of that path.
std::vector<std::string> failures_of(const SgemmEntry &entry, const std::vector<GemmCase> &cases, uint64_t seed,
                                     const PackedSetUnderTest *set = nullptr) {
    std::vector<std::string> failures;
    for (size_t i = 0; i < cases.size(); ++i) {
        const GemmCase &g = cases[i];
        const Operands ops = make_operands(g, seed + 7919 * i);
        const std::vector<float> after = run_call(entry, g, ops);
        std::string report = check_result(g, ops, after);
        if (report.empty() && set && g.aim != Aim::kAny && !same_bits(after, run_call(aimed_entry(*set, g.aim), g, ops)))
            report = describe(g, ops) + ": C differs from the bits of the path the shape is aimed at";
        if (!report.empty()) failures.push_back(report);
    }
    return failures;
}

void expect_table(const PackedSetUnderTest &set, const std::vector<GemmCase> &cases, uint64_t seed) {
    for (const std::string &report : failures_of(set.xsgemm, cases, seed, &set)) ADD_FAILURE() << report;
}

// Cases with a beta class chosen by index: 0 (always with NaN in C), 1, other.
float beta_class(int64_t index) {
    const float kBetas[] = {0.0f, 1.0f, -0.75f};
    return kBetas[index % 3];
}
GemmCase with_beta(GemmCase g, int64_t index) {
    g.beta = beta_class(index);
    g.nan_c = g.beta == 0.0f;
    return g;
}

constexpr Aim kBlocked = Aim::kBlocked, kNoCopy = Aim::kNoCopy, kSpecial = Aim::kSpecial;
constexpr Aim kBufferFree = Aim::kBufferFree, kAny = Aim::kAny;

// ---------------------------------------------------------------------------
// The tables.
// ---------------------------------------------------------------------------

// Shapes on both sides of the blocked-path thresholds, every transposition
// pair on the blocked path, the n-block cap for small k and the m-block split.
std::vector<GemmCase> blocked_cases(const PackedSetUnderTest &set) {
    if (!set.is_avx512())
        return {
            {kBlocked, "blocked NN at the threshold", 'N', 'N', 72, 72, 33, 1.0f, 0.0f, 0, 0, 0, true},
            {kNoCopy, "no-copy NN just below in m", 'N', 'N', 71, 1000, 20, 1.0f, 1.0f},
            {kNoCopy, "no-copy NN just below in n", 'N', 'N', 72, 71, 20, -1.0f, 0.5f, 3},
            {kBlocked, "blocked TN at the threshold", 'T', 'N', 56, 56, 40, 0.75f, 0.0f, 0, 0, 2, true},
            {kNoCopy, "no-copy TN just below in n", 'T', 'N', 56, 55, 40, 1.0f, 1.0f},
            {kNoCopy, "no-copy TT just below in m", 'T', 'T', 55, 56, 40, 1.0f, -2.0f},
            {kBlocked, "blocked CN at the threshold", 'C', 'n', 56, 56, 31, 1.0f, 1.0f},
            {kBlocked, "blocked NN", 'N', 'N', 100, 90, 70, 1.0f, 0.0f, 1, 2, 3, true},
            {kBlocked, "blocked NT", 'N', 'T', 97, 81, 66, -1.0f, 1.0f, 0, 5, 1},
            {kBlocked, "blocked Nc", 'n', 'c', 90, 100, 50, 2.5f, -0.5f},
            {kBlocked, "blocked TN", 'T', 'N', 81, 97, 64, 1.0f, -0.5f, 4, 0, 2},
            {kBlocked, "blocked TT", 'T', 'T', 120, 75, 58, 0.5f, 0.0f, 2, 2, 2, true},
            {kBlocked, "blocked tc", 't', 'c', 60, 130, 45, 1.0f, 1.0f},
            {kBlocked, "blocked Cc", 'C', 'c', 99, 59, 77, -1.25f, 2.0f},
            {kBlocked, "blocked, n blocks of 24 when k < 48", 'N', 'N', 80, 100, 40, 1.0f, 0.0f, 0, 0, 0, true},
            {kBlocked, "blocked, n blocks of 24 at k = 47", 'T', 'T', 64, 150, 47, 1.0f, 1.0f},
            {kBlocked, "blocked, n blocks of 384 from k = 48", 'N', 'T', 72, 400, 48, 1.0f, 0.3f},
            {kBlocked, "blocked, m blocks of 10008 and 1", 'N', 'N', 10009, 72, 2, 1.0f, 0.5f, 0, 0, 3},
            {kBlocked, "blocked, m block of 10001 rows", 'T', 'N', 10001, 72, 2, -1.0f, 0.0f, 0, 0, 0, true},
            {kBlocked, "blocked, one-row strips", 'N', 'N', 73, 73, 1, 1.0f, 1.0f},
        };
    return {
        {kBlocked, "blocked NN at the threshold", 'N', 'N', 192, 192, 33, 1.0f, 0.0f, 0, 0, 0, true},
        {kNoCopy, "no-copy NN just below in m", 'N', 'N', 191, 1000, 20, 1.0f, 1.0f},
        {kNoCopy, "no-copy NN just below in n", 'N', 'N', 192, 191, 20, -1.0f, 0.5f, 3},
        {kBlocked, "blocked TN, m <= n, m at the threshold", 'T', 'N', 192, 200, 40, 0.75f, 0.0f, 0, 0, 2, true},
        {kNoCopy, "no-copy TN, m <= n, m just below", 'T', 'N', 191, 191, 40, 1.0f, 1.0f},
        {kBlocked, "blocked TT, m > n, m = k", 'T', 'T', 100, 50, 100, 1.0f, -2.0f},
        {kNoCopy, "no-copy TT, m > n, m just below k", 'T', 'T', 100, 50, 101, 1.0f, 0.5f, 1, 1, 1},
        {kBlocked, "blocked CN, m > n, m < k, m at the threshold", 'C', 'n', 192, 60, 300, 1.0f, 1.0f},
        {kNoCopy, "no-copy Ct, m > n, m < k, m just below", 'C', 't', 191, 60, 300, 1.0f, 0.0f, 0, 0, 0, true},
        {kBlocked, "blocked TN, m > n, m > k", 'T', 'N', 40, 20, 39, 1.0f, 1.0f},
        {kBlocked, "blocked NN", 'N', 'N', 200, 210, 70, 1.0f, 0.0f, 1, 2, 3, true},
        {kBlocked, "blocked NT", 'N', 'T', 197, 201, 66, -1.0f, 1.0f, 0, 5, 1},
        {kBlocked, "blocked Nc", 'n', 'c', 250, 193, 50, 2.5f, -0.5f},
        {kBlocked, "blocked TN", 'T', 'N', 201, 197, 64, 1.0f, -0.5f, 4, 0, 2},
        {kBlocked, "blocked TT", 'T', 'T', 220, 75, 58, 0.5f, 0.0f, 2, 2, 2, true},
        {kBlocked, "blocked tc", 't', 'c', 160, 130, 45, 1.0f, 1.0f},
        {kBlocked, "blocked Cc", 'C', 'c', 99, 59, 77, -1.25f, 2.0f},
        {kBlocked, "blocked, n blocks of 24 when k < 48", 'N', 'N', 200, 400, 40, 1.0f, 0.0f, 0, 0, 0, true},
        {kBlocked, "blocked, n blocks of 24 at k = 47", 'T', 'T', 192, 300, 47, 1.0f, 1.0f},
        {kBlocked, "blocked, n blocks of 384 from k = 48", 'N', 'T', 192, 400, 48, 1.0f, 0.3f},
        {kBlocked, "blocked, m blocks of 9984 and 1", 'T', 'N', 9985, 16, 2, 1.0f, 0.5f, 0, 0, 3},
        {kBlocked, "blocked, one m block of 9984 rows", 'T', 'T', 9984, 16, 2, -1.0f, 0.0f, 0, 0, 0, true},
        {kBlocked, "blocked, one-row strips", 'N', 'N', 193, 193, 1, 1.0f, 1.0f},
    };
}

// The blocked path with every remainder of m by the packed strip (24 or
// 48 rows) and of n by the packed panel (4 or 8 columns), k growing across
// the nc cap at 48.
std::vector<GemmCase> edge_strip_cases(const PackedSetUnderTest &set) {
    const char kTransb[] = "NTCntc";
    const float kAlphas[] = {1.0f, -1.0f, 0.75f};
    std::vector<GemmCase> cases;
    for (char transa : {'N', 'T'}) {
        const int64_t base = set.is_avx512() ? 192 : transa == 'N' ? 72 : 56;
        for (int64_t r = 0; r < set.mr; ++r) {
            GemmCase g = with_beta({kBlocked, "", transa, kTransb[r % 6], base + r, base + r * set.nr / set.mr,
                                    5 + 3 * r, kAlphas[r % 3], 0.0f},
                                   r);
            g.name = "blocked strips, m mod " + std::to_string(set.mr) + " = " + std::to_string(r) + ", n mod " +
                     std::to_string(set.nr) + " = " + std::to_string(g.n % set.nr);
            g.ldc_extra = r % 4;
            g.lda_extra = r % 3;
            cases.push_back(g);
        }
    }
    return cases;
}

// k on both sides of the blocked path's k-block splits: one block up to
// 256 / 384, two halves below 384 / 768, then blocks of 192 / 384.
std::vector<GemmCase> k_split_cases(const PackedSetUnderTest &set) {
    const char kPairs[][2] = {{'N', 'N'}, {'N', 'T'}, {'T', 'N'}, {'T', 'T'}};
    const int64_t s = set.kc_split, h = set.kc_halving, large = set.kc_large;
    const int64_t m = set.is_avx512() ? 200 : 80, n = set.is_avx512() ? 196 : 76;
    std::vector<GemmCase> cases;
    int64_t index = 0;
    for (int64_t k : {s - 1, s, s + 1, (s + h) / 2, h - 1, h, h + 1, h + large / 2 + 1, h + 2 * large + 3}) {
        const char *pair = kPairs[index % 4];
        GemmCase g = with_beta({kBlocked, "blocked k = " + std::to_string(k), pair[0], pair[1], m, n, k, 1.0f, 0.0f},
                               index);
        g.ldb_extra = index++ % 2;
        cases.push_back(g);
    }
    return cases;
}

// Every transposition code of the no-copy kernels ('C' and lower case
// included), on shapes that both sets send there, with strips of 16 / 32 and
// groups of 6 / 8 left over.
std::vector<GemmCase> nocopy_pair_cases() {
    return {
        {kNoCopy, "no-copy NN", 'N', 'N', 50, 40, 33, 1.0f, 0.0f, 0, 0, 0, true},
        {kNoCopy, "no-copy NN, n > 18, lda*4 not a multiple of 32", 'N', 'N', 37, 23, 29, 1.0f, 1.0f},
        {kNoCopy, "no-copy NN, n > 18, lda*4 a multiple of 32", 'N', 'N', 17, 19, 45, -1.0f, 0.25f, 7},
        {kNoCopy, "no-copy NN, whole strips and groups", 'N', 'N', 32, 12, 16, 1.0f, 1.0f},
        {kNoCopy, "no-copy NN, two whole 32-row strips and groups of 8", 'N', 'N', 64, 24, 20, 1.0f, -1.0f},
        {kNoCopy, "no-copy NN, a 16-row tail", 'N', 'N', 48, 17, 10, 0.5f, 0.0f, 0, 0, 1, true},
        {kNoCopy, "no-copy nn", 'n', 'n', 15, 5, 9, 2.0f, -1.0f, 1, 1, 1},
        {kNoCopy, "no-copy NT", 'N', 'T', 45, 33, 21, 1.0f, 0.0f, 2, 3, 1, true},
        {kNoCopy, "no-copy NC", 'N', 'C', 23, 70, 11, 0.5f, 1.0f},
        {kNoCopy, "no-copy nt", 'n', 't', 9, 7, 100, 1.0f, 3.0f},
        {kNoCopy, "no-copy NT, a 31-row tail", 'N', 'T', 63, 15, 25, 1.0f, 1.0f},
        {kNoCopy, "no-copy TN", 'T', 'N', 44, 50, 30, 1.0f, 0.0f, 1, 0, 2, true},
        {kNoCopy, "no-copy TN, strips 32 and 23", 'T', 'N', 55, 60, 20, -1.0f, 0.5f},
        {kNoCopy, "no-copy CN", 'C', 'N', 17, 25, 19, -0.5f, 1.0f, 0, 4},
        {kNoCopy, "no-copy tn", 't', 'n', 4, 9, 13, 1.0f, -0.25f},
        {kNoCopy, "no-copy TT", 'T', 'T', 33, 47, 27, 1.0f, 0.0f, 3, 3, 3, true},
        {kNoCopy, "no-copy TC", 'T', 'C', 50, 20, 60, 1.0f, 1.0f},
        {kNoCopy, "no-copy CT", 'C', 'T', 6, 30, 6, 1.5f, 0.5f},
        {kNoCopy, "no-copy CC", 'C', 'C', 55, 55, 64, 1.0f, 1.0f, 1, 1, 0},
        {kNoCopy, "no-copy cc", 'c', 'c', 1, 1, 1, 1.0f, 0.0f, 0, 0, 0, true},
        {kNoCopy, "no-copy Nt, m = 1", 'N', 't', 1, 60, 17, 1.0f, 1.0f, 0, 0, 4},
        {kNoCopy, "no-copy TN, n = 1", 'T', 'N', 40, 1, 41, 1.0f, 2.0f},
    };
}

// The no-copy driver's blocks.  k: AVX2 blocks of 256 (NN, TN) and 96 (NT,
// TT), AVX-512 blocks of 384 in every layout, halved between one and two
// blocks; n: blocks of 48 / 64 with A not transposed, 96 / 384 with A
// transposed; m blocks of 4032 in both sets.
std::vector<GemmCase> nocopy_block_cases(const PackedSetUnderTest &set) {
    const bool wide = set.is_avx512();
    std::vector<GemmCase> cases;
    int64_t index = 0;
    for (const char *pair : {"NN", "TN", "NT", "TT"}) {
        const bool short_k = !wide && pair[1] == 'T';
        const int64_t whole = wide ? 384 : short_k ? 96 : 256, halve_below = 2 * whole;
        for (int64_t k : {whole - 1, whole, whole + 1, (whole + halve_below) / 2, halve_below - 1, halve_below,
                          halve_below + 1, halve_below + whole / 2})
            cases.push_back(with_beta({kNoCopy, "no-copy k = " + std::to_string(k), pair[0], pair[1], 20, 21, k,
                                       1.0f, 0.0f},
                                      index++));
    }
    const std::vector<GemmCase> shapes = {
        {kNoCopy, "no-copy beta 2 applied once over three k blocks", 'N', 'N', 30, 20, 900, 1.0f, 2.0f},
        {kNoCopy, "no-copy NN n blocks, then the rest", 'N', 'N', 40, 200, 10, 1.0f, 1.0f},
        {kNoCopy, "no-copy NT n halved", 'N', 'T', 40, wide ? 120 : 80, 10, 1.0f, 0.0f, 0, 0, 0, true},
        {kNoCopy, "no-copy NT n block then the rest", 'N', 'T', 40, 97, 10, 1.0f, -1.0f},
        {kNoCopy, "no-copy TN n blocks, then the rest", 'T', 'N', 30, wide ? 800 : 300, 10, 1.0f, 1.0f},
        {kNoCopy, "no-copy TT n halved", 'T', 'T', 30, wide ? 700 : 150, 10, 1.0f, 0.0f, 0, 0, 0, true},
        {kNoCopy, "no-copy NN m halved", 'N', 'N', 6100, 8, 8, 1.0f, 0.5f},
        {kNoCopy, "no-copy NT m 4032 then rest", 'N', 'T', 8100, 7, 5, 1.0f, 0.0f, 0, 0, 0, true},
    };
    cases.insert(cases.end(), shapes.begin(), shapes.end());
    return cases;
}

// The set's special kernel and its neighbours.  AVX2: the 6 x 6 kernel (m =
// k = 6, neither transposed) for every way of walking n.  AVX-512: the
// narrow-B routine for every n from 2 to 15 at k = 24*n, rows in groups of
// four with every tail; one k step less, a "C" for A, or n = 1 or 16 take
// another path.
std::vector<GemmCase> special_cases(const PackedSetUnderTest &set) {
    std::vector<GemmCase> cases;
    int64_t index = 0;
    if (!set.is_avx512()) {
        for (int64_t n : {1, 2, 3, 4, 5, 8, 9, 13, 100}) {
            GemmCase g = with_beta({kSpecial, "6 x 6 kernel, n = " + std::to_string(n), index % 2 ? 'n' : 'N', 'N',
                                    6, n, 6, 1.5f, 0.0f},
                                   index);
            g.ldc_extra = index % 3;
            g.lda_extra = index++ % 2;
            cases.push_back(g);
        }
        const std::vector<GemmCase> neighbours = {
            {kSpecial, "6 x 6 kernel, beta 0 with padding", 'N', 'n', 6, 7, 6, -1.0f, 0.0f, 2, 3, 4, true},
            {kNoCopy, "m = 6, k = 7 is no-copy", 'N', 'N', 6, 9, 7, 1.0f, 0.0f, 0, 0, 0, true},
            {kNoCopy, "m = 6, k = 5 is no-copy", 'N', 'N', 6, 9, 5, 1.0f, 1.0f},
            {kNoCopy, "m = 6, k = 6 with B transposed is no-copy", 'N', 'T', 6, 9, 6, 1.0f, 0.5f},
            {kNoCopy, "m = 6, k = 6 with A transposed is no-copy", 'T', 'N', 6, 9, 6, 1.0f, 1.0f},
        };
        cases.insert(cases.end(), neighbours.begin(), neighbours.end());
        return cases;
    }
    for (int64_t n = 2; n <= 15; ++n) {
        const int64_t m = 1 + n % 4 + 4 * (n % 5), k = 24 * n;
        const std::string name = "narrow B, n = " + std::to_string(n);
        GemmCase g = with_beta({kSpecial, name, n % 2 ? 't' : 'T', n % 3 ? 'N' : 'n', m, n, k, 1.25f, 0.0f}, index++);
        g.lda_extra = n % 3;
        g.ldb_extra = n % 2;
        g.ldc_extra = n % 4;
        cases.push_back(g);
        cases.push_back(with_beta({kNoCopy, name + ", k = 24n - 1 is no-copy", 'T', 'N', m, n, k - 1, -1.0f, 0.0f},
                                  index++));
        cases.push_back(with_beta({kNoCopy, name + ", A 'C' is no-copy", 'C', 'N', m, n, k, 1.0f, 0.0f}, index++));
    }
    const std::vector<GemmCase> neighbours = {
        {kSpecial, "narrow B before the blocked rule", 'T', 'N', 300, 7, 168, 1.0f, 1.0f, 1, 1, 1},
        {kSpecial, "narrow B in several row blocks", 'T', 'N', 1001, 15, 360, 0.5f, 0.0f, 0, 0, 0, true},
        {kSpecial, "narrow B, long k", 'T', 'N', 13, 3, 5003, 1.0f, -1.0f},
        {kNoCopy, "n = 1 is no-copy", 'T', 'N', 5, 1, 240, 1.0f, 1.0f},
        {kNoCopy, "n = 16 is no-copy", 'T', 'N', 5, 16, 384, 1.0f, 0.0f, 0, 0, 0, true},
        {kNoCopy, "B transposed is no-copy", 'T', 'T', 5, 4, 240, 1.0f, 2.0f},
    };
    cases.insert(cases.end(), neighbours.begin(), neighbours.end());
    return cases;
}

// A transposed, B not, m <= 3, n <= 15 and m*n < 32: the buffer-free
// product, from the no-copy driver (or, on AVX-512, from the blocked rule
// when m > n and m >= k); m = 3, n = 11 is just outside.
std::vector<GemmCase> tiny_transposed_cases() {
    return {
        {kBufferFree, "tiny TN 3 x 10", 'T', 'N', 3, 10, 20, 1.0f, 0.0f, 0, 0, 0, true},
        {kBufferFree, "tiny TN 1 x 15", 'T', 'N', 1, 15, 33, -1.0f, 1.0f, 2, 1, 2},
        {kBufferFree, "tiny TN 2 x 15", 't', 'n', 2, 15, 7, 1.0f, 0.5f},
        {kBufferFree, "tiny CN 3 x 10", 'C', 'N', 3, 10, 300, 1.0f, 1.0f},
        {kBufferFree, "tiny cn 2 x 1", 'c', 'n', 2, 1, 4, 2.0f, 0.0f, 0, 0, 1, true},
        {kBufferFree, "tiny TN 3 x 1, k = 1", 'T', 'N', 3, 1, 1, 1.0f, -1.0f},
        {kNoCopy, "TN 3 x 11 is no-copy", 'T', 'N', 3, 11, 20, 1.0f, 0.0f, 0, 0, 0, true},
        {kNoCopy, "TN 4 x 7 is no-copy", 'T', 'N', 4, 7, 20, 1.0f, 1.0f},
        {kNoCopy, "TN 3 x 16 is no-copy", 'T', 'N', 3, 16, 20, 1.0f, 1.0f},
    };
}

// Shapes of the blocked rule that the kernel information sends to the
// buffer-free product: A transposed and B not with m < 12, or n below 4 / 8.
// On AVX2 the blocked thresholds keep such shapes on the no-copy path.
std::vector<GemmCase> minimum_size_cases(const PackedSetUnderTest &set) {
    if (!set.is_avx512())
        return {
            {kNoCopy, "TN with m < 12", 'T', 'N', 11, 80, 30, 1.0f, 0.0f, 0, 0, 0, true},
            {kNoCopy, "TN with m = 5", 'T', 'N', 5, 60, 17, -1.0f, 1.0f, 1, 2, 3},
            {kNoCopy, "NN with n = 3", 'N', 'N', 100, 3, 20, 1.0f, 0.0f, 0, 0, 2, true},
            {kNoCopy, "NT with n = 2", 'N', 'T', 80, 2, 9, 1.0f, 1.0f},
            {kNoCopy, "TT with n = 1", 'T', 'T', 60, 1, 5, 2.0f, -0.5f},
        };
    return {
        {kBufferFree, "TN with m < 12", 'T', 'N', 11, 10, 11, 1.0f, 0.0f, 0, 0, 0, true},
        {kBufferFree, "CN with m = 5", 'C', 'N', 5, 4, 5, -1.0f, 1.0f, 1, 2, 3},
        {kBlocked, "TN with m = 12", 'T', 'N', 12, 11, 12, 1.0f, 0.5f},
        {kBufferFree, "TT with n = 7", 'T', 'T', 200, 7, 20, 1.0f, 0.0f, 0, 0, 2, true},
        {kBufferFree, "CT with n = 2", 'C', 'T', 80, 2, 9, 1.0f, 1.0f},
        {kBufferFree, "Tc with n = 1", 'T', 'c', 60, 1, 5, 2.0f, -0.5f},
        {kBlocked, "TT with n = 8", 'T', 'T', 100, 8, 20, 1.0f, 1.0f},
    };
}

// alpha 0 and k 0 on the shapes of every path of both sets: C is only
// scaled, A and B (all NaN) are not read.
std::vector<GemmCase> scaling_only_cases() {
    const std::vector<GemmCase> shapes = {
        {kAny, "blocked shape", 'N', 'N', 200, 192, 50, 1.0f, 0.0f},
        {kAny, "blocked transposed shape", 'T', 'T', 60, 60, 50, 1.0f, 0.0f},
        {kAny, "no-copy shape", 'N', 'T', 30, 20, 40, 1.0f, 0.0f},
        {kAny, "6 x 6 shape", 'N', 'N', 6, 5, 6, 1.0f, 0.0f},
        {kAny, "tiny TN shape", 'T', 'N', 3, 10, 8, 1.0f, 0.0f},
        {kAny, "narrow-B shape", 'T', 'N', 20, 5, 120, 1.0f, 0.0f},
    };
    std::vector<GemmCase> cases;
    for (bool k_zero : {false, true})
        for (const GemmCase &shape : shapes)
            for (float beta : {1.0f, 0.0f, 2.0f, -0.5f}) {
                GemmCase g = shape;
                g.name = (k_zero ? "k 0, beta " : "alpha 0, beta ") + number(beta) + ", " + shape.name;
                if (k_zero) g.k = 0, g.alpha = -2.0f;
                else g.alpha = 0.0f;
                g.beta = beta;
                g.nan_c = beta == 0.0f;
                g.nan_ab = true;
                g.ldc_extra = 3;
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
        GemmCase g{kAny, "random #" + std::to_string(i), kTrans[pick(0, 5)], kTrans[pick(0, 5)], pick(1, max_size),
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

// The sweep of a set: large enough to cross its blocked thresholds.
std::vector<GemmCase> random_sweep(const PackedSetUnderTest &set, int count, uint64_t seed) {
    return set.is_avx512() ? random_cases(count * 2 / 3, 300, seed) : random_cases(count, 200, seed);
}

// ---------------------------------------------------------------------------
// Ordinary calls straight into the set's entry.
// ---------------------------------------------------------------------------

class PackedSgemmPaths : public PackedSetTest {};
ORB_INSTANTIATE_FOR_PACKED_SETS(PackedSgemmPaths);

TEST_P(PackedSgemmPaths, BlockedThresholdsTranspositionsAndBlocks) { expect_table(set(), blocked_cases(set()), 101); }

TEST_P(PackedSgemmPaths, BlockedEdgeStripsOfEveryWidth) { expect_table(set(), edge_strip_cases(set()), 202); }

TEST_P(PackedSgemmPaths, BlockedKAcrossTheBlockSplits) { expect_table(set(), k_split_cases(set()), 303); }

TEST_P(PackedSgemmPaths, NoCopyEveryTranspositionCode) { expect_table(set(), nocopy_pair_cases(), 404); }

// The NN kernels copy an A strip aside when A's base is not aligned to the
// vector (32 or 64 bytes); every base alignment must give the right product.
TEST_P(PackedSgemmPaths, NoCopyEveryAlignmentOfA) {
    for (int64_t lda_extra : {0, 1}) {
        const GemmCase g{kNoCopy, "no-copy NN, n > 18", 'N', 'N', 40, 30, 50, 1.0f, 1.0f, lda_extra};
        const Operands ops = make_operands(g, 505 + static_cast<uint64_t>(lda_extra));
        for (size_t offset = 0; offset < 16; ++offset) {
            const std::string report = check_result(g, ops, run_call(set().xsgemm, g, ops, {offset, 0, 0}));
            EXPECT_TRUE(report.empty()) << report << " with A at float offset " << offset;
        }
    }
}

TEST_P(PackedSgemmPaths, NoCopyKNAndMBlocks) { expect_table(set(), nocopy_block_cases(set()), 606); }

TEST_P(PackedSgemmPaths, SpecialKernelAndItsNeighbours) { expect_table(set(), special_cases(set()), 707); }

TEST_P(PackedSgemmPaths, TinyTransposedProduct) { expect_table(set(), tiny_transposed_cases(), 808); }

TEST_P(PackedSgemmPaths, BelowTheBlockedMinimums) { expect_table(set(), minimum_size_cases(set()), 909); }

TEST_P(PackedSgemmPaths, AlphaZeroOrKZeroReadsNeitherANorB) { expect_table(set(), scaling_only_cases(), 1010); }

TEST_P(PackedSgemmPaths, SeededSweep) { expect_table(set(), random_sweep(set(), 300, 20240611), 1212); }

// ---------------------------------------------------------------------------
// Through the dispatcher, in child processes presenting the set's processor.
// ---------------------------------------------------------------------------

// The last line of a child's output: the set it ran and how many cases.
std::string checked_line(const PackedSetUnderTest &set, size_t count) {
    return std::string("set ") + set.name + " checked " + std::to_string(count) + "\n";
}

// Prints the reports of a child's checks and its case count; the exit status
// is the number of wrong cases (at most 100).
int finish_child(const PackedSetUnderTest &set, const std::vector<std::string> &failures, size_t checked) {
    for (const std::string &report : failures) std::printf("%s\n", report.c_str());
    std::printf("%s", checked_line(set, checked).c_str());
    std::fflush(stdout);
    return static_cast<int>(std::min<size_t>(failures.size(), 100));
}

// Runs a child entry in the set's process and expects it to check `count`
// cases without a failure.
void expect_child(const PackedSetUnderTest &set, const char *entry, bool strict, size_t count) {
    const ChildResult r = run_child(entry, packed_set_process(set, strict));
    EXPECT_EQ(r.exit_code, 0) << r.out << r.err;
    EXPECT_NE(r.out.find(checked_line(set, count)), std::string::npos) << r.out << r.err;
}

// One shape of every ordinary path of both sets.
std::vector<GemmCase> dispatch_cases() {
    return {
        {kAny, "blocked NN", 'N', 'N', 200, 192, 70, 1.0f, 0.0f, 0, 0, 1, true},
        {kAny, "blocked TC", 'T', 'C', 60, 61, 257, -1.0f, 0.5f},
        {kAny, "no-copy NT", 'N', 'T', 40, 30, 200, 1.0f, 1.0f, 1, 1, 1},
        {kAny, "no-copy TN", 'T', 'N', 20, 70, 600, 0.5f, 0.0f, 0, 0, 0, true},
        {kAny, "6 x 6 kernel", 'N', 'N', 6, 11, 6, 1.0f, -1.0f},
        {kAny, "narrow B", 'T', 'N', 30, 5, 130, 1.0f, 1.0f},
        {kAny, "tiny TN", 't', 'n', 3, 10, 9, 1.0f, 0.0f, 0, 0, 2, true},
        {kAny, "alpha 0", 'N', 'N', 50, 50, 50, 0.0f, 2.0f, 0, 0, 0, false, true},
        {kAny, "k 0", 'T', 'T', 50, 50, 0, 1.0f, 0.0f, 0, 0, 0, true, true},
    };
}

// The dispatcher must bind to the set of the processor: every call gives
// exactly what the set's entry gives, and the right product.
ORB_CHILD_ENTRY(dispatch_reaches_the_set) {
    const PackedSetUnderTest *set = packed_set_of_process(false);
    if (!set) return 1;
    const std::vector<GemmCase> cases = dispatch_cases();
    std::vector<std::string> failures = failures_of(orb_blas_xsgemm, cases, 1313);
    for (size_t i = 0; i < cases.size(); ++i) {
        const Operands ops = make_operands(cases[i], 1414 + i);
        if (!same_bits(run_call(orb_blas_xsgemm, cases[i], ops), run_call(set->xsgemm, cases[i], ops)))
            failures.push_back(describe(cases[i], ops) + ": the dispatcher's C differs from the set entry's");
    }
    return finish_child(*set, failures, cases.size());
}

TEST_P(PackedSgemmPaths, OrdinaryCallsThroughTheDispatcherReachTheSet) {
    expect_child(set(), "dispatch_reaches_the_set", false, dispatch_cases().size());
}

// ---------------------------------------------------------------------------
// The STRICT reproducible mode.
// ---------------------------------------------------------------------------

// Shapes that take a small-size path or the buffer-free product in the
// ordinary mode and the full-copy path in the STRICT mode, and shapes of
// the blocked path's seams.
std::vector<GemmCase> strict_cases() {
    return {
        {kAny, "6 x 6 shape", 'N', 'N', 6, 5, 6, 1.0f, 0.0f, 0, 0, 0, true},
        {kAny, "6 x 6 shape, beta 1", 'N', 'N', 6, 13, 6, -1.0f, 1.0f, 1, 1, 1},
        {kAny, "6 x 6 shape, other beta", 'n', 'n', 6, 4, 6, 0.5f, -2.0f},
        {kAny, "10 x 10 NN", 'N', 'N', 10, 10, 10, 1.0f, 0.0f, 0, 0, 0, true},
        {kAny, "10 x 10 NT", 'N', 'T', 10, 10, 33, 1.0f, 1.0f},
        {kAny, "10 x 10 TN", 'T', 'N', 10, 10, 17, 1.0f, 0.5f, 2, 2, 2},
        {kAny, "10 x 10 CC", 'C', 'C', 10, 10, 7, 2.0f, 0.0f, 0, 0, 0, true},
        {kAny, "tiny TN shape", 'T', 'N', 3, 10, 20, 1.0f, 0.0f, 0, 0, 0, true},
        {kAny, "narrow-B shape", 'T', 'N', 21, 6, 144, 1.0f, 0.0f, 0, 0, 0, true},
        {kAny, "TN with m < 12", 'T', 'N', 11, 80, 30, 1.0f, 1.0f},
        {kAny, "NN with n < 4", 'N', 'N', 100, 3, 20, 1.0f, 0.0f, 0, 0, 1, true},
        {kAny, "NN with n < 8", 'N', 'N', 100, 7, 20, 1.0f, 0.5f},
        {kAny, "TT with n = 1", 't', 't', 60, 1, 5, -0.5f, 1.0f},
        {kAny, "strips 24, 4, 2, 1 and columns 4, 2, 1", 'N', 'N', 31, 7, 129, 1.0f, 0.0f, 0, 0, 0, true},
        {kAny, "strips 48, 32, 8, 4, 2, 1 and columns 8, 4, 2, 1", 'T', 'N', 95, 15, 129, 1.0f, 1.0f},
        {kAny, "strips 48, 16, 8, 4, 2, 1", 'N', 'T', 79, 9, 129, -1.0f, 0.0f, 0, 0, 0, true},
        {kAny, "strips 16, 8 and an 8-row tail", 'T', 'N', 24 + 16 + 8, 9, 64, 1.0f, 1.0f},
        {kAny, "k halves", 'N', 'T', 80, 76, 500, 1.0f, 0.5f},
        {kAny, "k blocks", 'T', 'T', 57, 58, 900, 1.0f, 0.0f, 0, 0, 0, true},
        {kAny, "m blocks of 10008 / 9984 and the rest", 'N', 'N', 10009, 4, 2, 1.0f, 0.0f, 0, 0, 1, true},
        {kAny, "alpha 0, beta 1", 'N', 'N', 30, 30, 30, 0.0f, 1.0f, 0, 0, 1, false, true},
        {kAny, "alpha 0, beta 0", 'T', 'N', 6, 6, 6, 0.0f, 0.0f, 0, 0, 1, true, true},
        {kAny, "alpha 0, beta 2", 'N', 'T', 20, 3, 9, 0.0f, 2.0f, 0, 0, 1, false, true},
        {kAny, "k 0, beta 0", 'N', 'N', 6, 9, 0, 1.0f, 0.0f, 0, 0, 1, true, true},
        {kAny, "k 0, beta 0.5", 'T', 'T', 40, 40, 0, 1.0f, 0.5f, 0, 0, 1, false, true},
        {kAny, "k 0, beta 1", 'T', 'N', 40, 40, 0, 1.0f, 1.0f, 0, 0, 1, false, true},
    };
}

// STRICT results are still right products: the table and a random sweep.
std::vector<GemmCase> strict_table(const PackedSetUnderTest &set) {
    std::vector<GemmCase> cases = strict_cases();
    const std::vector<GemmCase> sweep = random_sweep(set, 80, 4242);
    cases.insert(cases.end(), sweep.begin(), sweep.end());
    return cases;
}

ORB_CHILD_ENTRY(strict_matches_reference) {
    const PackedSetUnderTest *set = packed_set_of_process(true);
    if (!set) return 1;
    const std::vector<GemmCase> cases = strict_table(*set);
    return finish_child(*set, failures_of(orb_blas_xsgemm, cases, 1515), cases.size());
}

TEST_P(PackedSgemmPaths, StrictMatchesTheReference) {
    expect_child(set(), "strict_matches_reference", true, strict_table(set()).size());
}

// What the STRICT path must store: A is packed with alpha folded in (one
// float multiplication), C is scaled by a beta other than 0 and 1 first, and
// each k block adds the chain of fused multiply-adds over its k in order,
// the first block storing it outright when beta is 0.
std::vector<float> strict_k_order(const PackedSetUnderTest &set, const GemmCase &g, const Operands &ops) {
    std::vector<float> want(static_cast<size_t>(g.m * g.n));
    const int64_t kc = set.kc(g.k);
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

// Shapes for the exact k-order check: every strip width of A (24 / 48 down
// to 1), column groups of 8 / 4 down to 1, k in one, two and several blocks
// of the set, and a random sweep without alpha 0 (which has no sum).
std::vector<GemmCase> k_order_table(const PackedSetUnderTest &set) {
    const char kPairs[][2] = {{'N', 'N'}, {'T', 'N'}, {'N', 'T'}, {'T', 'T'}, {'C', 'n'}};
    const float kAlphas[] = {1.0f, -1.0f, 0.3f};
    const int64_t s = set.kc_split, h = set.kc_halving;
    std::vector<GemmCase> cases;
    int64_t index = 0;
    for (int64_t m : {1, 7, 8, 15, 24, 31, 32, 47, 56, 80, 111})
        for (int64_t k : {int64_t{1}, int64_t{5}, s - 120, (s + h) / 2 - 20, 2 * h - 168}) {
            const char *pair = kPairs[index % 5];
            GemmCase g = with_beta({kAny, "k order, m = " + std::to_string(m), pair[0], pair[1], m,
                                    1 + (index * 7) % 15, k, kAlphas[index % 3], 0.0f},
                                   index / 3);
            g.ldc_extra = index++ % 2;
            cases.push_back(g);
        }
    for (const GemmCase &g : random_sweep(set, 60, 5151))
        if (g.alpha != 0.0f) cases.push_back(g);
    return cases;
}

// In STRICT mode every element is the k-ordered chain of fused multiply-adds.
ORB_CHILD_ENTRY(strict_sums_in_k_order) {
    const PackedSetUnderTest *set = packed_set_of_process(true);
    if (!set) return 1;
    const std::vector<GemmCase> cases = k_order_table(*set);
    std::vector<std::string> failures;
    for (size_t c = 0; c < cases.size(); ++c) {
        const GemmCase &g = cases[c];
        const Operands ops = make_operands(g, 1616 + c);
        const std::vector<float> after = run_call(orb_blas_xsgemm, g, ops);
        const std::vector<float> want = strict_k_order(*set, g, ops);
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
    return finish_child(*set, failures, cases.size());
}

TEST_P(PackedSgemmPaths, StrictSumsInKOrderWithFusedMultiplyAdds) {
    expect_child(set(), "strict_sums_in_k_order", true, k_order_table(set()).size());
}

// Shapes of every ordinary path of both sets, each computed on the STRICT path.
std::vector<GemmCase> placement_cases() {
    return {
        {kAny, "6 x 6 shape", 'N', 'N', 6, 9, 6, 0.7f, 0.0f, 0, 0, 0, true},
        {kAny, "10 x 10", 'N', 'N', 10, 10, 10, 1.3f, 1.0f},
        {kAny, "no-copy shape", 'T', 'N', 50, 37, 300, 1.0f, -0.5f, 1, 0, 2},
        {kAny, "tiny TN shape", 'T', 'N', 3, 10, 77, 0.9f, 0.25f},
        {kAny, "narrow-B shape", 'T', 'N', 45, 11, 300, 1.0f, 0.0f, 1, 1, 1, true},
        {kAny, "8-row tail", 'T', 'T', 31, 7, 129, 1.0f, 1.0f, 0, 0, 1},
        {kAny, "blocked NT", 'N', 'T', 100, 75, 600, -0.6f, 0.0f, 0, 2, 0, true},
        {kAny, "blocked NN", 'N', 'N', 200, 130, 800, 1.1f, 0.5f},
        {kAny, "strips 48, 32, 8, 4, 2, 1, columns 8, 4, 2, 1", 'N', 'T', 95, 15, 70, 1.0f, 1.0f},
        {kAny, "narrow B", 'N', 'C', 90, 3, 250, 1.0f, 1.0f, 1, 1, 1},
    };
}

// In STRICT mode the same call gives the same (right) bits, again and with
// the operands moved by 1, 2 or 3 floats.
ORB_CHILD_ENTRY(strict_is_placement_free) {
    const PackedSetUnderTest *set = packed_set_of_process(true);
    if (!set) return 1;
    const std::vector<GemmCase> cases = placement_cases();
    const Placement kPlacements[] = {{0, 0, 0}, {1, 1, 1}, {2, 2, 2}, {3, 3, 3}, {1, 2, 3}, {3, 1, 2}, {2, 0, 1}};
    std::vector<std::string> failures;
    for (size_t c = 0; c < cases.size(); ++c) {
        const GemmCase &g = cases[c];
        const Operands ops = make_operands(g, 1717 + c);
        const std::vector<float> first = run_call(orb_blas_xsgemm, g, ops);
        const std::string report = check_result(g, ops, first);
        if (!report.empty()) failures.push_back(report);
        for (const Placement &at : kPlacements)
            if (!same_bits(first, run_call(orb_blas_xsgemm, g, ops, at)))
                failures.push_back(describe(g, ops) + ": C changed with A, B, C at float offsets " +
                                   std::to_string(at.a) + ", " + std::to_string(at.b) + ", " +
                                   std::to_string(at.c));
    }
    return finish_child(*set, failures, cases.size());
}

TEST_P(PackedSgemmPaths, StrictBitIdenticalAgainAndAtOtherAddresses) {
    expect_child(set(), "strict_is_placement_free", true, placement_cases().size());
}

}  // namespace
