// kernel_set.h - a kernel set as a table of its operations.
//
// A KernelSet holds one function pointer per line of kernel_operations.def.
// Each set lists its members in its table, <set>/<set>_set.cpp; an
// operation the set does not carry yet stays null.  The dispatchers pick one
// table per process from the cpu type and the reproducibility branch.
#ifndef ORB_BLAS_KERNELS_KERNEL_SET_H
#define ORB_BLAS_KERNELS_KERNEL_SET_H

#include "blas/gemm/gemm_records.h"
#include "blas/kernels/kernel_interface.h"

struct KernelSet {
    const char *name;  // "def", "cnr_def", "mc3", "avx2" or "avx512"
#define ORB_KERNEL_OP(op, result, params, args) result(*op) params;
#include "blas/kernels/kernel_operations.def"
#undef ORB_KERNEL_OP
};

// The tables of the five sets.
extern const KernelSet orb_kernel_set_def;
extern const KernelSet orb_kernel_set_cnr_def;
extern const KernelSet orb_kernel_set_mc3;
extern const KernelSet orb_kernel_set_avx2;
extern const KernelSet orb_kernel_set_avx512;

// The set of this process's cpu type and reproducibility branch.
const KernelSet *orb_choose_kernel_set();

#endif
