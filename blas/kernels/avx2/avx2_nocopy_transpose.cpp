// avx2_nocopy_transpose.cpp - copying a strip of a transposed A for the
// no-copy kernels.
//
// When A is stored transposed, the 16 rows of a strip of op(A) are 16 stored
// columns, each contiguous along k.  The TN and TT kernels want the opposite:
// the 16 rows of one k step side by side.  This copy takes eight stored
// columns at a time, four k steps from each: columns u and u + 4 share a
// register, one per 128-bit lane, and the two 4 x 4 tiles so formed are
// transposed lane by lane with unpack operations alone, leaving every k step
// of the eight rows in one register that is stored whole.  (Four columns at
// a time would need two half-width stores per k step; the stores are what
// limit this copy.)  Columns beyond the strip's rows read a block of zeros
// instead, so the buffer holds zeros wherever a tile will read past the
// strip, and the last k steps (fewer than four) are copied one at a time.
#include <immintrin.h>

#include "blas/kernels/avx2/avx2_nocopy_kernel.h"

namespace orb_avx2_nocopy {

namespace {

// Stands in for stored columns beyond the strip's last row.
alignas(64) const float kZeroColumn[kNocopyMaxKBlockAN] = {};

// Lanes of the buffer covered by one group of stored columns.
constexpr int64_t kGroup = 8;

// Unpacks pairs of floats (as doubles): [x0 x1 y0 y1 | x4 x5 y4 y5] and the high twin.
inline __m256 unpack_lo_pairs(__m256 x, __m256 y) {
    return _mm256_castpd_ps(_mm256_unpacklo_pd(_mm256_castps_pd(x), _mm256_castps_pd(y)));
}
inline __m256 unpack_hi_pairs(__m256 x, __m256 y) {
    return _mm256_castpd_ps(_mm256_unpackhi_pd(_mm256_castps_pd(x), _mm256_castps_pd(y)));
}

// Copies k steps of eight stored columns into lanes [0, 8) of each k step of dst.
void transpose_group(const float *const (&column)[kGroup], int64_t k, float *dst) {
    int64_t p = 0;
    for (; p + 4 <= k; p += 4) {
        __m256 r[4];
        for (int u = 0; u < 4; ++u)
            r[u] = _mm256_insertf128_ps(_mm256_castps128_ps256(_mm_loadu_ps(column[u] + p)),
                                        _mm_loadu_ps(column[u + 4] + p), 1);
        // Pairs of columns per k step: steps p, p+1 in the low unpacks, p+2, p+3 in the high.
        const __m256 t01_lo = _mm256_unpacklo_ps(r[0], r[1]), t01_hi = _mm256_unpackhi_ps(r[0], r[1]);
        const __m256 t23_lo = _mm256_unpacklo_ps(r[2], r[3]), t23_hi = _mm256_unpackhi_ps(r[2], r[3]);
        _mm256_store_ps(dst + (p + 0) * kStripStride, unpack_lo_pairs(t01_lo, t23_lo));
        _mm256_store_ps(dst + (p + 1) * kStripStride, unpack_hi_pairs(t01_lo, t23_lo));
        _mm256_store_ps(dst + (p + 2) * kStripStride, unpack_lo_pairs(t01_hi, t23_hi));
        _mm256_store_ps(dst + (p + 3) * kStripStride, unpack_hi_pairs(t01_hi, t23_hi));
    }
    for (; p < k; ++p)
        for (int u = 0; u < kGroup; ++u) dst[p * kStripStride + u] = column[u][p];
}

}  // namespace

void pack_transposed_strip(const float *a, int64_t lda, int64_t k, int64_t rows, float *dst) {
    // A tile of up to 8 rows reads only the first 8 lanes of a k step.
    const int64_t lanes = rows > 8 ? kStripStride : 8;
    for (int64_t t = 0; t < lanes; t += kGroup) {
        const float *column[kGroup];
        for (int u = 0; u < kGroup; ++u) column[u] = t + u < rows ? a + (t + u) * lda : kZeroColumn;
        transpose_group(column, k, dst + t);
    }
}

}  // namespace orb_avx2_nocopy
