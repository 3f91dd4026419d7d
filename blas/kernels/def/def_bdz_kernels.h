// def_bdz_kernels.h - the def set's members of the Bulldozer/Zen sub-model.
//
// The sub-model (baseline_bdz_driver.h) packs A in 16-row and B in 4-column
// panels and multiplies them with 256-bit fused multiply-add kernels.  Its
// driver xsgemm_bdz and blocking sgemm_blk_info_bdz are shared operations
// (kernel_operations.def); the packers, the two block kernels and the
// buffer functions below belong to this set alone.  The kernels are
// compiled for AVX with FMA3 (Zen) and FMA4 (Bulldozer) and run only where
// the matching processor predicate holds; everything else is SSE2.
#ifndef ORB_BLAS_KERNELS_DEF_DEF_BDZ_KERNELS_H
#define ORB_BLAS_KERNELS_DEF_DEF_BDZ_KERNELS_H

#include <cstdint>

#include "blas/kernels/def/def_kernels.h"
#include "blas/kernels/kernel_interface.h"

extern "C" {

// Packers (LegacyPackerFn): the rows x cols block of op(X) at src, leading
// dimension *ld, into dst; A in 16/8/4/2/1-row panels times *factor, B in
// 4/2/1-column panels (factor not read).
void orb_blas_def_sgemm_copyan_bdz(const float *src, const int64_t *ld, const int64_t *rows, const int64_t *cols,
                                     const float *factor, float *dst);
void orb_blas_def_sgemm_copyat_bdz(const float *src, const int64_t *ld, const int64_t *rows, const int64_t *cols,
                                     const float *factor, float *dst);
void orb_blas_def_sgemm_copybn_bdz(const float *src, const int64_t *ld, const int64_t *rows, const int64_t *cols,
                                     const float *factor, float *dst);
void orb_blas_def_sgemm_copybt_bdz(const float *src, const int64_t *ld, const int64_t *rows, const int64_t *cols,
                                     const float *factor, float *dst);

// Block kernels: C(m x n, ldc) += packed A (m rows) x packed B (n columns)
// over k steps.  _zen needs FMA3, _bdz FMA4.
void orb_blas_def_sgemm_kernel_0_zen(int64_t m, int64_t n, int64_t k, const float *a, const float *b, float *c,
                                       int64_t ldc);
void orb_blas_def_sgemm_kernel_0_bdz(int64_t m, int64_t n, int64_t k, const float *a, const float *b, float *c,
                                       int64_t ldc);

// The packing block for a blocking: returns it (null when the pool has none)
// with the A and B areas placed in it; freebufs returns it to the pool.
void *orb_blas_def_sgemm_getbufs_bdz(const SgemmBlockInfo *info, float **a_pack, float **b_pack);
void orb_blas_def_sgemm_freebufs_bdz(void *block);

}  // extern "C"

#endif
