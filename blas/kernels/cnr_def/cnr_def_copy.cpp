// cnr_def_copy.cpp - the cnr_def set's copy kernel, y := x.
//
// The loops are those of every 128-bit set (sse_copy_loops.h), compiled here
// for this set's instruction level; being the reproducible set, it never
// looks at an address (AddressRule::FromFirstElement).
#include "blas/kernels/cnr_def/cnr_def_kernels.h"
#include "blas/kernels/sse_copy_loops.h"

extern "C" void orb_blas_cnr_def_xscopy(const int64_t *n, const float *x, const int64_t *incx, float *y,
                                        const int64_t *incy) {
    sse_copy<AddressRule::FromFirstElement>(n, x, incx, y, incy);
}
