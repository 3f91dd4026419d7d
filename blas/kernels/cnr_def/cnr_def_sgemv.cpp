// cnr_def_sgemv.cpp - the cnr_def set's SGEMV kernel, y := alpha*op(A)*x + beta*y.
//
// The loops of def_sgemv.cpp (sse_sgemv_loops.h) without any address-dependent
// step: vector loops start at the first element and the last m mod 4 rows
// follow one at a time, so the result depends on the arguments' values only.
#include "blas/kernels/cnr_def/cnr_def_kernels.h"
#include "blas/kernels/sse_sgemv_loops.h"

extern "C" void orb_blas_cnr_def_xsgemv(const char *trans, const int64_t *m, const int64_t *n, const float *alpha,
                                        const float *a, const int64_t *lda, const float *x, const int64_t *incx,
                                        const float *beta, float *y, const int64_t *incy, int) {
    sse_sgemv<AddressRule::FromFirstElement>(trans, m, n, alpha, a, lda, x, incx, beta, y, incy);
}
