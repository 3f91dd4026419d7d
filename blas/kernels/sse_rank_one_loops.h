// sse_rank_one_loops.h - C := beta*C + alpha*x*y' for the 128-bit sets.
//
// The rank-1 product of an SGEMM with k = 1, column by column: t = alpha*y_j
// (one rounded product per column), then for every row
//   beta 0:      c_ij := t*x_i
//   beta 1:      c_ij := c_ij + t*x_i
//   otherwise:   c_ij := beta*c_ij + t*x_i,
// each product and the sum rounded separately (these sets have no fused
// multiply-add).  With alpha 0 the product is skipped: beta 0 clears C
// without reading it, beta 1 leaves it alone, any other beta scales it.
// Every element is computed by the same formula in the scalar and the vector
// loops, so the split of a column never changes the result; the ordinary
// sets still align the vector loop to the column's address.
#ifndef ORB_BLAS_KERNELS_SSE_RANK_ONE_LOOPS_H
#define ORB_BLAS_KERNELS_SSE_RANK_ONE_LOOPS_H

#include "blas/kernels/sse_scaling.h"
#include "blas/kernels/sse_vector_access.h"

namespace {

// Which of the three update formulas a call uses.
enum class BetaCase { Zero, One, General };

// One column: c_i := update(c_i, t*x_i) over m rows.
template <AddressRule Rule, BetaCase Case, bool UnitX>
void update_column(float *column, int64_t m, float t, const StridedVector &x, float beta) {
    auto one = [&](int64_t i) {
        float product = t * element(x, i);
        if (Case == BetaCase::Zero) column[i] = product;
        else if (Case == BetaCase::One) column[i] = column[i] + product;
        else {
            float scaled = beta * column[i];
            column[i] = scaled + product;
        }
    };
    RowSplit split = split_run<Rule>(column, m);
    __m128 tv = _mm_set1_ps(t), bv = _mm_set1_ps(beta);
    int64_t i = 0;
    for (; i < split.lead; ++i) one(i);
    for (int64_t end = split.lead + split.body; i < end; i += 4) {
        __m128 product = _mm_mul_ps(tv, load4<UnitX>(x, i));
        if (Case == BetaCase::One) product = _mm_add_ps(_mm_loadu_ps(column + i), product);
        if (Case == BetaCase::General) product = _mm_add_ps(_mm_mul_ps(bv, _mm_loadu_ps(column + i)), product);
        _mm_storeu_ps(column + i, product);
    }
    for (; i < m; ++i) one(i);
}

template <AddressRule Rule, BetaCase Case, bool UnitX>
void update_columns(int64_t m, int64_t n, float alpha, const StridedVector &x, const StridedVector &y, float beta,
                    float *c, int64_t ldc) {
    for (int64_t j = 0; j < n; ++j) update_column<Rule, Case, UnitX>(c + j * ldc, m, alpha * element(y, j), x, beta);
}

template <AddressRule Rule, BetaCase Case>
void update_all(int64_t m, int64_t n, float alpha, const StridedVector &x, const StridedVector &y, float beta,
                float *c, int64_t ldc) {
    if (x.inc == 1) update_columns<Rule, Case, true>(m, n, alpha, x, y, beta, c, ldc);
    else update_columns<Rule, Case, false>(m, n, alpha, x, y, beta, c, ldc);
}

// The whole kernel; the transposition codes of the kernel interface are not read.
template <AddressRule Rule>
void sse_rank_one(const int64_t *m, const int64_t *n, const float *alpha, const float *x, const int64_t *incx,
                  const float *y, const int64_t *incy, const float *beta, float *c, const int64_t *ldc) {
    int64_t rows = *m, cols = *n, ld = *ldc;
    if (rows <= 0 || cols <= 0) return;
    float a = *alpha, b = *beta;
    if (a == 0.0f) {
        if (b == 1.0f) return;
        for (int64_t j = 0; j < cols; ++j) scale_elements<Rule>(StridedVector{c + j * ld, 1}, rows, b);
        return;
    }
    StridedVector xv = strided_vector(x, rows, *incx), yv = strided_vector(y, cols, *incy);
    if (b == 0.0f) update_all<Rule, BetaCase::Zero>(rows, cols, a, xv, yv, b, c, ld);
    else if (b == 1.0f) update_all<Rule, BetaCase::One>(rows, cols, a, xv, yv, b, c, ld);
    else update_all<Rule, BetaCase::General>(rows, cols, a, xv, yv, b, c, ld);
}

}  // namespace

#endif
