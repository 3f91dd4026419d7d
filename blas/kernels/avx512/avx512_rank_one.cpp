// avx512_rank_one.cpp - C := beta*C + alpha*x*y' for the avx512 set.
//
// The rank-1 product of an SGEMM with k = 1, column by column, with the
// same element formulas as the AVX2 set: t = alpha*y_j rounded once, then
//   beta 0:      c := t*x_i              (C is not read),
//   beta 1:      c := fma(x_i, t, c),
//   otherwise:   c := fma(beta, c, t*x_i) with t*x_i rounded first;
// alpha 0 clears C (beta 0), leaves it (beta 1) or scales it.  Rows go 16
// at a time with a masked tail; a strided x is gathered with 64-bit offsets.
// Every element is computed on its own, so no grouping changes a result.
#include <immintrin.h>

#include "blas/kernels/avx512/avx512_kernels.h"
#include "blas/kernels/edge_blocks.h"
#include "blas/kernels/vector_increments.h"

namespace {

// How one column treats the old contents of C.
enum class BetaCase { Zero, One, General };

inline __mmask16 lanes_below(int64_t k) { return static_cast<__mmask16>((1u << k) - 1u); }

template <BetaCase B>
__attribute__((always_inline)) inline __m512 update16(__m512 x, __m512 t, __m512 c, __m512 beta) {
    if (B == BetaCase::Zero) return _mm512_mul_ps(t, x);
    if (B == BetaCase::One) return _mm512_fmadd_ps(x, t, c);
    return _mm512_fmadd_ps(beta, c, _mm512_mul_ps(t, x));
}

// Sixteen elements of x (fewer under mask k) at stride inc.  A contiguous
// x reads its tail block, which every column repeats, from the staged copy
// (see edge_blocks.h).
struct XReader {
    const float *x;                        // element 0
    int64_t inc;                           // its stride
    EdgeBlocks<16, const float> *edges;    // x's staged tail block, when inc is 1
    __m512i low;                           // offsets of elements 0 .. 7 of a block
    __m512i high;                          // offsets of elements 8 .. 15 of a block

    XReader(const float *base, int64_t stride, EdgeBlocks<16, const float> *tail)
        : x(base), inc(stride), edges(tail) {
        low = _mm512_mullo_epi64(_mm512_setr_epi64(0, 1, 2, 3, 4, 5, 6, 7), _mm512_set1_epi64(stride));
        high = _mm512_add_epi64(low, _mm512_set1_epi64(8 * stride));
    }
    __m512 load(int64_t i, __mmask16 k) const {
        if (inc == 1) return _mm512_maskz_loadu_ps(k, edges->block(i));
        const float *p = x + i * inc;
        const __m256 z = _mm256_setzero_ps();
        __m256 lo = _mm512_mask_i64gather_ps(z, static_cast<__mmask8>(k), low, p, 4);
        __m256 hi = _mm512_mask_i64gather_ps(z, static_cast<__mmask8>(k >> 8), high, p, 4);
        return _mm512_insertf32x8(_mm512_castps256_ps512(lo), hi, 1);
    }
};

template <BetaCase B>
void rank_one(int64_t m, int64_t n, float alpha, const XReader &x, const float *y0, int64_t incy, float beta,
              float *c, int64_t ldc) {
    const __m512 b = _mm512_set1_ps(beta);
    for (int64_t j = 0; j < n; ++j) {
        const __m512 t = _mm512_set1_ps(alpha * y0[j * incy]);
        float *col = c + j * ldc;
        for (int64_t i = 0; i < m; i += 16) {
            const __mmask16 k = m - i >= 16 ? static_cast<__mmask16>(0xffff) : lanes_below(m - i);
            const __m512 old = B == BetaCase::Zero ? _mm512_setzero_ps() : _mm512_maskz_loadu_ps(k, col + i);
            _mm512_mask_storeu_ps(col + i, k, update16<B>(x.load(i, k), t, old, b));
        }
    }
}

// alpha 0: C := beta*C, with beta 0 writing zeros without reading C.
void scale_matrix(int64_t m, int64_t n, float beta, float *c, int64_t ldc) {
    const __m512 b = _mm512_set1_ps(beta);
    for (int64_t j = 0; j < n; ++j) {
        float *col = c + j * ldc;
        for (int64_t i = 0; i < m; i += 16) {
            const __mmask16 k = m - i >= 16 ? static_cast<__mmask16>(0xffff) : lanes_below(m - i);
            const __m512 v = beta == 0.0f ? _mm512_setzero_ps() : _mm512_mul_ps(_mm512_maskz_loadu_ps(k, col + i), b);
            _mm512_mask_storeu_ps(col + i, k, v);
        }
    }
}

}  // namespace

extern "C" void orb_blas_avx512_xsgemmger(const char * /*transa*/, const char * /*transb*/, const int64_t *m,
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
    const float *x0 = element_zero(x, rows, *incx);
    EdgeBlocks<16, const float> x_edges(x0, rows);
    if (*incx == 1) x_edges.use_grid(0);
    const XReader xr(x0, *incx, &x_edges);
    const float *y0 = element_zero(y, cols, *incy);
    if (be == 0.0f) rank_one<BetaCase::Zero>(rows, cols, al, xr, y0, *incy, be, c, *ldc);
    else if (be == 1.0f) rank_one<BetaCase::One>(rows, cols, al, xr, y0, *incy, be, c, *ldc);
    else rank_one<BetaCase::General>(rows, cols, al, xr, y0, *incy, be, c, *ldc);
}
