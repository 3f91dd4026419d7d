// avx2_sgemv.cpp - y := alpha*op(A)*x + beta*y on one thread, AVX2 with FMA.
//
// The entry applies the quick returns and the beta step and then hands the
// product to one of two inner kernels that need one vector contiguous:
//   _n  (no transpose) keeps y contiguous and streams columns of A in groups
//       of four (two such groups per pass for a large matrix); every y
//       element gets one fused multiply-add per column, in increasing column
//       order, with t_c = alpha*x_c rounded once;
//   _t  (transpose) keeps x contiguous and forms one 8-lane dot product per
//       column (four columns at a time, eight for a large matrix), lane k
//       summing the rows i = k (mod 8) in increasing order, reduced as
//       ((l0+l1)+(l4+l5))+((l2+l3)+(l6+l7)) and added to y_j as
//       fma(d, alpha, y_j).
// A strided y (no transpose) or x (transpose) is copied through a 512-float
// scratch area in chunks of 512 rows.  If the scratch area cannot be had,
// scalar loops take over: the no-transpose one gives the same bits as the
// buffered path; the transpose one sums eight lanes over the whole multiples
// of eight rows and then continues row by row.  The transposed kernel reads
// columns that sit an even number of floats past a 32-byte boundary in
// aligned blocks (see dot_column_group_aligned), which changes no bit; no
// result depends on the arrays' addresses, and no element outside the matrix
// or the vectors is touched.  The masked blocks that reach past x's or y's
// ends go through local copies for the whole call (edge_blocks.h).  The main
// loops ask for the columns' data 1 KiB ahead, which keeps the several column
// streams ahead of the hardware prefetcher, and near the end of a group's
// rows for the first rows of the next group's columns; prefetches never
// fault or change results.
#include <immintrin.h>

#include <algorithm>
#include <cstring>

#include "blas/kernels/avx2/avx2_kernels.h"
#include "blas/kernels/edge_blocks.h"
#include "blas/kernels/opaque_pointer.h"
#include "blas/kernels/vector_increments.h"
#include "orb_memory.h"

namespace {

// Rows per chunk of the scratch area, and its size and alignment.
constexpr int64_t kChunkRows = 512;
constexpr size_t kScratchBytes = kChunkRows * sizeof(float);
constexpr int kScratchAlignment = 128;

// Eight set lanes followed by eight clear ones: the mask with the first k
// lanes set (k = 1 .. 7) is the eight words starting at 8 - k.
alignas(64) constexpr int32_t kLaneMaskWindow[16] = {-1, -1, -1, -1, -1, -1, -1, -1, 0, 0, 0, 0, 0, 0, 0, 0};

inline __m256i lane_mask(int64_t k) {
    return _mm256_loadu_si256(reinterpret_cast<const __m256i *>(kLaneMaskWindow + 8 - k));
}

// The lanes l of the 8-row block at row i with 0 <= i + l < m.
inline __m256i rows_within(int64_t i, int64_t m) {
    const int64_t from = std::max<int64_t>(0, -i), to = std::min<int64_t>(8, m - i);
    return _mm256_andnot_si256(lane_mask(from), lane_mask(std::max(from, to)));
}

inline float fused(float a, float b, float c) {
    return _mm_cvtss_f32(_mm_fmadd_ss(_mm_set_ss(a), _mm_set_ss(b), _mm_set_ss(c)));
}

// Matrices of at least this many floats (16 MiB) take their columns eight
// per pass: without transpose two groups of four whose fused multiply-adds
// follow one another on y's registers, with transpose eight dot products side
// by side on one load of x.  Both are the operations of two groups of four in
// the same order, so the same bits.  From memory, eight column streams in
// flight measured 3-15 % faster; for a cache-resident matrix the
// no-transpose pass measured 20 % slower.
constexpr int64_t kPairedGroupsFromFloats = int64_t(4) << 20;

// How far ahead of the current row the columns are prefetched, in floats.
constexpr int64_t kPrefetchAhead = 256;

// Asks for the cache line holding the float kPrefetchAhead past p.  The loops
// stop asking near the end of their rows: past it lie rows of another column
// (or, in a team, rows another member reads).
__attribute__((always_inline)) inline void prefetch_ahead(const float *p) {
    _mm_prefetch(reinterpret_cast<const char *>(p + kPrefetchAhead), _MM_HINT_T0);
}

// ---------------------------------------------------------------------------
// No transpose: y[0 .. m) += sum over the Cols columns of t_c * a_c.

// The product as _n works on it.
struct PlainProduct {
    int64_t m;                       // rows of A and elements of y
    const float *a;                  // A, column-major
    int64_t lda;                     // its leading dimension
    float alpha;                     // scale of the product
    const float *x0;                 // element 0 of x
    int64_t incx;                    // x's increment
    float *y;                        // y, contiguous
    EdgeBlocks<8, float> *y_edges;   // y's staged tail block (grid 0)
};

template <int Cols>
__attribute__((always_inline)) inline __m256 add_columns(__m256 acc, const float *const *col, int64_t i,
                                                         const __m256 *t) {
    for (int c = 0; c < Cols; ++c) acc = _mm256_fmadd_ps(_mm256_loadu_ps(col[c] + i), t[c], acc);
    return acc;
}

// The Cols columns starting at column j, scaled by t_c = alpha*x_c, into y.
// When prefetching, the passes past prefetch_below ask instead for the first
// rows of the next group's columns (next_group floats further on, 0 when no
// group follows), so that those streams do not start cold; this matters most
// for the short columns a member of a row-split team reads.
template <int Cols>
void update_column_group(const PlainProduct &p, int64_t j, int64_t next_group) {
    const int64_t m = p.m;
    float *const y = p.y;
    const float *col[Cols];
    __m256 t[Cols];
    for (int c = 0; c < Cols; ++c) {
        col[c] = opaque(p.a + (j + c) * p.lda);
        t[c] = _mm256_set1_ps(p.alpha * p.x0[(j + c) * p.incx]);
    }
    int64_t i = 0;
    // Main part: 32 rows, four independent registers of y.
    const int64_t prefetch_below = m - kPrefetchAhead - 31;
    const bool lead_in = prefetch_below > 0 && next_group != 0;
    for (; m - i >= 32; i += 32) {
        if (i < prefetch_below) {
            for (int c = 0; c < Cols; ++c) {
                prefetch_ahead(col[c] + i);
                prefetch_ahead(col[c] + i + 16);
            }
        } else if (lead_in) {
            // Rows from max(0, i + kPrefetchAhead - m) of the next columns, all below m.
            const int64_t next_row = i + kPrefetchAhead - m > 0 ? i + kPrefetchAhead - m : 0;
            for (int c = 0; c < Cols; ++c) {
                prefetch_ahead(col[c] + next_group + next_row - kPrefetchAhead);
                prefetch_ahead(col[c] + next_group + next_row + 16 - kPrefetchAhead);
            }
        }
        __m256 y0 = _mm256_loadu_ps(y + i), y1 = _mm256_loadu_ps(y + i + 8);
        __m256 y2 = _mm256_loadu_ps(y + i + 16), y3 = _mm256_loadu_ps(y + i + 24);
        for (int c = 0; c < Cols; ++c) {
            y0 = _mm256_fmadd_ps(_mm256_loadu_ps(col[c] + i), t[c], y0);
            y1 = _mm256_fmadd_ps(_mm256_loadu_ps(col[c] + i + 8), t[c], y1);
            y2 = _mm256_fmadd_ps(_mm256_loadu_ps(col[c] + i + 16), t[c], y2);
            y3 = _mm256_fmadd_ps(_mm256_loadu_ps(col[c] + i + 24), t[c], y3);
        }
        _mm256_storeu_ps(y + i, y0);
        _mm256_storeu_ps(y + i + 8, y1);
        _mm256_storeu_ps(y + i + 16, y2);
        _mm256_storeu_ps(y + i + 24, y3);
    }
    // Blocks of eight rows, two per pass, then one.
    for (; m - i >= 16; i += 16) {
        __m256 y0 = add_columns<Cols>(_mm256_loadu_ps(y + i), col, i, t);
        __m256 y1 = add_columns<Cols>(_mm256_loadu_ps(y + i + 8), col, i + 8, t);
        _mm256_storeu_ps(y + i, y0);
        _mm256_storeu_ps(y + i + 8, y1);
    }
    if (m - i >= 8) {
        _mm256_storeu_ps(y + i, add_columns<Cols>(_mm256_loadu_ps(y + i), col, i, t));
        i += 8;
    }
    // The last m mod 8 rows through the lane mask.
    if (i < m) {
        __m256i mask = lane_mask(m - i);
        float *tail = p.y_edges->block(i);
        __m256 acc = _mm256_maskload_ps(tail, mask);
        for (int c = 0; c < Cols; ++c) acc = _mm256_fmadd_ps(_mm256_maskload_ps(col[c] + i, mask), t[c], acc);
        _mm256_maskstore_ps(tail, mask, acc);
    }
}

// ---------------------------------------------------------------------------
// Transpose: d_c = dot(a_c, x) for the Cols columns, in lane order.

// The product as _t works on it.
struct TransposedProduct {
    int64_t m;                             // rows of A and elements of x
    const float *a;                        // A, column-major
    int64_t lda;                           // its leading dimension
    int64_t shift;                         // see aligned_block_shift
    const float *x;                        // x, contiguous
    __m256 x_first;                        // x's block at row -shift, zeros outside 0 .. m
    __m256 x_last;                         // x's block holding row m-1, zeros past it
    float alpha;                           // scale of the product
    float *y0;                             // element 0 of y
    int64_t incy;                          // y's increment
};

// ((l0+l1)+(l4+l5))+((l2+l3)+(l6+l7)) of one accumulator.
inline float reduce_lanes(__m256 acc) {
    __m256 pairs = _mm256_hadd_ps(acc, acc);  // l0+l1, l2+l3, ., . | l4+l5, l6+l7, ., .
    __m128 halves = _mm_add_ps(_mm256_castps256_ps128(pairs), _mm256_extractf128_ps(pairs, 1));
    return _mm_cvtss_f32(_mm_add_ss(halves, _mm_movehdup_ps(halves)));
}

// Eight floats at p as two 128-bit loads: at the usual 16-byte offset of an
// allocation none of them crosses a cache line, while every other 256-bit
// load would.  The transposed kernel's column stream is the one that gains.
__attribute__((always_inline)) inline __m256 load_halves(const float *p) {
    return _mm256_loadu2_m128(p + 4, p);
}

// The prefetches of a 16-row step at row i of a transposed group: the
// columns' own rows kPrefetchAhead further on, or, past prefetch_below, the
// first rows of the next group's columns (next_group floats further on, 0
// when no group follows).  Each column of a matrix of 1024 rows is a page of
// its own, where the hardware prefetcher starts over; asked for in time, the
// next group's streams do not start cold.
template <int Cols>
__attribute__((always_inline)) inline void prefetch_transposed_step(const float *const *col, int64_t i, int64_t m,
                                                                     int64_t prefetch_below, int64_t next_group) {
    if (i < prefetch_below) {
        for (int c = 0; c < Cols; ++c) prefetch_ahead(col[c] + i);
    } else if (next_group != 0) {
        const int64_t next_row = std::max<int64_t>(0, i + kPrefetchAhead - m);
        for (int c = 0; c < Cols; ++c) prefetch_ahead(col[c] + next_group + next_row - kPrefetchAhead);
    }
}

// How many rows the columns lie past a 32-byte boundary, when that can be
// used for aligned blocks: all columns share it (lda a multiple of 8) and it
// is even, so that the lanes of a block that starts there are the
// description's lanes turned round by an even count; else 0.  The reduction
// adds lanes 2k and 2k+1, then the pairs four lanes apart, then the two
// halves: an even turn only swaps the operands of some of those additions
// and leaves every bit of the result as it was.
inline int64_t aligned_block_shift(const float *a, int64_t lda) {
    const uintptr_t address = reinterpret_cast<uintptr_t>(a);
    if (lda % 8 != 0 || address % sizeof(float) != 0) return 0;
    const int64_t shift = static_cast<int64_t>(address / sizeof(float) % 8);
    return shift % 2 == 0 ? shift : 0;
}

// The Cols columns starting at column j, each in a base register of its
// own (see opaque_pointer.h), and their accumulators at zero.
template <int Cols>
__attribute__((always_inline)) inline void start_column_dots(const TransposedProduct &p, int64_t j,
                                                             const float **col, __m256 *acc) {
    for (int c = 0; c < Cols; ++c) {
        col[c] = opaque(p.a + (j + c) * p.lda);
        acc[c] = _mm256_setzero_ps();
    }
}

// dot_column_group on aligned 8-row blocks: the columns start `shift` rows
// past a 32-byte boundary, so the block whose lane 0 is row i = -shift (mod
// 8) is one aligned 256-bit load of each column, its lane l holding rows of
// residue l - shift.  The first and last blocks load only their rows inside
// 0 .. m; the other lanes load zeros and leave their sums as they are.
template <int Cols>
void dot_column_group_aligned(const TransposedProduct &p, int64_t j, float *dot, int64_t next_group) {
    const int64_t m = p.m;
    const float *const x = p.x;
    const float *col[Cols];
    __m256 acc[Cols];
    start_column_dots<Cols>(p, j, col, acc);
    auto partial = [&](int64_t i) {
        const __m256i live = rows_within(i, m);
        const __m256 x0 = i < 0 ? p.x_first : i + 8 > m ? p.x_last : _mm256_loadu_ps(x + i);
        for (int c = 0; c < Cols; ++c) acc[c] = _mm256_fmadd_ps(_mm256_maskload_ps(col[c] + i, live), x0, acc[c]);
    };
    int64_t i = -p.shift;
    partial(i);
    const int64_t prefetch_below = m - kPrefetchAhead - 15;
    for (i += 8; m - i >= 16; i += 16) {
        prefetch_transposed_step<Cols>(col, i, m, prefetch_below, next_group);
        const __m256 x0 = _mm256_loadu_ps(x + i), x1 = _mm256_loadu_ps(x + i + 8);
        for (int c = 0; c < Cols; ++c) acc[c] = _mm256_fmadd_ps(_mm256_load_ps(col[c] + i), x0, acc[c]);
        for (int c = 0; c < Cols; ++c) acc[c] = _mm256_fmadd_ps(_mm256_load_ps(col[c] + i + 8), x1, acc[c]);
    }
    for (; i < m; i += 8) partial(i);
    for (int c = 0; c < Cols; ++c) dot[c] = reduce_lanes(acc[c]);
}

// The dot products of the Cols columns starting at column j with x;
// next_group as for prefetch_transposed_step.
template <int Cols>
void dot_column_group(const TransposedProduct &p, int64_t j, float *dot, int64_t next_group) {
    if (p.shift != 0) {
        dot_column_group_aligned<Cols>(p, j, dot, next_group);
        return;
    }
    const int64_t m = p.m;
    const float *const x = p.x;
    const float *col[Cols];
    __m256 acc[Cols];
    start_column_dots<Cols>(p, j, col, acc);
    int64_t i = 0;
    // Main part: 16 rows, first eight then the next eight into the same lanes.
    const int64_t prefetch_below = m - kPrefetchAhead - 15;
    for (; m - i >= 16; i += 16) {
        prefetch_transposed_step<Cols>(col, i, m, prefetch_below, next_group);
        __m256 x0 = _mm256_loadu_ps(x + i), x1 = _mm256_loadu_ps(x + i + 8);
        for (int c = 0; c < Cols; ++c) acc[c] = _mm256_fmadd_ps(load_halves(col[c] + i), x0, acc[c]);
        for (int c = 0; c < Cols; ++c) acc[c] = _mm256_fmadd_ps(load_halves(col[c] + i + 8), x1, acc[c]);
    }
    if (m - i >= 8) {
        __m256 x0 = _mm256_loadu_ps(x + i);
        for (int c = 0; c < Cols; ++c) acc[c] = _mm256_fmadd_ps(_mm256_loadu_ps(col[c] + i), x0, acc[c]);
        i += 8;
    }
    // Masked-out lanes load zeros and leave their accumulator lanes as they are.
    if (i < m) {
        __m256i mask = lane_mask(m - i);
        __m256 x0 = p.x_last;
        for (int c = 0; c < Cols; ++c) acc[c] = _mm256_fmadd_ps(_mm256_maskload_ps(col[c] + i, mask), x0, acc[c]);
    }
    for (int c = 0; c < Cols; ++c) dot[c] = reduce_lanes(acc[c]);
}

// y_j := fma(d_j, alpha, y_j) for the Cols columns starting at column j.
template <int Cols>
void add_dot_group(const TransposedProduct &p, int64_t j, int64_t next_group) {
    float d[Cols];
    dot_column_group<Cols>(p, j, d, next_group);
    for (int c = 0; c < Cols; ++c) p.y0[(j + c) * p.incy] = fused(d[c], p.alpha, p.y0[(j + c) * p.incy]);
}

// ---------------------------------------------------------------------------
// Beta step and the scalar paths used without a scratch area.

// y := beta*y over len elements; beta 0 writes zeros without reading y.
void scale_vector(int64_t len, float beta, float *y, int64_t inc) {
    if (inc == 1) {
        if (beta == 0.0f) {
            std::memset(y, 0, static_cast<size_t>(len) * sizeof(float));
            return;
        }
        __m256 b = _mm256_set1_ps(beta);
        int64_t i = 0;
        for (; len - i >= 8; i += 8) _mm256_storeu_ps(y + i, _mm256_mul_ps(_mm256_loadu_ps(y + i), b));
        for (; i < len; ++i) y[i] *= beta;
        return;
    }
    float *p = element_zero(y, len, inc);
    int64_t i = 0;
    if (beta == 0.0f) {
        for (; len - i >= 8; i += 8)
            for (int k = 0; k < 8; ++k) p[(i + k) * inc] = 0.0f;
        for (; i < len; ++i) p[i * inc] = 0.0f;
    } else {
        for (; len - i >= 8; i += 8)
            for (int k = 0; k < 8; ++k) p[(i + k) * inc] *= beta;
        for (; i < len; ++i) p[i * inc] *= beta;
    }
}

// No transpose, strided y, no scratch: column after column, y_i := fma(a_ij, t, y_i).
void fallback_no_transpose(int64_t m, int64_t n, float alpha, const float *a, int64_t lda, const float *x,
                           int64_t incx, float *y, int64_t incy) {
    for (int64_t j = 0; j < n; ++j) {
        const float t = alpha * x[j * incx];
        const float *col = a + j * lda;
        int64_t i = 0;
        for (; m - i >= 4; i += 4)
            for (int k = 0; k < 4; ++k) y[(i + k) * incy] = fused(col[i + k], t, y[(i + k) * incy]);
        for (; i < m; ++i) y[i * incy] = fused(col[i], t, y[i * incy]);
    }
}

// Transpose, strided x, no scratch: eight lane sums over the whole multiples
// of eight rows, the lane reduction, then the remaining rows one by one.
void fallback_transpose(int64_t m, int64_t n, float alpha, const float *a, int64_t lda, const float *x,
                        int64_t incx, float *y, int64_t incy) {
    const int64_t whole = m / 8 * 8;
    for (int64_t j = 0; j < n; ++j) {
        const float *col = a + j * lda;
        float lane[8] = {0, 0, 0, 0, 0, 0, 0, 0};
        for (int64_t i = 0; i < whole; i += 8)
            for (int k = 0; k < 8; ++k) lane[k] = fused(col[i + k], x[(i + k) * incx], lane[k]);
        float d = ((lane[0] + lane[1]) + (lane[4] + lane[5])) + ((lane[2] + lane[3]) + (lane[6] + lane[7]));
        for (int64_t i = whole; i < m; ++i) d = fused(col[i], x[i * incx], d);
        y[j * incy] = fused(d, alpha, y[j * incy]);
    }
}

// Strided vectors through the scratch area, 512 rows at a time.
void chunked_no_transpose(float *scratch, int64_t m, const int64_t *n, const float *alpha, const float *a,
                          const int64_t *lda, const float *x, const int64_t *incx, float *y0, int64_t incy) {
    for (int64_t r = 0; r < m; r += kChunkRows) {
        const int64_t len = m - r < kChunkRows ? m - r : kChunkRows;
        for (int64_t i = 0; i < len; ++i) scratch[i] = y0[(r + i) * incy];
        orb_blas_avx2_xsgemv_n(&len, n, alpha, a + r, lda, x, incx, scratch);
        for (int64_t i = 0; i < len; ++i) y0[(r + i) * incy] = scratch[i];
    }
}

void chunked_transpose(float *scratch, int64_t m, const int64_t *n, const float *alpha, const float *a,
                       const int64_t *lda, const float *x0, int64_t incx, float *y, const int64_t *incy) {
    for (int64_t r = 0; r < m; r += kChunkRows) {
        const int64_t len = m - r < kChunkRows ? m - r : kChunkRows;
        for (int64_t i = 0; i < len; ++i) scratch[i] = x0[(r + i) * incx];
        orb_blas_avx2_xsgemv_t(&len, n, alpha, a + r, lda, scratch, incy, y);
    }
}

}  // namespace

extern "C" {

void orb_blas_avx2_xsgemv_n(const int64_t *m, const int64_t *n, const float *alpha, const float *a,
                            const int64_t *lda, const float *x, const int64_t *incx, float *y) {
    const int64_t rows = *m, cols = *n, ld = *lda;
    if (rows <= 0 || cols <= 0) return;
    EdgeBlocks<8, float> y_edges(y, rows);  // writes the tail block back when it goes
    y_edges.use_grid(0);
    const PlainProduct p{rows, a, ld, *alpha, element_zero(x, cols, *incx), *incx, y, &y_edges};
    int64_t j = 0;
    if (rows * cols >= kPairedGroupsFromFloats)
        for (; cols - j >= 8; j += 8) update_column_group<8>(p, j, cols - j >= 16 ? 8 * ld : 0);
    for (; cols - j >= 4; j += 4) update_column_group<4>(p, j, cols - j >= 8 ? 4 * ld : 0);
    if (cols & 2) {
        update_column_group<2>(p, j, 0);
        j += 2;
    }
    if (cols & 1) update_column_group<1>(p, j, 0);
}

void orb_blas_avx2_xsgemv_t(const int64_t *m, const int64_t *n, const float *alpha, const float *a,
                            const int64_t *lda, const float *x, const int64_t *incy, float *y) {
    const int64_t rows = *m, cols = *n, ld = *lda;
    if (cols <= 0) return;
    // No rows: every dot product is 0 and no block is read.
    const int64_t shift = rows > 0 ? aligned_block_shift(a, ld) : 0;
    // x's edge blocks, read once for every group, through local copies where
    // they span two pages.
    const int64_t first_row = -shift, last_row = rows > 0 ? first_row + (rows - 1 - first_row) / 8 * 8 : 0;
    EdgeBlocks<8, const float> x_edges(x, rows);
    x_edges.use_grid(first_row);
    __m256 x_first = _mm256_setzero_ps(), x_last = _mm256_setzero_ps();
    if (rows > 0) {
        x_first = _mm256_maskload_ps(x_edges.block(first_row), rows_within(first_row, rows));
        x_last = _mm256_maskload_ps(x_edges.block(last_row), rows_within(last_row, rows));
    }
    const TransposedProduct p{rows, a, ld, shift, x, x_first, x_last, *alpha, element_zero(y, cols, *incy), *incy};
    int64_t j = 0;
    if (rows * cols >= kPairedGroupsFromFloats)
        for (; cols - j >= 8; j += 8) add_dot_group<8>(p, j, cols - j >= 16 ? 8 * ld : 0);
    for (; cols - j >= 4; j += 4) add_dot_group<4>(p, j, cols - j >= 8 ? 4 * ld : 0);
    if (cols & 2) {
        add_dot_group<2>(p, j, 0);
        j += 2;
    }
    if (cols & 1) add_dot_group<1>(p, j, 0);
}

void orb_blas_avx2_xsgemv(const char *trans, const int64_t *m, const int64_t *n, const float *alpha, const float *a,
                          const int64_t *lda, const float *x, const int64_t *incx, const float *beta, float *y,
                          const int64_t *incy, int /*flag*/) {
    const int64_t rows = *m, cols = *n;
    if (rows <= 0 || cols <= 0) return;
    const float al = *alpha, be = *beta;
    if (al == 0.0f && be == 1.0f) return;
    const bool transposed = *trans != 'N' && *trans != 'n';
    const int64_t leny = transposed ? cols : rows, lenx = transposed ? rows : cols;
    if (be != 1.0f) scale_vector(leny, be, y, *incy);
    if (al == 0.0f) return;

    if (!transposed && *incy == 1) {
        orb_blas_avx2_xsgemv_n(m, n, alpha, a, lda, x, incx, y);
        return;
    }
    if (transposed && *incx == 1) {
        orb_blas_avx2_xsgemv_t(m, n, alpha, a, lda, x, incy, y);
        return;
    }
    float *scratch = static_cast<float *>(orb_serv_allocate(kScratchBytes, kScratchAlignment));
    if (!transposed) {
        float *y0 = element_zero(y, leny, *incy);
        if (scratch) chunked_no_transpose(scratch, rows, n, alpha, a, lda, x, incx, y0, *incy);
        else fallback_no_transpose(rows, cols, al, a, *lda, element_zero(x, lenx, *incx), *incx, y0, *incy);
    } else {
        const float *x0 = element_zero(x, lenx, *incx);
        if (scratch) chunked_transpose(scratch, rows, n, alpha, a, lda, x0, *incx, y, incy);
        else fallback_transpose(rows, cols, al, a, *lda, x0, *incx, element_zero(y, leny, *incy), *incy);
    }
    orb_serv_deallocate(scratch);
}

}  // extern "C"
