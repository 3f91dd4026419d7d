// mc3_buffer_free_product.cpp - the mc3 set's product without buffers
// (sgemm_pst): shapes below the blocked minimum, and products whose packing
// buffers could not be allocated.
//
// The loops are those of every 128-bit set (baseline_buffer_free_product.h),
// compiled here for SSE4.2.  The dot products of a transposed A start their
// vector loop on a 16-byte address of the A row, like the set's other
// ordinary kernels.
#include "blas/kernels/baseline_buffer_free_product.h"
#include "blas/kernels/mc3/mc3_kernels.h"

extern "C" void orb_blas_mc3_sgemm_pst(const char *transa, const char *transb, const int64_t *m, const int64_t *n,
                                       const int64_t *k, const float *alpha, const float *a, const int64_t *lda,
                                       const float *b, const int64_t *ldb, const float *beta, float *c,
                                       const int64_t *ldc) {
    buffer_free_product<AddressRule::AlignToAddress>(
        gemm_operands(transa, transb, m, n, k, alpha, a, lda, b, ldb, beta, c, ldc));
}
