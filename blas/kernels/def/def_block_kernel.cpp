// def_block_kernel.cpp - the def set's 8 x 4 block kernel in its three beta forms.
//
// The kernel is that of both baseline sets (baseline_block_kernel.h): every
// element is its k products summed in k order, so the sets share it unchanged.
#include "blas/kernels/baseline_block_kernel.h"
#include "blas/kernels/def/def_kernels.h"

extern "C" void orb_blas_def_sgemm_kernel_0(const int64_t *m, const int64_t *n, const int64_t *kp, const float *a_pack,
                                            const float *b_pack, const float *, float *c, const int64_t *ldc,
                                            float *scratch) {
    block_kernel<BetaForm::One>(*m, *n, *kp, a_pack, b_pack, 1.0f, c, *ldc, scratch);
}

extern "C" void orb_blas_def_sgemm_kernel_0_b0(const int64_t *m, const int64_t *n, const int64_t *kp,
                                               const float *a_pack, const float *b_pack, const float *, float *c,
                                               const int64_t *ldc, float *scratch) {
    block_kernel<BetaForm::Zero>(*m, *n, *kp, a_pack, b_pack, 0.0f, c, *ldc, scratch);
}

extern "C" void orb_blas_def_sgemm_kernel_0_beta(const int64_t *m, const int64_t *n, const int64_t *kp,
                                                 const float *a_pack, const float *b_pack, const float *beta, float *c,
                                                 const int64_t *ldc, float *scratch) {
    block_kernel<BetaForm::Other>(*m, *n, *kp, a_pack, b_pack, *beta, c, *ldc, scratch);
}
