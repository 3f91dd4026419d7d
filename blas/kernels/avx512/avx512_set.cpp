// avx512_set.cpp - the avx512 set's table of shared operations.
#include "blas/kernels/avx512/avx512_kernels.h"
#include "blas/kernels/kernel_set.h"

const KernelSet orb_kernel_set_avx512 = [] {
    KernelSet set{};
    set.name = "avx512";
    set.xsgemm = orb_blas_avx512_xsgemm;
    set.xsgemv = orb_blas_avx512_xsgemv;
    set.xsgemmger = orb_blas_avx512_xsgemmger;
    set.xscopy = orb_blas_avx512_xscopy;
    set.sgemm_mscale = orb_blas_avx512_sgemm_mscale;
    set.sgemm_initialize_kernel_info = orb_blas_avx512_sgemm_initialize_kernel_info;
    set.sgemm_map_thread_to_kernel = orb_blas_avx512_sgemm_map_thread_to_kernel;
    set.sgemm_initialize_buffers = orb_blas_avx512_sgemm_initialize_buffers;
    set.sgemm_zero_desc = orb_blas_avx512_sgemm_zero_desc;
    set.sgemm_get_optimal_kernel = orb_blas_avx512_sgemm_get_optimal_kernel;
    set.sgemm_set_blks_size = orb_blas_avx512_sgemm_set_blks_size;
    set.sgemm_get_blks_size = orb_blas_avx512_sgemm_get_blks_size;
    set.sgemm_get_bufs_size = orb_blas_avx512_sgemm_get_bufs_size;
    set.xsgemm_par = orb_blas_avx512_xsgemm_par;
    set.sgemm_api_support = orb_blas_avx512_sgemm_api_support;
    set.get_kernel_api_version = orb_blas_avx512_get_kernel_api_version;
    set.get_ikernel_api_version = orb_blas_avx512_get_ikernel_api_version;
    return set;
}();
