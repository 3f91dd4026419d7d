// avx2_block_kernel.cpp - the block kernel of the AVX2 set: packed A times
// packed B into a block of C.
//
// This is the hot loop of every blocked product.  C is walked in strips of
// rows that match the panels of the packed A block (24 rows, then at most
// one strip each of 16, 8, 4, 2 and 1 rows) and, inside a strip, in groups
// of columns that match the panels of the packed B block (4 columns, then 2
// and 1).  A 24 x 4 tile lives in twelve 256-bit accumulators for the whole
// k loop: per k step three vectors of A (24 consecutive floats) are loaded,
// each of the four B values is broadcast in turn, and twelve fused
// multiply-adds follow, which uses all sixteen vector registers.  The k loop
// is unrolled by four and runs in two phases: the C tile is prefetched 34
// groups of four steps before the end, so that it has arrived when the tile
// is stored.  Strips of 4, 2 and 1 rows are computed sideways, one row of C
// across eight columns per vector, which keeps their vectors full.
//
// Two families share this code.  The ordinary kernels let the narrow strips
// (8, 4 and 2 rows), whose few accumulators would otherwise wait on the
// latency of the multiply-add, keep a second accumulator set for the odd k
// steps of each group of four.  The reproducible (_cnr) kernels keep one
// accumulator set everywhere, so every element of C is its k products summed
// in k order with fused multiply-adds, whatever the strip.  24- and 16-row
// strips and the one-row strip are identical in both families.
//
// Alpha is folded into the packed A by the drivers: the kernels multiply
// only packed values and never read alpha.  The _b0 kernels store the tile
// without reading C, so whatever C held (NaN included) is overwritten.
#include <immintrin.h>

#include <initializer_list>
#include <type_traits>

#include "blas/kernels/avx2/avx2_kernels.h"
#include "blas/kernels/packed_set.h"
#include "blas/kernels/packed_vector.h"

namespace {

// Groups of four k steps left when the C tile is prefetched.
constexpr int64_t kGroupsAfterCPrefetch = 34;
// Distances of the software prefetches in the k loop, in floats.
constexpr int64_t kBPrefetchAhead = 64;   // 256 bytes of packed B
constexpr int64_t kAPrefetchAhead = 144;  // 576 bytes of packed A

// How the k products of a narrow strip are gathered.
enum class Sum {
    Split,   // even and odd steps of each group of four in two sets, added at the end
    InOrder  // one set, every product added in k order
};

// What happens to C at the store.
enum class Store {
    Add,       // C := C + tile
    Overwrite  // C := tile, C not read
};

// One column of a strip of R rows: kChunks vectors of exact width
// (packed_vector.h).
template <int R>
using Column = StripColumn<R>;

// A compiler-only barrier between the k steps of an unrolled group: the
// loads of a step are not hoisted into the step before, where the extra live
// vectors would not fit in registers beside two accumulator sets.
__attribute__((always_inline)) inline void keep_steps_apart() { __asm__ volatile("" ::: "memory"); }

// ---------------------------------------------------------------------------
// One tile: R rows (a panel of packed A) by C columns (a panel of packed B).
// a points at the A panel (R floats per k step), b at the B panel (C floats
// per k step), c at the tile's first element.  a_next is the panel that the
// following strip will read; it is prefetched to the outer cache level.
// ---------------------------------------------------------------------------
template <int R, int C, Sum S, Store W>
struct Tile {
    using L = Column<R>;
    using V = typename L::V;
    static constexpr int kChunks = L::kChunks;
    // Only the full 24 x 4 tile is long-running enough to pay for prefetching.
    static constexpr bool kPrefetch = R == 24 && C == 4;
    // Narrow strips of the ordinary kernel keep a second set for odd steps.
    static constexpr bool kTwoSets = S == Sum::Split && (R == 8 || R == 4 || R == 2);

    V acc[C][kChunks];   // the tile, or its even k steps
    V odd[C][kChunks];   // odd k steps (kTwoSets only)

    __attribute__((always_inline)) static void step(V (&sum)[C][kChunks], const float *a, const float *b) {
        V av[kChunks];
        for (int q = 0; q < kChunks; ++q) av[q] = L::load(a + q * L::kWidth);
        for (int j = 0; j < C; ++j) {
            V bv = L::broadcast(b + j);
            for (int q = 0; q < kChunks; ++q) sum[j][q] = L::fma(av[q], bv, sum[j][q]);
        }
    }

    // Four k steps; the odd ones go to the second set when there is one.
    // Packed A is read again by every tile of the strip and mostly sits in
    // the first-level cache; its two prefetches per group keep the first
    // tile's pass over a freshly packed panel ahead, and B, which streams
    // from the second level, gets one line per group.
    __attribute__((always_inline)) void group(const float *a, const float *b) {
        if constexpr (kPrefetch) {
            _mm_prefetch(reinterpret_cast<const char *>(b + kBPrefetchAhead), _MM_HINT_T0);
            _mm_prefetch(reinterpret_cast<const char *>(a + kAPrefetchAhead), _MM_HINT_T0);
            _mm_prefetch(reinterpret_cast<const char *>(a + kAPrefetchAhead + 2 * R), _MM_HINT_T0);
        }
        step(acc, a, b);
        keep_steps_apart();
        step(kTwoSets ? odd : acc, a + R, b + C);
        keep_steps_apart();
        step(acc, a + 2 * R, b + 2 * C);
        keep_steps_apart();
        step(kTwoSets ? odd : acc, a + 3 * R, b + 3 * C);
    }

    // The first cache line of each C column of the tile.
    __attribute__((always_inline)) static void prefetch_c_first(const float *c, int64_t ldc) {
        for (int j = 0; j < C; ++j) _mm_prefetch(reinterpret_cast<const char *>(c + j * ldc), _MM_HINT_T0);
    }

    // Every cache line of each C column of the tile.  A 24-float column
    // covers two lines when C is 32-byte aligned but three when it is only
    // 16-byte aligned, as memory from malloc often is: the lines holding its
    // first element, the element 64 bytes on and its last element.
    __attribute__((always_inline)) static void prefetch_c_all(const float *c, int64_t ldc) {
        for (int j = 0; j < C; ++j)
            for (int offset : {0, 16, R - 1})
                _mm_prefetch(reinterpret_cast<const char *>(c + j * ldc + offset), _MM_HINT_T0);
    }

    __attribute__((always_inline)) void run(int64_t k, const float *a, const float *b, float *c, int64_t ldc,
                                            const float *a_next) {
        for (int j = 0; j < C; ++j)
            for (int q = 0; q < kChunks; ++q) acc[j][q] = odd[j][q] = L::zero();
        if constexpr (kPrefetch) prefetch_c_first(c, ldc);

        int64_t groups = k / 4;
        int64_t late = groups < kGroupsAfterCPrefetch ? groups : kGroupsAfterCPrefetch;
        for (int64_t g = groups - late; g > 0; --g, a += 4 * R, b += 4 * C) group(a, b);
        if constexpr (kPrefetch) {
            prefetch_c_all(c, ldc);
            _mm_prefetch(reinterpret_cast<const char *>(a_next), _MM_HINT_T1);
        }
        for (int64_t g = late; g > 0; --g, a += 4 * R, b += 4 * C) group(a, b);

        if constexpr (kTwoSets)
            for (int j = 0; j < C; ++j)
                for (int q = 0; q < kChunks; ++q) acc[j][q] = L::add(acc[j][q], odd[j][q]);
        for (int64_t p = k % 4; p > 0; --p, a += R, b += C) step(acc, a, b);

        if constexpr (kPrefetch) _mm_prefetch(reinterpret_cast<const char *>(a_next + 16), _MM_HINT_T1);
        // Every C value is loaded before the first store: the columns of a
        // matrix with a power-of-two leading dimension share their low
        // address bits, and a load issued after a store to another column
        // would wait on the store as if it were the same address.
        if constexpr (W == Store::Add)
            for (int j = 0; j < C; ++j)
                for (int q = 0; q < kChunks; ++q) acc[j][q] = L::add(L::load(c + j * ldc + q * L::kWidth), acc[j][q]);
        for (int j = 0; j < C; ++j)
            for (int q = 0; q < kChunks; ++q) L::store(c + j * ldc + q * L::kWidth, acc[j][q]);
    }
};

// The last panels (fewer than eight columns) of the one-row strip: the row is
// held across the panel's C columns, so each k step is one broadcast of A
// times the C consecutive values of packed B.
template <int C, Store W>
struct RowTile {
    __attribute__((always_inline)) static __m128 load_b(const float *b) {
        if constexpr (C == 4) return _mm_loadu_ps(b);
        if constexpr (C == 2) return _mm_castpd_ps(_mm_load_sd(reinterpret_cast<const double *>(b)));
        return _mm_load_ss(b);
    }

    __attribute__((always_inline)) static void run(int64_t k, const float *a, const float *b, float *c,
                                                   int64_t ldc) {
        __m128 acc = _mm_setzero_ps();
        for (int64_t p = 0; p < k; ++p) acc = _mm_fmadd_ps(_mm_broadcast_ss(a + p), load_b(b + p * C), acc);
        alignas(16) float row[4];
        _mm_store_ps(row, acc);
        for (int j = 0; j < C; ++j) c[j * ldc] = W == Store::Add ? c[j * ldc] + row[j] : row[j];
    }
};

// Strips of 4, 2 and 1 rows, turned sideways.  Vectorised down the rows,
// they would fill a quarter or less of each vector and spend a broadcast on
// every multiply-add; instead each 256-bit vector holds one row across
// eight columns (two 4-column panels of B side by side), the A value of the
// row is broadcast, and P such panel pairs are worked on together so that
// enough independent sums are in flight.  Every element still receives its
// products in the order of the row-wise tile: in k order, or for the
// ordinary kernel's 4- and 2-row strips, even and odd steps of each group
// of four in two sets that are added before the last k mod 4 steps.
template <int R, int P, Sum S, Store W>
struct SidewaysTile {
    static constexpr bool kTwoSets = S == Sum::Split && (R == 4 || R == 2);

    __m256 acc[R][P];  // row r across the 8 columns of pair q, or its even k steps
    __m256 odd[R][P];  // odd k steps (kTwoSets only)

    // k step p: b points at the first panel of the block; panel t is t*k
    // floats further on and holds 4 floats per k step.
    __attribute__((always_inline)) static void step(__m256 (&sum)[R][P], const float *a, const float *b, int64_t k,
                                                    int64_t p) {
        __m256 bv[P];
        for (int q = 0; q < P; ++q) {
            const float *lo = b + 2 * q * 4 * k + 4 * p;
            bv[q] = _mm256_insertf128_ps(_mm256_castps128_ps256(_mm_loadu_ps(lo)), _mm_loadu_ps(lo + 4 * k), 1);
        }
        for (int r = 0; r < R; ++r) {
            __m256 av = _mm256_broadcast_ss(a + p * R + r);
            for (int q = 0; q < P; ++q) sum[r][q] = _mm256_fmadd_ps(av, bv[q], sum[r][q]);
        }
    }

    __attribute__((always_inline)) void run(int64_t k, const float *a, const float *b, float *c, int64_t ldc) {
        for (int r = 0; r < R; ++r)
            for (int q = 0; q < P; ++q) acc[r][q] = odd[r][q] = _mm256_setzero_ps();
        int64_t p = 0;
        for (; k - p >= 4; p += 4) {
            step(acc, a, b, k, p);
            keep_steps_apart();
            step(kTwoSets ? odd : acc, a, b, k, p + 1);
            keep_steps_apart();
            step(acc, a, b, k, p + 2);
            keep_steps_apart();
            step(kTwoSets ? odd : acc, a, b, k, p + 3);
        }
        if constexpr (kTwoSets)
            for (int r = 0; r < R; ++r)
                for (int q = 0; q < P; ++q) acc[r][q] = _mm256_add_ps(acc[r][q], odd[r][q]);
        for (; p < k; ++p) step(acc, a, b, k, p);

        for (int q = 0; q < P; ++q) {
            alignas(32) float rows[R][8];
            for (int r = 0; r < R; ++r) _mm256_store_ps(rows[r], acc[r][q]);
            for (int col = 0; col < 8; ++col) {
                float *cc = c + (8 * q + col) * ldc;
                for (int r = 0; r < R; ++r) cc[r] = W == Store::Add ? cc[r] + rows[r][col] : rows[r][col];
            }
        }
    }
};

// Panel pairs worked on together by a sideways strip: enough for about
// eight independent sums.
template <int R, Sum S>
constexpr int kSidewaysPairs = 8 / (R * (S == Sum::Split && R != 1 ? 2 : 1));

// One strip of R rows across all n columns of the packed B block.
template <int R, Sum S, Store W>
void strip(int64_t n, int64_t k, const float *a, const float *b, float *c, int64_t ldc) {
    const float *a_next = a + R * k;
    int64_t j = 0;
    if constexpr (R <= 4) {
        // Blocks of P panel pairs, then of fewer pairs while eight columns remain.
        auto sideways = [&](auto pairs) {
            constexpr int P = decltype(pairs)::value;
            if constexpr (P >= 1 && P <= kSidewaysPairs<R, S>) {
                for (; n - j >= 8 * P; j += 8 * P) SidewaysTile<R, P, S, W>().run(k, a, b + j * k, c + j * ldc, ldc);
            }
        };
        sideways(std::integral_constant<int, 8>{});
        sideways(std::integral_constant<int, 4>{});
        sideways(std::integral_constant<int, 2>{});
        sideways(std::integral_constant<int, 1>{});
    }
    for (; n - j >= 4; j += 4) {
        if constexpr (R == 1) RowTile<4, W>::run(k, a, b + j * k, c + j * ldc, ldc);
        else Tile<R, 4, S, W>().run(k, a, b + j * k, c + j * ldc, ldc, a_next);
    }
    if ((n - j) & 2) {
        if constexpr (R == 1) RowTile<2, W>::run(k, a, b + j * k, c + j * ldc, ldc);
        else Tile<R, 2, S, W>().run(k, a, b + j * k, c + j * ldc, ldc, a_next);
        j += 2;
    }
    if ((n - j) & 1) {
        if constexpr (R == 1) RowTile<1, W>::run(k, a, b + j * k, c + j * ldc, ldc);
        else Tile<R, 1, S, W>().run(k, a, b + j * k, c + j * ldc, ldc, a_next);
    }
}

// The whole block: full 24-row strips, then the narrower strips that the
// binary digits of the remaining row count call for, each at most once.
// The strip starting at row i reads the A panel at float offset i*k.
template <Sum S, Store W>
void block(int64_t m, int64_t n, int64_t k, const float *a, const float *b, float *c, int64_t ldc) {
    if (m <= 0 || n <= 0) return;
    int64_t i = 0;
    for (; m - i >= 24; i += 24) strip<24, S, W>(n, k, a + i * k, b, c + i, ldc);
    int64_t rest = m - i;
    if (rest & 16) { strip<16, S, W>(n, k, a + i * k, b, c + i, ldc); i += 16; }
    if (rest & 8) { strip<8, S, W>(n, k, a + i * k, b, c + i, ldc); i += 8; }
    if (rest & 4) { strip<4, S, W>(n, k, a + i * k, b, c + i, ldc); i += 4; }
    if (rest & 2) { strip<2, S, W>(n, k, a + i * k, b, c + i, ldc); i += 2; }
    if (rest & 1) strip<1, S, W>(n, k, a + i * k, b, c + i, ldc);
}

}  // namespace

extern "C" {

void orb_blas_avx2_sgemm_kernel_0(int64_t m, int64_t n, int64_t k, const float *, const float *a, const float *b,
                                  float *c, int64_t ldc) {
    block<Sum::Split, Store::Add>(m, n, k, a, b, c, ldc);
}

void orb_blas_avx2_sgemm_kernel_0_b0(int64_t m, int64_t n, int64_t k, const float *, const float *a,
                                     const float *b, float *c, int64_t ldc) {
    block<Sum::Split, Store::Overwrite>(m, n, k, a, b, c, ldc);
}

void orb_blas_avx2_sgemm_kernel_0_cnr(int64_t m, int64_t n, int64_t k, const float *, const float *a,
                                      const float *b, float *c, int64_t ldc) {
    block<Sum::InOrder, Store::Add>(m, n, k, a, b, c, ldc);
}

void orb_blas_avx2_sgemm_kernel_0_b0_cnr(int64_t m, int64_t n, int64_t k, const float *, const float *a,
                                         const float *b, float *c, int64_t ldc) {
    block<Sum::InOrder, Store::Overwrite>(m, n, k, a, b, c, ldc);
}

// The field-8 entries (packed_set.h).
void orb_blas_avx2_sgemm_ker0(const float *alpha, const MatDesc *a, const MatDesc *b, const float *beta,
                              const MatDesc *c, void *) {
    packed_block_kernel_entry(orb_blas_avx2_sgemm_kernel_0, orb_blas_avx2_sgemm_kernel_0_b0, alpha, a, b, beta, c);
}

void orb_blas_avx2_sgemm_ker0_cnr(const float *alpha, const MatDesc *a, const MatDesc *b, const float *beta,
                                  const MatDesc *c, void *) {
    packed_block_kernel_entry(orb_blas_avx2_sgemm_kernel_0_cnr, orb_blas_avx2_sgemm_kernel_0_b0_cnr, alpha, a, b, beta,
                              c);
}

}  // extern "C"
