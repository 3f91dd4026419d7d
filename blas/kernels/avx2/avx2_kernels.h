// avx2_kernels.h - the members of the AVX2 kernel set (256-bit FMA).
//
// The set's shared operations (kernel_operations.def) are declared first;
// below them its own members, grouped by role:
//   entry and drivers   xsgemm, the full-copy and A-packed blocked drivers;
//   strategy            check_strategy and sgemm_initialize_strategy;
//   buffers             SgemmBuffers allocation, plain and caller-supplied;
//   packers             the four panel packers and their workers (24-row A
//                       panels, 4-column B panels);
//   block kernels       sgemm_ker0 with its 24 x 4 kernels, ordinary and
//                       reproducible (_cnr);
//   edges               the beta scaler and the buffer-free product;
//   no-copy             the no-copy driver, its twelve 16 x 6 kernels and the
//                       6 x 6 kernels;
//   matrix-vector       the two inner SGEMV kernels behind xsgemv.
// Every file of this directory is compiled with -mavx2 -mfma.
#ifndef ORB_BLAS_KERNELS_AVX2_AVX2_KERNELS_H
#define ORB_BLAS_KERNELS_AVX2_AVX2_KERNELS_H

#include "blas/kernels/kernel_interface.h"

extern "C" {
#define ORB_KERNEL_OP(op, result, params, args) result orb_blas_avx2_##op params;
#include "blas/kernels/kernel_operations.def"
#undef ORB_KERNEL_OP

// --- drivers -------------------------------------------------------------
int orb_blas_avx2_s_generic_fullacopybcopy(BlasOpParams *op, const MatDesc *a, const MatDesc *b, const MatDesc *c,
                                           SgemmBuffers *buffers, SgemmKernelInfo *info);
int orb_blas_avx2_xsgemm_acopiedbcopy(BlasOpParams *op, const MatDesc *a, const MatDesc *b, const MatDesc *c,
                                      SgemmBuffers *buffers, SgemmKernelInfo *info);

// --- strategy --------------------------------------------------------------
void orb_blas_avx2_sgemm_initialize_strategy(SgemmStrategy *strategy);
int orb_blas_avx2_check_strategy(SgemmStrategy *strategy);

// --- buffers ---------------------------------------------------------------
int orb_blas_avx2_sgemm_get_bufs(SgemmBuffers *buffers);
void orb_blas_avx2_sgemm_free_bufs(SgemmBuffers *buffers);
int64_t orb_blas_avx2_sgemm_get_size_bufs(SgemmBuffers *buffers);
int orb_blas_avx2_sgemm_get_bufs_pack(SgemmBuffers *buffers);
int orb_blas_avx2_sgemm_set_bufs_pack(void *memory, SgemmBuffers *buffers);

// --- packers (fields 5 and 6) and their workers ----------------------------
void orb_blas_avx2_sgemm_copyan(const MatDesc *src, MatDesc *dst, const float *factor, void *unused);
void orb_blas_avx2_sgemm_copyat(const MatDesc *src, MatDesc *dst, const float *factor, void *unused);
void orb_blas_avx2_sgemm_copybn(const MatDesc *src, MatDesc *dst, const float *factor, void *unused);
void orb_blas_avx2_sgemm_copybt(const MatDesc *src, MatDesc *dst, const float *factor, void *unused);
// Workers: (count along k, count along the panel, source, source ld, factor, destination).
void orb_blas_avx2_sgemm_scopy_down24_ea(int64_t k, int64_t count, const float *src, int64_t ld, const float *factor,
                                         float *dst);
void orb_blas_avx2_sgemm_scopy_right24_ea(int64_t k, int64_t count, const float *src, int64_t ld, const float *factor,
                                          float *dst);
void orb_blas_avx2_sgemm_scopy_right4_ea(int64_t k, int64_t count, const float *src, int64_t ld, const float *factor,
                                         float *dst);
void orb_blas_avx2_sgemm_scopy_down4_ea(int64_t k, int64_t count, const float *src, int64_t ld, const float *factor,
                                        float *dst);

// --- block kernels (field 8) ----------------------------------------------
void orb_blas_avx2_sgemm_ker0(const float *alpha, const MatDesc *a, const MatDesc *b, const float *beta,
                              const MatDesc *c, void *scratch);
void orb_blas_avx2_sgemm_ker0_cnr(const float *alpha, const MatDesc *a, const MatDesc *b, const float *beta,
                                  const MatDesc *c, void *scratch);
// C[0..m, 0..n] (+)= packed A (m x k panels) x packed B (k x n panels).
void orb_blas_avx2_sgemm_kernel_0(int64_t m, int64_t n, int64_t k, const float *alpha, const float *a,
                                  const float *b, float *c, int64_t ldc);
void orb_blas_avx2_sgemm_kernel_0_b0(int64_t m, int64_t n, int64_t k, const float *alpha, const float *a,
                                     const float *b, float *c, int64_t ldc);
void orb_blas_avx2_sgemm_kernel_0_cnr(int64_t m, int64_t n, int64_t k, const float *alpha, const float *a,
                                      const float *b, float *c, int64_t ldc);
void orb_blas_avx2_sgemm_kernel_0_b0_cnr(int64_t m, int64_t n, int64_t k, const float *alpha, const float *a,
                                         const float *b, float *c, int64_t ldc);

// --- edges: beta scaler (field 4) and buffer-free product (field 11) --------
void orb_blas_avx2_sgemm_mscale_wrapper(const MatDesc *c, const float *beta);
void orb_blas_avx2_sgemm_pst(const char *transa, const char *transb, const int64_t *m, const int64_t *n,
                             const int64_t *k, const float *alpha, const float *a, const int64_t *lda, const float *b,
                             const int64_t *ldb, const float *beta, float *c, const int64_t *ldc);
void orb_blas_avx2_s_pst_wrapper(const BlasOpParams *op, const MatDesc *a, const MatDesc *b, const MatDesc *c);

// --- no-copy path ------------------------------------------------------------
int orb_blas_avx2_xsgemm_nocopy_driver(BlasOpParams *op, const MatDesc *a, const MatDesc *b, const MatDesc *c,
                                       SgemmBuffers *buffers, SgemmKernelInfo *info);
// No-copy kernel: C[0..m, 0..n] := alpha*op(A)*op(B) + beta*C on the stored operands.
typedef void (*Avx2NocopyKernelFn)(int64_t m, int64_t n, int64_t k, const float *alpha, const float *a, int64_t lda,
                                   const float *b, int64_t ldb, const float *beta, float *c, int64_t ldc);
#define ORB_AVX2_NOCOPY_KERNEL(name)                                                                            \
    void orb_blas_avx2_sgemm_kernel_nocopy_##name(int64_t m, int64_t n, int64_t k, const float *alpha,          \
                                                  const float *a, int64_t lda, const float *b, int64_t ldb,     \
                                                  const float *beta, float *c, int64_t ldc);
ORB_AVX2_NOCOPY_KERNEL(NN_b0)
ORB_AVX2_NOCOPY_KERNEL(NN_b1)
ORB_AVX2_NOCOPY_KERNEL(NN_bn)
ORB_AVX2_NOCOPY_KERNEL(NT_b0)
ORB_AVX2_NOCOPY_KERNEL(NT_b1)
ORB_AVX2_NOCOPY_KERNEL(NT_bn)
ORB_AVX2_NOCOPY_KERNEL(TN_b0)
ORB_AVX2_NOCOPY_KERNEL(TN_b1)
ORB_AVX2_NOCOPY_KERNEL(TN_bn)
ORB_AVX2_NOCOPY_KERNEL(TT_b0)
ORB_AVX2_NOCOPY_KERNEL(TT_b1)
ORB_AVX2_NOCOPY_KERNEL(TT_bn)
#undef ORB_AVX2_NOCOPY_KERNEL
// The 6 x 6 kernels: m = 6, k = 6, neither operand transposed (xsgemm arguments).
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
