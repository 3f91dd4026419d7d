// cnr_def_kernels.h - the members of the cnr_def kernel set (reproducible SSE2 baseline).
//
// The set's shared operations (kernel_operations.def) are declared first;
// the set's own members follow as they are added.  Its table,
// cnr_def_set.cpp, lists the operations the set carries.
// Every file of this directory is compiled for the x86-64 baseline (SSE2): the baseline set in its reproducible form, whose results never depend on the alignment of the arrays.
#ifndef ORB_BLAS_KERNELS_CNR_DEF_CNR_DEF_KERNELS_H
#define ORB_BLAS_KERNELS_CNR_DEF_CNR_DEF_KERNELS_H

#include "blas/kernels/kernel_interface.h"

extern "C" {
#define ORB_KERNEL_OP(op, result, params, args) result orb_blas_cnr_def_##op params;
#include "blas/kernels/kernel_operations.def"
#undef ORB_KERNEL_OP
}

#endif
