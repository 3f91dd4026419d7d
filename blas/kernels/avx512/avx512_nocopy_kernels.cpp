// avx512_nocopy_kernels.cpp - the twelve no-copy kernels of the AVX-512 set.
//
// A no-copy kernel computes C[0..m, 0..n] := alpha*op(A)*op(B) + beta*C
// straight from the caller's matrices.  It cuts the rows into strips of 32
// (the last one shorter) and each strip's columns into groups of 8 (the last
// one narrower), and computes every strip-by-group tile in registers: per k
// step the strip's 32 rows of one column of op(A) are loaded as two 512-bit
// vectors (the last one half or masked in a short strip), each of the group's eight
// values of op(B) in that k step is broadcast, and sixteen fused
// multiply-adds follow.  A narrower group, whose few sums would wait on the
// latency of the multiply-add, spreads consecutive k steps over several sets
// of sums (at least eight sums in flight), added at the end.  The operand
// layout is a template argument:
//
//   A stored transposed (TN, TT): each strip of op(A) is first copied into a
//     stack buffer, 8 x 8 blocks transposed in registers, so that every k
//     step holds the strip's 32 rows in consecutive floats (zero beyond the
//     strip); every column group then reads the buffer.
//   A stored as used (NN, NT): the strip is read from A itself, 32
//     consecutive floats per k step.  When more than two column groups will
//     read it and its k steps do not start on 64-byte boundaries (the A base
//     or lda*4 is not a multiple of 64, so every load would span two cache
//     lines), the first group also writes the strip into the aligned stack
//     buffer and the later groups read the buffer instead.
//   B stored as used (NN, TN): the group's eight columns are eight streams
//     along k; stored transposed (NT, TT): a k step's eight values are
//     adjacent.
//
// The stack buffer holds 32 rows for the largest k block the driver hands to
// a kernel (384); a longer k is run in such blocks, the beta case on the
// first and beta 1 on the rest, so the kernels accept any k.  At the end the
// sums are multiplied by alpha and combined with C by the beta case: stored
// (beta 0, C is never read), fused onto C (beta 1), or fused onto beta*C.  Row
// tails of C are read and written with masks (or as 8-float halves), so
// nothing past the last row is touched.
#include <immintrin.h>

#include <cstdint>

#include "blas/kernels/avx512/avx512_kernels.h"

namespace {

constexpr int64_t kStripRows = 32;    // rows of a strip (two vectors)
constexpr int64_t kGroupColumns = 8;  // columns of a full group
constexpr int64_t kMaxKBlock = 384;   // the driver's largest k block, in every layout
// Up to this many columns a strip serves at most two groups, too few to
// repay copying it.
constexpr int64_t kCopyAboveColumns = 16;

// How the result meets the existing C.
enum class BetaCase {
    kZero,    // C := alpha*AB, C is not read
    kOne,     // C := alpha*AB + C
    kGeneral  // C := alpha*AB + beta*C
};

// Where a tile reads the rows of op(A).
enum class Source {
    kMatrix,         // the caller's untransposed A, k steps lda apart
    kMatrixAndCopy,  // the same, also written to the strip buffer
    kBuffer          // the strip buffer, 32 aligned floats per k step
};

// Everything one tile needs besides its shape.
struct TileArgs {
    int64_t k;            // k steps
    const float *a;       // op(A) at the strip's first row and k step 0
    int64_t a_step;       // floats between k steps of `a`
    float *strip_copy;    // kMatrixAndCopy: where the strip is written
    const float *b;       // op(B) at k step 0 and the tile's first column
    int64_t ldb;          // leading dimension of the stored B
    float *c;             // C at the tile's first row and column
    int64_t ldc;          // leading dimension of C
    __mmask16 last_rows;  // lanes of the last A vector that hold rows of the strip
    float alpha;          // scales the accumulated product
    float beta;           // scales C in the general case
    BetaCase beta_case;   // how C is combined
};

// Sets of sums a tile keeps: at least eight sums in flight, at most 24 in all.
template <int Sums>
constexpr int sum_sets() {
    int sets = (8 + Sums - 1) / Sums;
    while (sets > 1 && sets * Sums > 24) --sets;
    return sets;
}

// How the last vector of a strip meets its rows: all 16 lanes, the low 8
// (moved as 256-bit halves), or a mask.  Whole vectors and halves are moved
// without masks: a masked store cannot forward its data to a later load of
// the same place, and the next call on the same C would wait for it.
enum class Tail { kFull, kHalf, kMasked };

template <Tail T>
__attribute__((always_inline)) inline __m512 load_rows(const float *p, __mmask16 rows) {
    if constexpr (T == Tail::kFull) return _mm512_loadu_ps(p);
    if constexpr (T == Tail::kHalf) return _mm512_zextps256_ps512(_mm256_loadu_ps(p));
    return _mm512_maskz_loadu_ps(rows, p);
}

template <Tail T>
__attribute__((always_inline)) inline void store_rows(float *p, __m512 v, __mmask16 rows) {
    if constexpr (T == Tail::kFull) _mm512_storeu_ps(p, v);
    else if constexpr (T == Tail::kHalf) _mm256_storeu_ps(p, _mm512_castps512_ps256(v));
    else _mm512_mask_storeu_ps(p, rows, v);
}

// One tile of Vectors*16 rows (the last vector as Last says) by Columns columns.
template <bool BTrans, Source S, int Vectors, Tail Last, int Columns>
__attribute__((noinline)) void tile(const TileArgs &t) {
    constexpr int kSets = sum_sets<Vectors * Columns>();
    __m512 acc[kSets][Vectors][Columns];
    for (int s = 0; s < kSets; ++s)
        for (int v = 0; v < Vectors; ++v)
            for (int j = 0; j < Columns; ++j) acc[s][v][j] = _mm512_setzero_ps();

    // Locals: the copy stores may alias anything as far as the compiler knows.
    const int64_t k = t.k, a_step = t.a_step, ldb = t.ldb;
    const __mmask16 last_rows = t.last_rows;
    const float *b_column[Columns];
    for (int j = 0; j < Columns; ++j) b_column[j] = t.b + j * ldb;
    const float *a = t.a;
    const float *b_step = t.b;
    float *copy = t.strip_copy;

    auto k_step = [&](int64_t p, __m512(&sum)[Vectors][Columns]) __attribute__((always_inline)) {
        __m512 av[Vectors];
        for (int v = 0; v < Vectors; ++v) {
            if (S == Source::kBuffer) av[v] = _mm512_load_ps(a + 16 * v);
            else if (v == Vectors - 1) av[v] = load_rows<Last>(a + 16 * v, last_rows);
            else av[v] = _mm512_loadu_ps(a + 16 * v);
        }
        if (S == Source::kMatrixAndCopy) {
            for (int v = 0; v < Vectors; ++v) _mm512_store_ps(copy + 16 * v, av[v]);
            copy += kStripRows;
        }
        a += a_step;
        for (int j = 0; j < Columns; ++j) {
            const __m512 bj = _mm512_set1_ps(BTrans ? b_step[j] : b_column[j][p]);
            for (int v = 0; v < Vectors; ++v) sum[v][j] = _mm512_fmadd_ps(av[v], bj, sum[v][j]);
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
            for (int j = 0; j < Columns; ++j) acc[0][v][j] = _mm512_add_ps(acc[0][v][j], acc[s][v][j]);

    const __m512 alpha = _mm512_set1_ps(t.alpha), beta = _mm512_set1_ps(t.beta);
    const BetaCase beta_case = t.beta_case;
    float *const c = t.c;
    const int64_t ldc = t.ldc;
#pragma clang loop unroll(full)
    for (int j = 0; j < Columns; ++j) {
#pragma clang loop unroll(full)
        for (int v = 0; v < Vectors; ++v) {
            const bool last = v == Vectors - 1;
            float *cv = c + j * ldc + 16 * v;
            __m512 result;
            if (beta_case == BetaCase::kZero) {
                result = _mm512_mul_ps(acc[0][v][j], alpha);
            } else {
                __m512 old = last ? load_rows<Last>(cv, last_rows) : _mm512_loadu_ps(cv);
                if (beta_case == BetaCase::kGeneral) old = _mm512_mul_ps(old, beta);
                result = _mm512_fmadd_ps(acc[0][v][j], alpha, old);
            }
            if (last) store_rows<Last>(cv, result, last_rows);
            else _mm512_storeu_ps(cv, result);
        }
    }
}

template <bool BTrans, Source S, int Vectors, Tail Last>
void tile_columns(int64_t columns, const TileArgs &t) {
    switch (columns) {
    case 8: tile<BTrans, S, Vectors, Last, 8>(t); break;
    case 7: tile<BTrans, S, Vectors, Last, 7>(t); break;
    case 6: tile<BTrans, S, Vectors, Last, 6>(t); break;
    case 5: tile<BTrans, S, Vectors, Last, 5>(t); break;
    case 4: tile<BTrans, S, Vectors, Last, 4>(t); break;
    case 3: tile<BTrans, S, Vectors, Last, 3>(t); break;
    case 2: tile<BTrans, S, Vectors, Last, 2>(t); break;
    default: tile<BTrans, S, Vectors, Last, 1>(t); break;
    }
}

template <bool BTrans, Source S, int Vectors>
void tile_tail(int64_t last_rows, int64_t columns, const TileArgs &t) {
    if (last_rows == 16) tile_columns<BTrans, S, Vectors, Tail::kFull>(columns, t);
    else if (last_rows == 8) tile_columns<BTrans, S, Vectors, Tail::kHalf>(columns, t);
    else tile_columns<BTrans, S, Vectors, Tail::kMasked>(columns, t);
}

// The tile for a strip of `rows` (1..32) rows and `columns` (1..8) columns.
template <bool BTrans, Source S>
void run_tile(int64_t rows, int64_t columns, const TileArgs &t) {
    if (rows > 16) tile_tail<BTrans, S, 2>(rows - 16, columns, t);
    else tile_tail<BTrans, S, 1>(rows, columns, t);
}

// Stands in for stored columns beyond the strip's last row.
alignas(64) const float kZeroColumn[kMaxKBlock] = {};

// Writes the strip of op(A) = transpose of the stored A that starts at `a`
// (stored column t of the strip is a + t*lda, contiguous along k) into dst:
// dst[p*32 + t] = a[p + t*lda] for t < rows, zero for the other lanes up to
// the vectors the strip's tiles read.  Eight stored columns by eight k
// steps at a time are transposed in registers.
void pack_transposed_strip(const float *a, int64_t lda, int64_t k, int64_t rows, float *dst) {
    const int64_t lanes = rows > 16 ? kStripRows : 16;
    for (int64_t t0 = 0; t0 < lanes; t0 += 8) {
        const float *column[8];
        for (int u = 0; u < 8; ++u) column[u] = t0 + u < rows ? a + (t0 + u) * lda : kZeroColumn;
        int64_t p = 0;
        for (; p + 8 <= k; p += 8) {
            __m256 r[8];
            for (int u = 0; u < 8; ++u) r[u] = _mm256_loadu_ps(column[u] + p);
            // r[u] holds steps p..p+7 of column u; turn it into step rows.
            const __m256 t0l = _mm256_unpacklo_ps(r[0], r[1]), t0h = _mm256_unpackhi_ps(r[0], r[1]);
            const __m256 t1l = _mm256_unpacklo_ps(r[2], r[3]), t1h = _mm256_unpackhi_ps(r[2], r[3]);
            const __m256 t2l = _mm256_unpacklo_ps(r[4], r[5]), t2h = _mm256_unpackhi_ps(r[4], r[5]);
            const __m256 t3l = _mm256_unpacklo_ps(r[6], r[7]), t3h = _mm256_unpackhi_ps(r[6], r[7]);
            const __m256 s0 = _mm256_shuffle_ps(t0l, t1l, 0x44), s1 = _mm256_shuffle_ps(t0l, t1l, 0xEE);
            const __m256 s2 = _mm256_shuffle_ps(t0h, t1h, 0x44), s3 = _mm256_shuffle_ps(t0h, t1h, 0xEE);
            const __m256 s4 = _mm256_shuffle_ps(t2l, t3l, 0x44), s5 = _mm256_shuffle_ps(t2l, t3l, 0xEE);
            const __m256 s6 = _mm256_shuffle_ps(t2h, t3h, 0x44), s7 = _mm256_shuffle_ps(t2h, t3h, 0xEE);
            // s0: steps 0 | 4 of columns 0-3; s4: the same of columns 4-7; and so on.
            const __m256 steps[8] = {
                _mm256_permute2f128_ps(s0, s4, 0x20), _mm256_permute2f128_ps(s1, s5, 0x20),
                _mm256_permute2f128_ps(s2, s6, 0x20), _mm256_permute2f128_ps(s3, s7, 0x20),
                _mm256_permute2f128_ps(s0, s4, 0x31), _mm256_permute2f128_ps(s1, s5, 0x31),
                _mm256_permute2f128_ps(s2, s6, 0x31), _mm256_permute2f128_ps(s3, s7, 0x31),
            };
            for (int s = 0; s < 8; ++s) _mm256_store_ps(dst + (p + s) * kStripRows + t0, steps[s]);
        }
        for (; p < k; ++p)
            for (int u = 0; u < 8; ++u) dst[p * kStripRows + t0 + u] = column[u][p];
    }
}

// One kernel call whose k fits the strip buffer.
struct ProductBlock {
    int64_t m, n, k;  // C is m x n, the inner dimension k
    float alpha;      // *alpha
    float beta;       // *beta, read only for BetaCase::kGeneral
    const float *a;   // stored A
    int64_t lda;      // its leading dimension
    const float *b;   // stored B
    int64_t ldb;      // its leading dimension
    float *c;         // C
    int64_t ldc;      // its leading dimension
};

template <bool ATrans, bool BTrans>
void multiply_strips(const ProductBlock &pb, BetaCase beta_case) {
    alignas(64) float strip[kMaxKBlock * kStripRows];

    bool copy_strips = false;
    if constexpr (!ATrans) {
        const bool aligned = reinterpret_cast<uintptr_t>(pb.a) % 64 == 0 && (pb.lda * 4) % 64 == 0;
        copy_strips = pb.n > kCopyAboveColumns && !aligned;
    }

    TileArgs t{};
    t.k = pb.k;
    t.ldb = pb.ldb;
    t.ldc = pb.ldc;
    t.alpha = pb.alpha;
    t.beta = pb.beta;
    t.beta_case = beta_case;
    for (int64_t i0 = 0; i0 < pb.m; i0 += kStripRows) {
        const int64_t rows = pb.m - i0 < kStripRows ? pb.m - i0 : kStripRows;
        const int64_t last = rows > 16 ? rows - 16 : rows;
        t.last_rows = static_cast<__mmask16>((1u << last) - 1u);
        if constexpr (ATrans) pack_transposed_strip(pb.a + i0 * pb.lda, pb.lda, pb.k, rows, strip);

        for (int64_t j0 = 0; j0 < pb.n; j0 += kGroupColumns) {
            const int64_t columns = pb.n - j0 < kGroupColumns ? pb.n - j0 : kGroupColumns;
            t.b = BTrans ? pb.b + j0 : pb.b + j0 * pb.ldb;
            t.c = pb.c + i0 + j0 * pb.ldc;
            if (ATrans || (copy_strips && j0 > 0)) {
                t.a = strip;
                t.a_step = kStripRows;
                run_tile<BTrans, Source::kBuffer>(rows, columns, t);
            } else if constexpr (!ATrans) {
                t.a = pb.a + i0;
                t.a_step = pb.lda;
                if (copy_strips) {
                    t.strip_copy = strip;
                    run_tile<BTrans, Source::kMatrixAndCopy>(rows, columns, t);
                } else {
                    run_tile<BTrans, Source::kMatrix>(rows, columns, t);
                }
            }
        }
    }
}

// The kernel of one layout and beta case: any m, n >= 1 and k >= 0.
template <bool ATrans, bool BTrans, BetaCase Beta>
void nocopy_kernel(int64_t m, int64_t n, int64_t k, const float *alpha, const float *a, int64_t lda,
                   const float *b, int64_t ldb, const float *beta, float *c, int64_t ldc) {
    if (m < 1 || n < 1) return;
    ProductBlock pb{m, n, k, *alpha, Beta == BetaCase::kGeneral ? *beta : 0.0f, a, lda, b, ldb, c, ldc};
    BetaCase beta_case = Beta;
    for (int64_t p0 = 0;; p0 += kMaxKBlock) {
        pb.k = k - p0 < kMaxKBlock ? k - p0 : kMaxKBlock;
        pb.a = ATrans ? a + p0 : a + p0 * lda;
        pb.b = BTrans ? b + p0 * ldb : b + p0;
        multiply_strips<ATrans, BTrans>(pb, beta_case);
        if (p0 + kMaxKBlock >= k) break;
        beta_case = BetaCase::kOne;
    }
}

}  // namespace

extern "C" {

#define ORB_AVX512_NOCOPY_KERNEL(name, a_trans, b_trans, beta_case)                                              \
    void orb_blas_avx512_sgemm_kernel_nocopy_##name(int64_t m, int64_t n, int64_t k, const float *alpha,          \
                                                    const float *a, int64_t lda, const float *b, int64_t ldb,     \
                                                    const float *beta, float *c, int64_t ldc) {                   \
        nocopy_kernel<a_trans, b_trans, BetaCase::beta_case>(m, n, k, alpha, a, lda, b, ldb, beta, c, ldc);      \
    }
ORB_AVX512_NOCOPY_KERNEL(NN_b0, false, false, kZero)
ORB_AVX512_NOCOPY_KERNEL(NN_b1, false, false, kOne)
ORB_AVX512_NOCOPY_KERNEL(NN_bn, false, false, kGeneral)
ORB_AVX512_NOCOPY_KERNEL(NT_b0, false, true, kZero)
ORB_AVX512_NOCOPY_KERNEL(NT_b1, false, true, kOne)
ORB_AVX512_NOCOPY_KERNEL(NT_bn, false, true, kGeneral)
ORB_AVX512_NOCOPY_KERNEL(TN_b0, true, false, kZero)
ORB_AVX512_NOCOPY_KERNEL(TN_b1, true, false, kOne)
ORB_AVX512_NOCOPY_KERNEL(TN_bn, true, false, kGeneral)
ORB_AVX512_NOCOPY_KERNEL(TT_b0, true, true, kZero)
ORB_AVX512_NOCOPY_KERNEL(TT_b1, true, true, kOne)
ORB_AVX512_NOCOPY_KERNEL(TT_bn, true, true, kGeneral)
#undef ORB_AVX512_NOCOPY_KERNEL

}  // extern "C"
