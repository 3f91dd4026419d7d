// cnr_def_bdz_driver.cpp - the cnr_def set's Bulldozer/Zen sub-model GEMM.
//
// The shared driver (baseline_bdz_driver.h) on this set's members: its own
// scaler and buffer-free product, and the sub-model packers and kernels.
#include "blas/kernels/cnr_def/cnr_def_kernels.h"
#include "blas/kernels/baseline_bdz_driver.h"

namespace {

const BdzSetMembers kMembers = {
    orb_blas_cnr_def_sgemm_pst,  // buffer_free
    orb_blas_cnr_def_sgemm_mscale,  // scale
    orb_blas_cnr_def_sgemm_blk_info_bdz,  // block_info
    orb_blas_cnr_def_sgemm_getbufs_bdz,  // get_buffers
    orb_blas_cnr_def_sgemm_freebufs_bdz,  // free_buffers
    orb_blas_cnr_def_sgemm_copyan_bdz,  // pack_a_normal
    orb_blas_cnr_def_sgemm_copyat_bdz,  // pack_a_transposed
    orb_blas_cnr_def_sgemm_copybn_bdz,  // pack_b_normal
    orb_blas_cnr_def_sgemm_copybt_bdz,  // pack_b_transposed
    orb_blas_cnr_def_sgemm_kernel_0_zen,  // kernel_zen
    orb_blas_cnr_def_sgemm_kernel_0_bdz,  // kernel_bulldozer
};

}  // namespace

extern "C" void orb_blas_cnr_def_xsgemm_bdz(const char *transa, const char *transb, const int64_t *m, const int64_t *n,
                                          const int64_t *k, const float *alpha, const float *a, const int64_t *lda,
                                          const float *b, const int64_t *ldb, const float *beta, float *c,
                                          const int64_t *ldc) {
    bdz_xsgemm(kMembers, transa, transb, m, n, k, alpha, a, lda, b, ldb, beta, c, ldc);
}
