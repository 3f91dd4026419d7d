// def_scaling.cpp - the def set's matrix scalers: sgemm_mscale, sgemm_scalm, sgemm_zerom.
//
// The ordinary form: a contiguous C is one run, peeled to a 16-byte address
// and scaled 16 floats a step with aligned vectors.
#include "blas/kernels/baseline_scaling.h"
#include "blas/kernels/def/def_kernels.h"

extern "C" void orb_blas_def_sgemm_mscale(const int64_t *m, const int64_t *n, const float *beta, float *c,
                                          const int64_t *ldc) {
    scale_matrix<AddressRule::AlignToAddress>(*m, *n, *beta, c, *ldc);
}

extern "C" void orb_blas_def_sgemm_scalm(const int64_t *m, const int64_t *n, const float *beta, float *c,
                                         const int64_t *ldc) {
    scale_columns<AddressRule::AlignToAddress, ScaleMode::Multiply>(*m, *n, *beta, c, *ldc);
}

extern "C" void orb_blas_def_sgemm_zerom(const int64_t *m, const int64_t *n, float *c, const int64_t *ldc) {
    scale_columns<AddressRule::AlignToAddress, ScaleMode::Clear>(*m, *n, 0.0f, c, *ldc);
}
