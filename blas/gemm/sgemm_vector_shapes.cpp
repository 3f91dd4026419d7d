// sgemm_vector_shapes.cpp - one-row and one-column SGEMM products as SGEMV.
//
// Which matrix is A of the matrix-vector product, whether it is transposed,
// and the strides of x and y follow from where the single row or column of
// C comes from:
//   one row:    C' := alpha*op(B)'*op(A)' + beta*C'; the matrix is B ("T"
//               when B is plain, "N" when it is transposed), x is the row of
//               op(A) (stride lda, or 1 when A is transposed), y the row of
//               C (stride ldc);
//   one column: C := alpha*op(A)*op(B) + beta*C; the matrix is A ("N" when
//               plain, "T" when transposed), x is the column of op(B)
//               (stride 1, or ldb when B is transposed), y is C (stride 1).
#include "blas/gemm/sgemm_vector_shapes.h"

#include "blas/gemv/sgemv_driver.h"

namespace {

// The 64-bit unit stride of the matrix-vector calls.
const int64_t kUnitStride = 1;

bool is_plain(const char *trans) { return *trans == 'N' || *trans == 'n'; }

}  // namespace

void orb_sgemm_one_row_product(const SgemmCall &g) {
    const int64_t *x_stride = is_plain(g.transa) ? g.lda : &kUnitStride;
    if (is_plain(g.transb)) orb_blas_sgemv("T", g.k, g.n, g.alpha, g.b, g.ldb, g.a, x_stride, g.beta, g.c, g.ldc);
    else orb_blas_sgemv("N", g.n, g.k, g.alpha, g.b, g.ldb, g.a, x_stride, g.beta, g.c, g.ldc);
}

void orb_sgemm_one_column_product(const SgemmCall &g) {
    const int64_t *x_stride = is_plain(g.transb) ? &kUnitStride : g.ldb;
    if (is_plain(g.transa))
        orb_blas_sgemv("N", g.m, g.k, g.alpha, g.a, g.lda, g.b, x_stride, g.beta, g.c, &kUnitStride);
    else orb_blas_sgemv("T", g.k, g.m, g.alpha, g.a, g.lda, g.b, x_stride, g.beta, g.c, &kUnitStride);
}
