// def_buffer_free_product.cpp - the def set's product without buffers (sgemm_pst).
//
// The loops are those of both baseline sets (baseline_buffer_free_product.h).
// The dot products of a transposed A start their vector loop on a 16-byte
// address of the A row (AddressRule::AlignToAddress), so their last bits may
// follow where A lies.
#include "blas/kernels/baseline_buffer_free_product.h"
#include "blas/kernels/def/def_kernels.h"

extern "C" void orb_blas_def_sgemm_pst(const char *transa, const char *transb, const int64_t *m, const int64_t *n,
                                       const int64_t *k, const float *alpha, const float *a, const int64_t *lda,
                                       const float *b, const int64_t *ldb, const float *beta, float *c,
                                       const int64_t *ldc) {
    buffer_free_product<AddressRule::AlignToAddress>(
        gemm_operands(transa, transb, m, n, k, alpha, a, lda, b, ldb, beta, c, ldc));
}
