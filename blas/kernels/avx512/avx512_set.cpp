// avx512_set.cpp - the avx512 set's table of shared operations.
#include "blas/kernels/avx512/avx512_kernels.h"
#include "blas/kernels/kernel_set.h"

const KernelSet orb_kernel_set_avx512 = [] {
    KernelSet set{};
    set.name = "avx512";
    set.xsgemv = orb_blas_avx512_xsgemv;
    set.xsgemmger = orb_blas_avx512_xsgemmger;
    set.xscopy = orb_blas_avx512_xscopy;
    return set;
}();
