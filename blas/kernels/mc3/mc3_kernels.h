// mc3_kernels.h - the members of the mc3 kernel set (SSE4.2).
//
// The set's shared operations (kernel_operations.def) are declared first;
// the set's own members follow as they are added.  Its table,
// mc3_set.cpp, lists the operations the set carries.
// Every file of this directory is compiled with -msse4.2.
#ifndef ORB_BLAS_KERNELS_MC3_MC3_KERNELS_H
#define ORB_BLAS_KERNELS_MC3_MC3_KERNELS_H

#include "blas/kernels/kernel_interface.h"

extern "C" {
#define ORB_KERNEL_OP(op, result, params, args) result orb_blas_mc3_##op params;
#include "blas/kernels/kernel_operations.def"
#undef ORB_KERNEL_OP

// The reproducible SGEMV path: xsgemv's arguments, no address-dependent
// steps; xsgemv hands it every call made under a branch other than OFF.
void orb_blas_mc3_xsgemv_cnr(const char *trans, const int64_t *m, const int64_t *n, const float *alpha,
                             const float *a, const int64_t *lda, const float *x, const int64_t *incx,
                             const float *beta, float *y, const int64_t *incy, int flag);
}

#endif
