// packed_packers.h - packing blocks of A and B into the panel layout the
// block kernels of the avx2 and avx512 sets read.
//
// A block of op(A) with r rows and kb k steps is cut from the top into
// panels of the set's full width (24 on AVX2, 48 on AVX-512), then at most
// one panel each of the narrower widths 32, 16, 8, 4, 2 and 1 for the
// remainder.  The panel whose first row is i starts at float i*kb and
// holds, for each k step p, its w row values at i*kb + p*w + t, times the
// packing factor (alpha).  A block of op(B) with c columns is cut the same
// way into panels of the set's B width (4 or 8), then the narrower ones,
// each k step holding the panel's column values consecutively (factor 1).
// Nothing is padded.
//
// Each packer narrows the destination descriptor to the block (k first for
// A, so that both workers see k steps and then the panel dimension) and
// calls a worker that reads the stored matrix in one of two directions:
//   down   the panel's values of one k step are contiguous in the source
//          (A not transposed, B transposed): vector copies;
//   right  they lie in different stored columns (A transposed, B not): the
//          stored columns are read eight side by side, down the block, and
//          transposed in registers eight k steps at a time.
// The factor 1 copies, -1 flips the sign bit and any other value multiplies;
// all three give exactly the product by the factor.
//
// The moves are 256-bit (packing is bound by memory, not by the width of
// the registers); each set instantiates the workers of its widths in its
// own file.  Internal linkage keeps the instantiations of different sets
// apart.
#ifndef ORB_BLAS_KERNELS_PACKED_PACKERS_H
#define ORB_BLAS_KERNELS_PACKED_PACKERS_H

#include <immintrin.h>

#include <type_traits>

#include "blas/kernels/kernel_interface.h"

namespace {

// The three ways of applying the packing factor.
enum class Factor { One, MinusOne, Other };

// Applies the factor to a vector of source values.
template <Factor F>
struct Scale {
    __m256 f8;  // the factor in every lane
    __m128 f4;  // the factor in every lane (128-bit)
    explicit Scale(float f) : f8(_mm256_set1_ps(f)), f4(_mm_set1_ps(f)) {}
    __m256 operator()(__m256 v) const {
        if constexpr (F == Factor::One) return v;
        if constexpr (F == Factor::MinusOne) return _mm256_xor_ps(v, _mm256_set1_ps(-0.0f));
        return _mm256_mul_ps(v, f8);
    }
    __m128 operator()(__m128 v) const {
        if constexpr (F == Factor::One) return v;
        if constexpr (F == Factor::MinusOne) return _mm_xor_ps(v, _mm_set1_ps(-0.0f));
        return _mm_mul_ps(v, f4);
    }
};

void prefetch_read(const float *p) { _mm_prefetch(reinterpret_cast<const char *>(p), _MM_HINT_T0); }
void prefetch_write(float *p) { __builtin_prefetch(p, 1, 3); }

// ---------------------------------------------------------------------------
// down: W contiguous source floats per k step.
// ---------------------------------------------------------------------------

// One k step of a panel of width W: src holds the W values, dst receives them.
template <int W, Factor F>
__attribute__((always_inline)) inline void copy_step(const float *src, float *dst, const Scale<F> &scale) {
    if constexpr (W >= 8) {
        for (int q = 0; q < W / 8; ++q) _mm256_storeu_ps(dst + 8 * q, scale(_mm256_loadu_ps(src + 8 * q)));
    } else if constexpr (W == 4) {
        _mm_storeu_ps(dst, scale(_mm_loadu_ps(src)));
    } else if constexpr (W == 2) {
        __m128 v = _mm_castpd_ps(_mm_load_sd(reinterpret_cast<const double *>(src)));
        _mm_store_sd(reinterpret_cast<double *>(dst), _mm_castps_pd(scale(v)));
    } else {
        _mm_store_ss(dst, scale(_mm_load_ss(src)));
    }
}

// G side-by-side panels of width W read down the stored columns: k step p
// of panel g is at src + g*W + p*ld and goes to dst + g*W*k + p*W.  Taking
// several panels together reads whole cache lines of every stored column
// at once, which matters when the columns are far apart.  The k loop runs
// eight steps at a time, then groups of 4, 2 and 1.
template <int W, int G, Factor F>
void pack_down(int64_t k, const float *src, int64_t ld, float *dst, const Scale<F> &scale) {
    constexpr int kLines = (G * W + 15) / 16;  // cache lines of one k step
    auto steps = [&](int64_t p, int count, bool prefetch) {
        for (int s = 0; s < count; ++s) {
            const float *from = src + (p + s) * ld;
            if (prefetch)
                for (int l = 0; l < kLines; ++l) prefetch_read(from + 8 * ld + 16 * l);
            for (int g = 0; g < G; ++g) copy_step<W>(from + g * W, dst + g * W * k + (p + s) * W, scale);
        }
    };
    int64_t p = 0;
    for (; k - p >= 8; p += 8) {
        for (int g = 0; g < G; ++g) prefetch_write(dst + g * W * k + p * W + 8 * W);
        steps(p, 8, true);
    }
    for (int group = 4; group >= 1; group /= 2) {
        if (k - p < group) continue;
        steps(p, group, false);
        p += group;
    }
}

// ---------------------------------------------------------------------------
// right: the panel's W values of a k step lie in W stored columns; stored
// column t of the panel is src + t*ld and runs along k.
// ---------------------------------------------------------------------------

// Transposes four rows of eight values (r[t][p]) into four vectors, each
// holding two k steps of the four rows: out[h] = steps 2h and 2h+1.
__attribute__((always_inline)) inline void transpose_4x8(const __m256 r[4], __m256 out[4]) {
    __m256 t0 = _mm256_unpacklo_ps(r[0], r[1]);  // r0p0 r1p0 r0p1 r1p1 | p4 p5
    __m256 t1 = _mm256_unpackhi_ps(r[0], r[1]);  // r0p2 r1p2 r0p3 r1p3 | p6 p7
    __m256 t2 = _mm256_unpacklo_ps(r[2], r[3]);
    __m256 t3 = _mm256_unpackhi_ps(r[2], r[3]);
    __m256 u0 = _mm256_shuffle_ps(t0, t2, 0x44);  // step 0 | step 4
    __m256 u1 = _mm256_shuffle_ps(t0, t2, 0xEE);  // step 1 | step 5
    __m256 u2 = _mm256_shuffle_ps(t1, t3, 0x44);  // step 2 | step 6
    __m256 u3 = _mm256_shuffle_ps(t1, t3, 0xEE);  // step 3 | step 7
    out[0] = _mm256_permute2f128_ps(u0, u1, 0x20);
    out[1] = _mm256_permute2f128_ps(u2, u3, 0x20);
    out[2] = _mm256_permute2f128_ps(u0, u1, 0x31);
    out[3] = _mm256_permute2f128_ps(u2, u3, 0x31);
}

// Eight k steps of T (8, 4, 2 or 1) stored columns into a panel of width W,
// rows t0 .. t0+T-1 of the panel.
template <int W, int T, Factor F>
__attribute__((always_inline)) inline void transpose_8_steps(const float *src, int64_t ld, float *dst,
                                                             const Scale<F> &scale) {
    if constexpr (T == 8) {
        __m256 lo[4], hi[4], a[4], b[4];
        for (int t = 0; t < 4; ++t) {
            lo[t] = _mm256_loadu_ps(src + t * ld);
            hi[t] = _mm256_loadu_ps(src + (t + 4) * ld);
        }
        transpose_4x8(lo, a);  // rows 0-3: a[h] = steps 2h, 2h+1
        transpose_4x8(hi, b);  // rows 4-7
        for (int h = 0; h < 4; ++h) {
            __m256 even = _mm256_permute2f128_ps(a[h], b[h], 0x20);  // step 2h, rows 0-7
            __m256 odd = _mm256_permute2f128_ps(a[h], b[h], 0x31);   // step 2h+1
            _mm256_storeu_ps(dst + (2 * h) * W, scale(even));
            _mm256_storeu_ps(dst + (2 * h + 1) * W, scale(odd));
        }
    } else if constexpr (T == 4) {
        static_assert(W == 4, "a 4-row group is a whole panel");
        __m256 r[4], out[4];
        for (int t = 0; t < 4; ++t) r[t] = _mm256_loadu_ps(src + t * ld);
        transpose_4x8(r, out);
        for (int h = 0; h < 4; ++h) _mm256_storeu_ps(dst + 8 * h, scale(out[h]));
    } else if constexpr (T == 2) {
        static_assert(W == 2, "a 2-row group is a whole panel");
        __m256 r0 = _mm256_loadu_ps(src), r1 = _mm256_loadu_ps(src + ld);
        __m256 lo = _mm256_unpacklo_ps(r0, r1);  // steps 0 1 | 4 5
        __m256 hi = _mm256_unpackhi_ps(r0, r1);  // steps 2 3 | 6 7
        _mm256_storeu_ps(dst, scale(_mm256_permute2f128_ps(lo, hi, 0x20)));
        _mm256_storeu_ps(dst + 8, scale(_mm256_permute2f128_ps(lo, hi, 0x31)));
    } else {
        static_assert(W == 1, "a 1-row group is a whole panel");
        _mm256_storeu_ps(dst, scale(_mm256_loadu_ps(src)));
    }
}

// A panel of width W read across W stored columns.  Eight stored columns
// (or 4, 2, 1) at a time, each read down the whole block in register
// transposes of eight k steps; the last k mod 8 steps value by value.
// Going down one group of columns before the next keeps eight streams open
// instead of W: for A transposed (4096 x 4096, lda 4096, k blocks of 384)
// the 48-row panels pack at 9-13 GB/s this way against 6.5 GB/s when
// every k step crossed all 48 columns, and TN 4096 x 32 x 4096 runs at 66
// GFLOP/s instead of 55 on one core; groups of 16 or 24 columns, and
// prefetching the next group, measured no better.
template <int W, Factor F>
void pack_right(int64_t k, const float *src, int64_t ld, float *dst, const Scale<F> &scale) {
    constexpr int T = W >= 8 ? 8 : W;  // stored columns transposed together
    const int64_t whole = k / 8 * 8;   // k steps taken eight at a time
    for (int t0 = 0; t0 < W; t0 += T)
        for (int64_t p = 0; p < whole; p += 8)
            transpose_8_steps<W, T>(src + t0 * ld + p, ld, dst + p * W + t0, scale);
    for (int64_t p = whole; p < k; ++p)
        for (int t = 0; t < W; ++t) copy_step<1>(src + t * ld + p, dst + p * W + t, scale);
}

// ---------------------------------------------------------------------------
// Workers: full panels of the set's width, then one panel of each narrower
// width that still fits.  Panel i (its first row or column) starts at i*k.
// ---------------------------------------------------------------------------
enum class Direction { Down, Right };

template <Direction D, int W, Factor F>
void pack_panel(int64_t k, const float *src, int64_t ld, float *dst, const Scale<F> &scale) {
    if constexpr (D == Direction::Down) pack_down<W, 1>(k, src, ld, dst, scale);
    else pack_right<W>(k, src, ld, dst, scale);
}

// Where the panel starting at index i begins in the source: down moves
// along the contiguous dimension, right across stored columns.
template <Direction D>
const float *panel_source(const float *src, int64_t ld, int64_t i) {
    return D == Direction::Down ? src + i : src + i * ld;
}

template <Direction D, int Full, Factor F>
void pack_panels(int64_t k, int64_t count, const float *src, int64_t ld, float *dst, const Scale<F> &scale) {
    int64_t i = 0;
    if constexpr (D == Direction::Down) {
        // Full panels side by side, as many as make up whole cache lines.
        constexpr int kTogether = Full == 4 ? 4 : 2;
        for (; count - i >= kTogether * Full; i += kTogether * Full)
            pack_down<Full, kTogether>(k, src + i, ld, dst + i * k, scale);
    }
    for (; count - i >= Full; i += Full) pack_panel<D, Full>(k, panel_source<D>(src, ld, i), ld, dst + i * k, scale);
    auto tail = [&](auto width) {
        constexpr int w = decltype(width)::value;
        if constexpr (w < Full) {
            if (count - i >= w) {
                pack_panel<D, w>(k, panel_source<D>(src, ld, i), ld, dst + i * k, scale);
                i += w;
            }
        }
    };
    tail(std::integral_constant<int, 32>{});
    tail(std::integral_constant<int, 16>{});
    tail(std::integral_constant<int, 8>{});
    tail(std::integral_constant<int, 4>{});
    tail(std::integral_constant<int, 2>{});
    tail(std::integral_constant<int, 1>{});
}

template <Direction D, int Full>
void worker(int64_t k, int64_t count, const float *src, int64_t ld, const float *factor, float *dst) {
    if (k <= 0 || count <= 0) return;
    float f = *factor;
    if (f == 1.0f) pack_panels<D, Full>(k, count, src, ld, dst, Scale<Factor::One>(f));
    else if (f == -1.0f) pack_panels<D, Full>(k, count, src, ld, dst, Scale<Factor::MinusOne>(f));
    else pack_panels<D, Full>(k, count, src, ld, dst, Scale<Factor::Other>(f));
}

// The packers of fields 5 and 6: narrow the destination to the block and
// run the worker.  A packers swap rows and cols so that k comes first.
using Worker = void (*)(int64_t, int64_t, const float *, int64_t, const float *, float *);

inline void pack_a(const MatDesc *src, MatDesc *dst, const float *factor, Worker work) {
    dst->rows = src->cols;
    dst->cols = src->rows;
    work(src->cols, src->rows, static_cast<const float *>(src->data), src->ld, factor, static_cast<float *>(dst->data));
}

inline void pack_b(const MatDesc *src, MatDesc *dst, const float *factor, Worker work) {
    dst->rows = src->rows;
    dst->cols = src->cols;
    work(src->rows, src->cols, static_cast<const float *>(src->data), src->ld, factor, static_cast<float *>(dst->data));
}

}  // namespace

#endif
