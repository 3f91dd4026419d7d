// avx512_kernels.h - the members of the avx512 kernel set (AVX-512).
//
// The set's shared operations (kernel_operations.def) are declared first;
// the set's own members follow as they are added.  Its table,
// avx512_set.cpp, lists the operations the set carries.
// Every file of this directory is compiled with -mavx512f -mavx512dq -mavx512bw -mavx512vl -mfma.
#ifndef ORB_BLAS_KERNELS_AVX512_AVX512_KERNELS_H
#define ORB_BLAS_KERNELS_AVX512_AVX512_KERNELS_H

#include "blas/kernels/kernel_interface.h"

extern "C" {
#define ORB_KERNEL_OP(op, result, params, args) result orb_blas_avx512_##op params;
#include "blas/kernels/kernel_operations.def"
#undef ORB_KERNEL_OP
}

#endif
