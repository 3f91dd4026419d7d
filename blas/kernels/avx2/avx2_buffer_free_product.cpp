// avx2_buffer_free_product.cpp - C := alpha*op(A)*op(B) + beta*C straight
// from the caller's matrices, without packing.
//
// The blocked entry uses this routine when C is too narrow for the block
// kernel, the blocked drivers when their buffers cannot be allocated, and
// the no-copy driver for its smallest shapes.  The four transposition cases
// fall into two forms:
//   outer   one operand is contiguous along a dimension of C (A not
//           transposed: a column of A runs down the rows of C; A and B both
//           transposed: a stored column of B runs along a row of C).  That
//           dimension is vectorised, 16 floats at a time, and the other
//           operand is broadcast for up to four columns (rows) of C;
//   dot     A transposed and B not: both operands are contiguous along k,
//           so each element of C is a dot product vectorised along k, four
//           rows by two columns at a time.
// Every sum is accumulated with fused multiply-adds; alpha and beta are
// applied when C is stored, and beta 0 stores without reading C.  Short
// tails use masked loads and stores, so nothing outside the operands is
// read or written.
#include <immintrin.h>

#include "blas/kernels/avx2/avx2_kernels.h"

namespace {

// The lanes below count set, the others clear.
__m256i lanes_below(int64_t count) {
    return _mm256_cmpgt_epi32(_mm256_set1_epi32(static_cast<int>(count)), _mm256_setr_epi32(0, 1, 2, 3, 4, 5, 6, 7));
}

// Loads count (at most 8) floats; lanes beyond count are zero and not read.
__m256 load_part(const float *p, int64_t count) {
    return count >= 8 ? _mm256_loadu_ps(p) : _mm256_maskload_ps(p, lanes_below(count));
}

// The scalars of the store: c := alpha*sum + beta*c, c not read for beta 0.
struct Scalars {
    float alpha;  // multiplies the sum
    float beta;   // multiplies the old C; exactly 0 means C is not read
    float apply(float sum, const float *c) const { return beta == 0.0f ? alpha * sum : alpha * sum + beta * *c; }
};

// Stores count (at most 8) lanes of alpha*sum + beta*C at p.
void store_part(float *p, int64_t count, __m256 sum, const Scalars &s) {
    __m256 v = _mm256_mul_ps(sum, _mm256_set1_ps(s.alpha));
    __m256i mask = lanes_below(count);
    if (s.beta != 0.0f) {
        __m256 old = count >= 8 ? _mm256_loadu_ps(p) : _mm256_maskload_ps(p, mask);
        v = _mm256_fmadd_ps(old, _mm256_set1_ps(s.beta), v);
    }
    if (count >= 8) _mm256_storeu_ps(p, v);
    else _mm256_maskstore_ps(p, mask, v);
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

// A tile of up to 16 along v (count) by W along w, starting at (v0, w0).
template <int W>
void outer_tile(const OuterForm &f, int64_t v0, int64_t count, int64_t w0) {
    __m256 acc[W][2];
    for (int w = 0; w < W; ++w) acc[w][0] = acc[w][1] = _mm256_setzero_ps();
    const float *x = f.x + v0;
    const float *y = f.y + w0 * f.y_col;
    int64_t lo = count < 8 ? count : 8, hi = count - lo;
    for (int64_t p = 0; p < f.k; ++p, x += f.ldx, y += f.y_step) {
        __m256 x0 = load_part(x, lo);
        __m256 x1 = hi > 0 ? load_part(x + 8, hi) : _mm256_setzero_ps();
        for (int w = 0; w < W; ++w) {
            __m256 yv = _mm256_broadcast_ss(y + w * f.y_col);
            acc[w][0] = _mm256_fmadd_ps(x0, yv, acc[w][0]);
            acc[w][1] = _mm256_fmadd_ps(x1, yv, acc[w][1]);
        }
    }
    for (int w = 0; w < W; ++w) {
        float *c = f.c + v0 * f.c_v + (w0 + w) * f.c_w;
        if (f.c_v == 1) {
            store_part(c, lo, acc[w][0], f.scalars);
            if (hi > 0) store_part(c + 8, hi, acc[w][1], f.scalars);
            continue;
        }
        alignas(32) float sum[16];
        _mm256_store_ps(sum, acc[w][0]);
        _mm256_store_ps(sum + 8, acc[w][1]);
        for (int64_t v = 0; v < count; ++v) c[v * f.c_v] = f.scalars.apply(sum[v], c + v * f.c_v);
    }
}

void outer_product(const OuterForm &f) {
    for (int64_t w0 = 0; w0 < f.nw; w0 += 4) {
        int64_t width = f.nw - w0 < 4 ? f.nw - w0 : 4;
        for (int64_t v0 = 0; v0 < f.nv; v0 += 16) {
            int64_t count = f.nv - v0 < 16 ? f.nv - v0 : 16;
            switch (width) {
            case 4: outer_tile<4>(f, v0, count, w0); break;
            case 3: outer_tile<3>(f, v0, count, w0); break;
            case 2: outer_tile<2>(f, v0, count, w0); break;
            default: outer_tile<1>(f, v0, count, w0); break;
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

float horizontal_sum(__m256 v) {
    __m128 s = _mm_add_ps(_mm256_castps256_ps128(v), _mm256_extractf128_ps(v, 1));
    s = _mm_add_ps(s, _mm_movehl_ps(s, s));
    s = _mm_add_ss(s, _mm_movehdup_ps(s));
    return _mm_cvtss_f32(s);
}

// R rows by C columns of dot products starting at (i0, j0).
template <int R, int C>
void dot_tile(const DotForm &f, int64_t i0, int64_t j0) {
    __m256 acc[R][C];
    for (int r = 0; r < R; ++r)
        for (int c = 0; c < C; ++c) acc[r][c] = _mm256_setzero_ps();
    const float *a = f.a + i0 * f.lda;
    const float *b = f.b + j0 * f.ldb;
    for (int64_t p = 0; p < f.k; p += 8) {
        int64_t count = f.k - p < 8 ? f.k - p : 8;
        __m256 bv[C];
        for (int c = 0; c < C; ++c) bv[c] = load_part(b + c * f.ldb + p, count);
        for (int r = 0; r < R; ++r) {
            __m256 av = load_part(a + r * f.lda + p, count);
            for (int c = 0; c < C; ++c) acc[r][c] = _mm256_fmadd_ps(av, bv[c], acc[r][c]);
        }
    }
    for (int r = 0; r < R; ++r)
        for (int c = 0; c < C; ++c) {
            float *out = f.c + (i0 + r) + (j0 + c) * f.ldc;
            *out = f.scalars.apply(horizontal_sum(acc[r][c]), out);
        }
}

template <int C>
void dot_rows(const DotForm &f, int64_t j0) {
    int64_t i0 = 0;
    for (; f.m - i0 >= 4; i0 += 4) dot_tile<4, C>(f, i0, j0);
    switch (f.m - i0) {
    case 3: dot_tile<3, C>(f, i0, j0); break;
    case 2: dot_tile<2, C>(f, i0, j0); break;
    case 1: dot_tile<1, C>(f, i0, j0); break;
    default: break;
    }
}

void dot_product(const DotForm &f) {
    int64_t j0 = 0;
    for (; f.n - j0 >= 2; j0 += 2) dot_rows<2>(f, j0);
    if (j0 < f.n) dot_rows<1>(f, j0);
}

bool is_no_trans(const char *t) { return *t == 'N' || *t == 'n'; }

}  // namespace

extern "C" {

void orb_blas_avx2_sgemm_pst(const char *transa, const char *transb, const int64_t *m, const int64_t *n,
                             const int64_t *k, const float *alpha, const float *a, const int64_t *lda, const float *b,
                             const int64_t *ldb, const float *beta, float *c, const int64_t *ldc) {
    if (*m <= 0 || *n <= 0) return;
    if (*k <= 0 || *alpha == 0.0f) {
        if (*beta != 1.0f) orb_blas_avx2_sgemm_mscale(m, n, beta, c, ldc);
        return;
    }
    Scalars scalars{*alpha, *beta};
    bool a_plain = is_no_trans(transa), b_plain = is_no_trans(transb);
    if (a_plain) {
        // Columns of A run down the columns of C; B is broadcast along its
        // columns (B plain) or its rows (B transposed).
        OuterForm f{*m, *n, *k, a, *lda, b, b_plain ? 1 : *ldb, b_plain ? *ldb : 1, c, 1, *ldc, scalars};
        outer_product(f);
    } else if (!b_plain) {
        // Stored columns of B run along the rows of C; A is broadcast.
        OuterForm f{*n, *m, *k, b, *ldb, a, 1, *lda, c, *ldc, 1, scalars};
        outer_product(f);
    } else {
        DotForm f{*m, *n, *k, a, *lda, b, *ldb, c, *ldc, scalars};
        dot_product(f);
    }
}

}  // extern "C"
