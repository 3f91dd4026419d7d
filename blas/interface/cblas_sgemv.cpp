// cblas_sgemv.cpp - the CBLAS form of SGEMV.
//
// cblas_sgemv takes its arguments by value and a layout.  It checks them in
// CBLAS order (layout, transposition, dimensions, leading dimension,
// increments), counting the layout as parameter 1, and reports the first
// bad one through cblas_xerbla.  A row-major M x N matrix is the
// column-major storage of its N x M transpose, so a row-major call becomes
// a column-major call on the exchanged dimensions with the transposition
// flipped: "no transpose" turns into "T", and both transposed codes into
// "N" (conjugation changes nothing for real data).  Calls that cannot change
// y (an empty A, or alpha = 0 with beta = 1) return before anything is
// called, so they are not logged either.
#include "blas/interface/argument_checks.h"
#include "blas/interface/cblas_transposition.h"
#include "orb_blas.h"

namespace {

using orb_interface::ArgumentCheck;
using orb_interface::at_least_one;
using orb_interface::cblas_transposition_text;
using orb_interface::is_cblas_transposition;

constexpr char kRoutineName[] = "cblas_sgemv";

// The reference letter for a row-major call, by code - 111: the transpose
// of the column-major view undoes or adds the transposition.
constexpr const char *kRowMajorText[] = {"T", "N", "N"};

// The reference letter of transA in the layout, or null for a bad code.
const char *reference_letter(CBLAS_LAYOUT layout, CBLAS_TRANSPOSE transA) {
    if (!is_cblas_transposition(transA)) return nullptr;
    return layout == CblasColMajor ? cblas_transposition_text(transA) : kRowMajorText[transA - CblasNoTrans];
}

bool is_layout(CBLAS_LAYOUT layout) { return layout == CblasRowMajor || layout == CblasColMajor; }

}  // namespace

extern "C" void cblas_sgemv(CBLAS_LAYOUT layout, CBLAS_TRANSPOSE transA, int M, int N, float alpha,
                            const float *A, int lda, const float *X, int incX, float beta, float *Y, int incY) {
    const bool good_layout = is_layout(layout);
    const char *letter = good_layout ? reference_letter(layout, transA) : nullptr;
    // A's rows as stored: M in column-major, N in row-major.
    const int stored_rows = layout == CblasColMajor ? M : N;

    const ArgumentCheck<int> checks[] = {
        {!good_layout, 1},
        {letter == nullptr, 2},
        {M < 0, 3},
        {N < 0, 4},
        {lda < at_least_one(stored_rows), 7},
        {incX == 0, 9},
        {incY == 0, 12},
    };
    const int bad = orb_interface::first_failed_parameter(checks);
    if (bad != 0) {
        cblas_xerbla(kRoutineName, bad);
        return;
    }
    if (M == 0 || N == 0 || (alpha == 0.0f && beta == 1.0f)) return;

    if (layout == CblasColMajor)
        SGEMV(letter, &M, &N, &alpha, A, &lda, X, &incX, &beta, Y, &incY);
    else
        SGEMV(letter, &N, &M, &alpha, A, &lda, X, &incX, &beta, Y, &incY);
}
