// def_kernels.h - the members of the def kernel set (SSE2 baseline).
//
// The set's shared operations (kernel_operations.def) are declared first;
// below them its own members, the same in def and cnr_def
// (baseline_members.def), grouped by role:
//   buffer-free     sgemm_pst, the whole product straight from the caller's
//                   matrices (small shapes, edges, no buffer);
//   scaling         C := beta*C (sgemm_mscale is a shared operation) and
//                   C := 0;
//   packers         8-row A panels with alpha folded in, 4-column B panels,
//                   k padded with zeros to a multiple of 4;
//   block kernels   the 8 x 4 kernel in its three beta forms;
//   Barcelona       the sub-model of the AMD Barcelona family;
//   Bulldozer/Zen   the sub-model of the AMD Bulldozer and Zen families: its
//                   driver and blocking are shared operations.
// The set's table, def_set.cpp, lists the shared operations it carries.
// Every file of this directory is compiled for the x86-64 baseline (SSE2); nothing above it.
#ifndef ORB_BLAS_KERNELS_DEF_DEF_KERNELS_H
#define ORB_BLAS_KERNELS_DEF_DEF_KERNELS_H

#include "blas/kernels/kernel_interface.h"

extern "C" {
#define ORB_KERNEL_OP(op, result, params, args) result orb_blas_def_##op params;
#include "blas/kernels/kernel_operations.def"
#undef ORB_KERNEL_OP

#define ORB_BASELINE_MEMBER(name, result, params) result orb_blas_def_##name params;
#include "blas/kernels/baseline_members.def"
#undef ORB_BASELINE_MEMBER
}

#endif
