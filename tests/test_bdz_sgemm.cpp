// The Bulldozer/Zen sub-model of the baseline sets (def, cnr_def): its
// blocking table, its driver on every transposition pair, panel tail, k-block
// rule, beta and alpha rule and leading dimension, the buffer request and the
// fallback without a buffer, both block kernels on packed panels, and the
// way in through the set dispatcher.  Every product is compared with the
// double-precision reference within the bound of a reordered float sum;
// padding beside C must stay untouched.  The executable presents a scripted
// Zen processor (tests/CMakeLists.txt), so the driver takes the FMA3 kernel;
// the FMA4 kernel is called directly where this machine has FMA4.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstdint>
#include <cstring>
#include <limits>
#include <random>
#include <vector>

#include "blas/kernels/cnr_def/cnr_def_kernels.h"
#include "blas/kernels/def/def_kernels.h"
#include "blas/kernels/dispatchers.h"
#include "orb_service.h"
#include "support/allocation_probe.h"
#include "support/child_process.h"
#include "support/host_isa.h"
#include "support/reference_gemm.h"

namespace {

const float kNaN = std::numeric_limits<float>::quiet_NaN();
constexpr float kGuard = 4321.0f;  // fills the padding rows of C

using BlockInfoFn = void (*)(const int64_t *, const int64_t *, const int64_t *, SgemmBlockInfo *);
using KernelFn = void (*)(int64_t, int64_t, int64_t, const float *, const float *, float *, int64_t);

struct BdzSet {
    const char *name;      // kernel set
    XsgemmFn gemm;         // xsgemm_bdz
    BlockInfoFn blocking;  // sgemm_blk_info_bdz
    LegacyPackerFn pack_a; // copyan_bdz
    LegacyPackerFn pack_b; // copybn_bdz
    KernelFn zen, bulldozer;  // the FMA3 and FMA4 block kernels
};
const BdzSet kSets[] = {
    {"def", orb_blas_def_xsgemm_bdz, orb_blas_def_sgemm_blk_info_bdz, orb_blas_def_sgemm_copyan_bdz,
     orb_blas_def_sgemm_copybn_bdz, orb_blas_def_sgemm_kernel_0_zen, orb_blas_def_sgemm_kernel_0_bdz},
    {"cnr_def", orb_blas_cnr_def_xsgemm_bdz, orb_blas_cnr_def_sgemm_blk_info_bdz, orb_blas_cnr_def_sgemm_copyan_bdz,
     orb_blas_cnr_def_sgemm_copybn_bdz, orb_blas_cnr_def_sgemm_kernel_0_zen, orb_blas_cnr_def_sgemm_kernel_0_bdz},
};

// One product; pad extra rows in every leading dimension.
struct Case {
    char ta, tb;
    int64_t m, n, k;
    float alpha = 1.5f, beta = 0.5f;
    int64_t pad = 2;
};

// The k steps of a block, by the table.
int64_t bdz_kc(int64_t k) { return k <= 128 ? 128 : k <= 192 ? k : k <= 383 ? k / 2 : 192; }

// The bytes the sub-model asks of the pool for a product (mc, nc, kc by the table).
size_t bdz_request(int64_t m, int64_t n, int64_t k) {
    int64_t kc = bdz_kc(k);
    int64_t mc = std::min<int64_t>((m + 15) / 16 * 16, 6400), nc = std::max<int64_t>(std::min<int64_t>(n, 384), 4);
    return static_cast<size_t>((4 * mc + 8 * nc) * kc + 16896);
}

// Runs x through gemm and checks C element by element; the padding rows of C
// must keep their guard.  With beta 0 C starts as NaN, which must vanish.
// Returns whether every element passed.
bool check_product(XsgemmFn gemm, const Case &x, unsigned seed) {
    SCOPED_TRACE(testing::Message() << x.ta << x.tb << " m=" << x.m << " n=" << x.n << " k=" << x.k
                                    << " alpha=" << x.alpha << " beta=" << x.beta);
    const bool at = x.ta != 'N', bt = x.tb != 'N';
    const int64_t lda = (at ? x.k : x.m) + x.pad, ldb = (bt ? x.n : x.k) + x.pad, ldc = x.m + x.pad;
    std::mt19937 rng(seed);
    std::uniform_real_distribution<float> dist(-1.0f, 1.0f);
    std::vector<float> a(lda * (at ? x.m : x.k)), b(ldb * (bt ? x.k : x.n)), c(ldc * x.n, kGuard);
    for (float &v : a) v = dist(rng);
    for (float &v : b) v = dist(rng);
    for (int64_t j = 0; j < x.n; ++j)
        for (int64_t i = 0; i < x.m; ++i) c[i + j * ldc] = x.beta == 0.0f ? kNaN : dist(rng);
    RefGemm g{x.ta, x.tb, x.m, x.n, x.k, x.alpha, x.beta, a.data(), lda, b.data(), ldb};
    std::vector<double> magnitude, want = reference_sgemm(g, c.data(), ldc, &magnitude);
    gemm(&x.ta, &x.tb, &x.m, &x.n, &x.k, &x.alpha, a.data(), &lda, b.data(), &ldb, &x.beta, c.data(), &ldc);
    int bad = 0;
    for (int64_t j = 0; j < x.n && bad < 5; ++j)
        for (int64_t i = 0; i < ldc && bad < 5; ++i) {
            float got = c[i + j * ldc];
            if (i >= x.m) bad += got != kGuard;
            else if (std::isnan(want[i + j * x.m])) bad += !std::isnan(got);
            else bad += !(std::fabs(got - want[i + j * x.m]) <= gemm_error_bound(x.k, magnitude[i + j * x.m]));
            if (bad) ADD_FAILURE() << "C(" << i << "," << j << ") = " << got;
        }
    return bad == 0;
}

TEST(BdzBlocking, FollowsTheTable) {
    struct Row { int64_t m, n, k, mc, nc, kc; };
    const Row rows[] = {
        {1, 1, 1, 16, 4, 128},          {12, 4, 128, 16, 4, 128},       {13, 5, 129, 16, 5, 129},
        {100, 390, 192, 112, 384, 192}, {700, 384, 193, 704, 384, 96},  {6400, 1000, 383, 6400, 384, 191},
        {6401, 3, 384, 6400, 4, 192},   {20000, 2, 100000, 6400, 4, 192},
    };
    for (const BdzSet &set : kSets)
        for (const Row &r : rows) {
            SgemmBlockInfo info{};
            set.blocking(&r.m, &r.n, &r.k, &info);
            EXPECT_EQ(info.mr, 16);
            EXPECT_EQ(info.nr, 4);
            EXPECT_EQ(info.mc, r.mc) << set.name << " m=" << r.m;
            EXPECT_EQ(info.nc, r.nc) << set.name << " n=" << r.n;
            EXPECT_EQ(info.kc, r.kc) << set.name << " k=" << r.k;
        }
}

class BdzSgemm : public testing::Test {
  protected:
    void SetUp() override {
        ASSERT_TRUE(orb_serv_cpuiszen()) << "the executable must present a Zen processor";
        allocation_probe().reset();
    }
    void TearDown() override { allocation_probe().reset(); }
};

// Every transposition pair on row counts that need each A tail panel
// (13: 8+4+1, 23: 16+4+2+1, 63: 3*16+8+4+2+1) and column counts with each B tail.
TEST_F(BdzSgemm, TranspositionsAndPanelTails) {
    const float alphas[] = {1.0f, -1.0f, 2.5f}, betas[] = {1.0f, 0.0f, 0.5f};
    unsigned seed = 1;
    for (const BdzSet &set : kSets)
        for (char ta : {'N', 'T'})
            for (char tb : {'N', 'T'})
                for (int64_t m : {12, 13, 23, 63})
                    for (int64_t n : {4, 5, 6, 7})
                        for (int64_t k : {2, 129}) {
                            Case x{ta, tb, m, n, k, alphas[seed % 3], betas[(seed / 3) % 3]};
                            check_product(set.gemm, x, seed++);
                        }
}

// Each band of the depth rule, and more than one k block.
TEST_F(BdzSgemm, EveryDepthBand) {
    unsigned seed = 100;
    for (const BdzSet &set : kSets)
        for (int64_t k : {2, 128, 129, 192, 193, 383, 384, 500}) {
            Case x{seed % 2 ? 'T' : 'N', seed % 3 ? 'N' : 'T', 100, 7, k};
            check_product(set.gemm, x, seed++);
        }
}

// Two column blocks (n > 384), a large m block, and two m blocks (m > 6400).
TEST_F(BdzSgemm, SeveralBlocks) {
    for (const BdzSet &set : kSets) {
        check_product(set.gemm, {'N', 'N', 700, 390, 200}, 7);
        check_product(set.gemm, {'T', 'T', 100, 390, 385, -1.0f, 1.0f, 5}, 8);
        check_product(set.gemm, {'N', 'T', 6415, 5, 3}, 9);
    }
}

// Beta 1, 0 (NaN in C vanishes), other and NaN (every element NaN) with
// alpha 0, 1, -1 and other, on a blocked and on a buffer-free shape.
TEST_F(BdzSgemm, BetaAndAlphaRules) {
    unsigned seed = 200;
    for (const BdzSet &set : kSets)
        for (float beta : {1.0f, 0.0f, -0.75f, kNaN})
            for (float alpha : {0.0f, 1.0f, -1.0f, 0.3f}) {
                check_product(set.gemm, {'N', 'T', 29, 6, 130, alpha, beta}, seed++);
                check_product(set.gemm, {'T', 'N', 5, 3, 4, alpha, beta}, seed++);
            }
}

// Full 16 x 4 tiles bit for bit against the kernel's described arithmetic:
// C is first scaled by beta; then for each k block in order, the element's
// products (A scaled by alpha when packed) form one fused multiply-add chain
// from zero in k order, which is added to C.
TEST_F(BdzSgemm, FullTilesFollowTheDescribedOrderOfOperations) {
    const int64_t m = 32, n = 8;
    const float alpha = 1.5f, beta = -0.75f;
    std::mt19937 rng(21);
    std::uniform_real_distribution<float> dist(-1.0f, 1.0f);
    for (const BdzSet &set : kSets)
        for (int64_t k : {100, 128, 129, 192, 193, 383, 384, 500}) {
            std::vector<float> a(m * k), b(k * n), c(m * n);
            for (float &v : a) v = dist(rng);
            for (float &v : b) v = dist(rng);
            for (float &v : c) v = dist(rng);
            std::vector<float> want(c);
            const int64_t kc = bdz_kc(k);
            for (int64_t j = 0; j < n; ++j)
                for (int64_t i = 0; i < m; ++i) {
                    float cij = beta * want[i + j * m];
                    for (int64_t p0 = 0; p0 < k; p0 += kc) {
                        float chain = 0.0f;
                        for (int64_t p = p0; p < std::min(k, p0 + kc); ++p)
                            chain = std::fmaf(alpha * a[i + p * m], b[p + j * k], chain);
                        cij = cij + chain;
                    }
                    want[i + j * m] = cij;
                }
            set.gemm("N", "N", &m, &n, &k, &alpha, a.data(), &m, b.data(), &k, &beta, c.data(), &m);
            int differing = 0;
            for (size_t e = 0; e < c.size(); ++e) differing += std::memcmp(&c[e], &want[e], sizeof(float)) != 0;
            EXPECT_EQ(differing, 0) << set.name << " k=" << k;
        }
}

// Shapes below the register block, with k <= 1 or with alpha 0 ask nothing
// of the pool; the others ask for one block of the stated size and
// alignment.  Without it they still compute the product.
TEST_F(BdzSgemm, BufferRequestAndFallback) {
    struct Row { Case x; bool blocked; };
    const Row rows[] = {
        {{'N', 'N', 11, 40, 30}, false}, {{'T', 'N', 40, 3, 30}, false},   {{'N', 'T', 40, 40, 1}, false},
        {{'N', 'N', 40, 40, 30, 0.0f}, false}, {{'N', 'N', 12, 4, 2}, true}, {{'T', 'T', 47, 9, 250}, true},
    };
    for (const BdzSet &set : kSets) {
        for (const Row &r : rows) {
            allocation_probe().reset();
            check_product(set.gemm, r.x, 300);
            auto requests = allocation_probe().requests();
            ASSERT_EQ(requests.size(), r.blocked ? 1u : 0u) << set.name << " m=" << r.x.m << " n=" << r.x.n;
            if (!r.blocked) continue;
            EXPECT_EQ(requests[0].size, bdz_request(r.x.m, r.x.n, r.x.k));
            EXPECT_EQ(requests[0].alignment, 128);
        }
        allocation_probe().reset();
        allocation_probe().refuse(true);
        check_product(set.gemm, {'N', 'N', 47, 9, 250, -1.0f, 0.0f}, 302);
        check_product(set.gemm, {'T', 'N', 33, 17, 400}, 303);
        EXPECT_EQ(allocation_probe().requests().size(), 2u);
    }
}

// A kernel on panels packed by the set's packers: C += packed A x packed B
// over 47 rows (16+16+8+4+2+1) and 7 columns (4+2+1), with the block placed
// inside a taller C whose other rows must stay as they were.
void check_kernel(const BdzSet &set, KernelFn kernel) {
    const int64_t m = 47, n = 7, k = 37, lda = m + 1, ldb = k + 3, ldc = m + 5;
    std::mt19937 rng(11);
    std::uniform_real_distribution<float> dist(-1.0f, 1.0f);
    std::vector<float> a(lda * k), b(ldb * n), c(ldc * n), a_pack(m * k), b_pack(k * n);
    for (float &v : a) v = dist(rng);
    for (float &v : b) v = dist(rng);
    for (float &v : c) v = dist(rng);
    const float alpha = -2.0f, one = 1.0f;
    set.pack_a(a.data(), &lda, &m, &k, &alpha, a_pack.data());
    set.pack_b(b.data(), &ldb, &k, &n, &one, b_pack.data());
    RefGemm g{'N', 'N', m, n, k, alpha, 1.0, a.data(), lda, b.data(), ldb};
    std::vector<double> magnitude, want = reference_sgemm(g, c.data(), ldc, &magnitude);
    const std::vector<float> before = c;
    kernel(m, n, k, a_pack.data(), b_pack.data(), c.data(), ldc);
    for (int64_t j = 0; j < n; ++j)
        for (int64_t i = 0; i < ldc; ++i) {
            SCOPED_TRACE(testing::Message() << set.name << " C(" << i << "," << j << ")");
            if (i >= m) EXPECT_EQ(c[i + j * ldc], before[i + j * ldc]);
            else EXPECT_NEAR(c[i + j * ldc], want[i + j * m], gemm_error_bound(k, magnitude[i + j * m]));
        }
}

TEST(BdzKernels, ZenKernelOnPackedPanels) {
    for (const BdzSet &set : kSets) check_kernel(set, set.zen);
}

TEST(BdzKernels, BulldozerKernelOnPackedPanels) {
    ORB_REQUIRE_HOST(HostIsa::fma4);
    for (const BdzSet &set : kSets) check_kernel(set, set.bulldozer);
}

// Through the dispatcher: on a Zen with no settings (def) and under
// ORB_CBWR=AUTO (cnr_def), the product must be right and the one buffer
// request must be the sub-model's.
ORB_CHILD_ENTRY(bdz_through_dispatcher) {
    allocation_probe().reset();
    const int64_t m = 100, n = 50, k = 300;
    bool right = check_product(orb_blas_xsgemm, {'N', 'T', m, n, k}, 400);
    auto sizes = allocation_probe().sizes();
    bool one_request = sizes.size() == 1 && sizes[0] == bdz_request(m, n, k);
    std::printf("product %s, %zu requests, first %zu bytes\n", right ? "right" : "wrong", sizes.size(),
                sizes.empty() ? size_t{0} : sizes[0]);
    return right && one_request ? 0 : 1;
}

TEST(BdzDispatch, DefaultAndAutoBranchTakeTheSubModelOnZen) {
    for (const char *setting : {"ORB_CBWR", "ORB_CBWR=AUTO"}) {
        ChildResult r = run_child("bdz_through_dispatcher", {setting});
        EXPECT_EQ(r.exit_code, 0) << setting << "\n" << r.out << r.err;
    }
}

}  // namespace
