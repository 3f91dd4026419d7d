// cnr_def_bdz_blocking.cpp - blocking and packing buffer of the cnr_def set's
// Bulldozer/Zen sub-model (rules in baseline_bdz_blocking.h).
#include "blas/kernels/cnr_def/cnr_def_kernels.h"
#include "blas/kernels/baseline_bdz_blocking.h"

extern "C" {

void orb_blas_cnr_def_sgemm_blk_info_bdz(const int64_t *m, const int64_t *n, const int64_t *k, SgemmBlockInfo *info) {
    bdz_block_info(*m, *n, *k, info);
}

void *orb_blas_cnr_def_sgemm_getbufs_bdz(const SgemmBlockInfo *info, float **a_pack, float **b_pack) {
    return bdz_get_buffers(info, a_pack, b_pack);
}

void orb_blas_cnr_def_sgemm_freebufs_bdz(void *block) { orb_serv_deallocate(block); }

}  // extern "C"
