/*
 * orb_blas.h - the public SGEMM and SGEMV entry points of libvorte_blas.
 *
 * SGEMM computes C := alpha*op(A)*op(B) + beta*C in single precision, where
 * op(X) is X or its transpose and op(A) is m x k, op(B) is k x n, C is m x n.
 * SGEMV computes y := alpha*op(A)*x + beta*y for an m x n matrix A.
 * Each comes in three forms (shown for SGEMM; SGEMV has the same names with
 * "sgemv" in place of "sgemm"):
 *  - the reference form, column-major, every argument by reference, with
 *    32-bit integers (SGEMM, sgemm, sgemm_, orb_blas__sgemm) or 64-bit
 *    integers (SGEMM_64, sgemm_64, sgemm_64_); all names of one row are one
 *    routine;
 *  - the CBLAS form cblas_sgemm, with a layout argument and arguments by value;
 *  - the argument checkers the reference forms run first.
 * A bad argument is reported once to the error handler (orb_service.h) with
 * the routine name and the parameter number, and the call returns with C (or
 * y) untouched.
 *
 * Transposition arguments are characters of which only the first is read,
 * case-insensitively: 'N' no transpose, 'T' transpose, 'C' conjugate
 * transpose (the same as 'T' for real data).  Callers compiled from Fortran
 * append one hidden length per character argument; the reference forms
 * declare them as the trailing la and lb and never read them.  C++ callers
 * may leave them out; C callers pass any value (1 is customary).
 */
#ifndef ORB_BLAS_H
#define ORB_BLAS_H

#include <stddef.h>
#include <stdint.h>

#include "orb_service.h"

/* In C++ the hidden lengths default to 1, and the CBLAS enumerations are
 * based on int so that any int a caller passes is a value of the type (the
 * checks of cblas_sgemm then report it). */
#ifdef __cplusplus
#define ORB_HIDDEN_LENGTH = 1
#define ORB_CBLAS_ENUM_BASE : int
extern "C" {
#else
#define ORB_HIDDEN_LENGTH
#define ORB_CBLAS_ENUM_BASE
#endif

/* ------------------------------------------------------------------------
 * Reference form, 32-bit integers
 * ------------------------------------------------------------------------ */

#define ORB_SGEMM_ARGUMENTS(INT)                                                            \
    const char *transa, const char *transb, const INT *m, const INT *n, const INT *k,         \
        const float *alpha, const float *a, const INT *lda, const float *b, const INT *ldb,   \
        const float *beta, float *c, const INT *ldc, size_t la ORB_HIDDEN_LENGTH,             \
        size_t lb ORB_HIDDEN_LENGTH

ORB_API void SGEMM(ORB_SGEMM_ARGUMENTS(int));
ORB_API void sgemm(ORB_SGEMM_ARGUMENTS(int));
ORB_API void sgemm_(ORB_SGEMM_ARGUMENTS(int));
ORB_API void orb_blas__sgemm(ORB_SGEMM_ARGUMENTS(int));

/* ------------------------------------------------------------------------
 * Reference form, 64-bit integers
 * ------------------------------------------------------------------------ */

ORB_API void SGEMM_64(ORB_SGEMM_ARGUMENTS(int64_t));
ORB_API void sgemm_64(ORB_SGEMM_ARGUMENTS(int64_t));
ORB_API void sgemm_64_(ORB_SGEMM_ARGUMENTS(int64_t));

/* ------------------------------------------------------------------------
 * Argument checkers: 0 when every argument is valid; otherwise the first bad
 * one is reported as ("SGEMM ", parameter number) and the result is 1.
 * ------------------------------------------------------------------------ */

ORB_API int orb_blas_errchk_sgemm(ORB_SGEMM_ARGUMENTS(int));
ORB_API int orb_blas_errchk_sgemm_ilp64(ORB_SGEMM_ARGUMENTS(int64_t));

#undef ORB_SGEMM_ARGUMENTS

/* ------------------------------------------------------------------------
 * SGEMV, reference form with 32-bit and 64-bit integers, and its checkers
 * (reporting as "SGEMV ").  Vectors with a negative increment are addressed
 * from their lowest element, as in the reference BLAS.
 * ------------------------------------------------------------------------ */

#define ORB_SGEMV_ARGUMENTS(INT)                                                            \
    const char *trans, const INT *m, const INT *n, const float *alpha, const float *a,        \
        const INT *lda, const float *x, const INT *incx, const float *beta, float *y,         \
        const INT *incy, size_t la ORB_HIDDEN_LENGTH

ORB_API void SGEMV(ORB_SGEMV_ARGUMENTS(int));
ORB_API void sgemv(ORB_SGEMV_ARGUMENTS(int));
ORB_API void sgemv_(ORB_SGEMV_ARGUMENTS(int));
ORB_API void orb_blas__sgemv(ORB_SGEMV_ARGUMENTS(int));

ORB_API void SGEMV_64(ORB_SGEMV_ARGUMENTS(int64_t));
ORB_API void sgemv_64(ORB_SGEMV_ARGUMENTS(int64_t));
ORB_API void sgemv_64_(ORB_SGEMV_ARGUMENTS(int64_t));

ORB_API int orb_blas_errchk_sgemv(ORB_SGEMV_ARGUMENTS(int));
ORB_API int orb_blas_errchk_sgemv_ilp64(ORB_SGEMV_ARGUMENTS(int64_t));

#undef ORB_SGEMV_ARGUMENTS

/* ------------------------------------------------------------------------
 * CBLAS form
 * ------------------------------------------------------------------------ */

typedef enum CBLAS_LAYOUT ORB_CBLAS_ENUM_BASE {
    CblasRowMajor = 101, /* rows stored contiguously */
    CblasColMajor = 102  /* columns stored contiguously */
} CBLAS_LAYOUT;

typedef enum CBLAS_TRANSPOSE ORB_CBLAS_ENUM_BASE {
    CblasNoTrans = 111,   /* op(X) = X */
    CblasTrans = 112,     /* op(X) = X' */
    CblasConjTrans = 113  /* op(X) = X' (conjugation changes nothing for real data) */
} CBLAS_TRANSPOSE;

/* Bad arguments are reported through cblas_xerbla("cblas_sgemm", p), where
 * the layout counts as parameter 1. */
ORB_API void cblas_sgemm(CBLAS_LAYOUT layout, CBLAS_TRANSPOSE transA, CBLAS_TRANSPOSE transB, int M, int N,
                         int K, float alpha, const float *A, int lda, const float *B, int ldb, float beta,
                         float *C, int ldc);

/* Bad arguments are reported through cblas_xerbla("cblas_sgemv", p).  A row-
 * major call runs as the column-major call on the transpose.  Calls that
 * cannot change Y (M or N zero, or alpha 0 with beta 1) return at once. */
ORB_API void cblas_sgemv(CBLAS_LAYOUT layout, CBLAS_TRANSPOSE transA, int M, int N, float alpha, const float *A,
                         int lda, const float *X, int incX, float beta, float *Y, int incY);

#ifdef __cplusplus
}
#endif

#undef ORB_HIDDEN_LENGTH
#undef ORB_CBLAS_ENUM_BASE

#endif /* ORB_BLAS_H */
