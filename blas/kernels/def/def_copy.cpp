// def_copy.cpp - the def set's copy kernel, y := x.
//
// The loops are those of every 128-bit set (sse_copy_loops.h), compiled here
// for this set's instruction level; the vector loops start at 16-byte
// addresses of y (AddressRule::AlignToAddress).
#include "blas/kernels/def/def_kernels.h"
#include "blas/kernels/sse_copy_loops.h"

extern "C" void orb_blas_def_xscopy(const int64_t *n, const float *x, const int64_t *incx, float *y,
                                    const int64_t *incy) {
    sse_copy<AddressRule::AlignToAddress>(n, x, incx, y, incy);
}
