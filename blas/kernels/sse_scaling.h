// sse_scaling.h - v := beta*v on a vector or a matrix column, 128-bit sets.
//
// The SGEMV beta step and the alpha = 0 case of the rank-1 update both scale
// a run of elements.  A beta of exactly 0 writes zeros without reading, so
// NaN and infinity do not survive; any other beta (NaN included) multiplies.
// Each element gets one rounded product whichever loop handles it, so the
// split of the run (sse_vector_access.h) never changes the result.
#ifndef ORB_BLAS_KERNELS_SSE_SCALING_H
#define ORB_BLAS_KERNELS_SSE_SCALING_H

#include "blas/kernels/sse_vector_access.h"

namespace {

// Elements 0 .. count-1 of v := beta*v (beta 0: cleared without reading).
template <AddressRule Rule>
void scale_elements(const StridedVector &v, int64_t count, float beta) {
    bool clear = beta == 0.0f;
    if (v.inc != 1) {
        for (int64_t i = 0; i < count; ++i) element(v, i) = clear ? 0.0f : beta * element(v, i);
        return;
    }
    float *p = v.zero;
    RowSplit split = split_run<Rule>(p, count);
    int64_t i = 0;
    for (; i < split.lead; ++i) p[i] = clear ? 0.0f : beta * p[i];
    __m128 factor = _mm_set1_ps(beta);
    int64_t body_end = split.lead + split.body;
    if (clear)
        for (; i < body_end; i += 4) _mm_storeu_ps(p + i, _mm_setzero_ps());
    else
        for (; i < body_end; i += 4) _mm_storeu_ps(p + i, _mm_mul_ps(_mm_loadu_ps(p + i), factor));
    for (; i < count; ++i) p[i] = clear ? 0.0f : beta * p[i];
}

}  // namespace

#endif
