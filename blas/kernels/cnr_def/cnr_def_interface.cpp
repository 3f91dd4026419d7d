// cnr_def_interface.cpp - what the cnr_def set answers to the drivers' interface queries.
//
// The baseline sets speak only the first kernel interface: the legacy
// partitioned driver runs their serial xsgemm on each thread's block.  The
// members of the partitioned drivers' interface and the mc3 set's blocked
// legacy operations are therefore empty here, and the set reports no
// blocked legacy support (API support 0, no packing buffer).
#include "blas/kernels/cnr_def/cnr_def_kernels.h"

extern "C" {

int orb_blas_cnr_def_sgemm_api_support(void) { return 0; }
int orb_blas_cnr_def_get_kernel_api_version(void) { return 1; }
int orb_blas_cnr_def_get_ikernel_api_version(void) { return 1; }

SgemmKernelFn orb_blas_cnr_def_sgemm_initialize_kernel_info(const BlasOpParams *, const MatDesc *, const MatDesc *,
                                                            const MatDesc *, const SgemmStrategy *, SgemmKernelInfo *) {
    return nullptr;
}
int orb_blas_cnr_def_sgemm_map_thread_to_kernel(const ThreadOpts *, SgemmStrategy *) { return 0; }
void orb_blas_cnr_def_sgemm_initialize_buffers(const MatDesc *, const MatDesc *, const SgemmStrategy *,
                                               SgemmBuffers *) {}

void orb_blas_cnr_def_sgemm_zero_desc(SgemmLegacyDesc *) {}
void orb_blas_cnr_def_sgemm_get_optimal_kernel(SgemmLegacyDesc *) {}
void orb_blas_cnr_def_sgemm_set_blks_size(const int64_t *, const int64_t *, const int64_t *, SgemmLegacyDesc *) {}
void orb_blas_cnr_def_sgemm_get_blks_size(const int64_t *, const int64_t *, const int64_t *, SgemmLegacyDesc *) {}
int64_t orb_blas_cnr_def_sgemm_get_bufs_size(const int64_t *, const int64_t *, const int64_t *, SgemmLegacyDesc *) {
    return 0;
}
int orb_blas_cnr_def_xsgemm_par(const char *, const char *, const int64_t *, const int64_t *, const int64_t *,
                                const float *, const float *, const int64_t *, const float *, const int64_t *,
                                const float *, float *, const int64_t *, SgemmLegacyDesc *, int) {
    return 0;
}

}  // extern "C"
