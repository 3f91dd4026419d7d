// cnr_def_bdz_packers.cpp - the panel packers of the cnr_def set's Bulldozer/Zen
// sub-model (layouts in baseline_bdz_packers.h).  A is packed with alpha
// folded in, B unscaled.
#include "blas/kernels/cnr_def/cnr_def_kernels.h"
#include "blas/kernels/baseline_bdz_packers.h"

extern "C" {

void orb_blas_cnr_def_sgemm_copyan_bdz(const float *src, const int64_t *ld, const int64_t *rows, const int64_t *cols,
                                     const float *factor, float *dst) {
    bdz_pack_a(src, *ld, *rows, *cols, *factor, true, dst);
}

void orb_blas_cnr_def_sgemm_copyat_bdz(const float *src, const int64_t *ld, const int64_t *rows, const int64_t *cols,
                                     const float *factor, float *dst) {
    bdz_pack_a(src, *ld, *rows, *cols, *factor, false, dst);
}

void orb_blas_cnr_def_sgemm_copybn_bdz(const float *src, const int64_t *ld, const int64_t *rows, const int64_t *cols,
                                     const float *, float *dst) {
    bdz_pack_b(src, *ld, *rows, *cols, false, dst);
}

void orb_blas_cnr_def_sgemm_copybt_bdz(const float *src, const int64_t *ld, const int64_t *rows, const int64_t *cols,
                                     const float *, float *dst) {
    bdz_pack_b(src, *ld, *rows, *cols, true, dst);
}

}  // extern "C"
