// packed_buffer_free_product.h - C := alpha*op(A)*op(B) + beta*C straight
// from the caller's matrices, without packing (sgemm_pst of the avx2 and
// avx512 sets, each at its own vector width: packed_vector.h).
//
// The blocked entry uses this routine when C is too narrow for the block
// kernel, the blocked drivers when their buffers cannot be allocated, and
// the no-copy driver for its smallest shapes.  The four transposition cases
// fall into two forms:
//   outer   one operand is contiguous along a dimension of C (A not
//           transposed: a column of A runs down the rows of C; A and B both
//           transposed: a stored column of B runs along a row of C).  That
//           dimension is vectorised, two vectors at a time, and the other
//           operand is broadcast for up to four columns (rows) of C;
//   dot     A transposed and B not: both operands are contiguous along k,
//           so each element of C is a dot product vectorised along k, four
//           rows by two columns at a time.
// Every sum is accumulated with fused multiply-adds; alpha and beta are
// applied when C is stored, and beta 0 stores without reading C.  Without a
// product term (k < 1 or alpha 0) C only takes beta, through the set's
// scaler.  Short tails use masked loads and stores, so nothing outside the
// operands is read or written.
#ifndef ORB_BLAS_KERNELS_PACKED_BUFFER_FREE_PRODUCT_H
#define ORB_BLAS_KERNELS_PACKED_BUFFER_FREE_PRODUCT_H

#include "blas/kernels/packed_vector.h"

namespace {

// The scalars of the store: c := alpha*sum + beta*c, c not read for beta 0.
struct Scalars {
    float alpha;  // multiplies the sum
    float beta;   // multiplies the old C; exactly 0 means C is not read
    float apply(float sum, const float *c) const { return beta == 0.0f ? alpha * sum : alpha * sum + beta * *c; }
};

// Stores count (at most a vector) lanes of alpha*sum + beta*C at p.
template <class Vec>
void store_scaled(float *p, int64_t count, typename Vec::V sum, const Scalars &s) {
    typename Vec::V v = Vec::mul(sum, Vec::set1(s.alpha));
    if (s.beta != 0.0f) v = Vec::fma(Vec::load_part(p, count), Vec::set1(s.beta), v);
    Vec::store_part(p, count, v);
}

// ---------------------------------------------------------------------------
// Outer form.  C element (v, w) is the sum over p of X(v, p)*Y(p, w), where
// X is contiguous along v and Y is broadcast.
// ---------------------------------------------------------------------------
struct OuterForm {
    int64_t nv, nw, k;      // extent of the vectorised dimension, the broadcast one, and k
    const float *x;         // X(v, p) at x[v + p*ldx]
    int64_t ldx;            // leading dimension of X
    const float *y;         // Y(p, w) at y[p*y_step + w*y_col]
    int64_t y_step, y_col;  // strides of Y along p and along w
    float *c;               // C(v, w) at c[v*c_v + w*c_w]
    int64_t c_v, c_w;       // strides of C along v and along w
    Scalars scalars;        // alpha and beta
};

// A tile of up to two vectors along v (count) by W along w, starting at (v0, w0).
template <class Vec, int W>
void outer_tile(const OuterForm &f, int64_t v0, int64_t count, int64_t w0) {
    using V = typename Vec::V;
    constexpr int kWidth = Vec::kWidth;
    V acc[W][2];
    for (int w = 0; w < W; ++w) acc[w][0] = acc[w][1] = Vec::zero();
    const float *x = f.x + v0;
    const float *y = f.y + w0 * f.y_col;
    int64_t lo = count < kWidth ? count : kWidth, hi = count - lo;
    for (int64_t p = 0; p < f.k; ++p, x += f.ldx, y += f.y_step) {
        V x0 = Vec::load_part(x, lo);
        V x1 = hi > 0 ? Vec::load_part(x + kWidth, hi) : Vec::zero();
        for (int w = 0; w < W; ++w) {
            V yv = Vec::broadcast(y + w * f.y_col);
            acc[w][0] = Vec::fma(x0, yv, acc[w][0]);
            acc[w][1] = Vec::fma(x1, yv, acc[w][1]);
        }
    }
    for (int w = 0; w < W; ++w) {
        float *c = f.c + v0 * f.c_v + (w0 + w) * f.c_w;
        if (f.c_v == 1) {
            store_scaled<Vec>(c, lo, acc[w][0], f.scalars);
            if (hi > 0) store_scaled<Vec>(c + kWidth, hi, acc[w][1], f.scalars);
            continue;
        }
        float sum[2 * kWidth];
        Vec::store(sum, acc[w][0]);
        Vec::store(sum + kWidth, acc[w][1]);
        for (int64_t v = 0; v < count; ++v) c[v * f.c_v] = f.scalars.apply(sum[v], c + v * f.c_v);
    }
}

template <class Vec>
void outer_product(const OuterForm &f) {
    constexpr int64_t kTile = 2 * Vec::kWidth;
    for (int64_t w0 = 0; w0 < f.nw; w0 += 4) {
        int64_t width = f.nw - w0 < 4 ? f.nw - w0 : 4;
        for (int64_t v0 = 0; v0 < f.nv; v0 += kTile) {
            int64_t count = f.nv - v0 < kTile ? f.nv - v0 : kTile;
            switch (width) {
            case 4: outer_tile<Vec, 4>(f, v0, count, w0); break;
            case 3: outer_tile<Vec, 3>(f, v0, count, w0); break;
            case 2: outer_tile<Vec, 2>(f, v0, count, w0); break;
            default: outer_tile<Vec, 1>(f, v0, count, w0); break;
            }
        }
    }
}

// ---------------------------------------------------------------------------
// Dot form (A transposed, B not): C(i, j) is the dot product of stored
// column i of A and column j of B, both contiguous along k.
// ---------------------------------------------------------------------------
struct DotForm {
    int64_t m, n, k;     // C is m x n, the dot products k long
    const float *a;      // op(A)(i, p) at a[p + i*lda]
    int64_t lda;         // leading dimension of the stored A
    const float *b;      // op(B)(p, j) at b[p + j*ldb]
    int64_t ldb;         // leading dimension of B
    float *c;            // C(i, j) at c[i + j*ldc]
    int64_t ldc;         // leading dimension of C
    Scalars scalars;     // alpha and beta
};

// R rows by C columns of dot products starting at (i0, j0).
template <class Vec, int R, int C>
void dot_tile(const DotForm &f, int64_t i0, int64_t j0) {
    using V = typename Vec::V;
    constexpr int kWidth = Vec::kWidth;
    V acc[R][C];
    for (int r = 0; r < R; ++r)
        for (int c = 0; c < C; ++c) acc[r][c] = Vec::zero();
    const float *a = f.a + i0 * f.lda;
    const float *b = f.b + j0 * f.ldb;
    for (int64_t p = 0; p < f.k; p += kWidth) {
        int64_t count = f.k - p < kWidth ? f.k - p : kWidth;
        V bv[C];
        for (int c = 0; c < C; ++c) bv[c] = Vec::load_part(b + c * f.ldb + p, count);
        for (int r = 0; r < R; ++r) {
            V av = Vec::load_part(a + r * f.lda + p, count);
            for (int c = 0; c < C; ++c) acc[r][c] = Vec::fma(av, bv[c], acc[r][c]);
        }
    }
    for (int r = 0; r < R; ++r)
        for (int c = 0; c < C; ++c) {
            float *out = f.c + (i0 + r) + (j0 + c) * f.ldc;
            *out = f.scalars.apply(Vec::sum(acc[r][c]), out);
        }
}

template <class Vec, int C>
void dot_rows(const DotForm &f, int64_t j0) {
    int64_t i0 = 0;
    for (; f.m - i0 >= 4; i0 += 4) dot_tile<Vec, 4, C>(f, i0, j0);
    switch (f.m - i0) {
    case 3: dot_tile<Vec, 3, C>(f, i0, j0); break;
    case 2: dot_tile<Vec, 2, C>(f, i0, j0); break;
    case 1: dot_tile<Vec, 1, C>(f, i0, j0); break;
    default: break;
    }
}

template <class Vec>
void dot_product(const DotForm &f) {
    int64_t j0 = 0;
    for (; f.n - j0 >= 2; j0 += 2) dot_rows<Vec, 2>(f, j0);
    if (j0 < f.n) dot_rows<Vec, 1>(f, j0);
}

inline bool is_no_trans(const char *t) { return *t == 'N' || *t == 'n'; }

// The set's C := beta*C (sgemm_mscale).
using ScaleFn = void (*)(const int64_t *m, const int64_t *n, const float *beta, float *c, const int64_t *ldc);

template <class Vec>
void buffer_free_product(ScaleFn scale, const char *transa, const char *transb, const int64_t *m, const int64_t *n,
                         const int64_t *k, const float *alpha, const float *a, const int64_t *lda, const float *b,
                         const int64_t *ldb, const float *beta, float *c, const int64_t *ldc) {
    if (*m <= 0 || *n <= 0) return;
    if (*k <= 0 || *alpha == 0.0f) {
        if (*beta != 1.0f) scale(m, n, beta, c, ldc);
        return;
    }
    Scalars scalars{*alpha, *beta};
    bool a_plain = is_no_trans(transa), b_plain = is_no_trans(transb);
    if (a_plain) {
        // Columns of A run down the columns of C; B is broadcast along its
        // columns (B plain) or its rows (B transposed).
        OuterForm f{*m, *n, *k, a, *lda, b, b_plain ? 1 : *ldb, b_plain ? *ldb : 1, c, 1, *ldc, scalars};
        outer_product<Vec>(f);
    } else if (!b_plain) {
        // Stored columns of B run along the rows of C; A is broadcast.
        OuterForm f{*n, *m, *k, b, *ldb, a, 1, *lda, c, *ldc, 1, scalars};
        outer_product<Vec>(f);
    } else {
        DotForm f{*m, *n, *k, a, *lda, b, *ldb, c, *ldc, scalars};
        dot_product<Vec>(f);
    }
}

}  // namespace

#endif
