// avx2_nocopy_tile.h - the 16 x 6 register block of the no-copy kernels.
//
// A tile computes up to 16 rows by up to 6 columns of C straight from the
// caller's operands.  Per k step it loads the tile's rows of one column of
// op(A) as two 8-float vectors, broadcasts the six values of op(B) in that
// k step one after the other, and fuses each broadcast with both A vectors
// into its column's two accumulators: twelve accumulators, two A vectors and
// one broadcast fill 15 of the 16 vector registers.  Narrower tiles (the row
// and column tails of a kernel) would leave the multiply-add units waiting on
// too few sums, so they keep several sets of accumulators that take turns
// over consecutive k steps (accumulator_sets below).
//
// The rows of op(A) come from one of three places (TileSource): the caller's
// untransposed A, the same while also writing them to the strip buffer for
// the later column groups of the strip, or that buffer, where every k step
// holds 16 consecutive floats (zero beyond the strip's rows).  When the
// strip's rows are not a multiple of 8, its last vector is read from the
// caller's A with a lane mask and read from and written to C in pieces of 4,
// 2 and 1 floats, so that nothing past the last row is touched.
//
// At the end the accumulators are multiplied by alpha and combined with C by
// the beta case: stored (beta 0, C is never read), added to C (beta 1), or
// added to beta*C (any other beta).  In a full 16 x 6 tile each element of C
// is thus the fused sum of its k products in increasing k, times alpha, plus
// the C term; narrower tiles add their interleaved partial sums at the end.
//
// Only files compiled with -mavx2 -mfma include this header.
#ifndef ORB_BLAS_KERNELS_AVX2_AVX2_NOCOPY_TILE_H
#define ORB_BLAS_KERNELS_AVX2_AVX2_NOCOPY_TILE_H

#include <immintrin.h>

#include <cstdint>

namespace orb_avx2_nocopy {

// How the result meets the existing C.
enum class BetaCase {
    kZero,    // C := alpha*AB, C is not read
    kOne,     // C := alpha*AB + C
    kGeneral  // C := alpha*AB + beta*C
};

// Where a tile reads the rows of op(A).
enum class TileSource {
    kMatrix,         // the caller's untransposed A, k steps lda apart
    kMatrixAndCopy,  // the same, also written to the strip buffer
    kBuffer          // the strip buffer, 16 aligned floats per k step
};

// Floats per k step in a strip buffer (one 16-row column of op(A)).
constexpr int64_t kStripStride = 16;

// Everything one tile needs besides its shape.
struct TileArgs {
    __m256i last_vector_rows; // lanes of the last A vector that hold rows of the strip
    int last_vector_lanes;    // their number, 1..8
    int64_t k;                // k steps
    const float *a;           // op(A) at the strip's first row and k step 0
    int64_t a_step;           // floats between k steps of `a`
    float *strip_copy;        // kMatrixAndCopy: where the strip is written
    const float *b;           // op(B) at k step 0 and the tile's first column
    int64_t ldb;              // leading dimension of the stored B
    float *c;                 // C at the tile's first row and column
    int64_t ldc;              // leading dimension of C
    bool partial_rows;        // the last A vector is not full (the strip's rows are not 8 or 16)
    float alpha;              // scales the accumulated product
    float beta;               // scales C in the general case
    BetaCase beta_case;       // how C is combined
};

// Mask whose first `lanes` lanes (1..8) are set.
inline __m256i lane_mask(int64_t lanes) {
    return _mm256_cmpgt_epi32(_mm256_set1_epi32(static_cast<int>(lanes)), _mm256_setr_epi32(0, 1, 2, 3, 4, 5, 6, 7));
}

// The first `lanes` (1..7) floats at p, read 4, 2 and 1 at a time; the
// other lanes are zero.  Masked moves cost far more than these pieces.
inline __m256 load_lanes(const float *p, int lanes) {
    const float *rest = p + (lanes & 4);
    __m128 part = _mm_setzero_ps();
    if (lanes & 2) part = _mm_castpd_ps(_mm_load_sd(reinterpret_cast<const double *>(rest)));
    if (lanes & 1) {
        const __m128 last = _mm_load_ss(rest + (lanes & 2));
        part = (lanes & 2) ? _mm_movelh_ps(part, last) : last;
    }
    if (lanes & 4) return _mm256_insertf128_ps(_mm256_castps128_ps256(_mm_loadu_ps(p)), part, 1);
    return _mm256_zextps128_ps256(part);
}

// Stores the first `lanes` (1..7) floats of v, 4, 2 and 1 at a time.
inline void store_lanes(float *p, __m256 v, int lanes) {
    __m128 part = _mm256_castps256_ps128(v);
    if (lanes & 4) {
        _mm_storeu_ps(p, part);
        part = _mm256_extractf128_ps(v, 1);
        p += 4;
    }
    if (lanes & 2) {
        _mm_storel_pi(reinterpret_cast<__m64 *>(p), part);
        part = _mm_movehl_ps(part, part);
        p += 2;
    }
    if (lanes & 1) _mm_store_ss(p, part);
}

// C := combine(alpha*acc, C) for the tile, by the beta case.  Inlined so
// that the accumulators never leave their registers.
template <int Vectors, int Columns>
__attribute__((always_inline)) inline void store_tile(const __m256 (&acc)[Vectors][Columns], const TileArgs &t) {
    // Locals, so that the stores to C cannot be taken to change them.
    const __m256 alpha = _mm256_set1_ps(t.alpha);
    const __m256 beta = _mm256_set1_ps(t.beta);
    const int lanes = t.last_vector_lanes;
    const BetaCase beta_case = t.beta_case;
    const bool partial_rows = t.partial_rows;
    float *const c = t.c;
    const int64_t ldc = t.ldc;
    // Unrolled in full: an accumulator indexed by a loop variable would be
    // kept in memory through the whole k loop.
#pragma clang loop unroll(full)
    for (int j = 0; j < Columns; ++j) {
#pragma clang loop unroll(full)
        for (int v = 0; v < Vectors; ++v) {
            const bool masked = partial_rows && v == Vectors - 1;
            float *cv = c + j * ldc + 8 * v;
            __m256 result;
            if (beta_case == BetaCase::kZero) {
                result = _mm256_mul_ps(acc[v][j], alpha);
            } else {
                __m256 old = masked ? load_lanes(cv, lanes) : _mm256_loadu_ps(cv);
                if (beta_case == BetaCase::kGeneral) old = _mm256_mul_ps(old, beta);
                result = _mm256_fmadd_ps(acc[v][j], alpha, old);
            }
            if (masked)
                store_lanes(cv, result, lanes);
            else
                _mm256_storeu_ps(cv, result);
        }
    }
}

// Independent sums a tile keeps per element of C.  A fused multiply-add
// takes 4 cycles and two issue per cycle, so 8 must be in flight: a tile
// with fewer than 8 accumulators (a tail of at most 8 rows or of few columns)
// spreads consecutive k steps over several sets, never above 12 in all, and
// adds the sets together before the store.
template <int Accumulators>
constexpr int accumulator_sets() {
    int sets = (8 + Accumulators - 1) / Accumulators;
    while (sets > 1 && sets * Accumulators > 12) --sets;
    return sets;
}

// One tile of Vectors*8 rows (the last vector masked when MaskedRows) by
// Columns columns.  BTrans: B is stored transposed, so the values of a k step
// are adjacent and k steps are ldb apart; otherwise each column of B is a
// stream of its own.
template <bool BTrans, TileSource Source, int Vectors, bool MaskedRows, int Columns>
__attribute__((noinline)) void tile(const TileArgs &t) {
    constexpr int kSets = accumulator_sets<Vectors * Columns>();
    __m256 acc[kSets][Vectors][Columns];
    for (int s = 0; s < kSets; ++s)
        for (int v = 0; v < Vectors; ++v)
            for (int j = 0; j < Columns; ++j) acc[s][v][j] = _mm256_setzero_ps();

    // Locals: the copy stores may alias anything as far as the compiler knows.
    const int64_t k = t.k, a_step = t.a_step, ldb = t.ldb;
    const __m256i last_vector_rows = t.last_vector_rows;
    const float *b_column[Columns];
    for (int j = 0; j < Columns; ++j) b_column[j] = t.b + j * ldb;
    const float *a = t.a;
    const float *b_step = t.b;
    float *copy = t.strip_copy;

    // sum += A(:, p) * B(p, :), advancing the A, B and copy streams by one k step.
    auto k_step = [&](int64_t p, __m256(&sum)[Vectors][Columns]) __attribute__((always_inline)) {
        __m256 av[Vectors];
        for (int v = 0; v < Vectors; ++v) {
            if (Source == TileSource::kBuffer)
                av[v] = _mm256_load_ps(a + 8 * v);
            else if (MaskedRows && v == Vectors - 1)
                av[v] = _mm256_maskload_ps(a + 8 * v, last_vector_rows);
            else
                av[v] = _mm256_loadu_ps(a + 8 * v);
        }
        if (Source == TileSource::kMatrixAndCopy) {
            for (int v = 0; v < Vectors; ++v) _mm256_store_ps(copy + 8 * v, av[v]);
            copy += kStripStride;
        }
        a += a_step;
        for (int j = 0; j < Columns; ++j) {
            const __m256 bj = _mm256_broadcast_ss(BTrans ? b_step + j : b_column[j] + p);
            for (int v = 0; v < Vectors; ++v) sum[v][j] = _mm256_fmadd_ps(av[v], bj, sum[v][j]);
        }
        b_step += ldb;
    };

    int64_t p = 0;
    for (; p + kSets <= k; p += kSets) {
#pragma clang loop unroll(full)
        for (int s = 0; s < kSets; ++s) k_step(p + s, acc[s]);
    }
    for (; p < k; ++p) k_step(p, acc[0]);
    for (int s = 1; s < kSets; ++s)
        for (int v = 0; v < Vectors; ++v)
            for (int j = 0; j < Columns; ++j) acc[0][v][j] = _mm256_add_ps(acc[0][v][j], acc[s][v][j]);
    store_tile(acc[0], t);
}

// The tile of the given column count (1..6).
template <bool BTrans, TileSource Source, int Vectors, bool MaskedRows>
inline void tile_columns(int64_t columns, const TileArgs &t) {
    switch (columns) {
    case 6: tile<BTrans, Source, Vectors, MaskedRows, 6>(t); break;
    case 5: tile<BTrans, Source, Vectors, MaskedRows, 5>(t); break;
    case 4: tile<BTrans, Source, Vectors, MaskedRows, 4>(t); break;
    case 3: tile<BTrans, Source, Vectors, MaskedRows, 3>(t); break;
    case 2: tile<BTrans, Source, Vectors, MaskedRows, 2>(t); break;
    default: tile<BTrans, Source, Vectors, MaskedRows, 1>(t); break;
    }
}

// The tile for a strip of `rows` (1..16) rows and `columns` (1..6) columns.
// Buffer rows need no mask: the buffer holds zeros beyond the strip.
template <bool BTrans, TileSource Source>
inline void run_tile(int64_t rows, int64_t columns, const TileArgs &t) {
    constexpr bool kMaskReads = Source != TileSource::kBuffer;
    if (rows == 16)
        tile_columns<BTrans, Source, 2, false>(columns, t);
    else if (rows > 8)
        tile_columns<BTrans, Source, 2, kMaskReads>(columns, t);
    else if (rows == 8)
        tile_columns<BTrans, Source, 1, false>(columns, t);
    else
        tile_columns<BTrans, Source, 1, kMaskReads>(columns, t);
}

}  // namespace orb_avx2_nocopy

#endif
