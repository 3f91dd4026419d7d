// test_baseline_sgemm.cpp - the SGEMM members of the baseline sets (def,
// cnr_def) against a double-precision reference.
//
// The executable runs as a plain baseline processor (cpu type 0, neither
// Zen nor Barcelona: see tests/CMakeLists.txt), so each set's xsgemm takes
// its own blocked path: k blocks of 112 led by the remainder, 8 x 4 tiles,
// B chunks of 2000 columns, A groups of 2560 rows, the m mod 8 rows by the
// buffer-free product and the n mod 4 columns by SGEMV.  The Barcelona
// drivers are called directly; the dispatcher runs in child processes on a
// simulated plain baseline processor and on a scripted Barcelona.
//
// Operands are stored with padding: padding rows of A and B hold NaN, which
// must never reach C; padding rows of C hold a sentinel, which must survive.
// With beta 0 C starts as NaN and must be overwritten.
#include <gtest/gtest.h>

#include <cmath>
#include <cstdint>
#include <cstring>
#include <limits>
#include <random>
#include <sstream>
#include <string>
#include <vector>

#include "blas/kernels/cnr_def/cnr_def_kernels.h"
#include "blas/kernels/def/def_kernels.h"
#include "blas/kernels/dispatchers.h"
#include "orb_service.h"
#include "support/allocation_probe.h"
#include "support/child_process.h"
#include "support/reference_gemm.h"

namespace {

const float kNaN = std::numeric_limits<float>::quiet_NaN();
const float kSentinel = 777.0f;

struct Shape {
    char ta, tb;      // transposition characters
    int64_t m, n, k;  // C is m x n
    float alpha, beta;
};

// A call's operands, column-major with padding rows.
struct Problem {
    Shape s;
    int64_t lda, ldb, ldc;
    std::vector<float> a, b, c;
};

std::string describe(const Shape &s) {
    std::ostringstream o;
    o << s.ta << s.tb << " m=" << s.m << " n=" << s.n << " k=" << s.k << " alpha=" << s.alpha << " beta=" << s.beta;
    return o.str();
}

// Random values in [-1, 1) in the rows x cols matrix, NaN in its padding rows.
std::vector<float> stored(int64_t rows, int64_t cols, int64_t ld, float pad, std::mt19937 &rng) {
    std::uniform_real_distribution<float> value(-1.0f, 1.0f);
    std::vector<float> x(static_cast<size_t>(ld * std::max<int64_t>(cols, 1)), pad);
    for (int64_t j = 0; j < cols; ++j)
        for (int64_t i = 0; i < rows; ++i) x[i + j * ld] = value(rng);
    return x;
}

Problem make_problem(const Shape &s, unsigned seed, int64_t pad = 3) {
    std::mt19937 rng(seed);
    const bool ta = ref_is_trans(s.ta), tb = ref_is_trans(s.tb);
    Problem p{s, (ta ? s.k : s.m) + pad, (tb ? s.n : s.k) + pad, s.m + pad, {}, {}, {}};
    p.a = stored(ta ? s.k : s.m, ta ? s.m : s.k, p.lda, kNaN, rng);
    p.b = stored(tb ? s.n : s.k, tb ? s.k : s.n, p.ldb, kNaN, rng);
    p.c = stored(s.m, s.n, p.ldc, kSentinel, rng);
    if (s.beta == 0.0f)
        for (int64_t j = 0; j < s.n; ++j)
            for (int64_t i = 0; i < s.m; ++i) p.c[i + j * p.ldc] = kNaN;
    return p;
}

std::vector<float> run(XsgemmFn f, const Problem &p) {
    std::vector<float> c = p.c;
    const char ta[2] = {p.s.ta, 0}, tb[2] = {p.s.tb, 0};
    f(ta, tb, &p.s.m, &p.s.n, &p.s.k, &p.s.alpha, p.a.data(), &p.lda, p.b.data(), &p.ldb, &p.s.beta, c.data(), &p.ldc);
    return c;
}

// Empty when c is the product within the rounding bound and the padding survived.
std::string check(const Problem &p, const std::vector<float> &c) {
    RefGemm g{p.s.ta, p.s.tb, p.s.m, p.s.n, p.s.k, p.s.alpha, p.s.beta, p.a.data(), p.lda, p.b.data(), p.ldb};
    std::vector<double> mag;
    const std::vector<double> want = reference_sgemm(g, p.c.data(), p.ldc, &mag);
    for (int64_t j = 0; j < p.s.n; ++j)
        for (int64_t i = 0; i < p.ldc; ++i) {
            const float got = c[i + j * p.ldc];
            std::ostringstream o;
            if (i >= p.s.m) {
                if (got == kSentinel) continue;
                o << describe(p.s) << ": padding row " << i << " of column " << j << " became " << got;
                return o.str();
            }
            const double w = want[i + j * p.s.m];
            if (std::fabs(got - w) <= gemm_error_bound(p.s.k, mag[i + j * p.s.m])) continue;
            o << describe(p.s) << ": C(" << i << "," << j << ") = " << got << ", want " << w;
            return o.str();
        }
    return "";
}

bool same_bits(const std::vector<float> &x, const std::vector<float> &y) {
    return x.size() == y.size() && std::memcmp(x.data(), y.data(), x.size() * sizeof(float)) == 0;
}

struct Named {
    const char *name;
    XsgemmFn f;
};

// Every entry computing the whole product with the xsgemm arguments.
const Named kProducts[] = {
    {"def xsgemm", orb_blas_def_xsgemm},           {"cnr_def xsgemm", orb_blas_cnr_def_xsgemm},
    {"def pst", orb_blas_def_sgemm_pst},           {"cnr_def pst", orb_blas_cnr_def_sgemm_pst},
    {"def xsgemm1_brc", orb_blas_def_xsgemm1_brc}, {"cnr_def xsgemm1_brc", orb_blas_cnr_def_xsgemm1_brc},
    {"def xsgemm0_brc", orb_blas_def_xsgemm0_brc}, {"cnr_def xsgemm0_brc", orb_blas_cnr_def_xsgemm0_brc},
    {"def pst_brc", orb_blas_def_sgemm_pst_brc},   {"cnr_def pst_brc", orb_blas_cnr_def_sgemm_pst_brc},
};

// Shapes at the seams of the blocked path and below it, in all four transpositions.
std::vector<Shape> seam_shapes() {
    const int64_t dims[][3] = {{8, 8, 8},   {13, 9, 113}, {16, 12, 112}, {21, 19, 229}, {40, 6, 50}, {6, 40, 50},
                               {30, 30, 7}, {9, 11, 1},   {3, 5, 3},     {1, 1, 1},     {24, 20, 4}, {33, 35, 225}};
    const float betas[] = {1.0f, 0.0f, -0.5f}, alphas[] = {1.5f, -1.0f, 1.0f};
    std::vector<Shape> shapes;
    int turn = 0;
    for (const char *t : {"NN", "NT", "TN", "TT"})
        for (const auto &d : dims)
            for (float beta : betas) shapes.push_back({t[0], t[1], d[0], d[1], d[2], alphas[turn++ % 3], beta});
    return shapes;
}

TEST(BaselineSgemm, EveryEntryMatchesTheReferenceAtTheSeams) {
    ASSERT_EQ(orb_serv_cpu_detect(), 0);
    ASSERT_FALSE(orb_serv_cpuiszen() || orb_serv_cpuisbulldozer() || orb_serv_cpuisitbarcelona());
    const std::vector<Shape> shapes = seam_shapes();
    for (const Named &entry : kProducts)
        for (size_t i = 0; i < shapes.size(); ++i) {
            const Problem p = make_problem(shapes[i], 100 + static_cast<unsigned>(i));
            EXPECT_EQ(check(p, run(entry.f, p)), "") << entry.name;
        }
}

TEST(BaselineSgemm, LargeShapesCrossBChunksAndARowGroups) {
    const Shape shapes[] = {{'N', 'N', 16, 2009, 10, 1.0f, 0.5f},
                            {'T', 'N', 2600, 8, 9, -2.0f, 0.0f},
                            {'N', 'T', 2565, 9, 8, 1.0f, 1.0f},
                            {'T', 'T', 2561, 13, 117, 0.5f, 1.0f}};
    for (const Shape &s : shapes) {
        const Problem p = make_problem(s, 7);
        EXPECT_EQ(check(p, run(orb_blas_def_xsgemm, p)), "");
        EXPECT_EQ(check(p, run(orb_blas_cnr_def_xsgemm1_brc, p)), "");
    }
}

// alpha 0 never reads A or B; beta 0 clears, beta 1 leaves C alone, other betas scale.
TEST(BaselineSgemm, AlphaZeroOnlyScalesC) {
    const XsgemmFn drivers[] = {orb_blas_def_xsgemm, orb_blas_cnr_def_xsgemm, orb_blas_def_xsgemm1_brc,
                                orb_blas_cnr_def_xsgemm0_brc};
    for (XsgemmFn f : drivers)
        for (float beta : {0.0f, 1.0f, 0.25f}) {
            Problem p = make_problem({'N', 'T', 19, 17, 33, 0.0f, beta}, 3);
            std::fill(p.a.begin(), p.a.end(), kNaN);
            std::fill(p.b.begin(), p.b.end(), kNaN);
            p.c[5] = beta == 0.0f ? kNaN : std::numeric_limits<float>::infinity();
            const std::vector<float> c = run(f, p);
            for (int64_t j = 0; j < p.s.n; ++j)
                for (int64_t i = 0; i < p.ldc; ++i) {
                    const float before = p.c[i + j * p.ldc], after = c[i + j * p.ldc];
                    const float want = i >= p.s.m || beta == 1.0f ? before : beta == 0.0f ? 0.0f : beta * before;
                    ASSERT_TRUE(std::memcmp(&after, &want, sizeof(float)) == 0)
                        << "beta " << beta << " at (" << i << "," << j << "): " << after << " want " << want;
                }
        }
}

TEST(BaselineSgemm, RefusedBufferFallsBackToTheBufferFreeProduct) {
    const Problem p = make_problem({'T', 'N', 45, 2011, 120, 1.25f, -1.0f}, 9);
    allocation_probe().reset();
    const std::vector<float> blocked = run(orb_blas_def_xsgemm, p);
    ASSERT_FALSE(allocation_probe().requests().empty());
    EXPECT_EQ(allocation_probe().sizes().front(), 311552u + 2000u * 448u);
    EXPECT_EQ(allocation_probe().alignments().front(), 128);
    EXPECT_EQ(check(p, blocked), "");
    const Problem narrow = make_problem({'N', 'N', 9, 21, 9, 1.0f, 0.0f}, 10);
    allocation_probe().reset();
    run(orb_blas_cnr_def_xsgemm, narrow);
    ASSERT_EQ(allocation_probe().sizes().size(), 1u);
    EXPECT_EQ(allocation_probe().sizes().front(), 311552u + 21u * 448u);

    allocation_probe().refuse(true);
    const std::vector<float> refused = run(orb_blas_def_xsgemm, p);
    const std::vector<float> refused_brc = run(orb_blas_cnr_def_xsgemm1_brc, p);
    allocation_probe().refuse(false);
    EXPECT_TRUE(same_bits(refused, run(orb_blas_def_sgemm_pst, p)));
    EXPECT_TRUE(same_bits(refused_brc, run(orb_blas_cnr_def_sgemm_pst_brc, p)));
    EXPECT_EQ(check(p, refused), "");
}

// The Barcelona drivers store full sums: with A not transposed each element
// is its k products added in order, then alpha*s + beta*c, exactly as the
// buffer-free product computes it.
TEST(BaselineSgemm, BarcelonaTilesAgreeBitwiseWithTheBufferFreeProduct) {
    for (const char *t : {"NN", "NT"})
        for (float beta : {0.0f, 1.0f, 3.0f}) {
            const Problem p = make_problem({t[0], t[1], 29, 23, 301, 0.75f, beta}, 21);
            EXPECT_TRUE(same_bits(run(orb_blas_def_xsgemm1_brc, p), run(orb_blas_def_sgemm_pst_brc, p))) << t;
            EXPECT_TRUE(same_bits(run(orb_blas_cnr_def_xsgemm1_brc, p), run(orb_blas_cnr_def_sgemm_pst_brc, p)));
        }
}

// A dot product whose value shows where the vector loop starts: 2^24 + 1
// rounds back to 2^24 when summed in sequence, but not when the 1 sits in
// another lane than 2^24 and the -2^24 that cancels it.
float placed_dot(XsgemmFn f, size_t offset) {
    alignas(16) float a[16] = {};
    float *row = a + offset;
    row[0] = 16777216.0f;
    row[1] = 1.0f;
    row[4] = -16777216.0f;
    const float b[8] = {1, 1, 1, 1, 1, 1, 1, 1};
    const int64_t one = 1, k = 8;
    const float alpha = 1.0f, beta = 0.0f;
    float c = kNaN;
    f("T", "N", &one, &one, &k, &alpha, row, &k, b, &k, &beta, &c, &one);
    return c;
}

TEST(BaselineSgemm, OnlyTheOrdinaryBufferFreeProductFollowsAddresses) {
    EXPECT_EQ(placed_dot(orb_blas_def_sgemm_pst, 0), 1.0f);  // vector loop from the first element
    EXPECT_EQ(placed_dot(orb_blas_def_sgemm_pst, 1), 0.0f);  // three leading steps one at a time
    EXPECT_EQ(placed_dot(orb_blas_def_sgemm_pst_brc, 1), 0.0f);
    for (XsgemmFn f : {orb_blas_cnr_def_sgemm_pst, orb_blas_cnr_def_sgemm_pst_brc, orb_blas_cnr_def_xsgemm})
        for (size_t offset : {0, 1, 2, 3}) EXPECT_EQ(placed_dot(f, offset), 1.0f);

    // Random operands placed at two addresses 4 bytes apart.
    for (const char *t : {"TN", "TT", "NN"}) {
        const Problem p = make_problem({t[0], t[1], 5, 7, 61, 1.0f, 0.5f}, 33);
        std::vector<float> a1(p.a.size() + 1), b1(p.b.size() + 1);
        std::copy(p.a.begin(), p.a.end(), a1.begin() + 1);
        std::copy(p.b.begin(), p.b.end(), b1.begin() + 1);
        for (XsgemmFn f : {orb_blas_cnr_def_xsgemm, orb_blas_cnr_def_xsgemm1_brc}) {
            std::vector<float> c0 = p.c, c1 = p.c;
            const char ta[2] = {t[0], 0}, tb[2] = {t[1], 0};
            f(ta, tb, &p.s.m, &p.s.n, &p.s.k, &p.s.alpha, p.a.data(), &p.lda, p.b.data(), &p.ldb, &p.s.beta, c0.data(),
              &p.ldc);
            f(ta, tb, &p.s.m, &p.s.n, &p.s.k, &p.s.alpha, a1.data() + 1, &p.lda, b1.data() + 1, &p.ldb, &p.s.beta,
              c1.data(), &p.ldc);
            EXPECT_TRUE(same_bits(c0, c1)) << t;
            EXPECT_EQ(check(p, c1), "");
        }
    }
}

TEST(BaselineSgemm, ScalersClearOrMultiplyEachElementOnce) {
    using Scale = void (*)(const int64_t *, const int64_t *, const float *, float *, const int64_t *);
    const Scale scalers[] = {orb_blas_def_sgemm_mscale,     orb_blas_cnr_def_sgemm_mscale,
                             orb_blas_def_sgemm_mscale_brc, orb_blas_cnr_def_sgemm_mscale_brc,
                             orb_blas_def_sgemm_scalm,      orb_blas_cnr_def_sgemm_scalm};
    const int64_t m = 37, n = 5;
    for (int64_t ldc : {m, m + 4})
        for (size_t s = 0; s < 6; ++s)
            for (float beta : {0.0f, 2.0f, -0.75f}) {
                if (beta == 0.0f && s >= 4) continue;  // sgemm_scalm is never called with 0
                std::vector<float> base(static_cast<size_t>(ldc * n + 4), kSentinel);
                float *c = base.data() + 1;  // off the 16-byte grid
                for (int64_t j = 0; j < n; ++j)
                    for (int64_t i = 0; i < m; ++i) c[i + j * ldc] = (i == 3 && j == 1) ? kNaN : 0.125f * (i - j);
                const std::vector<float> before = base;
                scalers[s](&m, &n, &beta, c, &ldc);
                for (size_t e = 0; e < base.size(); ++e) {
                    const int64_t at = static_cast<int64_t>(e) - 1, i = at % ldc, j = at / ldc;
                    const bool inside = at >= 0 && j < n && i < m;
                    const float want = !inside ? before[e] : beta == 0.0f ? 0.0f : beta * before[e];
                    ASSERT_TRUE(std::memcmp(&want, &base[e], sizeof(float)) == 0)
                        << "scaler " << s << " beta " << beta << " ldc " << ldc << " element " << at;
                }
            }
    const int64_t rows = 6, cols = 3, ld = 7;
    std::vector<float> c(ld * cols, kNaN);
    orb_blas_def_sgemm_zerom(&rows, &cols, c.data(), &ld);
    for (int64_t e = 0; e < ld * cols; ++e) EXPECT_EQ(c[e] == 0.0f, e % ld < rows) << e;
}

// The packed layouts: A element (8q+t, p) at q*8*kp + p*8 + t times alpha,
// B element (p, 4q+t) at q*4*kp + p*4 + t, k padded to kp with zeros.
TEST(BaselineSgemm, PackersWriteTheBaselinePanels) {
    const int64_t kb = 5, kp = 8, rows = 13, cols = 7, ld = 20;
    std::vector<float> src(ld * 20);
    for (size_t e = 0; e < src.size(); ++e) src[e] = static_cast<float>(e) + 0.5f;
    for (float alpha : {-1.0f, 2.5f}) {
        alignas(16) float a_n[8 * kp + 4], a_t[8 * kp + 4], b_n[8 * kp + 4], b_t[8 * kp + 4];
        for (float *d : {a_n, a_t, b_n, b_t}) std::fill(d, d + 8 * kp + 4, kSentinel);
        orb_blas_def_sgemm_copyan(src.data(), &ld, &rows, &kb, &alpha, a_n);
        orb_blas_cnr_def_sgemm_copyat(src.data(), &ld, &rows, &kb, &alpha, a_t);
        orb_blas_def_sgemm_copybn(src.data(), &ld, &kb, &cols, &alpha, b_n);
        orb_blas_cnr_def_sgemm_copybt(src.data(), &ld, &kb, &cols, &alpha, b_t);
        for (int64_t p = 0; p < kp; ++p)
            for (int64_t t = 0; t < 8; ++t) {
                const bool pad = p >= kb;
                EXPECT_EQ(a_n[p * 8 + t], pad ? 0.0f : alpha * src[t + p * ld]) << p << "," << t;
                EXPECT_EQ(a_t[p * 8 + t], pad ? 0.0f : alpha * src[p + t * ld]) << p << "," << t;
                if (t >= 4) continue;
                EXPECT_EQ(b_n[p * 4 + t], pad ? 0.0f : alpha * src[p + t * ld]) << p << "," << t;
                EXPECT_EQ(b_t[p * 4 + t], pad ? 0.0f : alpha * src[t + p * ld]) << p << "," << t;
            }
        EXPECT_EQ(a_n[8 * kp], kSentinel);  // the 5 rows past the panel are left alone
        EXPECT_EQ(b_n[4 * kp], kSentinel);  // and the 3 columns past the B panel
    }
    // The Barcelona panels: every value repeated 4 times, missing columns 0;
    // both sets' vectorisations write the same panel.
    using Panel = void (*)(const int64_t *, const float *, const int64_t *, const int64_t *, float *);
    struct BrcPacker {
        Panel f;       // packer of 1 to 4 columns
        bool trans;    // reads a transposed B
        int64_t most;  // widest panel it takes
    };
    const BrcPacker packers[] = {{orb_blas_def_sgemm_copybn_0_brc, false, 3},
                                 {orb_blas_cnr_def_sgemm_copybn_0_brc, false, 3},
                                 {orb_blas_def_sgemm_copybt_brc, true, 4},
                                 {orb_blas_cnr_def_sgemm_copybt_brc, true, 4},
                                 {[](const int64_t *k, const float *b, const int64_t *ldb, const int64_t *, float *d) {
                                      orb_blas_def_sgemm_copybn_brc(k, b, ldb, d);
                                  },
                                  false, 4},
                                 {[](const int64_t *k, const float *b, const int64_t *ldb, const int64_t *, float *d) {
                                      orb_blas_cnr_def_sgemm_copybn_brc(k, b, ldb, d);
                                  },
                                  false, 4}};
    const int64_t k = 6;
    for (size_t v = 0; v < 6; ++v)
        for (int64_t width = v >= 4 ? 4 : 1; width <= packers[v].most; ++width) {
            alignas(16) float panel[16 * k];
            packers[v].f(&k, src.data(), &ld, &width, panel);
            for (int64_t p = 0; p < k; ++p)
                for (int64_t t = 0; t < 4; ++t) {
                    const float want = t >= width ? 0.0f : packers[v].trans ? src[t + p * ld] : src[p + t * ld];
                    for (int r = 0; r < 4; ++r)
                        EXPECT_EQ(panel[p * 16 + t * 4 + r], want) << "packer " << v << " width " << width;
                }
        }
}

// --- the dispatcher in processes of their own ------------------------------

const char *const kBarcelona = "amd_barcelona.cpuid";

// Checks the dispatcher against the reference (and, on Barcelona, against the
// sub-model called directly); prints the placed dot product, which tells
// the set: 1 for cnr_def, 0 for def.
int dispatcher_child(bool barcelona) {
    if (orb_serv_cpu_detect() != 0 || orb_serv_cpuiszen() || orb_serv_cpuisbulldozer() ||
        orb_serv_cpuisitbarcelona() != (barcelona ? 1 : 0)) {
        std::printf("wrong processor\n");
        return 2;
    }
    int failures = 0;
    for (const Shape &s : {Shape{'N', 'N', 37, 41, 150, 1.0f, 0.0f}, Shape{'T', 'N', 5, 9, 20, 2.0f, 1.0f},
                           Shape{'T', 'T', 64, 33, 113, -1.0f, 0.5f}}) {
        const Problem p = make_problem(s, 5);
        const std::vector<float> c = run(orb_blas_xsgemm, p);
        const std::string why = check(p, c);
        if (!why.empty()) std::printf("%s\n", why.c_str());
        failures += !why.empty();
        if (barcelona && !same_bits(c, run(orb_blas_def_xsgemm1_brc, p))) {
            std::printf("%s: not the Barcelona driver's C\n", describe(s).c_str());
            ++failures;
        }
    }
    std::printf("versions %d %d %d\n", orb_blas_get_kernel_api_version(), orb_blas_get_ikernel_api_version(),
                orb_blas_sgemm_api_support());
    std::printf("placed %g\n", placed_dot(orb_blas_xsgemm, 1));
    return failures;
}

ORB_CHILD_ENTRY(baseline_dispatch) { return dispatcher_child(false); }
ORB_CHILD_ENTRY(barcelona_dispatch) { return dispatcher_child(true); }

TEST(BaselineSgemmDispatch, PlainBaselineProcessorRunsDefAndCnrDef) {
    const std::vector<std::string> plain = {"ORB_SIMULATE_CPU=ruzuv", "RUZUV_ISA_DISABLE=avx,sse4"};
    ChildResult r = run_child("baseline_dispatch", plain);
    EXPECT_EQ(r.exit_code, 0) << r.out << r.err;
    EXPECT_NE(r.out.find("versions 1 1 0"), std::string::npos) << r.out;
    EXPECT_NE(r.out.find("placed 0"), std::string::npos) << r.out;
    std::vector<std::string> reproducible = plain;
    reproducible.push_back("ORB_CBWR=COMPATIBLE");
    r = run_child("baseline_dispatch", reproducible);
    EXPECT_EQ(r.exit_code, 0) << r.out << r.err;
    EXPECT_NE(r.out.find("placed 1"), std::string::npos) << r.out;
}

TEST(BaselineSgemmDispatch, BarcelonaProcessorRunsTheBarcelonaDriver) {
    const ChildResult r =
        run_child("barcelona_dispatch", {"ORB_SIMULATE_CPU=file:" + test_data_path(std::string("cpus/") + kBarcelona)});
    EXPECT_EQ(r.exit_code, 0) << r.out << r.err;
    EXPECT_NE(r.out.find("placed 0"), std::string::npos) << r.out;
}

}  // namespace
