// cnr_def_xsgemm.cpp - the cnr_def set's serial GEMM (xsgemm).
//
// The driver of both baseline sets (baseline_gemm_driver.h) over this set's
// own members: its buffer-free product and its SGEMV for the edges, its
// scalers, packers and block kernel, and its AMD sub-models.
#include "blas/kernels/baseline_gemm_driver.h"
#include "blas/kernels/cnr_def/cnr_def_kernels.h"

namespace {

const BaselineGemmSet kCnrDefMembers = {
    orb_blas_cnr_def_sgemm_pst,
    orb_blas_cnr_def_xsgemm1_brc,
    orb_blas_cnr_def_xsgemm_bdz,
    orb_blas_cnr_def_xsgemv,
    orb_blas_cnr_def_sgemm_zerom,
    orb_blas_cnr_def_sgemm_scalm,
    {orb_blas_cnr_def_sgemm_copyan, orb_blas_cnr_def_sgemm_copyat},
    {orb_blas_cnr_def_sgemm_copybn, orb_blas_cnr_def_sgemm_copybt},
    orb_blas_cnr_def_sgemm_kernel_0,
    orb_blas_cnr_def_sgemm_kernel_0_b0,
    orb_blas_cnr_def_sgemm_kernel_0_beta,
};

}  // namespace

extern "C" void orb_blas_cnr_def_xsgemm(const char *transa, const char *transb, const int64_t *m, const int64_t *n,
                                        const int64_t *k, const float *alpha, const float *a, const int64_t *lda,
                                        const float *b, const int64_t *ldb, const float *beta, float *c,
                                        const int64_t *ldc) {
    baseline_xsgemm(kCnrDefMembers, transa, transb, m, n, k, alpha, a, lda, b, ldb, beta, c, ldc);
}
