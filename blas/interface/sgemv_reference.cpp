// sgemv_reference.cpp - the reference-form SGEMV entry points.
//
// SGEMV, sgemv, sgemv_ and orb_blas__sgemv are one routine taking 32-bit
// integers by reference; SGEMV_64, sgemv_64 and sgemv_64_ are its twin with
// 64-bit integers.  A call makes sure an error handler is installed, checks
// its arguments (a bad one is reported and the call returns with y
// untouched), widens the integers to 64 bits and runs the SGEMV driver.
// There is no quick return here: empty shapes and alpha = 0 go to the
// driver, which handles them.  When the verbose mode is on, the call is
// timed and logged, a rejected call included (reference_call.h holds that
// frame, shared with SGEMM).
#include <cstdint>

#include "blas/gemv/sgemv_driver.h"
#include "blas/interface/reference_call.h"
#include "orb_blas.h"

namespace {

using orb_interface::log_call_line;
using orb_interface::printed_letter;
using orb_interface::VerboseFlag;

// The arguments of one call as the caller passed them.
template <typename Int>
struct SgemvArgs {
    const char *trans;   // transposition character of A
    const Int *m;        // rows of A
    const Int *n;        // columns of A
    const float *alpha;  // scale of the product
    const float *a;      // A
    const Int *lda;      // leading dimension of A
    const float *x;      // x
    const Int *incx;     // increment of x
    const float *beta;   // scale of y
    float *y;            // y, overwritten
    const Int *incy;     // increment of y
};

// What sets the 32-bit routine and the 64-bit routine apart.
template <typename Int>
struct SgemvForm;

template <>
struct SgemvForm<int> {
    using Printed = int;  // how an integer argument is printed (%d)
    static constexpr const char *kLogFormat = "SGEMV(%c,%d,%d,%p,%p,%d,%p,%d,%p,%p,%d)";
    static int check(const SgemvArgs<int> &g) {
        return orb_blas_errchk_sgemv(g.trans, g.m, g.n, g.alpha, g.a, g.lda, g.x, g.incx, g.beta, g.y, g.incy, 1);
    }
    static VerboseFlag verbose;  // this routine's cached verbose mode
};

template <>
struct SgemvForm<int64_t> {
    using Printed = long long;  // how an integer argument is printed (%lli)
    static constexpr const char *kLogFormat = "SGEMV_64(%c,%lli,%lli,%p,%p,%lli,%p,%lli,%p,%p,%lli)";
    static int check(const SgemvArgs<int64_t> &g) {
        return orb_blas_errchk_sgemv_ilp64(g.trans, g.m, g.n, g.alpha, g.a, g.lda, g.x, g.incx, g.beta, g.y,
                                           g.incy, 1);
    }
    static VerboseFlag verbose;  // this routine's cached verbose mode
};

VerboseFlag SgemvForm<int>::verbose;
VerboseFlag SgemvForm<int64_t>::verbose;

template <typename Int>
typename SgemvForm<Int>::Printed printed(const Int *value) {
    return orb_interface::printed_integer<typename SgemvForm<Int>::Printed>(value);
}

template <typename Int>
void log_call(const SgemvArgs<Int> &g, double seconds) {
    log_call_line(seconds, SgemvForm<Int>::kLogFormat, printed_letter(g.trans), printed(g.m), printed(g.n),
                  static_cast<const void *>(g.alpha), static_cast<const void *>(g.a), printed(g.lda),
                  static_cast<const void *>(g.x), printed(g.incx), static_cast<const void *>(g.beta),
                  static_cast<void *>(g.y), printed(g.incy));
}

// The driver call: the 32-bit routine passes sign-extended copies of its
// integers, the 64-bit routine the caller's own.
void run_driver(const SgemvArgs<int> &g) {
    const int64_t m = *g.m, n = *g.n, lda = *g.lda, incx = *g.incx, incy = *g.incy;
    orb_blas_sgemv(g.trans, &m, &n, g.alpha, g.a, &lda, g.x, &incx, g.beta, g.y, &incy, 1);
}

void run_driver(const SgemvArgs<int64_t> &g) {
    orb_blas_sgemv(g.trans, g.m, g.n, g.alpha, g.a, g.lda, g.x, g.incx, g.beta, g.y, g.incy, 1);
}

template <typename Int>
void reference_sgemv(const SgemvArgs<Int> &g) {
    orb_interface::run_reference_call(
        SgemvForm<Int>::verbose, [&] { return SgemvForm<Int>::check(g); }, [&] { run_driver(g); },
        [&](double seconds) { log_call(g, seconds); });
}

}  // namespace

extern "C" {

void sgemv_(const char *trans, const int *m, const int *n, const float *alpha, const float *a, const int *lda,
            const float *x, const int *incx, const float *beta, float *y, const int *incy, size_t /*la*/) {
    reference_sgemv<int>({trans, m, n, alpha, a, lda, x, incx, beta, y, incy});
}

void SGEMV(const char *trans, const int *m, const int *n, const float *alpha, const float *a, const int *lda,
           const float *x, const int *incx, const float *beta, float *y, const int *incy, size_t la)
    __attribute__((alias("sgemv_")));
void sgemv(const char *trans, const int *m, const int *n, const float *alpha, const float *a, const int *lda,
           const float *x, const int *incx, const float *beta, float *y, const int *incy, size_t la)
    __attribute__((alias("sgemv_")));
void orb_blas__sgemv(const char *trans, const int *m, const int *n, const float *alpha, const float *a,
                     const int *lda, const float *x, const int *incx, const float *beta, float *y, const int *incy,
                     size_t la) __attribute__((alias("sgemv_")));

void sgemv_64_(const char *trans, const int64_t *m, const int64_t *n, const float *alpha, const float *a,
               const int64_t *lda, const float *x, const int64_t *incx, const float *beta, float *y,
               const int64_t *incy, size_t /*la*/) {
    reference_sgemv<int64_t>({trans, m, n, alpha, a, lda, x, incx, beta, y, incy});
}

void SGEMV_64(const char *trans, const int64_t *m, const int64_t *n, const float *alpha, const float *a,
              const int64_t *lda, const float *x, const int64_t *incx, const float *beta, float *y,
              const int64_t *incy, size_t la) __attribute__((alias("sgemv_64_")));
void sgemv_64(const char *trans, const int64_t *m, const int64_t *n, const float *alpha, const float *a,
              const int64_t *lda, const float *x, const int64_t *incx, const float *beta, float *y,
              const int64_t *incy, size_t la) __attribute__((alias("sgemv_64_")));

}  // extern "C"
