// baseline_packers.h - the panels the baseline block kernel reads.
//
// The baseline blocked product packs a k block of op(A) into panels of 8
// rows and the same k block of op(B) into panels of 4 columns.  With kp the
// k block rounded up to a multiple of 4:
//   A  element (8q + t, p) at float q*8*kp + p*8 + t, times alpha; only the
//      first rows/8*8 rows are packed (the rest is the edge routine's);
//   B  element (p, 4q + t) at float q*4*kp + p*4 + t, times the factor
//      (1 from the driver); only the first cols/4*4 columns are packed.
// Steps kb .. kp-1 of every panel are zeros, so the kernel always runs whole
// groups of four k steps.  A factor of 1 copies and -1 flips the sign bit;
// both give exactly what a multiplication would.
//
// Each packer reads the stored matrix in its natural direction: "down" the
// contiguous columns 4 floats at a time, or "across" 4 stored columns at
// once, 4 steps each, transposed in registers.  The destination panels are
// 16-byte aligned (the driver's buffer is 128-byte aligned and every panel
// is a multiple of 32 bytes long).
#ifndef ORB_BLAS_KERNELS_BASELINE_PACKERS_H
#define ORB_BLAS_KERNELS_BASELINE_PACKERS_H

#include <emmintrin.h>

#include <cstdint>

namespace {

constexpr int64_t kBaselinePanelRows = 8;  // rows of an A panel and of the register block
constexpr int64_t kBaselinePanelCols = 4;  // columns of a B panel and of the register block
constexpr int64_t kBaselineKGranule = 4;   // k is padded to a multiple of this

inline int64_t padded_k(int64_t kb) { return (kb + kBaselineKGranule - 1) / kBaselineKGranule * kBaselineKGranule; }

// How the packed values relate to the stored ones.
enum class PackScale {
    Copy,      // factor 1
    Negate,    // factor -1
    Multiply,  // any other factor
};

template <PackScale S>
inline __m128 pack_scaled(__m128 v, __m128 factor) {
    if (S == PackScale::Copy) return v;
    if (S == PackScale::Negate) return _mm_xor_ps(v, _mm_set1_ps(-0.0f));
    return _mm_mul_ps(v, factor);
}

// Four vectors, each 4 consecutive floats of one stored column, become four
// vectors each holding one step of the 4 columns.
inline void transpose4(__m128 &r0, __m128 &r1, __m128 &r2, __m128 &r3) { _MM_TRANSPOSE4_PS(r0, r1, r2, r3); }

// One panel of Width values per step, read down: step p's values are
// src[p*ld .. p*ld + Width-1] (A not transposed, B transposed).
template <int Width, PackScale S>
void pack_panel_down(const float *src, int64_t ld, int64_t kb, int64_t kp, __m128 factor, float *dst) {
    int64_t p = 0;
    for (; p < kb; ++p, src += ld, dst += Width)
        for (int v = 0; v < Width; v += 4) _mm_store_ps(dst + v, pack_scaled<S>(_mm_loadu_ps(src + v), factor));
    for (; p < kp; ++p, dst += Width)
        for (int v = 0; v < Width; v += 4) _mm_store_ps(dst + v, _mm_setzero_ps());
}

// One panel of Width values per step, read across: value t of step p is
// src[p + t*ld] (A transposed, B not transposed); 4 stored columns at a time.
template <int Width, PackScale S>
void pack_panel_across(const float *src, int64_t ld, int64_t kb, int64_t kp, __m128 factor, float *dst) {
    for (int v = 0; v < Width; v += 4) {
        const float *c0 = src + v * ld, *c1 = c0 + ld, *c2 = c1 + ld, *c3 = c2 + ld;
        float *out = dst + v;
        int64_t p = 0;
        for (; p + 4 <= kb; p += 4, out += 4 * Width) {
            __m128 r0 = _mm_loadu_ps(c0 + p), r1 = _mm_loadu_ps(c1 + p);
            __m128 r2 = _mm_loadu_ps(c2 + p), r3 = _mm_loadu_ps(c3 + p);
            transpose4(r0, r1, r2, r3);
            _mm_store_ps(out, pack_scaled<S>(r0, factor));
            _mm_store_ps(out + Width, pack_scaled<S>(r1, factor));
            _mm_store_ps(out + 2 * Width, pack_scaled<S>(r2, factor));
            _mm_store_ps(out + 3 * Width, pack_scaled<S>(r3, factor));
        }
        for (; p < kb; ++p, out += Width)
            _mm_store_ps(out, pack_scaled<S>(_mm_setr_ps(c0[p], c1[p], c2[p], c3[p]), factor));
        for (; p < kp; ++p, out += Width) _mm_store_ps(out, _mm_setzero_ps());
    }
}

// Stored layout of the block being packed.
enum class PackRead {
    Down,    // the panel's values of one step are contiguous
    Across,  // the steps of one panel value are contiguous
};

// The whole block: count/Width panels, each kb steps padded to kp.
//   Down:   panel q starts at src + q*Width, step p at + p*ld;
//   Across: panel q starts at src + q*Width*ld, step p at + p.
template <int Width, PackRead R, PackScale S>
void pack_panels(const float *src, int64_t ld, int64_t count, int64_t kb, float factor, float *dst) {
    const int64_t kp = padded_k(kb);
    const __m128 f = _mm_set1_ps(factor);
    for (int64_t q = 0; q + Width <= count; q += Width, dst += Width * kp) {
        if (R == PackRead::Down)
            pack_panel_down<Width, S>(src + q, ld, kb, kp, f, dst);
        else
            pack_panel_across<Width, S>(src + q * ld, ld, kb, kp, f, dst);
    }
}

template <int Width, PackRead R>
void pack_block(const float *src, int64_t ld, int64_t count, int64_t kb, float factor, float *dst) {
    if (factor == 1.0f)
        pack_panels<Width, R, PackScale::Copy>(src, ld, count, kb, factor, dst);
    else if (factor == -1.0f)
        pack_panels<Width, R, PackScale::Negate>(src, ld, count, kb, factor, dst);
    else
        pack_panels<Width, R, PackScale::Multiply>(src, ld, count, kb, factor, dst);
}

// The four packers, in the argument order of the set members:
// (source, ld, rows and cols of the op(X) block, factor, destination).
inline void pack_a_notrans(const float *a, int64_t lda, int64_t rows, int64_t kb, float alpha, float *dst) {
    pack_block<kBaselinePanelRows, PackRead::Down>(a, lda, rows, kb, alpha, dst);
}
inline void pack_a_trans(const float *a, int64_t lda, int64_t rows, int64_t kb, float alpha, float *dst) {
    pack_block<kBaselinePanelRows, PackRead::Across>(a, lda, rows, kb, alpha, dst);
}
inline void pack_b_notrans(const float *b, int64_t ldb, int64_t kb, int64_t cols, float factor, float *dst) {
    pack_block<kBaselinePanelCols, PackRead::Across>(b, ldb, cols, kb, factor, dst);
}
inline void pack_b_trans(const float *b, int64_t ldb, int64_t kb, int64_t cols, float factor, float *dst) {
    pack_block<kBaselinePanelCols, PackRead::Down>(b, ldb, cols, kb, factor, dst);
}

}  // namespace

#endif
