// mc3_set.cpp - the mc3 set's table of shared operations.
#include "blas/kernels/mc3/mc3_kernels.h"
#include "blas/kernels/kernel_set.h"

const KernelSet orb_kernel_set_mc3 = [] {
    KernelSet set{};
    set.name = "mc3";
    set.xsgemv = orb_blas_mc3_xsgemv;
    set.xsgemmger = orb_blas_mc3_xsgemmger;
    set.xscopy = orb_blas_mc3_xscopy;
    return set;
}();
