// def_set.cpp - the def set's table of shared operations.
#include "blas/kernels/def/def_kernels.h"
#include "blas/kernels/kernel_set.h"

const KernelSet orb_kernel_set_def = [] {
    KernelSet set{};
    set.name = "def";
    set.xsgemv = orb_blas_def_xsgemv;
    set.xsgemmger = orb_blas_def_xsgemmger;
    set.xscopy = orb_blas_def_xscopy;
    set.xsgemm = orb_blas_def_xsgemm;
    set.sgemm_mscale = orb_blas_def_sgemm_mscale;
    set.xsgemm0_brc = orb_blas_def_xsgemm0_brc;
    set.xsgemm_bdz = orb_blas_def_xsgemm_bdz;
    set.sgemm_blk_info_bdz = orb_blas_def_sgemm_blk_info_bdz;
    set.sgemm_initialize_kernel_info = orb_blas_def_sgemm_initialize_kernel_info;
    set.sgemm_map_thread_to_kernel = orb_blas_def_sgemm_map_thread_to_kernel;
    set.sgemm_initialize_buffers = orb_blas_def_sgemm_initialize_buffers;
    set.sgemm_zero_desc = orb_blas_def_sgemm_zero_desc;
    set.sgemm_get_optimal_kernel = orb_blas_def_sgemm_get_optimal_kernel;
    set.sgemm_set_blks_size = orb_blas_def_sgemm_set_blks_size;
    set.sgemm_get_blks_size = orb_blas_def_sgemm_get_blks_size;
    set.sgemm_get_bufs_size = orb_blas_def_sgemm_get_bufs_size;
    set.xsgemm_par = orb_blas_def_xsgemm_par;
    set.sgemm_api_support = orb_blas_def_sgemm_api_support;
    set.get_kernel_api_version = orb_blas_def_get_kernel_api_version;
    set.get_ikernel_api_version = orb_blas_def_get_ikernel_api_version;
    return set;
}();
