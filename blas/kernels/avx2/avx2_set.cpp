// avx2_set.cpp - the AVX2 set's table of shared operations.
#include "blas/kernels/avx2/avx2_kernels.h"
#include "blas/kernels/kernel_set.h"

const KernelSet orb_kernel_set_avx2 = {
    "avx2",
#define ORB_KERNEL_OP(op, result, params, args) orb_blas_avx2_##op,
#include "blas/kernels/kernel_operations.def"
#undef ORB_KERNEL_OP
};
