// avx2_rank_one.cpp - C := beta*C + alpha*x*y' for the AVX2 set.
//
// The rank-1 product of an SGEMM with k = 1, column by column.  Column j
// uses t = alpha*y_j, rounded once, and every element of the column gets
//   beta 0:      c := t*x_i              (C is not read),
//   beta 1:      c := fma(x_i, t, c),
//   otherwise:   c := fma(beta, c, t*x_i) with t*x_i rounded first.
// With alpha 0 the product vanishes: beta 0 clears C, beta 1 leaves it
// alone and any other beta scales it.  Each element is computed on its own,
// so the grouping of rows (16, then 4, then 1 with a contiguous x; 16
// gathered, then 1 with a strided one) never changes a result.
#include <immintrin.h>

#include "blas/kernels/avx2/avx2_kernels.h"
#include "blas/kernels/vector_increments.h"

namespace {

// How one column treats the old contents of C.
enum class BetaCase { Zero, One, General };

// 256-bit, 128-bit and scalar forms of the element update.
template <BetaCase B>
__attribute__((always_inline)) inline __m256 update8(__m256 x, __m256 t, __m256 c, __m256 beta) {
    if (B == BetaCase::Zero) return _mm256_mul_ps(t, x);
    if (B == BetaCase::One) return _mm256_fmadd_ps(x, t, c);
    return _mm256_fmadd_ps(beta, c, _mm256_mul_ps(t, x));
}
template <BetaCase B>
__attribute__((always_inline)) inline __m128 update4(__m128 x, __m128 t, __m128 c, __m128 beta) {
    if (B == BetaCase::Zero) return _mm_mul_ps(t, x);
    if (B == BetaCase::One) return _mm_fmadd_ps(x, t, c);
    return _mm_fmadd_ps(beta, c, _mm_mul_ps(t, x));
}
template <BetaCase B>
__attribute__((always_inline)) inline float update1(float x, float t, float c, float beta) {
    return _mm_cvtss_f32(update4<B>(_mm_set_ss(x), _mm_set_ss(t), _mm_set_ss(c), _mm_set_ss(beta)));
}

// Sixteen elements of x at stride inc, gathered with 64-bit offsets.
inline void gather16(const float *x, int64_t inc, __m256 *lo, __m256 *hi) {
    const __m256i four = _mm256_set1_epi64x(4 * inc);
    __m256i idx = _mm256_setr_epi64x(0, inc, 2 * inc, 3 * inc);
    __m128 part[4];
    for (int k = 0; k < 4; ++k) {
        part[k] = _mm256_i64gather_ps(x, idx, 4);
        idx = _mm256_add_epi64(idx, four);
    }
    *lo = _mm256_set_m128(part[1], part[0]);
    *hi = _mm256_set_m128(part[3], part[2]);
}

// One column of C (m rows) from x and t.
template <BetaCase B>
void update_column(int64_t m, const float *x, int64_t incx, float t, float beta, float *c) {
    const __m256 t8 = _mm256_set1_ps(t), b8 = _mm256_set1_ps(beta);
    int64_t i = 0;
    if (incx == 1) {
        for (; m - i >= 16; i += 16) {
            __m256 c0 = B == BetaCase::Zero ? _mm256_setzero_ps() : _mm256_loadu_ps(c + i);
            __m256 c1 = B == BetaCase::Zero ? _mm256_setzero_ps() : _mm256_loadu_ps(c + i + 8);
            _mm256_storeu_ps(c + i, update8<B>(_mm256_loadu_ps(x + i), t8, c0, b8));
            _mm256_storeu_ps(c + i + 8, update8<B>(_mm256_loadu_ps(x + i + 8), t8, c1, b8));
        }
        const __m128 t4 = _mm_set1_ps(t), b4 = _mm_set1_ps(beta);
        for (; m - i >= 4; i += 4) {
            __m128 c0 = B == BetaCase::Zero ? _mm_setzero_ps() : _mm_loadu_ps(c + i);
            _mm_storeu_ps(c + i, update4<B>(_mm_loadu_ps(x + i), t4, c0, b4));
        }
        for (; i < m; ++i) c[i] = update1<B>(x[i], t, B == BetaCase::Zero ? 0.0f : c[i], beta);
        return;
    }
    for (; m - i >= 16; i += 16) {
        __m256 x0, x1;
        gather16(x + i * incx, incx, &x0, &x1);
        __m256 c0 = B == BetaCase::Zero ? _mm256_setzero_ps() : _mm256_loadu_ps(c + i);
        __m256 c1 = B == BetaCase::Zero ? _mm256_setzero_ps() : _mm256_loadu_ps(c + i + 8);
        _mm256_storeu_ps(c + i, update8<B>(x0, t8, c0, b8));
        _mm256_storeu_ps(c + i + 8, update8<B>(x1, t8, c1, b8));
    }
    for (; i < m; ++i) c[i] = update1<B>(x[i * incx], t, B == BetaCase::Zero ? 0.0f : c[i], beta);
}

template <BetaCase B>
void rank_one(int64_t m, int64_t n, float alpha, const float *x, int64_t incx, const float *y, int64_t incy,
              float beta, float *c, int64_t ldc) {
    for (int64_t j = 0; j < n; ++j) update_column<B>(m, x, incx, alpha * y[j * incy], beta, c + j * ldc);
}

// alpha 0: C := beta*C, with beta 0 writing zeros without reading C.
void scale_matrix(int64_t m, int64_t n, float beta, float *c, int64_t ldc) {
    const __m256 b8 = _mm256_set1_ps(beta);
    for (int64_t j = 0; j < n; ++j) {
        float *col = c + j * ldc;
        int64_t i = 0;
        for (; m - i >= 8; i += 8)
            _mm256_storeu_ps(col + i, beta == 0.0f ? _mm256_setzero_ps() : _mm256_mul_ps(_mm256_loadu_ps(col + i), b8));
        for (; i < m; ++i) col[i] = beta == 0.0f ? 0.0f : col[i] * beta;
    }
}

}  // namespace

extern "C" void orb_blas_avx2_xsgemmger(const char * /*transa*/, const char * /*transb*/, const int64_t *m,
                                        const int64_t *n, const float *alpha, const float *x, const int64_t *incx,
                                        const float *y, const int64_t *incy, const float *beta, float *c,
                                        const int64_t *ldc) {
    const int64_t rows = *m, cols = *n;
    if (rows <= 0 || cols <= 0) return;
    const float al = *alpha, be = *beta;
    if (al == 0.0f) {
        if (be != 1.0f) scale_matrix(rows, cols, be, c, *ldc);
        return;
    }
    const float *x0 = element_zero(x, rows, *incx), *y0 = element_zero(y, cols, *incy);
    if (be == 0.0f) rank_one<BetaCase::Zero>(rows, cols, al, x0, *incx, y0, *incy, be, c, *ldc);
    else if (be == 1.0f) rank_one<BetaCase::One>(rows, cols, al, x0, *incx, y0, *incy, be, c, *ldc);
    else rank_one<BetaCase::General>(rows, cols, al, x0, *incx, y0, *incy, be, c, *ldc);
}
