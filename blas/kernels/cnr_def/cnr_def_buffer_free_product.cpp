// cnr_def_buffer_free_product.cpp - the cnr_def set's product without buffers (sgemm_pst).
//
// The loops are those of both baseline sets (baseline_buffer_free_product.h).
// Being the reproducible set, every vector loop starts at the first element
// (AddressRule::FromFirstElement): the grouping of each sum depends on k
// alone, never on the address of an operand.
#include "blas/kernels/baseline_buffer_free_product.h"
#include "blas/kernels/cnr_def/cnr_def_kernels.h"

extern "C" void orb_blas_cnr_def_sgemm_pst(const char *transa, const char *transb, const int64_t *m, const int64_t *n,
                                           const int64_t *k, const float *alpha, const float *a, const int64_t *lda,
                                           const float *b, const int64_t *ldb, const float *beta, float *c,
                                           const int64_t *ldc) {
    buffer_free_product<AddressRule::FromFirstElement>(
        gemm_operands(transa, transb, m, n, k, alpha, a, lda, b, ldb, beta, c, ldc));
}
