// baseline_block_kernel.h - the 8 x 4 block kernel of the baseline sets.
//
// C(m x n) := (beta form of C) + packed A x packed B, where packed A holds
// m/8 panels of 8 rows and packed B n/4 panels of 4 columns over kp k steps
// (baseline_packers.h; kp a multiple of 4, alpha already in A).
//
// SSE2 has no broadcast from memory and no fused multiply-add.  Each 4-column
// B panel is therefore first expanded into a scratch area in which every B
// value fills a whole 4-float vector (a k step becomes four vectors, 64
// bytes), so the multiplies can take their B operand straight from memory.
// The expanded panel (64*kp bytes, 7 KiB for kp = 112) stays in the
// first-level cache while every A panel of the block streams past it: per k
// step the kernel loads 32 bytes of A and multiplies the two A vectors (rows
// 0-3 and 4-7) by the four B vectors into eight accumulators, a multiply and
// a separate add each.  The A stream is the smaller of the two, so it is the one
// that comes from the second level.
//
// Every element of the tile is the sum of its kp products taken in k order,
// then one addition to C.  Three forms differ only in that addition:
//   BetaForm::One    C := C + AB
//   BetaForm::Zero   C := AB, C never read (NaN in C vanishes)
//   BetaForm::Other  C := beta*C + AB
#ifndef ORB_BLAS_KERNELS_BASELINE_BLOCK_KERNEL_H
#define ORB_BLAS_KERNELS_BASELINE_BLOCK_KERNEL_H

#include <emmintrin.h>

#include <cstdint>

#include "blas/kernels/opaque_pointer.h"

namespace {

// How the finished tile meets C.
enum class BetaForm {
    One,    // added to C
    Zero,   // stored over C
    Other,  // added to beta*C
};

// Distance in bytes of the software prefetch ahead of the A stream.
constexpr int kBaselineAPrefetchBytes = 512;

// Fills scratch with the panel's kp steps, each of the 4 B values repeated four times.
inline void expand_b_panel(const float *panel, int64_t kp, float *scratch) {
    for (int64_t p = 0; p < kp; ++p, panel += 4, scratch += 16) {
        __m128 v = _mm_load_ps(panel);
        _mm_store_ps(scratch, _mm_shuffle_ps(v, v, _MM_SHUFFLE(0, 0, 0, 0)));
        _mm_store_ps(scratch + 4, _mm_shuffle_ps(v, v, _MM_SHUFFLE(1, 1, 1, 1)));
        _mm_store_ps(scratch + 8, _mm_shuffle_ps(v, v, _MM_SHUFFLE(2, 2, 2, 2)));
        _mm_store_ps(scratch + 12, _mm_shuffle_ps(v, v, _MM_SHUFFLE(3, 3, 3, 3)));
    }
}

template <BetaForm F>
inline void finish_column(float *c, __m128 top, __m128 bottom, __m128 beta) {
    if (F == BetaForm::One) {
        top = _mm_add_ps(_mm_loadu_ps(c), top);
        bottom = _mm_add_ps(_mm_loadu_ps(c + 4), bottom);
    } else if (F == BetaForm::Other) {
        top = _mm_add_ps(_mm_mul_ps(beta, _mm_loadu_ps(c)), top);
        bottom = _mm_add_ps(_mm_mul_ps(beta, _mm_loadu_ps(c + 4)), bottom);
    }
    _mm_storeu_ps(c, top);
    _mm_storeu_ps(c + 4, bottom);
}

// One step of the tile: the A vectors of step s times the four B vectors.
// A two-operand multiply overwrites one of its operands, so a B vector that
// serves both A vectors costs a register copy; copies compete with the
// arithmetic, while the first-level cache has loads to spare.  Columns 0 and
// 2 load their B vector once and copy it; columns 1 and 3 load it once per A
// vector (the second time through opaque_pointer.h), so those multiplies
// take B straight from memory.  That balance of eight loads and two copies
// per step keeps the multiply and add pipes busiest.
#define ORB_BASELINE_TILE_STEP(s)                                        \
    do {                                                                 \
        const float *b = bx + 16 * (s), *b_again = opaque(b);            \
        const __m128 a0 = _mm_load_ps(a + 8 * (s));                      \
        const __m128 a1 = _mm_load_ps(a + 8 * (s) + 4);                  \
        __m128 shared = _mm_load_ps(b);                                  \
        c00 = _mm_add_ps(c00, _mm_mul_ps(a0, shared));                   \
        c10 = _mm_add_ps(c10, _mm_mul_ps(a1, shared));                   \
        c01 = _mm_add_ps(c01, _mm_mul_ps(a0, _mm_load_ps(b + 4)));       \
        c11 = _mm_add_ps(c11, _mm_mul_ps(a1, _mm_load_ps(b_again + 4))); \
        shared = _mm_load_ps(b + 8);                                     \
        c02 = _mm_add_ps(c02, _mm_mul_ps(a0, shared));                   \
        c12 = _mm_add_ps(c12, _mm_mul_ps(a1, shared));                   \
        c03 = _mm_add_ps(c03, _mm_mul_ps(a0, _mm_load_ps(b + 12)));      \
        c13 = _mm_add_ps(c13, _mm_mul_ps(a1, _mm_load_ps(b_again + 12))); \
    } while (0)

// The 8 x 4 tile at c: A panel a and expanded B panel bx, kp steps.
template <BetaForm F>
inline void block_tile(const float *a, const float *bx, int64_t kp, float *c, int64_t ldc, __m128 beta) {
    // C is touched only at the end; start fetching its four columns now.
    for (int j = 0; j < 4; ++j) {
        _mm_prefetch(reinterpret_cast<const char *>(c + j * ldc), _MM_HINT_T0);
        _mm_prefetch(reinterpret_cast<const char *>(c + j * ldc + 7), _MM_HINT_T0);
    }
    __m128 c00 = _mm_setzero_ps(), c01 = _mm_setzero_ps(), c02 = _mm_setzero_ps(), c03 = _mm_setzero_ps();
    __m128 c10 = _mm_setzero_ps(), c11 = _mm_setzero_ps(), c12 = _mm_setzero_ps(), c13 = _mm_setzero_ps();
    for (int64_t p = 0; p < kp; p += 4, a += 32, bx += 64) {
        _mm_prefetch(reinterpret_cast<const char *>(a) + kBaselineAPrefetchBytes, _MM_HINT_T0);
        ORB_BASELINE_TILE_STEP(0);
        ORB_BASELINE_TILE_STEP(1);
        _mm_prefetch(reinterpret_cast<const char *>(a) + kBaselineAPrefetchBytes + 64, _MM_HINT_T0);
        ORB_BASELINE_TILE_STEP(2);
        ORB_BASELINE_TILE_STEP(3);
    }
    finish_column<F>(c, c00, c10, beta);
    finish_column<F>(c + ldc, c01, c11, beta);
    finish_column<F>(c + 2 * ldc, c02, c12, beta);
    finish_column<F>(c + 3 * ldc, c03, c13, beta);
}

#undef ORB_BASELINE_TILE_STEP

// The whole block: for each B panel, expand it, then run every A panel past it.
template <BetaForm F>
void block_kernel(int64_t m, int64_t n, int64_t kp, const float *a_pack, const float *b_pack, float beta, float *c,
                  int64_t ldc, float *scratch) {
    const __m128 beta_vector = _mm_set1_ps(beta);
    for (int64_t j = 0; j + 4 <= n; j += 4) {
        expand_b_panel(b_pack + j * kp, kp, scratch);
        const float *a = a_pack;
        for (int64_t i = 0; i + 8 <= m; i += 8, a += 8 * kp)
            block_tile<F>(a, scratch, kp, c + i + j * ldc, ldc, beta_vector);
    }
}

}  // namespace

#endif
