// mc3_descriptor.cpp - how the mc3 set describes its blocked path to the
// legacy driver.
//
// The set keeps one read-only table, orb_mc3_s_all_gemm_ker: the smallest
// shape of the blocked path, a few fixed words, and the functions that block,
// allocate, pack and multiply.  sgemm_zero_desc clears a kernel descriptor
// (all but its first word) and sgemm_get_optimal_kernel copies the table into
// it; the block sizes stay 0 until sgemm_get_blks_size or sgemm_set_blks_size
// sets them.  There is only one kernel, so the word that would name the
// optimal one, orb_mc3_s_opt_gemm_ker, holds 0.
#include <cstring>

#include "blas/kernels/mc3/mc3_kernels.h"

extern "C" {

const Mc3GemmKernelTable orb_mc3_s_all_gemm_ker = {
    4, 8, 4, 2, {4, 4, 4}, 126,
    orb_blas_mc3_sgemm_get_blks_size,
    orb_blas_mc3_sgemm_get_bufs_size,
    orb_blas_mc3_sgemm_get_bufs,
    orb_blas_mc3_sgemm_copyan,
    orb_blas_mc3_sgemm_copyat,
    orb_blas_mc3_sgemm_copyat,
    orb_blas_mc3_sgemm_copybn,
    orb_blas_mc3_sgemm_copybt,
    orb_blas_mc3_sgemm_copybt,
    orb_blas_mc3_sgemm_ker0,
    orb_blas_mc3_sgemm_copya_ext,
    orb_blas_mc3_sgemm_copyb_ext,
};

const int64_t orb_mc3_s_opt_gemm_ker = 0;

void orb_blas_mc3_sgemm_zero_desc(SgemmLegacyDesc *desc) {
    uint32_t word0 = desc->word0;
    std::memset(static_cast<void *>(desc), 0, sizeof *desc);
    desc->word0 = word0;
}

void orb_blas_mc3_sgemm_get_optimal_kernel(SgemmLegacyDesc *desc) {
    const Mc3GemmKernelTable &t = orb_mc3_s_all_gemm_ker;
    desc->kernel_index = static_cast<uint32_t>(orb_mc3_s_opt_gemm_ker);
    desc->table_word = static_cast<uint32_t>(t.table_word);
    desc->min_m = t.min_m;
    desc->min_n = t.min_n;
    desc->min_k = t.min_k;
    for (int i = 0; i < 3; ++i) desc->table_words[i] = t.block_words[i];
    desc->get_blks_size = t.get_blks_size;
    desc->get_bufs_size = t.get_bufs_size;
    desc->get_bufs = t.get_bufs;
    desc->copyan = t.copyan;
    desc->copyat = t.copyat;
    desc->copyac = t.copyac;
    desc->copybn = t.copybn;
    desc->copybt = t.copybt;
    desc->copybc = t.copybc;
    desc->copya_ext = t.copya_ext;
    desc->copyb_ext = t.copyb_ext;
    desc->table_word2 = static_cast<uint32_t>(t.kernel_word);
    desc->kernel = t.kernel;
}

}  // extern "C"
