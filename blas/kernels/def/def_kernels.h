// def_kernels.h - the members of the def kernel set (SSE2 baseline).
//
// The set's shared operations (kernel_operations.def) are declared first;
// the set's own members follow as they are added.  Its table,
// def_set.cpp, lists the operations the set carries.
// Every file of this directory is compiled for the x86-64 baseline (SSE2); nothing above it.
#ifndef ORB_BLAS_KERNELS_DEF_DEF_KERNELS_H
#define ORB_BLAS_KERNELS_DEF_DEF_KERNELS_H

#include "blas/kernels/kernel_interface.h"

extern "C" {
#define ORB_KERNEL_OP(op, result, params, args) result orb_blas_def_##op params;
#include "blas/kernels/kernel_operations.def"
#undef ORB_KERNEL_OP
}

#endif
