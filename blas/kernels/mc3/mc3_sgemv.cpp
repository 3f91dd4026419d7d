// mc3_sgemv.cpp - the mc3 set's SGEMV kernel, y := alpha*op(A)*x + beta*y.
//
// Two instances of the 128-bit loops (sse_sgemv_loops.h) compiled for
// SSE4.2: the ordinary one aligns its vector loops to 16-byte addresses, the
// reproducible one (_cnr) never looks at an address.  Which one runs is
// decided per call: under any reproducibility branch but OFF the ordinary
// kernel hands the whole call to _cnr.
#include "blas/kernels/mc3/mc3_kernels.h"
#include "blas/kernels/sse_sgemv_loops.h"
#include "orb_service.h"

extern "C" {

void orb_blas_mc3_xsgemv_cnr(const char *trans, const int64_t *m, const int64_t *n, const float *alpha, const float *a,
                             const int64_t *lda, const float *x, const int64_t *incx, const float *beta, float *y,
                             const int64_t *incy, int) {
    sse_sgemv<AddressRule::FromFirstElement>(trans, m, n, alpha, a, lda, x, incx, beta, y, incy);
}

void orb_blas_mc3_xsgemv(const char *trans, const int64_t *m, const int64_t *n, const float *alpha, const float *a,
                         const int64_t *lda, const float *x, const int64_t *incx, const float *beta, float *y,
                         const int64_t *incy, int flag) {
    if (orb_serv_cbwr_get(1) != ORB_CBWR_OFF) {
        orb_blas_mc3_xsgemv_cnr(trans, m, n, alpha, a, lda, x, incx, beta, y, incy, flag);
        return;
    }
    sse_sgemv<AddressRule::AlignToAddress>(trans, m, n, alpha, a, lda, x, incx, beta, y, incy);
}

}  // extern "C"
