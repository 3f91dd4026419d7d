// avx512_packers.cpp - the AVX-512 set's packers and their workers
// (packed_packers.h): 48-row A panels (then 32, 16, 8, 4, 2, 1), 8-column B
// panels (then 4, 2, 1).
#include "blas/kernels/avx512/avx512_kernels.h"
#include "blas/kernels/packed_packers.h"

extern "C" {

void orb_blas_avx512_sgemm_scopy_down48_ea(int64_t k, int64_t count, const float *src, int64_t ld,
                                           const float *factor, float *dst) {
    worker<Direction::Down, 48>(k, count, src, ld, factor, dst);
}

void orb_blas_avx512_sgemm_scopy_right48_ea(int64_t k, int64_t count, const float *src, int64_t ld,
                                            const float *factor, float *dst) {
    worker<Direction::Right, 48>(k, count, src, ld, factor, dst);
}

void orb_blas_avx512_sgemm_scopy_right8_ea(int64_t k, int64_t count, const float *src, int64_t ld,
                                           const float *factor, float *dst) {
    worker<Direction::Right, 8>(k, count, src, ld, factor, dst);
}

void orb_blas_avx512_sgemm_scopy_down8_ea(int64_t k, int64_t count, const float *src, int64_t ld,
                                          const float *factor, float *dst) {
    worker<Direction::Down, 8>(k, count, src, ld, factor, dst);
}

void orb_blas_avx512_sgemm_copyan(const MatDesc *src, MatDesc *dst, const float *factor, void *) {
    pack_a(src, dst, factor, orb_blas_avx512_sgemm_scopy_down48_ea);
}

void orb_blas_avx512_sgemm_copyat(const MatDesc *src, MatDesc *dst, const float *factor, void *) {
    pack_a(src, dst, factor, orb_blas_avx512_sgemm_scopy_right48_ea);
}

void orb_blas_avx512_sgemm_copybn(const MatDesc *src, MatDesc *dst, const float *factor, void *) {
    pack_b(src, dst, factor, orb_blas_avx512_sgemm_scopy_right8_ea);
}

void orb_blas_avx512_sgemm_copybt(const MatDesc *src, MatDesc *dst, const float *factor, void *) {
    pack_b(src, dst, factor, orb_blas_avx512_sgemm_scopy_down8_ea);
}

}  // extern "C"
