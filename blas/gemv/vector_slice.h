// vector_slice.h - addressing a run of elements of a strided vector.
//
// A BLAS vector of length len with increment inc keeps element i at offset
// i*inc from its pointer when inc >= 0.  With a negative increment the
// pointer addresses the element with the lowest address, which is the last
// element: element i lies at offset (len - 1 - i)*|inc|.  A run of count
// elements starting at element start is itself such a vector, with the same
// increment, and orb_vector_slice returns its pointer.
#ifndef ORB_BLAS_GEMV_VECTOR_SLICE_H
#define ORB_BLAS_GEMV_VECTOR_SLICE_H

#include <cstdint>

// Pointer of elements start .. start + count - 1 of a vector of len elements.
template <typename Element>
inline Element *orb_vector_slice(Element *vector, int64_t inc, int64_t len, int64_t start, int64_t count) {
    if (inc >= 0) return vector + start * inc;
    return vector + (len - start - count) * -inc;
}

// Element i of a vector of len elements.
template <typename Element>
inline Element &orb_vector_element(Element *vector, int64_t inc, int64_t len, int64_t i) {
    return *orb_vector_slice(vector, inc, len, i, 1);
}

#endif
