// avx512_sgemv.cpp - y := alpha*op(A)*x + beta*y on one thread, AVX-512.
//
// Quick returns and the beta step are those of the AVX2 kernel: nothing to
// do for an empty matrix or for alpha 0 with beta 1; beta 0 clears y without
// reading it, any other beta other than 1 scales it; alpha 0 stops there.
//
// Rows go in blocks of 16 (one 512-bit register) with a masked tail, so
// nothing outside the arrays is touched and no result depends on alignment.
// A full block of a column is read as two 256-bit halves: at the usual
// 16-byte offset of an allocation a 64-byte load would cross a cache line
// every time, a half only every other time.
// The main loops take two blocks per pass.  When A is too large for the
// caches they also ask for the columns' data 1 KiB ahead: eight columns are
// eight concurrent streams from memory, more than the hardware prefetcher
// keeps ahead of on its own, while for a cache-resident A the extra
// instructions only cost.  Near the end of an eight-column group's rows the
// no-transpose loop asks instead for the first rows of the next group's
// columns, so that those streams do not start cold; this matters most for
// the short columns a member of a row-split team reads.  Prefetches never
// fault and change no result.
// A matrix that fits the caches and whose columns all start at the same
// place inside a 64-byte line (lda a multiple of 16) but not at its start,
// the usual case for an allocation 16 bytes past a line, is instead read in
// whole lines: a block then starts that many rows before a line boundary,
// the first block's leading lanes and the last block's trailing lanes
// masked out.  Each element still meets exactly the operations described
// below: in the no-transpose product a row's value does not depend on which
// block carries it (rows below the last full block of the description take
// the block formula, the rest the chain, wherever the line blocks fall); in
// the transposed product a line block's lane l holds a fixed row residue
// mod 16, so every residue is still summed in increasing row order; the
// lanes are only turned round, which the reduction does not notice.
// A contiguous vector's blocks that reach past its ends are read and
// written through local copies for the whole call (edge_blocks.h), so that
// no masked-out lane ever falls on a page next to the vector.  A strided
// vector is read and written in place with gathers and scatters (64-bit
// offsets); the order of operations is the same for every stride.
//
// No transpose: t_c = alpha*x_c, rounded once.  Columns go eight at a time;
// each full row block of such a group becomes
//   y := [(fma(t4,a4,fma(t6,a6,y)) + fma(t5,a5,t7*a7))
//         + (fma(t0,a0,t2*a2) + fma(t1,a1,t3*a3))],
// which splits the eight products into short independent chains, while the
// masked tail of the group is one chain of fmas in column order 0 .. 7.  The
// n mod 8 remaining columns follow as a group of four, of two and of one
// (as n has those bits), each a chain of fmas in column order.
//
// Transpose: one 16-lane accumulator per column, starting at 0; lane k
// accumulates fma(a_ik, x_i, lane) over the rows i = k (mod 16) in
// increasing order, the masked tail adding only to its live lanes.  The
// lanes l0 .. l15 are reduced by halving: u_k = l_k + l_(k+8) (k < 8),
// v_k = u_k + u_(k+4) (k < 4), then d = (v0 + v2) + (v1 + v3); finally
// y_j := fma(d, alpha, y_j).  Columns go eight at a time (four when A fits
// the caches), then one by one; every column's sum is formed the same way
// in any group.
#include <immintrin.h>

#include <algorithm>
#include <cstring>

#include "blas/kernels/avx512/avx512_kernels.h"
#include "blas/kernels/edge_blocks.h"
#include "blas/kernels/opaque_pointer.h"
#include "blas/kernels/vector_increments.h"

namespace {

// How far ahead of the current row the columns are prefetched, in floats.
constexpr int64_t kPrefetchAhead = 256;

// Matrices of at least this many bytes are read with software prefetch.
constexpr int64_t kPrefetchFromBytes = int64_t(16) << 20;

// Whether an m x n matrix is small enough to be read without prefetch.
inline bool fits_caches(int64_t m, int64_t n) { return m * n * int64_t(sizeof(float)) < kPrefetchFromBytes; }

// The rows i of an m x n product below which a pass asks for rows
// i + kPrefetchAhead onwards: none for a small matrix, and none near the
// end of the rows, past which lie another column's (or team member's) rows.
inline int64_t prefetch_limit(int64_t m, int64_t n) { return fits_caches(m, n) ? 0 : m - kPrefetchAhead - 31; }

// Asks for the two cache lines holding the 32 floats kPrefetchAhead past p.
__attribute__((always_inline)) inline void prefetch_ahead(const float *p) {
    _mm_prefetch(reinterpret_cast<const char *>(p + kPrefetchAhead), _MM_HINT_T0);
    _mm_prefetch(reinterpret_cast<const char *>(p + kPrefetchAhead + 16), _MM_HINT_T0);
}

inline float fused(float a, float b, float c) {
    return _mm_cvtss_f32(_mm_fmadd_ss(_mm_set_ss(a), _mm_set_ss(b), _mm_set_ss(c)));
}

inline __mmask16 lanes_below(int64_t k) { return static_cast<__mmask16>((1u << k) - 1u); }

// The lanes l of a block whose first lane is row i with begin <= i + l < end.
inline __mmask16 lanes_within(int64_t i, int64_t begin, int64_t end) {
    const int64_t from = std::max<int64_t>(0, begin - i), to = std::min<int64_t>(16, end - i);
    return to <= from ? 0 : static_cast<__mmask16>(lanes_below(to) & ~lanes_below(from));
}

// How many rows a column starting at p lies past a 64-byte line boundary,
// when the matrix qualifies for line blocks (see above), else 0.
inline int64_t line_shift(const float *p, int64_t m, int64_t n, int64_t lda) {
    const uintptr_t address = reinterpret_cast<uintptr_t>(p);
    if (!fits_caches(m, n) || lda % 16 != 0 || address % sizeof(float) != 0) return 0;
    return static_cast<int64_t>(address / sizeof(float) % 16);
}

// A vector of unit stride, accessed sixteen elements at a time; T is const
// float for x.  Masked blocks go through the staged edge blocks of the grid
// in use, whole blocks straight to the vector.
template <class T>
struct UnitVector {
    T *base;                    // element 0
    EdgeBlocks<16, T> *edges;   // the blocks that reach past the ends

    void use_grid(int64_t start) const { edges->use_grid(start); }
    __m512 load(int64_t i) const { return _mm512_loadu_ps(base + i); }
    __m512 load(int64_t i, __mmask16 k) const { return _mm512_maskz_loadu_ps(k, edges->block(i)); }
    void store(int64_t i, __m512 v) const { _mm512_storeu_ps(base + i, v); }
    void store(int64_t i, __m512 v, __mmask16 k) const { _mm512_mask_storeu_ps(edges->block(i), k, v); }
};

// A vector of any stride, accessed through gathers and scatters.
struct StridedVector {
    float *base;     // element 0
    int64_t inc;     // distance between elements
    __m512i low;     // offsets of elements 0 .. 7 of a block
    __m512i high;    // offsets of elements 8 .. 15 of a block

    StridedVector(float *b, int64_t stride) : base(b), inc(stride) {
        const __m512i steps = _mm512_setr_epi64(0, 1, 2, 3, 4, 5, 6, 7);
        low = _mm512_mullo_epi64(steps, _mm512_set1_epi64(stride));
        high = _mm512_add_epi64(low, _mm512_set1_epi64(8 * stride));
    }
    static __m512 join(__m256 lo, __m256 hi) { return _mm512_insertf32x8(_mm512_castps256_ps512(lo), hi, 1); }
    void use_grid(int64_t) const {}  // masked-out lanes of a gather or scatter touch no memory
    __m512 load(int64_t i) const {
        const float *p = base + i * inc;
        return join(_mm512_i64gather_ps(low, p, 4), _mm512_i64gather_ps(high, p, 4));
    }
    __m512 load(int64_t i, __mmask16 k) const {
        const float *p = base + i * inc;
        const __m256 z = _mm256_setzero_ps();
        return join(_mm512_mask_i64gather_ps(z, static_cast<__mmask8>(k), low, p, 4),
                    _mm512_mask_i64gather_ps(z, static_cast<__mmask8>(k >> 8), high, p, 4));
    }
    void store(int64_t i, __m512 v) const {
        float *p = base + i * inc;
        _mm512_i64scatter_ps(p, low, _mm512_castps512_ps256(v), 4);
        _mm512_i64scatter_ps(p, high, _mm512_extractf32x8_ps(v, 1), 4);
    }
    void store(int64_t i, __m512 v, __mmask16 k) const {
        float *p = base + i * inc;
        _mm512_mask_i64scatter_ps(p, static_cast<__mmask8>(k), low, _mm512_castps512_ps256(v), 4);
        _mm512_mask_i64scatter_ps(p, static_cast<__mmask8>(k >> 8), high, _mm512_extractf32x8_ps(v, 1), 4);
    }
};

// Sixteen floats at p as two 256-bit loads: on an address that is not a
// multiple of 64 bytes only one of the halves can cross a cache line.
__attribute__((always_inline)) inline __m512 load_halves(const float *p) {
    return _mm512_insertf32x8(_mm512_castps256_ps512(_mm256_loadu_ps(p)), _mm256_loadu_ps(p + 8), 1);
}

// ---------------------------------------------------------------------------
// No transpose.

// The block formula on one 16-row block of an eight-column group.
__attribute__((always_inline)) inline __m512 eight_block_formula(const __m512 *a, const __m512 *t, __m512 y) {
    __m512 upper = _mm512_add_ps(_mm512_fmadd_ps(t[4], a[4], _mm512_fmadd_ps(t[6], a[6], y)),
                                 _mm512_fmadd_ps(t[5], a[5], _mm512_mul_ps(t[7], a[7])));
    __m512 lower = _mm512_add_ps(_mm512_fmadd_ps(t[0], a[0], _mm512_mul_ps(t[2], a[2])),
                                 _mm512_fmadd_ps(t[1], a[1], _mm512_mul_ps(t[3], a[3])));
    return _mm512_add_ps(upper, lower);
}

// One full 16-row block of an eight-column group.
template <class Y>
__attribute__((always_inline)) inline void update_eight_block(int64_t i, const float *const *col, const __m512 *t,
                                                               const Y &y) {
    __m512 a[8];
    for (int c = 0; c < 8; ++c) a[c] = load_halves(col[c] + i);
    y.store(i, eight_block_formula(a, t, y.load(i)));
}

// The eight columns col[0..7] scaled by t[0..7] into y, all full blocks and
// the tail.  When prefetching, the passes past prefetch_below ask instead for
// the first rows of the next group's columns (next_group floats further on, 0
// when no group of eight follows).
template <class Y>
void update_eight_columns(int64_t m, const float *const *col, const __m512 *t, const Y &y, int64_t prefetch_below,
                          int64_t next_group) {
    const bool lead_in = prefetch_below > 0 && next_group != 0;
    int64_t i = 0;
    for (; m - i >= 32; i += 32) {
        if (i < prefetch_below) {
            for (int c = 0; c < 8; ++c) prefetch_ahead(col[c] + i);
        } else if (lead_in) {
            // Rows from max(0, i + kPrefetchAhead - m) of the next columns, all below m.
            const int64_t next_row = std::max<int64_t>(0, i + kPrefetchAhead - m);
            for (int c = 0; c < 8; ++c) prefetch_ahead(col[c] + next_group + next_row - kPrefetchAhead);
        }
        update_eight_block(i, col, t, y);
        update_eight_block(i + 16, col, t, y);
    }
    for (; m - i >= 16; i += 16) update_eight_block(i, col, t, y);
    if (i < m) {
        const __mmask16 k = lanes_below(m - i);
        __m512 acc = y.load(i, k);
        for (int c = 0; c < 8; ++c) acc = _mm512_fmadd_ps(t[c], _mm512_maskz_loadu_ps(k, col[c] + i), acc);
        y.store(i, acc, k);
    }
}

// update_eight_columns in line blocks: the columns start `shift` rows past a
// line boundary, so the block whose lane 0 is row i = -shift (mod 16) is one
// aligned line of each column.
template <class Y>
void update_eight_columns_in_lines(int64_t m, const float *const *col, const __m512 *t, const Y &y, int64_t shift) {
    const int64_t full_end = m / 16 * 16;  // rows below take the block formula, the rest the chain
    for (int64_t i = -shift; i < m; i += 16) {
        __m512 a[8];
        if (i >= 0 && i + 16 <= full_end) {
            for (int c = 0; c < 8; ++c) a[c] = _mm512_load_ps(col[c] + i);
            y.store(i, eight_block_formula(a, t, y.load(i)));
            continue;
        }
        const __mmask16 live = lanes_within(i, 0, m);
        for (int c = 0; c < 8; ++c) a[c] = _mm512_maskz_load_ps(live, col[c] + i);
        const __m512 yv = y.load(i, live);
        __m512 chain = yv;
        for (int c = 0; c < 8; ++c) chain = _mm512_fmadd_ps(t[c], a[c], chain);
        const __m512 v = _mm512_mask_mov_ps(eight_block_formula(a, t, yv), lanes_within(i, full_end, m), chain);
        y.store(i, v, live);
    }
}

// Cols columns as one chain of fmas per element, in column order.
template <int Cols, class Y>
void update_column_chain(int64_t m, const float *const *col, const __m512 *t, const Y &y) {
    int64_t i = 0;
    for (; m - i >= 16; i += 16) {
        __m512 acc = y.load(i);
        for (int c = 0; c < Cols; ++c) acc = _mm512_fmadd_ps(t[c], load_halves(col[c] + i), acc);
        y.store(i, acc);
    }
    if (i < m) {
        const __mmask16 k = lanes_below(m - i);
        __m512 acc = y.load(i, k);
        for (int c = 0; c < Cols; ++c) acc = _mm512_fmadd_ps(t[c], _mm512_maskz_loadu_ps(k, col[c] + i), acc);
        y.store(i, acc, k);
    }
}

// The Cols columns starting at j: their pointers and scaled x values.
template <int Cols>
struct ColumnGroup {
    const float *col[Cols];  // the columns of A
    __m512 t[Cols];          // alpha*x_c in every lane

    ColumnGroup(const float *a, int64_t lda, int64_t j, float alpha, const float *x0, int64_t incx) {
        for (int c = 0; c < Cols; ++c) {
            col[c] = a + (j + c) * lda;
            t[c] = _mm512_set1_ps(alpha * x0[(j + c) * incx]);
        }
    }
};

template <class Y>
void no_transpose(int64_t m, int64_t n, float alpha, const float *a, int64_t lda, const float *x0, int64_t incx,
                  const Y &y) {
    const int64_t prefetch_below = prefetch_limit(m, n), shift = line_shift(a, m, n, lda);
    int64_t j = 0;
    y.use_grid(-shift);
    for (; n - j >= 8; j += 8) {
        ColumnGroup<8> g(a, lda, j, alpha, x0, incx);
        if (shift != 0)
            update_eight_columns_in_lines(m, g.col, g.t, y, shift);
        else
            update_eight_columns(m, g.col, g.t, y, prefetch_below, n - j >= 16 ? 8 * lda : 0);
    }
    y.use_grid(0);
    if (n & 4) {
        ColumnGroup<4> g(a, lda, j, alpha, x0, incx);
        update_column_chain<4>(m, g.col, g.t, y);
        j += 4;
    }
    if (n & 2) {
        ColumnGroup<2> g(a, lda, j, alpha, x0, incx);
        update_column_chain<2>(m, g.col, g.t, y);
        j += 2;
    }
    if (n & 1) {
        ColumnGroup<1> g(a, lda, j, alpha, x0, incx);
        update_column_chain<1>(m, g.col, g.t, y);
    }
}

// ---------------------------------------------------------------------------
// Transpose.

// (v0 + v2) + (v1 + v3) with v_k = (l_k + l_(k+8)) + (l_(k+4) + l_(k+12)).
inline float reduce_lanes(__m512 acc) {
    __m256 u = _mm256_add_ps(_mm512_castps512_ps256(acc), _mm512_extractf32x8_ps(acc, 1));
    __m128 v = _mm_add_ps(_mm256_castps256_ps128(u), _mm256_extractf128_ps(u, 1));
    __m128 w = _mm_add_ps(v, _mm_movehl_ps(v, v));  // v0+v2, v1+v3
    return _mm_cvtss_f32(_mm_add_ss(w, _mm_movehdup_ps(w)));
}

// The Cols columns at a, each in a base register of its own (see
// opaque_pointer.h), and their accumulators at zero.
template <int Cols>
__attribute__((always_inline)) inline void start_column_dots(const float *a, int64_t lda, const float **col,
                                                             __m512 *acc) {
    for (int c = 0; c < Cols; ++c) {
        col[c] = opaque(a + c * lda);
        acc[c] = _mm512_setzero_ps();
    }
}

template <int Cols, class X>
void dot_columns(int64_t m, const float *a, int64_t lda, const X &x, float *dot, int64_t prefetch_below) {
    const float *col[Cols];
    __m512 acc[Cols];
    start_column_dots<Cols>(a, lda, col, acc);
    int64_t i = 0;
    // Two blocks per pass, the second into the same lanes after the first.
    for (; m - i >= 32; i += 32) {
        if (i < prefetch_below)
            for (int c = 0; c < Cols; ++c) prefetch_ahead(col[c] + i);
        const __m512 x0 = x.load(i), x1 = x.load(i + 16);
        for (int c = 0; c < Cols; ++c) acc[c] = _mm512_fmadd_ps(load_halves(col[c] + i), x0, acc[c]);
        for (int c = 0; c < Cols; ++c) acc[c] = _mm512_fmadd_ps(load_halves(col[c] + i + 16), x1, acc[c]);
    }
    for (; m - i >= 16; i += 16) {
        const __m512 xv = x.load(i);
        for (int c = 0; c < Cols; ++c) acc[c] = _mm512_fmadd_ps(load_halves(col[c] + i), xv, acc[c]);
    }
    if (i < m) {
        const __mmask16 k = lanes_below(m - i);
        const __m512 xv = x.load(i, k);
        for (int c = 0; c < Cols; ++c)
            acc[c] = _mm512_mask3_fmadd_ps(_mm512_maskz_loadu_ps(k, col[c] + i), xv, acc[c], k);
    }
    for (int c = 0; c < Cols; ++c) dot[c] = reduce_lanes(acc[c]);
}

// dot_columns in line blocks: the columns start `shift` rows past a line
// boundary, so the block whose lane 0 is row i = -shift (mod 16) is one
// aligned line of each column, and its lane l holds rows of residue l - shift.
template <int Cols, class X>
void dot_columns_in_lines(int64_t m, const float *a, int64_t lda, const X &x, float *dot, int64_t shift) {
    const float *col[Cols];
    __m512 acc[Cols];
    start_column_dots<Cols>(a, lda, col, acc);
    for (int64_t i = -shift; i < m; i += 16) {
        if (i >= 0 && i + 16 <= m) {
            const __m512 xv = x.load(i);
            for (int c = 0; c < Cols; ++c) acc[c] = _mm512_fmadd_ps(_mm512_load_ps(col[c] + i), xv, acc[c]);
            continue;
        }
        const __mmask16 live = lanes_within(i, 0, m);
        const __m512 xv = x.load(i, live);
        for (int c = 0; c < Cols; ++c)
            acc[c] = _mm512_mask3_fmadd_ps(_mm512_maskz_load_ps(live, col[c] + i), xv, acc[c], live);
    }
    // Residue k sits in lane k + shift (mod 16) instead of lane k.  The
    // reduction adds lanes k and k+8, then k and k+4, then k and k+2: turning
    // the lanes round only swaps the operands of some of those additions, so
    // the rotated lanes reduce to the same bits.
    for (int c = 0; c < Cols; ++c) dot[c] = reduce_lanes(acc[c]);
}

// A transposed product as its column groups see it.
struct TransposedColumns {
    int64_t m;               // rows of A and elements of x
    int64_t n;               // columns of A and elements of y
    const float *a;          // A, column-major
    int64_t lda;             // its leading dimension
    int64_t prefetch_below;  // see prefetch_limit
    int64_t shift;           // see line_shift; 0 reads blocks from row 0
    float alpha;             // scale of the product
    float *y0;               // element 0 of y
    int64_t incy;            // y's increment
};

// y_j := fma(dot(a_j, x), alpha, y_j) for the columns of the whole groups of
// Cols columns from column j on; returns the first column left over.  x is
// on the grid -p.shift.
template <int Cols, class X>
int64_t transpose_groups(const TransposedColumns &p, const X &x, int64_t j) {
    float d[Cols];
    for (; p.n - j >= Cols; j += Cols) {
        if (p.shift != 0)
            dot_columns_in_lines<Cols>(p.m, p.a + j * p.lda, p.lda, x, d, p.shift);
        else
            dot_columns<Cols>(p.m, p.a + j * p.lda, p.lda, x, d, p.prefetch_below);
        for (int c = 0; c < Cols; ++c) p.y0[(j + c) * p.incy] = fused(d[c], p.alpha, p.y0[(j + c) * p.incy]);
    }
    return j;
}

template <class X>
void transpose(int64_t m, int64_t n, float alpha, const float *a, int64_t lda, const X &x, float *y0, int64_t incy) {
    const TransposedColumns p{m, n, a, lda, prefetch_limit(m, n), line_shift(a, m, n, lda), alpha, y0, incy};
    x.use_grid(-p.shift);
    // Eight columns are eight streams from memory that share each load of x;
    // from the L3 fewer streams arrive faster (measured on a cache-resident
    // matrix: four columns 0-3 % ahead of eight on a quiet machine, 6-15 %
    // while another core streams through the L3), and four still keep
    // enough independent fmas in flight.
    const int64_t grouped = fits_caches(m, n) ? transpose_groups<4>(p, x, 0) : transpose_groups<8>(p, x, 0);
    transpose_groups<1>(p, x, grouped);
}

// y := beta*y over len elements; beta 0 writes zeros without reading y.
void scale_vector(int64_t len, float beta, float *y, int64_t inc) {
    if (inc == 1) {
        if (beta == 0.0f) {
            std::memset(y, 0, static_cast<size_t>(len) * sizeof(float));
            return;
        }
        const __m512 b = _mm512_set1_ps(beta);
        int64_t i = 0;
        for (; len - i >= 16; i += 16) _mm512_storeu_ps(y + i, _mm512_mul_ps(_mm512_loadu_ps(y + i), b));
        if (i < len) {
            const __mmask16 k = lanes_below(len - i);
            _mm512_mask_storeu_ps(y + i, k, _mm512_mul_ps(_mm512_maskz_loadu_ps(k, y + i), b));
        }
        return;
    }
    float *p = element_zero(y, len, inc);
    for (int64_t i = 0; i < len; ++i) p[i * inc] = beta == 0.0f ? 0.0f : p[i * inc] * beta;
}

}  // namespace

extern "C" void orb_blas_avx512_xsgemv(const char *trans, const int64_t *m, const int64_t *n, const float *alpha,
                                       const float *a, const int64_t *lda, const float *x, const int64_t *incx,
                                       const float *beta, float *y, const int64_t *incy, int /*flag*/) {
    const int64_t rows = *m, cols = *n, ld = *lda, ix = *incx, iy = *incy;
    if (rows <= 0 || cols <= 0) return;
    const float al = *alpha, be = *beta;
    if (al == 0.0f && be == 1.0f) return;
    const bool transposed = *trans != 'N' && *trans != 'n';
    const int64_t leny = transposed ? cols : rows, lenx = transposed ? rows : cols;
    if (be != 1.0f) scale_vector(leny, be, y, iy);
    if (al == 0.0f) return;

    float *y0 = element_zero(y, leny, iy);
    const float *x0 = element_zero(x, lenx, ix);
    if (!transposed) {
        if (iy == 1) {
            EdgeBlocks<16, float> edges(y0, rows);
            no_transpose(rows, cols, al, a, ld, x0, ix, UnitVector<float>{y0, &edges});
        } else {
            no_transpose(rows, cols, al, a, ld, x0, ix, StridedVector(y0, iy));
        }
    } else {
        if (ix == 1) {
            EdgeBlocks<16, const float> edges(x0, rows);
            transpose(rows, cols, al, a, ld, UnitVector<const float>{x0, &edges}, y0, iy);
        } else {
            float *xs = const_cast<float *>(x0);  // read only
            transpose(rows, cols, al, a, ld, StridedVector(xs, ix), y0, iy);
        }
    }
}
