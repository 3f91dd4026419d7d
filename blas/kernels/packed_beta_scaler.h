// packed_beta_scaler.h - C := beta*C for the avx2 and avx512 sets
// (sgemm_mscale, each set at its own vector width: packed_vector.h).
//
// The blocked drivers scale C once, before the first k pass, whenever beta
// is neither 0 nor 1, and clear C when alpha is 0 and beta is 0.  A beta of
// exactly 0 writes zeros without reading C, so NaN and infinity in C do not
// survive; any other beta (NaN included) multiplies.  Columns are taken four
// at a time and then one by one, rows in runs of two vectors followed by a
// shorter tail, the last few floats through masked loads and stores so that
// nothing outside the matrix is touched.
#ifndef ORB_BLAS_KERNELS_PACKED_BETA_SCALER_H
#define ORB_BLAS_KERNELS_PACKED_BETA_SCALER_H

#include "blas/kernels/packed_vector.h"

namespace {

// One run of up to a vector of rows of a column.
template <class Vec, bool Zero>
__attribute__((always_inline)) inline void scale_run(float *p, int64_t count, typename Vec::V beta) {
    Vec::store_part(p, count, Zero ? Vec::zero() : Vec::mul(Vec::load_part(p, count), beta));
}

// Columns c[j*ldc], j < Cols, rows 0 .. m-1: runs of two vectors, then the tail.
template <class Vec, int Cols, bool Zero>
void scale_columns(int64_t m, float *c, int64_t ldc, typename Vec::V beta) {
    constexpr int64_t kWidth = Vec::kWidth;
    int64_t i = 0;
    for (; m - i >= 2 * kWidth; i += 2 * kWidth)
        for (int j = 0; j < Cols; ++j) {
            scale_run<Vec, Zero>(c + j * ldc + i, kWidth, beta);
            scale_run<Vec, Zero>(c + j * ldc + i + kWidth, kWidth, beta);
        }
    for (; i < m; i += kWidth)
        for (int j = 0; j < Cols; ++j) scale_run<Vec, Zero>(c + j * ldc + i, m - i < kWidth ? m - i : kWidth, beta);
}

template <class Vec, bool Zero>
void scale_matrix(int64_t m, int64_t n, float beta, float *c, int64_t ldc) {
    typename Vec::V b = Vec::set1(beta);
    int64_t j = 0;
    for (; n - j >= 4; j += 4) scale_columns<Vec, 4, Zero>(m, c + j * ldc, ldc, b);
    for (; j < n; ++j) scale_columns<Vec, 1, Zero>(m, c + j * ldc, ldc, b);
}

template <class Vec>
void scale_c(const int64_t *m, const int64_t *n, const float *beta, float *c, const int64_t *ldc) {
    if (*m <= 0 || *n <= 0) return;
    if (*beta == 0.0f) scale_matrix<Vec, true>(*m, *n, 0.0f, c, *ldc);
    else scale_matrix<Vec, false>(*m, *n, *beta, c, *ldc);
}

}  // namespace

#endif
