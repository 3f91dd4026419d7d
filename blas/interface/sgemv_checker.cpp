// sgemv_checker.cpp - the argument checks of the reference SGEMV forms.
//
// The checks run in the order of the reference BLAS and the first failure
// wins: the transposition character, the two dimensions, the leading
// dimension against the m rows of A (at least 1), then the two increments,
// which must not be zero.  A failure is reported to the error handler as
// routine "SGEMV " (six characters, the last a blank) with the parameter
// number, and the checker returns 1; the caller then returns without
// touching y.  The 32-bit and 64-bit checkers are one template: every value
// is compared as a 64-bit signed integer, which for 32-bit arguments is
// their sign extension.
#include <cstdint>

#include "blas/interface/argument_checks.h"
#include "orb_blas.h"

namespace {

using orb_interface::ArgumentCheck;
using orb_interface::at_least_one;
using orb_interface::is_transposition_letter;
using orb_interface::missing_or_below;
using orb_interface::missing_or_zero;
using orb_interface::value_or_zero;

constexpr char kRoutineName[] = "SGEMV ";

template <typename Int>
int check_sgemv(const char *trans, const Int *m, const Int *n, const Int *lda, const Int *incx, const Int *incy) {
    const ArgumentCheck<int64_t> checks[] = {
        {!is_transposition_letter(trans), 1},
        {missing_or_below(m, 0), 2},
        {missing_or_below(n, 0), 3},
        {missing_or_below(lda, at_least_one(value_or_zero(m))), 6},
        {missing_or_zero(incx), 8},
        {missing_or_zero(incy), 11},
    };
    const int64_t bad = orb_interface::first_failed_parameter(checks);
    return bad == 0 ? 0 : orb_interface::report_reference_error(kRoutineName, bad);
}

}  // namespace

extern "C" {

int orb_blas_errchk_sgemv(const char *trans, const int *m, const int *n, const float * /*alpha*/,
                          const float * /*a*/, const int *lda, const float * /*x*/, const int *incx,
                          const float * /*beta*/, float * /*y*/, const int *incy, size_t /*la*/) {
    return check_sgemv(trans, m, n, lda, incx, incy);
}

int orb_blas_errchk_sgemv_ilp64(const char *trans, const int64_t *m, const int64_t *n, const float * /*alpha*/,
                                const float * /*a*/, const int64_t *lda, const float * /*x*/, const int64_t *incx,
                                const float * /*beta*/, float * /*y*/, const int64_t *incy, size_t /*la*/) {
    return check_sgemv(trans, m, n, lda, incx, incy);
}

}  // extern "C"
