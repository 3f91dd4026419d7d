// mc3_packers.cpp - the panel packers of the mc3 set.
//
// A block of op(A) (r rows by kb k steps) is packed as 4-row panels from the
// top: the panel of rows i .. i+3 starts at float i*kp, where kp is kb
// rounded up to a multiple of 4, and holds for each k step p the four values
// op(A)(i .. i+3, p) times the factor at panel offset 4p.  The last r mod 4
// rows (the edge) form one narrower panel of e = r mod 4 values per k step,
// starting at float (r - e)*kp.  Steps kb .. kp-1 of every panel are zero.
//
// A block of op(B) (kb k steps by c columns) is packed as 8-column panels:
// the panel of columns j .. j+7 starts at float j*kp and holds for each k
// step the 8 values of its row, in column order.  A last panel of fewer than
// 8 columns is filled up with zero columns, so the block kernels see whole
// panels only and simply do not store the missing columns.
//
// The _ext packers read panels already packed and spread them into the
// broadcast form that the kernels multiply by: every value becomes four
// equal floats.  copya_ext spreads one A panel into the scratch of a block
// kernel (4 values per step) or of the edge-row kernel (1 to 3).  copyb_ext
// spreads a B panel (8 values per step) the same way; the descriptor table
// offers it beside the other packers, though the present kernels spread A.
//
// The sources need no alignment; the destinations are written with unaligned
// stores, so a caller may pack into any float-aligned buffer.
#include <smmintrin.h>

#include <algorithm>

#include "blas/kernels/mc3/mc3_blocking.h"
#include "blas/kernels/mc3/mc3_kernels.h"

namespace {

using mc3::kPanelCols;
using mc3::kPanelRows;

// Zero steps from .. to-1 of a panel of the given width.
void zero_steps(float *panel, int64_t width, int64_t from, int64_t to) {
    for (int64_t i = from * width; i < to * width; ++i) panel[i] = 0.0f;
}

// A panel of width values per k step copied one value at a time; values
// beyond `count` (the columns a short B panel lacks) are zero.
// value(t, p) gives op(X) of panel column (or row) t at step p.
template <typename Value>
void pack_scalar_panel(float *panel, int64_t width, int64_t count, int64_t kb, int64_t kp, float f, Value value) {
    for (int64_t p = 0; p < kb; ++p)
        for (int64_t t = 0; t < width; ++t) panel[p * width + t] = t < count ? f * value(t, p) : 0.0f;
    zero_steps(panel, width, kb, kp);
}

// Four columns x0..x3 (4 consecutive elements each) transposed into four
// vectors, one per element position.
inline void transpose4(__m128 &x0, __m128 &x1, __m128 &x2, __m128 &x3) { _MM_TRANSPOSE4_PS(x0, x1, x2, x3); }

// Spreads `steps` k steps of a packed panel (W values per step, ld floats
// apart) into 4*W floats per step: each value times f, four times.
template <int W>
void spread_panel(const float *src, int64_t ld, int64_t steps, float f, float *dst) {
    __m128 factor = _mm_set1_ps(f);
    for (int64_t p = 0; p < steps; ++p, src += ld, dst += 4 * W) {
        if constexpr (W % 4 == 0) {
            for (int q = 0; q < W / 4; ++q) {
                __m128 v = _mm_loadu_ps(src + 4 * q);
                if (f != 1.0f) v = _mm_mul_ps(v, factor);
                _mm_storeu_ps(dst + 16 * q + 0, _mm_shuffle_ps(v, v, _MM_SHUFFLE(0, 0, 0, 0)));
                _mm_storeu_ps(dst + 16 * q + 4, _mm_shuffle_ps(v, v, _MM_SHUFFLE(1, 1, 1, 1)));
                _mm_storeu_ps(dst + 16 * q + 8, _mm_shuffle_ps(v, v, _MM_SHUFFLE(2, 2, 2, 2)));
                _mm_storeu_ps(dst + 16 * q + 12, _mm_shuffle_ps(v, v, _MM_SHUFFLE(3, 3, 3, 3)));
            }
        } else {
            for (int t = 0; t < W; ++t) _mm_storeu_ps(dst + 4 * t, _mm_set1_ps(f * src[t]));
        }
    }
}

// The same for a width known only at run time.
void spread_panel_any(const float *src, int64_t ld, int64_t width, int64_t steps, float f, float *dst) {
    for (int64_t p = 0; p < steps; ++p)
        for (int64_t t = 0; t < width; ++t) _mm_storeu_ps(dst + 4 * (p * width + t), _mm_set1_ps(f * src[p * ld + t]));
}

}  // namespace

extern "C" {

// A not transposed: op(A)(i, p) = src[i + p*ld]; rows along m, cols along k.
void orb_blas_mc3_sgemm_copyan(const float *src, const int64_t *ld, const int64_t *rows, const int64_t *cols,
                               const float *factor, float *dst) {
    int64_t r = *rows, kb = *cols, lda = *ld, kp = mc3::round_up(kb, mc3::kStepGranule);
    if (r <= 0 || kb <= 0) return;
    float f = *factor;
    __m128 vf = _mm_set1_ps(f);
    int64_t full = r / kPanelRows * kPanelRows, i = 0;
    // Four panels at a time, so that each k step reads 16 consecutive floats.
    for (; i + 4 * kPanelRows <= full; i += 4 * kPanelRows) {
        float *panel = dst + i * kp;
        const float *s = src + i;
        for (int64_t p = 0; p < kb; ++p)
            for (int64_t q = 0; q < 4; ++q)
                _mm_storeu_ps(panel + q * 4 * kp + 4 * p, _mm_mul_ps(_mm_loadu_ps(s + 4 * q + p * lda), vf));
        for (int64_t q = 0; q < 4; ++q) zero_steps(panel + q * 4 * kp, kPanelRows, kb, kp);
    }
    for (; i < full; i += kPanelRows) {
        float *panel = dst + i * kp;
        const float *s = src + i;
        for (int64_t p = 0; p < kb; ++p) _mm_storeu_ps(panel + 4 * p, _mm_mul_ps(_mm_loadu_ps(s + p * lda), vf));
        zero_steps(panel, kPanelRows, kb, kp);
    }
    if (full < r)
        pack_scalar_panel(dst + full * kp, r - full, r - full, kb, kp, f,
                          [&](int64_t t, int64_t p) { return src[full + t + p * lda]; });
}

// A transposed: op(A)(i, p) = src[p + i*ld]; each panel reads four stored
// columns four steps at a time and transposes them in registers.
void orb_blas_mc3_sgemm_copyat(const float *src, const int64_t *ld, const int64_t *rows, const int64_t *cols,
                               const float *factor, float *dst) {
    int64_t r = *rows, kb = *cols, lda = *ld, kp = mc3::round_up(kb, mc3::kStepGranule);
    if (r <= 0 || kb <= 0) return;
    float f = *factor;
    __m128 vf = _mm_set1_ps(f);
    int64_t full = r / kPanelRows * kPanelRows, kb4 = kb / 4 * 4;
    for (int64_t i = 0; i < full; i += kPanelRows) {
        float *panel = dst + i * kp;
        const float *s0 = src + i * lda, *s1 = s0 + lda, *s2 = s1 + lda, *s3 = s2 + lda;
        for (int64_t p = 0; p < kb4; p += 4) {
            __m128 x0 = _mm_loadu_ps(s0 + p), x1 = _mm_loadu_ps(s1 + p);
            __m128 x2 = _mm_loadu_ps(s2 + p), x3 = _mm_loadu_ps(s3 + p);
            transpose4(x0, x1, x2, x3);
            _mm_storeu_ps(panel + 4 * p + 0, _mm_mul_ps(x0, vf));
            _mm_storeu_ps(panel + 4 * p + 4, _mm_mul_ps(x1, vf));
            _mm_storeu_ps(panel + 4 * p + 8, _mm_mul_ps(x2, vf));
            _mm_storeu_ps(panel + 4 * p + 12, _mm_mul_ps(x3, vf));
        }
        for (int64_t p = kb4; p < kb; ++p)
            _mm_storeu_ps(panel + 4 * p, _mm_mul_ps(_mm_setr_ps(s0[p], s1[p], s2[p], s3[p]), vf));
        zero_steps(panel, kPanelRows, kb, kp);
    }
    if (full < r)
        pack_scalar_panel(dst + full * kp, r - full, r - full, kb, kp, f,
                          [&](int64_t t, int64_t p) { return src[p + (full + t) * lda]; });
}

// B not transposed: op(B)(p, j) = src[p + j*ld]; rows along k, cols along n.
// A whole panel reads its eight stored columns four steps at a time and
// transposes two 4 x 4 tiles.
void orb_blas_mc3_sgemm_copybn(const float *src, const int64_t *ld, const int64_t *rows, const int64_t *cols,
                               const float *factor, float *dst) {
    int64_t kb = *rows, c = *cols, ldb = *ld, kp = mc3::round_up(kb, mc3::kStepGranule);
    if (kb <= 0 || c <= 0) return;
    float f = *factor;
    __m128 vf = _mm_set1_ps(f);
    int64_t full = c / kPanelCols * kPanelCols, kb4 = kb / 4 * 4;
    for (int64_t j = 0; j < full; j += kPanelCols) {
        float *panel = dst + j * kp;
        const float *s = src + j * ldb;
        for (int64_t p = 0; p < kb4; p += 4) {
            for (int half = 0; half < 2; ++half) {
                const float *h = s + 4 * half * ldb + p;
                __m128 x0 = _mm_loadu_ps(h), x1 = _mm_loadu_ps(h + ldb);
                __m128 x2 = _mm_loadu_ps(h + 2 * ldb), x3 = _mm_loadu_ps(h + 3 * ldb);
                transpose4(x0, x1, x2, x3);
                float *d = panel + 8 * p + 4 * half;
                _mm_storeu_ps(d + 0, _mm_mul_ps(x0, vf));
                _mm_storeu_ps(d + 8, _mm_mul_ps(x1, vf));
                _mm_storeu_ps(d + 16, _mm_mul_ps(x2, vf));
                _mm_storeu_ps(d + 24, _mm_mul_ps(x3, vf));
            }
        }
        for (int64_t p = kb4; p < kb; ++p)
            for (int64_t t = 0; t < kPanelCols; ++t) panel[8 * p + t] = f * s[p + t * ldb];
        zero_steps(panel, kPanelCols, kb, kp);
    }
    if (full < c)
        pack_scalar_panel(dst + full * kp, kPanelCols, c - full, kb, kp, f,
                          [&](int64_t t, int64_t p) { return src[p + (full + t) * ldb]; });
}

// B transposed: op(B)(p, j) = src[j + p*ld]; a k step of a panel is eight
// consecutive stored floats.
void orb_blas_mc3_sgemm_copybt(const float *src, const int64_t *ld, const int64_t *rows, const int64_t *cols,
                               const float *factor, float *dst) {
    int64_t kb = *rows, c = *cols, ldb = *ld, kp = mc3::round_up(kb, mc3::kStepGranule);
    if (kb <= 0 || c <= 0) return;
    float f = *factor;
    __m128 vf = _mm_set1_ps(f);
    int64_t full = c / kPanelCols * kPanelCols;
    for (int64_t j = 0; j < full; j += kPanelCols) {
        float *panel = dst + j * kp;
        for (int64_t p = 0; p < kb; ++p) {
            const float *s = src + j + p * ldb;
            _mm_storeu_ps(panel + 8 * p, _mm_mul_ps(_mm_loadu_ps(s), vf));
            _mm_storeu_ps(panel + 8 * p + 4, _mm_mul_ps(_mm_loadu_ps(s + 4), vf));
        }
        zero_steps(panel, kPanelCols, kb, kp);
    }
    if (full < c)
        pack_scalar_panel(dst + full * kp, kPanelCols, c - full, kb, kp, f,
                          [&](int64_t t, int64_t p) { return src[full + t + p * ldb]; });
}

// A panel of a packed A block in broadcast form: rows = 4 values per step
// for the block kernels, 1 to 3 for the edge-row kernel.
void orb_blas_mc3_sgemm_copya_ext(const float *src, const int64_t *ld, const int64_t *rows, const int64_t *cols,
                                  const float *factor, float *dst) {
    switch (*rows) {
    case 1: spread_panel<1>(src, *ld, *cols, *factor, dst); break;
    case 2: spread_panel<2>(src, *ld, *cols, *factor, dst); break;
    case 3: spread_panel<3>(src, *ld, *cols, *factor, dst); break;
    case kPanelRows: spread_panel<kPanelRows>(src, *ld, *cols, *factor, dst); break;
    default: spread_panel_any(src, *ld, *rows, *cols, *factor, dst); break;
    }
}

// One panel of a packed B block (rows = 8 values per step) in broadcast form.
void orb_blas_mc3_sgemm_copyb_ext(const float *src, const int64_t *ld, const int64_t *rows, const int64_t *cols,
                                  const float *factor, float *dst) {
    if (*rows == kPanelCols)
        spread_panel<kPanelCols>(src, *ld, *cols, *factor, dst);
    else
        spread_panel_any(src, *ld, *rows, *cols, *factor, dst);
}

}  // extern "C"
