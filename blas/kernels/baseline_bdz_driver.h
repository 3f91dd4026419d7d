// baseline_bdz_driver.h - the Bulldozer/Zen sub-model GEMM of the baseline
// sets (def, cnr_def).
//
// On AMD Bulldozer- and Zen-family processors the baseline sets run their
// products through 256-bit fused multiply-add kernels although the sets
// themselves are SSE2 code.  The driver first brings C to beta*C, so that
// the kernels only ever add to C, then cuts the product into k blocks
// (outermost), m blocks and n blocks (innermost).  A is packed once per
// (k block, m block) with alpha folded in, B once per n block, and the block
// kernel adds the packed product into the C block: the three-operand FMA
// kernel on Zen, the four-operand one on Bulldozer.  Products too small for
// the 16 x 4 register block, and every product for which the pool has no
// buffer, are computed by the set's buffer-free routine.
//
// Each set instantiates this driver with a table of its own members, so the
// two sets run the same code on their own scaler, fallback and packers.
#ifndef ORB_BLAS_KERNELS_BASELINE_BDZ_DRIVER_H
#define ORB_BLAS_KERNELS_BASELINE_BDZ_DRIVER_H

#include <cstdint>

#include "blas/kernels/baseline_bdz_blocking.h"
#include "blas/kernels/kernel_interface.h"
#include "orb_service.h"

// C(m x n, ldc) += packed A (m rows, k steps) x packed B (k steps, n columns).
using BdzKernelFn = void (*)(int64_t m, int64_t n, int64_t k, const float *a, const float *b, float *c, int64_t ldc);
// C := beta*C (the set's sgemm_mscale).
using BdzScalerFn = void (*)(const int64_t *m, const int64_t *n, const float *beta, float *c, const int64_t *ldc);
// The blocking of a product (sgemm_blk_info_bdz).
using BdzBlockInfoFn = void (*)(const int64_t *m, const int64_t *n, const int64_t *k, SgemmBlockInfo *info);
// The packing block and its two areas (sgemm_getbufs_bdz), and its release.
using BdzGetBuffersFn = void *(*)(const SgemmBlockInfo *info, float **a_pack, float **b_pack);
using BdzFreeBuffersFn = void (*)(void *block);

// The members of one set that the sub-model driver calls.
struct BdzSetMembers {
    XsgemmFn buffer_free;              // sgemm_pst: the whole product without buffers
    BdzScalerFn scale;                 // sgemm_mscale
    BdzBlockInfoFn block_info;         // sgemm_blk_info_bdz
    BdzGetBuffersFn get_buffers;       // sgemm_getbufs_bdz
    BdzFreeBuffersFn free_buffers;     // sgemm_freebufs_bdz
    LegacyPackerFn pack_a_normal;      // sgemm_copyan_bdz
    LegacyPackerFn pack_a_transposed;  // sgemm_copyat_bdz
    LegacyPackerFn pack_b_normal;      // sgemm_copybn_bdz
    LegacyPackerFn pack_b_transposed;  // sgemm_copybt_bdz
    BdzKernelFn kernel_zen;            // sgemm_kernel_0_zen (FMA3)
    BdzKernelFn kernel_bulldozer;      // sgemm_kernel_0_bdz (FMA4)
};

// Smallest product the blocked path takes.
constexpr int64_t kBdzMinRows = 12;
constexpr int64_t kBdzMinColumns = 4;

inline bool bdz_not_transposed(const char *trans) { return *trans == 'N' || *trans == 'n'; }

// C := alpha*op(A)*op(B) + beta*C, column-major, all arguments by address.
inline void bdz_xsgemm(const BdzSetMembers &set, const char *transa, const char *transb, const int64_t *m,
                       const int64_t *n, const int64_t *k, const float *alpha, const float *a, const int64_t *lda,
                       const float *b, const int64_t *ldb, const float *beta, float *c, const int64_t *ldc) {
    const int64_t rows = *m, cols = *n, depth = *k, ld_c = *ldc;
    if (rows < 1 || cols < 1) return;
    // NaN compares unequal, so a NaN beta scales C as well.
    if (!(*beta == 1.0f)) set.scale(m, n, beta, c, ldc);
    if (*alpha == 0.0f || depth < 1) return;

    static const float one = 1.0f;
    if (rows < kBdzMinRows || cols < kBdzMinColumns || depth <= 1) {
        set.buffer_free(transa, transb, m, n, k, alpha, a, lda, b, ldb, &one, c, ldc);
        return;
    }

    SgemmBlockInfo blocking;
    set.block_info(m, n, k, &blocking);
    float *a_pack = nullptr, *b_pack = nullptr;
    void *block = set.get_buffers(&blocking, &a_pack, &b_pack);
    if (orb_serv_check_ptr_and_warn(block, "SGEMM")) {
        set.buffer_free(transa, transb, m, n, k, alpha, a, lda, b, ldb, &one, c, ldc);
        return;
    }

    const bool a_normal = bdz_not_transposed(transa), b_normal = bdz_not_transposed(transb);
    const LegacyPackerFn pack_a = a_normal ? set.pack_a_normal : set.pack_a_transposed;
    const LegacyPackerFn pack_b = b_normal ? set.pack_b_normal : set.pack_b_transposed;
    const BdzKernelFn kernel = orb_serv_cpuiszen() ? set.kernel_zen : set.kernel_bulldozer;
    // Element (i, p) of op(A) and (p, j) of op(B).
    auto a_at = [&](int64_t i, int64_t p) { return a_normal ? a + i + p * *lda : a + p + i * *lda; };
    auto b_at = [&](int64_t p, int64_t j) { return b_normal ? b + p + j * *ldb : b + j + p * *ldb; };

    for (int64_t p0 = 0; p0 < depth; p0 += blocking.kc) {
        const int64_t kb = depth - p0 < blocking.kc ? depth - p0 : blocking.kc;
        for (int64_t i0 = 0; i0 < rows; i0 += blocking.mc) {
            const int64_t mb = rows - i0 < blocking.mc ? rows - i0 : blocking.mc;
            pack_a(a_at(i0, p0), lda, &mb, &kb, alpha, a_pack);
            for (int64_t j0 = 0; j0 < cols; j0 += blocking.nc) {
                const int64_t nb = cols - j0 < blocking.nc ? cols - j0 : blocking.nc;
                pack_b(b_at(p0, j0), ldb, &kb, &nb, &one, b_pack);
                kernel(mb, nb, kb, a_pack, b_pack, c + i0 + j0 * ld_c, ld_c);
            }
        }
    }
    set.free_buffers(block);
}

#endif
