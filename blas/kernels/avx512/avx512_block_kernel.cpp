// avx512_block_kernel.cpp - the block kernel of the AVX-512 set: packed A
// times packed B into a block of C.
//
// This is the hot loop of every blocked product.  C is walked in strips of
// rows that match the panels of the packed A block (48 rows, then at most
// one strip each of 32, 16, 8, 4, 2 and 1 rows) and, inside a strip, in
// groups of columns that match the panels of the packed B block (8 columns,
// then 4, 2 and 1).  A 48 x 8 tile lives in 24 512-bit accumulators for the
// whole k loop: per k step three vectors of A (48 consecutive floats) are
// loaded, each of the eight B values is broadcast in turn, and 24 fused
// multiply-adds follow.  The three A vectors of consecutive k steps
// alternate between two register sets and the broadcasts between two
// registers, so a step's loads never wait on the one before; with the 24
// accumulators that is all 32 vector registers.  The k loop is unrolled by
// four and runs in two phases: the C tile is fetched 32 groups of four
// steps before the end, so that it has arrived when the tile is stored, and
// the next strip's A panel is fetched to the second-level cache while the
// tile is stored.
//
// Strips of 8, 4, 2 and 1 rows are computed sideways: one row of C across
// the sixteen columns of two B panels per vector, the A value of the row
// broadcast, so that their vectors stay full.
//
// Every element of C receives its k products in k order, one fused
// multiply-add each, from zero, and then one addition to C (the _b0 kernels
// store without reading C).  No strip keeps a second set of sums, so the
// reproducible (_cnr) kernels are these kernels: they perform the same
// operations and give the same bits.  Alpha is folded into the packed A by
// the drivers; the kernels never read it.
//
// Measured on a processor with one 512-bit multiply-add per cycle (two
// 256-bit pipes): the 48 x 8 tile on panels in the second-level cache runs
// at the multiply-add peak; software prefetch of the A panel beyond the
// hardware's sequential prefetch only cost issue slots there.
#include <immintrin.h>

#include <initializer_list>
#include <type_traits>

#include "blas/kernels/avx512/avx512_kernels.h"
#include "blas/kernels/packed_set.h"
#include "blas/kernels/packed_vector.h"

namespace {

// Groups of four k steps left when the C tile is fetched.
constexpr int64_t kGroupsAfterCPrefetch = 32;
// Distances of the software prefetches in the k loop, in floats.
constexpr int64_t kBPrefetchAhead = 64;   // 256 bytes of packed B
constexpr int64_t kAPrefetchAhead = 144;  // 576 bytes of packed A

// What happens to C at the store.
enum class Store {
    Add,       // C := C + tile
    Overwrite  // C := tile, C not read
};

// One column of a strip of R rows: kChunks vectors of exact width
// (packed_vector.h).
template <int R>
using Column = StripColumn<R>;

// ---------------------------------------------------------------------------
// One tile: R rows (a panel of packed A) by C columns (a panel of packed B).
// a points at the A panel (R floats per k step), b at the B panel (C floats
// per k step), c at the tile's first element.  a_next is the panel that the
// following strip will read; it is fetched to the second-level cache.
// ---------------------------------------------------------------------------
template <int R, int C, Store W>
struct Tile {
    using L = Column<R>;
    using V = typename L::V;
    static constexpr int kChunks = L::kChunks;
    // Only the full 48 x 8 tile is long-running enough to pay for prefetching.
    static constexpr bool kPrefetch = R == 48 && C == 8;

    V acc[C][kChunks];  // the tile

    // One k step from the A vectors av (already loaded).
    __attribute__((always_inline)) void madd(const V (&av)[kChunks], const float *b) {
        for (int j = 0; j < C; ++j) {
            const V bv = L::broadcast(b + j);
            for (int q = 0; q < kChunks; ++q) acc[j][q] = L::fma(av[q], bv, acc[j][q]);
        }
    }

    __attribute__((always_inline)) static void load_a(V (&av)[kChunks], const float *a) {
        for (int q = 0; q < kChunks; ++q) av[q] = L::load(a + q * L::kWidth);
    }

    // Four k steps; the A vectors of odd and even steps in two register sets.
    __attribute__((always_inline)) void group(const float *a, const float *b) {
        if constexpr (kPrefetch) {
            _mm_prefetch(reinterpret_cast<const char *>(b + kBPrefetchAhead), _MM_HINT_T0);
            _mm_prefetch(reinterpret_cast<const char *>(a + kAPrefetchAhead), _MM_HINT_T0);
        }
        V even[kChunks], odd[kChunks];
        load_a(even, a);
        load_a(odd, a + R);
        madd(even, b);
        load_a(even, a + 2 * R);
        madd(odd, b + C);
        load_a(odd, a + 3 * R);
        madd(even, b + 2 * C);
        madd(odd, b + 3 * C);
    }

    // Every cache line of each C column of the tile: a 48-float column
    // covers three or four lines.
    __attribute__((always_inline)) static void prefetch_c(const float *c, int64_t ldc) {
        for (int j = 0; j < C; ++j)
            for (int offset : {0, 16, 32, R - 1})
                _mm_prefetch(reinterpret_cast<const char *>(c + j * ldc + offset), _MM_HINT_T0);
    }

    __attribute__((always_inline)) void run(int64_t k, const float *a, const float *b, float *c, int64_t ldc,
                                            const float *a_next) {
        for (int j = 0; j < C; ++j)
            for (int q = 0; q < kChunks; ++q) acc[j][q] = L::zero();

        int64_t groups = k / 4;
        int64_t late = groups < kGroupsAfterCPrefetch ? groups : kGroupsAfterCPrefetch;
        for (int64_t g = groups - late; g > 0; --g, a += 4 * R, b += 4 * C) group(a, b);
        if constexpr (kPrefetch) prefetch_c(c, ldc);
        for (int64_t g = late; g > 0; --g, a += 4 * R, b += 4 * C) group(a, b);
        for (int64_t p = k % 4; p > 0; --p, a += R, b += C) {
            V av[kChunks];
            load_a(av, a);
            madd(av, b);
        }

        if constexpr (kPrefetch)
            for (int line = 0; line < 3; ++line)
                _mm_prefetch(reinterpret_cast<const char *>(a_next + 16 * line), _MM_HINT_T1);
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

// ---------------------------------------------------------------------------
// Strips of 8, 4, 2 and 1 rows, turned sideways: each 512-bit vector holds
// one row across the 16 columns of two 8-column panels of B side by side
// (or the 8 columns of a last single panel in its low half), the A value of
// the row is broadcast, and P such panel pairs are worked on together so
// that enough independent sums are in flight.  Each element still receives
// its products in k order.
// ---------------------------------------------------------------------------
template <int R, int P, bool Half, Store W>
struct SidewaysTile {
    __m512 acc[R][P];  // row r across the 16 columns of pair q

    // The B values of k step p of pair q: b points at the first panel; panel
    // t is t*k floats further on and holds 8 floats per k step.
    __attribute__((always_inline)) static __m512 load_b(const float *b, int64_t k, int64_t p, int q) {
        const float *lo = b + 2 * q * 8 * k + 8 * p;
        const __m512 low = _mm512_castps256_ps512(_mm256_loadu_ps(lo));
        if (Half && q == P - 1) return _mm512_insertf32x8(low, _mm256_setzero_ps(), 1);
        return _mm512_insertf32x8(low, _mm256_loadu_ps(lo + 8 * k), 1);
    }

    __attribute__((always_inline)) void run(int64_t k, const float *a, const float *b, float *c, int64_t ldc) {
        for (int r = 0; r < R; ++r)
            for (int q = 0; q < P; ++q) acc[r][q] = _mm512_setzero_ps();
        for (int64_t p = 0; p < k; ++p) {
            __m512 bv[P];
            for (int q = 0; q < P; ++q) bv[q] = load_b(b, k, p, q);
            for (int r = 0; r < R; ++r) {
                const __m512 av = _mm512_set1_ps(a[p * R + r]);
                for (int q = 0; q < P; ++q) acc[r][q] = _mm512_fmadd_ps(av, bv[q], acc[r][q]);
            }
        }
        for (int q = 0; q < P; ++q) {
            alignas(64) float rows[R][16];
            for (int r = 0; r < R; ++r) _mm512_store_ps(rows[r], acc[r][q]);
            const int columns = Half && q == P - 1 ? 8 : 16;
            for (int col = 0; col < columns; ++col) {
                float *cc = c + (16 * q + col) * ldc;
                for (int r = 0; r < R; ++r) cc[r] = W == Store::Add ? cc[r] + rows[r][col] : rows[r][col];
            }
        }
    }
};

// Panel pairs worked on together by a sideways strip: about eight
// independent sums, at least one pair.
template <int R>
constexpr int kSidewaysPairs = R >= 8 ? 1 : 8 / R;

// One strip of R rows across all n columns of the packed B block.
template <int R, Store W>
void strip(int64_t n, int64_t k, const float *a, const float *b, float *c, int64_t ldc) {
    const float *a_next = a + R * k;
    int64_t j = 0;
    if constexpr (R <= 8) {
        // Blocks of P panel pairs, then of fewer pairs while 16 columns
        // remain, then a last single 8-column panel.
        auto sideways = [&](auto pairs) {
            constexpr int P = decltype(pairs)::value;
            if constexpr (P >= 1 && P <= kSidewaysPairs<R>) {
                for (; n - j >= 16 * P; j += 16 * P)
                    SidewaysTile<R, P, false, W>().run(k, a, b + j * k, c + j * ldc, ldc);
            }
        };
        sideways(std::integral_constant<int, 8>{});
        sideways(std::integral_constant<int, 4>{});
        sideways(std::integral_constant<int, 2>{});
        sideways(std::integral_constant<int, 1>{});
        if (n - j >= 8) {
            SidewaysTile<R, 1, true, W>().run(k, a, b + j * k, c + j * ldc, ldc);
            j += 8;
        }
    } else {
        for (; n - j >= 8; j += 8) Tile<R, 8, W>().run(k, a, b + j * k, c + j * ldc, ldc, a_next);
    }
    if ((n - j) & 4) {
        Tile<R, 4, W>().run(k, a, b + j * k, c + j * ldc, ldc, a_next);
        j += 4;
    }
    if ((n - j) & 2) {
        Tile<R, 2, W>().run(k, a, b + j * k, c + j * ldc, ldc, a_next);
        j += 2;
    }
    if ((n - j) & 1) Tile<R, 1, W>().run(k, a, b + j * k, c + j * ldc, ldc, a_next);
}

// The whole block: full 48-row strips, then the narrower strips that the
// remaining row count calls for, each at most once.  The strip starting at
// row i reads the A panel at float offset i*k.
template <Store W>
void block(int64_t m, int64_t n, int64_t k, const float *a, const float *b, float *c, int64_t ldc) {
    if (m <= 0 || n <= 0) return;
    int64_t i = 0;
    for (; m - i >= 48; i += 48) strip<48, W>(n, k, a + i * k, b, c + i, ldc);
    int64_t rest = m - i;
    if (rest >= 32) {
        strip<32, W>(n, k, a + i * k, b, c + i, ldc);
        i += 32;
        rest -= 32;
    }
    if (rest & 16) { strip<16, W>(n, k, a + i * k, b, c + i, ldc); i += 16; }
    if (rest & 8) { strip<8, W>(n, k, a + i * k, b, c + i, ldc); i += 8; }
    if (rest & 4) { strip<4, W>(n, k, a + i * k, b, c + i, ldc); i += 4; }
    if (rest & 2) { strip<2, W>(n, k, a + i * k, b, c + i, ldc); i += 2; }
    if (rest & 1) strip<1, W>(n, k, a + i * k, b, c + i, ldc);
}

}  // namespace

extern "C" {

void orb_blas_avx512_sgemm_kernel_0(int64_t m, int64_t n, int64_t k, const float *, const float *a, const float *b,
                                    float *c, int64_t ldc) {
    block<Store::Add>(m, n, k, a, b, c, ldc);
}

void orb_blas_avx512_sgemm_kernel_0_b0(int64_t m, int64_t n, int64_t k, const float *, const float *a,
                                       const float *b, float *c, int64_t ldc) {
    block<Store::Overwrite>(m, n, k, a, b, c, ldc);
}

// The reproducible twins perform exactly the operations above.
void orb_blas_avx512_sgemm_kernel_0_cnr(int64_t m, int64_t n, int64_t k, const float *alpha, const float *a,
                                        const float *b, float *c, int64_t ldc) {
    orb_blas_avx512_sgemm_kernel_0(m, n, k, alpha, a, b, c, ldc);
}

void orb_blas_avx512_sgemm_kernel_0_b0_cnr(int64_t m, int64_t n, int64_t k, const float *alpha, const float *a,
                                           const float *b, float *c, int64_t ldc) {
    orb_blas_avx512_sgemm_kernel_0_b0(m, n, k, alpha, a, b, c, ldc);
}

// The field-8 entries (packed_set.h).
void orb_blas_avx512_sgemm_ker0(const float *alpha, const MatDesc *a, const MatDesc *b, const float *beta,
                                const MatDesc *c, void *) {
    packed_block_kernel_entry(orb_blas_avx512_sgemm_kernel_0, orb_blas_avx512_sgemm_kernel_0_b0, alpha, a, b, beta, c);
}

void orb_blas_avx512_sgemm_ker0_cnr(const float *alpha, const MatDesc *a, const MatDesc *b, const float *beta,
                                    const MatDesc *c, void *) {
    packed_block_kernel_entry(orb_blas_avx512_sgemm_kernel_0_cnr, orb_blas_avx512_sgemm_kernel_0_b0_cnr, alpha, a, b,
                              beta, c);
}

}  // extern "C"
