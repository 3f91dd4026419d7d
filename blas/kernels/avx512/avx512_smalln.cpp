// avx512_smalln.cpp - the narrow-B routine of the AVX-512 set: A stored
// transposed against a B of 2 to 15 columns with a long inner dimension.
//
// Both operands are then contiguous along k, and every element of C is a
// long dot product of a stored column of A (a row of op(A)) with a column
// of B.  sgemm_t_smalln walks the columns of B and C in groups of 3, led by
// one group of 2 when n mod 3 is 2 or two groups of 2 when it is 1; each
// group is computed by sgemm_t_n23 (sgemm_t_n23_b0 when beta is exactly 0),
// whose group of B columns stays in the first-level cache while the rows of
// A stream past.  So that A is read from memory once and not once per
// group, the rows of C are taken in blocks whose stored A columns fit in
// 256 KiB, and every group runs over one block before the next block.
//
// sgemm_t_n23 takes four rows of C at a time: their four stored A columns
// and the group's B columns are read 16 k steps per vector (a masked vector
// for the last k mod 16), the 4 x w products are fused into 4w sums, and
// each sum is folded to one value at the end, multiplied by alpha and
// combined with C (stored for beta 0, C not read; fused onto beta*C
// otherwise).  The last one to three rows go one at a time.
#include <immintrin.h>

#include <cstdint>

#include "blas/kernels/avx512/avx512_kernels.h"

namespace {

constexpr int64_t kBlockBytes = 256 * 1024;  // stored A columns of one row block
constexpr int64_t kRowsTogether = 4;

template <int W, int R>
__attribute__((always_inline)) inline void dot_rows(int64_t k, float alpha, const float *a, int64_t lda,
                                                    const float *b, int64_t ldb, bool beta_zero, float beta,
                                                    float *c, int64_t ldc) {
    __m512 acc[R][W];
    for (int r = 0; r < R; ++r)
        for (int j = 0; j < W; ++j) acc[r][j] = _mm512_setzero_ps();
    int64_t p = 0;
    for (; p + 16 <= k; p += 16) {
        __m512 bv[W];
        for (int j = 0; j < W; ++j) bv[j] = _mm512_loadu_ps(b + j * ldb + p);
        for (int r = 0; r < R; ++r) {
            const __m512 av = _mm512_loadu_ps(a + r * lda + p);
            for (int j = 0; j < W; ++j) acc[r][j] = _mm512_fmadd_ps(av, bv[j], acc[r][j]);
        }
    }
    if (p < k) {
        const __mmask16 rest = static_cast<__mmask16>((1u << (k - p)) - 1u);
        __m512 bv[W];
        for (int j = 0; j < W; ++j) bv[j] = _mm512_maskz_loadu_ps(rest, b + j * ldb + p);
        for (int r = 0; r < R; ++r) {
            const __m512 av = _mm512_maskz_loadu_ps(rest, a + r * lda + p);
            for (int j = 0; j < W; ++j) acc[r][j] = _mm512_fmadd_ps(av, bv[j], acc[r][j]);
        }
    }
    for (int r = 0; r < R; ++r)
        for (int j = 0; j < W; ++j) {
            float *out = c + r + j * ldc;
            const float sum = _mm512_reduce_add_ps(acc[r][j]);
            *out = beta_zero ? alpha * sum : __builtin_fmaf(alpha, sum, beta * *out);
        }
}

// Rows 0 .. m-1 of the W columns of C that begin at c.
template <int W>
void group(int64_t m, int64_t k, float alpha, const float *a, int64_t lda, const float *b, int64_t ldb,
           bool beta_zero, float beta, float *c, int64_t ldc) {
    int64_t i = 0;
    for (; m - i >= kRowsTogether; i += kRowsTogether)
        dot_rows<W, kRowsTogether>(k, alpha, a + i * lda, lda, b, ldb, beta_zero, beta, c + i, ldc);
    for (; i < m; ++i) dot_rows<W, 1>(k, alpha, a + i * lda, lda, b, ldb, beta_zero, beta, c + i, ldc);
}

void n23(bool beta_zero, const int64_t *m, const int64_t *width, const int64_t *k, const float *alpha,
         const float *a, const int64_t *lda, const float *b, const int64_t *ldb, const float *beta, float *c,
         const int64_t *ldc) {
    const float beta_value = beta_zero ? 0.0f : *beta;
    if (*width == 2) group<2>(*m, *k, *alpha, a, *lda, b, *ldb, beta_zero, beta_value, c, *ldc);
    else group<3>(*m, *k, *alpha, a, *lda, b, *ldb, beta_zero, beta_value, c, *ldc);
}

}  // namespace

extern "C" {

void orb_blas_avx512_sgemm_t_n23(const int64_t *m, const int64_t *width, const int64_t *k, const float *alpha,
                                 const float *a, const int64_t *lda, const float *b, const int64_t *ldb,
                                 const float *beta, float *c, const int64_t *ldc) {
    n23(false, m, width, k, alpha, a, lda, b, ldb, beta, c, ldc);
}

void orb_blas_avx512_sgemm_t_n23_b0(const int64_t *m, const int64_t *width, const int64_t *k, const float *alpha,
                                    const float *a, const int64_t *lda, const float *b, const int64_t *ldb,
                                    const float *beta, float *c, const int64_t *ldc) {
    n23(true, m, width, k, alpha, a, lda, b, ldb, beta, c, ldc);
}

void orb_blas_avx512_sgemm_t_smalln(const char *, const char *, const int64_t *m, const int64_t *n, const int64_t *k,
                                    const float *alpha, const float *a, const int64_t *lda, const float *b,
                                    const int64_t *ldb, const float *beta, float *c, const int64_t *ldc) {
    if (*m < 1 || *n < 1) return;
    auto group = *beta == 0.0f ? orb_blas_avx512_sgemm_t_n23_b0 : orb_blas_avx512_sgemm_t_n23;
    // The group widths: one or two groups of 2 first, so that the rest is threes.
    int64_t widths[8], groups = 0;
    for (int64_t lead = (3 - *n % 3) % 3; lead > 0; --lead) widths[groups++] = 2;
    for (int64_t done = 2 * groups; done < *n; done += 3) widths[groups++] = 3;

    const int64_t row_bytes = *k * 4;
    int64_t block_rows = row_bytes > 0 ? kBlockBytes / row_bytes : *m;
    block_rows = block_rows < kRowsTogether ? kRowsTogether : block_rows / kRowsTogether * kRowsTogether;
    for (int64_t i0 = 0; i0 < *m; i0 += block_rows) {
        const int64_t rows = *m - i0 < block_rows ? *m - i0 : block_rows;
        int64_t j0 = 0;
        for (int64_t g = 0; g < groups; j0 += widths[g++])
            group(&rows, &widths[g], k, alpha, a + i0 * *lda, lda, b + j0 * *ldb, ldb, beta, c + i0 + j0 * *ldc, ldc);
    }
}

}  // extern "C"
