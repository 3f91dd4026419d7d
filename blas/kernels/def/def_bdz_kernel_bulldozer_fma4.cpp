// def_bdz_kernel_bulldozer_fma4.cpp - the def set's Bulldozer/Zen block
// kernel in its Bulldozer form: the shared kernel
// (baseline_bdz_block_kernel.h) on the four-operand fused multiply-add.
// Compiled for AVX and FMA4; called only when the processor is a
// Bulldozer-family one (FMA4 present).
#include "blas/kernels/def/def_kernels.h"
#include "blas/kernels/baseline_bdz_block_kernel.h"

extern "C" void orb_blas_def_sgemm_kernel_0_bdz(int64_t m, int64_t n, int64_t k, const float *a, const float *b,
                                                  float *c, int64_t ldc) {
    bdz_block<BdzFma4>(m, n, k, a, b, c, ldc);
}
