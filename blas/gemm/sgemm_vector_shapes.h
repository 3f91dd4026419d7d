// sgemm_vector_shapes.h - products whose C is a single row or column.
//
// When C has one row or one column (and k is not 0) an SGEMM is a
// matrix-vector product: one row of C is op(B)' times the row of op(A), one
// column is op(A) times the column of op(B).  Both threaded SGEMM drivers
// hand such calls to the SGEMV driver through these two functions, which
// pick the matrix, its transposition and the vector strides from the
// transposition characters.  SgemmCall carries the thirteen arguments of an
// SGEMM call as the drivers receive them.
#ifndef ORB_BLAS_GEMM_SGEMM_VECTOR_SHAPES_H
#define ORB_BLAS_GEMM_SGEMM_VECTOR_SHAPES_H

#include <cstdint>

// The thirteen arguments of a call, integers 64-bit, as the driver got them.
struct SgemmCall {
    const char *transa;   // transposition character of A
    const char *transb;   // transposition character of B
    const int64_t *m;     // rows of op(A) and C
    const int64_t *n;     // columns of op(B) and C
    const int64_t *k;     // columns of op(A), rows of op(B)
    const float *alpha;   // scale of the product
    const float *a;       // A
    const int64_t *lda;   // leading dimension of A
    const float *b;       // B
    const int64_t *ldb;   // leading dimension of B
    const float *beta;    // scale of C
    float *c;             // C
    const int64_t *ldc;   // leading dimension of C
};

// C is one row (m = 1): y = row of C (stride ldc), x = row of op(A).
void orb_sgemm_one_row_product(const SgemmCall &g);

// C is one column (n = 1): y = C (stride 1), x = column of op(B).
void orb_sgemm_one_column_product(const SgemmCall &g);

#endif
