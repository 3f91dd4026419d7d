// cblas_sgemm.cpp - the CBLAS form of SGEMM.
//
// cblas_sgemm takes its arguments by value and a layout.  It checks them in
// CBLAS order (transpositions, dimensions, then the leading dimensions of
// the layout), counting the layout as parameter 1, and reports the first bad
// one through cblas_xerbla.  A column-major call goes to the 32-bit
// reference routine as it is.  A row-major matrix is the column-major
// storage of its transpose, so a row-major product C = op(A)*op(B) is
// computed as the column-major product C' = op(B)'*op(A)': the reference
// routine gets B before A, N before M, and the transposition codes of B and
// A in that order.  The layout is looked at only after the transpositions
// and dimensions have passed.
#include "blas/interface/argument_checks.h"
#include "blas/interface/cblas_transposition.h"
#include "orb_blas.h"

namespace {

using orb_interface::ArgumentCheck;
using orb_interface::at_least_one;
using orb_interface::cblas_transposition_text;
using orb_interface::first_failed_parameter;
using orb_interface::is_cblas_transposition;

constexpr char kRoutineName[] = "cblas_sgemm";

// The first bad argument among those every layout shares, or 0.
int first_bad_shape(CBLAS_TRANSPOSE transA, CBLAS_TRANSPOSE transB, int M, int N, int K) {
    const ArgumentCheck<int> checks[] = {
        {!is_cblas_transposition(transA), 2}, {!is_cblas_transposition(transB), 3},
        {M < 0, 4}, {N < 0, 5}, {K < 0, 6},
    };
    return first_failed_parameter(checks);
}

// The first bad leading dimension for the layout, or 0; 1 for a bad layout.
// Each operand is stored with as many rows (column-major) or columns
// (row-major) as the leading dimension must cover.
int first_bad_leading_dimension(CBLAS_LAYOUT layout, CBLAS_TRANSPOSE transA, CBLAS_TRANSPOSE transB, int M,
                                int N, int K, int lda, int ldb, int ldc) {
    const bool a_plain = transA == CblasNoTrans, b_plain = transB == CblasNoTrans;
    int stored_a, stored_b, stored_c;
    if (layout == CblasColMajor) {
        stored_a = a_plain ? M : K;
        stored_b = b_plain ? K : N;
        stored_c = M;
    } else if (layout == CblasRowMajor) {
        stored_a = a_plain ? K : M;
        stored_b = b_plain ? N : K;
        stored_c = N;
    } else {
        return 1;
    }
    const ArgumentCheck<int> checks[] = {
        {lda < at_least_one(stored_a), 9},
        {ldb < at_least_one(stored_b), 11},
        {ldc < at_least_one(stored_c), 14},
    };
    return first_failed_parameter(checks);
}

}  // namespace

extern "C" void cblas_sgemm(CBLAS_LAYOUT layout, CBLAS_TRANSPOSE transA, CBLAS_TRANSPOSE transB, int M, int N,
                            int K, float alpha, const float *A, int lda, const float *B, int ldb, float beta,
                            float *C, int ldc) {
    int bad = first_bad_shape(transA, transB, M, N, K);
    if (bad == 0) bad = first_bad_leading_dimension(layout, transA, transB, M, N, K, lda, ldb, ldc);
    if (bad != 0) {
        cblas_xerbla(kRoutineName, bad);
        return;
    }
    if (layout == CblasColMajor) {
        SGEMM(cblas_transposition_text(transA), cblas_transposition_text(transB), &M, &N, &K, &alpha, A, &lda, B,
              &ldb, &beta, C, &ldc);
    } else {
        SGEMM(cblas_transposition_text(transB), cblas_transposition_text(transA), &N, &M, &K, &alpha, B, &ldb, A,
              &lda, &beta, C, &ldc);
    }
}
