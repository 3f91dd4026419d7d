// dispatchers.h - the set-independent dispatchers, orb_blas_<op> for every
// operation of kernel_operations.def.  Drivers call these, never a set.
#ifndef ORB_BLAS_KERNELS_DISPATCHERS_H
#define ORB_BLAS_KERNELS_DISPATCHERS_H

#include "blas/kernels/kernel_interface.h"

extern "C" {
#define ORB_KERNEL_OP(op, result, params, args) result orb_blas_##op params;
#include "blas/kernels/kernel_operations.def"
#undef ORB_KERNEL_OP
}

#endif
