// sse_copy_loops.h - y := x for the 128-bit sets.
//
// Copies n elements under the BLAS increment convention.  When both vectors
// have unit stride the copy runs eight floats per step (after the leading
// elements that bring y to a 16-byte address, for the ordinary sets) and
// ends one element at a time; any other pair of increments is copied element
// by element, element i of x to element i of y, so negative increments
// address both vectors from their lowest element.  A copy is exact, so the
// address rule only decides where the vector loop starts.
#ifndef ORB_BLAS_KERNELS_SSE_COPY_LOOPS_H
#define ORB_BLAS_KERNELS_SSE_COPY_LOOPS_H

#include "blas/kernels/sse_vector_access.h"

namespace {

template <AddressRule Rule>
void sse_copy(const int64_t *n, const float *x, const int64_t *incx, float *y, const int64_t *incy) {
    int64_t count = *n;
    if (count <= 0) return;
    if (*incx != 1 || *incy != 1) {
        StridedVector from = strided_vector(x, count, *incx), to = strided_vector(y, count, *incy);
        for (int64_t i = 0; i < count; ++i) element(to, i) = element(from, i);
        return;
    }
    RowSplit split = split_run<Rule>(y, count);
    int64_t i = 0;
    for (; i < split.lead; ++i) y[i] = x[i];
    int64_t end = split.lead + split.body;
    for (; end - i >= 8; i += 8) {
        __m128 low = _mm_loadu_ps(x + i), high = _mm_loadu_ps(x + i + 4);
        _mm_storeu_ps(y + i, low);
        _mm_storeu_ps(y + i + 4, high);
    }
    for (; i < end; i += 4) _mm_storeu_ps(y + i, _mm_loadu_ps(x + i));
    for (; i < count; ++i) y[i] = x[i];
}

}  // namespace

#endif
