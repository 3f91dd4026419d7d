// avx512_kernels.h - the members of the avx512 kernel set (AVX-512).
//
// Declared here, in this order:
//   shared operations   kernel_operations.def;
//   machinery members   packed_members.def: the serial entry, strategy,
//                       buffers and drivers, carried out by the code shared
//                       with the AVX2 set (packed_set.h) from this set's
//                       table, avx512_packed_set.cpp;
//   kernels             packed_kernels.def: the packers (48-row A panels,
//                       8-column B panels), the 48 x 8 block kernels (the
//                       reproducible _cnr ones perform the same operations),
//                       the buffer-free product and the twelve no-copy
//                       kernels;
//   and below, this set's own: the packers' workers, the narrow-B routine
//   with its group kernels, and the SGEMV inner kernels behind xsgemv.
// The set's table, avx512_set.cpp, lists the shared operations it carries.
// Every file of this directory is compiled with -mavx512f -mavx512dq -mavx512bw -mavx512vl -mfma.
#ifndef ORB_BLAS_KERNELS_AVX512_AVX512_KERNELS_H
#define ORB_BLAS_KERNELS_AVX512_AVX512_KERNELS_H

#include "blas/kernels/kernel_interface.h"

extern "C" {
#define ORB_KERNEL_OP(op, result, params, args) result orb_blas_avx512_##op params;
#include "blas/kernels/kernel_operations.def"
#undef ORB_KERNEL_OP

#define ORB_PACKED_MEMBER(name, result, params, call) result orb_blas_avx512_##name params;
#include "blas/kernels/packed_members.def"
#undef ORB_PACKED_MEMBER

#define ORB_PACKED_KERNEL(name, result, params) result orb_blas_avx512_##name params;
#include "blas/kernels/packed_kernels.def"
#undef ORB_PACKED_KERNEL

// --- workers of the packers: (count along k, count along the panel, source,
// source ld, factor, destination) ---------------------------------------------
void orb_blas_avx512_sgemm_scopy_down48_ea(int64_t k, int64_t count, const float *src, int64_t ld,
                                           const float *factor, float *dst);
void orb_blas_avx512_sgemm_scopy_right48_ea(int64_t k, int64_t count, const float *src, int64_t ld,
                                            const float *factor, float *dst);
void orb_blas_avx512_sgemm_scopy_right8_ea(int64_t k, int64_t count, const float *src, int64_t ld,
                                           const float *factor, float *dst);
void orb_blas_avx512_sgemm_scopy_down8_ea(int64_t k, int64_t count, const float *src, int64_t ld,
                                          const float *factor, float *dst);

// --- the narrow-B routine: A transposed, B not, 2 <= n <= 15 (xsgemm arguments)
void orb_blas_avx512_sgemm_t_smalln(const char *transa, const char *transb, const int64_t *m, const int64_t *n,
                                    const int64_t *k, const float *alpha, const float *a, const int64_t *lda,
                                    const float *b, const int64_t *ldb, const float *beta, float *c,
                                    const int64_t *ldc);
// One group of *width (2 or 3) columns of C := alpha*A'*B + beta*C; the _b0
// member stores without reading C.
void orb_blas_avx512_sgemm_t_n23(const int64_t *m, const int64_t *width, const int64_t *k, const float *alpha,
                                 const float *a, const int64_t *lda, const float *b, const int64_t *ldb,
                                 const float *beta, float *c, const int64_t *ldc);
void orb_blas_avx512_sgemm_t_n23_b0(const int64_t *m, const int64_t *width, const int64_t *k, const float *alpha,
                                    const float *a, const int64_t *lda, const float *b, const int64_t *ldb,
                                    const float *beta, float *c, const int64_t *ldc);
}

#endif
