// avx2_copy.cpp - y := x for n elements, AVX2 set.
//
// Both vectors follow the BLAS increment convention: element i of a vector
// with a positive increment lies at i*inc, with a negative one at
// (i - (n-1))*inc, so the given pointer always addresses the lowest element;
// an increment of 0 names the same element n times (a zero incy leaves the
// last element of x there).  Unit increments copy 32 floats per pass, then
// 8, then one at a time; any other pair goes element by element, four per
// pass, in increasing element order.
#include <immintrin.h>

#include "blas/kernels/avx2/avx2_kernels.h"
#include "blas/kernels/vector_increments.h"

extern "C" void orb_blas_avx2_xscopy(const int64_t *n, const float *x, const int64_t *incx, float *y,
                                     const int64_t *incy) {
    const int64_t len = *n, ix = *incx, iy = *incy;
    if (len <= 0) return;
    if (ix == 1 && iy == 1) {
        int64_t i = 0;
        for (; len - i >= 32; i += 32) {
            __m256 v0 = _mm256_loadu_ps(x + i), v1 = _mm256_loadu_ps(x + i + 8);
            __m256 v2 = _mm256_loadu_ps(x + i + 16), v3 = _mm256_loadu_ps(x + i + 24);
            _mm256_storeu_ps(y + i, v0);
            _mm256_storeu_ps(y + i + 8, v1);
            _mm256_storeu_ps(y + i + 16, v2);
            _mm256_storeu_ps(y + i + 24, v3);
        }
        for (; len - i >= 8; i += 8) _mm256_storeu_ps(y + i, _mm256_loadu_ps(x + i));
        for (; i < len; ++i) y[i] = x[i];
        return;
    }
    strided_copy(len, x, ix, y, iy);
}
