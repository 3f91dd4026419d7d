// mc3_xsgemm.cpp - the serial GEMM entry of the mc3 set,
// C := alpha*op(A)*op(B) + beta*C on one thread.
//
// Tiny products (m and n up to 10, k from 1 to 10) that only add to C go to
// the fixed-k kernels.  Everything else is set up through the set's kernel
// descriptor, exactly as the legacy driver sets up a thread's block: beta is
// applied to C first, so that the rest of the product only accumulates;
// products at least as large as the descriptor's minimum shape (4 x 8 x 4)
// run blocked, with the kernel version chosen from the size of the packed B
// block; smaller ones run without buffers.
#include "blas/kernels/mc3/mc3_kernels.h"

namespace {

constexpr int64_t kSmallMax = 10;  // largest m, n and k of the fixed-k kernels

}  // namespace

extern "C" void orb_blas_mc3_xsgemm(const char *transa, const char *transb, const int64_t *m, const int64_t *n,
                                    const int64_t *k, const float *alpha, const float *a, const int64_t *lda,
                                    const float *b, const int64_t *ldb, const float *beta, float *c,
                                    const int64_t *ldc) {
    if (*m <= 0 || *n <= 0) return;
    if (*m <= kSmallMax && *n <= kSmallMax && *k >= 1 && *k <= kSmallMax && *beta == 1.0f) {
        orb_blas_mc3_sgemm_sm_01_10(transa, transb, m, n, k, alpha, a, lda, b, ldb, beta, c, ldc);
        return;
    }
    SgemmLegacyDesc desc{};
    orb_blas_mc3_sgemm_zero_desc(&desc);
    orb_blas_mc3_sgemm_get_optimal_kernel(&desc);

    const float one = 1.0f;
    if (*beta != 1.0f) orb_blas_mc3_sgemm_mscale(m, n, beta, c, ldc);
    if (*alpha == 0.0f || *k < 1) return;

    if (*m >= desc.min_m && *n >= desc.min_n && *k >= desc.min_k) {
        orb_blas_mc3_sgemm_get_blks_size(m, n, k, &desc);
        int version = orb_blas_mc3_sgemm_get_kernel_version(n, k, &desc);
        orb_blas_mc3_xsgemm_par(transa, transb, m, n, k, alpha, a, lda, b, ldb, &one, c, ldc, &desc, version);
        return;
    }
    orb_blas_mc3_sgemm_pst(transa, transb, m, n, k, alpha, a, lda, b, ldb, &one, c, ldc);
}
