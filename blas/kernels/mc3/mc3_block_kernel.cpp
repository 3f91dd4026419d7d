// mc3_block_kernel.cpp - the block kernel of the mc3 set: packed A times
// packed B into a block of C, with 128-bit multiplies and separate adds.
//
// A 4 x 8 tile of C lives in eight accumulators, two per row (columns 0-3
// and 4-7).  Before an A panel is multiplied, sgemm_copya_ext spreads it into
// a scratch area on the stack in broadcast form (each A value four times, 16
// floats per k step).  A k step then loads the eight B values of the panel
// as two vectors and, for each of the four rows, multiplies its spread A
// value by both and adds: eight multiplies and eight adds.  A two-operand
// multiply overwrites an operand, so a spread value that serves both B
// vectors costs a register copy, and copies compete with the arithmetic;
// the first-level cache, at two 128-bit loads a cycle, has room for eight
// loads in the four cycles the arithmetic takes.  Rows 0 and 2 therefore
// load their spread value once and copy it, rows 1 and 3 load it once per B
// vector: eight loads and two copies a step.  Broadcasting or rotating
// inside the loop would cost shuffles, which share the multiply and add
// pipes.  The k loop is unrolled by eight, with a loop of four for the rest.
// At the end of the tile the rows are transposed into columns of C.
//
// Loop order.  The B panels are taken in groups that stay in the second-level
// cache: kernel version 4 says the whole packed B block fits in 512 KiB, so
// the group is the whole block; version 2 (a larger B block) takes groups of
// 384 KiB.  For each group, every 4-row A panel of the block is spread once
// (16 KiB for 256 steps, kept in the first-level cache) and multiplied by all
// the B panels of the group as they stream past from the second level (the
// kernel asks for them 512 bytes ahead); the next A panel is fetched
// meanwhile.  Four A panels in a row share the lines of C they update.  A
// tile fetches its lines of C to the second-level cache when it starts and
// to the first only for its last 64 steps: with a power-of-two ldc the eight
// columns fall into one set of the first-level cache, and lines brought
// there early are pushed out before they are used.
//
// k is taken in chunks of at most 256 steps, the size of the scratch; the
// first chunk applies beta, the others accumulate.  The eight kernels are
// one template over the kernel version, beta zero or not (a zero beta stores
// the tile without reading C, so NaN in C does not survive), and C aligned
// or not (base on 16 bytes and ldc a multiple of 4: aligned loads and
// stores).  The m mod 4 edge rows go to sgemm_ker0_pst, which multiplies the
// spread edge panel of A by the B panels as they are packed.
#include <smmintrin.h>

#include <algorithm>
#include <cstdint>

#include "blas/kernels/mc3/mc3_blocking.h"
#include "blas/kernels/mc3/mc3_kernels.h"
#include "blas/kernels/opaque_pointer.h"

namespace {

using mc3::kPanelCols;
using mc3::kPanelRows;

constexpr int64_t kChunkSteps = 256;                    // k steps spread into the scratch at once
constexpr int64_t kSpreadPanelFloats = 4 * kPanelRows;  // scratch floats per k step
constexpr int64_t kGroupBytesVersion2 = 384 * 1024;     // packed B per group when the block does not fit
constexpr int64_t kCFetchSteps = 64;                    // steps before a tile's end that C goes to L1
constexpr int64_t kBPrefetchBytes = 512;                // distance of the prefetch ahead of the B stream

template <bool Aligned>
inline __m128 load_c(const float *p) {
    return Aligned ? _mm_load_ps(p) : _mm_loadu_ps(p);
}
template <bool Aligned>
inline void store_c(float *p, __m128 v) {
    if (Aligned)
        _mm_store_ps(p, v);
    else
        _mm_storeu_ps(p, v);
}

// One column of a tile into C: C := tile (beta zero) or C + tile.
template <bool BetaZero, bool Aligned>
inline void store_column(float *c, __m128 v) {
    store_c<Aligned>(c, BetaZero ? v : _mm_add_ps(load_c<Aligned>(c), v));
}

// The 4 x 8 tile at c: spread A panel s (16 floats per step) times the
// packed B panel b (8 floats per step) over `steps` steps (a multiple of 4);
// only the first `width` columns are stored.
template <bool BetaZero, bool Aligned>
inline void tile_4x8(const float *s, const float *b, int64_t steps, float *c, int64_t ldc, int64_t width) {
    // r<row><half>: row 0-3 of the tile, columns 0-3 (l) or 4-7 (h).
    __m128 r0l = _mm_setzero_ps(), r0h = r0l, r1l = r0l, r1h = r0l, r2l = r0l, r2h = r0l, r3l = r0l, r3h = r0l;
    auto step = [&](int64_t p) {
        const __m128 bl = _mm_loadu_ps(b + kPanelCols * p), bh = _mm_loadu_ps(b + kPanelCols * p + 4);
        const float *sp = s + kSpreadPanelFloats * p, *sp_again = opaque(sp);
        __m128 shared = _mm_load_ps(sp);
        r0l = _mm_add_ps(r0l, _mm_mul_ps(shared, bl));
        r0h = _mm_add_ps(r0h, _mm_mul_ps(shared, bh));
        r1l = _mm_add_ps(r1l, _mm_mul_ps(_mm_load_ps(sp + 4), bl));
        r1h = _mm_add_ps(r1h, _mm_mul_ps(_mm_load_ps(sp_again + 4), bh));
        shared = _mm_load_ps(sp + 8);
        r2l = _mm_add_ps(r2l, _mm_mul_ps(shared, bl));
        r2h = _mm_add_ps(r2h, _mm_mul_ps(shared, bh));
        r3l = _mm_add_ps(r3l, _mm_mul_ps(_mm_load_ps(sp + 12), bl));
        r3h = _mm_add_ps(r3h, _mm_mul_ps(_mm_load_ps(sp_again + 12), bh));
    };
    // C is touched only at the end: to the second level now, to the first
    // for the last kCFetchSteps steps.
    for (int64_t j = 0; j < width; ++j) _mm_prefetch(reinterpret_cast<const char *>(c + j * ldc), _MM_HINT_T1);
    const int64_t late = std::max<int64_t>(0, steps - kCFetchSteps) / 8 * 8;
    int64_t p = 0;
    // The B stream is asked for kBPrefetchBytes ahead, a line per four steps.
    const char *b_ahead = reinterpret_cast<const char *>(b) + kBPrefetchBytes;
    for (; p < late; p += 8) {
        _mm_prefetch(b_ahead + kPanelCols * sizeof(float) * p, _MM_HINT_T0);
        step(p), step(p + 1), step(p + 2), step(p + 3);
        _mm_prefetch(b_ahead + kPanelCols * sizeof(float) * (p + 4), _MM_HINT_T0);
        step(p + 4), step(p + 5), step(p + 6), step(p + 7);
    }
    for (int64_t j = 0; j < width; ++j) _mm_prefetch(reinterpret_cast<const char *>(c + j * ldc), _MM_HINT_T0);
    for (; p + 8 <= steps; p += 8) {
        step(p), step(p + 1), step(p + 2), step(p + 3);
        step(p + 4), step(p + 5), step(p + 6), step(p + 7);
    }
    for (; p < steps; p += 4) step(p), step(p + 1), step(p + 2), step(p + 3);

    // Rows to columns: after the transposes rXl holds column X, rXh column 4+X.
    _MM_TRANSPOSE4_PS(r0l, r1l, r2l, r3l);
    _MM_TRANSPOSE4_PS(r0h, r1h, r2h, r3h);
    if (width == kPanelCols) {
        store_column<BetaZero, Aligned>(c, r0l);
        store_column<BetaZero, Aligned>(c + ldc, r1l);
        store_column<BetaZero, Aligned>(c + 2 * ldc, r2l);
        store_column<BetaZero, Aligned>(c + 3 * ldc, r3l);
        store_column<BetaZero, Aligned>(c + 4 * ldc, r0h);
        store_column<BetaZero, Aligned>(c + 5 * ldc, r1h);
        store_column<BetaZero, Aligned>(c + 6 * ldc, r2h);
        store_column<BetaZero, Aligned>(c + 7 * ldc, r3h);
        return;
    }
    const __m128 columns[kPanelCols] = {r0l, r1l, r2l, r3l, r0h, r1h, r2h, r3h};
    for (int64_t j = 0; j < width; ++j) store_column<BetaZero, Aligned>(c + j * ldc, columns[j]);
}

// The rows of a chunk in multiples of 4 (block.m is one), all columns.
template <int Version, bool BetaZero, bool Aligned>
void block_kernel(const Mc3KernelBlock &block) {
    alignas(64) float spread[kChunkSteps * kSpreadPanelFloats];
    const int64_t panel_bytes = kPanelCols * block.steps * static_cast<int64_t>(sizeof(float));
    const int64_t group_cols =
        Version == 4 ? block.n : std::max<int64_t>(1, kGroupBytesVersion2 / panel_bytes) * kPanelCols;
    const int64_t four = kPanelRows;
    const float one = 1.0f;
    for (int64_t j0 = 0; j0 < block.n; j0 += group_cols) {
        const int64_t j1 = std::min(block.n, j0 + group_cols);
        for (int64_t i = 0; i < block.m; i += kPanelRows) {
            const float *a = block.a + i * block.kp;
            orb_blas_mc3_sgemm_copya_ext(a, &four, &four, &block.steps, &one, spread);
            // The next A panel is brought to the first-level cache, a line per tile.
            const char *next = reinterpret_cast<const char *>(a + kPanelRows * block.kp);
            const int64_t next_lines = i + kPanelRows < block.m ? kPanelRows * block.steps / 16 : 0;
            for (int64_t j = j0, line = 0; j < j1; j += kPanelCols, ++line) {
                if (line < next_lines) _mm_prefetch(next + 64 * line, _MM_HINT_T0);
                tile_4x8<BetaZero, Aligned>(spread, block.b + j * block.kp, block.steps, block.c + i + j * block.ldc,
                                            block.ldc, std::min(kPanelCols, block.n - j));
            }
        }
    }
}

using BlockKernel = void (*)(const Mc3KernelBlock &);

// [kernel version 4][beta zero][C aligned]
constexpr BlockKernel kBlockKernels[2][2][2] = {
    {{block_kernel<2, false, false>, block_kernel<2, false, true>},
     {block_kernel<2, true, false>, block_kernel<2, true, true>}},
    {{block_kernel<4, false, false>, block_kernel<4, false, true>},
     {block_kernel<4, true, false>, block_kernel<4, true, true>}},
};

// The edge rows (R = 1 to 3) of a chunk: the spread edge panel times each
// B panel as packed, two vectors of 4 columns per row.
template <int R>
void edge_rows(const Mc3KernelBlock &block, bool beta_zero) {
    alignas(16) float spread[kChunkSteps * R * 4];
    const int64_t width_r = R;
    const float one = 1.0f;
    orb_blas_mc3_sgemm_copya_ext(block.a, &width_r, &width_r, &block.steps, &one, spread);
    for (int64_t j0 = 0; j0 < block.n; j0 += kPanelCols) {
        const float *panel = block.b + j0 * block.kp;
        __m128 low[R], high[R];
        for (int t = 0; t < R; ++t) low[t] = high[t] = _mm_setzero_ps();
        for (int64_t p = 0; p < block.steps; ++p) {
            __m128 b0 = _mm_loadu_ps(panel + kPanelCols * p), b1 = _mm_loadu_ps(panel + kPanelCols * p + 4);
            for (int t = 0; t < R; ++t) {
                __m128 av = _mm_load_ps(spread + 4 * (p * R + t));
                low[t] = _mm_add_ps(low[t], _mm_mul_ps(av, b0));
                high[t] = _mm_add_ps(high[t], _mm_mul_ps(av, b1));
            }
        }
        int64_t width = std::min(kPanelCols, block.n - j0);
        for (int t = 0; t < R; ++t) {
            alignas(16) float row[kPanelCols];
            _mm_store_ps(row, low[t]);
            _mm_store_ps(row + 4, high[t]);
            float *c = block.c + t + j0 * block.ldc;
            for (int64_t j = 0; j < width; ++j) c[j * block.ldc] = beta_zero ? row[j] : c[j * block.ldc] + row[j];
        }
    }
}

}  // namespace

extern "C" {

void orb_blas_mc3_sgemm_ker0_pst(const Mc3KernelBlock *block, int beta_zero) {
    switch (block->m) {
    case 1: edge_rows<1>(*block, beta_zero != 0); break;
    case 2: edge_rows<2>(*block, beta_zero != 0); break;
    case 3: edge_rows<3>(*block, beta_zero != 0); break;
    default: break;
    }
}

// C(m x n) := (beta 0 ? 0 : C) + packed A x packed B over k steps.  beta is
// 0 or 1 here: the drivers apply any other beta beforehand.
void orb_blas_mc3_sgemm_ker0(const int64_t *m, const int64_t *n, const int64_t *k, const float *a_pack,
                             const float *b_pack, const float *beta, float *c, const int64_t *ldc,
                             int kernel_version) {
    const int64_t rows = *m, cols = *n, ld = *ldc;
    if (rows <= 0 || cols <= 0) return;
    const bool clear = *beta == 0.0f;
    if (*k <= 0) {
        if (clear)
            for (int64_t j = 0; j < cols; ++j) std::fill(c + j * ld, c + j * ld + rows, 0.0f);
        return;
    }
    const int64_t kp = mc3::round_up(*k, mc3::kStepGranule), rows4 = rows / kPanelRows * kPanelRows;
    const bool aligned = reinterpret_cast<uintptr_t>(c) % 16 == 0 && ld % 4 == 0;
    const BlockKernel kernel_for_beta[2] = {kBlockKernels[kernel_version == 4][0][aligned],
                                            kBlockKernels[kernel_version == 4][1][aligned]};
    for (int64_t p0 = 0; p0 < kp; p0 += kChunkSteps) {
        const bool beta_zero = clear && p0 == 0;
        Mc3KernelBlock block{a_pack + kPanelRows * p0, b_pack + kPanelCols * p0, c, ld, rows4, cols,
                             std::min(kChunkSteps, kp - p0), kp};
        if (rows4 > 0) kernel_for_beta[beta_zero](block);
        if (rows4 < rows) {
            Mc3KernelBlock edge = block;
            edge.m = rows - rows4;
            edge.a = a_pack + rows4 * kp + edge.m * p0;
            edge.c = c + rows4;
            orb_blas_mc3_sgemm_ker0_pst(&edge, beta_zero);
        }
    }
}

}  // extern "C"
