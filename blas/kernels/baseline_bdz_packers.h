// baseline_bdz_packers.h - the panel packers of the baseline sets'
// Bulldozer/Zen sub-model GEMM.
//
// The sub-model's kernels read A and B strictly in order.  A block of op(A)
// (rows x depth) is packed in panels of 16 rows, then at most one panel each
// of 8, 4, 2 and 1 rows for the remaining rows; inside a panel of R rows each
// k step holds the R row values consecutively, so the panel that starts at
// row i begins i*depth floats into the packed block.  alpha is folded in
// here: 1 copies, -1 negates and any other value multiplies.  A block of
// op(B) (depth x cols) is packed the same way in panels of 4 columns, then
// 2 and 1, each k step holding the panel's column values consecutively and
// unscaled.  The loops are plain SSE2; the transposed reads go through 4 x 4
// register transposes.
#ifndef ORB_BLAS_KERNELS_BASELINE_BDZ_PACKERS_H
#define ORB_BLAS_KERNELS_BASELINE_BDZ_PACKERS_H

#include <emmintrin.h>
#include <xmmintrin.h>

#include <cstdint>
#include <initializer_list>

// How many k steps ahead a side-by-side packer fetches its source rows.
// Sources are read from memory far from the cache: a panel of 4 or 16
// values per step is too short a run for the hardware to predict the jump
// to the next step, and the next group of 4 contiguous lines is fetched one
// line ahead of its use for the same reason.
constexpr int64_t kBdzPackAhead = 8;

// How a packer treats the values it copies.
enum class BdzScale {
    Copy,     // factor 1
    Negate,   // factor -1
    Multiply  // any other factor
};

// One value or one 4-float vector, scaled as S says.
template <BdzScale S>
struct BdzScaler {
    float factor;    // the factor (Multiply only)
    __m128 factors;  // the factor in every lane (Multiply only)

    explicit BdzScaler(float f) : factor(f), factors(_mm_set1_ps(f)) {}
    float operator()(float x) const {
        if constexpr (S == BdzScale::Copy)
            return x;
        else if constexpr (S == BdzScale::Negate)
            return -x;
        else
            return x * factor;
    }
    __m128 operator()(__m128 v) const {
        if constexpr (S == BdzScale::Copy)
            return v;
        else if constexpr (S == BdzScale::Negate)
            return _mm_xor_ps(v, _mm_set1_ps(-0.0f));
        else
            return _mm_mul_ps(v, factors);
    }
};

// The panels of one packed block: `lines` lines (rows of A, columns of B)
// cut into panels of `wide` lines, then one each of wide/2, ..., 1 as the
// remainder calls for.  f(first line, panel width) is called per panel.
template <int Wide, typename F>
inline void bdz_for_each_panel(int64_t lines, F &&f) {
    int64_t first = 0;
    for (; lines - first >= Wide; first += Wide) f(first, int64_t{Wide});
    for (int64_t width = Wide / 2; width >= 1; width /= 2)
        if ((lines - first) & width) {
            f(first, width);
            first += width;
        }
}

// Lines stored contiguously along k: line l's value at step p is
// src[l*ld + p].  Writes panel rows `width` wide: dst[p*width + l].
// Groups of 4 lines and 4 steps go through a register transpose.
template <BdzScale S>
inline void bdz_pack_across(const float *src, int64_t ld, int64_t width, int64_t depth, const BdzScaler<S> &scale,
                            float *dst) {
    int64_t l = 0;
    for (; width - l >= 4; l += 4) {
        const float *s0 = src + l * ld, *s1 = s0 + ld, *s2 = s1 + ld, *s3 = s2 + ld;
        int64_t p = 0;
        for (; depth - p >= 4; p += 4) {
            if (p % 16 == 0)
                for (const float *next : {s0, s1, s2, s3})
                    _mm_prefetch(reinterpret_cast<const char *>(next + 4 * ld + p), _MM_HINT_T0);
            __m128 r0 = _mm_loadu_ps(s0 + p), r1 = _mm_loadu_ps(s1 + p);
            __m128 r2 = _mm_loadu_ps(s2 + p), r3 = _mm_loadu_ps(s3 + p);
            _MM_TRANSPOSE4_PS(r0, r1, r2, r3);
            float *d = dst + p * width + l;
            _mm_storeu_ps(d, scale(r0));
            _mm_storeu_ps(d + width, scale(r1));
            _mm_storeu_ps(d + 2 * width, scale(r2));
            _mm_storeu_ps(d + 3 * width, scale(r3));
        }
        for (; p < depth; ++p) {
            float *d = dst + p * width + l;
            d[0] = scale(s0[p]);
            d[1] = scale(s1[p]);
            d[2] = scale(s2[p]);
            d[3] = scale(s3[p]);
        }
    }
    for (; l < width; ++l)
        for (int64_t p = 0; p < depth; ++p) dst[p * width + l] = scale(src[l * ld + p]);
}

// Lines stored side by side: line l's value at step p is src[p*ld + l].
// Each k step is one contiguous run of `width` values.
template <BdzScale S>
inline void bdz_pack_along(const float *src, int64_t ld, int64_t width, int64_t depth, const BdzScaler<S> &scale,
                           float *dst) {
    for (int64_t p = 0; p < depth; ++p, src += ld, dst += width) {
        _mm_prefetch(reinterpret_cast<const char *>(src + kBdzPackAhead * ld), _MM_HINT_T0);
        int64_t l = 0;
        for (; width - l >= 4; l += 4) _mm_storeu_ps(dst + l, scale(_mm_loadu_ps(src + l)));
        for (; l < width; ++l) dst[l] = scale(src[l]);
    }
}

// Packs `lines` lines of depth `depth` in panels of Wide (16 for A, 4 for
// B).  along: the lines lie side by side in memory (column-major A not
// transposed, B transposed), otherwise each line is contiguous.
template <int Wide, BdzScale S>
inline void bdz_pack_scaled(const float *src, int64_t ld, int64_t lines, int64_t depth, float factor, bool along,
                            float *dst) {
    BdzScaler<S> scale(factor);
    bdz_for_each_panel<Wide>(lines, [&](int64_t first, int64_t width) {
        float *panel = dst + first * depth;
        if (along)
            bdz_pack_along<S>(src + first, ld, width, depth, scale, panel);
        else
            bdz_pack_across<S>(src + first * ld, ld, width, depth, scale, panel);
    });
}

// The A packers: op(A) is rows x depth, element (i, p) at src[i + p*ld]
// (along) or src[p + i*ld]; alpha folded in.
inline void bdz_pack_a(const float *src, int64_t ld, int64_t rows, int64_t depth, float alpha, bool along,
                       float *dst) {
    if (alpha == 1.0f)
        bdz_pack_scaled<16, BdzScale::Copy>(src, ld, rows, depth, alpha, along, dst);
    else if (alpha == -1.0f)
        bdz_pack_scaled<16, BdzScale::Negate>(src, ld, rows, depth, alpha, along, dst);
    else
        bdz_pack_scaled<16, BdzScale::Multiply>(src, ld, rows, depth, alpha, along, dst);
}

// The B packers: op(B) is depth x cols, element (p, j) at src[p + j*ld]
// (B not transposed, each column contiguous) or src[j + p*ld]; unscaled.
inline void bdz_pack_b(const float *src, int64_t ld, int64_t depth, int64_t cols, bool transposed, float *dst) {
    bdz_pack_scaled<4, BdzScale::Copy>(src, ld, cols, depth, 1.0f, transposed, dst);
}

#endif
