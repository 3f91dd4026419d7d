// cnr_def_barcelona.cpp - the cnr_def set's GEMM sub-model for the AMD Barcelona family.
//
// The drivers and kernel are those of both baseline sets
// (baseline_barcelona.h), over this set's own members.
// The reproducible forms: the buffer-free product splits its dot products by
// counts alone, the scaler walks each column from its first element and the
// B packer broadcasts value by value.
#include "blas/kernels/baseline_barcelona.h"
#include "blas/kernels/baseline_scaling.h"
#include "blas/kernels/cnr_def/cnr_def_kernels.h"

extern "C" void orb_blas_cnr_def_sgemm_pst_brc(const char *transa, const char *transb, const int64_t *m,
                                               const int64_t *n, const int64_t *k, const float *alpha, const float *a,
                                               const int64_t *lda, const float *b, const int64_t *ldb,
                                               const float *beta, float *c, const int64_t *ldc) {
    buffer_free_product<AddressRule::FromFirstElement>(
        gemm_operands(transa, transb, m, n, k, alpha, a, lda, b, ldb, beta, c, ldc));
}

extern "C" void orb_blas_cnr_def_sgemm_mscale_brc(const int64_t *m, const int64_t *n, const float *beta, float *c,
                                                  const int64_t *ldc) {
    scale_matrix<AddressRule::FromFirstElement>(*m, *n, *beta, c, *ldc);
}

extern "C" void orb_blas_cnr_def_sgemm_copybn_brc(const int64_t *k, const float *b, const int64_t *ldb, float *dst) {
    pack_barcelona_columns<AddressRule::FromFirstElement>(*k, b, *ldb, 4, dst);
}

extern "C" void orb_blas_cnr_def_sgemm_copybn_0_brc(const int64_t *k, const float *b, const int64_t *ldb,
                                                    const int64_t *cols, float *dst) {
    pack_barcelona_columns<AddressRule::FromFirstElement>(*k, b, *ldb, *cols, dst);
}

extern "C" void orb_blas_cnr_def_sgemm_copybt_brc(const int64_t *k, const float *b, const int64_t *ldb,
                                                  const int64_t *cols, float *dst) {
    pack_barcelona_rows(*k, b, *ldb, *cols, dst);
}

namespace {

const BarcelonaMembers kMembers = {
    orb_blas_cnr_def_sgemm_pst_brc,      orb_blas_cnr_def_sgemm_mscale_brc, orb_blas_cnr_def_sgemm_copybn_brc,
    orb_blas_cnr_def_sgemm_copybn_0_brc, orb_blas_cnr_def_sgemm_copybt_brc,
};

}  // namespace

extern "C" void orb_blas_cnr_def_xsgemm1_brc(const char *transa, const char *transb, const int64_t *m, const int64_t *n,
                                             const int64_t *k, const float *alpha, const float *a, const int64_t *lda,
                                             const float *b, const int64_t *ldb, const float *beta, float *c,
                                             const int64_t *ldc) {
    barcelona_xsgemm1(kMembers, transa, transb, m, n, k, alpha, a, lda, b, ldb, beta, c, ldc);
}

extern "C" void orb_blas_cnr_def_xsgemm0_brc(const char *transa, const char *transb, const int64_t *m, const int64_t *n,
                                             const int64_t *k, const float *alpha, const float *a, const int64_t *lda,
                                             const float *b, const int64_t *ldb, const float *beta, float *c,
                                             const int64_t *ldc) {
    barcelona_xsgemm0(kMembers, transa, transb, m, n, k, alpha, a, lda, b, ldb, beta, c, ldc);
}
