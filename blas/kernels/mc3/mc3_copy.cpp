// mc3_copy.cpp - the mc3 set's copy kernel, y := x.
//
// The loops are those of every 128-bit set (sse_copy_loops.h), compiled here
// for this set's instruction level.  A copy is exact, so one kernel serves
// every reproducibility branch.
#include "blas/kernels/mc3/mc3_kernels.h"
#include "blas/kernels/sse_copy_loops.h"

extern "C" void orb_blas_mc3_xscopy(const int64_t *n, const float *x, const int64_t *incx, float *y,
                                    const int64_t *incy) {
    sse_copy<AddressRule::AlignToAddress>(n, x, incx, y, incy);
}
