// def_sgemv.cpp - the def set's SGEMV kernel, y := alpha*op(A)*x + beta*y.
//
// The loops are those of every 128-bit set (sse_sgemv_loops.h), compiled for
// SSE2 with the vector loops aligned to 16-byte addresses.  The dispatcher
// uses this kernel only when no reproducibility branch is set: the grouping
// of a transposed product's sums follows the address of x.
#include "blas/kernels/def/def_kernels.h"
#include "blas/kernels/sse_sgemv_loops.h"

extern "C" void orb_blas_def_xsgemv(const char *trans, const int64_t *m, const int64_t *n, const float *alpha,
                                    const float *a, const int64_t *lda, const float *x, const int64_t *incx,
                                    const float *beta, float *y, const int64_t *incy, int) {
    sse_sgemv<AddressRule::AlignToAddress>(trans, m, n, alpha, a, lda, x, incx, beta, y, incy);
}
