// baseline_gemm_driver.h - the serial GEMM of the baseline sets (def, cnr_def).
//
// C := alpha*op(A)*op(B) + beta*C on one thread.  On a processor of cpu type
// 0 the AMD sub-models take the whole call: the Barcelona family runs
// xsgemm1_brc, the Bulldozer and Zen families xsgemm_bdz.  Otherwise alpha = 0
// only clears or scales C, and a product with every dimension at least 8
// runs blocked:
//
//   one buffer of 311,552 + min(n, 2000)*448 bytes, 128-byte aligned:
//     [0, 286,720)        the packed A block, 640 rows x 112 k steps
//     [286,720, 293,888)  the expanded B panel of the block kernel
//     [311,552, ...)      the packed B chunk, 112 k steps x up to 2000 columns
//   for each chunk of at most 2000 columns of the first n/4*4:
//     for each k block (112 steps; the first takes k mod 112, or 112):
//       pack the B chunk (4-column panels, k padded to a multiple of 4);
//       for each group of up to four 640-row blocks of the first m/8*8 rows
//       (2560 rows), block by block: pack the A block (8-row panels, alpha
//       folded in) and run the block kernel over the whole chunk.
//
// The first k block of a chunk applies beta through the kernel form that
// matches it (1, 0 or any other); C is not scaled beforehand.  Later k blocks
// add to C.  The m mod 8 rows below the A panels go to the set's buffer-free
// product and the n mod 4 columns right of the B panels, all m rows, to the
// set's SGEMV, one column each.  Without the buffer, or with a dimension
// below 8, the buffer-free product computes everything.
//
// The driver is the same for both sets; a BaselineGemmSet names the set's
// own members, whose address rule is all that tells the sets apart here.
#ifndef ORB_BLAS_KERNELS_BASELINE_GEMM_DRIVER_H
#define ORB_BLAS_KERNELS_BASELINE_GEMM_DRIVER_H

#include <algorithm>
#include <cstdint>

#include "blas/kernels/baseline_buffer_free_product.h"
#include "blas/kernels/baseline_packers.h"
#include "blas/kernels/kernel_interface.h"
#include "orb_memory.h"
#include "orb_service.h"

namespace {

// The set's SGEMV kernel (kernel_operations.def, xsgemv).
using BaselineGemvFn = void (*)(const char *trans, const int64_t *m, const int64_t *n, const float *alpha,
                                const float *a, const int64_t *lda, const float *x, const int64_t *incx,
                                const float *beta, float *y, const int64_t *incy, int flag);
// C := beta*C, and C := 0.
using BaselineScaleFn = void (*)(const int64_t *m, const int64_t *n, const float *beta, float *c, const int64_t *ldc);
using BaselineZeroFn = void (*)(const int64_t *m, const int64_t *n, float *c, const int64_t *ldc);
// A block kernel form (sgemm_kernel_0, _0_b0, _0_beta).
using BaselineKernelFn = void (*)(const int64_t *m, const int64_t *n, const int64_t *kp, const float *a_pack,
                                  const float *b_pack, const float *beta, float *c, const int64_t *ldc, float *scratch);

// The members of one baseline set that its driver calls.
struct BaselineGemmSet {
    XsgemmFn buffer_free;                // sgemm_pst
    XsgemmFn barcelona;                  // xsgemm1_brc
    XsgemmFn bulldozer_zen;              // xsgemm_bdz
    BaselineGemvFn gemv;                 // xsgemv, for the n mod 4 columns
    BaselineZeroFn zero;                 // sgemm_zerom
    BaselineScaleFn scale;               // sgemm_scalm
    LegacyPackerFn pack_a[2];            // sgemm_copyan, sgemm_copyat
    LegacyPackerFn pack_b[2];            // sgemm_copybn, sgemm_copybt
    BaselineKernelFn kernel_beta_one;    // sgemm_kernel_0
    BaselineKernelFn kernel_beta_zero;   // sgemm_kernel_0_b0
    BaselineKernelFn kernel_beta_other;  // sgemm_kernel_0_beta
};

// The blocking and the buffer.
constexpr int64_t kBaselineKBlock = 112;           // k steps per block
constexpr int64_t kBaselineRowBlock = 640;         // rows of a packed A block
constexpr int64_t kBaselineRowGroup = 4;           // A blocks per group
constexpr int64_t kBaselineChunkCols = 2000;       // columns of a packed B chunk
constexpr int64_t kBaselineAAreaBytes = 311552;    // A block and expanded B panel
constexpr int64_t kBaselineBBytesPerColumn = 448;  // 112 floats
constexpr int kBaselineBufferAlignment = 128;
constexpr int64_t kBaselineScratchOffset = kBaselineRowBlock * kBaselineKBlock * 4;
static_assert(kBaselineScratchOffset + kBaselineKBlock * 64 <= kBaselineAAreaBytes, "A area too small");
static_assert(kBaselineBBytesPerColumn == kBaselineKBlock * 4, "B area holds one k block per column");
static_assert(kBaselineChunkCols % kBaselinePanelCols == 0, "chunks of whole panels");

inline int64_t baseline_buffer_bytes(int64_t n) {
    return kBaselineAAreaBytes + std::min(n, kBaselineChunkCols) * kBaselineBBytesPerColumn;
}

// The blocked part: rows [0, m8) and columns [0, n4) of C.
inline void baseline_blocked_product(const BaselineGemmSet &set, const GemmOperands &g, int64_t m8, int64_t n4,
                                     char *buffer) {
    float *a_area = reinterpret_cast<float *>(buffer);
    float *scratch = reinterpret_cast<float *>(buffer + kBaselineScratchOffset);
    float *b_area = reinterpret_cast<float *>(buffer + kBaselineAAreaBytes);
    const LegacyPackerFn pack_a = set.pack_a[g.trans_a];
    const LegacyPackerFn pack_b = set.pack_b[g.trans_b];
    const float one = 1.0f;
    const int64_t first_kb = g.k % kBaselineKBlock == 0 ? kBaselineKBlock : g.k % kBaselineKBlock;
    for (int64_t jc = 0; jc < n4; jc += kBaselineChunkCols) {
        const int64_t nc = std::min(kBaselineChunkCols, n4 - jc);
        for (int64_t pc = 0, kb = first_kb; pc < g.k; pc += kb, kb = kBaselineKBlock) {
            const int64_t kp = padded_k(kb);
            const float *b_src = g.trans_b ? g.b + jc + pc * g.ldb : g.b + pc + jc * g.ldb;
            pack_b(b_src, &g.ldb, &kb, &nc, &one, b_area);
            BaselineKernelFn kernel = set.kernel_beta_one;
            if (pc == 0 && g.beta == 0.0f)
                kernel = set.kernel_beta_zero;
            else if (pc == 0 && g.beta != 1.0f)
                kernel = set.kernel_beta_other;
            for (int64_t ig = 0; ig < m8; ig += kBaselineRowGroup * kBaselineRowBlock) {
                const int64_t group_end = std::min(m8, ig + kBaselineRowGroup * kBaselineRowBlock);
                for (int64_t ib = ig; ib < group_end; ib += kBaselineRowBlock) {
                    const int64_t mb = std::min(kBaselineRowBlock, group_end - ib);
                    const float *a_src = g.trans_a ? g.a + pc + ib * g.lda : g.a + ib + pc * g.lda;
                    pack_a(a_src, &g.lda, &mb, &kb, &g.alpha, a_area);
                    kernel(&mb, &nc, &kp, a_area, b_area, &g.beta, g.c + ib + jc * g.ldc, &g.ldc, scratch);
                }
            }
        }
    }
}

// The edges the panels leave out: rows [m8, m) of columns [0, n4) and all
// rows of columns [n4, n).
inline void baseline_edges(const BaselineGemmSet &set, const GemmOperands &g, int64_t m8, int64_t n4,
                           const char *transa, const char *transb) {
    if (m8 < g.m) {
        const int64_t rows = g.m - m8;
        const float *a_rows = g.trans_a ? g.a + m8 * g.lda : g.a + m8;
        set.buffer_free(transa, transb, &rows, &n4, &g.k, &g.alpha, a_rows, &g.lda, g.b, &g.ldb, &g.beta, g.c + m8,
                        &g.ldc);
    }
    const int64_t stored_rows = g.trans_a ? g.k : g.m, stored_cols = g.trans_a ? g.m : g.k;
    const int64_t one = 1;
    for (int64_t j = n4; j < g.n; ++j) {
        const float *x = g.trans_b ? g.b + j : g.b + j * g.ldb;
        const int64_t incx = g.trans_b ? g.ldb : 1;
        set.gemv(transa, &stored_rows, &stored_cols, &g.alpha, g.a, &g.lda, x, &incx, &g.beta, g.c + j * g.ldc, &one,
                 1);
    }
}

inline void baseline_xsgemm(const BaselineGemmSet &set, const char *transa, const char *transb, const int64_t *m,
                            const int64_t *n, const int64_t *k, const float *alpha, const float *a, const int64_t *lda,
                            const float *b, const int64_t *ldb, const float *beta, float *c, const int64_t *ldc) {
    if (*m < 1 || *n < 1) return;
    if (orb_serv_cpu_detect() == 0) {
        if (orb_serv_cpuisitbarcelona()) {
            set.barcelona(transa, transb, m, n, k, alpha, a, lda, b, ldb, beta, c, ldc);
            return;
        }
        if (orb_serv_cpuisbulldozer() || orb_serv_cpuiszen()) {
            set.bulldozer_zen(transa, transb, m, n, k, alpha, a, lda, b, ldb, beta, c, ldc);
            return;
        }
    }
    if (*alpha == 0.0f || *k < 1) {  // no product term: C only takes beta
        if (*beta == 0.0f)
            set.zero(m, n, c, ldc);
        else if (*beta != 1.0f)
            set.scale(m, n, beta, c, ldc);
        return;
    }
    if (*m < 8 || *n < 8 || *k < 8) {
        set.buffer_free(transa, transb, m, n, k, alpha, a, lda, b, ldb, beta, c, ldc);
        return;
    }
    void *buffer = orb_serv_allocate(static_cast<size_t>(baseline_buffer_bytes(*n)), kBaselineBufferAlignment);
    if (buffer == nullptr) {
        set.buffer_free(transa, transb, m, n, k, alpha, a, lda, b, ldb, beta, c, ldc);
        return;
    }
    const GemmOperands g = gemm_operands(transa, transb, m, n, k, alpha, a, lda, b, ldb, beta, c, ldc);
    const int64_t m8 = g.m / kBaselinePanelRows * kBaselinePanelRows;
    const int64_t n4 = g.n / kBaselinePanelCols * kBaselinePanelCols;
    baseline_blocked_product(set, g, m8, n4, static_cast<char *>(buffer));
    baseline_edges(set, g, m8, n4, transa, transb);
    orb_serv_deallocate(buffer);
}

}  // namespace

#endif
