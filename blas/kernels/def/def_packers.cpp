// def_packers.cpp - the def set's panel packers: 8-row A panels, 4-column B panels.
//
// The layouts are those of both baseline sets (baseline_packers.h); packing
// only moves and scales values, so the two sets share it unchanged.
#include "blas/kernels/baseline_packers.h"
#include "blas/kernels/def/def_kernels.h"

extern "C" void orb_blas_def_sgemm_copyan(const float *a, const int64_t *lda, const int64_t *rows, const int64_t *cols,
                                          const float *alpha, float *dst) {
    pack_a_notrans(a, *lda, *rows, *cols, *alpha, dst);
}

extern "C" void orb_blas_def_sgemm_copyat(const float *a, const int64_t *lda, const int64_t *rows, const int64_t *cols,
                                          const float *alpha, float *dst) {
    pack_a_trans(a, *lda, *rows, *cols, *alpha, dst);
}

extern "C" void orb_blas_def_sgemm_copybn(const float *b, const int64_t *ldb, const int64_t *rows, const int64_t *cols,
                                          const float *factor, float *dst) {
    pack_b_notrans(b, *ldb, *rows, *cols, *factor, dst);
}

extern "C" void orb_blas_def_sgemm_copybt(const float *b, const int64_t *ldb, const int64_t *rows, const int64_t *cols,
                                          const float *factor, float *dst) {
    pack_b_trans(b, *ldb, *rows, *cols, *factor, dst);
}
