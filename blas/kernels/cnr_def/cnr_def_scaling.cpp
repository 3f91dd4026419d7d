// cnr_def_scaling.cpp - the cnr_def set's matrix scalers: sgemm_mscale, sgemm_scalm, sgemm_zerom.
//
// The reproducible set's simpler form: column by column from the first
// element, 4 floats a step (each element gets one product either way).
#include "blas/kernels/baseline_scaling.h"
#include "blas/kernels/cnr_def/cnr_def_kernels.h"

extern "C" void orb_blas_cnr_def_sgemm_mscale(const int64_t *m, const int64_t *n, const float *beta, float *c,
                                              const int64_t *ldc) {
    scale_matrix<AddressRule::FromFirstElement>(*m, *n, *beta, c, *ldc);
}

extern "C" void orb_blas_cnr_def_sgemm_scalm(const int64_t *m, const int64_t *n, const float *beta, float *c,
                                             const int64_t *ldc) {
    scale_columns<AddressRule::FromFirstElement, ScaleMode::Multiply>(*m, *n, *beta, c, *ldc);
}

extern "C" void orb_blas_cnr_def_sgemm_zerom(const int64_t *m, const int64_t *n, float *c, const int64_t *ldc) {
    scale_columns<AddressRule::FromFirstElement, ScaleMode::Clear>(*m, *n, 0.0f, c, *ldc);
}
