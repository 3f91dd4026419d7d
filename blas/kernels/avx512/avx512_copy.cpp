// avx512_copy.cpp - y := x for n elements, avx512 set.
//
// Both vectors follow the BLAS increment convention: element i of a vector
// with a positive increment lies at i*inc, with a negative one at
// (i - (n-1))*inc, so the given pointer always addresses the lowest element;
// an increment of 0 names the same element n times (a zero incy leaves the
// last element of x there).  Unit increments copy 64 floats per pass, then
// 16, then a masked tail; any other pair goes element by element, four per
// pass, in increasing element order.
#include <immintrin.h>

#include "blas/kernels/avx512/avx512_kernels.h"
#include "blas/kernels/vector_increments.h"

extern "C" void orb_blas_avx512_xscopy(const int64_t *n, const float *x, const int64_t *incx, float *y,
                                       const int64_t *incy) {
    const int64_t len = *n, ix = *incx, iy = *incy;
    if (len <= 0) return;
    if (ix == 1 && iy == 1) {
        int64_t i = 0;
        for (; len - i >= 64; i += 64) {
            __m512 v0 = _mm512_loadu_ps(x + i), v1 = _mm512_loadu_ps(x + i + 16);
            __m512 v2 = _mm512_loadu_ps(x + i + 32), v3 = _mm512_loadu_ps(x + i + 48);
            _mm512_storeu_ps(y + i, v0);
            _mm512_storeu_ps(y + i + 16, v1);
            _mm512_storeu_ps(y + i + 32, v2);
            _mm512_storeu_ps(y + i + 48, v3);
        }
        for (; len - i >= 16; i += 16) _mm512_storeu_ps(y + i, _mm512_loadu_ps(x + i));
        if (i < len) {
            const __mmask16 k = static_cast<__mmask16>((1u << (len - i)) - 1u);
            _mm512_mask_storeu_ps(y + i, k, _mm512_maskz_loadu_ps(k, x + i));
        }
        return;
    }
    strided_copy(len, x, ix, y, iy);
}
