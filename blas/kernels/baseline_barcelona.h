// baseline_barcelona.h - the GEMM sub-model of the AMD Barcelona family, baseline sets.
//
// On a Barcelona-family processor the baseline driver hands the whole call
// to xsgemm1_brc; the legacy threaded driver calls xsgemm0_brc for each
// thread's block.  Both compute full sums: every element of C receives its
// complete inner product s and is stored once as alpha*s + beta*c (alpha*s
// without reading c when beta is 0); nothing partial is ever stored in C.
//
// xsgemm1_brc packs op(B) one 4-column panel at a time over the whole k, each
// value repeated to a 4-float vector (64 bytes per k step; missing columns of
// the last panel are zero), into one buffer of 64*k bytes.  A small kernel
// then runs 8-row and 4-row tiles of C down the panel, reading op(A) in place:
// a column of A gives a row vector directly, a transposed A four stored
// columns at a time, transposed in registers.  Each element's products are
// added in increasing k from 0, exactly as the set's buffer-free product does
// for an untransposed A.  The last m mod 4 rows, small shapes (m < 4, n < 4
// or k < 4) and a refused buffer go to sgemm_pst_brc.
//
// xsgemm0_brc takes no buffer: it scales C for alpha = 0 and otherwise calls
// sgemm_pst_brc on the block.
//
// What the two sets do differently lies in their own members: sgemm_pst_brc
// follows the set's address rule, sgemm_mscale_brc and the B packers are
// vectorised in two ways with the same results (baseline_scaling.h and the
// packers below).
#ifndef ORB_BLAS_KERNELS_BASELINE_BARCELONA_H
#define ORB_BLAS_KERNELS_BASELINE_BARCELONA_H

#include <emmintrin.h>

#include <cstdint>

#include "blas/kernels/baseline_buffer_free_product.h"
#include "blas/kernels/kernel_interface.h"
#include "blas/kernels/sse_vector_access.h"
#include "orb_memory.h"

namespace {

// The sub-model's scaler, C := beta*C (beta 0 clears without reading).
using BarcelonaScaleFn = void (*)(const int64_t *m, const int64_t *n, const float *beta, float *c, const int64_t *ldc);
// Its packer of 4 columns of an untransposed B over k steps, expanded.
using BarcelonaFullPanelFn = void (*)(const int64_t *k, const float *b, const int64_t *ldb, float *dst);
// Its packers of cols (1 to 4) columns over k steps, expanded, missing columns zero.
using BarcelonaPanelFn = void (*)(const int64_t *k, const float *b, const int64_t *ldb, const int64_t *cols,
                                  float *dst);

// The members of one set that the sub-model drivers call.
struct BarcelonaMembers {
    XsgemmFn buffer_free;              // sgemm_pst_brc
    BarcelonaScaleFn scale;            // sgemm_mscale_brc
    BarcelonaFullPanelFn pack_full;    // sgemm_copybn_brc
    BarcelonaPanelFn pack_part;        // sgemm_copybn_0_brc
    BarcelonaPanelFn pack_transposed;  // sgemm_copybt_brc
};

constexpr int kBarcelonaBufferAlignment = 128;

// --- B panels ---------------------------------------------------------------

inline void store_expanded(float *dst, __m128 step) {
    _mm_store_ps(dst, _mm_shuffle_ps(step, step, _MM_SHUFFLE(0, 0, 0, 0)));
    _mm_store_ps(dst + 4, _mm_shuffle_ps(step, step, _MM_SHUFFLE(1, 1, 1, 1)));
    _mm_store_ps(dst + 8, _mm_shuffle_ps(step, step, _MM_SHUFFLE(2, 2, 2, 2)));
    _mm_store_ps(dst + 12, _mm_shuffle_ps(step, step, _MM_SHUFFLE(3, 3, 3, 3)));
}

// cols (1 to 4) columns of an untransposed B.  The ordinary set reads four
// steps of the columns at a time and transposes them in registers; the
// reproducible set broadcasts value by value.  Both write the same panel.
template <AddressRule Rule>
void pack_barcelona_columns(int64_t k, const float *b, int64_t ldb, int64_t cols, float *dst) {
    const float *column[4];
    for (int64_t t = 0; t < 4; ++t) column[t] = t < cols ? b + t * ldb : nullptr;
    int64_t p = 0;
    if (Rule == AddressRule::AlignToAddress) {
        for (; p + 4 <= k; p += 4, dst += 64) {
            __m128 r[4];
            for (int t = 0; t < 4; ++t) r[t] = column[t] ? _mm_loadu_ps(column[t] + p) : _mm_setzero_ps();
            _MM_TRANSPOSE4_PS(r[0], r[1], r[2], r[3]);
            for (int s = 0; s < 4; ++s) store_expanded(dst + 16 * s, r[s]);
        }
    }
    for (; p < k; ++p, dst += 16)
        for (int t = 0; t < 4; ++t) _mm_store_ps(dst + 4 * t, _mm_set1_ps(column[t] ? column[t][p] : 0.0f));
}

// cols (1 to 4) columns of a transposed B: each step's values are contiguous.
inline void pack_barcelona_rows(int64_t k, const float *b, int64_t ldb, int64_t cols, float *dst) {
    for (int64_t p = 0; p < k; ++p, b += ldb, dst += 16) {
        if (cols == 4) {
            store_expanded(dst, _mm_loadu_ps(b));
            continue;
        }
        for (int64_t t = 0; t < 4; ++t) _mm_store_ps(dst + 4 * t, _mm_set1_ps(t < cols ? b[t] : 0.0f));
    }
}

// --- the kernel ---------------------------------------------------------------

// Rows i .. i+4*Vecs-1 of op(A), steps l .. l+3, one vector per step and row group.
template <int Vecs>
inline void load_a_steps_transposed(const float *a, int64_t lda, int64_t i, int64_t l, __m128 (&av)[4][Vecs]) {
    for (int v = 0; v < Vecs; ++v) {
        const float *col = a + l + (i + 4 * v) * lda;
        __m128 r0 = _mm_loadu_ps(col), r1 = _mm_loadu_ps(col + lda);
        __m128 r2 = _mm_loadu_ps(col + 2 * lda), r3 = _mm_loadu_ps(col + 3 * lda);
        _MM_TRANSPOSE4_PS(r0, r1, r2, r3);
        av[0][v] = r0;
        av[1][v] = r1;
        av[2][v] = r2;
        av[3][v] = r3;
    }
}

template <int Vecs>
inline void barcelona_step(const __m128 (&av)[Vecs], const float *bx, __m128 (&acc)[Vecs][4]) {
    for (int t = 0; t < 4; ++t) {
        const __m128 b = _mm_load_ps(bx + 4 * t);
        for (int v = 0; v < Vecs; ++v) acc[v][t] = _mm_add_ps(acc[v][t], _mm_mul_ps(av[v], b));
    }
}

// The 4*Vecs x cols tile of C at row i over the whole k, panel bx.
template <int Vecs>
void barcelona_tile(const GemmOperands &g, const float *bx, int64_t i, float *c, int64_t cols) {
    __m128 acc[Vecs][4];
    for (int v = 0; v < Vecs; ++v)
        for (int t = 0; t < 4; ++t) acc[v][t] = _mm_setzero_ps();
    int64_t l = 0;
    if (!g.trans_a) {
        const float *a = g.a + i;
        for (; l < g.k; ++l, a += g.lda, bx += 16) {
            __m128 av[Vecs];
            for (int v = 0; v < Vecs; ++v) av[v] = _mm_loadu_ps(a + 4 * v);
            barcelona_step<Vecs>(av, bx, acc);
        }
    } else {
        for (; l + 4 <= g.k; l += 4, bx += 64) {
            __m128 av[4][Vecs];
            load_a_steps_transposed<Vecs>(g.a, g.lda, i, l, av);
            for (int s = 0; s < 4; ++s) barcelona_step<Vecs>(av[s], bx + 16 * s, acc);
        }
        for (; l < g.k; ++l, bx += 16) {
            __m128 av[Vecs];
            for (int v = 0; v < Vecs; ++v) {
                const float *col = g.a + l + (i + 4 * v) * g.lda;
                av[v] = _mm_setr_ps(col[0], col[g.lda], col[2 * g.lda], col[3 * g.lda]);
            }
            barcelona_step<Vecs>(av, bx, acc);
        }
    }
    for (int64_t t = 0; t < cols; ++t)
        for (int v = 0; v < Vecs; ++v) store_sums(g, acc[v][t], c + 4 * v + t * g.ldc);
}

// --- the drivers --------------------------------------------------------------

// Quick returns shared by both drivers; true when nothing is left to do.
// Without a product term (alpha 0 or k 0) C only takes beta.
inline bool barcelona_trivial(const BarcelonaMembers &set, const int64_t *m, const int64_t *n, const int64_t *k,
                              const float *alpha, const float *beta, float *c, const int64_t *ldc) {
    if (*m < 1 || *n < 1) return true;
    if (*alpha != 0.0f && *k >= 1) return false;
    if (*beta != 1.0f) set.scale(m, n, beta, c, ldc);
    return true;
}

inline void barcelona_xsgemm1(const BarcelonaMembers &set, const char *transa, const char *transb, const int64_t *m,
                              const int64_t *n, const int64_t *k, const float *alpha, const float *a,
                              const int64_t *lda, const float *b, const int64_t *ldb, const float *beta, float *c,
                              const int64_t *ldc) {
    if (barcelona_trivial(set, m, n, k, alpha, beta, c, ldc)) return;
    float *panel = nullptr;
    if (*m >= 4 && *n >= 4 && *k >= 4)
        panel = static_cast<float *>(orb_serv_allocate(static_cast<size_t>(*k) * 64, kBarcelonaBufferAlignment));
    if (panel == nullptr) {
        set.buffer_free(transa, transb, m, n, k, alpha, a, lda, b, ldb, beta, c, ldc);
        return;
    }
    const GemmOperands g = gemm_operands(transa, transb, m, n, k, alpha, a, lda, b, ldb, beta, c, ldc);
    const int64_t m4 = g.m / 4 * 4;
    for (int64_t j = 0; j < g.n; j += 4) {
        const int64_t cols = g.n - j < 4 ? g.n - j : 4;
        if (g.trans_b)
            set.pack_transposed(k, g.b + j, ldb, &cols, panel);
        else if (cols == 4)
            set.pack_full(k, g.b + j * g.ldb, ldb, panel);
        else
            set.pack_part(k, g.b + j * g.ldb, ldb, &cols, panel);
        int64_t i = 0;
        for (; i + 8 <= m4; i += 8) barcelona_tile<2>(g, panel, i, g.c + i + j * g.ldc, cols);
        for (; i < m4; i += 4) barcelona_tile<1>(g, panel, i, g.c + i + j * g.ldc, cols);
    }
    orb_serv_deallocate(panel);
    if (m4 < g.m) {
        const int64_t rows = g.m - m4;
        const float *a_rows = g.trans_a ? g.a + m4 * g.lda : g.a + m4;
        set.buffer_free(transa, transb, &rows, n, k, alpha, a_rows, lda, b, ldb, beta, c + m4, ldc);
    }
}

inline void barcelona_xsgemm0(const BarcelonaMembers &set, const char *transa, const char *transb, const int64_t *m,
                              const int64_t *n, const int64_t *k, const float *alpha, const float *a,
                              const int64_t *lda, const float *b, const int64_t *ldb, const float *beta, float *c,
                              const int64_t *ldc) {
    if (barcelona_trivial(set, m, n, k, alpha, beta, c, ldc)) return;
    set.buffer_free(transa, transb, m, n, k, alpha, a, lda, b, ldb, beta, c, ldc);
}

}  // namespace

#endif
