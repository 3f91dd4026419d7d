// sgemm_checker.cpp - the argument checks of the reference SGEMM forms.
//
// The checks run in the order of the reference BLAS and the first failure
// wins: the two transposition characters, the three dimensions, then each
// leading dimension against the rows of the matrix as stored (at least 1).
// A failure is reported to the error handler as routine "SGEMM " (six
// characters, the last a blank) with the parameter number, and the checker
// returns 1; the caller then returns without touching C.  The 32-bit and
// 64-bit checkers are one template: every value is compared as a 64-bit
// signed integer, which for 32-bit arguments is their sign extension.
#include <cstdint>

#include "blas/interface/argument_checks.h"
#include "orb_blas.h"

namespace {

using orb_interface::ArgumentCheck;
using orb_interface::at_least_one;
using orb_interface::is_transposition_letter;
using orb_interface::missing_or_below;
using orb_interface::same_letter;
using orb_interface::value_or_zero;

constexpr char kRoutineName[] = "SGEMM ";

template <typename Int>
int check_sgemm(const char *transa, const char *transb, const Int *m, const Int *n, const Int *k, const Int *lda,
                const Int *ldb, const Int *ldc) {
    // Rows of A and B as stored.
    const int64_t rows_a = value_or_zero(same_letter(transa, "N") ? m : k);
    const int64_t rows_b = value_or_zero(same_letter(transb, "N") ? k : n);

    const ArgumentCheck<int64_t> checks[] = {
        {!is_transposition_letter(transa), 1},
        {!is_transposition_letter(transb), 2},
        {missing_or_below(m, 0), 3},
        {missing_or_below(n, 0), 4},
        {missing_or_below(k, 0), 5},
        {missing_or_below(lda, at_least_one(rows_a)), 8},
        {missing_or_below(ldb, at_least_one(rows_b)), 10},
        {missing_or_below(ldc, at_least_one(value_or_zero(m))), 13},
    };
    const int64_t bad = orb_interface::first_failed_parameter(checks);
    return bad == 0 ? 0 : orb_interface::report_reference_error(kRoutineName, bad);
}

}  // namespace

extern "C" {

int orb_blas_errchk_sgemm(const char *transa, const char *transb, const int *m, const int *n, const int *k,
                          const float * /*alpha*/, const float * /*a*/, const int *lda, const float * /*b*/,
                          const int *ldb, const float * /*beta*/, float * /*c*/, const int *ldc, size_t /*la*/,
                          size_t /*lb*/) {
    return check_sgemm(transa, transb, m, n, k, lda, ldb, ldc);
}

int orb_blas_errchk_sgemm_ilp64(const char *transa, const char *transb, const int64_t *m, const int64_t *n,
                                const int64_t *k, const float * /*alpha*/, const float * /*a*/, const int64_t *lda,
                                const float * /*b*/, const int64_t *ldb, const float * /*beta*/, float * /*c*/,
                                const int64_t *ldc, size_t /*la*/, size_t /*lb*/) {
    return check_sgemm(transa, transb, m, n, k, lda, ldb, ldc);
}

}  // extern "C"
