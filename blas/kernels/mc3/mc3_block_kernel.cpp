// mc3_block_kernel.cpp - the block kernel of the mc3 set: packed A times
// packed B into a block of C, with 128-bit multiplies and separate adds.
//
// A 4 x 8 tile of C lives in eight accumulators, one per column.  Before a
// B panel is multiplied, sgemm_copyb_ext spreads it into a scratch area on
// the stack in broadcast form (each B value four times, 32 floats per k
// step).  A k step then loads the four A values of the tile once and, for
// each of the eight columns, loads its spread B value as a vector,
// multiplies and adds: eight multiplies, eight adds and nine loads, with no
// shuffle in the loop.  Broadcasting or rotating inside the loop would cost
// shuffles, which share the multiply and add pipes (measured on the tile
// alone, rotating A loses about a tenth of the speed); the nine 128-bit
// loads, at two per cycle, are what bounds this loop, at 4.5 cycles a step
// against 4 for the arithmetic.  The k loop is unrolled by eight, with a
// loop of four for the rest.
//
// Loop order.  The spread panel (32 KiB for 256 steps) stays in the
// first-level cache while a run of 4-row A panels streams past it from the
// second-level cache; the run is cut so that its packed A fits beside the B
// block there.  Kernel version 4 says the packed B block itself fits in
// 512 KiB and should stay in that cache too, so a run holds 384 KiB of A;
// version 2 (a larger B block, streamed from further out) gives the run
// 768 KiB.  Within a run the tiles of one panel go down the rows, so each
// line of C is used by four tiles in a row; the C tile 16 rows ahead is
// prefetched while a tile is computed.
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

namespace {

using mc3::kPanelCols;
using mc3::kPanelRows;

constexpr int64_t kChunkSteps = 256;       // k steps spread into the scratch at once
constexpr int64_t kSpreadPanelFloats = 4 * kPanelCols;  // scratch floats per k step
constexpr int64_t kRunBytesVersion4 = 384 * 1024;  // packed A per run when B stays in L2
constexpr int64_t kRunBytesVersion2 = 768 * 1024;  // packed A per run when B streams
constexpr int64_t kCPrefetchRows = 16;     // the C tile this many rows ahead is prefetched

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

// The 4 x 8 tile at c: packed A panel a (4 floats per step) times the
// spread B panel s (32 floats per step) over `steps` steps (a multiple of
// 4); only the first `width` columns are stored.
template <bool BetaZero, bool Aligned>
inline void tile_4x8(const float *a, const float *s, int64_t steps, float *c, int64_t ldc, int64_t width) {
    __m128 c0 = _mm_setzero_ps(), c1 = c0, c2 = c0, c3 = c0, c4 = c0, c5 = c0, c6 = c0, c7 = c0;
    auto step = [&](int64_t p) {
        __m128 av = _mm_loadu_ps(a + 4 * p);
        const float *sp = s + kSpreadPanelFloats * p;
        c0 = _mm_add_ps(c0, _mm_mul_ps(_mm_load_ps(sp + 0), av));
        c1 = _mm_add_ps(c1, _mm_mul_ps(_mm_load_ps(sp + 4), av));
        c2 = _mm_add_ps(c2, _mm_mul_ps(_mm_load_ps(sp + 8), av));
        c3 = _mm_add_ps(c3, _mm_mul_ps(_mm_load_ps(sp + 12), av));
        c4 = _mm_add_ps(c4, _mm_mul_ps(_mm_load_ps(sp + 16), av));
        c5 = _mm_add_ps(c5, _mm_mul_ps(_mm_load_ps(sp + 20), av));
        c6 = _mm_add_ps(c6, _mm_mul_ps(_mm_load_ps(sp + 24), av));
        c7 = _mm_add_ps(c7, _mm_mul_ps(_mm_load_ps(sp + 28), av));
    };
    for (int64_t j = 0; j < width; ++j) _mm_prefetch(reinterpret_cast<const char *>(c + kCPrefetchRows + j * ldc),
                                                     _MM_HINT_T0);
    int64_t p = 0;
    for (; p + 8 <= steps; p += 8) {
        step(p), step(p + 1), step(p + 2), step(p + 3);
        step(p + 4), step(p + 5), step(p + 6), step(p + 7);
    }
    for (; p < steps; p += 4) step(p), step(p + 1), step(p + 2), step(p + 3);

    if (width == kPanelCols) {
        store_column<BetaZero, Aligned>(c, c0);
        store_column<BetaZero, Aligned>(c + ldc, c1);
        store_column<BetaZero, Aligned>(c + 2 * ldc, c2);
        store_column<BetaZero, Aligned>(c + 3 * ldc, c3);
        store_column<BetaZero, Aligned>(c + 4 * ldc, c4);
        store_column<BetaZero, Aligned>(c + 5 * ldc, c5);
        store_column<BetaZero, Aligned>(c + 6 * ldc, c6);
        store_column<BetaZero, Aligned>(c + 7 * ldc, c7);
        return;
    }
    const __m128 columns[kPanelCols] = {c0, c1, c2, c3, c4, c5, c6, c7};
    for (int64_t j = 0; j < width; ++j) store_column<BetaZero, Aligned>(c + j * ldc, columns[j]);
}

// The rows of a chunk in multiples of 4 (block.m is one), all columns.
template <int Version, bool BetaZero, bool Aligned>
void block_kernel(const Mc3KernelBlock &block) {
    alignas(64) float spread[kChunkSteps * kSpreadPanelFloats];
    const int64_t run_bytes = Version == 4 ? kRunBytesVersion4 : kRunBytesVersion2;
    const int64_t panel_bytes = kPanelRows * block.steps * static_cast<int64_t>(sizeof(float));
    const int64_t run_rows = std::max<int64_t>(1, run_bytes / panel_bytes) * kPanelRows;
    const int64_t eight = kPanelCols;
    const float one = 1.0f;
    for (int64_t i0 = 0; i0 < block.m; i0 += run_rows) {
        int64_t i1 = std::min(block.m, i0 + run_rows);
        for (int64_t j0 = 0; j0 < block.n; j0 += kPanelCols) {
            orb_blas_mc3_sgemm_copyb_ext(block.b + j0 * block.kp, &eight, &eight, &block.steps, &one, spread);
            int64_t width = std::min(kPanelCols, block.n - j0);
            float *c = block.c + j0 * block.ldc;
            // The next panel is brought to the second-level cache, a line per tile.
            const char *next = reinterpret_cast<const char *>(block.b + (j0 + kPanelCols) * block.kp);
            const int64_t next_lines = j0 + kPanelCols < block.n ? kPanelCols * block.steps / 16 : 0;
            for (int64_t i = i0, line = 0; i < i1; i += kPanelRows, ++line) {
                if (line < next_lines) _mm_prefetch(next + 64 * line, _MM_HINT_T1);
                tile_4x8<BetaZero, Aligned>(block.a + i * block.kp, spread, block.steps, c + i, block.ldc, width);
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
