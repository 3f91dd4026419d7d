// avx2_edges.cpp - the AVX2 set's beta scaler (sgemm_mscale) and buffer-free
// product (sgemm_pst): the routines of packed_beta_scaler.h and
// packed_buffer_free_product.h at 256-bit width.
#include "blas/kernels/avx2/avx2_kernels.h"
#include "blas/kernels/packed_beta_scaler.h"
#include "blas/kernels/packed_buffer_free_product.h"

extern "C" {

void orb_blas_avx2_sgemm_mscale(const int64_t *m, const int64_t *n, const float *beta, float *c, const int64_t *ldc) {
    scale_c<Vec256>(m, n, beta, c, ldc);
}

void orb_blas_avx2_sgemm_pst(const char *transa, const char *transb, const int64_t *m, const int64_t *n,
                             const int64_t *k, const float *alpha, const float *a, const int64_t *lda, const float *b,
                             const int64_t *ldb, const float *beta, float *c, const int64_t *ldc) {
    buffer_free_product<Vec256>(orb_blas_avx2_sgemm_mscale, transa, transb, m, n, k, alpha, a, lda, b, ldb, beta, c,
                                ldc);
}

}  // extern "C"
