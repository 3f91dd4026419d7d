// cnr_def_rank_one.cpp - the cnr_def set's rank-1 kernel, C := beta*C + alpha*x*y'.
//
// The loops are those of every 128-bit set (sse_rank_one_loops.h), compiled
// here for this set's instruction level; being the reproducible set, it
// never looks at an address (AddressRule::FromFirstElement).
#include "blas/kernels/cnr_def/cnr_def_kernels.h"
#include "blas/kernels/sse_rank_one_loops.h"

extern "C" void orb_blas_cnr_def_xsgemmger(const char *, const char *, const int64_t *m, const int64_t *n,
                                           const float *alpha, const float *x, const int64_t *incx, const float *y,
                                           const int64_t *incy, const float *beta, float *c, const int64_t *ldc) {
    sse_rank_one<AddressRule::FromFirstElement>(m, n, alpha, x, incx, y, incy, beta, c, ldc);
}
