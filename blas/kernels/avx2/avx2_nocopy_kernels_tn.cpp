// avx2_nocopy_kernels_tn.cpp - the no-copy kernels with A stored transposed.
//
// Each 16-row strip of op(A) is first copied, transposed, into a stack
// buffer; each of the six columns of a group is a column of B read down k.
// The three members differ only in how the result meets C: _b0 stores it
// (C is never read), _b1 adds it to C, _bn adds it to beta*C.
#include "blas/kernels/avx2/avx2_kernels.h"
#include "blas/kernels/avx2/avx2_nocopy_kernel.h"

using orb_avx2_nocopy::BetaCase;
using orb_avx2_nocopy::nocopy_kernel;

extern "C" {

void orb_blas_avx2_sgemm_kernel_nocopy_TN_b0(int64_t m, int64_t n, int64_t k, const float *alpha, const float *a,
                                             int64_t lda, const float *b, int64_t ldb, const float *beta, float *c,
                                             int64_t ldc) {
    nocopy_kernel<true, false, BetaCase::kZero>(m, n, k, alpha, a, lda, b, ldb, beta, c, ldc);
}

void orb_blas_avx2_sgemm_kernel_nocopy_TN_b1(int64_t m, int64_t n, int64_t k, const float *alpha, const float *a,
                                             int64_t lda, const float *b, int64_t ldb, const float *beta, float *c,
                                             int64_t ldc) {
    nocopy_kernel<true, false, BetaCase::kOne>(m, n, k, alpha, a, lda, b, ldb, beta, c, ldc);
}

void orb_blas_avx2_sgemm_kernel_nocopy_TN_bn(int64_t m, int64_t n, int64_t k, const float *alpha, const float *a,
                                             int64_t lda, const float *b, int64_t ldb, const float *beta, float *c,
                                             int64_t ldc) {
    nocopy_kernel<true, false, BetaCase::kGeneral>(m, n, k, alpha, a, lda, b, ldb, beta, c, ldc);
}

}  // extern "C"
