// mc3_beta_scaler.cpp - C := beta*C for the mc3 set.
//
// Each column is one run of the 128-bit scaling loop shared by the 128-bit
// sets (sse_scaling.h): a beta of exactly 0 writes zeros without reading C,
// so NaN and infinity in C are cleared; any other beta multiplies.
#include "blas/kernels/mc3/mc3_kernels.h"
#include "blas/kernels/sse_scaling.h"

extern "C" void orb_blas_mc3_sgemm_mscale(const int64_t *m, const int64_t *n, const float *beta, float *c,
                                          const int64_t *ldc) {
    for (int64_t j = 0; j < *n; ++j)
        scale_elements<AddressRule::AlignToAddress>(StridedVector{c + j * *ldc, 1}, *m, *beta);
}
