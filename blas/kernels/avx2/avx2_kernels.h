// avx2_kernels.h - the members of the AVX2 kernel set (256-bit FMA).
//
// Declared here, in this order:
//   shared operations   kernel_operations.def;
//   machinery members   packed_members.def: the serial entry, strategy,
//                       buffers and drivers, carried out by the code shared
//                       with the AVX-512 set (packed_set.h) from this set's
//                       table, avx2_packed_set.cpp;
//   kernels             packed_kernels.def: the packers (24-row A panels,
//                       4-column B panels), the 24 x 4 block kernels,
//                       ordinary and reproducible (_cnr), the buffer-free
//                       product and the twelve 16 x 6 no-copy kernels;
//   and below, this set's own: the packers' workers, the 6 x 6 kernels and
//   the two inner SGEMV kernels behind xsgemv.
// Every file of this directory is compiled with -mavx2 -mfma.
#ifndef ORB_BLAS_KERNELS_AVX2_AVX2_KERNELS_H
#define ORB_BLAS_KERNELS_AVX2_AVX2_KERNELS_H

#include "blas/kernels/kernel_interface.h"

extern "C" {
#define ORB_KERNEL_OP(op, result, params, args) result orb_blas_avx2_##op params;
#include "blas/kernels/kernel_operations.def"
#undef ORB_KERNEL_OP

#define ORB_PACKED_MEMBER(name, result, params, call) result orb_blas_avx2_##name params;
#include "blas/kernels/packed_members.def"
#undef ORB_PACKED_MEMBER

#define ORB_PACKED_KERNEL(name, result, params) result orb_blas_avx2_##name params;
#include "blas/kernels/packed_kernels.def"
#undef ORB_PACKED_KERNEL

// --- workers of the packers: (count along k, count along the panel, source,
// source ld, factor, destination) ---------------------------------------------
void orb_blas_avx2_sgemm_scopy_down24_ea(int64_t k, int64_t count, const float *src, int64_t ld, const float *factor,
                                         float *dst);
void orb_blas_avx2_sgemm_scopy_right24_ea(int64_t k, int64_t count, const float *src, int64_t ld, const float *factor,
                                          float *dst);
void orb_blas_avx2_sgemm_scopy_right4_ea(int64_t k, int64_t count, const float *src, int64_t ld, const float *factor,
                                         float *dst);
void orb_blas_avx2_sgemm_scopy_down4_ea(int64_t k, int64_t count, const float *src, int64_t ld, const float *factor,
                                        float *dst);

// --- the 6 x 6 kernels: m = 6, k = 6, neither operand transposed (xsgemm arguments)
void orb_blas_avx2_sgemm_nocopy_anbn_meq6_keq6(const char *transa, const char *transb, const int64_t *m,
                                               const int64_t *n, const int64_t *k, const float *alpha,
                                               const float *a, const int64_t *lda, const float *b,
                                               const int64_t *ldb, const float *beta, float *c, const int64_t *ldc);
void orb_blas_avx2_sgemm_nocopy_anbn_meq6_keq6_b0(const char *transa, const char *transb, const int64_t *m,
                                                  const int64_t *n, const int64_t *k, const float *alpha,
                                                  const float *a, const int64_t *lda, const float *b,
                                                  const int64_t *ldb, const float *beta, float *c,
                                                  const int64_t *ldc);

// --- matrix-vector -------------------------------------------------------------
// y := y + alpha*A*x for a contiguous y; x has stride incx (BLAS convention).
void orb_blas_avx2_xsgemv_n(const int64_t *m, const int64_t *n, const float *alpha, const float *a,
                            const int64_t *lda, const float *x, const int64_t *incx, float *y);
// y := y + alpha*A'*x for a contiguous x; y has stride incy (BLAS convention).
void orb_blas_avx2_xsgemv_t(const int64_t *m, const int64_t *n, const float *alpha, const float *a,
                            const int64_t *lda, const float *x, const int64_t *incy, float *y);
}

#endif
