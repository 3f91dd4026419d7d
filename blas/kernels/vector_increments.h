// vector_increments.h - vectors under the BLAS increment convention, for the
// kernels of every set.
//
// Element i of a vector of len elements with increment inc lies at i*inc
// from element 0; element 0 is the given pointer for a positive (or zero)
// increment and lies (len-1)*|inc| past it for a negative one, so the given
// pointer always addresses the element with the lowest address.  Everything
// here sits in an anonymous namespace: each kernel set compiles its own copy
// with its own instruction-set flags, and the linker can never substitute
// one set's copy for another's.
#ifndef ORB_BLAS_KERNELS_VECTOR_INCREMENTS_H
#define ORB_BLAS_KERNELS_VECTOR_INCREMENTS_H

#include <cstdint>

namespace {

// Element 0 of a vector of len elements with increment inc.
template <typename T>
inline T *element_zero(T *v, int64_t len, int64_t inc) {
    return inc < 0 ? v - (len - 1) * inc : v;
}

// y := x for len elements with arbitrary increments, element by element in
// increasing order (an increment of 0 names the same element every time).
inline void strided_copy(int64_t len, const float *x, int64_t incx, float *y, int64_t incy) {
    const float *xs = element_zero(x, len, incx);
    float *ys = element_zero(y, len, incy);
    int64_t i = 0;
    for (; len - i >= 4; i += 4)
        for (int k = 0; k < 4; ++k) ys[(i + k) * incy] = xs[(i + k) * incx];
    for (; i < len; ++i) ys[i * incy] = xs[i * incx];
}

}  // namespace

#endif
