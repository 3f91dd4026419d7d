// avx512_edges.cpp - the AVX-512 set's beta scaler (sgemm_mscale) and
// buffer-free product (sgemm_pst): the routines of packed_beta_scaler.h and
// packed_buffer_free_product.h at 512-bit width.
#include "blas/kernels/avx512/avx512_kernels.h"
#include "blas/kernels/packed_beta_scaler.h"
#include "blas/kernels/packed_buffer_free_product.h"

extern "C" {

void orb_blas_avx512_sgemm_mscale(const int64_t *m, const int64_t *n, const float *beta, float *c,
                                  const int64_t *ldc) {
    scale_c<Vec512>(m, n, beta, c, ldc);
}

void orb_blas_avx512_sgemm_pst(const char *transa, const char *transb, const int64_t *m, const int64_t *n,
                               const int64_t *k, const float *alpha, const float *a, const int64_t *lda,
                               const float *b, const int64_t *ldb, const float *beta, float *c, const int64_t *ldc) {
    buffer_free_product<Vec512>(orb_blas_avx512_sgemm_mscale, transa, transb, m, n, k, alpha, a, lda, b, ldb, beta,
                                c, ldc);
}

}  // extern "C"
