// baseline_buffer_free_product.h - C := alpha*op(A)*op(B) + beta*C without buffers, baseline sets.
//
// The baseline sets compute small products, the row edge of the blocked
// product and everything when no buffer can be had straight from the
// caller's matrices, four floats per vector.  Every element of C receives
// its whole inner product s and is then stored once as alpha*s + beta*c
// (alpha*s when beta is 0, without reading c).  Without a product term
// (k < 1 or alpha 0) C only takes beta, as the reference BLAS does: beta 1
// leaves it untouched, 0 clears it, any other beta scales it.
//
// How s is summed depends on which operand is contiguous along k:
//   A not transposed  the vectors run down the rows of a column of A; each
//                     element's products are added in increasing k, one
//                     rounding per step, in the vector lanes and in the
//                     scalar rows alike, so no address shows in the result;
//   A transposed      a row of op(A) is contiguous along k and s is a true
//                     dot product cut by the address rule
//                     (sse_vector_access.h): leading steps one at a time from
//                     0, the four-wide body in four lanes combined as
//                     (l0 + l1) + (l2 + l3), trailing steps one at a time.
//                     Under AddressRule::AlignToAddress the lead follows the
//                     address of the A row, so the last bits of s may change
//                     with it; under AddressRule::FromFirstElement the body
//                     starts at step 0 and only k decides the grouping.
// Columns of C go four at a time so that each A load serves four of them.
#ifndef ORB_BLAS_KERNELS_BASELINE_BUFFER_FREE_PRODUCT_H
#define ORB_BLAS_KERNELS_BASELINE_BUFFER_FREE_PRODUCT_H

#include "blas/kernels/sse_scaling.h"
#include "blas/kernels/sse_vector_access.h"

namespace {

// One product, unpacked from the by-address argument list.
struct GemmOperands {
    bool trans_a;    // op(A) = A'
    bool trans_b;    // op(B) = B'
    int64_t m;       // rows of C
    int64_t n;       // columns of C
    int64_t k;       // inner dimension
    float alpha;     // factor of the product
    const float *a;  // A, column-major
    int64_t lda;     // leading dimension of A
    const float *b;  // B, column-major
    int64_t ldb;     // leading dimension of B
    float beta;      // factor of C
    float *c;        // C, column-major
    int64_t ldc;     // leading dimension of C
};

inline bool is_transposed(const char *trans) { return *trans != 'N' && *trans != 'n'; }

inline GemmOperands gemm_operands(const char *transa, const char *transb, const int64_t *m, const int64_t *n,
                                  const int64_t *k, const float *alpha, const float *a, const int64_t *lda,
                                  const float *b, const int64_t *ldb, const float *beta, float *c, const int64_t *ldc) {
    return GemmOperands{
        is_transposed(transa), is_transposed(transb), *m, *n, *k, *alpha, a, *lda, b, *ldb, *beta, c, *ldc};
}

// Element (l, j) of op(B).
inline float op_b(const GemmOperands &g, int64_t l, int64_t j) {
    return g.trans_b ? g.b[j + l * g.ldb] : g.b[l + j * g.ldb];
}

inline void store_sum(const GemmOperands &g, float sum, float *cij) {
    *cij = g.beta == 0.0f ? g.alpha * sum : g.alpha * sum + g.beta * *cij;
}

inline void store_sums(const GemmOperands &g, __m128 sum, float *cij) {
    __m128 result = _mm_mul_ps(_mm_set1_ps(g.alpha), sum);
    if (g.beta != 0.0f) result = _mm_add_ps(result, _mm_mul_ps(_mm_set1_ps(g.beta), _mm_loadu_ps(cij)));
    _mm_storeu_ps(cij, result);
}

// --- A not transposed: vectors down the rows ----------------------------------

// Rows i .. i+4*Vecs-1 of columns j .. j+Cols-1, k in increasing order.
template <int Vecs, int Cols>
void rows_tile(const GemmOperands &g, int64_t i, int64_t j) {
    __m128 acc[Vecs][Cols];
    for (int v = 0; v < Vecs; ++v)
        for (int c = 0; c < Cols; ++c) acc[v][c] = _mm_setzero_ps();
    const float *a = g.a + i;
    for (int64_t l = 0; l < g.k; ++l, a += g.lda) {
        __m128 av[Vecs];
        for (int v = 0; v < Vecs; ++v) av[v] = _mm_loadu_ps(a + 4 * v);
        for (int c = 0; c < Cols; ++c) {
            __m128 bv = _mm_set1_ps(op_b(g, l, j + c));
            for (int v = 0; v < Vecs; ++v) acc[v][c] = _mm_add_ps(acc[v][c], _mm_mul_ps(av[v], bv));
        }
    }
    for (int c = 0; c < Cols; ++c)
        for (int v = 0; v < Vecs; ++v) store_sums(g, acc[v][c], g.c + i + 4 * v + (j + c) * g.ldc);
}

// One row i of columns j .. j+cols-1, the same sequence as a vector lane.
inline void row_scalar(const GemmOperands &g, int64_t i, int64_t j, int cols) {
    for (int c = 0; c < cols; ++c) {
        float sum = 0.0f;
        for (int64_t l = 0; l < g.k; ++l) sum = sum + g.a[i + l * g.lda] * op_b(g, l, j + c);
        store_sum(g, sum, g.c + i + (j + c) * g.ldc);
    }
}

template <int Cols>
void rows_of_columns(const GemmOperands &g, const RowSplit &split, int64_t j) {
    int64_t i = 0;
    for (; i < split.lead; ++i) row_scalar(g, i, j, Cols);
    const int64_t body_end = split.lead + split.body;
    for (; i + 8 <= body_end; i += 8) rows_tile<2, Cols>(g, i, j);
    for (; i < body_end; i += 4) rows_tile<1, Cols>(g, i, j);
    for (; i < g.m; ++i) row_scalar(g, i, j, Cols);
}

template <AddressRule Rule>
void product_down_rows(const GemmOperands &g) {
    const RowSplit split = split_run<Rule>(g.a, g.m);
    int64_t j = 0;
    for (; j + 4 <= g.n; j += 4) rows_of_columns<4>(g, split, j);
    switch (g.n - j) {
        case 3:
            rows_of_columns<3>(g, split, j);
            break;
        case 2:
            rows_of_columns<2>(g, split, j);
            break;
        case 1:
            rows_of_columns<1>(g, split, j);
            break;
        default:
            break;
    }
}

// --- A transposed: dot products along k ---------------------------------------

// Steps l .. l+3 of op(B) columns j .. j+Cols-1, one vector per column.
template <int Cols>
inline void load_b_steps(const GemmOperands &g, int64_t l, int64_t j, __m128 (&bv)[Cols]) {
    if (!g.trans_b) {
        for (int c = 0; c < Cols; ++c) bv[c] = _mm_loadu_ps(g.b + l + (j + c) * g.ldb);
    } else if (Cols == 4) {
        // Four rows of the stored B, transposed in registers.
        __m128 r0 = _mm_loadu_ps(g.b + j + l * g.ldb), r1 = _mm_loadu_ps(g.b + j + (l + 1) * g.ldb);
        __m128 r2 = _mm_loadu_ps(g.b + j + (l + 2) * g.ldb), r3 = _mm_loadu_ps(g.b + j + (l + 3) * g.ldb);
        _MM_TRANSPOSE4_PS(r0, r1, r2, r3);
        __m128 rows[4] = {r0, r1, r2, r3};
        for (int c = 0; c < Cols; ++c) bv[c] = rows[c];
    } else {
        for (int c = 0; c < Cols; ++c)
            bv[c] = _mm_setr_ps(op_b(g, l, j + c), op_b(g, l + 1, j + c), op_b(g, l + 2, j + c), op_b(g, l + 3, j + c));
    }
}

// Row i of C, columns j .. j+Cols-1: dot products of row i of op(A) with the columns of op(B).
template <int Cols>
void dot_row(const GemmOperands &g, const float *ai, const RowSplit &split, int64_t i, int64_t j) {
    float sum[Cols];
    for (int c = 0; c < Cols; ++c) sum[c] = 0.0f;
    int64_t l = 0;
    for (; l < split.lead; ++l)
        for (int c = 0; c < Cols; ++c) sum[c] = sum[c] + ai[l] * op_b(g, l, j + c);
    if (split.body > 0) {
        __m128 acc[Cols];
        for (int c = 0; c < Cols; ++c) acc[c] = _mm_setzero_ps();
        const int64_t body_end = split.lead + split.body;
        for (; l < body_end; l += 4) {
            __m128 av = _mm_loadu_ps(ai + l);
            __m128 bv[Cols];
            load_b_steps<Cols>(g, l, j, bv);
            for (int c = 0; c < Cols; ++c) acc[c] = _mm_add_ps(acc[c], _mm_mul_ps(av, bv[c]));
        }
        for (int c = 0; c < Cols; ++c) sum[c] = sum[c] + sum_lanes(acc[c]);
    }
    for (; l < g.k; ++l)
        for (int c = 0; c < Cols; ++c) sum[c] = sum[c] + ai[l] * op_b(g, l, j + c);
    for (int c = 0; c < Cols; ++c) store_sum(g, sum[c], g.c + i + (j + c) * g.ldc);
}

template <AddressRule Rule>
void product_of_dots(const GemmOperands &g) {
    for (int64_t i = 0; i < g.m; ++i) {
        const float *ai = g.a + i * g.lda;
        const RowSplit split = split_run<Rule>(ai, g.k);
        int64_t j = 0;
        for (; j + 4 <= g.n; j += 4) dot_row<4>(g, ai, split, i, j);
        switch (g.n - j) {
            case 3:
                dot_row<3>(g, ai, split, i, j);
                break;
            case 2:
                dot_row<2>(g, ai, split, i, j);
                break;
            case 1:
                dot_row<1>(g, ai, split, i, j);
                break;
            default:
                break;
        }
    }
}

// The whole product; nothing for an empty C.
template <AddressRule Rule>
void buffer_free_product(const GemmOperands &g) {
    if (g.m <= 0 || g.n <= 0) return;
    if (g.k < 1 || g.alpha == 0.0f) {
        if (g.beta != 1.0f)
            for (int64_t j = 0; j < g.n; ++j) scale_elements<Rule>(StridedVector{g.c + j * g.ldc, 1}, g.m, g.beta);
        return;
    }
    if (g.trans_a)
        product_of_dots<Rule>(g);
    else
        product_down_rows<Rule>(g);
}

}  // namespace

#endif
