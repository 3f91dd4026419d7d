// def_kernels.h - the members of the def kernel set (SSE2 baseline).
//
// The set's shared operations (kernel_operations.def) are declared first;
// below them its own members, grouped by role:
//   buffer-free     sgemm_pst, the whole product straight from the caller's
//                   matrices (small shapes, edges, no buffer);
//   scaling         C := beta*C (sgemm_mscale is a shared operation) and
//                   C := 0;
//   packers         8-row A panels with alpha folded in, 4-column B panels,
//                   k padded with zeros to a multiple of 4;
//   block kernels   the 8 x 4 kernel in its three beta forms;
//   Barcelona       the sub-model of the AMD Barcelona family;
//   Bulldozer/Zen   the sub-model of the AMD Bulldozer and Zen families: its
//                   driver and blocking are shared operations, its other
//                   members are declared in def_bdz_kernels.h.
// The set's table, def_set.cpp, lists the shared operations it carries.
// Every file of this directory is compiled for the x86-64 baseline (SSE2); nothing above it.
#ifndef ORB_BLAS_KERNELS_DEF_DEF_KERNELS_H
#define ORB_BLAS_KERNELS_DEF_DEF_KERNELS_H

#include "blas/kernels/kernel_interface.h"

extern "C" {
#define ORB_KERNEL_OP(op, result, params, args) result orb_blas_def_##op params;
#include "blas/kernels/kernel_operations.def"
#undef ORB_KERNEL_OP

// --- buffer-free product ----------------------------------------------------
// C := alpha*op(A)*op(B) + beta*C with the arguments of xsgemm; beta 0 never reads C.
void orb_blas_def_sgemm_pst(const char *transa, const char *transb, const int64_t *m, const int64_t *n,
                            const int64_t *k, const float *alpha, const float *a, const int64_t *lda, const float *b,
                            const int64_t *ldb, const float *beta, float *c, const int64_t *ldc);

// --- scaling ------------------------------------------------------------------
// C := beta*C for any beta (beta 0 multiplies too: NaN stays NaN).
void orb_blas_def_sgemm_scalm(const int64_t *m, const int64_t *n, const float *beta, float *c, const int64_t *ldc);
// C := 0 without reading C.
void orb_blas_def_sgemm_zerom(const int64_t *m, const int64_t *n, float *c, const int64_t *ldc);

// --- packers ------------------------------------------------------------------
// (source, its leading dimension, rows and cols of the op(X) block, factor,
// destination).  A: rows is the panel dimension m, cols the k block; only
// the first rows/8*8 rows are packed.  B: rows is the k block, cols is n;
// only the first cols/4*4 columns are packed.  k is padded to a multiple of 4.
void orb_blas_def_sgemm_copyan(const float *a, const int64_t *lda, const int64_t *rows, const int64_t *cols,
                               const float *alpha, float *dst);
void orb_blas_def_sgemm_copyat(const float *a, const int64_t *lda, const int64_t *rows, const int64_t *cols,
                               const float *alpha, float *dst);
void orb_blas_def_sgemm_copybn(const float *b, const int64_t *ldb, const int64_t *rows, const int64_t *cols,
                               const float *factor, float *dst);
void orb_blas_def_sgemm_copybt(const float *b, const int64_t *ldb, const int64_t *rows, const int64_t *cols,
                               const float *factor, float *dst);

// --- block kernels --------------------------------------------------------------
// C(m x n, ldc) op= packed A (m/8 panels) x packed B (n/4 panels) over kp k
// steps; m a multiple of 8, n of 4, kp of 4.  scratch holds 64*kp bytes
// (16-byte aligned) for the expanded B panel.  _0: C := C + AB;
// _0_b0: C := AB without reading C; _0_beta: C := beta*C + AB.
void orb_blas_def_sgemm_kernel_0(const int64_t *m, const int64_t *n, const int64_t *kp, const float *a_pack,
                                 const float *b_pack, const float *beta, float *c, const int64_t *ldc, float *scratch);
void orb_blas_def_sgemm_kernel_0_b0(const int64_t *m, const int64_t *n, const int64_t *kp, const float *a_pack,
                                    const float *b_pack, const float *beta, float *c, const int64_t *ldc,
                                    float *scratch);
void orb_blas_def_sgemm_kernel_0_beta(const int64_t *m, const int64_t *n, const int64_t *kp, const float *a_pack,
                                      const float *b_pack, const float *beta, float *c, const int64_t *ldc,
                                      float *scratch);

// --- Barcelona sub-model ----------------------------------------------------------
// The serial product on Barcelona-family processors (xsgemm arguments).
void orb_blas_def_xsgemm1_brc(const char *transa, const char *transb, const int64_t *m, const int64_t *n,
                              const int64_t *k, const float *alpha, const float *a, const int64_t *lda, const float *b,
                              const int64_t *ldb, const float *beta, float *c, const int64_t *ldc);
// Its buffer-free product and scaler (same contracts as sgemm_pst and sgemm_mscale).
void orb_blas_def_sgemm_pst_brc(const char *transa, const char *transb, const int64_t *m, const int64_t *n,
                                const int64_t *k, const float *alpha, const float *a, const int64_t *lda,
                                const float *b, const int64_t *ldb, const float *beta, float *c, const int64_t *ldc);
void orb_blas_def_sgemm_mscale_brc(const int64_t *m, const int64_t *n, const float *beta, float *c, const int64_t *ldc);
// Its B packers: cols (at most 4) columns of op(B) over the full k, each value
// repeated to a 4-float vector (64 bytes per k step), missing columns zero.
// copybn_brc takes 4 columns of an untransposed B, copybn_0_brc the last
// 1 to 3, copybt_brc 1 to 4 columns of a transposed B.
void orb_blas_def_sgemm_copybn_brc(const int64_t *k, const float *b, const int64_t *ldb, float *dst);
void orb_blas_def_sgemm_copybn_0_brc(const int64_t *k, const float *b, const int64_t *ldb, const int64_t *cols,
                                     float *dst);
void orb_blas_def_sgemm_copybt_brc(const int64_t *k, const float *b, const int64_t *ldb, const int64_t *cols,
                                   float *dst);
}

#endif
