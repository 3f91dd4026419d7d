// baseline_bdz_block_kernel.h - the block kernel of the baseline sets'
// Bulldozer/Zen sub-model: C += packed A x packed B on a whole C block.
//
// C is walked in strips that match the packed A panels (16 rows, then at
// most one strip each of 8, 4, 2 and 1 rows) and, inside a strip, in tiles
// that match the packed B panels (4 columns, then 2 and 1).  The strip's A
// panel (16 x kc floats, at most 12 KiB) stays in the first-level cache
// while the B panels of the block stream past it from the second level.
// A 16 x 4 tile lives in eight 256-bit accumulators, two per column, for the
// whole k loop: per k step two 8-float vectors of A are loaded, each of the
// four B values is broadcast from memory, and each accumulator takes one
// fused multiply-add, in k order.  Each element of the tile is therefore the
// fused chain of its k products from zero, added to C at the end.
// The k loop is unrolled by four; each group of four k steps fetches one
// line of the next B panel into the first-level cache, so that a tile never
// waits on the second level for B; the C tile is fetched when the tile
// starts and added in at the end; and every tile fetches a slice of the next
// strip's A panel into the first-level cache so that the strip after it
// does not start on a cold panel.  Narrower tiles split the k steps of each
// group of four over two accumulator sets (even and odd steps), added before
// the last k mod 4 steps, to keep enough sums in flight.
//
// The kernels are compiled once per multiply-add form, each in a file of
// its own built for that instruction set: BdzFma3 (Zen) exists where FMA3 is
// enabled, BdzFma4 (Bulldozer) where FMA4 is.  A form gives madd(a, b, acc)
// = a*b + acc, rounded once, for __m256 and __m128.  Everything here has
// internal linkage so that the two instantiations, compiled for different
// instruction sets, are never merged by the linker.
#ifndef ORB_BLAS_KERNELS_BASELINE_BDZ_BLOCK_KERNEL_H
#define ORB_BLAS_KERNELS_BASELINE_BDZ_BLOCK_KERNEL_H

#include <immintrin.h>
#if defined(__FMA4__)
#include <x86intrin.h>
#endif

#include <cstdint>

namespace {

#if defined(__FMA__)
// a*b + acc with FMA3.
struct BdzFma3 {
    static __m256 madd(__m256 a, __m256 b, __m256 acc) { return _mm256_fmadd_ps(a, b, acc); }
    static __m128 madd(__m128 a, __m128 b, __m128 acc) { return _mm_fmadd_ps(a, b, acc); }
};
#endif

#if defined(__FMA4__)
// a*b + acc with FMA4.
struct BdzFma4 {
    static __m256 madd(__m256 a, __m256 b, __m256 acc) { return _mm256_macc_ps(a, b, acc); }
    static __m128 madd(__m128 a, __m128 b, __m128 acc) { return _mm_macc_ps(a, b, acc); }
};
#endif

// Bytes of a cache line.
constexpr int64_t kBdzLine = 64;

// A column of R rows of a tile: kChunks vectors of type V, each kWidth
// floats, with the moves for that shape.
template <int R>
struct BdzColumn;

struct BdzWideColumn {
    using V = __m256;
    static V zero() { return _mm256_setzero_ps(); }
    static V load(const float *p) { return _mm256_loadu_ps(p); }
    static void store(float *p, V v) { _mm256_storeu_ps(p, v); }
    static V broadcast(const float *p) { return _mm256_broadcast_ss(p); }
    static V add(V x, V y) { return _mm256_add_ps(x, y); }
};
template <>
struct BdzColumn<16> : BdzWideColumn {
    static constexpr int kChunks = 2;  // vectors per column
    static constexpr int kWidth = 8;   // floats per vector
};
template <>
struct BdzColumn<8> : BdzWideColumn {
    static constexpr int kChunks = 1;  // vectors per column
    static constexpr int kWidth = 8;   // floats per vector
};
template <>
struct BdzColumn<4> {
    using V = __m128;
    static constexpr int kChunks = 1;  // vectors per column
    static constexpr int kWidth = 4;   // floats per vector
    static V zero() { return _mm_setzero_ps(); }
    static V load(const float *p) { return _mm_loadu_ps(p); }
    static void store(float *p, V v) { _mm_storeu_ps(p, v); }
    static V broadcast(const float *p) { return _mm_broadcast_ss(p); }
    static V add(V x, V y) { return _mm_add_ps(x, y); }
};
// Two rows: the low half of a 128-bit vector, moved as 64 bits.
template <>
struct BdzColumn<2> : BdzColumn<4> {
    static constexpr int kWidth = 2;  // floats per vector
    static V load(const float *p) { return _mm_castpd_ps(_mm_load_sd(reinterpret_cast<const double *>(p))); }
    static void store(float *p, V v) { _mm_store_sd(reinterpret_cast<double *>(p), _mm_castps_pd(v)); }
};
// One row: the lowest lane.
template <>
struct BdzColumn<1> : BdzColumn<4> {
    static constexpr int kWidth = 1;  // floats per vector
    static V load(const float *p) { return _mm_load_ss(p); }
    static void store(float *p, V v) { _mm_store_ss(p, v); }
};

// Keeps the compiler from moving the loads of one k step into the one
// before, where their extra live vectors would not fit beside the sums.
__attribute__((always_inline)) inline void bdz_keep_steps_apart() { __asm__ volatile("" ::: "memory"); }

// One tile of R rows (a packed A panel, R floats per k step) by C columns (a
// packed B panel, C floats per k step) at c.
template <class Fma, int R, int C>
struct BdzTile {
    using L = BdzColumn<R>;
    using V = typename L::V;
    static constexpr int kChunks = L::kChunks;
    // The full tile has eight chains already; narrower ones take two sets.
    static constexpr bool kTwoSets = !(R == 16 && C == 4);
    static constexpr bool kFull = R == 16 && C == 4;

    V acc[C][kChunks];  // the tile, or its even k steps
    V odd[C][kChunks];  // odd k steps (kTwoSets only)

    __attribute__((always_inline)) static void step(V (&sum)[C][kChunks], const float *a, const float *b) {
        // All loads of the step first, then the multiply-adds of one A vector
        // across the columns: the scheduler then sees each group of
        // multiply-adds with its operands already on the way.
        V av[kChunks], bv[C];
        for (int q = 0; q < kChunks; ++q) av[q] = L::load(a + q * L::kWidth);
        for (int j = 0; j < C; ++j) bv[j] = L::broadcast(b + j);
        for (int q = 0; q < kChunks; ++q)
            for (int j = 0; j < C; ++j) sum[j][q] = Fma::madd(av[q], bv[j], sum[j][q]);
    }

    // ahead: floats from a B position to the same position in the next panel.
    __attribute__((always_inline)) void group(const float *a, const float *b, int64_t ahead) {
        if constexpr (kFull) _mm_prefetch(reinterpret_cast<const char *>(b + ahead), _MM_HINT_T0);
        step(acc, a, b);
        bdz_keep_steps_apart();
        step(kTwoSets ? odd : acc, a + R, b + C);
        bdz_keep_steps_apart();
        step(acc, a + 2 * R, b + 2 * C);
        bdz_keep_steps_apart();
        step(kTwoSets ? odd : acc, a + 3 * R, b + 3 * C);
    }

    __attribute__((always_inline)) void run(int64_t k, const float *a, const float *b, float *c, int64_t ldc) {
        // The lines of the C tile: a 16-float column spans two lines unless
        // it starts on one.
        if constexpr (kFull)
            for (int j = 0; j < C; ++j) {
                _mm_prefetch(reinterpret_cast<const char *>(c + j * ldc), _MM_HINT_T0);
                _mm_prefetch(reinterpret_cast<const char *>(c + j * ldc + R - 1), _MM_HINT_T0);
            }
        for (int j = 0; j < C; ++j)
            for (int q = 0; q < kChunks; ++q) acc[j][q] = odd[j][q] = L::zero();
        for (int64_t g = k / 4; g > 0; --g, a += 4 * R, b += 4 * C) group(a, b, C * k);
        if constexpr (kTwoSets)
            for (int j = 0; j < C; ++j)
                for (int q = 0; q < kChunks; ++q) acc[j][q] = L::add(acc[j][q], odd[j][q]);
        for (int64_t p = k % 4; p > 0; --p, a += R, b += C) step(acc, a, b);
        // All of C is loaded before the first store: with a power-of-two ldc
        // the columns share their low address bits, and a load behind a
        // store to another column would wait on it.
        for (int j = 0; j < C; ++j)
            for (int q = 0; q < kChunks; ++q) acc[j][q] = L::add(L::load(c + j * ldc + q * L::kWidth), acc[j][q]);
        for (int j = 0; j < C; ++j)
            for (int q = 0; q < kChunks; ++q) L::store(c + j * ldc + q * L::kWidth, acc[j][q]);
    }
};

// One strip of R rows across the n columns of the packed B block.  next is
// the packed A panel of the following strip (or null): each tile fetches an
// equal share of its lines into the first-level cache.
template <class Fma, int R>
void bdz_strip(int64_t n, int64_t k, const float *a, const float *b, float *c, int64_t ldc, const float *next,
               int64_t next_rows) {
    const char *fetch = reinterpret_cast<const char *>(next);
    const int64_t tiles = (n + 3) / 4;
    const int64_t next_lines = next ? (next_rows * k * 4 + kBdzLine - 1) / kBdzLine : 0;
    const int64_t lines_per_tile = (next_lines + tiles - 1) / tiles;
    int64_t fetched = 0;
    auto fetch_share = [&]() {
        for (int64_t l = 0; l < lines_per_tile && fetched < next_lines; ++l, ++fetched)
            _mm_prefetch(fetch + fetched * kBdzLine, _MM_HINT_T0);
    };
    int64_t j = 0;
    for (; n - j >= 4; j += 4) {
        fetch_share();
        BdzTile<Fma, R, 4>().run(k, a, b + j * k, c + j * ldc, ldc);
    }
    if ((n - j) & 2) {
        fetch_share();
        BdzTile<Fma, R, 2>().run(k, a, b + j * k, c + j * ldc, ldc);
        j += 2;
    }
    if ((n - j) & 1) {
        fetch_share();
        BdzTile<Fma, R, 1>().run(k, a, b + j * k, c + j * ldc, ldc);
    }
}

// The whole C block: m x n, k packed steps.  The strip at row i reads the A
// panel at float offset i*k; the B panel at column j the one at j*k.
template <class Fma>
void bdz_block(int64_t m, int64_t n, int64_t k, const float *a, const float *b, float *c, int64_t ldc) {
    if (m <= 0 || n <= 0 || k <= 0) return;
    int64_t i = 0;
    const int64_t full_end = m / 16 * 16;
    for (; i < full_end; i += 16) {
        const int64_t next_rows = m - i - 16 >= 16 ? 16 : m - i - 16;
        bdz_strip<Fma, 16>(n, k, a + i * k, b, c + i, ldc, next_rows > 0 ? a + (i + 16) * k : nullptr, next_rows);
    }
    const int64_t rest = m - i;
    if (rest & 8) {
        bdz_strip<Fma, 8>(n, k, a + i * k, b, c + i, ldc, nullptr, 0);
        i += 8;
    }
    if (rest & 4) {
        bdz_strip<Fma, 4>(n, k, a + i * k, b, c + i, ldc, nullptr, 0);
        i += 4;
    }
    if (rest & 2) {
        bdz_strip<Fma, 2>(n, k, a + i * k, b, c + i, ldc, nullptr, 0);
        i += 2;
    }
    if (rest & 1) bdz_strip<Fma, 1>(n, k, a + i * k, b, c + i, ldc, nullptr, 0);
}

}  // namespace

#endif
