// mc3_interface_queries.cpp - what the mc3 set says about its interfaces.
//
// The set speaks the first kernel interface to the SGEMM drivers (the legacy
// partitioned driver with its kernel descriptor, API support 1) and the
// second one for its inner kernels.  The members of the partitioned drivers'
// interface (kernel information, thread-to-kernel mapping, buffer records)
// belong to the AVX2 and AVX-512 sets; here they do nothing.
#include "blas/kernels/mc3/mc3_kernels.h"

extern "C" {

int orb_blas_mc3_sgemm_api_support(void) { return 1; }
int orb_blas_mc3_get_kernel_api_version(void) { return 1; }
int orb_blas_mc3_get_ikernel_api_version(void) { return 2; }

SgemmKernelFn orb_blas_mc3_sgemm_initialize_kernel_info(const BlasOpParams *, const MatDesc *, const MatDesc *,
                                                        const MatDesc *, const SgemmStrategy *, SgemmKernelInfo *) {
    return nullptr;
}
int orb_blas_mc3_sgemm_map_thread_to_kernel(const ThreadOpts *, SgemmStrategy *) { return 0; }
void orb_blas_mc3_sgemm_initialize_buffers(const MatDesc *, const MatDesc *, const SgemmStrategy *, SgemmBuffers *) {}

}  // extern "C"
