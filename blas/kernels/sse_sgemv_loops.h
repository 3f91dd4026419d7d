// sse_sgemv_loops.h - the SGEMV kernel of the 128-bit sets.
//
// y := alpha*op(A)*x + beta*y on one thread, four floats per vector, products
// and sums rounded separately (no fused multiply-add at these levels).  The
// quick returns and the beta rule are those of every set: nothing to do for
// m = 0 or n = 0, or for alpha = 0 with beta = 1; then y := beta*y unless
// beta is 1 (beta 0 clears y without reading it); then nothing more for
// alpha = 0.  Vectors with any increment are used in place.
//
// Without transposition each y element receives, column by column in
// increasing order, y_i := y_i + t_j*a_ij with t_j = alpha*x_j rounded; the
// scalar and the vector loops perform that same sequence, so how the rows are
// split never shows in the result.  Columns go four at a time (one load and
// store of y per four columns), then one at a time.
//
// With transposition each y_j receives alpha*d_j, d_j the dot product of
// column j with x.  Its terms are summed as: the split's leading rows one at
// a time from 0, then the four lane sums of the vector loop (lane k taking
// the body rows congruent to k mod 4) combined as (l0 + l1) + (l2 + l3), then
// the trailing rows one at a time; finally y_j := y_j + alpha*d_j.  Here the
// split matters: under AddressRule::AlignToAddress the lanes shift with the
// address of x (or of A when x is strided), so the last bits of d_j depend on
// it; under AddressRule::FromFirstElement they depend on m alone.
#ifndef ORB_BLAS_KERNELS_SSE_SGEMV_LOOPS_H
#define ORB_BLAS_KERNELS_SSE_SGEMV_LOOPS_H

#include "blas/kernels/sse_scaling.h"
#include "blas/kernels/sse_vector_access.h"

namespace {

// One SGEMV call with its vectors resolved to element 0.
struct SgemvProblem {
    int64_t rows;     // m, rows of the stored A
    int64_t cols;     // n, columns of the stored A
    float alpha;      // factor of the product
    const float *a;   // A, column-major
    int64_t lda;      // leading dimension of A
    StridedVector x;  // the vector multiplied by op(A)
    StridedVector y;  // the vector updated
};

// No transposition, columns first .. first+Cols-1: y_i += t_c*a_ic in column order.
template <int Cols, bool UnitY>
void update_rows(const SgemvProblem &p, const RowSplit &split, int64_t first) {
    const float *column[Cols];
    float t[Cols];
    __m128 tv[Cols];
    for (int c = 0; c < Cols; ++c) {
        column[c] = p.a + (first + c) * p.lda;
        t[c] = p.alpha * element(p.x, first + c);
        tv[c] = _mm_set1_ps(t[c]);
    }
    auto one_row = [&](int64_t i) {
        float yi = element(p.y, i);
        for (int c = 0; c < Cols; ++c) {
            float term = t[c] * column[c][i];
            yi = yi + term;
        }
        element(p.y, i) = yi;
    };
    int64_t i = 0;
    for (; i < split.lead; ++i) one_row(i);
    for (int64_t end = split.lead + split.body; i < end; i += 4) {
        __m128 yv = load4<UnitY>(p.y, i);
        for (int c = 0; c < Cols; ++c) yv = _mm_add_ps(yv, _mm_mul_ps(tv[c], _mm_loadu_ps(column[c] + i)));
        store4<UnitY>(p.y, i, yv);
    }
    for (; i < p.rows; ++i) one_row(i);
}

template <bool UnitY>
void product_no_trans(const SgemvProblem &p, const RowSplit &split) {
    int64_t j = 0;
    for (; p.cols - j >= 4; j += 4) update_rows<4, UnitY>(p, split, j);
    for (; j < p.cols; ++j) update_rows<1, UnitY>(p, split, j);
}

// Transposition, columns first .. first+Cols-1: y_c += alpha*(column c . x).
template <int Cols, bool UnitX>
void dot_columns(const SgemvProblem &p, const RowSplit &split, int64_t first) {
    const float *column[Cols];
    float sum[Cols];
    __m128 lanes[Cols];
    for (int c = 0; c < Cols; ++c) {
        column[c] = p.a + (first + c) * p.lda;
        sum[c] = 0.0f;
        lanes[c] = _mm_setzero_ps();
    }
    auto one_row = [&](int64_t i) {
        float xi = element(p.x, i);
        for (int c = 0; c < Cols; ++c) {
            float term = column[c][i] * xi;
            sum[c] = sum[c] + term;
        }
    };
    int64_t i = 0;
    for (; i < split.lead; ++i) one_row(i);
    for (int64_t end = split.lead + split.body; i < end; i += 4) {
        __m128 xv = load4<UnitX>(p.x, i);
        for (int c = 0; c < Cols; ++c) lanes[c] = _mm_add_ps(lanes[c], _mm_mul_ps(_mm_loadu_ps(column[c] + i), xv));
    }
    if (split.body > 0)
        for (int c = 0; c < Cols; ++c) sum[c] = sum[c] + sum_lanes(lanes[c]);
    for (; i < p.rows; ++i) one_row(i);
    for (int c = 0; c < Cols; ++c) {
        float scaled = p.alpha * sum[c];
        element(p.y, first + c) = element(p.y, first + c) + scaled;
    }
}

template <bool UnitX>
void product_trans(const SgemvProblem &p, const RowSplit &split) {
    int64_t j = 0;
    for (; p.cols - j >= 4; j += 4) dot_columns<4, UnitX>(p, split, j);
    for (; j < p.cols; ++j) dot_columns<1, UnitX>(p, split, j);
}

// The whole kernel; the twelfth argument of the kernel interface is not needed.
template <AddressRule Rule>
void sse_sgemv(const char *trans, const int64_t *m, const int64_t *n, const float *alpha, const float *a,
               const int64_t *lda, const float *x, const int64_t *incx, const float *beta, float *y,
               const int64_t *incy) {
    if (*m <= 0 || *n <= 0) return;
    if (*alpha == 0.0f && *beta == 1.0f) return;
    bool transposed = *trans != 'N' && *trans != 'n';
    int64_t len_y = transposed ? *n : *m;
    int64_t len_x = transposed ? *m : *n;
    SgemvProblem p{*m, *n, *alpha, a, *lda, strided_vector(x, len_x, *incx), strided_vector(y, len_y, *incy)};
    if (*beta != 1.0f) scale_elements<Rule>(p.y, len_y, *beta);
    if (p.alpha == 0.0f) return;
    // The run the vector loops align to: the unit-stride vector they walk,
    // or the first column of A when that vector is strided.
    if (!transposed) {
        bool unit = p.y.inc == 1;
        RowSplit split = split_run<Rule>(unit ? p.y.zero : a, p.rows);
        if (unit) product_no_trans<true>(p, split);
        else product_no_trans<false>(p, split);
    } else {
        bool unit = p.x.inc == 1;
        RowSplit split = split_run<Rule>(unit ? p.x.zero : a, p.rows);
        if (unit) product_trans<true>(p, split);
        else product_trans<false>(p, split);
    }
}

}  // namespace

#endif
