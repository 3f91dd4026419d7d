// cnr_def_set.cpp - the cnr_def set's table of shared operations.
#include "blas/kernels/cnr_def/cnr_def_kernels.h"
#include "blas/kernels/kernel_set.h"

const KernelSet orb_kernel_set_cnr_def = [] {
    KernelSet set{};
    set.name = "cnr_def";
    set.xsgemv = orb_blas_cnr_def_xsgemv;
    set.xsgemmger = orb_blas_cnr_def_xsgemmger;
    set.xscopy = orb_blas_cnr_def_xscopy;
    return set;
}();
