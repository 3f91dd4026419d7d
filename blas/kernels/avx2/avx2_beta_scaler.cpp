// avx2_beta_scaler.cpp - C := beta*C for the AVX2 set.
//
// The blocked drivers scale C once, before the first k pass, whenever beta
// is neither 0 nor 1, and clear C when alpha is 0 and beta is 0.  A beta of
// exactly 0 writes zeros without reading C, so NaN and infinity in C do not
// survive; any other beta (NaN included) multiplies.  Columns are taken four
// at a time and then one by one, rows in runs of 16 floats followed by a
// shorter tail, the last few floats through masked loads and stores so that
// nothing outside the matrix is touched.
#include <immintrin.h>

#include "blas/kernels/avx2/avx2_kernels.h"

namespace {

// The lanes below count set, the others clear.
__m256i lanes_below(int64_t count) {
    return _mm256_cmpgt_epi32(_mm256_set1_epi32(static_cast<int>(count)), _mm256_setr_epi32(0, 1, 2, 3, 4, 5, 6, 7));
}

// One run of up to 8 rows of a column.
template <bool Zero>
__attribute__((always_inline)) inline void scale_run(float *p, int64_t count, __m256 beta) {
    if (count == 8) {
        _mm256_storeu_ps(p, Zero ? _mm256_setzero_ps() : _mm256_mul_ps(_mm256_loadu_ps(p), beta));
        return;
    }
    __m256i mask = lanes_below(count);
    __m256 v = Zero ? _mm256_setzero_ps() : _mm256_mul_ps(_mm256_maskload_ps(p, mask), beta);
    _mm256_maskstore_ps(p, mask, v);
}

// Columns c[j*ldc], j < Cols, rows 0 .. m-1: runs of 16, then the tail.
template <int Cols, bool Zero>
void scale_columns(int64_t m, float *c, int64_t ldc, __m256 beta) {
    int64_t i = 0;
    for (; m - i >= 16; i += 16)
        for (int j = 0; j < Cols; ++j) {
            scale_run<Zero>(c + j * ldc + i, 8, beta);
            scale_run<Zero>(c + j * ldc + i + 8, 8, beta);
        }
    for (; i < m; i += 8)
        for (int j = 0; j < Cols; ++j) scale_run<Zero>(c + j * ldc + i, m - i < 8 ? m - i : 8, beta);
}

template <bool Zero>
void scale_matrix(int64_t m, int64_t n, float beta, float *c, int64_t ldc) {
    __m256 b = _mm256_set1_ps(beta);
    int64_t j = 0;
    for (; n - j >= 4; j += 4) scale_columns<4, Zero>(m, c + j * ldc, ldc, b);
    for (; j < n; ++j) scale_columns<1, Zero>(m, c + j * ldc, ldc, b);
}

}  // namespace

extern "C" {

void orb_blas_avx2_sgemm_mscale(const int64_t *m, const int64_t *n, const float *beta, float *c, const int64_t *ldc) {
    if (*m <= 0 || *n <= 0) return;
    if (*beta == 0.0f) scale_matrix<true>(*m, *n, 0.0f, c, *ldc);
    else scale_matrix<false>(*m, *n, *beta, c, *ldc);
}

}  // extern "C"
