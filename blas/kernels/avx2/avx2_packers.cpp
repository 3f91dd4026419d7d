// avx2_packers.cpp - the AVX2 set's packers and their workers
// (packed_packers.h): 24-row A panels, 4-column B panels.
#include "blas/kernels/avx2/avx2_kernels.h"
#include "blas/kernels/packed_packers.h"

extern "C" {

void orb_blas_avx2_sgemm_scopy_down24_ea(int64_t k, int64_t count, const float *src, int64_t ld,
                                         const float *factor, float *dst) {
    worker<Direction::Down, 24>(k, count, src, ld, factor, dst);
}

void orb_blas_avx2_sgemm_scopy_right24_ea(int64_t k, int64_t count, const float *src, int64_t ld,
                                          const float *factor, float *dst) {
    worker<Direction::Right, 24>(k, count, src, ld, factor, dst);
}

void orb_blas_avx2_sgemm_scopy_right4_ea(int64_t k, int64_t count, const float *src, int64_t ld,
                                         const float *factor, float *dst) {
    worker<Direction::Right, 4>(k, count, src, ld, factor, dst);
}

void orb_blas_avx2_sgemm_scopy_down4_ea(int64_t k, int64_t count, const float *src, int64_t ld,
                                        const float *factor, float *dst) {
    worker<Direction::Down, 4>(k, count, src, ld, factor, dst);
}

void orb_blas_avx2_sgemm_copyan(const MatDesc *src, MatDesc *dst, const float *factor, void *) {
    pack_a(src, dst, factor, orb_blas_avx2_sgemm_scopy_down24_ea);
}

void orb_blas_avx2_sgemm_copyat(const MatDesc *src, MatDesc *dst, const float *factor, void *) {
    pack_a(src, dst, factor, orb_blas_avx2_sgemm_scopy_right24_ea);
}

void orb_blas_avx2_sgemm_copybn(const MatDesc *src, MatDesc *dst, const float *factor, void *) {
    pack_b(src, dst, factor, orb_blas_avx2_sgemm_scopy_right4_ea);
}

void orb_blas_avx2_sgemm_copybt(const MatDesc *src, MatDesc *dst, const float *factor, void *) {
    pack_b(src, dst, factor, orb_blas_avx2_sgemm_scopy_down4_ea);
}

}  // extern "C"
