// def_set.cpp - the def set's table of shared operations.
#include "blas/kernels/def/def_kernels.h"
#include "blas/kernels/kernel_set.h"

const KernelSet orb_kernel_set_def = [] {
    KernelSet set{};
    set.name = "def";
    set.xsgemv = orb_blas_def_xsgemv;
    set.xsgemmger = orb_blas_def_xsgemmger;
    set.xscopy = orb_blas_def_xscopy;
    return set;
}();
